// sample_models_test.cpp: the generated sample models: every encoding of a model loads into the
// same hierarchy, meshes, materials, skin and animation; what the generator wrote comes back; and
// every truncated prefix of a file is either refused or loaded, with nothing left alive.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "library/xfile/hierarchy.h"
#include "library/xfile/plain_allocator.h"
#include "tests/xfile/xfile_test_support.h"

namespace qm {
namespace {

using meshtest::ReadAttributes;
using meshtest::ReadIndices;
using meshtest::ReadTable;

std::string AssetPath(const std::string& name) { return std::string(QM_XFILE_ASSETS) + "/" + name; }

std::string ReadAsset(const std::string& name) {
    std::ifstream in(AssetPath(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

template <class T>
void Append(std::string& out, const T* data, std::size_t count) {
    out.append(reinterpret_cast<const char*>(data), sizeof(T) * count);
}

void AppendText(std::string& out, const char* text) {
    out += text != nullptr ? text : "<none>";
    out += '|';
}

// Everything a load produced, as bytes: frames in walk order with their transforms and containers
// (vertices, indices, attributes, attribute table, adjacency, materials, bones), then the sets.
std::string Describe(Frame* frame, AnimationController* controller) {
    std::string out;
    auto visit = [&](auto& self, Frame* f) -> void {
        for (; f != nullptr; f = f->sibling) {
            AppendText(out, f->name);
            Append(out, &f->transform, 1);
            for (MeshContainer* c = f->meshContainer; c != nullptr; c = c->nextContainer) {
                Mesh* mesh = c->meshData.mesh;
                AppendText(out, c->name);
                const DWORD fvf = mesh->GetFVF();
                Append(out, &fvf, 1);
                const std::vector<BYTE> vertices = xfiletest::VertexBytes(mesh);
                Append(out, vertices.data(), vertices.size());
                const std::vector<DWORD> indices = ReadIndices(mesh), attributes = ReadAttributes(mesh);
                Append(out, indices.data(), indices.size());
                Append(out, attributes.data(), attributes.size());
                const std::vector<AttributeRange> table = ReadTable(mesh);
                Append(out, table.data(), table.size());
                Append(out, c->adjacency, 3 * std::size_t(mesh->GetFaceCount()));
                for (DWORD m = 0; m < c->materialCount; ++m) {
                    Append(out, &c->materials[m].material, 1);
                    AppendText(out, c->materials[m].textureFilename);
                }
                if (SkinInfo* skin = c->skinInfo) {
                    for (DWORD b = 0; b < skin->GetBoneCount(); ++b) {
                        AppendText(out, skin->GetBoneName(b));
                        Append(out, skin->GetBoneOffsetMatrix(b), 1);
                        const DWORD n = skin->GetBoneInfluenceCount(b);
                        std::vector<DWORD> v(n);
                        std::vector<float> w(n);
                        skin->GetBoneInfluence(b, v.data(), w.data());
                        Append(out, v.data(), n);
                        Append(out, w.data(), n);
                    }
                }
            }
            self(self, f->firstChild);
        }
    };
    visit(visit, frame);
    if (controller != nullptr) {
        for (UINT i = 0; i < controller->GetAnimationSetCount(); ++i) {
            ComPtr<AnimationSet> set;
            controller->GetAnimationSet(i, set.ReleaseAndGetAddressOf());
            AppendText(out, set->GetName());
            const double period = set->GetPeriod();
            Append(out, &period, 1);
        }
    }
    return out;
}

class SampleModelTest : public meshtest::DeviceFixture {
protected:
    struct Loaded {
        PlainHierarchyAllocator allocator;
        Frame* root = nullptr;
        ComPtr<AnimationController> controller;
        ~Loaded() {
            controller.Reset();
            if (root != nullptr) DestroyFrameTree(root, &allocator);
        }
    };

    void LoadFile(const std::string& name, Loaded& loaded) {
        ASSERT_EQ(LoadHierarchyFromFile(AssetPath(name).c_str(), 0, Device(), &loaded.allocator, nullptr, &loaded.root,
                                        loaded.controller.ReleaseAndGetAddressOf()),
                  S_OK)
            << name;
    }
};

TEST_F(SampleModelTest, EveryEncodingLoadsTheSameModel) {
    for (const char* model : {"static_model", "hierarchy", "character"}) {
        std::string first;
        for (const char* encoding : {"txt", "bin", "bzip"}) {
            Loaded loaded;
            LoadFile(std::string(model) + "_" + encoding + ".x", loaded);
            const std::string description = Describe(loaded.root, loaded.controller.Get());
            EXPECT_GT(description.size(), 100u);
            if (first.empty()) first = description;
            else EXPECT_TRUE(description == first) << model << " " << encoding;
        }
    }
}

TEST_F(SampleModelTest, ModelsHoldWhatTheGeneratorWrote) {
    // The box: 24 vertices, one normal per side and duplicates tying the corners; three materials
    // on two sides each, sorted into three groups of four triangles.
    {
        Loaded loaded;
        LoadFile("static_model_txt.x", loaded);
        ASSERT_NE(loaded.root->meshContainer, nullptr);
        MeshContainer* box = loaded.root->meshContainer;
        EXPECT_STREQ(loaded.root->name, "Box");
        EXPECT_EQ(box->meshData.mesh->GetVertexCount(), 24u);
        EXPECT_EQ(box->meshData.mesh->GetFVF(), D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1);
        ASSERT_EQ(box->materialCount, 3u);
        EXPECT_STREQ(box->materials[0].textureFilename, "textures/brick.bmp");
        EXPECT_EQ(box->materials[2].textureFilename, nullptr);
        EXPECT_EQ(box->materials[1].material.Power, 40.0f);
        const std::vector<AttributeRange> table = ReadTable(box->meshData.mesh);
        ASSERT_EQ(table.size(), 3u);
        for (DWORD i = 0; i < 3; ++i) {
            EXPECT_EQ(table[i].attribId, i);
            EXPECT_EQ(table[i].faceCount, 4u);
        }
        // Adjacency from the duplicates: every triangle of a closed box has three neighbours.
        for (DWORD i = 0; i < 3 * box->meshData.mesh->GetFaceCount(); ++i) EXPECT_NE(box->adjacency[i], kNoNeighbour);
        EXPECT_FALSE(loaded.controller);
    }
    // The character: 9 rings of 8 vertices with one normal per vertex (no splitting), three bones
    // whose weights add up to 1 on every vertex, sets Idle, Walk, Run with Run played on track 0.
    {
        Loaded loaded;
        LoadFile("character_bzip.x", loaded);
        Frame* body = FindFrameByName(loaded.root, "Body");
        ASSERT_NE(body, nullptr);
        ASSERT_NE(body->meshContainer, nullptr);
        Mesh* mesh = body->meshContainer->meshData.mesh;
        EXPECT_EQ(mesh->GetVertexCount(), 72u);
        EXPECT_EQ(mesh->GetFaceCount(), 128u);
        SkinInfo* skin = body->meshContainer->skinInfo;
        ASSERT_NE(skin, nullptr);
        ASSERT_EQ(skin->GetBoneCount(), 3u);
        std::vector<float> total(72, 0.0f);
        for (DWORD b = 0; b < 3; ++b) {
            EXPECT_EQ(std::string(skin->GetBoneName(b)), "Bone" + std::to_string(b));
            EXPECT_NE(FindFrameByName(loaded.root, skin->GetBoneName(b)), nullptr);
            const DWORD n = skin->GetBoneInfluenceCount(b);
            std::vector<DWORD> v(n);
            std::vector<float> w(n);
            ASSERT_EQ(skin->GetBoneInfluence(b, v.data(), w.data()), D3D_OK);
            for (DWORD i = 0; i < n; ++i) total[v[i]] += w[i];
        }
        for (float t : total) EXPECT_NEAR(t, 1.0f, 1e-6f);
        ASSERT_TRUE(loaded.controller);
        EXPECT_EQ(loaded.controller->GetAnimationSetCount(), 3u);
        ComPtr<AnimationSet> set;
        ASSERT_EQ(loaded.controller->GetTrackAnimationSet(0, set.ReleaseAndGetAddressOf()), S_OK);
        EXPECT_STREQ(set->GetName(), "Run");
        EXPECT_DOUBLE_EQ(set->GetPeriod(), 20.0 / 30.0);  // 20 ticks at 30 ticks per second
        ASSERT_EQ(loaded.controller->GetAnimationSet(2, set.ReleaseAndGetAddressOf()), S_OK);
        EXPECT_STREQ(set->GetName(), "Idle");
    }
}

TEST_F(SampleModelTest, TruncatedFilesLeaveNothingBehind) {
    for (const char* name : {"hierarchy_bzip.x", "static_model_bin.x"}) {
        const std::string file = ReadAsset(name);
        ASSERT_GT(file.size(), 1000u) << name;
        std::size_t loadedPrefixes = 0;
        for (std::size_t length = 1; length < file.size(); ++length) {
            PlainHierarchyAllocator allocator;
            Frame* root = nullptr;
            ComPtr<AnimationController> controller;
            const HRESULT hr = LoadHierarchyFromMemory(file.data(), DWORD(length), 0, Device(), &allocator, nullptr,
                                                       &root, controller.ReleaseAndGetAddressOf());
            if (SUCCEEDED(hr)) {
                // A prefix can end right after a complete object and still be a file.
                ++loadedPrefixes;
                ASSERT_NE(root, nullptr);
                controller.Reset();
                EXPECT_EQ(DestroyFrameTree(root, &allocator), S_OK);
            } else {
                EXPECT_EQ(root, nullptr);
                EXPECT_FALSE(controller);
            }
            ASSERT_EQ(allocator.LiveFrames(), 0u) << name << " " << length;
            ASSERT_EQ(allocator.LiveContainers(), 0u) << name << " " << length;
        }
        // Compressed data cut anywhere is damaged; a binary file may end after its last object.
        EXPECT_LT(loadedPrefixes, 8u) << name;
    }
}

}  // namespace
}  // namespace qm
