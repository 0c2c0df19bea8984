#include "display/screens.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "display/compositor.h"
#include "display/display.h"
#include "display/draw.h"
#include "display/font.h"
#include "display/palette.h"
#include "emulator/emulator.h"
#include "emulator/framebuffer_device.h"
#include "game/game.h"
#include "game/level.h"
#include "game/rng.h"
#include "support/game_world.h"

namespace {

// The random sequence this file's games draw from.
Rng rng;

class Screens : public testing::Test {
  protected:
    void SetUp() override {
        emu::reset();
        ASSERT_EQ(open_display(*display_, false), FbOpen::Ready);
        select_back_page();
        // Every star far away in the middle, so that they stay out of the way
        // of what a test looks at.
        for (Star& star : stars_.stars)
            star = {0.0f, 0.0f, 0.9f};
    }
    void TearDown() override {
        close_framebuffer(display_->framebuffer);
        EXPECT_EQ(display_->compositor.overflowed_frames(), 0)
            << "a frame had more items than a list holds";
    }

    // The frame as the main loop makes it, without the pan: the stars move
    // on, drawing from rng, and the frame is composed into the back page.
    void compose_frame(const World& world, bool paused, std::int64_t elapsed_ms, Rng& rng) {
        move_stars(stars_, rng);
        compose(world, stars_, paused, elapsed_ms);
    }

    void compose(const World& world, const Starfield& stars, bool paused, std::int64_t elapsed_ms) {
        ::compose_frame(display_->compositor, page_, world, stars, paused, elapsed_ms);
    }

    void select_back_page() { page_ = back_page(display_->framebuffer); }

    void present_page() {
        if (!::present_page(display_->framebuffer, page_))
            display_->compositor.forget_pages();
    }

    std::uint32_t pixel(int x, int y) const { return *page_.canvas.at(x, y); }

    int count(int x, int y, int w, int h, std::uint32_t colour) {
        int found = 0;
        for (int row = y; row < y + h; ++row) {
            for (int column = x; column < x + w; ++column)
                found += pixel(column, row) == colour;
        }
        return found;
    }

    // Whether the frame shows exactly this text at this place over the
    // cleared background: the text is drawn alone on a scratch page and the
    // two cells compared pixel for pixel.
    bool shows_text(const char* text, int x, int y, int size, std::uint32_t colour,
                    std::uint32_t background = kBackground) {
        std::vector<std::uint32_t> scratch(kPagePixelsPerRow * kAreaHeight, background);
        draw_text(page_canvas(scratch.data()), memo_, text, x, y, size, colour);
        int w = kTextCellWidth[size - 1] * static_cast<int>(std::strlen(text));
        bool any_ink = false;
        for (int row = y; row < y + kTextCellHeight[size - 1]; ++row) {
            for (int column = x; column < x + w; ++column) {
                std::uint32_t want = scratch[row * kPagePixelsPerRow + column];
                if (pixel(column, row) != want)
                    return false;
                any_ink |= want != background;
            }
        }
        return any_ink;
    }

    // A game in phase with one ball on the paddle.
    static World game_in(Phase phase) {
        World world = world_in(phase);
        world.ball_count = 1;
        world.balls[0] = {640.0f, 633.0f, 0, 0, 1};
        return world;
    }

    std::unique_ptr<Display> display_ = std::make_unique<Display>();
    Starfield stars_;
    Page page_;
    BlendMemo memo_;  // for the texts drawn alone
};

TEST_F(Screens, StartPromptBlinksFromTheProgramsStart) {
    const struct {
        std::int64_t elapsed_ms;
        bool shown;
    } cases[] = {{0, false},
                 {499, false},
                 {500, true},
                 {999, true},
                 {1000, false},
                 {1500, true},
                 // Weeks of running: past 2^31 ms the rhythm goes on.
                 {2147483500, true},
                 {2147484000, false},
                 {4294967296000, false},
                 {4294967296500, true}};
    World title;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.elapsed_ms);
        compose_frame(title, false, c.elapsed_ms, rng);
        EXPECT_EQ(shows_text("PRESS MIDDLE TO START", 441, 420, 3, kWhite), c.shown);
        EXPECT_EQ(count(441, 420, 21 * 19, 31, kWhite) > 0, c.shown);
    }
}

