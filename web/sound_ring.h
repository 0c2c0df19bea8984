#pragma once
// The buzzer for the browser's audio output. The output cannot call into
// the game, so the game's worker renders the buzzer's wave a little ahead
// into a ring of samples once every time it wakes, and sends the new ones on
// to whatever plays them (the page's audio worklet, or the page itself where
// there is none), which reports back now and then how far it has played.
//
// The lead is how far ahead of the output the ring is kept: it must cover
// one wake-up of the worker (a display frame) and its jitter, or the output
// finds nothing to play. The wave is rendered as far behind the game as the
// lead, so that every buzzer change has been noted before the samples that
// carry it are rendered: the page adds the lead to the game's own delay
// from a change to its sound.
#include <atomic>
#include <cstdint>
#include <memory>

#include "sim/buzzer_wave.h"

namespace web {

class SoundRing {
  public:
    static constexpr std::uint32_t kCapacity = 16384;  // samples; a power of two
    static constexpr std::int16_t kAmplitude = 6000;
    // The longest lead a sink may ask for: the ring must hold it whole.
    static constexpr std::int64_t kMaxLeadNs = 250000000;

    SoundRing(int sample_rate, std::int64_t lead_ns);

    // The wave the game's buzzer changes go to, stamped on the game's clock.
    sim::BuzzerWave* wave() { return wave_.get(); }

    // Renders what the ring lacks of its lead, as heard from now_ns on (the
    // game's clock): the samples still queued at the output count.
    void top_up(std::int64_t now_ns);

    // The output reports how far it has played (samples counted from its
    // start) now and then; between reports it is taken to play on at the
    // sample rate, so that the ring keeps its lead without a report at
    // every wake-up. at_ns: on the game's clock.
    void report(std::uint32_t read, std::int64_t at_ns);

    // Samples written so far; the ring position is the index modulo
    // kCapacity.
    const std::int16_t* samples() const { return samples_; }
    std::uint32_t written() const { return written_; }
    std::int64_t lead_ns() const { return lead_ns_; }

  private:
    const int sample_rate_;
    const std::int64_t lead_ns_;
    std::unique_ptr<sim::BuzzerWave> wave_;
    std::int16_t samples_[kCapacity] = {};
    std::uint32_t written_ = 0;
    std::uint32_t reported_ = 0;
    std::int64_t reported_at_ns_ = -1;  // -1: before the first top-up
};

}  // namespace web
