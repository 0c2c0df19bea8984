#include "game/score.h"

#include "devices/sound.h"
#include "game/high_score.h"
#include "platform/clock.h"

namespace {

constexpr int kLevelBonus = 1000;

constexpr Tone kLifeLostTones[] = {{300, 120}, {200, 160}, {140, 220}};
constexpr Tone kGameOverTones[] = {{500, 130}, {380, 130}, {280, 130}, {180, 260}};
constexpr Tone kLevelClearTones[] = {{523, 70}, {659, 70}, {784, 70}, {1047, 140}};

template <int N>
void play_all(const Tone (&tones)[N]) {
    for (const Tone& tone : tones)
        sfx_play(tone.freq_hz, tone.duration_ms);
}

void enter_phase(World& world, Phase phase) {
    world.phase = phase;
    world.phase_start_ms = now_ms();
}

}  // namespace

void add_points(World& world, int points) {
    world.score += points;
    if (world.score > world.best)
        world.best = world.score;
}

void lose_life(World& world) {
    int lives_before = world.lives;
    world.lives -= 1;
    play_all(kLifeLostTones);

    if (lives_before > 1) {
        // Bricks, shots and running power-ups survive; the falling capsules
        // do not, and a fresh ball waits on the paddle.
        world.ball_count = 1;
        for (Ball& ball : world.balls)
            ball = Ball{};
        world.balls[0].stuck = 1;
        world.capsule_count = 0;
        enter_phase(world, Phase::Serve);
        return;
    }

    // Game over. The balls stay gone and the capsules keep falling; the file
    // is written only now, once per game, when the best was reached or tied.
    enter_phase(world, Phase::GameOver);
    if (world.score >= world.best) {
        world.best = world.score;
        save_high_score(world.best);
    }
    play_all(kGameOverTones);
}

void clear_level(World& world) {
    add_points(world, kLevelBonus);
    world.phase = Phase::LevelClear;
    world.levels_cleared += 1;
    world.phase_start_ms = now_ms();
    play_all(kLevelClearTones);
}
