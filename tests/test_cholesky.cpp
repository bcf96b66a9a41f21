// Cholesky factors grown row by row: a hand-computed factor, and the
// interleaved steps of several factors, which must give each factor the
// very numbers of the single steps.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "numeric/cholesky.h"

using namespace bayescreen;

TEST(Cholesky, HandComputedFactorAndForwardSubstitution) {
  // A = [[4, 2, 2], [2, 5, 3], [2, 3, 6]] = L L' with
  // L = [[2, 0, 0], [1, 2, 0], [1, 1, 2]]; L z = (2, 5, 7) gives z = (1, 2, 2).
  const double a[3][3] = {{4, 2, 2}, {2, 5, 3}, {2, 3, 6}};
  const double b[3] = {2, 5, 7};
  double l[9] = {}, z[3] = {};
  const double pivots[3] = {4, 4, 4};
  for (int j = 0; j < 3; j++) {
    EXPECT_EQ(cholesky_append_row(l, 3, j, a[j]), pivots[j]);
    z[j] = cholesky_forward_step(l, 3, j, z, b[j]);
  }
  const double expected[9] = {2, 0, 0, 1, 2, 0, 1, 1, 2};
  for (int k = 0; k < 9; k++) EXPECT_EQ(l[k], expected[k]) << k;
  EXPECT_EQ(z[0], 1);
  EXPECT_EQ(z[1], 2);
  EXPECT_EQ(z[2], 2);
  // A column in the span of the others (column 0 + column 2) leaves a zero
  // pivot and diagonal.
  double m[16] = {};
  for (int j = 0; j < 3; j++) cholesky_append_row(m, 4, j, a[j]);
  const double row3[4] = {a[0][0] + a[0][2], a[1][0] + a[1][2], a[2][0] + a[2][2],
                          a[0][0] + 2 * a[0][2] + a[2][2]};
  EXPECT_EQ(cholesky_append_row(m, 4, 3, row3), 0);
  EXPECT_EQ(m[15], 0);
}

TEST(Cholesky, InterleavedFactorsAreTheSingleFactorsBitForBit) {
  // Random matrices X'X of 6 columns plus a different diagonal shift for
  // each of 5 factors (the prior precisions of 5 priors), one with a shift
  // too small to keep a dependent column positive.
  uint64_t state = 42;
  auto next = [&state] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state >> 11) / 9007199254740992.0 - 0.5;
  };
  const int n = 6, count = 5, rows = 9;
  std::vector<double> x(static_cast<size_t>(rows * n));
  for (double &v : x) v = next();
  for (int r = 0; r < rows; r++) x[static_cast<size_t>(r * n + 5)] = x[static_cast<size_t>(r * n + 1)];  // column 5 = column 1
  std::vector<double> xtx(static_cast<size_t>(n * n), 0.0), b(static_cast<size_t>(n), 0.0);
  for (int i = 0; i < n; i++) {
    for (int j = 0; j < n; j++)
      for (int r = 0; r < rows; r++)
        xtx[static_cast<size_t>(i * n + j)] += x[static_cast<size_t>(r * n + i)] * x[static_cast<size_t>(r * n + j)];
    b[static_cast<size_t>(i)] = next();
  }
  const double shift[count] = {0.25, 1.0 / 3, 4, 1e-3, 0};
  // The interleaved factors.
  std::vector<double> li(static_cast<size_t>(n * n * count), 0.0), zi(static_cast<size_t>(n * count), 0.0);
  std::vector<double> diag(count), pivot(count);
  std::vector<std::vector<double>> pivots(count);
  for (int j = 0; j < n; j++) {
    for (int g = 0; g < count; g++) diag[static_cast<size_t>(g)] = xtx[static_cast<size_t>(j * n + j)] + shift[g];
    cholesky_append_row_interleaved(li.data(), n, count, j, &xtx[static_cast<size_t>(j * n)], diag.data(), pivot.data());
    cholesky_forward_step_interleaved(li.data(), n, count, j, zi.data(), b[static_cast<size_t>(j)]);
    for (int g = 0; g < count; g++) pivots[static_cast<size_t>(g)].push_back(pivot[static_cast<size_t>(g)]);
  }
  // Each factor alone.
  for (int g = 0; g < count; g++) {
    SCOPED_TRACE(g);
    std::vector<double> l(static_cast<size_t>(n * n), 0.0), z(static_cast<size_t>(n), 0.0), a(static_cast<size_t>(n));
    for (int j = 0; j < n; j++) {
      for (int i = 0; i <= j; i++) a[static_cast<size_t>(i)] = xtx[static_cast<size_t>(j * n + i)];
      a[static_cast<size_t>(j)] += shift[g];
      const double d = cholesky_append_row(l.data(), n, j, a.data());
      EXPECT_EQ(memcmp(&d, &pivots[static_cast<size_t>(g)][static_cast<size_t>(j)], sizeof d), 0) << "pivot " << j;
      z[static_cast<size_t>(j)] = cholesky_forward_step(l.data(), n, j, z.data(), b[static_cast<size_t>(j)]);
      if (d <= 0) break;  // nothing built on a failed pivot is used
      for (int i = 0; i <= j; i++)
        EXPECT_EQ(l[static_cast<size_t>(j * n + i)], li[static_cast<size_t>((j * n + i) * count + g)]) << j << "," << i;
      EXPECT_EQ(z[static_cast<size_t>(j)], zi[static_cast<size_t>(j * count + g)]) << j;
    }
  }
  // The factor without a shift meets the dependent column: pivot not positive.
  EXPECT_LE(pivots[4][5], 1e-12);
  EXPECT_GT(pivots[3][5], 0);
}
