// device.cpp: the device API: creation checks, state Set/Get with validation, bindings, surfaces,
// Clear, scenes, Present, buffers and draw-call validation in front of the pipeline.
#include "platform/d3d9/device.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/d3d9/recording.h"
#include "platform/d3d9/textures.h"
#include "platform/d3d9/vertex_format.h"
#include "platform/win/host_window.h"

namespace qm::d3d9 {
namespace {

constexpr UINT kDefaultBackBufferWidth = 640;
constexpr UINT kDefaultBackBufferHeight = 480;

constexpr D3DFORMAT kDepthFormats[] = {D3DFMT_D16, D3DFMT_D16_LOCKABLE, D3DFMT_D24S8, D3DFMT_D24X8, D3DFMT_D32};
constexpr DWORD kPresentFlags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER | D3DPRESENTFLAG_DISCARD_DEPTHSTENCIL |
                                D3DPRESENTFLAG_DEVICECLIP | D3DPRESENTFLAG_VIDEO | D3DPRESENTFLAG_NOAUTOROTATE |
                                D3DPRESENTFLAG_UNPRUNEDMODE;
constexpr DWORD kBufferUsages = D3DUSAGE_WRITEONLY | D3DUSAGE_SOFTWAREPROCESSING | D3DUSAGE_DONOTCLIP |
                                D3DUSAGE_POINTS | D3DUSAGE_RTPATCHES | D3DUSAGE_NPATCHES | D3DUSAGE_DYNAMIC;

// How Clear writes a depth value and a stencil value into one pixel of a depth format: depth as an
// unsigned integer of depthBits bits shifted left by depthShift, stencil in the low stencilBits.
struct DepthLayout {
    D3DFORMAT format;
    UINT depthBits;
    UINT depthShift;
    UINT stencilBits;
};
constexpr DepthLayout kDepthLayouts[] = {
    {D3DFMT_D16, 16, 0, 0}, {D3DFMT_D16_LOCKABLE, 16, 0, 0}, {D3DFMT_D24S8, 24, 8, 8},
    {D3DFMT_D24X8, 24, 8, 0}, {D3DFMT_D32, 32, 0, 0},
};

const DepthLayout* FindDepthLayout(D3DFORMAT format) {
    for (const DepthLayout& d : kDepthLayouts) {
        if (d.format == format) return &d;
    }
    return nullptr;
}

bool IsDepthFormat(D3DFORMAT format) {
    return std::find(std::begin(kDepthFormats), std::end(kDepthFormats), format) != std::end(kDepthFormats);
}

bool IsKnownPrimitiveType(D3DPRIMITIVETYPE type) { return type >= D3DPT_POINTLIST && type <= D3DPT_TRIANGLEFAN; }

// Client size of a window as recorded by the host; a recorded side below 1 counts as 1.
void ClientSize(HWND window, UINT* width, UINT* height) {
    RECT rect{};
    if (!GetClientRect(window, &rect)) {
        *width = kDefaultBackBufferWidth;
        *height = kDefaultBackBufferHeight;
        return;
    }
    *width = static_cast<UINT>(std::max<LONG>(rect.right - rect.left, 1));
    *height = static_cast<UINT>(std::max<LONG>(rect.bottom - rect.top, 1));
}

void FillColour(const Surface& surface, const RECT& area, D3DCOLOR colour) {
    for (LONG y = area.top; y < area.bottom; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(surface.Row(static_cast<UINT>(y)));
        std::fill(row + area.left, row + area.right, colour);
    }
}

template <class Pixel>
void FillMasked(const Surface& surface, const RECT& area, Pixel value, Pixel mask) {
    for (LONG y = area.top; y < area.bottom; ++y) {
        auto* row = reinterpret_cast<Pixel*>(surface.Row(static_cast<UINT>(y)));
        for (LONG x = area.left; x < area.right; ++x) {
            row[x] = static_cast<Pixel>((row[x] & ~mask) | (value & mask));
        }
    }
}

void FillDepthStencil(const Surface& surface, const DepthLayout& layout, const RECT& area, bool depth, float z,
                      bool stencil, DWORD stencilValue) {
    std::uint64_t depthMax = (std::uint64_t{1} << layout.depthBits) - 1;
    std::uint64_t depthValue = static_cast<std::uint64_t>(std::llround(static_cast<double>(z) * depthMax));
    std::uint32_t value = static_cast<std::uint32_t>(depthValue << layout.depthShift);
    std::uint32_t mask = 0;
    if (depth) mask |= static_cast<std::uint32_t>(depthMax << layout.depthShift);
    if (stencil) {
        std::uint32_t stencilMask = (1u << layout.stencilBits) - 1;
        value |= stencilValue & stencilMask;
        mask |= stencilMask;
    }
    if (layout.depthBits == 16) {
        FillMasked<std::uint16_t>(surface, area, static_cast<std::uint16_t>(value), static_cast<std::uint16_t>(mask));
    } else {
        FillMasked<std::uint32_t>(surface, area, value, mask);
    }
}

bool Intersect(const RECT& a, const RECT& b, RECT* out) {
    out->left = std::max(a.left, b.left);
    out->top = std::max(a.top, b.top);
    out->right = std::min(a.right, b.right);
    out->bottom = std::min(a.bottom, b.bottom);
    return out->left < out->right && out->top < out->bottom;
}

}  // namespace

// ---- Creation ----

HRESULT Device::Create(Creation creation, D3DPRESENT_PARAMETERS* params, ComPtr<Device>* device) {
    D3DPRESENT_PARAMETERS p = *params;
    if (!p.Windowed) return D3DERR_NOTAVAILABLE;
    if (p.BackBufferCount > D3DPRESENT_BACK_BUFFERS_MAX) return D3DERR_INVALIDCALL;
    if (p.BackBufferCount > 1) return D3DERR_NOTAVAILABLE;
    if (p.MultiSampleType != D3DMULTISAMPLE_NONE) return D3DERR_NOTAVAILABLE;
    if (p.MultiSampleQuality != 0) return D3DERR_INVALIDCALL;
    if (p.SwapEffect < D3DSWAPEFFECT_DISCARD || p.SwapEffect > D3DSWAPEFFECT_COPY) return D3DERR_INVALIDCALL;
    if (p.FullScreen_RefreshRateInHz != 0) return D3DERR_INVALIDCALL;
    if (p.PresentationInterval != D3DPRESENT_INTERVAL_DEFAULT && p.PresentationInterval != D3DPRESENT_INTERVAL_ONE &&
        p.PresentationInterval != D3DPRESENT_INTERVAL_IMMEDIATE) {
        return D3DERR_INVALIDCALL;
    }
    if ((p.Flags & ~kPresentFlags) != 0) return D3DERR_INVALIDCALL;
    if (p.BackBufferFormat == D3DFMT_UNKNOWN) p.BackBufferFormat = AdapterDisplayMode().Format;
    if (p.BackBufferFormat != D3DFMT_X8R8G8B8 && p.BackBufferFormat != D3DFMT_A8R8G8B8) return D3DERR_NOTAVAILABLE;
    if (p.EnableAutoDepthStencil && !IsDepthFormat(p.AutoDepthStencilFormat)) return D3DERR_INVALIDCALL;

    if (p.BackBufferWidth == 0 || p.BackBufferHeight == 0) {
        UINT width = 0, height = 0;
        ClientSize(p.hDeviceWindow != nullptr ? p.hDeviceWindow : creation.focusWindow, &width, &height);
        if (p.BackBufferWidth == 0) p.BackBufferWidth = width;
        if (p.BackBufferHeight == 0) p.BackBufferHeight = height;
    }
    if (p.BackBufferWidth > kMaxSurfaceSize || p.BackBufferHeight > kMaxSurfaceSize) return D3DERR_INVALIDCALL;
    p.BackBufferCount = 1;

    auto link = std::make_shared<DeviceLink>();
    ComPtr<Surface> backBuffer =
        Surface::Create(link, p.BackBufferWidth, p.BackBufferHeight, p.BackBufferFormat, D3DUSAGE_RENDERTARGET);
    if (!backBuffer) return D3DERR_OUTOFVIDEOMEMORY;
    ComPtr<Surface> depthStencil;
    if (p.EnableAutoDepthStencil) {
        depthStencil = Surface::Create(link, p.BackBufferWidth, p.BackBufferHeight, p.AutoDepthStencilFormat,
                                       D3DUSAGE_DEPTHSTENCIL);
        if (!depthStencil) return D3DERR_OUTOFVIDEOMEMORY;
    }
    ComPtr<Device> made = MakeRef<Device>(std::move(creation), p, link, std::move(backBuffer), std::move(depthStencil));
    if (!made) return E_OUTOFMEMORY;
    *params = p;
    *device = std::move(made);
    return D3D_OK;
}

Device::Device(Creation creation, const D3DPRESENT_PARAMETERS& params, std::shared_ptr<DeviceLink> link,
               ComPtr<Surface> backBuffer, ComPtr<Surface> depthStencil)
    : creation_(std::move(creation)),
      params_(params),
      link_(std::move(link)),
      backBuffer_(std::move(backBuffer)),
      depthStencil_(std::move(depthStencil)),
      renderTarget_(backBuffer_) {
    link_->device = this;
    caps_ = ReportedDeviceCaps(creation_.type);
    ResetToDefaults(&state_, static_cast<bool>(depthStencil_), params_.BackBufferWidth, params_.BackBufferHeight);
    pipeline_.SetThreadCount(DeviceThreadCount());
}

Device::~Device() { link_->device = nullptr; }

HWND Device::DeviceWindow() const {
    return params_.hDeviceWindow != nullptr ? params_.hDeviceWindow : creation_.focusWindow;
}

// ---- Device, adapter and presentation ----

HRESULT Device::TestCooperativeLevel() {
    RecordCall("TestCooperativeLevel");
    return D3D_OK;
}

HRESULT Device::GetDirect3D(IDirect3D9** ppD3D9) {
    RecordCall("GetDirect3D", ppD3D9);
    if (ppD3D9 == nullptr) return D3DERR_INVALIDCALL;
    *ppD3D9 = creation_.direct3d.CopyOut();
    return D3D_OK;
}

HRESULT Device::GetDeviceCaps(D3DCAPS9* pCaps) {
    RecordCall("GetDeviceCaps", pCaps);
    if (pCaps == nullptr) return D3DERR_INVALIDCALL;
    *pCaps = caps_;
    return D3D_OK;
}

HRESULT Device::GetDisplayMode(UINT iSwapChain, D3DDISPLAYMODE* pMode) {
    RecordCall("GetDisplayMode", iSwapChain, pMode);
    if (iSwapChain != 0 || pMode == nullptr) return D3DERR_INVALIDCALL;
    *pMode = AdapterDisplayMode();
    return D3D_OK;
}

HRESULT Device::GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* pParameters) {
    RecordCall("GetCreationParameters", pParameters);
    if (pParameters == nullptr) return D3DERR_INVALIDCALL;
    *pParameters = D3DDEVICE_CREATION_PARAMETERS{creation_.adapter, creation_.type, creation_.focusWindow,
                                                 creation_.behaviorFlags};
    return D3D_OK;
}

