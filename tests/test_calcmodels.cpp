// Model fitting checked against values computed independently with exact
// rational arithmetic (tests/tools/fit_reference.py).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/analysis.h"
#include "engine/calcmodels.h"
#include "engine/modelspace.h"
#include "numeric/matrix.h"
#include "report/report.h"
#include "design_fixture.h"
#include "testutil.h"

using namespace bayescreen;

using testutil::full_factorial;

namespace {

// Every model of the default set of the design fitted under the settings.
ModelTable fit_all(const Design &design, const Settings &settings = Settings()) {
  ModelTable models = build_model_table(design, settings.model_space);
  calc_model_fields(design, settings, models);
  return models;
}

ModelTable fit_all(const std::vector<std::vector<int>> &rows, const std::vector<double> &y, int nvars,
                   const Settings &settings = Settings()) {
  return fit_all(testutil::make_design(rows, y, nvars), settings);
}

// What the report prints once the models of the design are fitted: the
// singular models and the count of invalid ones.
std::string fitted_report(const std::vector<std::vector<int>> &rows, const std::vector<double> &y, int nvars) {
  const Design design = testutil::make_design(rows, y, nvars);
  const Settings settings;
  testutil::Outcome out = testutil::run_child([&] {
    Results results;
    results.models = fit_all(design, settings);
    ReportPrinter(design, settings).models_fitted(results);
  });
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.err, "");
  return out.out;
}

// A 2^3 factorial with a fourth column D = AB: the model ABD has two equal
// columns.
std::vector<std::vector<int>> fourth_column_ab() {
  auto rows = full_factorial(3);
  for (auto &r : rows) r.push_back(r[0] * r[1]);
  return rows;
}

// Entries from -8 to 9 and C = 3A - B: the main-effect columns of ABC are
// dependent, yet the rounding of the decomposition leaves a tiny pivot.
std::vector<std::vector<int>> third_column_3a_minus_b() {
  const std::vector<int> a = {-1, 1, 3, 1, -2, 1, 1, -1, -2, 0};
  const std::vector<int> b = {1, -1, 0, 0, 2, -1, -1, 0, 0, 2};
  std::vector<std::vector<int>> rows;
  for (size_t r = 0; r < a.size(); r++) rows.push_back({a[r], b[r], 3 * a[r] - b[r]});
  return rows;
}
const std::vector<double> kThirdColumnY = {12.2, 12.7, 10.2, 11.0, 8.3, 11.2, 10.6, 9.8, 9.7, 8.1};

void expect_close(double actual, double expected, const char *what) {
  EXPECT_NEAR(actual, expected, 1e-11 * std::fabs(expected) + 1e-14) << what;
}

struct Reference {
  const char *name;
  double rmse, adjrsq, fstat, loglik, rmsec, bval, postprob;
};

void expect_model(const ModelTable &models, const Reference &ref) {
  const ModelEntry &m = testutil::model_named(models, ref.name);
  SCOPED_TRACE(ref.name);
  EXPECT_EQ(m.invalid, 0);
  expect_close(m.rmse, ref.rmse, "rmse");
  expect_close(m.adjrsq, ref.adjrsq, "adjrsq");
  expect_close(m.fstat, ref.fstat, "fstat");
  expect_close(m.loglik, ref.loglik, "loglik");
  expect_close(m.likelihood, std::exp(ref.loglik), "likelihood");
  expect_close(m.rmsec, ref.rmsec, "rmsec");
  expect_close(m.bval, ref.bval, "bval");
  expect_close(m.postprob, ref.postprob, "postprob");
}

double postprob_sum(const ModelTable &models) {
  double sum = 0;
  for (const ModelEntry &m : models) sum += m.postprob;
  return sum;
}

}  // namespace

