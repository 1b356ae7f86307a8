// creation_state_test.cpp: device creation and its parameters, capabilities, the default device
// state, Set/Get round trips with their validation, lights, and the pure device.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/d3d9/d3d9.h"
#include "tests/platform/d3d9/d3d9_test_support.h"

namespace {

using d3d9test::AsFloat;
using d3d9test::CapturingWindow;
using d3d9test::EngineParameters;
using d3d9test::MakeDevice;

bool SameMatrix(const D3DMATRIX& a, const D3DMATRIX& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

D3DMATRIX Identity() {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

TEST(D3d9Creation, OnlyTheKnownVersionMakesAnObject) {
    EXPECT_EQ(Direct3DCreate9(32), nullptr);
    EXPECT_EQ(Direct3DCreate9(0), nullptr);
    ComPtr<IDirect3D9> d3d = ComPtr<IDirect3D9>::Adopt(Direct3DCreate9(31));
    ASSERT_TRUE(d3d);
    EXPECT_EQ(d3d->GetAdapterCount(), 1u);
    D3DDISPLAYMODE mode{};
    EXPECT_EQ(d3d->GetAdapterDisplayMode(0, &mode), D3D_OK);
    EXPECT_EQ(mode.Format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(d3d->GetAdapterDisplayMode(1, &mode), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d->GetAdapterDisplayMode(0, nullptr), D3DERR_INVALIDCALL);
}

TEST(D3d9Creation, ParametersAreCompletedFromTheWindow) {
    CapturingWindow sized(320, 200);
    D3DPRESENT_PARAMETERS filled{};
    ComPtr<IDirect3DDevice9> device = MakeDevice(sized.Handle(), D3DFMT_D16, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &filled);
    ASSERT_TRUE(device);
    EXPECT_EQ(filled.BackBufferWidth, 320u);
    EXPECT_EQ(filled.BackBufferHeight, 200u);
    EXPECT_EQ(filled.BackBufferFormat, D3DFMT_X8R8G8B8);
    EXPECT_EQ(filled.BackBufferCount, 1u);

    ComPtr<IDirect3DSurface9> back, target, depth;
    ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, back.ReleaseAndGetAddressOf()), D3D_OK);
    ASSERT_EQ(device->GetRenderTarget(0, target.ReleaseAndGetAddressOf()), D3D_OK);
    EXPECT_EQ(back.Get(), target.Get());
    D3DSURFACE_DESC desc{};
    back->GetDesc(&desc);
    EXPECT_EQ(desc.Width, 320u);
    EXPECT_EQ(desc.Height, 200u);
    EXPECT_EQ(desc.Format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(desc.Usage, D3DUSAGE_RENDERTARGET);
    ASSERT_EQ(device->GetDepthStencilSurface(depth.ReleaseAndGetAddressOf()), D3D_OK);
    depth->GetDesc(&desc);
    EXPECT_EQ(desc.Format, D3DFMT_D16);
    EXPECT_EQ(desc.Width, 320u);
    EXPECT_EQ(desc.Usage, D3DUSAGE_DEPTHSTENCIL);
    EXPECT_EQ(device->GetRenderTarget(1, target.ReleaseAndGetAddressOf()), D3DERR_INVALIDCALL);
    EXPECT_EQ(target.Get(), nullptr);

    // A window with no recorded size gives 640 x 480; a given size is kept as it is.
    CapturingWindow unsized;
    MakeDevice(unsized.Handle(), D3DFMT_D16, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &filled);
    EXPECT_EQ(filled.BackBufferWidth, 640u);
    EXPECT_EQ(filled.BackBufferHeight, 480u);

    // The device window's size counts, not the focus window's; only zero sides are filled in.
    ComPtr<IDirect3D9> d3d = ComPtr<IDirect3D9>::Adopt(Direct3DCreate9(31));
    D3DPRESENT_PARAMETERS params = EngineParameters(sized.Handle());
    params.BackBufferHeight = 50;
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_REF, unsized.Handle(), D3DCREATE_HARDWARE_VERTEXPROCESSING, &params,
                                device.ReleaseAndGetAddressOf()),
              D3D_OK);
    EXPECT_EQ(params.BackBufferWidth, 320u);
    EXPECT_EQ(params.BackBufferHeight, 50u);
    D3DDEVICE_CREATION_PARAMETERS creation{};
    device->GetCreationParameters(&creation);
    EXPECT_EQ(creation.DeviceType, D3DDEVTYPE_REF);
    EXPECT_EQ(creation.hFocusWindow, unsized.Handle());
    EXPECT_EQ(creation.BehaviorFlags, D3DCREATE_HARDWARE_VERTEXPROCESSING);
    ComPtr<IDirect3D9> creator;
    device->GetDirect3D(creator.ReleaseAndGetAddressOf());
    EXPECT_EQ(creator.Get(), d3d.Get());
}

TEST(D3d9Creation, RefusesWhatItCannotMake) {
    CapturingWindow window(64, 64);
    ComPtr<IDirect3D9> d3d = ComPtr<IDirect3D9>::Adopt(Direct3DCreate9(31));
    auto create = [&](UINT adapter, D3DDEVTYPE type, DWORD flags, D3DPRESENT_PARAMETERS params) {
        IDirect3DDevice9* device = reinterpret_cast<IDirect3DDevice9*>(&params);  // must be overwritten
        HRESULT hr = d3d->CreateDevice(adapter, type, window.Handle(), flags, &params, &device);
        if (SUCCEEDED(hr)) {
            device->Release();
        } else {
            EXPECT_EQ(device, nullptr);
        }
        return hr;
    };
    const D3DPRESENT_PARAMETERS good = EngineParameters(window.Handle());
    constexpr DWORD kSoftware = D3DCREATE_SOFTWARE_VERTEXPROCESSING;
    constexpr DWORD kHardware = D3DCREATE_HARDWARE_VERTEXPROCESSING;
    EXPECT_EQ(create(0, D3DDEVTYPE_HAL, kSoftware, good), D3D_OK);
    EXPECT_EQ(create(0, D3DDEVTYPE_HAL, D3DCREATE_MIXED_VERTEXPROCESSING, good), D3D_OK);
    EXPECT_EQ(create(0, D3DDEVTYPE_REF, kHardware | D3DCREATE_PUREDEVICE, good), D3D_OK);
    // Exactly one vertex-processing flag; pure only with hardware processing.
    EXPECT_EQ(create(0, D3DDEVTYPE_HAL, 0, good), D3DERR_INVALIDCALL);
    EXPECT_EQ(create(0, D3DDEVTYPE_HAL, kSoftware | kHardware, good), D3DERR_INVALIDCALL);
    EXPECT_EQ(create(0, D3DDEVTYPE_HAL, kSoftware | D3DCREATE_PUREDEVICE, good), D3DERR_INVALIDCALL);
    EXPECT_EQ(create(1, D3DDEVTYPE_HAL, kSoftware, good), D3DERR_INVALIDCALL);
    EXPECT_EQ(create(0, D3DDEVTYPE_SW, kSoftware, good), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(create(0, static_cast<D3DDEVTYPE>(9), kSoftware, good), D3DERR_INVALIDCALL);

    D3DPRESENT_PARAMETERS p = good;
    p.Windowed = FALSE;
    EXPECT_EQ(create(0, D3DDEVTYPE_HAL, kSoftware, p), D3DERR_NOTAVAILABLE);
    p = good;
    p.AutoDepthStencilFormat = D3DFMT_X8R8G8B8;
    EXPECT_EQ(create(0, D3DDEVTYPE_HAL, kSoftware, p), D3DERR_INVALIDCALL);
    p = good;
    p.BackBufferFormat = D3DFMT_R5G6B5;
    EXPECT_EQ(create(0, D3DDEVTYPE_HAL, kSoftware, p), D3DERR_NOTAVAILABLE);
    p = good;
    p.BackBufferWidth = 100000;
    EXPECT_EQ(create(0, D3DDEVTYPE_HAL, kSoftware, p), D3DERR_INVALIDCALL);
    p = good;
    p.SwapEffect = static_cast<D3DSWAPEFFECT>(0);
    EXPECT_EQ(create(0, D3DDEVTYPE_HAL, kSoftware, p), D3DERR_INVALIDCALL);
    p = good;
    p.PresentationInterval = D3DPRESENT_INTERVAL_TWO;
    EXPECT_EQ(create(0, D3DDEVTYPE_HAL, kSoftware, p), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window.Handle(), kSoftware, nullptr, nullptr), D3DERR_INVALIDCALL);
}

TEST(D3d9Caps, DescribeTheSoftwareDeviceAndMatchItsLimits) {
    static_assert(sizeof(D3DCAPS9) == 304);
    ComPtr<IDirect3D9> d3d = ComPtr<IDirect3D9>::Adopt(Direct3DCreate9(31));
    D3DCAPS9 hal{}, ref{};
    ASSERT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &hal), D3D_OK);
    ASSERT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_REF, &ref), D3D_OK);
    EXPECT_EQ(hal.DeviceType, D3DDEVTYPE_HAL);
    EXPECT_EQ(ref.DeviceType, D3DDEVTYPE_REF);
    EXPECT_EQ(d3d->GetDeviceCaps(1, D3DDEVTYPE_HAL, &hal), D3DERR_INVALIDCALL);
    // No shaders yet: the engine must take its fixed-function creation order.
    EXPECT_EQ(hal.VertexShaderVersion, 0xFFFE0000u);
    EXPECT_EQ(hal.PixelShaderVersion, 0xFFFF0000u);
    EXPECT_LT(hal.VertexShaderVersion, D3DVS_VERSION(1, 0));

    // The limits the caps announce are the ones the device enforces.
    CapturingWindow window(16, 16);
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    D3DCAPS9 fromDevice{};
    device->GetDeviceCaps(&fromDevice);
    EXPECT_EQ(std::memcmp(&fromDevice, &hal, sizeof hal), 0);
    EXPECT_EQ(device->SetTextureStageState(hal.MaxTextureBlendStages - 1, D3DTSS_COLOROP, D3DTOP_ADD), D3D_OK);
    EXPECT_EQ(device->SetTextureStageState(hal.MaxTextureBlendStages, D3DTSS_COLOROP, D3DTOP_ADD), D3DERR_INVALIDCALL);
    ComPtr<IDirect3DVertexBuffer9> vb;
    device->CreateVertexBuffer(64, 0, 0, D3DPOOL_DEFAULT, vb.ReleaseAndGetAddressOf(), nullptr);
    EXPECT_EQ(device->SetStreamSource(hal.MaxStreams - 1, vb.Get(), 0, hal.MaxStreamStride), D3D_OK);
    EXPECT_EQ(device->SetStreamSource(hal.MaxStreams, vb.Get(), 0, 16), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetStreamSource(0, vb.Get(), 0, hal.MaxStreamStride + 1), D3DERR_INVALIDCALL);
    DWORD pointSizeMax = 0;
    device->GetRenderState(D3DRS_POINTSIZE_MAX, &pointSizeMax);
    EXPECT_EQ(AsFloat(pointSizeMax), hal.MaxPointSize);
}

