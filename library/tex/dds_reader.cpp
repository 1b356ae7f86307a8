// dds_reader.cpp: the DDS reader: the pixel-format table, 2D, cube and volume layouts with their mip
// chains, palettized files; every level is used in place in the file data.
#include <new>

#include "library/tex/format_table.h"
#include "library/tex/image_readers.h"
#include "platform/win/results.h"

namespace qm {

namespace {

constexpr UINT kHeaderEnd = 128;
constexpr UINT kPaletteBytes = 256 * 4;
constexpr DWORD kDepthFlag = 0x800000;
constexpr DWORD kAllFaces = 0xFC00;
constexpr DWORD kFourCcFlag = 0x4;
constexpr UINT kPixelFormatSize = 32;

// Which pixel-format fields a row's flags call for.
constexpr DWORD kBitsFlags = 0xC4462;
constexpr DWORD kRedFlags = 0xE4040;
constexpr DWORD kGreenFlags = 0xC4440;
constexpr DWORD kBlueFlags = 0xC4040;
constexpr DWORD kAlphaFlags = 0x80003;

struct DdsPixelFormat {
    D3DFORMAT format;
    DWORD flags;
    DWORD code;
    UINT bits;
    UINT red;
    UINT green;
    UINT blue;
    UINT alpha;
};

// Searched in order; the first match wins.
constexpr DdsPixelFormat kPixelFormats[] = {
    {D3DFMT_R8G8B8, 0x40, 0, 24, 0xFF0000, 0xFF00, 0xFF, 0},
    {D3DFMT_A8R8G8B8, 0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000},
    {D3DFMT_X8R8G8B8, 0x40, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0},
    {D3DFMT_R5G6B5, 0x40, 0, 16, 0xF800, 0x7E0, 0x1F, 0},
    {D3DFMT_X1R5G5B5, 0x40, 0, 16, 0x7C00, 0x3E0, 0x1F, 0},
    {D3DFMT_A1R5G5B5, 0x41, 0, 16, 0x7C00, 0x3E0, 0x1F, 0x8000},
    {D3DFMT_A4R4G4B4, 0x41, 0, 16, 0xF00, 0xF0, 0xF, 0xF000},
    {D3DFMT_R3G3B2, 0x40, 0, 8, 0xE0, 0x1C, 0x3, 0},
    {D3DFMT_A8, 0x2, 0, 8, 0, 0, 0, 0xFF},
    {D3DFMT_A8R3G3B2, 0x41, 0, 16, 0xE0, 0x1C, 0x3, 0xFF00},
    {D3DFMT_X4R4G4B4, 0x40, 0, 16, 0xF00, 0xF0, 0xF, 0},
    {D3DFMT_A2B10G10R10, 0x41, 0, 32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000},
    {D3DFMT_A8B8G8R8, 0x41, 0, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000},
    {D3DFMT_X8B8G8R8, 0x40, 0, 32, 0xFF, 0xFF00, 0xFF0000, 0},
    {D3DFMT_G16R16, 0x40, 0, 32, 0xFFFF, 0xFFFF0000, 0, 0},
    {D3DFMT_A2R10G10B10, 0x41, 0, 32, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000},
    {D3DFMT_A8P8, 0x21, 0, 16, 0, 0, 0, 0xFF00},
    {D3DFMT_P8, 0x20, 0, 8, 0, 0, 0, 0},
    {D3DFMT_L8, 0x20000, 0, 8, 0xFF, 0, 0, 0},
    {D3DFMT_A8L8, 0x20001, 0, 16, 0xFF, 0, 0, 0xFF00},
    {D3DFMT_A4L4, 0x20001, 0, 8, 0xF, 0, 0, 0xF0},
    {D3DFMT_L16, 0x20000, 0, 16, 0xFFFF, 0, 0, 0},
    {D3DFMT_V8U8, 0x80000, 0, 16, 0xFF, 0xFF00, 0, 0},
    {D3DFMT_L6V5U5, 0x40000, 0, 16, 0x1F, 0x3E0, 0xFC00, 0},
    {D3DFMT_X8L8V8U8, 0x40000, 0, 32, 0xFF, 0xFF00, 0xFF0000, 0},
    {D3DFMT_Q8W8V8U8, 0x80000, 0, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000},
    {D3DFMT_V16U16, 0x80000, 0, 32, 0xFFFF, 0xFFFF0000, 0, 0},
    {D3DFMT_A2W10V10U10, 0x80001, 0, 32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000},
    {D3DFMT_UYVY, kFourCcFlag, D3DFMT_UYVY, 0, 0, 0, 0, 0},
    {D3DFMT_R8G8_B8G8, kFourCcFlag, D3DFMT_R8G8_B8G8, 0, 0, 0, 0, 0},
    {D3DFMT_YUY2, kFourCcFlag, D3DFMT_YUY2, 0, 0, 0, 0, 0},
    {D3DFMT_G8R8_G8B8, kFourCcFlag, D3DFMT_G8R8_G8B8, 0, 0, 0, 0, 0},
    {D3DFMT_DXT1, kFourCcFlag, D3DFMT_DXT1, 0, 0, 0, 0, 0},
    {D3DFMT_DXT2, kFourCcFlag, D3DFMT_DXT2, 0, 0, 0, 0, 0},
    {D3DFMT_DXT3, kFourCcFlag, D3DFMT_DXT3, 0, 0, 0, 0, 0},
    {D3DFMT_DXT4, kFourCcFlag, D3DFMT_DXT4, 0, 0, 0, 0, 0},
    {D3DFMT_DXT5, kFourCcFlag, D3DFMT_DXT5, 0, 0, 0, 0, 0},
    {D3DFMT_D16_LOCKABLE, 0x400, 0, 16, 0, 0xFFFF, 0, 0},
    {D3DFMT_D32F_LOCKABLE, kFourCcFlag, D3DFMT_D32F_LOCKABLE, 0, 0, 0, 0, 0},
    {D3DFMT_A16B16G16R16, kFourCcFlag, D3DFMT_A16B16G16R16, 0, 0, 0, 0, 0},
    {D3DFMT_Q16W16V16U16, kFourCcFlag, D3DFMT_Q16W16V16U16, 0, 0, 0, 0, 0},
    {D3DFMT_R16F, kFourCcFlag, D3DFMT_R16F, 0, 0, 0, 0, 0},
    {D3DFMT_G16R16F, kFourCcFlag, D3DFMT_G16R16F, 0, 0, 0, 0, 0},
    {D3DFMT_A16B16G16R16F, kFourCcFlag, D3DFMT_A16B16G16R16F, 0, 0, 0, 0, 0},
    {D3DFMT_R32F, kFourCcFlag, D3DFMT_R32F, 0, 0, 0, 0, 0},
    {D3DFMT_G32R32F, kFourCcFlag, D3DFMT_G32R32F, 0, 0, 0, 0, 0},
    {D3DFMT_A32B32G32R32F, kFourCcFlag, D3DFMT_A32B32G32R32F, 0, 0, 0, 0, 0},
    {D3DFMT_CxV8U8, kFourCcFlag, D3DFMT_CxV8U8, 0, 0, 0, 0, 0},
};

bool Matches(const DdsPixelFormat& row, const DdsPixelFormat& file) {
    if (row.flags != file.flags) return false;
    DWORD flags = row.flags;
    if ((flags & kFourCcFlag) != 0 && row.code != file.code) return false;
    if ((flags & kBitsFlags) != 0 && row.bits != file.bits) return false;
    if ((flags & kRedFlags) != 0 && row.red != file.red) return false;
    if ((flags & kGreenFlags) != 0 && row.green != file.green) return false;
    if ((flags & kBlueFlags) != 0 && row.blue != file.blue) return false;
    if ((flags & kAlphaFlags) != 0 && row.alpha != file.alpha) return false;
    return true;
}

// Row pitch and size of one depth slice of a level.
void LevelSize(D3DFORMAT format, std::uint64_t width, std::uint64_t height, std::uint64_t* pitch, std::uint64_t* slice) {
    switch (format) {
        case D3DFMT_DXT1:
            *pitch = (width + 3) / 4 * 8;
            *slice = (height + 3) / 4 * *pitch;
            return;
        case D3DFMT_DXT2:
        case D3DFMT_DXT3:
        case D3DFMT_DXT4:
        case D3DFMT_DXT5:
            *pitch = (width + 3) / 4 * 16;
            *slice = (height + 3) / 4 * *pitch;
            return;
        case D3DFMT_YUY2:
        case D3DFMT_UYVY:
        case D3DFMT_R8G8_B8G8:
        case D3DFMT_G8R8_G8B8:
            *pitch = (width + 1) / 2 * 4;
            *slice = *pitch * height;
            return;
        default:
            *pitch = FindFormatDescriptor(format).bitsPerPixel / 8 * width;
            *slice = *pitch * height;
            return;
    }
}

// Fills the first record and chains one record per further level (next mip) and per further cube face
// (next face); every level must lie inside the data.
HRESULT ChainLevels(SourceImage* image, const BYTE* data, UINT size, std::uint64_t offset, D3DFORMAT format,
                    const PALETTEENTRY* palette, D3DRESOURCETYPE resourceType, UINT faces, UINT mipCount, UINT width,
                    UINT height, UINT depth) {
    SourceImage* faceFirst = image;
    for (UINT face = 0; face < faces; ++face) {
        if (face > 0) {
            faceFirst->nextFace = std::make_unique<SourceImage>();
            faceFirst = faceFirst->nextFace.get();
        }
        SourceImage* level = faceFirst;
        std::uint64_t w = width;
        std::uint64_t h = height;
        std::uint64_t d = depth;
        for (UINT mip = 0; mip < mipCount; ++mip) {
            std::uint64_t pitch = 0;
            std::uint64_t slice = 0;
            LevelSize(format, w, h, &pitch, &slice);
            if (slice > 0xFFFFFFFFu || slice * d > size - offset) return E_FAIL;
            if (mip > 0) {
                level->nextMip = std::make_unique<SourceImage>();
                level = level->nextMip.get();
            }
            level->format = format;
            level->pixels = data + offset;
            level->palette = palette;
            level->width = static_cast<UINT>(w);
            level->height = static_cast<UINT>(h);
            level->depth = static_cast<UINT>(d);
            level->rowPitch = static_cast<UINT>(pitch);
            level->slicePitch = static_cast<UINT>(slice);
            level->decode = image->decode;
            level->resourceType = resourceType;
            level->fileFormat = image->fileFormat;
            offset += slice * d;
            w = w > 1 ? w / 2 : 1;
            h = h > 1 ? h / 2 : 1;
            d = d > 1 ? d / 2 : 1;
        }
    }
    return S_OK;
}

}  // namespace

HRESULT ReadDds(SourceImage* image, const BYTE* data, UINT size) {
    if (size < kHeaderEnd || LoadU32(data) != 0x20534444) return E_FAIL;
    DWORD flags = LoadU32(data + 8);
    UINT height = LoadU32(data + 12);
    UINT width = LoadU32(data + 16);
    UINT depth = (flags & kDepthFlag) != 0 ? LoadU32(data + 24) : 1;
    if (depth == 0) depth = 1;
    UINT mipCount = LoadU32(data + 28);
    if (mipCount == 0) mipCount = 1;
    DdsPixelFormat file{D3DFMT_UNKNOWN, LoadU32(data + 80), LoadU32(data + 84), LoadU32(data + 88),
                        LoadU32(data + 92), LoadU32(data + 96), LoadU32(data + 100), LoadU32(data + 104)};
    UINT pixelFormatSize = LoadU32(data + 76);
    DWORD faceBits = LoadU32(data + 112) & kAllFaces;

    if (faceBits != 0 && faceBits != kAllFaces) return E_FAIL;
    // A level without pixels is damaged.
    if (width == 0 || height == 0) return E_FAIL;
    if ((file.flags & kFourCcFlag) != 0) file.flags = kFourCcFlag;
    if (pixelFormatSize != kPixelFormatSize) return E_FAIL;
    const DdsPixelFormat* found = nullptr;
    for (const DdsPixelFormat& row : kPixelFormats) {
        if (Matches(row, file)) {
            found = &row;
            break;
        }
    }
    if (found == nullptr) return E_FAIL;
    const D3DFORMAT format = found->format;

    D3DRESOURCETYPE resourceType = D3DRTYPE_TEXTURE;
    if ((flags & kDepthFlag) != 0) {
        resourceType = D3DRTYPE_VOLUMETEXTURE;
    } else if (faceBits == kAllFaces) {
        resourceType = D3DRTYPE_CUBETEXTURE;
    }

    std::uint64_t offset = kHeaderEnd;
    const PALETTEENTRY* palette = nullptr;
    if (FindFormatDescriptor(format).kind == FormatKind::Palettized) {
        if (size - offset < kPaletteBytes) return E_FAIL;
        palette = reinterpret_cast<const PALETTEENTRY*>(data + offset);
        offset += kPaletteBytes;
    }

    const UINT faces = resourceType == D3DRTYPE_CUBETEXTURE ? 6 : 1;
    try {
        return ChainLevels(image, data, size, offset, format, palette, resourceType, faces, mipCount, width, height,
                           depth);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace qm
