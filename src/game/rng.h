#pragma once
#include <cstdint>

// The game's one random sequence (SplitMix64). Seeded once at start-up; the
// starfield, the level load and the launch all draw from it on the main
// thread, so what a level holds depends on how many frames came before.
void random_seed(std::uint32_t seed);

// The next value, 0 to 2^31 - 1.
std::int32_t random_draw();
