#pragma once
// Shared by the fuzzers: the check that stops on a broken rule (aborting, so
// that libFuzzer keeps the input), the entry point, and a plain reader of
// the input bytes. The same target functions are built into a test that
// replays the committed seeds and regression inputs with gcc.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(condition)                                                            \
    do {                                                                                 \
        if (!(condition)) {                                                              \
            std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                \
        }                                                                                \
    } while (0)

#ifdef VMX_LIBFUZZER
#define VMX_FUZZ_ENTRY(target)                                                          \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { \
        return target(data, size);                                                      \
    }
#else
#define VMX_FUZZ_ENTRY(target)
#endif

// Set by the replay test: every check runs on every input, the slow ones too.
inline bool fuzz_thorough = false;

// Takes values from the front of the input, little-endian; past the end
// every byte reads 0.
class FuzzInput {
  public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    template <typename T>
    T take() {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            value |= static_cast<std::uint64_t>(byte()) << (8 * i);
        return static_cast<T>(value);
    }
    bool flag() { return (byte() & 1) != 0; }
    // A value from low to high inclusive.
    int range(int low, int high) {
        return low +
               static_cast<int>(take<std::uint32_t>() % static_cast<std::uint32_t>(high - low + 1));
    }
    std::string rest() {
        std::string text(reinterpret_cast<const char*>(data_ + used_), size_ - used_);
        used_ = size_;
        return text;
    }

  private:
    std::uint8_t byte() { return used_ < size_ ? data_[used_++] : 0; }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t used_ = 0;
};

// The targets, for the replay test.
int fuzz_cli(const std::uint8_t* data, std::size_t size);
int fuzz_high_score(const std::uint8_t* data, std::size_t size);
int fuzz_mode_gate(const std::uint8_t* data, std::size_t size);
int fuzz_keys(const std::uint8_t* data, std::size_t size);
int fuzz_draw_block(const std::uint8_t* data, std::size_t size);
int fuzz_draw_text(const std::uint8_t* data, std::size_t size);
int fuzz_replay(const std::uint8_t* data, std::size_t size);
