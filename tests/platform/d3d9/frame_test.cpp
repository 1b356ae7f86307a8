// frame_test.cpp: Clear of colour, depth and stencil (whole viewport, rectangles, viewport limits),
// scenes, and Present through a host window.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "tests/platform/d3d9/d3d9_test_support.h"

namespace {

using d3d9test::CapturingWindow;
using d3d9test::EngineParameters;
using d3d9test::Frame;
using d3d9test::MakeDevice;

// Reads a whole surface through LockRect as rows of Pixel.
template <class Pixel>
std::vector<std::vector<Pixel>> ReadSurface(IDirect3DSurface9* surface) {
    D3DSURFACE_DESC desc{};
    surface->GetDesc(&desc);
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(surface->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    std::vector<std::vector<Pixel>> rows;
    for (UINT y = 0; y < desc.Height; ++y) {
        const auto* row = reinterpret_cast<const Pixel*>(static_cast<const std::uint8_t*>(locked.pBits) +
                                                         static_cast<std::ptrdiff_t>(y) * locked.Pitch);
        rows.emplace_back(row, row + desc.Width);
    }
    surface->UnlockRect();
    return rows;
}

ComPtr<IDirect3DSurface9> DepthSurface(IDirect3DDevice9* device) {
    ComPtr<IDirect3DSurface9> surface;
    EXPECT_EQ(device->GetDepthStencilSurface(surface.ReleaseAndGetAddressOf()), D3D_OK);
    return surface;
}

ComPtr<IDirect3DSurface9> BackBuffer(IDirect3DDevice9* device) {
    ComPtr<IDirect3DSurface9> surface;
    EXPECT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, surface.ReleaseAndGetAddressOf()), D3D_OK);
    return surface;
}

// Every pixel of the frame: `inside` within [x0, x1) x [y0, y1), `outside` elsewhere.
void ExpectBox(const Frame& frame, int x0, int y0, int x1, int y1, std::uint32_t inside, std::uint32_t outside) {
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            bool in = x >= x0 && x < x1 && y >= y0 && y < y1;
            ASSERT_EQ(frame.At(x, y), in ? inside : outside) << "pixel " << x << "," << y;
        }
    }
}

TEST(D3d9Frame, ClearedColourReachesTheWindowInEveryPixel) {
    CapturingWindow window(8, 6);
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    ASSERT_TRUE(device);
    // The engine's frame: clear colour and depth, begin, end, present.
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x80112233, 1.0f, 0), D3D_OK);
    EXPECT_EQ(device->BeginScene(), D3D_OK);
    EXPECT_EQ(device->EndScene(), D3D_OK);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    ASSERT_EQ(window.Frames().size(), 1u);
    ExpectBox(window.Frames()[0], 0, 0, 8, 6, 0x80112233, 0);

    // Rows arrive top first: a rectangle over the top two rows shows in the first rows of the frame.
    D3DRECT top{0, 0, 8, 2};
    EXPECT_EQ(device->Clear(1, &top, D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0), D3D_OK);
    device->Present(nullptr, nullptr, nullptr, nullptr);
    ASSERT_EQ(window.Frames().size(), 2u);
    ExpectBox(window.Frames()[1], 0, 0, 8, 2, 0xFF0000FF, 0x80112233);
    EXPECT_EQ(window.Frames()[1].width, 8);
    EXPECT_EQ(window.Frames()[1].height, 6);
}

