// key_track.h: the key tracks of an interpolator (scale, rotation, translation) with the cached
// bracket search that makes sampling amortised O(1) while time moves forward in small steps.
#pragma once

#include <cmath>
#include <cstring>
#include <vector>

#include "library/anim/animation_set.h"
#include "library/math/math.h"

namespace qm {

// The bracket of a sample: interpolate from keys[lower] to keys[upper] at fraction.
struct KeyBracket {
    UINT lower;
    UINT upper;
    float fraction;
};

// A non-empty array of keys in ascending time, and the upper index of the last bracket found.
// Key is VectorKey or RotationKey.
template <class Key>
class KeyTrack {
public:
    // keys must hold at least one key.
    explicit KeyTrack(KeyArray<Key> keys) : keys_(std::move(keys)) {}

    UINT Count() const { return static_cast<UINT>(keys_.size()); }
    void CopyKeys(Key* out) const { std::memcpy(out, keys_.data(), keys_.size() * sizeof(Key)); }
    const Key& Last() const { return keys_.back(); }
    const Key& operator[](UINT index) const { return keys_[index]; }

    // Finds the keys around `ticks`, continuing from the cached bracket: forward from it when time
    // moved on, from key 0 when it went back before the bracket. The upper index never passes the
    // last key; a time before the first key gives the first key (fraction 0), and a time at or past
    // the last key gives the last key (fraction 1). A time that is not a number keeps the cached
    // bracket at fraction 0, so a zero period (fmod by 0) holds the animation still.
    KeyBracket Find(double ticks) {
        const UINT last = Count() - 1;
        UINT upper = cached_;
        UINT lower = upper == 0 ? 0 : upper - 1;
        if (std::isnan(ticks)) return {lower, upper, 0.0f};
        if (keys_[upper].time < ticks) {
            while (upper < last && keys_[upper].time <= ticks) ++upper;
        } else if (keys_[lower].time > ticks) {
            const UINT previous = upper;
            upper = 0;
            while (upper < previous && keys_[upper].time <= ticks) ++upper;
        }
        lower = upper == 0 ? 0 : upper - 1;
        cached_ = upper;
        const double span = static_cast<double>(keys_[upper].time) - keys_[lower].time;
        double fraction = span < 1e-8 ? 0.0 : (ticks - keys_[lower].time) / span;
        if (fraction > 1.0) fraction = 1.0;
        return {lower, upper, static_cast<float>(fraction)};
    }

private:
    KeyArray<Key> keys_;
    UINT cached_ = 0;
};

// Scale and translation: componentwise linear interpolation.
inline Vector3 SampleTrack(KeyTrack<VectorKey>& track, double ticks) {
    const KeyBracket b = track.Find(ticks);
    if (b.fraction >= 1.0f) return track[b.upper].value;
    Vector3 out;
    Vec3Lerp(&out, &track[b.lower].value, &track[b.upper].value, b.fraction);
    return out;
}

// Rotation: the stored conjugates turned back into rotations and spherically interpolated (not
// renormalised).
inline Quaternion SampleTrack(KeyTrack<RotationKey>& track, double ticks) {
    const KeyBracket b = track.Find(ticks);
    Quaternion upper, lower, out;
    QuaternionConjugate(&upper, &track[b.upper].value);
    if (b.fraction >= 1.0f) return upper;
    QuaternionConjugate(&lower, &track[b.lower].value);
    QuaternionSlerp(&out, &lower, &upper, b.fraction);
    return out;
}

}  // namespace qm
