// The pinned replays (tests/replays/) through vmxbrikon-sim itself, as a
// player or a bug report plays them: its frame log holds every frame the
// expectations list, its screenshots are the moments they list, and its
// game lines and closing line are theirs. A replay recorded in virtual time
// is recorded again from the options it was recorded with, to the same
// bytes: what the recorder writes is pinned too.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "emulator/emulator.h"
#include "emulator/replay.h"
#include "png_image.h"
#include "shell/high_score.h"
#include "support/pinned_replay.h"
#include "support/run_game.h"

namespace {

struct Sim {
    int status = -1;
    std::string stderr_text;
};

// Runs the simulator in folder (where the options' paths are found).
Sim run_sim(const std::vector<std::string>& args, const std::string& folder) {
    const std::string err_path = make_temp_dir() + "/stderr.txt";
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(folder.c_str()) != 0 || !std::freopen(err_path.c_str(), "w", stderr))
            _exit(127);
        std::vector<const char*> argv = {VMX_SIM_BINARY};
        for (const std::string& arg : args)
            argv.push_back(arg.c_str());
        argv.push_back(nullptr);
        execv(argv[0], const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return Sim{WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(err_path)};
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> words_of(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

// A screenshot's fingerprint (picture_print of the pixels it shows).
std::string shot_print(const std::string& path) {
    png::Image image;
    if (!png::read(path.c_str(), 3, image))
        return "(no screenshot)";
    std::vector<std::uint32_t> area(image.pixels.size() / 3);
    for (std::size_t i = 0; i < area.size(); ++i) {
        const std::uint8_t* rgb = &image.pixels[i * 3];
        area[i] = std::uint32_t{rgb[0]} << 16 | std::uint32_t{rgb[1]} << 8 | rgb[2];
    }
    char text[20];
    std::snprintf(text, sizeof text, "%016llx",
                  static_cast<unsigned long long>(
                      picture_print(area.data(), static_cast<std::size_t>(image.width))));
    return text;
}

// The simulator's closing line for an expectation's "end" line.
std::string closing_line(const std::string& end) {
    const std::vector<std::string> words = words_of(end);  // frames N score S best B level L
    if (words.size() != 8 || words[1] == "0")
        return "";
    return "vmxbrikon-sim: " + words[1] + " frames, score " + words[3] + ", best " + words[5] +
           ", level " + words[7];
}

class SimPinnedReplay : public testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        path_ = pinned_replay_dir() + "/" + GetParam();
        bytes_ = read_file(path_ + ".vmxr");
        expected_ = read_file(path_ + ".expect");
        ASSERT_FALSE(expected_.empty()) << "scripts/pin-replay " << path_ << ".vmxr";
        header_ = replay_header(bytes_);
    }
    std::vector<std::string> expected(const char* key) const {
        return expectation_values(expected_, key);
    }

    std::string path_;
    std::string bytes_;
    std::string expected_;
    ReplayHeader header_;
};

TEST_P(SimPinnedReplay, PlaysInTheSimulatorAsPinned) {
    const std::string dir = make_temp_dir();
    std::vector<std::string> args = {"--headless", "--replay", path_ + ".vmxr", "--frame-log",
                                     dir + "/frames.txt"};
    if (!of_this_build(header_)) {
        const Sim refused = run_sim(args, dir);
        EXPECT_EQ(refused.status, 2);
        EXPECT_EQ(refused.stderr_text, "vmxbrikon-sim: cannot replay " + path_ +
                                           ".vmxr: " + refusal_by_name(header_) + "\n");
        return;
    }
    std::string moments;
    for (const std::string& moment : expected("at"))
        moments += (moments.empty() ? "" : ",") + words_of(moment)[0];
    // A headless run with screenshots ends 100 ms after the last one, even
    // a replay's (sim/README.md): one a day in keeps the replay's own end.
    if (!moments.empty()) {
        args.insert(args.end(),
                    {"--screenshot-at", moments + ",86400000", "--out", dir + "/shots"});
    }
    const Sim sim = run_sim(args, dir);

    EXPECT_EQ(std::to_string(sim.status), expected("status").at(0)) << sim.stderr_text;
    std::vector<std::string> game_lines;
    std::string closing;
    for (const std::string& line : lines_of(sim.stderr_text)) {
        if (line.rfind("vmxbrikon-sim: ", 0) != 0)
            game_lines.push_back(line);
        else if (line.find(" frames, score ") != std::string::npos)
            closing = line;
    }
    EXPECT_EQ(game_lines, expected("stderr"));
    EXPECT_EQ(closing, closing_line(expected("end").at(0)));
    EXPECT_EQ(sim.stderr_text.find("the replay ended before the game") != std::string::npos,
              expected("replay-ended").at(0) == "yes");
    const std::vector<std::string> log = lines_of(read_file(dir + "/frames.txt"));
    for (const std::string& frame : expected("frame")) {
        const std::size_t number = std::strtoul(frame.c_str(), nullptr, 10);
        EXPECT_EQ(number <= log.size() ? log[number - 1] : "(no such frame)", frame);
    }
    for (const std::string& moment : expected("at")) {
        const std::vector<std::string> words = words_of(moment);
        char name[32];
        std::snprintf(name, sizeof name, "/frame-%06lld.png", std::atoll(words[0].c_str()));
        EXPECT_EQ(shot_print(dir + "/shots" + name), words[1]) << "at " << words[0] << " ms";
    }
}

// The pinned replays of this build recorded in virtual time, with the
// options they were recorded with.
std::vector<std::string> recorded_again_names() {
    std::vector<std::string> names;
    for (const std::string& name : pinned_replay_names()) {
        const std::string path = pinned_replay_dir() + "/" + name;
        const ReplayHeader header = replay_header(read_file(path + ".vmxr"));
        if (of_this_build(header) && header.clock == "virtual" &&
            !expectation_values(read_file(path + ".expect"), "recorded-with").empty())
            names.push_back(name);
    }
    return names;
}

class SimRecordedAgain : public SimPinnedReplay {};

TEST_P(SimRecordedAgain, GivesTheSameBytes) {
    emu::replay::Start start;
    ASSERT_EQ(emu::replay::read(reinterpret_cast<const std::uint8_t*>(bytes_.data()), bytes_.size(),
                                &start),
              "");
    const std::string dir = make_temp_dir();
    emu::make_dirs((dir + "/data" + kHighScoreDir).c_str());
    if (start.has_best)
        std::ofstream(dir + "/data" + kHighScorePath, std::ios::binary) << start.best;
    std::vector<std::string> args = {"--headless", "--record", dir + "/again.vmxr", "--data",
                                     dir + "/data"};
    for (const std::string& word : words_of(expected("recorded-with").at(0)))
        args.push_back(word);
    const Sim sim = run_sim(args, pinned_replay_dir());
    EXPECT_EQ(std::to_string(sim.status), expected("status").at(0)) << sim.stderr_text;
    EXPECT_TRUE(read_file(dir + "/again.vmxr") == bytes_)
        << "the recorder writes other bytes for the same run: raise kFormatVersion";
}

INSTANTIATE_TEST_SUITE_P(Replays, SimPinnedReplay, testing::ValuesIn(pinned_replay_names()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             return pinned_test_name(info.param);
                         });
INSTANTIATE_TEST_SUITE_P(Replays, SimRecordedAgain, testing::ValuesIn(recorded_again_names()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             return pinned_test_name(info.param);
                         });

}  // namespace
