// Whole runs of the program on the emulated goggles: command line, start-up,
// the run-time limit, signals and shutdown.
#include <gtest/gtest.h>

#include <csignal>
#include <sstream>
#include <string>

#include "emulator/emulator.h"
#include "emulator/framebuffer_device.h"
#include "support/run_game.h"

namespace {

constexpr const char* kUsage = "Usage: vmxbrikon [--seconds N] [--probe]\n";
constexpr const char* kInfoLine = "fb0: stride=7680 smem=24883200 yres=1080 yvirt=2160 yoff=0\n";

// The number in "vmxbrikon: exit after N ms", or -1 without the line.
long exit_after(const std::string& text) {
    std::size_t at = text.find("vmxbrikon: exit after ");
    if (at == std::string::npos)
        return -1;
    return std::stol(text.substr(at + 22));
}

TEST(ProgramRun, BadCommandLinesGiveTheUsageLineAndStatusTwoBeforeAnythingElse) {
    const std::vector<std::vector<std::string>> cases = {
        {"--seconds"},
        {"--probe", "--seconds"},
        {"--seconds", "2", "--bogus"},
        {""},
        {"-h"},
        {"--seconds", "1", "extra", "--probe"},
        {"--probe", "probe"},
    };
    for (const auto& args : cases) {
        GameRun run;
        run.args = args;
        run.log_calls = true;
        GameResult result = run_game(run);
        SCOPED_TRACE(testing::PrintToString(args));
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.stderr_text, kUsage);
        EXPECT_EQ(result.trace("calls.txt"), "") << "nothing else happens";
    }
}

TEST(ProgramRun, ProbeReportsTheFramebufferAndLeavesTheDisplayAlone) {
    GameRun run;
    run.args = {"--probe"};
    GameResult result = run_game(run);
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.stderr_text.find(kInfoLine), std::string::npos);
    EXPECT_EQ(result.stderr_text.find("exit after"), std::string::npos);
    EXPECT_TRUE(result.pans().empty());
}

TEST(ProgramRun, UnsuitableFramebufferEndsWithStatusOne) {
    GameRun run;
    run.args = {"--probe"};
    run.setup = [] {
        emu::fb::Settings settings;
        settings.smem_len = 24883199;
        emu::fb::configure(settings);
    };
    GameResult result = run_game(run);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.stderr_text.find("unexpected fb layout\n"), std::string::npos);
}

TEST(ProgramRun, RunTimeLimitLeavesAtTwoSecondsWithoutAFinalFrame) {
    GameRun run;
    run.args = {"--seconds", "2"};
    GameResult result = run_game(run);
    ASSERT_EQ(result.status, 0) << result.stderr_text;
    std::vector<PanLine> pans = result.pans();
    ASSERT_GE(pans.size(), 3u);
    // Frames every 34 ms of 2 ms passes, alternating pages, then the restore.
    std::int64_t start = pans[0].time_ms - 34;
    for (std::size_t i = 0; i + 1 < pans.size(); ++i) {
        EXPECT_EQ(pans[i].yoffset, i % 2 == 0 ? 1080u : 2160u);
        EXPECT_EQ(pans[i].time_ms, start + 34 * static_cast<std::int64_t>(i + 1));
        EXPECT_LT(pans[i].time_ms, start + 2000);
    }
    EXPECT_EQ(pans.back().yoffset, 0u);
    long ran = exit_after(result.stderr_text);
    // The loop leaves at 2000 ms; the sound thread ends at its next look at
    // the stop request.
    EXPECT_GE(ran, 2000);
    EXPECT_LE(ran, 2010);
}

TEST(ProgramRun, SignalsEndTheGameThroughTheNormalShutdown) {
    for (int signal_number : {SIGINT, SIGTERM}) {
        GameRun run;
        run.setup = [signal_number] {
            emu::raise_signal_at(emu::kVirtualStartMs + 1000, signal_number);
        };
        GameResult result = run_game(run);
        SCOPED_TRACE(signal_number);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.signal, 0);
        std::vector<PanLine> pans = result.pans();
        ASSERT_FALSE(pans.empty());
        EXPECT_EQ(pans.back().yoffset, 0u) << "the display is panned back";
        long ran = exit_after(result.stderr_text);
        EXPECT_GE(ran, 990);
        EXPECT_LE(ran, 1020);
    }
}

TEST(ProgramRun, SignalBeforeTheHandlersTakesTheDefaultAction) {
    GameRun run;
    run.setup = [] {
        emu::add_fault({emu::Call::Open, "/dev/fb0", 1, emu::Action::RaiseSignal, SIGTERM});
    };
    GameResult result = run_game(run);
    EXPECT_EQ(result.signal, SIGTERM);
}

TEST(ProgramRun, SignalDuringStartUpAfterTheHandlersStopsBeforeTheLoop) {
    GameRun run;
    run.setup = [] {
        emu::add_fault({emu::Call::ThreadStart, nullptr, 1, emu::Action::RaiseSignal, SIGINT});
    };
    GameResult result = run_game(run);
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.pans().empty()) << "no frame, and nothing to restore";
    EXPECT_EQ(exit_after(result.stderr_text), 0);
}

TEST(ProgramRun, SoundThreadThatCannotStartEndsWithStatusOne) {
    GameRun run;
    run.log_calls = true;
    run.setup = [] {
        emu::add_fault({emu::Call::ThreadStart, nullptr, 1, emu::Action::Fail, EAGAIN});
    };
    GameResult result = run_game(run);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.stderr_text.find("pthread_create failed\n"), std::string::npos);
    EXPECT_TRUE(result.pans().empty());
    EXPECT_NE(result.trace("calls.txt").find("close /dev/fb0 0"), std::string::npos)
        << "the framebuffer descriptor is closed";
}

TEST(ProgramRun, StartUpFollowsItsOrder) {
    GameRun run;
    run.args = {"--seconds", "1"};
    run.log_calls = true;
    GameResult result = run_game(run);
    ASSERT_EQ(result.status, 0);
    std::string calls = result.trace("calls.txt");
    const char* order[] = {"open /dev/fb0 ", "ioctl /dev/fb0#0x4600 ", "ioctl /dev/fb0#0x4602 ",
                           "mmap /dev/fb0 ", "ioctl /dev/fb0#0x4601 ", "signal 15 ",
                           "signal 2 ",      "thread_start ",          "ioctl /dev/fb0#0x4606 ",
                           "thread_join "};
    std::size_t at = 0;
    for (const char* step : order) {
        std::size_t found = calls.find(step, at);
        EXPECT_NE(found, std::string::npos) << step << " missing or out of order";
        if (found != std::string::npos)
            at = found;
    }
}

}  // namespace
