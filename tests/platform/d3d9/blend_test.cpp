// blend_test.cpp: the per-pixel stages after shading: every blend factor and blend operation,
// separate alpha blending, the alpha test, the colour write mask, depth ordering and the depth
// formats' quantisation, and stencil, each against values worked out from the rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "tests/platform/d3d9/raster_test_support.h"

namespace {

using rastertest::Canvas;
using rastertest::Channel;
using rastertest::kScreenFvf;
using rastertest::Quad;
using rastertest::ToByte;

// Colours as floats R, G, B, A.
struct Rgba {
    double c[4];
};
Rgba FromArgb(D3DCOLOR v) {
    return {{((v >> 16) & 0xFF) / 255.0, ((v >> 8) & 0xFF) / 255.0, (v & 0xFF) / 255.0, (v >> 24) / 255.0}};
}

// The factor a blend mode gives each channel, from the platform's definitions.
Rgba Factor(DWORD blend, const Rgba& s, const Rgba& d, const Rgba& k) {
    switch (blend) {
        case D3DBLEND_ZERO: return {{0, 0, 0, 0}};
        case D3DBLEND_ONE: return {{1, 1, 1, 1}};
        case D3DBLEND_SRCCOLOR: return s;
        case D3DBLEND_INVSRCCOLOR: return {{1 - s.c[0], 1 - s.c[1], 1 - s.c[2], 1 - s.c[3]}};
        case D3DBLEND_SRCALPHA: return {{s.c[3], s.c[3], s.c[3], s.c[3]}};
        case D3DBLEND_INVSRCALPHA: return {{1 - s.c[3], 1 - s.c[3], 1 - s.c[3], 1 - s.c[3]}};
        case D3DBLEND_DESTALPHA: return {{d.c[3], d.c[3], d.c[3], d.c[3]}};
        case D3DBLEND_INVDESTALPHA: return {{1 - d.c[3], 1 - d.c[3], 1 - d.c[3], 1 - d.c[3]}};
        case D3DBLEND_DESTCOLOR: return d;
        case D3DBLEND_INVDESTCOLOR: return {{1 - d.c[0], 1 - d.c[1], 1 - d.c[2], 1 - d.c[3]}};
        case D3DBLEND_SRCALPHASAT: {
            double f = std::min(s.c[3], 1 - d.c[3]);
            return {{f, f, f, 1}};
        }
        case D3DBLEND_BLENDFACTOR: return k;
        case D3DBLEND_INVBLENDFACTOR: return {{1 - k.c[0], 1 - k.c[1], 1 - k.c[2], 1 - k.c[3]}};
    }
    ADD_FAILURE() << "no factor " << blend;
    return {};
}

constexpr D3DCOLOR kSource = D3DCOLOR_ARGB(0x60, 0x40, 0x80, 0xC0);
constexpr D3DCOLOR kDest = D3DCOLOR_ARGB(0xA0, 0x90, 0x30, 0x50);
constexpr D3DCOLOR kConstant = D3DCOLOR_ARGB(0x33, 0x55, 0x77, 0x99);

class Blend : public ::testing::Test {
protected:
    Blend() : canvas_(4, 4, D3DFMT_D16, D3DFMT_A8R8G8B8) {
        IDirect3DDevice9* d = canvas_.Device();
        d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        d->SetRenderState(D3DRS_BLENDFACTOR, kConstant);
        // Stage 0 takes alpha from the texture by default, and no texture samples opaque white:
        // the source alpha here is the vertex's.
        d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    }
    std::uint32_t DrawOver(D3DCOLOR dest, D3DCOLOR source) {
        canvas_.Clear(dest);
        EXPECT_EQ(canvas_.Draw(kScreenFvf, D3DPT_TRIANGLESTRIP, 2, Quad(0, 0, 4, 4, source)), D3D_OK);
        return canvas_.Pixel(1, 2);
    }
    static void ExpectArgb(std::uint32_t pixel, const double rgba[4], const std::string& what) {
        const int channel[4] = {2, 1, 0, 3};
        for (int i = 0; i < 4; ++i) {
            EXPECT_NEAR(Channel(pixel, channel[i]), 255.0 * std::clamp(rgba[i], 0.0, 1.0), 1.0)
                << what << " channel " << i << " of " << std::hex << pixel;
        }
    }
    Canvas canvas_;
};

TEST_F(Blend, EveryFactorPairAddsAsDefined) {
    IDirect3DDevice9* d = canvas_.Device();
    const Rgba s = FromArgb(kSource), dst = FromArgb(kDest), k = FromArgb(kConstant);
    for (DWORD src = D3DBLEND_ZERO; src <= D3DBLEND_INVBLENDFACTOR; ++src) {
        for (DWORD dest = D3DBLEND_ZERO; dest <= D3DBLEND_INVBLENDFACTOR; ++dest) {
            d->SetRenderState(D3DRS_SRCBLEND, src);
            d->SetRenderState(D3DRS_DESTBLEND, dest);
            // BOTHSRCALPHA and BOTHINVSRCALPHA as the source factor set both factors.
            Rgba sf, df;
            if (src == D3DBLEND_BOTHSRCALPHA || src == D3DBLEND_BOTHINVSRCALPHA) {
                double a = src == D3DBLEND_BOTHSRCALPHA ? s.c[3] : 1 - s.c[3];
                sf = {{a, a, a, a}};
                df = {{1 - a, 1 - a, 1 - a, 1 - a}};
            } else {
                sf = Factor(src, s, dst, k);
                df = (dest == D3DBLEND_BOTHSRCALPHA || dest == D3DBLEND_BOTHINVSRCALPHA) ? Rgba{} : Factor(dest, s, dst, k);
                if (dest == D3DBLEND_BOTHSRCALPHA || dest == D3DBLEND_BOTHINVSRCALPHA) continue;
            }
            double expected[4];
            for (int c = 0; c < 4; ++c) expected[c] = s.c[c] * sf.c[c] + dst.c[c] * df.c[c];
            ExpectArgb(DrawOver(kDest, kSource), expected,
                       "src " + std::to_string(src) + " dest " + std::to_string(dest));
        }
    }
}

TEST_F(Blend, OperationsSubtractReverseMinMaxAndSeparateAlpha) {
    IDirect3DDevice9* d = canvas_.Device();
    const Rgba s = FromArgb(kSource), dst = FromArgb(kDest);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    const double as = s.c[3];
    for (DWORD op = D3DBLENDOP_ADD; op <= D3DBLENDOP_MAX; ++op) {
        d->SetRenderState(D3DRS_BLENDOP, op);
        double expected[4];
        for (int c = 0; c < 4; ++c) {
            double a = s.c[c] * as, b = dst.c[c] * (1 - as);
            switch (op) {
                case D3DBLENDOP_ADD: expected[c] = a + b; break;
                case D3DBLENDOP_SUBTRACT: expected[c] = a - b; break;
                case D3DBLENDOP_REVSUBTRACT: expected[c] = b - a; break;
                case D3DBLENDOP_MIN: expected[c] = std::min(s.c[c], dst.c[c]); break;  // factors unused
                default: expected[c] = std::max(s.c[c], dst.c[c]); break;
            }
        }
        ExpectArgb(DrawOver(kDest, kSource), expected, "op " + std::to_string(op));
    }
    // Alpha blended on its own terms: colour by SRCALPHA/INVSRCALPHA add, alpha as dest - src * 1.
    d->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD);
    d->SetRenderState(D3DRS_SEPARATEALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_SRCBLENDALPHA, D3DBLEND_ONE);
    d->SetRenderState(D3DRS_DESTBLENDALPHA, D3DBLEND_ONE);
    d->SetRenderState(D3DRS_BLENDOPALPHA, D3DBLENDOP_REVSUBTRACT);
    double expected[4];
    for (int c = 0; c < 3; ++c) expected[c] = s.c[c] * as + dst.c[c] * (1 - as);
    expected[3] = dst.c[3] - s.c[3];
    ExpectArgb(DrawOver(kDest, kSource), expected, "separate alpha");
}

