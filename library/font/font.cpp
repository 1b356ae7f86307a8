// font.cpp: the Font and the TextRasterizer that the fonts of one device share: the memory DC with
// a top-down DIB that grows by halves, GDI measuring and placing, grey levels turned into alpha,
// tiled uploads into dynamic or round-robin managed textures, and sprite draws of the tiles.
#include "library/font/font.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "library/font/sprite.h"
#include "library/tex/pixel_box.h"
#include "library/tex/surface_loading.h"
#include "library/tex/texture_requirements.h"
#include "platform/win/codepage.h"

namespace qm {
namespace {

constexpr UINT kManagedTextureCount = 8;
constexpr UINT kRequestedTileWidth = 64;
constexpr UINT kRequestedTileHeight = 16;
constexpr LONG kInitialDibSize = 256;

// Everything the fonts of one device share. Kept in a process-wide list, newest first.
struct TextRasterizer {
    ULONG refs = 1;
    ComPtr<IDirect3DDevice9> device;
    UINT nextTexture = 0;
    ComPtr<Sprite> sprite;
    ComPtr<IDirect3DTexture9> textures[kManagedTextureCount];
    ComPtr<IDirect3DSurface9> surfaces[kManagedTextureCount];
    bool dynamic = false;
    D3DFORMAT format = D3DFMT_A8R8G8B8;
    UINT width = kRequestedTileWidth;
    UINT height = kRequestedTileHeight;
    bool inBatch = false;
    ComPtr<IDirect3DStateBlock9> savedState;
    ComPtr<IDirect3DStateBlock9> ownState;
    HDC dc = nullptr;
    BITMAPINFOHEADER dibHeader{sizeof(BITMAPINFOHEADER), kInitialDibSize, kInitialDibSize, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    HBITMAP dib = nullptr;
    HGDIOBJ previousBitmap = nullptr;
    std::uint32_t* dibBits = nullptr;
    D3DFORMAT dibFormat = D3DFMT_A8R8G8B8;
    HGDIOBJ previousFont = nullptr;
    std::unique_ptr<TextRasterizer> next;

    UINT TextureCount() const { return dynamic ? 1 : kManagedTextureCount; }
    ~TextRasterizer();
    HRESULT Setup(IDirect3DDevice9* forDevice);
    HRESULT RestoreDeviceObjects();
    HRESULT ReleaseDeviceObjects();
    HRESULT Begin();
    HRESULT End();
    // Makes a top-down DIB of the given size the DC's bitmap; false (nothing changed) on failure.
    bool ReplaceDib(LONG newWidth, LONG newHeight);
    INT Draw(HFONT font, const char* ansi, const WCHAR* wide, INT count, RECT* rect, DWORD flags, D3DCOLOR color);
    bool DrawTiles(std::int64_t x, std::int64_t y, LONG w, LONG h, D3DCOLOR color);
};

std::unique_ptr<TextRasterizer>& RasterizerList() {
    static std::unique_ptr<TextRasterizer> head;
    return head;
}

TextRasterizer* FindRasterizer(IDirect3DDevice9* device) {
    for (TextRasterizer* r = RasterizerList().get(); r != nullptr; r = r->next.get())
        if (r->device.Get() == device) return r;
    return nullptr;
}

// Takes the rasterizer out of the list and destroys it.
void DestroyRasterizer(TextRasterizer* rasterizer) {
    std::unique_ptr<TextRasterizer>* link = &RasterizerList();
    while (*link && link->get() != rasterizer) link = &(*link)->next;
    if (!*link) return;
    std::unique_ptr<TextRasterizer> removed = std::move(*link);
    *link = std::move(removed->next);
}

TextRasterizer::~TextRasterizer() {
    savedState.Reset();
    ownState.Reset();
    for (UINT i = 0; i < kManagedTextureCount; ++i) {
        surfaces[i].Reset();
        textures[i].Reset();
    }
    sprite.Reset();
    device.Reset();
    if (dc != nullptr) {
        if (previousFont != nullptr) SelectObject(dc, previousFont);
        if (previousBitmap != nullptr) SelectObject(dc, previousBitmap);
        if (dib != nullptr) DeleteObject(dib);
        DeleteDC(dc);
    }
}

HRESULT TextRasterizer::Setup(IDirect3DDevice9* forDevice) {
    device = ComPtr<IDirect3DDevice9>(forDevice);
    D3DCAPS9 caps{};
    device->GetDeviceCaps(&caps);
    D3DDEVICE_CREATION_PARAMETERS parameters{};
    device->GetCreationParameters(&parameters);
    dynamic = (caps.Caps2 & D3DCAPS2_DYNAMICTEXTURES) != 0;
    HRESULT hr = RestoreDeviceObjects();
    if (FAILED(hr)) return hr;
    hr = CreateSprite(device.Get(), sprite.ReleaseAndGetAddressOf());
    if (FAILED(hr)) return hr;
    dc = CreateCompatibleDC(nullptr);
    if (dc == nullptr) return E_OUTOFMEMORY;
    BITMAPINFO info{};
    info.bmiHeader = dibHeader;
    info.bmiHeader.biHeight = -dibHeader.biHeight;
    void* bits = nullptr;
    dib = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (dib == nullptr) return E_OUTOFMEMORY;
    dibBits = static_cast<std::uint32_t*>(bits);
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, 0);
    SetTextColor(dc, 0xFFFFFF);
    previousBitmap = SelectObject(dc, dib);
    return S_OK;
}

HRESULT TextRasterizer::RestoreDeviceObjects() {
    if (textures[0]) return S_OK;
    const DWORD usage = dynamic ? D3DUSAGE_DYNAMIC : 0;
    const D3DPOOL pool = dynamic ? D3DPOOL_DEFAULT : D3DPOOL_MANAGED;
    HRESULT hr = CheckTextureRequirements(device.Get(), &width, &height, nullptr, usage, &format, pool);
    if (FAILED(hr)) return hr;
    for (UINT i = 0; i < TextureCount(); ++i) {
        hr = CreateTextureChecked(device.Get(), width, height, 1, usage, format, pool, textures[i].ReleaseAndGetAddressOf());
        if (SUCCEEDED(hr)) hr = textures[i]->GetSurfaceLevel(0, surfaces[i].ReleaseAndGetAddressOf());
        if (FAILED(hr)) {
            for (UINT j = 0; j <= i; ++j) {
                surfaces[j].Reset();
                textures[j].Reset();
            }
            return hr;
        }
    }
    nextTexture = 0;
    return S_OK;
}

HRESULT TextRasterizer::ReleaseDeviceObjects() {
    savedState.Reset();
    ownState.Reset();
    if (sprite) sprite->ReleaseDeviceObjects();
    if (dynamic) {
        for (UINT i = 0; i < kManagedTextureCount; ++i) {
            surfaces[i].Reset();
            textures[i].Reset();
        }
    }
    return S_OK;
}

HRESULT TextRasterizer::Begin() {
    if (inBatch) return D3DERR_INVALIDCALL;
    if (!savedState || !ownState) {
        for (ComPtr<IDirect3DStateBlock9>* block : {&savedState, &ownState}) {
            HRESULT hr = device->BeginStateBlock();
            if (SUCCEEDED(hr)) {
                device->SetRenderState(D3DRS_ZENABLE, FALSE);
                hr = device->EndStateBlock(block->ReleaseAndGetAddressOf());
            }
            if (FAILED(hr)) {
                savedState.Reset();
                ownState.Reset();
                return hr;
            }
        }
    }
    HRESULT hr = sprite->Begin();
    if (FAILED(hr)) return hr;
    savedState->Capture();
    ownState->Apply();
    inBatch = true;
    return S_OK;
}

HRESULT TextRasterizer::End() {
    if (!inBatch) return D3DERR_INVALIDCALL;
    savedState->Apply();
    inBatch = false;
    return sprite->End();
}

bool TextRasterizer::ReplaceDib(LONG newWidth, LONG newHeight) {
    BITMAPINFO info{};
    info.bmiHeader = dibHeader;
    info.bmiHeader.biWidth = newWidth;
    info.bmiHeader.biHeight = -newHeight;
    void* bits = nullptr;
    HBITMAP bigger = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bigger == nullptr) return false;
    SelectObject(dc, bigger);
    DeleteObject(dib);
    dib = bigger;
    dibBits = static_cast<std::uint32_t*>(bits);
    dibHeader.biWidth = newWidth;
    dibHeader.biHeight = newHeight;
    return true;
}

INT TextRasterizer::Draw(HFONT font, const char* ansi, const WCHAR* wide, INT count, RECT* rect, DWORD flags,
                         D3DCOLOR color) {
    if ((ansi == nullptr && wide == nullptr) || rect == nullptr) return 0;
    // Positions are worked out in 64 bits: rectangles anywhere in the 32-bit plane cannot overflow.
    using Coord = std::int64_t;
    auto clampToLong = [](Coord v) { return static_cast<LONG>(std::clamp<Coord>(v, INT32_MIN, INT32_MAX)); };
    const Coord left = rect->left, top = rect->top, right = rect->right, bottom = rect->bottom;
    const LONG rectWidth = clampToLong(right - left), rectHeight = clampToLong(bottom - top);
    // This platform's GDI takes UTF-16 directly, so wide text is not narrowed first.
    HGDIOBJ before = SelectObject(dc, font);
    if (previousFont == nullptr) previousFont = before;
    auto drawText = [&](RECT* into, UINT format) {
        return ansi != nullptr ? DrawTextA(dc, ansi, count, into, format) : DrawTextW(dc, wide, count, into, format);
    };

    RECT measured{0, 0, rectWidth, rectHeight};
    const INT textHeight = drawText(&measured, flags | DT_CALCRECT);
    Coord w = measured.right, h = measured.bottom;
    if ((flags & DT_CALCRECT) == 0 && (flags & DT_NOCLIP) == 0) {
        w = std::min<Coord>(w, rectWidth);
        h = std::min<Coord>(h, rectHeight);
    }
    Coord x = left, y = top;
    if ((flags & DT_RIGHT) != 0) x = right - w;
    else if ((flags & DT_CENTER) != 0) x = (left - w + right) >> 1;
    if ((flags & DT_BOTTOM) != 0) y = bottom - h;
    else if ((flags & DT_VCENTER) != 0) y = (top - h + bottom) >> 1;
    if ((flags & DT_CALCRECT) != 0) {
        *rect = RECT{clampToLong(x), clampToLong(y), clampToLong(x + w), clampToLong(y + h)};
        return textHeight;
    }
    w = std::max<Coord>(w, 0);
    h = std::max<Coord>(h, 0);

    if (dibHeader.biWidth < w || dibHeader.biHeight < h) {
        Coord newWidth = dibHeader.biWidth, newHeight = dibHeader.biHeight;
        while (newWidth < w) newWidth += newWidth / 2;
        while (newHeight < h) newHeight += newHeight / 2;
        if (newWidth > INT32_MAX || newHeight > INT32_MAX ||
            !ReplaceDib(static_cast<LONG>(newWidth), static_cast<LONG>(newHeight)))
            return 0;
    }
    const LONG pitch = dibHeader.biWidth;
    for (Coord row = 0; row < h; ++row) std::fill_n(dibBits + row * pitch, w, 0u);
    RECT area{0, 0, static_cast<LONG>(w), static_cast<LONG>(h)};
    drawText(&area, flags);
    if (format != D3DFMT_A8R8G8B8)
        for (Coord row = 0; row < h; ++row)
            for (Coord column = 0; column < w; ++column) {
                std::uint32_t& p = dibBits[row * pitch + column];
                p = (p << 24) | 0xFFFFFF;
            }

    const bool implicitBatch = !inBatch;
    if (implicitBatch && FAILED(Begin())) return 0;
    const bool drawn = DrawTiles(x, y, static_cast<LONG>(w), static_cast<LONG>(h), color);
    if (implicitBatch) End();
    return drawn ? textHeight : 0;
}

bool TextRasterizer::DrawTiles(std::int64_t x, std::int64_t y, LONG w, LONG h, D3DCOLOR color) {
    const LONG pitch = dibHeader.biWidth;
    const LONG tileWidth = static_cast<LONG>(width), tileHeight = static_cast<LONG>(height);
    for (LONG ty = 0; ty < h; ty += tileHeight) {
        for (LONG tx = 0; tx < w; tx += tileWidth) {
            const LONG right = std::min(tx + tileWidth, w), bottom = std::min(ty + tileHeight, h);
            const RECT tile{0, 0, right - tx, bottom - ty};
            IDirect3DSurface9* surface = surfaces[nextTexture].Get();
            if (surface == nullptr) return false;
            if (format == D3DFMT_A8R8G8B8) {
                D3DLOCKED_RECT locked{};
                HRESULT hr = dynamic ? surface->LockRect(&locked, nullptr, D3DLOCK_DISCARD | D3DLOCK_NOSYSLOCK)
                                     : surface->LockRect(&locked, &tile, D3DLOCK_NOSYSLOCK);
                if (FAILED(hr)) return false;
                for (LONG row = 0; row < tile.bottom; ++row) {
                    const std::uint32_t* in = dibBits + (ty + row) * pitch + tx;
                    auto* out = reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(locked.pBits) +
                                                                 static_cast<std::ptrdiff_t>(row) * locked.Pitch);
                    for (LONG column = 0; column < tile.right; ++column) out[column] = (in[column] << 24) | 0xFFFFFF;
                }
                surface->UnlockRect();
            } else {
                const RECT source{tx, ty, right, bottom};
                if (FAILED(LoadSurfaceFromMemory(surface, nullptr, &tile, dibBits, dibFormat,
                                                 static_cast<UINT>(pitch) * 4, nullptr, &source, FILTER_POINT, 0)))
                    return false;
            }
            const Vector2 translation{static_cast<float>(x + tx), static_cast<float>(y + ty)};
            if (FAILED(sprite->Draw(textures[nextTexture].Get(), &tile, nullptr, nullptr, 0, &translation, color)))
                return false;
            if (!dynamic) nextTexture = (nextTexture + 1) % kManagedTextureCount;
        }
    }
    return true;
}

