// recorder_test.cpp: the lines the call recorder receives, and failure injection for the engine's
// device-creation order.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/diagnostics.h"
#include "tests/platform/d3d9/d3d9_test_support.h"

namespace {

using d3d9test::CapturingWindow;
using d3d9test::EngineParameters;
using Lines = std::vector<std::string>;

TEST(D3d9Recorder, WritesOneLinePerCallInTheDocumentedFormat) {
    CapturingWindow window(4, 4);
    CallRecorder recorder;
    ComPtr<IDirect3D9> d3d = ComPtr<IDirect3D9>::Adopt(Direct3DCreate9(31));
    ASSERT_TRUE(d3d);
    D3DDISPLAYMODE mode{};
    d3d->GetAdapterDisplayMode(0, &mode);
    D3DCAPS9 caps{};
    d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps);
    D3DPRESENT_PARAMETERS params = EngineParameters(window.Handle());
    ComPtr<IDirect3DDevice9> device;
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window.Handle(), D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params,
                                device.ReleaseAndGetAddressOf()),
              D3D_OK);
    EXPECT_EQ(recorder.TakeLines(),
              (Lines{"Direct3DCreate9(31)", "GetAdapterDisplayMode(0, ptr)", "GetDeviceCaps(0, 1, ptr)",
                     // The parameters as passed, before the device filled in size, format and count.
                     "CreateDevice(0, 1, ptr, 32, {0, 0, 0, 0, 0, 0, 1, ptr, 1, 1, 80, 2, 0, 2147483648}, ptr)"}));

    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_ADD);
    D3DMATRIX m{};
    m._11 = 0.1f;
    m._22 = -2.5f;
    m._34 = 1.0f;
    m._43 = -0.125f;
    device->SetTransform(D3DTS_PROJECTION, &m);
    device->SetTransform(D3DTS_WORLD, nullptr);
    device->LightEnable(static_cast<DWORD>(-1), TRUE);
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = {1.0f, 0.5f, 0.0f, 1.0f};
    light.Direction = {0.0f, 0.0f, 1.0f};
    light.Range = 1000.0f;
    light.Phi = 0.5f;
    device->SetLight(static_cast<DWORD>(-1), &light);
    D3DVIEWPORT9 vp{0, 1, 4, 3, 0.0f, 1.0f};
    device->SetViewport(&vp);
    D3DMATERIAL9 material{{1, 1, 1, 1}, {0.25f, 0.25f, 0.25f, 1}, {}, {}, 5.0f};
    device->SetMaterial(&material);
    device->SetRenderState(D3DRS_AMBIENT, 0xFF204060);
    EXPECT_EQ(recorder.TakeLines(),
              (Lines{"SetRenderState(137, 1)", "SetSamplerState(0, 5, 2)", "SetTextureStageState(0, 1, 7)",
                     "SetTransform(3, {0.100000001, 0, 0, 0, 0, -2.5, 0, 0, 0, 0, 0, 1, 0, 0, -0.125, 0})",
                     "SetTransform(256, null)", "LightEnable(4294967295, 1)",
                     "SetLight(4294967295, {3, {1, 0.5, 0, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0}, {0, 0, 1}, "
                     "1000, 0, 0, 0, 0, 0, 0.5})",
                     "SetViewport({0, 1, 4, 3, 0, 1})",
                     "SetMaterial({{1, 1, 1, 1}, {0.25, 0.25, 0.25, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}, 5})",
                     "SetRenderState(139, 4280303712)"}));

    // The sprite path and a frame, failures included.
    ComPtr<IDirect3DVertexBuffer9> vb;
    device->CreateVertexBuffer(112, 0, 0x144, D3DPOOL_DEFAULT, vb.ReleaseAndGetAddressOf(), nullptr);
    void* data = nullptr;
    vb->Lock(0, 112, &data, D3DLOCK_DISCARD);
    vb->Unlock();
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    device->BeginScene();
    device->SetStreamSource(0, vb.Get(), 0, 28);
    device->SetFVF(0x144);
    device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    device->EndScene();
    device->EndScene();
    device->Present(nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(recorder.TakeLines(),
              (Lines{"CreateVertexBuffer(112, 0, 324, 0, ptr, null)", "Lock(0, 112, ptr, 8192)", "Unlock()",
                     "Clear(0, null, 3, 0, 1, 0)", "BeginScene()", "SetStreamSource(0, ptr, 0, 28)", "SetFVF(324)",
                     "DrawPrimitive(5, 0, 2)", "EndScene()", "EndScene()", "Present(null, null, null, null)"}));

    // Resource calls, and GUIDs in registry form.
    ComPtr<IDirect3DSurface9> back;
    device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, back.ReleaseAndGetAddressOf());
    ComPtr<IDirect3DDevice9> container;
    back->GetContainer(IDirect3DDevice9::iid, reinterpret_cast<void**>(container.ReleaseAndGetAddressOf()));
    EXPECT_EQ(container.Get(), device.Get());
    EXPECT_EQ(recorder.TakeLines(), (Lines{"GetBackBuffer(0, 0, 0, ptr)",
                                           "GetContainer({D0223B96-BF7A-43FD-92BD-A43B0D82B9EB}, ptr)"}));
}

