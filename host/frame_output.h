// frame_output.h: presented frames as the host keeps them: the last frame, PNG files, and the
// recorder that the module's present callback feeds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qm {

class FrameWindow;

// One presented frame: 32-bit ARGB pixels, top row first, rows packed (width pixels per row).
struct Frame {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint32_t> pixels;
};

// Writes frame as an 8-bit RGB PNG; the alpha byte of the back buffer is not significant and is
// dropped. Returns false with *error set when the file cannot be written; a partial file is removed.
bool WritePng(const std::string& path, const Frame& frame, std::string* error);

// The name of presented frame number n (counted from 1) inside folder: folder/frame_00001.png.
std::string FrameFileName(const std::string& folder, std::int64_t n);

// Receives the module's frames through Present. Keeps a copy of the last one, writes frames 1,
// every + 1, 2 * every + 1, ... into folder when folder is not empty, and shows each on window when
// one is given. Failures cannot be reported from inside the module's call, so they are kept until
// TakeError.
class FrameRecorder {
public:
    FrameRecorder(std::string folder, std::int64_t every, FrameWindow* window)
        : folder(std::move(folder)), every(every < 1 ? 1 : every), window(window) {}

    // The present callback handed to qmCreateHostWindow; user is the recorder.
    static void Present(void* user, const std::uint32_t* pixels, std::int32_t width, std::int32_t height,
                        std::int32_t pitchBytes) noexcept;

    std::int64_t PresentedCount() const { return presented; }
    const Frame& LastFrame() const { return last; }
    // The first failure since the previous call, or an empty string.
    std::string TakeError();
    // True once the user closed the window that shows the frames.
    bool CloseRequested() const;

private:
    void Receive(const std::uint32_t* pixels, std::int32_t width, std::int32_t height, std::int32_t pitchBytes);
    void Fail(std::string message);

    std::string folder;
    std::int64_t every;
    FrameWindow* window;
    std::int64_t presented = 0;
    Frame last;
    std::string pendingError;
};

}  // namespace qm
