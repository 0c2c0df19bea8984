#pragma once
#include "devices/button_code.h"

// Maps the ADC's register page once; false when it cannot (the game
// then runs with no buttons).
bool keys_open();

// One raw reading of the button ladder: a ButtonCode 0..8, or -1 when the
// ADC was disturbed during the sample. May sleep 9 ms.
int keys_read();

// The same reading in two halves, for a caller that goes on working while
// the ADC settles. keys_poll_begin answers as keys_read does, or
// kKeysSettling when a button may be on its way down: then the reading is
// keys_poll_finish, called kKeysSettleUs after the first sample.
constexpr int kKeysSettling = -2;
constexpr unsigned kKeysSettleUs = 9000;
int keys_poll_begin();
int keys_poll_finish();
