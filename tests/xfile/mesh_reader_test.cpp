// mesh_reader_test.cpp: the mesh reader on small hand-written Mesh objects: fan triangulation,
// vertex splitting along normals, colour quantisation, materials and effect instances, skin
// weights, adjacency from the file, from duplicates and from positions, extra vertex data, 32-bit
// indices, and the result codes of malformed meshes.
#include "library/xfile/mesh_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "library/xfile/xfile_objects.h"
#include "tests/xfile/xfile_test_support.h"

namespace qm {
namespace {

using meshtest::ReadAttributes;
using meshtest::ReadIndices;
using meshtest::ReadTable;
using namespace xfiletest;

constexpr DWORD F = kNoNeighbour;

// Every output of one read.
struct ReadResult {
    HRESULT hr = E_FAIL;
    ComPtr<Mesh> mesh;
    ComPtr<DataBuffer> adjacency, materials, effects, progressive;
    DWORD materialCount = 0;
    ComPtr<SkinInfo> skin;
    std::vector<ComPtr<IDirectXFileData>> unrecognised;

    std::vector<DWORD> Adjacency() const {
        auto* words = static_cast<const DWORD*>(adjacency->GetBufferPointer());
        return std::vector<DWORD>(words, words + adjacency->GetBufferSize() / 4);
    }
};

class MeshReaderTest : public meshtest::DeviceFixture {
protected:
    ReadResult Read(const std::string& body) {
        Parsed parsed = ParseFirst(TextFile(body));
        ReadResult r;
        if (!parsed.object) return r;
        MeshReadOutputs outputs{r.adjacency.ReleaseAndGetAddressOf(), r.materials.ReleaseAndGetAddressOf(),
                                r.effects.ReleaseAndGetAddressOf(), &r.materialCount,
                                r.progressive.ReleaseAndGetAddressOf(), &r.unrecognised};
        r.hr = ReadSkinnedMesh(parsed.object.Get(), 0, Device(), outputs, r.skin.ReleaseAndGetAddressOf(),
                               r.mesh.ReleaseAndGetAddressOf());
        return r;
    }
};

// Corner i of the cube at ±1: bit 0 x, bit 1 y, bit 2 z.
std::string CubeBody(bool normals, const std::string& extra = "") {
    std::ostringstream s;
    s << "Mesh Cube {\n8;\n";
    for (int i = 0; i < 8; ++i)
        s << ((i & 1) ? 1 : -1) << ";" << ((i & 2) ? 1 : -1) << ";" << ((i & 4) ? 1 : -1) << ";" << (i < 7 ? "," : ";") << "\n";
    s << "6;\n4;0,2,3,1;,\n4;4,5,7,6;,\n4;0,4,6,2;,\n4;1,3,7,5;,\n4;0,1,5,4;,\n4;2,6,7,3;;\n";
    if (normals) {
        s << "MeshNormals {\n6;\n0;0;-1;,\n0;0;1;,\n-1;0;0;,\n1;0;0;,\n0;-1;0;,\n0;1;0;;\n6;\n"
             "4;0,0,0,0;,\n4;1,1,1,1;,\n4;2,2,2,2;,\n4;3,3,3,3;,\n4;4,4,4,4;,\n4;5,5,5,5;;\n}\n";
    }
    s << extra << "}\n";
    return s.str();
}

const char* kQuadVertices = "4;\n0;0;0;,\n0;1;0;,\n1;1;0;,\n1;0;0;;\n";

TEST_F(MeshReaderTest, FansPolygonsAndSplitsVerticesAlongNormals) {
    // A quad and a pentagon are fanned from their first index.
    ReadResult quad = Read(std::string("Mesh {\n5;\n0;0;0;,\n0;1;0;,\n1;1;0;,\n1;0;0;,\n2;0;0;;\n"
                                       "2;\n4;0,1,2,3;,\n5;0,1,2,3,4;;\n}\n"));
    ASSERT_EQ(quad.hr, S_OK);
    EXPECT_EQ(quad.mesh->GetFVF(), D3DFVF_XYZ);
    EXPECT_EQ(ReadIndices(quad.mesh.Get()), (std::vector<DWORD>{0, 1, 2, 0, 2, 3, 0, 1, 2, 0, 2, 3, 0, 3, 4}));
    EXPECT_EQ(quad.mesh->GetOptions(), kReaderMeshOptions);
    EXPECT_FALSE(quad.materials);  // no material list: no buffer, count 0
    EXPECT_EQ(quad.materialCount, 0u);
    ASSERT_TRUE(quad.skin);
    EXPECT_EQ(quad.skin->GetBoneCount(), 0u);

    // Without normals the cube keeps its 8 corners; with one normal per side every corner is split
    // three ways and every triangle's vertices carry its side's normal at the corner's position.
    ReadResult plain = Read(CubeBody(false));
    ASSERT_EQ(plain.hr, S_OK);
    EXPECT_EQ(plain.mesh->GetVertexCount(), 8u);
    EXPECT_EQ(plain.mesh->GetFaceCount(), 12u);
    EXPECT_EQ(plain.mesh->GetFVF(), D3DFVF_XYZ);

    ReadResult split = Read(CubeBody(true));
    ASSERT_EQ(split.hr, S_OK);
    Mesh* mesh = split.mesh.Get();
    EXPECT_EQ(mesh->GetVertexCount(), 24u);
    EXPECT_EQ(mesh->GetFVF(), D3DFVF_XYZ | D3DFVF_NORMAL);
    const std::vector<BYTE> bytes = VertexBytes(mesh);
    const std::vector<DWORD> indices = ReadIndices(mesh);
    const Float3 sideNormals[6] = {{0, 0, -1}, {0, 0, 1}, {-1, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 1, 0}};
    const DWORD fileFaces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 4, 6, 2}, {1, 3, 7, 5}, {0, 1, 5, 4}, {2, 6, 7, 3}};
    for (DWORD t = 0; t < 12; ++t) {
        const DWORD side = t / 2;
        const DWORD fileCorners[3] = {fileFaces[side][0], fileFaces[side][1 + t % 2], fileFaces[side][2 + t % 2]};
        for (int k = 0; k < 3; ++k) {
            const DWORD v = indices[3 * t + k];
            const DWORD c = fileCorners[k];
            const Float3 expected{(c & 1) ? 1.0f : -1.0f, (c & 2) ? 1.0f : -1.0f, (c & 4) ? 1.0f : -1.0f};
            EXPECT_EQ(VertexField<Float3>(bytes, mesh, v, 0), expected) << "triangle " << t;
            EXPECT_EQ(VertexField<Float3>(bytes, mesh, v, 12), sideNormals[side]) << "triangle " << t;
        }
    }
}

