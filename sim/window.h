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
// Closing the window sends the game SIGTERM, as a desktop would, and the
// game stops in order.
#include <string>

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;

namespace sim {

class FrameStore;
class Session;

class Window {
  public:
    Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    ~Window();

    // Opens the window; "" or SDL's reason.
    std::string open();
    // Shows frames and takes keys until the game has ended.
    void run(Session& session, FrameStore& frames);

  private:
    // Waits a little for events and acts on every one that came; true when
    // the window is to be drawn again.
    bool take_events(Session& session);
    void press_key(Session& session, int usage);

    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
    bool full_screen_ = false;
    bool close_asked_ = false;
};

}  // namespace sim
