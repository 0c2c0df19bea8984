#pragma once
// The emulated goggles: the OS seam (src/platform/os.h) implemented over
// virtual devices, and the control panel that tests and the simulator use to
// set them up, script them and read what the game did.
//
// Everything here is process-wide, as the game is. Scenario tests run each
// game in a child process; in-process tests call reset() between cases.
#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace emu {

// Back to power-on: default devices, real time, no faults, no trace, no
// sandbox. Keeps nothing from earlier runs.
void reset();

// ---- Files -------------------------------------------------------------
// Paths no device serves (the high-score file among them) are looked up
// below this folder: "/record/x" becomes "<dir>/record/x". A link in the
// sandbox whose text names a place inside the sandbox by its full real path
// reads back as the game's path of that place, so absolute links work alike
// whether the kernel or the game follows them.
void set_sandbox(const char* dir);
// The sandbox path for a game path, written into out (a fixed buffer).
void sandbox_path(const char* game_path, char* out, std::size_t capacity);
// Makes the folder at path on this machine and every folder above it, as a
// sandbox or a data folder needs them; folders already there stay as they are.
void make_dirs(const char* path);

// ---- Time --------------------------------------------------------------
// Virtual time starts here, so that the game never sees a clock near 0.
constexpr std::int64_t kVirtualStartMs = 10000;

// Virtual time moves only when every game thread sleeps (or the main thread
// waits in a join): then it jumps to the earliest wake-up. Runs are
// deterministic and as fast as the machine allows.
void use_virtual_time(bool on);
// Virtual time paced by its host (the web page paces it by the display):
// the clock moves no further than limit_ns, and a thread due later sleeps
// until the host raises the limit. kUnpaced: as fast as the machine allows.
constexpr std::int64_t kUnpaced = INT64_MAX;
void pace_virtual_time(std::int64_t limit_ns);
std::int64_t clock_ns();  // the clock the game sees
inline std::int64_t clock_ms() {
    return clock_ns() / 1000000;
}

// Runs action(context) when virtual time reaches at_ms, on the thread that
// moves the clock, before any game thread wakes. Actions beyond
// kMaxTimedActions pending are dropped.
constexpr int kMaxTimedActions = 256;
using TimedAction = void (*)(void* context);
void at_time(std::int64_t at_ms, TimedAction action, void* context);

// Sends a real signal to the process when the clock reaches at_ms.
void raise_signal_at(std::int64_t at_ms, int signal_number);

// Calls hook(context, wake_ns) with the sleeping thread's wake time whenever
// a game thread goes to sleep (devices latch their inputs there). Up to 8.
using SleepHook = void (*)(void* context, std::int64_t wake_ns);
void add_sleep_hook(SleepHook hook, void* context);

// ---- Threads -------------------------------------------------------------
// A thread of the host's own (the simulator's session runs the game's main
// thread on one), and the calling thread's identity; in the browser's build
// without threads, fibers that take turns (see run_turns).
int host_thread_start(std::uintptr_t* handle, void* (*entry)(void*), void* arg);
int host_thread_join(std::uintptr_t handle);
std::uintptr_t thread_self();

// The build without threads only: runs the fibers in turns until every one
// has ended, handing the rest of the time to the browser's event loop.
// idle() is called before each such hand-over. Paced (present is set):
// once every fiber sleeps past the clock's limit, the event loop has the
// time until the next display frame, and then the limit becomes present();
// unpaced, until the next fiber is due.
struct TurnsHost {
    void (*idle)() = nullptr;
    std::int64_t (*present)() = nullptr;
};
void run_turns(const TurnsHost& host);

// ---- Faults ------------------------------------------------------------
enum class Call {
    Open,
    Close,
    Write,
    Ioctl,
    Mmap,
    Fsync,
    Read,
    Ftruncate,
    Fstat,
    Lstat,
    Readlink,
    Clock,
    Sleep,
    ThreadStart,
    ThreadJoin,
    Signal,
};
const char* call_name(Call call);

enum class Action {
    Fail,         // the call fails with errno = value
    RaiseSignal,  // signal number value is raised, then the call goes on
    Kill,         // the process ends at once (_exit with status value)
};

struct Fault {
    Call call = Call::Open;
    const char* target = nullptr;  // substring of the call's target; nullptr: any
    int occurrence = 1;            // the n-th matching call; 0: every one
    Action action = Action::Fail;
    int value = EIO;
    bool after = false;  // RaiseSignal and Kill: after the call has been carried out
};
// Faults beyond kMaxFaults are dropped.
constexpr int kMaxFaults = 32;
void add_fault(const Fault& fault);

// ---- Trace -------------------------------------------------------------
// Writes stderr.txt, pans.txt and (with call logging) calls.txt into dir.
void set_trace_dir(const char* dir);
// Opens (creating) a file of the trace folder for a device; -1 without one.
int trace_file(const char* name);
// Every call through the seam as a line "seq call target result errno".
void log_calls(bool on);
// Standard error also goes to the real standard error.
void echo_stderr(bool on);
// What the game has written to standard error so far, its first
// kStderrCapacity bytes.
constexpr int kStderrCapacity = 256 * 1024;
const char* stderr_text();

}  // namespace emu
