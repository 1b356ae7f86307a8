// draw_text.cpp: DrawTextA/DrawTextW and text extents: text decoding, placement by the alignment
// flags, clipping, opaque backgrounds, antialiased glyph blending and underline/strike-out lines.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/gdi/gdi_objects.h"
#include "platform/gdi/text_layout.h"
#include "platform/gdi/wingdi.h"
#include "platform/win/codepage.h"

using namespace qm::gdi;

namespace {

std::u32string FromUtf16(const WCHAR* text, size_t count) {
    std::u32string out;
    out.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        out.push_back(c);
    }
    return out;
}

// Code pages whose bytes below 0x80 are the ASCII characters.
bool AsciiCompatible(UINT codePage) {
    switch (codePage) {
    case CP_UTF8: case 20127: case 28591: case 1250: case 1251: case 1252: case 1253: case 1254: return true;
    default: return false;
    }
}

// Bytes in the system code page to code points. Text that is all ASCII, the usual case, is taken
// byte for byte without a round trip through the converter.
std::u32string FromSystemCodePage(const char* text, int count) {
    if (count <= 0) return {};
    if (std::all_of(text, text + count, [](char c) { return static_cast<unsigned char>(c) < 0x80; }) &&
        AsciiCompatible(GetACP()))
        return std::u32string(text, text + count);
    int units = MultiByteToWideChar(CP_ACP, 0, text, count, nullptr, 0);
    if (units <= 0) return {};
    std::u16string wide(static_cast<size_t>(units), u'\0');
    units = MultiByteToWideChar(CP_ACP, 0, text, count, wide.data(), units);
    return FromUtf16(wide.data(), static_cast<size_t>(std::max(units, 0)));
}

// 0x00BBGGRR to a DIB pixel, 0x00RRGGBB.
std::uint32_t PixelOf(COLORREF c) { return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF); }

// d * (255 - coverage) + s * coverage over 255, rounded, in each colour channel. Red and blue are
// worked in one word, 16 bits apart: no lane exceeds 16 bits, and (x + 1 + (x >> 8)) >> 8 is
// x / 255 rounded down for every x below 65536.
std::uint32_t Blend(std::uint32_t destination, std::uint32_t source, unsigned coverage) {
    const unsigned inverse = 255 - coverage;
    std::uint32_t redBlue = (destination & 0xFF00FF) * inverse + (source & 0xFF00FF) * coverage + 0x007F007F;
    std::uint32_t green = ((destination >> 8) & 0xFF) * inverse + ((source >> 8) & 0xFF) * coverage + 0x7F;
    redBlue = ((redBlue + 0x00010001 + ((redBlue >> 8) & 0x00FF00FF)) >> 8) & 0x00FF00FF;
    green = (green + 1 + (green >> 8)) >> 8;
    return redBlue | (green << 8);
}

// Coordinates are 64-bit so that rectangles anywhere in the 32-bit plane cannot overflow.
using Coord = std::int64_t;

LONG ClampToLong(Coord v) { return static_cast<LONG>(std::clamp<Coord>(v, INT32_MIN, INT32_MAX)); }

struct Canvas {
    BitmapObject* bitmap;
    Coord clipLeft, clipTop, clipRight, clipBottom;  // inside the bitmap

    std::uint32_t* Row(Coord y) const {
        return bitmap->pixels.data() + static_cast<size_t>(bitmap->RowIndex(static_cast<int>(y))) * bitmap->width;
    }

    void Fill(Coord left, Coord top, Coord right, Coord bottom, std::uint32_t pixel) const {
        left = std::max(left, clipLeft);
        top = std::max(top, clipTop);
        right = std::min(right, clipRight);
        bottom = std::min(bottom, clipBottom);
        for (Coord y = top; y < bottom; ++y)
            if (left < right) std::fill(Row(y) + left, Row(y) + right, pixel);
    }

    void DrawGlyph(const Glyph& glyph, Coord originX, Coord originY, std::uint32_t pixel) const {
        // The glyph's rows and columns that fall inside the clip rectangle.
        const Coord firstRow = std::max<Coord>(0, clipTop - originY);
        const Coord endRow = std::min<Coord>(glyph.rows, clipBottom - originY);
        const Coord firstColumn = std::max<Coord>(0, clipLeft - originX);
        const Coord endColumn = std::min<Coord>(glyph.width, clipRight - originX);
        if (firstRow >= endRow || firstColumn >= endColumn) return;
        for (Coord gy = firstRow; gy < endRow; ++gy) {
            std::uint32_t* row = Row(originY + gy);
            const std::uint8_t* coverage = glyph.coverage.data() + static_cast<size_t>(gy) * glyph.width;
            for (Coord gx = firstColumn; gx < endColumn; ++gx) {
                const unsigned c = coverage[gx];
                if (c == 0) continue;
                std::uint32_t& out = row[originX + gx];
                out = c == 255 ? pixel : Blend(out, pixel, c);
            }
        }
    }
};

