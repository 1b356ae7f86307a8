// quad_vertex.h: the vertex layout of the engine's quad buffer, made by Init and filled by sprites.
#pragma once

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
inline constexpr UINT kQuadBufferBytes = sizeof(QuadVertex) * kQuadVertexCount;  // 112

}  // namespace qm
