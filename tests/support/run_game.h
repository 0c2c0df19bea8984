#pragma once
// Runs the whole game on the emulated goggles in a child process, with its
// own sandbox and trace folder, and collects what it left behind.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "display/display.h"
#include "shell/main_loop.h"

struct GameRun {
    std::vector<std::string> args;  // after the program name
    bool virtual_time = true;
    bool log_calls = false;
    // Runs in the child after the emulator is reset and pointed at the run's
    // folders, before the game starts: set devices, faults and timed actions.
    std::function<void()> setup;
    // Runs in the child after setup, with the run's record the game is
    // about to play in: for a pilot or a script that watches, or changes,
    // the game between frames.
    std::function<void(RunState&)> watch;
    // Runs after every shown frame (every successful pan), after the frame
    // check, on the game's thread.
    std::function<void()> after_frame;
    // Runs in the child once the game has returned, with its record and its
    // exit status, before the child exits.
    std::function<void(const RunState&, int status)> after_game;
    int timeout_seconds = 120;
    // Every this many shown frames the frame is also drawn whole from the
    // list its page was composed from, into a page of the test's own, and
    // the two compared (0: never). A difference ends the run with
    // kFramesDiffered.
    int check_frames_every = 1;
};

// The exit status of a run whose composed frames differed from whole ones.
constexpr int kFramesDiffered = 86;
// The exit status of a run in which a frame had more items than its list
// holds.
constexpr int kFramesOverflowed = 87;

// Checks every n-th shown frame of a display against the frame drawn whole
// from the list its page was composed from (see GameRun::check_frames_every).
class FrameCheck {
  public:
    FrameCheck(const Display& display, int every);

    // Called after every successful pan.
    void after_pan();

    // The pixels that differed since the check began, and the frames
    // compared.
    long long mismatches() const { return mismatches_; }
    long long frames_checked() const { return frames_checked_; }

  private:
    const Display& display_;
    int every_;
    int to_check_ = 0;
    long long mismatches_ = 0;
    long long frames_checked_ = 0;
    std::vector<std::uint32_t> whole_;
    BlendMemo memo_;
};

struct PanLine {
    std::int64_t time_ms;
    std::uint32_t yoffset;
    int result;
};

// One write into the buzzer's PWM files: when, which file, the value
// written and the error it met (0 for none).
struct PwmLine {
    std::int64_t time_ms;
    std::string attribute;
    std::string value;
    int error;
};

struct GameResult {
    int status = -1;  // exit status, or -1 when the child did not exit
    int signal = 0;   // the signal that ended the child, if any
    bool timed_out = false;
    std::string dir;  // the run's folder, with sandbox/ and trace/
    std::string stderr_text;
    long long frame_mismatches = 0;  // pixels that differed, over every checked frame
    long long frames_checked = 0;    // frames drawn whole and compared

    std::string trace(const char* name) const;  // a trace file's content
    std::string sandbox_file(const char* game_path) const;
    std::vector<PanLine> pans() const;
    std::vector<PwmLine> pwm_writes() const;
};

GameResult run_game(const GameRun& run);

// A fresh empty folder below the system's temporary folder.
std::string make_temp_dir();

// Runs body in a child process (for tests of process-wide state); returns
// its exit status, or -1 if it crashed or took longer than the timeout.
int run_in_child(const std::function<int()>& body, int timeout_seconds = 60);

std::string read_file(const std::string& path);
