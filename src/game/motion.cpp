#include "game/motion.h"

#include <algorithm>
#include <cmath>

#include "game/balls.h"
#include "game/capsules.h"
#include "game/lasers.h"
#include "game/level.h"
#include "game/playfield.h"
#include "game/rng.h"
#include "game/score.h"
#include "game/trig.h"

namespace {

constexpr float kPaddleSpeed = 640.0f;  // px/s while LEFT or RIGHT is held
constexpr int kPaddleWidthStep = 6;     // per step, not per second

// Launch: an integer number of degrees from -15 to 14 off the vertical.
constexpr int kLaunchSpread = 30;
constexpr int kLaunchTilt = 15;
constexpr float kRadiansPerDegree = 0.01745f;

// A ball moves in sub-steps shorter than this, so it cannot jump a brick.
constexpr float kSubStepLength = 10.0f;

// The paddle sends a ball back at an angle set by where it landed, up to 60
// degrees at the ends.
constexpr float kPaddleMaxAngle = 1.0471975f;

constexpr Tone kLaunchTone = {520, 30};
constexpr Tone kWallTone = {240, 16};
constexpr Tone kPaddleTone = {330, 24};

// Moves the paddle for the held button and clamps it to the walls with the
// half-width it has now. Returns that half-width.
int move_paddle(World& world, ButtonCode button, float dt) {
    if (button == kButtonRight) {
        world.paddle_x += kPaddleSpeed * dt;
    } else if (button == kButtonLeft) {
        world.paddle_x -= kPaddleSpeed * dt;
    }
    int half_width = world.paddle_width / 2;
    float low = static_cast<float>(kWallLeft + half_width);
    float high = static_cast<float>(kWallRight - half_width);
    if (world.paddle_x < low) {
        world.paddle_x = low;
    } else if (world.paddle_x > high) {
        world.paddle_x = high;
    }
    return half_width;
}

// The width grows or shrinks one step towards its target per frame.
void resize_paddle(World& world) {
    int target = world.expanded ? kPaddleWide : kPaddleNarrow;
    if (world.paddle_width < target) {
        world.paddle_width = std::min(world.paddle_width + kPaddleWidthStep, target);
    } else if (world.paddle_width > target) {
        world.paddle_width = std::max(world.paddle_width - kPaddleWidthStep, target);
    }
}

void run_timers(World& world, float dt) {
    if (world.expand_time > 0) {
        world.expand_time -= dt;
        if (world.expand_time <= 0)
            world.expanded = false;
    }
    if (world.slow_time > 0)
        world.slow_time -= dt;
    if (world.laser_time > 0)
        world.laser_time -= dt;
}

void bounce_off_walls(Ball& ball, Outbox& outbox) {
    if (ball.x < kBallMinX) {
        ball.x = kBallMinX;
        ball.vx = std::fabs(ball.vx);
        request_tone(outbox, kWallTone);
    } else if (ball.x > kBallMaxX) {
        ball.x = kBallMaxX;
        ball.vx = -std::fabs(ball.vx);
        request_tone(outbox, kWallTone);
    }
    if (ball.y < kBallMinY) {
        ball.y = kBallMinY;
        ball.vy = std::fabs(ball.vy);
        request_tone(outbox, kWallTone);
    }
}

// Where the ball lands on the paddle decides the new direction alone: the
// centre sends it straight up, the ends at 60 degrees.
void bounce_off_paddle(const World& world, Ball& ball, int half_width, float speed,
                       Outbox& outbox) {
    if (!(ball.vy > 0))
        return;
    if (!(ball.y >= kPaddleBandTop && ball.y <= kPaddleBandBottom))
        return;
    if (!(ball.x >= world.paddle_x - half_width - kBallHalf &&
          ball.x <= world.paddle_x + half_width + kBallHalf)) {
        return;
    }

    float t = (ball.x - world.paddle_x) / static_cast<float>(half_width);
    t = std::clamp(t, -1.0f, 1.0f);
    float a = t * kPaddleMaxAngle;
    ball.vx = speed * sin_rounded(a);
    ball.vy = -std::fabs(speed * cos_rounded(a));
    ball.y = kPaddleBounceY;
    request_tone(outbox, kPaddleTone);
}

// A ball whose centre lies in a brick's cell bounces off the face it
// overlaps least and hits the brick. It is not pushed out, so a brick that
// survives can be hit again in a later sub-step.
void bounce_off_bricks(World& world, Ball& ball, Outbox& outbox) {
    Cell cell;
    if (!find_cell(ball.x, ball.y, &cell))
        return;
    if (world.bricks[cell.row][cell.column].kind == BrickKind::None)
        return;

    float bx = static_cast<float>(brick_x(cell.column));
    float by = static_cast<float>(brick_y(cell.row));
    float from_left = (ball.x + kBallHalf) - bx;
    float from_right = (bx + kBrickWidth) - (ball.x - kBallHalf);
    float from_above = (ball.y + kBallHalf) - by;
    float from_below = (by + kBrickHeight) - (ball.y - kBallHalf);

    // On a tie the sides win over the top and bottom, so a corner hit
    // turns the ball sideways.
    float m = from_left;
    if (from_right < m)
        m = from_right;
    if (from_above < m)
        m = from_above;
    if (from_below < m)
        m = from_below;
    if (m == from_left) {
        ball.vx = -std::fabs(ball.vx);
    } else if (m == from_right) {
        ball.vx = std::fabs(ball.vx);
    } else if (m == from_above) {
        ball.vy = -std::fabs(ball.vy);
    } else {
        ball.vy = std::fabs(ball.vy);
    }
    hit_brick(world, cell.column, cell.row, outbox);
}

void step_ball(World& world, Ball& ball, int half_width, float speed, float dt, Outbox& outbox) {
    // Every moving ball starts the step at the current speed, so a new level
    // or the slow capsule takes effect at once.
    float sp = std::sqrt(ball.vx * ball.vx + ball.vy * ball.vy);
    if (sp > 1) {
        float scale = speed / sp;
        ball.vx *= scale;
        ball.vy *= scale;
        sp = std::sqrt(ball.vx * ball.vx + ball.vy * ball.vy);
    }
    int n = static_cast<int>(dt * sp / kSubStepLength);
    float h = dt / static_cast<float>(n + 1);
    for (int i = 0; i <= n; ++i) {
        ball.x += ball.vx * h;
        ball.y += ball.vy * h;
        bounce_off_walls(ball, outbox);
        bounce_off_paddle(world, ball, half_width, speed, outbox);
        bounce_off_bricks(world, ball, outbox);
    }
}

// Keeps, in order, the balls that have not fallen out.
void drop_lost_balls(World& world) {
    int kept = 0;
    for (int i = 0; i < world.ball_count; ++i) {
        if (world.balls[i].y < kBallLostY)
            world.balls[kept++] = world.balls[i];
    }
    world.ball_count = kept;
}

}  // namespace

