// pixel_processing.cpp: the texture-stage operations of the fixed-function pipeline, chosen per
// stage from a table once per draw, and the per-pixel cascade through them.
#include "platform/d3d9/pixel_processing.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace qm::d3d9 {
namespace {

// Clamped to [0, 1]; not-a-number becomes 0.
float Sat(float v) { return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f; }

void OpSelectArg1(const StageArgs& s, float* o, int b, int e) {
    for (int c = b; c < e; ++c) o[c] = s.a1[c];
}
void OpSelectArg2(const StageArgs& s, float* o, int b, int e) {
    for (int c = b; c < e; ++c) o[c] = s.a2[c];
}
template <int kScale>
void OpModulate(const StageArgs& s, float* o, int b, int e) {
    for (int c = b; c < e; ++c) o[c] = Sat(s.a1[c] * s.a2[c] * kScale);
}
void OpAdd(const StageArgs& s, float* o, int b, int e) {
    for (int c = b; c < e; ++c) o[c] = Sat(s.a1[c] + s.a2[c]);
}
template <int kScale>
void OpAddSigned(const StageArgs& s, float* o, int b, int e) {
    for (int c = b; c < e; ++c) o[c] = Sat((s.a1[c] + s.a2[c] - 0.5f) * kScale);
}
void OpSubtract(const StageArgs& s, float* o, int b, int e) {
    for (int c = b; c < e; ++c) o[c] = Sat(s.a1[c] - s.a2[c]);
}
void OpAddSmooth(const StageArgs& s, float* o, int b, int e) {
    for (int c = b; c < e; ++c) o[c] = Sat(s.a1[c] + s.a2[c] - s.a1[c] * s.a2[c]);
}
// Arg1 * alpha + Arg2 * (1 - alpha), the alpha chosen by the operation.
void OpBlendAlpha(const StageArgs& s, float* o, int b, int e) {
    for (int c = b; c < e; ++c) o[c] = Sat(s.a1[c] * s.blend + s.a2[c] * (1.0f - s.blend));
}
// Arg1 + Arg2 * (1 - texture alpha), for textures with premultiplied alpha.
void OpBlendPremultiplied(const StageArgs& s, float* o, int b, int e) {
    for (int c = b; c < e; ++c) o[c] = Sat(s.a1[c] + s.a2[c] * (1.0f - s.blend));
}
void OpModulateAlphaAddColour(const StageArgs& s, float* o, int b, int e) {
    for (int c = b; c < e; ++c) o[c] = Sat(s.a1[c] + s.a1[3] * s.a2[c]);
}
void OpModulateColourAddAlpha(const StageArgs& s, float* o, int b, int e) {
    for (int c = b; c < e; ++c) o[c] = Sat(s.a1[c] * s.a2[c] + s.a1[3]);
}
void OpModulateInvAlphaAddColour(const StageArgs& s, float* o, int b, int e) {
    for (int c = b; c < e; ++c) o[c] = Sat((1.0f - s.a1[3]) * s.a2[c] + s.a1[c]);
}
void OpModulateInvColourAddAlpha(const StageArgs& s, float* o, int b, int e) {
    for (int c = b; c < e; ++c) o[c] = Sat((1.0f - s.a1[c]) * s.a2[c] + s.a1[3]);
}
// 4 * sum((Arg1 - 0.5) * (Arg2 - 0.5)) over red, green and blue, into every channel asked for.
void OpDotProduct3(const StageArgs& s, float* o, int b, int e) {
    float dot = 0.0f;
    for (int c = 0; c < 3; ++c) dot += (s.a1[c] - 0.5f) * (s.a2[c] - 0.5f);
    dot = Sat(4.0f * dot);
    for (int c = b; c < e; ++c) o[c] = dot;
}
void OpMultiplyAdd(const StageArgs& s, float* o, int b, int e) {
    for (int c = b; c < e; ++c) o[c] = Sat(s.a0[c] + s.a1[c] * s.a2[c]);
}
void OpLerp(const StageArgs& s, float* o, int b, int e) {
    for (int c = b; c < e; ++c) o[c] = Sat(s.a0[c] * s.a1[c] + (1.0f - s.a0[c]) * s.a2[c]);
}

// Operations by D3DTEXTUREOP value: function, arguments read (bits 0, 1, 2 for Arg0, Arg1, Arg2),
// the selector whose alpha weighs the blend (-1 none). Operations this device does not provide
// (bump mapping, premodulate) have no function and end the cascade like DISABLE.
struct OpInfo {
    StageOpFn fn;
    unsigned uses;
    int blendSource;
};
constexpr int kNoBlend = -1;
constexpr OpInfo kOps[] = {
    {nullptr, 0, kNoBlend},                                // 0: not an operation
    {nullptr, 0, kNoBlend},                                // DISABLE
    {OpSelectArg1, 2, kNoBlend},                           // SELECTARG1
    {OpSelectArg2, 4, kNoBlend},                           // SELECTARG2
    {OpModulate<1>, 6, kNoBlend},                          // MODULATE
    {OpModulate<2>, 6, kNoBlend},                          // MODULATE2X
    {OpModulate<4>, 6, kNoBlend},                          // MODULATE4X
    {OpAdd, 6, kNoBlend},                                  // ADD
    {OpAddSigned<1>, 6, kNoBlend},                         // ADDSIGNED
    {OpAddSigned<2>, 6, kNoBlend},                         // ADDSIGNED2X
    {OpSubtract, 6, kNoBlend},                             // SUBTRACT
    {OpAddSmooth, 6, kNoBlend},                            // ADDSMOOTH
    {OpBlendAlpha, 6, static_cast<int>(D3DTA_DIFFUSE)},    // BLENDDIFFUSEALPHA
    {OpBlendAlpha, 6, static_cast<int>(D3DTA_TEXTURE)},    // BLENDTEXTUREALPHA
    {OpBlendAlpha, 6, static_cast<int>(D3DTA_TFACTOR)},    // BLENDFACTORALPHA
    {OpBlendPremultiplied, 6, static_cast<int>(D3DTA_TEXTURE)},  // BLENDTEXTUREALPHAPM
    {OpBlendAlpha, 6, static_cast<int>(D3DTA_CURRENT)},    // BLENDCURRENTALPHA
    {nullptr, 0, kNoBlend},                                // PREMODULATE
    {OpModulateAlphaAddColour, 6, kNoBlend},               // MODULATEALPHA_ADDCOLOR
    {OpModulateColourAddAlpha, 6, kNoBlend},               // MODULATECOLOR_ADDALPHA
    {OpModulateInvAlphaAddColour, 6, kNoBlend},            // MODULATEINVALPHA_ADDCOLOR
    {OpModulateInvColourAddAlpha, 6, kNoBlend},            // MODULATEINVCOLOR_ADDALPHA
    {nullptr, 0, kNoBlend},                                // BUMPENVMAP
    {nullptr, 0, kNoBlend},                                // BUMPENVMAPLUMINANCE
    {OpDotProduct3, 6, kNoBlend},                          // DOTPRODUCT3
    {OpMultiplyAdd, 7, kNoBlend},                          // MULTIPLYADD
    {OpLerp, 7, kNoBlend},                                 // LERP
};

const OpInfo& FindOp(DWORD op) {
    static constexpr OpInfo kNone = {nullptr, 0, kNoBlend};
    return op < std::size(kOps) ? kOps[op] : kNone;
}

bool ReadsTexture(DWORD arg) { return (arg & D3DTA_SELECTMASK) == D3DTA_TEXTURE; }

// One argument: its selected source, alpha replicated and complemented as its modifiers say.
void LoadArg(DWORD arg, const float* const* sources, float* out) {
    const float* source = sources[arg & D3DTA_SELECTMASK];
    if (arg & D3DTA_ALPHAREPLICATE) {
        out[0] = out[1] = out[2] = out[3] = source[3];
    } else {
        out[0] = source[0];
        out[1] = source[1];
        out[2] = source[2];
        out[3] = source[3];
    }
    if (arg & D3DTA_COMPLEMENT) {
        for (int c = 0; c < 4; ++c) out[c] = 1.0f - out[c];
    }
}

}  // namespace

