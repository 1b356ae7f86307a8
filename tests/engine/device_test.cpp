// device_test.cpp: the engine's device calls, in order, as the recording device receives them, and
// the state they leave behind.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/camera.h"
#include "engine/device.h"
#include "engine/engine_state.h"
#include "engine/lights.h"
#include "engine/states.h"
#include "platform/d3d9/diagnostics.h"
#include "platform/win/host_window.h"
#include "platform/win/large_blocks.h"
#include "platform/win/message_box.h"

namespace qm {
namespace {

// Runs each test on a fresh device opened through Init, recording every Direct3D call.
class EngineDevice : public ::testing::Test {
protected:
    void SetUp() override {
        info[1] = 64;
        info[2] = 48;
        info[13] = 0;
    }
    void TearDown() override {
        ByeEngine();
        Engine().lightTable.Clear();
        Engine().device.Reset();
        Engine().direct3d.Reset();
    }
    // The recorded calls whose names start with one of the prefixes, in order.
    std::vector<std::string> Calls(std::initializer_list<const char*> prefixes) const {
        std::vector<std::string> out;
        for (const std::string& line : recorder.Lines())
            for (const char* prefix : prefixes)
                if (line.rfind(prefix, 0) == 0) {
                    out.push_back(line);
                    break;
                }
        return out;
    }
    void OpenDevice() {
        ASSERT_EQ(InitDevice(info), 0);
        recorder.Clear();
    }

    std::int32_t info[16] = {};
    CallRecorder recorder;
};

TEST_F(EngineDevice, InitCreatesTheDeviceAndSetsTheInitialStateInOrder) {
    ASSERT_EQ(InitDevice(info), 0);
    EXPECT_EQ(Engine().screenWidth, 64);
    EXPECT_EQ(Engine().screenHeight, 48);
    ASSERT_TRUE(Engine().quadVertexBuffer);

    std::vector<std::string> calls = Calls({"Direct3DCreate9", "GetAdapterDisplayMode", "GetDeviceCaps",
                                            "CreateDevice", "SetRenderState", "SetSamplerState",
                                            "SetTransform", "CreateVertexBuffer"});
    ASSERT_EQ(calls.size(), 14u) << ::testing::PrintToString(calls);
    EXPECT_EQ(calls[0], "Direct3DCreate9(31)");
    EXPECT_EQ(calls[1].rfind("GetAdapterDisplayMode(0, ", 0), 0u);
    EXPECT_EQ(calls[2].rfind("GetDeviceCaps(0, 1, ", 0), 0u);
    // The software device has no vertex shaders, so the first attempt is the hardware type with
    // software vertex processing.
    EXPECT_EQ(calls[3].rfind("CreateDevice(0, 1, ", 0), 0u);
    EXPECT_NE(calls[3].find(", 32, "), std::string::npos) << calls[3];
    EXPECT_EQ(calls[4], "SetRenderState(137, 1)");
    EXPECT_EQ(calls[5], "SetRenderState(26, 1)");
    EXPECT_EQ(calls[6], "SetRenderState(7, 1)");
    EXPECT_EQ(calls[7], "SetRenderState(143, 1)");
    EXPECT_EQ(calls[8], "SetRenderState(19, 5)");
    EXPECT_EQ(calls[9], "SetRenderState(20, 6)");
    EXPECT_EQ(calls[10], "SetSamplerState(0, 5, 2)");
    EXPECT_EQ(calls[11], "SetSamplerState(0, 6, 2)");
    EXPECT_EQ(calls[12].rfind("SetTransform(3, ", 0), 0u);
    EXPECT_EQ(calls[13].rfind("CreateVertexBuffer(112, 0, 324, 0, ", 0), 0u);

    // The presentation parameters handed to the device, and the back buffer they gave.
    std::string creation = Calls({"CreateDevice"})[0];
    EXPECT_NE(creation.find("{0, 0, 0, 0, 0, 0, 1, null, 1, 1, 80, 2, 0, 2147483648}"), std::string::npos) << creation;
    ComPtr<IDirect3DSurface9> backBuffer;
    ASSERT_EQ(Engine().device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, backBuffer.ReleaseAndGetAddressOf()), D3D_OK);
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(backBuffer->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Width, 64u);  // the window's client size stands for 0
    EXPECT_EQ(desc.Height, 48u);
    EXPECT_EQ(desc.Format, D3DFMT_X8R8G8B8);

