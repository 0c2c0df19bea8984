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

#include "display/draw.h"

// Bytes per line: a page's row of kPagePixelsPerRow pixels of 32 bits.
constexpr std::uint32_t kFbStride = kPagePixelsPerRow * sizeof(std::uint32_t);
static_assert(kFbStride == 7680);
constexpr std::uint32_t kFbVirtualHeight = 3240;  // three pages of 1080 lines
constexpr int kPageYOffsets[kPageCount] = {1080, 2160};

// The framebuffer as the game uses it: one belongs to the display, and the
// main thread alone uses it.
struct Framebuffer {
    int descriptor = -1;
    std::uint8_t* base = nullptr;  // the shared mapping of the whole framebuffer memory
    std::uint32_t stride = 0;
    fb_var_screeninfo saved_screen_info = {};  // exactly as read at start-up
    int shown_page = 1;                        // index of the page shown by the last good pan
    bool pan_done = false;                     // a pan has succeeded; the display has moved
    bool single_buffer = false;  // the page at line 2160 cannot be shown; only 1080 is drawn
};

enum class FbOpen { Ready, ProbeDone, Failed };

// Opens, checks and maps /dev/fb0 into fb and makes the virtual screen
// three pages tall. On Failed the message is written and nothing is left
// open.
FbOpen open_framebuffer(Framebuffer& fb, bool probe_only);

// The page not on display, the page the next frame is composed in: its
// index and its drawing area (rows kPagePixelsPerRow apart).
Page back_page(const Framebuffer& fb);

// Pans the display to page (the one back_page gave). False when the pan was
// refused: what the pages hold is no longer certain.
bool present_page(Framebuffer& fb, const Page& page);

// Pans back to line 0 if the display was ever moved.
void restore_display(const Framebuffer& fb);

// Closes the descriptor when start-up gives up after opening it.
void close_framebuffer(Framebuffer& fb);
