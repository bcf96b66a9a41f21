#include "engine/calcmodels.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/gramfit.h"
#include "numeric/exactrank.h"
#include "numeric/lanes.h"
#include "numeric/matrix.h"
#include "numeric/pfstat.h"
#include "support/parallel.h"
#include "support/showplaces.h"

namespace bayescreen {

namespace {

constexpr double kTwoPi = 6.283185307179586;
// Two-level designs group their runs by level combination when a model has
// no more base columns (blocks and factors) than this.
constexpr int kMaxPatternColumns = 16;
// Models in each share of the run-by-run fits on several threads: small
// enough that the threads end within a few milliseconds of each other,
// large enough that taking a share costs nothing by comparison.
constexpr int kModelsPerTask = 256;

}  // namespace

// The fits work on the distinct rows of the model matrix X. In a two-level
// design (every analysed entry -1 or 1) a model with nb base columns (its
// blocks and factors) has at most 2^nb distinct rows, one per combination of
// their levels; otherwise every run is a row of its own. Every product and
// sum is formed in the same order as the plain matrix formulas
//   X'X,  beta = ((X'X)^-1 X') y,  yfit = X beta,
// each dot product summed from 0 upward in its natural index order, so the
// results are the same to the last bit, at a cost proportional to the runs
// rather than to runs x columns^2, and with no runs x runs work arrays.
// One object holds the work arrays of a sequence of fits.
struct ModelRefitter::Work {
  Work(const Design &d, const Settings &s, int max_columns);

  bool fit_model(int j, ModelEntry &m, FitObserver *observer);
  void set_base(const ModelEntry &m);
  void model_row(double *row, int nc, const int32_t *values) const;
  bool rows_grouped() const;
  void distinct_rows(const ModelEntry &m, int nc);
  void cross_products(int nc);
  template <int NC>
  void solve_fitted(const double *a, double *coef);
  void solve_fitted_any(const double *a, double *coef, int nc);
  void solve(const double *a, double *coef, int nc);
  void sums_of_squares(double *sse_out, double *ssm_out) const;
  bool xtx_is_singular(int nc) const;
  void mark_active(ModelEntry &m, int nc, double mse);
  void posterior_mode(int nc, BoxMeyerTerms *terms);
  void fitted_values(std::vector<double> &values) const;