void launch_balls(World& world, Rng& rng, std::int64_t now_ms, Outbox& outbox) {
    for (int i = 0; i < world.ball_count; ++i) {
        Ball& ball = world.balls[i];
        if (!ball.stuck)
            continue;
        int degrees = random_draw(rng) % kLaunchSpread - kLaunchTilt;
        float a = static_cast<float>(degrees) * kRadiansPerDegree;
        float s = ball_speed(world);
        ball.stuck = false;
        ball.vx = s * sin_rounded(a);
        ball.vy = -(s * cos_rounded(a));
    }
    // Play starts even when no ball was waiting.
    enter_phase(world, Phase::Play, now_ms);
    request_tone(outbox, kLaunchTone);
}

void step_world(World& world, ButtonCode button, float dt, std::int64_t now_ms, Outbox& outbox) {
    // The clamp and everything after it in this step use the half-width from
    // before the width changes.
    int half_width = move_paddle(world, button, dt);
    resize_paddle(world);
    run_timers(world, dt);

    for (int i = 0; i < world.ball_count; ++i) {
        Ball& ball = world.balls[i];
        if (ball.stuck) {
            ball.x = world.paddle_x;
            ball.y = kStuckY;
        }
    }

    float speed = ball_speed(world);
    for (int i = 0; i < world.ball_count; ++i) {
        if (!world.balls[i].stuck)
            step_ball(world, world.balls[i], half_width, speed, dt, outbox);
    }
    drop_lost_balls(world);
    // In LevelClear a ball that falls out is simply gone.
    if (world.ball_count == 0 && world.phase == Phase::Play)
        lose_life(world, now_ms, outbox);

    step_shots(world, dt, outbox);
    step_capsules(world, dt, half_width, outbox);

    if (world.phase == Phase::Play && world.bricks_left < 1)
        clear_level(world, now_ms, outbox);
}
