#pragma once
// A pilot that plays one whole game through the buttons, watching the run's
// record between frames: from the title a new game, the first level
// cleared with the automatic player's steering, the next level's serve,
// every ball let go until game over, and back to the title. The tests that
// use it look on at each stage and may change what it holds in play.
#include <cstdint>
#include <functional>

#include "devices/button_code.h"
#include "shell/main_loop.h"

enum class PilotStage {
    StartGame,      // title: press MIDDLE
    ClearLevel,     // serve and play the first layout to its end
    WaitNextLevel,  // the pause after the clear
    LoseAll,        // dodge every ball to game over
    BackToTitle,    // MIDDLE from the game-over box (or after losing the first level)
    Finished,       // the title again
};

class GamePilot {
  public:
    explicit GamePilot(const RunState& run) : run_(run) {}

    // The button to hold from now until the next step (the tests step every
    // 10 ms of virtual time), moving on to the next stage once the game has
    // reached it.
    ButtonCode step(std::int64_t now);

    PilotStage stage() const { return stage_; }
    std::int64_t stage_start_ms() const { return stage_start_ms_; }
    const Game& game() const { return run_.game; }

    // Before each step, with the stage it begins in.
    std::function<void(PilotStage stage, std::int64_t now)> before_step;
    // On entering a stage, with the one it leaves.
    std::function<void(PilotStage from, PilotStage to, std::int64_t now)> entered;
    // While the first level is in play: the button to hold instead of the
    // steering's.
    std::function<ButtonCode(ButtonCode steering, std::int64_t now)> in_play;

  private:
    void enter(PilotStage stage, std::int64_t now);

    const RunState& run_;
    PilotStage stage_ = PilotStage::StartGame;
    std::int64_t stage_start_ms_ = 0;
};

// Alternates no button and the button, each held long enough for the
// debounce's two equal polls, so that the game sees fresh presses.
ButtonCode pressing(std::int64_t now, ButtonCode button = kButtonMiddle);
