// format_choice.h: choosing the texture format closest to a requested one among those a device
// accepts, by the channel-mismatch score over the format table.
#pragma once

#include "library/tex/format_table.h"
#include "platform/d3d9/d3d9.h"

namespace qm {

// The score of a candidate that may not replace the requested format at all.
inline constexpr UINT kNoFormatMatch = 0xFFFFFFFFu;

// Usage bit of a vertex-texture query; on a device with software vertex processing the format
// checks then also carry D3DUSAGE_SOFTWAREPROCESSING.
inline constexpr DWORD kUsageQueryVertexTexture = 0x100000;

// How badly candidate stands in for requested (lower is better). kNoFormatMatch when the
// candidate's kind may not replace the requested kind (colour only by colour; palettized by colour
// or palettized; luminance by colour or luminance; signed by signed; depth by depth) or when every
// channel the request has is lost. Otherwise, per channel width r (requested) and c (candidate):
// a narrower channel adds (r - c) << 16, a lost one 1 << 24; a wider one adds c - r, a gained one 256.
UINT FormatMismatchScore(const FormatDescriptor& requested, const FormatDescriptor& candidate);

// The format for a texture of the given resource type and usage: the requested format itself when
// the device accepts it, else the accepted substitute row with the lowest score (fewer bits, then
// table order, break ties); D3DFMT_UNKNOWN when nothing fits. With a null device every row counts as
// accepted. With a device, each row is checked with IDirect3D9::CheckDeviceFormat against the
// device's adapter, type and display format, the debug output muted meanwhile.
D3DFORMAT ChooseTextureFormat(IDirect3DDevice9* device, DWORD usage, D3DRESOURCETYPE type,
                              const FormatDescriptor& requested);

}  // namespace qm
