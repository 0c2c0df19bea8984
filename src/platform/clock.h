#pragma once
#include <cstdint>

// The game's only clock: CLOCK_MONOTONIC in whole milliseconds. Never
// negative and never wraps during a run; -1 marks an unset time.
std::int64_t now_ms();

// One reading of the clock in both units (ms is us / 1000). Both are worked
// out from the seconds and nanoseconds without dividing a 64-bit number,
// which 32-bit ARM does in a slow library call, so the main loop reads it
// on every pass.
struct ClockReading {
    std::int64_t us = 0;
    std::int64_t ms = 0;
};
ClockReading read_clock();
