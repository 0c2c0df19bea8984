#include "shell/startup.h"

// The release this binary belongs to, for `strings` on the goggles; the
// command line stays as it is.
[[gnu::used]] static const char kVersionText[] = "vmxbrikon " VMX_VERSION;

int main(int argc, char** argv) {
    // The run's record and the display belong to the program for its whole
    // life: made here, before anything starts, and passed down. The display
    // is some 200 KiB of the main thread's stack.
    RunState run;
    Display display;
    return vmx_main(argc, argv, run, display);
}
