// wingdi.h: the GDI and USER text services of the platform - fonts, memory device contexts with
// 32-bit DIB sections, and DrawText - spelled as the platform spells them, drawn with FreeType.
#pragma once

#include "platform/win/win_types.h"

// Every GDI object is an opaque value from the layer's handle table; a deleted or unknown handle is
// refused by every call, never followed. HFONT and HBITMAP convert to HGDIOBJ as on the platform.
struct HGDIOBJ__ {};
struct HFONT__ : HGDIOBJ__ {};
struct HBITMAP__ : HGDIOBJ__ {};
using HFONT = HFONT__*;
using HBITMAP = HBITMAP__*;

using COLORREF = DWORD;  // 0x00BBGGRR
using CHAR = char;

constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) { return COLORREF(r) | (COLORREF(g) << 8) | (COLORREF(b) << 16); }
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

constexpr int LF_FACESIZE = 32;

struct LOGFONTA {
    LONG lfHeight;
    LONG lfWidth;
    LONG lfEscapement;
    LONG lfOrientation;
    LONG lfWeight;
    BYTE lfItalic;
    BYTE lfUnderline;
    BYTE lfStrikeOut;
    BYTE lfCharSet;
    BYTE lfOutPrecision;
    BYTE lfClipPrecision;
    BYTE lfQuality;
    BYTE lfPitchAndFamily;
    CHAR lfFaceName[LF_FACESIZE];
};
static_assert(sizeof(LOGFONTA) == 60);

struct TEXTMETRICA {
    LONG tmHeight;
    LONG tmAscent;
    LONG tmDescent;
    LONG tmInternalLeading;
    LONG tmExternalLeading;
    LONG tmAveCharWidth;
    LONG tmMaxCharWidth;
    LONG tmWeight;
    LONG tmOverhang;
    LONG tmDigitizedAspectX;
    LONG tmDigitizedAspectY;
    BYTE tmFirstChar;
    BYTE tmLastChar;
    BYTE tmDefaultChar;
    BYTE tmBreakChar;
    BYTE tmItalic;
    BYTE tmUnderlined;
    BYTE tmStruckOut;
    BYTE tmPitchAndFamily;
    BYTE tmCharSet;
};

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

struct BITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    LPVOID bmBits;
};

// Weights.
constexpr LONG FW_DONTCARE = 0;
constexpr LONG FW_NORMAL = 400;
constexpr LONG FW_SEMIBOLD = 600;
constexpr LONG FW_BOLD = 700;

// Character sets.
constexpr BYTE ANSI_CHARSET = 0;
constexpr BYTE DEFAULT_CHARSET = 1;
constexpr BYTE SYMBOL_CHARSET = 2;
constexpr BYTE SHIFTJIS_CHARSET = 128;
constexpr BYTE HANGUL_CHARSET = 129;
constexpr BYTE GB2312_CHARSET = 134;
constexpr BYTE CHINESEBIG5_CHARSET = 136;

// Pitch and family.
constexpr BYTE DEFAULT_PITCH = 0;
constexpr BYTE FIXED_PITCH = 1;
constexpr BYTE VARIABLE_PITCH = 2;
constexpr BYTE FF_DONTCARE = 0x00;
constexpr BYTE FF_ROMAN = 0x10;
constexpr BYTE FF_SWISS = 0x20;
constexpr BYTE FF_MODERN = 0x30;
constexpr BYTE FF_SCRIPT = 0x40;
constexpr BYTE FF_DECORATIVE = 0x50;

// Background modes.
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;

// Bitmaps.
constexpr DWORD BI_RGB = 0;
constexpr UINT DIB_RGB_COLORS = 0;

// Stock objects.
constexpr int SYSTEM_FONT = 13;
constexpr int DEFAULT_GUI_FONT = 17;

// DrawText format flags.
constexpr UINT DT_TOP = 0x0000;
constexpr UINT DT_LEFT = 0x0000;
constexpr UINT DT_CENTER = 0x0001;
constexpr UINT DT_RIGHT = 0x0002;
constexpr UINT DT_VCENTER = 0x0004;
constexpr UINT DT_BOTTOM = 0x0008;
constexpr UINT DT_WORDBREAK = 0x0010;
constexpr UINT DT_SINGLELINE = 0x0020;
constexpr UINT DT_EXPANDTABS = 0x0040;
constexpr UINT DT_NOCLIP = 0x0100;
constexpr UINT DT_CALCRECT = 0x0400;
constexpr UINT DT_NOPREFIX = 0x0800;

