// dxt_codec.cpp: S3TC (DXT1-DXT5) block decoding and encoding. The encoder diffuses quantisation
// error with the Floyd-Steinberg weights (7/16, 3/16, 5/16, 1/16) inside each block, picks endpoints
// along the bounding-box diagonal that best fits the pixels, and refines them by least squares.
//
// The per-block work runs on fixed arrays (no allocation) with four-float lanes. With SSE2 the lanes
// are one register; the portable build (QM_FORCE_SCALAR, or a processor without SSE2) uses plain
// floats. Each lane operation rounds exactly as the same scalar operation, and every sum keeps its
// pixel order, so both builds write identical blocks.
#include "library/tex/dxt_codec.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#if !defined(QM_FORCE_SCALAR) && (defined(__SSE2__) || defined(_M_X64))
#define QM_DXT_SSE2 1
#include <emmintrin.h>
#else
#define QM_DXT_SSE2 0
#endif

#if defined(__GNUC__)
#define QM_DXT_INLINE inline __attribute__((always_inline))
#else
#define QM_DXT_INLINE inline
#endif

namespace qm {
namespace {

struct Vec3 {
    float x = 0, y = 0, z = 0;
    Vec3 operator+(const Vec3& o) const { return {x + o.x, y + o.y, z + o.z}; }
    Vec3 operator-(const Vec3& o) const { return {x - o.x, y - o.y, z - o.z}; }
    Vec3 operator*(float s) const { return {x * s, y * s, z * s}; }
};

// Four floats worked on lane by lane.
struct F4 {
#if QM_DXT_SSE2
    __m128 v;
    static F4 Set(float x, float y, float z, float w) { return {_mm_setr_ps(x, y, z, w)}; }
    static F4 Splat(float s) { return {_mm_set1_ps(s)}; }
    static F4 Load(const float* p) { return {_mm_loadu_ps(p)}; }
    void Store(float* p) const { _mm_storeu_ps(p, v); }
    friend F4 operator+(F4 a, F4 b) { return {_mm_add_ps(a.v, b.v)}; }
    friend F4 operator-(F4 a, F4 b) { return {_mm_sub_ps(a.v, b.v)}; }
    friend F4 operator*(F4 a, F4 b) { return {_mm_mul_ps(a.v, b.v)}; }
    friend F4 operator/(F4 a, F4 b) { return {_mm_div_ps(a.v, b.v)}; }
    // a > b ? a : b and a < b ? a : b in each lane, so a NaN in a gives b.
    friend F4 Max(F4 a, F4 b) { return {_mm_max_ps(a.v, b.v)}; }
    friend F4 Min(F4 a, F4 b) { return {_mm_min_ps(a.v, b.v)}; }
    // Each lane truncated toward zero (the lanes are known to be in range).
    void Truncate(std::int32_t out[4]) const {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_cvttps_epi32(v));
    }
    F4 Truncated() const { return {_mm_cvtepi32_ps(_mm_cvttps_epi32(v))}; }
    // (x * b.x + y * b.y) + z * b.z.
    float Dot3(F4 b) const {
        const __m128 p = _mm_mul_ps(v, b.v);
        const __m128 xy = _mm_add_ss(p, _mm_shuffle_ps(p, p, _MM_SHUFFLE(1, 1, 1, 1)));
        return _mm_cvtss_f32(_mm_add_ss(xy, _mm_shuffle_ps(p, p, _MM_SHUFFLE(2, 2, 2, 2))));
    }
    // True when lanes 0-2 are all below limit.
    bool Below3(float limit) const { return (_mm_movemask_ps(_mm_cmplt_ps(v, _mm_set1_ps(limit))) & 7) == 7; }
#else
    float v[4];
    static F4 Set(float x, float y, float z, float w) { return {{x, y, z, w}}; }
    static F4 Splat(float s) { return {{s, s, s, s}}; }
    static F4 Load(const float* p) { return {{p[0], p[1], p[2], p[3]}}; }
    void Store(float* p) const { std::memcpy(p, v, sizeof v); }
    template <class Op>
    static F4 Lanes(const F4& a, const F4& b, Op op) {
        return {{op(a.v[0], b.v[0]), op(a.v[1], b.v[1]), op(a.v[2], b.v[2]), op(a.v[3], b.v[3])}};
    }
    friend F4 operator+(F4 a, F4 b) { return Lanes(a, b, [](float x, float y) { return x + y; }); }
    friend F4 operator-(F4 a, F4 b) { return Lanes(a, b, [](float x, float y) { return x - y; }); }
    friend F4 operator*(F4 a, F4 b) { return Lanes(a, b, [](float x, float y) { return x * y; }); }
    friend F4 operator/(F4 a, F4 b) { return Lanes(a, b, [](float x, float y) { return x / y; }); }
    friend F4 Max(F4 a, F4 b) { return Lanes(a, b, [](float x, float y) { return x > y ? x : y; }); }
    friend F4 Min(F4 a, F4 b) { return Lanes(a, b, [](float x, float y) { return x < y ? x : y; }); }
    void Truncate(std::int32_t out[4]) const {
        for (int k = 0; k < 4; ++k) out[k] = static_cast<std::int32_t>(v[k]);
    }
    F4 Truncated() const {
        F4 r;
        for (int k = 0; k < 4; ++k) r.v[k] = static_cast<float>(static_cast<std::int32_t>(v[k]));
        return r;
    }
    float Dot3(F4 b) const { return v[0] * b.v[0] + v[1] * b.v[1] + v[2] * b.v[2]; }
    bool Below3(float limit) const { return v[0] < limit && v[1] < limit && v[2] < limit; }
#endif
    friend F4 operator*(F4 a, float s) { return a * Splat(s); }
    static F4 Zero() { return Splat(0.0f); }
};

// k / n for k = 0 .. n: the quantised values and palette weights, without a division per use.
template <int N>
constexpr std::array<float, N + 1> Quotients() {
    std::array<float, N + 1> table{};
    for (int k = 0; k <= N; ++k) table[k] = static_cast<float>(k) / static_cast<float>(N);
    return table;
}
constexpr std::array<float, 4> kThirds = Quotients<3>();
constexpr std::array<float, 3> kHalves = Quotients<2>();
constexpr std::array<float, 8> kSevenths = Quotients<7>();
constexpr std::array<float, 6> kFifths = Quotients<5>();
constexpr std::array<float, 16> kFifteenths = Quotients<15>();
constexpr std::array<float, 256> kByteValues = Quotients<255>();

float Clamp01(float v) { return std::clamp(v, 0.0f, 1.0f); }

// floor(v + 0.5) for v >= 0, without a library call (conversion truncates toward zero). Values from
// float source formats may be NaN, negative or huge: NaN and negatives give 0, huge values are
// limited so the conversion stays defined.
int RoundNonNegative(float v) {
    if (!(v > 0.0f)) return 0;
    return v < 1.0e9f ? static_cast<int>(v + 0.5f) : 1000000000;
}

// A palette position: the projection t rounded and limited to 0 .. steps.
int Position(float t, float steps) { return RoundNonNegative(std::clamp(t, 0.0f, steps)); }

// Position(offset / length * steps, steps), with the division replaced by a multiplication by
// inverse = 1 / length. The product differs from the quotient by a few units in the last place, so
// it rounds to the same position unless it lies next to a rounding boundary (t = 0.5, 1.5, ...);
// there the quotient itself is computed. Branch-free but for that rare case.
QM_DXT_INLINE int ProjectedPosition(float offset, float length, float inverse, float steps) {
    float t = offset * inverse * steps;
    t = t > 0.0f ? t : 0.0f;
    t = t < steps ? t : steps;
    const float f = t + 0.5f;
    const int position = static_cast<int>(f);
    const float fraction = f - static_cast<float>(position);
    if (fraction < 1.0e-4f || fraction > 1.0f - 1.0e-4f) return Position(offset / length * steps, steps);
    return position;
}

// Spreads the error of pixel i over the following pixels of the 4 x 4 block. Each pixel receives
// its shares in pixel order (up-left, up, up-right, left).
template <class T>
QM_DXT_INLINE void Diffuse(T* error, int i, const T& e) {
    const int x = i & 3, y = i >> 2;
    if (x < 3) error[i + 1] = error[i + 1] + e * (7.0f / 16.0f);
    if (y < 3) {
        if (x > 0) error[i + 3] = error[i + 3] + e * (3.0f / 16.0f);
        error[i + 4] = error[i + 4] + e * (5.0f / 16.0f);
        if (x < 3) error[i + 5] = error[i + 5] + e * (1.0f / 16.0f);
    }
}

WORD Pack565(const Vec3& c) {
    const int r = RoundNonNegative(Clamp01(c.x) * 31.0f);
    const int g = RoundNonNegative(Clamp01(c.y) * 63.0f);
    const int b = RoundNonNegative(Clamp01(c.z) * 31.0f);
    return static_cast<WORD>((r << 11) | (g << 5) | b);
}

Vec3 Unpack565(WORD c) {
    const int r = (c >> 11) & 31, g = (c >> 5) & 63, b = c & 31;
    return {static_cast<float>((r << 3) | (r >> 2)) / 255.0f, static_cast<float>((g << 2) | (g >> 4)) / 255.0f,
            static_cast<float>((b << 3) | (b >> 2)) / 255.0f};
}

F4 ToF4(const Vec3& v) { return F4::Set(v.x, v.y, v.z, 0.0f); }

void StoreWord(BYTE* p, WORD w) {
    p[0] = static_cast<BYTE>(w & 0xFF);
    p[1] = static_cast<BYTE>(w >> 8);
}

// The colours a block is judged against: the pixels that keep a colour (not transparent), in the
// fitting space, one array per channel padded to whole lanes, with weight 1 for real pixels and 0 for
// the padding.
struct FitTargets {
    alignas(16) float x[16] = {}, y[16] = {}, z[16] = {}, weight[16] = {};
    int count = 0;
};

// Colour scaling used while fitting: red and blue weighted by their luminance share relative to green.
constexpr float kFitRed = kLuminanceRed / kLuminanceGreen, kFitBlue = kLuminanceBlue / kLuminanceGreen;

// The 5-6-5 word a fitting-space endpoint rounds to.
WORD RoundEndpoint(F4 e) {
    alignas(16) float c[4];
    (e / F4::Set(kFitRed, 1.0f, kFitBlue, 1.0f)).Store(c);
    return Pack565({c[0], c[1], c[2]});
}

// The two endpoints' words as one number, the same in either order (the palette is symmetric).
std::uint32_t RoundedPair(F4 e0, F4 e1) {
    const WORD c0 = RoundEndpoint(e0), c1 = RoundEndpoint(e1);
    return c0 < c1 ? std::uint32_t{c0} << 16 | c1 : std::uint32_t{c1} << 16 | c0;
}

// What a rounded endpoint pair gives the targets: the summed squared distance from each target to
// the palette entry nearest its projection on the endpoint line (equal endpoints: that colour).
float RoundedPairError(std::uint32_t pair, const FitTargets& targets, int entries) {
    const F4 fitScale = F4::Set(kFitRed, 1.0f, kFitBlue, 0.0f);
    const F4 s0 = ToF4(Unpack565(static_cast<WORD>(pair >> 16))) * fitScale;
    const F4 axis = ToF4(Unpack565(static_cast<WORD>(pair))) * fitScale - s0;
    const float steps = static_cast<float>(entries - 1), length2 = axis.Dot3(axis);
    alignas(16) float start[4], direction[4];
    s0.Store(start);
    axis.Store(direction);
    const F4 sx = F4::Splat(start[0]), sy = F4::Splat(start[1]), sz = F4::Splat(start[2]);
    const F4 dx = F4::Splat(direction[0]), dy = F4::Splat(direction[1]), dz = F4::Splat(direction[2]);
    const F4 zero = F4::Zero(), half = F4::Splat(0.5f), last = F4::Splat(steps);
    const F4 toPosition = F4::Splat(length2 > 0.0f ? steps / length2 : 0.0f), toWeight = F4::Splat(1.0f / steps);
    F4 sum = zero;
    for (int i = 0; i < targets.count; i += 4) {
        const F4 ox = F4::Load(targets.x + i) - sx, oy = F4::Load(targets.y + i) - sy, oz = F4::Load(targets.z + i) - sz;
        const F4 t = (Min(Max((ox * dx + oy * dy + oz * dz) * toPosition, zero), last) + half).Truncated() * toWeight;
        const F4 rx = dx * t - ox, ry = dy * t - oy, rz = dz * t - oz;
        sum = sum + (rx * rx + ry * ry + rz * rz) * F4::Load(targets.weight + i);
    }
    alignas(16) float lanes[4];
    sum.Store(lanes);
    return (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
}

// Colour endpoint refinement in the fitting space. Each pass gives every point the palette position
// nearest to its projection on the endpoint line, then moves both endpoints to the least-squares
// solution for those positions. Stops when every component of both gradients is small, when the
// endpoints meet, or when the positions no longer determine a solution. The least-squares solution
// for the unrounded points can round to a worse block than an earlier pair (most often on flat
// colours, whose points the diffusion has spread over two 5-6-5 steps), so each pass's step is kept
// only as far as it helps: the result is the pair, of the starting one and those the passes reach,
// whose 5-6-5 rounding fits the targets best (the earliest of equals).
void RefineColorEndpoints(F4& e0, F4& e1, const F4* points, const float* px, const float* py, const float* pz,
                          int count, int entries, const FitTargets& targets) {
    std::uint32_t lastPair = RoundedPair(e0, e1);
    float bestError = RoundedPairError(lastPair, targets, entries);
    F4 best0 = e0, best1 = e1;
    const float steps = static_cast<float>(entries - 1);
    const float* weights = entries == 4 ? kThirds.data() : kHalves.data();
    constexpr float kMinDistance = 1.0f / 4096.0f, kGradientLimit = 1.0f / 65536.0f;
    const F4 zero = F4::Zero(), half = F4::Splat(0.5f), last = F4::Splat(steps);
    for (int pass = 0; pass < 8; ++pass) {
        const F4 axis = e1 - e0;
        const float length2 = axis.Dot3(axis);
        if (length2 < kMinDistance * kMinDistance) break;
        alignas(16) float start[4], direction[4];
        e0.Store(start);
        axis.Store(direction);
        const F4 sx = F4::Splat(start[0]), sy = F4::Splat(start[1]), sz = F4::Splat(start[2]);
        const F4 dx = F4::Splat(direction[0]), dy = F4::Splat(direction[1]), dz = F4::Splat(direction[2]);
        const F4 length = F4::Splat(length2);
        alignas(16) std::int32_t position[16];
        for (int i = 0; i < count; i += 4) {
            const F4 projection =
                (F4::Load(px + i) - sx) * dx + (F4::Load(py + i) - sy) * dy + (F4::Load(pz + i) - sz) * dz;
            (Min(Max(projection / length * last, zero), last) + half).Truncate(position + i);
        }
        float aa = 0, ab = 0, bb = 0;
        F4 pa = zero, pb = zero, gradient0 = zero, gradient1 = zero;
        for (int i = 0; i < count; ++i) {
            const float t = weights[position[i]], s = 1.0f - t;
            aa += s * s, ab += s * t, bb += t * t;
            const F4 S = F4::Splat(s), T = F4::Splat(t);
            pa = pa + points[i] * S;
            pb = pb + points[i] * T;
            const F4 residual = e0 * S + e1 * T - points[i];
            gradient0 = gradient0 + residual * S;
            gradient1 = gradient1 + residual * T;
        }
        if ((gradient0 * gradient0).Below3(kGradientLimit) && (gradient1 * gradient1).Below3(kGradientLimit)) break;
        const float det = aa * bb - ab * ab;
        if (std::fabs(det) < 1e-12f) break;
        const F4 inverse = F4::Splat(1.0f / det);
        e0 = (pa * F4::Splat(bb) - pb * F4::Splat(ab)) * inverse;
        e1 = (pb * F4::Splat(aa) - pa * F4::Splat(ab)) * inverse;
        const std::uint32_t pair = RoundedPair(e0, e1);
        if (pair == lastPair) continue;  // rounds as the previous pass did: no better, no worse
        lastPair = pair;
        const float error = RoundedPairError(pair, targets, entries);
        if (error < bestError) bestError = error, best0 = e0, best1 = e1;
    }
    e0 = best0;
    e1 = best1;
}

// Alpha endpoint refinement: the same least-squares passes on single values.
void RefineAlphaEndpoints(float& e0, float& e1, const float* points, int count, int entries) {
    const float steps = static_cast<float>(entries - 1);
    const float* weights = entries == 8 ? kSevenths.data() : kFifths.data();
    constexpr float kMinDistance = 1.0f / 256.0f, kGradientLimit = 1.0f / 64.0f;
    const F4 zero = F4::Zero(), half = F4::Splat(0.5f), last = F4::Splat(steps);
    for (int pass = 0; pass < 8; ++pass) {
        const float axis = e1 - e0;
        const float length2 = axis * axis;
        if (length2 < kMinDistance * kMinDistance) break;
        const F4 start = F4::Splat(e0), direction = F4::Splat(axis), length = F4::Splat(length2);
        alignas(16) std::int32_t position[16];
        for (int i = 0; i < count; i += 4) {
            const F4 projection = (F4::Load(points + i) - start) * direction;
            (Min(Max(projection / length * last, zero), last) + half).Truncate(position + i);
        }
        float aa = 0, ab = 0, bb = 0, pa = 0, pb = 0, gradient0 = 0, gradient1 = 0;
        for (int i = 0; i < count; ++i) {
            const float t = weights[position[i]], s = 1.0f - t;
            aa += s * s, ab += s * t, bb += t * t;
            pa = pa + points[i] * s;
            pb = pb + points[i] * t;
            const float residual = e0 * s + e1 * t - points[i];
            gradient0 = gradient0 + residual * s;
            gradient1 = gradient1 + residual * t;
        }
        if (gradient0 * gradient0 < kGradientLimit && gradient1 * gradient1 < kGradientLimit) break;
        const float det = aa * bb - ab * ab;
        if (std::fabs(det) < 1e-12f) break;
        const float inverse = 1.0f / det;
        e0 = (pa * bb - pb * ab) * inverse;
        e1 = (pb * aa - pa * ab) * inverse;
    }
}

void DecodeColorBlock(const BYTE* block, bool allowTransparent, Rgba out[16]) {
    const WORD c0 = static_cast<WORD>(block[0] | (block[1] << 8));
    const WORD c1 = static_cast<WORD>(block[2] | (block[3] << 8));
    const Vec3 a = Unpack565(c0), b = Unpack565(c1);
    Rgba palette[4];
    palette[0] = {a.x, a.y, a.z, 1.0f};
    palette[1] = {b.x, b.y, b.z, 1.0f};
    if (c0 > c1 || !allowTransparent) {
        const Vec3 p2 = (a * 2.0f + b) * (1.0f / 3.0f), p3 = (a + b * 2.0f) * (1.0f / 3.0f);
        palette[2] = {p2.x, p2.y, p2.z, 1.0f};
        palette[3] = {p3.x, p3.y, p3.z, 1.0f};
    } else {
        const Vec3 p2 = (a + b) * 0.5f;
        palette[2] = {p2.x, p2.y, p2.z, 1.0f};
        palette[3] = {0, 0, 0, 0};
    }
    const std::uint32_t indices = block[4] | (block[5] << 8) | (block[6] << 16) | (static_cast<std::uint32_t>(block[7]) << 24);
    for (int i = 0; i < 16; ++i) out[i] = palette[(indices >> (2 * i)) & 3];
}

void EncodeDxt3Alpha(const Rgba in[16], BYTE block[8]) {
    float error[16] = {};
    std::memset(block, 0, 8);
    for (int i = 0; i < 16; ++i) {
        const float v = in[i].a + error[i];
        const int q = RoundNonNegative(Clamp01(v) * 15.0f);
        Diffuse(error, i, v - kFifteenths[q]);
        block[i / 2] |= static_cast<BYTE>(q << (4 * (i & 1)));
    }
}

void EncodeDxt5Alpha(const Rgba in[16], BYTE block[8]) {
    // Diffuse to 8-bit precision first. Alphas that already are 8-bit values (as from 8-bit images)
    // leave no error to spread, so each one stands as it is and the serial pass is skipped.
    auto toByte = [](float v) {
        float c = v > 0.0f ? v : 0.0f;  // Clamp01 with NaN giving 0, as RoundNonNegative would
        c = c < 1.0f ? c : 1.0f;
        return kByteValues[static_cast<int>(c * 255.0f + 0.5f)];
    };
    float alpha[16];
    bool exact = true;
    for (int i = 0; i < 16; ++i) {
        alpha[i] = toByte(in[i].a);
        exact = exact && alpha[i] == in[i].a;
    }
    if (!exact) {
        float error[16] = {};
        for (int i = 0; i < 16; ++i) {
            const float v = in[i].a + error[i];
            const float q = toByte(v);
            Diffuse(error, i, v - q);
            alpha[i] = q;
        }
    }
    bool allOne = true, hasExtreme = false;
    for (int i = 0; i < 16; ++i) {
        allOne = allOne && alpha[i] == 1.0f;
        hasExtreme = hasExtreme || alpha[i] == 0.0f || alpha[i] == 1.0f;
    }
    std::memset(block, 0, 8);
    if (allOne) {
        block[0] = block[1] = 255;
        return;
    }
    // Endpoints from the alphas the interpolated entries cover.
    alignas(16) float points[16] = {};
    int count = 0;
    float lo = 1.0f, hi = 0.0f;
    for (int i = 0; i < 16; ++i) {
        if (hasExtreme && (alpha[i] == 0.0f || alpha[i] == 1.0f)) continue;
        points[count++] = alpha[i];
        lo = std::min(lo, alpha[i]);
        hi = std::max(hi, alpha[i]);
    }
    const int entries = hasExtreme ? 6 : 8;
    float e0 = count > 0 ? lo : 0.0f, e1 = count > 0 ? hi : 0.0f;
    if (count > 0) RefineAlphaEndpoints(e0, e1, points, count, entries);
    int a0 = RoundNonNegative(Clamp01(e0) * 255.0f);
    int a1 = RoundNonNegative(Clamp01(e1) * 255.0f);
    // Eight values: larger first; six values: smaller first.
    if (hasExtreme ? a0 > a1 : a0 < a1) std::swap(a0, a1);
    block[0] = static_cast<BYTE>(a0);
    block[1] = static_cast<BYTE>(a1);
    static constexpr int kEightCodes[8] = {0, 2, 3, 4, 5, 6, 7, 1};
    static constexpr int kSixCodes[6] = {0, 2, 3, 4, 5, 1};
    const int* codes = hasExtreme ? kSixCodes : kEightCodes;
    const float f0 = a0 / 255.0f, f1 = a1 / 255.0f;
    const float steps = static_cast<float>(entries - 1);
    float palette[8];
    for (int k = 0; k < entries; ++k) palette[k] = f0 + (f1 - f0) * static_cast<float>(k) / steps;
    const float zeroBelow = f0 * 0.5f, oneAbove = (f1 + 1.0f) * 0.5f, span = f1 - f0, inverseSpan = 1.0f / span;
    std::uint64_t bits = 0;
    float diffused[16] = {};
    for (int i = 0; i < 16; ++i) {
        const float v = in[i].a + diffused[i];
        // Chosen without data-dependent branches: the position (0, value f0, for equal endpoints),
        // then the six-value mode's own 0 and 1 below and above the interpolated range.
        const int position = a0 != a1 ? ProjectedPosition(v - f0, span, inverseSpan, steps) : 0;
        int code = codes[position];
        float chosen = palette[position];
        const bool low = hasExtreme && v <= zeroBelow, high = hasExtreme && !low && v > oneAbove;
        code = low ? 6 : high ? 7 : code;
        chosen = low ? 0.0f : high ? 1.0f : chosen;
        Diffuse(diffused, i, v - chosen);
        bits |= static_cast<std::uint64_t>(code) << (3 * i);
    }
    for (int k = 0; k < 6; ++k) block[2 + k] = static_cast<BYTE>(bits >> (8 * k));
}

void DecodeDxt5Alpha(const BYTE* block, float out[16]) {
    const int a0 = block[0], a1 = block[1];
    float values[8];
    values[0] = a0 / 255.0f;
    values[1] = a1 / 255.0f;
    if (a0 > a1) {
        for (int i = 2; i < 8; ++i) values[i] = static_cast<float>((8 - i) * a0 + (i - 1) * a1) / (7.0f * 255.0f);
    } else {
        for (int i = 2; i < 6; ++i) values[i] = static_cast<float>((6 - i) * a0 + (i - 1) * a1) / (5.0f * 255.0f);
        values[6] = 0.0f;
        values[7] = 1.0f;
    }
    std::uint64_t bits = 0;
    for (int k = 0; k < 6; ++k) bits |= static_cast<std::uint64_t>(block[2 + k]) << (8 * k);
    for (int i = 0; i < 16; ++i) out[i] = values[(bits >> (3 * i)) & 7];
}

bool IsPremultiplied(D3DFORMAT format) { return format == D3DFMT_DXT2 || format == D3DFMT_DXT4; }

}  // namespace

bool IsDxtFormat(D3DFORMAT format) {
    return format == D3DFMT_DXT1 || format == D3DFMT_DXT2 || format == D3DFMT_DXT3 || format == D3DFMT_DXT4 ||
           format == D3DFMT_DXT5;
}

UINT DxtBlockBytes(D3DFORMAT format) {
    if (format == D3DFMT_DXT1) return 8;
    return IsDxtFormat(format) ? 16 : 0;
}

void DecodeDxtBlock(D3DFORMAT format, const BYTE* block, Rgba out[16]) {
    if (format == D3DFMT_DXT1) {
        DecodeColorBlock(block, true, out);
        return;
    }
    DecodeColorBlock(block + 8, false, out);
    if (format == D3DFMT_DXT2 || format == D3DFMT_DXT3) {
        for (int i = 0; i < 16; ++i) out[i].a = static_cast<float>((block[i / 2] >> (4 * (i & 1))) & 15) / 15.0f;
    } else {
        float alpha[16];
        DecodeDxt5Alpha(block, alpha);
        for (int i = 0; i < 16; ++i) out[i].a = alpha[i];
    }
    if (IsPremultiplied(format)) {
        for (int i = 0; i < 16; ++i) {
            Rgba& c = out[i];
            const float inverse = c.a > 0.0f ? 1.0f / c.a : 0.0f;
            c.r = Clamp01(c.r * inverse), c.g = Clamp01(c.g * inverse), c.b = Clamp01(c.b * inverse);
        }
    }
}

void EncodeDxtColorBlock(const Rgba in[16], bool allowTransparent, BYTE block[8]) {
    // Step 1: transparency, alphas dithered to one bit.
    bool transparent[16] = {};
    int transparentCount = 0;
    bool opaque = true;
    for (int i = 0; i < 16; ++i) opaque = opaque && in[i].a >= 1.0f;
    if (allowTransparent && !opaque) {
        // (Alphas of 1 or more dither to 1 with no error to spread, so opaque blocks skip this.)
        float error[16] = {};
        for (int i = 0; i < 16; ++i) {
            const float v = in[i].a + error[i];
            const float q = v < 0.5f ? 0.0f : 1.0f;
            Diffuse(error, i, v - q);
            transparent[i] = q == 0.0f;
            transparentCount += transparent[i] ? 1 : 0;
        }
        if (transparentCount == 16) {
            StoreWord(block, 0x0000);
            StoreWord(block + 2, 0xFFFF);
            std::memset(block + 4, 0xFF, 4);
            return;
        }
    }
    const int entries = transparentCount > 0 ? 3 : 4;

    // Step 2: colours diffused to 5-6-5 precision, then scaled for fitting. The 16 points are kept
    // both as lanes (red, green, blue) and as one array per channel. The pixels that keep a colour
    // (all but the transparent ones) are also kept unquantised, as the targets the refinement's
    // rounded endpoints are judged against.
    const F4 zero = F4::Zero(), one = F4::Splat(1.0f), half = F4::Splat(0.5f);
    const F4 levels = F4::Set(31.0f, 63.0f, 31.0f, 0.0f), divisors = F4::Set(31.0f, 63.0f, 31.0f, 1.0f);
    const F4 fitScale = F4::Set(kFitRed, 1.0f, kFitBlue, 0.0f);
    F4 points[16];
    alignas(16) float px[16], py[16], pz[16];
    FitTargets targets;
    F4 lo = one, hi = zero;
    {
        F4 error[16];
        for (F4& e : error) e = zero;
        for (int i = 0; i < 16; ++i) {
            // Lane 3 carries alpha along; it is quantised to 0 and never read.
            const F4 original = F4::Load(&in[i].r);
            const F4 v = original + error[i];
            const F4 q = (Min(Max(v, zero), one) * levels + half).Truncated() / divisors;
            Diffuse(error, i, v - q);
            const F4 p = q * fitScale;
            alignas(16) float lanes[4];
            p.Store(lanes);
            points[i] = p;
            px[i] = lanes[0], py[i] = lanes[1], pz[i] = lanes[2];
            lo = i == 0 ? p : Min(p, lo);
            hi = i == 0 ? p : Max(p, hi);
            if (transparent[i]) continue;
            (original * fitScale).Store(lanes);
            const int t = targets.count++;
            targets.x[t] = lanes[0], targets.y[t] = lanes[1], targets.z[t] = lanes[2], targets.weight[t] = 1.0f;
        }
    }

    // Step 3: endpoints along the best bounding-box diagonal, then least-squares refinement.
    F4 e0 = lo, e1 = hi;
    const F4 diagonal = hi - lo;
    const float diagonal2 = diagonal.Dot3(diagonal);
    if (std::sqrt(diagonal2) >= FLT_MIN) {
        // The four diagonals side by side: green and blue ends exchanged in lanes 1 and 3, and 2 and 3.
        alignas(16) float l[4], h[4], d[4], c[4];
        lo.Store(l), hi.Store(h), diagonal.Store(d), ((lo + hi) * 0.5f).Store(c);
        const F4 ax = F4::Splat(d[0]), ay = F4::Set(d[1], l[1] - h[1], d[1], l[1] - h[1]),
                 az = F4::Set(d[2], d[2], l[2] - h[2], l[2] - h[2]);
        F4 sums = zero;
        for (int i = 0; i < 16; ++i) {
            const F4 p = F4::Splat(px[i] - c[0]) * ax + F4::Splat(py[i] - c[1]) * ay + F4::Splat(pz[i] - c[2]) * az;
            sums = sums + p * p;
        }
        alignas(16) float sum[4];
        sums.Store(sum);
        int flip = 0;
        for (int f = 1; f < 4; ++f) {
            if (sum[f] > sum[flip]) flip = f;
        }
        e0 = F4::Set(l[0], (flip & 1) ? h[1] : l[1], (flip & 2) ? h[2] : l[2], 0.0f);
        e1 = F4::Set(h[0], (flip & 1) ? l[1] : h[1], (flip & 2) ? l[2] : h[2], 0.0f);
        if (diagonal2 >= 1.0f / 4096.0f) RefineColorEndpoints(e0, e1, points, px, py, pz, 16, entries, targets);
    }

    // Step 4: endpoints to 5-6-5, ordered as the mode requires.
    WORD c0 = RoundEndpoint(e0), c1 = RoundEndpoint(e1);
    if (entries == 4 ? c0 < c1 : c0 > c1) std::swap(c0, c1);
    StoreWord(block, c0);
    StoreWord(block + 2, c1);

    // Step 5: indices along the quantised endpoint line, with the error of each choice diffused.
    // A pixel's position depends only on the part of its carried error along the line, and the
    // error a choice leaves has, along the line, the size (projection - position) in palette steps:
    // so the diffusion runs on those scalars, each pixel's own projection computed beforehand.
    std::uint32_t indices = 0;
    if (entries != 4 || c0 != c1) {
        const F4 s0 = ToF4(Unpack565(c0)) * fitScale, axis = ToF4(Unpack565(c1)) * fitScale - s0;
        const float length2 = axis.Dot3(axis), steps = static_cast<float>(entries - 1);
        const float toPosition = length2 > 0.0f ? steps / length2 : 0.0f;
        static constexpr std::uint32_t kFourCodes[4] = {0, 2, 3, 1};
        static constexpr std::uint32_t kThreeCodes[3] = {0, 2, 1};
        const std::uint32_t* codes = entries == 4 ? kFourCodes : kThreeCodes;
        float projection[16];
        for (int i = 0; i < 16; ++i) projection[i] = (F4::Load(&in[i].r) * fitScale - s0).Dot3(axis) * toPosition;
        float carried[16] = {};
        for (int i = 0; i < 16; ++i) {
            if (transparent[i]) {
                indices |= 3u << (2 * i);
                continue;
            }
            const float t = projection[i] + carried[i];
            const int position = Position(t, steps);  // a NaN (from a NaN pixel) gives 0
            Diffuse(carried, i, t - static_cast<float>(position));
            indices |= codes[position] << (2 * i);
        }
    }
    for (int k = 0; k < 4; ++k) block[4 + k] = static_cast<BYTE>(indices >> (8 * k));
}

void EncodeDxtBlock(D3DFORMAT format, const Rgba in[16], BYTE* block) {
    // Every channel limited to [0, 1] (a NaN passes through, as with std::clamp); DXT2 and DXT4
    // multiply colour by alpha.
    static_assert(sizeof(Rgba) == 4 * sizeof(float));
    Rgba pixels[16];
    const F4 zero = F4::Zero(), one = F4::Splat(1.0f);
    const bool premultiply = IsPremultiplied(format);
    for (int i = 0; i < 16; ++i) {
        const F4 v = Max(zero, Min(one, F4::Load(&in[i].r)));
        if (premultiply) {
            alignas(16) float c[4];
            v.Store(c);
            (v * F4::Set(c[3], c[3], c[3], 1.0f)).Store(&pixels[i].r);
        } else {
            v.Store(&pixels[i].r);
        }
    }
    if (format == D3DFMT_DXT1) {
        EncodeDxtColorBlock(pixels, true, block);
        return;
    }
    if (format == D3DFMT_DXT2 || format == D3DFMT_DXT3) {
        EncodeDxt3Alpha(pixels, block);
    } else {
        EncodeDxt5Alpha(pixels, block);
    }
    EncodeDxtColorBlock(pixels, false, block + 8);
}

namespace {

class DxtCodec final : public FormatCodec {
public:
    DxtCodec(const CodecInfo& info, const PixelBox& box) : FormatCodec(info, box) {
        blockBytes_ = DxtBlockBytes(info.format);
        firstBlockColumn_ = box.box.left / 4;
        blockColumns_ = width_ == 0 ? 0 : (box.box.right - 1) / 4 - firstBlockColumn_ + 1;
        slices_.resize(depth_);
        for (SliceRow& slice : slices_) slice.pixels.resize(static_cast<std::size_t>(blockColumns_) * 16);
    }

private:
    struct SliceRow {
        long blockRow = -1;     // the block row held, or -1
        bool writing = false;
        unsigned present = 0;   // rows of the block row written (or outside the box)
        std::vector<Rgba> pixels;  // 4 rows of blockColumns_ x 4 pixels
    };

