#include "sim/pilot.h"

#include <algorithm>
#include <csignal>

#include "emulator/adc_device.h"
#include "emulator/emulator.h"
#include "emulator/host_clock.h"

namespace sim {
namespace {

// Pointer steering holds LEFT or RIGHT until the paddle's centre is this
// near the pointer, and starts again only once it is this far off. The
// paddle goes on for a poll or so after the button is let go (about 20 px at
// its speed), so it comes to rest near the pointer instead of hunting
// around it.
constexpr int kSteerStopPx = 16;
constexpr int kSteerStartPx = 28;

// The sources a player holds with their own hands.
bool players_own(InputSource source) {
    return source == InputSource::Keys || source == InputSource::Touch ||
           source == InputSource::Pointer || source == InputSource::Gamepad;
}

}  // namespace

std::uintptr_t Pilot::emu_thread_self() {
    return emu::thread_self();
}

std::string Pilot::prepare(const SimOptions& options, bool replaying) {
    virtual_time_ = options.virtual_time;
    if (replaying)
        return "";
    autoplay_ = options.autoplay;
    mode_.store(autoplay_ ? Mode::Whole : Mode::Off);
    if (options.script_path.empty())
        return "";
    return load_script(options.script_path, &script_);
}

void Pilot::start(std::int64_t base_ms) {
    base_ms_ = base_ms;
    // After the emulator's reset, whose ADC latches the held input at the
    // same sleeps: a change made here is latched at the next one.
    emu::add_sleep_hook(on_sleep, this);
    if (!script_.empty())
        emu::at_time(base_ms_ + script_[0].at_ms, on_script_step, this);
    if (autoplay_) {
        next_autoplay_ms_ = base_ms_;
        emu::at_time(next_autoplay_ms_, on_autoplay_step, this);
    }
}

void Pilot::end_demo() {
    Mode demo = Mode::Demo;
    mode_.compare_exchange_strong(demo, Mode::Off);
}

void Pilot::press(InputSource source, int key, ButtonCode button) {
    if (players_own(source))
        end_demo();
    buttons_.press(source, key, button);
}

void Pilot::steer_to(int x) {
    if (x != kNoSteering)
        end_demo();
    steer_x_.store(x);
}

void Pilot::pause_if_playing() {
    steer_x_.store(kNoSteering);
    buttons_.release_all();
    pause_wanted_.store(true);
}

// A pause is one press of BACK, asked for only while a ball is in play: in
// a game already paused, BACK would resume it.
void Pilot::between_frames() {
    if (!pause_wanted_.exchange(false))
        return;
    const Game& game = run_.game;
    if (game.world.phase == Phase::Play && !game.paused) {
        buttons_.press(InputSource::Pause, 0, kButtonBack);
        buttons_.release(InputSource::Pause, 0);
    }
}

// On the game's main thread: LEFT or RIGHT towards the pointer, from where
// the paddle is now. The button held is kept (steering_), so that a paddle
// on its way goes on to the nearer mark.
void Pilot::steer() {
    const int target = steer_x_.load();
    ButtonCode wanted = kButtonNone;
    if (target != kNoSteering) {
        const int offset = target - static_cast<int>(run_.game.world.paddle_x);
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
void Pilot::update_buttons(std::int64_t now_ms, bool on_main_thread) {
    const bool still = on_main_thread || virtual_time_;
    if (on_main_thread)
        steer();
    const ButtonCode accepted = still ? run_.buttons.stable_code : InputArbiter::kUnknown;
    emu::adc::hold_button(buttons_.reading(now_ms, accepted));
}

void Pilot::on_sleep(void* self, std::int64_t wake_ns) {
    auto* pilot = static_cast<Pilot*>(self);
    if (pilot->on_game_thread())
        pilot->update_buttons(wake_ns / 1000000, true);
}

void Pilot::on_script_step(void* self) {
    auto* pilot = static_cast<Pilot*>(self);
    const std::vector<ScriptEvent>& script = pilot->script_;
    const std::int64_t now = script[pilot->next_event_].at_ms;
    while (pilot->next_event_ < script.size() && script[pilot->next_event_].at_ms == now) {
        const ScriptEvent& event = script[pilot->next_event_++];
        if (event.kind == ScriptEvent::Kind::Signal) {
            // Raised on this game thread, so the handler has run before the
            // game goes on: the same script stops at the same point.
            raise(event.signal_number);
        } else {
            pilot->buttons_.hold(InputSource::Script, event.button);
        }
    }
    pilot->update_buttons(pilot->base_ms_ + now, pilot->on_game_thread());
    if (pilot->next_event_ < script.size())
        emu::at_time(pilot->base_ms_ + script[pilot->next_event_].at_ms, on_script_step, self);
}

void Pilot::on_autoplay_step(void* self) {
    auto* pilot = static_cast<Pilot*>(self);
    std::int64_t now = pilot->next_autoplay_ms_;
    if (!pilot->virtual_time_) {
        // In virtual time every game thread waits while this runs. In real
        // time it runs inside a game thread's clock call, and only on the
        // main game thread is the World still while it is read.
        now = std::max(now, emu::host_now_ns() / 1000000);
        if (!pilot->on_game_thread()) {
            pilot->next_autoplay_ms_ = now + 1;
            emu::at_time(pilot->next_autoplay_ms_, on_autoplay_step, self);
            return;
        }
    }
    const Game& game = pilot->run_.game;
    const bool playing = pilot->playing();
    if (!playing) {
        pilot->buttons_.hold(InputSource::Autoplay, kButtonNone);
    } else if (!pilot->buttons_.others_decide()) {
        pilot->buttons_.hold(InputSource::Autoplay,
                             autoplay_decide(game.world, game.paused, now - pilot->base_ms_,
                                             pilot->autoplay_state_));
    }
    // A game the built-in player played in, even for a while, is not the
    // player's own, however it goes on; the next one starts at the title.
    if (game.world.phase == Phase::Title)
        pilot->demo_played_ = false;
    else if (playing)
        pilot->demo_played_ = true;
    pilot->update_buttons(now, pilot->on_game_thread());
    pilot->next_autoplay_ms_ = now + kAutoplayStepMs;
    emu::at_time(pilot->next_autoplay_ms_, on_autoplay_step, self);
}

}  // namespace sim
