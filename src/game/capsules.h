#pragma once
// Falling capsules and the power-ups they give when the paddle catches them.
#include "game/outbox.h"
#include "game/world.h"

// Moves the capsules down by dt seconds and applies the ones the paddle
// catches, in order. half_width is the paddle's half-width from before this frame's
// width change.
void step_capsules(World& world, float dt, int half_width, Outbox& outbox);

// The power-up of one caught capsule.
void apply_capsule(World& world, CapsuleKind kind, Outbox& outbox);

// Adds, for each ball in order, a copy turned by +0.45 rad and one turned by
// -0.45 rad, until six balls are in play.
void split_balls(World& world);
