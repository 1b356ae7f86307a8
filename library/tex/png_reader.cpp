// png_reader.cpp: the PNG reader, driving libpng over the file in memory with error handlers that jump
// back to the reader; chooses the transformations that give a Direct3D layout (or a private 16-bit one).
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include <png.h>

#include "library/tex/image_readers.h"
#include "library/tex/reader_support.h"
#include "platform/win/results.h"

namespace qm {

namespace {

constexpr double kScreenGamma = 2.2;

struct PngMemorySource {
    const BYTE* data;
    std::size_t size;
    std::size_t position;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t length) {
    auto* source = static_cast<PngMemorySource*>(png_get_io_ptr(png));
    if (length > source->size - source->position) png_error(png, "read error");
    std::memcpy(out, source->data + source->position, length);
    source->position += length;
}

void ErrorExit(png_structp png, png_const_charp) { png_longjmp(png, 1); }

void IgnoreWarning(png_structp, png_const_charp) {}

// The read and info structures and the row pointers; destroyed and freed on every path.
struct PngDecoder {
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngMemorySource source{};
    std::vector<png_bytep> rows;
    // The file's palette and transparency, copied before libpng applies any transformation to them.
    png_color palette[256]{};
    int paletteCount = 0;
    png_byte paletteAlpha[256]{};
    int alphaCount = 0;
    double fileGamma = 0.0;
    double screenGamma = 0.0;

    ~PngDecoder() { png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr); }
};

// Channels each format's rows must have after the transformations.
struct FormatChannels {
    D3DFORMAT format;
    int channels;
};
constexpr FormatChannels kFormatChannels[] = {
    {D3DFMT_L8, 1},       {D3DFMT_P8, 1},       {D3DFMT_L16, 1},           {D3DFMT_A8L8, 2},
    {kFormatAL16, 2},     {kFormatR16, 3},      {D3DFMT_A8R8G8B8, 4},      {D3DFMT_X8R8G8B8, 4},
    {D3DFMT_A16B16G16R16, 4},
};

int ChannelsOf(D3DFORMAT format) {
    for (const FormatChannels& row : kFormatChannels) {
        if (row.format == format) return row.channels;
    }
    return 0;
}

// Formats by colour type, and what 16-bit samples and a transparency chunk turn them into.
struct FormatChange {
    D3DFORMAT from;
    D3DFORMAT to;
};
constexpr FormatChange kSixteenBit[] = {
    {D3DFMT_R8G8B8, kFormatR16},
    {D3DFMT_A8R8G8B8, D3DFMT_A16B16G16R16},
    {D3DFMT_L8, D3DFMT_L16},
    {D3DFMT_A8L8, kFormatAL16},
};
constexpr FormatChange kWithTransparency[] = {
    {D3DFMT_R8G8B8, D3DFMT_A8R8G8B8},
    {D3DFMT_L8, D3DFMT_A8L8},
    {D3DFMT_L16, kFormatAL16},
    {kFormatR16, D3DFMT_A16B16G16R16},
};

template <std::size_t N>
D3DFORMAT Changed(const FormatChange (&table)[N], D3DFORMAT format) {
    for (const FormatChange& row : table) {
        if (row.from == format) return row.to;
    }
    return format;
}

D3DFORMAT FormatOfColorType(int colorType) {
    switch (colorType) {
        case PNG_COLOR_TYPE_GRAY:
            return D3DFMT_L8;
        case PNG_COLOR_TYPE_RGB:
            return D3DFMT_R8G8B8;
        case PNG_COLOR_TYPE_PALETTE:
            return D3DFMT_P8;
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            return D3DFMT_A8L8;
        case PNG_COLOR_TYPE_RGB_ALPHA:
            return D3DFMT_A8R8G8B8;
        default:
            return D3DFMT_UNKNOWN;
    }
}

// The 256-entry palette: the file's colours through the gamma correction table, its transparency as
// alpha (255 past the transparency entries), opaque white past the file's colours.
std::unique_ptr<PALETTEENTRY[]> BuildPalette(const PngDecoder& decoder) {
    std::unique_ptr<PALETTEENTRY[]> entries = NewWhitePalette();
    if (entries == nullptr) return nullptr;
    BYTE corrected[256];
    double product = decoder.fileGamma * decoder.screenGamma;
    for (int v = 0; v < 256; ++v) {
        if (decoder.fileGamma <= 0.000001 || decoder.screenGamma <= 0.000001) {
            corrected[v] = static_cast<BYTE>(v);
        } else {
            corrected[v] = static_cast<BYTE>(std::floor(std::pow(v / 255.0, 1.0 / product) * 255.0 + 0.5));
        }
    }
    for (int i = 0; i < decoder.paletteCount; ++i) {
        const png_color& color = decoder.palette[i];
        BYTE alpha = i < decoder.alphaCount ? decoder.paletteAlpha[i] : 0xFF;
        entries[i] = PALETTEENTRY{corrected[color.red], corrected[color.green], corrected[color.blue], alpha};
    }
    return entries;
}

// Everything that may raise a libpng error. Holds no objects with destructors, so the jump back from
// the error handler skips nothing that needs cleaning up: the decoder and the record own everything.
HRESULT Decode(PngDecoder* decoder, SourceImage* image) {
    if (setjmp(png_jmpbuf(decoder->png)) != 0) return E_FAIL;
    png_structp png = decoder->png;
    png_infop info = decoder->info;
    png_set_read_fn(png, &decoder->source, ReadFromMemory);
    png_read_info(png, info);

    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colorType = 0;
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colorType, nullptr, nullptr, nullptr);
    D3DFORMAT format = FormatOfColorType(colorType);
    if (format == D3DFMT_UNKNOWN) return E_FAIL;

