#include "game/score.h"

#include "game/balls.h"

namespace {

constexpr Tone kLifeLostTones[] = {{300, 120}, {200, 160}, {140, 220}};
constexpr Tone kGameOverTones[] = {{500, 130}, {380, 130}, {280, 130}, {180, 260}};
constexpr Tone kLevelClearTones[] = {{523, 70}, {659, 70}, {784, 70}, {1047, 140}};

}  // namespace

void add_points(World& world, int points) {
    world.score += points;
    if (world.score > world.best)
        world.best = world.score;
}

void lose_life(World& world, std::int64_t now_ms, Outbox& outbox) {
    int lives_before = world.lives;
    world.lives -= 1;
    request_tones(outbox, kLifeLostTones);

    if (lives_before > 1) {
        // Bricks, shots and running power-ups survive; the falling capsules
        // do not, and a fresh ball waits on the paddle.
        reset_balls(world);
        world.capsule_count = 0;
        enter_phase(world, Phase::Serve, now_ms);
        return;
    }

    // Game over. The balls stay gone and the capsules keep falling; the file
    // is written only now, once per game, when the best was reached or tied.
    enter_phase(world, Phase::GameOver, now_ms);
    if (world.score >= world.best) {
        world.best = world.score;
        request_save(outbox, world.best);
    }
    request_tones(outbox, kGameOverTones);
}

void clear_level(World& world, std::int64_t now_ms, Outbox& outbox) {
    add_points(world, kLevelBonus);
    enter_phase(world, Phase::LevelClear, now_ms);
    world.levels_cleared += 1;
    request_tones(outbox, kLevelClearTones);
}
