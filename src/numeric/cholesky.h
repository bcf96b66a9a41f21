// Cholesky factors grown one row at a time.
//
// A symmetric positive definite matrix A = L L' (L lower triangular with a
// positive diagonal) is factored row by row: row j of L depends only on the
// leading (j+1) x (j+1) block of A, so the factor of a matrix bordered by one
// more row and column is the old factor with one more row. This is the
// Cholesky-Banachiewicz order (Golub and Van Loan, Matrix Computations, 4th
// ed., Algorithm 4.2.1, computed by rows).
#pragma once

namespace bayescreen {

// Computes row j of L, stored with row stride ld (row i at l + i*ld), from
// a[0 .. j]: the new column of A against the rows 0 .. j-1 and its diagonal
// entry a[j]. Rows 0 .. j-1 of L must hold the factor of the leading block.
// Writes l[j*ld + 0 .. j-1] and, when the pivot d = a[j] - sum_p l[j][p]^2
// is positive, l[j*ld + j] = sqrt(d). Returns d, so that the caller can
// judge how far the new column stands from the span of the others (d = 0
// in exact arithmetic when it lies in that span).
double cholesky_append_row(double *l, int ld, int j, const double *a);

// Solves L z = b for the entry j of z, given z[0 .. j-1] and b[j]: the step
// of forward substitution that goes with cholesky_append_row.
double cholesky_forward_step(const double *l, int ld, int j, const double *z, double bj);

// The same two steps for count factors at once, stored interleaved: entry
// (i, p) of factor g at l[(i*ld + p)*count + g], and entry p of its z at
// z[p*count + g]. The factors are of matrices that differ only on the
// diagonal: the new column a[0 .. j-1] is shared, its diagonal entry for
// factor g is diag[g]. Each factor gets exactly the operations of the single
// step, in the same order (so the same results); interleaving lets the
// factors proceed side by side. The pivots go to d[0 .. count-1]; a factor
// whose pivot is not positive gets a zero diagonal, as in the single step,
// and what is built on it afterwards is not to be used.
void cholesky_append_row_interleaved(double *l, int ld, int count, int j, const double *a,
                                     const double *diag, double *d);
// Entry j of z for every factor, from b[j] = bj shared by all.
void cholesky_forward_step_interleaved(const double *l, int ld, int count, int j, double *z, double bj);

// Removes variable j from a factor of t rows: given L (t x t, row stride
// ld) with A = L L' and z with L z = b, leaves in the first t-1 rows the
// factor of A without row and column j, and in z[0 .. t-2] the forward
// solution for b without entry j. Rows j+1 .. t-1 move up one place and the
// entries they gain above the diagonal are rotated away by Givens rotations
// of neighbouring columns, which leave L L' unchanged (Golub and Van Loan,
// Matrix Computations, 4th ed., section 6.5.4, the QR downdate by column
// deletion, applied to the transposed factor). The same rotations turn z;
// the entry they push out of the factor is returned, so that the squared
// length of the new z is the old one minus its square. O((t - j) t) work.
double cholesky_remove_row(double *l, int ld, int t, int j, double *z);
}  // namespace bayescreen
