#pragma once
// The buzzer for the browser's audio thread. That thread cannot call into
// the game, so a thread of the game's worker renders the buzzer's wave a few
// tens of milliseconds ahead into a ring of samples in the shared memory,
// and the page's audio worklet plays the ring and moves its read index on.
// Writer and reader meet only in the two indexes.
//
// In the build without threads the worker's own thread tops the ring up
// while the game's fibers sleep, and sends what it wrote to the worklet,
// which cannot see the module's memory; the worklet sends back how far it
// has read (web/page/worker.js).
#if !VMX_FIBERS
#include <pthread.h>
#endif

#include <atomic>
#include <cstdint>
#include <memory>

#include "sim/buzzer_wave.h"

namespace web {

class SoundRing {
  public:
    static constexpr std::uint32_t kCapacity = 8192;  // samples; a power of two
    // What the page adds to the game's own delay from a buzzer change to its
    // sound: the ring's lead and one top-up's wait (see sound_ring.cpp).
    static constexpr std::int64_t kDelayNs = 12000000;
    static constexpr std::int16_t kAmplitude = 6000;
    // How often the ring is topped up.
    static constexpr long kPumpNs = 2000000;

    explicit SoundRing(int sample_rate);

    // The wave the game's buzzer changes go to (Session::sound_through).
    sim::BuzzerWave* wave() { return wave_.get(); }

#if !VMX_FIBERS
    // Starts and stops the thread that keeps the ring filled.
    bool start();
    void stop();
#endif

    // Renders what the ring lacks of its lead, as heard from now_ns on (the
    // pump does this every kPumpNs), now_ns read from this clock.
    void top_up(std::int64_t now_ns);
    static std::int64_t monotonic_ns();

    // For the worklet: the samples, and the indexes that count every sample
    // written and read (the ring position is the index modulo kCapacity).
    const std::int16_t* samples() const {
        return samples_;
    }
    const std::atomic<std::uint32_t>* written() const {
        return &written_;
    }
    const std::atomic<std::uint32_t>* read() const {
        return &read_;
    }

  private:
#if !VMX_FIBERS
    static void* pump(void* self);
#endif

    const int sample_rate_;
    std::unique_ptr<sim::BuzzerWave> wave_;
    std::int16_t samples_[kCapacity] = {};
    std::atomic<std::uint32_t> written_{0};
    std::atomic<std::uint32_t> read_{0};
#if !VMX_FIBERS
    std::atomic<bool> stop_{false};
    pthread_t thread_{};
    bool started_ = false;
#endif
};

}  // namespace web
