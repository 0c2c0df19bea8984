#pragma once
#include "game/world.h"

// Places the 70 stars with the random sequence's first 210 draws.
void init_starfield();

// Draws the whole frame for the world into back_page. elapsed_ms counts from
// the start of the main loop and drives the blinking texts.
void compose_frame(const World& world, bool paused, int elapsed_ms);
