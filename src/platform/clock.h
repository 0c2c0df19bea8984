#pragma once
#include <cstdint>

// The game's only clock: CLOCK_MONOTONIC in whole milliseconds. Never
// negative and never wraps during a run; -1 marks an unset time.
std::int64_t now_ms();

// The same clock in whole microseconds; now_us() / 1000 is now_ms().
std::int64_t now_us();
