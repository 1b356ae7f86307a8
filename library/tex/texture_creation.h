// texture_creation.h: creating 2D, cube and volume textures from image files on disk or in memory
// (size, mip count, format and pool chosen against the device, every level filled), and filling a
// texture's smaller mip levels from a larger one.
#pragma once

#include "library/tex/source_image.h"
#include "platform/d3d9/d3d9.h"
#include "platform/win/win_types.h"

namespace qm {

// The resource type argument that takes the type from the file (2D, cube or volume).
inline constexpr D3DRESOURCETYPE kResourceTypeFromFile = static_cast<D3DRESOURCETYPE>(0xFFFFFFFFu);

// Common arguments of the creation functions:
// - width, height, depth: kDefaultValue (-1) or 0 take the image's size rounded up to a power of
//   two; kDefaultNonPowerOfTwo (-2) takes it unchanged; other values are kept. The device's limits
//   then apply (CheckTextureResourceRequirements).
// - mipLevels: 0 or -1 for the full chain. Levels the file carries are loaded from it; the rest are
//   generated from the file's last level with mipFilter (when mipFilter is FILTER_POINT or
//   FILTER_BOX, or filter is FILTER_NONE) or else each loaded directly from that level with filter.
// - usage, format (D3DFMT_UNKNOWN: the file's own, given an alpha channel when a colour key is set
//   and it has none), pool (in D3DPOOL_DEFAULT without D3DUSAGE_DYNAMIC the pixels go through a
//   system-memory copy and IDirect3DDevice9::UpdateTexture).
// - filter (-1: FILTER_TRIANGLE | FILTER_DITHER) and mipFilter (-1: FILTER_BOX); cube textures clamp
//   at the face edges.
// - colorKey: ARGB colour that loads as transparent black (0: none); for paletted files it is applied
//   to the palette.
// - info (or null) receives what the file holds; palette (or null) receives the file's 256 palette
//   entries, and a paletted format then stays paletted.
// The output receives one reference on success and is left untouched on failure.
// Results: D3DERR_INVALIDCALL (null device, data or output, size 0, bad resource type, usage or
// pool), ERR_INVALID_DATA (unreadable file, or no reader takes the data), E_FAIL (a cube texture
// from a file without six faces), D3DERR_NOTAVAILABLE (no format fits), or a Direct3D or loader
// failure as it came.

HRESULT CreateTextureResourceFromMemory(IDirect3DDevice9* device, const void* data, UINT size, UINT width,
                                        UINT height, UINT depth, UINT mipLevels, DWORD usage, D3DFORMAT format,
                                        D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colorKey,
                                        ImageInfo* info, PALETTEENTRY* palette, D3DRESOURCETYPE type,
                                        IDirect3DBaseTexture9** texture);

// A 2D texture from a file in memory.
HRESULT CreateTextureFromFileInMemoryWithOptions(IDirect3DDevice9* device, const void* data, UINT size, UINT width,
                                                 UINT height, UINT mipLevels, DWORD usage, D3DFORMAT format,
                                                 D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colorKey,
                                                 ImageInfo* info, PALETTEENTRY* palette,
                                                 IDirect3DTexture9** texture);
// The same with every option at its default: the file's size rounded to powers of two, the full mip
// chain, usage 0, the file's format, D3DPOOL_MANAGED, the default filters, no colour key.
HRESULT CreateTextureFromFileInMemory(IDirect3DDevice9* device, const void* data, UINT size,
                                      IDirect3DTexture9** texture);

// A 2D texture from a file named in the system code page, read through a read-only view that is
// closed whatever the outcome. A missing or unreadable file gives ERR_INVALID_DATA; an empty one
// D3DERR_INVALIDCALL.
HRESULT CreateTextureFromFileWithOptions(IDirect3DDevice9* device, LPCSTR fileName, UINT width, UINT height,
                                         UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                         DWORD mipFilter, D3DCOLOR colorKey, ImageInfo* info, PALETTEENTRY* palette,
                                         IDirect3DTexture9** texture);
// The same with every option at its default.
HRESULT CreateTextureFromFile(IDirect3DDevice9* device, LPCSTR fileName, IDirect3DTexture9** texture);

// Fills every level below sourceLevel (-1 meaning 0) of a 2D, cube or volume texture from the level
// above it. filter -1 takes FILTER_BOX when level 0's sides are powers of two, else FILTER_TRIANGLE
// | FILTER_DITHER; cube textures clamp at the face edges; FILTER_SRGB_OUT sets both colour-space
// flags, its absence clears both. With FILTER_POINT or FILTER_BOX each level is made from the one
// just written; with other filters every level is made directly from sourceLevel. palette (or null)
// is the palette of paletted levels. Null texture, another resource type or a source level outside
// the texture: D3DERR_INVALIDCALL.
HRESULT GenerateMipLevels(IDirect3DBaseTexture9* texture, const PALETTEENTRY* palette, UINT sourceLevel,
                          DWORD filter);

}  // namespace qm
