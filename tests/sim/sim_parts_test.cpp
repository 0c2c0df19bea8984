// The simulator's parts that need no game run: its command line, the
// script format, the owner of the buttons, the frame handover, the autoplay's
// decisions and the buzzer's square wave.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "game/playfield.h"
#include "shell/main_loop.h"
#include "sim/autoplay.h"
#include "sim/buzzer_wave.h"
#include "sim/frame_store.h"
#include "sim/input_arbiter.h"
#include "sim/options.h"
#include "sim/script.h"
#include "web/sound_ring.h"

namespace {

using sim::ScriptEvent;

sim::SimOptions parse(std::vector<std::string> words, std::string* reason) {
    std::vector<const char*> argv = {"vmxbrikon-sim"};
    for (const std::string& word : words)
        argv.push_back(word.c_str());
    sim::SimOptions options;
    *reason = sim::parse_sim_options(static_cast<int>(argv.size()), argv.data(), &options);
    return options;
}

TEST(SimOptions, GameOptionsPassThroughAndSimOptionsAreTaken) {
    std::string reason;
    sim::SimOptions options =
        parse({"--seconds", "abc", "--headless", "--probe", "--virtual-time", "--autoplay",
               "--mute", "--goggle-mode", "av", "--script", "s.txt", "--screenshot-at",
               "900,100,900", "--out", "shots", "--data", "d"},
              &reason);
    ASSERT_EQ(reason, "");
    EXPECT_EQ(options.game_args, (std::vector<std::string>{"--seconds", "abc", "--probe"}));
    EXPECT_TRUE(options.game_seconds);
    EXPECT_TRUE(options.headless && options.virtual_time && options.autoplay && options.mute);
    EXPECT_EQ(options.goggle_mode, sim::GoggleMode::Av);
    EXPECT_EQ(options.script_path, "s.txt");
    EXPECT_EQ(options.screenshot_ms, (std::vector<std::int64_t>{100, 900}));
    EXPECT_EQ(options.out_dir, "shots");
    EXPECT_EQ(options.data_dir, "d");

    options = parse({"--headless", "--", "--seconds", "--bogus"}, &reason);
    ASSERT_EQ(reason, "");
    EXPECT_EQ(options.game_args, (std::vector<std::string>{"--seconds", "--bogus"}))
        << "after --, the game gets its words unchanged (and may refuse them)";
    EXPECT_FALSE(options.game_seconds);
}

TEST(SimOptions, RefusedCommandLinesSayWhy) {
    const struct {
        std::vector<std::string> words;
        const char* reason;
    } cases[] = {
        {{"--seconds"}, "--seconds needs a value"},
        {{"--goggle-mode", "hdmi2"}, "unknown goggle mode 'hdmi2'"},
        {{"--screenshot-at", "100"}, "--screenshot-at needs --out DIR"},
        {{"--out", "x"}, "--out needs --screenshot-at MS[,MS...]"},
        {{"--screenshot-at", "1,,2", "--out", "x"}, "--screenshot-at wants milliseconds"},
        {{"--screenshot-at", "-5", "--out", "x"}, "--screenshot-at wants milliseconds"},
        {{"--screenshot-at", "1.5", "--out", "x"}, "--screenshot-at wants milliseconds"},
        {{"--screenshot-at", "99999999999", "--out", "x"}, "--screenshot-at wants milliseconds"},
        {{"--window"}, "unknown option '--window'"},
        {{"--replay", "r", "--record", "s"}, "--replay and --record do not go together"},
        {{"--replay", "r", "--seconds", "5"}, "--replay runs the game with the options"},
        {{"--replay", "r", "--virtual-time"}, "--replay keeps the recorded clock"},
        {{"--replay", "r", "--data", "d"}, "--replay starts from the recorded best score"},
    };
    for (const auto& test : cases) {
        std::string reason;
        parse(test.words, &reason);
        EXPECT_EQ(reason.rfind(test.reason, 0), 0u) << reason;
    }
}

std::string describe(const std::vector<ScriptEvent>& events) {
    std::string text;
    for (const ScriptEvent& event : events) {
        text += std::to_string(event.at_ms);
        text += event.kind == ScriptEvent::Kind::Signal
                    ? " sig" + std::to_string(event.signal_number)
                    : " b" + std::to_string(event.button);
        text += ";";
    }
    return text;
}

TEST(SimScript, LinesBecomeTimedHoldsReleasesAndSignals) {
    const struct {
        const char* text;
        const char* events;
    } cases[] = {
        {"", ""},
        {"# nothing but a comment\n\n   \n", ""},
        {"100 MIDDLE", "100 b0;"},
        {"100 middle 150  # a tap\n", "100 b0;250 b8;"},
        {"0 LEFT\n500 right\n900 none\n", "0 b2;500 b3;900 b8;"},
        {"0 BACK 100\n300 PLAY 3500\n", "0 b7;100 b8;300 b6;3800 b8;"},
        // A hold cut short by the next line, also at the very same time.
        {"0 LEFT 1000\n400 RIGHT 100\n", "0 b2;400 b3;500 b8;"},
        {"0 LEFT 400\n400 RIGHT\n", "0 b2;400 b3;"},
        // A signal does not end a hold; the release still comes.
        {"0 LEFT 400\n200 signal TERM\n", "0 b2;200 sig15;400 b8;"},
        {"10 signal int\n10 signal SIGTERM\n", "10 sig2;10 sig15;"},
        {"5 1\n6 5 10\n", "5 b1;6 b5;16 b8;"},
    };
    for (const auto& test : cases) {
        std::vector<ScriptEvent> events;
        EXPECT_EQ(sim::parse_script(test.text, &events), "") << test.text;
        EXPECT_EQ(describe(events), test.events) << test.text;
    }
}

TEST(SimScript, BadLinesAreNamedByNumber) {
    const struct {
        const char* text;
        const char* reason;
    } cases[] = {
        {"abc MIDDLE", "line 1: 'abc' is not a time in milliseconds"},
        {"\n-5 MIDDLE", "line 2: '-5' is not a time in milliseconds"},
        {"100", "line 1: a button or 'signal' must follow the time"},
        {"100 JUMP", "line 1: unknown button 'JUMP'"},
        {"100 9", "line 1: unknown button '9'"},
        {"100 LEFT 0", "line 1: '0' is not a duration in milliseconds"},
        {"100 LEFT 5 6", "line 1: too many words"},
        {"100 LEFT\n50 RIGHT", "line 2: the time goes back"},
        {"100 signal HUP", "line 1: 'signal' wants TERM or INT, not 'HUP'"},
        {"100 signal", "line 1: 'signal' wants TERM or INT"},
    };
    for (const auto& test : cases) {
        std::vector<ScriptEvent> events;
        EXPECT_EQ(sim::parse_script(test.text, &events), test.reason) << test.text;
    }
}

// The arbiter's readings go to the game's own button handling, polled every
// 40 ms or, under load, late: every press the player made must become one
// press of the game, in order, and the reading must end on what is held.
TEST(SimInputArbiter, EveryPressReachesTheGameInOrder) {
    using sim::InputSource;
    struct Change {
        std::int64_t at_ms;
        InputSource source;
        int key;     // -1: every player's button let go, then a pause
        int button;  // kButtonNone: the key goes up
    };
    const InputSource keys = InputSource::Keys;
    const InputSource touch = InputSource::Touch;
    const struct {
        const char* name;
        std::vector<Change> changes;
        std::vector<std::int64_t> poll_gaps_ms;  // repeated
        std::vector<ButtonCode> presses;
        ButtonCode held_at_end;
    } cases[] = {
        {"RIGHT held, MIDDLE tapped",
         {{0, keys, 1, kButtonRight}, {300, keys, 2, kButtonMiddle}, {330, keys, 2, kButtonNone}},
         {40},
         {kButtonRight, kButtonMiddle},
         kButtonRight},
        {"LEFT held, BACK pressed on another source",
         {{0, touch, 1, kButtonLeft}, {200, keys, 6, kButtonBack}, {260, keys, 6, kButtonNone}},
         {40},
         {kButtonLeft, kButtonBack},
         kButtonLeft},
        {"two quick taps, 30 ms each, 30 ms apart",
         {{100, keys, 6, kButtonBack},
          {130, keys, 6, kButtonNone},
          {160, keys, 6, kButtonBack},
          {190, keys, 6, kButtonNone}},
         {40},
         {kButtonBack, kButtonBack},
         kButtonNone},
        {"two quick taps while the game polls late",
         {{100, keys, 6, kButtonBack},
          {130, keys, 6, kButtonNone},
          {160, keys, 6, kButtonBack},
          {190, keys, 6, kButtonNone}},
         {40, 130, 90, 41},
         {kButtonBack, kButtonBack},
         kButtonNone},
        {"a finger slides from LEFT onto RIGHT",
         {{0, touch, 20, kButtonLeft},
          {400, touch, 20, kButtonNone},
          {400, touch, 21, kButtonRight}},
         {40},
         {kButtonLeft, kButtonRight},
         kButtonRight},
        {"released out of order: the one still down is held",
         {{0, keys, 1, kButtonLeft}, {300, keys, 2, kButtonRight}, {700, keys, 1, kButtonNone}},
         {40},
         {kButtonLeft, kButtonRight},
         kButtonRight},
        {"the newer key let go: back to the older one, without a press",
         {{0, keys, 1, kButtonLeft}, {300, keys, 2, kButtonRight}, {700, keys, 2, kButtonNone}},
         {40},
         {kButtonLeft, kButtonRight},
         kButtonLeft},
        {"several keys held: the newest counts",
         {{0, keys, 1, kButtonLeft}, {300, keys, 2, kButtonRight}, {600, keys, 6, kButtonBack}},
         {40},
         {kButtonLeft, kButtonRight, kButtonBack},
         kButtonBack},
        {"the newest of three let go: back to the newest still down",
         {{0, keys, 1, kButtonLeft},
          {300, keys, 2, kButtonRight},
          {600, keys, 6, kButtonBack},
          {1000, keys, 6, kButtonNone}},
         {40},
         {kButtonLeft, kButtonRight, kButtonBack},
         kButtonRight},
        {"a key repeated while held: one press, and one release lets go",
         {{0, keys, 1, kButtonLeft},
          {200, keys, 1, kButtonLeft},
          {400, keys, 1, kButtonLeft},
          {700, keys, 1, kButtonNone}},
         {40},
         {kButtonLeft},
         kButtonNone},
        {"a repeated key let go first, then the other",
         {{0, keys, 1, kButtonLeft},
          {300, keys, 2, kButtonRight},
          {500, keys, 1, kButtonLeft},
          {700, keys, 1, kButtonNone},
          {900, keys, 2, kButtonNone}},
         {40},
         {kButtonLeft, kButtonRight},
         kButtonNone},
        {"the other key let go first, then the repeated one",
         {{0, keys, 1, kButtonLeft},
          {300, keys, 2, kButtonRight},
          {500, keys, 1, kButtonLeft},
          {700, keys, 2, kButtonNone},
          {900, keys, 1, kButtonNone}},
         {40},
         {kButtonLeft, kButtonRight},
         kButtonNone},
        {"a pause over a held button",
         {{0, keys, 1, kButtonLeft}, {300, keys, -1, kButtonBack}},
         {40},
         {kButtonLeft, kButtonBack},
         kButtonNone},
    };
    for (const auto& c : cases) {
        sim::InputArbiter arbiter;
        ButtonState buttons;
        HoldTone tone;
        std::vector<ButtonCode> presses;
        std::size_t next = 0;
        std::size_t gap = 0;
        std::int64_t next_poll_ms = 7;
        // The game's loop: a pass every 2 ms, a poll when one is due.
        for (std::int64_t now = 0; now < 3000; now += 2) {
            for (; next < c.changes.size() && c.changes[next].at_ms <= now; ++next) {
                const Change& change = c.changes[next];
                if (change.key < 0) {
                    arbiter.release_all();
                    arbiter.press(InputSource::Pause, 0, change.button);
                    arbiter.release(InputSource::Pause, 0);
                } else if (change.button == kButtonNone) {
                    arbiter.release(change.source, change.key);
                } else {
                    arbiter.press(change.source, change.key, change.button);
                }
            }
            const ButtonCode reading = arbiter.reading(now, buttons.stable_code);
            if (now >= next_poll_ms) {
                handle_reading(buttons, tone, reading, now);
                if (buttons.pressed_code != kButtonNone)
                    presses.push_back(buttons.pressed_code);
                buttons.pressed_code = kButtonNone;
                next_poll_ms = now + c.poll_gaps_ms[gap++ % c.poll_gaps_ms.size()];
            }
        }
        EXPECT_EQ(presses, c.presses) << c.name;
        EXPECT_EQ(arbiter.presses(), static_cast<long>(c.presses.size())) << c.name;
        EXPECT_EQ(buttons.stable_code, c.held_at_end) << c.name;
    }
}

// Steady holders (steering, a script, the built-in player) change the
// reading without a press, and the built-in player stands back for anyone.
TEST(SimInputArbiter, SteadyHoldersComeAfterThePlayer) {
    using sim::InputSource;
    sim::InputArbiter arbiter;
    arbiter.hold(InputSource::Autoplay, kButtonLeft);
    EXPECT_FALSE(arbiter.others_decide());
    EXPECT_EQ(arbiter.reading(0, kButtonNone), kButtonLeft);
    arbiter.hold(InputSource::Script, kButtonRight);
    EXPECT_TRUE(arbiter.others_decide());
    EXPECT_EQ(arbiter.reading(2, kButtonLeft), kButtonRight);
    arbiter.hold(InputSource::Pointer, kButtonLeft);
    EXPECT_EQ(arbiter.reading(4, kButtonRight), kButtonLeft) << "steering is the player's";
    arbiter.hold(InputSource::Pointer, kButtonRight);
    EXPECT_EQ(arbiter.reading(6, kButtonLeft), kButtonRight) << "a turn is no new press";
    arbiter.hold(InputSource::Pointer, kButtonLeft);
    arbiter.release_all();
    EXPECT_EQ(arbiter.reading(8, kButtonLeft), kButtonRight)
        << "steering let go with every player's button; the script's stays";
    arbiter.hold(InputSource::Script, kButtonNone);
    EXPECT_EQ(arbiter.reading(10, kButtonRight), kButtonLeft);
    // A press seen from a thread that cannot read the game waits its turn.
    arbiter.press(InputSource::Keys, 1, kButtonMiddle);
    EXPECT_EQ(arbiter.reading(12, sim::InputArbiter::kUnknown), kButtonLeft);
    EXPECT_EQ(arbiter.reading(14, kButtonLeft), kButtonNone);
}

// The game's thread publishes pictures as fast as it can while the viewer
// takes them: a picture taken is never one being written (all its pixels
// from one frame), never older than the one before, and in the canvas's
// byte order when asked for.
TEST(SimFrameStore, TheViewerTakesWholePicturesNewestFirst) {
    for (sim::PixelOrder order : {sim::PixelOrder::Argb, sim::PixelOrder::Rgba}) {
        sim::FrameStore store(order);
        bool fresh = true;
        EXPECT_EQ(store.take(&fresh), nullptr);
        EXPECT_FALSE(fresh);
        constexpr std::uint32_t kFrames = 120;
        // A page as the framebuffer holds it, 1920 pixels a row.
        constexpr std::size_t kPitch = 1920;
        std::vector<std::uint32_t> page(kPitch * kAreaHeight);
        std::thread game([&store, &page] {
            for (std::uint32_t frame = 1; frame <= kFrames; ++frame) {
                // Red is the frame's number, blue its complement.
                for (int i = 0; i < sim::kAreaPixels; i += 997)
                    page[i / kAreaWidth * kPitch + i % kAreaWidth] =
                        (frame << 16) | (0xffu - frame);
                store.publish(page.data(), kPitch);
            }
        });
        std::uint32_t last = 0;
        std::string fault;
        while (last < kFrames && fault.empty()) {
            const std::uint32_t* pixels = store.take(&fresh);
            if (pixels == nullptr || !fresh)
                continue;
            const std::uint32_t frame =
                order == sim::PixelOrder::Argb ? pixels[0] >> 16 : pixels[0] & 0xffu;
            const std::uint32_t want = order == sim::PixelOrder::Argb
                                           ? (frame << 16) | (0xffu - frame)
                                           : 0xff000000u | ((0xffu - frame) << 16) | frame;
            if (frame <= last)
                fault = "frame " + std::to_string(frame) + " after " + std::to_string(last);
            for (int i = 0; i < sim::kAreaPixels && fault.empty(); i += 997) {
                if (pixels[i] != want)
                    fault = "pixel " + std::to_string(i) + " of frame " + std::to_string(frame);
            }
            last = frame;
        }
        game.join();
        EXPECT_EQ(fault, "");
        EXPECT_NE(store.take(&fresh), nullptr);
        EXPECT_FALSE(fresh);
    }
}

// A viewer that keeps its own copy and redraws only the changes of each
// picture it takes must end with the newest picture, however many it
// skipped; the buffer it takes must hold that picture whole, though the
// producer converted only where that buffer was behind. Frame 5 comes
// with no changes known.
TEST(SimFrameStore, AViewerRedrawingOnlyTheChangesKeepsUpOverSkippedPictures) {
    constexpr int kFrames = 12;
    constexpr int kUnknown = 5;
    const struct {
        const char* name;
        std::vector<int> takes;  // the frames after whose publishing the viewer takes
    } cases[] = {{"every picture", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
                 {"every other", {2, 4, 6, 8, 10, 12}},
                 {"every third", {3, 6, 9, 12}},
                 {"the first and the last", {1, 12}},
                 {"irregular", {1, 2, 6, 7, 8, 11, 12}}};
    constexpr std::size_t kPitch = 1920;
    for (sim::PixelOrder order : {sim::PixelOrder::Argb, sim::PixelOrder::Rgba}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message()
                         << c.name << (order == sim::PixelOrder::Argb ? ", argb" : ", rgba"));
            auto store = std::make_unique<sim::FrameStore>(order);
            std::vector<std::uint32_t> page(kPitch * kAreaHeight, 0);
            // In the store's order: a black page is opaque black in a canvas's.
            std::vector<std::uint32_t> newest(sim::kAreaPixels,
                                              order == sim::PixelOrder::Argb ? 0u : 0xff000000u);
            std::vector<std::uint32_t> viewer(sim::kAreaPixels, 0);
            std::size_t next_take = 0;
            for (int frame = 1; frame <= kFrames; ++frame) {
                // Two small rectangles a frame, somewhere else each time,
                // one of them reaching the area's far corner.
                Damage changed;
                changed.add(Rect{40 * frame, 10 * frame, 40 * frame + 30, 10 * frame + 8});
                changed.add(
                    Rect{kAreaWidth - 7 * frame, kAreaHeight - 3 * frame, kAreaWidth, kAreaHeight});
                const std::uint32_t colour =
                    0xff000000u | (static_cast<std::uint32_t>(frame) << 16);
                const std::uint32_t stored =
                    order == sim::PixelOrder::Argb ? colour : 0xff000000u | frame;
                for (int r = 0; r < changed.count(); ++r) {
                    for (int y = changed[r].top; y < changed[r].bottom; ++y) {
                        for (int x = changed[r].left; x < changed[r].right; ++x) {
                            page[y * kPitch + x] = colour;
                            newest[y * kAreaWidth + x] = stored;
                        }
                    }
                }
                store->publish(page.data(), kPitch, frame == kUnknown ? nullptr : &changed);
                if (next_take >= c.takes.size() || c.takes[next_take] != frame)
                    continue;
                ++next_take;
                bool fresh = false;
                const std::uint32_t* taken = store->take(&fresh);
                ASSERT_NE(taken, nullptr);
                EXPECT_TRUE(fresh);
                int index = 0;
                while (store->buffer(index) != taken)
                    ++index;
                const sim::FrameChanges& changes = store->changes(index);
                long long area = 0;
                for (int r = 0; r < changes.count; ++r) {
                    const auto* rect = changes.rects[r];
                    area += Rect{rect[0], rect[1], rect[2], rect[3]}.area();
                    for (int y = rect[1]; y < rect[3]; ++y) {
                        for (int x = rect[0]; x < rect[2]; ++x)
                            viewer[y * kAreaWidth + x] = taken[y * kAreaWidth + x];
                    }
                }
                EXPECT_TRUE(std::equal(newest.begin(), newest.end(), taken))
                    << "the buffer taken after frame " << frame;
                EXPECT_TRUE(viewer == newest) << "the viewer's copy after frame " << frame;
                // Only the first picture taken and the first after the
                // unknown changes need the whole area.
                const int taken_before = next_take >= 2 ? c.takes[next_take - 2] : 0;
                if (taken_before != 0 && (taken_before >= kUnknown || frame < kUnknown)) {
                    EXPECT_LT(area, sim::kAreaPixels / 8) << "frame " << frame;
                }
            }
        }
    }
}

