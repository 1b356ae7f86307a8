// frame_window.h: an on-screen window that shows presented frames, when the host has one.
#pragma once

#include <memory>
#include <string>

#include "host/frame_output.h"

namespace qm {

class FrameWindow {
public:
    virtual ~FrameWindow() = default;
    // Shows frame, sizing the window to it on the first call, and handles pending window events.
    virtual void Show(const Frame& frame) = 0;
    // True once the user closed the window (or pressed Escape in it).
    virtual bool Closed() const = 0;
    // Keeps showing the last frame until the user closes the window; returns at once when no frame
    // was shown or when the display is one that nobody watches.
    virtual void WaitUntilClosed() = 0;
};

// Opens the display. Returns null with *whyNot set when there is no display, or when the host was
// built without a window library.
std::unique_ptr<FrameWindow> OpenFrameWindow(std::string* whyNot);

}  // namespace qm
