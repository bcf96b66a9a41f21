// The model search: its Cholesky downdate against a factor formed afresh,
// its estimates against the exact enumeration (itself checked against the
// numpy reference) on three spaces small enough to enumerate, and its
// repeatability whatever the number of threads.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "design_fixture.h"
#include "engine/analysis.h"
#include "engine/effectspace.h"
#include "engine/modelsearch.h"
#include "numeric/cholesky.h"
#include "testutil.h"

namespace bayescreen {
namespace {

using testutil::make_design;

// A fixed irregular remainder, repeated as needed.
double noise(size_t r) {
  const double n[13] = {0.31, -0.84, 0.12, 1.07, -0.45, 0.66, -1.2, 0.05, 0.93, -0.27, -0.61, 0.38, -0.19};
  return n[r % 13];
}

// Removing variable j from a factor gives the factor of the matrix without
// row and column j, and the forward solution of b without entry j: checked
// against factors formed afresh, for every j of random positive definite
// matrices of several sizes.
TEST(ModelSearch, RemovedRowLeavesTheFactorOfTheSmallerMatrix) {
  uint64_t state = 12345;
  auto next = [&]() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(state >> 11) * 0x1.0p-53 - 0.5;
  };
  for (int t : {1, 2, 3, 6, 11}) {
    const int ld = t + 2;
    // A = M'M + I, b random.
    std::vector<double> m(static_cast<size_t>(t * t)), a(static_cast<size_t>(t * t), 0.0), b(static_cast<size_t>(t));
    for (double &v : m) v = next();
    for (double &v : b) v = next() * 4;
    for (int i = 0; i < t; i++)
      for (int j = 0; j < t; j++) {
        double s = i == j ? 1.0 : 0.0;
        for (int k = 0; k < t; k++) s += m[static_cast<size_t>(k * t + i)] * m[static_cast<size_t>(k * t + j)];
        a[static_cast<size_t>(i * t + j)] = s;
      }
    // The factor of the leading rows/columns listed in `keep`, and its z.
    auto factor = [&](const std::vector<int> &keep, std::vector<double> &l, std::vector<double> &z) {
      l.assign(static_cast<size_t>(ld * ld), 0.0);
      z.assign(static_cast<size_t>(ld), 0.0);
      std::vector<double> row(keep.size());
      for (size_t j = 0; j < keep.size(); j++) {
        for (size_t i = 0; i <= j; i++) row[i] = a[static_cast<size_t>(keep[j] * t + keep[i])];
        cholesky_append_row(l.data(), ld, static_cast<int>(j), row.data());
        z[j] = cholesky_forward_step(l.data(), ld, static_cast<int>(j), z.data(), b[static_cast<size_t>(keep[j])]);
      }
    };
    std::vector<int> all;
    for (int i = 0; i < t; i++) all.push_back(i);
    for (int j = 0; j < t; j++) {
      SCOPED_TRACE("t=" + std::to_string(t) + " j=" + std::to_string(j));
      std::vector<double> l, z, l2, z2;
      factor(all, l, z);
      double zz = 0;
      for (int i = 0; i < t; i++) zz += z[static_cast<size_t>(i)] * z[static_cast<size_t>(i)];
      const double pushed = cholesky_remove_row(l.data(), ld, t, j, z.data());
      std::vector<int> keep = all;
      keep.erase(keep.begin() + j);
      factor(keep, l2, z2);
      double zz2 = 0;
      for (int r = 0; r + 1 < t; r++) {
        EXPECT_GT(l[static_cast<size_t>(r * ld + r)], 0);
        for (int c = 0; c <= r; c++)
          EXPECT_NEAR(l[static_cast<size_t>(r * ld + c)], l2[static_cast<size_t>(r * ld + c)], 1e-12);
        EXPECT_NEAR(z[static_cast<size_t>(r)], z2[static_cast<size_t>(r)], 1e-11);
        zz2 += z2[static_cast<size_t>(r)] * z2[static_cast<size_t>(r)];
      }
      EXPECT_NEAR(zz - pushed * pushed, zz2, 1e-10);
    }
  }
}

// The cast-fatigue experiment as the example file holds it.
Design cast_fatigue() {
  std::ifstream in(testutil::source_path("examples/castfatigue12.txt"));
  std::string line;
  while (std::getline(in, line) && line.rfind("Data", 0) != 0) {
  }
  std::vector<std::vector<int>> rows;
  std::vector<double> y;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string run;
    if (!(words >> run)) continue;
    std::vector<int> row(7);
    for (int &v : row) words >> v;
    double value = 0;
    words >> value;
    rows.push_back(row);
    y.push_back(value);
  }
  return make_design(rows, y, 7);
}

