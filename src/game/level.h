#pragma once
#include <cstdint>

#include "game/outbox.h"
#include "game/rng.h"
#include "game/world.h"

// Sets up the brick grid and the moving parts for a level (1 and up) and
// enters Serve. Draws from the game's random sequence.
void load_level(World& world, int level, Rng& rng, std::int64_t now_ms);

// Applies one hit to the brick in a cell whose kind is nonzero.
void hit_brick(World& world, int column, int row, Outbox& outbox);
