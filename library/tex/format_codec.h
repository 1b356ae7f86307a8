// format_codec.h: per-format readers and writers of pixel rows as four-float RGBA values
// (FormatCodec), the table of formats they cover, and the value-class, gamma, colour-key and
// ordered-dither rules they share.
#pragma once

#include <memory>
#include <span>
#include <vector>

#include "library/tex/pixel_box.h"
#include "platform/d3d9/d3d9types.h"
#include "platform/win/win_types.h"

namespace qm {

// One pixel as four floats.
struct Rgba {
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;
    float a = 0.0f;

    friend bool operator==(const Rgba&, const Rgba&) = default;
};

// What the four floats of a format mean.
enum class ValueClass : int {
    None = 0,
    Unsigned = 1,        // unsigned normalised, [0, 1]
    SignedFourthUnsigned = 2,  // red, green, blue signed [-1, 1]; the fourth channel unsigned [0, 1]
    Signed = 3,          // all four signed, [-1, 1]
    Float = 4,           // floating point, unbounded
};

// How a format's pixels are laid out in memory.
enum class CodecLayout : int {
    Packed,    // whole bytes per pixel
    TwoPixel,  // 4-byte blocks of two pixels (YUY2, UYVY, RGBG, GRGB)
    Block,     // 4 x 4 blocks (DXT1-DXT5)
};

// One row of the codec table.
struct CodecInfo {
    D3DFORMAT format;
    UINT bitsPerPixel;  // per pixel; 4 x 4 block formats give bits per pixel of the block
    ValueClass valueClass;
    CodecLayout layout;
};

// Every format a codec exists for, in a fixed order.
std::span<const CodecInfo> CodecTable();
// The row of a format, or null when no codec exists for it.
const CodecInfo* FindCodecInfo(D3DFORMAT format);

// The ordered-dither value for pixel (x, y) of slice z: the 4 x 4 matrix (row 0: 31, 15, 27, 11;
// row 1: 7, 23, 3, 19; row 2: 25, 9, 29, 13; row 3: 1, 17, 5, 21, each / 32) with each row stored
// twice, read at position (z mod 4) + (x mod 4) of row (y mod 4).
float DitherValue(UINT x, UINT y, UINT z);
// The value added before truncation when no dither is requested.
inline constexpr float kNoDither = 0.5f;

// Luminance weights used by the luminance formats and the DXT encoder.
inline constexpr float kLuminanceRed = 0.2125f;
inline constexpr float kLuminanceGreen = 0.7154f;
inline constexpr float kLuminanceBlue = 0.0721f;

// Gamma 2.2 through the two 256-entry tables: decoding interpolates S[k] = (k / 254)^1.1 at
// t = v^2 x 254, encoding T[k] = (k / 254)^(1 / 1.1) at t = sqrt(v) x 254 (S[255] = T[255] = 1).
// Values outside [0, 1] are clamped to it first.
float GammaDecode(float v);
float GammaEncode(float v);

// Converts a row of values from one value class to another, in place, by the conversion table
// (unsigned <-> signed by 2v - 1 and (v + 1) / 2 on the channels each class treats as signed;
// from floats by clamping to the destination's range). Nothing happens when the classes are equal,
// when either is None, or when the destination class is Float.
void ConvertValueClass(std::span<Rgba> row, ValueClass from, ValueClass to);

// Clamps a row to the range of a value class (Float rows are left alone).
void ClampToValueClass(std::span<Rgba> row, ValueClass valueClass);

// Sets the floating-point rounding to truncation for the lifetime of the object, and restores the
// previous mode afterwards. Quantisation runs under it.
class TruncatingRounding {
public:
    TruncatingRounding();
    ~TruncatingRounding();
    TruncatingRounding(const TruncatingRounding&) = delete;
    TruncatingRounding& operator=(const TruncatingRounding&) = delete;

private:
    int saved_;
};

// Reads and writes the rows of one PixelBox as four-float values. Rows and slices are numbered from
// the box's top and front (0 to Height() - 1 and 0 to Depth() - 1); a row is Width() pixels.
class FormatCodec {
public:
    virtual ~FormatCodec();
    FormatCodec(const FormatCodec&) = delete;
    FormatCodec& operator=(const FormatCodec&) = delete;