TEST_F(Blend, AlphaTestComparesTheAlphaByteWithTheReference) {
    IDirect3DDevice9* d = canvas_.Device();
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    const D3DCOLOR source = D3DCOLOR_ARGB(0x80, 0xFF, 0xFF, 0xFF);
    for (DWORD func = D3DCMP_NEVER; func <= D3DCMP_ALWAYS; ++func) {
        for (DWORD ref : {0x7Fu, 0x80u, 0x81u, 0x180u}) {  // only the low byte of the reference counts
            d->SetRenderState(D3DRS_ALPHAFUNC, func);
            d->SetRenderState(D3DRS_ALPHAREF, ref);
            int a = 0x80, r = static_cast<int>(ref & 0xFF);
            const bool passes[] = {false, a < r, a == r, a <= r, a > r, a != r, a >= r, true};
            EXPECT_EQ(DrawOver(0xFF000000u, source), passes[func - 1] ? source : 0xFF000000u)
                << "func " << func << " ref " << ref;
        }
    }
}

TEST_F(Blend, ColourWriteEnableMasksChannels) {
    IDirect3DDevice9* d = canvas_.Device();
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    d->SetRenderState(D3DRS_COLORWRITEENABLE, D3DCOLORWRITEENABLE_RED | D3DCOLORWRITEENABLE_ALPHA);
    EXPECT_EQ(DrawOver(kDest, kSource), (kSource & 0xFFFF0000u) | (kDest & 0x0000FFFFu));
    d->SetRenderState(D3DRS_COLORWRITEENABLE, 0);
    EXPECT_EQ(DrawOver(kDest, kSource), kDest);
}

