#include "sim/session.h"

#include <ftw.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "emulator/adc_device.h"
#include "emulator/emulator.h"
#include "emulator/framebuffer_device.h"
#include "emulator/i2c_device.h"
#include "emulator/pwm_device.h"
#include "emulator/replay.h"
#include "png_image.h"
#include "shell/high_score.h"
#include "shell/main_loop.h"
#include "shell/startup.h"
#include "sim/buzzer_wave.h"
#include "sim/frame_store.h"

namespace sim {
namespace {

// A headless run without --seconds ends this long after its last scripted
// step or screenshot, so that the last picture is surely saved.
constexpr std::int64_t kEndMarginMs = 100;
// Pointer steering holds LEFT or RIGHT until the paddle's centre is this
// near the pointer, and starts again only once it is this far off. The
// paddle goes on for a poll or so after the button is let go (about 20 px at
// its speed), so it comes to rest near the pointer instead of hunting
// around it.
constexpr int kSteerStopPx = 16;
constexpr int kSteerStartPx = 28;

// The session whose buttons follow the game's sleeps (one per process).
Session* sleeping_session = nullptr;

bool is_dir(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Where a player's best score stays between windowed runs.
std::string state_dir() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && *state)
        return std::string(state) + "/vmxbrikon-sim";
    const char* home = std::getenv("HOME");
    if (home && *home)
        return std::string(home) + "/.local/state/vmxbrikon-sim";
    return "";
}

std::string temporary_dir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vmxbrikon-sim-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back(0);
    if (mkdtemp(name.data()) == nullptr)
        return "";
    return name.data();
}

void remove_tree(const std::string& path) {
    nftw(
        path.c_str(),
        [](const char* name, const struct stat*, int, struct FTW*) { return std::remove(name); },
        16, FTW_DEPTH | FTW_PHYS);
}

std::mutex buzzer_hook_lock;

// The pitch of the emulated framebuffer's rows, in pixels.
std::size_t displayed_row_pixels() {
    return emu::fb::settings().line_length / 4;
}

// The folder a file is to be written in, made as --out makes its own.
void make_parent(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0)
        emu::make_dirs(path.substr(0, slash).c_str());
}

// A file's bytes, up to one more than a replay may have (so that a larger
// file is known as one); "" or why it cannot be read.
std::string read_replay_file(const std::string& path, std::vector<std::uint8_t>* bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return "cannot open it";
    bytes->resize(emu::replay::kMaxBytes + 1);
    bytes->resize(std::fread(bytes->data(), 1, bytes->size(), file));
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return failed ? "cannot read it" : "";
}

// The best-score file's content, as a replay keeps it: up to its limit.
bool read_best(const std::string& path, std::string* best) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    best->resize(emu::replay::kMaxBestBytes);
    best->resize(std::fread(best->data(), 1, best->size(), file));
    std::fclose(file);
    return true;
}

// A frame's fingerprint: FNV-1a over the drawing area's pixels.
std::uint64_t frame_hash(const std::uint32_t* area, std::size_t row_pixels) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (int y = 0; y < kAreaHeight; ++y) {
        const std::uint32_t* row = area + static_cast<std::size_t>(y) * row_pixels;
        for (int x = 0; x < kAreaWidth; ++x)
            hash = (hash ^ row[x]) * 0x100000001b3ull;
    }
    return hash;
}

}  // namespace

