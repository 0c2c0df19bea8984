#pragma once
// The starfield behind every screen: stars that come nearer every frame and
// start again far away, placed with the game's random sequence. Only their
// motion is here; the display projects them onto the screen.
#include "game/rng.h"

struct Star {
    float x = 0;  // direction, -1 <= x < 1
    float y = 0;  // direction, -1 <= y < 1
    float z = 0;  // depth: 1.0 farthest; retired at 0.05
    // Placed again far away by this frame's move: shown from the next frame.
    bool placed_now = false;
};

constexpr int kStarCount = 70;

struct Starfield {
    Star stars[kStarCount];
};

// Places the stars with the random sequence's first 210 draws; start-up
// does it right after seeding.
void place_stars(Starfield& field, Rng& rng);

// One frame of motion: every star comes nearer, and one that comes too
// near starts again far away, drawing its place from rng.
void move_stars(Starfield& field, Rng& rng);
