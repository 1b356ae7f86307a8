// output_merger.h: the per-pixel tests and writes after shading: alpha test, stencil test and
// operations, depth test and write (values quantised to the depth format's integer range, as Clear
// stores them), blending with every blend factor and operation, and the colour write mask.
#pragma once

#include <cstdint>

#include "platform/d3d9/device_state.h"
#include "platform/d3d9/resources.h"

namespace qm::d3d9 {

// What the specialised span loops need to write a pixel directly: the colour target, and a 16-bit
// depth buffer when that is what the draw tests against.
struct FastTargets {
    std::byte* colour = nullptr;
    std::size_t colourPitch = 0;
    std::uint32_t alphaOr = 0;  // 0xFF000000 for targets without alpha, whose alpha reads as one
    std::byte* depth = nullptr;
    std::size_t depthPitch = 0;
    DWORD depthFunc = D3DCMP_ALWAYS;
    bool depthWrite = false;
};

// How the specialised loops may finish pixels: by replacing, by source-alpha blending, by adding,
// or only through Merge.
enum class MergeKind { kReplace, kAlphaBlend, kAdd, kGeneral };
// How they test depth: not at all, against a 16-bit buffer themselves, or through the merger.
enum class DepthKind { kNone, kD16, kGeneral };

// Depth values are rounded to the nearest step of the format.
inline std::uint32_t QuantiseDepth16(float z) {
    float clamped = z < 0.0f ? 0.0f : (z > 1.0f ? 1.0f : z);
    return static_cast<std::uint32_t>(clamped * 65535.0f + 0.5f);
}

class OutputMerger {
public:
    // Takes in the states and targets of a draw; false when the colour target's format cannot be
    // drawn to by this device.
    bool Prepare(const DeviceState& state, Surface* colour, Surface* depth);

    bool DepthEnabled() const { return depthTest_ || depthWrite_; }
    bool StencilEnabled() const { return stencil_; }

    // The specialised forms this draw's states allow.
    MergeKind Merging() const { return mergeKind_; }
    DepthKind Depth() const { return depthKind_; }
    const FastTargets& Targets() const { return fast_; }

    // The depth value of z (0 to 1) in the depth buffer's integer range.
    std::uint32_t QuantiseDepth(float z) const;

    // Depth test alone, reading the buffer (used ahead of shading when stencil is off).
    bool DepthPasses(int x, int y, std::uint32_t depth) const;

    // Writes a depth value that passed, keeping the stencil bits of the word.
    void WriteDepth(int x, int y, std::uint32_t depth) const;

    // Finishes a shaded pixel: alpha test, stencil and depth tests with their updates, blending and
    // the masked colour write. Without stencil the depth test has already been made (DepthPasses);
    // with it, it is made here, where a failure still updates the stencil.
    void Merge(int x, int y, std::uint32_t depth, const float rgba[4], bool frontFace) const;

private:
    bool AlphaPasses(float alpha) const;
    bool StencilPasses(std::uint32_t stored, DWORD function) const;
    std::uint32_t StencilOp(DWORD op, std::uint32_t stored) const;
    std::uint32_t ReadDepthWord(int x, int y) const;
    void WriteDepthWord(int x, int y, std::uint32_t word) const;

    std::byte* colourBase_ = nullptr;
    std::size_t colourPitch_ = 0;
    bool destinationHasAlpha_ = false;
    std::byte* depthBase_ = nullptr;
    std::size_t depthPitch_ = 0;
    int depthBytes_ = 0;        // 2 or 4
    std::uint32_t depthMax_ = 0;  // largest depth value
    int depthShift_ = 0;
    int stencilBits_ = 0;

    bool depthTest_ = false;
    bool depthWrite_ = false;
    DWORD depthFunc_ = D3DCMP_LESSEQUAL;
    bool alphaTest_ = false;
    DWORD alphaFunc_ = D3DCMP_ALWAYS;
    std::uint32_t alphaRef_ = 0;
    bool stencil_ = false;
    bool twoSided_ = false;
    DWORD stencilFunc_[2] = {}, stencilFail_[2] = {}, stencilZFail_[2] = {}, stencilPass_[2] = {};
    std::uint32_t stencilRef_ = 0, stencilMask_ = 0, stencilWriteMask_ = 0;
    bool blend_ = false;
    bool separateAlpha_ = false;
    DWORD srcBlend_ = D3DBLEND_ONE, destBlend_ = D3DBLEND_ZERO, blendOp_ = D3DBLENDOP_ADD;
    DWORD srcBlendAlpha_ = D3DBLEND_ONE, destBlendAlpha_ = D3DBLEND_ZERO, blendOpAlpha_ = D3DBLENDOP_ADD;
    float blendFactor_[4] = {};
    std::uint32_t writeMask_ = 0xFFFFFFFFu;  // bits of the ARGB word that writes may change
    MergeKind mergeKind_ = MergeKind::kGeneral;
    DepthKind depthKind_ = DepthKind::kGeneral;
    FastTargets fast_;
};

// True when `value` compares to `reference` as the D3DCMPFUNC says.
inline bool Compare(DWORD function, std::uint32_t value, std::uint32_t reference) {
    switch (function) {
        case D3DCMP_NEVER: return false;
        case D3DCMP_LESS: return value < reference;
        case D3DCMP_EQUAL: return value == reference;
        case D3DCMP_LESSEQUAL: return value <= reference;
        case D3DCMP_GREATER: return value > reference;
        case D3DCMP_NOTEQUAL: return value != reference;
        case D3DCMP_GREATEREQUAL: return value >= reference;
        default: return true;
    }
}

}  // namespace qm::d3d9
