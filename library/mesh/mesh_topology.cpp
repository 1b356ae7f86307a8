// mesh_topology.cpp: point representatives (disjoint-set forests with path halving, Galler and
// Fischer 1964), edge adjacency and the in-place optimisation's face and vertex orders.
#include "library/mesh/mesh_topology.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>

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

bool IsFinite(float v) { return v - v == 0.0f; }

// A float's bits with -0 folded onto +0, so that values comparing equal hash alike.
std::uint32_t EqualityBits(float v) {
    v += 0.0f;
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

std::uint32_t HashBits(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
    std::uint64_t h = x * 0x9E3779B97F4A7C15ull;
    h = (h ^ y) * 0xC2B2AE3D27D4EB4Full;
    h = (h ^ z) * 0x165667B19E3779F9ull;
    return static_cast<std::uint32_t>(h >> 32);
}

// Tolerance 0: x equal (infinities included), y and z equal and finite. Equality is transitive, so
// every vertex's representative is the first vertex of its exact position, found in a flat
// open-addressing table. Each entry holds the position's hash beside its vertex, so that a probe
// loads another vertex's position only when the hashes agree. The table is larger than the fast
// caches, so each vertex's slot is hashed and prefetched kAhead vertices before it is probed.
void GroupEqualPositions(const BYTE* positions, std::size_t stride, DWORD vertexCount, DWORD* reps) {
    std::size_t capacity = 16;
    while (capacity < 2 * static_cast<std::size_t>(vertexCount)) capacity *= 2;
    const std::size_t mask = capacity - 1;
    constexpr std::uint64_t kEmpty = ~std::uint64_t{0};
    MeshArray<std::uint64_t> table(capacity, kEmpty);
    auto load = [&](DWORD v, float* xyz) { std::memcpy(xyz, positions + v * stride, 3 * sizeof(float)); };
    constexpr std::uint64_t kUnusable = ~std::uint64_t{0};
    constexpr DWORD kAhead = 64;
    std::uint64_t hashes[kAhead];
    auto hash = [&](DWORD v) {
        float p[3];
        load(v, p);
        if (p[0] != p[0] || !IsFinite(p[1]) || !IsFinite(p[2])) return kUnusable;
        const std::uint64_t h = HashBits(EqualityBits(p[0]), EqualityBits(p[1]), EqualityBits(p[2]));
        __builtin_prefetch(&table[h & mask], 1);
        return h;
    };
    for (DWORD v = 0; v < std::min(kAhead, vertexCount); ++v) hashes[v] = hash(v);
    for (DWORD v = 0; v < vertexCount; ++v) {
        const std::uint64_t h = hashes[v % kAhead];
        if (v + kAhead < vertexCount) hashes[v % kAhead] = hash(v + kAhead);
        reps[v] = v;
        if (h == kUnusable) continue;
        const std::uint64_t tag = h << 32;
        for (std::size_t slot = h & mask;; slot = (slot + 1) & mask) {
            const std::uint64_t held = table[slot];
            if (held == kEmpty) {
                table[slot] = tag | v;
                break;
            }
            if ((held >> 32) != h) continue;
            float p[3], q[3];
            load(v, p);
            load(static_cast<DWORD>(held), q);
            if (q[0] == p[0] && q[1] == p[1] && q[2] == p[2]) {
                reps[v] = static_cast<DWORD>(held);
                break;
            }
        }
    }
}

// Whether two vertices lie within tolerance: the later one in x order minus the earlier one along
// x (same-sign infinities count as near), the absolute differences along y and z.
bool WithinTolerance(const float* a, const float* b, float tolerance) {
    const float* low = a[0] <= b[0] ? a : b;
    const float* high = low == a ? b : a;
    return !(high[0] - low[0] > tolerance) && std::fabs(b[1] - a[1]) <= tolerance &&
           std::fabs(b[2] - a[2]) <= tolerance;
}

// A finite positive tolerance: vertices go into cubic cells at least twice the tolerance wide, so
// that vertices within tolerance lie in the same or neighbouring cells; each cell is compared with
// itself and its 13 neighbours that follow it in (x, y, z) cell order. Vertices at infinite x meet
// only those at the same infinity, which get their own distant cell column.
void JoinNearPositions(const float* positions, DWORD vertexCount, float tolerance, LowestRootSets& sets) {
    struct Entry {
        std::int64_t cell[3];
        DWORD vertex;
        bool operator<(const Entry& o) const {
            if (cell[0] != o.cell[0]) return cell[0] < o.cell[0];
            if (cell[1] != o.cell[1]) return cell[1] < o.cell[1];
            if (cell[2] != o.cell[2]) return cell[2] < o.cell[2];
            return vertex < o.vertex;
        }
    };
    auto at = [&](DWORD v) { return positions + 3 * static_cast<std::size_t>(v); };
    // Cells stay within 2^40 of the origin, where a double quotient is far finer than a cell.
    double largest = 0.0;
    for (DWORD v = 0; v < vertexCount; ++v)
        for (int axis = 0; axis < 3; ++axis)
            if (IsFinite(at(v)[axis])) largest = std::max(largest, std::fabs(static_cast<double>(at(v)[axis])));
    const double cellSize = std::max(2.0 * tolerance, largest / 1099511627776.0);
    constexpr std::int64_t kInfiniteColumn = std::int64_t{1} << 60;

    std::vector<Entry> entries;
    entries.reserve(vertexCount);
    for (DWORD v = 0; v < vertexCount; ++v) {
        const float* p = at(v);
        if (p[0] != p[0] || !IsFinite(p[1]) || !IsFinite(p[2])) continue;  // such vertices meet none
        Entry e{};
        e.vertex = v;
        e.cell[0] = IsFinite(p[0]) ? static_cast<std::int64_t>(std::floor(p[0] / cellSize))
                                   : (p[0] > 0 ? kInfiniteColumn : -kInfiniteColumn);
        e.cell[1] = static_cast<std::int64_t>(std::floor(p[1] / cellSize));
        e.cell[2] = static_cast<std::int64_t>(std::floor(p[2] / cellSize));
        entries.push_back(e);
    }
    std::sort(entries.begin(), entries.end());

    // Cell runs: start of each, then the end.
    std::vector<std::size_t> runs;
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (i == 0 || std::memcmp(entries[i].cell, entries[i - 1].cell, sizeof entries[i].cell) != 0) runs.push_back(i);
    runs.push_back(entries.size());
    auto compare = [&](std::size_t firstA, std::size_t endA, std::size_t firstB, std::size_t endB) {
        for (std::size_t i = firstA; i < endA; ++i)
            for (std::size_t j = firstB; j < endB; ++j)
                if (WithinTolerance(at(entries[i].vertex), at(entries[j].vertex), tolerance))
                    sets.Join(entries[i].vertex, entries[j].vertex);
    };
    for (std::size_t r = 0; r + 1 < runs.size(); ++r) {
        const std::size_t first = runs[r], end = runs[r + 1];
        for (std::size_t i = first; i < end; ++i)
            for (std::size_t j = i + 1; j < end; ++j)
                if (WithinTolerance(at(entries[i].vertex), at(entries[j].vertex), tolerance))
                    sets.Join(entries[i].vertex, entries[j].vertex);
        const std::int64_t* c = entries[first].cell;
        // Neighbour columns (dx, dy) whose cells follow this one; in column (0, 0) only dz = +1.
        static constexpr int kColumns[5][2] = {{0, 0}, {0, 1}, {1, -1}, {1, 0}, {1, 1}};
        for (const auto& column : kColumns) {
            Entry probe{};
            probe.cell[0] = c[0] + column[0];
            probe.cell[1] = c[1] + column[1];
            probe.cell[2] = column[0] == 0 && column[1] == 0 ? c[2] + 1 : c[2] - 1;
            probe.vertex = 0;
            std::size_t k = static_cast<std::size_t>(
                std::lower_bound(runs.begin() + static_cast<std::ptrdiff_t>(r + 1), runs.end() - 1, probe,
                                 [&](std::size_t run, const Entry& key) { return entries[run] < key; }) -
                runs.begin());
            for (; k + 1 < runs.size(); ++k) {
                const std::int64_t* d = entries[runs[k]].cell;
                if (d[0] != probe.cell[0] || d[1] != probe.cell[1] || d[2] > c[2] + 1) break;
                compare(first, end, runs[k], runs[k + 1]);
            }
        }
    }
}

// Any other tolerance (infinite): a sweep along x, comparing each vertex with those after it in x
// order until x differs by more than the tolerance.
void SweepPositions(const float* positions, DWORD vertexCount, float tolerance, LowestRootSets& sets) {
    auto coordinate = [&](DWORD v, int axis) { return positions[3 * static_cast<std::size_t>(v) + axis]; };
    std::vector<DWORD> order;
    order.reserve(vertexCount);
    for (DWORD v = 0; v < vertexCount; ++v)
        if (coordinate(v, 0) == coordinate(v, 0) && coordinate(v, 1) == coordinate(v, 1) &&
            coordinate(v, 2) == coordinate(v, 2))
            order.push_back(v);
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
}

// The half-edges of one undirected edge still waiting for a neighbour, per direction, earliest first.
struct HalfEdgeRun {
    std::vector<DWORD> open[2];
};

}  // namespace

