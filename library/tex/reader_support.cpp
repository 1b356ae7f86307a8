// reader_support.cpp: pixel-block and palette allocation shared by the image readers.
#include <new>
#include <utility>

#include "library/tex/image_readers.h"
#include "library/tex/reader_support.h"
#include "platform/win/results.h"

namespace qm {

HRESULT AllocatePixels(SourceImage* image, std::uint64_t rowPitch, std::uint64_t rows, BYTE** block) {
    *block = nullptr;
    if (rowPitch > 0xFFFFFFFFu) return E_OUTOFMEMORY;
    if (rows != 0 && rowPitch > kMaxPixelBlockBytes / rows) return E_OUTOFMEMORY;
    std::uint64_t bytes = rowPitch * rows;
    try {
        // At least one byte, so that an empty image still has a valid (owned) pixel pointer.
        std::unique_ptr<BYTE[]> pixels = std::make_unique<BYTE[]>(static_cast<std::size_t>(bytes == 0 ? 1 : bytes));
        *block = pixels.get();
        image->AdoptPixels(std::move(pixels));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT AllocateWrittenPixels(SourceImage* image, std::uint64_t rowPitch, std::uint64_t rows, BYTE** block) {
    const PixelTarget& target = image->target;
    if (target.pixels != nullptr && target.format == image->format && target.width == image->width &&
        target.height == rows && target.rowPitch == rowPitch) {
        *block = target.pixels;
        image->pixels = target.pixels;
        return S_OK;
    }
    *block = nullptr;
    if (rowPitch > 0xFFFFFFFFu) return E_OUTOFMEMORY;
    if (rows != 0 && rowPitch > kMaxPixelBlockBytes / rows) return E_OUTOFMEMORY;
    std::uint64_t bytes = rowPitch * rows;
    try {
        // Not zero-filled: the reader writes every byte before the block is used.
        std::unique_ptr<BYTE[]> pixels =
            std::make_unique_for_overwrite<BYTE[]>(static_cast<std::size_t>(bytes == 0 ? 1 : bytes));
        *block = pixels.get();
        image->AdoptPixels(std::move(pixels));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

std::unique_ptr<PALETTEENTRY[]> NewWhitePalette() {
    std::unique_ptr<PALETTEENTRY[]> entries;
    try {
        entries = std::make_unique<PALETTEENTRY[]>(256);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    for (int i = 0; i < 256; ++i) entries[i] = PALETTEENTRY{0xFF, 0xFF, 0xFF, 0xFF};
    return entries;
}

}  // namespace qm
