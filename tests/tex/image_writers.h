// image_writers.h: small writers of BMP, DIB, TGA, DDS, PPM, PNG and JPEG files for the reader tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qm::test {

using Bytes = std::vector<std::uint8_t>;

void PutU16(Bytes& out, std::size_t offset, std::uint32_t value);
void PutU32(Bytes& out, std::size_t offset, std::uint32_t value);
void Append(Bytes& out, const Bytes& more);

// A bitmap: header (12 = core, 40 or more = info), colour table, then the rows exactly as given.
struct BmpFile {
    std::uint32_t headerSize = 40;
    std::int32_t width = 1;
    std::int32_t height = 1;
    std::uint16_t planes = 1;
    std::uint16_t bits = 24;
    std::uint32_t compression = 0;
    std::uint32_t colorsUsed = 0;
    std::uint32_t masks[4] = {};  // red, green, blue, alpha; written when the header has room
    Bytes table;                  // colour-table bytes as stored (blue, green, red[, reserved])
    Bytes rows;                   // pixel bytes as stored, padding included
};
Bytes WriteDib(const BmpFile& layout);
Bytes WriteBmp(const BmpFile& layout);  // with the 14-byte file header

struct TgaFile {
    std::uint8_t mapType = 0;
    std::uint8_t imageType = 2;
    std::uint16_t mapFirst = 0;
    std::uint16_t mapLength = 0;
    std::uint8_t mapBits = 0;
    std::uint16_t width = 1;
    std::uint16_t height = 1;
    std::uint8_t pixelBits = 24;
    std::uint8_t descriptor = 0x20;  // top-left origin
    Bytes id;
    Bytes map;
    Bytes pixels;  // as stored (raw or run-length packets)
};
Bytes WriteTga(const TgaFile& layout);

// A DDS header (128 bytes) followed by the payload.
struct DdsFile {
    std::uint32_t flags = 0x1007;
    std::uint32_t height = 1;
    std::uint32_t width = 1;
    std::uint32_t depth = 0;
    std::uint32_t mipCount = 0;
    std::uint32_t pixelFormatSize = 32;
    std::uint32_t pixelFlags = 0x41;
    std::uint32_t fourCc = 0;
    std::uint32_t bits = 32;
    std::uint32_t masks[4] = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
    std::uint32_t caps2 = 0;
    Bytes payload;
};
Bytes WriteDds(const DdsFile& layout);

Bytes FromText(const std::string& text);

// PNG through libpng. Rows are the PNG's own sample bytes (16-bit samples big-endian).
struct PngFile {
    std::uint32_t width = 1;
    std::uint32_t height = 1;
    int bitDepth = 8;
    int colorType = 2;
    bool interlaced = false;
    Bytes rows;                       // height rows of packed samples, no filter bytes
    Bytes palette;                    // red, green, blue triples
    Bytes paletteAlpha;               // tRNS for palette images
    int transparentGray = -1;         // tRNS for grey images
    int transparentRgb[3] = {-1, -1, -1};  // tRNS for RGB images
    double gamma = 0.0;               // gAMA when above 0
    int srgbIntent = -1;              // sRGB when 0..3, placed right after the header chunk
};
Bytes WritePng(const PngFile& layout);

// JPEG through libjpeg: components 1 (grey), 3 (RGB) or 4 (CMYK), samples row by row.
Bytes WriteJpeg(std::uint32_t width, std::uint32_t height, int components, const Bytes& samples, int quality);

// A JPEG decoded by plain libjpeg calls into 8-bit RGB samples, row by row (empty on error): the
// pixels a reader is expected to produce.
Bytes DecodeJpegRgb(const Bytes& file);

}  // namespace qm::test
