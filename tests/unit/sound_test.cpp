#include "devices/sound.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "devices/sound_queue.h"
#include "emulator/emulator.h"
#include "emulator/pwm_device.h"
#include "platform/os.h"
#include "platform/stop.h"
#include "support/run_game.h"

namespace {

using Log = std::vector<std::string>;

constexpr std::int64_t kStart = emu::kVirtualStartMs;

// The queue, the stop request and the hold tone live for the whole
// process, so these cases run in children; a failed expectation there fails
// the child.
int child_verdict() {
    return testing::Test::HasFailure() ? 1 : 0;
}

// The emulated goggles as at power-on, and the process-wide sound state as
// at the program's start: no stop request and an empty queue, whatever the
// tests run before in this process left there.
void start_emulated_goggles(const emu::pwm::Settings& pwm = {}) {
    stop_flag.store(0);
    Tone left;
    while (sound_queue_front(sound_queue, &left))
        sound_queue_pop(sound_queue);
    emu::reset();
    emu::use_virtual_time(true);
    emu::pwm::configure(pwm);
}

// The PWM writes from index from on, as "time attribute value", with
// " !errno" for a refused write.
Log pwm_log(int from = 0) {
    Log lines;
    for (int i = from; i < emu::pwm::write_count(); ++i) {
        emu::pwm::Write write = emu::pwm::write_at(i);
        char line[96];
        std::snprintf(line, sizeof line, "%lld %s %s", static_cast<long long>(write.time_ms),
                      write.attribute, write.value);
        std::string text = line;
        if (write.error != 0)
            text += " !" + std::to_string(write.error);
        lines.push_back(text);
    }
    return lines;
}

// The period writes of a log: one per tone started.
Log periods(const Log& log) {
    Log found;
    for (const std::string& line : log) {
        std::size_t at = line.find(" period ");
        if (at != std::string::npos)
            found.push_back(line.substr(at + 8));
    }
    return found;
}

std::string at(std::int64_t time_ms, const char* rest) {
    return std::to_string(time_ms) + " " + rest;
}

void stop_at(std::int64_t time_ms) {
    emu::at_time(
        time_ms, [](void*) { stop_flag.store(1); }, nullptr);
}

// Runs the sound thread until stop_at's time; returns when it has ended.
void run_sound_thread() {
    os::Thread thread;
    EXPECT_EQ(os::thread_start(&thread, sound_thread), 0);
    EXPECT_EQ(os::thread_join(thread), 0);
}

TEST(SoundQueue, HoldsElevenTonesInOrder) {
    SoundQueue queue;
    Tone tone;
    // Many laps round the ring: the indexes wrap and the order holds.
    for (std::uint32_t lap = 0; lap < 5; ++lap) {
        for (std::uint32_t i = 0; i < 11; ++i) {
            EXPECT_TRUE(sound_queue_push(queue, Tone{100 * lap + i + 1, i}));
        }
        EXPECT_FALSE(sound_queue_push(queue, Tone{999, 1})) << "the twelfth is dropped";
        EXPECT_TRUE(sound_queue_front(queue, &tone));
        EXPECT_EQ(tone.freq_hz, 100 * lap + 1);
        EXPECT_TRUE(sound_queue_front(queue, &tone)) << "a tone keeps its slot until played";
        EXPECT_FALSE(sound_queue_push(queue, Tone{999, 1}));
        sound_queue_pop(queue);
        EXPECT_TRUE(sound_queue_push(queue, Tone{100 * lap + 12, 11}));
        EXPECT_FALSE(sound_queue_push(queue, Tone{999, 1}));
        for (std::uint32_t i = 1; i < 12; ++i) {
            ASSERT_TRUE(sound_queue_front(queue, &tone));
            EXPECT_EQ(tone.freq_hz, 100 * lap + i + 1);
            EXPECT_EQ(tone.duration_ms, i);
            sound_queue_pop(queue);
        }
        EXPECT_FALSE(sound_queue_front(queue, &tone));
    }
}

// A consumer that never sleeps against a producer that retries when the
// ring is full: every tone that was let in comes out once, in order, whole.
TEST(SoundQueue, FullSpeedSoakLosesAndReordersNothing) {
    constexpr std::uint32_t kTones = 3000000;
    SoundQueue queue;
    std::uint32_t refused = 0;
    std::uint32_t mismatched = 0;
    std::uint32_t received = 0;
    std::thread consumer([&] {
        Tone tone;
        while (received < kTones) {
            if (!sound_queue_front(queue, &tone)) {
                std::this_thread::yield();
                continue;
            }
            if (tone.freq_hz != received + 1 || tone.duration_ms != ~(received + 1)) {
                mismatched += 1;
            }
            received += 1;
            sound_queue_pop(queue);
        }
    });
    for (std::uint32_t n = 1; n <= kTones;) {
        if (sound_queue_push(queue, Tone{n, ~n})) {
            n += 1;
        } else {
            refused += 1;
            std::this_thread::yield();
        }
    }
    consumer.join();
    EXPECT_EQ(received, kTones);
    EXPECT_EQ(mismatched, 0u);
    Tone tone;
    EXPECT_FALSE(sound_queue_front(queue, &tone));
    std::printf("producer found the ring full %u times\n", refused);
}

TEST(Sound, ToneWritesPeriodAndDutyInOrder) {
    struct Case {
        std::uint32_t freq_hz;
        std::uint32_t duration_ms;
        const char* period;
        const char* duty;
    };
    const Case cases[] = {
        {520, 30, "1923076", "961538"},
        {1047, 140, "955109", "477554"},
        {140, 220, "7142857", "3571428"},
        {1, 5, "1000000000", "500000000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.freq_hz);
        int status = run_in_child([&c] {
            start_emulated_goggles();
            sfx_play(c.freq_hz, c.duration_ms);
            std::int64_t end = kStart + c.duration_ms;
            stop_at(end + 1);
            run_sound_thread();
            Log expected = {
                at(kStart, "export 7"),
                at(kStart, "enable 0"),
                at(kStart, "duty_cycle 0"),
                at(kStart, "enable 0"),
                at(kStart, "duty_cycle 0"),
                at(kStart, (std::string("period ") + c.period).c_str()),
                at(kStart, (std::string("duty_cycle ") + c.duty).c_str()),
                at(kStart, "enable 1"),
                at(end, "duty_cycle 0"),
                at(end, "enable 0"),
                // The stop is seen after the gap, and silences once more.
                at(end + 12, "duty_cycle 0"),
                at(end + 12, "enable 0"),
            };
            EXPECT_EQ(pwm_log(), expected);
            EXPECT_EQ(emu::clock_ms(), end + 12);
            EXPECT_EQ(emu::pwm::open_files(), 0);
            return child_verdict();
        });
        EXPECT_EQ(status, 0);
    }
}

TEST(Sound, QueueFillsWithoutAConsumer) {
    int status = run_in_child([] {
        start_emulated_goggles();
        // Twelve distinct requests before the sound thread runs: the last
        // one finds the ring full.
        for (std::uint32_t i = 0; i < 12; ++i)
            sfx_play(1000 + i, 10);
        stop_at(kStart + 11 * 22 + 5);
        run_sound_thread();
        Log played = periods(pwm_log());
        Log expected;
        for (std::uint32_t i = 0; i < 11; ++i)
            expected.push_back(std::to_string(1000000000 / (1000 + i)));
        EXPECT_EQ(played, expected);
        return child_verdict();
    });
    EXPECT_EQ(status, 0);
}

TEST(Sound, GameOverLossFitsAnEmptyQueue) {
    int status = run_in_child([] {
        start_emulated_goggles();
        // The ball-lost sound, then the game-over sound, all at once.
        const Tone loss[] = {{300, 120}, {200, 160}, {140, 220}, {500, 130},
                             {380, 130}, {280, 130}, {180, 260}};
        std::int64_t total = 0;
        Log expected;
        for (const Tone& tone : loss) {
            sfx_play(tone.freq_hz, tone.duration_ms);
            total += tone.duration_ms + 12;
            expected.push_back(std::to_string(1000000000 / tone.freq_hz));
        }
        stop_at(kStart + total + 1);
        run_sound_thread();
        EXPECT_EQ(periods(pwm_log()), expected);
        return child_verdict();
    });
    EXPECT_EQ(status, 0);
}

TEST(Sound, StopLetsTheToneFinishAndDropsTheRest) {
    struct Case {
        std::int64_t stop_after_ms;
        std::int64_t ended_after_ms;
        int tones_started;
    };
    const Case cases[] = {
        {50, 132, 1},   // during the first tone: it plays out, then the gap
        {120, 132, 1},  // exactly as it ends
        {125, 132, 1},  // during the gap
        {133, 304, 2},  // just after the second tone began
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stop_after_ms);
        int status = run_in_child([&c] {
            start_emulated_goggles();
            sfx_play(300, 120);
            sfx_play(200, 160);
            sfx_play(140, 220);
            stop_at(kStart + c.stop_after_ms);
            run_sound_thread();
            EXPECT_EQ(emu::clock_ms(), kStart + c.ended_after_ms);
            Log log = pwm_log();
            EXPECT_EQ(static_cast<int>(periods(log).size()), c.tones_started);
            Log tail = {at(kStart + c.ended_after_ms, "duty_cycle 0"),
                        at(kStart + c.ended_after_ms, "enable 0")};
            EXPECT_EQ(Log(log.end() - 2, log.end()), tail);
            EXPECT_FALSE(emu::pwm::enabled());
            return child_verdict();
        });
        EXPECT_EQ(status, 0);
    }
}

TEST(Sound, StopWhileIdleEndsWithinOnePause) {
    int status = run_in_child([] {
        start_emulated_goggles();
        stop_at(kStart + 3);
        run_sound_thread();
        EXPECT_EQ(emu::clock_ms(), kStart + 8);
        return child_verdict();
    });
    EXPECT_EQ(status, 0);
}

TEST(Sound, ExportFailureIsReportedUnlessBusy) {
    struct Case {
        emu::pwm::Settings pwm;
        const char* message;
    };
    const Case cases[] = {
        {{true, 0, false}, ""},
        {{true, 0, true}, ""},  // already exported: EBUSY, said nothing
        {{true, EBUSY, false}, ""},
        {{true, EACCES, false}, "sfx: pwm export failed (Permission denied)\n"},
        {{true, ENODEV, false}, "sfx: pwm export failed (No such device)\n"},
        {{false, 0, false}, "sfx: pwm export failed (No such file or directory)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        int status = run_in_child([&c] {
            start_emulated_goggles(c.pwm);
            sfx_play(440, 18);
            stop_at(kStart + 1);
            run_sound_thread();
            EXPECT_STREQ(emu::stderr_text(), c.message);
            // The thread carries on: the tone is tried whatever happened.
            EXPECT_EQ(emu::clock_ms(), kStart + 18 + 12);
            return child_verdict();
        });
        EXPECT_EQ(status, 0);
    }
}

