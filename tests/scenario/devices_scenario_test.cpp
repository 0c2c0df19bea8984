// Whole runs on the emulated goggles that exercise the devices: the mode
// gate before anything else, the buzzer from start-up to shutdown, and the
// PLAY hold that ends the program with its rising tone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "emulator/adc_device.h"
#include "emulator/emulator.h"
#include "emulator/i2c_device.h"
#include "emulator/pwm_device.h"
#include "support/run_game.h"

namespace {

constexpr std::int64_t kStart = emu::kVirtualStartMs;
constexpr char kNormalLine[] = "mode: LT8668 B7=0x01 AD=0x00 AC=0x00\n";
#if VMX_MODE_GATE
constexpr const char* kGateLine = kNormalLine;
#else
constexpr const char* kGateLine = "mode_gate: left out of this build, no video mode check\n";
#endif

std::string describe(const std::vector<PwmLine>& lines) {
    std::string text;
    for (const PwmLine& line : lines) {
        text += std::to_string(line.time_ms) + " " + line.attribute + " " + line.value + " " +
                std::to_string(line.error) + "\n";
    }
    return text;
}

void press_play_at(std::int64_t at_ms) {
    emu::at_time(
        at_ms, [](void*) { emu::adc::hold_button(kButtonPlay); }, nullptr);
}

// The game's own delay from a press to its sound: the launch's tone, for a
// press at every few milliseconds of the button polls' 40 ms cycle. It is
// two polls of the debounce, the wait for the next frame and the sound
// thread's pick-up; whatever plays the buzzer adds its own on top.
TEST(DevicesRun, ALaunchSoundsSoonAfterItsPress) {
    std::int64_t shortest = 1 << 30;
    std::int64_t longest = 0;
    for (std::int64_t offset = 0; offset < 40; offset += 5) {
        static std::int64_t press_ms;
        press_ms = kStart + 1000 + offset;
        GameRun run;
        run.args = {"--seconds", "2"};
        run.setup = [] {
            const auto hold = [](std::int64_t at_ms, ButtonCode button) {
                static ButtonCode buttons[4];
                static int count = 0;
                buttons[count] = button;
                emu::at_time(
                    at_ms,
                    [](void* code) { emu::adc::hold_button(*static_cast<ButtonCode*>(code)); },
                    &buttons[count++]);
            };
            hold(kStart + 300, kButtonMiddle);  // a new game
            hold(kStart + 450, kButtonNone);
            hold(press_ms, kButtonMiddle);  // the launch
            hold(press_ms + 150, kButtonNone);
        };
        GameResult result = run_game(run);
        ASSERT_EQ(result.status, 0) << result.stderr_text;
        const std::vector<PwmLine> lines = result.pwm_writes();
        const auto sound = std::find_if(lines.begin(), lines.end(), [](const PwmLine& line) {
            return line.time_ms >= press_ms && line.attribute == "period";
        });
        ASSERT_NE(sound, lines.end()) << describe(lines);
        shortest = std::min(shortest, sound->time_ms - press_ms);
        longest = std::max(longest, sound->time_ms - press_ms);
    }
    std::printf("press to sound, the game's own: %lld to %lld ms\n",
                static_cast<long long>(shortest), static_cast<long long>(longest));
    EXPECT_LE(longest, 125) << "two polls, a settle, a frame and the sound thread's wait";
}

// Holding PLAY for three seconds: the hold tone rises, the confirmation
// beeps, the sound thread stops and the buzzer is silenced.
TEST(DevicesRun, PlayHoldEndsTheGameWithRisingToneAndConfirmation) {
    GameRun run;
    run.setup = [] { press_play_at(kStart + 500); };
    GameResult result = run_game(run);
    ASSERT_EQ(result.status, 0) << result.stderr_text;

    // The gate's register line comes first, the exit line last.
    EXPECT_EQ(result.stderr_text.rfind(kGateLine, 0), 0u) << result.stderr_text;
    std::size_t exit_at = result.stderr_text.find("vmxbrikon: exit after ");
    ASSERT_NE(exit_at, std::string::npos);
    EXPECT_EQ(result.stderr_text.find('\n', exit_at), result.stderr_text.size() - 1);
    EXPECT_EQ(result.stderr_text.find("sfx:"), std::string::npos);

    std::vector<PwmLine> lines = result.pwm_writes();
    SCOPED_TRACE(describe(lines));
    ASSERT_GE(lines.size(), 12u);
    // Start-up: the hold-tone set-up exports the channel and silences it;
    // the sound thread's own export then finds it busy.
    const char* start_up[][2] = {{"export", "7"}, {"enable", "0"}, {"duty_cycle", "0"},
                                 {"export", "7"}, {"enable", "0"}, {"duty_cycle", "0"}};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(lines[i].time_ms, kStart);
        EXPECT_EQ(lines[i].attribute, start_up[i][0]);
        EXPECT_EQ(lines[i].value, start_up[i][1]);
        EXPECT_EQ(lines[i].error, i == 3 ? EBUSY : 0);
    }

