// direct3d.cpp: Direct3DCreate9 and the Direct3D object: the one software adapter, its display
// mode and capabilities, and device creation.
#include <bit>

#include "platform/d3d9/caps.h"
#include "platform/d3d9/device.h"
#include "platform/d3d9/recording.h"

namespace qm::d3d9 {
namespace {

constexpr DWORD kVertexProcessingFlags =
    D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_MIXED_VERTEXPROCESSING;

bool IsSoftwareDeviceType(D3DDEVTYPE type) { return type == D3DDEVTYPE_HAL || type == D3DDEVTYPE_REF; }

class Direct3D final : public RefCounted<Direct3D, IDirect3D9> {
public:
    UINT GetAdapterCount() override {
        RecordCall("GetAdapterCount");
        return 1;
    }

    HRESULT GetAdapterDisplayMode(UINT Adapter, D3DDISPLAYMODE* pMode) override {
        RecordCall("GetAdapterDisplayMode", Adapter, pMode);
        CallRecorder* recorder = InstalledCallRecorder();
        if (recorder != nullptr && recorder->GetAdapterDisplayModeFails()) return D3DERR_NOTAVAILABLE;
        if (Adapter != 0 || pMode == nullptr) return D3DERR_INVALIDCALL;
        *pMode = AdapterDisplayMode();
        return D3D_OK;
    }

    HRESULT GetDeviceCaps(UINT Adapter, D3DDEVTYPE DeviceType, D3DCAPS9* pCaps) override {
        RecordCall("GetDeviceCaps", Adapter, DeviceType, pCaps);
        if (Adapter != 0 || pCaps == nullptr) return D3DERR_INVALIDCALL;
        if (DeviceType == D3DDEVTYPE_SW || DeviceType == D3DDEVTYPE_NULLREF) return D3DERR_NOTAVAILABLE;
        if (!IsSoftwareDeviceType(DeviceType)) return D3DERR_INVALIDCALL;
        *pCaps = SoftwareDeviceCaps(DeviceType);
        CallRecorder* recorder = InstalledCallRecorder();
        DWORD reported = 0;
        if (recorder != nullptr && recorder->ReportedVertexShaderVersion(&reported)) pCaps->VertexShaderVersion = reported;
        return D3D_OK;
    }

    HRESULT CreateDevice(UINT Adapter, D3DDEVTYPE DeviceType, HWND hFocusWindow, DWORD BehaviorFlags,
                         D3DPRESENT_PARAMETERS* pPresentationParameters,
                         IDirect3DDevice9** ppReturnedDeviceInterface) override {
        RecordCall("CreateDevice", Adapter, DeviceType, hFocusWindow, BehaviorFlags, In(pPresentationParameters),
                   ppReturnedDeviceInterface);
        if (ppReturnedDeviceInterface == nullptr) return D3DERR_INVALIDCALL;
        *ppReturnedDeviceInterface = nullptr;
        if (pPresentationParameters == nullptr || Adapter != 0) return D3DERR_INVALIDCALL;
        if (DeviceType == D3DDEVTYPE_SW || DeviceType == D3DDEVTYPE_NULLREF) return D3DERR_NOTAVAILABLE;
        if (!IsSoftwareDeviceType(DeviceType)) return D3DERR_INVALIDCALL;
        if (std::popcount(BehaviorFlags & kVertexProcessingFlags) != 1) return D3DERR_INVALIDCALL;
        if ((BehaviorFlags & D3DCREATE_PUREDEVICE) && !(BehaviorFlags & D3DCREATE_HARDWARE_VERTEXPROCESSING)) {
            return D3DERR_INVALIDCALL;
        }
        CallRecorder* recorder = InstalledCallRecorder();
        if (recorder != nullptr && recorder->CreateDeviceRefused(DeviceType, BehaviorFlags)) {
            return D3DERR_NOTAVAILABLE;
        }
        Device::Creation creation{ComPtr<IDirect3D9>(this), Adapter, DeviceType, hFocusWindow, BehaviorFlags};
        ComPtr<Device> device;
        HRESULT hr = Device::Create(std::move(creation), pPresentationParameters, &device);
        if (FAILED(hr)) return hr;
        *ppReturnedDeviceInterface = device.Detach();
        return D3D_OK;
    }
};

}  // namespace
}  // namespace qm::d3d9

IDirect3D9* Direct3DCreate9(UINT SDKVersion) {
    qm::d3d9::RecordCall("Direct3DCreate9", SDKVersion);
    CallRecorder* recorder = InstalledCallRecorder();
    if (recorder != nullptr && recorder->Direct3DCreate9Fails()) return nullptr;
    if (SDKVersion != D3D_SDK_VERSION) return nullptr;
    return MakeRef<qm::d3d9::Direct3D>().Detach();
}
