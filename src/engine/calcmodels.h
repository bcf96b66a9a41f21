// Least-squares fit, classical criteria, activity indicators and Box-Meyer
// posterior probability of every model.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/design.h"
#include "engine/modelspace.h"
#include "engine/settings.h"

namespace bayescreen {

// One model's fit as the run-by-run path forms it, for the step-through
// display: what the report shows of the model after it is fitted.
struct FitStep {
  int index = 0;                      // the model's position in the table
  const ModelEntry *model = nullptr;  // its record, filled
  int nc = 0;                         // columns of X
  const int32_t *base = nullptr;      // its base columns (blocks, then factors), -1-terminated
  int nbase = 0;
  const uint64_t *masks = nullptr;    // design columns forming each column of X
  // The rows of X: distinct row pattern[r] of rows (npat x nc) is run r's.
  const double *rows = nullptr;
  const int32_t *pattern = nullptr;
  const double *xtx = nullptr;        // X'X
  bool singular = false;              // X'X is singular: the model is NOT INVERTIBLE
  bool dropped = false;               // and takes no further part (no --keep-aliased)
  // With a least-squares fit (not singular):
  const double *beta = nullptr;       // the estimates
  double sse = 0, mse = 0;
  const double *pvalues = nullptr;    // P-value of each effect column (alpha < 1), else null
  // The posterior (unless dropped):
  const double *xtxg = nullptr;       // X'X + Gamma
  const double *mode = nullptr;       // the posterior mode
  double qqc = 0, det = 0;            // Qqc and det(X'X + Gamma)
};

// Receives each model's fit in the run-by-run path, in table order.
class FitObserver {
 public:
  virtual ~FitObserver() = default;
  virtual void model_fitted(const FitStep &step) = 0;
};

// The two ways of fitting: run by run from the model matrix (every plain
// run, step-through output, t-tests), or from cross products with Cholesky
// factors grown one factor at a time (large model sets; see gramfit.h).
// Auto lets the run choose; tests force either to compare them.
enum class FitPath { Auto, ByRows, ByCrossProducts };

// Model sets of fewer models are fitted on one thread: starting threads
// would cost about as much as it saves.
constexpr int kParallelModels = 1000;

// Fits every model of the table and fills its record, the table's count of
// invalid models and the posterior probabilities. An observer sees every
// fit of the run-by-run path (and that path is then taken, on one thread);
// otherwise the fits are shared among settings.threads threads, with the
// same results to the last bit, since each model's fit depends on nothing
// but the model.
void calc_model_fields(const Design &design, const Settings &settings, ModelTable &models,
                       FitObserver *observer = nullptr, FitPath path = FitPath::Auto);

// Posterior probabilities from the unnormalised weights: bval / total while
// the largest weight is a normal double and the total is finite, with
// exp(logb - log total) for each weight below the least normal double;
// otherwise (the weights under- or overflow, or are all subnormal) from the
// log weights, normalised after subtracting the largest, so that the
// probabilities do not depend on the units of the response.
void normalise_postprob(const ModelSpace &space, ModelTable &models);

// True when the model takes part in the posterior: every model whose X'X is
// regular, and with --keep-aliased the singular ones too.
bool has_posterior(const ModelSpace &space, const ModelEntry &m);

// The classical criteria of a least-squares fit of n runs with residual and
// model sums of squares sse and ssm and nc columns: adjusted R-squared, F
// statistic, root mean squared error, Gaussian log likelihood and
// likelihood. Returns the mean squared error.
double classical_criteria(int n, ModelEntry &m, double sse, double ssm, int nc);

// The prior of a Box-Meyer weight: the proportion pi of active factors, the
// ratio gam of blocks and main effects, and the ratio gam_int of
// interaction columns (0: gam).
struct BoxMeyerPrior {
  double pi = 0, gam = 0, gam_int = 0;
};
// The prior of the settings: -P, -G and --gamma-int.
BoxMeyerPrior prior_of(const Settings &settings);

// The Box-Meyer weight of a model of n runs with nf factors, n_main block
// and main-effect columns and n_int interaction columns, from det =
// det(X'X + Gamma) (and its logarithm) and Qqc:
//   bval = (pi/(1-pi))^nf prod_c g_c^-1 det^-1/2 Qqc^-(n-1)/2
// as plain products of powers, and the same weight as a logarithm in logb.
struct BoxMeyerTerms {
  int runs = 0, nf = 0, n_main = 0, n_int = 0;
  double det = 0, logdet = 0, qqc = 0;
};
void box_meyer_weight(const BoxMeyerTerms &t, const BoxMeyerPrior &prior, double *bval, double *logb);
// The logarithm alone: logb of box_meyer_weight.
double box_meyer_log_weight(const BoxMeyerTerms &t, const BoxMeyerPrior &prior);
// The prior-odds term of the log weight, nf log(pi/(1-pi)): the only place
// where pi enters a model's weight.
double log_prior_odds(int nf, double pi);

// True when the effect column formed by the design columns in mask is an
// interaction: a product of two or more factors (blocks do not count).
bool interaction_column(const ModelSpace &space, uint64_t mask);
// Whether a prior ratio g > 0 gives a prior precision 1/g^2 that is a
// finite double. Below about 1.5e-154, g^2 underflows or 1/g^2 overflows,
// and the fits would meet an infinite precision: every effect forced to 0,
// the opposite of the small-effect limit asked for, so such ratios are
// refused.
bool prior_precision_finite(double g);
// The prior ratio of interaction columns: gam_int, or gam when it is 0.
double interaction_gamma(const BoxMeyerPrior &prior);
// The prior ratio of an effect column formed by the design columns in mask:
// the interaction ratio for interactions, else gam.
double column_gamma(const ModelSpace &space, uint64_t mask, const BoxMeyerPrior &prior);

// Whether X'X of the model matrix with columns masks[0 .. nc-1] (masks of
// design columns, as model_column_masks gives them) is singular in exact
// arithmetic: the modular determinant of X'X (numeric/exactrank.h), exact
// for integer matrices of any size. While every diagonal element of X'X is
// below 2^52, no product or partial sum that forms X'X (each bounded by the
// diagonal, by the Cauchy-Schwarz inequality) exceeds 2^53, so xtx (row
// stride ld) holds X'X exactly; otherwise the residues are formed from the
// design, run by run. Fewer runs than columns: singular.
bool xtx_exactly_singular(const Design &design, const double *xtx, int ld, const uint64_t *masks,
                          int nc);

// The mask that stands for the block column of runs still to be made: no
// design column has this bit (a design has at most 61 columns).
constexpr uint64_t kNewBlockMask = uint64_t{1} << 63;

// One model's fit as the run-by-run path forms it, for checking its fast
// kernels against the plain matrix formulas: X'X, the least-squares
// estimates and their fitted values (empty when X'X cannot be inverted),
// X'X + Gamma, and the posterior mode and its fitted values; fitted values
// one per run.
struct FitDetails {
  int nc = 0;
  std::vector<double> xtx, beta, yfit, xtxg, cc, yfitc;
};

// Refits single models of a fitted table, run by run, with work arrays of
// its own: for the alias groups, the follow-up criterion and the tests.
class ModelRefitter {
 public:
  // For models of design (fitted under settings) of up to max_columns
  // columns of X, one more with with_new_block.
  ModelRefitter(const Design &design, const Settings &settings, int max_columns);
  ~ModelRefitter();
  ModelRefitter(const ModelRefitter &) = delete;
  ModelRefitter &operator=(const ModelRefitter &) = delete;

