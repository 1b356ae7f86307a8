// raster_test.cpp: coverage by the Direct3D 9 rasterisation rules (pixel centres at integer
// coordinates, top-left fill rule, shared edges drawn once), culling, Gouraud, flat and
// perspective-correct shading, lines, clipping against near and far, and draws that name vertices
// outside their buffers.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "tests/platform/d3d9/raster_test_support.h"

namespace {

using rastertest::Canvas;
using rastertest::Channel;
using rastertest::ColourVertex;
using rastertest::kColourFvf;
using rastertest::kScreenFvf;
using rastertest::Quad;
using rastertest::ScreenVertex;

// Additive blending of a dark grey: a pixel drawn once reads 0x10 in blue, twice 0x20.
void AddOnce(IDirect3DDevice9* device) {
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
}
constexpr D3DCOLOR kOnce = 0xFF101010u;

// The top-left rule for one pixel centre, worked out independently of the device: inside when
// every edge function is positive, or zero on a top edge (horizontal, interior below) or a left
// edge (interior to the right).
bool CoversCentre(const std::array<double, 6>& t, double px, double py) {
    double x[3] = {t[0], t[2], t[4]}, y[3] = {t[1], t[3], t[5]};
    double area = (x[1] - x[0]) * (y[2] - y[0]) - (x[2] - x[0]) * (y[1] - y[0]);
    if (area == 0.0) return false;
    if (area < 0.0) {
        std::swap(x[1], x[2]);
        std::swap(y[1], y[2]);
    }
    for (int i = 0; i < 3; ++i) {
        int j = (i + 1) % 3;
        double e = (x[j] - x[i]) * (py - y[i]) - (y[j] - y[i]) * (px - x[i]);
        bool top = y[j] == y[i] && x[j] > x[i];
        bool left = y[j] < y[i];
        if (e < 0.0 || (e == 0.0 && !top && !left)) return false;
    }
    return true;
}

TEST(D3d9Raster, PretransformedQuadCoversExactlyItsPixelRows) {
    Canvas canvas(10, 8);
    canvas.Clear(0xFF000000u);
    AddOnce(canvas.Device());
    // Edges on pixel centres: the left and top edges are in, the right and bottom edges out.
    ASSERT_EQ(canvas.Draw(kScreenFvf, D3DPT_TRIANGLESTRIP, 2, Quad(2.0f, 1.0f, 7.0f, 4.0f, kOnce)), D3D_OK);
    // Edges between centres: pixels 1..3 across, 5..6 down.
    ASSERT_EQ(canvas.Draw(kScreenFvf, D3DPT_TRIANGLESTRIP, 2, Quad(0.5f, 4.5f, 3.5f, 6.5f, kOnce)), D3D_OK);
    std::vector<std::uint32_t> pixels = canvas.Pixels();
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 10; ++x) {
            bool first = x >= 2 && x < 7 && y >= 1 && y < 4;
            bool second = x >= 1 && x <= 3 && y >= 5 && y <= 6;
            EXPECT_EQ(pixels[static_cast<std::size_t>(y * 10 + x)], first || second ? kOnce : 0xFF000000u)
                << "pixel " << x << "," << y;
        }
    }
}

TEST(D3d9Raster, TrianglesSharingEdgesDrawEveryPixelOnceByTheTopLeftRule) {
    Canvas canvas(16, 16);
    canvas.Clear(0xFF000000u);
    AddOnce(canvas.Device());
    // A fan around a centre on a pixel centre and spokes through pixel centres and half pixels, then
    // a fan around a centre between pixels: every pixel inside is covered by exactly one triangle.
    const std::vector<std::array<float, 2>> rims[2] = {
        {{1, 1}, {8, 0.5f}, {15, 1}, {15.5f, 8}, {15, 15}, {8, 15}, {1, 15}, {0.5f, 7.25f}, {1, 1}},
        {{2.5f, 3}, {12, 2}, {13.75f, 13.5f}, {3, 12}, {2.5f, 3}},
    };
    const std::array<float, 2> centres[2] = {{8, 8}, {7.5f, 7.25f}};
    for (int f = 0; f < 2; ++f) {
        canvas.Clear(0xFF000000u);
        std::vector<ScreenVertex> fan = {{centres[f][0], centres[f][1], 0.5f, 1.0f, kOnce, 0}};
        for (const auto& p : rims[f]) fan.push_back({p[0], p[1], 0.5f, 1.0f, kOnce, 0});
        UINT triangles = static_cast<UINT>(fan.size() - 2);
        ASSERT_EQ(canvas.Draw(kScreenFvf, D3DPT_TRIANGLEFAN, triangles, fan), D3D_OK);
        std::vector<std::uint32_t> pixels = canvas.Pixels();
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                int covered = 0;
                for (UINT t = 0; t < triangles; ++t) {
                    std::array<double, 6> tri = {fan[0].x, fan[0].y, fan[t + 1].x, fan[t + 1].y, fan[t + 2].x,
                                                 fan[t + 2].y};
                    covered += CoversCentre(tri, x, y) ? 1 : 0;
                }
                ASSERT_LE(covered, 1) << "the fan overlaps itself at " << x << "," << y;
                EXPECT_EQ(pixels[static_cast<std::size_t>(y * 16 + x)], covered ? kOnce : 0xFF000000u)
                    << "fan " << f << " pixel " << x << "," << y;
            }
        }
    }
}

