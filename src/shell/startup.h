#pragma once

// The whole program: command line, start-up, main loop, shutdown. Returns
// the exit status (0 normal stop or probe, 1 display or sound thread
// unusable, 2 bad command line or refused video mode).
int vmx_main(int argc, const char* const* argv);
