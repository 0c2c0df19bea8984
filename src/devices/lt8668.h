#pragma once
// The goggles' HDMI chip, an LT8668, as far as the video mode goes: where it
// sits on the I2C bus, the registers that tell the mode and what they hold
// in each mode. The mode gate reads the chip by this map, and the emulated
// goggles answer by it.
#include <cstdint>

// Goggle video modes as the HDMI chip reports them.
constexpr int kGoggleModeUnknown = 0;
constexpr int kGoggleModeNormal = 1;
constexpr int kGoggleModeHdmi = 2;
constexpr int kGoggleModeAv = 3;

constexpr std::uint32_t kLt8668Bus = 1;
constexpr std::uint32_t kLt8668Address = 0x43;

// The bank select register chooses the register bank that reads and writes
// reach; the mode registers are in the mode bank.
constexpr std::uint8_t kLt8668BankSelect = 0xFF;
constexpr std::uint8_t kLt8668ModeBank = 0xE0;

// The mode register holds NORMAL or HDMI. The chip reports AV as HDMI too,
// and tells it apart by two marks, each holding its own value in AV.
constexpr std::uint8_t kLt8668ModeRegister = 0xB7;
constexpr std::uint8_t kLt8668AvFirstMark = 0xAD;
constexpr std::uint8_t kLt8668AvSecondMark = 0xAC;

constexpr std::uint8_t kLt8668ModeNormal = 0x01;
constexpr std::uint8_t kLt8668ModeHdmi = 0x02;
constexpr std::uint8_t kLt8668AvFirstMarkSet = 0x02;
constexpr std::uint8_t kLt8668AvSecondMarkSet = 0x01;

// The three mode registers, as one probe reads them.
struct Lt8668ModeRegisters {
    std::uint8_t mode = 0;
    std::uint8_t av_first_mark = 0;
    std::uint8_t av_second_mark = 0;
};

// The goggle mode that the registers tell.
constexpr int lt8668_mode_of(const Lt8668ModeRegisters& registers) {
    if (registers.mode == kLt8668ModeHdmi && registers.av_first_mark == kLt8668AvFirstMarkSet &&
        registers.av_second_mark == kLt8668AvSecondMarkSet) {
        return kGoggleModeAv;
    }
    if (registers.mode == kLt8668ModeNormal)
        return kGoggleModeNormal;
    if (registers.mode == kLt8668ModeHdmi)
        return kGoggleModeHdmi;
    return kGoggleModeUnknown;
}

// What the registers hold in a goggle mode; every register 0 for one the
// chip does not know.
constexpr Lt8668ModeRegisters lt8668_registers_in(int goggle_mode) {
    switch (goggle_mode) {
        case kGoggleModeNormal:
            return {kLt8668ModeNormal, 0, 0};
        case kGoggleModeHdmi:
            return {kLt8668ModeHdmi, 0, 0};
        case kGoggleModeAv:
            return {kLt8668ModeHdmi, kLt8668AvFirstMarkSet, kLt8668AvSecondMarkSet};
        default:
            return {};
    }
}

static_assert(lt8668_mode_of(lt8668_registers_in(kGoggleModeUnknown)) == kGoggleModeUnknown);
static_assert(lt8668_mode_of(lt8668_registers_in(kGoggleModeNormal)) == kGoggleModeNormal);
static_assert(lt8668_mode_of(lt8668_registers_in(kGoggleModeHdmi)) == kGoggleModeHdmi);
static_assert(lt8668_mode_of(lt8668_registers_in(kGoggleModeAv)) == kGoggleModeAv);