TEST(D3d9Raster, CullModesDropTrianglesByScreenWinding) {
    Canvas canvas(8, 8);
    IDirect3DDevice9* device = canvas.Device();
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    const D3DCOLOR red = 0xFFFF0000u;
    std::vector<ScreenVertex> clockwise = {{0, 0, 0, 1, red, 0}, {8, 0, 0, 1, red, 0}, {0, 8, 0, 1, red, 0}};
    std::vector<ScreenVertex> counter = {clockwise[0], clockwise[2], clockwise[1]};
    struct Case {
        DWORD cull;
        bool clockwiseDrawn;
        bool counterDrawn;
    };
    for (Case c : {Case{D3DCULL_CCW, true, false}, Case{D3DCULL_CW, false, true}, Case{D3DCULL_NONE, true, true}}) {
        device->SetRenderState(D3DRS_CULLMODE, c.cull);
        canvas.Clear(0xFF000000u);
        canvas.Draw(kScreenFvf, D3DPT_TRIANGLELIST, 1, clockwise);
        EXPECT_EQ(canvas.Pixel(1, 1), c.clockwiseDrawn ? red : 0xFF000000u) << "cull " << c.cull;
        canvas.Clear(0xFF000000u);
        canvas.Draw(kScreenFvf, D3DPT_TRIANGLELIST, 1, counter);
        EXPECT_EQ(canvas.Pixel(1, 1), c.counterDrawn ? red : 0xFF000000u) << "cull " << c.cull;
    }
}

TEST(D3d9Raster, GouraudFlatAndPerspectiveCorrectColours) {
    Canvas canvas(16, 16);
    IDirect3DDevice9* device = canvas.Device();
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    // Red, green and blue corners; at a pixel centre each channel is its vertex's barycentric weight.
    const double vx[3] = {0, 16, 0}, vy[3] = {0, 0, 16};
    std::vector<ScreenVertex> tri = {{0, 0, 0, 1, 0xFFFF0000u, 0}, {16, 0, 0, 1, 0xFF00FF00u, 0},
                                     {0, 16, 0, 1, 0xFF0000FFu, 0}};
    auto weights = [&](double px, double py, double w[3]) {
        double area = (vx[1] - vx[0]) * (vy[2] - vy[0]) - (vx[2] - vx[0]) * (vy[1] - vy[0]);
        for (int i = 0; i < 3; ++i) {
            int j = (i + 1) % 3, k = (i + 2) % 3;
            w[i] = ((vx[k] - vx[j]) * (py - vy[j]) - (vy[k] - vy[j]) * (px - vx[j])) / area;
        }
    };
    const int samples[][2] = {{1, 1}, {5, 3}, {2, 9}, {7, 7}, {12, 2}};

    canvas.Clear(0xFF000000u);
    ASSERT_EQ(canvas.Draw(kScreenFvf, D3DPT_TRIANGLELIST, 1, tri), D3D_OK);
    for (const auto& s : samples) {
        double w[3];
        weights(s[0], s[1], w);
        std::uint32_t p = canvas.Pixel(s[0], s[1]);
        EXPECT_NEAR(Channel(p, 2), 255.0 * w[0], 1.0) << s[0] << "," << s[1];
        EXPECT_NEAR(Channel(p, 1), 255.0 * w[1], 1.0) << s[0] << "," << s[1];
        EXPECT_NEAR(Channel(p, 0), 255.0 * w[2], 1.0) << s[0] << "," << s[1];
    }

    // Flat shading takes the first vertex's colour.
    device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
    canvas.Clear(0xFF000000u);
    canvas.Draw(kScreenFvf, D3DPT_TRIANGLELIST, 1, tri);
    for (const auto& s : samples) EXPECT_EQ(canvas.Pixel(s[0], s[1]), 0xFFFF0000u);
    device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);

    // With different 1/w per vertex, colours interpolate as c = sum(b_i rhw_i c_i) / sum(b_i rhw_i).
    const double rhw[3] = {1.0, 0.25, 0.5};
    for (int i = 0; i < 3; ++i) tri[static_cast<std::size_t>(i)].rhw = static_cast<float>(rhw[i]);
    canvas.Clear(0xFF000000u);
    canvas.Draw(kScreenFvf, D3DPT_TRIANGLELIST, 1, tri);
    for (const auto& s : samples) {
        double w[3];
        weights(s[0], s[1], w);
        double sum = w[0] * rhw[0] + w[1] * rhw[1] + w[2] * rhw[2];
        std::uint32_t p = canvas.Pixel(s[0], s[1]);
        EXPECT_NEAR(Channel(p, 2), 255.0 * w[0] * rhw[0] / sum, 1.0) << s[0] << "," << s[1];
        EXPECT_NEAR(Channel(p, 1), 255.0 * w[1] * rhw[1] / sum, 1.0) << s[0] << "," << s[1];
        EXPECT_NEAR(Channel(p, 0), 255.0 * w[2] * rhw[2] / sum, 1.0) << s[0] << "," << s[1];
    }
}

