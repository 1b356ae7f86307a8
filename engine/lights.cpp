// lights.cpp: the light table and its exports.
#include "engine/lights.h"

#include "engine/engine_state.h"
#include "engine/fixed.h"

namespace qm {
namespace {

// A new record: the given type, white diffuse, black specular and ambient, at the origin pointing
// along +z, no attenuation beyond the constant term.
D3DLIGHT9 NewLight(std::int32_t type) {
    D3DLIGHT9 light{};
    light.Type = static_cast<D3DLIGHTTYPE>(type);
    light.Diffuse = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 1.0f};
    light.Specular = D3DCOLORVALUE{0.0f, 0.0f, 0.0f, 1.0f};
    light.Ambient = D3DCOLORVALUE{0.0f, 0.0f, 0.0f, 1.0f};
    light.Position = D3DVECTOR{0.0f, 0.0f, 0.0f};
    light.Direction = D3DVECTOR{0.0f, 0.0f, 1.0f};
    light.Range = kNewLightRange;
    light.Falloff = kNewLightFalloff;
    light.Attenuation0 = 1.0f;
    light.Attenuation1 = 0.0f;
    light.Attenuation2 = 0.0f;
    light.Theta = kNewLightTheta;
    light.Phi = kNewLightPhi;
    return light;
}

DWORD LightIndex(std::int32_t key) { return static_cast<DWORD>(key); }

void SetRgb(D3DCOLORVALUE* colour, const std::int32_t* words) {
    colour->r = FixedToFloat(words[0]);
    colour->g = FixedToFloat(words[1]);
    colour->b = FixedToFloat(words[2]);
}

void SetVector(D3DVECTOR* vector, const std::int32_t* words) {
    vector->x = FixedToFloat(words[0]);
    vector->y = FixedToFloat(words[1]);
    vector->z = FixedToFloat(words[2]);
}

void SetAttenuation(D3DLIGHT9* light, const std::int32_t* words) {
    light->Attenuation0 = FixedToFloat(words[0]);
    light->Attenuation1 = FixedToFloat(words[1]);
    light->Attenuation2 = FixedToFloat(words[2]);
}

}  // namespace

void ApplyAllLights() {
    EngineState& engine = Engine();
    if (!engine.device) return;
    engine.lightTable.ForEach(
        [&](std::int32_t key, const D3DLIGHT9& light) { engine.device->SetLight(LightIndex(key), &light); });
}

std::int32_t AddLightEntry(std::int32_t key, std::int32_t type) {
    EngineState& engine = Engine();
    if (!engine.device) return -1;
    if (D3DLIGHT9* light = engine.lightTable.Find(key)) {
        // The new type reaches the device with the next sending of this record.
        light->Type = static_cast<D3DLIGHTTYPE>(type);
        return 0;
    }
    engine.lightTable.InsertIfAbsent(key, NewLight(type));
    engine.device->LightEnable(LightIndex(key), TRUE);
    ApplyAllLights();
    return 0;
}

std::int32_t RemoveLightEntry(std::int32_t key) {
    EngineState& engine = Engine();
    if (!engine.device) return -1;
    if (engine.lightTable.Find(key) != nullptr) {
        engine.device->LightEnable(LightIndex(key), FALSE);
        engine.lightTable.Erase(key);
    }
    ApplyAllLights();
    return 0;
}

std::int32_t SetLightRecord(const std::int32_t* record, std::int32_t key) {
    EngineState& engine = Engine();
    if (!engine.device) return -1;
    D3DLIGHT9* light = engine.lightTable.Find(key);
    if (light == nullptr) return 0;
    if (record == nullptr) return -1;
    SetRgb(&light->Diffuse, record + 0);
    SetRgb(&light->Specular, record + 3);
    SetVector(&light->Position, record + 6);
    SetVector(&light->Direction, record + 9);
    SetAttenuation(light, record + 12);
    engine.device->SetLight(LightIndex(key), light);
    return 0;
}

std::int32_t SetLightMember(LightMember member, std::int32_t key, std::int32_t a, std::int32_t b, std::int32_t c) {
    EngineState& engine = Engine();
    if (!engine.device) return -1;
    D3DLIGHT9* light = engine.lightTable.Find(key);
    if (light == nullptr) return 0;
    const std::int32_t words[3] = {a, b, c};
    switch (member) {
        case LightMember::Diffuse: SetRgb(&light->Diffuse, words); break;
        case LightMember::Specular: SetRgb(&light->Specular, words); break;
        case LightMember::Position: SetVector(&light->Position, words); break;
        case LightMember::Direction: SetVector(&light->Direction, words); break;
        case LightMember::Attenuation: SetAttenuation(light, words); break;
    }
    engine.device->SetLight(LightIndex(key), light);
    return 0;
}

}  // namespace qm
