// large_blocks.h: huge-page mappings, and an allocator for big arrays (parsed X-file data, a model's
// vertex and face records, adjacency and sort tables, skin weights and animation keys) that backs
// blocks of 256 KiB and more with them, so that filling them costs one page fault per 2 MB instead
// of one per 4 KB. A block takes whole huge pages, so up to 2 MB more than it asks for while it
// lives; the arrays it serves live only while a model loads, or as long as the model's own buffers.
// Blocks given back are kept, a bounded few (at most kKeptLargeBlocks blocks and
// kKeptLargeBlockBytes bytes), for the next requests of this allocator and of the device's large
// buffers, so that loading one model after another fills pages already faulted in instead of having
// fresh ones zeroed; like a heap's freed memory, they stay mapped until they are evicted or released.
// Medium blocks (kMediumBlockBytes up to the large size) are mappings of their own, rounded up to a
// power of two and kept the same way per size: the C library's heap hands such blocks back to the
// system whenever its top runs free (as it does each time a model is destroyed), and the next model
// would fault every page in again. Smaller blocks come from the heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace qm {

// Blocks of at least kLargeBlockBytes are mapped in whole huge pages. Builds with the address or
// memory sanitizer keep every block on the heap, where the sanitizer watches its bounds.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kLargeBlocksOnHeap = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
constexpr bool kLargeBlocksOnHeap = true;
#else
constexpr bool kLargeBlocksOnHeap = false;
#endif
#else
constexpr bool kLargeBlocksOnHeap = false;
#endif
constexpr std::size_t kLargeBlockBytes = std::size_t{256} << 10;
constexpr std::size_t kMediumBlockBytes = std::size_t{16} << 10;

// A fresh zeroed mapping of at least `bytes` bytes, aligned to and marked for huge pages; null when
// the system refuses it. Released with UnmapLargeBlock and the same size.
void* MapLargeBlock(std::size_t bytes) noexcept;
void UnmapLargeBlock(void* block, std::size_t bytes) noexcept;

// The allocator's blocks: a kept block of the same whole-page length, or the shortest longer one
// cut to that length, else a fresh mapping. Its bytes are not cleared: a reused block holds what its
// last user wrote, a fresh one is zero, and *fresh tells which. Null when the system refuses a
// mapping. GiveBackLargeBlock takes it back with the same size and keeps it while the kept blocks
// stay within the bounds below (the longest-kept go back to the system first to make room; a block
// longer than the byte bound is unmapped at once).
constexpr std::size_t kKeptLargeBlocks = 24;
constexpr std::size_t kKeptLargeBlockBytes = std::size_t{96} << 20;
void* TakeLargeBlock(std::size_t bytes, bool* fresh = nullptr) noexcept;
void GiveBackLargeBlock(void* block, std::size_t bytes) noexcept;
// Medium blocks, for kMediumBlockBytes <= bytes < kLargeBlockBytes: a kept block of the same size
// class or a fresh mapping (zero, but callers may not rely on it); null when the system refuses
// one. Given back with the same size, a block is kept while the kept medium blocks stay within
// kKeptMediumBlockBytes, else unmapped.
constexpr std::size_t kKeptMediumBlockBytes = std::size_t{32} << 20;
void* TakeMediumBlock(std::size_t bytes) noexcept;
void GiveBackMediumBlock(void* block, std::size_t bytes) noexcept;
std::size_t KeptMediumBlockBytes() noexcept;
// Unmaps every kept block, large and medium (for callers about to go idle for long); returns the
// bytes released.
std::size_t ReleaseKeptLargeBlocks() noexcept;
// The number and the total length of the blocks kept now.
std::size_t KeptLargeBlockCount() noexcept;
std::size_t KeptLargeBlockBytes() noexcept;

template <class T>
struct LargeBlockAllocator {
    using value_type = T;

