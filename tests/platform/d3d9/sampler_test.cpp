// sampler_test.cpp: texture sampling against values worked out by hand from the texels and the
// filter rules: address modes, point and bilinear filters, the level a level of detail selects,
// level blending, DXT1/3/5 and other format decoding, autogen levels, cube and volume textures.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/device.h"
#include "platform/d3d9/formats.h"
#include "platform/d3d9/sampler.h"
#include "tests/platform/d3d9/d3d9_test_support.h"

namespace {

using d3d9test::CapturingWindow;
using d3d9test::MakeDevice;
using qm::d3d9::Sampler;

constexpr float kTexel = 1.0f / 255.0f;

class SamplerTest : public ::testing::Test {
protected:
    void SetUp() override { device_ = MakeDevice(window_.Handle()); }

    // A managed A8R8G8B8 texture whose level l holds red(l, x, y) in the red channel, alpha 255.
    template <class F>
    ComPtr<IDirect3DTexture9> RedTexture(UINT w, UINT h, UINT levels, F red, D3DFORMAT format = D3DFMT_A8R8G8B8,
                                         DWORD usage = 0) {
        ComPtr<IDirect3DTexture9> t;
        EXPECT_EQ(device_->CreateTexture(w, h, levels, usage, format, D3DPOOL_MANAGED, t.ReleaseAndGetAddressOf(),
                                         nullptr),
                  D3D_OK);
        for (UINT level = 0; level < t->GetLevelCount(); ++level) FillLevel(t.Get(), level, red);
        return t;
    }

    template <class F>
    void FillLevel(IDirect3DTexture9* t, UINT level, F red) {
        D3DSURFACE_DESC desc;
        t->GetLevelDesc(level, &desc);
        D3DLOCKED_RECT locked;
        ASSERT_EQ(t->LockRect(level, &locked, nullptr, 0), D3D_OK);
        for (UINT y = 0; y < desc.Height; ++y) {
            auto* row = reinterpret_cast<std::uint32_t*>(static_cast<std::byte*>(locked.pBits) + y * locked.Pitch);
            for (UINT x = 0; x < desc.Width; ++x) row[x] = 0xFF000000u | (static_cast<std::uint32_t>(red(level, x, y)) << 16);
        }
        t->UnlockRect(level);
    }

    void Bind(IDirect3DBaseTexture9* texture, std::initializer_list<std::pair<D3DSAMPLERSTATETYPE, DWORD>> states) {
        ASSERT_EQ(device_->SetTexture(0, texture), D3D_OK);
        for (auto [type, value] : states) ASSERT_EQ(device_->SetSamplerState(0, type, value), D3D_OK);
        Prepare();
    }
    void Prepare() {
        qm::d3d9::PrepareSampler(dynamic_cast<qm::d3d9::Device*>(device_.Get())->State(), 0, &sampler_);
    }
    void Set(D3DSAMPLERSTATETYPE type, DWORD value) {
        device_->SetSamplerState(0, type, value);
        Prepare();
    }
    std::array<float, 4> Sample(float u, float v, float lod = 0.0f, float w = 0.0f) const {
        std::array<float, 4> rgba{};
        sampler_.sample(sampler_, u, v, w, lod, rgba.data());
        return rgba;
    }
    float Red(float u, float v, float lod = 0.0f) const { return Sample(u, v, lod)[0]; }

