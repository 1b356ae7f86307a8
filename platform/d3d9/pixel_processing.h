// pixel_processing.h: the fixed-function pixel stage: the texture-stage cascade (COLOROP/ALPHAOP
// with their arguments and modifiers, TEXCOORDINDEX, result to current or temp) and the specular
// add. A pixel program takes this stage's place later.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "platform/d3d9/caps.h"
#include "platform/d3d9/device_state.h"
#include "platform/d3d9/fog.h"
#include "platform/d3d9/pipeline_types.h"
#include "platform/d3d9/sampler.h"

namespace qm::d3d9 {

// The values one texture operation reads: up to three arguments and, for the blending operations,
// the alpha that weighs them.
struct StageArgs {
    float a0[4];
    float a1[4];
    float a2[4];
    float blend;
};
using StageOpFn = void (*)(const StageArgs& args, float* out, int begin, int end);

// How a draw's stages reduce when they are one plain stage (or none): the colour and the alpha are
// each the diffuse value, the texel, their product, or one (an unbound texture reads opaque white).
// kTexturedDirect is kTextured reading the texels itself (the sampler's DirectTexels).
enum class ShadeKind { kUntextured, kTextured, kTexturedDirect, kGeneral };
enum class ShadeTerm { kOne, kDiffuse, kTexel, kProduct };
struct FastShade {
    ShadeKind kind = ShadeKind::kGeneral;
    ShadeTerm colour = ShadeTerm::kDiffuse;
    ShadeTerm alpha = ShadeTerm::kDiffuse;
    const Sampler* sampler = nullptr;  // kTextured, kTexturedDirect: stage 0's sampler
    int coordSlot = kTexCoordSlot;     // kTextured, kTexturedDirect: the varying slot of its coordinates
    bool needsLod = false;             // kTextured: whether the sampler reads the level of detail
    bool specularAdd = false;
};

class PixelProcessor {
public:
    // Takes in the texture stages, their samplers and the texture factor.
    void Prepare(const DeviceState& state);

    // The reduced form of the stages, for the specialised span loops.
    const FastShade& Fast() const { return fast_; }

    // Bit i set when texture coordinate set i is read by an active stage.
    std::uint32_t TexCoordSetMask() const { return texCoordSetMask_; }
    int StageCount() const { return stageCount_; }

    // Colour of one pixel from its perspective-divided varyings and, for level-of-detail selection,
    // their screen derivatives along x and y (only the texture coordinate slots are read). depth and
    // eyeW are the pixel's depth (0 to 1) and its w, from which per-pixel (table) fog is computed.
    void Shade(const float* varyings, const float* ddx, const float* ddy, float depth, float eyeW,
               float out[4]) const;

private:
    struct Operation {
        StageOpFn fn = nullptr;
        DWORD args[3] = {};      // argument 0, 1, 2 (selector and modifiers)
        bool uses[3] = {};       // which arguments the operation reads
        int blendSource = -1;    // selector whose alpha weighs a blend operation, -1 none
        bool premultiplied = false;
    };
    struct Stage {
        Operation colour;
        Operation alpha;
        bool alphaPassThrough = false;  // ALPHAOP DISABLE: alpha comes through unchanged
        bool samples = false;
        int coordSlot = kTexCoordSlot;
        bool toTemp = false;
        float constant[4] = {};
        Sampler sampler;
        bool samplerNeedsLod = true;
    };
    void Reduce(const DeviceState& state);

    std::array<Stage, kMaxTextureBlendStages> stages_{};
    int stageCount_ = 0;
    std::uint32_t texCoordSetMask_ = 0;
    float textureFactor_[4] = {};
    bool specularAdd_ = false;
    // Fog: off, from the interpolated specular alpha (vertex fog or the vertex's own factor), or
    // per pixel from depth or, under a perspective projection, from w.
    enum class FogSource { kNone, kVertex, kTableDepth, kTableW };
    FogSource fogSource_ = FogSource::kNone;
    FogParameters tableFog_;
    float fogColour_[4] = {};
    FastShade fast_;
};

// The level of detail from the screen derivatives of a coordinate pair scaled to texels: log2 of the
// longer of the two footprint axes.
inline float LevelOfDetail(const Sampler& sampler, float dudx, float dvdx, float dudy, float dvdy) {
    float w = static_cast<float>(sampler.width), h = static_cast<float>(sampler.height);
    float ux = dudx * w, vx = dvdx * h, uy = dudy * w, vy = dvdy * h;
    float rho = std::max(ux * ux + vx * vx, uy * uy + vy * vy);
    return rho > 0.0f ? 0.5f * std::log2(rho) : -128.0f;
}

// Colour channels of a D3DCOLOR as floats in [0, 1], in the order R, G, B, A.
inline void ColourToFloats(DWORD c, float* out) {
    out[0] = static_cast<float>((c >> 16) & 0xFF) * (1.0f / 255.0f);
    out[1] = static_cast<float>((c >> 8) & 0xFF) * (1.0f / 255.0f);
    out[2] = static_cast<float>(c & 0xFF) * (1.0f / 255.0f);
    out[3] = static_cast<float>(c >> 24) * (1.0f / 255.0f);
}

}  // namespace qm::d3d9
