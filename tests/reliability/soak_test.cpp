// Ten minutes of game time on the whole program: the automatic player plays
// game after game on the emulated goggles, every frame is checked, and the
// memory of the process stays where it was once the first games had run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "soak/whole_program_soak.h"

namespace {

#if defined(__SANITIZE_THREAD__)
// The sound thread and the queue are what ThreadSanitizer is for; a minute
// of play covers every kind of tone many times over, and ThreadSanitizer
// makes each minute cost two of the test run's (the plain and the ASan
// builds play ten).
constexpr long long kSoakSeconds = 60;
// ThreadSanitizer keeps its own records of every new call path and lock it
// meets, and play meets new ones for a while: the game's own memory is held
// flat by the plain and the ASan builds' ten minutes.
constexpr long long kMemorySlackKib = 256;
#else
constexpr long long kSoakSeconds = 10 * 60;
constexpr long long kMemorySlackKib = 64;
#endif
// A frame every 34 ms, a little later while a button is down (the second
// sample of a poll waits 9 ms).
constexpr long long kLeastFrames = kSoakSeconds * 1000 / 45;

TEST(WholeProgramSoak, MinutesOfPlayKeepEveryInvariantAndTheMemoryFlat) {
    SoakReport report = run_soak(kSoakSeconds, 800);
    std::printf("%s\n", describe(report).c_str());
    ASSERT_FALSE(report.result.timed_out);
    ASSERT_EQ(report.result.signal, 0);
    ASSERT_EQ(report.result.status, 0) << report.result.stderr_text;
    ASSERT_TRUE(report.complete);
    EXPECT_EQ(report.breaks, 0) << report.first_break;
    EXPECT_GE(report.frames, kLeastFrames);
    EXPECT_GE(report.games, kSoakSeconds / 300);
    EXPECT_GE(report.levels_cleared, report.games);
    EXPECT_GT(report.capsules_caught, 0);
    EXPECT_GT(report.rss_warm_kib, 0);
    EXPECT_LE(report.rss_last_kib, report.rss_warm_kib + kMemorySlackKib);
    // Nothing but the start and the end was ever reported.
    const std::string& text = report.result.stderr_text;
    EXPECT_EQ(text.substr(0, text.find("fb0:")), "mode: LT8668 B7=0x01 AD=0x00 AC=0x00\n");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3) << text;
}

}  // namespace
