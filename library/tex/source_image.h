// source_image.h: the decoded image records the file readers produce (SourceImage with its mip and
// face chains), what a caller may learn about a file (ImageInfo), and the file-format codes.
#pragma once

#include <memory>

#include "platform/d3d9/d3d9types.h"
#include "platform/win/win_types.h"

namespace qm {

// Which reader accepted a file.
enum class ImageFileFormat : DWORD {
    Bmp = 0,
    Jpg = 1,
    Tga = 2,
    Png = 3,
    Dds = 4,
    Ppm = 5,
    Dib = 6,
};

// Private pixel formats of the PNG reader for 16-bit samples: grey then alpha, 16 bits each, and
// blue, green, red, 16 bits each. Both are four-character codes.
inline constexpr D3DFORMAT kFormatAL16 = static_cast<D3DFORMAT>(MAKEFOURCC('A', 'L', '1', '6'));
inline constexpr D3DFORMAT kFormatR16 = static_cast<D3DFORMAT>(MAKEFOURCC(' ', 'R', '1', '6'));

// A region of an image, in pixels; right, bottom and back are exclusive.
struct ImageBox {
    UINT left = 0;
    UINT top = 0;
    UINT right = 0;
    UINT bottom = 0;
    UINT front = 0;
    UINT back = 0;
};

// What a caller may ask to learn about a file: seven 32-bit fields in this order.
struct ImageInfo {
    UINT width = 0;
    UINT height = 0;
    UINT depth = 0;
    UINT mipLevels = 0;                     // images in the first face's mip chain
    D3DFORMAT format = D3DFMT_UNKNOWN;      // after the reporting map (ReportedFormat)
    D3DRESOURCETYPE resourceType = D3DRTYPE_TEXTURE;  // 3 texture, 4 volume texture, 5 cube texture
    ImageFileFormat fileFormat = ImageFileFormat::Bmp;
};
static_assert(sizeof(ImageInfo) == 7 * sizeof(UINT));

// Memory the caller offers for the decoded pixels of a first image (a locked texture level), so that
// a reader can decode into the texture instead of into a block of its own. Used only when the image
// has exactly this format, size and row pitch.
struct PixelTarget {
    BYTE* pixels = nullptr;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    UINT width = 0;
    UINT height = 0;
    UINT rowPitch = 0;
    // Told, when set, each time more rows of the target are final (rows [0, rows) are), so that work
    // on them can start while they are still in the cache. Must not fail or throw.
    void (*rowsReady)(void* context, UINT rows) = nullptr;
    void* context = nullptr;
};

// One decoded image level. The pixels and the palette either point into the caller's file data
// (not owned) or into blocks this record owns and frees. Destroying a record frees what it owns and
// then its next-mip and next-face chains, however long they are.
struct SourceImage {
    SourceImage() = default;
    ~SourceImage();
    SourceImage(const SourceImage&) = delete;
    SourceImage& operator=(const SourceImage&) = delete;

    // Frees everything owned (pixels, palette, both chains) and returns every field but the target to
    // its initial value, as before the first read.
    void Reset();

    // Takes a freshly allocated pixel block as this record's pixels.
    void AdoptPixels(std::unique_ptr<BYTE[]> block);
    // Takes a freshly allocated 256-entry palette as this record's palette.
    void AdoptPalette(std::unique_ptr<PALETTEENTRY[]> entries);

    bool OwnsPixels() const { return ownedPixels != nullptr; }
    bool OwnsPalette() const { return ownedPalette != nullptr; }

    D3DFORMAT format = D3DFMT_UNKNOWN;     // a Direct3D format or kFormatAL16 / kFormatR16
    const BYTE* pixels = nullptr;          // the top row; rows run downwards by rowPitch
    const PALETTEENTRY* palette = nullptr; // 256 entries (red, green, blue, alpha), or null
    UINT width = 0;
    UINT height = 0;
    UINT depth = 0;                        // 1 for 2D images
    ImageBox box;                          // the region to use
    UINT rowPitch = 0;                     // bytes per row (block formats: per row of 4x4 blocks)
    UINT slicePitch = 0;                   // bytes per depth slice (0 for plain 2D images)
    bool decode = false;                   // false when only the header is wanted
    D3DRESOURCETYPE resourceType = D3DRTYPE_TEXTURE;
    ImageFileFormat fileFormat = ImageFileFormat::Bmp;
    std::unique_ptr<SourceImage> nextMip;  // the next smaller level of this face, or null
    std::unique_ptr<SourceImage> nextFace; // the first level of the next cube face, or null
    PixelTarget target;                    // the caller's memory for the pixels, if any (not owned)

    // True when the pixels were decoded into the target.
    bool InTarget() const { return target.pixels != nullptr && pixels == target.pixels; }

private:
    void FreeChains();

    std::unique_ptr<BYTE[]> ownedPixels;
    std::unique_ptr<PALETTEENTRY[]> ownedPalette;
};

// The number of records in a mip chain, counting the first.
UINT MipChainLength(const SourceImage& first);

}  // namespace qm
