// textures.cpp: the texture objects (2D, cube, volume) and volumes, creation checks against the caps,
// and the sampling view: levels decoded once per change, smaller levels of autogen textures rebuilt
// with a 2 x 2 (x 2) box filter.
#include "platform/d3d9/textures.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/d3d9/caps.h"
#include "platform/d3d9/recording.h"

namespace qm::d3d9 {
namespace {

constexpr DWORD kTextureUsages = D3DUSAGE_RENDERTARGET | D3DUSAGE_DYNAMIC | D3DUSAGE_AUTOGENMIPMAP |
                                 D3DUSAGE_WRITEONLY | D3DUSAGE_SOFTWAREPROCESSING | D3DUSAGE_DMAP;
constexpr DWORD kLockFlags =
    D3DLOCK_READONLY | D3DLOCK_DISCARD | D3DLOCK_NOSYSLOCK | D3DLOCK_DONOTWAIT | D3DLOCK_NO_DIRTY_UPDATE;

bool IsPowerOfTwo(UINT v) { return v != 0 && (v & (v - 1)) == 0; }

// Unpacks a 32-bit A8R8G8B8 texel into red, green, blue, alpha floats.
void Unpack(std::uint32_t t, float* out) {
    out[0] = static_cast<float>((t >> 16) & 255) / 255.0f;
    out[1] = static_cast<float>((t >> 8) & 255) / 255.0f;
    out[2] = static_cast<float>(t & 255) / 255.0f;
    out[3] = static_cast<float>(t >> 24) / 255.0f;
}

void ReadTexel(const SamplingView& view, const SamplingLevel& level, int x, int y, int z, float* out) {
    std::ptrdiff_t index = z * level.sliceStride + y * level.rowStride + x;
    if (view.kind == TexelKind::kFloat) {
        std::memcpy(out, static_cast<const float*>(level.texels) + 4 * index, 4 * sizeof(float));
    } else {
        Unpack(static_cast<const std::uint32_t*>(level.texels)[index] | view.alphaOr, out);
    }
}

}  // namespace

UINT FullChainLength(UINT width, UINT height, UINT depth) {
    return static_cast<UINT>(std::bit_width(std::max({width, height, depth, 1u})));
}

HRESULT CheckTextureRequest(const D3DCAPS9& caps, TextureRequest* r) {
    const FormatInfo* info = FindFormat(r->format);
    if (info == nullptr || (info->use & kFormatDepthStencil) != 0) return D3DERR_INVALIDCALL;
    if (r->pool > D3DPOOL_SCRATCH || (r->usage & ~kTextureUsages) != 0) return D3DERR_INVALIDCALL;
    if (r->width == 0 || r->height == 0 || r->depth == 0) return D3DERR_INVALIDCALL;
    bool scratch = r->pool == D3DPOOL_SCRATCH;
    bool volume = r->type == D3DRTYPE_VOLUMETEXTURE;
    if (!scratch && (info->use & kFormatSample) == 0) return D3DERR_INVALIDCALL;
    if (scratch && (r->usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DYNAMIC | D3DUSAGE_AUTOGENMIPMAP)) != 0) {
        return D3DERR_INVALIDCALL;
    }
    if (r->usage & D3DUSAGE_RENDERTARGET) {
        if (r->pool != D3DPOOL_DEFAULT || volume || (info->use & kFormatRenderTarget) == 0) return D3DERR_INVALIDCALL;
    }
    if (r->usage & D3DUSAGE_DYNAMIC) {
        if (r->pool == D3DPOOL_MANAGED || (caps.Caps2 & D3DCAPS2_DYNAMICTEXTURES) == 0) return D3DERR_INVALIDCALL;
    }
    if (r->usage & D3DUSAGE_AUTOGENMIPMAP) {
        if ((r->pool != D3DPOOL_DEFAULT && r->pool != D3DPOOL_MANAGED) || volume || r->levels > 1 ||
            (caps.Caps2 & D3DCAPS2_CANAUTOGENMIPMAP) == 0) {
            return D3DERR_INVALIDCALL;
        }
    }
    // Block formats start on whole blocks; smaller levels may use part of a block.
    if (r->width % info->blockWidth != 0 || r->height % info->blockHeight != 0) return D3DERR_INVALIDCALL;

