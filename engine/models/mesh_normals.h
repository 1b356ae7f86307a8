// mesh_normals.h: vertex normals of a mesh as the area-weighted sum of the normals of its faces.
#pragma once

#include "library/mesh/mesh.h"

namespace qm {

// Sets every vertex normal of the mesh (its first normal element) to the normalised sum of the
// unnormalised normals (p0 − p1) × (p0 − p2) of the faces that use the vertex, so larger faces weigh
// more; vertices are matched by index only. D3DERR_INVALIDCALL for a null mesh, a mesh without a
// position or a normal, or buffers that cannot be locked. Faces with a corner past the last vertex
// are left out.
HRESULT ComputeNormals(Mesh* mesh);

}  // namespace qm
