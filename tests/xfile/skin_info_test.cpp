// skin_info_test.cpp: bone influences, names and offsets, the per-vertex and per-face maxima, the
// influence stream as skinning reads it, UpdateSkinnedMesh against a double-precision reference,
// layout checks, cache rebuilding, cloning and vertex remapping.
#include "library/xfile/skin_info.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "library/math/math.h"
#include "tests/mesh/mesh_test_support.h"

namespace qm {
namespace {

// Position, normal, one texture set (FVF 0x112), 32 bytes.
struct Vertex {
    float x, y, z;
    float nx, ny, nz;
    float u, v;
};
constexpr DWORD kFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;

ComPtr<SkinInfo> MakeSkin(DWORD vertices, DWORD bones, DWORD fvf = kFvf) {
    SkinInfo* made = nullptr;
    EXPECT_EQ(CreateSkinInfoFVF(vertices, fvf, bones, &made), D3D_OK);
    return ComPtr<SkinInfo>::Adopt(made);
}

Matrix Identity() {
    Matrix m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}
Matrix Translation(float x, float y, float z) {
    Matrix m = Identity();
    m._41 = x, m._42 = y, m._43 = z;
    return m;
}

// 16-byte aligned matrix storage that can also hand out a copy 4 bytes off alignment.
class MatrixArray {
public:
    explicit MatrixArray(const std::vector<Matrix>& matrices) : storage_(matrices.size() * 16 + 8) {
        aligned_ = reinterpret_cast<Matrix*>(Align(storage_.data()));
        std::memcpy(aligned_, matrices.data(), matrices.size() * sizeof(Matrix));
        shiftedStorage_.resize(matrices.size() * 16 + 8);
        shifted_ = reinterpret_cast<Matrix*>(Align(shiftedStorage_.data()) + 1);
        std::memcpy(shifted_, matrices.data(), matrices.size() * sizeof(Matrix));
    }
    const Matrix* Aligned() const { return aligned_; }
    const Matrix* Unaligned() const { return shifted_; }

private:
    static float* Align(float* p) {
        auto address = reinterpret_cast<std::uintptr_t>(p);
        return reinterpret_cast<float*>((address + 15) & ~std::uintptr_t{15});
    }
    std::vector<float> storage_;
    std::vector<float> shiftedStorage_;
    Matrix* aligned_;
    Matrix* shifted_;
};

TEST(SkinInfo, InfluencesNamesAndOffsets) {
    ComPtr<SkinInfo> skin = MakeSkin(10, 3);
    EXPECT_EQ(skin->GetBoneCount(), 3u);
    EXPECT_EQ(skin->GetVertexCount(), 10u);
    EXPECT_EQ(skin->GetFVF(), kFvf);
    const DWORD vertices[] = {1, 4, 9};
    const float weights[] = {0.5f, 0.25f, 1.0f};
    ASSERT_EQ(skin->SetBoneInfluence(1, 3, vertices, weights), D3D_OK);
    EXPECT_EQ(skin->GetBoneInfluenceCount(1), 3u);
    EXPECT_EQ(skin->GetBoneInfluenceCount(3), 0u);
    DWORD gotVertices[3];
    float gotWeights[3];
    ASSERT_EQ(skin->GetBoneInfluence(1, gotVertices, gotWeights), D3D_OK);
    EXPECT_EQ(std::memcmp(gotVertices, vertices, sizeof vertices), 0);
    EXPECT_EQ(std::memcmp(gotWeights, weights, sizeof weights), 0);
    EXPECT_EQ(skin->GetBoneInfluence(3, gotVertices, gotWeights), D3DERR_INVALIDCALL);

    // A vertex at or past the vertex count, or a bone past the bone count, is refused and changes nothing.
    const DWORD outside[] = {2, 10};
    EXPECT_EQ(skin->SetBoneInfluence(1, 2, outside, weights), D3DERR_INVALIDCALL);
    EXPECT_EQ(skin->GetBoneInfluenceCount(1), 3u);
    EXPECT_EQ(skin->SetBoneInfluence(3, 1, vertices, weights), D3DERR_INVALIDCALL);
    EXPECT_EQ(skin->SetBoneInfluence(0, 1, nullptr, weights), D3DERR_INVALIDCALL);

    // Names are copies; offsets start at zero.
    char name[] = "Forearm";
    ASSERT_EQ(skin->SetBoneName(0, name), D3D_OK);
    name[0] = 'X';
    EXPECT_STREQ(skin->GetBoneName(0), "Forearm");
    const Matrix zero{};
    EXPECT_EQ(std::memcmp(skin->GetBoneOffsetMatrix(2), &zero, sizeof zero), 0);
    EXPECT_EQ(skin->GetBoneOffsetMatrix(3), nullptr);

    void* found = nullptr;
    ASSERT_EQ(skin->QueryInterface(SkinInfo::iid, &found), S_OK);
    static_cast<IUnknown*>(found)->Release();
    EXPECT_EQ(skin->QueryInterface(BaseMesh::iid, &found), E_NOINTERFACE);
}

TEST(SkinInfo, CreationChecksItsArguments) {
    SkinInfo* made = reinterpret_cast<SkinInfo*>(0x10);
    const D3DVERTEXELEMENT9 overlap[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                         {0, 4, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_NORMAL, 0},
                                         D3DDECL_END()};
    EXPECT_EQ(CreateSkinInfo(4, overlap, 1, &made), D3DERR_INVALIDCALL);
    EXPECT_EQ(made, nullptr);
    EXPECT_EQ(CreateSkinInfoFVF(4, kFvf, 1, nullptr), D3DERR_INVALIDCALL);
    D3DVERTEXELEMENT9 declaration[kMaxDeclarationElements];
    DeclarationFromFVF(kFvf, declaration);
    std::vector<BoneRecord> bones(2);
    bones[1].vertices = {0, 4};
    bones[1].weights = {0.5f, 0.5f};
    EXPECT_EQ(CreateSkinInfoFromBones(4, declaration, 2, std::move(bones), &made), D3DERR_INVALIDCALL);
    bones = std::vector<BoneRecord>(2);
    bones[0].vertices = {0, 3};
    bones[0].weights = {0.5f};
    EXPECT_EQ(CreateSkinInfoFromBones(4, declaration, 2, std::move(bones), &made), D3DERR_INVALIDCALL);
    bones = std::vector<BoneRecord>(2);
    bones[1].vertices = {3};
    bones[1].weights = {1.0f};
    ASSERT_EQ(CreateSkinInfoFromBones(4, declaration, 2, std::move(bones), &made), D3D_OK);
    ComPtr<SkinInfo> skin = ComPtr<SkinInfo>::Adopt(made);
    EXPECT_EQ(skin->GetBoneInfluenceCount(1), 1u);
}

TEST(SkinInfo, VertexAndFaceMaximaCountEveryInfluence) {
    ComPtr<SkinInfo> skin = MakeSkin(6, 4);
    // Vertex 2 has four influences (one of weight 0), vertex 0 two, vertex 5 one.
    const DWORD v0[] = {0, 2}, v1[] = {2, 0}, v2[] = {2}, v3[] = {2, 5};
    const float w0[] = {0.5f, 0.25f}, w1[] = {0.5f, 0.25f}, w2[] = {0.0f}, w3[] = {0.5f, 1.0f};
    skin->SetBoneInfluence(0, 2, v0, w0);
    skin->SetBoneInfluence(1, 2, v1, w1);
    skin->SetBoneInfluence(2, 1, v2, w2);
    skin->SetBoneInfluence(3, 2, v3, w3);
    DWORD most = 0;
    ASSERT_EQ(skin->GetMaxVertexInfluences(&most), D3D_OK);
    EXPECT_EQ(most, 4u);
    EXPECT_EQ(skin->GetMaxVertexInfluences(nullptr), D3DERR_INVALIDCALL);

    // Face (0, 1, 5): bones 0, 1 and 3; face (1, 3, 4): none; face (0, 2, 5): all four.
    const WORD faces16[] = {0, 1, 5, 1, 3, 4};
    ASSERT_EQ(skin->GetMaxFaceInfluences16(faces16, 2, &most), D3D_OK);
    EXPECT_EQ(most, 3u);
    const DWORD faces32[] = {1, 3, 4, 0, 2, 5};
    ASSERT_EQ(skin->GetMaxFaceInfluences32(faces32, 2, &most), D3D_OK);
    EXPECT_EQ(most, 4u);
    ASSERT_EQ(skin->GetMaxFaceInfluences32(faces32, 0, &most), D3D_OK);
    EXPECT_EQ(most, 0u);

    // The index-buffer form reads the buffer's own width.
    d3d9test::CapturingWindow window(8, 8);
    ComPtr<IDirect3DDevice9> device = d3d9test::MakeDevice(window.Handle());
    for (D3DFORMAT format : {D3DFMT_INDEX16, D3DFMT_INDEX32}) {
        const UINT size = format == D3DFMT_INDEX16 ? 2 : 4;
        ComPtr<IDirect3DIndexBuffer9> buffer;
        ASSERT_EQ(
            device->CreateIndexBuffer(6 * size, 0, format, D3DPOOL_SYSTEMMEM, buffer.ReleaseAndGetAddressOf(), nullptr),
            D3D_OK);
        void* data = nullptr;
        buffer->Lock(0, 0, &data, 0);
        for (int i = 0; i < 6; ++i) {
            if (size == 2)
                static_cast<WORD*>(data)[i] = static_cast<WORD>(faces16[i]);
            else
                static_cast<DWORD*>(data)[i] = faces16[i];
        }
        buffer->Unlock();
        ASSERT_EQ(skin->GetMaxFaceInfluences(buffer.Get(), 2, &most), D3D_OK);
        EXPECT_EQ(most, 3u);
        EXPECT_EQ(skin->GetMaxFaceInfluences(buffer.Get(), 3, &most), D3DERR_INVALIDCALL);  // past the buffer
    }
}

// Double-precision reference of the skinning of one vertex over the given influences.
Vertex ReferenceSkin(const Vertex& in, const std::vector<std::pair<DWORD, float>>& influences,
                     const std::vector<Matrix>& bones, const std::vector<Matrix>& normals, float minimum) {
    Vertex out = in;
    double p[3] = {0, 0, 0}, n[3] = {0, 0, 0};
    for (auto [bone, weight] : influences) {
        if (!(weight > minimum)) continue;
        const float* m = &bones[bone]._11;
        double q[4];
        for (int c = 0; c < 4; ++c) q[c] = in.x * m[c] + in.y * m[4 + c] + in.z * m[8 + c] + m[12 + c];
        const double scale = std::fabs(q[3] - 1.0) <= 1.1920929e-7 ? 1.0 : 1.0 / q[3];
        const float* r = &normals[bone]._11;
        for (int c = 0; c < 3; ++c) {
            p[c] += weight * q[c] * scale;
            n[c] += weight * (in.nx * r[c] + in.ny * r[4 + c] + in.nz * r[8 + c]);
        }
    }
    out.x = float(p[0]), out.y = float(p[1]), out.z = float(p[2]);
    out.nx = float(n[0]), out.ny = float(n[1]), out.nz = float(n[2]);
    return out;
}

void ExpectVerticesNear(const Vertex& got, const Vertex& want, float tolerance, int index) {
    const float* g = &got.x;
    const float* w = &want.x;
    for (int c = 0; c < 8; ++c)
        EXPECT_NEAR(g[c], w[c], tolerance * (1.0f + std::fabs(w[c]))) << "vertex " << index << " component " << c;
}

TEST(SkinInfo, SkinningMatchesTheReferenceAlignedOrNot) {
    constexpr DWORD kVertices = 200, kBones = 12;
    std::mt19937 random(7);
    std::uniform_real_distribution<float> coordinate(-3.0f, 3.0f);
    std::vector<Vertex> source(kVertices);
    for (Vertex& v : source)
        v = {coordinate(random), coordinate(random), coordinate(random), 0.0f, 0.6f, 0.8f,
             coordinate(random), coordinate(random)};
    std::vector<Matrix> bones(kBones), normals(kBones);
    for (DWORD b = 0; b < kBones; ++b) {
        MatrixRotationYawPitchRoll(&bones[b], 0.3f * b, 0.1f * b, -0.2f * b);
        bones[b]._41 = coordinate(random), bones[b]._42 = coordinate(random), bones[b]._43 = coordinate(random);
        if (b % 3 == 0) bones[b]._24 = 0.05f;  // a projective bone: w differs from 1
        MatrixScaling(&normals[b], 1.0f + b, 1.0f, 0.5f);
    }
    // Up to four influences per vertex on distinct bones, weights summing to about 1.
    std::vector<std::vector<std::pair<DWORD, float>>> perVertex(kVertices);
    std::vector<std::vector<DWORD>> boneVertices(kBones);
    std::vector<std::vector<float>> boneWeights(kBones);
    for (DWORD v = 0; v < kVertices; ++v) {
        const DWORD count = v % 5;
        for (DWORD k = 0; k < count; ++k) {
            const DWORD bone = (v * 7 + k * 5) % kBones;
            const float weight = 1.0f / count;
            perVertex[v].push_back({bone, weight});
            boneVertices[bone].push_back(v);
            boneWeights[bone].push_back(weight);
        }
    }
    ComPtr<SkinInfo> skin = MakeSkin(kVertices, kBones);
    for (DWORD b = 0; b < kBones; ++b)
        ASSERT_EQ(skin->SetBoneInfluence(b, static_cast<DWORD>(boneVertices[b].size()), boneVertices[b].data(),
                                         boneWeights[b].data()),
                  D3D_OK);

    MatrixArray boneArray(bones), normalArray(normals);
    std::vector<Vertex> aligned(kVertices), unaligned(kVertices), defaultNormals(kVertices);
    ASSERT_EQ(skin->UpdateSkinnedMesh(boneArray.Aligned(), normalArray.Aligned(), source.data(), aligned.data()),
              D3D_OK);
    ASSERT_EQ(skin->UpdateSkinnedMesh(boneArray.Unaligned(), normalArray.Unaligned(), source.data(), unaligned.data()),
              D3D_OK);
    ASSERT_EQ(skin->UpdateSkinnedMesh(boneArray.Aligned(), nullptr, source.data(), defaultNormals.data()), D3D_OK);
    for (DWORD v = 0; v < kVertices; ++v) {
        const Vertex want = ReferenceSkin(source[v], perVertex[v], bones, normals, 0.0f);
        ExpectVerticesNear(aligned[v], want, 1e-5f, v);
        ExpectVerticesNear(unaligned[v], want, 1e-5f, v);
        ExpectVerticesNear(defaultNormals[v], ReferenceSkin(source[v], perVertex[v], bones, bones, 0.0f), 1e-5f, v);
        // Texture coordinates are the source's bytes.
        EXPECT_EQ(std::memcmp(&aligned[v].u, &source[v].u, 8), 0);
    }
    // Identity bones with weights summing to 1 give the source back (within the weights' packing:
    // 2 × bone + weight keeps about 19 fraction bits for bones up to 11).
    MatrixArray identity(std::vector<Matrix>(kBones, Identity()));
    std::vector<Vertex> same(kVertices);
    ASSERT_EQ(skin->UpdateSkinnedMesh(identity.Aligned(), nullptr, source.data(), same.data()), D3D_OK);
    for (DWORD v = 0; v < kVertices; ++v)
        if (!perVertex[v].empty()) ExpectVerticesNear(same[v], source[v], 1e-5f, v);
    // A vertex without influences is at the origin with a zero normal.
    EXPECT_EQ(aligned[0].x, 0.0f);
    EXPECT_EQ(aligned[0].nz, 0.0f);
    // In place: source and destination the same memory.
    std::vector<Vertex> inPlace = source;
    ASSERT_EQ(skin->UpdateSkinnedMesh(boneArray.Aligned(), normalArray.Aligned(), inPlace.data(), inPlace.data()),
              D3D_OK);
    EXPECT_EQ(std::memcmp(inPlace.data(), aligned.data(), kVertices * sizeof(Vertex)), 0);
}

TEST(SkinInfo, InfluenceStreamPacksBoneAndWeight) {
    // Bone 3 with 0.25 and bone 5 with 0.75 on the one vertex: the stream 6.25, 10.75, -1.
    ComPtr<SkinInfo> skin = MakeSkin(1, 6);
    const DWORD vertex[] = {0};
    const float quarter[] = {0.25f}, threeQuarters[] = {0.75f};
    skin->SetBoneInfluence(3, 1, vertex, quarter);
    skin->SetBoneInfluence(5, 1, vertex, threeQuarters);
    std::vector<Matrix> bones(6, Identity());
    bones[3] = Translation(4, 0, 0);
    bones[5] = Translation(0, 8, 0);
    MatrixArray array(bones);
    const Vertex source = {1, 1, 1, 0, 0, 1, 0.5f, 0.5f};
    Vertex skinned{};
    ASSERT_EQ(skin->UpdateSkinnedMesh(array.Aligned(), nullptr, &source, &skinned), D3D_OK);
    // 0.25 × (5, 1, 1) + 0.75 × (1, 9, 1)
    EXPECT_FLOAT_EQ(skinned.x, 2.0f);
    EXPECT_FLOAT_EQ(skinned.y, 7.0f);
    EXPECT_FLOAT_EQ(skinned.z, 1.0f);
    // The kernel given the stream written out by hand agrees bit for bit.
    const float stream[] = {6.25f, 10.75f, -1.0f};
    const UINT normalOffset = 12;
    Vertex byHand = source;
    SkinVertices(&byHand, sizeof(Vertex), &source, sizeof(Vertex), 0, 1, stream, array.Aligned(), nullptr, 6,
                 &normalOffset, 1);
    EXPECT_EQ(std::memcmp(&byHand, &skinned, sizeof byHand), 0);
}

TEST(SkinInfo, ZeroAndMinimumWeightsAreLeftOut) {
    ComPtr<SkinInfo> skin = MakeSkin(1, 3);
    const DWORD vertex[] = {0};
    const float half[] = {0.5f}, zero[] = {0.0f}, tenth[] = {0.1f};
    skin->SetBoneInfluence(0, 1, vertex, half);
    skin->SetBoneInfluence(1, 1, vertex, zero);
    skin->SetBoneInfluence(2, 1, vertex, tenth);
    // Bone 1 is poisoned: any use of it (even with weight 0) would make the result NaN.
    std::vector<Matrix> bones = {Translation(2, 0, 0), Identity(), Translation(0, 0, 10)};
    bones[1]._11 = std::numeric_limits<float>::infinity();
    bones[1]._41 = std::numeric_limits<float>::quiet_NaN();
    MatrixArray array(bones);
    const Vertex source = {1, 2, 3, 0, 1, 0, 0, 0};
    Vertex out{};
    ASSERT_EQ(skin->UpdateSkinnedMesh(array.Aligned(), nullptr, &source, &out), D3D_OK);
    // The packed weight 4.1 - 4 keeps about 20 bits of 0.1.
    EXPECT_NEAR(out.x, 0.5f * 3 + 0.1f * 1, 1e-5f);
    EXPECT_NEAR(out.z, 0.5f * 3 + 0.1f * 13, 1e-5f);
    EXPECT_NEAR(out.ny, 0.6f, 1e-6f);
    // With the minimum at 0.1 the weight of exactly 0.1 goes too: the stream is rebuilt.
    skin->SetMinBoneInfluence(0.1f);
    ASSERT_EQ(skin->UpdateSkinnedMesh(array.Aligned(), nullptr, &source, &out), D3D_OK);
    EXPECT_FLOAT_EQ(out.x, 1.5f);
    EXPECT_FLOAT_EQ(out.z, 1.5f);
    // GetMaxVertexInfluences still counts all three.
    DWORD most = 0;
    skin->GetMaxVertexInfluences(&most);
    EXPECT_EQ(most, 3u);
}

TEST(SkinInfo, LayoutIsCheckedBeforeAnythingIsWritten) {
    const Vertex source = {1, 2, 3, 0, 0, 1, 0, 0};
    Vertex out;
    std::memset(&out, 0x5A, sizeof out);
    const Vertex untouched = out;
    MatrixArray array(std::vector<Matrix>(1, Identity()));
    const D3DVERTEXELEMENT9 halfNormal[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                            {0, 12, D3DDECLTYPE_FLOAT16_2, 0, D3DDECLUSAGE_NORMAL, 0},
                                            D3DDECL_END()};
    const D3DVERTEXELEMENT9 shiftedPosition[] = {{0, 0, D3DDECLTYPE_FLOAT1, 0, D3DDECLUSAGE_PSIZE, 0},
                                                 {0, 4, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                                 D3DDECL_END()};
    const D3DVERTEXELEMENT9 wideTangent[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                             {0, 12, D3DDECLTYPE_FLOAT4, 0, D3DDECLUSAGE_TANGENT, 2},
                                             D3DDECL_END()};
    ComPtr<SkinInfo> skin = MakeSkin(1, 1);
    const DWORD vertex[] = {0};
    const float one[] = {1.0f};
    skin->SetBoneInfluence(0, 1, vertex, one);
    for (const D3DVERTEXELEMENT9* bad : {halfNormal, shiftedPosition}) {
        ASSERT_EQ(skin->SetDeclaration(bad), D3D_OK);
        EXPECT_EQ(skin->GetFVF(), 0u);
        EXPECT_EQ(skin->UpdateSkinnedMesh(array.Aligned(), nullptr, &source, &out), D3DERR_INVALIDCALL);
        EXPECT_EQ(std::memcmp(&out, &untouched, sizeof out), 0);
    }
    // A four-float tangent turns its x, y, z and keeps its w.
    ASSERT_EQ(skin->SetDeclaration(wideTangent), D3D_OK);
    Matrix turn;
    MatrixRotationZ(&turn, 1.5707964f);
    MatrixArray turned(std::vector<Matrix>(1, turn));
    const float in[7] = {1, 0, 0, 1, 0, 0, 7.0f};
    float result[7];
    ASSERT_EQ(skin->UpdateSkinnedMesh(turned.Aligned(), nullptr, in, result), D3D_OK);
    EXPECT_NEAR(result[3], 0.0f, 1e-6f);
    EXPECT_NEAR(result[4], 1.0f, 1e-6f);
    EXPECT_EQ(result[6], 7.0f);
    D3DVERTEXELEMENT9 copy[kMaxDeclarationElements];
    ASSERT_EQ(skin->GetDeclaration(copy), D3D_OK);
    EXPECT_TRUE(DeclarationsEqual(copy, wideTangent));
    EXPECT_EQ(skin->SetDeclaration(nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(skin->UpdateSkinnedMesh(nullptr, nullptr, in, result), D3DERR_INVALIDCALL);
    EXPECT_EQ(skin->UpdateSkinnedMesh(turned.Aligned(), nullptr, nullptr, result), D3DERR_INVALIDCALL);
}

TEST(SkinInfo, CachesFollowChanges) {
    ComPtr<SkinInfo> skin = MakeSkin(2, 2, D3DFVF_XYZ);
    const DWORD both[] = {0, 1};
    const float full[] = {1.0f, 1.0f};
    skin->SetBoneInfluence(0, 2, both, full);
    Matrix stretch = Translation(0, 0, 5);
    stretch._22 = 3.0f;
    MatrixArray array(std::vector<Matrix>{Translation(1, 0, 0), stretch});
    const float source[6] = {0, 0, 0, 1, 1, 1};
    float out[6];
    ASSERT_EQ(skin->UpdateSkinnedMesh(array.Aligned(), nullptr, source, out), D3D_OK);
    EXPECT_EQ(out[3], 2.0f);
    // New influences: vertex 1 now half on each bone.
    const float half[] = {0.5f};
    const DWORD second[] = {1};
    skin->SetBoneInfluence(0, 1, second, half);
    skin->SetBoneInfluence(1, 1, second, half);
    ASSERT_EQ(skin->UpdateSkinnedMesh(array.Aligned(), nullptr, source, out), D3D_OK);
    EXPECT_EQ(out[0], 0.0f);  // vertex 0 lost its influence
    EXPECT_FLOAT_EQ(out[3], 1.5f);
    EXPECT_FLOAT_EQ(out[5], 3.5f);
    DWORD most = 0;
    skin->GetMaxVertexInfluences(&most);
    EXPECT_EQ(most, 2u);
    // A new layout with a normal: normals are now skinned (vertex 0 has none, so its normal is zero).
    ASSERT_EQ(skin->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL), D3D_OK);
    const float withNormal[12] = {0, 0, 0, 0, 1, 0, 1, 1, 1, 0, 2, 0};
    float outNormal[12];
    ASSERT_EQ(skin->UpdateSkinnedMesh(array.Aligned(), nullptr, withNormal, outNormal), D3D_OK);
    EXPECT_EQ(outNormal[4], 0.0f);
    EXPECT_FLOAT_EQ(outNormal[10], 0.5f * 2 + 0.5f * 6);
    EXPECT_FLOAT_EQ(outNormal[6], 1.5f);
}

TEST(SkinInfo, CloneAndRemapVertices) {
    ComPtr<SkinInfo> skin = MakeSkin(4, 2);
    const DWORD vertices[] = {0, 3};
    const float weights[] = {0.75f, 0.5f};
    skin->SetBoneInfluence(1, 2, vertices, weights);
    skin->SetBoneName(1, "Spine");
    const Matrix offset = Translation(0, 1, 0);
    skin->SetBoneOffsetMatrix(1, &offset);
    skin->SetMinBoneInfluence(0.01f);

    SkinInfo* made = nullptr;
    ASSERT_EQ(skin->CloneSkinInfo(&made), D3D_OK);
    ComPtr<SkinInfo> clone = ComPtr<SkinInfo>::Adopt(made);
    EXPECT_EQ(clone->GetVertexCount(), 4u);
    EXPECT_EQ(clone->GetBoneCount(), 2u);
    EXPECT_EQ(clone->GetFVF(), kFvf);
    EXPECT_EQ(clone->GetMinBoneInfluence(), 0.01f);
    EXPECT_STREQ(clone->GetBoneName(1), "Spine");
    EXPECT_NE(clone->GetBoneName(1), skin->GetBoneName(1));
    EXPECT_EQ(std::memcmp(clone->GetBoneOffsetMatrix(1), &offset, sizeof offset), 0);
    EXPECT_EQ(clone->GetBoneInfluenceCount(1), 2u);

    // New vertex i takes old vertex remap[i]: old 3 twice, old 0 once, old 1 (no influence) once.
    const DWORD remap[] = {3, 1, 0, 3, 99};
    ASSERT_EQ(clone->RemapVertices(5, remap), D3D_OK);
    EXPECT_EQ(clone->GetVertexCount(), 5u);
    ASSERT_EQ(clone->GetBoneInfluenceCount(1), 3u);
    DWORD got[3];
    float gotWeights[3];
    clone->GetBoneInfluence(1, got, gotWeights);
    EXPECT_EQ(std::vector<DWORD>(got, got + 3), (std::vector<DWORD>{2, 0, 3}));
    EXPECT_EQ(std::vector<float>(gotWeights, gotWeights + 3), (std::vector<float>{0.75f, 0.5f, 0.5f}));
    EXPECT_STREQ(clone->GetBoneName(1), "Spine");
    EXPECT_EQ(skin->GetBoneInfluenceCount(1), 2u);  // the original is untouched
    EXPECT_EQ(clone->RemapVertices(2, nullptr), D3DERR_INVALIDCALL);
}

}  // namespace
}  // namespace qm
