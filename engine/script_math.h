// script_math.h: trigonometry and vector length for scripts, in Fixed16 and turn units.
#pragma once

#include <cstdint>

namespace qm {

// Fills table[0..n-1] with sine (cosine) of one full turn in n steps, as Fixed16. Nothing for n < 1.
// -1 for a null table when n >= 1.
std::int32_t FillSinTable(std::int32_t* table, std::int32_t n);
std::int32_t FillCosTable(std::int32_t* table, std::int32_t n);
// Writes the angle of (x, y) in turn units. -1 for a null output.
std::int32_t AngleOf(std::int32_t* out, std::int32_t y, std::int32_t x);
// Writes the length of (x, y, z) as Fixed16. -1 for a null output.
std::int32_t LengthOf(std::int32_t* out, std::int32_t x, std::int32_t y, std::int32_t z);

}  // namespace qm
