#pragma once
// The emulated I2C transport /dev/remote_i2c, with the goggles' LT8668 HDMI
// chip on bus 1 at address 0x43. The transport takes the request laid
// out as in src/devices/remote_i2c.h and checks it strictly, so a malformed
// request fails instead of being guessed at. The chip has a bank select
// register (0xFF) and, in bank 0xE0, the mode registers 0xB7, 0xAD and 0xAC,
// whose answers a test scripts probe by probe. Every transfer is written to
// i2c.txt in the trace folder.
#include <cstdint>
#include <initializer_list>

namespace emu::i2c {

constexpr std::uint32_t kChipBus = 1;
constexpr std::uint32_t kChipAddress = 0x43;
constexpr std::uint8_t kModeBank = 0xE0;

// Transfers of a probe that fail (EREMOTEIO: the chip does not answer).
enum : unsigned {
    kFailSelect = 1u << 0,  // the target select
    kFailBank = 1u << 1,    // the bank select write
    kFailB7 = 1u << 2,      // a read of 0xB7
    kFailAd = 1u << 3,      // a read of 0xAD
    kFailAc = 1u << 4,      // a read of 0xAC
};

// The chip's answer to one probe. A probe begins with each select of the
// chip as target.
struct Answer {
    std::uint8_t b7 = 0x01;
    std::uint8_t ad = 0x00;
    std::uint8_t ac = 0x00;
    unsigned failing = 0;
};

// The answers of the first, second ... probe; the last one stands for every
// later probe. Up to 16. The power-on script is one NORMAL answer.
void script(const Answer* answers, int count);
inline void script(std::initializer_list<Answer> answers) {
    script(answers.begin(), static_cast<int>(answers.size()));
}

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
