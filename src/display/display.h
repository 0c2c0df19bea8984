#pragma once
// The display of a run: the framebuffer and its pages, the compositor that
// draws into them, and the list the next frame is described in. Start-up
// makes one and passes it down; the main thread alone uses it. Each frame
// goes world -> display list -> compositor -> page -> pan.
#include <cstdint>

#include "display/compositor.h"
#include "display/framebuffer.h"
#include "game/stars.h"
#include "game/world.h"

struct Display {
    Framebuffer framebuffer;
    Compositor compositor;
    // The list the next frame is described in: one of the compositor's,
    // handed back by each compose.
    DisplayList* list = compositor.first_list();
};

// Opens the framebuffer (see open_framebuffer); whatever the pages hold
// then was not drawn by this run.
FbOpen open_display(Display& display, bool probe_only);

// Describes the frame of the world, the stars and the pause at elapsed_ms
// into the display's list, composes it into the page not on display and
// pans to that page; after a refused pan the compositor forgets what the
// pages hold. What the game keeps is only read.
void show_frame(Display& display, const World& world, const Starfield& stars, bool paused,
                std::int64_t elapsed_ms);
