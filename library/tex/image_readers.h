// image_readers.h: the seven image file readers that ParseImageFile tries, and the helpers they share.
//
// Each reader takes the record to fill (its decode flag already set), the file's bytes and their
// count. It returns S_OK when it accepts the data and has filled the record (format, pixels, palette,
// sizes, pitches; the DDS reader also the resource type and the mip and face chains), E_FAIL when the
// data is not of its type or is damaged, E_OUTOFMEMORY when an allocation fails. A reader never reads
// outside [data, data + size) and never writes outside the blocks it allocates. On failure the record
// may hold partial output; the caller resets it before trying the next reader.
//
// Records point into the file data (not owned) or at blocks the reader allocated (owned). Readers
// allocate only when the decode flag is set, except the PPM reader, which always decodes; the DDS
// reader never allocates pixels.
#pragma once

#include <cstdint>
#include <memory>

#include "library/tex/source_image.h"
#include "platform/win/win_types.h"

namespace qm {

HRESULT ReadBmp(SourceImage* image, const BYTE* data, UINT size);
HRESULT ReadDib(SourceImage* image, const BYTE* data, UINT size);
HRESULT ReadPpm(SourceImage* image, const BYTE* data, UINT size);
HRESULT ReadDds(SourceImage* image, const BYTE* data, UINT size);
HRESULT ReadJpg(SourceImage* image, const BYTE* data, UINT size);
HRESULT ReadPng(SourceImage* image, const BYTE* data, UINT size);
HRESULT ReadTga(SourceImage* image, const BYTE* data, UINT size);

// The largest pixel block a reader allocates. The library is built for a 32-bit address space, where
// no larger block could exist; bigger images fail with E_OUTOFMEMORY.
inline constexpr std::uint64_t kMaxPixelBlockBytes = 0x7FFFFFFFu;

// Allocates a zero-filled pixel block of rowPitch x rows bytes, makes it the record's owned pixels and
// returns it in *block for filling. E_OUTOFMEMORY when the pitch does not fit 32 bits, the block is
// larger than kMaxPixelBlockBytes or the allocation fails.
HRESULT AllocatePixels(SourceImage* image, std::uint64_t rowPitch, std::uint64_t rows, BYTE** block);

// A 256-entry palette with every entry opaque white (0xFFFFFFFF); null when allocation fails.
std::unique_ptr<PALETTEENTRY[]> NewWhitePalette();

inline UINT LoadU16(const BYTE* p) { return static_cast<UINT>(p[0]) | (static_cast<UINT>(p[1]) << 8); }
inline UINT LoadU24(const BYTE* p) { return LoadU16(p) | (static_cast<UINT>(p[2]) << 16); }
inline UINT LoadU32(const BYTE* p) { return LoadU24(p) | (static_cast<UINT>(p[3]) << 24); }
inline std::int32_t LoadS16(const BYTE* p) { return static_cast<std::int16_t>(LoadU16(p)); }
inline std::int32_t LoadS32(const BYTE* p) { return static_cast<std::int32_t>(LoadU32(p)); }

// Rounds a byte count up to a multiple of 4.
inline std::uint64_t AlignTo4(std::uint64_t bytes) { return (bytes + 3) & ~std::uint64_t{3}; }

}  // namespace qm
