// dxt_codec.h: the S3TC block formats DXT1-DXT5: decoding one 4 x 4 block, and the encoder (error
// diffusion to the stored precision, endpoint choice along the best bounding-box diagonal, and
// least-squares endpoint refinement).
#pragma once

#include <memory>

#include "library/tex/format_codec.h"
#include "platform/d3d9/d3d9types.h"
#include "platform/win/win_types.h"

namespace qm {

// True for DXT1-DXT5.
bool IsDxtFormat(D3DFORMAT format);
// Bytes per 4 x 4 block: 8 for DXT1, 16 for DXT2-DXT5 (0 for other formats).
UINT DxtBlockBytes(D3DFORMAT format);

// Decodes one block into 16 pixels in raster order. DXT2 and DXT4 colours are divided by alpha
// (premultiplied storage; alpha 0 gives black).
void DecodeDxtBlock(D3DFORMAT format, const BYTE* block, Rgba out[16]);

// Encodes 16 pixels (raster order, values in [0, 1]) into one block of the format. DXT2 and DXT4
// multiply colour by alpha first. DXT1 uses its transparent entry for alphas below 0.5.
void EncodeDxtBlock(D3DFORMAT format, const Rgba in[16], BYTE* block);

// The 8-byte colour part: two 5-6-5 endpoints and 2-bit indices. With allowTransparent, pixels
// whose alpha (dithered to one bit) is below 0.5 take the transparent entry of the three-colour mode.
void EncodeDxtColorBlock(const Rgba in[16], bool allowTransparent, BYTE block[8]);

// The codec of a DXT box (used by CreateFormatCodec). It keeps one decoded row of blocks per slice:
// reading decodes a block row when first touched; writing collects rows into it (decoding the
// existing blocks first when the box does not cover them whole) and encodes it once all four rows
// are present, rows outside the box counting as present. Pixels past the extent are filled by
// repeating the real ones (column 0, 0, 0, 1 for block columns 0-3 beyond the edge; rows alike).
std::unique_ptr<FormatCodec> MakeDxtCodec(const CodecInfo& info, const PixelBox& box);

}  // namespace qm
