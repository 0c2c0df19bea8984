// Real threads: a waiting thread blocks on one condition variable, which
// every change wakes.
#include <pthread.h>

#include <condition_variable>

#include "emulator/turns.h"

namespace emu::turns {
namespace {

std::condition_variable& condition() {
    static std::condition_variable instance;
    return instance;
}

}  // namespace

bool in_turns_always() {
    return false;
}

void wait(std::unique_lock<std::mutex>& hold, Ready ready, const void* context) {
    condition().wait(hold, [&] { return ready(context); });
}

void changed() {
    condition().notify_all();
}

int start(std::uintptr_t* handle, void* (*entry)(void*), void* arg) {
    pthread_t id;
    const int err = pthread_create(&id, nullptr, entry, arg);
    if (err == 0)
        *handle = static_cast<std::uintptr_t>(id);
    return err;
}

int join(std::uintptr_t handle) {
    return pthread_join(static_cast<pthread_t>(handle), nullptr);
}

std::uintptr_t self() {
    return static_cast<std::uintptr_t>(pthread_self());
}

}  // namespace emu::turns
