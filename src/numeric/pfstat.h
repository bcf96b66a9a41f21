// Tail probabilities for significance tests: the regularized incomplete beta
// function, the F distribution function and the two-sided P-value of a t
// statistic. Invalid arguments are reported through a replaceable printf-
// style reporter and end the run with exit status 1.
#pragma once

namespace bayescreen {

// A printf-style reporter for invalid arguments.
typedef int (*PvErrFun)(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// The reporter in use (pverrff unless replaced). When it is null the
// functions below end the run with status 1 without a message.
extern PvErrFun pverrfun;
// First part of every error message ("\nINTERNAL ERROR in values for").
extern const char *pv_errbleep;
// Label of the degrees of freedom in the distribution messages.
extern const char *pv_degfree;

// Default reporter: prints the message on standard output, shows the
// program-place stack on standard error and exits with status 1.
[[noreturn]] int pverrff(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

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
// Reports an invalid argument of the t (is_t non-zero) or F distribution and
// exits with status 1.
[[noreturn]] void rdist_err(const char *whatstr, double df1, double df2, const char *valname,
                            double value, int is_t);

}  // namespace bayescreen
