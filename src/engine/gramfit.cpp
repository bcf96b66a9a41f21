#include "engine/gramfit.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "engine/calcmodels.h"
#include "engine/models.h"
#include "engine/readdat.h"
#include "engine/settings.h"
#include "numeric/cholesky.h"
#include "support/helpers.h"
#include "support/showplaces.h"

namespace bayescreen {

namespace {

// A new column whose squared distance from the span of the columns before
// it (the pivot) exceeds this share of its squared length is clear of that
// span. Below it, rounding could hide an exactly singular X'X (it leaves
// such a pivot near 1e-15 of the length) or a nearly singular but regular
// one, and the exact test decides.
constexpr double kClearPivot = 1e-6;

// The factors of X'X + Gamma that a walk under several priors keeps at once
// take at most this many bytes; more priors take further walks.
constexpr size_t kPriorFactorBytes = size_t{64} << 20;

struct Path {
  int ld = 0;                  // row stride of the factors: the most columns of a model
  int first = 0;               // design column of the first screened factor (the blocks come before)
  int k = 0;                   // screened factors
  int largest = 0;             // most factors in a model
  double sst = 0;              // sum of squares of the centred response
  double *yc = nullptr;        // response minus its mean
  double *l = nullptr;         // Cholesky factor of X'X, row by row
  double *mg = nullptr;        // Cholesky factor of X'X + Gamma
  double *z = nullptr;         // L z = X'yc
  double *w = nullptr;         // M w = X'yc
  double *zsq = nullptr;       // sum of z_p^2 for p <= j
  double *wsq = nullptr;       // sum of w_p^2 for p <= j
  double *det = nullptr;       // product of M_pp^2 for p <= j
  double *logdet = nullptr;    // sum of log M_pp^2 for p <= j
  double *a = nullptr;         // cross products of the new column with columns 0 .. j
  double *xtx = nullptr;       // X'X of the columns of the path, row by row with stride ld
  uint64_t *mask = nullptr;    // design columns forming each column of the path
  // Models of main effects only: the cross products of the intercept (index
  // 0) and design column c (index c + 1), and their products with yc.
  double *gram = nullptr;
  double *gram_y = nullptr;
  int gram_size = 0;
  // Models with interactions: the columns of the path as vectors; in a
  // design whose analysed entries are all -1 or 1, as signs instead, whose
  // cross products are sums of integers (exact in doubles as well, so the
  // same numbers, formed faster).
  double *vec = nullptr;
  int8_t *signs = nullptr;
  int8_t *levels = nullptr;    // the analysed design columns as signs, column by column
  int32_t pick[65] = {};       // the current model's factors, 0-based among the screened ones
  int32_t offset[66] = {};     // enumeration index of the first model of each size
};
Path path;

int32_t design(int r, int col) {
  return ximat[static_cast<size_t>(r) * static_cast<size_t>(mm) + static_cast<size_t>(col)];
}

double *doubles(size_t n) { return static_cast<double *>(cxalloc(n + 3, sizeof(double))); }

// Lexicographic rank of the t-subset c[0] < ... < c[t-1] of 0 .. k-1:
//   sum_i [C(k - c[i-1] - 1, t - i) - C(k - c[i], t - i)], c[-1] = -1,
// the number of t-subsets that come before it (each term counts those that
// agree on the first i entries and have a smaller entry i).
uint64_t lex_rank(const int32_t *c, int t, int k) {
  uint64_t rank = 0;
  int before = -1;
  for (int i = 0; i < t; i++) {
    rank += binomial(k - before - 1, t - i) - binomial(k - c[i], t - i);
    before = c[i];
  }
  return rank;
}

// The cross products of the new column j (design columns in m) with the
// columns 0 .. j-1 of the path and with itself, into path.a; returns its
// cross product with yc.
double cross_products(int j, uint64_t m) {
  if (path.gram != nullptr) {
    // A main effect, the intercept or a block: one design column (or none).
    const int n = path.gram_size;
    const int index = m == 0 ? 0 : __builtin_ctzll(m) + 1;
    for (int i = 0; i <= j; i++) {
      const int other = i == j ? index : (path.mask[i] == 0 ? 0 : __builtin_ctzll(path.mask[i]) + 1);
      path.a[i] = path.gram[index * n + other];
    }
    return path.gram_y[index];
  }
  if (path.signs != nullptr) {
    // Local copies: stores through int8_t pointers could alias any global.
    const int n = nn;
    const size_t stride = static_cast<size_t>(n);
    int8_t *__restrict v = &path.signs[static_cast<size_t>(j) * stride];
    for (int r = 0; r < n; r++) v[r] = 1;
    for (uint64_t bits = m; bits != 0; bits &= bits - 1) {
      const int8_t *__restrict level = &path.levels[static_cast<size_t>(__builtin_ctzll(bits)) * stride];
      for (int r = 0; r < n; r++) v[r] = static_cast<int8_t>(v[r] * level[r]);
    }
    for (int i = 0; i <= j; i++) {
      const int8_t *__restrict u = &path.signs[static_cast<size_t>(i) * stride];
      int32_t sum = 0;
      for (int r = 0; r < n; r++) sum += u[r] * v[r];
      path.a[i] = static_cast<double>(sum);
    }
    const double *yc = path.yc;
    double sum = 0;
    for (int r = 0; r < n; r++) sum += v[r] * yc[r];
    return sum;
  }
  double *v = &path.vec[static_cast<size_t>(j) * static_cast<size_t>(nn)];
  for (int r = 0; r < nn; r++) {
    double product = 1;
    for (uint64_t bits = m; bits != 0; bits &= bits - 1) product *= design(r, __builtin_ctzll(bits));
    v[r] = product;
  }
  for (int i = 0; i <= j; i++) {
    const double *u = &path.vec[static_cast<size_t>(i) * static_cast<size_t>(nn)];
    double sum = 0;
    for (int r = 0; r < nn; r++) sum += u[r] * v[r];
    path.a[i] = sum;
  }
  double sum = 0;
  for (int r = 0; r < nn; r++) sum += v[r] * path.yc[r];
  return sum;
}

[[noreturn]] void cannot_invert(int nc) {
  printf("\nCANNOT INVERT the %dx%d MATRIX %s !\n", nc, nc, "XTXG");
  exit(1);
}

// The column counts of a model of t factors whose columns are the first nc
// of the path: the blocks and main effects, then the interactions.
BoxMeyerTerms model_terms(int t, int nc) {
  BoxMeyerTerms terms;
  terms.nf = t;
  terms.n_main = modelspace.blocks + t;
  terms.n_int = nc - 1 - terms.n_main;
  return terms;
}

// Qqc from the factor of X'X + Gamma: sum (y - ybar)^2 - |w|^2, never below 0.
double posterior_qqc(double wsq) { return path.sst > wsq ? path.sst - wsq : 0.0; }

// The record of the model with t factors (path.pick).
ModelEntry &path_model(int t) {
  const uint64_t index = static_cast<uint64_t>(path.offset[t]) + lex_rank(path.pick, t, path.k);
  return model[index];
}

// The fits of the run: both factors, the criteria and the weight under the
// run's prior, into each model's record.
struct FitWalk {
  // Appends column j (design columns in m) to the path: a row of each factor
  // and a step of each forward substitution. Returns whether X'X is singular
  // from this column on (it stays so for every model that holds the column).
  bool append_column(int j, uint64_t m, bool singular) {
    path.mask[j] = m;
    const double b = cross_products(j, m);
    const double length = path.a[j];
    for (int i = 0; i <= j; i++) path.xtx[i * path.ld + j] = path.xtx[j * path.ld + i] = path.a[i];
    if (!singular) {
      const double d = cholesky_append_row(path.l, path.ld, j, path.a);
      // A pivot that is not positive leaves no factor to go on with, whatever
      // the exact test would say.
      if (!(d > kClearPivot * length) &&
          (!(d > 0) || xtx_exactly_singular(path.xtx, path.ld, path.mask, j + 1))) {
        singular = true;
      } else {
        path.z[j] = cholesky_forward_step(path.l, path.ld, j, path.z, b);
        path.zsq[j] = (j > 0 ? path.zsq[j - 1] : 0) + path.z[j] * path.z[j];
      }
    }
    if (!singular || modelspace.keep_aliased) {
      if (j > 0) {
        const double g = column_gamma(m);
        path.a[j] += 1 / (g * g);
      }
      const double d = cholesky_append_row(path.mg, path.ld, j, path.a);
      if (!(d > 0)) cannot_invert(j + 1);
      path.w[j] = cholesky_forward_step(path.mg, path.ld, j, path.w, b);
      path.wsq[j] = (j > 0 ? path.wsq[j - 1] : 0) + path.w[j] * path.w[j];
      path.det[j] = (j > 0 ? path.det[j - 1] : 1) * d;
      path.logdet[j] = (j > 0 ? path.logdet[j - 1] : 0) + log(d);
    }
    return singular;
  }

