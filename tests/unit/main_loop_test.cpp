#include "shell/main_loop.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "display/display.h"
#include "emulator/emulator.h"
#include "platform/clock.h"
#include "platform/os.h"
#include "platform/stop.h"

namespace {

constexpr int kPollMs = 40;

class ButtonPolls : public testing::Test {
  protected:
    void SetUp() override {
        emu::reset();
        emu::use_virtual_time(true);
        buttons = ButtonState{};
        stop_flag.store(0);
    }
    void TearDown() override { stop_flag.store(0); }

    // Feeds readings one poll apart; returns the press events they made.
    std::vector<int> feed(const std::vector<int>& readings) {
        std::vector<int> presses;
        for (int reading : readings) {
            handle_reading(buttons, hold_tone, reading, now_ms());
            if (buttons.pressed_code != kButtonNone)
                presses.push_back(buttons.pressed_code);
            buttons.pressed_code = kButtonNone;
            os::sleep_us(kPollMs * 1000);
        }
        return presses;
    }

    ButtonState buttons;
    HoldTone hold_tone;
};

struct DebounceCase {
    const char* what;
    std::vector<int> readings;
    std::vector<int> presses;
    int held_after;
};

TEST_F(ButtonPolls, DebounceMakesOnePressPerAcceptedButtonAfterNone) {
    const DebounceCase cases[] = {
        {"a single reading is no press", {8, 0}, {}, 0},
        {"two equal readings press", {0, 0}, {0}, 0},
        {"holding on presses once", {0, 0, 0, 0, 0}, {0}, 0},
        {"LEFT then straight to MIDDLE presses only LEFT", {2, 2, 0, 0, 0}, {2}, 0},
        {"flicker is never accepted", {0, 8, 0, 8, 0}, {}, 0},
        {"release and press again", {0, 0, 8, 8, 0, 0}, {0, 0}, 0},
        {"one blank reading does not release", {0, 0, 8, 0, 0}, {0}, 0},
        {"BACK", {7, 7, 8}, {7}, 8},
        {"a disturbed sample counts as no button", {0, 0, -1, -1, 0, 0}, {0, 0}, 0},
    };
    for (const DebounceCase& c : cases) {
        SCOPED_TRACE(c.what);
        buttons = ButtonState{};
        EXPECT_EQ(feed(c.readings), c.presses);
        EXPECT_EQ(buttons.held_code, c.held_after);
    }
}

struct HoldCase {
    const char* what;
    std::vector<int> readings;  // one per poll, 40 ms apart
    bool stops;
};

std::vector<int> repeat(int reading, int polls) {
    return std::vector<int>(polls, reading);
}

std::vector<int> join(std::initializer_list<std::vector<int>> parts) {
    std::vector<int> all;
    for (const std::vector<int>& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST_F(ButtonPolls, PlayHeldForThreeSecondsStops) {
    // 3000 ms is reached at the 76th reading (75 intervals of 40 ms).
    const HoldCase cases[] = {
        {"held throughout", repeat(6, 76), true},
        {"one poll short", repeat(6, 75), false},
        {"a 240 ms gap keeps the count", join({repeat(6, 10), repeat(8, 6), repeat(6, 60)}), true},
        {"a 280 ms gap restarts it", join({repeat(6, 10), repeat(8, 7), repeat(6, 60)}), false},
        {"failed readings do not end the hold",
         join({repeat(6, 10), repeat(-1, 20), repeat(6, 46)}), true},
    };
    for (const HoldCase& c : cases) {
        SCOPED_TRACE(c.what);
        buttons = ButtonState{};
        stop_flag.store(0);
        feed(c.readings);
        EXPECT_EQ(stop_flag.load() == 1, c.stops);
    }
}

TEST_F(ButtonPolls, AbandonedHoldForgetsWhenItBegan) {
    feed(join({repeat(6, 5), repeat(8, 8)}));
    EXPECT_EQ(buttons.play_down_ms, -1);
    EXPECT_EQ(buttons.play_seen_ms, -1);
    std::int64_t before = now_ms();
    feed({6});
    EXPECT_EQ(buttons.play_down_ms, before);
}

}  // namespace

namespace {

class Frames : public testing::Test {
  protected:
    void SetUp() override {
        emu::reset();
        emu::use_virtual_time(true);
        ASSERT_EQ(open_display(*display, false), FbOpen::Ready);
        run.limit.start_ms = now_ms();
        buttons.last_frame_ms = run.limit.start_ms;
    }
    void TearDown() override { close_framebuffer(display->framebuffer); }

    // One frame 34 ms after the last, with a press event waiting.
    void frame(ButtonCode press, ButtonCode held = kButtonNone, std::int64_t gap_ms = 34) {
        buttons.pressed_code = press;
        buttons.held_code = held;
        run_frame(run, *display, buttons.last_frame_ms + gap_ms);
    }

    RunState run;
    std::unique_ptr<Display> display = std::make_unique<Display>();
    Game& game = run.game;
    ButtonState& buttons = run.buttons;
};

TEST_F(Frames, PhasesAnswerTheirButtons) {
    frame(kButtonBack);
    EXPECT_EQ(game.world.phase, Phase::Title) << "only MIDDLE starts a game";
    frame(kButtonMiddleAlt);
    EXPECT_EQ(game.world.phase, Phase::Serve);
    EXPECT_EQ(game.world.lives, 3);
    EXPECT_EQ(game.world.level, 1);
    EXPECT_EQ(game.world.laser_time, 1000000000.0f);

    frame(kButtonNone);
    EXPECT_EQ(game.world.balls[0].y, 633.0f) << "the ball waits on the paddle";
    frame(kButtonBack);
    EXPECT_TRUE(game.paused);
    frame(kButtonMiddle);
    EXPECT_EQ(game.world.phase, Phase::Play) << "MIDDLE launches even while game.paused";
    EXPECT_TRUE(game.paused) << "and the game stays game.paused";
    Ball before = game.world.balls[0];
    frame(kButtonNone);
    EXPECT_EQ(game.world.balls[0].y, before.y) << "nothing moves while game.paused";
    frame(kButtonMiddle);
    EXPECT_FALSE(game.paused) << "MIDDLE resumes";
    EXPECT_LT(game.world.balls[0].y, before.y) << "and the resuming frame steps the game";
    frame(kButtonBack);
    EXPECT_TRUE(game.paused);
    frame(kButtonBack);
    EXPECT_FALSE(game.paused) << "BACK resumes too";

    game.world.phase = Phase::GameOver;
    frame(kButtonBack);
    EXPECT_EQ(game.world.phase, Phase::GameOver);
    frame(kButtonMiddle);
    EXPECT_EQ(game.world.phase, Phase::Title);
}

TEST_F(Frames, LevelClearWaitsSixteenHundredMillisecondsThenLoadsTheNextLevel) {
    frame(kButtonMiddle);
    game.world.phase = Phase::LevelClear;
    game.world.phase_start_ms = buttons.last_frame_ms;
    frame(kButtonNone, kButtonNone, 1600);
    EXPECT_EQ(game.world.phase, Phase::LevelClear) << "1600 ms is not yet more than 1600";
    frame(kButtonNone, kButtonNone, 1);
    EXPECT_EQ(game.world.phase, Phase::Serve);
    EXPECT_EQ(game.world.level, 2);
}

TEST_F(Frames, StallIsClampedToATenthOfASecond) {
    frame(kButtonMiddle);
    float x = game.world.paddle_x;
    frame(kButtonNone, kButtonRight, 500);
    EXPECT_FLOAT_EQ(game.world.paddle_x - x, 64.0f) << "640 px/s for 0.1 s, not 0.5 s";
    x = game.world.paddle_x;
    frame(kButtonNone, kButtonRight, 50);
    EXPECT_FLOAT_EQ(game.world.paddle_x - x, 32.0f);
}

}  // namespace
