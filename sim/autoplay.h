#pragma once
// The built-in player: it looks at the World and answers the button it
// would hold now. It follows the lowest ball, meeting it where it will come
// down, holds MIDDLE (the lasers) while the paddle is in place, and taps
// MIDDLE to start games, launch balls and resume from a pause. It acts only
// through a held button, as a player's thumb would: the simulator holds it
// on the emulated ADC, and the tests' whole games play with it.
#include <cstdint>

#include "devices/button_code.h"
#include "game/world.h"

namespace sim {

// How often the player looks again, in ms of the game's clock: twice per
// button poll, so that the game always reads a fresh decision.
constexpr std::int64_t kAutoplayStepMs = 20;

struct AutoplayState {
    Phase seen_phase = Phase::Title;
    std::int64_t phase_seen_ms = -1;  // when seen_phase was first seen
    std::int64_t tap_start_ms = -1;   // start of the running MIDDLE tap, -1 for none
};

// The button to hold at now_ms.
ButtonCode autoplay_decide(const World& world, bool paused, std::int64_t now_ms,
                           AutoplayState& state);

// Where a ball's centre will be, in x, when it comes down to height y,
// bouncing off the side walls on the way (its own x when it is not falling).
float landing_x(const Ball& ball, float y);

// The paddle centre the player steers to in Play.
float paddle_target(const World& world);

// The button to hold in Play: towards paddle_target, MIDDLE once there.
ButtonCode steer_button(const World& world);

// The button that keeps the paddle away from the lowest moving ball, for a
// player who means to lose it.
ButtonCode dodge_button(const World& world);

}  // namespace sim