Ball ball_at(float x, float y, float vx, float vy) {
    Ball ball;
    ball.x = x;
    ball.y = y;
    ball.vx = vx;
    ball.vy = vy;
    return ball;
}

TEST(SimAutoplay, LandingPointFollowsTheWallBounces) {
    const struct {
        Ball ball;
        float x;
    } cases[] = {
        {ball_at(640, 434, 0, 400), 640},        // straight down
        {ball_at(640, 434, 100, 100), 840},      // 200 px right
        {ball_at(1000, 434, 400, 200), 858},     // 400 right: 129 to the wall, 271 back
        {ball_at(200, 434, -400, 200), 502},     // 400 left: 49 to the wall, 351 back
        {ball_at(640, 134, 978 * 2, 500), 640},  // across and back twice
        {ball_at(500, 300, 300, -300), 500},     // going up: where it is
        {ball_at(500, 700, 300, 300), 500},      // already below
    };
    for (const auto& test : cases) {
        EXPECT_NEAR(sim::landing_x(test.ball, 634), test.x, 0.01f)
            << test.ball.x << "," << test.ball.y << " v " << test.ball.vx << "," << test.ball.vy;
    }
}

World play_world(float paddle_x) {
    World world;
    world.phase = Phase::Play;
    world.paddle_x = paddle_x;
    world.ball_count = 2;
    world.balls[0] = ball_at(300, 200, 0, -400);  // going up
    world.balls[1] = ball_at(800, 400, 0, 400);   // coming down at x 800
    // The only bricks lie to the left, so the ball is met right of centre.
    world.bricks[0][0] = Brick{BrickKind::Red, 1, CapsuleKind::None};
    world.bricks[0][9] = Brick{BrickKind::Gold, 1, CapsuleKind::None};  // gold does not count
    return world;
}

