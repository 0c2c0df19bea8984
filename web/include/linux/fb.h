#pragma once
// The web build's C library has no Linux headers. The game and the emulated
// framebuffer share this stand-in: the framebuffer's screen information and
// its requests, laid out as the Linux user interface lays them out, so the
// same sources compile unchanged.
#include <cstdint>

#define FBIOGET_VSCREENINFO 0x4600
#define FBIOPUT_VSCREENINFO 0x4601
#define FBIOGET_FSCREENINFO 0x4602
#define FBIOPAN_DISPLAY 0x4606

#define FB_TYPE_PACKED_PIXELS 0
#define FB_VISUAL_TRUECOLOR 2

struct fb_bitfield {
    std::uint32_t offset;
    std::uint32_t length;
    std::uint32_t msb_right;
};

struct fb_fix_screeninfo {
    char id[16];
    unsigned long smem_start;
    std::uint32_t smem_len;
    std::uint32_t type;
    std::uint32_t type_aux;
    std::uint32_t visual;
    std::uint16_t xpanstep;
    std::uint16_t ypanstep;
    std::uint16_t ywrapstep;
    std::uint32_t line_length;
    unsigned long mmio_start;
    std::uint32_t mmio_len;
    std::uint32_t accel;
    std::uint16_t capabilities;
    std::uint16_t reserved[2];
};

struct fb_var_screeninfo {
    std::uint32_t xres;
    std::uint32_t yres;
    std::uint32_t xres_virtual;
    std::uint32_t yres_virtual;
    std::uint32_t xoffset;
    std::uint32_t yoffset;
    std::uint32_t bits_per_pixel;
    std::uint32_t grayscale;
    fb_bitfield red;
    fb_bitfield green;
    fb_bitfield blue;
    fb_bitfield transp;
    std::uint32_t nonstd;
    std::uint32_t activate;
    std::uint32_t height;
    std::uint32_t width;
    std::uint32_t accel_flags;
    std::uint32_t pixclock;
    std::uint32_t left_margin;
    std::uint32_t right_margin;
    std::uint32_t upper_margin;
    std::uint32_t lower_margin;
    std::uint32_t hsync_len;
    std::uint32_t vsync_len;
    std::uint32_t sync;
    std::uint32_t vmode;
    std::uint32_t rotate;
    std::uint32_t colorspace;
    std::uint32_t reserved[4];
};

static_assert(sizeof(fb_var_screeninfo) == 160, "the kernel's screen information is 160 bytes");
