#pragma once
// The recorder: turns what the game's main thread reads (clock readings,
// button samples, chip answers, the signals handed to it) into a replay
// file's streams (replay_format.h). A plain value; replay.cpp keeps the
// process-wide one and calls it from the hooks.
#include <cstdint>
#include <vector>

#include "emulator/replay_format.h"

namespace emu::replay {

class Recorder {
  public:
    // Starts keeping a run begun at start (its game_version made this
    // build's, its tick 1 or 1000).
    void begin(const Start& start);

    // The reading the game gets for the live clock, in nanoseconds.
    std::int64_t clock_ns(std::int64_t live_ns);
    void sleeping(unsigned microseconds) { timeline_.slept_us += microseconds; }
    void woke() { timeline_.sleeps += 1; }
    void sample(std::uint32_t live);
    void answer(int error, const std::uint8_t* read, std::uint32_t length);
    // A signal handed to the game at this wake.
    void signal(int number);

    // The file of the run so far, its open runs closed where it is now.
    std::vector<std::uint8_t> bytes() const;
    // The recording reached the size limit and stopped there.
    bool full() const { return full_; }

  private:
    bool keeping();

    Start start_;
    format::Timeline timeline_;
    format::Streams streams_;
    // Readings as predicted since the last clock token, and the sample run
    // under way: written when they end, or closed where bytes() is asked.
    std::uint64_t predicted_run_ = 0;
    format::SampleToken sample_run_;
    std::uint64_t last_signal_sleep_ = 0;
    bool full_ = false;
};

}  // namespace emu::replay