  // Fills the record of the model with t factors (path.pick) whose columns
  // are the first nc of the path.
  void record_model(int t, int nc, bool singular) {
    ModelEntry &m = path_model(t);
    if (singular) {
      m.invalid = 1;
      ninvalid++;
      if (!modelspace.keep_aliased) {
        m.logb = -INFINITY;
        return;
      }
      m.adjrsq = m.fstat = m.rmse = m.loglik = m.likelihood = NAN;
    } else {
      const double ssm = path.zsq[nc - 1];
      const double sse = path.sst > ssm ? path.sst - ssm : 0.0;
      classical_criteria(m, sse, ssm, nc);
    }
    m.ivals = m.fset;
    const double qqc = posterior_qqc(path.wsq[nc - 1]);
    m.rmsec = sqrt(qqc / (static_cast<double>(nn) - nc));
    BoxMeyerTerms terms = model_terms(t, nc);
    terms.det = path.det[nc - 1];
    terms.logdet = path.logdet[nc - 1];
    terms.qqc = qqc;
    box_meyer_weight(terms, &m.bval, &m.logb);
  }
};

// The Box-Meyer weights of the models that take part in the posterior
// under several priors at once. The cross products of each new column are
// formed once; each prior keeps its own factor M M' = X'X + Gamma and its
// own forward substitution M w = X'yc, grown along the same path. The
// least-squares factor is not needed: which models take part comes from
// their records.
struct PriorWalk {
  const BoxMeyerPrior *priors = nullptr;
  int count = 0;                  // priors in this walk
  int first = 0;                  // index of priors[0] among all the priors
  const PriorWeightSink *each = nullptr;
  // Per prior, interleaved (entry of prior p at [index * count + p]):
  double *mg = nullptr;           // the factors M, ld x ld
  double *w = nullptr;            // M w = X'yc, ld entries
  double *wsq = nullptr;          // sum of w_q^2 for q <= j
  double *det = nullptr;          // product of M_qq^2 for q <= j
  uint8_t *ok = nullptr;          // rows 0 .. j of M all have a positive pivot
  // Per prior, one entry each:
  double *main_precision = nullptr;         // 1/g^2 of blocks and main effects
  double *interaction_precision = nullptr;  // 1/g^2 of interactions
  double *diag = nullptr;         // the diagonal entry of the new column of X'X + Gamma
  double *pivot = nullptr;        // the pivots of the new row
  double *logb = nullptr;         // the weights of the current model

