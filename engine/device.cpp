// device.cpp: opening the Direct3D 9 device on the host window, tearing resources down, and framing.
#include "engine/device.h"

#include <cstring>

#include "engine/camera.h"
#include "engine/engine_state.h"
#include "engine/fixed.h"
#include "engine/quad_vertex.h"
#include "platform/win/host_window.h"
#include "platform/win/large_blocks.h"
#include "platform/win/message_box.h"

namespace qm {
namespace {

constexpr UINT kSdkVersion = 31;

// "Direct3D の初期化に失敗しました。" in code page 932, and the caption.
constexpr char kInitFailedText[] =
    "Direct3D \x82\xCC\x8F\x89\x8A\xFA\x89\xBB\x82\xC9\x8E\xB8\x94\x73\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42";
constexpr char kInitFailedCaption[] = "Quillmere";

struct CreationAttempt {
    D3DDEVTYPE type;
    DWORD behaviour;
};
// With vertex shader 1.0 or better: hardware processing first, then software, then the reference device.
constexpr CreationAttempt kShaderCapableAttempts[] = {
    {D3DDEVTYPE_HAL, D3DCREATE_HARDWARE_VERTEXPROCESSING},
    {D3DDEVTYPE_HAL, D3DCREATE_SOFTWARE_VERTEXPROCESSING},
    {D3DDEVTYPE_REF, D3DCREATE_SOFTWARE_VERTEXPROCESSING},
};
constexpr CreationAttempt kFixedFunctionAttempts[] = {
    {D3DDEVTYPE_HAL, D3DCREATE_SOFTWARE_VERTEXPROCESSING},
    {D3DDEVTYPE_REF, D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_PUREDEVICE},
};

struct InitialRenderState {
    D3DRENDERSTATETYPE state;
    DWORD value;
};
constexpr InitialRenderState kInitialRenderStates[] = {
    {D3DRS_LIGHTING, TRUE},         {D3DRS_DITHERENABLE, TRUE},          {D3DRS_ZENABLE, TRUE},
    {D3DRS_NORMALIZENORMALS, TRUE}, {D3DRS_SRCBLEND, D3DBLEND_SRCALPHA}, {D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA},
};

template <size_t N>
bool TryCreate(IDirect3D9* direct3d, const CreationAttempt (&attempts)[N], HWND window,
               D3DPRESENT_PARAMETERS* params, ComPtr<IDirect3DDevice9>* device) {
    for (const CreationAttempt& attempt : attempts) {
        HRESULT hr = direct3d->CreateDevice(0, attempt.type, window, attempt.behaviour, params,
                                            device->ReleaseAndGetAddressOf());
        if (SUCCEEDED(hr) && *device) return true;
    }
    device->Reset();
    return false;
}

}  // namespace

std::int32_t InitDevice(const std::int32_t* info) {
    if (info == nullptr) return -1;
    EngineState& engine = Engine();
    float width = static_cast<float>(info[kHostWindowWidthWord]);
    float height = static_cast<float>(info[kHostWindowHeightWord]);
    HWND window = HwndFromId(info[kHostWindowHandleWord]);

    engine.direct3d = ComPtr<IDirect3D9>::Adopt(Direct3DCreate9(kSdkVersion));
    if (!engine.direct3d) return -1;

    D3DDISPLAYMODE mode{};
    if (FAILED(engine.direct3d->GetAdapterDisplayMode(0, &mode))) return -1;

    D3DPRESENT_PARAMETERS params{};
    params.BackBufferWidth = 0;
    params.BackBufferHeight = 0;
    params.BackBufferFormat = D3DFMT_UNKNOWN;
    params.BackBufferCount = 0;
    params.MultiSampleType = D3DMULTISAMPLE_NONE;
    params.MultiSampleQuality = 0;
    params.SwapEffect = D3DSWAPEFFECT_DISCARD;
    params.hDeviceWindow = window;
    params.Windowed = TRUE;
    params.EnableAutoDepthStencil = TRUE;
    params.AutoDepthStencilFormat = D3DFMT_D16;
    params.Flags = D3DPRESENTFLAG_DISCARD_DEPTHSTENCIL;
    params.FullScreen_RefreshRateInHz = 0;
    params.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;

    // The host's window record carries the client size that a zero back-buffer size stands for.
    SetWindowClientSize(window, info[kHostWindowWidthWord], info[kHostWindowHeightWord]);

    D3DCAPS9 caps{};
    engine.direct3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps);
    if (caps.VertexShaderVersion >= D3DVS_VERSION(1, 0)) {
        if (!TryCreate(engine.direct3d.Get(), kShaderCapableAttempts, window, &params, &engine.device)) {
            MessageBoxA(nullptr, kInitFailedText, kInitFailedCaption, MB_ICONERROR | MB_OK);
            return -1;
        }
    } else if (!TryCreate(engine.direct3d.Get(), kFixedFunctionAttempts, window, &params, &engine.device)) {
        return -1;
    }

    IDirect3DDevice9* device = engine.device.Get();
    for (const InitialRenderState& rs : kInitialRenderStates) device->SetRenderState(rs.state, rs.value);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    SetProjection(kInitialFieldOfView, width / height, kInitialNearPlane, kInitialFarPlane);

    engine.screenWidth = info[kHostWindowWidthWord];
    engine.screenHeight = info[kHostWindowHeightWord];

    device->CreateVertexBuffer(kQuadBufferBytes, 0, kQuadFvf, D3DPOOL_DEFAULT,
                               engine.quadVertexBuffer.ReleaseAndGetAddressOf(), nullptr);
    return 0;
}

std::int32_t ByeEngine() {
    EngineState& engine = Engine();
    // Models, then particle systems, then textures, each in ascending key order.
    engine.modelTable.Clear();
    engine.particleTable.Clear();
    engine.textureTable.Clear();
    engine.quadVertexBuffer.Reset();
    engine.shaderTable.Clear();
    engine.selectedShader = nullptr;
    // The large blocks kept for the next model's load go back to the system with the models.
    ReleaseKeptLargeBlocks();
    return 0;
}

std::int32_t BeginFrame(std::int32_t depthOnly) {
    EngineState& engine = Engine();
    if (!engine.device) return -1;
    DWORD flags = depthOnly != 0 ? D3DCLEAR_ZBUFFER : D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER;
    engine.device->Clear(0, nullptr, flags, engine.backgroundColor, 1.0f, 0);
    engine.device->BeginScene();
    return 0;
}

std::int32_t EndFrame() {
    EngineState& engine = Engine();
    if (!engine.device) return -1;
    engine.device->EndScene();
    engine.device->Present(nullptr, nullptr, nullptr, nullptr);
    return 0;
}

std::int32_t SetBackgroundColor(std::int32_t r, std::int32_t g, std::int32_t b, std::int32_t a) {
    Engine().backgroundColor = PackColor(r, g, b, a);
    return 0;
}

std::int32_t GetCapabilitiesSize(std::int32_t* out) {
    if (out == nullptr) return -1;
    *out = kCapsSize;
    return 0;
}

std::int32_t GetCapabilities(void* buffer) {
    EngineState& engine = Engine();
    if (buffer == nullptr || !engine.direct3d) return -1;
    D3DCAPS9 caps{};
    engine.direct3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps);
    static_assert(sizeof(D3DCAPS9) == kCapsSize);
    std::memcpy(buffer, &caps, sizeof caps);
    return 0;
}

}  // namespace qm
