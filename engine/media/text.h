// text.h: the engine's one current font, chosen by face name, size and style, and text printed with it.
#pragma once

#include <cstdint>

namespace qm {

// Replaces the current font with one made from the four-word font record (width, height, style bits
// bold/italic/underline/strike-out, character set selector 1 = Shift-JIS) and the face name. A font
// GDI cannot make leaves no current font; a Font the library cannot make shows a message box and
// leaves no current font. Always 0; a null record leaves no current font, a null face name asks GDI for its default face.
std::int32_t SetEngineFont(const std::int32_t* record, const char* faceName);
// Prints zero-terminated text with its top-left corner at (x, y) in the current draw colour, tabs
// expanded, clipped to the rectangle ending at the window's right and bottom edges. Always 0;
// nothing is drawn without a current font or text.
std::int32_t PrintEngineText(const char* text, std::int32_t x, std::int32_t y);

}  // namespace qm
