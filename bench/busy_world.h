#pragma once
// The benchmarks' generator and the busiest play screen built with it (the
// tests' builder, tests/support/game_world.h), and a time at which the
// blinking prompts are shown.
#include "../tests/support/game_world.h"
#include "game/rng.h"

// Elapsed time of a frame in which the blinking prompts are shown.
constexpr int kPromptShownMs = 700;

// The generator the benchmarks' worlds and star fields draw from.
inline Rng rng;