TEST(D3d9State, FreshDeviceHasThePlatformDefaults) {
    CapturingWindow window(40, 30);
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    struct Expected {
        D3DRENDERSTATETYPE state;
        DWORD value;
    };
    const Expected renderStates[] = {
        {D3DRS_ZENABLE, D3DZB_TRUE},         {D3DRS_CULLMODE, D3DCULL_CCW},
        {D3DRS_LIGHTING, TRUE},              {D3DRS_AMBIENT, 0},
        {D3DRS_SRCBLEND, D3DBLEND_ONE},      {D3DRS_DESTBLEND, D3DBLEND_ZERO},
        {D3DRS_ALPHABLENDENABLE, FALSE},     {D3DRS_ALPHAFUNC, D3DCMP_ALWAYS},
        {D3DRS_ZFUNC, D3DCMP_LESSEQUAL},     {D3DRS_ZWRITEENABLE, TRUE},
        {D3DRS_COLORVERTEX, TRUE},           {D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1},
        {D3DRS_SPECULARMATERIALSOURCE, D3DMCS_COLOR2}, {D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_MATERIAL},
        {D3DRS_EMISSIVEMATERIALSOURCE, D3DMCS_MATERIAL}, {D3DRS_FOGTABLEMODE, D3DFOG_NONE},
        {D3DRS_COLORWRITEENABLE, 0xF},       {D3DRS_TEXTUREFACTOR, 0xFFFFFFFF},
        {D3DRS_STENCILMASK, 0xFFFFFFFF},     {D3DRS_FILLMODE, D3DFILL_SOLID},
        {D3DRS_SHADEMODE, D3DSHADE_GOURAUD}, {D3DRS_DITHERENABLE, FALSE},
        {D3DRS_NORMALIZENORMALS, FALSE},     {D3DRS_BLENDOP, D3DBLENDOP_ADD},
    };
    for (const Expected& e : renderStates) {
        DWORD value = 0xDEADBEEF;
        EXPECT_EQ(device->GetRenderState(e.state, &value), D3D_OK) << e.state;
        EXPECT_EQ(value, e.value) << "render state " << e.state;
    }
    DWORD value = 0;
    device->GetRenderState(D3DRS_POINTSIZE, &value);
    EXPECT_EQ(AsFloat(value), 1.0f);
    device->GetRenderState(D3DRS_FOGEND, &value);
    EXPECT_EQ(AsFloat(value), 1.0f);

    for (DWORD stage = 0; stage < 8; ++stage) {
        device->GetTextureStageState(stage, D3DTSS_COLOROP, &value);
        EXPECT_EQ(value, stage == 0 ? DWORD{D3DTOP_MODULATE} : DWORD{D3DTOP_DISABLE}) << stage;
        device->GetTextureStageState(stage, D3DTSS_ALPHAOP, &value);
        EXPECT_EQ(value, stage == 0 ? DWORD{D3DTOP_SELECTARG1} : DWORD{D3DTOP_DISABLE}) << stage;
        device->GetTextureStageState(stage, D3DTSS_COLORARG1, &value);
        EXPECT_EQ(value, D3DTA_TEXTURE);
        device->GetTextureStageState(stage, D3DTSS_ALPHAARG2, &value);
        EXPECT_EQ(value, D3DTA_CURRENT);
        device->GetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, &value);
        EXPECT_EQ(value, stage);
    }
    for (DWORD sampler : {DWORD{0}, DWORD{15}, D3DDMAPSAMPLER, D3DVERTEXTEXTURESAMPLER3}) {
        device->GetSamplerState(sampler, D3DSAMP_ADDRESSV, &value);
        EXPECT_EQ(value, D3DTADDRESS_WRAP);
        device->GetSamplerState(sampler, D3DSAMP_MINFILTER, &value);
        EXPECT_EQ(value, D3DTEXF_POINT);
        device->GetSamplerState(sampler, D3DSAMP_MIPFILTER, &value);
        EXPECT_EQ(value, D3DTEXF_NONE);
        device->GetSamplerState(sampler, D3DSAMP_MAXANISOTROPY, &value);
        EXPECT_EQ(value, 1u);
    }
    D3DMATRIX m{};
    for (D3DTRANSFORMSTATETYPE t : {D3DTS_VIEW, D3DTS_PROJECTION, D3DTS_TEXTURE7, D3DTS_WORLD, D3DTS_WORLDMATRIX(255)}) {
        ASSERT_EQ(device->GetTransform(t, &m), D3D_OK);
        EXPECT_TRUE(SameMatrix(m, Identity())) << t;
    }
    D3DVIEWPORT9 vp{};
    device->GetViewport(&vp);
    EXPECT_EQ(vp.X, 0u);
    EXPECT_EQ(vp.Width, 40u);
    EXPECT_EQ(vp.Height, 30u);
    EXPECT_EQ(vp.MinZ, 0.0f);
    EXPECT_EQ(vp.MaxZ, 1.0f);
    D3DMATERIAL9 material;
    std::memset(&material, 0xFF, sizeof material);
    device->GetMaterial(&material);
    EXPECT_EQ(material.Diffuse.r, 0.0f);
    EXPECT_EQ(material.Power, 0.0f);
    device->GetFVF(&value);
    EXPECT_EQ(value, 0u);

    // Without an automatic depth buffer depth testing starts off and there is no depth surface.
    ComPtr<IDirect3DDevice9> noDepth = MakeDevice(window.Handle(), D3DFMT_UNKNOWN);
    noDepth->GetRenderState(D3DRS_ZENABLE, &value);
    EXPECT_EQ(value, D3DZB_FALSE);
    ComPtr<IDirect3DSurface9> depth;
    EXPECT_EQ(noDepth->GetDepthStencilSurface(depth.ReleaseAndGetAddressOf()), D3DERR_NOTFOUND);
}

