// vertex_processing.cpp: transforms with vertex blending, and the platform's fixed-function
// lighting equations (global ambient plus, per light, attenuation 1/(a0 + a1 d + a2 d^2) within
// Range, spot factor with Falloff, diffuse N.L and specular (N.H)^Power with a local or infinite
// viewer), evaluated in camera space.
#include "platform/d3d9/vertex_processing.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace qm::d3d9 {
namespace {

float Bits(DWORD v) { return std::bit_cast<float>(v); }

float Dot3(const float* a, const float* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

void Normalize3(float* v) {
    float length = std::sqrt(Dot3(v, v));
    if (length > 0.0f) {
        float inv = 1.0f / length;
        v[0] *= inv;
        v[1] *= inv;
        v[2] *= inv;
    }
}

// p x M for a point (w = 1), all four components.
void TransformPoint(const float* p, const Matrix4& m, float* out) {
    for (int c = 0; c < 4; ++c) out[c] = p[0] * m.m[0][c] + p[1] * m.m[1][c] + p[2] * m.m[2][c] + m.m[3][c];
}

void TransformPoint4(const float* p, const Matrix4& m, float* out) {
    for (int c = 0; c < 4; ++c) {
        out[c] = p[0] * m.m[0][c] + p[1] * m.m[1][c] + p[2] * m.m[2][c] + p[3] * m.m[3][c];
    }
}

void TransformDirection(const float* v, const Matrix4& m, float* out) {
    for (int c = 0; c < 3; ++c) out[c] = v[0] * m.m[0][c] + v[1] * m.m[1][c] + v[2] * m.m[2][c];
}

// The inverse transpose of the upper 3x3 of m (in the upper 3x3 of the result), which carries
// normals so that they stay perpendicular to transformed surfaces.
Matrix4 NormalMatrix(const Matrix4& m) {
    const auto& a = m.m;
    float c00 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
    float c01 = a[1][2] * a[2][0] - a[1][0] * a[2][2];
    float c02 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
    float c10 = a[0][2] * a[2][1] - a[0][1] * a[2][2];
    float c11 = a[0][0] * a[2][2] - a[0][2] * a[2][0];
    float c12 = a[0][1] * a[2][0] - a[0][0] * a[2][1];
    float c20 = a[0][1] * a[1][2] - a[0][2] * a[1][1];
    float c21 = a[0][2] * a[1][0] - a[0][0] * a[1][2];
    float c22 = a[0][0] * a[1][1] - a[0][1] * a[1][0];
    float det = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
    Matrix4 r{};
    // A singular matrix flattens the surface; its normals keep the cofactor directions.
    float inv = det != 0.0f ? 1.0f / det : 1.0f;
    // inverse = cofactor^T / det; its transpose is cofactor / det.
    r.m[0][0] = c00 * inv; r.m[0][1] = c01 * inv; r.m[0][2] = c02 * inv;
    r.m[1][0] = c10 * inv; r.m[1][1] = c11 * inv; r.m[1][2] = c12 * inv;
    r.m[2][0] = c20 * inv; r.m[2][1] = c21 * inv; r.m[2][2] = c22 * inv;
    r.m[3][3] = 1.0f;
    return r;
}

void Rgb(const D3DCOLORVALUE& c, float* out) {
    out[0] = c.r;
    out[1] = c.g;
    out[2] = c.b;
}

// Clamped to [0, 1]; not-a-number becomes 0.
float Saturate(float v) { return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f; }

// A material colour source: 0 material, 1 vertex diffuse, 2 vertex specular. A source naming a
// colour the vertex does not have falls back to the material.
int MaterialSource(const DeviceState& state, D3DRENDERSTATETYPE which, const InputLayout& layout) {
    if (!state.renderStates[D3DRS_COLORVERTEX]) return 0;
    DWORD source = state.renderStates[which];
    if (source == D3DMCS_COLOR1 && layout.hasDiffuse) return 1;
    if (source == D3DMCS_COLOR2 && layout.hasSpecular) return 2;
    return 0;
}

const float* SourceColour(int source, const D3DCOLORVALUE& material, const InputVertex& in) {
    if (source == 1) return in.diffuse;
    if (source == 2) return in.specular;
    return &material.r;
}

}  // namespace

Matrix4 Multiply(const Matrix4& a, const Matrix4& b) {
    Matrix4 r{};
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] + a.m[i][3] * b.m[3][j];
        }
    }
    return r;
}

