// bmp_reader.cpp: the BMP reader (file header, then a device-independent bitmap) and the DIB reader
// (core and info headers, 1/4/8/16/24/32 bits, RLE4 and RLE8, bit-field masks).
#include <algorithm>
#include <bit>
#include <cstring>

#include "library/tex/image_readers.h"
#include "platform/win/results.h"

namespace qm {

namespace {

constexpr DWORD kCompressionNone = 0;
constexpr DWORD kCompressionRle8 = 1;
constexpr DWORD kCompressionRle4 = 2;
constexpr DWORD kCompressionBitFields = 3;

constexpr UINT kCoreHeaderSize = 12;
constexpr UINT kInfoHeaderSize = 40;
constexpr UINT kMaskHeaderSize = 52;       // red, green and blue masks inside the header
constexpr UINT kAlphaMaskHeaderSize = 56;  // and the alpha mask

// Formats of uncompressed and run-length bitmaps by bit count.
struct BitCountFormat {
    UINT bits;
    D3DFORMAT format;
};
constexpr BitCountFormat kPlainFormats[] = {
    {1, D3DFMT_P8}, {4, D3DFMT_P8}, {8, D3DFMT_P8}, {16, D3DFMT_X1R5G5B5}, {24, D3DFMT_R8G8B8}, {32, D3DFMT_X8R8G8B8},
};

// Formats of bit-field bitmaps by bit count and masks. rowShift 1 marks the layout whose colour bytes
// sit one byte later than X8R8G8B8's; its rows are taken from one byte on.
struct MaskFormat {
    UINT bits;
    UINT red;
    UINT green;
    UINT blue;
    UINT alpha;
    D3DFORMAT format;
    UINT rowShift;
};
constexpr MaskFormat kMaskFormats[] = {
    {16, 0xFF, 0xFF, 0xFF, 0xFF00, D3DFMT_A8L8, 0},
    {16, 0xF00, 0xF0, 0xF, 0xF000, D3DFMT_A4R4G4B4, 0},
    {16, 0xF00, 0xF0, 0xF, 0, D3DFMT_X4R4G4B4, 0},
    {16, 0xE0, 0x1C, 0x3, 0xFF00, D3DFMT_A8R3G3B2, 0},
    {16, 0xFFFF, 0xFFFF, 0xFFFF, 0, D3DFMT_L16, 0},
    {16, 0xF800, 0x7E0, 0x1F, 0, D3DFMT_R5G6B5, 0},
    {16, 0x7C00, 0x3E0, 0x1F, 0, D3DFMT_X1R5G5B5, 0},
    {16, 0x7C00, 0x3E0, 0x1F, 0x8000, D3DFMT_A1R5G5B5, 0},
    {24, 0xFF0000, 0xFF00, 0xFF, 0, D3DFMT_R8G8B8, 0},
    {32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, D3DFMT_A8R8G8B8, 0},
    {32, 0xFF0000, 0xFF00, 0xFF, 0, D3DFMT_X8R8G8B8, 0},
    {32, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000, D3DFMT_A2B10G10R10, 0},
    {32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000, D3DFMT_A8B8G8R8, 0},
    {32, 0xFF, 0xFF00, 0xFF0000, 0, D3DFMT_X8B8G8R8, 0},
    {32, 0xFFFF, 0xFFFF0000, 0, 0, D3DFMT_G16R16, 0},
    {32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000, D3DFMT_A2R10G10B10, 0},
    {32, 0xFF000000, 0xFF0000, 0xFF00, 0, D3DFMT_X8R8G8B8, 1},
};

// Everything the header and colour table say about the pixel rows.
struct DibLayout {
    UINT headerSize = 0;
    UINT width = 0;
    UINT height = 0;
    bool topDown = false;
    UINT bitCount = 0;
    DWORD compression = kCompressionNone;
    UINT masks[4] = {};  // red, green, blue, alpha (bit fields only)
    bool genericMasks = false;
    UINT rowShift = 0;
    std::uint64_t pixelOffset = 0;  // from the start of the header
    std::uint64_t sourceRowBytes = 0;
    std::uint64_t sourcePitch = 0;
    std::uint64_t rowPitch = 0;  // of the decoded rows
};

// Writes decoded palette indices of a run-length bitmap. Pixels right of the row's end are dropped;
// a pixel on a row past the last fails the decode.
class RleWriter {
public:
    RleWriter(BYTE* block, const DibLayout& layout) : block_(block), layout_(layout) {}

