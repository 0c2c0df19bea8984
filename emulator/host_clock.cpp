#include "emulator/host_clock.h"

#include <time.h>

namespace emu {

std::int64_t host_now_ns() {
    struct timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace emu
