// texture_creation.cpp: the decision chain from an image file to a filled texture (size and filter
// defaults, palette and colour key, format, requirements, creation, level loading, mip generation).
#include "library/tex/texture_creation.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "library/tex/file_view.h"
#include "library/tex/format_choice.h"
#include "library/tex/format_table.h"
#include "library/tex/parse_image_file.h"
#include "library/tex/pixel_box.h"
#include "library/tex/surface_loading.h"
#include "library/tex/texture_requirements.h"

namespace qm {

namespace {

constexpr UINT kPaletteSize = 256;
constexpr UINT kCubeFaces = 6;
constexpr DWORD kFilterLowByte = 0xFF;
constexpr DWORD kDefaultMipFilter = FILTER_BOX;

using Palette = std::array<PALETTEENTRY, kPaletteSize>;

// Channel values of the 3-3-2 layout: 3-bit and 2-bit codes scaled to 8 bits.
constexpr BYTE kThreeBitLevels[8] = {0, 36, 73, 109, 146, 182, 219, 255};
constexpr BYTE kTwoBitLevels[4] = {0, 85, 170, 255};

bool SameEntry(const PALETTEENTRY& a, const PALETTEENTRY& b) {
    return a.peRed == b.peRed && a.peGreen == b.peGreen && a.peBlue == b.peBlue && a.peFlags == b.peFlags;
}

PALETTEENTRY Entry(BYTE red, BYTE green, BYTE blue, BYTE alpha) { return PALETTEENTRY{red, green, blue, alpha}; }

// An ARGB colour as a palette entry (red, green, blue, alpha in memory).
PALETTEENTRY EntryOfColor(D3DCOLOR color) {
    return Entry(static_cast<BYTE>(color >> 16), static_cast<BYTE>(color >> 8), static_cast<BYTE>(color),
                 static_cast<BYTE>(color >> 24));
}

// True when entry i is the opaque colour that the index i decodes to in an 8-bit grey image.
bool IsGreyRamp(const Palette& palette) {
    for (UINT i = 0; i < kPaletteSize; ++i) {
        BYTE v = static_cast<BYTE>(i);
        if (!SameEntry(palette[i], Entry(v, v, v, 255))) return false;
    }
    return true;
}

// True when entry i is the opaque colour that the byte i decodes to in the 3-3-2 layout.
bool IsThreeThreeTwo(const Palette& palette) {
    for (UINT i = 0; i < kPaletteSize; ++i) {
        PALETTEENTRY expected = Entry(kThreeBitLevels[i >> 5], kThreeBitLevels[(i >> 2) & 7], kTwoBitLevels[i & 3], 255);
        if (!SameEntry(palette[i], expected)) return false;
    }
    return true;
}

bool AnyTranslucentEntry(const Palette& palette) {
    return std::any_of(palette.begin(), palette.end(), [](const PALETTEENTRY& e) { return e.peFlags != 255; });
}

// A requested size: -2 keeps the image's, -1 and 0 round it up to a power of two.
UINT DefaultSize(UINT requested, UINT imageSize) {
    if (requested == kDefaultNonPowerOfTwo) return imageSize;
    if (requested == 0 || requested == kDefaultValue) return NextPowerOfTwo(imageSize);
    return requested;
}

UINT FaceCount(const SourceImage& first) {
    UINT faces = 0;
    for (const SourceImage* face = &first; face != nullptr; face = face->nextFace.get()) ++faces;
    return faces;
}

// How the levels of one texture are filled from the image chain.
struct LevelSource {
    D3DRESOURCETYPE type;
    D3DFORMAT paletteFormat;            // the format paletted (P8) images are read as
    const PALETTEENTRY* destPalette;    // the caller's palette output, or null
    const PALETTEENTRY* sourcePalette;  // the local palette
    DWORD filter;
    D3DCOLOR colorKey;
};

D3DFORMAT SourceFormat(const SourceImage& image, const LevelSource& how) {
    return image.format == D3DFMT_P8 ? how.paletteFormat : image.format;
}

// Gets an interface of a texture whose resource type is known.
template <class T>
ComPtr<T> As(IDirect3DBaseTexture9* texture) {
    ComPtr<T> out;
    if (FAILED(texture->QueryInterface(T::iid, reinterpret_cast<void**>(out.ReleaseAndGetAddressOf())))) out.Reset();
    return out;
}

HRESULT GetLevelSurface(IDirect3DBaseTexture9* texture, D3DRESOURCETYPE type, UINT face, UINT level,
                        ComPtr<IDirect3DSurface9>* surface) {
    if (type == D3DRTYPE_CUBETEXTURE) {
        ComPtr<IDirect3DCubeTexture9> cube = As<IDirect3DCubeTexture9>(texture);
        if (!cube) return D3DERR_INVALIDCALL;
        return cube->GetCubeMapSurface(static_cast<D3DCUBEMAP_FACES>(face), level, surface->ReleaseAndGetAddressOf());
    }
    ComPtr<IDirect3DTexture9> flat = As<IDirect3DTexture9>(texture);
    if (!flat) return D3DERR_INVALIDCALL;
    return flat->GetSurfaceLevel(level, surface->ReleaseAndGetAddressOf());
}

HRESULT GetLevelVolume(IDirect3DBaseTexture9* texture, UINT level, ComPtr<IDirect3DVolume9>* volume) {
    ComPtr<IDirect3DVolumeTexture9> volumes = As<IDirect3DVolumeTexture9>(texture);
    if (!volumes) return D3DERR_INVALIDCALL;
    return volumes->GetVolumeLevel(level, volume->ReleaseAndGetAddressOf());
}

// Loads level `level` of face `face` from one image record.
HRESULT LoadLevel(IDirect3DBaseTexture9* texture, UINT face, UINT level, const SourceImage& image,
                  const LevelSource& how) {
    const ImageBox& box = image.box;
    if (how.type == D3DRTYPE_VOLUMETEXTURE) {
        ComPtr<IDirect3DVolume9> volume;
        if (HRESULT hr = GetLevelVolume(texture, level, &volume); FAILED(hr)) return hr;
        D3DBOX source{box.left, box.top, box.right, box.bottom, box.front, box.back};
        UINT slicePitch = image.slicePitch != 0 ? image.slicePitch : image.rowPitch * image.height;
        return LoadVolumeFromMemory(volume.Get(), how.destPalette, nullptr, image.pixels, SourceFormat(image, how),
                                    image.rowPitch, slicePitch, how.sourcePalette, &source, how.filter, how.colorKey);
    }
    ComPtr<IDirect3DSurface9> surface;
    if (HRESULT hr = GetLevelSurface(texture, how.type, face, level, &surface); FAILED(hr)) return hr;
    RECT source{static_cast<LONG>(box.left), static_cast<LONG>(box.top), static_cast<LONG>(box.right),
                static_cast<LONG>(box.bottom)};
    return LoadSurfaceFromMemory(surface.Get(), how.destPalette, nullptr, image.pixels, SourceFormat(image, how),
                                 image.rowPitch, how.sourcePalette, &source, how.filter, how.colorKey);
}

// Fills one face: the levels the chain carries from its images, and, unless the remaining levels
// are to be generated afterwards, every further level directly from the chain's last image.
HRESULT LoadFace(IDirect3DBaseTexture9* texture, UINT face, const SourceImage& first, UINT chainLength,
                 bool generateRest, const LevelSource& how) {
    const UINT levelCount = texture->GetLevelCount();
    const SourceImage* image = &first;
    const SourceImage* last = &first;
    UINT level = 0;
    for (; level < levelCount && level < chainLength && image != nullptr; ++level) {
        if (HRESULT hr = LoadLevel(texture, face, level, *image, how); FAILED(hr)) return hr;
        last = image;
        image = image->nextMip.get();
    }
    if (generateRest) return D3D_OK;
    for (; level < levelCount; ++level) {
        if (HRESULT hr = LoadLevel(texture, face, level, *last, how); FAILED(hr)) return hr;
    }
    return D3D_OK;
}

HRESULT CreateResource(IDirect3DDevice9* device, D3DRESOURCETYPE type, UINT width, UINT height, UINT depth,
                       UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                       ComPtr<IDirect3DBaseTexture9>* texture) {
    HRESULT hr = D3DERR_INVALIDCALL;
    if (type == D3DRTYPE_TEXTURE) {
        IDirect3DTexture9* created = nullptr;
        hr = device->CreateTexture(width, height, levels, usage, format, pool, &created, nullptr);
        *texture = ComPtr<IDirect3DBaseTexture9>::Adopt(SUCCEEDED(hr) ? created : nullptr);
    } else if (type == D3DRTYPE_VOLUMETEXTURE) {
        IDirect3DVolumeTexture9* created = nullptr;
        hr = device->CreateVolumeTexture(width, height, depth, levels, usage, format, pool, &created, nullptr);
        *texture = ComPtr<IDirect3DBaseTexture9>::Adopt(SUCCEEDED(hr) ? created : nullptr);
    } else if (type == D3DRTYPE_CUBETEXTURE) {
        IDirect3DCubeTexture9* created = nullptr;
        hr = device->CreateCubeTexture(width, levels, usage, format, pool, &created, nullptr);
        *texture = ComPtr<IDirect3DBaseTexture9>::Adopt(SUCCEEDED(hr) ? created : nullptr);
    }
    if (SUCCEEDED(hr) && !*texture) hr = E_FAIL;
    return hr;
}

bool IsTextureType(D3DRESOURCETYPE type) {
    return type == D3DRTYPE_TEXTURE || type == D3DRTYPE_VOLUMETEXTURE || type == D3DRTYPE_CUBETEXTURE;
}

// The size of level 0 of a texture, as the default mip filter needs it.
HRESULT TopLevelSize(IDirect3DBaseTexture9* texture, D3DRESOURCETYPE type, UINT* width, UINT* height, UINT* depth) {
    *depth = 1;
    if (type == D3DRTYPE_VOLUMETEXTURE) {
        ComPtr<IDirect3DVolumeTexture9> volumes = As<IDirect3DVolumeTexture9>(texture);
        if (!volumes) return D3DERR_INVALIDCALL;
        D3DVOLUME_DESC desc{};
        if (HRESULT hr = volumes->GetLevelDesc(0, &desc); FAILED(hr)) return hr;
        *width = desc.Width;
        *height = desc.Height;
        *depth = desc.Depth;
        return D3D_OK;
    }
    D3DSURFACE_DESC desc{};
    HRESULT hr = D3DERR_INVALIDCALL;
    if (type == D3DRTYPE_CUBETEXTURE) {
        if (ComPtr<IDirect3DCubeTexture9> cube = As<IDirect3DCubeTexture9>(texture)) hr = cube->GetLevelDesc(0, &desc);
    } else if (ComPtr<IDirect3DTexture9> flat = As<IDirect3DTexture9>(texture)) {
        hr = flat->GetLevelDesc(0, &desc);
    }
    *width = desc.Width;
    *height = desc.Height;
    return hr;
}

bool FilterChains(DWORD filter) {
    DWORD kind = filter & kFilterKindMask;
    return kind == FILTER_POINT || kind == FILTER_BOX;
}

}  // namespace

HRESULT CreateTextureResourceFromMemory(IDirect3DDevice9* device, const void* data, UINT size, UINT width,
                                        UINT height, UINT depth, UINT mipLevels, DWORD usage, D3DFORMAT format,
                                        D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colorKey,
                                        ImageInfo* info, PALETTEENTRY* palette, D3DRESOURCETYPE type,
                                        IDirect3DBaseTexture9** texture) {
    if (device == nullptr || data == nullptr || size == 0 || texture == nullptr) return D3DERR_INVALIDCALL;
    if (type != kResourceTypeFromFile && !IsTextureType(type)) return D3DERR_INVALIDCALL;
    if (usage == kDefaultValue) usage = 0;

    // The file, with what it holds.
    SourceImage image;
    ImageInfo fileInfo;
    if (HRESULT hr = ParseImageFile(&image, data, size, &fileInfo, true); FAILED(hr)) return hr;
    if (info != nullptr) *info = fileInfo;
    if (type == kResourceTypeFromFile) type = fileInfo.resourceType;
    if (!IsTextureType(type)) return D3DERR_INVALIDCALL;

    const UINT chainLength = MipChainLength(image);
    UINT faces = 1;
    if (type == D3DRTYPE_CUBETEXTURE) {
        if (FaceCount(image) != kCubeFaces) return E_FAIL;
        faces = kCubeFaces;
    }

    width = DefaultSize(width, image.width);
    height = DefaultSize(height, image.height);
    depth = DefaultSize(depth, image.depth);

    if (filter == kDefaultValue) filter = kDefaultLoadFilter;
    if (mipFilter == kDefaultValue) mipFilter = kDefaultMipFilter;
    if (type == D3DRTYPE_CUBETEXTURE) {
        filter |= FILTER_MIRROR;
        mipFilter |= FILTER_MIRROR;
    }
    const DWORD mipKind = mipFilter & kFilterLowByte;
    const bool generate =
        (filter & kFilterLowByte) == FILTER_NONE || mipKind == FILTER_POINT || mipKind == FILTER_BOX;

    // The palette, with the colour key applied to it; paletted images that are really grey or 3-3-2
    // images are read as such.
    Palette localPalette;
    D3DFORMAT imageFormat = image.format;
    D3DFORMAT paletteFormat = D3DFMT_P8;
    const bool imageHasPalette = image.palette != nullptr;
    if (imageHasPalette) {
        const PALETTEENTRY keyEntry = EntryOfColor(colorKey);
        for (UINT i = 0; i < kPaletteSize; ++i) {
            localPalette[i] = SameEntry(image.palette[i], keyEntry) ? Entry(0, 0, 0, 0) : image.palette[i];
        }
        colorKey = 0;
    } else {
        localPalette.fill(Entry(255, 255, 255, 255));
    }
    if (format != D3DFMT_P8 && image.format == D3DFMT_P8) {
        if (IsGreyRamp(localPalette)) {
            paletteFormat = D3DFMT_L8;
        } else if (IsThreeThreeTwo(localPalette)) {
            paletteFormat = D3DFMT_R3G3B2;
        }
        imageFormat = paletteFormat;
    }

    // The format: the file's own by default, with an alpha channel for the colour key.
    if (format == D3DFMT_UNKNOWN) {
        D3DFORMAT fileFormat = imageFormat;
        const FormatDescriptor& descriptor = FindFormatDescriptor(fileFormat);
        bool keyable = descriptor.kind == FormatKind::Color || descriptor.kind == FormatKind::Palettized ||
                       descriptor.kind == FormatKind::Luminance;
        if (colorKey != 0 && keyable && descriptor.widths[kWidthAlpha] == 0) {
            FormatDescriptor request = descriptor;
            request.format = D3DFMT_UNKNOWN;
            request.widths[kWidthAlpha] = 1;
            if (D3DFORMAT keyed = ChooseTextureFormat(nullptr, usage, type, request); keyed != D3DFMT_UNKNOWN) {
                fileFormat = keyed;
            }
        }
        fileFormat = ReportedFormat(fileFormat);
        if (pool != D3DPOOL_SCRATCH && fileFormat == D3DFMT_R8G8B8) fileFormat = D3DFMT_X8R8G8B8;
        format = fileFormat;
    }

    if (palette != nullptr) std::memcpy(palette, localPalette.data(), sizeof(PALETTEENTRY) * kPaletteSize);
    if (!(palette != nullptr && imageHasPalette)) {
        if (format == D3DFMT_A8P8) {
            format = D3DFMT_A8R8G8B8;
        } else if (format == D3DFMT_P8) {
            format = AnyTranslucentEntry(localPalette) ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
        }
    }

    const bool staging = pool == D3DPOOL_DEFAULT && (usage & D3DUSAGE_DYNAMIC) == 0;
    if (HRESULT hr = CheckTextureResourceRequirements(device, &width, &height, &depth, &mipLevels, usage, &format, pool,
                                                      type);
        FAILED(hr)) {
        return hr;
    }

    ComPtr<IDirect3DBaseTexture9> created;
    if (HRESULT hr = CreateResource(device, type, width, height, depth, mipLevels, usage & ~kQueryUsageMask, format,
                                    pool, &created);
        FAILED(hr)) {
        return hr;
    }
    ComPtr<IDirect3DBaseTexture9> target = created;
    if (staging) {
        if (HRESULT hr = CreateResource(device, type, width, height, depth, mipLevels, 0, format, D3DPOOL_SYSTEMMEM,
                                        &target);
            FAILED(hr)) {
            return hr;
        }
    }

    const LevelSource how{type, paletteFormat, palette, localPalette.data(), filter, colorKey};
    const SourceImage* faceImage = &image;
    for (UINT face = 0; face < faces && faceImage != nullptr; ++face, faceImage = faceImage->nextFace.get()) {
        if (HRESULT hr = LoadFace(target.Get(), face, *faceImage, chainLength, generate, how); FAILED(hr)) return hr;
    }
    if (generate && target->GetLevelCount() > chainLength) {
        if (HRESULT hr = GenerateMipLevels(target.Get(), localPalette.data(), chainLength - 1, mipFilter); FAILED(hr)) {
            return hr;
        }
    }
    if (staging) {
        if (HRESULT hr = device->UpdateTexture(target.Get(), created.Get()); FAILED(hr)) return hr;
    }
    *texture = created.Detach();
    return D3D_OK;
}

HRESULT CreateTextureFromFileInMemoryWithOptions(IDirect3DDevice9* device, const void* data, UINT size, UINT width,
                                                 UINT height, UINT mipLevels, DWORD usage, D3DFORMAT format,
                                                 D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colorKey,
                                                 ImageInfo* info, PALETTEENTRY* palette,
                                                 IDirect3DTexture9** texture) {
    if (texture == nullptr) return D3DERR_INVALIDCALL;
    IDirect3DBaseTexture9* created = nullptr;
    HRESULT hr = CreateTextureResourceFromMemory(device, data, size, width, height, 1, mipLevels, usage, format, pool,
                                                 filter, mipFilter, colorKey, info, palette, D3DRTYPE_TEXTURE, &created);
    // A resource created as type 3 is a 2D texture.
    if (SUCCEEDED(hr)) *texture = static_cast<IDirect3DTexture9*>(created);
    return hr;
}

HRESULT CreateTextureFromFileInMemory(IDirect3DDevice9* device, const void* data, UINT size,
                                      IDirect3DTexture9** texture) {
    return CreateTextureFromFileInMemoryWithOptions(device, data, size, kDefaultValue, kDefaultValue, kDefaultValue, 0,
                                                    D3DFMT_UNKNOWN, D3DPOOL_MANAGED, kDefaultValue, kDefaultValue, 0,
                                                    nullptr, nullptr, texture);
}

HRESULT CreateTextureFromFileWithOptions(IDirect3DDevice9* device, LPCSTR fileName, UINT width, UINT height,
                                         UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                         DWORD mipFilter, D3DCOLOR colorKey, ImageInfo* info, PALETTEENTRY* palette,
                                         IDirect3DTexture9** texture) {
    if (fileName == nullptr) return D3DERR_INVALIDCALL;
    FileView view;
    if (HRESULT hr = view.Open(fileName); FAILED(hr)) return hr;
    return CreateTextureFromFileInMemoryWithOptions(device, view.Data(), view.Size(), width, height, mipLevels, usage,
                                                    format, pool, filter, mipFilter, colorKey, info, palette, texture);
}

HRESULT CreateTextureFromFile(IDirect3DDevice9* device, LPCSTR fileName, IDirect3DTexture9** texture) {
    return CreateTextureFromFileWithOptions(device, fileName, kDefaultValue, kDefaultValue, kDefaultValue, 0,
                                            D3DFMT_UNKNOWN, D3DPOOL_MANAGED, kDefaultValue, kDefaultValue, 0, nullptr,
                                            nullptr, texture);
}

HRESULT GenerateMipLevels(IDirect3DBaseTexture9* texture, const PALETTEENTRY* palette, UINT sourceLevel,
                          DWORD filter) {
    if (texture == nullptr) return D3DERR_INVALIDCALL;
    const D3DRESOURCETYPE type = texture->GetType();
    if (!IsTextureType(type)) return D3DERR_INVALIDCALL;

    if (filter == kDefaultValue) {
        UINT width = 0;
        UINT height = 0;
        UINT depth = 1;
        if (HRESULT hr = TopLevelSize(texture, type, &width, &height, &depth); FAILED(hr)) return hr;
        bool powers = std::has_single_bit(width) && std::has_single_bit(height) && std::has_single_bit(depth);
        filter = powers ? FILTER_BOX : kDefaultLoadFilter;
    }
    if (type == D3DRTYPE_CUBETEXTURE) filter |= FILTER_MIRROR;
    filter = (filter & FILTER_SRGB_OUT) ? (filter | FILTER_SRGB) : (filter & ~FILTER_SRGB);

    if (sourceLevel == kDefaultValue) sourceLevel = 0;
    const UINT levelCount = texture->GetLevelCount();
    if (sourceLevel >= levelCount) return D3DERR_INVALIDCALL;
    const bool chain = FilterChains(filter);
    const UINT faces = type == D3DRTYPE_CUBETEXTURE ? kCubeFaces : 1;

    for (UINT face = 0; face < faces; ++face) {
        if (type == D3DRTYPE_VOLUMETEXTURE) {
            ComPtr<IDirect3DVolume9> source;
            if (HRESULT hr = GetLevelVolume(texture, sourceLevel, &source); FAILED(hr)) return hr;
            for (UINT level = sourceLevel + 1; level < levelCount; ++level) {
                ComPtr<IDirect3DVolume9> destination;
                if (HRESULT hr = GetLevelVolume(texture, level, &destination); FAILED(hr)) return hr;
                if (HRESULT hr = LoadVolumeFromVolume(destination.Get(), palette, nullptr, source.Get(), palette,
                                                      nullptr, filter, 0);
                    FAILED(hr)) {
                    return hr;
                }
                if (chain) source = destination;
            }
            continue;
        }
        ComPtr<IDirect3DSurface9> source;
        if (HRESULT hr = GetLevelSurface(texture, type, face, sourceLevel, &source); FAILED(hr)) return hr;
        for (UINT level = sourceLevel + 1; level < levelCount; ++level) {
            ComPtr<IDirect3DSurface9> destination;
            if (HRESULT hr = GetLevelSurface(texture, type, face, level, &destination); FAILED(hr)) return hr;
            if (HRESULT hr = LoadSurfaceFromSurface(destination.Get(), palette, nullptr, source.Get(), palette, nullptr,
                                                    filter, 0);
                FAILED(hr)) {
                return hr;
            }
            if (chain) source = destination;
        }
    }
    return D3D_OK;
}

}  // namespace qm