    UINT RowStride() const { return blockColumns_ * 4; }

    BYTE* BlockAddress(UINT z, UINT blockRow, UINT blockColumn) const {
        return box_.pixels + static_cast<std::size_t>(box_.box.front + z) * box_.slicePitch +
               static_cast<std::size_t>(blockRow) * box_.rowPitch + static_cast<std::size_t>(blockColumn) * blockBytes_;
    }

    void DecodeBlockRow(UINT z, SliceRow& slice, UINT blockRow) {
        Rgba block[16];
        for (UINT c = 0; c < blockColumns_; ++c) {
            DecodeDxtBlock(info_.format, BlockAddress(z, blockRow, firstBlockColumn_ + c), block);
            for (int i = 0; i < 16; ++i) slice.pixels[(i / 4) * RowStride() + c * 4 + (i % 4)] = block[i];
        }
    }

    void EncodeBlockRow(UINT z, SliceRow& slice) {
        const UINT blockRow = static_cast<UINT>(slice.blockRow);
        Rgba block[16];
        static constexpr int kRepeat[4] = {0, 0, 0, 1};
        for (UINT c = 0; c < blockColumns_; ++c) {
            for (int i = 0; i < 16; ++i) block[i] = slice.pixels[(i / 4) * RowStride() + c * 4 + (i % 4)];
            const UINT x0 = (firstBlockColumn_ + c) * 4, y0 = blockRow * 4;
            for (int col = 0; col < 4; ++col) {
                if (x0 + col < box_.extent.right) continue;
                for (int row = 0; row < 4; ++row) block[row * 4 + col] = block[row * 4 + kRepeat[col]];
            }
            for (int row = 0; row < 4; ++row) {
                if (y0 + row < box_.extent.bottom) continue;
                for (int col = 0; col < 4; ++col) block[row * 4 + col] = block[kRepeat[row] * 4 + col];
            }
            EncodeDxtBlock(info_.format, block, BlockAddress(z, blockRow, firstBlockColumn_ + c));
        }
        slice.blockRow = -1;
        slice.writing = false;
    }