    // The projection: field of view 1, aspect 64/48, near 0.125, far 50.
    D3DMATRIX projection{};
    Engine().device->GetTransform(D3DTS_PROJECTION, &projection);
    float yScale = static_cast<float>(std::cos(0.5)) / static_cast<float>(std::sin(0.5));
    EXPECT_FLOAT_EQ(projection._22, yScale);
    EXPECT_FLOAT_EQ(projection._11, yScale / (64.0f / 48.0f));
    EXPECT_FLOAT_EQ(projection._33, 50.0f / 49.875f);
    EXPECT_FLOAT_EQ(projection._43, -(50.0f / 49.875f) * 0.125f);
    EXPECT_EQ(projection._34, 1.0f);
    EXPECT_EQ(projection._44, 0.0f);
    // The view stays the identity.
    D3DMATRIX view{};
    Engine().device->GetTransform(D3DTS_VIEW, &view);
    EXPECT_EQ(view._11, 1.0f);
    EXPECT_EQ(view._41, 0.0f);
    EXPECT_EQ(view._44, 1.0f);
}

TEST_F(EngineDevice, DeviceCreationFallsBackAndReportsFailure) {
    // Refusing the hardware device leaves the reference device with hardware processing and the
    // pure-device flag.
    recorder.RefuseCreateDevice(D3DDEVTYPE_HAL, D3DCREATE_SOFTWARE_VERTEXPROCESSING);
    ASSERT_EQ(InitDevice(info), 0);
    std::vector<std::string> creations = Calls({"CreateDevice"});
    ASSERT_EQ(creations.size(), 2u);
    EXPECT_EQ(creations[0].rfind("CreateDevice(0, 1, ", 0), 0u);
    EXPECT_EQ(creations[1].rfind("CreateDevice(0, 2, ", 0), 0u);
    EXPECT_NE(creations[1].find(", 80, "), std::string::npos) << creations[1];

    // Refusing both fails Init without a message box.
    recorder.Clear();
    recorder.RefuseCreateDevice(D3DDEVTYPE_REF, D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_PUREDEVICE);
    int boxes = 0;
    SetMessageBoxHook([&](const std::string&, const std::string&, UINT) { ++boxes; });
    EXPECT_EQ(InitDevice(info), -1);
    EXPECT_FALSE(Engine().device);
    EXPECT_EQ(boxes, 0);
    EXPECT_EQ(Calls({"SetRenderState"}).size(), 0u);

    // Without a Direct3D object or a display mode Init fails before trying any device.
    recorder.Clear();
    recorder.FailDirect3DCreate9(true);
    EXPECT_EQ(InitDevice(info), -1);
    EXPECT_EQ(Calls({"CreateDevice"}).size(), 0u);
    recorder.FailDirect3DCreate9(false);
    recorder.FailGetAdapterDisplayMode(true);
    EXPECT_EQ(InitDevice(info), -1);
    EXPECT_EQ(Calls({"CreateDevice"}).size(), 0u);
    SetMessageBoxHook(nullptr);
    EXPECT_EQ(InitDevice(nullptr), -1);
}

TEST_F(EngineDevice, ShaderCapableAdapterTriesThreeDevicesThenShowsTheMessage) {
    recorder.ReportVertexShaderVersion(D3DVS_VERSION(1, 1));
    recorder.RefuseCreateDevice(D3DDEVTYPE_HAL, D3DCREATE_HARDWARE_VERTEXPROCESSING);
    recorder.RefuseCreateDevice(D3DDEVTYPE_HAL, D3DCREATE_SOFTWARE_VERTEXPROCESSING);
    recorder.RefuseCreateDevice(D3DDEVTYPE_REF, D3DCREATE_SOFTWARE_VERTEXPROCESSING);
    std::string text, caption;
    UINT style = 0;
    SetMessageBoxHook([&](const std::string& t, const std::string& c, UINT s) {
        text = t;
        caption = c;
        style = s;
    });
    setenv("QUILLMERE_CODEPAGE", "932", 1);
    EXPECT_EQ(InitDevice(info), -1);
    unsetenv("QUILLMERE_CODEPAGE");
    SetMessageBoxHook(nullptr);
    std::vector<std::string> creations = Calls({"CreateDevice"});
    ASSERT_EQ(creations.size(), 3u);
    EXPECT_NE(creations[0].find(", 64, "), std::string::npos) << creations[0];
    EXPECT_NE(creations[1].find(", 32, "), std::string::npos) << creations[1];
    EXPECT_EQ(creations[2].rfind("CreateDevice(0, 2, ", 0), 0u);
    EXPECT_EQ(text, "Direct3D \u306e\u521d\u671f\u5316\u306b\u5931\u6557\u3057\u307e\u3057\u305f\u3002");
    EXPECT_EQ(caption, "Quillmere");
    EXPECT_EQ(style, 0x10u);
}

struct Frame {
    int count = 0;
    std::vector<std::uint32_t> pixels;
};
void KeepFrame(void* user, const std::uint32_t* pixels, std::int32_t width, std::int32_t height, std::int32_t pitch) {
    auto* frame = static_cast<Frame*>(user);
    ++frame->count;
    frame->pixels.clear();
    for (std::int32_t y = 0; y < height; ++y)
        frame->pixels.insert(frame->pixels.end(), pixels + y * (pitch / 4), pixels + y * (pitch / 4) + width);
}

TEST_F(EngineDevice, FramesClearAndPresent) {
    Frame frame;
    info[13] = CreateHostWindow(KeepFrame, &frame);
    OpenDevice();
    SetBackgroundColor(0x1FF, 0x22, 0x33, 0x44);
    ASSERT_EQ(BeginFrame(0), 0);
    ASSERT_EQ(EndFrame(), 0);
    EXPECT_EQ(Calls({"Clear", "BeginScene", "EndScene", "Present"}),
              (std::vector<std::string>{"Clear(0, null, 3, 1157571123, 1, 0)", "BeginScene()", "EndScene()",
                                        "Present(null, null, null, null)"}));
    ASSERT_EQ(frame.count, 1);
    ASSERT_EQ(frame.pixels.size(), 64u * 48u);
    for (std::uint32_t pixel : frame.pixels) ASSERT_EQ(pixel, 0x44FF2233u);

    // A depth-only frame keeps the colour buffer.
    recorder.Clear();
    SetBackgroundColor(0, 0, 0, 0);
    BeginFrame(7);
    EndFrame();
    EXPECT_EQ(Calls({"Clear"}), (std::vector<std::string>{"Clear(0, null, 2, 0, 1, 0)"}));
    ASSERT_EQ(frame.count, 2);
    EXPECT_EQ(frame.pixels[0], 0x44FF2233u);
    DestroyHostWindow(info[13]);
}

TEST_F(EngineDevice, CapsAreTheHardwareDeviceRecord) {
    std::vector<unsigned char> buffer(304, 0xCD);
    EXPECT_EQ(GetCapabilities(buffer.data()), -1);  // before Init
    EXPECT_EQ(buffer[0], 0xCD);
    OpenDevice();
    ASSERT_EQ(GetCapabilities(buffer.data()), 0);
    D3DCAPS9 caps{};
    Engine().direct3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps);
    EXPECT_EQ(std::memcmp(buffer.data(), &caps, 304), 0);
    EXPECT_EQ(caps.DeviceType, D3DDEVTYPE_HAL);
    EXPECT_EQ(GetCapabilities(nullptr), -1);
}