constexpr float kOpaqueWhite[4] = {1.0f, 1.0f, 1.0f, 1.0f};

void PixelProcessor::Prepare(const DeviceState& state) {
    ColourToFloats(state.renderStates[D3DRS_TEXTUREFACTOR], textureFactor_);
    specularAdd_ = state.renderStates[D3DRS_SPECULARENABLE] != 0;
    const auto& rs = state.renderStates;
    fogSource_ = FogSource::kNone;
    if (rs[D3DRS_FOGENABLE]) {
        ColourToFloats(rs[D3DRS_FOGCOLOR], fogColour_);
        if (rs[D3DRS_FOGTABLEMODE] == D3DFOG_NONE) {
            fogSource_ = FogSource::kVertex;
        } else {
            tableFog_ = FogParameters{rs[D3DRS_FOGTABLEMODE], std::bit_cast<float>(rs[D3DRS_FOGSTART]),
                                      std::bit_cast<float>(rs[D3DRS_FOGEND]), std::bit_cast<float>(rs[D3DRS_FOGDENSITY])};
            // A projection whose w depends on the position is perspective: fog then follows eye
            // distance (w), otherwise depth.
            const D3DMATRIX& p = state.transforms[static_cast<std::size_t>(TransformSlot(D3DTS_PROJECTION))];
            bool perspective = p._14 != 0.0f || p._24 != 0.0f || p._34 != 0.0f || p._44 != 1.0f;
            fogSource_ = perspective ? FogSource::kTableW : FogSource::kTableDepth;
        }
    }
    stageCount_ = 0;
    texCoordSetMask_ = 0;
    for (DWORD s = 0; s < kMaxTextureBlendStages; ++s) {
        const auto& ss = state.stageStates[s];
        const OpInfo& colour = FindOp(ss[D3DTSS_COLOROP]);
        if (colour.fn == nullptr) break;
        Stage& stage = stages_[s];
        stage.colour = Operation{colour.fn,
                                 {ss[D3DTSS_COLORARG0], ss[D3DTSS_COLORARG1], ss[D3DTSS_COLORARG2]},
                                 {(colour.uses & 1) != 0, (colour.uses & 2) != 0, (colour.uses & 4) != 0},
                                 colour.blendSource,
                                 false};
        const OpInfo& alpha = FindOp(ss[D3DTSS_ALPHAOP]);
        stage.alphaPassThrough = alpha.fn == nullptr;
        stage.alpha = Operation{alpha.fn,
                                {ss[D3DTSS_ALPHAARG0], ss[D3DTSS_ALPHAARG1], ss[D3DTSS_ALPHAARG2]},
                                {(alpha.uses & 1) != 0, (alpha.uses & 2) != 0, (alpha.uses & 4) != 0},
                                alpha.blendSource,
                                false};
        bool samples = colour.blendSource == static_cast<int>(D3DTA_TEXTURE) ||
                       (!stage.alphaPassThrough && alpha.blendSource == static_cast<int>(D3DTA_TEXTURE));
        for (int a = 0; a < 3; ++a) {
            samples |= stage.colour.uses[a] && ReadsTexture(stage.colour.args[a]);
            samples |= !stage.alphaPassThrough && stage.alpha.uses[a] && ReadsTexture(stage.alpha.args[a]);
        }
        stage.samples = samples;
        // The low word of TEXCOORDINDEX names the coordinate set; generated coordinates (the high
        // word) are not produced by this device and read the named set.
        DWORD set = ss[D3DTSS_TEXCOORDINDEX] & 0xFFFF;
        if (set >= kMaxTexCoordSets) set = 0;
        stage.coordSlot = kTexCoordSlot + 4 * static_cast<int>(set);
        if (samples) {
            PrepareSampler(state, s, &stage.sampler);
            // An unbound stage reads opaque white and needs no coordinates.
            if (stage.sampler.texture != nullptr) {
                texCoordSetMask_ |= 1u << set;
            } else {
                stage.samples = false;
            }
            // The level of detail matters only when levels are chosen or the filters differ.
            const auto& ss = state.samplerStates[s];
            bool mipmapped = stage.sampler.levelCount > 1 && ss[D3DSAMP_MIPFILTER] != D3DTEXF_NONE;
            bool filtersDiffer = (ss[D3DSAMP_MAGFILTER] >= D3DTEXF_LINEAR) != (ss[D3DSAMP_MINFILTER] >= D3DTEXF_LINEAR);
            stage.samplerNeedsLod = mipmapped || filtersDiffer;
        }
        stage.toTemp = ss[D3DTSS_RESULTARG] == D3DTA_TEMP;
        ColourToFloats(ss[D3DTSS_CONSTANT], stage.constant);
        ++stageCount_;
    }
    Reduce(state);
}