int DrawTextCodePoints(HDC hdc, std::u32string_view text, RECT* rect, UINT format) {
    DcObject* dc = FindDc(hdc);
    if (dc == nullptr || rect == nullptr) return 0;
    FontObject* font = FindFont(dc->font);
    if (font == nullptr) return 0;
    RealizedFont& realized = *font->realized;
    const FontMetrics& metrics = realized.Metrics();
    const Coord rectLeft = rect->left, rectTop = rect->top, rectRight = rect->right, rectBottom = rect->bottom;
    std::vector<TextLine> lines =
        LayOutText(realized, text, format, ClampToLong(rectRight - rectLeft));
    int textWidth = 0;
    for (const TextLine& line : lines) textWidth = std::max(textWidth, line.width);
    const Coord textHeight = static_cast<Coord>(lines.size()) * metrics.height;
    if ((format & DT_CALCRECT) != 0) {
        rect->right = ClampToLong(rectLeft + textWidth);
        rect->bottom = ClampToLong(rectTop + textHeight);
        return ClampToLong(textHeight);
    }

    // Vertical alignment applies to single-line text only, as on the platform.
    Coord top = rectTop;
    if ((format & DT_SINGLELINE) != 0) {
        if ((format & DT_BOTTOM) != 0) top = rectBottom - textHeight;
        else if ((format & DT_VCENTER) != 0) top = (rectTop + rectBottom - textHeight) >> 1;
    }
    const int result = ClampToLong(top - rectTop + textHeight);

    BitmapObject* bitmap = FindBitmap(dc->bitmap);
    if (bitmap == nullptr) return result;
    Canvas canvas{bitmap, 0, 0, bitmap->width, bitmap->height};
    if ((format & DT_NOCLIP) == 0) {
        canvas.clipLeft = std::max(canvas.clipLeft, rectLeft);
        canvas.clipTop = std::max(canvas.clipTop, rectTop);
        canvas.clipRight = std::min(canvas.clipRight, rectRight);
        canvas.clipBottom = std::min(canvas.clipBottom, rectBottom);
    }
    if (canvas.clipLeft >= canvas.clipRight || canvas.clipTop >= canvas.clipBottom) return result;

    const std::uint32_t ink = PixelOf(dc->textColor);
    const std::uint32_t paper = PixelOf(dc->bkColor);
    for (size_t index = 0; index < lines.size(); ++index) {
        const TextLine& line = lines[index];
        Coord x = rectLeft;
        if ((format & DT_RIGHT) != 0) x = rectRight - line.width;
        else if ((format & DT_CENTER) != 0) x = (rectLeft + rectRight - line.width) >> 1;
        const Coord lineTop = top + static_cast<Coord>(index) * metrics.height;
        const Coord baseline = lineTop + metrics.ascent;
        if (dc->bkMode == OPAQUE) canvas.Fill(x, lineTop, x + line.width, lineTop + metrics.height, paper);
        for (const PlacedGlyph& placed : line.glyphs) {
            const Glyph& glyph = *placed.glyph;
            canvas.DrawGlyph(glyph, x + placed.x + glyph.left, baseline - glyph.top, ink);
            if (placed.underlined) {
                Coord y = baseline + metrics.underlineOffset;
                canvas.Fill(x + placed.x, y, x + placed.x + glyph.advance, y + metrics.underlineThickness, ink);
            }
        }
        if (metrics.underline) {
            Coord y = baseline + metrics.underlineOffset;
            canvas.Fill(x, y, x + line.width, y + metrics.underlineThickness, ink);
        }
        if (metrics.strikeOut) {
            Coord y = baseline + metrics.strikeOutOffset;
            canvas.Fill(x, y, x + line.width, y + metrics.strikeOutThickness, ink);
        }
    }
    return result;
}

bool Extent(HDC hdc, std::u32string_view text, SIZE* size) {
    DcObject* dc = FindDc(hdc);
    FontObject* font = dc != nullptr ? FindFont(dc->font) : nullptr;
    if (font == nullptr || size == nullptr) return false;
    std::vector<TextLine> lines = LayOutText(*font->realized, text, DT_SINGLELINE | DT_NOPREFIX, 0);
    size->cx = lines.empty() ? 0 : lines.front().width;
    size->cy = font->realized->Metrics().height;
    return true;
}

}  // namespace

int DrawTextA(HDC hdc, LPCSTR lpchText, int cchText, RECT* lprc, UINT format) {
    if (lpchText == nullptr) return 0;
    int count = cchText < 0 ? static_cast<int>(std::strlen(lpchText)) : cchText;
    return DrawTextCodePoints(hdc, FromSystemCodePage(lpchText, count), lprc, format);
}

int DrawTextW(HDC hdc, LPCWSTR lpchText, int cchText, RECT* lprc, UINT format) {
    if (lpchText == nullptr) return 0;
    size_t count = 0;
    if (cchText < 0) {
        while (lpchText[count] != 0) ++count;
    } else {
        count = static_cast<size_t>(cchText);
    }
    return DrawTextCodePoints(hdc, FromUtf16(lpchText, count), lprc, format);
}

BOOL GetTextExtentPoint32A(HDC hdc, LPCSTR lpString, int c, SIZE* psizl) {
    if (lpString == nullptr || c < 0) return FALSE;
    return Extent(hdc, FromSystemCodePage(lpString, c), psizl) ? TRUE : FALSE;
}

BOOL GetTextExtentPoint32W(HDC hdc, LPCWSTR lpString, int c, SIZE* psizl) {
    if (lpString == nullptr || c < 0) return FALSE;
    return Extent(hdc, FromUtf16(lpString, static_cast<size_t>(c)), psizl) ? TRUE : FALSE;
}
