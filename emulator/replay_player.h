#pragma once
// The player: hands the game's main thread a replay's readings (clock,
// button samples, chip answers) and tells at which of its wakes each
// recorded signal is due. A plain value; replay.cpp keeps the process-wide
// one and calls it from the hooks.
#include <atomic>
#include <cstdint>
#include <vector>

#include "emulator/replay.h"
#include "emulator/replay_format.h"

namespace emu::replay {

class Player {
  public:
    // Takes a copy of the file: "" or why it does not fit (as read()).
    std::string open(const std::uint8_t* bytes, std::size_t size);
    const Start& start() const { return start_; }
    // In a window: each reading waits until as much real time has passed
    // since open() as game time since the start.
    void pace(bool real_speed) { pacing_ = real_speed; }
    // A watcher's pace instead (see replay.h).
    void pace_by(Pacer pacer, void* context) {
        pacer_ = pacer;
        pacer_context_ = context;
        pacing_ = pacer != nullptr;
    }

    // The next reading of the clock, in nanoseconds; past the replay's end
    // the sleeps alone move it, and ran_out() is true.
    std::int64_t clock_ns();
    void sleeping(unsigned microseconds) { timeline_.slept_us += microseconds; }
    void woke() { timeline_.sleeps += 1; }
    // A recorded signal due at this wake (0: none left for it), each once.
    int due_signal();
    std::uint32_t sample();
    // A transfer's error, with its bytes in read; EREMOTEIO past the end.
    int answer(std::uint8_t* read, std::uint32_t length);
    bool ran_out() const { return ran_out_.load(); }

  private:
    template <typename Token>
    bool load(format::Stream stream, Token* token);
    void load_signal();
    void wait_for(std::int64_t reading_ns) const;

    std::vector<std::uint8_t> file_;  // the cursors read this copy
    Start start_;
    format::Timeline timeline_;
    std::array<format::Cursor, format::kStreamCount> in_;
    format::ClockToken clock_;
    bool clock_ready_ = false;
    format::SampleToken held_;  // its count: the samples it still stands for
    format::SignalToken signal_;
    bool signal_ready_ = false;
    std::uint64_t signal_due_sleep_ = 0;
    std::atomic<bool> ran_out_{false};
    bool pacing_ = false;
    Pacer pacer_ = nullptr;
    void* pacer_context_ = nullptr;
    std::int64_t real_base_ns_ = 0;
};

}  // namespace emu::replay
