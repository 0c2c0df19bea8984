// The high-score file across kills: the whole program is stopped dead
// before and after every step of the save at game over (the temporary's
// open, write, flush to disk and close, the rename, the folder's open, flush
// and close), and of the in-place rewrite that a folder refusing new files
// gets instead. Every outcome is the old best or the new one, whole. A link
// planted in place of either file never makes the game write elsewhere.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "emulator/emulator.h"
#include "game/high_score.h"
#include "scripted_game.h"

namespace {

constexpr int kKilled = 9;

struct Reference {
    GameResult result;
    std::vector<CallLine> calls;
    long long best = 0;
};

const Reference& reference(bool refuse_new_files) {
    // Plain pointers, kept to the end of the process.
    static Reference* recorded[2] = {};
    Reference*& r = recorded[refuse_new_files ? 1 : 0];
    if (r == nullptr) {
        r = new Reference;
        ScriptOptions options;
        if (refuse_new_files) {
            options.setup = [] {
                emu::add_fault({emu::Call::Open, "brikon.hi.tmp", 0, emu::Action::Fail, EACCES});
            };
        }
        r->result = run_game(scripted_game(options));
        r->calls = parse_calls(r->result.trace("calls.txt"));
        r->best = pilot_value(r->result, "best");
    }
    return *r;
}

emu::Call kind_of(const std::string& call) {
    static const std::map<std::string, emu::Call> kinds = {
        {"open", emu::Call::Open},   {"close", emu::Call::Close},   {"write", emu::Call::Write},
        {"fsync", emu::Call::Fsync}, {"rename", emu::Call::Rename},
    };
    return kinds.at(call);
}

// The calls of the save: everything at game over that touches the folder.
std::vector<std::size_t> save_steps(const Reference& ref) {
    std::vector<std::size_t> steps;
    for (std::size_t i = 0; i < ref.calls.size(); ++i) {
        const CallLine& call = ref.calls[i];
        // (The temporary's open refused in the in-place case is no step.)
        if (call.call != "fopen" && call.target.find(kHighScoreDir) == 0 && call.result >= 0)
            steps.push_back(i);
    }
    return steps;
}

GameResult killed_at(const Reference& ref, std::size_t index, bool after, bool refuse_new_files) {
    const CallLine& line = ref.calls[index];
    emu::Fault fault;
    fault.call = kind_of(line.call);
    fault.occurrence = fault_occurrence(ref.calls, index);
    fault.action = emu::Action::Kill;
    fault.value = kKilled;
    fault.after = after;
    const char* target = fault_target(line);
    ScriptOptions options;
    options.setup = [fault, target, refuse_new_files]() mutable {
        if (refuse_new_files)
            emu::add_fault({emu::Call::Open, "brikon.hi.tmp", 0, emu::Action::Fail, EACCES});
        fault.target = target;
        emu::add_fault(fault);
    };
    return run_game(scripted_game(options));
}

class CrashConsistency : public testing::TestWithParam<bool> {};

TEST_P(CrashConsistency, AKillAtAnyStepOfTheSaveLeavesTheOldBestOrTheNewOneWhole) {
    SKIP_SWEEP_UNDER_THREAD_SANITIZER();
    const bool refuse_new_files = GetParam();
    const Reference& ref = reference(refuse_new_files);
    ASSERT_EQ(ref.result.status, 0) << ref.result.stderr_text;
    ASSERT_GT(ref.best, kOldBest);
    const std::string new_line = std::to_string(ref.best) + "\n";
    ASSERT_EQ(ref.result.sandbox_file(kHighScorePath), new_line);
    // Written in place over "50\n", a longer line is the whole file.
    ASSERT_GT(new_line.size(), std::string(kOldBestText).size());
    std::vector<std::size_t> steps = save_steps(ref);
    // Temporary: open, write, fsync, close, rename, then the folder's open,
    // fsync and close. In place: open, write, fsync, close.
    ASSERT_EQ(steps.size(), refuse_new_files ? 4u : 8u);

    bool renamed = false;
    std::vector<std::string> outcomes;
    for (std::size_t index : steps) {
        const CallLine& line = ref.calls[index];
        for (bool after : {false, true}) {
            SCOPED_TRACE((after ? "after " : "before ") + line.call + " " + line.target);
            GameResult result = killed_at(ref, index, after, refuse_new_files);
            ASSERT_FALSE(result.timed_out);
            EXPECT_EQ(result.status, kKilled) << "the kill came";
            const std::string stored = result.sandbox_file(kHighScorePath);
            EXPECT_TRUE(stored == kOldBestText || stored == new_line)
                << "the file holds \"" << stored << "\"";
            if (line.call == "rename" && after)
                renamed = true;
            if (!refuse_new_files) {
                // Until the rename is done the old file is untouched; from then
                // on the new one is in place.
                EXPECT_EQ(stored, renamed ? new_line : kOldBestText);
            }
            outcomes.push_back(stored);
        }
    }
    // Both outcomes occur: the kills span the moment the new best lands.
    EXPECT_NE(std::find(outcomes.begin(), outcomes.end(), kOldBestText), outcomes.end());
    EXPECT_NE(std::find(outcomes.begin(), outcomes.end(), new_line), outcomes.end());
}

INSTANTIATE_TEST_SUITE_P(Save, CrashConsistency, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "InPlaceRewrite" : "TemporaryAndRename";
                         });

// A link planted where the game writes: in place of the temporary, and in
// place of the file itself when the folder refuses new files. The file it
// points at, outside the game's folder, is never written.
TEST(CrashConsistency, APlantedLinkNeverMakesTheGameWriteElsewhere) {
    for (bool refuse_new_files : {false, true}) {
        SCOPED_TRACE(refuse_new_files ? "link in place of the file"
                                      : "link in place of the temporary");
        ScriptOptions options;
        options.setup = [refuse_new_files] {
            char folder[512];
            emu::sandbox_path("/", folder, sizeof folder);
            std::string victim = std::string(folder) + "victim";
            std::ofstream(victim) << "keep me\n";
            char link[512];
            emu::sandbox_path(refuse_new_files ? kHighScorePath : kHighScoreTempPath, link,
                              sizeof link);
            unlink(link);
            if (symlink(victim.c_str(), link) != 0)
                std::abort();
            if (refuse_new_files)
                emu::add_fault({emu::Call::Open, "brikon.hi.tmp", 0, emu::Action::Fail, EACCES});
        };
        GameResult result = run_game(scripted_game(options));
        ASSERT_EQ(result.status, 0) << result.stderr_text;
        EXPECT_GT(pilot_value(result, "best"), kOldBest) << "a new best was to be saved";
        EXPECT_EQ(read_file(result.dir + "/sandbox/victim"), "keep me\n");
        struct stat info;
        ASSERT_EQ(lstat((result.dir + "/sandbox" +
                         (refuse_new_files ? kHighScorePath : kHighScoreTempPath))
                            .c_str(),
                        &info),
                  0);
        EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the link is left as it was";
        if (!refuse_new_files) {
            EXPECT_EQ(result.sandbox_file(kHighScorePath), kOldBestText) << "the save gave up";
        }
    }
}

}  // namespace