    bool Put(BYTE index) {
        if (y_ >= layout_.height) return false;
        if (x_ < layout_.width) {
            std::uint64_t row = layout_.topDown ? y_ : layout_.height - 1 - y_;
            block_[row * layout_.rowPitch + x_] = index;
        }
        ++x_;
        return true;
    }
    void EndLine() {
        x_ = 0;
        ++y_;
    }
    void Move(UINT dx, UINT dy) {
        x_ += dx;
        y_ += dy;
    }

private:
    BYTE* block_;
    const DibLayout& layout_;
    std::uint64_t x_ = 0;
    std::uint64_t y_ = 0;
};

// Run-length decoding (RLE8, or RLE4 with two pixels per byte, high nibble first). Fails when a packet
// or its data reaches past the end of the data, when a pixel would land past the last row, or when
// the data ends before the end-of-bitmap escape.
bool DecodeRle(const BYTE* source, std::uint64_t sourceSize, bool fourBit, BYTE* block, const DibLayout& layout) {
    RleWriter writer(block, layout);
    std::uint64_t position = 0;
    auto pixelOf = [fourBit](BYTE value, UINT i) -> BYTE {
        if (!fourBit) return value;
        return (i & 1) == 0 ? static_cast<BYTE>(value >> 4) : static_cast<BYTE>(value & 0xF);
    };
    for (;;) {
        if (sourceSize - position < 2) return false;
        UINT count = source[position];
        UINT value = source[position + 1];
        position += 2;
        if (count != 0) {
            for (UINT i = 0; i < count; ++i) {
                if (!writer.Put(pixelOf(static_cast<BYTE>(value), i))) return false;
            }
            continue;
        }
        if (value == 0) {
            writer.EndLine();
        } else if (value == 1) {
            return true;
        } else if (value == 2) {
            if (sourceSize - position < 2) return false;
            writer.Move(source[position], source[position + 1]);
            position += 2;
        } else {
            std::uint64_t dataBytes = fourBit ? (value + 1) / 2 : value;
            std::uint64_t paddedBytes = (dataBytes + 1) & ~std::uint64_t{1};
            if (sourceSize - position < paddedBytes) return false;
            const BYTE* literal = source + position;
            for (UINT i = 0; i < value; ++i) {
                BYTE byte = literal[fourBit ? i / 2 : i];
                if (!writer.Put(pixelOf(byte, i))) return false;
            }
            position += paddedBytes;
        }
    }
}

// One channel of the generic mask path: ((pixel >> shift) & mask) x scale, or 1.0 without a mask.
struct MaskChannel {
    bool present = false;
    UINT shift = 0;
    UINT mask = 0;  // already shifted down
    float scale = 0.0f;

