#pragma once
// The player's account: points, lives, the end of a level and of a game.
#include <cstdint>

#include "game/outbox.h"
#include "game/world.h"

// Adds the points of a destroyed brick or a level bonus; best follows the
// score at once.
void add_points(World& world, int points);

// The last ball in play is gone: one life fewer, then a new serve or, with
// no life left, game over (which stores a tied or beaten best).
void lose_life(World& world, std::int64_t now_ms, Outbox& outbox);

// The points a cleared level adds.
constexpr int kLevelBonus = 1000;

// The last breakable brick is gone: the bonus, LevelClear and the fanfare.
void clear_level(World& world, std::int64_t now_ms, Outbox& outbox);
