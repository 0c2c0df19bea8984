#pragma once
// Replays: a run kept as what the game's main thread read from the goggles
// (its clock readings, the button ADC's samples, the HDMI chip's answers,
// the signals that stopped it), with the best-score file and the game's
// options from its start. The game's random numbers start from a constant,
// so the same readings give the same game, frame for frame; playing a
// replay back hands the main thread the recorded readings instead of the
// live ones. Only the main thread's readings count: the sound thread reads
// nothing the main thread sees.
//
// The file: "VMXR", the format version (2 bytes, little-endian), the whole
// file's length (4 bytes), the game's version (a length byte and its text),
// then varints: the clock at the start in microseconds, the clock's tick,
// the game's options, the best-score file, four streams (clock, samples,
// chip answers, signals), and a CRC-32 of everything before it. The clock
// stream keeps each reading as its difference from the previous reading
// plus the sleeps asked for since, in runs of readings that differ by
// nothing; the samples are runs of one value, one sample a sleep.
//
// The recorder and the player are process-wide, like the rest of the
// emulated goggles, and reset() turns them off.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace emu::replay {

constexpr unsigned kFormatVersion = 1;
// The largest replay: about thirteen hours of play in real time.
constexpr std::size_t kMaxBytes = 4 * 1024 * 1024;
constexpr std::size_t kMaxBestBytes = 4096;
constexpr std::size_t kMaxArgs = 16;
constexpr std::size_t kMaxArgBytes = 256;

// The run's start as the replay keeps it.
struct Start {
    std::string game_version;
    std::int64_t origin_us = 0;  // the game's clock when the run was started
    // The clock's resolution: 1 in virtual time; 1000 in real time, where a
    // recorded run's clock counts whole milliseconds (as the game does but
    // for the buttons' 9 ms settle) and may trail the live clock by a few
    // (replay.cpp), so that its readings follow the main loop's sleeps and
    // take little room.
    std::int64_t tick_us = 1;
    std::vector<std::string> game_args;
    bool has_best = false;
    std::string best;  // the best-score file's content
};

// The CRC-32 that ends a replay (zlib's).
std::uint32_t crc32(const std::uint8_t* bytes, std::size_t size);

// This build's game version (the project's version).
const char* game_version();

// The recorder and player off.
void reset();

// ---- Recording --------------------------------------------------------
// From now on the main thread's readings are kept (start.game_version is
// set to this build's). Call before the game starts.
void record(const Start& start);
// The replay of the run so far. On the game's main thread between two of
// its steps (a pan), or once the game has ended.
std::vector<std::uint8_t> recorded();
// The recording reached kMaxBytes and stopped there: the replay ends at
// that point.
bool record_full();

// ---- Playing ----------------------------------------------------------
// Reads a replay: "" with start filled in, or why it does not fit (one
// line, without the file's name).
std::string read(const std::uint8_t* bytes, std::size_t size, Start* start);
// From now on the main thread reads the replay, which read() accepted; the
// emulated clock is the replay's (timed actions run as the main thread's
// readings reach them) and the main thread's sleeps do not wait.
void play(const std::uint8_t* bytes, std::size_t size);
// In a window: each reading waits until as much real time has passed since
// play() as game time since the start.
void pace(bool real_speed);
// A watcher's pace instead (paused, faster, slower, ahead): before each
// reading the pacer is given the game's time since the replay's start and
// answers how long the reading still waits (0 or less: none); it is asked
// again after each wait, so it should answer short waits.
using Pacer = std::int64_t (*)(std::int64_t game_ns, void* context);
void pace_by(Pacer pacer, void* context);
// The game went past the end of the replay (it is then asked to stop, as
// by SIGTERM, at its next sleep).
bool ran_out();

// ---- For the seam and the devices (the game's main thread) -------------
bool recording();
bool playing();
// What the main thread's clock reading is, given the live one.
std::int64_t clock_ns(std::int64_t live_ns);
// The main thread asks for a sleep, and after it, wakes: signals kept for
// it are handed to the game's handlers there, whenever they arrived.
void sleeping(unsigned microseconds);
void woke();
// The button ADC's sample latched now, given the live one.
std::uint32_t sample(std::uint32_t live);
// A transfer of the I2C transport: its error (0: none) and the bytes it
// read, given the live ones; answers the error.
int i2c_transfer(int error, std::uint8_t* read, std::uint32_t length);
// The handler to install for a signal the game handles: while recording or
// playing, one that keeps the signal for the main thread's next wake.
using Handler = void (*)(int);
Handler signal_handler(int signal_number, Handler game_handler);

}  // namespace emu::replay
