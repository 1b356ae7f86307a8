// sprite_test.cpp: the Sprite: the device calls of Begin/Draw/End in order, texels landing on exact
// pixels, rotation, modulation and blending, the alpha-test and pre-transformed device kinds,
// source-rectangle checks and the caller's state coming back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "library/font/sprite.h"
#include "platform/d3d9/diagnostics.h"
#include "tests/font/font_test_support.h"

namespace {

using fonttest::TestDevice;
using qm::Sprite;
using qm::Vector2;

ComPtr<Sprite> MakeSprite(IDirect3DDevice9* device) {
    Sprite* sprite = nullptr;
    EXPECT_EQ(qm::CreateSprite(device, &sprite), S_OK);
    return ComPtr<Sprite>::Adopt(sprite);
}

// Texel (x, y) of the test pattern: a distinct opaque colour for every texel.
std::uint32_t Pattern(int x, int y) { return 0xFF000000u | (0x10u * (x + 1)) << 16 | (0x20u * (y + 1)) << 8 | 0x05u; }

// The state lines of one recorded block, as the device records them.
std::vector<std::string> BlockLines(bool saving, bool preTransformed, bool blend) {
    const std::string identity = "{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}";
    std::vector<std::string> lines = {"BeginStateBlock()", preTransformed ? "SetFVF(324)" : "SetFVF(322)",
                                      "SetVertexShader(null)"};
    if (!preTransformed) {
        lines.push_back("SetTransform(2, " + identity + ")");
        lines.push_back("SetTransform(3, " + identity + ")");
        if (saving) lines.push_back("SetTransform(256, " + identity + ")");
    }
    for (const char* line : {"SetRenderState(7, 0)", "SetRenderState(8, 3)", "SetRenderState(22, 1)",
                             "SetRenderState(128, 0)", "SetRenderState(136, 1)", "SetRenderState(151, 0)",
                             "SetRenderState(152, 0)", "SetNPatchMode(0)", "SetRenderState(167, 0)",
                             "SetRenderState(184, 0)", "SetRenderState(194, 0)", "SetRenderState(168, 15)"})
        lines.push_back(line);
    if (!preTransformed)
        for (const char* line : {"SetRenderState(28, 0)", "SetRenderState(29, 0)", "SetRenderState(52, 0)",
                                 "SetRenderState(137, 0)", "SetRenderState(145, 1)"})
            lines.push_back(line);
    for (const char* line :
         {"SetTextureStageState(0, 1, 4)", "SetTextureStageState(0, 2, 2)", "SetTextureStageState(0, 3, 0)",
          "SetTextureStageState(0, 4, 4)", "SetTextureStageState(0, 5, 2)", "SetTextureStageState(0, 6, 0)",
          "SetTextureStageState(1, 1, 1)", "SetTextureStageState(1, 4, 1)", "SetSamplerState(0, 5, 2)",
          "SetSamplerState(0, 6, 2)", "SetSamplerState(0, 7, 0)", "SetTextureStageState(0, 11, 0)",
          "SetSamplerState(0, 1, 3)", "SetSamplerState(0, 2, 3)", "SetTextureStageState(0, 24, 0)"})
        lines.push_back(line);
    if (blend) {
        for (const char* line : {"SetRenderState(27, 1)", "SetRenderState(19, 5)", "SetRenderState(20, 6)",
                                 "SetRenderState(171, 1)"})
            lines.push_back(line);
    } else {
        for (const char* line : {"SetRenderState(15, 1)", "SetRenderState(25, 7)", "SetRenderState(24, 127)"})
            lines.push_back(line);
    }
    if (saving) {
        lines.push_back("SetTexture(0, null)");
        lines.push_back("SetStreamSource(0, null, 0, 0)");
    }
    lines.push_back("EndStateBlock(ptr)");
    return lines;
}

TEST(Sprite, DeviceCallsInOrder) {
    TestDevice device(64, 32);
    ComPtr<IDirect3DTexture9> opaque = device.Texture(4, 4, D3DFMT_X8R8G8B8, Pattern);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    CallRecorder recorder;
    ComPtr<Sprite> sprite = MakeSprite(device.Get());
    ASSERT_EQ(sprite->Begin(), S_OK);
    RECT source{1, 1, 3, 3};
    ASSERT_EQ(sprite->DrawTransformed(opaque.Get(), &source, nullptr, 0xFFFFFFFF), S_OK);
    ASSERT_EQ(sprite->DrawTransformed(opaque.Get(), &source, nullptr, 0x80FFFFFF), S_OK);
    ASSERT_EQ(sprite->End(), S_OK);

    std::vector<std::string> expected = {"GetDeviceCaps(ptr)", "GetCreationParameters(ptr)"};
    for (bool saving : {true, false})
        for (const std::string& line : BlockLines(saving, false, true)) expected.push_back(line);
    // Viewport 64 x 32 at the origin: x' = 2x/64 - 1/64 - 1, y' = -2y/32 + 1/32 + 1.
    for (const char* line : {"Capture()", "Apply()", "GetViewport(ptr)",
                             "SetTransform(256, {0.03125, 0, 0, 0, 0, -0.0625, 0, 0, 0, 0, 0, 0, -1.015625, 1.03125, 0, 1})",
                             "GetLevelDesc(0, ptr)", "SetTexture(0, ptr)", "SetRenderState(27, 0)",
                             "DrawPrimitiveUP(6, 2, ptr, 24)", "GetLevelDesc(0, ptr)", "SetTexture(0, ptr)",
                             "SetRenderState(27, 1)", "DrawPrimitiveUP(6, 2, ptr, 24)", "Apply()"})
        expected.push_back(line);
    EXPECT_EQ(recorder.TakeLines(), expected);

    // The blocks are kept: a second batch only captures and applies them.
    ASSERT_EQ(sprite->Begin(), S_OK);
    ASSERT_EQ(sprite->End(), S_OK);
    std::vector<std::string> again = recorder.TakeLines();
    ASSERT_GE(again.size(), 2u);
    EXPECT_EQ(again[0], "Capture()");
    EXPECT_EQ(again[1], "Apply()");
    // Released blocks are recorded anew.
    sprite->ReleaseDeviceObjects();
    ASSERT_EQ(sprite->Begin(), S_OK);
    EXPECT_EQ(recorder.TakeLines().front(), "BeginStateBlock()");
    ASSERT_EQ(sprite->End(), S_OK);
    device->EndScene();
}

TEST(Sprite, AlphaTestAndPreTransformedDevices) {
    // A device that cannot blend with source alpha tests alpha instead.
    {
        D3DCAPS9 caps = fonttest::SoftwareDeviceCaps();
        CallRecorder recorder;
        caps.SrcBlendCaps &= ~D3DPBLENDCAPS_SRCALPHA;
        recorder.ReplaceDeviceCaps(caps);
        TestDevice device(32, 16);
        ComPtr<IDirect3DTexture9> texture = device.Texture(4, 1, D3DFMT_A8R8G8B8, [](int x, int) {
            return x < 2 ? 0x7E00FF00u : 0x7F00FF00u;  // alpha just below and at the reference
        });
        device.Clear(0xFF0000FF);
        device->BeginScene();
        ComPtr<Sprite> sprite = MakeSprite(device.Get());
        recorder.Clear();
        ASSERT_EQ(sprite->Begin(), S_OK);
        std::vector<std::string> lines = recorder.TakeLines();
        std::vector<std::string> block = BlockLines(true, false, false);
        ASSERT_GE(lines.size(), block.size());
        EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + block.size()), block);
        Vector2 at{4, 2};
        ASSERT_EQ(sprite->Draw(texture.Get(), nullptr, nullptr, nullptr, 0, &at, 0xFFFFFFFF), S_OK);
        ASSERT_EQ(sprite->End(), S_OK);
        device->EndScene();
        std::vector<std::uint32_t> pixels = device.Pixels();
        // Alpha 0x7E fails "greater or equal 0x7F" and leaves the background; 0x7F is drawn unblended.
        EXPECT_EQ(device.Pixel(pixels, 4, 2), 0x0000FFu);
        EXPECT_EQ(device.Pixel(pixels, 5, 2), 0x0000FFu);
        EXPECT_EQ(device.Pixel(pixels, 6, 2), 0x00FF00u);
        EXPECT_EQ(device.Pixel(pixels, 7, 2), 0x00FF00u);
    }
    // A pure device gets pre-transformed vertices, with the same pixels.
    {
        TestDevice device(32, 16, D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_PUREDEVICE);
        ComPtr<IDirect3DTexture9> texture = device.Texture(4, 4, D3DFMT_X8R8G8B8, Pattern);
        device.Clear(0xFF000000);
        device->BeginScene();
        CallRecorder recorder;
        ComPtr<Sprite> sprite = MakeSprite(device.Get());
        Vector2 at{10, 3};
        ASSERT_EQ(sprite->Draw(texture.Get(), nullptr, nullptr, nullptr, 0, &at, 0xFFFFFFFF), S_OK);
        device->EndScene();
        std::vector<std::string> lines = recorder.Lines();
        EXPECT_NE(std::find(lines.begin(), lines.end(), "SetFVF(324)"), lines.end());
        EXPECT_NE(std::find(lines.begin(), lines.end(), "DrawPrimitiveUP(6, 2, ptr, 28)"), lines.end());
        EXPECT_EQ(std::find(lines.begin(), lines.end(), "GetViewport(ptr)"), lines.end());
        std::vector<std::uint32_t> pixels = device.Pixels();
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) EXPECT_EQ(device.Pixel(pixels, 10 + x, 3 + y), Pattern(x, y) & 0xFFFFFF);
        EXPECT_EQ(device.Pixel(pixels, 9, 3), 0u);
        EXPECT_EQ(device.Pixel(pixels, 14, 3), 0u);
        EXPECT_EQ(device.Pixel(pixels, 10, 7), 0u);
    }
}

