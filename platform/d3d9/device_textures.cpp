// device_textures.cpp: the device calls that make textures and surfaces and copy pixels between
// them: CreateTexture and its cube and volume forms, render targets, off-screen surfaces,
// UpdateSurface, UpdateTexture, GetRenderTargetData and StretchRect (nearest and bilinear).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/d3d9/device.h"
#include "platform/d3d9/recording.h"
#include "platform/d3d9/textures.h"

namespace qm::d3d9 {
namespace {

RECT WholeRect(const Surface& s) { return RECT{0, 0, static_cast<LONG>(s.Width()), static_cast<LONG>(s.Height())}; }

// Copies the blocks of `srcRect` (block-aligned, inside src) to the same-format dst at (dx, dy).
void CopyBlocks(const Surface& src, const RECT& srcRect, Surface& dst, LONG dx, LONG dy) {
    const FormatInfo& info = src.Info();
    UINT left = static_cast<UINT>(srcRect.left) / info.blockWidth;
    UINT right = (static_cast<UINT>(srcRect.right) + info.blockWidth - 1) / info.blockWidth;
    UINT top = static_cast<UINT>(srcRect.top) / info.blockHeight;
    UINT bottom = (static_cast<UINT>(srcRect.bottom) + info.blockHeight - 1) / info.blockHeight;
    UINT dstLeft = static_cast<UINT>(dx) / info.blockWidth, dstTop = static_cast<UINT>(dy) / info.blockHeight;
    std::size_t bytes = static_cast<std::size_t>(right - left) * info.blockBytes;
    for (UINT row = top; row < bottom; ++row) {
        std::memcpy(dst.Row(dstTop + row - top) + static_cast<std::size_t>(dstLeft) * info.blockBytes,
                    src.Row(row) + static_cast<std::size_t>(left) * info.blockBytes, bytes);
    }
    dst.MarkChanged();
}

void CopyVolume(const Volume& src, Volume& dst) {
    for (UINT z = 0; z < src.Depth(); ++z) std::memcpy(dst.Slice(z), src.Slice(z), src.SlicePitchBytes());
    dst.MarkChanged();
}

bool Overlap(const RECT& a, const RECT& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

}  // namespace

// ---- Textures ----

HRESULT Device::CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                              IDirect3DTexture9** ppTexture, HANDLE* pSharedHandle) {
    RecordCall("CreateTexture", Width, Height, Levels, Usage, Format, Pool, ppTexture, pSharedHandle);
    if (ppTexture == nullptr) return D3DERR_INVALIDCALL;
    *ppTexture = nullptr;
    if (pSharedHandle != nullptr) return D3DERR_INVALIDCALL;
    TextureRequest request{D3DRTYPE_TEXTURE, Width, Height, 1, Levels, Usage, Format, Pool};
    if (HRESULT hr = CheckTextureRequest(caps_, &request); FAILED(hr)) return hr;
    ComPtr<IDirect3DBaseTexture9> texture;
    if (HRESULT hr = MakeTexture(link_, request, &texture); FAILED(hr)) return hr;
    *ppTexture = static_cast<IDirect3DTexture9*>(texture.Detach());
    return D3D_OK;
}

HRESULT Device::CreateVolumeTexture(UINT Width, UINT Height, UINT Depth, UINT Levels, DWORD Usage, D3DFORMAT Format,
                                    D3DPOOL Pool, IDirect3DVolumeTexture9** ppVolumeTexture, HANDLE* pSharedHandle) {
    RecordCall("CreateVolumeTexture", Width, Height, Depth, Levels, Usage, Format, Pool, ppVolumeTexture,
               pSharedHandle);
    if (ppVolumeTexture == nullptr) return D3DERR_INVALIDCALL;
    *ppVolumeTexture = nullptr;
    if (pSharedHandle != nullptr) return D3DERR_INVALIDCALL;
    TextureRequest request{D3DRTYPE_VOLUMETEXTURE, Width, Height, Depth, Levels, Usage, Format, Pool};
    if (HRESULT hr = CheckTextureRequest(caps_, &request); FAILED(hr)) return hr;
    ComPtr<IDirect3DBaseTexture9> texture;
    if (HRESULT hr = MakeTexture(link_, request, &texture); FAILED(hr)) return hr;
    *ppVolumeTexture = static_cast<IDirect3DVolumeTexture9*>(texture.Detach());
    return D3D_OK;
}

HRESULT Device::CreateCubeTexture(UINT EdgeLength, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                                  IDirect3DCubeTexture9** ppCubeTexture, HANDLE* pSharedHandle) {
    RecordCall("CreateCubeTexture", EdgeLength, Levels, Usage, Format, Pool, ppCubeTexture, pSharedHandle);
    if (ppCubeTexture == nullptr) return D3DERR_INVALIDCALL;
    *ppCubeTexture = nullptr;
    if (pSharedHandle != nullptr) return D3DERR_INVALIDCALL;
    TextureRequest request{D3DRTYPE_CUBETEXTURE, EdgeLength, EdgeLength, 1, Levels, Usage, Format, Pool};
    if (HRESULT hr = CheckTextureRequest(caps_, &request); FAILED(hr)) return hr;
    ComPtr<IDirect3DBaseTexture9> texture;
    if (HRESULT hr = MakeTexture(link_, request, &texture); FAILED(hr)) return hr;
    *ppCubeTexture = static_cast<IDirect3DCubeTexture9*>(texture.Detach());
    return D3D_OK;
}

// ---- Surfaces ----

HRESULT Device::CreateRenderTarget(UINT Width, UINT Height, D3DFORMAT Format, D3DMULTISAMPLE_TYPE MultiSample,
                                   DWORD MultisampleQuality, BOOL Lockable, IDirect3DSurface9** ppSurface,
                                   HANDLE* pSharedHandle) {
    RecordCall("CreateRenderTarget", Width, Height, Format, MultiSample, MultisampleQuality, Lockable, ppSurface,
               pSharedHandle);
    if (ppSurface == nullptr) return D3DERR_INVALIDCALL;
    *ppSurface = nullptr;
    if (pSharedHandle != nullptr || MultisampleQuality != 0) return D3DERR_INVALIDCALL;
    if (MultiSample != D3DMULTISAMPLE_NONE) return D3DERR_NOTAVAILABLE;
    const FormatInfo* info = FindFormat(Format);
    if (info == nullptr || (info->use & kFormatRenderTarget) == 0) return D3DERR_INVALIDCALL;
    if (Width == 0 || Height == 0 || Width > kMaxSurfaceSize || Height > kMaxSurfaceSize) return D3DERR_INVALIDCALL;
    Surface::Desc desc{Width, Height, Format, D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT, Lockable != FALSE};
    ComPtr<Surface> surface = Surface::Create(link_, desc, nullptr);
    if (!surface) return D3DERR_OUTOFVIDEOMEMORY;
    *ppSurface = surface.Detach();
    return D3D_OK;
}

HRESULT Device::CreateOffscreenPlainSurface(UINT Width, UINT Height, D3DFORMAT Format, D3DPOOL Pool,
                                            IDirect3DSurface9** ppSurface, HANDLE* pSharedHandle) {
    RecordCall("CreateOffscreenPlainSurface", Width, Height, Format, Pool, ppSurface, pSharedHandle);
    if (ppSurface == nullptr) return D3DERR_INVALIDCALL;
    *ppSurface = nullptr;
    if (pSharedHandle != nullptr || Pool == D3DPOOL_MANAGED || Pool > D3DPOOL_SCRATCH) return D3DERR_INVALIDCALL;
    const FormatInfo* info = FindFormat(Format);
    if (info == nullptr || (info->use & kFormatDepthStencil) != 0 || (info->use & kFormatLockable) == 0) {
        return D3DERR_INVALIDCALL;
    }
    if (Width == 0 || Height == 0 || Width > kMaxSurfaceSize || Height > kMaxSurfaceSize) return D3DERR_INVALIDCALL;
    if (Width % info->blockWidth != 0 || Height % info->blockHeight != 0) return D3DERR_INVALIDCALL;
    Surface::Desc desc{Width, Height, Format, 0, Pool, true};
    ComPtr<Surface> surface = Surface::Create(link_, desc, nullptr);
    if (!surface) return Pool == D3DPOOL_DEFAULT ? D3DERR_OUTOFVIDEOMEMORY : E_OUTOFMEMORY;
    *ppSurface = surface.Detach();
    return D3D_OK;
}

// ---- Copies ----

namespace {

// The device's own surface behind an interface pointer, or null.
Surface* OwnSurface(IDirect3DSurface9* surface, const std::shared_ptr<DeviceLink>& link) {
    auto* s = dynamic_cast<Surface*>(surface);
    return s != nullptr && s->Link() == link ? s : nullptr;
}

}  // namespace

HRESULT Device::UpdateSurface(IDirect3DSurface9* pSourceSurface, const RECT* pSourceRect,
                              IDirect3DSurface9* pDestinationSurface, const POINT* pDestPoint) {
    RecordCall("UpdateSurface", pSourceSurface, pSourceRect, pDestinationSurface, pDestPoint);
    Surface* src = OwnSurface(pSourceSurface, link_);
    Surface* dst = OwnSurface(pDestinationSurface, link_);
    if (src == nullptr || dst == nullptr || src == dst) return D3DERR_INVALIDCALL;
    if (src->Pool() != D3DPOOL_SYSTEMMEM || dst->Pool() != D3DPOOL_DEFAULT || src->Format() != dst->Format()) {
        return D3DERR_INVALIDCALL;
    }
    if (src->Locked() || dst->Locked()) return D3DERR_INVALIDCALL;
    RECT srcRect = pSourceRect != nullptr ? *pSourceRect : WholeRect(*src);
    if (!ValidBlockRect(src->Info(), src->Width(), src->Height(), srcRect)) return D3DERR_INVALIDCALL;
    POINT at = pDestPoint != nullptr ? *pDestPoint : POINT{0, 0};
    if (at.x < 0 || at.y < 0) return D3DERR_INVALIDCALL;
    std::int64_t right = std::int64_t{at.x} + (srcRect.right - srcRect.left);
    std::int64_t bottom = std::int64_t{at.y} + (srcRect.bottom - srcRect.top);
    if (right > dst->Width() || bottom > dst->Height()) return D3DERR_INVALIDCALL;
    RECT dstRect{at.x, at.y, static_cast<LONG>(right), static_cast<LONG>(bottom)};
    if (!ValidBlockRect(dst->Info(), dst->Width(), dst->Height(), dstRect)) return D3DERR_INVALIDCALL;
    // A partial block at the source's edge must also be the destination's edge.
    const FormatInfo& info = src->Info();
    if ((srcRect.right - srcRect.left) % info.blockWidth != 0 && dstRect.right != static_cast<LONG>(dst->Width())) {
        return D3DERR_INVALIDCALL;
    }
    if ((srcRect.bottom - srcRect.top) % info.blockHeight != 0 && dstRect.bottom != static_cast<LONG>(dst->Height())) {
        return D3DERR_INVALIDCALL;
    }
    CopyBlocks(*src, srcRect, *dst, at.x, at.y);
    return D3D_OK;
}

HRESULT Device::UpdateTexture(IDirect3DBaseTexture9* pSourceTexture, IDirect3DBaseTexture9* pDestinationTexture) {
    RecordCall("UpdateTexture", pSourceTexture, pDestinationTexture);
    TextureCore* src = pSourceTexture != nullptr ? CoreOf(pSourceTexture) : nullptr;
    TextureCore* dst = pDestinationTexture != nullptr ? CoreOf(pDestinationTexture) : nullptr;
    if (src == nullptr || dst == nullptr || src->CoreLink() != link_ || dst->CoreLink() != link_) {
        return D3DERR_INVALIDCALL;
    }
    if (src->TexturePool() != D3DPOOL_SYSTEMMEM || dst->TexturePool() != D3DPOOL_DEFAULT) return D3DERR_INVALIDCALL;
    if (src->Type() != dst->Type() || src->Format() != dst->Format()) return D3DERR_INVALIDCALL;
    // The destination's first level matches some level of the source; the levels below follow.
    UINT offset = 0;
    while (offset < src->StoredLevels() && (src->Width(offset) != dst->Width(0) || src->Height(offset) != dst->Height(0) ||
                                            src->Depth(offset) != dst->Depth(0))) {
        ++offset;
    }
    if (offset == src->StoredLevels() || src->StoredLevels() - offset < dst->StoredLevels()) return D3DERR_INVALIDCALL;
    for (UINT level = 0; level < dst->StoredLevels(); ++level) {
        if (src->Type() == D3DRTYPE_VOLUMETEXTURE) {
            if (src->VolumeAt(level + offset)->Locked() || dst->VolumeAt(level)->Locked()) return D3DERR_INVALIDCALL;
            continue;
        }
        for (UINT face = 0; face < src->Faces(); ++face) {
            if (src->SurfaceAt(face, level + offset)->Locked() || dst->SurfaceAt(face, level)->Locked()) {
                return D3DERR_INVALIDCALL;
            }
        }
    }
    for (UINT level = 0; level < dst->StoredLevels(); ++level) {
        if (src->Type() == D3DRTYPE_VOLUMETEXTURE) {
            CopyVolume(*src->VolumeAt(level + offset), *dst->VolumeAt(level));
            continue;
        }
        for (UINT face = 0; face < src->Faces(); ++face) {
            Surface* from = src->SurfaceAt(face, level + offset);
            CopyBlocks(*from, WholeRect(*from), *dst->SurfaceAt(face, level), 0, 0);
        }
    }
    return D3D_OK;
}

HRESULT Device::GetRenderTargetData(IDirect3DSurface9* pRenderTarget, IDirect3DSurface9* pDestSurface) {
    RecordCall("GetRenderTargetData", pRenderTarget, pDestSurface);
    Surface* src = OwnSurface(pRenderTarget, link_);
    Surface* dst = OwnSurface(pDestSurface, link_);
    if (src == nullptr || dst == nullptr) return D3DERR_INVALIDCALL;
    if ((src->Usage() & D3DUSAGE_RENDERTARGET) == 0 || src->Pool() != D3DPOOL_DEFAULT ||
        dst->Pool() != D3DPOOL_SYSTEMMEM) {
        return D3DERR_INVALIDCALL;
    }
    if (src->Format() != dst->Format() || src->Width() != dst->Width() || src->Height() != dst->Height()) {
        return D3DERR_INVALIDCALL;
    }
    if (src->Locked() || dst->Locked()) return D3DERR_INVALIDCALL;
    CopyBlocks(*src, WholeRect(*src), *dst, 0, 0);
    return D3D_OK;
}

namespace {

// Resamples srcRect of the decoded source (srcWidth texels per row) into a dstW x dstH block of
// floats, taking the nearest texel or blending four with bilinear weights (texel centres at half
// integers, edges clamped to the rectangle).
void Resample(const std::vector<float>& src, UINT srcWidth, const RECT& r, UINT dstW, UINT dstH, bool linear,
              std::vector<float>* out) {
    auto srcW = static_cast<float>(r.right - r.left), srcH = static_cast<float>(r.bottom - r.top);
    auto at = [&](LONG x, LONG y) {
        x = std::clamp(x, r.left, r.right - 1);
        y = std::clamp(y, r.top, r.bottom - 1);
        return &src[(static_cast<std::size_t>(y) * srcWidth + static_cast<std::size_t>(x)) * 4];
    };
    out->assign(static_cast<std::size_t>(dstW) * dstH * 4, 0.0f);
    for (UINT y = 0; y < dstH; ++y) {
        float fy = (static_cast<float>(y) + 0.5f) * srcH / static_cast<float>(dstH);
        for (UINT x = 0; x < dstW; ++x) {
            float fx = (static_cast<float>(x) + 0.5f) * srcW / static_cast<float>(dstW);
            float* o = &(*out)[(static_cast<std::size_t>(y) * dstW + x) * 4];
            if (!linear) {
                const float* t = at(r.left + static_cast<LONG>(fx), r.top + static_cast<LONG>(fy));
                std::copy(t, t + 4, o);
                continue;
            }
            float sx = fx - 0.5f, sy = fy - 0.5f;
            float x0 = std::floor(sx), y0 = std::floor(sy);
            float ax = sx - x0, ay = sy - y0;
            LONG ix = r.left + static_cast<LONG>(x0), iy = r.top + static_cast<LONG>(y0);
            const float* t00 = at(ix, iy);
            const float* t10 = at(ix + 1, iy);
            const float* t01 = at(ix, iy + 1);
            const float* t11 = at(ix + 1, iy + 1);
            for (int c = 0; c < 4; ++c) {
                float top = t00[c] + (t10[c] - t00[c]) * ax;
                float bottom = t01[c] + (t11[c] - t01[c]) * ax;
                o[c] = top + (bottom - top) * ay;
            }
        }
    }
}

}  // namespace

HRESULT Device::StretchRect(IDirect3DSurface9* pSourceSurface, const RECT* pSourceRect, IDirect3DSurface9* pDestSurface,
                            const RECT* pDestRect, D3DTEXTUREFILTERTYPE Filter) {
    RecordCall("StretchRect", pSourceSurface, pSourceRect, pDestSurface, pDestRect, Filter);
    Surface* src = OwnSurface(pSourceSurface, link_);
    Surface* dst = OwnSurface(pDestSurface, link_);
    if (src == nullptr || dst == nullptr) return D3DERR_INVALIDCALL;
    if (Filter != D3DTEXF_NONE && Filter != D3DTEXF_POINT && Filter != D3DTEXF_LINEAR) return D3DERR_INVALIDCALL;
    if (src->Pool() != D3DPOOL_DEFAULT || dst->Pool() != D3DPOOL_DEFAULT || src->Locked() || dst->Locked()) {
        return D3DERR_INVALIDCALL;
    }
    if ((src->Info().use & kFormatDepthStencil) || (dst->Info().use & kFormatDepthStencil)) return D3DERR_INVALIDCALL;
    RECT srcRect = pSourceRect != nullptr ? *pSourceRect : WholeRect(*src);
    RECT dstRect = pDestRect != nullptr ? *pDestRect : WholeRect(*dst);
    if (!ValidBlockRect(src->Info(), src->Width(), src->Height(), srcRect) ||
        !ValidBlockRect(dst->Info(), dst->Width(), dst->Height(), dstRect)) {
        return D3DERR_INVALIDCALL;
    }
    if (src == dst && Overlap(srcRect, dstRect)) return D3DERR_INVALIDCALL;
    auto srcW = static_cast<UINT>(srcRect.right - srcRect.left), srcH = static_cast<UINT>(srcRect.bottom - srcRect.top);
    auto dstW = static_cast<UINT>(dstRect.right - dstRect.left), dstH = static_cast<UINT>(dstRect.bottom - dstRect.top);
    bool sameSize = srcW == dstW && srcH == dstH;
    const FormatInfo& srcInfo = src->Info();

    // Same format and size: the bytes move as they are, blocks included.
    if (src->Format() == dst->Format() && sameSize) {
        CopyBlocks(*src, srcRect, *dst, dstRect.left, dstRect.top);
        return D3D_OK;
    }
    bool linear = Filter == D3DTEXF_LINEAR;
    // Same one-pixel-block format, nearest texel: pixels are copied whole.
    if (src->Format() == dst->Format() && srcInfo.blockWidth == 1 && srcInfo.blockHeight == 1 && !linear) {
        std::size_t bytes = srcInfo.blockBytes;
        for (UINT y = 0; y < dstH; ++y) {
            UINT sy = static_cast<UINT>(srcRect.top) + static_cast<UINT>((static_cast<std::uint64_t>(2 * y + 1) * srcH) / (2 * dstH));
            std::byte* out = dst->Row(static_cast<UINT>(dstRect.top) + y) + static_cast<std::size_t>(dstRect.left) * bytes;
            for (UINT x = 0; x < dstW; ++x) {
                UINT sx = static_cast<UINT>(srcRect.left) + static_cast<UINT>((static_cast<std::uint64_t>(2 * x + 1) * srcW) / (2 * dstW));
                std::memcpy(out + x * bytes, src->Row(sy) + sx * bytes, bytes);
            }
        }
        dst->MarkChanged();
        return D3D_OK;
    }
    // Otherwise the source is decoded and the destination must be a 32-bit render-target format.
    if (srcInfo.decode == nullptr || srcInfo.blockHeight != 1 ||
        (dst->Format() != D3DFMT_A8R8G8B8 && dst->Format() != D3DFMT_X8R8G8B8)) {
        return D3DERR_INVALIDCALL;
    }
    std::vector<float> decoded(static_cast<std::size_t>(src->Width()) * src->Height() * 4);
    DecodeImage(srcInfo, src->Row(0), src->Pitch(), src->Width(), src->Height(), decoded.data());
    std::vector<float> resampled;
    Resample(decoded, src->Width(), srcRect, dstW, dstH, linear, &resampled);
    for (UINT y = 0; y < dstH; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(dst->Row(static_cast<UINT>(dstRect.top) + y)) + dstRect.left;
        for (UINT x = 0; x < dstW; ++x) row[x] = EncodeArgb8(&resampled[(static_cast<std::size_t>(y) * dstW + x) * 4]);
    }
    dst->MarkChanged();
    return D3D_OK;
}

}  // namespace qm::d3d9
