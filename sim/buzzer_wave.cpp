#include "sim/buzzer_wave.h"

#include <cstdlib>

namespace sim {
namespace {

constexpr std::int64_t kNsPerSecond = 1000000000;
// Periods above this (below half a hertz) are not heard; clamping them lets
// a whole state fit one atomic word.
constexpr std::uint32_t kLongestPeriodNs = 0x7fffffff;

std::uint64_t pack(const PwmState& state) {
    std::uint64_t period = state.period_ns > kLongestPeriodNs ? kLongestPeriodNs : state.period_ns;
    std::uint64_t duty = state.duty_ns > kLongestPeriodNs ? kLongestPeriodNs : state.duty_ns;
    return (std::uint64_t{state.enabled} << 63) | (period << 31) | duty;
}

PwmState unpack(std::uint64_t word) {
    PwmState state;
    state.enabled = (word >> 63) != 0;
    state.period_ns = static_cast<std::uint32_t>((word >> 31) & kLongestPeriodNs);
    state.duty_ns = static_cast<std::uint32_t>(word & kLongestPeriodNs);
    return state;
}

}  // namespace

BuzzerWave::BuzzerWave(int sample_rate, std::int16_t amplitude, std::int64_t behind_ns)
    : sample_rate_(sample_rate), amplitude_(amplitude), behind_ns_(behind_ns) {}

void BuzzerWave::note_change(const PwmState& state, std::int64_t time_ns) {
    std::lock_guard<std::mutex> hold(producers_);
    newest_.store(pack(state), std::memory_order_relaxed);
    noted_.fetch_add(1, std::memory_order_relaxed);
    long tail = tail_.load(std::memory_order_relaxed);
    if (tail - head_.load(std::memory_order_acquire) >= kCapacity) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        overrun_.store(true, std::memory_order_release);
        return;
    }
    ring_[tail % kCapacity] = Change{state, time_ns};
    tail_.store(tail + 1, std::memory_order_release);
}

void BuzzerWave::apply(const PwmState& state) {
    bool was_sounding = state_.enabled && state_.period_ns != 0;
    state_ = state;
    // A tone that starts from silence starts at the top of its period.
    if (!was_sounding)
        phase_ = 0;
}

void BuzzerWave::render(std::int16_t* out, int count, std::int64_t start_ns) {
    long head = head_.load(std::memory_order_relaxed);
    if (overrun_.exchange(false, std::memory_order_acquire)) {
        head = tail_.load(std::memory_order_acquire);
        head_.store(head, std::memory_order_release);
        apply(unpack(newest_.load(std::memory_order_relaxed)));
    }
    const long tail = tail_.load(std::memory_order_acquire);
    for (int i = 0; i < count; ++i) {
        const std::int64_t sample_ns = start_ns + i * kNsPerSecond / sample_rate_;
        while (head < tail && ring_[head % kCapacity].time_ns <= sample_ns) {
            apply(ring_[head % kCapacity].state);
            head += 1;
            head_.store(head, std::memory_order_release);
        }
        const std::int64_t period = std::int64_t{state_.period_ns} * sample_rate_;
        const std::int64_t high = std::int64_t{state_.duty_ns} * sample_rate_;
        if (!state_.enabled || period == 0 || high == 0 || high >= period) {
            out[i] = 0;
            phase_ = 0;
            continue;
        }
        if (phase_ >= period)
            phase_ %= period;
        out[i] = static_cast<std::int16_t>(phase_ < high ? amplitude_ : -amplitude_);
        phase_ += kNsPerSecond;
    }
}

void BuzzerWave::render_next(std::int16_t* out, int count, std::int64_t heard_ns) {
    const std::int64_t due_ns = heard_ns - behind_ns_;
    if (next_ns_ == 0 || std::llabs(next_ns_ - due_ns) > kResyncNs)
        next_ns_ = due_ns;
    render(out, count, next_ns_);
    next_ns_ += std::int64_t{count} * kNsPerSecond / sample_rate_;
}

}  // namespace sim
