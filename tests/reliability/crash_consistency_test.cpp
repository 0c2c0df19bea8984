// The high-score file across kills: the whole program is stopped dead
// before and after every step of the save at game over: the look at the
// file, the temporary's open, write, flush to disk and close, the rename, the
// folder's open, flush and close; the in-place rewrite (open, look, write,
// cut, flush, close) that a folder refusing new files gets instead, and that
// a save whose temporary failed ends with after removing it; and the same
// steps through a link. Every outcome is the old best or the new one, whole.
// A link planted in place of the temporary is removed, never written
// through.
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
#include "shell/high_score.h"
#include "scripted_game.h"

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

// The steps of the save: its calls that were carried out. (A call that the
// setup makes fail, such as the temporary's open refused, is no step.)
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
    // Written in place over "50\n", a longer line is the whole file.
    ASSERT_GT(new_line.size(), std::string(kOldBestText).size());
    std::vector<std::size_t> steps = save_steps(ref);
    std::vector<std::string> named;
    for (std::size_t index : steps)
        named.push_back(ref.calls[index].call + " " + last_name(ref.calls[index].target));
    ASSERT_EQ(named, variant.steps);

    // The new best lands with the rename, or with the write of the file
    // itself; until then the old file is as it was.
    bool landed = false;
    std::vector<std::string> outcomes;
    for (std::size_t index : steps) {
        const CallLine& line = ref.calls[index];
        const bool lands =
            line.call == "rename" || (line.call == "write" && line.target.size() > 4 &&
                                      line.target.compare(line.target.size() - 4, 4, ".tmp") != 0);
        for (bool after : {false, true}) {
            SCOPED_TRACE((after ? "after " : "before ") + line.call + " " + line.target);
            GameResult result = killed_at(ref, index, after, variant.setup);
            ASSERT_FALSE(result.timed_out);
            EXPECT_EQ(result.status, kKilled) << "the kill came";
            const std::string stored = result.sandbox_file(kHighScorePath);
            if (lands && after)
                landed = true;
            EXPECT_EQ(stored, landed ? new_line : kOldBestText);
            outcomes.push_back(stored);
        }
    }
    // Both outcomes occur: the kills span the moment the new best lands.
    EXPECT_NE(std::find(outcomes.begin(), outcomes.end(), kOldBestText), outcomes.end());
    EXPECT_NE(std::find(outcomes.begin(), outcomes.end(), new_line), outcomes.end());
}

const Variant kVariants[] = {
    {"TemporaryAndRename",
     "-",
     {"lstat brikon.hi", "open brikon.hi.tmp", "write brikon.hi.tmp", "fsync brikon.hi.tmp",
      "close brikon.hi.tmp", "rename brikon.hi.tmp", "open data", "fsync data", "close data"}},
    {"InPlaceRewrite",
     "refuse_new_files",
     {"lstat brikon.hi", "open brikon.hi", "fstat brikon.hi", "write brikon.hi",
      "ftruncate brikon.hi", "fsync brikon.hi", "close brikon.hi"}},
    {"FailedFlushThenInPlace",
     "flush_refused",
     {"lstat brikon.hi", "open brikon.hi.tmp", "write brikon.hi.tmp", "close brikon.hi.tmp",
      "unlink brikon.hi.tmp", "open brikon.hi", "fstat brikon.hi", "write brikon.hi",
      "ftruncate brikon.hi", "fsync brikon.hi", "close brikon.hi"}},
    {"LeftoverTemporaryRemovedFirst",
     "stale_temp",
     {"lstat brikon.hi", "unlink brikon.hi.tmp", "open brikon.hi.tmp", "write brikon.hi.tmp",
      "fsync brikon.hi.tmp", "close brikon.hi.tmp", "rename brikon.hi.tmp", "open data",
      "fsync data", "close data"}},
    {"ThroughALink",
     "link",
     {"lstat brikon.hi", "readlink brikon.hi", "lstat best", "open best.tmp", "write best.tmp",
      "fsync best.tmp", "close best.tmp", "rename best.tmp", "open kept", "fsync kept",
      "close kept"}},
};

INSTANTIATE_TEST_SUITE_P(Save, CrashConsistency, testing::ValuesIn(kVariants),
                         [](const testing::TestParamInfo<Variant>& info) {
                             return std::string(info.param.name);
                         });

// A link planted in place of the temporary is removed like any leftover
// temporary: the file it points at, outside the game's folder, is never
// written, and the save goes on. A link in place of the file itself is
// followed, as a plain open follows it: the file it leads to gets the new
// best, and the link stays.
TEST(CrashConsistency, APlantedLinkAtTheTemporaryIsRemovedAndALinkAtTheFileFollowed) {
    for (bool at_file : {false, true}) {
        SCOPED_TRACE(at_file ? "link in place of the file" : "link in place of the temporary");
        ScriptOptions options;
        options.setup = [at_file] {
            char folder[512];
            emu::sandbox_path("/", folder, sizeof folder);
            std::string victim = std::string(folder) + "victim";
            std::ofstream(victim) << (at_file ? kOldBestText : "keep me\n");
            char link[512];
            emu::sandbox_path(at_file ? kHighScorePath : kHighScoreTempPath, link, sizeof link);
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
        EXPECT_EQ(S_ISLNK(info.st_mode), at_file);
        EXPECT_EQ(read_file(result.dir + "/sandbox/victim"), at_file ? new_line : "keep me\n");
        EXPECT_EQ(result.sandbox_file(kHighScorePath), new_line);
        EXPECT_TRUE(leftover_temporaries(result).empty());
    }
}

}  // namespace
