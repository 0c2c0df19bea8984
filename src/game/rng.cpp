#include "game/rng.h"

void random_seed(Rng& rng, std::uint32_t seed) {
    rng.state = seed;
}

std::int32_t random_draw(Rng& rng) {
    rng.state += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = rng.state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<std::int32_t>(z >> 33);
}
