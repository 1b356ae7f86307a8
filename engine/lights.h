// lights.h: the light table: lights keyed by script integers, sent whole to the device.
#pragma once

#include <cstdint>

namespace qm {

// Members of a new light that no export changes afterwards.
inline constexpr float kNewLightRange = 1000.0f;
inline constexpr float kNewLightFalloff = 1.0f;
inline constexpr float kNewLightTheta = 1.0f;
inline constexpr float kNewLightPhi = 0.5f;

// Every export returns 0 (absent keys are ignored), or -1 without a device.
std::int32_t AddLightEntry(std::int32_t key, std::int32_t type);
std::int32_t RemoveLightEntry(std::int32_t key);
// record: 15 Fixed16 words: diffuse rgb, specular rgb, position, direction, attenuation 0-2.
// -1 when the key is present and the record null.
std::int32_t SetLightRecord(const std::int32_t* record, std::int32_t key);

// The members one single-member export writes.
enum class LightMember { Diffuse, Specular, Position, Direction, Attenuation };
std::int32_t SetLightMember(LightMember member, std::int32_t key, std::int32_t a, std::int32_t b, std::int32_t c);

// Sends every light in ascending key order.
void ApplyAllLights();

}  // namespace qm
