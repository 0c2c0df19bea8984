#include "platform/stop.h"

std::atomic<int> stop_flag{0};
