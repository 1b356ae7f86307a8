// controller_base.cpp: output, set and track tables of the animation controller, and the blend of
// the tracks' samples (weighted sums per priority group, rotations folded in by slerp) into
// scale × rotation × translation output matrices.
#include "library/anim/controller_base.h"

#include <cmath>
#include <cstring>
#include <new>

#include "library/math/math.h"

namespace qm {

bool TableFits(std::size_t count, std::size_t size) {
    constexpr std::size_t kLargestTable = std::size_t{1} << 30;  // bytes
    return count <= kLargestTable / size;
}

AnimationControllerBase::AnimationControllerBase(UINT maxOutputs, UINT maxSets, UINT maxTracks)
    : maxOutputs_(maxOutputs), maxSets_(maxSets), maxTracks_(maxTracks) {
    const std::size_t setSlots = static_cast<std::size_t>(maxSets) + 1;
    if (!TableFits(maxOutputs, sizeof(Output)) || !TableFits(setSlots, sizeof(ComPtr<AnimationSet>)) ||
        !TableFits(maxTracks, sizeof(TrackDescriptor) + sizeof(UINT)) || setSlots > (std::size_t{1} << 30) ||
        !TableFits(setSlots * maxOutputs, sizeof(ComPtr<KeyframeInterpolator>))) {
        return;
    }
    try {
        outputs_.resize(maxOutputs);
        sets_.resize(setSlots);
        bindings_.resize(setSlots * maxOutputs);
        tracks_.assign(maxTracks, TrackDescriptor{});
        trackSets_.assign(maxTracks, maxSets);
        allocated_ = true;
    } catch (const std::bad_alloc&) {
        allocated_ = false;
    }
}

HRESULT AnimationControllerBase::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown) {
        AddRef();
        *object = static_cast<IUnknown*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT AnimationControllerBase::RegisterAnimationOutput(const char* name, Matrix* matrix) {
    if (name == nullptr) return D3DERR_INVALIDCALL;
    UINT found = usedOutputs_;
    UINT freeEntry = usedOutputs_;
    for (UINT i = 0; i < usedOutputs_; ++i) {
        if (!outputs_[i].name) {
            freeEntry = i;
        } else if (*outputs_[i].name == name) {
            found = i;
            break;
        }
    }

    if (found < usedOutputs_) {
        if (matrix != nullptr) {
            outputs_[found].matrix = matrix;
            return S_OK;
        }
        outputs_[found] = Output{};
        for (UINT s = 0; s < setCount_; ++s) Binding(s, found).Reset();
        while (usedOutputs_ > 0 && !outputs_[usedOutputs_ - 1].name) --usedOutputs_;
        return S_OK;
    }
    if (matrix == nullptr) return S_OK;

    const UINT entry = freeEntry;
    if (entry >= maxOutputs_) return D3DERR_INVALIDCALL;
    try {
        outputs_[entry].name.emplace(name);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    outputs_[entry].matrix = matrix;
    if (entry == usedOutputs_) ++usedOutputs_;
    for (UINT s = 0; s < setCount_; ++s) {
        KeyframeInterpolator* interpolator = nullptr;
        sets_[s]->GetInterpolatorByName(name, &interpolator);
        Binding(s, entry) = ComPtr<KeyframeInterpolator>::Adopt(interpolator);
    }
    return S_OK;
}

HRESULT AnimationControllerBase::GetAnimationSet(UINT index, AnimationSet** set) {
    if (set == nullptr || index >= setCount_) return D3DERR_INVALIDCALL;
    *set = sets_[index].CopyOut();
    return S_OK;
}

HRESULT AnimationControllerBase::RegisterAnimationSet(AnimationSet* set) {
    if (set == nullptr || setCount_ >= maxSets_) return D3DERR_INVALIDCALL;
    const UINT slot = setCount_++;
    sets_[slot] = ComPtr<AnimationSet>(set);
    for (UINT o = 0; o < usedOutputs_; ++o) {
        if (!outputs_[o].name) continue;
        KeyframeInterpolator* interpolator = nullptr;
        set->GetInterpolatorByName(outputs_[o].name->c_str(), &interpolator);
        Binding(slot, o) = ComPtr<KeyframeInterpolator>::Adopt(interpolator);
    }
    return S_OK;
}

HRESULT AnimationControllerBase::UnregisterAnimationSet(AnimationSet* set) {
    UINT slot = 0;
    while (slot < setCount_ && sets_[slot].Get() != set) ++slot;
    if (set == nullptr || slot >= setCount_) return D3DERR_INVALIDCALL;
    const UINT last = --setCount_;
    sets_[slot] = std::move(sets_[last]);
    sets_[last].Reset();
    for (UINT o = 0; o < maxOutputs_; ++o) {
        Binding(slot, o) = std::move(Binding(last, o));
        Binding(last, o).Reset();
    }
    for (UINT t = 0; t < usedTracks_; ++t) {
        if (trackSets_[t] == slot) {
            trackSets_[t] = NoSet();
        } else if (trackSets_[t] == last) {
            trackSets_[t] = slot;
        }
    }
    return S_OK;
}

HRESULT AnimationControllerBase::GetTrackDescriptor(UINT track, TrackDescriptor* descriptor) {
    if (track >= maxTracks_ || descriptor == nullptr) return D3DERR_INVALIDCALL;
    *descriptor = tracks_[track];
    return S_OK;
}

HRESULT AnimationControllerBase::SetTrackDescriptor(UINT track, const TrackDescriptor* descriptor) {
    if (track >= maxTracks_ || descriptor == nullptr) return D3DERR_INVALIDCALL;
    tracks_[track] = *descriptor;
    return S_OK;
}

HRESULT AnimationControllerBase::GetTrackAnimationSet(UINT track, AnimationSet** set) {
    if (track >= maxTracks_ || set == nullptr) return D3DERR_INVALIDCALL;
    const UINT slot = trackSets_[track];
    *set = slot < setCount_ ? sets_[slot].CopyOut() : nullptr;
    return S_OK;
}

HRESULT AnimationControllerBase::SetTrackAnimationSet(UINT track, AnimationSet* set) {
    if (set == nullptr || track >= maxTracks_ || setCount_ == 0) return D3DERR_INVALIDCALL;
    UINT slot = 0;
    while (slot < setCount_ && sets_[slot].Get() != set) ++slot;
    if (slot >= setCount_) return D3DERR_INVALIDCALL;
    trackSets_[track] = slot;
    if (usedTracks_ < track + 1) usedTracks_ = track + 1;
    return S_OK;
}

template <class Field>
HRESULT AnimationControllerBase::SetTrackField(UINT track, Field TrackDescriptor::*field, Field value) {
    if (track >= maxTracks_) return D3DERR_INVALIDCALL;
    tracks_[track].*field = value;
    return S_OK;
}

HRESULT AnimationControllerBase::SetTrackSpeed(UINT track, float speed) {
    return SetTrackField(track, &TrackDescriptor::speed, speed);
}
HRESULT AnimationControllerBase::SetTrackWeight(UINT track, float weight) {
    return SetTrackField(track, &TrackDescriptor::weight, weight);
}
HRESULT AnimationControllerBase::SetTrackPosition(UINT track, double position) {
    return SetTrackField(track, &TrackDescriptor::position, position);
}
HRESULT AnimationControllerBase::SetTrackEnable(UINT track, BOOL enable) {
    return SetTrackField(track, &TrackDescriptor::enable, enable);
}

void AnimationControllerBase::Advance(UINT track, double elapsed) {
    TrackDescriptor& t = tracks_[track];
    if (t.enable) t.position += static_cast<double>(t.speed) * elapsed;
}

HRESULT AnimationControllerBase::SetTime(double time) {
    if (!std::isfinite(time)) return D3DERR_INVALIDCALL;
    const double elapsed = time - time_;
    for (UINT t = 0; t < maxTracks_; ++t) Advance(t, elapsed);
    time_ = time;
    return WriteOutputs();
}

namespace {

// The weighted sums of one priority group for one output.
struct GroupSum {
    float weight = 0.0f;
    Vector3 scale{0.0f, 0.0f, 0.0f};
    Vector3 translation{0.0f, 0.0f, 0.0f};
    Quaternion rotation{0.0f, 0.0f, 0.0f, 1.0f};
    bool hasRotation = false;

    // Divides the sums by the total weight (left alone when the weight is exactly 1).
    void Normalize() {
        if (weight == 1.0f) return;
        Vec3Scale(&scale, &scale, 1.0f / weight);
        Vec3Scale(&translation, &translation, 1.0f / weight);
    }
};

}  // namespace

HRESULT AnimationControllerBase::WriteOutputs() {
    for (UINT o = 0; o < usedOutputs_; ++o) {
        Matrix* target = outputs_[o].matrix;
        if (!outputs_[o].name || target == nullptr) continue;
        GroupSum groups[2];
        for (UINT t = 0; t < usedTracks_; ++t) {
            const TrackDescriptor& track = tracks_[t];
            // Only +0.0 is passed over: a −0.0 weight adds zeros to the sums, and the next track's
            // rotation replaces its own (slerp at w / W = 1).
            if (!track.enable || (track.weight == 0.0f && !std::signbit(track.weight))) continue;
            KeyframeInterpolator* interpolator = Binding(trackSets_[t], o).Get();
            if (interpolator == nullptr) continue;
            Vector3 s, p;
            Quaternion q;
            HRESULT hr = interpolator->SampleSRT(track.position, &s, &q, &p);
            if (FAILED(hr)) return hr;
            GroupSum& g = groups[track.priority & 1];
            const float w = track.weight;
            g.scale = Vector3(g.scale.x + s.x * w, g.scale.y + s.y * w, g.scale.z + s.z * w);
            g.translation = Vector3(g.translation.x + p.x * w, g.translation.y + p.y * w, g.translation.z + p.z * w);
            g.weight += w;
            if (!g.hasRotation) {
                g.rotation = q;
                g.hasRotation = true;
            } else {
                QuaternionSlerp(&g.rotation, &g.rotation, &q, w / g.weight);
            }
        }
        if (groups[0].weight == 0.0f && groups[1].weight == 0.0f) continue;

        GroupSum result;
        if (groups[1].weight == 0.0f) {
            result = groups[0];
            result.Normalize();
        } else if (groups[0].weight == 0.0f || priorityBlend_ == 1.0f) {
            result = groups[1];
            result.Normalize();
        } else {
            groups[0].Normalize();
            groups[1].Normalize();
            const float b = priorityBlend_;
            result = groups[0];
            Vec3Lerp(&result.scale, &groups[0].scale, &groups[1].scale, b);
            Vec3Lerp(&result.translation, &groups[0].translation, &groups[1].translation, b);
            QuaternionSlerp(&result.rotation, &groups[0].rotation, &groups[1].rotation, b);
        }

        // Scaling(S) × Rotation(R) × Translation(T), built directly: the rotation's rows scaled
        // by S, and T as the fourth row.
        Matrix pose;
        MatrixRotationQuaternion(&pose, &result.rotation);
        const float scale[3] = {result.scale.x, result.scale.y, result.scale.z};
        float* rows = &pose._11;
        for (int row = 0; row < 3; ++row) {
            for (int column = 0; column < 3; ++column) rows[row * 4 + column] *= scale[row];
        }
        pose._41 = result.translation.x;
        pose._42 = result.translation.y;
        pose._43 = result.translation.z;
        *target = pose;
    }
    return S_OK;
}

void AnimationControllerBase::CopyInto(AnimationControllerBase& clone) const {
    clone.time_ = time_;
    clone.usedOutputs_ = usedOutputs_;
    clone.setCount_ = setCount_;
    clone.usedTracks_ = usedTracks_;
    for (UINT o = 0; o < usedOutputs_; ++o) clone.outputs_[o] = outputs_[o];
    for (UINT s = 0; s < setCount_; ++s) {
        clone.sets_[s] = sets_[s];
        for (UINT o = 0; o < usedOutputs_; ++o) {
            clone.Binding(s, o) = bindings_[static_cast<std::size_t>(s) * maxOutputs_ + o];
        }
    }
    for (UINT t = 0; t < maxTracks_; ++t) {
        clone.tracks_[t] = tracks_[t];
        clone.trackSets_[t] = trackSets_[t] == NoSet() ? clone.NoSet() : trackSets_[t];
    }
}

}  // namespace qm
