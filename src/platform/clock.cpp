#include "platform/clock.h"

#include <ctime>

#include "platform/os.h"

ClockReading read_clock() {
    struct timespec now = {};
    os::clock_monotonic(&now);
    const std::int64_t seconds = now.tv_sec;
    // Nanoseconds are below 10^9 and fit the 32 bits of a long on the goggles.
    const long nanoseconds = now.tv_nsec;
    return ClockReading{seconds * 1000000 + nanoseconds / 1000,
                        seconds * 1000 + nanoseconds / 1000000};
}

std::int64_t now_ms() {
    return read_clock().ms;
}
