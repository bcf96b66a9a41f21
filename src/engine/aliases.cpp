#include "engine/aliases.h"

#include <algorithm>
#include <cmath>

#include "engine/calcmodels.h"
#include "support/showplaces.h"

namespace bayescreen {

namespace {

// Fitted values agree when they differ by no more than this share of the
// spread of the response: far above rounding, far below any real difference.
constexpr double kSameFit = 1e-8;
// Weights of aliased models agree to rounding; this bounds their log gap.
constexpr double kSameLogWeight = 1e-7;

double response_spread(const Design &design) {
  const auto [lo, hi] = std::minmax_element(design.y.begin(), design.y.end());
  return *hi - *lo;
}

}  // namespace

AliasGroups find_alias_groups(const Design &design, const Settings &settings, ModelTable &models,
                              const std::vector<RankingTable> &rankings) {
  PlaceGuard place("Show_Alias_Groups");
  const ModelSpace &space = settings.model_space;
  const int nmod = models.size();
  for (ModelEntry &m : models) m.alias = 0;
  std::vector<uint8_t> listed(static_cast<size_t>(nmod), 0);
  for (const RankingTable &table : rankings) {
    for (const std::vector<int32_t> &size : table.sizes)
      for (int32_t i : size) listed[static_cast<size_t>(i)] = 1;
    for (int32_t i : table.overall) listed[static_cast<size_t>(i)] = 1;
  }
  // Candidates: the listed models with a posterior, by log weight, so that
  // aliases (equal weights) stand next to each other.
  std::vector<int32_t> cand;
  for (int i = 0; i < nmod; i++)
    if (listed[static_cast<size_t>(i)] && has_posterior(space, models[i]) && std::isfinite(models[i].logb))
      cand.push_back(i);
  std::sort(cand.begin(), cand.end(), [&](int32_t a, int32_t b) {
    if (models[a].logb != models[b].logb) return models[a].logb > models[b].logb;
    return a < b;
  });
  AliasGroups groups;
  if (cand.size() < 2) return groups;
  const double tolerance = kSameFit * response_spread(design);
  ModelRefitter refit(design, settings, largest_model_columns(models));
  std::vector<double> fit_a(static_cast<size_t>(design.runs)), fit_b(fit_a.size());
  const int ncand = static_cast<int>(cand.size());
  for (int lo = 0; lo < ncand;) {
    // A run of candidates whose weights agree to rounding.
    int hi = lo + 1;
    while (hi < ncand && std::fabs(models[cand[hi]].logb - models[cand[lo]].logb) <=
                             kSameLogWeight * std::max(1.0, std::fabs(models[cand[lo]].logb)))
      hi++;
    std::sort(cand.begin() + lo, cand.begin() + hi);  // enumeration order within the run
    for (int a = lo; a < hi; a++) {
      ModelEntry &first = models[cand[a]];
      if (first.alias != 0) continue;
      bool fitted = false;
      for (int b = a + 1; b < hi; b++) {
        ModelEntry &other = models[cand[b]];
        if (other.alias != 0) continue;
        if (!fitted) refit.posterior_fitted_values(first, fit_a.data());
        fitted = true;
        refit.posterior_fitted_values(other, fit_b.data());
        double gap = 0;
        for (size_t r = 0; r < fit_a.size(); r++) gap = std::max(gap, std::fabs(fit_a[r] - fit_b[r]));
        if (gap > tolerance) continue;
        if (first.alias == 0) {
          groups.push_back({cand[a]});
          first.alias = static_cast<int32_t>(groups.size());
        }
        other.alias = first.alias;
        groups.back().push_back(cand[b]);
      }
    }
    lo = hi;
  }
  return groups;
}

}  // namespace bayescreen