TEST(D3d9Depth, NearerSurfacesWinWhateverTheDrawingOrder) {
    Canvas canvas(4, 4);
    IDirect3DDevice9* d = canvas.Device();
    const D3DCOLOR nearColour = 0xFFFF0000u, farColour = 0xFF00FF00u;
    auto nearQuad = Quad(0, 0, 4, 4, nearColour, 0.25f), farQuad = Quad(0, 0, 4, 4, farColour, 0.75f);
    for (bool nearFirst : {true, false}) {
        canvas.Clear(0xFF000000u, 1.0f);
        canvas.Draw(kScreenFvf, D3DPT_TRIANGLESTRIP, 2, nearFirst ? nearQuad : farQuad);
        canvas.Draw(kScreenFvf, D3DPT_TRIANGLESTRIP, 2, nearFirst ? farQuad : nearQuad);
        EXPECT_EQ(canvas.Pixel(2, 2), nearColour) << "near first " << nearFirst;
    }
    // GREATER keeps the farther; with writes off the buffer keeps the clear value.
    d->SetRenderState(D3DRS_ZFUNC, D3DCMP_GREATER);
    canvas.Clear(0xFF000000u, 0.0f);
    canvas.Draw(kScreenFvf, D3DPT_TRIANGLESTRIP, 2, farQuad);
    canvas.Draw(kScreenFvf, D3DPT_TRIANGLESTRIP, 2, nearQuad);
    EXPECT_EQ(canvas.Pixel(2, 2), farColour);
    d->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
    d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    canvas.Clear(0xFF000000u, 1.0f);
    canvas.Draw(kScreenFvf, D3DPT_TRIANGLESTRIP, 2, nearQuad);
    canvas.Draw(kScreenFvf, D3DPT_TRIANGLESTRIP, 2, farQuad);
    EXPECT_EQ(canvas.Pixel(2, 2), farColour);
    for (std::uint32_t word : canvas.DepthWords(2)) EXPECT_EQ(word, 0xFFFFu);
    // ZENABLE off: no test.
    d->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    canvas.Draw(kScreenFvf, D3DPT_TRIANGLESTRIP, 2, Quad(0, 0, 4, 4, 0xFF0000FFu, 2.0f));
    EXPECT_EQ(canvas.Pixel(2, 2), 0xFF0000FFu);
}

