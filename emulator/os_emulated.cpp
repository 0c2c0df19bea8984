// The OS seam on the emulated goggles: every call is logged, may be made to
// fail, and goes to a virtual device or into the sandbox folder.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <type_traits>

#include "emulator/clock.h"
#include "emulator/device.h"
#include "emulator/emulator.h"
#include "emulator/replay.h"
#include "platform/os.h"

namespace emu {
Device& framebuffer_device();
}

namespace {

using emu::Action;
using emu::Call;
using emu::Device;
using emu::Fault;

// The devices of the goggles; a new device is one file and one entry here.
Device& device_at(int index) {
    Device* list[] = {&emu::framebuffer_device(), &emu::adc_device(), &emu::pwm_device(),
                      &emu::i2c_device()};
    return *list[index];
}
constexpr int kDeviceCount = 4;

constexpr int kMaxFds = 1024;
constexpr int kMaxFaults = 32;
constexpr int kStderrCapacity = 256 * 1024;
constexpr int kPathCapacity = 256;

struct OpenFile {
    bool in_use = false;
    int device = -1;  // index of the device, or -1 for a sandbox file
    int handle = -1;
    char path[96] = {};
};

struct FaultSlot {
    Fault fault;
    char target[96];
    int seen = 0;
};

struct State {
    std::mutex lock;
    OpenFile files[kMaxFds];
    FaultSlot faults[kMaxFaults];
    int fault_count = 0;
    char sandbox[kPathCapacity] = {};
    char trace_dir[kPathCapacity] = {};
    int stderr_fd = -1;
    int calls_fd = -1;
    bool log_calls = false;
    bool echo_stderr = false;
    char stderr_text[kStderrCapacity + 1] = {};
    int stderr_length = 0;
    long call_seq = 0;
};

State& state() {
    static State instance;
    return instance;
}

void copy_text(char* out, std::size_t capacity, const char* text) {
    std::snprintf(out, capacity, "%s", text ? text : "");
}

// Names a descriptor by the path it was opened with (from a copy of its
// entry, which stays valid after the close has cleared the table).
const char* describe(const OpenFile& file, int fd) {
    if (file.in_use)
        return file.path;
    return fd == 2 ? "stderr" : "?";
}

// What the fault table says about this call, before it is carried out.
struct Verdict {
    const Fault* before = nullptr;
    const Fault* after = nullptr;
};

Verdict judge(Call call, const char* target) {
    State& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    Verdict verdict;
    for (int i = 0; i < s.fault_count; ++i) {
        FaultSlot& slot = s.faults[i];
        if (slot.fault.call != call)
            continue;
        if (slot.target[0] != 0 &&
            (target == nullptr || std::strstr(target, slot.target) == nullptr)) {
            continue;
        }
        slot.seen += 1;
        if (slot.fault.occurrence != 0 && slot.seen != slot.fault.occurrence)
            continue;
        bool late = slot.fault.after && slot.fault.action != Action::Fail;
        if (late) {
            if (verdict.after == nullptr)
                verdict.after = &slot.fault;
        } else if (verdict.before == nullptr) {
            verdict.before = &slot.fault;
        }
    }
    return verdict;
}

void carry_out(const Fault* fault) {
    if (fault == nullptr)
        return;
    if (fault->action == Action::Kill)
        _exit(fault->value);
    if (fault->action == Action::RaiseSignal)
        kill(getpid(), fault->value);
}

void log_call(Call call, const char* target, long result, int err) {
    State& s = state();
    // The main thread and the sound thread both make calls.
    std::lock_guard<std::mutex> hold(s.lock);
    if (!s.log_calls || s.calls_fd < 0)
        return;
    char line[256];
    int length = std::snprintf(line, sizeof line, "%ld %s %s %ld %d\n", ++s.call_seq,
                               emu::call_name(call), target ? target : "-", result, err);
    if (length > static_cast<int>(sizeof line) - 1)
        length = sizeof line - 1;
    emu::trace_write(s.calls_fd, line, static_cast<std::size_t>(length));
}

// Runs one seam call through the fault table and the call log. body() does
// the work; a Fail fault replaces it.
template <typename Result, typename Body>
Result seam(Call call, const char* target, Result failed, Body body) {
    Verdict verdict = judge(call, target);
    Result result;
    int err = 0;
    if (verdict.before != nullptr && verdict.before->action == Action::Fail) {
        err = verdict.before->value;
        result = failed;
    } else {
        carry_out(verdict.before);
        errno = 0;
        result = body();
        err = errno;
    }
    long shown;
    if constexpr (std::is_pointer_v<Result>) {
        shown = result == failed ? -1 : 0;
    } else {
        shown = static_cast<long>(result);
    }
    log_call(call, target, shown, shown < 0 ? err : 0);
    carry_out(verdict.after);
    errno = err;
    return result;
}

int find_device(const char* path) {
    for (int i = 0; i < kDeviceCount; ++i) {
        if (device_at(i).serves(path))
            return i;
    }
    return -1;
}

void record_open(int fd, int device, int handle, const char* path) {
    State& s = state();
    if (fd < 0 || fd >= kMaxFds)
        return;
    std::lock_guard<std::mutex> hold(s.lock);
    OpenFile& file = s.files[fd];
    file.in_use = true;
    file.device = device;
    file.handle = handle;
    copy_text(file.path, sizeof file.path, path);
}

OpenFile lookup(int fd) {
    State& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    if (fd >= 0 && fd < kMaxFds && s.files[fd].in_use)
        return s.files[fd];
    return OpenFile{};
}

void forget(int fd) {
    State& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    if (fd >= 0 && fd < kMaxFds)
        s.files[fd] = OpenFile{};
}

}  // namespace

