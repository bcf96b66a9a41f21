// Factor activity weights: for each factor, the summed weight of the models
// in which it counts as active, as a share of the total weight.
#pragma once

namespace bayescreen {

extern double *pact;  // running sum per analysed factor

void show_post_active();
// One weighting's table, from the current wt of every model.
void show_actives();

}  // namespace bayescreen
