#include "engine/priorgrid.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/calcmodels.h"
#include "engine/gramfit.h"
#include "support/parallel.h"
#include "support/showplaces.h"

namespace bayescreen {

namespace {

// The sums of a size may run this far (in natural logarithms) above the
// largest weight they were scaled to before they are scaled anew; exp(300)
// times any number of models stays far from overflow.
constexpr double kHeadroom = 300;
// Prior odds pi/(1-pi) of 1: weights without the prior-odds term, to which
// each pi of the grid adds its own.
constexpr double kEvenOdds = 0.5;

// A number that fills the whole text.
bool read_number(const std::string &text, double *value) {
  if (text.empty()) return false;
  char *end = nullptr;
  *value = strtod(text.c_str(), &end);
  return *end == '\0' && std::isfinite(*value);
}

// The weights of the models of one size under one gamma, summed relative
// to exp(top), for every factor and in all; models whose weight is
// infinite are counted apart, as they take all the probability.
struct SizeSums {
  double top = -INFINITY;  // the scale of the sums: the largest log weight when last scaled
  double total = 0;        // sum of exp(logb - top)
  double infinite = 0;     // models of infinite weight
};

class Accumulator {
 public:
  Accumulator(int ngam, int sizes, int nfac, int first)
      : sizes_(sizes), nfac_(nfac), first_(first),
        sums_(static_cast<size_t>(ngam) * static_cast<size_t>(sizes)),
        factor_(sums_.size() * static_cast<size_t>(nfac), 0.0),
        factor_infinite_(factor_.size(), 0.0) {}

  // Adds a model of t factors, active factors in ivals, log weight logb
  // under gamma number g. A weight that is not a number counts nothing.
  void add(int g, int t, uint64_t ivals, double logb) {
    if (std::isnan(logb) || logb == -INFINITY) return;
    const size_t at = index(g, t);
    SizeSums &s = sums_[at];
    double *factor = &factor_[at * static_cast<size_t>(nfac_)];
    if (logb == INFINITY) {
      s.infinite += 1;
      for (uint64_t bits = ivals; bits != 0; bits &= bits - 1)
        factor_infinite_[at * static_cast<size_t>(nfac_) + factor_of(bits)] += 1;
      return;
    }
    if (logb > s.top + kHeadroom) {
      const double scale = exp(s.top - logb);
      s.total *= scale;
      for (int f = 0; f < nfac_; f++) factor[f] *= scale;
      s.top = logb;
    }
    const double w = exp(logb - s.top);
    s.total += w;
    for (uint64_t bits = ivals; bits != 0; bits &= bits - 1) factor[factor_of(bits)] += w;
  }

  // Fills point p of the results: gamma number g, prior proportion pi, k
  // factors screened.
  void combine(int g, double pi, int k, int p, PriorGridResults &r) const {
    double *active = &r.active[static_cast<size_t>(p) * static_cast<size_t>(nfac_)];
    for (int f = 0; f < nfac_; f++) active[f] = 0;
    r.none[static_cast<size_t>(p)] = 0;
    // Infinite weights take all the probability, shared equally, as the
    // posterior of the models does.
    double infinite = 0;
    for (int t = 0; t < sizes_; t++) infinite += sums_[index(g, t)].infinite;
    if (infinite > 0) {
      for (int t = 0; t < sizes_; t++) {
        const size_t at = index(g, t);
        for (int f = 0; f < nfac_; f++) active[f] += factor_infinite_[at * static_cast<size_t>(nfac_) + f] / infinite;
      }
      r.none[static_cast<size_t>(p)] = sums_[index(g, 0)].infinite / infinite;
      r.log_support[static_cast<size_t>(p)] = INFINITY;
      return;
    }
    // The log of each size's summed weight under pi, and their largest.
    std::vector<double> logsum(static_cast<size_t>(sizes_), -INFINITY);
    double top = -INFINITY;
    for (int t = 0; t < sizes_; t++) {
      const SizeSums &s = sums_[index(g, t)];
      if (!(s.total > 0)) continue;
      logsum[static_cast<size_t>(t)] = s.top + log(s.total) + log_prior_odds(t, pi);
      if (logsum[static_cast<size_t>(t)] > top) top = logsum[static_cast<size_t>(t)];
    }
    if (top == -INFINITY) {
      r.log_support[static_cast<size_t>(p)] = -INFINITY;
      return;
    }
    double total = 0;
    for (int t = 0; t < sizes_; t++) {
      const SizeSums &s = sums_[index(g, t)];
      if (!(s.total > 0)) continue;
      const double share = exp(logsum[static_cast<size_t>(t)] - top);
      total += share;
      const double *factor = &factor_[index(g, t) * static_cast<size_t>(nfac_)];
      for (int f = 0; f < nfac_; f++) active[f] += share * (factor[f] / s.total);
      if (t == 0) r.none[static_cast<size_t>(p)] = share;
    }
    for (int f = 0; f < nfac_; f++) active[f] /= total;
    r.none[static_cast<size_t>(p)] /= total;
    r.log_support[static_cast<size_t>(p)] = k * log(1 - pi) + top + log(total);
  }

