// math_bench.cpp: the math library's SSE2 table against its portable table in the same run, printed as
// ratios (portable time / SSE2 time) for matrix products, array transforms, skinning, slerp and
// 16-bit float conversion.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "library/math/math.h"
#include "library/math/math_dispatch.h"

namespace {

using qm::MathImplementation;
using qm::MathImplementationSet;
using qm::Matrix;
using qm::Quaternion;
using qm::Vector3;
using qm::Vector4;

constexpr int kPoints = 4096;

// The function in a slot of the portable table, or of the table active in the SSE2 state (the SSE2
// form where there is one, else the portable one).
template <typename Function>
Function Slot(bool sse2, int slot, Function) {
    qm::MathSlotFunction found = sse2 ? MathImplementation(MathImplementationSet::Sse2, slot) : nullptr;
    if (found == nullptr) found = MathImplementation(MathImplementationSet::Portable, slot);
    return reinterpret_cast<Function>(found);
}

struct Inputs {
    std::vector<Matrix> left, right, bones;
    std::vector<Vector3> points;
    std::vector<Quaternion> from, to;
    std::vector<float> floats, influences;
    std::vector<WORD> halves;
    Inputs() {
        std::mt19937 engine(1);
        std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
        auto matrix = [&] {
            Matrix m;
            for (auto& row : m.m)
                for (float& e : row) e = uniform(engine);
            m._44 = 1.0f;
            return m;
        };
        for (int i = 0; i < 256; ++i) left.push_back(matrix()), right.push_back(matrix());
        for (int i = 0; i < 32; ++i) bones.push_back(matrix());
        for (int i = 0; i < kPoints; ++i) {
            points.emplace_back(100 * uniform(engine), 100 * uniform(engine), 100 * uniform(engine));
            Quaternion a{uniform(engine), uniform(engine), uniform(engine), uniform(engine)};
            Quaternion b{uniform(engine), uniform(engine), uniform(engine), uniform(engine)};
            qm::QuaternionNormalize(&a, &a);
            qm::QuaternionNormalize(&b, &b);
            from.push_back(a), to.push_back(b);
            floats.push_back(70000.0f * uniform(engine));
            // Three influences per vertex, the weights summing to 1.
            for (int k = 0; k < 3; ++k)
                influences.push_back(2.0f * static_cast<float>((i + 7 * k) % 32) + (k == 0 ? 0.5f : 0.25f));
            influences.push_back(-1.0f);
        }
        halves.resize(kPoints);
        qm::Float32To16Array(halves.data(), floats.data(), kPoints);
    }
};

const Inputs& Data() {
    static const Inputs inputs;
    return inputs;
}

void MatrixProducts(benchmark::State& state, bool sse2) {
    auto multiply = Slot(sse2, 3, &qm::MatrixMultiply);
    const Inputs& in = Data();
    std::vector<Matrix> out(in.left.size());
    for (auto _ : state) {
        for (std::size_t i = 0; i < out.size(); ++i) multiply(&out[i], &in.left[i], &in.right[i]);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(out.size()));
}

void PointArrayTransform(benchmark::State& state, bool sse2) {
    auto transform = Slot(sse2, 68, &qm::Vec3TransformArray);
    const Inputs& in = Data();
    std::vector<Vector4> out(kPoints);
    for (auto _ : state) {
        transform(out.data(), sizeof(Vector4), in.points.data(), sizeof(Vector3), &in.left[0], kPoints);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}

void PointCoordinates(benchmark::State& state, bool sse2) {
    auto transform = Slot(sse2, 10, &qm::Vec3TransformCoord);
    const Inputs& in = Data();
    std::vector<Vector3> out(kPoints);
    for (auto _ : state) {
        for (int i = 0; i < kPoints; ++i) transform(&out[i], &in.points[i], &in.left[1]);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}

void Skinning(benchmark::State& state, bool sse2) {
    auto skin = Slot(sse2, 69, &qm::SkinVertices);
    const Inputs& in = Data();
    struct Vertex {
        Vector3 position, normal;
        float uv[2];
    };
    std::vector<Vertex> source(kPoints), destination(kPoints);
    for (int i = 0; i < kPoints; ++i) source[i] = Vertex{in.points[i], in.points[(i + 1) % kPoints], {0, 0}};
    const UINT normalOffset = offsetof(Vertex, normal);
    for (auto _ : state) {
        skin(destination.data(), sizeof(Vertex), source.data(), sizeof(Vertex), 0, kPoints, in.influences.data(),
             in.bones.data(), nullptr, static_cast<UINT>(in.bones.size()), &normalOffset, 1);
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}

void Slerp(benchmark::State& state, bool sse2) {
    auto slerp = Slot(sse2, 35, &qm::QuaternionSlerp);
    const Inputs& in = Data();
    std::vector<Quaternion> out(kPoints);
    for (auto _ : state) {
        for (int i = 0; i < kPoints; ++i) slerp(&out[i], &in.from[i], &in.to[i], 0.3f);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}

void HalfFromFloat(benchmark::State& state, bool sse2) {
    auto convert = Slot(sse2, 57, &qm::Float32To16Array);
    const Inputs& in = Data();
    std::vector<WORD> out(kPoints);
    for (auto _ : state) {
        convert(out.data(), in.floats.data(), kPoints);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}

void FloatFromHalf(benchmark::State& state, bool sse2) {
    auto convert = Slot(sse2, 58, &qm::Float16To32Array);
    const Inputs& in = Data();
    std::vector<float> out(kPoints);
    for (auto _ : state) {
        convert(out.data(), in.halves.data(), kPoints);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}

struct Pair {
    const char* name;
    int slot;
    void (*run)(benchmark::State&, bool);
};

const Pair kPairs[] = {
    {"MatrixMultiply x256", 3, MatrixProducts},
    {"Vec3TransformArray 4096 points", 68, PointArrayTransform},
    {"Vec3TransformCoord x4096", 10, PointCoordinates},
    {"SkinVertices 4096 vertices, 3 bones", 69, Skinning},
    {"QuaternionSlerp x4096", 35, Slerp},
    {"Float32To16Array 4096", 57, HalfFromFloat},
    {"Float16To32Array 4096", 58, FloatFromHalf},
};

// Prints as the console reporter does and keeps each run's processor time per iteration.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (!run.error_occurred) times[run.benchmark_name()] = run.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
    bool sse2Built = MathImplementation(MathImplementationSet::Sse2, 0) != nullptr;
    for (const Pair& pair : kPairs) {
        benchmark::RegisterBenchmark((std::string(pair.name) + "/portable").c_str(), pair.run, false);
        if (sse2Built) benchmark::RegisterBenchmark((std::string(pair.name) + "/sse2").c_str(), pair.run, true);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    if (!sse2Built) {
        std::printf("no SSE2 table in this build (QM_FORCE_SCALAR or a processor without SSE2): no ratios\n");
        return 0;
    }
    for (const Pair& pair : kPairs) {
        auto portable = reporter.times.find(std::string(pair.name) + "/portable");
        auto sse2 = reporter.times.find(std::string(pair.name) + "/sse2");
        if (portable == reporter.times.end() || sse2 == reporter.times.end() || sse2->second <= 0) continue;
        bool hasForm = MathImplementation(MathImplementationSet::Sse2, pair.slot) != nullptr;
        std::printf("ratio %s: %.2f%s\n", pair.name, portable->second / sse2->second,
                    hasForm ? "" : " (slot has no SSE2 form: both tables run the portable code)");
    }
    return 0;
}
