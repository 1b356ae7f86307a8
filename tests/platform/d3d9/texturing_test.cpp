// texturing_test.cpp: texture coordinates through the pipeline: perspective-correct coordinates
// with point sampling, TEXCOORDINDEX choosing the coordinate set, the level of detail of minified
// quads choosing the mip level, point-sprite coordinates across the sprite, and texture-times-
// diffuse modulation.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "tests/platform/d3d9/raster_test_support.h"

namespace {

using rastertest::Canvas;
using rastertest::Channel;
using rastertest::FloatBits;

constexpr D3DCOLOR kTexels[4] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu};

// A managed A8R8G8B8 texture; texel(level, x, y) gives each texel.
ComPtr<IDirect3DTexture9> MakeTexture(IDirect3DDevice9* d, UINT w, UINT h, UINT levels,
                                      const std::function<D3DCOLOR(UINT, UINT, UINT)>& texel) {
    ComPtr<IDirect3DTexture9> t;
    EXPECT_EQ(d->CreateTexture(w, h, levels, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, t.ReleaseAndGetAddressOf(), nullptr),
              D3D_OK);
    if (!t) return t;
    for (UINT level = 0; level < t->GetLevelCount(); ++level) {
        D3DSURFACE_DESC desc;
        t->GetLevelDesc(level, &desc);
        D3DLOCKED_RECT locked;
        EXPECT_EQ(t->LockRect(level, &locked, nullptr, 0), D3D_OK);
        for (UINT y = 0; y < desc.Height; ++y) {
            auto* row = reinterpret_cast<std::uint32_t*>(static_cast<std::byte*>(locked.pBits) + y * locked.Pitch);
            for (UINT x = 0; x < desc.Width; ++x) row[x] = texel(level, x, y);
        }
        t->UnlockRect(level);
    }
    return t;
}

// Pre-transformed vertex with two coordinate sets.
struct TexVertex {
    float x, y, z, rhw;
    D3DCOLOR diffuse;
    float u0, v0, u1, v1;
};
constexpr DWORD kTexFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX2;

TEST(D3d9Texturing, CoordinatesArePerspectiveCorrectAndChosenByTexCoordIndex) {
    Canvas canvas(16, 2);
    IDirect3DDevice9* d = canvas.Device();
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    ComPtr<IDirect3DTexture9> strip = MakeTexture(d, 4, 1, 1, [](UINT, UINT x, UINT) { return kTexels[x]; });
    d->SetTexture(0, strip.Get());
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    // The quad's left edge has 1/w = 1, its right edge 1/w = 0.25; set 0 runs u from 0 to 1, set 1
    // from 1 to 0.
    const float rhwLeft = 1.0f, rhwRight = 0.25f;
    std::vector<TexVertex> quad = {{0, 0, 0, rhwLeft, 0xFFFFFFFFu, 0, 0, 1, 0},
                                   {16, 0, 0, rhwRight, 0xFFFFFFFFu, 1, 0, 0, 0},
                                   {0, 2, 0, rhwLeft, 0xFFFFFFFFu, 0, 1, 1, 1},
                                   {16, 2, 0, rhwRight, 0xFFFFFFFFu, 1, 1, 0, 1}};
    for (DWORD set : {0u, 1u}) {
        d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, set);
        canvas.Clear(0xFF000000u);
        ASSERT_EQ(canvas.Draw(kTexFvf, D3DPT_TRIANGLESTRIP, 2, quad), D3D_OK);
        for (int x = 0; x < 16; ++x) {
            // Along the row, t = x / 16 on the screen; u = t rhwR / ((1 - t) rhwL + t rhwR).
            double t = x / 16.0;
            double u = t * rhwRight / ((1 - t) * rhwLeft + t * rhwRight);
            if (set == 1) u = 1 - u;
            double texel = u * 4;
            if (std::fabs(texel - std::round(texel)) < 0.01) continue;  // on a texel boundary
            int index = std::min(static_cast<int>(std::floor(texel)), 3);
            EXPECT_EQ(canvas.Pixel(x, 1), kTexels[index]) << "set " << set << " pixel " << x << " u " << u;
        }
    }
}