// Fonts. Height: negative = character (em) height in pixels, positive = cell height (ascent +
// descent), 0 = the default cell height of 16 pixels. Width 0 keeps the face's aspect; otherwise
// the average character width is scaled to it. Weight 0 means FW_NORMAL; 600 and above is bold.
// A face that is not installed falls back to a similar one (by the platform's common face names,
// the character set, and the pitch and family bits), so creation fails only for a null description.
// Escapement and orientation are kept in the description but text is always drawn horizontally.
// Heights and widths beyond 2048 pixels are drawn as 2048.
HFONT CreateFontA(int cHeight, int cWidth, int cEscapement, int cOrientation, int cWeight, DWORD bItalic,
                  DWORD bUnderline, DWORD bStrikeOut, DWORD iCharSet, DWORD iOutPrecision, DWORD iClipPrecision,
                  DWORD iQuality, DWORD iPitchAndFamily, LPCSTR pszFaceName);
HFONT CreateFontIndirectA(const LOGFONTA* lplf);

// Fonts: LOGFONTA; bitmaps: BITMAP. With pv null returns the size of the record; otherwise copies
// at most c bytes of it and returns the number copied. 0 for a bad handle.
int GetObjectA(HGDIOBJ h, int c, LPVOID pv);
// Stock objects are never deleted (TRUE is returned). An object selected into a device context is
// not deleted (FALSE), nor is a bad handle.
BOOL DeleteObject(HGDIOBJ ho);
HGDIOBJ GetStockObject(int i);

// A memory device context; hdc must be null or a device context. It starts with the stock system
// font, a 1 x 1 stock bitmap, OPAQUE background, white background colour and black text.
HDC CreateCompatibleDC(HDC hdc);
// Deselects what the context holds (the objects themselves survive) and retires the handle.
BOOL DeleteDC(HDC hdc);
// 32 bits per pixel, BI_RGB, one plane; a negative height makes a top-down bitmap. The pixels
// (0x00RRGGBB in a DWORD, rows of width x 4 bytes) start at zero and stay at *ppvBits for the
// bitmap's life. File mappings are not supported (hSection must be null).
HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits, HANDLE hSection,
                         DWORD offset);
// Fonts and bitmaps; returns the object of that kind selected before, or null for bad handles. A
// bitmap can be selected into one context at a time.
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h);
int SetBkMode(HDC hdc, int mode);  // previous mode, 0 on failure
COLORREF SetBkColor(HDC hdc, COLORREF color);    // previous colour, CLR_INVALID on failure
COLORREF SetTextColor(HDC hdc, COLORREF color);  // previous colour, CLR_INVALID on failure

// Metrics and extents of the context's font, in pixels.
BOOL GetTextMetricsA(HDC hdc, TEXTMETRICA* lptm);
BOOL GetTextExtentPoint32A(HDC hdc, LPCSTR lpString, int c, SIZE* psizl);
BOOL GetTextExtentPoint32W(HDC hdc, LPCWSTR lpString, int c, SIZE* psizl);
// The family name of the face the context's font was realised with, in the system code page. With
// lpName null returns the size needed with the terminator; otherwise copies at most c - 1 bytes and
// a terminator and returns the number of bytes copied without it. 0 on failure.
int GetTextFaceA(HDC hdc, int c, LPSTR lpName);

// Lays out and draws text into the bitmap selected into hdc with its font, colours and background
// mode. cchText -1 means zero-terminated (bytes in the system code page for the A form, UTF-16
// units for the W form). Lines break at CR, LF and CR LF (not with DT_SINGLELINE); DT_EXPANDTABS
// puts tab stops every eight average character widths; DT_WORDBREAK breaks at spaces and between
// ideographs; without DT_NOPREFIX "&x" underlines x and "&&" draws one ampersand. DT_VCENTER and
// DT_BOTTOM apply to single-line text. DT_CALCRECT draws nothing and sets the rectangle's right and
// bottom to bound the text. Returns the text height (for DT_VCENTER and DT_BOTTOM the offset from
// the rectangle's top to the bottom of the text), or 0 on failure.
int DrawTextA(HDC hdc, LPCSTR lpchText, int cchText, RECT* lprc, UINT format);
int DrawTextW(HDC hdc, LPCWSTR lpchText, int cchText, RECT* lprc, UINT format);
