// plain_allocator.cpp: plain frame and mesh-container records with copies of what they keep.
#include "library/xfile/plain_allocator.h"

#include <new>

namespace qm {

PlainHierarchyAllocator::~PlainHierarchyAllocator() {
    for (auto& [container, record] : containers_) ReleaseObjects(*record);
}

void PlainHierarchyAllocator::ReleaseObjects(ContainerRecord& record) {
    if (record.container.meshData.mesh != nullptr) record.container.meshData.mesh->Release();
    if (record.container.skinInfo != nullptr) record.container.skinInfo->Release();
    record.container.meshData.mesh = nullptr;
    record.container.skinInfo = nullptr;
}

HRESULT PlainHierarchyAllocator::CreateFrame(const char* name, Frame** frame) {
    if (frame == nullptr) return D3DERR_INVALIDCALL;
    *frame = nullptr;
    try {
        auto record = std::make_unique<FrameRecord>();
        record->frame = Frame{};
        if (name != nullptr) {
            record->name = name;
            record->frame.name = record->name.data();
        }
        Frame* made = &record->frame;
        frames_.emplace(made, std::move(record));
        *frame = made;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT PlainHierarchyAllocator::CreateMeshContainer(const char* name, const MeshData* meshData,
                                                     const MaterialRecord* materials, const EffectInstance*,
                                                     DWORD materialCount, const DWORD* adjacency, SkinInfo* skinInfo,
                                                     MeshContainer** container) {
    if (container == nullptr || meshData == nullptr || meshData->mesh == nullptr) return D3DERR_INVALIDCALL;
    *container = nullptr;
    try {
        auto record = std::make_unique<ContainerRecord>();
        record->container = MeshContainer{};
        if (name != nullptr) {
            record->name = name;
            record->container.name = record->name.data();
        }
        if (materials != nullptr) {
            record->materials.assign(materials, materials + materialCount);
            record->textureNames.resize(materialCount);
            for (DWORD i = 0; i < materialCount; ++i) {
                if (materials[i].textureFilename == nullptr) continue;
                record->textureNames[i] = materials[i].textureFilename;
                record->materials[i].textureFilename = record->textureNames[i].data();
            }
            record->container.materials = record->materials.data();
        }
        record->container.materialCount = materialCount;
        if (adjacency != nullptr) {
            record->adjacency.assign(adjacency, adjacency + 3 * std::size_t(meshData->mesh->GetFaceCount()));
            record->container.adjacency = record->adjacency.data();
        }
        record->container.meshData = *meshData;
        record->container.skinInfo = skinInfo;
        MeshContainer* made = &record->container;
        containers_.emplace(made, std::move(record));
        // References are taken once the record is kept, so a failure above leaves nothing held.
        meshData->mesh->AddRef();
        if (skinInfo != nullptr) skinInfo->AddRef();
        *container = made;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT PlainHierarchyAllocator::DestroyFrame(Frame* frame) {
    if (frame == nullptr) return S_OK;
    return frames_.erase(frame) == 1 ? S_OK : D3DERR_INVALIDCALL;
}

HRESULT PlainHierarchyAllocator::DestroyMeshContainer(MeshContainer* container) {
    if (container == nullptr) return S_OK;
    auto found = containers_.find(container);
    if (found == containers_.end()) return D3DERR_INVALIDCALL;
    ReleaseObjects(*found->second);
    containers_.erase(found);
    return S_OK;
}

}  // namespace qm
