// spans.cpp: span loops instantiated per combination of shading, merging and depth testing, so the
// inner loop carries no per-pixel decisions about state.
#include "platform/d3d9/spans.h"

#include <algorithm>
#include <bit>
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
    const int coordSlot = kShade == ShadeKind::kTextured ? fast.coordSlot : kTexCoordSlot;
    const int generalCount = kShade == ShadeKind::kGeneral ? c.varyingCount : 0;
    const bool specular = kShade != ShadeKind::kGeneral && fast.specularAdd;
    float start[kMaxVaryings];
    float step[kMaxVaryings];
    auto setUp = [&](int i) {
        const Plane& p = s.varyings[static_cast<std::size_t>(i)];
        start[i] = p.c + p.dx * fx + p.dy * fy;
        step[i] = p.dx;
    };
    if constexpr (kShade == ShadeKind::kGeneral) {
        for (int i = 0; i < generalCount; ++i) setUp(i);
    } else {
        for (int i = 0; i < 4; ++i) setUp(kDiffuseSlot + i);
        if (specular) {
            for (int i = 0; i < 4; ++i) setUp(kSpecularSlot + i);
        }
        if constexpr (kShade == ShadeKind::kTextured) {
            for (int i = 0; i < 3; ++i) setUp(coordSlot + i);
        }
    }
    // With one 1/w over the whole primitive (pre-transformed or orthographic), the division by it
    // folds into the span's start and step.
    const bool constantW = s.invW.dx == 0.0f && s.invW.dy == 0.0f;
    const float spanW = 1.0f / wStart;
    if (constantW) {
        for (int i = 0; i < kMaxVaryings; ++i) {
            start[i] *= spanW;
            step[i] *= spanW;
        }
    }
    // Per-lane weights of the diffuse value and the texel (colour in lanes 0-2, alpha in lane 3).
    const TermWeights colourWeights = Weights(fast.colour), alphaWeights = Weights(fast.alpha);
    const Float4 one = Splat4(1.0f);
    const Float4 diffuseWeight = {colourWeights.diffuse, colourWeights.diffuse, colourWeights.diffuse,
                                  alphaWeights.diffuse};
    const Float4 texelWeight = {colourWeights.texel, colourWeights.texel, colourWeights.texel, alphaWeights.texel};
    const Float4 colourLanes = {1.0f, 1.0f, 1.0f, 0.0f};

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
            if constexpr (kShade == ShadeKind::kTextured) {
                for (int i = 0; i < 3; ++i) interpolate(coordSlot + i);
            }
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
            if constexpr (kShade == ShadeKind::kTextured) {
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
        default: return ByMerge<ShadeKind::kGeneral>(merge, depth);
    }
}

}  // namespace qm::d3d9