TEST(D3d9State, SetGetRoundTripsAndRangeChecks) {
    CapturingWindow window(40, 30);
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    DWORD value = 0;

    EXPECT_EQ(device->SetRenderState(D3DRS_AMBIENT, 0xFF102030), D3D_OK);
    device->GetRenderState(D3DRS_AMBIENT, &value);
    EXPECT_EQ(value, 0xFF102030u);
    EXPECT_EQ(device->SetRenderState(D3DRS_BLENDOPALPHA, D3DBLENDOP_MAX), D3D_OK);
    // Gaps and ends of the render-state numbering are refused, and refusals change nothing.
    for (DWORD bad : {0u, 1u, 6u, 138u, 144u, 196u, 210u, 0xFFFFFFFFu}) {
        EXPECT_EQ(device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(bad), 1), D3DERR_INVALIDCALL) << bad;
        EXPECT_EQ(device->GetRenderState(static_cast<D3DRENDERSTATETYPE>(bad), &value), D3DERR_INVALIDCALL) << bad;
    }
    EXPECT_EQ(device->GetRenderState(D3DRS_AMBIENT, nullptr), D3DERR_INVALIDCALL);

    EXPECT_EQ(device->SetTextureStageState(3, D3DTSS_CONSTANT, 0x12345678), D3D_OK);
    device->GetTextureStageState(3, D3DTSS_CONSTANT, &value);
    EXPECT_EQ(value, 0x12345678u);
    EXPECT_EQ(device->SetTextureStageState(0, static_cast<D3DTEXTURESTAGESTATETYPE>(12), 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetTextureStageState(0, static_cast<D3DTEXTURESTAGESTATETYPE>(33), 1), D3DERR_INVALIDCALL);

    EXPECT_EQ(device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR), D3D_OK);
    device->GetSamplerState(0, D3DSAMP_MAGFILTER, &value);
    EXPECT_EQ(value, D3DTEXF_LINEAR);
    device->GetSamplerState(1, D3DSAMP_MAGFILTER, &value);
    EXPECT_EQ(value, D3DTEXF_POINT);  // samplers are independent
    EXPECT_EQ(device->SetSamplerState(16, D3DSAMP_MAGFILTER, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetSamplerState(261, D3DSAMP_MAGFILTER, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetSamplerState(0, static_cast<D3DSAMPLERSTATETYPE>(14), 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetSamplerState(0, static_cast<D3DSAMPLERSTATETYPE>(0), 2), D3DERR_INVALIDCALL);

    D3DMATRIX m = Identity();
    m._41 = 3.0f;
    m._23 = -0.5f;
    EXPECT_EQ(device->SetTransform(D3DTS_WORLDMATRIX(200), &m), D3D_OK);
    D3DMATRIX back{};
    device->GetTransform(D3DTS_WORLDMATRIX(200), &back);
    EXPECT_TRUE(SameMatrix(back, m));
    device->GetTransform(D3DTS_WORLD, &back);
    EXPECT_TRUE(SameMatrix(back, Identity()));
    for (DWORD bad : {0u, 1u, 4u, 15u, 24u, 255u, 512u}) {
        EXPECT_EQ(device->SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(bad), &m), D3DERR_INVALIDCALL) << bad;
    }
    EXPECT_EQ(device->SetTransform(D3DTS_VIEW, nullptr), D3DERR_INVALIDCALL);

    D3DVIEWPORT9 vp{10, 5, 30, 25, 0.25f, 0.75f};
    EXPECT_EQ(device->SetViewport(&vp), D3D_OK);
    D3DVIEWPORT9 vpBack{};
    device->GetViewport(&vpBack);
    EXPECT_EQ(std::memcmp(&vp, &vpBack, sizeof vp), 0);
    D3DVIEWPORT9 tooWide{10, 0, 31, 30, 0.0f, 1.0f};
    EXPECT_EQ(device->SetViewport(&tooWide), D3DERR_INVALIDCALL);
    D3DVIEWPORT9 wraps{0xFFFFFFF0u, 0, 0x20, 30, 0.0f, 1.0f};
    EXPECT_EQ(device->SetViewport(&wraps), D3DERR_INVALIDCALL);
    device->GetViewport(&vpBack);
    EXPECT_EQ(vpBack.X, 10u);

    D3DMATERIAL9 material{{0.5f, 0.25f, 1.0f, 1.0f}, {0.1f, 0.2f, 0.3f, 0.4f}, {}, {}, 8.0f};
    EXPECT_EQ(device->SetMaterial(&material), D3D_OK);
    D3DMATERIAL9 materialBack{};
    device->GetMaterial(&materialBack);
    EXPECT_EQ(std::memcmp(&material, &materialBack, sizeof material), 0);
    EXPECT_EQ(device->SetMaterial(nullptr), D3DERR_INVALIDCALL);

    EXPECT_EQ(device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1), D3D_OK);
    device->GetFVF(&value);
    EXPECT_EQ(value, 0x144u);
    EXPECT_EQ(device->SetFVF(0x4004), D3DERR_INVALIDCALL);  // W bit with a transformed position
    device->GetFVF(&value);
    EXPECT_EQ(value, 0x144u);
}

