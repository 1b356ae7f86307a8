// pipeline.h: the seam between the device API and drawing. The device validates a draw call and
// hands the pipeline a snapshot: the device state, the state groups changed since the pipeline last
// took them in, the render targets, and the vertex and index data the call reads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/d3d9/clipper.h"
#include "platform/d3d9/device_state.h"
#include "platform/d3d9/output_merger.h"
#include "platform/d3d9/pixel_processing.h"
#include "platform/d3d9/rasteriser.h"
#include "platform/d3d9/resources.h"
#include "platform/d3d9/span_workers.h"
#include "platform/d3d9/spans.h"
#include "platform/d3d9/vertex_declaration.h"
#include "platform/d3d9/vertex_input.h"
#include "platform/d3d9/vertex_processing.h"

namespace qm::d3d9 {

// Vertices of one stream. keepAlive holds the buffer's storage for as long as the draw reads it
// (null for caller memory of the *UP calls, which is read before the call returns).
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
    ComPtr<VertexDeclaration> declaration;  // the vertex layout, kept alive for the draw
    std::array<VertexSource, kMaxStreams> streams;  // those the layout reads are set
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
    Pipeline();

    // Draws the request into the targets. dirtyGroups names the state groups changed since the last
    // draw that returned success; the device clears them on success. Primitives naming a vertex
    // outside the vertex source are skipped; nothing is read outside a source.
    HRESULT Draw(const DeviceState& state, std::uint32_t dirtyGroups, const RenderTargets& targets,
                 const DrawRequest& request);

    // Threads that shade pixels: 1 shades on the calling thread; more start that many workers (see
    // SpanWorkers). Every draw is complete when Draw returns, whatever the count.
    void SetThreadCount(int count);
    int ThreadCount() const { return workers_ ? workers_->Count() : 1; }

private:
    // A processed vertex with its outcode and, when inside every clip plane, its screen position.
    struct CachedVertex {
        ProcessedVertex processed;
        ScreenVertex screen;
        std::uint32_t outcode;
    };

    // The processed vertex of a vertex index, from a direct-mapped cache that keeps the memory of a
    // draw bounded whatever its size. `position` (0-2) is the vertex's place in its primitive, so
    // that the vertices of one primitive never evict each other.
    const CachedVertex& Vertex(std::uint64_t index, int position);
    void BeginPrimitive() { pinnedCount_ = 0; }
    void Project(const ProcessedVertex& in, ScreenVertex* out) const;
    void DrawTriangle(const CachedVertex* a, const CachedVertex* b, const CachedVertex* c);
    void DrawScreenTriangle(const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c);
    void DrawLine(const CachedVertex* a, const CachedVertex* b, bool lastPixel);
    void DrawPoint(const CachedVertex* v);

    const InputLayout* layout_ = nullptr;
    const VertexDeclaration* lastDeclaration_ = nullptr;
    std::uint32_t pendingDirty_ = kDirtyAll;  // state groups changed since the stages last took them in
    VertexProcessor vertexProcessor_;
    Clipper clipper_;
    Rasteriser rasteriser_;
    PixelProcessor pixelProcessor_;
    OutputMerger outputMerger_;

    // Per draw.
    std::array<StreamView, kMaxStreams> streams_{};
    int varyingCount_ = kTexCoordSlot;
    std::uint32_t texCoordSetMask_ = 0;
    float viewportX_ = 0.0f, viewportY_ = 0.0f, halfWidth_ = 0.0f, halfHeight_ = 0.0f;
    float minZ_ = 0.0f, depthRange_ = 1.0f;
    DWORD cullMode_ = D3DCULL_CCW;
    DWORD fillMode_ = D3DFILL_SOLID;
    bool flatShading_ = false;
    bool pointSprites_ = false;
    SpanContext spanContext_;

    static constexpr std::size_t kCacheSize = 1024;
    std::vector<CachedVertex> cache_;
    std::vector<std::uint64_t> cacheTags_;  // vertex index + 1 held by each entry, 0 when empty
    std::array<CachedVertex, 3> spare_{};   // for vertices whose entry a primitive already uses
    std::array<std::size_t, 3> pinned_{};
    int pinnedCount_ = 0;
    InputVertex input_{};
    std::unique_ptr<SpanWorkers> workers_;
};

}  // namespace qm::d3d9
