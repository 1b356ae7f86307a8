// sprites.h: screen-aligned textured rectangles in pixel coordinates, drawn through the quad buffer.
#pragma once

#include <cstdint>

#include "engine/quad_vertex.h"

namespace qm {

// Words of the sprite record: edges in integer pixels, texture coordinates at the edges in Fixed16.
enum SpriteWord { kSpriteLeft, kSpriteTop, kSpriteRight, kSpriteBottom, kSpriteULeft, kSpriteVTop, kSpriteURight,
                  kSpriteVBottom, kSpriteWords };

// Draws the rectangle of the 8-word record as a two-triangle strip (left-top, right-top,
// left-bottom, right-bottom) in the draw colour, textured with whatever stage 0 holds; no render
// state is changed, and stream 0 and the vertex format stay set to the quad's. 0, or -1 when the
// record is null or the quad buffer is absent or cannot be locked (nothing is drawn then).
std::int32_t DrawSpriteRecord(const std::int32_t* record);

}  // namespace qm
