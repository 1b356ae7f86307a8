// rasteriser.h: triangle and line set-up and scan conversion by the Direct3D 9 rules: pixel
// centres at integer coordinates, the top-left fill rule on edges with 8 bits of sub-pixel
// precision (so two triangles sharing an edge never both draw a pixel on it), lines by the
// diamond-exit rule; attribute planes for depth, 1/w and the varyings; spans handed to the pixel
// stages.
#pragma once

#include <array>
#include <cstdint>

#include "platform/d3d9/caps.h"
#include "platform/d3d9/d3d9types.h"
#include "platform/d3d9/pipeline_types.h"

namespace qm::d3d9 {

// A value over the screen: c at the origin (ox, oy) of its primitive, changing by dx per pixel to
// the right and dy per pixel down.
struct Plane {
    float c;
    float dx;
    float dy;
};

struct PrimitiveSetup {
    float ox = 0.0f, oy = 0.0f;
    Plane z{};
    Plane invW{};
    std::array<Plane, kMaxVaryings> varyings{};
    bool frontFace = true;
    std::uint64_t serial = 0;  // changes with every primitive set up, so that copies can be told apart
};

// Draws the pixels [x0, x1) of row y.
using SpanFn = void (*)(void* context, const PrimitiveSetup& setup, int y, int x0, int x1);

class Rasteriser {
public:
    // The pixels that may be drawn: [left, right) x [top, bottom). varyingCount: varyings to set up.
    void Prepare(int left, int top, int right, int bottom, int varyingCount, SpanFn span, void* context);

    // Largest screen coordinate a vertex may have; primitives beyond are not drawn.
    static constexpr float kMaxCoordinate = kMaxScreenCoordinate;

    // cullMode: D3DCULL_NONE, D3DCULL_CW (clockwise on screen culled) or D3DCULL_CCW.
    void DrawTriangle(const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c, DWORD cullMode);
    void DrawLine(const ScreenVertex& a, const ScreenVertex& b, bool lastPixel);

private:
    int left_ = 0, top_ = 0, right_ = 0, bottom_ = 0;
    int varyingCount_ = 0;
    SpanFn span_ = nullptr;
    void* context_ = nullptr;
    PrimitiveSetup setup_;
    std::uint64_t serial_ = 0;
};

}  // namespace qm::d3d9