    // Decodes row y of slice z; then pixels that equal the quantised colour key exactly become
    // 0, 0, 0, 0; then, with the colour-space flag, the values are linearised. out holds Width().
    void ReadRow(UINT y, UINT z, Rgba* out);
    // Converts from the pending source value class (when set), gamma-encodes (with the colour-space
    // flag), quantises with the dither value and stores row y of slice z. in holds Width() values
    // and is not changed.
    void WriteRow(UINT y, UINT z, const Rgba* in);
    // Turns the colour key into the pixel value this format decodes it as (see ReadRow).
    void PrepareColorKey();

    // Makes WriteRow convert from the given class first. False when the scratch row cannot be made.
    bool SetConvertFrom(ValueClass from);
    // Marks both codecs as gamma-encoded on both sides (the square / square-root pair is used).
    void SetBothSidesGamma(bool on) { bothSidesGamma_ = on; }
    // Drops the colour-space flag (used when a strategy works in the encoded values directly).
    void ClearColorSpace() { colorSpace_ = false; }

    D3DFORMAT Format() const { return info_.format; }
    const CodecInfo& Info() const { return info_; }
    ValueClass Class() const { return info_.valueClass; }
    bool ColorSpace() const { return colorSpace_; }
    bool Palettized() const { return palettized_; }
    bool HasColorKey() const { return colorKey_ != 0; }
    bool Dither() const { return dither_; }
    UINT Width() const { return width_; }
    UINT Height() const { return height_; }
    UINT Depth() const { return depth_; }
    UINT BytesPerPixel() const { return bytesPerPixel_; }  // 0 for two-pixel and block formats
    UINT RowBytes() const { return rowBytes_; }            // Width() x BytesPerPixel() (packed formats)
    const PixelBox& Box() const { return box_; }
    // The first byte of row y of slice z of the box (packed formats).
    BYTE* RowAddress(UINT y, UINT z) const {
        return firstPixel_ + static_cast<std::size_t>(z) * box_.slicePitch + static_cast<std::size_t>(y) * box_.rowPitch;
    }
    const Rgba* PaletteColors() const { return palette_.data(); }

protected:
    FormatCodec(const CodecInfo& info, const PixelBox& box);

    // Format-specific decoding of Width() pixels of row y, slice z (box-relative).
    virtual void DecodeRow(UINT y, UINT z, Rgba* out) = 0;
    // Format-specific quantisation and storage of Width() pixels; dither says whether the matrix is
    // used (else kNoDither).
    virtual void EncodeRow(UINT y, UINT z, const Rgba* in, bool dither) = 0;
    // Quantises one value as the format stores it and decodes it back (the colour key).
    virtual Rgba QuantiseOne(const Rgba& value) = 0;

    float DitherAt(UINT x, UINT y, UINT z, bool dither) const {
        return dither ? DitherValue(x + box_.box.left, y + box_.box.top, z + box_.box.front) : kNoDither;
    }
    // The palette index nearest to the value in squared distance over the channels (lowest among equals).
    BYTE NearestPaletteIndex(const Rgba& value, bool withAlpha) const;

    const CodecInfo info_;
    const PixelBox box_;
    BYTE* firstPixel_ = nullptr;  // the box's first pixel (packed formats), else box_.pixels
    UINT width_ = 0;
    UINT height_ = 0;
    UINT depth_ = 0;
    UINT bytesPerPixel_ = 0;
    UINT rowBytes_ = 0;

private:
    friend std::unique_ptr<FormatCodec> CreateFormatCodec(const PixelBox& box);
    void Linearise(Rgba* row) const;
    void Encode(Rgba* row) const;

    bool colorSpace_ = false;
    bool bothSidesGamma_ = false;
    bool palettized_ = false;
    bool dither_ = false;
    D3DCOLOR colorKey_ = 0;
    Rgba keyColor_;
    ValueClass convertFrom_ = ValueClass::None;
    std::vector<Rgba> palette_;   // 256 entries, the PixelBox palette / 255, or all 1.0
    std::vector<Rgba> scratch_;   // Width() values for conversion and encoding
};

// The codec for a box, with its colour key prepared; null when no codec exists for the format,
// the box is empty or inverted, or memory runs out.
std::unique_ptr<FormatCodec> CreateFormatCodec(const PixelBox& box);

}  // namespace qm