std::string Session::prepare(const SimOptions& options, bool with_window) {
    options_ = options;
    const bool replaying = !options.replay_path.empty();
    std::vector<std::uint8_t> replay;
    emu::replay::Start replay_start;
    if (replaying) {
        std::string reason = read_replay_file(options.replay_path, &replay);
        if (reason.empty())
            reason = emu::replay::read(replay.data(), replay.size(), &replay_start);
        if (!reason.empty())
            return "cannot replay " + options.replay_path + ": " + reason;
        // The replay's inputs are the only ones.
        options_.game_args = replay_start.game_args;
        options_.script_path.clear();
        options_.autoplay = false;
    }
    if (!options.record_path.empty())
        make_parent(options.record_path);
    if (!options.frame_log_path.empty()) {
        make_parent(options.frame_log_path);
        frame_log_ = std::fopen(options.frame_log_path.c_str(), "w");
        if (frame_log_ == nullptr)
            return "cannot write " + options.frame_log_path;
    }
    if (!options_.script_path.empty()) {
        std::string reason = load_script(options.script_path, &script_);
        if (!reason.empty())
            return reason;
    }
    if (!options.out_dir.empty()) {
        emu::make_dirs(options.out_dir.c_str());
        if (!is_dir(options.out_dir))
            return "cannot make the folder " + options.out_dir;
    }

    data_dir_ = options.data_dir;
    if (data_dir_.empty() && with_window && !options.virtual_time && !replaying)
        data_dir_ = state_dir();
    if (data_dir_.empty()) {
        data_dir_ = temporary_dir();
        temporary_data_ = true;
        if (data_dir_.empty())
            return "cannot make a temporary folder";
    }
    // The goggles have the high-score folder; the game never makes it.
    const std::string score_dir = data_dir_ + kHighScoreDir;
    emu::make_dirs(score_dir.c_str());
    if (!is_dir(score_dir))
        return "cannot make the folder " + score_dir;

    const std::string best_path = data_dir_ + kHighScorePath;
    if (replaying && replay_start.has_best) {
        std::FILE* file = std::fopen(best_path.c_str(), "wb");
        if (file == nullptr)
            return "cannot write " + best_path;
        std::fwrite(replay_start.best.data(), 1, replay_start.best.size(), file);
        std::fclose(file);
    }

    argv_text_ = {"vmxbrikon"};
    argv_text_.insert(argv_text_.end(), options_.game_args.begin(), options_.game_args.end());
    for (const std::string& arg : argv_text_)
        argv_.push_back(arg.c_str());
    argv_.push_back(nullptr);

    emu::reset();
    emu::set_sandbox(data_dir_.c_str());
    emu::echo_stderr(true);
    emu::use_virtual_time(options.virtual_time);
    emu::i2c::answer_as_mode(static_cast<int>(options.goggle_mode));
    emu::fb::set_pan_hook(on_pan, this);
    // After the emulator's reset, whose ADC latches the held input at the
    // same sleeps: a change made here is latched at the next one.
    sleeping_session = this;
    emu::add_sleep_hook(on_sleep);
    if (replaying) {
        emu::replay::play(replay.data(), replay.size());
        emu::replay::pace(with_window);
    } else if (!options.record_path.empty()) {
        emu::replay::Start start;
        // Real time is kept in whole milliseconds (see replay.h).
        start.tick_us = options.virtual_time ? 1 : 1000;
        start.origin_us = emu::clock_ns() / 1000 / start.tick_us * start.tick_us;
        start.game_args = options.game_args;
        start.has_best = read_best(best_path, &start.best);
        emu::replay::record(start);
    }
    base_ms_ = emu::clock_ms();

    if (!script_.empty())
        emu::at_time(base_ms_ + script_[0].at_ms, on_script_step, this);
    if (options_.autoplay) {
        next_autoplay_ms_ = base_ms_;
        emu::at_time(next_autoplay_ms_, on_autoplay_step, this);
    }
    if (!options.screenshot_ms.empty() && (options.virtual_time || replaying)) {
        emu::at_time(base_ms_ + options.screenshot_ms[0], on_screenshot, this);
    }
    if (!with_window && !options.game_seconds) {
        std::int64_t last_ms = -1;
        if (!script_.empty())
            last_ms = script_.back().at_ms;
        if (!options.screenshot_ms.empty()) {
            last_ms = std::max(last_ms, options.screenshot_ms.back());
        }
        if (last_ms >= 0)
            emu::at_time(base_ms_ + last_ms + kEndMarginMs, on_end, this);
    }
    return "";
}

void Session::show_frames_in(FrameStore* frames) {
    frames_ = frames;
}

void Session::sound_through(BuzzerWave* wave) {
    emu::pwm::set_change_hook(
        [](void* context) {
            // Read and noted in one go, so that of two threads writing at
            // once the later note carries the state that stays.
            std::lock_guard<std::mutex> hold(buzzer_hook_lock);
            PwmState state;
            state.enabled = emu::pwm::enabled();
            state.period_ns = emu::pwm::period_ns();
            state.duty_ns = emu::pwm::duty_ns();
            struct timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            static_cast<BuzzerWave*>(context)->note_change(
                state, std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec);
        },
        wave);
}

bool Session::start() {
    if (emu::host_thread_start(&thread_, run_game, this) != 0)
        return false;
    started_ = true;
    return true;
}

void* Session::run_game(void* self) {
    auto* session = static_cast<Session*>(self);
    session->game_thread_id_.store(emu::thread_self());
    session->status_ = vmx_main(static_cast<int>(session->argv_.size()) - 1, session->argv_.data(),
                                *session->run_, *session->display_);
    session->finished_.store(true, std::memory_order_release);
    return nullptr;
}

