// animation_set_test.cpp: interpolator periods, sampling (exact keys, brackets, going backwards,
// looping, rotations), hostile timing, and the animation set's name order and look-ups.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/anim/anim_test_util.h"

using namespace animtest;

TEST(KeyframeInterpolator, PeriodFollowsTheLastKeyTimes) {
    const VectorKey at4800[] = {{0.0f, {1, 1, 1}}, {4800.0f, {2, 2, 2}}};
    const VectorKey at2[] = {{0.0f, {0, 0, 0}}, {2.0f, {0, 0, 0}}};
    const VectorKey at5[] = {{0.0f, {0, 0, 0}}, {5.0f, {0, 0, 0}}};
    const RotationKey rot4800[] = {{0.0f, {0, 0, 0, 1}}, {4800.0f, {0, 0, 0, 1}}};
    const RotationKey rot3[] = {{0.0f, {0, 0, 0, 1}}, {3.0f, {0, 0, 0, 1}}};
    const RotationKey rot2[] = {{0.0f, {0, 0, 0, 1}}, {2.0f, {0, 0, 0, 1}}};
    struct Case {
        const VectorKey* s;
        const RotationKey* r;
        const VectorKey* t;
        double ticksPerSecond;
        double period;
    } cases[] = {
        {nullptr, rot4800, nullptr, 4800.0, 1.0},  // only rotations ending at 4800: absent arrays count as 1
        {at4800, rot4800, at4800, 4800.0, 1.0},    // all arrays end together
        {at2, rot3, nullptr, 1.0, 6.0},            // S ≠ R: S × R
        {at2, rot2, at5, 1.0, 10.0},               // S = R, T ≠ R: S × T
        {nullptr, nullptr, nullptr, 100.0, 0.01},  // no keys at all: one tick
    };
    for (const Case& c : cases) {
        ComPtr<KeyframeInterpolator> it;
        ASSERT_EQ(CreateKeyframeInterpolator("f", c.s, c.s ? 2 : 0, c.r, c.r ? 2 : 0, c.t, c.t ? 2 : 0,
                                             c.ticksPerSecond, it.ReleaseAndGetAddressOf()),
                  S_OK);
        EXPECT_DOUBLE_EQ(it->GetPeriod(), c.period);
        EXPECT_EQ(it->GetTicksPerSecond(), c.ticksPerSecond);
    }

    // Absent arrays get their default key.
    ComPtr<KeyframeInterpolator> empty;
    ASSERT_EQ(CreateKeyframeInterpolator(nullptr, nullptr, 0, nullptr, 0, nullptr, 0, 4800.0,
                                         empty.ReleaseAndGetAddressOf()),
              S_OK);
    EXPECT_EQ(empty->GetName(), nullptr);
    EXPECT_EQ(empty->GetScaleKeyCount(), 1u);
    Vector3 s{}, t{9, 9, 9};
    Quaternion q{};
    ASSERT_EQ(empty->SampleSRT(0.25, &s, &q, &t), S_OK);
    ExpectNear(s, 1, 1, 1);
    ExpectNear(t, 0, 0, 0);
    ExpectNear(q, Quaternion{0, 0, 0, 1});

    KeyframeInterpolator* out = nullptr;
    EXPECT_EQ(CreateKeyframeInterpolator("f", nullptr, 2, nullptr, 0, nullptr, 0, 1.0, &out), D3DERR_INVALIDCALL);
    EXPECT_EQ(CreateKeyframeInterpolator("f", nullptr, 0, nullptr, 0, nullptr, 0, 1.0, nullptr), D3DERR_INVALIDCALL);
}