    // The hold: it begins at 400 Hz and rises at every poll to 1500 Hz.
    std::size_t i = 6;
    ASSERT_EQ(lines[i].attribute, "duty_cycle");
    EXPECT_EQ(lines[i].value, "0");
    ASSERT_EQ(lines[i + 1].attribute, "period");
    EXPECT_EQ(lines[i + 1].value, "2500000");
    std::int64_t hold_start = lines[i].time_ms;
    EXPECT_GE(hold_start, kStart + 500);
    EXPECT_LE(hold_start, kStart + 600);
    long last_period = 2500001;
    int rises = 0;
    for (; i < lines.size() && lines[i].value != "588235"; ++i) {
        EXPECT_EQ(lines[i].error, 0);
        if (lines[i].attribute != "period")
            continue;
        long period = std::stol(lines[i].value);
        EXPECT_LE(period, last_period);
        rises += period < last_period ? 1 : 0;
        last_period = period;
    }
    EXPECT_EQ(last_period, 666666) << "the hold reaches 1500 Hz";
    EXPECT_GE(rises, 60);

    // The confirmation: silence, 1700 Hz for 100 ms, silence.
    ASSERT_LT(i + 6, lines.size());
    std::int64_t confirm = lines[i].time_ms;
    EXPECT_GE(confirm, hold_start + 3000);
    EXPECT_LE(confirm, hold_start + 3050);
    EXPECT_EQ(describe({lines.begin() + static_cast<long>(i) - 3,
                        lines.begin() + static_cast<long>(i) + 5}),
              describe({{confirm, "duty_cycle", "0", 0},
                        {confirm, "enable", "0", 0},
                        {confirm, "duty_cycle", "0", 0},
                        {confirm, "period", "588235", 0},
                        {confirm, "duty_cycle", "294117", 0},
                        {confirm, "enable", "1", 0},
                        {confirm + 100, "duty_cycle", "0", 0},
                        {confirm + 100, "enable", "0", 0}}));

    // Shutdown: the sound thread silences as it ends, then shutdown once
    // more; nothing sounds afterwards.
    std::vector<PwmLine> rest(lines.begin() + static_cast<long>(i) + 5, lines.end());
    ASSERT_EQ(rest.size(), 4u);
    for (std::size_t k = 0; k < rest.size(); ++k) {
        EXPECT_EQ(rest[k].attribute, k % 2 == 0 ? "duty_cycle" : "enable");
        EXPECT_EQ(rest[k].value, "0");
        EXPECT_GE(rest[k].time_ms, confirm + 100);
        EXPECT_LE(rest[k].time_ms, confirm + 100 + 8);
    }
}

// Sound effects go on while PLAY is held, and each one that ends switches
// the buzzer off; the hold tone must come back at its own pitch within a
// poll, with no write refused, until the confirmation.
TEST(DevicesRun, HoldToneSoundsThroughTheEffectsOfAGameInPlay) {
    GameRun run;
    run.setup = [] {
        // Start a game, launch the ball, then hold PLAY while the ball
        // bounces off walls and bricks.
        static const struct {
            std::int64_t at_ms;
            ButtonCode button;
        } presses[] = {{300, kButtonMiddle},
                       {500, kButtonNone},
                       {700, kButtonMiddle},
                       {900, kButtonNone},
                       {1100, kButtonPlay}};
        for (const auto& press : presses) {
            emu::at_time(
                kStart + press.at_ms,
                [](void* button) {
                    emu::adc::hold_button(*static_cast<const ButtonCode*>(button));
                },
                const_cast<ButtonCode*>(&press.button));
        }
    };
    GameResult result = run_game(run);
    ASSERT_EQ(result.status, 0) << result.stderr_text;
    std::vector<PwmLine> lines = result.pwm_writes();
    SCOPED_TRACE(describe(lines));

    // The hold's first step is its 400 Hz period; the confirmation is the
    // first 1700 Hz one.
    std::size_t first = 0, confirm = 0;
    for (std::size_t k = 0; k < lines.size(); ++k) {
        if (first == 0 && lines[k].attribute == "period" && lines[k].value == "2500000")
            first = k;
        if (confirm == 0 && lines[k].value == "588235")
            confirm = k;
    }
    ASSERT_GT(first, 0u);
    ASSERT_GT(confirm, first);

    // Replay the channel millisecond by millisecond through the hold.
    bool enabled = false;
    long period = 0, duty = 0;
    int effects_ended = 0;
    std::int64_t longest_silence = 0, silent_since = -1;
    std::size_t k = first;
    for (std::int64_t t = lines[first].time_ms; t < lines[confirm].time_ms; ++t) {
        for (; k < confirm && lines[k].time_ms <= t; ++k) {
            EXPECT_EQ(lines[k].error, 0) << "write " << k;
            long value = std::stol(lines[k].value);
            if (lines[k].attribute == "enable") {
                effects_ended += enabled && value == 0 ? 1 : 0;
                enabled = value == 1;
            } else if (lines[k].attribute == "period") {
                period = value;
            } else if (lines[k].attribute == "duty_cycle") {
                duty = value;
            }
        }
        const bool sounding = enabled && duty > 0 && duty <= period;
        if (sounding) {
            silent_since = -1;
        } else if (silent_since < 0) {
            silent_since = t;
        } else {
            longest_silence = std::max(longest_silence, t - silent_since);
        }
    }
    EXPECT_GE(effects_ended, 2) << "effects must have played during the hold";
    EXPECT_LE(longest_silence, 45) << "the hold tone comes back within a poll";
    EXPECT_TRUE(enabled);
    EXPECT_LE(period, 1000000000 / 1450) << "the hold ends near 1500 Hz";

    // The frames keep their cadence while the button is held: a poll that
    // waits for the ADC to settle does not hold up the loop.
    std::istringstream pans(result.trace("pans.txt"));
    std::int64_t time_ms = 0, yoffset = 0, pan_result = 0;
    int frames = 0;
    while (pans >> time_ms >> yoffset >> pan_result) {
        frames += time_ms >= lines[first].time_ms && time_ms < lines[first].time_ms + 2000 ? 1 : 0;
    }
    EXPECT_GE(frames, 58) << "frames in the first two seconds of the hold";
}

