// image_reader_fuzz.cpp: libFuzzer target: ParseImageFile with decoding over arbitrary bytes, then a
// read of every row each record claims, so that a record larger than its pixels is reported.
#include <cstddef>
#include <cstdint>

#include "library/tex/format_table.h"
#include "library/tex/parse_image_file.h"
#include "library/tex/source_image.h"
#include "platform/win/results.h"

namespace {

// Decoding is skipped for images above this many pixels: run-length and JPEG files may legitimately
// describe huge images in a few bytes, and the fuzzer's memory limit would report them.
constexpr std::uint64_t kMaxDecodedPixels = std::uint64_t{1} << 22;

std::uint64_t RowBytes(const qm::SourceImage& image) {
    const std::uint64_t w = image.width;
    switch (image.format) {
        case D3DFMT_DXT1:
            return (w + 3) / 4 * 8;
        case D3DFMT_DXT2:
        case D3DFMT_DXT3:
        case D3DFMT_DXT4:
        case D3DFMT_DXT5:
            return (w + 3) / 4 * 16;
        case D3DFMT_YUY2:
        case D3DFMT_UYVY:
        case D3DFMT_R8G8_B8G8:
        case D3DFMT_G8R8_G8B8:
            return (w + 1) / 2 * 4;
        default:
            return qm::FindFormatDescriptor(image.format).bitsPerPixel / 8 * w;
    }
}

std::uint64_t RowCount(const qm::SourceImage& image) {
    switch (image.format) {
        case D3DFMT_DXT1:
        case D3DFMT_DXT2:
        case D3DFMT_DXT3:
        case D3DFMT_DXT4:
        case D3DFMT_DXT5:
            return (std::uint64_t{image.height} + 3) / 4;
        default:
            return image.height;
    }
}

// Touches every byte a record claims; ASan reports any that lie outside their block.
unsigned TouchRecord(const qm::SourceImage& image) {
    unsigned sum = 0;
    for (std::uint64_t z = 0; z < image.depth; ++z) {
        for (std::uint64_t y = 0; y < RowCount(image); ++y) {
            const BYTE* row = image.pixels + z * image.slicePitch + y * image.rowPitch;
            for (std::uint64_t x = 0; x < RowBytes(image); ++x) sum += row[x];
        }
    }
    if (image.palette != nullptr) {
        for (int i = 0; i < 256; ++i) sum += image.palette[i].peRed + image.palette[i].peFlags;
    }
    return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > 0xFFFFFFFFu) return 0;
    const UINT length = static_cast<UINT>(size);
    qm::SourceImage image;
    qm::ImageInfo info;
    if (qm::ParseImageFile(&image, data, length, &info, false) != S_OK) return 0;
    if (std::uint64_t{info.width} * info.height * info.depth > kMaxDecodedPixels) return 0;
    if (qm::ParseImageFile(&image, data, length, &info, true) != S_OK) return 0;
    volatile unsigned sink = 0;
    for (const qm::SourceImage* face = &image; face != nullptr; face = face->nextFace.get()) {
        for (const qm::SourceImage* level = face; level != nullptr; level = level->nextMip.get()) {
            sink = sink + TouchRecord(*level);
        }
    }
    return 0;
}
