// surface_loading.h: filling a Direct3D 9 surface or volume (or a rectangle of one) from pixels in
// memory or from another surface or volume, converting and filtering on the way.
#pragma once

#include "platform/d3d9/d3d9.h"
#include "platform/win/win_types.h"

namespace qm {

// Common rules of the four loaders:
// - The destination, the source pixels (or surface) and the source rectangle (box) are required,
//   else D3DERR_INVALIDCALL. The destination rectangle may be null (the whole surface); it must lie
//   inside the surface, else D3DERR_INVALIDCALL.
// - filter is a filter word (pixel_box.h); -1 means FILTER_TRIANGLE | FILTER_DITHER.
// - colorKey (ARGB, 0 = none) turns source pixels of that colour into transparent black.
// - Palettes are 256 entries (red, green, blue, alpha), or null. The destination palette is the one
//   a palettized destination is encoded against.
// - The destination is locked around the work (widened to whole 4 x 4 blocks for DXT formats, to
//   pixel pairs for the two-pixel formats); when it cannot be locked it is reached through a
//   system-memory copy that is written back afterwards. It is always unlocked and every temporary
//   released.
// Results: S_OK, D3DERR_INVALIDCALL, E_FAIL (no codec or strategy), E_OUTOFMEMORY, or a Direct3D
// failure as it came.

// srcMemory points at pixel (0, 0) of the source image; srcRect is the region of it to read, in
// pixels (for DXT sources the pitch is per row of 4 x 4 blocks).
HRESULT LoadSurfaceFromMemory(IDirect3DSurface9* destSurface, const PALETTEENTRY* destPalette, const RECT* destRect,
                              const void* srcMemory, D3DFORMAT srcFormat, UINT srcPitch,
                              const PALETTEENTRY* srcPalette, const RECT* srcRect, DWORD filter, D3DCOLOR colorKey);

HRESULT LoadVolumeFromMemory(IDirect3DVolume9* destVolume, const PALETTEENTRY* destPalette, const D3DBOX* destBox,
                             const void* srcMemory, D3DFORMAT srcFormat, UINT srcRowPitch, UINT srcSlicePitch,
                             const PALETTEENTRY* srcPalette, const D3DBOX* srcBox, DWORD filter, D3DCOLOR colorKey);

// A null source rectangle means the whole source surface. Same-size copies without a box filter,
// colour key or palette change go through IDirect3DDevice9::StretchRect (default-pool source) or
// UpdateSurface (system-memory source) when the destination is in the default pool. After reading a
// default-pool source into a destination in another pool, a lost device gives D3DERR_DEVICELOST.
HRESULT LoadSurfaceFromSurface(IDirect3DSurface9* destSurface, const PALETTEENTRY* destPalette, const RECT* destRect,
                               IDirect3DSurface9* srcSurface, const PALETTEENTRY* srcPalette, const RECT* srcRect,
                               DWORD filter, D3DCOLOR colorKey);

// A null source box means the whole source volume.
HRESULT LoadVolumeFromVolume(IDirect3DVolume9* destVolume, const PALETTEENTRY* destPalette, const D3DBOX* destBox,
                             IDirect3DVolume9* srcVolume, const PALETTEENTRY* srcPalette, const D3DBOX* srcBox,
                             DWORD filter, D3DCOLOR colorKey);

}  // namespace qm