struct RefusalCase {
    const char* name;
    std::function<void()> setup;
    std::string messages;
};

// Any answer but NORMAL ends the program with status 2 before anything
// else is touched, with or without --probe.
TEST(DevicesRun, RefusedModeEndsWithStatusTwoBeforeTheDisplay) {
    const std::string zeros = "mode: LT8668 B7=0x00 AD=0x00 AC=0x00\n";
    const RefusalCase cases[] = {
        {"AV",
         [] {
             emu::i2c::script({{0x02, 0x02, 0x01}});
         },
         "mode: LT8668 B7=0x02 AD=0x02 AC=0x01\n"
         "ODMOWA: tryb gogli=3, apka wymaga=1 (0=? 1=NORMAL 2=HDMI 3=AV)\n"},
        {"HDMI",
         [] {
             emu::i2c::script({{0x02, 0x00, 0x00}});
         },
         "mode: LT8668 B7=0x02 AD=0x00 AC=0x00\n"
         "ODMOWA: tryb gogli=2, apka wymaga=1 (0=? 1=NORMAL 2=HDMI 3=AV)\n"},
        {"no mode", [] { emu::i2c::script({{0x00}}); },
         zeros + zeros + zeros +
             "ODMOWA: tryb gogli=0, apka wymaga=1 (0=? 1=NORMAL 2=HDMI 3=AV)\n"},
        {"no transport", [] { emu::i2c::set_present(false); },
         "mode_gate: brak transportu i2c \xe2\x80\x94 ODMOWA\n"},
    };
    for (const RefusalCase& c : cases) {
        for (bool probe : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.name << (probe ? " --probe" : ""));
            GameRun run;
            if (probe)
                run.args = {"--probe"};
            run.log_calls = true;
            run.setup = c.setup;
#if VMX_MODE_GATE
            GameResult result = run_game(run);
            EXPECT_EQ(result.status, 2);
            EXPECT_EQ(result.stderr_text, c.messages);
            std::string calls = result.trace("calls.txt");
            EXPECT_EQ(calls.find("/dev/fb0"), std::string::npos);
            EXPECT_EQ(calls.find("/sys/class/pwm"), std::string::npos);
            EXPECT_EQ(calls.find("/dev/mem"), std::string::npos);
#else
            (void)run;
#endif
        }
    }
}

#if VMX_MODE_GATE
TEST(DevicesRun, GateWaitsForTheChipToSettle) {
    GameRun run;
    run.args = {"--probe"};
    run.setup = [] { emu::i2c::script({{0x00}, {0x01}}); };
    GameResult result = run_game(run);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.stderr_text.rfind(
                  std::string("mode: LT8668 B7=0x00 AD=0x00 AC=0x00\n") + kNormalLine + "fb0: ", 0),
              0u)
        << result.stderr_text;
    // The buzzer was set up after the 600 ms pause.
    std::vector<PwmLine> lines = result.pwm_writes();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].time_ms, kStart + 600);
}
#endif

// With the buzzer unusable the game runs silent, and the PLAY hold still
// ends it.
TEST(DevicesRun, SilentBuzzerStillLetsPlayHoldEndTheGame) {
    GameRun run;
    run.setup = [] {
        emu::pwm::Settings pwm;
        pwm.export_errno = EACCES;
        emu::pwm::configure(pwm);
        press_play_at(kStart + 200);
    };
    GameResult result = run_game(run);
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.stderr_text.find("sfx: pwm export failed (Permission denied)\n"),
              std::string::npos);
    std::vector<PwmLine> lines = result.pwm_writes();
    ASSERT_EQ(lines.size(), 2u) << describe(lines) << "only the two refused exports";
    EXPECT_EQ(lines[0].attribute, "export");
    EXPECT_EQ(lines[1].attribute, "export");
    std::size_t exit_at = result.stderr_text.find("vmxbrikon: exit after ");
    ASSERT_NE(exit_at, std::string::npos);
    long ran = std::stol(result.stderr_text.substr(exit_at + 22));
    // No confirmation beep to wait for.
    EXPECT_GE(ran, 3200);
    EXPECT_LE(ran, 3300);
}

}  // namespace