HRESULT Device::Present(const RECT* pSourceRect, const RECT* pDestRect, HWND hDestWindowOverride,
                        const RGNDATA* pDirtyRegion) {
    RecordCall("Present", pSourceRect, pDestRect, hDestWindowOverride, pDirtyRegion);
    bool copy = params_.SwapEffect == D3DSWAPEFFECT_COPY;
    if (!copy && (pSourceRect != nullptr || pDestRect != nullptr || pDirtyRegion != nullptr)) {
        return D3DERR_INVALIDCALL;
    }
    if (pDestRect != nullptr) return D3DERR_NOTAVAILABLE;
    if (backBuffer_->Locked()) return D3DERR_INVALIDCALL;
    RECT whole{0, 0, static_cast<LONG>(backBuffer_->Width()), static_cast<LONG>(backBuffer_->Height())};
    RECT area = whole;
    if (pSourceRect != nullptr && !Intersect(*pSourceRect, whole, &area)) return D3D_OK;  // nothing to show
    const auto* pixels = reinterpret_cast<const std::uint32_t*>(backBuffer_->Row(static_cast<UINT>(area.top))) +
                         area.left;
    // A window of 0, or one the host does not know, shows nothing; the frame is still complete.
    PresentToHostWindow(hDestWindowOverride != nullptr ? hDestWindowOverride : DeviceWindow(), pixels,
                        area.right - area.left, area.bottom - area.top, static_cast<std::int32_t>(backBuffer_->Pitch()));
    return D3D_OK;
}

