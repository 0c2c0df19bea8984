#pragma once
#include <cstdint>

#include "devices/tone.h"

// Queues one tone for the sound thread; never blocks, drops it when full.
// Main thread only.
void sfx_play(std::uint32_t freq_hz, std::uint32_t duration_ms);

// The sound thread's entry: plays queued tones until the stop request.
int sound_thread();

// Duty cycle 0, then disabled.
void pwm_silence();

// The exit-hold tone, driven by the main thread while PLAY is held. The
// run's record holds the one of the game.
struct HoldTone {
    bool ready = false;         // the channel could be exported at start-up
    std::uint32_t freq_hz = 0;  // the pitch sounding now, 0 when silent
};

// False when the buzzer cannot be used; the hold is then silent.
bool hold_tone_init(HoldTone& hold_tone);
void hold_tone_begin(HoldTone& hold_tone);
void hold_tone_update(HoldTone& hold_tone, int held_ms);
void hold_tone_confirm(HoldTone& hold_tone);
void hold_tone_stop(HoldTone& hold_tone);
