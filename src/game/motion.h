#pragma once
#include <cstdint>

#include "devices/button_code.h"
#include "game/outbox.h"
#include "game/rng.h"
#include "game/world.h"

// Sends every stuck ball off the paddle and enters Play.
void launch_balls(World& world, Rng& rng, std::int64_t now_ms, Outbox& outbox);

// Advances the whole simulation by one frame of dt seconds (at most 0.1)
// with the button currently held.
void step_world(World& world, ButtonCode button, float dt, std::int64_t now_ms, Outbox& outbox);
