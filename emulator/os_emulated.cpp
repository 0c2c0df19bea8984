// The OS seam on the emulated goggles: each call goes through the fault
// table and the call log (faults.h) to a virtual device or into the sandbox
// folder (files.h), and the clock, sleeps and threads are the emulated
// clock's (clock.h). And the goggles' power-on.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "emulator/clock.h"
#include "emulator/emulator.h"
#include "emulator/faults.h"
#include "emulator/files.h"
#include "emulator/replay.h"
#include "emulator/trace.h"
#include "platform/os.h"

namespace {

using emu::Call;
using emu::seam;
using emu::files::describe;
using emu::files::lookup;
using emu::files::OpenFile;

// The main thread's readings are what a replay keeps; the sound thread reads
// the live clock.
bool main_thread_in_replay() {
    return (emu::replay::recording() || emu::replay::playing()) && emu::clock::on_main_thread();
}

// Thread calls answer an error number, not -1 and errno. They go through the
// seam as the other calls do, and come back as the number.
int as_failure(int error_number) {
    errno = error_number;
    return error_number == 0 ? 0 : -1;
}
int as_error_number(int result) {
    return result == 0 ? 0 : errno;
}

}  // namespace

namespace emu {

// The power-on lives beside the calls: whoever uses the emulated goggles
// powers them on, and so links the calls too, also where the game's
// library comes after the emulator's on the link line.
void reset() {
    faults::reset();
    trace::reset();
    clock::reset();
    replay::reset();
    // After the clock's: a device hooks the clock's sleeps at power-on.
    files::reset();
}

}  // namespace emu

namespace os {

int open(const char* path, int flags, unsigned mode) {
    return seam(Call::Open, path, -1, [&] {
        if (emu::Device* device = emu::files::device_for(path)) {
            int handle = device->open(path, flags);
            if (handle < 0)
                return -1;
            // A real descriptor keeps the number unique among real files.
            int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (fd < 0) {
                device->close(handle);
                return -1;
            }
            emu::files::record_open(fd, device, handle, path);
            return fd;
        }
        char real_path[emu::files::kRealPathCapacity];
        emu::sandbox_path(path, real_path, sizeof real_path);
        int fd = ::open(real_path, flags | O_CLOEXEC, mode);
        if (fd >= 0)
            emu::files::record_open(fd, nullptr, -1, path);
        return fd;
    });
}

int close(int fd) {
    OpenFile file = lookup(fd);
    return seam(Call::Close, describe(file, fd), -1, [&] {
        if (file.device != nullptr)
            file.device->close(file.handle);
        emu::files::forget(fd);
        return ::close(fd);
    });
}

long read(int fd, void* data, std::size_t size) {
    OpenFile file = lookup(fd);
    return seam(Call::Read, describe(file, fd), -1L, [&]() -> long {
        if (file.device != nullptr) {
            errno = EINVAL;  // no device of the goggles is read this way
            return -1;
        }
        return ::read(fd, data, size);
    });
}

long write(int fd, const void* data, std::size_t size) {
    OpenFile file = lookup(fd);
    return seam(Call::Write, describe(file, fd), -1L, [&]() -> long {
        if (file.device != nullptr)
            return file.device->write(file.handle, data, size);
        return ::write(fd, data, size);
    });
}

int ftruncate(int fd, long long length) {
    OpenFile file = lookup(fd);
    return seam(Call::Ftruncate, describe(file, fd), -1, [&] {
        if (file.device != nullptr) {
            errno = EINVAL;
            return -1;
        }
        return ::ftruncate(fd, static_cast<off_t>(length));
    });
}

int fstat(int fd, struct stat* info) {
    OpenFile file = lookup(fd);
    // A device's descriptor is a character device, as the real ones are.
    return seam(Call::Fstat, describe(file, fd), -1, [&] { return ::fstat(fd, info); });
}

int lstat(const char* path, struct stat* info) {
    return seam(Call::Lstat, path, -1, [&] {
        char real_path[emu::files::kRealPathCapacity];
        emu::sandbox_path(path, real_path, sizeof real_path);
        return ::lstat(real_path, info);
    });
}

long readlink(const char* path, char* text, std::size_t capacity) {
    return seam(Call::Readlink, path, -1L, [&]() -> long {
        char real_path[emu::files::kRealPathCapacity];
        emu::sandbox_path(path, real_path, sizeof real_path);
        char link[2 * emu::files::kRealPathCapacity];
        long length = ::readlink(real_path, link, sizeof link);
        if (length < 0)
            return -1;
        // A full real path into the sandbox reads as the game's path.
        const std::size_t cut = emu::files::sandbox_prefix(link, static_cast<std::size_t>(length));
        std::size_t shown = static_cast<std::size_t>(length) - cut;
        if (shown > capacity)
            shown = capacity;
        std::memcpy(text, link + cut, shown);
        return static_cast<long>(shown);
    });
}

int ioctl(int fd, unsigned long request, void* arg) {
    OpenFile file = lookup(fd);
    char target[128];
    std::snprintf(target, sizeof target, "%s#0x%lx", describe(file, fd), request);
    return seam(Call::Ioctl, target, -1, [&] {
        if (file.device != nullptr)
            return file.device->ioctl(file.handle, request, arg);
        errno = file.in_use ? ENOTTY : EBADF;
        return -1;
    });
}

void* mmap(std::size_t length, int prot, int flags, int fd, long long offset) {
    OpenFile file = lookup(fd);
    return seam(Call::Mmap, describe(file, fd), MAP_FAILED, [&]() -> void* {
        if (file.device != nullptr)
            return file.device->mmap(file.handle, length, prot, flags, offset);
        errno = file.in_use ? ENODEV : EBADF;
        return MAP_FAILED;
    });
}

int fsync(int fd) {
    OpenFile file = lookup(fd);
    return seam(Call::Fsync, describe(file, fd), -1, [&] {
        if (file.device != nullptr)
            return 0;
        return ::fsync(fd);
    });
}

int clock_monotonic(struct timespec* now) {
    std::int64_t ns =
        main_thread_in_replay() ? emu::replay::clock_ns(emu::clock_ns()) : emu::clock_ns();
    now->tv_sec = static_cast<time_t>(ns / 1000000000);
    now->tv_nsec = static_cast<long>(ns % 1000000000);
    return 0;
}

int sleep_us(unsigned microseconds) {
    const bool kept = main_thread_in_replay();
    if (kept)
        emu::replay::sleeping(microseconds);
    const int result =
        seam(Call::Sleep, nullptr, -1, [&] { return emu::clock::sleep_us(microseconds); });
    if (kept)
        emu::replay::woke();
    return result;
}

int thread_start(Thread* thread, ThreadEntry entry) {
    return as_error_number(seam(Call::ThreadStart, nullptr, -1, [&] {
        return as_failure(emu::clock::thread_start(thread, entry));
    }));
}

int thread_join(Thread thread) {
    return as_error_number(seam(Call::ThreadJoin, nullptr, -1,
                                [&] { return as_failure(emu::clock::thread_join(thread)); }));
}

int install_signal(int signal_number, void (*handler)(int)) {
    char target[16];
    std::snprintf(target, sizeof target, "%d", signal_number);
    return seam(Call::Signal, target, -1, [&] {
        struct sigaction action = {};
        action.sa_handler = emu::replay::signal_handler(signal_number, handler);
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        return ::sigaction(signal_number, &action, nullptr);
    });
}

void write_stderr(const char* text, std::size_t size) {
    emu::trace::standard_error(text, size);
}

}  // namespace os
