// anim_test_util.h: small helpers shared by the animation tests: rotations about z, key builders
// and approximate comparisons.
#pragma once

#include <gtest/gtest.h>

#include <cmath>

#include "library/anim/animation_set.h"

namespace animtest {

using namespace qm;

inline constexpr double kPi = 3.14159265358979323846;

// The rotation by `degrees` about z.
inline Quaternion AboutZ(double degrees) {
    const double half = degrees * kPi / 360.0;
    return Quaternion{0.0f, 0.0f, static_cast<float>(std::sin(half)), static_cast<float>(std::cos(half))};
}

// The stored form of a rotation key: the conjugate of the rotation it produces.
inline RotationKey Stored(float time, const Quaternion& rotation) {
    return RotationKey{time, Quaternion{-rotation.x, -rotation.y, -rotation.z, rotation.w}};
}

inline void ExpectNear(const Vector3& actual, float x, float y, float z, float tolerance = 1e-5f) {
    EXPECT_NEAR(actual.x, x, tolerance);
    EXPECT_NEAR(actual.y, y, tolerance);
    EXPECT_NEAR(actual.z, z, tolerance);
}

inline void ExpectNear(const Quaternion& actual, const Quaternion& expected, float tolerance = 1e-5f) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
    EXPECT_NEAR(actual.w, expected.w, tolerance);
}

// An interpolator for `name` whose scale stays 1 and whose translation and rotation hold `at` and
// `rotation` from tick 0 to tick 100 (period 1 s at 100 ticks per second).
inline ComPtr<KeyframeInterpolator> Holding(const char* name, Vector3 at, Quaternion rotation) {
    const VectorKey translation[] = {{0.0f, at}, {100.0f, at}};
    const RotationKey rotations[] = {Stored(0.0f, rotation), Stored(100.0f, rotation)};
    ComPtr<KeyframeInterpolator> made;
    EXPECT_EQ(CreateKeyframeInterpolator(name, nullptr, 0, rotations, 2, translation, 2, 100.0,
                                         made.ReleaseAndGetAddressOf()),
              S_OK);
    return made;
}

// A set of the given interpolators.
inline ComPtr<AnimationSet> SetOf(const char* name, std::initializer_list<KeyframeInterpolator*> interpolators) {
    ComPtr<AnimationSet> set;
    EXPECT_EQ(CreateAnimationSet(name, interpolators.begin(), static_cast<UINT>(interpolators.size()),
                                 set.ReleaseAndGetAddressOf()),
              S_OK);
    return set;
}

}  // namespace animtest
