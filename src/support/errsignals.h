// Handlers for the fatal signals SIGFPE, SIGILL and SIGSEGV: print what
// happened and where (the program-place stack), then end with status 1.
#pragma once

namespace bayescreen {

// Installs dosignals for SIGFPE, SIGILL and SIGSEGV.
void set_errsignals();
// The same; the driver calls it first thing in a run.
void seterr_signals();
// The handler: the signal's message, the program places, status 1.
void dosignals(int sig);

}  // namespace bayescreen
