// The fuzzers' committed seeds and the inputs of every fault they found,
// replayed through the same checks in every build of the test suite (each
// fuzzer in its own child process, since each sets up the emulated goggles
// its own way), with the slow checks on for every input.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "support/run_game.h"

namespace {

struct Target {
    const char* name;
    int (*run)(const std::uint8_t*, std::size_t);
};

const Target kTargets[] = {
    {"cli_fuzz", fuzz_cli},
    {"high_score_fuzz", fuzz_high_score},
    {"mode_gate_fuzz", fuzz_mode_gate},
    {"keys_fuzz", fuzz_keys},
    {"draw_block_fuzz", fuzz_draw_block},
    {"draw_text_fuzz", fuzz_draw_text},
    {"replay_fuzz", fuzz_replay},
};

std::vector<std::string> files_in(const std::string& folder) {
    std::vector<std::string> files;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.')
                files.push_back(folder + "/" + entry->d_name);
        }
        closedir(dir);
    }
    std::sort(files.begin(), files.end());
    return files;
}

class FuzzReplay : public testing::TestWithParam<Target> {};

TEST_P(FuzzReplay, SeedsAndFoundInputsPassEveryCheck) {
    const Target target = GetParam();
    const std::string root = VMX_SOURCE_DIR "/fuzz/";
    std::vector<std::string> seeds = files_in(root + "corpus/" + target.name);
    std::vector<std::string> found = files_in(root + "regressions/" + target.name);
    ASSERT_GE(seeds.size(), 3u) << "a seed corpus is committed";
    std::vector<std::string> inputs = seeds;
    inputs.insert(inputs.end(), found.begin(), found.end());
    for (const std::string& input : inputs) {
        SCOPED_TRACE(input);
        std::string bytes = read_file(input);
        // A broken check aborts the child.
        int status = run_in_child([&] {
            fuzz_thorough = true;
            target.run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
            return 0;
        });
        EXPECT_EQ(status, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Fuzzers, FuzzReplay, testing::ValuesIn(kTargets),
                         [](const testing::TestParamInfo<Target>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
