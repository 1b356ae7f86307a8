// text_bench.cpp: PrintText of an 80-character line at 16 pixels with the glyph cache warm and cold,
// and DrawTextA of the same line into a DIB against drawing the same glyphs with plain FreeType
// calls into a buffer in the same run; printed as times per call and layer/FreeType ratios.
#include <benchmark/benchmark.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/device.h"
#include "engine/engine_state.h"
#include "engine/media/text.h"
#include "engine/states.h"
#include "library/font/font.h"
#include "platform/gdi/face_matching.h"
#include "platform/gdi/wingdi.h"
#include "platform/win/host_window.h"

namespace {

// A status line as a game prints it: letters, digits, punctuation and spaces, no tabs or prefixes.
constexpr char kLine[] = "Score 0012345  Lives 3  Stage 7-2  The quick brown fox jumps over the lazy dog!!";
static_assert(sizeof(kLine) - 1 == 80);

constexpr char kFaceName[] = "Arial";
constexpr int kEmPixels = 16;  // the font's em height: a GDI height of -16
constexpr std::int32_t kWindowWidth = 800;
constexpr std::int32_t kWindowHeight = 600;
constexpr int kDibWidth = 1024;
constexpr int kDibHeight = 32;

// The engine's device on a host window that drops its frames.
class EngineDevice {
public:
    EngineDevice() : window_(CreateHostWindow([](void*, const std::uint32_t*, std::int32_t, std::int32_t, std::int32_t) {}, nullptr)) {
        std::int32_t info[16] = {};
        info[qm::kHostWindowWidthWord] = kWindowWidth;
        info[qm::kHostWindowHeightWord] = kWindowHeight;
        info[qm::kHostWindowHandleWord] = window_;
        ok_ = qm::InitDevice(info) == 0;
        qm::SetBackgroundColor(0, 0, 0, 255);
        qm::SetDrawColor(255, 255, 255, 255);
    }
    ~EngineDevice() {
        qm::SetEngineFont(nullptr, nullptr);
        qm::ByeEngine();
        qm::Engine().device.Reset();
        qm::Engine().direct3d.Reset();
        DestroyHostWindow(window_);
    }
    bool Ok() const { return ok_; }

private:
    std::int32_t window_;
    bool ok_ = false;
};

// SetFont's record: width, height, style bits, character set selector.
constexpr std::int32_t kFontRecord[4] = {0, -kEmPixels, 0, 0};

void PrintTextWarm(benchmark::State& state) {
    EngineDevice engine;
    if (!engine.Ok()) {
        state.SkipWithError("no device");
        return;
    }
    qm::SetEngineFont(kFontRecord, kFaceName);
    qm::BeginFrame(0);
    qm::PrintEngineText(kLine, 8, 8);  // fills the glyph cache
    for (auto _ : state) qm::PrintEngineText(kLine, 8, 8);
    qm::EndFrame();
}

// Every call prints with a font made just before it, so each of the line's glyphs is rendered
// afresh. Another font of the device stays alive throughout, so that the shared rasterizer (its
// DIB, textures and sprite) survives the font changes as it does in a running program; only the
// print itself is timed.
void PrintTextCold(benchmark::State& state) {
    EngineDevice engine;
    if (!engine.Ok()) {
        state.SkipWithError("no device");
        return;
    }
    LOGFONTA other{};
    other.lfHeight = -kEmPixels - 1;
    std::strcpy(other.lfFaceName, kFaceName);
    ComPtr<qm::Font> keeper;
    if (FAILED(qm::CreateFontFromDescription(qm::Engine().device.Get(), &other, keeper.ReleaseAndGetAddressOf()))) {
        state.SkipWithError("no font");
        return;
    }
    qm::BeginFrame(0);
    for (auto _ : state) {
        qm::SetEngineFont(kFontRecord, kFaceName);
        auto start = std::chrono::steady_clock::now();
        qm::PrintEngineText(kLine, 8, 8);
        auto stop = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
    }
    qm::EndFrame();
}

// A memory DC with a top-down DIB and the 16-pixel font, drawing white on an opaque black
// background as the font renderer's rasterizer does.
class DibTarget {
public:
    DibTarget() {
        dc_ = CreateCompatibleDC(nullptr);
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), kDibWidth, -kDibHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        dib_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        pixels_ = static_cast<std::uint32_t*>(bits);
        previousBitmap_ = SelectObject(dc_, dib_);
        SetBkMode(dc_, OPAQUE);
        SetBkColor(dc_, RGB(0, 0, 0));
        SetTextColor(dc_, RGB(255, 255, 255));
        SelectNewFont();
    }
    ~DibTarget() {
        SelectObject(dc_, previousBitmap_);
        if (previousFont_ != nullptr) SelectObject(dc_, previousFont_);
        if (font_ != nullptr) DeleteObject(font_);
        DeleteObject(dib_);
        DeleteDC(dc_);
    }
    bool Ok() const { return dc_ != nullptr && pixels_ != nullptr && font_ != nullptr; }
    // Replaces the font with a newly made one. The old one is deleted first: fonts of the same
    // description alive at the same time share their realisation and its glyphs.
    void SelectNewFont() {
        if (font_ != nullptr) {
            SelectObject(dc_, previousFont_);
            DeleteObject(font_);
        }
        font_ = CreateFontA(-kEmPixels, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, kFaceName);
        HGDIOBJ before = SelectObject(dc_, font_);
        if (previousFont_ == nullptr) previousFont_ = before;
    }
    int Draw() {
        RECT rect{0, 0, kDibWidth, kDibHeight};
        return DrawTextA(dc_, kLine, -1, &rect, DT_EXPANDTABS);
    }
    HDC Dc() const { return dc_; }
    const std::uint32_t* Pixels() const { return pixels_; }

private:
    HDC dc_ = nullptr;
    HBITMAP dib_ = nullptr;
    HGDIOBJ previousBitmap_ = nullptr;
    HGDIOBJ previousFont_ = nullptr;
    HFONT font_ = nullptr;
    std::uint32_t* pixels_ = nullptr;
};

