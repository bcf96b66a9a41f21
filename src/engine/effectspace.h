// The effects space: models that are any set of candidate effects (main
// effects and interactions up to the model-space order of the screened
// factors), every block column in every model, weighed by the Box-Meyer
// marginal likelihood of their columns times a prior that is a product over
// the effects, and enumerated exactly.
//
// Weight of a model M with columns X (intercept, blocks, its effects):
//   w(M) = p(M) * mean over the gamma values g of L(M, g),
//   L(M, g) = prod_c g_c^-1 det(X'X + Gamma)^-1/2 Qqc^-(n-1)/2
// the Box-Meyer marginal likelihood (box_meyer_log_weight with no factor
// term; Box and Meyer 1993), g_c = g for blocks and main effects and the
// interaction ratio for interactions (--gamma-int, scaled with g as the
// prior grids do). The gamma values are -G alone, or the grid of
// --gamma-prior with equal prior weight each.
//
// Prior p(M) = p_main(k) * prod over the candidate interactions i of
// q_i^[i in M] (1 - q_i)^[i not in M], k of the p main effects in M:
//   p_main(k) = pi^k (1 - pi)^(p - k)                  (fixed pi, -P), or
//   p_main(k) = B(a + k, b + p - k) / B(a, b)          (pi ~ Beta(a, b),
//               Scott and Berger 2010: the prior of k corrects for p);
//   q_i = p11 when every factor of i has its main effect in M, p10 when
//   some do, p00 when none do (Chipman 1996; Chipman, Hamada and Wu 1997);
//   strong heredity sets p10 = p00 = 0, none sets q_i = p11 for all.
// A model of zero prior is never visited. Models whose X'X is singular take
// no part (as in the factors space) unless --keep-aliased; every model that
// holds one is singular too, so the walk leaves that branch.
//
// The enumeration is depth first over the effects in their order (main
// effects, then interactions of order 2, 3, ...), so that a model's main
// effects are settled before any interaction joins it, and the Cholesky
// factors of X'X and of X'X + Gamma (one per gamma value) grow by one row
// per effect added (numeric/cholesky.h; the method of gramfit.h). The
// branches of the first two levels are tasks shared among threads; each
// task sums its own weights in log space (relative to its largest weight),
// and the tasks are combined in their fixed order, so that the results do
// not depend on the number of threads.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/design.h"
#include "engine/settings.h"

