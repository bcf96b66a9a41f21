#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "cli/driver.h"
#include "engine/models.h"
#include "engine/postactive.h"
#include "design_fixture.h"
#include "testutil.h"

using namespace bayescreen;
using testutil::model_named;

namespace {

void models_of(int factors) {
  testutil::set_design({std::vector<int>(factors, 1)}, {1.0}, factors);
  init_models();
  for (int i = 0; i < nmod; i++)
    model[i].ivals = model[i].fset;
}

std::string actives_with_weights(const std::vector<double> &weights) {
  return testutil::run_child([&] {
           for (int i = 0; i < nmod; i++) model[i].wt = weights[static_cast<size_t>(i)];
           show_actives();
         })
      .out;
}

}  // namespace

TEST(PostActive, SumsSharesAndStarsAgainstHandSums) {
  models_of(3);  // A B C AB AC BC ABC
  model_named("C").ivals &= ~(uint64_t{1} << 2);  // C is marked active in no model...
  model_named("AC").ivals &= ~(uint64_t{1} << 2);
  model_named("BC").ivals &= ~(uint64_t{1} << 2);
  model_named("ABC").ivals &= ~(uint64_t{1} << 2);
  // Weights: A 0.5, B 1, C 2, AB 4, AC 0.25, BC 0.25, ABC 4; total 12.
  // A: 0.5+4+0.25+4 = 8.75 (0.72917, 21.9 -> 22 stars)
  // B: 1+4+0.25+4 = 9.25 (0.77083, 23.1 -> 23 stars); C: 0.
  EXPECT_EQ(actives_with_weights({0.5, 1, 2, 4, 0.25, 0.25, 4}),
            "  A:  8.75    0.72917  " + std::string(22, '*') + "\n" +
                "  B:  9.25    0.77083  " + std::string(23, '*') + "\n" +
                "  C:     0    0.00000  \n");
}

TEST(PostActive, StarRoundingAndAlignment) {
  models_of(2);  // A B AB
  model_named("AB").ivals = 0;
  // Shares 0.25 and 0.1: 7.5 rounds up to 8 stars, 3 exactly 3.
  EXPECT_EQ(actives_with_weights({0.25, 0.1, 0.65}),
            "  A:  0.25    0.25000  ********\n"
            "  B:   0.1    0.10000  ***\n");
  // Sums 12.5 and 3: the widest "%g" is 4 characters.
  EXPECT_EQ(actives_with_weights({12.5, 3, 84.5}),
            "  A:  12.5    0.12500  ****\n"
            "  B:     3    0.03000  *\n");
  // Below 1/60 of the total no star is drawn; all of it draws thirty.
  EXPECT_EQ(actives_with_weights({1, 0, 99}),
            "  A:  1    0.01000  \n"
            "  B:  0    0.00000  \n");
  EXPECT_EQ(actives_with_weights({1, 0, 0}),
            "  A:  1    1.00000  " + std::string(30, '*') + "\n" + "  B:  0    0.00000  \n");
}

TEST(PostActive, InvalidModelsAndWeightsThatAreNotNumbersCountZero) {
  models_of(2);
  // An invalid model's 1/0 and a saturated model's NaN count as weight 0.
  model_named("AB").invalid = 1;
  EXPECT_EQ(actives_with_weights({1, 3, INFINITY}),
            "  A:  1    0.25000  ********\n"
            "  B:  3    0.75000  " + std::string(23, '*') + "\n");
  model_named("AB").invalid = 0;
  EXPECT_EQ(actives_with_weights({1, 3, NAN}),
            "  A:  1    0.25000  ********\n"
            "  B:  3    0.75000  " + std::string(23, '*') + "\n");
  // No weight at all: every share is 0.
  EXPECT_EQ(actives_with_weights({0, 0, 0}), "  A:  0    0.00000  \n  B:  0    0.00000  \n");
}

TEST(PostActive, InfiniteWeightsAreSharedEquallyByTheirModels) {
  models_of(2);  // A B AB
  // A and AB fit exactly: beside their infinite weights B's counts nothing.
  EXPECT_EQ(actives_with_weights({INFINITY, 3, INFINITY}),
            "  A:  inf    1.00000  " + std::string(30, '*') + "\n" +
                "  B:  inf    0.50000  " + std::string(15, '*') + "\n");
  EXPECT_EQ(actives_with_weights({2, INFINITY, 5}),
            "  A:    7    0.00000  \n"
            "  B:  inf    1.00000  " + std::string(30, '*') + "\n");
}

