// Prior sensitivity in one run: the posterior probability of every factor
// being active, and the support of the data, at every value of a grid of
// prior ratios gamma (--gamma-grid), of prior proportions pi (--pi-grid), or
// of every pair of both.
//
// The least-squares fits are not redone: the log Box-Meyer weights of every
// model under each gamma come from one pass over the cross products
// (gram_prior_weights), and pi needs no new weights at all, as it enters a
// model's log weight only through nf log(pi/(1-pi)). The weights are summed
// per model size in log space, so that each pi combines the sums of each
// gamma.
//
// The support of the data for a grid point is the marginal probability of
// the data under that prior up to a constant the same for the whole grid:
// a model of nf of the k screened factors has prior probability
// pi^nf (1-pi)^(k-nf) = (pi/(1-pi))^nf (1-pi)^k, so
//   p(y | gamma, pi) ~ (1-pi)^k sum over the model set of bval,
// bval holding the model's likelihood with all its gamma terms. Normalised
// over the grid it is the posterior of the grid points when each is equally
// likely beforehand.
//
// With --gamma-int the interaction columns keep their ratio to the main
// effects: at grid value g they take g x (gamma-int / -G).
#pragma once
#include <vector>

#include "engine/design.h"
#include "engine/modelspace.h"
#include "engine/settings.h"

namespace bayescreen {

// The most values a grid may have.
constexpr int kMaxGridValues = 100;

// Reads "LO:HI:N" into spec: N (2 to 100) values from LO to HI, LO < HI.
// Returns null, or the reason the text is refused.
const char *parse_grid(const char *text, GridSpec *spec);

// parse_grid for a grid of gammas (every value greater than 0) / of pis
// (every value strictly between 0 and 1): null, or the reason.
const char *parse_gamma_grid(const char *text, GridSpec *spec);
const char *parse_pi_grid(const char *text, GridSpec *spec);

// The n values of a grid, lo first and hi last, evenly spaced.
std::vector<double> grid_values(const GridSpec &spec);

// The results of the grids: the values, and at every grid point the
// probability of each factor being active, of none being active (with
// --null), and the support of the data.
struct PriorGridResults {
  std::vector<double> gammas;     // the gamma values: the grid, else -G alone
  std::vector<double> pis;        // the pi values: the grid, else -P alone
  bool gamma_grid = false;        // gammas come from --gamma-grid
  bool pi_grid = false;           // pis come from --pi-grid
  double interaction_scale = 0;   // interaction columns take gamma times this (0: gamma itself)
  int first_factor = 0;           // design column of the first factor of the tables
  int nfactors = 0;               // factors of the tables (the screened ones)
  bool with_null = false;         // `none' holds the probability that no factor is active
  // Point p pairs pi value p / gammas.size() with gamma value p % gammas.size().
  std::vector<double> active;       // [p * nfactors + f]: factor f is active
  std::vector<double> none;         // [p]: no factor is active (0 without --null)
  std::vector<double> log_support;  // [p]: log p(y | gamma, pi) up to a constant
  std::vector<double> support;      // [p]: the support normalised over the grid
  int best = -1;                    // the point the data support most; -1 when no model has a weight

  int points() const { return static_cast<int>(gammas.size() * pis.size()); }
};

// Computes the results at every grid point of the settings' grids from the
// fitted table; the settings' -P and -G stay as they are.
PriorGridResults compute_prior_grid(const Design &design, const Settings &settings,
                                    const ModelTable &models);

}  // namespace bayescreen
