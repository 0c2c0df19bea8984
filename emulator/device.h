#pragma once
// What a virtual device offers the emulated OS seam. Each device of the
// goggles is one file in this folder implementing this interface and listed
// once in files.cpp.
#include <sys/mman.h>

#include <cerrno>
#include <cstddef>

namespace emu {

class Device {
  public:
    virtual ~Device() = default;
    // Whether this device answers for the path.
    virtual bool serves(const char* path) const = 0;
    // Back to power-on.
    virtual void reset() = 0;
    // A handle of the device's own choosing (>= 0), or -1 with errno.
    virtual int open(const char* path, int flags) = 0;
    virtual int close(int /*handle*/) { return 0; }
    virtual long write(int /*handle*/, const void* /*data*/, std::size_t /*size*/) {
        errno = EINVAL;
        return -1;
    }
    virtual int ioctl(int /*handle*/, unsigned long /*request*/, void* /*arg*/) {
        errno = ENOTTY;
        return -1;
    }
    virtual void* mmap(int /*handle*/, std::size_t /*length*/, int /*prot*/, int /*flags*/,
                       long long /*offset*/) {
        errno = ENODEV;
        return MAP_FAILED;
    }
};

// The devices of the goggles, each defined in its own file.
Device& framebuffer_device();
Device& adc_device();
Device& pwm_device();
Device& i2c_device();

}  // namespace emu
