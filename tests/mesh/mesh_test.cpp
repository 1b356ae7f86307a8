// mesh_test.cpp: creating meshes, their buffers and option words, drawing attribute groups (with the
// attribute table and by scanning), cloning with vertex conversion and buffer sharing, the attribute
// table and buffer, and declaration replacement.
#include "library/mesh/mesh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "tests/mesh/mesh_test_support.h"
#include "tests/platform/d3d9/raster_test_support.h"

namespace qm {
namespace {

using meshtest::DrawLines;
using meshtest::MakeMesh;
using meshtest::ReadAttributes;
using meshtest::ReadIndices;
using meshtest::ReadTable;

class MeshTest : public meshtest::DeviceFixture {};

struct PositionVertex {
    float x, y, z;
};

// A row of n quads (2n faces, 2n + 2 vertices) in the z = 0 plane.
std::vector<PositionVertex> RowVertices(int quads) {
    std::vector<PositionVertex> v;
    for (int i = 0; i <= quads; ++i) {
        v.push_back({static_cast<float>(i), 0.0f, 0.0f});
        v.push_back({static_cast<float>(i), 1.0f, 0.0f});
    }
    return v;
}
std::vector<DWORD> RowIndices(int quads) {
    std::vector<DWORD> indices;
    for (DWORD i = 0; i < static_cast<DWORD>(quads); ++i) {
        DWORD a = 2 * i, b = 2 * i + 1, c = 2 * i + 2, d = 2 * i + 3;
        indices.insert(indices.end(), {a, b, c, c, b, d});
    }
    return indices;
}

TEST_F(MeshTest, CreationChecksCountsOptionsAndDeclaration) {
    Mesh* mesh = reinterpret_cast<Mesh*>(0x10);
    EXPECT_EQ(CreateMeshObjectFVF(65535, 3, 0x110, D3DFVF_XYZ, Device(), &mesh), D3DERR_INVALIDCALL);
    EXPECT_EQ(mesh, nullptr);
    EXPECT_EQ(CreateMeshObjectFVF(10, 65535, 0x110, D3DFVF_XYZ, Device(), &mesh), D3DERR_INVALIDCALL);
    EXPECT_EQ(CreateMeshObjectFVF(0, 3, 0x110, D3DFVF_XYZ, Device(), &mesh), D3DERR_INVALIDCALL);
    EXPECT_EQ(CreateMeshObjectFVF(1, 0, 0x110, D3DFVF_XYZ, Device(), &mesh), D3DERR_INVALIDCALL);
    EXPECT_EQ(CreateMeshObjectFVF(1, 3, 0x2000, D3DFVF_XYZ, Device(), &mesh), D3DERR_INVALIDCALL);
    EXPECT_EQ(CreateMeshObjectFVF(1, 3, kMeshShareVertexBuffer, D3DFVF_XYZ, Device(), &mesh), D3DERR_INVALIDCALL);
    EXPECT_EQ(CreateMeshObjectFVF(1, 3, 0, D3DFVF_XYZ, nullptr, &mesh), D3DERR_INVALIDCALL);
    EXPECT_EQ(CreateMeshObjectFVF(1, 3, 0, D3DFVF_XYZ, Device(), nullptr), D3DERR_INVALIDCALL);
    const D3DVERTEXELEMENT9 overlap[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                         {0, 4, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_NORMAL, 0},
                                         D3DDECL_END()};
    EXPECT_EQ(CreateMeshObject(1, 3, 0, overlap, Device(), &mesh), D3DERR_INVALIDCALL);
    EXPECT_EQ(mesh, nullptr);

    ASSERT_EQ(CreateMeshObjectFVF(65535, 3, 0x111, D3DFVF_XYZ, Device(), &mesh), D3D_OK);
    ComPtr<Mesh> wide = ComPtr<Mesh>::Adopt(mesh);
    EXPECT_EQ(wide->GetFaceCount(), 65535u);
    ComPtr<IDirect3DIndexBuffer9> indices;
    ASSERT_EQ(wide->GetIndexBuffer(indices.ReleaseAndGetAddressOf()), D3D_OK);
    D3DINDEXBUFFER_DESC desc{};
    indices->GetDesc(&desc);
    EXPECT_EQ(desc.Format, D3DFMT_INDEX32);
    EXPECT_EQ(desc.Size, 65535u * 12);
    // Attributes start at zero.
    for (DWORD id : ReadAttributes(wide.Get())) ASSERT_EQ(id, 0u);

    ASSERT_EQ(CreateMeshObjectFVF(65534, 65534, 0x110, D3DFVF_XYZ, Device(), &mesh), D3D_OK);
    ComPtr<Mesh> narrow = ComPtr<Mesh>::Adopt(mesh);
    ASSERT_EQ(narrow->GetIndexBuffer(indices.ReleaseAndGetAddressOf()), D3D_OK);
    indices->GetDesc(&desc);
    EXPECT_EQ(desc.Format, D3DFMT_INDEX16);
    EXPECT_EQ(desc.Size, 65534u * 6);
}

TEST_F(MeshTest, DescribesItselfAndAnswersItsInterfaces) {
    Mesh* made = nullptr;
    ASSERT_EQ(CreateMeshObjectFVF(4, 6, 0x110, 0x252, Device(), &made), D3D_OK);
    ComPtr<Mesh> mesh = ComPtr<Mesh>::Adopt(made);
    EXPECT_EQ(mesh->GetFVF(), 0x252u);
    EXPECT_EQ(mesh->GetVertexSize(), 12u + 12 + 4 + 8 + 8);
    EXPECT_EQ(mesh->GetDeclaration(nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(mesh->GetDevice(nullptr), D3DERR_INVALIDCALL);
    void* found = nullptr;
    ASSERT_EQ(mesh->QueryInterface(BaseMesh::iid, &found), S_OK);
    EXPECT_EQ(found, static_cast<BaseMesh*>(mesh.Get()));
    static_cast<IUnknown*>(found)->Release();
    EXPECT_EQ(mesh->QueryInterface(IDirect3DDevice9::iid, &found), E_NOINTERFACE);
    // Locks pass the flags on with D3DLOCK_NOSYSLOCK added.
    CallRecorder recorder;
    void* data = nullptr;
    ASSERT_EQ(mesh->LockVertexBuffer(D3DLOCK_READONLY, &data), D3D_OK);
    mesh->UnlockVertexBuffer();
    EXPECT_EQ(recorder.TakeLines().front(), "Lock(0, 0, ptr, 2064)");
}

TEST_F(MeshTest, DrawsAttributeGroupsByTableAndByScanning) {
    std::vector<PositionVertex> vertices = RowVertices(3);  // 6 faces, 8 vertices
    const std::vector<DWORD> ids = {2, 0, 2, 2, 1, 0};
    ComPtr<Mesh> mesh = MakeMesh(Device(), 0x110, D3DFVF_XYZ, vertices.data(), 8, RowIndices(3), ids);
    ASSERT_TRUE(mesh);
    ASSERT_EQ(Device()->BeginScene(), D3D_OK);

    CallRecorder recorder;
    // No table yet: each run of the id is one draw over all vertices.
    EXPECT_EQ(mesh->DrawAttributeGroup(2), D3D_OK);
    EXPECT_EQ(DrawLines(recorder.TakeLines()), (std::vector<std::string>{"DrawIndexedPrimitive(4, 0, 0, 8, 0, 1)",
                                                                         "DrawIndexedPrimitive(4, 0, 0, 8, 6, 2)"}));
    EXPECT_EQ(mesh->DrawAttributeGroup(7), D3D_OK);
    EXPECT_TRUE(DrawLines(recorder.TakeLines()).empty());

    // Sorting builds the table: faces 0 and 5 (id 0) first, then id 1, then id 2.
    std::vector<DWORD> adjacency(18);
    ASSERT_EQ(mesh->GenerateAdjacency(0.0f, adjacency.data()), D3D_OK);
    std::vector<DWORD> remap(6);
    ASSERT_EQ(mesh->OptimizeInPlace(0x32000000, adjacency.data(), adjacency.data(), remap.data(), nullptr), D3D_OK);
    EXPECT_EQ(remap, (std::vector<DWORD>{1, 5, 4, 0, 2, 3}));
    std::vector<AttributeRange> table = ReadTable(mesh.Get());
    ASSERT_EQ(table.size(), 3u);
    recorder.Clear();
    EXPECT_EQ(mesh->DrawAttributeGroup(2), D3D_OK);
    // Faces 3 to 5 are old faces 0, 2, 3, on vertices 0 to 5; faces 0 and 1 (old 1 and 5) on 1 to 7.
    EXPECT_EQ(DrawLines(recorder.TakeLines()), (std::vector<std::string>{"DrawIndexedPrimitive(4, 0, 0, 6, 9, 3)"}));
    EXPECT_EQ(mesh->DrawAttributeGroup(0), D3D_OK);
    EXPECT_EQ(DrawLines(recorder.TakeLines()), (std::vector<std::string>{"DrawIndexedPrimitive(4, 0, 1, 7, 0, 2)"}));
    EXPECT_EQ(mesh->DrawAttributeGroup(9), D3D_OK);
    EXPECT_TRUE(DrawLines(recorder.TakeLines()).empty());

    // A read-only lock keeps the table; a writing lock discards it, and draws scan again.
    DWORD* attributes = nullptr;
    ASSERT_EQ(mesh->LockAttributeBuffer(D3DLOCK_READONLY, &attributes), D3D_OK);
    mesh->UnlockAttributeBuffer();
    EXPECT_EQ(ReadTable(mesh.Get()).size(), 3u);
    ASSERT_EQ(mesh->LockAttributeBuffer(0, &attributes), D3D_OK);
    attributes[1] = 5;
    mesh->UnlockAttributeBuffer();
    EXPECT_TRUE(ReadTable(mesh.Get()).empty());
    recorder.Clear();
    EXPECT_EQ(mesh->DrawAttributeGroup(0), D3D_OK);
    EXPECT_EQ(DrawLines(recorder.TakeLines()), (std::vector<std::string>{"DrawIndexedPrimitive(4, 0, 0, 8, 0, 1)"}));
    Device()->EndScene();
}

TEST_F(MeshTest, TableEntryIsFoundByPositionOrBySearch) {
    std::vector<PositionVertex> vertices = RowVertices(2);
    ComPtr<Mesh> mesh = MakeMesh(Device(), 0x110, D3DFVF_XYZ, vertices.data(), 6, RowIndices(2), {0, 0, 0, 0});
    ASSERT_TRUE(mesh);
    ASSERT_EQ(mesh->OptimizeInPlace(kOptimizeAttrSort | kOptimizeIgnoreVerts, nullptr, nullptr, nullptr, nullptr),
              D3D_OK);
    // Entry 0 carries id 3, entry 1 id 0: id 0 is not at position 0, so it is searched for.
    const AttributeRange table[] = {{3, 2, 2, 2, 4}, {0, 0, 1, 0, 3}, {1, 1, 0, 0, 0}};
    ASSERT_EQ(mesh->SetAttributeRanges(table, 3), D3D_OK);
    ASSERT_EQ(Device()->BeginScene(), D3D_OK);
    CallRecorder recorder;
    EXPECT_EQ(mesh->DrawAttributeGroup(0), D3D_OK);
    EXPECT_EQ(mesh->DrawAttributeGroup(3), D3D_OK);
    EXPECT_EQ(mesh->DrawAttributeGroup(1), D3D_OK);  // an entry without faces draws nothing
    EXPECT_EQ(DrawLines(recorder.TakeLines()), (std::vector<std::string>{"DrawIndexedPrimitive(4, 0, 0, 3, 0, 1)",
                                                                         "DrawIndexedPrimitive(4, 0, 2, 4, 6, 2)"}));
    Device()->EndScene();

    // Count 0 empties only without entries; absent outputs are allowed when reading.
    EXPECT_EQ(mesh->SetAttributeRanges(table, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(mesh->SetAttributeRanges(nullptr, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(mesh->GetAttributeTable(nullptr, nullptr), D3D_OK);
    ASSERT_EQ(mesh->SetAttributeRanges(table, 1), D3D_OK);
    ASSERT_EQ(ReadTable(mesh.Get()).size(), 1u);
    ASSERT_EQ(mesh->SetAttributeRanges(nullptr, 0), D3D_OK);
    EXPECT_TRUE(ReadTable(mesh.Get()).empty());
}

TEST_F(MeshTest, DrawnGroupCoversExactlyItsPixels) {
    rastertest::Canvas canvas(16, 8);
    // Two screen-space quads: the left one (faces 0, 1) id 4 in red, the right one id 9 in green.
    struct ScreenVertex {
        float x, y, z, rhw;
        D3DCOLOR colour;
    };
    const ScreenVertex vertices[] = {{0, 0, 0.5f, 1, 0xFFFF0000}, {8, 0, 0.5f, 1, 0xFFFF0000},
                                     {0, 8, 0.5f, 1, 0xFFFF0000}, {8, 8, 0.5f, 1, 0xFFFF0000},
                                     {8, 0, 0.5f, 1, 0xFF00FF00}, {16, 0, 0.5f, 1, 0xFF00FF00},
                                     {8, 8, 0.5f, 1, 0xFF00FF00}, {16, 8, 0.5f, 1, 0xFF00FF00}};
    ComPtr<Mesh> mesh = MakeMesh(canvas.Device(), 0x111, D3DFVF_XYZRHW | D3DFVF_DIFFUSE, vertices, 8,
                                 {0, 1, 2, 2, 1, 3, 4, 5, 6, 6, 5, 7}, {4, 4, 9, 9});
    ASSERT_TRUE(mesh);
    canvas.Clear(0xFF000000);
    ASSERT_EQ(canvas.Device()->BeginScene(), D3D_OK);
    EXPECT_EQ(mesh->DrawAttributeGroup(9), D3D_OK);
    canvas.Device()->EndScene();
    // Pixel centres x + 0.5 below 8 are outside the green quad; 8 to 15 inside.
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 16; ++x) ASSERT_EQ(canvas.Pixel(x, y), x < 8 ? 0xFF000000u : 0xFF00FF00u) << x << "," << y;
    }
}

TEST_F(MeshTest, CloneConvertsVerticesAndKeepsFacesAttributesAndTable) {
    struct Source {
        float x, y, z;
        float nx, ny, nz;
        DWORD diffuse;
        float u, v;
    };
    std::vector<Source> vertices;
    for (int i = 0; i < 6; ++i)
        vertices.push_back({float(i), float(i % 2), 0.5f, 0, 0, -1, 0xFF000000u | DWORD(40 * i), 0.25f * i, -0.5f});
    const DWORD fvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;
    ComPtr<Mesh> mesh = MakeMesh(Device(), 0x111, fvf, vertices.data(), 6, RowIndices(2), {1, 0, 1, 0});
    ASSERT_TRUE(mesh);
    ASSERT_EQ(mesh->OptimizeInPlace(0x32000000, nullptr, nullptr, nullptr, nullptr), D3D_OK);

    // Target: half-float normal, colour as normalised bytes, texture coordinates as normalised
    // shorts, a second texture set and a specular colour the source lacks.
    const D3DVERTEXELEMENT9 target[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                        {0, 12, D3DDECLTYPE_FLOAT16_4, 0, D3DDECLUSAGE_NORMAL, 0},
                                        {0, 20, D3DDECLTYPE_UBYTE4N, 0, D3DDECLUSAGE_COLOR, 0},
                                        {0, 24, D3DDECLTYPE_SHORT2N, 0, D3DDECLUSAGE_TEXCOORD, 0},
                                        {0, 28, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 1},
                                        {0, 36, D3DDECLTYPE_D3DCOLOR, 0, D3DDECLUSAGE_COLOR, 1},
                                        D3DDECL_END()};
    Mesh* made = nullptr;
    ASSERT_EQ(mesh->CloneWithDeclaration(0x110, target, Device(), &made), D3D_OK);
    ComPtr<Mesh> clone = ComPtr<Mesh>::Adopt(made);
    EXPECT_EQ(clone->GetFVF(), 0u);
    EXPECT_EQ(clone->GetVertexSize(), 40u);
    EXPECT_EQ(clone->GetOptions(), 0x110u);
    EXPECT_EQ(ReadIndices(clone.Get()), ReadIndices(mesh.Get()));
    EXPECT_EQ(ReadAttributes(clone.Get()), ReadAttributes(mesh.Get()));
    std::vector<AttributeRange> table = ReadTable(clone.Get());
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(std::memcmp(table.data(), ReadTable(mesh.Get()).data(), 2 * sizeof(AttributeRange)), 0);

    // The sort kept the vertex order (0x10000000).
    void* data = nullptr;
    ASSERT_EQ(clone->LockVertexBuffer(D3DLOCK_READONLY, &data), D3D_OK);
    for (int i = 0; i < 6; ++i) {
        const BYTE* v = static_cast<const BYTE*>(data) + 40 * i;
        float position[3], second[2];
        WORD normal[4];
        std::int16_t uv[2];
        DWORD specular;
        std::memcpy(position, v, 12);
        std::memcpy(normal, v + 12, 8);
        std::memcpy(uv, v + 24, 4);
        std::memcpy(second, v + 28, 8);
        std::memcpy(&specular, v + 36, 4);
        const Source& s = vertices[i];
        EXPECT_EQ(position[0], s.x);
        EXPECT_EQ(position[1], s.y);
        EXPECT_EQ(normal[2], 0xBC00);                                   // -1.0 as a half float
        EXPECT_EQ(normal[3], 0x3C00);                                   // the fourth component defaults to 1
        EXPECT_EQ(v[20], 0);                                            // red
        EXPECT_EQ(v[22], s.diffuse & 0xFF);                             // blue
        EXPECT_EQ(v[23], 0xFF);                                         // alpha
        EXPECT_EQ(uv[0], std::lround(std::min(s.u, 1.0f) * 32767.0f));  // saturated at 1
        EXPECT_EQ(uv[1], -16384);
        EXPECT_EQ(second[0], 0.0f);
        EXPECT_EQ(specular, 0xFFFFFFFFu);
    }
    clone->UnlockVertexBuffer();

    EXPECT_EQ(clone->CloneWithFVF(0x111, D3DFVF_XYZB5, Device(), &made), D3DERR_INVALIDCALL);
    EXPECT_EQ(made, nullptr);
}

TEST_F(MeshTest, CloneRulesSharingAndIndexWidth) {
    std::vector<PositionVertex> vertices = RowVertices(1);
    ComPtr<Mesh> mesh = MakeMesh(Device(), 0x111, D3DFVF_XYZ, vertices.data(), 4, {0, 1, 2, 2, 1, 70000}, {0, 0});
    ASSERT_TRUE(mesh);
    Mesh* made = nullptr;
    // A 16-bit clone clamps indices of 65535 and above.
    ASSERT_EQ(mesh->CloneWithFVF(0x110, D3DFVF_XYZ, Device(), &made), D3D_OK);
    ComPtr<Mesh> narrow = ComPtr<Mesh>::Adopt(made);
    EXPECT_EQ(ReadIndices(narrow.Get()), (std::vector<DWORD>{0, 1, 2, 2, 1, 65535}));

    // Sharing: same declaration and device only; both meshes then hold one vertex buffer.
    EXPECT_EQ(mesh->CloneWithFVF(0x1110, D3DFVF_XYZ | D3DFVF_NORMAL, Device(), &made), D3DERR_INVALIDCALL);
    d3d9test::CapturingWindow otherWindow(8, 8);
    ComPtr<IDirect3DDevice9> other = d3d9test::MakeDevice(otherWindow.Handle());
    EXPECT_EQ(mesh->CloneWithFVF(0x1111, D3DFVF_XYZ, other.Get(), &made), D3DERR_INVALIDCALL);
    EXPECT_EQ(mesh->CloneWithDeclaration(0x20000, nullptr, Device(), &made), D3DERR_INVALIDCALL);
    EXPECT_EQ(mesh->CloneWithDeclaration(0x110, nullptr, Device(), nullptr), D3DERR_INVALIDCALL);
    ASSERT_EQ(mesh->CloneWithDeclaration(0x1111, nullptr, Device(), &made), D3D_OK);
    ComPtr<Mesh> shared = ComPtr<Mesh>::Adopt(made);
    ComPtr<IDirect3DVertexBuffer9> a, b;
    mesh->GetVertexBuffer(a.ReleaseAndGetAddressOf());
    shared->GetVertexBuffer(b.ReleaseAndGetAddressOf());
    EXPECT_EQ(a.Get(), b.Get());
    // Vertices of a shared buffer are not moved by an optimisation.
    EXPECT_EQ(shared->OptimizeInPlace(kOptimizeAttrSort, nullptr, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(shared->OptimizeInPlace(kOptimizeAttrSort | kOptimizeIgnoreVerts, nullptr, nullptr, nullptr, nullptr),
              D3D_OK);

    // Write-only buffers cannot be read back, so they are not cloned or optimised.
    Mesh* writeOnly = nullptr;
    ASSERT_EQ(CreateMeshObjectFVF(2, 4, 0x40, D3DFVF_XYZ, Device(), &writeOnly), D3D_OK);
    ComPtr<Mesh> hold = ComPtr<Mesh>::Adopt(writeOnly);
    EXPECT_EQ(hold->CloneWithFVF(0, D3DFVF_XYZ, Device(), &made), D3DERR_INVALIDCALL);
    EXPECT_EQ(hold->OptimizeInPlace(kOptimizeAttrSort, nullptr, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
}

TEST_F(MeshTest, ReplaceDeclarationKeepsTheVertexSize) {
    Mesh* made = nullptr;
    ASSERT_EQ(CreateMeshObjectFVF(1, 3, 0x110, D3DFVF_XYZ | D3DFVF_NORMAL, Device(), &made), D3D_OK);
    ComPtr<Mesh> mesh = ComPtr<Mesh>::Adopt(made);
    const D3DVERTEXELEMENT9 tangent[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                         {0, 12, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_TANGENT, 0},
                                         D3DDECL_END()};
    ASSERT_EQ(mesh->ReplaceDeclaration(tangent), D3D_OK);
    EXPECT_EQ(mesh->GetFVF(), 0u);
    D3DVERTEXELEMENT9 now[kMaxDeclarationElements];
    mesh->GetDeclaration(now);
    EXPECT_TRUE(DeclarationsEqual(now, tangent));
    D3DVERTEXELEMENT9 smaller[kMaxDeclarationElements];
    DeclarationFromFVF(D3DFVF_XYZ, smaller);
    EXPECT_EQ(mesh->ReplaceDeclaration(smaller), D3DERR_INVALIDCALL);
    EXPECT_EQ(mesh->ReplaceDeclaration(nullptr), D3DERR_INVALIDCALL);
}

}  // namespace
}  // namespace qm
