#pragma once
// The emulated /dev/fb0: screen information a test can set, the three
// information requests and the pan with the kernel's rules, one mapping of
// the whole memory, and a log of pans.
#include <cstdint>

namespace emu::fb {

struct Settings {
    std::uint32_t line_length = 7680;
    std::uint32_t smem_len = 7680 * 3240;
    std::uint32_t xres = 1920;
    std::uint32_t yres = 1080;
    std::uint32_t xres_virtual = 1920;
    std::uint32_t yres_virtual = 2160;
    std::uint32_t xoffset = 0;
    std::uint32_t yoffset = 0;
    std::uint32_t bits_per_pixel = 32;
    bool refuse_resize = false;  // FBIOPUT_VSCREENINFO fails with EINVAL
    bool refuse_pans = false;    // every FBIOPAN_DISPLAY fails with EINVAL
    // FBIOPUT_VSCREENINFO answers 0 and the new virtual height reads back,
    // but pans are still checked against the old one: a driver that accepts
    // a resize it does not make.
    bool pretend_resize = false;
};

// Applies new settings (clears the memory, the pan log and the mapping).
void configure(const Settings& settings);
const Settings& settings();

// The device's memory, as the game maps it.
std::uint8_t* memory();
std::uint32_t memory_size();

// The display's state now.
std::uint32_t yoffset();
std::uint32_t xoffset();
std::uint32_t yres_virtual();
bool mapped();

struct Pan {
    std::int64_t time_ms;
    std::uint32_t xoffset;
    std::uint32_t yoffset;
    std::uint32_t yres_virtual;  // as sent in the request
    int result;
};
constexpr int kPanLogCapacity = 65536;
int pan_count();  // all pans, also those beyond the log's capacity
const Pan& pan(int index);

// The 1280 x 720 drawing area of the page on display, its rows
// settings().line_length bytes apart; nullptr when the page lies beyond the
// memory.
const std::uint32_t* displayed_area();

// Which of the two drawing pages is on display: 0 for the page at line
// 1080, 1 for the one at line 2160, -1 for anything else (line 0, what was
// on screen before the game), from the line the display shows now.
int shown_page();

// Called after every successful pan (the simulator shows the new page).
void set_pan_hook(void (*hook)(void* context), void* context);

}  // namespace emu::fb