// The timers start at x = 960, right of the life markers; six lives reach
// past that, and then the timers make way for the sixth marker.
TEST_F(Screens, PowerUpTimersShowWholeSecondsLeftPlusOneBesideTheLives) {
    const struct {
        int lives;
        float expand_time;
        float slow_time;
        const char* expand_label;  // at expand_x, or nullptr
        int expand_x;
        const char* slow_label;
        int slow_x;
    } cases[] = {
        // Up to five lives (the fifth marker covers x = 884 to 921) they start
        // at 960.
        {3, 9.5f, 0.0f, "E10 ", 960, nullptr, 0},
        {3, 0.0f, 3.2f, nullptr, 0, "S4 ", 960},
        {3, 2.5f, 0.2f, "E3 ", 960, "S1 ", 1016},
        {3, 25.0f, 20.0f, "E26 ", 960, "S21 ", 1016},
        {5, 25.0f, 20.0f, "E26 ", 960, "S21 ", 1016},
        // The sixth marker covers x = 930 to 967; the timers leave the 8 px
        // gap the markers keep and start at 976.
        {6, 9.5f, 3.2f, "E10 ", 976, "S4 ", 1032},
        {6, 0.0f, 3.2f, nullptr, 0, "S4 ", 976},
    };
    for (const auto& c : cases) {
        World world = game_in(Phase::Play);
        world.lives = c.lives;
        world.expand_time = c.expand_time;
        world.slow_time = c.slow_time;
        compose_frame(world, false, 0, rng);
        SCOPED_TRACE(testing::Message() << c.lives << " lives, " << c.expand_time);
        for (int i = 0; i < c.lives; ++i)
            EXPECT_EQ(count(702 + 46 * i, 18, 34, 6, kPaddleTeal), 34 * 6) << "marker " << i;
        if (c.expand_label) {
            EXPECT_TRUE(shows_text(c.expand_label, c.expand_x, 14, 2, kAmber));
        }
        if (c.slow_label) {
            EXPECT_TRUE(shows_text(c.slow_label, c.slow_x, 14, 2, kAmber));
        }
    }
}

TEST_F(Screens, NewGameShowsLevelScoreLivesAndGuns) {
    World world = game_in(Phase::Serve);
    compose_frame(world, false, 0, rng);
    EXPECT_TRUE(shows_text("SCORE 000000", 30, 10, 3, kWhite));
    EXPECT_TRUE(shows_text("LVL 1.1", 470, 14, 2, kCyan));
    for (int x : {700, 746, 792})
        EXPECT_EQ(count(x + 2, 18, 34, 6, kPaddleTeal), 34 * 6) << x;
    EXPECT_EQ(count(838, 16, 38, 10, kPaddleTeal), 0) << "no fourth marker";
    // Guns at both ends of the 110 px paddle centred on 640.
    EXPECT_EQ(count(579, 638, 6, 4, kSignalRed), 24);
    EXPECT_EQ(count(695, 638, 6, 4, kSignalRed), 24);
    world.laser_time = 0;
    compose_frame(world, false, 0, rng);
    EXPECT_EQ(count(577, 636, 6, 4, kSignalRed), 0);
}

TEST_F(Screens, AFreshBallIsDrawnOnThePaddleBeforeAnyStepPlacesIt) {
    // Right after a level load or a lost life the waiting ball has no
    // position yet; the frame must show it on the paddle, not in a corner.
    World world = game_in(Phase::Serve);
    world.paddle_x = 500.0f;
    world.balls[0] = Ball{};
    world.balls[0].stuck = true;
    compose_frame(world, false, 800, rng);
    EXPECT_EQ(count(0, 0, 6, 6, kBackground), 36) << "nothing in the corner";
    const int white_when_fresh = count(495, 628, 10, 10, kWhite);
    world.balls[0].x = 500.0f;
    world.balls[0].y = 633.0f;
    compose_frame(world, false, 800, rng);
    EXPECT_GT(white_when_fresh, 0);
    EXPECT_EQ(white_when_fresh, count(495, 628, 10, 10, kWhite))
        << "drawn as the ball the next step places there";
}

TEST_F(Screens, ServeOverlayBlinksAndGivesWayToThePauseBox) {
    World world = game_in(Phase::Serve);
    compose_frame(world, false, 400, rng);
    EXPECT_TRUE(shows_text("MIDDLE: LAUNCH", 549, 560, 2, kAmber));
    compose_frame(world, false, 800, rng);
    EXPECT_EQ(count(549, 560, 14 * 13, 22, kAmber), 0);
    compose_frame(world, true, 400, rng);
    EXPECT_EQ(count(549, 560, 14 * 13, 22, kAmber), 0);
    EXPECT_EQ(count(440, 320, 400, 3, kFrameCyan), 1200) << "the pause box's top border";
    // The resume hint's cell overlaps the bottom of the title's, so look at
    // the ink of each.
    EXPECT_GT(count(583, 344, 6 * 19, 24, kCyan), 100);
    EXPECT_GT(count(591, 368, 14 * 7, 12, kGrey), 20);
}

