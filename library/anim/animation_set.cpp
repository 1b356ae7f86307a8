// animation_set.cpp: the keyframed interpolator (three key tracks, looping sampling) and the
// animation set (interpolators sorted by name, found by binary search).
#include "library/anim/animation_set.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "library/anim/key_track.h"

namespace qm {
namespace {

std::optional<std::string> CopyName(const char* name) {
    if (name == nullptr) return std::nullopt;
    return std::string(name);
}

const char* NameOf(const std::optional<std::string>& name) { return name ? name->c_str() : nullptr; }

// Ascending unsigned byte order, as the C library's string comparison.
int CompareNames(const char* a, const char* b) { return std::strcmp(a, b); }

class KeyframeInterpolatorImpl final : public RefCounted<KeyframeInterpolatorImpl, KeyframeInterpolator> {
public:
    KeyframeInterpolatorImpl(std::optional<std::string> name, double period, double ticksPerSecond,
                             KeyArray<VectorKey> scale, KeyArray<RotationKey> rotation,
                             KeyArray<VectorKey> translation)
        : name_(std::move(name)), period_(period), ticksPerSecond_(ticksPerSecond), scale_(std::move(scale)),
          rotation_(std::move(rotation)), translation_(std::move(translation)) {}

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == KeyframeInterpolator::iid || riid == KeyframeInterpolator::iidAlternate) {
            AddRef();
            *object = static_cast<KeyframeInterpolator*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    const char* GetName() override { return NameOf(name_); }
    double GetPeriod() override { return period_; }

    HRESULT SampleSRT(double time, Vector3* scale, Quaternion* rotation, Vector3* translation) override {
        const double ticks = std::fmod(time, period_) * ticksPerSecond_;
        if (scale) *scale = SampleTrack(scale_, ticks);
        if (rotation) *rotation = SampleTrack(rotation_, ticks);
        if (translation) *translation = SampleTrack(translation_, ticks);
        return S_OK;
    }

    HRESULT GetLastKeyValues(Vector3* scale, Quaternion* rotation, Vector3* translation) override {
        if (scale) *scale = scale_.Last().value;
        if (rotation) QuaternionConjugate(rotation, &rotation_.Last().value);
        if (translation) *translation = translation_.Last().value;
        return S_OK;
    }

    UINT GetScaleKeyCount() override { return scale_.Count(); }
    HRESULT CopyScaleKeys(VectorKey* keys) override { return Copy(scale_, keys); }
    UINT GetRotationKeyCount() override { return rotation_.Count(); }
    HRESULT CopyRotationKeys(RotationKey* keys) override { return Copy(rotation_, keys); }
    UINT GetTranslationKeyCount() override { return translation_.Count(); }
    HRESULT CopyTranslationKeys(VectorKey* keys) override { return Copy(translation_, keys); }
    double GetTicksPerSecond() override { return ticksPerSecond_; }

private:
    template <class Key>
    static HRESULT Copy(const KeyTrack<Key>& track, Key* keys) {
        if (keys == nullptr) return D3DERR_INVALIDCALL;
        track.CopyKeys(keys);
        return S_OK;
    }

    std::optional<std::string> name_;
    double period_;
    double ticksPerSecond_;
    KeyTrack<VectorKey> scale_;
    KeyTrack<RotationKey> rotation_;
    KeyTrack<VectorKey> translation_;
};

class AnimationSetImpl final : public RefCounted<AnimationSetImpl, AnimationSet> {
public:
    AnimationSetImpl(std::optional<std::string> name, double period, std::vector<ComPtr<KeyframeInterpolator>> sorted)
        : name_(std::move(name)), period_(period), interpolators_(std::move(sorted)) {}

    const char* GetName() override { return NameOf(name_); }
    double GetPeriod() override { return period_; }
    UINT GetInterpolatorCount() override { return static_cast<UINT>(interpolators_.size()); }

    HRESULT GetInterpolatorByIndex(UINT index, KeyframeInterpolator** interpolator) override {
        if (interpolator == nullptr || index >= interpolators_.size()) return D3DERR_INVALIDCALL;
        *interpolator = interpolators_[index].CopyOut();
        return S_OK;
    }

