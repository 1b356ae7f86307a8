// sampler.h: the seam between pixel processing and textures: a bound texture and its sampler
// states are prepared once per draw into a Sampler whose function fetches and filters texels.
#pragma once

#include <cstdint>

#include "platform/d3d9/d3d9.h"

namespace qm::d3d9 {

struct DeviceState;

// A prepared sampler for one texture stage. sample writes red, green, blue, alpha in [0, 1] for
// texture coordinates (u, v, w) at the level of detail lod (log2 of level-0 texels per pixel along
// the major axis, before the sampler's bias and clamps). For cube textures (u, v, w) is a direction.
// Signed formats read in [-1, 1] and floating-point formats as stored. The function is chosen for
// the texture's format, type and the sampler's filters and address modes, so the inner loop has no
// switch.
struct Sampler {
    using SampleFn = void (*)(const Sampler& sampler, float u, float v, float w, float lod, float rgba[4]);
    SampleFn sample = nullptr;
    // Texture data and derived constants, owned by the texture, valid while the draw runs (the
    // texture's SamplingView; null for an unbound stage). width, height, depth are level 0's.
    const void* texture = nullptr;
    std::uint32_t width = 0, height = 0, depth = 0, levelCount = 0;
    float lodBias = 0.0f;
    float maxLevel = 0.0f;  // the most detailed level sampled (D3DSAMP_MAXMIPLEVEL, SetLOD)
    std::uint32_t data[16] = {};  // per-function constants (address modes, filters, border colour)
};

// Prepares the sampler of texture stage `stage` from the state's bound texture and sampler states.
// An unbound stage (or a texture type the device cannot sample) gets a sampler that returns opaque
// white, as the fixed-function pipeline samples an unbound stage.
void PrepareSampler(const DeviceState& state, DWORD stage, Sampler* sampler);

}  // namespace qm::d3d9
