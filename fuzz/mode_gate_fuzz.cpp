// The goggle mode gate over the emulated transport, with any chip answers
// probe by probe, any transfers failing, the whole transport failing or
// missing, and any required mode. What the gate writes and answers must
// follow from the chip's registers alone, and the transport is always
// closed again.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "devices/mode_gate.h"
#include "emulator/emulator.h"
#include "emulator/i2c_device.h"
#include "fuzz_check.h"

namespace {

constexpr int kMaxAnswers = 4;
constexpr int kProbes = 3;
constexpr std::size_t kStderrRoom = 200 * 1024;
constexpr int kTransportErrors[] = {0, EIO, EREMOTEIO, ETIMEDOUT, ENXIO, EAGAIN};
constexpr int kTransportErrorCount = sizeof kTransportErrors / sizeof kTransportErrors[0];

bool ready = false;

void set_up() {
    emu::reset();
    emu::use_virtual_time(true);
    ready = true;
}

int mode_of(std::uint8_t b7, std::uint8_t ad, std::uint8_t ac) {
    if (b7 == 2 && ad == 2 && ac == 1)
        return 3;
    if (b7 == 1 || b7 == 2)
        return b7;
    return 0;
}

std::string register_line(std::uint8_t b7, std::uint8_t ad, std::uint8_t ac) {
    char line[64];
    std::snprintf(line, sizeof line, "mode: LT8668 B7=0x%02x AD=0x%02x AC=0x%02x\n", b7, ad, ac);
    return line;
}

}  // namespace

int fuzz_mode_gate(const std::uint8_t* data, std::size_t size) {
    if (!ready || std::strlen(emu::stderr_text()) > kStderrRoom)
        set_up();
    FuzzInput input(data, size);
    const bool present = input.flag();
    const int transport_error = kTransportErrors[input.range(0, kTransportErrorCount - 1)];
    const int required = input.take<int>();
    const int count = input.range(1, kMaxAnswers);
    emu::i2c::Answer answers[kMaxAnswers];
    for (int i = 0; i < count; ++i) {
        answers[i].b7 = input.take<std::uint8_t>();
        answers[i].ad = input.take<std::uint8_t>();
        answers[i].ac = input.take<std::uint8_t>();
        answers[i].failing = input.take<std::uint8_t>() & 0x1f;
    }
    emu::i2c::set_present(present);
    emu::i2c::fail_transfers(transport_error);
    emu::i2c::script(answers, count);

    // What the chip shows, probe by probe: a read that fails leaves 0, and
    // outside bank 0xE0 the mode registers read 0.
    std::string expected;
    bool expected_allowed = false;
    if (!present) {
        expected = "mode_gate: brak transportu i2c \xe2\x80\x94 ODMOWA\n";
    } else {
        std::uint8_t bank = emu::i2c::bank();
        int mode = 0;
        for (int probe = 0; probe < kProbes; ++probe) {
            const emu::i2c::Answer& answer = answers[probe < count ? probe : count - 1];
            std::uint8_t b7 = 0, ad = 0, ac = 0;
            if (transport_error == 0) {
                if (!(answer.failing & emu::i2c::kFailBank))
                    bank = kLt8668ModeBank;
                bool in_bank = bank == kLt8668ModeBank;
                if (!(answer.failing & emu::i2c::kFailB7) && in_bank)
                    b7 = answer.b7;
                if (!(answer.failing & emu::i2c::kFailAd) && in_bank)
                    ad = answer.ad;
                if (!(answer.failing & emu::i2c::kFailAc) && in_bank)
                    ac = answer.ac;
            }
            expected += register_line(b7, ad, ac);
            mode = mode_of(b7, ad, ac);
            if (mode != 0)
                break;
        }
        expected_allowed = mode == required;
        if (!expected_allowed) {
            char line[96];
            std::snprintf(line, sizeof line,
                          "ODMOWA: tryb gogli=%d, apka wymaga=%d (0=? 1=NORMAL 2=HDMI 3=AV)\n",
                          mode, required);
            expected += line;
        }
    }

    const std::size_t before = std::strlen(emu::stderr_text());
    const bool allowed = mode_gate(required);
    const std::string written = emu::stderr_text() + before;
    FUZZ_CHECK(allowed == expected_allowed);
    FUZZ_CHECK(written == expected);
    FUZZ_CHECK(emu::i2c::open_handles() == 0);
    return 0;
}

VMX_FUZZ_ENTRY(fuzz_mode_gate)
