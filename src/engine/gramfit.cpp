#include "engine/gramfit.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/calcmodels.h"
#include "engine/modelspace.h"
#include "numeric/cholesky.h"
#include "support/error.h"
#include "support/parallel.h"
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

// The walk's state: the columns of the current path of models and the
// factors and substitutions grown along it.
struct Path {
  Path(const Design &d, const Settings &s, const ModelTable &table)
      : design(d), space(s.model_space), prior(prior_of(s)), models(table), nn(d.runs) {}

  const Design &design;
  const ModelSpace &space;
  const BoxMeyerPrior prior;
  const ModelTable &models;
  const int nn;                // runs
  int ld = 0;                  // row stride of the factors: the most columns of a model
  int first = 0;               // design column of the first screened factor (the blocks come before)
  int k = 0;                   // screened factors
  int largest = 0;             // most factors in a model
  double sst = 0;              // sum of squares of the centred response
  std::vector<double> yc;      // response minus its mean
  std::vector<double> l;       // Cholesky factor of X'X, row by row
  std::vector<double> mg;      // Cholesky factor of X'X + Gamma
  std::vector<double> z;       // L z = X'yc
  std::vector<double> w;       // M w = X'yc
  std::vector<double> zsq;     // sum of z_p^2 for p <= j
  std::vector<double> wsq;     // sum of w_p^2 for p <= j
  std::vector<double> det;     // product of M_pp^2 for p <= j
  std::vector<double> logdet;  // sum of log M_pp^2 for p <= j
  std::vector<double> a;       // cross products of the new column with columns 0 .. j
  std::vector<double> xtx;     // X'X of the columns of the path, row by row with stride ld
  std::vector<uint64_t> mask;  // design columns forming each column of the path
  // Models of main effects only: the cross products of the intercept (index
  // 0) and design column c (index c + 1), and their products with yc.
  std::vector<double> gram;
  std::vector<double> gram_y;
  int gram_size = 0;
  // Models with interactions: the columns of the path as vectors; in a
  // design whose analysed entries are all -1 or 1, as signs instead, whose
  // cross products are sums of integers (exact in doubles as well, so the
  // same numbers, formed faster).
  std::vector<double> vec;
  std::vector<int8_t> signs;
  std::vector<int8_t> levels;  // the analysed design columns as signs, column by column
  int32_t pick[65] = {};       // the current model's factors, 0-based among the screened ones
  int32_t offset[66] = {};     // enumeration index of the first model of each size

  int32_t entry(int r, int col) const { return design.entry(r, col); }
};

// The cross products of the new column j (design columns in m) with the
// columns 0 .. j-1 of the path and with itself, into path.a; returns its
// cross product with yc.
double cross_products(Path &path, int j, uint64_t m) {
  if (!path.gram.empty()) {
    // A main effect, the intercept or a block: one design column (or none).
    const int n = path.gram_size;
    const int index = m == 0 ? 0 : __builtin_ctzll(m) + 1;
    for (int i = 0; i <= j; i++) {
      const int other = i == j ? index : (path.mask[i] == 0 ? 0 : __builtin_ctzll(path.mask[i]) + 1);
      path.a[i] = path.gram[index * n + other];
    }
    return path.gram_y[index];
  }
  if (!path.signs.empty()) {
    // Local copies: stores through int8_t pointers could alias anything.
    const int n = path.nn;
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
    const double *yc = path.yc.data();
    double sum = 0;
    for (int r = 0; r < n; r++) sum += v[r] * yc[r];
    return sum;
  }
  const int nn = path.nn;
  double *v = &path.vec[static_cast<size_t>(j) * static_cast<size_t>(nn)];
  for (int r = 0; r < nn; r++) {
    double product = 1;
    for (uint64_t bits = m; bits != 0; bits &= bits - 1) product *= path.entry(r, __builtin_ctzll(bits));
    v[r] = product;
  }
  for (int i = 0; i <= j; i++) {
    const double *u = &path.vec[static_cast<size_t>(i) * static_cast<size_t>(nn)];
    double sum = 0;
    for (int r = 0; r < nn; r++) sum += u[r] * v[r];
    path.a[static_cast<size_t>(i)] = sum;
  }
  double sum = 0;
  for (int r = 0; r < nn; r++) sum += v[r] * path.yc[static_cast<size_t>(r)];
  return sum;
}

