// mesh_picking.h: ray tests against meshes: one triangle in double precision (Möller–Trumbore,
// "Fast, Minimum Storage Ray/Triangle Intersection", 1997) and the closest hit within one attribute
// group of a mesh, with a side test that rejects faces lying wholly on one side of the ray.
#pragma once

#include "library/math/math_types.h"
#include "library/mesh/data_buffer.h"
#include "library/mesh/mesh.h"

namespace qm {

// One entry of the all-hits buffer: 16 bytes per hit, in face order.
struct MeshHit {
    DWORD faceIndex;
    float u;
    float v;
    float distance;
};
static_assert(sizeof(MeshHit) == 16);

// True when the ray origin + t·direction (t ≥ 0) meets the triangle p0 p1 p2, either winding, edges
// and corners included; then u, v are the barycentric weights of p1 and p2 and t the distance in
// multiples of direction. All arithmetic is in double precision; a ray in the triangle's plane
// (determinant 0) misses. The outputs are written only on a hit.
bool IntersectTriangle(const Vector3& p0, const Vector3& p1, const Vector3& p2, const Vector3& origin,
                       const Vector3& direction, float* u, float* v, float* distance);

// The closest hit of the ray among the faces of attribute group attributeId (the attribute-table
// entry at that index when it carries the id, else the first entry that does). *hit is required; the
// other outputs may be null. On a hit *hit = TRUE and face (index within the mesh), u, v and distance
// describe the closest one; *allHits receives every hit in face order (16 bytes each, MeshHit) and
// *hitCount their number. No entry for the id, or a mesh without faces: S_OK and no hit.
// D3DERR_INVALIDCALL for a null mesh, origin, direction or hit, for a mesh whose buffers are
// write-only (options 0x40 or 0x400) or whose vertices have no position, and for a mesh whose
// attribute table is empty.
HRESULT IntersectSubset(Mesh* mesh, DWORD attributeId, const Vector3* origin, const Vector3* direction, BOOL* hit,
                        DWORD* faceIndex, float* u, float* v, float* distance, DataBuffer** allHits,
                        DWORD* hitCount);

}  // namespace qm
