// textures.h: 2D, cube and volume textures, volumes, the checks that creation applies against the
// device's caps, and the sampling view a texture prepares for the sampler (levels decoded into a
// form the per-pixel code reads without a switch).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/formats.h"
#include "platform/d3d9/resources.h"

namespace qm::d3d9 {

// Largest number of levels a texture can have (a 32768-texel side).
constexpr UINT kMaxMipLevels = 16;

// How a prepared level stores its texels: 32-bit A8R8G8B8 words, or four floats (red, green, blue,
// alpha) for formats with more than 8 bits or signed channels.
enum class TexelKind : std::uint8_t { kBgra8, kFloat };

struct SamplingLevel {
    const void* texels = nullptr;
    std::int32_t width = 0, height = 0, depth = 0;
    std::ptrdiff_t rowStride = 0;    // texels from one row to the next
    std::ptrdiff_t sliceStride = 0;  // texels from one slice to the next
};

// What the sampler reads: every level of every face (2D and volume textures use face 0).
struct SamplingView {
    D3DRESOURCETYPE type = D3DRTYPE_TEXTURE;
    TexelKind kind = TexelKind::kBgra8;
    std::uint32_t alphaOr = 0;  // ORed into 32-bit texels of formats without alpha
    UINT levelCount = 0;
    UINT firstLevel = 0;  // SetLOD of managed textures
    std::array<std::array<SamplingLevel, kMaxMipLevels>, 6> faces{};
};

// The part of every texture the device and the sampler use, whatever its interface.
class TextureCore {
public:
    D3DRESOURCETYPE Type() const { return type_; }
    D3DFORMAT Format() const { return format_; }
    const FormatInfo& Info() const { return *info_; }
    DWORD Usage() const { return usage_; }
    D3DPOOL TexturePool() const { return pool_; }
    // Levels that exist (an autogen texture shows only its first).
    UINT StoredLevels() const { return storedLevels_; }
    UINT Faces() const { return type_ == D3DRTYPE_CUBETEXTURE ? 6 : 1; }
    UINT Width(UINT level) const { return std::max(1u, width_ >> level); }
    UINT Height(UINT level) const { return std::max(1u, height_ >> level); }
    UINT Depth(UINT level) const { return std::max(1u, depth_ >> level); }
    // The surface of one face and level (2D and cube textures), or null.
    Surface* SurfaceAt(UINT face, UINT level) const;
    class Volume* VolumeAt(UINT level) const;
    // Brings the sampling view up to date with the levels (decoding changed levels, rebuilding the
    // levels of an autogen texture) and returns it; null when the format cannot be sampled.
    const SamplingView* PrepareSampling() const;
    const std::shared_ptr<DeviceLink>& CoreLink() const { return coreLink_; }
    // Makes the levels, once, right after construction; false when memory runs out. container is
    // the texture's interface that its levels report as their container.
    bool MakeLevels(IUnknown* container);

protected:
    TextureCore(std::shared_ptr<DeviceLink> link, D3DRESOURCETYPE type, UINT width, UINT height, UINT depth,
                UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool);
    ~TextureCore();

    DWORD lod_ = 0;
    D3DTEXTUREFILTERTYPE autoGenFilter_ = D3DTEXF_LINEAR;

private:
    struct LevelCache {
        std::uint32_t seenVersion = ~0u;
        std::vector<std::uint32_t> bgra;
        std::vector<float> rgba;
    };
    std::uint32_t LevelVersion(UINT face, UINT level) const;
    void PrepareLevel(UINT face, UINT level) const;
    void BuildSmallerLevel(UINT face, UINT level) const;

