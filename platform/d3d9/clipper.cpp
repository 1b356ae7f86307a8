// clipper.cpp: Sutherland-Hodgman clipping in homogeneous clip space; new vertices interpolate
// position and varyings linearly in clip space, which is correct before the perspective divide.
#include "platform/d3d9/clipper.h"

#include <algorithm>
#include <utility>

namespace qm::d3d9 {

void Clipper::Prepare(float guardX, float guardY, int varyingCount) {
    guardX_ = guardX;
    guardY_ = guardY;
    varyingCount_ = varyingCount;
}

// Signed distance to a plane, positive inside.
float Clipper::Distance(std::uint32_t plane, const float* p) const {
    switch (plane) {
        case kClipNear: return p[2];
        case kClipFar: return p[3] - p[2];
        case kClipLeft: return p[0] + guardX_ * p[3];
        case kClipRight: return guardX_ * p[3] - p[0];
        case kClipBottom: return p[1] + guardY_ * p[3];
        case kClipTop: return guardY_ * p[3] - p[1];
        default: return p[3] - kMinW;
    }
}

void Clipper::Lerp(const ProcessedVertex& a, const ProcessedVertex& b, float t, ProcessedVertex* out) const {
    for (int i = 0; i < 4; ++i) out->position[i] = a.position[i] + t * (b.position[i] - a.position[i]);
    for (int i = 0; i < varyingCount_; ++i) out->varyings[i] = a.varyings[i] + t * (b.varyings[i] - a.varyings[i]);
    out->pointSize = a.pointSize + t * (b.pointSize - a.pointSize);
}

int Clipper::ClipTriangle(const ProcessedVertex* a, const ProcessedVertex* b, const ProcessedVertex* c,
                          std::uint32_t planes, const ProcessedVertex* const** result) {
    const ProcessedVertex** in = listA_.data();
    const ProcessedVertex** out = listB_.data();
    in[0] = a;
    in[1] = b;
    in[2] = c;
    int count = 3;
    int madeCount = 0;
    for (std::uint32_t plane = 1; plane < (1u << kClipPlaneCount); plane <<= 1) {
        if ((planes & plane) == 0) continue;
        int outCount = 0;
        for (int i = 0; i < count; ++i) {
            const ProcessedVertex* p = in[i];
            const ProcessedVertex* q = in[(i + 1) % count];
            float dp = Distance(plane, p->position);
            float dq = Distance(plane, q->position);
            if (dp >= 0.0f) out[outCount++] = p;
            if ((dp >= 0.0f) != (dq >= 0.0f)) {
                // Interpolate from the inside vertex so that an edge shared by two triangles is cut
                // at exactly the same point in both.
                ProcessedVertex* v = &made_[static_cast<std::size_t>(madeCount++)];
                if (dp >= 0.0f) {
                    Lerp(*p, *q, dp / (dp - dq), v);
                } else {
                    Lerp(*q, *p, dq / (dq - dp), v);
                }
                out[outCount++] = v;
            }
        }
        count = outCount;
        if (count < 3) return 0;
        std::swap(in, out);
    }
    *result = in;
    return count;
}

bool Clipper::ClipLine(const ProcessedVertex* a, const ProcessedVertex* b, std::uint32_t planes,
                       const ProcessedVertex** outA, const ProcessedVertex** outB) {
    float t0 = 0.0f, t1 = 1.0f;
    for (std::uint32_t plane = 1; plane < (1u << kClipPlaneCount); plane <<= 1) {
        if ((planes & plane) == 0) continue;
        float da = Distance(plane, a->position);
        float db = Distance(plane, b->position);
        if (da < 0.0f && db < 0.0f) return false;
        if (da < 0.0f) t0 = std::max(t0, da / (da - db));
        if (db < 0.0f) t1 = std::min(t1, da / (da - db));
        if (t0 > t1) return false;
    }
    *outA = a;
    *outB = b;
    if (t0 > 0.0f) {
        Lerp(*a, *b, t0, &made_[0]);
        *outA = &made_[0];
    }
    if (t1 < 1.0f) {
        Lerp(*a, *b, t1, &made_[1]);
        *outB = &made_[1];
    }
    return true;
}

}  // namespace qm::d3d9
