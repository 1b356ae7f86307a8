// models_test.cpp: models in the engine: ray/triangle and group picking, vertex normals, posture
// matrices, the frame walk and frame matrices; and through the exports, on models loaded from X files
// written here: loading and replacing, the device calls of drawing, tints, tracks, posture, frame
// references and names, ray picking, and the pixels a drawn model covers.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/device.h"
#include "engine/engine_state.h"
#include "engine/models/frame_handles.h"
#include "engine/models/mesh_normals.h"
#include "engine/models/mesh_picking.h"
#include "engine/models/model_drawing.h"
#include "engine/models/model_loading.h"
#include "engine/models/model_picking.h"
#include "engine/models/model_posture.h"
#include "engine/models/model_records.h"
#include "library/math/math.h"
#include "platform/d3d9/diagnostics.h"
#include "tests/mesh/mesh_test_support.h"

namespace qm {
namespace {

constexpr std::int32_t kOne = 65536;

// Tests that need the engine's device open it through Init and close everything afterwards.
class EngineModels : public ::testing::Test {
protected:
    void SetUp() override {
        info[1] = 64;
        info[2] = 48;
        ASSERT_EQ(InitDevice(info), 0);
    }
    void TearDown() override {
        ByeEngine();
        Engine().lightTable.Clear();
        Engine().device.Reset();
        Engine().direct3d.Reset();
    }
    IDirect3DDevice9* Device() { return Engine().device.Get(); }
    std::int32_t info[16] = {};
};

// A position-only mesh of the triangles, sorted by attribute so it has an attribute table.
ComPtr<Mesh> TriangleMesh(IDirect3DDevice9* device, const std::vector<Vector3>& positions,
                          const std::vector<DWORD>& indices, const std::vector<DWORD>& attributes,
                          DWORD options = kMeshVertexSystemMem | kMeshIndexSystemMem) {
    ComPtr<Mesh> mesh = meshtest::MakeMesh(device, options, D3DFVF_XYZ, positions.data(),
                                           static_cast<DWORD>(positions.size()), indices, attributes);
    if (mesh) {
        EXPECT_EQ(mesh->OptimizeInPlace(kOptimizeAttrSort | kOptimizeIgnoreVerts, nullptr, nullptr, nullptr, nullptr),
                  D3D_OK);
    }
    return mesh;
}

TEST(ModelPicking, TriangleHitsCountEdgesBothWindingsAndOnlyForwardDistances) {
    Vector3 p0(0, 0, 0), p1(1, 0, 0), p2(0, 1, 0);
    float u = -1, v = -1, t = -1;
    // The ray meets the plane z = 0 at (0.25, 0.5): weights 0.25 of p1 and 0.5 of p2, distance 1.
    ASSERT_TRUE(IntersectTriangle(p0, p1, p2, Vector3(0.25f, 0.5f, -1), Vector3(0, 0, 1), &u, &v, &t));
    EXPECT_FLOAT_EQ(u, 0.25f);
    EXPECT_FLOAT_EQ(v, 0.5f);
    EXPECT_FLOAT_EQ(t, 1.0f);
    // The other winding swaps the weights; distances are in multiples of the direction.
    ASSERT_TRUE(IntersectTriangle(p0, p2, p1, Vector3(0.25f, 0.5f, -10), Vector3(0, 0, 2), &u, &v, &t));
    EXPECT_FLOAT_EQ(u, 0.5f);
    EXPECT_FLOAT_EQ(v, 0.25f);
    EXPECT_FLOAT_EQ(t, 5.0f);
    // Corners and the hypotenuse count as inside.
    EXPECT_TRUE(IntersectTriangle(p0, p1, p2, Vector3(1, 0, -1), Vector3(0, 0, 1), &u, &v, &t));
    EXPECT_TRUE(IntersectTriangle(p0, p1, p2, Vector3(0.5f, 0.5f, -1), Vector3(0, 0, 1), &u, &v, &t));
    EXPECT_FLOAT_EQ(u + v, 1.0f);
    // Just outside, behind the origin, and in the triangle's plane: no hit, outputs untouched.
    u = v = t = 7.0f;
    EXPECT_FALSE(IntersectTriangle(p0, p1, p2, Vector3(0.5f, 0.5001f, -1), Vector3(0, 0, 1), &u, &v, &t));
    EXPECT_FALSE(IntersectTriangle(p0, p1, p2, Vector3(0.25f, 0.25f, 1), Vector3(0, 0, 1), &u, &v, &t));
    EXPECT_FALSE(IntersectTriangle(p0, p1, p2, Vector3(-1, 0.25f, 0), Vector3(1, 0, 0), &u, &v, &t));
    EXPECT_EQ(u, 7.0f);
    EXPECT_EQ(t, 7.0f);
    // A ray starting on the triangle hits it at distance 0.
    ASSERT_TRUE(IntersectTriangle(p0, p1, p2, Vector3(0.25f, 0.25f, 0), Vector3(0, 0, 1), &u, &v, &t));
    EXPECT_EQ(t, 0.0f);
}

TEST_F(EngineModels, SubsetSearchFindsTheClosestFaceOfTheGroupAndListsAllHits) {
    // Three unit squares' worth of triangles on the ray x = 0.25, y = 0.25 along +z: faces 0 and 1
    // (group 1) at z = 4 and z = 2, face 2 (group 0) at z = 1, and face 3 (group 1) off the ray.
    std::vector<Vector3> positions = {{0, 0, 4}, {1, 0, 4}, {0, 1, 4}, {0, 0, 2}, {1, 0, 2}, {0, 1, 2},
                                      {0, 0, 1}, {1, 0, 1}, {0, 1, 1}, {5, 5, 0}, {6, 5, 0}, {5, 6, 0}};
    ComPtr<Mesh> mesh = TriangleMesh(Device(), positions, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, {1, 1, 0, 1});
    ASSERT_TRUE(mesh);
    // Sorting puts group 0 (old face 2) first: face 0; group 1 holds faces 1, 2, 3 (z = 4, 2, off).
    Vector3 origin(0.25f, 0.25f, -1), direction(0, 0, 1);
    BOOL hit = FALSE;
    DWORD face = 99, count = 99;
    float u = 0, v = 0, t = 0;
    DataBuffer* all = nullptr;
    ASSERT_EQ(IntersectSubset(mesh.Get(), 1, &origin, &direction, &hit, &face, &u, &v, &t, &all, &count), D3D_OK);
    ASSERT_TRUE(hit);
    EXPECT_EQ(face, 2u);
    EXPECT_FLOAT_EQ(t, 3.0f);
    EXPECT_FLOAT_EQ(u, 0.25f);
    EXPECT_FLOAT_EQ(v, 0.25f);
    ASSERT_EQ(count, 2u);
    ASSERT_NE(all, nullptr);
    ASSERT_EQ(all->GetBufferSize(), 32u);
    MeshHit hits[2];
    std::memcpy(hits, all->GetBufferPointer(), sizeof hits);
    all->Release();
    EXPECT_EQ(hits[0].faceIndex, 1u);
    EXPECT_FLOAT_EQ(hits[0].distance, 5.0f);
    EXPECT_EQ(hits[1].faceIndex, 2u);
    EXPECT_FLOAT_EQ(hits[1].distance, 3.0f);

    ASSERT_EQ(IntersectSubset(mesh.Get(), 0, &origin, &direction, &hit, &face, nullptr, nullptr, &t, nullptr, nullptr),
              D3D_OK);
    ASSERT_TRUE(hit);
    EXPECT_EQ(face, 0u);
    EXPECT_FLOAT_EQ(t, 2.0f);

    // An id no face carries: no hit, success. Missing required arguments: invalid call.
    hit = TRUE;
    EXPECT_EQ(IntersectSubset(mesh.Get(), 7, &origin, &direction, &hit, nullptr, nullptr, nullptr, nullptr, nullptr,
                              &count),
              D3D_OK);
    EXPECT_FALSE(hit);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(IntersectSubset(mesh.Get(), 0, &origin, &direction, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(IntersectSubset(nullptr, 0, &origin, &direction, &hit, nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr),
              D3DERR_INVALIDCALL);

    // Two faces at the same distance: the first one tested is kept.
    ComPtr<Mesh> twins = TriangleMesh(Device(), {{0, 0, 1}, {1, 0, 1}, {0, 1, 1}}, {0, 1, 2, 0, 2, 1}, {0, 0});
    ASSERT_EQ(IntersectSubset(twins.Get(), 0, &origin, &direction, &hit, &face, nullptr, nullptr, &t, nullptr, &count),
              D3D_OK);
    EXPECT_EQ(face, 0u);
    EXPECT_EQ(count, 2u);

    // A mesh without an attribute table, and one whose index buffer cannot be read back.
    ComPtr<Mesh> unsorted = meshtest::MakeMesh(Device(), kMeshVertexSystemMem | kMeshIndexSystemMem, D3DFVF_XYZ,
                                               positions.data(), 3, {0, 1, 2}, {0});
    EXPECT_EQ(IntersectSubset(unsorted.Get(), 0, &origin, &direction, &hit, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr),
              D3DERR_INVALIDCALL);
    ComPtr<Mesh> writeOnly = TriangleMesh(Device(), positions, {0, 1, 2}, {0}, kMeshIndexSystemMem);
    ComPtr<Mesh> cloned;
    ASSERT_EQ(writeOnly->CloneWithFVF(kMeshIndexWriteOnly, D3DFVF_XYZ, Device(), cloned.ReleaseAndGetAddressOf()),
              D3D_OK);
    EXPECT_EQ(IntersectSubset(cloned.Get(), 0, &origin, &direction, &hit, nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr),
              D3DERR_INVALIDCALL);
}

TEST_F(EngineModels, SideTestSkipsFacesWhollyOnOneSideOfTheRay) {
    // Two triangles whose edge lies on x = 0, one reaching to x = -1 and one to x = +1. A ray along
    // z through (0, 0) touches both edges; the triangle test alone counts edges as inside, but every
    // vertex of the left triangle has x ≤ 0 (side 0), so only the right one is tested.
    std::vector<Vector3> left = {{-1, -1, 0}, {0, -1, 0}, {0, 1, 0}};
    std::vector<Vector3> right = {{1, -1, 0}, {0, -1, 0}, {0, 1, 0}};
    Vector3 origin(0, 0, -10), direction(0, 0, 1);
    float u, v, t;
    ASSERT_TRUE(IntersectTriangle(left[0], left[1], left[2], origin, direction, &u, &v, &t));
    BOOL hit = TRUE;
    ComPtr<Mesh> leftMesh = TriangleMesh(Device(), left, {0, 1, 2}, {0});
    ASSERT_EQ(IntersectSubset(leftMesh.Get(), 0, &origin, &direction, &hit, nullptr, nullptr, nullptr, &t, nullptr,
                              nullptr),
              D3D_OK);
    EXPECT_FALSE(hit);
    ComPtr<Mesh> rightMesh =
        TriangleMesh(Device(), right, {0, 1, 2}, {0}, kMesh32BitIndices | kMeshVertexSystemMem | kMeshIndexSystemMem);
    ASSERT_EQ(IntersectSubset(rightMesh.Get(), 0, &origin, &direction, &hit, nullptr, nullptr, nullptr, &t, nullptr,
                              nullptr),
              D3D_OK);
    EXPECT_TRUE(hit);
    EXPECT_FLOAT_EQ(t, 10.0f);

    // With a sideways direction the side is that of the vertical plane holding the ray:
    // d.y·(p.x − o.x) − d.x·(p.y − o.y). The ray from (-1, -1, -1) along (1, 1, 1) meets the plane
    // z = 0 at (0, 0); a triangle with a corner exactly there and the others at y > x lies on side 0.
    std::vector<Vector3> above = {{0, 0, 0}, {-1, 1, 0}, {0, 2, 0}};
    Vector3 slantOrigin(-1, -1, -1), slant(1, 1, 1);
    ASSERT_TRUE(IntersectTriangle(above[0], above[1], above[2], slantOrigin, slant, &u, &v, &t));
    ComPtr<Mesh> aboveMesh = TriangleMesh(Device(), above, {0, 1, 2}, {0});
    ASSERT_EQ(IntersectSubset(aboveMesh.Get(), 0, &slantOrigin, &slant, &hit, nullptr, nullptr, nullptr, &t, nullptr,
                              nullptr),
              D3D_OK);
    EXPECT_FALSE(hit);
}

TEST_F(EngineModels, ComputedNormalsWeighFacesByArea) {
    // Face A (v0, v1, v2) has normal (p0 − p1) × (p0 − p2) = (0, 0, 1); face B (v0, v2, v3) with
    // v3 = (0, 0, −2) has (−2, 0, 0): twice the area. v0 and v2 share both.
    struct Vertex {
        float x, y, z, nx, ny, nz;
    };
    Vertex vertices[4] = {{0, 0, 0, 9, 9, 9}, {1, 0, 0, 9, 9, 9}, {0, 1, 0, 9, 9, 9}, {0, 0, -2, 9, 9, 9}};
    ComPtr<Mesh> mesh = meshtest::MakeMesh(Device(), kMeshVertexSystemMem | kMeshIndexSystemMem,
                                           D3DFVF_XYZ | D3DFVF_NORMAL, vertices, 4, {0, 1, 2, 0, 2, 3}, {0, 0});
    ASSERT_TRUE(mesh);
    ASSERT_EQ(ComputeNormals(mesh.Get()), D3D_OK);
    void* data = nullptr;
    ASSERT_EQ(mesh->LockVertexBuffer(D3DLOCK_READONLY, &data), D3D_OK);
    std::memcpy(vertices, data, sizeof vertices);
    mesh->UnlockVertexBuffer();
    const float s = 1.0f / std::sqrt(5.0f);
    EXPECT_NEAR(vertices[0].nx, -2 * s, 1e-6);
    EXPECT_NEAR(vertices[0].ny, 0, 1e-6);
    EXPECT_NEAR(vertices[0].nz, s, 1e-6);
    EXPECT_NEAR(vertices[2].nx, -2 * s, 1e-6);
    EXPECT_NEAR(vertices[1].nz, 1, 1e-6);
    EXPECT_NEAR(vertices[1].nx, 0, 1e-6);
    EXPECT_NEAR(vertices[3].nx, -1, 1e-6);
    EXPECT_NEAR(vertices[3].nz, 0, 1e-6);
    EXPECT_EQ(vertices[3].x, 0.0f);  // positions untouched
    EXPECT_EQ(vertices[3].z, -2.0f);

    ComPtr<Mesh> noNormals = TriangleMesh(Device(), {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2}, {0});
    EXPECT_EQ(ComputeNormals(noNormals.Get()), D3DERR_INVALIDCALL);
}

// p × m for a point p.
Vector3 Apply(const Matrix& m, Vector3 p) {
    Vector4 q;
    Vec3Transform(&q, &p, &m);
    return {q.x, q.y, q.z};
}

void ExpectNear(Vector3 actual, Vector3 expected) {
    EXPECT_NEAR(actual.x, expected.x, 1e-5);
    EXPECT_NEAR(actual.y, expected.y, 1e-5);
    EXPECT_NEAR(actual.z, expected.z, 1e-5);
}

TEST(ModelPosture, PostureScalesThenTurnsAboutZXYThenMoves) {
    // A quarter turn about Y takes +X to −Z.
    std::int32_t turnY[10] = {0, 0, 0, 0, 16384, 0, kOne, kOne, kOne, 0};
    ExpectNear(Apply(PostureMatrix(turnY), {1, 0, 0}), {0, 0, -1});
    ExpectNear(Apply(PostureMatrix(turnY), {0, 0, 1}), {1, 0, 0});
    // Scale (2, 3, 4), quarter turns about Z, X and Y (in that order), then move by (1, 2, 3):
    // (1, 0, 0) → (2, 0, 0) → Z: (0, 2, 0) → X: (0, 0, 2) → Y: (2, 0, 0) → (3, 2, 3);
    // (0, 1, 0) → (0, 3, 0) → Z: (−3, 0, 0) → X: unchanged → Y: (0, 0, 3) → (1, 2, 6);
    // (0, 0, 1) → (0, 0, 4) → Z: unchanged → X: (0, −4, 0) → Y: unchanged → (1, −2, 3).
    std::int32_t all[10] = {kOne, 2 * kOne, 3 * kOne, 16384, 16384, 16384, 2 * kOne, 3 * kOne, 4 * kOne, 0};
    Matrix m = PostureMatrix(all);
    ExpectNear(Apply(m, {1, 0, 0}), {3, 2, 3});
    ExpectNear(Apply(m, {0, 1, 0}), {1, 2, 6});
    ExpectNear(Apply(m, {0, 0, 1}), {1, -2, 3});
    // An eighth of a turn about Z: (1, 0, 0) → (c, s, 0).
    std::int32_t eighth[10] = {0, 0, 0, 0, 0, 8192, kOne, kOne, kOne, 0};
    const float h = std::sqrt(0.5f);
    ExpectNear(Apply(PostureMatrix(eighth), {1, 0, 0}), {h, h, 0});
    // Scale 0 flattens the axis.
    std::int32_t flat[10] = {0, 0, 0, 0, 0, 0, kOne, 0, kOne, 0};
    ExpectNear(Apply(PostureMatrix(flat), {1, 5, 1}), {1, 0, 1});
}

// Frames R (children A, B) and A1 (child of A), with transforms that translate by distinct amounts.
struct HandTree {
    ModelFrame root, a, b, a1;
    HandTree() {
        for (ModelFrame* f : {&root, &a, &b, &a1}) {
            MatrixIdentity(&f->transform);
            MatrixIdentity(&f->combined);
        }
        root.firstChild = &a;
        a.sibling = &b;
        a.firstChild = &a1;
        MatrixTranslation(&root.transform, 1, 0, 0);
        MatrixTranslation(&a.transform, 0, 1, 0);
        MatrixTranslation(&b.transform, 0, 0, 1);
        MatrixScaling(&a1.transform, 2, 2, 2);
    }
};

TEST(ModelFrames, CombinedMatricesComposeDownTheTree) {
    HandTree tree;
    // combined = transform × parent's combined: A1 scales by 2, then A moves by (0, 1, 0), R by
    // (1, 0, 0), the world by (0, 0, 10).
    Matrix world;
    MatrixTranslation(&world, 0, 0, 10);
    UpdateFrameMatrices(&tree.root, &world);
    ExpectNear(Apply(tree.a1.combined, {1, 1, 1}), {3, 3, 12});
    ExpectNear(Apply(tree.b.combined, {0, 0, 0}), {1, 0, 11});
    ExpectNear(Apply(tree.a.combined, {0, 0, 0}), {1, 1, 10});
    // Without a parent the root's combined matrix is its transform.
    UpdateFrameMatrices(&tree.root, nullptr);
    ExpectNear(Apply(tree.root.combined, {0, 0, 0}), {1, 0, 0});
    ExpectNear(Apply(tree.b.combined, {0, 0, 0}), {1, 0, 1});
}

// ---- Models loaded from X files ----

// Writes a text X file into the test's temporary folder and returns its path.
std::string WriteXFile(const std::string& name, const std::string& body) {
    std::string path = ::testing::TempDir() + "/qm_models_" + name + ".x";
    std::ofstream out(path, std::ios::binary);
    out << "xof 0303txt 0032\n" << body;
    return path;
}

const char* kIdentityMatrix = "1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,0.0,0.0,1.0;;";

// A unit quad in the plane z = 0 centred on the origin, faces (0, 1, 2) and (0, 2, 3), clockwise as
// seen from −z; `extra` adds children (materials, normals, skin data).
std::string QuadMesh(const std::string& name, const std::string& extra) {
    return "Mesh " + name +
           " {\n4;\n-0.5;-0.5;0.0;,\n-0.5;0.5;0.0;,\n0.5;0.5;0.0;,\n0.5;-0.5;0.0;;\n"
           "2;\n3;0,1,2;,\n3;0,2,3;;\n" +
           extra + "}\n";
}

const char* kQuadNormals = "MeshNormals { 1; 0.0;0.0;-1.0;; 2; 3;0,0,0;, 3;0,0,0;; }\n";

// Face 0 red, face 1 green; each colour is also the material's emissive colour.
const char* kTwoMaterials =
    "MeshMaterialList { 2; 2; 0, 1;;\n"
    "  Material Red { 1.0;0.0;0.0;1.0;; 8.0; 0.5;0.5;0.5;; 1.0;0.0;0.0;; }\n"
    "  Material Green { 0.0;1.0;0.0;0.5;; 4.0; 0.0;0.0;0.0;; 0.0;1.0;0.0;; }\n"
    "}\n";

std::string StaticQuadFile() {
    return "Frame Root {\n FrameTransformMatrix { " + std::string(kIdentityMatrix) + " }\n" +
           QuadMesh("Quad", std::string(kTwoMaterials) + kQuadNormals) + "}\n";
}

// A quad skinned by two bones: vertices 0 and 1 follow frame "Bone" (3 units along z from the root),
// vertices 2 and 3 a bone whose name matches no frame, which follows the root.
std::string SkinnedQuadFile() {
    std::string skin = std::string(kQuadNormals) +
                       "MeshMaterialList { 1; 2; 0, 0;;\n"
                       " Material { 0.0;0.0;1.0;1.0;; 2.0; 0.0;0.0;0.0;; 0.0;0.0;1.0;; } }\n"
                       "XSkinMeshHeader { 1; 1; 2; }\n"
                       "SkinWeights { \"Bone\"; 2; 0, 1; 1.0, 1.0; " + kIdentityMatrix + " }\n"
                       "SkinWeights { \"Nobody\"; 2; 2, 3; 1.0, 1.0; " + kIdentityMatrix + " }\n";
    return "Frame Root {\n Frame Bone { FrameTransformMatrix { "
           "1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,0.0,3.0,1.0;; } }\n" +
           QuadMesh("Skin", skin) + "}\n";
}

// An animation set moving frame Mover by translation keys (tick, x, y, z), 4800 ticks per second.
std::string TranslationSet(const std::string& name, const std::vector<std::array<float, 4>>& keys) {
    std::ostringstream s;
    s << "AnimationSet " << name << " {\n Animation { {Mover}\n  AnimationKey { 2; " << keys.size() << ";\n";
    for (std::size_t i = 0; i < keys.size(); ++i) {
        s << "   " << keys[i][0] << "; 3; " << keys[i][1] << ", " << keys[i][2] << ", " << keys[i][3] << ";;"
          << (i + 1 < keys.size() ? ",\n" : ";\n");
    }
    s << "  }\n }\n}\n";
    return s.str();
}

// Root with one child Mover (holding a quad); sets Slide (x = 4 per second, 2 s period) then Lift
// (constant y = 2), so Lift is registered first and plays on track 0.
std::string AnimatedFile(bool withThirdSet = false) {
    std::string file = "Frame Root {\n Frame Mover {\n  FrameTransformMatrix { " + std::string(kIdentityMatrix) +
                       " }\n" + QuadMesh("Body", kQuadNormals) + " }\n}\n";
    file += TranslationSet("Slide", {{0, 0, 0, 0}, {9600, 8, 0, 0}});
    file += TranslationSet("Lift", {{0, 0, 2, 0}, {9600, 0, 2, 0}});
    if (withThirdSet) file += TranslationSet("Sink", {{0, 0, 0, -1}, {9600, 0, 0, -1}});
    return file;
}

std::vector<std::int32_t> Posture(float x, float y, float z, float time = 0, std::int32_t scale = kOne) {
    auto fixed = [](float value) { return static_cast<std::int32_t>(value * kOne); };
    return {fixed(x), fixed(y), fixed(z), 0, 0, 0, scale, scale, scale, fixed(time)};
}

ModelEntry& Model(std::int32_t key) { return **Engine().modelTable.Find(key); }
ModelMeshContainer& FirstContainer(std::int32_t key) {
    ModelMeshContainer* found = nullptr;
    WalkContainers(Model(key).rootFrame, [&](ModelFrame&, ModelMeshContainer& c) {
        if (found == nullptr) found = &c;
    });
    return *found;
}

std::string RootName(std::int32_t key) {
    char buffer[64] = {};
    return GetFrameName(key, -1, buffer) == 0 ? std::string(buffer) : std::string("(none)");
}

// The recorded lines of the calls a model draw makes (transforms, materials, textures, buffers and
// draws, vertex buffer locks), in order.
std::vector<std::string> DrawCalls(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        for (const char* name : {"SetTransform", "SetMaterial", "SetTexture", "SetVertexDeclaration",
                                 "SetStreamSource", "SetIndices", "DrawIndexedPrimitive", "Lock", "Unlock"}) {
            if (line.rfind(name, 0) == 0) {
                out.push_back(line);
                break;
            }
        }
    }
    return out;
}

TEST_F(EngineModels, LoadModelReplacesOnlyAfterASuccessfulLoadAndFreeModelEmptiesTheKey) {
    std::string quad = WriteXFile("replace_quad", StaticQuadFile());
    std::string animated = WriteXFile("replace_animated", AnimatedFile());
    // A face index past the vertices fails the mesh read and with it the load.
    std::string broken =
        WriteXFile("replace_broken", "Frame Root { Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,7;; } }\n");
    ASSERT_EQ(LoadModelEntry(quad.c_str(), 5), 0);
    EXPECT_EQ(RootName(5), "Root");
    std::int32_t handle = 0;
    ASSERT_EQ(GetFrameHandle(&handle, 5, 0), 0);
    ASSERT_NE(handle, 0);

    // A missing file and a damaged one fail and leave the model in place, still drawable.
    EXPECT_EQ(LoadModelEntry((::testing::TempDir() + "/qm_models_absent.x").c_str(), 5), -1);
    EXPECT_EQ(LoadModelEntry(broken.c_str(), 5), -1);
    EXPECT_EQ(LoadModelEntry(nullptr, 5), -1);
    EXPECT_EQ(FrameFromHandle(static_cast<std::uint32_t>(handle)), Model(5).rootFrame);
    EXPECT_EQ(GetAnimationCount(5), 0);
    EXPECT_EQ(DrawModelEntry(5), 0);
    // A failed load under a new key adds nothing.
    EXPECT_EQ(LoadModelEntry(broken.c_str(), 6), -1);
    EXPECT_EQ(Engine().modelTable.Find(6), nullptr);

    // A good file replaces the model; the old frames' references are retired.
    ASSERT_EQ(LoadModelEntry(animated.c_str(), 5), 0);
    EXPECT_EQ(GetAnimationCount(5), -2);
    EXPECT_EQ(FrameFromHandle(static_cast<std::uint32_t>(handle)), nullptr);

    EXPECT_EQ(FreeModelEntry(5), 0);
    EXPECT_EQ(Engine().modelTable.Find(5), nullptr);
    EXPECT_EQ(FreeModelEntry(5), 0);
    EXPECT_EQ(DrawModelEntry(5), -1);
    EXPECT_EQ(GetAnimationCount(5), -1);
}

TEST_F(EngineModels, ContainersGetNormalsAGreyDefaultMaterialAndSkinningSetUp) {
    // Without normals or materials: a clone with normals computed from the faces, one grey material.
    std::string bare = WriteXFile("bare", "Frame Root {\n" + QuadMesh("Bare", "") + "}\n");
    ASSERT_EQ(LoadModelEntry(bare.c_str(), 1), 0);
    ModelMeshContainer& c = FirstContainer(1);
    EXPECT_EQ(c.meshData.kind, DWORD{kMeshDataMesh});
    EXPECT_EQ(c.DrawnMesh()->GetFVF(), DWORD{D3DFVF_XYZ | D3DFVF_NORMAL});
    EXPECT_EQ(std::string(c.name), "Bare");
    ASSERT_EQ(c.materialCount, 1u);
    const D3DMATERIAL9& grey = c.materials[0].material;
    EXPECT_EQ(grey.Diffuse.r, 0.5f);
    EXPECT_EQ(grey.Diffuse.a, 0.0f);
    EXPECT_EQ(grey.Specular.g, 0.5f);
    EXPECT_EQ(grey.Ambient.r, 0.0f);
    EXPECT_EQ(grey.Emissive.b, 0.0f);
    EXPECT_EQ(grey.Power, 0.0f);
    EXPECT_EQ(c.materials[0].textureFilename, nullptr);
    EXPECT_EQ(std::memcmp(&c.baseMaterials[0], &c.materials[0], sizeof(MaterialRecord)), 0);
    EXPECT_FALSE(c.textures[0]);
    ASSERT_NE(c.adjacency, nullptr);
    EXPECT_EQ(c.adjacency[0], kNoNeighbour);
    EXPECT_EQ(c.adjacency[2], 1u);  // face 0's third edge (2-0) is shared with face 1
    // The faces' normal (p0 − p1) × (p0 − p2) points to −z.
    void* data = nullptr;
    ASSERT_EQ(c.DrawnMesh()->LockVertexBuffer(D3DLOCK_READONLY, &data), D3D_OK);
    float vertex[6];
    std::memcpy(vertex, static_cast<BYTE*>(data) + 24, sizeof vertex);
    c.DrawnMesh()->UnlockVertexBuffer();
    EXPECT_NEAR(vertex[5], -1.0f, 1e-6);

    // Material textures load from their files; one that fails to load leaves its slot empty and the
    // load goes on. The working and base materials keep no file names.
    std::string bmp = ::testing::TempDir() + "/qm_models_texture.bmp";
    {
        // A 2 × 2 24-bit bitmap: 54 bytes of headers, two rows of 6 bytes padded to 8.
        unsigned char file[70] = {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 2, 0,
                                  0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 16, 0, 0, 0};
        std::ofstream(bmp, std::ios::binary).write(reinterpret_cast<const char*>(file), sizeof file);
    }
    auto texturedMaterial = [](const std::string& file) {
        return " Material { 1.0;1.0;1.0;1.0;; 1.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; TextureFilename { \"" + file +
               "\"; } }\n";
    };
    std::string materials = "MeshMaterialList { 2; 2; 0, 1;;\n" + texturedMaterial(bmp) +
                            texturedMaterial("qm_models_missing.png") + "}\n";
    std::string textured = WriteXFile("textured", "Frame Root {\n" + QuadMesh("T", materials) + "}\n");
    ASSERT_EQ(LoadModelEntry(textured.c_str(), 4), 0);
    ModelMeshContainer& t = FirstContainer(4);
    ASSERT_TRUE(t.textures[0]);
    D3DSURFACE_DESC level{};
    ASSERT_EQ(t.textures[0]->GetLevelDesc(0, &level), D3D_OK);
    EXPECT_EQ(level.Width, 2u);
    EXPECT_FALSE(t.textures[1]);
    EXPECT_EQ(t.materials[0].textureFilename, nullptr);
    EXPECT_EQ(t.baseMaterials[0].textureFilename, nullptr);

    // A skinned container keeps its received mesh as the source and draws a managed working copy with
    // the attribute table; every bone points at a frame's combined matrix (the unmatched one at the
    // root's); the scratch holds the bone count, 16-byte aligned.
    std::string skinned = WriteXFile("skinned_setup", SkinnedQuadFile());
    ASSERT_EQ(LoadModelEntry(skinned.c_str(), 2), 0);
    ModelEntry& model = Model(2);
    ModelMeshContainer& s = FirstContainer(2);
    ASSERT_NE(s.skinInfo, nullptr);
    ASSERT_TRUE(s.sourceMesh);
    EXPECT_NE(s.sourceMesh.Get(), s.DrawnMesh());
    EXPECT_EQ(s.DrawnMesh()->GetOptions() & ~kMesh32BitIndices, kModelMeshOptions);
    EXPECT_EQ(s.attributeGroupCount, 1u);
    ASSERT_EQ(s.attributeTable.size(), 1u);
    EXPECT_EQ(s.attributeTable[0].faceCount, 2u);
    ASSERT_EQ(s.boneMatrixRefs.size(), 2u);
    ModelFrame* root = model.rootFrame;
    EXPECT_EQ(s.boneMatrixRefs[0], &FirstChildOf(*root)->combined);
    EXPECT_EQ(s.boneMatrixRefs[1], &root->combined);
    EXPECT_EQ(s.boneOffsets.size(), 2u);
    EXPECT_EQ(model.maxBoneCount, 2u);
    ASSERT_EQ(model.boneScratch.size(), 2u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(model.boneScratch.data()) % 16, 0u);

    // One scratch serves every skinned container and only grows: meshes of 2, 3 and 1 bones leave 3.
    auto skinnedQuad = [](int bones) {
        std::string skin = "XSkinMeshHeader { 1; 1; " + std::to_string(bones) + "; }\n";
        for (int b = 0; b < bones; ++b) {
            skin += "SkinWeights { \"Bone\"; 1; " + std::to_string(b) + "; 1.0; " + kIdentityMatrix + " }\n";
        }
        return QuadMesh("", kQuadNormals + skin);
    };
    std::string three = WriteXFile("skinned_three", "Frame Root {\n Frame Bone { }\n" + skinnedQuad(2) +
                                                        skinnedQuad(3) + skinnedQuad(1) + "}\n");
    ASSERT_EQ(LoadModelEntry(three.c_str(), 3), 0);
    EXPECT_EQ(Model(3).maxBoneCount, 3u);
    EXPECT_EQ(Model(3).boneScratch.size(), 3u);
}

TEST_F(EngineModels, DrawingAStaticModelSetsItsFrameMatrixAndDrawsEachMaterialGroup) {
    std::string quad = WriteXFile("draw_static", StaticQuadFile());
    ASSERT_EQ(LoadModelEntry(quad.c_str(), 1), 0);
    auto posture = Posture(1, 2, 3);
    ASSERT_EQ(SetModelPosture(posture.data(), 1), 0);

    CallRecorder recorder;
    Device()->BeginScene();
    ASSERT_EQ(DrawModelEntry(1), 0);
    Device()->EndScene();
    // World = the frame's combined matrix (identity transform × the posture), then per material:
    // the material as read (ambient (0, 0, 0, 1), specular and emissive with alpha 1), stage 0 with
    // no texture, and the group's faces: face 0 over vertices 0-2, face 1 over vertices 0-3 from
    // index 3.
    std::vector<std::string> expected = {
        "SetTransform(256, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1})",
        "SetMaterial({{1, 0, 0, 1}, {0, 0, 0, 1}, {0.5, 0.5, 0.5, 1}, {1, 0, 0, 1}, 8})",
        "SetTexture(0, null)",
        "SetVertexDeclaration(ptr)",
        "SetStreamSource(0, ptr, 0, 24)",
        "SetIndices(ptr)",
        "DrawIndexedPrimitive(4, 0, 0, 3, 0, 1)",
        "SetMaterial({{0, 1, 0, 0.5}, {0, 0, 0, 1}, {0, 0, 0, 1}, {0, 1, 0, 1}, 4})",
        "SetTexture(0, null)",
        "SetVertexDeclaration(ptr)",
        "SetStreamSource(0, ptr, 0, 24)",
        "SetIndices(ptr)",
        "DrawIndexedPrimitive(4, 0, 0, 4, 3, 1)",
    };
    EXPECT_EQ(DrawCalls(recorder.Lines()), expected);
    // Drawing never moves the pose: the frame matrices are those of the posture.
    EXPECT_EQ(Model(1).rootFrame->combined._42, 2.0f);
}


// Positions of a mesh's vertices (the first three floats of each).
std::vector<Vector3> Positions(Mesh* mesh) {
    std::vector<Vector3> out(mesh->GetVertexCount());
    void* data = nullptr;
    EXPECT_EQ(mesh->LockVertexBuffer(D3DLOCK_READONLY, &data), D3D_OK);
    for (std::size_t i = 0; i < out.size(); ++i)
        std::memcpy(&out[i], static_cast<BYTE*>(data) + i * mesh->GetVertexSize(), sizeof(Vector3));
    mesh->UnlockVertexBuffer();
    return out;
}

TEST_F(EngineModels, DrawingASkinnedModelSkinsIntoTheWorkingMeshAndDrawsItsGroupsInWorldSpace) {
    std::string skinned = WriteXFile("draw_skinned", SkinnedQuadFile());
    ASSERT_EQ(LoadModelEntry(skinned.c_str(), 1), 0);
    auto posture = Posture(10, 0, 0);
    ASSERT_EQ(SetModelPosture(posture.data(), 1), 0);

    CallRecorder recorder;
    Device()->BeginScene();
    ASSERT_EQ(DrawModelEntry(1), 0);
    Device()->EndScene();
    // Identity world (the vertices are skinned into world space), the source locked read-only and
    // the working copy for writing, then the one group with its material.
    std::vector<std::string> expected = {
        "SetTransform(256, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1})",
        "Lock(0, 0, ptr, 2064)",
        "Lock(0, 0, ptr, 2048)",
        "Unlock()",
        "Unlock()",
        "SetMaterial({{0, 0, 1, 1}, {0, 0, 0, 1}, {0, 0, 0, 1}, {0, 0, 1, 1}, 2})",
        "SetTexture(0, null)",
        "SetVertexDeclaration(ptr)",
        "SetStreamSource(0, ptr, 0, 24)",
        "SetIndices(ptr)",
        "DrawIndexedPrimitive(4, 0, 0, 4, 0, 2)",
    };
    EXPECT_EQ(DrawCalls(recorder.Lines()), expected);

    // Vertices 0 and 1 follow Bone (world × 3 along z), 2 and 3 the unmatched bone, tied to the root.
    std::vector<Vector3> skinnedPositions = Positions(FirstContainer(1).DrawnMesh());
    ASSERT_EQ(skinnedPositions.size(), 4u);
    ExpectNear(skinnedPositions[0], {9.5f, -0.5f, 3});
    ExpectNear(skinnedPositions[1], {9.5f, 0.5f, 3});
    ExpectNear(skinnedPositions[2], {10.5f, 0.5f, 0});
    ExpectNear(skinnedPositions[3], {10.5f, -0.5f, 0});
    // The source mesh is never modified.
    ExpectNear(Positions(FirstContainer(1).sourceMesh.Get())[0], {-0.5f, -0.5f, 0});
}

TEST_F(EngineModels, ObjectColourTintsEveryMaterialFromItsBaseValue) {
    std::string quad = WriteXFile("tint", StaticQuadFile());
    ASSERT_EQ(LoadModelEntry(quad.c_str(), 1), 0);
    std::int32_t half[4] = {kOne / 2, kOne / 4, 2 * kOne, kOne};
    ASSERT_EQ(SetModelColor(half, 1), 0);
    ModelMeshContainer& c = FirstContainer(1);
    // Red: diffuse (1, 0, 0, 1), ambient (0, 0, 0, 1), specular (0.5, 0.5, 0.5, 1), emissive (1, 0, 0, 1).
    const D3DMATERIAL9& red = c.materials[0].material;
    EXPECT_EQ(red.Diffuse.r, 0.5f);
    EXPECT_EQ(red.Diffuse.a, 1.0f);
    EXPECT_EQ(red.Specular.r, 0.25f);
    EXPECT_EQ(red.Specular.g, 0.125f);
    EXPECT_EQ(red.Specular.b, 1.0f);
    EXPECT_EQ(red.Emissive.r, 0.5f);
    EXPECT_EQ(red.Ambient.a, 1.0f);
    EXPECT_EQ(red.Power, 8.0f);
    // Green: diffuse (0, 1, 0, 0.5).
    EXPECT_EQ(c.materials[1].material.Diffuse.g, 0.25f);
    EXPECT_EQ(c.materials[1].material.Diffuse.a, 0.5f);
    // Not cumulative: a second tint starts from the base again; white restores the loaded colours.
    ASSERT_EQ(SetModelColor(half, 1), 0);
    EXPECT_EQ(red.Diffuse.r, 0.5f);
    std::int32_t white[4] = {kOne, kOne, kOne, kOne};
    ASSERT_EQ(SetModelColor(white, 1), 0);
    EXPECT_EQ(std::memcmp(&c.materials[0], &c.baseMaterials[0], sizeof(MaterialRecord)), 0);
    EXPECT_EQ(std::memcmp(&c.materials[1], &c.baseMaterials[1], sizeof(MaterialRecord)), 0);
    // The draw passes the tinted material.
    ASSERT_EQ(SetModelColor(half, 1), 0);
    CallRecorder recorder;
    Device()->BeginScene();
    DrawModelEntry(1);
    Device()->EndScene();
    std::vector<std::string> calls = DrawCalls(recorder.Lines());
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[1], "SetMaterial({{0.5, 0, 0, 1}, {0, 0, 0, 1}, {0.25, 0.125, 1, 1}, {0.5, 0, 0, 1}, 8})");

    EXPECT_EQ(SetModelColor(half, 2), -1);
    EXPECT_EQ(SetModelColor(nullptr, 1), -1);
}


// The point a frame reference maps the origin to, in Fixed16 words.
std::array<std::int32_t, 3> FrameOrigin(std::int32_t handle) {
    std::array<std::int32_t, 6> points{0, 0, 0, -7, -7, -7};
    EXPECT_EQ(GetFrameVector(points.data(), static_cast<std::uint32_t>(handle), 0, 3), 0);
    return {points[3], points[4], points[5]};
}

TEST_F(EngineModels, TracksPlayOneSetEachAndPostureTimeMovesOnlyEnabledTracks) {
    std::string animated = WriteXFile("tracks", AnimatedFile());
    ASSERT_EQ(LoadModelEntry(animated.c_str(), 1), 0);
    EXPECT_EQ(GetAnimationCount(1), -2);
    std::int32_t mover = 0;
    ASSERT_EQ(GetFrameHandle(&mover, 1, 1), 0);
    using Point = std::array<std::int32_t, 3>;

    // Track 0 plays Lift (the file's last set): y = 2. Drawing does not move time.
    auto at0 = Posture(0, 0, 0, 0);
    ASSERT_EQ(SetModelPosture(at0.data(), 1), 0);
    EXPECT_EQ(FrameOrigin(mover), (Point{0, 2 * kOne, 0}));
    // Track 1 plays Slide but is off: time 1 s moves only track 0.
    auto at1 = Posture(0, 0, 0, 1);
    ASSERT_EQ(SetModelPosture(at1.data(), 1), 0);
    EXPECT_EQ(FrameOrigin(mover), (Point{0, 2 * kOne, 0}));
    // Enabled at 1 s, Slide starts from its own position 0: at 1.5 s it is at x = 4 × 0.5 = 2, and
    // the two weight-1 tracks average to (1, 1, 0).
    ASSERT_EQ(SetModelTrackEnable(1, 1, 1), 0);
    auto at15 = Posture(0, 0, 0, 1.5f);
    ASSERT_EQ(SetModelPosture(at15.data(), 1), 0);
    EXPECT_EQ(FrameOrigin(mover), (Point{kOne, kOne, 0}));
    // The same time again leaves the pose; an earlier time moves enabled tracks back (Slide to
    // 0.25 s: x = 1; Lift is constant).
    ASSERT_EQ(SetModelPosture(at15.data(), 1), 0);
    EXPECT_EQ(FrameOrigin(mover), (Point{kOne, kOne, 0}));
    auto at125 = Posture(0, 0, 0, 1.25f);
    ASSERT_EQ(SetModelPosture(at125.data(), 1), 0);
    EXPECT_EQ(FrameOrigin(mover), (Point{kOne / 2, kOne, 0}));
    // Weights 1 (Lift) and 3 (Slide, x = 1): (3 · (1, 0, 0) + (0, 2, 0)) / 4.
    ASSERT_EQ(SetModelTrackWeight(1, 1, 3 * kOne), 0);
    ASSERT_EQ(SetModelPosture(at125.data(), 1), 0);
    EXPECT_EQ(FrameOrigin(mover), (Point{3 * kOne / 4, kOne / 2, 0}));
    // Weight 0.5 (32768) on Lift and Slide switched off: Lift alone, normalised by its weight.
    ASSERT_EQ(SetModelTrackWeight(1, 0, 32768), 0);
    ASSERT_EQ(SetModelTrackEnable(1, 1, 0), 0);
    ASSERT_EQ(SetModelPosture(at125.data(), 1), 0);
    EXPECT_EQ(FrameOrigin(mover), (Point{0, 2 * kOne, 0}));
    TrackDescriptor lift{};
    ASSERT_EQ(Model(1).controller->GetTrackDescriptor(0, &lift), D3D_OK);
    EXPECT_EQ(lift.weight, 0.5f);
    // Tracks past the controller's are ignored; unknown keys fail.
    EXPECT_EQ(SetModelTrackEnable(1, 9, 1), 0);
    EXPECT_EQ(SetModelTrackWeight(1, 9, kOne), 0);
    EXPECT_EQ(SetModelTrackEnable(2, 0, 1), -1);
    EXPECT_EQ(SetModelTrackWeight(2, 0, kOne), -1);

    // A model without animation: no sets, track calls accepted and ignored.
    std::string still = WriteXFile("tracks_still", StaticQuadFile());
    ASSERT_EQ(LoadModelEntry(still.c_str(), 2), 0);
    EXPECT_EQ(GetAnimationCount(2), 0);
    EXPECT_FALSE(Model(2).controller);
    EXPECT_EQ(SetModelTrackEnable(2, 0, 1), 0);
    EXPECT_EQ(SetModelTrackWeight(2, 0, kOne), 0);
}

TEST_F(EngineModels, EverySetGetsATrackOfItsOwnInReverseFileOrder) {
    std::string three = WriteXFile("three_sets", AnimatedFile(true));
    ASSERT_EQ(LoadModelEntry(three.c_str(), 1), 0);
    EXPECT_EQ(GetAnimationCount(1), -3);
    AnimationController* controller = Model(1).controller.Get();
    ASSERT_NE(controller, nullptr);
    const char* expected[3] = {"Sink", "Lift", "Slide"};
    for (UINT track = 0; track < 3; ++track) {
        ComPtr<AnimationSet> set;
        ASSERT_EQ(controller->GetTrackAnimationSet(track, set.ReleaseAndGetAddressOf()), D3D_OK);
        ASSERT_TRUE(set);
        EXPECT_STREQ(set->GetName(), expected[track]);
        TrackDescriptor d{};
        ASSERT_EQ(controller->GetTrackDescriptor(track, &d), D3D_OK);
        EXPECT_EQ(d.enable != 0, track == 0);
        EXPECT_EQ(d.weight, 1.0f);
        EXPECT_EQ(d.speed, 1.0f);
        EXPECT_EQ(d.position, 0.0);
        EXPECT_EQ(d.priority, 0u);
    }
}

TEST_F(EngineModels, PostureLocalPlacementAndPointQueries) {
    std::string quad = WriteXFile("posture", StaticQuadFile());
    std::string animated = WriteXFile("posture_animated", AnimatedFile());
    ASSERT_EQ(LoadModelEntry(quad.c_str(), 1), 0);
    ASSERT_EQ(LoadModelEntry(animated.c_str(), 2), 0);
    auto at = Posture(1, 2, 3);
    ASSERT_EQ(SetModelPosture(at.data(), 1), 0);
    // The origin maps to the position words, through the world matrix and the root frame alike.
    std::int32_t points[9] = {0, 0, 0, kOne, 0, 0, 5, 5, 5};
    ASSERT_EQ(GetWorldVector(points, 1, 0, 6), 0);
    EXPECT_EQ(points[6], kOne);
    EXPECT_EQ(points[7], 2 * kOne);
    EXPECT_EQ(points[8], 3 * kOne);
    std::int32_t root = 0;
    ASSERT_EQ(GetFrameHandle(&root, 1, 0), 0);
    EXPECT_EQ(FrameOrigin(root), (std::array<std::int32_t, 3>{kOne, 2 * kOne, 3 * kOne}));
    // Input and output may be the same point: (1, 0, 0) → (2, 2, 3).
    ASSERT_EQ(GetFrameVector(points, static_cast<std::uint32_t>(root), 3, 3), 0);
    EXPECT_EQ(points[3], 2 * kOne);
    EXPECT_EQ(points[4], 2 * kOne);

    // A quarter turn about Y: +X → −Z; negative results truncate toward zero.
    std::int32_t turn[10] = {0, 0, 0, 0, 16384, 0, kOne, kOne, kOne, 0};
    ASSERT_EQ(SetModelPosture(turn, 1), 0);
    std::int32_t axis[6] = {kOne, 0, 0};
    ASSERT_EQ(GetWorldVector(axis, 1, 0, 3), 0);
    EXPECT_EQ(axis[3], 0);
    EXPECT_EQ(axis[4], 0);
    EXPECT_EQ(axis[5], -kOne + 1);  // −0.99999994 × 65536 truncates to −65535
    // Scale 0 collapses the model without error.
    auto flat = Posture(0, 0, 0, 0, 0);
    EXPECT_EQ(SetModelPosture(flat.data(), 1), 0);

    // Placed relative to model 1 at (10, 0, 0): local (0, 1, 0) gives (10, 1, 0), and the frames
    // follow (Mover adds Lift's y = 2 at time 0).
    auto ten = Posture(10, 0, 0);
    ASSERT_EQ(SetModelPosture(ten.data(), 1), 0);
    auto up = Posture(0, 1, 0);
    ASSERT_EQ(SetModelPostureLocal(up.data(), 2, 1), 0);
    std::int32_t origin[6] = {};
    ASSERT_EQ(GetWorldVector(origin, 2, 0, 3), 0);
    EXPECT_EQ(origin[3], 10 * kOne);
    EXPECT_EQ(origin[4], kOne);
    std::int32_t mover = 0;
    ASSERT_EQ(GetFrameHandle(&mover, 2, 1), 0);
    EXPECT_EQ(FrameOrigin(mover), (std::array<std::int32_t, 3>{10 * kOne, 3 * kOne, 0}));
    // Either model absent: 0 and nothing changes.
    auto far = Posture(50, 50, 50);
    EXPECT_EQ(SetModelPostureLocal(far.data(), 2, 9), 0);
    EXPECT_EQ(SetModelPostureLocal(far.data(), 9, 1), 0);
    EXPECT_EQ(FrameOrigin(mover), (std::array<std::int32_t, 3>{10 * kOne, 3 * kOne, 0}));
    EXPECT_EQ(Engine().modelTable.Find(9), nullptr);

    EXPECT_EQ(SetModelPosture(far.data(), 9), -1);
    EXPECT_EQ(SetModelPosture(nullptr, 1), -1);
    EXPECT_EQ(GetWorldVector(origin, 9, 0, 3), -1);
}

TEST_F(EngineModels, FrameReferencesIndicesAndNames) {
    // Root (A (A1), B): indices R 0, A 1, B 2, A1 3.
    std::string tree = WriteXFile("names", "Frame R {\n Frame A { Frame A1 { } }\n Frame B { }\n" +
                                               QuadMesh("M", kQuadNormals) + "}\n");
    ASSERT_EQ(LoadModelEntry(tree.c_str(), 1), 0);
    const char* names[4] = {"R", "A", "B", "A1"};
    std::vector<std::int32_t> handles;
    for (std::int32_t i = 0; i < 4; ++i) {
        char buffer[16] = {};
        ASSERT_EQ(GetFrameName(1, i, buffer), 0);
        EXPECT_STREQ(buffer, names[i]);
        std::int32_t handle = 0;
        ASSERT_EQ(GetFrameHandle(&handle, 1, i), 0);
        EXPECT_NE(handle, 0);
        EXPECT_STREQ(FrameFromHandle(static_cast<std::uint32_t>(handle))->name, names[i]);
        handles.push_back(handle);
    }
    char buffer[16] = "untouched";
    EXPECT_EQ(GetFrameName(1, 4, buffer), -1);
    EXPECT_STREQ(buffer, "untouched");
    EXPECT_EQ(GetFrameName(1, -1, buffer), 0);
    EXPECT_STREQ(buffer, "R");
    std::int32_t past = 77;
    ASSERT_EQ(GetFrameHandle(&past, 1, 4), 0);
    EXPECT_EQ(past, 0);
    std::int32_t negative = 0;
    ASSERT_EQ(GetFrameHandle(&negative, 1, -5), 0);
    EXPECT_EQ(negative, handles[0]);
    EXPECT_EQ(GetFrameHandle(&past, 2, 0), -1);
    EXPECT_EQ(GetFrameName(2, 0, buffer), -1);

    // Two top-level frames get an unnamed root, which has no name to give.
    std::string two = WriteXFile("names_two", "Frame P { }\nFrame Q { " + QuadMesh("M", kQuadNormals) + " }\n");
    ASSERT_EQ(LoadModelEntry(two.c_str(), 2), 0);
    EXPECT_EQ(GetFrameName(2, -1, buffer), -1);
    EXPECT_EQ(GetFrameName(2, 1, buffer), 0);
    EXPECT_STREQ(buffer, "P");

    // Freed models retire their references: nothing is written for them, and 0 is "no frame".
    ASSERT_EQ(FreeModelEntry(1), 0);
    std::int32_t points[6] = {kOne, kOne, kOne, 11, 12, 13};
    for (std::int32_t handle : handles) {
        EXPECT_EQ(GetFrameVector(points, static_cast<std::uint32_t>(handle), 0, 3), 0);
        EXPECT_EQ(points[3], 11);
        EXPECT_EQ(points[5], 13);
    }
    EXPECT_EQ(GetFrameVector(points, 0, 0, 3), 0);
    EXPECT_EQ(GetFrameVector(nullptr, 0, 0, 3), 0);
    EXPECT_EQ(points[3], 11);
}


// Casts a ray through IntersectWorld (or IntersectLocal with a reference model) and returns the
// record's three output words.
std::array<std::int32_t, 3> Cast(std::int32_t key, Vector3 origin, Vector3 direction, std::int32_t reference = -1) {
    std::int32_t ray[9] = {static_cast<std::int32_t>(origin.x * kOne), static_cast<std::int32_t>(origin.y * kOne),
                           static_cast<std::int32_t>(origin.z * kOne), static_cast<std::int32_t>(direction.x * kOne),
                           static_cast<std::int32_t>(direction.y * kOne), static_cast<std::int32_t>(direction.z * kOne),
                           1, 2, 3};
    std::int32_t result = reference < 0 ? IntersectWorldRay(ray, key) : IntersectLocalRay(ray, key, reference);
    EXPECT_EQ(result, 0);
    return {ray[6], ray[7], ray[8]};
}

using Hit = std::array<std::int32_t, 3>;
constexpr Hit kMiss = {kNoHitDistance, -1, -1};

TEST_F(EngineModels, PickingReportsDistanceFaceAndMaterialOfTheClosestHit) {
    std::string quad = WriteXFile("pick_static", StaticQuadFile());
    ASSERT_EQ(LoadModelEntry(quad.c_str(), 1), 0);
    auto origin = Posture(0, 0, 0);
    ASSERT_EQ(SetModelPosture(origin.data(), 1), 0);
    // (0.2, −0.3) lies in face 1 (green, material 1), (−0.2, 0.3) in face 0.
    EXPECT_EQ(Cast(1, {0.2f, -0.3f, -10}, {0, 0, 1}), (Hit{10 * kOne, 1, 1}));
    EXPECT_EQ(Cast(1, {0.2f, -0.3f, -10}, {0, 0, 2}), (Hit{5 * kOne, 1, 1}));
    EXPECT_EQ(Cast(1, {-0.2f, 0.3f, -4}, {0, 0, 1}), (Hit{4 * kOne, 0, 0}));
    // Misses, and the face behind the origin.
    EXPECT_EQ(Cast(1, {0.7f, 0, -10}, {0, 0, 1}), kMiss);
    EXPECT_EQ(Cast(1, {0.2f, -0.3f, 1}, {0, 0, 1}), kMiss);
    // Placed at (5, 0, 0): the same ray moved along gives the same distance.
    auto moved = Posture(5, 0, 0);
    ASSERT_EQ(SetModelPosture(moved.data(), 1), 0);
    EXPECT_EQ(Cast(1, {5.2f, -0.3f, -10}, {0, 0, 1}), (Hit{10 * kOne, 1, 1}));
    EXPECT_EQ(Cast(1, {0.2f, -0.3f, -10}, {0, 0, 1}), kMiss);
    // In the space of a reference model at (0, 5, 0): the ray from (5.2, −5.3, −10) is tested from
    // (5.2, −0.3, −10).
    std::string other = WriteXFile("pick_reference", StaticQuadFile());
    ASSERT_EQ(LoadModelEntry(other.c_str(), 2), 0);
    auto raised = Posture(0, 5, 0);
    ASSERT_EQ(SetModelPosture(raised.data(), 2), 0);
    EXPECT_EQ(Cast(1, {5.2f, -5.3f, -10}, {0, 0, 1}, 2), (Hit{10 * kOne, 1, 1}));
    // Absent keys: IntersectLocal answers 0 and writes nothing; IntersectWorld fails.
    std::int32_t ray[9] = {0, 0, 0, 0, 0, kOne, 1, 2, 3};
    EXPECT_EQ(IntersectLocalRay(ray, 1, 9), 0);
    EXPECT_EQ(IntersectLocalRay(ray, 9, 1), 0);
    EXPECT_EQ(IntersectWorldRay(ray, 9), -1);
    EXPECT_EQ(ray[6], 1);
    EXPECT_EQ(ray[8], 3);
    EXPECT_EQ(Engine().modelTable.Find(9), nullptr);
    // Scale 0 makes the frame matrix singular: its container is skipped.
    auto flat = Posture(5, 0, 0, 0, 0);
    ASSERT_EQ(SetModelPosture(flat.data(), 1), 0);
    EXPECT_EQ(Cast(1, {5, 0, -10}, {0, 0, 1}), kMiss);
}

TEST_F(EngineModels, PickingSkipsOnlyTheSingularFrameAndTestsSkinnedMeshesInTheirPose) {
    // Near (z = 0) is flattened by its own matrix; Far (z = 5) is still tested.
    std::string layered = WriteXFile(
        "pick_layers",
        "Frame Root {\n Frame Near { FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,0.0,0.0,0.0, 0.0,0.0,1.0,0.0, "
        "0.0,0.0,0.0,1.0;; }\n" + QuadMesh("NearQuad", kQuadNormals) +
            " }\n Frame Far { FrameTransformMatrix { "
            "1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,0.0,5.0,1.0;; }\n" +
            QuadMesh("FarQuad", kQuadNormals) + " }\n}\n");
    ASSERT_EQ(LoadModelEntry(layered.c_str(), 1), 0);
    auto origin = Posture(0, 0, 0);
    ASSERT_EQ(SetModelPosture(origin.data(), 1), 0);
    EXPECT_EQ(Cast(1, {0.2f, -0.3f, -10}, {0, 0, 1}), (Hit{15 * kOne, 1, 0}));

    // The skinned quad: the left edge follows Bone (z = 3), the right edge the root (z = 0), so the
    // quad lies in the plane z = 1.5 − 3x: at x = 0.2 the ray from z = −10 travels 10.9.
    std::string skinned = WriteXFile("pick_skinned", SkinnedQuadFile());
    ASSERT_EQ(LoadModelEntry(skinned.c_str(), 2), 0);
    ASSERT_EQ(SetModelPosture(origin.data(), 2), 0);
    Hit hit = Cast(2, {0.2f, -0.3f, -10}, {0, 0, 1});
    EXPECT_NEAR(hit[0], 10.9 * kOne, 2);
    EXPECT_EQ(hit[1], 1);
    EXPECT_EQ(hit[2], 0);
    // Posed 7 further along z, the skinned vertices follow at the next test.
    auto back = Posture(0, 0, 7);
    ASSERT_EQ(SetModelPosture(back.data(), 2), 0);
    hit = Cast(2, {0.2f, -0.3f, -10}, {0, 0, 1});
    EXPECT_NEAR(hit[0], 17.9 * kOne, 2);
    // Picking a skinned container leaves the device's world transform at identity.
    D3DMATRIX world{};
    Device()->GetTransform(D3DTS_WORLD, &world);
    EXPECT_EQ(world._43, 0.0f);
}

TEST_F(EngineModels, AQuadSeenStraightOnCoversItsProjectedRectangle) {
    // Identity view and projection: the quad's corners (±0.5, ±0.5) land at x = 16 and 48, y = 12
    // and 36 of the 64 × 48 target, so pixels 16-47 × 12-35 are covered (top-left rule). Lighting
    // with no lights and no ambient leaves the emissive colour: face 0 (upper left of the diagonal)
    // red, face 1 green. The background stays blue.
    std::string quad = WriteXFile("pixels", StaticQuadFile());
    ASSERT_EQ(LoadModelEntry(quad.c_str(), 1), 0);
    auto origin = Posture(0, 0, 0.5f);
    ASSERT_EQ(SetModelPosture(origin.data(), 1), 0);
    Matrix identity;
    MatrixIdentity(&identity);
    Device()->SetTransform(D3DTS_VIEW, &identity);
    Device()->SetTransform(D3DTS_PROJECTION, &identity);
    Device()->SetRenderState(D3DRS_AMBIENT, 0);
    Device()->SetRenderState(D3DRS_DITHERENABLE, FALSE);
    Device()->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF0000FFu, 1.0f, 0);
    Device()->BeginScene();
    ASSERT_EQ(DrawModelEntry(1), 0);
    Device()->EndScene();

