#include "numeric/pfstat.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "numeric/lngam.h"
#include "support/error.h"

namespace bayescreen {

namespace {

// The error of an invalid argument: the message as printf formats it.
[[noreturn]] __attribute__((format(printf, 1, 2))) void invalid_argument(const char *fmt, ...) {
  char text[400];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(text, sizeof text, fmt, ap);
  va_end(ap);
  throw Error(text).with_places();
}

constexpr const char *kErrorBleep = "\nINTERNAL ERROR in values for";
constexpr const char *kDegreesOfFreedom = "Degrees of Freedom";

}  // namespace

void rdist_err(const char *whatstr, double df1, double df2, const char *valname, double value,
               int is_t) {
  if (is_t)
    invalid_argument("%s an T-distribution %s:\n  %s: df=%g  %s=%g\n", kErrorBleep, whatstr,
                     kDegreesOfFreedom, df2, valname, value);
  invalid_argument("%s an F-distribution %s:\n  %s: df1=%g  df2=%g  %s=%g\n", kErrorBleep, whatstr,
                   kDegreesOfFreedom, df1, df2, valname, value);
}

void lngam_argument_error(double z) {
  invalid_argument("%s log(Gamma(z)): z=%g\n", kErrorBleep, z);
}

// Accuracy of the three functions below, measured against exact rational
// binomial sums (integer a, b) and the closed forms of the t and F tails for
// integer degrees of freedom (Abramowitz and Stegun 26.7.3-26.7.4, 26.5.7):
// an absolute error of at most 1e-9 for a, b up to 200 and for the t and F
// tails up to 2,000 degrees of freedom. The error comes from lngam (see
// lngam.cpp) through the factor bt of betainc, and from the stopping rule of
// the continued fraction.

// Two-sided P-value through the F distribution: T^2 with df degrees of
// freedom is F(1, df), so P(|T| >= |t|) = 1 - P(F <= t^2) (Abramowitz and
// Stegun 26.7.1 and 26.6.2). A P-value near 0 is the difference of two
// numbers near 1, so its error is absolute, not relative.
double pvttest(double df, double t) {
  if (df <= 0) rdist_err("P-value", 1, df, "Level", t, 1);
  return 1 - fdist(1, df, t * t);
}

// P(F <= f) = I_x(df1/2, df2/2) with x = df1 f / (df2 + df1 f) (Abramowitz
// and Stegun 26.6.2).
double fdist(double df1, double df2, double f) {
  if (df1 <= 0 || df2 <= 0 || f < 0) rdist_err("value", df1, df2, "Val", f, 0);
  double num = df1 * f;
  // An infinite numerator would make x = inf/inf; the limit is x = 1.
  if (std::isinf(num)) return 1;
  return betainc(df1 / 2, df2 / 2, num / (df2 + num));
}

// I_x(a, b) = x^a (1-x)^b / (a B(a, b)) * CF(a, b, x), the continued
// fraction of Abramowitz and Stegun 26.5.8, evaluated directly for
// x < (a+1)/(a+b+2), where it converges fast, and otherwise through the
// symmetry I_x(a, b) = 1 - I_(1-x)(b, a) (26.5.2); the scheme of Press et
// al., Numerical Recipes (1986), section 6.3. B(a, b) comes from lngam.
double betainc(double a, double b, double x) {
  if (a <= 0 || b <= 0)
    invalid_argument("%s the incomplete beta function:\n  a=%g  b=%g  Val=%g\n", kErrorBleep, a, b, x);
  if (x <= 0) return 0;
  if (x >= 1) return 1;
  double bt = exp(lngam(a + b) - lngam(a) - lngam(b) + a * log(x) + b * log(1 - x));
  if (x < (a + 1) / (a + b + 2)) return bt * betacf(a, b, x) / a;
  return 1 - bt * betacf(b, a, 1 - x) / b;
}

// Continued fraction of the incomplete beta function (Abramowitz and Stegun
// 26.5.8),
//   CF = 1/(1+ d1/(1+ d2/(1+ ...))) with
//   d(2m+1) = -(a+m)(a+b+m) x / ((a+2m)(a+2m+1)),
//   d(2m)   = m(b-m) x / ((a+2m-1)(a+2m)),
// evaluated two terms per round by the forward recurrences for numerator
// and denominator, renormalised every round, until successive values agree
// to a relative 1e-8. A value that is not a number ends the loop at once;
// after betacf_max_rounds rounds the latest value is returned.
double betacf(double a, double b, double x) {
  const double eps = 1e-8;
  if (std::isnan(a) || std::isnan(b) || std::isnan(x)) return std::nan("");
  double qab = a + b, qap = a + 1, qam = a - 1;
  double am = 1, bm = 1, az = 1;
  double bz = 1 - qab * x / qap;
  for (int m = 1; m <= betacf_max_rounds; m++) {
    double em = m, tem = em + em;
    double d = em * (b - em) * x / ((qam + tem) * (a + tem));
    double ap = az + d * am;
    double bp = bz + d * bm;
    d = -(a + em) * (qab + em) * x / ((qap + tem) * (a + tem));
    double app = ap + d * az;
    double bpp = bp + d * bz;
    double aold = az;
    az = app / bpp;
    if (fabs(az - aold) < eps * fabs(az)) return az;
    if (std::isnan(az)) return az;  // would never converge
    am = ap / bpp;
    bm = bp / bpp;
    bz = 1;
  }
  return az;
}

}  // namespace bayescreen
