#pragma once
// The desktop window: the drawing area of the page on display, scaled to
// the window with its aspect kept, and the keyboard as the goggles' buttons
// (sim/keys.h):
//
//   Left / Right        LEFT / RIGHT
//   Space, Enter        MIDDLE
//   Escape, P           BACK
//   Q                   PLAY (hold 3 s to quit)
//   F11, F              full screen on and off
//
// While a replay plays (the game's keys doing nothing):
//
//   Space               pause, play on
//   Left / Right        5 s back / on (back: the window ends, and the
//                       replay runs again from its start: restart_from_ms)
//   + / -               faster, slower (0.25x to 8x)
//
// Closing the window sends the game SIGTERM, as a desktop would, and the
// game stops in order.
#include <cstdint>
#include <string>

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;

namespace sim {

class FrameStore;
class ReplayWatch;
class Session;

class Window {
  public:
    Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    ~Window();

    // Opens the window; "" or SDL's reason.
    std::string open();
    // Shows frames and takes keys until the game has ended; watch: a
    // replay's pace, which the keys set, or null.
    void run(Session& session, FrameStore& frames, ReplayWatch* watch = nullptr);
    // A replay's Left asked to play it again from its start up to this
    // moment (one game per process); -1 when it did not.
    std::int64_t restart_from_ms() const { return restart_from_ms_; }

  private:
    // Waits a little for events and acts on every one that came; true when
    // the window is to be drawn again.
    bool take_events(Session& session);
    void press_key(Session& session, int usage);
    // A replay's keys; false for any other key.
    bool watch_key(int usage);

    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
    bool full_screen_ = false;
    bool close_asked_ = false;
    ReplayWatch* watch_ = nullptr;
    std::int64_t restart_from_ms_ = -1;
};

}  // namespace sim
