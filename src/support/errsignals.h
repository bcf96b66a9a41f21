// Handlers for the fatal signals SIGFPE, SIGILL and SIGSEGV: print what
// happened and where (the program-place stack), then end with status 1.
#pragma once

namespace bayescreen {

void set_errsignals();
void seterr_signals();
void dosignals(int sig);

}  // namespace bayescreen
