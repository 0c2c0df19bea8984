#pragma once
// One run of the unchanged game on the emulated goggles, without any window
// or sound device: prepares the run's files (sim/run_files.h), sets the
// goggles up, starts the game on its own thread, hands each frame shown to
// the front end, the frame log and the screenshots, keeps a glance at the
// game, and reports how the game ended. Who holds the buttons is the
// pilot's (sim/pilot.h). The front ends (the desktop window, the web page's
// worker) sit on top of it; headless runs use it alone.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "devices/button_code.h"
#include "display/display.h"
#include "shell/main_loop.h"
#include "sim/frame_log.h"
#include "sim/input_arbiter.h"
#include "sim/options.h"
#include "sim/pilot.h"
#include "sim/run_files.h"
#include "sim/screenshots.h"

namespace sim {

class BuzzerWave;
class FrameStore;

class Session {
  public:
    Session() = default;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Prepares the run's files and inputs as the options say, then resets
    // the emulated goggles and sets them up: the clock, the goggles' files,
    // the HDMI chip's video mode, the replay. with_window: a window will
    // show the frames (the best score is then kept between runs unless
    // --data says otherwise). best: what the best-score file starts with
    // ("" leaves it as it is). Answers "" or the reason the run cannot
    // start. Call once per process.
    std::string prepare(const SimOptions& options, bool with_window, const std::string& best = "");

    // Before start(): every page the display pans to goes into frames too.
    void show_frames_in(FrameStore* frames) { frames_ = frames; }
    // Before start(): the buzzer's changes go to wave.
    void sound_through(BuzzerWave* wave);

    // Starts the game on its own thread. False if the thread cannot start.
    bool start();
    bool finished() const { return finished_.load(std::memory_order_acquire); }
    // Waits for the game, reports screenshots that were never taken, writes
    // the recorded replay, tidies up, and answers the game's exit status.
    int finish();

    // From any thread, the player's input, to the pilot (sim/pilot.h).
    static constexpr int kNoSteering = Pilot::kNoSteering;
    void press(InputSource source, int key, ButtonCode button) {
        pilot_.press(source, key, button);
    }
    void release(InputSource source, int key) { pilot_.release(source, key); }
    void steer_to(int x) { pilot_.steer_to(x); }
    void set_demo(bool on) { pilot_.set_demo(on); }
    void pause_if_playing() { pilot_.pause_if_playing(); }

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
        long presses = 0;   // presses the game has taken from the arbiter
        bool demo = false;  // the built-in player plays now
    };
    Glance glance() const;

    // In a recorded run: the replay of the run up to the end of its latest
    // game (empty before one has ended), and how many games have ended.
    std::vector<std::uint8_t> last_game_replay() const;
    int games_kept() const;

  private:
    // The buzzer's changes, noted one at a time.
    struct BuzzerHook {
        std::mutex lock;
        BuzzerWave* wave = nullptr;
    };

    void set_up_goggles(const SimOptions& options, bool with_window);
    static void* run_game(void* self);
    static void on_pan(void* self);
    static void on_end(void* self);
    static void on_buzzer_change(void* self);
    void publish_frame(int page);
    void take_glance();
    void keep_game_replay();
    bool write_replay() const;
    // The game's clock is the emulator's own (virtual time, a replay).
    bool game_clock_is_emulated() const;

    SimOptions options_;  // as given
    RunFiles files_;
    std::vector<const char*> argv_;
    std::int64_t base_ms_ = 0;  // the game's clock when it was started

    // The game's records, made with the session and read between frames.
    std::unique_ptr<RunState> run_ = std::make_unique<RunState>();
    std::unique_ptr<Display> display_ = std::make_unique<Display>();
    Pilot pilot_{*run_};

    Screenshots shots_;
    FrameLog frame_log_;
    FrameStore* frames_ = nullptr;
    std::atomic<long> frames_shown_{0};
    // The game thread's, in the pan hook: the page whose picture was
    // published last (-1: none), and where the new one differs from it.
    int published_page_ = -1;
    Damage published_changes_;
    BuzzerHook buzzer_;

    // Written at each pan on the game's thread, read by the front end.
    mutable std::mutex glance_lock_;
    Glance glance_;
    std::vector<std::uint8_t> last_game_replay_;
    int games_kept_ = 0;
    bool game_over_seen_ = false;  // the game's thread only

    std::uintptr_t thread_ = 0;
    std::atomic<bool> started_{false};
    std::atomic<bool> finished_{false};
    int status_ = 1;  // the game's exit status; 1 if it never ran
};

}  // namespace sim
