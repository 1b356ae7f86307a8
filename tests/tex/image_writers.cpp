// image_writers.cpp: the test file writers; PNG and JPEG through the libraries' write interfaces.
#include "tests/tex/image_writers.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

namespace qm::test {

void PutU16(Bytes& out, std::size_t offset, std::uint32_t value) {
    out[offset] = static_cast<std::uint8_t>(value);
    out[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void PutU32(Bytes& out, std::size_t offset, std::uint32_t value) {
    PutU16(out, offset, value & 0xFFFF);
    PutU16(out, offset + 2, value >> 16);
}

void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

Bytes WriteDib(const BmpFile& layout) {
    Bytes out(layout.headerSize, 0);
    PutU32(out, 0, layout.headerSize);
    if (layout.headerSize == 12) {
        PutU16(out, 4, static_cast<std::uint16_t>(layout.width));
        PutU16(out, 6, static_cast<std::uint16_t>(layout.height));
        PutU16(out, 8, layout.planes);
        PutU16(out, 10, layout.bits);
    } else if (layout.headerSize >= 40) {
        PutU32(out, 4, static_cast<std::uint32_t>(layout.width));
        PutU32(out, 8, static_cast<std::uint32_t>(layout.height));
        PutU16(out, 12, layout.planes);
        PutU16(out, 14, layout.bits);
        PutU32(out, 16, layout.compression);
        PutU32(out, 32, layout.colorsUsed);
        for (std::uint32_t i = 0; i < 4 && 40 + 4 * i + 4 <= layout.headerSize; ++i) PutU32(out, 40 + 4 * i, layout.masks[i]);
    }
    Append(out, layout.table);
    Append(out, layout.rows);
    return out;
}

Bytes WriteBmp(const BmpFile& layout) {
    Bytes dib = WriteDib(layout);
    Bytes out(14, 0);
    out[0] = 'B';
    out[1] = 'M';
    PutU32(out, 2, static_cast<std::uint32_t>(14 + dib.size()));
    PutU32(out, 10, static_cast<std::uint32_t>(14 + layout.headerSize + layout.table.size()));
    Append(out, dib);
    return out;
}

Bytes WriteTga(const TgaFile& layout) {
    Bytes out(18, 0);
    out[0] = static_cast<std::uint8_t>(layout.id.size());
    out[1] = layout.mapType;
    out[2] = layout.imageType;
    PutU16(out, 3, layout.mapFirst);
    PutU16(out, 5, layout.mapLength);
    out[7] = layout.mapBits;
    PutU16(out, 12, layout.width);
    PutU16(out, 14, layout.height);
    out[16] = layout.pixelBits;
    out[17] = layout.descriptor;
    Append(out, layout.id);
    Append(out, layout.map);
    Append(out, layout.pixels);
    return out;
}

Bytes WriteDds(const DdsFile& layout) {
    Bytes out(128, 0);
    PutU32(out, 0, 0x20534444);
    PutU32(out, 4, 124);
    PutU32(out, 8, layout.flags);
    PutU32(out, 12, layout.height);
    PutU32(out, 16, layout.width);
    PutU32(out, 24, layout.depth);
    PutU32(out, 28, layout.mipCount);
    PutU32(out, 76, layout.pixelFormatSize);
    PutU32(out, 80, layout.pixelFlags);
    PutU32(out, 84, layout.fourCc);
    PutU32(out, 88, layout.bits);
    for (int i = 0; i < 4; ++i) PutU32(out, 92 + 4 * i, layout.masks[i]);
    PutU32(out, 108, 0x1000);
    PutU32(out, 112, layout.caps2);
    Append(out, layout.payload);
    return out;
}

Bytes FromText(const std::string& text) { return Bytes(text.begin(), text.end()); }

namespace {

void PngWriteToVector(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void PngFlush(png_structp) {}

}  // namespace

Bytes WritePng(const PngFile& layout) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("libpng could not write the test image");
    }
    png_set_write_fn(png, &out, PngWriteToVector, PngFlush);
    png_set_IHDR(png, info, layout.width, layout.height, layout.bitDepth, layout.colorType,
                 layout.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette;
    for (std::size_t i = 0; i + 2 < layout.palette.size(); i += 3) {
        palette.push_back(png_color{layout.palette[i], layout.palette[i + 1], layout.palette[i + 2]});
    }
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    png_color_16 transparent{};
    if (!layout.paletteAlpha.empty()) {
        png_set_tRNS(png, info, layout.paletteAlpha.data(), static_cast<int>(layout.paletteAlpha.size()), nullptr);
    } else if (layout.transparentGray >= 0) {
        transparent.gray = static_cast<png_uint_16>(layout.transparentGray);
        png_set_tRNS(png, info, nullptr, 0, &transparent);
    } else if (layout.transparentRgb[0] >= 0) {
        transparent.red = static_cast<png_uint_16>(layout.transparentRgb[0]);
        transparent.green = static_cast<png_uint_16>(layout.transparentRgb[1]);
        transparent.blue = static_cast<png_uint_16>(layout.transparentRgb[2]);
        png_set_tRNS(png, info, nullptr, 0, &transparent);
    }
    if (layout.gamma > 0.0) png_set_gAMA(png, info, layout.gamma);
    png_write_info(png, info);
    std::size_t rowBytes = layout.rows.size() / layout.height;
    std::vector<png_bytep> rows(layout.height);
    Bytes copy = layout.rows;
    for (std::uint32_t y = 0; y < layout.height; ++y) rows[y] = copy.data() + y * rowBytes;
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (layout.srgbIntent >= 0) {
        // Written by hand after the header chunk, so that it may disagree with a gAMA chunk (libpng
        // refuses to write such a pair).
        Bytes chunk = {0, 0, 0, 1, 's', 'R', 'G', 'B', static_cast<std::uint8_t>(layout.srgbIntent), 0, 0, 0, 0};
        uLong crc = crc32(0L, chunk.data() + 4, 5);
        for (int i = 0; i < 4; ++i) chunk[9 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
        constexpr std::size_t kAfterHeader = 8 + 25;
        out.insert(out.begin() + kAfterHeader, chunk.begin(), chunk.end());
    }
    return out;
}

Bytes WriteJpeg(std::uint32_t width, std::uint32_t height, int components, const Bytes& samples, int quality) {
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = width;
    info.image_height = height;
    info.input_components = components;
    info.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    Bytes copy = samples;
    while (info.next_scanline < height) {
        JSAMPROW row = copy.data() + static_cast<std::size_t>(info.next_scanline) * width * components;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    Bytes out(buffer, buffer + size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return out;
}

namespace {

struct DecodeErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void DecodeErrorExit(j_common_ptr info) { std::longjmp(reinterpret_cast<DecodeErrors*>(info->err)->jump, 1); }

}  // namespace

Bytes DecodeJpegRgb(const Bytes& file) {
    Bytes samples;
    jpeg_decompress_struct info{};
    DecodeErrors errors{};
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = DecodeErrorExit;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return {};
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    samples.resize(std::size_t{info.output_width} * info.output_height * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = samples.data() + std::size_t{info.output_scanline} * info.output_width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return samples;
}

}  // namespace qm::test