int Session::finish() {
    if (started_)
        emu::host_thread_join(thread_);
    if (next_shot_ < options_.screenshot_ms.size()) {
        std::fprintf(stderr, "vmxbrikon-sim: the game ended before the screenshot at %lld ms\n",
                     static_cast<long long>(options_.screenshot_ms[next_shot_]));
    }
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
    if (frame_log_ != nullptr) {
        std::fclose(frame_log_);
        frame_log_ = nullptr;
    }
    if (temporary_data_)
        remove_tree(data_dir_);
    return status_;
}

bool Session::screenshots_from_front_end() const {
    return !game_clock_is_emulated() && !options_.screenshot_ms.empty();
}

bool Session::game_clock_is_emulated() const {
    return options_.virtual_time || !options_.replay_path.empty();
}

bool Session::write_replay() {
    const std::vector<std::uint8_t> bytes = emu::replay::recorded();
    if (emu::replay::record_full()) {
        std::fprintf(stderr,
                     "vmxbrikon-sim: the replay keeps only the run's beginning (a replay holds "
                     "at most %zu bytes)\n",
                     emu::replay::kMaxBytes);
    }
    std::FILE* file = std::fopen(options_.record_path.c_str(), "wb");
    bool written =
        file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (file != nullptr && std::fclose(file) != 0)
        written = false;
    if (!written) {
        std::fprintf(stderr, "vmxbrikon-sim: cannot write the replay %s\n",
                     options_.record_path.c_str());
    }
    return written;
}

std::vector<std::uint8_t> Session::last_game_replay() const {
    std::lock_guard<std::mutex> hold(glance_lock_);
    return last_game_replay_;
}

void Session::take_due_screenshots(const std::uint32_t* area) {
    if (!screenshots_from_front_end() || area == nullptr)
        return;
    const std::int64_t elapsed = elapsed_ms();
    while (next_shot_ < options_.screenshot_ms.size() &&
           options_.screenshot_ms[next_shot_] <= elapsed) {
        save_screenshot(options_.screenshot_ms[next_shot_++], area, kAreaWidth);
    }
}

std::int64_t Session::real_ms() const {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

std::int64_t Session::elapsed_ms() const {
    // In real time the game's clock is the monotonic clock; asking the
    // emulator would run the game's timed actions on this thread.
    return (game_clock_is_emulated() ? emu::clock_ms() : real_ms()) - base_ms_;
}

bool Session::on_game_thread() const {
    return emu::thread_self() == game_thread_id_.load();
}

bool Session::save_screenshot(std::int64_t at_ms, const std::uint32_t* area,
                              std::size_t row_pixels) {
    char name[64];
    std::snprintf(name, sizeof name, "/frame-%06lld.png", static_cast<long long>(at_ms));
    const std::string path = options_.out_dir + name;
    // The writer reports its own failures.
    return png::save_area(path.c_str(), area, row_pixels, kAreaWidth, kAreaHeight);
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
                     demo_played_,
                     buttons_.presses()};
}

// A pause is one press of BACK, asked for only while a ball is in play.
void Session::carry_out_pause() {
    if (!pause_wanted_.exchange(false))
        return;
    const Game& game = run_->game;
    if (game.world.phase == Phase::Play && !game.paused) {
        buttons_.press(InputSource::Pause, 0, kButtonBack);
        buttons_.release(InputSource::Pause, 0);
    }
}

// On the game's main thread: LEFT or RIGHT towards the pointer, from where
// the paddle is now.
void Session::steer() {
    const int target = steer_x_.load();
    ButtonCode wanted = kButtonNone;
    if (target != kNoSteering) {
        const int offset = target - static_cast<int>(run_->game.world.paddle_x);
        const int moving = steering_ == kButtonLeft ? -offset : offset;
        if (steering_ != kButtonNone && moving > kSteerStopPx)
            wanted = steering_;
        else if (offset > kSteerStartPx)
            wanted = kButtonRight;
        else if (offset < -kSteerStartPx)
            wanted = kButtonLeft;
    }
    if (wanted != steering_) {
        steering_ = wanted;
        buttons_.hold(InputSource::Pointer, wanted);
    }
}

// The emulated ADC takes the arbiter's reading. The game's accepted button
// is read only where the game's buttons are still: on its main thread, or
// in virtual time, where every game thread waits while the clock's actions
// run.
void Session::update_buttons(std::int64_t now_ms, bool on_main_thread) {
    const bool still = on_main_thread || options_.virtual_time;
    if (on_main_thread)
        steer();
    const ButtonCode accepted = still ? run_->buttons.stable_code : InputArbiter::kUnknown;
    emu::adc::hold_button(buttons_.reading(now_ms, accepted));
}