TEST_F(EngineDevice, CameraBuildsTheLookAtView) {
    OpenDevice();
    ASSERT_EQ(SetCameraPosition(0, 0x00050000, static_cast<std::int32_t>(0xFFF60000u)), 0);
    EXPECT_EQ(Engine().cameraPosition.y, 5.0f);
    EXPECT_EQ(Engine().cameraPosition.z, -10.0f);
    // eye (0, 5, -10), at (0, 0, 1), up (0, 1, 0): z = (0, -5, 11)/sqrt(146), x = up x z normalised
    // = (1, 0, 0), y = z x x.
    D3DMATRIX view{};
    Engine().device->GetTransform(D3DTS_VIEW, &view);
    double len = std::sqrt(146.0);
    double zy = -5.0 / len, zz = 11.0 / len;
    EXPECT_NEAR(view._11, 1.0, 1e-6);
    EXPECT_NEAR(view._13, 0.0, 1e-6);
    EXPECT_NEAR(view._22, zz, 1e-6);   // y.y
    EXPECT_NEAR(view._23, zy, 1e-6);   // z.y
    EXPECT_NEAR(view._32, -zy, 1e-6);  // y.z
    EXPECT_NEAR(view._33, zz, 1e-6);   // z.z
    EXPECT_NEAR(view._42, -(zz * 5.0 + -zy * -10.0), 1e-5);
    EXPECT_NEAR(view._43, -(zy * 5.0 + zz * -10.0), 1e-5);
    EXPECT_EQ(view._44, 1.0f);
    EXPECT_EQ(Calls({"SetTransform"}).size(), 1u);

    // Target on the eye: z is zero, so the view's third column and the last row's third element are 0.
    SetCameraTargetPoint(0, 0x00050000, static_cast<std::int32_t>(0xFFF60000u));
    Engine().device->GetTransform(D3DTS_VIEW, &view);
    EXPECT_EQ(view._13, 0.0f);
    EXPECT_EQ(view._23, 0.0f);
    EXPECT_EQ(view._33, 0.0f);
    EXPECT_EQ(view._43, 0.0f);
    // Up parallel to the view direction: x is zero.
    SetCameraTargetPoint(0, 0x00050000, 0);
    SetCameraUpVector(0, 0, 0x00010000);
    Engine().device->GetTransform(D3DTS_VIEW, &view);
    EXPECT_EQ(view._11, 0.0f);
    EXPECT_EQ(view._21, 0.0f);
    EXPECT_EQ(view._31, 0.0f);
    Engine().cameraPosition = Float3{0, 0, 0};
    Engine().cameraTarget = Float3{0, 0, 1};
    Engine().cameraUp = Float3{0, 1, 0};
}