TEST(KeyframeInterpolator, SamplesBracketsExactKeysBackwardsAndLoops) {
    // 100 ticks per second; translation keys over two seconds; rotations 0°, 90°, 180° about z.
    const VectorKey translation[] = {{0.0f, {0, 0, 0}}, {100.0f, {10, 20, 30}}, {200.0f, {30, 20, 10}}};
    const RotationKey rotation[] = {Stored(0.0f, AboutZ(0)), Stored(100.0f, AboutZ(90)), Stored(200.0f, AboutZ(180))};
    ComPtr<KeyframeInterpolator> it;
    ASSERT_EQ(CreateKeyframeInterpolator("Bone", nullptr, 0, rotation, 3, translation, 3, 100.0,
                                         it.ReleaseAndGetAddressOf()),
              S_OK);
    ASSERT_DOUBLE_EQ(it->GetPeriod(), 2.0);

    Vector3 t;
    Quaternion q;
    it->SampleSRT(0.5, nullptr, &q, &t);
    ExpectNear(t, 5, 10, 15);
    ExpectNear(q, AboutZ(45));
    it->SampleSRT(1.0, nullptr, &q, &t);  // exactly on the middle key
    EXPECT_EQ(t.x, 10.0f);
    EXPECT_EQ(t.y, 20.0f);
    EXPECT_EQ(t.z, 30.0f);
    ExpectNear(q, AboutZ(90));
    it->SampleSRT(1.5, nullptr, &q, &t);
    ExpectNear(t, 20, 20, 20);
    ExpectNear(q, AboutZ(135));
    it->SampleSRT(0.25, nullptr, &q, &t);  // backwards: the search restarts
    ExpectNear(t, 2.5, 5, 7.5);
    ExpectNear(q, AboutZ(22.5));
    it->SampleSRT(2.5, nullptr, nullptr, &t);  // loops
    ExpectNear(t, 5, 10, 15);
    it->SampleSRT(-0.5, nullptr, &q, &t);  // fmod keeps the sign: before the first key
    ExpectNear(t, 0, 0, 0);
    ExpectNear(q, AboutZ(0));

    // Missing outputs write nothing; the last keys come back with the rotation conjugated back.
    Vector3 untouched{7, 7, 7};
    it->SampleSRT(0.5, &untouched, nullptr, nullptr);
    ExpectNear(untouched, 1, 1, 1);
    Vector3 lastT;
    Quaternion lastQ;
    it->GetLastKeyValues(nullptr, &lastQ, &lastT);
    ExpectNear(lastT, 30, 20, 10);
    ExpectNear(lastQ, AboutZ(180));
    RotationKey copied[3];
    ASSERT_EQ(it->CopyRotationKeys(copied), S_OK);
    EXPECT_EQ(copied[2].time, 200.0f);
    ExpectNear(copied[2].value, Quaternion{0, 0, -1, 0});  // stored form
    EXPECT_EQ(it->CopyScaleKeys(nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(it->GetTranslationKeyCount(), 3u);
}

TEST(KeyframeInterpolator, HostileTimesStayFinite) {
    const VectorKey atZero[] = {{0.0f, {3, 4, 5}}};
    // Keys that all end at tick 0 give a period of 0; ticks per second of 0 give an endless one.
    for (double ticksPerSecond : {4800.0, 0.0}) {
        ComPtr<KeyframeInterpolator> it;
        ASSERT_EQ(CreateKeyframeInterpolator("f", nullptr, 0, nullptr, 0, atZero, 1, ticksPerSecond,
                                             it.ReleaseAndGetAddressOf()),
                  S_OK);
        for (double time : {0.3, -2.0, std::nan(""), HUGE_VAL}) {
            Vector3 t{};
            Quaternion q{};
            ASSERT_EQ(it->SampleSRT(time, nullptr, &q, &t), S_OK);
            ExpectNear(t, 3, 4, 5);
            ExpectNear(q, Quaternion{0, 0, 0, 1});
        }
    }
}

TEST(KeyframeInterpolator, AnswersItsInterfacesOnly) {
    ComPtr<KeyframeInterpolator> it = Holding("a", {0, 0, 0}, AboutZ(0));
    for (const IID& iid : {IID_IUnknown, KeyframeInterpolator::iid, KeyframeInterpolator::iidAlternate}) {
        void* found = nullptr;
        ASSERT_EQ(it->QueryInterface(iid, &found), S_OK);
        EXPECT_EQ(found, static_cast<void*>(it.Get()));
        it->Release();
    }
    void* found = reinterpret_cast<void*>(1);
    EXPECT_EQ(it->QueryInterface(AnimationSet::iid, &found), E_NOINTERFACE);
    EXPECT_EQ(found, nullptr);
}

TEST(AnimationSet, SortsByUnsignedBytesAndFindsByName) {
    ComPtr<KeyframeInterpolator> b = Holding("b", {1, 0, 0}, AboutZ(0));
    ComPtr<KeyframeInterpolator> high = Holding("\xC3x", {2, 0, 0}, AboutZ(0));  // byte 0xC3 sorts after 'z'
    ComPtr<KeyframeInterpolator> z = Holding("z", {3, 0, 0}, AboutZ(0));
    const VectorKey long4[] = {{0.0f, {0, 0, 0}}, {400.0f, {0, 0, 0}}};
    ComPtr<KeyframeInterpolator> a;
    ASSERT_EQ(CreateKeyframeInterpolator("a", nullptr, 0, nullptr, 0, long4, 2, 100.0, a.ReleaseAndGetAddressOf()),
              S_OK);

    const ULONG before = b->AddRef() - 1;
    b->Release();
    ComPtr<AnimationSet> set = SetOf("Walk", {a.Get(), high.Get(), z.Get(), b.Get()});
    EXPECT_STREQ(set->GetName(), "Walk");
    EXPECT_DOUBLE_EQ(set->GetPeriod(), 4.0);  // the first entry's, taken before sorting
    ASSERT_EQ(set->GetInterpolatorCount(), 4u);
    const char* order[] = {"a", "b", "z", "\xC3x"};
    for (UINT i = 0; i < 4; ++i) {
        ComPtr<KeyframeInterpolator> got;
        ASSERT_EQ(set->GetInterpolatorByIndex(i, got.ReleaseAndGetAddressOf()), S_OK);
        EXPECT_STREQ(got->GetName(), order[i]);
        ComPtr<KeyframeInterpolator> byName;
        EXPECT_EQ(set->GetInterpolatorByName(order[i], byName.ReleaseAndGetAddressOf()), static_cast<HRESULT>(i));
        EXPECT_EQ(byName.Get(), got.Get());
    }
    // The set holds one reference on each interpolator.
    EXPECT_EQ(b->AddRef(), before + 2);
    b->Release();

    KeyframeInterpolator* missing = b.Get();
    EXPECT_EQ(set->GetInterpolatorByName("bb", &missing), E_FAIL);  // sorts between "b" and "z"
    EXPECT_EQ(missing, nullptr);
    EXPECT_EQ(set->GetInterpolatorByName(nullptr, &missing), D3DERR_INVALIDCALL);
    EXPECT_EQ(set->GetInterpolatorByIndex(4, &missing), D3DERR_INVALIDCALL);

    set.Reset();
    EXPECT_EQ(b->AddRef(), before + 1);
    b->Release();

    // No interpolators, or one without a name, make no set.
    ComPtr<KeyframeInterpolator> unnamed;
    CreateKeyframeInterpolator(nullptr, nullptr, 0, nullptr, 0, nullptr, 0, 1.0, unnamed.ReleaseAndGetAddressOf());
    KeyframeInterpolator* withUnnamed[] = {a.Get(), unnamed.Get()};
    AnimationSet* none = nullptr;
    EXPECT_EQ(CreateAnimationSet("x", withUnnamed, 2, &none), D3DERR_INVALIDCALL);
    EXPECT_EQ(CreateAnimationSet("x", withUnnamed, 0, &none), D3DERR_INVALIDCALL);
    EXPECT_EQ(none, nullptr);
}
