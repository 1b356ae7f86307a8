// vertex_format.cpp: flexible vertex format words and primitive vertex counts.
#include "platform/d3d9/vertex_format.h"

namespace qm::d3d9 {
namespace {

struct PositionLayout {
    DWORD bits;
    UINT bytes;
    UINT blendWeights;
};
constexpr PositionLayout kPositions[] = {
    {0, 0, 0},
    {D3DFVF_XYZ, 12, 0},
    {D3DFVF_XYZRHW, 16, 0},
    {D3DFVF_XYZW, 16, 0},
    {D3DFVF_XYZB1, 16, 1},
    {D3DFVF_XYZB2, 20, 2},
    {D3DFVF_XYZB3, 24, 3},
    {D3DFVF_XYZB4, 28, 4},
    {D3DFVF_XYZB5, 32, 5},
};

const PositionLayout* FindPosition(DWORD fvf) {
    for (const PositionLayout& p : kPositions) {
        if ((fvf & D3DFVF_POSITION_MASK) == p.bits) return &p;
    }
    return nullptr;
}

// Floats per coordinate set, indexed by the set's two format bits.
constexpr UINT kCoordinateFloats[4] = {2, 3, 4, 1};

// Bits no format word may carry: reserved bits 0 and 13 (bit 14 belongs to D3DFVF_XYZW).
constexpr DWORD kReservedBits = D3DFVF_RESERVED0 | 0x2000;

}  // namespace

bool IsValidFvf(DWORD fvf) {
    if ((fvf & kReservedBits) != 0) return false;
    const PositionLayout* position = FindPosition(fvf);
    if (position == nullptr) return false;
    DWORD coordinateSets = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    if (coordinateSets > 8) return false;
    bool lastBeta = (fvf & (D3DFVF_LASTBETA_UBYTE4 | D3DFVF_LASTBETA_D3DCOLOR)) != 0;
    if (lastBeta && position->blendWeights == 0) return false;
    if ((fvf & D3DFVF_LASTBETA_UBYTE4) != 0 && (fvf & D3DFVF_LASTBETA_D3DCOLOR) != 0) return false;
    return true;
}

UINT FvfVertexSize(DWORD fvf) {
    const PositionLayout* position = FindPosition(fvf);
    UINT size = position != nullptr ? position->bytes : 0;
    if (fvf & D3DFVF_NORMAL) size += 12;
    if (fvf & D3DFVF_PSIZE) size += 4;
    if (fvf & D3DFVF_DIFFUSE) size += 4;
    if (fvf & D3DFVF_SPECULAR) size += 4;
    DWORD coordinateSets = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    for (DWORD set = 0; set < coordinateSets && set < 8; ++set) {
        size += 4 * kCoordinateFloats[(fvf >> (16 + set * 2)) & 3];
    }
    return size;
}

std::uint64_t VerticesForPrimitives(D3DPRIMITIVETYPE type, UINT count) {
    std::uint64_t n = count;
    switch (type) {
        case D3DPT_POINTLIST: return n;
        case D3DPT_LINELIST: return n * 2;
        case D3DPT_LINESTRIP: return n + 1;
        case D3DPT_TRIANGLELIST: return n * 3;
        case D3DPT_TRIANGLESTRIP:
        case D3DPT_TRIANGLEFAN: return n + 2;
    }
    return 0;
}

}  // namespace qm::d3d9
