#include "display/screens.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "display/display_list.h"
#include "display/font.h"
#include "display/logo.h"
#include "display/palette.h"
#include "game/game.h"
#include "game/playfield.h"
#include "game/score.h"

namespace {

// The footer's web address: where the game's makers can be found.
constexpr const char* kWebAddress = "vemlo-x.net/brikon";

// The middle of the area, which centred texts are placed about.
constexpr int kMiddleX = kAreaWidth / 2;
// The footer keeps this far from the area's left and right edges.
constexpr int kFooterMargin = 30;

// How far a star's direction lies from the middle of the screen, per unit
// of depth.
constexpr float kStarProjection = 560.0f;

// The status line: the first life's marker, the step from one marker to
// the next, and where the power-up timers start.
constexpr int kLivesX = 700;
constexpr int kLifeStep = 46;
constexpr int kTimersX = 960;

// A laser shot as drawn.
constexpr int kShotWidth = 3;
constexpr int kShotLength = 14;

std::uint32_t brick_colour(BrickKind kind) {
    switch (kind) {
        case BrickKind::Red:
            return kBrickRed;
        case BrickKind::Orange:
            return kBrickOrange;
        case BrickKind::Yellow:
            return kBrickYellow;
        case BrickKind::Green:
            return kBrickGreen;
        case BrickKind::Blue:
            return kBrickBlue;
        case BrickKind::Violet:
            return kBrickViolet;
        case BrickKind::Silver:
            return kBrickSilver;
        default:
            return kBrickGold;  // and anything unknown
    }
}

// A text drawn when floor(elapsed / half_period) is odd: hidden for the
// first half-period after start-up, then on and off in turn.
bool blink_on(std::int64_t elapsed_ms, std::uint32_t half_period_ms) {
    if (elapsed_ms < 0)
        return (elapsed_ms / half_period_ms) % 2 == 1;
    // The time within the whole period, from the two 32-bit halves of the
    // time: 32-bit ARM divides 64-bit numbers only in a slow library call.
    const std::uint32_t period = 2 * half_period_ms;
    const std::uint32_t high = static_cast<std::uint32_t>(elapsed_ms >> 32) % period;
    const std::uint32_t low = static_cast<std::uint32_t>(elapsed_ms) % period;
    const std::uint32_t wrap = (0xffffffffu % period + 1) % period;  // 2^32 in the period
    return (high * wrap % period + low) % period >= half_period_ms;
}

// Each star as a grey pixel, brighter the nearer it is; one placed again
// far away this frame shows from the next.
void describe_stars(DisplayList& list, const Starfield& field) {
    for (const Star& star : field.stars) {
        if (star.placed_now)
            continue;
        int sx = static_cast<int>(star.x * kStarProjection / star.z + 640.0f);
        int sy = static_cast<int>(star.y * kStarProjection / star.z + 360.0f);
        if (sx < 0 || sx >= kAreaWidth || sy < 0 || sy >= kAreaHeight)
            continue;
        int grey = static_cast<int>((1.0f - 0.85f * star.z) * 235.0f);
        if (grey < 30)
            grey = 30;
        std::uint32_t level = static_cast<std::uint32_t>(grey);
        list.pixel(sx, sy, 0xff000000u | level << 16 | level << 8 | level);
    }
}

int text_width(const char* text, int size) {
    return static_cast<int>(std::strlen(text)) * kTextCellWidth[size - 1];
}

// A text centred on the middle of the area by its measured width.
void text_centred(DisplayList& list, const char* text, int y, int size, std::uint32_t colour) {
    list.text(text, kMiddleX - text_width(text, size) / 2, y, size, colour);
}

void describe_footer(DisplayList& list) {
    constexpr int kFooterY = 702;
    char exit_hint[32];
    std::snprintf(exit_hint, sizeof exit_hint, "hold PLAY %d s to exit", kExitHoldMs / 1000);
    list.text(kWebAddress, kFooterMargin, kFooterY, 1, kGrey);
    text_centred(list, "LEFT/RIGHT move   MIDDLE launch/fire   BACK pause", kFooterY, 1, kGrey);
    list.text(exit_hint, kAreaWidth - kFooterMargin - text_width(exit_hint, 1), kFooterY, 1,
              kAmber);
}

void describe_title(DisplayList& list, std::int64_t elapsed_ms) {
    list.logo(kMiddleX - kLogoWidth / 2, 90, 1);
    text_centred(list, "VEMLO X", 230, 3, kCyan);
    // The title word stands letter by letter, 8 px wider apart than the
    // font's advance, centred on the middle of the area.
    constexpr const char* kTitleWord = "BRIKON";
    constexpr int kLetterPitch = 34;
    int letters = static_cast<int>(std::strlen(kTitleWord));
    int first_x = kMiddleX - (kLetterPitch * letters - 8) / 2;
    for (int i = 0; i < letters; ++i) {
        char letter[2] = {kTitleWord[i], 0};
        list.text(letter, first_x + kLetterPitch * i, 280, 4, kYellow);
    }
    if (blink_on(elapsed_ms, 500))
        text_centred(list, "PRESS MIDDLE TO START", 420, 3, kWhite);
    text_centred(list, "hold MIDDLE to shoot - catch E S D P capsules", 490, 2, kGrey);
    describe_footer(list);
}

void describe_bricks(DisplayList& list, const World& world) {
    for (int row = 0; row < kGridRows; ++row) {
        for (int column = 0; column < kGridColumns; ++column) {
            const Brick& brick = world.bricks[row][column];
            if (brick.kind == BrickKind::None)
                continue;
            // Gold bricks show rivets; a brick that needs two more hits
            // shows a stripe down its middle.
            int marks = kBrickPlain;
            if (brick.kind == BrickKind::Gold)
                marks |= kBrickRivets;
            if (brick.hits == 2)
                marks |= kBrickStripe;
            list.brick(brick_x(column), brick_y(row), kBrickWidth, kBrickHeight,
                       brick_colour(brick.kind), static_cast<BrickMarks>(marks));
        }
    }
}

void describe_moving_parts(DisplayList& list, const World& world) {
    for (int i = 0; i < world.capsule_count; ++i) {
        const Capsule& capsule = world.capsules[i];
        int x = static_cast<int>(capsule.x);
        int y = static_cast<int>(capsule.y);
        list.block(x - kCapsuleHalfWidth, y - kCapsuleHalfHeight, 2 * kCapsuleHalfWidth,
                   2 * kCapsuleHalfHeight, kCapsuleRed);
        char letter[2] = {letter_of(capsule.kind), 0};
        list.text(letter, x - 4, y - 6, 2, kWhite);
    }
    // A shot is a bar from its top end down, centred on its x.
    for (int i = 0; i < world.shot_count; ++i) {
        list.fill(static_cast<int>(world.shots[i].x) - kShotWidth / 2,
                  static_cast<int>(world.shots[i].y), kShotWidth, kShotLength, kShotRed);
    }
    int left = static_cast<int>(world.paddle_x) - world.paddle_width / 2;
    list.block(left, kPaddleTop, world.paddle_width, kPaddleHeight, kPaddleTeal);
    if (world.laser_time > 0) {
        // The guns stand 4 px above the paddle and overlap its ends by 2 px.
        list.block(left - 8, kPaddleTop - 4, 10, 8, kSignalRed);
        list.block(left + world.paddle_width - 2, kPaddleTop - 4, 10, 8, kSignalRed);
    }
    for (int i = 0; i < world.ball_count; ++i) {
        // A stuck ball is drawn where the next step puts it, on the paddle:
        // a fresh ball has no position yet in the frame right after a level
        // load or a lost life, which runs no step after it.
        const Ball& ball = world.balls[i];
        float x = ball.stuck ? world.paddle_x : ball.x;
        float y = ball.stuck ? kStuckY : ball.y;
        list.block(static_cast<int>(x) - kBallHalf, static_cast<int>(y) - kBallHalf, 2 * kBallHalf,
                   2 * kBallHalf, kWhite);
    }
}

void describe_status_line(DisplayList& list, const World& world) {
    char text[32];
    std::snprintf(text, sizeof text, "SCORE %06d", world.score);
    list.text(text, 30, 10, 3, kWhite);
    std::snprintf(text, sizeof text, "HI %06d", world.best);
    list.text(text, 270, 14, 2, kYellow);
    std::snprintf(text, sizeof text, "LVL %d.%d", world.level, world.levels_cleared + 1);
    list.text(text, 470, 14, 2, kCyan);
    list.text("LIVES", 620, 14, 2, kGrey);
    // Lives beyond the right edge draw nothing and are not listed.
    for (int i = 0; i < world.lives && kLivesX + kLifeStep * i < kAreaWidth; ++i)
        list.block(kLivesX + kLifeStep * i, 16, 38, 10, kPaddleTeal);

    // Power-up timers show the whole seconds left plus one. The sixth life's
    // marker reaches past where they start, so then they start where a next
    // marker would stand, as far from the last one as the markers are apart.
    int pen = std::max(kTimersX, kLivesX + kLifeStep * world.lives);
    if (world.expand_time > 0) {
        std::snprintf(text, sizeof text, "E%d ", static_cast<int>(world.expand_time) + 1);
        list.text(text, pen, 14, 2, kAmber);
        pen += 56;
    }
    if (world.slow_time > 0) {
        std::snprintf(text, sizeof text, "S%d ", static_cast<int>(world.slow_time) + 1);
        list.text(text, pen, 14, 2, kAmber);
    }
}

// An overlay box: fill with cyan borders top and bottom, none at the sides.
void describe_box(DisplayList& list, int x, int y, int w, int h) {
    list.fill(x, y, w, h, kBoxFill);
    list.fill(x, y, w, 3, kFrameCyan);
    list.fill(x, y + h - 3, w, 3, kFrameCyan);
}

void describe_game_over(DisplayList& list, const World& world, std::int64_t elapsed_ms) {
    char text[64];
    describe_box(list, 380, 260, 520, 200);
    text_centred(list, "GAME OVER", 285, 4, kSignalRed);
    std::snprintf(text, sizeof text, "SCORE %d", world.score);
    text_centred(list, text, 350, 3, kWhite);
    std::snprintf(text, sizeof text, "BEST %d%s", world.best,
                  world.score >= world.best ? "  NEW!" : "");
    text_centred(list, text, 390, 2, kYellow);
    if (blink_on(elapsed_ms, 500))
        text_centred(list, "MIDDLE TO RESTART", 425, 2, kCyan);
}

void describe_play(DisplayList& list, const World& world, bool paused, std::int64_t elapsed_ms) {
    constexpr int kFrameLeft = kWallLeft - kFrameThickness;
    constexpr int kFrameTop = kCeiling - kFrameThickness;
    constexpr int kFrameHeight = kFrameBottom - kFrameTop;
    list.fill(kFrameLeft, kFrameTop, kWallRight + kFrameThickness - kFrameLeft, kFrameThickness,
              kFrameCyan);
    list.fill(kFrameLeft, kFrameTop, kFrameThickness, kFrameHeight, kFrameCyan);
    list.fill(kWallRight, kFrameTop, kFrameThickness, kFrameHeight, kFrameCyan);
    describe_bricks(list, world);
    describe_moving_parts(list, world);
    describe_status_line(list, world);
    list.logo(1169, 6, 2);
    describe_footer(list);

    if (paused) {
        describe_box(list, 440, 320, 400, 80);
        text_centred(list, "PAUSED", 344, 3, kCyan);
        text_centred(list, "BACK to resume", 368, 1, kGrey);
    }

    switch (world.phase) {
        case Phase::Serve:
            if (!paused && blink_on(elapsed_ms, 400))
                text_centred(list, "MIDDLE: LAUNCH", 560, 2, kAmber);
            break;
        case Phase::LevelClear: {
            char bonus[16];
            std::snprintf(bonus, sizeof bonus, "+%d", kLevelBonus);
            text_centred(list, "LEVEL CLEAR!", 330, 4, kYellow);
            text_centred(list, bonus, 390, 2, kGrey);
            break;
        }
        case Phase::GameOver:
            describe_game_over(list, world, elapsed_ms);
            break;
        case Phase::Title:
        case Phase::Play:
            break;
    }
}

}  // namespace

void describe_frame(DisplayList& list, const World& world, const Starfield& stars, bool paused,
                    std::int64_t elapsed_ms) {
    list.fill(0, 0, kAreaWidth, kAreaHeight, kBackground);
    describe_stars(list, stars);
    if (world.phase == Phase::Title) {
        describe_title(list, elapsed_ms);
    } else {
        describe_play(list, world, paused, elapsed_ms);
    }
}
