// The goggle mode gate: before the game touches the display it asks the
// goggles' HDMI chip, an LT8668, which video mode the goggles are
// in, over the firmware's I2C transport, and refuses to run outside the
// mode the game needs.
#include "devices/mode_gate.h"

#include <fcntl.h>

#include <cstdint>

#include "devices/remote_i2c.h"
#include "platform/diag.h"
#include "platform/os.h"

namespace {

int transfer(int fd, std::uint32_t operation, std::uint8_t* payload, std::uint32_t length) {
    RemoteI2cHeader header = remote_i2c_header(operation, payload, length);
    return os::ioctl(fd, kRemoteI2cRequest, &header);
}

void select_chip(int fd) {
    std::uint8_t payload[kRemoteI2cSelectSize] = {};
    remote_i2c_put_word(payload, 0, kLt8668Bus);
    remote_i2c_put_word(payload, 1, 0);
    remote_i2c_put_word(payload, 2, kLt8668Address);
    remote_i2c_put_word(payload, 3, 0);
    transfer(fd, kRemoteI2cSelect, payload, sizeof payload);
}

void select_mode_bank(int fd) {
    std::uint8_t payload[kRemoteI2cWriteHead + 2] = {};
    remote_i2c_put_word(payload, 0, kLt8668Bus);
    remote_i2c_put_word(payload, 1, kLt8668Address);
    remote_i2c_put_word(payload, 2, 2);
    payload[kRemoteI2cWriteHead] = kLt8668BankSelect;
    payload[kRemoteI2cWriteHead + 1] = kLt8668ModeBank;
    transfer(fd, kRemoteI2cWrite, payload, sizeof payload);
}

// Reads one register of the selected bank into value; a failed transfer
// leaves value as it was.
void read_register(int fd, std::uint8_t reg, std::uint8_t* value) {
    std::uint8_t payload[kRemoteI2cWriteReadHead + 2] = {};
    remote_i2c_put_word(payload, 0, kLt8668Bus);
    remote_i2c_put_word(payload, 1, kLt8668Address);
    remote_i2c_put_word(payload, 2, 1);
    remote_i2c_put_word(payload, 3, 1);
    payload[kRemoteI2cWriteReadHead] = reg;
    if (transfer(fd, kRemoteI2cWriteRead, payload, sizeof payload) == 0) {
        *value = payload[kRemoteI2cWriteReadHead + 1];
    }
}

#if VMX_MODE_GATE
// The chip may not have settled on a mode yet right after the goggles
// switched; two more looks, 600 ms apart, give it time.
constexpr int kProbes = 3;
constexpr unsigned kProbePauseUs = 600000;
#endif

}  // namespace

int mode_probe(int transport_fd) {
    Lt8668ModeRegisters registers;
    // Whether the selects went through shows in the reads that follow.
    select_chip(transport_fd);
    select_mode_bank(transport_fd);
    read_register(transport_fd, kLt8668ModeRegister, &registers.mode);
    read_register(transport_fd, kLt8668AvFirstMark, &registers.av_first_mark);
    read_register(transport_fd, kLt8668AvSecondMark, &registers.av_second_mark);
    diag("mode: LT8668 B7=0x%02x AD=0x%02x AC=0x%02x\n", registers.mode, registers.av_first_mark,
         registers.av_second_mark);
    return lt8668_mode_of(registers);
}

#if VMX_MODE_GATE

bool mode_gate(int required) {
    int fd = os::open("/dev/remote_i2c", O_RDWR | O_NONBLOCK);
    if (fd < 0) {
        diag("mode_gate: brak transportu i2c — ODMOWA\n");
        return false;
    }
    int mode = mode_probe(fd);
    for (int probe = 1; probe < kProbes && mode == kGoggleModeUnknown; ++probe) {
        os::sleep_us(kProbePauseUs);
        mode = mode_probe(fd);
    }
    os::close(fd);
    if (mode == required)
        return true;
    diag("ODMOWA: tryb gogli=%d, apka wymaga=%d (0=? 1=NORMAL 2=HDMI 3=AV)\n", mode, required);
    return false;
}

#else

// A build for a machine without the goggles' I2C transport: there is no
// chip to ask, so the game runs in whatever mode the display is.
bool mode_gate(int /*required*/) {
    diag("mode_gate: left out of this build, no video mode check\n");
    return true;
}

#endif
