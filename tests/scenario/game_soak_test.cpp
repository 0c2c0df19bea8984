// Ten minutes of game time with an automatic player, the simulation driven
// frame by frame as the main loop drives it, and the game's invariants
// checked after every frame.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "emulator/emulator.h"
#include "game/high_score.h"
#include "game/lasers.h"
#include "game/level.h"
#include "game/motion.h"
#include "game/rng.h"
#include "platform/clock.h"
#include "platform/os.h"
#include "support/autopilot.h"
#include "support/game_world.h"
#include "support/run_game.h"
#include "support/tones.h"

namespace {

// The random sequence this file's games draw from.
Rng rng;

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
        if (ball.stuck != 0 && ball.x == 0 && ball.y == 0)
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
    int hw = world.paddle_width / 2;
    // The clamp used the half-width from before the width changed by 6.
    ASSERT_GE(world.paddle_x, 146.0f + static_cast<float>(hw) - 3.0f);
    ASSERT_LE(world.paddle_x, 1134.0f - static_cast<float>(hw) + 3.0f);
    if (world.phase == Phase::Serve || world.phase == Phase::Play) {
        ASSERT_GE(world.ball_count, 1);
    }
    if (world.phase == Phase::GameOver) {
        ASSERT_EQ(world.lives, 0);
    }
    counts->most_balls = std::max(counts->most_balls, world.ball_count);
    counts->shots_seen += world.shot_count;
}

// Plays for kSoakMs of virtual time. The frame dispatch is the main loop's:
// new game from the title, launch in Serve, laser and step in Play, the
// pause after a clear, and back to the title after game over.
void soak(const std::string& dir, SoakCounts* counts) {
    emu::reset();
    emu::use_virtual_time(true);
    emu::set_sandbox((dir + "/sandbox").c_str());
    make_dirs(dir + "/sandbox" + kHighScoreDir);
    make_dirs(dir + "/trace");
    emu::set_trace_dir((dir + "/trace").c_str());
    emu::log_calls(true);
    {
        FILE* file = std::fopen((dir + "/sandbox" + kHighScorePath).c_str(), "w");
        std::fputs("3000\n", file);
        std::fclose(file);
    }
    random_seed(rng, 1337);

    World world;
    world.best = load_high_score();
    const int saved_best = world.best;
    ASSERT_EQ(saved_best, 3000);

    const std::int64_t start = now_ms();
    std::int64_t last_frame = start;
    while (now_ms() - start < kSoakMs) {
        // Mostly 34 ms frames, now and then a stall that the clamp cuts to
        // 0.1 s.
        bool stall = counts->frames % 101 == 100;
        os::sleep_us(stall ? 250000 : 34000);
        counts->long_frames += stall ? 1 : 0;
        std::int64_t now = now_ms();
        float dt = static_cast<float>(now - last_frame) / 1000.0f;
        if (dt > 0.1f)
            dt = 0.1f;
        last_frame = now;

        int score_before = world.score;
        int capsules_before = world.capsule_count;
        ButtonCode held = autopilot_button(world);
        switch (world.phase) {
            case Phase::Title:
                world.lives = 3;
                world.score = 0;
                world.level = 1;
                world.levels_cleared = 0;
                world.laser_time = 1000000000.0f;
                load_level(world, 1, rng);
                score_before = 0;
                counts->games += 1;
                break;
            case Phase::Serve:
                launch_balls(world, rng);
                step_world(world, held, dt);
                break;
            case Phase::Play:
                if (world.laser_time > 0 && is_middle(held))
                    fire_lasers(world);
                step_world(world, held, dt);
                if (world.phase == Phase::GameOver) {
                    ASSERT_EQ(load_high_score(), world.best) << "the best is on file";
                }
                break;
            case Phase::LevelClear:
                step_world(world, kButtonNone, dt);
                if (now - world.phase_start_ms > 1600) {
                    world.level += 1;
                    load_level(world, world.level, rng);
                    counts->levels_cleared += 1;
                }
                break;
            case Phase::GameOver:
                world.phase = Phase::Title;
                break;
        }
        if (world.capsule_count < capsules_before && world.score >= score_before + 500) {
            counts->capsules_caught += 1;
        }
        take_tones();
        counts->frames += 1;
        check_invariants(world, saved_best, score_before, counts);
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

    // The simulation touched nothing but the high-score file; everything
    // else through the seam was this test's own sleeping.
    std::istringstream calls(read_file(dir + "/trace/calls.txt"));
    std::string line;
    int lines = 0;
    while (std::getline(calls, line)) {
        std::istringstream fields(line);
        std::string seq, call, target;
        fields >> seq >> call >> target;
        lines += 1;
        if (call == "sleep")
            continue;
        EXPECT_NE(target.find(kHighScoreDir), std::string::npos) << line;
    }
    EXPECT_GE(lines, counts.frames);
}

}  // namespace
