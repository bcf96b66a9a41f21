#include "analysis/calcmodels.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "analysis/models.h"
#include "analysis/readdat.h"
#include "analysis/settings.h"
#include "numeric/matrix.h"
#include "numeric/pfstat.h"
#include "support/commnum.h"
#include "support/helpers.h"
#include "support/logfile.h"
#include "support/showplaces.h"

namespace bayescreen {

int ninvalid = 0;

namespace {

constexpr int maxnc = 8;  // columns of the largest model matrix (3 factors)
constexpr double kTwoPi = 6.283185307179586;

// The fits work on the distinct rows of the model matrix X. In a two-level
// design (every entry of the analysed columns -1 or 1) a model of nf factors
// has at most 2^nf distinct rows, one per combination of its factors'
// levels; otherwise every run is a row of its own. Every product and sum is
// formed in the same order as the plain matrix formulas
//   X'X,  beta = ((X'X)^-1 X') y,  yfit = X beta,
// each dot product summed from 0 upward in its natural index order, so the
// results are the same to the last bit, at a cost proportional to the runs
// rather than to runs x columns^2, and with no runs x runs work arrays.
struct Scratch {
  int32_t rows = 0;            // runs the arrays have room for
  int models = 0;              // models logb has room for
  bool two_level = false;      // every analysed entry is -1 or 1
  double ybar = 0;             // mean response
  double *xx = nullptr;        // X, nn x nc (only for the verbose display)
  double *xxt = nullptr;       // X' (only for the verbose display)
  double *xp = nullptr;        // distinct rows of X, npat x nc
  int32_t *count = nullptr;    // runs with each distinct row
  int32_t *pat = nullptr;      // distinct row of each run
  int npat = 0;                // distinct rows of the current model
  uint8_t *level = nullptr;    // two-level designs: 1 where the entry is +1, column by column
  double level_rows[4][8 * maxnc];  // two-level designs: the distinct rows for 1, 2, 3 factors
  bool level_rows_ready[4] = {};
  double *abp = nullptr;       // rows of ((X'X)^-1 X')' per distinct row, npat x nc
  double *yfit = nullptr;      // fitted value per distinct row
  double xtx[maxnc * maxnc];   // X'X
  double xtxi[maxnc * maxnc];  // (X'X)^-1
  double xtxg[maxnc * maxnc];  // X'X plus the prior precision
  double xtxgi[maxnc * maxnc]; // its inverse
  double beta[maxnc];          // least-squares estimates
  double cc[maxnc];            // posterior mode
  double pv[maxnc];            // P-value of each effect column
  int32_t xm[maxnc][5];        // factors forming each column of X, -1-terminated
  double *logb = nullptr;      // log posterior weight of each model
};
Scratch s;

int32_t design(int r, int col) {
  return ximat[static_cast<size_t>(r) * static_cast<size_t>(mm) + static_cast<size_t>(col)];
}

void allocate_scratch() {
  for (void *p : {static_cast<void *>(s.xx), static_cast<void *>(s.xxt),
                  static_cast<void *>(s.xp), static_cast<void *>(s.count),
                  static_cast<void *>(s.pat), static_cast<void *>(s.abp),
                  static_cast<void *>(s.yfit), static_cast<void *>(s.logb),
                  static_cast<void *>(s.level)})
    free(p);
  s.rows = nn;
  s.models = nmod;
  const size_t rows = static_cast<size_t>(nn);
  // A two-level design has up to 8 distinct rows however few runs it has.
  const size_t distinct = rows > 8 ? rows : 8;
  auto doubles = [](size_t n) { return static_cast<double *>(cxalloc(n + 3, sizeof(double))); };
  auto ints = [](size_t n) { return static_cast<int32_t *>(cxalloc(n + 3, sizeof(int32_t))); };
  s.xp = doubles(distinct * maxnc);
  s.abp = doubles(distinct * maxnc);
  s.yfit = doubles(distinct);
  s.count = ints(distinct);
  s.pat = ints(rows);
  s.logb = doubles(static_cast<size_t>(nmod));
  s.level = static_cast<uint8_t *>(cxalloc(rows * static_cast<size_t>(nv) + 3, 1));
  if (verbose) {
    s.xx = doubles(rows * maxnc);
    s.xxt = doubles(rows * maxnc);
  }
}

// Facts about the design that every model shares.
void survey_design() {
  s.two_level = true;
  for (int r = 0; r < nn && s.two_level; r++)
    for (int f = 0; f < nv; f++)
      if (design(r, f) != 1 && design(r, f) != -1) {
        s.two_level = false;
        break;
      }
  if (s.two_level)
    for (int f = 0; f < nv; f++)
      for (int r = 0; r < nn; r++) s.level[f * nn + r] = design(r, f) == 1;
  for (bool &ready : s.level_rows_ready) ready = false;
  double sum = 0;
  for (int r = 0; r < nn; r++) sum += yy[r];
  s.ybar = sum / nn;
}

void set_xm(int col, int a, int b = -1, int c = -1) {
  s.xm[col][0] = a;
  s.xm[col][1] = b;
  s.xm[col][2] = c;
  s.xm[col][3] = -1;
}

// Column lists of X: intercept, main effects in column order, the
// two-factor interactions in lexicographic order, the three-factor one.
void set_columns(const ModelEntry &m, int nc) {
  const int32_t *f = m.moff;
  for (int col = 0; col < nc; col++) s.xm[col][0] = -1;
  int col = 1;
  for (int p = 0; p < m.nf; p++) set_xm(col++, f[p]);
  for (int p = 0; p < m.nf; p++)
    for (int q = p + 1; q < m.nf; q++) set_xm(col++, f[p], f[q]);
  if (m.nf == 3) set_xm(col++, f[0], f[1], f[2]);
}

// One row of X from the values of the model's factors in design-column
// order. Each interaction is the integer product of its factors' values,
// formed in 64 bits; a product beyond that range (entries of many digits)
// is formed in doubles instead.
void model_row(double *row, int nc, const int32_t *moff, const int32_t *values) {
  row[0] = 1.0;
  for (int k = 1; k < nc; k++) {
    int64_t product = 1;
    double rounded = 1.0;
    bool overflow = false;
    for (int p = 0; s.xm[k][p] >= 0; p++) {
      int at = 0;
      while (moff[at] != s.xm[k][p]) at++;
      overflow = overflow || __builtin_mul_overflow(product, values[at], &product);
      rounded *= static_cast<double>(values[at]);
    }
    row[k] = overflow ? rounded : static_cast<double>(product);
  }
}

// The distinct rows of X, how many runs have each, and each run's row. In
// a two-level design distinct row q has factor p at +1 when bit p of q is
// set; these rows are the same for every model of nf factors.
void distinct_rows(const ModelEntry &m, int nc) {
  int32_t values[3];
  if (s.two_level) {
    s.npat = 1 << m.nf;
    if (!s.level_rows_ready[m.nf]) {
      for (int q = 0; q < s.npat; q++) {
        for (int p = 0; p < m.nf; p++) values[p] = (q >> p) & 1 ? 1 : -1;
        model_row(&s.level_rows[m.nf][q * nc], nc, m.moff, values);
      }
      s.level_rows_ready[m.nf] = true;
    }
    memcpy(s.xp, s.level_rows[m.nf], sizeof(double) * static_cast<size_t>(s.npat * nc));
    for (int q = 0; q < s.npat; q++) s.count[q] = 0;
    const uint8_t *l0 = &s.level[m.moff[0] * nn];
    const uint8_t *l1 = m.nf > 1 ? &s.level[m.moff[1] * nn] : l0;
    const uint8_t *l2 = m.nf > 2 ? &s.level[m.moff[2] * nn] : l0;
    const int shift1 = m.nf > 1 ? 1 : 31, shift2 = m.nf > 2 ? 2 : 31;
    for (int r = 0; r < nn; r++) {
      int q = l0[r] | (l1[r] << shift1 & 2) | (l2[r] << shift2 & 4);
      s.pat[r] = q;
      s.count[q]++;
    }
  } else {
    s.npat = nn;
    for (int r = 0; r < nn; r++) {
      for (int p = 0; p < m.nf; p++) values[p] = design(r, m.moff[p]);
      model_row(&s.xp[r * nc], nc, m.moff, values);
      s.pat[r] = r;
      s.count[r] = 1;
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
      for (int q = 0; q < s.npat; q++) {
        const double *row = &s.xp[q * nc];
        sum += s.count[q] * (row[i] * row[j]);
      }
      s.xtx[i * nc + j] = sum;
      s.xtx[j * nc + i] = sum;
    }
}

// Two doubles side by side; each lane is plain IEEE double arithmetic, so
// sums kept in lanes are the same as sums kept one by one.
typedef double v2d __attribute__((vector_size(16)));

v2d load2(const double *p) {
  v2d v;
  memcpy(&v, p, sizeof v);
  return v;
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
  for (int q = 0; q < s.npat; q++) {
    const double *row = &s.xp[q * NC];
    v2d sum[NV] = {};
#pragma GCC unroll 8
    for (int k = 0; k < NC; k++) {
      const v2d x = {row[k], row[k]};
#pragma GCC unroll 4
      for (int v = 0; v < NV; v++) sum[v] += load2(&at[k * NC + 2 * v]) * x;
    }
    memcpy(&s.abp[q * NC], sum, sizeof sum);
  }
  v2d acc[NV] = {};
  for (int r = 0; r < nn; r++) {
    const double *ab = &s.abp[s.pat[r] * NC];
    const v2d y = {yy[r], yy[r]};
#pragma GCC unroll 4
    for (int v = 0; v < NV; v++) acc[v] += load2(&ab[2 * v]) * y;
  }
  memcpy(coef, acc, sizeof acc);
  for (int q = 0; q < s.npat; q++) {
    const double *row = &s.xp[q * NC];
    double sum = 0;
    for (int k = 0; k < NC; k++) sum += row[k] * coef[k];
    s.yfit[q] = sum;
  }
}

void solve(const double *a, double *coef, int nc) {
  switch (nc) {
    case 2: solve_fitted<2>(a, coef); break;
    case 4: solve_fitted<4>(a, coef); break;
    default: solve_fitted<8>(a, coef); break;
  }
}

// Residual and model sums of squares of the current fit, in one pass over
// the runs in order. These sums and the next one are kept out of line: inside
// the long fitting routine the running sums would live in memory, and every
// step of the loop would wait for the previous store.
__attribute__((noinline)) void sums_of_squares(double *sse_out, double *ssm_out) {
  double sse = 0, ssm = 0;
  const double ybar = s.ybar;
  for (int r = 0; r < nn; r++) {
    const double fit = s.yfit[s.pat[r]];
    sse += (yy[r] - fit) * (yy[r] - fit);
    ssm += (fit - ybar) * (fit - ybar);
  }
  *sse_out = sse;
  *ssm_out = ssm;
}

__attribute__((noinline)) double residual_sum_of_squares() {
  double sum = 0;
  for (int r = 0; r < nn; r++) {
    const double fit = s.yfit[s.pat[r]];
    sum += (yy[r] - fit) * (yy[r] - fit);
  }
  return sum;
}

void show_vector(const char *title, const double *v, int nc) {
  printf("%s  %g(Intercept)", title, v[0]);
  for (int k = 1; k < nc; k++) printf("  %g", v[k]);
  printf("\n");
}

void show_ivals(const char *title, const ModelEntry &m, double value) {
  printf("%s", title);
  for (int f = 0; f < nv; f++) printf(" %d", m.ivals[f]);
  printf("  %g\n", value);
}

void show_model_head(int j, const ModelEntry &m, int nc) {
  printf("%d. Model %s (nf=%d, nc=%d, moff=`%s')\n", j + 1, m.name, m.nf, nc,
         show_int_moff(m.moff));
  if (!verbose) return;
  printf("Base columns of XIMAT (nn=%d, nf=%d, moff=%s)\n", nn, m.nf, show_int_moff(m.moff));
  for (int r = 0; r < nn; r++) {
    for (int p = 0; p < m.nf; p++) printf(" %3d", design(r, m.moff[p]));
    printf("\n");
  }
  for (int r = 0; r < nn; r++)
    for (int k = 0; k < nc; k++) {
      s.xx[r * nc + k] = s.xp[s.pat[r] * nc + k];
      s.xxt[k * nn + r] = s.xx[r * nc + k];
    }
  printf("The design matrix X:\n");
  showmat(s.xx, nn, nc);
  printf("The matrix XT:\n");
  showmat(s.xxt, nc, nn);
}

// Marks the factors of every effect column that counts: all columns with
// the default alpha, else those whose two-sided t-test P-value is below it.
void mark_active(ModelEntry &m, int nc, double mse) {
  for (int f = 0; f < nv; f++) m.ivals[f] = 0;
  for (int k = 1; k < nc; k++) {
    if (alpha < 1) {
      double t = s.beta[k] / sqrt(mse * s.xtxi[k * nc + k]);
      s.pv[k] = pvttest(static_cast<double>(nn) - nc, t);
      if (s.pv[k] >= alpha) continue;
    }
    for (int p = 0; s.xm[k][p] >= 0; p++) m.ivals[s.xm[k][p]] = 1;
  }
}

// Fits one model; returns false when its X'X cannot be inverted.
bool fit_model(int j, ModelEntry &m) {
  const int nc = m.neff + 1;
  const double dfe = static_cast<double>(nn) - nc;  // error degrees of freedom
  set_columns(m, nc);
  distinct_rows(m, nc);
  if (showstep) show_model_head(j, m, nc);
  cross_products(nc);
  if (showstep) {
    printf("The %dx%d matrix XTX for %s:\n", nc, nc, m.name);
    showmat(s.xtx, nc, nc);
  }
  // With fewer runs than columns X'X has rank below nc: singular, however
  // the decomposition rounds.
  if (nn < nc || matinv(s.xtxi, s.xtx, nc) != 0) {
    printf("THE DESIGN MATRIX for model %s is NOT INVERTIBLE.\n", m.name);
    m.invalid = 1;
    ninvalid++;
    return false;
  }

  // Ordinary least squares: beta = (X'X)^-1 X'y, with residual and model
  // sums of squares in one pass over the runs.
  solve(s.xtxi, s.beta, nc);
  double sse, ssm;
  sums_of_squares(&sse, &ssm);
  const double rsq = ssm / (ssm + sse);
  m.adjrsq = 1 - (1 - rsq) * (nn - 1) / dfe;
  const double mse = sse / dfe;
  m.fstat = (ssm / (nc - 1)) / mse;
  m.rmse = sqrt(mse);
  m.loglik = -(nn / 2.0) * (log(kTwoPi * sse / nn) + 1);
  m.likelihood = exp(m.loglik);
  mark_active(m, nc, mse);

  // Box-Meyer posterior: the effects get the prior precision 1/gam^2;
  // cc = (X'X + G)^-1 X'y is the posterior mode and
  // bval = (pi/(1-pi))^nf gam^-(nc-1) det(X'X + G)^-1/2 Qqc^-(nn-1)/2.
  for (int k = 0; k < nc * nc; k++) s.xtxg[k] = s.xtx[k];
  for (int k = 1; k < nc; k++) s.xtxg[k * nc + k] += 1 / (gam * gam);
  double det = 0;
  matinvx2(s.xtxgi, s.xtxg, nc, &det, "XTXG");
  solve(s.xtxgi, s.cc, nc);
  double qqc = residual_sum_of_squares();
  for (int k = 1; k < nc; k++) qqc += (s.cc[k] / gam) * (s.cc[k] / gam);
  m.rmsec = sqrt(qqc / dfe);
  const double prior_odds = pi / (1 - pi);
  m.bval = pow(gam, -(nc - 1)) * pow(prior_odds, m.nf);
  m.bval *= 1 / sqrt(det);
  m.bval *= pow(qqc, -(nn - 1) / 2.0);
  // The same weight in logarithms, for normalising when the product under-
  // or overflows (large designs, responses in large units).
  s.logb[j] = m.nf * log(prior_odds) - (nc - 1) * log(gam) - 0.5 * log(det) -
              (nn - 1) / 2.0 * log(qqc);

  if (showstep) {
    show_vector("MLEs:", s.beta, nc);
    printf("SSE: %g   MSE: %g   RMSE: %g   LogLik: %g\n", sse, mse, m.rmse, m.loglik);
    printf("  AdjRsq: %g   Fstat: %g   Likelihood: %g\n", m.adjrsq, m.fstat, m.likelihood);
    if (alpha < 1) {
      printf("Pvalues: ");
      for (int k = 1; k < nc; k++) printf("  %g(%s)", s.pv[k], show_char_moff(s.xm[k]));
      printf("\n");
    }
    show_ivals("Ivalues and LikL: ", m, m.likelihood);
    printf("The %dx%d matrix XTXG:\n", nc, nc);
    showmat(s.xtxg, nc, nc);
    show_vector("Post.mode:", s.cc, nc);
    printf("Qqc: %g   Mqqc: %g   Rmsec=%g\n", qqc, qqc / dfe, m.rmsec);
    printf("  Xtxgdet: %g   Bval=PrePostProb: %g\n", det, m.bval);
    show_ivals("Ivalues and Bval: ", m, m.bval);
    presskey();
  }
  return true;
}

}  // namespace

void normalise_postprob(const double *logb) {
  double total = 0;
  for (int i = 0; i < nmod; i++) total += model[i].bval;
  if (std::isfinite(total) && total > 0) {
    for (int i = 0; i < nmod; i++) model[i].postprob = model[i].bval / total;
    return;
  }
  // Log space: weights relative to the largest valid one. Invalid models and
  // weights that are not numbers get probability 0; if some weights are
  // infinite, those models share the probability equally.
  double top = -INFINITY;
  for (int i = 0; i < nmod; i++)
    if (!model[i].invalid && !std::isnan(logb[i]) && logb[i] > top) top = logb[i];
  if (top == -INFINITY) {
    for (int i = 0; i < nmod; i++) model[i].postprob = 0;
    return;
  }
  auto weight = [&](int i) -> double {
    if (model[i].invalid || std::isnan(logb[i])) return 0;
    if (std::isinf(top)) return logb[i] == top ? 1 : 0;
    return exp(logb[i] - top);
  };
  double sum = 0;
  for (int i = 0; i < nmod; i++) sum += weight(i);
  for (int i = 0; i < nmod; i++) model[i].postprob = weight(i) / sum;
}

void calc_model_fields() {
  PlaceGuard place("Calc_Model_Fields");
  if (s.xp == nullptr || nn > s.rows || nmod > s.models || (verbose && s.xx == nullptr))
    allocate_scratch();
  survey_design();
  for (int j = 0; j < nmod; j++) {
    if (!fit_model(j, model[j])) s.logb[j] = -INFINITY;
  }
  if (ninvalid > 0) {
    bprintf("\n%s model%s out of %s were invalid.\n", commnum1(ninvalid), plural(ninvalid),
            commnum2(nmod));
    bprintf("(That is, the design matrix was singular.)\n");
  }
  normalise_postprob(s.logb);
}

}  // namespace bayescreen