TEST(CalcModels, TwoByTwoFactorialAgainstHandValues) {
  const ModelTable models = fit_all(full_factorial(2), {10, 12, 20, 23}, 2);
  ASSERT_EQ(models.size(), 3);
  expect_model(models, {"A", 7.433034373659253, -0.4197002141327623, 0.11312217194570136,
                        -12.313196452494525, 7.441114990892985, 2.8048073338752497e-05,
                        0.028028583772111596});
  expect_model(models, {"B", 1.8027756377319946, 0.9164882226980728, 33.92307692307692,
                        -6.646769764382093, 2.3173675383271224, 0.0009286077949313299,
                        0.9279625397908433});
  // The saturated model leaves no residual error: the classical criteria
  // follow IEEE division by zero while the posterior weight stays finite.
  const ModelEntry &ab = testutil::model_named(models, "AB");
  EXPECT_EQ(ab.invalid, 0);
  EXPECT_TRUE(std::isnan(ab.rmse));
  EXPECT_TRUE(std::isnan(ab.adjrsq));
  EXPECT_TRUE(std::isinf(ab.loglik) && ab.loglik > 0);
  EXPECT_TRUE(std::isinf(ab.rmsec));
  expect_close(ab.bval, 4.403947783799644e-05, "bval AB");
  expect_close(ab.postprob, 0.04400887643704502, "postprob AB");
  // Default alpha: every valid model marks exactly its own factors.
  const ModelEntry &a = testutil::model_named(models, "A");
  EXPECT_EQ(has_column(a.ivals, 0), 1);
  EXPECT_EQ(has_column(a.ivals, 1), 0);
  EXPECT_EQ(has_column(ab.ivals, 0) + has_column(ab.ivals, 1), 2);
  EXPECT_NEAR(postprob_sum(models), 1.0, 1e-14);
}

TEST(CalcModels, TwoByThreeFactorialAgainstHandValues) {
  const ModelTable models = fit_all(full_factorial(3), {54, 57, 61, 70, 52, 59, 63, 78}, 3);
  ASSERT_EQ(models.size(), 7);
  const Reference refs[] = {
      {"A", 7.905694150420948, 0.15784408084696824, 2.312, -26.741446202799683, 7.935503904744942,
       1.5739745999230884e-11, 0.05424186461199921},
      {"B", 5.873670062235365, 0.5351299326275265, 9.057971014492754, -24.364617271979515,
       5.959969952110947, 1.1676449248198232e-10, 0.4023904701515494},
      {"C", 9.192388155425117, -0.13859480269489893, 0.14792899408284024, -27.94778611328277,
       9.194609816256621, 5.614177742610458e-12, 0.019347419522351642},
      {"AB", 3.082207001484488, 0.8719923002887392, 16.894736842105264, -17.584086737823583,
       3.4438777733315478, 1.4666049845691746e-10, 0.5054172349170793},
      {"AC", 9.354143466934854, -0.17901828681424448, 0.6457142857142857, -26.465474716851876,
       9.398451061368633, 1.3009280349134734e-13, 0.0004483221161458318},
      {"BC", 6.745368781616021, 0.3869104908565929, 2.4725274725274726, -23.84976884722522,
       6.866907001314775, 1.170359009889532e-12, 0.004033257904223072},
  };
  for (const Reference &ref : refs) expect_model(models, ref);
  // Eight runs and eight columns: nn - nc = 0, yet the weight is finite.
  const ModelEntry &abc = testutil::model_named(models, "ABC");
  expect_close(abc.bval, 4.097715577444352e-12, "bval ABC");
  expect_close(abc.postprob, 0.014121430776651523, "postprob ABC");
}

