// parse_image_file.h: probing an image file in memory with the readers in their fixed order.
#pragma once

#include "library/tex/source_image.h"
#include "platform/win/win_types.h"

namespace qm {

// Reads an image file held in memory into *image (a fresh or reset record; whatever it held is freed
// first). Null data or size 0 gives D3DERR_INVALIDCALL. With no info output and decode false there
// is nothing to do and the result is S_OK. Otherwise the readers are tried in the order BMP, PPM,
// DDS, JPG, PNG, TGA, DIB; before each attempt the record's decode flag is set, its file format set to
// the reader's and its resource type to 3, and a reader that fails has its partial output freed. When
// all fail the result is ERR_INVALID_DATA (the record is left empty). On success:
// - *info (when given) is zeroed and filled from the first record: width, height, depth, mip levels
//   (1 + the length of its next-mip chain), the reported format, resource type and file format;
// - every record of every face gets its box set to the whole image.
// With decode false the readers fill the header fields only (the PPM reader still decodes, and DDS
// records always point into the data). The records may point into data, which must outlive them.
// A null image record gives D3DERR_INVALIDCALL.
HRESULT ParseImageFile(SourceImage* image, const void* data, UINT size, ImageInfo* info, bool decode);

}  // namespace qm
