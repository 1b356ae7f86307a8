// camera.h: the camera placed by three points, and the perspective projection.
#pragma once

#include <cstdint>

namespace qm {

// The projection Init sets: field of view 1 radian, near 0.125, far 50.
inline constexpr float kInitialFieldOfView = 1.0f;
inline constexpr float kInitialNearPlane = 0.125f;
inline constexpr float kInitialFarPlane = 50.0f;

// Each sets one camera point from three Fixed16 words and rebuilds the view. -1 without a device
// (the point is still kept).
std::int32_t SetCameraPosition(std::int32_t x, std::int32_t y, std::int32_t z);
std::int32_t SetCameraTargetPoint(std::int32_t x, std::int32_t y, std::int32_t z);
std::int32_t SetCameraUpVector(std::int32_t x, std::int32_t y, std::int32_t z);

// record: fov (Fixed16 radians), aspect numerator, aspect denominator, near, far (Fixed16).
// -1 for a null record or without a device.
std::int32_t SetProjectionFromRecord(const std::int32_t* record);

// Builds the left-handed perspective projection and sets it on the device.
void SetProjection(float fieldOfView, float aspect, float nearPlane, float farPlane);
// Builds the look-at view from the camera fields and sets it on the device.
void RebuildView();

}  // namespace qm
