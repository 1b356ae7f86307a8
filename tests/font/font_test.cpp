// font_test.cpp: the Font: text pixels in a render target against the GDI coverage, clipping and
// measuring, tiles in round-robin textures, DIB growth, device-object release and restore,
// rasterizer sharing, creation checks and the caller's depth state.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library/font/font.h"
#include "platform/d3d9/diagnostics.h"
#include "tests/font/font_test_support.h"

namespace {

using fonttest::TestDevice;
using qm::Font;

LOGFONTA Description(LONG height, const char* face = "Arial") {
    LOGFONTA lf{};
    lf.lfHeight = height;
    std::strncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
    return lf;
}

ComPtr<Font> MakeFont(IDirect3DDevice9* device, const LOGFONTA& description) {
    Font* font = nullptr;
    EXPECT_EQ(qm::CreateFontFromDescription(device, &description, &font), S_OK);
    return ComPtr<Font>::Adopt(font);
}

// The grey levels GDI gives for the text: white on black, laid out in (0, 0, width, height).
struct Coverage {
    LONG width = 0, height = 0;
    std::vector<std::uint8_t> levels;
    int At(LONG x, LONG y) const { return levels[static_cast<size_t>(y * width + x)]; }

    Coverage(const LOGFONTA& description, const char16_t* text, UINT format, LONG rectWidth, LONG rectHeight) {
        HDC dc = CreateCompatibleDC(nullptr);
        HFONT font = CreateFontIndirectA(&description);
        HGDIOBJ oldFont = SelectObject(dc, font);
        RECT rect{0, 0, rectWidth, rectHeight};
        DrawTextW(dc, text, -1, &rect, format | DT_CALCRECT);
        width = std::min(rect.right, rectWidth);
        height = std::min(rect.bottom, rectHeight);
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), std::max<LONG>(width, 1), -std::max<LONG>(height, 1), 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        HBITMAP dib = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ oldBitmap = SelectObject(dc, dib);
        SetTextColor(dc, RGB(255, 255, 255));
        SetBkColor(dc, 0);
        rect = RECT{0, 0, width, height};
        DrawTextW(dc, text, -1, &rect, format);
        const auto* pixels = static_cast<const std::uint32_t*>(bits);
        for (LONG i = 0; i < width * height; ++i) levels.push_back(static_cast<std::uint8_t>(pixels[i] & 0xFF));
        SelectObject(dc, oldBitmap);
        SelectObject(dc, oldFont);
        DeleteObject(dib);
        DeleteObject(font);
        DeleteDC(dc);
    }
};

// src × a + dst × (1 − a) per channel, a = coverage × colour alpha.
std::uint32_t Expected(std::uint32_t colour, std::uint32_t background, int coverage) {
    double a = coverage / 255.0 * ((colour >> 24) / 255.0);
    std::uint32_t out = 0;
    for (int c = 0; c < 3; ++c) {
        double v = fonttest::Channel(colour, c) * a + fonttest::Channel(background, c) * (1 - a);
        out |= static_cast<std::uint32_t>(v + 0.5) << (8 * c);
    }
    return out;
}

size_t Count(const std::vector<std::string>& lines, const std::string& prefix) {
    size_t n = 0;
    for (const std::string& line : lines) n += line.rfind(prefix, 0) == 0;
    return n;
}

TEST(Font, TextPixelsFollowGlyphCoverage) {
    TestDevice device(256, 96);
    const std::uint32_t background = 0x404040, colour = 0xFFFF8000;
    const LOGFONTA description = Description(-48);
    ComPtr<Font> font = MakeFont(device.Get(), description);
    const char16_t* text = u"Hil";
    Coverage coverage(description, text, 0, 240, 90);
    device.Clear(0xFF000000 | background);
    device->BeginScene();
    RECT rect{10, 5, 250, 95};
    EXPECT_EQ(font->DrawTextWide(text, -1, &rect, 0, colour), coverage.height);
    device->EndScene();
    std::vector<std::uint32_t> pixels = device.Pixels();
    int fullyCovered = 0;
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 256; ++x) {
            std::uint32_t pixel = device.Pixel(pixels, x, y);
            bool inside = x >= 10 && x < 10 + coverage.width && y >= 5 && y < 5 + coverage.height;
            if (!inside) {
                ASSERT_EQ(pixel, background) << x << "," << y;
                continue;
            }
            int level = coverage.At(x - 10, y - 5);
            fullyCovered += level == 255;
            ASSERT_TRUE(fonttest::Near(pixel, Expected(colour, background, level), 2))
                << x << "," << y << " level " << level << " pixel " << std::hex << pixel;
        }
    EXPECT_GT(fullyCovered, 100);  // the strokes of 48-pixel letters
    // A translucent colour blends by its alpha too.
    device.Clear(0xFF000000 | background);
    device->BeginScene();
    font->DrawTextWide(text, -1, &rect, 0, 0x80FF8000);
    device->EndScene();
    pixels = device.Pixels();
    for (LONG y = 0; y < coverage.height; ++y)
        for (LONG x = 0; x < coverage.width; ++x)
            ASSERT_TRUE(fonttest::Near(device.Pixel(pixels, 10 + x, 5 + y), Expected(0x80FF8000, background, coverage.At(x, y)), 2));
}

