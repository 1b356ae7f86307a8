// mesh_topology.cpp: point representatives (disjoint-set forests with path halving, Galler and
// Fischer 1964), edge adjacency and the in-place optimisation's face and vertex orders.
#include "library/mesh/mesh_topology.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <unordered_map>

namespace qm {
namespace {

// Disjoint sets over vertices whose root is always the set's lowest member.
class LowestRootSets {
public:
    explicit LowestRootSets(DWORD count) : parent_(count) { std::iota(parent_.begin(), parent_.end(), 0u); }
    DWORD Find(DWORD v) {
        while (parent_[v] != v) {
            parent_[v] = parent_[parent_[v]];
            v = parent_[v];
        }
        return v;
    }
    void Join(DWORD a, DWORD b) {
        a = Find(a);
        b = Find(b);
        if (a < b)
            parent_[b] = a;
        else if (b < a)
            parent_[a] = b;
    }

private:
    std::vector<DWORD> parent_;
};

std::uint64_t EdgeKey(DWORD from, DWORD to) { return (std::uint64_t{from} << 32) | to; }

}  // namespace

std::vector<DWORD> PointRepsFromPositions(const std::vector<float>& positions, DWORD vertexCount, float tolerance) {
    LowestRootSets sets(vertexCount);
    auto coordinate = [&](DWORD v, int axis) { return positions[3 * static_cast<std::size_t>(v) + axis]; };
    auto hasNan = [&](DWORD v) {
        return std::isnan(coordinate(v, 0)) || std::isnan(coordinate(v, 1)) || std::isnan(coordinate(v, 2));
    };
    // Sweep along x: only vertices whose x lies within tolerance can match.
    std::vector<DWORD> order;
    order.reserve(vertexCount);
    for (DWORD v = 0; v < vertexCount; ++v)
        if (!hasNan(v)) order.push_back(v);
    std::stable_sort(order.begin(), order.end(), [&](DWORD a, DWORD b) { return coordinate(a, 0) < coordinate(b, 0); });
    for (std::size_t i = 0; i < order.size(); ++i) {
        const DWORD a = order[i];
        for (std::size_t j = i + 1; j < order.size(); ++j) {
            const DWORD b = order[j];
            if (coordinate(b, 0) - coordinate(a, 0) > tolerance) break;
            if (std::fabs(coordinate(b, 1) - coordinate(a, 1)) <= tolerance &&
                std::fabs(coordinate(b, 2) - coordinate(a, 2)) <= tolerance)
                sets.Join(a, b);
        }
    }
    std::vector<DWORD> reps(vertexCount);
    for (DWORD v = 0; v < vertexCount; ++v) reps[v] = sets.Find(v);
    return reps;
}

void AdjacencyFromPointReps(const std::vector<DWORD>& indices, DWORD vertexCount, const DWORD* pointReps,
                            DWORD* adjacency) {
    const std::size_t faceCount = indices.size() / 3;
    auto rep = [&](DWORD v) { return pointReps != nullptr && v < vertexCount ? pointReps[v] : v; };
    std::fill(adjacency, adjacency + 3 * faceCount, kNoNeighbour);
    // Edges still waiting for a neighbour, by (from, to) representatives, earliest first.
    std::unordered_map<std::uint64_t, std::vector<DWORD>> open;
    for (std::size_t f = 0; f < faceCount; ++f) {
        for (DWORD k = 0; k < 3; ++k) {
            const DWORD a = rep(indices[3 * f + k]);
            const DWORD b = rep(indices[3 * f + (k + 1) % 3]);
            if (a == b) continue;
            auto found = open.find(EdgeKey(b, a));
            bool paired = false;
            if (found != open.end()) {
                std::vector<DWORD>& waiting = found->second;
                for (auto it = waiting.begin(); it != waiting.end(); ++it) {
                    const DWORD otherEdge = *it;
                    if (otherEdge / 3 == f) continue;
                    adjacency[3 * f + k] = otherEdge / 3;
                    adjacency[otherEdge] = static_cast<DWORD>(f);
                    waiting.erase(it);
                    paired = true;
                    break;
                }
            }
            if (!paired) open[EdgeKey(a, b)].push_back(static_cast<DWORD>(3 * f + k));
        }
    }
}

void PointRepsFromAdjacency(const std::vector<DWORD>& indices, DWORD vertexCount, const DWORD* adjacency,
                            DWORD* pointReps) {
    const std::size_t faceCount = indices.size() / 3;
    LowestRootSets sets(vertexCount);
    auto join = [&](DWORD a, DWORD b) {
        if (a < vertexCount && b < vertexCount) sets.Join(a, b);
    };
    for (std::size_t f = 0; f < faceCount; ++f) {
        for (DWORD k = 0; k < 3; ++k) {
            const DWORD g = adjacency[3 * f + k];
            if (g >= faceCount || g == f) continue;
            // The neighbour's edge back to f runs the other way: its first corner meets f's second.
            for (DWORD j = 0; j < 3; ++j) {
                if (adjacency[3 * static_cast<std::size_t>(g) + j] != f) continue;
                join(indices[3 * f + k], indices[3 * static_cast<std::size_t>(g) + (j + 1) % 3]);
                join(indices[3 * f + (k + 1) % 3], indices[3 * static_cast<std::size_t>(g) + j]);
                break;
            }
        }
    }
    for (DWORD v = 0; v < vertexCount; ++v) pointReps[v] = sets.Find(v);
}

std::vector<AttributeRange> BuildAttributeTable(const std::vector<DWORD>& indices,
                                                const std::vector<DWORD>& attributes) {
    std::vector<AttributeRange> table;
    const std::size_t faceCount = attributes.size();
    for (std::size_t first = 0; first < faceCount;) {
        std::size_t last = first;
        DWORD low = 0xFFFFFFFF, high = 0;
        while (last < faceCount && attributes[last] == attributes[first]) {
            for (int c = 0; c < 3; ++c) {
                low = std::min(low, indices[3 * last + c]);
                high = std::max(high, indices[3 * last + c]);
            }
            ++last;
        }
        table.push_back(AttributeRange{attributes[first], static_cast<DWORD>(first), static_cast<DWORD>(last - first),
                                       low, high - low + 1});
        first = last;
    }
    return table;
}

bool PlanOptimization(DWORD flags, const std::vector<DWORD>& indices, const std::vector<DWORD>& attributes,
                      DWORD vertexCount, OptimizationPlan* plan) {
    const std::size_t faceCount = attributes.size();
    plan->sorted = (flags & (kOptimizeAttrSort | kOptimizeVertexCache | kOptimizeStripReorder)) != 0;
    plan->faceRemap.resize(faceCount);
    std::iota(plan->faceRemap.begin(), plan->faceRemap.end(), 0u);
    if (plan->sorted) {
        std::stable_sort(plan->faceRemap.begin(), plan->faceRemap.end(),
                         [&](DWORD a, DWORD b) { return attributes[a] < attributes[b]; });
    }

    // Vertices follow their first use in the new face order, so that each group's vertices lie
    // together; with compaction the unused ones are dropped, otherwise they keep their order at the end.
    const bool moveVertices = (flags & kOptimizeIgnoreVerts) == 0 && (plan->sorted || (flags & kOptimizeCompact) != 0);
    std::vector<DWORD> oldToNew;
    if (moveVertices) {
        for (DWORD index : indices)
            if (index >= vertexCount) return false;
        oldToNew.assign(vertexCount, kNoNeighbour);
        plan->vertexRemap.clear();
        for (DWORD face : plan->faceRemap) {
            for (int c = 0; c < 3; ++c) {
                DWORD old = indices[3 * static_cast<std::size_t>(face) + c];
                if (oldToNew[old] == kNoNeighbour) {
                    oldToNew[old] = static_cast<DWORD>(plan->vertexRemap.size());
                    plan->vertexRemap.push_back(old);
                }
            }
        }
        if ((flags & kOptimizeCompact) == 0) {
            for (DWORD v = 0; v < vertexCount; ++v) {
                if (oldToNew[v] != kNoNeighbour) continue;
                oldToNew[v] = static_cast<DWORD>(plan->vertexRemap.size());
                plan->vertexRemap.push_back(v);
            }
        }
    } else {
        plan->vertexRemap.resize(vertexCount);
        std::iota(plan->vertexRemap.begin(), plan->vertexRemap.end(), 0u);
    }

    plan->indices.resize(indices.size());
    plan->attributes.resize(faceCount);
    for (std::size_t f = 0; f < faceCount; ++f) {
        const DWORD old = plan->faceRemap[f];
        plan->attributes[f] = attributes[old];
        for (int c = 0; c < 3; ++c) {
            DWORD index = indices[3 * static_cast<std::size_t>(old) + c];
            plan->indices[3 * f + c] = moveVertices ? oldToNew[index] : index;
        }
    }
    if (plan->sorted) plan->table = BuildAttributeTable(plan->indices, plan->attributes);
    return true;
}

}  // namespace qm
