#pragma once
// A run's files and folders on this machine: the folder that stands for the
// goggles' own files, with the high-score folder the goggles have and the
// best-score file the game starts from; the replay played back; and the
// folders that the run's outputs go in. Both front ends prepare their runs
// through it (the page's worker keeps its best score in a folder of its own).
#include <cstdint>
#include <string>
#include <vector>

#include "emulator/replay.h"
#include "sim/options.h"

namespace sim {

class RunFiles {
  public:
    RunFiles() = default;
    RunFiles(const RunFiles&) = delete;
    RunFiles& operator=(const RunFiles&) = delete;

    // Reads the replay to play, if any, and makes the folders. The data
    // folder is --data, else for a windowed run in real time the player's
    // state folder (the best score stays between runs), else a temporary
    // one, removed by tidy(). best: what the best-score file starts with
    // (a replay's own best comes first; "" leaves the file as it is).
    // Answers "" or the reason the run cannot start.
    std::string prepare(const SimOptions& options, bool with_window, const std::string& best);

    bool replaying() const { return replaying_; }
    // The game's command line after its name: the replay's, or the options'.
    const std::vector<std::string>& game_args() const { return game_args_; }
    // The folder below which the game's paths are looked up.
    const std::string& data_dir() const { return data_dir_; }
    // The replay's bytes, checked whole (when replaying).
    const std::vector<std::uint8_t>& replay() const { return replay_; }
    // The best-score file as a replay keeps it, up to its limit; false when
    // there is none.
    bool read_best(std::string* best) const;

    // Removes the data folder if it was a temporary one.
    void tidy();

  private:
    std::string make_data_dir(const SimOptions& options, bool with_window);

    bool replaying_ = false;
    std::vector<std::uint8_t> replay_;
    std::vector<std::string> game_args_;
    std::string data_dir_;
    bool temporary_data_ = false;
};

// Makes the folder a file is to be written in, as --out makes its own.
void make_parent_dir(const std::string& path);

// Writes bytes to the file at path, replacing it; false if it could not.
bool write_file(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace sim
