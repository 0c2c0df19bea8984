// The real operating system behind os.h: each function is the Linux call.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/os.h"

namespace os {

int open(const char* path, int flags, unsigned mode) {
    return ::open(path, flags, mode);
}
int close(int fd) {
    return ::close(fd);
}
long read(int fd, void* data, std::size_t size) {
    return ::read(fd, data, size);
}
long write(int fd, const void* data, std::size_t size) {
    return ::write(fd, data, size);
}
int ftruncate(int fd, long long length) {
    return ::ftruncate(fd, static_cast<off_t>(length));
}
int fstat(int fd, struct stat* info) {
    return ::fstat(fd, info);
}
int lstat(const char* path, struct stat* info) {
    return ::lstat(path, info);
}
long readlink(const char* path, char* text, std::size_t capacity) {
    return ::readlink(path, text, capacity);
}
int ioctl(int fd, unsigned long request, void* arg) {
    return ::ioctl(fd, request, arg);
}

void* mmap(std::size_t length, int prot, int flags, int fd, long long offset) {
    return ::mmap(nullptr, length, prot, flags, fd, static_cast<off_t>(offset));
}

int fsync(int fd) {
    return ::fsync(fd);
}

int clock_monotonic(struct timespec* now) {
    return ::clock_gettime(CLOCK_MONOTONIC, now);
}

int sleep_us(unsigned microseconds) {
    struct timespec want = {static_cast<time_t>(microseconds / 1000000),
                            static_cast<long>(microseconds % 1000000) * 1000};
    // A signal handled on this thread ends nanosleep early; the rest is slept
    // too, so that a tone plays to its end and a settle wait is never short.
    // The stop request is still seen: the main loop looks at it after every
    // short pass sleep.
    struct timespec left = {};
    while (::nanosleep(&want, &left) != 0) {
        if (errno != EINTR)
            return -1;
        want = left;
    }
    return 0;
}

namespace {
void* run_entry(void* entry) {
    reinterpret_cast<ThreadEntry>(entry)();
    return nullptr;
}
}  // namespace

int thread_start(Thread* thread, ThreadEntry entry) {
    pthread_t id;
    int err = ::pthread_create(&id, nullptr, run_entry, reinterpret_cast<void*>(entry));
    if (err == 0)
        thread->handle = static_cast<std::uintptr_t>(id);
    return err;
}

int thread_join(Thread thread) {
    return ::pthread_join(static_cast<pthread_t>(thread.handle), nullptr);
}

int install_signal(int signal_number, void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(signal_number, &action, nullptr);
}

void write_stderr(const char* text, std::size_t size) {
    while (size > 0) {
        ssize_t done = ::write(2, text, size);
        if (done <= 0)
            return;
        text += done;
        size -= static_cast<std::size_t>(done);
    }
}

}  // namespace os