// ---- Surfaces ----

HRESULT Device::GetBackBuffer(UINT iSwapChain, UINT iBackBuffer, D3DBACKBUFFER_TYPE Type,
                              IDirect3DSurface9** ppBackBuffer) {
    RecordCall("GetBackBuffer", iSwapChain, iBackBuffer, Type, ppBackBuffer);
    if (ppBackBuffer == nullptr) return D3DERR_INVALIDCALL;
    *ppBackBuffer = nullptr;
    if (iSwapChain != 0 || iBackBuffer != 0 || Type != D3DBACKBUFFER_TYPE_MONO) return D3DERR_INVALIDCALL;
    *ppBackBuffer = backBuffer_.CopyOut();
    return D3D_OK;
}

HRESULT Device::GetRenderTarget(DWORD RenderTargetIndex, IDirect3DSurface9** ppRenderTarget) {
    RecordCall("GetRenderTarget", RenderTargetIndex, ppRenderTarget);
    if (ppRenderTarget == nullptr) return D3DERR_INVALIDCALL;
    *ppRenderTarget = nullptr;
    if (RenderTargetIndex != 0) return D3DERR_INVALIDCALL;
    *ppRenderTarget = renderTarget_.CopyOut();
    return D3D_OK;
}

HRESULT Device::SetRenderTarget(DWORD RenderTargetIndex, IDirect3DSurface9* pRenderTarget) {
    RecordCall("SetRenderTarget", RenderTargetIndex, pRenderTarget);
    auto* surface = dynamic_cast<Surface*>(pRenderTarget);
    if (RenderTargetIndex != 0 || surface == nullptr || surface->Link() != link_) return D3DERR_INVALIDCALL;
    if ((surface->Usage() & D3DUSAGE_RENDERTARGET) == 0 || surface->Pool() != D3DPOOL_DEFAULT ||
        (surface->Info().use & kFormatRenderTarget) == 0) {
        return D3DERR_INVALIDCALL;
    }
    renderTarget_ = ComPtr<Surface>(surface);
    state_.viewport = D3DVIEWPORT9{0, 0, surface->Width(), surface->Height(), 0.0f, 1.0f};
    state_.dirty |= kDirtyViewport;
    return D3D_OK;
}

HRESULT Device::SetDepthStencilSurface(IDirect3DSurface9* pNewZStencil) {
    RecordCall("SetDepthStencilSurface", pNewZStencil);
    auto* surface = dynamic_cast<Surface*>(pNewZStencil);
    if (pNewZStencil != nullptr && (surface == nullptr || surface->Link() != link_ ||
                                    (surface->Info().use & kFormatDepthStencil) == 0)) {
        return D3DERR_INVALIDCALL;
    }
    depthStencil_ = ComPtr<Surface>(surface);
    state_.dirty |= kDirtyRenderStates;
    return D3D_OK;
}

bool Device::DepthCoversTarget() const {
    return depthStencil_->Width() >= renderTarget_->Width() && depthStencil_->Height() >= renderTarget_->Height();
}

HRESULT Device::GetDepthStencilSurface(IDirect3DSurface9** ppZStencilSurface) {
    RecordCall("GetDepthStencilSurface", ppZStencilSurface);
    if (ppZStencilSurface == nullptr) return D3DERR_INVALIDCALL;
    *ppZStencilSurface = nullptr;
    if (!depthStencil_) return D3DERR_NOTFOUND;
    *ppZStencilSurface = depthStencil_.CopyOut();
    return D3D_OK;
}

// ---- Frame ----

HRESULT Device::BeginScene() {
    RecordCall("BeginScene");
    if (inScene_) return D3DERR_INVALIDCALL;
    inScene_ = true;
    return D3D_OK;
}

HRESULT Device::EndScene() {
    RecordCall("EndScene");
    if (!inScene_) return D3DERR_INVALIDCALL;
    inScene_ = false;
    return D3D_OK;
}

