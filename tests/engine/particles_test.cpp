// particles_test.cpp: particle emission, stepping, clamping when drawn, batching into point lists, and
// the points as they land on the back buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "engine/device.h"
#include "engine/engine_state.h"
#include "engine/media/particles.h"
#include "platform/d3d9/diagnostics.h"

namespace qm {
namespace {

constexpr float kUnit = 0.003921569f;

// A record for a particle at (x, y, z) in whole units, at rest.
std::vector<std::int32_t> Record(std::int32_t life, std::int32_t x, std::int32_t y, std::int32_t z,
                                 std::uint32_t colour, std::uint32_t step) {
    std::vector<std::int32_t> r(12, 0);
    r[0] = life;
    r[1] = x * 65536;
    r[2] = y * 65536;
    r[3] = z * 65536;
    r[10] = static_cast<std::int32_t>(colour);
    r[11] = static_cast<std::int32_t>(step);
    return r;
}

class EngineParticles : public ::testing::Test {
protected:
    void SetUp() override {
        info[1] = 64;
        info[2] = 48;
        ASSERT_EQ(InitDevice(info), 0);
    }
    void TearDown() override {
        ByeEngine();
        Engine().lightTable.Clear();
        Engine().device.Reset();
        Engine().direct3d.Reset();
    }
    ParticleSystem& System(std::int32_t key) { return **Engine().particleTable.Find(key); }
    // The vertices of the system's buffer as the last draw left them.
    std::vector<std::uint32_t> Colours(std::int32_t key, int count) {
        void* data = nullptr;
        EXPECT_EQ(System(key).vertexBuffer->Lock(0, 0, &data, D3DLOCK_READONLY), D3D_OK);
        std::vector<std::uint32_t> out(count);
        for (int i = 0; i < count; ++i) std::memcpy(&out[i], static_cast<char*>(data) + 16 * i + 12, 4);
        System(key).vertexBuffer->Unlock();
        return out;
    }
    // DrawParticle inside a scene, as a script calls it between BeginScene and EndScene.
    std::int32_t Draw(std::int32_t key) {
        Engine().device->BeginScene();
        std::int32_t result = DrawParticleEntry(key);
        Engine().device->EndScene();
        return result;
    }
    std::int32_t info[16] = {};
};

TEST_F(EngineParticles, RecordConversionAndColourSteps) {
    auto r = Record(5, 1, -2, 3, 0x80FF0040u, 0x80807F80u);
    r[4] = 32768;   // velocity x 0.5
    r[8] = -65536;  // acceleration y -1
    Particle p = ParticleFromRecord(r.data());
    EXPECT_EQ(p.life, 5);
    EXPECT_FLOAT_EQ(p.position[1], -2.0f);
    EXPECT_FLOAT_EQ(p.velocity[0], 0.5f);
    EXPECT_FLOAT_EQ(p.acceleration[1], -1.0f);
    EXPECT_FLOAT_EQ(p.colour[0], 255 * kUnit);
    EXPECT_FLOAT_EQ(p.colour[2], 64 * kUnit);
    EXPECT_FLOAT_EQ(p.colour[3], 128 * kUnit);
    // A step byte of 128 is exactly zero; 127 is one unit down.
    EXPECT_EQ(p.colourStep[0], 0.0f);
    EXPECT_EQ(p.colourStep[2], 0.0f);
    EXPECT_EQ(p.colourStep[3], 0.0f);
    EXPECT_FLOAT_EQ(p.colourStep[1], 127 * kUnit - 128 * kUnit);

    // Position moves by the velocity before the acceleration is added.
    ParticleSystem system;
    AddParticleToSystem(system, p);
    EXPECT_EQ(UpdateParticleSystem(system), 1);
    const Particle& q = system.particles.front();
    EXPECT_FLOAT_EQ(q.position[0], 1.5f);
    EXPECT_FLOAT_EQ(q.position[1], -2.0f);
    EXPECT_FLOAT_EQ(q.velocity[1], -1.0f);
    EXPECT_EQ(UpdateParticleSystem(system), 1);
    EXPECT_FLOAT_EQ(system.particles.front().position[1], -3.0f);
    EXPECT_EQ(q.life, 3);
}

TEST_F(EngineParticles, LifeCountsStepsAndAbsentKeysAreRefused) {
    EXPECT_EQ(UpdateParticleEntry(7), -2);
    EXPECT_EQ(DrawParticleEntry(7), -2);
    EXPECT_EQ(AddParticleEntry(nullptr, 7), -1);
    EXPECT_TRUE(Engine().particleTable.Empty());

    auto zero = Record(0, 0, 0, 5, 0xFFFFFFFFu, 0x80808080u);
    auto two = Record(2, 0, 0, 5, 0xFFFFFFFFu, 0x80808080u);
    EXPECT_EQ(AddParticleEntry(zero.data(), 7), 0);
    EXPECT_EQ(AddParticleEntry(two.data(), 7), 0);
    EXPECT_EQ(System(7).count, 2);
    EXPECT_EQ(Draw(7), 0);  // the life-0 particle is drawn once
    EXPECT_EQ(UpdateParticleEntry(7), -1);
    EXPECT_EQ(UpdateParticleEntry(7), -1);
    EXPECT_EQ(UpdateParticleEntry(7), 0);
    EXPECT_EQ(System(7).count, 0);
    // An emptied system stays in the table and updates to 0.
    EXPECT_EQ(UpdateParticleEntry(7), 0);
    EXPECT_EQ(Draw(7), 0);
    // Exactly 256 particles fill the buffer once and leave no remainder to draw.
    for (int i = 0; i < 256; ++i) AddParticleEntry(two.data(), 8);
    Engine().device->BeginScene();
    CallRecorder recorder;
    EXPECT_EQ(DrawParticleEntry(8), 0);
    EXPECT_EQ(recorder.Lines().back(), "Unlock()");
    EXPECT_EQ(recorder.Lines()[5], "DrawPrimitive(1, 0, 256)");
    Engine().device->EndScene();
    ByeEngine();
    EXPECT_TRUE(Engine().particleTable.Empty());
}

TEST_F(EngineParticles, ThreeHundredParticlesDrawAsBatchesOf256And44) {
    auto r = Record(10, 0, 0, 5, 0xFF00FF00u, 0x80808080u);
    for (int i = 0; i < 300; ++i) AddParticleEntry(r.data(), -3);
    Engine().device->BeginScene();
    CallRecorder recorder;
    ASSERT_EQ(DrawParticleEntry(-3), 0);
    Engine().device->EndScene();
    std::vector<std::string> lines = recorder.Lines();
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[0].rfind("SetTransform(256, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1})", 0), 0u);
    EXPECT_EQ(lines[1], "SetStreamSource(0, ptr, 0, 16)");
    EXPECT_EQ(lines[2], "SetFVF(66)");
    EXPECT_EQ(lines[3], "Lock(0, 4096, ptr, 8192)");
    EXPECT_EQ(lines[4], "Unlock()");
    EXPECT_EQ(lines[5], "DrawPrimitive(1, 0, 256)");
    EXPECT_EQ(lines[6], "Lock(0, 4096, ptr, 8192)");
    EXPECT_EQ(lines[7], "Unlock()");
    EXPECT_EQ(lines[8], "DrawPrimitive(1, 0, 44)");
    EXPECT_EQ(lines[9], "EndScene()");
}

TEST_F(EngineParticles, ColoursAreClampedOnlyWhenDrawn) {
    // Red rises by 64 units per step from 240, blue falls by 128 from 16, green stays, alpha falls by 1.
    auto r = Record(10, 0, 0, 5, 0xFFF04010u, 0x7FC08000u);
    AddParticleEntry(r.data(), 1);
    ASSERT_EQ(Draw(1), 0);
    EXPECT_EQ(Colours(1, 1)[0], 0xFFF04010u);
    UpdateParticleEntry(1);
    ASSERT_EQ(Draw(1), 0);
    // r = (240 + 64) units -> clamped 255; b = 16 - 128 -> 0; a = 254.
    EXPECT_EQ(Colours(1, 1)[0], 0xFEFF4000u);
    // Stepping back the other way starts from the unclamped value.
    Particle& p = System(1).particles.front();
    p.colourStep[0] = -64 * kUnit;
    UpdateParticleEntry(1);
    UpdateParticleEntry(1);
    ASSERT_EQ(Draw(1), 0);
    // r: 304 - 64 - 64 = 176 units -> 0xB0 (not 255 - 128 = 0x7F).
    EXPECT_EQ(Colours(1, 1)[0] & 0x00FF0000u, 0x00B00000u);
    // NaN draws as 0.
    p.colour[1] = std::numeric_limits<float>::quiet_NaN();
    ASSERT_EQ(Draw(1), 0);
    EXPECT_EQ(Colours(1, 1)[0] & 0x0000FF00u, 0u);
}

TEST_F(EngineParticles, AParticleLightsThePixelItProjectsTo) {
    // Identity view, the initial projection: a point straight ahead lands on the viewport centre,
    // a 1-pixel point covering the pixel whose centre is (32, 24).
    IDirect3DDevice9* device = Engine().device.Get();
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    auto r = Record(10, 0, 0, 5, 0xFF204060u, 0x80808080u);
    AddParticleEntry(r.data(), 0);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    device->BeginScene();
    ASSERT_EQ(DrawParticleEntry(0), 0);
    device->EndScene();
    // The world transform stays the identity.
    D3DMATRIX world{};
    device->GetTransform(D3DTS_WORLD, &world);
    EXPECT_EQ(world._11, 1.0f);
    EXPECT_EQ(world._41, 0.0f);

    ComPtr<IDirect3DSurface9> backBuffer;
    ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, backBuffer.ReleaseAndGetAddressOf()), D3D_OK);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(backBuffer->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    auto pixel = [&](int x, int y) {
        std::uint32_t v;
        std::memcpy(&v, static_cast<char*>(locked.pBits) + y * locked.Pitch + 4 * x, 4);
        return v & 0x00FFFFFFu;
    };
    EXPECT_EQ(pixel(32, 24), 0x204060u);
    EXPECT_EQ(pixel(31, 24), 0u);
    EXPECT_EQ(pixel(33, 24), 0u);
    EXPECT_EQ(pixel(32, 23), 0u);
    backBuffer->UnlockRect();
}

}  // namespace
}  // namespace qm
