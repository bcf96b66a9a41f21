// String lists: growth, owned copies, missing texts, release and printing.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "options/strlist.h"
#include "support/helpers.h"
#include "support/logfile.h"
#include "testutil.h"

using namespace bayescreen;
using testutil::run_child;

namespace {

std::string captured;
int capture(const char *fmt, ...) {
  va_list ap, ap2;
  va_start(ap, fmt);
  va_copy(ap2, ap);
  int n = vsnprintf(nullptr, 0, fmt, ap);
  std::string s(static_cast<size_t>(n) + 1, '\0');
  vsnprintf(s.data(), s.size(), fmt, ap2);
  va_end(ap2);
  va_end(ap);
  s.resize(static_cast<size_t>(n));
  captured += s;
  return n;
}

}  // namespace

TEST(StringList, NewListIsEmpty) {
  StringList *list = new_strlist();
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->nstr, 0);
  EXPECT_EQ(list->nmax, 0);
  EXPECT_EQ(list->batsize, 100);
  EXPECT_EQ(list->strs, nullptr);
  EXPECT_EQ(num_strlist(list), 0);
  EXPECT_EQ(itm_strlist(list, 0), nullptr);
  kill_strlist(&list);
}

TEST(StringList, NullListIsAcceptedEverywhere) {
  EXPECT_EQ(num_strlist(nullptr), 0);
  EXPECT_EQ(itm_strlist(nullptr, 0), nullptr);
  EXPECT_EQ(add_strlist(nullptr, "x"), nullptr);
  char buf[16] = "untouched";
  EXPECT_EQ(add_strprintf(nullptr, buf, sizeof buf, "%d", 5), nullptr);
  EXPECT_STREQ(buf, "untouched");
  StringList *none = nullptr;
  free_strlist(&none);
  kill_strlist(nullptr);
  captured.clear();
  EXPECT_EQ(prqtok_strlist("title", nullptr, capture), 0);
  EXPECT_EQ(captured, "");
}

TEST(StringList, StoresOwnCopiesInOrder) {
  StringList *list = new_strlist();
  char text[] = "alpha";
  char *stored = add_strlist(list, text);
  EXPECT_NE(stored, text);
  text[0] = 'X';
  EXPECT_STREQ(itm_strlist(list, 0), "alpha");
  EXPECT_EQ(itm_strlist(list, 0), stored);
  add_strlist(list, "beta");
  EXPECT_EQ(num_strlist(list), 2);
  EXPECT_STREQ(itm_strlist(list, 1), "beta");
  EXPECT_EQ(itm_strlist(list, 2), nullptr);
  EXPECT_EQ(itm_strlist(list, -1), nullptr);
  kill_strlist(&list);
}

TEST(StringList, MissingTextIsStoredAsAnEmptyString) {
  StringList *list = new_strlist();
  char *stored = add_strlist(list, nullptr);
  ASSERT_NE(stored, nullptr);
  EXPECT_STREQ(stored, "");
  ASSERT_NE(itm_strlist(list, 0), nullptr);
  EXPECT_STREQ(itm_strlist(list, 0), "");
  kill_strlist(&list);
}

TEST(StringList, GrowsByHundredsKeepingEarlierStrings) {
  StringList *list = new_strlist();
  uint32_t n0 = numalloc;
  add_strlist(list, "s0");
  EXPECT_EQ(list->nmax, 100);
  EXPECT_EQ(numalloc - n0, 2u) << "the array and the first copy";
  for (int i = 1; i < 100; i++) add_strlist(list, ("s" + std::to_string(i)).c_str());
  EXPECT_EQ(list->nstr, 100);
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

TEST(StringList, FormattedAddLeavesTheTextInTheBuffer) {
  StringList *list = new_strlist();
  char buf[64];
  char *stored = add_strprintf(list, buf, sizeof buf, "%s=%g", "Pi", 0.25);
  EXPECT_STREQ(stored, "Pi=0.25");
  EXPECT_STREQ(buf, "Pi=0.25");
  EXPECT_NE(stored, buf);
  EXPECT_STREQ(itm_strlist(list, 0), "Pi=0.25");
  kill_strlist(&list);
}

TEST(StringList, FormattedAddIsCutToTheBufferSize) {
  StringList *list = new_strlist();
  char buf[8];
  add_strprintf(list, buf, sizeof buf, "%s", "abcdefghijkl");
  EXPECT_STREQ(buf, "abcdefg");
  EXPECT_STREQ(itm_strlist(list, 0), "abcdefg");
  kill_strlist(&list);
}

TEST(StringList, KillClearsThePointerAndASecondKillDoesNothing) {
  StringList *list = new_strlist();
  add_strlist(list, "a");
  kill_strlist(&list);
  EXPECT_EQ(list, nullptr);
  kill_strlist(&list);
  EXPECT_EQ(list, nullptr);

  StringList *other = new_strlist();
  free_strlist(&other);
  EXPECT_EQ(other, nullptr);
}

TEST(StringList, PrintedAsOneWrappedLineOfWords) {
  StringList *list = new_strlist();
  add_strlist(list, "A=x");
  add_strlist(list, "B=y");
  captured.clear();
  EXPECT_EQ(prqtok_strlist(nullptr, list, capture), 11);
  EXPECT_EQ(captured, "  A=x  B=y\n");

  captured.clear();
  EXPECT_EQ(prqtok_strlist("Values: ", list, capture), 17);
  EXPECT_EQ(captured, "Values: A=x  B=y\n");

  StringList *empty = new_strlist();
  captured.clear();
  EXPECT_EQ(prqtok_strlist(nullptr, empty, capture), 3);
  EXPECT_EQ(captured, "  \n");

  for (int i = 0; i < 30; i++) add_strlist(list, ("word" + std::to_string(i)).c_str());
  captured.clear();
  int n = prqtok_strlist(nullptr, list, capture);
  EXPECT_EQ(n, static_cast<int>(captured.size()));
  size_t start = 0;
  while (start < captured.size()) {
    size_t end = captured.find('\n', start);
    EXPECT_LE(end - start, 75u) << captured;
    EXPECT_EQ(captured.compare(start, 2, "  "), 0) << captured;
    start = end + 1;
  }
  kill_strlist(&list);
  kill_strlist(&empty);
}

TEST(StringList, PrintingThroughBprintfReachesTheScreen) {
  auto o = run_child([] {
    StringList *list = new_strlist();
    add_strlist(list, "Nrows=8");
    add_strlist(list, "Ncols=3");
    int n = prqtok_strlist("  ", list, bprintf);
    printf("[%d]", n);
  });
  EXPECT_EQ(o.out, "  Nrows=8  Ncols=3\n[19]");
}
