// formats.h: the one table that drives every pixel format of the software device: block size and
// bytes, decoding to RGBA floats, and what the device can do with the format (sample, render, depth).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/d3d9/d3d9types.h"
#include "platform/win/win_types.h"

namespace qm::d3d9 {

// What the device does with a format.
enum FormatUse : std::uint32_t {
    kFormatSample = 1u << 0,        // textures of this format can be created and sampled
    kFormatRenderTarget = 1u << 1,  // the pipeline can draw into it
    kFormatDepthStencil = 1u << 2,  // a depth (and stencil) buffer format
    kFormatLockable = 1u << 3,      // surfaces of this format can be locked
    kFormatSigned = 1u << 4,        // channels decode to [-1, 1]
    kFormatWide = 1u << 5,          // more than 8 bits in some channel, or floating point
    kFormatPalette = 1u << 6,       // indices into a palette
};

// Decodes `count` pixels (or, for block formats, one block row of `count` blocks into 4 pixel rows
// of count * 4 pixels, row r at out + r * outStride floats) into red, green, blue, alpha floats.
using DecodeRowFn = void (*)(const std::byte* src, std::size_t count, float* out, std::size_t outStride);

struct FormatInfo {
    D3DFORMAT format;
    std::uint8_t blockWidth;   // 1, 2 for the two-pixel formats, 4 for DXT
    std::uint8_t blockHeight;  // 1 or 4
    std::uint8_t blockBytes;   // bytes per pixel, or per block
    std::uint32_t use;         // FormatUse bits
    DecodeRowFn decode;        // null when the device cannot read the format's values
};

// The row of `format`, or null for a format the device does not know.
const FormatInfo* FindFormat(D3DFORMAT format);

// Bytes from one row of blocks to the next for a surface `width` pixels wide (4-byte aligned).
std::size_t RowPitch(const FormatInfo& info, std::uint32_t width);
// Rows of blocks of a surface `height` pixels high.
std::uint32_t BlockRows(const FormatInfo& info, std::uint32_t height);

// True when `rect` is a non-empty rectangle inside a width x height surface whose edges fall on block
// boundaries (or on the surface's own right and bottom edges), as locks and copies of the format need.
bool ValidBlockRect(const FormatInfo& info, std::uint32_t width, std::uint32_t height, const RECT& rect);

// Decodes the whole width x height image at `src` (rows of blocks `pitch` bytes apart) into
// width * height RGBA floats, top row first. The format must have a decoder.
void DecodeImage(const FormatInfo& info, const std::byte* src, std::size_t pitch, std::uint32_t width,
                 std::uint32_t height, float* rgba);

// Encodes RGBA floats into a 32-bit A8R8G8B8 word with rounding and clamping.
std::uint32_t EncodeArgb8(const float rgba[4]);

// Half-precision float to single precision.
float HalfToFloat(std::uint16_t half);

}  // namespace qm::d3d9
