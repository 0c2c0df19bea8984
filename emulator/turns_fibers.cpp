// Fibers taking turns on one thread, for the browser's build: the host
// (whoever calls run_turns) is the scheduler. A fiber that waits hands over
// to the host, which resumes the first fiber whose wait is over, or, when
// every fiber waits for the clock, gives the browser's event loop the time:
// until the next display frame where the host paces the clock, or until the
// next fiber is due.
#include <emscripten/emscripten.h>
#include <emscripten/fiber.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "emulator/clock.h"
#include "emulator/emulator.h"
#include "emulator/host_clock.h"
#include "emulator/turns.h"

namespace emu::turns {
namespace {

constexpr int kMaxFibers = 8;
constexpr std::size_t kStackBytes = 1 << 20;
// The compiler takes the stack pointer to be 16-byte aligned: it may form
// the address of an element of a local array with an OR rather than an
// add. A heap block may be only 8-byte aligned, and on a stack 8 bytes off
// such an element is read from the wrong place (a call meant for one device
// went to another). So a fiber's stack starts on a 16-byte boundary within
// a block that has room to spare.
constexpr std::size_t kStackAlign = 16;
// Asyncify keeps a fiber's call chain here while it is not running.
constexpr std::size_t kChainBytes = 64 << 10;
// The fibers may keep the clock running for a long while (a test's virtual
// time, or a page catching up after a stall): the page still hears from the
// worker this often.
constexpr std::int64_t kMaxBusyNs = 20000000;
constexpr std::uintptr_t kHostId = 1;

struct Fiber {
    emscripten_fiber_t context;
    std::vector<char> stack;
    std::vector<char> chain;
    void* (*entry)(void*) = nullptr;
    void* arg = nullptr;
    bool in_use = false;
    bool fresh = false;
    bool done = false;
    Ready ready = nullptr;
    const void* ready_context = nullptr;
};

Fiber fibers[kMaxFibers];
emscripten_fiber_t host_fiber;
std::vector<char> host_chain;
int current = -1;  // the fiber running now; -1 for the host
// When the host last had the event loop's time.
std::int64_t handed_back_ns = 0;

// Gives the browser's event loop ms milliseconds. A message between the
// timer and the return keeps the timers from nesting, which browsers would
// stretch to 4 ms each.
// clang-format off
EM_ASYNC_JS(void, give_event_loop, (double ms), {
    await new Promise((resolve) => {
        const channel = new MessageChannel();
        channel.port1.onmessage = () => {
            channel.port1.close();
            resolve();
        };
        if (ms > 0)
            setTimeout(() => channel.port2.postMessage(0), ms);
        else
            channel.port2.postMessage(0);
    });
});

// Gives the browser's event loop the time until the next display frame (a
// worker's animation frame; a timer where a worker has none).
EM_ASYNC_JS(void, await_display_frame, (), {
    await new Promise((resolve) => {
        if (typeof requestAnimationFrame === 'function')
            requestAnimationFrame(() => resolve());
        else
            setTimeout(resolve, 16);
    });
});
// clang-format on

void run_fiber(void* index) {
    Fiber& fiber = fibers[reinterpret_cast<std::intptr_t>(index)];
    fiber.entry(fiber.arg);
    fiber.done = true;
    // A fiber's first function must never return: it hands over for good.
    emscripten_fiber_swap(&fiber.context, &host_fiber);
}

// The fiber to run next: a new one first, then one whose wait is over.
int next_fiber() {
    for (int i = 0; i < kMaxFibers; ++i) {
        if (fibers[i].in_use && !fibers[i].done && fibers[i].fresh)
            return i;
    }
    for (int i = 0; i < kMaxFibers; ++i) {
        const Fiber& fiber = fibers[i];
        if (fiber.in_use && !fiber.done && fiber.ready != nullptr &&
            fiber.ready(fiber.ready_context))
            return i;
    }
    return -1;
}

bool any_left() {
    for (const Fiber& fiber : fibers) {
        if (fiber.in_use && !fiber.done)
            return true;
    }
    return false;
}

}  // namespace

bool in_turns_always() {
    return true;
}

void wait(std::unique_lock<std::mutex>& hold, Ready ready, const void* context) {
    if (current < 0)
        return;  // the host never waits: it is the one that hands out turns
    Fiber& fiber = fibers[current];
    fiber.ready = ready;
    fiber.ready_context = context;
    // A fiber whose waits are all over at once (the clock let far ahead,
    // as a seek in a replay does) still hands over now and then, so that
    // the page hears from the worker, and the worker from the page.
    bool host_due = host_now_ns() - handed_back_ns >= kMaxBusyNs;
    while (host_due || !ready(context)) {
        host_due = false;
        hold.unlock();
        emscripten_fiber_swap(&fiber.context, &host_fiber);
        hold.lock();
    }
    fiber.ready = nullptr;
}

void changed() {}

int start(std::uintptr_t* handle, void* (*entry)(void*), void* arg) {
    for (int i = 0; i < kMaxFibers; ++i) {
        Fiber& fiber = fibers[i];
        if (fiber.in_use && !fiber.done)
            continue;
        fiber.stack.resize(kStackBytes + kStackAlign);
        void* stack = fiber.stack.data();
        std::size_t room = fiber.stack.size();
        std::align(kStackAlign, kStackBytes, stack, room);
        fiber.chain.resize(kChainBytes);
        fiber.entry = entry;
        fiber.arg = arg;
        fiber.in_use = true;
        fiber.fresh = true;
        fiber.done = false;
        fiber.ready = nullptr;
        emscripten_fiber_init(&fiber.context, run_fiber, reinterpret_cast<void*>(std::intptr_t{i}),
                              stack, kStackBytes, fiber.chain.data(), fiber.chain.size());
        *handle = kHostId + 1 + static_cast<std::uintptr_t>(i);
        return 0;
    }
    return EAGAIN;
}

namespace {
bool ended(const void* fiber) {
    return static_cast<const Fiber*>(fiber)->done;
}
}  // namespace

int join(std::uintptr_t handle) {
    if (handle <= kHostId || handle > kHostId + kMaxFibers)
        return ESRCH;
    Fiber& fiber = fibers[handle - kHostId - 1];
    if (current < 0)
        return fiber.done ? 0 : EDEADLK;
    std::mutex unused;
    std::unique_lock<std::mutex> hold(unused);
    wait(hold, ended, &fiber);
    return 0;
}

std::uintptr_t self() {
    return current < 0 ? kHostId : kHostId + 1 + static_cast<std::uintptr_t>(current);
}

}  // namespace emu::turns

