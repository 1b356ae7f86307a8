// pipeline_types.h: the records that pass between the drawing pipeline's stages: decoded input
// vertices, processed (clip-space) vertices and screen vertices with their interpolated values.
#pragma once

#include <cstdint>

namespace qm::d3d9 {

constexpr int kMaxTexCoordSets = 8;

// Values a vertex carries to the pixel stages, as floats in one row: diffuse RGBA, specular RGBA,
// then four components for each of the eight texture coordinate sets.
constexpr int kDiffuseSlot = 0;
constexpr int kSpecularSlot = 4;
constexpr int kTexCoordSlot = 8;
constexpr int kMaxVaryings = kTexCoordSlot + 4 * kMaxTexCoordSets;

// A vertex as the input stage decodes it, every value as four floats; absent values keep the
// defaults the draw sets up (w = 1, white diffuse, black specular, zero coordinates).
struct InputVertex {
    float position[4];
    float blendWeights[4];
    float blendIndices[4];
    float normal[4];
    float pointSize[4];
    float diffuse[4];
    float specular[4];
    float texCoords[kMaxTexCoordSets][4];
};

// A vertex after vertex processing. position is in clip space (x, y, z, w) for transformed
// vertices; for pre-transformed ones it already holds screen x, y, z and the reciprocal of w.
struct ProcessedVertex {
    float position[4];
    float varyings[kMaxVaryings];
    float pointSize;
};

// A vertex in screen space, ready for rasterisation: varyings are multiplied by invW so that they
// interpolate linearly on the screen and are divided back per pixel (perspective correction).
struct ScreenVertex {
    float x, y, z, invW;
    float varyings[kMaxVaryings];
};

}  // namespace qm::d3d9
