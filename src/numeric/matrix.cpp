#include "numeric/matrix.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "numeric/lanes.h"
#include "support/helpers.h"

namespace bayescreen {

double *gmat = nullptr, *gmat1 = nullptr, *gmat2 = nullptr;
double *gvec = nullptr, *gvec1 = nullptr, *gvec2 = nullptr;
double *colbuff = nullptr, *rowbuff = nullptr;
int *indx = nullptr;
int oldnn = 0;
int nswaps = 0;

// A fresh zero-filled result array of count doubles plus the 3 spare ones.
static double *new_doubles(int count) {
  return static_cast<double *>(cxalloc(static_cast<size_t>(count) + 3, sizeof(double)));
}

static int max2(int a, int b) { return a > b ? a : b; }

int set_mat_arrays(int n) {
  if (n <= 4) n = 5;
  if (oldnn >= n) return n;
  // Old count 0: every block comes back entirely zero-filled, so nothing of
  // the previous contents survives a growth.
  unsigned nsq = static_cast<unsigned>(n) * static_cast<unsigned>(n);
  unsigned nv = static_cast<unsigned>(n);
  gmat = static_cast<double *>(rexxalloc(gmat, sizeof(double), 0, nsq));
  gmat1 = static_cast<double *>(rexxalloc(gmat1, sizeof(double), 0, nsq));
  gmat2 = static_cast<double *>(rexxalloc(gmat2, sizeof(double), 0, nsq));
  gvec = static_cast<double *>(rexxalloc(gvec, sizeof(double), 0, nv));
  gvec1 = static_cast<double *>(rexxalloc(gvec1, sizeof(double), 0, nv));
  gvec2 = static_cast<double *>(rexxalloc(gvec2, sizeof(double), 0, nv));
  colbuff = static_cast<double *>(rexxalloc(colbuff, sizeof(double), 0, nv));
  rowbuff = static_cast<double *>(rexxalloc(rowbuff, sizeof(double), 0, nv));
  indx = static_cast<int *>(rexxalloc(indx, sizeof(int), 0, nv));
  oldnn = n;
  return n;
}

// Element by element: dst[j*m + i] = src[i*n + j].
double *set_transpose(double *dst, const double *src, int m, int n) {
  if (dst == nullptr) dst = new_doubles(m * n);
  for (int i = 0; i < m; i++)
    for (int j = 0; j < n; j++) dst[j * m + i] = src[i * n + j];
  return dst;
}

// Column by column of B: the column is copied into colbuff, then each row of
// A is multiplied into it with one sum accumulated from k = 0 upward.
void fast_matmult(double *C, const double *A, const double *B, int m, int n, int p) {
  for (int i = 0; i < p; i++) {
    for (int k = 0; k < n; k++) colbuff[k] = B[k * p + i];
    for (int j = 0; j < m; j++) {
      const double *arow = A + j * n;
      double sum = 0.0;
      for (int k = 0; k < n; k++) sum += arow[k] * colbuff[k];
      C[j * p + i] = sum;
    }
  }
}

double *matmult(double *dst, const double *A, const double *B, int m, int n, int p) {
  if (A == nullptr || B == nullptr || m < 1 || n < 1 || p < 1) return nullptr;
  int big = max2(max2(m, n), p);
  if (oldnn < big) set_mat_arrays(big);
  // Formed in gmat first so that dst may be one of the operands.
  fast_matmult(gmat, A, B, m, n, p);
  if (dst == nullptr) dst = new_doubles(m * p);
  memcpy(dst, gmat, static_cast<size_t>(m) * p * sizeof(double));
  return dst;
}

double *matmult_fast(double *dst, const double *A, const double *B, int m, int n, int p) {
  if (A == nullptr || B == nullptr || m < 1 || n < 1 || p < 1) return nullptr;
  if (oldnn < n) set_mat_arrays(n);
  if (dst == nullptr) dst = new_doubles(m * p);
  fast_matmult(dst, A, B, m, n, p);
  return dst;
}

// (A B) C: A B goes to gmat1, (A B) C to gmat2, then to dst.
double *matmult3(double *dst, const double *A, const double *B, const double *C, int m,
                 int n, int p, int q) {
  if (A == nullptr || B == nullptr || C == nullptr || m < 1 || n < 1 || p < 1 || q < 1)
    return nullptr;
  int big = max2(max2(m, n), max2(p, q));
  if (oldnn < big) set_mat_arrays(big);
  matmult_fast(gmat1, A, B, m, n, p);
  matmult_fast(gmat2, gmat1, C, m, p, q);
  if (dst == nullptr) dst = new_doubles(m * q);
  memcpy(dst, gmat2, static_cast<size_t>(m) * q * sizeof(double));
  return dst;
}

// Crout's method, column by column, with partial pivoting on the entry of
// largest magnitude (no row scaling). For column i:
//   U part, rows 1..i-1:  u[j][i] = a[j][i] - sum_{k<j} l[j][k] u[k][i]
//   rows i..n-1:          c[j]    = a[j][i] - sum_{k<i} l[j][k] u[k][i]
// the largest |c[j]| (the first of equal ones) becomes the pivot, its row is
// exchanged with row i, and the entries below it are multiplied by the
// reciprocal of the pivot to give column i of L.
// N > 0 compiles the routine for that size (the model fits use 2, 4 and 8);
// N == 0 works with the size n given at run time. The arithmetic is the same.
template <int N>
static int croutp_sized(double *a, int *piv, int n) {
  if constexpr (N > 0) n = N;
  double local[N > 0 ? N : 1];
  double *col = N > 0 ? local : colbuff;
  for (int i = 0; i < n; i++) {
    for (int j = 0; j < n; j++) col[j] = a[j * n + i];

    for (int j = 1; j < i; j++) {
      const double *arow = a + j * n;
      double sum = 0.0;
#pragma GCC unroll 8
      for (int k = 0; k < j; k++) sum += arow[k] * col[k];
      col[j] -= sum;
    }

    double big = -1.0;
    int c = i;
    for (int j = i; j < n; j++) {
      const double *arow = a + j * n;
      double sum = 0.0;
#pragma GCC unroll 8
      for (int k = 0; k < i; k++) sum += arow[k] * col[k];
      col[j] -= sum;
      double mag = std::fabs(col[j]);
      if (mag > big) {  // strictly greater: on ties the lowest row stays
        big = mag;
        c = j;
      }
    }

    // Also catches a column whose candidates are all not-a-number.
    if (big <= 0.0) {
      show_zero_pivots();
      return -1;
    }

    if (c != i) {
      double *ri = a + i * n, *rc = a + c * n;
      for (int j = 0; j < n; j++) {
        double t = ri[j];
        ri[j] = rc[j];
        rc[j] = t;
      }
      double t = col[i];
      col[i] = col[c];
      col[c] = t;
      nswaps++;
    }
    piv[i] = c;

    if (i < n - 1) {
      double rpiv = 1.0 / col[i];
      for (int j = i + 1; j < n; j++) col[j] *= rpiv;
    }

    for (int j = 0; j < n; j++) a[j * n + i] = col[j];
  }
  return 0;
}

void show_zero_pivots() { printf("CROUTP: All potential pivot elements are zero!\n"); }

int croutp(double *a, int *piv, int n) {
  set_mat_arrays(n);
  nswaps = 0;
  switch (n) {
    case 2: return croutp_sized<2>(a, piv, n);
    case 4: return croutp_sized<4>(a, piv, n);
    case 8: return croutp_sized<8>(a, piv, n);
    default: return croutp_sized<0>(a, piv, n);
  }
}

// Forward substitution with L (unit diagonal), undoing the row exchanges as
// it goes and skipping the leading zero entries of b, then back substitution
// with U.
void lu_solve(const double *lu, double *b, const int *piv, int n) {
  int first = -1;
  for (int i = 0; i < n; i++) {
    int p = piv[i];
    double sum = b[p];
    b[p] = b[i];
    if (first >= 0) {
      for (int j = first; j < i; j++) sum -= lu[i * n + j] * b[j];
    } else if (sum != 0.0) {  // a not-a-number counts as nonzero
      first = i;
    }
    b[i] = sum;
  }
  for (int i = n - 1; i >= 0; i--) {
    double sum = b[i];
    for (int j = i + 1; j < n; j++) sum -= lu[i * n + j] * b[j];
    b[i] = sum / lu[i * n + i];
  }
}

// All n columns of the inverse at once from the factors in lu: the forward
// and back substitutions of lu_solve applied to the unit vectors side by
// side, two in the lanes of a v2d. Row k of w holds component k of every
// solution, so w is the inverse itself. lu_solve skips the leading zero
// entries of its right-hand side; here those zeros take part, which changes
// nothing as long as every value stays finite (a finite number times +0 is
// a zero, and subtracting a zero from a sum that is never -0 leaves it as
// it was). Returns false, leaving the result to lu_solve, when a value is
// not finite.

template <int N>
static bool invert_from_lu(const double *lu, const int *piv, double *ainv) {
  constexpr int V = N / 2;
  for (int k = 0; k < N * N; k++)
    if (!std::isfinite(lu[k])) return false;
  v2d w[N][V];
  for (int k = 0; k < N; k++)
    for (int v = 0; v < V; v++) w[k][v] = v2d{k == 2 * v ? 1.0 : 0.0, k == 2 * v + 1 ? 1.0 : 0.0};
  for (int i = 0; i < N; i++) {
    const int p = piv[i];
    v2d sum[V];
    for (int v = 0; v < V; v++) {
      sum[v] = w[p][v];
      w[p][v] = w[i][v];
    }
    for (int j = 0; j < i; j++) {
      const v2d l = {lu[i * N + j], lu[i * N + j]};
#pragma GCC unroll 4
      for (int v = 0; v < V; v++) sum[v] -= l * w[j][v];
    }
    for (int v = 0; v < V; v++) w[i][v] = sum[v];
  }
  for (int i = N - 1; i >= 0; i--) {
    v2d sum[V];
    for (int v = 0; v < V; v++) sum[v] = w[i][v];
    for (int j = i + 1; j < N; j++) {
      const v2d u = {lu[i * N + j], lu[i * N + j]};
#pragma GCC unroll 4
      for (int v = 0; v < V; v++) sum[v] -= u * w[j][v];
    }
    const v2d d = {lu[i * N + i], lu[i * N + i]};
    for (int v = 0; v < V; v++) w[i][v] = sum[v] / d;
  }
  for (int k = 0; k < N; k++)
    for (int v = 0; v < V; v++)
      for (int lane = 0; lane < 2; lane++)
        if (!std::isfinite(w[k][v][lane])) return false;
  memcpy(ainv, w, sizeof w);
  return true;
}

static bool invert_sized(const double *lu, const int *piv, double *ainv, int n) {
  switch (n) {
    case 2: return invert_from_lu<2>(lu, piv, ainv);
    case 4: return invert_from_lu<4>(lu, piv, ainv);
    case 8: return invert_from_lu<8>(lu, piv, ainv);
    default: return false;
  }
}

// Decomposes a copy of a in gmat, solves for each unit vector e_i in row i
// of ainv (giving column i of the inverse), then transposes ainv in place.
int matinv(double *ainv, const double *a, int n) {
  if (a == nullptr || ainv == nullptr || n < 1) {
    printf("MATINV: A or AINV is NULL or nn<1!\n");
    return -1;
  }
  set_mat_arrays(n);
  memcpy(gmat, a, static_cast<size_t>(n) * n * sizeof(double));
  if (croutp(gmat, indx, n) != 0) return -1;
  if (invert_sized(gmat, indx, ainv, n)) return 0;

  for (int i = 0; i < n; i++) {
    double *row = ainv + i * n;
    for (int j = 0; j < n; j++) row[j] = 0.0;
    row[i] = 1.0;
    lu_solve(gmat, row, indx, n);
  }
  for (int i = 0; i < n; i++)
    for (int j = i + 1; j < n; j++) {
      double t = ainv[i * n + j];
      ainv[i * n + j] = ainv[j * n + i];
      ainv[j * n + i] = t;
    }
  return 0;
}

double *matinvx(double *ainv, const double *a, int n, const char *name) {
  if (ainv == nullptr && n >= 1) ainv = new_doubles(n * n);
  if (matinv(ainv, a, n) != 0) {
    if (name != nullptr) printf("\nCANNOT INVERT the %dx%d MATRIX %s !\n", n, n, name);
    exit(1);
  }
  return ainv;
}

double *matinvx2(double *ainv, const double *a, int n, double *det, const char *name) {
  ainv = matinvx(ainv, a, n, name);
  if (det != nullptr) *det = get_gmat_det(n);
  return ainv;
}

// det = (-1)^nswaps * product of the diagonal of U, multiplied in order of i
// starting from 1. Not a number when no decomposition of that size exists.
double get_gmat_det(int n) {
  if (n > oldnn) return std::nan("");
  double det = 1.0;
  for (int i = 0; i < n; i++) det *= gmat[i * n + i];
  if (nswaps % 2 != 0) det = -det;
  return det;
}

}  // namespace bayescreen
