// Reading a real number at the start of a text: the forms of scanf's "%lf",
// with values beyond the doubles defined.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "support/numtext.h"

using bayescreen::scan_double;

TEST(ScanDouble, ReadsTheFormsOfScanfAndDefinesValuesBeyondTheDoubles) {
  const double inf = std::numeric_limits<double>::infinity();
  const double untouched = -7.25;
  struct Case {
    const char *text;
    double value;  // untouched: refused
  };
  const Case cases[] = {
      {"2.5", 2.5}, {"  \t-0.125xyz", -0.125}, {"+4", 4}, {"1e2", 100}, {"1E-2", 0.01},
      {".5", 0.5}, {"7.", 7}, {"1,5", 1}, {"12abc", 12},
      // An exponent or sign without digits ends the number before it.
      {"1e", 1}, {"1e+", 1}, {"1.5e-", 1.5},
      // Hexadecimal notation, and the "0x" that scanf refuses.
      {"0x1p3", 8}, {"0x.8", 0.5}, {"0x1.8p1", 3}, {"0x1g", 1}, {"0x.", 0}, {"00x", 0},
      {"0x", untouched}, {"0X", untouched}, {"-0xg", untouched}, {" +0x", untouched},
      // Infinities; a word that begins "infinity" and breaks off is refused.
      {"inf", inf}, {"-INF", -inf}, {"infx", inf}, {"Infinity", inf}, {"infinity5", inf},
      {"infi", untouched}, {"infin", untouched}, {"-infinit", untouched}, {"INFIX", untouched},
      // Beyond the doubles.
      {"1e999", inf}, {"-1e999", -inf}, {"1e-999", 0}, {"4e-320", 4e-320},
      // No number at all.
      {"", untouched}, {"   ", untouched}, {"-", untouched}, {".", untouched}, {"-.e1", untouched},
      {"e5", untouched}, {"in", untouched}, {"na", untouched}, {"abc", untouched},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string("text `") + c.text + "'");
    double value = untouched;
    EXPECT_EQ(scan_double(c.text, &value), c.value != untouched);
    EXPECT_EQ(value, c.value);
  }
  for (const char *text : {"nan", "-NaN", "nan(12)", "nan("}) {
    double value = 0;
    EXPECT_TRUE(scan_double(text, &value)) << text;
    EXPECT_TRUE(std::isnan(value)) << text;
  }
}
