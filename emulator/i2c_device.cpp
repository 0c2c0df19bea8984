// The emulated I2C transport /dev/remote_i2c and the LT8668 behind it.
#include "emulator/i2c_device.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#include "devices/remote_i2c.h"
#include "emulator/device.h"
#include "emulator/emulator.h"
#include "emulator/replay.h"
#include "emulator/trace.h"

namespace emu::i2c {
namespace {

constexpr int kMaxHandles = 8;
constexpr std::uint32_t kMaxPayload = 4096;

struct State {
    std::mutex lock;
    bool present = true;
    int failing_error = 0;
    Answer answers[kMaxScript];
    int answer_count = 1;
    int probes = 0;
    int transfers = 0;
    int opens = 0;
    bool handles[kMaxHandles] = {};
    std::uint8_t bank = 0x00;
    int trace_fd = -2;  // -2: not opened yet
};

State& state() {
    static State instance;
    return instance;
}

const Answer& current_answer(const State& s) {
    int index = s.probes == 0 ? 0 : s.probes - 1;
    if (index >= s.answer_count)
        index = s.answer_count - 1;
    return s.answers[index];
}

bool is_chip(std::uint32_t bus, std::uint32_t address) {
    return bus == kLt8668Bus && address == kLt8668Address;
}

// One register of the chip as a read finds it; false when the read fails.
bool chip_register(const State& s, std::uint8_t reg, std::uint8_t* value) {
    if (reg == kLt8668BankSelect) {
        *value = s.bank;
        return true;
    }
    const Answer& answer = current_answer(s);
    *value = 0;
    if (s.bank != kLt8668ModeBank)
        return true;
    switch (reg) {
        case kLt8668ModeRegister:
            *value = answer.b7;
            return !(answer.failing & kFailB7);
        case kLt8668AvFirstMark:
            *value = answer.ad;
            return !(answer.failing & kFailAd);
        case kLt8668AvSecondMark:
            *value = answer.ac;
            return !(answer.failing & kFailAc);
        default:
            return true;
    }
}

void trace(State& s, const char* text) {
    if (s.trace_fd == -2)
        s.trace_fd = trace_file("i2c.txt");
    if (s.trace_fd < 0)
        return;
    char line[160];
    int length =
        std::snprintf(line, sizeof line, "%lld %s\n", static_cast<long long>(clock_ms()), text);
    trace_write(s.trace_fd, line, static_cast<std::size_t>(length));
}

// Appends " xx" for each byte.
void describe_bytes(char* out, std::size_t capacity, const std::uint8_t* bytes, std::uint32_t n) {
    std::size_t used = std::strlen(out);
    for (std::uint32_t i = 0; i < n && used + 4 < capacity; ++i) {
        used +=
            static_cast<std::size_t>(std::snprintf(out + used, capacity - used, " %02x", bytes[i]));
    }
}

// What a transfer did, for its line in the trace: the words, and the bytes
// a read filled.
struct Transfer {
    char text[128] = {};
    std::uint8_t* read = nullptr;
    std::uint32_t read_length = 0;
};

// Each operation carries out one transfer: 0, or the errno it fails with.
int select_target(State& s, const std::uint8_t* payload, std::uint32_t length, Transfer& done) {
    if (length != kRemoteI2cSelectSize)
        return EINVAL;
    std::uint32_t bus = remote_i2c_word(payload, 0);
    std::uint32_t address = remote_i2c_word(payload, 2);
    std::snprintf(done.text, sizeof done.text, "select %u 0x%02x", bus, address);
    if (remote_i2c_word(payload, 1) != 0 || remote_i2c_word(payload, 3) != 0 || address > 0x7f)
        return EINVAL;
    if (!is_chip(bus, address))
        return ENXIO;
    s.probes += 1;
    return (current_answer(s).failing & kFailSelect) ? EREMOTEIO : 0;
}

int write_registers(State& s, const std::uint8_t* payload, std::uint32_t length, Transfer& done) {
    if (length < kRemoteI2cWriteHead)
        return EINVAL;
    std::uint32_t bus = remote_i2c_word(payload, 0);
    std::uint32_t address = remote_i2c_word(payload, 1);
    std::uint32_t n = remote_i2c_word(payload, 2);
    if (length != kRemoteI2cWriteHead + n)
        return EINVAL;
    const std::uint8_t* bytes = payload + kRemoteI2cWriteHead;
    std::snprintf(done.text, sizeof done.text, "write %u 0x%02x", bus, address);
    describe_bytes(done.text, sizeof done.text, bytes, n);
    if (!is_chip(bus, address))
        return ENXIO;
    if (current_answer(s).failing & kFailBank)
        return EREMOTEIO;
    // The first byte is the register; the rest go to it and the ones after
    // it. Only the bank select is kept.
    for (std::uint32_t i = 1; i < n; ++i) {
        if (bytes[0] + i - 1 == kLt8668BankSelect)
            s.bank = bytes[i];
    }
    return 0;
}

int read_registers(const State& s, std::uint8_t* payload, std::uint32_t length, Transfer& done) {
    if (length < kRemoteI2cWriteReadHead)
        return EINVAL;
    std::uint32_t bus = remote_i2c_word(payload, 0);
    std::uint32_t address = remote_i2c_word(payload, 1);
    std::uint32_t w = remote_i2c_word(payload, 2);
    std::uint32_t r = remote_i2c_word(payload, 3);
    if (w == 0 || w > kMaxPayload || r > kMaxPayload || length != kRemoteI2cWriteReadHead + w + r)
        return EINVAL;
    const std::uint8_t* sent = payload + kRemoteI2cWriteReadHead;
    std::uint8_t* read = payload + kRemoteI2cWriteReadHead + w;
    done.read = read;
    done.read_length = r;
    std::snprintf(done.text, sizeof done.text, "read %u 0x%02x", bus, address);
    describe_bytes(done.text, sizeof done.text, sent, w);
    if (!is_chip(bus, address))
        return ENXIO;
    for (std::uint32_t i = 0; i < r; ++i) {
        std::uint8_t value = 0;
        if (!chip_register(s, static_cast<std::uint8_t>(sent[0] + i), &value))
            return EREMOTEIO;
        read[i] = value;
    }
    std::size_t used = std::strlen(done.text);
    std::snprintf(done.text + used, sizeof done.text - used, " ->");
    describe_bytes(done.text, sizeof done.text, read, r);
    return 0;
}

int carry_out(State& s, std::uint32_t operation, std::uint8_t* payload, std::uint32_t length,
              Transfer& done) {
    switch (operation) {
        case kRemoteI2cSelect:
            return select_target(s, payload, length, done);
        case kRemoteI2cWrite:
            return write_registers(s, payload, length, done);
        case kRemoteI2cWriteRead:
            return read_registers(s, payload, length, done);
        default:
            std::snprintf(done.text, sizeof done.text, "operation %u", operation);
            return EINVAL;
    }
}

class I2cDevice final : public Device {
  public:
    bool serves(const char* path) const override {
        return std::strcmp(path, "/dev/remote_i2c") == 0;
    }

