// Whole runs of vmxbrikon-sim, the program as a player or CI starts it:
// headless autoplay, deterministic scripted runs, every way of ending the
// game, the goggles' video modes, sound that never holds the game, replays,
// what a front end does to a session (the keyboard lost, steering, a demo
// taken over), and the window on an X display.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "emulator/emulator.h"
#include "emulator/replay.h"
#include "game/world.h"
#include "platform/stop.h"
#include "png_image.h"
#include "shell/high_score.h"
#include "sim/session.h"
#include "support/pinned_replay.h"
#include "support/run_game.h"

namespace {

struct SimRun {
    std::vector<std::string> args;
    std::vector<std::string> env;  // NAME=value, added to the test's own
    int signal_after_ms = 0;       // sends signal_number this long after the start
    int signal_number = 0;
    int timeout_seconds = 120;
};

struct SimResult {
    int status = -1;  // exit status; -1 when killed
    std::string stderr_text;
};

SimResult run_sim(const SimRun& run) {
    const std::string dir = make_temp_dir();
    const std::string err_path = dir + "/stderr.txt";
    pid_t child = fork();
    if (child == 0) {
        for (const std::string& entry : run.env)
            putenv(const_cast<char*>(entry.c_str()));
        if (!freopen(err_path.c_str(), "w", stderr))
            _exit(127);
        std::vector<const char*> argv = {VMX_SIM_BINARY};
        for (const std::string& arg : run.args)
            argv.push_back(arg.c_str());
        argv.push_back(nullptr);
        execv(argv[0], const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    SimResult result;
    int status = 0;
    bool signalled = false;
    for (int waited_ms = 0;; waited_ms += 5) {
        if (waitpid(child, &status, WNOHANG) == child)
            break;
        if (run.signal_number && !signalled && waited_ms >= run.signal_after_ms) {
            kill(child, run.signal_number);
            signalled = true;
        }
        if (waited_ms > run.timeout_seconds * 1000) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            break;
        }
        usleep(5000);
    }
    if (WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    result.stderr_text = read_file(err_path);
    return result;
}

// A game the automatic player plays for seconds of virtual time, recorded
// to replay (with more of the simulator's options); its exit status.
int record_autoplay(const std::string& replay, int seconds,
                    const std::vector<std::string>& more = {}) {
    SimRun record;
    record.args = {"--headless", "--virtual-time",        "--autoplay",
                   "--seconds",  std::to_string(seconds), "--record",
                   replay};
    record.args.insert(record.args.end(), more.begin(), more.end());
    return run_sim(record).status;
}

// The desktop's own libraries (D-Bus, the GL driver) keep some memory to
// the end of the process, which the leak checker of a sanitizer build would
// count against the simulator.
constexpr const char* kDesktopLibrariesKeepMemory = "ASAN_OPTIONS=detect_leaks=0";

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The run time in the game's exit line, or -1 without one.
long exit_after(const std::string& text) {
    std::size_t at = text.find("vmxbrikon: exit after ");
    return at == std::string::npos ? -1 : std::atol(text.c_str() + at + 22);
}

// The number after "name " in the simulator's closing line, or -1.
long summary_value(const std::string& text, const std::string& name) {
    std::size_t line = text.find("vmxbrikon-sim: ");
    if (line == std::string::npos)
        return -1;
    std::size_t at = text.find(name + " ", line);
    return at == std::string::npos ? -1 : std::atol(text.c_str() + at + name.size() + 1);
}

std::string write_text(const std::string& dir, const char* name, const std::string& text) {
    std::string path = dir + "/" + name;
    std::ofstream(path) << text;
    return path;
}

std::string shot(const std::string& dir, int ms) {
    char name[32];
    std::snprintf(name, sizeof name, "/frame-%06d.png", ms);
    return read_file(dir + name);
}

// The CI run: a few seconds of the autoplay, headless. In virtual time the
// player acts between the game's steps; in real time it runs inside the
// game's own clock calls, and the screenshots are taken from the pans.
TEST(SimRun, AutoplayPlaysHeadless) {
    const struct {
        const char* clock;
        const char* seconds;
        long exit_from_ms, exit_to_ms;  // the run time the game reports
        long least_frames;
    } cases[] = {
        {"--virtual-time", "8", 8000, 8100, 200},
        {"real time", "6", 6000, 8000, 100},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.clock);
        const std::string out = make_temp_dir();
        SimRun run;
        run.args = {"--headless",      "--autoplay",     "--seconds", test.seconds,
                    "--screenshot-at", "1000,3000,5000", "--out",     out};
        if (test.clock[0] == '-')
            run.args.push_back(test.clock);
        SimResult result = run_sim(run);
        ASSERT_EQ(result.status, 0) << result.stderr_text;
        const long exit_ms = exit_after(result.stderr_text);
        EXPECT_GE(exit_ms, test.exit_from_ms) << result.stderr_text;
        EXPECT_LT(exit_ms, test.exit_to_ms) << result.stderr_text;
        std::vector<std::string> pictures;
        for (int ms : {1000, 3000, 5000}) {
            pictures.push_back(shot(out, ms));
            ASSERT_GT(pictures.back().size(), 1000u) << ms;
        }
        for (std::size_t i = 1; i < pictures.size(); ++i) {
            EXPECT_NE(pictures[i], pictures[i - 1]) << "the picture changes between screenshots";
        }
        // A new game starts at 0; the autoplay breaks bricks.
        EXPECT_GT(summary_value(result.stderr_text, "score"), 0) << result.stderr_text;
        EXPECT_GT(summary_value(result.stderr_text, "sim:"), test.least_frames);
    }
}

constexpr const char* kScript =
    "# start, launch, steer and fire\n"
    "1500 MIDDLE 200\n"
    "2500 MIDDLE 200\n"
    "3000 LEFT 400\n"
    "3600 RIGHT 300\n"
    "4200 MIDDLE 900\n";

TEST(SimRun, ScriptedRunsGiveTheSamePicturesEveryTime) {
    const std::string dir = make_temp_dir();
    const std::string script = write_text(dir, "play.txt", kScript);
    const std::vector<int> times = {1000, 2000, 2900, 3500, 4000, 5200};
    std::string list;
    for (int ms : times)
        list += (list.empty() ? "" : ",") + std::to_string(ms);

    std::vector<std::string> first;
    for (int round = 0; round < 2; ++round) {
        const std::string out = dir + "/round" + std::to_string(round);
        SimRun run;
        run.args = {"--headless", "--virtual-time", "--script", script, "--screenshot-at",
                    list,         "--out",          out};
        SimResult result = run_sim(run);
        ASSERT_EQ(result.status, 0) << result.stderr_text;
        // Without --seconds the run ends right after its last screenshot.
        EXPECT_TRUE(has(result.stderr_text, "vmxbrikon: exit after 53")) << result.stderr_text;
        for (std::size_t i = 0; i < times.size(); ++i) {
            std::string picture = shot(out, times[i]);
            ASSERT_FALSE(picture.empty()) << times[i];
            if (round == 0) {
                first.push_back(picture);
                if (i > 0) {
                    EXPECT_NE(picture, first[i - 1]) << times[i];
                }
            } else {
                EXPECT_EQ(picture, first[i]) << "byte for byte at " << times[i] << " ms";
            }
        }
    }
}

TEST(SimRun, EveryWayOfEndingStopsTheGameInOrder) {
    const struct {
        const char* name;
        const char* script;   // nullptr: none
        int signal_after_ms;  // real time: a signal from outside, like Ctrl-C
        int signal_number;
    } cases[] = {
        {"PLAY held 3 s", "500 PLAY 3500\n", 0, 0},
        {"SIGINT from the script", "800 signal INT\n", 0, 0},
        {"SIGTERM from the script", "800 signal TERM\n", 0, 0},
        {"Ctrl-C in the terminal", nullptr, 1500, SIGINT},
        {"SIGTERM from outside", nullptr, 1500, SIGTERM},
    };
    const std::string dir = make_temp_dir();
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        SimRun run;
        run.args = {"--headless", "--seconds", "60"};
        if (test.script) {
            run.args.push_back("--virtual-time");
            run.args.push_back("--script");
            run.args.push_back(write_text(dir, "end.txt", test.script));
        }
        run.signal_after_ms = test.signal_after_ms;
        run.signal_number = test.signal_number;
        SimResult result = run_sim(run);
        EXPECT_EQ(result.status, 0) << result.stderr_text;
        const long exit_ms = exit_after(result.stderr_text);
        EXPECT_GE(exit_ms, 0) << result.stderr_text;
        EXPECT_LT(exit_ms, 10000) << "it did not wait for the time limit";
    }
}

TEST(SimRun, GogglesOutsideTheNormalModeAreRefused) {
    const struct {
        const char* mode;
        int status;
        const char* words;
    } cases[] = {
        {"normal", 0, "fb0: stride=7680"},
        {"hdmi", 2, "ODMOWA: tryb gogli=2, apka wymaga=1"},
        {"av", 2, "ODMOWA: tryb gogli=3, apka wymaga=1"},
        {"none", 2, "ODMOWA: tryb gogli=0, apka wymaga=1"},
    };
    for (const auto& test : cases) {
        SimRun run;
        run.args = {"--headless", "--virtual-time", "--probe", "--goggle-mode", test.mode};
        SimResult result = run_sim(run);
        EXPECT_EQ(result.status, test.status) << test.mode << "\n" << result.stderr_text;
        EXPECT_TRUE(has(result.stderr_text, test.words)) << test.mode << "\n" << result.stderr_text;
    }
}

TEST(SimRun, BadCommandLinesGiveTheUsageAndStatusTwo) {
    const struct {
        std::vector<std::string> args;
        const char* words;
    } cases[] = {
        {{"--bogus"}, "Usage: vmxbrikon-sim"},
        {{"--headless", "--script", "/nonexistent/play.txt"}, "cannot read the script"},
        {{"--headless", "--", "--bogus"}, "Usage: vmxbrikon [--seconds N] [--probe]"},
        {{"--headless", "--speed", "2"}, "--speed, --from and --paused are a replay's"},
        {{"--headless", "--paused"}, "--speed, --from and --paused are a replay's"},
        {{"--replay", "run.vmxr", "--from", "5s"}, "--from wants milliseconds like 5000, not '5s'"},
        {{"--replay", "run.vmxr", "--speed", "9"},
         "--speed wants a number from 0.25 to 8, not '9'"},
        {{"--replay", "run.vmxr", "--speed", "2x"},
         "--speed wants a number from 0.25 to 8, not '2x'"},
    };
    for (const auto& test : cases) {
        SimRun run;
        run.args = test.args;
        SimResult result = run_sim(run);
        EXPECT_EQ(result.status, 2) << result.stderr_text;
        EXPECT_TRUE(has(result.stderr_text, test.words)) << result.stderr_text;
    }
}

// The sound device runs on its own thread and the game only notes the
// buzzer's changes, so a run with sound plays exactly as a muted one.
TEST(SimRun, SoundNeverHoldsTheGame) {
    const std::string dir = make_temp_dir();
    const std::string script = write_text(dir, "play.txt", kScript);
    std::map<std::string, std::string> texts;
    for (const char* sound : {"--mute", "sound"}) {
        const std::string out = dir + "/" + sound;
        SimRun run;
        run.env = {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy", kDesktopLibrariesKeepMemory};
        run.args = {"--virtual-time",  "--seconds",      "6",     "--script", script,
                    "--screenshot-at", "2000,3500,5000", "--out", out};
        if (std::string(sound) == "--mute")
            run.args.push_back(sound);
        SimResult result = run_sim(run);
        ASSERT_EQ(result.status, 0) << sound << "\n" << result.stderr_text;
        EXPECT_FALSE(has(result.stderr_text, "no sound")) << result.stderr_text;
        texts[sound] = result.stderr_text;
        for (int ms : {2000, 3500, 5000})
            texts[sound] += shot(out, ms);
    }
    EXPECT_EQ(texts["--mute"], texts["sound"]);
}

// The line after "name" up to its end, or "" without one.
std::string line_of(const std::string& text, const std::string& name) {
    const std::size_t at = text.find(name);
    return at == std::string::npos ? "" : text.substr(at, text.find('\n', at) - at);
}

long line_count(const std::string& text) {
    return static_cast<long>(std::count(text.begin(), text.end(), '\n'));
}

// A run recorded, then played back headless: the same frames (the frame
// log's fingerprint of each), the same end, the same closing line. Real
// time records what its clock happened to read; the kept best score and the
// chip's answers come from the replay, not from the machine that plays it.
TEST(SimReplay, RecordedRunsPlayBackFrameForFrame) {
    const std::string dir = make_temp_dir();
    const std::string stopped = write_text(dir, "stopped.txt",
                                           "1500 MIDDLE 200\n2500 MIDDLE 200\n3000 LEFT 400\n"
                                           "3600 RIGHT 300\n4200 MIDDLE 900\n5500 signal TERM\n");
    emu::make_dirs((dir + "/data" + kHighScoreDir).c_str());
    std::ofstream(dir + "/data" + kHighScorePath) << "99999\n";
    const struct {
        const char* name;
        std::vector<std::string> args;
        int status;
        long least_frames;
        const char* words;  // in the replay's standard error
    } cases[] = {
        // Real time: at least a second's frames, however busy the machine
        // (a sanitizer build on a loaded one drew 84 in 5.5 s).
        {"real time, autoplay", {"--autoplay", "--seconds", "5"}, 0, 30, "exit after"},
        {"real time, a script stopped by a signal", {"--script", stopped}, 0, 30, "exit after"},
        {"virtual time, autoplay, a kept best score",
         {"--virtual-time", "--autoplay", "--seconds", "12", "--data", dir + "/data"},
         0,
         300,
         "best 99999"},
        {"goggles in HDMI mode",
         {"--goggle-mode", "hdmi", "--seconds", "5"},
         2,
         0,
         "ODMOWA: tryb gogli=2"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        const std::string replay = dir + "/run.vmxr";
        SimRun record;
        record.args = {"--headless", "--record", replay, "--frame-log", dir + "/recorded.txt"};
        record.args.insert(record.args.end(), test.args.begin(), test.args.end());
        const SimResult recorded = run_sim(record);
        ASSERT_EQ(recorded.status, test.status) << recorded.stderr_text;

        SimRun play;
        play.args = {"--headless", "--replay", replay, "--frame-log", dir + "/played.txt"};
        const SimResult played = run_sim(play);
        EXPECT_EQ(played.status, test.status) << played.stderr_text;
        EXPECT_TRUE(has(played.stderr_text, test.words)) << played.stderr_text;
        const std::string frames = read_file(dir + "/recorded.txt");
        EXPECT_GE(line_count(frames), test.least_frames);
        EXPECT_EQ(first_difference(read_file(dir + "/played.txt"), frames), "");
        EXPECT_EQ(line_of(played.stderr_text, "vmxbrikon: exit after"),
                  line_of(recorded.stderr_text, "vmxbrikon: exit after"));
        EXPECT_EQ(line_of(played.stderr_text, "vmxbrikon-sim: "),
                  line_of(recorded.stderr_text, "vmxbrikon-sim: "));
    }
}

// Screenshots of a replay are taken on its own clock, as in virtual time:
// the same pictures as the recorded run's, byte for byte.
TEST(SimReplay, ScreenshotsOfAReplayAreTheRecordedRunsPictures) {
    const std::string dir = make_temp_dir();
    const std::string replay = dir + "/run.vmxr";
    SimRun record;
    record.args = {"--headless",      "--virtual-time", "--autoplay", "--record",  replay,
                   "--screenshot-at", "2500,4000",      "--out",      dir + "/rec"};
    ASSERT_EQ(run_sim(record).status, 0);
    SimRun play;
    play.args = {"--headless", "--replay", replay,       "--screenshot-at",
                 "2500,4000",  "--out",    dir + "/play"};
    const SimResult played = run_sim(play);
    ASSERT_EQ(played.status, 0) << played.stderr_text;
    for (int ms : {2500, 4000}) {
        ASSERT_GT(shot(dir + "/rec", ms).size(), 1000u) << ms;
        EXPECT_EQ(shot(dir + "/play", ms), shot(dir + "/rec", ms)) << ms;
    }
}

// A replay at a speed shows the same frames as one run through as fast as
// it goes, and takes at least its game's time over the speed.
TEST(SimReplay, AReplayAtASpeedShowsTheSameFrames) {
    const std::string dir = make_temp_dir();
    const std::string replay = dir + "/run.vmxr";
    ASSERT_EQ(record_autoplay(replay, 6), 0);
    SimRun fast;
    fast.args = {"--headless", "--replay", replay, "--frame-log", dir + "/fast.txt"};
    ASSERT_EQ(run_sim(fast).status, 0);
    SimRun paced;
    paced.args = {"--headless",  "--replay",        replay, "--speed", "8",
                  "--frame-log", dir + "/paced.txt"};
    const auto start = std::chrono::steady_clock::now();
    const SimResult played = run_sim(paced);
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(played.status, 0) << played.stderr_text;
    EXPECT_EQ(first_difference(read_file(dir + "/paced.txt"), read_file(dir + "/fast.txt")), "");
    EXPECT_GE(took, std::chrono::milliseconds(6000 / 8 - 50));
}

// A replay that is not whole, not this build's or not a replay at all is
// refused in one line, before the game starts.
TEST(SimReplay, ReplaysThatDoNotFitAreRefusedInOneLine) {
    const std::string dir = make_temp_dir();
    const std::string good = dir + "/good.vmxr";
    ASSERT_EQ(record_autoplay(good, 2), 0);
    const std::string bytes = read_file(good);
    ASSERT_GT(bytes.size(), 40u);

    const std::string version = emu::replay::game_version();
    std::string other_version = bytes;
    const std::size_t version_at = other_version.find(version);
    ASSERT_NE(version_at, std::string::npos);
    other_version[version_at] = version[0] == '9' ? '8' : '9';
    std::string other_format = bytes;
    other_format[4] = 2;
    std::string corrupted = bytes;
    corrupted[bytes.size() / 2] ^= 0x20;
    std::string too_large = bytes;
    too_large.resize(emu::replay::kMaxBytes + 1);

    const struct {
        const char* name;
        std::string bytes;
        const char* reason;
    } cases[] = {
        {"another game version", other_version, "recorded by vmxbrikon 9"},
        {"another format", other_format, "a replay of format 2; this build plays format 1"},
        {"cut short", bytes.substr(0, bytes.size() / 2), "cut short ("},
        {"corrupted", corrupted, "corrupted (its checksum does not match)"},
        {"too large", too_large, "too large ("},
        {"not a replay", "1500 MIDDLE 200\n", "not a replay of vmxbrikon"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        const std::string path = write_text(dir, "unfit.vmxr", test.bytes);
        SimRun play;
        play.args = {"--headless", "--replay", path};
        const SimResult played = run_sim(play);
        EXPECT_EQ(played.status, 2);
        EXPECT_EQ(played.stderr_text.rfind(
                      "vmxbrikon-sim: cannot replay " + path + ": " + test.reason, 0),
                  0u)
            << played.stderr_text;
        EXPECT_EQ(line_count(played.stderr_text), 1) << played.stderr_text;
    }
}

// The replay a front end offers once a game ends holds the run up to that
// end: it plays back those frames, and the game stops where it stops.
TEST(SimReplay, TheLastGamesReplayEndsWhereTheGameEnded) {
    const std::string dir = make_temp_dir();
    // Launches and runs away from the ball until the lives are gone.
    std::string steps = "1500 MIDDLE 150\n";
    for (int ms = 2000; ms < 40000; ms += 2000) {
        steps += std::to_string(ms) + " MIDDLE 150\n" + std::to_string(ms + 300) + " LEFT 700\n" +
                 std::to_string(ms + 1100) + " RIGHT 700\n";
    }
    sim::SimOptions options;
    const std::vector<std::string> words = {"sim",
                                            "--headless",
                                            "--virtual-time",
                                            "--seconds",
                                            "41",
                                            "--script",
                                            write_text(dir, "lose.txt", steps),
                                            "--record",
                                            dir + "/all.vmxr",
                                            "--frame-log",
                                            dir + "/all.txt"};
    std::vector<const char*> argv;
    for (const std::string& word : words)
        argv.push_back(word.c_str());
    ASSERT_EQ(sim::parse_sim_options(static_cast<int>(argv.size()), argv.data(), &options), "");
    std::vector<std::uint8_t> game;
    {
        sim::Session session;
        ASSERT_EQ(session.prepare(options, false), "");
        ASSERT_TRUE(session.start());
        EXPECT_EQ(session.finish(), 0);
        EXPECT_GE(session.games_kept(), 1);
        game = session.last_game_replay();
    }
    ASSERT_FALSE(game.empty());
    const std::string path = write_text(dir, "game.vmxr", std::string(game.begin(), game.end()));
    SimRun play;
    play.args = {"--headless", "--replay", path, "--frame-log", dir + "/game.txt"};
    const SimResult played = run_sim(play);
    EXPECT_EQ(played.status, 0) << played.stderr_text;
    EXPECT_TRUE(has(played.stderr_text, "the replay ended before the game")) << played.stderr_text;
    const std::string all = read_file(dir + "/all.txt");
    const std::string until_game_over = read_file(dir + "/game.txt");
    EXPECT_GT(line_count(until_game_over), 300);
    EXPECT_LT(until_game_over.size(), all.size());
    EXPECT_EQ(all.compare(0, until_game_over.size(), until_game_over), 0)
        << "the replay's frames are the run's first frames";
}

// What a front end does in a session run, one step after the other: the
// step waits after_ms of the game's clock from the step before (or the
// start), then until when(glance) holds, and acts; what act answers is
// noted.
struct FrontEndStep {
    std::int64_t after_ms;
    std::function<bool(const sim::Session::Glance&)> when;
    std::function<std::string(sim::Session&)> act;
};

struct FrontEnd {
    sim::Session* session = nullptr;
    const std::vector<FrontEndStep>* steps = nullptr;
    std::size_t next = 0;
    std::int64_t due_ms = 0;
    std::string notes;
};

// Looks every 10 ms of the game's clock, between the game's steps; the last
// step done, the game is stopped as a desktop would.
void look_and_act(void* context) {
    auto* front = static_cast<FrontEnd*>(context);
    const std::int64_t now = emu::clock_ms();
    const FrontEndStep& step = (*front->steps)[front->next];
    if (now >= front->due_ms && step.when(front->session->glance())) {
        front->notes += step.act(*front->session);
        if (++front->next == front->steps->size()) {
            raise(SIGTERM);
            return;
        }
        front->due_ms = now + (*front->steps)[front->next].after_ms;
    }
    emu::at_time(now + 10, look_and_act, context);
}

// Runs a session in virtual time with these options and a front end taking
// these steps, in a child process (the game's stop request is the
// process's); answers the notes, or why the run failed.
std::string run_session(const std::vector<std::string>& args,
                        const std::vector<FrontEndStep>& steps) {
    const std::string notes_path = make_temp_dir() + "/notes.txt";
    const int status = run_in_child([&] {
        stop_flag.store(0);
        std::vector<const char*> argv = {"sim", "--headless", "--virtual-time"};
        for (const std::string& arg : args)
            argv.push_back(arg.c_str());
        sim::SimOptions options;
        if (!sim::parse_sim_options(static_cast<int>(argv.size()), argv.data(), &options).empty())
            return 2;
        sim::Session session;
        if (!session.prepare(options, false).empty())
            return 3;
        FrontEnd front;
        front.session = &session;
        front.steps = &steps;
        front.due_ms = emu::clock_ms() + steps[0].after_ms;
        emu::at_time(front.due_ms, look_and_act, &front);
        if (!session.start())
            return 4;
        const int game_status = session.finish();
        std::ofstream(notes_path) << front.notes;
        return game_status;
    });
    const std::string notes = read_file(notes_path);
    return status == 0 ? notes : "status " + std::to_string(status) + " after '" + notes + "'";
}

// How far from the pointer a steered paddle may come to rest: steering
// lets go 16 px before the mark, and the paddle coasts on towards it.
constexpr int kSteeringRestPx = 12;

bool any_glance(const sim::Session::Glance&) {
    return true;
}

// A step that only waits.
std::string nothing(sim::Session&) {
    return "";
}

std::function<bool(const sim::Session::Glance&)> in_phase(Phase phase, bool paused = false) {
    return [phase, paused](const sim::Session::Glance& glance) {
        return glance.phase == static_cast<int>(phase) && glance.paused == paused;
    };
}

// A key tapped: down and straight up again (the arbiter shows it anyway).
std::function<std::string(sim::Session&)> tap(ButtonCode button) {
    return [button](sim::Session& session) {
        session.press(sim::InputSource::Keys, 100 + button, button);
        session.release(sim::InputSource::Keys, 100 + button);
        return std::string();
    };
}

std::string note_paused(sim::Session& session) {
    return session.glance().paused ? "paused;" : "running;";
}

// A window that loses the keyboard pauses a ball in play, and only that:
// a game already paused stays paused, and a serve is left alone.
TEST(SimSession, LosingTheKeyboardPausesABallInPlayAndNothingElse) {
    const auto lose_focus = [](sim::Session& session) {
        session.pause_if_playing();
        return std::string();
    };
    const FrontEndStep start_game = {0, in_phase(Phase::Title), tap(kButtonMiddle)};
    const FrontEndStep launch = {0, in_phase(Phase::Serve), tap(kButtonMiddle)};
    const struct {
        const char* name;
        std::vector<FrontEndStep> steps;
        const char* notes;
    } cases[] = {
        {"in play", {start_game, launch, {0, in_phase(Phase::Play), lose_focus}}, "paused;"},
        {"paused already",
         {start_game,
          launch,
          {0, in_phase(Phase::Play), tap(kButtonBack)},
          {0, in_phase(Phase::Play, true), lose_focus}},
         "paused;"},
        {"serving", {start_game, {0, in_phase(Phase::Serve), lose_focus}}, "running;"},
    };
    for (const auto& c : cases) {
        std::vector<FrontEndStep> steps = c.steps;
        // The game takes a press within a few polls; a second is plenty.
        steps.push_back({1000, any_glance, note_paused});
        EXPECT_EQ(run_session({"--seconds", "60"}, steps), c.notes) << c.name;
    }
}

// A drag steers the paddle to the pointer and leaves it there: it stops
// near the mark, without hunting around it or drifting on, either way.
TEST(SimSession, SteeringBringsThePaddleToRestAtThePointer) {
    // Where the paddle came to rest, by the step before.
    auto rest_x = std::make_shared<int>(-1);
    const auto steer_to = [](int x) {
        return [x](sim::Session& session) {
            session.steer_to(x);
            return std::string();
        };
    };
    const auto arrived_at = [rest_x](int x) {
        return [rest_x, x](sim::Session& session) {
            *rest_x = session.glance().paddle_x;
            const int off = *rest_x - x;
            return off >= -kSteeringRestPx && off <= kSteeringRestPx
                       ? "near " + std::to_string(x) + ";"
                       : "at " + std::to_string(*rest_x) + ";";
        };
    };
    const auto stays = [rest_x](sim::Session& session) {
        const int x = session.glance().paddle_x;
        return x == *rest_x ? std::string("still;") : "moved to " + std::to_string(x) + ";";
    };
    const auto near = [](int x) {
        return [x](const sim::Session::Glance& glance) {
            return glance.paddle_x > x - 40 && glance.paddle_x < x + 40;
        };
    };
    const std::vector<FrontEndStep> steps = {
        {0, in_phase(Phase::Title), tap(kButtonMiddle)},
        {0, in_phase(Phase::Serve), steer_to(300)},
        // Once there, the paddle has a second to settle, and then another
        // to show that it stays.
        {0, near(300), nothing},
        {1000, any_glance, arrived_at(300)},
        {1000, any_glance, stays},
        {0, any_glance, steer_to(900)},
        {0, near(900), nothing},
        {1000, any_glance, arrived_at(900)},
        {1000, any_glance, stays},
    };
    EXPECT_EQ(run_session({"--seconds", "60"}, steps), "near 300;still;near 900;still;");
}

// The built-in player's demo ends when the player presses a key or drags;
// the game it played in stays a demo's game to its end, so that its score
// is never kept as the player's best. The player's own game is theirs.
TEST(SimSession, ADemoTakenOverStaysADemoToTheEnd) {
    const std::string dir = make_temp_dir();
    // Hands that lose the game once the player has taken over: a launch,
    // then away from the ball and back, every two seconds.
    std::string steps_text;
    for (int ms = 8000; ms < 110000; ms += 2000) {
        steps_text += std::to_string(ms) + " MIDDLE 150\n" + std::to_string(ms + 300) +
                      " LEFT 700\n" + std::to_string(ms + 1100) + " RIGHT 700\n";
    }
    const std::string script = write_text(dir, "lose.txt", steps_text);
    const auto demo = [](sim::Session& session) {
        session.set_demo(true);
        return std::string();
    };
    const auto drag = [](sim::Session& session) {
        session.steer_to(200);
        return std::string();
    };
    const auto whose = [](sim::Session& session) {
        session.steer_to(sim::Session::kNoSteering);
        return std::string(session.glance().demo ? "demo;" : "player;");
    };
    const auto whose_game = [](sim::Session& session) {
        return std::string(session.glance().demo_played ? "demo played;" : "own game;");
    };
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::function<std::string(sim::Session&)> before, take_over;
        const char* notes;
    } cases[] = {
        {"a key takes over", {"--autoplay"}, demo, tap(kButtonLeft), "player;demo played;"},
        {"a drag takes over", {"--autoplay"}, demo, drag, "player;demo played;"},
        {"the player's own game", {}, nothing, tap(kButtonLeft), "player;own game;"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--script", script, "--seconds", "120"});
        const std::vector<FrontEndStep> steps = {
            {0, any_glance, c.before},
            {0, in_phase(Phase::Play), c.take_over},
            {500, any_glance, whose},
            {0, in_phase(Phase::GameOver), whose_game},
        };
        EXPECT_EQ(run_session(args, steps), c.notes) << c.name;
    }
}

// Among the pixels where the reference shows something (not its commonest
// colour), the share that the other picture shows alike.
double content_match(const png::Image& reference, const png::Image& other) {
    std::map<std::uint32_t, int> counts;
    auto pixel = [](const png::Image& image, std::size_t i) {
        const std::uint8_t* p = &image.pixels[i * 3];
        return (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
    };
    const std::size_t size = static_cast<std::size_t>(reference.width) * reference.height;
    for (std::size_t i = 0; i < size; ++i)
        counts[pixel(reference, i)] += 1;
    std::uint32_t background = 0;
    for (const auto& [colour, count] : counts) {
        if (count > counts[background])
            background = colour;
    }
    long content = 0, alike = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (pixel(reference, i) == background)
            continue;
        content += 1;
        alike += pixel(other, i) == pixel(reference, i) ? 1 : 0;
    }
    return content ? static_cast<double>(alike) / static_cast<double>(content) : 0;
}

// Runs the simulator in a window on a fresh X display, shows it for 1.5 s,
// saves what the screen shows of the window as title.png, then acts as
// `ending` says; the simulator's standard error and exit status land in dir.
void run_on_x_display(const std::string& dir, const char* ending) {
    const std::string script = write_text(
        dir, "window.sh",
        "\"$1\" --seconds 60 --data \"$3/data\" 2>\"$3/stderr.txt\" & sim=$!\n"
        "\"$2\" wait vmxbrikon 30 || exit 3\n"
        "sleep 1.5\n"
        "\"$2\" grab \"$3/title.png\" vmxbrikon || exit 4\n"
        "case \"$4\" in\n"
        "  close) \"$2\" close vmxbrikon || exit 5 ;;\n"
        "  interrupt) kill -INT $sim ;;\n"
        "  keys) \"$2\" key vmxbrikon space 0.2 && sleep 0.6 &&\n"
        "        \"$2\" grab \"$3/play.png\" vmxbrikon && \"$2\" key vmxbrikon q 3.5 || exit 6 ;;\n"
        "esac\n"
        "wait $sim; echo $? >\"$3/status.txt\"\n");
    // SDL's own software renderer, straight into the X window: Xvfb's GL
    // driver runs threads of its own, which a ThreadSanitizer build cannot
    // see into.
    const std::string command =
        std::string(
            "SDL_AUDIODRIVER=dummy SDL_RENDER_DRIVER=software "
            "SDL_FRAMEBUFFER_ACCELERATION=0 ") +
        kDesktopLibrariesKeepMemory + " xvfb-run -a -s '-screen 0 1600x900x24' sh '" + script +
        "' '" + VMX_SIM_BINARY "' '" VMX_X_DISPLAY_BINARY "' '" + dir + "' " + ending;
    ASSERT_EQ(system(command.c_str()), 0) << read_file(dir + "/stderr.txt");
}

TEST(SimWindow, ShowsTheGameOnAnXDisplayAndEveryEndingStopsItInOrder) {
    if (std::string(VMX_X_DISPLAY_BINARY).empty() ||
        system("{ command -v xvfb-run && command -v xauth; } >/dev/null") != 0) {
        GTEST_SKIP() << "needs Xvfb, xauth and the X helper";
    }
    // The reference: the title as a headless run shows it.
    const std::string reference_dir = make_temp_dir();
    SimRun headless;
    headless.args = {"--headless", "--virtual-time", "--screenshot-at",
                     "1500",       "--out",          reference_dir};
    ASSERT_EQ(run_sim(headless).status, 0);
    png::Image reference;
    ASSERT_TRUE(png::read((reference_dir + "/frame-001500.png").c_str(), 3, reference));

    for (const char* ending : {"close", "interrupt", "keys"}) {
        SCOPED_TRACE(ending);
        const std::string dir = make_temp_dir();
        run_on_x_display(dir, ending);
        const std::string err = read_file(dir + "/stderr.txt");
        EXPECT_EQ(read_file(dir + "/status.txt"), "0\n") << err;
        EXPECT_TRUE(has(err, "vmxbrikon: exit after ")) << err;

        png::Image window;
        ASSERT_TRUE(png::read((dir + "/title.png").c_str(), 3, window));
        ASSERT_EQ(window.width, 1280);
        ASSERT_EQ(window.height, 720);
        // Stars drift and the prompt blinks; the logo, the name and the
        // help lines stay where they are.
        EXPECT_GT(content_match(reference, window), 0.8);

        if (std::string(ending) == "keys") {
            // Space started a game: the play screen is up, not the title.
            png::Image play;
            ASSERT_TRUE(png::read((dir + "/play.png").c_str(), 3, play));
            EXPECT_LT(content_match(reference, play), 0.5);
            EXPECT_TRUE(has(err, "score 0, best 0, level 1")) << "Q held 3 s ended the game";
        }
    }
}

// A replay in the window: Space pauses and the picture holds; Right while
// paused takes the game 5 s on and holds there, Left 5 s back (the replay
// again from its start); Space plays on, + makes it faster, and however it
// was paced, the replay shows the recorded frames.
TEST(SimWindow, AReplaysKeysPauseSkipAndSpeedItUp) {
    if (std::string(VMX_X_DISPLAY_BINARY).empty() ||
        system("{ command -v xvfb-run && command -v xauth; } >/dev/null") != 0) {
        GTEST_SKIP() << "needs Xvfb, xauth and the X helper";
    }
    const std::string dir = make_temp_dir();
    ASSERT_EQ(record_autoplay(dir + "/run.vmxr", 20, {"--frame-log", dir + "/recorded.txt"}), 0);
    const std::string script =
        write_text(dir, "window.sh",
                   "\"$1\" --replay \"$3/run.vmxr\" --mute --frame-log \"$3/played.txt\" "
                   "2>\"$3/stderr.txt\" & sim=$!\n"
                   "\"$2\" wait vmxbrikon 30 || exit 3\n"
                   "sleep 1\n"
                   "\"$2\" key vmxbrikon space 0.2 || exit 4\n"
                   "\"$2\" grab \"$3/paused.png\" vmxbrikon || exit 5\n"
                   "sleep 0.5\n"
                   "\"$2\" grab \"$3/held.png\" vmxbrikon || exit 5\n"
                   "\"$2\" key vmxbrikon Right 0.5 || exit 4\n"
                   "\"$2\" grab \"$3/ahead.png\" vmxbrikon || exit 5\n"
                   // Left plays the replay again from its start, in a new window: the
                   // old one may be gone before the key is let go.
                   "\"$2\" key vmxbrikon Left 0.1\n"
                   "sleep 1\n"
                   "\"$2\" wait vmxbrikon 30 || exit 3\n"
                   "\"$2\" grab \"$3/back.png\" vmxbrikon || exit 5\n"
                   "\"$2\" key vmxbrikon space 0.1 && \"$2\" key vmxbrikon equal 0.1 &&\n"
                   "  \"$2\" key vmxbrikon equal 0.1 && \"$2\" key vmxbrikon equal 0.1 || exit 4\n"
                   "wait $sim; echo $? >\"$3/status.txt\"\n");
    const std::string command = std::string(
                                    "SDL_AUDIODRIVER=dummy SDL_RENDER_DRIVER=software "
                                    "SDL_FRAMEBUFFER_ACCELERATION=0 ") +
                                kDesktopLibrariesKeepMemory +
                                " xvfb-run -a -s '-screen 0 1600x900x24' sh '" + script + "' '" +
                                VMX_SIM_BINARY "' '" VMX_X_DISPLAY_BINARY "' '" + dir + "'";
    ASSERT_EQ(system(command.c_str()), 0) << read_file(dir + "/stderr.txt");
    EXPECT_EQ(read_file(dir + "/status.txt"), "0\n") << read_file(dir + "/stderr.txt");
    const std::string paused = read_file(dir + "/paused.png");
    EXPECT_TRUE(read_file(dir + "/held.png") == paused) << "the picture moved while paused";
    EXPECT_FALSE(read_file(dir + "/ahead.png") == paused) << "Right did not take the game on";
    EXPECT_FALSE(read_file(dir + "/back.png") == read_file(dir + "/ahead.png"))
        << "Left did not take the game back";
    EXPECT_EQ(first_difference(read_file(dir + "/played.txt"), read_file(dir + "/recorded.txt")),
              "");
}

}  // namespace
