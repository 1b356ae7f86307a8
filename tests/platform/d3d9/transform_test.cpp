// transform_test.cpp: world, view and projection, the viewport with its depth range, vertex
// blending (weights with the last one implied, and indexed matrices), and the fill modes and
// strips that reuse vertices.
#include <gtest/gtest.h>

#include <vector>

#include "tests/platform/d3d9/raster_test_support.h"

namespace {

using rastertest::Canvas;
using rastertest::ColourVertex;
using rastertest::kColourFvf;
using rastertest::kScreenFvf;
using rastertest::ScreenVertex;

D3DMATRIX Translation(float x, float y, float z) {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    m._41 = x;
    m._42 = y;
    m._43 = z;
    return m;
}

// The single lit (not black) pixel of a cleared target, or (-1, -1).
std::pair<int, int> LitPixel(const Canvas& canvas) {
    std::vector<std::uint32_t> pixels = canvas.Pixels();
    std::pair<int, int> found{-1, -1};
    for (int y = 0; y < canvas.Height(); ++y) {
        for (int x = 0; x < canvas.Width(); ++x) {
            if ((pixels[static_cast<std::size_t>(y * canvas.Width() + x)] & 0xFFFFFFu) != 0) {
                EXPECT_EQ(found.first, -1) << "more than one pixel lit";
                found = {x, y};
            }
        }
    }
    return found;
}

TEST(D3d9Transform, WorldViewProjectionAndTheViewportPlaceVertices) {
    Canvas canvas(16, 8);
    IDirect3DDevice9* d = canvas.Device();
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    D3DMATRIX world = Translation(0.25f, 0, 0), view = Translation(0, -0.5f, 0.25f), projection{};
    projection._11 = 2.0f;  // x doubled
    projection._22 = 1.0f;
    projection._33 = 1.0f;
    projection._44 = 1.0f;
    d->SetTransform(D3DTS_WORLD, &world);
    d->SetTransform(D3DTS_VIEW, &view);
    d->SetTransform(D3DTS_PROJECTION, &projection);
    // Viewport x 4..12, y 2..6, depth 0.2..0.6.
    D3DVIEWPORT9 vp{4, 2, 8, 4, 0.2f, 0.6f};
    ASSERT_EQ(d->SetViewport(&vp), D3D_OK);
    canvas.Clear(0xFF000000u);
    // (0, 1, 0.25) -> world (0.25, 1, 0.25) -> view (0.25, 0.5, 0.5) -> clip (0.5, 0.5, 0.5, 1)
    // -> screen x = 4 + 1.5 * 4 = 10, y = 2 + 0.5 * 2 = 3, depth 0.2 + 0.5 * 0.4 = 0.4.
    std::vector<ColourVertex> point = {{0, 1, 0.25f, 0xFFFFFFFFu}};
    ASSERT_EQ(canvas.Draw(kColourFvf, D3DPT_POINTLIST, 1, point), D3D_OK);
    EXPECT_EQ(LitPixel(canvas), std::make_pair(10, 3));
    EXPECT_EQ(canvas.DepthWords(2)[3 * 16 + 10], 26214u);  // 0.4 * 65535, rounded
    // Points outside the viewport are not drawn even inside the target.
    canvas.Clear(0xFF000000u);
    point[0].x = 0.5f;  // screen x = 4 + 2 * 4 = 12: the first column outside
    canvas.Draw(kColourFvf, D3DPT_POINTLIST, 1, point);
    EXPECT_EQ(LitPixel(canvas), std::make_pair(-1, -1));

    // A transform changed before a draw into an empty viewport still applies to the next draw.
    D3DVIEWPORT9 empty{0, 0, 0, 0, 0.0f, 1.0f}, whole{0, 0, 16, 8, 0.0f, 1.0f};
    D3DMATRIX identity = Translation(0, 0, 0);
    d->SetTransform(D3DTS_WORLD, &identity);
    d->SetTransform(D3DTS_VIEW, &identity);
    d->SetTransform(D3DTS_PROJECTION, &identity);
    ASSERT_EQ(d->SetViewport(&empty), D3D_OK);
    point[0] = ColourVertex{0, 0, 0.5f, 0xFFFFFFFFu};
    ASSERT_EQ(canvas.Draw(kColourFvf, D3DPT_POINTLIST, 1, point), D3D_OK);
    d->SetViewport(&whole);
    canvas.Clear(0xFF000000u);
    d->BeginScene();  // drawn directly: Canvas::Draw would set the vertex format again
    ASSERT_EQ(d->DrawPrimitiveUP(D3DPT_POINTLIST, 1, point.data(), sizeof(ColourVertex)), D3D_OK);
    d->EndScene();
    EXPECT_EQ(LitPixel(canvas), std::make_pair(8, 4));
}

TEST(D3d9Transform, VertexBlendingMixesWorldMatrices) {
    Canvas canvas(8, 8);
    IDirect3DDevice9* d = canvas.Device();
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    D3DMATRIX right = Translation(0.5f, 0, 0), left = Translation(-0.5f, 0, 0);
    d->SetTransform(D3DTS_WORLDMATRIX(0), &right);
    d->SetTransform(D3DTS_WORLDMATRIX(1), &left);
    struct Weighted {
        float x, y, z, weight;
        D3DCOLOR colour;
    };
    // x = 0.25 * (0.25 + 0.5) + 0.75 * (0.25 - 0.5) = 0: pixel column 4. Unblended, world 0 only:
    // x = 0.75, column 7.
    std::vector<Weighted> point = {{0.25f, 0, 0.5f, 0.25f, 0xFFFFFFFFu}};
    const DWORD fvf = D3DFVF_XYZB1 | D3DFVF_DIFFUSE;
    canvas.Clear(0xFF000000u);
    canvas.Draw(fvf, D3DPT_POINTLIST, 1, point);
    EXPECT_EQ(LitPixel(canvas), std::make_pair(7, 4));
    d->SetRenderState(D3DRS_VERTEXBLEND, D3DVBF_1WEIGHTS);
    canvas.Clear(0xFF000000u);
    canvas.Draw(fvf, D3DPT_POINTLIST, 1, point);
    EXPECT_EQ(LitPixel(canvas), std::make_pair(4, 4));

    // Indexed: the weight goes to matrix indices[0], the rest to indices[1].
    D3DMATRIX up = Translation(0, 0.5f, 0), down = Translation(0, -0.25f, 0);
    d->SetTransform(D3DTS_WORLDMATRIX(5), &up);
    d->SetTransform(D3DTS_WORLDMATRIX(9), &down);
    d->SetRenderState(D3DRS_INDEXEDVERTEXBLENDENABLE, TRUE);
    struct Indexed {
        float x, y, z, weight;
        std::uint8_t indices[4];
        D3DCOLOR colour;
    };
    // Weight 2/3 on matrix 5 (up 0.5) and 1/3 on matrix 9 (down 0.25): y = 1/3 - 1/12 = 0.25, which
    // lands on row (1 - 0.25) * 4 = 3.
    std::vector<Indexed> indexed = {{0, 0, 0.5f, 2.0f / 3.0f, {5, 9, 0, 0}, 0xFFFFFFFFu}};
    canvas.Clear(0xFF000000u);
    ASSERT_EQ(canvas.Draw(D3DFVF_XYZB2 | D3DFVF_LASTBETA_UBYTE4 | D3DFVF_DIFFUSE, D3DPT_POINTLIST, 1, indexed), D3D_OK);
    EXPECT_EQ(LitPixel(canvas), std::make_pair(4, 3));
}

TEST(D3d9Transform, FillModesStripsAndFans) {
    Canvas canvas(8, 8);
    IDirect3DDevice9* d = canvas.Device();
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    const D3DCOLOR c = 0xFFFFFFFFu;
    std::vector<ScreenVertex> tri = {{1, 1, 0, 1, c, 0}, {6, 1, 0, 1, c, 0}, {1, 6, 0, 1, c, 0}};
    // Wireframe: the three edges as lines (the hypotenuse from (6, 1) to (1, 6) included).
    d->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
    canvas.Clear(0xFF000000u);
    canvas.Draw(kScreenFvf, D3DPT_TRIANGLELIST, 1, tri);
    EXPECT_EQ(canvas.Pixel(3, 1), c);   // top edge
    EXPECT_EQ(canvas.Pixel(1, 3), c);   // left edge
    EXPECT_EQ(canvas.Pixel(4, 3), c);   // hypotenuse
    EXPECT_EQ(canvas.Pixel(2, 2), 0xFF000000u);  // inside stays empty
    // Point fill: the corners only.
    d->SetRenderState(D3DRS_FILLMODE, D3DFILL_POINT);
    canvas.Clear(0xFF000000u);
    canvas.Draw(kScreenFvf, D3DPT_TRIANGLELIST, 1, tri);
    std::vector<std::uint32_t> pixels = canvas.Pixels();
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            bool corner = (x == 1 && y == 1) || (x == 6 && y == 1) || (x == 1 && y == 6);
            EXPECT_EQ(pixels[static_cast<std::size_t>(y * 8 + x)], corner ? c : 0xFF000000u) << x << "," << y;
        }
    }
    d->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);

    // A line strip draws each shared vertex once (additive blending would show a second visit).
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    const D3DCOLOR grey = 0xFF202020u;
    std::vector<ScreenVertex> strip = {{1, 1, 0, 1, grey, 0}, {6, 1, 0, 1, grey, 0}, {6, 6, 0, 1, grey, 0}};
    canvas.Clear(0xFF000000u);
    canvas.Draw(kScreenFvf, D3DPT_LINESTRIP, 2, strip);
    EXPECT_EQ(canvas.Pixel(6, 1), grey);
    EXPECT_EQ(canvas.Pixel(6, 6), grey);  // the last pixel (LASTPIXEL is on by default)
    EXPECT_EQ(canvas.Pixel(3, 1), grey);
    EXPECT_EQ(canvas.Pixel(6, 3), grey);

    // Flat-shaded strips take each triangle's first vertex; fans their second.
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    d->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    const D3DCOLOR red = 0xFFFF0000u, green = 0xFF00FF00u, blue = 0xFF0000FFu, white = 0xFFFFFFFFu;
    std::vector<ScreenVertex> quad = {{0, 0, 0, 1, red, 0}, {8, 0, 0, 1, green, 0}, {0, 8, 0, 1, blue, 0},
                                      {8, 8, 0, 1, white, 0}};
    canvas.Clear(0xFF000000u);
    canvas.Draw(kScreenFvf, D3DPT_TRIANGLESTRIP, 2, quad);
    EXPECT_EQ(canvas.Pixel(1, 1), red);    // triangle (0, 1, 2)
    EXPECT_EQ(canvas.Pixel(6, 6), green);  // triangle (1, 2, 3) starts with vertex 1
    std::vector<ScreenVertex> fan = {{4, 4, 0, 1, white, 0}, {0, 0, 0, 1, red, 0}, {8, 0, 0, 1, green, 0},
                                     {8, 8, 0, 1, blue, 0}};
    canvas.Clear(0xFF000000u);
    canvas.Draw(kScreenFvf, D3DPT_TRIANGLEFAN, 2, fan);
    EXPECT_EQ(canvas.Pixel(4, 1), red);    // triangle (0, 1, 2), led by vertex 1
    EXPECT_EQ(canvas.Pixel(6, 4), green);  // triangle (0, 2, 3), led by vertex 2
}

}  // namespace
