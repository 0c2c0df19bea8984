#include "game/game.h"

#include "game/lasers.h"
#include "game/level.h"
#include "game/motion.h"

namespace {

// The laser is timed like the other power-ups, and every new game charges it
// for longer than any game lasts: subtracting a frame's dt from this float
// leaves it unchanged, so it stays above 0 and the guns stay on.
constexpr float kLaserWholeGame = 1000000000.0f;

void start_new_game(Game& game, std::int64_t now_ms) {
    World& world = game.world;
    world.lives = 3;
    world.score = 0;
    world.level = 1;
    world.levels_cleared = 0;
    world.laser_time = kLaserWholeGame;
    load_level(world, 1, game.rng, now_ms);
}

}  // namespace

void game_init(Game& game, std::uint32_t seed, int best) {
    random_seed(game.rng, seed);
    place_stars(game.stars, game.rng);
    game.world.best = best;
    game.world.paddle_x = kPaddleStartX;
}

void play_frame(Game& game, const FrameInput& input, Outbox& outbox) {
    World& world = game.world;
    const bool middle = is_middle(input.pressed);
    switch (world.phase) {
        case Phase::Title:
            if (middle)
                start_new_game(game, input.now_ms);
            break;
        case Phase::Serve:
            if (middle) {
                launch_balls(world, game.rng, input.now_ms, outbox);
            } else if (input.pressed == kButtonBack) {
                game.paused = !game.paused;
            }
            if (!game.paused)
                step_world(world, input.held, input.dt, input.now_ms, outbox);
            break;
        case Phase::Play:
            if (input.pressed == kButtonBack) {
                game.paused = !game.paused;
            } else if (middle && game.paused) {
                game.paused = false;
            }
            if (!game.paused) {
                if (world.laser_time > 0 && is_middle(input.held))
                    fire_lasers(world, input.now_ms, outbox);
                step_world(world, input.held, input.dt, input.now_ms, outbox);
            }
            break;
        case Phase::LevelClear:
            step_world(world, kButtonNone, input.dt, input.now_ms, outbox);
            if (input.now_ms - world.phase_start_ms > kLevelClearPauseMs) {
                world.level += 1;
                load_level(world, world.level, game.rng, input.now_ms);
            }
            break;
        case Phase::GameOver:
            if (middle)
                enter_phase(world, Phase::Title, input.now_ms);
            break;
    }
    // After the rules: a level loaded or a ball launched in this frame draws
    // from the generator before the stars that start again far away.
    move_stars(game.stars, game.rng);
}