TEST_F(MeshReaderTest, NormalsIndexedLikeTheVerticesStayWithThem) {
    // Five vertices, the last used by no face, and five distinct normals. With each corner's normal
    // index equal to its vertex index, every used vertex takes its own normal and the unused one keeps
    // none; when one corner names another normal, that corner's vertex is split.
    const Float3 normals[5] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {-1, 0, 0}, {0, -1, 0}};
    auto body = [](const char* normalFaces) {
        return std::string("Mesh {\n5;\n0;0;0;,\n0;1;0;,\n1;1;0;,\n1;0;0;,\n5;5;5;;\n2;\n3;0,1,2;,\n3;0,2,3;;\n"
                           "MeshNormals {\n5;\n1;0;0;,\n0;1;0;,\n0;0;1;,\n-1;0;0;,\n0;-1;0;;\n2;\n") +
               normalFaces + "}\n}\n";
    };
    ReadResult same = Read(body("3;0,1,2;,\n3;0,2,3;;\n"));
    ASSERT_EQ(same.hr, S_OK);
    ASSERT_EQ(same.mesh->GetVertexCount(), 5u);
    EXPECT_EQ(ReadIndices(same.mesh.Get()), (std::vector<DWORD>{0, 1, 2, 0, 2, 3}));
    std::vector<BYTE> bytes = VertexBytes(same.mesh.Get());
    for (DWORD v = 0; v < 4; ++v) EXPECT_EQ(VertexField<Float3>(bytes, same.mesh.Get(), v, 12), normals[v]) << v;
    EXPECT_EQ(VertexField<Float3>(bytes, same.mesh.Get(), 4, 12), (Float3{0, 0, 0}));

    ReadResult other = Read(body("3;0,1,2;,\n3;4,2,3;;\n"));
    ASSERT_EQ(other.hr, S_OK);
    ASSERT_EQ(other.mesh->GetVertexCount(), 6u);
    EXPECT_EQ(ReadIndices(other.mesh.Get()), (std::vector<DWORD>{0, 1, 2, 5, 2, 3}));
    bytes = VertexBytes(other.mesh.Get());
    EXPECT_EQ(VertexField<Float3>(bytes, other.mesh.Get(), 0, 12), normals[0]);
    EXPECT_EQ(VertexField<Float3>(bytes, other.mesh.Get(), 5, 0), (Float3{0, 0, 0}));
    EXPECT_EQ(VertexField<Float3>(bytes, other.mesh.Get(), 5, 12), normals[4]);
    EXPECT_EQ(VertexField<Float3>(bytes, other.mesh.Get(), 4, 12), (Float3{0, 0, 0}));
}

