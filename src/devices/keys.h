#pragma once
#include <cstdint>

#include "devices/button_code.h"

// The converter's registers as keys_open mapped them. The run's record
// holds the one of the game; written once at start-up and read by every
// poll, all on the main thread.
struct Keys {
    bool ready = false;
    volatile std::uint32_t* control = nullptr;
    volatile std::uint32_t* status = nullptr;
    volatile std::uint32_t* config = nullptr;
    volatile std::uint32_t* channel = nullptr;
    volatile std::uint32_t* sample = nullptr;
};

// Maps the converter's register page once into keys; false when it cannot
// (the game then runs with no buttons).
bool keys_open(Keys& keys);

// One raw reading of the button ladder: a ButtonCode 0..8, or -1 when the
// converter was disturbed during the sample. May sleep 9 ms.
int keys_read(const Keys& keys);

// The same reading in two halves, for a caller that goes on working while
// the converter settles. keys_poll_begin answers as keys_read does, or
// kKeysSettling when a button may be on its way down: then the reading is
// keys_poll_finish, called kKeysSettleUs after the first sample.
constexpr int kKeysSettling = -2;
constexpr unsigned kKeysSettleUs = 9000;
int keys_poll_begin(const Keys& keys);
int keys_poll_finish(const Keys& keys);
