// threads_test.cpp: drawing with worker threads gives the same bytes as drawing on one thread, and
// textures read directly by the span loops (bilinear in 8-bit steps, wrap by mask or remainder,
// clamp, modulation and source-alpha blending in 8-bit integers) stay within a level of the exact
// filtering and blending rules.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/platform/d3d9/raster_test_support.h"

namespace {

using rastertest::Canvas;
using rastertest::Channel;
using rastertest::ThreadCountScope;
using rastertest::FloatBits;

// D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1.
struct MeshVertex {
    float x, y, z, nx, ny, nz, u, v;
};
// D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1.
struct SpriteVertex {
    float x, y, z, rhw;
    D3DCOLOR diffuse;
    float u, v;
};
constexpr DWORD kSpriteFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

ComPtr<IDirect3DTexture9> MakeTexture(IDirect3DDevice9* d, UINT w, UINT h, const std::vector<D3DCOLOR>& texels) {
    ComPtr<IDirect3DTexture9> t;
    EXPECT_EQ(d->CreateTexture(w, h, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, t.ReleaseAndGetAddressOf(), nullptr), D3D_OK);
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(t->LockRect(0, &locked, nullptr, 0), D3D_OK);
    for (UINT y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(static_cast<std::byte*>(locked.pBits) + y * locked.Pitch);
        for (UINT x = 0; x < w; ++x) row[x] = texels[y * w + x];
    }
    t->UnlockRect(0);
    return t;
}

// A busy frame through every kind of span loop: lit, textured, depth-tested triangles in
// perspective (overlapping, in random order), blended and added pre-transformed sprites, two-stage
// shading, stencil-free general merging with an alpha test, lines and points.
std::vector<std::uint32_t> BusyFrame(int threads) {
    ThreadCountScope scope(threads);
    Canvas canvas(97, 75);
    IDirect3DDevice9* d = canvas.Device();
    std::vector<D3DCOLOR> texels(16 * 16);
    for (std::size_t i = 0; i < texels.size(); ++i) texels[i] = 0x80000000u | static_cast<D3DCOLOR>(i * 0x010305u);
    ComPtr<IDirect3DTexture9> texture = MakeTexture(d, 16, 16, texels);
    canvas.Clear(0xFF204060u);

    D3DMATRIX projection{};
    projection._11 = 1.3f;
    projection._22 = 1.7f;
    projection._33 = 1.02f;
    projection._34 = 1.0f;
    projection._43 = -0.1f;
    d->SetTransform(D3DTS_PROJECTION, &projection);
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = {1.0f, 0.9f, 0.8f, 1.0f};
    light.Direction = {0.3f, -0.4f, 0.8f};
    d->SetLight(0, &light);
    d->LightEnable(0, TRUE);
    D3DMATERIAL9 material{};
    material.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    material.Ambient = {0.3f, 0.3f, 0.3f, 1.0f};
    d->SetMaterial(&material);
    d->SetRenderState(D3DRS_AMBIENT, 0xFF404040u);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetTexture(0, texture.Get());
    d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);

    std::mt19937 random(11);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::vector<MeshVertex> mesh;
    for (int i = 0; i < 600; ++i) {
        float cx = 2.0f * unit(random), cy = 1.5f * unit(random), cz = 3.0f + unit(random);
        for (int k = 0; k < 3; ++k) {
            mesh.push_back({cx + 0.6f * unit(random), cy + 0.6f * unit(random), cz + 0.5f * unit(random), unit(random),
                            unit(random), -1.0f, 2.0f * unit(random), 2.0f * unit(random)});
        }
    }
    EXPECT_EQ(canvas.Draw(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1, D3DPT_TRIANGLELIST, 600, mesh), D3D_OK);

