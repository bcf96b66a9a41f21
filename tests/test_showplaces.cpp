// The program-place stack. Other tests of this process push places too, so
// every case runs in a child that starts from an empty stack, as a run does.
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <sstream>
#include <string>

#include "support/showplaces.h"
#include "testutil.h"

using namespace bayescreen;

namespace {

// A child that empties the stack, sets the depth limit and the trace switch,
// then runs the words of `ops`: "+Name" pushes, "-Name" pops ("-" alone pops
// without a name), "?" shows the places and "#" prints the depth.
std::function<void()> places(const std::string &ops, unsigned limit = 100, int trace = 0) {
  return [=] {
    testutil::fresh_places();
    max_prdepth = limit;
    program_place_verbose = trace;
    static std::deque<std::string> names;  // pushed names must stay put
    std::istringstream words(ops);
    for (std::string w; words >> w;) {
      if (w[0] == '+') set_program_place(names.emplace_back(w.substr(1)).c_str());
      if (w[0] == '-') reset_program_place(w.size() > 1 ? w.c_str() + 1 : nullptr);
      if (w == "?") show_program_places();
      if (w == "#") printf("depth %u\n", npg);
    }
  };
}

std::string numbered(int n, const char *prefix, const char *indent = "") {
  std::string s;
  for (int i = 1; i <= n; i++) s += indent + (prefix + std::to_string(i)) + (*indent ? "\n" : " ");
  return s;
}

std::string overflow(int max) {
  return "\nSTACK DEPTH OVERFLOW for PROGRAM PLACE STACK !\nMaximum depth: " +
         std::to_string(max) + "\nCurrent depth: " + std::to_string(max + 1) +
         "\n(If this is not an error, use command\n  `set_progplace_stackdepth(newdepth)' to set\n"
         "  a new program-place stack depth.)\n";
}

}  // namespace

TEST(ProgramPlaces, PushPopShowAndOverflow) {
  testutil::check_children({
      {places("-Nothing ?"), "", "  (Set some Program Places to find out where this happened.)\n"},
      {places("+Main ? +ReadDat +Parse_ParmLine ? -Parse_ParmLine -ReadDat -Main -Main ? #"),
       "depth 0\n",  // a pop at depth 0 is ignored
       "  PROGRAM PLACE = Main\n  PROGRAM PLACES:\n    Main\n    ReadDat\n    Parse_ParmLine\n"
       "  NO PROGRAM PLACES CURRENTLY SET\n  PREVIOUS PLACE: Main\n"},
      {places("+Main +Calc_Model_Fields -Rank_Models #"),  // warns and still pops
       "WARNING: RESET_PROGRAM_PLACE MISMATCH ERROR!\n"
       "  RESET(Rank_Models) MISMATCHES SET(Calc_Model_Fields) ON STACK  Stack depth: 1\n"
       "depth 1\n", ""},
      {places("+Main +ReadDat +Other - -READDAT #"), "depth 1\n", ""},
      // The previous place is the name popped last from above the top.
      {places("+A +B -B ? +C ? -C ?"), "",
       "  PROGRAM PLACE = A\n  PREVIOUS PLACE: B\n  PROGRAM PLACES:\n    A\n    C\n"
       "  PREVIOUS PLACE: B\n  PROGRAM PLACE = A\n  PREVIOUS PLACE: C\n"},
      {places(numbered(65, "+P") + "?"), "", "  PROGRAM PLACES:\n" + numbered(65, "P", "    ")},
      {places(numbered(100, "+P") + "# +Extra"), "depth 100\n",
       overflow(100) + "Showing the first 20  PROGRAM PLACES:\n" + numbered(20, "P", "  "), 1},
      {places("+A +B +C +D", 3), "",
       overflow(3) + "Showing the PROGRAM PLACE stack:\n  A\n  B\n  C\n", 1},
      {places("+A -A -", 100, 1),  // traced; the previous place is left out
       "(Set_program_place(A))\n1. SET_PROGRAM_PLACE(A):  STACK IS:\n"
       "(Reset_program_place(A))\n2. RESET_PROGRAM_PLACE:  STACK IS:\n",
       "  PROGRAM PLACE = A\n  NO PROGRAM PLACES CURRENTLY SET\n"},
  });
}

namespace {

// Records "Inner"; returns early when asked, or ends the run like a fatal
// error would.
int guarded_inner(int how) {
  PlaceGuard place("Inner");
  if (how == 1) return 1;
  if (how == 2) {
    show_program_places();
    exit(1);
  }
  return 0;
}

std::function<void()> guarded(int how) {
  return [=] {
    testutil::fresh_places();
    {
      PlaceGuard place("Outer");
      guarded_inner(how);
      printf("depth %u\n", npg);
    }
    printf("depth %u\n", npg);
    show_program_places();
  };
}

}  // namespace

// The depth limit a run starts with, read before any test could change it.
static const unsigned kInitialDepthLimit = max_prdepth;

TEST(ProgramPlaces, ARunStartsWithRoomForOneHundredPlaces) {
  EXPECT_EQ(kInitialDepthLimit, 100u);
}

TEST(ProgramPlaces, GuardPopsOnEveryReturnAndKeepsPlacesOnExit) {
  const std::string after_run = "  NO PROGRAM PLACES CURRENTLY SET\n  PREVIOUS PLACE: Outer\n";
  testutil::check_children({
      {guarded(0), "depth 1\ndepth 0\n", after_run},
      {guarded(1), "depth 1\ndepth 0\n", after_run},  // early return: no mismatch warning
      {guarded(2), "", "  PROGRAM PLACES:\n    Outer\n    Inner\n", 1},
  });
}
