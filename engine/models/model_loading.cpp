// model_loading.cpp: the engine's frame and container records for the hierarchy loader, skinned-mesh
// preparation, bone links, the controller set-up, and loading and freeing models in the model table.
#include "engine/models/model_loading.h"

#include <algorithm>
#include <new>

#include "engine/models/frame_handles.h"
#include "engine/models/mesh_normals.h"
#include "library/tex/texture_creation.h"

namespace qm {
namespace {

// The material a mesh without materials is drawn with: grey diffuse and specular, nothing else.
MaterialRecord GreyMaterial() {
    MaterialRecord record{};
    record.material.Diffuse = {0.5f, 0.5f, 0.5f, 0.0f};
    record.material.Specular = record.material.Diffuse;
    record.textureFilename = nullptr;
    return record;
}

// Gives track i of the controller registered set i, weight and speed 1, disabled, for i ≥ 1; track
// 0 keeps the loader's set-up. false when a call fails.
bool SetUpTracks(AnimationController* controller, UINT setCount) {
    for (UINT i = 1; i < setCount; ++i) {
        ComPtr<AnimationSet> set;
        if (FAILED(controller->GetAnimationSet(i, set.ReleaseAndGetAddressOf()))) return false;
        if (FAILED(controller->SetTrackAnimationSet(i, set.Get()))) return false;
        set.Reset();
        TrackDescriptor descriptor{0, 1.0f, 1.0f, FALSE, 0.0};
        if (FAILED(controller->SetTrackDescriptor(i, &descriptor))) return false;
    }
    return true;
}

void DestroyModelEntry(ModelEntry* model) {
    std::unique_ptr<ModelEntry> owned(model);
    UnloadModel(*owned);
}

}  // namespace

HRESULT ModelAllocator::CreateFrame(const char* name, Frame** newFrame) {
    if (newFrame == nullptr) return E_INVALIDARG;
    *newFrame = nullptr;
    std::unique_ptr<ModelFrame> frame;
    try {
        frame = std::make_unique<ModelFrame>();
        if (name != nullptr) {
            frame->nameText = name;
            frame->name = frame->nameText.data();
        }
        frame->handle = RegisterFrameHandle(frame.get());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    *newFrame = frame.release();
    return S_OK;
}

HRESULT ModelAllocator::CreateMeshContainer(const char* name, const MeshData* meshData,
                                            const MaterialRecord* materials, const EffectInstance* effectInstances,
                                            DWORD materialCount, const DWORD* adjacency, SkinInfo* skinInfo,
                                            MeshContainer** newContainer) {
    if (newContainer == nullptr) return E_INVALIDARG;
    *newContainer = nullptr;
    if (meshData == nullptr || meshData->kind != kMeshDataMesh || meshData->mesh == nullptr) return E_FAIL;
    Mesh* mesh = meshData->mesh;
    DWORD fvf = mesh->GetFVF();
    if (fvf == 0) return E_FAIL;
    DWORD faceCount = mesh->GetFaceCount();

    std::unique_ptr<ModelMeshContainer> owned;
    try {
        owned = std::make_unique<ModelMeshContainer>();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    // From here on every failure goes through DestroyMeshContainer.
    ModelMeshContainer* container = owned.release();
    auto fail = [&](HRESULT hr) {
        DestroyMeshContainer(container);
        return hr;
    };
    ComPtr<IDirect3DDevice9> device;
    try {
        if (name != nullptr) {
            container->nameText = name;
            container->name = container->nameText.data();
        }
        container->meshData.kind = kMeshDataMesh;
        if (FAILED(mesh->GetDevice(device.ReleaseAndGetAddressOf()))) return fail(E_FAIL);

        if ((fvf & D3DFVF_NORMAL) == 0) {
            Mesh* withNormals = nullptr;
            HRESULT hr = mesh->CloneWithFVF(mesh->GetOptions(), fvf | D3DFVF_NORMAL, device.Get(), &withNormals);
            if (FAILED(hr)) return fail(hr);
            container->meshData.mesh = withNormals;
            ComputeNormals(withNormals);
        } else {
            mesh->AddRef();
            container->meshData.mesh = mesh;
        }

        bool hasMaterials = materialCount > 0 && materials != nullptr;
        container->materialCount = hasMaterials ? materialCount : 1;
        container->materialStorage.resize(container->materialCount);
        container->textures.resize(container->materialCount);
        container->adjacencyStorage.assign(std::size_t{faceCount} * 3, kNoNeighbour);
        container->materials = container->materialStorage.data();
        container->adjacency = container->adjacencyStorage.data();
        if (adjacency != nullptr) std::copy_n(adjacency, container->adjacencyStorage.size(), container->adjacency);

        if (hasMaterials) {
            std::copy_n(materials, materialCount, container->materials);
            for (DWORD i = 0; i < materialCount; ++i) {
                MaterialRecord& record = container->materials[i];
                if (record.textureFilename == nullptr) continue;
                IDirect3DTexture9* texture = nullptr;
                if (SUCCEEDED(CreateTextureFromFile(device.Get(), record.textureFilename, &texture))) {
                    container->textures[i] = ComPtr<IDirect3DTexture9>::Adopt(texture);
                }
                record.textureFilename = nullptr;
            }
        } else {
            container->materials[0] = GreyMaterial();
        }
        container->baseMaterials = container->materialStorage;

        if (skinInfo != nullptr) {
            skinInfo->AddRef();
            container->skinInfo = skinInfo;
            container->sourceMesh = ComPtr<Mesh>(container->DrawnMesh());
            DWORD bones = skinInfo->GetBoneCount();
            container->boneOffsets.resize(bones);
            for (DWORD i = 0; i < bones; ++i) {
                const Matrix* offset = skinInfo->GetBoneOffsetMatrix(i);
                container->boneOffsets[i] = offset != nullptr ? *offset : Matrix{};
            }
            HRESULT hr = PrepareSkinnedMesh(model_, *container);
            if (FAILED(hr)) return fail(hr);
        }
    } catch (const std::bad_alloc&) {
        return fail(E_OUTOFMEMORY);
    }
    *newContainer = container;
    return S_OK;
}

HRESULT ModelAllocator::DestroyFrame(Frame* frame) {
    if (frame == nullptr) return S_OK;
    std::unique_ptr<ModelFrame> owned(static_cast<ModelFrame*>(frame));
    RetireFrameHandle(owned->handle);
    owned->name = nullptr;
    owned->nameText.clear();
    return S_OK;
}

HRESULT ModelAllocator::DestroyMeshContainer(MeshContainer* base) {
    if (base == nullptr) return S_OK;
    std::unique_ptr<ModelMeshContainer> container(static_cast<ModelMeshContainer*>(base));
    container->name = nullptr;
    container->nameText.clear();
    if (Mesh* mesh = std::exchange(container->meshData.mesh, nullptr)) mesh->Release();
    container->materials = nullptr;
    container->materialStorage.clear();
    container->effectInstances = nullptr;
    container->adjacency = nullptr;
    container->adjacencyStorage.clear();
    if (SkinInfo* skin = std::exchange(container->skinInfo, nullptr)) skin->Release();
    container->textures.clear();
    container->sourceMesh.Reset();
    container->baseMaterials.clear();
    container->attributeTable.clear();
    container->boneMatrixRefs.clear();
    container->boneOffsets.clear();
    return S_OK;
}

HRESULT PrepareSkinnedMesh(ModelEntry& model, ModelMeshContainer& container) {
    if (container.skinInfo == nullptr) return S_OK;
    if (Mesh* old = std::exchange(container.meshData.mesh, nullptr)) old->Release();
    if (!container.sourceMesh) return E_FAIL;
    DWORD options = kModelMeshOptions | (container.sourceMesh->GetOptions() & kMesh32BitIndices);
    Mesh* working = nullptr;
    HRESULT hr = container.sourceMesh->CloneWithFVF(options, container.sourceMesh->GetFVF(), Engine().device.Get(),
                                                    &working);
    if (FAILED(hr)) return hr;
    container.meshData.mesh = working;

    DWORD groups = 0;
    hr = working->GetAttributeTable(nullptr, &groups);
    if (FAILED(hr)) return hr;
    container.attributeTable.clear();
    try {
        container.attributeTable.resize(groups);
        hr = working->GetAttributeTable(container.attributeTable.data(), &groups);
        if (FAILED(hr)) return hr;
        container.attributeGroupCount = groups;

        DWORD bones = container.skinInfo->GetBoneCount();
        if (model.maxBoneCount < bones) {
            model.maxBoneCount = bones;
            model.boneScratch.clear();
            model.boneScratch.shrink_to_fit();
            model.boneScratch.resize(bones);
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

void LinkBoneMatrices(ModelEntry& model, ModelFrame* frame) {
    ModelFrame* root = model.rootFrame;
    if (root == nullptr) return;
    WalkContainers(frame, [&](ModelFrame&, ModelMeshContainer& container) {
        SkinInfo* skin = container.skinInfo;
        if (skin == nullptr) return;
        DWORD bones = skin->GetBoneCount();
        container.boneMatrixRefs.assign(bones, &root->combined);
        for (DWORD i = 0; i < bones; ++i) {
            Frame* bone = FindFrameByName(root, skin->GetBoneName(i));
            if (bone != nullptr) container.boneMatrixRefs[i] = &static_cast<ModelFrame*>(bone)->combined;
        }
    });
}

bool LoadModelFile(ModelEntry& model, const void* source, std::int64_t size) {
    ModelAllocator allocator(model);
    Frame* root = nullptr;
    ComPtr<AnimationController> loaded;
    IDirect3DDevice9* device = Engine().device.Get();
    HRESULT hr;
    if (size < 1) {
        hr = LoadHierarchyFromFile(static_cast<const char*>(source), kModelMeshOptions, device, &allocator, nullptr,
                                   &root, loaded.ReleaseAndGetAddressOf());
    } else {
        if (size > 0xFFFFFFFF) return false;
        hr = LoadHierarchyFromMemory(source, static_cast<DWORD>(size), kModelMeshOptions, device, &allocator, nullptr,
                                     &root, loaded.ReleaseAndGetAddressOf());
    }
    if (FAILED(hr)) return false;
    model.rootFrame = static_cast<ModelFrame*>(root);

    UINT setCount = 0;
    if (loaded) {
        setCount = loaded->GetMaxAnimationSetCount();
        UINT tracks = std::max(loaded->GetMaxTrackCount(), setCount);
        hr = loaded->CloneController(loaded->GetMaxOutputCount(), setCount, tracks, loaded->GetMaxEventCount(),
                                     model.controller.ReleaseAndGetAddressOf());
        if (FAILED(hr)) return false;
        loaded.Reset();
        if (!SetUpTracks(model.controller.Get(), setCount)) return false;
    }
    LinkBoneMatrices(model, model.rootFrame);
    model.animationSetCount = setCount;
    return true;
}

void UnloadModel(ModelEntry& model) {
    if (model.rootFrame != nullptr) {
        ModelAllocator allocator(model);
        DestroyFrameTree(std::exchange(model.rootFrame, nullptr), &allocator);
    }
    model.boneScratch.clear();
    model.boneScratch.shrink_to_fit();
    model.controller.Reset();
}

std::unique_ptr<ModelEntry, ModelEntryDeleter> MakeModelEntry() {
    try {
        return std::unique_ptr<ModelEntry, ModelEntryDeleter>(std::make_unique<ModelEntry>().release(),
                                                              {&DestroyModelEntry});
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::int32_t LoadModelEntry(const char* fileName, std::int32_t modelKey) {
    if (fileName == nullptr) return -1;
    auto model = MakeModelEntry();
    if (!model) return -1;
    if (!LoadModelFile(*model, fileName, 0)) return -1;  // the record unloads as it goes
    ModelTable& table = Engine().modelTable;
    table.Erase(modelKey);
    table.InsertIfAbsent(modelKey, std::move(model));
    return 0;
}

std::int32_t FreeModelEntry(std::int32_t modelKey) {
    Engine().modelTable.Erase(modelKey);
    return 0;
}

}  // namespace qm
