// The button decode over any pair of samples and any register read-back:
// the first sample, the second one taken after the 9 ms wait, the status
// register as found, and the control register as something else may leave
// it during the wait. The reading must be the ladder's code for the sample
// that counts, 8 outside the ladder, and -1 exactly when the control
// register no longer reads back 6.
#include <cstdint>

#include "devices/keys.h"
#include "emulator/adc_device.h"
#include "emulator/emulator.h"
#include "fuzz_check.h"
#include "platform/os.h"

namespace {

bool ready = false;
Adc adc;  // as the game's run holds it

void set_up() {
    emu::reset();
    emu::use_virtual_time(true);
    if (!keys_open(adc))
        std::abort();
    ready = true;
}

// The ladder as the goggles' buttons pull the input: (code, centre mV),
// each window 100 mV either side of its centre, upper end open.
constexpr int kLadder[8][2] = {{6, 400},  {7, 600},  {0, 800},  {1, 1600},
                               {3, 1200}, {2, 1000}, {4, 1400}, {5, 1800}};

int reference_code(std::uint32_t sample) {
    std::uint32_t mv = sample * 1800u / 1020u;  // unsigned 32-bit, as the ADC's scale
    if (mv < 200 || mv > 1900)
        return 8;
    for (const auto& step : kLadder) {
        std::int64_t low = step[1] - 100;
        std::int64_t high = step[1] + 100;
        if (mv >= low && mv < high)
            return step[0];
    }
    return 8;
}

}  // namespace

int fuzz_keys(const std::uint8_t* data, std::size_t size) {
    if (!ready)
        set_up();
    FuzzInput input(data, size);
    const std::uint32_t first = input.take<std::uint32_t>();
    const std::uint32_t second = input.take<std::uint32_t>();
    const std::uint32_t status = input.take<std::uint32_t>();
    const std::uint32_t control = input.take<std::uint32_t>();
    const bool disturbed = input.flag();
    const std::uint32_t disturbance = input.take<std::uint32_t>();

    // A sleep first lets anything left armed by the previous input go.
    os::sleep_us(1);
    emu::adc::set_sample(second);
    emu::adc::set_register(emu::adc::kSample, first);
    emu::adc::set_register(emu::adc::kStatus, status);
    emu::adc::set_register(emu::adc::kControl, control);
    if (disturbed)
        emu::adc::disturb_control(disturbance);
    const int latches = emu::adc::latch_count();

    const int reading = keys_read(adc);

    const bool waited = first >= 115;
    FUZZ_CHECK(emu::adc::latch_count() - latches == (waited ? 1 : 0));
    const std::uint32_t counted = waited ? second : first;
    const std::uint32_t control_after = waited && disturbed ? disturbance : 6u;
    const int expected = (control_after & 0xff) != 6 ? -1 : reference_code(counted);
    FUZZ_CHECK(reading == expected);
    FUZZ_CHECK(emu::adc::read_register(emu::adc::kChannel) == 6);
    FUZZ_CHECK(emu::adc::read_register(emu::adc::kConfig) == 140);
    FUZZ_CHECK(emu::adc::read_register(emu::adc::kStatus) == ((status & 0xff) == 6 ? status : 6u));
    return 0;
}

VMX_FUZZ_ENTRY(fuzz_keys)
