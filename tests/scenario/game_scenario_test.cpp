// Whole games on the emulated goggles, played through the buttons by an
// automatic pilot that watches the game's World between frames: the title,
// a new game, serves, a cleared level and the pause before the next one,
// lost lives, game over, the stored best and the way back to the title.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "emulator/adc_device.h"
#include "emulator/emulator.h"
#include "shell/high_score.h"
#include "shell/main_loop.h"
#include "support/game_world.h"
#include "support/pilot.h"
#include "support/run_game.h"

namespace {

constexpr std::int64_t kTickMs = 10;

// What the pilot saw, written to the trace folder when it is done.
struct Notes {
    std::map<std::string, long long> values;
    char kinds[kGridRows][kGridColumns] = {};  // the grid at the last look
    std::int64_t last_volley_ms = 0;
    int last_lives = 0;
};
Notes notes;
std::unique_ptr<GamePilot> pilot;

void note(const char* key, long long value) {
    notes.values[key] = value;
}
void count(const char* key) {
    notes.values[key] += 1;
}

void finish(std::int64_t now) {
    std::string text;
    for (const auto& [key, value] : notes.values)
        text += key + " " + std::to_string(value) + "\n";
    int fd = emu::trace_file("pilot.txt");
    if (fd >= 0) {
        ssize_t written = write(fd, text.data(), text.size());
        (void)written;
        close(fd);
    }
    // Time for the buzzer to play what is queued.
    emu::raise_signal_at(now + 3000, SIGTERM);
}

// A brick that vanished since the last look with a ball right beside its
// cell was broken by that ball (a frame moves a ball at most about 21 px).
bool ball_beside(const World& world, int column, int row) {
    constexpr float kNear = 30.0f;
    float left = static_cast<float>(140 + 100 * column) - kNear;
    float top = static_cast<float>(110 + 36 * row) - kNear;
    for (int i = 0; i < world.ball_count; ++i) {
        const Ball& ball = world.balls[i];
        if (ball.x >= left && ball.x <= left + 100 + 2 * kNear && ball.y >= top &&
            ball.y <= top + 36 + 2 * kNear) {
            return true;
        }
    }
    return false;
}

void watch_level1(const World& world) {
    for (int row = 0; row < kGridRows; ++row) {
        for (int column = 0; column < kGridColumns; ++column) {
            char& before = notes.kinds[row][column];
            char now = letter_of(world.bricks[row][column].kind);
            if (before != 0 && now == 0)
                count(ball_beside(world, column, row) ? "ball_breaks" : "other_breaks");
            before = now;
        }
    }
    if (world.last_shot_ms != notes.last_volley_ms)
        count("volleys");
    notes.last_volley_ms = world.last_shot_ms;
}

// What the pilot notes of the game, at every step and as each stage begins.
void before_step(PilotStage stage, std::int64_t now) {
    const World& world = pilot->game().world;
    if (stage == PilotStage::ClearLevel && world.phase == Phase::Play)
        watch_level1(world);
    if (stage == PilotStage::WaitNextLevel && world.phase == Phase::LevelClear)
        note("clear_last_seen_ms", now);
    if (stage == PilotStage::LoseAll) {
        if (world.lives < notes.last_lives)
            count("lives_lost");
        notes.last_lives = world.lives;
    }
}

void entered(PilotStage from, PilotStage to, std::int64_t now) {
    const World& world = pilot->game().world;
    switch (to) {
        case PilotStage::ClearLevel:
            note("new_game_lives", world.lives);
            note("new_game_level", world.level);
            break;
        case PilotStage::WaitNextLevel:
            note("clear_level", world.level);
            note("clear_levels_cleared", world.levels_cleared);
            note("clear_start_ms", world.phase_start_ms);
            note("clear_seen_ms", now);
            note("clear_bricks_left", world.bricks_left);
            break;
        case PilotStage::LoseAll:
            note("next_level", world.level);
            note("next_start_ms", world.phase_start_ms);
            note("next_bricks_left", world.bricks_left);
            note("next_corner_kind", letter_of(world.bricks[0][0].kind));
            note("next_silver", world.bricks[0][0].hits);
            notes.last_lives = world.lives;
            break;
        case PilotStage::BackToTitle:
            if (from == PilotStage::ClearLevel) {
                note("lost_before_clearing", 1);
                break;
            }
            note("over_start_ms", world.phase_start_ms);
            note("over_best", world.best);
            note("over_score", world.score);
            note("over_lives", world.lives);
            break;
        case PilotStage::Finished:
            note("title_again_ms", now);
            note("title_best", world.best);
            finish(now);
            break;
        case PilotStage::StartGame:
            break;
    }
}

void tick(void*) {
    if (pilot->stage() == PilotStage::Finished)
        return;
    const std::int64_t now = emu::clock_ms();
    emu::adc::hold_button(pilot->step(now));
    emu::at_time(now + kTickMs, tick, nullptr);
}

// The pitches the buzzer played, in order, from its period writes.
std::vector<std::pair<std::int64_t, int>> played(const GameResult& result) {
    std::vector<std::pair<std::int64_t, int>> tones;
    for (const PwmLine& line : result.pwm_writes()) {
        const long long period_ns = std::atoll(line.value.c_str());
        if (line.attribute != "period" || line.error != 0 || period_ns <= 0)
            continue;
        tones.push_back(
            {line.time_ms, static_cast<int>(std::lround(1e9 / static_cast<double>(period_ns)))});
    }
    return tones;
}

// The count pitches played from the first first_hz at or after from_ms.
std::vector<int> tones_from(const GameResult& result, long long from_ms, int first_hz, int count) {
    std::vector<int> tones;
    for (const auto& [time_ms, hz] : played(result)) {
        if (time_ms < from_ms || (tones.empty() && hz != first_hz))
            continue;
        if (static_cast<int>(tones.size()) < count)
            tones.push_back(hz);
    }
    return tones;
}

std::map<std::string, long long> read_pilot(const GameResult& result) {
    std::map<std::string, long long> seen;
    std::istringstream lines(result.trace("pilot.txt"));
    std::string key;
    long long value;
    while (lines >> key >> value)
        seen[key] = value;
    return seen;
}

TEST(WholeGame, ClearALevelThenLoseEveryLifeAndReturnToTheTitle) {
    GameRun run;
    run.args = {"--seconds", "900"};
    run.timeout_seconds = 280;
    run.setup = [] {
        char folder[512];
        emu::sandbox_path(kHighScoreDir, folder, sizeof folder);
        emu::make_dirs(folder);
    };
    run.watch = [](RunState& game_run) {
        notes = Notes{};
        pilot = std::make_unique<GamePilot>(game_run);
        pilot->before_step = before_step;
        pilot->entered = entered;
        emu::at_time(emu::kVirtualStartMs + 500, tick, nullptr);
    };
    GameResult result = run_game(run);
    ASSERT_EQ(result.status, 0) << result.stderr_text;
    std::map<std::string, long long> seen = read_pilot(result);
    ASSERT_FALSE(seen.empty()) << "the pilot never finished";
    ASSERT_EQ(seen.count("lost_before_clearing"), 0u) << "the pilot lost the first level";

    EXPECT_EQ(seen["new_game_lives"], 3);
    EXPECT_EQ(seen["new_game_level"], 1);

    // Layout 1, cleared by the laser and by the ball.
    EXPECT_EQ(seen["clear_level"], 1);
    EXPECT_EQ(seen["clear_levels_cleared"], 1);
    EXPECT_EQ(seen["clear_bricks_left"], 0);
    EXPECT_GT(seen["volleys"], 0);
    EXPECT_GT(seen["ball_breaks"], 0);
    EXPECT_GT(seen["other_breaks"], 0) << "the laser's";

    // About 1600 ms of LevelClear, then layout 2 in Serve.
    long long pause = seen["next_start_ms"] - seen["clear_start_ms"];
    EXPECT_GT(pause, 1600);
    EXPECT_LE(pause, 1600 + 34);
    EXPECT_GE(seen["clear_last_seen_ms"] - seen["clear_start_ms"], 1600 - 2 * kTickMs);
    EXPECT_EQ(seen["next_level"], 2);
    EXPECT_EQ(seen["next_bricks_left"], 30);
    EXPECT_EQ(seen["next_corner_kind"], 'S');
    EXPECT_EQ(seen["next_silver"], 2);

    // Every life lost, game over, and the best on file.
    EXPECT_EQ(seen["over_lives"], 0);
    EXPECT_GE(seen["lives_lost"], 3);
    EXPECT_GE(seen["over_best"], 1000 + 60 * 55);
    EXPECT_EQ(seen["over_best"], seen["over_score"]) << "no stored best to beat";
    EXPECT_EQ(result.sandbox_file(kHighScorePath), std::to_string(seen["over_best"]) + "\n");
    EXPECT_GT(seen["title_again_ms"], seen["over_start_ms"]);
    EXPECT_EQ(seen["title_best"], seen["over_best"]);

    // The last ball's three tones and game over's four, in order, from the
    // moment of game over; the fanfare from the clear (after the last
    // brick's own tone).
    EXPECT_EQ(tones_from(result, seen["over_start_ms"], 300, 7),
              (std::vector<int>{300, 200, 140, 500, 380, 280, 180}));
    EXPECT_EQ(tones_from(result, seen["clear_start_ms"], 523, 4),
              (std::vector<int>{523, 659, 784, 1047}));
    EXPECT_EQ(result.stderr_text.find("brikon.hi"), std::string::npos)
        << "nothing said about the file";
}

}  // namespace