TEST(SimAutoplay, PlaySteersUnderTheFallingBallAndFiresWhenThere) {
    // Target: 800 + 0.5 * 55 = 827.5.
    const struct {
        float paddle_x;
        ButtonCode button;
    } cases[] = {
        {600, kButtonRight},  {815, kButtonRight}, {816, kButtonMiddle}, {827, kButtonMiddle},
        {839, kButtonMiddle}, {840, kButtonLeft},  {1000, kButtonLeft},
    };
    for (const auto& test : cases) {
        World world = play_world(test.paddle_x);
        sim::AutoplayState state;
        EXPECT_EQ(sim::autoplay_decide(world, false, 5000, state), test.button) << test.paddle_x;
    }
    World world = play_world(600);
    world.balls[1].y = 700;  // past the paddle: lost, so the other ball counts
    EXPECT_FLOAT_EQ(sim::paddle_target(world), 300 + 0.5f * 55);
}

// The buttons decided every 20 ms from the start, as runs of "button:ms".
std::string decisions(const World& world, bool paused, int steps) {
    sim::AutoplayState state;
    std::string text;
    ButtonCode last = -1;
    int run = 0;
    for (int i = 0; i < steps; ++i) {
        ButtonCode button = sim::autoplay_decide(world, paused, i * sim::kAutoplayStepMs, state);
        if (button != last && run > 0) {
            text += std::to_string(last) + ":" + std::to_string(run) + " ";
            run = 0;
        }
        last = button;
        run += static_cast<int>(sim::kAutoplayStepMs);
    }
    return text + std::to_string(last) + ":" + std::to_string(run);
}

