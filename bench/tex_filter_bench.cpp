// tex_filter_bench.cpp: the packed 8-bit ARGB 2:1 box reduction against the general float box path
// on the same image, and the DXT1/DXT5 encoder against libsquish's range fit and cluster fit on
// generated photographic-like and synthetic images (error, PSNR, megapixels per second), printed
// as ratios from the same run. Every encoder is fed the same 8-bit pixels (ours as the exact values
// code / 255) and every encoder's blocks are decoded by the same decoder to measure the error.
#include <benchmark/benchmark.h>
#include <squish.h>
#if QM_BENCH_OPENMP
#include <omp.h>
#endif

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "library/tex/convert_filter.h"
#include "library/tex/dxt_codec.h"
#include "library/tex/pixel_box.h"

namespace {

using qm::Rgba;

struct Random {
    std::uint32_t state = 0x9E3779B9u;
    std::uint32_t Next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    float Unit() { return static_cast<float>(Next() >> 8) / static_cast<float>(1u << 24); }
};

// ---- 2:1 box ----

constexpr UINT kBoxSize = 1024;

std::vector<DWORD>& BoxSource() {
    static std::vector<DWORD> pixels = [] {
        std::vector<DWORD> p(kBoxSize * kBoxSize);
        Random random;
        for (DWORD& v : p) v = random.Next();
        return p;
    }();
    return pixels;
}

qm::PixelBox Box(DWORD* pixels, UINT size) {
    qm::PixelBox box;
    box.pixels = reinterpret_cast<BYTE*>(pixels);
    box.format = D3DFMT_A8R8G8B8;
    box.rowPitch = size * 4;
    box.extent = {0, 0, size, size, 0, 1};
    box.box = box.extent;
    return box;
}

// filterFlags FILTER_DITHER makes the box strategy take its general float path (the packed path
// requires no dither); everything else is the same.
void BoxReduce(benchmark::State& state, DWORD filterFlags) {
    std::vector<DWORD>& source = BoxSource();
    std::vector<DWORD> destination(kBoxSize * kBoxSize / 4);
    const qm::PixelBox src = Box(source.data(), kBoxSize), dst = Box(destination.data(), kBoxSize / 2);
    for (auto _ : state) {
        if (qm::ConvertAndFilter(dst, src, qm::FILTER_BOX | filterFlags) != 0) state.SkipWithError("conversion failed");
        benchmark::DoNotOptimize(destination.data());
    }
    state.SetItemsProcessed(state.iterations() * kBoxSize * kBoxSize);
}

// ---- DXT ----

constexpr int kImageSize = 256;

struct TestImage {
    std::string name;
    std::vector<BYTE> rgba;    // 8-bit red, green, blue, alpha
    std::vector<BYTE> opaque;  // the same with alpha 255: what the DXT1 comparison encodes

