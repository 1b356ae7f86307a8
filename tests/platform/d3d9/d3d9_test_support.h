// d3d9_test_support.h: host windows that keep the frames presented to them, and device creation
// with the presentation parameters the engine uses, for the software device's tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/win/host_window.h"

namespace d3d9test {

struct Frame {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint32_t> pixels;  // rows top first, packed

    std::uint32_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// A host window that copies every presented frame, row by row through the given pitch.
class CapturingWindow {
public:
    explicit CapturingWindow(std::int32_t clientWidth = 0, std::int32_t clientHeight = 0)
        : id_(CreateHostWindow(&CapturingWindow::OnPresent, this)) {
        if (clientWidth > 0) SetWindowClientSize(Handle(), clientWidth, clientHeight);
    }
    ~CapturingWindow() { DestroyHostWindow(id_); }
    CapturingWindow(const CapturingWindow&) = delete;
    CapturingWindow& operator=(const CapturingWindow&) = delete;

    HWND Handle() const { return HwndFromId(id_); }
    const std::vector<Frame>& Frames() const { return frames_; }

private:
    static void OnPresent(void* user, const std::uint32_t* pixels, std::int32_t width, std::int32_t height,
                          std::int32_t pitchBytes) {
        Frame frame{width, height, {}};
        for (std::int32_t y = 0; y < height; ++y) {
            const auto* row = reinterpret_cast<const std::uint32_t*>(reinterpret_cast<const std::uint8_t*>(pixels) +
                                                                     static_cast<std::ptrdiff_t>(y) * pitchBytes);
            frame.pixels.insert(frame.pixels.end(), row, row + width);
        }
        static_cast<CapturingWindow*>(user)->frames_.push_back(std::move(frame));
    }

    std::int32_t id_;
    std::vector<Frame> frames_;
};

// The engine's presentation parameters: client-sized back buffer in the display format, automatic
// depth buffer, discard swap effect, immediate presentation.
inline D3DPRESENT_PARAMETERS EngineParameters(HWND window, D3DFORMAT depthFormat = D3DFMT_D16) {
    D3DPRESENT_PARAMETERS params{};
    params.SwapEffect = D3DSWAPEFFECT_DISCARD;
    params.hDeviceWindow = window;
    params.Windowed = TRUE;
    params.EnableAutoDepthStencil = depthFormat != D3DFMT_UNKNOWN;
    params.AutoDepthStencilFormat = depthFormat;
    params.Flags = D3DPRESENTFLAG_DISCARD_DEPTHSTENCIL;
    params.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
    return params;
}

// A HAL device with software vertex processing on the window; fails the test when none is made.
inline ComPtr<IDirect3DDevice9> MakeDevice(HWND window, D3DFORMAT depthFormat = D3DFMT_D16,
                                           DWORD behavior = D3DCREATE_SOFTWARE_VERTEXPROCESSING,
                                           D3DPRESENT_PARAMETERS* filled = nullptr) {
    ComPtr<IDirect3D9> d3d = ComPtr<IDirect3D9>::Adopt(Direct3DCreate9(D3D_SDK_VERSION));
    EXPECT_TRUE(d3d);
    if (!d3d) return nullptr;
    D3DPRESENT_PARAMETERS params = EngineParameters(window, depthFormat);
    ComPtr<IDirect3DDevice9> device;
    HRESULT hr = d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, behavior, &params, device.ReleaseAndGetAddressOf());
    EXPECT_EQ(hr, D3D_OK);
    if (filled != nullptr) *filled = params;
    return device;
}

inline float AsFloat(DWORD bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

}  // namespace d3d9test
