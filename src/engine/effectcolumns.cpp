#include "engine/effectcolumns.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "engine/priorgrid.h"
#include "support/error.h"

namespace bayescreen {

InteractionProbs interaction_probs(const EffectsPrior &prior) {
  switch (prior.heredity) {
    case Heredity::Strong: return {prior.p11, 0, 0};
    case Heredity::Weak: return {prior.p11, prior.p10, prior.p00};
    case Heredity::None: return {prior.p11, prior.p11, prior.p11};
  }
  return {};
}

double interaction_probability(const InteractionProbs &q, int in, int order) {
  if (in == order) return q.all;
  return in > 0 ? q.some : q.none;
}

namespace {

// ln Gamma(x) for x > 0 by lgamma_r, which, unlike lgamma, leaves the
// process-wide sign variable alone: the walkers call it on several threads.
double log_gamma(double x) {
  int sign = 0;
  return lgamma_r(x, &sign);
}

}  // namespace

double log_main_prior(const EffectsPrior &prior, double pi, int p, int k) {
  if (prior.beta_pi()) {
    const double a = prior.beta_a, b = prior.beta_b;
    // log B(a + k, b + p - k) - log B(a, b)
    return log_gamma(a + k) + log_gamma(b + p - k) - log_gamma(a + b + p) -
           (log_gamma(a) + log_gamma(b) - log_gamma(a + b));
  }
  return k * log(pi) + (p - k) * log1p(-pi);
}

std::vector<double> column_values(const Design &design, uint64_t mask) {
  std::vector<double> v(static_cast<size_t>(design.runs), 1.0);
  for (int r = 0; r < design.runs; r++)
    for (uint64_t bits = mask; bits != 0; bits &= bits - 1)
      v[static_cast<size_t>(r)] *= static_cast<double>(design.entry(r, __builtin_ctzll(bits)));
  return v;
}

void prepare_effect_columns(EffectColumns &space) {
  const Design &design = space.design;
  const Settings &settings = space.settings;
  space.effects = candidate_effects(design, settings);
  space.runs = design.runs;
  space.blocks = settings.model_space.blocks;
  space.first = space.blocks;
  space.p = screened_factors(design, settings.model_space);
  space.ne = static_cast<int>(space.effects.size());
  space.root = 1 + space.blocks;
  space.ncols = space.root + space.ne;
  space.keep_aliased = settings.model_space.keep_aliased != 0;
  space.ld = space.keep_aliased ? space.ncols : std::min(space.ncols, space.runs + 1);
  space.q = interaction_probs(settings.effects);
  space.pi = settings.pi;

  space.masks.assign(static_cast<size_t>(space.ncols), 0);
  for (int b = 0; b < space.blocks; b++) space.masks[static_cast<size_t>(1 + b)] = uint64_t{1} << b;
  for (int e = 0; e < space.ne; e++) space.masks[static_cast<size_t>(space.column(e))] = space.effects[static_cast<size_t>(e)].mask;

  const size_t n = static_cast<size_t>(space.ncols);
  std::vector<std::vector<double>> values(n);
  for (size_t c = 0; c < n; c++) values[c] = column_values(design, space.masks[c]);
  double sum = 0;
  for (int r = 0; r < space.runs; r++) sum += design.y[static_cast<size_t>(r)];
  const double ybar = sum / space.runs;
  std::vector<double> yc(static_cast<size_t>(space.runs));
  space.sst = 0;
  for (int r = 0; r < space.runs; r++) {
    yc[static_cast<size_t>(r)] = design.y[static_cast<size_t>(r)] - ybar;
    space.sst += yc[static_cast<size_t>(r)] * yc[static_cast<size_t>(r)];
  }
  space.gram.assign(n * n, 0.0);
  space.gram_y.assign(n, 0.0);
  for (size_t i = 0; i < n; i++) {
    for (size_t j = i; j < n; j++) {
      double s = 0;
      for (int r = 0; r < space.runs; r++) s += values[i][static_cast<size_t>(r)] * values[j][static_cast<size_t>(r)];
      space.gram[i * n + j] = space.gram[j * n + i] = s;
    }
    double s = 0;
    for (int r = 0; r < space.runs; r++) s += values[i][static_cast<size_t>(r)] * yc[static_cast<size_t>(r)];
    space.gram_y[i] = s;
  }

  space.gammas = effect_space_gammas(settings);
  for (const BoxMeyerPrior &prior : space.gammas) {
    const double gi = interaction_gamma(prior);
    space.main_precision.push_back(1 / (prior.gam * prior.gam));
    space.interaction_precision.push_back(1 / (gi * gi));
  }
}

std::vector<BoxMeyerPrior> effect_space_gammas(const Settings &settings) {
  const BoxMeyerPrior base = prior_of(settings);
  std::vector<double> values_g =
      settings.effects.gamma_prior.n > 0 ? grid_values(settings.effects.gamma_prior) : std::vector<double>{settings.gamma};
  std::vector<BoxMeyerPrior> out;
  for (double g : values_g) {
    BoxMeyerPrior prior = base;
    prior.gam = g;
    if (base.gam_int > 0) prior.gam_int = g * (base.gam_int / base.gam);
    out.push_back(prior);
  }
  return out;
}

void cannot_invert_xtxg(int nc) {
  char message[80];
  snprintf(message, sizeof message, "\nCANNOT INVERT the %dx%d MATRIX %s !\n", nc, nc, "XTXG");
  throw Error(message);
}

double log_mean_marginal(const EffectColumns &space, int n_main, int n_int, const double *logdet, const double *wsq,
                         double *logml) {
  BoxMeyerTerms terms;
  terms.runs = space.runs;
  terms.nf = 0;  // the prior of the model is p(M), not a factor count
  terms.n_main = n_main;
  terms.n_int = n_int;
  const int ng = static_cast<int>(space.gammas.size());
  double top = -INFINITY;
  for (int p = 0; p < ng; p++) {
    terms.logdet = logdet[p];
    const double wq = wsq[p];
    terms.qqc = space.sst > wq ? space.sst - wq : 0.0;
    logml[p] = box_meyer_log_weight(terms, space.gammas[static_cast<size_t>(p)]);
    top = std::max(top, logml[p]);
  }
  if (ng == 1) return logml[0];
  // log of the mean over the gamma values, relative to the largest term.
  double sum = 0;
  for (int p = 0; p < ng; p++) sum += exp(logml[p] - top);
  return top + log(sum / ng);
}

}  // namespace bayescreen