// The exit-hold tone as the test's game would hold it; each test drives it
// in a child of its own.
HoldTone hold_tone;

TEST(HoldTone, InitExportsUnlessTheChannelIsUnusable) {
    struct Case {
        emu::pwm::Settings pwm;
        int open_errno;  // the export's open fails with this, 0: it does not
        bool ready;
    };
    const Case cases[] = {
        {{true, 0, false}, 0, true},       {{true, 0, true}, 0, true},
        {{true, EBUSY, true}, 0, true},    {{true, EACCES, false}, 0, false},
        {{false, 0, false}, 0, false},     {{true, 0, true}, EBUSY, true},
        {{true, 0, false}, EACCES, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pwm.export_errno << " " << c.open_errno);
        int status = run_in_child([&c] {
            start_emulated_goggles(c.pwm);
            if (c.open_errno != 0) {
                emu::add_fault({emu::Call::Open, "export", 1, emu::Action::Fail, c.open_errno});
            }
            EXPECT_EQ(hold_tone_init(hold_tone), c.ready);
            if (emu::pwm::exported()) {
                Log log = pwm_log();
                Log tail = {at(kStart, "enable 0"), at(kStart, "duty_cycle 0")};
                EXPECT_TRUE(log.size() >= 2 && Log(log.end() - 2, log.end()) == tail)
                    << testing::PrintToString(log);
            }
            // Ready or not shows in whether the confirmation beeps for 100 ms.
            hold_tone_confirm(hold_tone);
            EXPECT_EQ(emu::clock_ms(), c.ready ? kStart + 100 : kStart);
            return child_verdict();
        });
        EXPECT_EQ(status, 0);
    }
}

