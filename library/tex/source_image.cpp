// source_image.cpp: freeing and resetting decoded image records and their chains.
#include "library/tex/source_image.h"

#include <utility>

namespace qm {

namespace {

// Destroys a chain link by link, so that a file with thousands of levels cannot exhaust the stack.
void DestroyChain(std::unique_ptr<SourceImage> chain, std::unique_ptr<SourceImage> SourceImage::*link) {
    while (chain != nullptr) {
        std::unique_ptr<SourceImage> rest = std::move((*chain).*link);
        chain = std::move(rest);
    }
}

}  // namespace

SourceImage::~SourceImage() { FreeChains(); }

void SourceImage::FreeChains() {
    DestroyChain(std::move(nextMip), &SourceImage::nextMip);
    DestroyChain(std::move(nextFace), &SourceImage::nextFace);
}

void SourceImage::Reset() {
    ownedPixels.reset();
    ownedPalette.reset();
    FreeChains();
    format = D3DFMT_UNKNOWN;
    pixels = nullptr;
    palette = nullptr;
    width = 0;
    height = 0;
    depth = 0;
    box = ImageBox{};
    rowPitch = 0;
    slicePitch = 0;
    decode = false;
    resourceType = D3DRTYPE_TEXTURE;
    fileFormat = ImageFileFormat::Bmp;
    // The target is the caller's and stays for the next reader.
}

void SourceImage::AdoptPixels(std::unique_ptr<BYTE[]> block) {
    ownedPixels = std::move(block);
    pixels = ownedPixels.get();
}

void SourceImage::AdoptPalette(std::unique_ptr<PALETTEENTRY[]> entries) {
    ownedPalette = std::move(entries);
    palette = ownedPalette.get();
}

UINT MipChainLength(const SourceImage& first) {
    UINT count = 1;
    for (const SourceImage* level = first.nextMip.get(); level != nullptr; level = level->nextMip.get()) ++count;
    return count;
}

}  // namespace qm
