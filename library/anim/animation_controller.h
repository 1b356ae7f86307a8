// animation_controller.h: the AnimationController, which mixes animation sets on tracks (weight,
// speed, priority, enable, position, scheduled events) into the transformation matrices of named
// frames, and the function that creates it.
#pragma once

#include "library/anim/animation_set.h"
#include "library/math/math_types.h"
#include "platform/win/unknown.h"

namespace qm {

// A track's state, read and written whole.
struct TrackDescriptor {
    DWORD priority;   // only bit 0 is read: priority group 0 or 1
    float weight;
    float speed;      // seconds of track position per second of global time
    BOOL enable;      // non-zero: the track contributes and its position moves
    double position;  // seconds: the time at which the track's set is sampled
};

static_assert(sizeof(TrackDescriptor) == 24);

// Transitions of scheduled speed, weight and priority-blend changes: 1 is the smooth curve
// (3 − 2f)·f², any other value linear.
inline constexpr DWORD kTransitionLinear = 0;
inline constexpr DWORD kTransitionSmooth = 1;

// Every track operation (slots 9-16, 23-26) with a track at or past GetMaxTrackCount gives
// D3DERR_INVALIDCALL and changes nothing; scheduling an event with the event pool used up gives
// D3DERR_INVALIDCALL.
struct AnimationController : IUnknown {
    static constexpr IID iid = {0x3A714D34, 0xFF61, 0x421E, {0x90, 0x9F, 0x63, 0x9F, 0x38, 0x35, 0x67, 0x08}};

    // Slot 3: binds a frame's name to the address of its matrix (not owned; it must outlive the
    // controller). An existing name gets the new address; a null matrix removes the name. A new
    // name in a full output table, or no name: D3DERR_INVALIDCALL.
    virtual HRESULT RegisterAnimationOutput(const char* name, Matrix* matrix) = 0;
    // Slot 4: the number of registered sets.
    virtual UINT GetAnimationSetCount() = 0;
    // Slot 5: the registered set at index with a new reference (index order is registration order,
    // changed only by UnregisterAnimationSet).
    virtual HRESULT GetAnimationSet(UINT index, AnimationSet** set) = 0;
    // Slot 6: registers the set (one reference held); the same set may be registered twice. A full
    // set table or no set: D3DERR_INVALIDCALL.
    virtual HRESULT RegisterAnimationSet(AnimationSet* set) = 0;
    // Slot 7: the last registered set takes the removed set's index; tracks that played the removed
    // set play nothing. Not registered: D3DERR_INVALIDCALL.
    virtual HRESULT UnregisterAnimationSet(AnimationSet* set) = 0;
    // Slot 8.
    virtual UINT GetMaxTrackCount() = 0;
    // Slots 9, 10.
    virtual HRESULT GetTrackDescriptor(UINT track, TrackDescriptor* descriptor) = 0;
    virtual HRESULT SetTrackDescriptor(UINT track, const TrackDescriptor* descriptor) = 0;
    // Slot 11: the track's set with a new reference, or null when it plays none.
    virtual HRESULT GetTrackAnimationSet(UINT track, AnimationSet** set) = 0;
    // Slot 12: the set must be registered; no reference is taken and the other fields of the track
    // stay as they are.
    virtual HRESULT SetTrackAnimationSet(UINT track, AnimationSet* set) = 0;
    // Slots 13-16.
    virtual HRESULT SetTrackSpeed(UINT track, float speed) = 0;
    virtual HRESULT SetTrackWeight(UINT track, float weight) = 0;
    virtual HRESULT SetTrackPosition(UINT track, double position) = 0;
    virtual HRESULT SetTrackEnable(UINT track, BOOL enable) = 0;
    // Slot 17: the global time in seconds.
    virtual double GetTime() = 0;
    // Slot 18: moves global time to the absolute time (backwards too): runs the scheduled events up
    // to it, moves every enabled track's position by speed × elapsed time, then overwrites each
    // animated output matrix with the blended scale × rotation × translation. Returns the first
    // failing sample's code (outputs written before it keep their values). A time that is not a
    // finite number: D3DERR_INVALIDCALL, nothing changes.
    virtual HRESULT SetTime(double time) = 0;
    // Slot 19: a copy with the given maxima (none below this controller's): outputs, sets (one new
    // reference each), bindings, tracks, time and the tracks' scheduled events; scheduled priority
    // blend changes are not copied.
    virtual HRESULT CloneController(UINT maxOutputs, UINT maxSets, UINT maxTracks, UINT maxEvents,
                                    AnimationController** clone) = 0;
    // Slots 20-22.
    virtual UINT GetMaxOutputCount() = 0;
    virtual UINT GetMaxEventCount() = 0;
    virtual UINT GetMaxAnimationSetCount() = 0;
    // Slots 23, 24: the track's speed or weight moves from its value at start to the target over
    // duration seconds of global time (transition: kTransitionLinear or kTransitionSmooth; a negative
    // duration counts as 0). A start or duration that is not finite: D3DERR_INVALIDCALL.
    virtual HRESULT KeyTrackSpeed(UINT track, float speed, double start, double duration, DWORD transition) = 0;
    virtual HRESULT KeyTrackWeight(UINT track, float weight, double start, double duration, DWORD transition) = 0;
    // Slot 25: sets the track's position at global time `time`; the position is also written into
    // the track at once.
    virtual HRESULT KeyTrackPosition(UINT track, double position, double time) = 0;
    // Slot 26: sets the track's enable flag at global time `time`.
    virtual HRESULT KeyTrackEnable(UINT track, BOOL enable, double time) = 0;
    // Slot 27: how far the output moves from priority group 0 (0.0) toward group 1 (1.0).
    virtual float GetPriorityBlend() = 0;
    // Slot 28: a blend below 0 or above 1 (or not a number): D3DERR_INVALIDCALL, blend unchanged.
    virtual HRESULT SetPriorityBlend(float blend) = 0;
    // Slot 29: the priority blend moves to the target from start over duration seconds.
    virtual HRESULT KeyPriorityBlend(float blend, double start, double duration, DWORD transition) = 0;

protected:
    ~AnimationController() = default;
};

// Creates a controller with fixed capacities for outputs, sets, tracks and scheduled events. Every
// track starts zeroed (disabled, weight 0, speed 0, position 0) and plays no set; time and priority
// blend start at 0. A capacity of 0 or no out pointer: D3DERR_INVALIDCALL; E_OUTOFMEMORY when the
// tables cannot be had.
HRESULT CreateAnimationController(UINT maxOutputs, UINT maxSets, UINT maxTracks, UINT maxEvents,
                                  AnimationController** controller);

}  // namespace qm
