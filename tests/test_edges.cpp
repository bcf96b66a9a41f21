// Whole runs at the numeric edges: weights beyond the range of doubles,
// singular models that rounding would let pass, exact fits and likelihoods
// that underflow. The expected tables come from the exact rational
// reference (tests/tools/fit_reference.py scale96, pb11, exact, reactor512).
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdio>
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
std::string factor_table(const std::string &out, const std::string &weighting, bool sums = true) {
  std::string table;
  for (const std::string &line : block(out, "Weighting models by " + weighting)) {
    std::vector<std::string> w = words(line);
    w.resize(4);  // a share without stars leaves w[3] empty
    table += sums ? line + "\n" : "  " + w[0] + "  " + w[2] + "  " + w[3] + "\n";
  }
  return table;
}

// Of each model of a ranking table, the columns `picked` (0 the name, 1
// adjusted R-squared, 3 F statistic, 6 posterior probability) joined by `glue`.
std::vector<std::string> ranking(const std::string &out, const std::string &title,
                                 std::vector<size_t> picked, const char *glue = " ") {
  std::vector<std::string> rows;
  for (const std::string &line : block(out, "All models sorted together by " + title)) {
    std::vector<std::string> w = words(line);
    if (w.size() != 7 || w[0] == "Model") continue;
    std::string row = w[picked[0]];
    for (size_t k = 1; k < picked.size(); k++) row += glue + w[picked[k]];
    rows.push_back(row);
  }
  return rows;
}

// A design file with every response replaced by f(response).
template <typename F>
std::string with_responses(const std::string &design, F f) {
  std::string result;
  bool data = false;
  for (const std::string &line : split_lines(design)) {
    const size_t last = line.find_last_of(' ');
    if (!data || line.empty() || line[0] == '#' || last == std::string::npos) {
      result += line + "\n";
      data = data || line.rfind("Data", 0) == 0;
      continue;
    }
    char value[40];
    snprintf(value, sizeof value, "%.17g", f(std::stod(line.substr(last + 1))));
    result += line.substr(0, last + 1) + value + "\n";
  }
  return result;
}

testutil::Outcome run_design(const std::string &design, std::vector<std::string> options) {
  TempDir dir;
  dir.write("d.txt", design);
  options.insert(options.begin(), "d");
  return run_program(options, dir.path());
}

}  // namespace

