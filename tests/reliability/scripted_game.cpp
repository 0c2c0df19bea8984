#include "scripted_game.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "emulator/adc_device.h"
#include "emulator/emulator.h"
#include "emulator/i2c_device.h"
#include "shell/high_score.h"
#include "shell/main_loop.h"
#include "sim/autoplay.h"

namespace {

constexpr std::int64_t kTickMs = 10;
constexpr std::int64_t kPressHalfMs = 120;
// Long enough for the whole script; a run that loses its buttons ends here.
constexpr const char* kRunLimitSeconds = "90";

enum class Stage { Score, Lose, Hold };

struct Pilot {
    Stage stage = Stage::Score;
    long long best = -1;
    long long hold_ms = -1;
};
Pilot pilot;

void write_pilot() {
    char text[128];
    int length =
        std::snprintf(text, sizeof text, "best %lld\nhold_ms %lld\n", pilot.best, pilot.hold_ms);
    int fd = emu::trace_file("pilot.txt");
    if (fd < 0)
        return;
    ssize_t written = write(fd, text, static_cast<std::size_t>(length));
    (void)written;
    close(fd);
}

ButtonCode pressing(std::int64_t now) {
    return (now / kPressHalfMs) % 2 == 0 ? kButtonNone : kButtonMiddle;
}

// Scores a little more than the old best with the automatic player, then
// loses every ball, and at game over holds PLAY until the program ends.
void tick(void* run) {
    const Game& game = static_cast<const RunState*>(run)->game;
    std::int64_t now = emu::clock_ms();
    ButtonCode hold = kButtonNone;
    if (pilot.stage != Stage::Hold && game.world.phase == Phase::GameOver) {
        pilot.best = game.world.best;
        pilot.hold_ms = now;
        pilot.stage = Stage::Hold;
        write_pilot();
    }
    switch (pilot.stage) {
        case Stage::Score:
        case Stage::Lose:
            if (game.world.phase == Phase::Title || game.world.phase == Phase::Serve)
                hold = pressing(now);
            if (game.world.phase == Phase::Play) {
                if (game.world.score > kOldBest)
                    pilot.stage = Stage::Lose;
                hold = pilot.stage == Stage::Score ? sim::steer_button(game.world)
                                                   : sim::dodge_button(game.world);
            }
            break;
        case Stage::Hold:
            hold = kButtonPlay;
            break;
    }
    emu::adc::hold_button(hold);
    emu::at_time(now + kTickMs, tick, run);
}

}  // namespace

GameRun scripted_game(const ScriptOptions& options) {
    GameRun run;
    run.args = {"--seconds", kRunLimitSeconds};
    run.log_calls = true;
    run.timeout_seconds = 120;
    // These runs are about the calls the game makes; the pictures are
    // checked frame by frame in the scenario games and the soak.
    run.check_frames_every = 0;
    bool gate_pause = options.gate_pause;
    std::function<void()> more = options.setup;
    run.setup = [gate_pause, more] {
        char path[512];
        emu::sandbox_path(kHighScoreDir, path, sizeof path);
        emu::make_dirs(path);
        emu::sandbox_path(kHighScorePath, path, sizeof path);
        std::ofstream(path) << kOldBestText;
        // NORMAL, with the other two registers nonzero so that a failed read
        // of either shows in the register line.
        if (gate_pause) {
            emu::i2c::script({{0x00, 0x00, 0x00, 0}, {0x01, 0x02, 0x01, 0}});
        } else {
            emu::i2c::script({{0x01, 0x02, 0x01, 0}});
        }
    };
    run.watch = [more](RunState& game_run) {
        pilot = Pilot{};
        write_pilot();
        emu::at_time(emu::kVirtualStartMs + 200, tick, &game_run);
        if (more)
            more();
    };
    return run;
}

long long pilot_value(const GameResult& result, const std::string& key) {
    std::istringstream lines(result.trace("pilot.txt"));
    std::string name;
    long long value = 0;
    while (lines >> name >> value) {
        if (name == key)
            return value;
    }
    return -1;
}

std::vector<CallLine> parse_calls(const std::string& text) {
    std::vector<CallLine> calls;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        CallLine call;
        if (fields >> call.seq >> call.call >> call.target >> call.result >> call.error)
            calls.push_back(call);
    }
    return calls;
}

int fault_occurrence(const std::vector<CallLine>& calls, std::size_t index) {
    const CallLine& wanted = calls[index];
    int count = 0;
    for (std::size_t i = 0; i <= index; ++i) {
        if (calls[i].call != wanted.call)
            continue;
        if (wanted.target == "-" || calls[i].target.find(wanted.target) != std::string::npos)
            count += 1;
    }
    return count;
}

const char* fault_target(const CallLine& line) {
    return line.target == "-" ? nullptr : line.target.c_str();
}

BuzzerEnd buzzer_end(const GameResult& result) {
    std::map<std::string, long long> channel = {{"enable", 0}, {"duty_cycle", 0}};
    BuzzerEnd end;
    for (const PwmLine& line : result.pwm_writes()) {
        end.writes += 1;
        if (line.error == 0 && channel.count(line.attribute) != 0)
            channel[line.attribute] = std::atoll(line.value.c_str());
    }
    end.sounding = channel["enable"] != 0 && channel["duty_cycle"] != 0;
    return end;
}

bool call_kind(const std::string& name, emu::Call* kind) {
    for (int i = 0; i <= static_cast<int>(emu::Call::Signal); ++i) {
        emu::Call candidate = static_cast<emu::Call>(i);
        if (name == emu::call_name(candidate)) {
            *kind = candidate;
            return true;
        }
    }
    return false;
}

std::vector<std::size_t> save_calls(const std::vector<CallLine>& calls) {
    std::vector<std::size_t> found;
    bool started = false;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        started = started || calls[i].call == "thread_start";
        if (started && calls[i].target.rfind("/record/", 0) == 0)
            found.push_back(i);
    }
    return found;
}

namespace {
constexpr const char* kLongOldBestText = "00000000000050\n";
}

bool save_setup(const std::string& name, std::function<void()>* setup) {
    if (name.empty() || name == "-") {
        *setup = [] {};
    } else if (name == "long_line" || name == "no_file") {
        const bool remove = name == "no_file";
        *setup = [remove] {
            char path[512];
            emu::sandbox_path(kHighScorePath, path, sizeof path);
            if (remove)
                unlink(path);
            else
                std::ofstream(path) << kLongOldBestText;
        };
    } else if (name == "link") {
        *setup = [] {
            char path[512];
            emu::sandbox_path("/record/vemlo-x/kept", path, sizeof path);
            emu::make_dirs(path);
            std::ofstream(std::string(path) + "/best") << kOldBestText;
            emu::sandbox_path(kHighScorePath, path, sizeof path);
            unlink(path);
            if (symlink("../kept/best", path) != 0)
                std::abort();
        };
    } else {
        return false;
    }
    return true;
}

std::string old_best_text(const std::string& setup) {
    if (setup == "long_line")
        return kLongOldBestText;
    return setup == "no_file" ? "" : kOldBestText;
}

bool holds_line(const std::string& stored, const std::string& line, const std::string& old_text) {
    if (stored.compare(0, line.size(), line) != 0)
        return false;
    const std::string rest = stored.substr(line.size());
    if (rest.find_first_not_of('\0') == std::string::npos)
        return true;
    return !line.empty() && old_text.size() > line.size() && rest == old_text.substr(line.size());
}
