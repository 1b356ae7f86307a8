// text_layout.cpp: line building for DrawText: '&' prefixes, CR/LF/CR LF breaks, tab stops every
// eight average character widths, greedy word wrapping at spaces and between ideographs with the
// usual Japanese line-start and line-end rules (kinsoku).
#include "platform/gdi/text_layout.h"

#include <algorithm>

namespace qm::gdi {
namespace {

struct Item {
    char32_t c;
    bool underlined;
};

bool IsSpace(char32_t c) { return c == U' ' || c == U'\t' || c == 0x3000; }

bool IsIdeographic(char32_t c) {
    return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7AF) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFF00 && c <= 0xFFEF) || (c >= 0x20000 && c <= 0x2FFFF);
}

// Characters that may not start a line: closing brackets, stops, small kana, the prolonged sound mark.
constexpr std::u32string_view kNoLineStart =
    U")]},.?!:;%\u3001\u3002\uFF0C\uFF0E\u30FB\uFF1A\uFF1B\uFF1F\uFF01\u309B\u309C\u30FD\u30FE\u309D\u309E"
    U"\u3005\u30FC\uFF09\uFF3D\uFF5D\u300D\u300F\u3011\u3015\u3009\u300B\u2019\u201D\u3041\u3043\u3045\u3047"
    U"\u3049\u3063\u3083\u3085\u3087\u308E\u30A1\u30A3\u30A5\u30A7\u30A9\u30C3\u30E3\u30E5\u30E7\u30EE\u30F5"
    U"\u30F6\uFF61\uFF64\uFF67\uFF68\uFF69\uFF6A\uFF6B\uFF6C\uFF6D\uFF6E\uFF6F\uFF70";
// Characters that may not end a line: opening brackets.
constexpr std::u32string_view kNoLineEnd = U"([{\uFF08\uFF3B\uFF5B\u300C\u300E\u3010\u3014\u3008\u300A\u2018\u201C";

bool CanBreakBetween(char32_t before, char32_t after) {
    if (IsSpace(after)) return false;
    if (IsSpace(before)) return true;
    if (!IsIdeographic(before) && !IsIdeographic(after)) return false;
    return kNoLineStart.find(after) == std::u32string_view::npos && kNoLineEnd.find(before) == std::u32string_view::npos;
}

std::vector<Item> ResolvePrefixes(std::u32string_view text, bool prefixes) {
    std::vector<Item> items;
    items.reserve(text.size());
    bool underlineNext = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (prefixes && c == U'&' && !underlineNext) {
            if (i + 1 < text.size() && text[i + 1] == U'&') {
                items.push_back({U'&', false});
                ++i;
            } else {
                underlineNext = true;  // a lone '&' at the very end is dropped
            }
            continue;
        }
        items.push_back({c, underlineNext});
        underlineNext = false;
    }
    return items;
}

void LayOutParagraph(RealizedFont& font, const Item* items, size_t count, UINT format, int wrapWidth,
                     std::vector<TextLine>* lines) {
    const bool wrap = (format & DT_WORDBREAK) != 0;
    const bool expandTabs = (format & DT_EXPANDTABS) != 0;
    const int tabWidth = std::max(1, 8 * font.Metrics().aveCharWidth);
    if (count == 0) {
        lines->emplace_back();
        return;
    }
    size_t start = 0;
    while (start < count) {
        TextLine line;
        int pen = 0;
        const Glyph* previous = nullptr;
        size_t breakAt = start;  // where the next line would start; start itself means "nowhere yet"
        size_t breakGlyphs = 0;
        int breakWidth = 0;
        size_t inkGlyphs = 0;  // the line up to its last non-space character
        int inkWidth = 0;
        size_t next = count;
        for (size_t i = start; i < count; ++i) {
            char32_t c = items[i].c;
            if (wrap && i > start && CanBreakBetween(items[i - 1].c, c)) {
                breakAt = i;
                breakGlyphs = inkGlyphs;
                breakWidth = inkWidth;
            }
            const Glyph* glyph = &font.GlyphFor(c);
            int x = pen;
            if (c == U'\t' && expandTabs) {
                pen = (pen / tabWidth + 1) * tabWidth;
                previous = nullptr;
            } else {
                if (previous != nullptr) x += font.Kerning(*previous, *glyph);
                pen = x + glyph->advance;
                previous = glyph;
            }
            if (wrap && !IsSpace(c) && pen > wrapWidth && breakAt > start) {
                line.glyphs.resize(breakGlyphs);
                line.width = breakWidth;
                next = breakAt;
                break;
            }
            line.glyphs.push_back({glyph, x, items[i].underlined});
            line.width = pen;
            if (!IsSpace(c)) {
                inkGlyphs = line.glyphs.size();
                inkWidth = pen;
            }
        }
        lines->push_back(std::move(line));
        start = next;
    }
}

}  // namespace

std::vector<TextLine> LayOutText(RealizedFont& font, std::u32string_view text, UINT format, int wrapWidth) {
    std::vector<Item> items = ResolvePrefixes(text, (format & DT_NOPREFIX) == 0);
    std::vector<TextLine> lines;
    if (items.empty()) return lines;
    if ((format & DT_SINGLELINE) != 0) {
        LayOutParagraph(font, items.data(), items.size(), format, wrapWidth, &lines);
        return lines;
    }
    size_t begin = 0;
    for (size_t i = 0; i <= items.size(); ++i) {
        bool end = i == items.size();
        if (!end && items[i].c != U'\r' && items[i].c != U'\n') continue;
        if (end && begin == items.size() && begin > 0) break;  // a break at the very end adds no line
        LayOutParagraph(font, items.data() + begin, i - begin, format, wrapWidth, &lines);
        if (!end && items[i].c == U'\r' && i + 1 < items.size() && items[i + 1].c == U'\n') ++i;
        begin = i + 1;
    }
    return lines;
}

}  // namespace qm::gdi