TEST(D3d9Recorder, InjectedFailuresFollowTheEngineCreationOrder) {
    CapturingWindow window(4, 4);
    CallRecorder recorder;
    recorder.FailDirect3DCreate9(true);
    EXPECT_EQ(Direct3DCreate9(31), nullptr);
    recorder.FailDirect3DCreate9(false);
    ComPtr<IDirect3D9> d3d = ComPtr<IDirect3D9>::Adopt(Direct3DCreate9(31));
    ASSERT_TRUE(d3d);

    D3DDISPLAYMODE mode{};
    recorder.FailGetAdapterDisplayMode(true);
    EXPECT_EQ(d3d->GetAdapterDisplayMode(0, &mode), D3DERR_NOTAVAILABLE);
    recorder.FailGetAdapterDisplayMode(false);
    EXPECT_EQ(d3d->GetAdapterDisplayMode(0, &mode), D3D_OK);

    // Refusing one (type, flags) pair leaves the others: the fixed-function order falls through to
    // the reference device.
    recorder.RefuseCreateDevice(D3DDEVTYPE_HAL, D3DCREATE_SOFTWARE_VERTEXPROCESSING);
    D3DPRESENT_PARAMETERS params = EngineParameters(window.Handle());
    ComPtr<IDirect3DDevice9> device;
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window.Handle(), D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params,
                                device.ReleaseAndGetAddressOf()),
              D3DERR_NOTAVAILABLE);
    EXPECT_FALSE(device);
    EXPECT_EQ(params.BackBufferWidth, 0u);  // a refused creation writes nothing back
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_REF, window.Handle(),
                                D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_PUREDEVICE, &params,
                                device.ReleaseAndGetAddressOf()),
              D3D_OK);
    EXPECT_TRUE(device);

    Lines lines = recorder.Lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "Direct3DCreate9(31)");
    EXPECT_EQ(lines[1], "Direct3DCreate9(31)");
    EXPECT_EQ(lines[2], "GetAdapterDisplayMode(0, ptr)");
    EXPECT_EQ(lines[4].substr(0, 26), "CreateDevice(0, 1, ptr, 32");
    EXPECT_EQ(lines[5].substr(0, 26), "CreateDevice(0, 2, ptr, 80");
}

TEST(D3d9Recorder, TheInnermostRecorderReceivesTheLines) {
    {
        CallRecorder outer;
        ComPtr<IDirect3D9> d3d = ComPtr<IDirect3D9>::Adopt(Direct3DCreate9(31));
        {
            CallRecorder inner;
            d3d->GetAdapterCount();
            EXPECT_EQ(inner.Lines(), Lines{"GetAdapterCount()"});
            EXPECT_EQ(InstalledCallRecorder(), &inner);
        }
        EXPECT_EQ(InstalledCallRecorder(), &outer);
        d3d->GetAdapterCount();
        EXPECT_EQ(outer.Lines(), (Lines{"Direct3DCreate9(31)", "GetAdapterCount()"}));
        outer.Clear();
        EXPECT_TRUE(outer.Lines().empty());
    }
    EXPECT_EQ(InstalledCallRecorder(), nullptr);

    // Destroyed out of order, a recorder leaves the chain without disturbing the others.
    auto first = std::make_unique<CallRecorder>();
    auto second = std::make_unique<CallRecorder>();
    first.reset();
    EXPECT_EQ(InstalledCallRecorder(), second.get());
    second.reset();
    EXPECT_EQ(InstalledCallRecorder(), nullptr);

    // Without a recorder calls work and nothing is kept.
    ComPtr<IDirect3D9> d3d = ComPtr<IDirect3D9>::Adopt(Direct3DCreate9(31));
    EXPECT_TRUE(d3d);
}

}  // namespace
