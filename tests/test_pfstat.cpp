#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>
#include <string>

#include "numeric/lngam.h"
#include "numeric/pfstat.h"
#include "support/error.h"
#include "support/showplaces.h"
#include "testutil.h"

using namespace bayescreen;

static const double kInf = std::numeric_limits<double>::infinity();
static const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Table values are given to 3-4 significant digits; their rounding moves the
// probabilities by at most about 3e-5.
TEST(PfstatTTest, TableValuesAndLimits) {
  const double t975[][2] = {{1, 12.706}, {2, 4.303}, {5, 2.571},
                            {10, 2.228}, {30, 2.042}, {120, 1.980}};
  for (const auto &r : t975) {
    EXPECT_NEAR(pvttest(r[0], r[1]), 0.05, 1e-4) << "df=" << r[0];
    EXPECT_NEAR(pvttest(r[0], -r[1]), 0.05, 1e-4) << "df=" << r[0];
  }
  // With 1 df (Cauchy) P = 1 - (2/pi) atan|t|.
  EXPECT_NEAR(pvttest(1, 3.5), 1 - 2 / M_PI * std::atan(3.5), 1e-8);
  for (double df : {0.5, 3.0, 1e4}) {
    EXPECT_EQ(pvttest(df, 0), 1.0);
    EXPECT_EQ(pvttest(df, kInf), 0.0);
    EXPECT_EQ(pvttest(df, -kInf), 0.0);
    EXPECT_TRUE(std::isnan(pvttest(df, kNaN)));
  }
}

TEST(PfstatFDist, TableValuesAndLimits) {
  EXPECT_NEAR(fdist(3, 10, 3.708), 0.95, 1e-4);
  EXPECT_NEAR(fdist(5, 5, 5.050), 0.95, 1e-4);
  EXPECT_NEAR(fdist(1, 1, 161.45), 0.95, 1e-4);
  EXPECT_NEAR(fdist(2, 20, 5.849), 0.99, 1e-4);
  EXPECT_NEAR(fdist(10, 10, 4.849), 0.99, 1e-4);
  EXPECT_NEAR(fdist(2, 2, 3), 0.75, 1e-8);  // F(2, 2): f / (1 + f)
  EXPECT_EQ(fdist(4, 7, 0), 0.0);
  EXPECT_EQ(fdist(4, 7, kInf), 1.0);
  EXPECT_EQ(fdist(1, 7, 1e308), 1.0);  // df1 * f overflows
}

TEST(PfstatBetainc, KnownValues) {
  for (double a : {0.5, 2.5, 30.0}) EXPECT_NEAR(betainc(a, a, 0.5), 0.5, 1e-8);
  for (double x : {0.01, 0.3, 0.73, 0.99}) {
    EXPECT_NEAR(betainc(1, 1, x), x, 1e-8);
    EXPECT_NEAR(betainc(3, 1, x), std::pow(x, 3), 1e-8);
    EXPECT_NEAR(betainc(1, 4, x), 1 - std::pow(1 - x, 4), 1e-8);
  }
  // I_0.4(2, 3) = sum_{j=2..4} C(4,j) 0.4^j 0.6^(4-j) = 0.5248.
  EXPECT_NEAR(betainc(2, 3, 0.4), 0.5248, 1e-8);
  // I_x(1/2, 1/2) = (2/pi) asin(sqrt x): 1/3 at x = 1/4.
  EXPECT_NEAR(betainc(0.5, 0.5, 0.25), 1.0 / 3.0, 1e-8);
  EXPECT_NEAR(betainc(1e6, 1e6, 0.5), 0.5, 1e-6);  // converges within the bound
  EXPECT_EQ(betainc(2, 3, 1), 1.0);
  EXPECT_EQ(betainc(2, 3, -0.5), 0.0);
  EXPECT_TRUE(std::isnan(betainc(2, 3, kNaN)));
  EXPECT_TRUE(std::isnan(betacf(2, 3, kNaN)));
}

TEST(Lngam, KnownValues) {
  EXPECT_NEAR(lngam(0.5), 0.5723649429, 1e-9);  // log(sqrt(pi))
  EXPECT_NEAR(lngam(1), 0.0, 1e-10);
  EXPECT_NEAR(lngam(2), 0.0, 1e-10);
  EXPECT_NEAR(lngam(10), 12.8018274801, 1e-9);    // log(362880)
  EXPECT_NEAR(lngam(100), 359.1342053696, 1e-8);  // log(99!)
  EXPECT_NEAR(lngam(0.1), 2.2527126517, 1e-9);    // log(9.5135076987)
}

