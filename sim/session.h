#pragma once
// One run of the unchanged game on the emulated goggles, without any window
// or sound device: sets the goggles up, starts the game on its own thread,
// plays the script and the autoplay through the emulated buttons, saves the
// screenshots, and reports how the game ended. The front end (window,
// keyboard, sound) sits on top of it; headless runs use it alone.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "devices/button_code.h"
#include "display/display.h"
#include "shell/main_loop.h"
#include "sim/autoplay.h"
#include "sim/input_arbiter.h"
#include "sim/options.h"
#include "sim/script.h"

namespace sim {

class BuzzerWave;
class FrameStore;

class Session {
  public:
    // Resets the emulated goggles and prepares them as the options say: the
    // clock, the goggles' files, the HDMI chip's video mode, the script.
    // with_window: a window will show the frames (the best score is then
    // kept between runs unless --data says otherwise). Answers "" or the
    // reason the run cannot start. Call once per process.
    std::string prepare(const SimOptions& options, bool with_window);

    // Before start(): every page the display pans to goes into frames too.
    void show_frames_in(FrameStore* frames);
    // Before start(): the buzzer's changes go to wave.
    void sound_through(BuzzerWave* wave);

    // Starts the game on its own thread. False if the thread cannot start.
    bool start();
    bool finished() const { return finished_.load(std::memory_order_acquire); }
    // Waits for the game, reports screenshots that were never taken, tidies
    // up, and answers the game's exit status.
    int finish();

    // From any thread: a player's button went down or up (key names it
    // within its source). The session's one InputArbiter turns these into the readings the game
    // gets.
    void press(InputSource source, int key, ButtonCode button) {
        buttons_.press(source, key, button);
    }
    void release(InputSource source, int key) { buttons_.release(source, key); }

    // From any thread: the paddle is steered towards x (a pixel column of
    // the drawing area): LEFT or RIGHT is held until its centre is near.
    // kNoSteering: the pointer let go.
    static constexpr int kNoSteering = -1;
    void steer_to(int x) { steer_x_.store(x); }

    // From any thread, in a run prepared with the autoplay: the built-in
    // player plays (a demo), or stands back until it is asked again (the
    // player has taken over).
    void set_autoplay(bool on) { autoplay_on_.store(on); }

    // Real time only, from the front end's thread: saves the screenshots
    // that are due, of area, the picture on display now (1280 x 720 words,
    // taken from the FrameStore given to show_frames_in; nullptr before the
    // first frame).
    void take_due_screenshots(const std::uint32_t* area);
    bool screenshots_from_front_end() const;

    // Milliseconds since the game was started, on the game's clock (called
    // from the front end's thread: it does not run the clock's actions).
    std::int64_t elapsed_ms() const;

    // Game frames shown so far (pans to a drawing page).
    long frames_shown() const { return frames_shown_.load(std::memory_order_relaxed); }

    // The game as the latest shown frame had it, for a front end to tell
    // the player (read from any thread).
    struct Glance {
        int phase = 0;  // a Phase
        bool paused = false;
        int score = 0;
        int best = 0;
        int level = 0;
        int lives = 0;
        int paddle_x = 0;  // the paddle's centre, in whole pixels
        // The built-in player held a button in this game (since it left the
        // title screen): its score is not the player's own.
        bool demo_played = false;
        long presses = 0;  // presses the game has taken from the arbiter
    };
    Glance glance() const;

    // From any thread: let go of every button and pause the game the way
    // BACK does, but only if a ball is in play and the game is not paused
    // already (a window that is no longer seen or has lost the keyboard,
    // where a life could be lost unwatched).
    void pause_if_playing() {
        steer_x_.store(kNoSteering);
        buttons_.release_all();
        pause_wanted_.store(true);
    }

    const std::string& data_dir() const { return data_dir_; }

    // In a recorded run: the replay of the run up to the end of its latest
    // game (empty before one has ended), and how many games have ended.
    std::vector<std::uint8_t> last_game_replay() const;
    int games_kept() const {
        std::lock_guard<std::mutex> hold(glance_lock_);
        return games_kept_;
    }

  private:
    static void* run_game(void* self);
    static void on_pan(void* self);
    static void on_script_step(void* self);
    static void on_autoplay_step(void* self);
    static void on_screenshot(void* self);
    static void on_end(void* self);

    static void on_sleep(std::int64_t wake_ns);
    void take_glance();
    void carry_out_pause();
    void steer();
    void update_buttons(std::int64_t now_ms, bool on_main_thread);
    bool save_screenshot(std::int64_t at_ms, const std::uint32_t* area, std::size_t row_pixels);
    bool on_game_thread() const;
    std::int64_t real_ms() const;
    // The game's clock is the emulator's own (virtual time, a replay).
    bool game_clock_is_emulated() const;
    bool write_replay();
    void keep_game_replay();

    SimOptions options_;
    std::vector<ScriptEvent> script_;
    std::size_t next_event_ = 0;
    std::vector<std::string> argv_text_;
    std::vector<const char*> argv_;
    std::string data_dir_;
    bool temporary_data_ = false;
    std::int64_t base_ms_ = 0;  // the game's clock when it was started

    FrameStore* frames_ = nullptr;
    std::atomic<long> frames_shown_{0};
    // The game thread's, in the pan hook: the page whose picture was
    // published last (-1: none), and where the new one differs from it.
    int published_page_ = -1;
    Damage published_changes_;
    std::size_t next_shot_ = 0;

    InputArbiter buttons_;
    std::atomic<int> steer_x_{kNoSteering};
    ButtonCode steering_ = kButtonNone;  // the game's thread only

    AutoplayState autoplay_;
    std::atomic<bool> autoplay_on_{true};
    std::int64_t next_autoplay_ms_ = 0;
    bool demo_played_ = false;  // the game's thread only

    // Written at each pan on the game's thread, read by the front end.
    mutable std::mutex glance_lock_;
    Glance glance_;
    std::vector<std::uint8_t> last_game_replay_;
    int games_kept_ = 0;
    bool game_over_seen_ = false;  // the game's thread only

    std::FILE* frame_log_ = nullptr;  // --frame-log, written at each frame

    std::atomic<bool> pause_wanted_{false};

    // The game's records, made with the session and read by the autoplay
    // between frames.
    std::unique_ptr<RunState> run_ = std::make_unique<RunState>();
    std::unique_ptr<Display> display_ = std::make_unique<Display>();

    std::uintptr_t thread_ = 0;
    std::atomic<bool> started_{false};
    std::atomic<std::uintptr_t> game_thread_id_{0};
    std::atomic<bool> finished_{false};
    int status_ = 1;  // the game's exit status; 1 if it never ran
};

}  // namespace sim
