#pragma once
#include "devices/lt8668.h"

// True when the goggles are in exactly the required mode (a kGoggleMode),
// so the game may run; writes its own messages.
bool mode_gate(int required);

// One probe of the HDMI chip over the open transport; the mode 0..3.
int mode_probe(int transport_fd);
