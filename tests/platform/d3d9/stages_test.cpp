// stages_test.cpp: the texture-stage cascade: every colour and alpha operation on known arguments
// (texture factor, diffuse, specular, current; an unbound texture reads opaque white), argument
// modifiers, a second stage reading the first, results to temp, the specular add, and fog.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "tests/platform/d3d9/raster_test_support.h"

namespace {

using rastertest::Canvas;
using rastertest::Channel;
using rastertest::kScreenFvf;
using rastertest::Quad;

constexpr D3DCOLOR kDiffuse = D3DCOLOR_ARGB(0x40, 0x30, 0x90, 0xE0);
constexpr D3DCOLOR kSpecular = D3DCOLOR_ARGB(0x00, 0x20, 0x10, 0x50);
constexpr D3DCOLOR kFactor = D3DCOLOR_ARGB(0xB0, 0xC0, 0x60, 0x20);

struct Rgba {
    double c[4];
};
Rgba FromArgb(D3DCOLOR v) {
    return {{((v >> 16) & 0xFF) / 255.0, ((v >> 8) & 0xFF) / 255.0, (v & 0xFF) / 255.0, (v >> 24) / 255.0}};
}

class Stages : public ::testing::Test {
protected:
    Stages() : canvas_(4, 4, D3DFMT_D16, D3DFMT_A8R8G8B8) {
        IDirect3DDevice9* d = canvas_.Device();
        d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
        d->SetRenderState(D3DRS_TEXTUREFACTOR, kFactor);
    }
    std::uint32_t Draw() {
        canvas_.Clear(0);
        EXPECT_EQ(canvas_.Draw(kScreenFvf, D3DPT_TRIANGLESTRIP, 2, Quad(0, 0, 4, 4, kDiffuse, 0.5f, kSpecular)), D3D_OK);
        return canvas_.Pixel(2, 1);
    }
    static void Expect(std::uint32_t pixel, const double rgba[4], const std::string& what) {
        const int channel[4] = {2, 1, 0, 3};
        for (int i = 0; i < 4; ++i) {
            EXPECT_NEAR(Channel(pixel, channel[i]), 255.0 * std::clamp(rgba[i], 0.0, 1.0), 1.0)
                << what << " channel " << i << " of " << std::hex << pixel;
        }
    }
    Canvas canvas_;
};

TEST_F(Stages, EveryOperationCombinesItsArgumentsAsDefined) {
    IDirect3DDevice9* d = canvas_.Device();
    const Rgba t = FromArgb(kFactor), df = FromArgb(kDiffuse), sp = FromArgb(kSpecular);
    // Arg1 = texture factor, Arg2 = diffuse, Arg0 = specular, for colour and alpha alike.
    for (DWORD type : {D3DTSS_COLORARG1, D3DTSS_ALPHAARG1}) d->SetTextureStageState(0, static_cast<D3DTEXTURESTAGESTATETYPE>(type), D3DTA_TFACTOR);
    for (DWORD type : {D3DTSS_COLORARG2, D3DTSS_ALPHAARG2}) d->SetTextureStageState(0, static_cast<D3DTEXTURESTAGESTATETYPE>(type), D3DTA_DIFFUSE);
    for (DWORD type : {D3DTSS_COLORARG0, D3DTSS_ALPHAARG0}) d->SetTextureStageState(0, static_cast<D3DTEXTURESTAGESTATETYPE>(type), D3DTA_SPECULAR);
    struct Op {
        D3DTEXTUREOP op;
        std::function<double(int)> value;  // by channel 0-3 (R, G, B, A)
    };
    auto a1 = [&](int c) { return t.c[c]; };
    auto a2 = [&](int c) { return df.c[c]; };
    auto a0 = [&](int c) { return sp.c[c]; };
    const std::vector<Op> ops = {
        {D3DTOP_SELECTARG1, a1},
        {D3DTOP_SELECTARG2, a2},
        {D3DTOP_MODULATE, [&](int c) { return a1(c) * a2(c); }},
        {D3DTOP_MODULATE2X, [&](int c) { return 2 * a1(c) * a2(c); }},
        {D3DTOP_MODULATE4X, [&](int c) { return 4 * a1(c) * a2(c); }},
        {D3DTOP_ADD, [&](int c) { return a1(c) + a2(c); }},
        {D3DTOP_ADDSIGNED, [&](int c) { return a1(c) + a2(c) - 0.5; }},
        {D3DTOP_ADDSIGNED2X, [&](int c) { return 2 * (a1(c) + a2(c) - 0.5); }},
        {D3DTOP_SUBTRACT, [&](int c) { return a1(c) - a2(c); }},
        {D3DTOP_ADDSMOOTH, [&](int c) { return a1(c) + a2(c) - a1(c) * a2(c); }},
        {D3DTOP_BLENDDIFFUSEALPHA, [&](int c) { return a1(c) * df.c[3] + a2(c) * (1 - df.c[3]); }},
        {D3DTOP_BLENDTEXTUREALPHA, [&](int c) { return a1(c); }},  // no texture: alpha 1
        {D3DTOP_BLENDFACTORALPHA, [&](int c) { return a1(c) * t.c[3] + a2(c) * (1 - t.c[3]); }},
        {D3DTOP_BLENDCURRENTALPHA, [&](int c) { return a1(c) * df.c[3] + a2(c) * (1 - df.c[3]); }},
        {D3DTOP_MULTIPLYADD, [&](int c) { return a0(c) + a1(c) * a2(c); }},
        {D3DTOP_LERP, [&](int c) { return a0(c) * a1(c) + (1 - a0(c)) * a2(c); }},
    };
    for (const Op& op : ops) {
        d->SetTextureStageState(0, D3DTSS_COLOROP, op.op);
        d->SetTextureStageState(0, D3DTSS_ALPHAOP, op.op);
        double expected[4] = {op.value(0), op.value(1), op.value(2), op.value(3)};
        Expect(Draw(), expected, "op " + std::to_string(op.op));
    }
    // DOTPRODUCT3 puts 4 * sum((a1 - 0.5)(a2 - 0.5)) in every channel.
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DOTPRODUCT3);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
    double dot = 0;
    for (int c = 0; c < 3; ++c) dot += (t.c[c] - 0.5) * (df.c[c] - 0.5);
    dot = std::clamp(4 * dot, 0.0, 1.0);
    double expected[4] = {dot, dot, dot, df.c[3]};
    Expect(Draw(), expected, "dotproduct3");
    // Stage 0 disabled: the diffuse colour as it is.
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
    EXPECT_EQ(Draw(), kDiffuse);
}

