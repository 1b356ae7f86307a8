// font.h: the library's Font: text in any GDI font, laid out and rasterised by GDI into a DIB,
// uploaded tile by tile into small textures and drawn with the Sprite in the caller's colour.
#pragma once

#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/gdi/wingdi.h"

namespace qm {

// Operations after QueryInterface, AddRef, Release, in slot order.
struct Font : IUnknown {
    static constexpr IID iid = {0x3B1E2A90, 0x5C47, 0x4D86, {0x9F, 0x0B, 0x61, 0xA2, 0x7E, 0x33, 0xC8, 0x14}};
    // D3DERR_INVALIDCALL for a null output. The device comes with a reference for the caller.
    virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
    virtual HRESULT GetDescription(LOGFONTA* description) = 0;
    // Opens a batch: text calls up to End share one sprite batch and one state save, with depth
    // testing off. D3DERR_INVALIDCALL inside a batch (of any font of the device).
    virtual HRESULT Begin() = 0;
    // Draws text (count -1: zero-terminated; bytes in the system code page, or UTF-16) laid out by
    // DrawText with the format flags in the rectangle, in the ARGB colour. Without DT_NOCLIP the
    // text is cut to the rectangle. With DT_CALCRECT draws nothing and stores the measured
    // rectangle, placed by the alignment flags. Returns the text height, 0 when nothing was drawn.
    // Outside a batch, opens and closes one around itself.
    virtual INT DrawTextAnsi(LPCSTR text, INT count, RECT* rect, DWORD format, D3DCOLOR color) = 0;
    virtual INT DrawTextWide(LPCWSTR text, INT count, RECT* rect, DWORD format, D3DCOLOR color) = 0;
    // D3DERR_INVALIDCALL outside a batch.
    virtual HRESULT End() = 0;
    // Call before a device reset and after it: default-pool textures and state blocks go and come back.
    virtual HRESULT ReleaseDeviceObjects() = 0;
    virtual HRESULT RestoreDeviceObjects() = 0;

protected:
    ~Font() = default;
};

// Reads the font's description (the handle is not kept; the caller may delete it) and creates a
// Font from it. D3DERR_INVALIDCALL for null arguments or an unreadable handle.
HRESULT CreateFontFromHandle(IDirect3DDevice9* device, HFONT gdiFont, Font** font);
// D3DERR_INVALIDCALL for null arguments; E_OUTOFMEMORY when memory, the GDI font, the device
// context or the DIB cannot be had; texture creation failures as the device gives them. All fonts
// of one device share one rasterizer (device context, DIB, upload textures, sprite).
HRESULT CreateFontFromDescription(IDirect3DDevice9* device, const LOGFONTA* description, Font** font);

// What the rasterizer shared by a device's fonts holds now, for diagnostics and tests.
struct TextRasterizerInfo {
    bool dynamic = false;
    UINT nextTexture = 0;  // the upload texture the next tile goes to
    UINT tileWidth = 0;
    UINT tileHeight = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    std::vector<ComPtr<IDirect3DTexture9>> textures;
    LONG dibWidth = 0;
    LONG dibHeight = 0;
    UINT fontCount = 0;
};
// False when no font of the device exists.
bool InspectTextRasterizer(IDirect3DDevice9* device, TextRasterizerInfo* info);

}  // namespace qm
