// mesh.h: the Mesh, the library's indexed triangle list with its vertex declaration, index buffer,
// per-face attribute ids and attribute table, and CreateMeshObject that makes one.
#pragma once

#include "library/mesh/data_buffer.h"
#include "library/mesh/vertex_declaration.h"
#include "platform/d3d9/d3d9.h"

namespace qm {

// One attribute group of a sorted mesh: the faces faceStart .. faceStart + faceCount − 1 carry
// attribId and use only vertices vertexStart .. vertexStart + vertexCount − 1.
struct AttributeRange {
    DWORD attribId;
    DWORD faceStart;
    DWORD faceCount;
    DWORD vertexStart;
    DWORD vertexCount;
};

// Option word bits of CreateMeshObject and the clones.
inline constexpr DWORD kMesh32BitIndices = 0x1;
inline constexpr DWORD kMeshDoNotClip = 0x2;
inline constexpr DWORD kMeshPoints = 0x4;
inline constexpr DWORD kMeshRtPatches = 0x8;
inline constexpr DWORD kMeshVertexSystemMem = 0x10;
inline constexpr DWORD kMeshVertexManaged = 0x20;
inline constexpr DWORD kMeshVertexWriteOnly = 0x40;
inline constexpr DWORD kMeshVertexDynamic = 0x80;
inline constexpr DWORD kMeshIndexSystemMem = 0x100;
inline constexpr DWORD kMeshIndexManaged = 0x200;
inline constexpr DWORD kMeshIndexWriteOnly = 0x400;
inline constexpr DWORD kMeshIndexDynamic = 0x800;
inline constexpr DWORD kMeshShareVertexBuffer = 0x1000;  // clones only
inline constexpr DWORD kMeshNPatches = 0x4000;
inline constexpr DWORD kMeshVertexSoftwareProcessing = 0x8000;
inline constexpr DWORD kMeshIndexSoftwareProcessing = 0x10000;
inline constexpr DWORD kMeshCreateOptions = 0x1CFFF;
inline constexpr DWORD kMeshCloneOptions = 0x1DFFF;

// Flag bits of the optimisations (slots 26, 27).
inline constexpr DWORD kOptimizeCompact = 0x01000000;       // drop vertices no face uses
inline constexpr DWORD kOptimizeAttrSort = 0x02000000;      // group faces by attribute id, build the table
inline constexpr DWORD kOptimizeVertexCache = 0x04000000;   // accepted; orders as kOptimizeAttrSort
inline constexpr DWORD kOptimizeStripReorder = 0x08000000;  // accepted; orders as kOptimizeAttrSort
inline constexpr DWORD kOptimizeIgnoreVerts = 0x10000000;   // keep the vertex order
inline constexpr DWORD kOptimizeDoNotSplit = 0x20000000;    // never duplicate vertices (none are)
inline constexpr DWORD kOptimizeDeviceIndependent = 0x00400000;
inline constexpr DWORD kOptimizeFlags = 0x3F401000;

// Adjacency and point-representative entries of "no neighbour".
inline constexpr DWORD kNoNeighbour = 0xFFFFFFFF;

struct Mesh;

// Operations shared by every mesh kind, slots 3 to 23 after QueryInterface, AddRef, Release.
// Results: D3D_OK, D3DERR_INVALIDCALL for absent outputs, bad flags or option bits, invalid
// declarations and counts beyond the index class, E_OUTOFMEMORY, or a failed device call's code.
struct BaseMesh : IUnknown {
    static constexpr IID iid = {0x7ED943DD, 0x52E8, 0x40B5, {0xA8, 0xD8, 0x76, 0x68, 0x5C, 0x40, 0x63, 0x30}};

