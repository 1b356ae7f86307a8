// surface_loading.cpp: the four loaders: lock the destination (or reach it through a system-memory
// copy), describe both sides as PixelBoxes and hand them to ConvertAndFilter.
#include "library/tex/surface_loading.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "library/tex/convert_filter.h"
#include "library/tex/debug_mute.h"
#include "library/tex/dxt_codec.h"
#include "library/tex/pixel_box.h"
#include "platform/win/results.h"

namespace qm {
namespace {

bool IsTwoPixelFormat(D3DFORMAT f) {
    return f == D3DFMT_UYVY || f == D3DFMT_YUY2 || f == D3DFMT_R8G8_B8G8 || f == D3DFMT_G8R8_G8B8;
}

// Widens [lo, hi) to whole blocks of the given size, never past the surface's edge.
void Widen(LONG& lo, LONG& hi, LONG block, LONG limit) {
    lo -= lo % block;
    hi = std::min(limit, (hi + block - 1) / block * block);
}

DWORD ResolveFilter(DWORD filter) { return filter == 0xFFFFFFFFu ? kDefaultLoadFilter : filter; }

bool SameSize(const RECT& a, const RECT& b) {
    return a.right - a.left == b.right - b.left && a.bottom - a.top == b.bottom - b.top;
}

// Bytes of one row of n pixels (or blocks) of a format, and how many pixel rows one stored row holds.
struct RowShape {
    std::size_t bytes;
    UINT rowsPerRow;
};

RowShape RowBytes(D3DFORMAT format, UINT width) {
    if (IsDxtFormat(format)) return {static_cast<std::size_t>((width + 3) / 4) * DxtBlockBytes(format), 4};
    if (IsTwoPixelFormat(format)) return {static_cast<std::size_t>((width + 1) / 2) * 4, 1};
    const CodecInfo* info = FindCodecInfo(format);
    return {static_cast<std::size_t>(width) * (info != nullptr ? info->bitsPerPixel / 8 : 4), 1};
}

void CopyRows(BYTE* dst, INT dstPitch, const BYTE* src, INT srcPitch, D3DFORMAT format, UINT width, UINT height) {
    const RowShape shape = RowBytes(format, width);
    const UINT rows = (height + shape.rowsPerRow - 1) / shape.rowsPerRow;
    for (UINT y = 0; y < rows; ++y) {
        std::memcpy(dst + static_cast<std::ptrdiff_t>(y) * dstPitch, src + static_cast<std::ptrdiff_t>(y) * srcPitch,
                    shape.bytes);
    }
}

// A surface locked for reading or writing, directly or through a system-memory copy that is written
// back when the access ends.
class SurfaceAccess {
public:
    SurfaceAccess() = default;
    SurfaceAccess(const SurfaceAccess&) = delete;
    SurfaceAccess& operator=(const SurfaceAccess&) = delete;
    ~SurfaceAccess() { Close(); }

    // Locks the rectangle (null: the whole surface) widened to whole blocks, and describes it.
    HRESULT Open(IDirect3DSurface9* surface, const RECT* rect, bool readOnly) {
        surface_ = surface;
        readOnly_ = readOnly;
        HRESULT hr = surface->GetDesc(&desc_);
        if (FAILED(hr)) return hr;
        RECT r = rect != nullptr ? *rect : RECT{0, 0, static_cast<LONG>(desc_.Width), static_cast<LONG>(desc_.Height)};
        if (r.left < 0 || r.top < 0 || r.left > r.right || r.top > r.bottom || r.right > static_cast<LONG>(desc_.Width) ||
            r.bottom > static_cast<LONG>(desc_.Height)) {
            return D3DERR_INVALIDCALL;
        }
        requested_ = r;
        lock_ = r;
        if (IsDxtFormat(desc_.Format)) {
            Widen(lock_.left, lock_.right, 4, static_cast<LONG>(desc_.Width));
            Widen(lock_.top, lock_.bottom, 4, static_cast<LONG>(desc_.Height));
        } else if (IsTwoPixelFormat(desc_.Format)) {
            Widen(lock_.left, lock_.right, 2, static_cast<LONG>(desc_.Width));
        }
        DWORD flags = D3DLOCK_NOSYSLOCK | (readOnly ? D3DLOCK_READONLY : 0);
        if (!readOnly && WholeSurface() && SingleLevelDynamic()) flags |= D3DLOCK_DISCARD;

        D3DLOCKED_RECT locked{};
        ScopedDebugMute mute;  // the lock may fail by design (default pool); the copy takes over
        hr = surface->LockRect(&locked, &lock_, flags);
        if (SUCCEEDED(hr)) {
            locked_ = surface;
        } else {
            hr = OpenThroughCopy(flags & ~D3DLOCK_DISCARD, &locked);
            if (FAILED(hr)) return hr;
        }
        box_.pixels = static_cast<BYTE*>(locked.pBits);
        box_.format = desc_.Format;
        box_.rowPitch = static_cast<UINT>(locked.Pitch);
        box_.slicePitch = 0;
        box_.extent = {0, 0, static_cast<UINT>(lock_.right - lock_.left), static_cast<UINT>(lock_.bottom - lock_.top), 0, 1};
        box_.box = {static_cast<UINT>(r.left - lock_.left), static_cast<UINT>(r.top - lock_.top),
                    static_cast<UINT>(r.right - lock_.left), static_cast<UINT>(r.bottom - lock_.top), 0, 1};
        return S_OK;
    }

