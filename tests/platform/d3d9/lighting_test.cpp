// lighting_test.cpp: the fixed-function lighting equations, one term at a time, checked on single
// lit points (one pixel each, so the pixel holds exactly the vertex's lit colour) against values
// worked out by hand: directional light at 60 degrees, point light attenuation terms and range, spot
// cones, specular with an infinite and a local viewer, ambient, material sources, normalisation.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/platform/d3d9/raster_test_support.h"

namespace {

using rastertest::Canvas;
using rastertest::Channel;
using rastertest::LitVertex;

const double kSin60 = std::sqrt(3.0) / 2.0;

D3DCOLORVALUE Colour(float r, float g, float b, float a = 1.0f) { return D3DCOLORVALUE{r, g, b, a}; }

// An 8 x 8 target with identity transforms: a vertex (x, y, z) lands on pixel ((1 + x) 4, (1 - y) 4).
class Lit : public ::testing::Test {
protected:
    Lit() : canvas_(8, 8) {
        IDirect3DDevice9* d = canvas_.Device();
        d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
        d->SetRenderState(D3DRS_LIGHTING, TRUE);
        material_.Diffuse = Colour(0.8f, 0.8f, 0.8f);
        d->SetMaterial(&material_);
    }

    void SetLight(const D3DLIGHT9& light) {
        canvas_.Device()->SetLight(0, &light);
        canvas_.Device()->LightEnable(0, TRUE);
    }

    // Draws one point with normal (0, 0, -1) (facing the camera) unless given, and returns its pixel.
    std::uint32_t Point(float x, float y, float z, float nx = 0, float ny = 0, float nz = -1) {
        canvas_.Clear(0xFF000000u);
        std::vector<LitVertex> v = {{x, y, z, nx, ny, nz}};
        EXPECT_EQ(canvas_.Draw(rastertest::kLitFvf, D3DPT_POINTLIST, 1, v), D3D_OK);
        return canvas_.Pixel(static_cast<int>(std::floor((1 + x) * 4 + 0.5)),
                             static_cast<int>(std::floor((1 - y) * 4 + 0.5)));
    }

    static void ExpectRgb(std::uint32_t pixel, double r, double g, double b) {
        EXPECT_NEAR(Channel(pixel, 2), 255.0 * std::min(r, 1.0), 1.0) << std::hex << pixel;
        EXPECT_NEAR(Channel(pixel, 1), 255.0 * std::min(g, 1.0), 1.0) << std::hex << pixel;
        EXPECT_NEAR(Channel(pixel, 0), 255.0 * std::min(b, 1.0), 1.0) << std::hex << pixel;
    }

    // A directional light whose direction makes 60 degrees with the normal (0, 0, -1).
    static D3DLIGHT9 Directional60(D3DCOLORVALUE diffuse) {
        D3DLIGHT9 light{};
        light.Type = D3DLIGHT_DIRECTIONAL;
        light.Diffuse = diffuse;
        light.Direction = D3DVECTOR{static_cast<float>(-kSin60), 0.0f, 0.5f};  // from the light
        return light;
    }

