#pragma once
#include <cstdint>

// The game's one random sequence (SplitMix64). Seeded once at start-up; the
// starfield, the level load and the launch all draw from the same generator
// on the main thread, so what a level holds depends on how many frames came
// before. Every function that draws takes the generator it draws from.
struct Rng {
    std::uint64_t state = 0;
};

void random_seed(Rng& rng, std::uint32_t seed);

// The next value, 0 to 2^31 - 1.
std::int32_t random_draw(Rng& rng);
