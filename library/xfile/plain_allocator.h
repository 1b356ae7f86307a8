// plain_allocator.h: a HierarchyAllocator that makes plain frame and mesh-container records, for
// callers that need no fields of their own (tools, tests, benchmarks), and counts what is alive.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "library/xfile/hierarchy.h"
#include "platform/win/large_blocks.h"

namespace qm {

// Frames keep a copy of their name. Containers keep copies of their name, materials (with their
// texture names), adjacency and a reference to the mesh and skin information; effect instances are
// not kept. Destroying a record this allocator did not make is D3DERR_INVALIDCALL.
class PlainHierarchyAllocator : public HierarchyAllocator {
public:
    PlainHierarchyAllocator() = default;
    PlainHierarchyAllocator(const PlainHierarchyAllocator&) = delete;
    PlainHierarchyAllocator& operator=(const PlainHierarchyAllocator&) = delete;
    virtual ~PlainHierarchyAllocator();

    HRESULT CreateFrame(const char* name, Frame** frame) override;
    HRESULT CreateMeshContainer(const char* name, const MeshData* meshData, const MaterialRecord* materials,
                                const EffectInstance* effectInstances, DWORD materialCount, const DWORD* adjacency,
                                SkinInfo* skinInfo, MeshContainer** container) override;
    HRESULT DestroyFrame(Frame* frame) override;
    HRESULT DestroyMeshContainer(MeshContainer* container) override;

    std::size_t LiveFrames() const { return frames_.size(); }
    std::size_t LiveContainers() const { return containers_.size(); }

private:
    struct FrameRecord {
        Frame frame;
        std::string name;
    };
    struct ContainerRecord {
        MeshContainer container;
        std::string name;
        std::vector<MaterialRecord> materials;
        std::vector<std::string> textureNames;
        std::vector<DWORD, LargeBlockAllocator<DWORD>> adjacency;  // big meshes' tables in huge pages
    };
    static void ReleaseObjects(ContainerRecord& record);

    std::unordered_map<Frame*, std::unique_ptr<FrameRecord>> frames_;
    std::unordered_map<MeshContainer*, std::unique_ptr<ContainerRecord>> containers_;
};

}  // namespace qm