TEST(D3d9Raster, LinesFollowTheDiamondRuleAndLastPixel) {
    Canvas canvas(8, 8);
    IDirect3DDevice9* device = canvas.Device();
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    const D3DCOLOR c = 0xFF00FF00u;
    std::vector<ScreenVertex> across = {{1, 2, 0, 1, c, 0}, {5, 2, 0, 1, c, 0}};
    std::vector<ScreenVertex> down = {{6, 6, 0, 1, c, 0}, {6, 1, 0, 1, c, 0}};  // drawn upwards
    for (BOOL last : {FALSE, TRUE}) {
        device->SetRenderState(D3DRS_LASTPIXEL, last);
        canvas.Clear(0xFF000000u);
        canvas.Draw(kScreenFvf, D3DPT_LINELIST, 1, across);
        canvas.Draw(kScreenFvf, D3DPT_LINELIST, 1, down);
        std::vector<std::uint32_t> pixels = canvas.Pixels();
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 8; ++x) {
                bool onAcross = y == 2 && x >= 1 && x <= (last ? 5 : 4);
                bool onDown = x == 6 && y <= 6 && y >= (last ? 1 : 2);
                EXPECT_EQ(pixels[static_cast<std::size_t>(y * 8 + x)], onAcross || onDown ? c : 0xFF000000u)
                    << "last pixel " << last << " at " << x << "," << y;
            }
        }
    }
}

TEST(D3d9Raster, TransformedTrianglesAreClippedAtTheNearAndFarPlanes) {
    Canvas canvas(16, 4);
    IDirect3DDevice9* device = canvas.Device();
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    // With identity transforms clip space is the vertex position; z runs across x from z0 to z1 and
    // a pixel is drawn where the depth at its centre lies in [0, 1].
    auto strip = [](float z0, float z1) {
        const D3DCOLOR c = 0xFFFFFFFFu;
        return std::vector<ColourVertex>{{-1, 1, z0, c}, {1, 1, z1, c}, {-1, -1, z0, c}, {1, -1, z1, c}};
    };
    const float ranges[][2] = {{-0.5f, 0.5f}, {0.5f, 1.7f}, {-0.3f, 1.3f}};
    for (const auto& r : ranges) {
        canvas.Clear(0xFF000000u);
        ASSERT_EQ(canvas.Draw(kColourFvf, D3DPT_TRIANGLESTRIP, 2, strip(r[0], r[1])), D3D_OK);
        for (int x = 0; x < 16; ++x) {
            double ndcX = (x - 8.0) / 8.0;  // pixel centre x = 8 (1 + ndc)
            double z = r[0] + (ndcX + 1.0) * 0.5 * (r[1] - r[0]);
            // Stay clear of the pixel whose centre sits within rounding of the plane.
            if (std::fabs(z) < 0.02 || std::fabs(z - 1.0) < 0.02) continue;
            bool inside = z >= 0.0 && z <= 1.0;
            EXPECT_EQ(canvas.Pixel(x, 1), inside ? 0xFFFFFFFFu : 0xFF000000u) << "range " << r[0] << " " << x;
        }
    }
    // Behind the camera (w < 0) nothing is drawn, however large the triangle.
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    D3DMATRIX projection{};
    projection._11 = projection._22 = projection._33 = projection._34 = 1.0f;  // w = z
    device->SetTransform(D3DTS_PROJECTION, &projection);
    canvas.Clear(0xFF000000u);
    std::vector<ColourVertex> behind = {{-1e6f, -1e6f, -2, 0xFFFFFFFFu}, {1e6f, -1e6f, -2, 0xFFFFFFFFu},
                                        {0, 1e6f, -2, 0xFFFFFFFFu}};
    ASSERT_EQ(canvas.Draw(kColourFvf, D3DPT_TRIANGLELIST, 1, behind), D3D_OK);
    for (std::uint32_t p : canvas.Pixels()) EXPECT_EQ(p, 0xFF000000u);
    // A huge triangle in front is cut at the guard band and fills the target.
    for (auto& v : behind) v.z = 2.0f;
    ASSERT_EQ(canvas.Draw(kColourFvf, D3DPT_TRIANGLELIST, 1, behind), D3D_OK);
    for (std::uint32_t p : canvas.Pixels()) EXPECT_EQ(p, 0xFFFFFFFFu);
}

