// format_codec.cpp: the codec table, the packed and two-pixel codecs, and the shared value-class,
// gamma, colour-key and ordered-dither rules. Two-pixel formats decode with the ITU-R BT.601
// studio-range equations.
#include "library/tex/format_codec.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstring>
#include <new>

#include "library/math/math.h"
#include "library/tex/dxt_codec.h"
#include "platform/win/results.h"

namespace qm {
namespace {

constexpr D3DFORMAT kYuy2 = D3DFMT_YUY2;
constexpr D3DFORMAT kUyvy = D3DFMT_UYVY;
constexpr D3DFORMAT kRgbg = D3DFMT_R8G8_B8G8;
constexpr D3DFORMAT kGrgb = D3DFMT_G8R8_G8B8;

// How one of the four output channels is stored.
enum class Field : std::uint8_t {
    Zero,     // not stored, reads 0
    One,      // not stored, reads 1
    Unorm,    // unsigned code / (2^n - 1)
    Snorm,    // signed code / (2^(n-1) - 1), the most negative code reading as the next one up
    Half,     // 16-bit float
    Float32,  // 32-bit float
    CxBlue,   // not stored: sqrt(1 - u^2 - v^2) from the two signed channels before it
};

struct Channel {
    Field kind = Field::Zero;
    std::uint8_t shift = 0;  // bit position inside the pixel (fields never cross a 64-bit boundary)
    std::uint8_t bits = 0;
};

enum class Storage : std::uint8_t {
    Plain,      // red, green, blue, alpha each from their channel
    Luminance,  // the red channel holds luminance, read into red, green and blue
    Palette,    // the red channel holds a palette index; alpha from its own channel when stored
};

struct PackedLayout {
    D3DFORMAT format;
    UINT bytes;
    ValueClass valueClass;
    Storage storage;
    Channel r, g, b, a;
};

constexpr Channel Z{Field::Zero, 0, 0};
constexpr Channel O{Field::One, 0, 0};
constexpr Channel U(int shift, int bits) { return {Field::Unorm, std::uint8_t(shift), std::uint8_t(bits)}; }
constexpr Channel S(int shift, int bits) { return {Field::Snorm, std::uint8_t(shift), std::uint8_t(bits)}; }
constexpr Channel H(int shift) { return {Field::Half, std::uint8_t(shift), 16}; }
constexpr Channel F(int shift) { return {Field::Float32, std::uint8_t(shift), 32}; }
constexpr Channel Cx{Field::CxBlue, 0, 0};

constexpr ValueClass kU = ValueClass::Unsigned;
constexpr ValueClass kS2 = ValueClass::SignedFourthUnsigned;
constexpr ValueClass kS3 = ValueClass::Signed;
constexpr ValueClass kF = ValueClass::Float;
constexpr Storage kPlain = Storage::Plain;
constexpr Storage kLum = Storage::Luminance;
constexpr Storage kPal = Storage::Palette;

// Bit layouts of every whole-byte format (Direct3D 9 layouts, little-endian).
constexpr PackedLayout kPackedLayouts[] = {
    {D3DFMT_R8G8B8, 3, kU, kPlain, U(16, 8), U(8, 8), U(0, 8), O},
    {D3DFMT_A8R8G8B8, 4, kU, kPlain, U(16, 8), U(8, 8), U(0, 8), U(24, 8)},
    {D3DFMT_X8R8G8B8, 4, kU, kPlain, U(16, 8), U(8, 8), U(0, 8), O},
    {D3DFMT_R5G6B5, 2, kU, kPlain, U(11, 5), U(5, 6), U(0, 5), O},
    {D3DFMT_X1R5G5B5, 2, kU, kPlain, U(10, 5), U(5, 5), U(0, 5), O},
    {D3DFMT_A1R5G5B5, 2, kU, kPlain, U(10, 5), U(5, 5), U(0, 5), U(15, 1)},
    {D3DFMT_A4R4G4B4, 2, kU, kPlain, U(8, 4), U(4, 4), U(0, 4), U(12, 4)},
    {D3DFMT_R3G3B2, 1, kU, kPlain, U(5, 3), U(2, 3), U(0, 2), O},
    {D3DFMT_A8, 1, kU, kPlain, Z, Z, Z, U(0, 8)},
    {D3DFMT_A8R3G3B2, 2, kU, kPlain, U(5, 3), U(2, 3), U(0, 2), U(8, 8)},
    {D3DFMT_X4R4G4B4, 2, kU, kPlain, U(8, 4), U(4, 4), U(0, 4), O},
    {D3DFMT_A2B10G10R10, 4, kU, kPlain, U(0, 10), U(10, 10), U(20, 10), U(30, 2)},
    {D3DFMT_A8B8G8R8, 4, kU, kPlain, U(0, 8), U(8, 8), U(16, 8), U(24, 8)},
    {D3DFMT_X8B8G8R8, 4, kU, kPlain, U(0, 8), U(8, 8), U(16, 8), O},
    {D3DFMT_G16R16, 4, kU, kPlain, U(0, 16), U(16, 16), O, O},
    {D3DFMT_A2R10G10B10, 4, kU, kPlain, U(20, 10), U(10, 10), U(0, 10), U(30, 2)},
    {D3DFMT_A16B16G16R16, 8, kU, kPlain, U(0, 16), U(16, 16), U(32, 16), U(48, 16)},
    {D3DFMT_A8P8, 2, kU, kPal, U(0, 8), Z, Z, U(8, 8)},
    {D3DFMT_P8, 1, kU, kPal, U(0, 8), Z, Z, Z},
    {D3DFMT_L8, 1, kU, kLum, U(0, 8), Z, Z, O},
    {D3DFMT_L16, 2, kU, kLum, U(0, 16), Z, Z, O},
    {D3DFMT_A8L8, 2, kU, kLum, U(0, 8), Z, Z, U(8, 8)},
    {D3DFMT_A4L4, 1, kU, kLum, U(0, 4), Z, Z, U(4, 4)},
    {D3DFMT_D16_LOCKABLE, 2, kU, kLum, U(0, 16), Z, Z, O},
    {D3DFMT_V8U8, 2, kS2, kPlain, S(0, 8), S(8, 8), O, O},
    {D3DFMT_V16U16, 4, kS2, kPlain, S(0, 16), S(16, 16), O, O},
    {D3DFMT_L6V5U5, 2, kS2, kPlain, S(0, 5), S(5, 5), O, U(10, 6)},
    {D3DFMT_X8L8V8U8, 4, kS2, kPlain, S(0, 8), S(8, 8), O, U(16, 8)},
    {D3DFMT_A2W10V10U10, 4, kS2, kPlain, S(0, 10), S(10, 10), S(20, 10), U(30, 2)},
    {D3DFMT_CxV8U8, 2, kS2, kPlain, S(0, 8), S(8, 8), Cx, O},
    {D3DFMT_Q8W8V8U8, 4, kS3, kPlain, S(0, 8), S(8, 8), S(16, 8), S(24, 8)},
    {D3DFMT_Q16W16V16U16, 8, kS3, kPlain, S(0, 16), S(16, 16), S(32, 16), S(48, 16)},
    {D3DFMT_R16F, 2, kF, kPlain, H(0), O, O, O},
    {D3DFMT_R32F, 4, kF, kPlain, F(0), O, O, O},
    {D3DFMT_D32F_LOCKABLE, 4, kF, kPlain, F(0), O, O, O},
    {D3DFMT_G16R16F, 4, kF, kPlain, H(0), H(16), O, O},
    {D3DFMT_G32R32F, 8, kF, kPlain, F(0), F(32), O, O},
    {D3DFMT_A16B16G16R16F, 8, kF, kPlain, H(0), H(16), H(32), H(48)},
    {D3DFMT_A32B32G32R32F, 16, kF, kPlain, F(0), F(32), F(64), F(96)},
    {kFormatAL16, 4, kU, kLum, U(0, 16), Z, Z, U(16, 16)},
    {kFormatR16, 6, kU, kPlain, U(32, 16), U(16, 16), U(0, 16), O},
};

// The codec table: the packed layouts above, then the two-pixel and block formats.
const std::vector<CodecInfo>& BuildCodecTable() {
    static const std::vector<CodecInfo> table = [] {
        std::vector<CodecInfo> rows;
        for (const PackedLayout& layout : kPackedLayouts) {
            rows.push_back({layout.format, layout.bytes * 8, layout.valueClass, CodecLayout::Packed});
        }
        for (D3DFORMAT format : {kUyvy, kYuy2, kRgbg, kGrgb}) rows.push_back({format, 16, kU, CodecLayout::TwoPixel});
        rows.push_back({D3DFMT_DXT1, 4, kU, CodecLayout::Block});
        for (D3DFORMAT format : {D3DFMT_DXT2, D3DFMT_DXT3, D3DFMT_DXT4, D3DFMT_DXT5}) {
            rows.push_back({format, 8, kU, CodecLayout::Block});
        }
        return rows;
    }();
    return table;
}

const PackedLayout* FindPackedLayout(D3DFORMAT format) {
    for (const PackedLayout& layout : kPackedLayouts) {
        if (layout.format == format) return &layout;
    }
    return nullptr;
}

// The dither matrix, each row stored twice so that (z mod 4) + (x mod 4) indexes it directly.
constexpr float kDither[4][8] = {
    {31 / 32.f, 15 / 32.f, 27 / 32.f, 11 / 32.f, 31 / 32.f, 15 / 32.f, 27 / 32.f, 11 / 32.f},
    {7 / 32.f, 23 / 32.f, 3 / 32.f, 19 / 32.f, 7 / 32.f, 23 / 32.f, 3 / 32.f, 19 / 32.f},
    {25 / 32.f, 9 / 32.f, 29 / 32.f, 13 / 32.f, 25 / 32.f, 9 / 32.f, 29 / 32.f, 13 / 32.f},
    {1 / 32.f, 17 / 32.f, 5 / 32.f, 21 / 32.f, 1 / 32.f, 17 / 32.f, 5 / 32.f, 21 / 32.f},
};

struct GammaTables {
    float decode[256];
    float encode[256];
    GammaTables() {
        for (int k = 0; k < 255; ++k) {
            decode[k] = static_cast<float>(std::pow(k / 254.0, 1.1));
            encode[k] = static_cast<float>(std::pow(k / 254.0, 1.0 / 1.1));
        }
        decode[255] = 1.0f;
        encode[255] = 1.0f;
    }
};

const GammaTables& Gamma() {
    static const GammaTables tables;
    return tables;
}

float Interpolate(const float (&table)[256], float t) {
    t = std::clamp(t, 0.0f, 254.0f);
    int k = static_cast<int>(t);
    float f = t - static_cast<float>(k);
    return table[k] + (table[k + 1] - table[k]) * f;
}

float Clamp01(float v) { return std::clamp(v, 0.0f, 1.0f); }
float ClampSigned(float v) { return std::clamp(v, -1.0f, 1.0f); }

float HalfToFloat(WORD h) {
    float f = 0.0f;
    Float16To32Array(&f, &h, 1);
    return f;
}

WORD FloatToHalf(float f) {
    WORD h = 0;
    Float32To16Array(&h, &f, 1);
    return h;
}

std::uint64_t FieldMask(int bits) { return bits >= 64 ? ~0ull : ((1ull << bits) - 1); }

// Reads one channel of a pixel held as two little-endian 64-bit words.
float DecodeField(const Channel& c, const std::uint64_t (&w)[2]) {
    const std::uint64_t word = w[c.shift / 64];
    const std::uint64_t code = (word >> (c.shift % 64)) & FieldMask(c.bits);
    switch (c.kind) {
    case Field::Zero: return 0.0f;
    case Field::One: return 1.0f;
    case Field::Unorm: return static_cast<float>(code) / static_cast<float>(FieldMask(c.bits));
    case Field::Snorm: {
        const std::int64_t half = 1ll << (c.bits - 1);
        std::int64_t value = static_cast<std::int64_t>(code);
        if (value >= half) value -= 2 * half;
        if (value == -half) value = -half + 1;
        return static_cast<float>(value) / static_cast<float>(half - 1);
    }
    case Field::Half: return HalfToFloat(static_cast<WORD>(code));
    case Field::Float32: {
        std::uint32_t bits32 = static_cast<std::uint32_t>(code);
        float f;
        std::memcpy(&f, &bits32, sizeof f);
        return f;
    }
    case Field::CxBlue: return 0.0f;  // filled in by the caller from red and green
    }
    return 0.0f;
}

// Stores one channel: unsigned trunc(v x (2^n - 1) + d), signed trunc(v x (2^(n-1) - 1) + d),
// floats as they are. Codes are limited to the channel's range.
void EncodeField(const Channel& c, float v, float d, std::uint64_t (&w)[2]) {
    std::uint64_t code = 0;
    switch (c.kind) {
    case Field::Zero:
    case Field::One:
    case Field::CxBlue: return;
    case Field::Unorm: {
        const double maxCode = static_cast<double>(FieldMask(c.bits));
        double q = std::trunc(static_cast<double>(v) * maxCode + d);
        if (!(q >= 0.0)) q = 0.0;  // NaN too
        code = static_cast<std::uint64_t>(std::min(q, maxCode));
        break;
    }
    case Field::Snorm: {
        const double maxCode = static_cast<double>((1ll << (c.bits - 1)) - 1);
        double q = std::trunc(static_cast<double>(v) * maxCode + d);
        if (q != q) q = 0.0;
        q = std::clamp(q, -maxCode, maxCode);
        code = static_cast<std::uint64_t>(static_cast<std::int64_t>(q)) & FieldMask(c.bits);
        break;
    }
    case Field::Half: code = FloatToHalf(v); break;
    case Field::Float32: {
        std::uint32_t bits32;
        std::memcpy(&bits32, &v, sizeof bits32);
        code = bits32;
        break;
    }
    }
    w[c.shift / 64] |= code << (c.shift % 64);
}

// Codec of every whole-byte format, driven by its layout row.
class PackedCodec final : public FormatCodec {
public:
    PackedCodec(const CodecInfo& info, const PackedLayout& layout, const PixelBox& box)
        : FormatCodec(info, box), layout_(layout) {}

private:
    void DecodeRow(UINT y, UINT z, Rgba* out) override {
        const BYTE* p = RowAddress(y, z);
        for (UINT x = 0; x < width_; ++x, p += layout_.bytes) out[x] = DecodePixel(p);
    }