    void reset() override {
        State& s = state();
        std::lock_guard<std::mutex> hold(s.lock);
        if (s.trace_fd >= 0)
            ::close(s.trace_fd);
        s.trace_fd = -2;
        s.present = true;
        s.failing_error = 0;
        s.answers[0] = Answer{};
        s.answer_count = 1;
        s.probes = 0;
        s.transfers = 0;
        s.opens = 0;
        for (bool& handle : s.handles)
            handle = false;
        s.bank = 0x00;
    }

    int open(const char*, int) override {
        State& s = state();
        std::lock_guard<std::mutex> hold(s.lock);
        if (!s.present) {
            errno = ENOENT;
            return -1;
        }
        for (int handle = 0; handle < kMaxHandles; ++handle) {
            if (!s.handles[handle]) {
                s.handles[handle] = true;
                s.opens += 1;
                return handle;
            }
        }
        errno = EBUSY;
        return -1;
    }

    int close(int handle) override {
        State& s = state();
        std::lock_guard<std::mutex> hold(s.lock);
        if (handle >= 0 && handle < kMaxHandles)
            s.handles[handle] = false;
        return 0;
    }

    int ioctl(int, unsigned long request, void* arg) override {
        if (request != kRemoteI2cRequest) {
            errno = ENOTTY;
            return -1;
        }
        if (arg == nullptr) {
            errno = EFAULT;
            return -1;
        }
        RemoteI2cHeader header;
        std::memcpy(&header, arg, sizeof header);
        std::uint8_t* payload = remote_i2c_payload(header);
        if (payload == nullptr) {
            errno = EFAULT;
            return -1;
        }
        if (header.length > kMaxPayload) {
            errno = EINVAL;
            return -1;
        }
        State& s = state();
        std::lock_guard<std::mutex> hold(s.lock);
        s.transfers += 1;
        Transfer done;
        int error = s.failing_error;
        if (error == 0) {
            error = carry_out(s, header.operation, payload, header.length, done);
        } else {
            std::snprintf(done.text, sizeof done.text, "operation %u", header.operation);
        }
        // A replay keeps the chip's answers, and gives them back.
        error = replay::i2c_transfer(error, done.read, done.read_length);
        char line[160];
        std::snprintf(line, sizeof line, "%s = %d", done.text, error);
        trace(s, line);
        if (error != 0) {
            errno = error;
            return -1;
        }
        return 0;
    }
};

}  // namespace

void script(const Answer* answers, int count) {
    State& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    s.answer_count = 0;
    for (int i = 0; i < count && s.answer_count < kMaxScript; ++i) {
        s.answers[s.answer_count++] = answers[i];
    }
    if (s.answer_count == 0)
        s.answers[s.answer_count++] = Answer{};
    s.probes = 0;
}

void answer_as_mode(int goggle_mode) {
    const Lt8668ModeRegisters registers = lt8668_registers_in(goggle_mode);
    script({{registers.mode, registers.av_first_mark, registers.av_second_mark, 0}});
}

void set_present(bool present) {
    State& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    s.present = present;
}

void fail_transfers(int error) {
    State& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    s.failing_error = error;
}

int probe_count() {
    State& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    return s.probes;
}

int transfer_count() {
    State& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    return s.transfers;
}

int opens() {
    State& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    return s.opens;
}

int open_handles() {
    State& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    int count = 0;
    for (bool handle : s.handles)
        count += handle ? 1 : 0;
    return count;
}

std::uint8_t bank() {
    State& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    return s.bank;
}

}  // namespace emu::i2c

namespace emu {
Device& i2c_device() {
    static i2c::I2cDevice device;
    return device;
}
}  // namespace emu
