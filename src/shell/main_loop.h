#pragma once
// The main loop: one pass about every 2 ms, buttons polled every 40 ms,
// a frame every 33 ms, until the stop request or the run-time limit.
#include <cstdint>

#include "devices/button_code.h"
#include "devices/keys.h"
#include "devices/sound.h"
#include "display/display.h"
#include "game/game.h"
#include "platform/clock.h"

// The button state the loop keeps between polls.
struct ButtonState {
    ButtonCode held_code = kButtonNone;     // latest raw reading, handed to the simulation
    ButtonCode pressed_code = kButtonNone;  // one-shot press, consumed by the next frame
    ButtonCode last_raw_code = kButtonNone;
    int same_count = 0;                    // equal readings in a row, up to 2
    ButtonCode stable_code = kButtonNone;  // the debounced state
    std::int64_t play_down_ms = -1;        // start of the current PLAY hold
    std::int64_t play_seen_ms = -1;        // last PLAY reading of the hold
    std::int64_t last_poll_ms = 0;
    std::int64_t last_frame_ms = 0;
    // While the ADC settles after a first sample that may be a
    // button, the time its second sample is due; -1 when no poll is open.
    std::int64_t settle_due_us = -1;
};

// When the run began and how long it may last, set once by start-up
// before the loop starts.
struct RunLimit {
    int run_seconds = 0;        // 0: no limit
    std::int64_t start_ms = 0;  // now_ms just before the loop; the blinking texts count from it
};

// The run's own record: the game, the buttons, the limit, and the devices
// the main loop drives (the buttons' ADC and the exit-hold tone).
// Start-up's caller makes one (the program, or a test, the simulator or a
// benchmark that looks at it between frames) and passes it down; the main
// thread alone writes it.
struct RunState {
    Game game;
    ButtonState buttons;
    RunLimit limit;
    Adc adc;
    HoldTone hold_tone;
};

void main_loop(RunState& run, Display& display);

// The pass's share of the button polls at the pass's clock reading: every
// 40 ms a first sample, and, when it may be a button, the second one once
// it is due; each finished reading goes to handle_reading with the time its
// poll began.
void poll_buttons(ButtonState& buttons, HoldTone& hold_tone, const Adc& adc,
                  const ClockReading& clock);

// Takes one reading (a ButtonCode, or -1 for a disturbed sample) into the
// exit hold (and its tone), the held code and the debounce.
void handle_reading(ButtonState& buttons, HoldTone& hold_tone, int reading, std::int64_t now);

// One frame at the pass's time now (exposed for tests): the game's rules,
// their requests carried out, then the picture composed and shown.
void run_frame(RunState& run, Display& display, std::int64_t now);

// Carries out a frame's requests in order: tones to the sound queue, the
// best score to its file.
void carry_out(const Outbox& outbox);