    UINT full = FullChainLength(r->width, r->height, volume ? r->depth : 1);
    if (scratch) {
        if (r->width > kMaxSurfaceSize || r->height > kMaxSurfaceSize || r->depth > kMaxSurfaceSize) {
            return D3DERR_INVALIDCALL;
        }
    } else {
        DWORD powerCap = D3DPTEXTURECAPS_POW2, mipCap = D3DPTEXTURECAPS_MIPMAP;
        bool sizeOk = r->width <= caps.MaxTextureWidth && r->height <= caps.MaxTextureHeight;
        if (r->type == D3DRTYPE_CUBETEXTURE) {
            if ((caps.TextureCaps & D3DPTEXTURECAPS_CUBEMAP) == 0) return D3DERR_INVALIDCALL;
            powerCap = D3DPTEXTURECAPS_CUBEMAP_POW2;
            mipCap = D3DPTEXTURECAPS_MIPCUBEMAP;
        } else if (volume) {
            if ((caps.TextureCaps & D3DPTEXTURECAPS_VOLUMEMAP) == 0) return D3DERR_INVALIDCALL;
            powerCap = D3DPTEXTURECAPS_VOLUMEMAP_POW2;
            mipCap = D3DPTEXTURECAPS_MIPVOLUMEMAP;
            sizeOk = r->width <= caps.MaxVolumeExtent && r->height <= caps.MaxVolumeExtent &&
                     r->depth <= caps.MaxVolumeExtent;
        }
        if (!sizeOk) return D3DERR_INVALIDCALL;
        bool powers = IsPowerOfTwo(r->width) && IsPowerOfTwo(r->height) && (!volume || IsPowerOfTwo(r->depth));
        if ((caps.TextureCaps & powerCap) != 0 && !powers) {
            // Conditional support: a 2D texture of any size, provided it has one level.
            bool conditional = r->type == D3DRTYPE_TEXTURE &&
                               (caps.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL) != 0 && r->levels == 1;
            if (!conditional) return D3DERR_INVALIDCALL;
        }
        if (r->type == D3DRTYPE_TEXTURE) {
            if ((caps.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY) && r->width != r->height) return D3DERR_INVALIDCALL;
            UINT longer = std::max(r->width, r->height), shorter = std::min(r->width, r->height);
            if (caps.MaxTextureAspectRatio != 0 && longer / shorter > caps.MaxTextureAspectRatio) {
                return D3DERR_INVALIDCALL;
            }
        }
        if ((caps.TextureCaps & mipCap) == 0) {
            if (r->levels > 1) return D3DERR_INVALIDCALL;
            full = 1;
        }
    }
    if (r->levels > full) return D3DERR_INVALIDCALL;
    if (r->levels == 0 || (r->usage & D3DUSAGE_AUTOGENMIPMAP)) r->levels = full;
    return D3D_OK;
}

// ---- Texture core ----

TextureCore::TextureCore(std::shared_ptr<DeviceLink> link, D3DRESOURCETYPE type, UINT width, UINT height, UINT depth,
                         UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool)
    : coreLink_(std::move(link)),
      type_(type),
      width_(width),
      height_(height),
      depth_(depth),
      storedLevels_((usage & D3DUSAGE_AUTOGENMIPMAP) ? 1 : levels),
      sampledLevels_(levels),
      usage_(usage),
      format_(format),
      info_(FindFormat(format)),
      pool_(pool) {}

TextureCore::~TextureCore() = default;

