// textures.h: the texture table: textures loaded from image files under script-chosen keys, and the
// binding of one of them to texture stage 0.
#pragma once

#include <cstdint>

namespace qm {

// Releases any texture under key, then creates a texture from the file (every creation option at
// its default) and keeps it under key. 0, or -1 when the texture cannot be created (the key is then
// empty: the old texture is gone too), when fileName is null, or without a device.
std::int32_t LoadTextureFile(const char* fileName, std::int32_t key);
// Releases the texture under key, if any. Always 0.
std::int32_t FreeTextureEntry(std::int32_t key);
// Binds the texture under key to stage 0, or unbinds stage 0 when the key is absent. 0; -1 without
// a device.
std::int32_t BindTexture(std::int32_t key);

}  // namespace qm