TEST(Font, ClippingMeasuringAndPlacement) {
    TestDevice device(320, 64);
    const LOGFONTA description = Description(-24);
    ComPtr<Font> font = MakeFont(device.Get(), description);
    const char16_t* text = u"WWWWWWWWWWWW";
    Coverage full(description, text, DT_NOCLIP, 1000, 1000);
    ASSERT_GT(full.width, 100);
    auto rightmostInk = [&](const std::vector<std::uint32_t>& pixels) {
        int right = -1;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 320; ++x)
                if (device.Pixel(pixels, x, y) != 0) right = std::max(right, x);
        return right;
    };
    RECT narrow{4, 4, 104, 60};
    device.Clear(0xFF000000);
    device->BeginScene();
    font->DrawTextWide(text, -1, &narrow, 0, 0xFFFFFFFF);
    device->EndScene();
    EXPECT_LE(rightmostInk(device.Pixels()), 103);
    EXPECT_GE(rightmostInk(device.Pixels()), 95);
    device.Clear(0xFF000000);
    device->BeginScene();
    font->DrawTextWide(text, -1, &narrow, DT_NOCLIP, 0xFFFFFFFF);
    device->EndScene();
    EXPECT_GT(rightmostInk(device.Pixels()), 4 + full.width - 20);

    // DT_CALCRECT: the measured box, placed by the alignment flags; nothing is drawn.
    CallRecorder recorder;
    RECT box{10, 5, 300, 60};
    EXPECT_EQ(font->DrawTextWide(u"Wi", -1, &box, DT_CALCRECT | DT_RIGHT | DT_BOTTOM, 0xFFFFFFFF),
              Coverage(description, u"Wi", 0, 290, 55).height);
    Coverage wi(description, u"Wi", 0, 290, 55);
    EXPECT_EQ(box.right, 300);
    EXPECT_EQ(box.left, 300 - wi.width);
    EXPECT_EQ(box.bottom, 60);
    EXPECT_EQ(box.top, 60 - wi.height);
    box = RECT{10, 5, 300, 61};
    font->DrawTextWide(u"Wi", -1, &box, DT_CALCRECT | DT_CENTER | DT_VCENTER, 0xFFFFFFFF);
    EXPECT_EQ(box.left, (10 - wi.width + 300) >> 1);
    EXPECT_EQ(box.top, (5 - wi.height + 61) >> 1);
    EXPECT_EQ(Count(recorder.Lines(), "DrawPrimitiveUP"), 0u);
    // Rectangles at the ends of the plane are measured and placed without overflow; text too large
    // for any DIB is not drawn.
    RECT huge{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
    device->BeginScene();
    EXPECT_GT(font->DrawTextWide(u"Wi", -1, &huge, DT_CENTER | DT_VCENTER, 0xFFFFFFFF), 0);
    huge = RECT{INT32_MAX - 10, INT32_MAX - 10, INT32_MAX, INT32_MAX};
    EXPECT_GT(font->DrawTextWide(u"Wi", -1, &huge, DT_NOCLIP, 0xFFFFFFFF), 0);
    ComPtr<Font> giant = MakeFont(device.Get(), Description(-2048));
    std::u16string wide(200, u'W');
    RECT anywhere{0, 0, 10, 10};
    EXPECT_EQ(giant->DrawTextWide(wide.c_str(), -1, &anywhere, DT_NOCLIP, 0xFFFFFFFF), 0);
    device->EndScene();
    // No text or no rectangle: nothing.
    EXPECT_EQ(font->DrawTextAnsi(nullptr, -1, &box, 0, 0xFFFFFFFF), 0);
    EXPECT_EQ(font->DrawTextAnsi("x", -1, nullptr, 0, 0xFFFFFFFF), 0);
}

