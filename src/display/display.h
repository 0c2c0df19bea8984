#pragma once
// The display of a run: the framebuffer and its pages, and the compositor
// that draws into them and owns the lists frames are described in.
// Start-up makes one and passes it down; the main thread alone uses it.
// Each frame goes world -> display list -> compositor -> page -> pan.
#include <cstdint>

#include "display/compositor.h"
#include "display/draw.h"
#include "display/framebuffer.h"
#include "game/stars.h"
#include "game/world.h"

struct Display {
    Framebuffer framebuffer;
    Compositor compositor;
};

// Opens the framebuffer (see open_framebuffer); whatever the pages hold
// then was not drawn by this run.
FbOpen open_display(Display& display, bool probe_only);

// Describes the frame of the world, the stars and the pause at elapsed_ms
// into the compositor's next list and composes it into page. Reads the
// game's records; writes only the page and the compositor. The one way a
// frame is made, for the display, the tests and the benchmarks alike.
void compose_frame(Compositor& compositor, const Page& page, const World& world,
                   const Starfield& stars, bool paused, std::int64_t elapsed_ms);

// Composes the frame into the page not on display and pans to that page;
// after a refused pan the compositor forgets what the pages hold.
void show_frame(Display& display, const World& world, const Starfield& stars, bool paused,
                std::int64_t elapsed_ms);
