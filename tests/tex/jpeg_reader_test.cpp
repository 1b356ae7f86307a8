// jpeg_reader_test.cpp: the JPEG reader: grey and colour output, header-only reads, refused files.
#include "tests/tex/reader_test_support.h"

namespace qm::test {
namespace {

// A flat image survives JPEG coding almost exactly: each 8x8 block keeps only its DC term, and at
// quality 100 every quantiser step is 1. Colour adds the YCbCr round trip, so within 2 per channel.
TEST(JpegReader, GreyAndColourRows) {
    SourceImage image;
    ImageInfo info;
    ASSERT_EQ(Parse(WriteJpeg(16, 8, 1, Bytes(16 * 8, 100), 100), &image, &info), S_OK);
    EXPECT_EQ(info.fileFormat, ImageFileFormat::Jpg);
    EXPECT_EQ(image.format, D3DFMT_L8);
    EXPECT_EQ(image.rowPitch, 16u);
    EXPECT_TRUE(image.OwnsPixels());
    for (UINT y = 0; y < 8; ++y) {
        for (UINT x = 0; x < 16; ++x) EXPECT_NEAR(static_cast<int>(ByteAt(image, x, y)), 100, 1);
    }

    Bytes rgb;
    for (int i = 0; i < 16 * 16; ++i) rgb.insert(rgb.end(), {200, 100, 50});
    ASSERT_EQ(Parse(WriteJpeg(16, 16, 3, rgb, 100), &image, &info), S_OK);
    EXPECT_EQ(image.format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(image.rowPitch, 64u);
    for (UINT y = 0; y < 16; y += 5) {
        for (UINT x = 0; x < 16; x += 3) {
            UINT pixel = U32At(image, x, y);
            EXPECT_EQ(pixel >> 24, 0u);
            EXPECT_NEAR(static_cast<int>((pixel >> 16) & 0xFF), 200, 2);
            EXPECT_NEAR(static_cast<int>((pixel >> 8) & 0xFF), 100, 2);
            EXPECT_NEAR(static_cast<int>(pixel & 0xFF), 50, 2);
        }
    }
}

TEST(JpegReader, HeaderOnlyAndRefusedFiles) {
    Bytes grey = WriteJpeg(24, 9, 1, Bytes(24 * 9, 7), 90);
    SourceImage image;
    ASSERT_EQ(ReadWith(ReadJpg, grey, &image, false), S_OK);
    EXPECT_EQ(image.width, 24u);
    EXPECT_EQ(image.height, 9u);
    EXPECT_EQ(image.format, D3DFMT_L8);
    EXPECT_EQ(image.pixels, nullptr);

    EXPECT_EQ(ReadWith(ReadJpg, WriteJpeg(8, 8, 4, Bytes(8 * 8 * 4, 9), 90), &image), E_FAIL);  // CMYK
    Bytes notJpeg = grey;
    notJpeg[1] = 0x00;  // no start-of-image marker
    EXPECT_EQ(ReadWith(ReadJpg, notJpeg, &image), E_FAIL);
    EXPECT_EQ(ReadWith(ReadJpg, Bytes(grey.begin(), grey.begin() + 20), &image), E_FAIL);  // header cut
}

}  // namespace
}  // namespace qm::test
