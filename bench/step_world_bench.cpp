// The simulation's cost per frame: an ordinary serve-and-play frame, and the
// heaviest frame the game can meet (six balls at the top speed in the
// longest step, four shots, eight capsules, a full grid of silver bricks).
#include <benchmark/benchmark.h>

#include "game/level.h"
#include "game/motion.h"
#include "game/outbox.h"
#include "game/rng.h"

namespace {

// The random sequence this file's games draw from.
Rng rng;

// Where the steps' requests go; emptied after every step, as the shell does.
Outbox outbox;

void drain_tones() {
    outbox.count = 0;
}

World first_level_in_play() {
    random_seed(rng, 1337);
    World world;
    world.lives = 3;
    world.level = 1;
    world.laser_time = 1000000000.0f;
    load_level(world, 1, rng, 0);
    launch_balls(world, rng, 0, outbox);
    drain_tones();
    return world;
}

void BM_StepWorldOrdinaryFrame(benchmark::State& state) {
    const World start = first_level_in_play();
    World world = start;
    for (auto _ : state) {
        step_world(world, kButtonRight, 0.034f, 0, outbox);
        if (world.phase != Phase::Play)
            world = start;
        drain_tones();
        benchmark::DoNotOptimize(world);
    }
}
BENCHMARK(BM_StepWorldOrdinaryFrame);

void BM_StepWorldHeaviestFrame(benchmark::State& state) {
    World start = first_level_in_play();
    start.levels_cleared = 7;  // 620 px/s: seven sub-steps at dt = 0.1
    for (auto& row : start.bricks) {
        for (Brick& brick : row)
            brick = Brick{BrickKind::Silver, 2, CapsuleKind::Split};
    }
    start.bricks_left = 80;
    start.ball_count = 6;
    for (int i = 0; i < 6; ++i) {
        start.balls[i] = Ball{200.0f + 150.0f * static_cast<float>(i), 400.0f, 300.0f, -500.0f, 0};
    }
    start.shot_count = 4;
    for (int i = 0; i < 4; ++i)
        start.shots[i] = Shot{300.0f + 200.0f * static_cast<float>(i), 600};
    start.capsule_count = 8;
    for (int i = 0; i < 8; ++i)
        start.capsules[i] = Capsule{200.0f + 100.0f * i, 500.0f, CapsuleKind::Expand};

    for (auto _ : state) {
        World world = start;
        step_world(world, kButtonLeft, 0.1f, 0, outbox);
        drain_tones();
        benchmark::DoNotOptimize(world);
    }
}
BENCHMARK(BM_StepWorldHeaviestFrame);

}  // namespace

BENCHMARK_MAIN();
