// The replay recorder and player through the hooks the emulated goggles
// call (the game's main thread): a known run of readings makes known bytes
// (so a change to what the recorder writes fails here until the format
// version is raised), and those bytes play back the same readings, on the
// clock from the recorded origin, with each signal at its own sleep.
#include "emulator/replay.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "emulator/emulator.h"

namespace {

// One pass of the main loop as the hooks see it: a clock reading, the
// button ADC's sample latched at the sleep, the sleep, and a signal that
// arrived before the sleep (0: none).
struct Pass {
    std::int64_t live_us;
    std::uint32_t sample;
    unsigned sleep_us;
    int signal;
};

// What a run gave the game: each pass's reading and sample, and the passes
// at whose wake a signal reached the game's handler.
struct Seen {
    std::vector<std::int64_t> readings_ns;
    std::vector<std::uint32_t> samples;
    std::vector<std::string> signals;  // "pass:number"
    bool operator==(const Seen&) const = default;
};

Seen* handled_into = nullptr;
int handled_pass = 0;
void game_handler(int number) {
    handled_into->signals.push_back(std::to_string(handled_pass) + ":" + std::to_string(number));
}

// Real time, whole milliseconds: readings a little late (kept as the
// prediction), early wakes (a signal cut the sleep), a long stall, a button
// held and let go, and two signals.
const Pass kRealRun[] = {
    {7340300, 0x7FF, 2000, 0}, {7342900, 0x7FF, 2000, 0}, {7345700, 0x7FF, 2000, 0},
    {7353000, 0x123, 9000, 0}, {7362100, 0x123, 2000, 0}, {7364000, 0x123, 2000, SIGINT},
    {7365500, 0x7FF, 2000, 0}, {7367900, 0x7FF, 2000, 0}, {7431000, 0x7FF, 1000, 0},
    {7432400, 0x7FF, 9000, 0}, {7436000, 0x7FF, 2000, 0}, {7438000, 0x555, 2000, SIGTERM},
    {7440000, 0x555, 2000, 0},
};
constexpr std::int64_t kRealOrigin = 7340000;

// Virtual time: every reading exactly as slept, but one.
const Pass kVirtualRun[] = {
    {10000000, 0x7FF, 2000, 0}, {10002000, 0x7FF, 2000, 0},      {10004000, 0x200, 2000, 0},
    {10006000, 0x200, 2000, 0}, {10008017, 0x200, 9000, SIGINT}, {10017017, 0x7FF, 2000, 0},
};
constexpr std::int64_t kVirtualOrigin = 10000000;

emu::replay::Start start_of(std::int64_t origin_us, std::int64_t tick_us) {
    emu::replay::Start start;
    start.origin_us = origin_us;
    start.tick_us = tick_us;
    start.game_args = {"--seconds", "9"};
    start.has_best = true;
    start.best = "1500\n";
    return start;
}

const std::uint8_t kChipAnswer[3] = {0x01, 0x02, 0x03};

// Records the passes, chip answers first, as the game makes them.
template <std::size_t N>
std::vector<std::uint8_t> record_run(const Pass (&passes)[N], const emu::replay::Start& start,
                                     Seen* seen) {
    emu::replay::record(start);
    const emu::replay::Handler keep_int = emu::replay::signal_handler(SIGINT, game_handler);
    const emu::replay::Handler keep_term = emu::replay::signal_handler(SIGTERM, game_handler);
    std::uint8_t answer[3] = {0x01, 0x02, 0x03};
    EXPECT_EQ(emu::replay::i2c_transfer(0, answer, sizeof answer), 0);
    EXPECT_EQ(emu::replay::i2c_transfer(EREMOTEIO, answer, sizeof answer), EREMOTEIO);
    handled_into = seen;
    for (std::size_t i = 0; i < N; ++i) {
        handled_pass = static_cast<int>(i);
        seen->readings_ns.push_back(emu::replay::clock_ns(passes[i].live_us * 1000));
        seen->samples.push_back(emu::replay::sample(passes[i].sample));
        if (passes[i].signal != 0)
            (passes[i].signal == SIGINT ? keep_int : keep_term)(passes[i].signal);
        emu::replay::sleeping(passes[i].sleep_us);
        emu::replay::woke();
    }
    return emu::replay::recorded();
}

// Plays bytes back through the same passes, whatever the live inputs say.
template <std::size_t N>
Seen play_run(const std::vector<std::uint8_t>& bytes, const Pass (&passes)[N]) {
    Seen seen;
    emu::replay::play(bytes.data(), bytes.size());
    EXPECT_TRUE(emu::replay::playing());
    emu::replay::signal_handler(SIGINT, game_handler);
    emu::replay::signal_handler(SIGTERM, game_handler);
    std::uint8_t answer[3] = {};
    EXPECT_EQ(emu::replay::i2c_transfer(EIO, answer, sizeof answer), 0);
    EXPECT_EQ(std::vector<std::uint8_t>(answer, answer + 3),
              std::vector<std::uint8_t>(kChipAnswer, kChipAnswer + 3));
    EXPECT_EQ(emu::replay::i2c_transfer(0, answer, sizeof answer), EREMOTEIO);
    EXPECT_EQ(emu::replay::i2c_transfer(0, answer, sizeof answer), EREMOTEIO)
        << "a transfer beyond the replay's finds no chip";
    handled_into = &seen;
    for (std::size_t i = 0; i < N; ++i) {
        handled_pass = static_cast<int>(i);
        seen.readings_ns.push_back(emu::replay::clock_ns(123));
        seen.samples.push_back(emu::replay::sample(0x3FF));
        EXPECT_FALSE(emu::replay::ran_out()) << "pass " << i;
        emu::replay::sleeping(passes[i].sleep_us);
        emu::replay::woke();
    }
    return seen;
}

std::string hex(const std::vector<std::uint8_t>& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

class Replay : public testing::Test {
  protected:
    void SetUp() override { emu::reset(); }
    void TearDown() override {
        handled_into = nullptr;
        emu::reset();
    }
};

// The bytes of today's format (1) for these runs. A change to them fails
// here: raise kFormatVersion, keep reading (or refuse by name) the older
// format, and write the new bytes in.
constexpr const char* kRealBytes =
    "564d585201005200000005312e302e30e0ffbf03e80702092d2d7365636f6e647301390105313530300a091b1701"
    "0f7c0f090f000cff0f03a30203ff0f05d50a020700030102037900040602060f7947cac9";
constexpr const char* kVirtualBytes =
    "564d585201004700000005312e302e3080ade2040102092d2d7365636f6e647301390105313530300a042722070009"
    "ff0f02800403ff0f010700030102037900020502a196fb15";

TEST_F(Replay, AKnownRunMakesKnownBytes) {
    Seen seen;
    EXPECT_EQ(hex(record_run(kRealRun, start_of(kRealOrigin, 1000), &seen)), kRealBytes);
    emu::reset();
    EXPECT_EQ(hex(record_run(kVirtualRun, start_of(kVirtualOrigin, 1), &seen)), kVirtualBytes);
}

std::vector<std::uint8_t> unhex(const char* text) {
    std::vector<std::uint8_t> bytes;
    for (const char* at = text; at[0] != 0 && at[1] != 0; at += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(at, 2), nullptr, 16)));
    return bytes;
}