Matrix4 ToMatrix4(const D3DMATRIX& d) {
    Matrix4 r;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) r.m[i][j] = d.m[i][j];
    }
    return r;
}

void VertexProcessor::Prepare(const DeviceState& state, std::uint32_t dirtyGroups, const InputLayout& layout) {
    const auto& rs = state.renderStates;
    pretransformed_ = layout.pretransformed;
    texCoordSets_ = layout.texCoordSets;
    hasPointSize_ = layout.hasPointSize;
    pointSize_ = Bits(rs[D3DRS_POINTSIZE]);
    pointMin_ = Bits(rs[D3DRS_POINTSIZE_MIN]);
    pointMax_ = std::min(Bits(rs[D3DRS_POINTSIZE_MAX]), kMaxPointSize);
    pointScale_ = rs[D3DRS_POINTSCALEENABLE] != 0;
    pointScaleA_ = Bits(rs[D3DRS_POINTSCALE_A]);
    pointScaleB_ = Bits(rs[D3DRS_POINTSCALE_B]);
    pointScaleC_ = Bits(rs[D3DRS_POINTSCALE_C]);
    viewportHeight_ = static_cast<float>(state.viewport.Height);
    if (pretransformed_) return;

    // Vertex blending: VERTEXBLEND names the weights read per vertex (the last matrix takes one minus
    // their sum); D3DVBF_0WEIGHTS uses one matrix with weight 1, chosen by index when indexed.
    DWORD blend = rs[D3DRS_VERTEXBLEND];
    UINT weights = (blend >= D3DVBF_1WEIGHTS && blend <= D3DVBF_3WEIGHTS) ? blend : 0;
    weights = std::min(weights, layout.blendWeightCount);
    bool indexed = rs[D3DRS_INDEXEDVERTEXBLENDENABLE] != 0 && layout.hasBlendIndices &&
                   (weights > 0 || blend == D3DVBF_0WEIGHTS);
    std::size_t matrices = indexed ? 256 : weights + 1;
    bool rebuild = (dirtyGroups & (kDirtyTransforms | kDirtyRenderStates | kDirtyVertexFormat)) != 0 ||
                   worldView_.size() != matrices || blendWeights_ != weights || indexedBlend_ != indexed;
    blendWeights_ = weights;
    indexedBlend_ = indexed;
    if (rebuild) {
        Matrix4 view = ToMatrix4(state.transforms[TransformSlot(D3DTS_VIEW)]);
        projection_ = ToMatrix4(state.transforms[TransformSlot(D3DTS_PROJECTION)]);
        worldView_.resize(matrices);
        normalMatrix_.resize(matrices);
        for (std::size_t i = 0; i < matrices; ++i) {
            Matrix4 world = ToMatrix4(state.transforms[TransformSlot(D3DTS_WORLDMATRIX(static_cast<DWORD>(i)))]);
            worldView_[i] = Multiply(world, view);
            normalMatrix_[i] = NormalMatrix(worldView_[i]);
        }
    }

    lighting_ = rs[D3DRS_LIGHTING] != 0;
    normalize_ = rs[D3DRS_NORMALIZENORMALS] != 0;
    localViewer_ = rs[D3DRS_LOCALVIEWER] != 0;
    specularEnable_ = rs[D3DRS_SPECULARENABLE] != 0;
    // Vertex fog is computed when fog is on and no table (per-pixel) mode is chosen.
    vertexFog_ = FogParameters{};
    if (rs[D3DRS_FOGENABLE] && rs[D3DRS_FOGTABLEMODE] == D3DFOG_NONE) {
        vertexFog_ = FogParameters{rs[D3DRS_FOGVERTEXMODE], Bits(rs[D3DRS_FOGSTART]), Bits(rs[D3DRS_FOGEND]),
                                   Bits(rs[D3DRS_FOGDENSITY])};
    }
    rangeFog_ = rs[D3DRS_RANGEFOGENABLE] != 0;
    if (!lighting_) return;
    material_ = state.material;
    diffuseSource_ = MaterialSource(state, D3DRS_DIFFUSEMATERIALSOURCE, layout);
    ambientSource_ = MaterialSource(state, D3DRS_AMBIENTMATERIALSOURCE, layout);
    specularSource_ = MaterialSource(state, D3DRS_SPECULARMATERIALSOURCE, layout);
    emissiveSource_ = MaterialSource(state, D3DRS_EMISSIVEMATERIALSOURCE, layout);
    DWORD ambient = rs[D3DRS_AMBIENT];
    globalAmbient_[0] = static_cast<float>((ambient >> 16) & 0xFF) / 255.0f;
    globalAmbient_[1] = static_cast<float>((ambient >> 8) & 0xFF) / 255.0f;
    globalAmbient_[2] = static_cast<float>(ambient & 0xFF) / 255.0f;

    // The first kMaxActiveLights enabled lights by index; lights live in camera space.
    Matrix4 view = ToMatrix4(state.transforms[TransformSlot(D3DTS_VIEW)]);
    lightCount_ = 0;
    for (const auto& [index, record] : state.lights) {
        if (!record.enabled) continue;
        if (lightCount_ == kMaxActiveLights) break;
        const D3DLIGHT9& l = record.light;
        LightData& d = lights_[lightCount_++];
        d.type = l.Type;
        Rgb(l.Diffuse, d.diffuse);
        Rgb(l.Specular, d.specular);
        Rgb(l.Ambient, d.ambient);
        float position[3] = {l.Position.x, l.Position.y, l.Position.z};
        float p4[4];
        TransformPoint(position, view, p4);
        std::copy(p4, p4 + 3, d.position);
        float direction[3] = {l.Direction.x, l.Direction.y, l.Direction.z};
        TransformDirection(direction, view, d.direction);
        Normalize3(d.direction);
        d.range = l.Range;
        d.falloff = l.Falloff;
        d.attenuation[0] = l.Attenuation0;
        d.attenuation[1] = l.Attenuation1;
        d.attenuation[2] = l.Attenuation2;
        d.cosHalfTheta = std::cos(l.Theta * 0.5f);
        d.cosHalfPhi = std::cos(l.Phi * 0.5f);
    }
}

