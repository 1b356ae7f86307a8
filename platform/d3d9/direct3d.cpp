// direct3d.cpp: Direct3DCreate9 and the Direct3D object: the one software adapter, its display
// mode and capabilities, and device creation.
#include <bit>

#include "platform/d3d9/caps.h"
#include "platform/d3d9/device.h"
#include "platform/d3d9/formats.h"
#include "platform/d3d9/recording.h"

namespace qm::d3d9 {
namespace {

constexpr DWORD kVertexProcessingFlags =
    D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_MIXED_VERTEXPROCESSING;

bool IsSoftwareDeviceType(D3DDEVTYPE type) { return type == D3DDEVTYPE_HAL || type == D3DDEVTYPE_REF; }

HRESULT CheckAdapter(UINT adapter, D3DDEVTYPE type) {
    if (adapter != 0) return D3DERR_INVALIDCALL;
    if (type == D3DDEVTYPE_SW || type == D3DDEVTYPE_NULLREF) return D3DERR_NOTAVAILABLE;
    return IsSoftwareDeviceType(type) ? D3D_OK : D3DERR_INVALIDCALL;
}

constexpr DWORD kCheckableUsages = D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL | D3DUSAGE_WRITEONLY |
                                   D3DUSAGE_SOFTWAREPROCESSING | D3DUSAGE_DYNAMIC | D3DUSAGE_AUTOGENMIPMAP |
                                   D3DUSAGE_DMAP | D3DUSAGE_QUERY_LEGACYBUMPMAP | D3DUSAGE_QUERY_SRGBREAD |
                                   D3DUSAGE_QUERY_FILTER | D3DUSAGE_QUERY_SRGBWRITE |
                                   D3DUSAGE_QUERY_POSTPIXELSHADER_BLENDING | D3DUSAGE_QUERY_VERTEXTEXTURE |
                                   D3DUSAGE_QUERY_WRAPANDMIP;
// Usages this device never offers: gamma-correct reads and writes, vertex textures, displacement
// maps and the fixed-function bump-map stages.
constexpr DWORD kUnsupportedUsages = D3DUSAGE_DMAP | D3DUSAGE_QUERY_LEGACYBUMPMAP | D3DUSAGE_QUERY_SRGBREAD |
                                     D3DUSAGE_QUERY_SRGBWRITE | D3DUSAGE_QUERY_VERTEXTEXTURE;

// What the device really does with a format: samples it (textures), draws into it (render targets),
// depth-tests with it (depth-stencil surfaces), or holds it (plain surfaces, buffers).
bool FormatSupported(DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format) {
    if (type == D3DRTYPE_VERTEXBUFFER) return format == D3DFMT_VERTEXDATA;
    if (type == D3DRTYPE_INDEXBUFFER) return format == D3DFMT_INDEX16 || format == D3DFMT_INDEX32;
    const FormatInfo* info = FindFormat(format);
    if (info == nullptr || (usage & kUnsupportedUsages) != 0) return false;
    bool texture = type != D3DRTYPE_SURFACE;
    if (usage & D3DUSAGE_DEPTHSTENCIL) {
        return type == D3DRTYPE_SURFACE && (info->use & kFormatDepthStencil) != 0 &&
               (usage & D3DUSAGE_RENDERTARGET) == 0;
    }
    if (info->use & kFormatDepthStencil) return false;
    if (usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_QUERY_POSTPIXELSHADER_BLENDING)) {
        if ((info->use & kFormatRenderTarget) == 0 || type == D3DRTYPE_VOLUMETEXTURE || type == D3DRTYPE_VOLUME) {
            return false;
        }
    }
    if ((usage & D3DUSAGE_AUTOGENMIPMAP) && (type == D3DRTYPE_VOLUMETEXTURE || !texture)) return false;
    if (texture || (usage & (D3DUSAGE_QUERY_FILTER | D3DUSAGE_QUERY_WRAPANDMIP))) {
        return (info->use & kFormatSample) != 0;
    }
    return (info->use & kFormatLockable) != 0;
}

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

    HRESULT CheckDeviceType(UINT Adapter, D3DDEVTYPE DevType, D3DFORMAT AdapterFormat, D3DFORMAT BackBufferFormat,
                            BOOL bWindowed) override {
        RecordCall("CheckDeviceType", Adapter, DevType, AdapterFormat, BackBufferFormat, bWindowed);
        if (HRESULT hr = CheckAdapter(Adapter, DevType); FAILED(hr)) return hr;
        if (!bWindowed || AdapterFormat != AdapterDisplayMode().Format) return D3DERR_NOTAVAILABLE;
        if (BackBufferFormat != D3DFMT_UNKNOWN && BackBufferFormat != D3DFMT_X8R8G8B8 &&
            BackBufferFormat != D3DFMT_A8R8G8B8) {
            return D3DERR_NOTAVAILABLE;
        }
        return D3D_OK;
    }

    HRESULT CheckDeviceFormat(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT AdapterFormat, DWORD Usage,
                              D3DRESOURCETYPE RType, D3DFORMAT CheckFormat) override {
        RecordCall("CheckDeviceFormat", Adapter, DeviceType, AdapterFormat, Usage, RType, CheckFormat);
        if (HRESULT hr = CheckAdapter(Adapter, DeviceType); FAILED(hr)) return hr;
        if ((Usage & ~kCheckableUsages) != 0 || RType < D3DRTYPE_SURFACE || RType > D3DRTYPE_INDEXBUFFER) {
            return D3DERR_INVALIDCALL;
        }
        if (AdapterFormat != AdapterDisplayMode().Format) return D3DERR_NOTAVAILABLE;
        return FormatSupported(Usage, RType, CheckFormat) ? D3D_OK : D3DERR_NOTAVAILABLE;
    }

    HRESULT GetDeviceCaps(UINT Adapter, D3DDEVTYPE DeviceType, D3DCAPS9* pCaps) override {
        RecordCall("GetDeviceCaps", Adapter, DeviceType, pCaps);
        if (Adapter != 0 || pCaps == nullptr) return D3DERR_INVALIDCALL;
        if (DeviceType == D3DDEVTYPE_SW || DeviceType == D3DDEVTYPE_NULLREF) return D3DERR_NOTAVAILABLE;
        if (!IsSoftwareDeviceType(DeviceType)) return D3DERR_INVALIDCALL;
        *pCaps = ReportedDeviceCaps(DeviceType);
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
