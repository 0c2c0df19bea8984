#pragma once
// Builders of a World for the tests and the benchmarks: a game in a chosen
// phase with nothing on the field, a few ways to populate it, and the
// busiest play screen the game can show.
#include "game/level.h"
#include "game/rng.h"
#include "game/world.h"

// A game in phase as a new game has it: three lives, level 1 and the laser
// charged for longer than any game lasts; nothing on the field.
inline World world_in(Phase phase) {
    World world;
    world.phase = phase;
    world.lives = 3;
    world.level = 1;
    world.laser_time = 1000000000.0f;
    return world;
}

// A game in progress: Play, an empty grid with one breakable brick far from
// everything (so the level is not cleared), no balls, and the paddle at its
// start.
inline World playing_world() {
    World world = world_in(Phase::Play);
    world.bricks[0][0] = Brick{BrickKind::Red, 1, CapsuleKind::None};
    world.bricks_left = 1;
    return world;
}

inline Ball& add_ball(World& world, float x, float y, float vx, float vy) {
    Ball& ball = world.balls[world.ball_count++];
    ball = Ball{x, y, vx, vy, 0};
    return ball;
}

inline Capsule& add_capsule(World& world, float x, float y, CapsuleKind kind) {
    Capsule& capsule = world.capsules[world.capsule_count++];
    capsule = Capsule{x, y, kind};
    return capsule;
}

// The breakable bricks standing in the grid, counted afresh.
inline int count_breakable(const World& world) {
    int count = 0;
    for (const auto& row : world.bricks) {
        for (const Brick& brick : row) {
            if (brick.kind != BrickKind::None && brick.kind != BrickKind::Gold)
                count += 1;
        }
    }
    return count;
}

// The busiest play screen the game can show: every brick of the first
// layout standing, six balls, eight capsules and four shots in the air, both
// power-up timers and the guns shown. The layout draws from rng, seeded
// here.
inline World busy_world(Rng& rng) {
    random_seed(rng, 1337);
    World world = world_in(Phase::Play);
    world.score = 12340;
    world.best = 98765;
    load_level(world, 1, rng, 0);
    world.phase = Phase::Play;
    world.expanded = true;
    world.paddle_width = kPaddleWide;
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