void DrawTextWarm(benchmark::State& state) {
    DibTarget target;
    if (!target.Ok() || target.Draw() == 0) {
        state.SkipWithError("DrawTextA failed");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(target.Draw());
}

// A font made before each call (not timed), so every glyph of the line is rendered by the call.
void DrawTextCold(benchmark::State& state) {
    DibTarget target;
    if (!target.Ok()) {
        state.SkipWithError("no DC");
        return;
    }
    for (auto _ : state) {
        target.SelectNewFont();
        auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(target.Draw());
        auto stop = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
    }
}

// The same line with plain FreeType: the face file fontconfig picks for the request, an em of 16
// pixels, each glyph loaded, rendered with grey antialiasing and kerned as the layer kerns, then
// blended into a 32-bit buffer over the line's opaque background.
class FreeTypeLine {
public:
    FreeTypeLine() {
        qm::gdi::FaceChoice choice = qm::gdi::ChooseFace(kFaceName, false, false, ANSI_CHARSET, 0);
        if (FT_Init_FreeType(&library_) != 0) return;
        if (choice.file.empty() || FT_New_Face(library_, choice.file.c_str(), choice.index, &face_) != 0) {
            face_ = nullptr;
            return;
        }
        FT_Set_Pixel_Sizes(face_, 0, kEmPixels);
        pixels_.assign(static_cast<size_t>(kDibWidth) * kDibHeight, 0);
    }
    ~FreeTypeLine() {
        if (face_ != nullptr) FT_Done_Face(face_);
        if (library_ != nullptr) FT_Done_FreeType(library_);
    }
    bool Ok() const { return face_ != nullptr; }
    const std::uint32_t* Pixels() const { return pixels_.data(); }

    // Draws the line with its top-left corner at (0, 0), lineHeight and ascent from the layer's
    // metrics of the font; returns the pen position after the last glyph. The opaque background
    // is laid over the buffer's whole width first, since the line's width is known only after
    // every glyph is loaded (a few microseconds more than the layer fills).
    int Draw(int lineHeight, int ascent) {
        constexpr std::uint32_t ink = 0xFFFFFF, paper = 0;
        std::fill_n(pixels_.data(), static_cast<size_t>(std::min(lineHeight, kDibHeight)) * kDibWidth, paper);
        return Render(ascent, pixels_.data(), ink);
    }

private:
    static std::uint32_t Blend(std::uint32_t destination, std::uint32_t source, unsigned coverage) {
        std::uint32_t out = 0;
        for (int shift = 0; shift < 24; shift += 8) {
            unsigned d = (destination >> shift) & 0xFF;
            unsigned s = (source >> shift) & 0xFF;
            out |= ((d * (255 - coverage) + s * coverage + 127) / 255) << shift;
        }
        return out;
    }

    int Render(int ascent, std::uint32_t* into, std::uint32_t ink) {
        int pen = 0;
        FT_UInt previous = 0;
        const bool kerning = FT_HAS_KERNING(face_);
        for (const char* p = kLine; *p != '\0'; ++p) {
            FT_UInt index = FT_Get_Char_Index(face_, static_cast<unsigned char>(*p));
            int x = pen;
            if (kerning && previous != 0) {
                FT_Vector delta{};
                if (FT_Get_Kerning(face_, previous, index, FT_KERNING_DEFAULT, &delta) == 0)
                    x += static_cast<int>((delta.x + 32) >> 6);
            }
            previous = index;
            if (FT_Load_Glyph(face_, index, FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP) != 0) continue;
            FT_GlyphSlot slot = face_->glyph;
            pen = x + static_cast<int>((slot->advance.x + 32) >> 6);
            if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) continue;
            const FT_Bitmap& bitmap = slot->bitmap;
            for (int gy = 0; gy < static_cast<int>(bitmap.rows); ++gy) {
                int y = ascent - slot->bitmap_top + gy;
                if (y < 0 || y >= kDibHeight) continue;
                const unsigned char* coverage = bitmap.buffer + static_cast<std::ptrdiff_t>(gy) * bitmap.pitch;
                std::uint32_t* row = into + static_cast<size_t>(y) * kDibWidth;
                for (int gx = 0; gx < static_cast<int>(bitmap.width); ++gx) {
                    int px = x + slot->bitmap_left + gx;
                    if (px < 0 || px >= kDibWidth || coverage[gx] == 0) continue;
                    row[px] = coverage[gx] == 255 ? ink : Blend(row[px], ink, coverage[gx]);
                }
            }
        }
        return pen;
    }

    FT_Library library_ = nullptr;
    FT_Face face_ = nullptr;
    std::vector<std::uint32_t> pixels_;
};

