// String lists: growth, owned copies, missing texts, release and printing.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/strlist.h"
#include "support/helpers.h"
#include "support/logfile.h"
#include "testutil.h"

using namespace bayescreen;
using testutil::capture;
using testutil::printed;

TEST(StringList, CopiesMissingListsAndRelease) {
  char buf[16] = "untouched", text[] = "alpha", small[8];
  StringList *none = nullptr, *list = new_strlist();
  printed.clear();
  EXPECT_EQ(prqtok_strlist("title", nullptr, capture), 0);
  EXPECT_EQ(printed + std::to_string(num_strlist(nullptr)), "0");
  EXPECT_EQ(itm_strlist(nullptr, 0), nullptr);
  EXPECT_EQ(add_strlist(nullptr, "x"), nullptr);
  EXPECT_EQ(add_strprintf(nullptr, buf, sizeof buf, "%d", 5), nullptr);
  EXPECT_STREQ(buf, "untouched");
  free_strlist(&none);
  kill_strlist(nullptr);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->nstr + list->nmax, 0);
  EXPECT_EQ(list->batsize, 100);
  EXPECT_EQ(list->strs, nullptr);
  EXPECT_EQ(itm_strlist(list, 0), nullptr);

  char *stored = add_strlist(list, text);
  EXPECT_NE(stored, text);
  text[0] = 'X';  // the list keeps its own copy
  EXPECT_EQ(itm_strlist(list, 0), stored);
  EXPECT_STREQ(add_strlist(list, nullptr), "");  // a missing text is stored empty
  EXPECT_NE(add_strprintf(list, buf, sizeof buf, "%s=%g", "Pi", 0.25), buf);
  EXPECT_STREQ(buf, "Pi=0.25");
  add_strprintf(list, small, sizeof small, "%s", "abcdefghijkl");  // cut to the buffer
  EXPECT_STREQ(small, "abcdefg");
  EXPECT_EQ(num_strlist(list), 4);
  const char *expected[] = {"alpha", "", "Pi=0.25", "abcdefg"};
  for (int i = 0; i < 4; i++) EXPECT_STREQ(itm_strlist(list, i), expected[i]) << i;
  EXPECT_EQ(itm_strlist(list, 4), nullptr);
  EXPECT_EQ(itm_strlist(list, -1), nullptr);
  free_strlist(&list);
  EXPECT_EQ(list, nullptr);
  list = new_strlist();
  kill_strlist(&list);
  EXPECT_EQ(list, nullptr);
  kill_strlist(&list);  // a second kill does nothing
}

TEST(StringList, GrowsByHundredsKeepingEarlierStrings) {
  StringList *list = new_strlist();
  uint32_t n0 = numalloc;
  add_strlist(list, "s0");
  EXPECT_EQ(list->nmax, 100);
  EXPECT_EQ(numalloc - n0, 2u) << "the array and the first copy";
  for (int i = 1; i < 100; i++) add_strlist(list, ("s" + std::to_string(i)).c_str());
  EXPECT_EQ(list->nmax, 100);
  for (int k = 100; k < 103; k++) EXPECT_EQ(list->strs[k], nullptr) << k;
  uint32_t rn0 = numrealloc, rt0 = totrealloc;
  add_strlist(list, "s100");
  EXPECT_EQ(list->nmax, 200);
  EXPECT_EQ(numrealloc - rn0, 1u);
  EXPECT_EQ(totrealloc - rt0, 203u * sizeof(char *));
  EXPECT_EQ(num_strlist(list), 101);
  for (int i = 0; i <= 100; i++) EXPECT_EQ(itm_strlist(list, i), "s" + std::to_string(i));
  for (int k = 101; k < 203; k++) EXPECT_EQ(list->strs[k], nullptr) << k;
  for (int i = 101; i < 201; i++) add_strlist(list, "more");
  EXPECT_EQ(list->nmax, 300);
  EXPECT_EQ(list->strs[201], nullptr);
  kill_strlist(&list);
}

TEST(StringList, PrintedAsOneWrappedLineOfWords) {
  StringList *list = new_strlist();
  printed.clear();
  EXPECT_EQ(prqtok_strlist(nullptr, list, capture), 3);
  add_strlist(list, "A=x");
  add_strlist(list, "B=y");
  EXPECT_EQ(prqtok_strlist(nullptr, list, capture), 11);
  EXPECT_EQ(prqtok_strlist("Values: ", list, capture), 17);
  EXPECT_EQ(printed, "  \n  A=x  B=y\nValues: A=x  B=y\n");
  auto o = testutil::run_child([&] { printf("[%d]", prqtok_strlist("  ", list, bprintf)); });
  EXPECT_EQ(o.out, "  A=x  B=y\n[11]");
  for (int i = 0; i < 30; i++) add_strlist(list, ("word" + std::to_string(i)).c_str());
  printed.clear();
  int n = prqtok_strlist(nullptr, list, capture);
  EXPECT_EQ(n, static_cast<int>(printed.size()));
  EXPECT_EQ(printed.substr(0, 76),
            "  A=x  B=y  word0  word1  word2  word3  word4  word5  word6  word7  word8\n  ");
  kill_strlist(&list);
}
