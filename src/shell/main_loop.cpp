#include "shell/main_loop.h"

#include "devices/keys.h"
#include "devices/sound.h"
#include "display/display.h"
#include "platform/clock.h"
#include "platform/os.h"
#include "platform/stop.h"
#include "shell/high_score.h"

namespace {
constexpr std::int64_t kPollIntervalMs = 40;
constexpr std::int64_t kFrameIntervalMs = 33;
constexpr unsigned kPassSleepUs = 2000;
// A PLAY reading lost for this long or less does not break the hold, so a
// shaky thumb does not restart the count.
constexpr std::int64_t kHoldGapMs = 250;
constexpr float kMaxFrameSeconds = 0.1f;

void follow_exit_hold(ButtonState& buttons, HoldTone& hold_tone, ButtonCode reading) {
    if (reading == kButtonPlay) {
        std::int64_t t = now_ms();
        if (buttons.play_down_ms == -1) {
            buttons.play_down_ms = t;
            hold_tone_begin(hold_tone);
        }
        buttons.play_seen_ms = t;
        hold_tone_update(hold_tone, static_cast<int>(t - buttons.play_down_ms));
        if (t - buttons.play_down_ms >= kExitHoldMs) {
            hold_tone_confirm(hold_tone);
            stop_flag.store(1);
        }
    } else if (buttons.play_seen_ms != -1) {
        std::int64_t t = now_ms();
        if (t - buttons.play_seen_ms > kHoldGapMs) {
            hold_tone_stop(hold_tone);
            buttons.play_down_ms = -1;
            buttons.play_seen_ms = -1;
        }
    }
}

// A change is accepted on the second equal reading in a row, and a press
// is made only when a button is accepted after no button.
void debounce(ButtonState& buttons, ButtonCode reading) {
    if (reading == buttons.last_raw_code) {
        if (buttons.same_count >= 2)
            return;
        if (++buttons.same_count != 2)
            return;
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

}  // namespace

void poll_buttons(ButtonState& buttons, HoldTone& hold_tone, const Adc& adc,
                  const ClockReading& clock) {
    const std::int64_t now_in_us = clock.us;
    const std::int64_t now = clock.ms;
    // A poll that sees a button reads the ADC twice, 9 ms apart; the
    // loop goes on running frames in between instead of sleeping through
    // them, so a held button costs no frames.
    if (buttons.settle_due_us >= 0) {
        if (now_in_us >= buttons.settle_due_us) {
            buttons.settle_due_us = -1;
            handle_reading(buttons, hold_tone, keys_poll_finish(adc), buttons.last_poll_ms);
        }
        return;
    }
    if (now - buttons.last_poll_ms < kPollIntervalMs)
        return;
    int reading = keys_poll_begin(adc);
    if (reading == kKeysSettling) {
        buttons.last_poll_ms = now;
        buttons.settle_due_us = now_in_us + kKeysSettleUs;
    } else {
        handle_reading(buttons, hold_tone, reading, now);
    }
}

void handle_reading(ButtonState& buttons, HoldTone& hold_tone, int reading, std::int64_t now) {
    if (reading < 0) {
        // A disturbed sample counts as no button but neither continues nor
        // ends a PLAY hold.
        reading = kButtonNone;
    } else {
        follow_exit_hold(buttons, hold_tone, reading);
    }
    buttons.held_code = reading;
    debounce(buttons, reading);
    buttons.last_poll_ms = now;
}

void run_frame(RunState& run, Display& display, std::int64_t now) {
    ButtonState& buttons = run.buttons;
    float dt = static_cast<float>(now - buttons.last_frame_ms) / 1000.0f;
    if (dt > kMaxFrameSeconds)
        dt = kMaxFrameSeconds;
    FrameInput input;
    input.held = buttons.held_code;
    input.pressed = buttons.pressed_code;
    input.now_ms = now;
    input.dt = dt;
    buttons.pressed_code = kButtonNone;

    Outbox outbox;
    play_frame(run.game, input, outbox);
    carry_out(outbox);

    show_frame(display, run.game.world, run.game.stars, run.game.paused, now - run.limit.start_ms);
    buttons.last_frame_ms = now;
}

void carry_out(const Outbox& outbox) {
    for (int i = 0; i < outbox.count; ++i) {
        const Request& request = outbox.requests[i];
        switch (request.kind) {
            case Request::Kind::Tone:
                sfx_play(request.tone.freq_hz, request.tone.duration_ms);
                break;
            case Request::Kind::SaveBest:
                save_high_score(request.best);
                break;
        }
    }
}

void main_loop(RunState& run, Display& display) {
    ButtonState& buttons = run.buttons;
    const RunLimit& limit = run.limit;
    buttons.last_frame_ms = limit.start_ms;
    for (;;) {
        const ClockReading clock = read_clock();
        const std::int64_t now_in_us = clock.us;
        const std::int64_t now = clock.ms;
        if (limit.run_seconds != 0 &&
            now - limit.start_ms >= static_cast<std::int64_t>(limit.run_seconds) * 1000)
            return;
        poll_buttons(buttons, run.hold_tone, run.adc, clock);
        if (now - buttons.last_frame_ms >= kFrameIntervalMs)
            run_frame(run, display, now);
        // The pass wakes when the second sample is due, not later.
        std::int64_t sleep_us = kPassSleepUs;
        if (buttons.settle_due_us >= 0 && buttons.settle_due_us - now_in_us < sleep_us)
            sleep_us = buttons.settle_due_us - now_in_us;
        os::sleep_us(static_cast<unsigned>(sleep_us));
        if (stop_flag.load() != 0)
            return;
    }
}
