// The factor tables: the weights and shares that factor_weights forms under
// each weighting, as the report prints them (sums, shares and stars),
// against sums worked by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "engine/modelspace.h"
#include "engine/postactive.h"
#include "engine/settings.h"
#include "report/report.h"
#include "design_fixture.h"
#include "testutil.h"

using namespace bayescreen;

namespace {

// The models of every 1-, 2- and 3-factor set of a few factors (of a design
// of one run), every factor of a model counting as active.
struct Fixture {
  Design design;
  ModelTable models;

  explicit Fixture(int factors) : design(testutil::make_design({std::vector<int>(factors, 1)}, {1.0}, factors)) {
    models = build_model_table(design, ModelSpace());
    for (ModelEntry &m : models) m.ivals = m.fset;
  }

  ModelEntry &operator[](const char *name) { return const_cast<ModelEntry &>(testutil::model_named(models, name)); }
};

const std::map<Weighting, std::string> kHeadings = {
    {Weighting::Fstat, "Weighting models by Fstat:\n"},
    {Weighting::Likelihood, "Weighting models by Likelihood:\n"},
    {Weighting::InvRmse2, "Weighting models by 1/rmse^2:\n"},
    {Weighting::InvRmsec2, "Weighting models by 1/rmsec^2 (pi=0.25, gam=2.5):\n"},
    {Weighting::PostProb, "Weighting models by Bayesian post.prob. (pi=0.25, gam=2.5):\n"},
};

// The factor tables as the report prints them under the settings.
std::string printed(const Fixture &f, const Settings &settings) {
  const FactorWeightTables tables = factor_weight_tables(f.design, settings, f.models, false);
  return testutil::run_child([&] { show_post_active(f.design, settings, f.models, tables); }).out;
}

// The lines of one weighting's table, as printed with -D (every table).
std::string printed_table(const Fixture &f, Weighting w) {
  Settings settings;
  settings.more_posts = 1;
  const std::string out = printed(f, settings);
  const std::string &heading = kHeadings.at(w);
  size_t from = out.find(heading);
  if (from == std::string::npos) return "no table in:\n" + out;
  from += heading.size();
  const size_t blank = out.find("\n\n", from);
  return out.substr(from, blank == std::string::npos ? std::string::npos : blank + 1 - from);
}

// The table of the models weighted by their F statistics.
std::string actives_with_weights(Fixture &f, const std::vector<double> &weights) {
  for (int i = 0; i < f.models.size(); i++) f.models[i].fstat = weights[static_cast<size_t>(i)];
  return printed_table(f, Weighting::Fstat);
}

// The table of the models weighted by their likelihoods, given both as
// plain numbers and as logarithms.
std::string actives_with_logs(Fixture &f, const std::vector<double> &weights, const std::vector<double> &logs) {
  for (int i = 0; i < f.models.size(); i++) {
    f.models[i].likelihood = weights[static_cast<size_t>(i)];
    f.models[i].loglik = logs[static_cast<size_t>(i)];
  }
  return printed_table(f, Weighting::Likelihood);
}

}  // namespace

TEST(PostActive, SumsSharesAndStarsAgainstHandSums) {
  Fixture f(3);  // A B C AB AC BC ABC
  for (const char *name : {"C", "AC", "BC", "ABC"})  // C is marked active in no model
    f[name].ivals &= ~(uint64_t{1} << 2);
  // Weights: A 0.5, B 1, C 2, AB 4, AC 0.25, BC 0.25, ABC 4; total 12.
  // A: 0.5+4+0.25+4 = 8.75 (0.72917, 21.9 -> 22 stars)
  // B: 1+4+0.25+4 = 9.25 (0.77083, 23.1 -> 23 stars); C: 0.
  EXPECT_EQ(actives_with_weights(f, {0.5, 1, 2, 4, 0.25, 0.25, 4}),
            "  A:  8.75    0.72917  " + std::string(22, '*') + "\n" +
                "  B:  9.25    0.77083  " + std::string(23, '*') + "\n" +
                "  C:     0    0.00000  \n");
}

