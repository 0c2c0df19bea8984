#include "platform/clock.h"

#include <ctime>

#include "platform/os.h"

std::int64_t now_us() {
    struct timespec now = {};
    os::clock_monotonic(&now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

std::int64_t now_ms() {
    return now_us() / 1000;
}
