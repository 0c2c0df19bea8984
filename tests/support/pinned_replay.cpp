#include "pinned_replay.h"

#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "display/rect.h"
#include "emulator/emulator.h"
#include "emulator/framebuffer_device.h"
#include "emulator/replay.h"
#include "run_game.h"
#include "shell/high_score.h"

namespace {

std::uint64_t fnv1a(const std::uint32_t* area, std::size_t row_pixels, std::uint32_t mask) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (int y = 0; y < kAreaHeight; ++y) {
        const std::uint32_t* row = area + static_cast<std::size_t>(y) * row_pixels;
        for (int x = 0; x < kAreaWidth; ++x)
            hash = (hash ^ (row[x] & mask)) * 0x100000001b3ull;
    }
    return hash;
}

std::string hex(std::uint64_t value) {
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

std::size_t displayed_row_pixels() {
    return emu::fb::settings().line_length / 4;
}

// What the child keeps while the replay plays, written to a trace file at
// the end.
struct Watch {
    const ReplayPlan* plan = nullptr;
    std::int64_t base_ms = 0;
    long frames = 0;
    std::size_t next_moment = 0;
    std::int64_t next_moment_ms = 0;
    std::ostringstream prints;

    void after_pan() {
        if (emu::fb::shown_page() < 0)
            return;  // the pan back to what was on screen before the game
        frames += 1;
        const auto& wanted = plan->frames;
        const std::uint32_t* area = emu::fb::displayed_area();
        if (area != nullptr &&
            (plan->every_frame || std::find(wanted.begin(), wanted.end(), frames) != wanted.end()))
            prints << "frame " << frames << " " << hex(frame_print(area, displayed_row_pixels()))
                   << "\n";
    }
    // Schedules the next moment to fingerprint, if there is one.
    void schedule_moment() {
        if (plan->every_ms > 0) {
            next_moment_ms += plan->every_ms;
        } else if (next_moment < plan->moments_ms.size()) {
            next_moment_ms = plan->moments_ms[next_moment++];
        } else {
            return;
        }
        emu::at_time(base_ms + next_moment_ms, take_moment, this);
    }
    static void take_moment(void* self) {
        auto* watch = static_cast<Watch*>(self);
        if (const std::uint32_t* area = emu::fb::displayed_area())
            watch->prints << "at " << watch->next_moment_ms << " "
                          << hex(picture_print(area, displayed_row_pixels())) << "\n";
        watch->schedule_moment();
    }
};

// Before the game starts: the goggles' folders, the best score the replay
// brings, the replay itself, and the moments to fingerprint.
void set_up_replay(const std::string& bytes, const emu::replay::Start& start, Watch& watch) {
    char path[512];
    emu::sandbox_path(kHighScoreDir, path, sizeof path);
    emu::make_dirs(path);
    if (start.has_best) {
        emu::sandbox_path(kHighScorePath, path, sizeof path);
        std::ofstream(path, std::ios::binary) << start.best;
    }
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    emu::replay::play(data, bytes.size());
    watch.base_ms = emu::clock_ms();
    watch.schedule_moment();
}

}  // namespace

std::uint64_t frame_print(const std::uint32_t* area, std::size_t row_pixels) {
    return fnv1a(area, row_pixels, 0xFFFFFFFFu);
}

std::uint64_t picture_print(const std::uint32_t* area, std::size_t row_pixels) {
    return fnv1a(area, row_pixels, 0x00FFFFFFu);
}

ReplayOutcome play_replay(const std::string& bytes, const ReplayPlan& plan, int timeout_seconds) {
    ReplayOutcome outcome;
    emu::replay::Start start;
    outcome.refusal = emu::replay::read(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                        bytes.size(), &start);
    if (!outcome.refusal.empty())
        return outcome;
    Watch watch;
    watch.plan = &plan;
    GameRun run;
    run.args = start.game_args;
    run.virtual_time = false;
    run.check_frames_every = 0;
    run.timeout_seconds = timeout_seconds;
    run.setup = [&] { set_up_replay(bytes, start, watch); };
    run.after_frame = [&] { watch.after_pan(); };
    run.after_game = [&](const RunState& game, int) {
        char path[512];
        emu::sandbox_path("/outcome.txt", path, sizeof path);
        std::ofstream(path) << "end " << watch.frames << " " << game.game.world.score << " "
                            << game.game.world.best << " " << game.game.world.level << " "
                            << emu::replay::ran_out() << "\n"
                            << watch.prints.str();
    };
    const GameResult result = run_game(run);
    outcome.status = result.timed_out ? -1 : result.status;
    outcome.stderr_text = result.stderr_text;
    std::istringstream lines(result.sandbox_file("/outcome.txt"));
    for (std::string key; lines >> key;) {
        if (key == "end") {
            lines >> outcome.frames >> outcome.score >> outcome.best >> outcome.level >>
                outcome.ran_out;
        } else if (key == "frame") {
            long frame = 0;
            std::string print;
            lines >> frame >> print;
            outcome.frame_prints[frame] = std::strtoull(print.c_str(), nullptr, 16);
        } else if (key == "at") {
            std::int64_t ms = 0;
            std::string print;
            lines >> ms >> print;
            outcome.moment_prints[ms] = std::strtoull(print.c_str(), nullptr, 16);
        }
    }
    return outcome;
}

