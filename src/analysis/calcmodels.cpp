#include "analysis/calcmodels.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "analysis/driver.h"
#include "analysis/models.h"
#include "analysis/readdat.h"
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

// Scratch storage, obtained once for the largest model and reused; it is
// obtained again only if a later call brings more runs or models.
struct Scratch {
  int32_t rows = 0;         // runs the arrays have room for
  int models = 0;           // models logb has room for
  double *xx = nullptr;     // model matrix X, nn x nc
  double *xxt = nullptr;    // X', nc x nn
  double *xtx = nullptr;    // X'X
  double *xtxi = nullptr;   // (X'X)^-1
  double *beta = nullptr;   // least-squares estimates
  double *yfit = nullptr;   // X beta
  double *pv = nullptr;     // P-value of each effect column
  double *xtxg = nullptr;   // X'X plus the prior precision
  double *xtxgi = nullptr;  // its inverse
  double *cc = nullptr;     // posterior mode
  double *yfitc = nullptr;  // X cc
  int32_t (*xm)[5] = nullptr;  // factors forming each column of X, -1-terminated
  double *logb = nullptr;   // log posterior weight of each model
};
Scratch s;

double *doubles(size_t n) { return static_cast<double *>(cxalloc(n + 3, sizeof(double))); }

void allocate_scratch() {
  for (double *p : {s.xx, s.xxt, s.xtx, s.xtxi, s.beta, s.yfit, s.pv, s.xtxg, s.xtxgi, s.cc,
                    s.yfitc, s.logb})
    free(p);
  free(s.xm);
  s.rows = nn;
  s.models = nmod;
  const size_t rows = static_cast<size_t>(nn);
  s.xx = doubles(rows * (maxnc + 3));
  s.xxt = doubles(rows * (maxnc + 3));
  s.xtx = doubles(maxnc * maxnc);
  s.xtxi = doubles(maxnc * maxnc);
  s.beta = doubles(maxnc);
  s.yfit = doubles(rows);
  s.pv = doubles(maxnc);
  s.xtxg = doubles(maxnc * maxnc);
  s.xtxgi = doubles(maxnc * maxnc);
  s.cc = doubles(maxnc);
  s.yfitc = doubles(rows);
  s.xm = static_cast<int32_t(*)[5]>(cxalloc(maxnc + 3, sizeof(int32_t[5])));
  s.logb = doubles(static_cast<size_t>(nmod));
}

int32_t design(int r, int col) {
  return ximat[static_cast<size_t>(r) * static_cast<size_t>(mm) + static_cast<size_t>(col)];
}

void set_xm(int col, int a, int b = -1, int c = -1) {
  s.xm[col][0] = a;
  s.xm[col][1] = b;
  s.xm[col][2] = c;
  s.xm[col][3] = -1;
}

// X: intercept, main effects in column order, then the two-factor
// interactions in lexicographic order, then the three-factor interaction.
void build_model_matrix(const ModelEntry &m, int nc) {
  const int32_t *f = m.moff;
  for (int col = 0; col < nc; col++) s.xm[col][0] = -1;
  int col = 1;
  for (int p = 0; p < m.nf; p++) set_xm(col++, f[p]);
  for (int p = 0; p < m.nf; p++)
    for (int q = p + 1; q < m.nf; q++) set_xm(col++, f[p], f[q]);
  if (m.nf == 3) set_xm(col++, f[0], f[1], f[2]);

  for (int r = 0; r < nn; r++) {
    double *row = &s.xx[static_cast<size_t>(r) * static_cast<size_t>(nc)];
    row[0] = 1.0;
    for (int k = 1; k < nc; k++) {
      int32_t product = 1;
      for (int p = 0; s.xm[k][p] >= 0; p++) product *= design(r, s.xm[k][p]);
      row[k] = static_cast<double>(product);
    }
  }
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
  printf("The design matrix X:\n");
  showmat(s.xx, nn, nc);
  printf("The matrix XT:\n");
  showmat(s.xxt, nc, nn);
}

// Residual and model sums of squares, in one pass over the rows.
void sums_of_squares(const double *fit, double *sse, double *ssm) {
  double sum = 0;
  for (int r = 0; r < nn; r++) sum += yy[r];
  const double ybar = sum / nn;
  *sse = 0;
  *ssm = 0;
  for (int r = 0; r < nn; r++) {
    *sse += (yy[r] - fit[r]) * (yy[r] - fit[r]);
    *ssm += (fit[r] - ybar) * (fit[r] - ybar);
  }
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
  build_model_matrix(m, nc);
  set_transpose(s.xxt, s.xx, nn, nc);
  if (showstep) show_model_head(j, m, nc);
  matmult(s.xtx, s.xxt, s.xx, nc, nn, nc);
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

  // Ordinary least squares: beta = (X'X)^-1 X'y.
  matmult3(s.beta, s.xtxi, s.xxt, yy, nc, nc, nn, 1);
  matmult(s.yfit, s.xx, s.beta, nn, nc, 1);
  double sse, ssm;
  sums_of_squares(s.yfit, &sse, &ssm);
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
  matmult3(s.cc, s.xtxgi, s.xxt, yy, nc, nc, nn, 1);
  matmult(s.yfitc, s.xx, s.cc, nn, nc, 1);
  double qqc = 0;
  for (int r = 0; r < nn; r++) qqc += (yy[r] - s.yfitc[r]) * (yy[r] - s.yfitc[r]);
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
  set_program_place("Calc_Model_Fields");
  if (s.xx == nullptr || nn > s.rows || nmod > s.models) allocate_scratch();
  for (int j = 0; j < nmod; j++) {
    if (!fit_model(j, model[j])) s.logb[j] = -INFINITY;
  }
  if (ninvalid > 0) {
    bprintf("\n%s model%s out of %s were invalid.\n", commnum1(ninvalid), plural(ninvalid),
            commnum2(nmod));
    bprintf("(That is, the design matrix was singular.)\n");
  }
  normalise_postprob(s.logb);
  reset_program_place("Calc_Model_Fields");
}

}  // namespace bayescreen
