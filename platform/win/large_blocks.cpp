// large_blocks.cpp: huge-page mappings for the large-block allocator, the medium blocks' own
// mappings, and the blocks both keep for reuse.
#include "platform/win/large_blocks.h"

#include <sys/mman.h>

#include <cstdint>
#include <mutex>
#include <type_traits>

namespace qm {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t MappedLength(std::size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

// Blocks given back and not yet reused, oldest first. Constant-initialised with nothing to destroy,
// so that blocks given back while the process exits (static tables) still find it usable. The lock
// keeps the list whole whichever thread takes or gives back a block (the device's buffers too).
struct KeptBlocks {
    std::mutex mutex;
    void* blocks[kKeptLargeBlocks] = {};
    std::size_t lengths[kKeptLargeBlocks] = {};
    std::size_t count = 0;
    std::size_t bytes = 0;

    void RemoveAt(std::size_t i) {
        bytes -= lengths[i];
        for (std::size_t j = i + 1; j < count; ++j) {
            blocks[j - 1] = blocks[j];
            lengths[j - 1] = lengths[j];
        }
        --count;
        blocks[count] = nullptr;
        lengths[count] = 0;
    }
};
static_assert(std::is_trivially_destructible_v<KeptBlocks>);
constinit KeptBlocks gKept;

// Medium size classes: powers of two from kMediumBlockBytes up to the large size.
constexpr std::size_t kMediumClasses = 5;
static_assert(kMediumBlockBytes << (kMediumClasses - 1) == kLargeBlockBytes);
constexpr std::size_t kKeptPerClass = kKeptMediumBlockBytes / kMediumBlockBytes;

std::size_t MediumClass(std::size_t bytes) {
    std::size_t c = 0;
    while ((kMediumBlockBytes << c) < bytes) ++c;
    return c;
}

// Medium blocks given back, a stack per size class (the latest first). Guarded by gKept's lock.
struct KeptMediumBlocks {
    void* blocks[kMediumClasses][kKeptPerClass] = {};
    std::size_t counts[kMediumClasses] = {};
    std::size_t bytes = 0;
};
static_assert(std::is_trivially_destructible_v<KeptMediumBlocks>);
constinit KeptMediumBlocks gKeptMedium;

}  // namespace

void* MapLargeBlock(std::size_t bytes) noexcept {
    if (bytes > SIZE_MAX - 2 * kHugePage) return nullptr;
    const std::size_t length = MappedLength(bytes);
    // One spare huge page, so that an aligned start can be cut out of the mapping.
    void* raw = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
    if (aligned > start) munmap(raw, aligned - start);
    const std::uintptr_t end = start + length + kHugePage;
    if (end > aligned + length) munmap(reinterpret_cast<void*>(aligned + length), end - (aligned + length));
    void* block = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
    madvise(block, length, MADV_HUGEPAGE);
#endif
    return block;
}

void UnmapLargeBlock(void* block, std::size_t bytes) noexcept {
    if (block != nullptr) munmap(block, MappedLength(bytes));
}

void* TakeLargeBlock(std::size_t bytes, bool* fresh) noexcept {
    if (fresh != nullptr) *fresh = false;
    if (bytes > SIZE_MAX - 2 * kHugePage) return nullptr;
    const std::size_t length = MappedLength(bytes);
    void* block = nullptr;
    std::size_t blockLength = 0;
    {
        std::lock_guard<std::mutex> lock(gKept.mutex);
        // The same length, most recently kept first; else the shortest longer one.
        std::size_t pick = gKept.count;
        for (std::size_t i = gKept.count; i-- > 0;) {
            if (gKept.lengths[i] == length) {
                pick = i;
                break;
            }
            if (gKept.lengths[i] > length && (pick == gKept.count || gKept.lengths[i] < gKept.lengths[pick])) pick = i;
        }
        if (pick < gKept.count) {
            block = gKept.blocks[pick];
            blockLength = gKept.lengths[pick];
            gKept.RemoveAt(pick);
        }
    }
    if (block == nullptr) {
        if (fresh != nullptr) *fresh = true;
        return MapLargeBlock(bytes);
    }
    // A longer block gives its tail (whole huge pages) back to the system.
    if (blockLength > length) munmap(static_cast<std::uint8_t*>(block) + length, blockLength - length);
    return block;
}

void GiveBackLargeBlock(void* block, std::size_t bytes) noexcept {
    if (block == nullptr) return;
    const std::size_t length = MappedLength(bytes);
    if (length > kKeptLargeBlockBytes) {
        munmap(block, length);
        return;
    }
    void* evicted[kKeptLargeBlocks];
    std::size_t evictedLengths[kKeptLargeBlocks];
    std::size_t evictedCount = 0;
    {
        std::lock_guard<std::mutex> lock(gKept.mutex);
        while (gKept.count > 0 &&
               (gKept.count == kKeptLargeBlocks || gKept.bytes + length > kKeptLargeBlockBytes)) {
            evicted[evictedCount] = gKept.blocks[0];
            evictedLengths[evictedCount] = gKept.lengths[0];
            ++evictedCount;
            gKept.RemoveAt(0);
        }
        gKept.blocks[gKept.count] = block;
        gKept.lengths[gKept.count] = length;
        ++gKept.count;
        gKept.bytes += length;
    }
    for (std::size_t i = 0; i < evictedCount; ++i) munmap(evicted[i], evictedLengths[i]);
}

void* TakeMediumBlock(std::size_t bytes) noexcept {
    if (bytes == 0 || bytes > kLargeBlockBytes) return nullptr;
    const std::size_t c = MediumClass(bytes);
    {
        std::lock_guard<std::mutex> lock(gKept.mutex);
        if (gKeptMedium.counts[c] > 0) {
            void* block = gKeptMedium.blocks[c][--gKeptMedium.counts[c]];
            gKeptMedium.blocks[c][gKeptMedium.counts[c]] = nullptr;
            gKeptMedium.bytes -= kMediumBlockBytes << c;
            return block;
        }
    }
    void* block = mmap(nullptr, kMediumBlockBytes << c, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return block == MAP_FAILED ? nullptr : block;
}

void GiveBackMediumBlock(void* block, std::size_t bytes) noexcept {
    if (block == nullptr) return;
    const std::size_t c = MediumClass(bytes);
    const std::size_t length = kMediumBlockBytes << c;
    {
        std::lock_guard<std::mutex> lock(gKept.mutex);
        if (gKeptMedium.bytes + length <= kKeptMediumBlockBytes && gKeptMedium.counts[c] < kKeptPerClass) {
            gKeptMedium.blocks[c][gKeptMedium.counts[c]++] = block;
            gKeptMedium.bytes += length;
            return;
        }
    }
    munmap(block, length);
}

std::size_t KeptMediumBlockBytes() noexcept {
    std::lock_guard<std::mutex> lock(gKept.mutex);
    return gKeptMedium.bytes;
}

std::size_t ReleaseKeptLargeBlocks() noexcept {
    void* blocks[kKeptLargeBlocks];
    std::size_t lengths[kKeptLargeBlocks];
    std::size_t count = 0;
    std::size_t released = 0;
    {
        std::lock_guard<std::mutex> lock(gKept.mutex);
        // Medium blocks are unmapped under the lock: the list is too long to copy out.
        for (std::size_t c = 0; c < kMediumClasses; ++c) {
            for (std::size_t i = 0; i < gKeptMedium.counts[c]; ++i) {
                munmap(gKeptMedium.blocks[c][i], kMediumBlockBytes << c);
                gKeptMedium.blocks[c][i] = nullptr;
            }
            gKeptMedium.counts[c] = 0;
        }
        released = gKeptMedium.bytes;
        gKeptMedium.bytes = 0;
        count = gKept.count;
        for (std::size_t i = 0; i < count; ++i) {
            blocks[i] = gKept.blocks[i];
            lengths[i] = gKept.lengths[i];
            gKept.blocks[i] = nullptr;
            gKept.lengths[i] = 0;
        }
        released += gKept.bytes;
        gKept.count = 0;
        gKept.bytes = 0;
    }
    for (std::size_t i = 0; i < count; ++i) munmap(blocks[i], lengths[i]);
    return released;
}

std::size_t KeptLargeBlockCount() noexcept {
    std::lock_guard<std::mutex> lock(gKept.mutex);
    return gKept.count;
}

std::size_t KeptLargeBlockBytes() noexcept {
    std::lock_guard<std::mutex> lock(gKept.mutex);
    return gKept.bytes;
}

}  // namespace qm
