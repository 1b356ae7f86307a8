// script_math.cpp: sine/cosine tables, Atan and Len in double precision with truncating outputs.
#include "engine/script_math.h"

#include <bit>
#include <cmath>

#include "engine/fixed.h"

namespace qm {
namespace {

// The float nearest 2*pi (slightly above it); the table step is built from it.
constexpr float kTwoPiFloat = std::bit_cast<float>(0x40C90FDBu);

template <double (*Function)(double)>
std::int32_t FillTable(std::int32_t* table, std::int32_t n) {
    if (n < 1) return 0;
    if (table == nullptr) return -1;
    const float nf = static_cast<float>(n);
    for (std::int32_t i = 0; i < n; ++i) {
        double angle = (static_cast<double>(i) / static_cast<double>(nf)) * static_cast<double>(kTwoPiFloat);
        table[i] = TruncateToInt32(Function(angle) * 65536.0);
    }
    return 0;
}

double Sine(double x) { return std::sin(x); }
double Cosine(double x) { return std::cos(x); }

}  // namespace

std::int32_t FillSinTable(std::int32_t* table, std::int32_t n) { return FillTable<Sine>(table, n); }
std::int32_t FillCosTable(std::int32_t* table, std::int32_t n) { return FillTable<Cosine>(table, n); }

std::int32_t AngleOf(std::int32_t* out, std::int32_t y, std::int32_t x) {
    if (out == nullptr) return -1;
    double yReal = static_cast<double>(y) / 65536.0;
    double xReal = static_cast<double>(x) / 65536.0;
    double angle = std::atan2(yReal, xReal);
    *out = TruncateToInt32(angle * static_cast<double>(kRadiansToTurn));
    return 0;
}

std::int32_t LengthOf(std::int32_t* out, std::int32_t x, std::int32_t y, std::int32_t z) {
    if (out == nullptr) return -1;
    double xReal = static_cast<double>(x) / 65536.0;
    double yReal = static_cast<double>(y) / 65536.0;
    double zReal = static_cast<double>(z) / 65536.0;
    double length = std::sqrt(zReal * zReal + xReal * xReal + yReal * yReal);
    *out = TruncateToInt32(length * 65536.0);
    return 0;
}

}  // namespace qm
