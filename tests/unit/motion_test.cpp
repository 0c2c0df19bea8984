#include "game/motion.h"

#include <gtest/gtest.h>

#include <cmath>

#include "game/balls.h"
#include "game/lasers.h"
#include "game/rng.h"
#include "support/game_world.h"
#include "support/tones.h"

namespace {

// The random sequence this file's games draw from.
Rng rng;

class Motion : public testing::Test {
  protected:
    void SetUp() override {
        outbox = Outbox{};
        random_seed(rng, 1337);
        take_tones();
    }
};

float speed_of(const Ball& ball) {
    return std::sqrt(ball.vx * ball.vx + ball.vy * ball.vy);
}

TEST_F(Motion, BallSpeedRisesWithClearedLevelsUpToTheCap) {
    const float full[] = {400, 435, 470, 505, 540, 575, 610, 620, 620, 620};
    const float slowed[] = {288, 313.2f, 338.4f, 363.6f, 388.8f,
                            414, 439.2f, 446.4f, 446.4f, 446.4f};
    for (int cleared = 0; cleared < 10; ++cleared) {
        SCOPED_TRACE(cleared);
        World world = playing_world();
        world.levels_cleared = cleared == 9 ? 1000 : cleared;
        EXPECT_EQ(ball_speed(world), full[cleared]);
        world.slow_time = 0.001f;
        EXPECT_FLOAT_EQ(ball_speed(world), slowed[cleared]);
        world.slow_time = -0.01f;  // a run-out timer may end just below zero
        EXPECT_EQ(ball_speed(world), full[cleared]);
    }
}

struct SubStepCase {
    int levels_cleared;
    bool slowed;
    float dt;
    int sub_steps;
};

// A ball just below the ceiling bounces in its first sub-step and then falls
// for the remaining ones, so where it ends up shows how the step was cut.
TEST_F(Motion, SubStepsAreShorterThanTenPixels) {
    const SubStepCase cases[] = {
        {7, false, 0.1f, 7},    // 62 px in steps of about 8.9
        {0, false, 0.033f, 2},  // 13.2 px in steps of 6.6
        {0, true, 0.1f, 3},     // 28.8 px
        {3, false, 0.05f, 3},   // 25.25 px
        {0, false, 0.02f, 1},   // 8 px in one go
    };
    for (const SubStepCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.levels_cleared << " " << c.dt);
        World world = playing_world();
        world.levels_cleared = c.levels_cleared;
        world.slow_time = c.slowed ? 5.0f : 0.0f;
        add_ball(world, 640, 81.5f, 0, -100);
        step_world(world, kButtonNone, c.dt, kNowMs, outbox);
        float speed = ball_speed(world);
        float step = c.dt * speed / static_cast<float>(c.sub_steps);
        EXPECT_LT(step, 10.0f);
        EXPECT_NEAR(world.balls[0].y, 81.0f + step * static_cast<float>(c.sub_steps - 1), 0.01f);
        EXPECT_FLOAT_EQ(world.balls[0].vy, speed);
        EXPECT_EQ(world.balls[0].x, 640.0f);
    }
}