TEST(D3d9Frame, ClearsStayInsideTheViewport) {
    CapturingWindow window(10, 8);
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    D3DVIEWPORT9 vp{2, 1, 5, 4, 0.0f, 1.0f};
    ASSERT_EQ(device->SetViewport(&vp), D3D_OK);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFF0000, 1.0f, 0);
    device->Present(nullptr, nullptr, nullptr, nullptr);
    ASSERT_EQ(window.Frames().size(), 1u);
    ExpectBox(window.Frames()[0], 2, 1, 7, 5, 0xFFFF0000, 0xFF000000);

    // Rectangles are cut to the viewport: one reaching past every edge clears the viewport only,
    // one beside it clears nothing, and an inverted one nothing.
    D3DRECT rects[] = {{-5, -5, 100, 100}, {8, 0, 10, 8}, {6, 4, 3, 2}};
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    EXPECT_EQ(device->Clear(3, rects, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0), D3D_OK);
    device->Present(nullptr, nullptr, nullptr, nullptr);
    ExpectBox(window.Frames()[1], 2, 1, 7, 5, 0xFF00FF00, 0xFF000000);

    // A rectangle partly inside: only the overlap.
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    D3DRECT corner{5, 3, 9, 7};
    device->Clear(1, &corner, D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0);
    device->Present(nullptr, nullptr, nullptr, nullptr);
    ExpectBox(window.Frames()[2], 5, 3, 7, 5, 0xFF0000FF, 0xFF000000);

    EXPECT_EQ(device->Clear(1, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->Clear(0, nullptr, 8, 0, 1.0f, 0), D3DERR_INVALIDCALL);
}

TEST(D3d9Frame, DepthAndStencilClearValues) {
    CapturingWindow window(4, 3);
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle(), D3DFMT_D16);
    ComPtr<IDirect3DSurface9> depth = DepthSurface(device.Get());
    // D16 holds depth as 0..65535, rounded to nearest: 1.0 is all ones.
    const struct {
        float z;
        std::uint16_t stored;
    } d16[] = {{1.0f, 0xFFFF}, {0.0f, 0}, {0.5f, 32768}, {0.25f, 16384}, {0.1f, 6554}};
    for (const auto& c : d16) {
        ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, c.z, 0), D3D_OK);
        for (const auto& row : ReadSurface<std::uint16_t>(depth.Get())) {
            for (std::uint16_t v : row) ASSERT_EQ(v, c.stored) << "z " << c.z;
        }
    }
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.5f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, -0.1f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1.0f, 0), D3DERR_INVALIDCALL);  // D16 has no stencil

    // Depth-only clears leave the colour as it was, and colour clears leave depth.
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF123456, 1.0f, 0);
    device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0xFF000000, 0.0f, 0);
    device->Present(nullptr, nullptr, nullptr, nullptr);
    ExpectBox(window.Frames().back(), 0, 0, 4, 3, 0xFF123456, 0);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    EXPECT_EQ(ReadSurface<std::uint16_t>(depth.Get())[2][3], 0u);

    // D24S8: depth in the high 24 bits, stencil in the low 8; each clears only its own bits.
    ComPtr<IDirect3DDevice9> stencilDevice = MakeDevice(window.Handle(), D3DFMT_D24S8);
    ComPtr<IDirect3DSurface9> ds = DepthSurface(stencilDevice.Get());
    stencilDevice->Clear(0, nullptr, D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0, 1.0f, 0x1A5);
    EXPECT_EQ(ReadSurface<std::uint32_t>(ds.Get())[1][1], 0xFFFFFFA5u);
    stencilDevice->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 0.0f, 3);
    EXPECT_EQ(ReadSurface<std::uint32_t>(ds.Get())[1][1], 0xFFFFFF03u);
    stencilDevice->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 0.5f, 77);
    EXPECT_EQ(ReadSurface<std::uint32_t>(ds.Get())[1][1], (0x800000u << 8) | 3u);

    // Without a depth buffer, depth clears are refused and colour clears still work.
    ComPtr<IDirect3DDevice9> colourOnly = MakeDevice(window.Handle(), D3DFMT_UNKNOWN);
    EXPECT_EQ(colourOnly->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(colourOnly->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3D_OK);
}

