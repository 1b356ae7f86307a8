// frame_handles.h: the process-wide table of 32-bit frame references that scripts receive from
// GetFramePtrByIndex and pass back to GetFrameVec, so frames can be named by one word on any host.
#pragma once

#include <cstdint>

namespace qm {

struct ModelFrame;

// Registers a frame and returns its non-zero handle. Handles are not reused while the table still
// holds them; 0 is never given out.
std::uint32_t RegisterFrameHandle(ModelFrame* frame);
// Retires a handle; 0 and unknown handles are ignored.
void RetireFrameHandle(std::uint32_t handle);
// The frame of a live handle, or null for 0, a retired handle or one never given out.
ModelFrame* FrameFromHandle(std::uint32_t handle);

}  // namespace qm
