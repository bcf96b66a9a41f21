#include "numeric/tquantile.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <string>

#include "numeric/lngam.h"
#include "numeric/pfstat.h"
#include "support/error.h"

namespace bayescreen {

[[noreturn]] static void invalid(const char *what, double df, const char *valname, double value) {
  char text[200];
  std::snprintf(text, sizeof text,
                "\nINTERNAL ERROR in values for a T-distribution %s:\n  Degrees of Freedom: "
                "df=%g  %s=%g\n",
                what, df, valname, value);
  throw Error(text);
}

static bool valid_df(double df) { return df > 0 && std::isfinite(df); }

// P(T > t) for t >= 0 (see t_cdf). betainc sums its continued fraction
// directly, with a small relative error, for I_y(1/2, df/2) while
// y < (1/2 + 1) / (1/2 + df/2 + 2); there the central form is used, the
// tail being near 1/2. Elsewhere I_x(df/2, 1/2) with x = 1 - y is below
// that bound of betainc, so the tail form keeps its relative accuracy
// however small the tail is.
static double upper_tail(double t, double df) {
  const double t2 = t * t;
  const double y = t2 / (df + t2);
  if (y < 1.5 / (df / 2 + 2.5)) return 0.5 - betainc(0.5, df / 2, y) / 2;
  return betainc(df / 2, 0.5, df / (df + t2)) / 2;
}

// The density of T at t: Gamma((df+1)/2) / (sqrt(df pi) Gamma(df/2))
// (1 + t^2/df)^(-(df+1)/2) (Abramowitz and Stegun 26.7.1).
static double density(double t, double df) {
  return std::exp(lngam((df + 1) / 2) - lngam(df / 2) - 0.5 * std::log(df * M_PI) -
                  (df + 1) / 2 * std::log1p(t * t / df));
}

double t_cdf(double t, double df) {
  if (!valid_df(df)) invalid("distribution value", df, "t", t);
  if (std::isnan(t)) invalid("distribution value", df, "t", t);
  if (std::isinf(t)) return t > 0 ? 1 : 0;
  const double tail = upper_tail(std::fabs(t), df);
  return t >= 0 ? 1 - tail : tail;
}

// The t >= 0 with upper_tail(t) = q, 0 < q < 1/2. The tail falls and is
// convex for t >= 0, so Newton's step from the left of the root stays on
// the left; a step that leaves the bracket [lo, hi] is replaced by
// bisection, geometric while the bracket spans more than a factor 4.
static double upper_quantile(double q, double df) {
  double lo = 0, hi = 1;
  while (upper_tail(hi, df) > q) {
    lo = hi;
    hi *= 2;
    if (std::isinf(hi)) return hi;
  }
  double t = lo;
  for (int round = 0; round < 300; round++) {
    const double g = upper_tail(t, df) - q;
    if (g == 0) return t;
    if (g > 0)
      lo = t;
    else
      hi = t;
    double next = t + g / density(t, df);
    if (!(next > lo && next < hi))
      next = lo > 0 && hi > 4 * lo ? std::sqrt(lo * hi) : lo + (hi - lo) / 2;
    if (std::fabs(next - t) <= 4 * DBL_EPSILON * next || hi - lo <= 4 * DBL_EPSILON * hi)
      return next;
    t = next;
  }
  return t;
}

double t_quantile(double p, double df) {
  if (!valid_df(df)) invalid("quantile", df, "Probability", p);
  if (!(p > 0 && p < 1)) invalid("quantile", df, "Probability", p);
  if (p == 0.5) return 0;
  // 1 - p is exact for p >= 1/2, so the upper tail keeps all its digits.
  return p > 0.5 ? upper_quantile(1 - p, df) : -upper_quantile(p, df);
}

double t_cdf_whole_df(double t, int nu) {
  if (nu < 1 || nu > 200 || !std::isfinite(t)) return t_cdf(t, nu);
  if (t == 0) return 0.5;
  const double theta = std::atan(std::fabs(t) / std::sqrt(static_cast<double>(nu)));
  const double c = std::cos(theta), s = std::sin(theta), c2 = c * c;
  double a;  // A(|t| | nu) = P(-|t| < T < |t|)
  if (nu % 2 == 1) {
    // 2/pi (theta + sin theta (cos theta + 2/3 cos^3 theta + ... + 2*4..(nu-3) / 1*3..(nu-2) cos^(nu-2) theta))
    double sum = 0, term = c;
    if (nu > 1) {
      sum = term;
      for (int k = 1; k <= (nu - 3) / 2; k++) {
        term *= c2 * (2.0 * k) / (2.0 * k + 1);
        sum += term;
      }
    }
    a = 2 / M_PI * (theta + s * sum);
  } else {
    // sin theta (1 + 1/2 cos^2 theta + 1*3 / 2*4 cos^4 theta + ... + 1*3..(nu-3) / 2*4..(nu-2) cos^(nu-2) theta)
    double sum = 1, term = 1;
    for (int k = 1; k <= (nu - 2) / 2; k++) {
      term *= c2 * (2.0 * k - 1) / (2.0 * k);
      sum += term;
    }
    a = s * sum;
  }
  return t > 0 ? 0.5 + a / 2 : 0.5 - a / 2;
}

}  // namespace bayescreen
