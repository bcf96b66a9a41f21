// Signal handling: the fatal signals SIGFPE, SIGILL and SIGSEGV print what
// happened and where (the program-place stack), then end with status 1; the
// interrupt signals and the signals of failed output are set up for a run
// that never loses its report without saying so.
#pragma once

namespace bayescreen {

// Installs dosignals for SIGFPE, SIGILL and SIGSEGV.
void set_errsignals();
// The same; the driver calls it first thing in a run.
void seterr_signals();
// The handler: the signal's message, the program places, status 1.
void dosignals(int sig);

// Sets up the signals of a run:
// - SIGPIPE and SIGXFSZ are ignored, so that a reader that quits early or a
//   file-size limit makes a write fail (and the log's checks report it)
//   instead of killing the run;
// - SIGINT, SIGTERM and SIGHUP end the run through dointerrupt, and so does
//   SIGQUIT, which only restores the terminal. A signal that the run was
//   started with ignored (as under nohup) stays ignored.
void set_run_signals();
// Restores the terminal after the key-press pause; for SIGINT, SIGTERM and
// SIGHUP flushes the log and ends it with the line that says the run was
// interrupted (once the write under way, if any, is complete); removes a
// result file still under its temporary name; then ends the process by the
// signal itself.
void dointerrupt(int sig);

}  // namespace bayescreen
