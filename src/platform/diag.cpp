#include "platform/diag.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/os.h"

namespace {
constexpr int kLineCapacity = 256;

void emit(const char* text, int length) {
    if (length < 0)
        return;
    if (length >= kLineCapacity)
        length = kLineCapacity - 1;
    os::write_stderr(text, static_cast<std::size_t>(length));
}
}  // namespace

void diag(const char* format, ...) {
    char line[kLineCapacity];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    emit(line, length);
}

void diag_error(const char* prefix) {
    int err = errno;
    char line[kLineCapacity];
    emit(line, std::snprintf(line, sizeof line, "%s: %s\n", prefix, std::strerror(err)));
}
