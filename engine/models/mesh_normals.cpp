// mesh_normals.cpp: area-weighted vertex normals from the faces of a mesh.
#include "engine/models/mesh_normals.h"

#include <cstring>
#include <vector>

#include "library/math/math.h"
#include "library/mesh/vertex_declaration.h"

namespace qm {

HRESULT ComputeNormals(Mesh* mesh) {
    if (mesh == nullptr) return D3DERR_INVALIDCALL;
    D3DVERTEXELEMENT9 declaration[kMaxDeclarationElements];
    if (FAILED(mesh->GetDeclaration(declaration))) return D3DERR_INVALIDCALL;
    int position = FindDeclarationElement(declaration, D3DDECLUSAGE_POSITION, 0);
    int normal = FindDeclarationElement(declaration, D3DDECLUSAGE_NORMAL, 0);
    if (position < 0 || normal < 0) return D3DERR_INVALIDCALL;

    DWORD vertexCount = mesh->GetVertexCount();
    DWORD faceCount = mesh->GetFaceCount();
    DWORD stride = mesh->GetVertexSize();
    bool wide = (mesh->GetOptions() & kMesh32BitIndices) != 0;

    void* indexData = nullptr;
    HRESULT hr = mesh->LockIndexBuffer(D3DLOCK_READONLY, &indexData);
    if (FAILED(hr)) return hr;
    std::vector<DWORD> indices(std::size_t{faceCount} * 3);
    for (std::size_t i = 0; i < indices.size(); ++i) {
        if (wide) {
            std::memcpy(&indices[i], static_cast<const BYTE*>(indexData) + i * 4, 4);
        } else {
            WORD index;
            std::memcpy(&index, static_cast<const BYTE*>(indexData) + i * 2, 2);
            indices[i] = index;
        }
    }
    mesh->UnlockIndexBuffer();

    void* vertexData = nullptr;
    hr = mesh->LockVertexBuffer(0, &vertexData);
    if (FAILED(hr)) return hr;
    BYTE* vertices = static_cast<BYTE*>(vertexData);
    auto positionOf = [&](DWORD vertex) {
        float value[4];
        ReadDeclarationElement(declaration[position].Type,
                               vertices + std::size_t{vertex} * stride + declaration[position].Offset, value);
        return Vector3(value[0], value[1], value[2]);
    };

    std::vector<Vector3> sums(vertexCount, Vector3(0.0f, 0.0f, 0.0f));
    for (DWORD face = 0; face < faceCount; ++face) {
        const DWORD* corner = &indices[std::size_t{face} * 3];
        if (corner[0] >= vertexCount || corner[1] >= vertexCount || corner[2] >= vertexCount) continue;
        Vector3 p0 = positionOf(corner[0]);
        Vector3 p1 = positionOf(corner[1]);
        Vector3 p2 = positionOf(corner[2]);
        Vector3 a(p0.x - p1.x, p0.y - p1.y, p0.z - p1.z);
        Vector3 b(p0.x - p2.x, p0.y - p2.y, p0.z - p2.z);
        Vector3 n(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
        for (int i = 0; i < 3; ++i) {
            Vector3& sum = sums[corner[i]];
            sum.x += n.x;
            sum.y += n.y;
            sum.z += n.z;
        }
    }
    for (DWORD vertex = 0; vertex < vertexCount; ++vertex) {
        Vector3 unit;
        Vec3Normalize(&unit, &sums[vertex]);
        float value[4] = {unit.x, unit.y, unit.z, 0.0f};
        WriteDeclarationElement(declaration[normal].Type,
                                value, vertices + std::size_t{vertex} * stride + declaration[normal].Offset);
    }
    mesh->UnlockVertexBuffer();
    return S_OK;
}

}  // namespace qm