// Exact or closed-form values at table points (tests/tools/dist_reference.py),
// to the accuracy each routine states: an absolute 2.1e-10 for lngam up to
// z = 1000, an absolute 1e-9 for the incomplete beta function and the F and
// t tails built on it.
TEST(Distributions, ReferenceValuesToTheStatedAccuracy) {
  const double lngam_cases[][2] = {
      {0.1, 2.2527126517342055},  {0.5, 0.57236494292470008}, {1.0, 0},
      {1.5, -0.1207822376352452}, {2.0, 0},                   {2.5, 0.28468287047291929},
      {3.5, 1.2009736023470743},  {10.0, 12.801827480081469}, {15.0, 25.19122118273868},
      {20.1, 39.637192503636946}, {100.0, 359.1342053695754}, {1000.0, 5905.2204232091808},
  };
  for (const auto &[z, value] : lngam_cases) EXPECT_NEAR(lngam(z), value, 2.1e-10) << "z=" << z;

  const double beta_cases[][4] = {
      {2, 3, 0.4, 0.52480000000000004},   {1, 1, 0.3, 0.29999999999999999},
      {5, 5, 0.5, 0.5},                   {12, 12, 0.5, 0.5},
      {3, 9, 0.1, 0.089561850849999999},  {9, 3, 0.9, 0.91043814914999999},
      {7, 20, 0.25, 0.48460683153006645}, {30, 40, 0.4, 0.31814380259056285},
      {100, 3, 0.97, 0.40633618022259221}, {1, 30, 0.0212128, 0.47440837289116738},
  };
  for (const auto &[a, b, x, value] : beta_cases)
    EXPECT_NEAR(betainc(a, b, x), value, 1e-9) << "a=" << a << " b=" << b << " x=" << x;

  const double f_cases[][4] = {
      {1, 2, 3.0, 0.7745966692414834},    {2, 2, 3.0, 0.74999999999999989},
      {3, 10, 3.708, 0.94999121839545764}, {5, 4, 2.6, 0.81217743674063192},
      {1, 54, 2.9, 0.90567043591900664},  {7, 20, 0.5, 0.1765186120690399},
      {20, 60, 1.5, 0.88471263254330412}, {1, 30, 0.0212128, 0.1148250507393991},
  };
  for (const auto &[df1, df2, f, value] : f_cases)
    EXPECT_NEAR(fdist(df1, df2, f), value, 1e-9) << "df1=" << df1 << " df2=" << df2 << " f=" << f;

  const double t_cases[][3] = {
      {1, 3.5, 0.17717106556580942},    {2, 4.303, 0.049992524985214448},
      {3, 1.25, 0.2999294679508625},    {5, 2.571, 0.049974634683851438},
      {10, 2.228, 0.050011771817111361}, {13, 0.5, 0.62543134108121556},
      {30, 2.042, 0.050028670656198093}, {60, 3.45, 0.0010320037590829667},
      {121, 1.98, 0.049973099333198157},
  };
  for (const auto &[df, t, value] : t_cases) {
    EXPECT_NEAR(pvttest(df, t), value, 1e-9) << "df=" << df << " t=" << t;
    EXPECT_NEAR(pvttest(df, -t), value, 1e-9) << "df=" << df << " t=" << -t;
  }
  // Beyond the unit interval the function is flat.
  EXPECT_EQ(betainc(2, 3, 1.5), 1.0);
  EXPECT_EQ(betainc(2, 3, 0), 0.0);
}

// Each invalid argument: an error with the message, to be shown with the
// program places.
TEST(DistErrors, Messages) {
  const struct {
    void (*call)();
    const char *out;
  } cases[] = {
      {[] { betainc(0, 1, 0.5); },
       "\nINTERNAL ERROR in values for the incomplete beta function:\n  a=0  b=1  Val=0.5\n"},
      {[] { betainc(2, -1.5, 0.25); },
       "\nINTERNAL ERROR in values for the incomplete beta function:\n  a=2  b=-1.5  Val=0.25\n"},
      {[] { fdist(1, 0, 3); },
       "\nINTERNAL ERROR in values for an F-distribution value:\n"
       "  Degrees of Freedom: df1=1  df2=0  Val=3\n"},
      {[] { fdist(2, 5, -0.5); },
       "\nINTERNAL ERROR in values for an F-distribution value:\n"
       "  Degrees of Freedom: df1=2  df2=5  Val=-0.5\n"},
      {[] { pvttest(0, 2.5); },
       "\nINTERNAL ERROR in values for an T-distribution P-value:\n"
       "  Degrees of Freedom: df=0  Level=2.5\n"},
      {[] { lngam(0); }, "\nINTERNAL ERROR in values for log(Gamma(z)): z=0\n"},
      {[] { lngam(-1); }, "\nINTERNAL ERROR in values for log(Gamma(z)): z=-1\n"},
  };
  for (const auto &c : cases) {
    try {
      c.call();
      ADD_FAILURE() << "no error for " << c.out;
    } catch (const Error &e) {
      EXPECT_EQ(e.message(), c.out);
      EXPECT_EQ(e.channel(), Channel::Screen);
      EXPECT_TRUE(e.shows_places());
    }
  }
}
