// resources.h: the device's resources: zero-filled byte storage, the operations common to every
// resource (device link, private data, priority), surfaces, vertex buffers and index buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/formats.h"
#include "platform/d3d9/recording.h"

namespace qm::d3d9 {

// A zero-filled block of bytes. Blocks are shared: a draw holds the blocks it reads, so that a
// discarding lock can tell whether the block is still in use and hand out a fresh one instead. A
// block may be a slice of a larger one (the levels of a texture share one allocation); a slice keeps
// the whole allocation alive.
class ByteBlock {
public:
    // Null when memory runs out. A size of 0 gives a block of 1 byte.
    static std::shared_ptr<ByteBlock> Allocate(std::size_t size);
    // The bytes [offset, offset + size) of a block, as a block of their own; null when the range does
    // not lie inside the block or memory runs out.
    static std::shared_ptr<ByteBlock> Slice(const std::shared_ptr<ByteBlock>& whole, std::size_t offset,
                                            std::size_t size);

    std::byte* Data() const { return data_; }
    std::size_t Size() const { return size_; }

private:
    // Only Allocate and Slice make blocks; the key lets them do so through std::make_shared.
    struct Key {
        explicit Key() = default;
    };

public:
    ByteBlock(Key, std::shared_ptr<void> storage, std::byte* data, std::size_t size)
        : storage_(std::move(storage)), data_(data), size_(size) {}

private:
    std::shared_ptr<void> storage_;  // owns the allocation the bytes lie in
    std::byte* data_;
    std::size_t size_;
};

// Lets resources reach the device that made them without keeping it alive (the device holds its
// bound resources, so a reference back would make a cycle). The device clears it when it goes away.
struct DeviceLink {
    IDirect3DDevice9* device = nullptr;
};

// Private data of one resource, by GUID.
class PrivateDataStore {
public:
    HRESULT Set(REFGUID guid, const void* data, DWORD size, DWORD flags);
    HRESULT Get(REFGUID guid, void* data, DWORD* size) const;
    HRESULT Free(REFGUID guid);

private:
    struct Entry {
        GUID guid;
        std::vector<std::byte> bytes;
        ComPtr<IUnknown> object;  // set with D3DSPD_IUNKNOWN
    };
    std::vector<Entry> entries_;
};

// The IDirect3DResource9 operations for a concrete resource. Derived provides
// `static constexpr D3DRESOURCETYPE kResourceType` and `D3DPOOL Pool() const`.
template <class Derived, class Interface>
class ResourceObject : public RefCounted<Derived, Interface> {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object != nullptr && riid == IDirect3DResource9::iid) {
            this->AddRef();
            *object = static_cast<IDirect3DResource9*>(this);
            return S_OK;
        }
        return RefCounted<Derived, Interface>::QueryInterface(riid, object);
    }
    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override {
        RecordCall("GetDevice", ppDevice);
        if (ppDevice == nullptr) return D3DERR_INVALIDCALL;
        *ppDevice = nullptr;
        if (!link_ || link_->device == nullptr) return D3DERR_INVALIDCALL;
        link_->device->AddRef();
        *ppDevice = link_->device;
        return D3D_OK;
    }
    HRESULT SetPrivateData(REFGUID refguid, const void* pData, DWORD SizeOfData, DWORD Flags) override {
        RecordCall("SetPrivateData", refguid, pData, SizeOfData, Flags);
        return privateData_.Set(refguid, pData, SizeOfData, Flags);
    }
    HRESULT GetPrivateData(REFGUID refguid, void* pData, DWORD* pSizeOfData) override {
        RecordCall("GetPrivateData", refguid, pData, pSizeOfData);
        return privateData_.Get(refguid, pData, pSizeOfData);
    }
    HRESULT FreePrivateData(REFGUID refguid) override {
        RecordCall("FreePrivateData", refguid);
        return privateData_.Free(refguid);
    }
    DWORD SetPriority(DWORD PriorityNew) override {
        RecordCall("SetPriority", PriorityNew);
        if (static_cast<const Derived*>(this)->Pool() != D3DPOOL_MANAGED) return 0;
        return std::exchange(priority_, PriorityNew);
    }
    DWORD GetPriority() override {
        RecordCall("GetPriority");
        return priority_;
    }
    // Resources live in memory the device reads directly; there is nothing to load ahead.
    void PreLoad() override { RecordCall("PreLoad"); }
    D3DRESOURCETYPE GetType() override {
        RecordCall("GetType");
        return Derived::kResourceType;
    }

    // The link of the device that made this resource; null for resources made outside a device.
    const std::shared_ptr<DeviceLink>& Link() const { return link_; }

