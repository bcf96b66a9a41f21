// The model space: every model of 1 to K of the screened factors (each
// holding its factors' interactions up to order R, and any block columns),
// the null model with --null; their numbering, their effect columns and the
// table of model records the fits fill. The default space is every 1-, 2-
// and 3-factor full factorial of the factors analysed.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/design.h"
#include "engine/settings.h"

namespace bayescreen {

// One model of the set and its fit.
struct ModelEntry {
  int32_t num = 0;          // enumeration number from 1; last tie-break of every sort
  int32_t nf = 0;           // factors screened in the model (0 for the null model)
  int32_t neff = 0;         // effect columns besides the intercept (blocks included)
  int32_t invalid = 0;      // 1 when X'X is singular
  const char *name = "";    // factor letters, e.g. A, AB or ACD; "(null)" for the null model
  uint64_t fset = 0;        // the model's factors: bit c for design column c
  uint64_t ivals = 0;       // bit c set when the factor of design column c counts as active
  double rmse = 0;          // root mean squared error of the least-squares fit
  double adjrsq = 0;        // adjusted R-squared
  double fstat = 0;         // F statistic of the regression
  double loglik = 0;        // maximised Gaussian log likelihood
  double likelihood = 0;    // exp(loglik)
  double rmsec = 0;         // root mean squared error at the posterior mode
  double bval = 0;          // unnormalised posterior model probability
  double logb = 0;          // natural logarithm of the Box-Meyer weight bval
  double postprob = 0;      // posterior model probability
  int32_t alias = 0;        // alias group among the models listed (0: none)
};

// The models of a set in enumeration order, owning their names.
class ModelTable {
 public:
  ModelTable() = default;
  ModelTable(ModelTable &&) = default;
  ModelTable &operator=(ModelTable &&) = default;
  ModelTable(const ModelTable &) = delete;
  ModelTable &operator=(const ModelTable &) = delete;

  int size() const { return static_cast<int>(models_.size()); }
  ModelEntry &operator[](int i) { return models_[static_cast<size_t>(i)]; }
  const ModelEntry &operator[](int i) const { return models_[static_cast<size_t>(i)]; }
  std::vector<ModelEntry>::iterator begin() { return models_.begin(); }
  std::vector<ModelEntry>::iterator end() { return models_.end(); }
  std::vector<ModelEntry>::const_iterator begin() const { return models_.begin(); }
  std::vector<ModelEntry>::const_iterator end() const { return models_.end(); }

  int invalid = 0;  // models whose X'X is singular ("ninvalid")

 private:
  friend ModelTable build_model_table(const Design &, const ModelSpace &);
  std::vector<ModelEntry> models_;
  std::unique_ptr<char[]> names_;  // every name, each after the other with its terminator
};

// C(n, k) for 0 <= n <= 64, saturating at UINT64_MAX; 0 outside 0 <= k <= n.
uint64_t binomial(int n, int k);

// Calls visit(pick) for every t-subset pick[0] < ... < pick[t-1] of
// 0 .. n-1, in lexicographic order (t = 0: once, with no entries). The one
// enumeration of subsets of the engine: the models of a size, the
// interaction columns of a model, the columns a new factor brings.
template <class Visit>
void for_each_subset(int n, int t, Visit &&visit) {
  int32_t pick[65];
  if (t > n || t < 0) return;
  for (int p = 0; p < t; p++) pick[p] = p;
  for (;;) {
    visit(static_cast<const int32_t *>(pick));
    int p = t - 1;
    while (p >= 0 && pick[p] == n - t + p) p--;
    if (p < 0) return;
    pick[p]++;
    for (int q = p + 1; q < t; q++) pick[q] = pick[q - 1] + 1;
  }
}

// Lexicographic rank of the t-subset c[0] < ... < c[t-1] of 0 .. k-1 (its
// position among the t-subsets for_each_subset visits, from 0):
//   sum_i [C(k - c[i-1] - 1, t - i) - C(k - c[i], t - i)],  c[-1] = -1,
// each term counting the subsets that agree on the first i entries and have
// a smaller entry i.
uint64_t subset_rank(const int32_t *c, int t, int k);

// Number of factors screened: the analysed columns after the blocks.
int screened_factors(const Design &design, const ModelSpace &space);
// The most factors a model of the set has: K, or the factors screened.
int largest_model_size(const Design &design, const ModelSpace &space);
// Number of models in the set, saturating at UINT64_MAX.
uint64_t count_models(const Design &design, const ModelSpace &space);
// Columns of the model matrix of a model of nf factors (intercept included).
int model_columns(const ModelSpace &space, int nf);

// The model set in force, in enumeration order: the null model first (with
// --null), then the models of 1, 2, ... K factors, each size in
// lexicographic order of the factors' columns.
ModelTable build_model_table(const Design &design, const ModelSpace &space);

// The design columns of a factor set as a -1-terminated list; returns the count.
int column_list(uint64_t set, int32_t *list);
// Bit c of set tells whether design column c belongs to it.
inline bool has_column(uint64_t set, int c) { return (set >> c) & 1; }

// The effect columns of the model matrix of a model, as masks of design
// columns (the intercept, mask 0, first): the blocks, the main effects, then
// the interactions of each order up to the model-space order, each order in
// lexicographic order of the factors. Returns the number of columns.
int model_column_masks(const ModelSpace &space, const ModelEntry &m, uint64_t *masks);

// The factors (never the blocks) among the design columns of mask.
uint64_t factors_of(const ModelSpace &space, uint64_t mask);

}  // namespace bayescreen
