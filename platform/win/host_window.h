// host_window.h: host windows: ids made by qmCreateHostWindow, each with the callback that receives
// presented frames. The window handle of a device is HwndFromId(id).
#pragma once

#include <cstdint>

#include "platform/win/win_types.h"

using HostPresentFn = void (*)(void* user, const std::uint32_t* pixels, std::int32_t width, std::int32_t height,
                               std::int32_t pitchBytes);

// Returns a new non-zero id, or 0 when callback is null.
std::int32_t CreateHostWindow(HostPresentFn callback, void* user);
void DestroyHostWindow(std::int32_t id);

// Hands a frame (32-bit ARGB, top row first) to the window's callback. Returns false, showing
// nothing, for handle 0 or an unknown or retired window.
bool PresentToHostWindow(HWND window, const std::uint32_t* pixels, std::int32_t width, std::int32_t height,
                         std::int32_t pitchBytes);

// Client sizes. Host windows are made without a size; the host's window record (HostWindowInfo)
// carries it, and Init records it here so that a device created with a zero back-buffer size takes
// the window's client size as the platform does. Any handle may carry a size, 0 included.
void SetWindowClientSize(HWND window, std::int32_t width, std::int32_t height);
// The recorded client rectangle (left = top = 0); FALSE when none was recorded.
BOOL GetClientRect(HWND window, RECT* rect);