[[noreturn]] void cannot_invert(int nc) {
  char message[80];
  snprintf(message, sizeof message, "\nCANNOT INVERT the %dx%d MATRIX %s !\n", nc, nc, "XTXG");
  throw Error(message);
}

// The column counts of a model of t factors whose columns are the first nc
// of the path: the blocks and main effects, then the interactions.
BoxMeyerTerms model_terms(const Path &path, int t, int nc) {
  BoxMeyerTerms terms;
  terms.runs = path.nn;
  terms.nf = t;
  terms.n_main = path.space.blocks + t;
  terms.n_int = nc - 1 - terms.n_main;
  return terms;
}

// Qqc from the factor of X'X + Gamma: sum (y - ybar)^2 - |w|^2, never below 0.
double posterior_qqc(const Path &path, double wsq) { return path.sst > wsq ? path.sst - wsq : 0.0; }

// The position in the table of the model with t factors (path.pick).
int path_model(const Path &path, int t) {
  return static_cast<int>(static_cast<uint64_t>(path.offset[t]) + subset_rank(path.pick, t, path.k));
}

// The fits of the run: both factors, the criteria and the weight under the
// run's prior, into each model's record.
struct FitWalk {
  Path &path;
  ModelTable &models;

  // Appends column j (design columns in m) to the path: a row of each factor
  // and a step of each forward substitution. Returns whether X'X is singular
  // from this column on (it stays so for every model that holds the column).
  bool append_column(int j, uint64_t m, bool singular) {
    const size_t at = static_cast<size_t>(j), ld = static_cast<size_t>(path.ld);
    path.mask[at] = m;
    const double b = cross_products(path, j, m);
    const double length = path.a[at];
    for (size_t i = 0; i <= at; i++) path.xtx[i * ld + at] = path.xtx[at * ld + i] = path.a[i];
    if (!singular) {
      const double d = cholesky_append_row(path.l.data(), path.ld, j, path.a.data());
      // A pivot that is not positive leaves no factor to go on with, whatever
      // the exact test would say.
      if (!(d > kClearPivot * length) &&
          (!(d > 0) ||
           xtx_exactly_singular(path.design, path.xtx.data(), path.ld, path.mask.data(), j + 1))) {
        singular = true;
      } else {
        path.z[at] = cholesky_forward_step(path.l.data(), path.ld, j, path.z.data(), b);
        path.zsq[at] = (j > 0 ? path.zsq[at - 1] : 0) + path.z[at] * path.z[at];
      }
    }
    if (!singular || path.space.keep_aliased) {
      if (j > 0) {
        const double g = column_gamma(path.space, m, path.prior);
        path.a[at] += 1 / (g * g);
      }
      const double d = cholesky_append_row(path.mg.data(), path.ld, j, path.a.data());
      if (!(d > 0)) cannot_invert(j + 1);
      path.w[at] = cholesky_forward_step(path.mg.data(), path.ld, j, path.w.data(), b);
      path.wsq[at] = (j > 0 ? path.wsq[at - 1] : 0) + path.w[at] * path.w[at];
      path.det[at] = (j > 0 ? path.det[at - 1] : 1) * d;
      path.logdet[at] = (j > 0 ? path.logdet[at - 1] : 0) + log(d);
    }
    return singular;
  }

