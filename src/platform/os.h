#pragma once
// The one door between the game and the operating system.
//
// Every call the game makes into the OS goes through these functions, with the
// same meaning, results and errno behaviour as the Linux calls they stand for.
// os_linux.cpp forwards each to the real call; the emulated goggles
// (emulator/) implement the same functions over virtual devices, so one body
// of game code runs on the goggles, in tests and in the desktop simulator.
#include <cstddef>
#include <cstdint>
#include <ctime>

struct stat;

namespace os {

int open(const char* path, int flags, unsigned mode = 0);
int close(int fd);
long read(int fd, void* data, std::size_t size);
long write(int fd, const void* data, std::size_t size);
int ftruncate(int fd, long long length);
// The file behind a descriptor, and the thing at a path itself (a link is
// described, not followed).
int fstat(int fd, struct stat* info);
int lstat(const char* path, struct stat* info);
// The text of the link at path, not terminated; its length, or -1.
long readlink(const char* path, char* text, std::size_t capacity);
int ioctl(int fd, unsigned long request, void* arg);
// Maps at an address of the system's choice; MAP_FAILED on failure.
void* mmap(std::size_t length, int prot, int flags, int fd, long long offset);
int fsync(int fd);

// CLOCK_MONOTONIC.
int clock_monotonic(struct timespec* now);
// Sleeps for the whole given microseconds: a signal handled meanwhile does
// not cut the sleep short. 0, or -1 with errno, like usleep.
int sleep_us(unsigned microseconds);

// One extra thread with default attributes. Results are error numbers as
// pthread_create and pthread_join give them (0 on success).
struct Thread {
    std::uintptr_t handle = 0;
};
using ThreadEntry = int (*)();
int thread_start(Thread* thread, ThreadEntry entry);
int thread_join(Thread thread);

// Installs a handler so that interrupted system calls restart (SA_RESTART).
int install_signal(int signal_number, void (*handler)(int));

// Writes diagnostic bytes to standard error; nothing else goes there.
void write_stderr(const char* text, std::size_t size);

}  // namespace os
