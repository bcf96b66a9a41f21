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
using GramResidues = FunctionRef<void(uint64_t p, std::vector<uint64_t> &g)>;

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

// The 64 largest primes below 2^31, largest first: enough for any X'X
// whose determinant has fewer than about 1,980 bits. Beyond them the next
// primes are found by trial division (is_prime), counting down.
constexpr uint32_t kPrimes[] = {
    2147483647u, 2147483629u, 2147483587u, 2147483579u, 2147483563u, 2147483549u,
    2147483543u, 2147483497u, 2147483489u, 2147483477u, 2147483423u, 2147483399u,
    2147483353u, 2147483323u, 2147483269u, 2147483249u, 2147483237u, 2147483179u,
    2147483171u, 2147483137u, 2147483123u, 2147483077u, 2147483069u, 2147483059u,
    2147483053u, 2147483033u, 2147483029u, 2147482951u, 2147482949u, 2147482943u,
    2147482937u, 2147482921u, 2147482877u, 2147482873u, 2147482867u, 2147482859u,
    2147482819u, 2147482817u, 2147482811u, 2147482801u, 2147482763u, 2147482739u,
    2147482697u, 2147482693u, 2147482681u, 2147482663u, 2147482661u, 2147482621u,
    2147482591u, 2147482583u, 2147482577u, 2147482507u, 2147482501u, 2147482481u,
    2147482417u, 2147482409u, 2147482367u, 2147482361u, 2147482349u, 2147482343u,
    2147482327u, 2147482291u, 2147482273u, 2147482237u};
constexpr int kTablePrimes = static_cast<int>(sizeof kPrimes / sizeof kPrimes[0]);

uint32_t modular_prime(int k) {
  if (k < kTablePrimes) return kPrimes[k];
  uint32_t candidate = kPrimes[kTablePrimes - 1];
  for (int index = kTablePrimes - 1; index < k;) {
    candidate -= 2;
    if (is_prime(candidate)) index++;
  }
  return candidate;
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
