#pragma once
// The replay file's bytes: the codec (varints, zigzag, the CRC), the
// header, the four token streams, and the one decode that yields a file's
// start and its streams. The recorder and the player (replay.h) write and
// read through it; nothing here knows the game's threads or clock.
//
// The file, format 1: "VMXR", the format version (2 bytes, little-endian),
// the whole file's length (4 bytes), the game's version (a length byte and
// its text), then varints: the clock at the start in microseconds, the
// clock's tick, the game's options (a count, then each as a length and its
// bytes), the best-score file (0, or 1 then a length and its bytes), the
// four streams (clock, samples, chip answers, signals: each a length and
// its bytes), and a CRC-32 (zlib's, 4 bytes little-endian) of everything
// before it.
//
// The streams' tokens, all varints:
// - clock: predicted * 8 + code: so many readings that are the reading
//   before plus the sleeps asked for since (in ticks), then one off by a
//   residual: the codes 0 to 6 stand for the residuals kMostLagTicks to
//   kMostLagTicks + 6 (nearly all of them in real time), 7 for a residual
//   written after it, zigzagged;
// - samples: the button ADC's sample and the number of sleeps (at least 1)
//   it was latched at in a row;
// - chip answers: each I2C transfer's error (0: none), the count of bytes
//   it read (at most kMaxReadBytes) and those bytes;
// - signals: the main thread's sleeps since the previous signal's (the
//   first: since the start) and the signal's number (1 to 64); the game's
//   handler gets it at that sleep's wake.
//
// A change to any of this, or to what the recorder keeps, raises
// kFormatVersion; a build refuses a format it does not play by name
// (tests/replays/ holds replays every build must play the same).
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace emu::replay {

constexpr unsigned kFormatVersion = 1;
// The largest replay: about thirteen hours of play in real time.
constexpr std::size_t kMaxBytes = 4 * 1024 * 1024;
constexpr std::size_t kMaxBestBytes = 4096;
constexpr std::size_t kMaxArgs = 16;
constexpr std::size_t kMaxArgBytes = 256;

// The run's start as the replay keeps it.
struct Start {
    std::string game_version;
    std::int64_t origin_us = 0;  // the game's clock when the run was started
    // The clock's resolution: 1 in virtual time; 1000 in real time, where a
    // recorded run's clock counts whole milliseconds (as the game does but
    // for the buttons' 9 ms settle) and may trail the live clock by a few
    // (replay.cpp), so that its readings follow the main loop's sleeps and
    // take little room.
    std::int64_t tick_us = 1;
    std::vector<std::string> game_args;
    bool has_best = false;
    std::string best;  // the best-score file's content
};

// The CRC-32 that ends a replay (zlib's).
std::uint32_t crc32(const std::uint8_t* bytes, std::size_t size);

// This build's game version (the project's version).
const char* game_version();

// Reads a replay: "" with start filled in (when not nullptr), or why it
// does not fit (one line, without the file's name).
std::string read(const std::uint8_t* bytes, std::size_t size, Start* start);

// ---- For the recorder and the player -------------------------------------
namespace format {

enum Stream { kClock, kSamples, kAnswers, kSignals, kStreamCount };
using Streams = std::array<std::vector<std::uint8_t>, kStreamCount>;

// In real time a recorded clock trails the live one by less than this many
// ticks (replay.cpp); such residuals have the clock's short codes.
constexpr std::int64_t kMostLagTicks = 4;
constexpr std::uint32_t kMaxReadBytes = 64;
constexpr int kMaxSignal = 64;
// Far beyond any clock a run reads, and far from overflowing when added to.
constexpr std::int64_t kMaxClockUs = std::int64_t{1} << 52;

// The main thread's clock as the clock stream keeps it, for the recorder
// and the player alike: each reading is predicted from the one before and
// the sleeps asked for since, and before the first the clock stands at the
// start (the tick origin).
struct Timeline {
    std::int64_t tick_us = 1;
    std::int64_t last_ticks = 0;  // the latest reading, in ticks
    std::uint64_t slept_us = 0;   // sleeps asked for since it
    std::uint64_t sleeps = 0;     // main-thread sleeps so far

    void begin(const Start& start);
    std::int64_t predicted() const;
    // ticks is the reading now: answers it in nanoseconds.
    std::int64_t take(std::int64_t ticks);
};

struct ClockToken {
    std::uint64_t predicted = 0;  // readings as predicted before the one off
    std::int64_t residual = 0;    // how far off that one is, in ticks
};
struct SampleToken {
    std::uint32_t value = 0;
    std::uint64_t count = 0;  // a run of no samples is never written
};
struct AnswerToken {
    int error = 0;
    std::uint32_t length = 0;
    const std::uint8_t* read = nullptr;  // length bytes
};
struct SignalToken {
    std::uint64_t after_sleeps = 0;  // since the previous one's sleep
    int number = 0;
};

void put(std::vector<std::uint8_t>& out, const ClockToken& token);
void put(std::vector<std::uint8_t>& out, const SampleToken& token);
void put(std::vector<std::uint8_t>& out, const AnswerToken& token);
void put(std::vector<std::uint8_t>& out, const SignalToken& token);

// The whole file of a start (its game_version and tick_us as they are) and
// its streams.
std::vector<std::uint8_t> encode(const Start& start, const Streams& streams);

// Reads varints and bytes from a span; once anything is out of bounds or
// out of range, ok() stays false and every value after it is 0.
class Cursor {
  public:
    Cursor() = default;
    Cursor(const std::uint8_t* begin, std::size_t size) : at_(begin), end_(begin + size) {}
    bool ok() const { return ok_; }
    bool done() const { return at_ == end_; }
    std::uint64_t varint(std::uint64_t most);
    // count bytes little-endian (at most 4).
    std::uint32_t fixed(int count);
    const std::uint8_t* bytes(std::size_t count);
    bool text(std::size_t most, std::string* out);
    // The next count bytes as a cursor of their own.
    Cursor span(std::size_t count);

  private:
    std::uint64_t fail();
    const std::uint8_t* at_ = nullptr;
    const std::uint8_t* end_ = nullptr;
    bool ok_ = true;
};

// The stream's next token: false at its end or at a token that does not
// fit (the cursor then stays at its end).
bool next(Cursor& in, ClockToken* token);
bool next(Cursor& in, SampleToken* token);
bool next(Cursor& in, AnswerToken* token);
bool next(Cursor& in, SignalToken* token);

// A file as decode() found it: its start, and a cursor over each stream
// (into the bytes decoded, which must outlive them).
struct Decoded {
    Start start;
    std::array<Cursor, kStreamCount> streams;
};
// Reads the whole file once, every stream to its end, so that playing it
// meets nothing it cannot take: "" with decoded filled in (when not
// nullptr), or why it does not fit (one line).
std::string decode(const std::uint8_t* bytes, std::size_t size, Decoded* decoded);

}  // namespace format
}  // namespace emu::replay
