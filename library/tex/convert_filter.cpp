// convert_filter.cpp: ConvertAndFilter and its strategies: raw copy, same-size conversion, crop,
// point sampling, 2:1 box reduction (packed integer paths, SSE2 for 8-bit ARGB), bilinear and
// tent (triangle) resampling with separable weights, in 2D and 3D. Work is done row by row.
#include "library/tex/convert_filter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "library/tex/dxt_codec.h"
#include "library/tex/format_codec.h"
#include "platform/win/results.h"
#include "platform/win/sysinfo.h"

#if !defined(QM_FORCE_SCALAR) || !QM_FORCE_SCALAR
#if defined(__SSE2__)
#include <emmintrin.h>
#define QM_TEX_SSE2 1
#endif
#endif

namespace qm {
namespace {

// Everything a strategy needs: both codecs, the sizes and the filter word.
struct Job {
    FormatCodec& src;
    FormatCodec& dst;
    DWORD filter;
    UINT sw, sh, sd, dw, dh, dd;

    DWORD Kind() const { return filter & kFilterKindMask; }
    bool Mirror(DWORD flag) const { return (filter & flag) != 0; }
    bool SameSize() const { return sw == dw && sh == dh && sd == dd; }
};

constexpr HRESULT kNotApplicable = E_FAIL;

// ---- 1. Raw copy ----

HRESULT RawCopy(Job& job) {
    FormatCodec& s = job.src;
    FormatCodec& d = job.dst;
    if (s.Format() != d.Format() || s.HasColorKey() || !job.SameSize() || s.ColorSpace() != d.ColorSpace()) {
        return kNotApplicable;
    }
    if (s.Palettized() && !std::equal(s.PaletteColors(), s.PaletteColors() + 256, d.PaletteColors())) {
        return kNotApplicable;
    }
    const PixelBox& sb = s.Box();
    const PixelBox& db = d.Box();
    switch (s.Info().layout) {
    case CodecLayout::Packed:
        for (UINT z = 0; z < job.sd; ++z) {
            for (UINT y = 0; y < job.sh; ++y) std::memmove(d.RowAddress(y, z), s.RowAddress(y, z), s.RowBytes());
        }
        return S_OK;
    case CodecLayout::TwoPixel: {
        // Whole pairs only: both boxes start on a pair and end on a pair or at the image's edge.
        auto pairs = [](const PixelBox& b) {
            return b.box.left % 2 == 0 && (b.box.right % 2 == 0 || b.box.right == b.extent.right);
        };
        if (!pairs(sb) || !pairs(db)) return kNotApplicable;
        const std::size_t bytes = static_cast<std::size_t>((job.sw + 1) / 2) * 4;
        for (UINT z = 0; z < job.sd; ++z) {
            for (UINT y = 0; y < job.sh; ++y) {
                std::memmove(db.pixels + static_cast<std::size_t>(db.box.front + z) * db.slicePitch +
                                 static_cast<std::size_t>(db.box.top + y) * db.rowPitch + db.box.left / 2 * 4,
                             sb.pixels + static_cast<std::size_t>(sb.box.front + z) * sb.slicePitch +
                                 static_cast<std::size_t>(sb.box.top + y) * sb.rowPitch + sb.box.left / 2 * 4,
                             bytes);
            }
        }
        return S_OK;
    }
    case CodecLayout::Block: {
        // Whole blocks only: both boxes start on a block and end on a block or at the image's edge.
        auto blocks = [](const PixelBox& b) {
            return b.box.left % 4 == 0 && b.box.top % 4 == 0 &&
                   (b.box.right % 4 == 0 || b.box.right == b.extent.right) &&
                   (b.box.bottom % 4 == 0 || b.box.bottom == b.extent.bottom);
        };
        if (!blocks(sb) || !blocks(db)) return kNotApplicable;
        const UINT blockBytes = DxtBlockBytes(s.Format());
        const std::size_t rowBytes = static_cast<std::size_t>((job.sw + 3) / 4) * blockBytes;
        for (UINT z = 0; z < job.sd; ++z) {
            for (UINT by = 0; by < (job.sh + 3) / 4; ++by) {
                std::memmove(db.pixels + static_cast<std::size_t>(db.box.front + z) * db.slicePitch +
                                 static_cast<std::size_t>(db.box.top / 4 + by) * db.rowPitch +
                                 static_cast<std::size_t>(db.box.left / 4) * blockBytes,
                             sb.pixels + static_cast<std::size_t>(sb.box.front + z) * sb.slicePitch +
                                 static_cast<std::size_t>(sb.box.top / 4 + by) * sb.rowPitch +
                                 static_cast<std::size_t>(sb.box.left / 4) * blockBytes,
                             rowBytes);
            }
        }
        return S_OK;
    }
    }
    return kNotApplicable;
}

// ---- 2. Same size ----

HRESULT SameSize(Job& job) {
    if (!job.SameSize()) return kNotApplicable;
    std::vector<Rgba> row(job.sw);
    if (job.src.ColorSpace() && job.dst.ColorSpace()) {
        job.src.ClearColorSpace();
        job.dst.ClearColorSpace();
    }
    for (UINT z = 0; z < job.sd; ++z) {
        for (UINT y = 0; y < job.sh; ++y) {
            job.src.ReadRow(y, z, row.data());
            job.dst.WriteRow(y, z, row.data());
        }
    }
    return S_OK;
}

// ---- 3. FILTER_NONE ----

HRESULT Crop(Job& job) {
    if (job.Kind() != FILTER_NONE) return kNotApplicable;
    std::vector<Rgba> row(std::max(job.sw, job.dw));
    for (UINT z = 0; z < job.dd; ++z) {
        for (UINT y = 0; y < job.dh; ++y) {
            std::fill(row.begin(), row.end(), Rgba{});
            if (z < job.sd && y < job.sh) {
                job.src.ReadRow(y, z, row.data());
                std::fill(row.begin() + std::min(job.sw, job.dw), row.end(), Rgba{});
            }
            job.dst.WriteRow(y, z, row.data());
        }
    }
    return S_OK;
}

// ---- 4. FILTER_POINT ----

HRESULT Point(Job& job) {
    if (job.Kind() != FILTER_POINT) return kNotApplicable;
    auto step = [](UINT s, UINT d) { return d == 0 ? 0ull : (static_cast<std::uint64_t>(s) << 16) / d; };
    const std::uint64_t sx = step(job.sw, job.dw), sy = step(job.sh, job.dh), sz = step(job.sd, job.dd);
    std::vector<UINT> columns(job.dw);
    std::uint64_t acc = 0;
    for (UINT x = 0; x < job.dw; ++x, acc += sx) columns[x] = static_cast<UINT>(acc >> 16);
    std::vector<Rgba> source(job.sw), row(job.dw);
    std::uint64_t accZ = 0;
    long loadedY = -1, loadedZ = -1;
    for (UINT z = 0; z < job.dd; ++z, accZ += sz) {
        const long srcZ = static_cast<long>(accZ >> 16);
        std::uint64_t accY = 0;
        for (UINT y = 0; y < job.dh; ++y, accY += sy) {
            const long srcY = static_cast<long>(accY >> 16);
            if (srcY != loadedY || srcZ != loadedZ) {
                job.src.ReadRow(static_cast<UINT>(srcY), static_cast<UINT>(srcZ), source.data());
                loadedY = srcY, loadedZ = srcZ;
            }
            for (UINT x = 0; x < job.dw; ++x) row[x] = source[columns[x]];
            job.dst.WriteRow(y, z, row.data());
        }
    }
    return S_OK;
}

// ---- 5, 6. FILTER_BOX 2:1 ----

// True when d is the 2:1 reduction of s (an odd s above 1 losing its last element), or both are 1.
bool Halves(UINT s, UINT d) { return (s >= 2 && d == s / 2) || (s == 1 && d == 1); }

// Packed formats whose 2:1 reduction runs on integers: bytes per pixel and channel fields.
struct IntegerBoxLayout {
    D3DFORMAT format;
    UINT bytes;
    bool argbRow;  // four 8-bit channels: the row routine handles it
    struct Field {
        std::uint8_t shift, bits;
    } fields[4];
    int fieldCount;
};

constexpr IntegerBoxLayout kIntegerBoxLayouts[] = {
    {D3DFMT_A8R8G8B8, 4, true, {}, 0},
    {D3DFMT_X8R8G8B8, 4, true, {}, 0},
    {D3DFMT_A8B8G8R8, 4, true, {}, 0},
    {D3DFMT_X8B8G8R8, 4, true, {}, 0},
    {D3DFMT_R5G6B5, 2, false, {{11, 5}, {5, 6}, {0, 5}}, 3},
    {D3DFMT_X1R5G5B5, 2, false, {{10, 5}, {5, 5}, {0, 5}}, 3},
    {D3DFMT_A1R5G5B5, 2, false, {{10, 5}, {5, 5}, {0, 5}, {15, 1}}, 4},
    {D3DFMT_A4R4G4B4, 2, false, {{8, 4}, {4, 4}, {0, 4}, {12, 4}}, 4},
    {D3DFMT_X4R4G4B4, 2, false, {{8, 4}, {4, 4}, {0, 4}}, 3},
    {D3DFMT_R3G3B2, 1, false, {{5, 3}, {2, 3}, {0, 2}}, 3},
    {D3DFMT_A8R3G3B2, 2, false, {{5, 3}, {2, 3}, {0, 2}, {8, 8}}, 4},
    {D3DFMT_A8, 1, false, {{0, 8}}, 1},
    {D3DFMT_L8, 1, false, {{0, 8}}, 1},
    {D3DFMT_A8L8, 2, false, {{0, 8}, {8, 8}}, 2},
    {D3DFMT_A4L4, 1, false, {{0, 4}, {4, 4}}, 2},
};

const IntegerBoxLayout* FindIntegerBoxLayout(D3DFORMAT format) {
    for (const IntegerBoxLayout& layout : kIntegerBoxLayouts) {
        if (layout.format == format) return &layout;
    }
    return nullptr;
}

std::uint32_t LoadPixel(const BYTE* p, UINT bytes) {
    std::uint32_t v = 0;
    std::memcpy(&v, p, bytes);
    return v;
}

void IntegerBoxRow(const IntegerBoxLayout& layout, BYTE* out, const BYTE* row0, const BYTE* row1, UINT count) {
    const UINT n = layout.bytes;
    for (UINT x = 0; x < count; ++x) {
        const std::uint32_t a = LoadPixel(row0 + 2 * x * n, n), b = LoadPixel(row0 + (2 * x + 1) * n, n);
        const std::uint32_t c = LoadPixel(row1 + 2 * x * n, n), d = LoadPixel(row1 + (2 * x + 1) * n, n);
        std::uint32_t v = 0;
        for (int f = 0; f < layout.fieldCount; ++f) {
            const UINT shift = layout.fields[f].shift;
            const std::uint32_t mask = (1u << layout.fields[f].bits) - 1;
            const std::uint32_t sum = ((a >> shift) & mask) + ((b >> shift) & mask) + ((c >> shift) & mask) +
                                      ((d >> shift) & mask) + 2;
            v |= (sum >> 2) << shift;
        }
        std::memcpy(out + x * n, &v, n);
    }
}

HRESULT IntegerBox2D(Job& job) {
    const IntegerBoxLayout* layout = FindIntegerBoxLayout(job.src.Format());
    if (layout == nullptr || job.dst.Dither() || job.src.Format() != job.dst.Format() || job.sw < 2 || job.sh < 2 ||
        job.src.ColorSpace() || job.dst.ColorSpace() || job.src.HasColorKey()) {
        return kNotApplicable;
    }
    for (UINT y = 0; y < job.dh; ++y) {
        const BYTE* row0 = job.src.RowAddress(2 * y, 0);
        const BYTE* row1 = job.src.RowAddress(2 * y + 1, 0);
        BYTE* out = job.dst.RowAddress(y, 0);
        if (layout->argbRow && reinterpret_cast<std::uintptr_t>(row0) % 4 == 0 &&
            reinterpret_cast<std::uintptr_t>(row1) % 4 == 0 && reinterpret_cast<std::uintptr_t>(out) % 4 == 0) {
            BoxReduceArgbRow(reinterpret_cast<DWORD*>(out), reinterpret_cast<const DWORD*>(row0),
                             reinterpret_cast<const DWORD*>(row1), job.dw);
        } else if (layout->argbRow) {
            static constexpr IntegerBoxLayout kBytes = {D3DFMT_A8R8G8B8, 4, false, {{0, 8}, {8, 8}, {16, 8}, {24, 8}}, 4};
            IntegerBoxRow(kBytes, out, row0, row1, job.dw);
        } else {
            IntegerBoxRow(*layout, out, row0, row1, job.dw);
        }
    }
    return S_OK;
}

Rgba Mean4(const Rgba& a, const Rgba& b, const Rgba& c, const Rgba& d) {
    return {(a.r + b.r + c.r + d.r) * 0.25f, (a.g + b.g + c.g + d.g) * 0.25f, (a.b + b.b + c.b + d.b) * 0.25f,
            (a.a + b.a + c.a + d.a) * 0.25f};
}

// Each output pixel is the mean of the 2 x 2 block of each of the two rows given (which may be one).
void BoxRow(Rgba* out, const Rgba* row0, const Rgba* row1, UINT dw, UINT sw) {
    for (UINT x = 0; x < dw; ++x) {
        const UINT x0 = sw == 1 ? 0 : 2 * x, x1 = sw == 1 ? 0 : 2 * x + 1;
        out[x] = Mean4(row0[x0], row0[x1], row1[x0], row1[x1]);
    }
}

HRESULT Box2D(Job& job) {
    if (job.Kind() != FILTER_BOX || job.sd != 1 || job.dd != 1 || !Halves(job.sw, job.dw) || !Halves(job.sh, job.dh)) {
        return kNotApplicable;
    }
    if (IntegerBox2D(job) == S_OK) return S_OK;
    std::vector<Rgba> row0(job.sw), row1(job.sw), out(job.dw);
    for (UINT y = 0; y < job.dh; ++y) {
        job.src.ReadRow(job.sh == 1 ? 0 : 2 * y, 0, row0.data());
        if (job.sh == 1) {
            BoxRow(out.data(), row0.data(), row0.data(), job.dw, job.sw);
        } else {
            job.src.ReadRow(2 * y + 1, 0, row1.data());
            BoxRow(out.data(), row0.data(), row1.data(), job.dw, job.sw);
        }
        job.dst.WriteRow(y, 0, out.data());
    }
    return S_OK;
}

HRESULT Box3D(Job& job) {
    if (job.Kind() != FILTER_BOX || !(job.sd >= 2 && job.dd == job.sd / 2) || !Halves(job.sw, job.dw) ||
        !Halves(job.sh, job.dh)) {
        return kNotApplicable;
    }
    std::vector<Rgba> rows[4], front(job.dw), back(job.dw);
    for (auto& row : rows) row.resize(job.sw);
    for (UINT z = 0; z < job.dd; ++z) {
        for (UINT y = 0; y < job.dh; ++y) {
            const UINT y0 = job.sh == 1 ? 0 : 2 * y, y1 = job.sh == 1 ? 0 : 2 * y + 1;
            job.src.ReadRow(y0, 2 * z, rows[0].data());
            job.src.ReadRow(y1, 2 * z, rows[1].data());
            job.src.ReadRow(y0, 2 * z + 1, rows[2].data());
            job.src.ReadRow(y1, 2 * z + 1, rows[3].data());
            BoxRow(front.data(), rows[0].data(), rows[1].data(), job.dw, job.sw);
            BoxRow(back.data(), rows[2].data(), rows[3].data(), job.dw, job.sw);
            for (UINT x = 0; x < job.dw; ++x) {
                const Rgba& f = front[x];
                const Rgba& b = back[x];
                front[x] = {(f.r + b.r) * 0.5f, (f.g + b.g) * 0.5f, (f.b + b.b) * 0.5f, (f.a + b.a) * 0.5f};
            }
            job.dst.WriteRow(y, z, front.data());
        }
    }
    return S_OK;
}

// ---- 7, 8. FILTER_LINEAR ----

// The two source samples of one destination index and their weights.
struct LinearTap {
    UINT i0, i1;
    float w0, w1;
};

std::vector<LinearTap> LinearTaps(UINT s, UINT d, bool mirror) {
    std::vector<LinearTap> taps(d);
    auto fix = [&](long k) -> UINT {
        if (k < 0) return mirror ? 0 : s - 1;
        if (k >= static_cast<long>(s)) return mirror ? s - 1 : 0;
        return static_cast<UINT>(k);
    };
    for (UINT i = 0; i < d; ++i) {
        const double t = (i + 0.5) * static_cast<double>(s) / static_cast<double>(d) + 0.5;
        const long k = static_cast<long>(std::floor(t));
        taps[i] = {fix(k - 1), fix(k), static_cast<float>((k + 1) - t), static_cast<float>(t - k)};
    }
    return taps;
}

// A few decoded source rows, each read once while it stays in use.
class RowCache {
public:
    RowCache(FormatCodec& codec, UINT slots) : codec_(codec), keys_(slots, ~0ull), rows_(slots) {
        for (auto& row : rows_) row.resize(codec.Width());
    }

