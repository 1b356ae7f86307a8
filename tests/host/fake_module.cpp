// fake_module.cpp: a stand-in for quillmere.hpi in the host's tests: a few exports with the four-word
// signature that record what they receive, and host windows whose frames carry a known pattern.
#include "quillmere/quillmere.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

struct Window {
    QmPresentFn callback;
    void* user;
};

std::map<std::int32_t, Window> windows;
std::int32_t nextWindow = 100;
std::int32_t screenWidth = 0;
std::int32_t screenHeight = 0;
std::int32_t screenWindow = 0;
std::int32_t framesPresented = 0;
QmWord recordedWords[4] = {};
std::string recordedText;

// Unloading is visible on standard error, so a test can see when the host dlcloses the module.
struct UnloadNotice {
    ~UnloadNotice() { std::fputs("fake module unloaded\n", stderr); }
} unloadNotice;

}  // namespace

QM_API int32_t qmCreateHostWindow(QmPresentFn callback, void* user) {
    if (callback == nullptr) return 0;
    windows[nextWindow] = Window{callback, user};
    return nextWindow++;
}

QM_API void qmDestroyHostWindow(int32_t id) { windows.erase(id); }

// Reads words 1, 2 and 13 of HostWindowInfo; -1 when there is no record or word 13 names no window.
QM_API int32_t QM_CALL Init(QmWord info, QmWord, QmWord, QmWord) {
    const auto* words = reinterpret_cast<const std::int32_t*>(info);
    if (words == nullptr || windows.count(words[13]) == 0) return -1;
    screenWidth = words[1];
    screenHeight = words[2];
    screenWindow = words[13];
    return 0;
}

// Presents frame n: pixel (x, y) = 0x7F000000 | x << 16 | y << 8 | n, in rows padded by three words of
// 0xDEADBEEF. Returns n.
QM_API int32_t QM_CALL EndScene(QmWord, QmWord, QmWord, QmWord) {
    ++framesPresented;
    auto window = windows.find(screenWindow);
    if (window == windows.end()) return framesPresented;
    const std::int32_t pitchWords = screenWidth + 3;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(pitchWords) * screenHeight, 0xDEADBEEFu);
    for (std::int32_t y = 0; y < screenHeight; ++y)
        for (std::int32_t x = 0; x < screenWidth; ++x)
            pixels[static_cast<std::size_t>(y) * pitchWords + x] =
                0x7F000000u | (x & 0xFF) << 16 | (y & 0xFF) << 8 | (framesPresented & 0xFF);
    window->second.callback(window->second.user, pixels.data(), screenWidth, screenHeight, pitchWords * 4);
    return framesPresented;
}

// Records the four words as they arrived; returns -7.
QM_API int32_t QM_CALL SetBgColor(QmWord w1, QmWord w2, QmWord w3, QmWord w4) {
    recordedWords[0] = w1;
    recordedWords[1] = w2;
    recordedWords[2] = w3;
    recordedWords[3] = w4;
    return -7;
}

// Writes the recorded words into eight 32-bit words: the low half of each, then its high half.
QM_API int32_t QM_CALL GetCaps(QmWord out, QmWord, QmWord, QmWord) {
    auto* words = reinterpret_cast<std::int32_t*>(out);
    if (words == nullptr) return -1;
    for (int i = 0; i < 4; ++i) {
        const auto bits = static_cast<std::uint64_t>(recordedWords[i]);
        words[2 * i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
        words[2 * i + 1] = static_cast<std::int32_t>(static_cast<std::uint32_t>(bits >> 32));
    }
    return 0;
}

// Keeps the zero-terminated string of word 2; returns its length.
QM_API int32_t QM_CALL LoadModel(QmWord, QmWord text, QmWord, QmWord) {
    const char* chars = reinterpret_cast<const char*>(text);
    if (chars == nullptr) return -1;
    recordedText = chars;
    return static_cast<std::int32_t>(recordedText.size());
}

// Copies the kept string, zero-terminated, into the buffer of word 4.
QM_API int32_t QM_CALL GetFrameNameByIndex(QmWord, QmWord, QmWord, QmWord buffer) {
    char* out = reinterpret_cast<char*>(buffer);
    if (out == nullptr) return -1;
    std::memcpy(out, recordedText.c_str(), recordedText.size() + 1);
    return 0;
}
