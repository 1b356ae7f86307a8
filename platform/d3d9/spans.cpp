// spans.cpp: span loops instantiated per combination of shading, merging and depth testing, so the
// inner loop carries no per-pixel decisions about state.
#include "platform/d3d9/spans.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "platform/d3d9/simd4.h"

namespace qm::d3d9 {
namespace {


// A term as (diffuse weight w, texel weight v): the term is (d w + 1 - w) (t v + 1 - v), without a
// branch.
struct TermWeights {
    float diffuse;
    float texel;
};
TermWeights Weights(ShadeTerm term) {
    bool d = term == ShadeTerm::kDiffuse || term == ShadeTerm::kProduct;
    bool t = term == ShadeTerm::kTexel || term == ShadeTerm::kProduct;
    return TermWeights{d ? 1.0f : 0.0f, t ? 1.0f : 0.0f};
}

// x / 255 rounded to nearest, for x in [0, 255 * 255].
inline std::uint32_t Divide255(std::uint32_t x) {
    x += 128;
    return (x + (x >> 8)) >> 8;
}

// The same for the two 16-bit fields of x (bits 0-15 and 16-31), each in [0, 255 * 255].
[[gnu::always_inline]] inline std::uint32_t Divide255Pair(std::uint32_t x) {
    x += 0x00800080u;
    return ((x + ((x >> 8) & 0x00FF00FFu)) >> 8) & 0x00FF00FFu;
}

// Channel by channel products of two ARGB words, as 8-bit fractions of 255.
[[gnu::always_inline]] inline std::uint32_t ModulateArgb(std::uint32_t a, std::uint32_t b) {
    auto channel = [&](int shift) { return Divide255(((a >> shift) & 0xFFu) * ((b >> shift) & 0xFFu)) << shift; };
    return channel(0) | channel(8) | channel(16) | channel(24);
}

// Channel by channel sums of the channels in `mask` (0xFF per channel), clamped to 255; the other
// channels keep a's.
[[gnu::always_inline]] inline std::uint32_t AddArgb(std::uint32_t a, std::uint32_t b, std::uint32_t mask) {
    std::uint32_t out = a & ~mask;
    for (int shift = 0; shift < 32; shift += 8) {
        if (((mask >> shift) & 0xFFu) == 0) continue;
        std::uint32_t sum = ((a >> shift) & 0xFFu) + ((b >> shift) & 0xFFu);
        out |= (sum > 255u ? 255u : sum) << shift;
    }
    return out;
}

// src * alpha + dst * (1 - alpha), alpha being src's, for all four channels. Fully transparent and
// fully opaque sources (most pixels of a glyph or a sprite) give dst and src exactly.
[[gnu::always_inline]] inline std::uint32_t BlendArgb(std::uint32_t src, std::uint32_t dst) {
    std::uint32_t a = src >> 24, b = 255u - a;
    if (a == 0) return dst;
    if (a == 255) return src;
    std::uint32_t rb = Divide255Pair((src & 0x00FF00FFu) * a + (dst & 0x00FF00FFu) * b);
    std::uint32_t ag = Divide255Pair(((src >> 8) & 0x00FF00FFu) * a + ((dst >> 8) & 0x00FF00FFu) * b);
    return rb | ag << 8;
}

// The channels of an ARGB word that a term does not read, set to one (0xFF), so that the product of
// a diffuse word and a texel word gives the term: colour in the RGB bytes, alpha in the top byte.
std::uint32_t UnusedChannels(ShadeTerm colour, ShadeTerm alpha, ShadeTerm reader) {
    auto reads = [&](ShadeTerm t) { return t == reader || t == ShadeTerm::kProduct; };
    return (reads(colour) ? 0u : 0x00FFFFFFu) | (reads(alpha) ? 0u : 0xFF000000u);
}

// The texel coordinate of a span's pixels in 32.32 fixed point (texels, bilinear footprints starting
// half a texel back), stepped exactly; false when the coordinates leave the range where that holds.
bool FixedCoordinates(double start, double step, int count, std::int32_t size, bool linear, std::int64_t* fixed,
                      std::int64_t* fixedStep) {
    constexpr double kScale = 4294967296.0, kLimit = 8388608.0;
    double first = start * size - (linear ? 0.5 : 0.0), perPixel = step * size;
    double last = first + perPixel * count;
    if (!(std::fabs(first) < kLimit && std::fabs(last) < kLimit)) return false;
    *fixed = std::llrint(first * kScale);
    *fixedStep = std::llrint(perPixel * kScale);
    return true;
}

// The pixels [x0, x1) of row y for a textured span under one w: depth test, the colour
// colourAt(k, texelAt(k)) of the span's k-th pixel, and the merge. The texel and colour functions are
// chosen per span, so the loop itself holds no decision about state.
template <MergeKind kMerge, DepthKind kDepth, class TexelAt, class ColourAt>
[[gnu::always_inline]] inline void AffineLoop(const SpanContext& c, const FastTargets& targets, int y, int x0, int x1,
                                              float zStart, float zStep, TexelAt texelAt, ColourAt colourAt) {
    auto* colourRow = reinterpret_cast<std::uint32_t*>(targets.colour + static_cast<std::size_t>(y) * targets.colourPitch);
    auto* depthRow = kDepth == DepthKind::kD16
                         ? reinterpret_cast<std::uint16_t*>(targets.depth + static_cast<std::size_t>(y) * targets.depthPitch)
                         : nullptr;
    const std::uint32_t alphaOr = targets.alphaOr;
    for (int x = x0; x < x1; ++x) {
        const int k = x - x0;
        if constexpr (kDepth == DepthKind::kD16) {
            std::uint32_t depth = QuantiseDepth16(zStart + static_cast<float>(k) * zStep);
            if (!Compare(targets.depthFunc, depth, depthRow[x])) continue;
            if (targets.depthWrite) depthRow[x] = static_cast<std::uint16_t>(depth);
        } else if constexpr (kDepth == DepthKind::kGeneral) {
            std::uint32_t depth = c.merger->QuantiseDepth(zStart + static_cast<float>(k) * zStep);
            if (!c.merger->DepthPasses(x, y, depth)) continue;
            c.merger->WriteDepth(x, y, depth);
        }
        std::uint32_t out = colourAt(k, texelAt(k));
        if constexpr (kMerge == MergeKind::kAlphaBlend) {
            out = BlendArgb(out, colourRow[x] | alphaOr);
        } else if constexpr (kMerge == MergeKind::kAdd) {
            out = AddArgb(out, colourRow[x] | alphaOr, 0xFFFFFFFFu);
        }
        colourRow[x] = out | alphaOr;
    }
}

// The loop for one way of reading texels, with the colour computation chosen for the span: the texel
// alone (a constant diffuse that is all ones in the channels it reads), the texel modulated by a
// constant diffuse, or by a diffuse (and specular) that changes along the span.
template <MergeKind kMerge, DepthKind kDepth, class TexelAt>
[[gnu::always_inline]] inline void AffineColours(const SpanContext& c, const FastTargets& targets, int y, int x0, int x1,
                                                 float zStart, float zStep, const float* start, const float* step,
                                                 std::uint32_t diffuseOnes, std::uint32_t texelOnes, TexelAt texelAt) {
    const Float4 diffuseStart = Load4(start + kDiffuseSlot), diffuseStep = Load4(step + kDiffuseSlot);
    const bool constantDiffuse = Lane(diffuseStep, 0) == 0.0f && Lane(diffuseStep, 1) == 0.0f &&
                                 Lane(diffuseStep, 2) == 0.0f && Lane(diffuseStep, 3) == 0.0f;
    const bool specular = c.pixels->Fast().specularAdd;
    if (constantDiffuse && !specular) {
        const std::uint32_t diffuse = PackArgb(Saturate4(diffuseStart)) | diffuseOnes;
        if (diffuse == 0xFFFFFFFFu) {
            // Modulating by one in every channel gives the texel exactly (x * 255 / 255 rounds to x).
            AffineLoop<kMerge, kDepth>(c, targets, y, x0, x1, zStart, zStep, texelAt,
                                       [&](int, std::uint32_t texel) { return texel | texelOnes; });
        } else {
            AffineLoop<kMerge, kDepth>(c, targets, y, x0, x1, zStart, zStep, texelAt, [&](int, std::uint32_t texel) {
                return ModulateArgb(diffuse, texel | texelOnes);
            });
        }
        return;
    }
    auto modulated = [&](int k, std::uint32_t texel) {
        return ModulateArgb(PackArgb(Saturate4(diffuseStart + Splat4(static_cast<float>(k)) * diffuseStep)) | diffuseOnes,
                            texel | texelOnes);
    };
    if (!specular) {
        AffineLoop<kMerge, kDepth>(c, targets, y, x0, x1, zStart, zStep, texelAt, modulated);
        return;
    }
    const Float4 specularStart = Load4(start + kSpecularSlot), specularStep = Load4(step + kSpecularSlot);
    AffineLoop<kMerge, kDepth>(c, targets, y, x0, x1, zStart, zStep, texelAt, [&](int k, std::uint32_t texel) {
        const Float4 added = Saturate4(specularStart + Splat4(static_cast<float>(k)) * specularStep);
        return AddArgb(modulated(k, texel), PackArgb(added), 0x00FFFFFFu);
    });
}

// Textured spans under one w (pre-transformed or orthographic primitives), texels read directly:
// coordinates step in fixed point. start and step are already divided by w. False, drawing
// nothing, when the coordinates are out of the fixed-point range (the caller then draws pixel by
// pixel).
template <MergeKind kMerge, DepthKind kDepth>
bool DrawAffineSpan(const SpanContext& c, const PrimitiveSetup& s, int y, int x0, int x1, float fx, float fy,
                    const float* start, const float* step, std::uint32_t diffuseOnes, std::uint32_t texelOnes) {
    const FastShade& fast = c.pixels->Fast();
    const FastTargets& targets = c.merger->Targets();
    const DirectTexels& t = fast.sampler->direct;
    const int u = fast.coordSlot;
    std::int64_t fu, du, fv, dv;
    if (!FixedCoordinates(start[u], step[u], x1 - x0, t.width, t.linear, &fu, &du) ||
        !FixedCoordinates(start[u + 1], step[u + 1], x1 - x0, t.height, t.linear, &fv, &dv)) {
        return false;
    }
    const float zStart = s.z.c + s.z.dx * fx + s.z.dy * fy;
    // Texels one to one on the pixels (a sprite drawn at its size, on pixel centres): one texel
    // column on per pixel along a single row, and no weight on the neighbours: nearest filtering, or
    // bilinear weights whose 8-bit fractions are both zero, where the blend gives the texel itself
    // exactly. The texels are then read straight from the row.
    constexpr std::int64_t kOneTexel = std::int64_t{1} << 32;
    const bool aligned = du == kOneTexel && dv == 0 && (!t.linear || (((fu >> 24) & 255) == 0 && ((fv >> 24) & 255) == 0));
    if (aligned) {
        const auto first = static_cast<std::int32_t>(fu >> 32);
        const std::uint32_t* row = t.texels + direct::Address(t, static_cast<std::int32_t>(fv >> 32), t.height, t.maskY) * t.rowStride;
        const std::uint32_t alphaOr = t.alphaOr;
        if (first >= 0 && first + (x1 - x0) <= t.width) {
            const std::uint32_t* texels = row + first;
            AffineColours<kMerge, kDepth>(c, targets, y, x0, x1, zStart, s.z.dx, start, step, diffuseOnes, texelOnes,
                                          [=](int k) { return texels[k] | alphaOr; });
        } else {
            AffineColours<kMerge, kDepth>(c, targets, y, x0, x1, zStart, s.z.dx, start, step, diffuseOnes, texelOnes,
                                          [&](int k) { return row[direct::Address(t, first + k, t.width, t.maskX)] | alphaOr; });
        }
        return true;
    }
    if (dv == 0 && t.linear) {
        // One texel row pair and one vertical fraction for the whole span: the rows are addressed
        // once, and each pixel blends its two columns vertically and then horizontally, as
        // SampleDirectAt does. When the span steps exactly one texel per pixel its right column is
        // the next pixel's left one, so that vertical blend is carried over (unless a pixel between
        // was skipped by the depth test).
        const auto rowIndex = static_cast<std::int32_t>(fv >> 32);
        const std::uint32_t fy = static_cast<std::uint32_t>(fv >> 24) & 255u;
        const std::uint32_t* row0 = t.texels + direct::Address(t, rowIndex, t.height, t.maskY) * t.rowStride;
        const std::uint32_t* row1 = t.texels + direct::Address(t, rowIndex + 1, t.height, t.maskY) * t.rowStride;
        auto column = [&](std::int32_t x) {
            const std::int32_t a = direct::Address(t, x, t.width, t.maskX);
            return direct::Lerp(direct::Spread(row0[a]), direct::Spread(row1[a]), fy);
        };
        const std::uint32_t alphaOr = t.alphaOr;
        if (du == kOneTexel) {
            const auto firstColumn = static_cast<std::int32_t>(fu >> 32);
            const std::uint32_t fx = static_cast<std::uint32_t>(fu >> 24) & 255u;
            int carriedFor = -1;
            std::uint64_t carried = 0;
            AffineColours<kMerge, kDepth>(c, targets, y, x0, x1, zStart, s.z.dx, start, step, diffuseOnes, texelOnes,
                                          [&](int k) {
                                              const std::int32_t x = firstColumn + k;
                                              const std::uint64_t left = carriedFor == k ? carried : column(x);
                                              carried = column(x + 1);
                                              carriedFor = k + 1;
                                              return direct::Gather(direct::Lerp(left, carried, fx)) | alphaOr;
                                          });
            return true;
        }
        AffineColours<kMerge, kDepth>(c, targets, y, x0, x1, zStart, s.z.dx, start, step, diffuseOnes, texelOnes, [&](int k) {
            const std::int64_t pu = fu + k * du;
            const auto x = static_cast<std::int32_t>(pu >> 32);
            return direct::Gather(direct::Lerp(column(x), column(x + 1), static_cast<std::uint32_t>(pu >> 24) & 255u)) |
                   alphaOr;
        });
        return true;
    }
    AffineColours<kMerge, kDepth>(c, targets, y, x0, x1, zStart, s.z.dx, start, step, diffuseOnes, texelOnes, [&](int k) {
        const std::int64_t pu = fu + k * du, pv = fv + k * dv;
        return SampleDirectAt(t, static_cast<std::int32_t>(pu >> 32), static_cast<std::uint32_t>(pu >> 24) & 255u,
                              static_cast<std::int32_t>(pv >> 32), static_cast<std::uint32_t>(pv >> 24) & 255u);
    });
    return true;
}

template <ShadeKind kShade, MergeKind kMerge, DepthKind kDepth>
void DrawSpan(void* context, const PrimitiveSetup& s, int y, int x0, int x1) {
    const SpanContext& c = *static_cast<const SpanContext*>(context);
    const OutputMerger& merger = *c.merger;
    const FastShade& fast = c.pixels->Fast();
    const FastTargets& targets = merger.Targets();
    const float fx = static_cast<float>(x0) - s.ox;
    const float fy = static_cast<float>(y) - s.oy;
    const float zStart = s.z.c + s.z.dx * fx + s.z.dy * fy;
    const float wStart = s.invW.c + s.invW.dx * fx + s.invW.dy * fy;

    // The varyings this loop reads: all of them for general shading, else diffuse, specular when
    // added, and the stage's coordinates (u, v, w).
    constexpr bool kTextured = kShade == ShadeKind::kTextured || kShade == ShadeKind::kTexturedDirect;
    const int coordSlot = kTextured ? fast.coordSlot : kTexCoordSlot;
    const int generalCount = kShade == ShadeKind::kGeneral ? c.varyingCount : 0;
    const bool specular = kShade != ShadeKind::kGeneral && fast.specularAdd;
    // With one 1/w over the whole primitive (pre-transformed or orthographic), the division by it
    // folds into the span's start and step (multiplying by one leaves the others unchanged).
    const bool constantW = s.invW.dx == 0.0f && s.invW.dy == 0.0f;
    const float spanW = 1.0f / wStart;
    const float fold = constantW ? spanW : 1.0f;
    float start[kMaxVaryings];
    float step[kMaxVaryings];
    auto setUp = [&](int i) {
        const Plane& p = s.varyings[static_cast<std::size_t>(i)];
        start[i] = (p.c + p.dx * fx + p.dy * fy) * fold;
        step[i] = p.dx * fold;
    };
    if constexpr (kShade == ShadeKind::kGeneral) {
        for (int i = 0; i < generalCount; ++i) setUp(i);
    } else {
        for (int i = 0; i < 4; ++i) setUp(kDiffuseSlot + i);
        if (specular) {
            for (int i = 0; i < 4; ++i) setUp(kSpecularSlot + i);
        }
        if constexpr (kTextured) {
            for (int i = 0; i < 3; ++i) setUp(coordSlot + i);
        }
    }
    // Per-lane weights of the diffuse value and the texel (colour in lanes 0-2, alpha in lane 3).
    const TermWeights colourWeights = Weights(fast.colour), alphaWeights = Weights(fast.alpha);
    const Float4 one = Splat4(1.0f);
    const Float4 diffuseWeight = {colourWeights.diffuse, colourWeights.diffuse, colourWeights.diffuse,
                                  alphaWeights.diffuse};
    const Float4 texelWeight = {colourWeights.texel, colourWeights.texel, colourWeights.texel, alphaWeights.texel};
    const Float4 colourLanes = {1.0f, 1.0f, 1.0f, 0.0f};
    // Texels read directly are combined in 8-bit integers: the diffuse and texel words with the
    // channels their terms do not read set to one, then multiplied.
    [[maybe_unused]] const std::uint32_t diffuseOnes = UnusedChannels(fast.colour, fast.alpha, ShadeTerm::kDiffuse);
    [[maybe_unused]] const std::uint32_t texelOnes = UnusedChannels(fast.colour, fast.alpha, ShadeTerm::kTexel);
    if constexpr (kShade == ShadeKind::kTexturedDirect && kMerge != MergeKind::kGeneral) {
        if (constantW && (kDepth != DepthKind::kGeneral || !merger.StencilEnabled()) &&
            DrawAffineSpan<kMerge, kDepth>(c, s, y, x0, x1, fx, fy, start, step, diffuseOnes, texelOnes)) {
            return;
        }
    }

    auto* colourRow = reinterpret_cast<std::uint32_t*>(targets.colour + static_cast<std::size_t>(y) * targets.colourPitch);
    auto* depthRow = kDepth == DepthKind::kD16
                         ? reinterpret_cast<std::uint16_t*>(targets.depth + static_cast<std::size_t>(y) * targets.depthPitch)
                         : nullptr;
    float values[kMaxVaryings];
    [[maybe_unused]] float ddx[kMaxVaryings] = {};
    [[maybe_unused]] float ddy[kMaxVaryings] = {};
    for (int x = x0; x < x1; ++x) {
        const auto k = static_cast<float>(x - x0);
        const float z = zStart + k * s.z.dx;
        std::uint32_t depth = 0;
        if constexpr (kDepth == DepthKind::kD16) {
            depth = QuantiseDepth16(z);
            if (!Compare(targets.depthFunc, depth, depthRow[x])) continue;
        } else if constexpr (kDepth == DepthKind::kGeneral) {
            depth = merger.QuantiseDepth(z);
            if (!merger.StencilEnabled() && !merger.DepthPasses(x, y, depth)) continue;
        }
        // w scales the interpolated values (1 when folded in); pixelW is the pixel's own w, for derivatives.
        const float pixelW = constantW ? spanW : 1.0f / (wStart + k * s.invW.dx);
        const float w = constantW ? 1.0f : pixelW;
        auto interpolate = [&](int i) { values[i] = (start[i] + k * step[i]) * w; };
        if constexpr (kShade == ShadeKind::kGeneral) {
            for (int i = 0; i < generalCount; ++i) interpolate(i);
        } else {
            for (int i = 0; i < 4; ++i) interpolate(kDiffuseSlot + i);
            if (specular) {
                for (int i = 0; i < 4; ++i) interpolate(kSpecularSlot + i);
            }
            if constexpr (kShade == ShadeKind::kTexturedDirect) {
                for (int i = 0; i < 2; ++i) interpolate(coordSlot + i);
            } else if constexpr (kShade == ShadeKind::kTextured) {
                for (int i = 0; i < 3; ++i) interpolate(coordSlot + i);
            }
        }

        if constexpr (kShade == ShadeKind::kTexturedDirect && kMerge != MergeKind::kGeneral) {
            if constexpr (kDepth == DepthKind::kD16) {
                if (targets.depthWrite) depthRow[x] = static_cast<std::uint16_t>(depth);
            } else if constexpr (kDepth == DepthKind::kGeneral) {
                merger.WriteDepth(x, y, depth);
            }
            const std::uint32_t texel = SampleDirect(fast.sampler->direct, values[coordSlot], values[coordSlot + 1]);
            const std::uint32_t diffuse = PackArgb(Saturate4(Load4(values + kDiffuseSlot)));
            std::uint32_t out = ModulateArgb(diffuse | diffuseOnes, texel | texelOnes);
            if (specular) out = AddArgb(out, PackArgb(Saturate4(Load4(values + kSpecularSlot))), 0x00FFFFFFu);
            if constexpr (kMerge == MergeKind::kAlphaBlend) {
                out = BlendArgb(out, colourRow[x] | targets.alphaOr);
            } else if constexpr (kMerge == MergeKind::kAdd) {
                out = AddArgb(out, colourRow[x] | targets.alphaOr, 0xFFFFFFFFu);
            }
            colourRow[x] = out | targets.alphaOr;
            continue;
        }
        Float4 colour;
        if constexpr (kShade == ShadeKind::kGeneral) {
            for (std::uint32_t mask = c.texCoordSetMask; mask != 0; mask &= mask - 1) {
                int slot = kTexCoordSlot + 4 * std::countr_zero(mask);
                for (int i = slot; i < slot + 2; ++i) {
                    const Plane& p = s.varyings[static_cast<std::size_t>(i)];
                    ddx[i] = (p.dx - values[i] * s.invW.dx) * pixelW;
                    ddy[i] = (p.dy - values[i] * s.invW.dy) * pixelW;
                }
            }
            float rgba[4];
            c.pixels->Shade(values, ddx, ddy, z, pixelW, rgba);
            colour = Load4(rgba);
        } else {
            Float4 texel = Splat4(1.0f);
            if constexpr (kShade == ShadeKind::kTexturedDirect) {
                texel = UnpackArgb(SampleDirect(fast.sampler->direct, values[coordSlot], values[coordSlot + 1]));
            } else if constexpr (kShade == ShadeKind::kTextured) {
                const int u = fast.coordSlot, v = u + 1;
                float lod = 0.0f;
                if (fast.needsLod) {
                    const Plane& pu = s.varyings[static_cast<std::size_t>(u)];
                    const Plane& pv = s.varyings[static_cast<std::size_t>(v)];
                    lod = LevelOfDetail(*fast.sampler, (pu.dx - values[u] * s.invW.dx) * pixelW,
                                        (pv.dx - values[v] * s.invW.dx) * pixelW,
                                        (pu.dy - values[u] * s.invW.dy) * pixelW,
                                        (pv.dy - values[v] * s.invW.dy) * pixelW);
                }
                float sampled[4] = {1.0f, 1.0f, 1.0f, 1.0f};
                fast.sampler->sample(*fast.sampler, values[u], values[v], values[u + 2], lod, sampled);
                texel = Load4(sampled);
            }
            const Float4 diffuse = Saturate4(Load4(values + kDiffuseSlot));
            colour = (diffuse * diffuseWeight + (one - diffuseWeight)) * (texel * texelWeight + (one - texelWeight));
            if (specular) colour = Saturate4(colour + Saturate4(Load4(values + kSpecularSlot)) * colourLanes);
        }

        if constexpr (kMerge == MergeKind::kGeneral) {
            const float rgba[4] = {Lane(colour, 0), Lane(colour, 1), Lane(colour, 2), Lane(colour, 3)};
            merger.Merge(x, y, depth, rgba, s.frontFace);
        } else {
            if constexpr (kDepth == DepthKind::kD16) {
                if (targets.depthWrite) depthRow[x] = static_cast<std::uint16_t>(depth);
            } else if constexpr (kDepth == DepthKind::kGeneral) {
                merger.WriteDepth(x, y, depth);
            }
            Float4 out = Saturate4(colour);
            if constexpr (kMerge == MergeKind::kAlphaBlend) {
                const Float4 dst = UnpackArgb(colourRow[x] | targets.alphaOr);
                const float a = Lane(out, 3);
                out = out * Splat4(a) + dst * Splat4(1.0f - a);
            } else if constexpr (kMerge == MergeKind::kAdd) {
                out = out + UnpackArgb(colourRow[x] | targets.alphaOr);
            }
            colourRow[x] = PackArgb(Saturate4(out)) | targets.alphaOr;
        }
    }
}

template <ShadeKind kShade, MergeKind kMerge>
SpanFn ByDepth(DepthKind depth) {
    if constexpr (kMerge == MergeKind::kGeneral) {
        return DrawSpan<kShade, kMerge, DepthKind::kGeneral>;
    } else {
        switch (depth) {
            case DepthKind::kNone: return DrawSpan<kShade, kMerge, DepthKind::kNone>;
            case DepthKind::kD16: return DrawSpan<kShade, kMerge, DepthKind::kD16>;
            default: return DrawSpan<kShade, kMerge, DepthKind::kGeneral>;
        }
    }
}

template <ShadeKind kShade>
SpanFn ByMerge(MergeKind merge, DepthKind depth) {
    switch (merge) {
        case MergeKind::kReplace: return ByDepth<kShade, MergeKind::kReplace>(depth);
        case MergeKind::kAlphaBlend: return ByDepth<kShade, MergeKind::kAlphaBlend>(depth);
        case MergeKind::kAdd: return ByDepth<kShade, MergeKind::kAdd>(depth);
        default: return ByDepth<kShade, MergeKind::kGeneral>(depth);
    }
}

}  // namespace

SpanFn ChooseSpan(ShadeKind shade, MergeKind merge, DepthKind depth) {
    switch (shade) {
        case ShadeKind::kUntextured: return ByMerge<ShadeKind::kUntextured>(merge, depth);
        case ShadeKind::kTextured: return ByMerge<ShadeKind::kTextured>(merge, depth);
        case ShadeKind::kTexturedDirect: return ByMerge<ShadeKind::kTexturedDirect>(merge, depth);
        default: return ByMerge<ShadeKind::kGeneral>(merge, depth);
    }
}

}  // namespace qm::d3d9
