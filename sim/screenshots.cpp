#include "sim/screenshots.h"

#include <sys/stat.h>

#include <cstdio>

#include "display/rect.h"
#include "emulator/emulator.h"
#include "emulator/framebuffer_device.h"
#include "png_image.h"

namespace sim {

std::string Screenshots::prepare(const std::vector<std::int64_t>& times_ms,
                                 const std::string& out_dir) {
    times_ms_ = times_ms;
    out_dir_ = out_dir;
    if (out_dir_.empty())
        return "";
    emu::make_dirs(out_dir_.c_str());
    struct stat info;
    if (stat(out_dir_.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return "cannot make the folder " + out_dir_;
    return "";
}

void Screenshots::take_on_game_clock(std::int64_t base_ms) {
    base_ms_ = base_ms;
    if (any())
        emu::at_time(base_ms_ + times_ms_[0], on_due, this);
}

// On the game's thread, with every game thread waiting: the page on display
// is the picture of this moment.
void Screenshots::on_due(void* self) {
    auto* shots = static_cast<Screenshots*>(self);
    shots->save(emu::fb::displayed_area(), emu::fb::settings().line_length / 4);
    if (shots->next_ < shots->times_ms_.size())
        emu::at_time(shots->base_ms_ + shots->times_ms_[shots->next_], on_due, self);
}

void Screenshots::take_due(const std::uint32_t* area, std::int64_t elapsed_ms) {
    if (area == nullptr)
        return;
    while (next_ < times_ms_.size() && times_ms_[next_] <= elapsed_ms)
        save(area, kAreaWidth);
}

void Screenshots::save(const std::uint32_t* area, std::size_t row_pixels) {
    char name[64];
    std::snprintf(name, sizeof name, "/frame-%06lld.png",
                  static_cast<long long>(times_ms_[next_++]));
    const std::string path = out_dir_ + name;
    // The writer reports its own failures.
    png::save_area(path.c_str(), area, row_pixels, kAreaWidth, kAreaHeight);
}

void Screenshots::report_missed() const {
    if (next_ < times_ms_.size()) {
        std::fprintf(stderr, "vmxbrikon-sim: the game ended before the screenshot at %lld ms\n",
                     static_cast<long long>(times_ms_[next_]));
    }
}

}  // namespace sim