class FontObject final : public RefCounted<FontObject, Font> {
public:
    FontObject() = default;

    HRESULT Init(IDirect3DDevice9* device, const LOGFONTA& description) {
        rasterizer_ = FindRasterizer(device);
        if (rasterizer_ != nullptr) {
            ++rasterizer_->refs;
        } else {
            auto created = std::make_unique<TextRasterizer>();
            rasterizer_ = created.get();
            created->next = std::move(RasterizerList());
            RasterizerList() = std::move(created);
            HRESULT hr = rasterizer_->Setup(device);
            if (FAILED(hr)) return hr;
        }
        gdiFont_ = CreateFontIndirectA(&description);
        if (gdiFont_ == nullptr) return E_OUTOFMEMORY;
        device_ = ComPtr<IDirect3DDevice9>(device);
        description_ = description;
        return S_OK;
    }

    HRESULT GetDevice(IDirect3DDevice9** device) override {
        if (device == nullptr) return D3DERR_INVALIDCALL;
        *device = device_.CopyOut();
        return S_OK;
    }
    HRESULT GetDescription(LOGFONTA* description) override {
        if (description == nullptr) return D3DERR_INVALIDCALL;
        *description = description_;
        return S_OK;
    }
    HRESULT Begin() override { return rasterizer_->Begin(); }
    INT DrawTextAnsi(LPCSTR text, INT count, RECT* rect, DWORD format, D3DCOLOR color) override {
        if (text == nullptr) return 0;
        return rasterizer_->Draw(gdiFont_, text, nullptr, count, rect, format, color);
    }
    INT DrawTextWide(LPCWSTR text, INT count, RECT* rect, DWORD format, D3DCOLOR color) override {
        if (text == nullptr) return 0;
        return rasterizer_->Draw(gdiFont_, nullptr, text, count, rect, format, color);
    }
    HRESULT End() override { return rasterizer_->End(); }
    HRESULT ReleaseDeviceObjects() override { return rasterizer_->ReleaseDeviceObjects(); }
    HRESULT RestoreDeviceObjects() override { return rasterizer_->RestoreDeviceObjects(); }

private:
    friend class RefCounted<FontObject, Font>;
    ~FontObject() {
        if (rasterizer_ != nullptr) {
            if (rasterizer_->previousFont != nullptr && rasterizer_->dc != nullptr)
                SelectObject(rasterizer_->dc, rasterizer_->previousFont);
            if (--rasterizer_->refs == 0) DestroyRasterizer(rasterizer_);
        }
        if (gdiFont_ != nullptr) DeleteObject(gdiFont_);
    }