    void EncodeRow(UINT y, UINT z, const Rgba* in, bool dither) override {
        BYTE* p = RowAddress(y, z);
        for (UINT x = 0; x < width_; ++x, p += layout_.bytes) EncodePixel(in[x], DitherAt(x, y, z, dither), p);
    }

    Rgba QuantiseOne(const Rgba& value) override {
        BYTE pixel[16] = {};
        EncodePixel(value, kNoDither, pixel);
        return DecodePixel(pixel);
    }

    Rgba DecodePixel(const BYTE* p) const {
        std::uint64_t w[2] = {0, 0};
        std::memcpy(w, p, layout_.bytes);
        Rgba c;
        c.r = DecodeField(layout_.r, w);
        c.g = DecodeField(layout_.g, w);
        c.b = DecodeField(layout_.b, w);
        c.a = DecodeField(layout_.a, w);
        switch (layout_.storage) {
        case Storage::Plain:
            if (layout_.b.kind == Field::CxBlue) c.b = std::sqrt(std::max(0.0f, 1.0f - c.r * c.r - c.g * c.g));
            break;
        case Storage::Luminance: c.g = c.b = c.r; break;
        case Storage::Palette: {
            const Rgba& entry = PaletteColors()[static_cast<std::size_t>(w[0] & 0xFF)];
            float alpha = layout_.a.kind == Field::Zero ? entry.a : c.a;
            c = entry;
            c.a = alpha;
            break;
        }
        }
        return c;
    }