bool TextureCore::MakeLevels(IUnknown* container) {
    bool lockable = !(pool_ == D3DPOOL_DEFAULT && (usage_ & D3DUSAGE_DYNAMIC) == 0);
    // Every level of every face lies in one block, each level starting on a 16-byte boundary: one
    // allocation per texture instead of one per level.
    auto alignUp = [](std::size_t bytes) { return (bytes + 15) & ~std::size_t{15}; };
    if (type_ == D3DRTYPE_VOLUMETEXTURE) {
        std::vector<std::size_t> offsets(storedLevels_);
        std::size_t total = 0;
        for (UINT level = 0; level < storedLevels_; ++level) {
            std::size_t rowPitch = RowPitch(*info_, Width(level));
            std::size_t slice = rowPitch * BlockRows(*info_, Height(level));
            if (rowPitch > UINT32_MAX || Depth(level) > SIZE_MAX / slice) return false;
            std::size_t bytes = slice * Depth(level);
            if (bytes > SIZE_MAX - 16 - total) return false;
            offsets[level] = total;
            total = alignUp(total + bytes);
        }
        std::shared_ptr<ByteBlock> storage = ByteBlock::Allocate(total);
        if (!storage) return false;
        for (UINT level = 0; level < storedLevels_; ++level) {
            UINT w = Width(level), h = Height(level), d = Depth(level);
            std::size_t bytes = RowPitch(*info_, w) * BlockRows(*info_, h) * d;
            std::shared_ptr<ByteBlock> pixels = ByteBlock::Slice(storage, offsets[level], bytes);
            if (!pixels) return false;
            ComPtr<Volume> v = MakeRef<Volume>(coreLink_, w, h, d, format_, info_, usage_, pool_, std::move(pixels),
                                               container);
            if (!v) return false;
            volumes_.push_back(std::move(v));
        }
    } else {
        auto levelDesc = [&](UINT level) {
            Surface::Desc desc;
            desc.width = Width(level);
            desc.height = Height(level);
            desc.format = format_;
            desc.usage = usage_;
            desc.pool = pool_;
            desc.lockable = lockable && (usage_ & D3DUSAGE_RENDERTARGET) == 0;
            return desc;
        };
        std::vector<std::size_t> offsets(static_cast<std::size_t>(Faces()) * storedLevels_);
        std::size_t total = 0;
        for (UINT face = 0; face < Faces(); ++face) {
            for (UINT level = 0; level < storedLevels_; ++level) {
                std::size_t bytes = Surface::StorageBytes(levelDesc(level));
                if (bytes == 0 || bytes > SIZE_MAX - 16 - total) return false;
                offsets[face * storedLevels_ + level] = total;
                total = alignUp(total + bytes);
            }
        }
        std::shared_ptr<ByteBlock> storage = ByteBlock::Allocate(total);
        if (!storage) return false;
        for (UINT face = 0; face < Faces(); ++face) {
            for (UINT level = 0; level < storedLevels_; ++level) {
                Surface::Desc desc = levelDesc(level);
                std::shared_ptr<ByteBlock> pixels =
                    ByteBlock::Slice(storage, offsets[face * storedLevels_ + level], Surface::StorageBytes(desc));
                if (!pixels) return false;
                ComPtr<Surface> s = Surface::Create(coreLink_, desc, container, std::move(pixels));
                if (!s) return false;
                surfaces_.push_back(std::move(s));
            }
        }
    }
    caches_.resize(static_cast<std::size_t>(Faces()) * sampledLevels_);
    view_.type = type_;
    view_.kind = (info_->use & (kFormatWide | kFormatSigned)) ? TexelKind::kFloat : TexelKind::kBgra8;
    view_.levelCount = sampledLevels_;
    return true;
}

Surface* TextureCore::SurfaceAt(UINT face, UINT level) const {
    if (type_ == D3DRTYPE_VOLUMETEXTURE || face >= Faces() || level >= storedLevels_) return nullptr;
    return surfaces_[face * storedLevels_ + level].Get();
}

Volume* TextureCore::VolumeAt(UINT level) const {
    if (type_ != D3DRTYPE_VOLUMETEXTURE || level >= storedLevels_) return nullptr;
    return volumes_[level].Get();
}

std::uint32_t TextureCore::LevelVersion(UINT face, UINT level) const {
    if (type_ == D3DRTYPE_VOLUMETEXTURE) return volumes_[level]->Version();
    return surfaces_[face * storedLevels_ + level]->Version();
}

const SamplingView* TextureCore::PrepareSampling() const {
    if (info_->decode == nullptr || pool_ == D3DPOOL_SCRATCH) return nullptr;
    view_.firstLevel = std::min<UINT>(lod_, sampledLevels_ - 1);
    for (UINT face = 0; face < Faces(); ++face) {
        bool rebuilt = false;
        for (UINT level = 0; level < sampledLevels_; ++level) {
            LevelCache& cache = caches_[face * sampledLevels_ + level];
            if (level < storedLevels_) {
                std::uint32_t version = LevelVersion(face, level);
                if (cache.seenVersion == version) continue;
                PrepareLevel(face, level);
                cache.seenVersion = version;
                rebuilt = true;
            } else if (rebuilt || cache.seenVersion == ~0u) {
                BuildSmallerLevel(face, level);
                cache.seenVersion = 0;
                rebuilt = true;
            }
        }
    }
    return &view_;
}