    // The row (y, z); the keys in 'keep' are not evicted to make room for it.
    const Rgba* Get(UINT y, UINT z, const std::uint64_t* keep, int keepCount) {
        const std::uint64_t key = (static_cast<std::uint64_t>(z) << 32) | y;
        for (std::size_t i = 0; i < keys_.size(); ++i) {
            if (keys_[i] == key) return rows_[i].data();
        }
        std::size_t victim = 0;
        for (std::size_t i = 0; i < keys_.size(); ++i) {
            if (std::find(keep, keep + keepCount, keys_[i]) == keep + keepCount) {
                victim = i;
                break;
            }
        }
        keys_[victim] = key;
        codec_.ReadRow(y, z, rows_[victim].data());
        return rows_[victim].data();
    }

    static std::uint64_t Key(UINT y, UINT z) { return (static_cast<std::uint64_t>(z) << 32) | y; }

private:
    FormatCodec& codec_;
    std::vector<std::uint64_t> keys_;
    std::vector<std::vector<Rgba>> rows_;
};

HRESULT Linear(Job& job) {
    if (job.Kind() != FILTER_LINEAR) return kNotApplicable;
    const bool flat = job.sd == 1 && job.dd == 1;
    const std::vector<LinearTap> tx = LinearTaps(job.sw, job.dw, job.Mirror(FILTER_MIRROR_U));
    const std::vector<LinearTap> ty = LinearTaps(job.sh, job.dh, job.Mirror(FILTER_MIRROR_V));
    const std::vector<LinearTap> tz =
        flat ? std::vector<LinearTap>{{0, 0, 1.0f, 0.0f}} : LinearTaps(job.sd, job.dd, job.Mirror(FILTER_MIRROR_W));
    RowCache cache(job.src, flat ? 2 : 4);
    std::vector<Rgba> out(job.dw);
    for (UINT z = 0; z < job.dd; ++z) {
        const LinearTap& lz = tz[z];
        for (UINT y = 0; y < job.dh; ++y) {
            const LinearTap& ly = ty[y];
            const std::uint64_t keep[4] = {RowCache::Key(ly.i0, lz.i0), RowCache::Key(ly.i1, lz.i0),
                                           RowCache::Key(ly.i0, lz.i1), RowCache::Key(ly.i1, lz.i1)};
            const int keepCount = flat ? 2 : 4;
            const Rgba* rows[4];
            const float weights[4] = {ly.w0 * lz.w0, ly.w1 * lz.w0, ly.w0 * lz.w1, ly.w1 * lz.w1};
            for (int k = 0; k < keepCount; ++k) {
                rows[k] = cache.Get(static_cast<UINT>(keep[k] & 0xFFFFFFFF), static_cast<UINT>(keep[k] >> 32), keep,
                                    keepCount);
            }
            for (UINT x = 0; x < job.dw; ++x) {
                const LinearTap& lx = tx[x];
                Rgba sum;
                for (int k = 0; k < keepCount; ++k) {
                    const Rgba& a = rows[k][lx.i0];
                    const Rgba& b = rows[k][lx.i1];
                    const float wa = weights[k] * lx.w0, wb = weights[k] * lx.w1;
                    sum.r += wa * a.r + wb * b.r;
                    sum.g += wa * a.g + wb * b.g;
                    sum.b += wa * a.b + wb * b.b;
                    sum.a += wa * a.a + wb * b.a;
                }
                out[x] = sum;
            }
            job.dst.WriteRow(y, z, out.data());
        }
    }
    return S_OK;
}

// ---- 9, 10. Tent (triangle) ----

// For every source index, the destination indices it contributes to and their weights.
struct TentWeights {
    std::vector<UINT> first;  // entries of source i are [first[i], first[i + 1])
    std::vector<UINT> index;
    std::vector<float> weight;
    std::vector<long> lastSource;  // for every destination index, the last source contributing (-1: none)
};

TentWeights MakeTentWeights(UINT s, UINT d, bool mirror) {
    TentWeights w;
    w.first.reserve(s + 1);
    w.lastSource.assign(d, -1);
    const bool wrap = !mirror;
    const double scale = static_cast<double>(d) / static_cast<double>(s);
    std::vector<double> sums(d, 0.0);
    std::vector<UINT> touched;
    for (UINT i = 0; i < s; ++i) {
        w.first.push_back(static_cast<UINT>(w.index.size()));
        touched.clear();
        for (int h = 0; h < 2; ++h) {
            const double p = static_cast<double>(i) + h - 0.5;
            double a = p * scale, b = a + scale;
            if (!wrap) a = std::max(a, 0.0), b = std::min(b, static_cast<double>(d));
            for (long j = static_cast<long>(std::floor(a)); static_cast<double>(j) < b; ++j) {
                const double lo = std::max(a, static_cast<double>(j)), hi = std::min(b, static_cast<double>(j + 1));
                if (hi <= lo) continue;
                double f = (hi + lo) * 0.5 / scale - p;
                if (!wrap && i == 0 && h == 0) f = 1.0;
                if (!wrap && i == s - 1 && h == 1) f = 0.0;
                if (h == 1) f = 1.0 - f;
                const long dd = static_cast<long>(d);
                const UINT cell = static_cast<UINT>(wrap ? ((j % dd) + dd) % dd : j);
                if (sums[cell] == 0.0) touched.push_back(cell);
                sums[cell] += (hi - lo) * f;
            }
        }
        std::sort(touched.begin(), touched.end());
        for (UINT cell : touched) {
            if (sums[cell] > 0.00001) {
                w.index.push_back(cell);
                w.weight.push_back(static_cast<float>(sums[cell]));
                w.lastSource[cell] = static_cast<long>(i);
            }
            sums[cell] = 0.0;
        }
    }
    w.first.push_back(static_cast<UINT>(w.index.size()));
    return w;
}

HRESULT Tent(Job& job) {
    const bool flat = job.sd == 1 && job.dd == 1;
    const TentWeights wx = MakeTentWeights(job.sw, job.dw, job.Mirror(FILTER_MIRROR_U));
    const TentWeights wy = MakeTentWeights(job.sh, job.dh, job.Mirror(FILTER_MIRROR_V));
    TentWeights wz;
    if (flat) {
        wz.first = {0, 1};
        wz.index = {0};
        wz.weight = {1.0f};
        wz.lastSource = {0};
    } else {
        wz = MakeTentWeights(job.sd, job.dd, job.Mirror(FILTER_MIRROR_W));
    }
    // Pending destination rows, keyed by slice and row; buffers are reused once a row is written.
    struct Pending {
        std::vector<Rgba> values;
        bool active = false;
        bool written = false;
    };
    std::vector<Pending> pending(static_cast<std::size_t>(job.dd) * job.dh);
    std::vector<std::vector<Rgba>> spare;
    auto rowOf = [&](UINT dz, UINT dy) -> Pending& { return pending[static_cast<std::size_t>(dz) * job.dh + dy]; };
    auto activate = [&](Pending& p) {
        if (p.active) return;
        if (!spare.empty()) {
            p.values = std::move(spare.back());
            spare.pop_back();
        }
        p.values.assign(job.dw, Rgba{});
        p.active = true;
    };
    const ValueClass sourceClass = job.src.Class();
    auto finish = [&](UINT dz, UINT dy) {
        Pending& p = rowOf(dz, dy);
        activate(p);
        ClampToValueClass(p.values, sourceClass);
        job.dst.WriteRow(dy, dz, p.values.data());
        p.written = true;
        p.active = false;
        spare.push_back(std::move(p.values));
        p.values = {};
    };

    std::vector<Rgba> source(job.sw), horizontal(job.dw);
    for (UINT sz = 0; sz < job.sd; ++sz) {
        for (UINT sy = 0; sy < job.sh; ++sy) {
            job.src.ReadRow(sy, sz, source.data());
            std::fill(horizontal.begin(), horizontal.end(), Rgba{});
            for (UINT x = 0; x < job.sw; ++x) {
                const Rgba& c = source[x];
                for (UINT k = wx.first[x]; k < wx.first[x + 1]; ++k) {
                    Rgba& h = horizontal[wx.index[k]];
                    const float w = wx.weight[k];
                    h.r += w * c.r, h.g += w * c.g, h.b += w * c.b, h.a += w * c.a;
                }
            }
            for (UINT kz = wz.first[sz]; kz < wz.first[sz + 1]; ++kz) {
                const UINT dz = wz.index[kz];
                for (UINT ky = wy.first[sy]; ky < wy.first[sy + 1]; ++ky) {
                    const UINT dy = wy.index[ky];
                    Pending& p = rowOf(dz, dy);
                    activate(p);
                    const float w = wz.weight[kz] * wy.weight[ky];
                    for (UINT x = 0; x < job.dw; ++x) {
                        const Rgba& h = horizontal[x];
                        Rgba& v = p.values[x];
                        v.r += w * h.r, v.g += w * h.g, v.b += w * h.b, v.a += w * h.a;
                    }
                }
            }
            // Rows complete once their last contributing source row (and slice) is added.
            for (UINT kz = wz.first[sz]; kz < wz.first[sz + 1]; ++kz) {
                const UINT dz = wz.index[kz];
                if (wz.lastSource[dz] != static_cast<long>(sz)) continue;
                for (UINT ky = wy.first[sy]; ky < wy.first[sy + 1]; ++ky) {
                    const UINT dy = wy.index[ky];
                    if (wy.lastSource[dy] == static_cast<long>(sy) && !rowOf(dz, dy).written) finish(dz, dy);
                }
            }
        }
    }
    // Rows that no source row reached (or whose slice completed before them) are written now.
    for (UINT dz = 0; dz < job.dd; ++dz) {
        for (UINT dy = 0; dy < job.dh; ++dy) {
            if (!rowOf(dz, dy).written) finish(dz, dy);
        }
    }
    return S_OK;
}

#if QM_TEX_SSE2
void BoxReduceArgbRowSse2(DWORD* out, const DWORD* row0, const DWORD* row1, UINT count) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i two = _mm_set1_epi16(2);
    UINT x = 0;
    for (; x + 4 <= count; x += 4) {
        auto half = [&](const DWORD* a, const DWORD* b) {
            const __m128i top = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
            const __m128i bottom = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
            const __m128i lo = _mm_add_epi16(_mm_unpacklo_epi8(top, zero), _mm_unpacklo_epi8(bottom, zero));
            const __m128i hi = _mm_add_epi16(_mm_unpackhi_epi8(top, zero), _mm_unpackhi_epi8(bottom, zero));
            const __m128i sum = _mm_add_epi16(_mm_unpacklo_epi64(lo, hi), _mm_unpackhi_epi64(lo, hi));
            return _mm_srli_epi16(_mm_add_epi16(sum, two), 2);
        };
        const __m128i first = half(row0 + 2 * x, row1 + 2 * x);
        const __m128i second = half(row0 + 2 * x + 4, row1 + 2 * x + 4);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(first, second));
    }
    if (x < count) BoxReduceArgbRowPortable(out + x, row0 + 2 * x, row1 + 2 * x, count - x);
}
#endif

