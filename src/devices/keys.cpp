// The goggles' buttons: a resistor ladder on one ADC input, read by
// sampling the ADC's registers straight through /dev/mem.
#include "devices/keys.h"

#include <fcntl.h>
#include <sys/mman.h>

#include <cstdint>

#include "platform/os.h"

namespace {

constexpr long long kAdcBase = 0x60632000;
constexpr std::size_t kAdcPageSize = 4096;

constexpr std::uint32_t kControlOffset = 0x018;
constexpr std::uint32_t kStatusOffset = 0x038;
constexpr std::uint32_t kConfigOffset = 0x040;
constexpr std::uint32_t kChannelOffset = 0x800;
constexpr std::uint32_t kSampleOffset = 0x810;

// What the ADC needs before every sample: 6 in its control, status
// and channel registers, and the configuration word 140.
constexpr std::uint32_t kSetupValue = 6;
constexpr std::uint32_t kConfigWord = 140;

// A sample this high may be a button on its way down; the second sample,
// 9 ms later, is the one that counts.
constexpr std::uint32_t kSettleFromCounts = 115;

// 1020 counts are 1800 mV.
constexpr std::uint32_t kFullScaleCounts = 1020;
constexpr std::uint32_t kFullScaleMv = 1800;
constexpr std::uint32_t kLowestMv = 200;
constexpr std::uint32_t kHighestMv = 1900;
constexpr std::int32_t kHalfWindowMv = 100;

struct LadderStep {
    ButtonCode code;
    std::int32_t centre_mv;
};

// Tried in this order; the windows do not overlap. Positions 1 and 5 have
// no role in the game, and so no name.
constexpr LadderStep key_ladder[] = {
    {kButtonPlay, 400},   {kButtonBack, 600},  {kButtonMiddle, 800},     {1, 1600},
    {kButtonRight, 1200}, {kButtonLeft, 1000}, {kButtonMiddleAlt, 1400}, {5, 1800},
};

volatile std::uint32_t* register_at(void* base, std::uint32_t offset) {
    return reinterpret_cast<volatile std::uint32_t*>(static_cast<char*>(base) + offset);
}

ButtonCode decode(std::uint32_t sample) {
    std::uint32_t mv = sample * kFullScaleMv / kFullScaleCounts;
    if (mv < kLowestMv || mv > kHighestMv)
        return kButtonNone;
    std::int32_t signed_mv = static_cast<std::int32_t>(mv);
    for (const LadderStep& step : key_ladder) {
        if (signed_mv >= step.centre_mv - kHalfWindowMv &&
            signed_mv < step.centre_mv + kHalfWindowMv) {
            return step.code;
        }
    }
    return kButtonNone;
}

}  // namespace

bool keys_open(Adc& adc) {
    int fd = os::open("/dev/mem", O_RDWR | O_SYNC);
    if (fd < 0)
        return false;
    void* base = os::mmap(kAdcPageSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, kAdcBase);
    if (base == MAP_FAILED) {
        os::close(fd);
        return false;
    }
    adc.status = register_at(base, kStatusOffset);
    adc.control = register_at(base, kControlOffset);
    adc.config = register_at(base, kConfigOffset);
    adc.channel = register_at(base, kChannelOffset);
    adc.sample = register_at(base, kSampleOffset);
    // The mapping outlives the descriptor; the process exit releases it.
    os::close(fd);
    adc.ready = true;
    return true;
}

namespace {

// The reading of a sample once it is final.
int finish_with(const Adc& adc, std::uint32_t sample) {
    // Someone else used the ADC meanwhile: the sample may belong to
    // another channel.
    if ((*adc.control & 0xff) != kSetupValue)
        return -1;
    return decode(sample);
}

}  // namespace

int keys_poll_begin(const Adc& adc) {
    if (!adc.ready)
        return kButtonNone;

    *adc.control = kSetupValue;
    *adc.channel = kSetupValue;
    *adc.config = kConfigWord;
    if ((*adc.status & 0xff) != kSetupValue)
        *adc.status = kSetupValue;

    std::uint32_t sample = *adc.sample;
    if (sample >= kSettleFromCounts)
        return kKeysSettling;
    return finish_with(adc, sample);
}

int keys_poll_finish(const Adc& adc) {
    if (!adc.ready)
        return kButtonNone;
    return finish_with(adc, *adc.sample);
}

int keys_read(const Adc& adc) {
    int reading = keys_poll_begin(adc);
    if (reading != kKeysSettling)
        return reading;
    os::sleep_us(kKeysSettleUs);
    return keys_poll_finish(adc);
}
