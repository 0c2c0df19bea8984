// The replay reader against files written by hand from the format's
// description (replay_format.h): what it accepts, and the one line with
// which it refuses every other file, at each bound of the header, the start
// and the streams, at the size limit's edge, and for every length a file
// cut short can have. Each file is read from a buffer of exactly its size,
// so that a read past the end shows in the sanitizer builds too.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "emulator/replay.h"

namespace {

std::string varint(std::uint64_t value) {
    std::string out;
    for (; value >= 0x80; value >>= 7)
        out += static_cast<char>((value & 0x7F) | 0x80);
    out += static_cast<char>(value);
    return out;
}

std::string text(const std::string& value) {
    return varint(value.size()) + value;
}

std::string le(std::uint32_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

// A replay file as the format describes it; bytes() sets its length and
// checksum right unless told otherwise.
struct File {
    unsigned format = emu::replay::kFormatVersion;
    std::string version = emu::replay::game_version();
    std::string start =
        varint(10000000) + varint(1) + varint(1) + text("--seconds") + varint(1) + text("1500\n");
    std::string streams[4] = {
        // Three readings as slept and one 5 ticks early; then one 6 late.
        varint(3 * 8 + 7) + varint(9) + varint(0 * 8 + 2),
        varint(0x7FF) + varint(40) + varint(0x123) + varint(3),
        varint(0) + varint(3) + std::string("\x01\x00\x00", 3) + varint(121) + varint(0),
        varint(25) + varint(15),
    };
    std::string body() const {
        std::string out =
            "VMXR" + le(format, 2) + le(0, 4) + static_cast<char>(version.size()) + version + start;
        for (const std::string& stream : streams)
            out += text(stream);
        return out;
    }
    std::string bytes() const { return sealed(body()); }

    // The length and the checksum made right for these bytes.
    static std::string sealed(std::string out) {
        const std::string length = le(static_cast<std::uint32_t>(out.size() + 4), 4);
        out.replace(6, 4, length);
        const auto* data = reinterpret_cast<const std::uint8_t*>(out.data());
        return out + le(emu::replay::crc32(data, out.size()), 4);
    }
};

// Reads the bytes from a buffer of exactly their size.
std::string read(const std::string& bytes, emu::replay::Start* start = nullptr) {
    const std::vector<std::uint8_t> exact(bytes.begin(), bytes.end());
    return emu::replay::read(exact.data(), exact.size(), start);
}

TEST(ReplayFormat, CrcIsZlibs) {
    const std::string check = "123456789";
    EXPECT_EQ(emu::replay::crc32(reinterpret_cast<const std::uint8_t*>(check.data()), 9),
              0xCBF43926u);
    EXPECT_EQ(emu::replay::crc32(nullptr, 0), 0u);
}

TEST(ReplayFormat, AWholeFileGivesItsStart) {
    emu::replay::Start start;
    ASSERT_EQ(read(File().bytes(), &start), "");
    EXPECT_EQ(start.game_version, emu::replay::game_version());
    EXPECT_EQ(start.origin_us, 10000000);
    EXPECT_EQ(start.tick_us, 1);
    EXPECT_EQ(start.game_args, std::vector<std::string>{"--seconds"});
    EXPECT_TRUE(start.has_best);
    EXPECT_EQ(start.best, "1500\n");
}

// Every length short of the whole file: not a replay while its name is cut,
// then cut short, by the length its header gives once the header is whole.
TEST(ReplayFormat, EveryCutIsRefusedAsCutShort) {
    const std::string whole = File().bytes();
    const std::string size = std::to_string(whole.size());
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        SCOPED_TRACE(cut);
        std::string reason;
        if (cut < 4)
            reason = "not a replay of vmxbrikon";
        else if (cut < 11)
            reason = "cut short (" + std::to_string(cut) + " bytes)";
        else
            reason = "cut short (" + std::to_string(cut) + " of its " + size + " bytes)";
        EXPECT_EQ(read(whole.substr(0, cut)), reason);
    }
}

// A file cut anywhere, with its length and checksum made to fit the cut:
// refused at the first field it cannot hold, never read past.
TEST(ReplayFormat, EveryCutWithItsLengthMadeRightIsRefusedAtItsBound) {
    const File file;
    const std::string body = file.body();
    const std::size_t version_end = 11 + file.version.size();
    const std::size_t start_end = version_end + file.start.size();
    for (std::size_t cut = 11; cut < body.size(); ++cut) {
        SCOPED_TRACE(cut);
        std::string reason;
        if (cut < version_end)
            reason = "corrupted (its game version runs past its end)";
        else if (cut < start_end)
            reason = "corrupted (its start)";
        else
            reason = "corrupted (its streams)";
        EXPECT_EQ(read(File::sealed(body.substr(0, cut))), reason);
    }
    for (std::size_t size = 11; size < 15; ++size) {
        SCOPED_TRACE(size);
        std::string short_file = body.substr(0, size);
        short_file.replace(6, 4, le(static_cast<std::uint32_t>(size), 4));
        EXPECT_EQ(read(short_file), "corrupted (its length says " + std::to_string(size) +
                                        " bytes, fewer than any replay)");
    }
}

struct Case {
    const char* what;
    std::string bytes;
    std::string reason;
};

void expect_refusals(const std::vector<Case>& cases) {
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        EXPECT_EQ(read(test.bytes), test.reason);
    }
}

