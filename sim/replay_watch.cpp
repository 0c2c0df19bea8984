#include "sim/replay_watch.h"

#include "emulator/host_clock.h"
#include "emulator/replay.h"

namespace sim {
namespace {

// The replay's reader waits at most this long between two askings, so a
// key pressed meanwhile takes effect within it.
constexpr std::int64_t kMostWaitNs = 10000000;

}  // namespace

void ReplayWatch::attach() {
    emu::replay::pace_by(pace, this);
}

void ReplayWatch::rebase(std::int64_t now_ns) {
    base_game_ns_ = game_ns_;
    base_real_ns_ = now_ns;
}

std::int64_t ReplayWatch::pace(std::int64_t game_ns, void* self) {
    auto* watch = static_cast<ReplayWatch*>(self);
    std::lock_guard<std::mutex> hold(watch->lock_);
    const std::int64_t now_ns = emu::host_now_ns();
    if (watch->base_real_ns_ < 0)
        watch->rebase(now_ns);
    if (watch->seek_ns_ >= 0) {
        if (game_ns < watch->seek_ns_) {
            watch->game_ns_ = game_ns;
            return 0;
        }
        watch->seek_ns_ = -1;
        watch->rebase(now_ns);
    }
    if (watch->paused_) {
        watch->rebase(now_ns);
        return kMostWaitNs;
    }
    watch->game_ns_ = game_ns;
    const std::int64_t due_ns =
        watch->base_real_ns_ +
        static_cast<std::int64_t>(static_cast<double>(game_ns - watch->base_game_ns_) /
                                  watch->speed_);
    const std::int64_t left_ns = due_ns - now_ns;
    return left_ns < kMostWaitNs ? left_ns : kMostWaitNs;
}

void ReplayWatch::toggle_pause() {
    std::lock_guard<std::mutex> hold(lock_);
    paused_ = !paused_;
}

void ReplayWatch::set_speed(double speed) {
    std::lock_guard<std::mutex> hold(lock_);
    if (base_real_ns_ >= 0)
        rebase(emu::host_now_ns());
    speed_ = speed;
}

void ReplayWatch::faster() {
    const double now = speed();
    for (const double speed : kReplaySpeeds) {
        if (speed > now) {
            set_speed(speed);
            return;
        }
    }
}

void ReplayWatch::slower() {
    const double now = speed();
    double slower = kReplaySpeeds[0];
    for (const double speed : kReplaySpeeds) {
        if (speed < now)
            slower = speed;
    }
    set_speed(slower);
}

void ReplayWatch::skip_ahead(std::int64_t ms) {
    std::lock_guard<std::mutex> hold(lock_);
    seek_ns_ = game_ns_ + ms * 1000000;
}

void ReplayWatch::start_at(std::int64_t ms, bool paused) {
    std::lock_guard<std::mutex> hold(lock_);
    seek_ns_ = ms * 1000000;
    paused_ = paused;
}

std::int64_t ReplayWatch::game_ms() const {
    std::lock_guard<std::mutex> hold(lock_);
    return game_ns_ / 1000000;
}

bool ReplayWatch::paused() const {
    std::lock_guard<std::mutex> hold(lock_);
    return paused_;
}

double ReplayWatch::speed() const {
    std::lock_guard<std::mutex> hold(lock_);
    return speed_;
}

}  // namespace sim
