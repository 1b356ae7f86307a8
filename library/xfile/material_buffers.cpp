// material_buffers.cpp: packing materials and effect instances into self-contained DataBuffers, and
// the effect instance derived from a plain material.
#include "library/xfile/material_buffers.h"

#include <cstdint>
#include <cstring>

namespace qm {
namespace {

constexpr std::uint64_t kMaxBufferSize = 0xFFFFFFFFu;

std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) { return (value + alignment - 1) / alignment * alignment; }

std::vector<BYTE> FloatBytes(const float* values, std::size_t count) {
    std::vector<BYTE> bytes(count * sizeof(float));
    std::memcpy(bytes.data(), values, bytes.size());
    return bytes;
}

std::vector<BYTE> ColorBytes(const D3DCOLORVALUE& color) {
    const float values[4] = {color.r, color.g, color.b, color.a};
    return FloatBytes(values, 4);
}

// Copies text and its zero to `at` and returns the copy.
char* PlaceText(BYTE* at, const std::string& text) {
    std::memcpy(at, text.c_str(), text.size() + 1);
    return reinterpret_cast<char*>(at);
}

}  // namespace

EffectInstanceData DeriveEffectInstance(const MaterialData& material) {
    const D3DMATERIAL9& m = material.material;
    EffectInstanceData instance;
    instance.defaults.push_back({"Diffuse", kEffectDefaultFloats, ColorBytes(m.Diffuse)});
    instance.defaults.push_back({"Power", kEffectDefaultFloats, FloatBytes(&m.Power, 1)});
    instance.defaults.push_back({"Specular", kEffectDefaultFloats, ColorBytes(m.Specular)});
    instance.defaults.push_back({"Emissive", kEffectDefaultFloats, ColorBytes(m.Emissive)});
    instance.defaults.push_back({"Ambient", kEffectDefaultFloats, ColorBytes(m.Ambient)});
    if (material.textureFilename) {
        const std::string& name = *material.textureFilename;
        std::vector<BYTE> text(name.begin(), name.end());
        text.push_back(0);
        instance.defaults.push_back({"Texture0@Name", kEffectDefaultString, std::move(text)});
    }
    return instance;
}

HRESULT PackMaterials(const std::vector<MaterialData>& materials, DataBuffer** out) {
    *out = nullptr;
    std::uint64_t size = materials.size() * sizeof(MaterialRecord);
    for (const MaterialData& m : materials)
        if (m.textureFilename) size += m.textureFilename->size() + 1;
    if (size > kMaxBufferSize) return E_OUTOFMEMORY;
    ComPtr<DataBuffer> buffer;
    if (HRESULT hr = CreateDataBuffer(DWORD(size), buffer.ReleaseAndGetAddressOf()); FAILED(hr)) return hr;
    BYTE* base = static_cast<BYTE*>(buffer->GetBufferPointer());
    auto* records = reinterpret_cast<MaterialRecord*>(base);
    BYTE* text = base + materials.size() * sizeof(MaterialRecord);
    for (std::size_t i = 0; i < materials.size(); ++i) {
        records[i].material = materials[i].material;
        records[i].textureFilename = nullptr;
        if (materials[i].textureFilename) {
            records[i].textureFilename = PlaceText(text, *materials[i].textureFilename);
            text += materials[i].textureFilename->size() + 1;
        }
    }
    *out = buffer.Detach();
    return S_OK;
}

HRESULT PackEffectInstances(const std::vector<EffectInstanceData>& instances, DataBuffer** out) {
    *out = nullptr;
    std::uint64_t defaultCount = 0;
    std::uint64_t payload = 0;
    for (const EffectInstanceData& instance : instances) {
        defaultCount += instance.defaults.size();
        if (instance.effectFilename) payload += instance.effectFilename->size() + 1;
        for (const EffectDefaultData& d : instance.defaults) payload += d.paramName.size() + 1 + AlignUp(d.value.size(), 4) + 4;
    }
    const std::uint64_t defaultsAt = instances.size() * sizeof(EffectInstance);
    const std::uint64_t payloadAt = defaultsAt + defaultCount * sizeof(EffectDefault);
    const std::uint64_t size = payloadAt + payload;
    if (size > kMaxBufferSize) return E_OUTOFMEMORY;
    ComPtr<DataBuffer> buffer;
    if (HRESULT hr = CreateDataBuffer(DWORD(size), buffer.ReleaseAndGetAddressOf()); FAILED(hr)) return hr;
    BYTE* base = static_cast<BYTE*>(buffer->GetBufferPointer());
    auto* records = reinterpret_cast<EffectInstance*>(base);
    auto* defaults = reinterpret_cast<EffectDefault*>(base + defaultsAt);
    std::uint64_t at = payloadAt;
    for (std::size_t i = 0; i < instances.size(); ++i) {
        const EffectInstanceData& instance = instances[i];
        records[i].effectFilename = nullptr;
        if (instance.effectFilename) {
            records[i].effectFilename = PlaceText(base + at, *instance.effectFilename);
            at += instance.effectFilename->size() + 1;
        }
        records[i].defaultCount = DWORD(instance.defaults.size());
        records[i].defaults = instance.defaults.empty() ? nullptr : defaults;
        for (const EffectDefaultData& d : instance.defaults) {
            defaults->paramName = PlaceText(base + at, d.paramName);
            at += d.paramName.size() + 1;
            at = AlignUp(at, 4);
            defaults->kind = d.kind;
            defaults->byteCount = DWORD(d.value.size());
            defaults->value = base + at;
            if (!d.value.empty()) std::memcpy(base + at, d.value.data(), d.value.size());
            at += AlignUp(d.value.size(), 4);
            ++defaults;
        }
    }
    *out = buffer.Detach();
    return S_OK;
}

}  // namespace qm