TEST(D3d9Depth, DepthIsStoredAndComparedInTheFormatsIntegerRange) {
    struct Format {
        D3DFORMAT format;
        int bytes;
        double scale;  // largest depth value
        int shift;
    };
    for (Format f : {Format{D3DFMT_D16, 2, 65535.0, 0}, Format{D3DFMT_D24S8, 4, 16777215.0, 8},
                     Format{D3DFMT_D32, 4, 4294967295.0, 0}}) {
        Canvas canvas(4, 4, f.format);
        IDirect3DDevice9* d = canvas.Device();
        d->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
        canvas.Clear(0xFF000000u, 1.0f);
        // Two depths a few millionths apart fall into one 16-bit step but not into one 32-bit step:
        // under LESS the second, nearer surface is drawn only where the format tells them apart.
        const float first = 0.400003f, second = 0.4f;
        canvas.Draw(kScreenFvf, D3DPT_TRIANGLESTRIP, 2, Quad(0, 0, 4, 4, 0xFF00FF00u, first));
        canvas.Draw(kScreenFvf, D3DPT_TRIANGLESTRIP, 2, Quad(0, 0, 4, 4, 0xFFFF0000u, second));
        auto quantise = [&](float z) {
            return static_cast<std::uint64_t>(std::floor(static_cast<double>(z) * f.scale + 0.5));
        };
        bool distinct = quantise(second) < quantise(first);
        EXPECT_EQ(distinct, f.bytes == 4) << "format " << f.format;
        EXPECT_EQ(canvas.Pixel(1, 1), distinct ? 0xFFFF0000u : 0xFF00FF00u) << "format " << f.format;
        std::uint64_t expected = quantise(distinct ? second : first);
        for (std::uint32_t word : canvas.DepthWords(f.bytes)) {
            EXPECT_EQ(word >> f.shift, expected) << "format " << f.format;
        }
    }
}

TEST(D3d9Stencil, ReplaceThenTestEqualMasksTheSecondDraw) {
    Canvas canvas(8, 4, D3DFMT_D24S8);
    IDirect3DDevice9* d = canvas.Device();
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_STENCIL, 0xFF000000u, 1.0f, 0);
    d->SetRenderState(D3DRS_STENCILENABLE, TRUE);
    d->SetRenderState(D3DRS_STENCILREF, 5);
    d->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_REPLACE);
    d->SetRenderState(D3DRS_COLORWRITEENABLE, 0);
    canvas.Draw(kScreenFvf, D3DPT_TRIANGLESTRIP, 2, Quad(0, 0, 4, 4, 0xFFFFFFFFu));  // marks the left half
    d->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    d->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_EQUAL);
    d->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_INCR);
    d->SetRenderState(D3DRS_STENCILFAIL, D3DSTENCILOP_DECR);
    canvas.Draw(kScreenFvf, D3DPT_TRIANGLESTRIP, 2, Quad(0, 0, 8, 4, 0xFF00FF00u));
    std::vector<std::uint32_t> words = canvas.DepthWords(4);
    for (int x = 0; x < 8; ++x) {
        EXPECT_EQ(canvas.Pixel(x, 2), x < 4 ? 0xFF00FF00u : 0xFF000000u) << x;
        // Passed: 5 + 1; failed: 0 - 1 wraps to 255.
        EXPECT_EQ(words[static_cast<std::size_t>(2 * 8 + x)] & 0xFF, x < 4 ? 6u : 255u) << x;
    }
}

}  // namespace
