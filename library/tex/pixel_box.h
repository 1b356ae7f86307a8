// pixel_box.h: the description of a block of pixels that conversion reads or writes (PixelBox), and
// the filter word that says how a source is resampled into a destination.
#pragma once

#include "library/tex/source_image.h"
#include "platform/d3d9/d3d9types.h"
#include "platform/win/win_types.h"

namespace qm {

// Filter kinds: the low 16 bits of the filter word.
inline constexpr DWORD FILTER_NONE = 1;      // copy what overlaps, transparent black elsewhere
inline constexpr DWORD FILTER_POINT = 2;     // nearest source pixel, 16.16 fixed-point steps
inline constexpr DWORD FILTER_LINEAR = 3;    // bilinear (trilinear for volumes)
inline constexpr DWORD FILTER_TRIANGLE = 4;  // tent resampling, any size ratio
inline constexpr DWORD FILTER_BOX = 5;       // 2:1 box reduction (tent for other ratios)
inline constexpr DWORD kFilterKindMask = 0xFFFF;

// Filter flags.
inline constexpr DWORD FILTER_MIRROR_U = 0x10000;   // clamp at the horizontal edges instead of wrapping
inline constexpr DWORD FILTER_MIRROR_V = 0x20000;   // clamp at the vertical edges
inline constexpr DWORD FILTER_MIRROR_W = 0x40000;   // clamp at the front and back
inline constexpr DWORD FILTER_MIRROR = FILTER_MIRROR_U | FILTER_MIRROR_V | FILTER_MIRROR_W;
inline constexpr DWORD FILTER_DITHER = 0x80000;     // the destination is quantised with ordered dither
inline constexpr DWORD FILTER_SRGB_IN = 0x100000;   // source values are gamma-encoded
inline constexpr DWORD FILTER_SRGB_OUT = 0x200000;  // destination values are gamma-encoded
inline constexpr DWORD FILTER_SRGB = FILTER_SRGB_IN | FILTER_SRGB_OUT;

// The filter a loader uses when the caller passes -1.
inline constexpr DWORD kDefaultLoadFilter = FILTER_TRIANGLE | FILTER_DITHER;

// True when the kind is 1-5 and no bit above FILTER_SRGB_OUT is set.
constexpr bool IsValidFilter(DWORD filter) {
    DWORD kind = filter & kFilterKindMask;
    return kind >= FILTER_NONE && kind <= FILTER_BOX && (filter & ~(kFilterKindMask | 0x3F0000u)) == 0;
}

// A block of pixels in memory, as a source to read or a destination to write.
// - pixels points at the first byte of the whole surface, volume or image (pixel (0, 0, 0));
//   rows are rowPitch bytes apart (block formats: one row of 4x4 blocks), slices slicePitch apart.
// - extent is the whole surface; block formats use it to know where the image really ends.
// - box is the region to read or write, inside extent.
// - colorKey (ARGB, 0 = none) turns source pixels of that colour into transparent black.
// - palette is 256 entries (red, green, blue, alpha), or null; used by palettized formats.
// A source box is only read even though pixels is not const.
struct PixelBox {
    BYTE* pixels = nullptr;
    D3DFORMAT format = D3DFMT_UNKNOWN;  // a Direct3D format or kFormatAL16 / kFormatR16
    UINT rowPitch = 0;
    UINT slicePitch = 0;
    ImageBox extent;
    ImageBox box;
    bool dither = false;
    bool colorSpace = false;  // values are gamma-encoded
    D3DCOLOR colorKey = 0;
    const PALETTEENTRY* palette = nullptr;

    UINT Width() const { return box.right - box.left; }
    UINT Height() const { return box.bottom - box.top; }
    UINT Depth() const { return box.back - box.front; }
};

}  // namespace qm
