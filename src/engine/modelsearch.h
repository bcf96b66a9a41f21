// Stochastic search of the effects space: Markov chain Monte Carlo over
// models (MC3, Madigan and York 1995), for spaces too large to enumerate.
//
// The chain moves on the models of nonzero prior. Each iteration proposes,
// with probability 1/2 each,
//   - to add or delete one effect, drawn uniformly from all candidates, or
//   - to swap an effect of the model for one outside it, each drawn
//     uniformly (no move when the model is empty or holds every effect);
// both proposals are symmetric, so the move is accepted with probability
// min(1, w(M') / w(M)), w the weight of effectspace.h (prior times the
// mean Box-Meyer marginal likelihood over the gamma values). A proposal of
// zero prior (an interaction without its parents under strong heredity, a
// main effect removed from under its interactions) or of singular X'X is
// refused at once, so the heredity rule holds in every model visited.
//
// Each model's weight comes from Cholesky factors of X'X + Gamma (one per
// gamma value) and of X'X (regularity), updated from the current model's:
// an added column appends a row (O(t^2)), a deleted one is removed by Givens
// rotations (numeric/cholesky.h, O(t^2)); a cache keeps the weight of every
// model visited.
//
// Estimates, from C chains started at random models:
//   - visit frequencies: the share of the kept iterations (after burn-in)
//     whose model holds the effect / the factor / no effect;
//   - renormalised: the exact weights of the distinct models visited,
//     normalised over them (Clyde, Ghosh and Littman 2011);
//   - the Monte Carlo standard error of each visit frequency by batch means
//     (Flegal, Haran and Jones 2008): each chain's kept iterations in
//     floor(sqrt(batches)) groups of equal length, the variance of the group
//     means over all chains divided by their number;
//   - the largest difference of an inclusion probability between chains.
// Without a fixed number of iterations the chains run in rounds, each twice
// as long as the last, until every standard error is at most the target or
// the most iterations are reached. Chain c draws from its own generator
// seeded with (seed, c), and the rounds end at fixed iteration counts, so
// the results repeat exactly for a seed and a number of chains, whatever
// the number of threads.
#pragma once
#include <cstdint>
#include <vector>

#include "engine/design.h"
#include "engine/effectspace.h"
#include "engine/settings.h"
#include "support/functionref.h"

namespace bayescreen {

// How the search stands after a round, for a progress display.
struct SearchProgress {
  uint64_t iterations = 0;       // kept iterations so far, all chains
  uint64_t distinct = 0;         // distinct models visited, all chains
  double largest_se = 0;         // the largest Monte Carlo standard error
  double chain_difference = 0;   // the largest difference between chains
  double seconds = 0;            // since the search began
  double seconds_left = 0;       // estimated time to the target (0: unknown)
};

// Called after each round, on the calling thread of search_effects.
using SearchProgressHook = FunctionRef<void(const SearchProgress &)>;

// The search of the effects space of the design under the settings
// (settings.search: chains, iterations, burn-in, target, seed). Fills the
// same results as the enumeration (analyse_effects), the estimates being
// the visit frequencies, with the search's own figures in `search`.
// `automatic` records that the search took over from the enumeration.
// Throws an Error when no model of the space has a weight.
EffectsResults search_effects(const Design &design, const Settings &settings, bool automatic,
                              SearchProgressHook progress);

// The search of the factors space (each model the full factorial, to the
// model-space order, of 1 to --max-factors of the screened factors, or none
// with --null), with the same estimates: the results' effects are the main
// effects, each standing for its factor. Moves add, delete or swap a
// factor; a model's factors are formed afresh from the cross products of
// its columns (every column of the space up to the order is kept, so the
// space's candidate columns are limited as the effects space's are).
EffectsResults search_factors(const Design &design, const Settings &settings, bool automatic,
                              SearchProgressHook progress);

// Throws when the factors space is beyond what its search can take (more
// than 63 screened factors, or more candidate columns than the effects
// space allows).
void check_factor_search_size(const Design &design, const Settings &settings);

// Whether the analysis of the settings searches rather than enumerates its
// model space: on request, or with --search=auto past --max-models.
bool model_space_searched(const Design &design, const Settings &settings);

// Reader of --search: "auto", "mcmc" or "exact"; null, or the reason the
// text is refused.
const char *parse_search_mode(const char *text, SearchSettings *search);

}  // namespace bayescreen
