// standalone_device.h: a device for programs that draw without a window of their own (benchmarks,
// fuzz targets): windowed, software vertex processing, a back buffer of the given size.
#pragma once

#include "platform/d3d9/d3d9.h"

namespace qm::d3d9 {

// Null when the device cannot be made.
inline ComPtr<IDirect3DDevice9> CreateStandaloneDevice(UINT width, UINT height) {
    ComPtr<IDirect3D9> d3d = ComPtr<IDirect3D9>::Adopt(Direct3DCreate9(D3D_SDK_VERSION));
    if (!d3d) return nullptr;
    D3DPRESENT_PARAMETERS params{};
    params.BackBufferWidth = width;
    params.BackBufferHeight = height;
    params.SwapEffect = D3DSWAPEFFECT_DISCARD;
    params.Windowed = TRUE;
    ComPtr<IDirect3DDevice9> device;
    if (FAILED(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params,
                                 device.ReleaseAndGetAddressOf()))) {
        return nullptr;
    }
    return device;
}

}  // namespace qm::d3d9
