#include "engine/effects.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <unordered_map>

#include "engine/calcmodels.h"
#include "numeric/matrix.h"
#include "numeric/tquantile.h"
#include "support/error.h"

namespace bayescreen {

namespace {

// The models left out of the average hold less than this share of the
// posterior together.
constexpr double kNeglectedMass = 1e-12;
// A column is kept in the least-squares model when its part orthogonal to
// the columns kept before has more than this share of its squared length.
constexpr double kIndependent = 1e-9;

// The distinct runs of the analysed design columns, each with its number
// of runs, the mean of their responses and the sum of squares about it:
// every cross product the fits need is a weighted sum over these patterns,
// so a table of many runs costs no more than its distinct settings.
struct Patterns {
  int columns = 0;                 // design columns analysed
  std::vector<int32_t> levels;     // patterns x columns
  std::vector<double> weight;      // runs of each pattern
  std::vector<double> mean;        // their mean response
  double within = 0;               // sum over runs of (y - mean of its pattern)^2

  int count() const { return static_cast<int>(weight.size()); }
  // The effect column formed by the design columns of mask, at pattern p.
  double value(int p, uint64_t mask) const {
    int32_t v = 1;
    for (uint64_t bits = mask; bits != 0; bits &= bits - 1)
      v *= levels[static_cast<size_t>(p) * static_cast<size_t>(columns) +
                  static_cast<size_t>(__builtin_ctzll(bits))];
    return v;
  }
};

Patterns find_patterns(const Design &design) {
  Patterns pats;
  pats.columns = design.analysed;
  std::map<std::vector<int32_t>, int> index;
  std::vector<int> of_run(static_cast<size_t>(design.runs));
  std::vector<int32_t> row(static_cast<size_t>(pats.columns));
  for (int r = 0; r < design.runs; r++) {
    for (int c = 0; c < pats.columns; c++) row[static_cast<size_t>(c)] = design.entry(r, c);
    auto [at, added] = index.try_emplace(row, pats.count());
    if (added) {
      pats.levels.insert(pats.levels.end(), row.begin(), row.end());
      pats.weight.push_back(0);
      pats.mean.push_back(0);
    }
    const size_t p = static_cast<size_t>(at->second);
    of_run[static_cast<size_t>(r)] = at->second;
    // Welford's running mean, so that the within-pattern sum of squares
    // below takes no difference of large sums.
    pats.weight[p] += 1;
    pats.mean[p] += (design.y[static_cast<size_t>(r)] - pats.mean[p]) / pats.weight[p];
  }
  for (int r = 0; r < design.runs; r++) {
    const double d = design.y[static_cast<size_t>(r)] - pats.mean[static_cast<size_t>(of_run[static_cast<size_t>(r)])];
    pats.within += d * d;
  }
  return pats;
}

// The running sums of the model average of one effect column.
struct Sums {
  double mean = 0, second = 0, positive = 0, mass = 0;
};

// Adds model m (probability p) to the sums of its factor columns.
void add_model(const Design &design, const Settings &settings, const Patterns &pats,
               const ModelEntry &m, double p, const std::unordered_map<uint64_t, size_t> &index,
               std::vector<Sums> &sums) {
  const ModelSpace &space = settings.model_space;
  const BoxMeyerPrior prior = prior_of(settings);
  const int nc = model_columns(space, m.nf);
  std::vector<uint64_t> masks(static_cast<size_t>(nc));
  model_column_masks(space, m, masks.data());
  const size_t n = static_cast<size_t>(nc);
  // X'X + Gamma and X'y from the patterns.
  std::vector<double> a(n * n, 0.0), xty(n, 0.0), x(n), ginv(n * n), b(n, 0.0);
  for (int q = 0; q < pats.count(); q++) {
    const double w = pats.weight[static_cast<size_t>(q)];
    for (size_t j = 0; j < n; j++) x[j] = pats.value(q, masks[j]);
    for (size_t i = 0; i < n; i++) {
      xty[i] += w * pats.mean[static_cast<size_t>(q)] * x[i];
      for (size_t j = 0; j <= i; j++) a[i * n + j] += w * x[i] * x[j];
    }
  }
  std::vector<double> gam(n, 0.0);
  for (size_t i = 0; i < n; i++) {
    for (size_t j = 0; j < i; j++) a[j * n + i] = a[i * n + j];
    if (i > 0) {
      const double g = column_gamma(space, masks[i], prior);
      gam[i] = 1 / (g * g);
      a[i * n + i] += gam[i];
    }
  }
  if (matinv(ginv.data(), a.data(), nc) != 0)
    throw Error("\nEFFECTS: X'X + Gamma of model " + std::string(m.name) + " cannot be inverted !\n");
  for (size_t i = 0; i < n; i++)
    for (size_t j = 0; j < n; j++) b[i] += ginv[i * n + j] * xty[j];
  // Q = |y - X b|^2 + b' Gamma b, the residual split into the spread within
  // the patterns and that of the pattern means about the fit.
  double q_form = pats.within;
  for (int q = 0; q < pats.count(); q++) {
    double fit = 0;
    for (size_t j = 0; j < n; j++) fit += pats.value(q, masks[j]) * b[j];
    const double d = pats.mean[static_cast<size_t>(q)] - fit;
    q_form += pats.weight[static_cast<size_t>(q)] * d * d;
  }
  for (size_t j = 1; j < n; j++) q_form += gam[j] * b[j] * b[j];

  const int runs = design.runs;
  const double nu = runs - 1;
  for (size_t j = 1; j < n; j++) {
    auto at = index.find(masks[j]);
    if (at == index.end()) continue;  // a block column
    Sums &s = sums[at->second];
    const double gjj = ginv[j * n + j];
    const double var = runs > 3 ? q_form / (runs - 3) * gjj : NAN;
    s.mean += p * b[j];
    s.second += p * (var + b[j] * b[j]);
    s.mass += p;
    if (runs > 1) {
      const double scale = std::sqrt(q_form / nu * gjj);
      s.positive += p * (scale > 0 ? t_cdf(b[j] / scale, nu) : (b[j] > 0 ? 1.0 : b[j] < 0 ? 0.0 : 0.5));
    } else {
      s.positive = NAN;
    }
  }
}

// The least-squares part: the largest model the design can fit, its
// estimates, and Lenth's figures when they apply.
void least_squares(const Design &design, const ModelSpace &space, const Patterns &pats,
                   EffectResults &out) {
  // Candidate columns: the intercept, the blocks, then the effects in order.
  std::vector<uint64_t> candidates{0};
  for (int c = 0; c < space.blocks; c++) candidates.push_back(uint64_t{1} << c);
  const size_t first_effect = candidates.size();
  for (const EffectEstimate &e : out.effects) candidates.push_back(e.mask);

  // Modified Gram-Schmidt with the weighted inner product over patterns,
  // twice over for each new column, keeping the columns independent of
  // those kept before.
  const size_t np = static_cast<size_t>(pats.count());
  std::vector<std::vector<double>> basis;
  std::vector<size_t> kept;
  auto dot = [&](const std::vector<double> &u, const std::vector<double> &v) {
    double s = 0;
    for (size_t p = 0; p < np; p++) s += pats.weight[p] * u[p] * v[p];
    return s;
  };
  for (size_t k = 0; k < candidates.size() && kept.size() < np; k++) {
    std::vector<double> v(np);
    for (size_t p = 0; p < np; p++) v[p] = pats.value(static_cast<int>(p), candidates[k]);
    const double length = dot(v, v);
    if (length == 0) continue;
    for (int pass = 0; pass < 2; pass++)
      for (const std::vector<double> &q : basis) {
        const double c = dot(q, v);
        for (size_t p = 0; p < np; p++) v[p] -= c * q[p];
      }
    const double rest = dot(v, v);
    if (rest <= kIndependent * length) continue;
    const double norm = std::sqrt(rest);
    for (double &e : v) e /= norm;
    basis.push_back(std::move(v));
    kept.push_back(k);
  }

  // The normal equations of the kept columns.
  const size_t n = kept.size();
  std::vector<double> a(n * n, 0.0), xty(n, 0.0), x(n), ainv(n * n), beta(n, 0.0);
  for (size_t q = 0; q < np; q++) {
    const double w = pats.weight[q];
    for (size_t j = 0; j < n; j++) x[j] = pats.value(static_cast<int>(q), candidates[kept[j]]);
    for (size_t i = 0; i < n; i++) {
      xty[i] += w * pats.mean[q] * x[i];
      for (size_t j = 0; j < n; j++) a[i * n + j] += w * x[i] * x[j];
    }
  }
  if (matinv(ainv.data(), a.data(), static_cast<int>(n)) != 0)
    throw Error("\nEFFECTS: X'X of the largest model cannot be inverted !\n");
  for (size_t i = 0; i < n; i++)
    for (size_t j = 0; j < n; j++) beta[i] += ainv[i * n + j] * xty[j];
  std::vector<double> contrasts;
  for (size_t i = 0; i < n; i++) {
    if (kept[i] < first_effect) continue;
    EffectEstimate &e = out.effects[kept[i] - first_effect];
    e.least_squares = 2 * beta[i];
    contrasts.push_back(e.least_squares);
  }
  out.ls_columns = static_cast<int>(contrasts.size());
  out.ls_residual_df = design.runs - static_cast<int>(n);

  // Lenth's figures need orthogonal columns and one run per setting.
  bool orthogonal = true;
  for (size_t i = 0; i < n && orthogonal; i++)
    for (size_t j = 0; j < i && orthogonal; j++) orthogonal = a[i * n + j] == 0;
  const bool unreplicated = static_cast<int>(np) == design.runs;
  if (!orthogonal)
    out.lenth_note = "the design is not orthogonal";
  else if (!unreplicated)
    out.lenth_note = "the design has replicated runs";
  else if (contrasts.size() < 2)
    out.lenth_note = "fewer than two effects can be estimated";
  else
    out.lenth = lenth(contrasts);
}

}  // namespace

std::vector<uint64_t> space_effect_columns(const Design &design, const ModelSpace &space) {
  const int k = screened_factors(design, space);
  const int top = std::min(space.order, largest_model_size(design, space));
  std::vector<uint64_t> columns;
  for (int t = 1; t <= top; t++)
    for_each_subset(k, t, [&](const int32_t *pick) {
      uint64_t mask = 0;
      for (int i = 0; i < t; i++) mask |= uint64_t{1} << (space.blocks + pick[i]);
      columns.push_back(mask);
    });
  return columns;
}

EffectResults estimate_effects(const Design &design, const Settings &settings, const ModelTable &models) {
  const ModelSpace &space = settings.model_space;
  EffectResults out;
  std::unordered_map<uint64_t, size_t> index;
  for (uint64_t mask : space_effect_columns(design, space)) {
    index.emplace(mask, out.effects.size());
    EffectEstimate e;
    e.mask = mask;
    e.order = __builtin_popcountll(mask);
    e.least_squares = NAN;
    out.effects.push_back(e);
  }
  const Patterns pats = find_patterns(design);

  // The models by posterior probability, largest first, until what is
  // left holds less than kNeglectedMass.
  std::vector<int> order;
  double total = 0;
  for (int i = 0; i < models.size(); i++)
    if (has_posterior(space, models[i]) && models[i].postprob > 0) {
      order.push_back(i);
      total += models[i].postprob;
    }
  std::sort(order.begin(), order.end(), [&models](int a, int b) {
    if (models[a].postprob != models[b].postprob) return models[a].postprob > models[b].postprob;
    return a < b;
  });
  std::vector<Sums> sums(out.effects.size());
  double left = total;
  for (int i : order) {
    if (left < kNeglectedMass * total) break;
    const ModelEntry &m = models[i];
    add_model(design, settings, pats, m, m.postprob, index, sums);
    out.models_used++;
    out.mass_used += m.postprob;
    left = total - out.mass_used;
  }
  for (size_t k = 0; k < sums.size(); k++) {
    EffectEstimate &e = out.effects[k];
    const Sums &s = sums[k];
    e.mean = 2 * s.mean;
    const double var = s.second - s.mean * s.mean;
    e.sd = 2 * std::sqrt(std::max(var, 0.0));
    e.prob_positive = s.positive;
    e.prob_in_model = s.mass;
  }
  least_squares(design, space, pats, out);
  return out;
}

}  // namespace bayescreen
