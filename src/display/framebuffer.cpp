#include "display/framebuffer.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>

#include <cerrno>

#include "platform/diag.h"
#include "platform/os.h"

namespace {
// Room for three pages of 1080 lines at the expected stride.
constexpr std::uint32_t kMinMemory = kFbStride * kFbVirtualHeight;
// The layout check's lowest virtual height: two pages of 1080 lines.
constexpr std::uint32_t kMinVirtualHeight = 2160;

int back_index(const Framebuffer& fb) {
    return fb.single_buffer ? 0 : fb.shown_page ^ 1;
}

// The kernel pans only to an offset whose whole visible screen lies inside
// the virtual one.
bool can_show(int page_y, const fb_var_screeninfo& var) {
    return static_cast<std::uint64_t>(page_y) + var.yres <= var.yres_virtual;
}
}  // namespace

FbOpen open_framebuffer(Framebuffer& fb, bool probe_only) {
    int fd = os::open("/dev/fb0", O_RDWR);
    if (fd < 0) {
        diag_error("fb0");
        return FbOpen::Failed;
    }

    fb_var_screeninfo var = {};
    fb_fix_screeninfo fix = {};
    if (os::ioctl(fd, FBIOGET_VSCREENINFO, &var) < 0 ||
        os::ioctl(fd, FBIOGET_FSCREENINFO, &fix) < 0) {
        diag_error("ioctl");
        os::close(fd);
        return FbOpen::Failed;
    }

    diag("fb0: stride=%u smem=%u yres=%u yvirt=%u yoff=%u\n", fix.line_length, fix.smem_len,
         var.yres, var.yres_virtual, var.yoffset);

    // Only the stride, the virtual height and the memory size matter: the
    // pages are addressed by line, and the width and depth are the panel's.
    if (fix.line_length != kFbStride || var.yres_virtual < kMinVirtualHeight ||
        fix.smem_len < kMinMemory) {
        diag("unexpected fb layout\n");
        os::close(fd);
        return FbOpen::Failed;
    }

    if (probe_only) {
        os::close(fd);
        return FbOpen::ProbeDone;
    }

    // Recorded before anything can move the display, so that shutdown can
    // always find its way back.
    fb.descriptor = fd;
    fb.stride = fix.line_length;

    void* base = os::mmap(fix.smem_len, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (base == MAP_FAILED) {
        diag_error("mmap");
        close_framebuffer(fb);
        return FbOpen::Failed;
    }
    fb.base = static_cast<std::uint8_t*>(base);

    fb_var_screeninfo request = var;
    request.yres_virtual = kFbVirtualHeight;
    const bool enlarged = os::ioctl(fd, FBIOPUT_VSCREENINFO, &request) == 0;
    if (!enlarged)
        diag("FBIOPUT yvirt=3240 failed errno=%d (single-buffer fallback)\n", errno);
    // Whether the page at line 2160 can ever be shown depends on the screen
    // the driver really has now, not on whether the request went through: a
    // tall screen (yres 1200) cannot show it even with 3240 lines, and a
    // short one (yres 720) can with fewer. Flipping to a page the kernel
    // refuses would freeze the display on the first frame, so such a game
    // draws into the one page that can be shown.
    fb_var_screeninfo now = {};
    if (os::ioctl(fd, FBIOGET_VSCREENINFO, &now) != 0)
        now = enlarged ? request : var;
    fb.single_buffer = !can_show(kPageYOffsets[1], now);

    fb.saved_screen_info = var;
    if (var.yoffset != 0) {
        diag("WARNING: yoffset=%u at start (another overlay running?)\n", var.yoffset);
    }
    fb.shown_page = 1;
    fb.pan_done = false;
    return FbOpen::Ready;
}

Page back_page(const Framebuffer& fb) {
    const int back = back_index(fb);
    const int y = kPageYOffsets[back];
    return Page{back, page_canvas(reinterpret_cast<std::uint32_t*>(
                          fb.base + static_cast<std::size_t>(fb.stride) * y))};
}

bool present_page(Framebuffer& fb, const Page& page) {
    const int back = page.index;
    fb_var_screeninfo request = fb.saved_screen_info;
    request.yres_virtual = kFbVirtualHeight;
    request.xoffset = 0;
    request.yoffset = static_cast<std::uint32_t>(kPageYOffsets[back]);
    if (os::ioctl(fb.descriptor, FBIOPAN_DISPLAY, &request) == 0) {
        fb.pan_done = true;
        fb.shown_page = back;
        return true;
    }
    if (back == 1) {
        // The driver took the enlargement but cannot show the page at line
        // 2160: drawing on into it would leave the display frozen on the
        // other page, so from now on only the page at 1080 is drawn.
        fb.single_buffer = true;
    }
    // A refused pan leaves the page unshown.
    return false;
}

void restore_display(const Framebuffer& fb) {
    if (fb.descriptor < 0 || !fb.pan_done)
        return;
    fb_var_screeninfo request = fb.saved_screen_info;
    request.yoffset = 0;
    os::ioctl(fb.descriptor, FBIOPAN_DISPLAY, &request);
}

void close_framebuffer(Framebuffer& fb) {
    if (fb.descriptor >= 0)
        os::close(fb.descriptor);
    fb.descriptor = -1;
}
