// texture_requirements.cpp: the size, mip-count and format rules for textures against device caps.
#include "library/tex/texture_requirements.h"

#include <algorithm>
#include <bit>

#include "library/tex/format_choice.h"
#include "library/tex/format_table.h"

namespace qm {

namespace {

constexpr UINT kDefaultSquareSide = 256;

// Caps bits that apply to each resource type: power-of-two sizes and mipmaps.
struct TypeCaps {
    D3DRESOURCETYPE type;
    DWORD powerOfTwo;
    DWORD mipmaps;
};
constexpr TypeCaps kTypeCaps[] = {
    {D3DRTYPE_TEXTURE, D3DPTEXTURECAPS_POW2, D3DPTEXTURECAPS_MIPMAP},
    {D3DRTYPE_VOLUMETEXTURE, D3DPTEXTURECAPS_VOLUMEMAP_POW2, D3DPTEXTURECAPS_MIPVOLUMEMAP},
    {D3DRTYPE_CUBETEXTURE, D3DPTEXTURECAPS_CUBEMAP_POW2, D3DPTEXTURECAPS_MIPCUBEMAP},
};

const TypeCaps* FindTypeCaps(D3DRESOURCETYPE type) {
    for (const TypeCaps& caps : kTypeCaps)
        if (caps.type == type) return &caps;
    return nullptr;
}

bool IsBlockCompressed(D3DFORMAT format) {
    return format == D3DFMT_DXT1 || format == D3DFMT_DXT2 || format == D3DFMT_DXT3 || format == D3DFMT_DXT4 ||
           format == D3DFMT_DXT5;
}

bool IsPowerOfTwo(UINT value) { return std::has_single_bit(value); }

UINT RoundUpTo4(UINT value) { return value > 0xFFFFFFFCu ? value : (value + 3) & ~3u; }

// value clamped to limit; a limit of 0 (a device that states none) leaves it as it is.
UINT ClampTo(UINT value, DWORD limit) { return limit != 0 ? std::min<UINT>(value, limit) : value; }

// a x b without overflowing 32 bits.
UINT SaturatingProduct(UINT a, UINT b) {
    std::uint64_t product = static_cast<std::uint64_t>(a) * b;
    return product > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<UINT>(product);
}

}  // namespace

UINT FullMipCount(UINT largestSide) { return largestSide == 0 ? 1 : static_cast<UINT>(std::bit_width(largestSide)); }

UINT NextPowerOfTwo(UINT value) {
    if (value <= 1) return 1;
    if (value > 0x80000000u) return 0x80000000u;
    return std::bit_ceil(value);
}

HRESULT CheckTextureResourceRequirements(IDirect3DDevice9* device, UINT* width, UINT* height, UINT* depth,
                                         UINT* mipLevels, DWORD usage, D3DFORMAT* format, D3DPOOL pool,
                                         D3DRESOURCETYPE type) {
    if (device == nullptr) return D3DERR_INVALIDCALL;
    if (usage == kDefaultValue) usage = 0;
    if ((usage & ~kRequestUsageMask) != 0 || pool > D3DPOOL_SCRATCH) return D3DERR_INVALIDCALL;
    const TypeCaps* typeCaps = FindTypeCaps(type);
    if (typeCaps == nullptr) return D3DERR_INVALIDCALL;
    const bool scratch = pool == D3DPOOL_SCRATCH;

    D3DFORMAT chosen = format != nullptr ? *format : D3DFMT_UNKNOWN;
    if (scratch) {
        if (chosen == D3DFMT_UNKNOWN) chosen = D3DFMT_A8R8G8B8;
    } else {
        chosen = ChooseTextureFormat(device, usage, type, FindFormatDescriptor(chosen));
        if (chosen == D3DFMT_UNKNOWN) return D3DERR_NOTAVAILABLE;
    }

    UINT w = width != nullptr ? *width : kDefaultValue;
    UINT h = height != nullptr ? *height : kDefaultValue;
    UINT d = depth != nullptr ? *depth : kDefaultValue;
    const UINT requestedLevels = mipLevels != nullptr ? *mipLevels : 0;
    if (w == kDefaultValue && h == kDefaultValue) {
        w = h = kDefaultSquareSide;
    } else if (w == kDefaultValue) {
        w = h;
    } else if (h == kDefaultValue) {
        h = w;
    }
    if (w == 0) w = 1;
    if (h == 0) h = 1;
    if (type == D3DRTYPE_CUBETEXTURE) w = h = std::max(w, h);
    if (d == kDefaultValue || d == 0) d = 1;

    D3DCAPS9 caps{};
    if (!scratch) {
        if (HRESULT hr = device->GetDeviceCaps(&caps); FAILED(hr)) return hr;
        if (type == D3DRTYPE_VOLUMETEXTURE) {
            w = ClampTo(w, caps.MaxVolumeExtent);
            h = ClampTo(h, caps.MaxVolumeExtent);
            d = ClampTo(d, caps.MaxVolumeExtent);
        } else {
            w = ClampTo(w, caps.MaxTextureWidth);
            h = ClampTo(h, caps.MaxTextureHeight);
        }
        if (type == D3DRTYPE_TEXTURE) {
            DWORD aspect = (caps.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY) ? 1 : caps.MaxTextureAspectRatio;
            if (aspect != 0) {
                w = std::min(w, SaturatingProduct(aspect, h));
                h = std::min(h, SaturatingProduct(aspect, w));
            }
        }
        bool conditional = requestedLevels == 1 && (caps.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL) != 0;
        if (!conditional && (caps.TextureCaps & typeCaps->powerOfTwo) != 0) {
            w = NextPowerOfTwo(w);
            h = NextPowerOfTwo(h);
            d = NextPowerOfTwo(d);
        }
    }
    if (IsBlockCompressed(chosen)) {
        w = RoundUpTo4(w);
        h = RoundUpTo4(h);
    }

    UINT levels = 1;
    bool allPowersOfTwo = IsPowerOfTwo(w) && IsPowerOfTwo(h) && IsPowerOfTwo(d);
    if (scratch || ((caps.TextureCaps & typeCaps->mipmaps) != 0 &&
                    ((caps.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL) == 0 || allPowersOfTwo))) {
        UINT largest = std::max(w, h);
        if (type == D3DRTYPE_VOLUMETEXTURE) largest = std::max(largest, d);
        UINT full = FullMipCount(largest);
        levels = requestedLevels == 0 || requestedLevels > full ? full : requestedLevels;
        if (levels != 1 && (usage & D3DUSAGE_AUTOGENMIPMAP) != 0) levels = 0;
    }

    if (width != nullptr) *width = w;
    if (height != nullptr) *height = h;
    if (depth != nullptr) *depth = d;
    if (mipLevels != nullptr) *mipLevels = levels;
    if (format != nullptr) *format = chosen;
    return D3D_OK;
}

HRESULT CheckTextureRequirements(IDirect3DDevice9* device, UINT* width, UINT* height, UINT* mipLevels, DWORD usage,
                                 D3DFORMAT* format, D3DPOOL pool) {
    return CheckTextureResourceRequirements(device, width, height, nullptr, mipLevels, usage, format, pool,
                                            D3DRTYPE_TEXTURE);
}

HRESULT CreateTextureChecked(IDirect3DDevice9* device, UINT width, UINT height, UINT mipLevels, DWORD usage,
                             D3DFORMAT format, D3DPOOL pool, IDirect3DTexture9** texture) {
    if (texture == nullptr) return D3DERR_INVALIDCALL;
    if (usage == kDefaultValue) usage = 0;
    if (HRESULT hr = CheckTextureRequirements(device, &width, &height, &mipLevels, usage, &format, pool); FAILED(hr)) {
        return hr;
    }
    return device->CreateTexture(width, height, mipLevels, usage & ~kQueryUsageMask, format, pool, texture, nullptr);
}

}  // namespace qm
