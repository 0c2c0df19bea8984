#pragma once
// The simulator's command line: the game's own options, passed through, and
// the simulator's, which choose the window or a headless run, the clock, the
// inputs (keyboard, script, autoplay) and what is captured.
#include <cstdint>
#include <string>
#include <vector>

#include "devices/lt8668.h"

namespace sim {

// What the goggles' HDMI chip reports, so that the game's refusal of
// every mode but the normal one can be tried; each is the game's number of
// the mode.
enum class GoggleMode {
    Normal = kGoggleModeNormal,
    Hdmi = kGoggleModeHdmi,
    Av = kGoggleModeAv,
    None = kGoggleModeUnknown,
};

struct SimOptions {
    // The game's command line after the program name: --seconds N and
    // --probe as given, or everything after "--" unchanged.
    std::vector<std::string> game_args;
    bool game_seconds = false;  // --seconds was given
    GoggleMode goggle_mode = GoggleMode::Normal;
    bool mute = false;
    bool headless = false;
    bool virtual_time = false;
    std::string script_path;
    std::vector<std::int64_t> screenshot_ms;  // ascending, no repeats
    std::string out_dir;
    bool autoplay = false;
    std::string data_dir;             // empty: chosen by the run (see session.h)
    std::string record_path;          // --record: the run's replay is written here
    std::string replay_path;          // --replay: the run plays this replay back
    std::string frame_log_path;       // --frame-log: a line for each frame shown
    double replay_speed = 0;          // --speed: a replay at so many times its speed; 0: not given
    std::int64_t replay_from_ms = 0;  // --from: the window's replay runs ahead to this moment
    bool replay_paused = false;       // --paused: and holds there
    bool help = false;
};

extern const char kSimUsage[];

// Reads argv (argv[0] is the program). Answers "" and fills options, or the
// reason the command line is refused.
std::string parse_sim_options(int argc, const char* const* argv, SimOptions* options);

// A list of milliseconds "MS[,MS...]": ascending and without repeats in
// out. False for an empty list, an empty item or anything but digits.
bool parse_ms_list(const char* text, std::vector<std::int64_t>* out);

}  // namespace sim
