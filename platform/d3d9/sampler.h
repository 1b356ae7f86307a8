// sampler.h: the seam between pixel processing and textures: a bound texture and its sampler
// states are prepared once per draw into a Sampler whose function fetches and filters texels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/d3d9/d3d9.h"

namespace qm::d3d9 {

struct DeviceState;

// One level of 32-bit ARGB texels that span loops read themselves, for a 2D texture whose sampling
// does not depend on the level of detail: its most detailed sampled level, one filter for
// magnification and minification, and one address mode (wrap or clamp) for u and v.
struct DirectTexels {
    const std::uint32_t* texels = nullptr;  // null when the texture cannot be read this way
    std::int32_t width = 0, height = 0;
    std::int32_t maskX = -1, maskY = -1;  // wrapping a size that is a power of two: size - 1; else -1
    std::ptrdiff_t rowStride = 0;  // texels from one row to the next
    std::uint32_t alphaOr = 0;     // ORed into every texel (formats without alpha)
    bool wrap = true;              // D3DTADDRESS_WRAP, else D3DTADDRESS_CLAMP
    bool linear = false;           // bilinear, else nearest texel
};

namespace direct {

// floor(f) for texel coordinates in 24.8 fixed point, kept within +-2^30; not-a-number gives 0.
inline std::int32_t FixedFloor(float f) {
    constexpr float kLimit = 1073741824.0f;
    if (!(f > -kLimit)) return f != f ? 0 : -1073741824;
    if (f >= kLimit) return 1073741824;
    auto i = static_cast<std::int32_t>(f);
    return static_cast<float>(i) > f ? i - 1 : i;
}

inline std::int32_t Address(const DirectTexels& t, std::int32_t i, std::int32_t n, std::int32_t mask) {
    if (mask >= 0) return i & mask;
    if (!t.wrap) return i < 0 ? 0 : (i >= n ? n - 1 : i);
    std::int32_t m = i % n;
    return m < 0 ? m + n : m;
}

// The channels of an ARGB word spread into the four 16-bit fields of a 64-bit word (blue, red,
// green, alpha from the bottom), and back.
inline std::uint64_t Spread(std::uint32_t c) {
    return (c & 0x00FF00FFu) | (static_cast<std::uint64_t>(c & 0xFF00FF00u) << 24);
}
inline std::uint32_t Gather(std::uint64_t s) {
    return static_cast<std::uint32_t>((s & 0x00FF00FFu) | ((s >> 24) & 0xFF00FF00u));
}
// a + (b - a) f / 256 in every field, rounded to nearest (fields of a and b at most 255).
inline std::uint64_t Lerp(std::uint64_t a, std::uint64_t b, std::uint32_t f) {
    constexpr std::uint64_t kHalf = 0x0080008000800080ull, kFields = 0x00FF00FF00FF00FFull;
    return ((a * (256 - f) + b * f + kHalf) >> 8) & kFields;
}

}  // namespace direct

// The texel at texel column x, row y (before addressing) with the fractions fx, fy (0-255, in 1/256
// of a texel) towards the next column and row: the texel itself (nearest) or the bilinear blend of
// the four, each channel rounded to 8 bits.
[[gnu::always_inline]] inline std::uint32_t SampleDirectAt(const DirectTexels& t, std::int32_t x, std::uint32_t fx, std::int32_t y,
                                    std::uint32_t fy) {
    std::int32_t x0 = direct::Address(t, x, t.width, t.maskX), y0 = direct::Address(t, y, t.height, t.maskY);
    const std::uint32_t* row0 = t.texels + y0 * t.rowStride;
    if (!t.linear) return row0[x0] | t.alphaOr;
    std::int32_t x1 = direct::Address(t, x + 1, t.width, t.maskX), y1 = direct::Address(t, y + 1, t.height, t.maskY);
    const std::uint32_t* row1 = t.texels + y1 * t.rowStride;
    std::uint64_t left = direct::Lerp(direct::Spread(row0[x0]), direct::Spread(row1[x0]), fy);
    std::uint64_t right = direct::Lerp(direct::Spread(row0[x1]), direct::Spread(row1[x1]), fy);
    return direct::Gather(direct::Lerp(left, right, fx)) | t.alphaOr;
}

// The texel of (u, v) as an ARGB word: the nearest texel, or the bilinear blend of the four around
// it with weights in steps of 1/256 and each channel rounded to 8 bits (within one step of the
// exact blend). Coordinates that are not numbers read texel (0, 0).
inline std::uint32_t SampleDirect(const DirectTexels& t, float u, float v) {
    // Texel centres lie at half-integers: the bilinear footprint starts half a texel back.
    float shift = t.linear ? 128.0f : 0.0f;
    std::int32_t x8 = direct::FixedFloor(u * static_cast<float>(t.width) * 256.0f - shift);
    std::int32_t y8 = direct::FixedFloor(v * static_cast<float>(t.height) * 256.0f - shift);
    return SampleDirectAt(t, x8 >> 8, static_cast<std::uint32_t>(x8 & 255), y8 >> 8, static_cast<std::uint32_t>(y8 & 255));
}

// A prepared sampler for one texture stage. sample writes red, green, blue, alpha in [0, 1] for
// texture coordinates (u, v, w) at the level of detail lod (log2 of level-0 texels per pixel along
// the major axis, before the sampler's bias and clamps). For cube textures (u, v, w) is a direction.
// Signed formats read in [-1, 1] and floating-point formats as stored. The function is chosen for
// the texture's format, type and the sampler's filters and address modes, so the inner loop has no
// switch.
struct Sampler {
    using SampleFn = void (*)(const Sampler& sampler, float u, float v, float w, float lod, float rgba[4]);
    SampleFn sample = nullptr;
    // Texture data and derived constants, owned by the texture, valid while the draw runs (the
    // texture's SamplingView; null for an unbound stage). width, height, depth are level 0's.
    const void* texture = nullptr;
    std::uint32_t width = 0, height = 0, depth = 0, levelCount = 0;
    float lodBias = 0.0f;
    float maxLevel = 0.0f;  // the most detailed level sampled (D3DSAMP_MAXMIPLEVEL, SetLOD)
    std::uint32_t data[16] = {};  // per-function constants (address modes, filters, border colour)
    DirectTexels direct;          // set when the texture can also be read directly (see DirectTexels)
};

// Prepares the sampler of texture stage `stage` from the state's bound texture and sampler states.
// An unbound stage (or a texture type the device cannot sample) gets a sampler that returns opaque
// white, as the fixed-function pipeline samples an unbound stage.
void PrepareSampler(const DeviceState& state, DWORD stage, Sampler* sampler);

}  // namespace qm::d3d9
