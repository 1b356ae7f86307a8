// model_posture.h: placing models (SetPosture, SetPostureLocal) and the model update that moves
// animation time; animation tracks (GetAnimNum, SetTrackEnable, SetTrackWeight); frame queries by
// index, name and frame reference (GetFrameVec, GetWorldVec, GetFramePtrByIndex, GetFrameNameByIndex).
#pragma once

#include <cstdint>

#include "engine/models/model_records.h"

namespace qm {

// Words of a posture record: position (Fixed16), rotation about X, Y, Z (turn angles), scale
// (Fixed16), animation time in seconds (Fixed16).
inline constexpr int kPostureWords = 10;

// Scaling × rotation × translation of a posture record; the rotation turns a point about Z (word 5),
// then X (word 3), then Y (word 4), built through the yaw-pitch-roll quaternion.
Matrix PostureMatrix(const std::int32_t* posture);

// Moves the controller to the absolute time (seconds), sets the device's world transform to the
// model's world matrix and recomputes every frame's combined matrix from it.
void UpdateModel(ModelEntry& model, float time);

// The frame at a walk-order index (the root for a negative index), or null past the last frame.
ModelFrame* FindFrameByIndex(ModelFrame* root, std::int32_t index);

// The exports. Null addresses give -1; the other results are those of the exports.
std::int32_t SetModelPosture(const std::int32_t* posture, std::int32_t modelKey);
std::int32_t SetModelPostureLocal(const std::int32_t* posture, std::int32_t modelKey, std::int32_t referenceKey);
// Transforms point `input` of the array (three Fixed16 words) by the frame's combined matrix into
// point `output`. Frame reference 0, or one whose model is gone: 0 and nothing written. Negative
// indices: -1.
std::int32_t GetFrameVector(std::int32_t* points, std::uint32_t frameHandle, std::int32_t input, std::int32_t output);
std::int32_t GetWorldVector(std::int32_t* points, std::int32_t modelKey, std::int32_t input, std::int32_t output);
std::int32_t GetFrameHandle(std::int32_t* out, std::int32_t modelKey, std::int32_t frameIndex);
// Copies the frame's name and its terminating zero into buffer (which must be large enough).
std::int32_t GetFrameName(std::int32_t modelKey, std::int32_t frameIndex, char* buffer);

// -count of the model's animation sets (0 without animation); -1 for a key without a model.
std::int32_t GetAnimationCount(std::int32_t modelKey);
// Pass the track and flag (or the Fixed16 weight as a float) to the controller; its result is not
// reported. 0, -1 for a key without a model.
std::int32_t SetModelTrackEnable(std::int32_t modelKey, std::uint32_t track, std::int32_t enable);
std::int32_t SetModelTrackWeight(std::int32_t modelKey, std::uint32_t track, std::int32_t weight);

}  // namespace qm