namespace emu {

void run_turns(const TurnsHost& host) {
    using namespace turns;
    host_chain.resize(kChainBytes);
    emscripten_fiber_init_from_current_context(&host_fiber, host_chain.data(), host_chain.size());
    const bool paced = host.present != nullptr;
    handed_back_ns = host_now_ns();
    for (;;) {
        const int next = next_fiber();
        if (next >= 0 && host_now_ns() - handed_back_ns < kMaxBusyNs) {
            Fiber& fiber = fibers[next];
            fiber.fresh = false;
            current = next;
            emscripten_fiber_swap(&host_fiber, &fiber.context);
            current = -1;
            continue;
        }
        if (next < 0 && !any_left())
            return;
        std::int64_t wait_ns = next >= 0 ? 0 : clock::real_wait_ns();
        // Paced, no fiber's turn comes before the host raises the limit.
        const bool held = wait_ns < 0 && paced;
        if (wait_ns < 0 && !held)
            return;  // every fiber waits, and nothing will wake any
        if (host.idle != nullptr)
            host.idle();
        if (held) {
            await_display_frame();
            pace_virtual_time(host.present());
        } else {
            // Whole milliseconds, rounded up: a browser's timer drops the
            // fraction, so a wait of 1.9 ms would come back after 1 and
            // then go round in waits of none until the fiber is due. A
            // fiber wakes up to 1 ms late instead, as a sleeping thread may.
            give_event_loop(static_cast<double>((wait_ns + 999999) / 1000000));
        }
        handed_back_ns = host_now_ns();
    }
}

}  // namespace emu