TEST_F(MeshReaderTest, GeneratesNormalsOnlyWhereTheFormatAsksForThem) {
    // FVFData declaring a normal, no MeshNormals: each vertex gets the unit normal of
    // (p0 - p1) x (p0 - p2) = (0, -1, 0) x (-1, 0, 0) = (0, 0, -1); the FVFData normal bytes are unused.
    ReadResult r = Read(std::string("Mesh {\n3;\n0;0;0;,\n0;1;0;,\n1;0;0;;\n1;\n3;0,1,2;;\n"
                                    "FVFData { 18; 9; 7,7,7,7,7,7,7,7,7; }\n}\n"));
    ASSERT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.mesh->GetFVF(), D3DFVF_XYZ | D3DFVF_NORMAL);
    const std::vector<BYTE> bytes = VertexBytes(r.mesh.Get());
    for (DWORD v = 0; v < 3; ++v) EXPECT_EQ(VertexField<Float3>(bytes, r.mesh.Get(), v, 12), (Float3{0, 0, -1}));

    // DeclData adds a second texture set behind the format's elements, with the file's per-vertex
    // values (0.5 = 0x3F000000, 0.25 = 0x3E800000, 1.0 = 0x3F800000).
    ReadResult d = Read(std::string("Mesh {\n3;\n0;0;0;,\n0;1;0;,\n1;0;0;;\n1;\n3;0,1,2;;\n"
                                    "DeclData { 1; 1;0;5;1;; 6; 1056964608,1048576000,1065353216,0,0,1065353216; }\n}\n"));
    ASSERT_EQ(d.hr, S_OK);
    D3DVERTEXELEMENT9 declaration[kMaxDeclarationElements];
    ASSERT_EQ(d.mesh->GetDeclaration(declaration), D3D_OK);
    const int uv1 = FindDeclarationElement(declaration, D3DDECLUSAGE_TEXCOORD, 1);
    ASSERT_GE(uv1, 0);
    EXPECT_EQ(declaration[uv1].Offset, 12);
    EXPECT_EQ(declaration[uv1].Type, D3DDECLTYPE_FLOAT2);
    EXPECT_EQ(d.mesh->GetVertexSize(), 20u);
    const std::vector<BYTE> declBytes = VertexBytes(d.mesh.Get());
    EXPECT_EQ(VertexField<float>(declBytes, d.mesh.Get(), 0, 12), 0.5f);
    EXPECT_EQ(VertexField<float>(declBytes, d.mesh.Get(), 0, 16), 0.25f);
    EXPECT_EQ(VertexField<float>(declBytes, d.mesh.Get(), 1, 12), 1.0f);
    EXPECT_EQ(VertexField<float>(declBytes, d.mesh.Get(), 2, 16), 1.0f);
}

TEST_F(MeshReaderTest, QuantisesColoursToEightBits) {
    // (1.2, 0.5, -0.1, 1.0): red 255, green trunc(0.5 * 255 + 0.5) = 128, blue 0, alpha 255;
    // vertices without an entry stay white with alpha 0. Texture coordinates go to set 0.
    ReadResult r = Read(std::string("Mesh {\n") + kQuadVertices + "1;\n4;0,1,2,3;;\n"
                        "MeshVertexColors { 1; 2;1.2;0.5;-0.1;1.0;;; }\n"
                        "MeshTextureCoords { 4; 0;0;, 0;1;, 1;1;, 0.25;0.75;; }\n}\n");
    ASSERT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.mesh->GetFVF(), D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    const std::vector<BYTE> bytes = VertexBytes(r.mesh.Get());
    EXPECT_EQ(VertexField<DWORD>(bytes, r.mesh.Get(), 2, 12), 0xFFFF8000u);
    EXPECT_EQ(VertexField<DWORD>(bytes, r.mesh.Get(), 0, 12), 0x00FFFFFFu);
    EXPECT_EQ(VertexField<float>(bytes, r.mesh.Get(), 3, 16), 0.25f);
    EXPECT_EQ(VertexField<float>(bytes, r.mesh.Get(), 3, 20), 0.75f);
}