    void EncodePixel(const Rgba& c, float d, BYTE* p) const {
        std::uint64_t w[2] = {0, 0};
        switch (layout_.storage) {
        case Storage::Plain:
            EncodeField(layout_.r, c.r, d, w);
            EncodeField(layout_.g, c.g, d, w);
            EncodeField(layout_.b, c.b, d, w);
            break;
        case Storage::Luminance:
            EncodeField(layout_.r, kLuminanceRed * c.r + kLuminanceGreen * c.g + kLuminanceBlue * c.b, d, w);
            break;
        case Storage::Palette:
            w[0] = NearestPaletteIndex(c, layout_.a.kind == Field::Zero);
            break;
        }
        EncodeField(layout_.a, c.a, d, w);
        std::memcpy(p, w, layout_.bytes);
    }

    const PackedLayout& layout_;
};

// Codec of the formats that store two pixels in four bytes.
class TwoPixelCodec final : public FormatCodec {
public:
    TwoPixelCodec(const CodecInfo& info, const PixelBox& box) : FormatCodec(info, box) {
        const D3DFORMAT f = info.format;
        // Byte positions of the first and second pixel's own byte and of the two shared bytes.
        const bool lumaFirst = f == kYuy2 || f == kGrgb;
        own0_ = lumaFirst ? 0 : 1;
        own1_ = lumaFirst ? 2 : 3;
        shared0_ = lumaFirst ? 1 : 0;
        shared1_ = lumaFirst ? 3 : 2;
        yuv_ = f == kYuy2 || f == kUyvy;
    }

private:
    BYTE* PairAddress(UINT y, UINT z, UINT absoluteX) const {
        return box_.pixels + static_cast<std::size_t>(box_.box.front + z) * box_.slicePitch +
               static_cast<std::size_t>(box_.box.top + y) * box_.rowPitch + static_cast<std::size_t>(absoluteX / 2) * 4;
    }

