#include "engine/priorgrid.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/calcmodels.h"
#include "engine/gramfit.h"
#include "engine/models.h"
#include "engine/readdat.h"
#include "cli/longopts.h"
#include "support/logfile.h"
#include "support/showplaces.h"

namespace bayescreen {

namespace {

// Columns of values per block of the report: six keep a line within 80
// characters.
constexpr int kColumnsPerBlock = 6;
// Width of the row labels, "  No factor active:" the longest.
constexpr int kLabelWidth = 19;
// The sums of a size may run this far (in natural logarithms) above the
// largest weight they were scaled to before they are scaled anew; exp(300)
// times any number of models stays far from overflow.
constexpr double kHeadroom = 300;
// Prior odds pi/(1-pi) of 1: weights without the prior-odds term, to which
// each pi of the grid adds its own.
constexpr double kEvenOdds = 0.5;

PriorGridResults results;

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

// The labels of a grid's values: "%.*g" with the fewest digits, at least
// three, that tell every value from its neighbours.
std::vector<std::string> value_labels(const std::vector<double> &values) {
  std::vector<std::string> labels(values.size());
  char text[64];
  for (int digits = 3; digits <= 17; digits++) {
    bool distinct = true;
    for (size_t i = 0; i < values.size(); i++) {
      snprintf(text, sizeof text, "%.*g", digits, values[i]);
      labels[i] = text;
      if (i > 0 && labels[i] == labels[i - 1]) distinct = false;
    }
    if (distinct) break;
  }
  return labels;
}

// One table: columns for the points first, first + step, ... (count of
// them), headed by labels under the name of the value that varies, in
// blocks of kColumnsPerBlock.
void show_table(const char *varying, const std::vector<std::string> &labels, int first, int step) {
  const PriorGridResults &r = results;
  const int count = static_cast<int>(labels.size());
  int width = 7;  // "0.12345"
  for (const std::string &label : labels)
    if (static_cast<int>(label.size()) > width) width = static_cast<int>(label.size());
  char name[64];
  for (int from = 0; from < count; from += kColumnsPerBlock) {
    const int to = from + kColumnsPerBlock < count ? from + kColumnsPerBlock : count;
    snprintf(name, sizeof name, "%s:", varying);
    bprintf("\n%*s", kLabelWidth, name);
    for (int c = from; c < to; c++) bprintf("  %*s", width, labels[static_cast<size_t>(c)].c_str());
    bprintf("\n");
    auto row = [&](const char *label, auto value) {
      bprintf("%*s", kLabelWidth, label);
      for (int c = from; c < to; c++) bprintf("  %*.5f", width, value(first + c * step));
      bprintf("\n");
    };
    for (int f = 0; f < r.nfactors; f++) {
      snprintf(name, sizeof name, "%c:", factorstr[r.first_factor + f]);
      row(name, [&](int p) {
        return r.active[static_cast<size_t>(p) * static_cast<size_t>(r.nfactors) + static_cast<size_t>(f)];
      });
    }
    if (r.with_null) row("No factor active:", [&](int p) { return r.none[static_cast<size_t>(p)]; });
    row("Support:", [&](int p) { return r.support[static_cast<size_t>(p)]; });
  }
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

void read_prior_grids(const char *gamma_word, const char *pi_word) {
  if (priorgrids.gamma_text != nullptr) {
    const char *why = parse_grid(priorgrids.gamma_text, &priorgrids.gamma);
    if (why == nullptr && !(priorgrids.gamma.lo > 0)) why = "every gamma must be greater than 0";
    if (why == nullptr && !prior_precision_finite(priorgrids.gamma.lo))
      why = "LO is too small: its prior precision 1/gamma^2 overflows";
    if (why != nullptr) bad_long_value(gamma_word, why);
  }
  if (priorgrids.pi_text != nullptr) {
    const char *why = parse_grid(priorgrids.pi_text, &priorgrids.pi);
    if (why == nullptr && !(priorgrids.pi.lo > 0 && priorgrids.pi.hi < 1))
      why = "every pi must lie strictly between 0 and 1";
    if (why != nullptr) bad_long_value(pi_word, why);
  }
}

bool prior_grids_given() { return priorgrids.gamma.n > 0 || priorgrids.pi.n > 0; }

std::vector<double> grid_values(const GridSpec &spec) {
  std::vector<double> values(static_cast<size_t>(spec.n));
  for (int i = 0; i < spec.n; i++) {
    const double v = spec.lo + (spec.hi - spec.lo) * i / (spec.n - 1);
    values[static_cast<size_t>(i)] = v < spec.hi ? v : spec.hi;
  }
  values.back() = spec.hi;
  return values;
}

void compute_prior_grid() {
  PlaceGuard place("Compute_Prior_Grid");
  PriorGridResults &r = results;
  r = PriorGridResults();
  r.gamma_grid = priorgrids.gamma.n > 0;
  r.pi_grid = priorgrids.pi.n > 0;
  r.gammas = r.gamma_grid ? grid_values(priorgrids.gamma) : std::vector<double>{gam};
  r.pis = r.pi_grid ? grid_values(priorgrids.pi) : std::vector<double>{pi};
  r.interaction_scale = modelspace.gam_int > 0 ? modelspace.gam_int / gam : 0;
  r.first_factor = modelspace.blocks;
  r.nfactors = screened_factors();
  r.with_null = modelspace.with_null != 0;

  // The weights under each gamma at even prior odds; interactions keep
  // their ratio to the main effects, gam_int x (g / gam), which is gam_int
  // itself at g = gam.
  const int ngam = static_cast<int>(r.gammas.size());
  std::vector<BoxMeyerPrior> priors(static_cast<size_t>(ngam));
  for (int g = 0; g < ngam; g++) {
    BoxMeyerPrior &prior = priors[static_cast<size_t>(g)];
    prior.pi = kEvenOdds;
    prior.gam = r.gammas[static_cast<size_t>(g)];
    prior.gam_int = modelspace.gam_int > 0 ? modelspace.gam_int * (prior.gam / gam) : 0;
  }
  const int largest = modelspace.max_factors < r.nfactors ? modelspace.max_factors : r.nfactors;
  Accumulator sums(ngam, largest + 1, r.nfactors, r.first_factor);
  gram_prior_weights(priors.data(), ngam, [&](const ModelEntry &m, int first, int count, const double *logb) {
    for (int g = 0; g < count; g++) sums.add(first + g, m.nf, m.ivals, logb[g]);
  });

  const size_t points = static_cast<size_t>(r.points());
  r.active.assign(points * static_cast<size_t>(r.nfactors), 0.0);
  r.none.assign(points, 0.0);
  r.log_support.assign(points, -INFINITY);
  for (size_t i = 0; i < r.pis.size(); i++)
    for (int g = 0; g < ngam; g++)
      sums.combine(g, r.pis[i], r.nfactors, static_cast<int>(i) * ngam + g, r);
  normalise_support(r);
}

const PriorGridResults &prior_grid_results() { return results; }

void show_prior_grid() {
  PlaceGuard place("Show_Prior_Grid");
  const PriorGridResults &r = results;
  const int ngam = static_cast<int>(r.gammas.size());
  const int npi = static_cast<int>(r.pis.size());
  bprintf("\nPrior sensitivity: posterior probabilities that factors are active\n");
  if (r.gamma_grid && r.pi_grid)
    bprintf("at %d values of gamma and %d of pi (%d pairs):\n", ngam, npi, ngam * npi);
  else if (r.gamma_grid)
    bprintf("at %d values of gamma (pi=%g):\n", ngam, pi);
  else
    bprintf("at %d values of pi (gam=%g):\n", npi, gam);
  if (r.gamma_grid && r.interaction_scale > 0)
    bprintf("(interaction columns take gamma x %g, the ratio of --gamma-int to -G)\n",
            r.interaction_scale);
  bprintf("Support: p(y | gamma, pi) up to a constant, normalised over the grid.\n");
  const std::vector<std::string> gamma_labels = value_labels(r.gammas);
  const std::vector<std::string> pi_labels = value_labels(r.pis);
  if (!r.gamma_grid) {
    show_table("pi", pi_labels, 0, ngam);
  } else {
    for (int i = 0; i < npi; i++) {
      if (r.pi_grid) bprintf("\npi=%s:\n", pi_labels[static_cast<size_t>(i)].c_str());
      show_table("gamma", gamma_labels, i * ngam, 1);
    }
  }
  if (r.best < 0) {
    bprintf("\nNo model has a Box-Meyer weight: the data support no value of the grid.\n");
    return;
  }
  const double best_gamma = r.gammas[static_cast<size_t>(r.best % ngam)];
  const double best_pi = r.pis[static_cast<size_t>(r.best / ngam)];
  const double support = r.support[static_cast<size_t>(r.best)];
  if (r.gamma_grid && r.pi_grid)
    bprintf("\nThe data support gamma=%g, pi=%g most (support %.3g).\n", best_gamma, best_pi, support);
  else if (r.gamma_grid)
    bprintf("\nThe data support gamma=%g most (support %.3g).\n", best_gamma, support);
  else
    bprintf("\nThe data support pi=%g most (support %.3g).\n", best_pi, support);
  const int g = r.best % ngam, i = r.best / ngam;
  const bool edge = (r.gamma_grid && (g == 0 || g == ngam - 1)) || (r.pi_grid && (i == 0 || i == npi - 1));
  if (edge) bprintf("(At the edge of the grid: values beyond it may have more support.)\n");
}

}  // namespace bayescreen