HRESULT Device::Clear(DWORD Count, const D3DRECT* pRects, DWORD Flags, D3DCOLOR Color, float Z, DWORD Stencil) {
    RecordCall("Clear", Count, pRects, Flags, Color, Z, Stencil);
    constexpr DWORD kClearFlags = D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL;
    if ((Flags & ~kClearFlags) != 0) return D3DERR_INVALIDCALL;
    if (Count > 0 && pRects == nullptr) return D3DERR_INVALIDCALL;
    bool target = (Flags & D3DCLEAR_TARGET) != 0;
    bool depth = (Flags & D3DCLEAR_ZBUFFER) != 0;
    bool stencil = (Flags & D3DCLEAR_STENCIL) != 0;
    const DepthLayout* layout = depthStencil_ ? FindDepthLayout(depthStencil_->Format()) : nullptr;
    if ((depth || stencil) && layout == nullptr) return D3DERR_INVALIDCALL;
    if (stencil && layout->stencilBits == 0) return D3DERR_INVALIDCALL;
    if (depth && !(Z >= 0.0f && Z <= 1.0f)) return D3DERR_INVALIDCALL;
    if ((target && renderTarget_->Locked()) || ((depth || stencil) && depthStencil_->Locked())) {
        return D3DERR_INVALIDCALL;
    }
    if ((depth || stencil) && !DepthCoversTarget()) return D3DERR_INVALIDCALL;

    const D3DVIEWPORT9& vp = state_.viewport;
    RECT viewport{static_cast<LONG>(vp.X), static_cast<LONG>(vp.Y), static_cast<LONG>(vp.X + vp.Width),
                  static_cast<LONG>(vp.Y + vp.Height)};
    auto clearArea = [&](const RECT& area) {
        if (target) {
            FillColour(*renderTarget_, area, Color);
            renderTarget_->MarkChanged();
        }
        if (depth || stencil) FillDepthStencil(*depthStencil_, *layout, area, depth, Z, stencil, Stencil);
    };
    if (Count == 0) {
        if (viewport.left < viewport.right && viewport.top < viewport.bottom) clearArea(viewport);
        return D3D_OK;
    }
    for (DWORD i = 0; i < Count; ++i) {
        RECT rect{pRects[i].x1, pRects[i].y1, pRects[i].x2, pRects[i].y2};
        RECT area;
        if (Intersect(rect, viewport, &area)) clearArea(area);
    }
    return D3D_OK;
}

// ---- Transforms, viewport, material, lights ----

HRESULT Device::SetTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) {
    RecordCall("SetTransform", State, In(pMatrix));
    int slot = TransformSlot(State);
    if (slot < 0 || pMatrix == nullptr) return D3DERR_INVALIDCALL;
    Target().transforms[static_cast<std::size_t>(slot)] = *pMatrix;
    Target().dirty |= kDirtyTransforms;
    if (StateMask* mask = RecordedMask()) mask->transforms.set(static_cast<std::size_t>(slot));
    return D3D_OK;
}

HRESULT Device::GetTransform(D3DTRANSFORMSTATETYPE State, D3DMATRIX* pMatrix) {
    RecordCall("GetTransform", State, pMatrix);
    int slot = TransformSlot(State);
    if (!StateReadable() || slot < 0 || pMatrix == nullptr) return D3DERR_INVALIDCALL;
    *pMatrix = state_.transforms[static_cast<std::size_t>(slot)];
    return D3D_OK;
}

HRESULT Device::SetViewport(const D3DVIEWPORT9* pViewport) {
    RecordCall("SetViewport", In(pViewport));
    if (pViewport == nullptr) return D3DERR_INVALIDCALL;
    std::uint64_t right = std::uint64_t{pViewport->X} + pViewport->Width;
    std::uint64_t bottom = std::uint64_t{pViewport->Y} + pViewport->Height;
    if (right > renderTarget_->Width() || bottom > renderTarget_->Height()) return D3DERR_INVALIDCALL;
    Target().viewport = *pViewport;
    Target().dirty |= kDirtyViewport;
    if (StateMask* mask = RecordedMask()) mask->viewport = true;
    return D3D_OK;
}

HRESULT Device::GetViewport(D3DVIEWPORT9* pViewport) {
    RecordCall("GetViewport", pViewport);
    if (!StateReadable() || pViewport == nullptr) return D3DERR_INVALIDCALL;
    *pViewport = state_.viewport;
    return D3D_OK;
}

HRESULT Device::SetMaterial(const D3DMATERIAL9* pMaterial) {
    RecordCall("SetMaterial", In(pMaterial));
    if (pMaterial == nullptr) return D3DERR_INVALIDCALL;
    Target().material = *pMaterial;
    Target().dirty |= kDirtyMaterial;
    if (StateMask* mask = RecordedMask()) mask->material = true;
    return D3D_OK;
}

HRESULT Device::GetMaterial(D3DMATERIAL9* pMaterial) {
    RecordCall("GetMaterial", pMaterial);
    if (!StateReadable() || pMaterial == nullptr) return D3DERR_INVALIDCALL;
    *pMaterial = state_.material;
    return D3D_OK;
}

HRESULT Device::SetLight(DWORD Index, const D3DLIGHT9* pLight) {
    RecordCall("SetLight", Index, In(pLight));
    if (pLight == nullptr) return D3DERR_INVALIDCALL;
    if (pLight->Type < D3DLIGHT_POINT || pLight->Type > D3DLIGHT_DIRECTIONAL) return D3DERR_INVALIDCALL;
    // Point and spot lights need a range from 0 to the square root of the largest float.
    static const float kMaxRange = std::sqrt(std::numeric_limits<float>::max());
    if (pLight->Type != D3DLIGHT_DIRECTIONAL && !(pLight->Range >= 0.0f && pLight->Range <= kMaxRange)) {
        return D3DERR_INVALIDCALL;
    }
    auto [it, added] = Target().lights.try_emplace(Index, LightRecord{*pLight, false});
    if (!added) it->second.light = *pLight;
    Target().dirty |= kDirtyLights;
    if (StateMask* mask = RecordedMask()) mask->lights.insert(Index);
    return D3D_OK;
}

HRESULT Device::GetLight(DWORD Index, D3DLIGHT9* pLight) {
    RecordCall("GetLight", Index, pLight);
    if (!StateReadable() || pLight == nullptr) return D3DERR_INVALIDCALL;
    auto it = state_.lights.find(Index);
    if (it == state_.lights.end()) return D3DERR_INVALIDCALL;
    *pLight = it->second.light;
    return D3D_OK;
}

HRESULT Device::LightEnable(DWORD Index, BOOL Enable) {
    RecordCall("LightEnable", Index, Enable);
    auto [it, added] = Target().lights.try_emplace(Index, LightRecord{DefaultLight(), false});
    it->second.enabled = Enable != FALSE;
    Target().dirty |= kDirtyLights;
    if (StateMask* mask = RecordedMask()) mask->lightEnables.insert(Index);
    return D3D_OK;
}