    void DecodePair(const BYTE* p, Rgba& first, Rgba& second) const {
        if (yuv_) {
            const float u = static_cast<float>(p[shared0_]) - 128.0f;
            const float v = static_cast<float>(p[shared1_]) - 128.0f;
            for (int i = 0; i < 2; ++i) {
                const float yv = (static_cast<float>(p[i == 0 ? own0_ : own1_]) - 16.0f) * 0.00456621f;
                Rgba& c = i == 0 ? first : second;
                c.r = Clamp01(yv + 0.00625893f * v);
                c.g = Clamp01(yv - 0.00153632f * u - 0.00318811f * v);
                c.b = Clamp01(yv + 0.00791071f * u);
                c.a = 1.0f;
            }
        } else {
            const float r = p[shared0_] / 255.0f;
            const float b = p[shared1_] / 255.0f;
            first = {r, p[own0_] / 255.0f, b, 1.0f};
            second = {r, p[own1_] / 255.0f, b, 1.0f};
        }
    }

    static BYTE RoundByte(double v) { return static_cast<BYTE>(std::clamp(std::floor(v + 0.5), 0.0, 255.0)); }
    static BYTE TruncByte(float v, float d) {
        double q = std::trunc(static_cast<double>(v) * 255.0 + d);
        if (!(q >= 0.0)) q = 0.0;
        return static_cast<BYTE>(std::min(q, 255.0));
    }