TEST(ReplayFormat, HeadersThatDoNotFitAreRefusedByName) {
    const unsigned format = emu::replay::kFormatVersion;
    const std::string plays = "; this build plays format " + std::to_string(format);
    File newer_format;
    newer_format.format = format + 1;
    File older_format;
    older_format.format = format - 1;
    File other_version;
    other_version.version = "9.9.9";
    File long_version;
    long_version.version = std::string(33, '1');
    File longest_version;
    longest_version.version = std::string(32, '1');
    File unprintable_version;
    unprintable_version.version = "1.0\n0";
    std::string wrong_check = File().bytes();
    wrong_check.back() ^= 1;
    std::string longer = File().bytes() + "x";
    // The version and nothing after it, its length one more than it has.
    std::string version_past_end = File().body().substr(0, 11 + File().version.size());
    version_past_end[10] = static_cast<char>(version_past_end[10] + 1);
    version_past_end = File::sealed(version_past_end);
    expect_refusals({
        {"not a replay", "1500 MIDDLE 200\n", "not a replay of vmxbrikon"},
        {"a newer format", newer_format.bytes(),
         "a replay of format " + std::to_string(format + 1) + plays},
        {"an older format", older_format.bytes(),
         "a replay of format " + std::to_string(format - 1) + plays},
        {"another game version", other_version.bytes(),
         "recorded by vmxbrikon 9.9.9; this is vmxbrikon " +
             std::string(emu::replay::game_version())},
        {"a version longer than any", long_version.bytes(),
         "corrupted (its game version is 33 bytes long)"},
        {"the longest version", longest_version.bytes(),
         "recorded by vmxbrikon " + longest_version.version + "; this is vmxbrikon " +
             std::string(emu::replay::game_version())},
        {"a version that is not text", unprintable_version.bytes(), "corrupted (its game version)"},
        {"a version up to the checksum", version_past_end,
         "corrupted (its game version runs past its end)"},
        {"the checksum", wrong_check, "corrupted (its checksum does not match)"},
        {"longer than its length says", longer,
         "corrupted (its length says " + std::to_string(longer.size() - 1) + " bytes, not " +
             std::to_string(longer.size()) + ")"},
    });
}

