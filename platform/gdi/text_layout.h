// text_layout.h: DrawText's line building: mnemonic prefixes, line breaks, tab expansion and word
// breaking (at spaces and between ideographs), measured with a realised font.
#pragma once

#include <string_view>
#include <vector>

#include "platform/gdi/realized_font.h"

namespace qm::gdi {

struct PlacedGlyph {
    const Glyph* glyph;
    int x;             // pen position from the line's start
    bool underlined;   // the mnemonic character after a single '&'
};

struct TextLine {
    std::vector<PlacedGlyph> glyphs;
    int width = 0;  // pen position after the line's last character
};

// Splits text (UTF-32) into lines under the DT_ format flags; wrapWidth is the width that
// DT_WORDBREAK wraps at. A line break at the very end does not start another line; empty text has
// no lines.
std::vector<TextLine> LayOutText(RealizedFont& font, std::u32string_view text, UINT format, int wrapWidth);

}  // namespace qm::gdi
