// gdi.cpp: GDI object calls: font creation and description, device contexts, DIB sections,
// selection, colours and background mode, text metrics and the face name.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "platform/gdi/gdi_objects.h"
#include "platform/gdi/wingdi.h"
#include "platform/win/codepage.h"

using namespace qm::gdi;

namespace {

// Largest DIB section made: 1 GiB of pixels.
constexpr std::uint64_t kMaxDibBytes = std::uint64_t{1} << 30;

}  // namespace

HFONT CreateFontA(int cHeight, int cWidth, int cEscapement, int cOrientation, int cWeight, DWORD bItalic,
                  DWORD bUnderline, DWORD bStrikeOut, DWORD iCharSet, DWORD iOutPrecision, DWORD iClipPrecision,
                  DWORD iQuality, DWORD iPitchAndFamily, LPCSTR pszFaceName) {
    LOGFONTA description{};
    description.lfHeight = cHeight;
    description.lfWidth = cWidth;
    description.lfEscapement = cEscapement;
    description.lfOrientation = cOrientation;
    description.lfWeight = cWeight;
    description.lfItalic = static_cast<BYTE>(bItalic);
    description.lfUnderline = static_cast<BYTE>(bUnderline);
    description.lfStrikeOut = static_cast<BYTE>(bStrikeOut);
    description.lfCharSet = static_cast<BYTE>(iCharSet);
    description.lfOutPrecision = static_cast<BYTE>(iOutPrecision);
    description.lfClipPrecision = static_cast<BYTE>(iClipPrecision);
    description.lfQuality = static_cast<BYTE>(iQuality);
    description.lfPitchAndFamily = static_cast<BYTE>(iPitchAndFamily);
    if (pszFaceName != nullptr) std::strncpy(description.lfFaceName, pszFaceName, LF_FACESIZE - 1);
    return CreateFontIndirectA(&description);
}

HFONT CreateFontIndirectA(const LOGFONTA* lplf) {
    if (lplf == nullptr) return nullptr;
    FontObject font;
    font.description = *lplf;
    font.realized = RealizedFont::ForDescription(font.description);
    if (!font.realized) return nullptr;
    return static_cast<HFONT>(AddFont(std::move(font)));
}

int GetObjectA(HGDIOBJ h, int c, LPVOID pv) {
    if (FontObject* font = FindFont(h)) {
        if (pv == nullptr) return sizeof(LOGFONTA);
        if (c <= 0) return 0;
        int size = std::min<int>(c, sizeof(LOGFONTA));
        std::memcpy(pv, &font->description, static_cast<size_t>(size));
        return size;
    }
    if (BitmapObject* bitmap = FindBitmap(h)) {
        if (pv == nullptr) return sizeof(BITMAP);
        if (c <= 0) return 0;
        BITMAP record{0, bitmap->width, bitmap->height, bitmap->width * 4, 1, 32, bitmap->pixels.data()};
        int size = std::min<int>(c, sizeof(BITMAP));
        std::memcpy(pv, &record, static_cast<size_t>(size));
        return size;
    }
    return 0;
}

BOOL DeleteObject(HGDIOBJ ho) {
    if (IsStockObject(ho)) return TRUE;
    if (FontObject* font = FindFont(ho)) {
        if (font->selectedCount > 0) return FALSE;
    } else if (BitmapObject* bitmap = FindBitmap(ho)) {
        if (bitmap->selectedInto != nullptr) return FALSE;
    } else {
        return FALSE;
    }
    RemoveObject(ho);
    return TRUE;
}

HGDIOBJ GetStockObject(int i) {
    if (i == SYSTEM_FONT || i == DEFAULT_GUI_FONT) return StockSystemFont();
    return nullptr;
}

HDC CreateCompatibleDC(HDC hdc) {
    if (hdc != nullptr && FindDc(hdc) == nullptr) return nullptr;
    HGDIOBJ font = StockSystemFont();
    HGDIOBJ bitmap = StockBitmap();
    DcObject dc;
    dc.font = font;
    dc.bitmap = bitmap;
    HDC handle = AddDc(dc);
    if (handle == nullptr) return nullptr;
    if (FontObject* record = FindFont(font)) ++record->selectedCount;
    return handle;
}

BOOL DeleteDC(HDC hdc) {
    DcObject* dc = FindDc(hdc);
    if (dc == nullptr) return FALSE;
    if (FontObject* font = FindFont(dc->font)) --font->selectedCount;
    if (BitmapObject* bitmap = FindBitmap(dc->bitmap); bitmap != nullptr && bitmap->selectedInto == hdc)
        bitmap->selectedInto = nullptr;
    RemoveObject(hdc);
    return TRUE;
}

HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits, HANDLE hSection, DWORD offset) {
    if (ppvBits != nullptr) *ppvBits = nullptr;
    if (pbmi == nullptr || hSection != nullptr || usage != DIB_RGB_COLORS) return nullptr;
    if (hdc != nullptr && FindDc(hdc) == nullptr) return nullptr;
    const BITMAPINFOHEADER& header = pbmi->bmiHeader;
    if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biPlanes != 1 || header.biBitCount != 32 ||
        header.biCompression != BI_RGB || header.biWidth <= 0 || header.biHeight == 0 ||
        header.biHeight == INT32_MIN)
        return nullptr;
    std::int64_t width = header.biWidth;
    std::int64_t height = header.biHeight < 0 ? -std::int64_t{header.biHeight} : header.biHeight;
    if (static_cast<std::uint64_t>(width * height) * 4 > kMaxDibBytes) return nullptr;
    BitmapObject bitmap;
    bitmap.width = static_cast<int>(width);
    bitmap.height = static_cast<int>(height);
    bitmap.topDown = header.biHeight < 0;
    try {
        bitmap.pixels.assign(static_cast<size_t>(width * height), 0);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    void* bits = bitmap.pixels.data();
    HBITMAP handle = static_cast<HBITMAP>(AddBitmap(std::move(bitmap)));
    if (handle != nullptr && ppvBits != nullptr) *ppvBits = bits;
    return handle;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h) {
    DcObject* dc = FindDc(hdc);
    if (dc == nullptr) return nullptr;
    if (FontObject* font = FindFont(h)) {
        HGDIOBJ previous = dc->font;
        if (FontObject* old = FindFont(previous)) --old->selectedCount;
        ++font->selectedCount;
        dc->font = h;
        return previous;
    }
    if (BitmapObject* bitmap = FindBitmap(h)) {
        if (bitmap->selectedInto != nullptr && bitmap->selectedInto != hdc && !IsStockObject(h)) return nullptr;
        HGDIOBJ previous = dc->bitmap;
        if (BitmapObject* old = FindBitmap(previous); old != nullptr && old->selectedInto == hdc)
            old->selectedInto = nullptr;
        if (!IsStockObject(h)) bitmap->selectedInto = hdc;
        dc->bitmap = h;
        return previous;
    }
    return nullptr;
}

int SetBkMode(HDC hdc, int mode) {
    DcObject* dc = FindDc(hdc);
    if (dc == nullptr || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
    return std::exchange(dc->bkMode, mode);
}

COLORREF SetBkColor(HDC hdc, COLORREF color) {
    DcObject* dc = FindDc(hdc);
    if (dc == nullptr) return CLR_INVALID;
    return std::exchange(dc->bkColor, color & 0xFFFFFF);
}

COLORREF SetTextColor(HDC hdc, COLORREF color) {
    DcObject* dc = FindDc(hdc);
    if (dc == nullptr) return CLR_INVALID;
    return std::exchange(dc->textColor, color & 0xFFFFFF);
}

BOOL GetTextMetricsA(HDC hdc, TEXTMETRICA* lptm) {
    DcObject* dc = FindDc(hdc);
    FontObject* font = dc != nullptr ? FindFont(dc->font) : nullptr;
    if (font == nullptr || lptm == nullptr) return FALSE;
    const FontMetrics& m = font->realized->Metrics();
    *lptm = TEXTMETRICA{};
    lptm->tmHeight = m.height;
    lptm->tmAscent = m.ascent;
    lptm->tmDescent = m.descent;
    lptm->tmInternalLeading = m.internalLeading;
    lptm->tmExternalLeading = m.externalLeading;
    lptm->tmAveCharWidth = m.aveCharWidth;
    lptm->tmMaxCharWidth = m.maxCharWidth;
    lptm->tmWeight = m.weight;
    lptm->tmDigitizedAspectX = 96;
    lptm->tmDigitizedAspectY = 96;
    lptm->tmFirstChar = 0x20;
    lptm->tmLastChar = 0xFF;
    lptm->tmDefaultChar = '?';
    lptm->tmBreakChar = ' ';
    lptm->tmItalic = m.italic ? 1 : 0;
    lptm->tmUnderlined = m.underline ? 1 : 0;
    lptm->tmStruckOut = m.strikeOut ? 1 : 0;
    lptm->tmPitchAndFamily = font->description.lfPitchAndFamily;
    lptm->tmCharSet = font->description.lfCharSet;
    return TRUE;
}

int GetTextFaceA(HDC hdc, int c, LPSTR lpName) {
    DcObject* dc = FindDc(hdc);
    FontObject* font = dc != nullptr ? FindFont(dc->font) : nullptr;
    if (font == nullptr) return 0;
    const std::string& family = font->realized->FamilyName();
    std::string name = family;
    if (GetACP() != CP_UTF8) {
        std::u16string wide(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, family.data(), static_cast<int>(family.size()), nullptr, 0)), u'\0');
        if (!wide.empty()) MultiByteToWideChar(CP_UTF8, 0, family.data(), static_cast<int>(family.size()), wide.data(), static_cast<int>(wide.size()));
        int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
        name.assign(static_cast<size_t>(bytes), '\0');
        if (bytes > 0) WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), name.data(), bytes, nullptr, nullptr);
    }
    if (lpName == nullptr) return static_cast<int>(name.size()) + 1;
    if (c <= 0) return 0;
    size_t copied = std::min(name.size(), static_cast<size_t>(c - 1));
    std::memcpy(lpName, name.data(), copied);
    lpName[copied] = '\0';
    return static_cast<int>(copied);
}
