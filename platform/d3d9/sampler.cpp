// sampler.cpp: texture sampling for the pixel stage: level-of-detail selection with bias and the
// most-detailed-level clamp, point and bilinear filters within a level (texel centres at half
// integers), none/point/linear filtering between levels, the five address modes and the border
// colour; 2D textures through functions specialised per texel kind, address modes and filters,
// cube and volume textures through one function each.
#include "platform/d3d9/sampler.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "platform/d3d9/device_state.h"
#include "platform/d3d9/simd4.h"
#include "platform/d3d9/textures.h"

namespace qm::d3d9 {
namespace {

// Sampler::data layout.
constexpr int kBorder = 0;      // 4 floats: red, green, blue, alpha
constexpr int kAddress = 4;     // 3 address modes: u, v, w
constexpr int kMagLinear = 7;   // runtime filter choices, for cube and volume sampling
constexpr int kMinLinear = 8;
constexpr int kMipFilter = 9;
constexpr int kAlphaOr = 10;

enum MipMode { kMipNone = 0, kMipPoint = 1, kMipLinear = 2 };

// Float to int for texel indices; huge and undefined coordinates stay in a range where the address
// modes still give an index inside the level (or the border).
int FloorToInt(float f) {
    constexpr float kLimit = 16777216.0f;
    if (!(f > -kLimit)) return f != f ? 0 : -16777216;
    if (f >= kLimit) return 16777216;
    return static_cast<int>(std::floor(f));
}

// Maps a texel index to [0, n), or to -1 for the border colour.
template <DWORD Mode>
int Address(int i, int n) {
    if constexpr (Mode == D3DTADDRESS_WRAP) {
        // Powers of two wrap by mask (the same result as the remainder below, without a division).
        if ((n & (n - 1)) == 0) return i & (n - 1);
        int m = i % n;
        return m < 0 ? m + n : m;
    } else if constexpr (Mode == D3DTADDRESS_MIRROR) {
        int period = 2 * n;
        int m = i % period;
        if (m < 0) m += period;
        return m < n ? m : period - 1 - m;
    } else if constexpr (Mode == D3DTADDRESS_CLAMP) {
        return std::clamp(i, 0, n - 1);
    } else if constexpr (Mode == D3DTADDRESS_BORDER) {
        return i < 0 || i >= n ? -1 : i;
    } else {  // mirror once: mirrored about 0, then clamped
        return std::min(i < 0 ? -i - 1 : i, n - 1);
    }
}

using AddressFn = int (*)(int, int);
constexpr AddressFn kAddressFns[6] = {Address<D3DTADDRESS_WRAP>, Address<D3DTADDRESS_WRAP>,
                                      Address<D3DTADDRESS_MIRROR>, Address<D3DTADDRESS_CLAMP>,
                                      Address<D3DTADDRESS_BORDER>, Address<D3DTADDRESS_MIRRORONCE>};

// Address policies: one mode fixed at compile time, or the sampler's own mode for the axis.
template <DWORD Mode>
struct FixedAddress {
    static int Apply(const Sampler&, int, int i, int n) { return Address<Mode>(i, n); }
};
struct SamplerAddress {
    static int Apply(const Sampler& s, int axis, int i, int n) { return kAddressFns[s.data[kAddress + axis]](i, n); }
};

// Texel readers.
struct Bgra8Texels {
    static void Load(const Sampler& s, const SamplingLevel& level, std::ptrdiff_t index, float* out) {
        std::uint32_t t = static_cast<const std::uint32_t*>(level.texels)[index] | s.data[kAlphaOr];
        constexpr float kScale = 1.0f / 255.0f;
        out[0] = static_cast<float>((t >> 16) & 255) * kScale;
        out[1] = static_cast<float>((t >> 8) & 255) * kScale;
        out[2] = static_cast<float>(t & 255) * kScale;
        out[3] = static_cast<float>(t >> 24) * kScale;
    }
    static Float4 LoadVector(const Sampler& s, const SamplingLevel& level, std::ptrdiff_t index) {
        return UnpackArgb(static_cast<const std::uint32_t*>(level.texels)[index] | s.data[kAlphaOr]);
    }
};
struct FloatTexels {
    static void Load(const Sampler&, const SamplingLevel& level, std::ptrdiff_t index, float* out) {
        std::memcpy(out, static_cast<const float*>(level.texels) + 4 * index, 4 * sizeof(float));
    }
    static Float4 LoadVector(const Sampler&, const SamplingLevel& level, std::ptrdiff_t index) {
        return Load4(static_cast<const float*>(level.texels) + 4 * index);
    }
};

void Border(const Sampler& s, float* out) {
    for (int c = 0; c < 4; ++c) out[c] = std::bit_cast<float>(s.data[kBorder + c]);
}
Float4 BorderVector(const Sampler& s) {
    float border[4];
    Border(s, border);
    return Load4(border);
}

// One texel as four lanes (red, green, blue, alpha), the border colour outside the level.
template <class T, class AU, class AV>
Float4 FetchVector2D(const Sampler& s, const SamplingLevel& l, int x, int y) {
    int ax = AU::Apply(s, 0, x, l.width);
    int ay = AV::Apply(s, 1, y, l.height);
    if (ax < 0 || ay < 0) return BorderVector(s);
    return T::LoadVector(s, l, ay * l.rowStride + ax);
}

template <class T, class AU, class AV>
void Fetch2D(const Sampler& s, const SamplingLevel& l, int x, int y, float* out) {
    int ax = AU::Apply(s, 0, x, l.width);
    int ay = AV::Apply(s, 1, y, l.height);
    if (ax < 0 || ay < 0) return Border(s, out);
    T::Load(s, l, ay * l.rowStride + ax, out);
}

// One level: the texel under (u, v), or the bilinear blend of the four around it.
template <class T, class AU, class AV>
void SampleLevel2D(const Sampler& s, const SamplingLevel& l, float u, float v, bool linear, float* out) {
    float fu = u * static_cast<float>(l.width), fv = v * static_cast<float>(l.height);
    if (!linear) return Fetch2D<T, AU, AV>(s, l, FloorToInt(fu), FloorToInt(fv), out);
    fu -= 0.5f;
    fv -= 0.5f;
    int x = FloorToInt(fu), y = FloorToInt(fv);
    float ax = fu - std::floor(fu), ay = fv - std::floor(fv);
    if (!(ax >= 0.0f && ax <= 1.0f)) ax = 0.0f;
    if (!(ay >= 0.0f && ay <= 1.0f)) ay = 0.0f;
    const Float4 t00 = FetchVector2D<T, AU, AV>(s, l, x, y), t10 = FetchVector2D<T, AU, AV>(s, l, x + 1, y);
    const Float4 t01 = FetchVector2D<T, AU, AV>(s, l, x, y + 1), t11 = FetchVector2D<T, AU, AV>(s, l, x + 1, y + 1);
    const Float4 top = t00 + (t10 - t00) * Splat4(ax);
    const Float4 bottom = t01 + (t11 - t01) * Splat4(ax);
    Store4(top + (bottom - top) * Splat4(ay), out);
}

// The levels a level of detail selects: level0, and with blend > 0 also level0 + 1; `linear` is the
// filter within the level (magnification below lod 0, minification above).
struct LevelChoice {
    int level0;
    float blend;
    bool minify;
};

LevelChoice ChooseLevels(const Sampler& s, float lod, int mip) {
    float l = lod + s.lodBias;
    if (l != l) l = 0.0f;
    int base = static_cast<int>(s.maxLevel);
    int last = static_cast<int>(s.levelCount) - 1;
    if (l <= 0.0f || mip == kMipNone) return {base, 0.0f, l > 0.0f};
    if (mip == kMipPoint) {
        float nearest = std::floor(std::min(l, 64.0f) + 0.5f);
        return {std::clamp(static_cast<int>(nearest), base, last), 0.0f, true};
    }
    float clamped = std::clamp(l, static_cast<float>(base), static_cast<float>(last));
    int level0 = static_cast<int>(std::floor(clamped));
    return {level0, level0 < last ? clamped - static_cast<float>(level0) : 0.0f, true};
}

template <class T, class AU, class AV, bool MagLinear, bool MinLinear, int Mip>
void Sample2D(const Sampler& s, float u, float v, float, float lod, float rgba[4]) {
    const SamplingView& view = *static_cast<const SamplingView*>(s.texture);
    LevelChoice c = ChooseLevels(s, lod, Mip);
    bool linear = c.minify ? MinLinear : MagLinear;
    SampleLevel2D<T, AU, AV>(s, view.faces[0][c.level0], u, v, linear, rgba);
    if constexpr (Mip == kMipLinear) {
        if (c.blend > 0.0f) {
            float next[4];
            SampleLevel2D<T, AU, AV>(s, view.faces[0][c.level0 + 1], u, v, linear, next);
            for (int i = 0; i < 4; ++i) rgba[i] += (next[i] - rgba[i]) * c.blend;
        }
    }
}

// Every filter combination for one texel kind and address policy pair, indexed [mag][min][mip].
template <class T, class AU, class AV>
struct FilterTable {
    static constexpr Sampler::SampleFn fns[2][2][3] = {
        {{Sample2D<T, AU, AV, false, false, 0>, Sample2D<T, AU, AV, false, false, 1>,
          Sample2D<T, AU, AV, false, false, 2>},
         {Sample2D<T, AU, AV, false, true, 0>, Sample2D<T, AU, AV, false, true, 1>,
          Sample2D<T, AU, AV, false, true, 2>}},
        {{Sample2D<T, AU, AV, true, false, 0>, Sample2D<T, AU, AV, true, false, 1>,
          Sample2D<T, AU, AV, true, false, 2>},
         {Sample2D<T, AU, AV, true, true, 0>, Sample2D<T, AU, AV, true, true, 1>, Sample2D<T, AU, AV, true, true, 2>}},
    };
};

// [address mode when u and v share it, 0 for the sampler's own per-axis modes][mag][min][mip]
template <class T>
Sampler::SampleFn Pick2D(DWORD u, DWORD v, int mag, int min, int mip) {
    if (u != v) return FilterTable<T, SamplerAddress, SamplerAddress>::fns[mag][min][mip];
    switch (u) {  // once per draw, when the sampler is prepared
        case D3DTADDRESS_MIRROR:
            return FilterTable<T, FixedAddress<D3DTADDRESS_MIRROR>, FixedAddress<D3DTADDRESS_MIRROR>>::fns[mag][min][mip];
        case D3DTADDRESS_CLAMP:
            return FilterTable<T, FixedAddress<D3DTADDRESS_CLAMP>, FixedAddress<D3DTADDRESS_CLAMP>>::fns[mag][min][mip];
        case D3DTADDRESS_BORDER:
            return FilterTable<T, FixedAddress<D3DTADDRESS_BORDER>, FixedAddress<D3DTADDRESS_BORDER>>::fns[mag][min][mip];
        case D3DTADDRESS_MIRRORONCE:
            return FilterTable<T, FixedAddress<D3DTADDRESS_MIRRORONCE>,
                               FixedAddress<D3DTADDRESS_MIRRORONCE>>::fns[mag][min][mip];
        default:
            return FilterTable<T, FixedAddress<D3DTADDRESS_WRAP>, FixedAddress<D3DTADDRESS_WRAP>>::fns[mag][min][mip];
    }
}

// ---- Cube textures ----

// The face a direction points at, and the coordinates on it (the platform's face orientation).
void CubeFace(float x, float y, float z, int* face, float* u, float* v) {
    float ax = std::fabs(x), ay = std::fabs(y), az = std::fabs(z);
    float s, t, major;
    if (ax >= ay && ax >= az) {
        *face = x >= 0.0f ? 0 : 1;
        major = ax;
        s = x >= 0.0f ? -z : z;
        t = -y;
    } else if (ay >= az) {
        *face = y >= 0.0f ? 2 : 3;
        major = ay;
        s = x;
        t = y >= 0.0f ? z : -z;
    } else {
        *face = z >= 0.0f ? 4 : 5;
        major = az;
        s = z >= 0.0f ? x : -x;
        t = -y;
    }
    if (!(major > 0.0f)) major = 1.0f;
    *u = (s / major + 1.0f) * 0.5f;
    *v = (t / major + 1.0f) * 0.5f;
}

template <class T>
void SampleCube(const Sampler& s, float x, float y, float z, float lod, float rgba[4]) {
    using Clamp = FixedAddress<D3DTADDRESS_CLAMP>;
    const SamplingView& view = *static_cast<const SamplingView*>(s.texture);
    int face;
    float u, v;
    CubeFace(x, y, z, &face, &u, &v);
    LevelChoice c = ChooseLevels(s, lod, static_cast<int>(s.data[kMipFilter]));
    bool linear = s.data[c.minify ? kMinLinear : kMagLinear] != 0;
    SampleLevel2D<T, Clamp, Clamp>(s, view.faces[face][c.level0], u, v, linear, rgba);
    if (c.blend > 0.0f) {
        float next[4];
        SampleLevel2D<T, Clamp, Clamp>(s, view.faces[face][c.level0 + 1], u, v, linear, next);
        for (int i = 0; i < 4; ++i) rgba[i] += (next[i] - rgba[i]) * c.blend;
    }
}

// ---- Volume textures ----

template <class T>
void Fetch3D(const Sampler& s, const SamplingLevel& l, int x, int y, int z, float* out) {
    int ax = SamplerAddress::Apply(s, 0, x, l.width);
    int ay = SamplerAddress::Apply(s, 1, y, l.height);
    int az = SamplerAddress::Apply(s, 2, z, l.depth);
    if (ax < 0 || ay < 0 || az < 0) return Border(s, out);
    T::Load(s, l, az * l.sliceStride + ay * l.rowStride + ax, out);
}

template <class T>
void SampleLevel3D(const Sampler& s, const SamplingLevel& l, float u, float v, float w, bool linear, float* out) {
    float f[3] = {u * static_cast<float>(l.width), v * static_cast<float>(l.height), w * static_cast<float>(l.depth)};
    if (!linear) return Fetch3D<T>(s, l, FloorToInt(f[0]), FloorToInt(f[1]), FloorToInt(f[2]), out);
    int i[3];
    float a[3];
    for (int k = 0; k < 3; ++k) {
        f[k] -= 0.5f;
        i[k] = FloorToInt(f[k]);
        a[k] = f[k] - std::floor(f[k]);
        if (!(a[k] >= 0.0f && a[k] <= 1.0f)) a[k] = 0.0f;
    }
    for (int c = 0; c < 4; ++c) out[c] = 0.0f;
    for (int corner = 0; corner < 8; ++corner) {
        int dx = corner & 1, dy = (corner >> 1) & 1, dz = corner >> 2;
        float weight = (dx ? a[0] : 1.0f - a[0]) * (dy ? a[1] : 1.0f - a[1]) * (dz ? a[2] : 1.0f - a[2]);
        float t[4];
        Fetch3D<T>(s, l, i[0] + dx, i[1] + dy, i[2] + dz, t);
        for (int c = 0; c < 4; ++c) out[c] += t[c] * weight;
    }
}

template <class T>
void SampleVolume(const Sampler& s, float u, float v, float w, float lod, float rgba[4]) {
    const SamplingView& view = *static_cast<const SamplingView*>(s.texture);
    LevelChoice c = ChooseLevels(s, lod, static_cast<int>(s.data[kMipFilter]));
    bool linear = s.data[c.minify ? kMinLinear : kMagLinear] != 0;
    SampleLevel3D<T>(s, view.faces[0][c.level0], u, v, w, linear, rgba);
    if (c.blend > 0.0f) {
        float next[4];
        SampleLevel3D<T>(s, view.faces[0][c.level0 + 1], u, v, w, linear, next);
        for (int i = 0; i < 4; ++i) rgba[i] += (next[i] - rgba[i]) * c.blend;
    }
}

void SampleWhite(const Sampler&, float, float, float, float, float rgba[4]) {
    rgba[0] = rgba[1] = rgba[2] = rgba[3] = 1.0f;
}

DWORD AddressMode(DWORD value) {
    return value >= D3DTADDRESS_WRAP && value <= D3DTADDRESS_MIRRORONCE ? value : D3DTADDRESS_WRAP;
}

// Anisotropic and the other filters beyond linear filter linearly; NONE filters by nearest texel.
int Linear(DWORD filter) { return filter >= D3DTEXF_LINEAR ? 1 : 0; }

}  // namespace

void PrepareSampler(const DeviceState& state, DWORD stage, Sampler* sampler) {
    *sampler = Sampler{};
    sampler->sample = SampleWhite;
    int slot = SamplerSlot(stage);
    if (slot < 0) return;
    IDirect3DBaseTexture9* texture = state.textures[static_cast<std::size_t>(slot)].Get();
    TextureCore* core = texture != nullptr ? CoreOf(texture) : nullptr;
    const SamplingView* view = core != nullptr ? core->PrepareSampling() : nullptr;
    if (view == nullptr) return;
    const auto& ss = state.samplerStates[static_cast<std::size_t>(slot)];

    sampler->texture = view;
    sampler->width = core->Width(0);
    sampler->height = core->Height(0);
    sampler->depth = core->Type() == D3DRTYPE_VOLUMETEXTURE ? core->Depth(0) : 1;
    sampler->levelCount = view->levelCount;
    float bias = std::bit_cast<float>(ss[D3DSAMP_MIPMAPLODBIAS]);
    sampler->lodBias = std::isfinite(bias) ? bias : 0.0f;
    DWORD base = std::max<DWORD>(ss[D3DSAMP_MAXMIPLEVEL], view->firstLevel);
    sampler->maxLevel = static_cast<float>(std::min<DWORD>(base, view->levelCount - 1));

    D3DCOLOR border = ss[D3DSAMP_BORDERCOLOR];
    float borderRgba[4] = {static_cast<float>((border >> 16) & 255) / 255.0f,
                           static_cast<float>((border >> 8) & 255) / 255.0f, static_cast<float>(border & 255) / 255.0f,
                           static_cast<float>(border >> 24) / 255.0f};
    for (int c = 0; c < 4; ++c) sampler->data[kBorder + c] = std::bit_cast<std::uint32_t>(borderRgba[c]);
    DWORD u = AddressMode(ss[D3DSAMP_ADDRESSU]), v = AddressMode(ss[D3DSAMP_ADDRESSV]);
    sampler->data[kAddress + 0] = u;
    sampler->data[kAddress + 1] = v;
    sampler->data[kAddress + 2] = AddressMode(ss[D3DSAMP_ADDRESSW]);
    int mag = Linear(ss[D3DSAMP_MAGFILTER]), min = Linear(ss[D3DSAMP_MINFILTER]);
    DWORD mipState = ss[D3DSAMP_MIPFILTER];
    int mip = mipState == D3DTEXF_NONE ? kMipNone : mipState == D3DTEXF_POINT ? kMipPoint : kMipLinear;
    sampler->data[kMagLinear] = static_cast<std::uint32_t>(mag);
    sampler->data[kMinLinear] = static_cast<std::uint32_t>(min);
    sampler->data[kMipFilter] = static_cast<std::uint32_t>(mip);
    sampler->data[kAlphaOr] = view->alphaOr;

    bool floats = view->kind == TexelKind::kFloat;
    bool oneAddress = u == v && (u == D3DTADDRESS_WRAP || u == D3DTADDRESS_CLAMP);
    if (core->Type() == D3DRTYPE_TEXTURE && !floats && oneAddress && mag == min) {
        const SamplingLevel& level = view->faces[0][static_cast<std::size_t>(sampler->maxLevel)];
        bool wrap = u == D3DTADDRESS_WRAP;
        auto mask = [&](std::int32_t n) { return wrap && (n & (n - 1)) == 0 ? n - 1 : -1; };
        sampler->direct = DirectTexels{static_cast<const std::uint32_t*>(level.texels), level.width, level.height,
                                       mask(level.width), mask(level.height), level.rowStride, view->alphaOr, wrap,
                                       mag != 0};
    }
    switch (core->Type()) {
        case D3DRTYPE_CUBETEXTURE:
            sampler->sample = floats ? SampleCube<FloatTexels> : SampleCube<Bgra8Texels>;
            break;
        case D3DRTYPE_VOLUMETEXTURE:
            sampler->sample = floats ? SampleVolume<FloatTexels> : SampleVolume<Bgra8Texels>;
            break;
        default:
            sampler->sample = floats ? Pick2D<FloatTexels>(u, v, mag, min, mip) : Pick2D<Bgra8Texels>(u, v, mag, min, mip);
            break;
    }
}

}  // namespace qm::d3d9