    d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    for (int q = 0; q < 6; ++q) {
        float x0 = 7.0f * q - 3.3f, y0 = 5.0f * q - 2.1f, x1 = x0 + 60.0f, y1 = y0 + 40.0f;
        D3DCOLOR colour = 0x90000000u | static_cast<D3DCOLOR>(0x2050F0u + 0x301000u * q);
        std::vector<SpriteVertex> quad = {{x0, y0, 0.5f, 1.0f, colour, 0.0f, 0.0f},
                                          {x1, y0, 0.5f, 1.0f, colour, 1.7f, 0.1f},
                                          {x0, y1, 0.5f, 1.0f, colour, -0.2f, 1.3f},
                                          {x1, y1, 0.5f, 1.0f, colour, 1.5f, 1.4f}};
        if (q == 3) d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);  // adds from here on
        if (q == 4) {
            // Two stages and an alpha test: the general loops.
            d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADDSIGNED);
            d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
            d->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
            d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
            d->SetRenderState(D3DRS_ALPHAREF, 0x30);
            d->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
        }
        EXPECT_EQ(canvas.Draw(kSpriteFvf, D3DPT_TRIANGLESTRIP, 2, quad), D3D_OK);
    }
    d->SetTexture(0, nullptr);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    std::vector<rastertest::ScreenVertex> lines;
    for (int i = 0; i < 40; ++i) {
        lines.push_back({48.0f, 37.0f, 0.2f, 1.0f, 0xFFFFFF00u, 0});
        lines.push_back({48.0f + 50.0f * std::cos(i * 0.157f), 37.0f + 40.0f * std::sin(i * 0.157f), 0.2f, 1.0f,
                         0xFF00FFFFu, 0});
    }
    EXPECT_EQ(canvas.Draw(rastertest::kScreenFvf, D3DPT_LINELIST, 40, lines), D3D_OK);
    d->SetRenderState(D3DRS_POINTSIZE, FloatBits(3.0f));
    std::vector<rastertest::ScreenVertex> points;
    for (int i = 0; i < 200; ++i) {
        points.push_back({48.0f + 47.0f * unit(random), 37.0f + 36.0f * unit(random), 0.1f, 1.0f,
                          0xFF000000u | static_cast<D3DCOLOR>(random() & 0xFFFFFF), 0});
    }
    EXPECT_EQ(canvas.Draw(rastertest::kScreenFvf, D3DPT_POINTLIST, 200, points), D3D_OK);
    return canvas.Pixels();
}

TEST(D3d9Threads, FramesAreByteIdenticalWhateverTheThreadCount) {
    std::vector<std::uint32_t> single = BusyFrame(1);
    // The frame is busy: many distinct colours, so that a missed or doubled span would show.
    std::set<std::uint32_t> colours(single.begin(), single.end());
    EXPECT_GT(colours.size(), 500u);
    for (int threads : {2, 3, 8}) {
        std::vector<std::uint32_t> many = BusyFrame(threads);
        ASSERT_EQ(many.size(), single.size());
        std::size_t differing = 0;
        for (std::size_t i = 0; i < single.size(); ++i) differing += many[i] != single[i] ? 1 : 0;
        EXPECT_EQ(differing, 0u) << threads << " threads";
    }
}

// Exact bilinear filtering of an 8-bit texture at (u, v) for one channel, by the rules: texel
// centres at half-integers, addressing by wrap or clamp.
double Bilinear(const std::vector<D3DCOLOR>& texels, int w, int h, bool wrap, double u, double v, int channel) {
    double fu = u * w - 0.5, fv = v * h - 0.5;
    double x = std::floor(fu), y = std::floor(fv), ax = fu - x, ay = fv - y;
    auto at = [&](double tx, double ty) {
        int ix = static_cast<int>(tx), iy = static_cast<int>(ty);
        ix = wrap ? ((ix % w) + w) % w : std::clamp(ix, 0, w - 1);
        iy = wrap ? ((iy % h) + h) % h : std::clamp(iy, 0, h - 1);
        return static_cast<double>(Channel(texels[iy * w + ix], channel)) / 255.0;
    };
    double top = at(x, y) * (1 - ax) + at(x + 1, y) * ax;
    double bottom = at(x, y + 1) * (1 - ax) + at(x + 1, y + 1) * ax;
    return top * (1 - ay) + bottom * ay;
}