TEST_F(Motion, WallsAndCeilingTurnTheBallBack) {
    World world = playing_world();
    add_ball(world, 152, 400, -300, -100);
    add_ball(world, 1128, 400, 300, 100);
    add_ball(world, 640, 82, 100, -300);
    step_world(world, kButtonNone, 0.01f, kNowMs, outbox);
    EXPECT_EQ(world.balls[0].x, 151.0f);
    EXPECT_GT(world.balls[0].vx, 0);
    EXPECT_EQ(world.balls[1].x, 1129.0f);
    EXPECT_LT(world.balls[1].vx, 0);
    EXPECT_EQ(world.balls[2].y, 81.0f);
    EXPECT_GT(world.balls[2].vy, 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_FLOAT_EQ(speed_of(world.balls[i]), 400);
}

struct PaddleCase {
    const char* what;
    float x_offset;  // from the paddle's centre, half_width = 55
    float y;
    float vy;
    bool bounces;
    float vx_after;  // times the ball speed
    float vy_after;
};

TEST_F(Motion, PaddleAngleDependsOnWhereTheBallLands) {
    const float c30 = std::cos(0.52359875f);
    const float s60 = std::sin(1.0471975f);
    const PaddleCase cases[] = {
        {"centre: straight up", 0, 645, 400, true, 0, -1},
        {"halfway right: 30 degrees", 27.5f, 645, 400, true, 0.5f, -c30},
        {"halfway left", -27.5f, 645, 400, true, -0.5f, -c30},
        {"right end: 60 degrees", 55, 645, 400, true, s60, -0.5f},
        {"beyond the end within reach", 59.9f, 645, 400, true, s60, -0.5f},
        {"left end within reach", -59.9f, 645, 400, true, -s60, -0.5f},
        {"out of reach", 60.5f, 645, 400, false, 0, 1},
        {"moving up through the band", 0, 645, -400, false, 0, -1},
        {"top of the band", 0, 635, 400, true, 0, -1},
        {"above the band", 0, 634.5f, 400, false, 0, 1},
        {"bottom of the band", 0, 655.5f, 400, true, 0, -1},
        {"below the band", 0, 656.5f, 400, false, 0, 1},
    };
    for (const PaddleCase& c : cases) {
        SCOPED_TRACE(c.what);
        World world = playing_world();
        world.paddle_x = 640;
        add_ball(world, 640 + c.x_offset, c.y, 0, c.vy);
        // A step of a millisecond moves the ball 0.4 px, straight down.
        step_world(world, kButtonNone, 0.001f, kNowMs, outbox);
        const Ball& ball = world.balls[0];
        if (c.bounces) {
            EXPECT_EQ(ball.y, 634.0f);
        } else {
            EXPECT_NEAR(ball.y, c.y + c.vy * 0.001f, 1e-3f);
        }
        EXPECT_NEAR(ball.vx, c.vx_after * 400, 0.01f);
        EXPECT_NEAR(ball.vy, c.vy_after * 400, 0.01f);
        EXPECT_EQ(take_tones(), c.bounces ? "330/24" : "");
    }
}

struct FaceCase {
    const char* what;
    float x, y;    // start; the step moves the ball by (vx, vy) x dt
    float vx, vy;  // before the speed correction to 400 px/s
    float dt;
    int vx_sign, vy_sign;
};

// The brick in column 2, row 7 spans x 344..436 and y 365..395; its cell x
// 340..440 and y 362..398.
TEST_F(Motion, BallBouncesOffTheFaceItOverlapsLeast) {
    const FaceCase cases[] = {
        {"left face", 342, 380, 1, 0.2f, 0.0001f, -1, 1},
        {"right face", 438, 380, -1, 0.2f, 0.0001f, 1, 1},
        {"top face", 391, 363, 0.2f, 1, 0.0001f, 1, -1},
        {"bottom face", 391, 397, 0.2f, -1, 0.0001f, 1, 1},
        // Diagonal moves keep both overlaps exactly equal.
        {"corner, left equals top: sideways", 341, 362, 1, 1, 0.005f, -1, 1},
        {"corner, right equals top: sideways", 439, 362, -1, 1, 0.005f, 1, 1},
    };
    for (const FaceCase& c : cases) {
        SCOPED_TRACE(c.what);
        World world = playing_world();
        world.bricks[7][2] = Brick{BrickKind::Gold, 1, CapsuleKind::None};
        add_ball(world, c.x, c.y, c.vx, c.vy);
        step_world(world, kButtonNone, c.dt, kNowMs, outbox);
        const Ball& ball = world.balls[0];
        EXPECT_EQ(ball.vx > 0 ? 1 : -1, c.vx_sign);
        EXPECT_EQ(ball.vy > 0 ? 1 : -1, c.vy_sign);
        EXPECT_EQ(world.bricks[7][2].kind, BrickKind::Gold);
    }
}

TEST_F(Motion, BallInTheMarginOfACellHitsItsBrick) {
    World world = playing_world();
    world.bricks[7][2] = Brick{BrickKind::Blue, 1, CapsuleKind::None};
    world.bricks_left = 2;
    // x 341 is left of the brick (344) but inside its cell.
    add_ball(world, 341, 405, 0, -400);
    step_world(world, kButtonNone, 0.05f, kNowMs, outbox);
    EXPECT_EQ(world.bricks[7][2].kind, BrickKind::None);
    EXPECT_EQ(world.score, 95);
}

TEST_F(Motion, SilverBrickHitTwiceInOneStepBreaks) {
    // A fast ball in the middle of a silver brick: the first sub-step cracks
    // it, the ball is not pushed out, and the second sub-step breaks it.
    World world = playing_world();
    world.levels_cleared = 7;
    world.bricks[3][4] = Brick{BrickKind::Silver, 2, CapsuleKind::None};
    world.bricks_left = 2;
    add_ball(world, 590, 236, 0, -620);
    step_world(world, kButtonNone, 0.1f, kNowMs, outbox);
    EXPECT_EQ(world.bricks[3][4].kind, BrickKind::None);
    EXPECT_EQ(world.score, 120);
    EXPECT_EQ(world.bricks_left, 1);

    // The same by a ball and a shot: the ball cracks it, the shot breaks it.
    world = playing_world();
    world.bricks[5][5] = Brick{BrickKind::Silver, 2, CapsuleKind::None};
    world.bricks_left = 2;
    add_ball(world, 690, 335, 0, -400);
    world.shots[0] = Shot{700, 340};
    world.shot_count = 1;
    step_world(world, kButtonNone, 0.033f, kNowMs, outbox);
    EXPECT_EQ(world.bricks[5][5].kind, BrickKind::None);
    EXPECT_EQ(world.shot_count, 0);
    EXPECT_GT(world.balls[0].vy, 0) << "the ball bounced off the bottom face";
}

struct PaddleMoveCase {
    const char* what;
    int width;
    bool expanded;
    float x;
    ButtonCode button;
    float dt;
    float x_after;
    int width_after;
};

TEST_F(Motion, PaddleMovesAndIsClampedWithTheWidthFromBeforeTheStep) {
    const PaddleMoveCase cases[] = {
        {"right", 110, false, 640, kButtonRight, 0.05f, 672, 110},
        {"left", 110, false, 640, kButtonLeft, 0.05f, 608, 110},
        {"middle does not move it", 110, false, 640, kButtonMiddle, 0.05f, 640, 110},
        {"growing at the left wall", 110, true, 205, kButtonLeft, 0.1f, 201, 116},
        {"shrinking at the right wall", 170, false, 1000, kButtonRight, 0.1f, 1049, 164},
        {"odd width: half-width truncated", 115, false, 200, kButtonLeft, 0.1f, 203, 110},
        {"grows at most to 170", 168, true, 640, kButtonNone, 0.033f, 640, 170},
        {"shrinks at most to 110", 112, false, 640, kButtonNone, 0.033f, 640, 110},
    };
    for (const PaddleMoveCase& c : cases) {
        SCOPED_TRACE(c.what);
        World world = playing_world();
        world.paddle_width = c.width;
        world.expanded = c.expanded ? 1 : 0;
        world.expand_time = c.expanded ? 10.0f : 0.0f;
        world.paddle_x = c.x;
        step_world(world, c.button, c.dt, kNowMs, outbox);
        EXPECT_EQ(world.paddle_x, c.x_after);
        EXPECT_EQ(world.paddle_width, c.width_after);
    }
}

TEST_F(Motion, ExpansionRunsOutAndThePaddleShrinksBackStepByStep) {
    World world = playing_world();
    world.expanded = true;
    world.expand_time = 0.05f;
    step_world(world, kButtonNone, 0.033f, kNowMs, outbox);
    EXPECT_EQ(world.expanded, 1);
    EXPECT_EQ(world.paddle_width, 116);
    step_world(world, kButtonNone, 0.033f, kNowMs, outbox);
    EXPECT_EQ(world.expanded, 0);
    EXPECT_EQ(world.paddle_width, 122) << "the width followed the old target in this step";
    int widths[3];
    for (int& width : widths) {
        step_world(world, kButtonNone, 0.033f, kNowMs, outbox);
        width = world.paddle_width;
    }
    EXPECT_EQ(widths[0], 116);
    EXPECT_EQ(widths[1], 110);
    EXPECT_EQ(widths[2], 110);
}

TEST_F(Motion, EndOfTheSlowCapsuleRestoresFullSpeedAtOnce) {
    World world = playing_world();
    world.slow_time = 0.02f;
    add_ball(world, 640, 400, 0, -288);
    step_world(world, kButtonNone, 0.033f, kNowMs, outbox);
    EXPECT_LT(world.slow_time, 0);
    EXPECT_FLOAT_EQ(speed_of(world.balls[0]), 400);
}

TEST_F(Motion, LaunchSendsStuckBallsUpAtARandomTilt) {
    World world = playing_world();
    world.phase = Phase::Serve;
    world.levels_cleared = 2;
    add_ball(world, 0, 0, 0, 0).stuck = true;
    add_ball(world, 500, 300, 100, -200);  // already moving: left alone
    add_ball(world, 0, 0, 0, 0).stuck = true;
    random_seed(rng, 77);
    launch_balls(world, rng, kNowMs, outbox);
    std::int32_t next = random_draw(rng);

    random_seed(rng, 77);
    for (int i : {0, 2}) {
        SCOPED_TRACE(i);
        int degrees = random_draw(rng) % 30 - 15;
        float a = static_cast<float>(degrees) * 0.01745f;
        const Ball& ball = world.balls[i];
        EXPECT_EQ(ball.stuck, 0);
        EXPECT_FLOAT_EQ(ball.vx, 470 * std::sin(a));
        EXPECT_FLOAT_EQ(ball.vy, -470 * std::cos(a));
        EXPECT_LE(std::fabs(ball.vx), 470 * std::sin(15 * 0.01745f) + 0.001f);
    }
    EXPECT_EQ(random_draw(rng), next) << "one draw per stuck ball";
    EXPECT_EQ(world.balls[1].vx, 100);
    EXPECT_EQ(world.phase, Phase::Play);
    EXPECT_EQ(take_tones(), "520/30");
}

TEST_F(Motion, LaunchEntersPlayEvenWithNoBallWaiting) {
    World world = playing_world();
    world.phase = Phase::Serve;
    random_seed(rng, 5);
    launch_balls(world, rng, kNowMs, outbox);
    EXPECT_EQ(world.phase, Phase::Play);
    std::int32_t next = random_draw(rng);
    random_seed(rng, 5);
    EXPECT_EQ(random_draw(rng), next) << "no draw without a stuck ball";
    EXPECT_EQ(take_tones(), "520/30");
}

TEST_F(Motion, StuckBallRidesOnThePaddle) {
    World world = playing_world();
    world.phase = Phase::Serve;
    add_ball(world, 0, 0, 0, 0).stuck = true;
    step_world(world, kButtonRight, 0.05f, kNowMs, outbox);
    EXPECT_EQ(world.balls[0].x, 672.0f);
    EXPECT_EQ(world.balls[0].y, 633.0f);
    EXPECT_EQ(world.phase, Phase::Serve);
}

TEST_F(Motion, FallenBallsAreRemovedInOrder) {
    World world = playing_world();
    add_ball(world, 300, 759, 0, 400);
    add_ball(world, 400, 300, 0, 400);
    add_ball(world, 500, 759, 0, 400);
    add_ball(world, 600, 300, 0, 400);
    step_world(world, kButtonNone, 0.01f, kNowMs, outbox);
    ASSERT_EQ(world.ball_count, 2);
    EXPECT_EQ(world.balls[0].x, 400);
    EXPECT_EQ(world.balls[1].x, 600);
    EXPECT_EQ(world.lives, 3);
}

TEST_F(Motion, InLevelClearFallenBallsCostNothing) {
    World world = playing_world();
    world.phase = Phase::LevelClear;
    world.bricks_left = 0;
    add_ball(world, 300, 700, 0, 400);
    for (int i = 0; i < 10; ++i)
        step_world(world, kButtonNone, 0.033f, kNowMs, outbox);
    EXPECT_EQ(world.ball_count, 0);
    EXPECT_EQ(world.lives, 3);
    EXPECT_EQ(world.phase, Phase::LevelClear);
    EXPECT_EQ(world.score, 0) << "the clear is not counted again";
}

TEST_F(Motion, ShotsRiseAndStrikeTheFirstBrickTheirTipReaches) {
    World world = playing_world();
    world.bricks[5][5] = Brick{BrickKind::Gold, 1, CapsuleKind::None};
    world.bricks[4][6] = Brick{BrickKind::Yellow, 1, CapsuleKind::None};
    world.bricks[0][1] = Brick{BrickKind::Red, 1, CapsuleKind::None};
    world.bricks_left = 3;
    world.shots[0] = Shot{700, 340};  // under the gold brick
    world.shots[1] = Shot{790, 310};  // under the yellow one, row 4 ends at y 290
    world.shots[2] = Shot{300, 130};  // rises above the grid: nothing to hit
    world.shots[3] = Shot{900, 300};  // empty column
    world.shot_count = 4;
    add_ball(world, 0, 0, 0, 0).stuck = true;  // keeps the game from losing a life
    step_world(world, kButtonNone, 0.033f, kNowMs, outbox);
    EXPECT_EQ(world.bricks[5][5].kind, BrickKind::Gold);
    EXPECT_EQ(world.bricks[4][6].kind, BrickKind::None);
    EXPECT_EQ(take_tones(), "240/16 620/20") << "the gold shot first, in shot order";
    EXPECT_EQ(world.score, 75);
    ASSERT_EQ(world.shot_count, 2);
    EXPECT_EQ(world.shots[0].x, 300);
    EXPECT_NEAR(world.shots[0].y, 130 - 950 * 0.033f, 1e-3f);
    EXPECT_EQ(world.bricks[0][1].kind, BrickKind::Red);
    EXPECT_EQ(world.shots[1].x, 900);
    step_world(world, kButtonNone, 0.033f, kNowMs, outbox);
    ASSERT_EQ(world.shot_count, 1) << "a shot at y <= 76 is gone";
    EXPECT_EQ(world.shots[0].x, 900);
}

TEST_F(Motion, LasersFireAVolleyEvery280MsWithRoomForTwoShots) {
    World world = playing_world();
    world.paddle_x = 640;
    world.last_shot_ms = kNowMs - 1000;
    fire_lasers(world, kNowMs, outbox);
    ASSERT_EQ(world.shot_count, 2);
    EXPECT_EQ(world.shots[0].x, 591.0f);
    EXPECT_EQ(world.shots[1].x, 689.0f);
    EXPECT_EQ(world.shots[0].y, 632.0f);
    EXPECT_EQ(world.last_shot_ms, kNowMs);

    fire_lasers(world, kNowMs + 279, outbox);
    EXPECT_EQ(world.shot_count, 2) << "too soon";
    fire_lasers(world, kNowMs + 280, outbox);
    EXPECT_EQ(world.shot_count, 4);
    fire_lasers(world, kNowMs + 1280, outbox);
    EXPECT_EQ(world.shot_count, 4) << "four in flight";
    world.shot_count = 3;
    fire_lasers(world, kNowMs + 1280, outbox);
    EXPECT_EQ(world.shot_count, 3) << "three in flight leave no room for a pair";

    world.shot_count = 0;
    world.laser_time = 0;
    fire_lasers(world, kNowMs, outbox);
    EXPECT_EQ(world.shot_count, 0) << "no laser";
    EXPECT_EQ(take_tones(), "980/28 980/28") << "one tone per volley";
}

}  // namespace
