#pragma once
// The rules of a frame: what the buttons do in each phase, the step of the
// simulation and the moves between phases (a new game, the pause, the next
// level, back to the title). Pure: the frame's time and buttons come in as
// its input, and what the game wants done outside goes out as requests.
#include <cstdint>

#include "devices/button_code.h"
#include "game/outbox.h"
#include "game/rng.h"
#include "game/stars.h"
#include "game/world.h"

// Everything the game keeps between frames. The run's record in the shell
// holds the one Game of a run; only the main thread touches it.
struct Game {
    World world;
    bool paused = false;  // toggled by BACK in Serve and Play
    Rng rng;              // the game's one random sequence; the starfield draws from it too
    Starfield stars;      // behind every screen, moving in every phase, paused or not
};

struct FrameInput {
    ButtonCode held = kButtonNone;     // the latest reading
    ButtonCode pressed = kButtonNone;  // a one-shot press made since the last frame
    std::int64_t now_ms = 0;           // the frame's time
    float dt = 0;                      // seconds since the last frame, at most 0.1
};

// A level's ball rests this long after its last brick before the next one.
constexpr std::int64_t kLevelClearPauseMs = 1600;
// Holding PLAY this long, in any phase, ends the program: the main loop
// watches the hold, and the screens' footer tells the player.
constexpr int kExitHoldMs = 3000;

// Sets up a Game as made for a new run: the generator seeded, the stars in
// their first places (its first draws), the best score as the save gave it
// and the paddle at its start. The title screen follows.
void game_init(Game& game, std::uint32_t seed, int best);

// Runs one frame of the game for its input, appending its requests: the
// rules of the phase, then the stars move on.
void play_frame(Game& game, const FrameInput& input, Outbox& outbox);
