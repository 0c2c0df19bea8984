#pragma once
// Small builders for tests of the game simulation: a World in a chosen
// phase with nothing on the field, and a few ways to populate it.
#include "game/world.h"

// A game in progress: Play, an empty grid with one breakable brick far from
// everything (so the level is not cleared), no balls, three lives, a charged
// laser and the paddle at its start.
inline World playing_world() {
    World world;
    world.phase = Phase::Play;
    world.lives = 3;
    world.level = 1;
    world.laser_time = 1000000000.0f;
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