TEST(ReplayFormat, StartsAndStreamsThatDoNotFitAreRefused) {
    auto with_start = [](const std::string& start) {
        File file;
        file.start = start;
        return file.bytes();
    };
    auto with_stream = [](int index, const std::string& stream) {
        File file;
        file.streams[index] = stream;
        return file.bytes();
    };
    const std::string none = varint(0) + varint(0);  // no arguments, no best
    File trailing;
    trailing.streams[3] = varint(25) + varint(15);
    const std::string trailing_bytes = File::sealed(trailing.body() + "z");
    expect_refusals({
        {"a tick of neither", with_start(varint(10000000) + varint(7) + none),
         "corrupted (its start)"},
        {"an origin between ticks", with_start(varint(10000500) + varint(1000) + none),
         "corrupted (its start)"},
        {"seventeen arguments", with_start(varint(0) + varint(1) + varint(17) + none),
         "corrupted (its start)"},
        {"an argument too long",
         with_start(varint(0) + varint(1) + varint(1) + text(std::string(257, 'a')) + varint(0)),
         "corrupted (its start)"},
        {"a best too long",
         with_start(varint(0) + varint(1) + varint(0) + varint(1) + text(std::string(4097, '9'))),
         "corrupted (its start)"},
        {"a best neither kept nor not", with_start(varint(0) + varint(1) + varint(0) + varint(2)),
         "corrupted (its start)"},
        {"bytes after the streams", trailing_bytes, "corrupted (its streams)"},
        {"a clock token past 64 bits", with_stream(0, std::string(10, '\xFF') + '\x01'),
         "corrupted (its clock readings)"},
        {"a clock residual cut", with_stream(0, varint(7)), "corrupted (its clock readings)"},
        {"a run of no samples", with_stream(1, varint(0x7FF) + varint(0)),
         "corrupted (its button samples)"},
        {"a sample past 32 bits", with_stream(1, varint(0x100000000ull) + varint(1)),
         "corrupted (its button samples)"},
        {"an answer too long", with_stream(2, varint(0) + varint(65) + std::string(65, 'a')),
         "corrupted (its chip answers)"},
        {"an answer's bytes cut", with_stream(2, varint(0) + varint(3) + "ab"),
         "corrupted (its chip answers)"},
        {"signal 0", with_stream(3, varint(1) + varint(0)), "corrupted (its signals)"},
        {"signal 65", with_stream(3, varint(1) + varint(65)), "corrupted (its signals)"},
    });
    File longest;
    longest.start = varint(0) + varint(1000) + varint(16);
    for (int i = 0; i < 16; ++i)
        longest.start += text(std::string(256, 'a'));
    longest.start += varint(1) + text(std::string(4096, '9'));
    emu::replay::Start start;
    EXPECT_EQ(read(longest.bytes(), &start), "");
    EXPECT_EQ(start.game_args.size(), 16u);
    EXPECT_EQ(start.best.size(), 4096u);
}

// A file of exactly kMaxBytes is a replay; one byte more is too large.
TEST(ReplayFormat, TheSizeLimitIsInclusive) {
    const std::size_t limit = emu::replay::kMaxBytes;
    File file;
    file.streams[2].clear();
    for (int best = 0; best < 2; ++best) {
        file.start = varint(0) + varint(1) + varint(0) + varint(1) + text(std::string(best, '7'));
        // Answers of no bytes (two bytes each) fill the rest; the stream's
        // own length then takes four bytes instead of one.
        const std::size_t rest = limit - (file.bytes().size() - 1) - 4;
        if (rest % 2 == 0) {
            for (std::size_t i = 0; i < rest / 2; ++i)
                file.streams[2] += std::string("\x00\x00", 2);
            break;
        }
    }
    const std::string at_limit = file.bytes();
    ASSERT_EQ(at_limit.size(), limit);
    EXPECT_EQ(read(at_limit), "");
    file.streams[2] += std::string("\x00\x00", 2);
    const std::string over = file.bytes().substr(0, limit + 1);
    EXPECT_EQ(read(over), "too large (" + std::to_string(limit + 1) +
                              " bytes; a replay has at most " + std::to_string(limit) + ")");
}

}  // namespace
