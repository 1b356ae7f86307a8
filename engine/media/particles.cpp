// particles.cpp: particle systems of the particle table: emission, stepping and batched point drawing.
#include "engine/media/particles.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <memory>

#include "engine/engine_state.h"
#include "engine/fixed.h"
#include "library/math/math.h"

namespace qm {

namespace {

// The float nearest 1/255, and the float nearest 128/255 that biases a colour step.
constexpr float kByteToUnit = 0.003921569f;
constexpr float kStepBias = std::bit_cast<float>(0x3F008081u);

// Channels of a packed colour in the particle's r, g, b, a order.
void UnpackChannels(std::uint32_t packed, float out[4]) {
    out[0] = static_cast<float>((packed >> 16) & 0xFFu) * kByteToUnit;
    out[1] = static_cast<float>((packed >> 8) & 0xFFu) * kByteToUnit;
    out[2] = static_cast<float>(packed & 0xFFu) * kByteToUnit;
    out[3] = static_cast<float>(packed >> 24) * kByteToUnit;
}

// One channel as a byte: 255 from 1.0 up, 0 from 0.0 down and for NaN, else rounded half up.
std::uint32_t ChannelByte(float c) {
    if (c >= 1.0f) return 255;
    if (!(c > 0.0f)) return 0;
    return static_cast<std::uint32_t>(c * 255.0f + 0.5f);
}

void DestroyParticleSystem(ParticleSystem* system) { std::default_delete<ParticleSystem>()(system); }

struct PointVertex {
    float x, y, z;
    std::uint32_t diffuse;
};
static_assert(sizeof(PointVertex) == kParticleVertexBytes);

}  // namespace

Particle ParticleFromRecord(const std::int32_t* record) {
    Particle p;
    p.life = record[0];
    for (int i = 0; i < 3; ++i) {
        p.position[i] = FixedToFloat(record[1 + i]);
        p.velocity[i] = FixedToFloat(record[4 + i]);
        p.acceleration[i] = FixedToFloat(record[7 + i]);
    }
    UnpackChannels(static_cast<std::uint32_t>(record[10]), p.colour);
    UnpackChannels(static_cast<std::uint32_t>(record[11]), p.colourStep);
    for (float& step : p.colourStep) step -= kStepBias;
    return p;
}

void AddParticleToSystem(ParticleSystem& system, const Particle& particle) {
    system.particles.push_back(particle);
    ++system.count;
}

std::int32_t UpdateParticleSystem(ParticleSystem& system) {
    std::int32_t alive = 0;
    for (auto it = system.particles.begin(); it != system.particles.end();) {
        Particle& p = *it;
        --p.life;
        if (p.life < 0) {
            it = system.particles.erase(it);
            --system.count;
            continue;
        }
        for (int i = 0; i < 3; ++i) p.position[i] += p.velocity[i];
        for (int i = 0; i < 3; ++i) p.velocity[i] += p.acceleration[i];
        for (int i = 0; i < 4; ++i) p.colour[i] += p.colourStep[i];
        ++alive;
        ++it;
    }
    return alive;
}

bool DrawParticleSystem(ParticleSystem& system, IDirect3DDevice9* device) {
    Matrix identity;
    MatrixIdentity(&identity);
    device->SetTransform(D3DTS_WORLD, &identity);
    IDirect3DVertexBuffer9* buffer = system.vertexBuffer.Get();
    device->SetStreamSource(0, buffer, 0, kParticleVertexBytes);
    device->SetFVF(kParticleFvf);
    if (buffer == nullptr) return false;

    void* locked = nullptr;
    if (FAILED(buffer->Lock(0, kParticleBufferBytes, &locked, D3DLOCK_DISCARD))) return false;
    UINT written = 0;
    for (const Particle& p : system.particles) {
        PointVertex v{p.position[0], p.position[1], p.position[2],
                      ChannelByte(p.colour[3]) << 24 | ChannelByte(p.colour[0]) << 16 |
                          ChannelByte(p.colour[1]) << 8 | ChannelByte(p.colour[2])};
        std::memcpy(static_cast<unsigned char*>(locked) + written * kParticleVertexBytes, &v, sizeof v);
        if (++written == kParticleBatch) {
            if (FAILED(buffer->Unlock())) return false;
            if (FAILED(device->DrawPrimitive(D3DPT_POINTLIST, 0, kParticleBatch))) return false;
            if (FAILED(buffer->Lock(0, kParticleBufferBytes, &locked, D3DLOCK_DISCARD))) return false;
            written = 0;
        }
    }
    if (FAILED(buffer->Unlock())) return false;
    if (written > 0 && FAILED(device->DrawPrimitive(D3DPT_POINTLIST, 0, written))) return false;
    return true;
}

std::int32_t AddParticleEntry(const std::int32_t* record, std::int32_t systemKey) {
    if (record == nullptr) return -1;
    Particle particle = ParticleFromRecord(record);
    EngineState& engine = Engine();
    auto [entry, added] = engine.particleTable.InsertIfAbsent(systemKey, nullptr);
    if (!*entry) {
        std::unique_ptr<ParticleSystem, ParticleSystemDeleter> system(std::make_unique<ParticleSystem>().release(),
                                                                      {&DestroyParticleSystem});
        if (engine.device) {
            engine.device->CreateVertexBuffer(kParticleBufferBytes, kParticleBufferUsage, kParticleFvf,
                                              D3DPOOL_DEFAULT, system->vertexBuffer.ReleaseAndGetAddressOf(),
                                              nullptr);
        }
        *entry = std::move(system);
    }
    AddParticleToSystem(**entry, particle);
    return 0;
}

std::int32_t UpdateParticleEntry(std::int32_t systemKey) {
    auto* entry = Engine().particleTable.Find(systemKey);
    if (entry == nullptr || !*entry) return -2;
    return -UpdateParticleSystem(**entry);
}

std::int32_t DrawParticleEntry(std::int32_t systemKey) {
    EngineState& engine = Engine();
    auto* entry = engine.particleTable.Find(systemKey);
    if (entry == nullptr || !*entry) return -2;
    if (!engine.device) return -1;
    return DrawParticleSystem(**entry, engine.device.Get()) ? 0 : -1;
}

}  // namespace qm
