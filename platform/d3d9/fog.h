// fog.h: the fog factor of the platform's three fog formulas (1 keeps the colour, 0 gives the fog
// colour): linear (end - d) / (end - start), exponential e^-(d density), squared e^-(d density)^2.
#pragma once

#include <cmath>

#include "platform/d3d9/d3d9types.h"

namespace qm::d3d9 {

struct FogParameters {
    DWORD mode = D3DFOG_NONE;
    float start = 0.0f;
    float end = 1.0f;
    float density = 1.0f;
};

inline float FogFactor(const FogParameters& fog, float distance) {
    float f;
    switch (fog.mode) {
        case D3DFOG_LINEAR:
            f = fog.end != fog.start ? (fog.end - distance) / (fog.end - fog.start) : (distance < fog.end ? 1.0f : 0.0f);
            break;
        case D3DFOG_EXP: f = std::exp(-distance * fog.density); break;
        case D3DFOG_EXP2: {
            float t = distance * fog.density;
            f = std::exp(-t * t);
            break;
        }
        default: return 1.0f;
    }
    return f < 0.0f ? 0.0f : (f > 1.0f ? 1.0f : (f == f ? f : 0.0f));
}

}  // namespace qm::d3d9