// Entries other than -1 and 1: a 2^3 factorial with a centre run first and
// another among the runs, so every run is a distinct row of its own.
TEST(CalcModels, CentrePointsAgainstExactValues) {
  std::vector<std::vector<int>> rows = full_factorial(3);
  rows.insert(rows.begin() + 4, {0, 0, 0});
  rows.insert(rows.begin(), {0, 0, 0});
  const ModelTable models = fit_all(rows, {60, 54, 57, 61, 70, 62.5, 52, 59, 63, 78}, 3);
  ASSERT_EQ(models.size(), 7);
  const Reference refs[] = {
      {"A", 6.878635402461741, 0.18581210267195641, 3.053959447856813, -32.35787047154868,
       6.904331369992801, 3.573502359142393e-14, 0.01372759283069366},
      {"B", 5.129875729488971, 0.5471715023182449, 11.87507421921387, -29.424481921656778,
       5.203994270995023, 4.551530190154022e-13, 0.17484682232598017},
      {"C", 7.988468251173062, -0.0981131399072702, 0.19587679349689047, -33.853657907087126,
       7.990385613654823, 9.595753146215625e-15, 0.003686204145299876},
      {"AB", 2.63074767572516, 0.8809091343626022, 23.190848886213125, -21.307938144573292,
       2.9145090058358094, 2.0027787973208955e-12, 0.7693665512554954},
      {"AC", 7.675990706959808, -0.013885569523445341, 0.9589137967611908, -32.0162308880457,
       7.711987740003273, 3.14937681029905e-16, 0.00012098316490992806},
      {"BC", 5.560650441570063, 0.46792696333827255, 3.63832367605444, -28.792408086357483,
       5.65895524896636, 5.1061699302278916e-15, 0.0019615328235944468},
      {"ABC", 1.3275918047351754, 0.9696716218154008, 42.107396149949345, -8.975862048397659,
       2.6183271863733837, 9.446923604262196e-14, 0.036290313454026446},
  };
  for (const Reference &ref : refs) expect_model(models, ref);
}

TEST(CalcModels, UnbalancedDesignAgainstHandValues) {
  const ModelTable models =
      fit_all({{-1, -1, 1}, {1, -1, -1}, {-1, 1, -1}, {1, 1, 1}, {1, 1, -1}, {-1, -1, -1}},
              {3.1, 4.7, 5.2, 9.8, 8.9, 2.5}, 3);
  const Reference refs[] = {
      {"A", 2.1702534414210706, 0.48013245033112584, 5.617834394904459, -11.946299598988523,
       2.209483691231547, 1.3015737333622708e-05, 0.10883443815194142},
      {"C", 3.3019880375313297, -0.20343543046357615, 0.15477214101461742, -14.46438421108255,
       3.3038481534960447, 1.8437191357127199e-06, 0.015416732152924186},
      {"AB", 0.5408326913195985, 0.9677152317880795, 50.95726495726493, -1.5299224962930318,
       0.8602859024593698, 7.97559510956525e-05, 0.6668999154082554},
      {"BC", 2.1523243250030886, 0.48868653421633557, 2.5929123943155243, -9.817084370755842,
       2.28153479801945, 6.079132986075976e-07, 0.005083223531880867},
  };
  for (const Reference &ref : refs) expect_model(models, ref);
  // Six runs cannot carry the eight columns of the three-factor model.
  EXPECT_EQ(testutil::model_named(models, "ABC").invalid, 1);
  EXPECT_EQ(models.invalid, 1);
}

TEST(CalcModels, AliasedFactorsGiveInvalidModelsWithProbabilityZero) {
  const ModelTable models = fit_all(fourth_column_ab(), {54, 57, 61, 70, 52, 59, 63, 78}, 4);
  EXPECT_EQ(models.invalid, 1);
  const ModelEntry &abd = testutil::model_named(models, "ABD");
  EXPECT_EQ(abd.invalid, 1);
  EXPECT_EQ(abd.bval, 0);
  EXPECT_EQ(abd.postprob, 0);
  EXPECT_EQ(abd.rmse, 0);
  EXPECT_EQ(abd.fstat, 0);
  for (int f = 0; f < 4; f++) EXPECT_EQ(has_column(abd.ivals, f), 0);
  EXPECT_NEAR(postprob_sum(models), 1.0, 1e-14);
}

