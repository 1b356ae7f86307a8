// model_picking.cpp: ray picking over a model's frames and containers, and the two ray exports.
#include "engine/models/model_picking.h"

#include "engine/fixed.h"
#include "engine/models/mesh_picking.h"
#include "engine/models/model_drawing.h"
#include "library/math/math.h"

namespace qm {
namespace {

// Tests one attribute group and keeps the hit when it is strictly closer; failures count as no hit.
void TestGroup(Mesh* mesh, DWORD attributeId, const Vector3& origin, const Vector3& direction, RayHit* best) {
    BOOL hit = FALSE;
    DWORD face = 0;
    float distance = 0.0f;
    if (FAILED(IntersectSubset(mesh, attributeId, &origin, &direction, &hit, &face, nullptr, nullptr, &distance,
                               nullptr, nullptr)) ||
        !hit) {
        return;
    }
    if (distance < best->distance) {
        best->attributeId = static_cast<std::int32_t>(attributeId);
        best->distance = distance;
        best->face = static_cast<std::int32_t>(face);
    }
}

void WriteHit(std::int32_t* ray, const RayHit& hit) {
    ray[6] = hit.face < 0 ? kNoHitDistance : FloatToFixed(hit.distance);
    ray[7] = hit.face;
    ray[8] = hit.attributeId;
}

Vector3 ReadVector(const std::int32_t* words) {
    return {FixedToFloat(words[0]), FixedToFloat(words[1]), FixedToFloat(words[2])};
}

}  // namespace

RayHit IntersectModel(ModelEntry& model, const Vector3& origin, const Vector3& direction) {
    RayHit best;
    WalkContainers(model.rootFrame, [&](ModelFrame& frame, ModelMeshContainer& container) {
        Mesh* mesh = container.DrawnMesh();
        if (mesh == nullptr) return;
        if (container.skinInfo != nullptr) {
            SkinVertices(model, container);
            for (const AttributeRange& group : container.attributeTable) {
                TestGroup(mesh, group.attribId, origin, direction, &best);
            }
            return;
        }
        Matrix inverse;
        if (MatrixInverse(&inverse, nullptr, &frame.combined) == nullptr) return;
        Vector3 localOrigin;
        Vector3 localDirection;
        Vec3TransformCoord(&localOrigin, &origin, &inverse);
        Vec3TransformNormal(&localDirection, &direction, &inverse);
        for (DWORD i = 0; i < container.materialCount; ++i) TestGroup(mesh, i, localOrigin, localDirection, &best);
    });
    return best;
}

std::int32_t IntersectWorldRay(std::int32_t* ray, std::int32_t modelKey) {
    ModelEntry* model = FindModel(modelKey);
    if (model == nullptr || ray == nullptr) return -1;
    WriteHit(ray, IntersectModel(*model, ReadVector(ray), ReadVector(ray + 3)));
    return 0;
}

std::int32_t IntersectLocalRay(std::int32_t* ray, std::int32_t modelKey, std::int32_t referenceKey) {
    if (ray == nullptr) return -1;
    ModelEntry* model = FindModel(modelKey);
    ModelEntry* reference = FindModel(referenceKey);
    if (model == nullptr || reference == nullptr) return 0;
    Vector3 origin = ReadVector(ray);
    Vector3 direction = ReadVector(ray + 3);
    Vector3 worldOrigin;
    Vector3 worldDirection;
    Vec3TransformCoord(&worldOrigin, &origin, &reference->world);
    Vec3TransformNormal(&worldDirection, &direction, &reference->world);
    WriteHit(ray, IntersectModel(*model, worldOrigin, worldDirection));
    return 0;
}

}  // namespace qm
