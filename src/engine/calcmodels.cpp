#include "engine/calcmodels.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "engine/gramfit.h"
#include "engine/models.h"
#include "engine/readdat.h"
#include "engine/settings.h"
#include "numeric/exactrank.h"
#include "numeric/lanes.h"
#include "numeric/matrix.h"
#include "numeric/pfstat.h"
#include "support/commnum.h"
#include "support/helpers.h"
#include "support/logfile.h"
#include "support/showplaces.h"

namespace bayescreen {

int ninvalid = 0;
FitPath fit_path = FitPath::Auto;

namespace {

constexpr double kTwoPi = 6.283185307179586;
// Two-level designs group their runs by level combination when a model has
// no more base columns (blocks and factors) than this.
constexpr int kMaxPatternColumns = 16;

// The fits work on the distinct rows of the model matrix X. In a two-level
// design (every analysed entry -1 or 1) a model with nb base columns (its
// blocks and factors) has at most 2^nb distinct rows, one per combination of
// their levels; otherwise every run is a row of its own. Every product and
// sum is formed in the same order as the plain matrix formulas
//   X'X,  beta = ((X'X)^-1 X') y,  yfit = X beta,
// each dot product summed from 0 upward in its natural index order, so the
// results are the same to the last bit, at a cost proportional to the runs
// rather than to runs x columns^2, and with no runs x runs work arrays.
struct Scratch {
  int32_t rows = 0;            // runs the arrays have room for
  int maxnc = 0;               // columns of the largest model matrix
  int distinct = 0;            // distinct rows the arrays have room for
  bool two_level = false;      // every analysed entry is -1 or 1
  double ybar = 0;             // mean response
  double *xx = nullptr;        // X, nn x nc (only for the verbose display)
  double *xxt = nullptr;       // X' (only for the verbose display)
  double *xp = nullptr;        // distinct rows of X, npat x nc
  int32_t *count = nullptr;    // runs with each distinct row
  int32_t *pat = nullptr;      // distinct row of each run
  int npat = 0;                // distinct rows of the current model
  uint8_t *level = nullptr;    // two-level designs: 1 where the entry is +1, column by column
  double *level_rows[65] = {}; // two-level designs: the distinct rows of models of nf factors
  double *abp = nullptr;       // rows of ((X'X)^-1 X')' per distinct row, npat x nc
  double *yfit = nullptr;      // fitted value per distinct row
  double *xtx = nullptr;       // X'X
  double *xtxi = nullptr;      // (X'X)^-1
  double *xtxg = nullptr;      // X'X plus the prior precision
  double *xtxgi = nullptr;     // its inverse
  double *beta = nullptr;      // least-squares estimates
  double *cc = nullptr;        // posterior mode
  double *pv = nullptr;        // P-value of each effect column
  uint64_t *xm = nullptr;      // design columns forming each column of X
  int nbase = 0;               // base columns of the current model
  int32_t base[65];            // its base columns: blocks, then factors, -1-terminated
};
Scratch scratch;  // the one scratch space of the fits

int32_t design(int r, int col) {
  return ximat[static_cast<size_t>(r) * static_cast<size_t>(mm) + static_cast<size_t>(col)];
}

double *doubles(size_t n) { return static_cast<double *>(cxalloc(n + 3, sizeof(double))); }
int32_t *ints(size_t n) { return static_cast<int32_t *>(cxalloc(n + 3, sizeof(int32_t))); }

// The largest number of columns a model of the set has.
int largest_model_columns() {
  int largest = 0;
  for (int i = 0; i < nmod; i++)
    if (model[i].neff + 1 > largest) largest = model[i].neff + 1;
  return largest;
}

// Frees each array (of any element type) given.
template <typename... Arrays>
void free_all(Arrays *...arrays) {
  (free(arrays), ...);
}

void allocate_scratch(int maxnc) {
  free_all(scratch.xx, scratch.xxt, scratch.xp, scratch.count, scratch.pat, scratch.abp,
           scratch.yfit, scratch.level, scratch.xtx, scratch.xtxi, scratch.xtxg, scratch.xtxgi,
           scratch.beta, scratch.cc, scratch.pv, scratch.xm);
  for (double *&rows : scratch.level_rows) {
    free(rows);
    rows = nullptr;
  }
  scratch.rows = nn;
  scratch.maxnc = maxnc;
  const size_t rows = static_cast<size_t>(nn);
  const size_t nc = static_cast<size_t>(maxnc);
  // A two-level design has up to 8 distinct rows however few runs it has.
  scratch.distinct = nn > 8 ? nn : 8;
  const size_t distinct = static_cast<size_t>(scratch.distinct);
  scratch.xp = doubles(distinct * nc);
  scratch.abp = doubles(distinct * nc);
  scratch.yfit = doubles(distinct);
  scratch.count = ints(distinct);
  scratch.pat = ints(rows);
  scratch.level = static_cast<uint8_t *>(cxalloc(rows * static_cast<size_t>(nv) + 3, 1));
  scratch.xtx = doubles(nc * nc);
  scratch.xtxi = doubles(nc * nc);
  scratch.xtxg = doubles(nc * nc);
  scratch.xtxgi = doubles(nc * nc);
  scratch.beta = doubles(nc);
  scratch.cc = doubles(nc);
  scratch.pv = doubles(nc);
  scratch.xm = static_cast<uint64_t *>(cxalloc(nc + 3, sizeof(uint64_t)));
  if (verbose) {
    scratch.xx = doubles(rows * nc);
    scratch.xxt = doubles(rows * nc);
  }
}

// Facts about the design that every model shares.
void survey_design() {
  scratch.two_level = true;
  for (int r = 0; r < nn && scratch.two_level; r++)
    for (int f = 0; f < nv; f++)
      if (design(r, f) != 1 && design(r, f) != -1) {
        scratch.two_level = false;
        break;
      }
  if (scratch.two_level)
    for (int f = 0; f < nv; f++)
      for (int r = 0; r < nn; r++) scratch.level[f * nn + r] = design(r, f) == 1;
  double sum = 0;
  for (int r = 0; r < nn; r++) sum += yy[r];
  scratch.ybar = sum / nn;
}

// The base columns of a model: its blocks, then its factors.
void set_base(const ModelEntry &m) {
  uint64_t set = m.fset;
  for (int b = 0; b < modelspace.blocks; b++) set |= uint64_t{1} << b;
  scratch.nbase = column_list(set, scratch.base);
}

// One row of X from the values of the model's base columns. Each
// interaction is the integer product of its factors' values, formed in 64
// bits; a product beyond that range (entries of many digits) is formed in
// doubles instead.
void model_row(double *row, int nc, const int32_t *values) {
  row[0] = 1.0;
  for (int k = 1; k < nc; k++) {
    int64_t product = 1;
    double rounded = 1.0;
    bool overflow = false;
    for (int at = 0; at < scratch.nbase; at++) {
      if (!has_column(scratch.xm[k], scratch.base[at])) continue;
      overflow = overflow || __builtin_mul_overflow(product, values[at], &product);
      rounded *= static_cast<double>(values[at]);
    }
    row[k] = overflow ? rounded : static_cast<double>(product);
  }
}

// Whether the runs of the current model are grouped by level combination:
// a two-level design, and no more combinations than the arrays hold.
bool rows_grouped() {
  return scratch.two_level && scratch.nbase <= kMaxPatternColumns &&
         (1 << scratch.nbase) <= scratch.distinct;
}

// The distinct rows of X, how many runs have each, and each run's row. In
// a two-level design distinct row q has base column p at +1 when bit p of q
// is set; these rows are the same for every model of nf factors.
void distinct_rows(const ModelEntry &m, int nc) {
  int32_t values[65];
  if (rows_grouped()) {
    scratch.npat = 1 << scratch.nbase;
    double *&cached = scratch.level_rows[m.nf];
    if (cached == nullptr) {
      cached = doubles(static_cast<size_t>(scratch.npat) * static_cast<size_t>(nc));
      for (int q = 0; q < scratch.npat; q++) {
        for (int p = 0; p < scratch.nbase; p++) values[p] = (q >> p) & 1 ? 1 : -1;
        model_row(&cached[q * nc], nc, values);
      }
    }
    memcpy(scratch.xp, cached, sizeof(double) * static_cast<size_t>(scratch.npat * nc));
    for (int q = 0; q < scratch.npat; q++) scratch.count[q] = 0;
    // Each run's level combination in one pass; models of up to three base
    // columns (every model of the plain set) read three fixed columns.
    const uint8_t *level[kMaxPatternColumns] = {};
    for (int p = 0; p < scratch.nbase; p++) level[p] = &scratch.level[scratch.base[p] * nn];
    if (scratch.nbase == 0) {
      for (int r = 0; r < nn; r++) scratch.pat[r] = 0;
      scratch.count[0] = nn;
    } else if (scratch.nbase <= 3) {
      const uint8_t *l0 = level[0];
      const uint8_t *l1 = scratch.nbase > 1 ? level[1] : l0;
      const uint8_t *l2 = scratch.nbase > 2 ? level[2] : l0;
      const int mask = scratch.npat - 1;
      for (int r = 0; r < nn; r++) {
        const int q = (l0[r] | l1[r] << 1 | l2[r] << 2) & mask;
        scratch.pat[r] = q;
        scratch.count[q]++;
      }
    } else {
      for (int r = 0; r < nn; r++) {
        int q = 0;
        for (int p = 0; p < scratch.nbase; p++) q |= level[p][r] << p;
        scratch.pat[r] = q;
        scratch.count[q]++;
      }
    }
  } else {
    scratch.npat = nn;
    for (int r = 0; r < nn; r++) {
      for (int p = 0; p < scratch.nbase; p++) values[p] = design(r, scratch.base[p]);
      model_row(&scratch.xp[r * nc], nc, values);
      scratch.pat[r] = r;
      scratch.count[r] = 1;
    }
  }
}

// X'X, element (i, j) the sum over the runs of X[r][i] X[r][j]. In a
// two-level design the terms are integers, so grouping the runs by their
// distinct row gives the exact same sums.
void cross_products(int nc) {
  for (int i = 0; i < nc; i++)
    for (int j = i; j < nc; j++) {
      double sum = 0;
      for (int q = 0; q < scratch.npat; q++) {
        const double *row = &scratch.xp[q * nc];
        sum += scratch.count[q] * (row[i] * row[j]);
      }
      scratch.xtx[i * nc + j] = sum;
      scratch.xtx[j * nc + i] = sum;
    }
}

// coef = (A X') y for the nc x nc matrix A: first the product A X' per
// distinct row (entry j the sum over k of A[j][k] X[r][k]), then its sum
// against y over the runs in order. Also the fitted value X coef of every
// distinct row. Pairs of entries j are kept in the two lanes of a v2d.
template <int NC>
void solve_fitted(const double *a, double *coef) {
  constexpr int NV = NC / 2;
  double at[NC * NC];  // A transposed: lanes j, j+1 of column k side by side
  for (int j = 0; j < NC; j++)
    for (int k = 0; k < NC; k++) at[k * NC + j] = a[j * NC + k];
  for (int q = 0; q < scratch.npat; q++) {
    const double *row = &scratch.xp[q * NC];
    v2d sum[NV] = {};
#pragma GCC unroll 8
    for (int k = 0; k < NC; k++) {
      const v2d x = {row[k], row[k]};
#pragma GCC unroll 4
      for (int v = 0; v < NV; v++) sum[v] += load2(&at[k * NC + 2 * v]) * x;
    }
    memcpy(&scratch.abp[q * NC], sum, sizeof sum);
  }
  v2d acc[NV] = {};
  for (int r = 0; r < nn; r++) {
    const double *ab = &scratch.abp[scratch.pat[r] * NC];
    const v2d y = {yy[r], yy[r]};
#pragma GCC unroll 4
    for (int v = 0; v < NV; v++) acc[v] += load2(&ab[2 * v]) * y;
  }
  memcpy(coef, acc, sizeof acc);
  for (int q = 0; q < scratch.npat; q++) {
    const double *row = &scratch.xp[q * NC];
    double sum = 0;
    for (int k = 0; k < NC; k++) sum += row[k] * coef[k];
    scratch.yfit[q] = sum;
  }
}

// The same sums for any number of columns, one entry at a time.
void solve_fitted_any(const double *a, double *coef, int nc) {
  for (int q = 0; q < scratch.npat; q++) {
    const double *row = &scratch.xp[q * nc];
    double *ab = &scratch.abp[q * nc];
    for (int j = 0; j < nc; j++) {
      double sum = 0;
      for (int k = 0; k < nc; k++) sum += a[j * nc + k] * row[k];
      ab[j] = sum;
    }
  }
  for (int j = 0; j < nc; j++) coef[j] = 0;
  for (int r = 0; r < nn; r++) {
    const double *ab = &scratch.abp[scratch.pat[r] * nc];
    for (int j = 0; j < nc; j++) coef[j] += ab[j] * yy[r];
  }
  for (int q = 0; q < scratch.npat; q++) {
    const double *row = &scratch.xp[q * nc];
    double sum = 0;
    for (int k = 0; k < nc; k++) sum += row[k] * coef[k];
    scratch.yfit[q] = sum;
  }
}

void solve(const double *a, double *coef, int nc) {
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
__attribute__((noinline)) void sums_of_squares(double *sse_out, double *ssm_out) {
  double sse = 0, ssm = 0;
  const double ybar = scratch.ybar;
  for (int r = 0; r < nn; r++) {
    const double fit = scratch.yfit[scratch.pat[r]];
    sse += (yy[r] - fit) * (yy[r] - fit);
    ssm += (fit - ybar) * (fit - ybar);
  }
  *sse_out = sse;
  *ssm_out = ssm;
}

void show_vector(const char *title, const double *v, int nc) {
  printf("%s  %g(Intercept)", title, v[0]);
  for (int k = 1; k < nc; k++) printf("  %g", v[k]);
  printf("\n");
}

void show_ivals(const char *title, const ModelEntry &m, double value) {
  printf("%s", title);
  for (int f = 0; f < nv; f++) printf(" %d", has_column(m.ivals, f) ? 1 : 0);
  printf("  %g\n", value);
}

void show_model_head(int j, const ModelEntry &m, int nc) {
  int32_t moff[65];
  column_list(m.fset, moff);
  printf("%d. Model %s (nf=%d, nc=%d, moff=`%s')\n", j + 1, m.name, m.nf, nc,
         show_int_moff(moff));
  if (!verbose) return;
  printf("Base columns of XIMAT (nn=%d, nf=%d, moff=%s)\n", nn, m.nf, show_int_moff(scratch.base));
  for (int r = 0; r < nn; r++) {
    for (int p = 0; p < scratch.nbase; p++) printf(" %3d", design(r, scratch.base[p]));
    printf("\n");
  }
  for (int r = 0; r < nn; r++)
    for (int k = 0; k < nc; k++) {
      scratch.xx[r * nc + k] = scratch.xp[scratch.pat[r] * nc + k];
      scratch.xxt[k * nn + r] = scratch.xx[r * nc + k];
    }
  printf("The design matrix X:\n");
  showmat(scratch.xx, nn, nc);
  printf("The matrix XT:\n");
  showmat(scratch.xxt, nc, nn);
}

// The factors (never the blocks) of the columns of X in mask.
uint64_t factors_of(uint64_t mask) {
  const uint64_t blocks = modelspace.blocks > 0 ? (uint64_t{1} << modelspace.blocks) - 1 : 0;
  return mask & ~blocks;
}

// Whether X'X of the current model (its rows from distinct_rows, X'X in
// scratch.xtx) is singular in exact arithmetic, whatever the rounding of its
// decomposition would say.
// - A model whose columns are all 2^nb products of its nb base columns (a
//   full factorial, as every model of the default set), in a design whose
//   analysed entries are all -1 or 1: the 2^nb possible rows of X, one per
//   level combination, form the model matrix of the 2^nb full factorial,
//   whose columns are orthogonal. The rank of X is therefore the number of
//   level combinations that occur, and X'X is singular exactly when one is
//   missing.
// - Any other model: xtx_exactly_singular.
bool xtx_is_singular(int nc) {
  if (nn < nc) return true;
  if (rows_grouped() && nc == scratch.npat) {
    for (int q = 0; q < scratch.npat; q++)
      if (scratch.count[q] == 0) return true;
    return false;
  }
  return xtx_exactly_singular(scratch.xtx, nc, scratch.xm, nc);
}

// Marks the factors of every effect column that counts: all columns with
// the default alpha, else those whose two-sided t-test P-value is below it.
void mark_active(ModelEntry &m, int nc, double mse) {
  m.ivals = 0;
  for (int k = 1; k < nc; k++) {
    if (alpha < 1) {
      double t = scratch.beta[k] / sqrt(mse * scratch.xtxi[k * nc + k]);
      scratch.pv[k] = pvttest(static_cast<double>(nn) - nc, t);
      if (scratch.pv[k] >= alpha) continue;
    }
    m.ivals |= factors_of(scratch.xm[k]);
  }
}

// The classical criteria do not exist for a model whose X'X is singular.
void criteria_not_available(ModelEntry &m) {
  m.adjrsq = m.fstat = m.rmse = m.loglik = m.likelihood = NAN;
}

// Box-Meyer posterior: effect column c gets the prior precision 1/g_c^2;
// cc = (X'X + G)^-1 X'y is the posterior mode, with fitted values X cc, and
//   Qqc = |y - X cc|^2 + sum_c (cc_c / g_c)^2.
// Fills the column counts, det(X'X + G) and Qqc of terms.
void posterior_mode(int nc, BoxMeyerTerms *terms) {
  int n_int = 0;
  for (int k = 0; k < nc * nc; k++) scratch.xtxg[k] = scratch.xtx[k];
  for (int k = 1; k < nc; k++) {
    const double g = column_gamma(scratch.xm[k]);
    if (__builtin_popcountll(scratch.xm[k]) > 1) n_int++;
    scratch.xtxg[k * nc + k] += 1 / (g * g);
  }
  terms->n_int = n_int;
  terms->n_main = nc - 1 - n_int;
  matinvx2(scratch.xtxgi, scratch.xtxg, nc, &terms->det, "XTXG");
  terms->logdet = log(terms->det);
  solve(scratch.xtxgi, scratch.cc, nc);
  double qqc, ssm_unused;
  sums_of_squares(&qqc, &ssm_unused);
  for (int k = 1; k < nc; k++) {
    const double g = column_gamma(scratch.xm[k]);
    qqc += (scratch.cc[k] / g) * (scratch.cc[k] / g);
  }
  terms->qqc = qqc;
}

// Fits one model; returns false when its X'X is singular and the model
// takes no further part.
bool fit_model(int j, ModelEntry &m) {
  const int nc = m.neff + 1;
  const double dfe = static_cast<double>(nn) - nc;  // error degrees of freedom
  model_column_masks(m, scratch.xm);
  set_base(m);
  distinct_rows(m, nc);
  if (showstep) show_model_head(j, m, nc);
  cross_products(nc);
  if (showstep) {
    printf("The %dx%d matrix XTX for %s:\n", nc, nc, m.name);
    showmat(scratch.xtx, nc, nc);
  }
  // A singular X'X is reported as the decomposition reports it in exact
  // arithmetic, where it meets a column without a nonzero pivot: rounding
  // could otherwise leave a tiny pivot and an absurd fit. A regular X'X
  // that the decomposition cannot invert is reported by it.
  const bool exactly_singular = xtx_is_singular(nc);
  if (exactly_singular) show_zero_pivots();
  const bool singular = exactly_singular || matinv(scratch.xtxi, scratch.xtx, nc) != 0;
  double sse = 0, mse = 0;
  if (singular) {
    printf("THE DESIGN MATRIX for model %s is NOT INVERTIBLE.\n", m.name);
    m.invalid = 1;
    ninvalid++;
    if (!modelspace.keep_aliased) return false;
    // The Box-Meyer posterior exists all the same (X'X + Gamma is regular);
    // every factor of the model counts, as no effect can be tested.
    criteria_not_available(m);
    m.ivals = factors_of(m.fset);
  } else {
    // Ordinary least squares: beta = (X'X)^-1 X'y, with residual and model
    // sums of squares in one pass over the runs.
    solve(scratch.xtxi, scratch.beta, nc);
    double ssm;
    sums_of_squares(&sse, &ssm);
    mse = classical_criteria(m, sse, ssm, nc);
    mark_active(m, nc, mse);
  }

  BoxMeyerTerms terms;
  terms.nf = m.nf;
  posterior_mode(nc, &terms);
  const double qqc = terms.qqc;
  m.rmsec = sqrt(qqc / dfe);
  box_meyer_weight(terms, &m.bval, &m.logb);

  if (showstep) {
    if (!singular) {
      show_vector("MLEs:", scratch.beta, nc);
      printf("SSE: %g   MSE: %g   RMSE: %g   LogLik: %g\n", sse, mse, m.rmse, m.loglik);
      printf("  AdjRsq: %g   Fstat: %g   Likelihood: %g\n", m.adjrsq, m.fstat, m.likelihood);
      if (alpha < 1) {
        int32_t list[65];
        printf("Pvalues: ");
        for (int k = 1; k < nc; k++) {
          column_list(scratch.xm[k], list);
          printf("  %g(%s)", scratch.pv[k], show_char_moff(list));
        }
        printf("\n");
      }
      show_ivals("Ivalues and LikL: ", m, m.likelihood);
    }
    printf("The %dx%d matrix XTXG:\n", nc, nc);
    showmat(scratch.xtxg, nc, nc);
    show_vector("Post.mode:", scratch.cc, nc);
    printf("Qqc: %g   Mqqc: %g   Rmsec=%g\n", qqc, qqc / dfe, m.rmsec);
    printf("  Xtxgdet: %g   Bval=PrePostProb: %g\n", terms.det, m.bval);
    show_ivals("Ivalues and Bval: ", m, m.bval);
    presskey();
  }
  return true;
}

}  // namespace

BoxMeyerPrior run_prior() {
  BoxMeyerPrior prior;
  prior.pi = pi;
  prior.gam = gam;
  prior.gam_int = modelspace.gam_int;
  return prior;
}

bool interaction_column(uint64_t mask) { return __builtin_popcountll(factors_of(mask)) > 1; }

bool prior_precision_finite(double g) { return g > 0 && std::isfinite(1 / (g * g)); }

double interaction_gamma(const BoxMeyerPrior &prior) { return prior.gam_int > 0 ? prior.gam_int : prior.gam; }

bool xtx_exactly_singular(const double *xtx, int ld, const uint64_t *masks, int nc) {
  if (nn < nc) return true;
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
  return gram_matrix_singular(nn, nc, diag.data(), [masks, nc](int r, uint32_t p, uint32_t *out) {
    const int64_t modulus = p;
    for (int k = 0; k < nc; k++) {
      uint64_t product = 1;
      for (uint64_t bits = masks[k]; bits != 0; bits &= bits - 1) {
        const int64_t value = design(r, __builtin_ctzll(bits));
        product = product * static_cast<uint64_t>((value % modulus + modulus) % modulus) % p;
      }
      out[k] = static_cast<uint32_t>(product);
    }
  });
}

double column_gamma(uint64_t mask, const BoxMeyerPrior &prior) {
  return interaction_column(mask) ? interaction_gamma(prior) : prior.gam;
}

double column_gamma(uint64_t mask) { return column_gamma(mask, run_prior()); }

int model_column_masks(const ModelEntry &m, uint64_t *masks) {
  int n = 0;
  masks[n++] = 0;
  for (int b = 0; b < modelspace.blocks; b++) masks[n++] = uint64_t{1} << b;
  int32_t factor[65];
  const int nf = column_list(m.fset, factor);
  // Subsets of t of the model's factors in lexicographic order of position.
  int32_t pick[65];
  for (int t = 1; t <= nf && t <= modelspace.order; t++) {
    for (int p = 0; p < t; p++) pick[p] = p;
    for (;;) {
      uint64_t mask = 0;
      for (int p = 0; p < t; p++) mask |= uint64_t{1} << factor[pick[p]];
      masks[n++] = mask;
      int p = t - 1;
      while (p >= 0 && pick[p] == nf - t + p) p--;
      if (p < 0) break;
      pick[p]++;
      for (int q = p + 1; q < t; q++) pick[q] = pick[q - 1] + 1;
    }
  }
  return n;
}

double classical_criteria(ModelEntry &m, double sse, double ssm, int nc) {
  const double dfe = static_cast<double>(nn) - nc;
  const double rsq = ssm / (ssm + sse);
  m.adjrsq = 1 - (1 - rsq) * (nn - 1) / dfe;
  const double mse = sse / dfe;
  // A model without effect columns (the null model) has no F statistic.
  m.fstat = nc > 1 ? (ssm / (nc - 1)) / mse : NAN;
  m.rmse = sqrt(mse);
  m.loglik = -(nn / 2.0) * (log(kTwoPi * sse / nn) + 1);
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
  return log_prior_odds(t.nf, prior.pi) - log_gammas - 0.5 * t.logdet - (nn - 1) / 2.0 * log(t.qqc);
}

void box_meyer_weight(const BoxMeyerTerms &t, const BoxMeyerPrior &prior, double *bval, double *logb) {
  const double prior_odds = prior.pi / (1 - prior.pi);
  const int ncols = t.n_main + t.n_int;
  const bool one_ratio = one_prior_ratio(t, prior);
  double b = one_ratio ? pow(prior.gam, -ncols) : pow(prior.gam, -t.n_main) * pow(prior.gam_int, -t.n_int);
  b *= pow(prior_odds, t.nf);
  b *= 1 / sqrt(t.det);
  b *= pow(t.qqc, -(nn - 1) / 2.0);
  *bval = b;
  // The same weight in logarithms, for normalising when the product under-
  // or overflows (large designs, responses in large units).
  *logb = box_meyer_log_weight(t, prior);
}

void box_meyer_weight(const BoxMeyerTerms &t, double *bval, double *logb) {
  box_meyer_weight(t, run_prior(), bval, logb);
}

void posterior_fitted_values(const ModelEntry &m, double *fitted) {
  const int nc = m.neff + 1;
  model_column_masks(m, scratch.xm);
  set_base(m);
  distinct_rows(m, nc);
  cross_products(nc);
  BoxMeyerTerms terms;
  posterior_mode(nc, &terms);
  for (int r = 0; r < nn; r++) fitted[r] = scratch.yfit[scratch.pat[r]];
}

FitDetails fit_details(const ModelEntry &m) {
  FitDetails d;
  const int nc = d.nc = m.neff + 1;
  const size_t square = static_cast<size_t>(nc) * static_cast<size_t>(nc);
  model_column_masks(m, scratch.xm);
  set_base(m);
  distinct_rows(m, nc);
  cross_products(nc);
  d.xtx.assign(scratch.xtx, scratch.xtx + square);
  auto fitted = [] {
    std::vector<double> values(static_cast<size_t>(nn));
    for (int r = 0; r < nn; r++) values[static_cast<size_t>(r)] = scratch.yfit[scratch.pat[r]];
    return values;
  };
  if (matinv(scratch.xtxi, scratch.xtx, nc) == 0) {
    solve(scratch.xtxi, scratch.beta, nc);
    d.beta.assign(scratch.beta, scratch.beta + nc);
    d.yfit = fitted();
  }
  BoxMeyerTerms terms;
  posterior_mode(nc, &terms);
  d.xtxg.assign(scratch.xtxg, scratch.xtxg + square);
  d.cc.assign(scratch.cc, scratch.cc + nc);
  d.yfitc = fitted();
  return d;
}

int posterior_with_new_block(const ModelEntry &m, uint64_t *masks, double *g, double *mode,
                             double *qqc) {
  const int nc = m.neff + 1;
  const int ext = nc + 1;
  if (scratch.xp == nullptr || nn > scratch.rows || ext > scratch.maxnc) {
    // The fits from cross products use no scratch arrays, and none has room
    // for the extra column: room for the largest model and its new block.
    allocate_scratch(largest_model_columns() + 1);
    survey_design();
  }
  model_column_masks(m, scratch.xm);
  scratch.xm[nc] = kNewBlockMask;
  set_base(m);
  distinct_rows(m, nc);
  // Each distinct row gains the new column, -1, moving the rows from the
  // last so that none is overwritten before it has moved.
  for (int q = scratch.npat - 1; q >= 0; q--) {
    memmove(&scratch.xp[q * ext], &scratch.xp[q * nc], sizeof(double) * static_cast<size_t>(nc));
    scratch.xp[q * ext + nc] = -1.0;
  }
  cross_products(ext);
  BoxMeyerTerms terms;
  posterior_mode(ext, &terms);
  memcpy(masks, scratch.xm, sizeof(uint64_t) * static_cast<size_t>(ext));
  memcpy(g, scratch.xtxgi, sizeof(double) * static_cast<size_t>(ext * ext));
  memcpy(mode, scratch.cc, sizeof(double) * static_cast<size_t>(ext));
  *qqc = terms.qqc;
  return ext;
}

bool has_posterior(const ModelEntry &m) { return !m.invalid || modelspace.keep_aliased; }

void normalise_postprob() {
  double total = 0, largest = 0;
  for (int i = 0; i < nmod; i++) {
    total += model[i].bval;
    if (has_posterior(model[i]) && model[i].bval > largest) largest = model[i].bval;
  }
  // Plain quotients while the weights are normal doubles. A weight below
  // the least normal double (a subnormal number with few significant bits,
  // or 0 after underflow) gets exp(logb - log total) instead.
  if (std::isfinite(total) && largest >= DBL_MIN) {
    const double log_total = log(total);
    for (int i = 0; i < nmod; i++) {
      const ModelEntry &m = model[i];
      if (m.bval >= DBL_MIN)
        model[i].postprob = m.bval / total;
      else if (!has_posterior(m) || std::isnan(m.logb))
        model[i].postprob = 0;
      else
        model[i].postprob = exp(m.logb - log_total);
    }
    return;
  }
  // Log space: weights relative to the largest valid one. Models without a
  // posterior and weights that are not numbers get probability 0; if some
  // weights are infinite, those models share the probability equally.
  double top = -INFINITY;
  for (int i = 0; i < nmod; i++)
    if (has_posterior(model[i]) && !std::isnan(model[i].logb) && model[i].logb > top)
      top = model[i].logb;
  if (top == -INFINITY) {
    for (int i = 0; i < nmod; i++) model[i].postprob = 0;
    return;
  }
  auto weight = [&](int i) -> double {
    const double logb = model[i].logb;
    if (!has_posterior(model[i]) || std::isnan(logb)) return 0;
    if (std::isinf(top)) return logb == top ? 1 : 0;
    return exp(logb - top);
  };
  double sum = 0;
  for (int i = 0; i < nmod; i++) sum += weight(i);
  for (int i = 0; i < nmod; i++) model[i].postprob = weight(i) / sum;
}

void calc_model_fields() {
  PlaceGuard place("Calc_Model_Fields");
  const int maxnc = largest_model_columns();
  if (scratch.xp == nullptr || nn > scratch.rows || maxnc > scratch.maxnc ||
      (verbose && scratch.xx == nullptr))
    allocate_scratch(maxnc);
  for (double *&rows : scratch.level_rows) {
    free(rows);
    rows = nullptr;
  }
  survey_design();
  const bool by_cross_products =
      fit_path == FitPath::Auto ? gram_fit_applies() : fit_path == FitPath::ByCrossProducts;
  if (by_cross_products) {
    gram_fit_models();
    for (int j = 0; j < nmod; j++)
      if (model[j].invalid) {
        show_zero_pivots();
        printf("THE DESIGN MATRIX for model %s is NOT INVERTIBLE.\n", model[j].name);
      }
  } else {
    for (int j = 0; j < nmod; j++)
      if (!fit_model(j, model[j])) model[j].logb = -INFINITY;
  }
  if (ninvalid > 0) {
    bprintf("\n%s model%s out of %s were invalid.\n", commnum1(ninvalid), plural(ninvalid),
            commnum2(nmod));
    bprintf("(That is, the design matrix was singular.)\n");
  }
  normalise_postprob();
}

}  // namespace bayescreen
