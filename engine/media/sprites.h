// sprites.h: screen-aligned textured rectangles in pixel coordinates, drawn through the quad buffer.
#pragma once

#include <cstdint>

#include "platform/d3d9/d3d9types.h"
#include "platform/win/win_types.h"

namespace qm {

// One pre-transformed vertex of the quad buffer (vertex format kQuadFvf).
struct QuadVertex {
    float x, y, z, rhw;
    DWORD diffuse;
    float u, v;
};
static_assert(sizeof(QuadVertex) == 28);

inline constexpr DWORD kQuadFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;  // 0x144
inline constexpr int kQuadVertexCount = 4;

// Words of the sprite record: edges in integer pixels, texture coordinates at the edges in Fixed16.
enum SpriteWord { kSpriteLeft, kSpriteTop, kSpriteRight, kSpriteBottom, kSpriteULeft, kSpriteVTop, kSpriteURight,
                  kSpriteVBottom, kSpriteWords };

// Draws the rectangle of the 8-word record as a two-triangle strip (left-top, right-top,
// left-bottom, right-bottom) in the draw colour, textured with whatever stage 0 holds; no render
// state is changed, and stream 0 and the vertex format stay set to the quad's. 0, or -1 when the
// record is null or the quad buffer is absent or cannot be locked (nothing is drawn then).
std::int32_t DrawSpriteRecord(const std::int32_t* record);

}  // namespace qm
