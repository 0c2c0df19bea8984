#pragma once
// The picture on the goggles' display, handed from the game to whoever shows
// or saves it: the game's thread copies the drawing area of every page it
// pans to into a spare buffer and publishes it; the viewer takes the newest
// one. Three buffers, so neither side ever waits for the other's copy.
#include <cstdint>
#include <mutex>
#include <vector>

namespace sim {

constexpr int kAreaWidth = 1280;
constexpr int kAreaHeight = 720;
constexpr int kAreaPixels = kAreaWidth * kAreaHeight;

class FrameStore {
  public:
    FrameStore();

    // Producer: the buffer to fill next, then publish it.
    std::uint32_t* fill_buffer() { return buffers_[filling_].data(); }
    void publish();

    // Consumer: the newest published picture (0xAARRGGBB words, 1280 per
    // row), or nullptr before the first. Valid until the next take().
    // fresh tells whether it is new since the last take().
    const std::uint32_t* take(bool* fresh = nullptr);

    // Pictures published so far.
    long published() const;

  private:
    std::vector<std::uint32_t> buffers_[3];
    mutable std::mutex lock_;  // held only to swap indexes
    int filling_ = 0;
    int ready_ = 1;
    int showing_ = 2;
    bool ready_is_new_ = false;
    bool any_ = false;
    long published_ = 0;
};

// Installs a pan hook on the emulated framebuffer that copies every page
// the display pans to into store (the emulator must have been reset).
void show_pans_in(FrameStore* store);

}  // namespace sim