void TextureCore::PrepareLevel(UINT face, UINT level) const {
    LevelCache& cache = caches_[face * sampledLevels_ + level];
    SamplingLevel& out = view_.faces[face][level];
    UINT w = Width(level), h = Height(level), d = type_ == D3DRTYPE_VOLUMETEXTURE ? Depth(level) : 1;
    out.width = static_cast<std::int32_t>(w);
    out.height = static_cast<std::int32_t>(h);
    out.depth = static_cast<std::int32_t>(d);
    const std::byte* data = nullptr;
    std::size_t pitch = 0, slicePitch = 0;
    if (type_ == D3DRTYPE_VOLUMETEXTURE) {
        Volume* v = volumes_[level].Get();
        data = v->Slice(0);
        pitch = v->RowPitchBytes();
        slicePitch = v->SlicePitchBytes();
    } else {
        Surface* s = surfaces_[face * storedLevels_ + level].Get();
        data = s->Row(0);
        pitch = s->Pitch();
    }
    // 32-bit ARGB and XRGB levels are read where they lie.
    if (format_ == D3DFMT_A8R8G8B8 || format_ == D3DFMT_X8R8G8B8) {
        view_.alphaOr = format_ == D3DFMT_X8R8G8B8 ? 0xFF000000u : 0u;
        out.texels = data;
        out.rowStride = static_cast<std::ptrdiff_t>(pitch / 4);
        out.sliceStride = static_cast<std::ptrdiff_t>(slicePitch / 4);
        return;
    }
    std::size_t texels = static_cast<std::size_t>(w) * h * d;
    std::vector<float> decoded(texels * 4);
    for (UINT z = 0; z < d; ++z) {
        DecodeImage(*info_, data + z * slicePitch, pitch, w, h, decoded.data() + static_cast<std::size_t>(z) * w * h * 4);
    }
    out.rowStride = w;
    out.sliceStride = static_cast<std::ptrdiff_t>(w) * h;
    if (view_.kind == TexelKind::kFloat) {
        cache.rgba = std::move(decoded);
        out.texels = cache.rgba.data();
    } else {
        cache.bgra.resize(texels);
        for (std::size_t i = 0; i < texels; ++i) cache.bgra[i] = EncodeArgb8(&decoded[4 * i]);
        out.texels = cache.bgra.data();
    }
}

void TextureCore::BuildSmallerLevel(UINT face, UINT level) const {
    const SamplingLevel& src = view_.faces[face][level - 1];
    SamplingLevel& out = view_.faces[face][level];
    LevelCache& cache = caches_[face * sampledLevels_ + level];
    int w = std::max(1, src.width / 2), h = std::max(1, src.height / 2), d = std::max(1, src.depth / 2);
    out.width = w;
    out.height = h;
    out.depth = d;
    out.rowStride = w;
    out.sliceStride = static_cast<std::ptrdiff_t>(w) * h;
    std::size_t texels = static_cast<std::size_t>(w) * h * d;
    std::vector<float> values(texels * 4);
    int sx = src.width > 1 ? 2 : 1, sy = src.height > 1 ? 2 : 1, sz = src.depth > 1 ? 2 : 1;
    float weight = 1.0f / static_cast<float>(sx * sy * sz);
    for (int z = 0; z < d; ++z) {
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                float* o = &values[4 * ((static_cast<std::size_t>(z) * h + y) * w + x)];
                for (int k = 0; k < sz; ++k) {
                    for (int j = 0; j < sy; ++j) {
                        for (int i = 0; i < sx; ++i) {
                            float t[4];
                            ReadTexel(view_, src, x * sx + i, y * sy + j, z * sz + k, t);
                            for (int c = 0; c < 4; ++c) o[c] += t[c] * weight;
                        }
                    }
                }
            }
        }
    }
    if (view_.kind == TexelKind::kFloat) {
        cache.rgba = std::move(values);
        out.texels = cache.rgba.data();
    } else {
        cache.bgra.resize(texels);
        for (std::size_t i = 0; i < texels; ++i) cache.bgra[i] = EncodeArgb8(&values[4 * i]);
        out.texels = cache.bgra.data();
    }
}

