// xfile_bench.cpp: loading a large skinned, animated model (about 100,000 vertices and 20,000
// animation keys, written by tools/make_xfiles.py --large) from its text, binary and compressed
// files with the hierarchy loader, against the Open Asset Import Library's X importer loading the
// same models in the same run; prints the time ratio per encoding. The peer reads a binary string's
// terminator as a 2-byte token where the parser here reads 4 bytes, so for the binary and
// compressed runs it loads copies of the same data written that way (_peer files).
#include <benchmark/benchmark.h>

#include <assimp/Importer.hpp>
#include <assimp/scene.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "library/xfile/hierarchy.h"
#include "library/xfile/plain_allocator.h"
#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/standalone_device.h"

namespace {

const char* const kEncodings[] = {"txt", "bin", "bzip"};

std::string ModelPath(const std::string& encoding) {
    return std::string(QM_XFILE_BENCH_ASSETS) + "/large_character_" + encoding + ".x";
}

std::string PeerModelPath(const std::string& encoding) { return ModelPath(encoding == "txt" ? encoding : encoding + "_peer"); }

IDirect3DDevice9* TheDevice() {
    static ComPtr<IDirect3DDevice9> device = [] {
        ComPtr<IDirect3DDevice9> made = qm::d3d9::CreateStandaloneDevice(8, 8);
        if (!made) std::abort();
        return made;
    }();
    return device.Get();
}

// The whole load: hierarchy, meshes with adjacency and attribute sort, skin, sets, controller; then
// everything destroyed.
void LoadWithHierarchyLoader(benchmark::State& state, std::string encoding) {
    const std::string path = ModelPath(encoding);
    for (auto _ : state) {
        qm::PlainHierarchyAllocator allocator;
        qm::Frame* root = nullptr;
        ComPtr<qm::AnimationController> controller;
        if (FAILED(qm::LoadHierarchyFromFile(path.c_str(), 0, TheDevice(), &allocator, nullptr, &root,
                                             controller.ReleaseAndGetAddressOf())) ||
            !controller) {
            state.SkipWithError("the model did not load");
            return;
        }
        controller.Reset();
        qm::DestroyFrameTree(root, &allocator);
    }
}

// The peer's import of the same file with no post-processing, then its scene freed.
void LoadWithAssimp(benchmark::State& state, std::string encoding) {
    const std::string path = PeerModelPath(encoding);
    for (auto _ : state) {
        Assimp::Importer importer;
        const aiScene* scene = importer.ReadFile(path, 0);
        if (scene == nullptr || scene->mNumMeshes == 0) {
            state.SkipWithError(importer.GetErrorString());
            return;
        }
        benchmark::DoNotOptimize(scene);
        importer.FreeScene();
    }
}

// Each load runs in kRepetitions repetitions; the ratio takes the median real time per iteration of
// each side, so that one slow repetition (the first one's fresh pages, another process on the
// machine) moves neither.
constexpr int kRepetitions = 5;

// Prints as the console reporter does and keeps each benchmark's median real time per iteration.
class TimeReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (!run.error_occurred && run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                times[run.run_name.function_name] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
    for (const char* encoding : kEncodings) {
        benchmark::RegisterBenchmark(("LoadHierarchy/" + std::string(encoding)).c_str(), LoadWithHierarchyLoader,
                                     std::string(encoding))
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(kRepetitions);
        benchmark::RegisterBenchmark(("Assimp/" + std::string(encoding)).c_str(), LoadWithAssimp, std::string(encoding))
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(kRepetitions);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    TimeReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    for (const char* encoding : kEncodings) {
        auto ours = reporter.times.find("LoadHierarchy/" + std::string(encoding));
        auto peer = reporter.times.find("Assimp/" + std::string(encoding));
        if (ours == reporter.times.end() || peer == reporter.times.end() || peer->second <= 0) continue;
        std::printf("%s: hierarchy loader %.1f ms, assimp %.1f ms (medians), ratio %.2f (goal at most 0.50)\n",
                    encoding,
                    ours->second, peer->second, ours->second / peer->second);
    }
    return 0;
}