    CapturingWindow window_;
    ComPtr<IDirect3DDevice9> device_;
    Sampler sampler_;
};

// The 2 x 2 texture used for addressing and filtering: red 0, 100 on the top row, 200, 40 below.
int Quad(UINT, UINT x, UINT y) {
    const int red[2][2] = {{0, 100}, {200, 40}};
    return red[y][x];
}

TEST_F(SamplerTest, PointSamplingAddressesTexelsByMode) {
    ComPtr<IDirect3DTexture9> t = RedTexture(2, 2, 1, Quad);
    Bind(t.Get(), {});  // defaults: point filters, wrap
    EXPECT_FLOAT_EQ(Red(0.75f, 0.25f), 100 * kTexel);
    EXPECT_FLOAT_EQ(Red(0.25f, 0.75f), 200 * kTexel);
    EXPECT_FLOAT_EQ(Red(1.25f, 0.25f), 0.0f);        // wraps to texel 0
    EXPECT_FLOAT_EQ(Red(-0.25f, 0.25f), 100 * kTexel);  // texel -1 wraps to 1
    EXPECT_FLOAT_EQ(Sample(0.75f, 0.25f)[3], 1.0f);

    Set(D3DSAMP_ADDRESSU, D3DTADDRESS_MIRROR);
    Set(D3DSAMP_ADDRESSV, D3DTADDRESS_MIRROR);
    EXPECT_FLOAT_EQ(Red(1.25f, 0.25f), 100 * kTexel);  // texel 2 mirrors to 1
    EXPECT_FLOAT_EQ(Red(1.75f, 0.25f), 0.0f);          // texel 3 mirrors to 0
    EXPECT_FLOAT_EQ(Red(2.25f, 0.25f), 0.0f);          // texel 4 starts the next period
    EXPECT_FLOAT_EQ(Red(-0.25f, 0.25f), 0.0f);         // texel -1 mirrors to 0

    Set(D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    Set(D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    EXPECT_FLOAT_EQ(Red(5.0f, -3.0f), 100 * kTexel);
    EXPECT_FLOAT_EQ(Red(-1e30f, 1e30f), 200 * kTexel);

    Set(D3DSAMP_ADDRESSU, D3DTADDRESS_MIRRORONCE);
    Set(D3DSAMP_ADDRESSV, D3DTADDRESS_MIRRORONCE);
    EXPECT_FLOAT_EQ(Red(-0.25f, 0.25f), 0.0f);          // texel -1 mirrors to 0
    EXPECT_FLOAT_EQ(Red(-0.75f, 0.25f), 100 * kTexel);  // texel -2 mirrors to 1
    EXPECT_FLOAT_EQ(Red(-1.75f, 0.25f), 100 * kTexel);  // beyond one mirror: clamped
    EXPECT_FLOAT_EQ(Red(3.0f, 0.25f), 100 * kTexel);

    Set(D3DSAMP_ADDRESSU, D3DTADDRESS_BORDER);
    Set(D3DSAMP_ADDRESSV, D3DTADDRESS_BORDER);
    Set(D3DSAMP_BORDERCOLOR, 0x80FF4020u);
    auto border = Sample(1.25f, 0.25f);
    EXPECT_FLOAT_EQ(border[0], 1.0f);
    EXPECT_FLOAT_EQ(border[1], 0x40 * kTexel);
    EXPECT_FLOAT_EQ(border[2], 0x20 * kTexel);
    EXPECT_FLOAT_EQ(border[3], 0x80 * kTexel);
    EXPECT_FLOAT_EQ(Red(0.75f, 0.75f), 40 * kTexel);

    // Different modes on the two axes: u wraps, v clamps.
    Set(D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    Set(D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    EXPECT_FLOAT_EQ(Red(1.75f, 7.0f), 40 * kTexel);
}

TEST_F(SamplerTest, BilinearBlendsTheFourTexelsAroundTheSamplePoint) {
    ComPtr<IDirect3DTexture9> t = RedTexture(2, 2, 1, Quad);
    Bind(t.Get(), {{D3DSAMP_MAGFILTER, D3DTEXF_LINEAR}, {D3DSAMP_MINFILTER, D3DTEXF_LINEAR}});
    // Texel centres are at u = 0.25 and 0.75: exactly there, the texel itself.
    EXPECT_NEAR(Red(0.25f, 0.25f), 0.0f, 1e-6f);
    EXPECT_NEAR(Red(0.75f, 0.75f), 40 * kTexel, 1e-6f);
    // Midway between all four: their mean, (0 + 100 + 200 + 40) / 4 = 85.
    EXPECT_NEAR(Red(0.5f, 0.5f), 85 * kTexel, 1e-6f);
    // u = 0.625 on the top row's centre line: u * 2 - 0.5 = 0.75 of the way from texel 0 to texel 1,
    // 0 + 0.75 * 100 = 75.
    EXPECT_NEAR(Red(0.625f, 0.25f), 75 * kTexel, 1e-6f);
    // At the corner with wrap, the four texels meet from the other sides: the mean again.
    EXPECT_NEAR(Red(0.0f, 0.0f), 85 * kTexel, 1e-6f);
    // Clamped, the corner is texel (0, 0) alone.
    Set(D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    Set(D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    EXPECT_NEAR(Red(0.0f, 0.0f), 0.0f, 1e-6f);
    // With a border, three of the four taps are the border colour (red 255): 0.75 * 255.
    Set(D3DSAMP_ADDRESSU, D3DTADDRESS_BORDER);
    Set(D3DSAMP_ADDRESSV, D3DTADDRESS_BORDER);
    Set(D3DSAMP_BORDERCOLOR, 0xFFFF0000u);
    EXPECT_NEAR(Red(0.0f, 0.0f), 0.75f, 1e-6f);
    // Anisotropic falls back to linear.
    Set(D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    Set(D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
    Set(D3DSAMP_MAGFILTER, D3DTEXF_ANISOTROPIC);
    EXPECT_NEAR(Red(0.5f, 0.5f), 85 * kTexel, 1e-6f);
    // Magnification filters with MAGFILTER, minification with MINFILTER.
    Set(D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    EXPECT_NEAR(Red(0.5f, 0.5f, -1.0f), 40 * kTexel, 1e-6f);
    EXPECT_NEAR(Red(0.5f, 0.5f, 1.0f), 85 * kTexel, 1e-6f);
}

// Level l of the mip tests is filled with red 60 * l.
int LevelColour(UINT level, UINT, UINT) { return static_cast<int>(60 * level); }

TEST_F(SamplerTest, TheLevelOfDetailChoosesTheLevel) {
    ComPtr<IDirect3DTexture9> t = RedTexture(8, 8, 0, LevelColour);
    ASSERT_EQ(t->GetLevelCount(), 4u);
    Bind(t.Get(), {{D3DSAMP_MIPFILTER, D3DTEXF_POINT}});
    EXPECT_EQ(sampler_.width, 8u);
    EXPECT_EQ(sampler_.levelCount, 4u);
    const std::pair<float, int> nearest[] = {{-2.0f, 0}, {0.0f, 0}, {0.4f, 0}, {0.6f, 1}, {1.4f, 1},
                                             {1.6f, 2}, {2.6f, 3}, {9.0f, 3}};
    for (auto [lod, level] : nearest) EXPECT_FLOAT_EQ(Red(0.5f, 0.5f, lod), 60 * level * kTexel) << lod;

    // Linear between levels: lod 1.25 is three quarters level 1, one quarter level 2.
    Set(D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
    EXPECT_NEAR(Red(0.5f, 0.5f, 1.25f), (0.75f * 60 + 0.25f * 120) * kTexel, 1e-5f);
    EXPECT_NEAR(Red(0.5f, 0.5f, 7.0f), 180 * kTexel, 1e-5f);

    // Without mip filtering level 0 serves every lod.
    Set(D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    EXPECT_FLOAT_EQ(Red(0.5f, 0.5f, 3.0f), 0.0f);

    // MAXMIPLEVEL makes level 2 the most detailed; the bias moves the lod.
    Set(D3DSAMP_MIPFILTER, D3DTEXF_POINT);
    Set(D3DSAMP_MAXMIPLEVEL, 2);
    EXPECT_FLOAT_EQ(Red(0.5f, 0.5f, 0.0f), 120 * kTexel);
    EXPECT_FLOAT_EQ(Red(0.5f, 0.5f, 1.0f), 120 * kTexel);
    EXPECT_FLOAT_EQ(Red(0.5f, 0.5f, 3.0f), 180 * kTexel);
    Set(D3DSAMP_MAXMIPLEVEL, 0);
    Set(D3DSAMP_MIPMAPLODBIAS, std::bit_cast<DWORD>(-1.0f));
    EXPECT_FLOAT_EQ(Red(0.5f, 0.5f, 1.6f), 60 * kTexel);
    Set(D3DSAMP_MIPMAPLODBIAS, 0);
    // SetLOD on a managed texture also limits the most detailed level.
    EXPECT_EQ(t->SetLOD(1), 0u);
    Prepare();
    EXPECT_FLOAT_EQ(Red(0.5f, 0.5f, 0.0f), 60 * kTexel);
}

TEST_F(SamplerTest, AutogenLevelsFollowLevelZero) {
    ComPtr<IDirect3DTexture9> t = RedTexture(2, 2, 0, Quad, D3DFMT_A8R8G8B8, D3DUSAGE_AUTOGENMIPMAP);
    Bind(t.Get(), {{D3DSAMP_MIPFILTER, D3DTEXF_POINT}});
    EXPECT_EQ(sampler_.levelCount, 2u);
    EXPECT_NEAR(Red(0.5f, 0.5f, 1.0f), 85 * kTexel, 1.0f / 512);  // the 2 x 2 box mean, stored in 8 bits
    FillLevel(t.Get(), 0, [](UINT, UINT, UINT) { return 20; });
    Prepare();
    EXPECT_FLOAT_EQ(Red(0.5f, 0.5f, 1.0f), 20 * kTexel);
}

TEST_F(SamplerTest, UnboundAndUnsampleableStagesAreWhite) {
    Prepare();
    auto white = Sample(0.3f, 0.3f);
    for (float c : white) EXPECT_EQ(c, 1.0f);
    // X8R8G8B8 reads alpha 1 whatever the unused byte holds.
    ComPtr<IDirect3DTexture9> t;
    ASSERT_EQ(device_->CreateTexture(1, 1, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, t.ReleaseAndGetAddressOf(), nullptr),
              D3D_OK);
    D3DLOCKED_RECT locked;
    t->LockRect(0, &locked, nullptr, 0);
    *static_cast<std::uint32_t*>(locked.pBits) = 0x00336699u;
    t->UnlockRect(0);
    Bind(t.Get(), {});
    auto rgba = Sample(0.5f, 0.5f);
    EXPECT_FLOAT_EQ(rgba[0], 0x33 * kTexel);
    EXPECT_FLOAT_EQ(rgba[2], 0x99 * kTexel);
    EXPECT_FLOAT_EQ(rgba[3], 1.0f);
}

// Decodes one 4 x 4 block of `format` into 16 RGBA pixels.
std::vector<float> DecodeBlock(D3DFORMAT format, const std::vector<std::uint8_t>& bytes) {
    const qm::d3d9::FormatInfo* info = qm::d3d9::FindFormat(format);
    std::vector<float> rgba(64);
    qm::d3d9::DecodeImage(*info, reinterpret_cast<const std::byte*>(bytes.data()), bytes.size(), 4, 4, rgba.data());
    return rgba;
}

void ExpectPixel(const std::vector<float>& rgba, int pixel, float r, float g, float b, float a) {
    EXPECT_NEAR(rgba[4 * pixel + 0], r, 1e-6f) << "pixel " << pixel;
    EXPECT_NEAR(rgba[4 * pixel + 1], g, 1e-6f) << "pixel " << pixel;
    EXPECT_NEAR(rgba[4 * pixel + 2], b, 1e-6f) << "pixel " << pixel;
    EXPECT_NEAR(rgba[4 * pixel + 3], a, 1e-6f) << "pixel " << pixel;
}

TEST(D3d9TexelDecoding, DxtBlocksDecodeByTheS3tcRules) {
    // DXT1, colour 0 (pure red 0xF800) above colour 1 (pure blue 0x001F): four colours. Row 0 uses
    // indices 0, 1, 2, 3 (0xE4); the other rows index 0.
    auto four = DecodeBlock(D3DFMT_DXT1, {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0x00, 0x00, 0x00});
    ExpectPixel(four, 0, 1, 0, 0, 1);
    ExpectPixel(four, 1, 0, 0, 1, 1);
    ExpectPixel(four, 2, 2.0f / 3, 0, 1.0f / 3, 1);
    ExpectPixel(four, 3, 1.0f / 3, 0, 2.0f / 3, 1);
    ExpectPixel(four, 15, 1, 0, 0, 1);
    // Colours swapped: three colours plus transparent black.
    auto three = DecodeBlock(D3DFMT_DXT1, {0x1F, 0x00, 0x00, 0xF8, 0xE4, 0x00, 0x00, 0x00});
    ExpectPixel(three, 0, 0, 0, 1, 1);
    ExpectPixel(three, 1, 1, 0, 0, 1);
    ExpectPixel(three, 2, 0.5f, 0, 0.5f, 1);
    ExpectPixel(three, 3, 0, 0, 0, 0);

    // DXT3: explicit 4-bit alpha (pixel 0: 15, pixel 1: 5, the rest 0); its colour block decodes with
    // four colours even with colour 0 (black) below colour 1 (green 0x07E0).
    auto dxt3 = DecodeBlock(D3DFMT_DXT3, {0x5F, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0xE0, 0x07, 0xE4, 0, 0, 0});
    ExpectPixel(dxt3, 0, 0, 0, 0, 1);
    ExpectPixel(dxt3, 1, 0, 1, 0, 5.0f / 15);
    ExpectPixel(dxt3, 2, 0, 1.0f / 3, 0, 0);
    ExpectPixel(dxt3, 3, 0, 2.0f / 3, 0, 0);

    // DXT5, alpha 0 = 255 above alpha 1 = 0: eight values. Pixels 0-3 use indices 0, 1, 2, 7:
    // 1, 0, 6/7, 1/7.
    const std::vector<std::uint8_t> colourWhite = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
    std::vector<std::uint8_t> dxt5 = {255, 0, 0x88, 0x0E, 0, 0, 0, 0};
    dxt5.insert(dxt5.end(), colourWhite.begin(), colourWhite.end());
    auto eight = DecodeBlock(D3DFMT_DXT5, dxt5);
    ExpectPixel(eight, 0, 1, 1, 1, 1);
    ExpectPixel(eight, 1, 1, 1, 1, 0);
    ExpectPixel(eight, 2, 1, 1, 1, 6.0f / 7);
    ExpectPixel(eight, 3, 1, 1, 1, 1.0f / 7);
    // Alpha 0 = 0 below alpha 1 = 255: six values plus 0 and 1; index 2 is 1/5, index 7 is 1.
    dxt5[0] = 0;
    dxt5[1] = 255;
    auto six = DecodeBlock(D3DFMT_DXT5, dxt5);
    ExpectPixel(six, 0, 1, 1, 1, 0);
    ExpectPixel(six, 1, 1, 1, 1, 1);
    ExpectPixel(six, 2, 1, 1, 1, 1.0f / 5);
    ExpectPixel(six, 3, 1, 1, 1, 1);
}

TEST(D3d9TexelDecoding, PackedFloatAndTwoPixelFormats) {
    auto one = [](D3DFORMAT format, std::vector<std::uint8_t> bytes) {
        const qm::d3d9::FormatInfo* info = qm::d3d9::FindFormat(format);
        std::vector<float> rgba(4 * info->blockWidth);
        qm::d3d9::DecodeImage(*info, reinterpret_cast<const std::byte*>(bytes.data()), bytes.size(), info->blockWidth,
                              1, rgba.data());
        return rgba;
    };
    ExpectPixel(one(D3DFMT_R5G6B5, {0x1F, 0xF8}), 0, 1, 0, 1, 1);
    ExpectPixel(one(D3DFMT_A4R4G4B4, {0x30, 0x8F}), 0, 1, 3.0f / 15, 0, 8.0f / 15);
    ExpectPixel(one(D3DFMT_A1R5G5B5, {0x00, 0x80}), 0, 0, 0, 0, 1);
    ExpectPixel(one(D3DFMT_A8, {0x40}), 0, 0, 0, 0, 0x40 / 255.0f);
    ExpectPixel(one(D3DFMT_A8L8, {0x80, 0xFF}), 0, 0x80 / 255.0f, 0x80 / 255.0f, 0x80 / 255.0f, 1);
    ExpectPixel(one(D3DFMT_A2B10G10R10, {0xFF, 0x03, 0, 0xC0}), 0, 1, 0, 0, 1);
    ExpectPixel(one(D3DFMT_G16R16, {0xFF, 0xFF, 0, 0}), 0, 1, 0, 1, 1);
    // Signed: U = 127 reads 1, V = -128 reads -1 like -127; blue and alpha 1.
    ExpectPixel(one(D3DFMT_V8U8, {0x7F, 0x80}), 0, 1, -1, 1, 1);
    ExpectPixel(one(D3DFMT_Q8W8V8U8, {0xC1, 0x3F, 0x00, 0x7F}), 0, -63.0f / 127, 63.0f / 127, 0, 1);
    // Half floats 1.0 and -2.0; single floats as stored.
    ExpectPixel(one(D3DFMT_G16R16F, {0x00, 0x3C, 0x00, 0xC0}), 0, 1, -2, 1, 1);
    float values[4] = {0.25f, -3.0f, 7.5f, 0.5f};
    std::vector<std::uint8_t> bytes(16);
    std::memcpy(bytes.data(), values, 16);
    ExpectPixel(one(D3DFMT_A32B32G32R32F, bytes), 0, 0.25f, -3.0f, 7.5f, 0.5f);
    // YUY2: studio-range white (Y 235) and black (Y 16) sharing neutral chroma.
    auto yuy2 = one(D3DFMT_YUY2, {235, 128, 16, 128});
    EXPECT_NEAR(yuy2[0], 1.0f, 1e-5f);
    EXPECT_NEAR(yuy2[4], 0.0f, 1e-6f);
    // RGBG: each pixel's own green, shared red and blue.
    auto rgbg = one(D3DFMT_R8G8_B8G8, {255, 0, 51, 255});
    ExpectPixel(rgbg, 0, 1, 0, 0.2f, 1);
    ExpectPixel(rgbg, 1, 1, 1, 0.2f, 1);
}

TEST_F(SamplerTest, DxtTexturesAreSampledDecoded) {
    ComPtr<IDirect3DTexture9> t;
    ASSERT_EQ(device_->CreateTexture(4, 4, 1, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, t.ReleaseAndGetAddressOf(), nullptr),
              D3D_OK);
    D3DLOCKED_RECT locked;
    ASSERT_EQ(t->LockRect(0, &locked, nullptr, 0), D3D_OK);
    const std::uint8_t block[8] = {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0x00, 0x00, 0x00};
    std::memcpy(locked.pBits, block, 8);
    t->UnlockRect(0);
    Bind(t.Get(), {});
    auto texel1 = Sample(0.375f, 0.125f);  // pixel (1, 0): pure blue
    EXPECT_FLOAT_EQ(texel1[0], 0.0f);
    EXPECT_FLOAT_EQ(texel1[2], 1.0f);
    auto texel2 = Sample(0.625f, 0.125f);  // pixel (2, 0): two thirds red, stored in 8 bits
    EXPECT_NEAR(texel2[0], 170 * kTexel, 1e-6f);
    EXPECT_NEAR(texel2[2], 85 * kTexel, 1e-6f);
    // A later write is seen by the next draw's sampler.
    ASSERT_EQ(t->LockRect(0, &locked, nullptr, 0), D3D_OK);
    std::memset(locked.pBits, 0, 8);
    t->UnlockRect(0);
    Prepare();
    EXPECT_FLOAT_EQ(Sample(0.375f, 0.125f)[2], 0.0f);
}

TEST_F(SamplerTest, CubeFacesAndVolumeSlices) {
    ComPtr<IDirect3DCubeTexture9> cube;
    ASSERT_EQ(device_->CreateCubeTexture(2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, cube.ReleaseAndGetAddressOf(),
                                         nullptr),
              D3D_OK);
    for (DWORD face = 0; face < 6; ++face) {
        D3DLOCKED_RECT locked;
        ASSERT_EQ(cube->LockRect(static_cast<D3DCUBEMAP_FACES>(face), 0, &locked, nullptr, 0), D3D_OK);
        for (int y = 0; y < 2; ++y) {
            auto* row = reinterpret_cast<std::uint32_t*>(static_cast<std::byte*>(locked.pBits) + y * locked.Pitch);
            // Red names the face; green the texel, 0x10 * (1 + x + 2y).
            for (int x = 0; x < 2; ++x) row[x] = 0xFF000000u | ((face * 40) << 16) | ((0x10 * (1 + x + 2 * y)) << 8);
        }
        cube->UnlockRect(static_cast<D3DCUBEMAP_FACES>(face), 0);
    }
    Bind(cube.Get(), {});
    // +X: s = -z, t = -y. Direction (1, -0.5, -0.5) gives s = 0.5, t = 0.5: u = v = 0.75, texel (1, 1).
    auto px = Sample(1.0f, -0.5f, 0.0f, -0.5f);
    EXPECT_FLOAT_EQ(px[0], 0.0f);
    EXPECT_FLOAT_EQ(px[1], 0x40 * kTexel);
    // -Z: s = -x, t = -y. Direction (0.5, 0.5, -1) gives u = 0.25, v = 0.25: texel (0, 0) of face 5.
    auto nz = Sample(0.5f, 0.5f, 0.0f, -1.0f);
    EXPECT_FLOAT_EQ(nz[0], 200 * kTexel);
    EXPECT_FLOAT_EQ(nz[1], 0x10 * kTexel);
    // +Y: s = x, t = z. Direction (-0.5, 1, 0.5): u = 0.25, v = 0.75, texel (0, 1) of face 2.
    auto py = Sample(-0.5f, 1.0f, 0.0f, 0.5f);
    EXPECT_FLOAT_EQ(py[0], 80 * kTexel);
    EXPECT_FLOAT_EQ(py[1], 0x30 * kTexel);

    ComPtr<IDirect3DVolumeTexture9> volume;
    ASSERT_EQ(device_->CreateVolumeTexture(1, 1, 2, 1, 0, D3DFMT_L8, D3DPOOL_MANAGED, volume.ReleaseAndGetAddressOf(),
                                           nullptr),
              D3D_OK);
    D3DLOCKED_BOX box;
    ASSERT_EQ(volume->LockBox(0, &box, nullptr, 0), D3D_OK);
    static_cast<std::uint8_t*>(box.pBits)[0] = 0;
    static_cast<std::uint8_t*>(box.pBits)[box.SlicePitch] = 200;
    volume->UnlockBox(0);
    Bind(volume.Get(), {{D3DSAMP_ADDRESSW, D3DTADDRESS_CLAMP}});
    EXPECT_FLOAT_EQ(Sample(0.5f, 0.5f, 0.0f, 0.75f)[0], 200 * kTexel);
    EXPECT_FLOAT_EQ(Sample(0.5f, 0.5f, 0.0f, 0.25f)[1], 0.0f);
    Set(D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    // Midway between the slice centres: their mean, 100.
    EXPECT_NEAR(Sample(0.5f, 0.5f, 0.0f, 0.5f)[0], 100 * kTexel, 1e-6f);
}

TEST_F(SamplerTest, TexturesDrawnIntoAreSampledAfresh) {
    ComPtr<IDirect3DTexture9> t;
    ASSERT_EQ(device_->CreateTexture(4, 4, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                     t.ReleaseAndGetAddressOf(), nullptr),
              D3D_OK);
    ComPtr<IDirect3DSurface9> level, backBuffer;
    t->GetSurfaceLevel(0, level.ReleaseAndGetAddressOf());
    device_->GetRenderTarget(0, backBuffer.ReleaseAndGetAddressOf());
    ASSERT_EQ(device_->SetRenderTarget(0, level.Get()), D3D_OK);
    D3DVIEWPORT9 viewport;
    device_->GetViewport(&viewport);
    EXPECT_EQ(viewport.Width, 4u);
    EXPECT_EQ(viewport.Height, 4u);
    D3DVIEWPORT9 tooLarge{0, 0, 5, 4, 0.0f, 1.0f};
    EXPECT_EQ(device_->SetViewport(&tooLarge), D3DERR_INVALIDCALL);
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF102030u, 1.0f, 0), D3D_OK);

    // The stage samples the texture while the back buffer is the target again.
    ASSERT_EQ(device_->SetRenderTarget(0, backBuffer.Get()), D3D_OK);
    Bind(t.Get(), {});
    auto cleared = Sample(0.5f, 0.5f);
    EXPECT_FLOAT_EQ(cleared[0], 0x10 * kTexel);
    EXPECT_FLOAT_EQ(cleared[2], 0x30 * kTexel);

    // A pre-transformed quad in the vertex colour covers the whole texture.
    ASSERT_EQ(device_->SetRenderTarget(0, level.Get()), D3D_OK);
    struct Vertex {
        float x, y, z, rhw;
        D3DCOLOR colour;
    };
    const Vertex quad[4] = {{0, 0, 0.5f, 1, 0xFF808000u}, {4, 0, 0.5f, 1, 0xFF808000u},
                            {0, 4, 0.5f, 1, 0xFF808000u}, {4, 4, 0.5f, 1, 0xFF808000u}};
    device_->SetTexture(0, nullptr);
    device_->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
    device_->BeginScene();
    ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(Vertex)), D3D_OK);
    device_->EndScene();
    ASSERT_EQ(device_->SetRenderTarget(0, backBuffer.Get()), D3D_OK);
    Bind(t.Get(), {});
    auto drawn = Sample(0.875f, 0.875f);
    EXPECT_FLOAT_EQ(drawn[0], 0x80 * kTexel);
    EXPECT_FLOAT_EQ(drawn[1], 0x80 * kTexel);
    EXPECT_FLOAT_EQ(drawn[2], 0.0f);

    // Only render targets of this device; target 0 only; no depth buffer smaller than the target.
    ComPtr<IDirect3DTexture9> plain;
    device_->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, plain.ReleaseAndGetAddressOf(), nullptr);
    ComPtr<IDirect3DSurface9> plainLevel;
    plain->GetSurfaceLevel(0, plainLevel.ReleaseAndGetAddressOf());
    EXPECT_EQ(device_->SetRenderTarget(0, plainLevel.Get()), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->SetRenderTarget(1, level.Get()), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->SetRenderTarget(0, nullptr), D3DERR_INVALIDCALL);
    ComPtr<IDirect3DSurface9> large, depth;
    device_->CreateRenderTarget(1024, 1024, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, 0, FALSE,
                                large.ReleaseAndGetAddressOf(), nullptr);
    ASSERT_EQ(device_->SetRenderTarget(0, large.Get()), D3D_OK);
    EXPECT_EQ(device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3D_OK);
    device_->GetDepthStencilSurface(depth.ReleaseAndGetAddressOf());
    ASSERT_EQ(device_->SetDepthStencilSurface(nullptr), D3D_OK);
    EXPECT_EQ(device_->GetDepthStencilSurface(depth.ReleaseAndGetAddressOf()), D3DERR_NOTFOUND);
    EXPECT_EQ(device_->SetDepthStencilSurface(level.Get()), D3DERR_INVALIDCALL);
}

}  // namespace
