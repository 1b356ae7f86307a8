// states.cpp: render and texture-stage states, draw colour, ambient light.
#include "engine/states.h"

#include "engine/engine_state.h"
#include "engine/fixed.h"

namespace qm {

std::int32_t PassRenderState(std::int32_t state, std::int32_t value) {
    EngineState& engine = Engine();
    if (!engine.device) return -1;
    engine.device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(state), static_cast<DWORD>(value));
    return 0;
}

std::int32_t PassTextureStageState(std::int32_t type, std::int32_t value) {
    EngineState& engine = Engine();
    if (!engine.device) return -1;
    engine.device->SetTextureStageState(0, static_cast<D3DTEXTURESTAGESTATETYPE>(type), static_cast<DWORD>(value));
    return 0;
}

std::int32_t SetDrawColor(std::int32_t r, std::int32_t g, std::int32_t b, std::int32_t a) {
    Engine().drawColor = PackColor(r, g, b, a);
    return 0;
}

std::int32_t SetAmbientLight(std::int32_t r, std::int32_t g, std::int32_t b, std::int32_t a) {
    EngineState& engine = Engine();
    if (!engine.device) return -1;
    engine.device->SetRenderState(D3DRS_AMBIENT, PackColor(r, g, b, a));
    return 0;
}

}  // namespace qm
