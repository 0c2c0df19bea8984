#include "game/capsules.h"

#include <gtest/gtest.h>

#include <cmath>

#include "game/motion.h"
#include "support/game_world.h"
#include "support/tones.h"

namespace {

// A game in play with its ball resting on the paddle, so that no life is
// lost while the capsules fall.
World catching_world() {
    World world = playing_world();
    add_ball(world, 0, 0, 0, 0).stuck = true;
    return world;
}

class Capsules : public testing::Test {
  protected:
    void SetUp() override {
        outbox = Outbox{};
        take_tones();
    }
};

constexpr const char* kCatchTones = "700/24 1050/24";

struct CatchCase {
    const char* what;
    float x, y;  // where the capsule is (the step has dt = 0)
    bool caught;
    bool kept;  // when not caught
};

TEST_F(Capsules, CatchBoundsIncludeTheirEdges) {
    // Paddle centre 640, half-width 55: the reach is 78 px either side.
    const CatchCase cases[] = {
        {"centre", 640, 647, true, false},
        {"right edge of the reach", 718, 647, true, false},
        {"left edge of the reach", 562, 647, true, false},
        {"just beyond the right", 718.01f, 647, false, true},
        {"just beyond the left", 561.99f, 647, false, true},
        {"top of the band", 640, 630, true, false},
        {"above the band", 640, 629.99f, false, true},
        {"bottom of the band", 640, 664, true, false},
        {"below the band", 640, 664.01f, false, true},
        {"still falling", 900, 749.9f, false, true},
        {"missed", 900, 750, false, false},
    };
    for (const CatchCase& c : cases) {
        SCOPED_TRACE(c.what);
        World world = catching_world();
        world.paddle_x = 640;
        add_capsule(world, c.x, c.y, CapsuleKind::Slow);
        step_world(world, kButtonNone, 0, kNowMs, outbox);
        EXPECT_EQ(world.slow_time > 0, c.caught);
        EXPECT_EQ(world.score, c.caught ? 500 : 0);
        EXPECT_EQ(world.capsule_count, c.kept ? 1 : 0);
        EXPECT_EQ(take_tones(), c.caught ? kCatchTones : "");
    }
}

TEST_F(Capsules, CapsulesFallAndTheCatchUsesTheWidthFromBeforeTheStep) {
    World world = catching_world();
    world.paddle_x = 640;
    add_capsule(world, 300, 200, CapsuleKind::Expand);
    step_world(world, kButtonNone, 0.05f, kNowMs, outbox);
    EXPECT_FLOAT_EQ(world.capsules[0].y, 208.5f);

    // The paddle grows to 116 in this step, but the catch still reaches only
    // 55 + 23 px from the centre.
    for (float offset : {78.0f, 79.0f}) {
        world = catching_world();
        world.paddle_x = 640;
        world.expanded = true;
        world.expand_time = 20;
        add_capsule(world, 640 + offset, 647, CapsuleKind::Slow);
        step_world(world, kButtonNone, 0, kNowMs, outbox);
        EXPECT_EQ(world.paddle_width, 116);
        EXPECT_EQ(world.capsule_count, offset == 78.0f ? 0 : 1) << offset;
    }
}

TEST_F(Capsules, EffectsOfEachKind) {
    World world = catching_world();
    world.best = 100;
    add_capsule(world, 640, 647, CapsuleKind::Expand);
    step_world(world, kButtonNone, 0, kNowMs, outbox);
    EXPECT_EQ(world.expanded, 1);
    EXPECT_EQ(world.expand_time, 25.0f);
    EXPECT_EQ(world.score, 500);
    EXPECT_EQ(world.best, 100) << "a catch leaves best behind until the next brick";
    EXPECT_EQ(take_tones(), kCatchTones);

    // Again while expanded: the time starts over, the target stays.
    world.paddle_width = 170;
    world.expand_time = 3;
    apply_capsule(world, CapsuleKind::Expand, outbox);
    EXPECT_EQ(world.expand_time, 25.0f);
    step_world(world, kButtonNone, 0.033f, kNowMs, outbox);
    EXPECT_EQ(world.paddle_width, 170);

    world.slow_time = 2;
    apply_capsule(world, CapsuleKind::Slow, outbox);
    EXPECT_EQ(world.slow_time, 20.0f) << "times do not add up";
}

TEST_F(Capsules, ExtraLifeUpToSixWithItsTonesEitherWay) {
    const int lives_before[] = {1, 3, 5, 6};
    const int lives_after[] = {2, 4, 6, 6};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(lives_before[i]);
        World world = catching_world();
        world.lives = lives_before[i];
        add_capsule(world, 640, 647, CapsuleKind::Life);
        step_world(world, kButtonNone, 0, kNowMs, outbox);
        EXPECT_EQ(world.lives, lives_after[i]);
        EXPECT_EQ(world.score, 500);
        EXPECT_EQ(take_tones(), "880/60 1320/90 700/24 1050/24");
    }
}

