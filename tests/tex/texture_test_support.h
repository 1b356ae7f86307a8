// texture_test_support.h: a software device for the texture creation tests, capability records with
// bits taken away, and reading texture levels back.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/diagnostics.h"

namespace qm::test {

// A HAL device with software vertex processing and no window; fails the test when none is made.
inline ComPtr<IDirect3DDevice9> MakeTextureDevice() {
    ComPtr<IDirect3D9> d3d = ComPtr<IDirect3D9>::Adopt(Direct3DCreate9(D3D_SDK_VERSION));
    EXPECT_TRUE(d3d);
    if (!d3d) return nullptr;
    D3DPRESENT_PARAMETERS params{};
    params.BackBufferWidth = 16;
    params.BackBufferHeight = 16;
    params.SwapEffect = D3DSWAPEFFECT_DISCARD;
    params.Windowed = TRUE;
    ComPtr<IDirect3DDevice9> device;
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params,
                                device.ReleaseAndGetAddressOf()),
              D3D_OK);
    return device;
}

// The software device's own capability record, to take bits away from.
inline D3DCAPS9 SoftwareCaps() {
    ComPtr<IDirect3D9> d3d = ComPtr<IDirect3D9>::Adopt(Direct3DCreate9(D3D_SDK_VERSION));
    D3DCAPS9 caps{};
    if (d3d) d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps);
    return caps;
}

// A device made while recorder reports `caps`; the device keeps them after the recorder is gone.
inline ComPtr<IDirect3DDevice9> MakeReducedDevice(CallRecorder& recorder, const D3DCAPS9& caps) {
    recorder.ReplaceDeviceCaps(caps);
    return MakeTextureDevice();
}

// The rows of a locked rectangle, bytesPerPixel x width bytes each, packed.
inline std::vector<BYTE> ReadRows(const D3DLOCKED_RECT& locked, UINT width, UINT height, UINT bytesPerPixel) {
    std::vector<BYTE> out(static_cast<std::size_t>(width) * height * bytesPerPixel);
    for (UINT y = 0; y < height; ++y) {
        std::memcpy(out.data() + static_cast<std::size_t>(y) * width * bytesPerPixel,
                    static_cast<const BYTE*>(locked.pBits) + static_cast<std::size_t>(y) * locked.Pitch,
                    static_cast<std::size_t>(width) * bytesPerPixel);
    }
    return out;
}

// Level `level` of a lockable 2D texture, bytesPerPixel per pixel, rows packed.
inline std::vector<BYTE> ReadLevel(IDirect3DTexture9* texture, UINT level, UINT bytesPerPixel) {
    D3DSURFACE_DESC desc{};
    EXPECT_EQ(texture->GetLevelDesc(level, &desc), D3D_OK);
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(texture->LockRect(level, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    if (locked.pBits == nullptr) return {};
    std::vector<BYTE> out = ReadRows(locked, desc.Width, desc.Height, bytesPerPixel);
    texture->UnlockRect(level);
    return out;
}

// The same as 32-bit words (for 32-bit formats).
inline std::vector<DWORD> ReadLevel32(IDirect3DTexture9* texture, UINT level) {
    std::vector<BYTE> bytes = ReadLevel(texture, level, 4);
    std::vector<DWORD> out(bytes.size() / 4);
    std::memcpy(out.data(), bytes.data(), out.size() * 4);
    return out;
}

inline std::vector<WORD> ReadLevel16(IDirect3DTexture9* texture, UINT level) {
    std::vector<BYTE> bytes = ReadLevel(texture, level, 2);
    std::vector<WORD> out(bytes.size() / 2);
    std::memcpy(out.data(), bytes.data(), out.size() * 2);
    return out;
}

}  // namespace qm::test
