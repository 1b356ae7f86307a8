// animation_controller_test.cpp: the controller's blend (weights, priority groups and blend),
// time and speed, outputs and sets coming and going, cloning, scheduled events with linear and
// smooth transitions, argument checks, and the behaviour of the shared base.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "library/anim/animation_controller.h"
#include "library/anim/controller_base.h"
#include "tests/anim/anim_test_util.h"

using namespace animtest;

namespace {

ComPtr<AnimationController> MakeController(UINT outputs, UINT sets, UINT tracks, UINT events) {
    ComPtr<AnimationController> c;
    EXPECT_EQ(CreateAnimationController(outputs, sets, tracks, events, c.ReleaseAndGetAddressOf()), S_OK);
    return c;
}

void PlayOn(AnimationController* c, UINT track, AnimationSet* set, float weight, DWORD priority = 0) {
    ASSERT_EQ(c->SetTrackAnimationSet(track, set), S_OK);
    const TrackDescriptor d{priority, weight, 1.0f, TRUE, 0.0};
    ASSERT_EQ(c->SetTrackDescriptor(track, &d), S_OK);
}

// Expects m = rotation by `degrees` about z, then translation by (x, y, z), with unit scale.
void ExpectPose(const Matrix& m, double degrees, float x, float y, float z) {
    const float c = static_cast<float>(std::cos(degrees * kPi / 180.0));
    const float s = static_cast<float>(std::sin(degrees * kPi / 180.0));
    const float expected[16] = {c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, x, y, z, 1};
    for (int i = 0; i < 16; ++i) EXPECT_NEAR((&m._11)[i], expected[i], 1e-5f) << "element " << i;
}

Matrix Sentinel() {
    Matrix m;
    for (int i = 0; i < 16; ++i) (&m._11)[i] = 42.0f;
    return m;
}

bool Same(const Matrix& a, const Matrix& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

double Position(AnimationController* c, UINT track) {
    TrackDescriptor d{};
    c->GetTrackDescriptor(track, &d);
    return d.position;
}

// Translation keys moving x from 0 to 10 and back over two seconds (100 ticks per second).
ComPtr<AnimationSet> Swing() {
    const VectorKey keys[] = {{0.0f, {0, 0, 0}}, {100.0f, {10, 0, 0}}, {200.0f, {0, 0, 0}}};
    ComPtr<KeyframeInterpolator> it;
    CreateKeyframeInterpolator("Bone", nullptr, 0, nullptr, 0, keys, 3, 100.0, it.ReleaseAndGetAddressOf());
    return SetOf("Swing", {it.Get()});
}

}  // namespace

TEST(AnimationController, BlendsWeightsAndPriorityGroups) {
    ComPtr<KeyframeInterpolator> a = Holding("Bone", {4, 0, 0}, AboutZ(0));
    ComPtr<KeyframeInterpolator> b = Holding("Bone", {0, 8, 0}, AboutZ(90));
    ComPtr<AnimationSet> setA = SetOf("A", {a.Get()});
    ComPtr<AnimationSet> setB = SetOf("B", {b.Get()});
    ComPtr<AnimationController> c = MakeController(2, 2, 3, 4);
    Matrix bone = Sentinel();
    Matrix still = Sentinel();
    ASSERT_EQ(c->RegisterAnimationOutput("Bone", &bone), S_OK);
    ASSERT_EQ(c->RegisterAnimationOutput("Still", &still), S_OK);
    ASSERT_EQ(c->RegisterAnimationSet(setA.Get()), S_OK);
    ASSERT_EQ(c->RegisterAnimationSet(setB.Get()), S_OK);

    // Same group, weights 1 and 3: translation (t1 + 3·t2)/4, rotation slerp(q1, q2, 0.75).
    PlayOn(c.Get(), 0, setA.Get(), 1.0f);
    PlayOn(c.Get(), 1, setB.Get(), 3.0f);
    ASSERT_EQ(c->SetTime(0.25), S_OK);
    ExpectPose(bone, 67.5, 1, 6, 0);
    EXPECT_TRUE(Same(still, Sentinel()));  // no set animates it

    // Track 1 in group 1: blend 0 shows group 0 only, 1 group 1 only, 0.5 halfway.
    PlayOn(c.Get(), 1, setB.Get(), 1.0f, 1);
    c->SetTime(0.25);
    ExpectPose(bone, 0, 4, 0, 0);
    ASSERT_EQ(c->SetPriorityBlend(1.0f), S_OK);
    c->SetTime(0.25);
    ExpectPose(bone, 90, 0, 8, 0);
    ASSERT_EQ(c->SetPriorityBlend(0.5f), S_OK);
    c->SetTime(0.25);
    ExpectPose(bone, 45, 2, 4, 0);
    EXPECT_EQ(c->SetPriorityBlend(1.5f), D3DERR_INVALIDCALL);
    EXPECT_EQ(c->SetPriorityBlend(-0.25f), D3DERR_INVALIDCALL);
    EXPECT_EQ(c->GetPriorityBlend(), 0.5f);

    // A track with weight 0, or disabled, contributes nothing; with none left the output stays.
    c->SetTrackWeight(1, 0.0f);
    c->SetTime(0.25);
    ExpectPose(bone, 0, 4, 0, 0);
    c->SetTrackEnable(0, FALSE);
    bone = Sentinel();
    c->SetTime(0.5);
    EXPECT_TRUE(Same(bone, Sentinel()));
}

TEST(AnimationController, WritesScaleThenRotationThenTranslation) {
    // Scale (2, 3, 4), then 90° about z, then translation (1, 2, 3): x goes to 2y, y to −3x.
    const VectorKey scale[] = {{0.0f, {2, 3, 4}}, {100.0f, {2, 3, 4}}};
    const RotationKey rotation[] = {Stored(0.0f, AboutZ(90)), Stored(100.0f, AboutZ(90))};
    const VectorKey translation[] = {{0.0f, {1, 2, 3}}, {100.0f, {1, 2, 3}}};
    ComPtr<KeyframeInterpolator> it;
    ASSERT_EQ(CreateKeyframeInterpolator("Bone", scale, 2, rotation, 2, translation, 2, 100.0,
                                         it.ReleaseAndGetAddressOf()),
              S_OK);
    ComPtr<AnimationSet> set = SetOf("S", {it.Get()});
    ComPtr<AnimationController> c = MakeController(1, 1, 1, 1);
    Matrix bone = Sentinel();
    c->RegisterAnimationOutput("Bone", &bone);
    c->RegisterAnimationSet(set.Get());
    PlayOn(c.Get(), 0, set.Get(), 0.5f);  // one track of weight 0.5: normalised back
    ASSERT_EQ(c->SetTime(0.5), S_OK);
    const float expected[16] = {0, 2, 0, 0, -3, 0, 0, 0, 0, 0, 4, 0, 1, 2, 3, 1};
    for (int i = 0; i < 16; ++i) EXPECT_NEAR((&bone._11)[i], expected[i], 1e-5f) << "element " << i;
}

TEST(AnimationController, TimeSpeedAndPositions) {
    ComPtr<AnimationSet> swing = Swing();
    ComPtr<AnimationController> c = MakeController(1, 1, 1, 1);
    Matrix bone = Sentinel();
    c->RegisterAnimationOutput("Bone", &bone);
    c->RegisterAnimationSet(swing.Get());
    PlayOn(c.Get(), 0, swing.Get(), 1.0f);

    c->SetTime(0.5);
    ExpectPose(bone, 0, 5, 0, 0);
    const Matrix first = bone;
    c->SetTime(0.5);  // the same time again: nothing moves
    EXPECT_EQ(Position(c.Get(), 0), 0.5);
    EXPECT_TRUE(Same(bone, first));
    c->SetTime(0.25);  // backwards by speed × difference
    EXPECT_EQ(Position(c.Get(), 0), 0.25);
    ExpectPose(bone, 0, 2.5, 0, 0);
    c->SetTrackSpeed(0, 2.0f);
    c->SetTime(0.5);
    EXPECT_EQ(Position(c.Get(), 0), 0.75);
    ExpectPose(bone, 0, 7.5, 0, 0);
    c->SetTrackSpeed(0, 0.0f);  // frozen
    c->SetTime(7.0);
    ExpectPose(bone, 0, 7.5, 0, 0);
    EXPECT_EQ(c->GetTime(), 7.0);
    c->SetTrackPosition(0, -0.5);  // negative: every key track at its first key
    c->SetTime(8.0);
    ExpectPose(bone, 0, 0, 0, 0);
    EXPECT_EQ(c->SetTime(std::nan("")), D3DERR_INVALIDCALL);
    EXPECT_EQ(c->GetTime(), 8.0);
}

TEST(AnimationController, OutputsAndSetsComeAndGo) {
    ComPtr<AnimationSet> swing = Swing();
    ComPtr<AnimationSet> other = SetOf("Other", {Holding("Bone", {0, 0, 3}, AboutZ(0)).Get()});
    ComPtr<AnimationSet> third = SetOf("Third", {Holding("Bone", {0, 5, 0}, AboutZ(0)).Get()});
    ComPtr<AnimationController> c = MakeController(2, 3, 2, 1);

    Matrix a = Sentinel(), b = Sentinel(), bone = Sentinel();
    EXPECT_EQ(c->RegisterAnimationOutput(nullptr, &a), D3DERR_INVALIDCALL);
    ASSERT_EQ(c->RegisterAnimationOutput("A", &a), S_OK);
    ASSERT_EQ(c->RegisterAnimationOutput("B", &b), S_OK);
    EXPECT_EQ(c->RegisterAnimationOutput("Bone", &bone), D3DERR_INVALIDCALL);  // full
    ASSERT_EQ(c->RegisterAnimationOutput("A", nullptr), S_OK);                  // removed
    ASSERT_EQ(c->RegisterAnimationSet(swing.Get()), S_OK);
    ASSERT_EQ(c->RegisterAnimationOutput("Bone", &bone), S_OK);  // takes A's entry, bound to Swing
    PlayOn(c.Get(), 0, swing.Get(), 1.0f);
    c->SetTime(0.5);
    ExpectPose(bone, 0, 5, 0, 0);
    EXPECT_TRUE(Same(a, Sentinel()));

    // Unregistering moves the last set into the freed slot and remaps the tracks.
    ASSERT_EQ(c->RegisterAnimationSet(other.Get()), S_OK);
    ASSERT_EQ(c->RegisterAnimationSet(third.Get()), S_OK);
    EXPECT_EQ(c->RegisterAnimationSet(swing.Get()), D3DERR_INVALIDCALL);  // full
    PlayOn(c.Get(), 1, third.Get(), 1.0f);
    c->SetTrackEnable(0, FALSE);
    ASSERT_EQ(c->UnregisterAnimationSet(swing.Get()), S_OK);
    EXPECT_EQ(c->UnregisterAnimationSet(swing.Get()), D3DERR_INVALIDCALL);
    ASSERT_EQ(c->GetAnimationSetCount(), 2u);
    ComPtr<AnimationSet> got;
    c->GetAnimationSet(0, got.ReleaseAndGetAddressOf());
    EXPECT_EQ(got.Get(), third.Get());
    c->GetTrackAnimationSet(0, got.ReleaseAndGetAddressOf());
    EXPECT_EQ(got.Get(), nullptr);
    c->GetTrackAnimationSet(1, got.ReleaseAndGetAddressOf());
    EXPECT_EQ(got.Get(), third.Get());
    c->SetTime(1.0);
    ExpectPose(bone, 0, 0, 5, 0);

    // Unregistering the sets leaves the tracks with none and the outputs as they were.
    c->UnregisterAnimationSet(third.Get());
    c->UnregisterAnimationSet(other.Get());
    EXPECT_EQ(c->GetAnimationSetCount(), 0u);
    bone = Sentinel();
    c->SetTrackEnable(0, TRUE);
    EXPECT_EQ(c->SetTime(2.0), S_OK);
    EXPECT_TRUE(Same(bone, Sentinel()));
    EXPECT_EQ(c->SetTrackAnimationSet(0, swing.Get()), D3DERR_INVALIDCALL);  // not registered
}

TEST(AnimationController, ClonesWithEqualOrLargerMaxima) {
    ComPtr<AnimationSet> swing = Swing();
    ComPtr<AnimationController> c = MakeController(1, 1, 2, 2);
    Matrix bone = Sentinel();
    c->RegisterAnimationOutput("Bone", &bone);
    c->RegisterAnimationSet(swing.Get());
    PlayOn(c.Get(), 0, swing.Get(), 1.0f);
    c->SetTrackPosition(1, 3.0);
    c->SetTime(0.25);
    ASSERT_EQ(c->KeyTrackSpeed(0, 3.0f, 1.0, 2.0, kTransitionLinear), S_OK);

    AnimationController* refused = nullptr;
    EXPECT_EQ(c->CloneController(1, 1, 1, 2, &refused), D3DERR_INVALIDCALL);  // fewer tracks
    EXPECT_EQ(c->CloneController(1, 1, 2, 0, &refused), D3DERR_INVALIDCALL);
    EXPECT_EQ(refused, nullptr);
    ComPtr<AnimationController> clone;
    ASSERT_EQ(c->CloneController(1, 2, 3, 4, clone.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(clone->GetMaxAnimationSetCount(), 2u);
    EXPECT_EQ(clone->GetMaxEventCount(), 4u);
    EXPECT_EQ(clone->GetTime(), 0.25);
    EXPECT_EQ(Position(clone.Get(), 1), 3.0);
    ComPtr<AnimationSet> got;
    clone->GetTrackAnimationSet(0, got.ReleaseAndGetAddressOf());
    EXPECT_EQ(got.Get(), swing.Get());
    clone->GetTrackAnimationSet(1, got.ReleaseAndGetAddressOf());
    EXPECT_EQ(got.Get(), nullptr);  // no set stays no set under the larger set table

    // Both follow the same speed change and write the same output.
    c->SetTime(2.0);
    const double sourcePosition = Position(c.Get(), 0);
    EXPECT_DOUBLE_EQ(sourcePosition, 0.25 + 0.75 + (1 + 2) / 2.0);
    const Matrix fromSource = bone;
    bone = Sentinel();
    clone->SetTime(2.0);
    EXPECT_EQ(Position(clone.Get(), 0), sourcePosition);
    EXPECT_TRUE(Same(bone, fromSource));
}

TEST(AnimationController, EventsWithLinearAndSmoothTransitions) {
    // Speed 1 → 3 from t = 1 to t = 3: the position is the integral of the speed. Linear: 1 + 4 + 3
    // = 8 at t = 4, 2.5 at t = 2. Smooth, speed 1 + 2·(3 − 2f)·f²: 1.375 after one second of the
    // change, 8 at t = 4 too.
    for (DWORD transition : {kTransitionLinear, kTransitionSmooth}) {
        const double atTwo = transition == kTransitionSmooth ? 2.375 : 2.5;
        for (bool stepped : {true, false}) {
            SCOPED_TRACE(testing::Message() << "transition " << transition << (stepped ? " stepped" : " jump"));
            ComPtr<AnimationController> c = MakeController(1, 1, 1, 4);
            c->SetTrackSpeed(0, 1.0f);
            c->SetTrackEnable(0, TRUE);
            ASSERT_EQ(c->KeyTrackSpeed(0, 3.0f, 1.0, 2.0, transition), S_OK);
            if (stepped) {
                c->SetTime(1.0);
                EXPECT_DOUBLE_EQ(Position(c.Get(), 0), 1.0);
                c->SetTime(2.0);
                EXPECT_DOUBLE_EQ(Position(c.Get(), 0), atTwo);
                TrackDescriptor d;
                c->GetTrackDescriptor(0, &d);
                EXPECT_FLOAT_EQ(d.speed, 2.0f);  // halfway by either curve
            }
            c->SetTime(4.0);
            EXPECT_NEAR(Position(c.Get(), 0), 8.0, 1e-9);
        }
    }

    // Weight and blend follow their curves; position and enable events act at their time.
    ComPtr<AnimationController> c = MakeController(1, 1, 2, 8);
    c->SetTrackSpeed(0, 1.0f);
    c->SetTrackEnable(0, TRUE);
    c->SetTrackWeight(1, 1.0f);
    ASSERT_EQ(c->KeyTrackWeight(1, 0.0f, 0.0, 2.0, kTransitionLinear), S_OK);
    ASSERT_EQ(c->KeyPriorityBlend(1.0f, 0.0, 2.0, kTransitionSmooth), S_OK);
    ASSERT_EQ(c->KeyTrackPosition(0, 10.0, 3.0), S_OK);
    EXPECT_EQ(Position(c.Get(), 0), 10.0);  // written at once as well
    ASSERT_EQ(c->KeyTrackEnable(0, FALSE, 5.0), S_OK);
    c->SetTime(0.5);
    TrackDescriptor d;
    c->GetTrackDescriptor(1, &d);
    EXPECT_FLOAT_EQ(d.weight, 0.75f);
    EXPECT_FLOAT_EQ(c->GetPriorityBlend(), 0.15625f);  // (3 − 2·0.25)·0.25²
    EXPECT_DOUBLE_EQ(Position(c.Get(), 0), 10.5);
    c->SetTime(4.0);  // the position jumps back to 10 at t = 3
    EXPECT_DOUBLE_EQ(Position(c.Get(), 0), 11.0);
    c->GetTrackDescriptor(1, &d);
    EXPECT_EQ(d.weight, 0.0f);
    EXPECT_EQ(c->GetPriorityBlend(), 1.0f);
    c->SetTime(7.0);  // disabled at t = 5
    EXPECT_DOUBLE_EQ(Position(c.Get(), 0), 12.0);
    c->GetTrackDescriptor(0, &d);
    EXPECT_EQ(d.enable, FALSE);
}

TEST(AnimationController, EventPoolAndOverlaps) {
    ComPtr<AnimationController> c = MakeController(1, 1, 1, 2);
    c->SetTrackSpeed(0, 1.0f);
    c->SetTrackEnable(0, TRUE);
    ASSERT_EQ(c->KeyTrackSpeed(0, 5.0f, 1.0, 2.0, kTransitionLinear), S_OK);
    // Starts while the first runs: the first is dropped and its record goes back to the pool.
    ASSERT_EQ(c->KeyTrackSpeed(0, 1.0f, 2.0, 1.0, kTransitionLinear), S_OK);
    ASSERT_EQ(c->KeyTrackSpeed(0, 2.0f, 10.0, 0.0, kTransitionLinear), S_OK);
    EXPECT_EQ(c->KeyTrackSpeed(0, 2.0f, 20.0, 0.0, kTransitionLinear), D3DERR_INVALIDCALL);  // pool used up
    EXPECT_EQ(c->KeyTrackSpeed(1, 2.0f, 0.0, 0.0, kTransitionLinear), D3DERR_INVALIDCALL);   // no such track
    EXPECT_EQ(c->KeyTrackSpeed(0, 2.0f, std::nan(""), 0.0, kTransitionLinear), D3DERR_INVALIDCALL);
    c->SetTime(3.0);  // speed 1 throughout: the dropped change never ran
    EXPECT_DOUBLE_EQ(Position(c.Get(), 0), 3.0);
    c->SetTime(11.0);  // speed 2 from t = 10
    EXPECT_DOUBLE_EQ(Position(c.Get(), 0), 3.0 + 7.0 + 2.0);
}

TEST(AnimationController, RefusesBadArguments) {
    AnimationController* none = nullptr;
    EXPECT_EQ(CreateAnimationController(0, 1, 1, 1, &none), D3DERR_INVALIDCALL);
    EXPECT_EQ(CreateAnimationController(1, 1, 1, 1, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(CreateAnimationController(0xFFFFFFFFu, 0xFFFFFFFFu, 1, 1, &none), E_OUTOFMEMORY);
    EXPECT_EQ(none, nullptr);

    // A track past the last changes nothing.
    ComPtr<AnimationController> c = MakeController(1, 1, 2, 1);
    const TrackDescriptor d{1, 2.0f, 3.0f, TRUE, 4.0};
    EXPECT_EQ(c->SetTrackDescriptor(2, &d), D3DERR_INVALIDCALL);
    EXPECT_EQ(c->SetTrackSpeed(2, 1.0f), D3DERR_INVALIDCALL);
    EXPECT_EQ(c->KeyTrackEnable(2, TRUE, 1.0), D3DERR_INVALIDCALL);
    TrackDescriptor last{};
    EXPECT_EQ(c->GetTrackDescriptor(1, &last), S_OK);
    EXPECT_EQ(last.speed, 0.0f);

    void* found = nullptr;
    ASSERT_EQ(c->QueryInterface(AnimationController::iid, &found), S_OK);
    EXPECT_EQ(found, static_cast<void*>(c.Get()));
    c->Release();
    EXPECT_EQ(c->QueryInterface(AnimationSet::iid, &found), E_NOINTERFACE);
}

namespace {

// The shared base on its own, as a derived controller sees it.
class BareController final : public AnimationControllerBase {
public:
    BareController() : AnimationControllerBase(1, 1, 1) {}
};

}  // namespace

TEST(AnimationController, BaseHasNoEventsCloningOrInterface) {
    ComPtr<BareController> bare = MakeRef<BareController>();
    ComPtr<AnimationSet> swing = Swing();
    Matrix bone = Sentinel();
    bare->RegisterAnimationOutput("Bone", &bone);
    bare->RegisterAnimationSet(swing.Get());
    PlayOn(bare.Get(), 0, swing.Get(), 1.0f);
    EXPECT_EQ(bare->SetTime(0.5), S_OK);
    ExpectPose(bone, 0, 5, 0, 0);

    void* found = nullptr;
    EXPECT_EQ(bare->QueryInterface(AnimationController::iid, &found), E_NOINTERFACE);
    AnimationController* clone = nullptr;
    EXPECT_EQ(bare->CloneController(1, 1, 1, 1, &clone), E_NOTIMPL);
    EXPECT_EQ(bare->KeyTrackSpeed(0, 1.0f, 0.0, 1.0, 0), E_NOTIMPL);
    EXPECT_EQ(bare->KeyPriorityBlend(1.0f, 0.0, 1.0, 0), E_NOTIMPL);
    EXPECT_EQ(bare->SetPriorityBlend(0.5f), E_NOTIMPL);
    EXPECT_EQ(bare->GetMaxOutputCount(), 0u);
    EXPECT_EQ(bare->GetMaxEventCount(), 0u);
}
