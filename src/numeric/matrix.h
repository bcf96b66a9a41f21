// Small dense matrices: transpose, products of two and three factors, and
// the inverse with its determinant by Crout's LU decomposition with partial
// pivoting.
//
// A matrix of r rows and c columns is one flat array of r*c doubles in
// row-major order: element (i, j) is at index i*c + j. A vector is an r x 1
// matrix. Arrays allocated here for results hold r*c + 3 doubles, are
// zero-filled and belong to the caller, who releases them with free().
//
// All routines share one set of module-wide scratch arrays that grows on
// demand and is never released. The arithmetic is done in a fixed order so
// that results are reproducible to the last bit.
#pragma once

namespace bayescreen {

// ---- Scratch arrays --------------------------------------------------------
// gmat, gmat1, gmat2: oldnn x oldnn work matrices. After an inversion gmat
// holds the LU factors of the inverted matrix, stored with the stride of that
// matrix, until the next routine that uses gmat.
extern double *gmat, *gmat1, *gmat2;
// Vectors of oldnn doubles: colbuff holds one column during a decomposition
// or a product, rowbuff is the temporary row of a row exchange; gvec, gvec1
// and gvec2 are sized with them for other callers.
extern double *gvec, *gvec1, *gvec2, *colbuff, *rowbuff;
extern int *indx;   // pivot row chosen at each step of the last decomposition
extern int oldnn;   // size the scratch arrays were last grown to (0 at first)
extern int nswaps;  // row exchanges made by the last decomposition

// Grows the scratch arrays to at least n (never below 5); returns n raised
// to at least 5. A growth zero-fills every scratch array.
int set_mat_arrays(int n);

// dst (n x m) = transpose of src (m x n). A null dst is allocated.
// dst must not be src.
double *set_transpose(double *dst, const double *src, int m, int n);

// dst (m x p) = A (m x n) * B (n x p). A null dst is allocated. Returns null
// when A or B is null or a dimension is below 1. dst may be A or B. Uses gmat.
double *matmult(double *dst, const double *A, const double *B, int m, int n, int p);
// The same product written straight into dst, which must not be A or B.
double *matmult_fast(double *dst, const double *A, const double *B, int m, int n, int p);
// Product kernel: C (m x p) = A (m x n) * B (n x p); colbuff must hold n.
void fast_matmult(double *C, const double *A, const double *B, int m, int n, int p);
// dst (m x q) = (A (m x n) * B (n x p)) * C (p x q). A null dst is
// allocated; null when an operand is null or a dimension is below 1. dst may
// be an operand. Uses gmat1 and gmat2.
double *matmult3(double *dst, const double *A, const double *B, const double *C, int m,
                 int n, int p, int q);

// Decomposes the n x n matrix a in place into L (below the diagonal, unit
// diagonal implied) and U (on and above it) of the row-permuted matrix;
// records the pivot rows in piv and the exchanges in nswaps. Returns 0, or
// -1 with a message when every pivot candidate of a column is zero.
int croutp(double *a, int *piv, int n);
// The message croutp prints when every pivot candidate of a column is zero,
// for callers that know a matrix to be singular without decomposing it.
void show_zero_pivots();
// Solves lu * x = b in place of b with the factors from croutp.
void lu_solve(const double *lu, double *b, const int *piv, int n);

// ainv = inverse of the n x n matrix a; ainv may be a. Returns 0, or -1
// (ainv untouched) when the arguments are bad or a is singular.
int matinv(double *ainv, const double *a, int n);
// As matinv, allocating a null ainv, and ending the run with status 1 when
// the inverse cannot be formed; name, when given, names the matrix in the
// message.
double *matinvx(double *ainv, const double *a, int n, const char *name);
// matinvx, then stores the determinant of a in *det when det is not null.
double *matinvx2(double *ainv, const double *a, int n, double *det, const char *name);
// Determinant of the matrix last decomposed in gmat; n must be its size.
double get_gmat_det(int n);

}  // namespace bayescreen
