// The settings of an analysis: every value the options and the design
// file's parameter line set, as one value that the engine reads. The front
// end owns it and fills it from the command line; the design reader adds
// what the parameter line gives.
#pragma once
#include <cstdint>

namespace bayescreen {

// The model set in force, from the extension options; the defaults give
// every 1-, 2- and 3-factor full factorial of the factors analysed.
struct ModelSpace {
  int32_t blocks = 0;             // --blocks: leading design columns that are blocking variables
  int32_t max_factors = 3;        // --max-factors: models of 1 to K factors
  int32_t order = 3;              // --order: interactions up to this order
  int32_t with_null = 0;          // --null: the null model (intercept and blocks) joins the set
  int32_t keep_aliased = 0;       // --keep-aliased: singular models keep their Box-Meyer posterior
  double gam_int = 0;             // --gamma-int: prior ratio of interaction columns; 0: gamma
  int32_t max_models = 16777216;  // --max-models: larger model sets are refused before any work

  // True when this is the model set every run uses without options.
  bool is_default() const;
};

// Follow-up runs chosen to discriminate among the leading models, from the
// extension options; runs 0 means no follow-up.
struct FollowUpSettings {
  int32_t runs = 0;                  // --follow-up: runs to add (1 to 64)
  const char *candidates = nullptr;  // --candidates: file of candidate runs; null: the full factorial
  int32_t md_models = 32;            // --md-models: leading models that the criterion compares
  int32_t starts = 50;               // --starts: random starts of the exchange search
  int32_t top = 5;                   // --top: best designs reported
  int32_t seed = 1;                  // --random-seed: seed of the exchange search's generator
  double max_seconds = 0;            // --max-seconds: time bound of the exchange search (0: none)
};

// A grid of prior values: n values evenly spaced from lo to hi (n = 0: none).
struct GridSpec {
  double lo = 0, hi = 0;
  int32_t n = 0;
};

// Which models the analysis weighs: full factorials of sets of factors (the
// model set of ModelSpace), or any set of main effects and interactions.
enum class SpaceKind : int32_t { Factors, Effects };

// How an interaction's prior probability depends on its parents (the main
// effects of its factors): strong, only when every parent is in the model;
// weak, p11 / p10 / p00 with all / some / none of them in; none, p11 always.
enum class Heredity : int32_t { Strong, Weak, None };

// The prior of the effects space (--model-space=effects): a product over
// the candidate effects (effectspace.h states the formulas).
struct EffectsPrior {
  SpaceKind kind = SpaceKind::Factors;  // --model-space
  Heredity heredity = Heredity::Strong;  // --heredity
  double p11 = 0.25, p10 = 0.10, p00 = 0.01;  // --heredity-probs
  double beta_a = 0, beta_b = 0;  // --pi-prior=beta:A:B; 0: pi fixed at -P
  GridSpec gamma_prior;           // --gamma-prior=LO:HI:N; n = 0: gamma fixed at -G
  int32_t top_models = 10;        // best models kept and reported
  int32_t threads = 0;            // threads of the enumeration; 0: one per core

  bool beta_pi() const { return beta_a > 0; }
};

// How the effects space is weighed: every model enumerated, or a Markov
// chain search (modelsearch.h).
enum class SearchMode : int32_t {
  Exact,  // --search=exact: enumerate; a space past --max-models is refused
  Auto,   // --search=auto: enumerate, or search past --max-models
  Mcmc,   // --search=mcmc: search
};

// The settings of the search (--search, --chains, --iterations, --burn-in,
// --random-seed).
struct SearchSettings {
  SearchMode mode = SearchMode::Exact;
  int32_t chains = 4;             // --chains: chains from different random starts
  int64_t iterations = 0;         // --iterations: kept iterations per chain; 0: until the target
  int64_t burn_in = 5000;         // --burn-in: iterations per chain before any is kept
  double target_se = 0.005;       // the largest Monte Carlo standard error the rounds aim at
  int64_t max_iterations = 4194304;  // per chain, when the rounds run to the target
};

// The enumeration limit of the recommended analysis (--max-models unless
// given): its search is faster than enumerating a larger space.
constexpr int32_t kRecommendedMaxModels = 1000000;

// The values that both the command line and the design file's parameter
// line may set: a value given on the command line stands.
enum ParmRow : int { PARM_NROWS = 0, PARM_NCOLS, PARM_NVARS, PARM_PI, PARM_GAMMA, PARM_ALPHA };
constexpr int kParmRows = PARM_ALPHA + 1;

struct Settings {
  double pi = 0.25;         // -P, Pi=: prior proportion of active factors
  double gamma = 2.5;       // -G, Gamma=: prior ratio of active-effect to error standard
                            //   deviation (the report's "gam")
  double alpha = 2.0;       // -A, Alpha=: effects count as active only when their P-value is below
  int32_t nvars = 0;        // -N, Nvars=: submodels of the first N factors (0: not given)
  int32_t all_columns = 0;  // -L: submodels of all columns
  int32_t rank_all = 0;     // -R: list all models in the rankings
  int32_t more_ranks = 0;   // -C: more sorts
  int32_t more_posts = 0;   // -D: more factor-weight tables
  int32_t all_by_size = 0;  // -E: within-size tables for every sort
  int32_t step = 0;         // -S: step through the model fits
  int32_t verbose = 0;      // -V: verbose step output (implies -S)
  // Which parameter-line values the command line gave, by ParmRow.
  int32_t on_command_line[kParmRows] = {};

  ModelSpace model_space;
  FollowUpSettings follow_up;
  GridSpec gamma_grid;  // --gamma-grid
  GridSpec pi_grid;     // --pi-grid
  int32_t threads = 0;  // --threads: threads of the fits (0: the cores available)
  EffectsPrior effects; // --model-space=effects and the options of its prior
  SearchSettings search; // --search and the options of the stochastic search

  bool prior_grids() const { return gamma_grid.n > 0 || pi_grid.n > 0; }
};

}  // namespace bayescreen
