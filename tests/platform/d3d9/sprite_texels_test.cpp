// sprite_texels_test.cpp: sprites drawn at their size with bilinear filtering: texels on pixel
// centres come out as the texels themselves (blended over the background by the source-alpha rule),
// off-centre ones as the bilinear blend of their neighbours; and small draws give the same pixels
// whatever the number of device threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "tests/platform/d3d9/raster_test_support.h"

namespace {

using rastertest::Canvas;
using rastertest::Channel;
using rastertest::ThreadCountScope;

// D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1.
struct SpriteVertex {
    float x, y, z, rhw;
    D3DCOLOR diffuse;
    float u, v;
};
constexpr DWORD kSpriteFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

constexpr int kTexW = 8, kTexH = 4;

// Neighbouring texels far apart in every channel, alpha running through transparent, opaque and
// partial values, so that any weight on a neighbour shows.
std::vector<D3DCOLOR> Texels() {
    const D3DCOLOR alphas[] = {0x00, 0xFF, 0x80, 0x33, 0xFF, 0xC4, 0x00, 0x5A};
    std::vector<D3DCOLOR> texels;
    for (int y = 0; y < kTexH; ++y) {
        for (int x = 0; x < kTexW; ++x) {
            bool odd = ((x + y) & 1) != 0;
            D3DCOLOR rgb = odd ? 0xF01020u + static_cast<D3DCOLOR>(0x000B00u * x) : 0x10E0D0u - static_cast<D3DCOLOR>(0x050000u * y);
            texels.push_back(alphas[(x + 3 * y) % 8] << 24 | rgb);
        }
    }
    return texels;
}

ComPtr<IDirect3DTexture9> MakeTexture(IDirect3DDevice9* d, const std::vector<D3DCOLOR>& texels) {
    ComPtr<IDirect3DTexture9> t;
    EXPECT_EQ(d->CreateTexture(kTexW, kTexH, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, t.ReleaseAndGetAddressOf(), nullptr),
              D3D_OK);
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(t->LockRect(0, &locked, nullptr, 0), D3D_OK);
    for (int y = 0; y < kTexH; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(static_cast<std::byte*>(locked.pBits) + y * locked.Pitch);
        for (int x = 0; x < kTexW; ++x) row[x] = texels[static_cast<std::size_t>(y * kTexW + x)];
    }
    t->UnlockRect(0);
    return t;
}

// The sprite states: texture times diffuse in colour and alpha, bilinear, no mip levels, no depth.
void SpriteStates(IDirect3DDevice9* d, IDirect3DTexture9* texture, DWORD address, bool blend) {
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, blend ? TRUE : FALSE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    d->SetTexture(0, texture);
    d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, address);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, address);
}

// A quad with corners (x0, y0) and (x0 + w, y0 + h) mapping [u0, u1] x [v0, v1].
std::vector<SpriteVertex> Sprite(float x0, float y0, float w, float h, float u0, float v0, float u1, float v1,
                                 D3DCOLOR diffuse = 0xFFFFFFFFu) {
    return {{x0, y0, 0.5f, 1.0f, diffuse, u0, v0},
            {x0 + w, y0, 0.5f, 1.0f, diffuse, u1, v0},
            {x0, y0 + h, 0.5f, 1.0f, diffuse, u0, v1},
            {x0 + w, y0 + h, 0.5f, 1.0f, diffuse, u1, v1}};
}

int Address(int i, int n, DWORD mode) { return mode == D3DTADDRESS_WRAP ? ((i % n) + n) % n : std::clamp(i, 0, n - 1); }

// Source-alpha blending of one channel: src a + dst (1 - a), rounded to 8 bits.
int Blend(int src, int dst, int alpha) { return static_cast<int>(std::lround((src * alpha + dst * (255 - alpha)) / 255.0)); }