TEST(HoldTone, PitchRisesOverThreeSeconds) {
    int status = run_in_child([] {
        start_emulated_goggles();
        EXPECT_TRUE(hold_tone_init(hold_tone));
        struct Case {
            int held_ms;
            std::uint32_t hz;
        };
        const Case cases[] = {
            {0, 400},     {1, 400},        {3, 401},        {1500, 950},
            {2999, 1499}, {3000, 1500},    {3001, 1500},    {100000, 1500},
            {-1, 1500},   {INT_MIN, 1500}, {INT_MAX, 1500},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.held_ms);
            // Every step clears the duty cycle before the new period, so
            // even a jump down from the top pitch is accepted, and it
            // switches the buzzer on, whatever an effect left behind.
            std::uint32_t period = 1000000000u / c.hz;
            Log step = {at(kStart, "duty_cycle 0"),
                        at(kStart, ("period " + std::to_string(period)).c_str()),
                        at(kStart, ("duty_cycle " + std::to_string(period / 2)).c_str()),
                        at(kStart, "enable 1")};
            for (int repeat = 0; repeat < 2; ++repeat) {
                int from = emu::pwm::write_count();
                hold_tone_update(hold_tone, c.held_ms);
                EXPECT_EQ(pwm_log(from), step);
                EXPECT_EQ(emu::pwm::sounding_hz(), 1000000000u / period);
                pwm_silence();  // an effect ending in between
            }
        }
        return child_verdict();
    });
    EXPECT_EQ(status, 0);
}

