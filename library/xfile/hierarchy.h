// hierarchy.h: the mesh hierarchy loader: an X file (on disk or in memory) into a tree of frames
// with mesh containers, made through the caller's allocator, plus an animation controller for the
// file's animation sets; and the frame-tree helpers (destroy, find by name, append, register outputs).
#pragma once

#include "library/anim/animation_controller.h"
#include "library/math/math_types.h"
#include "library/mesh/mesh.h"
#include "library/xfile/material_buffers.h"
#include "library/xfile/skin_info.h"
#include "platform/xof/xof.h"

namespace qm {

struct MeshContainer;

// A frame of the hierarchy. Callers allocate larger records and keep their own fields behind these;
// the loader reads and writes only these.
struct Frame {
    char* name;                    // null: unnamed
    Matrix transform;              // frame to parent
    MeshContainer* meshContainer;  // first container
    Frame* sibling;                // next frame with the same parent
    Frame* firstChild;
};

// What a container's mesh object is.
enum MeshDataKind : DWORD {
    kMeshDataMesh = 1,
    kMeshDataProgressiveMesh = 2,
    kMeshDataPatchMesh = 3,
};

struct MeshData {
    DWORD kind;  // MeshDataKind
    Mesh* mesh;
};

struct MeshContainer {
    char* name;
    MeshData meshData;
    MaterialRecord* materials;
    EffectInstance* effectInstances;
    DWORD materialCount;
    DWORD* adjacency;  // 3 per face
    SkinInfo* skinInfo;
    MeshContainer* nextContainer;
};

// The caller's maker of frames and containers (no reference counting). Every record the loader
// makes comes from here and is destroyed through here. CreateMeshContainer receives the loader's
// objects and buffers for the duration of the call: it takes its own references or copies of what it
// keeps.
struct HierarchyAllocator {
    virtual HRESULT CreateFrame(const char* name, Frame** frame) = 0;
    virtual HRESULT CreateMeshContainer(const char* name, const MeshData* meshData, const MaterialRecord* materials,
                                        const EffectInstance* effectInstances, DWORD materialCount,
                                        const DWORD* adjacency, SkinInfo* skinInfo, MeshContainer** container) = 0;
    virtual HRESULT DestroyFrame(Frame* frame) = 0;
    virtual HRESULT DestroyMeshContainer(MeshContainer* container) = 0;

protected:
    ~HierarchyAllocator() = default;
};

// Optional caller hooks for the objects the loader does not read; a failure fails the load.
struct UserDataLoader {
    virtual HRESULT LoadTopLevelData(IDirectXFileData* object) = 0;
    virtual HRESULT LoadFrameChildData(Frame* frame, IDirectXFileData* child) = 0;
    virtual HRESULT LoadMeshChildData(MeshContainer* container, IDirectXFileData* child) = 0;

protected:
    ~UserDataLoader() = default;
};

// Loads the X file into a frame tree and, when the file has animation sets, named frames and
// `controller` is given, an AnimationController (outputs: the named frames' transforms; sets in
// reverse file order, so the last set of the file is set 0 and plays on track 0 at speed and weight
// 1). Meshes are read with ReadSkinnedMesh; a mesh without usable triangles is skipped; meshes with
// progressive-mesh data and patch meshes are refused with E_NOTIMPL. Several top-level frames get an
// unnamed root. meshOptions is kept with the load but meshes are read into system memory.
// Results: D3DERR_INVALIDCALL for a missing argument (file name, address or zero size, device,
// allocator, root); E_FAIL for a file without a top-level Frame or Mesh, or an allocator that gives
// no record; E_OUTOFMEMORY; the parser's, the readers', the allocator's or the user-data loader's
// code. On failure nothing is returned and everything made is destroyed through the allocator.
HRESULT LoadHierarchyFromFile(const char* fileName, DWORD meshOptions, IDirect3DDevice9* device,
                              HierarchyAllocator* allocator, UserDataLoader* userData, Frame** root,
                              AnimationController** controller);
HRESULT LoadHierarchyFromMemory(const void* data, DWORD size, DWORD meshOptions, IDirect3DDevice9* device,
                                HierarchyAllocator* allocator, UserDataLoader* userData, Frame** root,
                                AnimationController** controller);

// Destroys the frame's sibling subtree, then its child subtree (the first failure ends the walk and
// is returned), then its containers in list order, then the frame; returns the last result.
// D3DERR_INVALIDCALL for no frame.
HRESULT DestroyFrameTree(Frame* frame, HierarchyAllocator* allocator);

// The first frame whose name is the same pointer as `name` or equal to it byte for byte, visiting
// a frame, then its sibling subtree, then its child subtree. Null when none.
Frame* FindFrameByName(Frame* frame, const char* name);

// Makes child the last child of parent. D3DERR_INVALIDCALL when either is null.
HRESULT AppendChild(Frame* parent, Frame* child);

// Registers every named frame's transform with the controller as an animation output, in the
// order of FindFrameByName; the first failure is returned.
HRESULT RegisterFrameOutputs(Frame* frame, AnimationController* controller);

}  // namespace qm
