// gdi_objects.h: the GDI layer's object records (fonts, bitmaps, device contexts) and the handle
// table that hands out opaque, generation-checked handles for them.
#pragma once

#include <cstdint>
#include <memory>
#include <variant>
#include <vector>

#include "platform/gdi/realized_font.h"
#include "platform/gdi/wingdi.h"

namespace qm::gdi {

struct FontObject {
    LOGFONTA description{};
    std::shared_ptr<RealizedFont> realized;
    int selectedCount = 0;  // device contexts holding it
};

// A 32-bit DIB: pixels are 0x00RRGGBB; row r of the picture is pixels[RowIndex(r) * width].
struct BitmapObject {
    int width = 1;
    int height = 1;
    bool topDown = true;
    std::vector<std::uint32_t> pixels;
    HDC selectedInto = nullptr;
    int RowIndex(int row) const { return topDown ? row : height - 1 - row; }
};

struct DcObject {
    HGDIOBJ font = nullptr;
    HGDIOBJ bitmap = nullptr;
    int bkMode = OPAQUE;
    COLORREF bkColor = RGB(255, 255, 255);
    COLORREF textColor = RGB(0, 0, 0);
};

// Looks handles up; null for a handle that is unknown, deleted or of another kind.
FontObject* FindFont(HGDIOBJ handle);
BitmapObject* FindBitmap(HGDIOBJ handle);
DcObject* FindDc(HDC handle);

// Stores a new object and returns its handle (null when the table is full or memory runs out).
HGDIOBJ AddFont(FontObject font);
HGDIOBJ AddBitmap(BitmapObject bitmap);
HDC AddDc(DcObject dc);
// Retires a handle; later lookups of it fail.
void RemoveObject(const void* handle);

// Stock objects exist for the life of the process and are never removed.
bool IsStockObject(const void* handle);
HGDIOBJ StockSystemFont();
HGDIOBJ StockBitmap();

}  // namespace qm::gdi
