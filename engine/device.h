// device.h: the device and the frame: Init, Bye, BeginScene, EndScene, SetBgColor, GetCapsSize, GetCaps.
#pragma once

#include <cstdint>

namespace qm {

// Size in bytes of the capability record handed to scripts.
inline constexpr std::int32_t kCapsSize = 304;

// Word indices of HostWindowInfo that Init reads.
inline constexpr int kHostWindowWidthWord = 1;
inline constexpr int kHostWindowHeightWord = 2;
inline constexpr int kHostWindowHandleWord = 13;

// Opens the device on the host window described by info (at least 14 words). 0, or -1 when no
// device could be made (or info is null).
std::int32_t InitDevice(const std::int32_t* info);
// Frees models, particle systems, textures and the quad buffer, and empties the shader table.
std::int32_t ByeEngine();
// Clears (depth only when depthOnly is non-zero) and begins the frame. -1 without a device.
std::int32_t BeginFrame(std::int32_t depthOnly);
// Ends the frame and presents it. -1 without a device.
std::int32_t EndFrame();
std::int32_t SetBackgroundColor(std::int32_t r, std::int32_t g, std::int32_t b, std::int32_t a);
// Writes 304 into *out; -1 for a null address.
std::int32_t GetCapabilitiesSize(std::int32_t* out);
// Fills 304 bytes with the hardware device's capabilities; -1 before Init or for a null address.
std::int32_t GetCapabilities(void* buffer);

}  // namespace qm
