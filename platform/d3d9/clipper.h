// clipper.h: clipping of triangles and lines in homogeneous clip space (Sutherland-Hodgman)
// against the near and far planes (0 <= z <= w), a plane keeping w positive, and a guard band
// around the viewport for x and y; the rasteriser scissors to the viewport inside the guard band.
#pragma once

#include <array>
#include <cstdint>

#include "platform/d3d9/pipeline_types.h"

namespace qm::d3d9 {

enum ClipPlane : std::uint32_t {
    kClipNear = 1u << 0,
    kClipFar = 1u << 1,
    kClipLeft = 1u << 2,
    kClipRight = 1u << 3,
    kClipBottom = 1u << 4,
    kClipTop = 1u << 5,
    kClipW = 1u << 6,
    kClipPlaneCount = 7,
};

class Clipper {
public:
    // guardX, guardY: the guard band as multiples of the half viewport (>= 1); varyingCount: how
    // many varyings carry values in this draw.
    void Prepare(float guardX, float guardY, int varyingCount);

    // Bit set of the planes the clip-space position lies outside.
    std::uint32_t Outcode(const float* p) const {
        float w = p[3];
        std::uint32_t code = 0;
        if (p[2] < 0.0f) code |= kClipNear;
        if (p[2] > w) code |= kClipFar;
        if (p[0] < -guardX_ * w) code |= kClipLeft;
        if (p[0] > guardX_ * w) code |= kClipRight;
        if (p[1] < -guardY_ * w) code |= kClipBottom;
        if (p[1] > guardY_ * w) code |= kClipTop;
        if (w < kMinW) code |= kClipW;
        return code;
    }

    // Clips the triangle against the planes in `planes` (the union of its vertices' outcodes).
    // Returns the number of vertices of the resulting convex polygon (0 when nothing is left) and
    // points *result at them; they stay valid until the next call.
    int ClipTriangle(const ProcessedVertex* a, const ProcessedVertex* b, const ProcessedVertex* c,
                     std::uint32_t planes, const ProcessedVertex* const** result);

    // Clips a line; false when nothing is left. The end points are written to *a and *b.
    bool ClipLine(const ProcessedVertex* a, const ProcessedVertex* b, std::uint32_t planes,
                  const ProcessedVertex** outA, const ProcessedVertex** outB);

    static constexpr float kMinW = 1.0e-6f;

private:
    float Distance(std::uint32_t plane, const float* p) const;
    void Lerp(const ProcessedVertex& a, const ProcessedVertex& b, float t, ProcessedVertex* out) const;

    static constexpr int kMaxPolygon = 3 + kClipPlaneCount;
    float guardX_ = 1.0f;
    float guardY_ = 1.0f;
    int varyingCount_ = kMaxVaryings;
    std::array<ProcessedVertex, 2 * kMaxPolygon> made_{};
    std::array<const ProcessedVertex*, kMaxPolygon> listA_{};
    std::array<const ProcessedVertex*, kMaxPolygon> listB_{};
};

}  // namespace qm::d3d9