    const std::vector<BYTE>& Pixels(bool dxt5) const { return dxt5 ? rgba : opaque; }
};

const std::vector<TestImage>& Images() {
    static const std::vector<TestImage> images = [] {
        std::vector<TestImage> list;
        Random random;
        auto make = [&](const char* name, auto pixel) {
            TestImage image{name, std::vector<BYTE>(kImageSize * kImageSize * 4), {}};
            for (int y = 0; y < kImageSize; ++y) {
                for (int x = 0; x < kImageSize; ++x) {
                    float c[4];
                    pixel(x, y, c);
                    for (int k = 0; k < 4; ++k) {
                        image.rgba[(y * kImageSize + x) * 4 + k] =
                            static_cast<BYTE>(std::clamp(c[k], 0.0f, 1.0f) * 255.0f + 0.5f);
                    }
                }
            }
            image.opaque = image.rgba;
            for (std::size_t i = 3; i < image.opaque.size(); i += 4) image.opaque[i] = 255;
            list.push_back(std::move(image));
        };
        // Photographic-like: smooth tinted gradients with sensor-like noise and soft alpha.
        make("photo sky", [&](int x, int y, float* c) {
            const float t = y / 255.0f, n = (random.Unit() - 0.5f) * 0.03f;
            c[0] = 0.3f + 0.4f * t + n, c[1] = 0.5f + 0.3f * t + n, c[2] = 0.9f - 0.1f * t + n;
            c[3] = 0.5f + 0.5f * std::sin(x * 0.05f);
        });
        make("photo skin", [&](int x, int y, float* c) {
            const float t = 0.5f + 0.4f * std::sin(x * 0.03f) * std::cos(y * 0.04f), n = (random.Unit() - 0.5f) * 0.04f;
            c[0] = 0.9f * t + 0.1f + n, c[1] = 0.65f * t + 0.05f + n, c[2] = 0.5f * t + n;
            c[3] = std::clamp((x - 64) / 128.0f, 0.0f, 1.0f);
        });
        make("photo foliage", [&](int x, int y, float* c) {
            const float t = 0.5f + 0.25f * std::sin(x * 0.21f + std::sin(y * 0.13f) * 3.0f) + 0.2f * std::sin(y * 0.07f);
            const float n = (random.Unit() - 0.5f) * 0.06f;
            c[0] = 0.3f * t + n, c[1] = 0.8f * t + n, c[2] = 0.2f * t + 0.05f + n;
            c[3] = 1.0f;
        });
        // Synthetic: hard-edged shapes in saturated colours, and a hue ramp.
        make("synthetic shapes", [&](int x, int y, float* c) {
            const bool disc = (x - 100) * (x - 100) + (y - 120) * (y - 120) < 60 * 60;
            const bool bar = (x / 16 + y / 16) % 3 == 0;
            c[0] = disc ? 1.0f : 0.1f, c[1] = bar ? 0.9f : 0.2f, c[2] = disc && bar ? 0.0f : 0.7f;
            c[3] = disc ? 1.0f : 0.0f;
        });
        make("synthetic hues", [&](int x, int y, float* c) {
            const float h = x / 256.0f * 6.0f;
            c[0] = std::clamp(std::fabs(h - 3.0f) - 1.0f, 0.0f, 1.0f);
            c[1] = std::clamp(2.0f - std::fabs(h - 2.0f), 0.0f, 1.0f);
            c[2] = std::clamp(2.0f - std::fabs(h - 4.0f), 0.0f, 1.0f);
            c[3] = y / 255.0f;
        });
        return list;
    }();
    return images;
}

// Our encoder fits colours with the channels weighted by their luminance share (red 0.2125, green
// 0.7154, blue 0.0721); libsquish fits with equal weights unless given a metric. The error table also
// lists squish's range fit given our weights, so that both fits can be compared under one weighting.
enum class Encoder { Ours, SquishRange, SquishCluster, SquishRangeLuminance };
const char* const kEncoderNames[] = {"ours", "squish range fit", "squish cluster fit", "squish range, lum."};
float kLuminanceMetric[3] = {0.2125f, 0.7154f, 0.0721f};

// code / 255 for every 8-bit code: the values the 8-bit pixels stand for, looked up rather than
// divided so that the timing of our encoder is not the timing of the caller's conversion.
const std::array<float, 256>& UnitValues() {
    static const std::array<float, 256> table = [] {
        std::array<float, 256> t{};
        for (int k = 0; k < 256; ++k) t[k] = static_cast<float>(k) / 255.0f;
        return t;
    }();
    return table;
}

void Encode(Encoder encoder, bool dxt5, const TestImage& image, std::vector<BYTE>& blocks) {
    const int blockBytes = dxt5 ? 16 : 8;
    blocks.resize(static_cast<std::size_t>(kImageSize / 4) * (kImageSize / 4) * blockBytes);
    if (encoder != Encoder::Ours) {
        const int flags = (dxt5 ? squish::kDxt5 : squish::kDxt1) |
                          (encoder == Encoder::SquishCluster ? squish::kColourClusterFit : squish::kColourRangeFit);
        squish::CompressImage(image.Pixels(dxt5).data(), kImageSize, kImageSize, blocks.data(), flags,
                              encoder == Encoder::SquishRangeLuminance ? kLuminanceMetric : nullptr);
        return;
    }
    const D3DFORMAT format = dxt5 ? D3DFMT_DXT5 : D3DFMT_DXT1;
    BYTE* out = blocks.data();
    const std::array<float, 256>& unit = UnitValues();
    Rgba in[16];
    for (int by = 0; by < kImageSize; by += 4) {
        for (int bx = 0; bx < kImageSize; bx += 4, out += blockBytes) {
            for (int i = 0; i < 16; ++i) {
                const BYTE* p = &image.Pixels(dxt5)[((by + i / 4) * kImageSize + bx + i % 4) * 4];
                in[i] = {unit[p[0]], unit[p[1]], unit[p[2]], unit[p[3]]};
            }
            qm::EncodeDxtBlock(format, in, out);
        }
    }
}

// RMS error (in 8-bit units) over red, green, blue, and alpha for DXT5, decoding every encoder's
// blocks with the same decoder. DXT1 compares the colour of the opaque images.
double RmsError(bool dxt5, const TestImage& image, const std::vector<BYTE>& blocks) {
    const int blockBytes = dxt5 ? 16 : 8;
    double sum = 0.0;
    long count = 0;
    Rgba out[16];
    const BYTE* block = blocks.data();
    for (int by = 0; by < kImageSize; by += 4) {
        for (int bx = 0; bx < kImageSize; bx += 4, block += blockBytes) {
            qm::DecodeDxtBlock(dxt5 ? D3DFMT_DXT5 : D3DFMT_DXT1, block, out);
            for (int i = 0; i < 16; ++i) {
                const BYTE* p = &image.Pixels(dxt5)[((by + i / 4) * kImageSize + bx + i % 4) * 4];
                for (int k = 0; k < (dxt5 ? 4 : 3); ++k) {
                    const float v = k == 0 ? out[i].r : k == 1 ? out[i].g : k == 2 ? out[i].b : out[i].a;
                    const double d = v * 255.0 - p[k];
                    sum += d * d;
                    ++count;
                }
            }
        }
    }
    return count > 0 ? std::sqrt(sum / count) : 0.0;
}

void DxtEncode(benchmark::State& state, Encoder encoder, bool dxt5) {
    std::vector<BYTE> blocks;
    const auto& images = Images();
    for (auto _ : state) {
        for (const TestImage& image : images) Encode(encoder, dxt5, image, blocks);
        benchmark::DoNotOptimize(blocks.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(images.size()) * kImageSize * kImageSize);
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (!run.error_occurred) times[run.benchmark_name()] = run.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

double Ratio(const RatioReporter& reporter, const std::string& baseline, const std::string& measured) {
    auto b = reporter.times.find(baseline), m = reporter.times.find(measured);
    if (b == reporter.times.end() || m == reporter.times.end() || m->second <= 0) return 0.0;
    return b->second / m->second;
}

}  // namespace

int main(int argc, char** argv) {
    // libsquish as packaged runs CompressImage on OpenMP threads, and the per-thread CPU times the
    // ratios are taken from would count only the calling thread's share. Every encoder here runs on
    // one thread, so squish is kept on one as well.
#if QM_BENCH_OPENMP
    omp_set_num_threads(1);
#else
    std::printf("note: built without OpenMP; libsquish may use several threads, and its CPU time is the calling thread's share\n");
#endif
    benchmark::RegisterBenchmark("box 2:1 A8R8G8B8 1024/packed", BoxReduce, 0u);
    benchmark::RegisterBenchmark("box 2:1 A8R8G8B8 1024/float", BoxReduce, qm::FILTER_DITHER);
    for (bool dxt5 : {false, true}) {
        for (Encoder e : {Encoder::Ours, Encoder::SquishRange, Encoder::SquishCluster}) {
            const std::string name = std::string(dxt5 ? "DXT5" : "DXT1") + " encode/" + kEncoderNames[int(e)];
            benchmark::RegisterBenchmark(name.c_str(), DxtEncode, e, dxt5);
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("ratio box 2:1 packed vs float path (goal >= 4): %.2f\n",
                Ratio(reporter, "box 2:1 A8R8G8B8 1024/float", "box 2:1 A8R8G8B8 1024/packed"));
    const double pixels = static_cast<double>(Images().size()) * kImageSize * kImageSize;
    for (bool dxt5 : {false, true}) {
        const char* format = dxt5 ? "DXT5" : "DXT1";
        std::map<int, std::vector<double>> rmsByEncoder;
        for (Encoder e : {Encoder::Ours, Encoder::SquishRange, Encoder::SquishCluster, Encoder::SquishRangeLuminance}) {
            const std::string name = std::string(format) + " encode/" + kEncoderNames[int(e)];
            auto t = reporter.times.find(name);
            const double seconds = t != reporter.times.end() ? t->second * 1e-9 : 0.0;  // adjusted to ns
            if (e == Encoder::SquishRangeLuminance) {
                std::printf("%s %-18s: (error only)\n", format, kEncoderNames[int(e)]);
            } else {
                std::printf("%s %-18s: %.2f MP/s\n", format, kEncoderNames[int(e)],
                            seconds > 0 ? pixels / seconds / 1e6 : 0.0);
            }
            std::vector<BYTE> blocks;
            for (const TestImage& image : Images()) {
                Encode(e, dxt5, image, blocks);
                const double rms = RmsError(dxt5, image, blocks);
                rmsByEncoder[int(e)].push_back(rms);
                std::printf("    %-18s RMS %.3f  PSNR %.2f dB\n", image.name.c_str(), rms,
                            rms > 0 ? 20.0 * std::log10(255.0 / rms) : 99.0);
            }
        }
        std::printf("ratio %s speed ours vs squish cluster fit (goal >= 10): %.2f\n", format,
                    Ratio(reporter, std::string(format) + " encode/squish cluster fit", std::string(format) + " encode/ours"));
        std::printf("ratio %s speed ours vs squish range fit: %.2f\n", format,
                    Ratio(reporter, std::string(format) + " encode/squish range fit", std::string(format) + " encode/ours"));
        for (Encoder e : {Encoder::SquishRange, Encoder::SquishRangeLuminance}) {
            int worse = 0;
            double worst = 0.0;
            const std::vector<double>& ours = rmsByEncoder[int(Encoder::Ours)];
            const std::vector<double>& theirs = rmsByEncoder[int(e)];
            for (std::size_t i = 0; i < ours.size(); ++i) {
                worse += ours[i] > theirs[i] ? 1 : 0;
                worst = std::max(worst, ours[i] / theirs[i]);
            }
            std::printf("%s RMS ours vs %s (goal: no worse): worse on %d of %zu images, worst ratio %.2f\n", format,
                        kEncoderNames[int(e)], worse, ours.size(), worst);
        }
    }
    return 0;
}
