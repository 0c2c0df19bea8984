#pragma once
// One frame as the main loop makes it, without the pan, for the benchmarks
// that measure a whole frame: the stars move on (drawing from the
// benchmarks' generator), then the frame is described into the display's
// list and composed into page.
#include <cstdint>

#include "busy_world.h"
#include "display/display.h"
#include "display/screens.h"
#include "game/stars.h"

inline void compose_frame(Display& display, Starfield& stars, const World& world, bool paused,
                          std::uint32_t* page) {
    move_stars(stars, rng);
    describe_frame(*display.list, world, stars, paused, kPromptShownMs);
    display.compositor.compose(display.list, page, kPromptShownMs);
}
