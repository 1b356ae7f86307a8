// face_matching.h: finds the installed font file for a GDI font request through fontconfig,
// mapping the platform's common face names to installed equivalents.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/win/win_types.h"

namespace qm::gdi {

// A face file chosen for a request, with what the face itself provides, so that the caller can
// synthesise the bold or oblique style the face lacks.
struct FaceChoice {
    std::string file;  // empty when no font at all is installed
    int index = 0;     // face index inside the file
    std::string family;
    bool bold = false;
    bool italic = false;
};

// Chooses a face for a face name (UTF-8; empty means "any"), weight, slant, character set and the
// pitch-and-family bits of a font description. Never fails while any font is installed: names the
// system does not have fall back to a similar family; SHIFTJIS_CHARSET prefers a face that covers
// Japanese. Results are cached per request.
FaceChoice ChooseFace(std::string_view faceName, bool bold, bool italic, BYTE charSet, BYTE pitchAndFamily);

// A face that has a glyph for the code point, for text the chosen face does not cover; none when no
// installed face has it. Cached per code point and style.
std::optional<FaceChoice> FaceCoveringCodePoint(char32_t codePoint, bool bold, bool italic);

}  // namespace qm::gdi
