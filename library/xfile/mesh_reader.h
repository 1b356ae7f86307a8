// mesh_reader.h: reading one Mesh data object of an X file, with its child objects, into a Mesh,
// its face adjacency, materials, effect instances, bone influences and progressive-mesh data.
#pragma once

#include <string>
#include <vector>

#include "library/mesh/mesh.h"
#include "library/xfile/material_buffers.h"
#include "library/xfile/skin_info.h"
#include "platform/xof/xof.h"

namespace qm {

// The outputs of a mesh read. Every pointer may be null, which means "not asked for"; what is not
// asked for is not produced. On success each asked-for DataBuffer or object holds one reference for
// the caller (null when there is nothing: no materials, no PMInfo, ...). On failure every output is
// null or empty.
struct MeshReadOutputs {
    DataBuffer** adjacency = nullptr;        // 3 DWORDs per face, kNoNeighbour for none
    DataBuffer** materials = nullptr;        // materialCount MaterialRecords and their texture names
    DataBuffer** effectInstances = nullptr;  // one EffectInstance per material
    DWORD* materialCount = nullptr;          // nMaterials as the file gives it
    DataBuffer** progressiveData = nullptr;  // a copy of the PMInfo data (its size is the buffer's)
    std::vector<ComPtr<IDirectXFileData>>* unrecognised = nullptr;  // child objects not read
};

// The bone outputs of ReadMeshObject: with these given, XSkinMeshHeader and SkinWeights are read.
struct MeshBoneOutputs {
    std::vector<std::string>* names = nullptr;  // one per bone; empty for a bone without SkinWeights
    DataBuffer** offsets = nullptr;             // 16 floats per bone (zero for a bone without SkinWeights)
    std::vector<BoneRecord>* influences = nullptr;  // one per bone, names and offsets left empty
    DWORD* boneCount = nullptr;                     // nBones of the header, 0 without one
};

// Reads a Mesh data object into a new mesh of the options (the 32-bit-index bit is added when the
// face or vertex count reaches 65535) on the device. Polygons are fanned into triangles; vertices
// are split where faces give one vertex different normals (the copies keep the file vertex's
// other data and, in the bone influences, its weights); degenerate triangles are dropped; faces are
// then sorted by material id, which gives the mesh its attribute table. The numeric locale is "C"
// during the read.
// Results: D3DERR_INVALIDCALL for no out mesh, inconsistent VertexDuplicationIndices, FaceAdjacency
// count, DeclData element count or stride, more Material children than nMaterials, more than 8
// texture sets; ERR_MESH_HAS_NO_DATA for a mesh without vertices, faces or a usable triangle;
// E_FAIL for sizes and counts the data does not hold, faces of fewer than 3 indices, indices out of
// range, fewer Material children than nMaterials; E_OUTOFMEMORY; the parser's code when a child
// cannot be had. Failure releases every partial output.
HRESULT ReadMeshObject(IDirectXFileData* object, DWORD options, IDirect3DDevice9* device,
                       const MeshReadOutputs& outputs, const MeshBoneOutputs& bones, Mesh** mesh);

// ReadMeshObject with the options 0x110 (both buffers in system memory, whatever `options` says)
// and the bone outputs, then a SkinInfo for the mesh's vertices and declaration with every bone's
// influences, name and offset matrix (0 bones when the mesh has no XSkinMeshHeader). skinInfo must
// be given (D3DERR_INVALIDCALL otherwise), as must mesh.
HRESULT ReadSkinnedMesh(IDirectXFileData* object, DWORD options, IDirect3DDevice9* device,
                        const MeshReadOutputs& outputs, SkinInfo** skinInfo, Mesh** mesh);

// The mesh option word of every mesh the reader makes for the hierarchy loader.
inline constexpr DWORD kReaderMeshOptions = kMeshVertexSystemMem | kMeshIndexSystemMem;

}  // namespace qm
