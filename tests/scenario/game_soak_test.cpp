// Ten minutes of game time with an automatic player, the simulation driven
// frame by frame as the main loop drives it, and the game's invariants
// checked after every frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "emulator/emulator.h"
#include "game/game.h"
#include "sim/autoplay.h"
#include "support/game_world.h"
#include "support/run_game.h"

namespace {

constexpr std::int64_t kSoakMs = 10 * 60 * 1000;

struct SoakCounts {
    int frames = 0;
    int games = 0;
    int levels_cleared = 0;
    int most_balls = 0;
    int shots_seen = 0;
    int capsules_caught = 0;
    int long_frames = 0;
};

void check_invariants(const World& world, int saved_best, int score_before, SoakCounts* counts) {
    ASSERT_GE(world.ball_count, 0);
    ASSERT_LE(world.ball_count, kMaxBalls);
    ASSERT_GE(world.capsule_count, 0);
    ASSERT_LE(world.capsule_count, kMaxCapsules);
    ASSERT_GE(world.shot_count, 0);
    ASSERT_LE(world.shot_count, kMaxShots);
    for (int i = 0; i < world.ball_count; ++i) {
        const Ball& ball = world.balls[i];
        // A ball put on the paddle by a new level or a lost life takes its
        // place at the next step.
        if (ball.stuck && ball.x == 0 && ball.y == 0)
            continue;
        ASSERT_GE(ball.x, 151.0f);
        ASSERT_LE(ball.x, 1129.0f);
        ASSERT_GE(ball.y, 81.0f);
        ASSERT_LT(ball.y, 760.0f) << "a fallen ball was kept";
    }
    ASSERT_EQ(world.bricks_left, count_breakable(world));
    ASSERT_GE(world.best, saved_best);
    ASSERT_GE(world.score, score_before) << "the score never falls during a game";
    ASSERT_GE(world.lives, 0);
    ASSERT_LE(world.lives, 6);
    ASSERT_GE(world.paddle_width, 110);
    ASSERT_LE(world.paddle_width, 170);
    int half_width = world.paddle_width / 2;
    // The clamp used the half-width from before the width changed by 6.
    ASSERT_GE(world.paddle_x, 146.0f + static_cast<float>(half_width) - 3.0f);
    ASSERT_LE(world.paddle_x, 1134.0f - static_cast<float>(half_width) + 3.0f);
    if (world.phase == Phase::Serve || world.phase == Phase::Play) {
        ASSERT_GE(world.ball_count, 1);
    }
    if (world.phase == Phase::GameOver) {
        ASSERT_EQ(world.lives, 0);
    }
    counts->most_balls = std::max(counts->most_balls, world.ball_count);
    counts->shots_seen += world.shot_count;
}

// Plays for kSoakMs of game time through the game's own frame rules, the
// automatic player holding its buttons and pressing MIDDLE wherever MIDDLE
// moves the game on. The time is the test's own: the game must not read a
// clock or make any other system call, which the emulator's call log shows.
void soak(const std::string& dir, SoakCounts* counts) {
    emu::reset();
    emu::make_dirs((dir + "/trace").c_str());
    emu::set_trace_dir((dir + "/trace").c_str());
    emu::log_calls(true);

    constexpr int kSavedBest = 3000;
    Game game;
    random_seed(game.rng, 1337);
    World& world = game.world;
    world.best = kSavedBest;

    std::int64_t now = 10000;
    while (now < 10000 + kSoakMs) {
        // Mostly 34 ms frames, now and then a stall that the clamp cuts to
        // 0.1 s.
        bool stall = counts->frames % 101 == 100;
        std::int64_t gap = stall ? 250 : 34;
        counts->long_frames += stall ? 1 : 0;
        now += gap;

        FrameInput input;
        input.now_ms = now;
        input.dt = std::min(static_cast<float>(gap) / 1000.0f, 0.1f);
        input.held = sim::steer_button(world);
        const Phase phase = world.phase;
        if (phase == Phase::Title || phase == Phase::Serve || phase == Phase::GameOver)
            input.pressed = kButtonMiddle;

        int score_before = phase == Phase::Title ? 0 : world.score;
        int best_before = world.best;
        int capsules_before = world.capsule_count;
        const int level_before = world.level;
        Outbox requests;
        play_frame(game, input, requests);

        counts->games += phase == Phase::Title ? 1 : 0;
        counts->levels_cleared += phase == Phase::LevelClear && world.level > level_before ? 1 : 0;
        if (world.capsule_count < capsules_before && world.score >= score_before + 500) {
            counts->capsules_caught += 1;
        }
        // The one save of a game asks for the best as the game ended.
        int saves = 0;
        for (int i = 0; i < requests.count; ++i) {
            if (requests.requests[i].kind != Request::Kind::SaveBest)
                continue;
            saves += 1;
            ASSERT_EQ(phase, Phase::Play);
            ASSERT_EQ(world.phase, Phase::GameOver);
            ASSERT_GE(requests.requests[i].best, best_before);
        }
        if (phase != Phase::GameOver && world.phase == Phase::GameOver) {
            ASSERT_EQ(saves, world.score >= best_before ? 1 : 0)
                << "a tied or beaten best is saved";
        } else {
            ASSERT_EQ(saves, 0);
        }
        counts->frames += 1;
        check_invariants(world, kSavedBest, score_before, counts);
        if (testing::Test::HasFatalFailure())
            return;
    }
}

TEST(GameSoak, TenMinutesOfPlayKeepEveryInvariant) {
    std::string dir = make_temp_dir();
    SoakCounts counts;
    soak(dir, &counts);
    emu::reset();
    ASSERT_FALSE(HasFatalFailure());

    std::printf("soak: %d frames, %d games, %d levels cleared, %d capsules caught, most balls %d\n",
                counts.frames, counts.games, counts.levels_cleared, counts.capsules_caught,
                counts.most_balls);
    EXPECT_GE(counts.frames, 10 * 60 * 25);
    EXPECT_GE(counts.levels_cleared, 3) << "the automatic player gets through levels";
    EXPECT_GT(counts.shots_seen, 0);
    EXPECT_GT(counts.capsules_caught, 0);
    EXPECT_GT(counts.long_frames, 100);
    EXPECT_EQ(read_file(dir + "/trace/calls.txt"), "")
        << "the game's frames made no call through the seam";
}

}  // namespace
