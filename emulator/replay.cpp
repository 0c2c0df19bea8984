// The recorder and the player of replays (see replay.h for the file).
#include "emulator/replay.h"

#include <signal.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "emulator/clock.h"

#ifndef VMX_VERSION
#error "VMX_VERSION names the game's version"
#endif

namespace emu::replay {
namespace {

constexpr char kMagic[4] = {'V', 'M', 'X', 'R'};
// Magic, format version, length.
constexpr std::size_t kHeadBytes = 10;
constexpr std::size_t kCheckBytes = 4;
constexpr std::size_t kMaxVersionBytes = 32;
constexpr std::size_t kMaxReadBytes = 64;
constexpr int kMaxSignal = 64;
// Far beyond any clock a run reads, and far from overflowing when added to.
constexpr std::int64_t kMaxClockUs = std::int64_t{1} << 52;
// Room kept for the header and the runs not yet written.
constexpr std::size_t kRecordMargin = 64 * 1024;

enum class Mode { Off, Recording, Playing };

// ---- Bytes ------------------------------------------------------------

void put_varint(std::vector<std::uint8_t>& out, std::uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<std::uint8_t>(value | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<std::uint8_t>(value));
}

std::uint64_t zigzag(std::int64_t value) {
    return (static_cast<std::uint64_t>(value) << 1) ^ static_cast<std::uint64_t>(value >> 63);
}

std::int64_t unzigzag(std::uint64_t value) {
    return static_cast<std::int64_t>(value >> 1) ^ -static_cast<std::int64_t>(value & 1);
}

void put_text(std::vector<std::uint8_t>& out, const std::string& text) {
    put_varint(out, text.size());
    out.insert(out.end(), text.begin(), text.end());
}

void put_le(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t get_le(const std::uint8_t* bytes, int count) {
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

// Reads varints and bytes from a span; once anything is out of bounds or
// out of range, ok() stays false and every value after it is 0.
class Cursor {
  public:
    Cursor() = default;
    Cursor(const std::uint8_t* begin, std::size_t size) : at_(begin), end_(begin + size) {}
    bool ok() const { return ok_; }
    bool done() const { return at_ == end_; }
    std::uint64_t varint(std::uint64_t most) {
        std::uint64_t value = 0;
        for (int shift = 0; ok_; shift += 7) {
            if (at_ == end_ || shift > 63)
                return fail();
            const std::uint8_t byte = *at_++;
            value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
            if ((byte & 0x80) == 0)
                break;
        }
        if (!ok_ || value > most)
            return fail();
        return value;
    }
    const std::uint8_t* bytes(std::size_t count) {
        if (!ok_ || static_cast<std::size_t>(end_ - at_) < count) {
            fail();
            return nullptr;
        }
        const std::uint8_t* start = at_;
        at_ += count;
        return start;
    }
    bool text(std::size_t most, std::string* out) {
        const std::size_t size = static_cast<std::size_t>(varint(most));
        const std::uint8_t* start = bytes(size);
        if (start == nullptr)
            return false;
        out->assign(reinterpret_cast<const char*>(start), size);
        return true;
    }
    // The next count bytes as a cursor of their own.
    Cursor span(std::size_t count) {
        const std::uint8_t* start = bytes(count);
        return start ? Cursor(start, count) : Cursor();
    }

  private:
    std::uint64_t fail() {
        ok_ = false;
        at_ = end_;
        return 0;
    }
    const std::uint8_t* at_ = nullptr;
    const std::uint8_t* end_ = nullptr;
    bool ok_ = true;
};

// ---- Streams ----------------------------------------------------------

enum Stream { kClock, kSamples, kAnswers, kSignals, kStreamCount };

struct ClockToken {
    std::uint64_t predicted = 0;
    std::int64_t residual = 0;
};

// In real time a recorded clock trails the live one by less than this many
// ticks: a reading that the main loop's own work (or a busy machine) has
// made a little late counts as on time, and only the reading that finds the
// clock this far behind catches up. The game's frames then come at most
// this much later than they would, and the clock stream holds a token every
// frame or two instead of one every few passes.
constexpr std::int64_t kMostLagTicks = 4;

// The clock's token: so many readings as predicted, then one off by
// residual: varint(predicted * 8 + code), where the codes 0 to 6 stand for
// the residuals kMostLagTicks to kMostLagTicks + 6 (nearly all of them in
// real time) and 7 for a residual written after it.
constexpr std::uint64_t kShortCodes = 7;

void put_clock_token(std::vector<std::uint8_t>& out, std::uint64_t predicted,
                     std::int64_t residual) {
    const std::int64_t code = residual - kMostLagTicks;
    const bool short_code = code >= 0 && code < static_cast<std::int64_t>(kShortCodes);
    put_varint(out, predicted * 8 + (short_code ? static_cast<std::uint64_t>(code) : kShortCodes));
    if (!short_code)
        put_varint(out, zigzag(residual));
}

bool next_clock_token(Cursor& in, ClockToken* token) {
    const std::uint64_t head = in.varint(kMaxBytes * 64);
    token->predicted = head / 8;
    const std::uint64_t code = head % 8;
    token->residual = code < kShortCodes ? kMostLagTicks + static_cast<std::int64_t>(code)
                                         : unzigzag(in.varint(zigzag(-kMaxClockUs)));
    return in.ok();
}

struct SampleToken {
    std::uint32_t value = 0;
    std::uint64_t count = 0;
};
bool next_sample_token(Cursor& in, SampleToken* token) {
    token->value = static_cast<std::uint32_t>(in.varint(0xFFFFFFFFu));
    token->count = in.varint(kMaxBytes * 8);
    return in.ok() && token->count > 0;
}

struct AnswerToken {
    int error = 0;
    std::uint32_t length = 0;
    const std::uint8_t* read = nullptr;
};
bool next_answer_token(Cursor& in, AnswerToken* token) {
    token->error = static_cast<int>(in.varint(4095));
    token->length = static_cast<std::uint32_t>(in.varint(kMaxReadBytes));
    token->read = in.bytes(token->length);
    return in.ok();
}

struct SignalToken {
    std::uint64_t after_sleeps = 0;  // since the previous one's sleep
    int number = 0;
};
bool next_signal_token(Cursor& in, SignalToken* token) {
    token->after_sleeps = in.varint(kMaxBytes * 8);
    token->number = static_cast<int>(in.varint(kMaxSignal));
    return in.ok() && token->number > 0;
}

// ---- State ------------------------------------------------------------

struct State {
    std::atomic<Mode> mode{Mode::Off};
    Start start;
    std::int64_t tick_us = 1;

    // Both ways: the latest reading, in ticks, and the sleeps since.
    std::int64_t last_ticks = 0;
    std::uint64_t slept_us = 0;
    std::uint64_t sleeps = 0;  // main-thread sleeps so far

    // Recording.
    std::vector<std::uint8_t> streams[kStreamCount];
    std::uint64_t predicted_run = 0;
    std::uint32_t sample_value = 0;
    std::uint64_t sample_run = 0;
    std::uint64_t last_signal_sleep = 0;
    bool full = false;

    // Playing.
    std::vector<std::uint8_t> file;
    Cursor in[kStreamCount];
    ClockToken clock_token;
    bool clock_token_ready = false;
    SampleToken sample_token;
    std::uint64_t samples_left = 0;
    std::uint32_t held_sample = 0;
    SignalToken signal_token;
    bool signal_token_ready = false;
    std::uint64_t signal_due_sleep = 0;
    std::atomic<bool> ran_out{false};
    bool stop_handed = false;
    bool pacing = false;
    std::int64_t real_base_ns = 0;
    Pacer pacer = nullptr;
    void* pacer_context = nullptr;

    // Signals kept for the main thread's next wake.
    std::atomic<std::uint64_t> pending_signals{0};
    std::atomic<Handler> handlers[kMaxSignal + 1] = {};
};

State& state() {
    static State instance;
    return instance;
}

std::int64_t real_now_ns() {
    struct timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void keep_signal(int signal_number) {
    if (signal_number > 0 && signal_number <= kMaxSignal)
        state().pending_signals.fetch_or(std::uint64_t{1} << (signal_number - 1));
}

void hand_to_game(State& s, int signal_number) {
    if (signal_number <= 0 || signal_number > kMaxSignal)
        return;
    if (Handler handler = s.handlers[signal_number].load())
        handler(signal_number);
}

std::size_t recorded_bytes(const State& s) {
    std::size_t total = 0;
    for (const auto& stream : s.streams)
        total += stream.size();
    return total;
}

// Past the limit the recording stops where it is, between two readings, as
// a replay taken at that moment would.
bool keeping(State& s) {
    if (s.mode.load() != Mode::Recording || s.full)
        return false;
    if (recorded_bytes(s) + kRecordMargin > kMaxBytes)
        s.full = true;
    return !s.full;
}

void load_clock_token(State& s) {
    s.clock_token_ready =
        s.in[kClock].ok() && !s.in[kClock].done() && next_clock_token(s.in[kClock], &s.clock_token);
}

void load_signal_token(State& s) {
    s.signal_token_ready = s.in[kSignals].ok() && !s.in[kSignals].done() &&
                           next_signal_token(s.in[kSignals], &s.signal_token);
    if (s.signal_token_ready)
        s.signal_due_sleep += s.signal_token.after_sleeps;
}

// The clock read in the replay: the reading predicted from the one before
// and the sleeps since, or as the stream corrects it.
std::int64_t next_reading(State& s) {
    std::int64_t ticks = s.last_ticks + static_cast<std::int64_t>(
                                            s.slept_us / static_cast<std::uint64_t>(s.tick_us));
    if (s.clock_token_ready && s.clock_token.predicted > 0) {
        s.clock_token.predicted -= 1;
    } else if (s.clock_token_ready) {
        ticks += s.clock_token.residual;
        load_clock_token(s);
    } else {
        s.ran_out.store(true);
    }
    // A replay's clock never goes back.
    return std::clamp(ticks, s.last_ticks, kMaxClockUs / s.tick_us);
}

}  // namespace

std::uint32_t crc32(const std::uint8_t* bytes, std::size_t size) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

const char* game_version() {
    return VMX_VERSION;
}

void reset() {
    State& s = state();
    s.mode.store(Mode::Off);
    s.start = Start{};
    s.tick_us = 1;
    s.last_ticks = 0;
    s.slept_us = 0;
    s.sleeps = 0;
    for (auto& stream : s.streams)
        stream.clear();
    s.predicted_run = 0;
    s.sample_value = 0;
    s.sample_run = 0;
    s.last_signal_sleep = 0;
    s.full = false;
    s.file.clear();
    for (Cursor& in : s.in)
        in = Cursor();
    s.clock_token_ready = false;
    s.samples_left = 0;
    s.held_sample = 0;
    s.signal_token_ready = false;
    s.signal_due_sleep = 0;
    s.ran_out.store(false);
    s.stop_handed = false;
    s.pacing = false;
    s.pacer = nullptr;
    s.pacer_context = nullptr;
    s.pending_signals.store(0);
    for (auto& handler : s.handlers)
        handler.store(nullptr);
}

void record(const Start& start) {
    reset();
    State& s = state();
    s.start = start;
    s.start.game_version = game_version();
    s.tick_us = start.tick_us == 1000 ? 1000 : 1;
    s.start.tick_us = s.tick_us;
    s.last_ticks = start.origin_us / s.tick_us;
    s.mode.store(Mode::Recording);
}

bool record_full() {
    return state().full;
}

std::vector<std::uint8_t> recorded() {
    State& s = state();
    std::vector<std::uint8_t> out(kMagic, kMagic + sizeof kMagic);
    out.resize(kHeadBytes);
    put_le(out, 4, kFormatVersion, 2);
    out.push_back(static_cast<std::uint8_t>(s.start.game_version.size()));
    out.insert(out.end(), s.start.game_version.begin(), s.start.game_version.end());
    put_varint(out, static_cast<std::uint64_t>(s.start.origin_us));
    put_varint(out, static_cast<std::uint64_t>(s.tick_us));
    put_varint(out, s.start.game_args.size());
    for (const std::string& arg : s.start.game_args)
        put_text(out, arg);
    put_varint(out, s.start.has_best ? 1 : 0);
    if (s.start.has_best)
        put_text(out, s.start.best);

    // The runs still open close where the recording is now.
    std::vector<std::uint8_t> clock = s.streams[kClock];
    if (s.predicted_run > 0)
        put_clock_token(clock, s.predicted_run - 1, 0);
    std::vector<std::uint8_t> samples = s.streams[kSamples];
    if (s.sample_run > 0) {
        put_varint(samples, s.sample_value);
        put_varint(samples, s.sample_run);
    }
    for (const auto* stream : {&clock, &samples, &s.streams[kAnswers], &s.streams[kSignals]}) {
        put_varint(out, stream->size());
        out.insert(out.end(), stream->begin(), stream->end());
    }
    put_le(out, 6, static_cast<std::uint32_t>(out.size() + kCheckBytes), 4);
    const std::uint32_t check = crc32(out.data(), out.size());
    out.resize(out.size() + kCheckBytes);
    put_le(out, out.size() - kCheckBytes, check, 4);
    return out;
}

std::string read(const std::uint8_t* bytes, std::size_t size, Start* start) {
    if (size < sizeof kMagic || std::memcmp(bytes, kMagic, sizeof kMagic) != 0)
        return "not a replay of vmxbrikon";
    if (size > kMaxBytes)
        return "too large (" + std::to_string(size) + " bytes; a replay has at most " +
               std::to_string(kMaxBytes) + ")";
    if (size < kHeadBytes + 1)
        return "cut short (" + std::to_string(size) + " bytes)";
    const unsigned format = get_le(bytes + 4, 2);
    if (format != kFormatVersion)
        return "a replay of format " + std::to_string(format) + "; this build plays format " +
               std::to_string(kFormatVersion);
    const std::size_t length = get_le(bytes + 6, 4);
    if (size < length)
        return "cut short (" + std::to_string(size) + " of its " + std::to_string(length) +
               " bytes)";
    if (size > length || length < kHeadBytes + 1 + kCheckBytes)
        return "corrupted (its length says " + std::to_string(length) + " bytes, not " +
               std::to_string(size) + ")";
    const std::size_t version_size = bytes[kHeadBytes];
    if (version_size > kMaxVersionBytes || kHeadBytes + 1 + version_size + kCheckBytes > size)
        return "corrupted (its game version)";
    const std::string version(reinterpret_cast<const char*>(bytes + kHeadBytes + 1), version_size);
    // A version is plain text, and named in the one line of a refusal.
    for (const char c : version) {
        if (c < ' ' || c > '~')
            return "corrupted (its game version)";
    }
    if (version != game_version())
        return "recorded by vmxbrikon " + version + "; this is vmxbrikon " + game_version();
    const std::size_t body = size - kCheckBytes;
    if (crc32(bytes, body) != get_le(bytes + body, 4))
        return "corrupted (its checksum does not match)";

    Start read_start;
    read_start.game_version = version;
    Cursor in(bytes + kHeadBytes + 1 + version_size, body - kHeadBytes - 1 - version_size);
    read_start.origin_us = static_cast<std::int64_t>(in.varint(kMaxClockUs));
    read_start.tick_us = static_cast<std::int64_t>(in.varint(1000));
    const std::size_t argc = static_cast<std::size_t>(in.varint(kMaxArgs));
    for (std::size_t i = 0; i < argc && in.ok(); ++i) {
        std::string arg;
        if (in.text(kMaxArgBytes, &arg))
            read_start.game_args.push_back(arg);
    }
    read_start.has_best = in.varint(1) == 1;
    if (read_start.has_best)
        in.text(kMaxBestBytes, &read_start.best);
    if (!in.ok() || (read_start.tick_us != 1 && read_start.tick_us != 1000) ||
        read_start.origin_us % read_start.tick_us != 0)
        return "corrupted (its start)";

    // Every stream is read through once, so that playing it meets nothing
    // it cannot take.
    Cursor streams[kStreamCount];
    for (Cursor& stream : streams)
        stream = in.span(static_cast<std::size_t>(in.varint(kMaxBytes)));
    if (!in.ok() || !in.done())
        return "corrupted (its streams)";
    for (ClockToken token; !streams[kClock].done();) {
        if (!next_clock_token(streams[kClock], &token))
            return "corrupted (its clock readings)";
    }
    for (SampleToken token; !streams[kSamples].done();) {
        if (!next_sample_token(streams[kSamples], &token))
            return "corrupted (its button samples)";
    }
    for (AnswerToken token; !streams[kAnswers].done();) {
        if (!next_answer_token(streams[kAnswers], &token))
            return "corrupted (its chip answers)";
    }
    for (SignalToken token; !streams[kSignals].done();) {
        if (!next_signal_token(streams[kSignals], &token))
            return "corrupted (its signals)";
    }
    if (start != nullptr)
        *start = read_start;
    return "";
}

void play(const std::uint8_t* bytes, std::size_t size) {
    reset();
    State& s = state();
    if (!read(bytes, size, &s.start).empty())
        return;
    s.file.assign(bytes, bytes + size);
    s.tick_us = s.start.tick_us;
    s.last_ticks = s.start.origin_us / s.tick_us;
    // The same walk as read()'s, on the kept copy.
    const std::size_t version_size = s.file[kHeadBytes];
    Cursor in(s.file.data() + kHeadBytes + 1 + version_size,
              s.file.size() - kCheckBytes - kHeadBytes - 1 - version_size);
    in.varint(kMaxClockUs);
    in.varint(1000);
    const std::size_t argc = static_cast<std::size_t>(in.varint(kMaxArgs));
    std::string skipped;
    for (std::size_t i = 0; i < argc; ++i)
        in.text(kMaxArgBytes, &skipped);
    if (in.varint(1) == 1)
        in.text(kMaxBestBytes, &skipped);
    for (Cursor& stream : s.in)
        stream = in.span(static_cast<std::size_t>(in.varint(kMaxBytes)));
    load_clock_token(s);
    load_signal_token(s);
    s.real_base_ns = real_now_ns();
    clock::replay_from(s.start.origin_us * 1000);
    s.mode.store(Mode::Playing);
}

void pace(bool real_speed) {
    state().pacing = real_speed;
}

void pace_by(Pacer pacer, void* context) {
    State& s = state();
    s.pacer = pacer;
    s.pacer_context = context;
    s.pacing = pacer != nullptr;
}

bool ran_out() {
    return state().ran_out.load();
}

bool recording() {
    return state().mode.load() == Mode::Recording;
}

bool playing() {
    return state().mode.load() == Mode::Playing;
}

std::int64_t clock_ns(std::int64_t live_ns) {
    State& s = state();
    const Mode mode = s.mode.load();
    if (mode == Mode::Recording) {
        std::int64_t ticks = live_ns / (s.tick_us * 1000);
        const std::int64_t predicted =
            s.last_ticks +
            static_cast<std::int64_t>(s.slept_us / static_cast<std::uint64_t>(s.tick_us));
        if (s.tick_us > 1 && ticks >= predicted && ticks - predicted < kMostLagTicks)
            ticks = predicted;
        if (keeping(s)) {
            if (ticks == predicted) {
                s.predicted_run += 1;
            } else {
                put_clock_token(s.streams[kClock], s.predicted_run, ticks - predicted);
                s.predicted_run = 0;
            }
        }
        s.last_ticks = ticks;
        s.slept_us = 0;
        return ticks * s.tick_us * 1000;
    }
    if (mode != Mode::Playing)
        return live_ns;
    const std::int64_t ticks = next_reading(s);
    s.last_ticks = ticks;
    s.slept_us = 0;
    const std::int64_t ns = ticks * s.tick_us * 1000;
    if (s.pacing && !clock::wait_for_pace(ns)) {
        const std::int64_t game_ns = ns - s.start.origin_us * 1000;
        const std::int64_t due_ns = s.real_base_ns + game_ns;
        const auto wait_left = [&] {
            return s.pacer != nullptr ? s.pacer(game_ns, s.pacer_context) : due_ns - real_now_ns();
        };
        // A wait of so long, not until a time: the browser's C library
        // takes no absolute one.
        for (std::int64_t left = wait_left(); left > 0; left = wait_left()) {
            const struct timespec wait = {static_cast<time_t>(left / 1000000000),
                                          static_cast<long>(left % 1000000000)};
            nanosleep(&wait, nullptr);
        }
    }
    clock::replay_reached(ns);
    return ns;
}

void sleeping(unsigned microseconds) {
    state().slept_us += microseconds;
}

void woke() {
    State& s = state();
    const Mode mode = s.mode.load();
    s.sleeps += 1;
    std::uint64_t pending = s.pending_signals.exchange(0);
    for (int number = 1; pending != 0; ++number, pending >>= 1) {
        if ((pending & 1) == 0)
            continue;
        if (mode == Mode::Recording && keeping(s)) {
            put_varint(s.streams[kSignals], s.sleeps - s.last_signal_sleep);
            put_varint(s.streams[kSignals], static_cast<std::uint64_t>(number));
            s.last_signal_sleep = s.sleeps;
        }
        hand_to_game(s, number);
    }
    if (mode != Mode::Playing)
        return;
    while (s.signal_token_ready && s.signal_due_sleep <= s.sleeps) {
        hand_to_game(s, s.signal_token.number);
        load_signal_token(s);
    }
    // Past the replay's end the game stops as at the end of --seconds.
    if (s.ran_out.load() && !s.stop_handed && s.handlers[SIGTERM].load() != nullptr) {
        s.stop_handed = true;
        hand_to_game(s, SIGTERM);
    }
}

std::uint32_t sample(std::uint32_t live) {
    State& s = state();
    const Mode mode = s.mode.load();
    if (mode == Mode::Recording) {
        if (!keeping(s))
            return live;
        if (s.sample_run > 0 && live == s.sample_value) {
            s.sample_run += 1;
        } else {
            if (s.sample_run > 0) {
                put_varint(s.streams[kSamples], s.sample_value);
                put_varint(s.streams[kSamples], s.sample_run);
            }
            s.sample_value = live;
            s.sample_run = 1;
        }
        return live;
    }
    if (mode != Mode::Playing)
        return live;
    if (s.samples_left == 0 && s.in[kSamples].ok() && !s.in[kSamples].done() &&
        next_sample_token(s.in[kSamples], &s.sample_token)) {
        s.held_sample = s.sample_token.value;
        s.samples_left = s.sample_token.count;
    }
    // Past the end the last sample stays.
    if (s.samples_left > 0)
        s.samples_left -= 1;
    return s.held_sample;
}

int i2c_transfer(int error, std::uint8_t* read, std::uint32_t length) {
    State& s = state();
    const Mode mode = s.mode.load();
    if (mode == Mode::Recording) {
        if (keeping(s)) {
            const std::uint32_t kept =
                error == 0 && read != nullptr ? std::min<std::uint32_t>(length, kMaxReadBytes) : 0;
            put_varint(s.streams[kAnswers], static_cast<std::uint64_t>(error));
            put_varint(s.streams[kAnswers], kept);
            s.streams[kAnswers].insert(s.streams[kAnswers].end(), read, read + kept);
        }
        return error;
    }
    if (mode != Mode::Playing)
        return error;
    AnswerToken token;
    // A transfer beyond the replay's finds no chip.
    if (!s.in[kAnswers].ok() || s.in[kAnswers].done() || !next_answer_token(s.in[kAnswers], &token))
        return EREMOTEIO;
    if (token.error == 0 && read != nullptr)
        std::memcpy(read, token.read, std::min(token.length, length));
    return token.error;
}

Handler signal_handler(int signal_number, Handler game_handler) {
    State& s = state();
    if (s.mode.load() == Mode::Off || signal_number <= 0 || signal_number > kMaxSignal)
        return game_handler;
    s.handlers[signal_number].store(game_handler);
    return keep_signal;
}

}  // namespace emu::replay