    // Unlocks, and writes a system-memory copy back to the surface (unless read-only).
    HRESULT Close() {
        HRESULT result = S_OK;
        if (locked_) {
            locked_->UnlockRect();
            locked_ = nullptr;
        }
        if (copy_ && !readOnly_) result = WriteBack();
        copy_ = nullptr;
        copyTexture_ = nullptr;
        return result;
    }

    PixelBox& Box() { return box_; }
    const D3DSURFACE_DESC& Desc() const { return desc_; }
    const RECT& Requested() const { return requested_; }

private:
    bool WholeSurface() const {
        return lock_.left == 0 && lock_.top == 0 && lock_.right == static_cast<LONG>(desc_.Width) &&
               lock_.bottom == static_cast<LONG>(desc_.Height);
    }

    bool SingleLevelDynamic() const {
        if ((desc_.Usage & D3DUSAGE_DYNAMIC) == 0) return false;
        ComPtr<IDirect3DTexture9> texture;
        if (FAILED(surface_->GetContainer(IDirect3DTexture9::iid, reinterpret_cast<void**>(texture.ReleaseAndGetAddressOf())))) {
            return false;
        }
        return texture && texture->GetLevelCount() == 1;
    }

    // A system-memory texture of the same format whose level n has the surface's size (n > 0 only for
    // DXT surfaces whose sizes are not multiples of 4), filled with the surface's current contents.
    HRESULT OpenThroughCopy(DWORD flags, D3DLOCKED_RECT* locked) {
        HRESULT hr = surface_->GetDevice(device_.ReleaseAndGetAddressOf());
        if (FAILED(hr)) return hr;
        UINT level = 0;
        if (IsDxtFormat(desc_.Format)) {
            while (((desc_.Width << level) % 4 != 0 || (desc_.Height << level) % 4 != 0) && level < 2) ++level;
        }
        hr = device_->CreateTexture(desc_.Width << level, desc_.Height << level, level + 1, 0, desc_.Format,
                                    D3DPOOL_SYSTEMMEM, copyTexture_.ReleaseAndGetAddressOf(), nullptr);
        if (FAILED(hr)) return hr;
        hr = copyTexture_->GetSurfaceLevel(level, copy_.ReleaseAndGetAddressOf());
        if (FAILED(hr)) return hr;
        hr = FillCopy(level);
        if (FAILED(hr)) return hr;
        hr = copy_->LockRect(locked, &lock_, flags);
        if (FAILED(hr)) return hr;
        locked_ = copy_.Get();
        return S_OK;
    }

    HRESULT FillCopy(UINT level) {
        if (SUCCEEDED(CopySurface(copy_.Get(), surface_, nullptr))) return S_OK;
        if (level != 0) return D3DERR_INVALIDCALL;
        // The surface cannot be read directly: go through a lockable render target.
        ComPtr<IDirect3DSurface9> target;
        HRESULT hr = device_->CreateRenderTarget(desc_.Width, desc_.Height, desc_.Format, D3DMULTISAMPLE_NONE, 0, TRUE,
                                                 target.ReleaseAndGetAddressOf(), nullptr);
        if (FAILED(hr)) return hr;
        hr = device_->StretchRect(surface_, nullptr, target.Get(), nullptr, D3DTEXF_NONE);
        if (FAILED(hr)) return hr;
        return CopySurface(copy_.Get(), target.Get(), nullptr);
    }

