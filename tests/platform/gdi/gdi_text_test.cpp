// gdi_text_test.cpp: the GDI text layer: font metrics from the height rules, DrawText measuring,
// alignment, tabs, word breaking, prefixes, line breaks, backgrounds, clipping, code pages, handles.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "platform/gdi/wingdi.h"

namespace {

constexpr std::uint32_t kPaper = 0x00102030;

// A memory DC with a top-down 32-bit DIB of the given size and a font selected into it.
struct Surface {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ oldBitmap = nullptr;
    HGDIOBJ oldFont = nullptr;
    HFONT font = nullptr;
    std::uint32_t* pixels = nullptr;
    int width, height;

    Surface(int w, int h, HFONT f) : font(f), width(w), height(h) {
        dc = CreateCompatibleDC(nullptr);
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        pixels = static_cast<std::uint32_t*>(bits);
        oldBitmap = SelectObject(dc, bitmap);
        oldFont = SelectObject(dc, font);
        SetTextColor(dc, RGB(255, 255, 255));
        SetBkMode(dc, TRANSPARENT);
        Clear();
    }
    ~Surface() {
        SelectObject(dc, oldFont);
        SelectObject(dc, oldBitmap);
        DeleteObject(bitmap);
        DeleteDC(dc);
        DeleteObject(font);
    }
    void Clear() { std::fill(pixels, pixels + width * height, kPaper); }
    std::uint32_t At(int x, int y) const { return pixels[y * width + x]; }

