// points.h: point primitives as screen-aligned squares: the side is the point size (after
// POINTSIZE_MIN/MAX clamping), centred on the vertex; point sprites give every coordinate set
// (0, 0) at the top-left corner to (1, 1) at the bottom-right.
#pragma once

#include <cstdint>

#include "platform/d3d9/pipeline_types.h"

namespace qm::d3d9 {

// Writes the four corners of the point's square (top-left, top-right, bottom-left,
// bottom-right) into quad. Every corner carries the centre's depth, 1/w and varyings; with sprite
// set, the coordinate sets in texCoordSetMask are replaced by the corner's sprite coordinates.
void ExpandPoint(const ScreenVertex& centre, float size, bool sprite, std::uint32_t texCoordSetMask, int varyingCount,
                 ScreenVertex quad[4]);

}  // namespace qm::d3d9