    ComPtr<IDirect3DSurface9> backBuffer;
    ASSERT_EQ(Device()->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, backBuffer.ReleaseAndGetAddressOf()), D3D_OK);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(backBuffer->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    auto pixel = [&](int x, int y) {
        std::uint32_t v;
        std::memcpy(&v, static_cast<char*>(locked.pBits) + y * locked.Pitch + 4 * x, 4);
        return v & 0x00FFFFFFu;
    };
    int wrong = 0;
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) {
            bool inside = x >= 16 && x < 48 && y >= 12 && y < 36;
            std::uint32_t p = pixel(x, y);
            if (!inside) {
                wrong += p != 0x0000FFu;
                continue;
            }
            // u, v: the pixel centre's place across and down the rectangle, 0 to 1. Face 0 (corners
            // bottom-left, top-left, top-right) is the upper-left half, v < 1 − u; pixels within a
            // band around the diagonal may belong to either face.
            double u = (x - 16 + 0.5) / 32.0, v = (y - 12 + 0.5) / 24.0;
            if (v < 1.0 - u - 0.05) {
                wrong += p != 0xFF0000u;
            } else if (v > 1.0 - u + 0.05) {
                wrong += p != 0x00FF00u;
            } else {
                wrong += p != 0xFF0000u && p != 0x00FF00u;
            }
        }
    }
    backBuffer->UnlockRect();
    EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace qm