  const Design &design;
  const ModelSpace &space;
  const BoxMeyerPrior prior;
  const double alpha;
  const int32_t nn;            // runs
  const double *yy;            // responses
  int maxnc = 0;               // columns of the largest model matrix
  int distinct = 0;            // distinct rows the arrays have room for
  bool two_level = false;      // every analysed entry is -1 or 1
  double ybar = 0;             // mean response
  std::vector<double> xp;      // distinct rows of X, npat x nc
  std::vector<int32_t> count;  // runs with each distinct row
  std::vector<int32_t> pat;    // distinct row of each run
  int npat = 0;                // distinct rows of the current model
  std::vector<uint8_t> level;  // two-level designs: 1 where the entry is +1, column by column
  std::vector<double> level_rows[65];  // two-level designs: the distinct rows of models of nf factors
  std::vector<double> abp;     // rows of ((X'X)^-1 X')' per distinct row, npat x nc
  std::vector<double> yfit;    // fitted value per distinct row
  std::vector<double> xtx;     // X'X
  std::vector<double> xtxi;    // (X'X)^-1
  std::vector<double> xtxg;    // X'X plus the prior precision
  std::vector<double> xtxgi;   // its inverse
  std::vector<double> beta;    // least-squares estimates
  std::vector<double> cc;      // posterior mode
  std::vector<double> pv;      // P-value of each effect column
  std::vector<uint64_t> xm;    // design columns forming each column of X
  int nbase = 0;               // base columns of the current model
  int32_t base[65];            // its base columns: blocks, then factors, -1-terminated
};

using Work = ModelRefitter::Work;

Work::Work(const Design &d, const Settings &s, int max_columns)
    : design(d), space(s.model_space), prior(prior_of(s)), alpha(s.alpha), nn(d.runs), yy(d.y.data()),
      maxnc(max_columns) {
  const size_t rows = static_cast<size_t>(nn);
  const size_t nc = static_cast<size_t>(maxnc);
  // A two-level design has up to 8 distinct rows however few runs it has.
  distinct = nn > 8 ? nn : 8;
  const size_t nd = static_cast<size_t>(distinct);
  xp.assign(nd * nc, 0.0);
  abp.assign(nd * nc, 0.0);
  yfit.assign(nd, 0.0);
  count.assign(nd, 0);
  pat.assign(rows, 0);
  for (std::vector<double> *m : {&xtx, &xtxi, &xtxg, &xtxgi}) m->assign(nc * nc, 0.0);
  for (std::vector<double> *v : {&beta, &cc, &pv}) v->assign(nc, 0.0);
  xm.assign(nc, 0);
  // Facts about the design that every model shares.
  two_level = design.two_level();
  if (two_level) {
    level.assign(rows * static_cast<size_t>(design.analysed), 0);
    for (int f = 0; f < design.analysed; f++)
      for (int r = 0; r < nn; r++) level[static_cast<size_t>(f) * rows + static_cast<size_t>(r)] = design.entry(r, f) == 1;
  }
  double sum = 0;
  for (int r = 0; r < nn; r++) sum += yy[r];
  ybar = sum / nn;
}

// The base columns of a model: its blocks, then its factors.
void Work::set_base(const ModelEntry &m) {
  uint64_t set = m.fset;
  for (int b = 0; b < space.blocks; b++) set |= uint64_t{1} << b;
  nbase = column_list(set, base);
}

// One row of X from the values of the model's base columns. Each
// interaction is the integer product of its factors' values, formed in 64
// bits; a product beyond that range (entries of many digits) is formed in
// doubles instead.
void Work::model_row(double *row, int nc, const int32_t *values) const {
  row[0] = 1.0;
  for (int k = 1; k < nc; k++) {
    int64_t product = 1;
    double rounded = 1.0;
    bool overflow = false;
    for (int at = 0; at < nbase; at++) {
      if (!has_column(xm[static_cast<size_t>(k)], base[at])) continue;
      overflow = overflow || __builtin_mul_overflow(product, values[at], &product);
      rounded *= static_cast<double>(values[at]);
    }
    row[k] = overflow ? rounded : static_cast<double>(product);
  }
}

// Whether the runs of the current model are grouped by level combination:
// a two-level design, and no more combinations than the arrays hold.
bool Work::rows_grouped() const {
  return two_level && nbase <= kMaxPatternColumns && (1 << nbase) <= distinct;
}

// The distinct rows of X, how many runs have each, and each run's row. In
// a two-level design distinct row q has base column p at +1 when bit p of q
// is set; these rows are the same for every model of nf factors.
void Work::distinct_rows(const ModelEntry &m, int nc) {
  int32_t values[65];
  if (rows_grouped()) {
    npat = 1 << nbase;
    std::vector<double> &cached = level_rows[m.nf];
    if (cached.empty()) {
      cached.assign(static_cast<size_t>(npat) * static_cast<size_t>(nc), 0.0);
      for (int q = 0; q < npat; q++) {
        for (int p = 0; p < nbase; p++) values[p] = (q >> p) & 1 ? 1 : -1;
        model_row(&cached[static_cast<size_t>(q * nc)], nc, values);
      }
    }
    memcpy(xp.data(), cached.data(), sizeof(double) * static_cast<size_t>(npat * nc));
    for (int q = 0; q < npat; q++) count[static_cast<size_t>(q)] = 0;
    // Each run's level combination in one pass; models of up to three base
    // columns (every model of the plain set) read three fixed columns.
    const uint8_t *lev[kMaxPatternColumns] = {};
    for (int p = 0; p < nbase; p++) lev[p] = &level[static_cast<size_t>(base[p]) * static_cast<size_t>(nn)];
    int32_t *patr = pat.data();
    int32_t *cnt = count.data();
    if (nbase == 0) {
      for (int r = 0; r < nn; r++) patr[r] = 0;
      cnt[0] = nn;
    } else if (nbase <= 3) {
      const uint8_t *l0 = lev[0];
      const uint8_t *l1 = nbase > 1 ? lev[1] : l0;
      const uint8_t *l2 = nbase > 2 ? lev[2] : l0;
      const int mask = npat - 1;
      for (int r = 0; r < nn; r++) {
        const int q = (l0[r] | l1[r] << 1 | l2[r] << 2) & mask;
        patr[r] = q;
        cnt[q]++;
      }
    } else {
      for (int r = 0; r < nn; r++) {
        int q = 0;
        for (int p = 0; p < nbase; p++) q |= lev[p][r] << p;
        patr[r] = q;
        cnt[q]++;
      }
    }
  } else {
    npat = nn;
    for (int r = 0; r < nn; r++) {
      for (int p = 0; p < nbase; p++) values[p] = design.entry(r, base[p]);
      model_row(&xp[static_cast<size_t>(r * nc)], nc, values);
      pat[static_cast<size_t>(r)] = r;
      count[static_cast<size_t>(r)] = 1;
    }
  }
}

// X'X, element (i, j) the sum over the runs of X[r][i] X[r][j]. In a
// two-level design the terms are integers, so grouping the runs by their
// distinct row gives the exact same sums.
void Work::cross_products(int nc) {
  for (int i = 0; i < nc; i++)
    for (int j = i; j < nc; j++) {
      double sum = 0;
      for (int q = 0; q < npat; q++) {
        const double *row = &xp[static_cast<size_t>(q * nc)];
        sum += count[static_cast<size_t>(q)] * (row[i] * row[j]);
      }
      xtx[static_cast<size_t>(i * nc + j)] = sum;
      xtx[static_cast<size_t>(j * nc + i)] = sum;
    }
}

// coef = (A X') y for the nc x nc matrix A: first the product A X' per
// distinct row (entry j the sum over k of A[j][k] X[r][k]), then its sum
// against y over the runs in order. Also the fitted value X coef of every
// distinct row. Pairs of entries j are kept in the two lanes of a v2d.
template <int NC>
void Work::solve_fitted(const double *a, double *coef) {
  constexpr int NV = NC / 2;
  double at[NC * NC];  // A transposed: lanes j, j+1 of column k side by side
  for (int j = 0; j < NC; j++)
    for (int k = 0; k < NC; k++) at[k * NC + j] = a[j * NC + k];
  const double *xrows = xp.data();
  double *ab_rows = abp.data();
  for (int q = 0; q < npat; q++) {
    const double *row = &xrows[q * NC];
    v2d sum[NV] = {};
#pragma GCC unroll 8
    for (int k = 0; k < NC; k++) {
      const v2d x = {row[k], row[k]};
#pragma GCC unroll 4
      for (int v = 0; v < NV; v++) sum[v] += load2(&at[k * NC + 2 * v]) * x;
    }
    memcpy(&ab_rows[q * NC], sum, sizeof sum);
  }
  v2d acc[NV] = {};
  const int32_t *patr = pat.data();
  for (int r = 0; r < nn; r++) {
    const double *ab = &ab_rows[patr[r] * NC];
    const v2d y = {yy[r], yy[r]};
#pragma GCC unroll 4
    for (int v = 0; v < NV; v++) acc[v] += load2(&ab[2 * v]) * y;
  }
  memcpy(coef, acc, sizeof acc);
  for (int q = 0; q < npat; q++) {
    const double *row = &xrows[q * NC];
    double sum = 0;
    for (int k = 0; k < NC; k++) sum += row[k] * coef[k];
    yfit[static_cast<size_t>(q)] = sum;
  }
}

// The same sums for any number of columns, one entry at a time.
void Work::solve_fitted_any(const double *a, double *coef, int nc) {
  for (int q = 0; q < npat; q++) {
    const double *row = &xp[static_cast<size_t>(q * nc)];
    double *ab = &abp[static_cast<size_t>(q * nc)];
    for (int j = 0; j < nc; j++) {
      double sum = 0;
      for (int k = 0; k < nc; k++) sum += a[j * nc + k] * row[k];
      ab[j] = sum;
    }
  }
  for (int j = 0; j < nc; j++) coef[j] = 0;
  for (int r = 0; r < nn; r++) {
    const double *ab = &abp[static_cast<size_t>(pat[static_cast<size_t>(r)] * nc)];
    for (int j = 0; j < nc; j++) coef[j] += ab[j] * yy[r];
  }
  for (int q = 0; q < npat; q++) {
    const double *row = &xp[static_cast<size_t>(q * nc)];
    double sum = 0;
    for (int k = 0; k < nc; k++) sum += row[k] * coef[k];
    yfit[static_cast<size_t>(q)] = sum;
  }
}

void Work::solve(const double *a, double *coef, int nc) {
  switch (nc) {
    case 2: solve_fitted<2>(a, coef); break;
    case 4: solve_fitted<4>(a, coef); break;
    case 8: solve_fitted<8>(a, coef); break;
    default: solve_fitted_any(a, coef, nc); break;
  }
}

// Residual and model sums of squares of the current fit, in one pass over
// the runs in order. Kept out of line: inside the long fitting routine the
// running sums would live in memory, and every step of the loop would wait
// for the previous store.
__attribute__((noinline)) void Work::sums_of_squares(double *sse_out, double *ssm_out) const {
  double sse = 0, ssm = 0;
  const double mean = ybar;
  const double *fit = yfit.data();
  const int32_t *patr = pat.data();
  for (int r = 0; r < nn; r++) {
    const double f = fit[patr[r]];
    sse += (yy[r] - f) * (yy[r] - f);
    ssm += (f - mean) * (f - mean);
  }
  *sse_out = sse;
  *ssm_out = ssm;
}

// Whether X'X of the current model (its rows from distinct_rows, X'X in
// xtx) is singular in exact arithmetic, whatever the rounding of its
// decomposition would say.
// - A model whose columns are all 2^nb products of its nb base columns (a
//   full factorial, as every model of the default set), in a design whose
//   analysed entries are all -1 or 1: the 2^nb possible rows of X, one per
//   level combination, form the model matrix of the 2^nb full factorial,
//   whose columns are orthogonal. The rank of X is therefore the number of
//   level combinations that occur, and X'X is singular exactly when one is
//   missing.
// - Any other model: xtx_exactly_singular.
bool Work::xtx_is_singular(int nc) const {
  if (nn < nc) return true;
  if (rows_grouped() && nc == npat) {
    for (int q = 0; q < npat; q++)
      if (count[static_cast<size_t>(q)] == 0) return true;
    return false;
  }
  return xtx_exactly_singular(design, xtx.data(), nc, xm.data(), nc);
}

// Marks the factors of every effect column that counts: all columns with
// the default alpha, else those whose two-sided t-test P-value is below it.
void Work::mark_active(ModelEntry &m, int nc, double mse) {
  m.ivals = 0;
  for (int k = 1; k < nc; k++) {
    if (alpha < 1) {
      double t = beta[static_cast<size_t>(k)] / sqrt(mse * xtxi[static_cast<size_t>(k * nc + k)]);
      pv[static_cast<size_t>(k)] = pvttest(static_cast<double>(nn) - nc, t);
      if (pv[static_cast<size_t>(k)] >= alpha) continue;
    }
    m.ivals |= factors_of(space, xm[static_cast<size_t>(k)]);
  }
}

// Box-Meyer posterior: effect column c gets the prior precision 1/g_c^2;
// cc = (X'X + G)^-1 X'y is the posterior mode, with fitted values X cc, and
//   Qqc = |y - X cc|^2 + sum_c (cc_c / g_c)^2.
// Fills the column counts, det(X'X + G) and Qqc of terms.
void Work::posterior_mode(int nc, BoxMeyerTerms *terms) {
  int n_int = 0;
  for (int k = 0; k < nc * nc; k++) xtxg[static_cast<size_t>(k)] = xtx[static_cast<size_t>(k)];
  for (int k = 1; k < nc; k++) {
    const double g = column_gamma(space, xm[static_cast<size_t>(k)], prior);
    if (__builtin_popcountll(xm[static_cast<size_t>(k)]) > 1) n_int++;
    xtxg[static_cast<size_t>(k * nc + k)] += 1 / (g * g);
  }
  terms->runs = nn;
  terms->n_int = n_int;
  terms->n_main = nc - 1 - n_int;
  matinvx(xtxgi.data(), xtxg.data(), nc, &terms->det, "XTXG");
  terms->logdet = log(terms->det);
  solve(xtxgi.data(), cc.data(), nc);
  double qqc, ssm_unused;
  sums_of_squares(&qqc, &ssm_unused);
  for (int k = 1; k < nc; k++) {
    const double g = column_gamma(space, xm[static_cast<size_t>(k)], prior);
    qqc += (cc[static_cast<size_t>(k)] / g) * (cc[static_cast<size_t>(k)] / g);
  }
  terms->qqc = qqc;
}

void Work::fitted_values(std::vector<double> &values) const {
  values.resize(static_cast<size_t>(nn));
  for (int r = 0; r < nn; r++) values[static_cast<size_t>(r)] = yfit[static_cast<size_t>(pat[static_cast<size_t>(r)])];
}

// Fits one model; returns false when its X'X is singular and the model
// takes no further part.
bool Work::fit_model(int j, ModelEntry &m, FitObserver *observer) {
  const int nc = m.neff + 1;
  const double dfe = static_cast<double>(nn) - nc;  // error degrees of freedom
  model_column_masks(space, m, xm.data());
  set_base(m);
  distinct_rows(m, nc);
  cross_products(nc);
  // A singular X'X is reported as the decomposition reports it in exact
  // arithmetic, where it meets a column without a nonzero pivot: rounding
  // could otherwise leave a tiny pivot and an absurd fit. A regular X'X
  // that the decomposition cannot invert is reported by it.
  const bool singular = xtx_is_singular(nc) || matinv(xtxi.data(), xtx.data(), nc) != 0;
  FitStep step;
  step.index = j;
  step.model = &m;
  step.nc = nc;
  step.base = base;
  step.nbase = nbase;
  step.masks = xm.data();
  step.rows = xp.data();
  step.pattern = pat.data();
  step.xtx = xtx.data();
  step.singular = singular;
  double sse = 0, mse = 0;
  if (singular) {
    m.invalid = 1;
    if (!space.keep_aliased) {
      step.dropped = true;
      if (observer != nullptr) observer->model_fitted(step);
      return false;
    }
    // The Box-Meyer posterior exists all the same (X'X + Gamma is regular);
    // every factor of the model counts, as no effect can be tested.
    m.adjrsq = m.fstat = m.rmse = m.loglik = m.likelihood = NAN;
    m.ivals = factors_of(space, m.fset);
  } else {
    // Ordinary least squares: beta = (X'X)^-1 X'y, with residual and model
    // sums of squares in one pass over the runs.
    solve(xtxi.data(), beta.data(), nc);
    double ssm;
    sums_of_squares(&sse, &ssm);
    mse = classical_criteria(nn, m, sse, ssm, nc);
    mark_active(m, nc, mse);
    step.beta = beta.data();
    step.sse = sse;
    step.mse = mse;
    step.pvalues = alpha < 1 ? pv.data() : nullptr;
  }

  BoxMeyerTerms terms;
  terms.nf = m.nf;
  posterior_mode(nc, &terms);
  m.rmsec = sqrt(terms.qqc / dfe);
  box_meyer_weight(terms, prior, &m.bval, &m.logb);
  if (observer != nullptr) {
    step.xtxg = xtxg.data();
    step.mode = cc.data();
    step.qqc = terms.qqc;
    step.det = terms.det;
    observer->model_fitted(step);
  }
  return true;
}

ModelRefitter::ModelRefitter(const Design &design, const Settings &settings, int max_columns)
    : work_(std::make_unique<Work>(design, settings, max_columns + 1)) {}

ModelRefitter::~ModelRefitter() = default;

void ModelRefitter::posterior_fitted_values(const ModelEntry &m, double *fitted) {
  Work &w = *work_;
  const int nc = m.neff + 1;
  model_column_masks(w.space, m, w.xm.data());
  w.set_base(m);
  w.distinct_rows(m, nc);
  w.cross_products(nc);
  BoxMeyerTerms terms;
  w.posterior_mode(nc, &terms);
  for (int r = 0; r < w.nn; r++) fitted[r] = w.yfit[static_cast<size_t>(w.pat[static_cast<size_t>(r)])];
}

FitDetails ModelRefitter::details(const ModelEntry &m) {
  Work &w = *work_;
  FitDetails d;
  const int nc = d.nc = m.neff + 1;
  const size_t square = static_cast<size_t>(nc) * static_cast<size_t>(nc);
  model_column_masks(w.space, m, w.xm.data());
  w.set_base(m);
  w.distinct_rows(m, nc);
  w.cross_products(nc);
  d.xtx.assign(w.xtx.begin(), w.xtx.begin() + static_cast<long>(square));
  if (matinv(w.xtxi.data(), w.xtx.data(), nc) == 0) {
    w.solve(w.xtxi.data(), w.beta.data(), nc);
    d.beta.assign(w.beta.begin(), w.beta.begin() + nc);
    w.fitted_values(d.yfit);
  }
  BoxMeyerTerms terms;
  w.posterior_mode(nc, &terms);
  d.xtxg.assign(w.xtxg.begin(), w.xtxg.begin() + static_cast<long>(square));
  d.cc.assign(w.cc.begin(), w.cc.begin() + nc);
  w.fitted_values(d.yfitc);
  return d;
}

int ModelRefitter::posterior_with_new_block(const ModelEntry &m, uint64_t *masks, double *g,
                                            double *mode, double *qqc) {
  Work &w = *work_;
  const int nc = m.neff + 1;
  const int ext = nc + 1;
  model_column_masks(w.space, m, w.xm.data());
  w.xm[static_cast<size_t>(nc)] = kNewBlockMask;
  w.set_base(m);
  w.distinct_rows(m, nc);
  // Each distinct row gains the new column, -1, moving the rows from the
  // last so that none is overwritten before it has moved.
  for (int q = w.npat - 1; q >= 0; q--) {
    memmove(&w.xp[static_cast<size_t>(q * ext)], &w.xp[static_cast<size_t>(q * nc)],
            sizeof(double) * static_cast<size_t>(nc));
    w.xp[static_cast<size_t>(q * ext + nc)] = -1.0;
  }
  w.cross_products(ext);
  BoxMeyerTerms terms;
  w.posterior_mode(ext, &terms);
  memcpy(masks, w.xm.data(), sizeof(uint64_t) * static_cast<size_t>(ext));
  memcpy(g, w.xtxgi.data(), sizeof(double) * static_cast<size_t>(ext * ext));
  memcpy(mode, w.cc.data(), sizeof(double) * static_cast<size_t>(ext));
  *qqc = terms.qqc;
  return ext;
}

int largest_model_columns(const ModelTable &models) {
  int largest = 0;
  for (const ModelEntry &m : models)
    if (m.neff + 1 > largest) largest = m.neff + 1;
  return largest;
}

BoxMeyerPrior prior_of(const Settings &settings) {
  BoxMeyerPrior prior;
  prior.pi = settings.pi;
  prior.gam = settings.gamma;
  prior.gam_int = settings.model_space.gam_int;
  return prior;
}

bool interaction_column(const ModelSpace &space, uint64_t mask) {
  return __builtin_popcountll(factors_of(space, mask)) > 1;
}

bool prior_precision_finite(double g) { return g > 0 && std::isfinite(1 / (g * g)); }

double interaction_gamma(const BoxMeyerPrior &prior) { return prior.gam_int > 0 ? prior.gam_int : prior.gam; }

bool xtx_exactly_singular(const Design &design, const double *xtx, int ld, const uint64_t *masks,
                          int nc) {
  if (design.runs < nc) return true;
  const size_t n = static_cast<size_t>(nc), stride = static_cast<size_t>(ld);
  std::vector<double> diag(n);
  bool exact = true;
  for (size_t k = 0; k < n; k++) {
    diag[k] = xtx[k * stride + k];
    exact = exact && diag[k] < 0x1p52;
  }
  if (exact) {
    std::vector<int64_t> gram(n * n);
    for (size_t i = 0; i < n; i++)
      for (size_t k = 0; k < n; k++) gram[i * n + k] = static_cast<int64_t>(xtx[i * stride + k]);
    return gram_matrix_singular(nc, gram.data());
  }
  // Row r of X modulo the prime p: each column the product of its design
  // values, reduced modulo p as it is formed.
  return gram_matrix_singular(design.runs, nc, diag.data(), [&design, masks, nc](int r, uint32_t p, uint32_t *out) {
    const int64_t modulus = p;
    for (int k = 0; k < nc; k++) {
      uint64_t product = 1;
      for (uint64_t bits = masks[k]; bits != 0; bits &= bits - 1) {
        const int64_t value = design.entry(r, __builtin_ctzll(bits));
        product = product * static_cast<uint64_t>((value % modulus + modulus) % modulus) % p;
      }
      out[k] = static_cast<uint32_t>(product);
    }
  });
}

double column_gamma(const ModelSpace &space, uint64_t mask, const BoxMeyerPrior &prior) {
  return interaction_column(space, mask) ? interaction_gamma(prior) : prior.gam;
}

double classical_criteria(int n, ModelEntry &m, double sse, double ssm, int nc) {
  const double dfe = static_cast<double>(n) - nc;
  const double rsq = ssm / (ssm + sse);
  m.adjrsq = 1 - (1 - rsq) * (n - 1) / dfe;
  const double mse = sse / dfe;
  // A model without effect columns (the null model) has no F statistic.
  m.fstat = nc > 1 ? (ssm / (nc - 1)) / mse : NAN;
  m.rmse = sqrt(mse);
  m.loglik = -(n / 2.0) * (log(kTwoPi * sse / n) + 1);
  m.likelihood = exp(m.loglik);
  return mse;
}

namespace {

// Whether every effect column of a model takes the ratio gam.
bool one_prior_ratio(const BoxMeyerTerms &t, const BoxMeyerPrior &prior) {
  return t.n_int == 0 || prior.gam_int <= 0 || prior.gam_int == prior.gam;
}

}  // namespace

double log_prior_odds(int nf, double pi) {
  const double prior_odds = pi / (1 - pi);
  return nf * log(prior_odds);
}

double box_meyer_log_weight(const BoxMeyerTerms &t, const BoxMeyerPrior &prior) {
  const int ncols = t.n_main + t.n_int;
  const bool one_ratio = one_prior_ratio(t, prior);
  const double log_gammas = one_ratio ? ncols * log(prior.gam)
                                      : t.n_main * log(prior.gam) + t.n_int * log(prior.gam_int);
  return log_prior_odds(t.nf, prior.pi) - log_gammas - 0.5 * t.logdet - (t.runs - 1) / 2.0 * log(t.qqc);
}

void box_meyer_weight(const BoxMeyerTerms &t, const BoxMeyerPrior &prior, double *bval, double *logb) {
  const double prior_odds = prior.pi / (1 - prior.pi);
  const int ncols = t.n_main + t.n_int;
  const bool one_ratio = one_prior_ratio(t, prior);
  double b = one_ratio ? pow(prior.gam, -ncols) : pow(prior.gam, -t.n_main) * pow(prior.gam_int, -t.n_int);
  b *= pow(prior_odds, t.nf);
  b *= 1 / sqrt(t.det);
  b *= pow(t.qqc, -(t.runs - 1) / 2.0);
  *bval = b;
  // The same weight in logarithms, for normalising when the product under-
  // or overflows (large designs, responses in large units).
  *logb = box_meyer_log_weight(t, prior);
}

bool has_posterior(const ModelSpace &space, const ModelEntry &m) { return !m.invalid || space.keep_aliased; }

void normalise_postprob(const ModelSpace &space, ModelTable &models) {
  const int nmod = models.size();
  double total = 0, largest = 0;
  for (int i = 0; i < nmod; i++) {
    total += models[i].bval;
    if (has_posterior(space, models[i]) && models[i].bval > largest) largest = models[i].bval;
  }
  // Plain quotients while the weights are normal doubles. A weight below
  // the least normal double (a subnormal number with few significant bits,
  // or 0 after underflow) gets exp(logb - log total) instead.
  if (std::isfinite(total) && largest >= DBL_MIN) {
    const double log_total = log(total);
    for (int i = 0; i < nmod; i++) {
      ModelEntry &m = models[i];
      if (m.bval >= DBL_MIN)
        m.postprob = m.bval / total;
      else if (!has_posterior(space, m) || std::isnan(m.logb))
        m.postprob = 0;
      else
        m.postprob = exp(m.logb - log_total);
    }
    return;
  }
  // Log space: weights relative to the largest valid one. Models without a
  // posterior and weights that are not numbers get probability 0; if some
  // weights are infinite, those models share the probability equally.
  double top = -INFINITY;
  for (int i = 0; i < nmod; i++)
    if (has_posterior(space, models[i]) && !std::isnan(models[i].logb) && models[i].logb > top)
      top = models[i].logb;
  if (top == -INFINITY) {
    for (int i = 0; i < nmod; i++) models[i].postprob = 0;
    return;
  }
  auto weight = [&](int i) -> double {
    const double logb = models[i].logb;
    if (!has_posterior(space, models[i]) || std::isnan(logb)) return 0;
    if (std::isinf(top)) return logb == top ? 1 : 0;
    return exp(logb - top);
  };
  double sum = 0;
  for (int i = 0; i < nmod; i++) sum += weight(i);
  for (int i = 0; i < nmod; i++) models[i].postprob = weight(i) / sum;
}

void calc_model_fields(const Design &design, const Settings &settings, ModelTable &models,
                       FitObserver *observer, FitPath path) {
  PlaceGuard place("Calc_Model_Fields");
  models.invalid = 0;
  const bool by_cross_products = path == FitPath::Auto
                                     ? observer == nullptr && gram_fit_applies(settings)
                                     : path == FitPath::ByCrossProducts;
  if (by_cross_products) {
    gram_fit_models(design, settings, models);
  } else {
    const int maxnc = largest_model_columns(models), nmod = models.size();
    const int threads = observer != nullptr || nmod < kParallelModels ? 1 : thread_count(settings.threads);
    // Short runs of consecutive models, taken by the threads as they come
    // free, so that the threads end together (the larger models at the end
    // of the set cost several times the smaller ones); each thread keeps
    // work arrays of its own for all its runs. A model's fit depends only on
    // the model, so the records are the same whatever the threads.
    const int tasks = threads > 1 ? (nmod + kModelsPerTask - 1) / kModelsPerTask : 1;
    std::vector<std::unique_ptr<Work>> works(static_cast<size_t>(threads));
    parallel_for_workers(tasks, threads, [&](int task, int worker) {
      std::unique_ptr<Work> &work = works[static_cast<size_t>(worker)];
      if (!work) work = std::make_unique<Work>(design, settings, maxnc);
      const int lo = static_cast<int>(static_cast<int64_t>(nmod) * task / tasks);
      const int hi = static_cast<int>(static_cast<int64_t>(nmod) * (task + 1) / tasks);
      for (int j = lo; j < hi; j++)
        if (!work->fit_model(j, models[j], observer)) models[j].logb = -INFINITY;
    });
  }
  for (const ModelEntry &m : models)
    if (m.invalid) models.invalid++;
  normalise_postprob(settings.model_space, models);
}

}  // namespace bayescreen
