// tga_reader.cpp: the TGA reader: colour-mapped, true-colour and grey images, uncompressed or
// run-length encoded, in any of the four orientations.
#include <cstring>

#include "library/tex/image_readers.h"
#include "platform/win/results.h"

namespace qm {

namespace {

constexpr UINT kHeaderSize = 18;
constexpr BYTE kTopToBottom = 0x20;
constexpr BYTE kRightToLeft = 0x10;
constexpr BYTE kRunLengthType = 0x8;
constexpr UINT kMaxPacketPixels = 128;

// Colour-map entries and true-colour pixels by bit count.
struct ColorBits {
    UINT bits;
    D3DFORMAT format;
};
constexpr ColorBits kColorFormats[] = {
    {15, D3DFMT_X1R5G5B5},
    {16, D3DFMT_A1R5G5B5},
    {24, D3DFMT_R8G8B8},
    {32, D3DFMT_A8R8G8B8},
};

bool ColorFormat(UINT bits, D3DFORMAT* format) {
    for (const ColorBits& row : kColorFormats) {
        if (row.bits == bits) {
            *format = row.format;
            return true;
        }
    }
    return false;
}

BYTE Expand5(UINT c) { return static_cast<BYTE>((c << 3) | (c >> 2)); }

// One colour-map entry as red, green, blue, alpha.
PALETTEENTRY MapEntry(const BYTE* p, UINT bits) {
    switch (bits) {
        case 24:
            return PALETTEENTRY{p[2], p[1], p[0], 0xFF};
        case 32:
            return PALETTEENTRY{p[2], p[1], p[0], p[3]};
        default: {
            UINT value = LoadU16(p);
            BYTE alpha = (bits == 15 || (value & 0x8000) != 0) ? 0xFF : 0x00;
            return PALETTEENTRY{Expand5((value >> 10) & 0x1F), Expand5((value >> 5) & 0x1F), Expand5(value & 0x1F), alpha};
        }
    }
}

struct TgaLayout {
    UINT width;
    UINT height;
    UINT bytesPerPixel;
    bool runLength;
    bool bottomUp;
    bool rightToLeft;
};

// Places the pixels of the file, in file order, into the block: file row r goes to block row
// height - 1 - r for bottom-up files; column c to width - 1 - c for right-to-left files. A run that
// passes the end of a row continues on the next row; pixels past the last row are dropped.
class PixelPlacer {
public:
    PixelPlacer(const TgaLayout& layout, BYTE* block, std::uint64_t rowPitch)
        : layout_(layout), block_(block), rowPitch_(rowPitch), total_(std::uint64_t{layout.width} * layout.height) {}