// ---- Texture objects ----

namespace {

// The IDirect3DBaseTexture9 operations over a TextureCore.
template <class Derived, class Interface>
class TextureObject : public ResourceObject<Derived, Interface>, public TextureCore {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object != nullptr && riid == IDirect3DBaseTexture9::iid) {
            this->AddRef();
            *object = static_cast<IDirect3DBaseTexture9*>(this);
            return S_OK;
        }
        return ResourceObject<Derived, Interface>::QueryInterface(riid, object);
    }
    DWORD SetLOD(DWORD LODNew) override {
        RecordCall("SetLOD", LODNew);
        if (TexturePool() != D3DPOOL_MANAGED) return 0;
        return std::exchange(lod_, std::min<DWORD>(LODNew, StoredLevels() - 1));
    }
    DWORD GetLOD() override {
        RecordCall("GetLOD");
        return lod_;
    }
    DWORD GetLevelCount() override {
        RecordCall("GetLevelCount");
        return StoredLevels();
    }
    HRESULT SetAutoGenFilterType(D3DTEXTUREFILTERTYPE FilterType) override {
        RecordCall("SetAutoGenFilterType", FilterType);
        if ((Usage() & D3DUSAGE_AUTOGENMIPMAP) == 0) return D3DERR_INVALIDCALL;
        if (FilterType != D3DTEXF_POINT && FilterType != D3DTEXF_LINEAR) return D3DERR_INVALIDCALL;
        autoGenFilter_ = FilterType;
        return D3D_OK;
    }
    D3DTEXTUREFILTERTYPE GetAutoGenFilterType() override {
        RecordCall("GetAutoGenFilterType");
        return autoGenFilter_;
    }
    // The smaller levels follow level 0 by themselves when the texture is next sampled.
    void GenerateMipSubLevels() override { RecordCall("GenerateMipSubLevels"); }

    D3DPOOL Pool() const { return TexturePool(); }

protected:
    TextureObject(std::shared_ptr<DeviceLink> link, const TextureRequest& r)
        : ResourceObject<Derived, Interface>(link),
          TextureCore(link, r.type, r.width, r.height, r.depth, r.levels, r.usage, r.format, r.pool) {}

    D3DSURFACE_DESC LevelDesc(UINT level) const {
        return D3DSURFACE_DESC{Format(), D3DRTYPE_SURFACE, Usage(), TexturePool(), D3DMULTISAMPLE_NONE, 0,
                               Width(level), Height(level)};
    }
    bool RectInside(const RECT* rect) const {
        return rect == nullptr || (rect->left >= 0 && rect->top >= 0 && rect->left <= rect->right &&
                                   rect->top <= rect->bottom && static_cast<UINT>(rect->right) <= Width(0) &&
                                   static_cast<UINT>(rect->bottom) <= Height(0));
    }
};

class Texture final : public TextureObject<Texture, IDirect3DTexture9> {
public:
    static constexpr D3DRESOURCETYPE kResourceType = D3DRTYPE_TEXTURE;
    Texture(std::shared_ptr<DeviceLink> link, const TextureRequest& r) : TextureObject(std::move(link), r) {}

    HRESULT GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc) override {
        RecordCall("GetLevelDesc", Level, pDesc);
        if (pDesc == nullptr || Level >= StoredLevels()) return D3DERR_INVALIDCALL;
        *pDesc = LevelDesc(Level);
        return D3D_OK;
    }
    HRESULT GetSurfaceLevel(UINT Level, IDirect3DSurface9** ppSurfaceLevel) override {
        RecordCall("GetSurfaceLevel", Level, ppSurfaceLevel);
        if (ppSurfaceLevel == nullptr) return D3DERR_INVALIDCALL;
        *ppSurfaceLevel = nullptr;
        Surface* s = SurfaceAt(0, Level);
        if (s == nullptr) return D3DERR_INVALIDCALL;
        s->AddRef();
        *ppSurfaceLevel = s;
        return D3D_OK;
    }
    HRESULT LockRect(UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) override {
        RecordCall("LockRect", Level, pLockedRect, pRect, Flags);
        Surface* s = SurfaceAt(0, Level);
        if (s == nullptr || (Flags & ~kLockFlags) != 0) return D3DERR_INVALIDCALL;
        return s->LockArea(pLockedRect, pRect, Flags);
    }
    HRESULT UnlockRect(UINT Level) override {
        RecordCall("UnlockRect", Level);
        Surface* s = SurfaceAt(0, Level);
        if (s == nullptr) return D3DERR_INVALIDCALL;
        return s->UnlockArea();
    }
    HRESULT AddDirtyRect(const RECT* pDirtyRect) override {
        RecordCall("AddDirtyRect", pDirtyRect);
        return RectInside(pDirtyRect) ? D3D_OK : D3DERR_INVALIDCALL;
    }
};

