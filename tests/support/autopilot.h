#pragma once
// An automatic player for long and whole-game tests: it keeps the paddle
// under the lowest ball, lands the ball off the paddle's centre so that it
// heads for the bricks still standing, and holds MIDDLE (the laser) while
// it is in place.
#include "devices/button_code.h"
#include "game/world.h"

// The moving ball nearest the bottom, or nullptr.
inline const Ball* lowest_moving_ball(const World& world) {
    const Ball* lowest = nullptr;
    for (int i = 0; i < world.ball_count; ++i) {
        const Ball& ball = world.balls[i];
        if (ball.stuck == 0 && (lowest == nullptr || ball.y > lowest->y))
            lowest = &ball;
    }
    return lowest;
}

// The button to hold now.
inline ButtonCode autopilot_button(const World& world) {
    const Ball* lowest = lowest_moving_ball(world);
    if (lowest == nullptr)
        return kButtonMiddle;

    // Where the standing bricks are, on average.
    float sum = 0;
    int count = 0;
    for (const auto& row : world.bricks) {
        for (int column = 0; column < kGridColumns; ++column) {
            if (row[column].kind != BrickKind::None && row[column].kind != BrickKind::Gold) {
                sum += static_cast<float>(190 + 100 * column);
                count += 1;
            }
        }
    }
    float aim = count > 0 ? sum / static_cast<float>(count) : 640.0f;
    // Landing at half the half-width sends the ball 30 degrees that way.
    float half = static_cast<float>(world.paddle_width / 2);
    float offset = aim > lowest->x ? -0.5f * half : 0.5f * half;
    float dx = lowest->x + offset - world.paddle_x;
    constexpr float kDeadZone = 14.0f;
    if (dx > kDeadZone)
        return kButtonRight;
    if (dx < -kDeadZone)
        return kButtonLeft;
    return kButtonMiddle;
}

// The button that keeps the paddle away from the lowest ball, to lose it.
inline ButtonCode dodge_button(const World& world) {
    const Ball* lowest = lowest_moving_ball(world);
    if (lowest == nullptr)
        return kButtonNone;
    return lowest->x > world.paddle_x ? kButtonLeft : kButtonRight;
}
