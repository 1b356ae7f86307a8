// frame_window_none.cpp: the frame window of a host built without SDL2: there is none.
#include "host/frame_window.h"

namespace qm {

std::unique_ptr<FrameWindow> OpenFrameWindow(std::string* whyNot) {
    *whyNot = "this qmhost was built without SDL2";
    return nullptr;
}

}  // namespace qm
