// Word lists printed with line wrapping, and the echo of the command line.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "options/toklist.h"
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

std::vector<std::string> split_lines(const std::string &text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::vector<std::string> split_words(const std::string &text) {
  std::vector<std::string> words;
  std::string w;
  std::istringstream in(text);
  while (in >> w) words.push_back(w);
  return words;
}

}  // namespace

TEST(TokList, WordsAreSeparatedByTheGapAndEndWithANewline) {
  const char *items[] = {"a", "bb", "ccc"};
  captured.clear();
  EXPECT_EQ(toklist(items, 3, 0, 75, capture, 2, nullptr), 11);
  EXPECT_EQ(captured, "a  bb  ccc\n");

  captured.clear();
  EXPECT_EQ(toklist(items, 3, 0, 75, capture, 1, ","), 11);
  EXPECT_EQ(captured, "a, bb, ccc\n");
}

TEST(TokList, EmptyOrMissingListPrintsOnlyTheNewline) {
  captured.clear();
  EXPECT_EQ(toklist(nullptr, 4, 10, 75, capture, 2, nullptr), 1);
  const char *items[] = {"x"};
  EXPECT_EQ(toklist(items, 0, 10, 75, capture, 2, nullptr), 1);
  EXPECT_EQ(captured, "\n\n");
}

TEST(TokList, MissingWordPrintsAsNULLInAngleBrackets) {
  const char *items[] = {"a", nullptr};
  captured.clear();
  toklist(items, 2, 0, 75, capture, 2, nullptr);
  EXPECT_EQ(captured, "a  <NULL>\n");
}

TEST(TokList, WrapsAt75ColumnsWithContinuationIndentedByTwo) {
  std::vector<const char *> items(8, "aaaaaaaaaa");
  captured.clear();
  int n = toklist(items.data(), 8, 0, 75, capture, 2, nullptr);
  std::string six = "aaaaaaaaaa  aaaaaaaaaa  aaaaaaaaaa  aaaaaaaaaa  aaaaaaaaaa  aaaaaaaaaa";
  EXPECT_EQ(captured, six + "\n  aaaaaaaaaa  aaaaaaaaaa\n");
  EXPECT_EQ(n, static_cast<int>(captured.size()));
}

TEST(TokList, AWordThatEndsExactlyAtTheWidthStaysOnTheLine) {
  const char *fits[] = {"123456789012"};
  captured.clear();
  toklist(fits, 1, 63, 75, capture, 2, nullptr);
  EXPECT_EQ(captured, "123456789012\n");

  const char *too_long[] = {"1234567890123"};
  captured.clear();
  EXPECT_EQ(toklist(too_long, 1, 63, 75, capture, 2, nullptr), 3 + 13 + 1);
  EXPECT_EQ(captured, "\n  1234567890123\n");
}

TEST(TokList, SeparatorCountsTowardsTheWidthExceptAfterTheLastWord) {
  const char *items[] = {"abc", "d"};
  captured.clear();
  toklist(items, 2, 70, 75, capture, 1, ", ");
  EXPECT_EQ(captured, "abc, \n  d\n");
}

TEST(TokList, WordLongerThanALineIsNeverSplit) {
  std::string huge(100, 'L');
  const char *items[] = {"short", huge.c_str(), "x"};
  captured.clear();
  int n = toklist(items, 3, 10, 75, capture, 2, nullptr);
  EXPECT_EQ(captured, "short\n  " + huge + "\n  x\n");
  EXPECT_EQ(n, static_cast<int>(captured.size()));
}

TEST(TokList, FirstWordMovesToANewLineWhenItDoesNotFitAfterTheTitle) {
  std::string title(70, 'T');
  const char *items[] = {"0123456789"};
  captured.clear();
  EXPECT_EQ(prqtoklist(title.c_str(), items, 1, capture), 70 + 3 + 10 + 1);
  EXPECT_EQ(captured, title + "\n  0123456789\n");
}

TEST(TokList, TitleDefaultsToTwoSpaces) {
  const char *items[] = {"x", "y"};
  captured.clear();
  EXPECT_EQ(prqtoklist(nullptr, items, 2, capture), 7);
  EXPECT_EQ(captured, "  x  y\n");
  captured.clear();
  EXPECT_EQ(prqtoklist("Files: ", items, 2, capture), 12);
  EXPECT_EQ(captured, "Files: x  y\n");
}

TEST(TokList, NullPrinterMeansStandardOutput) {
  auto o = run_child([] {
    const char *items[] = {"x", "y"};
    int a = qtoklist(nullptr, items, 2);
    int b = toklist(items, 2, 0, 75, nullptr, 3, nullptr);
    printf("[%d %d]", a, b);
  });
  EXPECT_EQ(o.out, "  x  y\nx   y\n[7 6]");
  EXPECT_EQ(o.err, "");
}

TEST(CommandLineEcho, OneLineWithNameAndWords) {
  const char *argv[] = {"/usr/bin/bayescreen", "design", "-P0.1"};
  captured.clear();
  EXPECT_EQ(prshow_command_line("NAME", 3, argv, capture), 34);
  EXPECT_EQ(captured, "Command line: NAME  design  -P0.1\n");

  captured.clear();
  prshow_command_line(nullptr, 2, argv, capture);
  EXPECT_EQ(captured, "Command line:     design\n");

  captured.clear();
  EXPECT_EQ(prshow_command_line("NAME", 1, argv, capture), 21);
  EXPECT_EQ(captured, "Command line: NAME  \n");
}

TEST(CommandLineEcho, ShownOnStandardOutput) {
  auto o = run_child([] {
    const char *argv[] = {"prog", "design", "-L"};
    int n = show_command_line("BAYESCREEN", 3, argv);
    printf("[%d]", n);
  });
  EXPECT_EQ(o.out, "Command line: BAYESCREEN  design  -L\n[37]");
}

TEST(CommandLineEcho, ManyArgumentsWrapAndKeepEveryWord) {
  std::vector<std::string> words = {"prog"};
  for (int i = 0; i < 40; i++) words.push_back(std::string(1 + (i * 7) % 13, 'a' + i % 26));
  words.push_back(std::string(90, 'Z'));
  words.push_back("-P0.25");
  std::vector<const char *> argv;
  for (const auto &w : words) argv.push_back(w.c_str());

  captured.clear();
  int n = prshow_command_line("NAME", static_cast<int>(argv.size()), argv.data(), capture);
  EXPECT_EQ(n, static_cast<int>(captured.size()));
  auto lines = split_lines(captured);
  ASSERT_GT(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("Command line: NAME  ", 0), 0u);
  for (size_t i = 0; i < lines.size(); i++) {
    if (lines[i].find(std::string(90, 'Z')) == std::string::npos) {
      EXPECT_LE(lines[i].size(), 75u) << lines[i];
    }
    if (i > 0) {
      EXPECT_EQ(lines[i].rfind("  ", 0), 0u) << lines[i];
    }
  }
  auto echoed = split_words(captured);
  std::vector<std::string> expected = {"Command", "line:", "NAME"};
  expected.insert(expected.end(), words.begin() + 1, words.end());
  EXPECT_EQ(echoed, expected);
}