TEST_F(MeshReaderTest, ReadsMaterialsEffectInstancesAndSortsByMaterial) {
    // Three faces, two face indexes: the third face takes material 0.
    ReadResult r = Read(std::string("Mesh {\n") + kQuadVertices +
                        "3;\n3;0,1,2;,\n3;0,2,3;,\n3;1,2,3;;\n"
                        "MeshMaterialList { 2; 2; 1, 1;;\n"
                        " Material Red { 1;0;0;1;; 5; 0.5;0.5;0.5;; 0;0;0;; TextureFilename { \"old.png\"; }\n"
                        "   TextureFilename { \"red.png\"; } }\n"
                        " Material { 0;1;0;0.5;; 1; 0;0;0;; 0.125;0.25;0.5;;\n"
                        "  EffectInstance { \"fx/a.fx\"; EffectParamDWord { \"Count\"; 7; }\n"
                        "   EffectParamFloats { \"Tint\"; 2; 0.5, 0.25; } EffectFloats Old { 1; 2.0; } } }\n"
                        "}\n}\n");
    ASSERT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.materialCount, 2u);
    EXPECT_EQ(ReadIndices(r.mesh.Get()), (std::vector<DWORD>{1, 2, 3, 0, 1, 2, 0, 2, 3}));
    EXPECT_EQ(ReadAttributes(r.mesh.Get()), (std::vector<DWORD>{0, 1, 1}));
    const std::vector<AttributeRange> table = ReadTable(r.mesh.Get());
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[0].attribId, 0u);
    EXPECT_EQ(table[0].faceCount, 1u);
    EXPECT_EQ(table[1].attribId, 1u);
    EXPECT_EQ(table[1].faceStart, 1u);
    EXPECT_EQ(table[1].faceCount, 2u);

    ASSERT_TRUE(r.materials);
    auto* records = static_cast<const MaterialRecord*>(r.materials->GetBufferPointer());
    const BYTE* begin = static_cast<const BYTE*>(r.materials->GetBufferPointer());
    const D3DMATERIAL9& red = records[0].material;
    EXPECT_EQ(red.Diffuse.r, 1.0f);
    EXPECT_EQ(red.Diffuse.a, 1.0f);
    EXPECT_EQ(red.Ambient.a, 1.0f);
    EXPECT_EQ(red.Ambient.r, 0.0f);
    EXPECT_EQ(red.Specular.g, 0.5f);
    EXPECT_EQ(red.Specular.a, 1.0f);
    EXPECT_EQ(red.Power, 5.0f);
    ASSERT_NE(records[0].textureFilename, nullptr);
    EXPECT_STREQ(records[0].textureFilename, "red.png");  // the last TextureFilename wins
    const BYTE* name = reinterpret_cast<const BYTE*>(records[0].textureFilename);
    EXPECT_TRUE(name >= begin && name < begin + r.materials->GetBufferSize());
    EXPECT_EQ(records[1].textureFilename, nullptr);
    EXPECT_EQ(records[1].material.Diffuse.a, 0.5f);
    EXPECT_EQ(records[1].material.Emissive.b, 0.5f);
    EXPECT_EQ(records[1].material.Emissive.a, 1.0f);

    ASSERT_TRUE(r.effects);
    auto* effects = static_cast<const EffectInstance*>(r.effects->GetBufferPointer());
    // Material 0 had none: derived from the material.
    EXPECT_EQ(effects[0].effectFilename, nullptr);
    ASSERT_EQ(effects[0].defaultCount, 6u);
    const char* derivedNames[6] = {"Diffuse", "Power", "Specular", "Emissive", "Ambient", "Texture0@Name"};
    const DWORD derivedSizes[6] = {16, 4, 16, 16, 16, 8};
    for (int i = 0; i < 6; ++i) {
        EXPECT_STREQ(effects[0].defaults[i].paramName, derivedNames[i]);
        EXPECT_EQ(effects[0].defaults[i].byteCount, derivedSizes[i]);
        EXPECT_EQ(effects[0].defaults[i].kind, i == 5 ? kEffectDefaultString : kEffectDefaultFloats);
    }
    EXPECT_EQ(static_cast<const float*>(effects[0].defaults[1].value)[0], 5.0f);
    EXPECT_EQ(static_cast<const float*>(effects[0].defaults[2].value)[3], 1.0f);
    EXPECT_STREQ(static_cast<const char*>(effects[0].defaults[5].value), "red.png");
    // Material 1's own instance, defaults in file order, the older form named by its object.
    ASSERT_NE(effects[1].effectFilename, nullptr);
    EXPECT_STREQ(effects[1].effectFilename, "fx/a.fx");
    ASSERT_EQ(effects[1].defaultCount, 3u);
    EXPECT_STREQ(effects[1].defaults[0].paramName, "Count");
    EXPECT_EQ(effects[1].defaults[0].kind, kEffectDefaultDWord);
    EXPECT_EQ(*static_cast<const DWORD*>(effects[1].defaults[0].value), 7u);
    EXPECT_STREQ(effects[1].defaults[1].paramName, "Tint");
    EXPECT_EQ(effects[1].defaults[1].byteCount, 8u);
    EXPECT_EQ(static_cast<const float*>(effects[1].defaults[1].value)[1], 0.25f);
    EXPECT_STREQ(effects[1].defaults[2].paramName, "Old");
    EXPECT_EQ(*static_cast<const float*>(effects[1].defaults[2].value), 2.0f);
}

