// model_records.h: the engine's model records: ModelEntry (one per model-table key), and the frame and
// mesh-container records it extends the hierarchy loader's records with, plus the frame walk.
#pragma once

#include <array>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "library/anim/animation_controller.h"
#include "library/math/math_types.h"
#include "library/mesh/mesh.h"
#include "library/xfile/hierarchy.h"
#include "library/xfile/material_buffers.h"
#include "library/xfile/skin_info.h"
#include "platform/d3d9/d3d9.h"

namespace qm {

struct ModelMeshContainer;

// A frame of a model: the loader's frame, the frame-to-world matrix of the last model update, and
// the frame's reference for scripts (registered while the frame exists).
struct ModelFrame : Frame {
    ModelFrame() : Frame{} { transform = combined; }
    Matrix combined = Matrix(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    std::uint32_t handle = 0;
    std::string nameText;  // holds the text that `name` points to
};

// A mesh container of a model. The loader's fields point into storage held here; the mesh in
// meshData, skinInfo, sourceMesh and the textures hold one reference each.
struct ModelMeshContainer : MeshContainer {
    ModelMeshContainer() : MeshContainer{} {}
    std::vector<ComPtr<IDirect3DTexture9>> textures;  // texture of material i, may be null
    ComPtr<Mesh> sourceMesh;                         // skinned only: the mesh as received
    std::vector<MaterialRecord> baseMaterials;       // materials as loaded: the source of tints
    std::vector<AttributeRange> attributeTable;      // skinned only: the working mesh's groups
    DWORD attributeGroupCount = 0;
    std::vector<const Matrix*> boneMatrixRefs;  // skinned only: combined matrix of bone i's frame
    std::vector<Matrix> boneOffsets;            // skinned only: offset matrix of bone i
    std::string nameText;                       // holds the text that `name` points to
    std::vector<MaterialRecord> materialStorage;  // what `materials` points to
    std::vector<DWORD> adjacencyStorage;          // what `adjacency` points to

    Mesh* DrawnMesh() const { return meshData.mesh; }
};

// Storage whose start is aligned to 16 bytes, for the bone matrices handed to skinning.
template <class T>
struct Aligned16Allocator {
    using value_type = T;
    Aligned16Allocator() = default;
    template <class U>
    Aligned16Allocator(const Aligned16Allocator<U>&) {}
    T* allocate(std::size_t n) {
        return static_cast<T*>(::operator new(n * sizeof(T), std::align_val_t{16}));
    }
    void deallocate(T* p, std::size_t) { ::operator delete(p, std::align_val_t{16}); }
    template <class U>
    bool operator==(const Aligned16Allocator<U>&) const { return true; }
};

// A loaded model: the record the model table owns under a key.
struct ModelEntry {
    DWORD maxBoneCount = 0;       // matrices boneScratch holds
    DWORD animationSetCount = 0;  // sets of the controller, read by GetAnimNum
    std::vector<Matrix, Aligned16Allocator<Matrix>> boneScratch;  // shared by every skinned container
    ModelFrame* rootFrame = nullptr;  // the hierarchy, destroyed through the frame allocator
    ComPtr<AnimationController> controller;
    Matrix world = Matrix(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);  // parent of the root frame
    std::array<IDirect3DBaseTexture9*, 8> shaderTextures{};  // not owned
    std::array<std::array<float, 4>, 8> shaderArgs{};
};

inline ModelFrame* SiblingOf(const ModelFrame& frame) { return static_cast<ModelFrame*>(frame.sibling); }
inline ModelFrame* FirstChildOf(const ModelFrame& frame) { return static_cast<ModelFrame*>(frame.firstChild); }
inline ModelMeshContainer* FirstContainerOf(const ModelFrame& frame) {
    return static_cast<ModelMeshContainer*>(frame.meshContainer);
}
inline ModelMeshContainer* NextContainerOf(const ModelMeshContainer& container) {
    return static_cast<ModelMeshContainer*>(container.nextContainer);
}

// Calls visit(frame) for every frame of the tree in the engine's walk order: a frame, then its
// sibling's subtree, then its first child's subtree. Uses an explicit stack, so long sibling chains
// and deep trees cost no call depth. visit returns false to stop the walk.
template <class Visit>
void WalkFrames(ModelFrame* root, Visit&& visit) {
    if (root == nullptr) return;
    std::vector<ModelFrame*> pending{root};
    while (!pending.empty()) {
        ModelFrame* frame = pending.back();
        pending.pop_back();
        if (!visit(*frame)) return;
        if (ModelFrame* child = FirstChildOf(*frame)) pending.push_back(child);
        if (ModelFrame* sibling = SiblingOf(*frame)) pending.push_back(sibling);
    }
}

// Calls visit(frame, container) for every container of every frame, frames in walk order and each
// frame's containers in list order.
template <class Visit>
void WalkContainers(ModelFrame* root, Visit&& visit) {
    WalkFrames(root, [&](ModelFrame& frame) {
        for (ModelMeshContainer* c = FirstContainerOf(frame); c != nullptr; c = NextContainerOf(*c)) visit(frame, *c);
        return true;
    });
}

}  // namespace qm
