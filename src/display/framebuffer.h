#pragma once
// The framebuffer and its two drawing pages.
//
// The picture is composed in the top-left 1280 x 720 of one of two
// 1920 x 1080 pages below the visible one (lines 1080 and 2160) and shown by
// panning the display to it, so the page on display is never the one being
// drawn. Line 0 keeps what was on screen before the game and is restored at
// exit.
#include <linux/fb.h>

#include <cstdint>

constexpr std::uint32_t kFbStride = 7680;         // bytes per line: 1920 pixels of 32 bits
constexpr std::uint32_t kFbVirtualHeight = 3240;  // three pages of 1080 lines
constexpr int kPageYOffsets[2] = {1080, 2160};

struct PageInfo {
    int descriptor = -1;
    std::uint8_t* base = nullptr;  // the shared mapping of the whole framebuffer memory
    std::uint32_t stride = 0;
    fb_var_screeninfo saved_screen_info = {};  // exactly as read at start-up
    int shown_page = 1;                        // index of the page shown by the last good pan
    bool pan_done = false;                     // a pan has succeeded; the display has moved
    bool single_buffer = false;  // the page at line 2160 cannot be shown; only 1080 is drawn
};

extern PageInfo page_info;

// Pixel (0, 0) of the page drawn this frame; rows are kFbStride bytes apart.
extern std::uint32_t* back_page;

enum class FbOpen { Ready, ProbeDone, Failed };

// Opens, checks and maps /dev/fb0 and makes the virtual screen three pages
// tall. On Failed the message is written and nothing is left open.
FbOpen open_framebuffer(bool probe_only);

// Picks the page not on display, sets back_page, returns its first line.
int select_back_page();

// Pans the display to the page at line y.
void present_page(int y);

// Pans back to line 0 if the display was ever moved.
void restore_display();

// Closes the descriptor when start-up gives up after opening it.
void close_framebuffer();