TEST_F(MeshReaderTest, AdjacencyComesFromTheFileTheDuplicatesOrThePositions) {
    // Generated: the quad's two triangles meet across 0-2.
    ReadResult quad = Read(std::string("Mesh {\n") + kQuadVertices + "1;\n4;0,1,2,3;;\n}\n");
    ASSERT_EQ(quad.hr, S_OK);
    EXPECT_EQ(quad.Adjacency(), (std::vector<DWORD>{F, F, 1, 0, F, F}));

    // Two triangles far apart, tied only by VertexDuplicationIndices (3 duplicates 0, 4 duplicates 2).
    const std::string apart = "Mesh {\n6;\n0;0;0;,\n0;1;0;,\n1;0;0;,\n5;5;5;,\n6;5;5;,\n5;6;5;;\n"
                              "2;\n3;0,1,2;,\n3;3,4,5;;\n";
    ReadResult unlinked = Read(apart + "}\n");
    ASSERT_EQ(unlinked.hr, S_OK);
    EXPECT_EQ(unlinked.Adjacency(), (std::vector<DWORD>{F, F, F, F, F, F}));
    ReadResult linked = Read(apart + "VertexDuplicationIndices { 6; 4; 0,1,2,0,2,5; }\n}\n");
    ASSERT_EQ(linked.hr, S_OK);
    EXPECT_EQ(linked.Adjacency(), (std::vector<DWORD>{F, F, 1, 0, F, F}));

    // The file's own adjacency is kept, renumbered past the dropped degenerate triangle 1.
    ReadResult file = Read(std::string("Mesh {\n") + kQuadVertices + "3;\n3;0,1,2;,\n3;0,1,1;,\n3;0,2,3;;\n"
                           "FaceAdjacency { 9; 1,2,4294967295, 4294967295,4294967295,4294967295, 4294967295,0,4294967295; }\n}\n");
    ASSERT_EQ(file.hr, S_OK);
    EXPECT_EQ(file.mesh->GetFaceCount(), 2u);
    EXPECT_EQ(file.Adjacency(), (std::vector<DWORD>{F, 1, F, F, 0, F}));
}