TEST_F(EngineDevice, ProjectionRecordAndBadRecords) {
    OpenDevice();
    const std::int32_t record[5] = {0x00010000, 4, 3, 0x00002000, 0x00320000};
    ASSERT_EQ(SetProjectionFromRecord(record), 0);
    D3DMATRIX projection{};
    Engine().device->GetTransform(D3DTS_PROJECTION, &projection);
    float yScale = std::cos(0.5f) / std::sin(0.5f);
    EXPECT_FLOAT_EQ(projection._22, yScale);
    EXPECT_FLOAT_EQ(projection._11, yScale / 1.3333334f);
    EXPECT_FLOAT_EQ(projection._33, 50.0f / 49.875f);
    // An aspect denominator of 0 gives an infinite aspect and xScale 0.
    const std::int32_t flat[5] = {0x00010000, 4, 0, 0x00002000, 0x00320000};
    ASSERT_EQ(SetProjectionFromRecord(flat), 0);
    Engine().device->GetTransform(D3DTS_PROJECTION, &projection);
    EXPECT_EQ(projection._11, 0.0f);
    EXPECT_EQ(SetProjectionFromRecord(nullptr), -1);
}

TEST_F(EngineDevice, StatesPassThroughUnchanged) {
    OpenDevice();
    EXPECT_EQ(PassRenderState(27, 1), 0);
    EXPECT_EQ(PassTextureStageState(1, 4), 0);
    EXPECT_EQ(SetAmbientLight(0x10, 0x20, 0x30, 0x1FF), 0);
    EXPECT_EQ(Calls({"SetRenderState", "SetTextureStageState"}),
              (std::vector<std::string>{"SetRenderState(27, 1)", "SetTextureStageState(0, 1, 4)",
                                        "SetRenderState(139, 4279246896)"}));
    DWORD ambient = 0;
    Engine().device->GetRenderState(D3DRS_AMBIENT, &ambient);
    EXPECT_EQ(ambient, 0xFF102030u);
}

