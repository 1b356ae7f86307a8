// pixel_convert_test.cpp: format codecs and the conversion strategies, against values worked out
// by hand from the quantisation, class-conversion, dither and resampling rules.
#include <gtest/gtest.h>

#include <cmath>

#include "library/tex/convert_filter.h"
#include "library/tex/format_codec.h"
#include "platform/win/results.h"
#include "tests/tex/pixel_test_support.h"

namespace qm {
namespace {

using pixeltest::Image;
using pixeltest::Random;

DWORD Argb(DWORD a, DWORD r, DWORD g, DWORD b) { return (a << 24) | (r << 16) | (g << 8) | b; }

Image FloatImage(UINT width, UINT height, std::initializer_list<float> reds) {
    Image image(D3DFMT_R32F, width, height, 4);
    UINT i = 0;
    for (float v : reds) image.Set<float>(i % width, i / width, v), ++i;
    return image;
}

TEST(FilterWord, KindsAndFlagsAreValidated) {
    Image src(D3DFMT_A8R8G8B8, 2, 2, 4), dst(D3DFMT_A8R8G8B8, 2, 2, 4);
    for (DWORD bad : {0u, 6u, 0xFFFFu, FILTER_BOX | 0x400000u, FILTER_POINT | 0x80000000u, FILTER_NONE | 0x8000u}) {
        EXPECT_FALSE(IsValidFilter(bad)) << bad;
        EXPECT_EQ(ConvertAndFilter(dst.box, src.box, bad), D3DERR_INVALIDCALL) << bad;
    }
    for (DWORD good : {FILTER_NONE, FILTER_BOX | FILTER_MIRROR | FILTER_DITHER | FILTER_SRGB, FILTER_TRIANGLE}) {
        EXPECT_TRUE(IsValidFilter(good));
        EXPECT_EQ(ConvertAndFilter(dst.box, src.box, good), S_OK);
    }
    Image unknown(static_cast<D3DFORMAT>(999), 2, 2, 4);
    EXPECT_EQ(ConvertAndFilter(dst.box, unknown.box, FILTER_NONE), E_FAIL);
}

// Values a codec can represent (those it decodes after storing anything) survive a second store
// and decode unchanged. Signed classes use values from 0 to 1: their negative codes move one step
// toward zero when stored again, as truncation requires (checked with V8U8 below).
TEST(FormatCodecs, RepresentableValuesRoundTripThroughEveryCodec) {
    PALETTEENTRY palette[256];
    for (int i = 0; i < 256; ++i) palette[i] = {BYTE(i), BYTE(255 - i), BYTE(i * 7), BYTE(i ^ 0x5A)};
    Random random;
    int tested = 0;
    for (const CodecInfo& info : CodecTable()) {
        // The YUV formats are lossy by construction; DXT blocks have their own tests.
        if (info.layout == CodecLayout::Block || info.format == D3DFMT_YUY2 || info.format == D3DFMT_UYVY) continue;
        const UINT width = 16, bytesPerPixel = info.bitsPerPixel / 8;
        Image image(info.format, width, 1, bytesPerPixel);
        image.box.palette = palette;
        auto codec = CreateFormatCodec(image.box);
        ASSERT_TRUE(codec) << info.format;
        const float scale = info.valueClass == ValueClass::Float ? 4.0f : 1.0f;
        const float offset = info.valueClass == ValueClass::Float ? -2.0f : 0.0f;
        std::vector<Rgba> values(width), first(width), second(width);
        for (Rgba& v : values) {
            v = {random.Unit() * scale + offset, random.Unit() * scale + offset, random.Unit() * scale + offset,
                 random.Unit() * scale + offset};
        }
        codec->WriteRow(0, 0, values.data());
        codec->ReadRow(0, 0, first.data());
        codec->WriteRow(0, 0, first.data());
        codec->ReadRow(0, 0, second.data());
        for (UINT x = 0; x < width; ++x) EXPECT_EQ(first[x], second[x]) << "format " << info.format << " pixel " << x;
        ++tested;
    }
    EXPECT_EQ(tested, static_cast<int>(CodecTable().size()) - 7);
}

TEST(FormatCodecs, BitLayoutsDecodeAsDirect3DDefinesThem) {
    struct Case {
        D3DFORMAT format;
        UINT bytes;
        std::uint64_t code;
        Rgba expected;
    };
    const Case cases[] = {
        {D3DFMT_R5G6B5, 2, 0xF81F, {1, 0, 1, 1}},
        {D3DFMT_A4R4G4B4, 2, 0x8F00, {1, 0, 0, 8 / 15.f}},
        {D3DFMT_A1R5G5B5, 2, 0x801F, {0, 0, 1, 1}},
        {D3DFMT_R3G3B2, 1, 0xE0, {1, 0, 0, 1}},
        {D3DFMT_A8, 1, 0x33, {0, 0, 0, 0x33 / 255.f}},
        {D3DFMT_A2B10G10R10, 4, 0xC00003FFull, {1, 0, 0, 1}},
        {D3DFMT_A2R10G10B10, 4, 0x400003FFull, {0, 0, 1, 1 / 3.f}},
        {D3DFMT_G16R16, 4, 0xFFFF0000ull, {0, 1, 1, 1}},
        {D3DFMT_A8L8, 2, 0x8040, {0x40 / 255.f, 0x40 / 255.f, 0x40 / 255.f, 0x80 / 255.f}},
        {D3DFMT_A4L4, 1, 0x3C, {12 / 15.f, 12 / 15.f, 12 / 15.f, 3 / 15.f}},
        {D3DFMT_V8U8, 2, 0x807F, {1, -1, 1, 1}},                // -128 reads as -127
        {D3DFMT_L6V5U5, 2, 0xFC10, {-1, 0, 1, 1}},              // U = -16 -> -15, L = 63
        {D3DFMT_Q8W8V8U8, 4, 0x81007F00ull, {0, 1, 0, -1}},
        {D3DFMT_X8L8V8U8, 4, 0x00FF0081ull, {-1, 0, 1, 1}},
        {D3DFMT_R16F, 2, 0x3C00, {1, 1, 1, 1}},
        {D3DFMT_G16R16F, 4, 0xC0003800ull, {0.5f, -2, 1, 1}},
        {kFormatAL16, 4, 0xFFFF0000ull, {0, 0, 0, 1}},
        {kFormatR16, 6, 0xFFFF00000000ull, {1, 0, 0, 1}},
    };
    for (const Case& c : cases) {
        Image image(c.format, 1, 1, c.bytes);
        std::memcpy(image.bytes.data(), &c.code, c.bytes);
        auto codec = CreateFormatCodec(image.box);
        ASSERT_TRUE(codec);
        Rgba v;
        codec->ReadRow(0, 0, &v);
        EXPECT_NEAR(v.r, c.expected.r, 1e-6) << c.format;
        EXPECT_NEAR(v.g, c.expected.g, 1e-6) << c.format;
        EXPECT_NEAR(v.b, c.expected.b, 1e-6) << c.format;
        EXPECT_NEAR(v.a, c.expected.a, 1e-6) << c.format;
    }
}

TEST(FormatCodecs, TwoPixelFormatsUseStudioRangeAndSharedChroma) {
    Image yuy2(D3DFMT_YUY2, 2, 1, 2);
    const BYTE white[4] = {235, 128, 16, 128};  // Y0 U Y1 V: white then black
    std::memcpy(yuy2.bytes.data(), white, 4);
    auto codec = CreateFormatCodec(yuy2.box);
    Rgba row[2];
    codec->ReadRow(0, 0, row);
    EXPECT_NEAR(row[0].r, 1.0f, 1e-4);
    EXPECT_NEAR(row[0].g, 1.0f, 1e-4);
    EXPECT_NEAR(row[1].b, 0.0f, 1e-6);
    // Encoding: Y from each pixel, chroma from the first pixel of the pair; pure red is Y 81, Cb 90, Cr 240.
    Rgba red[2] = {{1, 0, 0, 1}, {0, 0, 0, 1}};
    Image uyvy(D3DFMT_UYVY, 2, 1, 2);
    CreateFormatCodec(uyvy.box)->WriteRow(0, 0, red);
    EXPECT_EQ(uyvy.bytes, (std::vector<BYTE>{90, 81, 240, 16}));  // floor(81.481 + 0.5) = 81

    Image rgbg(D3DFMT_R8G8_B8G8, 2, 1, 2);
    Rgba two[2] = {{1, 0.2f, 0, 1}, {0, 0.6f, 1, 1}};
    CreateFormatCodec(rgbg.box)->WriteRow(0, 0, two);
    // R G0 B G1 with trunc(v x 255 + 0.5): red and blue of the first pixel.
    EXPECT_EQ(rgbg.bytes, (std::vector<BYTE>{255, 51, 0, 153}));
}

TEST(FormatCodecs, ClassConversionAndSignedStorage) {
    // Unsigned 0, 128/255 and 1 into V8U8: 2v - 1 then trunc(v x 127 + 0.5).
    Image src(D3DFMT_A8R8G8B8, 3, 1, 4), dst(D3DFMT_V8U8, 3, 1, 2);
    src.Set<DWORD>(0, 0, Argb(255, 0, 255, 0));
    src.Set<DWORD>(1, 0, Argb(255, 128, 128, 0));
    src.Set<DWORD>(2, 0, Argb(255, 255, 0, 0));
    ASSERT_EQ(ConvertAndFilter(dst.box, src.box, FILTER_NONE), S_OK);
    EXPECT_EQ(static_cast<std::int8_t>(dst.bytes[0]), -126);  // U from red 0
    EXPECT_EQ(static_cast<std::int8_t>(dst.bytes[1]), 127);   // V from green 1
    EXPECT_EQ(static_cast<std::int8_t>(dst.bytes[2]), 0);     // 2 x 128/255 - 1 = 0.0039
    EXPECT_EQ(static_cast<std::int8_t>(dst.bytes[4]), 127);
    EXPECT_EQ(static_cast<std::int8_t>(dst.bytes[5]), -126);

    // And back: (v + 1) / 2 on red, green, blue; V8U8's blue reads 1.
    Image back(D3DFMT_A8R8G8B8, 3, 1, 4);
    ASSERT_EQ(ConvertAndFilter(back.box, dst.box, FILTER_NONE), S_OK);
    // U -126 -> -126/127 -> 1/254 -> trunc(255/254 + 0.5) = 1.
    EXPECT_EQ(back.At<DWORD>(0, 0), Argb(255, 1, 255, 255));
    EXPECT_EQ(back.At<DWORD>(2, 0), Argb(255, 255, 1, 255));

    // Floats into an unsigned format are clamped.
    Image floats = FloatImage(2, 1, {-3.0f, 7.0f});
    Image l8(D3DFMT_L8, 2, 1, 1);
    ASSERT_EQ(ConvertAndFilter(l8.box, floats.box, FILTER_NONE), S_OK);
    EXPECT_EQ(l8.bytes[0], 201);  // (0, 1, 1): trunc((0.7154 + 0.0721) x 255 + 0.5)
    EXPECT_EQ(l8.bytes[1], 255);
}

TEST(FormatCodecs, ColorKeyBecomesTransparentBlack) {
    Image src(D3DFMT_R5G6B5, 3, 1, 2), dst(D3DFMT_A8R8G8B8, 3, 1, 4);
    src.Set<WORD>(0, 0, 0x0000);
    src.Set<WORD>(1, 0, 0xF800);
    src.Set<WORD>(2, 0, 0x0001);  // nearly black is not the key
    src.box.colorKey = 0xFF000000;
    ASSERT_EQ(ConvertAndFilter(dst.box, src.box, FILTER_NONE), S_OK);
    EXPECT_EQ(dst.At<DWORD>(0, 0), 0x00000000u);
    EXPECT_EQ(dst.At<DWORD>(1, 0), 0xFFFF0000u);
    EXPECT_EQ(dst.At<DWORD>(2, 0), 0xFF000008u);  // 1/31 -> trunc(8.226 + 0.5)
    // The key is compared after quantisation: 0xFF020202 is stored by R5G6B5 as black.
    src.box.colorKey = 0xFF020202;
    ASSERT_EQ(ConvertAndFilter(dst.box, src.box, FILTER_NONE), S_OK);
    EXPECT_EQ(dst.At<DWORD>(0, 0), 0x00000000u);

    // Any key matches its own colour exactly, not only keys whose channels are 0 or 255.
    Image argb(D3DFMT_A8R8G8B8, 3, 1, 4);
    argb.Set<DWORD>(0, 0, 0x04010203);
    argb.Set<DWORD>(1, 0, 0x04010204);
    argb.Set<DWORD>(2, 0, 0x8040A0C0);
    for (DWORD key : {0x04010203u, 0x8040A0C0u}) {
        argb.box.colorKey = key;
        ASSERT_EQ(ConvertAndFilter(dst.box, argb.box, FILTER_NONE), S_OK);
        EXPECT_EQ(dst.At<DWORD>(0, 0), key == 0x04010203u ? 0u : 0x04010203u) << std::hex << key;
        EXPECT_EQ(dst.At<DWORD>(1, 0), 0x04010204u);
        EXPECT_EQ(dst.At<DWORD>(2, 0), key == 0x8040A0C0u ? 0u : 0x8040A0C0u) << std::hex << key;
    }
}

TEST(FormatCodecs, OrderedDitherAndPaletteChoice) {
    // Alpha 0.3/255 stores 1 where the matrix value is at least 0.7 and 0 elsewhere.
    Image src(D3DFMT_A32B32G32R32F, 4, 4, 16), dst(D3DFMT_A8, 4, 4, 1);
    for (UINT y = 0; y < 4; ++y) {
        for (UINT x = 0; x < 4; ++x) src.Set<float>(x * 4 + 3, y, 0.3f / 255.0f);
    }
    ASSERT_EQ(ConvertAndFilter(dst.box, src.box, FILTER_NONE | FILTER_DITHER), S_OK);
    const BYTE expected[16] = {1, 0, 1, 0, 0, 1, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(dst.bytes[i], expected[i]) << i;
    ASSERT_EQ(ConvertAndFilter(dst.box, src.box, FILTER_NONE), S_OK);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(dst.bytes[i], 0) << i;
    // A matrix row is read at (z mod 4) + (x mod 4): slice 1 shifts it by one.
    EXPECT_EQ(DitherValue(0, 0, 1), 15 / 32.f);
    EXPECT_EQ(DitherValue(3, 2, 2), 9 / 32.f);

    // P8 stores the nearest entry over red, green, blue and alpha; the lowest index among equals.
    PALETTEENTRY palette[256] = {};
    palette[3] = {200, 0, 0, 255};
    palette[7] = {250, 0, 0, 255};
    palette[9] = {250, 0, 0, 255};
    Image colors(D3DFMT_A8R8G8B8, 2, 1, 4), indices(D3DFMT_P8, 2, 1, 1);
    colors.Set<DWORD>(0, 0, Argb(255, 220, 0, 0));
    colors.Set<DWORD>(1, 0, Argb(255, 240, 0, 0));
    indices.box.palette = palette;
    ASSERT_EQ(ConvertAndFilter(indices.box, colors.box, FILTER_NONE | FILTER_DITHER), S_OK);
    EXPECT_EQ(indices.bytes[0], 3);
    EXPECT_EQ(indices.bytes[1], 7);
}

TEST(FormatCodecs, GammaTablesAndColourSpaceFlags) {
    auto table = [](double k) { return k >= 255 ? 1.0 : std::pow(k / 254.0, 1.1); };
    // 0.5 -> t = 0.25 x 254 = 63.5: halfway between S[63] and S[64].
    const double expected = 0.5 * (table(63) + table(64));
    EXPECT_NEAR(GammaDecode(0.5f), expected, 1e-6);
    EXPECT_NEAR(GammaDecode(1.0f), 1.0, 1e-7);
    EXPECT_NEAR(GammaEncode(GammaDecode(0.3f)), 0.3, 2e-3);

    Image src = FloatImage(1, 1, {0.5f});
    Image dst(D3DFMT_R32F, 1, 1, 4);
    ASSERT_EQ(ConvertAndFilter(dst.box, src.box, FILTER_NONE | FILTER_SRGB_IN), S_OK);
    EXPECT_NEAR(dst.At<float>(0, 0), expected, 1e-6);
    // Both sides encoded and same size: values pass through untouched.
    ASSERT_EQ(ConvertAndFilter(dst.box, src.box, FILTER_NONE | FILTER_SRGB), S_OK);
    EXPECT_EQ(dst.At<float>(0, 0), 0.5f);
}

TEST(ConvertStrategies, BoxHalvesWithRoundedIntegerMeans) {
    Random random;
    Image src(D3DFMT_A8R8G8B8, 256, 256, 4), dst(D3DFMT_A8R8G8B8, 128, 128, 4);
    for (UINT y = 0; y < 256; ++y) {
        for (UINT x = 0; x < 256; ++x) src.Set<DWORD>(x, y, random.Next());
    }
    ASSERT_EQ(ConvertAndFilter(dst.box, src.box, FILTER_BOX), S_OK);
    for (UINT y = 0; y < 128; ++y) {
        for (UINT x = 0; x < 128; ++x) {
            const DWORD p[4] = {src.At<DWORD>(2 * x, 2 * y), src.At<DWORD>(2 * x + 1, 2 * y),
                                src.At<DWORD>(2 * x, 2 * y + 1), src.At<DWORD>(2 * x + 1, 2 * y + 1)};
            DWORD expected = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                DWORD sum = 2;
                for (DWORD v : p) sum += (v >> shift) & 0xFF;
                expected |= (sum >> 2) << shift;
            }
            ASSERT_EQ(dst.At<DWORD>(x, y), expected) << x << "," << y;
        }
    }

    // 5-6-5: each field on its own. (31 + 0 + 0 + 0 + 2) >> 2 = 8 red, (63 x 2 + 2) >> 2 = 32 green.
    Image small(D3DFMT_R5G6B5, 2, 2, 2), one(D3DFMT_R5G6B5, 1, 1, 2);
    small.Set<WORD>(0, 0, 0xF800);
    small.Set<WORD>(1, 0, 0x07E0);
    small.Set<WORD>(0, 1, 0x07E0);
    small.Set<WORD>(1, 1, 0x001F);
    ASSERT_EQ(ConvertAndFilter(one.box, small.box, FILTER_BOX), S_OK);
    EXPECT_EQ(one.At<WORD>(0, 0), (8 << 11) | (32 << 5) | 8);

    // 3 x 3 to 1 x 1 drops the last row and column, in the float path as well.
    Image odd = FloatImage(3, 3, {1, 2, 100, 3, 6, 100, 100, 100, 100});
    Image mean(D3DFMT_R32F, 1, 1, 4);
    ASSERT_EQ(ConvertAndFilter(mean.box, odd.box, FILTER_BOX), S_OK);
    EXPECT_FLOAT_EQ(mean.At<float>(0, 0), 3.0f);

    // A 2 x 2 x 2 volume to 1 x 1 x 1 averages all eight.
    Image volume(D3DFMT_R32F, 2, 2, 4, 2), voxel(D3DFMT_R32F, 1, 1, 4);
    for (int i = 0; i < 8; ++i) volume.Set<float>(i % 2, (i / 2) % 2, static_cast<float>(i), i / 4);
    ASSERT_EQ(ConvertAndFilter(voxel.box, volume.box, FILTER_BOX), S_OK);
    EXPECT_FLOAT_EQ(voxel.At<float>(0, 0), 3.5f);
}

TEST(ConvertStrategies, PackedBoxRowVariantsAgree) {
    Random random;
    std::vector<DWORD> row0(2 * 37), row1(2 * 37), a(37), b(37);
    for (int round = 0; round < 50; ++round) {
        for (auto& v : row0) v = random.Next();
        for (auto& v : row1) v = random.Next();
        BoxReduceArgbRowPortable(a.data(), row0.data(), row1.data(), 37);
        BoxReduceArgbRow(b.data(), row0.data(), row1.data(), 37);
        ASSERT_EQ(a, b);
    }
}

TEST(ConvertStrategies, TentWeightsForOtherRatios) {
    // 4 x 4 to 3 x 3 with FILTER_BOX is not 2:1: tent resampling, clamped at the edges. Each row is
    // 0, 0, 0, 1. Cell 2 takes 0.0104 + 0.3646 + 0.375 from the last pixel; cell 1 takes 0.0104.
    Image src = FloatImage(4, 4, {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1});
    Image dst(D3DFMT_R32F, 3, 3, 4);
    ASSERT_EQ(ConvertAndFilter(dst.box, src.box, FILTER_BOX | FILTER_MIRROR), S_OK);
    for (UINT y = 0; y < 3; ++y) {
        EXPECT_NEAR(dst.At<float>(0, y), 0.0f, 1e-6);
        EXPECT_NEAR(dst.At<float>(1, y), 1.0f / 96.0f, 1e-5);
        EXPECT_NEAR(dst.At<float>(2, y), 71.0f / 96.0f, 1e-5);
    }
    // Wrapping: the last pixel's second half lands on cell 0 (0.375 x 0.25) and cell 2 (0.375 x 0.75).
    ASSERT_EQ(ConvertAndFilter(dst.box, src.box, FILTER_TRIANGLE), S_OK);
    for (UINT y = 0; y < 3; ++y) {
        EXPECT_NEAR(dst.At<float>(0, y), 9.0f / 96.0f, 1e-5);
        EXPECT_NEAR(dst.At<float>(1, y), 1.0f / 96.0f, 1e-5);
        EXPECT_NEAR(dst.At<float>(2, y), 62.0f / 96.0f, 1e-5);
    }
    // Upscaling 2 to 4 keeps a constant image constant and clamps to the source class.
    Image flat(D3DFMT_A8R8G8B8, 2, 2, 4), big(D3DFMT_A8R8G8B8, 4, 4, 4);
    for (UINT i = 0; i < 4; ++i) flat.Set<DWORD>(i % 2, i / 2, 0xFF804020u);
    ASSERT_EQ(ConvertAndFilter(big.box, flat.box, FILTER_TRIANGLE), S_OK);
    for (UINT i = 0; i < 16; ++i) EXPECT_EQ(big.At<DWORD>(i % 4, i / 4), 0xFF804020u);
}

TEST(ConvertStrategies, NonePointAndLinear) {
    // FILTER_NONE: 10 x 10 into 16 x 16 keeps the source and leaves the band transparent black.
    Image src(D3DFMT_A8R8G8B8, 10, 10, 4), dst(D3DFMT_A8R8G8B8, 16, 16, 4);
    for (UINT i = 0; i < 100; ++i) src.Set<DWORD>(i % 10, i / 10, 0xFF000000u | i);
    std::fill(dst.bytes.begin(), dst.bytes.end(), 0xAB);
    ASSERT_EQ(ConvertAndFilter(dst.box, src.box, FILTER_NONE), S_OK);
    for (UINT y = 0; y < 16; ++y) {
        for (UINT x = 0; x < 16; ++x) {
            EXPECT_EQ(dst.At<DWORD>(x, y), x < 10 && y < 10 ? 0xFF000000u | (y * 10 + x) : 0u) << x << "," << y;
        }
    }
    // FILTER_POINT: 3 to 2 steps by floor(3 x 65536 / 2) = 98304: source 0 and 1.
    Image three = FloatImage(3, 1, {10, 20, 30});
    Image two(D3DFMT_R32F, 2, 1, 4);
    ASSERT_EQ(ConvertAndFilter(two.box, three.box, FILTER_POINT), S_OK);
    EXPECT_EQ(two.At<float>(0, 0), 10.0f);
    EXPECT_EQ(two.At<float>(1, 0), 20.0f);
    // FILTER_LINEAR 2 to 4: t = (i + 0.5) / 2 + 0.5; edges clamp with the mirror flag, else wrap.
    Image pair = FloatImage(2, 1, {0, 1});
    Image four(D3DFMT_R32F, 4, 1, 4);
    ASSERT_EQ(ConvertAndFilter(four.box, pair.box, FILTER_LINEAR | FILTER_MIRROR), S_OK);
    const float clamped[4] = {0, 0.25f, 0.75f, 1};
    for (UINT x = 0; x < 4; ++x) EXPECT_FLOAT_EQ(four.At<float>(x, 0), clamped[x]);
    ASSERT_EQ(ConvertAndFilter(four.box, pair.box, FILTER_LINEAR), S_OK);
    const float wrapped[4] = {0.25f, 0.25f, 0.75f, 0.75f};
    for (UINT x = 0; x < 4; ++x) EXPECT_FLOAT_EQ(four.At<float>(x, 0), wrapped[x]);
}

}  // namespace
}  // namespace qm
