// font_test_support.h: a software device with a back buffer of a chosen size for the sprite and
// font tests, texture filling and back-buffer readback.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/d3d9/d3d9.h"

namespace fonttest {

class TestDevice {
public:
    TestDevice(UINT width, UINT height, DWORD behavior = D3DCREATE_SOFTWARE_VERTEXPROCESSING)
        : width_(width), height_(height) {
        ComPtr<IDirect3D9> d3d = ComPtr<IDirect3D9>::Adopt(Direct3DCreate9(D3D_SDK_VERSION));
        D3DPRESENT_PARAMETERS params{};
        params.BackBufferWidth = width;
        params.BackBufferHeight = height;
        params.BackBufferFormat = D3DFMT_X8R8G8B8;
        params.SwapEffect = D3DSWAPEFFECT_DISCARD;
        params.Windowed = TRUE;
        EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, behavior, &params, device_.ReleaseAndGetAddressOf()),
                  D3D_OK);
    }

    IDirect3DDevice9* Get() const { return device_.Get(); }
    IDirect3DDevice9* operator->() const { return device_.Get(); }

    void Clear(D3DCOLOR colour) { EXPECT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, colour, 1.0f, 0), D3D_OK); }

    // The back buffer, rows top first, alpha byte dropped.
    std::vector<std::uint32_t> Pixels() const {
        std::vector<std::uint32_t> pixels;
        ComPtr<IDirect3DSurface9> surface;
        device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, surface.ReleaseAndGetAddressOf());
        D3DLOCKED_RECT locked{};
        EXPECT_EQ(surface->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
        if (locked.pBits == nullptr) return pixels;
        for (UINT y = 0; y < height_; ++y) {
            const auto* row = reinterpret_cast<const std::uint32_t*>(static_cast<const std::uint8_t*>(locked.pBits) +
                                                                     static_cast<std::ptrdiff_t>(y) * locked.Pitch);
            for (UINT x = 0; x < width_; ++x) pixels.push_back(row[x] & 0xFFFFFF);
        }
        surface->UnlockRect();
        return pixels;
    }
    std::uint32_t Pixel(const std::vector<std::uint32_t>& pixels, int x, int y) const {
        return pixels[static_cast<size_t>(y) * width_ + x];
    }

    // A managed texture whose texel (x, y) is texel(x, y), as a 32-bit ARGB word.
    ComPtr<IDirect3DTexture9> Texture(UINT width, UINT height, D3DFORMAT format,
                                      const std::function<std::uint32_t(int, int)>& texel) {
        ComPtr<IDirect3DTexture9> texture;
        EXPECT_EQ(device_->CreateTexture(width, height, 1, 0, format, D3DPOOL_MANAGED, texture.ReleaseAndGetAddressOf(),
                                         nullptr),
                  D3D_OK);
        if (!texture) return texture;
        D3DLOCKED_RECT locked{};
        EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
        for (UINT y = 0; y < height; ++y)
            for (UINT x = 0; x < width; ++x)
                reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(locked.pBits) + y * locked.Pitch)[x] =
                    texel(static_cast<int>(x), static_cast<int>(y));
        texture->UnlockRect(0);
        return texture;
    }

private:
    UINT width_, height_;
    ComPtr<IDirect3DDevice9> device_;
};

// The software device's own capability record, for tests that take bits away from it.
inline D3DCAPS9 SoftwareDeviceCaps() {
    TestDevice probe(8, 8);
    D3DCAPS9 caps{};
    probe->GetDeviceCaps(&caps);
    return caps;
}

inline int Channel(std::uint32_t argb, int channel) { return static_cast<int>((argb >> (8 * channel)) & 0xFF); }

// Every colour channel of a is within tolerance of b.
inline bool Near(std::uint32_t a, std::uint32_t b, int tolerance) {
    for (int c = 0; c < 3; ++c)
        if (std::abs(Channel(a, c) - Channel(b, c)) > tolerance) return false;
    return true;
}

}  // namespace fonttest