HRESULT Device::GetLightEnable(DWORD Index, BOOL* pEnable) {
    RecordCall("GetLightEnable", Index, pEnable);
    if (!StateReadable() || pEnable == nullptr) return D3DERR_INVALIDCALL;
    auto it = state_.lights.find(Index);
    if (it == state_.lights.end()) return D3DERR_INVALIDCALL;
    *pEnable = it->second.enabled ? TRUE : FALSE;
    return D3D_OK;
}

// ---- Render, texture-stage and sampler states; textures; N-patch mode ----

HRESULT Device::SetRenderState(D3DRENDERSTATETYPE State, DWORD Value) {
    RecordCall("SetRenderState", State, Value);
    if (!IsRenderState(State)) return D3DERR_INVALIDCALL;
    Target().renderStates[State] = Value;
    Target().dirty |= kDirtyRenderStates;
    if (StateMask* mask = RecordedMask()) mask->renderStates.set(State);
    return D3D_OK;
}

HRESULT Device::GetRenderState(D3DRENDERSTATETYPE State, DWORD* pValue) {
    RecordCall("GetRenderState", State, pValue);
    if (!StateReadable() || pValue == nullptr || !IsRenderState(State)) return D3DERR_INVALIDCALL;
    *pValue = state_.renderStates[State];
    return D3D_OK;
}

HRESULT Device::GetTexture(DWORD Stage, IDirect3DBaseTexture9** ppTexture) {
    RecordCall("GetTexture", Stage, ppTexture);
    if (ppTexture == nullptr) return D3DERR_INVALIDCALL;
    *ppTexture = nullptr;
    int slot = SamplerSlot(Stage);
    if (!StateReadable() || slot < 0) return D3DERR_INVALIDCALL;
    *ppTexture = state_.textures[static_cast<std::size_t>(slot)].CopyOut();
    return D3D_OK;
}

HRESULT Device::SetTexture(DWORD Stage, IDirect3DBaseTexture9* pTexture) {
    RecordCall("SetTexture", Stage, pTexture);
    int slot = SamplerSlot(Stage);
    if (slot < 0) return D3DERR_INVALIDCALL;
    // Only this device's textures, and none of the scratch pool, can be bound.
    if (pTexture != nullptr) {
        TextureCore* core = CoreOf(pTexture);
        if (core == nullptr || core->CoreLink() != link_ || core->TexturePool() == D3DPOOL_SCRATCH) {
            return D3DERR_INVALIDCALL;
        }
    }
    Target().textures[static_cast<std::size_t>(slot)] = ComPtr<IDirect3DBaseTexture9>(pTexture);
    Target().dirty |= kDirtyTextures;
    if (StateMask* mask = RecordedMask()) mask->textures.set(static_cast<std::size_t>(slot));
    return D3D_OK;
}

HRESULT Device::GetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD* pValue) {
    RecordCall("GetTextureStageState", Stage, Type, pValue);
    if (!StateReadable() || pValue == nullptr || Stage >= kMaxTextureBlendStages || !IsStageState(Type)) {
        return D3DERR_INVALIDCALL;
    }
    *pValue = state_.stageStates[Stage][Type];
    return D3D_OK;
}

HRESULT Device::SetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD Value) {
    RecordCall("SetTextureStageState", Stage, Type, Value);
    if (Stage >= kMaxTextureBlendStages || !IsStageState(Type)) return D3DERR_INVALIDCALL;
    Target().stageStates[Stage][Type] = Value;
    Target().dirty |= kDirtyTextureStages;
    if (StateMask* mask = RecordedMask()) mask->stageStates[Stage].set(Type);
    return D3D_OK;
}

HRESULT Device::GetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD* pValue) {
    RecordCall("GetSamplerState", Sampler, Type, pValue);
    int slot = SamplerSlot(Sampler);
    if (!StateReadable() || pValue == nullptr || slot < 0 || !IsSamplerState(Type)) return D3DERR_INVALIDCALL;
    *pValue = state_.samplerStates[static_cast<std::size_t>(slot)][Type];
    return D3D_OK;
}

HRESULT Device::SetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD Value) {
    RecordCall("SetSamplerState", Sampler, Type, Value);
    int slot = SamplerSlot(Sampler);
    if (slot < 0 || !IsSamplerState(Type)) return D3DERR_INVALIDCALL;
    Target().samplerStates[static_cast<std::size_t>(slot)][Type] = Value;
    Target().dirty |= kDirtySamplers;
    if (StateMask* mask = RecordedMask()) mask->samplerStates[static_cast<std::size_t>(slot)].set(Type);
    return D3D_OK;
}

HRESULT Device::SetNPatchMode(float nSegments) {
    RecordCall("SetNPatchMode", nSegments);
    Target().nPatchSegments = nSegments;
    if (StateMask* mask = RecordedMask()) mask->nPatchMode = true;
    return D3D_OK;
}

float Device::GetNPatchMode() {
    RecordCall("GetNPatchMode");
    return state_.nPatchSegments;
}

// ---- Buffers and bindings ----

HRESULT Device::CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                                   IDirect3DVertexBuffer9** ppVertexBuffer, HANDLE* pSharedHandle) {
    RecordCall("CreateVertexBuffer", Length, Usage, FVF, Pool, ppVertexBuffer, pSharedHandle);
    if (ppVertexBuffer == nullptr) return D3DERR_INVALIDCALL;
    *ppVertexBuffer = nullptr;
    if (pSharedHandle != nullptr || Length == 0 || (Usage & ~kBufferUsages) != 0) return D3DERR_INVALIDCALL;
    if (Pool > D3DPOOL_SYSTEMMEM || (Pool == D3DPOOL_MANAGED && (Usage & D3DUSAGE_DYNAMIC))) return D3DERR_INVALIDCALL;
    if (!IsValidFvf(FVF) || (FVF != 0 && Length < FvfVertexSize(FVF))) return D3DERR_INVALIDCALL;
    ComPtr<VertexBuffer> buffer = VertexBuffer::Create(link_, Length, Usage, FVF, Pool);
    if (!buffer) return Pool == D3DPOOL_DEFAULT ? D3DERR_OUTOFVIDEOMEMORY : E_OUTOFMEMORY;
    *ppVertexBuffer = buffer.Detach();
    return D3D_OK;
}

