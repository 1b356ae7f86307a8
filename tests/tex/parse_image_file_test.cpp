// parse_image_file_test.cpp: probing order, info and boxes, header-only parsing, the file view and the
// format table.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "library/tex/file_view.h"
#include "library/tex/format_table.h"
#include "tests/tex/reader_test_support.h"

namespace qm::test {
namespace {

Bytes SmallBmp() {
    BmpFile layout;
    layout.width = 3;
    layout.height = 2;
    layout.rows.assign(24, 0x40);
    return WriteBmp(layout);
}

TEST(ParseImageFile, ArgumentsAndNothingToDo) {
    Bytes file = SmallBmp();
    SourceImage image;
    ImageInfo info;
    EXPECT_EQ(ParseImageFile(&image, nullptr, 10, &info, true), D3DERR_INVALIDCALL);
    EXPECT_EQ(ParseImageFile(&image, file.data(), 0, &info, true), D3DERR_INVALIDCALL);
    EXPECT_EQ(ParseImageFile(nullptr, file.data(), static_cast<UINT>(file.size()), &info, true), D3DERR_INVALIDCALL);
    EXPECT_EQ(ParseImageFile(&image, file.data(), static_cast<UINT>(file.size()), nullptr, false), S_OK);
    EXPECT_EQ(image.width, 0u);  // nothing was read

    Bytes text = FromText("this is a text file, not an image\n");
    image.width = 99;
    EXPECT_EQ(Parse(text, &image, &info), ERR_INVALID_DATA);
    EXPECT_EQ(image.width, 0u);
    EXPECT_EQ(image.pixels, nullptr);
}

TEST(ParseImageFile, InfoAndBoxesComeFromTheFirstRecord) {
    Bytes file = SmallBmp();
    SourceImage image;
    ImageInfo info;
    info.mipLevels = 77;
    ASSERT_EQ(Parse(file, &image, &info), S_OK);
    EXPECT_EQ(info.width, 3u);
    EXPECT_EQ(info.height, 2u);
    EXPECT_EQ(info.depth, 1u);
    EXPECT_EQ(info.mipLevels, 1u);
    EXPECT_EQ(info.format, D3DFMT_R8G8B8);
    EXPECT_EQ(info.resourceType, D3DRTYPE_TEXTURE);
    EXPECT_EQ(info.fileFormat, ImageFileFormat::Bmp);
    EXPECT_EQ(image.box.left, 0u);
    EXPECT_EQ(image.box.right, 3u);
    EXPECT_EQ(image.box.bottom, 2u);
    EXPECT_EQ(image.box.back, 1u);
    EXPECT_TRUE(image.decode);

    // Header only: the same description, and a bottom-up bitmap allocates nothing.
    SourceImage header;
    ImageInfo headerInfo;
    ASSERT_EQ(Parse(file, &header, &headerInfo, false), S_OK);
    EXPECT_EQ(headerInfo.width, 3u);
    EXPECT_EQ(headerInfo.format, D3DFMT_R8G8B8);
    EXPECT_FALSE(header.decode);
    EXPECT_EQ(header.pixels, nullptr);
    EXPECT_FALSE(header.OwnsPixels());
}

TEST(ParseImageFile, ReadersAreTriedInOrderAndFailuresFallThrough) {
    // A bit-field bitmap whose masks lie outside a 40-byte header is refused by the BMP reader; no
    // later reader takes it either (for TGA its colour-map type byte is 'M'; for DIB, 'B', 'M' and the
    // file size read as a header size larger than the data).
    BmpFile layout;
    layout.bits = 16;
    layout.compression = 3;
    layout.rows = {0, 0, 0, 0};
    Bytes file = WriteBmp(layout);
    SourceImage image;
    EXPECT_EQ(ReadWith(ReadBmp, file, &image), E_FAIL);
    EXPECT_EQ(Parse(file, &image), ERR_INVALID_DATA);

    // Without its file header the same good bitmap is found by the last reader, DIB.
    layout.compression = 0;
    SourceImage dib;
    ImageInfo info;
    ASSERT_EQ(Parse(WriteDib(layout), &dib, &info), S_OK);
    EXPECT_EQ(info.fileFormat, ImageFileFormat::Dib);

    // A TGA, which has no signature, is found by the TGA reader.
    TgaFile tga;
    tga.width = 2;
    tga.pixels = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(Parse(WriteTga(tga), &image, &info), S_OK);
    EXPECT_EQ(info.fileFormat, ImageFileFormat::Tga);
}

TEST(FileView, MapsWholeFilesAndRefusesWhatItCannotRead) {
    std::filesystem::path dir = std::filesystem::temp_directory_path() / ("qm_tex_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::path full = dir / "image.bmp";
    std::filesystem::path empty = dir / "empty.bmp";
    Bytes bytes = SmallBmp();
    std::ofstream(full, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    std::ofstream(empty, std::ios::binary).flush();

    FileView view;
    ASSERT_EQ(view.Open(full.string().c_str()), S_OK);
    ASSERT_EQ(view.Size(), bytes.size());
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), view.Data()));
    SourceImage image;
    EXPECT_EQ(ParseImageFile(&image, view.Data(), view.Size(), nullptr, true), S_OK);
    view.Close();
    EXPECT_EQ(view.Data(), nullptr);
    EXPECT_EQ(view.Size(), 0u);

