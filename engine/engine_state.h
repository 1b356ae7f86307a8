// engine_state.h: EngineState, the one process-wide record of the engine, and its five keyed tables.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/keyed_table.h"
#include "platform/d3d9/d3d9.h"

namespace qm {

// Records owned by the model, particle and shader tables; their contents belong to model loading,
// particles and shaders.
struct ModelEntry;
struct ParticleSystem;
struct ShaderEntry;
struct FontHandle;

// The tables own their records through a deleter that the subsystem which made the record fills in,
// so the engine core destroys them without depending on the subsystems above it.
template <class Record>
struct RecordDeleter {
    void (*destroy)(Record*) = nullptr;
    void operator()(Record* record) const {
        if (destroy != nullptr) destroy(record);
    }
};
using ModelEntryDeleter = RecordDeleter<ModelEntry>;
using ParticleSystemDeleter = RecordDeleter<ParticleSystem>;
using ShaderEntryDeleter = RecordDeleter<ShaderEntry>;

using ModelTable = KeyedTable<std::unique_ptr<ModelEntry, ModelEntryDeleter>>;
using ParticleTable = KeyedTable<std::unique_ptr<ParticleSystem, ParticleSystemDeleter>>;
using TextureTable = KeyedTable<ComPtr<IDirect3DBaseTexture9>>;
using ShaderTable = KeyedTable<std::unique_ptr<ShaderEntry, ShaderEntryDeleter>>;
using LightTable = KeyedTable<D3DLIGHT9>;

struct Float3 {
    float x, y, z;
};

// Members are declared in the order of the module's static initialisation: Direct3D object and
// device, then the tables (destroyed in reverse order at unload), then the camera.
struct EngineState {
    ComPtr<IDirect3D9> direct3d;
    ComPtr<IDirect3DDevice9> device;
    ModelTable modelTable;
    ParticleTable particleTable;
    TextureTable textureTable;
    LightTable lightTable;
    ShaderTable shaderTable;
    Float3 cameraPosition{0.0f, 0.0f, 0.0f};
    Float3 cameraTarget{0.0f, 0.0f, 1.0f};
    Float3 cameraUp{0.0f, 1.0f, 0.0f};
    std::int32_t screenHeight = 0;
    std::int32_t screenWidth = 0;
    ComPtr<IUnknown> font;
    std::uint32_t backgroundColor = 0x00000000;
    ShaderEntry* selectedShader = nullptr;
    ComPtr<IDirect3DVertexBuffer9> quadVertexBuffer;
    std::uint32_t drawColor = 0xFFFFFFFF;
};

// The engine state of this process.
EngineState& Engine();

}  // namespace qm
