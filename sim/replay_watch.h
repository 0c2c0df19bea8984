#pragma once
// A replay watched in the window (or headless with --speed): its pace is
// the watcher's. Paused, it holds; at a speed, game time passes that many
// times as fast as real time; sent ahead, it runs as fast as it can to that
// moment and goes on from there at its speed (or holds, if paused). The
// replay's reader asks the pace before each of the game's clock readings
// (emu::replay::pace_by).
#include <cstdint>
#include <mutex>

namespace sim {

// The speeds + and - step through.
constexpr double kReplaySpeeds[] = {0.25, 0.5, 1, 2, 4, 8};

class ReplayWatch {
  public:
    explicit ReplayWatch(double speed) : speed_(speed) {}
    ReplayWatch(const ReplayWatch&) = delete;
    ReplayWatch& operator=(const ReplayWatch&) = delete;

    // From now on the replay keeps this watch's pace. Call after the
    // session has prepared the replay, before the game starts.
    void attach();

    void toggle_pause();
    // The next speed up or down the list, from the nearest one.
    void faster();
    void slower();
    // Runs ahead ms of game time from where the game stands.
    void skip_ahead(std::int64_t ms);
    // Before the game starts: runs ahead to ms of its time, and holds there
    // if paused.
    void start_at(std::int64_t ms, bool paused);
    // Where the game stands, in ms of its time.
    std::int64_t game_ms() const;

    bool paused() const;
    double speed() const;

  private:
    static std::int64_t pace(std::int64_t game_ns, void* self);
    void set_speed(double speed);
    // Game time goes on from here, at the speed.
    void rebase(std::int64_t now_ns);

    mutable std::mutex lock_;
    double speed_ = 1;
    bool paused_ = false;
    std::int64_t seek_ns_ = -1;  // running ahead to this; -1: not
    std::int64_t game_ns_ = 0;   // the game's latest reading
    std::int64_t base_game_ns_ = 0;
    std::int64_t base_real_ns_ = -1;  // -1: before the first reading
};

}  // namespace sim
