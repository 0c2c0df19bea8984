#include "devices/keys.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>

#include "emulator/adc_device.h"
#include "emulator/emulator.h"
#include "platform/os.h"
#include "support/run_game.h"

namespace {

// The button state lives for the whole process, so every case runs in a
// child of its own; a failed expectation there fails the child.
int child_verdict() {
    return testing::Test::HasFailure() ? 1 : 0;
}

void start_emulated_goggles() {
    emu::reset();
    emu::use_virtual_time(true);
}

// One pass of the main loop: the ADC latches the held input.
void settle() {
    os::sleep_us(2000);
}

// The ADC's registers as the test's game would hold them; each test opens
// them in a child of its own.
Adc adc;

// The lowest descriptor number free now; a leak would change it.
int next_free_descriptor() {
    int fd = ::open("/dev/null", O_RDONLY);
    ::close(fd);
    return fd;
}

struct Reading {
    int result;
    bool waited;
};

Reading read_timed() {
    std::int64_t before = emu::clock_ns();
    int result = keys_read(adc);
    std::int64_t waited_ns = emu::clock_ns() - before;
    EXPECT_TRUE(waited_ns == 0 || waited_ns == 9000000) << waited_ns;
    return {result, waited_ns != 0};
}

TEST(Keys, LadderDecodesEveryWindowEdge) {
    int status = run_in_child([] {
        start_emulated_goggles();
        EXPECT_TRUE(keys_open(adc));
        struct Case {
            std::uint32_t sample;
            int result;
            bool waited;
        };
        const Case cases[] = {
            {0, 8, false},
            {114, 8, false},
            {115, 8, true},
            {169, 8, true},
            {170, 6, true},
            {283, 6, true},
            {284, 7, true},
            {396, 7, true},
            {397, 0, true},
            {509, 0, true},
            {510, 2, true},
            {623, 2, true},
            {624, 3, true},
            {736, 3, true},
            {737, 4, true},
            {849, 4, true},
            {850, 1, true},
            {963, 1, true},
            {964, 5, true},
            {1020, 5, true},
            {1076, 5, true},
            {1077, 8, true},
            {4095, 8, true},
            // The sample is used whole and converted in 32-bit unsigned
            // arithmetic: this one wraps round to exactly 300 mV.
            {2386263, 6, true},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.sample);
            emu::adc::set_sample(c.sample);
            settle();
            Reading reading = read_timed();
            EXPECT_EQ(reading.result, c.result);
            EXPECT_EQ(reading.waited, c.waited);
        }
        for (ButtonCode code = 0; code <= 8; ++code) {
            SCOPED_TRACE(code);
            emu::adc::hold_button(code);
            settle();
            EXPECT_EQ(keys_read(adc), code);
        }
        return child_verdict();
    });
    EXPECT_EQ(status, 0);
}

TEST(Keys, SecondSampleDecidesAfterTheWait) {
    int status = run_in_child([] {
        start_emulated_goggles();
        EXPECT_TRUE(keys_open(adc));
        struct Case {
            std::uint32_t first;
            std::uint32_t second;
            int result;
            bool waited;
        };
        const Case cases[] = {
            {500, 100, 8, true},   // a first sample of a button, then none
            {115, 114, 8, true},   // the second sample below 115 still decodes
            {500, 340, 7, true},   // the button moved on to BACK
            {300, 1020, 5, true},  //
            {100, 500, 8, false},  // no wait: the first sample stands
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.first << " then " << c.second);
            emu::adc::set_sample(c.first);
            settle();
            emu::adc::set_next_sample(c.second);
            Reading reading = read_timed();
            EXPECT_EQ(reading.result, c.result);
            EXPECT_EQ(reading.waited, c.waited);
            settle();  // takes up a one-shot sample that was not read
        }
        return child_verdict();
    });
    EXPECT_EQ(status, 0);
}

TEST(Keys, DisturbedControlRegisterDiscardsTheSample) {
    int status = run_in_child([] {
        start_emulated_goggles();
        EXPECT_TRUE(keys_open(adc));
        emu::adc::hold_button(kButtonPlay);
        settle();
        struct Case {
            std::uint32_t control;
            int result;
        };
        const Case cases[] = {
            {0x00000000, -1}, {0x00000105, -1},
            {0x00000007, -1}, {0x00001206, 6},  // only the low byte counts
            {0xffffff06, 6},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.control);
            emu::adc::disturb_control(c.control);
            EXPECT_EQ(keys_read(adc), c.result);
            // The next call sets the ADC up again.
            EXPECT_EQ(keys_read(adc), kButtonPlay);
        }
        return child_verdict();
    });
    EXPECT_EQ(status, 0);
}

TEST(Keys, SetsTheAdcUpBeforeEverySample) {
    int status = run_in_child([] {
        start_emulated_goggles();
        EXPECT_TRUE(keys_open(adc));
        struct Case {
            std::uint32_t status_before;
            std::uint32_t status_after;
        };
        // The status register is written only when its low byte is not 6.
        const Case cases[] = {
            {0x00000000, 6}, {0x12345600, 6}, {0x00000106, 0x106}, {0xabcdef06, 0xabcdef06}};
        for (const Case& c : cases) {
            SCOPED_TRACE(c.status_before);
            emu::adc::set_register(emu::adc::kControl, 0);
            emu::adc::set_register(emu::adc::kChannel, 0);
            emu::adc::set_register(emu::adc::kConfig, 0);
            emu::adc::set_register(emu::adc::kStatus, c.status_before);
            EXPECT_EQ(keys_read(adc), kButtonNone);
            EXPECT_EQ(emu::adc::read_register(emu::adc::kControl), 6u);
            EXPECT_EQ(emu::adc::read_register(emu::adc::kChannel), 6u);
            EXPECT_EQ(emu::adc::read_register(emu::adc::kConfig), 140u);
            EXPECT_EQ(emu::adc::read_register(emu::adc::kStatus), c.status_after);
        }
        return child_verdict();
    });
    EXPECT_EQ(status, 0);
}

TEST(Keys, WithoutTheAdcNothingIsTouched) {
    enum class Setup { NotOpened, Absent, NotPermitted, MappingRefused };
    for (Setup setup :
         {Setup::NotOpened, Setup::Absent, Setup::NotPermitted, Setup::MappingRefused}) {
        SCOPED_TRACE(static_cast<int>(setup));
        int status = run_in_child([setup] {
            start_emulated_goggles();
            int free_before = next_free_descriptor();
            if (setup == Setup::Absent)
                emu::adc::set_present(false);
            if (setup == Setup::NotPermitted) {
                emu::add_fault({emu::Call::Open, "/dev/mem", 1, emu::Action::Fail, EPERM});
            }
            if (setup == Setup::MappingRefused) {
                emu::add_fault({emu::Call::Mmap, "/dev/mem", 1, emu::Action::Fail, EINVAL});
            }
            if (setup != Setup::NotOpened) {
                EXPECT_FALSE(keys_open(adc));
            }
            EXPECT_EQ(next_free_descriptor(), free_before) << "descriptor left open";

            emu::adc::hold_button(kButtonPlay);
            settle();
            std::int64_t before = emu::clock_ns();
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(keys_read(adc), kButtonNone);
            EXPECT_EQ(emu::clock_ns(), before) << "no wait without the ADC";
            for (std::uint32_t offset :
                 {emu::adc::kControl, emu::adc::kStatus, emu::adc::kConfig, emu::adc::kChannel}) {
                EXPECT_EQ(emu::adc::read_register(offset), 0u) << offset;
            }
            return child_verdict();
        });
        EXPECT_EQ(status, 0);
    }
}

}  // namespace