    // Copies the whole of one surface into another of the same size and format by locking both.
    static HRESULT CopySurface(IDirect3DSurface9* dst, IDirect3DSurface9* src, const RECT*) {
        D3DSURFACE_DESC desc{};
        HRESULT hr = src->GetDesc(&desc);
        if (FAILED(hr)) return hr;
        D3DLOCKED_RECT from{}, to{};
        hr = src->LockRect(&from, nullptr, D3DLOCK_READONLY | D3DLOCK_NOSYSLOCK);
        if (FAILED(hr)) return hr;
        hr = dst->LockRect(&to, nullptr, D3DLOCK_NOSYSLOCK);
        if (FAILED(hr)) {
            src->UnlockRect();
            return hr;
        }
        CopyRows(static_cast<BYTE*>(to.pBits), to.Pitch, static_cast<const BYTE*>(from.pBits), from.Pitch, desc.Format,
                 desc.Width, desc.Height);
        dst->UnlockRect();
        src->UnlockRect();
        return S_OK;
    }

    HRESULT WriteBack() {
        const POINT at{lock_.left, lock_.top};
        if (SUCCEEDED(device_->UpdateSurface(copy_.Get(), &lock_, surface_, &at))) return S_OK;
        return CopySurface(surface_, copy_.Get(), nullptr);
    }

    IDirect3DSurface9* surface_ = nullptr;
    IDirect3DSurface9* locked_ = nullptr;
    bool readOnly_ = false;
    D3DSURFACE_DESC desc_{};
    RECT requested_{};
    RECT lock_{};
    PixelBox box_;
    ComPtr<IDirect3DDevice9> device_;
    ComPtr<IDirect3DTexture9> copyTexture_;
    ComPtr<IDirect3DSurface9> copy_;
};

// A volume locked for reading or writing.
class VolumeAccess {
public:
    VolumeAccess() = default;
    VolumeAccess(const VolumeAccess&) = delete;
    VolumeAccess& operator=(const VolumeAccess&) = delete;
    ~VolumeAccess() { Close(); }

    HRESULT Open(IDirect3DVolume9* volume, const D3DBOX* box, bool readOnly) {
        D3DVOLUME_DESC desc{};
        HRESULT hr = volume->GetDesc(&desc);
        if (FAILED(hr)) return hr;
        D3DBOX b = box != nullptr ? *box : D3DBOX{0, 0, desc.Width, desc.Height, 0, desc.Depth};
        if (b.Left > b.Right || b.Top > b.Bottom || b.Front > b.Back || b.Right > desc.Width || b.Bottom > desc.Height ||
            b.Back > desc.Depth) {
            return D3DERR_INVALIDCALL;
        }
        D3DBOX lock = b;
        if (IsDxtFormat(desc.Format)) {
            lock.Left -= lock.Left % 4;
            lock.Top -= lock.Top % 4;
            lock.Right = std::min(desc.Width, (lock.Right + 3) / 4 * 4);
            lock.Bottom = std::min(desc.Height, (lock.Bottom + 3) / 4 * 4);
        } else if (IsTwoPixelFormat(desc.Format)) {
            lock.Left -= lock.Left % 2;
            lock.Right = std::min(desc.Width, (lock.Right + 1) / 2 * 2);
        }
        D3DLOCKED_BOX locked{};
        hr = volume->LockBox(&locked, &lock, D3DLOCK_NOSYSLOCK | (readOnly ? D3DLOCK_READONLY : 0));
        if (FAILED(hr)) return hr;
        volume_ = volume;
        box_.pixels = static_cast<BYTE*>(locked.pBits);
        box_.format = desc.Format;
        box_.rowPitch = static_cast<UINT>(locked.RowPitch);
        box_.slicePitch = static_cast<UINT>(locked.SlicePitch);
        box_.extent = {0, 0, lock.Right - lock.Left, lock.Bottom - lock.Top, 0, lock.Back - lock.Front};
        box_.box = {b.Left - lock.Left, b.Top - lock.Top, b.Right - lock.Left, b.Bottom - lock.Top, 0, b.Back - b.Front};
        return S_OK;
    }

    void Close() {
        if (volume_ != nullptr) volume_->UnlockBox();
        volume_ = nullptr;
    }

