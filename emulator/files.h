#pragma once
// The emulated goggles' files (internal to the emulator): which virtual
// device serves a path, the sandbox folder below which every other path is
// looked up, and the table of the descriptors the game holds, each with its
// device (or none, for a sandbox file) and the path it was opened with.
#include <cstddef>

#include "emulator/device.h"

namespace emu::files {

// A sandbox folder and a game path below it.
constexpr std::size_t kRealPathCapacity = 512;

struct OpenFile {
    bool in_use = false;
    Device* device = nullptr;  // nullptr for a sandbox file
    int handle = -1;           // the device's handle
    char path[96] = {};
};

// The device that serves the path; nullptr when the sandbox holds it.
Device* device_for(const char* path);

void record_open(int fd, Device* device, int handle, const char* path);
// A copy of the descriptor's entry; not in use for a descriptor the game
// does not hold. The copy stays valid after a close has cleared the table.
OpenFile lookup(int fd);
void forget(int fd);
// Names a descriptor by the path it was opened with.
const char* describe(const OpenFile& file, int fd);

// How many of the first bytes of a link's text (length bytes, not
// terminated) are the sandbox folder's real path, when the link names a
// place inside the sandbox by it; 0 otherwise.
std::size_t sandbox_prefix(const char* link, std::size_t length);

// No descriptors, no sandbox, every device back to power-on.
void reset();

}  // namespace emu::files