TEST(CalcModels, ExactlySingularModelsOfADesignBeyondTwoLevels) {
  const ModelTable models = fit_all(third_column_3a_minus_b(), kThirdColumnY, 3);
  EXPECT_EQ(models.invalid, 1);
  EXPECT_EQ(testutil::model_named(models, "ABC").invalid, 1);
  EXPECT_EQ(testutil::model_named(models, "ABC").postprob, 0);
  // The probabilities come from the six regular models alone.
  expect_model(models, {"B", 1.1769243229999817, 0.38150636244191855, 6.551483561793033,
                        -14.702712872420136, 1.183462793531537, 2.3304439100098732e-07,
                        0.875958089185256});
  expect_model(models, {"AC", 1.3188812375792907, 0.2233067339974135, 1.862528660046358,
                        -14.403095512602668, 1.3658993748341504, 1.1529581160111538e-10,
                        0.00043336936103623467});
  EXPECT_NEAR(postprob_sum(models), 1.0, 1e-14);
}

TEST(CalcModels, EntriesAtTheIntLimitsAreDecidedExactlyToo) {
  // C = A with entries up to 2^31: X'X is far beyond exact doubles, and the
  // decomposition of its rounded values let AC and ABC pass as regular.
  const std::vector<int> a = {2147483647, INT32_MIN, 1, -5, 2147483647, INT32_MIN, 3, -1};
  const std::vector<int> b = {1, 1, -1, -1, -1, -1, 1, 1};
  std::vector<std::vector<int>> rows;
  for (size_t r = 0; r < a.size(); r++) rows.push_back({a[r], b[r], a[r]});
  const ModelTable models = fit_all(rows, {5, 7, 6, 9, 3, 4, 8, 2}, 3);
  EXPECT_EQ(models.invalid, 2);
  EXPECT_EQ(testutil::model_named(models, "AC").invalid, 1);
  EXPECT_EQ(testutil::model_named(models, "ABC").invalid, 1);
  EXPECT_EQ(testutil::model_named(models, "BC").invalid, 0);
}

