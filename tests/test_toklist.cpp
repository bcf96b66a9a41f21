// Word lists printed with line wrapping, and the echo of the command line.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "support/toklist.h"
#include "testutil.h"

using namespace bayescreen;
using testutil::capture;
using testutil::printed;

TEST(TokList, WrappingRules) {
  const char *abc[] = {"a", "bb", "ccc"}, *with_null[] = {"a", nullptr}, *xy[] = {"x", "y"};
  const char *fits[] = {"123456789012"}, *too_long[] = {"1234567890123"}, *two[] = {"abc", "d"};
  const char *argv[] = {"/usr/bin/bayescreen", "design", "-P0.1"}, *digits[] = {"0123456789"};
  std::vector<const char *> ten_a(8, "aaaaaaaaaa");
  std::string huge(100, 'L'), title(70, 'T');
  const char *with_huge[] = {"short", huge.c_str(), "x"};
  const std::string six = "aaaaaaaaaa  aaaaaaaaaa  aaaaaaaaaa  aaaaaaaaaa  aaaaaaaaaa  aaaaaaaaaa";
  const std::pair<std::function<int()>, std::string> cases[] = {
      {[&] { return toklist(abc, 3, 0, 75, capture, 2, nullptr); }, "a  bb  ccc\n"},
      {[&] { return toklist(abc, 3, 0, 75, capture, 1, ","); }, "a, bb, ccc\n"},
      {[&] { return toklist(nullptr, 4, 10, 75, capture, 2, nullptr); }, "\n"},
      {[&] { return toklist(abc, 0, 10, 75, capture, 2, nullptr); }, "\n"},
      {[&] { return toklist(with_null, 2, 0, 75, capture, 2, nullptr); }, "a  <NULL>\n"},
      {[&] { return toklist(ten_a.data(), 8, 0, 75, capture, 2, nullptr); },
       six + "\n  aaaaaaaaaa  aaaaaaaaaa\n"},
      // A word ending exactly at the width stays on the line.
      {[&] { return toklist(fits, 1, 63, 75, capture, 2, nullptr); }, "123456789012\n"},
      {[&] { return toklist(too_long, 1, 63, 75, capture, 2, nullptr); }, "\n  1234567890123\n"},
      // The separator counts, except after the last word.
      {[&] { return toklist(two, 2, 70, 75, capture, 1, ", "); }, "abc, \n  d\n"},
      {[&] { return toklist(two, 2, 67, 75, capture, 1, ", "); }, "abc,  d\n"},
      {[&] { return toklist(with_huge, 3, 10, 75, capture, 2, nullptr); },
       "short\n  " + huge + "\n  x\n"},  // never split
      {[&] { return prqtoklist(title.c_str(), digits, 1, capture); }, title + "\n  0123456789\n"},
      {[&] { return prqtoklist(nullptr, xy, 2, capture); }, "  x  y\n"},
      {[&] { return prqtoklist("Files: ", xy, 2, capture); }, "Files: x  y\n"},
      {[&] { return prshow_command_line("NAME", 3, argv, capture); },
       "Command line: NAME  design  -P0.1\n"},
      {[&] { return prshow_command_line(nullptr, 2, argv, capture); },
       "Command line:     design\n"},
      {[&] { return prshow_command_line("NAME", 1, argv, capture); }, "Command line: NAME  \n"},
  };
  for (const auto &[call, expected] : cases) {
    printed.clear();
    int n = call();
    EXPECT_EQ(printed, expected);
    EXPECT_EQ(n, static_cast<int>(expected.size())) << expected;
  }
  auto o = testutil::run_child([&] {  // a null printer means standard output
    int a = qtoklist(nullptr, xy, 2), b = toklist(xy, 2, 0, 75, nullptr, 3, nullptr);
    printf("[%d %d %d]", a, b, show_command_line("BAYESCREEN", 3, argv));
  });
  EXPECT_EQ(o.out, "  x  y\nx   y\nCommand line: BAYESCREEN  design  -P0.1\n[7 6 40]");
}

TEST(TokList, LongCommandLineWrapsAndKeepsEveryWord) {
  std::vector<std::string> words = {"prog"};
  for (int i = 0; i < 40; i++) words.push_back(std::string(1 + (i * 7) % 13, 'a' + i % 26));
  words.insert(words.end(), {std::string(90, 'Z'), "-P0.25"});
  std::vector<const char *> argv;
  for (const auto &w : words) argv.push_back(w.c_str());
  printed.clear();
  int n = prshow_command_line("NAME", static_cast<int>(argv.size()), argv.data(), capture);
  EXPECT_EQ(n, static_cast<int>(printed.size()));
  std::istringstream lines(printed);
  std::string line, joined = printed;
  int count = 0;
  for (; std::getline(lines, line); count++)
    EXPECT_TRUE(line.size() <= 75 || line.find('Z') != std::string::npos) << line;
  EXPECT_GT(count, 2);
  for (size_t at; (at = joined.find("\n  ")) != std::string::npos;) joined.replace(at, 3, "  ");
  std::string expected = "Command line: NAME";
  for (size_t i = 1; i < words.size(); i++) expected += "  " + words[i];
  EXPECT_EQ(joined, expected + "\n");
}
