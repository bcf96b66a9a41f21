#include "numeric/exactrank.h"

#include <cmath>
#include <vector>

namespace bayescreen {

namespace {

constexpr int kMax = kExactRankMaxColumns;

// Trial division by the odd numbers up to the square root.
bool is_prime(uint32_t n) {
  if (n < 2 || n % 2 == 0) return n == 2;
  for (uint32_t d = 3; d <= n / d; d += 2)
    if (n % d == 0) return false;
  return true;
}

// b^e mod p by repeated squaring; every product stays below 2^62.
uint64_t power_mod(uint64_t b, uint64_t e, uint64_t p) {
  uint64_t result = 1 % p;
  for (b %= p; e > 0; e >>= 1) {
    if (e & 1) result = result * b % p;
    b = b * b % p;
  }
  return result;
}

// Whether the determinant of the n x n matrix g (residues modulo p) is 0
// modulo p: Gaussian elimination over the field of integers modulo p, the
// inverse of each pivot by Fermat's little theorem (a^(p-2) = 1/a mod p).
bool determinant_vanishes(uint64_t g[kMax][kMax], int n, uint64_t p) {
  for (int c = 0; c < n; c++) {
    int pivot = c;
    while (pivot < n && g[pivot][c] == 0) pivot++;
    if (pivot == n) return true;
    if (pivot != c)
      for (int j = c; j < n; j++) {
        const uint64_t t = g[c][j];
        g[c][j] = g[pivot][j];
        g[pivot][j] = t;
      }
    const uint64_t inverse = power_mod(g[c][c], p - 2, p);
    for (int r = c + 1; r < n; r++) {
      const uint64_t factor = g[r][c] * inverse % p;
      if (factor == 0) continue;
      for (int j = c; j < n; j++) g[r][j] = (g[r][j] + p - factor * g[c][j] % p) % p;
    }
  }
  return false;
}

// Fills g with X'X modulo the prime p.
using GramResidues = std::function<void(uint64_t p, uint64_t g[kMax][kMax])>;

// The decision from the residues of X'X modulo p_0, p_1, ... until one is
// nonzero or the product of the primes exceeds the bound.
bool singular_by_primes(int ncols, const double *diag, const GramResidues &gram) {
  // log2 of the bound on det(X'X): the product of the diagonal, with one
  // bit per column to spare for the rounding of the diagonal. A zero
  // diagonal element is a zero column of X; without a finite bound nothing
  // can be proved, and X'X is not reported singular.
  double bound_bits = ncols + 1;
  for (int k = 0; k < ncols; k++) {
    if (diag[k] == 0) return true;
    if (!(diag[k] > 0 && std::isfinite(diag[k]))) return false;
    bound_bits += std::log2(diag[k]);
  }
  uint64_t g[kMax][kMax];
  double covered_bits = 0;
  for (int k = 0; covered_bits <= bound_bits; k++) {
    const uint64_t p = modular_prime(k);
    gram(p, g);
    if (!determinant_vanishes(g, ncols, p)) return false;
    covered_bits += std::log2(static_cast<double>(p));
  }
  return true;
}

}  // namespace

uint32_t modular_prime(int k) {
  static std::vector<uint32_t> primes;
  uint32_t candidate = primes.empty() ? 0x7fffffffu : primes.back() - 2;
  while (static_cast<int>(primes.size()) <= k) {
    while (!is_prime(candidate)) candidate -= 2;
    primes.push_back(candidate);
    candidate -= 2;
  }
  return primes[static_cast<size_t>(k)];
}

bool gram_matrix_singular(int ncols, const int64_t *gram) {
  double diag[kMax];
  for (int k = 0; k < ncols; k++) diag[k] = static_cast<double>(gram[k * ncols + k]);
  return singular_by_primes(ncols, diag, [&](uint64_t p, uint64_t g[kMax][kMax]) {
    const int64_t m = static_cast<int64_t>(p);
    for (int i = 0; i < ncols; i++)
      for (int j = 0; j < ncols; j++)
        g[i][j] = static_cast<uint64_t>((gram[i * ncols + j] % m + m) % m);
  });
}

bool gram_matrix_singular(int nrows, int ncols, const double *diag, const RowResidues &row) {
  if (nrows < ncols) return true;  // rank X <= nrows < ncols
  return singular_by_primes(ncols, diag, [&](uint64_t p, uint64_t g[kMax][kMax]) {
    uint32_t x[kMax];
    for (int i = 0; i < ncols; i++)
      for (int j = 0; j < ncols; j++) g[i][j] = 0;
    for (int r = 0; r < nrows; r++) {
      row(r, static_cast<uint32_t>(p), x);
      for (int i = 0; i < ncols; i++)
        for (int j = i; j < ncols; j++) g[i][j] = (g[i][j] + uint64_t{x[i]} * x[j]) % p;
    }
    for (int i = 0; i < ncols; i++)
      for (int j = 0; j < i; j++) g[i][j] = g[j][i];
  });
}

}  // namespace bayescreen