std::vector<std::int64_t> ms_to_ns(const std::vector<std::int64_t>& ms) {
    std::vector<std::int64_t> ns;
    for (std::int64_t value : ms)
        ns.push_back(value * 1000000);
    return ns;
}

// Today's bytes play back the readings they were made from, each signal at
// the wake of the sleep it reached the game in, whatever the live clock,
// buttons and chip say meanwhile.
TEST_F(Replay, KnownBytesPlayTheRecordedRunBack) {
    Seen real;
    real.readings_ns =
        ms_to_ns({7340, 7342, 7344, 7353, 7362, 7364, 7365, 7367, 7431, 7432, 7436, 7438, 7440});
    for (const Pass& pass : kRealRun)
        real.samples.push_back(pass.sample);
    real.signals = {"5:2", "11:15"};
    EXPECT_EQ(play_run(unhex(kRealBytes), kRealRun), real);
    emu::reset();

    Seen recorded;
    record_run(kRealRun, start_of(kRealOrigin, 1000), &recorded);
    EXPECT_EQ(recorded, real) << "what the game saw while it was recorded";
    emu::reset();

    Seen virtual_run;
    for (const Pass& pass : kVirtualRun) {
        virtual_run.readings_ns.push_back(pass.live_us * 1000);
        virtual_run.samples.push_back(pass.sample);
    }
    virtual_run.signals = {"4:2"};
    EXPECT_EQ(play_run(unhex(kVirtualBytes), kVirtualRun), virtual_run);
}

