#include "web/sound_ring.h"

namespace web {
namespace {

constexpr int kChunk = 1024;

}  // namespace

static_assert(SoundRing::kMaxLeadNs * 48000 / 1000000000 < SoundRing::kCapacity,
              "the ring holds the longest lead at the usual rate");

SoundRing::SoundRing(int sample_rate, std::int64_t lead_ns)
    : sample_rate_(sample_rate),
      lead_ns_(lead_ns < kMaxLeadNs ? lead_ns : kMaxLeadNs),
      wave_(std::make_unique<sim::BuzzerWave>(sample_rate, kAmplitude, lead_ns_)) {}

void SoundRing::report(std::uint32_t read, std::int64_t at_ns) {
    reported_ = read;
    reported_at_ns_ = at_ns;
}

void SoundRing::top_up(std::int64_t now_ns) {
    // The output starts playing as the first samples reach it, and is taken
    // to play on from then until it reports.
    if (reported_at_ns_ < 0)
        reported_at_ns_ = now_ns;
    std::int64_t played = 0;
    if (now_ns > reported_at_ns_)
        played = (now_ns - reported_at_ns_) * sample_rate_ / 1000000000;
    const std::uint32_t behind = written_ - reported_;
    std::uint32_t queued = 0;
    if (behind <= kCapacity && played < behind)
        queued = behind - static_cast<std::uint32_t>(played);
    std::int64_t wanted = lead_ns_ * sample_rate_ / 1000000000;
    if (wanted > kCapacity - 1)
        wanted = kCapacity - 1;
    if (queued >= wanted)
        return;
    // The samples written now are heard once the queued ones have played.
    std::int16_t chunk[kChunk];
    std::uint32_t at = written_;
    for (std::int64_t left = wanted - queued; left > 0;) {
        const int count = left < kChunk ? static_cast<int>(left) : kChunk;
        const std::uint32_t ahead = queued + (at - written_);
        wave_->render_next(chunk, count, now_ns + std::int64_t{ahead} * 1000000000 / sample_rate_);
        for (int i = 0; i < count; ++i)
            samples_[(at + i) % kCapacity] = chunk[i];
        at += count;
        left -= count;
    }
    written_ = at;
}

}  // namespace web
