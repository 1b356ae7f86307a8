// hierarchy_test.cpp: the hierarchy loader on small files: the root rule, frames, transforms and
// references, skipped meshes, the controller with its outputs and set order, user data, allocator
// failures and missing arguments; and the frame-tree walks.
#include "library/xfile/hierarchy.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library/xfile/plain_allocator.h"
#include "tests/xfile/xfile_test_support.h"

namespace qm {
namespace {

using xfiletest::TextFile;

// Records destruction order and can refuse the n-th record it is asked for.
class TestAllocator : public PlainHierarchyAllocator {
public:
    int failAt = -1;  // index of the creation call that fails (frames and containers counted together)
    std::vector<std::string> destroyed;

    HRESULT CreateFrame(const char* name, Frame** frame) override {
        if (creations_++ == failAt) {
            *frame = nullptr;
            return E_OUTOFMEMORY;
        }
        return PlainHierarchyAllocator::CreateFrame(name, frame);
    }
    HRESULT CreateMeshContainer(const char* name, const MeshData* meshData, const MaterialRecord* materials,
                                const EffectInstance* effects, DWORD materialCount, const DWORD* adjacency,
                                SkinInfo* skinInfo, MeshContainer** container) override {
        if (creations_++ == failAt) {
            *container = nullptr;
            return E_OUTOFMEMORY;
        }
        return PlainHierarchyAllocator::CreateMeshContainer(name, meshData, materials, effects, materialCount,
                                                            adjacency, skinInfo, container);
    }
    HRESULT DestroyFrame(Frame* frame) override {
        destroyed.push_back(frame->name != nullptr ? frame->name : "-");
        return PlainHierarchyAllocator::DestroyFrame(frame);
    }
    int Creations() const { return creations_; }

private:
    int creations_ = 0;
};

// Counts what the user-data hooks receive and can fail one kind.
class TestUserData : public UserDataLoader {
public:
    int topLevel = 0, frameChildren = 0, meshChildren = 0;
    HRESULT meshChildResult = S_OK;

