#pragma once
// The buzzer for the browser's audio thread. That thread cannot call into
// the game, so a thread of the game's worker renders the buzzer's wave a few
// tens of milliseconds ahead into a ring of samples in the shared memory,
// and the page's audio worklet plays the ring and moves its read index on.
// Writer and reader meet only in the two indexes.
#include <pthread.h>

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

    explicit SoundRing(int sample_rate);

    // The wave the game's buzzer changes go to (Session::sound_through).
    sim::BuzzerWave* wave() { return wave_.get(); }

    // Starts and stops the thread that keeps the ring filled.
    bool start();
    void stop();

    // Renders what the ring lacks of its lead, as heard from now_ns on (the
    // pump does this every few milliseconds).
    void top_up(std::int64_t now_ns);

    // For the worklet: the samples, and the indexes that count every sample
    // written and read (the ring position is the index modulo kCapacity).
    const std::int16_t* samples() const { return samples_; }
    const std::atomic<std::uint32_t>* written() const { return &written_; }
    const std::atomic<std::uint32_t>* read() const { return &read_; }

  private:
    static void* pump(void* self);

    const int sample_rate_;
    std::unique_ptr<sim::BuzzerWave> wave_;
    std::int16_t samples_[kCapacity] = {};
    std::atomic<std::uint32_t> written_{0};
    std::atomic<std::uint32_t> read_{0};
    std::atomic<bool> stop_{false};
    pthread_t thread_{};
    bool started_ = false;
};

}  // namespace web