class CubeTexture final : public TextureObject<CubeTexture, IDirect3DCubeTexture9> {
public:
    static constexpr D3DRESOURCETYPE kResourceType = D3DRTYPE_CUBETEXTURE;
    CubeTexture(std::shared_ptr<DeviceLink> link, const TextureRequest& r) : TextureObject(std::move(link), r) {}

    HRESULT GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc) override {
        RecordCall("GetLevelDesc", Level, pDesc);
        if (pDesc == nullptr || Level >= StoredLevels()) return D3DERR_INVALIDCALL;
        *pDesc = LevelDesc(Level);
        return D3D_OK;
    }
    HRESULT GetCubeMapSurface(D3DCUBEMAP_FACES FaceType, UINT Level, IDirect3DSurface9** ppCubeMapSurface) override {
        RecordCall("GetCubeMapSurface", FaceType, Level, ppCubeMapSurface);
        if (ppCubeMapSurface == nullptr) return D3DERR_INVALIDCALL;
        *ppCubeMapSurface = nullptr;
        Surface* s = SurfaceAt(FaceType, Level);
        if (s == nullptr) return D3DERR_INVALIDCALL;
        s->AddRef();
        *ppCubeMapSurface = s;
        return D3D_OK;
    }
    HRESULT LockRect(D3DCUBEMAP_FACES FaceType, UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect,
                     DWORD Flags) override {
        RecordCall("LockRect", FaceType, Level, pLockedRect, pRect, Flags);
        Surface* s = SurfaceAt(FaceType, Level);
        if (s == nullptr || (Flags & ~kLockFlags) != 0) return D3DERR_INVALIDCALL;
        return s->LockArea(pLockedRect, pRect, Flags);
    }
    HRESULT UnlockRect(D3DCUBEMAP_FACES FaceType, UINT Level) override {
        RecordCall("UnlockRect", FaceType, Level);
        Surface* s = SurfaceAt(FaceType, Level);
        if (s == nullptr) return D3DERR_INVALIDCALL;
        return s->UnlockArea();
    }
    HRESULT AddDirtyRect(D3DCUBEMAP_FACES FaceType, const RECT* pDirtyRect) override {
        RecordCall("AddDirtyRect", FaceType, pDirtyRect);
        return FaceType <= D3DCUBEMAP_FACE_NEGATIVE_Z && RectInside(pDirtyRect) ? D3D_OK : D3DERR_INVALIDCALL;
    }
};

// True when `box` (null: the whole) is a non-empty box inside w x h x d with block-aligned x and y.
bool ValidBox(const FormatInfo& info, UINT w, UINT h, UINT d, const D3DBOX* box, bool allowEmpty = false) {
    if (box == nullptr) return true;
    if (box->Front > box->Back || box->Back > d || (!allowEmpty && box->Front == box->Back)) return false;
    if (allowEmpty) {
        return box->Left <= box->Right && box->Top <= box->Bottom && box->Right <= w && box->Bottom <= h;
    }
    RECT rect{static_cast<LONG>(box->Left), static_cast<LONG>(box->Top), static_cast<LONG>(box->Right),
              static_cast<LONG>(box->Bottom)};
    return box->Left <= w && box->Top <= h && ValidBlockRect(info, w, h, rect);
}

class VolumeTexture final : public TextureObject<VolumeTexture, IDirect3DVolumeTexture9> {
public:
    static constexpr D3DRESOURCETYPE kResourceType = D3DRTYPE_VOLUMETEXTURE;
    VolumeTexture(std::shared_ptr<DeviceLink> link, const TextureRequest& r) : TextureObject(std::move(link), r) {}