TEST(D3d9State, LightsLiveAtAnyIndex) {
    CapturingWindow window(8, 8);
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    D3DLIGHT9 spot{};
    spot.Type = D3DLIGHT_SPOT;
    spot.Diffuse = {1.0f, 0.5f, 0.0f, 1.0f};
    spot.Position = {1.0f, 2.0f, 3.0f};
    spot.Range = 1000.0f;
    spot.Falloff = 1.0f;
    spot.Theta = 1.0f;  // wider than Phi: the engine's spot lights, accepted as they are
    spot.Phi = 0.5f;
    const DWORD minusOne = 0xFFFFFFFF;  // a light key of -1
    EXPECT_EQ(device->SetLight(minusOne, &spot), D3D_OK);
    D3DLIGHT9 back{};
    ASSERT_EQ(device->GetLight(minusOne, &back), D3D_OK);
    EXPECT_EQ(std::memcmp(&back, &spot, sizeof spot), 0);
    BOOL enabled = TRUE;
    ASSERT_EQ(device->GetLightEnable(minusOne, &enabled), D3D_OK);
    EXPECT_EQ(enabled, FALSE);  // setting a light does not enable it
    EXPECT_EQ(device->LightEnable(minusOne, 7), D3D_OK);
    device->GetLightEnable(minusOne, &enabled);
    EXPECT_EQ(enabled, TRUE);
    spot.Diffuse.g = 0.25f;
    device->SetLight(minusOne, &spot);
    device->GetLightEnable(minusOne, &enabled);
    EXPECT_EQ(enabled, TRUE);  // replacing the record keeps it enabled

    // Enabling a light never set creates the platform's default light.
    EXPECT_EQ(device->GetLight(0x80000000u, &back), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->GetLightEnable(0x80000000u, &enabled), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->LightEnable(0x80000000u, TRUE), D3D_OK);
    ASSERT_EQ(device->GetLight(0x80000000u, &back), D3D_OK);
    EXPECT_EQ(back.Type, D3DLIGHT_DIRECTIONAL);
    EXPECT_EQ(back.Diffuse.r, 1.0f);
    EXPECT_EQ(back.Diffuse.g, 1.0f);
    EXPECT_EQ(back.Diffuse.b, 1.0f);
    EXPECT_EQ(back.Specular.r, 0.0f);
    EXPECT_EQ(back.Direction.x, 0.0f);
    EXPECT_EQ(back.Direction.z, 1.0f);
    EXPECT_EQ(back.Range, 0.0f);
    device->LightEnable(0x80000000u, FALSE);
    device->GetLightEnable(0x80000000u, &enabled);
    EXPECT_EQ(enabled, FALSE);

    D3DLIGHT9 bad = spot;
    bad.Type = static_cast<D3DLIGHTTYPE>(4);
    EXPECT_EQ(device->SetLight(5, &bad), D3DERR_INVALIDCALL);
    bad = spot;
    bad.Range = -1.0f;
    EXPECT_EQ(device->SetLight(5, &bad), D3DERR_INVALIDCALL);
    bad.Range = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(device->SetLight(5, &bad), D3DERR_INVALIDCALL);
    bad.Type = D3DLIGHT_DIRECTIONAL;  // range means nothing to a directional light
    EXPECT_EQ(device->SetLight(5, &bad), D3D_OK);
    EXPECT_EQ(device->SetLight(6, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->GetLight(6, &back), D3DERR_INVALIDCALL);
}

TEST(D3d9State, PureDeviceTakesStateButDoesNotGiveItBack) {
    CapturingWindow window(8, 8);
    ComPtr<IDirect3DDevice9> device =
        MakeDevice(window.Handle(), D3DFMT_D16, D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_PUREDEVICE);
    ASSERT_TRUE(device);
    DWORD value = 0;
    D3DMATRIX m = Identity();
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    BOOL enabled = FALSE;
    D3DVIEWPORT9 vp{};
    EXPECT_EQ(device->SetRenderState(D3DRS_LIGHTING, FALSE), D3D_OK);
    EXPECT_EQ(device->GetRenderState(D3DRS_LIGHTING, &value), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetTransform(D3DTS_VIEW, &m), D3D_OK);
    EXPECT_EQ(device->GetTransform(D3DTS_VIEW, &m), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetLight(1, &light), D3D_OK);
    EXPECT_EQ(device->GetLight(1, &light), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->GetLightEnable(1, &enabled), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->GetViewport(&vp), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->GetSamplerState(0, D3DSAMP_MAGFILTER, &value), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->GetTextureStageState(0, D3DTSS_COLOROP, &value), D3DERR_INVALIDCALL);
    // Surfaces are not state: they stay reachable.
    ComPtr<IDirect3DSurface9> back;
    EXPECT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, back.ReleaseAndGetAddressOf()), D3D_OK);
}

}  // namespace
