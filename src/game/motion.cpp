// STAND-IN until the game simulation lands.
#include "game/motion.h"

void launch_balls(World& world) { world.phase = Phase::Play; }

void step_world(World& /*world*/, ButtonCode /*button*/, float /*dt*/) {}
