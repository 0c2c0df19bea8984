#include "shell/startup.h"

int main(int argc, char** argv) { return vmx_main(argc, argv); }