TEST_F(Stages, ModifiersSecondStagesTempAndSpecularAdd) {
    IDirect3DDevice9* d = canvas_.Device();
    const Rgba t = FromArgb(kFactor), df = FromArgb(kDiffuse), sp = FromArgb(kSpecular);
    // Stage 0: complement of the factor times the diffuse alpha replicated; alpha from diffuse.
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR | D3DTA_COMPLEMENT);
    d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE | D3DTA_ALPHAREPLICATE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    // Stage 1: current plus specular; alpha operation disabled, so alpha passes through.
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD);
    d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
    d->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_SPECULAR);
    double stage0[3], expected[4];
    for (int c = 0; c < 3; ++c) {
        stage0[c] = (1 - t.c[c]) * df.c[3];
        expected[c] = stage0[c] + sp.c[c];
    }
    expected[3] = df.c[3];
    Expect(Draw(), expected, "two stages");

    // Stage 1 writing to temp leaves current (stage 0's result) as the output; a third stage reads temp.
    d->SetTextureStageState(1, D3DTSS_RESULTARG, D3DTA_TEMP);
    double kept[4] = {stage0[0], stage0[1], stage0[2], df.c[3]};
    Expect(Draw(), kept, "result to temp");
    d->SetTextureStageState(2, D3DTSS_COLOROP, D3DTOP_SUBTRACT);
    d->SetTextureStageState(2, D3DTSS_COLORARG1, D3DTA_TEMP);
    d->SetTextureStageState(2, D3DTSS_COLORARG2, D3DTA_CURRENT);
    double difference[4] = {sp.c[0], sp.c[1], sp.c[2], df.c[3]};  // (stage0 + specular) - stage0
    Expect(Draw(), difference, "temp read back");
    d->SetTextureStageState(2, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);

    // SPECULARENABLE adds the specular colour after the stages.
    d->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    double added[4] = {stage0[0] + sp.c[0], stage0[1] + sp.c[1], stage0[2] + sp.c[2], df.c[3]};
    Expect(Draw(), added, "specular add");
}

}  // namespace