    void EncodePair(const Rgba& first, const Rgba& second, float d0, float d1, BYTE* p) const {
        if (yuv_) {
            auto luma = [](const Rgba& c) { return 16.0 + 65.481 * c.r + 128.553 * c.g + 24.966 * c.b; };
            p[own0_] = RoundByte(luma(first));
            p[own1_] = RoundByte(luma(second));
            p[shared0_] = RoundByte(128.0 - 37.797 * first.r - 74.203 * first.g + 112.0 * first.b);
            p[shared1_] = RoundByte(128.0 + 112.0 * first.r - 93.786 * first.g - 18.214 * first.b);
        } else {
            p[own0_] = TruncByte(first.g, d0);
            p[own1_] = TruncByte(second.g, d1);
            p[shared0_] = TruncByte(first.r, d0);
            p[shared1_] = TruncByte(first.b, d0);
        }
    }

    void DecodeRow(UINT y, UINT z, Rgba* out) override {
        Rgba pair[2];
        for (UINT x = 0; x < width_; ++x) {
            const UINT ax = box_.box.left + x;
            if (x == 0 || ax % 2 == 0) DecodePair(PairAddress(y, z, ax), pair[0], pair[1]);
            out[x] = pair[ax % 2];
        }
    }

    void EncodeRow(UINT y, UINT z, const Rgba* in, bool dither) override {
        const UINT first = box_.box.left & ~1u;
        for (UINT ax = first; ax < box_.box.right; ax += 2) {
            BYTE* p = PairAddress(y, z, ax);
            Rgba pair[2];
            const bool firstInside = ax >= box_.box.left;
            const bool secondInside = ax + 1 < box_.box.right;
            if (!firstInside || !secondInside) DecodePair(p, pair[0], pair[1]);
            if (firstInside) pair[0] = in[ax - box_.box.left];
            if (secondInside) pair[1] = in[ax + 1 - box_.box.left];
            if (!secondInside && ax + 1 >= box_.extent.right) pair[1] = pair[0];  // past the image's edge
            const float d0 = dither ? DitherValue(ax, box_.box.top + y, box_.box.front + z) : kNoDither;
            const float d1 = dither ? DitherValue(ax + 1, box_.box.top + y, box_.box.front + z) : kNoDither;
            EncodePair(pair[0], pair[1], d0, d1, p);
        }
    }