HRESULT Device::CreateIndexBuffer(UINT Length, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                                  IDirect3DIndexBuffer9** ppIndexBuffer, HANDLE* pSharedHandle) {
    RecordCall("CreateIndexBuffer", Length, Usage, Format, Pool, ppIndexBuffer, pSharedHandle);
    if (ppIndexBuffer == nullptr) return D3DERR_INVALIDCALL;
    *ppIndexBuffer = nullptr;
    if (pSharedHandle != nullptr || Length == 0 || (Usage & ~kBufferUsages) != 0) return D3DERR_INVALIDCALL;
    if (Pool > D3DPOOL_SYSTEMMEM || (Pool == D3DPOOL_MANAGED && (Usage & D3DUSAGE_DYNAMIC))) return D3DERR_INVALIDCALL;
    if (Format != D3DFMT_INDEX16 && Format != D3DFMT_INDEX32) return D3DERR_INVALIDCALL;
    ComPtr<IndexBuffer> buffer = IndexBuffer::Create(link_, Length, Usage, Format, Pool);
    if (!buffer) return Pool == D3DPOOL_DEFAULT ? D3DERR_OUTOFVIDEOMEMORY : E_OUTOFMEMORY;
    *ppIndexBuffer = buffer.Detach();
    return D3D_OK;
}

HRESULT Device::SetFVF(DWORD FVF) {
    RecordCall("SetFVF", FVF);
    if (!IsValidFvf(FVF)) return D3DERR_INVALIDCALL;
    Target().fvf = FVF;
    Target().declaration = FVF != 0 ? DeclarationForFvf(FVF) : nullptr;
    Target().dirty |= kDirtyVertexFormat;
    if (StateMask* mask = RecordedMask()) mask->fvf = true;
    return D3D_OK;
}

HRESULT Device::GetFVF(DWORD* pFVF) {
    RecordCall("GetFVF", pFVF);
    if (!StateReadable() || pFVF == nullptr) return D3DERR_INVALIDCALL;
    *pFVF = state_.fvf;
    return D3D_OK;
}

HRESULT Device::CreateVertexDeclaration(const D3DVERTEXELEMENT9* pVertexElements, IDirect3DVertexDeclaration9** ppDecl) {
    RecordCall("CreateVertexDeclaration", pVertexElements, ppDecl);
    if (ppDecl == nullptr) return D3DERR_INVALIDCALL;
    *ppDecl = nullptr;
    if (pVertexElements == nullptr) return D3DERR_INVALIDCALL;
    ComPtr<VertexDeclaration> made = VertexDeclaration::FromElements(link_, pVertexElements);
    if (!made) return D3DERR_INVALIDCALL;
    *ppDecl = made.Detach();
    return D3D_OK;
}

HRESULT Device::SetVertexDeclaration(IDirect3DVertexDeclaration9* pDecl) {
    RecordCall("SetVertexDeclaration", pDecl);
    auto* declaration = dynamic_cast<VertexDeclaration*>(pDecl);
    if (pDecl != nullptr && (declaration == nullptr || declaration->Link() != link_)) return D3DERR_INVALIDCALL;
    Target().declaration = ComPtr<VertexDeclaration>(declaration);
    Target().fvf = declaration != nullptr ? declaration->Fvf() : 0;
    Target().dirty |= kDirtyVertexFormat;
    if (StateMask* mask = RecordedMask()) mask->fvf = true;
    return D3D_OK;
}

HRESULT Device::GetVertexDeclaration(IDirect3DVertexDeclaration9** ppDecl) {
    RecordCall("GetVertexDeclaration", ppDecl);
    if (ppDecl == nullptr) return D3DERR_INVALIDCALL;
    *ppDecl = nullptr;
    if (!StateReadable()) return D3DERR_INVALIDCALL;
    *ppDecl = state_.declaration.CopyOut();
    return D3D_OK;
}

HRESULT Device::SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9* pStreamData, UINT OffsetInBytes,
                                UINT Stride) {
    RecordCall("SetStreamSource", StreamNumber, pStreamData, OffsetInBytes, Stride);
    if (StreamNumber >= kMaxStreams || Stride > kMaxStreamStride) return D3DERR_INVALIDCALL;
    auto* buffer = dynamic_cast<VertexBuffer*>(pStreamData);
    if (pStreamData != nullptr && (buffer == nullptr || buffer->Link() != link_)) return D3DERR_INVALIDCALL;
    Target().streams[StreamNumber] = StreamBinding{ComPtr<VertexBuffer>(buffer), OffsetInBytes, Stride};
    Target().dirty |= kDirtyStreams;
    if (StateMask* mask = RecordedMask()) mask->streams.set(StreamNumber);
    return D3D_OK;
}

HRESULT Device::GetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9** ppStreamData, UINT* pOffsetInBytes,
                                UINT* pStride) {
    RecordCall("GetStreamSource", StreamNumber, ppStreamData, pOffsetInBytes, pStride);
    if (ppStreamData == nullptr || pOffsetInBytes == nullptr || pStride == nullptr) return D3DERR_INVALIDCALL;
    *ppStreamData = nullptr;
    if (!StateReadable() || StreamNumber >= kMaxStreams) return D3DERR_INVALIDCALL;
    const StreamBinding& binding = state_.streams[StreamNumber];
    *ppStreamData = binding.buffer.CopyOut();
    *pOffsetInBytes = binding.offset;
    *pStride = binding.stride;
    return D3D_OK;
}

