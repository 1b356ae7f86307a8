// pipeline.cpp: the drawing pipeline behind validated draw calls.
#include "platform/d3d9/pipeline.h"

namespace qm::d3d9 {

HRESULT Pipeline::Draw(const DeviceState& state, std::uint32_t dirtyGroups, const RenderTargets& targets,
                       const DrawRequest& request) {
    // The rasteriser is not part of this device yet: every draw, once validated, is refused as
    // unavailable and nothing is written to the targets.
    return D3DERR_NOTAVAILABLE;
}

}  // namespace qm::d3d9
