#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "numeric/matrix.h"
#include "support/error.h"
#include "testutil.h"

using namespace bayescreen;

// Checks entries exactly: every case below has a result that is exact in
// binary floating point.
static void expect_entries(const double *got, std::initializer_list<double> want) {
  int k = 0;
  for (double w : want) {
    EXPECT_EQ(got[k], w) << "entry " << k;
    k++;
  }
}

// The factors, pivot rows and exchanges croutp leaves for a.
struct Lu {
  std::vector<double> lu;
  std::vector<int> piv;
  int swaps = -1;
};
static Lu decompose(std::vector<double> a) {
  Lu f;
  f.piv.assign(static_cast<size_t>(std::sqrt(static_cast<double>(a.size()))), -1);
  f.lu = std::move(a);
  EXPECT_EQ(croutp(f.lu.data(), f.piv.data(), static_cast<int>(f.piv.size()), &f.swaps), 0);
  return f;
}

TEST(MatrixInverse, KnownInversesAndDeterminants) {
  double a1[1] = {4}, i1[1], det = 0;
  ASSERT_EQ(matinv(i1, a1, 1, &det), 0);
  EXPECT_EQ(i1[0], 0.25);
  EXPECT_EQ(det, 4.0);

  double p[4] = {0, 1, 1, 0}, pinv[4];
  ASSERT_EQ(matinv(pinv, p, 2, &det), 0);
  expect_entries(pinv, {0, 1, 1, 0});
  EXPECT_EQ(det, -1.0);
  EXPECT_EQ(decompose({0, 1, 1, 0}).swaps, 1);

  // det 16, inverse [[0, 1/4, 3/8], [-1/2, 1/2, 1/2], [-1/2, 0, 1/4]];
  // column 0 pivots on row 2, column 1 on its diagonal row; U diagonal 4, 2, -2.
  double a[9] = {2, -1, -1, -2, 3, -3, 4, -2, 2};
  double *inv = matinvx(nullptr, a, 3, nullptr, "A");  // allocated
  expect_entries(inv, {0, 0.25, 0.375, -0.5, 0.5, 0.5, -0.5, 0, 0.25, 0, 0, 0});
  free(inv);
  const Lu f = decompose({2, -1, -1, -2, 3, -3, 4, -2, 2});
  EXPECT_EQ(f.swaps, 1);
  EXPECT_EQ(f.piv[0], 2);
  EXPECT_EQ(f.piv[1], 1);
  expect_entries(f.lu.data(), {4, -2, 2, -0.5, 2, -2, 0.5, 0, -2});

  EXPECT_EQ(matinvx(a, a, 3, &det, "A"), a);  // in place
  expect_entries(a, {0, 0.25, 0.375, -0.5, 0.5, 0.5, -0.5, 0, 0.25});
  EXPECT_EQ(det, 16.0);
  ASSERT_EQ(matinv(a, a, 3), 0);  // and back
  expect_entries(a, {2, -1, -1, -2, 3, -3, 4, -2, 2});
}

// Equal magnitudes of opposite sign: the first of them becomes the pivot.
TEST(MatrixInverse, PivotTiesGoToTheLowerRow) {
  double a[4] = {1, 2, -1, 3}, ainv[4], det = 0;  // diagonal row wins: no exchange
  ASSERT_EQ(matinv(ainv, a, 2, &det), 0);
  const Lu f = decompose({1, 2, -1, 3});
  EXPECT_EQ(f.swaps, 0);
  EXPECT_EQ(f.piv[0], 0);
  EXPECT_DOUBLE_EQ(det, 5.0);
  const double want[4] = {0.6, -0.4, 0.2, 0.2};  // (1/5) [[3, -2], [1, 1]]
  for (int k = 0; k < 4; k++) EXPECT_NEAR(ainv[k], want[k], 1e-15);

  // Rows 1 and 2 tie (-2, 2): row 1 is taken. Inverse [[0,-1/2,0],[1,0,0],[0,1,1]].
  double b[9] = {0, 1, 0, -2, 0, 0, 2, 0, 1};
  const Lu g = decompose({0, 1, 0, -2, 0, 0, 2, 0, 1});
  EXPECT_EQ(g.piv[0], 1);
  EXPECT_EQ(g.swaps, 1);
  ASSERT_EQ(matinv(b, b, 3, &det), 0);
  EXPECT_EQ(det, 2.0);
  expect_entries(b, {0, -0.5, 0, 1, 0, 0, 0, 1, 1});
}

