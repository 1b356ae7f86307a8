// resources.cpp: byte storage, private data, surfaces and their locks, vertex and index buffers
// with nested and discarding locks.
#include "platform/d3d9/resources.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include "platform/win/large_blocks.h"

namespace qm::d3d9 {

namespace {

// Blocks of at least this size are mapped directly in whole large pages (2 MB on x86-64).
constexpr std::size_t kLargePage = std::size_t{2} << 20;

// Whole large pages, aligned to a large page and marked for large pages, shared with the
// large-block allocator: a block it keeps from earlier use, cleared here, or a fresh mapping, which
// is zero already (with large pages the system zeroes it in one fault per 2 MB instead of one per
// 4 KB page). Clearing a kept block costs one pass over the bytes, while unmapping it and faulting
// fresh pages in costs that pass in the system plus the unmapping and the faults. Null on failure.
std::shared_ptr<void> MapLargePages(std::size_t bytes) {
    bool fresh = false;
    void* pages = TakeLargeBlock(bytes, &fresh);
    if (pages == nullptr) return nullptr;
    if (!fresh) std::memset(pages, 0, bytes);
    // Should making the owner fail, the deleter has already given the pages back.
    try {
        return std::shared_ptr<void>(pages, [bytes](void* p) { GiveBackLargeBlock(p, bytes); });
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// Smaller blocks come from the heap, zeroed by calloc (which skips pages that are fresh already).
std::shared_ptr<void> AllocateZeroed(std::size_t bytes) {
    void* data = std::calloc(bytes, 1);
    if (data == nullptr) return nullptr;
    // Should making the owner fail, the deleter has already freed the block.
    try {
        return std::shared_ptr<void>(data, [](void* p) { std::free(p); });
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace

std::shared_ptr<ByteBlock> ByteBlock::Allocate(std::size_t size) {
    std::size_t bytes = std::max<std::size_t>(size, 1);
    std::shared_ptr<void> storage = bytes >= kLargePage ? MapLargePages(bytes) : AllocateZeroed(bytes);
    if (!storage) return nullptr;
    std::byte* data = static_cast<std::byte*>(storage.get());
    try {
        return std::make_shared<ByteBlock>(Key{}, std::move(storage), data, size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::shared_ptr<ByteBlock> ByteBlock::Slice(const std::shared_ptr<ByteBlock>& whole, std::size_t offset,
                                            std::size_t size) {
    if (!whole || offset > whole->size_ || size > whole->size_ - offset) return nullptr;
    try {
        return std::make_shared<ByteBlock>(Key{}, whole->storage_, whole->data_ + offset, size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// ---- Private data ----

HRESULT PrivateDataStore::Set(REFGUID guid, const void* data, DWORD size, DWORD flags) {
    if ((flags & ~D3DSPD_IUNKNOWN) != 0) return D3DERR_INVALIDCALL;
    Entry entry{guid, {}, nullptr};
    if (flags & D3DSPD_IUNKNOWN) {
        if (data == nullptr || size != sizeof(IUnknown*)) return D3DERR_INVALIDCALL;
        IUnknown* object = nullptr;
        std::memcpy(&object, data, sizeof object);
        entry.object = ComPtr<IUnknown>(object);
    } else {
        if (data == nullptr && size != 0) return D3DERR_INVALIDCALL;
        const std::byte* bytes = static_cast<const std::byte*>(data);
        if (size != 0) entry.bytes.assign(bytes, bytes + size);
    }
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.guid == guid; });
    if (it != entries_.end()) {
        *it = std::move(entry);
    } else {
        entries_.push_back(std::move(entry));
    }
    return D3D_OK;
}

HRESULT PrivateDataStore::Get(REFGUID guid, void* data, DWORD* size) const {
    if (size == nullptr) return D3DERR_INVALIDCALL;
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.guid == guid; });
    if (it == entries_.end()) return D3DERR_NOTFOUND;
    DWORD needed = it->object ? static_cast<DWORD>(sizeof(IUnknown*)) : static_cast<DWORD>(it->bytes.size());
    if (data == nullptr) {
        *size = needed;
        return D3D_OK;
    }
    if (*size < needed) {
        *size = needed;
        return D3DERR_MOREDATA;
    }
    if (it->object) {
        IUnknown* object = it->object.CopyOut();
        std::memcpy(data, &object, sizeof object);
    } else if (needed != 0) {
        std::memcpy(data, it->bytes.data(), needed);
    }
    *size = needed;
    return D3D_OK;
}

HRESULT PrivateDataStore::Free(REFGUID guid) {
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.guid == guid; });
    if (it == entries_.end()) return D3DERR_NOTFOUND;
    entries_.erase(it);
    return D3D_OK;
}

// ---- Surfaces ----

namespace {

constexpr DWORD kSurfaceLockFlags =
    D3DLOCK_READONLY | D3DLOCK_DISCARD | D3DLOCK_NOSYSLOCK | D3DLOCK_DONOTWAIT | D3DLOCK_NO_DIRTY_UPDATE;
constexpr DWORD kBufferLockFlags = D3DLOCK_READONLY | D3DLOCK_DISCARD | D3DLOCK_NOOVERWRITE | D3DLOCK_NOSYSLOCK |
                                   D3DLOCK_DONOTWAIT | D3DLOCK_NO_DIRTY_UPDATE;

}  // namespace

UINT BytesPerPixel(D3DFORMAT format) {
    const FormatInfo* info = FindFormat(format);
    if (info == nullptr || info->blockWidth != 1 || info->blockHeight != 1) return 0;
    return info->blockBytes;
}

ComPtr<Surface> Surface::Create(std::shared_ptr<DeviceLink> link, UINT width, UINT height, D3DFORMAT format,
                                DWORD usage) {
    Desc desc;
    desc.width = width;
    desc.height = height;
    desc.format = format;
    desc.usage = usage;
    return Create(std::move(link), desc, nullptr);
}

std::size_t Surface::StorageBytes(const Desc& desc) {
    const FormatInfo* info = FindFormat(desc.format);
    if (info == nullptr || desc.width == 0 || desc.height == 0) return 0;
    std::size_t pitch = RowPitch(*info, desc.width);
    std::size_t rows = BlockRows(*info, desc.height);
    if (pitch > UINT32_MAX || rows > SIZE_MAX / pitch) return 0;
    return pitch * rows;
}

ComPtr<Surface> Surface::Create(std::shared_ptr<DeviceLink> link, const Desc& desc, IUnknown* container) {
    std::size_t bytes = StorageBytes(desc);
    if (bytes == 0) return nullptr;
    std::shared_ptr<ByteBlock> pixels = ByteBlock::Allocate(bytes);
    if (!pixels) return nullptr;
    return Create(std::move(link), desc, container, std::move(pixels));
}

ComPtr<Surface> Surface::Create(std::shared_ptr<DeviceLink> link, const Desc& desc, IUnknown* container,
                                std::shared_ptr<ByteBlock> pixels) {
    std::size_t bytes = StorageBytes(desc);
    if (bytes == 0 || !pixels || pixels->Size() < bytes) return nullptr;
    return MakeRef<Surface>(std::move(link), desc, FindFormat(desc.format), std::move(pixels), container);
}

Surface::Surface(std::shared_ptr<DeviceLink> link, const Desc& desc, const FormatInfo* info,
                 std::shared_ptr<ByteBlock> pixels, IUnknown* container)
    : ResourceObject(std::move(link)),
      desc_(desc),
      info_(info),
      pitch_(static_cast<UINT>(RowPitch(*info, desc.width))),
      pixels_(std::move(pixels)),
      container_(container) {}

ULONG Surface::AddRef() {
    ULONG refs = ResourceObject::AddRef();
    // The container holds one reference; the first one beyond it keeps the container alive.
    if (refs == 2 && container_ != nullptr) container_->AddRef();
    return refs;
}

ULONG Surface::Release() {
    IUnknown* container = container_;
    ULONG refs = ResourceObject::Release();
    // Releasing the container may destroy it and with it this surface; nothing is touched after.
    if (refs == 1 && container != nullptr) container->Release();
    return refs;
}

HRESULT Surface::GetContainer(REFIID riid, void** ppContainer) {
    RecordCall("GetContainer", riid, ppContainer);
    if (ppContainer == nullptr) return D3DERR_INVALIDCALL;
    *ppContainer = nullptr;
    if (container_ != nullptr) return container_->QueryInterface(riid, ppContainer);
    if (!Link() || Link()->device == nullptr) return D3DERR_INVALIDCALL;
    return Link()->device->QueryInterface(riid, ppContainer);
}

HRESULT Surface::GetDesc(D3DSURFACE_DESC* pDesc) {
    RecordCall("GetDesc", pDesc);
    if (pDesc == nullptr) return D3DERR_INVALIDCALL;
    *pDesc = D3DSURFACE_DESC{desc_.format, D3DRTYPE_SURFACE, desc_.usage, desc_.pool, D3DMULTISAMPLE_NONE, 0,
                             desc_.width, desc_.height};
    return D3D_OK;
}

HRESULT Surface::LockRect(D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) {
    RecordCall("LockRect", pLockedRect, pRect, Flags);
    return LockArea(pLockedRect, pRect, Flags);
}

HRESULT Surface::LockArea(D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) {
    if (pLockedRect == nullptr || (Flags & ~kSurfaceLockFlags) != 0) return D3DERR_INVALIDCALL;
    if (locked_ || !desc_.lockable || (info_->use & kFormatLockable) == 0) return D3DERR_INVALIDCALL;
    RECT area{0, 0, static_cast<LONG>(desc_.width), static_cast<LONG>(desc_.height)};
    if (pRect != nullptr) {
        if (!ValidBlockRect(*info_, desc_.width, desc_.height, *pRect)) return D3DERR_INVALIDCALL;
        area = *pRect;
    }
    locked_ = true;
    lockedForWriting_ = (Flags & D3DLOCK_READONLY) == 0;
    pLockedRect->Pitch = static_cast<INT>(pitch_);
    pLockedRect->pBits = Row(static_cast<UINT>(area.top) / info_->blockHeight) +
                         static_cast<std::size_t>(area.left) / info_->blockWidth * info_->blockBytes;
    return D3D_OK;
}

HRESULT Surface::UnlockRect() {
    RecordCall("UnlockRect");
    return UnlockArea();
}

HRESULT Surface::UnlockArea() {
    if (!locked_) return D3DERR_INVALIDCALL;
    locked_ = false;
    if (lockedForWriting_) MarkChanged();
    return D3D_OK;
}

// ---- Buffers ----

LinearBuffer::LinearBuffer(UINT length, DWORD usage, D3DPOOL pool, std::shared_ptr<ByteBlock> storage)
    : length_(length), usage_(usage), pool_(pool), storage_(std::move(storage)) {}

HRESULT LinearBuffer::Lock(UINT offset, UINT size, void** data, DWORD flags) {
    if (data == nullptr) return D3DERR_INVALIDCALL;
    *data = nullptr;
    if ((flags & ~kBufferLockFlags) != 0) return D3DERR_INVALIDCALL;
    if ((flags & D3DLOCK_READONLY) && (flags & D3DLOCK_DISCARD)) return D3DERR_INVALIDCALL;
    if (offset > length_ || (size != 0 && size > length_ - offset)) return D3DERR_INVALIDCALL;
    bool discardable = (usage_ & D3DUSAGE_DYNAMIC) != 0 || pool_ == D3DPOOL_DEFAULT;
    // Renaming: a block still read by a draw is left to it; the caller writes into a fresh one. An
    // outstanding lock keeps its pointer, so a nested discard does not rename.
    if ((flags & D3DLOCK_DISCARD) && discardable && lockCount_ == 0 && storage_.use_count() > 1) {
        std::shared_ptr<ByteBlock> fresh = ByteBlock::Allocate(length_);
        if (!fresh) return D3DERR_OUTOFVIDEOMEMORY;
        storage_ = std::move(fresh);
    }
    ++lockCount_;
    *data = storage_->Data() + offset;
    return D3D_OK;
}

HRESULT LinearBuffer::Unlock() {
    if (lockCount_ == 0) return D3DERR_INVALIDCALL;
    --lockCount_;
    return D3D_OK;
}

ComPtr<VertexBuffer> VertexBuffer::Create(std::shared_ptr<DeviceLink> link, UINT length, DWORD usage, DWORD fvf,
                                          D3DPOOL pool) {
    std::shared_ptr<ByteBlock> storage = ByteBlock::Allocate(length);
    if (!storage) return nullptr;
    return MakeRef<VertexBuffer>(std::move(link), LinearBuffer(length, usage, pool, std::move(storage)), fvf);
}

VertexBuffer::VertexBuffer(std::shared_ptr<DeviceLink> link, LinearBuffer buffer, DWORD fvf)
    : ResourceObject(std::move(link)), buffer_(std::move(buffer)), fvf_(fvf) {}

HRESULT VertexBuffer::Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData, DWORD Flags) {
    RecordCall("Lock", OffsetToLock, SizeToLock, ppbData, Flags);
    return buffer_.Lock(OffsetToLock, SizeToLock, ppbData, Flags);
}

HRESULT VertexBuffer::Unlock() {
    RecordCall("Unlock");
    return buffer_.Unlock();
}

HRESULT VertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* pDesc) {
    RecordCall("GetDesc", pDesc);
    if (pDesc == nullptr) return D3DERR_INVALIDCALL;
    *pDesc = D3DVERTEXBUFFER_DESC{D3DFMT_VERTEXDATA, D3DRTYPE_VERTEXBUFFER, buffer_.Usage(), buffer_.Pool(),
                                  buffer_.Length(), fvf_};
    return D3D_OK;
}

ComPtr<IndexBuffer> IndexBuffer::Create(std::shared_ptr<DeviceLink> link, UINT length, DWORD usage,
                                        D3DFORMAT format, D3DPOOL pool) {
    std::shared_ptr<ByteBlock> storage = ByteBlock::Allocate(length);
    if (!storage) return nullptr;
    return MakeRef<IndexBuffer>(std::move(link), LinearBuffer(length, usage, pool, std::move(storage)), format);
}

IndexBuffer::IndexBuffer(std::shared_ptr<DeviceLink> link, LinearBuffer buffer, D3DFORMAT format)
    : ResourceObject(std::move(link)), buffer_(std::move(buffer)), format_(format) {}

HRESULT IndexBuffer::Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData, DWORD Flags) {
    RecordCall("Lock", OffsetToLock, SizeToLock, ppbData, Flags);
    return buffer_.Lock(OffsetToLock, SizeToLock, ppbData, Flags);
}

HRESULT IndexBuffer::Unlock() {
    RecordCall("Unlock");
    return buffer_.Unlock();
}

HRESULT IndexBuffer::GetDesc(D3DINDEXBUFFER_DESC* pDesc) {
    RecordCall("GetDesc", pDesc);
    if (pDesc == nullptr) return D3DERR_INVALIDCALL;
    *pDesc = D3DINDEXBUFFER_DESC{format_, D3DRTYPE_INDEXBUFFER, buffer_.Usage(), buffer_.Pool(), buffer_.Length()};
    return D3D_OK;
}

}  // namespace qm::d3d9
