#pragma once
// Runs the whole game on the emulated goggles in a child process, with its
// own sandbox and trace folder, and collects what it left behind.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct GameRun {
    std::vector<std::string> args;  // after the program name
    bool virtual_time = true;
    bool log_calls = false;
    // Runs in the child after the emulator is reset and pointed at the run's
    // folders, before the game starts: set devices, faults and timed actions.
    std::function<void()> setup;
    int timeout_seconds = 120;
    // Every this many frames the game also composes the frame whole into a
    // page of its own and compares it with the page it shows (0: never). A
    // difference ends the run with kFramesDiffered.
    int check_frames_every = 1;
};

// The exit status of a run whose composed frames differed from whole ones.
constexpr int kFramesDiffered = 86;

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