    HRESULT GetLevelDesc(UINT Level, D3DVOLUME_DESC* pDesc) override {
        RecordCall("GetLevelDesc", Level, pDesc);
        if (pDesc == nullptr || Level >= StoredLevels()) return D3DERR_INVALIDCALL;
        *pDesc = D3DVOLUME_DESC{Format(), D3DRTYPE_VOLUME, Usage(), TexturePool(), Width(Level), Height(Level),
                                Depth(Level)};
        return D3D_OK;
    }
    HRESULT GetVolumeLevel(UINT Level, IDirect3DVolume9** ppVolumeLevel) override {
        RecordCall("GetVolumeLevel", Level, ppVolumeLevel);
        if (ppVolumeLevel == nullptr) return D3DERR_INVALIDCALL;
        *ppVolumeLevel = nullptr;
        Volume* v = VolumeAt(Level);
        if (v == nullptr) return D3DERR_INVALIDCALL;
        v->AddRef();
        *ppVolumeLevel = v;
        return D3D_OK;
    }
    HRESULT LockBox(UINT Level, D3DLOCKED_BOX* pLockedVolume, const D3DBOX* pBox, DWORD Flags) override {
        RecordCall("LockBox", Level, pLockedVolume, pBox, Flags);
        Volume* v = VolumeAt(Level);
        if (v == nullptr) return D3DERR_INVALIDCALL;
        return v->LockArea(pLockedVolume, pBox, Flags);
    }
    HRESULT UnlockBox(UINT Level) override {
        RecordCall("UnlockBox", Level);
        Volume* v = VolumeAt(Level);
        if (v == nullptr) return D3DERR_INVALIDCALL;
        return v->UnlockArea();
    }
    HRESULT AddDirtyBox(const D3DBOX* pDirtyBox) override {
        RecordCall("AddDirtyBox", pDirtyBox);
        return ValidBox(Info(), Width(0), Height(0), Depth(0), pDirtyBox, true) ? D3D_OK : D3DERR_INVALIDCALL;
    }
};

}  // namespace

HRESULT MakeTexture(std::shared_ptr<DeviceLink> link, const TextureRequest& request,
                    ComPtr<IDirect3DBaseTexture9>* texture) {
    HRESULT outOfMemory = request.pool == D3DPOOL_DEFAULT ? D3DERR_OUTOFVIDEOMEMORY : E_OUTOFMEMORY;
    auto make = [&](auto object, auto* asInterface) -> HRESULT {
        if (!object || !object->MakeLevels(asInterface)) return outOfMemory;
        *texture = ComPtr<IDirect3DBaseTexture9>(asInterface);
        return D3D_OK;
    };
    switch (request.type) {
        case D3DRTYPE_TEXTURE: {
            ComPtr<Texture> t = MakeRef<Texture>(link, request);
            return make(t, static_cast<IDirect3DTexture9*>(t.Get()));
        }
        case D3DRTYPE_CUBETEXTURE: {
            ComPtr<CubeTexture> t = MakeRef<CubeTexture>(link, request);
            return make(t, static_cast<IDirect3DCubeTexture9*>(t.Get()));
        }
        case D3DRTYPE_VOLUMETEXTURE: {
            ComPtr<VolumeTexture> t = MakeRef<VolumeTexture>(link, request);
            return make(t, static_cast<IDirect3DVolumeTexture9*>(t.Get()));
        }
        default:
            return D3DERR_INVALIDCALL;
    }
}

TextureCore* CoreOf(IDirect3DBaseTexture9* texture) { return dynamic_cast<TextureCore*>(texture); }

// ---- Volumes ----

Volume::Volume(std::shared_ptr<DeviceLink> link, UINT width, UINT height, UINT depth, D3DFORMAT format,
               const FormatInfo* info, DWORD usage, D3DPOOL pool, std::shared_ptr<ByteBlock> pixels,
               IUnknown* container)
    : link_(std::move(link)),
      width_(width),
      height_(height),
      depth_(depth),
      format_(format),
      info_(info),
      usage_(usage),
      pool_(pool),
      rowPitch_(static_cast<UINT>(RowPitch(*info, width))),
      slicePitch_(RowPitch(*info, width) * BlockRows(*info, height)),
      pixels_(std::move(pixels)),
      container_(container),
      lockable_(!(pool == D3DPOOL_DEFAULT && (usage & D3DUSAGE_DYNAMIC) == 0)) {}