TEST(PostActive, StarsAlignmentInvalidModelsAndInfiniteWeights) {
  const std::string a8 = "  A:  1    0.25000  ********\n", b23 = "  B:  3    0.75000  " + std::string(23, '*') + "\n";
  struct Case {
    const char *what;
    std::vector<double> weights;  // A, B, AB
    bool ab_active;               // AB's factors count as active in it
    bool ab_invalid;
    std::string table;
  } cases[] = {
      // Shares 0.25 and 0.1: 7.5 rounds up to 8 stars, 3 exactly 3.
      {"rounding", {0.25, 0.1, 0.65}, false, false, "  A:  0.25    0.25000  ********\n  B:   0.1    0.10000  ***\n"},
      // Sums 12.5 and 3: the widest "%g" is 4 characters.
      {"alignment", {12.5, 3, 84.5}, false, false, "  A:  12.5    0.12500  ****\n  B:     3    0.03000  *\n"},
      // Below 1/60 of the total no star is drawn; all of it draws thirty.
      {"no star", {1, 0, 99}, false, false, "  A:  1    0.01000  \n  B:  0    0.00000  \n"},
      {"thirty stars", {1, 0, 0}, false, false, "  A:  1    1.00000  " + std::string(30, '*') + "\n  B:  0    0.00000  \n"},
      // An invalid model's 1/0 and a saturated model's NaN count as weight 0.
      {"invalid", {1, 3, INFINITY}, true, true, a8 + b23},
      {"not a number", {1, 3, NAN}, true, false, a8 + b23},
      // No weight at all: every share is 0.
      {"no weight", {0, 0, 0}, true, false, "  A:  0    0.00000  \n  B:  0    0.00000  \n"},
      // A and AB fit exactly: beside their infinite weights B's counts nothing.
      {"infinite A, AB", {INFINITY, 3, INFINITY}, true, false,
       "  A:  inf    1.00000  " + std::string(30, '*') + "\n  B:  inf    0.50000  " + std::string(15, '*') + "\n"},
      {"infinite B", {2, INFINITY, 5}, true, false,
       "  A:    7    0.00000  \n  B:  inf    1.00000  " + std::string(30, '*') + "\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Fixture f(2);  // A B AB
    if (!c.ab_active) f["AB"].ivals = 0;
    f["AB"].invalid = c.ab_invalid;
    EXPECT_EQ(actives_with_weights(f, c.weights), c.table);
  }
}

namespace {

// Relative weights e^-1, e^-2 and 1 for A, B and AB: A's share is
// (e^-1 + 1) / (e^-1 + e^-2 + 1) = 0.90997 (27 stars), B's 0.75527 (23).
const std::string kShareA = "0.90997  " + std::string(27, '*') + "\n";
const std::string kShareB = "0.75527  " + std::string(23, '*') + "\n";

}  // namespace

TEST(PostActive, SharesFromTheLogWeightsWhereThePlainSumsUnderOrOverflow) {
  Fixture f(2);
  const double e1 = std::exp(-1.0), e2 = std::exp(-2.0);
  // Plain weights that can be summed: the shares are plain quotients.
  EXPECT_EQ(actives_with_weights(f, {e1, e2, 1}), "  A:  1.36788    " + kShareA + "  B:  1.13534    " + kShareB);
  // The same weights times e^-900 underflow to 0, times e^-740 they are
  // subnormal, times e^800 they overflow: the shares stay the same.
  EXPECT_EQ(actives_with_logs(f, {0, 0, 0}, {-901, -902, -900}), "  A:  0    " + kShareA + "  B:  0    " + kShareB);
  const double s1 = std::exp(-741.0), s2 = std::exp(-742.0), s0 = std::exp(-740.0);
  const std::string subnormal = actives_with_logs(f, {s1, s2, s0}, {-741, -742, -740});
  EXPECT_NE(subnormal.find("    " + kShareA), std::string::npos) << subnormal;
  EXPECT_NE(subnormal.find("    " + kShareB), std::string::npos) << subnormal;
  EXPECT_EQ(actives_with_logs(f, {INFINITY, INFINITY, INFINITY}, {799, 798, 800}),
            "  A:  inf    " + kShareA + "  B:  inf    " + kShareB);
  // A weight that is truly infinite is infinite in logs too.
  EXPECT_EQ(actives_with_logs(f, {0, 0, INFINITY}, {-901, -902, INFINITY}),
            "  A:  inf    1.00000  " + std::string(30, '*') + "\n" + "  B:  inf    1.00000  " + std::string(30, '*') + "\n");
}

TEST(PostActive, ExtraWeightingsTakeTheLogsOfTheirCriteria) {
  Fixture f(2);
  // Likelihoods e^-901, e^-902, e^-900; rmse e^450.5, e^451, e^450 (1/rmse^2
  // underflows); rmsec e^-399.5, e^-399, e^-400 (1/rmsec^2 overflows).
  const double shift[3] = {-1, -2, 0};
  for (int i = 0; i < f.models.size(); i++) {
    ModelEntry &m = f.models[i];
    m.fstat = 1;
    m.loglik = -900 + shift[i];
    m.likelihood = std::exp(m.loglik);
    m.rmse = std::exp(450 - shift[i] / 2);
    m.rmsec = std::exp(-400 - shift[i] / 2);
    m.postprob = 1.0 / 3;
  }
  Settings settings;
  settings.more_posts = 1;
  const std::string out = printed(f, settings);
  EXPECT_NE(out.find("\nWeighting models by Likelihood:\n"
                     "  A:  0    " + kShareA + "  B:  0    " + kShareB +
                     "\nWeighting models by 1/rmse^2:\n"
                     "  A:  0    " + kShareA + "  B:  0    " + kShareB +
                     "\nWeighting models by 1/rmsec^2 (pi=0.25, gam=2.5):\n"
                     "  A:  inf    " + kShareA + "  B:  inf    " + kShareB),
            std::string::npos)
      << out;
}

TEST(PostActive, DefaultAndExtraWeightings) {
  Fixture f(2);
  for (int i = 0; i < f.models.size(); i++) {
    ModelEntry &m = f.models[i];
    m.fstat = 1 + i;
    m.likelihood = 2;
    m.rmse = 0.5;
    m.rmsec = 1;
    m.postprob = i == 0 ? 1 : 0;
  }
  EXPECT_EQ(printed(f, Settings()),
            "\nPosterior weights that factors are active:\n"
            "Weighting models by Fstat:\n"
            "  A:  4    0.66667  ********************\n"
            "  B:  5    0.83333  *************************\n"
            "\nWeighting models by Bayesian post.prob. (pi=0.25, gam=2.5):\n"
            "  A:  1    1.00000  ******************************\n"
            "  B:  0    0.00000  \n");
  // An invalid AB (rmse = rmsec = 0, so 1/0 in the reciprocal tables) is
  // left out of every table, whatever its other fields hold.
  f["AB"].invalid = 1;
  f["AB"].rmse = f["AB"].rmsec = 0;
  Settings settings;
  settings.more_posts = 1;
  const std::string out = printed(f, settings);
  EXPECT_NE(out.find("Weighting models by Fstat:\n"
                     "  A:  1    0.33333  **********\n"
                     "  B:  2    0.66667  ********************\n"
                     "\nWeighting models by Likelihood:\n"
                     "  A:  2    0.50000  ***************\n"
                     "  B:  2    0.50000  ***************\n"
                     "\nWeighting models by 1/rmse^2:\n"
                     "  A:  4    0.50000  ***************\n"
                     "  B:  4    0.50000  ***************\n"
                     "\nWeighting models by 1/rmsec^2 (pi=0.25, gam=2.5):\n"
                     "  A:  1    0.50000  ***************\n"
                     "  B:  1    0.50000  ***************\n"
                     "\nWeighting models by Bayesian post.prob. (pi=0.25, gam=2.5):\n"),
            std::string::npos)
      << out;
}
