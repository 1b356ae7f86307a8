// simd4.h: four-lane float vectors for the per-pixel colour arithmetic (one lane per channel):
// the compiler's vector extension where available, plain arrays when QM_FORCE_SCALAR is defined to
// 1 (or the compiler has no vector extension); both give the same results lane by lane.
#pragma once

#include <cstdint>
#include <cstring>

#if !defined(QM_FORCE_SCALAR) || QM_FORCE_SCALAR == 0
#if defined(__GNUC__) || defined(__clang__)
#define QM_SIMD4_VECTOR 1
#endif
#endif

namespace qm::d3d9 {

#ifdef QM_SIMD4_VECTOR
using Float4 = float __attribute__((vector_size(16)));
using Int4 = std::int32_t __attribute__((vector_size(16)));

inline Float4 Splat4(float v) { return Float4{v, v, v, v}; }
inline Float4 Load4(const float* p) {
    Float4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void Store4(Float4 v, float* p) { std::memcpy(p, &v, sizeof v); }
inline Float4 Min4(Float4 a, Float4 b) { return a < b ? a : b; }
inline Float4 Max4(Float4 a, Float4 b) { return a > b ? a : b; }
inline float Lane(Float4 v, int i) { return v[i]; }
// Bytes (R, G, B, A) of an ARGB word as floats in [0, 1].
inline Float4 UnpackArgb(std::uint32_t c) {
    Int4 bytes = {static_cast<std::int32_t>((c >> 16) & 0xFF), static_cast<std::int32_t>((c >> 8) & 0xFF),
                  static_cast<std::int32_t>(c & 0xFF), static_cast<std::int32_t>(c >> 24)};
    return __builtin_convertvector(bytes, Float4) * Splat4(1.0f / 255.0f);
}
// Channels in [0, 1] (R, G, B, A) rounded to bytes of an ARGB word.
inline std::uint32_t PackArgb(Float4 v) {
    Int4 b = __builtin_convertvector(v * Splat4(255.0f) + Splat4(0.5f), Int4);
    return static_cast<std::uint32_t>(b[3]) << 24 | static_cast<std::uint32_t>(b[0]) << 16 |
           static_cast<std::uint32_t>(b[1]) << 8 | static_cast<std::uint32_t>(b[2]);
}
#else
struct Float4 {
    float v[4];
    float& operator[](int i) { return v[i]; }
    float operator[](int i) const { return v[i]; }
};
#define QM_FLOAT4_OP(op)                                                  \
    inline Float4 operator op(Float4 a, Float4 b) {                       \
        return Float4{{a.v[0] op b.v[0], a.v[1] op b.v[1], a.v[2] op b.v[2], a.v[3] op b.v[3]}}; \
    }
QM_FLOAT4_OP(+)
QM_FLOAT4_OP(-)
QM_FLOAT4_OP(*)
#undef QM_FLOAT4_OP
inline Float4 Splat4(float v) { return Float4{{v, v, v, v}}; }
inline Float4 Load4(const float* p) { return Float4{{p[0], p[1], p[2], p[3]}}; }
inline void Store4(Float4 v, float* p) {
    for (int i = 0; i < 4; ++i) p[i] = v.v[i];
}
inline Float4 Min4(Float4 a, Float4 b) {
    Float4 r;
    for (int i = 0; i < 4; ++i) r.v[i] = a.v[i] < b.v[i] ? a.v[i] : b.v[i];
    return r;
}
inline Float4 Max4(Float4 a, Float4 b) {
    Float4 r;
    for (int i = 0; i < 4; ++i) r.v[i] = a.v[i] > b.v[i] ? a.v[i] : b.v[i];
    return r;
}
inline float Lane(Float4 v, int i) { return v.v[i]; }
inline Float4 UnpackArgb(std::uint32_t c) {
    return Float4{{static_cast<float>((c >> 16) & 0xFF) * (1.0f / 255.0f),
                   static_cast<float>((c >> 8) & 0xFF) * (1.0f / 255.0f), static_cast<float>(c & 0xFF) * (1.0f / 255.0f),
                   static_cast<float>(c >> 24) * (1.0f / 255.0f)}};
}
inline std::uint32_t PackArgb(Float4 v) {
    std::uint32_t b[4];
    for (int i = 0; i < 4; ++i) b[i] = static_cast<std::uint32_t>(static_cast<std::int32_t>(v.v[i] * 255.0f + 0.5f));
    return b[3] << 24 | b[0] << 16 | b[1] << 8 | b[2];
}
#endif

// Clamped to [0, 1]; a lane that is not a number becomes 0 (Max4 keeps its second operand when the
// comparison fails).
inline Float4 Saturate4(Float4 v) { return Min4(Max4(v, Splat4(0.0f)), Splat4(1.0f)); }

}  // namespace qm::d3d9
