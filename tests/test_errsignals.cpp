// The handlers of the fatal signals: a message on standard output, the
// program-place stack on standard error, a blank line, exit status 1.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "support/errsignals.h"
#include "support/showplaces.h"
#include "testutil.h"

using namespace bayescreen;
using testutil::run_child;

namespace {

void start_run() {
  prog_place = nullptr;
  npg = 0;
  nxpg = 0;
  seterr_signals();
  set_program_place("Main");
  set_program_place("Calc_Model_Fields");
}

}  // namespace

TEST(FatalSignals, TrappedSignalsPrintTheirMessageAndThePlaces) {
  struct Case {
    int sig;
    const char *message;
  };
  for (const Case &c : {Case{SIGSEGV, "\nSEGMENTATION FAULT!  (SIGSEGV signal)\n"},
                        Case{SIGFPE, "\nINTEGER OR FLOATING POINT EXCEPTION!  (SIGFPE signal)\n"},
                        Case{SIGILL, "\nILLEGAL OPERATION EXCEPTION!  (SIGILL signal)\n"}}) {
    auto o = run_child([&] {
      start_run();
      raise(c.sig);
      printf("not reached\n");
    });
    EXPECT_EQ(o.status, 1) << c.sig;
    EXPECT_EQ(o.out, std::string(c.message) + "\n") << c.sig;
    EXPECT_EQ(o.err, "  PROGRAM PLACES:\n    Main\n    Calc_Model_Fields\n") << c.sig;
  }
}

TEST(FatalSignals, InterruptKeepsItsDefaultAction) {
  auto o = run_child([] {
    start_run();
    raise(SIGINT);
    printf("not reached\n");
  });
  EXPECT_EQ(o.status, 128 + SIGINT);
  EXPECT_EQ(o.out, "");
}

TEST(FatalSignals, MessagesByNumber) {
  struct Case {
    int sig;
    const char *message;
  };
  for (const Case &c : {Case{2, "\nSIGINT INTERRUPT!  (SIGINT signal)\n"},
                        Case{4, "\nILLEGAL OPERATION EXCEPTION!  (SIGILL signal)\n"},
                        Case{8, "\nINTEGER OR FLOATING POINT EXCEPTION!  (SIGFPE signal)\n"},
                        Case{11, "\nSEGMENTATION FAULT!  (SIGSEGV signal)\n"},
                        Case{15, "\nSIGTERM INTERRUPT!  (SIGTERM signal)\n"},
                        Case{21, "\nSIGBREAK INTERRUPT!  (SIGBREAK signal)\n"},
                        Case{22, "\nCODE ABORT!  (SIGABRT signal)\n"},
                        Case{99, "\nUNKNOWN TRAPPED SIGNAL!   Signal argument a=99\n"}}) {
    auto o = run_child([&] {
      prog_place = nullptr;
      npg = 0;
      nxpg = 0;
      set_program_place("Main");
      dosignals(c.sig);
      printf("not reached\n");
    });
    EXPECT_EQ(o.status, 1) << c.sig;
    EXPECT_EQ(o.out, std::string(c.message) + "\n") << c.sig;
    EXPECT_EQ(o.err, "  PROGRAM PLACE = Main\n") << c.sig;
  }
}
