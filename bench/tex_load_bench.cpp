// tex_load_bench.cpp: a 1024 x 1024 PNG (RGBA) and a 1024 x 1024 JPEG (colour) loaded into managed
// textures with their full mip chains on the software device, against decoding the same files with
// plain libpng and libjpeg calls in the same run; printed as times and load/decode ratios.
#include <benchmark/benchmark.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "library/tex/texture_creation.h"
#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/standalone_device.h"
#include "tests/tex/image_writers.h"

// After the platform headers: libjpeg's headers define TRUE and FALSE as macros.
#include <jpeglib.h>
#include <png.h>

namespace {

using qm::test::Bytes;

constexpr std::uint32_t kSide = 1024;

// A picture with smooth gradients, a few hard edges and mild noise, so that both codecs see
// something like a photograph or a painted texture rather than a flat colour.
Bytes Picture(int channels) {
    Bytes samples(static_cast<std::size_t>(kSide) * kSide * channels);
    std::uint32_t noise = 12345;
    for (std::uint32_t y = 0; y < kSide; ++y) {
        for (std::uint32_t x = 0; x < kSide; ++x) {
            noise = noise * 1664525u + 1013904223u;
            int jitter = static_cast<int>(noise >> 29) - 4;
            bool band = ((x / 96) + (y / 128)) % 3 == 0;
            int values[4] = {static_cast<int>(x * 255 / kSide) + jitter, static_cast<int>(y * 255 / kSide) + jitter,
                             band ? 200 + jitter : static_cast<int>((x + y) * 127 / kSide) + jitter,
                             band ? 160 : 255};
            for (int c = 0; c < channels; ++c) {
                samples[(static_cast<std::size_t>(y) * kSide + x) * channels + c] =
                    static_cast<std::uint8_t>(values[c] < 0 ? 0 : values[c] > 255 ? 255 : values[c]);
            }
        }
    }
    return samples;
}

const Bytes& PngFile() {
    static const Bytes file = [] {
        qm::test::PngFile layout;
        layout.width = kSide;
        layout.height = kSide;
        layout.colorType = 6;
        layout.rows = Picture(4);
        return qm::test::WritePng(layout);
    }();
    return file;
}

const Bytes& JpegFile() {
    static const Bytes file = qm::test::WriteJpeg(kSide, kSide, 3, Picture(3), 90);
    return file;
}

ComPtr<IDirect3DDevice9> MakeDevice() {
    ComPtr<IDirect3DDevice9> device = qm::d3d9::CreateStandaloneDevice(64, 64);
    if (!device) std::abort();
    return device;
}

void LoadTexture(benchmark::State& state, const Bytes* file) {
    ComPtr<IDirect3DDevice9> device = MakeDevice();
    for (auto _ : state) {
        ComPtr<IDirect3DTexture9> texture;
        if (FAILED(qm::CreateTextureFromFileInMemory(device.Get(), file->data(), static_cast<UINT>(file->size()),
                                                     texture.ReleaseAndGetAddressOf())) ||
            texture->GetLevelCount() != 11) {
            state.SkipWithError("texture creation failed");
            return;
        }
        benchmark::DoNotOptimize(texture.Get());
    }
}

// libpng straight from memory into 8-bit RGBA rows.
struct PngSource {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t offset;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t length) {
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (source->size - source->offset < length) png_error(png, "truncated");
    std::memcpy(out, source->data + source->offset, length);
    source->offset += length;
}

// Each decode makes a new image, as a load makes a new texture: the output is allocated per run.
void DecodePng(benchmark::State& state) {
    const Bytes& file = PngFile();
    std::vector<png_bytep> rows(kSide);
    for (auto _ : state) {
        std::unique_ptr<std::uint8_t[]> pixels(new std::uint8_t[static_cast<std::size_t>(kSide) * kSide * 4]);
        for (std::uint32_t y = 0; y < kSide; ++y) rows[y] = pixels.get() + static_cast<std::size_t>(y) * kSide * 4;
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        if (setjmp(png_jmpbuf(png))) {
            png_destroy_read_struct(&png, &info, nullptr);
            state.SkipWithError("libpng failed");
            return;
        }
        PngSource source{file.data(), file.size(), 0};
        png_set_read_fn(png, &source, ReadFromMemory);
        png_read_info(png, info);
        png_read_image(png, rows.data());
        png_read_end(png, nullptr);
        png_destroy_read_struct(&png, &info, nullptr);
        benchmark::DoNotOptimize(pixels.get());
    }
}

// libjpeg straight from memory into 8-bit RGB rows.
struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void OnJpegError(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1); }

void DecodeJpeg(benchmark::State& state) {
    const Bytes& file = JpegFile();
    for (auto _ : state) {
        std::unique_ptr<std::uint8_t[]> pixels(new std::uint8_t[static_cast<std::size_t>(kSide) * kSide * 3]);
        jpeg_decompress_struct info{};
        JpegErrors errors{};
        info.err = jpeg_std_error(&errors.manager);
        errors.manager.error_exit = OnJpegError;
        if (setjmp(errors.jump)) {
            jpeg_destroy_decompress(&info);
            state.SkipWithError("libjpeg failed");
            return;
        }
        jpeg_create_decompress(&info);
        jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
        jpeg_read_header(&info, TRUE);
        info.out_color_space = JCS_RGB;
        jpeg_start_decompress(&info);
        while (info.output_scanline < info.output_height) {
            JSAMPROW row = pixels.get() + static_cast<std::size_t>(info.output_scanline) * kSide * 3;
            jpeg_read_scanlines(&info, &row, 1);
        }
        jpeg_finish_decompress(&info);
        jpeg_destroy_decompress(&info);
        benchmark::DoNotOptimize(pixels.get());
    }
}

// Prints as the console reporter does and keeps each run's time per iteration.
class TimeReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (!run.error_occurred) times[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

void PrintRatio(const TimeReporter& reporter, const char* load, const char* decode, double goal) {
    auto loaded = reporter.times.find(load);
    auto decoded = reporter.times.find(decode);
    if (loaded == reporter.times.end() || decoded == reporter.times.end() || decoded->second <= 0) return;
    std::printf("ratio %s / %s: %.2f (goal at most %.1f)\n", load, decode, loaded->second / decoded->second, goal);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::RegisterBenchmark("LoadPngTexture", LoadTexture, &PngFile())->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("DecodePngWithLibpng", DecodePng)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("LoadJpegTexture", LoadTexture, &JpegFile())->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("DecodeJpegWithLibjpeg", DecodeJpeg)->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    TimeReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    PrintRatio(reporter, "LoadPngTexture", "DecodePngWithLibpng", 1.5);
    PrintRatio(reporter, "LoadJpegTexture", "DecodeJpegWithLibjpeg", 1.4);
    return 0;
}
