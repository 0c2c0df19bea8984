#pragma once
// The balls as every rule that starts or speeds one sees them: a fresh ball
// waiting on the paddle, and the speed a moving one is brought to. The
// level, the score, the capsules and the motion all build on this, so it
// includes none of them.
#include "game/world.h"

// In px/s: the first level's speed, what each cleared level adds, the most
// it can reach, and the share of it left while the slow capsule runs.
constexpr float kBaseSpeed = 400.0f;
constexpr float kSpeedPerLevel = 35.0f;
constexpr float kSpeedCap = 620.0f;
constexpr float kSlowFactor = 0.72f;

// One fresh ball, stuck to the paddle, and no other: after a level load or
// a lost life.
inline void reset_balls(World& world) {
    world.ball_count = 1;
    for (Ball& ball : world.balls)
        ball = Ball{};
    world.balls[0].stuck = true;
}

// The speed every moving ball is brought to, in px/s: faster with each
// cleared level up to a cap, and slower while the slow capsule runs.
inline float ball_speed(const World& world) {
    float speed = kBaseSpeed + kSpeedPerLevel * static_cast<float>(world.levels_cleared);
    if (speed > kSpeedCap)
        speed = kSpeedCap;
    if (world.slow_time > 0)
        speed *= kSlowFactor;
    return speed;
}
