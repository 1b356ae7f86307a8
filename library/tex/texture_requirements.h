// texture_requirements.h: fitting a texture request (size, mip count, format) to what a device can
// create, and creating a 2D texture from the fitted request.
#pragma once

#include "platform/d3d9/d3d9.h"

namespace qm {

// Request values that stand for "take the default".
inline constexpr UINT kDefaultValue = 0xFFFFFFFFu;       // sizes, mip levels, filters, usage
inline constexpr UINT kDefaultNonPowerOfTwo = 0xFFFFFFFEu;  // a size: the image's own, not rounded

// Usage bits a request may carry, and those that only ask questions of the format checks and are
// removed before a texture is created.
inline constexpr DWORD kRequestUsageMask = 0x1FC613;
inline constexpr DWORD kQueryUsageMask = 0x1F8000;

// Fits a request of resource type 3 (2D), 4 (volume) or 5 (cube) to the device. Every in/out pointer
// may be null; the defaults apply to the missing ones (sizes and mip levels as kDefaultValue, format
// D3DFMT_UNKNOWN). Usage kDefaultValue counts as 0.
// - format: scratch pool keeps it (unknown becomes A8R8G8B8); otherwise ChooseTextureFormat.
// - sizes: both -1 give 256 x 256, one -1 takes the other, 0 becomes 1; cubes use the larger side
//   for both; depth -1 or 0 becomes 1. Outside the scratch pool they are clamped to the caps (volume
//   extent; width, height and, for 2D, the aspect ratio, square-only meaning 1), rounded up to powers
//   of two where the caps demand it (not for a single level on a conditional non-power-of-two
//   device), and DXT1-DXT5 sizes to multiples of 4.
// - mip levels: with mipmaps available (always in the scratch pool), 0 or more than the full chain
//   gives the full chain, which becomes 0 with D3DUSAGE_AUTOGENMIPMAP unless it is 1; otherwise 1.
// Null device, bad usage bits, a pool above 3 or another resource type: D3DERR_INVALIDCALL; no
// acceptable format: D3DERR_NOTAVAILABLE. Nothing is written on failure.
HRESULT CheckTextureResourceRequirements(IDirect3DDevice9* device, UINT* width, UINT* height, UINT* depth,
                                         UINT* mipLevels, DWORD usage, D3DFORMAT* format, D3DPOOL pool,
                                         D3DRESOURCETYPE type);

// The same for a 2D texture.
HRESULT CheckTextureRequirements(IDirect3DDevice9* device, UINT* width, UINT* height, UINT* mipLevels, DWORD usage,
                                 D3DFORMAT* format, D3DPOOL pool);

// Fits copies of the arguments with CheckTextureRequirements (usage -1 counting as 0) and creates the
// texture with them, the query usage bits removed. The output receives one reference on success.
HRESULT CreateTextureChecked(IDirect3DDevice9* device, UINT width, UINT height, UINT mipLevels, DWORD usage,
                             D3DFORMAT format, D3DPOOL pool, IDirect3DTexture9** texture);

// The number of levels of a full mip chain for the largest side: its bit length (1 for 1).
UINT FullMipCount(UINT largestSide);

// The smallest power of two at or above value (1 for 0 and 1).
UINT NextPowerOfTwo(UINT value);

}  // namespace qm
