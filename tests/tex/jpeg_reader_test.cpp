// jpeg_reader_test.cpp: the JPEG reader: grey and colour output, header-only reads, refused files,
// decoding into caller-given memory.
#include <algorithm>
#include <vector>

#include "tests/tex/reader_test_support.h"

namespace qm::test {
namespace {

// Noisy colour samples, so that every pixel of a decoded row differs.
Bytes NoisyRgb(UINT width, UINT height) {
    Bytes rgb;
    std::uint32_t noise = 99;
    for (UINT i = 0; i < width * height; ++i) {
        noise = noise * 1664525u + 1013904223u;
        rgb.insert(rgb.end(),
                   {static_cast<BYTE>(noise >> 24), static_cast<BYTE>(i * 7), static_cast<BYTE>(noise >> 8)});
    }
    return rgb;
}

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

// Every pixel of an odd-sized colour image is the library's RGB output as red << 16 | green << 8 |
// blue with a zero fourth byte, whether the reader decodes into its own block or into a target.
TEST(JpegReader, ColourPixelsMatchLibjpegInOwnBlockAndTarget) {
    constexpr UINT kWidth = 37, kHeight = 21;
    const Bytes file = WriteJpeg(kWidth, kHeight, 3, NoisyRgb(kWidth, kHeight), 90);
    const Bytes expected = DecodeJpegRgb(file);
    ASSERT_EQ(expected.size(), std::size_t{kWidth} * kHeight * 3);
    auto matches = [&](const BYTE* pixels, UINT pitch) {
        for (UINT y = 0; y < kHeight; ++y) {
            for (UINT x = 0; x < kWidth; ++x) {
                const BYTE* rgb = &expected[(std::size_t{y} * kWidth + x) * 3];
                const UINT want = UINT{rgb[0]} << 16 | UINT{rgb[1]} << 8 | rgb[2];
                if (LoadU32(pixels + std::size_t{y} * pitch + 4 * x) != want) {
                    ADD_FAILURE() << "pixel " << x << ", " << y;
                    return false;
                }
            }
        }
        return true;
    };

    SourceImage image;
    ASSERT_EQ(ReadWith(ReadJpg, file, &image), S_OK);
    EXPECT_TRUE(image.OwnsPixels());
    EXPECT_TRUE(matches(image.pixels, image.rowPitch));

    // A matching target receives the pixels; nothing is allocated.
    std::vector<BYTE> target(std::size_t{kWidth} * 4 * kHeight, 0xAB);
    image.target = PixelTarget{target.data(), D3DFMT_X8R8G8B8, kWidth, kHeight, kWidth * 4};
    ASSERT_EQ(ReadWith(ReadJpg, file, &image), S_OK);
    EXPECT_TRUE(image.InTarget());
    EXPECT_FALSE(image.OwnsPixels());
    EXPECT_TRUE(matches(target.data(), kWidth * 4));

    // A target of another pitch, size or format is left alone.
    const PixelTarget mismatches[] = {
        {target.data(), D3DFMT_X8R8G8B8, kWidth, kHeight, kWidth * 4 + 4},
        {target.data(), D3DFMT_X8R8G8B8, kWidth, kHeight + 1, kWidth * 4},
        {target.data(), D3DFMT_A8R8G8B8, kWidth, kHeight, kWidth * 4},
    };
    for (const PixelTarget& mismatch : mismatches) {
        std::fill(target.begin(), target.end(), BYTE{0xAB});
        image.target = mismatch;
        ASSERT_EQ(ReadWith(ReadJpg, file, &image), S_OK);
        EXPECT_FALSE(image.InTarget());
        EXPECT_TRUE(image.OwnsPixels());
        EXPECT_TRUE(matches(image.pixels, image.rowPitch));
        EXPECT_TRUE(std::all_of(target.begin(), target.end(), [](BYTE b) { return b == 0xAB; }));
    }
}

}  // namespace
}  // namespace qm::test
