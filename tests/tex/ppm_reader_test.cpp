// ppm_reader_test.cpp: the PPM reader: text and binary samples, comments, scaling, short files.
#include "tests/tex/reader_test_support.h"

namespace qm::test {
namespace {

TEST(PpmReader, BinarySamplesWithCommentsAndScaling) {
    Bytes file = FromText("P6\n# made by hand\n2 1 # width and height\n15\r\n");
    Append(file, Bytes{15, 0, 7, 1, 2, 3});
    SourceImage image;
    ImageInfo info;
    ASSERT_EQ(Parse(file, &image, &info), S_OK);
    EXPECT_EQ(info.fileFormat, ImageFileFormat::Ppm);
    EXPECT_EQ(image.format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(image.rowPitch, 8u);
    EXPECT_TRUE(image.OwnsPixels());
    // 15 * 255 / 15 = 255, 7 * 255 / 15 = 119, 1 -> 17, 2 -> 34, 3 -> 51.
    EXPECT_EQ(U32At(image, 0, 0), 0xFFFF0077u);
    EXPECT_EQ(U32At(image, 1, 0), 0xFF112233u);

    Bytes tooShort = FromText("P6 2 1 255\n");
    Append(tooShort, Bytes{1, 2, 3, 4, 5});
    EXPECT_EQ(ReadWith(ReadPpm, tooShort, &image), E_FAIL);
    Bytes wide = FromText("P6 1 1 65535\n");
    Append(wide, Bytes{0, 1, 0, 2, 0, 3});
    EXPECT_EQ(ReadWith(ReadPpm, wide, &image), E_FAIL);
}

TEST(PpmReader, TextSamples) {
    SourceImage image;
    ASSERT_EQ(Parse(FromText("P3 2 2 255\n1 2 3  4 5 6\n# row two\n7 8 9 10 11 12"), &image), S_OK);
    EXPECT_EQ(U32At(image, 0, 0), 0xFF010203u);
    EXPECT_EQ(U32At(image, 1, 1), 0xFF0A0B0Cu);
    ASSERT_EQ(Parse(FromText("P3 1 1 100\n100 50 0\n"), &image), S_OK);
    EXPECT_EQ(U32At(image, 0, 0), 0xFFFF7F00u);  // 50 * 255 / 100 = 127

    const char* failing[] = {
        "P3 2 1 255\n1 2 3 4 5",  // one sample too few
        "P3 1 1 255\n1 2 x",      // a non-digit
        "P3 1 1 25a\n1 2 3",
        "P3 0 1 255\n",
        "P3 1 1 0\n1 2 3",
        "P3 1 1 256\n1 2 3",
        "P31 1 255\n1 2 3",
        "P5 1 1 255\n1",
        "P3",
    };
    for (const char* text : failing) EXPECT_EQ(ReadWith(ReadPpm, FromText(text), &image), E_FAIL) << text;
}

}  // namespace
}  // namespace qm::test
