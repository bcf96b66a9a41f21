// Tail probabilities for significance tests: the regularized incomplete beta
// function, the F distribution function and the two-sided P-value of a t
// statistic. Invalid arguments throw an Error (support/error.h) whose message
// begins "\nINTERNAL ERROR in values for" and names the function and the
// values; it is shown with the program places.
#pragma once

namespace bayescreen {

// Maximum number of rounds of the continued fraction in betacf.
constexpr int betacf_max_rounds = 10000;

// Two-sided P-value of t with df degrees of freedom: P(|T| >= |t|).
// 0 for an infinite |t|, not a number for a t that is not a number.
double pvttest(double df, double t);
// P(F <= f) for the F distribution with df1 and df2 degrees of freedom.
double fdist(double df1, double df2, double f);
// Regularized incomplete beta function I_x(a, b); 0 for x <= 0, 1 for x >= 1.
double betainc(double a, double b, double x);
// Continued fraction for the incomplete beta function (used by betainc).
// Not a number when an argument is not a number.
double betacf(double a, double b, double x);
// Throws the Error for an invalid argument of the t (is_t non-zero) or F
// distribution.
[[noreturn]] void rdist_err(const char *whatstr, double df1, double df2, const char *valname,
                            double value, int is_t);

// Throws the Error for a z of 0 or less given to lngam (numeric/lngam.h).
[[noreturn]] void lngam_argument_error(double z);

}  // namespace bayescreen
