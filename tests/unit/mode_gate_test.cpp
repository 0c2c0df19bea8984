#include "devices/mode_gate.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "emulator/emulator.h"
#include "emulator/i2c_device.h"
#include "platform/os.h"
#include "support/run_game.h"

namespace {

using emu::i2c::Answer;

void start_emulated_goggles() {
    emu::reset();
    emu::use_virtual_time(true);
}

#if VMX_MODE_GATE

constexpr char kRefusalNoTransport[] = "mode_gate: brak transportu i2c \xe2\x80\x94 ODMOWA\n";

std::string register_line(int b7, int ad, int ac) {
    char line[64];
    std::snprintf(line, sizeof line, "mode: LT8668 B7=0x%02x AD=0x%02x AC=0x%02x\n", b7, ad, ac);
    return line;
}

std::string refusal(int mode, int required) {
    return "ODMOWA: tryb gogli=" + std::to_string(mode) +
           ", apka wymaga=" + std::to_string(required) + " (0=? 1=NORMAL 2=HDMI 3=AV)\n";
}

struct GateCase {
    const char* name;
    std::vector<Answer> answers;
    int required;
    bool allowed;
    std::int64_t waited_ms;
    std::string messages;
};

TEST(ModeGate, ProbesUntilTheChipNamesAMode) {
    const std::string zeros = register_line(0, 0, 0);
    const GateCase cases[] = {
        {"normal", {{0x01, 0x00, 0x00}}, 1, 1, 0, register_line(1, 0, 0)},
        {"normal, whatever AD and AC say", {{0x01, 0x02, 0x01}}, 1, 1, 0, register_line(1, 2, 1)},
        {"AV", {{0x02, 0x02, 0x01}}, 1, 0, 0, register_line(2, 2, 1) + refusal(3, 1)},
        {"HDMI", {{0x02, 0x02, 0x00}}, 1, 0, 0, register_line(2, 2, 0) + refusal(2, 1)},
        {"HDMI when HDMI is required", {{0x02, 0x00, 0x00}}, 2, 1, 0, register_line(2, 0, 0)},
        {"no mode", {{0x00, 0x00, 0x00}}, 1, 0, 1200, zeros + zeros + zeros + refusal(0, 1)},
        {"no mode, then normal", {{0x00}, {0x01}}, 1, 1, 600, zeros + register_line(1, 0, 0)},
        {"no mode twice, then normal",
         {{0xff}, {0x00}, {0x01}},
         1,
         1,
         1200,
         register_line(0xff, 0, 0) + zeros + register_line(1, 0, 0)},
        {"no mode, then AV",
         {{0x00}, {0x02, 0x02, 0x01}},
         1,
         0,
         600,
         zeros + register_line(2, 2, 1) + refusal(3, 1)},
        {"B7 read fails three times",
         {{0x01, 0x02, 0x01, emu::i2c::kFailB7}},
         1,
         0,
         1200,
         register_line(0, 2, 1) + register_line(0, 2, 1) + register_line(0, 2, 1) + refusal(0, 1)},
        {"AD read fails: AV reads as HDMI",
         {{0x02, 0x02, 0x01, emu::i2c::kFailAd}},
         1,
         0,
         0,
         register_line(2, 0, 1) + refusal(2, 1)},
        {"bank select fails once: the mode bank is not reached",
         {{0x01, 0x00, 0x00, emu::i2c::kFailBank}, {0x01}},
         1,
         1,
         600,
         zeros + register_line(1, 0, 0)},
    };
    for (const GateCase& c : cases) {
        SCOPED_TRACE(c.name);
        start_emulated_goggles();
        emu::i2c::script(c.answers.data(), static_cast<int>(c.answers.size()));
        std::int64_t before = emu::clock_ms();
        EXPECT_EQ(mode_gate(c.required), c.allowed);
        EXPECT_EQ(emu::clock_ms() - before, c.waited_ms);
        EXPECT_EQ(std::string(emu::stderr_text()), c.messages);
        EXPECT_EQ(emu::i2c::opens(), 1);
        EXPECT_EQ(emu::i2c::open_handles(), 0) << "the transport must be closed";
        EXPECT_EQ(emu::i2c::probe_count(), static_cast<int>(c.waited_ms / 600) + 1);
    }
}

TEST(ModeGate, RefusesWithoutTheTransport) {
    struct Case {
        const char* name;
        bool present;
        int open_errno;
    };
    for (const Case& c : {Case{"absent", false, 0}, Case{"not permitted", true, EACCES}}) {
        SCOPED_TRACE(c.name);
        start_emulated_goggles();
        emu::i2c::set_present(c.present);
        if (c.open_errno != 0) {
            emu::add_fault(
                {emu::Call::Open, "/dev/remote_i2c", 1, emu::Action::Fail, c.open_errno});
        }
        EXPECT_FALSE(mode_gate(kGoggleModeNormal));
        EXPECT_EQ(emu::clock_ms(), emu::kVirtualStartMs) << "no pause";
        EXPECT_STREQ(emu::stderr_text(), kRefusalNoTransport);
        EXPECT_EQ(emu::i2c::transfer_count(), 0);
        EXPECT_EQ(emu::i2c::open_handles(), 0);
    }
}

TEST(ModeGate, FailingTransportReadsAsNoMode) {
    start_emulated_goggles();
    emu::i2c::fail_transfers(EIO);
    EXPECT_FALSE(mode_gate(kGoggleModeNormal));
    EXPECT_EQ(emu::clock_ms() - emu::kVirtualStartMs, 1200);
    std::string zeros = register_line(0, 0, 0);
    EXPECT_EQ(std::string(emu::stderr_text()), zeros + zeros + zeros + refusal(0, 1));
    EXPECT_EQ(emu::i2c::transfer_count(), 15);
    EXPECT_EQ(emu::i2c::open_handles(), 0);
}

#else

TEST(ModeGate, LeftOutOfThisBuildAllowsTheGame) {
    start_emulated_goggles();
    emu::i2c::script({{0x02, 0x02, 0x01}});
    EXPECT_TRUE(mode_gate(kGoggleModeNormal));
    EXPECT_STREQ(emu::stderr_text(), "mode_gate: left out of this build, no video mode check\n");
    EXPECT_EQ(emu::i2c::opens(), 0);
}

#endif

// The transfers of one probe, byte for byte as the transport took them.
TEST(ModeProbe, SendsTheChipTheRequestsItExpects) {
    std::string dir = make_temp_dir();
    start_emulated_goggles();
    emu::set_trace_dir(dir.c_str());
    emu::i2c::script({{0x02, 0x02, 0x01}});
    int fd = os::open("/dev/remote_i2c", 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(mode_probe(fd), kGoggleModeAv);
    os::close(fd);
    EXPECT_EQ(emu::i2c::bank(), kLt8668ModeBank) << "the chip is left in the mode bank";
    EXPECT_EQ(read_file(dir + "/i2c.txt"),
              "10000 select 1 0x43 = 0\n"
              "10000 write 1 0x43 ff e0 = 0\n"
              "10000 read 1 0x43 b7 -> 02 = 0\n"
              "10000 read 1 0x43 ad -> 02 = 0\n"
              "10000 read 1 0x43 ac -> 01 = 0\n");
    emu::reset();
    std::filesystem::remove_all(dir);
}

}  // namespace