    HFONT gdiFont_ = nullptr;
    LOGFONTA description_{};
    TextRasterizer* rasterizer_ = nullptr;
    ComPtr<IDirect3DDevice9> device_;
};

}  // namespace

HRESULT CreateFontFromHandle(IDirect3DDevice9* device, HFONT gdiFont, Font** font) {
    LOGFONTA description{};
    if (GetObjectA(gdiFont, sizeof description, &description) != sizeof description) return D3DERR_INVALIDCALL;
    return CreateFontFromDescription(device, &description, font);
}

HRESULT CreateFontFromDescription(IDirect3DDevice9* device, const LOGFONTA* description, Font** font) {
    if (device == nullptr || description == nullptr || font == nullptr) return D3DERR_INVALIDCALL;
    ComPtr<FontObject> object = MakeRef<FontObject>();
    if (!object) return E_OUTOFMEMORY;
    HRESULT hr = object->Init(device, *description);
    if (FAILED(hr)) return hr;
    *font = object.Detach();
    return S_OK;
}

bool InspectTextRasterizer(IDirect3DDevice9* device, TextRasterizerInfo* info) {
    TextRasterizer* rasterizer = FindRasterizer(device);
    if (rasterizer == nullptr || info == nullptr) return false;
    info->dynamic = rasterizer->dynamic;
    info->nextTexture = rasterizer->nextTexture;
    info->tileWidth = rasterizer->width;
    info->tileHeight = rasterizer->height;
    info->format = rasterizer->format;
    info->textures.clear();
    for (const ComPtr<IDirect3DTexture9>& texture : rasterizer->textures)
        if (texture) info->textures.push_back(texture);
    info->dibWidth = rasterizer->dibHeader.biWidth;
    info->dibHeight = rasterizer->dibHeader.biHeight;
    info->fontCount = rasterizer->refs;
    return true;
}

}  // namespace qm