HRESULT Device::SetIndices(IDirect3DIndexBuffer9* pIndexData) {
    RecordCall("SetIndices", pIndexData);
    auto* buffer = dynamic_cast<IndexBuffer*>(pIndexData);
    if (pIndexData != nullptr && (buffer == nullptr || buffer->Link() != link_)) return D3DERR_INVALIDCALL;
    Target().indices = ComPtr<IndexBuffer>(buffer);
    Target().dirty |= kDirtyIndices;
    if (StateMask* mask = RecordedMask()) mask->indices = true;
    return D3D_OK;
}

HRESULT Device::GetIndices(IDirect3DIndexBuffer9** ppIndexData) {
    RecordCall("GetIndices", ppIndexData);
    if (ppIndexData == nullptr) return D3DERR_INVALIDCALL;
    *ppIndexData = nullptr;
    if (!StateReadable()) return D3DERR_INVALIDCALL;
    *ppIndexData = state_.indices.CopyOut();
    return D3D_OK;
}

// ---- Draws ----

HRESULT Device::CheckDraw(D3DPRIMITIVETYPE type, UINT primitiveCount) const {
    if (!inScene_ || !IsKnownPrimitiveType(type)) return D3DERR_INVALIDCALL;
    if (primitiveCount == 0 || primitiveCount > kMaxPrimitiveCount) return D3DERR_INVALIDCALL;
    if (state_.fvf == 0 && !state_.declaration) return D3DERR_INVALIDCALL;
    // Shader programs are kept but not run; drawing the call with the fixed-function stages instead
    // would put pixels on the target that the program would not have drawn.
    if (state_.vertexShader || state_.pixelShader) return D3DERR_NOTAVAILABLE;
    return D3D_OK;
}

ComPtr<VertexDeclaration> Device::DeclarationForFvf(DWORD fvf) {
    auto found = fvfDeclarations_.find(fvf);
    if (found != fvfDeclarations_.end()) return found->second;
    ComPtr<VertexDeclaration> made = VertexDeclaration::FromFvf(link_, fvf);
    fvfDeclarations_.emplace(fvf, made);
    return made;
}

ComPtr<VertexDeclaration> Device::InputDeclaration() {
    // A vertex format word, when set, is what draws read (a declaration made by SetFVF matches it).
    if (state_.fvf != 0) return DeclarationForFvf(state_.fvf);
    return state_.declaration;
}

HRESULT Device::BindStreams(const InputLayout& layout, DrawRequest* request) const {
    for (UINT s = 0; s < kMaxStreams; ++s) {
        UINT extent = layout.streamExtent[s];
        if (extent == 0) continue;
        const StreamBinding& stream = state_.streams[s];
        if (!stream.buffer || stream.buffer->Buffer().Locked()) return D3DERR_INVALIDCALL;
        if (stream.stride == 0 || stream.stride < extent) return D3DERR_INVALIDCALL;
        const LinearBuffer& buffer = stream.buffer->Buffer();
        if (stream.offset >= buffer.Length()) return D3DERR_INVALIDCALL;
        VertexSource& source = request->streams[s];
        source.keepAlive = buffer.Storage();
        source.data = buffer.Storage()->Data() + stream.offset;
        source.size = buffer.Length() - stream.offset;
        source.stride = stream.stride;
    }
    return D3D_OK;
}

HRESULT Device::Submit(const DrawRequest& request) {
    RenderTargets targets{renderTarget_.Get(), depthStencil_.Get()};
    if (renderTarget_->Locked() || (depthStencil_ && depthStencil_->Locked())) return D3DERR_INVALIDCALL;
    if (depthStencil_ && !DepthCoversTarget()) return D3DERR_INVALIDCALL;
    HRESULT hr = pipeline_.Draw(state_, state_.dirty, targets, request);
    if (SUCCEEDED(hr)) state_.dirty = 0;
    // A texture drawn into is sampled afresh.
    renderTarget_->MarkChanged();
    return hr;
}

namespace {

// True when `count` vertices, starting at vertex `first`, fit in every stream the layout reads.
bool VerticesFit(std::uint64_t first, std::uint64_t count, const InputLayout& layout, const DrawRequest& request) {
    if (count == 0) return true;
    for (UINT s = 0; s < kMaxStreams; ++s) {
        UINT extent = layout.streamExtent[s];
        if (extent == 0) continue;
        const VertexSource& source = request.streams[s];
        if ((first + count - 1) * source.stride + extent > source.size) return false;
    }
    return true;
}

// Draws from caller memory read stream 0 only.
bool ReadsStreamZeroOnly(const InputLayout& layout) {
    for (UINT s = 1; s < kMaxStreams; ++s) {
        if (layout.streamExtent[s] != 0) return false;
    }
    return true;
}

}  // namespace

HRESULT Device::DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex, UINT PrimitiveCount) {
    RecordCall("DrawPrimitive", PrimitiveType, StartVertex, PrimitiveCount);
    if (HRESULT hr = CheckDraw(PrimitiveType, PrimitiveCount); FAILED(hr)) return hr;
    DrawRequest request;
    request.declaration = InputDeclaration();
    const InputLayout& layout = request.declaration->Layout();
    if (HRESULT hr = BindStreams(layout, &request); FAILED(hr)) return hr;
    request.type = PrimitiveType;
    request.primitiveCount = PrimitiveCount;
    request.vertexCount = static_cast<UINT>(VerticesForPrimitives(PrimitiveType, PrimitiveCount));
    request.firstVertex = StartVertex;
    if (!VerticesFit(StartVertex, request.vertexCount, layout, request)) return D3DERR_INVALIDCALL;
    return Submit(request);
}

