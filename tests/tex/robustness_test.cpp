// robustness_test.cpp: the sample files of tools/make_images.py (every kind the readers take) are
// accepted by their reader; every prefix of each, and deterministic mutations of them, are refused or
// decoded into records whose rows lie wholly inside the data or an owned block (run under
// AddressSanitizer, reading every byte a record claims finds a block that is too small).
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "library/tex/format_table.h"
#include "tests/tex/reader_test_support.h"

namespace qm::test {
namespace {

struct SampleFile {
    std::string name;
    Bytes bytes;
};

// The files the generator wrote at build time, in name order.
const std::vector<SampleFile>& SampleFiles() {
    static const std::vector<SampleFile> files = [] {
        std::vector<SampleFile> found;
        for (const auto& entry : std::filesystem::directory_iterator(QM_TEX_SAMPLE_DIR)) {
            std::ifstream in(entry.path(), std::ios::binary);
            found.push_back({entry.path().filename().string(), Bytes(std::istreambuf_iterator<char>(in), {})});
        }
        std::sort(found.begin(), found.end(), [](const SampleFile& a, const SampleFile& b) { return a.name < b.name; });
        return found;
    }();
    return files;
}

// Bytes one row of a record holds.
std::uint64_t RowBytes(const SourceImage& image) {
    std::uint64_t w = image.width;
    switch (image.format) {
        case D3DFMT_DXT1:
            return (w + 3) / 4 * 8;
        case D3DFMT_DXT2:
        case D3DFMT_DXT3:
        case D3DFMT_DXT4:
        case D3DFMT_DXT5:
            return (w + 3) / 4 * 16;
        case D3DFMT_YUY2:
        case D3DFMT_UYVY:
        case D3DFMT_R8G8_B8G8:
        case D3DFMT_G8R8_G8B8:
            return (w + 1) / 2 * 4;
        default:
            return FindFormatDescriptor(image.format).bitsPerPixel / 8 * w;
    }
}

// Rows of a record; for block formats, rows of 4x4 blocks.
std::uint64_t RowCount(const SourceImage& image) {
    switch (image.format) {
        case D3DFMT_DXT1:
        case D3DFMT_DXT2:
        case D3DFMT_DXT3:
        case D3DFMT_DXT4:
        case D3DFMT_DXT5:
            return (std::uint64_t{image.height} + 3) / 4;
        default:
            return image.height;
    }
}

// Checks one record: the rows it claims are readable, and lie inside the file when not owned; a
// palette not owned lies inside the file too. Returns a checksum so that the reads are not dropped.
std::uint64_t CheckRecord(const SourceImage& image, const Bytes& file) {
    EXPECT_NE(image.pixels, nullptr);
    EXPECT_GT(image.width, 0u);
    EXPECT_GT(image.height, 0u);
    EXPECT_GT(image.depth, 0u);
    EXPECT_GE(image.rowPitch, RowBytes(image));
    EXPECT_EQ(image.box.right, image.width);
    EXPECT_EQ(image.box.bottom, image.height);
    const std::uint64_t slices = image.depth;
    const std::uint64_t extent = (slices - 1) * image.slicePitch + (RowCount(image) - 1) * image.rowPitch + RowBytes(image);
    if (!image.OwnsPixels()) {
        EXPECT_TRUE(PointsInto(image, file));
        EXPECT_LE(static_cast<std::uint64_t>(image.pixels - file.data()) + extent, file.size());
    }
    if (image.palette != nullptr && !image.OwnsPalette()) {
        const BYTE* palette = reinterpret_cast<const BYTE*>(image.palette);
        EXPECT_TRUE(palette >= file.data() && palette + 1024 <= file.data() + file.size());
    }
    std::uint64_t sum = 0;
    for (std::uint64_t z = 0; z < slices; ++z) {
        for (std::uint64_t y = 0; y < RowCount(image); ++y) {
            const BYTE* row = image.pixels + z * image.slicePitch + y * image.rowPitch;
            for (std::uint64_t x = 0; x < RowBytes(image); ++x) sum += row[x];
        }
    }
    if (image.palette != nullptr) {
        for (int i = 0; i < 256; ++i) sum += image.palette[i].peFlags;
    }
    return sum;
}

void CheckAllRecords(const SourceImage& first, const Bytes& file) {
    std::uint64_t sum = 0;
    for (const SourceImage* face = &first; face != nullptr; face = face->nextFace.get()) {
        for (const SourceImage* level = face; level != nullptr; level = level->nextMip.get()) sum += CheckRecord(*level, file);
    }
    EXPECT_GE(sum, 0u);
}

// Decodes when the header describes a modest image (mutated sizes may ask for gigabytes, which the
// readers refuse only beyond 2 GiB); checks the result either way.
void ParseAndCheck(const Bytes& file, const std::string& what) {
    SCOPED_TRACE(what);
    SourceImage image;
    ImageInfo info;
    HRESULT header = Parse(file, &image, &info, false);
    ASSERT_TRUE(header == S_OK || header == ERR_INVALID_DATA) << std::hex << header;
    if (header == S_OK && std::uint64_t{info.width} * info.height * info.depth > (1u << 20)) return;
    HRESULT hr = Parse(file, &image, &info, true);
    ASSERT_TRUE(hr == S_OK || hr == ERR_INVALID_DATA) << std::hex << hr;
    if (hr == S_OK) CheckAllRecords(image, file);
}

TEST(ReaderRobustness, SampleFilesAreAcceptedByTheirReader) {
    ASSERT_GE(SampleFiles().size(), 50u);
    for (const SampleFile& sample : SampleFiles()) {
        SourceImage image;
        ImageInfo info;
        ASSERT_EQ(Parse(sample.bytes, &image, &info), S_OK) << sample.name;
        const std::string prefix = sample.name.substr(0, 3);
        const ImageFileFormat expected = prefix == "bmp" ? ImageFileFormat::Bmp
                                         : prefix == "dib" ? ImageFileFormat::Dib
                                         : prefix == "tga" ? ImageFileFormat::Tga
                                         : prefix == "dds" ? ImageFileFormat::Dds
                                         : prefix == "ppm" ? ImageFileFormat::Ppm
                                         : prefix == "png" ? ImageFileFormat::Png
                                                           : ImageFileFormat::Jpg;
        EXPECT_EQ(info.fileFormat, expected) << sample.name;
        CheckAllRecords(image, sample.bytes);
    }
}

TEST(ReaderRobustness, EveryPrefixIsRefusedOrDecodedSafely) {
    for (const SampleFile& sample : SampleFiles()) {
        for (std::size_t length = 1; length < sample.bytes.size(); ++length) {
            // An exact-size copy, so that any read past the prefix is caught.
            Bytes prefix(sample.bytes.begin(), sample.bytes.begin() + static_cast<std::ptrdiff_t>(length));
            ParseAndCheck(prefix, sample.name + " cut at " + std::to_string(length));
        }
    }
}

TEST(ReaderRobustness, MutatedFilesAreRefusedOrDecodedSafely) {
    std::mt19937 random(20240611u);
    for (const SampleFile& sample : SampleFiles()) {
        for (int round = 0; round < 150; ++round) {
            Bytes mutant = sample.bytes;
            int changes = 1 + static_cast<int>(random() % 4);
            for (int i = 0; i < changes; ++i) {
                // Header bytes are where the readers decide most, so half the changes land there.
                std::size_t limit = (random() % 2 == 0) ? std::min<std::size_t>(mutant.size(), 160) : mutant.size();
                std::size_t at = random() % limit;
                switch (random() % 4) {
                    case 0: mutant[at] = static_cast<std::uint8_t>(random()); break;
                    case 1: mutant[at] ^= static_cast<std::uint8_t>(1u << (random() % 8)); break;
                    case 2: mutant[at] = 0x00; break;
                    default: mutant[at] = 0xFF; break;
                }
            }
            ParseAndCheck(mutant, sample.name + " mutation " + std::to_string(round));
        }
    }
}

}  // namespace
}  // namespace qm::test
