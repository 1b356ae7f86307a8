// text.cpp: SetFont and PrintText over the library's Font, built from a GDI font request.
#include "engine/media/text.h"

#include "engine/engine_state.h"
#include "library/font/font.h"
#include "platform/gdi/wingdi.h"
#include "platform/win/message_box.h"

namespace qm {
namespace {

constexpr std::int32_t kStyleBold = 1 << 0;
constexpr std::int32_t kStyleItalic = 1 << 1;
constexpr std::int32_t kStyleUnderline = 1 << 2;
constexpr std::int32_t kStyleStrikeOut = 1 << 3;
constexpr std::int32_t kCharsetShiftJis = 1;
constexpr int kBoldWeight = 700;

DWORD StyleBit(std::int32_t style, std::int32_t bit) { return (style & bit) != 0 ? 1u : 0u; }

// The engine keeps the Font as a plain COM object; every object stored there is a Font.
Font* CurrentFont(EngineState& engine) { return static_cast<Font*>(engine.font.Get()); }

// Releases the current font while the module unloads, before the font and GDI registries it was
// made with: the guard is built after the first font, so it is torn down before those registries
// (and the engine state, built when the module loads, outlives it).
struct FontUnloadGuard {
    ~FontUnloadGuard() { Engine().font = nullptr; }
};
void GuardFontAtUnload() { static FontUnloadGuard guard; }

}  // namespace

std::int32_t SetEngineFont(const std::int32_t* record, const char* faceName) {
    EngineState& engine = Engine();
    engine.font = nullptr;
    if (record == nullptr) return 0;

    const std::int32_t style = record[2];
    HFONT gdiFont = CreateFontA(record[1], record[0], 0, 0, (style & kStyleBold) != 0 ? kBoldWeight : 0,
                                StyleBit(style, kStyleItalic), StyleBit(style, kStyleUnderline),
                                StyleBit(style, kStyleStrikeOut),
                                record[3] == kCharsetShiftJis ? SHIFTJIS_CHARSET : ANSI_CHARSET, 0, 0, 0, 0, faceName);
    if (gdiFont == nullptr) return 0;

    Font* font = nullptr;
    if (FAILED(CreateFontFromHandle(engine.device.Get(), gdiFont, &font)) || font == nullptr) {
        MessageBoxA(nullptr, "CreateFontFromHandle Failed", "error", MB_OK);
    } else {
        engine.font = ComPtr<IUnknown>::Adopt(font);
        GuardFontAtUnload();
    }
    DeleteObject(gdiFont);
    return 0;
}

std::int32_t PrintEngineText(const char* text, std::int32_t x, std::int32_t y) {
    EngineState& engine = Engine();
    Font* font = CurrentFont(engine);
    if (font == nullptr || text == nullptr) return 0;
    RECT rect{x, y, engine.screenWidth, engine.screenHeight};
    font->DrawTextAnsi(text, -1, &rect, DT_EXPANDTABS, engine.drawColor);
    return 0;
}

}  // namespace qm
