#include "numeric/cholesky.h"

#include <cmath>
#include <cstddef>

namespace bayescreen {

double cholesky_append_row(double *l, int ld, int j, const double *a) {
  double *row = l + j * ld;
  double dd = 0;
  for (int i = 0; i < j; i++) {
    const double *ri = l + i * ld;
    double sum = a[i];
    for (int p = 0; p < i; p++) sum -= ri[p] * row[p];
    row[i] = sum / ri[i];
    dd += row[i] * row[i];
  }
  const double d = a[j] - dd;
  row[j] = d > 0 ? std::sqrt(d) : 0.0;
  return d;
}

double cholesky_forward_step(const double *l, int ld, int j, const double *z, double bj) {
  const double *row = l + j * ld;
  double sum = bj;
  for (int p = 0; p < j; p++) sum -= row[p] * z[p];
  return sum / row[j];
}

void cholesky_append_row_interleaved(double *l, int ld, int count, int j, const double *a,
                                     const double *diag, double *d) {
  const size_t n = static_cast<size_t>(count);
  auto at = [&](int i, int p) { return l + (static_cast<size_t>(i) * static_cast<size_t>(ld) + static_cast<size_t>(p)) * n; };
  for (size_t g = 0; g < n; g++) d[g] = 0;  // the running sum of the squares of row j
  for (int i = 0; i < j; i++) {
    double *out = at(j, i);
    for (size_t g = 0; g < n; g++) out[g] = a[i];
    for (int p = 0; p < i; p++) {
      const double *ri = at(i, p), *rj = at(j, p);
      for (size_t g = 0; g < n; g++) out[g] -= ri[g] * rj[g];
    }
    const double *pivot = at(i, i);
    for (size_t g = 0; g < n; g++) {
      out[g] = out[g] / pivot[g];
      d[g] += out[g] * out[g];
    }
  }
  double *last = at(j, j);
  for (size_t g = 0; g < n; g++) {
    d[g] = diag[g] - d[g];
    last[g] = d[g] > 0 ? std::sqrt(d[g]) : 0.0;
  }
}

void cholesky_forward_step_interleaved(const double *l, int ld, int count, int j, double *z, double bj) {
  const size_t n = static_cast<size_t>(count);
  const double *row = l + static_cast<size_t>(j) * static_cast<size_t>(ld) * n;
  double *out = z + static_cast<size_t>(j) * n;
  for (size_t g = 0; g < n; g++) out[g] = bj;
  for (int p = 0; p < j; p++)
    for (size_t g = 0; g < n; g++) out[g] -= row[static_cast<size_t>(p) * n + g] * z[static_cast<size_t>(p) * n + g];
  const double *pivot = row + static_cast<size_t>(j) * n;
  for (size_t g = 0; g < n; g++) out[g] /= pivot[g];
}

double cholesky_remove_row(double *l, int ld, int t, int j, double *z) {
  // Rows j+1 .. t-1 move up: row i of the result (i >= j) has entries in
  // columns 0 .. i+1, one past the diagonal, until rotated.
  for (int i = j; i + 1 < t; i++) {
    double *to = l + i * ld;
    const double *from = l + (i + 1) * ld;
    for (int p = 0; p <= i + 1; p++) to[p] = from[p];
  }
  for (int i = j; i + 1 < t; i++) {
    // The rotation of columns i and i+1 that zeroes entry (i, i+1).
    double *row = l + i * ld;
    const double a = row[i], b = row[i + 1];
    const double r = std::hypot(a, b);
    const double c = a / r, s = b / r;
    row[i] = r;
    row[i + 1] = 0;
    for (int k = i + 1; k + 1 < t; k++) {
      double *rk = l + k * ld;
      const double x = rk[i], y = rk[i + 1];
      rk[i] = c * x + s * y;
      rk[i + 1] = -s * x + c * y;
    }
    const double zi = z[i], zn = z[i + 1];
    z[i] = c * zi + s * zn;
    z[i + 1] = -s * zi + c * zn;
  }
  return z[t - 1];
}

}  // namespace bayescreen