    Canvas canvas_;
    D3DMATERIAL9 material_{};
};

TEST_F(Lit, DirectionalLightAtSixtyDegreesGivesHalfTheDiffuse) {
    SetLight(Directional60(Colour(1.0f, 0.9f, 0.7f)));
    ExpectRgb(Point(0, 0, 0.5f), 0.8 * 0.5, 0.8 * 0.9 * 0.5, 0.8 * 0.7 * 0.5);
    // A normal twice as long doubles N.L unless NORMALIZENORMALS is on.
    ExpectRgb(Point(0, 0, 0.5f, 0, 0, -2), 0.8, 0.8 * 0.9, 0.8 * 0.7);
    canvas_.Device()->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
    ExpectRgb(Point(0, 0, 0.5f, 0, 0, -2), 0.4, 0.36, 0.28);
    // Facing away from the light: no diffuse at all.
    ExpectRgb(Point(0, 0, 0.5f, 0, 0, 1), 0, 0, 0);
    // Disabled, the light gives nothing.
    canvas_.Device()->LightEnable(0, FALSE);
    ExpectRgb(Point(0, 0, 0.5f), 0, 0, 0);
}

TEST_F(Lit, PointLightAttenuatesWithEachTermAndStopsAtItsRange) {
    // Vertex at (0, 0, 0.5), light at (0.3, 0, 0.1): distance 0.5, N.L = 0.4 / 0.5 = 0.8.
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_POINT;
    light.Diffuse = Colour(1, 1, 1);
    light.Position = D3DVECTOR{0.3f, 0.0f, 0.1f};
    light.Range = 10.0f;
    const double d = 0.5, nDotL = 0.8;
    struct Terms {
        float a0, a1, a2;
    };
    for (Terms t : {Terms{2, 0, 0}, Terms{0, 5, 0}, Terms{0, 0, 16}, Terms{1, 1, 1}}) {
        light.Attenuation0 = t.a0;
        light.Attenuation1 = t.a1;
        light.Attenuation2 = t.a2;
        SetLight(light);
        double attenuation = 1.0 / (t.a0 + t.a1 * d + t.a2 * d * d);
        double v = 0.8 * attenuation * nDotL;
        ExpectRgb(Point(0, 0, 0.5f), v, v, v);
    }
    light.Attenuation0 = 1;
    light.Attenuation1 = light.Attenuation2 = 0;
    light.Range = 0.49f;
    SetLight(light);
    ExpectRgb(Point(0, 0, 0.5f), 0, 0, 0);
    light.Range = 0.51f;
    SetLight(light);
    ExpectRgb(Point(0, 0, 0.5f), 0.64, 0.64, 0.64);
}

TEST_F(Lit, SpotLightIsFullInsideItsInnerConeFallsOffBetweenAndDarkOutside) {
    // Light at (0, 0, 0.1) pointing along +z; vertex at (0.3, 0, 0.5): the direction to the vertex is
    // (0.6, 0, 0.8), so cos(rho) = 0.8, and N.L = 0.8.
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_SPOT;
    light.Diffuse = Colour(1, 1, 1);
    light.Position = D3DVECTOR{0.0f, 0.0f, 0.1f};
    light.Direction = D3DVECTOR{0.0f, 0.0f, 1.0f};
    light.Range = 10.0f;
    light.Attenuation0 = 1.0f;
    light.Falloff = 2.0f;
    auto cone = [](double cosHalf) { return static_cast<float>(2.0 * std::acos(cosHalf)); };
    struct Case {
        double cosHalfTheta, cosHalfPhi, factor;
    };
    const Case cases[] = {
        {0.7, 0.5, 1.0},                                     // inside the inner cone
        {0.9, 0.6, std::pow((0.8 - 0.6) / (0.9 - 0.6), 2)},  // between the cones
        {0.95, 0.85, 0.0},                                   // outside the outer cone
    };
    for (const Case& c : cases) {
        light.Theta = cone(c.cosHalfTheta);
        light.Phi = cone(c.cosHalfPhi);
        SetLight(light);
        double v = 0.8 * 0.8 * c.factor;
        ExpectRgb(Point(0.3f, 0, 0.5f), v, v, v);
    }
}

TEST_F(Lit, SpecularUsesTheHalfVectorOfAnInfiniteOrLocalViewer) {
    IDirect3DDevice9* d = canvas_.Device();
    material_.Diffuse = Colour(0, 0, 0);
    material_.Specular = Colour(1, 1, 1);
    material_.Power = 4.0f;
    d->SetMaterial(&material_);
    D3DLIGHT9 light = Directional60(Colour(0, 0, 0));
    light.Specular = Colour(1.0f, 0.5f, 0.25f);
    SetLight(light);
    d->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    ExpectRgb(Point(0.3f, 0, 0.5f), 0, 0, 0);
    d->SetRenderState(D3DRS_SPECULARENABLE, TRUE);

    // Infinite viewer: H halves the angle between the light (60 degrees off -z) and -z, so N.H is
    // cos 30 degrees.
    d->SetRenderState(D3DRS_LOCALVIEWER, FALSE);
    double s = std::pow(kSin60, 4);
    ExpectRgb(Point(0.3f, 0, 0.5f), s, 0.5 * s, 0.25 * s);

    // Local viewer: the view vector runs from the vertex (0.3, 0, 0.5) to the camera at the origin.
    d->SetRenderState(D3DRS_LOCALVIEWER, TRUE);
    double toLight[3] = {kSin60, 0, -0.5};
    double length = std::sqrt(0.3 * 0.3 + 0.5 * 0.5);
    double half[3] = {toLight[0] - 0.3 / length, 0, toLight[2] - 0.5 / length};
    double nDotH = -half[2] / std::sqrt(half[0] * half[0] + half[2] * half[2]);
    double local = std::pow(nDotH, 4);
    ExpectRgb(Point(0.3f, 0, 0.5f), local, 0.5 * local, 0.25 * local);
    ASSERT_GT(std::fabs(local - s), 0.05);  // the two viewers really differ here
}

TEST_F(Lit, AmbientEmissiveAndMaterialSources) {
    IDirect3DDevice9* d = canvas_.Device();
    material_.Ambient = Colour(0.5f, 0.25f, 1.0f);
    material_.Emissive = Colour(0.1f, 0.0f, 0.0f);
    d->SetMaterial(&material_);
    D3DLIGHT9 light = Directional60(Colour(0, 0, 0));
    light.Ambient = Colour(0.2f, 0.2f, 0.2f);
    SetLight(light);
    d->SetRenderState(D3DRS_AMBIENT, D3DCOLOR_XRGB(0x66, 0x66, 0x66));  // 0.4
    // ambient = material ambient * (global + light ambient) + emissive.
    ExpectRgb(Point(0, 0, 0.5f), 0.5 * 0.6 + 0.1, 0.25 * 0.6, 1.0 * 0.6);
    // Facing away, the ambient terms stay.
    ExpectRgb(Point(0, 0, 0.5f, 0, 0, 1), 0.5 * 0.6 + 0.1, 0.25 * 0.6, 1.0 * 0.6);

    // Diffuse and ambient from the vertex colour.
    struct ColouredNormal {
        float x, y, z, nx, ny, nz;
        D3DCOLOR diffuse;
    };
    const DWORD fvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE;
    std::vector<ColouredNormal> v = {{0, 0, 0.5f, 0, 0, -1, D3DCOLOR_ARGB(0xFF, 0x33, 0x99, 0xCC)}};
    const double vr = 0x33 / 255.0, vg = 0x99 / 255.0, vb = 0xCC / 255.0;
    d->SetLight(0, &light);
    D3DLIGHT9 white = Directional60(Colour(1, 1, 1));
    d->SetLight(1, &white);
    d->LightEnable(1, TRUE);
    d->SetRenderState(D3DRS_AMBIENT, 0);
    d->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1);
    d->SetRenderState(D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_COLOR1);
    canvas_.Clear(0xFF000000u);
    canvas_.Draw(fvf, D3DPT_POINTLIST, 1, v);
    // ambient 0.2 (light 0) + diffuse 0.5 (light 1), both times the vertex colour, + emissive 0.1 red.
    ExpectRgb(canvas_.Pixel(4, 4), vr * 0.7 + 0.1, vg * 0.7, vb * 0.7);
    // COLORVERTEX off: the material again.
    d->SetRenderState(D3DRS_COLORVERTEX, FALSE);
    canvas_.Clear(0xFF000000u);
    canvas_.Draw(fvf, D3DPT_POINTLIST, 1, v);
    ExpectRgb(canvas_.Pixel(4, 4), 0.5 * 0.2 + 0.8 * 0.5 + 0.1, 0.25 * 0.2 + 0.4, 1.0 * 0.2 + 0.4);

    // Lighting off: the vertex colour as it is; a vertex without one is white.
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    canvas_.Clear(0xFF000000u);
    canvas_.Draw(fvf, D3DPT_POINTLIST, 1, v);
    EXPECT_EQ(canvas_.Pixel(4, 4), D3DCOLOR_ARGB(0xFF, 0x33, 0x99, 0xCC));
    EXPECT_EQ(Point(0, 0, 0.5f) & 0xFFFFFFu, 0xFFFFFFu);
}

}  // namespace