void VertexProcessor::ComputeLighting(const float position[3], const float normal[3], const InputVertex& in,
                                      float diffuse[4], float specular[4]) const {
    const float* matDiffuse = SourceColour(diffuseSource_, material_.Diffuse, in);
    const float* matAmbient = SourceColour(ambientSource_, material_.Ambient, in);
    const float* matSpecular = SourceColour(specularSource_, material_.Specular, in);
    const float* matEmissive = SourceColour(emissiveSource_, material_.Emissive, in);

    float ambientSum[3] = {globalAmbient_[0], globalAmbient_[1], globalAmbient_[2]};
    float diffuseSum[3] = {};
    float specularSum[3] = {};
    // The direction to the viewer: from the vertex to the camera (at the camera-space origin), or
    // for an infinitely distant viewer the camera's axis back towards it, -z.
    float toViewer[3] = {0.0f, 0.0f, -1.0f};
    if (localViewer_) {
        toViewer[0] = -position[0];
        toViewer[1] = -position[1];
        toViewer[2] = -position[2];
        Normalize3(toViewer);
    }

    for (UINT i = 0; i < lightCount_; ++i) {
        const LightData& light = lights_[i];
        float toLight[3];
        float attenuation = 1.0f;
        if (light.type == D3DLIGHT_DIRECTIONAL) {
            toLight[0] = -light.direction[0];
            toLight[1] = -light.direction[1];
            toLight[2] = -light.direction[2];
        } else {
            toLight[0] = light.position[0] - position[0];
            toLight[1] = light.position[1] - position[1];
            toLight[2] = light.position[2] - position[2];
            float distance = std::sqrt(Dot3(toLight, toLight));
            if (distance > light.range) continue;
            float denominator =
                light.attenuation[0] + light.attenuation[1] * distance + light.attenuation[2] * distance * distance;
            attenuation = denominator > 0.0f ? 1.0f / denominator : 1.0f;
            if (distance > 0.0f) {
                float inv = 1.0f / distance;
                toLight[0] *= inv;
                toLight[1] *= inv;
                toLight[2] *= inv;
            }
            if (light.type == D3DLIGHT_SPOT) {
                float rho = -Dot3(toLight, light.direction);
                if (rho <= light.cosHalfPhi) continue;
                if (rho < light.cosHalfTheta) {
                    float t = (rho - light.cosHalfPhi) / (light.cosHalfTheta - light.cosHalfPhi);
                    attenuation *= light.falloff == 1.0f ? t : std::pow(t, light.falloff);
                }
            }
        }
        for (int c = 0; c < 3; ++c) ambientSum[c] += attenuation * light.ambient[c];
        float nDotL = Dot3(normal, toLight);
        if (nDotL <= 0.0f) continue;  // the light is behind the surface: no diffuse, no highlight
        for (int c = 0; c < 3; ++c) diffuseSum[c] += attenuation * nDotL * light.diffuse[c];
        if (specularEnable_) {
            float half[3] = {toLight[0] + toViewer[0], toLight[1] + toViewer[1], toLight[2] + toViewer[2]};
            Normalize3(half);
            float nDotH = Dot3(normal, half);
            if (nDotH > 0.0f) {
                float term = attenuation * std::pow(nDotH, material_.Power);
                for (int c = 0; c < 3; ++c) specularSum[c] += term * light.specular[c];
            }
        }
    }
    for (int c = 0; c < 3; ++c) {
        diffuse[c] = Saturate(matAmbient[c] * ambientSum[c] + matDiffuse[c] * diffuseSum[c] + matEmissive[c]);
        specular[c] = specularEnable_ ? Saturate(matSpecular[c] * specularSum[c]) : 0.0f;
    }
    diffuse[3] = Saturate(matDiffuse[3]);
    specular[3] = specularEnable_ ? Saturate(matSpecular[3]) : 0.0f;
}