    void DecodeRow(UINT y, UINT z, Rgba* out) override {
        SliceRow& slice = slices_[z];
        const UINT ay = box_.box.top + y;
        const long blockRow = static_cast<long>(ay / 4);
        if (slice.blockRow != blockRow || slice.writing) {
            if (slice.writing) EncodeBlockRow(z, slice);
            DecodeBlockRow(z, slice, static_cast<UINT>(blockRow));
            slice.blockRow = blockRow;
        }
        std::copy_n(&slice.pixels[(ay % 4) * RowStride() + (box_.box.left - firstBlockColumn_ * 4)], width_, out);
    }

    void EncodeRow(UINT y, UINT z, const Rgba* in, bool) override {
        SliceRow& slice = slices_[z];
        const UINT ay = box_.box.top + y;
        const long blockRow = static_cast<long>(ay / 4);
        if (slice.blockRow != blockRow || !slice.writing) {
            if (slice.writing) EncodeBlockRow(z, slice);  // an unfinished block row is not lost
            const UINT y0 = static_cast<UINT>(blockRow) * 4;
            slice.present = 0;
            bool partialRows = false;
            for (UINT r = 0; r < 4; ++r) {
                const UINT row = y0 + r;
                if (row < box_.box.top || row >= box_.box.bottom) {
                    slice.present |= 1u << r;
                    partialRows = partialRows || row < box_.extent.bottom;
                }
            }
            const bool partialColumns =
                box_.box.left % 4 != 0 || (box_.box.right % 4 != 0 && box_.box.right < box_.extent.right);
            if (partialRows || partialColumns) DecodeBlockRow(z, slice, static_cast<UINT>(blockRow));
            slice.blockRow = blockRow;
            slice.writing = true;
        }
        std::copy_n(in, width_, &slice.pixels[(ay % 4) * RowStride() + (box_.box.left - firstBlockColumn_ * 4)]);
        slice.present |= 1u << (ay % 4);
        if (slice.present == 0xF) EncodeBlockRow(z, slice);
    }

