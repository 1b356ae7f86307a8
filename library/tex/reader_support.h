// reader_support.h: pixel blocks for the readers that write every byte of their image themselves.
#pragma once

#include <cstdint>

#include "library/tex/source_image.h"
#include "platform/win/win_types.h"

namespace qm {

// As AllocatePixels (image_readers.h), for readers that write every byte of the block: the block is
// not zero-filled, and when the record's target matches the image (format, width, height and row
// pitch, with the record's format and width already set) the target is used instead and nothing is
// allocated.
HRESULT AllocateWrittenPixels(SourceImage* image, std::uint64_t rowPitch, std::uint64_t rows, BYTE** block);

}  // namespace qm
