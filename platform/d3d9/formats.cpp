// formats.cpp: the device's pixel-format table and the texel decoders behind it: packed integer
// layouts, half and single floats, the two-pixel YUV and RGBG layouts (ITU-R BT.601 studio range),
// and the S3TC (DXT1-DXT5) block formats.
#include "platform/d3d9/formats.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

namespace qm::d3d9 {
namespace {

// ---- Packed integer pixels ----

// Where a channel sits in a pixel of up to 64 bits: shift and width; width 0 means absent.
// kind: how the four channels become red, green, blue, alpha.
enum class PackedKind : std::uint8_t { kColour, kLuminance, kAlphaOnly };

struct PackedLayout {
    std::uint8_t bytes;
    std::uint8_t shift[4];  // red, green, blue, alpha
    std::uint8_t bits[4];
    std::uint8_t signedMask;  // bit i: channel i is signed
    PackedKind kind;
    float missing;  // value of an absent red, green or blue channel (alpha always reads 1)
};

std::uint64_t LoadLittle(const std::byte* p, unsigned bytes) {
    std::uint64_t v = 0;
    for (unsigned i = 0; i < bytes; ++i) v |= static_cast<std::uint64_t>(p[i]) << (8 * i);
    return v;
}

float Channel(std::uint64_t pixel, unsigned shift, unsigned bits, bool isSigned) {
    std::uint64_t code = (pixel >> shift) & ((std::uint64_t{1} << bits) - 1);
    if (!isSigned) return static_cast<float>(code) / static_cast<float>((std::uint64_t{1} << bits) - 1);
    std::int64_t value = static_cast<std::int64_t>(code);
    if (code >> (bits - 1)) value -= std::int64_t{1} << bits;
    float scale = static_cast<float>((std::int64_t{1} << (bits - 1)) - 1);
    // The most negative code reads as the next one up, so that decoding is symmetric.
    return std::max(static_cast<float>(value) / scale, -1.0f);
}

template <PackedLayout L>
void DecodePacked(const std::byte* src, std::size_t count, float* out, std::size_t) {
    for (std::size_t i = 0; i < count; ++i, src += L.bytes, out += 4) {
        std::uint64_t pixel = LoadLittle(src, L.bytes);
        float v[4];
        for (int c = 0; c < 4; ++c) {
            v[c] = L.bits[c] != 0 ? Channel(pixel, L.shift[c], L.bits[c], (L.signedMask >> c) & 1)
                                  : (c == 3 ? 1.0f : L.missing);
        }
        if constexpr (L.kind == PackedKind::kLuminance) v[1] = v[2] = v[0];
        if constexpr (L.kind == PackedKind::kAlphaOnly) v[0] = v[1] = v[2] = 0.0f;
        std::memcpy(out, v, sizeof v);
    }
}

// Layout helpers: channel order red, green, blue, alpha.
constexpr PackedLayout Rgba(std::uint8_t bytes, std::uint8_t rs, std::uint8_t rb, std::uint8_t gs, std::uint8_t gb,
                            std::uint8_t bs, std::uint8_t bb, std::uint8_t as, std::uint8_t ab, float missing = 0.0f,
                            std::uint8_t signedMask = 0) {
    return PackedLayout{bytes, {rs, gs, bs, as}, {rb, gb, bb, ab}, signedMask, PackedKind::kColour, missing};
}
constexpr PackedLayout Lum(std::uint8_t bytes, std::uint8_t lb, std::uint8_t as, std::uint8_t ab) {
    return PackedLayout{bytes, {0, 0, 0, as}, {lb, 0, 0, ab}, 0, PackedKind::kLuminance, 0.0f};
}

// ---- Floating point pixels ----

template <int N, bool Half>
void DecodeFloat(const std::byte* src, std::size_t count, float* out, std::size_t) {
    constexpr int kBytes = Half ? 2 : 4;
    for (std::size_t i = 0; i < count; ++i, out += 4) {
        float v[4] = {1.0f, 1.0f, 1.0f, 1.0f};
        for (int c = 0; c < N; ++c, src += kBytes) {
            if constexpr (Half) {
                v[c] = HalfToFloat(static_cast<std::uint16_t>(LoadLittle(src, 2)));
            } else {
                std::memcpy(&v[c], src, 4);
            }
        }
        std::memcpy(out, v, sizeof v);
    }
}

// CxV8U8: U and V signed, the third channel recomputed as sqrt(1 - U^2 - V^2).
void DecodeCxV8U8(const std::byte* src, std::size_t count, float* out, std::size_t) {
    for (std::size_t i = 0; i < count; ++i, src += 2, out += 4) {
        std::uint64_t pixel = LoadLittle(src, 2);
        float u = Channel(pixel, 0, 8, true);
        float v = Channel(pixel, 8, 8, true);
        out[0] = u;
        out[1] = v;
        out[2] = std::sqrt(std::max(0.0f, 1.0f - u * u - v * v));
        out[3] = 1.0f;
    }
}

// ---- Two-pixel formats ----

float Clamp01(float v) { return std::min(std::max(v, 0.0f), 1.0f); }

// BT.601 studio range: Y 16-235, Cb and Cr 16-240 around 128.
void YuvToRgb(int y, int cb, int cr, float* out) {
    float luma = static_cast<float>(y - 16) * 0.00456621f;
    float u = static_cast<float>(cb - 128);
    float v = static_cast<float>(cr - 128);
    out[0] = Clamp01(luma + 0.00625893f * v);
    out[1] = Clamp01(luma - 0.00153632f * u - 0.00318811f * v);
    out[2] = Clamp01(luma + 0.00791071f * u);
    out[3] = 1.0f;
}

// Byte positions inside a two-pixel block of: first luma, second luma, Cb, Cr.
template <int Y0, int Y1, int U, int V>
void DecodeYuv(const std::byte* src, std::size_t count, float* out, std::size_t) {
    for (std::size_t i = 0; i < count; ++i, src += 4, out += 8) {
        int cb = static_cast<int>(src[U]), cr = static_cast<int>(src[V]);
        YuvToRgb(static_cast<int>(src[Y0]), cb, cr, out);
        YuvToRgb(static_cast<int>(src[Y1]), cb, cr, out + 4);
    }
}

// Byte positions of: first green, second green, shared red, shared blue.
template <int G0, int G1, int R, int B>
void DecodeRgbg(const std::byte* src, std::size_t count, float* out, std::size_t) {
    for (std::size_t i = 0; i < count; ++i, src += 4, out += 8) {
        float r = static_cast<float>(src[R]) / 255.0f, b = static_cast<float>(src[B]) / 255.0f;
        float g[2] = {static_cast<float>(src[G0]) / 255.0f, static_cast<float>(src[G1]) / 255.0f};
        for (int p = 0; p < 2; ++p) {
            out[4 * p + 0] = r;
            out[4 * p + 1] = g[p];
            out[4 * p + 2] = b;
            out[4 * p + 3] = 1.0f;
        }
    }
}

// ---- S3TC blocks ----

void Expand565(std::uint16_t c, float* rgb) {
    rgb[0] = static_cast<float>((c >> 11) & 31) / 31.0f;
    rgb[1] = static_cast<float>((c >> 5) & 63) / 63.0f;
    rgb[2] = static_cast<float>(c & 31) / 31.0f;
}

// Decodes the 8-byte colour part of a block into 16 pixels (4 floats each, raster order).
// threeColourMode: DXT1 switches to three colours plus transparent black when colour 0 <= colour 1;
// the colour blocks of DXT2-DXT5 always use four colours.
void DecodeColourBlock(const std::byte* block, bool allowThreeColour, float* pixels) {
    auto c0 = static_cast<std::uint16_t>(LoadLittle(block, 2));
    auto c1 = static_cast<std::uint16_t>(LoadLittle(block + 2, 2));
    float palette[4][4];
    Expand565(c0, palette[0]);
    Expand565(c1, palette[1]);
    palette[0][3] = palette[1][3] = 1.0f;
    if (!allowThreeColour || c0 > c1) {
        for (int c = 0; c < 3; ++c) {
            palette[2][c] = (2.0f * palette[0][c] + palette[1][c]) / 3.0f;
            palette[3][c] = (palette[0][c] + 2.0f * palette[1][c]) / 3.0f;
        }
        palette[2][3] = palette[3][3] = 1.0f;
    } else {
        for (int c = 0; c < 3; ++c) palette[2][c] = (palette[0][c] + palette[1][c]) / 2.0f;
        palette[2][3] = 1.0f;
        palette[3][0] = palette[3][1] = palette[3][2] = palette[3][3] = 0.0f;
    }
    auto indices = static_cast<std::uint32_t>(LoadLittle(block + 4, 4));
    for (int p = 0; p < 16; ++p) std::memcpy(pixels + 4 * p, palette[(indices >> (2 * p)) & 3], 4 * sizeof(float));
}

void DecodeExplicitAlpha(const std::byte* block, float* pixels) {
    std::uint64_t bits = LoadLittle(block, 8);
    for (int p = 0; p < 16; ++p) pixels[4 * p + 3] = static_cast<float>((bits >> (4 * p)) & 15) / 15.0f;
}

void DecodeInterpolatedAlpha(const std::byte* block, float* pixels) {
    float a0 = static_cast<float>(block[0]) / 255.0f;
    float a1 = static_cast<float>(block[1]) / 255.0f;
    float palette[8];
    palette[0] = a0;
    palette[1] = a1;
    if (block[0] > block[1]) {
        for (int i = 1; i < 7; ++i) palette[i + 1] = (static_cast<float>(7 - i) * a0 + static_cast<float>(i) * a1) / 7.0f;
    } else {
        for (int i = 1; i < 5; ++i) palette[i + 1] = (static_cast<float>(5 - i) * a0 + static_cast<float>(i) * a1) / 5.0f;
        palette[6] = 0.0f;
        palette[7] = 1.0f;
    }
    std::uint64_t bits = LoadLittle(block + 2, 6);
    for (int p = 0; p < 16; ++p) pixels[4 * p + 3] = palette[(bits >> (3 * p)) & 7];
}

// DXT2 and DXT4 hold premultiplied colour; sampling returns the stored values as they are, as the
// platform's texture units do, so they decode like DXT3 and DXT5.
enum class BlockKind { kDxt1, kDxt3, kDxt5 };

template <BlockKind K>
void DecodeBlocks(const std::byte* src, std::size_t count, float* out, std::size_t outStride) {
    constexpr std::size_t kBlockBytes = K == BlockKind::kDxt1 ? 8 : 16;
    float pixels[64];
    for (std::size_t b = 0; b < count; ++b, src += kBlockBytes) {
        if constexpr (K == BlockKind::kDxt1) {
            DecodeColourBlock(src, true, pixels);
        } else {
            DecodeColourBlock(src + 8, false, pixels);
            if constexpr (K == BlockKind::kDxt3) DecodeExplicitAlpha(src, pixels);
            if constexpr (K == BlockKind::kDxt5) DecodeInterpolatedAlpha(src, pixels);
        }
        for (int row = 0; row < 4; ++row) {
            std::memcpy(out + row * outStride + b * 16, pixels + row * 16, 16 * sizeof(float));
        }
    }
}

constexpr std::uint32_t kTex = kFormatSample | kFormatLockable;
constexpr std::uint32_t kTexWide = kTex | kFormatWide;
constexpr std::uint32_t kTexSigned = kTex | kFormatSigned;
constexpr std::uint32_t kTexSignedWide = kTexSigned | kFormatWide;
constexpr std::uint32_t kDepth = kFormatDepthStencil;

// Every format the device knows. The unsigned 8-bit layouts cover the library's colour, luminance
// and alpha formats; signed layouts its bump-map formats.
constexpr FormatInfo kFormats[] = {
    {D3DFMT_R8G8B8, 1, 1, 3, kTex, DecodePacked<Rgba(3, 16, 8, 8, 8, 0, 8, 0, 0)>},
    {D3DFMT_A8R8G8B8, 1, 1, 4, kTex | kFormatRenderTarget, DecodePacked<Rgba(4, 16, 8, 8, 8, 0, 8, 24, 8)>},
    {D3DFMT_X8R8G8B8, 1, 1, 4, kTex | kFormatRenderTarget, DecodePacked<Rgba(4, 16, 8, 8, 8, 0, 8, 0, 0)>},
    {D3DFMT_R5G6B5, 1, 1, 2, kTex, DecodePacked<Rgba(2, 11, 5, 5, 6, 0, 5, 0, 0)>},
    {D3DFMT_X1R5G5B5, 1, 1, 2, kTex, DecodePacked<Rgba(2, 10, 5, 5, 5, 0, 5, 0, 0)>},
    {D3DFMT_A1R5G5B5, 1, 1, 2, kTex, DecodePacked<Rgba(2, 10, 5, 5, 5, 0, 5, 15, 1)>},
    {D3DFMT_A4R4G4B4, 1, 1, 2, kTex, DecodePacked<Rgba(2, 8, 4, 4, 4, 0, 4, 12, 4)>},
    {D3DFMT_R3G3B2, 1, 1, 1, kTex, DecodePacked<Rgba(1, 5, 3, 2, 3, 0, 2, 0, 0)>},
    {D3DFMT_A8, 1, 1, 1, kTex, DecodePacked<PackedLayout{1, {0, 0, 0, 0}, {0, 0, 0, 8}, 0, PackedKind::kAlphaOnly, 0.0f}>},
    {D3DFMT_A8R3G3B2, 1, 1, 2, kTex, DecodePacked<Rgba(2, 5, 3, 2, 3, 0, 2, 8, 8)>},
    {D3DFMT_X4R4G4B4, 1, 1, 2, kTex, DecodePacked<Rgba(2, 8, 4, 4, 4, 0, 4, 0, 0)>},
    {D3DFMT_A2B10G10R10, 1, 1, 4, kTexWide, DecodePacked<Rgba(4, 0, 10, 10, 10, 20, 10, 30, 2)>},
    {D3DFMT_A8B8G8R8, 1, 1, 4, kTex, DecodePacked<Rgba(4, 0, 8, 8, 8, 16, 8, 24, 8)>},
    {D3DFMT_X8B8G8R8, 1, 1, 4, kTex, DecodePacked<Rgba(4, 0, 8, 8, 8, 16, 8, 0, 0)>},
    {D3DFMT_G16R16, 1, 1, 4, kTexWide, DecodePacked<Rgba(4, 0, 16, 16, 16, 0, 0, 0, 0, 1.0f)>},
    {D3DFMT_A2R10G10B10, 1, 1, 4, kTexWide, DecodePacked<Rgba(4, 20, 10, 10, 10, 0, 10, 30, 2)>},
    {D3DFMT_A16B16G16R16, 1, 1, 8, kTexWide, DecodePacked<Rgba(8, 0, 16, 16, 16, 32, 16, 48, 16)>},
    // Palettized formats can be created and locked; sampling them needs palettes, which this
    // device does not keep.
    {D3DFMT_A8P8, 1, 1, 2, kFormatLockable | kFormatPalette, nullptr},
    {D3DFMT_P8, 1, 1, 1, kFormatLockable | kFormatPalette, nullptr},
    {D3DFMT_L8, 1, 1, 1, kTex, DecodePacked<Lum(1, 8, 0, 0)>},
    {D3DFMT_A8L8, 1, 1, 2, kTex, DecodePacked<Lum(2, 8, 8, 8)>},
    {D3DFMT_A4L4, 1, 1, 1, kTex, DecodePacked<Lum(1, 4, 4, 4)>},
    {D3DFMT_L16, 1, 1, 2, kTexWide, DecodePacked<Lum(2, 16, 0, 0)>},
    {D3DFMT_V8U8, 1, 1, 2, kTexSigned, DecodePacked<Rgba(2, 0, 8, 8, 8, 0, 0, 0, 0, 1.0f, 0x3)>},
    {D3DFMT_L6V5U5, 1, 1, 2, kTexSigned, DecodePacked<Rgba(2, 0, 5, 5, 5, 0, 0, 10, 6, 1.0f, 0x3)>},
    {D3DFMT_X8L8V8U8, 1, 1, 4, kTexSigned, DecodePacked<Rgba(4, 0, 8, 8, 8, 0, 0, 16, 8, 1.0f, 0x3)>},
    {D3DFMT_Q8W8V8U8, 1, 1, 4, kTexSigned, DecodePacked<Rgba(4, 0, 8, 8, 8, 16, 8, 24, 8, 1.0f, 0xF)>},
    {D3DFMT_V16U16, 1, 1, 4, kTexSignedWide, DecodePacked<Rgba(4, 0, 16, 16, 16, 0, 0, 0, 0, 1.0f, 0x3)>},
    {D3DFMT_A2W10V10U10, 1, 1, 4, kTexSignedWide, DecodePacked<Rgba(4, 0, 10, 10, 10, 20, 10, 30, 2, 1.0f, 0x7)>},
    {D3DFMT_Q16W16V16U16, 1, 1, 8, kTexSignedWide,
     DecodePacked<Rgba(8, 0, 16, 16, 16, 32, 16, 48, 16, 1.0f, 0xF)>},
    {D3DFMT_CxV8U8, 1, 1, 2, kTexSigned, DecodeCxV8U8},
    {D3DFMT_UYVY, 2, 1, 4, kTex, DecodeYuv<1, 3, 0, 2>},
    {D3DFMT_YUY2, 2, 1, 4, kTex, DecodeYuv<0, 2, 1, 3>},
    {D3DFMT_R8G8_B8G8, 2, 1, 4, kTex, DecodeRgbg<1, 3, 0, 2>},
    {D3DFMT_G8R8_G8B8, 2, 1, 4, kTex, DecodeRgbg<0, 2, 1, 3>},
    {D3DFMT_DXT1, 4, 4, 8, kTex, DecodeBlocks<BlockKind::kDxt1>},
    {D3DFMT_DXT2, 4, 4, 16, kTex, DecodeBlocks<BlockKind::kDxt3>},
    {D3DFMT_DXT3, 4, 4, 16, kTex, DecodeBlocks<BlockKind::kDxt3>},
    {D3DFMT_DXT4, 4, 4, 16, kTex, DecodeBlocks<BlockKind::kDxt5>},
    {D3DFMT_DXT5, 4, 4, 16, kTex, DecodeBlocks<BlockKind::kDxt5>},
    {D3DFMT_R16F, 1, 1, 2, kTexWide, DecodeFloat<1, true>},
    {D3DFMT_G16R16F, 1, 1, 4, kTexWide, DecodeFloat<2, true>},
    {D3DFMT_A16B16G16R16F, 1, 1, 8, kTexWide, DecodeFloat<4, true>},
    {D3DFMT_R32F, 1, 1, 4, kTexWide, DecodeFloat<1, false>},
    {D3DFMT_G32R32F, 1, 1, 8, kTexWide, DecodeFloat<2, false>},
    {D3DFMT_A32B32G32R32F, 1, 1, 16, kTexWide, DecodeFloat<4, false>},
    // Depth buffers: the formats the pipeline tests and writes. Every surface of the device can
    // be locked, depth buffers included.
    {D3DFMT_D16, 1, 1, 2, kDepth | kFormatLockable, nullptr},
    {D3DFMT_D16_LOCKABLE, 1, 1, 2, kDepth | kFormatLockable, nullptr},
    {D3DFMT_D24S8, 1, 1, 4, kDepth | kFormatLockable, nullptr},
    {D3DFMT_D24X8, 1, 1, 4, kDepth | kFormatLockable, nullptr},
    {D3DFMT_D32, 1, 1, 4, kDepth | kFormatLockable, nullptr},
};

}  // namespace

const FormatInfo* FindFormat(D3DFORMAT format) {
    for (const FormatInfo& f : kFormats) {
        if (f.format == format) return &f;
    }
    return nullptr;
}

std::size_t RowPitch(const FormatInfo& info, std::uint32_t width) {
    std::size_t blocks = (static_cast<std::size_t>(width) + info.blockWidth - 1) / info.blockWidth;
    return (blocks * info.blockBytes + 3) & ~std::size_t{3};
}

std::uint32_t BlockRows(const FormatInfo& info, std::uint32_t height) {
    return (height + info.blockHeight - 1) / info.blockHeight;
}

bool ValidBlockRect(const FormatInfo& info, std::uint32_t width, std::uint32_t height, const RECT& rect) {
    if (rect.left < 0 || rect.top < 0 || rect.left >= rect.right || rect.top >= rect.bottom) return false;
    auto right = static_cast<std::uint32_t>(rect.right), bottom = static_cast<std::uint32_t>(rect.bottom);
    if (right > width || bottom > height) return false;
    auto onBlock = [](std::uint32_t v, std::uint32_t block, std::uint32_t edge) { return v % block == 0 || v == edge; };
    return onBlock(static_cast<std::uint32_t>(rect.left), info.blockWidth, width + 1) &&
           onBlock(static_cast<std::uint32_t>(rect.top), info.blockHeight, height + 1) &&
           onBlock(right, info.blockWidth, width) && onBlock(bottom, info.blockHeight, height);
}

void DecodeImage(const FormatInfo& info, const std::byte* src, std::size_t pitch, std::uint32_t width,
                 std::uint32_t height, float* rgba) {
    std::size_t blocks = (static_cast<std::size_t>(width) + info.blockWidth - 1) / info.blockWidth;
    std::size_t paddedWidth = blocks * info.blockWidth;
    std::vector<float> rows(paddedWidth * info.blockHeight * 4);
    for (std::uint32_t blockRow = 0; blockRow < BlockRows(info, height); ++blockRow) {
        info.decode(src + blockRow * pitch, blocks, rows.data(), paddedWidth * 4);
        for (std::uint32_t r = 0; r < info.blockHeight; ++r) {
            std::uint32_t y = blockRow * info.blockHeight + r;
            if (y >= height) break;
            std::memcpy(rgba + static_cast<std::size_t>(y) * width * 4, rows.data() + r * paddedWidth * 4,
                        static_cast<std::size_t>(width) * 4 * sizeof(float));
        }
    }
}

std::uint32_t EncodeArgb8(const float rgba[4]) {
    auto q = [](float v) { return static_cast<std::uint32_t>(std::lround(Clamp01(v) * 255.0f)); };
    return (q(rgba[3]) << 24) | (q(rgba[0]) << 16) | (q(rgba[1]) << 8) | q(rgba[2]);
}

float HalfToFloat(std::uint16_t half) {
    std::uint32_t sign = static_cast<std::uint32_t>(half >> 15) << 31;
    std::uint32_t exponent = (half >> 10) & 31;
    std::uint32_t mantissa = half & 0x3FF;
    if (exponent == 0) {
        float value = std::ldexp(static_cast<float>(mantissa), -24);
        return sign ? -value : value;
    }
    if (exponent == 31) return std::bit_cast<float>(sign | 0x7F800000u | (mantissa << 13));
    return std::bit_cast<float>(sign | ((exponent + 112) << 23) | (mantissa << 13));
}

}  // namespace qm::d3d9