void Session::on_sleep(std::int64_t wake_ns) {
    Session* session = sleeping_session;
    if (session != nullptr && session->on_game_thread())
        session->update_buttons(wake_ns / 1000000, true);
}

void Session::on_pan(void* self) {
    auto* session = static_cast<Session*>(self);
    session->keep_game_replay();
    session->take_glance();
    session->carry_out_pause();
    // The pan back to line 0 at shutdown shows the console, not a frame:
    // the viewer keeps the game's last picture.
    const int page = emu::fb::shown_page();
    if (page < 0)
        return;
    session->frames_shown_.fetch_add(1, std::memory_order_relaxed);
    if (session->frames_) {
        // A page beyond the device's memory has nothing to show. The page
        // just shown was the one composed last; the viewer is told where it
        // differs from the page shown before.
        if (const std::uint32_t* area = emu::fb::displayed_area()) {
            Damage& changes = session->published_changes_;
            session->display_->compositor.changed_since(session->published_page_, page, changes);
            session->frames_->publish(area, displayed_row_pixels(), &changes);
            session->published_page_ = page;
        }
    }
    if (session->frame_log_ != nullptr) {
        const std::uint32_t* area = emu::fb::displayed_area();
        std::fprintf(session->frame_log_, "%ld %016llx\n", session->frames_shown_.load(),
                     area
                         ? static_cast<unsigned long long>(frame_hash(area, displayed_row_pixels()))
                         : 0ull);
    }
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

void Session::on_script_step(void* self) {
    auto* session = static_cast<Session*>(self);
    const std::int64_t now = session->script_[session->next_event_].at_ms;
    while (session->next_event_ < session->script_.size() &&
           session->script_[session->next_event_].at_ms == now) {
        const ScriptEvent& event = session->script_[session->next_event_++];
        if (event.kind == ScriptEvent::Kind::Signal) {
            // Raised on this game thread, so the handler has run before the
            // game goes on: the same script stops at the same point.
            raise(event.signal_number);
        } else {
            session->buttons_.hold(InputSource::Script, event.button);
        }
    }
    session->update_buttons(session->base_ms_ + now, session->on_game_thread());
    if (session->next_event_ < session->script_.size()) {
        emu::at_time(session->base_ms_ + session->script_[session->next_event_].at_ms,
                     on_script_step, self);
    }
}

void Session::on_autoplay_step(void* self) {
    auto* session = static_cast<Session*>(self);
    std::int64_t now = session->next_autoplay_ms_;
    if (!session->options_.virtual_time) {
        // In virtual time every game thread waits while this runs. In real
        // time it runs inside a game thread's clock call, and only on the
        // main game thread is the World still while it is read.
        now = std::max(now, session->real_ms());
        if (!session->on_game_thread()) {
            session->next_autoplay_ms_ = now + 1;
            emu::at_time(session->next_autoplay_ms_, on_autoplay_step, self);
            return;
        }
    }
    const Game& game = session->run_->game;
    const bool playing = session->autoplay_on_.load();
    if (!playing) {
        session->buttons_.hold(InputSource::Autoplay, kButtonNone);
    } else if (!session->buttons_.others_decide()) {
        session->buttons_.hold(
            InputSource::Autoplay,
            autoplay_decide(game.world, game.paused, now - session->base_ms_, session->autoplay_));
    }
    // A game the built-in player played in, even for a while, is not the
    // player's own; the next one starts at the title screen.
    if (game.world.phase == Phase::Title)
        session->demo_played_ = false;
    else if (playing)
        session->demo_played_ = true;
    session->update_buttons(now, session->on_game_thread());
    session->next_autoplay_ms_ = now + kAutoplayStepMs;
    emu::at_time(session->next_autoplay_ms_, on_autoplay_step, self);
}

void Session::on_screenshot(void* self) {
    auto* session = static_cast<Session*>(self);
    const auto& times = session->options_.screenshot_ms;
    session->save_screenshot(times[session->next_shot_], emu::fb::displayed_area(),
                             displayed_row_pixels());
    session->next_shot_ += 1;
    if (session->next_shot_ < times.size()) {
        emu::at_time(session->base_ms_ + times[session->next_shot_], on_screenshot, self);
    }
}

void Session::on_end(void*) {
    raise(SIGTERM);
}

}  // namespace sim