    bool Done() const { return next_ >= total_; }
    void Put(const BYTE* pixel) {
        if (Done()) return;
        std::uint64_t row = next_ / layout_.width;
        std::uint64_t column = next_ % layout_.width;
        if (layout_.bottomUp) row = layout_.height - 1 - row;
        if (layout_.rightToLeft) column = layout_.width - 1 - column;
        std::memcpy(block_ + row * rowPitch_ + column * layout_.bytesPerPixel, pixel, layout_.bytesPerPixel);
        ++next_;
    }

private:
    const TgaLayout& layout_;
    BYTE* block_;
    std::uint64_t rowPitch_;
    std::uint64_t total_;
    std::uint64_t next_ = 0;
};

bool DecodeRunLength(const BYTE* source, std::uint64_t available, PixelPlacer* placer, UINT bytesPerPixel) {
    std::uint64_t position = 0;
    while (!placer->Done()) {
        if (position >= available) return false;
        BYTE header = source[position++];
        UINT count = (header & 0x7Fu) + 1;
        if ((header & 0x80) != 0) {
            if (available - position < bytesPerPixel) return false;
            for (UINT i = 0; i < count; ++i) placer->Put(source + position);
            position += bytesPerPixel;
        } else {
            if ((available - position) / bytesPerPixel < count) return false;
            for (UINT i = 0; i < count; ++i, position += bytesPerPixel) placer->Put(source + position);
        }
    }
    return true;
}

// True when some pixel has a bit of the mask set (pixels of 2 or 4 bytes).
bool AnyBitSet(const BYTE* pixels, std::uint64_t rowPitch, const TgaLayout& layout, UINT mask) {
    for (std::uint64_t y = 0; y < layout.height; ++y) {
        const BYTE* row = pixels + y * rowPitch;
        for (std::uint64_t x = 0; x < layout.width; ++x) {
            const BYTE* p = row + x * layout.bytesPerPixel;
            UINT value = layout.bytesPerPixel == 2 ? LoadU16(p) : LoadU32(p);
            if ((value & mask) != 0) return true;
        }
    }
    return false;
}

}  // namespace

HRESULT ReadTga(SourceImage* image, const BYTE* data, UINT size) {
    if (size < kHeaderSize) return E_FAIL;
    const UINT idLength = data[0];
    const UINT mapType = data[1];
    const UINT imageType = data[2];
    const UINT mapFirst = LoadU16(data + 3);
    const UINT mapLength = LoadU16(data + 5);
    const UINT mapBits = data[7];
    TgaLayout layout{};
    layout.width = LoadU16(data + 12);
    layout.height = LoadU16(data + 14);
    const UINT pixelBits = data[16];
    const BYTE descriptor = data[17];
    if (mapType > 1 || (imageType & 0xF4) != 0 || layout.width == 0 || layout.height == 0) return E_FAIL;

    D3DFORMAT mapFormat = D3DFMT_UNKNOWN;
    if (mapType == 1 && !ColorFormat(mapBits, &mapFormat)) return E_FAIL;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    switch (imageType & 3) {
        case 1:
            if (mapType != 1 || pixelBits != 8) return E_FAIL;
            format = D3DFMT_P8;
            break;
        case 2:
            if (!ColorFormat(pixelBits, &format)) return E_FAIL;
            break;
        case 3:
            if (pixelBits != 8) return E_FAIL;
            format = D3DFMT_L8;
            break;
        default:
            return E_FAIL;
    }

    const UINT mapEntryBytes = (mapBits + 7) / 8;
    const std::uint64_t mapBytes = mapType == 1 ? std::uint64_t{mapLength} * mapEntryBytes : 0;
    const std::uint64_t pixelOffset = kHeaderSize + idLength + mapBytes;
    if (pixelOffset > size) return E_FAIL;

    layout.bytesPerPixel = (pixelBits + 7) / 8;
    layout.runLength = (imageType & kRunLengthType) != 0;
    layout.bottomUp = (descriptor & kTopToBottom) == 0;
    layout.rightToLeft = (descriptor & kRightToLeft) != 0;
    const std::uint64_t rowPitch = std::uint64_t{layout.width} * layout.bytesPerPixel;

    image->format = format;
    image->width = layout.width;
    image->height = layout.height;
    image->depth = 1;
    image->rowPitch = static_cast<UINT>(rowPitch);
    image->slicePitch = 0;
    if (!image->decode) return S_OK;

    if (format == D3DFMT_P8) {
        if (mapFirst + mapLength > 256) return E_FAIL;
        std::unique_ptr<PALETTEENTRY[]> palette = NewWhitePalette();
        if (palette == nullptr) return E_OUTOFMEMORY;
        const BYTE* map = data + kHeaderSize + idLength;
        bool anyAlpha = false;
        for (UINT i = 0; i < mapLength; ++i) {
            PALETTEENTRY entry = MapEntry(map + std::uint64_t{i} * mapEntryBytes, mapBits);
            anyAlpha = anyAlpha || entry.peFlags != 0;
            palette[mapFirst + i] = entry;
        }
        if (!anyAlpha) {
            for (UINT i = 0; i < mapLength; ++i) palette[mapFirst + i].peFlags = 0xFF;
        }
        image->AdoptPalette(std::move(palette));
    }

    const BYTE* source = data + pixelOffset;
    const std::uint64_t available = size - pixelOffset;
    const std::uint64_t pixelCount = std::uint64_t{layout.width} * layout.height;
    if (!layout.runLength && pixelCount * layout.bytesPerPixel > available) return E_FAIL;
    // Every packet takes a header and one pixel value and yields at most 128 pixels, so data too short
    // for that many packets cannot fill the image.
    if (layout.runLength &&
        (pixelCount + kMaxPacketPixels - 1) / kMaxPacketPixels * (1 + layout.bytesPerPixel) > available) {
        return E_FAIL;
    }

    if (!layout.runLength && !layout.bottomUp && !layout.rightToLeft) {
        image->pixels = source;
    } else {
        BYTE* block = nullptr;
        HRESULT hr = AllocatePixels(image, rowPitch, layout.height, &block);
        if (FAILED(hr)) return hr;
        PixelPlacer placer(layout, block, rowPitch);
        if (layout.runLength) {
            if (!DecodeRunLength(source, available, &placer, layout.bytesPerPixel)) return E_FAIL;
        } else {
            for (std::uint64_t i = 0; i < pixelCount; ++i) placer.Put(source + i * layout.bytesPerPixel);
        }
    }

    if (format == D3DFMT_A8R8G8B8 && !AnyBitSet(image->pixels, rowPitch, layout, 0xFF000000u)) {
        image->format = D3DFMT_X8R8G8B8;
    } else if (format == D3DFMT_A1R5G5B5 && !AnyBitSet(image->pixels, rowPitch, layout, 0x8000u)) {
        image->format = D3DFMT_X1R5G5B5;
    }
    return S_OK;
}

}  // namespace qm