namespace {

using rastertest::ColourVertex;
using rastertest::FloatBits;
using rastertest::kColourFvf;

// Fog mixes f * colour + (1 - f) * fog colour, f from the vertex (its specular alpha, or computed
// from camera depth or distance) or per pixel from depth or w.
class Fog : public ::testing::Test {
protected:
    Fog() : canvas_(8, 8) {
        IDirect3DDevice9* d = canvas_.Device();
        d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
        d->SetRenderState(D3DRS_LIGHTING, FALSE);
        d->SetRenderState(D3DRS_FOGENABLE, TRUE);
        d->SetRenderState(D3DRS_FOGCOLOR, kFogColour);
    }
    void ExpectFogged(std::uint32_t pixel, double f, const std::string& what) {
        const Rgba c = FromArgb(kColour), fog = FromArgb(kFogColour);
        const int channel[3] = {2, 1, 0};
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(Channel(pixel, channel[i]), 255.0 * (f * c.c[i] + (1 - f) * fog.c[i]), 1.0)
                << what << " channel " << i << " of " << std::hex << pixel;
        }
    }
    std::uint32_t DrawQuad(float z, float rhw, D3DCOLOR specular) {
        canvas_.Clear(0xFF000000u);
        std::vector<rastertest::ScreenVertex> quad = Quad(0, 0, 8, 8, kColour, z, specular);
        for (auto& v : quad) v.rhw = rhw;
        EXPECT_EQ(canvas_.Draw(kScreenFvf, D3DPT_TRIANGLESTRIP, 2, quad), D3D_OK);
        return canvas_.Pixel(3, 5);
    }
    static constexpr D3DCOLOR kColour = D3DCOLOR_ARGB(0xFF, 0x80, 0x40, 0xC0);
    static constexpr D3DCOLOR kFogColour = D3DCOLOR_ARGB(0x00, 0x00, 0xFF, 0x20);
    Canvas canvas_;
};

TEST_F(Fog, FromTheVertexSpecularAlphaAndPerPixelFromDepthOrW) {
    IDirect3DDevice9* d = canvas_.Device();
    ExpectFogged(DrawQuad(0.5f, 1.0f, D3DCOLOR_ARGB(0x40, 0, 0, 0)), 0x40 / 255.0, "vertex factor");
    d->SetRenderState(D3DRS_FOGSTART, FloatBits(0.25f));
    d->SetRenderState(D3DRS_FOGEND, FloatBits(0.75f));
    d->SetRenderState(D3DRS_FOGDENSITY, FloatBits(3.0f));
    // With the default (non-perspective) projection, table fog follows depth: z = 0.5.
    d->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
    ExpectFogged(DrawQuad(0.5f, 1.0f, 0), 0.5, "linear");
    d->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_EXP);
    ExpectFogged(DrawQuad(0.5f, 1.0f, 0), std::exp(-1.5), "exp");
    d->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_EXP2);
    ExpectFogged(DrawQuad(0.5f, 1.0f, 0), std::exp(-2.25), "exp2");
    // Under a perspective projection it follows w = 1 / rhw = 2 instead.
    D3DMATRIX perspective{};
    perspective._11 = perspective._22 = perspective._33 = perspective._34 = 1.0f;
    d->SetTransform(D3DTS_PROJECTION, &perspective);
    d->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
    d->SetRenderState(D3DRS_FOGSTART, FloatBits(0.0f));
    d->SetRenderState(D3DRS_FOGEND, FloatBits(4.0f));
    ExpectFogged(DrawQuad(0.9f, 0.5f, 0), 0.5, "linear in w");
}

TEST_F(Fog, VertexFogFromCameraDepthOrRange) {
    IDirect3DDevice9* d = canvas_.Device();
    d->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
    d->SetRenderState(D3DRS_FOGSTART, FloatBits(0.0f));
    d->SetRenderState(D3DRS_FOGEND, FloatBits(2.0f));
    // A point at camera (0.25, 0, 0.4) lands on pixel (5, 4); its depth is 0.4, its distance 0.472.
    std::vector<ColourVertex> point = {{0.25f, 0, 0.4f, kColour}};
    canvas_.Clear(0xFF000000u);
    ASSERT_EQ(canvas_.Draw(kColourFvf, D3DPT_POINTLIST, 1, point), D3D_OK);
    ExpectFogged(canvas_.Pixel(5, 4), (2 - 0.4) / 2, "depth");
    d->SetRenderState(D3DRS_RANGEFOGENABLE, TRUE);
    canvas_.Clear(0xFF000000u);
    canvas_.Draw(kColourFvf, D3DPT_POINTLIST, 1, point);
    ExpectFogged(canvas_.Pixel(5, 4), (2 - std::sqrt(0.25 * 0.25 + 0.4 * 0.4)) / 2, "range");
}

}  // namespace
