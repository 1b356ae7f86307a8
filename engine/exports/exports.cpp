// exports.cpp: the 56 four-word exports: each converts its words, calls the engine and returns the result.
#include "quillmere/quillmere.h"

#include <cstdint>

#include "engine/camera.h"
#include "engine/device.h"
#include "engine/lights.h"
#include "engine/media/particles.h"
#include "engine/media/sprites.h"
#include "engine/media/text.h"
#include "engine/media/textures.h"
#include "engine/models/model_drawing.h"
#include "engine/models/model_loading.h"
#include "engine/models/model_picking.h"
#include "engine/models/model_posture.h"
#include "engine/script_math.h"
#include "engine/states.h"

namespace {

using qm::LightMember;

std::int32_t Int(QmWord word) { return static_cast<std::int32_t>(word); }
std::int32_t* Words(QmWord word) { return reinterpret_cast<std::int32_t*>(word); }
void* Bytes(QmWord word) { return reinterpret_cast<void*>(word); }

// No exception crosses the interface: anything thrown becomes the failure result.
template <class F>
std::int32_t Guard(F&& call) noexcept {
    try {
        return call();
    } catch (...) {
        return -1;
    }
}

// Exports whose subsystems are not built yet fail without touching anything.
std::int32_t NotBuilt() { return -1; }

}  // namespace

#define QM_EXPORT(name) extern "C" QM_API std::int32_t QM_CALL name(QmWord w1, QmWord w2, QmWord w3, QmWord w4)

// Device and frame.
QM_EXPORT(Init) { return Guard([&] { return qm::InitDevice(Words(w1)); }); }
QM_EXPORT(Bye) { return Guard([&] { return qm::ByeEngine(); }); }
QM_EXPORT(BeginScene) { return Guard([&] { return qm::BeginFrame(Int(w1)); }); }
QM_EXPORT(EndScene) { return Guard([&] { return qm::EndFrame(); }); }
QM_EXPORT(SetBgColor) { return Guard([&] { return qm::SetBackgroundColor(Int(w1), Int(w2), Int(w3), Int(w4)); }); }
QM_EXPORT(GetCapsSize) { return Guard([&] { return qm::GetCapabilitiesSize(Words(w1)); }); }
QM_EXPORT(GetCaps) { return Guard([&] { return qm::GetCapabilities(Bytes(w1)); }); }

// Camera and projection.
QM_EXPORT(SetCameraPos) { return Guard([&] { return qm::SetCameraPosition(Int(w1), Int(w2), Int(w3)); }); }
QM_EXPORT(SetCameraTarget) { return Guard([&] { return qm::SetCameraTargetPoint(Int(w1), Int(w2), Int(w3)); }); }
QM_EXPORT(SetCameraUp) { return Guard([&] { return qm::SetCameraUpVector(Int(w1), Int(w2), Int(w3)); }); }
QM_EXPORT(SetProj) { return Guard([&] { return qm::SetProjectionFromRecord(Words(w1)); }); }

// States, colours and lights.
QM_EXPORT(SetRenderState) { return Guard([&] { return qm::PassRenderState(Int(w1), Int(w2)); }); }
QM_EXPORT(SetTexStageState) { return Guard([&] { return qm::PassTextureStageState(Int(w1), Int(w2)); }); }
QM_EXPORT(SetColor) { return Guard([&] { return qm::SetDrawColor(Int(w1), Int(w2), Int(w3), Int(w4)); }); }
QM_EXPORT(SetAmbient) { return Guard([&] { return qm::SetAmbientLight(Int(w1), Int(w2), Int(w3), Int(w4)); }); }
QM_EXPORT(AddLight) { return Guard([&] { return qm::AddLightEntry(Int(w1), Int(w2)); }); }
QM_EXPORT(RemoveLight) { return Guard([&] { return qm::RemoveLightEntry(Int(w1)); }); }
QM_EXPORT(SetLightParam) { return Guard([&] { return qm::SetLightRecord(Words(w1), Int(w2)); }); }
QM_EXPORT(SetLightDirection) {
    return Guard([&] { return qm::SetLightMember(LightMember::Direction, Int(w1), Int(w2), Int(w3), Int(w4)); });
}
QM_EXPORT(SetLightPosition) {
    return Guard([&] { return qm::SetLightMember(LightMember::Position, Int(w1), Int(w2), Int(w3), Int(w4)); });
}
QM_EXPORT(SetLightAttenuation) {
    return Guard([&] { return qm::SetLightMember(LightMember::Attenuation, Int(w1), Int(w2), Int(w3), Int(w4)); });
}
QM_EXPORT(SetLightColor) {
    return Guard([&] { return qm::SetLightMember(LightMember::Diffuse, Int(w1), Int(w2), Int(w3), Int(w4)); });
}
QM_EXPORT(SetLightSpecular) {
    return Guard([&] { return qm::SetLightMember(LightMember::Specular, Int(w1), Int(w2), Int(w3), Int(w4)); });
}

