#include "numeric/exactrank.h"

#include <cmath>
#include <vector>

namespace bayescreen {

namespace {

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

// Whether the determinant of the n x n matrix g (residues modulo p, row by
// row) is 0 modulo p: Gaussian elimination over the field of integers
// modulo p, the inverse of each pivot by Fermat's little theorem
// (a^(p-2) = 1/a mod p).
bool determinant_vanishes(std::vector<uint64_t> &g, int n, uint64_t p) {
  auto at = [&](int r, int c) -> uint64_t & { return g[static_cast<size_t>(r * n + c)]; };
  for (int c = 0; c < n; c++) {
    int pivot = c;
    while (pivot < n && at(pivot, c) == 0) pivot++;
    if (pivot == n) return true;
    if (pivot != c)
      for (int j = c; j < n; j++) {
        const uint64_t t = at(c, j);
        at(c, j) = at(pivot, j);
        at(pivot, j) = t;
      }
    const uint64_t inverse = power_mod(at(c, c), p - 2, p);
    for (int r = c + 1; r < n; r++) {
      const uint64_t factor = at(r, c) * inverse % p;
      if (factor == 0) continue;
      for (int j = c; j < n; j++) at(r, j) = (at(r, j) + p - factor * at(c, j) % p) % p;
    }
  }
  return false;
}

// Fills g (ncols x ncols, row by row) with X'X modulo the prime p.
using GramResidues = std::function<void(uint64_t p, std::vector<uint64_t> &g)>;

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
  std::vector<uint64_t> g(static_cast<size_t>(ncols) * static_cast<size_t>(ncols));
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
  std::vector<double> diag(static_cast<size_t>(ncols));
  for (int k = 0; k < ncols; k++)
    diag[static_cast<size_t>(k)] = static_cast<double>(gram[k * ncols + k]);
  return singular_by_primes(ncols, diag.data(), [&](uint64_t p, std::vector<uint64_t> &g) {
    const int64_t m = static_cast<int64_t>(p);
    for (size_t k = 0; k < g.size(); k++) g[k] = static_cast<uint64_t>((gram[k] % m + m) % m);
  });
}

bool gram_matrix_singular(int nrows, int ncols, const double *diag, const RowResidues &row) {
  if (nrows < ncols) return true;  // rank X <= nrows < ncols
  std::vector<uint32_t> x(static_cast<size_t>(ncols));
  return singular_by_primes(ncols, diag, [&](uint64_t p, std::vector<uint64_t> &g) {
    const size_t n = static_cast<size_t>(ncols);
    for (uint64_t &v : g) v = 0;
    for (int r = 0; r < nrows; r++) {
      row(r, static_cast<uint32_t>(p), x.data());
      for (size_t i = 0; i < n; i++)
        for (size_t j = i; j < n; j++) g[i * n + j] = (g[i * n + j] + uint64_t{x[i]} * x[j]) % p;
    }
    for (size_t i = 0; i < n; i++)
      for (size_t j = 0; j < i; j++) g[i * n + j] = g[j * n + i];
  });
}

}  // namespace bayescreen