// The arithmetic order is fixed; these cases have exactly known answers
// that other orders miss.
TEST(MatrixInverse, ArithmeticOrder) {
  // det [[1,0,1e16],[0,1,-1e16],[1,1,1]] = 1: the last pivot is
  // 1 - (1e16 + -1e16) = 1; subtracting term by term gives 0 (singular).
  double a[9] = {1, 0, 1e16, 0, 1, -1e16, 1, 1, 1}, w[16], det = 0;
  ASSERT_EQ(matinv(w, a, 3, &det), 0);
  EXPECT_EQ(det, 1.0);
  // L = I plus a last row of ones, U = I with last column (1e16,-1e16,0.5,1):
  // the last pivot is 1.5 - ((1e16 + -1e16) + 0.5) = 1 (from k = 0 upward);
  // from the other end, or term by term, it would be 1.5.
  double b[16] = {1, 0, 0, 1e16, 0, 1, 0, -1e16, 0, 0, 1, 0.5, 1, 1, 1, 1.5};
  ASSERT_EQ(matinv(w, b, 4, &det), 0);
  EXPECT_EQ(det, 1.0);
  // Below the pivot: 5 times the reciprocal of 6, one bit below 5/6.
  const Lu f = decompose({6, 0, 5, 1});
  EXPECT_EQ(f.lu[2], 0x1.aaaaaaaaaaaaap-1);
  EXPECT_NE(f.lu[2], 5.0 / 6.0);
}

// A factor that holds an infinity: the inverse is formed by the plain
// substitutions, which give the limit (1/inf = 0), where the vectorised
// inversion would meet inf * 0.
TEST(MatrixInverse, AnInfiniteFactorFallsBackToThePlainSubstitutions) {
  for (int n : {2, 4, 8}) {
    SCOPED_TRACE("size " + std::to_string(n));
    std::vector<double> a(static_cast<size_t>(n * n), 0.0), ainv(a.size(), -1.0);
    for (int i = 0; i < n; i++) a[static_cast<size_t>(i * n + i)] = i + 1;
    a[static_cast<size_t>(n * n - 1)] = INFINITY;
    ASSERT_EQ(matinv(ainv.data(), a.data(), n), 0);
    for (int i = 0; i < n; i++)
      for (int j = 0; j < n; j++)
        EXPECT_EQ(ainv[static_cast<size_t>(i * n + j)], i == j && i < n - 1 ? 1.0 / (i + 1) : 0.0)
            << i << "," << j;
  }
}

TEST(MatrixInverse, Failures) {
  double a[4] = {1, 2, 2, 4}, ainv[4] = {7, 7, 7, 7}, det = 0;
  EXPECT_EQ(matinv(ainv, a, 2), -1);
  for (double v : ainv) EXPECT_EQ(v, 7);  // untouched
  EXPECT_EQ(matinv(nullptr, a, 2), -1);
  EXPECT_EQ(matinv(ainv, nullptr, 2), -1);
  EXPECT_EQ(matinv(ainv, a, 0), -1);
  try {
    matinvx(nullptr, a, 2, &det, "XTXG");
    ADD_FAILURE() << "no error";
  } catch (const Error &e) {
    EXPECT_EQ(e.message(),
              "CROUTP: All potential pivot elements are zero!\n"
              "\nCANNOT INVERT the 2x2 MATRIX XTXG !\n");
    EXPECT_EQ(e.channel(), Channel::Screen);
  }
}

TEST(MatrixProduct, HandComputedProducts) {
  const double A[6] = {1, 2, 3, 4, 5, 6};         // 2 x 3
  const double B[6] = {7, 8, 9, 10, 11, 12};      // 3 x 2
  const double C[8] = {1, 0, 2, -1, 0, 1, 1, 3};  // 2 x 4
  double D[9];
  EXPECT_EQ(matmult(D, A, B, 2, 3, 2), D);
  expect_entries(D, {58, 64, 139, 154});
  EXPECT_EQ(matmult_fast(D, B, A, 3, 2, 3), D);
  expect_entries(D, {39, 54, 69, 49, 68, 87, 59, 82, 105});
  double *E = matmult3(nullptr, A, B, C, 2, 3, 2, 4);  // allocated, spares zero
  expect_entries(E, {58, 64, 180, 134, 139, 154, 432, 323, 0, 0, 0});
  free(E);
  E = matmult(nullptr, A, B, 2, 3, 2);
  expect_entries(E, {58, 64, 139, 154, 0, 0, 0});
  free(E);
  E = matmult_fast(nullptr, A, B, 2, 3, 2);
  expect_entries(E, {58, 64, 139, 154, 0, 0, 0});
  free(E);

  // Each element is one sum from k = 0 upward: 1e16 + 0.5 rounds to 1e16,
  // so row 0 gives 0; row 1 gives (1e16 - 1e16) + 0.5 = 0.5.
  const double R[6] = {1e16, 0.5, -1e16, 1e16, -1e16, 0.5}, ones[3] = {1, 1, 1};
  matmult(D, R, ones, 2, 3, 1);
  expect_entries(D, {0, 0.5});
}

