// model_drawing.cpp: frame matrices, software skinning, fixed-function drawing and material tints.
#include "engine/models/model_drawing.h"

#include "engine/engine_state.h"
#include "engine/fixed.h"
#include "library/math/math.h"

namespace qm {
namespace {

const Matrix kIdentity(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);

// Skinned containers are drawn in world space, group by group of the working mesh's table; a group
// whose id has no material is skipped.
void DrawSkinnedContainer(ModelEntry& model, ModelMeshContainer& container, IDirect3DDevice9* device) {
    SkinVertices(model, container);
    Mesh* mesh = container.DrawnMesh();
    for (const AttributeRange& group : container.attributeTable) {
        DWORD id = group.attribId;
        if (id >= container.materialCount) continue;
        device->SetMaterial(&container.materials[id].material);
        device->SetTexture(0, container.textures[id].Get());
        if (mesh != nullptr) mesh->DrawAttributeGroup(id);
    }
}

// Static containers are drawn in their frame's space, one group per material.
void DrawStaticContainer(ModelFrame& frame, ModelMeshContainer& container, IDirect3DDevice9* device) {
    device->SetTransform(D3DTS_WORLD, &frame.combined);
    Mesh* mesh = container.DrawnMesh();
    for (DWORD i = 0; i < container.materialCount; ++i) {
        device->SetMaterial(&container.materials[i].material);
        device->SetTexture(0, container.textures[i].Get());
        if (mesh != nullptr) mesh->DrawAttributeGroup(i);
    }
}

D3DCOLORVALUE Scaled(const D3DCOLORVALUE& base, const float colour[4]) {
    return {base.r * colour[0], base.g * colour[1], base.b * colour[2], base.a * colour[3]};
}

}  // namespace

void UpdateFrameMatrices(ModelFrame* frame, const Matrix* parent) {
    struct Pending {
        ModelFrame* frame;
        const Matrix* parent;
    };
    if (frame == nullptr) return;
    std::vector<Pending> pending{{frame, parent}};
    while (!pending.empty()) {
        auto [f, p] = pending.back();
        pending.pop_back();
        if (p != nullptr) {
            MatrixMultiply(&f->combined, &f->transform, p);
        } else {
            f->combined = static_cast<const Matrix&>(f->transform);
        }
        if (ModelFrame* child = FirstChildOf(*f)) pending.push_back({child, &f->combined});
        if (ModelFrame* sibling = SiblingOf(*f)) pending.push_back({sibling, p});
    }
}

void SkinVertices(ModelEntry& model, ModelMeshContainer& container) {
    SkinInfo* skin = container.skinInfo;
    if (skin == nullptr || !container.sourceMesh || container.DrawnMesh() == nullptr) return;
    DWORD bones = skin->GetBoneCount();
    if (container.boneMatrixRefs.size() != bones || container.boneOffsets.size() != bones ||
        model.boneScratch.size() < bones) {
        return;
    }
    for (DWORD i = 0; i < bones; ++i) {
        MatrixMultiply(&model.boneScratch[i], &container.boneOffsets[i], container.boneMatrixRefs[i]);
    }
    if (IDirect3DDevice9* device = Engine().device.Get()) device->SetTransform(D3DTS_WORLD, &kIdentity);

    Mesh* working = container.DrawnMesh();
    void* source = nullptr;
    void* destination = nullptr;
    if (FAILED(container.sourceMesh->LockVertexBuffer(D3DLOCK_READONLY, &source))) return;
    if (FAILED(working->LockVertexBuffer(0, &destination))) {
        container.sourceMesh->UnlockVertexBuffer();
        return;
    }
    skin->UpdateSkinnedMesh(model.boneScratch.data(), nullptr, source, destination);
    working->UnlockVertexBuffer();
    container.sourceMesh->UnlockVertexBuffer();
}

void DrawModelFrames(ModelEntry& model, IDirect3DDevice9* device) {
    WalkContainers(model.rootFrame, [&](ModelFrame& frame, ModelMeshContainer& container) {
        if (container.skinInfo != nullptr) {
            DrawSkinnedContainer(model, container, device);
        } else {
            DrawStaticContainer(frame, container, device);
        }
    });
}

void TintMaterials(ModelMeshContainer& container, const float colour[4]) {
    for (DWORD i = 0; i < container.materialCount; ++i) {
        const D3DMATERIAL9& base = container.baseMaterials[i].material;
        D3DMATERIAL9& working = container.materials[i].material;
        working.Diffuse = Scaled(base.Diffuse, colour);
        working.Specular = Scaled(base.Specular, colour);
        working.Ambient = Scaled(base.Ambient, colour);
        working.Emissive = Scaled(base.Emissive, colour);
    }
}

ModelEntry* FindModel(std::int32_t modelKey) {
    auto* entry = Engine().modelTable.Find(modelKey);
    return entry == nullptr ? nullptr : entry->get();
}

std::int32_t DrawModelEntry(std::int32_t modelKey) {
    ModelEntry* model = FindModel(modelKey);
    if (model == nullptr) return -1;
    // Drawing needs a device; before Init there is nothing to draw on.
    IDirect3DDevice9* device = Engine().device.Get();
    if (device == nullptr) return -1;
    DrawModelFrames(*model, device);
    return 0;
}

std::int32_t SetModelColor(const std::int32_t* colour, std::int32_t modelKey) {
    ModelEntry* model = FindModel(modelKey);
    if (model == nullptr || colour == nullptr) return -1;
    float c[4] = {FixedToFloat(colour[0]), FixedToFloat(colour[1]), FixedToFloat(colour[2]), FixedToFloat(colour[3])};
    WalkContainers(model->rootFrame, [&](ModelFrame&, ModelMeshContainer& container) { TintMaterials(container, c); });
    return 0;
}

}  // namespace qm
