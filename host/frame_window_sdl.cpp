// frame_window_sdl.cpp: the frame window over SDL2: one streaming texture the size of the frame.
#include <SDL.h>

#include <cstdio>
#include <cstdlib>

#include "host/frame_window.h"

namespace qm {

namespace {

class SdlFrameWindow final : public FrameWindow {
public:
    // interactive: the driver shows windows to a person, who can close them.
    explicit SdlFrameWindow(bool interactive) : interactive(interactive) {}

    ~SdlFrameWindow() override {
        if (texture != nullptr) SDL_DestroyTexture(texture);
        if (renderer != nullptr) SDL_DestroyRenderer(renderer);
        if (window != nullptr) SDL_DestroyWindow(window);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }

    void Show(const Frame& frame) override {
        PumpEvents();
        if (closed || !Fit(frame.width, frame.height)) return;
        // The back buffer's top byte is not significant: the texture format ignores it.
        SDL_UpdateTexture(texture, nullptr, frame.pixels.data(), frame.width * 4);
        Redraw();
    }

    bool Closed() const override { return closed; }

    void WaitUntilClosed() override {
        if (!interactive || closed || window == nullptr) return;  // nobody could close it, or it is gone
        std::fprintf(stderr, "qmhost: the script has ended; close the window (or press Esc) to exit\n");
        SDL_Event event;
        while (!closed && window != nullptr && SDL_WaitEvent(&event)) {
            Handle(event);
            if (event.type == SDL_WINDOWEVENT) Redraw();
        }
    }

private:
    // Makes the window, renderer and texture on the first frame and again when the size changes.
    bool Fit(int width, int height) {
        if (texture != nullptr && width == textureWidth && height == textureHeight) return true;
        if (window == nullptr) {
            window = SDL_CreateWindow("qmhost", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width, height, 0);
            if (window == nullptr) return Give();
            renderer = SDL_CreateRenderer(window, -1, 0);
            if (renderer == nullptr) return Give();
        } else {
            SDL_SetWindowSize(window, width, height);
        }
        if (texture != nullptr) SDL_DestroyTexture(texture);
        texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, width, height);
        if (texture == nullptr) return Give();
        textureWidth = width;
        textureHeight = height;
        return true;
    }

    // A window that cannot be made stops showing frames; the script goes on.
    bool Give() {
        std::fprintf(stderr, "qmhost: cannot show frames: %s\n", SDL_GetError());
        closed = true;
        return false;
    }

    void Redraw() {
        if (texture == nullptr) return;
        SDL_RenderClear(renderer);
        SDL_RenderCopy(renderer, texture, nullptr, nullptr);
        SDL_RenderPresent(renderer);
    }

    void PumpEvents() {
        SDL_Event event;
        while (SDL_PollEvent(&event)) Handle(event);
    }

    void Handle(const SDL_Event& event) {
        if (event.type == SDL_QUIT) closed = true;
        if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE) closed = true;
        if (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE) closed = true;
    }

    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* texture = nullptr;
    int textureWidth = 0;
    int textureHeight = 0;
    bool closed = false;
    bool interactive;
};

}  // namespace

std::unique_ptr<FrameWindow> OpenFrameWindow(std::string* whyNot) {
    // Ctrl-C keeps stopping the host instead of becoming a window event.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        *whyNot = std::string("no display (") + SDL_GetError() + ")";
        return nullptr;
    }
    // Without a display SDL falls back to drivers that show nothing; those count as no display unless
    // the user asked for them by name.
    const char* driver = SDL_GetCurrentVideoDriver();
    const std::string name = driver != nullptr ? driver : "";
    const bool shows = !(name == "offscreen" || name == "dummy" || name.empty());
    if (std::getenv("SDL_VIDEODRIVER") == nullptr && !shows) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        *whyNot = "no display (SDL found only its '" + name + "' video driver)";
        return nullptr;
    }
    return std::make_unique<SdlFrameWindow>(shows);
}

}  // namespace qm
