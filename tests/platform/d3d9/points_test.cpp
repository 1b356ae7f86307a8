// points_test.cpp: point lists drawn as squares of the point size centred on the vertex, covering
// pixels by the fill rule: size 1 and 8, per-vertex sizes, POINTSIZE_MIN/MAX clamping, and point
// scaling with distance (size = viewport height * size * sqrt(1 / (A + B d + C d^2))).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/platform/d3d9/raster_test_support.h"

namespace {

using rastertest::Canvas;
using rastertest::ColourVertex;
using rastertest::FloatBits;
using rastertest::kColourFvf;
using rastertest::kScreenFvf;
using rastertest::ScreenVertex;

// Every pixel: `inside` within [x0, x1) x [y0, y1), black elsewhere.
void ExpectSquare(const Canvas& canvas, double x0, double y0, double x1, double y1, std::uint32_t inside,
                  const char* what) {
    std::vector<std::uint32_t> pixels = canvas.Pixels();
    for (int y = 0; y < canvas.Height(); ++y) {
        for (int x = 0; x < canvas.Width(); ++x) {
            bool in = x >= x0 && x < x1 && y >= y0 && y < y1;
            ASSERT_EQ(pixels[static_cast<std::size_t>(y * canvas.Width() + x)], in ? inside : 0xFF000000u)
                << what << " pixel " << x << "," << y;
        }
    }
}

TEST(D3d9Points, SizesOneAndEightCoverSquaresAroundTheVertex) {
    Canvas canvas(16, 16);
    IDirect3DDevice9* d = canvas.Device();
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    const D3DCOLOR c = 0xFFFFFF00u;
    std::vector<ScreenVertex> point = {{5, 7, 0, 1, c, 0}};
    canvas.Clear(0xFF000000u);
    ASSERT_EQ(canvas.Draw(kScreenFvf, D3DPT_POINTLIST, 1, point), D3D_OK);
    ExpectSquare(canvas, 5, 7, 6, 8, c, "size 1");

    d->SetRenderState(D3DRS_POINTSIZE, FloatBits(8.0f));
    canvas.Clear(0xFF000000u);
    canvas.Draw(kScreenFvf, D3DPT_POINTLIST, 1, point);
    ExpectSquare(canvas, 1, 3, 9, 11, c, "size 8");

    // Between pixel centres: a size-8 point at (10.5, 8.5) covers centres 7..14 and 5..12.
    point[0].x = 10.5f;
    point[0].y = 8.5f;
    canvas.Clear(0xFF000000u);
    canvas.Draw(kScreenFvf, D3DPT_POINTLIST, 1, point);
    ExpectSquare(canvas, 7, 5, 15, 13, c, "size 8 off centre");

    // The size is clamped to [POINTSIZE_MIN, POINTSIZE_MAX].
    point[0].x = 8;
    point[0].y = 8;
    d->SetRenderState(D3DRS_POINTSIZE_MAX, FloatBits(4.0f));
    canvas.Clear(0xFF000000u);
    canvas.Draw(kScreenFvf, D3DPT_POINTLIST, 1, point);
    ExpectSquare(canvas, 6, 6, 10, 10, c, "clamped to 4");
    d->SetRenderState(D3DRS_POINTSIZE, FloatBits(0.5f));
    d->SetRenderState(D3DRS_POINTSIZE_MIN, FloatBits(2.0f));
    canvas.Clear(0xFF000000u);
    canvas.Draw(kScreenFvf, D3DPT_POINTLIST, 1, point);
    ExpectSquare(canvas, 7, 7, 9, 9, c, "raised to 2");
}

TEST(D3d9Points, PerVertexSizesAndScalingWithDistance) {
    Canvas canvas(16, 16);
    IDirect3DDevice9* d = canvas.Device();
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    const D3DCOLOR c = 0xFF00FFFFu;
    // Per-vertex sizes replace POINTSIZE.
    struct SizedVertex {
        float x, y, z, rhw, size;
        D3DCOLOR colour;
    };
    std::vector<SizedVertex> sized = {{4, 4, 0, 1, 2.0f, c}, {12, 11, 0, 1, 6.0f, c}};
    canvas.Clear(0xFF000000u);
    ASSERT_EQ(canvas.Draw(D3DFVF_XYZRHW | D3DFVF_PSIZE | D3DFVF_DIFFUSE, D3DPT_POINTLIST, 2, sized), D3D_OK);
    std::vector<std::uint32_t> pixels = canvas.Pixels();
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            bool in = (x >= 3 && x < 5 && y >= 3 && y < 5) || (x >= 9 && x < 15 && y >= 8 && y < 14);
            EXPECT_EQ(pixels[static_cast<std::size_t>(y * 16 + x)], in ? c : 0xFF000000u) << x << "," << y;
        }
    }

    // Scaling: with identity transforms a vertex at (0, 0, 0.5) is 0.5 from the eye and lands on
    // pixel centre (8, 8) of the 16-pixel-high viewport.
    d->SetRenderState(D3DRS_POINTSCALEENABLE, TRUE);
    std::vector<ColourVertex> centre = {{0, 0, 0.5f, c}};
    struct Scale {
        float size, a, b, c;
    };
    for (Scale s : {Scale{0.5f, 1, 0, 0}, Scale{0.25f, 0, 0, 4}, Scale{1.0f, 0, 8, 0}, Scale{0.25f, 0.5f, 1, 1}}) {
        d->SetRenderState(D3DRS_POINTSIZE, FloatBits(s.size));
        d->SetRenderState(D3DRS_POINTSCALE_A, FloatBits(s.a));
        d->SetRenderState(D3DRS_POINTSCALE_B, FloatBits(s.b));
        d->SetRenderState(D3DRS_POINTSCALE_C, FloatBits(s.c));
        double distance = 0.5;
        double size = 16.0 * s.size * std::sqrt(1.0 / (s.a + s.b * distance + s.c * distance * distance));
        double half = size / 2;
        canvas.Clear(0xFF000000u);
        ASSERT_EQ(canvas.Draw(kColourFvf, D3DPT_POINTLIST, 1, centre), D3D_OK);
        // Covered centres: 8 - half <= x < 8 + half.
        ExpectSquare(canvas, std::ceil(8 - half), std::ceil(8 - half), std::ceil(8 + half), std::ceil(8 + half), c,
                     "scaled");
    }
}

}  // namespace