    // The bounding box of every pixel that is not paper; left > right when there is none.
    RECT Ink() const {
        RECT box{width, height, -1, -1};
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (At(x, y) != kPaper) {
                    box.left = std::min<LONG>(box.left, x);
                    box.top = std::min<LONG>(box.top, y);
                    box.right = std::max<LONG>(box.right, x + 1);
                    box.bottom = std::max<LONG>(box.bottom, y + 1);
                }
        return box;
    }
    RECT InkOfW(const char16_t* text, RECT rect, UINT format) {
        Clear();
        DrawTextW(dc, text, -1, &rect, format);
        return Ink();
    }
    SIZE Measure(const char16_t* text, UINT format = 0, LONG wrapWidth = 0) {
        RECT rect{0, 0, wrapWidth, 0};
        DrawTextW(dc, text, -1, &rect, format | DT_CALCRECT);
        return SIZE{rect.right, rect.bottom};
    }
    TEXTMETRICA Metrics() const {
        TEXTMETRICA tm{};
        GetTextMetricsA(dc, &tm);
        return tm;
    }
};

HFONT Font(int height, const char* face = "Arial", int weight = 0, DWORD charSet = ANSI_CHARSET) {
    return CreateFontA(height, 0, 0, 0, weight, 0, 0, 0, charSet, 0, 0, 0, 0, face);
}

TEST(GdiFont, HeightRulesAndDescription) {
    {
        Surface s(64, 64, Font(-16));
        TEXTMETRICA tm = s.Metrics();
        EXPECT_EQ(tm.tmHeight - tm.tmInternalLeading, 16);  // the em is 16 pixels
        EXPECT_EQ(tm.tmHeight, tm.tmAscent + tm.tmDescent);
        EXPECT_GT(tm.tmInternalLeading, 0);
    }
    for (int cell : {12, 20, 33}) {
        Surface s(64, 64, Font(cell));
        TEXTMETRICA tm = s.Metrics();
        EXPECT_EQ(tm.tmAscent + tm.tmDescent, cell);
        EXPECT_EQ(tm.tmHeight, cell);
    }
    {
        // The cap height of a 100-pixel em is the face's cap height in em units: for every common
        // sans face that is between 0.65 and 0.75 em.
        Surface s(200, 200, Font(-100));
        RECT ink = s.InkOfW(u"H", RECT{0, 0, 200, 200}, DT_NOCLIP);
        EXPECT_GE(ink.bottom - ink.top, 65);
        EXPECT_LE(ink.bottom - ink.top, 75);
        // The baseline is ascent pixels below the top of the line.
        EXPECT_NEAR(ink.bottom, s.Metrics().tmAscent, 1);
    }
    {
        // A width asks for the average character width; bold raises the weight.
        HFONT narrow = CreateFontA(-20, 5, 0, 0, 700, 1, 1, 1, ANSI_CHARSET, 0, 0, 0, 0, "Courier New");
        Surface s(64, 64, narrow);
        TEXTMETRICA tm = s.Metrics();
        EXPECT_EQ(tm.tmAveCharWidth, 5);
        EXPECT_EQ(tm.tmWeight, 700);
        EXPECT_EQ(tm.tmItalic, 1);
        EXPECT_EQ(tm.tmUnderlined, 1);
        EXPECT_EQ(tm.tmStruckOut, 1);
        LOGFONTA lf{};
        EXPECT_EQ(GetObjectA(narrow, sizeof lf, &lf), 60);
        EXPECT_EQ(lf.lfHeight, -20);
        EXPECT_EQ(lf.lfWidth, 5);
        EXPECT_STREQ(lf.lfFaceName, "Courier New");
    }
}

TEST(GdiFont, FacesFallBackAndJapaneseChoosesJapaneseFace) {
    Surface missing(32, 32, Font(-12, "No Such Face At All"));
    char name[64] = {};
    EXPECT_GT(GetTextFaceA(missing.dc, sizeof name, name), 0);  // a face was found anyway

    Surface gothic(32, 32, Font(-12, "MS Gothic", 0, SHIFTJIS_CHARSET));
    GetTextFaceA(gothic.dc, sizeof name, name);
    EXPECT_NE(std::string(name).find("IPA"), std::string::npos) << name;
    // A Latin face name with the Japanese character set still gets Japanese glyphs.
    Surface latin(32, 32, Font(-12, "Arial", 0, SHIFTJIS_CHARSET));
    GetTextFaceA(latin.dc, sizeof name, name);
    EXPECT_NE(std::string(name).find("IPA"), std::string::npos) << name;
    // A Latin face without ideographs borrows them from a face that has them: a full em wide, not
    // the narrower missing-glyph box.
    Surface western(64, 64, Font(-24, "Arial"));
    EXPECT_GE(western.Measure(u"\u65E5").cx, 23);
    RECT ink = western.InkOfW(u"\u65E5", RECT{0, 0, 64, 64}, 0);
    EXPECT_GE(ink.right - ink.left, 16);
}

TEST(GdiHandles, StaleAndForeignHandlesAreRefused) {
    HFONT font = Font(-12);
    ASSERT_NE(font, nullptr);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    EXPECT_EQ(DeleteObject(font), FALSE);  // still selected
    SelectObject(dc, old);
    EXPECT_EQ(DeleteObject(font), TRUE);
    LOGFONTA lf;
    EXPECT_EQ(GetObjectA(font, sizeof lf, &lf), 0);
    EXPECT_EQ(SelectObject(dc, font), nullptr);
    EXPECT_EQ(DeleteObject(font), FALSE);
    EXPECT_EQ(SelectObject(dc, reinterpret_cast<HGDIOBJ>(dc)), nullptr);
    EXPECT_EQ(SelectObject(reinterpret_cast<HDC>(0x12345678), old), nullptr);
    RECT rect{0, 0, 10, 10};
    EXPECT_EQ(DrawTextA(reinterpret_cast<HDC>(font), "x", -1, &rect, 0), 0);
    EXPECT_EQ(DeleteDC(dc), TRUE);
    EXPECT_EQ(SetBkMode(dc, OPAQUE), 0);
    EXPECT_EQ(SetTextColor(dc, 0), CLR_INVALID);
    EXPECT_EQ(DeleteDC(dc), FALSE);

    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 4, -4, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = reinterpret_cast<void*>(1);
    EXPECT_EQ(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
    EXPECT_EQ(bits, nullptr);
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biWidth = 1 << 20;
    info.bmiHeader.biHeight = -(1 << 20);
    EXPECT_EQ(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
}

TEST(GdiDrawText, ExtremeRectanglesAndSizesAreSafe) {
    Surface s(64, 32, CreateFontA(INT32_MIN, INT32_MIN, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "Arial"));
    TEXTMETRICA tm = s.Metrics();
    EXPECT_EQ(tm.tmHeight - tm.tmInternalLeading, 2048);  // the largest size drawn
    for (UINT format : {0u, DT_CENTER | DT_SINGLELINE | DT_VCENTER, DT_RIGHT | DT_BOTTOM | DT_SINGLELINE, DT_CALCRECT,
                        DT_WORDBREAK | DT_NOCLIP}) {
        RECT everything{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
        DrawTextW(s.dc, u"A\tB\nC", -1, &everything, format | DT_EXPANDTABS);
        RECT backwards{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
        DrawTextW(s.dc, u"A\tB\nC", -1, &backwards, format | DT_EXPANDTABS);
    }
    RECT rect{0, 0, 64, 32};
    EXPECT_EQ(DrawTextW(s.dc, nullptr, -1, &rect, 0), 0);
    EXPECT_EQ(DrawTextW(s.dc, u"x", -1, nullptr, 0), 0);
    EXPECT_EQ(DrawTextW(s.dc, u"", -1, &rect, DT_CALCRECT), 0);
    EXPECT_EQ(rect.right, 0);
    // Unpaired surrogates and bytes that are not UTF-8 are drawn as replacement characters.
    const char16_t broken[] = {0xD800, u'a', 0xDC00, 0};
    rect = RECT{0, 0, 64, 32};
    EXPECT_EQ(DrawTextW(s.dc, broken, -1, &rect, DT_CALCRECT), tm.tmHeight);
    rect = RECT{0, 0, 64, 32};
    EXPECT_EQ(DrawTextA(s.dc, "\xFF\xFE", -1, &rect, DT_CALCRECT), tm.tmHeight);
}

TEST(GdiDrawText, MeasuresByAdvancesAndLines) {
    Surface s(300, 200, Font(-16));
    const int h = s.Metrics().tmHeight;
    SIZE i = s.Measure(u"i");
    SIZE iiii = s.Measure(u"iiii");
    EXPECT_GT(i.cx, 0);
    EXPECT_EQ(iiii.cx, 4 * i.cx);  // no kerning between equal narrow letters
    EXPECT_EQ(iiii.cy, h);
    SIZE extent{};
    EXPECT_TRUE(GetTextExtentPoint32W(s.dc, u"Hello", 5, &extent));
    SIZE hello = s.Measure(u"Hello");
    EXPECT_EQ(hello.cx, extent.cx);
    EXPECT_EQ(hello.cy, extent.cy);
    // The ink of drawn text lies within the measured box (give one pixel for antialiased edges).
    RECT ink = s.InkOfW(u"Hello", RECT{0, 0, 300, 200}, 0);
    EXPECT_GE(ink.left, 0);
    EXPECT_LE(ink.right, hello.cx + 1);
    EXPECT_LE(ink.bottom, h);
    // Lines: CR, LF and CR LF each break; the widest line sets the width; a final break adds none.
    SIZE two = s.Measure(u"i\nHello");
    EXPECT_EQ(two.cx, hello.cx);
    EXPECT_EQ(two.cy, 2 * h);
    EXPECT_EQ(s.Measure(u"i\rHello").cy, 2 * h);
    EXPECT_EQ(s.Measure(u"i\r\nHello").cy, 2 * h);
    EXPECT_EQ(s.Measure(u"i\n\rHello").cy, 3 * h);
    EXPECT_EQ(s.Measure(u"i\n").cy, h);
    EXPECT_EQ(s.Measure(u"\n\n").cy, 2 * h);
    EXPECT_EQ(s.Measure(u"i\nHello", DT_SINGLELINE).cy, h);
    RECT rect{0, 0, 300, 200};
    EXPECT_EQ(DrawTextW(s.dc, u"a\nb\nc", -1, &rect, 0), 3 * h);
    // The count limits the text.
    rect = RECT{0, 0, 0, 0};
    DrawTextA(s.dc, "iiiixxxx", 4, &rect, DT_CALCRECT);
    EXPECT_EQ(rect.right, iiii.cx);
}

TEST(GdiDrawText, AlignmentPlacesTextAtComputedOffsets) {
    Surface s(300, 100, Font(-16));
    const char16_t* text = u"Wide";
    SIZE size = s.Measure(text);
    const int h = s.Metrics().tmHeight;
    RECT rect{20, 10, 250, 90};
    RECT base = s.InkOfW(text, rect, DT_LEFT | DT_TOP);
    ASSERT_LT(base.left, base.right);
    auto shifted = [&](UINT format, int dx, int dy) {
        RECT ink = s.InkOfW(text, rect, format);
        EXPECT_EQ(ink.left, base.left + dx) << format;
        EXPECT_EQ(ink.right, base.right + dx) << format;
        EXPECT_EQ(ink.top, base.top + dy) << format;
        EXPECT_EQ(ink.bottom, base.bottom + dy) << format;
    };
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    shifted(DT_RIGHT, width - size.cx, 0);
    shifted(DT_CENTER, (rect.left + rect.right - size.cx) / 2 - rect.left, 0);
    shifted(DT_SINGLELINE | DT_BOTTOM, 0, height - h);
    shifted(DT_SINGLELINE | DT_VCENTER | DT_CENTER, (rect.left + rect.right - size.cx) / 2 - rect.left,
            (rect.top + rect.bottom - h) / 2 - rect.top);
    // Vertical alignment needs a single line, and the result is the distance to the text's bottom.
    shifted(DT_BOTTOM, 0, 0);
    RECT r = rect;
    EXPECT_EQ(DrawTextW(s.dc, text, -1, &r, DT_SINGLELINE | DT_BOTTOM), height);
    EXPECT_EQ(DrawTextW(s.dc, text, -1, &r, DT_SINGLELINE), h);
}

TEST(GdiDrawText, TabsExpandToEightAverageWidths) {
    Surface s(400, 50, Font(-16));
    const int ave = s.Metrics().tmAveCharWidth;
    RECT rect{0, 0, 400, 50};
    RECT b = s.InkOfW(u"b", rect, DT_EXPANDTABS);
    RECT tabbed = s.InkOfW(u"\tb", rect, DT_EXPANDTABS);
    EXPECT_EQ(tabbed.left, b.left + 8 * ave);
    RECT two = s.InkOfW(u"\t\tb", rect, DT_EXPANDTABS);
    EXPECT_EQ(two.left, b.left + 16 * ave);
    // Text before a tab that is shorter than one stop does not move what follows.
    SIZE bSize = s.Measure(u"b");
    EXPECT_EQ(s.Measure(u"ab\tb", DT_EXPANDTABS).cx, 8 * ave + bSize.cx);
    // Without the flag a tab takes no room.
    RECT plain = s.InkOfW(u"\tb", rect, 0);
    EXPECT_EQ(plain.left, b.left);
}

TEST(GdiDrawText, WordBreakingLatinAndIdeographs) {
    Surface s(400, 300, Font(-16));
    const int h = s.Metrics().tmHeight;
    SIZE aaa = s.Measure(u"aaa");
    SIZE bbb = s.Measure(u"bbb");
    SIZE all = s.Measure(u"aaa bbb");
    // Room for "aaa bb" but not the last b: the second word moves to the next line and the space
    // at the break takes no room.
    SIZE wrapped = s.Measure(u"aaa bbb", DT_WORDBREAK, all.cx - 1);
    EXPECT_EQ(wrapped.cy, 2 * h);
    EXPECT_EQ(wrapped.cx, std::max(aaa.cx, bbb.cx));
    EXPECT_EQ(s.Measure(u"aaa bbb", DT_WORDBREAK, all.cx).cy, h);
    // A single word wider than the line stays whole.
    EXPECT_EQ(s.Measure(u"aaaaaaaa", DT_WORDBREAK, aaa.cx).cy, h);
    // Drawn: the second line starts at the left edge, one line height down.
    RECT ink = s.InkOfW(u"aaa bbb", RECT{0, 0, all.cx - 1, 300}, DT_WORDBREAK);
    EXPECT_GE(ink.bottom, h + 1);

    Surface j(400, 300, Font(-20, "MS Gothic", 0, SHIFTJIS_CHARSET));
    const int jh = j.Metrics().tmHeight;
    SIZE one = j.Measure(u"\u65E5");
    ASSERT_GT(one.cx, 0);
    // Seven ideographs in a line three and a half wide: 3 + 3 + 1.
    SIZE cjk = j.Measure(u"\u65E5\u672C\u8A9E\u306E\u6587\u5B57\u5217", DT_WORDBREAK, one.cx * 7 / 2);
    EXPECT_EQ(cjk.cy, 3 * jh);
    EXPECT_EQ(cjk.cx, 3 * one.cx);
    // An ideographic full stop may not start a line: it takes the ideograph before it along.
    SIZE stop = j.Measure(u"\u65E5\u672C\u8A9E\u3002", DT_WORDBREAK, one.cx * 7 / 2);
    EXPECT_EQ(stop.cy, 2 * jh);
    EXPECT_EQ(stop.cx, 2 * one.cx);
}

TEST(GdiDrawText, PrefixesUnderlineAndDouble) {
    Surface s(300, 60, Font(-24));
    const TEXTMETRICA tm = s.Metrics();
    EXPECT_EQ(s.Measure(u"&Save").cx, s.Measure(u"Save").cx);
    EXPECT_EQ(s.Measure(u"a&&b").cx, s.Measure(u"a&b", DT_NOPREFIX).cx);
    EXPECT_GT(s.Measure(u"&Save", DT_NOPREFIX).cx, s.Measure(u"Save").cx);
    EXPECT_EQ(s.Measure(u"Save&").cx, s.Measure(u"Save").cx);
    // The mnemonic is underlined below the baseline; the plain word has no ink there.
    RECT rect{0, 0, 300, 60};
    RECT plain = s.InkOfW(u"Save", rect, 0);
    RECT marked = s.InkOfW(u"&Save", rect, 0);
    EXPECT_LE(plain.bottom, tm.tmAscent + 1);
    EXPECT_GT(marked.bottom, tm.tmAscent + 1);
    EXPECT_LE(marked.bottom, tm.tmHeight);
    // Only under the first letter.
    SIZE letter = s.Measure(u"S");
    int underlineRow = marked.bottom - 1;
    for (int x = letter.cx + 1; x < 300; ++x) EXPECT_EQ(s.At(x, underlineRow), kPaper) << x;
}

TEST(GdiDrawText, ColoursBackgroundAndClipping) {
    Surface s(200, 120, Font(-80));
    const TEXTMETRICA tm = s.Metrics();
    SetTextColor(s.dc, RGB(0x11, 0x22, 0x33));
    RECT rect{0, 0, 200, 120};
    SIZE l = s.Measure(u"l");
    // Inside the stem of a large 'l' coverage is complete: exactly the text colour (0x00RRGGBB).
    RECT ink = s.InkOfW(u"l", rect, 0);
    int midX = (ink.left + ink.right) / 2, midY = (ink.top + ink.bottom) / 2;
    EXPECT_EQ(s.At(midX, midY), 0x00112233u);
    // Transparent: the rest of the cell keeps its pixels; opaque: the cell takes the background colour.
    EXPECT_EQ(s.At(l.cx - 1, tm.tmHeight - 1), kPaper);
    SetBkMode(s.dc, OPAQUE);
    SetBkColor(s.dc, RGB(0xAA, 0xBB, 0xCC));
    s.InkOfW(u"l", rect, 0);
    EXPECT_EQ(s.At(0, 0), 0x00AABBCCu);
    EXPECT_EQ(s.At(l.cx - 1, tm.tmHeight - 1), 0x00AABBCCu);
    EXPECT_EQ(s.At(l.cx + 1, 0), kPaper);
    EXPECT_EQ(s.At(0, tm.tmHeight), kPaper);
    SetBkMode(s.dc, TRANSPARENT);
    // Clipped to the rectangle unless DT_NOCLIP.
    RECT small{0, 0, 200, midY};
    ink = s.InkOfW(u"l", small, 0);
    EXPECT_LE(ink.bottom, midY);
    ink = s.InkOfW(u"l", small, DT_NOCLIP);
    EXPECT_GT(ink.bottom, midY);
}

// Edge pixels mix the text colour into what is there by their coverage, read from the same text
// drawn white on opaque black (where a pixel's grey level is its coverage): each channel becomes
// (d * (255 - c) + s * c + 127) / 255. Glyphs that start outside the bitmap and a clip rectangle
// through them keep every pixel outside the visible part untouched.
TEST(GdiDrawText, EdgePixelsBlendByCoverageAndClip) {
    Surface s(120, 60, Font(-40));
    const char16_t* text = u"Wg&&8";
    const RECT at{-7, -5, 120, 60};
    SetBkMode(s.dc, OPAQUE);
    SetBkColor(s.dc, RGB(0, 0, 0));
    s.InkOfW(text, at, 0);
    std::vector<int> coverage(120 * 60, 0);
    int partial = 0;
    for (int i = 0; i < 120 * 60; ++i) {
        std::uint32_t p = s.pixels[i];
        if (p == kPaper) continue;
        int grey = static_cast<int>(p & 0xFF);
        ASSERT_EQ(p, static_cast<std::uint32_t>(grey * 0x010101)) << "pixel " << i;
        coverage[i] = grey;
        partial += grey > 0 && grey < 255;
    }
    ASSERT_GT(partial, 20);

    SetBkMode(s.dc, TRANSPARENT);
    SetTextColor(s.dc, RGB(0xF0, 0x80, 0x08));
    const std::uint32_t ink = 0x00F08008;
    auto expected = [&](int i) {
        std::uint32_t out = 0;
        for (int shift = 0; shift < 24; shift += 8) {
            unsigned d = (kPaper >> shift) & 0xFF, t = (ink >> shift) & 0xFF, c = coverage[i];
            out |= ((d * (255 - c) + t * c + 127) / 255) << shift;
        }
        return out;
    };
    for (const RECT clip : {RECT{-7, -5, 120, 60}, RECT{-7, -5, 31, 21}}) {
        s.InkOfW(text, clip, 0);
        for (int y = 0; y < 60; ++y)
            for (int x = 0; x < 120; ++x) {
                const bool inside = x < clip.right && y < clip.bottom;
                ASSERT_EQ(s.At(x, y), inside ? expected(y * 120 + x) : kPaper) << x << "," << y;
            }
    }
}

TEST(GdiDrawText, SystemCodePageShiftJisMatchesUnicode) {
    Surface a(200, 60, Font(-24, "MS Gothic", 0, SHIFTJIS_CHARSET));
    Surface w(200, 60, Font(-24, "MS Gothic", 0, SHIFTJIS_CHARSET));
    RECT rect{0, 0, 200, 60};
    DrawTextW(w.dc, u"\u65E5\u672C abc", -1, &rect, 0);
    setenv("QUILLMERE_CODEPAGE", "932", 1);
    RECT r2 = rect;
    int height = DrawTextA(a.dc, "\x93\xFA\x96\x7B abc", -1, &r2, 0);
    unsetenv("QUILLMERE_CODEPAGE");
    EXPECT_EQ(height, a.Metrics().tmHeight);
    RECT ink = w.Ink();
    EXPECT_LT(ink.left, ink.right);
    int differences = 0;
    for (int i = 0; i < 200 * 60; ++i) differences += a.pixels[i] != w.pixels[i];
    EXPECT_EQ(differences, 0);
    // The same bytes read as UTF-8 are not those characters.
    Surface u(200, 60, Font(-24, "MS Gothic", 0, SHIFTJIS_CHARSET));
    RECT r3 = rect;
    DrawTextA(u.dc, "\x93\xFA\x96\x7B abc", -1, &r3, 0);
    differences = 0;
    for (int i = 0; i < 200 * 60; ++i) differences += u.pixels[i] != w.pixels[i];
    EXPECT_GT(differences, 0);
}

}  // namespace