namespace bayescreen {

// One candidate effect: a main effect or an interaction of the screened
// factors.
struct CandidateEffect {
  uint64_t mask = 0;   // its design columns (bit c: design column c)
  int32_t order = 1;   // 1 for a main effect, else the number of factors
  std::string name;    // its code (effect_code), e.g. "F" or "FG"
};

// An effect's label: its factors' labels (their codes where a factor has
// none) joined by "*".
std::string effect_label(const Design &design, const CandidateEffect &effect);

// The candidate effects of the design under the settings: the main effects
// of the screened factors, then the interactions of order 2 .. order, each
// order in lexicographic order of the factors.
std::vector<CandidateEffect> candidate_effects(const Design &design, const Settings &settings);

// The number of models of nonzero prior that the enumeration may visit:
// every one of at most runs - 1 - blocks effects (more columns than runs
// make X'X singular), or of any size with --keep-aliased; saturating at
// UINT64_MAX.
uint64_t count_effect_models(const Design &design, const Settings &settings);

// The most candidate effects the space may have (the Gram matrix of their
// columns is kept whole).
constexpr int kMaxCandidateEffects = 4096;

// Throws "TOO MANY EFFECTS" when the space has more candidate effects than
// kMaxCandidateEffects (the limit of the search as of the enumeration).
void check_effect_count(const Design &design, const Settings &settings);

// Throws "TOO MANY MODELS" / "TOO MANY EFFECTS" when the effects space of the
// settings is beyond the limits, before any work.
void check_effect_space_size(const Design &design, const Settings &settings);

// The log prior of a model with the main effects in `mains` (bit f: the
// screened factor f, 0-based) and the interactions in `interactions`
// (indices into effects), as the formula above states; -INFINITY for a
// model of zero prior. The walk builds the same value term by term; this
// is the direct form, for single models and the tests.
double log_model_prior(const std::vector<CandidateEffect> &effects, const Design &design,
                       const Settings &settings, uint64_t mains, const std::vector<int32_t> &interactions);

// One model of the best ones: its effects (indices into the candidates, in
// order) and its posterior probability.
// From a search (modelsearch.h), probability is the model's visit
// frequency, with its standard error and the renormalised weight beside it.
struct EffectModel {
  std::vector<int32_t> effects;
  double log_weight = 0;   // log w(M) as above
  double probability = 0;  // w(M) / sum of w
  double se = 0;           // search: standard error of probability (the chains' spread)
  double renormalised = 0; // search: w(M) / sum of w over the distinct models weighed
};

// What a search adds to the results (modelsearch.h states the estimates).
struct SearchSummary {
  bool automatic = false;        // the space exceeded --max-models and --search=auto searched it
  bool factors_space = false;    // the factors space was searched: the effects are its factors
  int chains = 0;
  uint64_t burn_in = 0;          // iterations per chain before any was kept
  uint64_t iterations = 0;       // kept iterations per chain
  uint64_t proposals = 0;        // moves proposed, all chains, burn-in included
  uint64_t evaluations = 0;      // marginal likelihoods computed (cache misses)
  uint64_t distinct = 0;         // distinct models visited, all chains
  double seconds = 0;            // wall time of the search
  double target_se = 0;          // the standard error aimed at (0: fixed iterations)
  bool reached_target = true;    // every standard error at most the target
  double largest_se = 0;         // the largest standard error of an inclusion probability
  double chain_difference = 0;   // the largest difference of an inclusion probability between chains
  // Standard errors of the results' probabilities (the averages of the
  // conditional probabilities), by batch means.
  std::vector<double> effect_se, factor_se;
  double none_se = 0;
  // The visit frequencies, and their batch-means standard errors.
  std::vector<double> effect_frequency, factor_frequency;
  double none_frequency = 0;
  std::vector<double> effect_frequency_se, factor_frequency_se;
  double none_frequency_se = 0;
  // The weights of the distinct models weighed, normalised over them.
  std::vector<double> effect_renormalised, factor_renormalised;
  double none_renormalised = 0;
};

// Effects whose columns are the same up to sign.
using EffectAliasGroups = std::vector<std::vector<int32_t>>;

// Everything the effects space finds.
struct EffectsResults {
  std::vector<CandidateEffect> effects;  // the candidates
  int first_factor = 0;                  // design column of the first screened factor
  int nfactors = 0;                      // screened factors
  std::vector<double> gammas;            // the gamma values averaged over
  uint64_t visited = 0;                  // models of nonzero prior visited (of at most runs columns,
                                         //   without --keep-aliased)
  uint64_t weighed = 0;                  // of those, the models with a weight (X'X regular)
  uint64_t candidates = 0;               // count_effect_models
  double log_total = 0;                  // log of the sum of the weights
  std::vector<double> effect_probability;  // per effect: posterior probability of inclusion
  std::vector<double> factor_probability;  // per screened factor: some effect holding it is in
  double none_active = 0;                  // posterior probability of the model of no effect
  std::vector<EffectModel> top;            // the best models, best first
  EffectAliasGroups aliases;               // groups of two or more effects, in effect order
  std::optional<SearchSummary> search;     // when a search, not the enumeration, weighed the space
};

// Readers of the options of the effects space; each returns null, or the
// reason the text is refused, and leaves prior as it was then.
// "factors" or "effects" (--model-space).
const char *parse_model_space(const char *text, EffectsPrior *prior);
// "strong", "weak" or "none" (--heredity).
const char *parse_heredity(const char *text, EffectsPrior *prior);
// "P11,P10,P00", each from 0 to below 1 (--heredity-probs).
const char *parse_heredity_probs(const char *text, EffectsPrior *prior);
// "beta:A:B", A and B greater than 0 (--pi-prior).
const char *parse_pi_prior(const char *text, EffectsPrior *prior);

// The whole effects-space analysis of the design under the settings.
// Throws an Error when the space is beyond the limits or X'X + Gamma cannot
// be factored.
EffectsResults analyse_effects(const Design &design, const Settings &settings);

// The alias groups among the candidate effects: those whose columns over
// the runs of the design agree, or agree after a change of sign.
EffectAliasGroups effect_alias_groups(const Design &design, const std::vector<CandidateEffect> &effects);

}  // namespace bayescreen