void VertexProcessor::Process(const InputVertex& in, ProcessedVertex* out) const {
    float size = hasPointSize_ ? in.pointSize[0] : pointSize_;
    if (pretransformed_) {
        std::copy(in.position, in.position + 4, out->position);
        std::copy(in.diffuse, in.diffuse + 4, out->varyings + kDiffuseSlot);
        std::copy(in.specular, in.specular + 4, out->varyings + kSpecularSlot);
    } else {
        float camera[4] = {};
        float normal[3] = {};
        if (blendWeights_ == 0 && !indexedBlend_) {
            TransformPoint(in.position, worldView_[0], camera);
            TransformDirection(in.normal, normalMatrix_[0], normal);
        } else {
            float remaining = 1.0f;
            for (UINT i = 0; i <= blendWeights_; ++i) {
                float weight = i < blendWeights_ ? in.blendWeights[i] : remaining;
                remaining -= weight;
                std::size_t m = indexedBlend_ ? static_cast<std::size_t>(in.blendIndices[i]) & 0xFF : i;
                float p[4], n[3];
                TransformPoint(in.position, worldView_[m], p);
                TransformDirection(in.normal, normalMatrix_[m], n);
                for (int c = 0; c < 4; ++c) camera[c] += weight * p[c];
                for (int c = 0; c < 3; ++c) normal[c] += weight * n[c];
            }
        }
        if (normalize_) Normalize3(normal);
        float eye[4] = {camera[0], camera[1], camera[2], 1.0f};
        TransformPoint4(eye, projection_, out->position);
        if (lighting_) {
            ComputeLighting(camera, normal, in, out->varyings + kDiffuseSlot, out->varyings + kSpecularSlot);
        } else {
            std::copy(in.diffuse, in.diffuse + 4, out->varyings + kDiffuseSlot);
            std::copy(in.specular, in.specular + 4, out->varyings + kSpecularSlot);
        }
        if (vertexFog_.mode != D3DFOG_NONE) {
            float distance = rangeFog_ ? std::sqrt(Dot3(camera, camera)) : std::fabs(camera[2]);
            out->varyings[kSpecularSlot + 3] = FogFactor(vertexFog_, distance);
        }
        if (pointScale_) {
            float distance = std::sqrt(Dot3(camera, camera));
            float q = pointScaleA_ + pointScaleB_ * distance + pointScaleC_ * distance * distance;
            size = q > 0.0f ? viewportHeight_ * size * std::sqrt(1.0f / q) : pointMax_;
        }
    }
    for (UINT set = 0; set < texCoordSets_; ++set) {
        std::copy(in.texCoords[set], in.texCoords[set] + 4, out->varyings + kTexCoordSlot + 4 * set);
    }
    for (UINT set = texCoordSets_; set < kMaxTexCoordSets; ++set) {
        float* t = out->varyings + kTexCoordSlot + 4 * set;
        t[0] = t[1] = t[2] = 0.0f;
        t[3] = 1.0f;
    }
    out->pointSize = std::clamp(size, std::min(pointMin_, pointMax_), pointMax_);
}

}  // namespace qm::d3d9