    LargeBlockAllocator() noexcept = default;
    template <class U>
    LargeBlockAllocator(const LargeBlockAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) {
        if (count > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        const std::size_t bytes = count * sizeof(T);
        if (kLargeBlocksOnHeap || bytes < kMediumBlockBytes) return std::allocator<T>().allocate(count);
        void* block = bytes < kLargeBlockBytes ? TakeMediumBlock(bytes) : TakeLargeBlock(bytes);
        if (block == nullptr) throw std::bad_alloc();
        return static_cast<T*>(block);
    }
    void deallocate(T* block, std::size_t count) noexcept {
        const std::size_t bytes = count * sizeof(T);
        if (kLargeBlocksOnHeap || bytes < kMediumBlockBytes) {
            std::allocator<T>().deallocate(block, count);
        } else if (bytes < kLargeBlockBytes) {
            GiveBackMediumBlock(block, bytes);
        } else {
            GiveBackLargeBlock(block, bytes);
        }
    }

    template <class U>
    bool operator==(const LargeBlockAllocator<U>&) const noexcept {
        return true;
    }
};

// The same storage for arrays that are written in full before they are read: growing them leaves
// trivially constructible elements uninitialised instead of clearing them first.
template <class T>
struct UninitializedLargeBlockAllocator : LargeBlockAllocator<T> {
    template <class U>
    struct rebind {
        using other = UninitializedLargeBlockAllocator<U>;
    };
    UninitializedLargeBlockAllocator() noexcept = default;
    template <class U>
    UninitializedLargeBlockAllocator(const UninitializedLargeBlockAllocator<U>&) noexcept {}

    template <class U>
    void construct(U* at) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(at)) U;
    }
    template <class U, class... Args>
    void construct(U* at, Args&&... args) {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }
};

// A growable byte array in such storage that moves and clears its bytes in bulk (a vector with a
// custom allocator would copy and zero them one by one).
class ByteArray {
public:
    ByteArray() = default;
    ByteArray(const ByteArray&) = delete;
    ByteArray& operator=(const ByteArray&) = delete;
    ByteArray(ByteArray&& other) noexcept { Swap(other); }
    ByteArray& operator=(ByteArray&& other) noexcept {
        ByteArray(std::move(other)).Swap(*this);
        return *this;
    }
    ~ByteArray() {
        if (bytes_ != nullptr) LargeBlockAllocator<std::uint8_t>().deallocate(bytes_, capacity_);
    }

    std::uint8_t* data() { return bytes_; }
    const std::uint8_t* data() const { return bytes_; }
    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    bool empty() const { return size_ == 0; }
    void clear() { size_ = 0; }

    void reserve(std::size_t capacity) {
        if (capacity <= capacity_) return;
        std::uint8_t* bigger = LargeBlockAllocator<std::uint8_t>().allocate(capacity);
        if (size_ > 0) std::memcpy(bigger, bytes_, size_);
        if (bytes_ != nullptr) LargeBlockAllocator<std::uint8_t>().deallocate(bytes_, capacity_);
        bytes_ = bigger;
        capacity_ = capacity;
    }
    // New bytes are zero; growth at least doubles the capacity.
    void resize(std::size_t size) {
        grow(size);
        if (size > size_) std::memset(bytes_ + size_, 0, size - size_);
        size_ = size;
    }
    // Adds `count` bytes for the caller to fill and returns where they start.
    std::uint8_t* extend(std::size_t count) {
        grow(size_ + count);
        size_ += count;
        return bytes_ + (size_ - count);
    }
    void append(const void* bytes, std::size_t count) {
        grow(size_ + count);
        if (count > 0) std::memcpy(bytes_ + size_, bytes, count);
        size_ += count;
    }

    // Room for `size` bytes in all; when it has to grow, the capacity at least doubles.
    void grow(std::size_t size) {
        if (size > capacity_) reserve(size > 2 * capacity_ ? size : 2 * capacity_);
    }

private:
    void Swap(ByteArray& other) noexcept {
        std::swap(bytes_, other.bytes_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
    }

    std::uint8_t* bytes_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace qm
