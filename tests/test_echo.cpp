// The data echo's entries against the C library's "  %2d".
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "report/echo.h"
#include "support/textbuf.h"

using namespace bayescreen;

TEST(Echo, DesignEntriesAreFormattedAsPrintfWidthTwo) {
  std::vector<int32_t> values = {INT_MIN, INT_MIN + 1, -1000000, INT_MAX, INT_MAX - 1, 1000000};
  for (int32_t v = -1200; v <= 1200; v++) values.push_back(v);
  for (int32_t v : values) {
    char expected[32];
    snprintf(expected, sizeof expected, "  %2d", v);
    TextBuffer row;
    row.append("x");
    append_design_entry(row, v);
    EXPECT_EQ(std::string(row.c_str()), std::string("x") + expected) << v;
  }
}
