#include "sim/run_files.h"

#include <ftw.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "emulator/emulator.h"
#include "shell/high_score.h"

namespace sim {
namespace {

bool is_dir(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Where a player's best score stays between windowed runs.
std::string state_dir() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && *state)
        return std::string(state) + "/vmxbrikon-sim";
    const char* home = std::getenv("HOME");
    if (home && *home)
        return std::string(home) + "/.local/state/vmxbrikon-sim";
    return "";
}

std::string temporary_dir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vmxbrikon-sim-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back(0);
    if (mkdtemp(name.data()) == nullptr)
        return "";
    return name.data();
}

void remove_tree(const std::string& path) {
    nftw(
        path.c_str(),
        [](const char* name, const struct stat*, int, struct FTW*) { return std::remove(name); },
        16, FTW_DEPTH | FTW_PHYS);
}

// A file's bytes, up to one more than a replay may have (so that a larger
// file is known as one); "" or why it cannot be read.
std::string read_replay_file(const std::string& path, std::vector<std::uint8_t>* bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return "cannot open it";
    bytes->resize(emu::replay::kMaxBytes + 1);
    bytes->resize(std::fread(bytes->data(), 1, bytes->size(), file));
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return failed ? "cannot read it" : "";
}

}  // namespace

std::string RunFiles::prepare(const SimOptions& options, bool with_window,
                              const std::string& best) {
    replaying_ = !options.replay_path.empty();
    game_args_ = options.game_args;
    std::string start_best = best;
    if (replaying_) {
        emu::replay::Start start;
        std::string reason = read_replay_file(options.replay_path, &replay_);
        if (reason.empty())
            reason = emu::replay::read(replay_.data(), replay_.size(), &start);
        if (!reason.empty())
            return "cannot replay " + options.replay_path + ": " + reason;
        // The replay's game is the recorded one, from the recorded best.
        game_args_ = start.game_args;
        start_best = start.has_best ? start.best : "";
    }
    if (!options.record_path.empty())
        make_parent_dir(options.record_path);

    std::string reason = make_data_dir(options, with_window);
    if (!reason.empty())
        return reason;
    if (!start_best.empty()) {
        const std::string best_path = data_dir_ + kHighScorePath;
        if (!write_file(best_path, std::vector<std::uint8_t>(start_best.begin(), start_best.end())))
            return "cannot write " + best_path;
    }
    return "";
}

std::string RunFiles::make_data_dir(const SimOptions& options, bool with_window) {
    data_dir_ = options.data_dir;
    if (data_dir_.empty() && with_window && !options.virtual_time && !replaying_)
        data_dir_ = state_dir();
    if (data_dir_.empty()) {
        data_dir_ = temporary_dir();
        temporary_data_ = true;
        if (data_dir_.empty())
            return "cannot make a temporary folder";
    }
    // The goggles have the high-score folder; the game never makes it.
    const std::string score_dir = data_dir_ + kHighScoreDir;
    emu::make_dirs(score_dir.c_str());
    if (!is_dir(score_dir))
        return "cannot make the folder " + score_dir;
    return "";
}

bool RunFiles::read_best(std::string* best) const {
    std::FILE* file = std::fopen((data_dir_ + kHighScorePath).c_str(), "rb");
    if (file == nullptr)
        return false;
    best->resize(emu::replay::kMaxBestBytes);
    best->resize(std::fread(best->data(), 1, best->size(), file));
    std::fclose(file);
    return true;
}

void RunFiles::tidy() {
    if (temporary_data_)
        remove_tree(data_dir_);
    temporary_data_ = false;
}

void make_parent_dir(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0)
        emu::make_dirs(path.substr(0, slash).c_str());
}

bool write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace sim