TEST_F(Screens, GameOverCentresItsLinesAndMarksANewBest) {
    const struct {
        int score;
        int best;
        const char* best_line;
    } cases[] = {
        {0, 0, "BEST 0  NEW!"},
        {1234, 1234, "BEST 1234  NEW!"},
        {500, 9000, "BEST 9000"},
    };
    for (const auto& c : cases) {
        World world = game_in(Phase::GameOver);
        world.score = c.score;
        world.best = c.best;
        compose_frame(world, false, 0, rng);
        SCOPED_TRACE(c.best_line);
        int n = static_cast<int>(std::strlen(c.best_line));
        EXPECT_TRUE(shows_text(c.best_line, 640 - n * 13 / 2, 390, 2, kYellow, kBoxFill));
        char score_line[32];
        std::snprintf(score_line, sizeof score_line, "SCORE %d", c.score);
        n = static_cast<int>(std::strlen(score_line));
        EXPECT_TRUE(shows_text(score_line, 640 - n * 19 / 2, 350, 3, kWhite, kBoxFill));
    }
}

TEST_F(Screens, SilverMarkShowsOnlyWhileTwoHitsAreLeft) {
    World world = game_in(Phase::Play);
    world.bricks[0][0] = {BrickKind::Silver, 2, CapsuleKind::None};
    world.bricks[0][1] = {BrickKind::Silver, 1, CapsuleKind::None};
    world.bricks[1][0] = {BrickKind::Gold, 1, CapsuleKind::None};
    compose_frame(world, false, 0, rng);
    EXPECT_EQ(count(144 + 45, 113 + 5, 2, 20, kStripe), 40);
    EXPECT_EQ(count(244 + 45, 113 + 5, 2, 20, kStripe), 0);
    for (auto [dx, dy] : {std::pair{6, 6}, {85, 6}, {6, 23}, {85, 23}}) {
        EXPECT_EQ(pixel(144 + dx, 149 + dy), kRivet);
    }
}

TEST_F(Screens, NothingOutsideTheDrawingAreaIsEverWritten) {
    constexpr std::uint32_t kCanary = 0x5a5aa5a5;
    std::uint32_t* memory = reinterpret_cast<std::uint32_t*>(emu::fb::memory());
    std::size_t words = emu::fb::memory_size() / 4;
    std::fill(memory, memory + words, kCanary);

    World world = game_in(Phase::GameOver);
    world.ball_count = 4;
    world.balls[0] = {-3.0f, 300.0f, 0, 0, 0};
    world.balls[1] = {1282.0f, 717.0f, 0, 0, 0};
    world.balls[2] = {600.0f, 722.0f, 0, 0, 0};
    world.balls[3] = {2.0f, -1.0f, 0, 0, 0};
    world.capsule_count = 3;
    world.capsules[0] = {10.0f, 715.0f, CapsuleKind::Expand};
    world.capsules[1] = {1275.0f, 30.0f, CapsuleKind::Split};
    world.capsules[2] = {-20.0f, 5.0f, CapsuleKind::Life};
    world.shots[0] = {1279.0f, -5.0f};
    world.shots[1] = {0.0f, 712.0f};
    world.shot_count = 2;
    world.paddle_x = 60.0f;
    world.paddle_width = 170;
    world.lives = 6;
    world.expand_time = 3;
    world.slow_time = 3;
    for (Star& star : stars_.stars)
        star = {0.99f, -0.99f, 0.1f};
    for (int frame = 0; frame < 3; ++frame) {
        select_back_page();
        compose_frame(world, frame == 1, 600, rng);
        present_page();
    }

    std::size_t stride_words = 7680 / 4;
    for (std::size_t i = 0; i < words; ++i) {
        std::size_t line = i / stride_words;
        std::size_t column = i % stride_words;
        bool in_area =
            ((line >= 1080 && line < 1080 + 720) || (line >= 2160 && line < 2160 + 720)) &&
            column < 1280;
        if (!in_area) {
            ASSERT_EQ(memory[i], kCanary) << "line " << line << " column " << column;
        }
    }
}