TEST(D3d9Raster, PrimitivesNamingVerticesOutsideTheSourceAreSkipped) {
    Canvas canvas(8, 8);
    IDirect3DDevice9* device = canvas.Device();
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    const D3DCOLOR c = 0xFF0000FFu;
    std::vector<ScreenVertex> vertices = Quad(0, 0, 4, 4, c);
    // The second triangle names vertex 9 of four: only the first is drawn.
    std::vector<std::uint16_t> indices = {0, 1, 2, 1, 9, 2};
    canvas.Clear(0xFF000000u);
    ASSERT_EQ(canvas.DrawIndexed(kScreenFvf, D3DPT_TRIANGLELIST, 2, vertices, indices), D3D_OK);
    EXPECT_EQ(canvas.Pixel(0, 0), c);
    EXPECT_EQ(canvas.Pixel(3, 3), 0xFF000000u);

    // The same through buffers: a vertex buffer of exactly four vertices, 32-bit indices beyond it.
    ComPtr<IDirect3DVertexBuffer9> vb;
    ASSERT_EQ(device->CreateVertexBuffer(4 * sizeof(ScreenVertex), 0, kScreenFvf, D3DPOOL_MANAGED,
                                         vb.ReleaseAndGetAddressOf(), nullptr),
              D3D_OK);
    void* data = nullptr;
    vb->Lock(0, 0, &data, 0);
    std::memcpy(data, vertices.data(), 4 * sizeof(ScreenVertex));
    vb->Unlock();
    ComPtr<IDirect3DIndexBuffer9> ib;
    ASSERT_EQ(device->CreateIndexBuffer(6 * 4, 0, D3DFMT_INDEX32, D3DPOOL_MANAGED, ib.ReleaseAndGetAddressOf(), nullptr),
              D3D_OK);
    const std::uint32_t wide[6] = {1, 3, 2, 0, 1, 0x7FFFFFFFu};
    ib->Lock(0, 0, &data, 0);
    std::memcpy(data, wide, sizeof wide);
    ib->Unlock();
    device->SetStreamSource(0, vb.Get(), 0, sizeof(ScreenVertex));
    device->SetIndices(ib.Get());
    device->SetFVF(kScreenFvf);
    canvas.Clear(0xFF000000u);
    device->BeginScene();
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2), D3D_OK);
    device->EndScene();
    EXPECT_EQ(canvas.Pixel(3, 3), c);
    EXPECT_EQ(canvas.Pixel(0, 0), 0xFF000000u);

    // Vertices far outside any target are not drawn and do not stall the draw.
    std::vector<ScreenVertex> wild = {{-3e30f, 0, 0, 1, c, 0}, {3e30f, 0, 0, 1, c, 0}, {0, std::nanf(""), 0, 1, c, 0}};
    canvas.Clear(0xFF000000u);
    EXPECT_EQ(canvas.Draw(kScreenFvf, D3DPT_TRIANGLELIST, 1, wild), D3D_OK);
    for (std::uint32_t p : canvas.Pixels()) EXPECT_EQ(p, 0xFF000000u);
}

}  // namespace
