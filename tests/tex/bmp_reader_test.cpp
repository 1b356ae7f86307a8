// bmp_reader_test.cpp: the BMP and DIB readers: bit depths, run-length forms, bit fields, orientation.
#include "tests/tex/reader_test_support.h"

namespace qm::test {
namespace {

TEST(BmpReader, TwentyFourBitRowsAreFlippedBottomUpAndUsedInPlaceTopDown) {
    BmpFile layout;
    layout.width = 2;
    layout.height = 2;
    // File row 0 then file row 1, blue-green-red, each padded from 6 to 8 bytes.
    layout.rows = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
    Bytes bottomUp = WriteBmp(layout);
    SourceImage image;
    ASSERT_EQ(Parse(bottomUp, &image), S_OK);
    EXPECT_EQ(image.fileFormat, ImageFileFormat::Bmp);
    EXPECT_EQ(image.format, D3DFMT_R8G8B8);
    EXPECT_EQ(image.rowPitch, 8u);
    EXPECT_TRUE(image.OwnsPixels());
    EXPECT_EQ(ByteAt(image, 0, 0), 7u);  // the file's last row is the top row
    EXPECT_EQ(ByteAt(image, 5, 0), 12u);
    EXPECT_EQ(ByteAt(image, 0, 1), 1u);
    EXPECT_EQ(image.palette, nullptr);

    layout.height = -2;
    Bytes topDown = WriteBmp(layout);
    ASSERT_EQ(Parse(topDown, &image), S_OK);
    EXPECT_FALSE(image.OwnsPixels());
    EXPECT_EQ(image.pixels, topDown.data() + 14 + 40);
    EXPECT_EQ(image.height, 2u);
    EXPECT_EQ(ByteAt(image, 0, 0), 1u);
}

TEST(BmpReader, ThirtyTwoBitFourthByteChoosesAlpha) {
    BmpFile layout;
    layout.width = 2;
    layout.height = 1;
    layout.bits = 32;
    layout.rows = {1, 2, 3, 0, 4, 5, 6, 0};
    SourceImage image;
    ASSERT_EQ(Parse(WriteBmp(layout), &image), S_OK);
    EXPECT_EQ(image.format, D3DFMT_X8R8G8B8);
    layout.rows[7] = 1;
    ImageInfo info;
    ASSERT_EQ(Parse(WriteBmp(layout), &image, &info), S_OK);
    EXPECT_EQ(image.format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(U32At(image, 1, 0), 0x01060504u);
    EXPECT_EQ(info.format, D3DFMT_A8R8G8B8);
}

TEST(BmpReader, IndexedRowsUnpackMostSignificantBitsFirstWithTheColourTable) {
    BmpFile layout;
    layout.width = 10;
    layout.height = 1;
    layout.bits = 1;
    layout.table = {0, 0, 0, 0, 0x30, 0x20, 0x10, 0};  // black, then red 0x10 green 0x20 blue 0x30
    layout.rows = {0xA5, 0xC0, 0, 0};                     // 1010 0101 11
    SourceImage image;
    ASSERT_EQ(Parse(WriteBmp(layout), &image), S_OK);
    EXPECT_EQ(image.format, D3DFMT_P8);
    EXPECT_EQ(image.rowPitch, 12u);
    const UINT expected[10] = {1, 0, 1, 0, 0, 1, 0, 1, 1, 1};
    for (UINT x = 0; x < 10; ++x) EXPECT_EQ(ByteAt(image, x, 0), expected[x]) << x;
    EXPECT_EQ(PaletteArgb(image, 0), 0xFF000000u);
    EXPECT_EQ(PaletteArgb(image, 1), 0xFF102030u);
    EXPECT_EQ(PaletteArgb(image, 2), 0xFFFFFFFFu);  // not defined by the file

    layout.bits = 4;
    layout.width = 3;
    layout.colorsUsed = 2;
    layout.rows = {0x1F, 0x20, 0, 0};
    ASSERT_EQ(Parse(WriteBmp(layout), &image), S_OK);
    EXPECT_EQ(ByteAt(image, 0, 0), 1u);
    EXPECT_EQ(ByteAt(image, 1, 0), 15u);
    EXPECT_EQ(ByteAt(image, 2, 0), 2u);
    EXPECT_EQ(PaletteArgb(image, 1), 0xFF102030u);
}

TEST(BmpReader, CoreHeaderHasThreeByteTableEntries) {
    BmpFile layout;
    layout.headerSize = 12;
    layout.width = 2;
    layout.height = -1;  // the core header's 16-bit height
    layout.bits = 8;
    layout.table.assign(256 * 3, 0);
    layout.table[3 * 5 + 0] = 0x33;  // entry 5: blue 0x33, green 0x22, red 0x11
    layout.table[3 * 5 + 1] = 0x22;
    layout.table[3 * 5 + 2] = 0x11;
    layout.rows = {5, 0, 0, 0};
    Bytes file = WriteBmp(layout);
    SourceImage image;
    ASSERT_EQ(Parse(file, &image), S_OK);
    EXPECT_EQ(image.format, D3DFMT_P8);
    EXPECT_EQ(PaletteArgb(image, 5), 0xFF112233u);
    EXPECT_EQ(image.pixels, file.data() + 14 + 12 + 768);  // top-down 8-bit rows in place
    EXPECT_EQ(ByteAt(image, 0, 0), 5u);
}

TEST(BmpReader, Rle8RunsLiteralsDeltasAndLineEnds) {
    BmpFile layout;
    layout.width = 6;
    layout.height = 3;
    layout.bits = 8;
    layout.compression = 1;
    layout.colorsUsed = 1;
    layout.table = {0, 0, 0, 0};
    layout.rows = {
        3, 7,           // file row 0: 7 7 7
        0, 3, 1, 2, 3, 0,  // literal 1 2 3, padded to 4 bytes
        0, 0,           // end of line
        0, 2, 2, 1,     // move 2 right, 1 row on: file row 2, x 2
        9, 4,           // a run of 9 is cut at the row's end
        0, 1,           // end of bitmap
    };
    SourceImage image;
    ASSERT_EQ(Parse(WriteBmp(layout), &image), S_OK);
    EXPECT_TRUE(image.OwnsPixels());
    EXPECT_EQ(image.rowPitch, 8u);
    // Bottom-up: file row 0 is the bottom row (2), file row 2 the top row (0).
    const UINT bottom[6] = {7, 7, 7, 1, 2, 3};
    const UINT top[6] = {0, 0, 4, 4, 4, 4};
    for (UINT x = 0; x < 6; ++x) {
        EXPECT_EQ(ByteAt(image, x, 2), bottom[x]) << x;
        EXPECT_EQ(ByteAt(image, x, 1), 0u) << x;
        EXPECT_EQ(ByteAt(image, x, 0), top[x]) << x;
    }

    // A pixel on a row past the last, and data that end before the end of the bitmap, both fail.
    layout.rows = {0, 2, 0, 3, 1, 1};
    EXPECT_EQ(ReadWith(ReadBmp, WriteBmp(layout), &image), E_FAIL);
    layout.rows = {3, 7, 0, 0};
    EXPECT_EQ(ReadWith(ReadBmp, WriteBmp(layout), &image), E_FAIL);
    layout.rows = {0, 5, 1, 2, 3, 4};  // a literal whose bytes run past the data
    EXPECT_EQ(ReadWith(ReadBmp, WriteBmp(layout), &image), E_FAIL);
}

TEST(BmpReader, Rle4LiteralOfFivePixelsTakesFourBytes) {
    BmpFile layout;
    layout.width = 8;
    layout.height = -1;  // top-down
    layout.bits = 4;
    layout.compression = 2;
    layout.colorsUsed = 16;
    layout.table.assign(64, 0);
    layout.rows = {
        0, 5, 0x12, 0x34, 0x50, 0x00,  // literal 1 2 3 4 5: 3 data bytes and a pad byte
        3, 0xAB,                       // run A B A
        0, 1,
    };
    SourceImage image;
    ASSERT_EQ(Parse(WriteBmp(layout), &image), S_OK);
    const UINT expected[8] = {1, 2, 3, 4, 5, 0xA, 0xB, 0xA};
    for (UINT x = 0; x < 8; ++x) EXPECT_EQ(ByteAt(image, x, 0), expected[x]) << x;
}

TEST(BmpReader, BitFieldMasksPickTheFormatOrTheGenericPath) {
    BmpFile layout;
    layout.headerSize = 56;
    layout.width = 1;
    layout.height = -1;
    layout.bits = 16;
    layout.compression = 3;
    layout.masks[0] = 0xF800;
    layout.masks[1] = 0x7E0;
    layout.masks[2] = 0x1F;
    layout.rows = {0x34, 0x12, 0, 0};
    Bytes file = WriteBmp(layout);  // top-down rows are used in place: the file must outlive the record
    SourceImage image;
    ASSERT_EQ(Parse(file, &image), S_OK);
    EXPECT_EQ(image.format, D3DFMT_R5G6B5);
    EXPECT_EQ(U16At(image, 0, 0), 0x1234u);

    // Masks not in the table: four floats per pixel, red 0xF/15, green 5/15, blue 0xA/15, alpha 1.
    layout.masks[0] = 0x000F;
    layout.masks[1] = 0x00F0;
    layout.masks[2] = 0x0F00;
    layout.rows = {0x5F, 0x0A, 0, 0};
    ImageInfo info;
    ASSERT_EQ(Parse(WriteBmp(layout), &image, &info), S_OK);
    EXPECT_EQ(image.format, D3DFMT_A32B32G32R32F);
    EXPECT_EQ(image.rowPitch, 16u);
    EXPECT_TRUE(image.OwnsPixels());
    EXPECT_FLOAT_EQ(FloatAt(image, 0, 0, 0), 1.0f);
    EXPECT_FLOAT_EQ(FloatAt(image, 0, 0, 1), 5.0f / 15.0f);
    EXPECT_FLOAT_EQ(FloatAt(image, 0, 0, 2), 10.0f / 15.0f);
    EXPECT_FLOAT_EQ(FloatAt(image, 0, 0, 3), 1.0f);

    // No colour masks at all: colour reads 0; the alpha mask 0x8000 gives 1 for the top bit.
    layout.masks[0] = layout.masks[1] = layout.masks[2] = 0;
    layout.masks[3] = 0x8000;
    layout.rows = {0xFF, 0xFF, 0, 0};
    ASSERT_EQ(Parse(WriteBmp(layout), &image), S_OK);
    EXPECT_EQ(FloatAt(image, 0, 0, 0), 0.0f);
    EXPECT_EQ(FloatAt(image, 0, 0, 2), 0.0f);
    EXPECT_FLOAT_EQ(FloatAt(image, 0, 0, 3), 1.0f);

    // The layout one byte later than X8R8G8B8: rows taken from one byte on, in place.
    layout.bits = 32;
    layout.masks[0] = 0xFF000000;
    layout.masks[1] = 0xFF0000;
    layout.masks[2] = 0xFF00;
    layout.masks[3] = 0;
    layout.rows = {0, 0x11, 0x22, 0x33, 0x44};
    Bytes shifted = WriteBmp(layout);
    ASSERT_EQ(Parse(shifted, &image), S_OK);
    EXPECT_EQ(image.format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(image.pixels, shifted.data() + 14 + 56 + 1);
    EXPECT_EQ(U32At(image, 0, 0) & 0xFFFFFF, 0x332211u);
}

TEST(BmpReader, DamagedHeadersFail) {
    BmpFile good;
    good.width = 1;
    good.height = 1;
    good.bits = 16;
    good.rows = {0x00, 0x7C, 0, 0};
    SourceImage image;
    ASSERT_EQ(ReadWith(ReadBmp, WriteBmp(good), &image), S_OK);
    EXPECT_EQ(image.format, D3DFMT_X1R5G5B5);

    auto fails = [&](auto change) {
        BmpFile layout = good;
        change(layout);
        return ReadWith(ReadBmp, WriteBmp(layout), &image) == E_FAIL;
    };
    EXPECT_TRUE(fails([](BmpFile& s) { s.planes = 2; }));
    EXPECT_TRUE(fails([](BmpFile& s) { s.headerSize = 20; }));
    EXPECT_TRUE(fails([](BmpFile& s) { s.compression = 4; }));
    EXPECT_TRUE(fails([](BmpFile& s) { s.bits = 2; }));
    EXPECT_TRUE(fails([](BmpFile& s) { s.width = 0; }));
    EXPECT_TRUE(fails([](BmpFile& s) { s.height = 2; }));           // rows missing
    EXPECT_TRUE(fails([](BmpFile& s) { s.compression = 3; }));      // masks not inside a 40-byte header
    EXPECT_TRUE(fails([](BmpFile& s) { s.colorsUsed = 0x40000000; }));  // colour table past the data
    Bytes file = WriteBmp(good);
    PutU32(file, 2, static_cast<std::uint32_t>(file.size() + 1));  // file size beyond the data
    EXPECT_EQ(ReadWith(ReadBmp, file, &image), E_FAIL);
    // The same bitmap without the file header is a DIB.
    EXPECT_EQ(ReadWith(ReadDib, WriteDib(good), &image), S_OK);
}

}  // namespace
}  // namespace qm::test
