#pragma once
// The host machine's monotonic clock, read in one place. The emulated
// clock, the sound paths and the front ends all stamp real moments with it,
// so a buzzer change and the samples that carry it are measured alike.
#include <cstdint>

namespace emu {

// CLOCK_MONOTONIC in nanoseconds.
std::int64_t host_now_ns();

}  // namespace emu
