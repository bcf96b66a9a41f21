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
