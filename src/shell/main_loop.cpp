#include "shell/main_loop.h"

#include "devices/keys.h"
#include "devices/sound.h"
#include "display/framebuffer.h"
#include "display/screens.h"
#include "game/lasers.h"
#include "game/level.h"
#include "game/motion.h"
#include "platform/clock.h"
#include "platform/os.h"
#include "platform/stop.h"

World world;
Rng game_random;
ButtonState buttons;
bool paused = false;
int run_seconds = 0;
std::int64_t start_ms = 0;

namespace {
constexpr std::int64_t kPollIntervalMs = 40;
constexpr std::int64_t kFrameIntervalMs = 33;
constexpr unsigned kPassSleepUs = 2000;
constexpr std::int64_t kExitHoldMs = 3000;
// A PLAY reading lost for this long or less does not break the hold, so a
// shaky thumb does not restart the count.
constexpr std::int64_t kHoldGapMs = 250;
constexpr float kMaxFrameSeconds = 0.1f;
constexpr std::int64_t kLevelClearPauseMs = 1600;
// The laser is charged for a whole game: subtracting a frame's dt from this
// float leaves it unchanged.
constexpr float kLaserWholeGame = 1000000000.0f;

void follow_exit_hold(ButtonCode reading) {
    if (reading == kButtonPlay) {
        std::int64_t t = now_ms();
        if (buttons.play_down_ms == -1) {
            buttons.play_down_ms = t;
            hold_tone_begin();
        }
        buttons.play_seen_ms = t;
        hold_tone_update(static_cast<int>(t - buttons.play_down_ms));
        if (t - buttons.play_down_ms >= kExitHoldMs) {
            hold_tone_confirm();
            stop_flag.store(1);
        }
    } else if (buttons.play_seen_ms != -1) {
        std::int64_t t = now_ms();
        if (t - buttons.play_seen_ms > kHoldGapMs) {
            hold_tone_stop();
            buttons.play_down_ms = -1;
            buttons.play_seen_ms = -1;
        }
    }
}

// A change is accepted on the second equal reading in a row, and a press
// is made only when a button is accepted after no button.
void debounce(ButtonCode reading) {
    if (reading == buttons.last_raw_code) {
        if (buttons.same_count >= 2) return;
        if (++buttons.same_count != 2) return;
        if (reading != buttons.stable_code) {
            if (reading != kButtonNone && buttons.stable_code == kButtonNone) {
                buttons.pressed_code = reading;
            }
            buttons.stable_code = reading;
        }
    } else {
        buttons.last_raw_code = reading;
        buttons.same_count = 1;
    }
}

void start_new_game() {
    world.lives = 3;
    world.score = 0;
    world.level = 1;
    world.levels_cleared = 0;
    world.laser_time = kLaserWholeGame;
    load_level(world, 1, game_random);
}

void act_on_phase(ButtonCode press, std::int64_t now, float dt) {
    bool middle = is_middle(press);
    switch (world.phase) {
        case Phase::Title:
            if (middle) start_new_game();
            break;
        case Phase::Serve:
            if (middle) {
                launch_balls(world, game_random);
            } else if (press == kButtonBack) {
                paused = !paused;
            }
            if (!paused) step_world(world, buttons.held_code, dt);
            break;
        case Phase::Play:
            if (press == kButtonBack) {
                paused = !paused;
            } else if (middle && paused) {
                paused = false;
            }
            if (!paused) {
                if (world.laser_time > 0 && is_middle(buttons.held_code)) fire_lasers(world);
                step_world(world, buttons.held_code, dt);
            }
            break;
        case Phase::LevelClear:
            step_world(world, kButtonNone, dt);
            if (now - world.phase_start_ms > kLevelClearPauseMs) {
                world.level += 1;
                load_level(world, world.level, game_random);
            }
            break;
        case Phase::GameOver:
            if (middle) world.phase = Phase::Title;
            break;
    }
}
}  // namespace

void poll_buttons(std::int64_t now) { handle_reading(keys_read(), now); }

void handle_reading(int reading, std::int64_t now) {
    if (reading < 0) {
        // A disturbed sample counts as no button but neither continues nor
        // ends a PLAY hold.
        reading = kButtonNone;
    } else {
        follow_exit_hold(reading);
    }
    buttons.held_code = reading;
    debounce(reading);
    buttons.last_poll_ms = now;
}

void run_frame(std::int64_t now) {
    float dt = static_cast<float>(now - buttons.last_frame_ms) / 1000.0f;
    if (dt > kMaxFrameSeconds) dt = kMaxFrameSeconds;
    ButtonCode press = buttons.pressed_code;
    buttons.pressed_code = kButtonNone;

    act_on_phase(press, now, dt);

    int y = select_back_page();
    compose_frame(world, paused, now - start_ms, game_random);
    present_page(y);
    buttons.last_frame_ms = now;
}

void main_loop() {
    buttons.last_frame_ms = start_ms;
    for (;;) {
        std::int64_t now = now_ms();
        if (run_seconds != 0 && (now - start_ms) / 1000 >= run_seconds) return;
        if (now - buttons.last_poll_ms >= kPollIntervalMs) poll_buttons(now);
        if (now - buttons.last_frame_ms >= kFrameIntervalMs) run_frame(now);
        os::sleep_us(kPassSleepUs);
        if (stop_flag.load() != 0) return;
    }
}