TEST(SimAutoplay, TapsMiddleLongEnoughForTheDebounce) {
    World world;
    world.phase = Phase::Title;
    EXPECT_EQ(decisions(world, false, 100), "8:1500 0:160 8:160 0:160 8:20");
    world.phase = Phase::Serve;
    EXPECT_EQ(decisions(world, false, 24), "0:160 8:160 0:160");
    world.phase = Phase::GameOver;
    EXPECT_EQ(decisions(world, false, 130), "8:2500 0:100");
    world.phase = Phase::LevelClear;
    EXPECT_EQ(decisions(world, false, 50), "8:1000");
    World paused = play_world(100);
    EXPECT_EQ(decisions(paused, true, 16), "0:160 8:160") << "a tap resumes the game";
}

std::int64_t ms_ns(double ms) {
    return static_cast<std::int64_t>(ms * 1000000);
}

TEST(SimBuzzerWave, ChangesLandOnTheirOwnSamples) {
    // 48 kHz: a sample every 20833 ns; 1 kHz with 50 % duty is 24 high, 24 low.
    sim::BuzzerWave wave(48000, 1000);
    wave.note_change({true, 1000000, 500000}, ms_ns(1));
    wave.note_change({true, 1000000, 250000}, ms_ns(3));
    wave.note_change({false, 1000000, 250000}, ms_ns(4));
    std::vector<std::int16_t> out(240);
    wave.render(out.data(), static_cast<int>(out.size()), 0);
    // Samples 0..47 are before 1 ms: silent. 48 is the first at or after 1 ms.
    for (int i = 0; i < 48; ++i)
        ASSERT_EQ(out[i], 0) << i;
    for (int i = 48; i < 144; ++i) {
        ASSERT_EQ(out[i], (i - 48) % 48 < 24 ? 1000 : -1000) << i;
    }
    // From 3 ms (sample 144) a quarter of the period is high, from 4 ms
    // (sample 192) the channel is off.
    for (int i = 144; i < 192; ++i)
        ASSERT_EQ(out[i], (i - 144) % 48 < 12 ? 1000 : -1000) << i;
    for (int i = 192; i < 240; ++i)
        ASSERT_EQ(out[i], 0) << i;

    // A later stretch goes on from the state reached.
    wave.note_change({true, 2000000, 1000000}, ms_ns(6));
    wave.render(out.data(), 96, ms_ns(5));
    for (int i = 0; i < 48; ++i)
        ASSERT_EQ(out[i], 0) << i;
    for (int i = 48; i < 96; ++i)
        ASSERT_EQ(out[i], 1000) << i << " the first half of 500 Hz";

    // A change in the middle of a period keeps the period's phase: only the
    // share that is high changes, as on the goggles' PWM channel.
    sim::BuzzerWave mid(48000, 1000);
    mid.note_change({true, 1000000, 500000}, 0);
    mid.note_change({true, 1000000, 250000}, 1250000);  // sample 60
    std::vector<std::int16_t> samples(144);
    mid.render(samples.data(), static_cast<int>(samples.size()), 0);
    for (int i = 0; i < 144; ++i)
        ASSERT_EQ(samples[i], i % 48 < (i < 60 ? 24 : 12) ? 1000 : -1000) << i;
}

