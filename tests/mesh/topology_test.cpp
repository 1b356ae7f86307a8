// topology_test.cpp: adjacency from positions and point representatives, point representatives from
// adjacency, and the in-place and copying optimisations with their remaps and attribute tables; the
// representative, adjacency and sort rules checked against pair-by-pair and face-by-face workings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "library/mesh/mesh.h"
#include "library/mesh/mesh_topology.h"
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

    // The same sort with the adjacency rewritten in place gives the same table.
    ComPtr<Mesh> again = MakeMesh(Device(), 0x110, D3DFVF_XYZ, kSeamVertices.data(), 9, kSeamIndices, {1, 0, 1, 0});
    ASSERT_TRUE(again);
    ASSERT_EQ(again->GenerateAdjacency(0.0f, adjacency.data()), D3D_OK);
    ASSERT_EQ(again->OptimizeInPlace(kOptimizeAttrSort | kOptimizeCompact, adjacency.data(), adjacency.data(), nullptr,
                                     nullptr),
              D3D_OK);
    EXPECT_EQ(adjacency, adjacencyOut);
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
    // The vertices stay where they are: each maps to itself.
    const DWORD* remapped = static_cast<const DWORD*>(remap->GetBufferPointer());
    EXPECT_EQ(std::vector<DWORD>(remapped, remapped + 9), (std::vector<DWORD>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
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

// The representatives the tolerance rule gives, worked out pair by pair: two vertices meet when x, y
// and z each differ by at most the tolerance (differences taken as floats; vertices at the same
// infinite x meet when y and z do), and meeting is transitive; each vertex takes the lowest vertex
// of its group.
std::vector<DWORD> RepresentativesByRule(const std::vector<float>& p, float tolerance) {
    const DWORD n = static_cast<DWORD>(p.size() / 3);
    std::vector<DWORD> group(n);
    for (DWORD v = 0; v < n; ++v) group[v] = v;
    auto near = [&](DWORD a, DWORD b) {
        const float* u = &p[3 * a];
        const float* w = &p[3 * b];
        for (int axis = 0; axis < 3; ++axis)
            if (u[axis] != u[axis] || w[axis] != w[axis]) return false;
        const float dx = std::max(u[0], w[0]) - std::min(u[0], w[0]);
        const bool sameInfinity = std::isinf(u[0]) && u[0] == w[0];
        return (sameInfinity || dx <= tolerance) && std::fabs(u[1] - w[1]) <= tolerance &&
               std::fabs(u[2] - w[2]) <= tolerance;
    };
    for (bool changed = true; changed;) {
        changed = false;
        for (DWORD a = 0; a < n; ++a)
            for (DWORD b = 0; b < n; ++b)
                if (group[a] != group[b] && near(a, b)) {
                    const DWORD low = std::min(group[a], group[b]), high = std::max(group[a], group[b]);
                    for (DWORD& g : group)
                        if (g == high) g = low;
                    changed = true;
                }
    }
    return group;
}

TEST(MeshTopologyRules, PointRepresentativesFollowTheToleranceRule) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float values[] = {0.0f, -0.0f, 1.0f, 1.0f + 1e-7f, 0.25f, 0.2505f, 0.251f, 3e38f, -3e38f, inf, -inf, nan,
                            1e-40f, 2e-3f};
    std::mt19937 random(5);
    for (int round = 0; round < 300; ++round) {
        const DWORD n = 1 + random() % 40;
        std::vector<float> p(3 * n);
        for (float& c : p) c = values[random() % std::size(values)];
        // Some exact copies, so that groups of equal positions occur at any tolerance.
        for (DWORD v = 1; v < n; ++v)
            if (random() % 3 == 0) std::copy_n(&p[3 * (random() % v)], 3, &p[3 * v]);
        for (float tolerance : {0.0f, 1e-6f, 6e-4f, 0.3f, 2.0f, inf}) {
            ASSERT_EQ(PointRepsFromPositions(p, n, tolerance), RepresentativesByRule(p, tolerance))
                << "round " << round << " tolerance " << tolerance;
        }
    }
    // A grid whose columns share x exactly, as a lathed model's rings do.
    std::vector<float> grid;
    for (int i = 0; i < 30; ++i)
        for (int j = 0; j < 30; ++j) grid.insert(grid.end(), {float(j % 10), float(i) * 0.5f, 0.0f});
    for (float tolerance : {0.0f, 0.4f, 0.6f}) {
        EXPECT_EQ(PointRepsFromPositions(grid, 900, tolerance), RepresentativesByRule(grid, tolerance));
    }
    // Enough vertices for exact grouping to split them into several parts by hash: 6,000 drawn from
    // the values above, so that equal positions (signed zeros and infinities among them) recur far
    // apart in vertex order.
    std::vector<float> many(3 * 6000);
    for (float& c : many) c = values[random() % std::size(values)];
    EXPECT_EQ(PointRepsFromPositions(many, 6000, 0.0f), RepresentativesByRule(many, 0.0f));
}

// Adjacency by the rule, face by face: each edge (a, b) takes the earliest earlier edge (b, a) of
// another face that is still without a neighbour, else waits for a later one.
std::vector<DWORD> AdjacencyByRule(const std::vector<DWORD>& indices, const std::vector<DWORD>& reps) {
    auto rep = [&](DWORD v) { return v < reps.size() ? reps[v] : v; };
    const std::size_t faces = indices.size() / 3;
    std::vector<DWORD> adjacency(3 * faces, kNoNeighbour);
    std::vector<bool> waiting(3 * faces, false);
    for (std::size_t e = 0; e < 3 * faces; ++e) {
        const DWORD a = rep(indices[e]), b = rep(indices[e % 3 == 2 ? e - 2 : e + 1]);
        if (a == b) continue;
        bool paired = false;
        for (std::size_t o = 0; o < e && !paired; ++o) {
            if (!waiting[o] || o / 3 == e / 3) continue;
            if (rep(indices[o]) == b && rep(indices[o % 3 == 2 ? o - 2 : o + 1]) == a) {
                adjacency[e] = static_cast<DWORD>(o / 3);
                adjacency[o] = static_cast<DWORD>(e / 3);
                waiting[o] = false;
                paired = true;
            }
        }
        if (!paired) waiting[e] = true;
    }
    return adjacency;
}

TEST(MeshTopologyRules, AdjacencyFollowsTheEarliestFreeFaceRule) {
    std::mt19937 random(9);
    for (int round = 0; round < 400; ++round) {
        const DWORD vertices = 2 + random() % 12;
        // Every other round has enough faces that some vertex ends more than 32 edges.
        const DWORD faces = random() % (round % 2 == 0 ? 30 : 120);
        // Few vertices make shared, repeated and degenerate edges likely; some indices lie past the
        // vertex count, and some rounds give representatives far beyond it.
        std::vector<DWORD> indices(3 * faces);
        for (DWORD& i : indices) i = random() % 10 == 0 ? vertices + random() % 3 : random() % vertices;
        std::vector<DWORD> reps(vertices);
        for (DWORD v = 0; v < vertices; ++v) reps[v] = random() % 3 == 0 ? random() % (v + 1) : v;
        if (round % 4 == 0)
            for (DWORD& r : reps) r = random() % 2 ? 0xFFFFFF00u + random() % 4 : r;
        std::vector<DWORD> adjacency(3 * faces);
        AdjacencyFromPointReps(indices, vertices, reps.data(), adjacency.data());
        ASSERT_EQ(adjacency, AdjacencyByRule(indices, reps)) << "round " << round;
        AdjacencyFromPointReps(indices, vertices, nullptr, adjacency.data());
        ASSERT_EQ(adjacency, AdjacencyByRule(indices, {})) << "round " << round;
    }
}

TEST(MeshTopologyRules, AttributeSortKeepsFaceOrderWithinEachId) {
    std::mt19937 random(3);
    // Few ids take the counting path, many the merge sort; both must give the stable order, each
    // old face's new place, the faces' own indices in the new order and the table of the id runs.
    for (DWORD idRange : {3u, 50u, 1000u}) {
        const std::size_t faces = 600;
        std::vector<DWORD> indices(3 * faces), attributes(faces);
        for (std::size_t f = 0; f < faces; ++f) {
            attributes[f] = random() % idRange * 7;
            for (int c = 0; c < 3; ++c) indices[3 * f + c] = static_cast<DWORD>(random() % 100);
        }
        OptimizationPlan plan;
        ASSERT_TRUE(PlanOptimization(kOptimizeAttrSort | kOptimizeIgnoreVerts, indices, attributes, 100, &plan));
        ASSERT_EQ(plan.faceRemap.size(), faces);
        for (std::size_t f = 1; f < faces; ++f) {
            const DWORD before = plan.faceRemap[f - 1], after = plan.faceRemap[f];
            ASSERT_TRUE(attributes[before] < attributes[after] ||
                        (attributes[before] == attributes[after] && before < after))
                << "ids up to " << idRange << ", position " << f;
        }
        std::vector<DWORD> seen(plan.faceRemap.begin(), plan.faceRemap.end());
        std::sort(seen.begin(), seen.end());
        for (std::size_t f = 0; f < faces; ++f) ASSERT_EQ(seen[f], f);
        for (std::size_t f = 0; f < faces; ++f) EXPECT_EQ(plan.attributes[f], attributes[plan.faceRemap[f]]);
        ASSERT_EQ(plan.newFace.size(), faces);
        for (std::size_t f = 0; f < faces; ++f) ASSERT_EQ(plan.newFace[plan.faceRemap[f]], f);
        ASSERT_EQ(plan.indices.size(), 3 * faces);
        for (std::size_t f = 0; f < faces; ++f)
            for (int c = 0; c < 3; ++c) ASSERT_EQ(plan.indices[3 * f + c], indices[3 * plan.faceRemap[f] + c]);
        std::size_t covered = 0;
        for (const AttributeRange& range : plan.table) {
            ASSERT_EQ(range.faceStart, covered);
            DWORD low = 0xFFFFFFFF, high = 0;
            for (std::size_t f = range.faceStart; f < range.faceStart + range.faceCount; ++f) {
                ASSERT_EQ(plan.attributes[f], range.attribId);
                for (int c = 0; c < 3; ++c) {
                    low = std::min(low, plan.indices[3 * f + c]);
                    high = std::max(high, plan.indices[3 * f + c]);
                }
            }
            EXPECT_EQ(range.vertexStart, low);
            EXPECT_EQ(range.vertexCount, high - low + 1);
            covered += range.faceCount;
        }
        EXPECT_EQ(covered, faces);
    }
}

}  // namespace
}  // namespace qm