void PointRepsFromPositions(const BYTE* positions, std::size_t stride, DWORD vertexCount, float tolerance,
                            DWORD* reps) {
    if (tolerance == 0.0f) {
        GroupEqualPositions(positions, stride, vertexCount, reps);
        return;
    }
    // A negative or NaN tolerance brings no two vertices together.
    if (!(tolerance > 0.0f)) {
        std::iota(reps, reps + vertexCount, 0u);
        return;
    }
    std::vector<float> packed(3 * static_cast<std::size_t>(vertexCount));
    for (DWORD v = 0; v < vertexCount; ++v)
        std::memcpy(&packed[3 * std::size_t{v}], positions + v * stride, 3 * sizeof(float));
    LowestRootSets sets(vertexCount);
    if (IsFinite(tolerance))
        JoinNearPositions(packed.data(), vertexCount, tolerance, sets);
    else
        SweepPositions(packed.data(), vertexCount, tolerance, sets);
    for (DWORD v = 0; v < vertexCount; ++v) reps[v] = sets.Find(v);
}

void AdjacencyFromPointReps(const DWORD* indices, std::size_t indexCount, DWORD vertexCount, const DWORD* pointReps,
                            DWORD* adjacency) {
    // Half-edges that join the same two representatives, in either direction, are gathered by the
    // lower representative (a counting sort, so each bucket keeps face order) and then by the higher
    // one; each such run is paired in face order, as if the faces were visited one by one.
    const std::size_t faceCount = indexCount / 3;
    const std::size_t halfEdgeCount = 3 * faceCount;
    std::fill(adjacency, adjacency + halfEdgeCount, kNoNeighbour);
    if (faceCount == 0) return;

    // Every corner's representative, looked up once; the half-edges are counted per lower end in
    // the same pass while every representative is below the vertex count (one bucket per vertex).
    FilledMeshArray<DWORD> corners(halfEdgeCount);
    MeshArray<DWORD> bucketStart(std::size_t{vertexCount} + 1, 0);
    auto rep = [&](DWORD v) { return pointReps != nullptr && v < vertexCount ? pointReps[v] : v; };
    auto count = [&](DWORD a, DWORD b) {
        if (a != b) ++bucketStart[std::min(a, b) + std::size_t{1}];
    };
    DWORD highest = 0;
    for (std::size_t f = 0; f < halfEdgeCount; f += 3) {
        const DWORD c0 = rep(indices[f]), c1 = rep(indices[f + 1]), c2 = rep(indices[f + 2]);
        corners[f] = c0;
        corners[f + 1] = c1;
        corners[f + 2] = c2;
        highest = std::max(highest, std::max(c0, std::max(c1, c2)));
        if (highest < vertexCount) {
            count(c0, c1);
            count(c1, c2);
            count(c2, c0);
        }
    }
    if (highest >= vertexCount) {
        // Representatives past what one bucket per value can cover (indices beyond the vertex
        // count, or such representatives given) are renumbered densely, in the same order, first.
        if (highest >= std::size_t{vertexCount} + halfEdgeCount) {
            std::vector<DWORD> values(corners.begin(), corners.end());
            std::sort(values.begin(), values.end());
            values.erase(std::unique(values.begin(), values.end()), values.end());
            for (DWORD& d : corners)
                d = static_cast<DWORD>(std::lower_bound(values.begin(), values.end(), d) - values.begin());
            highest = static_cast<DWORD>(values.size() - 1);
        }
        bucketStart.assign(std::size_t{highest} + 2, 0);
        for (std::size_t f = 0; f < halfEdgeCount; f += 3) {
            count(corners[f], corners[f + 1]);
            count(corners[f + 1], corners[f + 2]);
            count(corners[f + 2], corners[f]);
        }
    }
    const DWORD* corner = corners.data();
    const std::size_t bucketCount = bucketStart.size() - 1;
    for (std::size_t i = 0; i < bucketCount; ++i) bucketStart[i + 1] += bucketStart[i];

    // Each bucket's half-edges, placed from its end down so that the starts come out in place: the
    // half-edges are visited last to first, which leaves each bucket in face order, and afterwards
    // bucket b starts at bucketStart[b + 1] and ends where bucket b + 1 starts. Each item holds the
    // higher representative above the half-edge number.
    FilledMeshArray<std::uint64_t> items(bucketStart[bucketCount]);
    {
        DWORD* next = bucketStart.data() + 1;
        auto place = [&](DWORD a, DWORD b, std::size_t e) {
            if (a != b) items[--next[std::min(a, b)]] = std::uint64_t{std::max(a, b)} << 32 | e;
        };
        for (std::size_t f = halfEdgeCount; f > 0;) {
            f -= 3;
            const DWORD c0 = corner[f], c1 = corner[f + 1], c2 = corner[f + 2];
            place(c2, c0, f + 2);
            place(c1, c2, f + 1);
            place(c0, c1, f);
        }
    }
    const DWORD* startOf = bucketStart.data() + 1;

    HalfEdgeRun run;
    for (std::size_t bucket = 0; bucket < bucketCount; ++bucket) {
        std::uint64_t* first = items.data() + startOf[bucket];
        std::uint64_t* last = items.data() + (bucket + 1 < bucketCount ? startOf[bucket + 1] : items.size());
        const std::size_t n = static_cast<std::size_t>(last - first);
        if (n < 2) continue;
        if (n <= 32) {
            // In face order, each half-edge takes the earliest one still open that joins the same
            // two representatives the other way round from another face; the open ones are a mask.
            DWORD highEnd[32], face[32];
            bool fromLow[32];
            std::uint32_t open = 0;
            for (std::size_t i = 0; i < n; ++i) {
                const DWORD e = static_cast<DWORD>(first[i]);
                highEnd[i] = static_cast<DWORD>(first[i] >> 32);
                fromLow[i] = corner[e] == bucket;
                face[i] = e / 3;
                std::uint32_t candidates = open;
                bool paired = false;
                while (candidates != 0) {
                    const int j = __builtin_ctz(candidates);
                    candidates &= candidates - 1;
                    if (highEnd[j] != highEnd[i] || fromLow[j] == fromLow[i] || face[j] == face[i]) continue;
                    adjacency[e] = face[j];
                    adjacency[static_cast<DWORD>(first[j])] = face[i];
                    open &= ~(std::uint32_t{1} << j);
                    paired = true;
                    break;
                }
                if (!paired) open |= std::uint32_t{1} << i;
            }
            continue;
        }
        // Larger buckets (a vertex many faces meet at) are sorted by their higher end, then face order.
        std::sort(first, last);
        for (std::uint64_t* begin = first; begin < last;) {
            std::uint64_t* end = begin + 1;
            while (end < last && (*end >> 32) == (*begin >> 32)) ++end;
            if (end - begin >= 2) {
                // Direction 0 runs from the lower representative to the higher.
                run.open[0].clear();
                run.open[1].clear();
                for (std::uint64_t* it = begin; it < end; ++it) {
                    const DWORD e = static_cast<DWORD>(*it);
                    const DWORD face = e / 3;
                    const int direction = corner[e] == bucket ? 0 : 1;
                    std::vector<DWORD>& waiting = run.open[1 - direction];
                    bool paired = false;
                    for (auto w = waiting.begin(); w != waiting.end(); ++w) {
                        if (*w / 3 == face) continue;
                        adjacency[e] = *w / 3;
                        adjacency[*w] = face;
                        waiting.erase(w);
                        paired = true;
                        break;
                    }
                    if (!paired) run.open[direction].push_back(e);
                }
            }
            begin = end;
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

std::vector<AttributeRange> BuildAttributeTable(std::span<const DWORD> indices, std::span<const DWORD> attributes) {
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

namespace {

// Faces in order of attribute id, keeping their order within an id, into plan->faceRemap. Meshes
// carry few distinct ids, so the faces are counted into one run per id; many distinct ids fall back
// to a merge sort. With `copyFaces` (the indices kept as they are), the counted path also writes the
// sorted faces (indices, ids, and each old face's new place) and the attribute table (one entry per
// id, with the range of the vertices its faces use) in the same pass, and returns true; otherwise
// that is left to the caller.
bool SortFacesByAttribute(std::span<const DWORD> attributes, std::span<const DWORD> indices, bool copyFaces,
                          OptimizationPlan* plan) {
    const std::size_t faceCount = attributes.size();
    FilledMeshArray<DWORD>& order = plan->faceRemap;
    constexpr std::size_t kFewIds = 64;
    std::vector<DWORD> ids;
    for (std::size_t f = 0; f < faceCount && ids.size() <= kFewIds; ++f)
        if (f == 0 || attributes[f] != attributes[f - 1])
            if (std::find(ids.begin(), ids.end(), attributes[f]) == ids.end()) ids.push_back(attributes[f]);
    order.resize(faceCount);
    if (ids.size() > kFewIds) {
        std::iota(order.begin(), order.end(), 0u);
        std::stable_sort(order.begin(), order.end(), [&](DWORD a, DWORD b) { return attributes[a] < attributes[b]; });
        return false;
    }
    std::sort(ids.begin(), ids.end());
    std::vector<std::size_t> start(ids.size() + 1, 0);
    std::size_t run = 0;  // the run of the previous face, looked up again only when the id changes
    for (std::size_t f = 0; f < faceCount; ++f) {
        if (f == 0 || attributes[f] != attributes[f - 1])
            run = static_cast<std::size_t>(std::lower_bound(ids.begin(), ids.end(), attributes[f]) - ids.begin());
        ++start[run + 1];
    }
    for (std::size_t i = 0; i < ids.size(); ++i) start[i + 1] += start[i];
    if (!copyFaces) {
        for (std::size_t f = 0; f < faceCount; ++f) {
            if (f == 0 || attributes[f] != attributes[f - 1])
                run = static_cast<std::size_t>(std::lower_bound(ids.begin(), ids.end(), attributes[f]) - ids.begin());
            order[start[run]++] = static_cast<DWORD>(f);
        }
        return false;
    }
    plan->indices.resize(indices.size());
    plan->newFace.resize(faceCount);
    DWORD* newIndices = plan->indices.data();
    DWORD* newFace = plan->newFace.data();
    const std::vector<std::size_t> first(start.begin(), start.end() - 1);
    std::vector<DWORD> low(ids.size(), 0xFFFFFFFF), high(ids.size(), 0);
    // The current id's next place and vertex range are held in locals while its faces follow one
    // another (stored through the output arrays, the id's entries would be reloaded every face).
    std::size_t to = 0;
    DWORD runLow = 0, runHigh = 0;
    for (std::size_t f = 0; f < faceCount; ++f) {
        if (f == 0 || attributes[f] != attributes[f - 1]) {
            if (f > 0) {
                start[run] = to;
                low[run] = runLow;
                high[run] = runHigh;
            }
            run = static_cast<std::size_t>(std::lower_bound(ids.begin(), ids.end(), attributes[f]) - ids.begin());
            to = start[run];
            runLow = low[run];
            runHigh = high[run];
        }
        order[to] = static_cast<DWORD>(f);
        newFace[f] = static_cast<DWORD>(to);
        const DWORD a = indices[3 * f], b = indices[3 * f + 1], c = indices[3 * f + 2];
        newIndices[3 * to] = a;
        newIndices[3 * to + 1] = b;
        newIndices[3 * to + 2] = c;
        runLow = std::min(runLow, std::min(a, std::min(b, c)));
        runHigh = std::max(runHigh, std::max(a, std::max(b, c)));
        ++to;
    }
    start[run] = to;
    low[run] = runLow;
    high[run] = runHigh;
    // The sorted ids are the runs themselves, written once each.
    plan->attributes.clear();
    plan->attributes.reserve(faceCount);
    for (std::size_t i = 0; i < ids.size(); ++i)
        plan->attributes.insert(plan->attributes.end(), start[i] - first[i], ids[i]);
    plan->table.clear();
    for (std::size_t i = 0; i < ids.size(); ++i)
        plan->table.push_back(AttributeRange{ids[i], static_cast<DWORD>(first[i]),
                                             static_cast<DWORD>(start[i] - first[i]), low[i], high[i] - low[i] + 1});
    return true;
}

}  // namespace

bool PlanOptimization(DWORD flags, std::span<const DWORD> indices, std::span<const DWORD> attributes,
                      DWORD vertexCount, OptimizationPlan* plan) {
    const std::size_t faceCount = attributes.size();
    plan->sorted = (flags & (kOptimizeAttrSort | kOptimizeVertexCache | kOptimizeStripReorder)) != 0;
    // Vertices follow their first use in the new face order, so that each group's vertices lie
    // together; with compaction the unused ones are dropped, otherwise they keep their order at the end.
    const bool moveVertices = (flags & kOptimizeIgnoreVerts) == 0 && (plan->sorted || (flags & kOptimizeCompact) != 0);
    // While the indices stay as they are, the sort can make the attribute table on its way.
    bool facesCopied = false;
    if (plan->sorted) {
        facesCopied = SortFacesByAttribute(attributes, indices, !moveVertices, plan);
    } else {
        plan->faceRemap.resize(faceCount);
        std::iota(plan->faceRemap.begin(), plan->faceRemap.end(), 0u);
    }

    MeshArray<DWORD> oldToNew;
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
        plan->vertexRemap.clear();  // every vertex keeps its place
    }

    if (facesCopied) return true;
    plan->newFace.resize(faceCount);
    for (std::size_t f = 0; f < faceCount; ++f) plan->newFace[plan->faceRemap[f]] = static_cast<DWORD>(f);
    plan->indices.resize(indices.size());
    plan->attributes.resize(faceCount);
    DWORD* newIndices = plan->indices.data();
    DWORD* newAttributes = plan->attributes.data();
    const DWORD* order = plan->faceRemap.data();
    if (moveVertices) {
        for (std::size_t f = 0; f < faceCount; ++f) {
            const std::size_t old = order[f];
            newAttributes[f] = attributes[old];
            for (int c = 0; c < 3; ++c) newIndices[3 * f + c] = oldToNew[indices[3 * old + c]];
        }
    } else {
        for (std::size_t f = 0; f < faceCount; ++f) {
            const std::size_t old = order[f];
            newAttributes[f] = attributes[old];
            std::memcpy(newIndices + 3 * f, &indices[3 * old], 3 * sizeof(DWORD));
        }
    }
    if (plan->sorted) plan->table = BuildAttributeTable(plan->indices, plan->attributes);
    return true;
}

}  // namespace qm
