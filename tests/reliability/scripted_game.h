#pragma once
// The reference run of the reliability tests: the whole program on the
// emulated goggles, played by a pilot from start-up through a game that ends
// with a new best (so the high-score file is written) to a PLAY hold that
// ends the program, with every call through the OS seam recorded.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "emulator/emulator.h"
#include "support/run_game.h"

// The sweeps that run the whole program dozens of times test failure paths,
// not the two threads; under ThreadSanitizer they would take most of the
// test command's time, so that build leaves them out (its soak drives the
// sound thread and the tone queue instead).
#if defined(__SANITIZE_THREAD__)
constexpr bool kLeaveOutSweeps = true;
#else
constexpr bool kLeaveOutSweeps = false;
#endif
#define SKIP_SWEEP_UNDER_THREAD_SANITIZER() \
    if (kLeaveOutSweeps)                    \
    GTEST_SKIP() << "a sweep of whole runs: left to the other builds"

// The best on file before the run; the pilot scores more before it loses.
constexpr int kOldBest = 50;
constexpr const char* kOldBestText = "50\n";

struct ScriptOptions {
    // The chip answers "no mode" at the first probe, so that the gate pauses
    // once before it allows the game.
    bool gate_pause = false;
    // Runs in the child after the pilot is set up (faults, signals).
    std::function<void()> setup;
};

GameRun scripted_game(const ScriptOptions& options = {});

// What the pilot saw, from its trace file: "best" (the best at game over),
// "hold_ms" (when the PLAY hold began), -1 for what did not happen.
long long pilot_value(const GameResult& result, const std::string& key);

// One line of calls.txt: "seq call target result errno".
struct CallLine {
    long seq = 0;
    std::string call;
    std::string target;  // "-" for calls without one
    long result = 0;
    int error = 0;
};
std::vector<CallLine> parse_calls(const std::string& text);

// The occurrence to give the emulator's fault so that it hits calls[index]:
// the emulator counts every call of that kind whose target contains the
// fault's target, and matches every target when it has none.
int fault_occurrence(const std::vector<CallLine>& calls, std::size_t index);
// The emulator's call kind for a name as calls.txt writes it; false for a
// name it does not know.
bool call_kind(const std::string& name, emu::Call* kind);

// The calls of the save at game over: every call after start-up (the sound
// thread's start) on a file below /record, in order, as indexes into calls.
std::vector<std::size_t> save_calls(const std::vector<CallLine>& calls);

// How the high-score file stands before a run, for the save to meet:
//   "" or "-"          the plain file holding the old best, in a line shorter
//                      than the new one
//   "long_line"        the old best in a line longer than the new one
//   "no_file"          no file yet: the save makes it
//   "link"             the file is a relative link to ../kept/best, which
//                      holds the old best
// Sets *setup to what the run's setup does for it; false for a name it does
// not know.
bool save_setup(const std::string& name, std::function<void()>* setup);
// The file's text before the save under that setup ("" for no file).
std::string old_best_text(const std::string& setup);

// Whether stored holds line whole: line first, then nothing but what a save
// leaves behind the newline while it works (zero bytes where it made room,
// or the tail of the old text until the cut). An empty line stands for a
// file that is missing, empty or made room in, none of which holds a number.
bool holds_line(const std::string& stored, const std::string& line, const std::string& old_text);

// The fault target for a logged target ("-" means none).
const char* fault_target(const CallLine& line);

// The buzzer after the run, replayed from the PWM write log: whether channel
// 7 is left sounding (enabled with a duty cycle), and how many writes there
// were.
struct BuzzerEnd {
    bool sounding = false;
    int writes = 0;
};
BuzzerEnd buzzer_end(const GameResult& result);