// Once both pages are known, a frame recomposes only what changed, as the
// compositor reports it: the stars and the blinking prompt on the title, the
// ball, the paddle, the stars and the score in play. A frame that recomposed
// the page whole, or far more than changed, fails here on any machine.
TEST_F(Screens, FramesRecomposeOnlyWhatChanged) {
    constexpr double kPagePixels = kAreaWidth * kAreaHeight;
    const struct {
        const char* name;
        bool play;
        int frames;
        double largest_share;  // of the page, in any frame after the first two
    } cases[] = {{"title", false, 90, 0.02}, {"ordinary play", true, 90, 0.05}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        display_->compositor.forget_pages();
        Game game;
        random_seed(game.rng, 1337);
        place_stars(game.stars, game.rng);
        if (c.play) {
            game.world = game_in(Phase::Serve);
            load_level(game.world, 1, game.rng, 0);
        }
        int recomposed = 0;
        for (int frame = 0; frame < c.frames; ++frame) {
            const std::int64_t now_ms = 1000 + 33 * frame;
            FrameInput input;
            input.now_ms = now_ms;
            input.dt = 0.033f;
            // Launched at once, then the paddle goes right and left in turn.
            input.pressed = frame == 0 ? kButtonMiddle : kButtonNone;
            input.held = frame % 40 < 20 ? kButtonRight : kButtonLeft;
            Outbox outbox;
            if (c.play)
                play_frame(game, input, outbox);
            else
                move_stars(game.stars, game.rng);
            select_back_page();
            compose(game.world, game.stars, game.paused, now_ms - 1000);
            present_page();
            const ComposeReport& report = display_->compositor.last_report();
            EXPECT_EQ(report.whole, frame < 2) << "frame " << frame;
            if (frame < 2)
                continue;
            EXPECT_LT(static_cast<double>(report.pixels) / kPagePixels, c.largest_share)
                << "frame " << frame;
            recomposed += report.pixels > 0;
        }
        // Something moves in every frame.
        EXPECT_EQ(recomposed, c.frames - 2);
        EXPECT_EQ(game.world.phase, c.play ? Phase::Play : Phase::Title);
    }
}

// A frame with more items than a list holds keeps the first ones, and
// counts as overflowed, once; the next frame starts afresh.
TEST_F(Screens, AListThatLeavesItemsOutCountsAsAnOverflowedFrame) {
    const struct {
        int items;
        int kept;
        int left_out;
        long long overflowed_after;
    } cases[] = {{DisplayList::kCapacity, DisplayList::kCapacity, 0, 0},
                 {DisplayList::kCapacity + 5, DisplayList::kCapacity, 5, 1},
                 {10, 10, 0, 1}};
    // A compositor of its own: the fixture's display must stay clear of
    // overflows.
    auto compositor = std::make_unique<Compositor>();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.items);
        DisplayList& list = compositor->next_list();
        for (int i = 0; i < c.items; ++i)
            list.pixel(i % kAreaWidth, i / kAreaWidth, kWhite);
        EXPECT_EQ(list.count(), c.kept);
        EXPECT_EQ(list.left_out(), c.left_out);
        compositor->compose(page_, 0);
        EXPECT_EQ(compositor->overflowed_frames(), c.overflowed_after);
        EXPECT_EQ(compositor->next_list().count(), 0) << "the next list starts empty";
        EXPECT_EQ(compositor->next_list().left_out(), 0);
    }
}

// A lone bevelled block moved a few pixels along a row or a column damages
// only the columns or rows near its ends, edges included; composed through
// that damage alone, over the frame before, the page must equal the frame
// composed whole.
TEST_F(Screens, AMovedBlockComposedThroughItsDamageAloneEqualsTheWholeFrame) {
    const struct {
        int dx, dy;
    } cases[] = {{1, 0}, {-1, 0}, {3, 0}, {-5, 0}, {0, 1}, {0, -1}, {0, 2}, {0, -4}};
    constexpr int kX = 400, kY = 300, kW = 92, kH = 30;
    std::vector<std::uint32_t> composed(static_cast<std::size_t>(kPagePixelsPerRow) * kAreaHeight);
    std::vector<std::uint32_t> whole(composed.size());
    const Page page{0, page_canvas(composed.data())};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.dx << "," << c.dy);
        auto compositor = std::make_unique<Compositor>();
        for (int frame = 0; frame < 2; ++frame) {
            DisplayList& list = compositor->next_list();
            list.fill(0, 0, kAreaWidth, kAreaHeight, kBackground);
            list.block(kX + frame * c.dx, kY + frame * c.dy, kW, kH, kBrickBlue);
            compositor->compose(page, frame * 33);
        }
        const ComposeReport& report = compositor->last_report();
        EXPECT_FALSE(report.whole);
        EXPECT_LT(report.pixels, kW * kH) << "only near the block's ends";
        compositor->composed_from(page.index)->draw(page_canvas(whole.data()), memo_);
        int differ = 0;
        for (int y = 0; y < kAreaHeight; ++y) {
            for (int x = 0; x < kAreaWidth; ++x)
                differ += *page.canvas.at(x, y) !=
                          whole[static_cast<std::size_t>(y) * kPagePixelsPerRow + x];
        }
        EXPECT_EQ(differ, 0);
    }
}

}  // namespace
