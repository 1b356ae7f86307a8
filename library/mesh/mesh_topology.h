// mesh_topology.h: the mesh's face-topology algorithms on plain index arrays: point representatives
// from positions, adjacency from point representatives and back, and the face and vertex orders of
// the in-place optimisation with its attribute table.
#pragma once

#include <span>
#include <vector>

#include "library/mesh/mesh.h"
#include "platform/win/large_blocks.h"

namespace qm {

// Arrays sized by a mesh's vertices or faces, in huge-page-backed storage once they are large.
template <class T>
using MeshArray = std::vector<T, LargeBlockAllocator<T>>;
// The same for arrays written in full once sized: sizing them does not clear them first.
template <class T>
using FilledMeshArray = std::vector<T, UninitializedLargeBlockAllocator<T>>;

// For every vertex the lowest vertex whose position lies within tolerance of it in x, y and z,
// joined transitively (tolerance 0: equal positions). Vertices with a NaN coordinate stand alone.
// positions: vertexCount entries of x, y, z (floats), `stride` bytes apart; reps: vertexCount entries.
void PointRepsFromPositions(const BYTE* positions, std::size_t stride, DWORD vertexCount, float tolerance,
                            DWORD* reps);
inline std::vector<DWORD> PointRepsFromPositions(const std::vector<float>& positions, DWORD vertexCount,
                                                 float tolerance) {
    std::vector<DWORD> reps(vertexCount);
    PointRepsFromPositions(reinterpret_cast<const BYTE*>(positions.data()), 3 * sizeof(float), vertexCount, tolerance,
                           reps.data());
    return reps;
}

// Three entries per face: the face across edge k (corners k and k + 1), or kNoNeighbour. Faces are
// neighbours across an edge whose end points have the same representatives in opposite order; each
// edge has at most one neighbour, the earliest face still free. pointReps has vertexCount entries or
// is null (each vertex its own); indices at or past vertexCount stand for themselves.
void AdjacencyFromPointReps(const DWORD* indices, std::size_t indexCount, DWORD vertexCount, const DWORD* pointReps,
                            DWORD* adjacency);
inline void AdjacencyFromPointReps(const std::vector<DWORD>& indices, DWORD vertexCount, const DWORD* pointReps,
                                   DWORD* adjacency) {
    AdjacencyFromPointReps(indices.data(), indices.size(), vertexCount, pointReps, adjacency);
}

// For every vertex the lowest vertex that shares a corner with it across the adjacency.
void PointRepsFromAdjacency(const std::vector<DWORD>& indices, DWORD vertexCount, const DWORD* adjacency,
                            DWORD* pointReps);

// The result of planning an in-place optimisation.
struct OptimizationPlan {
    FilledMeshArray<DWORD> faceRemap;   // new face -> old face
    FilledMeshArray<DWORD> newFace;     // old face -> new face
    MeshArray<DWORD> vertexRemap;       // new vertex -> old vertex; empty when no vertex moves
    FilledMeshArray<DWORD> indices;     // the new index list
    MeshArray<DWORD> attributes;        // the new attribute ids
    std::vector<AttributeRange> table;  // filled when the faces were sorted
    bool sorted = false;
};

// Plans the optimisation of the flags (kOptimizeFlags) for the given faces. false when the indices
// name vertices at or past vertexCount and the vertices were to be reordered.
bool PlanOptimization(DWORD flags, std::span<const DWORD> indices, std::span<const DWORD> attributes,
                      DWORD vertexCount, OptimizationPlan* plan);

// The attribute table of faces already grouped by attribute: one entry per run of equal ids, with
// the smallest and largest vertex the run's faces use.
std::vector<AttributeRange> BuildAttributeTable(std::span<const DWORD> indices, std::span<const DWORD> attributes);

}  // namespace qm
