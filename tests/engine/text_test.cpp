// text_test.cpp: SetFont's GDI request and message box, and PrintText's placement, colour, tabs, line
// breaks and clipping, read from presented frames.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "engine/device.h"
#include "engine/engine_state.h"
#include "engine/media/text.h"
#include "engine/states.h"
#include "library/font/font.h"
#include "platform/gdi/wingdi.h"
#include "platform/win/message_box.h"
#include "quillmere/quillmere.h"
#include "tests/platform/d3d9/d3d9_test_support.h"

namespace qm {
namespace {

constexpr int kWidth = 96;
constexpr int kHeight = 64;

// The bounding box of every pixel that differs from the background.
struct Box {
    int left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;
    bool Empty() const { return left > right; }
};

class EngineText : public ::testing::Test {
protected:
    void SetUp() override {
        info_[1] = kWidth;
        info_[2] = kHeight;
        info_[13] = IdFromHwnd(window_.Handle());
        ASSERT_EQ(InitDevice(info_), 0);
        SetBackgroundColor(0, 0, 0, 255);
        SetMessageBoxHook([this](const std::string& text, const std::string& caption, UINT type) {
            boxes_.push_back(text + "|" + caption + "|" + std::to_string(type));
        });
    }
    void TearDown() override {
        SetMessageBoxHook({});
        SetEngineFont(nullptr, nullptr);
        ByeEngine();
        Engine().device.Reset();
        Engine().direct3d.Reset();
        SetDrawColor(255, 255, 255, 255);
    }
    Font* CurrentFont() { return static_cast<Font*>(Engine().font.Get()); }
    LOGFONTA Description() {
        LOGFONTA lf{};
        EXPECT_NE(CurrentFont(), nullptr);
        if (CurrentFont() != nullptr) CurrentFont()->GetDescription(&lf);
        return lf;
    }
    // Prints the text at (x, y) in one frame and returns the frame.
    d3d9test::Frame Print(const char* text, int x, int y) {
        EXPECT_EQ(BeginFrame(0), 0);
        EXPECT_EQ(PrintEngineText(text, x, y), 0);
        EXPECT_EQ(EndFrame(), 0);
        return window_.Frames().back();
    }
    static Box Lit(const d3d9test::Frame& frame) {
        Box box;
        for (int y = 0; y < frame.height; ++y)
            for (int x = 0; x < frame.width; ++x)
                if ((frame.At(x, y) & 0xFFFFFF) != 0) {
                    box.left = std::min(box.left, x);
                    box.right = std::max(box.right, x);
                    box.top = std::min(box.top, y);
                    box.bottom = std::max(box.bottom, y);
                }
        return box;
    }