TEST(MatrixProduct, DestinationAsOperandAndBadArguments) {
  double A[4] = {1, 2, 3, 4}, P[4] = {0, 1, 1, 0}, I[4] = {1, 0, 0, 1};
  matmult(A, A, P, 2, 2, 2);  // columns exchanged
  expect_entries(A, {2, 1, 4, 3});
  matmult(A, P, A, 2, 2, 2);  // rows exchanged
  expect_entries(A, {4, 3, 2, 1});
  matmult3(A, P, A, I, 2, 2, 2, 2);
  expect_entries(A, {2, 1, 4, 3});

  EXPECT_EQ(matmult(A, nullptr, P, 2, 2, 2), nullptr);
  EXPECT_EQ(matmult(A, P, nullptr, 2, 2, 2), nullptr);
  EXPECT_EQ(matmult(A, P, P, 0, 2, 2), nullptr);
  EXPECT_EQ(matmult(A, P, P, 2, -1, 2), nullptr);
  EXPECT_EQ(matmult_fast(A, P, P, 2, 2, 0), nullptr);
  EXPECT_EQ(matmult_fast(A, nullptr, P, 2, 2, 2), nullptr);
  EXPECT_EQ(matmult_fast(A, P, nullptr, 2, 2, 2), nullptr);
  EXPECT_EQ(matmult_fast(A, P, P, 0, 2, 2), nullptr);
  EXPECT_EQ(matmult_fast(A, P, P, 2, 0, 2), nullptr);
  EXPECT_EQ(matmult3(A, P, P, nullptr, 2, 2, 2, 2), nullptr);
  EXPECT_EQ(matmult3(A, nullptr, P, P, 2, 2, 2, 2), nullptr);
  EXPECT_EQ(matmult3(A, P, nullptr, P, 2, 2, 2, 2), nullptr);
  for (int zero = 0; zero < 4; zero++) {
    int size[4] = {2, 2, 2, 2};
    size[zero] = 0;
    EXPECT_EQ(matmult3(A, P, P, P, size[0], size[1], size[2], size[3]), nullptr) << zero;
  }
  expect_entries(A, {2, 1, 4, 3});  // untouched by every refusal
}

TEST(MatrixTranspose, NonSquare) {
  const double src[6] = {1, 2, 3, 4, 5, 6};  // 2 x 3
  double dst[6];
  EXPECT_EQ(set_transpose(dst, src, 2, 3), dst);
  expect_entries(dst, {1, 4, 2, 5, 3, 6});
  double *fresh = set_transpose(nullptr, src, 2, 3);
  expect_entries(fresh, {1, 4, 2, 5, 3, 6, 0, 0, 0});
  free(fresh);
}

// The inverse formed from the factors two columns at a time (the fast kernel
// of 2x2, 4x4 and 8x8 inversions) against one lu_solve per unit vector.
namespace {
uint64_t random_state = 7;
uint64_t next_random() {
  random_state = random_state * 6364136223846793005ULL + 1442695040888963407ULL;
  return random_state >> 33;
}
bool same_bits(const std::vector<double> &a, const std::vector<double> &b) {
  return a.size() == b.size() && memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}
}  // namespace

TEST(Matrix, InverseFromTheFactorsEqualsColumnByColumnSolvesBitForBit) {
  for (int n : {2, 4, 8}) {
    for (int trial = 0; trial < 20; trial++) {
      std::vector<double> a(static_cast<size_t>(n * n));
      for (double &v : a) v = static_cast<double>(next_random() % 20001) / 10000.0 - 1.0;
      for (int i = 0; i < n; i++) a[static_cast<size_t>(i * n + i)] += n;  // invertible
      std::vector<double> fast(a.size()), plain(a.size()), lu = a;
      ASSERT_EQ(matinv(fast.data(), a.data(), n), 0);
      std::vector<int> piv(static_cast<size_t>(n));
      ASSERT_EQ(croutp(lu.data(), piv.data(), n), 0);
      for (int c = 0; c < n; c++) {
        std::vector<double> e(static_cast<size_t>(n), 0.0);
        e[static_cast<size_t>(c)] = 1.0;
        lu_solve(lu.data(), e.data(), piv.data(), n);
        for (int r = 0; r < n; r++) plain[static_cast<size_t>(r * n + c)] = e[static_cast<size_t>(r)];
      }
      EXPECT_TRUE(same_bits(fast, plain)) << n << "x" << n << " trial " << trial;
    }
  }
}

