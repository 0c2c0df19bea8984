// The emulated framebuffer device /dev/fb0.
#include "emulator/framebuffer_device.h"

#include <linux/fb.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "emulator/device.h"
#include "emulator/emulator.h"
#include "emulator/trace.h"

namespace emu::fb {
namespace {

constexpr int kAreaHeight = 720;
// The goggles' pages: 1080 lines each, the drawing pages below the first.
constexpr std::uint32_t kPageLines = 1080;
constexpr int kDrawingPages = 2;

int page_at(std::uint32_t yoffset) {
    if (yoffset % kPageLines != 0 || yoffset == 0 || yoffset / kPageLines > kDrawingPages)
        return -1;
    return static_cast<int>(yoffset / kPageLines) - 1;
}

struct State {
    Settings settings;
    fb_var_screeninfo var = {};
    std::uint32_t pan_yres_virtual = 0;  // the virtual height pans are checked against
    std::uint8_t* memory = nullptr;
    std::uint32_t memory_size = 0;
    bool mapped = false;
    Pan log[kPanLogCapacity];
    int pan_count = 0;
    int trace_fd = -2;  // -2: not opened yet
    void (*pan_hook)(void*) = nullptr;
    void* pan_context = nullptr;
};

State& state() {
    static State instance;
    return instance;
}

void allocate(std::uint32_t size) {
    State& s = state();
    if (s.memory != nullptr && s.memory_size == size) {
        std::memset(s.memory, 0, size);
        return;
    }
    if (s.memory != nullptr)
        munmap(s.memory, s.memory_size);
    void* memory = ::mmap(nullptr, size == 0 ? 1 : size, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    s.memory = memory == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(memory);
    s.memory_size = s.memory ? size : 0;
}

void record_pan(const fb_var_screeninfo& request, int result) {
    State& s = state();
    Pan entry = {clock_ms(), request.xoffset, request.yoffset, request.yres_virtual, result};
    if (s.pan_count < kPanLogCapacity)
        s.log[s.pan_count] = entry;
    s.pan_count += 1;
    if (s.trace_fd == -2)
        s.trace_fd = trace_file("pans.txt");
    if (s.trace_fd >= 0) {
        char line[96];
        int length = std::snprintf(line, sizeof line, "%lld %u %d\n",
                                   static_cast<long long>(entry.time_ms), entry.yoffset, result);
        trace_write(s.trace_fd, line, static_cast<std::size_t>(length));
    }
}

class FramebufferDevice final : public Device {
  public:
    bool serves(const char* path) const override { return std::strcmp(path, "/dev/fb0") == 0; }

    void reset() override {
        State& s = state();
        if (s.trace_fd >= 0)
            ::close(s.trace_fd);
        s.trace_fd = -2;
        s.pan_hook = nullptr;
        s.pan_context = nullptr;
        configure(Settings{});
    }

    int open(const char*, int) override { return 0; }

    int ioctl(int, unsigned long request, void* arg) override {
        State& s = state();
        switch (request) {
            case FBIOGET_VSCREENINFO:
                std::memcpy(arg, &s.var, sizeof s.var);
                return 0;
            case FBIOGET_FSCREENINFO: {
                fb_fix_screeninfo fix = {};
                std::snprintf(fix.id, sizeof fix.id, "emulated fb");
                fix.smem_len = s.settings.smem_len;
                fix.line_length = s.settings.line_length;
                fix.type = FB_TYPE_PACKED_PIXELS;
                fix.visual = FB_VISUAL_TRUECOLOR;
                fix.ypanstep = 1;
                std::memcpy(arg, &fix, sizeof fix);
                return 0;
            }
            case FBIOPUT_VSCREENINFO: {
                fb_var_screeninfo request_info;
                std::memcpy(&request_info, arg, sizeof request_info);
                if (s.settings.refuse_resize ||
                    static_cast<std::uint64_t>(request_info.yres_virtual) * s.settings.line_length >
                        s.settings.smem_len ||
                    request_info.yres_virtual < s.var.yres) {
                    errno = EINVAL;
                    return -1;
                }
                s.var.yres_virtual = request_info.yres_virtual;
                if (!s.settings.pretend_resize)
                    s.pan_yres_virtual = request_info.yres_virtual;
                return 0;
            }
            case FBIOPAN_DISPLAY: {
                // The kernel checks the pan against the current virtual size
                // and resolution, not against what the request carries.
                fb_var_screeninfo request_info;
                std::memcpy(&request_info, arg, sizeof request_info);
                bool fits = request_info.xoffset + s.var.xres <= s.var.xres_virtual &&
                            request_info.yoffset + s.var.yres <= s.pan_yres_virtual;
                int result = 0;
                if (s.settings.refuse_pans || !fits) {
                    errno = EINVAL;
                    result = -1;
                } else {
                    s.var.xoffset = request_info.xoffset;
                    s.var.yoffset = request_info.yoffset;
                }
                record_pan(request_info, result);
                if (result == 0 && s.pan_hook != nullptr)
                    s.pan_hook(s.pan_context);
                return result;
            }
            default:
                errno = ENOTTY;
                return -1;
        }
    }

    void* mmap(int, std::size_t length, int, int flags, long long offset) override {
        State& s = state();
        if (offset != 0 || length == 0 || length > s.memory_size || !(flags & MAP_SHARED) ||
            s.memory == nullptr) {
            errno = EINVAL;
            return MAP_FAILED;
        }
        s.mapped = true;
        return s.memory;
    }
};

}  // namespace

void configure(const Settings& settings) {
    State& s = state();
    s.settings = settings;
    s.var = fb_var_screeninfo{};
    s.var.xres = settings.xres;
    s.var.yres = settings.yres;
    s.var.xres_virtual = settings.xres_virtual;
    s.var.yres_virtual = settings.yres_virtual;
    s.pan_yres_virtual = settings.yres_virtual;
    s.var.xoffset = settings.xoffset;
    s.var.yoffset = settings.yoffset;
    s.var.bits_per_pixel = settings.bits_per_pixel;
    s.var.red = {16, 8, 0};
    s.var.green = {8, 8, 0};
    s.var.blue = {0, 8, 0};
    s.var.transp = {24, 8, 0};
    allocate(settings.smem_len);
    s.mapped = false;
    s.pan_count = 0;
}

const Settings& settings() {
    return state().settings;
}
std::uint8_t* memory() {
    return state().memory;
}
std::uint32_t memory_size() {
    return state().memory_size;
}
std::uint32_t yoffset() {
    return state().var.yoffset;
}
std::uint32_t xoffset() {
    return state().var.xoffset;
}
int shown_page() {
    return page_at(state().var.yoffset);
}
std::uint32_t yres_virtual() {
    return state().var.yres_virtual;
}
bool mapped() {
    return state().mapped;
}
int pan_count() {
    return state().pan_count;
}
const Pan& pan(int index) {
    return state().log[index];
}

const std::uint32_t* displayed_area() {
    State& s = state();
    std::uint64_t offset = static_cast<std::uint64_t>(s.var.yoffset) * s.settings.line_length +
                           static_cast<std::uint64_t>(s.var.xoffset) * 4;
    if (s.memory == nullptr ||
        offset + static_cast<std::uint64_t>(kAreaHeight) * s.settings.line_length > s.memory_size) {
        return nullptr;
    }
    return reinterpret_cast<const std::uint32_t*>(s.memory + offset);
}

void set_pan_hook(void (*hook)(void* context), void* context) {
    state().pan_hook = hook;
    state().pan_context = context;
}

}  // namespace emu::fb

namespace emu {
Device& framebuffer_device() {
    static fb::FramebufferDevice device;
    return device;
}
}  // namespace emu
