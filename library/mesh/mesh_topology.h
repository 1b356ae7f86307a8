// mesh_topology.h: the mesh's face-topology algorithms on plain index arrays: point representatives
// from positions, adjacency from point representatives and back, and the face and vertex orders of
// the in-place optimisation with its attribute table.
#pragma once

#include <vector>

#include "library/mesh/mesh.h"

namespace qm {

// For every vertex the lowest vertex whose position lies within tolerance of it in x, y and z,
// joined transitively (tolerance 0: equal positions). Vertices with a NaN coordinate stand alone.
// positions: vertexCount entries of x, y, z.
std::vector<DWORD> PointRepsFromPositions(const std::vector<float>& positions, DWORD vertexCount, float tolerance);

// Three entries per face: the face across edge k (corners k and k + 1), or kNoNeighbour. Faces are
// neighbours across an edge whose end points have the same representatives in opposite order; each
// edge has at most one neighbour, the earliest face still free. pointReps has vertexCount entries or
// is null (each vertex its own); indices at or past vertexCount stand for themselves.
void AdjacencyFromPointReps(const std::vector<DWORD>& indices, DWORD vertexCount, const DWORD* pointReps,
                            DWORD* adjacency);

// For every vertex the lowest vertex that shares a corner with it across the adjacency.
void PointRepsFromAdjacency(const std::vector<DWORD>& indices, DWORD vertexCount, const DWORD* adjacency,
                            DWORD* pointReps);

// The result of planning an in-place optimisation.
struct OptimizationPlan {
    std::vector<DWORD> faceRemap;       // new face -> old face
    std::vector<DWORD> vertexRemap;     // new vertex -> old vertex
    std::vector<DWORD> indices;         // the new index list
    std::vector<DWORD> attributes;      // the new attribute ids
    std::vector<AttributeRange> table;  // filled when the faces were sorted
    bool sorted = false;
};

// Plans the optimisation of the flags (kOptimizeFlags) for the given faces. false when the indices
// name vertices at or past vertexCount and the vertices were to be reordered.
bool PlanOptimization(DWORD flags, const std::vector<DWORD>& indices, const std::vector<DWORD>& attributes,
                      DWORD vertexCount, OptimizationPlan* plan);

// The attribute table of faces already grouped by attribute: one entry per run of equal ids, with
// the smallest and largest vertex the run's faces use.
std::vector<AttributeRange> BuildAttributeTable(const std::vector<DWORD>& indices,
                                                const std::vector<DWORD>& attributes);

}  // namespace qm