 private:
  size_t index(int g, int t) const {
    return static_cast<size_t>(g) * static_cast<size_t>(sizes_) + static_cast<size_t>(t);
  }
  // The table position of the lowest design column in bits.
  int factor_of(uint64_t bits) const { return __builtin_ctzll(bits) - first_; }

  int sizes_, nfac_, first_;
  std::vector<SizeSums> sums_;
  std::vector<double> factor_;
  std::vector<double> factor_infinite_;
};

// The log weights of the models one walk visits (those of one first
// factor) under a batch of priors, in the order of the walk.
struct WalkWeights {
  std::vector<const ModelEntry *> models;
  std::vector<double> logb;  // [i * batch + g]: model i under prior g of the batch
};

// The stored weights take at most this many bytes at once; more priors are
// summed in further batches, each with walks of its own.
constexpr size_t kStoredWeightBytes = size_t{64} << 20;

// The sums of compute_prior_grid's single walk on several threads, with the same
// numbers: the walks of the first factors (which together visit the models
// in the order of the single walk) run side by side and keep their weights;
// then the threads share out the priors, each summing the weights of its
// priors in the walks' order, so that every sum is formed in the same order
// as in the single walk. The weight of a model under a prior does not
// depend on the other priors of its walk, as the factors of the priors are
// grown apart, entry by entry.
void sum_weights_on_threads(const Design &design, const Settings &settings, const ModelTable &models,
                            const std::vector<BoxMeyerPrior> &priors, int threads, Accumulator &sums) {
  const int ngam = static_cast<int>(priors.size());
  const int k = screened_factors(design, settings.model_space);
  const size_t per_prior = static_cast<size_t>(models.size()) * sizeof(double);
  int batch = ngam;
  if (per_prior * static_cast<size_t>(ngam) > kStoredWeightBytes)
    batch = kStoredWeightBytes >= per_prior ? static_cast<int>(kStoredWeightBytes / per_prior) : 1;
  // The models each walk reports (those with a posterior, the null model in
  // the walk of the first factor), so that its arrays are taken at once.
  std::vector<size_t> reported(static_cast<size_t>(k), 0);
  const int first_column = settings.model_space.blocks;
  for (const ModelEntry &m : models)
    if (has_posterior(settings.model_space, m))
      reported[m.fset == 0 ? 0 : static_cast<size_t>(__builtin_ctzll(m.fset) - first_column)]++;
  std::vector<WalkWeights> walks(static_cast<size_t>(k));
  for (int from = 0; from < ngam; from += batch) {
    const int count = ngam - from < batch ? ngam - from : batch;
    const size_t stride = static_cast<size_t>(count);
    parallel_for(k, threads, [&](int f) {
      WalkWeights &walk = walks[static_cast<size_t>(f)];
      walk.models.clear();
      walk.logb.clear();
      walk.models.reserve(reported[static_cast<size_t>(f)]);
      walk.logb.reserve(reported[static_cast<size_t>(f)] * stride);
      // The walk reaches each model once per batch of its own priors (first
      // counts within this batch); the models come in the same order each time.
      size_t at = 0;
      int batch_first = -1;
      gram_prior_weights(
          design, settings, models, &priors[static_cast<size_t>(from)], count,
          [&](const ModelEntry &m, int first, int n, const double *logb) {
            if (first != batch_first) {
              batch_first = first;
              at = 0;
            }
            if (first == 0) {
              walk.models.push_back(&m);
              walk.logb.resize(walk.logb.size() + stride, 0.0);
            }
            for (int g = 0; g < n; g++) walk.logb[at * stride + static_cast<size_t>(first + g)] = logb[g];
            at++;
          },
          f);
    });
    parallel_for(count, threads, [&](int g) {
      for (const WalkWeights &walk : walks)
        for (size_t i = 0; i < walk.models.size(); i++) {
          const ModelEntry &m = *walk.models[i];
          sums.add(from + g, m.nf, m.ivals, walk.logb[i * stride + static_cast<size_t>(g)]);
        }
    });
  }
}

// Normalises the support over the grid and names the best point: weights
// relative to the largest; with infinite ones, those share equally.
void normalise_support(PriorGridResults &r) {
  const size_t n = r.log_support.size();
  r.support.assign(n, 0.0);
  r.best = -1;
  double top = -INFINITY;
  for (size_t p = 0; p < n; p++)
    if (r.log_support[p] > top) {
      top = r.log_support[p];
      r.best = static_cast<int>(p);
    }
  if (r.best < 0) return;
  double total = 0;
  for (size_t p = 0; p < n; p++) {
    const double ls = r.log_support[p];
    r.support[p] = std::isinf(top) ? (ls == top ? 1.0 : 0.0) : (std::isnan(ls) ? 0.0 : exp(ls - top));
    total += r.support[p];
  }
  for (size_t p = 0; p < n; p++) r.support[p] /= total;
}

}  // namespace

const char *parse_grid(const char *text, GridSpec *spec) {
  static const char *const kForm = "the value must have the form LO:HI:N";
  const char *colon1 = strchr(text, ':');
  const char *colon2 = colon1 != nullptr ? strchr(colon1 + 1, ':') : nullptr;
  if (colon2 == nullptr || strchr(colon2 + 1, ':') != nullptr) return kForm;
  const std::string lo(text, colon1), hi(colon1 + 1, colon2), n(colon2 + 1);
  if (lo.empty() || hi.empty() || n.empty()) return kForm;
  if (!read_number(lo, &spec->lo)) return "LO is not a finite number";
  if (!read_number(hi, &spec->hi)) return "HI is not a finite number";
  char *end = nullptr;
  errno = 0;
  const long count = strtol(n.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE || count < 2 || count > kMaxGridValues)
    return "N must be a whole number from 2 to 100";
  spec->n = static_cast<int32_t>(count);
  if (!(spec->lo < spec->hi)) return "LO must be less than HI";
  return nullptr;
}

const char *parse_gamma_grid(const char *text, GridSpec *spec) {
  const char *why = parse_grid(text, spec);
  if (why == nullptr && !(spec->lo > 0)) why = "every gamma must be greater than 0";
  if (why == nullptr && !prior_precision_finite(spec->lo))
    why = "LO is too small: its prior precision 1/gamma^2 overflows";
  return why;
}

const char *parse_pi_grid(const char *text, GridSpec *spec) {
  const char *why = parse_grid(text, spec);
  if (why == nullptr && !(spec->lo > 0 && spec->hi < 1)) why = "every pi must lie strictly between 0 and 1";
  return why;
}

std::vector<double> grid_values(const GridSpec &spec) {
  std::vector<double> values(static_cast<size_t>(spec.n));
  for (int i = 0; i < spec.n; i++) {
    const double v = spec.lo + (spec.hi - spec.lo) * i / (spec.n - 1);
    values[static_cast<size_t>(i)] = v < spec.hi ? v : spec.hi;
  }
  values.back() = spec.hi;
  return values;
}

PriorGridResults compute_prior_grid(const Design &design, const Settings &settings,
                                    const ModelTable &models) {
  PlaceGuard place("Compute_Prior_Grid");
  const ModelSpace &space = settings.model_space;
  PriorGridResults r;
  r.gamma_grid = settings.gamma_grid.n > 0;
  r.pi_grid = settings.pi_grid.n > 0;
  r.gammas = r.gamma_grid ? grid_values(settings.gamma_grid) : std::vector<double>{settings.gamma};
  r.pis = r.pi_grid ? grid_values(settings.pi_grid) : std::vector<double>{settings.pi};
  r.interaction_scale = space.gam_int > 0 ? space.gam_int / settings.gamma : 0;
  r.first_factor = space.blocks;
  r.nfactors = screened_factors(design, space);
  r.with_null = space.with_null != 0;

  // The weights under each gamma at even prior odds; interactions keep
  // their ratio to the main effects, gam_int x (g / gamma), which is gam_int
  // itself at g = gamma.
  const int ngam = static_cast<int>(r.gammas.size());
  std::vector<BoxMeyerPrior> priors(static_cast<size_t>(ngam));
  for (int g = 0; g < ngam; g++) {
    BoxMeyerPrior &prior = priors[static_cast<size_t>(g)];
    prior.pi = kEvenOdds;
    prior.gam = r.gammas[static_cast<size_t>(g)];
    prior.gam_int = space.gam_int > 0 ? space.gam_int * (prior.gam / settings.gamma) : 0;
  }
  const int largest = largest_model_size(design, space);
  Accumulator sums(ngam, largest + 1, r.nfactors, r.first_factor);
  const int threads = thread_count(settings.threads);
  if (threads <= 1 || r.nfactors < 2 || models.size() < kParallelModels)
    gram_prior_weights(design, settings, models, priors.data(), ngam,
                       [&](const ModelEntry &m, int first, int count, const double *logb) {
                         for (int g = 0; g < count; g++) sums.add(first + g, m.nf, m.ivals, logb[g]);
                       });
  else
    sum_weights_on_threads(design, settings, models, priors, threads, sums);

  const size_t points = static_cast<size_t>(r.points());
  r.active.assign(points * static_cast<size_t>(r.nfactors), 0.0);
  r.none.assign(points, 0.0);
  r.log_support.assign(points, -INFINITY);
  for (size_t i = 0; i < r.pis.size(); i++)
    for (int g = 0; g < ngam; g++)
      sums.combine(g, r.pis[i], r.nfactors, static_cast<int>(i) * ngam + g, r);
  normalise_support(r);
  return r;
}

}  // namespace bayescreen
