// The high-score file across kills: the whole program is stopped dead
// before and after every step of the save at game over: the look at the
// file, its open, the room made for a longer line and its flush (with the
// folder's), the write and its flush, the cut of a longer old line and its
// flush, the close; for a file made by the save, and through a link. Every
// outcome is the old best or the new one, whole.
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
#include "scripted_game.h"
#include "shell/high_score.h"

namespace {

constexpr int kKilled = 9;

struct Reference {
    GameResult result;
    std::vector<CallLine> calls;
    long long best = 0;
};

const Reference& reference(const std::string& setup_name) {
    // Plain pointers, kept to the end of the process.
    static auto* recorded = new std::map<std::string, Reference*>;
    Reference*& r = (*recorded)[setup_name];
    if (r == nullptr) {
        r = new Reference;
        ScriptOptions options;
        EXPECT_TRUE(save_setup(setup_name, &options.setup)) << setup_name;
        r->result = run_game(scripted_game(options));
        r->calls = parse_calls(r->result.trace("calls.txt"));
        r->best = pilot_value(r->result, "best");
    }
    return *r;
}

// The steps of the save: its calls that were carried out. (A call that
// fails by itself, such as the look at a file that is not there, is no
// step.)
std::vector<std::size_t> save_steps(const Reference& ref) {
    std::vector<std::size_t> steps;
    for (std::size_t index : save_calls(ref.calls)) {
        if (ref.calls[index].result >= 0)
            steps.push_back(index);
    }
    return steps;
}

GameResult killed_at(const Reference& ref, std::size_t index, bool after,
                     const std::string& setup_name) {
    const CallLine& line = ref.calls[index];
    emu::Fault fault;
    EXPECT_TRUE(call_kind(line.call, &fault.call)) << line.call;
    fault.occurrence = fault_occurrence(ref.calls, index);
    fault.action = emu::Action::Kill;
    fault.value = kKilled;
    fault.after = after;
    const char* target = fault_target(line);
    std::function<void()> setup;
    save_setup(setup_name, &setup);
    ScriptOptions options;
    options.setup = [fault, target, setup]() mutable {
        setup();
        fault.target = target;
        emu::add_fault(fault);
    };
    return run_game(scripted_game(options));
}

struct Variant {
    const char* name;
    const char* setup;
    // The steps, as "call target" with the target's last name only.
    std::vector<std::string> steps;
};

void PrintTo(const Variant& variant, std::ostream* out) {
    *out << variant.name;
}

std::string last_name(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

class CrashConsistency : public testing::TestWithParam<Variant> {};

TEST_P(CrashConsistency, AKillAtAnyStepOfTheSaveLeavesTheOldBestOrTheNewOneWhole) {
    SKIP_SWEEP_UNDER_THREAD_SANITIZER();
    const Variant& variant = GetParam();
    const Reference& ref = reference(variant.setup);
    ASSERT_EQ(ref.result.status, 0) << ref.result.stderr_text;
    ASSERT_GT(ref.best, kOldBest);
    const std::string new_line = std::to_string(ref.best) + "\n";
    ASSERT_EQ(ref.result.sandbox_file(kHighScorePath), new_line);
    const std::string old_text = old_best_text(variant.setup);
    std::vector<std::size_t> steps = save_steps(ref);
    std::vector<std::string> named;
    for (std::size_t index : steps)
        named.push_back(ref.calls[index].call + " " + last_name(ref.calls[index].target));
    ASSERT_EQ(named, variant.steps);

    // The new best lands with the write; until then the old line is whole.
    bool landed = false;
    std::vector<bool> outcomes;
    for (std::size_t index : steps) {
        const CallLine& line = ref.calls[index];
        const bool lands = line.call == "write";
        for (bool after : {false, true}) {
            SCOPED_TRACE((after ? "after " : "before ") + line.call + " " + line.target);
            GameResult result = killed_at(ref, index, after, variant.setup);
            ASSERT_FALSE(result.timed_out);
            EXPECT_EQ(result.status, kKilled) << "the kill came";
            const std::string stored = result.sandbox_file(kHighScorePath);
            if (lands && after)
                landed = true;
            EXPECT_TRUE(holds_line(stored, landed ? new_line : old_text, old_text))
                << "stored: " << testing::PrintToString(stored);
            outcomes.push_back(landed);
        }
    }
    // Both outcomes occur: the kills span the moment the new best lands.
    EXPECT_NE(std::find(outcomes.begin(), outcomes.end(), false), outcomes.end());
    EXPECT_NE(std::find(outcomes.begin(), outcomes.end(), true), outcomes.end());
}

const Variant kVariants[] = {
    {"LongerLine",
     "-",
     {"lstat brikon.hi", "open brikon.hi", "fstat brikon.hi", "ftruncate brikon.hi", "open data",
      "fsync data", "close data", "fsync brikon.hi", "write brikon.hi", "fsync brikon.hi",
      "close brikon.hi"}},
    {"ShorterLine",
     "long_line",
     {"lstat brikon.hi", "open brikon.hi", "fstat brikon.hi", "write brikon.hi", "fsync brikon.hi",
      "ftruncate brikon.hi", "fsync brikon.hi", "close brikon.hi"}},
    {"NewFile",
     "no_file",
     {"open brikon.hi", "fstat brikon.hi", "ftruncate brikon.hi", "open data", "fsync data",
      "close data", "fsync brikon.hi", "write brikon.hi", "fsync brikon.hi", "close brikon.hi"}},
    {"ThroughALink",
     "link",
     {"lstat brikon.hi", "readlink brikon.hi", "lstat best", "open best", "fstat best",
      "ftruncate best", "open kept", "fsync kept", "close kept", "fsync best", "write best",
      "fsync best", "close best"}},
};

INSTANTIATE_TEST_SUITE_P(Save, CrashConsistency, testing::ValuesIn(kVariants),
                         [](const testing::TestParamInfo<Variant>& info) {
                             return std::string(info.param.name);
                         });

// A link in place of the file is followed, as a plain open follows it: the
// file it leads to, outside the game's folder, gets the new best, and the
// link stays.
TEST(CrashConsistency, ALinkAtTheFileIsFollowed) {
    ScriptOptions options;
    options.setup = [] {
        char folder[512];
        emu::sandbox_path("/", folder, sizeof folder);
        std::string victim = std::string(folder) + "victim";
        std::ofstream(victim) << kOldBestText;
        char link[512];
        emu::sandbox_path(kHighScorePath, link, sizeof link);
        unlink(link);
        if (symlink(victim.c_str(), link) != 0)
            std::abort();
    };
    GameResult result = run_game(scripted_game(options));
    ASSERT_EQ(result.status, 0) << result.stderr_text;
    const long long best = pilot_value(result, "best");
    EXPECT_GT(best, kOldBest) << "a new best was to be saved";
    const std::string new_line = std::to_string(best) + "\n";
    struct stat info;
    const std::string file = result.dir + "/sandbox" + kHighScorePath;
    ASSERT_EQ(lstat(file.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(read_file(result.dir + "/sandbox/victim"), new_line);
}

}  // namespace