// The saturated 16-run design 2^(15-11): every product of the four
// columns of a 2^4 factorial, with effects on three columns.
Design saturated16() {
  const auto base = testutil::full_factorial(4);
  std::vector<std::vector<int>> rows;
  std::vector<double> y;
  for (size_t r = 0; r < base.size(); r++) {
    std::vector<int> row;
    for (int mask = 1; mask < 16; mask++) {
      int v = 1;
      for (int j = 0; j < 4; j++)
        if (mask >> j & 1) v *= base[r][static_cast<size_t>(j)];
      row.push_back(v);
    }
    y.push_back(20 + 1.8 * row[0] - 1.2 * row[4] + 0.9 * row[10] + noise(r));
    rows.push_back(row);
  }
  return make_design(rows, y, 15);
}

// The 20-run Plackett-Burman design with 19 factors, effects on four.
Design plackett_burman20() {
  const int g[19] = {1, 1, -1, -1, 1, 1, 1, 1, -1, 1, -1, 1, -1, -1, -1, -1, 1, 1, -1};
  std::vector<std::vector<int>> rows;
  std::vector<double> y;
  for (int i = 0; i < 20; i++) {
    std::vector<int> row;
    for (int j = 0; j < 19; j++) row.push_back(i == 19 ? -1 : g[(j - i + 19) % 19]);
    y.push_back(50 + 2 * row[0] - 1.7 * row[3] + 2.5 * row[7] + 0.6 * row[12] + noise(static_cast<size_t>(i)));
    rows.push_back(row);
  }
  return make_design(rows, y, 19);
}

// With default settings, every inclusion probability of effects, factors
// and of no effect from the search lies within 3 standard errors of the
// exact value and within 0.02.
TEST(ModelSearch, AgreesWithTheExactEnumeration) {
  struct Case {
    const char *name;
    Design design;
    int order;
  };
  const Case cases[] = {{"cast fatigue, order 2, strong heredity", cast_fatigue(), 2},
                        {"16 runs, 15 main effects", saturated16(), 1},
                        {"20 runs, 19 main effects", plackett_burman20(), 1}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Settings s;
    s.effects.kind = SpaceKind::Effects;
    s.model_space.with_null = 1;
    s.model_space.order = c.order;
    s.model_space.max_models = 1 << 20;
    const EffectsResults exact = analyse_effects(c.design, s);
    s.search.mode = SearchMode::Mcmc;
    const Results searched = analyse(c.design, s);
    ASSERT_TRUE(searched.effects_space && searched.effects_space->search);
    const EffectsResults &r = *searched.effects_space;
    const SearchSummary &se = *r.search;
    EXPECT_TRUE(se.reached_target);
    auto check = [](const char *what, size_t i, double estimate, double error, double truth) {
      EXPECT_LE(std::fabs(estimate - truth), 0.02) << what << " " << i;
      EXPECT_LE(std::fabs(estimate - truth), 3 * error) << what << " " << i << ": " << estimate << " +- " << error
                                                        << " exact " << truth;
    };
    for (size_t e = 0; e < exact.effects.size(); e++) {
      check("effect", e, r.effect_probability[e], se.effect_se[e], exact.effect_probability[e]);
      EXPECT_NEAR(se.effect_frequency[e], exact.effect_probability[e], 0.02) << e;
      EXPECT_NEAR(se.effect_renormalised[e], exact.effect_probability[e], 0.02) << e;
    }
    for (size_t f = 0; f < exact.factor_probability.size(); f++)
      check("factor", f, r.factor_probability[f], se.factor_se[f], exact.factor_probability[f]);
    check("none", 0, r.none_active, se.none_se, exact.none_active);
    // The best model is the exact one's, with the same weight.
    ASSERT_FALSE(r.top.empty());
    EXPECT_EQ(r.top[0].effects, exact.top[0].effects);
    EXPECT_NEAR(r.top[0].log_weight, exact.top[0].log_weight, 1e-9 * std::fabs(exact.top[0].log_weight));
  }
}

