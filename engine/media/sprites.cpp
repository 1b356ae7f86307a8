// sprites.cpp: DrawSprite: four vertices into the quad buffer, drawn as a triangle strip.
#include "engine/media/sprites.h"

#include <cstring>

#include "engine/engine_state.h"
#include "engine/fixed.h"

namespace qm {

std::int32_t DrawSpriteRecord(const std::int32_t* record) {
    EngineState& engine = Engine();
    if (record == nullptr || !engine.device || !engine.quadVertexBuffer) return -1;

    const float left = static_cast<float>(record[kSpriteLeft]);
    const float top = static_cast<float>(record[kSpriteTop]);
    const float right = static_cast<float>(record[kSpriteRight]);
    const float bottom = static_cast<float>(record[kSpriteBottom]);
    const float uLeft = FixedToFloat(record[kSpriteULeft]);
    const float vTop = FixedToFloat(record[kSpriteVTop]);
    const float uRight = FixedToFloat(record[kSpriteURight]);
    const float vBottom = FixedToFloat(record[kSpriteVBottom]);
    const DWORD colour = engine.drawColor;
    const QuadVertex quad[kQuadVertexCount] = {
        {left, top, 0.0f, 1.0f, colour, uLeft, vTop},
        {right, top, 0.0f, 1.0f, colour, uRight, vTop},
        {left, bottom, 0.0f, 1.0f, colour, uLeft, vBottom},
        {right, bottom, 0.0f, 1.0f, colour, uRight, vBottom},
    };

    IDirect3DVertexBuffer9* buffer = engine.quadVertexBuffer.Get();
    void* locked = nullptr;
    if (FAILED(buffer->Lock(0, sizeof quad, &locked, D3DLOCK_DISCARD))) return -1;
    if (locked == nullptr) {
        buffer->Unlock();
        return -1;
    }
    std::memcpy(locked, quad, sizeof quad);
    buffer->Unlock();

    IDirect3DDevice9* device = engine.device.Get();
    device->SetStreamSource(0, buffer, 0, sizeof(QuadVertex));
    device->SetFVF(kQuadFvf);
    device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    return 0;
}

}  // namespace qm