ReplayHeader replay_header(const std::string& bytes) {
    ReplayHeader header;
    if (bytes.size() < 11)
        return header;
    header.format = static_cast<std::uint8_t>(bytes[4]) |
                    static_cast<unsigned>(static_cast<std::uint8_t>(bytes[5])) << 8;
    const std::size_t version_size = static_cast<std::uint8_t>(bytes[10]);
    header.game = bytes.substr(11, version_size);
    emu::replay::Start start;
    if (emu::replay::read(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), &start)
            .empty())
        header.clock = start.tick_us == 1 ? "virtual" : "real";
    return header;
}

std::string expectation_text(const std::string& name, const std::string& bytes,
                             const ReplayOutcome& outcome, const std::string& recorded_with) {
    const ReplayHeader header = replay_header(bytes);
    std::ostringstream out;
    out << "# " << name << ".vmxr played back: the lines every build must give\n"
        << "# (scripts/pin-replay writes them; see README.md here).\n"
        << "format " << header.format << "\n"
        << "game " << header.game << "\n";
    if (!outcome.refusal.empty()) {
        out << "refused " << outcome.refusal << "\n";
        return out.str();
    }
    out << "clock " << header.clock << "\n";
    if (!recorded_with.empty())
        out << "recorded-with " << recorded_with << "\n";
    out << "status " << outcome.status << "\n";
    std::istringstream game_lines(outcome.stderr_text);
    for (std::string line; std::getline(game_lines, line);)
        out << "stderr " << line << "\n";
    out << "replay-ended " << (outcome.ran_out ? "yes" : "no") << "\n"
        << "end frames " << outcome.frames << " score " << outcome.score << " best " << outcome.best
        << " level " << outcome.level << "\n";
    for (const auto& [frame, print] : outcome.frame_prints)
        out << "frame " << frame << " " << hex(print) << "\n";
    for (const auto& [ms, print] : outcome.moment_prints)
        out << "at " << ms << " " << hex(print) << "\n";
    return out.str();
}

std::vector<std::string> expectation_values(const std::string& text, const std::string& key) {
    std::vector<std::string> values;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, key.size() + 1, key + " ") == 0)
            values.push_back(line.substr(key.size() + 1));
    }
    return values;
}

ReplayPlan plan_for(const std::string& expectation) {
    ReplayPlan plan;
    for (const std::string& value : expectation_values(expectation, "frame"))
        plan.frames.push_back(std::atol(value.c_str()));
    for (const std::string& value : expectation_values(expectation, "at"))
        plan.moments_ms.push_back(std::atoll(value.c_str()));
    std::sort(plan.moments_ms.begin(), plan.moments_ms.end());
    return plan;
}

std::string pinned_replay_dir() {
    return VMX_SOURCE_DIR "/tests/replays";
}

std::vector<std::string> pinned_replay_names() {
    std::vector<std::string> names;
    if (DIR* dir = opendir(pinned_replay_dir().c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            const std::size_t suffix = name.size() >= 5 ? name.size() - 5 : std::string::npos;
            if (suffix != std::string::npos && name.compare(suffix, 5, ".vmxr") == 0)
                names.push_back(name.substr(0, suffix));
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string pinned_test_name(const std::string& name) {
    std::string out = name;
    for (char& c : out) {
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    }
    return out;
}

bool of_this_build(const ReplayHeader& header) {
    return header.format == emu::replay::kFormatVersion &&
           header.game == emu::replay::game_version();
}

std::string refusal_by_name(const ReplayHeader& header) {
    if (header.format != emu::replay::kFormatVersion)
        return "a replay of format " + std::to_string(header.format) +
               "; this build plays format " + std::to_string(emu::replay::kFormatVersion);
    return "recorded by vmxbrikon " + header.game + "; this is vmxbrikon " +
           emu::replay::game_version();
}

std::string first_difference(const std::string& got, const std::string& want) {
    std::size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at])
        at += 1;
    if (at == got.size() && at == want.size())
        return "";
    const std::size_t newline = at == 0 ? std::string::npos : got.rfind('\n', at - 1);
    const std::size_t line = newline == std::string::npos ? 0 : newline + 1;
    auto line_at = [line](const std::string& text) {
        return line >= text.size() ? std::string("(the end)")
                                   : text.substr(line, text.find('\n', line) - line);
    };
    return "\"" + line_at(got) + "\" instead of \"" + line_at(want) + "\"";
}
