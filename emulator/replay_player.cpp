#include "emulator/replay_player.h"

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "emulator/clock.h"
#include "emulator/host_clock.h"

namespace emu::replay {

std::string Player::open(const std::uint8_t* bytes, std::size_t size) {
    file_.assign(bytes, bytes + size);
    format::Decoded decoded;
    const std::string reason = format::decode(file_.data(), file_.size(), &decoded);
    if (!reason.empty())
        return reason;
    start_ = decoded.start;
    in_ = decoded.streams;
    timeline_.begin(start_);
    clock_ready_ = load(format::kClock, &clock_);
    load_signal();
    real_base_ns_ = host_now_ns();
    return "";
}

// The reading predicted, or as the stream corrects it.
std::int64_t Player::clock_ns() {
    std::int64_t ticks = timeline_.predicted();
    if (clock_ready_ && clock_.predicted > 0) {
        clock_.predicted -= 1;
    } else if (clock_ready_) {
        ticks += clock_.residual;
        clock_ready_ = load(format::kClock, &clock_);
    } else {
        ran_out_.store(true);
    }
    // A replay's clock never goes back.
    ticks = std::clamp(ticks, timeline_.last_ticks, format::kMaxClockUs / timeline_.tick_us);
    const std::int64_t ns = timeline_.take(ticks);
    if (pacing_)
        wait_for(ns);
    return ns;
}

int Player::due_signal() {
    if (!signal_ready_ || signal_due_sleep_ > timeline_.sleeps)
        return 0;
    const int number = signal_.number;
    load_signal();
    return number;
}

std::uint32_t Player::sample() {
    format::SampleToken next;
    if (held_.count == 0 && load(format::kSamples, &next))
        held_ = next;
    // Past the end the last sample stays.
    if (held_.count > 0)
        held_.count -= 1;
    return held_.value;
}

int Player::answer(std::uint8_t* read, std::uint32_t length) {
    format::AnswerToken token;
    // A transfer beyond the replay's finds no chip.
    if (!load(format::kAnswers, &token))
        return EREMOTEIO;
    if (token.error == 0 && read != nullptr)
        std::memcpy(read, token.read, std::min(token.length, length));
    return token.error;
}

// The stream's next token, if it has one.
template <typename Token>
bool Player::load(format::Stream stream, Token* token) {
    format::Cursor& in = in_[stream];
    return in.ok() && !in.done() && format::next(in, token);
}

void Player::load_signal() {
    signal_ready_ = load(format::kSignals, &signal_);
    if (signal_ready_)
        signal_due_sleep_ += signal_.after_sleeps;
}

// The reading at game time t since the start waits until t has passed
// since open(): where a host paces the clock (the web page, by the
// display), until its limit reaches the reading; elsewhere a wait of so
// long, not until a time, as the browser's C library takes no absolute one.
void Player::wait_for(std::int64_t reading_ns) const {
    if (clock::wait_for_pace(reading_ns))
        return;
    const std::int64_t game_ns = reading_ns - start_.origin_us * 1000;
    const std::int64_t due_ns = real_base_ns_ + game_ns;
    const auto wait_left = [&] {
        return pacer_ != nullptr ? pacer_(game_ns, pacer_context_) : due_ns - host_now_ns();
    };
    for (std::int64_t left = wait_left(); left > 0; left = wait_left()) {
        const struct timespec wait = {static_cast<time_t>(left / 1000000000),
                                      static_cast<long>(left % 1000000000)};
        nanosleep(&wait, nullptr);
    }
}

}  // namespace emu::replay
