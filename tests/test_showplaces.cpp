// The program-place stack. Other tests of this process push places too, so
// every case runs in a child that starts from an empty stack, as a run does.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/showplaces.h"
#include "testutil.h"

using namespace bayescreen;
using testutil::run_child;

namespace {

void fresh_places() {
  prog_place = nullptr;
  npg = 0;
  nxpg = 0;
  max_prdepth = 100;
  program_place_verbose = 0;
}

// Place names live for the whole run: keep them in a static table.
const std::vector<std::string> &numbered_places() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> v;
    for (int i = 1; i <= 120; i++) v.push_back("Place" + std::to_string(i));
    return v;
  }();
  return names;
}

}  // namespace

TEST(ProgramPlaces, ShowingBeforeAnyPushAsksForPlaces) {
  auto o = run_child([] {
    fresh_places();
    show_program_places();
  });
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, "  (Set some Program Places to find out where this happened.)\n");
}

TEST(ProgramPlaces, PushShowAndPop) {
  auto o = run_child([] {
    fresh_places();
    const char *name = "Main";
    printf("%s\n", set_program_place(name) == name ? "same pointer" : "copy");
    show_program_places();
    set_program_place("ReadDat");
    set_program_place("Parse_ParmLine");
    show_program_places();
    reset_program_place("Parse_ParmLine");
    reset_program_place("ReadDat");
    reset_program_place("Main");
    show_program_places();
    printf("depth %u\n", npg);
  });
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "same pointer\ndepth 0\n");
  EXPECT_EQ(o.err,
            "  PROGRAM PLACE = Main\n"
            "  PROGRAM PLACES:\n    Main\n    ReadDat\n    Parse_ParmLine\n"
            "  NO PROGRAM PLACES CURRENTLY SET\n  PREVIOUS PLACE: Main\n");
}

TEST(ProgramPlaces, MismatchedPopWarnsAndStillPops) {
  auto o = run_child([] {
    fresh_places();
    set_program_place("Main");
    set_program_place("Calc_Model_Fields");
    reset_program_place("Rank_Models");
    printf("depth %u\n", npg);
  });
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out,
            "WARNING: RESET_PROGRAM_PLACE MISMATCH ERROR!\n"
            "  RESET(Rank_Models) MISMATCHES SET(Calc_Model_Fields) ON STACK  Stack depth: 1\n"
            "depth 1\n");
  EXPECT_EQ(o.err, "");
}

TEST(ProgramPlaces, PopIgnoresLetterCaseAndAcceptsAMissingName) {
  auto o = run_child([] {
    fresh_places();
    set_program_place("Main");
    set_program_place("ReadDat");
    set_program_place("Other");
    reset_program_place(nullptr);
    reset_program_place("READDAT");
    printf("depth %u\n", npg);
  });
  EXPECT_EQ(o.out, "depth 1\n");
  EXPECT_EQ(o.err, "");
}

TEST(ProgramPlaces, PopAtDepthZeroIsIgnored) {
  auto o = run_child([] {
    fresh_places();
    reset_program_place("Nothing");
    set_program_place("Main");
    reset_program_place("Main");
    reset_program_place("Main");
    printf("depth %u\n", npg);
  });
  EXPECT_EQ(o.out, "depth 0\n");
  EXPECT_EQ(o.err, "");
}

TEST(ProgramPlaces, PreviousPlaceIsTheNamePoppedLastFromAboveTheTop) {
  auto o = run_child([] {
    fresh_places();
    set_program_place("A");
    set_program_place("B");
    reset_program_place("B");
    show_program_places();
    set_program_place("C");  // C takes depth 1, B moves one slot up
    printf("slot2=%s\n", prog_place[2]);
    reset_program_place("C");
    show_program_places();
  });
  EXPECT_EQ(o.out, "slot2=B\n");
  EXPECT_EQ(o.err,
            "  PROGRAM PLACE = A\n  PREVIOUS PLACE: B\n"
            "  PROGRAM PLACE = A\n  PREVIOUS PLACE: C\n");
}

TEST(ProgramPlaces, StackGrowsBeyondItsFirstCapacity) {
  auto o = run_child([] {
    fresh_places();
    const auto &names = numbered_places();
    for (int i = 0; i < 65; i++) set_program_place(names[i].c_str());
    printf("depth %u capacity>=%d\n", npg, nxpg >= 65 ? 1 : 0);
    show_program_places();
  });
  std::string expected = "  PROGRAM PLACES:\n";
  for (int i = 1; i <= 65; i++) expected += "    Place" + std::to_string(i) + "\n";
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "depth 65 capacity>=1\n");
  EXPECT_EQ(o.err, expected);
}

TEST(ProgramPlaces, OverflowAtThe101stPushShowsTheBottomTwenty) {
  auto o = run_child([] {
    fresh_places();
    const auto &names = numbered_places();
    for (int i = 0; i < 100; i++) set_program_place(names[i].c_str());
    printf("pushed %u\n", npg);
    fflush(stdout);
    set_program_place(names[100].c_str());
    printf("not reached\n");
  });
  std::string expected =
      "\nSTACK DEPTH OVERFLOW for PROGRAM PLACE STACK !\n"
      "Maximum depth: 100\n"
      "Current depth: 101\n"
      "(If this is not an error, use command\n"
      "  `set_progplace_stackdepth(newdepth)' to set\n"
      "  a new program-place stack depth.)\n"
      "Showing the first 20  PROGRAM PLACES:\n";
  for (int i = 1; i <= 20; i++) expected += "  Place" + std::to_string(i) + "\n";
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "pushed 100\n");
  EXPECT_EQ(o.err, expected);
}

TEST(ProgramPlaces, OverflowOfAShallowStackShowsEveryPlace) {
  auto o = run_child([] {
    fresh_places();
    max_prdepth = 3;
    set_program_place("A");
    set_program_place("B");
    set_program_place("C");
    set_program_place("D");
  });
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err,
            "\nSTACK DEPTH OVERFLOW for PROGRAM PLACE STACK !\n"
            "Maximum depth: 3\n"
            "Current depth: 4\n"
            "(If this is not an error, use command\n"
            "  `set_progplace_stackdepth(newdepth)' to set\n"
            "  a new program-place stack depth.)\n"
            "Showing the PROGRAM PLACE stack:\n  A\n  B\n  C\n");
}

TEST(ProgramPlaces, TraceModePrintsEachPushAndPop) {
  auto o = run_child([] {
    fresh_places();
    set_program_place("Main");
    reset_program_place("Main");
    program_place_verbose = 1;
    set_program_place("A");
    fflush(stdout);
    reset_program_place("A");
    fflush(stdout);
    reset_program_place(nullptr);  // depth 0: ignored, no trace
  });
  EXPECT_EQ(o.out,
            "(Set_program_place(A))\n1. SET_PROGRAM_PLACE(A):  STACK IS:\n"
            "(Reset_program_place(A))\n2. RESET_PROGRAM_PLACE:  STACK IS:\n");
  // In trace mode the previous-place line is left out.
  EXPECT_EQ(o.err, "  PROGRAM PLACE = A\n  NO PROGRAM PLACES CURRENTLY SET\n");
}
