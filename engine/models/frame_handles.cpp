// frame_handles.cpp: frame references as handles from a counter, held in one map while their frames live.
#include "engine/models/frame_handles.h"

#include <unordered_map>

namespace qm {
namespace {

struct HandleTable {
    std::unordered_map<std::uint32_t, ModelFrame*> frames;
    std::uint32_t next = 1;
};

HandleTable& Handles() {
    static HandleTable table;
    return table;
}

}  // namespace

std::uint32_t RegisterFrameHandle(ModelFrame* frame) {
    HandleTable& table = Handles();
    // The counter wraps after 2^32 − 1 frames; handles still in use and 0 are stepped over.
    while (table.next == 0 || table.frames.contains(table.next)) ++table.next;
    std::uint32_t handle = table.next++;
    table.frames.emplace(handle, frame);
    return handle;
}

void RetireFrameHandle(std::uint32_t handle) {
    if (handle != 0) Handles().frames.erase(handle);
}

ModelFrame* FrameFromHandle(std::uint32_t handle) {
    if (handle == 0) return nullptr;
    HandleTable& table = Handles();
    auto it = table.frames.find(handle);
    return it == table.frames.end() ? nullptr : it->second;
}

}  // namespace qm
