// The handlers of the fatal signals: a message on standard output, the
// program-place stack on standard error, a blank line, exit status 1. The
// signals of a run: failed output ignored, interrupts that end the log with
// a marker and then end the process by the signal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "cli/errsignals.h"
#include "support/helpers.h"
#include "support/logfile.h"
#include "support/showplaces.h"
#include "testutil.h"

using namespace bayescreen;

TEST(FatalSignals, MessagesAndPlaces) {
  const std::pair<int, const char *> messages[] = {
      {2, "SIGINT INTERRUPT!  (SIGINT signal)"},
      {4, "ILLEGAL OPERATION EXCEPTION!  (SIGILL signal)"},
      {8, "INTEGER OR FLOATING POINT EXCEPTION!  (SIGFPE signal)"},
      {11, "SEGMENTATION FAULT!  (SIGSEGV signal)"},
      {15, "SIGTERM INTERRUPT!  (SIGTERM signal)"},
      {21, "SIGBREAK INTERRUPT!  (SIGBREAK signal)"},
      {22, "CODE ABORT!  (SIGABRT signal)"},
      {99, "UNKNOWN TRAPPED SIGNAL!   Signal argument a=99"}};
  const std::string two_places = "  PROGRAM PLACES:\n    Main\n    Calc_Model_Fields\n";
  std::vector<testutil::ChildCase> cases;
  for (auto [sig, message] : messages) {
    cases.push_back({[sig = sig] {
                       testutil::fresh_places();
                       set_program_place("Main");
                       dosignals(sig);
                     },
                     "\n" + std::string(message) + "\n\n", "  PROGRAM PLACE = Main\n", 1});
    if (sig == SIGSEGV || sig == SIGFPE || sig == SIGILL)  // trapped when raised
      cases.push_back({[sig = sig] {
                         testutil::fresh_places();
                         seterr_signals();
                         set_program_place("Main");
                         set_program_place("Calc_Model_Fields");
                         raise(sig);
                       },
                       cases.back().out, two_places, 1});
  }
  cases.push_back({[] {  // an interrupt keeps its default action
                     seterr_signals();
                     raise(SIGINT);
                   },
                   "", "", 128 + SIGINT});
  testutil::check_children(cases);
}

// ---- The signals of a run ---------------------------------------------------------

namespace {

int sink = -1;

// A log stream whose first write is interrupted by SIGTERM: the signal
// arrives while the log is being written.
ssize_t interrupted_write(void *, const char *text, size_t n) {
  static bool raised = false;
  if (!raised) {
    raised = true;
    raise(SIGTERM);
  }
  return write(sink, text, n);
}

}  // namespace

TEST(RunSignals, IgnoredOutputSignalsAndInterrupts) {
  testutil::TempDir dir;
  const std::string log = dir.file("res.txt");
  const std::string marker = "\nRUN INTERRUPTED!  (SIGTERM signal)  The report is incomplete.\n";
  std::vector<testutil::ChildCase> cases = {
      {[] {  // failed output is left to the checks of the writes
         set_run_signals();
         raise(SIGPIPE);
         raise(SIGXFSZ);
         printf("still running");
       },
       "still running", "", 0},
      {[] {  // a signal ignored at the start (nohup) stays ignored
         signal(SIGHUP, SIG_IGN);
         set_run_signals();
         raise(SIGHUP);
         printf("still running");
       },
       "still running", "", 0},
      {[] {  // no log open: the marker on standard error, the signal's own status
         set_run_signals();
         raise(SIGTERM);
       },
       "", marker, 128 + SIGTERM},
      {[&] {  // the log is flushed and ends with the marker
         set_run_signals();
         openlog_file(log.c_str(), 0);
         bprintf("first line\n");
         raise(SIGTERM);
       },
       "", marker, 128 + SIGTERM},  // the screen's buffer (a file here) is not flushed
      {[&] {  // held while a log write is under way: the write completes first
         set_run_signals();
         sink = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
         fflog = fopencookie(nullptr, "w", {nullptr, interrupted_write, nullptr, nullptr});
         logfilename = strxdup("res.txt");
         logprintf("%s\n", std::string(9000, 'w').c_str());
         printf("not reached");
       },
       "", marker, 128 + SIGTERM},
  };
  for (size_t i = 0; i < cases.size(); i++) {
    SCOPED_TRACE("case " + std::to_string(i));
    testutil::Outcome o = testutil::run_child(cases[i].fn);
    EXPECT_EQ(o.status, cases[i].status);
    EXPECT_EQ(o.out, cases[i].out);
    EXPECT_EQ(o.err, cases[i].err);
    if (i == 3) {
      EXPECT_EQ(testutil::read_file(log), "first line\n" + marker);
    } else if (i == 4) {
      EXPECT_EQ(testutil::read_file(log), std::string(9000, 'w') + "\n");
    }
  }
}