// Chains draw from their own generators and rounds end at fixed counts: one
// thread or several give the same results; another seed other ones.
TEST(ModelSearch, ResultsRepeatForASeedWhateverTheThreads) {
  const Design design = plackett_burman20();
  Settings s;
  s.effects.kind = SpaceKind::Effects;
  s.effects.beta_a = s.effects.beta_b = 1;
  s.effects.gamma_prior = GridSpec{0.5, 5, 3};
  s.model_space.with_null = 1;
  s.model_space.order = 2;
  s.search.mode = SearchMode::Mcmc;
  s.search.iterations = 30000;
  s.follow_up.seed = 7;
  s.threads = 1;
  const EffectsResults one = *analyse(design, s).effects_space;
  s.threads = 3;
  const EffectsResults three = *analyse(design, s).effects_space;
  EXPECT_EQ(one.effect_probability, three.effect_probability);
  EXPECT_EQ(one.search->effect_se, three.search->effect_se);
  EXPECT_EQ(one.search->effect_frequency, three.search->effect_frequency);
  EXPECT_EQ(one.search->distinct, three.search->distinct);
  ASSERT_EQ(one.top.size(), three.top.size());
  for (size_t i = 0; i < one.top.size(); i++) EXPECT_EQ(one.top[i].effects, three.top[i].effects);
  // Strong heredity holds in every model reported.
  for (const EffectModel &m : one.top)
    for (int32_t e : m.effects) {
      const CandidateEffect &effect = one.effects[static_cast<size_t>(e)];
      if (effect.order < 2) continue;
      for (uint64_t bits = effect.mask; bits != 0; bits &= bits - 1) {
        const int parent = __builtin_ctzll(bits);
        EXPECT_NE(std::find(m.effects.begin(), m.effects.end(), parent), m.effects.end());
      }
    }
  s.follow_up.seed = 8;
  const EffectsResults other = *analyse(design, s).effects_space;
  EXPECT_NE(other.effect_probability, one.effect_probability);
}

// --search=auto enumerates within --max-models and searches beyond;
// --search=exact refuses beyond.
TEST(ModelSearch, AutoSearchesOnlyPastTheLimit) {
  const Design design = cast_fatigue();
  Settings s;
  s.effects.kind = SpaceKind::Effects;
  s.model_space.order = 2;
  s.search.iterations = 2000;
  s.search.mode = SearchMode::Auto;
  EXPECT_FALSE(analyse(design, s).effects_space->search);
  s.model_space.max_models = 1000;
  const Results searched = analyse(design, s);
  ASSERT_TRUE(searched.effects_space->search);
  EXPECT_TRUE(searched.effects_space->search->automatic);
  s.search.mode = SearchMode::Exact;
  EXPECT_THROW(analyse(design, s), Error);
}

}  // namespace
}  // namespace bayescreen

