// pipeline.h: the seam between the device API and drawing. The device validates a draw call and
// hands the pipeline a snapshot: the device state, the state groups changed since the pipeline last
// took them in, the render targets, and the vertex and index data the call reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/d3d9/device_state.h"
#include "platform/d3d9/resources.h"

namespace qm::d3d9 {

// Vertices of stream 0. keepAlive holds the buffer's storage for as long as the draw reads it (null
// for caller memory of the *UP calls, which is read before the call returns).
struct VertexSource {
    std::shared_ptr<const ByteBlock> keepAlive;
    const std::byte* data = nullptr;
    std::size_t size = 0;  // bytes readable from data
    UINT stride = 0;
};

struct IndexSource {
    std::shared_ptr<const ByteBlock> keepAlive;
    const std::byte* data = nullptr;
    std::size_t count = 0;  // indices readable from data
    UINT indexSize = 0;     // 2 or 4
};

// A validated draw: every vertex from firstVertex (non-indexed) or every index from firstIndex
// (indexed) that the primitive count needs lies inside its source. Index values are not checked
// here; the pipeline skips primitives whose vertices (baseVertexIndex + index) fall outside the
// vertex source.
struct DrawRequest {
    D3DPRIMITIVETYPE type = D3DPT_POINTLIST;
    UINT primitiveCount = 0;
    UINT vertexCount = 0;  // vertices (non-indexed) or indices (indexed) the primitives use
    bool indexed = false;
    UINT firstVertex = 0;
    INT baseVertexIndex = 0;
    UINT minVertexIndex = 0;
    UINT numVertices = 0;
    UINT firstIndex = 0;
    DWORD fvf = 0;
    VertexSource vertices;
    IndexSource indices;
};

struct RenderTargets {
    Surface* colour = nullptr;
    Surface* depth = nullptr;  // null without a depth buffer
};

// Turns validated draws into pixels. Its stages are where programs replace fixed function: vertex
// processing (after input assembly, before clipping) takes a vertex shader's place, pixel
// processing (after interpolation, before the depth, alpha and blend stages) a pixel shader's.
class Pipeline {
public:
    // Draws the request into the targets. dirtyGroups names the state groups changed since the last
    // draw that returned success; the device clears them on success.
    HRESULT Draw(const DeviceState& state, std::uint32_t dirtyGroups, const RenderTargets& targets,
                 const DrawRequest& request);
};

}  // namespace qm::d3d9