// A sound device asks for stretch after stretch; the wave keeps its own
// pace across the jitter of their times, and jumps back in step after a
// stall.
TEST(SimBuzzerWave, StretchesFollowOnUntilAStall) {
    sim::BuzzerWave wave(48000, 1000);
    // Half a millisecond of 1 kHz at 100 ms (24 samples), and again at 1.1 s.
    wave.note_change({true, 1000000, 500000}, ms_ns(100));
    wave.note_change({false, 1000000, 500000}, ms_ns(100) + 500000);
    wave.note_change({true, 1000000, 500000}, ms_ns(1100));
    std::vector<std::int16_t> out(48);
    // The millisecond before the tone, then the next one asked for 5 ms
    // late: it goes on from 100 ms, so the whole short tone is heard.
    wave.render_next(out.data(), 48, ms_ns(99) + sim::BuzzerWave::kBehindNs);
    EXPECT_EQ(out[47], 0);
    wave.render_next(out.data(), 48, ms_ns(105) + sim::BuzzerWave::kBehindNs);
    EXPECT_EQ(out[0], 1000);
    EXPECT_EQ(out[23], 1000);
    EXPECT_EQ(out[24], 0);
    // A second later the wave jumps there: the second tone.
    wave.render_next(out.data(), 48, ms_ns(1100) + sim::BuzzerWave::kBehindNs);
    EXPECT_EQ(out[0], 1000);
}