    HRESULT GetInterpolatorByName(const char* name, KeyframeInterpolator** interpolator) override {
        if (name == nullptr || interpolator == nullptr) return D3DERR_INVALIDCALL;
        *interpolator = nullptr;
        std::size_t low = 0;
        std::size_t high = interpolators_.size();
        while (low < high) {
            const std::size_t middle = low + (high - low) / 2;
            const int order = CompareNames(name, interpolators_[middle]->GetName());
            if (order == 0) {
                *interpolator = interpolators_[middle].CopyOut();
                return static_cast<HRESULT>(middle);
            }
            if (order < 0) {
                high = middle;
            } else {
                low = middle + 1;
            }
        }
        return E_FAIL;
    }

private:
    std::optional<std::string> name_;
    double period_;
    std::vector<ComPtr<KeyframeInterpolator>> interpolators_;
};

// The keys, or the one default key when there are none.
template <class Key>
KeyArray<Key> KeysOrDefault(KeyArray<Key> keys, const Key& fallback) {
    if (keys.empty()) keys.push_back(fallback);
    return keys;
}

// Last key time, 1.0 for an absent array.
template <class Key>
double LastTime(const KeyArray<Key>& keys) {
    return keys.empty() ? 1.0 : static_cast<double>(keys.back().time);
}

}  // namespace

HRESULT CreateKeyframeInterpolator(const char* name, const VectorKey* scaleKeys, UINT scaleKeyCount,
                                   const RotationKey* rotationKeys, UINT rotationKeyCount,
                                   const VectorKey* translationKeys, UINT translationKeyCount, double ticksPerSecond,
                                   KeyframeInterpolator** interpolator) {
    if (interpolator == nullptr || (scaleKeys == nullptr && scaleKeyCount != 0) ||
        (rotationKeys == nullptr && rotationKeyCount != 0) ||
        (translationKeys == nullptr && translationKeyCount != 0)) {
        return D3DERR_INVALIDCALL;
    }
    *interpolator = nullptr;
    try {
        auto copy = [](const auto* keys, UINT count) {
            using Key = std::remove_const_t<std::remove_pointer_t<decltype(keys)>>;
            return keys == nullptr ? KeyArray<Key>() : KeyArray<Key>(keys, keys + count);
        };
        return CreateKeyframeInterpolator(name, copy(scaleKeys, scaleKeyCount), copy(rotationKeys, rotationKeyCount),
                                          copy(translationKeys, translationKeyCount), ticksPerSecond, interpolator);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CreateKeyframeInterpolator(const char* name, KeyArray<VectorKey> scaleKeys, KeyArray<RotationKey> rotationKeys,
                                   KeyArray<VectorKey> translationKeys, double ticksPerSecond,
                                   KeyframeInterpolator** interpolator) {
    if (interpolator == nullptr) return D3DERR_INVALIDCALL;
    *interpolator = nullptr;

    // The period's rule: keys that all end at T give T; an absent array counts as 1.
    const double s = LastTime(scaleKeys);
    const double r = LastTime(rotationKeys);
    const double t = LastTime(translationKeys);
    const double periodTicks = s != r ? s * r : (t != r ? s * t : s);

    try {
        auto made = MakeRef<KeyframeInterpolatorImpl>(
            CopyName(name), periodTicks / ticksPerSecond, ticksPerSecond,
            KeysOrDefault(std::move(scaleKeys), VectorKey{0.0f, Vector3(1.0f, 1.0f, 1.0f)}),
            KeysOrDefault(std::move(rotationKeys), RotationKey{0.0f, Quaternion{0.0f, 0.0f, 0.0f, 1.0f}}),
            KeysOrDefault(std::move(translationKeys), VectorKey{0.0f, Vector3(0.0f, 0.0f, 0.0f)}));
        if (!made) return E_OUTOFMEMORY;
        *interpolator = made.Detach();
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CreateAnimationSet(const char* name, KeyframeInterpolator* const* interpolators, UINT count,
                           AnimationSet** set) {
    if (interpolators == nullptr || count == 0 || set == nullptr) return D3DERR_INVALIDCALL;
    for (UINT i = 0; i < count; ++i) {
        if (interpolators[i] == nullptr || interpolators[i]->GetName() == nullptr) return D3DERR_INVALIDCALL;
    }
    *set = nullptr;
    try {
        std::vector<ComPtr<KeyframeInterpolator>> sorted(interpolators, interpolators + count);
        const double period = sorted.front()->GetPeriod();
        std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
            return CompareNames(a->GetName(), b->GetName()) < 0;
        });
        auto made = MakeRef<AnimationSetImpl>(CopyName(name), period, std::move(sorted));
        if (!made) return E_OUTOFMEMORY;
        *set = made.Detach();
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace qm