    PixelBox& Box() { return box_; }

private:
    IDirect3DVolume9* volume_ = nullptr;
    PixelBox box_;
};

bool ValidRect(const RECT& r) { return r.left >= 0 && r.top >= 0 && r.left <= r.right && r.top <= r.bottom; }

// Fills the destination rectangle from a described source.
HRESULT LoadSurfaceFromBox(IDirect3DSurface9* destSurface, const PALETTEENTRY* destPalette, const RECT* destRect,
                           const PixelBox& source, DWORD filter) {
    if (!IsValidFilter(filter)) return D3DERR_INVALIDCALL;
    SurfaceAccess dest;
    HRESULT hr = dest.Open(destSurface, destRect, false);
    if (FAILED(hr)) return hr;
    PixelBox& box = dest.Box();
    box.palette = destPalette;
    hr = ConvertAndFilter(box, source, filter);
    const HRESULT closed = dest.Close();
    return FAILED(hr) ? hr : closed;
}

}  // namespace

HRESULT LoadSurfaceFromMemory(IDirect3DSurface9* destSurface, const PALETTEENTRY* destPalette, const RECT* destRect,
                              const void* srcMemory, D3DFORMAT srcFormat, UINT srcPitch,
                              const PALETTEENTRY* srcPalette, const RECT* srcRect, DWORD filter, D3DCOLOR colorKey) {
    if (destSurface == nullptr || srcMemory == nullptr || srcRect == nullptr || !ValidRect(*srcRect)) {
        return D3DERR_INVALIDCALL;
    }
    PixelBox source;
    source.pixels = static_cast<BYTE*>(const_cast<void*>(srcMemory));
    source.format = srcFormat;
    source.rowPitch = srcPitch;
    source.extent = {0, 0, static_cast<UINT>(srcRect->right), static_cast<UINT>(srcRect->bottom), 0, 1};
    source.box = {static_cast<UINT>(srcRect->left), static_cast<UINT>(srcRect->top), static_cast<UINT>(srcRect->right),
                  static_cast<UINT>(srcRect->bottom), 0, 1};
    source.colorKey = colorKey;
    source.palette = srcPalette;
    return LoadSurfaceFromBox(destSurface, destPalette, destRect, source, ResolveFilter(filter));
}

HRESULT LoadVolumeFromMemory(IDirect3DVolume9* destVolume, const PALETTEENTRY* destPalette, const D3DBOX* destBox,
                             const void* srcMemory, D3DFORMAT srcFormat, UINT srcRowPitch, UINT srcSlicePitch,
                             const PALETTEENTRY* srcPalette, const D3DBOX* srcBox, DWORD filter, D3DCOLOR colorKey) {
    if (destVolume == nullptr || srcMemory == nullptr || srcBox == nullptr || srcBox->Left > srcBox->Right ||
        srcBox->Top > srcBox->Bottom || srcBox->Front > srcBox->Back) {
        return D3DERR_INVALIDCALL;
    }
    filter = ResolveFilter(filter);
    if (!IsValidFilter(filter)) return D3DERR_INVALIDCALL;
    PixelBox source;
    source.pixels = static_cast<BYTE*>(const_cast<void*>(srcMemory));
    source.format = srcFormat;
    source.rowPitch = srcRowPitch;
    source.slicePitch = srcSlicePitch;
    source.extent = {0, 0, srcBox->Right, srcBox->Bottom, 0, srcBox->Back};
    source.box = {srcBox->Left, srcBox->Top, srcBox->Right, srcBox->Bottom, srcBox->Front, srcBox->Back};
    source.colorKey = colorKey;
    source.palette = srcPalette;
    VolumeAccess dest;
    HRESULT hr = dest.Open(destVolume, destBox, false);
    if (FAILED(hr)) return hr;
    dest.Box().palette = destPalette;
    return ConvertAndFilter(dest.Box(), source, filter);
}

HRESULT LoadSurfaceFromSurface(IDirect3DSurface9* destSurface, const PALETTEENTRY* destPalette, const RECT* destRect,
                               IDirect3DSurface9* srcSurface, const PALETTEENTRY* srcPalette, const RECT* srcRect,
                               DWORD filter, D3DCOLOR colorKey) {
    if (destSurface == nullptr || srcSurface == nullptr) return D3DERR_INVALIDCALL;
    filter = ResolveFilter(filter);
    if (!IsValidFilter(filter)) return D3DERR_INVALIDCALL;
    D3DSURFACE_DESC srcDesc{}, dstDesc{};
    HRESULT hr = srcSurface->GetDesc(&srcDesc);
    if (FAILED(hr)) return hr;
    hr = destSurface->GetDesc(&dstDesc);
    if (FAILED(hr)) return hr;
    const RECT srcWhole{0, 0, static_cast<LONG>(srcDesc.Width), static_cast<LONG>(srcDesc.Height)};
    const RECT dstWhole{0, 0, static_cast<LONG>(dstDesc.Width), static_cast<LONG>(dstDesc.Height)};
    const RECT& s = srcRect != nullptr ? *srcRect : srcWhole;
    const RECT& d = destRect != nullptr ? *destRect : dstWhole;

    // The device copies same-size rectangles itself when nothing needs converting.
    const bool samePalette = srcPalette == destPalette ||
                             (srcPalette != nullptr && destPalette != nullptr &&
                              std::memcmp(srcPalette, destPalette, 256 * sizeof(PALETTEENTRY)) == 0);
    if ((filter & kFilterKindMask) != FILTER_BOX && colorKey == 0 && samePalette && SameSize(s, d) &&
        dstDesc.Pool == D3DPOOL_DEFAULT) {
        ComPtr<IDirect3DDevice9> device;
        if (SUCCEEDED(destSurface->GetDevice(device.ReleaseAndGetAddressOf()))) {
            if (srcDesc.Pool == D3DPOOL_DEFAULT &&
                SUCCEEDED(device->StretchRect(srcSurface, srcRect, destSurface, destRect, D3DTEXF_NONE))) {
                return S_OK;
            }
            const POINT at{d.left, d.top};
            if (srcDesc.Pool == D3DPOOL_SYSTEMMEM && SUCCEEDED(device->UpdateSurface(srcSurface, srcRect, destSurface, &at))) {
                return S_OK;
            }
        }
    }

    SurfaceAccess source;
    hr = source.Open(srcSurface, srcRect, true);
    if (FAILED(hr)) return hr;
    PixelBox srcBox = source.Box();
    srcBox.colorKey = colorKey;
    srcBox.palette = srcPalette;
    std::vector<BYTE> copy;
    if (srcSurface == destSurface) {
        // Reading and writing one surface: read from a copy of the locked source rows.
        const RowShape shape = RowBytes(srcBox.format, srcBox.extent.right);
        const UINT rows = (srcBox.extent.bottom + shape.rowsPerRow - 1) / shape.rowsPerRow;
        try {
            copy.resize(shape.bytes * rows);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        CopyRows(copy.data(), static_cast<INT>(shape.bytes), srcBox.pixels, static_cast<INT>(srcBox.rowPitch),
                 srcBox.format, srcBox.extent.right, srcBox.extent.bottom);
        srcBox.pixels = copy.data();
        srcBox.rowPitch = static_cast<UINT>(shape.bytes);
        source.Close();
    }
    hr = LoadSurfaceFromBox(destSurface, destPalette, destRect, srcBox, filter);
    source.Close();
    if (SUCCEEDED(hr) && srcDesc.Pool == D3DPOOL_DEFAULT && dstDesc.Pool != D3DPOOL_DEFAULT) {
        ComPtr<IDirect3DDevice9> device;
        if (SUCCEEDED(srcSurface->GetDevice(device.ReleaseAndGetAddressOf())) && FAILED(device->TestCooperativeLevel())) {
            return D3DERR_DEVICELOST;
        }
    }
    return hr;
}

HRESULT LoadVolumeFromVolume(IDirect3DVolume9* destVolume, const PALETTEENTRY* destPalette, const D3DBOX* destBox,
                             IDirect3DVolume9* srcVolume, const PALETTEENTRY* srcPalette, const D3DBOX* srcBox,
                             DWORD filter, D3DCOLOR colorKey) {
    if (destVolume == nullptr || srcVolume == nullptr) return D3DERR_INVALIDCALL;
    filter = ResolveFilter(filter);
    if (!IsValidFilter(filter)) return D3DERR_INVALIDCALL;
    if (srcVolume == destVolume) return D3DERR_INVALIDCALL;  // one lock at a time per volume
    VolumeAccess source;
    HRESULT hr = source.Open(srcVolume, srcBox, true);
    if (FAILED(hr)) return hr;
    PixelBox src = source.Box();
    src.colorKey = colorKey;
    src.palette = srcPalette;
    VolumeAccess dest;
    hr = dest.Open(destVolume, destBox, false);
    if (FAILED(hr)) return hr;
    dest.Box().palette = destPalette;
    return ConvertAndFilter(dest.Box(), src, filter);
}

}  // namespace qm
