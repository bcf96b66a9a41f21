// Whole runs of the program on the example designs.
#include <gtest/gtest.h>

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
