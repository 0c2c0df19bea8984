// The replay file's bytes (see replay_format.h for the layout).
#include "emulator/replay_format.h"

#include <cstring>

#ifndef VMX_VERSION
#error "VMX_VERSION names the game's version"
#endif

namespace emu::replay {
namespace format {
namespace {

constexpr char kMagic[4] = {'V', 'M', 'X', 'R'};
// Magic, format version, length.
constexpr std::size_t kHeadBytes = 10;
constexpr std::size_t kCheckBytes = 4;
constexpr std::size_t kMaxVersionBytes = 32;
// The clock token's codes 0 to 6 stand for residuals; 7 for one written.
constexpr std::uint64_t kShortCodes = 7;

constexpr const char* kStreamNames[kStreamCount] = {"clock readings", "button samples",
                                                    "chip answers", "signals"};

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

void put_bytes(std::vector<std::uint8_t>& out, const void* bytes, std::size_t size) {
    const auto* begin = static_cast<const std::uint8_t*>(bytes);
    out.insert(out.end(), begin, begin + size);
}

void put_text(std::vector<std::uint8_t>& out, const std::string& text) {
    put_varint(out, text.size());
    put_bytes(out, text.data(), text.size());
}

void set_le(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

void put_le(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    out.resize(out.size() + static_cast<std::size_t>(bytes));
    set_le(out, out.size() - static_cast<std::size_t>(bytes), value, bytes);
}

void put_start(std::vector<std::uint8_t>& out, const Start& start) {
    put_varint(out, static_cast<std::uint64_t>(start.origin_us));
    put_varint(out, static_cast<std::uint64_t>(start.tick_us));
    put_varint(out, start.game_args.size());
    for (const std::string& arg : start.game_args)
        put_text(out, arg);
    put_varint(out, start.has_best ? 1 : 0);
    if (start.has_best)
        put_text(out, start.best);
}

bool read_start(Cursor& in, Start* start) {
    start->origin_us = static_cast<std::int64_t>(in.varint(kMaxClockUs));
    start->tick_us = static_cast<std::int64_t>(in.varint(1000));
    const std::size_t argc = static_cast<std::size_t>(in.varint(kMaxArgs));
    for (std::size_t i = 0; i < argc && in.ok(); ++i) {
        std::string arg;
        if (in.text(kMaxArgBytes, &arg))
            start->game_args.push_back(arg);
    }
    start->has_best = in.varint(1) == 1;
    if (start->has_best)
        in.text(kMaxBestBytes, &start->best);
    return in.ok() && (start->tick_us == 1 || start->tick_us == 1000) &&
           start->origin_us % start->tick_us == 0;
}

// The header up to and with the game's version: "" with the version, or
// why the file does not fit. Each bound is checked before the bytes it
// guards are read.
std::string read_head(const std::uint8_t* bytes, std::size_t size, std::string* version) {
    if (size < sizeof kMagic || std::memcmp(bytes, kMagic, sizeof kMagic) != 0)
        return "not a replay of vmxbrikon";
    if (size > kMaxBytes)
        return "too large (" + std::to_string(size) + " bytes; a replay has at most " +
               std::to_string(kMaxBytes) + ")";
    if (size < kHeadBytes + 1)
        return "cut short (" + std::to_string(size) + " bytes)";
    Cursor head(bytes + sizeof kMagic, kHeadBytes + 1 - sizeof kMagic);
    const unsigned file_format = head.fixed(2);
    if (file_format != kFormatVersion)
        return "a replay of format " + std::to_string(file_format) + "; this build plays format " +
               std::to_string(kFormatVersion);
    const std::size_t length = head.fixed(4);
    if (size < length)
        return "cut short (" + std::to_string(size) + " of its " + std::to_string(length) +
               " bytes)";
    if (size > length)
        return "corrupted (its length says " + std::to_string(length) + " bytes, not " +
               std::to_string(size) + ")";
    if (length < kHeadBytes + 1 + kCheckBytes)
        return "corrupted (its length says " + std::to_string(length) +
               " bytes, fewer than any replay)";
    const std::size_t version_size = head.fixed(1);
    if (version_size > kMaxVersionBytes)
        return "corrupted (its game version is " + std::to_string(version_size) + " bytes long)";
    if (kHeadBytes + 1 + version_size + kCheckBytes > size)
        return "corrupted (its game version runs past its end)";
    version->assign(reinterpret_cast<const char*>(bytes + kHeadBytes + 1), version_size);
    // A version is plain text, and named in the one line of a refusal.
    for (const char c : *version) {
        if (c < ' ' || c > '~')
            return "corrupted (its game version)";
    }
    if (*version != game_version())
        return "recorded by vmxbrikon " + *version + "; this is vmxbrikon " + game_version();
    return "";
}

template <typename Token>
bool reads_through(Cursor in) {
    for (Token token; !in.done();) {
        if (!next(in, &token))
            return false;
    }
    return true;
}

}  // namespace

// ---- The clock and the tokens -----------------------------------------------

void Timeline::begin(const Start& start) {
    tick_us = start.tick_us;
    last_ticks = start.origin_us / tick_us;
}

std::int64_t Timeline::predicted() const {
    return last_ticks + static_cast<std::int64_t>(slept_us / static_cast<std::uint64_t>(tick_us));
}

std::int64_t Timeline::take(std::int64_t ticks) {
    last_ticks = ticks;
    slept_us = 0;
    return ticks * tick_us * 1000;
}

void put(std::vector<std::uint8_t>& out, const ClockToken& token) {
    const std::int64_t code = token.residual - kMostLagTicks;
    const bool short_code = code >= 0 && code < static_cast<std::int64_t>(kShortCodes);
    put_varint(out,
               token.predicted * 8 + (short_code ? static_cast<std::uint64_t>(code) : kShortCodes));
    if (!short_code)
        put_varint(out, zigzag(token.residual));
}

void put(std::vector<std::uint8_t>& out, const SampleToken& token) {
    put_varint(out, token.value);
    put_varint(out, token.count);
}

void put(std::vector<std::uint8_t>& out, const AnswerToken& token) {
    put_varint(out, static_cast<std::uint64_t>(token.error));
    put_varint(out, token.length);
    put_bytes(out, token.read, token.length);
}

void put(std::vector<std::uint8_t>& out, const SignalToken& token) {
    put_varint(out, token.after_sleeps);
    put_varint(out, static_cast<std::uint64_t>(token.number));
}

bool next(Cursor& in, ClockToken* token) {
    const std::uint64_t head = in.varint(kMaxBytes * 64);
    token->predicted = head / 8;
    const std::uint64_t code = head % 8;
    token->residual = code < kShortCodes ? kMostLagTicks + static_cast<std::int64_t>(code)
                                         : unzigzag(in.varint(zigzag(-kMaxClockUs)));
    return in.ok();
}

bool next(Cursor& in, SampleToken* token) {
    token->value = static_cast<std::uint32_t>(in.varint(0xFFFFFFFFu));
    token->count = in.varint(kMaxBytes * 8);
    return in.ok() && token->count > 0;
}

bool next(Cursor& in, AnswerToken* token) {
    token->error = static_cast<int>(in.varint(4095));
    token->length = static_cast<std::uint32_t>(in.varint(kMaxReadBytes));
    token->read = in.bytes(token->length);
    return in.ok();
}

bool next(Cursor& in, SignalToken* token) {
    token->after_sleeps = in.varint(kMaxBytes * 8);
    token->number = static_cast<int>(in.varint(kMaxSignal));
    return in.ok() && token->number > 0;
}

// ---- The cursor -----------------------------------------------------------

std::uint64_t Cursor::varint(std::uint64_t most) {
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

std::uint32_t Cursor::fixed(int count) {
    const std::uint8_t* start = bytes(static_cast<std::size_t>(count));
    std::uint32_t value = 0;
    for (int i = count - 1; start != nullptr && i >= 0; --i)
        value = (value << 8) | start[i];
    return value;
}

const std::uint8_t* Cursor::bytes(std::size_t count) {
    if (!ok_ || static_cast<std::size_t>(end_ - at_) < count) {
        fail();
        return nullptr;
    }
    const std::uint8_t* start = at_;
    at_ += count;
    return start;
}

bool Cursor::text(std::size_t most, std::string* out) {
    const std::size_t size = static_cast<std::size_t>(varint(most));
    const std::uint8_t* start = bytes(size);
    if (start == nullptr)
        return false;
    out->assign(reinterpret_cast<const char*>(start), size);
    return true;
}

Cursor Cursor::span(std::size_t count) {
    const std::uint8_t* start = bytes(count);
    return start ? Cursor(start, count) : Cursor();
}

std::uint64_t Cursor::fail() {
    ok_ = false;
    at_ = end_;
    return 0;
}

// ---- The file -------------------------------------------------------------

std::vector<std::uint8_t> encode(const Start& start, const Streams& streams) {
    std::vector<std::uint8_t> out(kMagic, kMagic + sizeof kMagic);
    put_le(out, kFormatVersion, 2);
    put_le(out, 0, 4);  // the length, once known
    out.push_back(static_cast<std::uint8_t>(start.game_version.size()));
    put_bytes(out, start.game_version.data(), start.game_version.size());
    put_start(out, start);
    for (const std::vector<std::uint8_t>& stream : streams) {
        put_varint(out, stream.size());
        put_bytes(out, stream.data(), stream.size());
    }
    set_le(out, 6, static_cast<std::uint32_t>(out.size() + kCheckBytes), 4);
    put_le(out, crc32(out.data(), out.size()), 4);
    return out;
}

std::string decode(const std::uint8_t* bytes, std::size_t size, Decoded* decoded) {
    Decoded found;
    const std::string reason = read_head(bytes, size, &found.start.game_version);
    if (!reason.empty())
        return reason;
    const std::size_t body = size - kCheckBytes;
    if (crc32(bytes, body) != Cursor(bytes + body, kCheckBytes).fixed(4))
        return "corrupted (its checksum does not match)";
    const std::size_t start_at = kHeadBytes + 1 + found.start.game_version.size();
    Cursor in(bytes + start_at, body - start_at);
    if (!read_start(in, &found.start))
        return "corrupted (its start)";
    for (Cursor& stream : found.streams)
        stream = in.span(static_cast<std::size_t>(in.varint(kMaxBytes)));
    if (!in.ok() || !in.done())
        return "corrupted (its streams)";
    const bool whole[kStreamCount] = {
        reads_through<ClockToken>(found.streams[kClock]),
        reads_through<SampleToken>(found.streams[kSamples]),
        reads_through<AnswerToken>(found.streams[kAnswers]),
        reads_through<SignalToken>(found.streams[kSignals]),
    };
    for (int stream = 0; stream < kStreamCount; ++stream) {
        if (!whole[stream])
            return std::string("corrupted (its ") + kStreamNames[stream] + ")";
    }
    if (decoded != nullptr)
        *decoded = found;
    return "";
}

}  // namespace format

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

std::string read(const std::uint8_t* bytes, std::size_t size, Start* start) {
    format::Decoded decoded;
    const std::string reason = format::decode(bytes, size, &decoded);
    if (reason.empty() && start != nullptr)
        *start = decoded.start;
    return reason;
}

}  // namespace emu::replay
