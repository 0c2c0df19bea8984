#pragma once
#include "devices/button_code.h"

// Maps the converter's register page once; false when it cannot (the game
// then runs with no buttons).
bool keys_open();

// One raw reading of the button ladder: a ButtonCode 0..8, or -1 when the
// converter was disturbed during the sample. May sleep 9 ms.
int keys_read();
