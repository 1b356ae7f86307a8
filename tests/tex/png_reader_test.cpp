// png_reader_test.cpp: the PNG reader: colour types, 16-bit private formats, transparency, gamma,
// palettes, interlacing and damaged data.
#include <png.h>

#include "tests/tex/reader_test_support.h"

namespace qm::test {
namespace {

PngFile Png(std::uint32_t width, std::uint32_t height, int bitDepth, int colorType, Bytes rows) {
    PngFile layout;
    layout.width = width;
    layout.height = height;
    layout.bitDepth = bitDepth;
    layout.colorType = colorType;
    layout.rows = std::move(rows);
    return layout;
}

TEST(PngReader, EightBitColourBecomesBlueFirstWithFiller) {
    SourceImage image;
    ImageInfo info;
    ASSERT_EQ(Parse(WritePng(Png(2, 1, 8, PNG_COLOR_TYPE_RGB, {10, 20, 30, 40, 50, 60})), &image, &info), S_OK);
    EXPECT_EQ(info.fileFormat, ImageFileFormat::Png);
    EXPECT_EQ(image.format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(image.rowPitch, 8u);
    EXPECT_EQ(U32At(image, 0, 0), 0xFF0A141Eu);
    EXPECT_EQ(U32At(image, 1, 0), 0xFF28323Cu);

    ASSERT_EQ(Parse(WritePng(Png(1, 1, 8, PNG_COLOR_TYPE_RGB_ALPHA, {1, 2, 3, 4})), &image), S_OK);
    EXPECT_EQ(image.format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(U32At(image, 0, 0), 0x04010203u);

    ASSERT_EQ(Parse(WritePng(Png(1, 1, 8, PNG_COLOR_TYPE_GRAY_ALPHA, {100, 200})), &image), S_OK);
    EXPECT_EQ(image.format, D3DFMT_A8L8);
    EXPECT_EQ(U16At(image, 0, 0), 0xC864u);

    // A colour key in tRNS becomes an alpha channel.
    PngFile keyed = Png(2, 1, 8, PNG_COLOR_TYPE_RGB, {1, 2, 3, 4, 5, 6});
    keyed.transparentRgb[0] = 4;
    keyed.transparentRgb[1] = 5;
    keyed.transparentRgb[2] = 6;
    ASSERT_EQ(Parse(WritePng(keyed), &image), S_OK);
    EXPECT_EQ(image.format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(U32At(image, 0, 0), 0xFF010203u);
    EXPECT_EQ(U32At(image, 1, 0), 0x00040506u);
}

TEST(PngReader, SixteenBitSamplesGivePrivateAndWideFormats) {
    const Bytes rgb = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03};
    SourceImage image;
    ImageInfo info;
    ASSERT_EQ(Parse(WritePng(Png(2, 1, 16, PNG_COLOR_TYPE_RGB, rgb)), &image, &info), S_OK);
    EXPECT_EQ(image.format, kFormatR16);
    EXPECT_EQ(info.format, D3DFMT_R8G8B8);
    EXPECT_EQ(image.rowPitch, 12u);
    EXPECT_EQ(U16At(image, 0, 0), 0x9ABCu);  // blue, green, red, little-endian
    EXPECT_EQ(U16At(image, 1, 0), 0x5678u);
    EXPECT_EQ(U16At(image, 2, 0), 0x1234u);

    PngFile keyed = Png(2, 1, 16, PNG_COLOR_TYPE_RGB, rgb);
    keyed.transparentRgb[0] = 1;
    keyed.transparentRgb[1] = 2;
    keyed.transparentRgb[2] = 3;
    ASSERT_EQ(Parse(WritePng(keyed), &image), S_OK);
    EXPECT_EQ(image.format, D3DFMT_A16B16G16R16);
    EXPECT_EQ(image.rowPitch, 16u);
    const UINT expected[8] = {0x1234, 0x5678, 0x9ABC, 0xFFFF, 1, 2, 3, 0};  // red, green, blue, alpha
    for (UINT i = 0; i < 8; ++i) EXPECT_EQ(U16At(image, i, 0), expected[i]) << i;

    ASSERT_EQ(Parse(WritePng(Png(1, 1, 16, PNG_COLOR_TYPE_GRAY, {0xAB, 0xCD})), &image), S_OK);
    EXPECT_EQ(image.format, D3DFMT_L16);
    EXPECT_EQ(U16At(image, 0, 0), 0xABCDu);
    PngFile grey = Png(2, 1, 16, PNG_COLOR_TYPE_GRAY, {0xAB, 0xCD, 0x00, 0x07});
    grey.transparentGray = 7;
    ASSERT_EQ(Parse(WritePng(grey), &image, &info), S_OK);
    EXPECT_EQ(image.format, kFormatAL16);
    EXPECT_EQ(info.format, D3DFMT_A8L8);
    EXPECT_EQ(U32At(image, 0, 0), 0xFFFFABCDu);
    EXPECT_EQ(U32At(image, 1, 0), 0x00000007u);
}

TEST(PngReader, LowBitDepthsExpandToBytes) {
    SourceImage image;
    ASSERT_EQ(Parse(WritePng(Png(8, 1, 1, PNG_COLOR_TYPE_GRAY, {0xB0})), &image), S_OK);
    EXPECT_EQ(image.format, D3DFMT_L8);
    const UINT grey[8] = {255, 0, 255, 255, 0, 0, 0, 0};
    for (UINT x = 0; x < 8; ++x) EXPECT_EQ(ByteAt(image, x, 0), grey[x]) << x;

    PngFile palette = Png(3, 1, 4, PNG_COLOR_TYPE_PALETTE, {0x21, 0x00});
    palette.palette = {10, 20, 30, 40, 50, 60, 70, 80, 90};
    palette.paletteAlpha = {0, 128};
    ASSERT_EQ(Parse(WritePng(palette), &image), S_OK);
    EXPECT_EQ(image.format, D3DFMT_P8);
    EXPECT_EQ(ByteAt(image, 0, 0), 2u);
    EXPECT_EQ(ByteAt(image, 1, 0), 1u);
    EXPECT_EQ(ByteAt(image, 2, 0), 0u);
    EXPECT_EQ(PaletteArgb(image, 0), 0x000A141Eu);
    EXPECT_EQ(PaletteArgb(image, 1), 0x8028323Cu);
    EXPECT_EQ(PaletteArgb(image, 2), 0xFF46505Au);
    EXPECT_EQ(PaletteArgb(image, 3), 0xFFFFFFFFu);
}

TEST(PngReader, GammaCorrectsPixelsAndPalettesUnlessTheFileIsSrgb) {
    // File gamma 1.0 against screen gamma 2.2: v -> floor((v / 255)^(1 / 2.2) x 255 + 0.5):
    // 128 -> 186, 64 -> 136, 200 -> 228.
    PngFile palette = Png(1, 1, 8, PNG_COLOR_TYPE_PALETTE, {0});
    palette.palette = {128, 64, 200};
    palette.gamma = 1.0;
    SourceImage image;
    ASSERT_EQ(Parse(WritePng(palette), &image), S_OK);
    EXPECT_EQ(PaletteArgb(image, 0), 0xFFBA88E4u);

    PngFile grey = Png(3, 1, 8, PNG_COLOR_TYPE_GRAY, {128, 64, 200});
    grey.gamma = 1.0;
    ASSERT_EQ(Parse(WritePng(grey), &image), S_OK);
    const int corrected[3] = {186, 136, 228};
    for (UINT x = 0; x < 3; ++x) EXPECT_NEAR(static_cast<int>(ByteAt(image, x, 0)), corrected[x], 1) << x;

    palette.srgbIntent = 0;  // an sRGB chunk: no correction
    ASSERT_EQ(Parse(WritePng(palette), &image), S_OK);
    EXPECT_EQ(PaletteArgb(image, 0), 0xFF8040C8u);
    grey.srgbIntent = 0;
    ASSERT_EQ(Parse(WritePng(grey), &image), S_OK);
    EXPECT_EQ(ByteAt(image, 0, 0), 128u);
}

TEST(PngReader, InterlacedImagesAndDamagedData) {
    Bytes rows;
    for (int i = 0; i < 5 * 4 * 4; ++i) rows.push_back(static_cast<std::uint8_t>(i * 3));
    PngFile layout = Png(5, 4, 8, PNG_COLOR_TYPE_RGB_ALPHA, rows);
    layout.interlaced = true;
    Bytes file = WritePng(layout);
    SourceImage image;
    ASSERT_EQ(Parse(file, &image), S_OK);
    for (UINT y = 0; y < 4; ++y) {
        for (UINT x = 0; x < 5; ++x) {
            const std::uint8_t* rgba = rows.data() + (y * 5 + x) * 4;
            UINT expected = (UINT{rgba[3]} << 24) | (UINT{rgba[0]} << 16) | (UINT{rgba[1]} << 8) | rgba[2];
            EXPECT_EQ(U32At(image, x, y), expected) << x << "," << y;
        }
    }

    Bytes damaged = file;
    damaged[45] ^= 0xFF;  // inside the image data (which starts at 41): its checksum no longer matches
    EXPECT_EQ(ReadWith(ReadPng, damaged, &image), E_FAIL);
    Bytes notPng = file;
    notPng[1] = 'X';
    EXPECT_EQ(ReadWith(ReadPng, notPng, &image), E_FAIL);
    // Header only: the record describes the image without pixels.
    ASSERT_EQ(ReadWith(ReadPng, file, &image, false), S_OK);
    EXPECT_EQ(image.width, 5u);
    EXPECT_EQ(image.format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(image.pixels, nullptr);
}

}  // namespace
}  // namespace qm::test
