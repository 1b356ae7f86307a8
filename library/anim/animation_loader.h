// animation_loader.h: reading the animation objects of an X file (AnimTicksPerSecond, AnimationSet,
// Animation, AnimationKey) through the X-file parser into interpolators and animation sets.
#pragma once

#include "library/anim/animation_set.h"
#include "platform/xof/xof.h"

namespace qm {

// Template identifiers of the X-file objects the animation loader reads or tells apart.
inline constexpr GUID kTemplateFrame = {0x3D82AB46, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
inline constexpr GUID kTemplateAnimation = {0x3D82AB4F, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
inline constexpr GUID kTemplateAnimationSet = {0x3D82AB50, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
inline constexpr GUID kTemplateAnimationKey = {0x10DD46A8, 0x775B, 0x11CF, {0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3}};
inline constexpr GUID kTemplateAnimationOptions = {0xE2BF56C0, 0x840F, 0x11CF, {0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3}};
inline constexpr GUID kTemplateAnimTicksPerSecond = {0x9E415A43, 0x7BA6, 0x4A73, {0x87, 0x43, 0xB7, 0x3D, 0x47, 0xE8, 0x84, 0x76}};

// Applies a top-level AnimTicksPerSecond object: when its data is exactly 4 bytes, *ticksPerSecond
// becomes that unsigned 32-bit value (0 is taken as given); other sizes leave it unchanged. Returns
// the parser's code when the data cannot be read, D3DERR_INVALIDCALL for null arguments.
HRESULT ReadAnimTicksPerSecond(IDirectXFileData* object, double* ticksPerSecond);

// Reads one AnimationSet data object. ticksPerSecond is the load's current value (4800 unless an
// AnimTicksPerSecond object came before). Every Animation child is read with LoadAnimation; one that
// fails is skipped. The interpolators go to CreateAnimationSet last-read first, and its result is
// returned. When no Animation survives, *set = null and the result is S_OK. Parser failures (name,
// data, reference resolution) are returned as the parser gave them.
HRESULT LoadAnimationSet(double ticksPerSecond, IDirectXFileData* object, AnimationSet** set);

// Reads one Animation data object into an interpolator: a reference to a Frame names it (a second
// such reference, an empty name, or an embedded Frame: E_INVALIDARG); AnimationKey children give the
// rotation (type 0), scale (1), position (2) or matrix (4) keys; a repeated kind, a matrix key after
// any other or any other type: E_INVALIDARG; key data the object's size cannot hold, or a key whose
// value count is not its type's (4 rotation, 3 scale and position, 16 matrix): E_INVALIDARG.
// No key array at all: E_FAIL.
HRESULT LoadAnimation(double ticksPerSecond, IDirectXFileData* object, KeyframeInterpolator** interpolator);

}  // namespace qm
