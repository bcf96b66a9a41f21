// Effect estimates: the size and sign of every effect column of the model
// space in units of the response, averaged over the models with their
// posterior probabilities; the least-squares estimates of the largest model
// the design can fit; and, for an orthogonal unreplicated design, Lenth's
// margins (numeric/lenth.h).
//
// An effect is twice its coefficient on the -1/+1 scale: the change of the
// response from the low to the high level. Within a model M the coefficient
// beta_j has, under the prior of the Box-Meyer weight (a flat intercept,
// every other column normal with variance (gamma_j sigma)^2, p(sigma) ~
// 1/sigma; Box and Meyer (1993), J. Quality Technology 25:94-105), the
// marginal posterior
//   beta_j | y, M  ~  b_j + s_j T(nu),   nu = n - 1,
//   b = (X'X + Gamma)^-1 X'y,   s_j^2 = Q / nu [(X'X + Gamma)^-1]_jj,
//   Q = y'y - y'X (X'X + Gamma)^-1 X'y = |y - X b|^2 + b' Gamma b,
// Gamma = diag(0, 1/gamma_1^2, ...); so var_j = Q / (n - 3) [..]_jj (n > 3).
// Averaged over the models with probabilities p_M, beta_j being exactly 0
// in the models without column j:
//   mean = sum p_M b_Mj,   var = sum p_M (var_Mj + b_Mj^2) - mean^2,
//   P(beta_j > 0) = sum over models holding j of p_M T_nu(b_Mj / s_Mj).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/calcmodels.h"
#include "engine/design.h"
#include "engine/modelspace.h"
#include "engine/settings.h"
#include "numeric/lenth.h"

namespace bayescreen {

// The estimates of one effect column.
struct EffectEstimate {
  uint64_t mask = 0;         // the design columns whose product forms the column
  double mean = 0;           // model-averaged posterior mean of the effect (2 beta)
  double sd = 0;             // its posterior standard deviation (NaN with 3 runs or fewer)
  double prob_positive = 0;  // posterior probability that the effect is positive
  double prob_in_model = 0;  // posterior probability of the models holding the column
  double least_squares = 0;  // 2 beta of the least-squares fit; NaN when the column is
                             //   not in the largest model the design can fit

  // 1: a main effect; 2, 3, ...: an interaction (the mask holds factors only).
  int order() const { return __builtin_popcountll(mask); }
};

// What estimate_effects finds.
struct EffectResults {
  // Every effect column of the model space (factors, never blocks): main
  // effects by column, then the interactions of each order in
  // lexicographic order of their factors.
  std::vector<EffectEstimate> effects;
  // The largest model the design can fit: the effect columns of the space
  // taken in order, each kept unless it is a linear combination of the
  // intercept, the blocks and the columns kept before it.
  int ls_columns = 0;                   // its effect columns (blocks not counted)
  int ls_residual_df = 0;               // runs minus all its columns, intercept included
  // Lenth's figures of the least-squares effects, when the design is
  // orthogonal (the columns of that model, intercept and blocks included,
  // are orthogonal) and unreplicated (no two runs alike in every design
  // column analysed) and there are at least two contrasts.
  std::optional<LenthResult> lenth;
  std::string lenth_note;               // why there are no Lenth figures, else empty
  int models_used = 0;                  // models averaged over (see estimate_effects)
  double mass_used = 0;                 // their total posterior probability
};

// The estimates of the fitted model table's models. Models whose
// probabilities are smallest are left out while together they hold less
// than 1e-12 of the posterior (they could move no mean by more than that
// fraction of the largest coefficient; a column held only by such models
// gets mean 0 and SD 0), and beyond the most probable 1% of the models
// (at least 5,000): models_used and mass_used say how many and how much of
// the posterior were averaged, the mean and variance being those of the
// posterior given those models. Models with no posterior (singular X'X)
// count 0. Throws an Error when X'X + Gamma of a model is not positive
// definite.
EffectResults estimate_effects(const Design &design, const Settings &settings, const ModelTable &models);

// A model of the effects space for the estimates: its effect columns (each
// a mask of design columns) and its posterior probability.
struct WeightedModel {
  std::vector<uint64_t> columns;
  double probability = 0;
};

// The estimates of the effects space, averaged over the models given (its
// best ones), the mean and variance being those of the posterior given
// them; with several gamma values (gammas) each model's probability is
// shared among them in proportion to its marginal likelihood under each,
// and each share weighs that gamma's posterior of the coefficients. The
// least-squares and Lenth figures as estimate_effects gives them.
EffectResults estimate_space_effects(const Design &design, const Settings &settings,
                                     const std::vector<WeightedModel> &models,
                                     const std::vector<BoxMeyerPrior> &gammas);

}  // namespace bayescreen
