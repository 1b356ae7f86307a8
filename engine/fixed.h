// fixed.h: the script's number formats: Fixed16 (16.16), turn angles (65536 per turn) and packed colours.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

namespace qm {

// Single-precision constants of the conversions, as their bit patterns fix them.
inline constexpr float kFixedToFloat = std::bit_cast<float>(0x37800000u);  // 1/65536
inline constexpr float kTurnToRadians = 9.58738e-5f;                       // 2*pi/65536
inline constexpr float kRadiansToTurn = std::bit_cast<float>(0x4622F983u);  // 10430.378

// A Fixed16 word as a float: converted exactly, then multiplied by the float 1/65536.
inline float FixedToFloat(std::int32_t word) { return static_cast<float>(word) * kFixedToFloat; }

// Truncates toward zero to a signed 32-bit integer. Values outside the range and NaN give
// 0x80000000, the "integer indefinite" that the processor's truncating conversion produces, without
// relying on an undefined C++ conversion.
inline std::int32_t TruncateToInt32(double value) {
    if (!(value > -2147483649.0 && value < 2147483648.0)) return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

// A real output as Fixed16: times 65536, truncated toward zero.
inline std::int32_t FloatToFixed(float value) { return TruncateToInt32(static_cast<double>(value * 65536.0f)); }

inline float TurnToRadians(std::int32_t units) { return static_cast<float>(units) * kTurnToRadians; }
inline std::int32_t RadiansToTurn(float radians) { return TruncateToInt32(static_cast<double>(radians * kRadiansToTurn)); }

// 32-bit ARGB from four colour words; only the low 8 bits of each count.
inline std::uint32_t PackColor(std::int32_t r, std::int32_t g, std::int32_t b, std::int32_t a) {
    return (static_cast<std::uint32_t>(a) & 0xFFu) << 24 | (static_cast<std::uint32_t>(r) & 0xFFu) << 16 |
           (static_cast<std::uint32_t>(g) & 0xFFu) << 8 | (static_cast<std::uint32_t>(b) & 0xFFu);
}

}  // namespace qm
