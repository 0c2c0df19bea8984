#include "sim/window.h"

#include <SDL.h>
#include <signal.h>
#include <unistd.h>

#include "sim/frame_store.h"
#include "sim/keys.h"
#include "sim/replay_watch.h"
#include "sim/session.h"

namespace sim {
namespace {

// The window names keys as the key table does.
static_assert(SDL_SCANCODE_A == 0x04 && SDL_SCANCODE_KP_ENTER == 0x58,
              "SDL's scancodes are the usages of the USB keyboard page");

// How long the loop waits for an event before it looks for a new frame;
// the game draws one every 33 ms.
constexpr int kEventWaitMs = 4;
// How far a replay's Right key takes the game.
constexpr std::int64_t kSkipMs = 5000;
// Fits the window into the desktop's usable area, at most at 1:1.
constexpr float kDesktopShare = 0.9f;

// The game takes SIGTERM in order only once its handler is in place;
// before that the signal would end the process at once.
bool game_takes_sigterm() {
    struct sigaction current = {};
    return sigaction(SIGTERM, nullptr, &current) == 0 && current.sa_handler != SIG_DFL;
}

}  // namespace

Window::~Window() {
    if (texture_)
        SDL_DestroyTexture(texture_);
    if (renderer_)
        SDL_DestroyRenderer(renderer_);
    if (window_)
        SDL_DestroyWindow(window_);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

std::string Window::open() {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
        return SDL_GetError();
    int width = kAreaWidth;
    int height = kAreaHeight;
    SDL_Rect usable;
    if (SDL_GetDisplayUsableBounds(0, &usable) == 0 && usable.w > 0 && usable.h > 0) {
        float fit = SDL_min(kDesktopShare * static_cast<float>(usable.w) / kAreaWidth,
                            kDesktopShare * static_cast<float>(usable.h) / kAreaHeight);
        if (fit < 1.0f) {
            width = static_cast<int>(kAreaWidth * fit);
            height = static_cast<int>(kAreaHeight * fit);
        }
    }
    window_ = SDL_CreateWindow("vmxbrikon", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width,
                               height, SDL_WINDOW_RESIZABLE);
    if (!window_)
        return SDL_GetError();
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
    renderer_ = SDL_CreateRenderer(window_, -1, 0);
    if (!renderer_)
        return SDL_GetError();
    // Letterboxed: the picture keeps its 16:9 at any window size.
    SDL_RenderSetLogicalSize(renderer_, kAreaWidth, kAreaHeight);
    texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                 kAreaWidth, kAreaHeight);
    if (!texture_)
        return SDL_GetError();
    return "";
}

void Window::run(Session& session, FrameStore& frames, ReplayWatch* watch) {
    watch_ = watch;
    bool close_sent = false;
    bool have_picture = false;
    while (!session.finished() && restart_from_ms_ < 0) {
        bool redraw = take_events(session);
        if (close_asked_ && !close_sent && game_takes_sigterm()) {
            kill(getpid(), SIGTERM);
            close_sent = true;
        }

        bool fresh = false;
        const std::uint32_t* area = frames.take(&fresh);
        session.take_due_screenshots(area);
        if (area && fresh) {
            SDL_UpdateTexture(texture_, nullptr, area, kAreaWidth * 4);
            have_picture = true;
            redraw = true;
        }
        if (redraw) {
            SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
            SDL_RenderClear(renderer_);
            if (have_picture)
                SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
            SDL_RenderPresent(renderer_);
        }
    }
}

bool Window::take_events(Session& session) {
    bool redraw = false;
    SDL_Event event;
    for (bool any = SDL_WaitEventTimeout(&event, kEventWaitMs) != 0; any;
         any = SDL_PollEvent(&event) != 0) {
        switch (event.type) {
            case SDL_QUIT:
                close_asked_ = true;
                break;
            case SDL_KEYDOWN:
                if (watch_key(event.key.keysym.scancode))
                    break;
                if (!event.key.repeat)
                    press_key(session, event.key.keysym.scancode);
                break;
            case SDL_KEYUP:
                session.release(InputSource::Keys, event.key.keysym.scancode);
                break;
            case SDL_WINDOWEVENT:
                // Without the keyboard nobody is watching: every key is
                // let go, and a ball in play stops.
                if (event.window.event == SDL_WINDOWEVENT_FOCUS_LOST)
                    session.pause_if_playing();
                redraw = true;
                break;
            default:
                break;
        }
    }
    return redraw;
}

bool Window::watch_key(int usage) {
    if (watch_ == nullptr)
        return false;
    switch (usage) {
        case SDL_SCANCODE_SPACE:
            watch_->toggle_pause();
            return true;
        case SDL_SCANCODE_RIGHT:
            watch_->skip_ahead(kSkipMs);
            return true;
        case SDL_SCANCODE_LEFT: {
            const std::int64_t back_ms = watch_->game_ms() - kSkipMs;
            restart_from_ms_ = back_ms > 0 ? back_ms : 0;
            return true;
        }
        case SDL_SCANCODE_EQUALS:
        case SDL_SCANCODE_KP_PLUS:
            watch_->faster();
            return true;
        case SDL_SCANCODE_MINUS:
        case SDL_SCANCODE_KP_MINUS:
            watch_->slower();
            return true;
        default:
            return false;
    }
}

void Window::press_key(Session& session, int usage) {
    const KeyBinding* binding = key_binding(usage);
    if (binding == nullptr)
        return;
    if (binding->button == kFullScreenKey) {
        full_screen_ = !full_screen_;
        SDL_SetWindowFullscreen(window_, full_screen_ ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
    } else {
        session.press(InputSource::Keys, usage, binding->button);
    }
}

}  // namespace sim
