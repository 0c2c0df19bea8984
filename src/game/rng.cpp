#include "game/rng.h"

namespace {
std::uint64_t random_state = 0;
}

void random_seed(std::uint32_t seed) { random_state = seed; }

std::int32_t random_draw() {
    random_state += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = random_state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<std::int32_t>(z >> 33);
}
