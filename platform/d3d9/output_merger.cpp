// output_merger.cpp: alpha test, stencil, depth, blending and colour writes of one pixel.
#include "platform/d3d9/output_merger.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/d3d9/pixel_processing.h"

namespace qm::d3d9 {
namespace {

// Clamped to [0, 1]; not-a-number becomes 0.
float Sat(float v) { return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f; }

// The factor of one blend input, per channel R, G, B, A.
void BlendFactor(DWORD blend, const float* src, const float* dst, const float* constant, float* f) {
    switch (blend) {
        case D3DBLEND_ZERO: f[0] = f[1] = f[2] = f[3] = 0.0f; return;
        case D3DBLEND_SRCCOLOR: std::copy(src, src + 4, f); return;
        case D3DBLEND_INVSRCCOLOR: for (int c = 0; c < 4; ++c) f[c] = 1.0f - src[c]; return;
        case D3DBLEND_SRCALPHA:
        case D3DBLEND_BOTHSRCALPHA: f[0] = f[1] = f[2] = f[3] = src[3]; return;
        case D3DBLEND_INVSRCALPHA:
        case D3DBLEND_BOTHINVSRCALPHA: f[0] = f[1] = f[2] = f[3] = 1.0f - src[3]; return;
        case D3DBLEND_DESTALPHA: f[0] = f[1] = f[2] = f[3] = dst[3]; return;
        case D3DBLEND_INVDESTALPHA: f[0] = f[1] = f[2] = f[3] = 1.0f - dst[3]; return;
        case D3DBLEND_DESTCOLOR: std::copy(dst, dst + 4, f); return;
        case D3DBLEND_INVDESTCOLOR: for (int c = 0; c < 4; ++c) f[c] = 1.0f - dst[c]; return;
        case D3DBLEND_SRCALPHASAT: {
            float s = std::min(src[3], 1.0f - dst[3]);
            f[0] = f[1] = f[2] = s;
            f[3] = 1.0f;
            return;
        }
        case D3DBLEND_BLENDFACTOR: std::copy(constant, constant + 4, f); return;
        case D3DBLEND_INVBLENDFACTOR: for (int c = 0; c < 4; ++c) f[c] = 1.0f - constant[c]; return;
        default: f[0] = f[1] = f[2] = f[3] = 1.0f; return;  // D3DBLEND_ONE
    }
}

float BlendOp(DWORD op, float s, float sf, float d, float df) {
    switch (op) {
        case D3DBLENDOP_SUBTRACT: return s * sf - d * df;
        case D3DBLENDOP_REVSUBTRACT: return d * df - s * sf;
        case D3DBLENDOP_MIN: return std::min(s, d);
        case D3DBLENDOP_MAX: return std::max(s, d);
        default: return s * sf + d * df;
    }
}

std::uint32_t ToByte(float v) { return static_cast<std::uint32_t>(Sat(v) * 255.0f + 0.5f); }

struct DepthFormat {
    D3DFORMAT format;
    int bytes;
    int depthBits;
    int depthShift;
    int stencilBits;
};
constexpr DepthFormat kDepthFormats[] = {
    {D3DFMT_D16, 2, 16, 0, 0},  {D3DFMT_D16_LOCKABLE, 2, 16, 0, 0}, {D3DFMT_D24S8, 4, 24, 8, 8},
    {D3DFMT_D24X8, 4, 24, 8, 0}, {D3DFMT_D32, 4, 32, 0, 0},
};

}  // namespace

bool OutputMerger::Prepare(const DeviceState& state, Surface* colour, Surface* depth) {
    if (colour->Format() != D3DFMT_A8R8G8B8 && colour->Format() != D3DFMT_X8R8G8B8) return false;
    const auto& rs = state.renderStates;
    colourBase_ = colour->Row(0);
    colourPitch_ = colour->Pitch();
    destinationHasAlpha_ = colour->Format() == D3DFMT_A8R8G8B8;

    depthBase_ = nullptr;
    stencilBits_ = 0;
    if (depth != nullptr) {
        for (const DepthFormat& f : kDepthFormats) {
            if (f.format != depth->Format()) continue;
            depthBase_ = depth->Row(0);
            depthPitch_ = depth->Pitch();
            depthBytes_ = f.bytes;
            depthMax_ = f.depthBits == 32 ? 0xFFFFFFFFu : (1u << f.depthBits) - 1;
            depthShift_ = f.depthShift;
            stencilBits_ = f.stencilBits;
        }
    }
    bool zEnable = depthBase_ != nullptr && rs[D3DRS_ZENABLE] != D3DZB_FALSE;
    depthTest_ = zEnable && rs[D3DRS_ZFUNC] != D3DCMP_ALWAYS;
    depthWrite_ = zEnable && rs[D3DRS_ZWRITEENABLE] != 0;
    depthFunc_ = rs[D3DRS_ZFUNC];
    alphaTest_ = rs[D3DRS_ALPHATESTENABLE] != 0 && rs[D3DRS_ALPHAFUNC] != D3DCMP_ALWAYS;
    alphaFunc_ = rs[D3DRS_ALPHAFUNC];
    alphaRef_ = rs[D3DRS_ALPHAREF] & 0xFF;

    stencil_ = stencilBits_ > 0 && rs[D3DRS_STENCILENABLE] != 0;
    twoSided_ = rs[D3DRS_TWOSIDEDSTENCILMODE] != 0;
    stencilFunc_[0] = rs[D3DRS_STENCILFUNC];
    stencilFail_[0] = rs[D3DRS_STENCILFAIL];
    stencilZFail_[0] = rs[D3DRS_STENCILZFAIL];
    stencilPass_[0] = rs[D3DRS_STENCILPASS];
    stencilFunc_[1] = rs[D3DRS_CCW_STENCILFUNC];
    stencilFail_[1] = rs[D3DRS_CCW_STENCILFAIL];
    stencilZFail_[1] = rs[D3DRS_CCW_STENCILZFAIL];
    stencilPass_[1] = rs[D3DRS_CCW_STENCILPASS];
    std::uint32_t stencilAll = (1u << stencilBits_) - 1;
    stencilRef_ = rs[D3DRS_STENCILREF] & stencilAll;
    stencilMask_ = rs[D3DRS_STENCILMASK] & stencilAll;
    stencilWriteMask_ = rs[D3DRS_STENCILWRITEMASK] & stencilAll;

    blend_ = rs[D3DRS_ALPHABLENDENABLE] != 0;
    separateAlpha_ = rs[D3DRS_SEPARATEALPHABLENDENABLE] != 0;
    srcBlend_ = rs[D3DRS_SRCBLEND];
    destBlend_ = rs[D3DRS_DESTBLEND];
    // BOTHSRCALPHA and BOTHINVSRCALPHA as the source factor set the destination factor too.
    if (srcBlend_ == D3DBLEND_BOTHSRCALPHA) destBlend_ = D3DBLEND_INVSRCALPHA;
    if (srcBlend_ == D3DBLEND_BOTHINVSRCALPHA) destBlend_ = D3DBLEND_SRCALPHA;
    blendOp_ = rs[D3DRS_BLENDOP];
    srcBlendAlpha_ = separateAlpha_ ? rs[D3DRS_SRCBLENDALPHA] : srcBlend_;
    destBlendAlpha_ = separateAlpha_ ? rs[D3DRS_DESTBLENDALPHA] : destBlend_;
    blendOpAlpha_ = separateAlpha_ ? rs[D3DRS_BLENDOPALPHA] : blendOp_;
    ColourToFloats(rs[D3DRS_BLENDFACTOR], blendFactor_);

    DWORD enable = rs[D3DRS_COLORWRITEENABLE];
    writeMask_ = 0;
    if (enable & D3DCOLORWRITEENABLE_RED) writeMask_ |= 0x00FF0000u;
    if (enable & D3DCOLORWRITEENABLE_GREEN) writeMask_ |= 0x0000FF00u;
    if (enable & D3DCOLORWRITEENABLE_BLUE) writeMask_ |= 0x000000FFu;
    if (enable & D3DCOLORWRITEENABLE_ALPHA) writeMask_ |= 0xFF000000u;

    // The specialised loops cover full writes without alpha test or stencil, replacing, blending
    // with SRCALPHA/INVSRCALPHA or adding ONE/ONE under BLENDOP_ADD.
    fast_ = FastTargets{colourBase_, colourPitch_, destinationHasAlpha_ ? 0u : 0xFF000000u};
    bool plain = !alphaTest_ && !stencil_ && (enable & 0xF) == 0xF;
    bool add = blendOp_ == D3DBLENDOP_ADD && (!separateAlpha_ || (srcBlendAlpha_ == srcBlend_ &&
                                                                  destBlendAlpha_ == destBlend_ &&
                                                                  blendOpAlpha_ == blendOp_));
    mergeKind_ = MergeKind::kGeneral;
    if (plain && !blend_) {
        mergeKind_ = MergeKind::kReplace;
    } else if (plain && add && srcBlend_ == D3DBLEND_SRCALPHA && destBlend_ == D3DBLEND_INVSRCALPHA) {
        mergeKind_ = MergeKind::kAlphaBlend;
    } else if (plain && add && srcBlend_ == D3DBLEND_ONE && destBlend_ == D3DBLEND_ONE) {
        mergeKind_ = MergeKind::kAdd;
    }
    if (!depthTest_ && !depthWrite_) {
        depthKind_ = DepthKind::kNone;
    } else if (depthBytes_ == 2) {
        depthKind_ = DepthKind::kD16;
        fast_.depth = depthBase_;
        fast_.depthPitch = depthPitch_;
        fast_.depthFunc = depthTest_ ? depthFunc_ : static_cast<DWORD>(D3DCMP_ALWAYS);
        fast_.depthWrite = depthWrite_;
    } else {
        depthKind_ = DepthKind::kGeneral;
    }
    return true;
}

std::uint32_t OutputMerger::QuantiseDepth(float z) const {
    if (depthMax_ == 0xFFFFu) return QuantiseDepth16(z);
    double clamped = z < 0.0f ? 0.0 : (z > 1.0f ? 1.0 : static_cast<double>(z));
    return static_cast<std::uint32_t>(clamped * depthMax_ + 0.5);
}

std::uint32_t OutputMerger::ReadDepthWord(int x, int y) const {
    const std::byte* p = depthBase_ + static_cast<std::size_t>(y) * depthPitch_ + static_cast<std::size_t>(x) * depthBytes_;
    if (depthBytes_ == 2) {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

void OutputMerger::WriteDepthWord(int x, int y, std::uint32_t word) const {
    std::byte* p = depthBase_ + static_cast<std::size_t>(y) * depthPitch_ + static_cast<std::size_t>(x) * depthBytes_;
    if (depthBytes_ == 2) {
        auto v = static_cast<std::uint16_t>(word);
        std::memcpy(p, &v, 2);
    } else {
        std::memcpy(p, &word, 4);
    }
}

bool OutputMerger::DepthPasses(int x, int y, std::uint32_t depth) const {
    if (!depthTest_) return true;
    return Compare(depthFunc_, depth, ReadDepthWord(x, y) >> depthShift_);
}

void OutputMerger::WriteDepth(int x, int y, std::uint32_t depth) const {
    if (!depthWrite_) return;
    if (depthShift_ == 0) {
        WriteDepthWord(x, y, depth);
    } else {
        std::uint32_t word = ReadDepthWord(x, y);
        std::uint32_t depthMask = depthMax_ << depthShift_;
        WriteDepthWord(x, y, (word & ~depthMask) | (depth << depthShift_));
    }
}

bool OutputMerger::AlphaPasses(float alpha) const { return Compare(alphaFunc_, ToByte(alpha), alphaRef_); }

std::uint32_t OutputMerger::StencilOp(DWORD op, std::uint32_t stored) const {
    std::uint32_t all = (1u << stencilBits_) - 1;
    switch (op) {
        case D3DSTENCILOP_ZERO: return 0;
        case D3DSTENCILOP_REPLACE: return stencilRef_;
        case D3DSTENCILOP_INCRSAT: return stored < all ? stored + 1 : all;
        case D3DSTENCILOP_DECRSAT: return stored > 0 ? stored - 1 : 0;
        case D3DSTENCILOP_INVERT: return ~stored & all;
        case D3DSTENCILOP_INCR: return (stored + 1) & all;
        case D3DSTENCILOP_DECR: return (stored - 1) & all;
        default: return stored;  // KEEP
    }
}

void OutputMerger::Merge(int x, int y, std::uint32_t depth, const float rgba[4], bool frontFace) const {
    if (alphaTest_ && !AlphaPasses(rgba[3])) return;
    if (stencil_) {
        int face = twoSided_ && !frontFace ? 1 : 0;
        std::uint32_t word = ReadDepthWord(x, y);
        std::uint32_t all = (1u << stencilBits_) - 1;
        std::uint32_t stored = word & all;
        DWORD op;
        bool passes = false;
        if (!Compare(stencilFunc_[face], stencilRef_ & stencilMask_, stored & stencilMask_)) {
            op = stencilFail_[face];
        } else if (!DepthPasses(x, y, depth)) {
            op = stencilZFail_[face];
        } else {
            op = stencilPass_[face];
            passes = true;
        }
        std::uint32_t updated = StencilOp(op, stored);
        word = (word & ~stencilWriteMask_) | (updated & stencilWriteMask_);
        if (passes && depthWrite_) {
            std::uint32_t depthMask = depthMax_ << depthShift_;
            word = (word & ~depthMask) | (depth << depthShift_);
        }
        WriteDepthWord(x, y, word);
        if (!passes) return;
    } else if (depthWrite_) {
        WriteDepth(x, y, depth);
    }

    auto* pixel = reinterpret_cast<std::uint32_t*>(colourBase_ + static_cast<std::size_t>(y) * colourPitch_) + x;
    std::uint32_t old = *pixel;
    float result[4];
    if (blend_) {
        float dst[4];
        ColourToFloats(old, dst);
        if (!destinationHasAlpha_) dst[3] = 1.0f;
        float src[4] = {Sat(rgba[0]), Sat(rgba[1]), Sat(rgba[2]), Sat(rgba[3])};
        float sf[4], df[4], saf[4], daf[4];
        BlendFactor(srcBlend_, src, dst, blendFactor_, sf);
        BlendFactor(destBlend_, src, dst, blendFactor_, df);
        for (int c = 0; c < 3; ++c) result[c] = BlendOp(blendOp_, src[c], sf[c], dst[c], df[c]);
        BlendFactor(srcBlendAlpha_, src, dst, blendFactor_, saf);
        BlendFactor(destBlendAlpha_, src, dst, blendFactor_, daf);
        result[3] = BlendOp(blendOpAlpha_, src[3], saf[3], dst[3], daf[3]);
    } else {
        std::copy(rgba, rgba + 4, result);
    }
    std::uint32_t alphaByte = destinationHasAlpha_ ? ToByte(result[3]) : 0xFFu;
    std::uint32_t value = (alphaByte << 24) | (ToByte(result[0]) << 16) | (ToByte(result[1]) << 8) | ToByte(result[2]);
    *pixel = (old & ~writeMask_) | (value & writeMask_);
}

}  // namespace qm::d3d9
