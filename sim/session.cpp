#include "sim/session.h"

#include <algorithm>
#include <csignal>
#include <cstdio>

#include "emulator/emulator.h"
#include "emulator/framebuffer_device.h"
#include "emulator/host_clock.h"
#include "emulator/i2c_device.h"
#include "emulator/pwm_device.h"
#include "emulator/replay.h"
#include "shell/startup.h"
#include "sim/buzzer_wave.h"
#include "sim/frame_store.h"

namespace sim {
namespace {

// A headless run without --seconds ends this long after its last scripted
// step or screenshot, so that the last picture is surely saved.
constexpr std::int64_t kEndMarginMs = 100;

// The pitch of the emulated framebuffer's rows, in pixels.
std::size_t displayed_row_pixels() {
    return emu::fb::settings().line_length / 4;
}

}  // namespace

// Everything on this machine's side first (files, folders, the script, the
// game's command line), then the emulated goggles in one go.
std::string Session::prepare(const SimOptions& options, bool with_window, const std::string& best) {
    options_ = options;
    std::string reason = files_.prepare(options, with_window, best);
    if (reason.empty() && !options.frame_log_path.empty())
        reason = frame_log_.open(options.frame_log_path);
    if (reason.empty())
        reason = pilot_.prepare(options, files_.replaying());
    if (reason.empty())
        reason = shots_.prepare(options.screenshot_ms, options.out_dir);
    if (!reason.empty())
        return reason;
    argv_ = {"vmxbrikon"};
    for (const std::string& arg : files_.game_args())
        argv_.push_back(arg.c_str());
    argv_.push_back(nullptr);
    set_up_goggles(options, with_window);
    return "";
}

void Session::set_up_goggles(const SimOptions& options, bool with_window) {
    emu::reset();
    emu::set_sandbox(files_.data_dir().c_str());
    emu::echo_stderr(true);
    emu::use_virtual_time(options.virtual_time);
    emu::i2c::answer_as_mode(static_cast<int>(options.goggle_mode));
    emu::fb::set_pan_hook(on_pan, this);
    if (files_.replaying()) {
        emu::replay::play(files_.replay().data(), files_.replay().size());
        emu::replay::pace(with_window);
    } else if (!options.record_path.empty()) {
        emu::replay::Start start;
        // Real time is kept in whole milliseconds (see replay.h).
        start.tick_us = options.virtual_time ? 1 : 1000;
        start.origin_us = emu::clock_ns() / 1000 / start.tick_us * start.tick_us;
        start.game_args = files_.game_args();
        start.has_best = files_.read_best(&start.best);
        emu::replay::record(start);
    }
    base_ms_ = emu::clock_ms();
    pilot_.start(base_ms_);
    if (game_clock_is_emulated())
        shots_.take_on_game_clock(base_ms_);
    if (!with_window && !options.game_seconds) {
        const std::int64_t last_ms = std::max(pilot_.last_step_ms(), shots_.last_ms());
        if (last_ms >= 0)
            emu::at_time(base_ms_ + last_ms + kEndMarginMs, on_end, this);
    }
}

void Session::sound_through(BuzzerWave* wave) {
    buzzer_.wave = wave;
    emu::pwm::set_change_hook(on_buzzer_change, &buzzer_);
}

void Session::on_buzzer_change(void* self) {
    auto* hook = static_cast<BuzzerHook*>(self);
    // Read and noted in one go, so that of two threads writing at once the
    // later note carries the state that stays.
    std::lock_guard<std::mutex> hold(hook->lock);
    PwmState state;
    state.enabled = emu::pwm::enabled();
    state.period_ns = emu::pwm::period_ns();
    state.duty_ns = emu::pwm::duty_ns();
    hook->wave->note_change(state, emu::host_now_ns());
}

bool Session::start() {
    if (emu::host_thread_start(&thread_, run_game, this) != 0)
        return false;
    started_ = true;
    return true;
}

void* Session::run_game(void* self) {
    auto* session = static_cast<Session*>(self);
    session->pilot_.game_thread_started();
    session->status_ = vmx_main(static_cast<int>(session->argv_.size()) - 1, session->argv_.data(),
                                *session->run_, *session->display_);
    session->finished_.store(true, std::memory_order_release);
    return nullptr;
}

int Session::finish() {
    if (started_)
        emu::host_thread_join(thread_);
    shots_.report_missed();
    if (frames_shown_.load() > 0) {
        std::fprintf(stderr, "vmxbrikon-sim: %ld frames, score %d, best %d, level %d\n",
                     frames_shown_.load(), run_->game.world.score, run_->game.world.best,
                     run_->game.world.level);
    }
    // A frame with more items than a list holds lost some of its picture:
    // the run fails, so that the tests that run the simulator see it.
    if (const long long overflowed = display_->compositor.overflowed_frames(); overflowed > 0) {
        std::fprintf(stderr, "vmxbrikon-sim: %lld frames had more items than a list holds\n",
                     overflowed);
        if (status_ == 0)
            status_ = 1;
    }
    if (!options_.record_path.empty() && !write_replay() && status_ == 0)
        status_ = 1;
    if (emu::replay::playing() && emu::replay::ran_out()) {
        std::fprintf(stderr,
                     "vmxbrikon-sim: the replay ended before the game; the game was "
                     "stopped there\n");
    }
    frame_log_.close();
    files_.tidy();
    return status_;
}

bool Session::write_replay() const {
    if (emu::replay::record_full()) {
        std::fprintf(stderr,
                     "vmxbrikon-sim: the replay keeps only the run's beginning (a replay holds "
                     "at most %zu bytes)\n",
                     emu::replay::kMaxBytes);
    }
    if (write_file(options_.record_path, emu::replay::recorded()))
        return true;
    std::fprintf(stderr, "vmxbrikon-sim: cannot write the replay %s\n",
                 options_.record_path.c_str());
    return false;
}

bool Session::game_clock_is_emulated() const {
    return options_.virtual_time || files_.replaying();
}

bool Session::screenshots_from_front_end() const {
    return !game_clock_is_emulated() && shots_.any();
}

void Session::take_due_screenshots(const std::uint32_t* area) {
    if (screenshots_from_front_end())
        shots_.take_due(area, elapsed_ms());
}

std::int64_t Session::elapsed_ms() const {
    // In real time the game's clock is the monotonic clock; asking the
    // emulator would run the game's timed actions on this thread.
    const std::int64_t now_ms =
        game_clock_is_emulated() ? emu::clock_ms() : emu::host_now_ns() / 1000000;
    return now_ms - base_ms_;
}

void Session::on_pan(void* self) {
    auto* session = static_cast<Session*>(self);
    session->keep_game_replay();
    session->take_glance();
    session->pilot_.between_frames();
    // The pan back to line 0 at shutdown shows the console, not a frame:
    // the viewer keeps the game's last picture.
    const int page = emu::fb::shown_page();
    if (page < 0)
        return;
    const long frame = session->frames_shown_.fetch_add(1, std::memory_order_relaxed) + 1;
    session->publish_frame(page);
    session->frame_log_.note(frame, emu::fb::displayed_area(), displayed_row_pixels());
}

// A page beyond the device's memory has nothing to show. The page just
// shown was the one composed last; the viewer is told where it differs from
// the page shown before.
void Session::publish_frame(int page) {
    const std::uint32_t* area = emu::fb::displayed_area();
    if (frames_ == nullptr || area == nullptr)
        return;
    display_->compositor.changed_since(published_page_, page, published_changes_);
    frames_->publish(area, displayed_row_pixels(), &published_changes_);
    published_page_ = page;
}

Session::Glance Session::glance() const {
    std::lock_guard<std::mutex> hold(glance_lock_);
    return glance_;
}

// On the game's main thread, between its frames: the World is still.
void Session::take_glance() {
    const Game& game = run_->game;
    std::lock_guard<std::mutex> hold(glance_lock_);
    glance_ = Glance{static_cast<int>(game.world.phase),
                     game.paused,
                     game.world.score,
                     game.world.best,
                     game.world.level,
                     game.world.lives,
                     static_cast<int>(game.world.paddle_x),
                     pilot_.demo_played(),
                     pilot_.presses(),
                     pilot_.playing()};
}

// On the game's main thread, between its frames: when a game has just
// ended, the run's replay up to here is kept for the front end to offer.
void Session::keep_game_replay() {
    const bool over = run_->game.world.phase == Phase::GameOver;
    const bool just_over = over && !game_over_seen_;
    game_over_seen_ = over;
    if (!just_over || !emu::replay::recording())
        return;
    std::vector<std::uint8_t> bytes = emu::replay::recorded();
    std::lock_guard<std::mutex> hold(glance_lock_);
    last_game_replay_ = std::move(bytes);
    games_kept_ += 1;
}

std::vector<std::uint8_t> Session::last_game_replay() const {
    std::lock_guard<std::mutex> hold(glance_lock_);
    return last_game_replay_;
}

int Session::games_kept() const {
    std::lock_guard<std::mutex> hold(glance_lock_);
    return games_kept_;
}

void Session::on_end(void*) {
    raise(SIGTERM);
}

}  // namespace sim