TEST(D3d9Texturing, MinifiedQuadsSampleTheLevelOfTheirFootprint) {
    Canvas canvas(32, 32);
    IDirect3DDevice9* d = canvas.Device();
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    // 16 x 16 with five levels, each one colour.
    const D3DCOLOR levelColours[5] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFF00u, 0xFF00FFFFu};
    ComPtr<IDirect3DTexture9> mips = MakeTexture(d, 16, 16, 5, [&](UINT level, UINT, UINT) { return levelColours[level]; });
    ASSERT_EQ(mips->GetLevelCount(), 5u);
    d->SetTexture(0, mips.Get());
    d->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    // A quad of n x n pixels shows 16 / n texels per pixel: level log2(16 / n).
    for (int level = 0; level < 5; ++level) {
        float n = 16.0f / static_cast<float>(1 << level);
        std::vector<TexVertex> quad = {{0, 0, 0, 1, 0xFFFFFFFFu, 0, 0, 0, 0},
                                       {n, 0, 0, 1, 0xFFFFFFFFu, 1, 0, 0, 0},
                                       {0, n, 0, 1, 0xFFFFFFFFu, 0, 1, 0, 0},
                                       {n, n, 0, 1, 0xFFFFFFFFu, 1, 1, 0, 0}};
        canvas.Clear(0xFF000000u);
        ASSERT_EQ(canvas.Draw(kTexFvf, D3DPT_TRIANGLESTRIP, 2, quad), D3D_OK);
        EXPECT_EQ(canvas.Pixel(0, 0), levelColours[level]) << "quad of " << n;
    }
}

TEST(D3d9Texturing, PointSpritesSpreadTheTextureAcrossTheSquare) {
    Canvas canvas(16, 16);
    IDirect3DDevice9* d = canvas.Device();
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    ComPtr<IDirect3DTexture9> quarters =
        MakeTexture(d, 2, 2, 1, [](UINT, UINT x, UINT y) { return kTexels[y * 2 + x]; });
    d->SetTexture(0, quarters.Get());
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetRenderState(D3DRS_POINTSIZE, FloatBits(8.0f));
    std::vector<TexVertex> point = {{8, 8, 0, 1, 0xFFFFFFFFu, 0.3f, 0.3f, 0, 0}};
    // Without sprites the whole square takes the vertex's coordinates: texel (0, 0).
    canvas.Clear(0xFF000000u);
    ASSERT_EQ(canvas.Draw(kTexFvf, D3DPT_POINTLIST, 1, point), D3D_OK);
    EXPECT_EQ(canvas.Pixel(5, 10), kTexels[0]);
    EXPECT_EQ(canvas.Pixel(10, 10), kTexels[0]);
    // With sprites, (0, 0) at the top-left corner (4, 4) to (1, 1) at (12, 12): a pixel centre
    // (x, y) reads texel (floor((x - 4) / 4), floor((y - 4) / 4)).
    d->SetRenderState(D3DRS_POINTSPRITEENABLE, TRUE);
    canvas.Clear(0xFF000000u);
    canvas.Draw(kTexFvf, D3DPT_POINTLIST, 1, point);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            bool inside = x >= 4 && x < 12 && y >= 4 && y < 12;
            D3DCOLOR expected = inside ? kTexels[((y - 4) / 4) * 2 + (x - 4) / 4] : 0xFF000000u;
            EXPECT_EQ(canvas.Pixel(x, y), expected) << x << "," << y;
        }
    }
}

TEST(D3d9Texturing, TextureModulatesTheDiffuseColour) {
    Canvas canvas(4, 4, D3DFMT_D16, D3DFMT_A8R8G8B8);
    IDirect3DDevice9* d = canvas.Device();
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    const D3DCOLOR texel = D3DCOLOR_ARGB(0x80, 0xC0, 0x40, 0xFF), diffuse = D3DCOLOR_ARGB(0x60, 0x80, 0xFF, 0x20);
    ComPtr<IDirect3DTexture9> flat = MakeTexture(d, 1, 1, 1, [&](UINT, UINT, UINT) { return texel; });
    d->SetTexture(0, flat.Get());
    std::vector<TexVertex> quad = {{0, 0, 0, 1, diffuse, 0, 0, 0, 0}, {4, 0, 0, 1, diffuse, 1, 0, 0, 0},
                                   {0, 4, 0, 1, diffuse, 0, 1, 0, 0}, {4, 4, 0, 1, diffuse, 1, 1, 0, 0}};
    auto product = [&](int channel) {
        return rastertest::ToByte(Channel(texel, channel) / 255.0 * (Channel(diffuse, channel) / 255.0));
    };
    // The default stage 0: colour texture x diffuse, alpha from the texture.
    canvas.Clear(0);
    canvas.Draw(kTexFvf, D3DPT_TRIANGLESTRIP, 2, quad);
    std::uint32_t p = canvas.Pixel(1, 1);
    for (int channel = 0; channel < 3; ++channel) EXPECT_NEAR(Channel(p, channel), product(channel), 1) << channel;
    EXPECT_EQ(Channel(p, 3), 0x80);
    // Alpha modulated too, and the same again with a second (pass-through) stage.
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    for (bool secondStage : {false, true}) {
        d->SetTextureStageState(1, D3DTSS_COLOROP, secondStage ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE);
        d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
        canvas.Clear(0);
        canvas.Draw(kTexFvf, D3DPT_TRIANGLESTRIP, 2, quad);
        p = canvas.Pixel(2, 2);
        for (int channel = 0; channel < 4; ++channel) {
            EXPECT_NEAR(Channel(p, channel), product(channel), 1) << channel << " second stage " << secondStage;
        }
    }
}

}  // namespace
