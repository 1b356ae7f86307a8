// convert_filter.h: moving pixels from one PixelBox to another while converting the format and
// resampling to the destination size (raw copy, same-size conversion, crop, point, 2:1 box,
// bilinear and tent resampling in 2D and 3D).
#pragma once

#include "library/tex/pixel_box.h"
#include "platform/win/win_types.h"

namespace qm {

// Fills the destination box from the source box. The filter word's kind and flags choose the
// resampling; the first strategy that applies does the work:
//   raw copy (same format and size, no colour key), same-size conversion, FILTER_NONE (crop, the
//   rest transparent black), FILTER_POINT, FILTER_BOX 2:1 in 2D and 3D (packed integer paths for
//   the common 8-bit-channel formats), FILTER_LINEAR in 2D and 3D, and the tent filter in 2D and 3D
//   for every other case.
// The destination is dithered when its dither flag or FILTER_DITHER is set; the source is
// gamma-encoded when its colour-space flag or FILTER_SRGB_IN is set, the destination when its flag
// or FILTER_SRGB_OUT is set.
// Results: S_OK; D3DERR_INVALIDCALL for a bad filter word; E_FAIL when a format has no codec or no
// strategy applies; E_OUTOFMEMORY when row buffers cannot be made.
HRESULT ConvertAndFilter(const PixelBox& destination, const PixelBox& source, DWORD filter);

// The 2:1 box reduction of whole 8-bit ARGB rows: each output channel is (a + b + c + d + 2) >> 2
// of the 2 x 2 block below it. count output pixels; row0/row1 hold 2 x count input pixels.
// The portable version and the one chosen for this processor (SSE2 where present, unless the build
// forces portable code) must give identical results.
void BoxReduceArgbRowPortable(DWORD* out, const DWORD* row0, const DWORD* row1, UINT count);
void BoxReduceArgbRow(DWORD* out, const DWORD* row0, const DWORD* row1, UINT count);

}  // namespace qm
