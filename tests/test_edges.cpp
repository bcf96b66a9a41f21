// Whole runs at the numeric edges: singular models that rounding would let
// pass. The expected tables come from the exact rational reference
// (tests/tools/fit_reference.py pb11).
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "testutil.h"

using testutil::read_file;
using testutil::run_program;
using testutil::TempDir;

namespace {

std::vector<std::string> split_lines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> words(const std::string &line) {
  std::istringstream in(line);
  std::vector<std::string> all;
  for (std::string w; in >> w;) all.push_back(w);
  return all;
}

// The lines that follow the line `title` up to the next empty line.
std::vector<std::string> block(const std::string &out, const std::string &title) {
  std::vector<std::string> lines = split_lines(out), found;
  size_t at = 0;
  while (at < lines.size() && lines[at].rfind(title, 0) != 0) at++;
  for (at++; at < lines.size() && !lines[at].empty(); at++) found.push_back(lines[at]);
  return found;
}

// A factor table as printed; without the sums column when `sums` is false
// (the sums of likelihoods and reciprocal squares change with the units).
std::string factor_table(const std::string &out, const std::string &weighting, bool sums) {
  std::string table;
  for (const std::string &line : block(out, "Weighting models by " + weighting)) {
    if (sums) {
      table += line + "\n";
      continue;
    }
    std::vector<std::string> w = words(line);
    table += "  " + w[0] + "  " + w[2] + "  " + (w.size() > 3 ? w[3] : "") + "\n";
  }
  return table;
}

}  // namespace

// The 12-run Plackett-Burman design without its last run: every triple that
// misses a level combination has a singular X'X and is reported so; the
// factor weights come from the remaining models.
TEST(Edges, DroppedRunPlackettBurmanReportsEverySingularTriple) {
  const std::string singular =
      "ABF ABJ ABK ACD ACG ACJ ADE ADF AEK AEL AFH AGH AGK AHL AJL BCG BCK BCL BDE BDH BDK BEF "
      "BEG BFL BGJ BHJ BHL CDH CDL CEF CEJ CEL CFG CFH CHK CJK DEJ DFG DFK DGH DGJ DJL DKL EFK "
      "EGH EGL EHJ EHK FGL FHJ FJK FJL GJK GKL HKL";
  TempDir dir;
  auto r = run_program({testutil::source_path("tests/data/pb11.txt"), "pb11"}, dir.path());
  ASSERT_EQ(r.status, 0);
  std::set<std::string> reported;
  const std::string kCroutp = "CROUTP: All potential pivot elements are zero!\n";
  const std::string kNotInvertible = "THE DESIGN MATRIX for model ";
  for (size_t at = 0; (at = r.out.find(kNotInvertible, at)) != std::string::npos; at++) {
    EXPECT_EQ(r.out.substr(at - kCroutp.size(), kCroutp.size()), kCroutp);
    reported.insert(words(r.out.substr(at + kNotInvertible.size(), 8))[0]);
  }
  const std::vector<std::string> names = words(singular);
  EXPECT_EQ(reported, std::set<std::string>(names.begin(), names.end()));
  EXPECT_NE(r.out.find("\n55 models out of 231 were invalid.\n"), std::string::npos);
  EXPECT_EQ(words(block(r.out, "All models sorted together by BayesPostProb")[2])[0], "G");
  EXPECT_EQ(factor_table(r.out, "Fstat", true),
            "  A:  80.2305    0.25621  ********\n"
            "  B:  63.9113    0.20409  ******\n"
            "  C:  53.7815    0.17175  *****\n"
            "  D:  107.158    0.34220  **********\n"
            "  E:  58.1068    0.18556  ******\n"
            "  F:  53.2829    0.17015  *****\n"
            "  G:   159.72    0.51005  ***************\n"
            "  H:  56.7028    0.18107  *****\n"
            "  J:  71.8435    0.22942  *******\n"
            "  K:  58.3249    0.18625  ******\n"
            "  L:  59.3559    0.18955  ******\n");
  EXPECT_EQ(factor_table(r.out, "Bayesian", true),
            "  A:  0.0817456    0.08175  **\n"
            "  B:  0.0337547    0.03375  *\n"
            "  C:  0.0366042    0.03660  *\n"
            "  D:   0.168699    0.16870  *****\n"
            "  E:   0.044297    0.04430  *\n"
            "  F:  0.0186031    0.01860  *\n"
            "  G:   0.797021    0.79702  ************************\n"
            "  H:  0.0309516    0.03095  *\n"
            "  J:  0.0446695    0.04467  *\n"
            "  K:  0.0332399    0.03324  *\n"
            "  L:  0.0446408    0.04464  *\n");
}
