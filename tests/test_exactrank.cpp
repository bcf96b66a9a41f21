// The exact singularity test of X'X, on integer matrices whose rank is known
// by construction.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "numeric/exactrank.h"

using namespace bayescreen;

namespace {

using Matrix = std::vector<std::vector<int64_t>>;

// The decision from the rows of X.
bool singular_from_rows(const Matrix &x) {
  const int ncols = static_cast<int>(x[0].size());
  std::vector<double> diag(static_cast<size_t>(ncols), 0.0);
  for (const auto &row : x)
    for (int k = 0; k < ncols; k++) {
      const double v = static_cast<double>(row[static_cast<size_t>(k)]);
      diag[static_cast<size_t>(k)] += v * v;
    }
  return gram_matrix_singular(static_cast<int>(x.size()), ncols, diag.data(),
                              [&](int r, uint32_t p, uint32_t *out) {
                                const auto &row = x[static_cast<size_t>(r)];
                                const int64_t m = p;
                                for (int k = 0; k < ncols; k++)
                                  out[k] = static_cast<uint32_t>(
                                      (row[static_cast<size_t>(k)] % m + m) % m);
                              });
}

// The decision from X'X itself, for entries small enough that X'X is
// exact in 64 bits.
bool singular_from_gram(const Matrix &x) {
  const size_t n = x[0].size();
  std::vector<int64_t> gram(n * n, 0);
  for (const auto &row : x)
    for (size_t i = 0; i < n; i++)
      for (size_t j = 0; j < n; j++) gram[i * n + j] += row[i] * row[j];
  return gram_matrix_singular(static_cast<int>(n), gram.data());
}

// The model matrix (1, A, B, C, AB, AC, BC, ABC) of the 2^3 factorial.
Matrix full_factorial_triple() {
  Matrix x;
  for (int r = 0; r < 8; r++) {
    const int64_t a = r & 1 ? 1 : -1, b = r & 2 ? 1 : -1, c = r & 4 ? 1 : -1;
    x.push_back({1, a, b, c, a * b, a * c, b * c, a * b * c});
  }
  return x;
}

struct Case {
  const char *name;
  Matrix x;
  bool singular;
  bool small = true;  // X'X fits in 64 bits
};

}  // namespace

// The primes counting down from 2^31 - 1, checked by trial division: each
// is prime and no prime lies between neighbours, across the end of the
// table of the first 64 and into those found at run time.
TEST(ExactRank, ThePrimesBelowTwoToThe31InOrder) {
  auto prime = [](uint32_t n) {
    for (uint32_t d = 3; d <= n / d; d += 2)
      if (n % d == 0) return false;
    return n % 2 == 1;
  };
  EXPECT_EQ(modular_prime(0), 2147483647u);
  for (int k = 1; k <= 70; k++) {
    const uint32_t p = modular_prime(k), above = modular_prime(k - 1);
    ASSERT_TRUE(prime(p)) << k;
    for (uint32_t n = p + 2; n < above; n += 2) ASSERT_FALSE(prime(n)) << n;
  }
}

TEST(ExactRank, SingularExactlyWhenTheColumnsAreDependent) {
  const int64_t p0 = modular_prime(0), p1 = modular_prime(1);
  const int64_t big = (int64_t{1} << 60) + 12345;
  Matrix triple = full_factorial_triple();
  Matrix dropped(triple.begin(), triple.end() - 1);
  Matrix doubled = triple;
  doubled.insert(doubled.end(), triple.begin(), triple.end() - 3);
  Matrix combined = doubled;
  for (auto &row : combined) row[7] = row[1] + row[2] - row[3];
  const Case cases[] = {
      {"two orthogonal columns", {{1, 1}, {1, -1}}, false},
      {"two equal columns", {{1, 1}, {2, 2}, {3, 3}}, true},
      {"a zero column", {{0, 1}, {0, 2}, {0, 5}}, true},
      {"fewer rows than columns", {{1, 2}}, true},
      {"one column the sum of two others", {{1, 2, 3}, {4, -1, 3}, {0, 5, 5}, {7, 7, 14}}, true},
      // det(X'X) = p0^2 p1^2 vanishes modulo the first two primes only.
      {"a determinant divisible by the first two primes", {{p0, 0}, {0, p1}}, false},
      // Entries near 2^60: X'X is far beyond exact doubles.
      {"huge entries, one column three times the other",
       {{big, 3 * big}, {-big + 7, 3 * (-big + 7)}, {5, 15}}, true, false},
      {"the same with one entry off by one",
       {{big, 3 * big}, {-big + 7, 3 * (-big + 7) + 1}, {5, 15}}, false, false},
      {"the 2^3 factorial model", triple, false},
      {"the 2^3 factorial model less a run", dropped, true},
      {"thirteen runs of it", doubled, false},
      {"thirteen runs, ABC replaced by A + B - C", combined, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(singular_from_rows(c.x), c.singular);
    if (c.small) {
      EXPECT_EQ(singular_from_gram(c.x), c.singular);
    }
  }
}

TEST(ExactRank, NoBoundNoProofOfSingularity) {
  const double diag[2] = {INFINITY, 1};
  int calls = 0;
  EXPECT_FALSE(gram_matrix_singular(2, 2, diag, [&](int, uint32_t, uint32_t *out) {
    calls++;
    out[0] = out[1] = 0;
  }));
  EXPECT_EQ(calls, 0);
}
