#include "emulator/replay_recorder.h"

#include <algorithm>

namespace emu::replay {
namespace {

// Room kept for the header and the runs not yet written.
constexpr std::size_t kRecordMargin = 64 * 1024;

}  // namespace

void Recorder::begin(const Start& start) {
    *this = Recorder();
    start_ = start;
    start_.game_version = game_version();
    start_.tick_us = start.tick_us == 1000 ? 1000 : 1;
    timeline_.begin(start_);
}

// In real time a recorded clock trails the live one by less than
// kMostLagTicks: a reading that the main loop's own work (or a busy
// machine) has made a little late counts as on time, and only the reading
// that finds the clock this far behind catches up. The game's frames then
// come at most this much later than they would, and the clock stream holds
// a token every frame or two instead of one every few passes.
std::int64_t Recorder::clock_ns(std::int64_t live_ns) {
    std::int64_t ticks = live_ns / (timeline_.tick_us * 1000);
    const std::int64_t predicted = timeline_.predicted();
    if (timeline_.tick_us > 1 && ticks >= predicted && ticks - predicted < format::kMostLagTicks)
        ticks = predicted;
    if (keeping()) {
        if (ticks == predicted) {
            predicted_run_ += 1;
        } else {
            format::put(streams_[format::kClock],
                        format::ClockToken{predicted_run_, ticks - predicted});
            predicted_run_ = 0;
        }
    }
    return timeline_.take(ticks);
}

void Recorder::sample(std::uint32_t live) {
    if (!keeping())
        return;
    if (sample_run_.count > 0 && live == sample_run_.value) {
        sample_run_.count += 1;
        return;
    }
    if (sample_run_.count > 0)
        format::put(streams_[format::kSamples], sample_run_);
    sample_run_ = format::SampleToken{live, 1};
}

void Recorder::answer(int error, const std::uint8_t* read, std::uint32_t length) {
    if (!keeping())
        return;
    const std::uint32_t kept =
        error == 0 && read != nullptr ? std::min<std::uint32_t>(length, format::kMaxReadBytes) : 0;
    format::put(streams_[format::kAnswers], format::AnswerToken{error, kept, read});
}

void Recorder::signal(int number) {
    if (!keeping())
        return;
    format::put(streams_[format::kSignals],
                format::SignalToken{timeline_.sleeps - last_signal_sleep_, number});
    last_signal_sleep_ = timeline_.sleeps;
}

std::vector<std::uint8_t> Recorder::bytes() const {
    format::Streams closed = streams_;
    if (predicted_run_ > 0)
        format::put(closed[format::kClock], format::ClockToken{predicted_run_ - 1, 0});
    if (sample_run_.count > 0)
        format::put(closed[format::kSamples], sample_run_);
    return format::encode(start_, closed);
}

// Past the limit the recording stops where it is, between two readings, as
// a replay taken at that moment would.
bool Recorder::keeping() {
    std::size_t total = 0;
    for (const auto& stream : streams_)
        total += stream.size();
    if (total + kRecordMargin > kMaxBytes)
        full_ = true;
    return !full_;
}

}  // namespace emu::replay
