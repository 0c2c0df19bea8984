#pragma once
// The pictures a run is asked to save (--screenshot-at MS,... --out DIR), as
// DIR/frame-NNNNNN.png, 1280 x 720 RGB. They are taken on the game's clock
// when the game's clock is the emulator's own (virtual time, a replay): on
// the game's thread, as the clock reaches each moment, so that the same run
// gives the same pictures. In real time the front end takes them from the
// pictures it is handed, when it sees their moment has passed.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

class Screenshots {
  public:
    // Makes the folder; "" or the reason it cannot be made.
    std::string prepare(const std::vector<std::int64_t>& times_ms, const std::string& out_dir);
    bool any() const { return !times_ms_.empty(); }
    // The last moment asked for, ms after the start; -1 for none.
    std::int64_t last_ms() const { return any() ? times_ms_.back() : -1; }

    // After the emulator's reset: each picture is taken when the game's
    // clock reaches base_ms and its moment.
    void take_on_game_clock(std::int64_t base_ms);

    // From the front end, in real time: saves those due by elapsed_ms, of
    // area (1280 x 720 words; nullptr before the first picture).
    void take_due(const std::uint32_t* area, std::int64_t elapsed_ms);

    // At the end: says which picture was never taken, if one was not.
    void report_missed() const;

  private:
    static void on_due(void* self);
    void save(const std::uint32_t* area, std::size_t row_pixels);

    std::vector<std::int64_t> times_ms_;  // ascending
    std::string out_dir_;
    std::size_t next_ = 0;
    std::int64_t base_ms_ = 0;
};

}  // namespace sim
