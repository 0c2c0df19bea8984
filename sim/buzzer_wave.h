#pragma once
// The buzzer as sound: the PWM channel's state changes, stamped with the
// time they happened, turned into a square wave sample by sample.
//
// The game's threads note every change (note_change never waits for the
// sound device); the sound device's thread renders a stretch of time into
// samples, applying each change at its own sample, so that a 16 ms tone
// lasts 16 ms and the gaps between tones stay where they were.
#include <atomic>
#include <cstdint>
#include <mutex>

namespace sim {

struct PwmState {
    bool enabled = false;
    std::uint32_t period_ns = 0;
    std::uint32_t duty_ns = 0;
};

class BuzzerWave {
  public:
    static constexpr long kCapacity = 1024;  // changes waiting to be rendered

    explicit BuzzerWave(int sample_rate, std::int16_t amplitude = 6000,
                        std::int64_t behind_ns = kBehindNs);

    // From a game thread: the channel is in this state from time_ns on.
    // Should the renderer fall behind by a whole ring, the waiting changes
    // are given up and it goes straight to the newest state.
    void note_change(const PwmState& state, std::int64_t time_ns);

    // From the sound device's thread: count samples for the times from
    // start_ns on, one every 1/sample_rate s. A sample is +amplitude in the
    // high part of the period, -amplitude in the low part, and 0 while the
    // channel is off or its duty cycle is 0 or the whole period.
    void render(std::int16_t* out, int count, std::int64_t start_ns);

    // From the sound device's thread: the next count samples, which will be
    // heard from heard_ns on (the game's clock). The wave is rendered
    // kBehindNs behind the game, so that every change of a stretch has been
    // noted before it is rendered, and keeps its own pace from one stretch
    // to the next, unless that pace has drifted more than kResyncNs from
    // heard_ns (a stall, a suspended desktop or browser): then it jumps back
    // in step.
    static constexpr std::int64_t kBehindNs = 30000000;
    static constexpr std::int64_t kResyncNs = 60000000;
    void render_next(std::int16_t* out, int count, std::int64_t heard_ns);

    // Changes noted, and changes given up, so far.
    long noted() const { return noted_.load(std::memory_order_relaxed); }
    long dropped() const { return dropped_.load(std::memory_order_relaxed); }

  private:
    struct Change {
        PwmState state;
        std::int64_t time_ns = 0;
    };

    void apply(const PwmState& state);

    const std::int64_t sample_rate_;
    const std::int16_t amplitude_;
    const std::int64_t behind_ns_;

    // The two game threads take turns here only with each other, for the
    // few stores of one change; the renderer never takes this lock.
    std::mutex producers_;
    Change ring_[kCapacity];
    std::atomic<long> tail_{0};  // changes published
    std::atomic<long> head_{0};  // changes rendered
    std::atomic<bool> overrun_{false};
    std::atomic<std::uint64_t> newest_{0};  // the latest state, packed
    std::atomic<long> noted_{0};
    std::atomic<long> dropped_{0};

    // The renderer's own state. The phase counts in ns times the sample
    // rate, so that a sample moves it by exactly 10^9 and no error builds up.
    PwmState state_;
    std::int64_t phase_ = 0;
    std::int64_t next_ns_ = 0;  // where render_next goes on from; 0 before the first
};

}  // namespace sim
