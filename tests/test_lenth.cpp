// The Student t quantile and distribution function for any degrees of
// freedom, and Lenth's pseudo standard error and margins, against closed
// forms, 40-digit values (tests/tools/lenth_reference.py) and calculations
// by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "numeric/lenth.h"
#include "numeric/tquantile.h"
#include "support/error.h"

using namespace bayescreen;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// The accuracy t_quantile states.
constexpr double kRelative = 1e-8;

// Closed forms of the t quantile, each written so that it keeps its digits
// in the tail it is used for: 1 df (Cauchy), t = tan(pi (p - 1/2)), as
// 1/tan(pi (1 - p)) above the median; 2 df, t = (2p - 1) / sqrt(2p(1 - p));
// 4 df, with a = 4p(1 - p) and q = cos(acos(sqrt a) / 3) / sqrt a,
// t = sign(p - 1/2) 2 sqrt(q - 1) (it loses digits near p = 1/2, which the
// table keeps away from).
double cauchy_quantile(double p) {
  return p > 0.5 ? 1 / std::tan(M_PI * (1 - p)) : -1 / std::tan(M_PI * p);
}
double t2_quantile(double p) { return (2 * p - 1) / std::sqrt(2 * p * (1 - p)); }
double t4_quantile(double p) {
  const double a = 4 * p * (1 - p);
  const double q = std::cos(std::acos(std::sqrt(a)) / 3) / std::sqrt(a);
  return std::copysign(2 * std::sqrt(q - 1), p - 0.5);
}

}  // namespace

TEST(TQuantile, ClosedFormsForOneTwoAndFourDegreesOfFreedom) {
  const double ps[] = {1e-12, 1e-6, 0.001, 0.025, 0.3, 0.4, 0.6, 0.7, 0.95, 0.975, 0.999, 1 - 1e-9};
  for (double p : ps) {
    const double expected[] = {cauchy_quantile(p), t2_quantile(p), t4_quantile(p)};
    const double dfs[] = {1, 2, 4};
    for (int k = 0; k < 3; k++)
      EXPECT_NEAR(t_quantile(p, dfs[k]), expected[k], kRelative * std::fabs(expected[k]))
          << "p=" << p << " df=" << dfs[k];
  }
}

// Non-integer degrees of freedom, as Lenth's m/3 gives them, from the
// 40-digit solver of tests/tools/lenth_reference.py.
TEST(TQuantile, NonIntegerDegreesOfFreedom) {
  const double cases[][3] = {
      {0.975, 1.0 / 3, 2579.4326770818036},
      {0.975, 2.0 / 3, 43.979061884277365},
      {0.975, 5.0, 2.5705818356363148},
      {0.975, 31.0 / 3, 2.2184345617272078},
      {0.6, 0.5, 0.39797542678479059},
      {0.999, 2.5, 13.82219311086596},
      {0.025, 3.7, -2.8675207071911893},
      {0.9999, 7.0 / 3, 42.534682491754889},
      {0.75, 25.5, 0.684232628153452},
      {0.995, 100.25, 2.6257634215578146},
      {0.1, 1000.0, -1.2823987214609244},
      {0.999999, 1.5, 5219.4693246068863},
      {0.5000001, 4.2, 2.6589547117064333e-7},
      {1e-12, 0.8, -232009841576075.92},
      {1e-12, 100.0, -8.0258255944932531},
      {0.999999999999, 1000.0, 7.1242321273824426},
  };
  for (const auto &c : cases)
    EXPECT_NEAR(t_quantile(c[0], c[1]), c[2], kRelative * std::fabs(c[2]))
        << "p=" << c[0] << " df=" << c[1];
  EXPECT_EQ(t_quantile(0.5, 3.3), 0.0);
}

