// media_test.cpp: the texture table and sprites: the device calls of LoadTexture, SetTexture and
// DrawSprite in order, what bad files leave in the table, and sprites drawn over exact pixels.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/device.h"
#include "engine/engine_state.h"
#include "engine/media/sprites.h"
#include "engine/media/textures.h"
#include "engine/states.h"
#include "platform/d3d9/diagnostics.h"
#include "quillmere/quillmere.h"
#include "tests/platform/d3d9/d3d9_test_support.h"
#include "tests/tex/image_writers.h"

namespace qm {
namespace {

constexpr std::int32_t kOne = 0x10000;  // 1.0 in Fixed16
constexpr DWORD kTexels[2][2] = {{0xFFFF0000, 0xFF00FF00}, {0xFF0000FF, 0xFFFFFFFF}};

class EngineMedia : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("quillmere-media-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
        test::PngFile png;
        png.width = 2;
        png.height = 2;
        png.colorType = 6;
        for (const auto& row : kTexels)
            for (DWORD t : row)
                png.rows.insert(png.rows.end(), {BYTE(t >> 16), BYTE(t >> 8), BYTE(t), BYTE(t >> 24)});
        quadPng_ = Write("quad.png", test::WritePng(png));
        textFile_ = Write("notes.txt", test::FromText("not an image\n"));
        info_[1] = 64;
        info_[2] = 48;
        info_[13] = IdFromHwnd(window_.Handle());
        ASSERT_EQ(InitDevice(info_), 0);
    }
    void TearDown() override {
        ByeEngine();
        Engine().device.Reset();
        Engine().direct3d.Reset();
        SetDrawColor(255, 255, 255, 255);
        std::filesystem::remove_all(dir_);
    }
    std::string Write(const char* name, const test::Bytes& bytes) {
        std::ofstream(dir_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return (dir_ / name).string();
    }
    IDirect3DBaseTexture9* Entry(std::int32_t key) {
        ComPtr<IDirect3DBaseTexture9>* entry = Engine().textureTable.Find(key);
        return entry != nullptr ? entry->Get() : nullptr;
    }
    // Draws one frame with the given sprites and returns it.
    d3d9test::Frame Frame(const std::vector<std::vector<std::int32_t>>& sprites) {
        EXPECT_EQ(BeginFrame(0), 0);
        for (const auto& record : sprites) EXPECT_EQ(DrawSpriteRecord(record.data()), 0);
        EXPECT_EQ(EndFrame(), 0);
        return window_.Frames().back();
    }
    IDirect3DDevice9* Device() { return Engine().device.Get(); }

    std::filesystem::path dir_;
    std::string quadPng_;
    std::string textFile_;
    std::int32_t info_[16] = {};
    d3d9test::CapturingWindow window_;
};

TEST_F(EngineMedia, DeviceCallsOfLoadBindAndDrawInOrder) {
    CallRecorder recorder;
    ASSERT_EQ(LoadTextureFile(quadPng_.c_str(), 5), 0);
    ASSERT_NE(Entry(5), nullptr);
    // The library's texture: the file's 2 x 2 size, its full chain of 2 levels, usage 0, the file's
    // A8R8G8B8, managed. Loading binds nothing.
    std::vector<std::string> lines = recorder.TakeLines();
    std::vector<std::string> creations;
    for (const std::string& line : lines) {
        if (line.rfind("CreateTexture(", 0) == 0) creations.push_back(line);
        EXPECT_NE(line.rfind("SetTexture(", 0), 0u) << line;
    }
    EXPECT_EQ(creations, std::vector<std::string>{"CreateTexture(2, 2, 2, 0, 21, 1, ptr, null)"});

    EXPECT_EQ(BindTexture(5), 0);
    EXPECT_EQ(recorder.TakeLines(), std::vector<std::string>{"SetTexture(0, ptr)"});
    ComPtr<IDirect3DBaseTexture9> bound;
    Device()->GetTexture(0, bound.ReleaseAndGetAddressOf());
    EXPECT_EQ(bound.Get(), Entry(5));
    recorder.Clear();
    EXPECT_EQ(BindTexture(-1), 0);  // never loaded: unbinds stage 0
    EXPECT_EQ(recorder.TakeLines(), std::vector<std::string>{"SetTexture(0, null)"});

    SetDrawColor(0x11, 0x22, 0x33, 0x44);
    const std::int32_t record[8] = {3, 4, 40, 20, kOne / 4, kOne / 2, kOne, 3 * kOne / 2};
    EXPECT_EQ(BeginFrame(0), 0);
    recorder.Clear();
    EXPECT_EQ(DrawSpriteRecord(record), 0);
    EXPECT_EQ(recorder.TakeLines(), (std::vector<std::string>{"Lock(0, 112, ptr, 8192)", "Unlock()",
                                                              "SetStreamSource(0, ptr, 0, 28)", "SetFVF(324)",
                                                              "DrawPrimitive(5, 0, 2)"}));
    EndFrame();
    // The four vertices as the buffer holds them.
    void* data = nullptr;
    ASSERT_EQ(Engine().quadVertexBuffer->Lock(0, 112, &data, D3DLOCK_READONLY), D3D_OK);
    QuadVertex quad[4];
    std::memcpy(quad, data, sizeof quad);
    Engine().quadVertexBuffer->Unlock();
    const float expected[4][4] = {{3, 4, 0.25f, 0.5f}, {40, 4, 1.0f, 0.5f}, {3, 20, 0.25f, 1.5f}, {40, 20, 1.0f, 1.5f}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(quad[i].x, expected[i][0]);
        EXPECT_EQ(quad[i].y, expected[i][1]);
        EXPECT_EQ(quad[i].z, 0.0f);
        EXPECT_EQ(quad[i].rhw, 1.0f);
        EXPECT_EQ(quad[i].diffuse, 0x44112233u);
        EXPECT_EQ(quad[i].u, expected[i][2]);
        EXPECT_EQ(quad[i].v, expected[i][3]);
    }
}

TEST_F(EngineMedia, TheTableKeepsOnlyTexturesThatLoaded) {
    ASSERT_EQ(LoadTextureFile(quadPng_.c_str(), 1), 0);
    ASSERT_EQ(LoadTextureFile(quadPng_.c_str(), 2), 0);
    EXPECT_NE(Entry(1), Entry(2));  // the same file makes two textures

    // A key in use is emptied first: a failed load leaves it empty and the old texture released.
    ComPtr<IDirect3DBaseTexture9> old(Entry(1));
    EXPECT_EQ(LoadTextureFile((dir_ / "missing.png").string().c_str(), 1), -1);
    EXPECT_EQ(Entry(1), nullptr);
    EXPECT_EQ(old->AddRef(), 2u);  // this test's reference and the one just taken
    old->Release();
    EXPECT_EQ(LoadTextureFile(textFile_.c_str(), 2), -1);
    EXPECT_EQ(Entry(2), nullptr);
    EXPECT_EQ(LoadTextureFile(nullptr, 3), -1);
    EXPECT_EQ(Engine().textureTable.Size(), 0u);

    // Freeing an absent key changes nothing; freeing a bound texture leaves it bound.
    ASSERT_EQ(LoadTextureFile(quadPng_.c_str(), -7), 0);
    IDirect3DBaseTexture9* texture = Entry(-7);
    EXPECT_EQ(FreeTextureEntry(99), 0);
    EXPECT_EQ(Engine().textureTable.Size(), 1u);
    BindTexture(-7);
    EXPECT_EQ(FreeTextureEntry(-7), 0);
    EXPECT_EQ(Engine().textureTable.Size(), 0u);
    ComPtr<IDirect3DBaseTexture9> bound;
    Device()->GetTexture(0, bound.ReleaseAndGetAddressOf());
    EXPECT_EQ(bound.Get(), texture);

    // Through the exports: file name in word 2, key in word 3.
    EXPECT_EQ(::LoadTexture(0, reinterpret_cast<QmWord>(quadPng_.c_str()), 11, 0), 0);
    EXPECT_NE(Entry(11), nullptr);
    EXPECT_EQ(::SetTexture(11, 0, 0, 0), 0);
    EXPECT_EQ(::FreeTexture(11, 0, 0, 0), 0);
    EXPECT_EQ(Entry(11), nullptr);
    EXPECT_EQ(::DrawSprite(0, 0, 0, 0), -1);  // no record

    // Bye empties the table and the quad buffer goes with it: sprites then fail.
    ASSERT_EQ(LoadTextureFile(quadPng_.c_str(), 4), 0);
    ByeEngine();
    EXPECT_EQ(Engine().textureTable.Size(), 0u);
    const std::int32_t record[8] = {0, 0, 8, 8, 0, 0, kOne, kOne};
    EXPECT_EQ(DrawSpriteRecord(record), -1);
}

// Pixel centres lie on integer coordinates, so pixel (x, y) of a rectangle from x0 to x1 samples
// u = uLeft + (x - x0) / (x1 - x0) x (uRight - uLeft), and likewise v. Point filtering takes texel
// floor(u x 2), wrapped into the 2 x 2 texture. A sample on a texel boundary may round either way;
// such pixels are left out (false).
bool TexelAt(float u, float v, DWORD* texel) {
    const float s = u * 2.0f;
    const float t = v * 2.0f;
    if (std::fabs(s - std::round(s)) < 1e-3f || std::fabs(t - std::round(t)) < 1e-3f) return false;
    const int column = static_cast<int>(std::floor(s)) & 1;
    const int row = static_cast<int>(std::floor(t)) & 1;
    *texel = kTexels[row][column];
    return true;
}

TEST_F(EngineMedia, SpritesCoverExactPixels) {
    ASSERT_EQ(LoadTextureFile(quadPng_.c_str(), 1), 0);
    BindTexture(1);
    Device()->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    Device()->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    SetBackgroundColor(0x20, 0x40, 0x60, 255);
    const DWORD background = 0x204060;

    // The whole texture over a 64 x 32 rectangle at the top-left corner; below it the background.
    const d3d9test::Frame& plain = Frame({{0, 0, 64, 32, 0, 0, kOne, kOne}});
    int checked = 0;
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) {
            DWORD expected = background;
            if (y < 32 && !TexelAt(x / 64.0f, y / 32.0f, &expected)) continue;
            ASSERT_EQ(plain.At(x, y) & 0xFFFFFF, expected & 0xFFFFFF) << x << "," << y;
            ++checked;
        }
    }
    EXPECT_GE(checked, 64 * 48 - 2 * 32 - 2 * 64);  // only the two boundary rows and columns are left out