using BoxRowFn = void (*)(DWORD*, const DWORD*, const DWORD*, UINT);

BoxRowFn ChooseBoxRow() {
#if QM_TEX_SSE2
    if (IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE)) return BoxReduceArgbRowSse2;
#endif
    return BoxReduceArgbRowPortable;
}

}  // namespace

void BoxReduceArgbRowPortable(DWORD* out, const DWORD* row0, const DWORD* row1, UINT count) {
    for (UINT x = 0; x < count; ++x) {
        const DWORD a = row0[2 * x], b = row0[2 * x + 1], c = row1[2 * x], d = row1[2 * x + 1];
        DWORD v = 0;
        for (int shift = 0; shift < 32; shift += 8) {
            const DWORD sum = ((a >> shift) & 0xFF) + ((b >> shift) & 0xFF) + ((c >> shift) & 0xFF) +
                              ((d >> shift) & 0xFF) + 2;
            v |= (sum >> 2) << shift;
        }
        out[x] = v;
    }
}

void BoxReduceArgbRow(DWORD* out, const DWORD* row0, const DWORD* row1, UINT count) {
    static const BoxRowFn chosen = ChooseBoxRow();
    chosen(out, row0, row1, count);
}

HRESULT ConvertAndFilter(const PixelBox& destination, const PixelBox& source, DWORD filter) {
    if (!IsValidFilter(filter)) return D3DERR_INVALIDCALL;
    PixelBox dstBox = destination;
    dstBox.dither = dstBox.dither || (filter & FILTER_DITHER) != 0;
    dstBox.colorSpace = dstBox.colorSpace || (filter & FILTER_SRGB_OUT) != 0;
    PixelBox srcBox = source;
    srcBox.colorSpace = srcBox.colorSpace || (filter & FILTER_SRGB_IN) != 0;
    std::unique_ptr<FormatCodec> src = CreateFormatCodec(srcBox);
    std::unique_ptr<FormatCodec> dst = CreateFormatCodec(dstBox);
    if (!src || !dst) return E_FAIL;
    if (src->Class() != dst->Class() && dst->Class() != ValueClass::Float && !dst->SetConvertFrom(src->Class())) {
        return E_OUTOFMEMORY;
    }
    if (src->ColorSpace() && dst->ColorSpace()) {
        src->SetBothSidesGamma(true);
        dst->SetBothSidesGamma(true);
    }
    Job job{*src, *dst, filter, src->Width(), src->Height(), src->Depth(), dst->Width(), dst->Height(), dst->Depth()};
    if (job.dw == 0 || job.dh == 0 || job.dd == 0) return S_OK;  // nothing to write
    if (job.sw == 0 || job.sh == 0 || job.sd == 0) return E_FAIL;  // nothing to read from

    using Strategy = HRESULT (*)(Job&);
    static constexpr Strategy kStrategies[] = {RawCopy, SameSize, Crop, Point, Box2D, Box3D, Linear, Tent};
    bool outOfMemory = false;
    for (Strategy strategy : kStrategies) {
        try {
            if (strategy(job) == S_OK) return S_OK;
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
        }
    }
    return outOfMemory ? E_OUTOFMEMORY : E_FAIL;
}

}  // namespace qm
