// spans.h: the span loops, the per-pixel work of a draw: interpolation with perspective
// correction, depth test, shading and the output merge, specialised by template for the common
// cases (untextured or one modulated texture; no depth or a 16-bit depth buffer; replacing,
// source-alpha blending or adding) and general for everything else.
#pragma once

#include <cstdint>

#include "platform/d3d9/output_merger.h"
#include "platform/d3d9/pixel_processing.h"
#include "platform/d3d9/rasteriser.h"

namespace qm::d3d9 {

// What every span of a draw shares; the pipeline fills it once per draw.
struct SpanContext {
    const PixelProcessor* pixels = nullptr;
    const OutputMerger* merger = nullptr;
    int varyingCount = kTexCoordSlot;
    std::uint32_t texCoordSetMask = 0;  // coordinate sets whose derivatives the stages need
};

// The loop for a draw's reduced shading, merging and depth testing.
SpanFn ChooseSpan(ShadeKind shade, MergeKind merge, DepthKind depth);

}  // namespace qm::d3d9
