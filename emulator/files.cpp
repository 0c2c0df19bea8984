// The emulated goggles' files: the devices by path, the sandbox, the table
// of descriptors.
#include "emulator/files.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#include "emulator/emulator.h"

namespace emu {
namespace {

constexpr int kMaxFds = 1024;
constexpr int kSandboxCapacity = 256;

// The devices of the goggles; a new device is one file and one entry here.
Device& device_at(int index) {
    Device* list[] = {&framebuffer_device(), &adc_device(), &pwm_device(), &i2c_device()};
    return *list[index];
}
constexpr int kDeviceCount = 4;

struct Table {
    // The main thread and the sound thread both open and close files.
    std::mutex lock;
    files::OpenFile files[kMaxFds];
    char sandbox[kSandboxCapacity] = {};
};

Table& table() {
    static Table instance;
    return instance;
}

}  // namespace

void set_sandbox(const char* dir) {
    char* sandbox = table().sandbox;
    std::snprintf(sandbox, kSandboxCapacity, "%s", dir ? dir : "");
}

void sandbox_path(const char* game_path, char* out, std::size_t capacity) {
    int length = std::snprintf(out, capacity, "%s%s%s", table().sandbox,
                               game_path[0] == '/' ? "" : "/", game_path);
    // A path that does not fit names nothing: an empty one fails every call.
    if (length < 0 || static_cast<std::size_t>(length) >= capacity)
        out[0] = 0;
}

void make_dirs(const char* path) {
    char folder[4096];
    int length = std::snprintf(folder, sizeof folder, "%s", path);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof folder)
        return;
    for (char* slash = std::strchr(folder + 1, '/'); slash != nullptr;
         slash = std::strchr(slash + 1, '/')) {
        *slash = 0;
        ::mkdir(folder, 0755);
        *slash = '/';
    }
    ::mkdir(folder, 0755);
}

namespace files {

Device* device_for(const char* path) {
    for (int i = 0; i < kDeviceCount; ++i) {
        if (device_at(i).serves(path))
            return &device_at(i);
    }
    return nullptr;
}

void record_open(int fd, Device* device, int handle, const char* path) {
    if (fd < 0 || fd >= kMaxFds)
        return;
    Table& t = table();
    std::lock_guard<std::mutex> hold(t.lock);
    OpenFile& file = t.files[fd];
    file.in_use = true;
    file.device = device;
    file.handle = handle;
    std::snprintf(file.path, sizeof file.path, "%s", path ? path : "");
}

OpenFile lookup(int fd) {
    Table& t = table();
    std::lock_guard<std::mutex> hold(t.lock);
    if (fd >= 0 && fd < kMaxFds && t.files[fd].in_use)
        return t.files[fd];
    return OpenFile{};
}

void forget(int fd) {
    Table& t = table();
    std::lock_guard<std::mutex> hold(t.lock);
    if (fd >= 0 && fd < kMaxFds)
        t.files[fd] = OpenFile{};
}

const char* describe(const OpenFile& file, int fd) {
    if (file.in_use)
        return file.path;
    return fd == 2 ? "stderr" : "?";
}

std::size_t sandbox_prefix(const char* link, std::size_t length) {
    const char* sandbox = table().sandbox;
    std::size_t prefix = std::strlen(sandbox);
    if (prefix > 0 && length > prefix && std::strncmp(link, sandbox, prefix) == 0 &&
        link[prefix] == '/') {
        return prefix;
    }
    return 0;
}

void reset() {
    Table& t = table();
    {
        std::lock_guard<std::mutex> hold(t.lock);
        for (OpenFile& file : t.files)
            file = OpenFile{};
        t.sandbox[0] = 0;
    }
    for (int i = 0; i < kDeviceCount; ++i)
        device_at(i).reset();
}

}  // namespace files
}  // namespace emu
