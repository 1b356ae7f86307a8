// tga_reader_test.cpp: the TGA reader: orientations, run-length packets, colour maps, alpha rules.
#include "tests/tex/reader_test_support.h"

namespace qm::test {
namespace {

TgaFile TrueColor24(std::uint8_t descriptor) {
    TgaFile layout;
    layout.width = 2;
    layout.height = 2;
    layout.descriptor = descriptor;
    layout.id = {'i', 'd'};
    // Stored rows: A B / C D, blue-green-red.
    layout.pixels = {0xA1, 0xA2, 0xA3, 0xB1, 0xB2, 0xB3, 0xC1, 0xC2, 0xC3, 0xD1, 0xD2, 0xD3};
    return layout;
}

// The first byte (blue) of each pixel, top row first.
std::vector<UINT> Blues(const SourceImage& image) {
    std::vector<UINT> blues;
    for (UINT y = 0; y < image.height; ++y) {
        for (UINT x = 0; x < image.width; ++x) blues.push_back(RowOf(image, y)[x * 3]);
    }
    return blues;
}

TEST(TgaReader, OrientationPlacesRowsAndColumns) {
    SourceImage image;
    Bytes topLeft = WriteTga(TrueColor24(0x20));
    ASSERT_EQ(Parse(topLeft, &image), S_OK);
    EXPECT_EQ(image.fileFormat, ImageFileFormat::Tga);
    EXPECT_EQ(image.format, D3DFMT_R8G8B8);
    EXPECT_EQ(image.rowPitch, 6u);
    EXPECT_FALSE(image.OwnsPixels());
    EXPECT_EQ(image.pixels, topLeft.data() + 18 + 2);
    EXPECT_EQ(Blues(image), (std::vector<UINT>{0xA1, 0xB1, 0xC1, 0xD1}));

    ASSERT_EQ(Parse(WriteTga(TrueColor24(0x00)), &image), S_OK);  // bottom-left origin
    EXPECT_TRUE(image.OwnsPixels());
    EXPECT_EQ(Blues(image), (std::vector<UINT>{0xC1, 0xD1, 0xA1, 0xB1}));
    ASSERT_EQ(Parse(WriteTga(TrueColor24(0x30)), &image), S_OK);  // top-right origin
    EXPECT_EQ(Blues(image), (std::vector<UINT>{0xB1, 0xA1, 0xD1, 0xC1}));
    ASSERT_EQ(Parse(WriteTga(TrueColor24(0x10)), &image), S_OK);  // bottom-right origin
    EXPECT_EQ(Blues(image), (std::vector<UINT>{0xD1, 0xC1, 0xB1, 0xA1}));
    EXPECT_EQ(RowOf(image, 0)[2], 0xD3u);
}

TEST(TgaReader, RunLengthPacketsAndTheAlphaRule) {
    TgaFile layout;
    layout.imageType = 10;
    layout.width = 3;
    layout.height = 2;
    layout.pixelBits = 32;
    layout.descriptor = 0x20;
    // A run of 4 crosses into the second row; then two raw pixels.
    layout.pixels = {0x83, 1, 2, 3, 0, 0x01, 4, 5, 6, 0, 7, 8, 9, 0};
    SourceImage image;
    ASSERT_EQ(Parse(WriteTga(layout), &image), S_OK);
    EXPECT_EQ(image.format, D3DFMT_X8R8G8B8);  // no pixel has alpha
    EXPECT_EQ(U32At(image, 0, 0), 0x00030201u);
    EXPECT_EQ(U32At(image, 2, 0), 0x00030201u);
    EXPECT_EQ(U32At(image, 0, 1), 0x00030201u);
    EXPECT_EQ(U32At(image, 1, 1), 0x00060504u);
    EXPECT_EQ(U32At(image, 2, 1), 0x00090807u);

    layout.pixels[13] = 0x80;
    ASSERT_EQ(Parse(WriteTga(layout), &image), S_OK);
    EXPECT_EQ(image.format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(U32At(image, 2, 1), 0x80090807u);

    layout.pixels.resize(10);  // the last raw packet is cut short
    EXPECT_EQ(ReadWith(ReadTga, WriteTga(layout), &image), E_FAIL);

    // 16-bit pixels without the top bit are X1R5G5B5; with it, A1R5G5B5.
    TgaFile sixteen;
    sixteen.pixelBits = 16;
    sixteen.pixels = {0xFF, 0x7F};
    ASSERT_EQ(Parse(WriteTga(sixteen), &image), S_OK);
    EXPECT_EQ(image.format, D3DFMT_X1R5G5B5);
    sixteen.pixels = {0x00, 0x80};
    ASSERT_EQ(Parse(WriteTga(sixteen), &image), S_OK);
    EXPECT_EQ(image.format, D3DFMT_A1R5G5B5);
}

TEST(TgaReader, ColourMapsFillThePaletteFromTheFirstIndex) {
    TgaFile layout;
    layout.mapType = 1;
    layout.imageType = 1;
    layout.mapFirst = 2;
    layout.mapLength = 2;
    layout.mapBits = 16;
    layout.pixelBits = 8;
    layout.width = 2;
    // Entry 2: top bit set, red 31, green 0, blue 1; entry 3: top bit clear, green 16.
    layout.map = {0x01, 0xFC, 0x00, 0x02};
    layout.pixels = {3, 2};
    Bytes file = WriteTga(layout);
    SourceImage image;
    ASSERT_EQ(Parse(file, &image), S_OK);
    EXPECT_EQ(image.format, D3DFMT_P8);
    EXPECT_EQ(ByteAt(image, 0, 0), 3u);
    EXPECT_EQ(PaletteArgb(image, 1), 0xFFFFFFFFu);
    EXPECT_EQ(PaletteArgb(image, 2), 0xFFFF0008u);  // 31 -> 255, 1 -> 8
    EXPECT_EQ(PaletteArgb(image, 3), 0x00008400u);  // 16 -> 132, alpha 0 from the clear top bit

    // 32-bit entries with no alpha at all are made opaque; 24-bit entries are opaque.
    layout.mapBits = 32;
    layout.map = {1, 2, 3, 0, 4, 5, 6, 0};
    ASSERT_EQ(Parse(WriteTga(layout), &image), S_OK);
    EXPECT_EQ(PaletteArgb(image, 2), 0xFF030201u);
    EXPECT_EQ(PaletteArgb(image, 3), 0xFF060504u);
    layout.mapBits = 24;
    layout.map = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(Parse(WriteTga(layout), &image), S_OK);
    EXPECT_EQ(PaletteArgb(image, 3), 0xFF060504u);

    layout.mapFirst = 255;  // 255 + 2 entries pass the palette's end
    EXPECT_EQ(ReadWith(ReadTga, WriteTga(layout), &image), E_FAIL);
}

TEST(TgaReader, GreyAndRejectedHeaders) {
    TgaFile grey;
    grey.imageType = 3;
    grey.pixelBits = 8;
    grey.width = 2;
    grey.pixels = {10, 20};
    Bytes file = WriteTga(grey);
    SourceImage image;
    ASSERT_EQ(ReadWith(ReadTga, file, &image), S_OK);
    EXPECT_EQ(image.format, D3DFMT_L8);
    EXPECT_EQ(ByteAt(image, 1, 0), 20u);

    auto fails = [&](auto change) {
        TgaFile layout = grey;
        change(layout);
        return ReadWith(ReadTga, WriteTga(layout), &image) == E_FAIL;
    };
    EXPECT_TRUE(fails([](TgaFile& s) { s.imageType = 0; }));
    EXPECT_TRUE(fails([](TgaFile& s) { s.imageType = 4; }));
    EXPECT_TRUE(fails([](TgaFile& s) { s.mapType = 2; }));
    EXPECT_TRUE(fails([](TgaFile& s) { s.width = 0; }));
    EXPECT_TRUE(fails([](TgaFile& s) { s.pixelBits = 16; }));  // grey needs 8 bits
    EXPECT_TRUE(fails([](TgaFile& s) { s.imageType = 1; }));   // colour-mapped without a map
    EXPECT_TRUE(fails([](TgaFile& s) { s.pixels.pop_back(); }));
    EXPECT_TRUE(fails([](TgaFile& s) {
        s.mapType = 1;
        s.mapBits = 24;
        s.mapLength = 100;  // the map runs past the data
    }));
    EXPECT_TRUE(fails([](TgaFile& s) {
        s.imageType = 2;
        s.pixelBits = 8;  // true colour needs 15, 16, 24 or 32 bits
    }));
}

}  // namespace
}  // namespace qm::test
