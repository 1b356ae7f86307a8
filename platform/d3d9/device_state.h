// device_state.h: the state a device keeps between calls (render, texture-stage and sampler states,
// transforms, viewport, material, lights, bindings, shaders and their constants, N-patch mode), its
// defaults, the slot tables that validate state types and indices, and one dirty bit per state group.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>

#include "platform/d3d9/caps.h"
#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/resources.h"
#include "platform/d3d9/shaders.h"
#include "platform/d3d9/vertex_declaration.h"

namespace qm::d3d9 {

// One bit per state group, set by every Set call of the group and cleared once the pipeline has
// taken the change in, so that derived data is rebuilt once per change rather than once per draw.
enum DirtyGroup : std::uint32_t {
    kDirtyRenderStates = 1u << 0,
    kDirtyTextureStages = 1u << 1,
    kDirtySamplers = 1u << 2,
    kDirtyTransforms = 1u << 3,
    kDirtyViewport = 1u << 4,
    kDirtyMaterial = 1u << 5,
    kDirtyLights = 1u << 6,
    kDirtyStreams = 1u << 7,
    kDirtyIndices = 1u << 8,
    kDirtyVertexFormat = 1u << 9,
    kDirtyTextures = 1u << 10,
    kDirtyShaders = 1u << 11,  // the shaders set and their constant registers
    kDirtyAll = (1u << 12) - 1,
};

constexpr std::size_t kRenderStateSlots = D3DRS_BLENDOPALPHA + 1;
constexpr std::size_t kStageStateSlots = D3DTSS_CONSTANT + 1;
constexpr std::size_t kSamplerStateSlots = D3DSAMP_DMAPOFFSET + 1;
// Pixel samplers 0-15, then the displacement-map sampler and the four vertex-texture samplers.
constexpr std::size_t kSamplerSlots = 16 + 1 + 4;
// View, projection, texture 0-7, world 0-255.
constexpr std::size_t kTransformSlots = 2 + 8 + 256;

bool IsRenderState(DWORD state);
bool IsStageState(DWORD type);
bool IsSamplerState(DWORD type);
// The slot of a sampler (or texture stage) number, or -1 when the platform has no such sampler.
int SamplerSlot(DWORD sampler);
// The slot of a transform, or -1 for a type the platform does not have.
int TransformSlot(DWORD state);

struct LightRecord {
    D3DLIGHT9 light;
    bool enabled;
};

struct StreamBinding {
    ComPtr<VertexBuffer> buffer;
    UINT offset = 0;
    UINT stride = 0;
};

// The constant registers of one shader stage, each register's components in order: float and
// integer vectors of four, and booleans.
template <std::size_t FloatRegisters>
struct ShaderConstants {
    std::array<float, 4 * FloatRegisters> f{};
    std::array<int, 4 * kShaderConstantsI> i{};
    std::array<BOOL, kShaderConstantsB> b{};
};

struct DeviceState {
    std::array<DWORD, kRenderStateSlots> renderStates{};
    std::array<std::array<DWORD, kStageStateSlots>, kMaxTextureBlendStages> stageStates{};
    std::array<std::array<DWORD, kSamplerStateSlots>, kSamplerSlots> samplerStates{};
    std::array<D3DMATRIX, kTransformSlots> transforms{};
    D3DVIEWPORT9 viewport{};
    D3DMATERIAL9 material{};
    // Any DWORD index may hold a light; indices made from negative 32-bit keys are common.
    std::map<DWORD, LightRecord> lights;
    std::array<StreamBinding, kMaxStreams> streams;
    ComPtr<IndexBuffer> indices;
    // The vertex format word, or 0 while a declaration made from elements is set.
    DWORD fvf = 0;
    // The declaration set by SetVertexDeclaration, or made by SetFVF from the format word.
    ComPtr<VertexDeclaration> declaration;
    std::array<ComPtr<IDirect3DBaseTexture9>, kSamplerSlots> textures;
    // The shaders set (null: the fixed-function stage) and their stages' constant registers.
    ComPtr<VertexShader> vertexShader;
    ComPtr<PixelShader> pixelShader;
    ShaderConstants<kVertexShaderConstantsF> vertexConstants;
    ShaderConstants<kPixelShaderConstantsF> pixelConstants;
    // Segments per N-patch edge as set; stored and reported only.
    float nPatchSegments = 0.0f;
    std::uint32_t dirty = kDirtyAll;
};

// Sets every value to the platform's default for a device whose render target is width x height:
// render states (ZENABLE on only with an automatic depth buffer), texture stages (stage 0 modulates
// colour and selects alpha from the texture, the others are disabled), samplers, identity transforms,
// the whole-target viewport, a zero material; no lights, bindings, vertex format or shaders, every
// shader constant 0, N-patch mode 0. All groups dirty.
void ResetToDefaults(DeviceState* state, bool autoDepthStencil, UINT width, UINT height);

// The light LightEnable creates at an index never set: directional, white diffuse, direction
// (0, 0, 1), every other member 0.
D3DLIGHT9 DefaultLight();

D3DMATRIX IdentityMatrix();

}  // namespace qm::d3d9