HRESULT Device::DrawIndexedPrimitive(D3DPRIMITIVETYPE PrimitiveType, INT BaseVertexIndex, UINT MinVertexIndex,
                                     UINT NumVertices, UINT startIndex, UINT primCount) {
    RecordCall("DrawIndexedPrimitive", PrimitiveType, BaseVertexIndex, MinVertexIndex, NumVertices, startIndex,
               primCount);
    if (HRESULT hr = CheckDraw(PrimitiveType, primCount); FAILED(hr)) return hr;
    if (!state_.indices || state_.indices->Buffer().Locked() || NumVertices == 0) return D3DERR_INVALIDCALL;
    DrawRequest request;
    request.declaration = InputDeclaration();
    const InputLayout& layout = request.declaration->Layout();
    if (HRESULT hr = BindStreams(layout, &request); FAILED(hr)) return hr;
    request.type = PrimitiveType;
    request.primitiveCount = primCount;
    request.vertexCount = static_cast<UINT>(VerticesForPrimitives(PrimitiveType, primCount));
    request.indexed = true;
    request.baseVertexIndex = BaseVertexIndex;
    request.minVertexIndex = MinVertexIndex;
    request.numVertices = NumVertices;
    request.firstIndex = startIndex;

    const IndexBuffer& indices = *state_.indices;
    std::size_t indexCount = indices.Buffer().Length() / indices.IndexSize();
    if (std::uint64_t{startIndex} + request.vertexCount > indexCount) return D3DERR_INVALIDCALL;
    std::int64_t firstVertex = std::int64_t{BaseVertexIndex} + MinVertexIndex;
    if (firstVertex < 0 || !VerticesFit(static_cast<std::uint64_t>(firstVertex), NumVertices, layout, request)) {
        return D3DERR_INVALIDCALL;
    }
    request.indices.keepAlive = indices.Buffer().Storage();
    request.indices.data = indices.Buffer().Storage()->Data();
    request.indices.count = indexCount;
    request.indices.indexSize = indices.IndexSize();
    return Submit(request);
}

HRESULT Device::DrawPrimitiveUP(D3DPRIMITIVETYPE PrimitiveType, UINT PrimitiveCount, const void* pVertexStreamZeroData,
                                UINT VertexStreamZeroStride) {
    RecordCall("DrawPrimitiveUP", PrimitiveType, PrimitiveCount, pVertexStreamZeroData, VertexStreamZeroStride);
    if (HRESULT hr = CheckDraw(PrimitiveType, PrimitiveCount); FAILED(hr)) return hr;
    DrawRequest request;
    request.declaration = InputDeclaration();
    const InputLayout& layout = request.declaration->Layout();
    UINT vertexSize = layout.streamExtent[0];
    if (pVertexStreamZeroData == nullptr || VertexStreamZeroStride == 0 || VertexStreamZeroStride < vertexSize ||
        !ReadsStreamZeroOnly(layout)) {
        return D3DERR_INVALIDCALL;
    }
    request.type = PrimitiveType;
    request.primitiveCount = PrimitiveCount;
    request.vertexCount = static_cast<UINT>(VerticesForPrimitives(PrimitiveType, PrimitiveCount));
    request.streams[0].data = static_cast<const std::byte*>(pVertexStreamZeroData);
    request.streams[0].size = static_cast<std::size_t>(request.vertexCount - 1) * VertexStreamZeroStride + vertexSize;
    request.streams[0].stride = VertexStreamZeroStride;
    HRESULT hr = Submit(request);
    // As on the platform, a draw from caller memory leaves stream 0 unbound.
    state_.streams[0] = StreamBinding{};
    state_.dirty |= kDirtyStreams;
    return hr;
}

HRESULT Device::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE PrimitiveType, UINT MinVertexIndex, UINT NumVertices,
                                       UINT PrimitiveCount, const void* pIndexData, D3DFORMAT IndexDataFormat,
                                       const void* pVertexStreamZeroData, UINT VertexStreamZeroStride) {
    RecordCall("DrawIndexedPrimitiveUP", PrimitiveType, MinVertexIndex, NumVertices, PrimitiveCount, pIndexData,
               IndexDataFormat, pVertexStreamZeroData, VertexStreamZeroStride);
    if (HRESULT hr = CheckDraw(PrimitiveType, PrimitiveCount); FAILED(hr)) return hr;
    DrawRequest request;
    request.declaration = InputDeclaration();
    const InputLayout& layout = request.declaration->Layout();
    UINT vertexSize = layout.streamExtent[0];
    if (pIndexData == nullptr || pVertexStreamZeroData == nullptr || NumVertices == 0) return D3DERR_INVALIDCALL;
    if (IndexDataFormat != D3DFMT_INDEX16 && IndexDataFormat != D3DFMT_INDEX32) return D3DERR_INVALIDCALL;
    if (VertexStreamZeroStride == 0 || VertexStreamZeroStride < vertexSize || !ReadsStreamZeroOnly(layout)) {
        return D3DERR_INVALIDCALL;
    }
    request.type = PrimitiveType;
    request.primitiveCount = PrimitiveCount;
    request.vertexCount = static_cast<UINT>(VerticesForPrimitives(PrimitiveType, PrimitiveCount));
    request.indexed = true;
    request.minVertexIndex = MinVertexIndex;
    request.numVertices = NumVertices;
    request.streams[0].data = static_cast<const std::byte*>(pVertexStreamZeroData);
    request.streams[0].size =
        static_cast<std::size_t>(std::uint64_t{MinVertexIndex} + NumVertices - 1) * VertexStreamZeroStride + vertexSize;
    request.streams[0].stride = VertexStreamZeroStride;
    request.indices.data = static_cast<const std::byte*>(pIndexData);
    request.indices.count = request.vertexCount;
    request.indices.indexSize = IndexDataFormat == D3DFMT_INDEX32 ? 4 : 2;
    HRESULT hr = Submit(request);
    // As on the platform, a draw from caller memory leaves stream 0 and the index buffer unbound.
    state_.streams[0] = StreamBinding{};
    state_.indices.Reset();
    state_.dirty |= kDirtyStreams | kDirtyIndices;
    return hr;
}

}  // namespace qm::d3d9
