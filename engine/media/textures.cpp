// textures.cpp: the texture table and its exports.
#include "engine/media/textures.h"

#include "engine/engine_state.h"
#include "library/tex/texture_creation.h"

namespace qm {

std::int32_t LoadTextureFile(const char* fileName, std::int32_t key) {
    FreeTextureEntry(key);
    EngineState& engine = Engine();
    if (fileName == nullptr || !engine.device) return -1;
    IDirect3DTexture9* texture = nullptr;
    if (FAILED(CreateTextureFromFile(engine.device.Get(), fileName, &texture)) || texture == nullptr) return -1;
    engine.textureTable.InsertIfAbsent(key, ComPtr<IDirect3DBaseTexture9>::Adopt(texture));
    return 0;
}

std::int32_t FreeTextureEntry(std::int32_t key) {
    Engine().textureTable.Erase(key);
    return 0;
}

std::int32_t BindTexture(std::int32_t key) {
    EngineState& engine = Engine();
    if (!engine.device) return -1;
    ComPtr<IDirect3DBaseTexture9>* texture = engine.textureTable.Find(key);
    engine.device->SetTexture(0, texture != nullptr ? texture->Get() : nullptr);
    return 0;
}

}  // namespace qm
