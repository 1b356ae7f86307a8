// large_blocks.cpp: huge-page mappings for the large-block allocator.
#include "platform/win/large_blocks.h"

#include <sys/mman.h>

#include <cstdint>

namespace qm {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t MappedLength(std::size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

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

}  // namespace qm
