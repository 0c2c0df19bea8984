#pragma once
// The replays pinned in tests/replays/: each NAME.vmxr with NAME.expect,
// the lines it must give when played in any build. A replay is played on
// the emulated goggles as the simulator plays it (its best score in the
// sandbox, its options to the game, the emulated clock its own), in a child
// process; what it gave is written as those lines, so that a test compares
// them and scripts/pin-replay writes them for a new replay.
//
// NAME.expect, one fact a line (tests/replays/README.md):
//   format F              the file's format version (its header)
//   game V                the game version that recorded it
//   clock real|virtual    its clock's tick: 1 ms or 1 us
//   recorded-with ARGS    optional: the simulator's options that recorded it
//   status N              the game's exit status
//   stderr TEXT           each line the game wrote to standard error
//   replay-ended yes|no   the replay ended before the game, which was stopped
//   end frames N score S best B level L   the simulator's closing line
//   frame N HASH          a frame shown, as --frame-log writes it
//   at MS HASH            the picture on display MS ms after the start
// '#' starts a comment line.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The frame log's fingerprint of the picture at area (rows row_pixels
// apart): FNV-1a over its 1280 x 720 pixel words, as vmxbrikon-sim
// --frame-log writes it.
std::uint64_t frame_print(const std::uint32_t* area, std::size_t row_pixels);
// The same over each pixel's colour alone (0xRRGGBB): a screenshot's
// fingerprint, which its PNG gives too.
std::uint64_t picture_print(const std::uint32_t* area, std::size_t row_pixels);

// What to fingerprint while a replay plays.
struct ReplayPlan {
    std::vector<long> frames;  // frame numbers, from 1
    bool every_frame = false;
    std::vector<std::int64_t> moments_ms;  // ms after the start, rising
    std::int64_t every_ms = 0;             // or a moment every so many ms (0: none)
};

struct ReplayOutcome {
    std::string refusal;  // why the reader refused the file ("" when it played)
    int status = -1;      // the game's exit status (-1: it did not exit)
    std::string stderr_text;
    bool ran_out = false;
    long frames = 0;
    int score = 0;
    int best = 0;
    int level = 0;
    std::map<long, std::uint64_t> frame_prints;
    std::map<std::int64_t, std::uint64_t> moment_prints;
};

ReplayOutcome play_replay(const std::string& bytes, const ReplayPlan& plan,
                          int timeout_seconds = 600);

// The facts of a replay file's header: its format and game version, and its
// clock (empty when it cannot be told).
struct ReplayHeader {
    unsigned format = 0;
    std::string game;
    std::string clock;
};
ReplayHeader replay_header(const std::string& bytes);

// The expectation lines of a replay and what it gave (the frames and moments
// fingerprinted, all of them); recorded_with is written when not empty.
std::string expectation_text(const std::string& name, const std::string& bytes,
                             const ReplayOutcome& outcome, const std::string& recorded_with);

// The lines of an expectation that start with key and a space, without it.
std::vector<std::string> expectation_values(const std::string& text, const std::string& key);
// The plan that fingerprints what an expectation lists.
ReplayPlan plan_for(const std::string& expectation);

// The folder of pinned replays, and the names (without .vmxr) found there.
std::string pinned_replay_dir();
std::vector<std::string> pinned_replay_names();
// A pinned replay's name as a test's (letters, digits and '_').
std::string pinned_test_name(const std::string& name);
// The format and game version are this build's.
bool of_this_build(const ReplayHeader& header);
// How this build refuses a replay of another format or game version that it
// does not play (the reader's own words).
std::string refusal_by_name(const ReplayHeader& header);

// Where two texts (frame logs, expectations) part: "" when they are the
// same, or the first line that differs of each.
std::string first_difference(const std::string& got, const std::string& want);
