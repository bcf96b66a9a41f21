#include "analysis/postactive.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "analysis/models.h"
#include "analysis/readdat.h"
#include "analysis/settings.h"
#include "support/helpers.h"
#include "support/logfile.h"
#include "support/showplaces.h"

namespace bayescreen {

double *pact = nullptr;

namespace {

constexpr int kMaxStars = 30;

// wt = 1/field^2 for the reciprocal weightings.
void set_reciprocal_square_keys(double ModelEntry::*field) {
  for (int i = 0; i < nmod; i++) model[i].wt = 1 / (model[i].*field * model[i].*field);
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
  for (int i = 0; i < nmod; i++)
    if (model[i].nf == 0) {
      char stars[kMaxStars + 1];
      const double p = model[i].postprob;
      bprintf("  No factor active:  %g    %7.5f  %s\n", p, p, stars_of(stars, p));
      return;
    }
}

}  // namespace

void show_actives() {
  PlaceGuard place("Show_Actives");
  if (pact == nullptr) pact = static_cast<double *>(cxalloc(static_cast<size_t>(nv) + 3, sizeof(double)));
  double total = 0;
  for (int f = 0; f < nv; f++) pact[f] = 0;
  for (int i = 0; i < nmod; i++) {
    // A weight that is not a finite number (an invalid model's 1/0, the
    // criteria of a model that leaves no error degrees of freedom) would
    // turn every share into 0 or NaN: such models are left out.
    const double w = std::isfinite(model[i].wt) ? model[i].wt : 0.0;
    for (uint64_t bits = model[i].ivals; bits != 0; bits &= bits - 1)
      pact[__builtin_ctzll(bits)] += w;
    total += w;
  }
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
    // With no weight at all (every model invalid) there is no evidence:
    // the share is 0 rather than 0/0.
    const double share = total > 0 ? pact[f] / total : 0.0;
    bprintf("  %c:  %*g    %7.5f  %s\n", factorstr[f], width, pact[f], share,
            stars_of(stars, share));
  }
}

void show_post_active() {
  PlaceGuard place("Show_Post_Active");
  bprintf("\nPosterior weights that factors are active:\n");
  bprintf("Weighting models by Fstat:\n");
  set_keys(&ModelEntry::fstat);
  show_actives();
  if (moreposts) {
    bprintf("\nWeighting models by Likelihood:\n");
    set_keys(&ModelEntry::likelihood);
    show_actives();
    bprintf("\nWeighting models by 1/rmse^2:\n");
    set_reciprocal_square_keys(&ModelEntry::rmse);
    show_actives();
    bprintf("\nWeighting models by 1/rmsec^2 (pi=%g, gam=%g):\n", pi, gam);
    set_reciprocal_square_keys(&ModelEntry::rmsec);
    show_actives();
  }
  bprintf("\nWeighting models by Bayesian post.prob. (pi=%g, gam=%g):\n", pi, gam);
  set_keys(&ModelEntry::postprob);
  show_actives();
  if (modelspace.with_null) show_none_active();
}

}  // namespace bayescreen
