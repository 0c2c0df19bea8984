#pragma once

// Goggle video modes as the HDMI chip reports them.
constexpr int kGoggleModeUnknown = 0;
constexpr int kGoggleModeNormal = 1;
constexpr int kGoggleModeHdmi = 2;
constexpr int kGoggleModeAv = 3;

// True when the goggles are in exactly the required mode, so the game may
// run; writes its own messages.
bool mode_gate(int required);

// One probe of the HDMI chip over the open transport; the mode 0..3.
int mode_probe(int transport_fd);
