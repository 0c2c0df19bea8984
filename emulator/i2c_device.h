#pragma once
// The emulated I2C transport /dev/remote_i2c, with the goggles' LT8668 HDMI
// chip behind it where src/devices/lt8668.h places it. The transport takes
// the request laid out as in src/devices/remote_i2c.h and checks it
// strictly, so a malformed request fails instead of being guessed at. The
// chip keeps its bank select register, and in the mode bank its mode
// registers answer as a test scripts them, probe by probe. Every transfer
// is written to i2c.txt in the trace folder.
#include <cstdint>
#include <initializer_list>

#include "devices/lt8668.h"

namespace emu::i2c {

// Transfers of a probe that fail (EREMOTEIO: the chip does not answer).
enum : unsigned {
    kFailSelect = 1u << 0,  // the target select
    kFailBank = 1u << 1,    // the bank select write
    kFailB7 = 1u << 2,      // a read of the mode register
    kFailAd = 1u << 3,      // a read of the first AV mark
    kFailAc = 1u << 4,      // a read of the second AV mark
};

// The chip's answer to one probe: the mode register and the two AV marks,
// named as the game's register line names them, and the transfers that
// fail. A probe begins with each select of the chip as target.
struct Answer {
    std::uint8_t b7 = kLt8668ModeNormal;
    std::uint8_t ad = 0x00;
    std::uint8_t ac = 0x00;
    unsigned failing = 0;
};

// The answers of the first, second ... probe; the last one stands for every
// later probe. The power-on script is one NORMAL answer.
constexpr int kMaxScript = 16;
void script(const Answer* answers, int count);
inline void script(std::initializer_list<Answer> answers) {
    script(answers.begin(), static_cast<int>(answers.size()));
}
// Every probe answers as the chip does in the given goggle mode
// (kGoggleModeUnknown: as a chip that names no mode).
void answer_as_mode(int goggle_mode);

// Without the transport, /dev/remote_i2c cannot be opened (ENOENT).
void set_present(bool present);
// Every transfer fails with this errno (0: none do).
void fail_transfers(int error);

int probe_count();     // chip selects so far
int transfer_count();  // ioctls that reached the transport
int opens();           // opens of the transport so far
int open_handles();    // open now
std::uint8_t bank();   // the chip's bank select register

}  // namespace emu::i2c
