// vertex_format.h: flexible vertex format words (validity, vertex size) and the number of vertices
// and indices a primitive count needs.
#pragma once

#include <cstdint>

#include "platform/d3d9/d3d9types.h"

namespace qm::d3d9 {

// True for 0 and for well-formed format words: no reserved bits, a known position type, at most 8
// texture coordinate sets, last-beta flags only with blend weights.
bool IsValidFvf(DWORD fvf);

// Bytes per vertex of a valid format word.
UINT FvfVertexSize(DWORD fvf);

// Vertices (or indices) used by count primitives of the given type; 0 for an unknown type.
std::uint64_t VerticesForPrimitives(D3DPRIMITIVETYPE type, UINT count);

}  // namespace qm::d3d9
