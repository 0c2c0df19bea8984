// Replays pinned for ever (tests/replays/): each one, made by the simulator
// or the web page of some day, must play in this build to the same frames,
// the same moments and the same closing lines as when it was pinned, or, if
// its format or game version is no longer this build's, be refused by name
// in one line. So a change to the bytes a recorder writes or to how a
// replay plays fails here until the format version is raised (and the
// older format is still read, or refused by name), and new replays of the
// new format are pinned beside the old.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulator/replay.h"
#include "support/pinned_replay.h"
#include "support/run_game.h"

namespace {

std::string without_comments(const std::string& text) {
    std::string out;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        if (text[at] != '#')
            out += text.substr(at, end - at);
        at = end;
    }
    return out;
}

class PinnedReplay : public testing::TestWithParam<std::string> {};

TEST_P(PinnedReplay, PlaysAsPinned) {
    const std::string path = pinned_replay_dir() + "/" + GetParam();
    const std::string bytes = read_file(path + ".vmxr");
    const std::string expected = read_file(path + ".expect");
    ASSERT_FALSE(bytes.empty());
    ASSERT_FALSE(expected.empty())
        << "every pinned replay has its expectations: scripts/pin-replay " << path << ".vmxr";
    const ReplayHeader header = replay_header(bytes);
    EXPECT_EQ(expectation_values(expected, "format"),
              std::vector<std::string>{std::to_string(header.format)});
    EXPECT_EQ(expectation_values(expected, "game"), std::vector<std::string>{header.game});

    const ReplayOutcome outcome = play_replay(bytes, plan_for(expected));
    if (!outcome.refusal.empty() && !of_this_build(header)) {
        EXPECT_EQ(outcome.refusal, refusal_by_name(header));
        return;
    }
    ASSERT_EQ(outcome.refusal, "");
    const std::vector<std::string> with = expectation_values(expected, "recorded-with");
    const std::string got =
        expectation_text(GetParam(), bytes, outcome, with.empty() ? "" : with[0]);
    EXPECT_EQ(first_difference(without_comments(got), without_comments(expected)), "");
}

INSTANTIATE_TEST_SUITE_P(Replays, PinnedReplay, testing::ValuesIn(pinned_replay_names()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             return pinned_test_name(info.param);
                         });

// The promise holds for this build's own replays too: the folder keeps some
// of this format and game version, in real and in virtual time (once the
// version is raised, new ones are pinned beside the old).
TEST(PinnedReplays, SomeAreThisBuildsInRealAndVirtualTime) {
    bool real = false;
    bool virtual_time = false;
    for (const std::string& name : pinned_replay_names()) {
        const ReplayHeader header =
            replay_header(read_file(pinned_replay_dir() + "/" + name + ".vmxr"));
        if (!of_this_build(header))
            continue;
        real = real || header.clock == "real";
        virtual_time = virtual_time || header.clock == "virtual";
    }
    EXPECT_TRUE(real);
    EXPECT_TRUE(virtual_time);
}

}  // namespace
