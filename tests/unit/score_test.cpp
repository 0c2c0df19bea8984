#include "game/score.h"

#include <gtest/gtest.h>

#include <string>

#include "game/motion.h"
#include "game/rng.h"
#include "support/game_world.h"
#include "support/tones.h"

namespace {

// The random sequence this file's games draw from.
Rng rng;

constexpr const char* kLifeLost = "300/120 200/160 140/220";
constexpr const char* kGameOver = "500/130 380/130 280/130 180/260";
constexpr const char* kFanfare = "523/70 659/70 784/70 1047/140";

class Score : public testing::Test {
  protected:
    void SetUp() override { outbox = Outbox{}; }
};

TEST_F(Score, LastBallLostWithLivesLeftServesAgain) {
    World world = playing_world();
    world.lives = 2;
    world.expanded = true;
    world.expand_time = 10;
    world.paddle_width = 140;
    world.slow_time = 5;
    add_ball(world, 300, 759, 0, 400);
    add_capsule(world, 640, 647, CapsuleKind::Life);  // would be caught in this step
    world.shots[0] = Shot{900, 500};
    world.shot_count = 1;

    step_world(world, kButtonNone, 0.01f, kNowMs, outbox);

    EXPECT_EQ(world.lives, 1);
    EXPECT_EQ(world.phase, Phase::Serve);
    EXPECT_EQ(world.phase_start_ms, kNowMs);
    ASSERT_EQ(world.ball_count, 1);
    EXPECT_EQ(world.balls[0].stuck, 1);
    EXPECT_EQ(world.capsule_count, 0);
    EXPECT_EQ(world.score, 0) << "the capsules were gone before they could be caught";
    EXPECT_EQ(world.shot_count, 1) << "shots keep flying";
    EXPECT_EQ(world.expanded, 1);
    EXPECT_EQ(world.paddle_width, 146);
    EXPECT_GT(world.slow_time, 4.9f);
    EXPECT_EQ(take_requests(), kLifeLost) << "no save before game over";

    step_world(world, kButtonNone, 0.01f, kNowMs, outbox);
    EXPECT_EQ(world.balls[0].x, world.paddle_x);
    EXPECT_EQ(world.balls[0].y, 633.0f);
}

TEST_F(Score, LastLifeLostEndsTheGameAndTheCapsuleStepStillRuns) {
    World world = playing_world();
    world.lives = 1;
    world.score = 700;
    world.best = 500;
    add_ball(world, 300, 759, 0, 400);
    add_capsule(world, 640, 647, CapsuleKind::Split);
    add_capsule(world, 900, 300, CapsuleKind::Expand);

    step_world(world, kButtonNone, 0.01f, kNowMs, outbox);

    EXPECT_EQ(world.lives, 0);
    EXPECT_EQ(world.phase, Phase::GameOver);
    EXPECT_EQ(world.phase_start_ms, kNowMs);
    EXPECT_EQ(world.ball_count, 0) << "a D finds no ball to split";
    EXPECT_EQ(world.score, 1200);
    EXPECT_EQ(world.best, 700);
    ASSERT_EQ(world.capsule_count, 1) << "the falling capsules stay";
    EXPECT_EQ(world.capsules[0].kind, CapsuleKind::Expand);
    // The save carries the best as the game-over rule saw it, before the
    // capsule's points.
    EXPECT_EQ(take_requests(),
              std::string(kLifeLost) + " save 700 " + kGameOver + " 700/24 1050/24");
}

struct GameOverCase {
    const char* what;
    int best;  // in memory, as loaded or raised earlier in the run
    int score;
    int saved;  // the best the game asks to store, or -1 for no save
    int best_after;
};

TEST_F(Score, GameOverStoresATiedOrBeatenBest) {
    const GameOverCase cases[] = {
        {"nothing stored and nothing scored", 0, 0, 0, 0},
        {"beaten", 500, 800, 800, 800},
        {"tied: stored again", 500, 500, 500, 500},
        {"below the best", 500, 499, -1, 500},
        {"negative stored best", -7, 0, 0, 0},
        {"best raised by this game's bricks", 950, 950, 950, 950},
        {"best from an earlier game of this run", 2000, 1500, -1, 2000},
    };
    for (const GameOverCase& c : cases) {
        SCOPED_TRACE(c.what);
        World world = playing_world();
        world.lives = 1;
        world.score = c.score;
        world.best = c.best;
        add_ball(world, 300, 759, 0, 400);
        step_world(world, kButtonNone, 0.01f, kNowMs, outbox);
        EXPECT_EQ(world.phase, Phase::GameOver);
        EXPECT_EQ(world.best, c.best_after);
        std::string requests = take_requests();
        std::string save = c.saved < 0 ? "" : "save " + std::to_string(c.saved) + " ";
        EXPECT_EQ(requests, std::string(kLifeLost) + " " + save + kGameOver);
    }
}

TEST_F(Score, LastBrickClearsTheLevel) {
    World world = playing_world();
    world.best = 500;
    world.levels_cleared = 2;
    world.bricks[4][4] = Brick{BrickKind::Red, 1, CapsuleKind::None};
    world.bricks[0][0] = Brick{BrickKind::Gold, 1, CapsuleKind::None};
    world.bricks_left = 1;
    add_ball(world, 590, 300, 0, -400);  // reaches row 4 (254..290)

    step_world(world, kButtonNone, 0.033f, kNowMs, outbox);

    EXPECT_EQ(world.phase, Phase::LevelClear);
    EXPECT_EQ(world.phase_start_ms, kNowMs);
    EXPECT_EQ(world.levels_cleared, 3);
    EXPECT_EQ(world.score, 1055);
    EXPECT_EQ(world.best, 1055);
    EXPECT_EQ(take_requests(), std::string("620/20 ") + kFanfare) << "a clear saves nothing";

    step_world(world, kButtonNone, 0.033f, kNowMs, outbox);
    EXPECT_EQ(world.score, 1055) << "cleared once";
    EXPECT_EQ(world.levels_cleared, 3);
}

TEST_F(Score, ShotThatBreaksTheLastBrickAsTheLastBallFallsDoesNotClear) {
    for (int lives : {2, 1}) {
        SCOPED_TRACE(lives);
        World world = playing_world();
        world.lives = lives;
        world.bricks[0][0] = Brick{};
        world.bricks[5][5] = Brick{BrickKind::Violet, 1, CapsuleKind::None};
        world.bricks_left = 1;
        add_ball(world, 300, 759, 0, 400);
        world.shots[0] = Shot{700, 340};
        world.shot_count = 1;

        step_world(world, kButtonNone, 0.033f, kNowMs, outbox);
        EXPECT_EQ(world.bricks_left, 0);
        EXPECT_EQ(world.score, 105);
        EXPECT_EQ(world.phase, lives > 1 ? Phase::Serve : Phase::GameOver);
        EXPECT_EQ(world.levels_cleared, 0);

        if (lives > 1) {
            // The level is cleared by the first step after the launch.
            step_world(world, kButtonNone, 0.033f, kNowMs, outbox);
            EXPECT_EQ(world.phase, Phase::Serve);
            launch_balls(world, rng, kNowMs, outbox);
            step_world(world, kButtonNone, 0.033f, kNowMs, outbox);
            EXPECT_EQ(world.phase, Phase::LevelClear);
            EXPECT_EQ(world.score, 1105);
        }
        take_tones();
    }
}

}  // namespace
