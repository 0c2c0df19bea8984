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
// The file's bytes, Start and read() are replay_format.h's; here are the
// recorder, the player, and the hooks through which the emulated seam and
// devices reach them. The recorder and the player are process-wide, like
// the rest of the emulated goggles, and reset() turns them off.
#include <cstdint>
#include <vector>

#include "emulator/replay_format.h"

namespace emu::replay {

// The recorder and player off, with nothing kept.
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