TEST(SimBuzzerWave, SilentWhileTheDutyCycleGivesNoWave) {
    const sim::PwmState silent[] = {
        {false, 1000000, 500000},
        {true, 0, 0},
        {true, 1000000, 0},
        {true, 1000000, 1000000},
    };
    for (const sim::PwmState& state : silent) {
        sim::BuzzerWave wave(48000, 1000);
        wave.note_change(state, 0);
        std::vector<std::int16_t> out(100, 7);
        wave.render(out.data(), 100, 0);
        EXPECT_EQ(out, std::vector<std::int16_t>(100, 0))
            << state.period_ns << "/" << state.duty_ns;
    }
}

TEST(SimBuzzerWave, AFullRingNeverHoldsTheGameAndTheNewestStateWins) {
    sim::BuzzerWave wave(48000, 1000);
    // No renderer at all: every note returns at once; the ones beyond the
    // ring are given up.
    const long notes = sim::BuzzerWave::kCapacity + 500;
    std::thread other([&] {
        for (long i = 0; i < notes / 2; ++i)
            wave.note_change({true, 3000000, 1500000}, i);
    });
    for (long i = notes / 2; i < notes - 1; ++i)
        wave.note_change({true, 3000000, 1500000}, i);
    other.join();
    wave.note_change({true, 1000000, 500000}, ms_ns(1000));  // the last word: 1 kHz
    EXPECT_EQ(wave.noted(), notes);
    EXPECT_EQ(wave.dropped(), notes - sim::BuzzerWave::kCapacity);
    // The renderer catches up on the newest state at once.
    std::vector<std::int16_t> out(48);
    wave.render(out.data(), 48, 0);
    for (int i = 0; i < 48; ++i)
        ASSERT_EQ(out[i], i < 24 ? 1000 : -1000) << i;
}

}  // namespace

