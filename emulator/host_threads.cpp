// Threads of the host's own, beside the game's: how they run is turns.h's.
#include "emulator/emulator.h"
#include "emulator/turns.h"

namespace emu {

int host_thread_start(std::uintptr_t* handle, void* (*entry)(void*), void* arg) {
    return turns::start(handle, entry, arg);
}

int host_thread_join(std::uintptr_t handle) {
    return turns::join(handle);
}

std::uintptr_t thread_self() {
    return turns::self();
}

}  // namespace emu