    std::shared_ptr<DeviceLink> coreLink_;
    D3DRESOURCETYPE type_;
    UINT width_, height_, depth_;
    UINT storedLevels_;
    UINT sampledLevels_;
    DWORD usage_;
    D3DFORMAT format_;
    const FormatInfo* info_;
    D3DPOOL pool_;
    std::vector<ComPtr<Surface>> surfaces_;  // face-major: face * storedLevels_ + level
    std::vector<ComPtr<class Volume>> volumes_;
    // Derived data for sampling; rebuilt on demand from const draws.
    mutable SamplingView view_;
    mutable std::vector<LevelCache> caches_;  // face * sampledLevels_ + level
};

// Everything a texture creation asks for, after defaults.
struct TextureRequest {
    D3DRESOURCETYPE type = D3DRTYPE_TEXTURE;
    UINT width = 0, height = 0, depth = 1;
    UINT levels = 0;
    DWORD usage = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    D3DPOOL pool = D3DPOOL_MANAGED;
};

// Checks a creation request against the format table and the caps, and turns a level count of 0
// into the full chain. D3DERR_INVALIDCALL for anything the device refuses.
HRESULT CheckTextureRequest(const D3DCAPS9& caps, TextureRequest* request);

// Number of levels in a full chain down to 1 x 1 (x 1).
UINT FullChainLength(UINT width, UINT height, UINT depth);

// Creates the texture object for a checked request; E_OUTOFMEMORY (D3DERR_OUTOFVIDEOMEMORY for the
// default pool) when memory runs out. *texture receives the texture's IDirect3DBaseTexture9.
HRESULT MakeTexture(std::shared_ptr<DeviceLink> link, const TextureRequest& request,
                    ComPtr<IDirect3DBaseTexture9>* texture);

// The texture core behind an interface pointer of this device's textures, or null.
TextureCore* CoreOf(IDirect3DBaseTexture9* texture);

// One level of a volume texture.
class Volume final : public RefCounted<Volume, IDirect3DVolume9> {
public:
    Volume(std::shared_ptr<DeviceLink> link, UINT width, UINT height, UINT depth, D3DFORMAT format,
           const FormatInfo* info, DWORD usage, D3DPOOL pool, std::shared_ptr<ByteBlock> pixels, IUnknown* container);

    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override;
    HRESULT SetPrivateData(REFGUID refguid, const void* pData, DWORD SizeOfData, DWORD Flags) override;
    HRESULT GetPrivateData(REFGUID refguid, void* pData, DWORD* pSizeOfData) override;
    HRESULT FreePrivateData(REFGUID refguid) override;
    HRESULT GetContainer(REFIID riid, void** ppContainer) override;
    HRESULT GetDesc(D3DVOLUME_DESC* pDesc) override;
    HRESULT LockBox(D3DLOCKED_BOX* pLockedVolume, const D3DBOX* pBox, DWORD Flags) override;
    HRESULT UnlockBox() override;
    // LockBox and UnlockBox without recording, for the texture calls that lock a level.
    HRESULT LockArea(D3DLOCKED_BOX* locked, const D3DBOX* box, DWORD flags);
    HRESULT UnlockArea();

    UINT Width() const { return width_; }
    UINT Height() const { return height_; }
    UINT Depth() const { return depth_; }
    D3DFORMAT Format() const { return format_; }
    const FormatInfo& Info() const { return *info_; }
    UINT RowPitchBytes() const { return rowPitch_; }
    std::size_t SlicePitchBytes() const { return slicePitch_; }
    std::byte* Slice(UINT z) const { return pixels_->Data() + z * slicePitch_; }
    bool Locked() const { return locked_; }
    std::uint32_t Version() const { return version_; }
    void MarkChanged() { ++version_; }
    bool Lockable() const { return lockable_; }

private:
    std::shared_ptr<DeviceLink> link_;
    UINT width_, height_, depth_;
    D3DFORMAT format_;
    const FormatInfo* info_;
    DWORD usage_;
    D3DPOOL pool_;
    UINT rowPitch_;
    std::size_t slicePitch_;
    std::shared_ptr<ByteBlock> pixels_;
    IUnknown* container_;
    PrivateDataStore privateData_;
    bool lockable_ = true;
    bool locked_ = false;
    bool lockedForWriting_ = false;
    std::uint32_t version_ = 0;
};

}  // namespace qm::d3d9