    const std::u16string wide(full.u16string());
    ASSERT_EQ(view.Open(wide.c_str()), S_OK);
    EXPECT_EQ(view.Size(), bytes.size());

    ASSERT_EQ(view.Open(empty.string().c_str()), S_OK);
    EXPECT_EQ(view.Data(), nullptr);
    EXPECT_EQ(view.Size(), 0u);
    EXPECT_EQ(ParseImageFile(&image, view.Data(), view.Size(), nullptr, true), D3DERR_INVALIDCALL);

    EXPECT_EQ(view.Open((dir / "missing.bmp").string().c_str()), ERR_INVALID_DATA);
    EXPECT_EQ(view.Open(dir.string().c_str()), ERR_INVALID_DATA);
    EXPECT_EQ(view.Open(static_cast<LPCSTR>(nullptr)), ERR_INVALID_DATA);
    std::filesystem::remove_all(dir);
}

TEST(FormatTable, LookupAndReportingMap) {
    EXPECT_EQ(FormatTable().size(), 57u);
    const FormatDescriptor& a1 = FindFormatDescriptor(D3DFMT_A1R5G5B5);
    EXPECT_EQ(a1.kind, FormatKind::Color);
    EXPECT_EQ(a1.bitsPerPixel, 16u);
    EXPECT_EQ(a1.widths[kWidthAlpha], 1u);
    EXPECT_EQ(a1.widths[kWidthGreen], 5u);
    EXPECT_EQ(a1.substitute, 1u);
    EXPECT_EQ(FindFormatDescriptor(D3DFMT_P8).kind, FormatKind::Palettized);
    EXPECT_EQ(FindFormatDescriptor(D3DFMT_D24S8).widths[kWidthGreen], 8u);  // stencil
    EXPECT_EQ(FindFormatDescriptor(kFormatR16).bitsPerPixel, 48u);
    EXPECT_EQ(FindFormatDescriptor(D3DFMT_DXT5).widths[kWidthAlpha], 8u);

    const FormatDescriptor& missing = FindFormatDescriptor(D3DFMT_INDEX16);
    EXPECT_EQ(&missing, &EmptyFormatDescriptor());
    EXPECT_EQ(missing.format, D3DFMT_UNKNOWN);
    EXPECT_EQ(missing.bitsPerPixel, 32u);
    EXPECT_EQ(missing.widths[kWidthRed], 8u);
    EXPECT_EQ(missing.substitute, 0u);

    EXPECT_EQ(ReportedFormat(kFormatAL16), D3DFMT_A8L8);
    EXPECT_EQ(ReportedFormat(kFormatR16), D3DFMT_R8G8B8);
    EXPECT_EQ(ReportedFormat(D3DFMT_DXT1), D3DFMT_DXT1);
    EXPECT_EQ(kFormatAL16, static_cast<D3DFORMAT>(0x36314C41u));
    EXPECT_EQ(kFormatR16, static_cast<D3DFORMAT>(0x36315220u));
}

}  // namespace
}  // namespace qm::test
