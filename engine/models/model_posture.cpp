// model_posture.cpp: posture matrices and the model update, animation tracks, and frame queries.
#include "engine/models/model_posture.h"

#include <cstring>

#include "engine/engine_state.h"
#include "engine/fixed.h"
#include "engine/models/frame_handles.h"
#include "engine/models/model_drawing.h"
#include "library/math/math.h"

namespace qm {
namespace {

// A point is three Fixed16 words from an index of the host array.
Vector3 ReadPoint(const std::int32_t* points, std::int32_t index) {
    const std::int32_t* p = points + index;
    return {FixedToFloat(p[0]), FixedToFloat(p[1]), FixedToFloat(p[2])};
}

void WritePoint(std::int32_t* points, std::int32_t index, const Vector4& q) {
    std::int32_t* p = points + index;
    p[0] = FloatToFixed(q.x);
    p[1] = FloatToFixed(q.y);
    p[2] = FloatToFixed(q.z);
}

// p × m as a four-component product (no division by w), read from and written back to the array.
void TransformPoint(std::int32_t* points, std::int32_t input, std::int32_t output, const Matrix& m) {
    Vector3 p = ReadPoint(points, input);
    Vector4 q;
    Vec3Transform(&q, &p, &m);
    WritePoint(points, output, q);
}

}  // namespace

Matrix PostureMatrix(const std::int32_t* posture) {
    Matrix scaling;
    MatrixScaling(&scaling, FixedToFloat(posture[6]), FixedToFloat(posture[7]), FixedToFloat(posture[8]));
    Quaternion q;
    QuaternionRotationYawPitchRoll(&q, TurnToRadians(posture[4]), TurnToRadians(posture[3]), TurnToRadians(posture[5]));
    Matrix rotation;
    MatrixRotationQuaternion(&rotation, &q);
    Matrix translation;
    MatrixTranslation(&translation, FixedToFloat(posture[0]), FixedToFloat(posture[1]), FixedToFloat(posture[2]));
    Matrix result;
    MatrixMultiply(&result, &scaling, &rotation);
    MatrixMultiply(&result, &result, &translation);
    return result;
}

void UpdateModel(ModelEntry& model, float time) {
    if (model.controller) model.controller->SetTime(static_cast<double>(time));
    if (IDirect3DDevice9* device = Engine().device.Get()) device->SetTransform(D3DTS_WORLD, &model.world);
    UpdateFrameMatrices(model.rootFrame, &model.world);
}

ModelFrame* FindFrameByIndex(ModelFrame* root, std::int32_t index) {
    ModelFrame* found = nullptr;
    std::int64_t counter = index;
    WalkFrames(root, [&](ModelFrame& frame) {
        if (--counter < 0) {
            found = &frame;
            return false;
        }
        return true;
    });
    return found;
}

std::int32_t SetModelPosture(const std::int32_t* posture, std::int32_t modelKey) {
    ModelEntry* model = FindModel(modelKey);
    if (model == nullptr || posture == nullptr) return -1;
    model->world = PostureMatrix(posture);
    UpdateModel(*model, FixedToFloat(posture[9]));
    return 0;
}

std::int32_t SetModelPostureLocal(const std::int32_t* posture, std::int32_t modelKey, std::int32_t referenceKey) {
    if (posture == nullptr) return -1;
    ModelEntry* model = FindModel(modelKey);
    ModelEntry* reference = FindModel(referenceKey);
    if (model == nullptr || reference == nullptr) return 0;
    Matrix local = PostureMatrix(posture);
    MatrixMultiply(&model->world, &local, &reference->world);
    UpdateModel(*model, FixedToFloat(posture[9]));
    return 0;
}

std::int32_t GetFrameVector(std::int32_t* points, std::uint32_t frameHandle, std::int32_t input,
                            std::int32_t output) {
    if (frameHandle == 0) return 0;
    if (points == nullptr || input < 0 || output < 0) return -1;
    ModelFrame* frame = FrameFromHandle(frameHandle);
    if (frame == nullptr) return 0;
    TransformPoint(points, input, output, frame->combined);
    return 0;
}

std::int32_t GetWorldVector(std::int32_t* points, std::int32_t modelKey, std::int32_t input, std::int32_t output) {
    ModelEntry* model = FindModel(modelKey);
    if (model == nullptr || points == nullptr || input < 0 || output < 0) return -1;
    TransformPoint(points, input, output, model->world);
    return 0;
}

std::int32_t GetFrameHandle(std::int32_t* out, std::int32_t modelKey, std::int32_t frameIndex) {
    ModelEntry* model = FindModel(modelKey);
    if (model == nullptr || out == nullptr) return -1;
    ModelFrame* frame = FindFrameByIndex(model->rootFrame, frameIndex);
    *out = frame == nullptr ? 0 : static_cast<std::int32_t>(frame->handle);
    return 0;
}

std::int32_t GetFrameName(std::int32_t modelKey, std::int32_t frameIndex, char* buffer) {
    ModelEntry* model = FindModel(modelKey);
    if (model == nullptr || buffer == nullptr) return -1;
    ModelFrame* frame = FindFrameByIndex(model->rootFrame, frameIndex);
    if (frame == nullptr || frame->name == nullptr) return -1;
    std::memcpy(buffer, frame->name, std::strlen(frame->name) + 1);
    return 0;
}

std::int32_t GetAnimationCount(std::int32_t modelKey) {
    ModelEntry* model = FindModel(modelKey);
    if (model == nullptr) return -1;
    return -static_cast<std::int32_t>(model->animationSetCount);
}

std::int32_t SetModelTrackEnable(std::int32_t modelKey, std::uint32_t track, std::int32_t enable) {
    ModelEntry* model = FindModel(modelKey);
    if (model == nullptr) return -1;
    if (model->controller) model->controller->SetTrackEnable(track, static_cast<BOOL>(enable));
    return 0;
}

std::int32_t SetModelTrackWeight(std::int32_t modelKey, std::uint32_t track, std::int32_t weight) {
    ModelEntry* model = FindModel(modelKey);
    if (model == nullptr) return -1;
    if (model->controller) model->controller->SetTrackWeight(track, FixedToFloat(weight));
    return 0;
}

}  // namespace qm
