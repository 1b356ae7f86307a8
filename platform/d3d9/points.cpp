// points.cpp: expansion of a point into the square the rasteriser fills with its fill rule, so a
// point of size n at a pixel centre covers exactly n x n pixels.
#include "platform/d3d9/points.h"

#include <algorithm>

namespace qm::d3d9 {

void ExpandPoint(const ScreenVertex& centre, float size, bool sprite, std::uint32_t texCoordSetMask, int varyingCount,
                 ScreenVertex quad[4]) {
    float half = size * 0.5f;
    static constexpr float kCornerU[4] = {0.0f, 1.0f, 0.0f, 1.0f};
    static constexpr float kCornerV[4] = {0.0f, 0.0f, 1.0f, 1.0f};
    for (int corner = 0; corner < 4; ++corner) {
        ScreenVertex& v = quad[corner];
        v.x = centre.x + (kCornerU[corner] == 0.0f ? -half : half);
        v.y = centre.y + (kCornerV[corner] == 0.0f ? -half : half);
        v.z = centre.z;
        v.invW = centre.invW;
        std::copy(centre.varyings, centre.varyings + varyingCount, v.varyings);
        if (!sprite) continue;
        for (int set = 0; set < kMaxTexCoordSets; ++set) {
            if ((texCoordSetMask & (1u << set)) == 0) continue;
            // Varyings are stored multiplied by 1/w.
            float* t = v.varyings + kTexCoordSlot + 4 * set;
            t[0] = kCornerU[corner] * centre.invW;
            t[1] = kCornerV[corner] * centre.invW;
        }
    }
}

}  // namespace qm::d3d9
