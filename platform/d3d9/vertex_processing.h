// vertex_processing.h: the fixed-function vertex stage: world (with vertex blending), view and
// projection transforms, the platform's lighting equations in camera space, and the vertex values
// passed on to rasterisation. A vertex program takes this stage's place later.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "platform/d3d9/device_state.h"
#include "platform/d3d9/fog.h"
#include "platform/d3d9/pipeline_types.h"
#include "platform/d3d9/vertex_input.h"

namespace qm::d3d9 {

// A 4x4 row-major matrix used with row vectors (p x M), as the platform's transforms are.
struct Matrix4 {
    float m[4][4];
};
Matrix4 Multiply(const Matrix4& a, const Matrix4& b);
Matrix4 ToMatrix4(const D3DMATRIX& d);

class VertexProcessor {
public:
    // Takes in the transforms, lights, material and render states a draw uses; the matrices are
    // rebuilt only when transforms or the blend states changed (dirtyGroups).
    void Prepare(const DeviceState& state, std::uint32_t dirtyGroups, const InputLayout& layout);

    // Transforms and lights one vertex.
    void Process(const InputVertex& in, ProcessedVertex* out) const;

private:
    struct LightData {
        D3DLIGHTTYPE type;
        float diffuse[3], specular[3], ambient[3];
        float position[3];   // camera space
        float direction[3];  // camera space, normalised, from the light
        float range, falloff, attenuation[3];
        float cosHalfTheta, cosHalfPhi;
    };

    // Lit diffuse and specular colours of a camera-space position and normal.
    void ComputeLighting(const float position[3], const float normal[3], const InputVertex& in, float diffuse[4],
                         float specular[4]) const;

    // Vertex blending: world-view and normal matrices by blend matrix index.
    std::vector<Matrix4> worldView_;
    std::vector<Matrix4> normalMatrix_;
    Matrix4 projection_{};
    bool pretransformed_ = false;
    bool lighting_ = false;
    bool normalize_ = false;
    bool localViewer_ = false;
    bool specularEnable_ = false;
    // Vertex fog: the factor goes into the specular alpha, from camera depth or distance (range fog).
    FogParameters vertexFog_;
    bool rangeFog_ = false;
    bool indexedBlend_ = false;
    UINT blendWeights_ = 0;  // weights read per vertex (blend matrices used = weights + 1)
    bool pointScale_ = false;
    bool hasPointSize_ = false;
    float pointSize_ = 1.0f;
    float pointScaleA_ = 1.0f, pointScaleB_ = 0.0f, pointScaleC_ = 0.0f;
    float viewportHeight_ = 1.0f;
    float pointMin_ = 1.0f, pointMax_ = 64.0f;
    // Material colour sources: 0 material, 1 vertex diffuse, 2 vertex specular (after checking presence).
    int diffuseSource_ = 0, ambientSource_ = 0, specularSource_ = 0, emissiveSource_ = 0;
    D3DMATERIAL9 material_{};
    float globalAmbient_[3] = {};
    std::array<LightData, kMaxActiveLights> lights_{};
    UINT lightCount_ = 0;
    UINT texCoordSets_ = 0;
};

}  // namespace qm::d3d9
