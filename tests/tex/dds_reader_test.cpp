// dds_reader_test.cpp: the DDS reader: format matching, mip chains, cube faces, volumes, palettes, sizes.
#include "tests/tex/reader_test_support.h"

namespace qm::test {
namespace {

constexpr std::uint32_t kCubeAllFaces = 0xFE00;

TEST(DdsReader, MipChainLevelsPointIntoTheFile) {
    DdsFile layout;
    layout.width = 4;
    layout.height = 2;
    layout.mipCount = 3;
    layout.payload.assign(32 + 8 + 4, 0);  // 4x2, 2x1 and 1x1 levels of 4 bytes per pixel
    Bytes file = WriteDds(layout);
    SourceImage image;
    ImageInfo info;
    ASSERT_EQ(Parse(file, &image, &info), S_OK);
    EXPECT_EQ(info.fileFormat, ImageFileFormat::Dds);
    EXPECT_EQ(info.mipLevels, 3u);
    EXPECT_EQ(info.format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(info.resourceType, D3DRTYPE_TEXTURE);
    const UINT widths[3] = {4, 2, 1};
    const UINT heights[3] = {2, 1, 1};
    const std::size_t offsets[3] = {128, 160, 168};
    const SourceImage* level = &image;
    for (int i = 0; i < 3; ++i, level = level->nextMip.get()) {
        ASSERT_NE(level, nullptr);
        EXPECT_EQ(level->width, widths[i]);
        EXPECT_EQ(level->height, heights[i]);
        EXPECT_EQ(level->rowPitch, widths[i] * 4);
        EXPECT_EQ(level->slicePitch, widths[i] * heights[i] * 4);
        EXPECT_EQ(level->pixels, file.data() + offsets[i]);
        EXPECT_FALSE(level->OwnsPixels());
        EXPECT_EQ(level->box.right, widths[i]);
        EXPECT_EQ(level->box.bottom, heights[i]);
        EXPECT_EQ(level->box.back, 1u);
    }
    EXPECT_EQ(level, nullptr);

    layout.payload.pop_back();  // the data end inside the last level
    EXPECT_EQ(ReadWith(ReadDds, WriteDds(layout), &image), E_FAIL);
}

TEST(DdsReader, BlockAndPairFormatsHaveTheirOwnPitches) {
    struct Case {
        const char* code;
        std::uint32_t width, height, pitch, size;
    };
    const Case cases[] = {
        {"DXT1", 5, 5, 16, 32},
        {"DXT3", 5, 1, 32, 32},
        {"DXT5", 8, 8, 32, 64},
        {"YUY2", 3, 2, 8, 16},
        {"UYVY", 2, 1, 4, 4},
    };
    for (const Case& c : cases) {
        DdsFile layout;
        layout.width = c.width;
        layout.height = c.height;
        layout.pixelFlags = 0x4 | 0x40;  // extra flags next to the four-character code are ignored
        layout.fourCc = MAKEFOURCC(c.code[0], c.code[1], c.code[2], c.code[3]);
        layout.payload.assign(c.size, 0);
        SourceImage image;
        ASSERT_EQ(ReadWith(ReadDds, WriteDds(layout), &image), S_OK) << c.code;
        EXPECT_EQ(image.format, static_cast<D3DFORMAT>(layout.fourCc)) << c.code;
        EXPECT_EQ(image.rowPitch, c.pitch) << c.code;
        EXPECT_EQ(image.slicePitch, c.size) << c.code;
        layout.payload.pop_back();
        EXPECT_EQ(ReadWith(ReadDds, WriteDds(layout), &image), E_FAIL) << c.code;
    }

    // A float format named by its number takes its size from the format table: 16 bytes per pixel.
    DdsFile floats;
    floats.width = 3;
    floats.pixelFlags = 0x4;
    floats.fourCc = D3DFMT_A32B32G32R32F;
    floats.payload.assign(48, 0);
    SourceImage image;
    ASSERT_EQ(ReadWith(ReadDds, WriteDds(floats), &image), S_OK);
    EXPECT_EQ(image.format, D3DFMT_A32B32G32R32F);
    EXPECT_EQ(image.rowPitch, 48u);
}

TEST(DdsReader, MasksSelectTheFirstMatchingRow) {
    struct Case {
        std::uint32_t flags, bits, red, green, blue, alpha;
        D3DFORMAT expected;
    };
    const Case cases[] = {
        {0x40, 16, 0xF800, 0x7E0, 0x1F, 0, D3DFMT_R5G6B5},
        {0x41, 16, 0x7C00, 0x3E0, 0x1F, 0x8000, D3DFMT_A1R5G5B5},
        {0x20000, 8, 0xFF, 0, 0, 0, D3DFMT_L8},
        {0x20000, 16, 0xFFFF, 0, 0, 0, D3DFMT_L16},
        {0x20001, 8, 0xF, 0, 0, 0xF0, D3DFMT_A4L4},
        {0x2, 8, 0, 0, 0, 0xFF, D3DFMT_A8},
        {0x80000, 16, 0xFF, 0xFF00, 0, 0, D3DFMT_V8U8},
        {0x400, 16, 0, 0xFFFF, 0, 0, D3DFMT_D16_LOCKABLE},
    };
    for (const Case& c : cases) {
        DdsFile layout;
        layout.pixelFlags = c.flags;
        layout.bits = c.bits;
        layout.masks[0] = c.red;
        layout.masks[1] = c.green;
        layout.masks[2] = c.blue;
        layout.masks[3] = c.alpha;
        layout.payload.assign(4, 0);
        SourceImage image;
        ASSERT_EQ(ReadWith(ReadDds, WriteDds(layout), &image), S_OK) << c.expected;
        EXPECT_EQ(image.format, c.expected);
    }

    DdsFile layout;
    layout.payload.assign(4, 0);
    SourceImage image;
    layout.masks[3] = 0xF000;  // no row has these masks
    EXPECT_EQ(ReadWith(ReadDds, WriteDds(layout), &image), E_FAIL);
    layout.masks[3] = 0xFF000000;
    layout.pixelFormatSize = 24;
    EXPECT_EQ(ReadWith(ReadDds, WriteDds(layout), &image), E_FAIL);
}

TEST(DdsReader, CubeFacesAndVolumes) {
    DdsFile cube;
    cube.width = 2;
    cube.height = 2;
    cube.mipCount = 2;
    cube.caps2 = kCubeAllFaces;
    cube.pixelFlags = 0x40;
    cube.bits = 16;
    cube.masks[0] = 0xF800;
    cube.masks[1] = 0x7E0;
    cube.masks[2] = 0x1F;
    cube.masks[3] = 0;
    cube.payload.assign(6 * (8 + 2), 0);
    Bytes file = WriteDds(cube);
    SourceImage image;
    ImageInfo info;
    ASSERT_EQ(Parse(file, &image, &info), S_OK);
    EXPECT_EQ(info.resourceType, D3DRTYPE_CUBETEXTURE);
    EXPECT_EQ(info.mipLevels, 2u);
    int faces = 0;
    for (const SourceImage* face = &image; face != nullptr; face = face->nextFace.get(), ++faces) {
        EXPECT_EQ(face->pixels, file.data() + 128 + faces * 10);
        ASSERT_NE(face->nextMip, nullptr);
        EXPECT_EQ(face->nextMip->pixels, file.data() + 128 + faces * 10 + 8);
        EXPECT_EQ(face->nextMip->box.right, 1u);
        EXPECT_EQ(face->nextMip->nextMip, nullptr);
    }
    EXPECT_EQ(faces, 6);

    cube.payload.pop_back();  // the last face is short
    EXPECT_EQ(ReadWith(ReadDds, WriteDds(cube), &image), E_FAIL);
    cube.caps2 = 0x200 | 0x400 | 0x800;  // only two faces
    EXPECT_EQ(ReadWith(ReadDds, WriteDds(cube), &image), E_FAIL);

    DdsFile volume;
    volume.flags |= 0x800000;
    volume.width = 2;
    volume.height = 2;
    volume.depth = 4;
    volume.mipCount = 2;
    volume.payload.assign(2 * 2 * 4 * 4 + 1 * 1 * 2 * 4, 0);
    file = WriteDds(volume);
    ASSERT_EQ(Parse(file, &image, &info), S_OK);
    EXPECT_EQ(info.resourceType, D3DRTYPE_VOLUMETEXTURE);
    EXPECT_EQ(info.depth, 4u);
    EXPECT_EQ(image.slicePitch, 16u);
    EXPECT_EQ(image.box.back, 4u);
    ASSERT_NE(image.nextMip, nullptr);
    EXPECT_EQ(image.nextMip->depth, 2u);
    EXPECT_EQ(image.nextMip->pixels, file.data() + 128 + 64);
    volume.payload.pop_back();
    EXPECT_EQ(ReadWith(ReadDds, WriteDds(volume), &image), E_FAIL);
}

TEST(DdsReader, PalettizedFilesCarryTheirPaletteInPlace) {
    DdsFile layout;
    layout.width = 2;
    layout.pixelFlags = 0x20;
    layout.bits = 8;
    layout.payload.assign(1024 + 2, 0);
    layout.payload[4 * 7 + 0] = 0x11;  // entry 7: red, green, blue, alpha
    layout.payload[4 * 7 + 3] = 0x80;
    layout.payload[1024] = 7;
    Bytes file = WriteDds(layout);
    SourceImage image;
    ASSERT_EQ(Parse(file, &image), S_OK);
    EXPECT_EQ(image.format, D3DFMT_P8);
    EXPECT_EQ(static_cast<const void*>(image.palette), file.data() + 128);
    EXPECT_EQ(image.pixels, file.data() + 1152);
    EXPECT_EQ(PaletteArgb(image, ByteAt(image, 0, 0)), 0x80110000u);

    layout.payload.resize(1000);  // not even the palette fits
    EXPECT_EQ(ReadWith(ReadDds, WriteDds(layout), &image), E_FAIL);
}

TEST(DdsReader, ThousandsOfLevelsAreChainedAndFreed) {
    // A 1x1 A8 image with 100000 one-byte levels: every level fits, and the chain must be destroyed
    // without recursion.
    DdsFile layout;
    layout.pixelFlags = 0x2;
    layout.bits = 8;
    layout.masks[0] = layout.masks[1] = layout.masks[2] = 0;
    layout.masks[3] = 0xFF;
    layout.mipCount = 100000;
    layout.payload.assign(100000, 0);
    Bytes file = WriteDds(layout);
    ImageInfo info;
    {
        SourceImage image;
        ASSERT_EQ(Parse(file, &image, &info), S_OK);
        EXPECT_EQ(info.mipLevels, 100000u);
        image.Reset();
        EXPECT_EQ(image.nextMip, nullptr);
        ASSERT_EQ(Parse(file, &image, &info), S_OK);
    }
    layout.payload.pop_back();
    SourceImage image;
    EXPECT_EQ(ReadWith(ReadDds, WriteDds(layout), &image), E_FAIL);
}

}  // namespace
}  // namespace qm::test
