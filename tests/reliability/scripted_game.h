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
//   "" or "-"          the plain file holding the old best
//   "refuse_new_files" the folder refuses new files (every open of the
//                      temporary fails with EACCES)
//   "flush_refused"    every flush of the temporary fails with EIO
//   "stale_temp"       a temporary left behind by a save that was cut short
//   "link"             the file is a relative link to ../kept/best, which
//                      holds the old best
// Sets *setup to what the run's setup does for it; false for a name it does
// not know.
bool save_setup(const std::string& name, std::function<void()>* setup);

// Files ending in ".tmp" anywhere below the run's sandbox.
std::vector<std::string> leftover_temporaries(const GameResult& result);

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
