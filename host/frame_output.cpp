// frame_output.cpp: PNG writing with libpng and the recorder that keeps, writes and shows frames.
#include "host/frame_output.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <utility>

#include "host/frame_window.h"

namespace qm {

namespace {

struct PngErrorState {
    char message[256];
};

void OnPngError(png_structp png, png_const_charp message) {
    auto* state = static_cast<PngErrorState*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", message);
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// Encodes packed RGB rows into file. Only trivially destructible objects live here, so libpng may
// leave through longjmp on an error.
bool EncodeRgb(std::FILE* file, const std::uint8_t* rgb, std::uint32_t width, std::uint32_t height,
               PngErrorState* state) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, state, OnPngError, OnPngWarning);
    if (png == nullptr) {
        std::snprintf(state->message, sizeof state->message, "out of memory");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        std::snprintf(state->message, sizeof state->message, "out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (std::uint32_t y = 0; y < height; ++y) png_write_row(png, rgb + static_cast<std::size_t>(y) * width * 3);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

bool WritePng(const std::string& path, const Frame& frame, std::string* error) {
    const std::size_t width = frame.width > 0 ? static_cast<std::size_t>(frame.width) : 0;
    const std::size_t height = frame.height > 0 ? static_cast<std::size_t>(frame.height) : 0;
    if (width == 0 || height == 0 || frame.pixels.size() != width * height) {
        *error = "cannot write " + path + ": the frame is empty";
        return false;
    }
    std::vector<std::uint8_t> rgb(width * height * 3);
    for (std::size_t i = 0; i < width * height; ++i) {
        const std::uint32_t argb = frame.pixels[i];
        rgb[i * 3 + 0] = static_cast<std::uint8_t>(argb >> 16);
        rgb[i * 3 + 1] = static_cast<std::uint8_t>(argb >> 8);
        rgb[i * 3 + 2] = static_cast<std::uint8_t>(argb);
    }

    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    PngErrorState state{};
    bool encoded = EncodeRgb(file, rgb.data(), static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                             &state);
    int writeErrno = std::ferror(file) ? errno : 0;
    bool closed = std::fclose(file) == 0;
    if (!closed && writeErrno == 0) writeErrno = errno;
    if (encoded && closed && writeErrno == 0) return true;

    std::remove(path.c_str());
    *error = "cannot write " + path + ": " + (writeErrno != 0 ? std::strerror(writeErrno) : state.message);
    return false;
}

std::string FrameFileName(const std::string& folder, std::int64_t n) {
    char name[40];
    std::snprintf(name, sizeof name, "frame_%05lld.png", static_cast<long long>(n));
    return (std::filesystem::path(folder) / name).string();
}

void FrameRecorder::Present(void* user, const std::uint32_t* pixels, std::int32_t width, std::int32_t height,
                            std::int32_t pitchBytes) noexcept {
    auto* recorder = static_cast<FrameRecorder*>(user);
    if (recorder == nullptr) return;
    // The call comes from inside the module: nothing may be thrown back into it.
    try {
        recorder->Receive(pixels, width, height, pitchBytes);
    } catch (const std::exception& e) {
        recorder->Fail(std::string("cannot keep frame: ") + e.what());
    }
}

std::string FrameRecorder::TakeError() { return std::exchange(pendingError, std::string()); }

bool FrameRecorder::CloseRequested() const { return window != nullptr && window->Closed(); }

void FrameRecorder::Fail(std::string message) {
    if (pendingError.empty()) pendingError = std::move(message);
}

void FrameRecorder::Receive(const std::uint32_t* pixels, std::int32_t width, std::int32_t height,
                            std::int32_t pitchBytes) {
    if (pixels == nullptr || width <= 0 || height <= 0 || pitchBytes / 4 < width || pitchBytes % 4 != 0) {
        Fail("the module presented a malformed frame (" + std::to_string(width) + "x" + std::to_string(height) +
             ", pitch " + std::to_string(pitchBytes) + ")");
        return;
    }
    ++presented;
    const std::size_t rowWords = static_cast<std::size_t>(width);
    const std::size_t pitchWords = static_cast<std::size_t>(pitchBytes) / 4;
    last.width = width;
    last.height = height;
    last.pixels.resize(rowWords * static_cast<std::size_t>(height));
    for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y)
        std::memcpy(&last.pixels[y * rowWords], pixels + y * pitchWords, rowWords * 4);

    if (!folder.empty() && (presented - 1) % every == 0) {
        std::string error;
        if (!WritePng(FrameFileName(folder, presented), last, &error)) Fail("frame " + std::to_string(presented) + ": " + error);
    }
    if (window != nullptr) window->Show(last);
}

}  // namespace qm
