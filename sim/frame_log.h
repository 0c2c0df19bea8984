#pragma once
// The frame log (--frame-log FILE): a line for each frame shown, its number
// and a fingerprint (FNV-1a) of its 1280 x 720 pixels, so that two runs
// showed the same frames when their logs are the same.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace sim {

class FrameLog {
  public:
    FrameLog() = default;
    FrameLog(const FrameLog&) = delete;
    FrameLog& operator=(const FrameLog&) = delete;
    ~FrameLog() { close(); }

    // Makes the file's folder and opens it; "" or the reason it cannot.
    std::string open(const std::string& path);
    // On the game's thread, at each frame shown: frame's line, of area
    // (rows row_pixels apart; nullptr: nothing to show, fingerprint 0).
    void note(long frame, const std::uint32_t* area, std::size_t row_pixels);
    void close();

  private:
    std::FILE* file_ = nullptr;
};

// A frame's fingerprint: FNV-1a over the drawing area's pixels.
std::uint64_t frame_hash(const std::uint32_t* area, std::size_t row_pixels);

}  // namespace sim