    Rgba QuantiseOne(const Rgba& value) override {
        BYTE pair[4] = {};
        EncodePair(value, value, kNoDither, kNoDither, pair);
        Rgba first, second;
        DecodePair(pair, first, second);
        return first;
    }

    int own0_, own1_, shared0_, shared1_;
    bool yuv_;
};

}  // namespace

std::span<const CodecInfo> CodecTable() { return BuildCodecTable(); }

const CodecInfo* FindCodecInfo(D3DFORMAT format) {
    for (const CodecInfo& info : CodecTable()) {
        if (info.format == format) return &info;
    }
    return nullptr;
}

float DitherValue(UINT x, UINT y, UINT z) { return kDither[y % 4][(z % 4) + (x % 4)]; }

float GammaDecode(float v) {
    v = Clamp01(v);
    return Interpolate(Gamma().decode, v * v * 254.0f);
}

float GammaEncode(float v) {
    v = Clamp01(v);
    return Interpolate(Gamma().encode, std::sqrt(v) * 254.0f);
}

void ConvertValueClass(std::span<Rgba> row, ValueClass from, ValueClass to) {
    if (from == to || from == ValueClass::None || to == ValueClass::None || to == ValueClass::Float) return;
    auto toUnsigned = [](float v) { return (v + 1.0f) * 0.5f; };
    auto toSigned = [](float v) { return 2.0f * v - 1.0f; };
    for (Rgba& c : row) {
        switch (to) {
        case ValueClass::Unsigned:
            if (from == ValueClass::Float) {
                c = {Clamp01(c.r), Clamp01(c.g), Clamp01(c.b), Clamp01(c.a)};
            } else {
                c.r = toUnsigned(c.r), c.g = toUnsigned(c.g), c.b = toUnsigned(c.b);
                if (from == ValueClass::Signed) c.a = toUnsigned(c.a);
            }
            break;
        case ValueClass::SignedFourthUnsigned:
            if (from == ValueClass::Unsigned) {
                c.r = toSigned(c.r), c.g = toSigned(c.g), c.b = toSigned(c.b);
            } else if (from == ValueClass::Signed) {
                c.a = toUnsigned(c.a);
            } else {
                c = {ClampSigned(c.r), ClampSigned(c.g), ClampSigned(c.b), Clamp01(c.a)};
            }
            break;
        case ValueClass::Signed:
            if (from == ValueClass::Unsigned) {
                c = {toSigned(c.r), toSigned(c.g), toSigned(c.b), toSigned(c.a)};
            } else if (from == ValueClass::SignedFourthUnsigned) {
                c.a = toSigned(c.a);
            } else {
                c = {ClampSigned(c.r), ClampSigned(c.g), ClampSigned(c.b), ClampSigned(c.a)};
            }
            break;
        default: break;
        }
    }
}

void ClampToValueClass(std::span<Rgba> row, ValueClass valueClass) {
    switch (valueClass) {
    case ValueClass::Unsigned:
        for (Rgba& c : row) c = {Clamp01(c.r), Clamp01(c.g), Clamp01(c.b), Clamp01(c.a)};
        break;
    case ValueClass::SignedFourthUnsigned:
        for (Rgba& c : row) c = {ClampSigned(c.r), ClampSigned(c.g), ClampSigned(c.b), Clamp01(c.a)};
        break;
    case ValueClass::Signed:
        for (Rgba& c : row) c = {ClampSigned(c.r), ClampSigned(c.g), ClampSigned(c.b), ClampSigned(c.a)};
        break;
    default: break;
    }
}

TruncatingRounding::TruncatingRounding() : saved_(std::fegetround()) { std::fesetround(FE_TOWARDZERO); }
TruncatingRounding::~TruncatingRounding() { std::fesetround(saved_); }

FormatCodec::FormatCodec(const CodecInfo& info, const PixelBox& box) : info_(info), box_(box) {
    width_ = box.Width();
    height_ = box.Height();
    depth_ = box.Depth();
    if (info.layout == CodecLayout::Packed) {
        bytesPerPixel_ = info.bitsPerPixel / 8;
        rowBytes_ = width_ * bytesPerPixel_;
        firstPixel_ = box.pixels + static_cast<std::size_t>(box.box.front) * box.slicePitch +
                      static_cast<std::size_t>(box.box.top) * box.rowPitch +
                      static_cast<std::size_t>(box.box.left) * bytesPerPixel_;
    } else {
        firstPixel_ = box.pixels;
    }
}

FormatCodec::~FormatCodec() = default;

BYTE FormatCodec::NearestPaletteIndex(const Rgba& value, bool withAlpha) const {
    int best = 0;
    float bestDistance = 0.0f;
    for (int i = 0; i < 256; ++i) {
        const Rgba& e = palette_[static_cast<std::size_t>(i)];
        const float dr = e.r - value.r, dg = e.g - value.g, db = e.b - value.b, da = withAlpha ? e.a - value.a : 0.0f;
        const float distance = dr * dr + dg * dg + db * db + da * da;
        if (i == 0 || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return static_cast<BYTE>(best);
}

void FormatCodec::Linearise(Rgba* row) const {
    const bool fourthOnly = info_.valueClass == ValueClass::SignedFourthUnsigned;
    for (UINT x = 0; x < width_; ++x) {
        Rgba& c = row[x];
        if (bothSidesGamma_) {
            if (fourthOnly) {
                c.a = c.a * c.a;
            } else {
                c.r *= c.r, c.g *= c.g, c.b *= c.b;
            }
        } else if (fourthOnly) {
            c.a = GammaDecode(c.a);
        } else {
            c.r = GammaDecode(c.r), c.g = GammaDecode(c.g), c.b = GammaDecode(c.b);
        }
    }
}

void FormatCodec::Encode(Rgba* row) const {
    const bool fourthOnly = info_.valueClass == ValueClass::SignedFourthUnsigned;
    auto root = [](float v) { return std::sqrt(std::max(v, 0.0f)); };
    for (UINT x = 0; x < width_; ++x) {
        Rgba& c = row[x];
        if (bothSidesGamma_) {
            if (fourthOnly) {
                c.a = root(c.a);
            } else {
                c.r = root(c.r), c.g = root(c.g), c.b = root(c.b);
            }
        } else if (fourthOnly) {
            c.a = GammaEncode(c.a);
        } else {
            c.r = GammaEncode(c.r), c.g = GammaEncode(c.g), c.b = GammaEncode(c.b);
        }
    }
}

void FormatCodec::ReadRow(UINT y, UINT z, Rgba* out) {
    DecodeRow(y, z, out);
    if (colorKey_ != 0) {
        for (UINT x = 0; x < width_; ++x) {
            if (out[x] == keyColor_) out[x] = Rgba{};
        }
    }
    if (colorSpace_) Linearise(out);
}

void FormatCodec::WriteRow(UINT y, UINT z, const Rgba* in) {
    const Rgba* values = in;
    if (convertFrom_ != ValueClass::None || colorSpace_) {
        std::copy(in, in + width_, scratch_.begin());
        if (convertFrom_ != ValueClass::None) ConvertValueClass(scratch_, convertFrom_, info_.valueClass);
        if (colorSpace_) Encode(scratch_.data());
        values = scratch_.data();
    }
    TruncatingRounding rounding;
    EncodeRow(y, z, values, dither_);
}

void FormatCodec::PrepareColorKey() {
    if (colorKey_ == 0) return;
    Rgba key{static_cast<float>((colorKey_ >> 16) & 0xFF) / 255.0f, static_cast<float>((colorKey_ >> 8) & 0xFF) / 255.0f,
             static_cast<float>(colorKey_ & 0xFF) / 255.0f, static_cast<float>(colorKey_ >> 24) / 255.0f};
    if (info_.valueClass == ValueClass::SignedFourthUnsigned || info_.valueClass == ValueClass::Signed) {
        ConvertValueClass(std::span<Rgba>(&key, 1), ValueClass::Unsigned, info_.valueClass);
    }
    // The key is stored as the format would store it (quantised under truncating rounding, as
    // every write is), then decoded again under the default rounding, as ReadRow decodes the pixels
    // it compares: a decode under truncation can give a float one step lower than the pixel's.
    Rgba stored;
    {
        TruncatingRounding rounding;
        stored = QuantiseOne(key);
    }
    keyColor_ = QuantiseOne(stored);
}

bool FormatCodec::SetConvertFrom(ValueClass from) {
    convertFrom_ = from;
    try {
        scratch_.resize(width_);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

std::unique_ptr<FormatCodec> CreateFormatCodec(const PixelBox& box) {
    const CodecInfo* info = FindCodecInfo(box.format);
    if (info == nullptr || box.pixels == nullptr || box.box.right < box.box.left || box.box.bottom < box.box.top ||
        box.box.back < box.box.front) {
        return nullptr;
    }
    try {
        std::unique_ptr<FormatCodec> codec;
        switch (info->layout) {
        case CodecLayout::Packed: codec = std::make_unique<PackedCodec>(*info, *FindPackedLayout(box.format), box); break;
        case CodecLayout::TwoPixel: codec = std::make_unique<TwoPixelCodec>(*info, box); break;
        case CodecLayout::Block: codec = MakeDxtCodec(*info, box); break;
        }
        const ValueClass cls = info->valueClass;
        codec->colorSpace_ = box.colorSpace && (cls == ValueClass::Unsigned || cls == ValueClass::Float ||
                                                (cls == ValueClass::SignedFourthUnsigned && box.format == D3DFMT_L6V5U5));
        codec->dither_ = box.dither;
        codec->colorKey_ = box.colorKey;
        codec->palettized_ = box.format == D3DFMT_P8 || box.format == D3DFMT_A8P8;
        codec->palette_.assign(256, Rgba{1.0f, 1.0f, 1.0f, 1.0f});
        if (box.palette != nullptr) {
            for (std::size_t i = 0; i < 256; ++i) {
                const PALETTEENTRY& e = box.palette[i];
                codec->palette_[i] = {e.peRed / 255.0f, e.peGreen / 255.0f, e.peBlue / 255.0f, e.peFlags / 255.0f};
            }
        }
        if (codec->colorSpace_) codec->scratch_.resize(codec->width_);
        codec->PrepareColorKey();
        return codec;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace qm