TEST(HoldTone, BeginStopAndConfirm) {
    int status = run_in_child([] {
        start_emulated_goggles();
        EXPECT_TRUE(hold_tone_init(hold_tone));

        int from = emu::pwm::write_count();
        hold_tone_stop(hold_tone);
        EXPECT_EQ(pwm_log(from), Log{}) << "nothing sounds, nothing to stop";

        hold_tone_begin(hold_tone);
        EXPECT_EQ(pwm_log(from), (Log{at(kStart, "duty_cycle 0"), at(kStart, "period 2500000"),
                                      at(kStart, "duty_cycle 1250000"), at(kStart, "enable 1")}));
        from = emu::pwm::write_count();
        hold_tone_stop(hold_tone);
        EXPECT_EQ(pwm_log(from), (Log{at(kStart, "duty_cycle 0"), at(kStart, "enable 0")}));

        // Confirming a sounding hold silences it first, then beeps 100 ms.
        hold_tone_begin(hold_tone);
        hold_tone_update(hold_tone, 40);
        from = emu::pwm::write_count();
        hold_tone_confirm(hold_tone);
        Log beep = {at(kStart, "duty_cycle 0"),       at(kStart, "period 588235"),
                    at(kStart, "duty_cycle 294117"),  at(kStart, "enable 1"),
                    at(kStart + 100, "duty_cycle 0"), at(kStart + 100, "enable 0")};
        Log expected = {at(kStart, "duty_cycle 0"), at(kStart, "enable 0")};
        expected.insert(expected.end(), beep.begin(), beep.end());
        EXPECT_EQ(pwm_log(from), expected);

        // With nothing sounding it goes straight to the beep.
        from = emu::pwm::write_count();
        hold_tone_confirm(hold_tone);
        for (std::string& line : beep) {
            std::int64_t time = std::stoll(line);
            line = at(time + 100, line.substr(line.find(' ') + 1).c_str());
        }
        EXPECT_EQ(pwm_log(from), beep);
        EXPECT_EQ(emu::pwm::open_files(), 0);
        return child_verdict();
    });
    EXPECT_EQ(status, 0);
}

TEST(HoldTone, WithoutTheChannelNothingIsWrittenOrAwaited) {
    int status = run_in_child([] {
        start_emulated_goggles({true, EACCES, false});
        EXPECT_FALSE(hold_tone_init(hold_tone));
        int from = emu::pwm::write_count();
        hold_tone_begin(hold_tone);
        hold_tone_update(hold_tone, 0);
        hold_tone_update(hold_tone, 1500);
        hold_tone_stop(hold_tone);
        hold_tone_update(hold_tone, 3000);
        hold_tone_confirm(hold_tone);
        EXPECT_EQ(pwm_log(from), Log{});
        EXPECT_EQ(emu::clock_ms(), kStart) << "the confirmation must not block";
        return child_verdict();
    });
    EXPECT_EQ(status, 0);
}

}  // namespace
