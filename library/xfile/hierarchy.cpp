// hierarchy.cpp: the hierarchy loader (templates, top-level objects, frames, mesh containers,
// animation sets and the controller) and the frame-tree walks.
#include "library/xfile/hierarchy.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "library/anim/animation_loader.h"
#include "library/xfile/mesh_reader.h"
#include "library/xfile/xfile_objects.h"
#include "library/xfile/xfile_templates.h"

namespace qm {
namespace {

// Capacities of the controller a load makes.
constexpr UINT kLoadedTrackCount = 2;
constexpr UINT kLoadedEventCount = 30;

// Visits a frame, then its sibling subtree, then its child subtree; stops when visit returns false.
// Siblings are followed in a loop, so only the depth of the tree recurses.
template <class Visit>
bool WalkFrames(Frame* frame, Visit& visit) {
    std::vector<Frame*> chain;
    for (Frame* f = frame; f != nullptr; f = f->sibling) {
        if (!visit(f)) return false;
        chain.push_back(f);
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        if ((*it)->firstChild != nullptr && !WalkFrames((*it)->firstChild, visit)) return false;
    return true;
}

const char* NameOrNull(const std::string& name) { return name.empty() ? nullptr : name.c_str(); }

// The caller's allocator with the loader's rules: new records start unlinked (frames with an
// identity transform), and a call that gives no record fails.
class AllocatorAdapter {
public:
    explicit AllocatorAdapter(HierarchyAllocator* allocator) : allocator_(allocator) {}

    HRESULT CreateFrame(const char* name, Frame** frame) {
        *frame = nullptr;
        Frame* made = nullptr;
        HRESULT hr = allocator_->CreateFrame(name, &made);
        if (made == nullptr) return E_FAIL;
        if (FAILED(hr)) return hr;
        MatrixIdentity(&made->transform);
        made->meshContainer = nullptr;
        made->sibling = nullptr;
        made->firstChild = nullptr;
        *frame = made;
        return S_OK;
    }

    HRESULT CreateMeshContainer(const char* name, const MeshData* meshData, const MaterialRecord* materials,
                                const EffectInstance* effects, DWORD materialCount, const DWORD* adjacency,
                                SkinInfo* skinInfo, MeshContainer** container) {
        *container = nullptr;
        MeshContainer* made = nullptr;
        HRESULT hr = allocator_->CreateMeshContainer(name, meshData, materials, effects, materialCount, adjacency,
                                                     skinInfo, &made);
        if (made == nullptr) return E_FAIL;
        if (FAILED(hr)) return hr;
        made->nextContainer = nullptr;
        *container = made;
        return S_OK;
    }

    HRESULT DestroyMeshContainer(MeshContainer* container) { return allocator_->DestroyMeshContainer(container); }
    HierarchyAllocator* Allocator() const { return allocator_; }

private:
    HierarchyAllocator* allocator_;
};

class HierarchyLoader {
public:
    HierarchyLoader(DWORD meshOptions, IDirect3DDevice9* device, HierarchyAllocator* allocator, UserDataLoader* userData)
        : meshOptions_(meshOptions), device_(device), adapter_(allocator), userData_(userData) {}

    HRESULT LoadTopLevel(IDirectXFileEnumObject* enumObject, Frame** root, AnimationController** controller);

private:
    HRESULT ReadTopLevelObject(IDirectXFileData* object, Frame*** topTail);
    HRESULT LoadFrame(IDirectXFileData* object, Frame** frame);
    HRESULT LoadFrameChildren(IDirectXFileData* object, Frame* frame);
    HRESULT LoadMeshContainer(IDirectXFileData* object, MeshContainer*** tail);
    HRESULT MakeController(Frame* root, AnimationController** controller);

    DWORD meshOptions_;
    DWORD namedFrameCount_ = 0;
    IDirect3DDevice9* device_;
    AllocatorAdapter adapter_;
    UserDataLoader* userData_;
    double ticksPerSecond_ = kDefaultTicksPerSecond;
    std::vector<ComPtr<AnimationSet>> sets_;  // in file order; the last is the front of the list
};

HRESULT HierarchyLoader::LoadMeshContainer(IDirectXFileData* object, MeshContainer*** tail) {
    std::string name;
    if (HRESULT hr = ReadObjectName(object, &name); FAILED(hr)) return hr;
    ComPtr<DataBuffer> adjacency, materials, effects, progressive;
    DWORD materialCount = 0;
    std::vector<ComPtr<IDirectXFileData>> unrecognised;
    MeshReadOutputs outputs{adjacency.ReleaseAndGetAddressOf(), materials.ReleaseAndGetAddressOf(),
                            effects.ReleaseAndGetAddressOf(),   &materialCount,
                            progressive.ReleaseAndGetAddressOf(), userData_ != nullptr ? &unrecognised : nullptr};
    ComPtr<SkinInfo> skin;
    ComPtr<Mesh> mesh;
    HRESULT hr = ReadSkinnedMesh(object, meshOptions_, device_, outputs, skin.ReleaseAndGetAddressOf(),
                                 mesh.ReleaseAndGetAddressOf());
    if (hr == ERR_MESH_HAS_NO_DATA) return S_OK;  // nothing to draw: no container
    if (FAILED(hr)) return hr;
    if (skin && skin->GetBoneCount() == 0) skin.Reset();
    // Progressive meshes are not built here; such a mesh is refused rather than loaded in a form the
    // file did not ask for.
    if (progressive) return E_NOTIMPL;

    const MeshData data{kMeshDataMesh, mesh.Get()};
    auto* records = materials ? static_cast<const MaterialRecord*>(materials->GetBufferPointer()) : nullptr;
    auto* instances = effects ? static_cast<const EffectInstance*>(effects->GetBufferPointer()) : nullptr;
    MeshContainer* container = nullptr;
    hr = adapter_.CreateMeshContainer(NameOrNull(name), &data, records, instances, materialCount,
                                      static_cast<const DWORD*>(adjacency->GetBufferPointer()), skin.Get(), &container);
    if (FAILED(hr)) return hr;
    for (const ComPtr<IDirectXFileData>& child : unrecognised) {
        if (FAILED(hr = userData_->LoadMeshChildData(container, child.Get()))) {
            adapter_.DestroyMeshContainer(container);
            return hr;
        }
    }
    **tail = container;
    *tail = &container->nextContainer;
    return S_OK;
}

HRESULT HierarchyLoader::LoadFrameChildren(IDirectXFileData* object, Frame* frame) {
    MeshContainer** containerTail = &frame->meshContainer;
    Frame** childTail = &frame->firstChild;
    ChildWalker walker(object);
    ComPtr<IDirectXFileData> child;
    HRESULT ignored = S_OK;
    while (walker.Next(false, &child, &ignored)) {
        const GUID* type = nullptr;
        HRESULT hr = child->GetType(&type);
        if (FAILED(hr)) return hr;
        if (*type == kTemplateMesh) {
            hr = LoadMeshContainer(child.Get(), &containerTail);
        } else if (*type == kTemplatePatchMesh || *type == kTemplatePatchMesh9) {
            hr = E_NOTIMPL;  // patch meshes are not read
        } else if (*type == kTemplateFrameTransformMatrix) {
            DataView d;
            hr = DataView::Of(child.Get(), &d);
            if (SUCCEEDED(hr) && !d.Has(0, sizeof(Matrix))) hr = E_FAIL;
            if (SUCCEEDED(hr)) std::memcpy(&frame->transform, d.Bytes(), sizeof(Matrix));
        } else if (*type == kTemplateFrame) {
            Frame* sub = nullptr;
            hr = LoadFrame(child.Get(), &sub);
            if (SUCCEEDED(hr)) {
                *childTail = sub;  // appended as the last child, as AppendChild does
                childTail = &sub->sibling;
            }
        } else if (userData_ != nullptr) {
            hr = userData_->LoadFrameChildData(frame, child.Get());
        }
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT HierarchyLoader::LoadFrame(IDirectXFileData* object, Frame** out) {
    *out = nullptr;
    std::string name;
    if (HRESULT hr = ReadObjectName(object, &name); FAILED(hr)) return hr;
    Frame* frame = nullptr;
    if (HRESULT hr = adapter_.CreateFrame(NameOrNull(name), &frame); FAILED(hr)) return hr;
    if (!name.empty()) ++namedFrameCount_;
    HRESULT hr;
    try {
        hr = LoadFrameChildren(object, frame);
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }
    if (FAILED(hr)) {
        DestroyFrameTree(frame, adapter_.Allocator());
        return hr;
    }
    *out = frame;
    return S_OK;
}

HRESULT HierarchyLoader::ReadTopLevelObject(IDirectXFileData* object, Frame*** topTail) {
    const GUID* type = nullptr;
    if (HRESULT hr = object->GetType(&type); FAILED(hr)) return hr;
    if (*type == kTemplateMesh) {
        Frame* frame = nullptr;
        if (HRESULT hr = adapter_.CreateFrame(nullptr, &frame); FAILED(hr)) return hr;
        **topTail = frame;  // linked first, so a failure below destroys it with the rest
        *topTail = &frame->sibling;
        MeshContainer** containerTail = &frame->meshContainer;
        return LoadMeshContainer(object, &containerTail);
    }
    if (*type == kTemplateFrame) {
        Frame* frame = nullptr;
        if (HRESULT hr = LoadFrame(object, &frame); FAILED(hr)) return hr;
        **topTail = frame;
        *topTail = &frame->sibling;
        return S_OK;
    }
    if (*type == kTemplateAnimTicksPerSecond) return ReadAnimTicksPerSecond(object, &ticksPerSecond_);
    if (*type == kTemplateAnimationSet) {
        ComPtr<AnimationSet> set;
        if (HRESULT hr = LoadAnimationSet(ticksPerSecond_, object, set.ReleaseAndGetAddressOf()); FAILED(hr)) return hr;
        if (set) sets_.push_back(std::move(set));
        return S_OK;
    }
    if (userData_ != nullptr) return userData_->LoadTopLevelData(object);
    return S_OK;
}

HRESULT HierarchyLoader::MakeController(Frame* root, AnimationController** out) {
    ComPtr<AnimationController> controller;
    HRESULT hr = CreateAnimationController(namedFrameCount_, UINT(sets_.size()), kLoadedTrackCount, kLoadedEventCount,
                                           controller.ReleaseAndGetAddressOf());
    if (FAILED(hr)) return hr;
    if (FAILED(hr = RegisterFrameOutputs(root, controller.Get()))) return hr;
    for (auto it = sets_.rbegin(); it != sets_.rend(); ++it)
        if (FAILED(hr = controller->RegisterAnimationSet(it->Get()))) return hr;
    controller->SetTrackAnimationSet(0, sets_.back().Get());
    controller->SetTrackSpeed(0, 1.0f);
    controller->SetTrackWeight(0, 1.0f);
    controller->SetTrackPosition(0, 0.0);
    controller->SetTrackEnable(0, TRUE);
    *out = controller.Detach();
    return S_OK;
}

HRESULT HierarchyLoader::LoadTopLevel(IDirectXFileEnumObject* enumObject, Frame** root, AnimationController** controller) {
    ComPtr<IDirectXFileData> object;
    if (FAILED(enumObject->GetNextDataObject(object.ReleaseAndGetAddressOf())) || !object) return E_FAIL;

    Frame* first = nullptr;
    Frame** topTail = &first;
    HRESULT hr = S_OK;
    try {
        do {
            hr = ReadTopLevelObject(object.Get(), &topTail);
            if (FAILED(hr)) break;
        } while (SUCCEEDED(enumObject->GetNextDataObject(object.ReleaseAndGetAddressOf())) && object);
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }

    Frame* top = first;
    if (SUCCEEDED(hr) && first == nullptr) hr = E_FAIL;
    if (SUCCEEDED(hr) && first->sibling != nullptr) {
        Frame* made = nullptr;
        hr = adapter_.CreateFrame(nullptr, &made);
        if (SUCCEEDED(hr)) {
            made->firstChild = first;
            top = made;
        }
    }
    ComPtr<AnimationController> made;
    if (SUCCEEDED(hr) && !sets_.empty() && controller != nullptr && namedFrameCount_ > 0)
        hr = MakeController(top, made.ReleaseAndGetAddressOf());
    if (FAILED(hr)) {
        if (top != nullptr) DestroyFrameTree(top, adapter_.Allocator());
        return hr;
    }
    *root = top;
    if (controller != nullptr) *controller = made.Detach();
    return S_OK;
}

HRESULT LoadHierarchy(void* source, DXFILELOADOPTIONS kind, DWORD meshOptions, IDirect3DDevice9* device,
                      HierarchyAllocator* allocator, UserDataLoader* userData, Frame** root,
                      AnimationController** controller) {
    ComPtr<IDirectXFile> parser;
    HRESULT hr = DirectXFileCreate(parser.ReleaseAndGetAddressOf());
    if (FAILED(hr)) return hr;
    if (FAILED(hr = RegisterLoaderTemplates(parser.Get()))) return hr;
    ComPtr<IDirectXFileEnumObject> enumObject;
    if (FAILED(hr = parser->CreateEnumObject(source, kind, enumObject.ReleaseAndGetAddressOf()))) return hr;
    HierarchyLoader loader(meshOptions, device, allocator, userData);
    return loader.LoadTopLevel(enumObject.Get(), root, controller);
}

}  // namespace

HRESULT LoadHierarchyFromFile(const char* fileName, DWORD meshOptions, IDirect3DDevice9* device,
                              HierarchyAllocator* allocator, UserDataLoader* userData, Frame** root,
                              AnimationController** controller) {
    if (fileName == nullptr || device == nullptr || allocator == nullptr || root == nullptr) return D3DERR_INVALIDCALL;
    *root = nullptr;
    if (controller != nullptr) *controller = nullptr;
    return LoadHierarchy(const_cast<char*>(fileName), DXFILELOAD_FROMFILE, meshOptions, device, allocator, userData,
                         root, controller);
}

HRESULT LoadHierarchyFromMemory(const void* data, DWORD size, DWORD meshOptions, IDirect3DDevice9* device,
                                HierarchyAllocator* allocator, UserDataLoader* userData, Frame** root,
                                AnimationController** controller) {
    if (data == nullptr || size == 0 || device == nullptr || allocator == nullptr || root == nullptr)
        return D3DERR_INVALIDCALL;
    *root = nullptr;
    if (controller != nullptr) *controller = nullptr;
    DXFILELOADMEMORY memory{const_cast<void*>(data), size};
    return LoadHierarchy(&memory, DXFILELOAD_FROMMEMORY, meshOptions, device, allocator, userData, root, controller);
}

HRESULT DestroyFrameTree(Frame* frame, HierarchyAllocator* allocator) {
    if (frame == nullptr || allocator == nullptr) return D3DERR_INVALIDCALL;
    // Destroy(f) = Destroy(f's sibling subtree), Destroy(f's child subtree), f's containers, f: the
    // sibling chain is taken from its far end.
    std::vector<Frame*> chain;
    for (Frame* f = frame; f != nullptr; f = f->sibling) chain.push_back(f);
    HRESULT hr = S_OK;
    for (std::size_t i = chain.size(); i-- > 0;) {
        Frame* f = chain[i];
        if (f->firstChild != nullptr && FAILED(hr = DestroyFrameTree(f->firstChild, allocator))) return hr;
        for (MeshContainer* c = f->meshContainer; c != nullptr;) {
            MeshContainer* next = c->nextContainer;
            hr = allocator->DestroyMeshContainer(c);
            c = next;
        }
        hr = allocator->DestroyFrame(f);
        if (FAILED(hr) && i > 0) return hr;  // a failing sibling subtree ends the walk
    }
    return hr;
}

Frame* FindFrameByName(Frame* frame, const char* name) {
    Frame* found = nullptr;
    auto match = [&](Frame* f) {
        if (f->name == name || (f->name != nullptr && name != nullptr && std::strcmp(f->name, name) == 0)) {
            found = f;
            return false;
        }
        return true;
    };
    if (frame != nullptr) WalkFrames(frame, match);
    return found;
}

HRESULT AppendChild(Frame* parent, Frame* child) {
    if (parent == nullptr || child == nullptr) return D3DERR_INVALIDCALL;
    Frame** slot = &parent->firstChild;
    while (*slot != nullptr) slot = &(*slot)->sibling;
    *slot = child;
    return S_OK;
}

HRESULT RegisterFrameOutputs(Frame* frame, AnimationController* controller) {
    if (frame == nullptr || controller == nullptr) return D3DERR_INVALIDCALL;
    HRESULT hr = S_OK;
    auto registerOne = [&](Frame* f) {
        if (f->name != nullptr) hr = controller->RegisterAnimationOutput(f->name, &f->transform);
        return SUCCEEDED(hr);
    };
    WalkFrames(frame, registerOne);
    return hr;
}

}  // namespace qm
