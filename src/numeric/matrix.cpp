#include "numeric/matrix.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "numeric/lanes.h"
#include "support/error.h"
#include "support/helpers.h"

namespace bayescreen {

// A fresh zero-filled result array of count doubles plus the 3 spare ones.
static double *new_doubles(int count) {
  return static_cast<double *>(cxalloc(static_cast<size_t>(count) + 3, sizeof(double)));
}

// Element by element: dst[j*m + i] = src[i*n + j].
double *set_transpose(double *dst, const double *src, int m, int n) {
  if (dst == nullptr) dst = new_doubles(m * n);
  for (int i = 0; i < m; i++)
    for (int j = 0; j < n; j++) dst[j * m + i] = src[i * n + j];
  return dst;
}

// Column by column of B: the column is copied into a buffer, then each row
// of A is multiplied into it with one sum accumulated from k = 0 upward.
void fast_matmult(double *C, const double *A, const double *B, int m, int n, int p) {
  std::vector<double> colbuff(static_cast<size_t>(n));
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
  // Formed apart first so that dst may be one of the operands.
  std::vector<double> product(static_cast<size_t>(m) * static_cast<size_t>(p));
  fast_matmult(product.data(), A, B, m, n, p);
  if (dst == nullptr) dst = new_doubles(m * p);
  memcpy(dst, product.data(), product.size() * sizeof(double));
  return dst;
}

double *matmult_fast(double *dst, const double *A, const double *B, int m, int n, int p) {
  if (A == nullptr || B == nullptr || m < 1 || n < 1 || p < 1) return nullptr;
  if (dst == nullptr) dst = new_doubles(m * p);
  fast_matmult(dst, A, B, m, n, p);
  return dst;
}

// (A B) C: A B and (A B) C are formed apart, then (A B) C goes to dst.
double *matmult3(double *dst, const double *A, const double *B, const double *C, int m,
                 int n, int p, int q) {
  if (A == nullptr || B == nullptr || C == nullptr || m < 1 || n < 1 || p < 1 || q < 1)
    return nullptr;
  std::vector<double> ab(static_cast<size_t>(m) * static_cast<size_t>(p));
  std::vector<double> abc(static_cast<size_t>(m) * static_cast<size_t>(q));
  fast_matmult(ab.data(), A, B, m, n, p);
  fast_matmult(abc.data(), ab.data(), C, m, p, q);
  if (dst == nullptr) dst = new_doubles(m * q);
  memcpy(dst, abc.data(), abc.size() * sizeof(double));
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
static int croutp_sized(double *a, int *piv, int n, int *nswaps) {
  if constexpr (N > 0) n = N;
  double local[N > 0 ? N : 1];
  std::vector<double> column(N > 0 ? 0 : static_cast<size_t>(n));
  double *col = N > 0 ? local : column.data();
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
    if (big <= 0.0) return -1;

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
      (*nswaps)++;
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

int croutp(double *a, int *piv, int n, int *nswaps) {
  int swaps = 0;
  int result;
  switch (n) {
    case 2: result = croutp_sized<2>(a, piv, n, &swaps); break;
    case 4: result = croutp_sized<4>(a, piv, n, &swaps); break;
    case 8: result = croutp_sized<8>(a, piv, n, &swaps); break;
    default: result = croutp_sized<0>(a, piv, n, &swaps); break;
  }
  if (nswaps != nullptr) *nswaps = swaps;
  return result;
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

// Decomposes a copy of a, solves for each unit vector e_i in row i of ainv
// (giving column i of the inverse), then transposes ainv in place. The
// determinant is (-1)^swaps times the product of the diagonal of U,
// multiplied in order of i.
int matinv(double *ainv, const double *a, int n, double *det) {
  if (a == nullptr || ainv == nullptr || n < 1) return -1;
  // Small matrices, as in the model fits, are decomposed on the stack.
  constexpr int kLocal = 8;
  double local[kLocal * kLocal];
  int local_piv[kLocal];
  std::vector<double> heap;
  std::vector<int> heap_piv;
  double *lu = local;
  int *piv = local_piv;
  if (n > kLocal) {
    heap.resize(static_cast<size_t>(n) * static_cast<size_t>(n));
    heap_piv.resize(static_cast<size_t>(n));
    lu = heap.data();
    piv = heap_piv.data();
  }
  memcpy(lu, a, static_cast<size_t>(n) * n * sizeof(double));
  int swaps = 0;
  if (croutp(lu, piv, n, &swaps) != 0) return -1;
  if (det != nullptr) {
    double d = 1.0;
    for (int i = 0; i < n; i++) d *= lu[i * n + i];
    *det = swaps % 2 != 0 ? -d : d;
  }
  if (invert_sized(lu, piv, ainv, n)) return 0;

  for (int i = 0; i < n; i++) {
    double *row = ainv + i * n;
    for (int j = 0; j < n; j++) row[j] = 0.0;
    row[i] = 1.0;
    lu_solve(lu, row, piv, n);
  }
  for (int i = 0; i < n; i++)
    for (int j = i + 1; j < n; j++) {
      double t = ainv[i * n + j];
      ainv[i * n + j] = ainv[j * n + i];
      ainv[j * n + i] = t;
    }
  return 0;
}

double *matinvx(double *ainv, const double *a, int n, double *det, const char *name) {
  if (ainv == nullptr && n >= 1) ainv = new_doubles(n * n);
  if (matinv(ainv, a, n, det) != 0) {
    char message[160];
    snprintf(message, sizeof message, "%s\nCANNOT INVERT the %dx%d MATRIX %s !\n", kZeroPivotMessage,
             n, n, name != nullptr ? name : "");
    throw Error(message);
  }
  return ainv;
}

}  // namespace bayescreen