namespace bayescreen {
namespace {

// The search's options at the command line: refusals name the word and
// end with status 1; a search reports its figures, puts its standard
// errors in the JSON and CSV, and draws no progress line when standard
// error is not a terminal.
TEST(ModelSearch, CommandLineChecksItsOptionsAndReportsTheSearch) {
  struct Case {
    std::vector<std::string> words;
    int status;
    const char *expected;
  };
  const Case cases[] = {
      {{"--search=mcmc"}, 1, "the search covers the effects space, so it needs --model-space=effects"},
      {{"--model-space=effects", "--chains=2"}, 1, "it shapes the search, so it needs --search=mcmc or --search=auto"},
      {{"--model-space=effects", "--search=fast"}, 1, "the search is auto, mcmc or exact"},
      {{"--model-space=effects", "--search=mcmc", "--keep-aliased"}, 1, "weighs only models whose X'X is regular"},
      {{"--model-space=effects", "--search=mcmc", "--chains=0"}, 1, "`--chains=0'"},
      {{"--random-seed=3"}, 1, "--follow-up=N or --search=mcmc|auto"},
      {{"--model-space=effects", "--max-models=100"}, 1, "or search the space with --search=mcmc"},
      {{"--recommended", "--max-models=100", "--iterations=3000", "--json", "--csv-files"}, 0,
       "more than --max-models: searched.\n  Markov chain Monte Carlo search: 4 chains of 3,000 kept iterations each"},
  };
  for (const Case &c : cases) {
    testutil::TempDir dir;
    const auto r = testutil::run_example("castfatigue12", c.words, dir);
    EXPECT_EQ(r.status, c.status) << c.words.back();
    EXPECT_TRUE(testutil::contains(r.out, c.expected)) << c.words.back() << "\n"
                                                      << r.out.substr(r.out.size() > 600 ? r.out.size() - 600 : 0);
    if (c.status != 0) continue;
    EXPECT_EQ(r.err, "");
    const std::string json = testutil::read_file(dir.file("castfatigue12.json"));
    for (const char *key : {"\"search\": {", "\"chain_difference\": ", "\"frequency_se\": ", "\"renormalised\": "})
      EXPECT_TRUE(testutil::contains(json, key)) << key;
    EXPECT_TRUE(testutil::contains(testutil::read_file(dir.file("castfatigue12.factors.csv")),
                                   "postprob_se,postprob_frequency,postprob_frequency_se,postprob_renormalised"));
  }
}

}  // namespace
}  // namespace bayescreen

namespace bayescreen {
namespace {

// Runs the program in dir with the arguments, its standard error (and
// input) a terminal, its standard output discarded; returns what the
// terminal received and the exit status.
std::pair<std::string, int> run_on_terminal(const std::vector<std::string> &args, const std::string &dir) {
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    std::vector<char *> argv{const_cast<char *>(BAYESCREEN_BIN)};
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(BAYESCREEN_BIN, argv.data());
    _exit(127);
  }
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;  // EIO once the child has closed the terminal
    text.append(buffer, static_cast<size_t>(n));
  }
  int status = 0;
  waitpid(pid, &status, 0);
  close(master);
  return {text, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// A search of more than a second draws its progress line on a terminal,
// rewritten in place and wiped before the report; --quiet draws none.
TEST(ModelSearch, ProgressLineOnATerminalOnly) {
  testutil::TempDir dir;
  dir.write("castfatigue12.txt", testutil::read_file(testutil::source_path("examples/castfatigue12.txt")));
  const std::vector<std::string> words = {"castfatigue12", "--model-space=effects", "--search=mcmc", "--chains=1",
                                          "--threads=1", "--iterations=12000000"};
  const auto [shown, status] = run_on_terminal(words, dir.path());
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(testutil::contains(shown, "\rSearch: ")) << shown;
  EXPECT_TRUE(testutil::contains(shown, " iterations, ")) << shown;
  EXPECT_TRUE(testutil::contains(shown, "\r\033[K")) << shown;
  std::vector<std::string> quiet = words;
  quiet.push_back("--quiet");
  const auto [nothing, quiet_status] = run_on_terminal(quiet, dir.path());
  EXPECT_EQ(quiet_status, 0);
  EXPECT_FALSE(testutil::contains(nothing, "Search: ")) << nothing;
}

}  // namespace
}  // namespace bayescreen
