#pragma once
// Composition of every frame: the starfield behind everything, then the
// title screen or the play screen with its status line and overlays.
#include <cstdint>

#include "game/rng.h"
#include "game/world.h"

class DisplayList;

struct Star {
    float x = 0;  // direction, -1 <= x < 1
    float y = 0;  // direction, -1 <= y < 1
    float z = 0;  // depth: 1.0 farthest; retired at 0.05
};

constexpr int kStarCount = 70;
extern Star starfield[kStarCount];

// Places the stars with the random sequence's first 210 draws; start-up
// does it right after seeding.
void init_starfield(Rng& rng);

// Describes the frame for the world: the stars move on (drawing from rng
// for each star that starts again far away) and are listed with everything
// the screen draws, in painter's order. elapsed_ms counts from the start of
// the main loop and drives the blinking texts, so their rhythm follows the
// program's start, not the moment a text appears.
void describe_frame(DisplayList& list, const World& world, bool paused, std::int64_t elapsed_ms,
                    Rng& rng);

// Describes the frame and composes it into back_page, where it differs from
// what that page shows.
void compose_frame(const World& world, bool paused, std::int64_t elapsed_ms, Rng& rng);