namespace {

// The term an argument stands for in a one-stage draw: diffuse (or current, which is diffuse at
// stage 0), the texel, or -1 for anything else (other sources, modifiers).
int TermOf(DWORD arg, bool textureBound) {
    switch (arg) {
        case D3DTA_DIFFUSE:
        case D3DTA_CURRENT: return static_cast<int>(ShadeTerm::kDiffuse);
        case D3DTA_TEXTURE: return static_cast<int>(textureBound ? ShadeTerm::kTexel : ShadeTerm::kOne);
        default: return -1;
    }
}

// Combines two terms under a product; -1 when the result is not one of the four terms.
int Product(int a, int b) {
    if (a < 0 || b < 0) return -1;
    if (a == static_cast<int>(ShadeTerm::kOne)) return b;
    if (b == static_cast<int>(ShadeTerm::kOne)) return a;
    if (a == b) return -1;  // a square is not one of the terms
    return static_cast<int>(ShadeTerm::kProduct);
}

// The term an operation of the stage gives, or -1.
int OperationTerm(DWORD op, DWORD arg1, DWORD arg2, bool textureBound) {
    switch (op) {
        case D3DTOP_SELECTARG1: return TermOf(arg1, textureBound);
        case D3DTOP_SELECTARG2: return TermOf(arg2, textureBound);
        case D3DTOP_MODULATE: return Product(TermOf(arg1, textureBound), TermOf(arg2, textureBound));
        default: return -1;
    }
}

}  // namespace

