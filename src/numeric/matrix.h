// Small dense matrices: transpose, products of two and three factors, and
// the inverse with its determinant by Crout's LU decomposition with partial
// pivoting.
//
// A matrix of r rows and c columns is one flat array of r*c doubles in
// row-major order: element (i, j) is at index i*c + j. A vector is an r x 1
// matrix. Arrays allocated here for results hold r*c + 3 doubles, are
// zero-filled and belong to the caller, who releases them with free().
//
// Every routine keeps its work arrays to itself (on the stack for the small
// matrices of the model fits), so that any number of threads may call them
// at once. The arithmetic is done in a fixed order so that results are
// reproducible to the last bit.
#pragma once

namespace bayescreen {

// The line the report prints for a matrix that has no nonzero pivot in
// some column: croutp found it singular.
inline constexpr char kZeroPivotMessage[] = "CROUTP: All potential pivot elements are zero!\n";

// dst (n x m) = transpose of src (m x n). A null dst is allocated.
// dst must not be src.
double *set_transpose(double *dst, const double *src, int m, int n);

// dst (m x p) = A (m x n) * B (n x p). A null dst is allocated. Returns null
// when A or B is null or a dimension is below 1. dst may be A or B.
double *matmult(double *dst, const double *A, const double *B, int m, int n, int p);
// The same product written straight into dst, which must not be A or B.
double *matmult_fast(double *dst, const double *A, const double *B, int m, int n, int p);
// Product kernel: C (m x p) = A (m x n) * B (n x p); C must not be A or B.
void fast_matmult(double *C, const double *A, const double *B, int m, int n, int p);
// dst (m x q) = (A (m x n) * B (n x p)) * C (p x q). A null dst is
// allocated; null when an operand is null or a dimension is below 1. dst may
// be an operand.
double *matmult3(double *dst, const double *A, const double *B, const double *C, int m,
                 int n, int p, int q);

// Decomposes the n x n matrix a in place into L (below the diagonal, unit
// diagonal implied) and U (on and above it) of the row-permuted matrix;
// records the pivot rows in piv and, when nswaps is given, the number of
// row exchanges there. Returns 0, or -1 when every pivot candidate of a
// column is zero (the caller reports kZeroPivotMessage).
int croutp(double *a, int *piv, int n, int *nswaps = nullptr);
// Solves lu * x = b in place of b with the factors from croutp.
void lu_solve(const double *lu, double *b, const int *piv, int n);

// ainv = inverse of the n x n matrix a; ainv may be a. With det given, *det
// receives the determinant of a. Returns 0, or -1 (ainv untouched) when the
// arguments are bad or a is singular.
int matinv(double *ainv, const double *a, int n, double *det = nullptr);
// As matinv, allocating a null ainv; when the inverse cannot be formed,
// throws an Error holding kZeroPivotMessage and "CANNOT INVERT the nxn
// MATRIX name !".
double *matinvx(double *ainv, const double *a, int n, double *det, const char *name);

}  // namespace bayescreen
