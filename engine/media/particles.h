// particles.h: particle systems: emission, constant-acceleration steps with linear colour change, and
// drawing as batches of coloured points through one 4096-byte dynamic vertex buffer.
#pragma once

#include <cstdint>
#include <list>

#include "platform/d3d9/d3d9.h"
#include "platform/win/unknown.h"

namespace qm {

// One particle as emitted: positions, velocities and accelerations in world units, colours as
// floats that may leave [0, 1] (they are clamped only when drawn).
struct Particle {
    std::int32_t life = 0;
    float position[3] = {};
    float velocity[3] = {};
    float acceleration[3] = {};
    float colour[4] = {};      // r, g, b, a
    float colourStep[4] = {};  // r, g, b, a per step
};

// Particles in emission order and the system's point buffer (null when making it failed).
struct ParticleSystem {
    std::list<Particle> particles;
    std::int32_t count = 0;
    ComPtr<IDirect3DVertexBuffer9> vertexBuffer;
};

inline constexpr std::uint32_t kParticleBufferBytes = 4096;
inline constexpr std::uint32_t kParticleVertexBytes = 16;
inline constexpr std::uint32_t kParticleBatch = kParticleBufferBytes / kParticleVertexBytes;  // 256
inline constexpr DWORD kParticleBufferUsage = D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC | D3DUSAGE_POINTS;  // 0x248
inline constexpr DWORD kParticleFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;                                     // 0x42

// The particle of a 12-word emission record: life, Fixed16 position, velocity and acceleration,
// colour 0xAARRGGBB and the colour step with each byte biased by 128.
Particle ParticleFromRecord(const std::int32_t* record);

// Appends a particle to the system.
void AddParticleToSystem(ParticleSystem& system, const Particle& particle);
// Advances every particle by one step, removing those whose life ends; returns how many are alive.
std::int32_t UpdateParticleSystem(ParticleSystem& system);
// Draws the particles as point lists on the device; false when a lock or draw failed.
bool DrawParticleSystem(ParticleSystem& system, IDirect3DDevice9* device);

// The exports: AddParticle returns 0 (-1 for a null record); UpdateParticle minus the particles left
// alive; DrawParticle 0, or -1 on failure; the last two give -2 for a key with no system.
std::int32_t AddParticleEntry(const std::int32_t* record, std::int32_t systemKey);
std::int32_t UpdateParticleEntry(std::int32_t systemKey);
std::int32_t DrawParticleEntry(std::int32_t systemKey);

}  // namespace qm