    if (bitDepth == 16) {
        if (format == D3DFMT_P8) return E_FAIL;
        png_set_swap(png);
        format = Changed(kSixteenBit, format);
    }
    if (bitDepth < 8) {
        png_set_packing(png);
        if (format == D3DFMT_L8) png_set_expand_gray_1_2_4_to_8(png);
    }

    if (png_get_valid(png, info, PNG_INFO_sRGB) != 0) {
        int intent = 0;
        png_get_sRGB(png, info, &intent);
        png_set_sRGB(png, info, intent);
    } else if (png_get_valid(png, info, PNG_INFO_gAMA) != 0) {
        double fileGamma = 0.0;
        png_get_gAMA(png, info, &fileGamma);
        png_set_gamma(png, kScreenGamma, fileGamma);
        decoder->fileGamma = fileGamma;
        decoder->screenGamma = kScreenGamma;
    }

    const bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (format == D3DFMT_P8) {
        png_colorp colors = nullptr;
        int count = 0;
        if (png_get_PLTE(png, info, &colors, &count) != 0 && colors != nullptr) {
            decoder->paletteCount = count < 256 ? count : 256;
            std::memcpy(decoder->palette, colors, sizeof(png_color) * static_cast<std::size_t>(decoder->paletteCount));
        }
        png_bytep alphas = nullptr;
        int alphaCount = 0;
        if (transparency && png_get_tRNS(png, info, &alphas, &alphaCount, nullptr) != 0 && alphas != nullptr) {
            decoder->alphaCount = alphaCount < 256 ? alphaCount : 256;
            std::memcpy(decoder->paletteAlpha, alphas, static_cast<std::size_t>(decoder->alphaCount));
        }
    } else if (transparency) {
        png_set_tRNS_to_alpha(png);
        format = Changed(kWithTransparency, format);
    }

    if (format == D3DFMT_R8G8B8 || format == kFormatR16 || format == D3DFMT_A8R8G8B8) png_set_bgr(png);
    if (format == D3DFMT_R8G8B8) {
        png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
        format = D3DFMT_X8R8G8B8;
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_channels(png, info) != ChannelsOf(format)) return E_FAIL;

    const std::uint64_t rowPitch = png_get_rowbytes(png, info);
    if (rowPitch > 0xFFFFFFFFu) return E_OUTOFMEMORY;
    image->format = format;
    image->width = width;
    image->height = height;
    image->depth = 1;
    image->rowPitch = static_cast<UINT>(rowPitch);
    image->slicePitch = 0;
    if (!image->decode) return S_OK;

    BYTE* block = nullptr;
    // png_read_image writes every byte of every row.
    HRESULT hr = AllocateWrittenPixels(image, rowPitch, height, &block);
    if (FAILED(hr)) return hr;
    try {
        decoder->rows.resize(height);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    for (png_uint_32 y = 0; y < height; ++y) decoder->rows[y] = block + y * rowPitch;
    png_read_image(png, decoder->rows.data());

    if (format == D3DFMT_P8) {
        std::unique_ptr<PALETTEENTRY[]> palette = BuildPalette(*decoder);
        if (palette == nullptr) return E_OUTOFMEMORY;
        image->AdoptPalette(std::move(palette));
    }
    return S_OK;
}

}  // namespace

HRESULT ReadPng(SourceImage* image, const BYTE* data, UINT size) {
    constexpr std::size_t kSignatureBytes = 8;
    std::size_t checked = size < kSignatureBytes ? size : kSignatureBytes;
    if (data == nullptr || size == 0 || png_sig_cmp(data, 0, checked) != 0) return E_FAIL;

    PngDecoder decoder;
    decoder.source = PngMemorySource{data, size, 0};
    decoder.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, ErrorExit, IgnoreWarning);
    if (decoder.png == nullptr) return E_OUTOFMEMORY;
    decoder.info = png_create_info_struct(decoder.png);
    if (decoder.info == nullptr) return E_OUTOFMEMORY;
    return Decode(&decoder, image);
}

}  // namespace qm