// Multiplying the responses by 10^k and adding a constant changes no
// posterior and no share: the Box-Meyer weights all scale alike, and so do
// the likelihoods and reciprocal squares. The design's weights lie in the
// subnormal range; the scales take them through underflow and overflow.
TEST(Edges, PosteriorsAndFactorWeightsDoNotDependOnTheUnits) {
  const std::string base = read_file(testutil::source_path("tests/data/scale96.txt"));
  const std::vector<std::string> posteriors = words(
      "A=0.87 B=0.0041 C=8.7e-05 D=6.3e-05 E=6.9e-05 AB=0.12 AC=0.0029 AD=0.0005 AE=0.00057 "
      "BC=3.4e-06 BD=2.2e-05 BE=8e-06 CD=5.4e-08 CE=6.2e-08 DE=4.1e-08 ABC=9e-07 ABD=2.6e-06 "
      "ABE=9.6e-06 ACD=3.3e-09 ACE=9e-09 ADE=7.6e-10 BCD=3.4e-11 BCE=1.4e-11 BDE=1.1e-10 "
      "CDE=9.5e-14");
  const struct {
    const char *weighting;
    bool sums;
    const char *table;
  } tables[] = {
      {"Fstat:", true,
       "  A:  82.6262    0.74632  **********************\n"
       "  B:  55.3646    0.50008  ***************\n"
       "  C:   29.525    0.26668  ********\n"
       "  D:  28.7479    0.25967  ********\n"
       "  E:  28.9974    0.26192  ********\n"},
      {"Likelihood:", false,
       "  A:  0.99999  ******************************\n"
       "  B:  0.99882  ******************************\n"
       "  C:  0.06750  **\n"
       "  D:  0.19470  ******\n"
       "  E:  0.73050  **********************\n"},
      {"1/rmse^2:", false,
       "  A:  0.48836  ***************\n"
       "  B:  0.46075  **************\n"
       "  C:  0.42722  *************\n"
       "  D:  0.42711  *************\n"
       "  E:  0.42815  *************\n"},
      {"1/rmsec^2", false,
       "  A:  0.48825  ***************\n"
       "  B:  0.46070  **************\n"
       "  C:  0.42723  *************\n"
       "  D:  0.42713  *************\n"
       "  E:  0.42816  *************\n"},
      {"Bayesian", true,
       "  A:     0.995651    0.99565  ******************************\n"
       "  B:     0.128149    0.12815  ****\n"
       "  C:    0.0029639    0.00296  \n"
       "  D:  0.000584001    0.00058  \n"
       "  E:  0.000657343    0.00066  \n"},
  };
  std::vector<std::string> first_fstat_ranking;
  for (int k = -8; k <= 6; k++) {
    SCOPED_TRACE("responses times 10^" + std::to_string(k));
    const double scale = std::pow(10.0, k), shift = 37.0 * (k + 10);
    auto r = run_design(with_responses(base, [&](double y) { return scale * (y + shift); }),
                        {"-R", "-D"});
    ASSERT_EQ(r.status, 0);
    for (const auto &t : tables) EXPECT_EQ(factor_table(r.out, t.weighting, t.sums), t.table);
    // Each model once, with its posterior probability.
    std::vector<std::string> posterior = ranking(r.out, "BayesPostProb", {0, 6}, "=");
    EXPECT_EQ(std::multiset<std::string>(posterior.begin(), posterior.end()),
              std::multiset<std::string>(posteriors.begin(), posteriors.end()));
    // Name, adjusted R-squared, F statistic and posterior, in the order of F.
    const std::vector<std::string> fstat = ranking(r.out, "Fstat", {0, 1, 3, 6});
    if (first_fstat_ranking.empty()) first_fstat_ranking = fstat;
    EXPECT_EQ(fstat, first_fstat_ranking);
  }
}

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
  EXPECT_EQ(factor_table(r.out, "Fstat"),
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
  EXPECT_EQ(factor_table(r.out, "Bayesian"),
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

// Two replicates of a 2^2 design with y = 8 at A low and 12 at A high: the
// models A and AB fit exactly, with infinite F, likelihood and 1/rmse^2.
TEST(Edges, ExactFitsShareTheirInfiniteWeights) {
  auto r = run_design(
      "Exact fit\nNrows=8 Ncols=2\nData\n"
      "1 -1 -1 8\n2 1 -1 12\n3 -1 1 8\n4 1 1 12\n5 -1 -1 8\n6 1 -1 12\n7 -1 1 8\n8 1 1 12\n",
      {"-D"});
  ASSERT_EQ(r.status, 0);
  const std::string infinite = "  A:  inf    1.00000  ******************************\n"
                               "  B:  inf    0.50000  ***************\n";
  for (const char *weighting : {"Fstat", "Likelihood", "1/rmse^2"})
    EXPECT_EQ(factor_table(r.out, weighting), infinite) << weighting;
  EXPECT_EQ(factor_table(r.out, "1/rmsec^2"),
            "  A:  15.9375    0.98837  ******************************\n"
            "  B:   6.5625    0.40698  ************\n");
  EXPECT_EQ(factor_table(r.out, "Bayesian"),
            "  A:    0.999999    1.00000  ******************************\n"
            "  B:  0.00649455    0.00649  \n");
}

// The 32-run reactor experiment repeated 16 times: every likelihood
// underflows to 0, the shares come from the log likelihoods.
TEST(Edges, LikelihoodsBelowTheLeastDoubleStillGiveShares) {
  std::string design = "Reactor experiment, every run 16 times\nNrows=512 Ncols=5\nData\n";
  std::vector<std::string> runs;  // the 32 data lines without their run numbers
  const std::string reactor = read_file(testutil::source_path("examples/reactor.txt"));
  for (const std::string &line : split_lines(reactor)) {
    const std::vector<std::string> w = words(line);
    if (w.size() == 7 && std::isdigit(static_cast<unsigned char>(w[0][0])))
      runs.push_back(line.substr(line.find('.') + 1));
  }
  ASSERT_EQ(runs.size(), 32u);
  for (int copy = 0; copy < 16; copy++)
    for (size_t i = 0; i < runs.size(); i++)
      design += std::to_string(copy * 32 + static_cast<int>(i) + 1) + runs[i] + "\n";
  auto r = run_design(design, {"-D"});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(factor_table(r.out, "Likelihood"),
            "  A:  0    0.00000  \n"
            "  B:  0    1.00000  ******************************\n"
            "  C:  0    0.00000  \n"
            "  D:  0    1.00000  ******************************\n"
            "  E:  0    1.00000  ******************************\n");
  EXPECT_EQ(r.out.find("nan"), std::string::npos);
}
