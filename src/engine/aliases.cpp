#include "engine/aliases.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/calcmodels.h"
#include "engine/models.h"
#include "engine/readdat.h"
#include "support/helpers.h"
#include "support/logfile.h"
#include "support/showplaces.h"

namespace bayescreen {

namespace {

uint8_t *listed = nullptr;  // 1 for each model a report listed
int listed_capacity = 0;

// Fitted values agree when they differ by no more than this share of the
// spread of the response: far above rounding, far below any real difference.
constexpr double kSameFit = 1e-8;
// Weights of aliased models agree to rounding; this bounds their log gap.
constexpr double kSameLogWeight = 1e-7;

double response_spread() {
  double lo = yy[0], hi = yy[0];
  for (int r = 1; r < nn; r++) {
    lo = std::min(lo, yy[r]);
    hi = std::max(hi, yy[r]);
  }
  return hi - lo;
}

}  // namespace

void clear_listed_models() {
  if (nmod > listed_capacity) {
    free(listed);
    listed = static_cast<uint8_t *>(cxalloc(static_cast<size_t>(nmod) + 3, 1));
    listed_capacity = nmod;
  }
  memset(listed, 0, static_cast<size_t>(nmod));
}

void note_listed_models(const int32_t *indices, int count) {
  if (listed == nullptr) clear_listed_models();
  for (int i = 0; i < count; i++) listed[indices[i]] = 1;
}

void show_alias_groups() {
  PlaceGuard place("Show_Alias_Groups");
  for (int i = 0; i < nmod; i++) model[i].alias = 0;
  if (listed == nullptr) return;
  // Candidates: the listed models with a posterior, by log weight, so that
  // aliases (equal weights) stand next to each other.
  int32_t *cand = static_cast<int32_t *>(cxalloc(static_cast<size_t>(nmod) + 3, sizeof(int32_t)));
  int ncand = 0;
  for (int i = 0; i < nmod; i++)
    if (listed[i] && has_posterior(model[i]) && std::isfinite(model[i].logb)) cand[ncand++] = i;
  std::sort(cand, cand + ncand, [](int32_t a, int32_t b) {
    if (model[a].logb != model[b].logb) return model[a].logb > model[b].logb;
    return a < b;
  });
  const double tolerance = kSameFit * response_spread();
  double *fit_a = static_cast<double *>(cxalloc(static_cast<size_t>(nn) + 3, sizeof(double)));
  double *fit_b = static_cast<double *>(cxalloc(static_cast<size_t>(nn) + 3, sizeof(double)));
  int groups = 0;
  bool heading = false;
  for (int lo = 0; lo < ncand;) {
    // A run of candidates whose weights agree to rounding.
    int hi = lo + 1;
    while (hi < ncand && std::fabs(model[cand[hi]].logb - model[cand[lo]].logb) <=
                             kSameLogWeight * std::max(1.0, std::fabs(model[cand[lo]].logb)))
      hi++;
    std::sort(cand + lo, cand + hi);  // enumeration order within the run
    for (int a = lo; a < hi; a++) {
      ModelEntry &first = model[cand[a]];
      if (first.alias != 0) continue;
      posterior_fitted_values(first, fit_a);
      int members = 0;
      for (int b = a + 1; b < hi; b++) {
        ModelEntry &other = model[cand[b]];
        if (other.alias != 0) continue;
        posterior_fitted_values(other, fit_b);
        double gap = 0;
        for (int r = 0; r < nn; r++) gap = std::max(gap, std::fabs(fit_a[r] - fit_b[r]));
        if (gap > tolerance) continue;
        if (members == 0) {
          if (!heading) bprintf("\nAlias groups among the models listed (identical fits):\n");
          heading = true;
          first.alias = ++groups;
          bprintf("  %s", first.name);
        }
        other.alias = groups;
        bprintf(" = %s", other.name);
        members++;
      }
      if (members > 0) bprintf("\n");
    }
    lo = hi;
  }
  free(fit_a);
  free(fit_b);
  free(cand);
}

}  // namespace bayescreen
