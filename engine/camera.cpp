// camera.cpp: view and projection matrices from the camera fields and the script's projection record.
#include "engine/camera.h"

#include "engine/engine_state.h"
#include "engine/fixed.h"
#include "library/math/math.h"

namespace qm {
namespace {

Vector3 ToVector(const Float3& f) {
    Vector3 v;
    v.x = f.x;
    v.y = f.y;
    v.z = f.z;
    return v;
}

std::int32_t SetCameraPoint(Float3 EngineState::*field, std::int32_t x, std::int32_t y, std::int32_t z) {
    EngineState& engine = Engine();
    engine.*field = Float3{FixedToFloat(x), FixedToFloat(y), FixedToFloat(z)};
    if (!engine.device) return -1;
    RebuildView();
    return 0;
}

}  // namespace

void RebuildView() {
    EngineState& engine = Engine();
    if (!engine.device) return;
    Vector3 eye = ToVector(engine.cameraPosition);
    Vector3 at = ToVector(engine.cameraTarget);
    Vector3 up = ToVector(engine.cameraUp);
    Matrix view;
    MatrixLookAtLH(&view, &eye, &at, &up);
    engine.device->SetTransform(D3DTS_VIEW, &view);
}

void SetProjection(float fieldOfView, float aspect, float nearPlane, float farPlane) {
    EngineState& engine = Engine();
    if (!engine.device) return;
    Matrix projection;
    MatrixPerspectiveFovLH(&projection, fieldOfView, aspect, nearPlane, farPlane);
    engine.device->SetTransform(D3DTS_PROJECTION, &projection);
}

std::int32_t SetCameraPosition(std::int32_t x, std::int32_t y, std::int32_t z) {
    return SetCameraPoint(&EngineState::cameraPosition, x, y, z);
}
std::int32_t SetCameraTargetPoint(std::int32_t x, std::int32_t y, std::int32_t z) {
    return SetCameraPoint(&EngineState::cameraTarget, x, y, z);
}
std::int32_t SetCameraUpVector(std::int32_t x, std::int32_t y, std::int32_t z) {
    return SetCameraPoint(&EngineState::cameraUp, x, y, z);
}

std::int32_t SetProjectionFromRecord(const std::int32_t* record) {
    if (record == nullptr || !Engine().device) return -1;
    // The aspect ratio is a quotient of two plain integers, divided in floating point.
    float aspect = static_cast<float>(record[1]) / static_cast<float>(record[2]);
    SetProjection(FixedToFloat(record[0]), aspect, FixedToFloat(record[3]), FixedToFloat(record[4]));
    return 0;
}

}  // namespace qm