TEST(Font, ManagedTexturesTakeTilesRoundRobin) {
    D3DCAPS9 caps = fonttest::SoftwareDeviceCaps();
    CallRecorder recorder;
    caps.Caps2 &= ~D3DCAPS2_DYNAMICTEXTURES;
    recorder.ReplaceDeviceCaps(caps);
    TestDevice device(320, 64);
    const LOGFONTA description = Description(20);  // cell height 20: two rows of 16-texel tiles
    ComPtr<Font> font = MakeFont(device.Get(), description);
    std::u16string text = u"abcdefgh";
    while (Coverage(description, text.c_str(), 0, 1000, 100).width <= 192) text += u'x';
    Coverage coverage(description, text.c_str(), 0, 1000, 100);
    ASSERT_LE(coverage.width, 256);
    ASSERT_EQ(coverage.height, 20);

    qm::TextRasterizerInfo info;
    ASSERT_TRUE(qm::InspectTextRasterizer(device.Get(), &info));
    EXPECT_FALSE(info.dynamic);
    ASSERT_EQ(info.textures.size(), 8u);
    EXPECT_EQ(info.tileWidth, 64u);
    EXPECT_EQ(info.tileHeight, 16u);
    EXPECT_EQ(info.nextTexture, 0u);
    device->BeginScene();
    recorder.Clear();
    RECT rect{0, 0, 300, 60};
    EXPECT_EQ(font->DrawTextWide(text.c_str(), -1, &rect, 0, 0xFFFFFFFF), 20);
    device->EndScene();
    EXPECT_EQ(Count(recorder.Lines(), "DrawPrimitiveUP"), 8u);  // 4 columns x 2 rows
    ASSERT_TRUE(qm::InspectTextRasterizer(device.Get(), &info));
    EXPECT_EQ(info.nextTexture, 0u);  // all eight used once
    // Texture i holds tile i (row by row), its grey levels as alpha of white texels.
    for (int i = 0; i < 8; ++i) {
        const LONG tx = (i % 4) * 64, ty = (i / 4) * 16;
        const LONG tw = std::min<LONG>(64, coverage.width - tx), th = std::min<LONG>(16, coverage.height - ty);
        D3DLOCKED_RECT locked{};
        ASSERT_EQ(info.textures[i]->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
        int mismatches = 0;
        for (LONG y = 0; y < th; ++y)
            for (LONG x = 0; x < tw; ++x) {
                std::uint32_t texel = reinterpret_cast<const std::uint32_t*>(static_cast<const std::uint8_t*>(locked.pBits) +
                                                                            y * locked.Pitch)[x];
                mismatches += texel != ((static_cast<std::uint32_t>(coverage.At(tx + x, ty + y)) << 24) | 0xFFFFFF);
            }
        info.textures[i]->UnlockRect(0);
        EXPECT_EQ(mismatches, 0) << "texture " << i;
    }
    // Release keeps managed textures; the next draw records the state blocks again.
    font->ReleaseDeviceObjects();
    ASSERT_TRUE(qm::InspectTextRasterizer(device.Get(), &info));
    EXPECT_EQ(info.textures.size(), 8u);
    recorder.Clear();
    device->BeginScene();
    EXPECT_EQ(font->DrawTextAnsi("ab", -1, &rect, 0, 0xFFFFFFFF), 20);
    device->EndScene();
    EXPECT_EQ(Count(recorder.Lines(), "BeginStateBlock"), 4u);  // the font's two and the sprite's two
    ASSERT_TRUE(qm::InspectTextRasterizer(device.Get(), &info));
    EXPECT_EQ(info.nextTexture, 2u);  // "ab" is one column, two rows
}

TEST(Font, DibGrowsByHalvesAndDynamicTexturesComeBack) {
    TestDevice device(640, 64);
    const LOGFONTA description = Description(20);
    ComPtr<Font> font = MakeFont(device.Get(), description);
    qm::TextRasterizerInfo info;
    ASSERT_TRUE(qm::InspectTextRasterizer(device.Get(), &info));
    EXPECT_TRUE(info.dynamic);
    EXPECT_EQ(info.textures.size(), 1u);
    EXPECT_EQ(info.dibWidth, 256);
    EXPECT_EQ(info.dibHeight, 256);
    std::u16string text = u"0123456789";
    while (Coverage(description, text.c_str(), 0, 2000, 100).width < 600) text += u"0123456789";
    ASSERT_LE(Coverage(description, text.c_str(), 0, 2000, 100).width, 864);
    RECT rect{0, 0, 2000, 64};
    device->BeginScene();
    EXPECT_EQ(font->DrawTextWide(text.c_str(), -1, &rect, 0, 0xFFFFFFFF), 20);
    device->EndScene();
    ASSERT_TRUE(qm::InspectTextRasterizer(device.Get(), &info));
    EXPECT_EQ(info.dibWidth, 864);  // 256 -> 384 -> 576 -> 864
    EXPECT_EQ(info.dibHeight, 256);

    // Around a reset the dynamic texture goes and comes back; without it nothing is drawn.
    font->ReleaseDeviceObjects();
    ASSERT_TRUE(qm::InspectTextRasterizer(device.Get(), &info));
    EXPECT_TRUE(info.textures.empty());
    device.Clear(0xFF000000);
    device->BeginScene();
    EXPECT_EQ(font->DrawTextAnsi("Hello", -1, &rect, 0, 0xFFFFFFFF), 0);
    device->EndScene();
    for (std::uint32_t p : device.Pixels()) ASSERT_EQ(p, 0u);
    EXPECT_EQ(font->RestoreDeviceObjects(), S_OK);
    ASSERT_TRUE(qm::InspectTextRasterizer(device.Get(), &info));
    EXPECT_EQ(info.textures.size(), 1u);
    device->BeginScene();
    EXPECT_EQ(font->DrawTextAnsi("Hello", -1, &rect, 0, 0xFFFFFFFF), 20);
    device->EndScene();
    int lit = 0;
    for (std::uint32_t p : device.Pixels()) lit += p != 0;
    EXPECT_GT(lit, 20);
}

TEST(Font, FontsShareTheRasterizerAndKeepCallerState) {
    TestDevice device(128, 48);
    HFONT handle = CreateFontA(-20, 0, 0, 0, 700, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "Arial");
    Font* first = nullptr;
    ASSERT_EQ(qm::CreateFontFromHandle(device.Get(), handle, &first), S_OK);
    LOGFONTA described{};
    EXPECT_EQ(first->GetDescription(&described), S_OK);
    EXPECT_EQ(described.lfHeight, -20);
    EXPECT_EQ(described.lfWeight, 700);
    DeleteObject(handle);  // the font keeps its own
    Font* none = nullptr;
    EXPECT_EQ(qm::CreateFontFromHandle(device.Get(), handle, &none), D3DERR_INVALIDCALL);
    EXPECT_EQ(qm::CreateFontFromDescription(nullptr, &described, &none), D3DERR_INVALIDCALL);
    EXPECT_EQ(first->GetDescription(nullptr), D3DERR_INVALIDCALL);

    CallRecorder recorder;
    ComPtr<Font> second = MakeFont(device.Get(), Description(-12));
    EXPECT_EQ(Count(recorder.Lines(), "CreateTexture"), 0u);
    qm::TextRasterizerInfo info;
    ASSERT_TRUE(qm::InspectTextRasterizer(device.Get(), &info));
    EXPECT_EQ(info.fontCount, 2u);
    first->Release();
    ASSERT_TRUE(qm::InspectTextRasterizer(device.Get(), &info));
    EXPECT_EQ(info.fontCount, 1u);

    // The remaining font draws; depth testing is off inside and as the caller had it outside.
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    device.Clear(0xFF000000);
    device->BeginScene();
    RECT rect{0, 0, 128, 48};
    EXPECT_GT(second->DrawTextAnsi("Text", -1, &rect, 0, 0xFFFFFFFF), 0);
    DWORD z = 0;
    device->GetRenderState(D3DRS_ZENABLE, &z);
    EXPECT_EQ(z, static_cast<DWORD>(D3DZB_TRUE));
    ASSERT_EQ(second->Begin(), S_OK);
    EXPECT_EQ(second->Begin(), D3DERR_INVALIDCALL);
    device->GetRenderState(D3DRS_ZENABLE, &z);
    EXPECT_EQ(z, 0u);
    ASSERT_EQ(second->End(), S_OK);
    EXPECT_EQ(second->End(), D3DERR_INVALIDCALL);
    device->GetRenderState(D3DRS_ZENABLE, &z);
    EXPECT_EQ(z, static_cast<DWORD>(D3DZB_TRUE));
    device->EndScene();
    int lit = 0;
    for (std::uint32_t p : device.Pixels()) lit += p != 0;
    EXPECT_GT(lit, 10);
    IDirect3DDevice9* held = nullptr;
    EXPECT_EQ(second->GetDevice(&held), S_OK);
    EXPECT_EQ(held, device.Get());
    held->Release();
    second.Reset();
    EXPECT_FALSE(qm::InspectTextRasterizer(device.Get(), &info));
}

}  // namespace
