// skin_info.h: SkinInfo, which bones move which vertices of one mesh and how strongly, with software
// skinning of a mesh's vertices (UpdateSkinnedMesh).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "library/math/math_types.h"
#include "library/mesh/mesh.h"
#include "library/mesh/vertex_declaration.h"
#include "platform/d3d9/d3d9.h"
#include "platform/win/large_blocks.h"

namespace qm {

// One bone: its influences (vertex index and weight, in list order), name and offset matrix (mesh
// space to bone space; zero until set). The influence arrays live as long as the model and are
// rebuilt with each load of it, so they sit in kept blocks rather than on the C library's heap.
struct BoneRecord {
    std::vector<DWORD, LargeBlockAllocator<DWORD>> vertices;
    std::vector<float, LargeBlockAllocator<float>> weights;  // same length as vertices
    std::optional<std::string> name;
    Matrix offset{};
};

// Results: D3D_OK; D3DERR_INVALIDCALL for bone indices at or past the bone count, influence vertices
// at or past the vertex count, absent arguments and invalid declarations; E_OUTOFMEMORY.
//
// Caches, rebuilt on the next operation that needs them: the maximum influences per vertex, the
// per-vertex tables (each vertex's (bone, weight) entries, the first four by descending weight), and
// the influence stream with the parsed vertex layout. SetBoneInfluence and RemapVertices clear all
// three; SetMinBoneInfluence, SetFVF and SetDeclaration clear the stream and layout.
struct SkinInfo : IUnknown {
    static constexpr IID iid = {0x0E7DBBF3, 0x421A, 0x4DD8, {0xB7, 0x38, 0xA5, 0xDA, 0xC3, 0xA4, 0x87, 0x67}};

