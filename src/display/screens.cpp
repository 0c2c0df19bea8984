#include "display/screens.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "display/draw.h"
#include "display/framebuffer.h"
#include "game/playfield.h"
#include "game/rng.h"

Star starfield[kStarCount];

namespace {

// Colours of the screens.
constexpr std::uint32_t kBackground = 0xff05070e;
constexpr std::uint32_t kFrameCyan = 0xff2ac8e8;
constexpr std::uint32_t kBoxFill = 0xff101828;
constexpr std::uint32_t kWhite = 0xffffffff;
constexpr std::uint32_t kYellow = 0xffffe81f;
constexpr std::uint32_t kCyan = 0xff00dae8;
constexpr std::uint32_t kGrey = 0xff8898a8;
constexpr std::uint32_t kAmber = 0xffffb347;
constexpr std::uint32_t kRed = 0xffe85050;
constexpr std::uint32_t kPaddleTeal = 0xff37e8d8;
constexpr std::uint32_t kCapsuleRed = 0xffd84848;
constexpr std::uint32_t kShotRed = 0xffff4040;
constexpr std::uint32_t kRivet = 0xff806414;
constexpr std::uint32_t kSilverMark = 0xff8890a0;

// The footer's web address: where the game's makers can be found.
constexpr const char* kWebAddress = "vemlo-x.net/brikon";

// Text cell widths of the four sizes, for centring by length.
constexpr int kCellWidth[5] = {0, 7, 13, 19, 26};

// Starfield motion is per frame: every frame each star comes this much nearer.
constexpr float kStarApproach = 0.003795f;
constexpr float kStarRetire = 0.05f;
constexpr float kStarProjection = 560.0f;


std::uint32_t brick_colour(BrickKind kind) {
    switch (kind) {
        case BrickKind::Red: return 0xffe84040;
        case BrickKind::Orange: return 0xffe88a2a;
        case BrickKind::Yellow: return 0xffe8d82a;
        case BrickKind::Green: return 0xff3ad84a;
        case BrickKind::Blue: return 0xff3a6ae8;
        case BrickKind::Violet: return 0xff9a4ae8;
        case BrickKind::Silver: return 0xffb8c0c8;
        default: return 0xffc8a428;  // gold, and anything unknown
    }
}

// A text drawn when floor(elapsed / half_period) is odd: hidden for the
// first half-period after start-up, then on and off in turn.
bool blink_on(std::int64_t elapsed_ms, std::int64_t half_period_ms) {
    return (elapsed_ms / half_period_ms) % 2 == 1;
}

float star_coordinate(std::int32_t draw) {
    return static_cast<float>((draw & 0x7fff) - 16384) / 16384.0f;
}

void place_star(Star& star, Rng& rng) {
    star.x = star_coordinate(random_draw(rng));
    star.y = star_coordinate(random_draw(rng));
}

void step_starfield(Rng& rng) {
    for (Star& star : starfield) {
        star.z = star.z - kStarApproach;
        if (star.z <= kStarRetire) {
            star.z = 1.0f;
            place_star(star, rng);
            continue;
        }
        int sx = static_cast<int>(star.x * kStarProjection / star.z + 640.0f);
        int sy = static_cast<int>(star.y * kStarProjection / star.z + 360.0f);
        if (sx < 0 || sx >= kAreaWidth || sy < 0 || sy >= kAreaHeight) continue;
        int grey = static_cast<int>((1.0f - 0.85f * star.z) * 235.0f);
        if (grey < 30) grey = 30;
        std::uint32_t level = static_cast<std::uint32_t>(grey);
        put_pixel(sx, sy, 0xff000000u | level << 16 | level << 8 | level);
    }
}

void draw_footer() {
    draw_text(kWebAddress, 30, 702, 1, kGrey);
    draw_text("LEFT/RIGHT move   MIDDLE launch/fire   BACK pause", 469, 702, 1, kGrey);
    draw_text("hold PLAY 3 s to exit", 1103, 702, 1, kAmber);
}

void draw_title(std::int64_t elapsed_ms) {
    draw_logo(589, 90, 1);
    draw_text("VEMLO X", 574, 230, 3, kCyan);
    // The title word stands letter by letter, 8 px wider apart than the
    // font's advance, centred on the middle of the area.
    constexpr const char* kTitleWord = "BRIKON";
    constexpr int kLetterPitch = 34;
    int letters = static_cast<int>(std::strlen(kTitleWord));
    int first_x = 640 - (kLetterPitch * letters - 8) / 2;
    for (int i = 0; i < letters; ++i) {
        char letter[2] = {kTitleWord[i], 0};
        draw_text(letter, first_x + kLetterPitch * i, 280, 4, kYellow);
    }
    if (blink_on(elapsed_ms, 500)) draw_text("PRESS MIDDLE TO START", 441, 420, 3, kWhite);
    draw_text("hold MIDDLE to shoot - catch E S D P capsules", 348, 490, 2, kGrey);
    draw_footer();
}

// Clears the area for the play screen. The bricks are opaque and cover
// their cells completely, so the background under them would be painted
// over at once: in the rows of a brick row only the gaps between the
// standing bricks are cleared, and every pixel of a brick is written once a
// frame. (A star that falls in a brick's cell is covered by the brick all
// the same.)
void clear_around_bricks(const World& world) {
    fill_rect(0, 0, kAreaWidth, kBrickTop, kBackground);
    int top = kBrickTop;
    for (int row = 0; row < kGridRows; ++row, top += kGridPitchY) {
        int gap_left = 0;
        for (int column = 0; column < kGridColumns; ++column) {
            if (world.bricks[row][column].kind == BrickKind::None) continue;
            int bx = brick_x(column);
            fill_rect(gap_left, top, bx - gap_left, kBrickHeight, kBackground);
            gap_left = bx + kBrickWidth;
        }
        fill_rect(gap_left, top, kAreaWidth - gap_left, kBrickHeight, kBackground);
        fill_rect(0, top + kBrickHeight, kAreaWidth, kGridPitchY - kBrickHeight, kBackground);
    }
    fill_rect(0, top, kAreaWidth, kAreaHeight - top, kBackground);
}

void draw_bricks(const World& world) {
    for (int row = 0; row < kGridRows; ++row) {
        for (int column = 0; column < kGridColumns; ++column) {
            const Brick& brick = world.bricks[row][column];
            if (brick.kind == BrickKind::None) continue;
            int bx = brick_x(column);
            int by = brick_y(row);
            draw_block(bx, by, kBrickWidth, kBrickHeight, brick_colour(brick.kind));
            if (brick.kind == BrickKind::Gold) {
                put_pixel(bx + 6, by + 6, kRivet);
                put_pixel(bx + 85, by + 6, kRivet);
                put_pixel(bx + 6, by + 23, kRivet);
                put_pixel(bx + 85, by + 23, kRivet);
            }
            if (brick.hits == 2) {
                // A brick that needs two more hits shows a mark down its middle.
                for (int y = by + 5; y <= by + 24; ++y) {
                    put_pixel(bx + 45, y, kSilverMark);
                    put_pixel(bx + 46, y, kSilverMark);
                }
            }
        }
    }
}

// A laser shot: a bar 3 px wide and 14 px high from its top end down, each
// pixel clipped, since a shot may stand partly outside the area.
void draw_shot(int x, int y) {
    for (int row = y; row < y + 14; ++row) {
        for (int column = x - 1; column <= x + 1; ++column) {
            if (static_cast<unsigned>(column) < static_cast<unsigned>(kAreaWidth) &&
                static_cast<unsigned>(row) < static_cast<unsigned>(kAreaHeight)) {
                put_pixel(column, row, kShotRed);
            }
        }
    }
}

void draw_moving_parts(const World& world) {
    for (int i = 0; i < world.capsule_count; ++i) {
        const Capsule& capsule = world.capsules[i];
        int x = static_cast<int>(capsule.x);
        int y = static_cast<int>(capsule.y);
        draw_block(x - kCapsuleHalfWidth, y - kCapsuleHalfHeight, 2 * kCapsuleHalfWidth,
                   2 * kCapsuleHalfHeight, kCapsuleRed);
        char letter[2] = {letter_of(capsule.kind), 0};
        draw_text(letter, x - 4, y - 6, 2, kWhite);
    }
    for (int i = 0; i < world.shot_count; ++i) {
        draw_shot(static_cast<int>(world.shots[i].x), static_cast<int>(world.shots[i].y));
    }
    int left = static_cast<int>(world.paddle_x) - world.paddle_width / 2;
    draw_block(left, kPaddleTop, world.paddle_width, kPaddleHeight, kPaddleTeal);
    if (world.laser_time > 0) {
        // The guns stand 4 px above the paddle and overlap its ends by 2 px.
        draw_block(left - 8, kPaddleTop - 4, 10, 8, kRed);
        draw_block(left + world.paddle_width - 2, kPaddleTop - 4, 10, 8, kRed);
    }
    for (int i = 0; i < world.ball_count; ++i) {
        // A stuck ball is drawn where the next step puts it, on the paddle:
        // a fresh ball has no position yet in the frame right after a level
        // load or a lost life, which runs no step after it.
        const Ball& ball = world.balls[i];
        float x = ball.stuck ? world.paddle_x : ball.x;
        float y = ball.stuck ? kStuckY : ball.y;
        draw_block(static_cast<int>(x) - kBallHalf, static_cast<int>(y) - kBallHalf, 2 * kBallHalf,
                   2 * kBallHalf, kWhite);
    }
}

void draw_status_line(const World& world, char* text, std::size_t capacity) {
    std::snprintf(text, capacity, "SCORE %06d", world.score);
    draw_text(text, 30, 10, 3, kWhite);
    std::snprintf(text, capacity, "HI %06d", world.best);
    draw_text(text, 270, 14, 2, kYellow);
    std::snprintf(text, capacity, "LVL %d.%d", world.level, world.levels_cleared + 1);
    draw_text(text, 470, 14, 2, kCyan);
    draw_text("LIVES", 620, 14, 2, kGrey);
    for (int i = 0; i < world.lives; ++i) draw_block(700 + 46 * i, 16, 38, 10, kPaddleTeal);

    // Power-up timers show the whole seconds left plus one.
    int pen = 960;
    if (world.expand_time > 0) {
        std::snprintf(text, capacity, "E%d ", static_cast<int>(world.expand_time) + 1);
        draw_text(text, pen, 14, 2, kAmber);
        pen += 56;
    }
    if (world.slow_time > 0) {
        std::snprintf(text, capacity, "S%d ", static_cast<int>(world.slow_time) + 1);
        draw_text(text, pen, 14, 2, kAmber);
    }
}

// An overlay box: fill with cyan borders top and bottom, none at the sides.
void draw_box(int x, int y, int w, int h) {
    fill_rect(x, y, w, h, kBoxFill);
    fill_rect(x, y, w, 3, kFrameCyan);
    fill_rect(x, y + h - 3, w, 3, kFrameCyan);
}

void draw_centred(const char* text, int y, int size, std::uint32_t colour) {
    int length = static_cast<int>(std::strlen(text));
    draw_text(text, 640 - length * kCellWidth[size] / 2, y, size, colour);
}

void draw_game_over(const World& world, std::int64_t elapsed_ms, char* text, std::size_t capacity) {
    draw_box(380, 260, 520, 200);
    draw_text("GAME OVER", 523, 285, 4, kRed);
    std::snprintf(text, capacity, "SCORE %d", world.score);
    draw_centred(text, 350, 3, kWhite);
    std::snprintf(text, capacity, "BEST %d%s", world.best,
                  world.score >= world.best ? "  NEW!" : "");
    draw_centred(text, 390, 2, kYellow);
    if (blink_on(elapsed_ms, 500)) draw_text("MIDDLE TO RESTART", 530, 425, 2, kCyan);
}

void draw_play(const World& world, bool paused, std::int64_t elapsed_ms) {
    char text[64];
    constexpr int kFrameLeft = kWallLeft - kFrameThickness;
    constexpr int kFrameTop = kCeiling - kFrameThickness;
    constexpr int kFrameHeight = kFrameBottom - kFrameTop;
    fill_rect(kFrameLeft, kFrameTop, kWallRight + kFrameThickness - kFrameLeft, kFrameThickness,
              kFrameCyan);
    fill_rect(kFrameLeft, kFrameTop, kFrameThickness, kFrameHeight, kFrameCyan);
    fill_rect(kWallRight, kFrameTop, kFrameThickness, kFrameHeight, kFrameCyan);
    draw_bricks(world);
    draw_moving_parts(world);
    draw_status_line(world, text, sizeof text);
    draw_logo(1169, 6, 2);
    draw_footer();

    if (paused) {
        draw_box(440, 320, 400, 80);
        draw_text("PAUSED", 583, 344, 3, kCyan);
        draw_text("BACK to resume", 591, 368, 1, kGrey);
    }

    switch (world.phase) {
        case Phase::Serve:
            if (!paused && blink_on(elapsed_ms, 400)) {
                draw_text("MIDDLE: LAUNCH", 549, 560, 2, kAmber);
            }
            break;
        case Phase::LevelClear:
            draw_text("LEVEL CLEAR!", 484, 330, 4, kYellow);
            draw_text("+1000", 608, 390, 2, kGrey);
            break;
        case Phase::GameOver:
            draw_game_over(world, elapsed_ms, text, sizeof text);
            break;
        case Phase::Title:
        case Phase::Play:
            break;
    }
}

}  // namespace

void init_starfield(Rng& rng) {
    for (Star& star : starfield) {
        place_star(star, rng);
        star.z = 0.05f + static_cast<float>(random_draw(rng) & 0x7fff) / 32768.0f * 0.95f;
    }
}

void compose_frame(const World& world, bool paused, std::int64_t elapsed_ms, Rng& rng) {
    const bool title = world.phase == Phase::Title;
    if (title) {
        fill_rect(0, 0, kAreaWidth, kAreaHeight, kBackground);
    } else {
        clear_around_bricks(world);
    }
    step_starfield(rng);
    if (title) {
        draw_title(elapsed_ms);
    } else {
        draw_play(world, paused, elapsed_ms);
    }
}
