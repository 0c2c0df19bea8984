#pragma once
// The busiest play screen the game can show: every brick of the first
// layout standing, six balls, eight capsules and four shots in the air, both
// power-up timers and the guns shown, the game paused (its box on top).
#include "game/level.h"
#include "game/rng.h"
#include "game/world.h"

// Elapsed time of a frame in which the blinking prompts are shown.
constexpr int kPromptShownMs = 700;

// The generator the benchmarks' worlds and star fields draw from.
inline Rng rng;

inline World busy_world() {
    random_seed(rng, 1337);
    World world;
    world.lives = 3;
    world.level = 1;
    world.score = 12340;
    world.best = 98765;
    load_level(world, 1, rng, 0);
    world.phase = Phase::Play;
    world.laser_time = 1000000000.0f;
    world.expanded = true;
    world.paddle_width = 170;
    world.expand_time = 9.5f;
    world.slow_time = 3.2f;
    world.ball_count = kMaxBalls;
    for (int i = 0; i < kMaxBalls; ++i) {
        const float x = 220.0f + 160.0f * static_cast<float>(i);
        world.balls[i] = Ball{x, 420.0f + 30.0f * static_cast<float>(i % 3), 250.0f, -300.0f, 0};
    }
    constexpr CapsuleKind kKinds[] = {CapsuleKind::Expand, CapsuleKind::Slow, CapsuleKind::Split,
                                      CapsuleKind::Life};
    world.capsule_count = kMaxCapsules;
    for (int i = 0; i < kMaxCapsules; ++i) {
        const float x = 190.0f + 120.0f * static_cast<float>(i);
        world.capsules[i] = Capsule{x, 380.0f + 25.0f * static_cast<float>(i % 4), kKinds[i % 4]};
    }
    world.shot_count = kMaxShots;
    for (int i = 0; i < kMaxShots; ++i)
        world.shots[i] = Shot{560.0f + 60.0f * static_cast<float>(i), 560.0f};
    return world;
}