struct LayerMetrics {
    int height = 0;
    int ascent = 0;
};

LayerMetrics MetricsOfTheFont() {
    DibTarget target;
    TEXTMETRICA metrics{};
    GetTextMetricsA(target.Dc(), &metrics);
    return {static_cast<int>(metrics.tmHeight), static_cast<int>(metrics.tmAscent)};
}

void DrawWithFreeType(benchmark::State& state) {
    FreeTypeLine line;
    if (!line.Ok()) {
        state.SkipWithError("FreeType could not open the face");
        return;
    }
    const LayerMetrics metrics = MetricsOfTheFont();
    for (auto _ : state) benchmark::DoNotOptimize(line.Draw(metrics.height, metrics.ascent));
}

// Both draw the same pixels, or the comparison is not of the same work: counted once, before timing.
int DifferingPixels() {
    DibTarget target;
    FreeTypeLine line;
    if (!target.Ok() || !line.Ok()) return -1;
    const LayerMetrics metrics = MetricsOfTheFont();
    target.Draw();
    line.Draw(metrics.height, metrics.ascent);
    int differing = 0;
    for (size_t i = 0; i < static_cast<size_t>(kDibWidth) * kDibHeight; ++i)
        if ((target.Pixels()[i] & 0xFFFFFF) != (line.Pixels()[i] & 0xFFFFFF)) ++differing;
    return differing;
}

// Prints as the console reporter does and keeps each run's real and CPU time per iteration, in
// microseconds.
class TimeReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            micros[run.run_name.function_name] = run.GetAdjustedRealTime();
            cpuMicros[run.run_name.function_name] = run.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> micros;
    std::map<std::string, double> cpuMicros;
};

void PrintRatio(const TimeReporter& reporter, const char* layer, const char* baseline, const char* goal) {
    auto a = reporter.micros.find(layer);
    auto b = reporter.micros.find(baseline);
    if (a == reporter.micros.end() || b == reporter.micros.end() || b->second <= 0) return;
    std::printf("ratio %s / %s: %.2f%s\n", layer, baseline, a->second / b->second, goal);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::RegisterBenchmark("PrintTextWarm", PrintTextWarm)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();
    benchmark::RegisterBenchmark("PrintTextCold", PrintTextCold)->Unit(benchmark::kMicrosecond)->UseManualTime();
    benchmark::RegisterBenchmark("DrawTextAWarm", DrawTextWarm)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("DrawTextACold", DrawTextCold)->Unit(benchmark::kMicrosecond)->UseManualTime();
    benchmark::RegisterBenchmark("DrawWithFreeType", DrawWithFreeType)->Unit(benchmark::kMicrosecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    std::printf("pixels differing between DrawTextA and plain FreeType: %d of %d\n", DifferingPixels(),
                kDibWidth * kDibHeight);
    TimeReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    // The device shades on worker threads, so a loaded machine stretches the real time of a print
    // well beyond the work done; the CPU time of all threads is printed beside it.
    auto warm = reporter.micros.find("PrintTextWarm");
    if (warm != reporter.micros.end())
        std::printf("PrintText warm: %.1f us per call, %.1f us CPU of all threads (goal at most 100 us)\n",
                    warm->second, reporter.cpuMicros["PrintTextWarm"]);
    PrintRatio(reporter, "DrawTextAWarm", "DrawWithFreeType", " (goal at most 1.5)");
    PrintRatio(reporter, "DrawTextACold", "DrawWithFreeType", "");
    PrintRatio(reporter, "PrintTextWarm", "DrawWithFreeType", "");
    return 0;
}