    // Slot 3. Draws the faces of one attribute id as triangle lists: with a valid attribute table one
    // draw of the group's range (entry attributeId when it carries that id, else the first entry that
    // does); otherwise one draw per run of consecutive faces with the id. Nothing to draw: D3D_OK.
    virtual HRESULT DrawAttributeGroup(DWORD attributeId) = 0;
    virtual DWORD GetFaceCount() = 0;    // slot 4
    virtual DWORD GetVertexCount() = 0;  // slot 5
    virtual DWORD GetFVF() = 0;          // slot 6: 0 when the declaration has no code
    // Slot 7: copies the declaration and its end marker (kMaxDeclarationElements entries at most).
    virtual HRESULT GetDeclaration(D3DVERTEXELEMENT9* declaration) = 0;
    virtual DWORD GetVertexSize() = 0;                         // slot 8
    virtual DWORD GetOptions() = 0;                            // slot 9
    virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;  // slot 10
    // Slot 11: CloneWithDeclaration with the declaration of the code.
    virtual HRESULT CloneWithFVF(DWORD options, DWORD fvf, IDirect3DDevice9* device, Mesh** clone) = 0;
    // Slot 12: a new mesh with the same faces, attributes and attribute table, its vertices converted
    // to the declaration (null: this mesh's own). options takes kMeshCloneOptions; with
    // kMeshShareVertexBuffer the declaration and device must be this mesh's and both meshes then use
    // one vertex buffer. Indices of 65535 and above become 65535 in a 16-bit clone.
    virtual HRESULT CloneWithDeclaration(DWORD options, const D3DVERTEXELEMENT9* declaration, IDirect3DDevice9* device,
                                         Mesh** clone) = 0;
    virtual HRESULT GetVertexBuffer(IDirect3DVertexBuffer9** buffer) = 0;  // slot 13
    virtual HRESULT GetIndexBuffer(IDirect3DIndexBuffer9** buffer) = 0;    // slot 14
    // Slots 15-18: whole-buffer locks; the flags go to the buffer with D3DLOCK_NOSYSLOCK added.
    virtual HRESULT LockVertexBuffer(DWORD flags, void** data) = 0;
    virtual HRESULT UnlockVertexBuffer() = 0;
    virtual HRESULT LockIndexBuffer(DWORD flags, void** data) = 0;
    virtual HRESULT UnlockIndexBuffer() = 0;
    // Slot 19: copies the table into entries (when given) and its length into *count (when given).
    virtual HRESULT GetAttributeTable(AttributeRange* entries, DWORD* count) = 0;
    // Slot 20: adjacency (3 entries per face) of faces that share an edge between the same two point
    // representatives, in opposite directions; pointReps null means every vertex stands for itself.
    virtual HRESULT AdjacencyFromPointReps(const DWORD* pointReps, DWORD* adjacency) = 0;
    // Slot 21: for every vertex the lowest vertex that sits on the same corner of faces joined by the
    // adjacency.
    virtual HRESULT PointRepsFromAdjacency(const DWORD* adjacency, DWORD* pointReps) = 0;
    // Slot 22: adjacency of faces whose shared edges' end points lie within tolerance of each other
    // in every coordinate (0.0: equal positions).
    virtual HRESULT GenerateAdjacency(float tolerance, DWORD* adjacency) = 0;
    // Slot 23: replaces the declaration by one of the same vertex size.
    virtual HRESULT ReplaceDeclaration(const D3DVERTEXELEMENT9* declaration) = 0;

protected:
    ~BaseMesh() = default;
};

// The mesh with its attribute buffer, slots 24 to 28.
struct Mesh : BaseMesh {
    static constexpr IID iid = {0x4020E5C2, 0x1403, 0x4929, {0x88, 0x3F, 0xE2, 0xE8, 0x49, 0xFA, 0xC1, 0x95}};

    // Slot 24: one attribute id per face. Without D3DLOCK_READONLY the attribute table is discarded
    // (draws scan the attribute buffer until the next sort).
    virtual HRESULT LockAttributeBuffer(DWORD flags, DWORD** data) = 0;
    virtual HRESULT UnlockAttributeBuffer() = 0;  // slot 25
    // Slot 26: a clone (options as CloneWithDeclaration) optimised as slot 27.
    virtual HRESULT Optimize(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                             DataBuffer** vertexRemap, Mesh** optimized) = 0;
    // Slot 27: reorders faces (stable, by attribute id, with kOptimizeAttrSort or the cache and strip
    // flags) and, unless kOptimizeIgnoreVerts, vertices by first use; kOptimizeCompact drops unused
    // vertices. faceRemap[new] = old face, vertex remap [new] = old vertex; adjacencyOut is adjacencyIn
    // renumbered (adjacencyIn may be null when adjacencyOut is). With sorting the attribute table is
    // rebuilt and becomes valid. Each output is optional; adjacencyOut may equal adjacencyIn.
    virtual HRESULT OptimizeInPlace(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                                    DataBuffer** vertexRemap) = 0;
    // Slot 28: replaces the attribute table; count 0 with entries null empties it.
    virtual HRESULT SetAttributeRanges(const AttributeRange* entries, DWORD count) = 0;

protected:
    ~Mesh() = default;
};

// Makes a mesh of faceCount faces (zero attributes) and vertexCount vertices of the declaration on
// the device, with the pools and usages of the option word (kMeshCreateOptions). Without
// kMesh32BitIndices both counts must stay below 65535. D3DERR_INVALIDCALL for bad arguments,
// E_OUTOFMEMORY, or the device's failure code; *mesh is null on failure.
HRESULT CreateMeshObject(DWORD faceCount, DWORD vertexCount, DWORD options, const D3DVERTEXELEMENT9* declaration,
                         IDirect3DDevice9* device, Mesh** mesh);

// CreateMeshObject with the declaration of a vertex-format code.
HRESULT CreateMeshObjectFVF(DWORD faceCount, DWORD vertexCount, DWORD options, DWORD fvf, IDirect3DDevice9* device,
                            Mesh** mesh);

}  // namespace qm
