#include "shell/startup.h"

// The release this binary belongs to, for `strings` on the goggles; the
// command line stays as it is.
[[gnu::used]] static const char kVersionText[] = "vmxbrikon " VMX_VERSION;

int main(int argc, char** argv) {
    // The run's record and the display belong to the program; static, since
    // the display's lists and buffers are too large for a thread's stack.
    static RunState run;
    static Display display;
    return vmx_main(argc, argv, run, display);
}