TEST_F(EngineDevice, LightTableSendsRecordsAsTheExportsSay) {
    OpenDevice();
    ASSERT_EQ(AddLightEntry(2, D3DLIGHT_POINT), 0);
    ASSERT_EQ(AddLightEntry(-1, D3DLIGHT_SPOT), 0);
    std::vector<std::string> calls = Calls({"LightEnable", "SetLight("});
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0], "LightEnable(2, 1)");
    EXPECT_EQ(calls[1].rfind("SetLight(2, ", 0), 0u);
    EXPECT_EQ(calls[2], "LightEnable(4294967295, 1)");
    // All lights again, in ascending key order: -1 before 2.
    EXPECT_EQ(calls[3].rfind("SetLight(4294967295, ", 0), 0u);
    EXPECT_EQ(calls[4].rfind("SetLight(2, ", 0), 0u);

    // The same key again changes the type only and sends nothing.
    recorder.Clear();
    ASSERT_EQ(AddLightEntry(2, D3DLIGHT_DIRECTIONAL), 0);
    EXPECT_TRUE(recorder.Lines().empty());
    EXPECT_EQ(Engine().lightTable.Size(), 2u);
    EXPECT_EQ(Engine().lightTable.Find(2)->Type, D3DLIGHT_DIRECTIONAL);

    // Single members: only this light is sent, alpha untouched.
    D3DLIGHT9* light = Engine().lightTable.Find(2);
    light->Diffuse.a = 0.25f;
    ASSERT_EQ(SetLightMember(LightMember::Diffuse, 2, 0x00010000, 0x00008000, 0), 0);
    EXPECT_EQ(light->Diffuse.r, 1.0f);
    EXPECT_EQ(light->Diffuse.g, 0.5f);
    EXPECT_EQ(light->Diffuse.b, 0.0f);
    EXPECT_EQ(light->Diffuse.a, 0.25f);
    SetLightMember(LightMember::Specular, 2, 0x00020000, 0, 0x00010000);
    SetLightMember(LightMember::Position, 2, 0x00010000, 0x00020000, 0x00030000);
    SetLightMember(LightMember::Direction, 2, 0, static_cast<std::int32_t>(0xFFFF0000u), 0);
    SetLightMember(LightMember::Attenuation, 2, 0x00010000, 0x00008000, 0x00004000);
    EXPECT_EQ(light->Specular.r, 2.0f);
    EXPECT_EQ(light->Specular.b, 1.0f);
    EXPECT_EQ(light->Position.z, 3.0f);
    EXPECT_EQ(light->Direction.y, -1.0f);
    EXPECT_EQ(light->Attenuation1, 0.5f);
    EXPECT_EQ(light->Attenuation2, 0.25f);
    EXPECT_EQ(Calls({"SetLight("}).size(), 5u);
    for (const std::string& call : Calls({"SetLight("})) EXPECT_EQ(call.rfind("SetLight(2, ", 0), 0u);

    const std::int32_t record[15] = {0x10000, 0x20000, 0x30000, 1, 2, 3, 0x40000, 0x50000, 0x60000,
                                     -0x10000, 0, 0, 0x10000, 0, 0};
    ASSERT_EQ(SetLightRecord(record, -1), 0);
    D3DLIGHT9* spot = Engine().lightTable.Find(-1);
    EXPECT_EQ(spot->Diffuse.b, 3.0f);
    EXPECT_EQ(spot->Specular.g, 2.0f / 65536.0f);
    EXPECT_EQ(spot->Position.x, 4.0f);
    EXPECT_EQ(spot->Direction.x, -1.0f);
    EXPECT_EQ(spot->Attenuation0, 1.0f);
    // Range, falloff and the cone angles stay as AddLight made them.
    EXPECT_EQ(spot->Range, 1000.0f);
    EXPECT_EQ(spot->Falloff, 1.0f);
    EXPECT_EQ(spot->Theta, 1.0f);
    EXPECT_EQ(spot->Phi, 0.5f);
    D3DLIGHT9 sent{};
    Engine().device->GetLight(static_cast<DWORD>(-1), &sent);
    EXPECT_EQ(std::memcmp(&sent, spot, sizeof sent), 0);

    // Absent keys change nothing and succeed; a null record of a present light fails.
    recorder.Clear();
    EXPECT_EQ(SetLightRecord(record, 99), 0);
    EXPECT_EQ(SetLightMember(LightMember::Diffuse, 99, 1, 1, 1), 0);
    EXPECT_EQ(SetLightRecord(nullptr, 99), 0);
    EXPECT_EQ(SetLightRecord(nullptr, 2), -1);
    EXPECT_TRUE(recorder.Lines().empty());
    EXPECT_EQ(Engine().lightTable.Size(), 2u);

    // Removing an absent light still sends every light again.
    ASSERT_EQ(RemoveLightEntry(99), 0);
    EXPECT_EQ(Calls({"LightEnable", "SetLight("}).size(), 2u);
    recorder.Clear();
    ASSERT_EQ(RemoveLightEntry(2), 0);
    calls = Calls({"LightEnable", "SetLight("});
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], "LightEnable(2, 0)");
    EXPECT_EQ(calls[1].rfind("SetLight(4294967295, ", 0), 0u);
    BOOL enabled = TRUE;
    Engine().device->GetLightEnable(2, &enabled);
    EXPECT_FALSE(enabled);
}

