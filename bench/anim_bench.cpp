// anim_bench.cpp: SetTime on a 60-bone controller playing two animation sets on two enabled tracks,
// against the bare cost of sampling the same 120 interpolators at the same times without blending
// or building matrices, in the same run; printed as microseconds per call and their ratio.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "library/anim/animation_controller.h"

namespace {

using namespace qm;

constexpr UINT kBones = 60;
constexpr UINT kKeys = 30;            // per track, 160 ticks apart at 4800 ticks per second
constexpr double kStep = 1.0 / 60.0;  // one frame of global time per call

std::string BoneName(UINT bone) { return "Bone" + std::to_string(bone); }

// One set moving every bone with kKeys scale, rotation and translation keys; `phase` varies the
// values between the two sets.
ComPtr<AnimationSet> MakeSet(const char* name, float phase) {
    std::vector<ComPtr<KeyframeInterpolator>> owned;
    std::vector<KeyframeInterpolator*> interpolators;
    for (UINT bone = 0; bone < kBones; ++bone) {
        std::vector<VectorKey> scale, translation;
        std::vector<RotationKey> rotation;
        for (UINT k = 0; k < kKeys; ++k) {
            const float time = 160.0f * k;
            const float angle = 0.1f * k + phase + 0.01f * bone;
            scale.push_back({time, Vector3(1.0f + 0.01f * k, 1.0f, 1.0f)});
            rotation.push_back({time, Quaternion{0.0f, std::sin(angle / 2), 0.0f, std::cos(angle / 2)}});
            translation.push_back({time, Vector3(0.1f * k, phase, 0.05f * bone)});
        }
        KeyframeInterpolator* made = nullptr;
        if (FAILED(CreateKeyframeInterpolator(BoneName(bone).c_str(), scale.data(), kKeys, rotation.data(), kKeys,
                                              translation.data(), kKeys, 4800.0, &made))) {
            std::abort();
        }
        owned.push_back(ComPtr<KeyframeInterpolator>::Adopt(made));
        interpolators.push_back(made);
    }
    AnimationSet* set = nullptr;
    if (FAILED(CreateAnimationSet(name, interpolators.data(), kBones, &set))) std::abort();
    return ComPtr<AnimationSet>::Adopt(set);
}

struct Scene {
    ComPtr<AnimationSet> walk = MakeSet("Walk", 0.0f);
    ComPtr<AnimationSet> run = MakeSet("Run", 0.5f);
    std::vector<Matrix> matrices = std::vector<Matrix>(kBones);
};

Scene& TheScene() {
    static Scene scene;
    return scene;
}

void ControllerSetTime(benchmark::State& state) {
    Scene& scene = TheScene();
    ComPtr<AnimationController> controller;
    if (FAILED(CreateAnimationController(kBones, 2, 2, 30, controller.ReleaseAndGetAddressOf()))) std::abort();
    for (UINT bone = 0; bone < kBones; ++bone) {
        controller->RegisterAnimationOutput(BoneName(bone).c_str(), &scene.matrices[bone]);
    }
    controller->RegisterAnimationSet(scene.walk.Get());
    controller->RegisterAnimationSet(scene.run.Get());
    controller->SetTrackAnimationSet(0, scene.walk.Get());
    controller->SetTrackAnimationSet(1, scene.run.Get());
    const TrackDescriptor walk{0, 0.75f, 1.0f, TRUE, 0.0};
    const TrackDescriptor run{0, 0.25f, 1.5f, TRUE, 0.0};
    controller->SetTrackDescriptor(0, &walk);
    controller->SetTrackDescriptor(1, &run);
    double time = 0.0;
    for (auto _ : state) {
        time += kStep;
        if (FAILED(controller->SetTime(time))) state.SkipWithError("SetTime failed");
        benchmark::DoNotOptimize(scene.matrices.data());
        benchmark::ClobberMemory();
    }
}

// The same samples the controller takes (each track's interpolators at that track's position),
// kept in place without blending.
void SampleOnly(benchmark::State& state) {
    Scene& scene = TheScene();
    std::vector<KeyframeInterpolator*> tracks[2];
    AnimationSet* sets[2] = {scene.walk.Get(), scene.run.Get()};
    std::vector<ComPtr<KeyframeInterpolator>> owned;
    for (int t = 0; t < 2; ++t) {
        for (UINT bone = 0; bone < kBones; ++bone) {
            KeyframeInterpolator* found = nullptr;
            sets[t]->GetInterpolatorByName(BoneName(bone).c_str(), &found);
            owned.push_back(ComPtr<KeyframeInterpolator>::Adopt(found));
            tracks[t].push_back(found);
        }
    }
    const double speeds[2] = {1.0, 1.5};
    double positions[2] = {0.0, 0.0};
    Vector3 scale, translation;
    Quaternion rotation;
    for (auto _ : state) {
        for (int t = 0; t < 2; ++t) {
            positions[t] += speeds[t] * kStep;
            for (KeyframeInterpolator* interpolator : tracks[t]) {
                interpolator->SampleSRT(positions[t], &scale, &rotation, &translation);
                benchmark::DoNotOptimize(scale);
                benchmark::DoNotOptimize(rotation);
                benchmark::DoNotOptimize(translation);
            }
        }
    }
}

// Prints as the console reporter does and keeps each run's processor time per call in microseconds
// (processor time, since other work on a shared machine inflates wall time).
class TimeReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (!run.error_occurred && run.iterations > 0) micros[run.benchmark_name()] = run.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> micros;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::RegisterBenchmark("SetTime/60 bones, 2 tracks", ControllerSetTime)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("SampleSRT only/120 interpolators", SampleOnly)->Unit(benchmark::kMicrosecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    TimeReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    auto controller = reporter.micros.find("SetTime/60 bones, 2 tracks");
    auto sampling = reporter.micros.find("SampleSRT only/120 interpolators");
    if (controller == reporter.micros.end() || sampling == reporter.micros.end() || sampling->second <= 0) return 0;
    std::printf("SetTime: %.2f us of processor time per call\n", controller->second);
    std::printf("sampling alone: %.2f us per call\n", sampling->second);
    std::printf("ratio SetTime/sampling: %.2f\n", controller->second / sampling->second);
    return 0;
}