// P(T <= t) in closed form: 1 df, 1/2 + atan(t)/pi; 2 df,
// 1/2 + t / (2 sqrt(2 + t^2)) (Abramowitz and Stegun 26.7.3, 26.7.4).
TEST(TQuantile, DistributionFunctionClosedForms) {
  for (double t : {-1e6, -30.0, -2.5, -0.3, 0.0, 1e-9, 0.7, 4.0, 1e3}) {
    EXPECT_NEAR(t_cdf(t, 1), 0.5 + std::atan(t) / M_PI, 1e-9) << t;
    EXPECT_NEAR(t_cdf(t, 2), 0.5 + t / (2 * std::sqrt(2 + t * t)), 1e-9) << t;
  }
  // The far tail keeps its relative accuracy: P(T <= -1e6) with 1 df is
  // atan(1e-6)/pi, to first order 1e-6/pi.
  EXPECT_NEAR(t_cdf(-1e6, 1), std::atan(1e-6) / M_PI, 1e-9 * 1e-6 / M_PI);
  EXPECT_EQ(t_cdf(kInf, 3.5), 1.0);
  EXPECT_EQ(t_cdf(-kInf, 3.5), 0.0);
}

TEST(TQuantile, InvalidArgumentsAreThrown) {
  struct Case {
    double p, df;
    std::string message;
  };
  const std::string head = "\nINTERNAL ERROR in values for a T-distribution quantile:\n  ";
  const Case cases[] = {
      {0, 3, head + "Degrees of Freedom: df=3  Probability=0\n"},
      {1, 3, head + "Degrees of Freedom: df=3  Probability=1\n"},
      {-0.5, 3, head + "Degrees of Freedom: df=3  Probability=-0.5\n"},
      {kNaN, 3, head + "Degrees of Freedom: df=3  Probability=nan\n"},
      {0.9, 0, head + "Degrees of Freedom: df=0  Probability=0.9\n"},
      {0.9, -2, head + "Degrees of Freedom: df=-2  Probability=0.9\n"},
      {0.9, kInf, head + "Degrees of Freedom: df=inf  Probability=0.9\n"},
      {0.9, kNaN, head + "Degrees of Freedom: df=nan  Probability=0.9\n"},
  };
  for (const Case &c : cases) {
    try {
      t_quantile(c.p, c.df);
      ADD_FAILURE() << "p=" << c.p << " df=" << c.df << " was accepted";
    } catch (const Error &e) {
      EXPECT_EQ(e.message(), c.message);
    }
  }
  EXPECT_THROW(t_cdf(1, 0), Error);
  EXPECT_THROW(t_cdf(kNaN, 2), Error);
}

// ---- Lenth's method ---------------------------------------------------------------