TEST(Sprite, TexelsLandOnExactPixels) {
    TestDevice device(64, 48);
    ComPtr<IDirect3DTexture9> texture = device.Texture(4, 4, D3DFMT_X8R8G8B8, Pattern);
    device.Clear(0xFF000000);
    device->BeginScene();
    ComPtr<Sprite> sprite = MakeSprite(device.Get());
    // Unscaled with the sprite's linear filter: pixel centres meet texel centres exactly.
    Vector2 at{10, 5};
    ASSERT_EQ(sprite->Draw(texture.Get(), nullptr, nullptr, nullptr, 0, &at, 0xFFFFFFFF), S_OK);
    // Scaled by two with point filtering: every texel covers 2 x 2 pixels.
    ASSERT_EQ(sprite->Begin(), S_OK);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    Vector2 twice{2, 2}, at2{20, 4};
    ASSERT_EQ(sprite->Draw(texture.Get(), nullptr, &twice, nullptr, 0, &at2, 0xFFFFFFFF), S_OK);
    // A source rectangle picks texels (1, 1) to (2, 2).
    RECT source{1, 1, 3, 3};
    Vector2 at3{40, 30};
    ASSERT_EQ(sprite->Draw(texture.Get(), &source, nullptr, nullptr, 0, &at3, 0xFFFFFFFF), S_OK);
    // A quarter turn about the origin maps quad point (x, y) to (y, -x): the 4 x 4 pattern turned
    // counter-clockwise, placed with its old top-right corner at (50, 10).
    Vector2 at4{50, 14};
    ASSERT_EQ(sprite->Draw(texture.Get(), nullptr, nullptr, nullptr, std::numbers::pi_v<float> / 2, &at4, 0xFFFFFFFF),
              S_OK);
    ASSERT_EQ(sprite->End(), S_OK);
    device->EndScene();

    std::vector<std::uint32_t> pixels = device.Pixels();
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            std::uint32_t texel = Pattern(x, y) & 0xFFFFFF;
            EXPECT_EQ(device.Pixel(pixels, 10 + x, 5 + y), texel) << x << "," << y;
            for (int i = 0; i < 4; ++i) EXPECT_EQ(device.Pixel(pixels, 20 + 2 * x + i % 2, 4 + 2 * y + i / 2), texel);
            // Pixel (px, py) samples quad point (13.5 - py, px + 0.5 - 50): texel (13 - py, px - 50).
            EXPECT_EQ(device.Pixel(pixels, 50 + y, 13 - x), texel) << "turned " << x << "," << y;
        }
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) EXPECT_EQ(device.Pixel(pixels, 40 + x, 30 + y), Pattern(1 + x, 1 + y) & 0xFFFFFF);
    // Nothing beyond the quads' edges.
    for (auto [x, y] : {std::pair{9, 5}, {14, 5}, {10, 9}, {10, 4}, {19, 4}, {28, 4}, {20, 12}, {42, 30}, {40, 32},
                        {49, 10}, {54, 10}, {50, 9}, {50, 14}})
        EXPECT_EQ(device.Pixel(pixels, x, y), 0u) << x << "," << y;
}