// The report of the singular models once the fits are done: each singular
// model with the decomposition's message, then the count of invalid models
// (the plural and the thousands separators of the count line).
TEST(CalcModels, ReportNamesEverySingularModelAndCountsThem) {
  auto four_runs = full_factorial(2);  // C = AB and D = A: AD is singular, no triple fits
  for (auto &r : four_runs) {
    r.push_back(r[0] * r[1]);
    r.push_back(r[0]);
  }
  const struct {
    const char *what;
    std::vector<std::vector<int>> rows;
    std::vector<double> y;
    int nvars;
    int invalid;
    std::vector<std::string> lines;  // each found in the report
  } cases[] = {
      {"D = AB", fourth_column_ab(), {54, 57, 61, 70, 52, 59, 63, 78}, 4, 1,
       {"THE DESIGN MATRIX for model ABD is NOT INVERTIBLE.\n",
        "\n1 model out of 14 were invalid.\n(That is, the design matrix was singular.)\n"}},
      // Three runs of four two-level factors: a triple has 8 possible
      // distinct rows, more than there are runs; only the singles can be fitted.
      {"three runs", {{-1, -1, -1, 1}, {1, -1, 1, -1}, {-1, 1, 1, 1}}, {10, 14, 9}, 4, 10,
       {"\n10 models out of 14 were invalid.\n"}},
      {"C = 3A - B", third_column_3a_minus_b(), kThirdColumnY, 3, 1,
       {"CROUTP: All potential pivot elements are zero!\n"
        "THE DESIGN MATRIX for model ABC is NOT INVERTIBLE.\n"
        "\n1 model out of 7 were invalid.\n"}},
      // Models with more columns than runs are invalid whatever the
      // rounding; the report is the one of a decomposition that meets a
      // zero column.
      {"four runs", four_runs, {10, 12, 20, 23}, 4, 5,
       {"\n5 models out of 14 were invalid.\n",
        "CROUTP: All potential pivot elements are zero!\n"
        "THE DESIGN MATRIX for model ABC is NOT INVERTIBLE.\n"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(fit_all(c.rows, c.y, c.nvars).invalid, c.invalid);
    const std::string report = fitted_report(c.rows, c.y, c.nvars);
    for (const std::string &line : c.lines) EXPECT_TRUE(testutil::contains(report, line)) << report;
  }
}

TEST(CalcModels, AlphaBelowOneMarksFactorsThroughTheirColumns) {
  // y = 10 + 8 AB + small noise: the AB column is significant while the B
  // main effect is not, so B still counts as active through AB. Only pairs
  // are fitted: the triple would leave no error degrees of freedom.
  auto rows = full_factorial(3);
  std::vector<double> y;
  const double noise[8] = {0.3, -0.2, 0.1, -0.4, 0.2, 0.1, -0.3, 0.2};
  for (int r = 0; r < 8; r++) y.push_back(10 + 8 * rows[r][0] * rows[r][1] + noise[r]);
  Settings settings;
  settings.alpha = 0.05;
  const ModelTable models = fit_all(rows, y, 2, settings);
  const ModelEntry &ab = testutil::model_named(models, "AB");
  EXPECT_EQ(has_column(ab.ivals, 0), 1);
  EXPECT_EQ(has_column(ab.ivals, 1), 1);
  // In AB the P-values of A and B are about 0.49 and 0.37, that of AB far
  // below 0.05; alone, A and B explain nothing.
  EXPECT_EQ(has_column(testutil::model_named(models, "B").ivals, 1), 0);
  EXPECT_EQ(has_column(testutil::model_named(models, "A").ivals, 0), 0);
}

TEST(CalcModels, LargeDesignInLargeUnitsKeepsFiniteProbabilities) {
  // 128 runs, responses around 10,000: the plain product of the weights
  // underflows, the probabilities still sum to 1.
  uint32_t state = 12345;
  auto next = [&] {
    state = state * 1664525u + 1013904223u;
    return state;
  };
  std::vector<std::vector<int>> rows;
  std::vector<double> y;
  for (int r = 0; r < 128; r++) {
    std::vector<int> row;
    for (int j = 0; j < 7; j++) row.push_back(next() >> 31 ? 1 : -1);
    double noise = static_cast<double>(next() % 20001) / 100.0 - 100.0;
    y.push_back(10000 + 150 * row[0] - 90 * row[2] * row[3] + noise);
    rows.push_back(row);
  }
  const ModelTable models = fit_all(rows, y, 7);
  double bsum = 0;
  for (const ModelEntry &m : models) bsum += m.bval;
  EXPECT_EQ(bsum, 0.0);  // the product underflows for every model
  for (const ModelEntry &m : models) EXPECT_TRUE(std::isfinite(m.postprob));
  EXPECT_NEAR(postprob_sum(models), 1.0, 1e-12);
  // The planted effects A and CD lead: the best model is ACD.
  int best = 0;
  for (int i = 1; i < models.size(); i++)
    if (models[i].postprob > models[best].postprob) best = i;
  EXPECT_STREQ(models[best].name, "ACD");
}

namespace {

// The model table of the default set of a 2^k factorial, not fitted, for
// setting weights by hand.
ModelTable unfitted_models(int k) {
  const Design design = testutil::make_design(full_factorial(k), std::vector<double>(1u << k, 1.0), k);
  return build_model_table(design, ModelSpace());
}

// Normalises with the given log weights of the models.
void normalise_with(ModelTable &models, const double *logb) {
  for (int i = 0; i < models.size(); i++) models[i].logb = logb[i];
  normalise_postprob(ModelSpace(), models);
}

}  // namespace

TEST(CalcModels, NormalisingInLogsMatchesTheQuotientAndHandlesExtremes) {
  ModelTable model = unfitted_models(2);
  ASSERT_EQ(model.size(), 3);
  // Weights too small for a double: only the logs tell them apart.
  double logb[3] = {-800, -800 + std::log(3.0), -INFINITY};
  for (int i = 0; i < 3; i++) model[i].bval = 0;
  model[2].invalid = 1;
  normalise_with(model, logb);
  EXPECT_NEAR(model[0].postprob, 0.25, 1e-12);
  EXPECT_NEAR(model[1].postprob, 0.75, 1e-12);
  EXPECT_EQ(model[2].postprob, 0);
  // Computable quotients are used as they are.
  model[0].bval = 1e-300;
  model[1].bval = 3e-300;
  normalise_with(model, logb);
  EXPECT_EQ(model[0].postprob, 1e-300 / 4e-300);
  // Overflowing weights: the infinite ones share the probability.
  model[0].bval = INFINITY;
  model[1].bval = INFINITY;
  double inf_logb[3] = {INFINITY, INFINITY, -INFINITY};
  normalise_with(model, inf_logb);
  EXPECT_EQ(model[0].postprob, 0.5);
  EXPECT_EQ(model[1].postprob, 0.5);
  // No valid model at all: every probability is 0, none is NaN.
  model[0].invalid = model[1].invalid = 1;
  model[0].bval = model[1].bval = 0;
  normalise_with(model, logb);
  EXPECT_EQ(model[0].postprob + model[1].postprob + model[2].postprob, 0);
}

TEST(CalcModels, NormalisingInLogsWhereThePlainQuotientsLosePrecision) {
  ModelTable model = unfitted_models(2);
  ASSERT_EQ(model.size(), 3);
  struct Case {
    const char *name;
    double logb[3];
    double expected[3];
  };
  const double tiny = std::exp(-40.0), e1 = std::exp(-1.0), e2 = std::exp(-2.0);
  const Case cases[] = {
      // e^-740 is about 4e-322: a subnormal number with two digits at most.
      {"every weight subnormal", {-740, -740 + std::log(3.0), -INFINITY}, {0.25, 0.75, 0}},
      {"three weights of a few bits", {-744, -745, -746},
       {1 / (1 + e1 + e2), e1 / (1 + e1 + e2), e2 / (1 + e1 + e2)}},
      // The largest weight normal, another subnormal: that one's quotient
      // would keep only a few bits.
      {"one weight subnormal", {-700, -740, -INFINITY}, {1 / (1 + tiny), tiny / (1 + tiny), 0}},
      {"one weight below the least double", {-700, -760, -INFINITY}, {1, std::exp(-60.0), 0}},
      {"weights beyond the largest double", {800, 800 + std::log(3.0), 799},
       {1 / (4 + e1), 3 / (4 + e1), e1 / (4 + e1)}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    for (int i = 0; i < 3; i++) {
      model[i].invalid = c.logb[i] == -INFINITY;
      model[i].bval = std::exp(c.logb[i]);
    }
    normalise_with(model, c.logb);
    for (int i = 0; i < 3; i++)
      EXPECT_NEAR(model[i].postprob, c.expected[i], 1e-12 * c.expected[i]) << i;
  }
}

// Log weights that are not numbers, finite, and one infinite among them
// (with an invalid model's infinite weight, which does not count): the
// infinite one takes all the probability, and no probability is NaN.
TEST(CalcModels, AnInfiniteLogWeightAmongNaNAndFiniteOnesTakesAll) {
  ModelTable model = unfitted_models(3);
  ASSERT_EQ(model.size(), 7);
  const double logb[7] = {NAN, 5, INFINITY, -3, INFINITY, 1e300, NAN};
  const double bval[7] = {NAN, 1, INFINITY, 0, INFINITY, 2, NAN};
  for (int i = 0; i < model.size(); i++) model[i].bval = bval[i];
  model[4].invalid = 1;
  normalise_with(model, logb);
  for (int i = 0; i < model.size(); i++) EXPECT_EQ(model[i].postprob, i == 2 ? 1.0 : 0.0) << i;
}

// ---- Step-through output of one model --------------------------------------------

namespace {

const char *const kTwoByTwo =
    "Two factors\nNrows=4 Ncols=2\nData\n1 -1 -1 10\n2 1 -1 12\n3 -1 1 20\n4 1 1 23\n";

// The step output of the first model: from its heading to the next model's.
std::string first_model_steps(const std::string &out) {
  size_t from = out.find("1. Model A");
  size_t to = out.find("2. Model B");
  if (from == std::string::npos) return "";
  return out.substr(from, to == std::string::npos ? std::string::npos : to - from);
}

testutil::Outcome run_steps(const std::vector<std::string> &options, const std::string &keys) {
  testutil::TempDir dir;
  dir.write("d.txt", kTwoByTwo);
  std::vector<std::string> args = {"d"};
  args.insert(args.end(), options.begin(), options.end());
  return testutil::run_program(args, dir.path(), keys);
}

const std::string kHeadLine = "1. Model A (nf=1, nc=2, moff=`0')\n";
const std::string kVerboseLines =
    "Base columns of XIMAT (nn=4, nf=1, moff=0)\n"
    "  -1\n   1\n  -1\n   1\n"
    "The design matrix X:\n"
    "  1.    1  -1\n  2.    1   1\n  3.    1  -1\n  4.    1   1\n"
    "The matrix XT:\n"
    "  1.    1   1   1   1\n  2.   -1   1  -1   1\n";
const std::string kFitLines =
    "The 2x2 matrix XTX for A:\n"
    "  1.    4   0\n  2.    0   4\n"
    "MLEs:  16.25(Intercept)  1.25\n"
    "SSE: 110.5   MSE: 55.25   RMSE: 7.43303   LogLik: -12.3132\n"
    "  AdjRsq: -0.4197   Fstat: 0.113122   Likelihood: 4.49207e-06\n";
std::string posterior_lines(const char *ivals) {
  return std::string("Ivalues and LikL: ") + ivals + "  4.49207e-06\n" +
         "The 2x2 matrix XTXG:\n"
         "  1.    4   0\n  2.    0 4.16\n"
         "Post.mode:  16.25(Intercept)  1.20192\n"
         "Qqc: 110.74   Mqqc: 55.3702   Rmsec=7.44111\n"
         "  Xtxgdet: 16.64   Bval=PrePostProb: 2.80481e-05\n"
         "Ivalues and Bval: " + ivals + "  2.80481e-05\n";
}

}  // namespace

TEST(CalcModelsSteps, StepThroughShowsEachFitAndPauses) {
  auto r = run_steps({"-S"}, "");
  EXPECT_EQ(first_model_steps(r.out), kHeadLine + kFitLines + posterior_lines(" 1 0"));
  // One pause per model; at the end of input each pause goes on at once.
  EXPECT_EQ(r.err, "Press any key to continue....\nPress any key to continue....\n"
                   "Press any key to continue....\n");
  EXPECT_EQ(r.status, 0);
}

TEST(CalcModelsSteps, VerboseAddsTheMatrices) {
  auto r = run_steps({"-V"}, "");
  EXPECT_EQ(first_model_steps(r.out),
            kHeadLine + kVerboseLines + kFitLines + posterior_lines(" 1 0"));
}

TEST(CalcModelsSteps, AlphaBelowOneShowsThePValues) {
  auto r = run_steps({"-S", "-A0.5"}, "");
  EXPECT_EQ(first_model_steps(r.out),
            kHeadLine + kFitLines + "Pvalues:   0.768628(A)\n" + posterior_lines(" 0 0"));
  r = run_steps({"-V", "-A0.5"}, "");
  EXPECT_EQ(first_model_steps(r.out), kHeadLine + kVerboseLines + kFitLines +
                                          "Pvalues:   0.768628(A)\n" + posterior_lines(" 0 0"));
}

TEST(CalcModelsSteps, QuitKeyEndsTheRunAtThePause) {
  auto r = run_steps({"-S"}, "xq");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "Press any key to continue....x\nPress any key to continue....q\n");
  EXPECT_NE(r.out.find("2. Model B"), std::string::npos);
  EXPECT_EQ(r.out.find("3. Model AB"), std::string::npos);
  // Without -S nothing pauses and no step line is shown.
  r = run_steps({}, "q");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.find("1. Model A"), std::string::npos);
}

// ---- Fast kernels against the plain matrix formulas, bit for bit -----------------

namespace {

bool same_bits(const std::vector<double> &a, const std::vector<double> &b) {
  return a.size() == b.size() && memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

uint64_t lcg_state = 2024;
uint64_t lcg() {
  lcg_state = lcg_state * 6364136223846793005ULL + 1442695040888963407ULL;
  return lcg_state >> 33;
}

}  // namespace

TEST(CalcModels, FittingKernelsEqualThePlainMatrixChainBitForBit) {
  // X'X = X' X, beta = ((X'X)^-1 X') y, X beta, and the same with X'X + G,
  // formed by set_transpose, matmult, matinv and matmult3, against the fits'
  // grouped and vectorised kernels, for every model of three kinds of design.
  const std::vector<int> levels[3] = {{-1, 1}, {-1, 0, 1}, {-3, -1, 2, 5}};
  for (int kind = 0; kind < 3; kind++) {
    std::vector<std::vector<int>> rows;
    std::vector<double> y;
    for (int r = 0; r < 20; r++) {
      std::vector<int> row;
      for (int j = 0; j < 4; j++) {
        const auto &l = levels[kind];
        // Centre points: the first run and one among the others.
        row.push_back(kind == 1 && (r == 0 || r == 11) ? 0 : l[lcg() % l.size()]);
      }
      rows.push_back(row);
      y.push_back(static_cast<double>(lcg() % 100000) / 997.0);
    }
    const Design design = testutil::make_design(rows, y, 4);
    const Settings settings;
    const ModelTable models = fit_all(design, settings);
    ModelRefitter refitter(design, settings, largest_model_columns(models));
    const int nn = design.runs;
    const double gam = settings.gamma;
    const double *yy = design.y.data();
    for (const ModelEntry &m : models) {
      if (m.invalid) continue;
      SCOPED_TRACE(std::string("design kind ") + std::to_string(kind) + ", model " + m.name);
      const FitDetails d = refitter.details(m);
      const int nc = d.nc;
      uint64_t masks[64];
      ASSERT_EQ(model_column_masks(settings.model_space, m, masks), nc);
      std::vector<double> x(static_cast<size_t>(nn * nc)), xt(x.size());
      for (int r = 0; r < nn; r++)
        for (int k = 0; k < nc; k++) {
          double product = 1;
          for (int c = 0; c < 4; c++)
            if (has_column(masks[k], c)) product *= rows[static_cast<size_t>(r)][static_cast<size_t>(c)];
          x[static_cast<size_t>(r * nc + k)] = product;
        }
      set_transpose(xt.data(), x.data(), nn, nc);
      std::vector<double> xtx(static_cast<size_t>(nc * nc)), xtxi(xtx.size()), beta(static_cast<size_t>(nc)),
          fit(static_cast<size_t>(nn));
      matmult(xtx.data(), xt.data(), x.data(), nc, nn, nc);
      EXPECT_TRUE(same_bits(xtx, d.xtx)) << "X'X";
      ASSERT_EQ(matinv(xtxi.data(), xtx.data(), nc), 0);
      matmult3(beta.data(), xtxi.data(), xt.data(), yy, nc, nc, nn, 1);
      matmult(fit.data(), x.data(), beta.data(), nn, nc, 1);
      EXPECT_TRUE(same_bits(beta, d.beta)) << "beta";
      EXPECT_TRUE(same_bits(fit, d.yfit)) << "fitted values";
      std::vector<double> xtxg = xtx, xtxgi(xtx.size()), cc(beta.size());
      for (int k = 1; k < nc; k++) xtxg[static_cast<size_t>(k * nc + k)] += 1 / (gam * gam);
      EXPECT_TRUE(same_bits(xtxg, d.xtxg)) << "X'X + G";
      ASSERT_EQ(matinv(xtxgi.data(), xtxg.data(), nc), 0);
      matmult3(cc.data(), xtxgi.data(), xt.data(), yy, nc, nc, nn, 1);
      matmult(fit.data(), x.data(), cc.data(), nn, nc, 1);
      EXPECT_TRUE(same_bits(cc, d.cc)) << "posterior mode";
      EXPECT_TRUE(same_bits(fit, d.yfitc)) << "fitted values at the posterior mode";
    }
  }
}