    Rgba QuantiseOne(const Rgba& value) override {
        Rgba c{Clamp01(value.r), Clamp01(value.g), Clamp01(value.b), Clamp01(value.a)};
        const D3DFORMAT f = info_.format;
        if (f == D3DFMT_DXT1) {
            if (c.a < 0.5f) return Rgba{};
            const Vec3 q = Unpack565(Pack565({c.r, c.g, c.b}));
            return {q.x, q.y, q.z, 1.0f};
        }
        const float alpha = (f == D3DFMT_DXT2 || f == D3DFMT_DXT3) ? RoundNonNegative(c.a * 15.0f) / 15.0f
                                                                   : RoundNonNegative(c.a * 255.0f) / 255.0f;
        const float premultiply = IsPremultiplied(f) ? c.a : 1.0f;
        Vec3 q = Unpack565(Pack565(Vec3{c.r, c.g, c.b} * premultiply));
        if (IsPremultiplied(f)) {
            const float inverse = alpha > 0.0f ? 1.0f / alpha : 0.0f;
            q = {Clamp01(q.x * inverse), Clamp01(q.y * inverse), Clamp01(q.z * inverse)};
        }
        return {q.x, q.y, q.z, alpha};
    }

    UINT blockBytes_ = 0;
    UINT firstBlockColumn_ = 0;
    UINT blockColumns_ = 0;
    std::vector<SliceRow> slices_;
};

}  // namespace

std::unique_ptr<FormatCodec> MakeDxtCodec(const CodecInfo& info, const PixelBox& box) {
    return std::make_unique<DxtCodec>(info, box);
}

}  // namespace qm
