// texture_creation.cpp: the decision chain from an image file to a filled texture (size and filter
// defaults, palette and colour key, format, requirements, creation, level loading, mip generation).
#include "library/tex/texture_creation.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "library/tex/convert_filter.h"
#include "library/tex/file_view.h"
#include "library/tex/format_codec.h"
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

// Fills one face: the levels the chain carries from its images (but the first filledLevels, which
// hold their images already), and, unless the remaining levels are to be generated afterwards, every
// further level directly from the chain's last image.
HRESULT LoadFace(IDirect3DBaseTexture9* texture, UINT face, const SourceImage& first, UINT chainLength,
                 bool generateRest, const LevelSource& how, UINT filledLevels) {
    const UINT levelCount = texture->GetLevelCount();
    const SourceImage* image = &first;
    const SourceImage* last = &first;
    UINT level = 0;
    for (; level < levelCount && level < chainLength && image != nullptr; ++level) {
        if (level >= filledLevels) {
            if (HRESULT hr = LoadLevel(texture, face, level, *image, how); FAILED(hr)) return hr;
        }
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


// Everything decided about a texture before it is made: its size, format, filters and palette.
struct TexturePlan {
    D3DRESOURCETYPE type = D3DRTYPE_TEXTURE;
    UINT width = 0, height = 0, depth = 0, mipLevels = 0;
    DWORD usage = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    D3DPOOL pool = D3DPOOL_MANAGED;
    DWORD filter = 0, mipFilter = 0;
    D3DCOLOR colorKey = 0;
    bool generate = false;  // levels past the image chain are generated from the last loaded one
    bool staging = false;   // filled through a system-memory texture and UpdateTexture
    bool imageHasPalette = false;
    D3DFORMAT paletteFormat = D3DFMT_P8;
    Palette palette{};

    bool SameTexture(const TexturePlan& other) const {
        return type == other.type && width == other.width && height == other.height && depth == other.depth &&
               mipLevels == other.mipLevels && usage == other.usage && format == other.format && pool == other.pool &&
               staging == other.staging;
    }
};

// The caller's request, as given.
struct TextureRequest {
    UINT width, height, depth, mipLevels;
    DWORD usage;
    D3DFORMAT format;
    D3DPOOL pool;
    DWORD filter, mipFilter;
    D3DCOLOR colorKey;
    D3DRESOURCETYPE type;  // may be kResourceTypeFromFile: the file's own type
};

// Works out the texture for an image (a decoded one, or only its header for the fields used here:
// format, palette, size and chain lengths) and a request whose type is resolved; FinishPlan
// completes it.
HRESULT PlanTexture(const SourceImage& image, const TextureRequest& request, TexturePlan* plan) {
    plan->type = request.type;
    if (plan->type == D3DRTYPE_CUBETEXTURE && FaceCount(image) != kCubeFaces) return E_FAIL;

    plan->width = DefaultSize(request.width, image.width);
    plan->height = DefaultSize(request.height, image.height);
    plan->depth = DefaultSize(request.depth, image.depth);
    plan->mipLevels = request.mipLevels;
    plan->usage = request.usage;
    plan->pool = request.pool;
    D3DCOLOR colorKey = request.colorKey;

    DWORD filter = request.filter == kDefaultValue ? kDefaultLoadFilter : request.filter;
    DWORD mipFilter = request.mipFilter == kDefaultValue ? kDefaultMipFilter : request.mipFilter;
    if (plan->type == D3DRTYPE_CUBETEXTURE) {
        filter |= FILTER_MIRROR;
        mipFilter |= FILTER_MIRROR;
    }
    const DWORD mipKind = mipFilter & kFilterLowByte;
    plan->generate = (filter & kFilterLowByte) == FILTER_NONE || mipKind == FILTER_POINT || mipKind == FILTER_BOX;
    plan->filter = filter;
    plan->mipFilter = mipFilter;

    // The palette, with the colour key applied to it; paletted images that are really grey or 3-3-2
    // images are read as such.
    Palette& localPalette = plan->palette;
    D3DFORMAT imageFormat = image.format;
    plan->paletteFormat = D3DFMT_P8;
    plan->imageHasPalette = image.palette != nullptr;
    if (plan->imageHasPalette) {
        const PALETTEENTRY keyEntry = EntryOfColor(colorKey);
        for (UINT i = 0; i < kPaletteSize; ++i) {
            localPalette[i] = SameEntry(image.palette[i], keyEntry) ? Entry(0, 0, 0, 0) : image.palette[i];
        }
        colorKey = 0;
    } else {
        localPalette.fill(Entry(255, 255, 255, 255));
    }
    D3DFORMAT format = request.format;
    if (format != D3DFMT_P8 && image.format == D3DFMT_P8) {
        if (IsGreyRamp(localPalette)) {
            plan->paletteFormat = D3DFMT_L8;
        } else if (IsThreeThreeTwo(localPalette)) {
            plan->paletteFormat = D3DFMT_R3G3B2;
        }
        imageFormat = plan->paletteFormat;
    }
    plan->colorKey = colorKey;

    // The format: the file's own by default, with an alpha channel for the colour key.
    if (format == D3DFMT_UNKNOWN) {
        D3DFORMAT fileFormat = imageFormat;
        const FormatDescriptor& descriptor = FindFormatDescriptor(fileFormat);
        bool keyable = descriptor.kind == FormatKind::Color || descriptor.kind == FormatKind::Palettized ||
                       descriptor.kind == FormatKind::Luminance;
        if (colorKey != 0 && keyable && descriptor.widths[kWidthAlpha] == 0) {
            FormatDescriptor keyedRequest = descriptor;
            keyedRequest.format = D3DFMT_UNKNOWN;
            keyedRequest.widths[kWidthAlpha] = 1;
            if (D3DFORMAT keyed = ChooseTextureFormat(nullptr, plan->usage, plan->type, keyedRequest);
                keyed != D3DFMT_UNKNOWN) {
                fileFormat = keyed;
            }
        }
        fileFormat = ReportedFormat(fileFormat);
        if (plan->pool != D3DPOOL_SCRATCH && fileFormat == D3DFMT_R8G8B8) fileFormat = D3DFMT_X8R8G8B8;
        format = fileFormat;
    }
    plan->format = format;
    return D3D_OK;
}

// The format a texture takes once the caller's palette output is known, then the device's checks.
HRESULT FinishPlan(IDirect3DDevice9* device, bool paletteOutput, TexturePlan* plan) {
    if (!(paletteOutput && plan->imageHasPalette)) {
        if (plan->format == D3DFMT_A8P8) {
            plan->format = D3DFMT_A8R8G8B8;
        } else if (plan->format == D3DFMT_P8) {
            plan->format = AnyTranslucentEntry(plan->palette) ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
        }
    }
    plan->staging = plan->pool == D3DPOOL_DEFAULT && (plan->usage & D3DUSAGE_DYNAMIC) == 0;
    return CheckTextureResourceRequirements(device, &plan->width, &plan->height, &plan->depth, &plan->mipLevels,
                                            plan->usage, &plan->format, plan->pool, plan->type);
}

// The texture and, for a staged one, the system-memory texture that is filled in its place.
HRESULT CreatePlanned(IDirect3DDevice9* device, const TexturePlan& plan, ComPtr<IDirect3DBaseTexture9>* created,
                      ComPtr<IDirect3DBaseTexture9>* target) {
    if (HRESULT hr = CreateResource(device, plan.type, plan.width, plan.height, plan.depth, plan.mipLevels,
                                    plan.usage & ~kQueryUsageMask, plan.format, plan.pool, created);
        FAILED(hr)) {
        return hr;
    }
    *target = *created;
    if (plan.staging) {
        return CreateResource(device, plan.type, plan.width, plan.height, plan.depth, plan.mipLevels, 0, plan.format,
                              D3DPOOL_SYSTEMMEM, target);
    }
    return D3D_OK;
}

// Fills the levels from the image chain (but the first filledLevels of face 0, which hold their
// pixels already), generates the rest and hands a staged texture over.
HRESULT FillPlanned(IDirect3DDevice9* device, const TexturePlan& plan, const SourceImage& image,
                    const PALETTEENTRY* paletteOutput, UINT filledLevels, IDirect3DBaseTexture9* created,
                    IDirect3DBaseTexture9* target) {
    const UINT chainLength = MipChainLength(image);
    const UINT faces = plan.type == D3DRTYPE_CUBETEXTURE ? kCubeFaces : 1;
    const LevelSource how{plan.type, plan.paletteFormat, paletteOutput, plan.palette.data(), plan.filter,
                          plan.colorKey};
    const SourceImage* faceImage = &image;
    for (UINT face = 0; face < faces && faceImage != nullptr; ++face, faceImage = faceImage->nextFace.get()) {
        const UINT skip = face == 0 ? filledLevels : 0;
        if (HRESULT hr = LoadFace(target, face, *faceImage, chainLength, plan.generate, how, skip); FAILED(hr)) {
            return hr;
        }
    }
    // Generation continues from the last level that holds its pixels.
    const UINT generatedFrom = std::max(chainLength, filledLevels);
    if (plan.generate && target->GetLevelCount() > generatedFrom) {
        if (HRESULT hr = GenerateMipLevels(target, plan.palette.data(), generatedFrom - 1, plan.mipFilter);
            FAILED(hr)) {
            return hr;
        }
    }
    if (plan.staging) return device->UpdateTexture(target, created);
    return D3D_OK;
}

// Level 1 made from level 0 while level 0 is being decoded: each pair of rows is reduced by the 2:1
// box as soon as both are final, while they are still in the cache. The pixels are those that
// generating level 1 afterwards gives (the packed 8-bit ARGB path of the box filter).
struct FirstLevelReduction {
    const BYTE* source = nullptr;
    UINT sourcePitch = 0;
    BYTE* out = nullptr;
    UINT outPitch = 0;
    UINT outWidth = 0;
    UINT outHeight = 0;
    UINT done = 0;  // rows of level 1 made so far

    static void RowsReady(void* context, UINT rows) {
        auto* reduction = static_cast<FirstLevelReduction*>(context);
        while (reduction->done < reduction->outHeight && 2 * std::uint64_t{reduction->done} + 1 < rows) {
            const std::size_t y = reduction->done;
            BoxReduceArgbRow(reinterpret_cast<DWORD*>(reduction->out + y * reduction->outPitch),
                             reinterpret_cast<const DWORD*>(reduction->source + 2 * y * reduction->sourcePitch),
                             reinterpret_cast<const DWORD*>(reduction->source + (2 * y + 1) * reduction->sourcePitch),
                             reduction->outWidth);
            ++reduction->done;
        }
    }
};

// True when generating level 1 of a texture of this plan takes the packed 8-bit ARGB 2:1 box path
// (FirstLevelReduction gives the same pixels).
bool ReducesFirstLevelByBox(const TexturePlan& plan, UINT levelCount) {
    const DWORD filter = plan.mipFilter;
    const bool argb = plan.format == D3DFMT_A8R8G8B8 || plan.format == D3DFMT_X8R8G8B8 ||
                      plan.format == D3DFMT_A8B8G8R8 || plan.format == D3DFMT_X8B8G8R8;
    return argb && plan.type == D3DRTYPE_TEXTURE && plan.generate && levelCount >= 2 && plan.width >= 2 &&
           plan.height >= 2 && (filter & kFilterKindMask) == FILTER_BOX &&
           (filter & (FILTER_DITHER | FILTER_SRGB_OUT)) == 0 && IsValidFilter(filter & ~FILTER_SRGB);
}

// True when the files of this kind can be decoded straight into a texture level: JPEG and PNG,
// recognised by their signatures (which no earlier reader accepts).
bool DecodesIntoTarget(const BYTE* data, UINT size) {
    static constexpr BYTE kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xD8) return true;
    return size >= sizeof kPngSignature && std::memcmp(data, kPngSignature, sizeof kPngSignature) == 0;
}

// True when loading the image into level 0 would copy its rows unchanged, so that decoding straight
// into the level gives the same texture.
bool LoadsUnchanged(const SourceImage& image, const TexturePlan& plan) {
    return plan.type == D3DRTYPE_TEXTURE && image.format == plan.format && image.format != D3DFMT_P8 &&
           image.format != D3DFMT_A8P8 && FindCodecInfo(image.format) != nullptr &&
           FindCodecInfo(image.format)->layout == CodecLayout::Packed && image.nextMip == nullptr &&
           image.nextFace == nullptr && plan.width == image.width && plan.height == image.height &&
           plan.colorKey == 0 && (plan.filter & FILTER_SRGB) == 0 && IsValidFilter(plan.filter) &&
           (plan.generate || plan.mipLevels == 1);
}

// Decodes the file straight into level 0 of a texture made from the file's header, when the
// header shows that loading would copy the decoded rows unchanged. *parsed tells whether the file was
// decoded (and *fileInfo filled). When *done, *texture is the filled texture; otherwise *image may
// hold the decoded file for the general path (pixels in a block of its own), or nothing.
HRESULT LoadIntoTexture(IDirect3DDevice9* device, const BYTE* data, UINT size, const TextureRequest& request,
                        const PALETTEENTRY* paletteOutput, SourceImage* image, ImageInfo* fileInfo,
                        ComPtr<IDirect3DBaseTexture9>* texture, bool* parsed, bool* done) {
    *parsed = false;
    *done = false;
    SourceImage header;
    ImageInfo headerInfo;
    if (FAILED(ParseImageFile(&header, data, size, &headerInfo, false))) return D3D_OK;
    TextureRequest headerRequest = request;
    if (headerRequest.type == kResourceTypeFromFile) headerRequest.type = headerInfo.resourceType;
    TexturePlan plan;
    if (FAILED(PlanTexture(header, headerRequest, &plan)) ||
        FAILED(FinishPlan(device, paletteOutput != nullptr, &plan)) || !LoadsUnchanged(header, plan)) {
        return D3D_OK;
    }
    ComPtr<IDirect3DBaseTexture9> created, target;
    if (FAILED(CreatePlanned(device, plan, &created, &target))) return D3D_OK;
    ComPtr<IDirect3DSurface9> level;
    if (FAILED(GetLevelSurface(target.Get(), plan.type, 0, 0, &level))) return D3D_OK;
    D3DLOCKED_RECT locked{};
    if (FAILED(level->LockRect(&locked, nullptr, D3DLOCK_NOSYSLOCK))) return D3D_OK;
    image->target = PixelTarget{static_cast<BYTE*>(locked.pBits), plan.format, plan.width, plan.height,
                                static_cast<UINT>(locked.Pitch)};
    // Level 1 is made alongside when it comes from level 0 by the packed box path.
    FirstLevelReduction reduction;
    ComPtr<IDirect3DSurface9> nextLevel;
    D3DLOCKED_RECT nextLocked{};
    if (ReducesFirstLevelByBox(plan, target->GetLevelCount()) &&
        SUCCEEDED(GetLevelSurface(target.Get(), plan.type, 0, 1, &nextLevel)) &&
        SUCCEEDED(nextLevel->LockRect(&nextLocked, nullptr, D3DLOCK_NOSYSLOCK))) {
        reduction = FirstLevelReduction{static_cast<const BYTE*>(locked.pBits), static_cast<UINT>(locked.Pitch),
                                        static_cast<BYTE*>(nextLocked.pBits), static_cast<UINT>(nextLocked.Pitch),
                                        plan.width / 2, plan.height / 2, 0};
        image->target.rowsReady = FirstLevelReduction::RowsReady;
        image->target.context = &reduction;
    } else {
        nextLevel.Reset();
    }
    const HRESULT result = ParseImageFile(image, data, size, fileInfo, true);
    level->UnlockRect();
    if (nextLevel) nextLevel->UnlockRect();
    const bool inTarget = image->InTarget();
    image->target = PixelTarget{};
    if (FAILED(result)) return result;
    *parsed = true;
    if (!inTarget) return D3D_OK;  // another reader took the file: the general path loads it
    const UINT filledLevels = nextLevel && reduction.done == reduction.outHeight ? 2 : 1;

    // The decoded file gives the same texture as its header did.
    TextureRequest decodedRequest = request;
    if (decodedRequest.type == kResourceTypeFromFile) decodedRequest.type = fileInfo->resourceType;
    TexturePlan decoded;
    if (FAILED(PlanTexture(*image, decodedRequest, &decoded)) ||
        FAILED(FinishPlan(device, paletteOutput != nullptr, &decoded)) || !decoded.SameTexture(plan) ||
        !LoadsUnchanged(*image, decoded)) {
        image->Reset();
        return D3D_OK;
    }
    if (HRESULT hr = FillPlanned(device, plan, *image, paletteOutput, filledLevels, created.Get(), target.Get());
        FAILED(hr)) {
        return hr;
    }
    *texture = std::move(created);
    *done = true;
    return D3D_OK;
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
    const TextureRequest request{width, height, depth, mipLevels, usage, format, pool, filter, mipFilter, colorKey,
                                 type};

    // JPEG and PNG files are decoded straight into the texture when nothing needs converting.
    SourceImage image;
    ImageInfo fileInfo;
    const BYTE* bytes = static_cast<const BYTE*>(data);
    if (type != D3DRTYPE_VOLUMETEXTURE && type != D3DRTYPE_CUBETEXTURE && DecodesIntoTarget(bytes, size)) {
        ComPtr<IDirect3DBaseTexture9> loaded;
        bool parsed = false;
        bool done = false;
        if (HRESULT hr = LoadIntoTexture(device, bytes, size, request, palette, &image, &fileInfo, &loaded, &parsed,
                                         &done);
            FAILED(hr)) {
            if (parsed && info != nullptr) *info = fileInfo;
            if (parsed && palette != nullptr) {
                for (UINT i = 0; i < kPaletteSize; ++i) palette[i] = Entry(255, 255, 255, 255);
            }
            return hr;
        }
        if (done) {
            if (info != nullptr) *info = fileInfo;
            if (palette != nullptr) {
                for (UINT i = 0; i < kPaletteSize; ++i) palette[i] = Entry(255, 255, 255, 255);
            }
            *texture = loaded.Detach();
            return D3D_OK;
        }
    }

    // The file, with what it holds (unless decoded above).
    if (image.pixels == nullptr) {
        if (HRESULT hr = ParseImageFile(&image, data, size, &fileInfo, true); FAILED(hr)) return hr;
    }
    if (info != nullptr) *info = fileInfo;
    TextureRequest resolved = request;
    if (resolved.type == kResourceTypeFromFile) resolved.type = fileInfo.resourceType;
    if (!IsTextureType(resolved.type)) return D3DERR_INVALIDCALL;

    TexturePlan plan;
    if (HRESULT hr = PlanTexture(image, resolved, &plan); FAILED(hr)) return hr;
    if (palette != nullptr) std::memcpy(palette, plan.palette.data(), sizeof(PALETTEENTRY) * kPaletteSize);
    if (HRESULT hr = FinishPlan(device, palette != nullptr, &plan); FAILED(hr)) return hr;

    ComPtr<IDirect3DBaseTexture9> created, target;
    if (HRESULT hr = CreatePlanned(device, plan, &created, &target); FAILED(hr)) return hr;
    if (HRESULT hr = FillPlanned(device, plan, image, palette, 0, created.Get(), target.Get()); FAILED(hr)) {
        return hr;
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
