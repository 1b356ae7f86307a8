// animation_set.h: keyframed animation data: key records, the KeyframeInterpolator (the scale,
// rotation and translation keys that move one named frame) and the AnimationSet (a named collection
// of interpolators sorted by name), with the functions that create them.
#pragma once

#include <vector>

#include "library/math/math_types.h"
#include "platform/win/large_blocks.h"
#include "platform/win/unknown.h"

namespace qm {

// Key times are in ticks (ticksPerSecond of the interpolator), as 32-bit floats.
struct VectorKey {
    float time;
    Vector3 value;
};

// Stores the conjugate of the rotation it produces, in the file's component values reordered to
// (x, y, z, w). Every rotation that leaves an interpolator (sampled or last key) is conjugated back.
struct RotationKey {
    float time;
    Quaternion value;
};

static_assert(sizeof(VectorKey) == 16 && sizeof(RotationKey) == 20);

// Ticks per second of a file that does not say otherwise.
inline constexpr double kDefaultTicksPerSecond = 4800.0;

// The keys that move one frame. Every track holds at least one key. Sampling updates each track's
// cached bracket, so one interpolator must not be sampled from two threads at once.
struct KeyframeInterpolator : IUnknown {
    static constexpr IID iid = {0x6CAA71F8, 0x0972, 0x4CDB, {0xA5, 0x5B, 0x43, 0xB9, 0x68, 0x99, 0x75, 0x15}};
    // A second identifier the interpolator also answers in QueryInterface.
    static constexpr IID iidAlternate = {0xADE2C06D, 0x3747, 0x4B9F, {0xA5, 0x14, 0x34, 0x40, 0xB8, 0x28, 0x49, 0x80}};

    // Slot 3: the animated frame's name (owned by the interpolator), or null.
    virtual const char* GetName() = 0;
    // Slot 4: the period in seconds.
    virtual double GetPeriod() = 0;
    // Slot 5: samples the three tracks at fmod(time, period) × ticks per second (so the animation
    // loops, and a negative time samples every track at its first key). Any output may be null;
    // that track then writes nothing. A zero period leaves every track on its cached bracket.
    virtual HRESULT SampleSRT(double time, Vector3* scale, Quaternion* rotation, Vector3* translation) = 0;
    // Slot 6: the last key of each track (rotation conjugated). Any output may be null.
    virtual HRESULT GetLastKeyValues(Vector3* scale, Quaternion* rotation, Vector3* translation) = 0;
    // Slots 7-12: key counts, and copies of all keys of a track in stored form into an array of
    // count entries. A copy with no array gives D3DERR_INVALIDCALL.
    virtual UINT GetScaleKeyCount() = 0;
    virtual HRESULT CopyScaleKeys(VectorKey* keys) = 0;
    virtual UINT GetRotationKeyCount() = 0;
    virtual HRESULT CopyRotationKeys(RotationKey* keys) = 0;
    virtual UINT GetTranslationKeyCount() = 0;
    virtual HRESULT CopyTranslationKeys(VectorKey* keys) = 0;
    // Slot 13.
    virtual double GetTicksPerSecond() = 0;

protected:
    ~KeyframeInterpolator() = default;
};

// A named collection of interpolators, one reference held on each, sorted by name in ascending
// unsigned byte order. Its period is that of the first interpolator it was created with.
struct AnimationSet : IUnknown {
    static constexpr IID iid = {0x54B569AC, 0x0AEF, 0x473E, {0x97, 0x04, 0x3F, 0xEF, 0x31, 0x7F, 0x64, 0xAB}};

    // Slot 3: the set's name (owned by the set), or null.
    virtual const char* GetName() = 0;
    // Slot 4: the period in seconds.
    virtual double GetPeriod() = 0;
    // Slot 5.
    virtual UINT GetInterpolatorCount() = 0;
    // Slot 6: the interpolator at index (name order) with a new reference. An index at or past the
    // count, or no out pointer: D3DERR_INVALIDCALL.
    virtual HRESULT GetInterpolatorByIndex(UINT index, KeyframeInterpolator** interpolator) = 0;
    // Slot 7: binary search by exact byte comparison. Found: *interpolator gets a new reference and
    // the result is its index (zero or positive). Not found: *interpolator = null, E_FAIL. No name or
    // no out pointer: D3DERR_INVALIDCALL.
    virtual HRESULT GetInterpolatorByName(const char* name, KeyframeInterpolator** interpolator) = 0;

protected:
    ~AnimationSet() = default;
};

// Creates an interpolator from copies of the key arrays (each in ascending time; nothing sorts
// them). A null array with a count of 0 becomes one default key at time 0: scale (1, 1, 1), rotation
// (0, 0, 0, 1), translation (0, 0, 0). The period in ticks follows from the last key times S, R, T
// (1.0 for an absent array): S × R when S ≠ R, else S × T when T ≠ R, else S; in seconds divided by
// ticksPerSecond. A null array with a non-zero count, or no out pointer: D3DERR_INVALIDCALL.
// E_OUTOFMEMORY when storage cannot be had.
HRESULT CreateKeyframeInterpolator(const char* name, const VectorKey* scaleKeys, UINT scaleKeyCount,
                                   const RotationKey* rotationKeys, UINT rotationKeyCount,
                                   const VectorKey* translationKeys, UINT translationKeyCount, double ticksPerSecond,
                                   KeyframeInterpolator** interpolator);

// The same, taking the key arrays over instead of copying them; an empty array counts as absent.
// Key arrays live as long as their interpolator and are rebuilt with each load of a model, so they
// sit in kept blocks rather than on the C library's heap.
template <class Key>
using KeyArray = std::vector<Key, LargeBlockAllocator<Key>>;
HRESULT CreateKeyframeInterpolator(const char* name, KeyArray<VectorKey> scaleKeys, KeyArray<RotationKey> rotationKeys,
                                   KeyArray<VectorKey> translationKeys, double ticksPerSecond,
                                   KeyframeInterpolator** interpolator);

// Creates a set holding a new reference on each of the count interpolators. No array, a count of
// 0, an interpolator without a name or no out pointer: D3DERR_INVALIDCALL.
HRESULT CreateAnimationSet(const char* name, KeyframeInterpolator* const* interpolators, UINT count,
                           AnimationSet** set);

}  // namespace qm