    float Decode(UINT pixel) const { return present ? static_cast<float>((pixel >> shift) & mask) * scale : 1.0f; }
};

MaskChannel MakeMaskChannel(UINT mask) {
    MaskChannel channel;
    if (mask == 0) return channel;
    channel.present = true;
    channel.shift = static_cast<UINT>(std::countr_zero(mask));
    channel.mask = mask >> channel.shift;
    channel.scale = 1.0f / static_cast<float>(channel.mask);
    return channel;
}

// Decodes every pixel through the masks into four floats (red, green, blue, alpha).
void DecodeMaskedRows(const BYTE* rows, const DibLayout& layout, BYTE* block) {
    MaskChannel channels[4];
    bool noColor = layout.masks[0] == 0 && layout.masks[1] == 0 && layout.masks[2] == 0;
    for (int c = 0; c < 4; ++c) channels[c] = MakeMaskChannel(c < 3 && noColor ? 1u : layout.masks[c]);
    if (noColor) {
        for (int c = 0; c < 3; ++c) channels[c].scale = 0.0f;
    }
    UINT bytesPerPixel = layout.bitCount / 8;
    for (std::uint64_t y = 0; y < layout.height; ++y) {
        const BYTE* source = rows + y * layout.sourcePitch;
        std::uint64_t row = layout.topDown ? y : layout.height - 1 - y;
        BYTE* target = block + row * layout.rowPitch;
        for (std::uint64_t x = 0; x < layout.width; ++x) {
            const BYTE* p = source + x * bytesPerPixel;
            UINT pixel = bytesPerPixel == 2 ? LoadU16(p) : bytesPerPixel == 3 ? LoadU24(p) : LoadU32(p);
            float values[4];
            for (int c = 0; c < 4; ++c) values[c] = channels[c].Decode(pixel);
            std::memcpy(target + x * 16, values, sizeof(values));
        }
    }
}

// Unpacks 1- or 4-bit rows to one index byte per pixel, most significant bits first.
void UnpackIndexRows(const BYTE* rows, const DibLayout& layout, BYTE* block) {
    UINT bits = layout.bitCount;
    UINT perByte = 8 / bits;
    UINT mask = (1u << bits) - 1;
    for (std::uint64_t y = 0; y < layout.height; ++y) {
        const BYTE* source = rows + y * layout.sourcePitch;
        std::uint64_t row = layout.topDown ? y : layout.height - 1 - y;
        BYTE* target = block + row * layout.rowPitch;
        for (std::uint64_t x = 0; x < layout.width; ++x) {
            UINT shift = (perByte - 1 - static_cast<UINT>(x % perByte)) * bits;
            target[x] = static_cast<BYTE>((source[x / perByte] >> shift) & mask);
        }
    }
}

// Copies rows, flipping bottom-up files; bytes the data does not hold stay zero.
void CopyRows(const BYTE* rows, std::uint64_t available, const DibLayout& layout, BYTE* block) {
    for (std::uint64_t y = 0; y < layout.height; ++y) {
        std::uint64_t start = y * layout.sourcePitch;
        if (start >= available) break;
        std::uint64_t bytes = std::min(layout.sourceRowBytes, available - start);
        std::uint64_t row = layout.topDown ? y : layout.height - 1 - y;
        std::memcpy(block + row * layout.rowPitch, rows + start, static_cast<std::size_t>(bytes));
    }
}

// True when some 32-bit pixel has a nonzero fourth byte.
bool AnyFourthByteSet(const BYTE* rows, const DibLayout& layout) {
    for (std::uint64_t y = 0; y < layout.height; ++y) {
        const BYTE* source = rows + y * layout.sourcePitch;
        for (std::uint64_t x = 0; x < layout.width; ++x) {
            if (source[x * 4 + 3] != 0) return true;
        }
    }
    return false;
}

// Reads the header, the colour-table size and the format. Fails for anything the readers cannot take.
HRESULT ReadDibHeader(const BYTE* data, UINT size, DibLayout* layout, D3DFORMAT* format, std::uint64_t* tableEntries,
                      UINT* entrySize) {
    if (size < 4) return E_FAIL;
    UINT headerSize = LoadU32(data);
    if (headerSize > size) return E_FAIL;
    layout->headerSize = headerSize;

    std::int64_t width = 0;
    std::int64_t height = 0;
    UINT planes = 0;
    UINT colorsUsed = 0;
    if (headerSize == kCoreHeaderSize) {
        width = LoadS16(data + 4);
        height = LoadS16(data + 6);
        planes = LoadU16(data + 8);
        layout->bitCount = LoadU16(data + 10);
        layout->compression = kCompressionNone;
        *entrySize = 3;
    } else if (headerSize < kInfoHeaderSize) {
        return E_FAIL;
    } else {
        width = LoadS32(data + 4);
        height = LoadS32(data + 8);
        planes = LoadU16(data + 12);
        layout->bitCount = LoadU16(data + 14);
        layout->compression = LoadU32(data + 16);
        colorsUsed = LoadU32(data + 32);
        *entrySize = 4;
    }
    layout->topDown = height < 0;
    if (height < 0) height = -height;
    // An image without pixels, or with a negative width, is damaged.
    if (width <= 0 || height == 0) return E_FAIL;
    layout->width = static_cast<UINT>(width);
    layout->height = static_cast<UINT>(height);

    UINT bits = layout->bitCount;
    *tableEntries = (colorsUsed == 0 && bits <= 8) ? (std::uint64_t{1} << bits) : colorsUsed;
    layout->pixelOffset = headerSize + *tableEntries * *entrySize;
    if (layout->pixelOffset > size || planes != 1) return E_FAIL;

    switch (layout->compression) {
        case kCompressionNone:
        case kCompressionRle8:
        case kCompressionRle4: {
            // Run-length data is defined for its own bit count only.
            if (layout->compression == kCompressionRle8 && bits != 8) return E_FAIL;
            if (layout->compression == kCompressionRle4 && bits != 4) return E_FAIL;
            const BitCountFormat* found = nullptr;
            for (const BitCountFormat& row : kPlainFormats) {
                if (row.bits == bits) found = &row;
            }
            if (found == nullptr) return E_FAIL;
            *format = found->format;
            break;
        }
        case kCompressionBitFields: {
            if (headerSize < kMaskHeaderSize) return E_FAIL;
            if (bits != 16 && bits != 24 && bits != 32) return E_FAIL;
            for (int c = 0; c < 3; ++c) layout->masks[c] = LoadU32(data + 40 + 4 * c);
            layout->masks[3] = headerSize >= kAlphaMaskHeaderSize ? LoadU32(data + 52) : 0;
            layout->genericMasks = true;
            *format = D3DFMT_A32B32G32R32F;
            for (const MaskFormat& row : kMaskFormats) {
                if (row.bits == bits && row.red == layout->masks[0] && row.green == layout->masks[1] &&
                    row.blue == layout->masks[2] && row.alpha == layout->masks[3]) {
                    *format = row.format;
                    layout->rowShift = row.rowShift;
                    layout->genericMasks = false;
                    break;
                }
            }
            break;
        }
        default:
            return E_FAIL;
    }

    std::uint64_t w = layout->width;
    layout->sourceRowBytes = bits == 1 ? (w + 7) / 8 : bits == 4 ? (w + 1) / 2 : w * bits / 8;
    layout->sourcePitch = AlignTo4(layout->sourceRowBytes);
    std::uint64_t decodedRowBytes = bits <= 4 ? w : layout->genericMasks ? w * 16 : layout->sourceRowBytes;
    layout->rowPitch = AlignTo4(decodedRowBytes);
    if (layout->rowPitch > 0xFFFFFFFFu) return E_OUTOFMEMORY;

    if (layout->compression == kCompressionNone || layout->compression == kCompressionBitFields) {
        std::uint64_t needed = (layout->height - std::uint64_t{1}) * layout->sourcePitch + layout->sourceRowBytes;
        if (needed > size - layout->pixelOffset) return E_FAIL;
    }
    return S_OK;
}

}  // namespace

HRESULT ReadDib(SourceImage* image, const BYTE* data, UINT size) {
    DibLayout layout;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    std::uint64_t tableEntries = 0;
    UINT entrySize = 0;
    HRESULT hr = ReadDibHeader(data, size, &layout, &format, &tableEntries, &entrySize);
    if (FAILED(hr)) return hr;

    const BYTE* rows = data + layout.pixelOffset;
    std::uint64_t rowBytesAvailable = size - layout.pixelOffset;
    if (layout.compression == kCompressionNone && layout.bitCount == 32 && AnyFourthByteSet(rows, layout)) {
        format = D3DFMT_A8R8G8B8;
    }

    image->format = format;
    image->width = layout.width;
    image->height = layout.height;
    image->depth = 1;
    image->rowPitch = static_cast<UINT>(layout.rowPitch);
    image->slicePitch = 0;
    if (!image->decode) return S_OK;

    if (format == D3DFMT_P8) {
        std::unique_ptr<PALETTEENTRY[]> palette = NewWhitePalette();
        if (palette == nullptr) return E_OUTOFMEMORY;
        std::uint64_t defined = std::min<std::uint64_t>(tableEntries, 256);
        const BYTE* table = data + layout.headerSize;
        for (std::uint64_t i = 0; i < defined; ++i) {
            const BYTE* entry = table + i * entrySize;
            palette[i] = PALETTEENTRY{entry[2], entry[1], entry[0], 0xFF};
        }
        image->AdoptPalette(std::move(palette));
    }

    const bool rawRows = layout.compression == kCompressionNone || layout.compression == kCompressionBitFields;
    rows += layout.rowShift;
    rowBytesAvailable -= std::min<std::uint64_t>(layout.rowShift, rowBytesAvailable);
    // The shifted layout is used in place only when the data also holds the last pixel's final byte;
    // otherwise its rows are copied and that byte stays zero.
    std::uint64_t extent = (layout.height - std::uint64_t{1}) * layout.sourcePitch + layout.sourceRowBytes;
    if (rawRows && layout.topDown && layout.bitCount >= 8 && !layout.genericMasks && extent <= rowBytesAvailable) {
        image->pixels = rows;
        return S_OK;
    }

    BYTE* block = nullptr;
    hr = AllocatePixels(image, layout.rowPitch, layout.height, &block);
    if (FAILED(hr)) return hr;
    if (layout.compression == kCompressionRle8 || layout.compression == kCompressionRle4) {
        if (!DecodeRle(rows, rowBytesAvailable, layout.compression == kCompressionRle4, block, layout)) return E_FAIL;
    } else if (layout.bitCount < 8) {
        UnpackIndexRows(rows, layout, block);
    } else if (layout.genericMasks) {
        DecodeMaskedRows(rows, layout, block);
    } else {
        CopyRows(rows, rowBytesAvailable, layout, block);
    }
    return S_OK;
}

HRESULT ReadBmp(SourceImage* image, const BYTE* data, UINT size) {
    constexpr UINT kFileHeaderSize = 14;
    if (size < kFileHeaderSize || LoadU16(data) != 0x4D42 || LoadU32(data + 2) > size) return E_FAIL;
    return ReadDib(image, data + kFileHeaderSize, size - kFileHeaderSize);
}

}  // namespace qm
