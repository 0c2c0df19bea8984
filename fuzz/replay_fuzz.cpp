// The replay reader over any bytes, and the player over whatever it
// accepts: a file is refused with one line, or accepted and then played to
// its end without reading outside it, its clock never going back, and the
// game asked to stop at the first sleep after the replay runs out. Each
// input goes in twice: as it is, and with its length and checksum made
// right, so that the fuzzer reaches what lies behind them.
#include <signal.h>

#include <cstdint>
#include <string>

#include "emulator/emulator.h"
#include "emulator/replay.h"
#include "fuzz_check.h"

namespace {

// The main loop's own pattern: a reading, a sample, a sleep, a few times
// a settle of the buttons.
constexpr unsigned kSleeps[] = {2000, 2000, 2000, 9000, 1000};
constexpr int kMostPasses = 200000;

void put_le(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

int handled = 0;
void count_signal(int) {
    handled += 1;
}

void read_and_play(const std::uint8_t* data, std::size_t size) {
    emu::replay::Start start;
    const std::string reason = emu::replay::read(data, size, &start);
    if (!reason.empty()) {
        FUZZ_CHECK(reason.find('\n') == std::string::npos);
        return;
    }
    FUZZ_CHECK(start.game_version == emu::replay::game_version());
    FUZZ_CHECK(start.tick_us == 1 || start.tick_us == 1000);
    FUZZ_CHECK(start.game_args.size() <= emu::replay::kMaxArgs);
    FUZZ_CHECK(start.best.size() <= emu::replay::kMaxBestBytes);

    emu::reset();
    emu::replay::play(data, size);
    FUZZ_CHECK(emu::replay::playing());
    emu::replay::signal_handler(SIGTERM, count_signal);
    emu::replay::signal_handler(SIGINT, count_signal);
    std::int64_t last_ns = start.origin_us * 1000;
    std::uint8_t answer[8];
    emu::replay::i2c_transfer(0, answer, sizeof answer);
    int passes = 0;
    handled = 0;
    for (; passes < kMostPasses && handled == 0; ++passes) {
        const std::int64_t ns = emu::replay::clock_ns(0);
        FUZZ_CHECK(ns >= last_ns);
        last_ns = ns;
        emu::replay::sample(0);
        emu::replay::sleeping(kSleeps[passes % 5]);
        const bool ran_out = emu::replay::ran_out();
        emu::replay::woke();
        FUZZ_CHECK(!ran_out || handled > 0);
    }
    emu::reset();
}

}  // namespace

int fuzz_replay(const std::uint8_t* data, std::size_t size) {
    read_and_play(data, size);
    constexpr std::size_t kHead = 10;
    constexpr std::size_t kCheck = 4;
    if (size >= kHead + kCheck && size <= emu::replay::kMaxBytes) {
        std::string fixed(reinterpret_cast<const char*>(data), size);
        auto* bytes = reinterpret_cast<std::uint8_t*>(fixed.data());
        put_le(bytes + 6, static_cast<std::uint32_t>(size));
        put_le(bytes + size - kCheck, emu::replay::crc32(bytes, size - kCheck));
        read_and_play(bytes, size);
    }
    return 0;
}

VMX_FUZZ_ENTRY(fuzz_replay)