TEST_F(MeshReaderTest, SkinWeightsBecomeBonesAndFollowSplitVertices) {
    const std::string skin =
        "XSkinMeshHeader { 1; 1; 2; }\n"
        "SkinWeights { \"Hip\"; 1; 0; 0.5; 1,0,0,0, 0,1,0,0, 0,0,1,0, 0,2,0,1;; }\n"
        "SkinWeights { \"Empty\"; 0; ; ; 1,0,0,0, 0,1,0,0, 0,0,1,0, 0,0,0,1;; }\n";
    ReadResult r = Read(CubeBody(true, skin));
    ASSERT_EQ(r.hr, S_OK);
    ASSERT_TRUE(r.skin);
    ASSERT_EQ(r.skin->GetBoneCount(), 2u);
    EXPECT_STREQ(r.skin->GetBoneName(0), "Hip");
    EXPECT_STREQ(r.skin->GetBoneName(1), "Empty");
    EXPECT_EQ(r.skin->GetBoneOffsetMatrix(0)->_42, 2.0f);
    EXPECT_EQ(r.skin->GetVertexCount(), 24u);
    EXPECT_EQ(r.skin->GetBoneInfluenceCount(1), 0u);
    // File vertex 0 sits at (-1, -1, -1); all three of its split copies carry its weight.
    const DWORD count = r.skin->GetBoneInfluenceCount(0);
    std::vector<DWORD> vertices(count);
    std::vector<float> weights(count);
    ASSERT_EQ(r.skin->GetBoneInfluence(0, vertices.data(), weights.data()), D3D_OK);
    const std::vector<Float3> positions = Positions(r.mesh.Get());
    std::set<DWORD> atCorner;
    for (DWORD v = 0; v < positions.size(); ++v)
        if (positions[v] == Float3{-1, -1, -1}) atCorner.insert(v);
    EXPECT_EQ(atCorner.size(), 3u);
    EXPECT_EQ(std::set<DWORD>(vertices.begin(), vertices.end()), atCorner);
    for (float w : weights) EXPECT_EQ(w, 0.5f);
}

TEST_F(MeshReaderTest, UsesThirtyTwoBitIndicesFrom65535Vertices) {
    std::ostringstream s;
    const DWORD vertexCount = 70000;
    s << "Mesh {\n" << vertexCount << ";\n";
    for (DWORD k = 0; k < vertexCount; ++k) s << k << ";" << (k % 3 == 1 ? 1 : 0) << ";0;" << (k + 1 < vertexCount ? "," : ";") << "\n";
    const DWORD faces = vertexCount / 3 + 1;
    s << faces << ";\n";
    for (DWORD i = 0; i + 1 < faces; ++i) s << "3;" << 3 * i << "," << 3 * i + 1 << "," << 3 * i + 2 << ";,\n";
    s << "3;69997,69998,69999;;\n}\n";
    ReadResult r = Read(s.str());
    ASSERT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.mesh->GetOptions(), kReaderMeshOptions | kMesh32BitIndices);
    EXPECT_EQ(r.mesh->GetVertexCount(), vertexCount);
    const std::vector<DWORD> indices = ReadIndices(r.mesh.Get());
    ASSERT_EQ(indices.size(), 3u * faces);
    EXPECT_EQ(std::vector<DWORD>(indices.end() - 3, indices.end()), (std::vector<DWORD>{69997, 69998, 69999}));
    EXPECT_EQ(indices[3 * 22000 + 1], 66001u);  // past what 16 bits hold
}