TEST_F(EngineDevice, ByeKeepsLightsFontAndDevice) {
    OpenDevice();
    AddLightEntry(1, D3DLIGHT_POINT);
    // A large block released earlier and kept for the next load goes back to the system.
    constexpr std::size_t kBlock = std::size_t{4} << 20;
    GiveBackLargeBlock(TakeLargeBlock(kBlock), kBlock);
    ASSERT_GT(KeptLargeBlockCount(), 0u);
    ASSERT_EQ(ByeEngine(), 0);
    EXPECT_EQ(KeptLargeBlockCount(), 0u);
    EXPECT_FALSE(Engine().quadVertexBuffer);
    EXPECT_TRUE(Engine().device);
    EXPECT_TRUE(Engine().direct3d);
    EXPECT_EQ(Engine().lightTable.Size(), 1u);
    // Drawing exports stay callable.
    EXPECT_EQ(BeginFrame(0), 0);
    EXPECT_EQ(EndFrame(), 0);
}

TEST_F(EngineDevice, CallsWithoutADeviceFailCleanly) {
    EXPECT_EQ(BeginFrame(0), -1);
    EXPECT_EQ(EndFrame(), -1);
    EXPECT_EQ(PassRenderState(7, 1), -1);
    EXPECT_EQ(SetAmbientLight(1, 2, 3, 4), -1);
    EXPECT_EQ(AddLightEntry(1, 1), -1);
    EXPECT_TRUE(Engine().lightTable.Empty());
    EXPECT_EQ(RemoveLightEntry(1), -1);
    EXPECT_EQ(SetProjectionFromRecord(nullptr), -1);
    EXPECT_EQ(ByeEngine(), 0);
    EXPECT_TRUE(recorder.Lines().empty());
}

}  // namespace
}  // namespace qm
