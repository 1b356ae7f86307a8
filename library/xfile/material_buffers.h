// material_buffers.h: the material records and effect instances a mesh is read with, and the
// packing of each list into one DataBuffer whose records point into the same buffer.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "library/mesh/data_buffer.h"
#include "platform/d3d9/d3d9types.h"

namespace qm {

// One material of a mesh: the Direct3D material and its texture file name (null when none).
struct MaterialRecord {
    D3DMATERIAL9 material;
    char* textureFilename;
};

// What an effect default's value holds.
enum EffectDefaultKind : DWORD {
    kEffectDefaultString = 1,  // zero-terminated text, the zero counted in byteCount
    kEffectDefaultFloats = 2,  // byteCount / 4 floats
    kEffectDefaultDWord = 3,   // one 32-bit value
};

// A parameter default of an effect instance.
struct EffectDefault {
    char* paramName;
    DWORD kind;  // EffectDefaultKind
    DWORD byteCount;
    void* value;
};

// The effect of one material: its file name (null for an instance derived from the material) and
// its parameter defaults.
struct EffectInstance {
    char* effectFilename;
    DWORD defaultCount;
    EffectDefault* defaults;
};

// Material and effect data while a mesh is read, before packing.
struct MaterialData {
    D3DMATERIAL9 material{};
    std::optional<std::string> textureFilename;
};

struct EffectDefaultData {
    std::string paramName;
    DWORD kind = kEffectDefaultFloats;
    std::vector<BYTE> value;
};

struct EffectInstanceData {
    std::optional<std::string> effectFilename;
    std::vector<EffectDefaultData> defaults;
};

// The instance a material without an EffectInstance stands for: defaults "Diffuse", "Power",
// "Specular", "Emissive", "Ambient" (floats: 4, 1, 4, 4, 4) and, with a texture, "Texture0@Name"
// (string).
EffectInstanceData DeriveEffectInstance(const MaterialData& material);

// One buffer: the MaterialRecord array, then the texture names it points to.
// E_OUTOFMEMORY when the buffer cannot be had or would pass 4 GiB.
HRESULT PackMaterials(const std::vector<MaterialData>& materials, DataBuffer** out);

// One buffer: the EffectInstance array, then every EffectDefault array, then names and values
// (values 4-byte aligned). E_OUTOFMEMORY as PackMaterials.
HRESULT PackEffectInstances(const std::vector<EffectInstanceData>& instances, DataBuffer** out);

}  // namespace qm
