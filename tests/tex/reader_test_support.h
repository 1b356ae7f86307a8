// reader_test_support.h: pixel access and record checks shared by the image reader tests.
#pragma once

#include <gtest/gtest.h>

#include <cstring>

#include "library/tex/image_readers.h"
#include "library/tex/parse_image_file.h"
#include "library/tex/source_image.h"
#include "platform/win/results.h"
#include "tests/tex/image_writers.h"

namespace qm::test {

inline HRESULT Parse(const Bytes& file, SourceImage* image, ImageInfo* info = nullptr, bool decode = true) {
    return ParseImageFile(image, file.data(), static_cast<UINT>(file.size()), info, decode);
}

// Runs one reader directly with the decode flag set.
template <typename Reader>
HRESULT ReadWith(Reader reader, const Bytes& file, SourceImage* image, bool decode = true) {
    image->Reset();
    image->decode = decode;
    return reader(image, file.data(), static_cast<UINT>(file.size()));
}

inline const BYTE* RowOf(const SourceImage& image, UINT y) { return image.pixels + std::size_t{y} * image.rowPitch; }
inline UINT ByteAt(const SourceImage& image, UINT x, UINT y) { return RowOf(image, y)[x]; }
inline UINT U16At(const SourceImage& image, UINT x, UINT y) { return LoadU16(RowOf(image, y) + 2 * x); }
inline UINT U32At(const SourceImage& image, UINT x, UINT y) { return LoadU32(RowOf(image, y) + 4 * x); }
inline float FloatAt(const SourceImage& image, UINT x, UINT y, int channel) {
    float value = 0.0f;
    std::memcpy(&value, RowOf(image, y) + 16 * x + 4 * channel, sizeof(value));
    return value;
}
inline UINT PaletteArgb(const SourceImage& image, int i) {
    const PALETTEENTRY& e = image.palette[i];
    return (UINT{e.peFlags} << 24) | (UINT{e.peRed} << 16) | (UINT{e.peGreen} << 8) | e.peBlue;
}
inline bool PointsInto(const SourceImage& image, const Bytes& file) {
    return image.pixels >= file.data() && image.pixels < file.data() + file.size();
}

}  // namespace qm::test