// Before its first reading a replay's clock stands at the recorded origin,
// and timed actions run as the readings reach them.
TEST_F(Replay, TheClockStartsAtTheRecordedOrigin) {
    const std::vector<std::uint8_t> bytes = unhex(kRealBytes);
    emu::replay::play(bytes.data(), bytes.size());
    EXPECT_EQ(emu::clock_ms(), kRealOrigin / 1000);
    static bool reached = false;
    reached = false;
    emu::at_time(
        7353, [](void*) { reached = true; }, nullptr);
    for (int pass = 0; pass < 4; ++pass) {
        EXPECT_FALSE(reached) << pass;
        emu::replay::clock_ns(0);
        emu::replay::sleeping(kRealRun[pass].sleep_us);
        emu::replay::woke();
    }
    EXPECT_TRUE(reached);
    EXPECT_EQ(emu::clock_ms(), 7353);
}

// Past its last reading a replay's clock follows the sleeps, and the game is
// asked to stop once, at the next sleep's wake, as by SIGTERM.
TEST_F(Replay, TheGameIsStoppedOnceWhenTheReplayRunsOut) {
    Seen seen;
    play_run(unhex(kVirtualBytes), kVirtualRun);
    handled_into = &seen;
    handled_pass = 100;
    EXPECT_FALSE(emu::replay::ran_out());
    EXPECT_EQ(emu::replay::clock_ns(0), (10017017 + 2000) * std::int64_t{1000});
    EXPECT_TRUE(emu::replay::ran_out());
    EXPECT_TRUE(seen.signals.empty()) << "not before the sleep";
    emu::replay::sleeping(2000);
    emu::replay::woke();
    EXPECT_EQ(seen.signals, std::vector<std::string>{"100:15"});
    for (int pass = 0; pass < 3; ++pass) {
        EXPECT_EQ(emu::replay::clock_ns(0), (10017017 + 4000 + pass * 2000) * std::int64_t{1000});
        emu::replay::sleeping(2000);
        emu::replay::woke();
    }
    EXPECT_EQ(seen.signals.size(), 1u);
}

// reset() leaves no recording, playing, pending signal or kept stream behind.
TEST_F(Replay, ResetLeavesNothingBehind) {
    const emu::replay::Start fresh_start = start_of(kVirtualOrigin, 1);
    emu::replay::record(fresh_start);
    const std::vector<std::uint8_t> fresh = emu::replay::recorded();
    emu::reset();

    Seen seen;
    record_run(kRealRun, start_of(kRealOrigin, 1000), &seen);
    emu::replay::signal_handler(SIGTERM, game_handler)(SIGTERM);  // pending, never handed
    emu::replay::reset();
    const auto off = [] {
        EXPECT_FALSE(emu::replay::recording());
        EXPECT_FALSE(emu::replay::playing());
        EXPECT_FALSE(emu::replay::ran_out());
        EXPECT_FALSE(emu::replay::record_full());
        EXPECT_EQ(emu::replay::clock_ns(4242), 4242);
        EXPECT_EQ(emu::replay::sample(0x3AB), 0x3ABu);
        std::uint8_t answer[2] = {};
        EXPECT_EQ(emu::replay::i2c_transfer(EIO, answer, 2), EIO);
        EXPECT_EQ(emu::replay::signal_handler(SIGINT, game_handler), &game_handler);
    };
    off();
    emu::replay::record(fresh_start);
    handled_into = &seen;
    seen.signals.clear();
    emu::replay::woke();
    EXPECT_TRUE(seen.signals.empty()) << "a signal kept before the reset";
    EXPECT_EQ(emu::replay::recorded(), fresh);

    const std::vector<std::uint8_t> bytes = unhex(kVirtualBytes);
    play_run(bytes, kVirtualRun);
    emu::replay::clock_ns(0);
    ASSERT_TRUE(emu::replay::ran_out());
    emu::replay::reset();
    off();
}

// A recording stops once its streams come within a margin of the limit
// (room for the header and the runs still open): the file it gives is
// within kMaxBytes and plays. The counts are today's; a moved edge changes
// them.
TEST_F(Replay, TheRecordingStopsAtTheSizeLimit) {
    emu::replay::record(start_of(kVirtualOrigin, 1));
    long samples = 0;
    while (!emu::replay::record_full() && samples < 10000000) {
        emu::replay::sample(static_cast<std::uint32_t>(samples & 1));
        samples += 1;
    }
    const std::vector<std::uint8_t> bytes = emu::replay::recorded();
    EXPECT_EQ(samples, 2064387);
    EXPECT_EQ(bytes.size(), 4128824u);
    EXPECT_LE(bytes.size(), emu::replay::kMaxBytes);
    EXPECT_EQ(emu::replay::read(bytes.data(), bytes.size(), nullptr), "");
    emu::replay::sample(7);
    EXPECT_EQ(emu::replay::recorded(), bytes) << "nothing is kept once full";
}

}  // namespace
