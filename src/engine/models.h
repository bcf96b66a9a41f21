// The model set: every full-factorial submodel of 1, 2 and 3 factors among
// the factors analysed, or, with the model-space options, every model of up
// to K factors holding its factors' interactions up to order R, any block
// columns, and the null model; and small printing helpers for the
// step-through output.
#pragma once
#include <cstdint>

#include "engine/settings.h"

namespace bayescreen {

// One candidate submodel.
struct ModelEntry {
  int32_t num;        // enumeration number from 1; last tie-break of every sort
  int32_t nf;         // factors screened in the model (0 for the null model)
  int32_t neff;       // effect columns besides the intercept (blocks included)
  int32_t invalid;    // 1 when X'X is singular; first sort key
  const char *name;   // factor letters, e.g. A, AB or ACD; "(null)" for the null model
  uint64_t fset;      // the model's factors: bit c for design column c
  uint64_t ivals;     // bit c set when the factor of design column c counts as active
  double rmse;        // root mean squared error of the least-squares fit
  double wt;          // current sort or weighting key
  double adjrsq;      // adjusted R-squared
  double fstat;       // F statistic of the regression
  double loglik;      // maximised Gaussian log likelihood
  double likelihood;  // exp(loglik)
  double rmsec;       // root mean squared error at the posterior mode
  double bval;        // unnormalised posterior model probability
  double logb;        // natural logarithm of the Box-Meyer weight bval
  double postprob;    // posterior model probability
  int32_t alias;      // alias group among the models listed (0: none)
};

extern ModelEntry *model;  // the models, in enumeration order
extern int nmod;           // number of models
extern unsigned nxmod;     // capacity: number of models plus 3


// True when the model set is the one every run uses without options.
bool default_model_space();
// Number of factors screened (the analysed columns after the blocks).
int screened_factors();
// C(n, k) for 0 <= n <= 64, saturating at UINT64_MAX; 0 outside 0 <= k <= n.
uint64_t binomial(int n, int k);
// Number of models in the model set, saturating at UINT64_MAX.
uint64_t count_models();
// Columns of the model matrix of a model of nf factors (intercept included).
int model_columns(int nf);

// Builds model: the model set in force, in enumeration order.
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
// The design columns of a factor set as a -1-terminated list; returns the count.
int column_list(uint64_t set, int32_t *list);
// The factor letters / column digits of a -1-terminated column list, in a
// static buffer of each function's own.
const char *show_char_moff(const int32_t *list);
const char *show_int_moff(const int32_t *list);
// Bit c of set tells whether design column c belongs to it.
inline bool has_column(uint64_t set, int c) { return (set >> c) & 1; }

}  // namespace bayescreen
