#include "sim/autoplay.h"

#include <cmath>

#include "game/playfield.h"

namespace sim {
namespace {

// A tap is MIDDLE for a while and then nothing for as long: the game takes
// a press only on two equal polls 40 ms apart after a release.
constexpr std::int64_t kTapHoldMs = 160;
// The title and the game-over screen stay up for a moment before the
// player starts a new game, so that a demo shows them.
constexpr std::int64_t kTitleWaitMs = 1500;
constexpr std::int64_t kGameOverWaitMs = 2500;
// Close enough to the target: the paddle covers 25 px between two polls.
constexpr float kDeadbandPx = 12.0f;
// The ball is met off the paddle's centre by this part of the half-width,
// so that it leaves at an angle (30 degrees) towards the bricks
// rather than straight up and down the same column.
constexpr float kAimPart = 0.5f;
// The height of a ball's centre as the paddle returns it.
constexpr float kMeetY = static_cast<float>(kPaddleTop - 6);
// Below this a ball has passed the paddle and is lost whatever it does.
constexpr float kLastChanceY = static_cast<float>(kPaddleTop + kPaddleHeight);

ButtonCode tap(std::int64_t now_ms, AutoplayState& state) {
    if (state.tap_start_ms < 0 || now_ms - state.tap_start_ms >= 2 * kTapHoldMs) {
        state.tap_start_ms = now_ms;
    }
    return now_ms - state.tap_start_ms < kTapHoldMs ? kButtonMiddle : kButtonNone;
}

// The ball to follow: of those still above the paddle, the one coming down
// that reaches the paddle first, else the lowest.
const Ball* ball_to_follow(const World& world) {
    const Ball* first_down = nullptr;
    float first_down_s = 0;
    const Ball* lowest = nullptr;
    for (int i = 0; i < world.ball_count; ++i) {
        const Ball& ball = world.balls[i];
        if (ball.stuck || ball.y > kLastChanceY)
            continue;
        if (!lowest || ball.y > lowest->y)
            lowest = &ball;
        if (ball.vy <= 0)
            continue;
        float arrival_s = (kMeetY - ball.y) / ball.vy;
        if (!first_down || arrival_s < first_down_s) {
            first_down = &ball;
            first_down_s = arrival_s;
        }
    }
    return first_down ? first_down : lowest;
}

// Which way the bricks lie from x: -1 left, +1 right, by their mean column.
int bricks_side(const World& world, float x) {
    float sum = 0;
    int count = 0;
    for (int row = 0; row < kGridRows; ++row) {
        for (int column = 0; column < kGridColumns; ++column) {
            const Brick& brick = world.bricks[row][column];
            if (brick.kind == BrickKind::None || brick.kind == BrickKind::Gold)
                continue;
            sum += static_cast<float>(brick_x(column) + kBrickWidth / 2);
            count += 1;
        }
    }
    if (count == 0)
        return 0;
    return sum / static_cast<float>(count) < x ? -1 : 1;
}

}  // namespace

float landing_x(const Ball& ball, float y) {
    if (ball.vy <= 0 || ball.y >= y)
        return ball.x;
    float x = ball.x + ball.vx * (y - ball.y) / ball.vy;
    // Unfold the reflections between the walls.
    const float span = kBallMaxX - kBallMinX;
    float along = std::fmod(x - kBallMinX, 2 * span);
    if (along < 0)
        along += 2 * span;
    if (along > span)
        along = 2 * span - along;
    return kBallMinX + along;
}

float paddle_target(const World& world) {
    const Ball* ball = ball_to_follow(world);
    if (!ball)
        return world.paddle_x;
    float meet_x = landing_x(*ball, kMeetY);
    // Meeting the ball left of the paddle's centre sends it left.
    float half_width = static_cast<float>(world.paddle_width / 2);
    return meet_x - static_cast<float>(bricks_side(world, meet_x)) * kAimPart * half_width;
}

ButtonCode autoplay_decide(const World& world, bool paused, std::int64_t now_ms,
                           AutoplayState& state) {
    if (state.phase_seen_ms < 0 || world.phase != state.seen_phase) {
        state.seen_phase = world.phase;
        state.phase_seen_ms = now_ms;
        state.tap_start_ms = -1;
    }
    const std::int64_t in_phase_ms = now_ms - state.phase_seen_ms;
    switch (world.phase) {
        case Phase::Title:
            return in_phase_ms < kTitleWaitMs ? kButtonNone : tap(now_ms, state);
        case Phase::GameOver:
            return in_phase_ms < kGameOverWaitMs ? kButtonNone : tap(now_ms, state);
        case Phase::Serve:
            return tap(now_ms, state);
        case Phase::LevelClear:
            return kButtonNone;
        case Phase::Play:
            break;
    }
    if (paused)
        return tap(now_ms, state);
    state.tap_start_ms = -1;
    return steer_button(world);
}

ButtonCode steer_button(const World& world) {
    const float offset = paddle_target(world) - world.paddle_x;
    if (offset < -kDeadbandPx)
        return kButtonLeft;
    if (offset > kDeadbandPx)
        return kButtonRight;
    return kButtonMiddle;
}

ButtonCode dodge_button(const World& world) {
    const Ball* lowest = nullptr;
    for (int i = 0; i < world.ball_count; ++i) {
        const Ball& ball = world.balls[i];
        if (!ball.stuck && (lowest == nullptr || ball.y > lowest->y))
            lowest = &ball;
    }
    if (lowest == nullptr)
        return kButtonNone;
    return lowest->x > world.paddle_x ? kButtonLeft : kButtonRight;
}

}  // namespace sim