TEST(D3d9Threads, DirectTexelsFilterModulateAndBlendByTheRules) {
    struct Case {
        int w, h;
        DWORD address;
        float uScale;  // u runs from 0 to uScale over the quad
    };
    // A power of two wraps by mask, three texels by remainder; clamp holds the edge texels.
    const Case cases[] = {{4, 4, D3DTADDRESS_WRAP, 2.5f}, {3, 3, D3DTADDRESS_WRAP, 1.75f}, {4, 2, D3DTADDRESS_CLAMP, 1.5f}};
    for (const Case& c : cases) {
        Canvas canvas(24, 16);
        IDirect3DDevice9* d = canvas.Device();
        std::vector<D3DCOLOR> texels;
        for (int i = 0; i < c.w * c.h; ++i) {
            texels.push_back(static_cast<D3DCOLOR>(0x40 + 50 * i % 200) << 24 | static_cast<D3DCOLOR>(37 * i % 256) << 16 |
                             static_cast<D3DCOLOR>(255 - 29 * i % 256) << 8 | static_cast<D3DCOLOR>(91 * i % 256));
        }
        ComPtr<IDirect3DTexture9> texture = MakeTexture(d, static_cast<UINT>(c.w), static_cast<UINT>(c.h), texels);
        const D3DCOLOR background = 0xFF3070B0u, diffuse = 0xC0E0A060u;
        canvas.Clear(background);
        d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        d->SetTexture(0, texture.Get());
        for (DWORD s : {D3DSAMP_MINFILTER, D3DSAMP_MAGFILTER}) d->SetSamplerState(0, static_cast<D3DSAMPLERSTATETYPE>(s), D3DTEXF_LINEAR);
        d->SetSamplerState(0, D3DSAMP_ADDRESSU, c.address);
        d->SetSamplerState(0, D3DSAMP_ADDRESSV, c.address);
        // Corners half a pixel back, so that pixel (x, y) samples u = (x + 0.5) / 24 * uScale.
        std::vector<SpriteVertex> quad = {{-0.5f, -0.5f, 0.5f, 1.0f, diffuse, 0.0f, 0.0f},
                                          {23.5f, -0.5f, 0.5f, 1.0f, diffuse, c.uScale, 0.0f},
                                          {-0.5f, 15.5f, 0.5f, 1.0f, diffuse, 0.0f, 1.0f},
                                          {23.5f, 15.5f, 0.5f, 1.0f, diffuse, c.uScale, 1.0f}};
        ASSERT_EQ(canvas.Draw(kSpriteFvf, D3DPT_TRIANGLESTRIP, 2, quad), D3D_OK);
        std::vector<std::uint32_t> pixels = canvas.Pixels();
        int worst = 0;
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 24; ++x) {
                double u = (x + 0.5) / 24.0 * c.uScale, v = (y + 0.5) / 16.0;
                double alpha = Bilinear(texels, c.w, c.h, c.address == D3DTADDRESS_WRAP, u, v, 3) * Channel(diffuse, 3) / 255.0;
                for (int channel = 0; channel < 3; ++channel) {
                    double source = Bilinear(texels, c.w, c.h, c.address == D3DTADDRESS_WRAP, u, v, channel) *
                                    Channel(diffuse, channel) / 255.0;
                    double expected = source * alpha + Channel(background, channel) / 255.0 * (1.0 - alpha);
                    int error = std::abs(Channel(pixels[y * 24 + x], channel) - rastertest::ToByte(expected));
                    worst = std::max(worst, error);
                }
            }
        }
        // Weights in 1/256 steps and three roundings to 8 bits stay within two levels.
        EXPECT_LE(worst, 2) << c.w << "x" << c.h << " address " << c.address;
    }
}

}  // namespace
