// topology_test.cpp: adjacency from positions and point representatives, point representatives from
// adjacency, and the in-place and copying optimisations with their remaps and attribute tables.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "library/mesh/mesh.h"
#include "tests/mesh/mesh_test_support.h"

namespace qm {
namespace {

using meshtest::MakeMesh;
using meshtest::ReadAttributes;
using meshtest::ReadIndices;
using meshtest::ReadTable;

class MeshTopologyTest : public meshtest::DeviceFixture {};

constexpr DWORD N = kNoNeighbour;

struct P {
    float x, y, z;
    bool operator==(const P& o) const { return x == o.x && y == o.y && z == o.z; }
};

// Two quads side by side; the right one repeats the shared edge's vertices (4 = 2, 5 = 3), and
// vertex 8 is used by no face.
const std::vector<P> kSeamVertices = {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {1, 1, 0}, {1, 0, 0},
                                      {1, 1, 0}, {2, 0, 0}, {2, 1, 0}, {9, 9, 9}};
const std::vector<DWORD> kSeamIndices = {0, 1, 2, 2, 1, 3, 4, 5, 6, 6, 5, 7};

std::vector<P> ReadPositions(Mesh* mesh) {
    void* data = nullptr;
    EXPECT_EQ(mesh->LockVertexBuffer(D3DLOCK_READONLY, &data), D3D_OK);
    std::vector<P> out(static_cast<P*>(data), static_cast<P*>(data) + mesh->GetVertexCount());
    mesh->UnlockVertexBuffer();
    return out;
}

TEST_F(MeshTopologyTest, AdjacencyJoinsFacesAcrossEqualPositions) {
    ComPtr<Mesh> mesh = MakeMesh(Device(), 0x110, D3DFVF_XYZ, kSeamVertices.data(), 9, kSeamIndices, {0, 0, 0, 0});
    ASSERT_TRUE(mesh);
    std::vector<DWORD> adjacency(12, 0x55);
    ASSERT_EQ(mesh->GenerateAdjacency(0.0f, adjacency.data()), D3D_OK);
    EXPECT_EQ(adjacency, (std::vector<DWORD>{N, 1, N, 0, N, 2, 1, 3, N, 2, N, N}));

    // Vertices as their own representatives: the seam stays open.
    ASSERT_EQ(mesh->AdjacencyFromPointReps(nullptr, adjacency.data()), D3D_OK);
    EXPECT_EQ(adjacency, (std::vector<DWORD>{N, 1, N, 0, N, N, N, 3, N, 2, N, N}));

    // Representatives recovered from the full adjacency, and the adjacency rebuilt from them.
    const std::vector<DWORD> full = {N, 1, N, 0, N, 2, 1, 3, N, 2, N, N};
    std::vector<DWORD> reps(9);
    ASSERT_EQ(mesh->PointRepsFromAdjacency(full.data(), reps.data()), D3D_OK);
    EXPECT_EQ(reps, (std::vector<DWORD>{0, 1, 2, 3, 2, 3, 6, 7, 8}));
    ASSERT_EQ(mesh->AdjacencyFromPointReps(reps.data(), adjacency.data()), D3D_OK);
    EXPECT_EQ(adjacency, full);

    EXPECT_EQ(mesh->GenerateAdjacency(-1.0f, adjacency.data()), D3DERR_INVALIDCALL);
    EXPECT_EQ(mesh->GenerateAdjacency(0.0f, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(mesh->PointRepsFromAdjacency(nullptr, reps.data()), D3DERR_INVALIDCALL);
    EXPECT_EQ(mesh->PointRepsFromAdjacency(full.data(), nullptr), D3DERR_INVALIDCALL);
}

TEST_F(MeshTopologyTest, ToleranceDecidesWhichNearPositionsMeet) {
    std::vector<P> vertices = kSeamVertices;
    vertices[5].x += 1e-4f;
    ComPtr<Mesh> mesh = MakeMesh(Device(), 0x111, D3DFVF_XYZ, vertices.data(), 9, kSeamIndices, {0, 0, 0, 0});
    ASSERT_TRUE(mesh);
    std::vector<DWORD> adjacency(12);
    ASSERT_EQ(mesh->GenerateAdjacency(0.0f, adjacency.data()), D3D_OK);
    EXPECT_EQ(adjacency[5], N);
    EXPECT_EQ(adjacency[6], N);
    ASSERT_EQ(mesh->GenerateAdjacency(1e-3f, adjacency.data()), D3D_OK);
    EXPECT_EQ(adjacency[5], 2u);
    EXPECT_EQ(adjacency[6], 1u);
}

TEST_F(MeshTopologyTest, SortWithVertexReorderAndCompaction) {
    ComPtr<Mesh> mesh = MakeMesh(Device(), 0x110, D3DFVF_XYZ, kSeamVertices.data(), 9, kSeamIndices, {1, 0, 1, 0});
    ASSERT_TRUE(mesh);
    std::vector<DWORD> adjacency(12);
    ASSERT_EQ(mesh->GenerateAdjacency(0.0f, adjacency.data()), D3D_OK);
    const std::vector<DWORD> oldIndices = ReadIndices(mesh.Get());

    std::vector<DWORD> adjacencyOut(12), faceRemap(4);
    DataBuffer* remapBuffer = nullptr;
    ASSERT_EQ(mesh->OptimizeInPlace(kOptimizeAttrSort | kOptimizeCompact, adjacency.data(), adjacencyOut.data(),
                                    faceRemap.data(), &remapBuffer),
              D3D_OK);
    ComPtr<DataBuffer> remapHold = ComPtr<DataBuffer>::Adopt(remapBuffer);
    EXPECT_EQ(faceRemap, (std::vector<DWORD>{1, 3, 0, 2}));
    ASSERT_EQ(remapBuffer->GetBufferSize(), 8 * sizeof(DWORD));  // the unused vertex is gone
    const DWORD* vertexRemap = static_cast<const DWORD*>(remapBuffer->GetBufferPointer());
    EXPECT_EQ(std::vector<DWORD>(vertexRemap, vertexRemap + 8), (std::vector<DWORD>{2, 1, 3, 6, 5, 7, 0, 4}));
    ASSERT_EQ(mesh->GetVertexCount(), 8u);

    // Every new vertex is the old vertex its remap names; every new face has its old face's corners.
    const std::vector<P> positions = ReadPositions(mesh.Get());
    for (int v = 0; v < 8; ++v) EXPECT_EQ(positions[v], kSeamVertices[vertexRemap[v]]) << v;
    const std::vector<DWORD> indices = ReadIndices(mesh.Get());
    for (int f = 0; f < 4; ++f)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(positions[indices[3 * f + c]], kSeamVertices[oldIndices[3 * faceRemap[f] + c]]) << f << c;
    EXPECT_EQ(ReadAttributes(mesh.Get()), (std::vector<DWORD>{0, 0, 1, 1}));

    // Each group's vertices: id 0 uses new vertices 0-5, id 1 spans 0-7.
    const std::vector<AttributeRange> table = ReadTable(mesh.Get());
    ASSERT_EQ(table.size(), 2u);
    const AttributeRange expected[] = {{0, 0, 2, 0, 6}, {1, 2, 2, 0, 8}};
    EXPECT_EQ(std::memcmp(table.data(), expected, sizeof expected), 0);

    // The rewritten adjacency describes the new faces as generation from positions does.
    std::vector<DWORD> regenerated(12);
    ASSERT_EQ(mesh->GenerateAdjacency(0.0f, regenerated.data()), D3D_OK);
    EXPECT_EQ(adjacencyOut, regenerated);
}

TEST_F(MeshTopologyTest, OptimizeMakesASortedCopyAndChecksFlags) {
    ComPtr<Mesh> mesh = MakeMesh(Device(), 0x111, D3DFVF_XYZ, kSeamVertices.data(), 9, kSeamIndices, {3, 1, 3, 2});
    ASSERT_TRUE(mesh);
    Mesh* made = nullptr;
    DataBuffer* remap = nullptr;
    ASSERT_EQ(
        mesh->Optimize(0x110 | kOptimizeAttrSort | kOptimizeIgnoreVerts, nullptr, nullptr, nullptr, &remap, &made),
        D3D_OK);
    ComPtr<Mesh> sorted = ComPtr<Mesh>::Adopt(made);
    ComPtr<DataBuffer> remapHold = ComPtr<DataBuffer>::Adopt(remap);
    EXPECT_EQ(remap->GetBufferSize(), 9 * sizeof(DWORD));
    EXPECT_EQ(sorted->GetOptions(), 0x110u);
    EXPECT_EQ(ReadAttributes(sorted.Get()), (std::vector<DWORD>{1, 2, 3, 3}));
    EXPECT_EQ(ReadAttributes(mesh.Get()), (std::vector<DWORD>{3, 1, 3, 2}));
    EXPECT_EQ(ReadTable(sorted.Get()).size(), 3u);
    EXPECT_TRUE(ReadTable(mesh.Get()).empty());
    EXPECT_EQ(ReadIndices(sorted.Get()), (std::vector<DWORD>{2, 1, 3, 6, 5, 7, 0, 1, 2, 4, 5, 6}));

    EXPECT_EQ(mesh->Optimize(kOptimizeAttrSort | 0x1000, nullptr, nullptr, nullptr, nullptr, &made),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(made, nullptr);
    EXPECT_EQ(mesh->OptimizeInPlace(0x1, nullptr, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
    std::vector<DWORD> out(12);
    EXPECT_EQ(mesh->OptimizeInPlace(kOptimizeAttrSort, nullptr, out.data(), nullptr, nullptr), D3DERR_INVALIDCALL);
    // Nothing changed by the refused calls.
    EXPECT_EQ(ReadAttributes(mesh.Get()), (std::vector<DWORD>{3, 1, 3, 2}));
}

TEST_F(MeshTopologyTest, DamagedIndicesAreRefusedWhenVerticesMove) {
    ComPtr<Mesh> mesh = MakeMesh(Device(), 0x111, D3DFVF_XYZ, kSeamVertices.data(), 9,
                                 {0, 1, 2, 2, 1, 3, 4, 5, 6, 6, 5, 900}, {0, 1, 0, 1});
    ASSERT_TRUE(mesh);
    EXPECT_EQ(mesh->OptimizeInPlace(kOptimizeAttrSort, nullptr, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(ReadAttributes(mesh.Get()), (std::vector<DWORD>{0, 1, 0, 1}));
    // Adjacency tolerates the index past the vertex count.
    std::vector<DWORD> adjacency(12);
    EXPECT_EQ(mesh->GenerateAdjacency(0.0f, adjacency.data()), D3D_OK);
    std::vector<DWORD> reps(9);
    EXPECT_EQ(mesh->PointRepsFromAdjacency(adjacency.data(), reps.data()), D3D_OK);
}

}  // namespace
}  // namespace qm
