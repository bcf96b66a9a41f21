// Fits of large model sets from cross products, one factor at a time.
//
// The models are visited depth first, each model's factors extended by one
// larger factor at a time, so that a model's columns are those of its parent
// followed by the columns the new factor brings (its main effect and its
// interactions with the parent's factors up to the model-space order). The
// Cholesky factors of X'X and of X'X + Gamma then grow by rows: the parent's
// rows stay as they are and only the new rows are computed, from the cross
// products of the new columns. From the factors:
//   SSM = |z|^2 with L z = X'(y - ybar), SSE = sum (y - ybar)^2 - SSM,
//   Qqc = sum (y - ybar)^2 - |w|^2 with M w = X'(y - ybar),
//   det(X'X + Gamma) = prod_j M_jj^2,
// where L L' = X'X and M M' = X'X + Gamma (centring y changes neither SSE
// nor Qqc, as the intercept is in every model and carries no prior
// precision). Each model costs a few rows of forward substitution instead of
// a pass over the runs and a decomposition, which makes model sets of a
// million models a matter of a fraction of a second.
//
// The criteria and the Box-Meyer weight then come from the same formulas as
// the fits of calcmodels. The models are written at their enumeration
// positions, so every report is the same as with those fits.
//
// The same walk gives the Box-Meyer weights of every model under other
// priors (the prior grids): the cross products of each new column are
// formed once and shared by the factors of X'X + Gamma of all the priors,
// which are grown side by side; the least-squares factor is not needed.
#pragma once
#include "support/functionref.h"

#include "engine/calcmodels.h"
#include "engine/modelspace.h"

namespace bayescreen {

// True when this path fits the models of the settings: model sets other
// than the plain one, without t-tests (alpha < 1).
bool gram_fit_applies(const Settings &settings);

// Fits every model of the table into its record; singular models get
// invalid = 1 and, unless --keep-aliased, nothing else.
void gram_fit_models(const Design &design, const Settings &settings, ModelTable &models);

// Receives the log Box-Meyer weights of one model under the priors first ..
// first + count - 1 of a call of gram_prior_weights, logb[0 .. count-1].
using PriorWeightSink =
    FunctionRef<void(const ModelEntry &m, int first, int count, const double *logb)>;

// The log Box-Meyer weight (logb) of every model of the fitted table that
// takes part in the posterior (has_posterior) under each of count priors,
// from the cross products, which are formed once for all of them; the
// least-squares fits are not redone. Each model reaches `each` once per
// batch of priors (all count at once unless their factors would take more
// than 64 MB), in the order of the walk. Throws the fits' error when
// X'X + Gamma cannot be factored. With first_factor f >= 0 only the models
// whose first screened factor is f (and, for f = 0, the null model) are
// visited: the walks of f = 0 .. k-1 in turn visit the models in the order
// of the whole walk, and each model's weights are the same numbers, so the
// walks may run on threads of their own.
void gram_prior_weights(const Design &design, const Settings &settings, const ModelTable &models,
                        const BoxMeyerPrior *priors, int count, const PriorWeightSink &each,
                        int first_factor = -1);

}  // namespace bayescreen