  // The fitted values X cc at the posterior mode, one per run.
  void posterior_fitted_values(const ModelEntry &m, double *fitted);
  // The fit as the run-by-run path forms it (see FitDetails).
  FitDetails details(const ModelEntry &m);
  // The posterior of the model refitted with one more block column, -1 on
  // every run of the design (+1 on the runs of the block to come), with the
  // prior ratio of a main effect. X'X is singular with that column (it is
  // minus the intercept) but X'X + Gamma is not, and the new column's
  // effect keeps the posterior of its prior: mode 0, variance gam^2. Writes
  // the model's column masks followed by kNewBlockMask into masks, G =
  // (X'X + Gamma)^-1 (row-major) into g, the posterior mode G X'y into mode
  // and Qqc = |y - X mode|^2 + sum_c (mode_c / g_c)^2 into *qqc. Returns the
  // number of columns, m.neff + 2; masks and mode hold that many values
  // and g its square.
  int posterior_with_new_block(const ModelEntry &m, uint64_t *masks, double *g, double *mode,
                               double *qqc);

  // The work arrays and the run-by-run fits themselves (calcmodels.cpp).
  struct Work;

 private:
  std::unique_ptr<Work> work_;
};

// The largest number of columns of X among the models of the table.
int largest_model_columns(const ModelTable &models);

}  // namespace bayescreen