TEST_F(MeshReaderTest, RefusesMalformedMeshesWithTheirCodes) {
    const std::string body = std::string("Mesh {\n") + kQuadVertices;
    struct Case {
        std::string text;
        HRESULT expected;
    };
    const Case cases[] = {
        {"Mesh { 0;; 0;; }", ERR_MESH_HAS_NO_DATA},
        {body + "0;;\n}", ERR_MESH_HAS_NO_DATA},
        {body + "2;\n3;0,1,1;,\n3;2,2,3;;\n}", ERR_MESH_HAS_NO_DATA},  // only degenerate triangles
        {body + "1;\n3;0,1,4;;\n}", E_FAIL},                          // index out of range
        {body + "1;\n2;0,1;;\n}", E_FAIL},                            // fewer than 3 indices
        {body + "1;\n4;0,1,2,3;;\nMeshTextureCoords { 3; 0;0;, 0;1;, 1;1;; }\n}", E_FAIL},
        {body + "1;\n4;0,1,2,3;;\nMeshVertexColors { 1; 4;1;1;1;1;;; }\n}", E_FAIL},
        {body + "1;\n4;0,1,2,3;;\nMeshNormals { 1; 0;0;1;; 1; 3;0,0,0;; }\n}", E_FAIL},  // face size differs
        {body + "1;\n4;0,1,2,3;;\nMeshNormals { 1; 0;0;1;; 1; 4;0,0,0,1;; }\n}", E_FAIL},  // normal index
        {body + "1;\n4;0,1,2,3;;\nMeshNormals { 2; 0;0;1;, 0;1;0;; 1; 4;0,1,2,3;; }\n}", E_FAIL},  // as the faces
        {body + "1;\n4;0,1,2,3;;\nMeshMaterialList { 1; 2; 0, 5;; Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; } }\n}",
         E_FAIL},  // an id past the faces
        {body + "1;\n4;0,1,2,3;;\nMeshMaterialList { 2; 1; 0;; Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; } }\n}", E_FAIL},
        {body + "1;\n4;0,1,2,3;;\nMeshMaterialList { 1; 1; 1;; Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; } }\n}", E_FAIL},
        {body + "1;\n4;0,1,2,3;;\nMeshMaterialList { 1; 1; 0;; Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; }\n"
                " Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; } }\n}", D3DERR_INVALIDCALL},
        {body + "1;\n4;0,1,2,3;;\nVertexDuplicationIndices { 3; 3; 0,1,2; }\n}", D3DERR_INVALIDCALL},
        {body + "1;\n4;0,1,2,3;;\nVertexDuplicationIndices { 4; 4; 0,0,1,2; }\n}", D3DERR_INVALIDCALL},
        {body + "1;\n4;0,1,2,3;;\nVertexDuplicationIndices { 4; 4; 0,1,2,9; }\n}", E_FAIL},
        {body + "1;\n4;0,1,2,3;;\nFaceAdjacency { 3; 0,0,0; }\n}", D3DERR_INVALIDCALL},
        {body + "1;\n4;0,1,2,3;;\nDeclData { 0; ; 0; ; }\n}", D3DERR_INVALIDCALL},
        {body + "1;\n4;0,1,2,3;;\nDeclData { 1; 2;0;5;1;; 4; 0,0,0,0; }\n}", D3DERR_INVALIDCALL},  // stride 4 < 12
        {body + "1;\n4;0,1,2,3;;\nSkinWeights { \"A\"; 1; 0; 1; 1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;; }\n"
                "XSkinMeshHeader { 1; 1; 1; }\nSkinWeights { \"B\"; 1; 7; 1; 1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;; }\n}", E_FAIL},
        {body + "1;\n4;0,1,2,3;;\nFVFData { 2050; 0; ; }\nMeshTextureCoords { 4; 0;0;, 0;1;, 1;1;, 1;0;; }\n}",
         D3DERR_INVALIDCALL},  // eight texture sets already, plus MeshTextureCoords' set
    };
    for (const Case& c : cases) {
        ReadResult r = Read(c.text);
        EXPECT_EQ(r.hr, c.expected) << c.text;
        EXPECT_FALSE(r.mesh);
        EXPECT_FALSE(r.skin);
        EXPECT_FALSE(r.adjacency);
        EXPECT_FALSE(r.materials);
        EXPECT_FALSE(r.effects);
        EXPECT_TRUE(r.unrecognised.empty());
    }

    Parsed parsed = ParseFirst(TextFile(body + "1;\n4;0,1,2,3;;\n}"));
    ComPtr<SkinInfo> skin;
    EXPECT_EQ(ReadSkinnedMesh(parsed.object.Get(), 0, Device(), {}, skin.ReleaseAndGetAddressOf(), nullptr),
              D3DERR_INVALIDCALL);
}

TEST_F(MeshReaderTest, KeepsUnknownChildrenAndProgressiveData) {
    // A SkinWeights before any header is not read as a bone; it and an unknown child are handed back.
    ReadResult r = Read(std::string("Mesh {\n") + kQuadVertices + "1;\n4;0,1,2,3;;\n"
                        "SkinWeights { \"A\"; 0; ; ; 1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;; }\n"
                        "FrameTransformMatrix { 1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;; }\n"
                        "PMInfo { 0; ; 4; 4; 4; 0; ; 0; ; }\n}\n");
    ASSERT_EQ(r.hr, S_OK);
    ASSERT_EQ(r.unrecognised.size(), 2u);
    EXPECT_TRUE(HasTemplate(r.unrecognised[0].Get(), kTemplateSkinWeights));
    EXPECT_EQ(r.skin->GetBoneCount(), 0u);
    ASSERT_TRUE(r.progressive);
    EXPECT_EQ(r.progressive->GetBufferSize(), 24u);  // six DWORDs: the counts and scalars of PMInfo
}

}  // namespace
}  // namespace qm