  // Fills the record of the model with t factors (path.pick) whose columns
  // are the first nc of the path.
  void record_model(int t, int nc, bool singular) {
    ModelEntry &m = models[path_model(path, t)];
    const size_t last = static_cast<size_t>(nc - 1);
    if (singular) {
      m.invalid = 1;
      if (!path.space.keep_aliased) {
        m.logb = -INFINITY;
        return;
      }
      m.adjrsq = m.fstat = m.rmse = m.loglik = m.likelihood = NAN;
    } else {
      const double ssm = path.zsq[last];
      const double sse = path.sst > ssm ? path.sst - ssm : 0.0;
      classical_criteria(path.nn, m, sse, ssm, nc);
    }
    m.ivals = m.fset;
    const double qqc = posterior_qqc(path, path.wsq[last]);
    m.rmsec = sqrt(qqc / (static_cast<double>(path.nn) - nc));
    BoxMeyerTerms terms = model_terms(path, t, nc);
    terms.det = path.det[last];
    terms.logdet = path.logdet[last];
    terms.qqc = qqc;
    box_meyer_weight(terms, path.prior, &m.bval, &m.logb);
  }
};

// The Box-Meyer weights of the models that take part in the posterior
// under several priors at once. The cross products of each new column are
// formed once; each prior keeps its own factor M M' = X'X + Gamma and its
// own forward substitution M w = X'yc, grown along the same path. The
// least-squares factor is not needed: which models take part comes from
// their records.
struct PriorWalk {
  Path &path;
  const PriorWeightSink &each;
  const BoxMeyerPrior *priors = nullptr;
  int count = 0;                  // priors in this walk
  int first = 0;                  // index of priors[0] among all the priors
  // Per prior, interleaved (entry of prior p at [index * count + p]):
  std::vector<double> mg;         // the factors M, ld x ld
  std::vector<double> w;          // M w = X'yc, ld entries
  std::vector<double> wsq;        // sum of w_q^2 for q <= j
  std::vector<double> det;        // product of M_qq^2 for q <= j
  std::vector<uint8_t> ok;        // rows 0 .. j of M all have a positive pivot
  // Per prior, one entry each:
  std::vector<double> main_precision;         // 1/g^2 of blocks and main effects
  std::vector<double> interaction_precision;  // 1/g^2 of interactions
  std::vector<double> diag;       // the diagonal entry of the new column of X'X + Gamma
  std::vector<double> pivot;      // the pivots of the new row
  std::vector<double> logb;       // the weights of the current model

  // Room for batches of n priors.
  PriorWalk(Path &p, const PriorWeightSink &sink, size_t n) : path(p), each(sink) {
    const size_t ld = static_cast<size_t>(path.ld);
    mg.assign(n * ld * ld, 0.0);
    for (std::vector<double> *v : {&w, &wsq, &det}) v->assign(n * ld, 0.0);
    ok.assign(n * ld, 0);
    for (std::vector<double> *v : {&main_precision, &interaction_precision, &diag, &pivot, &logb})
      v->assign(n, 0.0);
  }

  // The prior precisions of each prior, as the fits form them.
  void set_priors(const BoxMeyerPrior *all, int from, int n) {
    priors = all + from;
    first = from;
    count = n;
    for (int p = 0; p < n; p++) {
      const double g = priors[p].gam;
      const double gi = interaction_gamma(priors[p]);
      main_precision[static_cast<size_t>(p)] = 1 / (g * g);
      interaction_precision[static_cast<size_t>(p)] = 1 / (gi * gi);
    }
  }