namespace {

// Relative weights e^-1, e^-2 and 1 for A, B and AB: A's share is
// (e^-1 + 1) / (e^-1 + e^-2 + 1) = 0.90997 (27 stars), B's 0.75527 (23).
const std::string kShareA = "0.90997  " + std::string(27, '*') + "\n";
const std::string kShareB = "0.75527  " + std::string(23, '*') + "\n";

std::string actives_with_logs(const std::vector<double> &weights, std::vector<double> logs) {
  return testutil::run_child([&] {
           for (int i = 0; i < nmod; i++) model[i].wt = weights[static_cast<size_t>(i)];
           show_actives(logs.data());
         })
      .out;
}

}  // namespace

TEST(PostActive, SharesFromTheLogWeightsWhereThePlainSumsUnderOrOverflow) {
  models_of(2);
  const double e1 = std::exp(-1.0), e2 = std::exp(-2.0);
  // Plain weights that can be summed: the shares are plain quotients.
  EXPECT_EQ(actives_with_weights({e1, e2, 1}),
            "  A:  1.36788    " + kShareA + "  B:  1.13534    " + kShareB);
  // The same weights times e^-900 underflow to 0, times e^-740 they are
  // subnormal, times e^800 they overflow: the shares stay the same.
  EXPECT_EQ(actives_with_logs({0, 0, 0}, {-901, -902, -900}),
            "  A:  0    " + kShareA + "  B:  0    " + kShareB);
  const double s1 = std::exp(-741.0), s2 = std::exp(-742.0), s0 = std::exp(-740.0);
  const std::string subnormal = actives_with_logs({s1, s2, s0}, {-741, -742, -740});
  EXPECT_NE(subnormal.find("    " + kShareA), std::string::npos) << subnormal;
  EXPECT_NE(subnormal.find("    " + kShareB), std::string::npos) << subnormal;
  EXPECT_EQ(actives_with_logs({INFINITY, INFINITY, INFINITY}, {799, 798, 800}),
            "  A:  inf    " + kShareA + "  B:  inf    " + kShareB);
  // A weight that is truly infinite is infinite in logs too.
  EXPECT_EQ(actives_with_logs({0, 0, INFINITY}, {-901, -902, INFINITY}),
            "  A:  inf    1.00000  " + std::string(30, '*') + "\n" +
                "  B:  inf    1.00000  " + std::string(30, '*') + "\n");
}

TEST(PostActive, ExtraWeightingsTakeTheLogsOfTheirCriteria) {
  models_of(2);
  // Likelihoods e^-901, e^-902, e^-900; rmse e^450.5, e^451, e^450 (1/rmse^2
  // underflows); rmsec e^-399.5, e^-399, e^-400 (1/rmsec^2 overflows).
  const double shift[3] = {-1, -2, 0};
  for (int i = 0; i < nmod; i++) {
    model[i].fstat = 1;
    model[i].loglik = -900 + shift[i];
    model[i].likelihood = std::exp(model[i].loglik);
    model[i].rmse = std::exp(450 - shift[i] / 2);
    model[i].rmsec = std::exp(-400 - shift[i] / 2);
    model[i].postprob = 1.0 / 3;
  }
  moreposts = 1;
  auto r = testutil::run_child([] { show_post_active(); });
  moreposts = 0;
  EXPECT_NE(r.out.find("\nWeighting models by Likelihood:\n"
                       "  A:  0    " + kShareA + "  B:  0    " + kShareB +
                       "\nWeighting models by 1/rmse^2:\n"
                       "  A:  0    " + kShareA + "  B:  0    " + kShareB +
                       "\nWeighting models by 1/rmsec^2 (pi=0.25, gam=2.5):\n"
                       "  A:  inf    " + kShareA + "  B:  inf    " + kShareB),
            std::string::npos)
      << r.out;
}

TEST(PostActive, DefaultAndExtraWeightings) {
  models_of(2);
  for (int i = 0; i < nmod; i++) {
    model[i].fstat = 1 + i;
    model[i].likelihood = 2;
    model[i].rmse = 0.5;
    model[i].rmsec = 1;
    model[i].postprob = i == 0 ? 1 : 0;
  }
  auto r = testutil::run_child([] { show_post_active(); });
  EXPECT_EQ(r.out,
            "\nPosterior weights that factors are active:\n"
            "Weighting models by Fstat:\n"
            "  A:  4    0.66667  ********************\n"
            "  B:  5    0.83333  *************************\n"
            "\nWeighting models by Bayesian post.prob. (pi=0.25, gam=2.5):\n"
            "  A:  1    1.00000  ******************************\n"
            "  B:  0    0.00000  \n");
  // An invalid AB (rmse = rmsec = 0, so 1/0 in the reciprocal tables) is
  // left out of every table, whatever its other fields hold.
  model_named("AB").invalid = 1;
  model_named("AB").rmse = model_named("AB").rmsec = 0;
  r = testutil::run_child([] {
    moreposts = 1;
    show_post_active();
  });
  EXPECT_NE(r.out.find("Weighting models by Fstat:\n"
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
      << r.out;
}