    std::int32_t info_[16] = {};
    d3d9test::CapturingWindow window_;
    std::vector<std::string> boxes_;
};

TEST_F(EngineText, TheFontRecordBecomesTheGdiRequest) {
    const std::int32_t all[4] = {7, -20, 0x0F, 0};
    EXPECT_EQ(SetEngineFont(all, "Arial"), 0);
    LOGFONTA lf = Description();
    EXPECT_EQ(lf.lfWidth, 7);
    EXPECT_EQ(lf.lfHeight, -20);
    EXPECT_EQ(lf.lfWeight, 700);
    EXPECT_EQ(lf.lfItalic, 1);
    EXPECT_EQ(lf.lfUnderline, 1);
    EXPECT_EQ(lf.lfStrikeOut, 1);
    EXPECT_EQ(lf.lfCharSet, ANSI_CHARSET);
    EXPECT_EQ(lf.lfEscapement, 0);
    EXPECT_EQ(lf.lfOutPrecision, 0);
    EXPECT_EQ(lf.lfQuality, 0);
    EXPECT_EQ(lf.lfPitchAndFamily, 0);
    EXPECT_EQ(std::string(lf.lfFaceName), "Arial");

    // Bits above the four style bits are ignored; selector 1 alone asks for Shift-JIS.
    const std::int32_t plainJapanese[4] = {0, 16, 0x10, 1};
    EXPECT_EQ(::SetFont(reinterpret_cast<QmWord>(plainJapanese), reinterpret_cast<QmWord>("MS Gothic"), 0, 0), 0);
    lf = Description();
    EXPECT_EQ(lf.lfWeight, 0);
    EXPECT_EQ(lf.lfItalic | lf.lfUnderline | lf.lfStrikeOut, 0);
    EXPECT_EQ(lf.lfCharSet, SHIFTJIS_CHARSET);
    const std::int32_t selectorTwo[4] = {0, 16, 0, 2};
    EXPECT_EQ(SetEngineFont(selectorTwo, "MS Gothic"), 0);
    EXPECT_EQ(Description().lfCharSet, ANSI_CHARSET);
    EXPECT_TRUE(boxes_.empty());

    // No record: the font is released and none replaces it.
    EXPECT_EQ(::SetFont(0, 0, 0, 0), 0);
    EXPECT_EQ(CurrentFont(), nullptr);
}

TEST_F(EngineText, AFontWithoutADeviceShowsTheMessageBox) {
    const std::int32_t record[4] = {0, 16, 0, 0};
    ASSERT_EQ(SetEngineFont(record, "Arial"), 0);
    ASSERT_NE(CurrentFont(), nullptr);
    ByeEngine();
    Engine().device.Reset();
    EXPECT_EQ(SetEngineFont(record, "Arial"), 0);
    EXPECT_EQ(CurrentFont(), nullptr);  // the old font went first
    EXPECT_EQ(boxes_, std::vector<std::string>{"CreateFontFromHandle Failed|error|0"});
}

TEST_F(EngineText, PrintTextPlacesColoursAndClips) {
    // Before any font nothing is drawn.
    EXPECT_TRUE(Lit(Print("MMM", 4, 4)).Empty());
    EXPECT_EQ(::PrintText(0, reinterpret_cast<QmWord>("MMM"), 4, 4), 0);

    const std::int32_t record[4] = {0, -16, 0, 0};
    ASSERT_EQ(SetEngineFont(record, "DejaVu Sans"), 0);
    ASSERT_NE(CurrentFont(), nullptr);

    // The colour is the draw colour at the time of printing, with antialiased edges only scaling it.
    SetDrawColor(0, 255, 0, 255);
    const d3d9test::Frame green = Print("MMM", 10, 12);
    const Box one = Lit(green);
    ASSERT_FALSE(one.Empty());
    EXPECT_GE(one.left, 10);
    EXPECT_GE(one.top, 12);
    EXPECT_LT(one.bottom, 12 + 16 + 4);
    for (std::uint32_t pixel : green.pixels) EXPECT_EQ(pixel & 0xFF00FF, 0u);
    SetDrawColor(255, 0, 0, 255);
    const d3d9test::Frame red = Print("MMM", 10, 12);
    EXPECT_EQ(Lit(red).left, one.left);
    for (std::uint32_t pixel : red.pixels) EXPECT_EQ(pixel & 0x00FFFF, 0u);

    // A newline starts the next line at x: the same glyphs lower down, left edges aligned.
    const Box two = Lit(Print("M\nM", 10, 12));
    EXPECT_EQ(two.left, one.left);
    EXPECT_EQ(two.top, one.top);
    EXPECT_GE(two.bottom - two.top, 2 * (one.bottom - one.top));

    // A leading tab moves the text to the first stop, eight average character widths on.
    HDC dc = CreateCompatibleDC(nullptr);
    HFONT gdiFont = CreateFontA(-16, 0, 0, 0, 0, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "DejaVu Sans");
    HGDIOBJ old = SelectObject(dc, gdiFont);
    TEXTMETRICA metrics{};
    ASSERT_TRUE(GetTextMetricsA(dc, &metrics));
    SelectObject(dc, old);
    DeleteObject(gdiFont);
    DeleteDC(dc);
    const Box tabbed = Lit(Print("\tM", 0, 12));
    const Box plain = Lit(Print("M", 0, 12));
    EXPECT_NEAR(tabbed.left - plain.left, 8 * metrics.tmAveCharWidth, 1);
    EXPECT_EQ(tabbed.top, plain.top);

    // Text running past the right edge is not wrapped onto a second line.
    const Box run = Lit(Print("MMMMMMMMMMMMMMMMMMMM", 40, 12));
    EXPECT_EQ(run.top, one.top);
    EXPECT_EQ(run.bottom, one.bottom);
    EXPECT_GE(run.right, kWidth - 6);

    // Null text and text placed below the window draw nothing.
    EXPECT_TRUE(Lit(Print(nullptr, 0, 0)).Empty());
    EXPECT_TRUE(Lit(Print("MMM", 0, kHeight)).Empty());
}

}  // namespace
}  // namespace qm
