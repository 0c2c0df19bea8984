#pragma once
// Composition of every frame: the starfield behind everything, then the
// title screen or the play screen with its status line and overlays.
#include <cstdint>

#include "game/stars.h"
#include "game/world.h"

class DisplayList;

// Lists the frame of the world, the stars behind it and the pause into
// list, in painter's order; reads nothing else and changes nothing but the
// list. elapsed_ms counts from the start of the main loop and drives the
// blinking texts, so their rhythm follows the program's start, not the
// moment a text appears.
void describe_frame(DisplayList& list, const World& world, const Starfield& stars, bool paused,
                    std::int64_t elapsed_ms);
