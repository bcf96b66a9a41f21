// The Student t distribution for any positive degrees of freedom, integer
// or not: its distribution function and its quantile. Invalid arguments are
// thrown as a bayescreen::Error; nothing is printed.
#pragma once

namespace bayescreen {

// P(T <= t) for T a Student t with df degrees of freedom (df > 0 and
// finite), from the regularized incomplete beta function: the tail
// P(T > |t|) = I_x(df/2, 1/2) / 2 with x = df / (df + t^2), or near t = 0
// 1/2 - I_y(1/2, df/2) / 2 with y = t^2 / (df + t^2) (Abramowitz and
// Stegun 26.7.1, 26.5.27), so that both tails keep their relative
// accuracy. Infinite t gives 0 or 1. Throws an Error for an
// invalid df or a t that is not a number.
double t_cdf(double t, double df);

// P(T <= t) for whole degrees of freedom nu >= 1, by the finite series of
// Abramowitz and Stegun 26.7.3 (nu odd) and 26.7.4 (nu even) in theta =
// atan(t / sqrt(nu)): O(nu) operations with no special function beyond
// atan, sin and cos, a fraction of t_cdf's time for the small nu of
// screening designs. Absolute error a few units of 1e-16. For nu above 200
// (or t not finite) t_cdf is called instead. Throws as t_cdf does.
double t_cdf_whole_df(double t, int nu);

// The p quantile of the Student t with df degrees of freedom: the t with
// P(T <= t) = p, for 0 < p < 1 and df > 0 and finite (any other argument
// throws an Error). t_cdf inverted by Newton's method on the upper tail,
// safeguarded by bisection inside a bracket found by doubling. Against
// 40-digit values on a grid of 0.3 <= df <= 1000 and 1e-12 <= p <= 1 - 1e-12
// (the solver of tests/tools/lenth_reference.py) the relative error was at
// most 1.2e-9; the tests hold it to 1e-8. It comes from the stopping rule
// of the incomplete beta function's continued fraction (pfstat.cpp) and
// from lngam (lngam.cpp). About 2.5 microseconds a call. A quantile beyond
// the largest double is returned as an infinity.
double t_quantile(double p, double df);

}  // namespace bayescreen
