#pragma once
// One frame as the main loop makes it, without the pan, for the benchmarks
// that measure a whole frame: the stars move on (drawing from the
// benchmarks' generator), then compose_frame describes the frame and
// composes it into page.
#include <cstdint>

#include "busy_world.h"
#include "display/display.h"
#include "game/stars.h"

inline void next_frame(Display& display, Starfield& stars, const World& world, bool paused,
                       const Page& page) {
    move_stars(stars, rng);
    compose_frame(display.compositor, page, world, stars, paused, kPromptShownMs);
}
