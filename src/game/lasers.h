#pragma once
#include <cstdint>

#include "game/outbox.h"
#include "game/world.h"

// Fires a pair of shots from the paddle's ends, if the laser is charged,
// at most two shots are in flight and the last volley is old enough.
void fire_lasers(World& world, std::int64_t now_ms, Outbox& outbox);

// Moves the shots up by dt seconds; a shot that reaches the ceiling is
// gone, one that meets a brick hits it and is used up.
void step_shots(World& world, float dt, Outbox& outbox);
