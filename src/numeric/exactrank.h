// Exact singularity test for the Gram matrix X'X of an integer matrix X,
// by its determinant modulo primes (the small-primes modular determinant:
// J. von zur Gathen and J. Gerhard, Modern Computer Algebra, 3rd ed.,
// section 5.5, with Hadamard's inequality as the bound on the determinant).
//
// det(X'X) is a non-negative integer, and by Hadamard's inequality for
// positive semidefinite matrices it is at most the product of the diagonal
// elements of X'X. Its residue modulo a prime p is found by Gaussian
// elimination over the integers modulo p. A nonzero residue proves X'X
// nonsingular; residues 0 modulo distinct primes whose product exceeds the
// bound prove det(X'X) = 0. No floating-point rounding enters the decision,
// however large the entries of X are.
#pragma once
#include <cstdint>
#include "support/functionref.h"

namespace bayescreen {

// Whether G = X'X is singular, given exactly: gram holds the ncols x ncols
// integer entries, row by row.
bool gram_matrix_singular(int ncols, const int64_t *gram);

// Fills out[0 .. ncols-1] with row r of X reduced modulo the prime p, each
// residue in [0, p).
using RowResidues = FunctionRef<void(int r, uint32_t p, uint32_t *out)>;

// The same for an X'X whose entries may exceed 64 bits, from the rows of X:
// X has nrows rows and ncols columns given through `row`. diag[k] is
// (X'X)[k][k] as computed in floating point; it only sets the bound, and may
// fall short of the exact value by a relative 2^-20 at most. A diag[k] of 0
// (a zero column) gives true; one that is not a finite number leaves no
// bound, and the result is false.
bool gram_matrix_singular(int nrows, int ncols, const double *diag, const RowResidues &row);

// The k-th prime of the test (from 0), counting down from 2^31 - 1.
uint32_t modular_prime(int k);

}  // namespace bayescreen
