#include "engine/postactive.h"

#include <cfloat>
#include <cmath>

#include "engine/calcmodels.h"
#include "support/showplaces.h"

namespace bayescreen {

namespace {

// The weight of model m under a weighting, and its natural log for the
// weightings whose weights may under- or overflow (likelihood, 1/rmse^2,
// 1/rmsec^2); NaN as the log of the others, whose log is taken when needed.
struct Weight {
  double plain, log;
};

Weight weight_of(const ModelEntry &m, Weighting w) {
  switch (w) {
    case Weighting::Fstat: return {m.fstat, NAN};
    case Weighting::Likelihood: return {m.likelihood, m.loglik};
    case Weighting::InvRmse2: return {1 / (m.rmse * m.rmse), -2 * log(m.rmse)};
    case Weighting::InvRmsec2: return {1 / (m.rmsec * m.rmsec), -2 * log(m.rmsec)};
    case Weighting::PostProb: return {m.postprob, NAN};
  }
  return {NAN, NAN};
}

bool has_log(Weighting w) { return w == Weighting::Likelihood || w == Weighting::InvRmse2 || w == Weighting::InvRmsec2; }

}  // namespace

FactorWeights factor_weights(const Design &design, const Settings &settings, const ModelTable &models,
                             Weighting w) {
  const ModelSpace &space = settings.model_space;
  const int nv = design.analysed, nmod = models.size();
  const bool logs = has_log(w);
  FactorWeights result;
  result.computed = true;
  result.sums.assign(static_cast<size_t>(nv), 0.0);
  result.shares.assign(static_cast<size_t>(nv), 0.0);
  // Whether model i takes part in the shares: models without a posterior
  // (singular ones, unless --keep-aliased) and weights that are not numbers
  // count 0.
  auto counts = [&](const ModelEntry &m, const Weight &wt) {
    return has_posterior(space, m) && !std::isnan(wt.plain) && !(logs && std::isnan(wt.log));
  };
  double total = 0;
  for (const ModelEntry &m : models) {
    const Weight wt = weight_of(m, w);
    if (!counts(m, wt)) continue;
    for (uint64_t bits = m.ivals; bits != 0; bits &= bits - 1) result.sums[__builtin_ctzll(bits)] += wt.plain;
    total += wt.plain;
  }
  result.total = total;
  if (std::isfinite(total) && total >= DBL_MIN) {
    for (int f = 0; f < nv; f++) result.shares[f] = result.sums[f] / total;
    return result;
  }
  // The shares when the plain total is not a finite normal number: each
  // model's weight relative to the largest, exp(log w - log w_max) (the
  // log-sum-exp normalisation); when some weights are infinite, the models
  // with infinite weight share equally and the others get 0. With no weight
  // at all (every model invalid) there is no evidence: every share is 0
  // rather than 0/0.
  auto log_weight = [&](const Weight &wt) { return logs ? wt.log : log(wt.plain); };
  double top = -INFINITY;
  for (int i = 0; i < nmod; i++) {
    const Weight wt = weight_of(models[i], w);
    if (counts(models[i], wt) && !std::isnan(log_weight(wt)) && log_weight(wt) > top) top = log_weight(wt);
  }
  if (top == -INFINITY) return result;  // no weight at all: no evidence
  double sum = 0;
  for (int i = 0; i < nmod; i++) {
    const Weight wt = weight_of(models[i], w);
    if (!counts(models[i], wt) || std::isnan(log_weight(wt))) continue;
    const double lw = log_weight(wt);
    const double relative = std::isinf(top) ? (lw == top ? 1 : 0) : exp(lw - top);
    for (uint64_t bits = models[i].ivals; bits != 0; bits &= bits - 1) result.shares[__builtin_ctzll(bits)] += relative;
    sum += relative;
  }
  for (int f = 0; f < nv; f++) result.shares[f] /= sum;
  return result;
}

double no_factor_active(const ModelTable &models) {
  for (const ModelEntry &m : models)
    if (m.nf == 0) return m.postprob;
  return NAN;
}

FactorWeightTables factor_weight_tables(const Design &design, const Settings &settings,
                                        const ModelTable &models, bool all) {
  PlaceGuard place("Show_Post_Active");
  FactorWeightTables tables;
  for (int w = 0; w < kWeightings; w++) {
    const Weighting weighting = static_cast<Weighting>(w);
    const bool shown = weighting == Weighting::Fstat || weighting == Weighting::PostProb || settings.more_posts;
    if (shown || all) tables.by[w] = factor_weights(design, settings, models, weighting);
  }
  tables.none_active = no_factor_active(models);
  return tables;
}

const char *weighting_key(int w) {
  switch (static_cast<Weighting>(w)) {
    case Weighting::Fstat: return "fstat";
    case Weighting::Likelihood: return "likelihood";
    case Weighting::InvRmse2: return "inv_rmse2";
    case Weighting::InvRmsec2: return "inv_rmsec2";
    case Weighting::PostProb: return "postprob";
  }
  return "?";
}

}  // namespace bayescreen
