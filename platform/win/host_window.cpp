// host_window.cpp: the table of host windows and their recorded client sizes.
#include "platform/win/host_window.h"

#include <map>
#include <mutex>

namespace {

struct Window {
    HostPresentFn callback;
    void* user;
};

struct Windows {
    std::mutex mutex;
    std::map<std::int32_t, Window> open;
    std::map<std::int32_t, SIZE> clientSizes;
    std::int32_t nextId = 1;
};

Windows& Table() {
    static Windows windows;
    return windows;
}

}  // namespace

std::int32_t CreateHostWindow(HostPresentFn callback, void* user) {
    if (callback == nullptr) return 0;
    Windows& w = Table();
    std::lock_guard<std::mutex> lock(w.mutex);
    std::int32_t id = w.nextId;
    // Ids are never reused, so a retired id stays unknown; 0 is skipped when the counter wraps.
    w.nextId = w.nextId == INT32_MAX ? 1 : w.nextId + 1;
    w.open[id] = Window{callback, user};
    return id;
}

void DestroyHostWindow(std::int32_t id) {
    Windows& w = Table();
    std::lock_guard<std::mutex> lock(w.mutex);
    w.open.erase(id);
    w.clientSizes.erase(id);
}

bool PresentToHostWindow(HWND window, const std::uint32_t* pixels, std::int32_t width, std::int32_t height,
                         std::int32_t pitchBytes) {
    Window target{};
    {
        Windows& w = Table();
        std::lock_guard<std::mutex> lock(w.mutex);
        auto it = w.open.find(IdFromHwnd(window));
        if (it == w.open.end()) return false;
        target = it->second;
    }
    if (pixels == nullptr || width <= 0 || height <= 0) return false;
    target.callback(target.user, pixels, width, height, pitchBytes);
    return true;
}

void SetWindowClientSize(HWND window, std::int32_t width, std::int32_t height) {
    Windows& w = Table();
    std::lock_guard<std::mutex> lock(w.mutex);
    w.clientSizes[IdFromHwnd(window)] = SIZE{width, height};
}

BOOL GetClientRect(HWND window, RECT* rect) {
    if (rect == nullptr) return FALSE;
    Windows& w = Table();
    std::lock_guard<std::mutex> lock(w.mutex);
    auto it = w.clientSizes.find(IdFromHwnd(window));
    if (it == w.clientSizes.end()) return FALSE;
    *rect = RECT{0, 0, it->second.cx, it->second.cy};
    return TRUE;
}