TEST(D3d9Frame, ScenesDoNotNestAndLockedSurfacesAreNotTouched) {
    CapturingWindow window(4, 4);
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    EXPECT_EQ(device->EndScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->BeginScene(), D3D_OK);
    EXPECT_EQ(device->BeginScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->EndScene(), D3D_OK);
    EXPECT_EQ(device->EndScene(), D3DERR_INVALIDCALL);

    ComPtr<IDirect3DSurface9> back = BackBuffer(device.Get());
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(back->LockRect(&locked, nullptr, 0), D3D_OK);
    EXPECT_EQ(back->LockRect(&locked, nullptr, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);  // depth is not locked
    EXPECT_EQ(back->UnlockRect(), D3D_OK);
    EXPECT_EQ(back->UnlockRect(), D3DERR_INVALIDCALL);
    EXPECT_TRUE(window.Frames().empty());

    // A locked rectangle starts at its own top-left pixel; rectangles outside the surface are refused.
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    RECT part{1, 2, 3, 4};
    ASSERT_EQ(back->LockRect(&locked, &part, 0), D3D_OK);
    EXPECT_EQ(locked.Pitch, 16);
    static_cast<std::uint32_t*>(locked.pBits)[0] = 0xFFABCDEF;
    back->UnlockRect();
    device->Present(nullptr, nullptr, nullptr, nullptr);
    ExpectBox(window.Frames().back(), 1, 2, 2, 3, 0xFFABCDEF, 0xFF000000);
    for (RECT bad : {RECT{0, 0, 5, 1}, RECT{2, 2, 2, 3}, RECT{-1, 0, 1, 1}}) {
        EXPECT_EQ(back->LockRect(&locked, &bad, 0), D3DERR_INVALIDCALL);
    }
}

TEST(D3d9Frame, PresentGoesToTheChosenWindow) {
    CapturingWindow deviceWindow(3, 2), other;
    ComPtr<IDirect3DDevice9> device = MakeDevice(deviceWindow.Handle());
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF445566, 1.0f, 0);
    EXPECT_EQ(device->Present(nullptr, nullptr, other.Handle(), nullptr), D3D_OK);
    EXPECT_TRUE(deviceWindow.Frames().empty());
    ASSERT_EQ(other.Frames().size(), 1u);
    ExpectBox(other.Frames()[0], 0, 0, 3, 2, 0xFF445566, 0);

    // Rectangles belong to the copy swap effect only.
    RECT source{1, 0, 3, 1};
    EXPECT_EQ(device->Present(&source, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);

    // A device on window 0 renders and shows nothing, without failing.
    ComPtr<IDirect3DDevice9> hidden = MakeDevice(nullptr);
    ASSERT_TRUE(hidden);
    EXPECT_EQ(hidden->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);

    // With the copy swap effect a source rectangle presents that part of the back buffer.
    ComPtr<IDirect3D9> d3d = ComPtr<IDirect3D9>::Adopt(Direct3DCreate9(31));
    D3DPRESENT_PARAMETERS params = EngineParameters(deviceWindow.Handle());
    params.SwapEffect = D3DSWAPEFFECT_COPY;
    ComPtr<IDirect3DDevice9> copying;
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, deviceWindow.Handle(), D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params,
                                copying.ReleaseAndGetAddressOf()),
              D3D_OK);
    copying->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    D3DRECT dot{2, 0, 3, 1};
    copying->Clear(1, &dot, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.0f, 0);
    EXPECT_EQ(copying->Present(&source, nullptr, nullptr, nullptr), D3D_OK);
    ASSERT_EQ(deviceWindow.Frames().size(), 1u);
    const Frame& part = deviceWindow.Frames()[0];
    EXPECT_EQ(part.width, 2);
    EXPECT_EQ(part.height, 1);
    EXPECT_EQ(part.At(0, 0), 0xFF000000u);
    EXPECT_EQ(part.At(1, 0), 0xFFFFFFFFu);
    RECT dest{0, 0, 2, 1};
    EXPECT_EQ(copying->Present(&source, &dest, nullptr, nullptr), D3DERR_NOTAVAILABLE);
}

}  // namespace
