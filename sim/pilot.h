#pragma once
// Who holds the goggles' buttons in a run: the player's own sources (keys,
// on-screen buttons, pointer steering, a gamepad), a pause asked for by a
// front end, the script and the built-in player. Each says what it holds
// to the one InputArbiter, whose reading the emulated ADC takes at the
// game's sleeps.
//
// The pilot also keeps the demo: whether the built-in player plays, and
// whether it played in the game on screen, whose points are then not the
// player's own. A demo ends when the player presses a button or steers; a
// built-in player asked for on the command line plays the whole run and
// only stands back while someone else holds a button.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "devices/button_code.h"
#include "shell/main_loop.h"
#include "sim/autoplay.h"
#include "sim/input_arbiter.h"
#include "sim/options.h"
#include "sim/script.h"

namespace sim {

class Pilot {
  public:
    // The pointer let go: steering stops.
    static constexpr int kNoSteering = -1;

    // run: the game's records, read between its frames.
    explicit Pilot(const RunState& run) : run_(run) {}
    Pilot(const Pilot&) = delete;
    Pilot& operator=(const Pilot&) = delete;

    // Before the run: reads the script, and takes the built-in player if
    // the options ask for it. A replay's run takes neither: its buttons are
    // the recorded ones. Answers "" or why the script cannot be read.
    std::string prepare(const SimOptions& options, bool replaying);
    // The script's last step, in ms after the start; -1 without a script.
    std::int64_t last_step_ms() const { return script_.empty() ? -1 : script_.back().at_ms; }

    // After the emulator's reset, with the game's clock at the start
    // (base_ms): the buttons follow the game's sleeps from now on, and the
    // script and the built-in player act on the game's clock.
    void start(std::int64_t base_ms);
    // First thing on the game's main thread, where the game's accepted
    // button can be read.
    void game_thread_started() { game_thread_.store(emu_thread_self()); }

    // From any thread: a player's button went down or up (key names it
    // within its source); a press of the player's own ends a demo.
    void press(InputSource source, int key, ButtonCode button);
    void release(InputSource source, int key) { buttons_.release(source, key); }
    // From any thread: the paddle is steered towards x (a pixel column of
    // the drawing area): LEFT or RIGHT is held until its centre is near.
    // Steering ends a demo; kNoSteering lets go.
    void steer_to(int x);
    // From any thread, in a run prepared with the built-in player: it plays
    // a demo, or stands by until asked again.
    void set_demo(bool on) { mode_.store(on ? Mode::Demo : Mode::Off); }
    // From any thread: let go of every button and pause the game the way
    // BACK does, but only if a ball is in play and the game is not paused
    // already (a window that is no longer seen or has lost the keyboard).
    void pause_if_playing();

    // Whether the built-in player plays now (any thread).
    bool playing() const { return mode_.load() != Mode::Off; }
    // On the game's main thread: the built-in player held a button in this
    // game (since it left the title screen).
    bool demo_played() const { return demo_played_; }
    // Presses the game has taken so far (any thread).
    long presses() const { return buttons_.presses(); }

    // On the game's main thread, between its frames: carries out a pause
    // asked for.
    void between_frames();

  private:
    enum class Mode { Off, Demo, Whole };

    static std::uintptr_t emu_thread_self();
    static void on_sleep(void* self, std::int64_t wake_ns);
    static void on_script_step(void* self);
    static void on_autoplay_step(void* self);
    bool on_game_thread() const { return emu_thread_self() == game_thread_.load(); }
    void steer();
    void update_buttons(std::int64_t now_ms, bool on_main_thread);
    void end_demo();

    const RunState& run_;
    bool virtual_time_ = false;
    std::int64_t base_ms_ = 0;
    std::atomic<std::uintptr_t> game_thread_{0};

    InputArbiter buttons_;
    std::atomic<bool> pause_wanted_{false};
    std::atomic<int> steer_x_{kNoSteering};
    ButtonCode steering_ = kButtonNone;  // the game's thread only

    std::vector<ScriptEvent> script_;
    std::size_t next_event_ = 0;

    bool autoplay_ = false;  // the built-in player's steps are scheduled
    std::atomic<Mode> mode_{Mode::Off};
    AutoplayState autoplay_state_;
    std::int64_t next_autoplay_ms_ = 0;
    bool demo_played_ = false;  // the game's thread only
};

}  // namespace sim
