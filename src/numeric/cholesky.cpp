#include "numeric/cholesky.h"

#include <cmath>

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

}  // namespace bayescreen