  // The prior precisions of each prior, as the fits form them.
  void set_priors(const BoxMeyerPrior *all, int from, int n) {
    priors = all + from;
    first = from;
    count = n;
    for (int p = 0; p < n; p++) {
      const double g = priors[p].gam;
      const double gi = interaction_gamma(priors[p]);
      main_precision[p] = 1 / (g * g);
      interaction_precision[p] = 1 / (gi * gi);
    }
  }

  bool append_column(int j, uint64_t m, bool singular) {
    path.mask[j] = m;
    const double b = cross_products(j, m);
    const size_t n = static_cast<size_t>(count);
    const double *precision = interaction_column(m) ? interaction_precision : main_precision;
    for (size_t p = 0; p < n; p++) diag[p] = j > 0 ? path.a[j] + precision[p] : path.a[j];
    cholesky_append_row_interleaved(mg, path.ld, count, j, path.a, diag, pivot);
    cholesky_forward_step_interleaved(mg, path.ld, count, j, w, b);
    const size_t at = static_cast<size_t>(j) * n;
    for (size_t p = 0; p < n; p++) {
      ok[at + p] = pivot[p] > 0 && (j == 0 || ok[at - n + p]);
      wsq[at + p] = (j > 0 ? wsq[at - n + p] : 0) + w[at + p] * w[at + p];
      det[at + p] = (j > 0 ? det[at - n + p] : 1) * pivot[p];
    }
    return singular;
  }

  // log det(X'X + Gamma) of prior p for the first nc columns: the log of
  // the product when it is a normal number, else the sum of the logs of
  // the pivots M_qq^2 (a product that under- or overflows).
  double log_determinant(int p, int nc) const {
    const size_t n = static_cast<size_t>(count);
    const double product = det[static_cast<size_t>(nc - 1) * n + static_cast<size_t>(p)];
    if (product >= DBL_MIN && product <= DBL_MAX) return log(product);
    double sum = 0;
    for (int q = 0; q < nc; q++) {
      const double mqq = mg[(static_cast<size_t>(q) * static_cast<size_t>(path.ld) + static_cast<size_t>(q)) * n + static_cast<size_t>(p)];
      sum += 2 * log(mqq);
    }
    return sum;
  }

