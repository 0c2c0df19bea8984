#pragma once
#include <cstdint>

#include "devices/button_code.h"

// The ADC's registers as keys_open mapped them. The run's record holds the
// one of the game; written once at start-up and read by every poll, all on
// the main thread.
struct Adc {
    bool ready = false;
    volatile std::uint32_t* control = nullptr;
    volatile std::uint32_t* status = nullptr;
    volatile std::uint32_t* config = nullptr;
    volatile std::uint32_t* channel = nullptr;
    volatile std::uint32_t* sample = nullptr;
};

// Maps the ADC's register page once into adc; false when it cannot (the
// game then runs with no buttons).
bool keys_open(Adc& adc);

// One raw reading of the button ladder: a ButtonCode 0..8, or -1 when the
// ADC was disturbed during the sample. May sleep 9 ms.
int keys_read(const Adc& adc);

// The same reading in two halves, for a caller that goes on working while
// the ADC settles. keys_poll_begin answers as keys_read does, or
// kKeysSettling when a button may be on its way down: then the reading is
// keys_poll_finish, called kKeysSettleUs after the first sample.
constexpr int kKeysSettling = -2;
constexpr unsigned kKeysSettleUs = 9000;
int keys_poll_begin(const Adc& adc);
int keys_poll_finish(const Adc& adc);