  bool append_column(int j, uint64_t m, bool singular) {
    path.mask[static_cast<size_t>(j)] = m;
    const double b = cross_products(path, j, m);
    const size_t n = static_cast<size_t>(count);
    const double aj = path.a[static_cast<size_t>(j)];
    const double *precision =
        interaction_column(path.space, m) ? interaction_precision.data() : main_precision.data();
    for (size_t p = 0; p < n; p++) diag[p] = j > 0 ? aj + precision[p] : aj;
    cholesky_append_row_interleaved(mg.data(), path.ld, count, j, path.a.data(), diag.data(), pivot.data());
    cholesky_forward_step_interleaved(mg.data(), path.ld, count, j, w.data(), b);
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
    const ModelEntry &m = path.models[path_model(path, t)];
    if (!has_posterior(path.space, m)) return;
    BoxMeyerTerms terms = model_terms(path, t, nc);
    const size_t at = static_cast<size_t>(nc - 1) * static_cast<size_t>(count);
    for (int p = 0; p < count; p++) {
      if (!ok[at + static_cast<size_t>(p)]) cannot_invert(nc);
      terms.logdet = log_determinant(p, nc);
      terms.qqc = posterior_qqc(path, wsq[at + static_cast<size_t>(p)]);
      logb[static_cast<size_t>(p)] = box_meyer_log_weight(terms, priors[p]);
    }
    each(m, first, count, logb.data());
  }
};

// Extends the model of t factors (path.pick[0 .. t-1], its columns the first
// nc of the path) by each larger factor in turn, depth first; at the root
// (t = 0) only by the factors first .. last-1 when they are given.
template <class Walk>
void visit(Path &path, Walk &walk, int t, int nc, bool singular, int first = -1, int last = -1) {
  if (t == path.largest) return;
  const int from = first >= 0 ? first : t > 0 ? path.pick[t - 1] + 1 : 0;
  const int to = last >= 0 ? last : path.k;
  for (int f = from; f < to; f++) {
    path.pick[t] = f;
    const uint64_t factor = uint64_t{1} << (path.first + f);
    // The new factor's columns: its main effect, then its interactions with
    // u of the earlier factors, u = 1 .. order-1, in lexicographic order.
    int j = nc;
    bool now_singular = singular || path.nn < model_columns(path.space, t + 1);
    for (int u = 0; u < path.space.order && u <= t; u++)
      for_each_subset(t, u, [&](const int32_t *sub) {
        uint64_t m = factor;
        for (int p = 0; p < u; p++) m |= uint64_t{1} << (path.first + path.pick[sub[p]]);
        now_singular = walk.append_column(j++, m, now_singular);
      });
    walk.record_model(t + 1, j, now_singular);
    visit(path, walk, t + 1, j, now_singular);
  }
}

// The whole model set: the root (the intercept and the blocks, the null
// model's columns), the null model when it is in the set, then every model
// depth first. With a first factor given, only the models whose first
// factor it is (and the null model with the first factor 0): the models of
// each first factor are a walk of their own.
template <class Walk>
void walk_model_set(Path &path, Walk &walk, int first_factor = -1) {
  const int root = 1 + path.space.blocks;
  bool singular = path.nn < root;
  for (int j = 0; j < root; j++)
    singular = walk.append_column(j, j == 0 ? 0 : uint64_t{1} << (j - 1), singular);
  if (path.space.with_null && first_factor <= 0) walk.record_model(0, root, singular);
  if (first_factor < 0)
    visit(path, walk, 0, root, singular);
  else
    visit(path, walk, 0, root, singular, first_factor, first_factor + 1);
}

