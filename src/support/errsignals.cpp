#include "support/errsignals.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

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

}  // namespace bayescreen
