// Whole runs of the program on the example designs.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "testutil.h"

using testutil::read_file;
using testutil::run_program;
using testutil::TempDir;

namespace {

std::string from_log_announcement(const std::string &out) {
  size_t at = out.find("OPENING the log file");
  return at == std::string::npos ? "" : out.substr(at);
}

// Removes every line of `screen` that appears in `screen_only`, once each.
std::string without_lines(std::string screen, const std::vector<std::string> &screen_only) {
  for (const auto &line : screen_only) {
    size_t at = screen.find(line);
    if (at != std::string::npos) screen.erase(at, line.size());
  }
  return screen;
}

}  // namespace

TEST(Run, TwelveRunExampleToTheCharacter) {
  TempDir dir;
  dir.write("reactor12.txt", read_file(testutil::source_path("examples/reactor12.txt")));
  auto r = run_program({"reactor12"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(from_log_announcement(r.out),
            read_file(testutil::source_path("tests/data/reactor12.screen.txt")));
  EXPECT_EQ(read_file(dir.file("reactor12.out.txt")),
            read_file(testutil::source_path("tests/data/reactor12.log.txt")));
}

TEST(Run, LogHoldsExactlyTheReportLines) {
  // The log is the screen report less the screen-only lines, plus the line
  // that names the program and the input file.
  for (const std::vector<std::string> &options :
       std::vector<std::vector<std::string>>{{}, {"-C", "-D", "-E", "-R"}}) {
    TempDir dir;
    dir.write("reactor.txt", read_file(testutil::source_path("examples/reactor.txt")));
    std::vector<std::string> args = {"reactor"};
    args.insert(args.end(), options.begin(), options.end());
    auto r = run_program(args, dir.path());
    ASSERT_EQ(r.status, 0);
    std::string screen = from_log_announcement(r.out);
    std::vector<std::string> screen_only = {
        "OPENING the log file `reactor.out.txt'\n",
        "Closing the file reactor.txt\n",
        "\nSorting 25 models by Fstat:\n",
        "\nSorting 25 models by Fstat (data from reactor.txt):\n",
        "\nSorting 25 models by Rmsec (pi=0.25, gam=2.5):\n",
        "\nSorting 25 models by BayesPostProb (pi=0.25, gam=2.5):\n",
        "\n(*) - Models sorted by this column.\n",
        "\nClosing the log file `reactor.out.txt'\n",
    };
    EXPECT_EQ(read_file(dir.file("reactor.out.txt")),
              "\nOutput of BAYESCREEN from input file reactor.txt\n" +
                  without_lines(screen, screen_only));
    EXPECT_TRUE(screen.ends_with("\n\nClosing the log file `reactor.out.txt'\n"));
  }
}

TEST(Run, EveryExampleRunsToTheEnd) {
  for (const auto &entry :
       std::filesystem::directory_iterator(testutil::source_path("examples"))) {
    if (entry.path().extension() != ".txt" || entry.path().string().ends_with(".out.txt"))
      continue;
    SCOPED_TRACE(entry.path().string());
    TempDir dir;
    std::string name = entry.path().filename().string();
    dir.write(name, read_file(entry.path().string()));
    auto r = run_program({name}, dir.path());
    EXPECT_EQ(r.status, 0);
    std::string log = read_file(dir.file(name + ".out.txt"));
    EXPECT_NE(log.find("\nWeighting models by Bayesian post.prob. (pi=0.25, gam=2.5):\n"),
              std::string::npos);
  }
}

TEST(Run, FullFactorialFindsTheKnownActiveFactors) {
  // In the 32-run reactor experiment B, D and E (with their interactions)
  // are the active factors: BDE is by far the most probable model.
  TempDir dir;
  dir.write("reactor.txt", read_file(testutil::source_path("examples/reactor.txt")));
  auto r = run_program({"reactor"}, dir.path());
  std::string bayes = r.out.substr(r.out.find("All models sorted together by BayesPostProb"));
  EXPECT_EQ(bayes.find("-\n BDE "), bayes.find("-\n"));
  std::string weights = r.out.substr(r.out.find("Weighting models by Bayesian"));
  EXPECT_NE(weights.find("  B:            1    1.00000  ******************************\n"),
            std::string::npos);
  EXPECT_NE(weights.find("  D:            1    1.00000  ******************************\n"),
            std::string::npos);
  EXPECT_NE(weights.find("  A:  5.72363e-12    0.00000  \n"), std::string::npos);
}

// ---- Step-through runs ------------------------------------------------------------

namespace {

// A 2^3 factorial in standard order (first factor fastest) with the entries
// +-level, as a design file.
std::string factorial_design(long long level) {
  std::string d = "Three factors\nNrows=8 Ncols=3\nData\n";
  const int y[8] = {54, 57, 61, 70, 52, 59, 63, 78};
  for (int r = 0; r < 8; r++) {
    d += std::to_string(r + 1);
    for (int f = 0; f < 3; f++) d += " " + std::to_string((r >> f) & 1 ? level : -level);
    d += " " + std::to_string(y[r]) + "\n";
  }
  return d;
}

// The lines of the model matrix X of the three-factor model as the verbose
// output shows them: intercept, A, B, C, AB, AC, BC, ABC, each product
// formed here in doubles.
std::string three_factor_matrix(double level) {
  std::string text = "The design matrix X:\n";
  char piece[64];
  for (int r = 0; r < 8; r++) {
    const double a = (r & 1) ? level : -level, b = (r & 2) ? level : -level,
                 c = (r & 4) ? level : -level;
    snprintf(piece, sizeof piece, "%3d. ", r + 1);
    text += piece;
    for (double v : {1.0, a, b, c, a * b, a * c, b * c, a * b * c}) {
      snprintf(piece, sizeof piece, " %3g", v);
      text += piece;
    }
    text += "\n";
  }
  return text;
}

testutil::Outcome run_on(const std::string &design, const std::vector<std::string> &options) {
  TempDir dir;
  dir.write("d.txt", design);
  std::vector<std::string> args = {"d"};
  args.insert(args.end(), options.begin(), options.end());
  return run_program(args, dir.path());
}

std::string prompts(int n) {
  std::string s;
  for (int i = 0; i < n; i++) s += "Press any key to continue....\n";
  return s;
}

}  // namespace

// Every model of the step-through, three-factor models included, and no
// program-place warning anywhere in the output (under the sanitizers too).
TEST(Run, StepThroughOfEveryModelWithoutPlaceWarnings) {
  TempDir dir;
  dir.write("reactor12.txt", read_file(testutil::source_path("examples/reactor12.txt")));
  auto r = run_program({"reactor12", "-S", "-A0.5"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, prompts(25));
  EXPECT_EQ(r.out.find("MISMATCH"), std::string::npos);
  EXPECT_NE(r.out.find("25. Model CDE (nf=3, nc=8, moff=`234')\n"), std::string::npos);

  r = run_on(factorial_design(1), {"-V"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, prompts(7));
  EXPECT_EQ(r.out.find("MISMATCH"), std::string::npos);
  const size_t abc = r.out.find("7. Model ABC (nf=3, nc=8, moff=`012')\n");
  ASSERT_NE(abc, std::string::npos);
  EXPECT_NE(r.out.find(three_factor_matrix(1), abc), std::string::npos);
}

// Entries near the int limit: the three-factor product passes the 64-bit
// range and is formed in doubles, the two-factor ones are exact integers.
TEST(Run, InteractionsBeyondSixtyFourBitsAreFormedInDoubles) {
  const auto r = run_on(factorial_design(2000000000), {"-V"});
  EXPECT_EQ(r.status, 0);
  const size_t abc = r.out.find("7. Model ABC (nf=3, nc=8, moff=`012')\n");
  ASSERT_NE(abc, std::string::npos);
  EXPECT_NE(r.out.find(three_factor_matrix(2e9), abc), std::string::npos)
      << r.out.substr(abc, 1500);
}

// A fatal signal that reaches the program while it waits at a pause: its
// message, the places on the stack, status 1.
TEST(Run, ASignalDuringAPauseEndsTheRunWithItsReport) {
  const std::pair<int, const char *> signals[] = {
      {SIGFPE, "INTEGER OR FLOATING POINT EXCEPTION!  (SIGFPE signal)"},
      {SIGILL, "ILLEGAL OPERATION EXCEPTION!  (SIGILL signal)"},
      {SIGSEGV, "SEGMENTATION FAULT!  (SIGSEGV signal)"},
  };
  for (const auto &[sig, message] : signals) {
    SCOPED_TRACE(message);
    TempDir dir;
    dir.write("d.txt", factorial_design(1));
    const auto r = testutil::run_program_signalled({"d", "-S"}, dir.path(), "Press any key", sig);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.ends_with(std::string("\n") + message + "\n\n")) << r.out;
    EXPECT_EQ(r.err, "Press any key to continue....  PROGRAM PLACES:\n    Main\n"
                     "    Calc_Model_Fields\n  PREVIOUS PLACE: ShowMat\n");
  }
}
