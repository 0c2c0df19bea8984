// The long fills and the copies of whole runs of pixels on every processor
// but 32-bit ARM: the C library's, which use the widest stores the processor
// has, chosen when the program starts.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>

#include "display/pixel_runs.h"

static_assert(sizeof(wchar_t) == sizeof(std::uint32_t), "a pixel fills as one wchar_t");

// A long run goes to wmemset (a pixel is one wchar_t here); a shorter one
// is not worth the call. Runs of eight let the compiler use its widest
// stores without knowing n.
void fill_pixels(std::uint32_t* to, int n, std::uint32_t colour) {
    constexpr int kLongRun = 64;
    if (n >= kLongRun) {
        std::wmemset(reinterpret_cast<wchar_t*>(to), static_cast<wchar_t>(colour),
                     static_cast<std::size_t>(n));
        return;
    }
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        for (int k = 0; k < 8; ++k)
            to[i + k] = colour;
    }
    for (; i < n; ++i)
        to[i] = colour;
}

void copy_pixels(std::uint32_t* to, const std::uint32_t* from, int n) {
    if (n > 0)
        std::memcpy(to, from, static_cast<std::size_t>(n) * sizeof *to);
}