TEST(D3d9SpriteTexels, TexelsOnPixelCentresComeOutExactly) {
    const std::vector<D3DCOLOR> texels = Texels();
    const D3DCOLOR background = 0xFF4080C0u;
    struct Case {
        DWORD address;
        bool blend;
        int firstColumn;  // texel column under the sprite's first pixel column; outside [0, 8) addresses
        int width;
    };
    // Inside the texture, and running off both sides of it under clamp and wrap.
    const Case cases[] = {{D3DTADDRESS_CLAMP, true, 0, kTexW},
                          {D3DTADDRESS_CLAMP, false, 0, kTexW},
                          {D3DTADDRESS_CLAMP, true, -3, 14},
                          {D3DTADDRESS_WRAP, true, -5, 20}};
    for (const Case& c : cases) {
        Canvas canvas(32, 12);
        IDirect3DDevice9* d = canvas.Device();
        ComPtr<IDirect3DTexture9> texture = MakeTexture(d, texels);
        canvas.Clear(background);
        SpriteStates(d, texture.Get(), c.address, c.blend);
        // Corners half a pixel back: pixel (3 + i, 5 + j) has its centre on texel (first + i, j).
        const float u0 = static_cast<float>(c.firstColumn) / kTexW;
        const float u1 = static_cast<float>(c.firstColumn + c.width) / kTexW;
        ASSERT_EQ(canvas.Draw(kSpriteFvf, D3DPT_TRIANGLESTRIP, 2,
                              Sprite(2.5f, 4.5f, static_cast<float>(c.width), kTexH, u0, 0.0f, u1, 1.0f)),
                  D3D_OK);
        const std::vector<std::uint32_t> pixels = canvas.Pixels();
        int wrong = 0;
        for (int y = 0; y < 12; ++y) {
            for (int x = 0; x < 32; ++x) {
                const std::uint32_t pixel = pixels[static_cast<std::size_t>(y * 32 + x)];
                const int i = x - 3, j = y - 5;
                std::uint32_t expected = background;
                if (i >= 0 && i < c.width && j >= 0 && j < kTexH) {
                    const D3DCOLOR texel = texels[static_cast<std::size_t>(j * kTexW + Address(c.firstColumn + i, kTexW, c.address))];
                    const int alpha = c.blend ? Channel(texel, 3) : 255;
                    expected = 0xFF000000u;
                    for (int channel = 0; channel < 3; ++channel) {
                        expected |= static_cast<std::uint32_t>(Blend(Channel(texel, channel), Channel(background, channel), alpha))
                                    << (8 * channel);
                    }
                }
                if ((pixel & 0x00FFFFFFu) != (expected & 0x00FFFFFFu)) ++wrong;
                if ((pixel & 0x00FFFFFFu) != (expected & 0x00FFFFFFu) && wrong <= 3) {
                    ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex << pixel << " expected " << expected;
                }
            }
        }
        EXPECT_EQ(wrong, 0) << "address " << c.address << " blend " << c.blend << " first column " << c.firstColumn;
    }
}