    // Slot 3: replaces the bone's influences with copies of the arrays (count entries each).
    virtual HRESULT SetBoneInfluence(DWORD bone, DWORD count, const DWORD* vertices, const float* weights) = 0;
    // Slot 4: 0 for a bone out of range.
    virtual DWORD GetBoneInfluenceCount(DWORD bone) = 0;
    // Slot 5: copies the bone's influences into arrays of GetBoneInfluenceCount entries.
    virtual HRESULT GetBoneInfluence(DWORD bone, DWORD* vertices, float* weights) = 0;
    // Slot 6: the largest number of influences on one vertex, whatever their weights.
    virtual HRESULT GetMaxVertexInfluences(DWORD* maxInfluences) = 0;
    virtual DWORD GetBoneCount() = 0;  // slot 7
    // Slot 8: the largest number of distinct bones that move a face's three vertices, reading the
    // first faceCount faces of the index buffer (16- or 32-bit by its format).
    virtual HRESULT GetMaxFaceInfluences(IDirect3DIndexBuffer9* indices, DWORD faceCount, DWORD* maxInfluences) = 0;
    // Slot 9: influences of this weight or less are left out of skinning (0.0 at creation).
    virtual HRESULT SetMinBoneInfluence(float minInfluence) = 0;
    virtual float GetMinBoneInfluence() = 0;  // slot 10
    // Slot 11: copies the name; null removes it.
    virtual HRESULT SetBoneName(DWORD bone, const char* name) = 0;
    // Slot 12: the stored name (not a copy), null when there is none or the bone is out of range.
    virtual const char* GetBoneName(DWORD bone) = 0;
    virtual HRESULT SetBoneOffsetMatrix(DWORD bone, const Matrix* offset) = 0;  // slot 13
    // Slot 14: the stored matrix, null for a bone out of range.
    virtual Matrix* GetBoneOffsetMatrix(DWORD bone) = 0;
    // Slot 15: a new SkinInfo with the same vertex count, declaration, minimum and bones.
    virtual HRESULT CloneSkinInfo(SkinInfo** clone) = 0;
    // Slot 16: new vertex i takes the influences of old vertex remap[i] (entries at or past the old
    // vertex count: no influences); the vertex count becomes newVertexCount.
    virtual HRESULT RemapVertices(DWORD newVertexCount, const DWORD* remap) = 0;
    // Slot 17: sets the declaration of the vertex-format code.
    virtual HRESULT SetFVF(DWORD fvf) = 0;
    // Slot 18: sets the declaration and its vertex-format code (0 when it has none).
    virtual HRESULT SetDeclaration(const D3DVERTEXELEMENT9* declaration) = 0;
    virtual DWORD GetFVF() = 0;  // slot 19
    // Slot 20: copies the declaration and its end marker.
    virtual HRESULT GetDeclaration(D3DVERTEXELEMENT9* declaration) = 0;
    // Slot 21: writes the vertex count's skinned vertices of the declaration's layout to destination.
    // Per vertex: position = Σ weight × (position × boneTransforms[bone] as a coordinate transform),
    // each normal, tangent and binormal = Σ weight × (direction × normalTransforms[bone], no
    // translation), over the influences above the minimum; only x, y, z of those elements are
    // written (not renormalised) and every other byte is the source's. normalTransforms null: the
    // bone transforms. The declaration must start with a three-float position at offset 0, and its
    // normals, tangents and binormals must be three or four floats. When both matrix arrays are
    // 16-byte aligned the processor-specific kernel runs, else the portable one; they agree within
    // rounding. source and destination may be the same memory.
    virtual HRESULT UpdateSkinnedMesh(const Matrix* boneTransforms, const Matrix* normalTransforms, const void* source,
                                      void* destination) = 0;
    // Slots 22, 23: conversion into vertex-blended meshes; not provided (E_NOTIMPL, outputs null).
    virtual HRESULT ConvertToBlendedMesh(Mesh* mesh, DWORD options, const DWORD* adjacencyIn, DWORD* adjacencyOut,
                                         DWORD* faceRemap, DataBuffer** vertexRemap, DWORD* maxFaceInfluences,
                                         DWORD* boneCombinationCount, DataBuffer** boneCombinations,
                                         Mesh** blended) = 0;
    virtual HRESULT ConvertToIndexedBlendedMesh(Mesh* mesh, DWORD options, DWORD paletteSize, const DWORD* adjacencyIn,
                                                DWORD* adjacencyOut, DWORD* faceRemap, DataBuffer** vertexRemap,
                                                DWORD* maxVertexInfluences, DWORD* boneCombinationCount,
                                                DataBuffer** boneCombinations, Mesh** blended) = 0;
    virtual DWORD GetVertexCount() = 0;  // slot 24
    // Slots 25, 26: as slot 8 over an array of 3 × faceCount 16-bit or 32-bit indices.
    virtual HRESULT GetMaxFaceInfluences16(const WORD* indices, DWORD faceCount, DWORD* maxInfluences) = 0;
    virtual HRESULT GetMaxFaceInfluences32(const DWORD* indices, DWORD faceCount, DWORD* maxInfluences) = 0;

protected:
    ~SkinInfo() = default;
};

// A SkinInfo for vertexCount vertices of the declaration with boneCount bones without influences.
HRESULT CreateSkinInfo(DWORD vertexCount, const D3DVERTEXELEMENT9* declaration, DWORD boneCount, SkinInfo** out);
// As CreateSkinInfo with the declaration of a vertex-format code.
HRESULT CreateSkinInfoFVF(DWORD vertexCount, DWORD fvf, DWORD boneCount, SkinInfo** out);
// A SkinInfo that takes over bone records whose influences are filled (bones.size() == boneCount,
// each weights list as long as its vertices list, every vertex below vertexCount).
HRESULT CreateSkinInfoFromBones(DWORD vertexCount, const D3DVERTEXELEMENT9* declaration, DWORD boneCount,
                                std::vector<BoneRecord>&& bones, SkinInfo** out);

}  // namespace qm
