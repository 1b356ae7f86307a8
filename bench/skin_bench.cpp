// skin_bench.cpp: UpdateSkinnedMesh on a 20,000-vertex mesh (position, normal, one texture set) with
// four influences per vertex and 60 bones: 16-byte-aligned bone matrices (the processor-specific
// kernel of math slot 69) against unaligned ones (the portable kernel) in the same run, printed as
// vertices per second and their ratio.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "library/math/math.h"
#include "library/math/math_dispatch.h"
#include "library/xfile/skin_info.h"

namespace {

using qm::Matrix;

constexpr DWORD kVertices = 20000;
constexpr DWORD kBones = 60;
constexpr DWORD kInfluencesPerVertex = 4;
constexpr DWORD kFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;

struct Vertex {
    float x, y, z, nx, ny, nz, u, v;
};

struct Scene {
    ComPtr<qm::SkinInfo> skin;
    std::vector<Vertex> source, destination;
    std::vector<float> matrixStorage;
    const Matrix* aligned = nullptr;
    const Matrix* unaligned = nullptr;
};

Scene& TheScene() {
    static Scene scene = [] {
        Scene s;
        std::mt19937 random(11);
        std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
        s.source.resize(kVertices);
        for (Vertex& v : s.source)
            v = {unit(random), unit(random), unit(random), 0.0f, 1.0f, 0.0f, unit(random), unit(random)};
        s.destination.resize(kVertices);

        // Every vertex on four distinct bones with weights 0.4, 0.3, 0.2, 0.1.
        std::vector<qm::BoneRecord> bones(kBones);
        static constexpr float kWeights[kInfluencesPerVertex] = {0.4f, 0.3f, 0.2f, 0.1f};
        for (DWORD v = 0; v < kVertices; ++v) {
            for (DWORD k = 0; k < kInfluencesPerVertex; ++k) {
                qm::BoneRecord& bone = bones[(v * 13 + k * 17) % kBones];
                bone.vertices.push_back(v);
                bone.weights.push_back(kWeights[k]);
            }
        }
        D3DVERTEXELEMENT9 declaration[qm::kMaxDeclarationElements];
        qm::DeclarationFromFVF(kFvf, declaration);
        qm::SkinInfo* made = nullptr;
        if (FAILED(qm::CreateSkinInfoFromBones(kVertices, declaration, kBones, std::move(bones), &made))) std::abort();
        s.skin = ComPtr<qm::SkinInfo>::Adopt(made);

        // Bone matrices: rotations with translations, stored once 16-byte aligned and once 4 bytes off.
        std::vector<Matrix> matrices(kBones);
        for (DWORD b = 0; b < kBones; ++b) {
            qm::MatrixRotationYawPitchRoll(&matrices[b], 0.1f * b, 0.05f * b, 0.02f * b);
            matrices[b]._41 = unit(random), matrices[b]._42 = unit(random), matrices[b]._43 = unit(random);
        }
        s.matrixStorage.resize(2 * 16 * kBones + 16);
        auto address = reinterpret_cast<std::uintptr_t>(s.matrixStorage.data());
        float* aligned = s.matrixStorage.data() + ((16 - (address & 15)) & 15) / 4;
        float* unaligned = aligned + 16 * kBones + 1;
        std::memcpy(aligned, matrices.data(), kBones * sizeof(Matrix));
        std::memcpy(unaligned, matrices.data(), kBones * sizeof(Matrix));
        s.aligned = reinterpret_cast<const Matrix*>(aligned);
        s.unaligned = reinterpret_cast<const Matrix*>(unaligned);
        return s;
    }();
    return scene;
}

void Skin(benchmark::State& state, bool aligned) {
    Scene& scene = TheScene();
    const Matrix* bones = aligned ? scene.aligned : scene.unaligned;
    for (auto _ : state) {
        if (FAILED(scene.skin->UpdateSkinnedMesh(bones, nullptr, scene.source.data(), scene.destination.data())))
            state.SkipWithError("UpdateSkinnedMesh failed");
        benchmark::DoNotOptimize(scene.destination.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kVertices));
}

// Prints as the console reporter does and keeps each run's vertices per second.
class RateReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            auto rate = run.counters.find("items_per_second");
            if (rate != run.counters.end()) rates[run.benchmark_name()] = rate->second;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::RegisterBenchmark("UpdateSkinnedMesh/portable", Skin, false);
    benchmark::RegisterBenchmark("UpdateSkinnedMesh/aligned", Skin, true);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    static const char* const kStates[] = {"portable", "3DNow!", "SSE2", "SSE"};
    const DWORD chosen = qm::MathDispatchState();
    std::printf("math dispatch: %s\n", chosen < 4 ? kStates[chosen] : "not chosen");
    auto portable = reporter.rates.find("UpdateSkinnedMesh/portable");
    auto aligned = reporter.rates.find("UpdateSkinnedMesh/aligned");
    if (portable == reporter.rates.end() || aligned == reporter.rates.end() || portable->second <= 0) return 0;
    std::printf("aligned (slot 69): %.1f million vertices/s (goal 20)\n", aligned->second / 1e6);
    std::printf("portable: %.1f million vertices/s\n", portable->second / 1e6);
    std::printf("ratio aligned/portable: %.2f (goal 2)\n", aligned->second / portable->second);
    return 0;
}