TEST(Sprite, ModulationBlendingAndRejectedInput) {
    TestDevice device(32, 16);
    ComPtr<IDirect3DTexture9> red = device.Texture(2, 2, D3DFMT_A8R8G8B8, [](int, int) { return 0x80FF0000u; });
    ComPtr<IDirect3DTexture9> white = device.Texture(2, 2, D3DFMT_X8R8G8B8, [](int, int) { return 0x00FFFFFFu; });
    device.Clear(0xFF0000FF);
    device->BeginScene();
    ComPtr<Sprite> sprite = MakeSprite(device.Get());
    Vector2 a{2, 2}, b{6, 2}, c{10, 2}, d{14, 2};
    // Texture alpha 0x80 over blue: half red, half blue.
    ASSERT_EQ(sprite->Draw(red.Get(), nullptr, nullptr, nullptr, 0, &a, 0xFFFFFFFF), S_OK);
    // An opaque format with an opaque colour: not blended even though the texels' unused byte is 0.
    ASSERT_EQ(sprite->Draw(white.Get(), nullptr, nullptr, nullptr, 0, &b, 0xFFFFFFFF), S_OK);
    // Colour 0xFF406080 modulates white to exactly that colour.
    ASSERT_EQ(sprite->Draw(white.Get(), nullptr, nullptr, nullptr, 0, &c, 0xFF406080), S_OK);
    // The colour's alpha 0x40 turns blending on for the opaque format: a quarter white over blue.
    ASSERT_EQ(sprite->Draw(white.Get(), nullptr, nullptr, nullptr, 0, &d, 0x40FFFFFF), S_OK);

    // Rejected: null texture, left above right, negative top, left beyond the level, two Begins.
    RECT backwards{2, 0, 1, 1}, negative{0, -1, 1, 1}, beyond{3, 0, 3, 1}, edge{2, 2, 2, 2};
    EXPECT_EQ(sprite->DrawTransformed(nullptr, nullptr, nullptr, 0xFFFFFFFF), D3DERR_INVALIDCALL);
    EXPECT_EQ(sprite->DrawTransformed(white.Get(), &backwards, nullptr, 0xFFFFFFFF), D3DERR_INVALIDCALL);
    EXPECT_EQ(sprite->DrawTransformed(white.Get(), &negative, nullptr, 0xFFFFFFFF), D3DERR_INVALIDCALL);
    EXPECT_EQ(sprite->DrawTransformed(white.Get(), &beyond, nullptr, 0xFFFFFFFF), D3DERR_INVALIDCALL);
    EXPECT_EQ(sprite->DrawTransformed(white.Get(), &edge, nullptr, 0xFFFFFFFF), S_OK);  // empty but valid
    EXPECT_EQ(sprite->End(), D3DERR_INVALIDCALL);
    ASSERT_EQ(sprite->Begin(), S_OK);
    EXPECT_EQ(sprite->Begin(), D3DERR_INVALIDCALL);
    EXPECT_EQ(sprite->End(), S_OK);  // the first batch was still open
    EXPECT_EQ(sprite->End(), D3DERR_INVALIDCALL);
    device->EndScene();

    std::vector<std::uint32_t> pixels = device.Pixels();
    for (int i = 0; i < 4; ++i) {
        int dx = i % 2, dy = i / 2;
        EXPECT_TRUE(fonttest::Near(device.Pixel(pixels, 2 + dx, 2 + dy), 0x80007F, 1)) << std::hex
            << device.Pixel(pixels, 2 + dx, 2 + dy);
        EXPECT_EQ(device.Pixel(pixels, 6 + dx, 2 + dy), 0xFFFFFFu);
        EXPECT_TRUE(fonttest::Near(device.Pixel(pixels, 10 + dx, 2 + dy), 0x406080, 1));
        EXPECT_TRUE(fonttest::Near(device.Pixel(pixels, 14 + dx, 2 + dy), 0x4040FF, 1)) << std::hex
            << device.Pixel(pixels, 14 + dx, 2 + dy);
    }
    IDirect3DDevice9* held = nullptr;
    EXPECT_EQ(sprite->GetDevice(nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(sprite->GetDevice(&held), S_OK);
    EXPECT_EQ(held, device.Get());
    held->Release();
    Sprite* none = nullptr;
    EXPECT_EQ(qm::CreateSprite(nullptr, &none), D3DERR_INVALIDCALL);
    EXPECT_EQ(qm::CreateSprite(device.Get(), nullptr), D3DERR_INVALIDCALL);
}

TEST(Sprite, CallerStateComesBack) {
    TestDevice device(32, 16);
    ComPtr<IDirect3DTexture9> texture = device.Texture(2, 2, D3DFMT_X8R8G8B8, [](int, int) { return 0xFFFFFFFFu; });
    ComPtr<IDirect3DTexture9> callers = device.Texture(1, 1, D3DFMT_X8R8G8B8, [](int, int) { return 0u; });
    D3DMATRIX world{};
    world._11 = 3, world._22 = 4, world._33 = 5, world._44 = 1, world._41 = 7;
    device->SetTransform(D3DTS_WORLD, &world);
    device->SetRenderState(D3DRS_ZENABLE, 1);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
    device->SetRenderState(D3DRS_LIGHTING, 1);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    device->SetTexture(0, callers.Get());
    device->SetFVF(D3DFVF_XYZ);
    // A caller's vertex shader (which the device would refuse to draw with) and N-patch mode.
    const DWORD program[] = {D3DVS_VERSION(1, 1), D3DVS_END()};
    ComPtr<IDirect3DVertexShader9> shader;
    ASSERT_EQ(device->CreateVertexShader(program, shader.ReleaseAndGetAddressOf()), D3D_OK);
    device->SetVertexShader(shader.Get());
    device->SetNPatchMode(2.0f);
    device->BeginScene();
    ComPtr<Sprite> sprite = MakeSprite(device.Get());
    Vector2 at{1, 1};
    // Outside a batch the draw opens and closes one itself, drawing with the fixed-function stages.
    ASSERT_EQ(sprite->Draw(texture.Get(), nullptr, nullptr, nullptr, 0, &at, 0x80FFFFFF), S_OK);
    device->EndScene();

    D3DMATRIX now{};
    device->GetTransform(D3DTS_WORLD, &now);
    EXPECT_EQ(std::memcmp(&now, &world, sizeof world), 0);
    DWORD value = 0;
    device->GetRenderState(D3DRS_ZENABLE, &value);
    EXPECT_EQ(value, 1u);
    device->GetRenderState(D3DRS_CULLMODE, &value);
    EXPECT_EQ(value, static_cast<DWORD>(D3DCULL_CW));
    device->GetRenderState(D3DRS_ALPHABLENDENABLE, &value);
    EXPECT_EQ(value, 0u);
    device->GetRenderState(D3DRS_LIGHTING, &value);
    EXPECT_EQ(value, 1u);
    device->GetSamplerState(0, D3DSAMP_MAGFILTER, &value);
    EXPECT_EQ(value, static_cast<DWORD>(D3DTEXF_POINT));
    device->GetFVF(&value);
    EXPECT_EQ(value, static_cast<DWORD>(D3DFVF_XYZ));
    ComPtr<IDirect3DBaseTexture9> bound;
    device->GetTexture(0, bound.ReleaseAndGetAddressOf());
    EXPECT_EQ(bound.Get(), static_cast<IDirect3DBaseTexture9*>(callers.Get()));
    ComPtr<IDirect3DVertexShader9> boundShader;
    device->GetVertexShader(boundShader.ReleaseAndGetAddressOf());
    EXPECT_EQ(boundShader.Get(), shader.Get());
    EXPECT_EQ(device->GetNPatchMode(), 2.0f);
}

}  // namespace
