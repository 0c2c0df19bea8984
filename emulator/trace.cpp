// The trace of a run: its folder, the call log and the game's standard error.
#include "emulator/trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>

namespace emu {
namespace {

constexpr int kFolderCapacity = 256;

struct State {
    // The main thread and the sound thread both make calls.
    std::mutex lock;
    char folder[kFolderCapacity] = {};
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

}  // namespace

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

void set_trace_dir(const char* dir) {
    State& s = state();
    std::snprintf(s.folder, sizeof s.folder, "%s", dir ? dir : "");
    s.stderr_fd = trace_file("stderr.txt");
    if (s.log_calls && s.calls_fd < 0)
        s.calls_fd = trace_file("calls.txt");
}

int trace_file(const char* name) {
    State& s = state();
    if (s.folder[0] == 0)
        return -1;
    char path[kFolderCapacity * 2];
    int length = std::snprintf(path, sizeof path, "%s/%s", s.folder, name);
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

namespace trace {

void reset() {
    State& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    s.folder[0] = 0;
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

void log_call(Call call, const char* target, long result, int err) {
    State& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    if (!s.log_calls || s.calls_fd < 0)
        return;
    char line[256];
    int length = std::snprintf(line, sizeof line, "%ld %s %s %ld %d\n", ++s.call_seq,
                               call_name(call), target ? target : "-", result, err);
    if (length > static_cast<int>(sizeof line) - 1)
        length = sizeof line - 1;
    trace_write(s.calls_fd, line, static_cast<std::size_t>(length));
}

void standard_error(const char* text, std::size_t size) {
    State& s = state();
    {
        std::lock_guard<std::mutex> hold(s.lock);
        std::size_t room = static_cast<std::size_t>(kStderrCapacity - s.stderr_length);
        std::size_t kept = size < room ? size : room;
        std::memcpy(s.stderr_text + s.stderr_length, text, kept);
        s.stderr_length += static_cast<int>(kept);
        s.stderr_text[s.stderr_length] = 0;
    }
    trace_write(s.stderr_fd, text, size);
    if (s.echo_stderr)
        trace_write(2, text, size);
}

}  // namespace trace
}  // namespace emu