float angle_of(const Ball& ball) {
    return std::atan2(ball.vy, ball.vx);
}

TEST_F(Capsules, SplitAddsTurnedCopiesUntilSixBalls) {
    const int before[] = {0, 1, 2, 3, 4, 5, 6};
    const int after[] = {0, 3, 6, 6, 6, 6, 6};
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE(before[i]);
        World world = playing_world();
        for (int b = 0; b < before[i]; ++b) {
            add_ball(world, 300.0f + 100.0f * static_cast<float>(b), 400, 100, -300.0f - 10.0f * b);
        }
        World original = world;
        split_balls(world);
        ASSERT_EQ(world.ball_count, after[i]);
        for (int b = 0; b < before[i]; ++b) {
            EXPECT_EQ(world.balls[b].vx, original.balls[b].vx) << "sources keep their velocity";
        }
        // Copies come in source order: +0.45 first, then -0.45.
        for (int copy = before[i]; copy < after[i]; ++copy) {
            int k = copy - before[i];
            const Ball& source = original.balls[k / 2];
            float turn = k % 2 == 0 ? 0.45f : -0.45f;
            const Ball& ball = world.balls[copy];
            EXPECT_EQ(ball.x, source.x);
            EXPECT_EQ(ball.y, source.y);
            EXPECT_NEAR(std::remainder(angle_of(ball) - angle_of(source) - turn, 6.2831853f), 0,
                        1e-5f);
            EXPECT_NEAR(std::hypot(ball.vx, ball.vy), std::hypot(source.vx, source.vy), 1e-3f);
        }
    }
}

TEST_F(Capsules, SplitOfABallOnThePaddleUsesTheBallSpeed) {
    World world = playing_world();
    world.slow_time = 3;
    add_ball(world, 640, 633, 0, 0).stuck = true;
    split_balls(world);
    ASSERT_EQ(world.ball_count, 3);
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(world.balls[i].stuck, 1);
        EXPECT_FLOAT_EQ(std::hypot(world.balls[i].vx, world.balls[i].vy), 288);
    }
    EXPECT_NEAR(angle_of(world.balls[1]), 0.45f, 1e-6f);
    EXPECT_NEAR(angle_of(world.balls[2]), -0.45f, 1e-6f);
}

TEST_F(Capsules, TwoCatchesInOneStepApplyInArrayOrder) {
    // S before D: the copies of the resting ball get the slowed speed; D
    // before S: the full speed.
    const char* orders[] = {"SD", "DS"};
    const float copy_speed[] = {288, 400};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(orders[i]);
        World world = playing_world();
        world.phase = Phase::Serve;
        add_ball(world, 0, 0, 0, 0).stuck = true;
        add_capsule(world, 620, 640, static_cast<CapsuleKind>(orders[i][0]));
        add_capsule(world, 660, 650, static_cast<CapsuleKind>(orders[i][1]));
        step_world(world, kButtonNone, 0.01f, kNowMs, outbox);
        EXPECT_EQ(world.capsule_count, 0);
        EXPECT_EQ(world.score, 1000);
        EXPECT_EQ(world.slow_time, 20.0f);
        ASSERT_EQ(world.ball_count, 3);
        EXPECT_FLOAT_EQ(std::hypot(world.balls[2].vx, world.balls[2].vy), copy_speed[i]);
        EXPECT_EQ(take_tones(), "700/24 1050/24 700/24 1050/24");
    }
}

TEST_F(Capsules, SlowCatchTakesEffectFromTheNextStep) {
    World world = playing_world();
    add_ball(world, 640, 400, 0, -400);
    add_capsule(world, 640, 647, CapsuleKind::Slow);
    step_world(world, kButtonNone, 0.01f, kNowMs, outbox);
    EXPECT_FLOAT_EQ(world.balls[0].vy, -400);
    step_world(world, kButtonNone, 0.01f, kNowMs, outbox);
    EXPECT_FLOAT_EQ(world.balls[0].vy, -288);
}

}  // namespace
