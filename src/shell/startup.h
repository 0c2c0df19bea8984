#pragma once

#include "display/display.h"
#include "shell/main_loop.h"

// The whole program: command line, start-up, main loop, shutdown, with the
// run's record and the display the caller made (fresh ones for each call).
// Returns the exit status (0 normal stop or probe, 1 display or sound
// thread unusable, 2 bad command line or refused video mode).
int vmx_main(int argc, const char* const* argv, RunState& run, Display& display);
