// format_table.h: the library's constant table of pixel formats (kind, bits per pixel, channel
// widths, substitute flag), its lookup, and the map from a record's format to the format reported.
#pragma once

#include <span>

#include "platform/d3d9/d3d9types.h"
#include "platform/win/win_types.h"

namespace qm {

enum class FormatKind : DWORD {
    Color = 0,
    Palettized = 1,
    Luminance = 2,
    Signed = 3,
    DepthStencil = 4,
};

// Positions in FormatDescriptor::widths. For colour, palettized and luminance formats: extra, alpha,
// red, green, blue (luminance counts in all three of red, green and blue). Signed formats use the
// same slots for luminance-or-alpha, Q, W, V, U; depth formats for lockable, -, -, stencil, depth.
inline constexpr int kWidthExtra = 0;
inline constexpr int kWidthAlpha = 1;
inline constexpr int kWidthRed = 2;
inline constexpr int kWidthGreen = 3;
inline constexpr int kWidthBlue = 4;
inline constexpr int kWidthCount = 5;

// One row of the table: nine 32-bit fields.
struct FormatDescriptor {
    D3DFORMAT format;
    FormatKind kind;
    UINT bitsPerPixel;
    UINT widths[kWidthCount];
    UINT substitute;  // 1 when the format may be offered in place of another
};
static_assert(sizeof(FormatDescriptor) == 9 * sizeof(UINT));

// The rows of the table in their fixed order (without the leading empty descriptor).
std::span<const FormatDescriptor> FormatTable();

// The descriptor that stands before the table: format 0, colour, 32 bits, widths 0,8,8,8,8, flag 0.
const FormatDescriptor& EmptyFormatDescriptor();

// The row of a format, or the empty descriptor when the format is not in the table.
const FormatDescriptor& FindFormatDescriptor(D3DFORMAT format);

// The format under which a record's format is reported or taken as a texture format: the private
// 16-bit grey-alpha code reports as D3DFMT_A8L8, the private 16-bit RGB code as D3DFMT_R8G8B8, every
// other code as itself.
D3DFORMAT ReportedFormat(D3DFORMAT format);

}  // namespace qm