TEST(D3d9SpriteTexels, OffCentreTexelsAreBilinearBlends) {
    const std::vector<D3DCOLOR> texels = Texels();
    // Pixel centres off the texel centres by (dx, dy) of a texel: half a texel across, half a texel
    // both ways, and a sixty-fourth across (close to aligned, but a texel pair 200 levels apart
    // moves by three levels).
    // With blockers, nearer black columns over sprite columns 2, 5 and 6 fail the depth test there,
    // so that the pixels after them cannot take their left texel column from the pixel before.
    struct Case {
        float dx, dy;
        bool blockers;
    };
    for (const Case c : {Case{0.5f, 0.0f, false}, Case{0.5f, 0.5f, false}, Case{1.0f / 64.0f, 0.0f, false},
                         Case{0.25f, 0.375f, true}}) {
        Canvas canvas(16, 8);
        IDirect3DDevice9* d = canvas.Device();
        ComPtr<IDirect3DTexture9> texture = MakeTexture(d, texels);
        canvas.Clear(0xFF0000FFu);
        SpriteStates(d, texture.Get(), D3DTADDRESS_CLAMP, false);
        auto blocked = [&](int i) { return c.blockers && (i == 2 || i == 5 || i == 6); };
        if (c.blockers) {
            d->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
            d->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
            d->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
            for (int column : {2, 5, 6}) {
                // Diffuse black times any texel: a black column nearer than the sprite.
                std::vector<SpriteVertex> blocker = Sprite(1.5f + column, 2.5f, 1.0f, kTexH, 0, 0, 1, 1, 0xFF000000u);
                for (SpriteVertex& v : blocker) v.z = 0.1f;
                ASSERT_EQ(canvas.Draw(kSpriteFvf, D3DPT_TRIANGLESTRIP, 2, blocker), D3D_OK);
            }
        }
        // The sprite covers the same pixels, its texture coordinates moved on by the offset.
        const float du = c.dx / kTexW, dv = c.dy / kTexH;
        ASSERT_EQ(canvas.Draw(kSpriteFvf, D3DPT_TRIANGLESTRIP, 2,
                              Sprite(1.5f, 2.5f, kTexW, kTexH, du, dv, 1.0f + du, 1.0f + dv)),
                  D3D_OK);
        const std::vector<std::uint32_t> pixels = canvas.Pixels();
        int worst = 0;
        // Pixel (2 + i, 3 + j) samples texel coordinate (i + dx, j + dy), texel centres at whole numbers.
        for (int j = 0; j < kTexH; ++j) {
            for (int i = 0; i < kTexW; ++i) {
                const double fx = i + c.dx, fy = j + c.dy;
                const int x = static_cast<int>(std::floor(fx)), y = static_cast<int>(std::floor(fy));
                const double ax = fx - x, ay = fy - y;
                auto at = [&](int tx, int ty, int channel) {
                    return static_cast<double>(
                        Channel(texels[static_cast<std::size_t>(Address(ty, kTexH, D3DTADDRESS_CLAMP) * kTexW +
                                                               Address(tx, kTexW, D3DTADDRESS_CLAMP))],
                                channel));
                };
                if (blocked(i)) {
                    EXPECT_EQ(pixels[static_cast<std::size_t>((3 + j) * 16 + 2 + i)] & 0x00FFFFFFu, 0u) << i << "," << j;
                    continue;
                }
                for (int channel = 0; channel < 3; ++channel) {
                    const double top = at(x, y, channel) * (1 - ax) + at(x + 1, y, channel) * ax;
                    const double bottom = at(x, y + 1, channel) * (1 - ax) + at(x + 1, y + 1, channel) * ax;
                    const int expected = static_cast<int>(std::lround(top * (1 - ay) + bottom * ay));
                    const int got = Channel(pixels[static_cast<std::size_t>((3 + j) * 16 + 2 + i)], channel);
                    worst = std::max(worst, std::abs(got - expected));
                }
            }
        }
        // Weights in steps of 1/256 with each blend rounded to 8 bits: within one level.
        EXPECT_LE(worst, 1) << "offset " << c.dx << "," << c.dy;
    }
}

// Large and tiny blended draws interleaved over the same pixels, so that any tiny draw shaded out
// of order with the large ones around it changes the result.
std::vector<std::uint32_t> MixedDraws(int threads) {
    ThreadCountScope scope(threads);
    Canvas canvas(100, 60);
    IDirect3DDevice9* d = canvas.Device();
    ComPtr<IDirect3DTexture9> texture = MakeTexture(d, Texels());
    canvas.Clear(0xFF204060u);
    SpriteStates(d, texture.Get(), D3DTADDRESS_WRAP, true);
    for (int round = 0; round < 3; ++round) {
        // The whole target (6,000 pixels), stretched and half transparent.
        EXPECT_EQ(canvas.Draw(kSpriteFvf, D3DPT_TRIANGLESTRIP, 2,
                              Sprite(-0.5f, -0.5f, 100.0f, 60.0f, 0.1f * round, 0.0f, 3.0f, 2.0f, 0x80FFFFFFu - 0x200000u * round)),
                  D3D_OK);
        for (int k = 0; k < 12; ++k) {
            // Glyph-sized tiles, aligned and not, over the middle of the target.
            const float x = 10.0f + 6.5f * k + 0.25f * (k % 3), y = 20.0f + 3.0f * (k % 4) + round;
            const D3DCOLOR diffuse = 0xFF000000u | (0x3070F0u + 0x0B1300u * static_cast<D3DCOLOR>(k));
            EXPECT_EQ(canvas.Draw(kSpriteFvf, D3DPT_TRIANGLESTRIP, 2, Sprite(x - 0.5f, y - 0.5f, kTexW, kTexH, 0, 0, 1, 1, diffuse)),
                      D3D_OK);
        }
    }
    return canvas.Pixels();
}

TEST(D3d9SpriteTexels, SmallDrawsMatchOneThreadWhateverTheThreadCount) {
    const std::vector<std::uint32_t> single = MixedDraws(1);
    for (int threads : {2, 3}) {
        const std::vector<std::uint32_t> many = MixedDraws(threads);
        ASSERT_EQ(many.size(), single.size());
        std::size_t differing = 0;
        for (std::size_t i = 0; i < single.size(); ++i) differing += many[i] != single[i] ? 1 : 0;
        EXPECT_EQ(differing, 0u) << threads << " threads";
    }
}

}  // namespace