void PixelProcessor::Reduce(const DeviceState& state) {
    fast_ = FastShade{};
    fast_.specularAdd = specularAdd_;
    if (fogSource_ != FogSource::kNone) return;  // fog is applied by the general loop
    if (stageCount_ == 0) {
        fast_.kind = ShadeKind::kUntextured;
        return;
    }
    if (stageCount_ > 1 || stages_[0].toTemp) return;
    const auto& ss = state.stageStates[0];
    bool bound = stages_[0].samples;
    int colour = OperationTerm(ss[D3DTSS_COLOROP], ss[D3DTSS_COLORARG1], ss[D3DTSS_COLORARG2], bound);
    int alpha = stages_[0].alphaPassThrough
                    ? static_cast<int>(ShadeTerm::kDiffuse)
                    : OperationTerm(ss[D3DTSS_ALPHAOP], ss[D3DTSS_ALPHAARG1], ss[D3DTSS_ALPHAARG2], bound);
    if (colour < 0 || alpha < 0) return;
    fast_.colour = static_cast<ShadeTerm>(colour);
    fast_.alpha = static_cast<ShadeTerm>(alpha);
    auto usesTexel = [](ShadeTerm t) { return t == ShadeTerm::kTexel || t == ShadeTerm::kProduct; };
    if (usesTexel(fast_.colour) || usesTexel(fast_.alpha)) {
        fast_.sampler = &stages_[0].sampler;
        fast_.coordSlot = stages_[0].coordSlot;
        fast_.needsLod = stages_[0].samplerNeedsLod;
        bool direct = !fast_.needsLod && fast_.sampler->direct.texels != nullptr;
        fast_.kind = direct ? ShadeKind::kTexturedDirect : ShadeKind::kTextured;
    } else {
        fast_.kind = ShadeKind::kUntextured;
    }
}