// The path's arrays, the centred response, and with main effects only,
// every cross product of the intercept and the analysed columns.
void prepare_path(Path &path) {
  const Design &design = path.design;
  const ModelSpace &space = path.space;
  const int nn = path.nn, nv = design.analysed;
  path.first = space.blocks;
  path.k = screened_factors(design, space);
  path.largest = largest_model_size(design, space);
  path.ld = model_columns(space, path.largest);
  const size_t ld = static_cast<size_t>(path.ld), runs = static_cast<size_t>(nn);
  path.yc.assign(runs, 0.0);
  for (std::vector<double> *m : {&path.l, &path.mg, &path.xtx}) m->assign(ld * ld, 0.0);
  for (std::vector<double> *v : {&path.z, &path.w, &path.zsq, &path.wsq, &path.det, &path.logdet, &path.a})
    v->assign(ld, 0.0);
  path.mask.assign(ld, 0);
  if (space.order == 1) {
    path.gram_size = nv + 1;
    const size_t n = static_cast<size_t>(path.gram_size);
    path.gram.assign(n * n, 0.0);
    path.gram_y.assign(n, 0.0);
  } else if (design.two_level()) {
    path.signs.assign(ld * runs, 0);
    path.levels.assign(static_cast<size_t>(nv) * runs, 0);
    for (int c = 0; c < nv; c++)
      for (int r = 0; r < nn; r++)
        path.levels[static_cast<size_t>(c) * runs + static_cast<size_t>(r)] = static_cast<int8_t>(design.entry(r, c));
  } else {
    path.vec.assign(ld * runs, 0.0);
  }

  const double *yy = design.y.data();
  double sum = 0;
  for (int r = 0; r < nn; r++) sum += yy[r];
  const double ybar = sum / nn;
  path.sst = 0;
  for (int r = 0; r < nn; r++) {
    path.yc[static_cast<size_t>(r)] = yy[r] - ybar;
    path.sst += path.yc[static_cast<size_t>(r)] * path.yc[static_cast<size_t>(r)];
  }
  if (!path.gram.empty()) {
    const int n = path.gram_size;
    auto value = [&design](int index, int r) -> double {
      return index == 0 ? 1.0 : static_cast<double>(design.entry(r, index - 1));
    };
    for (int i = 0; i < n; i++) {
      for (int j = i; j < n; j++) {
        double s = 0;
        for (int r = 0; r < nn; r++) s += value(i, r) * value(j, r);
        path.gram[static_cast<size_t>(i * n + j)] = path.gram[static_cast<size_t>(j * n + i)] = s;
      }
      double s = 0;
      for (int r = 0; r < nn; r++) s += value(i, r) * path.yc[static_cast<size_t>(r)];
      path.gram_y[static_cast<size_t>(i)] = s;
    }
  }
  int32_t at = space.with_null ? 1 : 0;
  for (int t = 1; t <= path.largest; t++) {
    path.offset[t] = at;
    at += static_cast<int32_t>(binomial(path.k, t));
  }
}

}  // namespace

bool gram_fit_applies(const Settings &settings) {
  return !settings.model_space.is_default() && settings.alpha >= 1;
}

void gram_fit_models(const Design &design, const Settings &settings, ModelTable &models) {
  PlaceGuard place("Gram_Fit_Models");
  const int threads = thread_count(settings.threads);
  const int k = screened_factors(design, settings.model_space);
  if (threads <= 1 || k < 2 || models.size() < kParallelModels) {
    Path path(design, settings, models);
    prepare_path(path);
    FitWalk walk{path, models};
    walk_model_set(path, walk);
    return;
  }
  // Each model's record depends only on the columns along its own path,
  // and each task writes the records of its own models: the same records
  // whatever the threads.
  parallel_for(k, threads, [&](int f) {
    Path path(design, settings, models);
    prepare_path(path);
    FitWalk walk{path, models};
    walk_model_set(path, walk, f);
  });
}

void gram_prior_weights(const Design &design, const Settings &settings, const ModelTable &models,
                        const BoxMeyerPrior *priors, int count, const PriorWeightSink &each,
                        int first_factor) {
  PlaceGuard place("Gram_Prior_Weights");
  Path path(design, settings, models);
  prepare_path(path);
  const size_t ld = static_cast<size_t>(path.ld);
  const size_t factor_bytes = ld * ld * sizeof(double);
  int batch = count;
  if (factor_bytes * static_cast<size_t>(count) > kPriorFactorBytes)
    batch = kPriorFactorBytes >= factor_bytes ? static_cast<int>(kPriorFactorBytes / factor_bytes) : 1;
  PriorWalk walk(path, each, static_cast<size_t>(batch));
  for (int first = 0; first < count; first += batch) {
    walk.set_priors(priors, first, count - first < batch ? count - first : batch);
    walk_model_set(path, walk, first_factor);
  }
}

}  // namespace bayescreen
