#include "engine/postactive.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/calcmodels.h"
#include "engine/models.h"
#include "engine/readdat.h"
#include "engine/settings.h"
#include "support/helpers.h"
#include "support/logfile.h"
#include "support/showplaces.h"

namespace bayescreen {

double *pact = nullptr;

namespace {

constexpr int kMaxStars = 30;

// Whether model i takes part in the shares: models without a posterior
// (singular ones, unless --keep-aliased) and weights that are not numbers
// count 0.
bool counts(int i, const double *logwt) {
  return has_posterior(model[i]) && !std::isnan(model[i].wt) &&
         !(logwt != nullptr && std::isnan(logwt[i]));
}

// The shares of the factors when the plain total is not a finite normal
// number: each model's weight relative to the largest, exp(log w - log
// w_max) (the log-sum-exp normalisation); when some weights are infinite,
// the models with infinite weight share equally and the others get 0. With
// no weight at all (every model invalid) there is no evidence: every share
// is 0 rather than 0/0.
void shares_from_logs(const double *logwt, double *share) {
  auto log_weight = [&](int i) { return logwt != nullptr ? logwt[i] : log(model[i].wt); };
  auto takes_part = [&](int i) { return counts(i, logwt) && !std::isnan(log_weight(i)); };
  double top = -INFINITY;
  for (int i = 0; i < nmod; i++)
    if (takes_part(i) && log_weight(i) > top) top = log_weight(i);
  for (int f = 0; f < nv; f++) share[f] = 0;
  if (top == -INFINITY) return;  // no weight at all: no evidence
  double sum = 0;
  for (int i = 0; i < nmod; i++) {
    if (!takes_part(i)) continue;
    const double relative = std::isinf(top) ? (log_weight(i) == top ? 1 : 0)
                                            : exp(log_weight(i) - top);
    for (uint64_t bits = model[i].ivals; bits != 0; bits &= bits - 1)
      share[__builtin_ctzll(bits)] += relative;
    sum += relative;
  }
  for (int f = 0; f < nv; f++) share[f] /= sum;
}

// The stars of a share: one per thirtieth, rounded, at most 30.
const char *stars_of(char *stars, double share) {
  const double scaled = floor(share * kMaxStars + 0.5);
  int nstars = scaled >= 0 ? static_cast<int>(scaled < kMaxStars ? scaled : kMaxStars) : 0;
  memset(stars, '*', static_cast<size_t>(nstars));
  stars[nstars] = '\0';
  return stars;
}

// The probability that no factor is active: that of the null model.
void show_none_active() {
  const double p = no_factor_active();
  if (std::isnan(p)) return;
  char stars[kMaxStars + 1];
  bprintf("  No factor active:  %g    %7.5f  %s\n", p, p, stars_of(stars, p));
}

}  // namespace

const double *set_weighting(Weighting w, std::vector<double> &logs) {
  // wt = 1/field^2 for the reciprocal weightings; logs[i] = -2 ln field, the
  // log weight that stays finite where 1/field^2 under- or overflows.
  auto reciprocal_square = [&](double ModelEntry::*field) {
    logs.assign(static_cast<size_t>(nmod), 0.0);
    for (int i = 0; i < nmod; i++) {
      model[i].wt = 1 / (model[i].*field * model[i].*field);
      logs[static_cast<size_t>(i)] = -2 * log(model[i].*field);
    }
    return logs.data();
  };
  switch (w) {
    case Weighting::Fstat: set_keys(&ModelEntry::fstat); return nullptr;
    case Weighting::Likelihood:
      // wt = likelihood; logs[i] = its log, the maximised log likelihood.
      logs.assign(static_cast<size_t>(nmod), 0.0);
      for (int i = 0; i < nmod; i++) {
        model[i].wt = model[i].likelihood;
        logs[static_cast<size_t>(i)] = model[i].loglik;
      }
      return logs.data();
    case Weighting::InvRmse2: return reciprocal_square(&ModelEntry::rmse);
    case Weighting::InvRmsec2: return reciprocal_square(&ModelEntry::rmsec);
    case Weighting::PostProb: set_keys(&ModelEntry::postprob); return nullptr;
  }
  return nullptr;
}

double factor_weights(const double *logwt, double *sums, double *shares) {
  double total = 0;
  for (int f = 0; f < nv; f++) sums[f] = 0;
  for (int i = 0; i < nmod; i++) {
    if (!counts(i, logwt)) continue;
    for (uint64_t bits = model[i].ivals; bits != 0; bits &= bits - 1)
      sums[__builtin_ctzll(bits)] += model[i].wt;
    total += model[i].wt;
  }
  // Plain quotients sums / total while the total is a finite normal double;
  // otherwise (weights that underflow, overflow or are infinite) the shares
  // come from the log weights. The sums are the plain ones.
  if (std::isfinite(total) && total >= DBL_MIN)
    for (int f = 0; f < nv; f++) shares[f] = sums[f] / total;
  else
    shares_from_logs(logwt, shares);
  return total;
}

double no_factor_active() {
  for (int i = 0; i < nmod; i++)
    if (model[i].nf == 0) return model[i].postprob;
  return NAN;
}

void show_actives(const double *logwt) {
  PlaceGuard place("Show_Actives");
  if (pact == nullptr) pact = static_cast<double *>(cxalloc(static_cast<size_t>(nv) + 3, sizeof(double)));
  std::vector<double> shares(static_cast<size_t>(nv));
  factor_weights(logwt, pact, shares.data());
  // The factors of the tables: the analysed columns after the blocks.
  const int first = modelspace.blocks;
  int width = 0;
  char text[64];
  for (int f = first; f < nv; f++) {
    int len = snprintf(text, sizeof text, "%g", pact[f]);
    if (len > width) width = len;
  }
  char stars[kMaxStars + 1];
  for (int f = first; f < nv; f++) {
    const double share = shares[static_cast<size_t>(f)];
    bprintf("  %c:  %*g    %7.5f  %s\n", factorstr[f], width, pact[f], share,
            stars_of(stars, share));
  }
}

void show_post_active() {
  PlaceGuard place("Show_Post_Active");
  std::vector<double> logs;
  bprintf("\nPosterior weights that factors are active:\n");
  bprintf("Weighting models by Fstat:\n");
  show_actives(set_weighting(Weighting::Fstat, logs));
  if (moreposts) {
    bprintf("\nWeighting models by Likelihood:\n");
    show_actives(set_weighting(Weighting::Likelihood, logs));
    bprintf("\nWeighting models by 1/rmse^2:\n");
    show_actives(set_weighting(Weighting::InvRmse2, logs));
    bprintf("\nWeighting models by 1/rmsec^2 (pi=%g, gam=%g):\n", pi, gam);
    show_actives(set_weighting(Weighting::InvRmsec2, logs));
  }
  bprintf("\nWeighting models by Bayesian post.prob. (pi=%g, gam=%g):\n", pi, gam);
  show_actives(set_weighting(Weighting::PostProb, logs));
  if (modelspace.with_null) show_none_active();
}

}  // namespace bayescreen