void PixelProcessor::Shade(const float* varyings, const float* ddx, const float* ddy, float depth, float eyeW,
                           float out[4]) const {
    float diffuse[4], specular[4];
    for (int c = 0; c < 4; ++c) {
        diffuse[c] = Sat(varyings[kDiffuseSlot + c]);
        specular[c] = Sat(varyings[kSpecularSlot + c]);
    }
    float current[4] = {diffuse[0], diffuse[1], diffuse[2], diffuse[3]};
    float temp[4] = {};
    float texel[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    // Indexed by argument selector: DIFFUSE, CURRENT, TEXTURE, TFACTOR, SPECULAR, TEMP, CONSTANT;
    // selectors beyond read opaque white.
    const float* sources[16] = {diffuse, current, texel, textureFactor_, specular, temp, nullptr,
                                kOpaqueWhite, kOpaqueWhite, kOpaqueWhite, kOpaqueWhite, kOpaqueWhite,
                                kOpaqueWhite, kOpaqueWhite, kOpaqueWhite, kOpaqueWhite};
    for (int s = 0; s < stageCount_; ++s) {
        const Stage& stage = stages_[static_cast<std::size_t>(s)];
        sources[6] = stage.constant;
        if (!stage.samples) {
            texel[0] = texel[1] = texel[2] = texel[3] = 1.0f;
        } else {
            const Sampler& sampler = stage.sampler;
            const float* t = varyings + stage.coordSlot;
            const float* tx = ddx + stage.coordSlot;
            const float* ty = ddy + stage.coordSlot;
            float lod = stage.samplerNeedsLod ? LevelOfDetail(sampler, tx[0], tx[1], ty[0], ty[1]) : 0.0f;
            sampler.sample(sampler, t[0], t[1], t[2], lod, texel);
        }
        float result[4];
        StageArgs args;
        const Operation& colour = stage.colour;
        if (colour.uses[0]) LoadArg(colour.args[0], sources, args.a0);
        if (colour.uses[1]) LoadArg(colour.args[1], sources, args.a1);
        if (colour.uses[2]) LoadArg(colour.args[2], sources, args.a2);
        args.blend = colour.blendSource >= 0 ? sources[colour.blendSource][3] : 0.0f;
        colour.fn(args, result, 0, 3);
        if (stage.alphaPassThrough) {
            result[3] = current[3];
        } else {
            const Operation& alpha = stage.alpha;
            if (alpha.uses[0]) LoadArg(alpha.args[0], sources, args.a0);
            if (alpha.uses[1]) LoadArg(alpha.args[1], sources, args.a1);
            if (alpha.uses[2]) LoadArg(alpha.args[2], sources, args.a2);
            args.blend = alpha.blendSource >= 0 ? sources[alpha.blendSource][3] : 0.0f;
            alpha.fn(args, result, 3, 4);
        }
        float* target = stage.toTemp ? temp : current;
        for (int c = 0; c < 4; ++c) target[c] = result[c];
    }
    if (specularAdd_) {
        for (int c = 0; c < 3; ++c) current[c] = Sat(current[c] + specular[c]);
    }
    if (fogSource_ != FogSource::kNone) {
        float f = fogSource_ == FogSource::kVertex       ? specular[3]
                  : fogSource_ == FogSource::kTableDepth ? FogFactor(tableFog_, depth)
                                                         : FogFactor(tableFog_, eyeW);
        for (int c = 0; c < 3; ++c) current[c] = f * current[c] + (1.0f - f) * fogColour_[c];
    }
    for (int c = 0; c < 4; ++c) out[c] = current[c];
}

}  // namespace qm::d3d9
