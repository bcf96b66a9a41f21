#include "cli/errsignals.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "cli/atomicfile.h"
#include "support/helpers.h"
#include "support/logfile.h"
#include "support/showplaces.h"

namespace bayescreen {

void dosignals(int sig) {
  switch (sig) {
    case 2: printf("\nSIGINT INTERRUPT!  (SIGINT signal)\n"); break;
    case 4: printf("\nILLEGAL OPERATION EXCEPTION!  (SIGILL signal)\n"); break;
    case 8: printf("\nINTEGER OR FLOATING POINT EXCEPTION!  (SIGFPE signal)\n"); break;
    case 11: printf("\nSEGMENTATION FAULT!  (SIGSEGV signal)\n"); break;
    case 15: printf("\nSIGTERM INTERRUPT!  (SIGTERM signal)\n"); break;
    case 21: printf("\nSIGBREAK INTERRUPT!  (SIGBREAK signal)\n"); break;
    case 22: printf("\nCODE ABORT!  (SIGABRT signal)\n"); break;
    default: printf("\nUNKNOWN TRAPPED SIGNAL!   Signal argument a=%d\n", sig); break;
  }
  show_program_places();
  printf("\n");
  exit(1);
}

void set_errsignals() {
  signal(SIGFPE, dosignals);
  signal(SIGILL, dosignals);
  signal(SIGSEGV, dosignals);
}

void seterr_signals() { set_errsignals(); }

void dointerrupt(int sig) {
  int saved = errno;
  restore_terminal();
  if (sig != SIGQUIT) {
    if (hold_interrupt(sig)) {
      errno = saved;
      return;
    }
    mark_interrupted_run(sig);
  }
  // A result file still under its temporary name is not left behind.
  discard_atomic_file();
  exit_by_signal(sig);
}

static bool ignored(int sig) {
  struct sigaction now;
  return sigaction(sig, nullptr, &now) == 0 && now.sa_handler == SIG_IGN;
}

void set_run_signals() {
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    if (ignored(sig)) continue;
    struct sigaction action = {};
    action.sa_handler = dointerrupt;
    sigfillset(&action.sa_mask);  // one interruption at a time
    action.sa_flags = SA_RESTART;
    sigaction(sig, &action, nullptr);
  }
}

}  // namespace bayescreen
