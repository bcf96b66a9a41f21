// Least-squares fit, classical criteria, activity indicators and Box-Meyer
// posterior probability of every model.
#pragma once

namespace bayescreen {

extern int ninvalid;  // models whose X'X could not be inverted

// Fits every model of the model set in array order and fills its record;
// with -S (and -V) shows each fit on the screen and pauses after it.
void calc_model_fields();

// Posterior probabilities from the unnormalised weights: bval / total
// wherever that quotient can be formed; otherwise (total 0 or infinite
// because the weights under- or overflow) from the log weights, normalised
// after subtracting the largest. logb[i] is the log weight of model[i].
void normalise_postprob(const double *logb);

}  // namespace bayescreen