protected:
    explicit ResourceObject(std::shared_ptr<DeviceLink> link) : link_(std::move(link)) {}
    ~ResourceObject() = default;

private:
    std::shared_ptr<DeviceLink> link_;
    PrivateDataStore privateData_;
    DWORD priority_ = 0;
};

// Bytes per pixel of a format with one-pixel blocks that the device knows; 0 for any other format.
UINT BytesPerPixel(D3DFORMAT format);

// A 2D block of pixels: the back buffer, the depth buffer, a render target, an off-screen plain
// surface, or one level (of one face) of a texture. A texture's surfaces live as long as the texture
// and share its lifetime the platform's way: while anyone but the texture holds a surface, the
// surface holds a reference to its texture.
class Surface final : public ResourceObject<Surface, IDirect3DSurface9> {
public:
    static constexpr D3DRESOURCETYPE kResourceType = D3DRTYPE_SURFACE;

    struct Desc {
        UINT width = 0;
        UINT height = 0;
        D3DFORMAT format = D3DFMT_UNKNOWN;
        DWORD usage = 0;
        D3DPOOL pool = D3DPOOL_DEFAULT;
        bool lockable = true;
    };

    // A default-pool surface of the device (back buffer, depth buffer). Null when out of memory.
    // The format must be known to the format table and the sides must be > 0.
    static ComPtr<Surface> Create(std::shared_ptr<DeviceLink> link, UINT width, UINT height, D3DFORMAT format,
                                  DWORD usage);
    // Any surface; container is the texture the surface is a level of, or null. Null when out of
    // memory or the size overflows.
    static ComPtr<Surface> Create(std::shared_ptr<DeviceLink> link, const Desc& desc, IUnknown* container);
    // A surface over storage made by the caller, at least StorageBytes(desc) long. Null when out of
    // memory or the size overflows.
    static ComPtr<Surface> Create(std::shared_ptr<DeviceLink> link, const Desc& desc, IUnknown* container,
                                  std::shared_ptr<ByteBlock> pixels);
    // Bytes of storage a surface of this description needs; 0 when the format is unknown, a side is 0
    // or the size overflows.
    static std::size_t StorageBytes(const Desc& desc);
    Surface(std::shared_ptr<DeviceLink> link, const Desc& desc, const FormatInfo* info,
            std::shared_ptr<ByteBlock> pixels, IUnknown* container);

    ULONG AddRef() override;
    ULONG Release() override;
    // The texture for a texture level (asked for by its interface), else the device.
    HRESULT GetContainer(REFIID riid, void** ppContainer) override;
    HRESULT GetDesc(D3DSURFACE_DESC* pDesc) override;
    HRESULT LockRect(D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) override;
    HRESULT UnlockRect() override;
    // LockRect and UnlockRect without recording, for the texture calls that lock a level.
    HRESULT LockArea(D3DLOCKED_RECT* lockedRect, const RECT* rect, DWORD flags);
    HRESULT UnlockArea();

