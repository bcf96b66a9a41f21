// The columns and priors of the effects space that its enumeration
// (effectspace.cpp) and its stochastic search (modelsearch.cpp) share: the
// cross products of every column the space may use, the gamma values
// averaged over, and the terms of the prior of a model (effectspace.h
// states the formulas).
#pragma once
#include <cstdint>
#include <vector>

#include "engine/calcmodels.h"
#include "engine/design.h"
#include "engine/effectspace.h"
#include "engine/settings.h"

namespace bayescreen {

// As in the walk of gramfit.cpp: a new column whose pivot in the factor of
// X'X exceeds this share of its squared length is clear of the span of the
// columns before it; below it the exact test decides.
constexpr double kClearPivot = 1e-6;

// The probabilities of an interaction with all, some and none of its
// parents in the model, after the heredity rule.
struct InteractionProbs {
  double all = 0, some = 0, none = 0;
};

// The probabilities of the prior's heredity rule.
InteractionProbs interaction_probs(const EffectsPrior &prior);

// The probability of an interaction of `order` factors, `in` of whose main
// effects are in the model.
double interaction_probability(const InteractionProbs &q, int in, int order);

// log p_main(k): the prior of the main-effect part of a model with k of
// the p main effects (fixed pi, or pi integrated over its Beta prior).
double log_main_prior(const EffectsPrior &prior, double pi, int p, int k);

// The screened factors of a mask of design columns, as bits 0 .. p-1.
inline uint64_t screened_bits(uint64_t mask, int first) { return mask >> first; }

// The values of an effect column (intercept: mask 0) run by run.
std::vector<double> column_values(const Design &design, uint64_t mask);

// What every walker and chain shares: the candidates, the cross products
// of every column of the space (intercept, blocks, effects) and the priors.
struct EffectColumns {
  const Design &design;
  const Settings &settings;
  const ModelSpace &model_space;
  std::vector<CandidateEffect> effects;
  int runs = 0, blocks = 0, first = 0, p = 0, ne = 0;
  int root = 0;                  // columns of the null model: intercept and blocks
  int ncols = 0;                 // root + ne: the columns of the Gram matrix
  int ld = 0;                    // the most columns of a model the walk forms
  std::vector<double> gram;      // cross products of the columns, ncols x ncols
  std::vector<double> gram_y;    // each column's cross product with the centred response
  std::vector<uint64_t> masks;   // design columns of each column
  double sst = 0;                // sum of squares of the centred response
  std::vector<BoxMeyerPrior> gammas;  // one per gamma value averaged over
  std::vector<double> main_precision, interaction_precision;  // 1/g^2 per gamma value
  InteractionProbs q;
  double pi = 0;
  bool keep_aliased = false;

  EffectColumns(const Design &d, const Settings &s) : design(d), settings(s), model_space(s.model_space) {}

  bool is_main(int e) const { return effects[static_cast<size_t>(e)].order == 1; }
  int column(int e) const { return root + e; }
};

// The priors of the gamma values the effects space averages over: -G
// alone, or the grid of --gamma-prior (with --gamma-int the interactions
// keep their ratio to the main effects, as in the prior grids).
std::vector<BoxMeyerPrior> effect_space_gammas(const Settings &settings);

// Fills the columns, cross products and priors of the design under the
// settings.
void prepare_effect_columns(EffectColumns &space);

// The log of the mean over the gamma values of the Box-Meyer marginal
// likelihoods of one model (no factor term: the prior of the model is p(M)),
// from each gamma value's log det(X'X + Gamma) and squared length of the
// forward solution w (Qqc = sst - wsq), stored with stride `stride`;
// n_main counts blocks and main effects. logml is scratch of one entry per
// gamma value.
double log_mean_marginal(const EffectColumns &space, int n_main, int n_int, const double *logdet, const double *wsq,
                         double *logml);

// Throws the error of a factor of X'X + Gamma that cannot be formed (nc
// columns).
[[noreturn]] void cannot_invert_xtxg(int nc);

}  // namespace bayescreen
