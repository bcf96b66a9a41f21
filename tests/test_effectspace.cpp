// The effects space: where it coincides with the factors space, its
// independence of the number of threads, its model count against a brute
// count, its prior against hand-worked products, its option readers, its
// alias groups and its refusals. The posteriors themselves are checked
// against the numpy reference (tools/effectspace_reference.py).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "design_fixture.h"
#include "engine/analysis.h"
#include "engine/effectspace.h"
#include "testutil.h"

namespace bayescreen {
namespace {

using testutil::contains;
using testutil::make_design;

// The 12-run Plackett-Burman design (generator + + - + + + - - - + -).
std::vector<std::vector<int>> plackett_burman12(int factors) {
  const int g[11] = {1, 1, -1, 1, 1, 1, -1, -1, -1, 1, -1};
  std::vector<std::vector<int>> rows;
  for (int i = 0; i < 12; i++) {
    std::vector<int> row;
    for (int j = 0; j < factors; j++) row.push_back(i == 11 ? -1 : g[(j - i + 11) % 11]);
    rows.push_back(row);
  }
  return rows;
}

// A response with effects A, B and AB and a fixed irregular remainder.
std::vector<double> response(const std::vector<std::vector<int>> &rows) {
  const double noise[12] = {0.31, -0.84, 0.12, 1.07, -0.45, 0.66, -1.2, 0.05, 0.93, -0.27, -0.61, 0.38};
  std::vector<double> y;
  for (size_t r = 0; r < rows.size(); r++)
    y.push_back(50 + 2 * rows[r][0] - 1.5 * rows[r][1] + 1.2 * rows[r][0] * rows[r][1] + noise[r % 12]);
  return y;
}

Settings effects_settings() {
  Settings s;
  s.effects.kind = SpaceKind::Effects;
  s.model_space.order = 2;
  return s;
}

// At order 1 the effects space and --null --max-factors=all --order=1 are
// the same models with the same prior: (pi/(1-pi))^k is pi^k (1-pi)^(p-k)
// up to a constant.
TEST(EffectsSpace, OrderOneIsTheFactorsSpaceOfMainEffects) {
  struct Case {
    int factors;
    double pi, gamma;
  };
  const Case cases[] = {{5, 0.25, 2.5}, {7, 0.25, 2.5}, {5, 0.4, 1.0}, {11, 0.1, 4.0}};
  for (const Case &c : cases) {
    const auto rows = plackett_burman12(c.factors);
    const Design design = make_design(rows, response(rows), c.factors);
    Settings factors;
    factors.pi = c.pi;
    factors.gamma = c.gamma;
    factors.model_space.with_null = 1;
    factors.model_space.max_factors = c.factors;
    factors.model_space.order = 1;
    Settings effects = factors;
    effects.effects.kind = SpaceKind::Effects;
    effects.effects.top_models = 5;
    const Results a = analyse(design, factors);
    const Results b = analyse(design, effects);
    ASSERT_TRUE(b.effects_space);
    const EffectsResults &r = *b.effects_space;
    SCOPED_TRACE(c.factors);
    for (int f = 0; f < c.factors; f++) {
      EXPECT_NEAR(r.factor_probability[static_cast<size_t>(f)], a.weights[Weighting::PostProb].shares[static_cast<size_t>(f)], 1e-9);
      EXPECT_NEAR(r.effect_probability[static_cast<size_t>(f)], r.factor_probability[static_cast<size_t>(f)], 1e-12);
    }
    EXPECT_NEAR(r.none_active, a.weights.none_active, 1e-9);
    for (const EffectModel &m : r.top) {
      std::string name;
      for (int32_t e : m.effects) name += r.effects[static_cast<size_t>(e)].name;
      if (name.empty()) name = "(null)";
      EXPECT_NEAR(m.probability, testutil::model_named(a.models, name.c_str()).postprob, 1e-9) << name;
    }
  }
}

// The sums of each task are combined in a fixed order: any number of
// threads gives the same bits.
TEST(EffectsSpace, ResultsDoNotDependOnTheNumberOfThreads) {
  const auto rows = plackett_burman12(7);
  const Design design = make_design(rows, response(rows), 7);
  Settings s = effects_settings();
  s.effects.beta_a = s.effects.beta_b = 1;
  s.effects.gamma_prior = GridSpec{0.5, 5, 4};
  s.effects.threads = 1;
  const EffectsResults one = analyse_effects(design, s);
  for (int threads : {2, 3, 8}) {
    s.effects.threads = threads;
    const EffectsResults many = analyse_effects(design, s);
    EXPECT_EQ(many.effect_probability, one.effect_probability) << threads;
    EXPECT_EQ(many.factor_probability, one.factor_probability) << threads;
    EXPECT_EQ(many.none_active, one.none_active);
    EXPECT_EQ(many.visited, one.visited);
    ASSERT_EQ(many.top.size(), one.top.size());
    for (size_t i = 0; i < one.top.size(); i++) {
      EXPECT_EQ(many.top[i].effects, one.top[i].effects);
      EXPECT_EQ(many.top[i].probability, one.top[i].probability);
    }
  }
}

// The models of nonzero prior, counted one by one over every subset of the
// candidate effects, against count_effect_models; with --keep-aliased the
// walk visits each of them.
TEST(EffectsSpace, ModelCountIsTheNumberOfModelsOfNonzeroPrior) {
  struct Case {
    int factors, order;
    Heredity heredity;
    double p11, p10, p00;
    int keep_aliased;
  };
  const Case cases[] = {
      {4, 2, Heredity::Strong, 0.25, 0.1, 0.01, 1}, {4, 2, Heredity::Weak, 0.25, 0.1, 0.01, 1},
      {4, 2, Heredity::Weak, 0.25, 0.1, 0, 1},      {4, 2, Heredity::None, 0.25, 0.1, 0.01, 1},
      {4, 3, Heredity::Strong, 0.25, 0.1, 0.01, 1}, {4, 3, Heredity::Weak, 0.3, 0, 0.2, 1},
      {5, 2, Heredity::Strong, 0.25, 0.1, 0.01, 0}, {5, 2, Heredity::None, 0.25, 0.1, 0.01, 0},
      {4, 2, Heredity::Strong, 0, 0.1, 0.01, 1},
  };
  for (const Case &c : cases) {
    // 8 runs: models of more than 7 effects are singular.
    std::vector<std::vector<int>> rows = testutil::full_factorial(3);
    for (auto &row : rows) {
      const int a = row[0], b = row[1], d = row[2];
      row = {a, b, d, a * b * d, a * b};
      row.resize(static_cast<size_t>(c.factors));
    }
    const Design design = make_design(rows, std::vector<double>{1, 4, 2, 8, 5, 7, 3, 9}, c.factors);
    Settings s = effects_settings();
    s.model_space.order = c.order;
    s.model_space.keep_aliased = c.keep_aliased;
    s.effects.heredity = c.heredity;
    s.effects.p11 = c.p11;
    s.effects.p10 = c.p10;
    s.effects.p00 = c.p00;
    // The candidates by hand: factor sets of size 1 .. order.
    std::vector<uint32_t> sets;
    for (uint32_t m = 1; m < (1u << c.factors); m++)
      if (__builtin_popcount(m) <= c.order) sets.push_back(m);
    std::sort(sets.begin(), sets.end(), [](uint32_t x, uint32_t y) {
      return __builtin_popcount(x) < __builtin_popcount(y);
    });
    uint64_t count = 0;
    const size_t n = sets.size();
    for (uint64_t model = 0; model < (uint64_t{1} << n); model++) {
      if (!c.keep_aliased && __builtin_popcountll(model) > 7) continue;
      uint32_t mains = 0;
      for (size_t i = 0; i < n; i++)
        if ((model >> i & 1) && __builtin_popcount(sets[i]) == 1) mains |= sets[i];
      bool allowed = true;
      for (size_t i = 0; i < n && allowed; i++) {
        if (!(model >> i & 1) || __builtin_popcount(sets[i]) == 1) continue;
        const uint32_t in = sets[i] & mains;
        double q = c.p11;
        if (c.heredity == Heredity::Strong && in != sets[i]) q = 0;
        if (c.heredity == Heredity::Weak && in != sets[i]) q = in != 0 ? c.p10 : c.p00;
        allowed = q > 0;
      }
      if (allowed) count++;
    }
    SCOPED_TRACE(testing::Message() << c.factors << " factors, order " << c.order << ", heredity "
                                    << static_cast<int>(c.heredity) << ", keep " << c.keep_aliased);
    EXPECT_EQ(count_effect_models(design, s), count);
    if (c.keep_aliased) {
      s.effects.threads = 2;
      EXPECT_EQ(analyse_effects(design, s).visited, count);
    }
  }
}

// log p(M) against products worked by hand, 3 factors, order 2 (AB, AC, BC).
TEST(EffectsSpace, ModelPriorIsTheProductOverTheEffects) {
  const auto rows = plackett_burman12(3);
  const Design design = make_design(rows, response(rows), 3);
  const double pi = 0.25, p11 = 0.25, p10 = 0.1, p00 = 0.01;
  struct Case {
    Heredity heredity;
    bool beta;
    uint64_t mains;
    std::vector<int32_t> interactions;  // 3: AB, 4: AC, 5: BC
    double prior;
  };
  const double beta_k1 = 1.0 / 12;  // B(2, 3) / B(1, 1) = 1! 2! / 4!
  const double beta_k2 = 1.0 / 12;  // B(3, 2)
  const Case cases[] = {
      {Heredity::Strong, false, 0b011, {3}, pi * pi * (1 - pi) * p11},
      {Heredity::Strong, false, 0b011, {}, pi * pi * (1 - pi) * (1 - p11)},
      {Heredity::Strong, false, 0b001, {3}, 0},
      {Heredity::Weak, false, 0b001, {}, pi * (1 - pi) * (1 - pi) * (1 - p10) * (1 - p10) * (1 - p00)},
      {Heredity::Weak, false, 0b001, {5}, pi * (1 - pi) * (1 - pi) * (1 - p10) * (1 - p10) * p00},
      {Heredity::Weak, false, 0b111, {3, 4, 5}, pi * pi * pi * p11 * p11 * p11},
      {Heredity::None, false, 0b000, {4}, (1 - pi) * (1 - pi) * (1 - pi) * p11 * (1 - p11) * (1 - p11)},
      {Heredity::Strong, true, 0b001, {}, beta_k1},
      {Heredity::Strong, true, 0b110, {5}, beta_k2 * p11},
      {Heredity::Strong, true, 0b000, {}, 0.25},  // B(1, 4) = 1/4
  };
  for (const Case &c : cases) {
    Settings s = effects_settings();
    s.pi = pi;
    s.effects.heredity = c.heredity;
    if (c.beta) s.effects.beta_a = s.effects.beta_b = 1;
    const auto effects = candidate_effects(design, s);
    ASSERT_EQ(effects.size(), 6u);
    ASSERT_EQ(effects[3].name, "AB");
    ASSERT_EQ(effects[5].name, "BC");
    const double got = log_model_prior(effects, design, s, c.mains, c.interactions);
    if (c.prior == 0)
      EXPECT_EQ(got, -INFINITY);
    else
      EXPECT_NEAR(got, log(c.prior), 1e-12) << c.mains;
  }
}

TEST(EffectsSpace, OptionReadersAcceptTheirFormsOnly) {
  struct Case {
    const char *(*parse)(const char *, EffectsPrior *);
    const char *text;
    bool accepted;
  };
  const Case cases[] = {
      {parse_model_space, "effects", true},     {parse_model_space, "factors", true},
      {parse_model_space, "Effects", false},    {parse_heredity, "strong", true},
      {parse_heredity, "weak", true},           {parse_heredity, "none", true},
      {parse_heredity, "partial", false},       {parse_heredity_probs, "0.25,0.1,0.01", true},
      {parse_heredity_probs, "0,0,0", true},    {parse_heredity_probs, "0.25,0.1", false},
      {parse_heredity_probs, "1,0.1,0", false}, {parse_heredity_probs, "0.2,-0.1,0", false},
      {parse_heredity_probs, "a,b,c", false},   {parse_pi_prior, "beta:1:1", true},
      {parse_pi_prior, "beta:0.5:2", true},     {parse_pi_prior, "beta:0:1", false},
      {parse_pi_prior, "gamma:1:1", false},     {parse_pi_prior, "beta:1", false},
      {parse_pi_prior, "beta:1:x", false},
  };
  for (const Case &c : cases) {
    EffectsPrior prior;
    EXPECT_EQ(c.parse(c.text, &prior) == nullptr, c.accepted) << c.text;
  }
  EffectsPrior prior;
  ASSERT_EQ(parse_heredity_probs("0.3,0.2,0.05", &prior), nullptr);
  EXPECT_EQ(prior.p11, 0.3);
  EXPECT_EQ(prior.p10, 0.2);
  EXPECT_EQ(prior.p00, 0.05);
  ASSERT_EQ(parse_pi_prior("beta:2:5", &prior), nullptr);
  EXPECT_EQ(prior.beta_a, 2);
  EXPECT_EQ(prior.beta_b, 5);
}

// The 2^(3-1) design with C = AB: each main effect is the interaction of
// the other two.
TEST(EffectsSpace, AliasGroupsAreEffectsOfTheSameColumn) {
  const std::vector<std::vector<int>> rows = {{-1, -1, 1}, {1, -1, -1}, {-1, 1, -1}, {1, 1, 1}};
  const Design design = make_design(rows, {3, 5, 4, 9}, 3);
  Settings s = effects_settings();
  const auto effects = candidate_effects(design, s);
  const EffectAliasGroups groups = effect_alias_groups(design, effects);
  ASSERT_EQ(groups.size(), 3u);
  auto names = [&](const std::vector<int32_t> &group) {
    std::string text;
    for (int32_t e : group) text += effects[static_cast<size_t>(e)].name + " ";
    return text;
  };
  EXPECT_EQ(names(groups[0]), "A BC ");
  EXPECT_EQ(names(groups[1]), "B AC ");
  EXPECT_EQ(names(groups[2]), "C AB ");
}

TEST(EffectsSpace, SpacesBeyondTheLimitAreRefusedBeforeAnyWork) {
  const auto rows = plackett_burman12(7);
  const Design design = make_design(rows, response(rows), 7);
  Settings s = effects_settings();
  s.model_space.max_models = 1000;
  try {
    analyse(design, s);
    FAIL() << "no refusal";
  } catch (const Error &e) {
    EXPECT_TRUE(contains(e.message(), "TOO MANY MODELS: the effects space holds")) << e.message();
    EXPECT_TRUE(contains(e.message(), "more than the limit of 1000")) << e.message();
  }
}

// The command line: the prior's options need the effects space, the
// factors space's options are refused in it, and --recommended runs.
TEST(EffectsSpace, CommandLineChecksItsOptions) {
  struct Case {
    std::vector<std::string> words;
    int status;
    const char *expected;
  };
  const Case cases[] = {
      {{"--heredity=weak"}, 1, "it shapes the prior of the effects space, so it needs --model-space=effects"},
      {{"--pi-prior=beta:1:1"}, 1, "needs --model-space=effects"},
      {{"--model-space=effects", "--max-factors=2"}, 1, "the effects space (--model-space=effects) does not offer it"},
      {{"--model-space=effects", "--gamma-grid=1:2:3"}, 1, "does not offer it"},
      {{"--model-space=models"}, 1, "the model space is factors or effects"},
      {{"--recommended", "--heredity-probs=0.5"}, 1, "the value must have the form P11,P10,P00"},
      {{"--recommended"}, 0, "Effects space: every set of the 28 candidate effects (main effects and interactions\n  to order 2 of the 7 factors)"},
      {{"--model-space=effects", "--order=1"}, 0, "Effects space: every set of the 7 candidate effects (the main effects of the 7 factors)"},
  };
  for (const Case &c : cases) {
    testutil::TempDir dir;
    const auto r = testutil::run_example("castfatigue12", c.words, dir);
    EXPECT_EQ(r.status, c.status) << c.words[0];
    EXPECT_TRUE(contains(r.out, c.expected)) << c.words[0] << "\n" << r.out.substr(r.out.size() > 600 ? r.out.size() - 600 : 0);
  }
}

}  // namespace
}  // namespace bayescreen