// The web page's ring of samples, played by an audio output in quanta of
// 128 while the worker tops it up once a wake-up and hears how far it has
// played only now and then: what comes out is the buzzer's wave, sample for
// sample, the output never finds the ring empty, and the samples queued
// stay within the lead (a ring that forgot what is queued would keep adding
// delay, or write over unplayed samples).
TEST(SimSoundRing, TheOutputGetsTheWaveWithoutGapsOrRepeats) {
    constexpr int kRate = 48000;
    constexpr std::int64_t kQuantumNs = 128 * 1000000000LL / kRate;
    struct Case {
        const char* name;
        std::int64_t lead_ns;
        std::int64_t wake_ns;   // how often the worker tops the ring up
        int quanta_per_report;  // how often the output says how far it is
    };
    const Case cases[] = {
        {"display frames", 30000000, 16666667, 38},
        {"every other frame", 50000000, 33333333, 38},
        {"a report every quantum", 30000000, 16666667, 1},
        {"a longer lead, a report every eight quanta", 80000000, 16666667, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        web::SoundRing ring(kRate, c.lead_ns);
        sim::PwmState tone;
        tone.enabled = true;
        tone.period_ns = 1000000;  // 48 samples: 24 high, 24 low
        tone.duty_ns = 500000;
        ring.wave()->note_change(tone, 0);
        std::vector<std::int16_t> heard;
        std::uint32_t read = 0;
        std::int64_t now_ns = 1000000000;
        std::int64_t next_wake_ns = now_ns;
        const std::uint32_t most = static_cast<std::uint32_t>(c.lead_ns * kRate / 1000000000) + 128;
        for (int quantum = 0; quantum < 4000; ++quantum) {
            if (now_ns >= next_wake_ns) {
                ring.top_up(now_ns);
                next_wake_ns += c.wake_ns;
            }
            const std::uint32_t queued = ring.written() - read;
            ASSERT_LE(queued, most) << "quantum " << quantum;
            ASSERT_GE(queued, 128u) << "the output ran dry at quantum " << quantum;
            for (std::uint32_t i = 0; i < 128; ++i)
                heard.push_back(ring.samples()[(read + i) % web::SoundRing::kCapacity]);
            read += 128;
            now_ns += kQuantumNs;
            if (quantum % c.quanta_per_report == 0)
                ring.report(read, now_ns);
        }
        // The first change lands somewhere in the first stretch; from the
        // first rising edge on, every period is 24 high samples and 24 low.
        std::size_t start = 1;
        while (start < heard.size() && !(heard[start - 1] <= 0 && heard[start] > 0))
            ++start;
        ASSERT_LT(start, 5000u);
        for (std::size_t i = start; i < heard.size(); ++i) {
            const bool high = (i - start) % 48 < 24;
            ASSERT_EQ(heard[i] > 0, high) << "sample " << i;
        }
    }
}