  void record_model(int t, int nc, bool) {
    const ModelEntry &m = path_model(t);
    if (!has_posterior(m)) return;
    BoxMeyerTerms terms = model_terms(t, nc);
    const size_t at = static_cast<size_t>(nc - 1) * static_cast<size_t>(count);
    for (int p = 0; p < count; p++) {
      if (!ok[at + static_cast<size_t>(p)]) cannot_invert(nc);
      terms.logdet = log_determinant(p, nc);
      terms.qqc = posterior_qqc(wsq[at + static_cast<size_t>(p)]);
      logb[p] = box_meyer_log_weight(terms, priors[p]);
    }
    (*each)(m, first, count, logb);
  }
};

// Extends the model of t factors (path.pick[0 .. t-1], its columns the first
// nc of the path) by each larger factor in turn, depth first.
template <class Walk>
void visit(Walk &walk, int t, int nc, bool singular) {
  if (t == path.largest) return;
  const int from = t > 0 ? path.pick[t - 1] + 1 : 0;
  int32_t sub[65];
  for (int f = from; f < path.k; f++) {
    path.pick[t] = f;
    const uint64_t factor = uint64_t{1} << (path.first + f);
    // The new factor's columns: its main effect, then its interactions with
    // u of the earlier factors, u = 1 .. order-1, in lexicographic order.
    int j = nc;
    bool now_singular = singular || nn < model_columns(t + 1);
    for (int u = 0; u < modelspace.order && u <= t; u++) {
      for (int p = 0; p < u; p++) sub[p] = p;
      for (;;) {
        uint64_t m = factor;
        for (int p = 0; p < u; p++) m |= uint64_t{1} << (path.first + path.pick[sub[p]]);
        now_singular = walk.append_column(j++, m, now_singular);
        int p = u - 1;
        while (p >= 0 && sub[p] == t - u + p) p--;
        if (p < 0) break;
        sub[p]++;
        for (int q = p + 1; q < u; q++) sub[q] = sub[q - 1] + 1;
      }
    }
    walk.record_model(t + 1, j, now_singular);
    visit(walk, t + 1, j, now_singular);
  }
}

// The whole model set: the root (the intercept and the blocks, the null
// model's columns), the null model when it is in the set, then every model
// depth first.
template <class Walk>
void walk_model_set(Walk &walk) {
  const int root = 1 + modelspace.blocks;
  bool singular = nn < root;
  for (int j = 0; j < root; j++)
    singular = walk.append_column(j, j == 0 ? 0 : uint64_t{1} << (j - 1), singular);
  if (modelspace.with_null) walk.record_model(0, root, singular);
  visit(walk, 0, root, singular);
}

void allocate_path() {
  for (void *p : {static_cast<void *>(path.yc), static_cast<void *>(path.l),
                  static_cast<void *>(path.mg), static_cast<void *>(path.z),
                  static_cast<void *>(path.w), static_cast<void *>(path.zsq),
                  static_cast<void *>(path.wsq), static_cast<void *>(path.det),
                  static_cast<void *>(path.logdet), static_cast<void *>(path.a),
                  static_cast<void *>(path.xtx),
                  static_cast<void *>(path.mask), static_cast<void *>(path.gram),
                  static_cast<void *>(path.gram_y), static_cast<void *>(path.vec),
                  static_cast<void *>(path.signs), static_cast<void *>(path.levels)})
    free(p);
  path = Path();
  path.first = modelspace.blocks;
  path.k = screened_factors();
  path.largest = modelspace.max_factors < path.k ? modelspace.max_factors : path.k;
  path.ld = model_columns(path.largest);
  const size_t ld = static_cast<size_t>(path.ld);
  path.yc = doubles(static_cast<size_t>(nn));
  path.l = doubles(ld * ld);
  path.mg = doubles(ld * ld);
  path.xtx = doubles(ld * ld);
  for (double **v : {&path.z, &path.w, &path.zsq, &path.wsq, &path.det, &path.logdet, &path.a})
    *v = doubles(ld);
  path.mask = static_cast<uint64_t *>(cxalloc(ld + 3, sizeof(uint64_t)));
  if (modelspace.order == 1) {
    path.gram_size = nv + 1;
    const size_t n = static_cast<size_t>(path.gram_size);
    path.gram = doubles(n * n);
    path.gram_y = doubles(n);
  } else {
    bool two_level = true;
    for (int r = 0; r < nn && two_level; r++)
      for (int c = 0; c < nv; c++)
        if (design(r, c) != 1 && design(r, c) != -1) {
          two_level = false;
          break;
        }
    if (two_level) {
      path.signs = static_cast<int8_t *>(cxalloc(ld * static_cast<size_t>(nn) + 3, 1));
      path.levels = static_cast<int8_t *>(cxalloc(static_cast<size_t>(nv) * static_cast<size_t>(nn) + 3, 1));
      for (int c = 0; c < nv; c++)
        for (int r = 0; r < nn; r++)
          path.levels[static_cast<size_t>(c) * static_cast<size_t>(nn) + static_cast<size_t>(r)] =
              static_cast<int8_t>(design(r, c));
    } else {
      path.vec = doubles(ld * static_cast<size_t>(nn));
    }
  }
}

// The centred response, and with main effects only, every cross product
// of the intercept and the analysed columns.
void prepare_path() {
  double sum = 0;
  for (int r = 0; r < nn; r++) sum += yy[r];
  const double ybar = sum / nn;
  path.sst = 0;
  for (int r = 0; r < nn; r++) {
    path.yc[r] = yy[r] - ybar;
    path.sst += path.yc[r] * path.yc[r];
  }
  if (path.gram != nullptr) {
    const int n = path.gram_size;
    auto value = [](int index, int r) -> double {
      return index == 0 ? 1.0 : static_cast<double>(design(r, index - 1));
    };
    for (int i = 0; i < n; i++) {
      for (int j = i; j < n; j++) {
        double s = 0;
        for (int r = 0; r < nn; r++) s += value(i, r) * value(j, r);
        path.gram[i * n + j] = path.gram[j * n + i] = s;
      }
      double s = 0;
      for (int r = 0; r < nn; r++) s += value(i, r) * path.yc[r];
      path.gram_y[i] = s;
    }
  }
  int32_t at = modelspace.with_null ? 1 : 0;
  for (int t = 1; t <= path.largest; t++) {
    path.offset[t] = at;
    at += static_cast<int32_t>(binomial(path.k, t));
  }
}

}  // namespace

bool gram_fit_applies() { return !default_model_space() && !showstep && alpha >= 1; }

void gram_fit_models() {
  PlaceGuard place("Gram_Fit_Models");
  allocate_path();
  prepare_path();
  FitWalk walk;
  walk_model_set(walk);
}

void gram_prior_weights(const BoxMeyerPrior *priors, int count, const PriorWeightSink &each) {
  PlaceGuard place("Gram_Prior_Weights");
  allocate_path();
  prepare_path();
  const size_t ld = static_cast<size_t>(path.ld);
  const size_t factor_bytes = ld * ld * sizeof(double);
  int batch = count;
  if (factor_bytes * static_cast<size_t>(count) > kPriorFactorBytes)
    batch = kPriorFactorBytes >= factor_bytes ? static_cast<int>(kPriorFactorBytes / factor_bytes) : 1;
  const size_t n = static_cast<size_t>(batch);
  PriorWalk walk;
  walk.each = &each;
  walk.mg = doubles(n * ld * ld);
  walk.w = doubles(n * ld);
  walk.wsq = doubles(n * ld);
  walk.det = doubles(n * ld);
  walk.ok = static_cast<uint8_t *>(cxalloc(n * ld + 3, 1));
  walk.main_precision = doubles(n);
  walk.interaction_precision = doubles(n);
  walk.diag = doubles(n);
  walk.pivot = doubles(n);
  walk.logb = doubles(n);
  for (int first = 0; first < count; first += batch) {
    walk.set_priors(priors, first, count - first < batch ? count - first : batch);
    walk_model_set(walk);
  }
  for (void *p : {static_cast<void *>(walk.mg), static_cast<void *>(walk.w),
                  static_cast<void *>(walk.wsq), static_cast<void *>(walk.det),
                  static_cast<void *>(walk.ok), static_cast<void *>(walk.main_precision),
                  static_cast<void *>(walk.interaction_precision), static_cast<void *>(walk.diag),
                  static_cast<void *>(walk.pivot), static_cast<void *>(walk.logb)})
    free(p);
}

}  // namespace bayescreen
