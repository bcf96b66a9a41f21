// Factor activity weights: for each factor, the summed weight of the models
// in which it counts as active, as a share of the total weight.
#pragma once
#include <vector>

namespace bayescreen {

extern double *pact;  // running sum per analysed factor

// The weightings of the factor tables, in the order of the report (the
// middle three only with -D).
enum class Weighting : int { Fstat, Likelihood, InvRmse2, InvRmsec2, PostProb };
constexpr int kWeightings = 5;

// The factor-weight tables of the run: weighted by F statistic and by
// posterior probability (with -D also by likelihood, 1/rmse^2, 1/rmsec^2).
void show_post_active();
// One weighting's table, from the current wt of every model. logwt[i], when
// given, is the natural log of model i's weight, computed where the weight
// itself under- or overflows; without it the log of wt is taken.
void show_actives(const double *logwt = nullptr);

// Sets every model's wt to its weight under the weighting w: the criterion,
// or 1/rmse^2, 1/rmsec^2. For the weightings whose weights may under- or
// overflow (likelihood, 1/rmse^2, 1/rmsec^2) logs receives every weight's
// natural log and its data is returned; otherwise null.
const double *set_weighting(Weighting w, std::vector<double> &logs);
// The sums and shares of one weighting, from the current wt of every model
// (and logwt as for show_actives): sums[f] for every analysed column f
// (f < nv) is the summed weight of the models in which factor f counts as
// active, shares[f] its share of the total weight, which is returned.
// Models without a posterior and weights that are not numbers count 0.
double factor_weights(const double *logwt, double *sums, double *shares);
// The posterior probability that no factor is active (that of the null
// model), or NaN when the null model is not in the set.
double no_factor_active();

}  // namespace bayescreen
