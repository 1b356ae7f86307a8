// controller_base.h: the state and operations every animation controller shares: the output
// table, the registered sets with their per-output interpolator bindings, the tracks, global time
// and the weighted, two-group blend that writes the output matrices.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "library/anim/animation_controller.h"

namespace qm {

// Implements the controller's table, track and time operations. Its QueryInterface answers only
// IUnknown; SetTime moves positions by speed × elapsed time without scheduled events; cloning,
// event scheduling and setting the priority blend answer E_NOTIMPL and the event, output and set
// maxima read 0. AnimationControllerImpl (animation_controller.cpp) adds the rest.
class AnimationControllerBase : public RefCounted<AnimationControllerBase, AnimationController> {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override;

    HRESULT RegisterAnimationOutput(const char* name, Matrix* matrix) override;
    UINT GetAnimationSetCount() override { return setCount_; }
    HRESULT GetAnimationSet(UINT index, AnimationSet** set) override;
    HRESULT RegisterAnimationSet(AnimationSet* set) override;
    HRESULT UnregisterAnimationSet(AnimationSet* set) override;
    UINT GetMaxTrackCount() override { return maxTracks_; }
    HRESULT GetTrackDescriptor(UINT track, TrackDescriptor* descriptor) override;
    HRESULT SetTrackDescriptor(UINT track, const TrackDescriptor* descriptor) override;
    HRESULT GetTrackAnimationSet(UINT track, AnimationSet** set) override;
    HRESULT SetTrackAnimationSet(UINT track, AnimationSet* set) override;
    HRESULT SetTrackSpeed(UINT track, float speed) override;
    HRESULT SetTrackWeight(UINT track, float weight) override;
    HRESULT SetTrackPosition(UINT track, double position) override;
    HRESULT SetTrackEnable(UINT track, BOOL enable) override;
    double GetTime() override { return time_; }
    HRESULT SetTime(double time) override;
    HRESULT CloneController(UINT, UINT, UINT, UINT, AnimationController**) override { return E_NOTIMPL; }
    UINT GetMaxOutputCount() override { return 0; }
    UINT GetMaxEventCount() override { return 0; }
    UINT GetMaxAnimationSetCount() override { return 0; }
    HRESULT KeyTrackSpeed(UINT, float, double, double, DWORD) override { return E_NOTIMPL; }
    HRESULT KeyTrackWeight(UINT, float, double, double, DWORD) override { return E_NOTIMPL; }
    HRESULT KeyTrackPosition(UINT, double, double) override { return E_NOTIMPL; }
    HRESULT KeyTrackEnable(UINT, BOOL, double) override { return E_NOTIMPL; }
    float GetPriorityBlend() override { return priorityBlend_; }
    HRESULT SetPriorityBlend(float) override { return E_NOTIMPL; }
    HRESULT KeyPriorityBlend(float, double, double, DWORD) override { return E_NOTIMPL; }

    // Destroying a controller releases every binding and set.
    virtual ~AnimationControllerBase() = default;

protected:
    // Allocates the tables for the given maxima (all non-zero); Allocated() tells whether that
    // succeeded, since a controller whose tables could not be had must not be handed out.
    AnimationControllerBase(UINT maxOutputs, UINT maxSets, UINT maxTracks);
    bool Allocated() const { return allocated_; }

    // A named frame whose matrix the controller writes; a free entry has no name.
    struct Output {
        std::optional<std::string> name;
        Matrix* matrix = nullptr;
    };

    ComPtr<KeyframeInterpolator>& Binding(UINT setSlot, UINT output) {
        return bindings_[static_cast<std::size_t>(setSlot) * maxOutputs_ + output];
    }
    // The set slot that means "no set".
    UINT NoSet() const { return maxSets_; }
    // Moves an enabled track's position by speed × elapsed.
    void Advance(UINT track, double elapsed);
    // Blends the tracks' samples into every used output that has a matrix; returns the first
    // failing sample's code.
    HRESULT WriteOutputs();
    // Copies outputs, sets, bindings, tracks and time into a controller with maxima no smaller.
    void CopyInto(AnimationControllerBase& clone) const;

    UINT maxOutputs_;
    UINT maxSets_;
    UINT maxTracks_;
    std::vector<Output> outputs_;
    UINT usedOutputs_ = 0;
    std::vector<ComPtr<AnimationSet>> sets_;  // maxSets_ + 1 slots; the last is never filled
    UINT setCount_ = 0;
    std::vector<ComPtr<KeyframeInterpolator>> bindings_;  // (maxSets_ + 1) × maxOutputs_
    std::vector<TrackDescriptor> tracks_;
    std::vector<UINT> trackSets_;
    UINT usedTracks_ = 0;
    double time_ = 0.0;
    float priorityBlend_ = 0.0f;

private:
    // Writes one field of a track's descriptor; D3DERR_INVALIDCALL for a track out of range.
    template <class Field>
    HRESULT SetTrackField(UINT track, Field TrackDescriptor::*field, Field value);

    bool allocated_ = false;
};

// Whether a table of count entries of size bytes is small enough to ask for; larger requests
// answer E_OUTOFMEMORY instead of being attempted.
bool TableFits(std::size_t count, std::size_t size);

}  // namespace qm
