// model_loading.h: the model table's loading side: ModelAllocator (the engine's frame and container
// records for the hierarchy loader), skinned-mesh preparation, bone links, the controller set-up with
// one track per animation set, and the LoadModel and FreeModel exports.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/engine_state.h"
#include "engine/models/model_records.h"

namespace qm {

// Mesh option word of the meshes the engine draws: both buffers managed.
inline constexpr DWORD kModelMeshOptions = kMeshVertexManaged | kMeshIndexManaged;  // 0x220

// Makes and destroys the engine's records for one load or unload of one model.
class ModelAllocator final : public HierarchyAllocator {
public:
    explicit ModelAllocator(ModelEntry& model) : model_(model) {}

    // A frame with identity matrices and no links, named with a copy of name (none for null), and
    // registered under a new frame reference. S_OK or E_OUTOFMEMORY.
    HRESULT CreateFrame(const char* name, Frame** newFrame) override;
    // A container for a plain mesh with a vertex-format code (others: E_FAIL): normals added by a
    // clone when the mesh has none, at least one material (grey when the mesh has none), material
    // textures loaded (failures leave the texture empty), adjacency copied, and skinned meshes
    // prepared for software skinning. Effect instances are not kept. Failures destroy the container
    // and return E_FAIL, E_OUTOFMEMORY or the failing library call's code.
    HRESULT CreateMeshContainer(const char* name, const MeshData* meshData, const MaterialRecord* materials,
                                const EffectInstance* effectInstances, DWORD materialCount, const DWORD* adjacency,
                                SkinInfo* skinInfo, MeshContainer** newContainer) override;
    // Retires the frame reference and discards the frame. S_OK.
    HRESULT DestroyFrame(Frame* frame) override;
    // Releases the container's meshes, materials, adjacency, skin information, textures, base
    // materials, attribute table, bone references and offsets, in that order, then the record. S_OK.
    HRESULT DestroyMeshContainer(MeshContainer* container) override;

private:
    ModelEntry& model_;
};

// Makes the container's working mesh: a managed clone of the source mesh on the engine's device,
// with its attribute table copied into the container, and grows the model's bone scratch to the
// bone count. S_OK for a container without skin information; otherwise S_OK, E_OUTOFMEMORY or the
// failing call's code.
HRESULT PrepareSkinnedMesh(ModelEntry& model, ModelMeshContainer& container);

// Points every bone of every skinned container, from frame on in walk order, at the combined matrix
// of the frame named like the bone. A bone whose name matches no frame follows the root frame, so
// the container is still skinned and drawn whole rather than reading a reference that was never set.
void LinkBoneMatrices(ModelEntry& model, ModelFrame* frame);

// Loads the hierarchy from a file (size < 1: source is a file name) or from size bytes at source into
// the model, sets up the controller with one track per animation set (track i plays registered set
// i; only track 0 is enabled) and links the bones. false when the load or a controller step fails;
// the model may then hold part of a load and must be unloaded.
bool LoadModelFile(ModelEntry& model, const void* source, std::int64_t size);

// Releases the hierarchy, the bone scratch and the controller; safe to call twice.
void UnloadModel(ModelEntry& model);

// A new model record owned as the model table owns it (unloaded and discarded when destroyed), or
// null when memory runs out.
std::unique_ptr<ModelEntry, ModelEntryDeleter> MakeModelEntry();

// The exports. LoadModel: 0, or -1 when the file could not be loaded (the model under the key, if
// any, stays). FreeModel: 0, also for a key without a model.
std::int32_t LoadModelEntry(const char* fileName, std::int32_t modelKey);
std::int32_t FreeModelEntry(std::int32_t modelKey);

}  // namespace qm
