// mesh_picking.cpp: the double-precision ray/triangle test (Möller–Trumbore, 1997) and the search of
// one attribute group of a mesh for the closest hit.
#include "engine/models/mesh_picking.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "library/mesh/vertex_declaration.h"

namespace qm {
namespace {

struct Vec3d {
    double x, y, z;
};

Vec3d ToDouble(const Vector3& v) { return {v.x, v.y, v.z}; }
Vec3d Sub(const Vec3d& a, const Vec3d& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
double Dot(const Vec3d& a, const Vec3d& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3d Cross(const Vec3d& a, const Vec3d& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Closest hits start beyond anything a scene holds.
constexpr float kFarthest = 1e35f;

// Keeps a mesh buffer locked for reading for the length of a scope.
class ReadLock {
public:
    ReadLock(Mesh* mesh, bool vertices) : mesh_(mesh), vertices_(vertices) {
        HRESULT hr = vertices ? mesh->LockVertexBuffer(D3DLOCK_READONLY, &data_)
                              : mesh->LockIndexBuffer(D3DLOCK_READONLY, &data_);
        if (FAILED(hr)) data_ = nullptr;
    }
    ~ReadLock() {
        if (data_ == nullptr) return;
        if (vertices_) {
            mesh_->UnlockVertexBuffer();
        } else {
            mesh_->UnlockIndexBuffer();
        }
    }
    ReadLock(const ReadLock&) = delete;
    ReadLock& operator=(const ReadLock&) = delete;
    const BYTE* Data() const { return static_cast<const BYTE*>(data_); }

private:
    Mesh* mesh_;
    bool vertices_;
    void* data_ = nullptr;
};

// Positions and corner indices of a locked mesh.
struct MeshView {
    const BYTE* vertices;
    DWORD vertexSize;
    DWORD vertexCount;
    BYTE positionType;
    WORD positionOffset;
    const BYTE* indices;
    bool wideIndices;

    Vector3 Position(DWORD vertex) const {
        float value[4];
        ReadDeclarationElement(positionType, vertices + std::size_t{vertex} * vertexSize + positionOffset, value);
        return {value[0], value[1], value[2]};
    }
    DWORD Corner(DWORD face, int corner) const {
        std::size_t at = std::size_t{face} * 3 + corner;
        if (wideIndices) {
            DWORD index;
            std::memcpy(&index, indices + at * 4, 4);
            return index;
        }
        WORD index;
        std::memcpy(&index, indices + at * 2, 2);
        return index;
    }
};

// Which side of the vertical plane through the ray a point lies on. For a ray with no x component
// the plane x = origin.x (which holds the ray) is used instead.
bool SideOf(const Vector3& p, const Vector3& origin, const Vector3& direction) {
    if (direction.x == 0.0f) return p.x > origin.x;
    return direction.y * (p.x - origin.x) - direction.x * (p.y - origin.y) > 0.0f;
}

}  // namespace

bool IntersectTriangle(const Vector3& p0, const Vector3& p1, const Vector3& p2, const Vector3& origin,
                       const Vector3& direction, float* u, float* v, float* distance) {
    Vec3d a = ToDouble(p0);
    Vec3d d = ToDouble(direction);
    Vec3d e1 = Sub(ToDouble(p1), a);
    Vec3d e2 = Sub(ToDouble(p2), a);
    Vec3d q = Cross(d, e2);
    double det = Dot(e1, q);
    Vec3d s;
    if (det > 0.0) {
        s = Sub(ToDouble(origin), a);
    } else if (det < 0.0) {
        s = Sub(a, ToDouble(origin));
        det = -det;
    } else {
        return false;
    }
    double uu = Dot(s, q);
    if (uu < 0.0 || uu > det) return false;
    Vec3d r = Cross(s, e1);
    double vv = Dot(d, r);
    if (vv < 0.0 || uu + vv > det) return false;
    double t = Dot(e2, r);
    if (t < 0.0) return false;
    *u = static_cast<float>(uu / det);
    *v = static_cast<float>(vv / det);
    *distance = static_cast<float>(t / det);
    return true;
}

HRESULT IntersectSubset(Mesh* mesh, DWORD attributeId, const Vector3* origin, const Vector3* direction, BOOL* hit,
                        DWORD* faceIndex, float* u, float* v, float* distance, DataBuffer** allHits,
                        DWORD* hitCount) {
    if (hit == nullptr) return D3DERR_INVALIDCALL;
    *hit = FALSE;
    if (hitCount != nullptr) *hitCount = 0;
    if (allHits != nullptr) *allHits = nullptr;
    if (mesh == nullptr || origin == nullptr || direction == nullptr) return D3DERR_INVALIDCALL;
    if (mesh->GetOptions() & (kMeshVertexWriteOnly | kMeshIndexWriteOnly)) return D3DERR_INVALIDCALL;
    D3DVERTEXELEMENT9 declaration[kMaxDeclarationElements];
    if (FAILED(mesh->GetDeclaration(declaration))) return D3DERR_INVALIDCALL;
    int position = FindDeclarationElement(declaration, D3DDECLUSAGE_POSITION, 0);
    if (position < 0) return D3DERR_INVALIDCALL;

    ReadLock indexLock(mesh, false);
    ReadLock vertexLock(mesh, true);
    if (indexLock.Data() == nullptr || vertexLock.Data() == nullptr) return D3DERR_INVALIDCALL;
    DWORD meshFaces = mesh->GetFaceCount();
    if (meshFaces == 0) return S_OK;

    DWORD entryCount = 0;
    if (FAILED(mesh->GetAttributeTable(nullptr, &entryCount)) || entryCount == 0) return D3DERR_INVALIDCALL;
    std::vector<AttributeRange> table(entryCount);
    if (FAILED(mesh->GetAttributeTable(table.data(), &entryCount))) return D3DERR_INVALIDCALL;
    const AttributeRange* range = nullptr;
    if (attributeId < entryCount && table[attributeId].attribId == attributeId) {
        range = &table[attributeId];
    } else {
        auto it = std::find_if(table.begin(), table.end(),
                               [&](const AttributeRange& entry) { return entry.attribId == attributeId; });
        if (it == table.end()) return S_OK;
        range = &*it;
    }

    MeshView view{vertexLock.Data(),
                  mesh->GetVertexSize(),
                  mesh->GetVertexCount(),
                  declaration[position].Type,
                  declaration[position].Offset,
                  indexLock.Data(),
                  (mesh->GetOptions() & kMesh32BitIndices) != 0};
    // A damaged table never reaches past the buffers.
    DWORD firstFace = std::min(range->faceStart, meshFaces);
    DWORD endFace = firstFace + std::min(range->faceCount, meshFaces - firstFace);
    DWORD firstVertex = std::min(range->vertexStart, view.vertexCount);
    DWORD endVertex = firstVertex + std::min(range->vertexCount, view.vertexCount - firstVertex);

    // Side flags of the group's vertices, computed once; corners outside the group's vertex range
    // are looked at directly.
    std::vector<bool> sides(endVertex - firstVertex);
    for (DWORD i = firstVertex; i < endVertex; ++i) {
        sides[i - firstVertex] = SideOf(view.Position(i), *origin, *direction);
    }
    auto sideOfCorner = [&](DWORD vertex) {
        if (vertex >= firstVertex && vertex < endVertex) return bool(sides[vertex - firstVertex]);
        return SideOf(view.Position(vertex), *origin, *direction);
    };

    std::vector<MeshHit> hits;
    MeshHit best{0, 0.0f, 0.0f, kFarthest};
    for (DWORD face = firstFace; face < endFace; ++face) {
        DWORD corners[3] = {view.Corner(face, 0), view.Corner(face, 1), view.Corner(face, 2)};
        if (corners[0] >= view.vertexCount || corners[1] >= view.vertexCount || corners[2] >= view.vertexCount) {
            continue;
        }
        bool side = sideOfCorner(corners[0]);
        if (sideOfCorner(corners[1]) == side && sideOfCorner(corners[2]) == side) continue;
        MeshHit found{face, 0.0f, 0.0f, 0.0f};
        if (!IntersectTriangle(view.Position(corners[0]), view.Position(corners[1]), view.Position(corners[2]),
                               *origin, *direction, &found.u, &found.v, &found.distance)) {
            continue;
        }
        if (found.distance < best.distance) {
            best = found;
            *hit = TRUE;
        }
        if (allHits != nullptr || hitCount != nullptr) hits.push_back(found);
    }

    if (*hit) {
        if (faceIndex != nullptr) *faceIndex = best.faceIndex;
        if (u != nullptr) *u = best.u;
        if (v != nullptr) *v = best.v;
        if (distance != nullptr) *distance = best.distance;
    }
    if (hitCount != nullptr) *hitCount = static_cast<DWORD>(hits.size());
    if (allHits != nullptr) {
        HRESULT hr = CreateDataBuffer(static_cast<DWORD>(hits.size() * sizeof(MeshHit)), allHits);
        if (FAILED(hr)) return hr;
        if (!hits.empty()) std::memcpy((*allHits)->GetBufferPointer(), hits.data(), hits.size() * sizeof(MeshHit));
    }
    return S_OK;
}

}  // namespace qm
