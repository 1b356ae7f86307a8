// state_block.h: which device states a state block holds (a mask over every state of DeviceState),
// the platform's lists for D3DSBT_ALL, D3DSBT_PIXELSTATE and D3DSBT_VERTEXSTATE, and the copies that
// Capture and Apply make between a block and the device.
#pragma once

#include <array>
#include <bitset>
#include <set>

#include "platform/d3d9/device_state.h"

namespace qm::d3d9 {

// The constant registers of one shader stage that a block holds.
template <std::size_t FloatRegisters>
struct ShaderConstantMask {
    std::bitset<FloatRegisters> f;
    std::bitset<kShaderConstantsI> i;
    std::bitset<kShaderConstantsB> b;

    void SetAll() {
        f.set();
        i.set();
        b.set();
    }
};

struct StateMask {
    std::bitset<kRenderStateSlots> renderStates;
    std::array<std::bitset<kStageStateSlots>, kMaxTextureBlendStages> stageStates;
    std::array<std::bitset<kSamplerStateSlots>, kSamplerSlots> samplerStates;
    std::bitset<kTransformSlots> transforms;
    std::bitset<kSamplerSlots> textures;
    std::bitset<kMaxStreams> streams;
    bool indices = false;
    bool fvf = false;  // the vertex format: FVF word and vertex declaration together
    bool viewport = false;
    bool material = false;
    std::set<DWORD> lights;        // lights whose parameters the block holds
    std::set<DWORD> lightEnables;  // lights whose enable flag the block holds
    bool vertexShader = false;
    bool pixelShader = false;
    ShaderConstantMask<kVertexShaderConstantsF> vertexConstants;
    ShaderConstantMask<kPixelShaderConstantsF> pixelConstants;
    bool nPatchMode = false;
};

// A block's contents: which states, and their values (only the masked values mean anything).
struct StateRecord {
    StateMask mask;
    DeviceState values;
};

// The states of a block of the given type; the lights are those `current` has. False for an unknown
// type.
bool MaskForType(D3DSTATEBLOCKTYPE type, const DeviceState& current, StateMask* mask);

// Copies the masked states of `from` into `into`. Lights the source does not have are left alone.
void CaptureState(const StateMask& mask, const DeviceState& from, DeviceState* into);

// Sets the masked states of `from` on `into` and marks the groups it touched dirty. A light whose
// enable flag alone is held, and that `into` does not have, is first made as the default light.
void ApplyState(const StateMask& mask, const DeviceState& from, DeviceState* into);

}  // namespace qm::d3d9