    HRESULT LoadTopLevelData(IDirectXFileData*) override {
        ++topLevel;
        return S_OK;
    }
    HRESULT LoadFrameChildData(Frame*, IDirectXFileData*) override {
        ++frameChildren;
        return S_OK;
    }
    HRESULT LoadMeshChildData(MeshContainer*, IDirectXFileData*) override {
        ++meshChildren;
        return meshChildResult;
    }
};

const std::string kQuad = "4;\n0;0;0;,\n0;1;0;,\n1;1;0;,\n1;0;0;;\n1;\n4;0,1,2,3;;\n";

std::string Translation(float x) {
    return "FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, " + std::to_string(x) + ",0,0,1;; }\n";
}

class HierarchyTest : public meshtest::DeviceFixture {
protected:
    HRESULT Load(const std::string& body, TestAllocator& allocator, Frame** root,
                 AnimationController** controller = nullptr, UserDataLoader* userData = nullptr) {
        const std::string file = TextFile(body);
        return LoadHierarchyFromMemory(file.data(), DWORD(file.size()), 0x220, Device(), &allocator, userData, root,
                                       controller);
    }
};

bool IsIdentity(const Matrix& m) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (m.m[r][c] != (r == c ? 1.0f : 0.0f)) return false;
    return true;
}

TEST_F(HierarchyTest, BuildsRootsFramesAndContainers) {
    // A lone top-level mesh: an unnamed root with identity transform holding its container.
    {
        TestAllocator allocator;
        Frame* root = nullptr;
        ComPtr<AnimationController> controller;
        ASSERT_EQ(Load("Mesh Lone {\n" + kQuad + "}\n", allocator, &root, controller.ReleaseAndGetAddressOf()), S_OK);
        EXPECT_EQ(root->name, nullptr);
        EXPECT_TRUE(IsIdentity(root->transform));
        ASSERT_NE(root->meshContainer, nullptr);
        EXPECT_STREQ(root->meshContainer->name, "Lone");
        EXPECT_EQ(root->meshContainer->meshData.kind, DWORD(kMeshDataMesh));
        EXPECT_EQ(root->meshContainer->meshData.mesh->GetFaceCount(), 2u);
        EXPECT_EQ(root->meshContainer->skinInfo, nullptr);  // no bones: dropped
        EXPECT_EQ(root->meshContainer->nextContainer, nullptr);
        EXPECT_EQ(root->sibling, nullptr);
        EXPECT_EQ(root->firstChild, nullptr);
        EXPECT_FALSE(controller);
        EXPECT_EQ(DestroyFrameTree(root, &allocator), S_OK);
        EXPECT_EQ(allocator.LiveFrames(), 0u);
        EXPECT_EQ(allocator.LiveContainers(), 0u);
    }
    // Two top-level frames: an unnamed root whose children are A then B. A's transform comes from
    // the file; a reference to a mesh and an empty mesh give A no container; B keeps identity and
    // holds its two meshes in file order.
    {
        TestAllocator allocator;
        Frame* root = nullptr;
        ASSERT_EQ(Load("Frame A {\n" + Translation(3) + "{ Shared }\nMesh Empty { 0;; 0;; }\n}\n"
                       "Frame B {\nMesh Shared {\n" + kQuad + "}\nMesh Second {\n" + kQuad + "}\n"
                       "Frame { }\n}\n",
                       allocator, &root),
                  S_OK);
        EXPECT_EQ(root->name, nullptr);
        EXPECT_EQ(root->sibling, nullptr);
        Frame* a = root->firstChild;
        ASSERT_NE(a, nullptr);
        EXPECT_STREQ(a->name, "A");
        EXPECT_EQ(a->transform._41, 3.0f);
        EXPECT_EQ(a->meshContainer, nullptr);
        Frame* b = a->sibling;
        ASSERT_NE(b, nullptr);
        EXPECT_STREQ(b->name, "B");
        EXPECT_TRUE(IsIdentity(b->transform));
        ASSERT_NE(b->meshContainer, nullptr);
        EXPECT_STREQ(b->meshContainer->name, "Shared");
        ASSERT_NE(b->meshContainer->nextContainer, nullptr);
        EXPECT_STREQ(b->meshContainer->nextContainer->name, "Second");
        ASSERT_NE(b->firstChild, nullptr);
        EXPECT_EQ(b->firstChild->name, nullptr);
        EXPECT_EQ(FindFrameByName(root, "B"), b);
        EXPECT_EQ(FindFrameByName(root, "Missing"), nullptr);
        EXPECT_EQ(DestroyFrameTree(root, &allocator), S_OK);
        EXPECT_EQ(allocator.LiveFrames(), 0u);
        EXPECT_EQ(allocator.LiveContainers(), 0u);
    }
}

TEST_F(HierarchyTest, ControllerPlaysTheLastSetOnTrackZero) {
    const std::string sets =
        "AnimationSet walk { Animation { { Hip } AnimationKey { 2; 2; 0;3;0,0,0;;, 4800;3;4,0,0;;; } } }\n"
        "AnimationSet run { Animation { { Hip } AnimationKey { 2; 2; 0;3;0,0,0;;, 4800;3;2,0,0;;; } } }\n";
    TestAllocator allocator;
    Frame* root = nullptr;
    ComPtr<AnimationController> controller;
    ASSERT_EQ(Load("Frame Body {\nFrame Hip { }\nFrame { }\n}\n" + sets, allocator, &root,
                   controller.ReleaseAndGetAddressOf()),
              S_OK);
    ASSERT_TRUE(controller);
    EXPECT_EQ(controller->GetMaxOutputCount(), 2u);  // the named frames Body and Hip
    EXPECT_EQ(controller->GetMaxAnimationSetCount(), 2u);
    EXPECT_EQ(controller->GetMaxTrackCount(), 2u);
    EXPECT_EQ(controller->GetMaxEventCount(), 30u);
    ComPtr<AnimationSet> first, playing;
    ASSERT_EQ(controller->GetAnimationSet(0, first.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_STREQ(first->GetName(), "run");
    ASSERT_EQ(controller->GetTrackAnimationSet(0, playing.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(playing.Get(), first.Get());
    TrackDescriptor track{};
    ASSERT_EQ(controller->GetTrackDescriptor(0, &track), S_OK);
    EXPECT_EQ(track.weight, 1.0f);
    EXPECT_EQ(track.speed, 1.0f);
    EXPECT_NE(track.enable, FALSE);
    EXPECT_EQ(track.position, 0.0);
    // The outputs are the frames' own transforms: a quarter second into "run" (x from 0 to 2 over
    // one second) moves Hip to x = 0.5.
    ASSERT_EQ(controller->SetTime(0.25), S_OK);
    EXPECT_FLOAT_EQ(FindFrameByName(root, "Hip")->transform._41, 0.5f);
    controller.Reset();
    EXPECT_EQ(DestroyFrameTree(root, &allocator), S_OK);

    // Frames without names are no outputs: a set that animates a frame outside the hierarchy (one
    // inside a mesh) gives no controller.
    TestAllocator second;
    Frame* unnamed = nullptr;
    ComPtr<AnimationController> none;
    ASSERT_EQ(Load("Frame {\nMesh {\n" + kQuad + "Frame Hip { }\n}\n}\n" + sets, second, &unnamed,
                   none.ReleaseAndGetAddressOf()),
              S_OK);
    EXPECT_FALSE(none);
    EXPECT_EQ(DestroyFrameTree(unnamed, &second), S_OK);
}

TEST_F(HierarchyTest, FailuresReleaseEverythingBuilt) {
    const std::string body = "Material Loose { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; }\n"
                             "Frame A {\nMesh M {\n" + kQuad + "Frame Inner { }\n}\nAnimationOptions { 0; 0; }\n"
                             "Frame A1 { Mesh {\n" + kQuad + "} }\n}\nFrame B { }\n"
                             "AnimationSet s { Animation { { A1 } AnimationKey { 1; 1; 0;3;1,1,1;;; } } }\n";
    // Every creation call refused in turn (a failure without a record, which the load reports as
    // E_FAIL) leaves nothing alive.
    int calls = 0;
    {
        TestAllocator allocator;
        Frame* root = nullptr;
        ComPtr<AnimationController> controller;
        ASSERT_EQ(Load(body, allocator, &root, controller.ReleaseAndGetAddressOf()), S_OK);
        calls = allocator.Creations();
        EXPECT_TRUE(controller);
        EXPECT_EQ(DestroyFrameTree(root, &allocator), S_OK);
    }
    EXPECT_EQ(calls, 6);  // A, its container, A1, its container, B, the root
    for (int failAt = 0; failAt < calls; ++failAt) {
        TestAllocator allocator;
        allocator.failAt = failAt;
        Frame* root = reinterpret_cast<Frame*>(1);
        ComPtr<AnimationController> controller;
        EXPECT_EQ(Load(body, allocator, &root, controller.ReleaseAndGetAddressOf()), E_FAIL) << failAt;
        EXPECT_EQ(root, nullptr);
        EXPECT_FALSE(controller);
        EXPECT_EQ(allocator.LiveFrames(), 0u) << failAt;
        EXPECT_EQ(allocator.LiveContainers(), 0u) << failAt;
    }

    // User data: the top-level material, the frame's AnimationOptions and the mesh's inner frame
    // reach the hooks; a failing hook fails the load with its code.
    TestUserData userData;
    TestAllocator allocator;
    Frame* root = nullptr;
    ASSERT_EQ(Load(body, allocator, &root, nullptr, &userData), S_OK);
    EXPECT_EQ(userData.topLevel, 1);
    EXPECT_EQ(userData.frameChildren, 1);
    EXPECT_EQ(userData.meshChildren, 1);
    EXPECT_EQ(DestroyFrameTree(root, &allocator), S_OK);
    userData.meshChildResult = E_INVALIDARG;
    EXPECT_EQ(Load(body, allocator, &root, nullptr, &userData), E_INVALIDARG);
    EXPECT_EQ(allocator.LiveFrames(), 0u);
    EXPECT_EQ(allocator.LiveContainers(), 0u);

    // Files without a frame or mesh, patch meshes, progressive meshes and bad arguments.
    EXPECT_EQ(Load("Material Loose { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; }\n", allocator, &root), E_FAIL);
    EXPECT_EQ(Load("Frame P { PatchMesh { 4; 0;0;0;, 1;0;0;, 1;1;0;, 0;1;0;; 1; 4;0,1,2,3;;; } }\n", allocator, &root),
              E_NOTIMPL);
    EXPECT_EQ(Load("Frame P { Mesh {\n" + kQuad + "PMInfo { 0; ; 4; 4; 4; 0; ; 0; ; } } }\n", allocator, &root),
              E_NOTIMPL);
    EXPECT_EQ(allocator.LiveFrames(), 0u);
    const std::string file = TextFile("Frame A { }\n");
    EXPECT_EQ(LoadHierarchyFromMemory(file.data(), 0, 0, Device(), &allocator, nullptr, &root, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(LoadHierarchyFromMemory(file.data(), DWORD(file.size()), 0, nullptr, &allocator, nullptr, &root, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(LoadHierarchyFromMemory(file.data(), DWORD(file.size()), 0, Device(), nullptr, nullptr, &root, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(LoadHierarchyFromFile(nullptr, 0, Device(), &allocator, nullptr, &root, nullptr), D3DERR_INVALIDCALL);
    EXPECT_TRUE(FAILED(LoadHierarchyFromFile("/nonexistent/model.x", 0, Device(), &allocator, nullptr, &root, nullptr)));
}

TEST(FrameTreeTest, WalksFrameThenSiblingsThenChildren) {
    // R (sibling S) has children A and B; A has child "dup", B is named "dup" as well.
    TestAllocator allocator;
    auto make = [&](const char* name) {
        Frame* f = nullptr;
        EXPECT_EQ(allocator.CreateFrame(name, &f), S_OK);
        *f = Frame{f->name, Matrix{}, nullptr, nullptr, nullptr};
        return f;
    };
    Frame* r = make("R");
    Frame* s = make("S");
    Frame* a = make("A");
    Frame* a1 = make("dup");
    Frame* b = make("dup");
    r->sibling = s;
    EXPECT_EQ(AppendChild(r, a), S_OK);
    EXPECT_EQ(AppendChild(r, b), S_OK);
    EXPECT_EQ(AppendChild(a, a1), S_OK);
    EXPECT_EQ(AppendChild(nullptr, a), D3DERR_INVALIDCALL);
    EXPECT_EQ(r->firstChild, a);
    EXPECT_EQ(a->sibling, b);
    // The siblings of A are visited before A's children.
    EXPECT_EQ(FindFrameByName(r, "dup"), b);
    EXPECT_EQ(FindFrameByName(r, "S"), s);
    EXPECT_EQ(FindFrameByName(r, a->name), a);  // the same text pointer
    // Destruction takes the sibling subtree, then the child subtree, then the frame.
    EXPECT_EQ(DestroyFrameTree(nullptr, &allocator), D3DERR_INVALIDCALL);
    EXPECT_EQ(DestroyFrameTree(r, &allocator), S_OK);
    EXPECT_EQ(allocator.destroyed, (std::vector<std::string>{"S", "dup", "dup", "A", "R"}));
    EXPECT_EQ(allocator.LiveFrames(), 0u);
}

}  // namespace
}  // namespace qm
