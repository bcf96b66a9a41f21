// The model set: every 1-, 2- and 3-factor full-factorial submodel of the
// factors analysed, and small printing helpers for the step-through output.
#pragma once
#include <cstdint>

namespace bayescreen {

// One candidate submodel.
struct ModelEntry {
  int32_t num;        // enumeration number from 1; last tie-break of every sort
  int32_t nf;         // factors in the model: 1, 2 or 3
  int32_t neff;       // effect columns besides the intercept: 1, 3 or 7
  int32_t invalid;    // 1 when X'X could not be inverted; first sort key
  char name[8];       // factor letters, e.g. A, AB, ACD
  int32_t moff[5];    // design-column indices of the factors, then -1
  int32_t *ivals;     // per analysed factor: 1 when active in this model
  double rmse;        // root mean squared error of the least-squares fit
  double wt;          // current sort or weighting key
  double adjrsq;      // adjusted R-squared
  double fstat;       // F statistic of the regression
  double loglik;      // maximised Gaussian log likelihood
  double likelihood;  // exp(loglik)
  double rmsec;       // root mean squared error at the posterior mode
  double bval;        // unnormalised posterior model probability
  double postprob;    // posterior model probability
};

extern ModelEntry *model;  // the models, in enumeration order until sorted
extern int nmod;           // number of models
extern unsigned nxmod;     // capacity: number of models plus 3

// Builds model: the singles, pairs and triples of the first nv factors.
void init_models();
// Fills entry for the factors of columns i, j, k (-1 for none): letters,
// column list and a zeroed indicator array; a null entry does nothing.
void init_one_mod(ModelEntry *entry, int i, int j, int k);
// "Models and submodels (n=N):" and the model names, screen and log.
void show_model_names();
// Sets every model's sort or weighting key wt to its value of field.
void set_keys(double ModelEntry::*field);
// Prints a row-major matrix of doubles on the screen, one numbered line a row.
void showmat(const double *values, int nrows, int ncols);
// The factor letters / column digits of a -1-terminated column list, in a
// static buffer of each function's own.
const char *show_char_moff(const int32_t *list);
const char *show_int_moff(const int32_t *list);

}  // namespace bayescreen
