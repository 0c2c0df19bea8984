// STAND-IN until the button ladder lands: no converter, so no buttons.
#include "devices/keys.h"

int keys_open() { return -1; }

int keys_read() { return kButtonNone; }