    D3DPOOL Pool() const { return desc_.pool; }
    DWORD Usage() const { return desc_.usage; }
    UINT Width() const { return desc_.width; }
    UINT Height() const { return desc_.height; }
    D3DFORMAT Format() const { return desc_.format; }
    const FormatInfo& Info() const { return *info_; }
    // Bytes from one row of blocks (one pixel row for most formats) to the next.
    UINT Pitch() const { return pitch_; }
    std::byte* Row(UINT blockRow) const { return pixels_->Data() + static_cast<std::size_t>(blockRow) * pitch_; }
    bool Locked() const { return locked_; }
    bool HasContainer() const { return container_ != nullptr; }
    // Counts changes of the pixels: every unlock that could have written and every copy the device
    // makes into the surface, so that data derived from the pixels knows when to rebuild.
    std::uint32_t Version() const { return version_; }
    void MarkChanged() { ++version_; }

private:
    Desc desc_;
    const FormatInfo* info_;
    UINT pitch_;
    std::shared_ptr<ByteBlock> pixels_;
    IUnknown* container_;  // not held: the container holds its surfaces
    bool locked_ = false;
    bool lockedForWriting_ = false;
    std::uint32_t version_ = 0;
};

// The storage and lock rules shared by vertex and index buffers (see IDirect3DVertexBuffer9::Lock).
class LinearBuffer {
public:
    LinearBuffer(UINT length, DWORD usage, D3DPOOL pool, std::shared_ptr<ByteBlock> storage);

    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags);
    HRESULT Unlock();

    bool Locked() const { return lockCount_ > 0; }
    UINT Length() const { return length_; }
    DWORD Usage() const { return usage_; }
    D3DPOOL Pool() const { return pool_; }
    // The current storage; a draw keeps a copy of the pointer while it reads the bytes.
    const std::shared_ptr<ByteBlock>& Storage() const { return storage_; }

private:
    UINT length_;
    DWORD usage_;
    D3DPOOL pool_;
    std::shared_ptr<ByteBlock> storage_;
    UINT lockCount_ = 0;
};

class VertexBuffer final : public ResourceObject<VertexBuffer, IDirect3DVertexBuffer9> {
public:
    static constexpr D3DRESOURCETYPE kResourceType = D3DRTYPE_VERTEXBUFFER;

    // Null when out of memory.
    static ComPtr<VertexBuffer> Create(std::shared_ptr<DeviceLink> link, UINT length, DWORD usage, DWORD fvf,
                                       D3DPOOL pool);
    VertexBuffer(std::shared_ptr<DeviceLink> link, LinearBuffer buffer, DWORD fvf);

    HRESULT Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData, DWORD Flags) override;
    HRESULT Unlock() override;
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC* pDesc) override;

    D3DPOOL Pool() const { return buffer_.Pool(); }
    const LinearBuffer& Buffer() const { return buffer_; }

private:
    LinearBuffer buffer_;
    DWORD fvf_;
};

class IndexBuffer final : public ResourceObject<IndexBuffer, IDirect3DIndexBuffer9> {
public:
    static constexpr D3DRESOURCETYPE kResourceType = D3DRTYPE_INDEXBUFFER;

    // Null when out of memory. format is D3DFMT_INDEX16 or D3DFMT_INDEX32.
    static ComPtr<IndexBuffer> Create(std::shared_ptr<DeviceLink> link, UINT length, DWORD usage, D3DFORMAT format,
                                      D3DPOOL pool);
    IndexBuffer(std::shared_ptr<DeviceLink> link, LinearBuffer buffer, D3DFORMAT format);

    HRESULT Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData, DWORD Flags) override;
    HRESULT Unlock() override;
    HRESULT GetDesc(D3DINDEXBUFFER_DESC* pDesc) override;

    D3DPOOL Pool() const { return buffer_.Pool(); }
    D3DFORMAT Format() const { return format_; }
    UINT IndexSize() const { return format_ == D3DFMT_INDEX32 ? 4 : 2; }
    const LinearBuffer& Buffer() const { return buffer_; }

private:
    LinearBuffer buffer_;
    D3DFORMAT format_;
};

}  // namespace qm::d3d9
