// Factor activity weights: for each factor, the summed weight of the models
// in which it counts as active, as a share of the total weight, under each
// weighting of the models.
#pragma once
#include <vector>

#include "engine/modelspace.h"
#include "engine/settings.h"

namespace bayescreen {

// The weightings of the factor tables, in the order of the report (the
// middle three only with -D).
enum class Weighting : int { Fstat, Likelihood, InvRmse2, InvRmsec2, PostProb };
constexpr int kWeightings = 5;

// The factor weights of one weighting, for every analysed column (blocks
// included, their entries 0): sums[f] is the summed weight of the models in
// which factor f counts as active, shares[f] its share of the total weight.
struct FactorWeights {
  bool computed = false;
  double total = 0;
  std::vector<double> sums;
  std::vector<double> shares;
};

// The tables of every weighting, and the posterior probability that no
// factor is active (that of the null model; NaN without it).
struct FactorWeightTables {
  FactorWeights by[kWeightings];
  double none_active = 0;
  const FactorWeights &operator[](Weighting w) const { return by[static_cast<int>(w)]; }
};

// The tables of the weightings the report shows (F statistic and posterior
// probability; with -D every one), or of every weighting with `all`.
// Models without a posterior and weights that are not numbers count 0.
FactorWeightTables factor_weight_tables(const Design &design, const Settings &settings,
                                        const ModelTable &models, bool all);

// One weighting's sums and shares. Plain quotients sums / total while the
// total is a finite normal double; otherwise (weights that underflow,
// overflow or are infinite) the shares come from the log weights.
FactorWeights factor_weights(const Design &design, const Settings &settings, const ModelTable &models,
                             Weighting w);

// The posterior probability that no factor is active (that of the null
// model), or NaN when the null model is not in the set.
double no_factor_active(const ModelTable &models);

// The name of a weighting in the result files: fstat, likelihood, inv_rmse2,
// inv_rmsec2, postprob.
const char *weighting_key(int w);

}  // namespace bayescreen