// Script math.
QM_EXPORT(GetSinTable) { return Guard([&] { return qm::FillSinTable(Words(w1), Int(w2)); }); }
QM_EXPORT(GetCosTable) { return Guard([&] { return qm::FillCosTable(Words(w1), Int(w2)); }); }
QM_EXPORT(Atan) { return Guard([&] { return qm::AngleOf(Words(w1), Int(w2), Int(w3)); }); }
QM_EXPORT(Len) { return Guard([&] { return qm::LengthOf(Words(w1), Int(w2), Int(w3), Int(w4)); }); }

// Models: loading, drawing, animation tracks, posture, frames and picking.
QM_EXPORT(LoadModel) {
    return Guard([&] { return qm::LoadModelEntry(static_cast<const char*>(Bytes(w2)), Int(w3)); });
}
QM_EXPORT(FreeModel) { return Guard([&] { return qm::FreeModelEntry(Int(w1)); }); }
QM_EXPORT(DrawModel) { return Guard([&] { return qm::DrawModelEntry(Int(w1)); }); }
QM_EXPORT(SetObjColor) { return Guard([&] { return qm::SetModelColor(Words(w1), Int(w2)); }); }
QM_EXPORT(GetAnimNum) { return Guard([&] { return qm::GetAnimationCount(Int(w1)); }); }
QM_EXPORT(SetTrackEnable) {
    return Guard([&] { return qm::SetModelTrackEnable(Int(w1), static_cast<std::uint32_t>(w2), Int(w3)); });
}
QM_EXPORT(SetTrackWeight) {
    return Guard([&] { return qm::SetModelTrackWeight(Int(w1), static_cast<std::uint32_t>(w2), Int(w3)); });
}
QM_EXPORT(SetPosture) { return Guard([&] { return qm::SetModelPosture(Words(w1), Int(w2)); }); }
QM_EXPORT(SetPostureLocal) { return Guard([&] { return qm::SetModelPostureLocal(Words(w1), Int(w2), Int(w3)); }); }
QM_EXPORT(GetFrameVec) {
    return Guard([&] { return qm::GetFrameVector(Words(w1), static_cast<std::uint32_t>(w2), Int(w3), Int(w4)); });
}
QM_EXPORT(GetWorldVec) { return Guard([&] { return qm::GetWorldVector(Words(w1), Int(w2), Int(w3), Int(w4)); }); }
QM_EXPORT(GetFramePtrByIndex) { return Guard([&] { return qm::GetFrameHandle(Words(w1), Int(w2), Int(w3)); }); }
QM_EXPORT(GetFrameNameByIndex) {
    return Guard([&] { return qm::GetFrameName(Int(w1), Int(w2), static_cast<char*>(Bytes(w4))); });
}
QM_EXPORT(IntersectWorld) { return Guard([&] { return qm::IntersectWorldRay(Words(w1), Int(w2)); }); }
QM_EXPORT(IntersectLocal) { return Guard([&] { return qm::IntersectLocalRay(Words(w1), Int(w2), Int(w3)); }); }

// Textures, sprites, text, particles and shaders are not built yet.
QM_EXPORT(LoadTexture) {
    return Guard([&] { return qm::LoadTextureFile(static_cast<const char*>(Bytes(w2)), Int(w3)); });
}
QM_EXPORT(FreeTexture) { return Guard([&] { return qm::FreeTextureEntry(Int(w1)); }); }
QM_EXPORT(SetTexture) { return Guard([&] { return qm::BindTexture(Int(w1)); }); }
QM_EXPORT(DrawSprite) { return Guard([&] { return qm::DrawSpriteRecord(Words(w1)); }); }
QM_EXPORT(SetFont) { return Guard([&] { return qm::SetEngineFont(Words(w1), static_cast<const char*>(Bytes(w2))); }); }
QM_EXPORT(PrintText) { return Guard([&] { return qm::PrintEngineText(static_cast<const char*>(Bytes(w2)), Int(w3), Int(w4)); }); }
QM_EXPORT(AddParticle) { return Guard([&] { return qm::AddParticleEntry(Words(w1), Int(w2)); }); }
QM_EXPORT(UpdateParticle) { return Guard([&] { return qm::UpdateParticleEntry(Int(w1)); }); }
QM_EXPORT(DrawParticle) { return Guard([&] { return qm::DrawParticleEntry(Int(w1)); }); }
QM_EXPORT(LoadShader) { return NotBuilt(); }
QM_EXPORT(SelectShader) { return NotBuilt(); }
QM_EXPORT(SelectTechnique) { return NotBuilt(); }
QM_EXPORT(SetShaderTex) { return NotBuilt(); }
QM_EXPORT(SetShaderArg) { return NotBuilt(); }