ULONG Volume::AddRef() {
    ULONG refs = RefCounted::AddRef();
    if (refs == 2 && container_ != nullptr) container_->AddRef();
    return refs;
}

ULONG Volume::Release() {
    IUnknown* container = container_;
    ULONG refs = RefCounted::Release();
    if (refs == 1 && container != nullptr) container->Release();
    return refs;
}

HRESULT Volume::GetDevice(IDirect3DDevice9** ppDevice) {
    RecordCall("GetDevice", ppDevice);
    if (ppDevice == nullptr) return D3DERR_INVALIDCALL;
    *ppDevice = nullptr;
    if (!link_ || link_->device == nullptr) return D3DERR_INVALIDCALL;
    link_->device->AddRef();
    *ppDevice = link_->device;
    return D3D_OK;
}

HRESULT Volume::SetPrivateData(REFGUID refguid, const void* pData, DWORD SizeOfData, DWORD Flags) {
    RecordCall("SetPrivateData", refguid, pData, SizeOfData, Flags);
    return privateData_.Set(refguid, pData, SizeOfData, Flags);
}

HRESULT Volume::GetPrivateData(REFGUID refguid, void* pData, DWORD* pSizeOfData) {
    RecordCall("GetPrivateData", refguid, pData, pSizeOfData);
    return privateData_.Get(refguid, pData, pSizeOfData);
}

HRESULT Volume::FreePrivateData(REFGUID refguid) {
    RecordCall("FreePrivateData", refguid);
    return privateData_.Free(refguid);
}

HRESULT Volume::GetContainer(REFIID riid, void** ppContainer) {
    RecordCall("GetContainer", riid, ppContainer);
    if (ppContainer == nullptr) return D3DERR_INVALIDCALL;
    *ppContainer = nullptr;
    if (container_ == nullptr) return D3DERR_INVALIDCALL;
    return container_->QueryInterface(riid, ppContainer);
}

HRESULT Volume::GetDesc(D3DVOLUME_DESC* pDesc) {
    RecordCall("GetDesc", pDesc);
    if (pDesc == nullptr) return D3DERR_INVALIDCALL;
    *pDesc = D3DVOLUME_DESC{format_, D3DRTYPE_VOLUME, usage_, pool_, width_, height_, depth_};
    return D3D_OK;
}

HRESULT Volume::LockBox(D3DLOCKED_BOX* pLockedVolume, const D3DBOX* pBox, DWORD Flags) {
    RecordCall("LockBox", pLockedVolume, pBox, Flags);
    return LockArea(pLockedVolume, pBox, Flags);
}

HRESULT Volume::UnlockBox() {
    RecordCall("UnlockBox");
    return UnlockArea();
}

HRESULT Volume::LockArea(D3DLOCKED_BOX* locked, const D3DBOX* box, DWORD flags) {
    if (locked == nullptr || (flags & ~kLockFlags) != 0) return D3DERR_INVALIDCALL;
    if (locked_ || !lockable_ || (info_->use & kFormatLockable) == 0) return D3DERR_INVALIDCALL;
    if (!ValidBox(*info_, width_, height_, depth_, box)) return D3DERR_INVALIDCALL;
    D3DBOX area = box != nullptr ? *box : D3DBOX{0, 0, width_, height_, 0, depth_};
    locked_ = true;
    lockedForWriting_ = (flags & D3DLOCK_READONLY) == 0;
    locked->RowPitch = static_cast<INT>(rowPitch_);
    locked->SlicePitch = static_cast<INT>(slicePitch_);
    locked->pBits = Slice(area.Front) + static_cast<std::size_t>(area.Top / info_->blockHeight) * rowPitch_ +
                    static_cast<std::size_t>(area.Left / info_->blockWidth) * info_->blockBytes;
    return D3D_OK;
}

HRESULT Volume::UnlockArea() {
    if (!locked_) return D3DERR_INVALIDCALL;
    locked_ = false;
    if (lockedForWriting_) MarkChanged();
    return D3D_OK;
}

}  // namespace qm::d3d9