    // Mirrored: u runs from 1 at the left to 0 at the right, in a 20 x 10 rectangle at (8, 30).
    const d3d9test::Frame& mirrored = Frame({{8, 30, 29, 41, kOne, 0, 0, kOne}});
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) {
            bool inside = x >= 8 && x < 29 && y >= 30 && y < 41;
            DWORD expected = background;
            if (inside && !TexelAt(1.0f - (x - 8) / 21.0f, (y - 30) / 11.0f, &expected)) continue;
            ASSERT_EQ(mirrored.At(x, y) & 0xFFFFFF, expected & 0xFFFFFF) << x << "," << y;
        }
    }
    // Left of the middle the right-hand texels show: pixel (10, 32) has u = 1 - 2/21, column 1.
    EXPECT_EQ(mirrored.At(10, 32) & 0xFFFFFF, kTexels[0][1] & 0xFFFFFF);

    // Right and left exchanged reverses the winding: culled, nothing drawn.
    const d3d9test::Frame& culled = Frame({{64, 0, 0, 32, 0, 0, kOne, kOne}});
    EXPECT_TRUE(std::all_of(culled.pixels.begin(), culled.pixels.end(),
                            [&](std::uint32_t p) { return (p & 0xFFFFFF) == background; }));

    // Untextured: the draw colour fills the rectangle.
    BindTexture(-1);
    SetDrawColor(10, 200, 30, 255);
    const d3d9test::Frame& filled = Frame({{4, 4, 12, 8, 0, 0, kOne, kOne}});
    EXPECT_EQ(filled.At(4, 4) & 0xFFFFFF, 0x0AC81Eu);
    EXPECT_EQ(filled.At(11, 7) & 0xFFFFFF, 0x0AC81Eu);
    EXPECT_EQ(filled.At(12, 7) & 0xFFFFFF, background);
    EXPECT_EQ(filled.At(11, 8) & 0xFFFFFF, background);

    // Translucent: with blending on and the texture's alpha modulated by the draw colour's, each
    // channel is texel x a + background x (1 - a), a = 128 / 255.
    BindTexture(1);
    SetDrawColor(255, 255, 255, 128);
    Device()->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    Device()->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    const d3d9test::Frame& blended = Frame({{0, 0, 64, 32, 0, 0, kOne, kOne}});
    const double a = 128.0 / 255.0;
    for (int y = 1; y < 32; y += 5) {
        for (int x = 1; x < 64; x += 7) {
            DWORD texel = 0;
            if (!TexelAt(x / 64.0f, y / 32.0f, &texel)) continue;
            for (int shift = 0; shift < 24; shift += 8) {
                double expected = ((texel >> shift) & 0xFF) * a + ((background >> shift) & 0xFF) * (1.0 - a);
                EXPECT_NEAR(static_cast<double>((blended.At(x, y) >> shift) & 0xFF), expected, 1.0)
                    << x << "," << y << " shift " << shift;
            }
        }
    }
}

}  // namespace
}  // namespace qm
