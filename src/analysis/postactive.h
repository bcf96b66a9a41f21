// Factor activity weights: for each factor, the summed weight of the models
// in which it counts as active, as a share of the total weight.
#pragma once

namespace bayescreen {

extern double *pact;  // running sum per analysed factor

// The factor-weight tables of the run: weighted by F statistic and by
// posterior probability (with -D also by likelihood, 1/rmse^2, 1/rmsec^2).
void show_post_active();
// One weighting's table, from the current wt of every model. logwt[i], when
// given, is the natural log of model i's weight, computed where the weight
// itself under- or overflows; without it the log of wt is taken.
void show_actives(const double *logwt = nullptr);

}  // namespace bayescreen
