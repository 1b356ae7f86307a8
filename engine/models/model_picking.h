// model_picking.h: ray picking against a model in its current pose (IntersectWorld, IntersectLocal).
#pragma once

#include <cstdint>

#include "engine/models/model_records.h"

namespace qm {

// Words of a ray record: origin (Fixed16, 0-2), direction (Fixed16, 3-5), then the outputs: distance
// of the closest hit (Fixed16, 6), its face index (7) and its attribute id (8).
inline constexpr int kRayWords = 9;
// The distance word written when nothing is hit (faces and attribute ids are then -1): the largest
// Fixed16 value, since the distance "infinitely far" has no Fixed16 form.
inline constexpr std::int32_t kNoHitDistance = 0x7FFFFFFF;

// The closest hit of a ray on the model: attribute id, distance (in multiples of direction), face.
struct RayHit {
    std::int32_t attributeId = -1;
    float distance = 3.4028235e38f;
    std::int32_t face = -1;
};

// Tests every container of the model, frames in walk order. Skinned containers are skinned first
// and tested in world space group by group; static containers are tested in their frame's space
// material by material, the ray taken there through the inverse of the frame's combined matrix (a
// frame whose matrix has no inverse is skipped). Only a strictly closer hit replaces the one found.
RayHit IntersectModel(ModelEntry& model, const Vector3& origin, const Vector3& direction);

// The exports: IntersectWorld 0, -1 for a key without a model or a null record; IntersectLocal takes
// the ray in the reference model's placement space and answers 0 (nothing written) when either key
// holds no model.
std::int32_t IntersectWorldRay(std::int32_t* ray, std::int32_t modelKey);
std::int32_t IntersectLocalRay(std::int32_t* ray, std::int32_t modelKey, std::int32_t referenceKey);

}  // namespace qm