// Each case worked by hand from the definitions (the sorted |c|, their
// median, s0 = 1.5 median, the |c| below 2.5 s0 and their median); the t
// quantiles for m = 3, 6 and 12 (1, 2 and 4 df) from the closed forms above.
// The 31 effects are those of the full 2^5 reactor experiment in
// examples/reactor.txt (the reactor example of Box, Hunter and Hunter,
// Statistics for Experimenters, 2nd ed., 2005), computed in exact fractions
// by tests/tools/lenth_reference.py, which gives the ME and SME with
// 40-digit t quantiles.
TEST(Lenth, HandCalculationsAndThePublishedReactorEffects) {
  struct Case {
    const char *what;
    std::vector<double> contrasts;
    double s0, pse, t_me, t_sme;
  };
  auto sme_p = [](int m) { return (1 + std::pow(0.95, 1.0 / m)) / 2; };
  const Case cases[] = {
      // |c| = 2 4 30: median 4, s0 6, below 15: 2 4, median 3.
      {"m = 3", {2, -4, 30}, 6, 4.5, cauchy_quantile(0.975), cauchy_quantile(sme_p(3))},
      // |c| = .5 1 1.5 2 3 10: median 1.75, s0 2.625, below 6.5625: five,
      // median 1.5.
      {"m = 6", {1, -2, 3, -0.5, 10, 1.5}, 2.625, 2.25, t2_quantile(0.975),
       t2_quantile(sme_p(6))},
      // |c| = .1 .. 1, 8, 12: median .65, s0 .975, below 2.4375: ten, median .55.
      {"m = 12", {0.1, -0.2, 0.3, 0.4, -0.5, 0.6, 0.7, 0.8, -0.9, 1.0, 8, -12}, 0.975, 0.825,
       t4_quantile(0.975), t4_quantile(sme_p(12))},
      // Sixteenth of 31 |c|: 1.0; below 3.75: 26, median (0.875 + 0.875)/2.
      {"reactor",
       {-1.375, 19.5, -0.625, 10.75, -6.25, 1.375, 0.75, -0.875, 0.125, 0.875, 13.25,
        2.0,    2.125, 0.875, -11.0, 1.5,   1.375, -1.875, -0.75, -2.5, 0.625, 1.125,
        0.125,  -0.25, 0.125, 0.0,   1.5,   0.625, 1.0,    -0.625, -0.5},
       1.5, 1.3125, 2.9116953622669609 / 1.3125, 5.5360804168682983 / 1.3125},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const LenthResult r = lenth(c.contrasts);
    EXPECT_EQ(r.contrasts, static_cast<int>(c.contrasts.size()));
    EXPECT_DOUBLE_EQ(r.df, c.contrasts.size() / 3.0);
    EXPECT_DOUBLE_EQ(r.s0, c.s0);
    EXPECT_DOUBLE_EQ(r.pse, c.pse);
    EXPECT_NEAR(r.t_me, c.t_me, kRelative * c.t_me);
    EXPECT_NEAR(r.t_sme, c.t_sme, kRelative * c.t_sme);
    EXPECT_NEAR(r.me, c.t_me * c.pse, kRelative * c.t_me * c.pse);
    EXPECT_NEAR(r.sme, c.t_sme * c.pse, kRelative * c.t_sme * c.pse);
  }
}

TEST(Lenth, NoScaleWhenMostContrastsAreZeroAndInvalidContrasts) {
  const LenthResult r = lenth(std::vector<double>{0, 5, 0, -3, 0});
  EXPECT_EQ(r.s0, 0.0);
  EXPECT_EQ(r.pse, 0.0);
  EXPECT_EQ(r.me, 0.0);
  EXPECT_EQ(r.sme, 0.0);
  EXPECT_GT(r.t_me, 0.0);
  const std::vector<double> invalid[] = {{}, {1, kNaN, 2}, {1, 2, -kInf}};
  for (const auto &contrasts : invalid) EXPECT_THROW(lenth(contrasts), Error);
}

namespace {

// The finite series of whole degrees of freedom against closed forms
// (nu = 1 to 4) and against the incomplete beta function of t_cdf.
TEST(TQuantile, WholeDegreesOfFreedomSeries) {
  const double ts[] = {-40, -3.5, -1, -0.01, 0, 0.3, 1.7, 6, 250};
  for (double t : ts) {
    SCOPED_TRACE(t);
    EXPECT_NEAR(bayescreen::t_cdf_whole_df(t, 1), 0.5 + std::atan(t) / M_PI, 1e-15);
    EXPECT_NEAR(bayescreen::t_cdf_whole_df(t, 2), 0.5 + t / (2 * std::sqrt(2 + t * t)), 1e-15);
    const double u = t / std::sqrt(3.0);
    EXPECT_NEAR(bayescreen::t_cdf_whole_df(t, 3), 0.5 + (u / (1 + u * u) + std::atan(u)) / M_PI, 1e-15);
    const double v = t / std::sqrt(1 + t * t / 4);
    EXPECT_NEAR(bayescreen::t_cdf_whole_df(t, 4), 0.5 + 0.375 * v * (1 - v * v / 12), 1e-15);
    // t_cdf's continued fraction stops at a relative change of about 1e-11.
    for (int nu : {5, 11, 30, 95, 200, 201, 5000})
      EXPECT_NEAR(bayescreen::t_cdf_whole_df(t, nu), bayescreen::t_cdf(t, nu), 1e-10) << nu;
  }
}

}  // namespace
