// states.h: render and texture-stage states passed through, the draw colour and the ambient light.
#pragma once

#include <cstdint>

namespace qm {

// Each returns 0, or -1 without a device (SetDrawColor needs none).
std::int32_t PassRenderState(std::int32_t state, std::int32_t value);
std::int32_t PassTextureStageState(std::int32_t type, std::int32_t value);
std::int32_t SetDrawColor(std::int32_t r, std::int32_t g, std::int32_t b, std::int32_t a);
std::int32_t SetAmbientLight(std::int32_t r, std::int32_t g, std::int32_t b, std::int32_t a);

}  // namespace qm