namespace emu {

const char* call_name(Call call) {
    static const char* const names[] = {
        "open",  "close", "write",    "ioctl", "mmap",  "fsync",        "read",        "ftruncate",
        "fstat", "lstat", "readlink", "clock", "sleep", "thread_start", "thread_join", "signal"};
    static_assert(sizeof names / sizeof names[0] == static_cast<int>(Call::Signal) + 1);
    return names[static_cast<int>(call)];
}

void trace_write(int fd, const char* text, std::size_t size) {
    while (fd >= 0 && size > 0) {
        ssize_t done = ::write(fd, text, size);
        if (done <= 0)
            return;
        text += done;
        size -= static_cast<std::size_t>(done);
    }
}

void reset() {
    State& s = state();
    {
        std::lock_guard<std::mutex> hold(s.lock);
        for (OpenFile& file : s.files) {
            file = OpenFile{};
        }
        s.fault_count = 0;
        s.sandbox[0] = 0;
        s.trace_dir[0] = 0;
        if (s.stderr_fd >= 0)
            ::close(s.stderr_fd);
        if (s.calls_fd >= 0)
            ::close(s.calls_fd);
        s.stderr_fd = -1;
        s.calls_fd = -1;
        s.log_calls = false;
        s.echo_stderr = false;
        s.stderr_length = 0;
        s.stderr_text[0] = 0;
        s.call_seq = 0;
    }
    clock::reset();
    replay::reset();
    for (int i = 0; i < kDeviceCount; ++i)
        device_at(i).reset();
}

void set_sandbox(const char* dir) {
    copy_text(state().sandbox, kPathCapacity, dir);
}

void sandbox_path(const char* game_path, char* out, std::size_t capacity) {
    int length = std::snprintf(out, capacity, "%s%s%s", state().sandbox,
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

void add_fault(const Fault& fault) {
    State& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    if (s.fault_count >= kMaxFaults)
        return;
    FaultSlot& slot = s.faults[s.fault_count++];
    slot.fault = fault;
    copy_text(slot.target, sizeof slot.target, fault.target);
    slot.fault.target = nullptr;
    slot.seen = 0;
}

void set_trace_dir(const char* dir) {
    State& s = state();
    copy_text(s.trace_dir, kPathCapacity, dir);
    s.stderr_fd = trace_file("stderr.txt");
    if (s.log_calls && s.calls_fd < 0)
        s.calls_fd = trace_file("calls.txt");
}

int trace_file(const char* name) {
    State& s = state();
    if (s.trace_dir[0] == 0)
        return -1;
    char path[kPathCapacity * 2];
    int length = std::snprintf(path, sizeof path, "%s/%s", s.trace_dir, name);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof path)
        return -1;
    return ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

void log_calls(bool on) {
    State& s = state();
    s.log_calls = on;
    if (on && s.calls_fd < 0)
        s.calls_fd = trace_file("calls.txt");
}

void echo_stderr(bool on) {
    state().echo_stderr = on;
}

const char* stderr_text() {
    return state().stderr_text;
}

}  // namespace emu

namespace os {

int open(const char* path, int flags, unsigned mode) {
    return seam(Call::Open, path, -1, [&] {
        int device = find_device(path);
        if (device >= 0) {
            int handle = device_at(device).open(path, flags);
            if (handle < 0)
                return -1;
            // A real descriptor keeps the number unique among real files.
            int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (fd < 0) {
                device_at(device).close(handle);
                return -1;
            }
            record_open(fd, device, handle, path);
            return fd;
        }
        char real_path[kPathCapacity * 2];
        emu::sandbox_path(path, real_path, sizeof real_path);
        int fd = ::open(real_path, flags | O_CLOEXEC, mode);
        if (fd >= 0)
            record_open(fd, -1, -1, path);
        return fd;
    });
}

int close(int fd) {
    OpenFile file = lookup(fd);
    return seam(Call::Close, describe(file, fd), -1, [&] {
        if (file.in_use && file.device >= 0)
            device_at(file.device).close(file.handle);
        forget(fd);
        return ::close(fd);
    });
}

long write(int fd, const void* data, std::size_t size) {
    OpenFile file = lookup(fd);
    return seam(Call::Write, describe(file, fd), -1L, [&]() -> long {
        if (file.in_use && file.device >= 0)
            return device_at(file.device).write(file.handle, data, size);
        return ::write(fd, data, size);
    });
}

long read(int fd, void* data, std::size_t size) {
    OpenFile file = lookup(fd);
    return seam(Call::Read, describe(file, fd), -1L, [&]() -> long {
        if (file.in_use && file.device >= 0) {
            errno = EINVAL;  // no device of the goggles is read this way
            return -1;
        }
        return ::read(fd, data, size);
    });
}

int ftruncate(int fd, long long length) {
    OpenFile file = lookup(fd);
    return seam(Call::Ftruncate, describe(file, fd), -1, [&] {
        if (file.in_use && file.device >= 0) {
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
        char real_path[kPathCapacity * 2];
        emu::sandbox_path(path, real_path, sizeof real_path);
        return ::lstat(real_path, info);
    });
}

long readlink(const char* path, char* text, std::size_t capacity) {
    return seam(Call::Readlink, path, -1L, [&]() -> long {
        char real_path[kPathCapacity * 2];
        emu::sandbox_path(path, real_path, sizeof real_path);
        char link[kPathCapacity * 4];
        long length = ::readlink(real_path, link, sizeof link);
        if (length < 0)
            return -1;
        // A full real path into the sandbox reads as the game's path.
        const char* shown = link;
        const char* sandbox = state().sandbox;
        std::size_t prefix = std::strlen(sandbox);
        if (prefix > 0 && static_cast<std::size_t>(length) > prefix &&
            std::strncmp(link, sandbox, prefix) == 0 && link[prefix] == '/') {
            shown += prefix;
            length -= static_cast<long>(prefix);
        }
        if (static_cast<std::size_t>(length) > capacity)
            length = static_cast<long>(capacity);
        std::memcpy(text, shown, static_cast<std::size_t>(length));
        return length;
    });
}

int ioctl(int fd, unsigned long request, void* arg) {
    OpenFile file = lookup(fd);
    char target[128];
    std::snprintf(target, sizeof target, "%s#0x%lx", describe(file, fd), request);
    return seam(Call::Ioctl, target, -1, [&] {
        if (file.in_use && file.device >= 0)
            return device_at(file.device).ioctl(file.handle, request, arg);
        errno = file.in_use ? ENOTTY : EBADF;
        return -1;
    });
}

void* mmap(std::size_t length, int prot, int flags, int fd, long long offset) {
    OpenFile file = lookup(fd);
    return seam(Call::Mmap, describe(file, fd), MAP_FAILED, [&]() -> void* {
        if (file.in_use && file.device >= 0) {
            return device_at(file.device).mmap(file.handle, length, prot, flags, offset);
        }
        errno = file.in_use ? ENODEV : EBADF;
        return MAP_FAILED;
    });
}

int fsync(int fd) {
    OpenFile file = lookup(fd);
    return seam(Call::Fsync, describe(file, fd), -1, [&] {
        if (file.in_use && file.device >= 0)
            return 0;
        return ::fsync(fd);
    });
}

namespace {
// The main thread's readings are what a replay keeps; the sound thread reads
// the live clock.
bool main_thread_in_replay() {
    return (emu::replay::recording() || emu::replay::playing()) && emu::clock::on_main_thread();
}
}  // namespace

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
    // Thread starts answer an error number rather than -1 and errno.
    Verdict verdict = judge(Call::ThreadStart, nullptr);
    if (verdict.before != nullptr && verdict.before->action == Action::Fail) {
        log_call(Call::ThreadStart, nullptr, verdict.before->value, verdict.before->value);
        return verdict.before->value;
    }
    carry_out(verdict.before);
    int err = emu::clock::thread_start(thread, entry);
    log_call(Call::ThreadStart, nullptr, err, err);
    carry_out(verdict.after);
    return err;
}

int thread_join(Thread thread) {
    Verdict verdict = judge(Call::ThreadJoin, nullptr);
    if (verdict.before != nullptr && verdict.before->action == Action::Fail) {
        log_call(Call::ThreadJoin, nullptr, verdict.before->value, verdict.before->value);
        return verdict.before->value;
    }
    carry_out(verdict.before);
    int err = emu::clock::thread_join(thread);
    log_call(Call::ThreadJoin, nullptr, err, err);
    carry_out(verdict.after);
    return err;
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
    State& s = state();
    {
        std::lock_guard<std::mutex> hold(s.lock);
        std::size_t room = static_cast<std::size_t>(kStderrCapacity - s.stderr_length);
        std::size_t kept = size < room ? size : room;
        std::memcpy(s.stderr_text + s.stderr_length, text, kept);
        s.stderr_length += static_cast<int>(kept);
        s.stderr_text[s.stderr_length] = 0;
    }
    emu::trace_write(s.stderr_fd, text, size);
    if (s.echo_stderr)
        emu::trace_write(2, text, size);
}

}  // namespace os
