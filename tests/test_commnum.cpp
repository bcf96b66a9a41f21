#include <gtest/gtest.h>

#include <climits>
#include <cstdio>

#include "support/commnum.h"

using namespace bayescreen;

TEST(Commnum, SmallValuesHaveNoSeparator) {
  EXPECT_STREQ(commnum(0), "0");
  EXPECT_STREQ(commnum(999), "999");
  EXPECT_STREQ(commnum(9999), "9999");
  EXPECT_STREQ(commnum(-9999), "-9999");
  EXPECT_STREQ(commnum(-1), "-1");
}

TEST(Commnum, LargeValuesAreGroupedByThousands) {
  EXPECT_STREQ(commnum(10000), "10,000");
  EXPECT_STREQ(commnum(-10000), "-10,000");
  EXPECT_STREQ(commnum(1234567), "1,234,567");
  EXPECT_STREQ(commnum(100000), "100,000");
  EXPECT_STREQ(commnum(1000000), "1,000,000");
  EXPECT_STREQ(commnum(INT_MAX), "2,147,483,647");
  EXPECT_STREQ(commnum(INT_MIN), "-2,147,483,648");
}

TEST(Commnum, ForcedGroupingAndCallerBuffer) {
  char buf[32];
  EXPECT_STREQ(commnumbf(buf, 1234), "1,234");
  EXPECT_STREQ(commnumbf(buf, 123), "123");
  EXPECT_STREQ(commnumbf(buf, -1234), "-1,234");
  EXPECT_STREQ(commnumb(buf, 42), "42");
  EXPECT_EQ(commnumb(buf, 12345), buf);
}

TEST(Commnum, ThreeEntryPointsKeepSeparateBuffers) {
  char line[64];
  snprintf(line, sizeof line, "%s %s %s", commnum(1), commnum1(2), commnum2(3));
  EXPECT_STREQ(line, "1 2 3");
  const char *a = commnum(11111);
  commnum1(22222);
  EXPECT_STREQ(a, "11,111");
}
