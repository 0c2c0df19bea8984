#include "web/sound_ring.h"

#include <time.h>

namespace web {
namespace {

// The ring is kept this far ahead of the worklet, topped up this often:
// enough to ride out a busy moment of the worker, little enough that a tone
// is not heard late. The wave is rendered as far behind the game as a
// sample can wait in the ring, so that every change lands on its own sample
// and the page adds no more than that to the game's own delay.
constexpr std::int64_t kAheadNs = 10000000;
static_assert(kAheadNs + SoundRing::kPumpNs <= SoundRing::kDelayNs,
              "a change must be noted before the samples that carry it are rendered");
constexpr int kChunk = 1024;

}  // namespace

std::int64_t SoundRing::monotonic_ns() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

SoundRing::SoundRing(int sample_rate)
    : sample_rate_(sample_rate),
      wave_(std::make_unique<sim::BuzzerWave>(sample_rate, kAmplitude, kDelayNs)) {}

#if !VMX_FIBERS
bool SoundRing::start() {
    started_ = pthread_create(&thread_, nullptr, pump, this) == 0;
    return started_;
}

void SoundRing::stop() {
    if (!started_)
        return;
    stop_.store(true);
    pthread_join(thread_, nullptr);
    started_ = false;
}

void* SoundRing::pump(void* self) {
    auto* ring = static_cast<SoundRing*>(self);
    const struct timespec pause = {0, SoundRing::kPumpNs};
    while (!ring->stop_.load()) {
        ring->top_up(monotonic_ns());
        nanosleep(&pause, nullptr);
    }
    return nullptr;
}
#endif

void SoundRing::top_up(std::int64_t now_ns) {
    const std::uint32_t written = written_.load(std::memory_order_relaxed);
    const std::uint32_t queued = written - read_.load(std::memory_order_acquire);
    const std::int64_t wanted = kAheadNs * sample_rate_ / 1000000000;
    if (queued >= wanted)
        return;
    // The samples written now are heard once the queued ones have played.
    std::int16_t chunk[kChunk];
    std::uint32_t at = written;
    for (std::int64_t left = wanted - queued; left > 0;) {
        const int count = left < kChunk ? static_cast<int>(left) : kChunk;
        const std::uint32_t ahead = queued + (at - written);
        wave_->render_next(chunk, count, now_ns + std::int64_t{ahead} * 1000000000 / sample_rate_);
        for (int i = 0; i < count; ++i)
            samples_[(at + i) % kCapacity] = chunk[i];
        at += count;
        left -= count;
    }
    written_.store(at, std::memory_order_release);
}

}  // namespace web
