#include "shell/startup.h"

// The release this binary belongs to, for `strings` on the goggles; the
// command line stays as it is.
[[gnu::used]] static const char kVersionText[] = "vmxbrikon " VMX_VERSION;

int main(int argc, char** argv) {
    return vmx_main(argc, argv);
}
