// The line reader: line ends, white space, blank and comment lines, long
// lines, line numbers and the report of an error in the input.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <tuple>

#include "support/helpers.h"
#include "support/lineread.h"
#include "testutil.h"

using namespace bayescreen;
using testutil::run_child;
using testutil::TempDir;

namespace {

// Every line of a file with the given content as "number:text|", then the
// line count at the end of the file.
std::string read_all(const std::string &content) {
  TempDir dir;
  std::string path = dir.write("in.txt", content);
  lr_reset();
  FILE *f = lr_fxopen(path.c_str(), "rb");
  std::string r;
  for (char *line = lrs_lineread(f); line != nullptr; line = lrs_lineread(f))
    r += std::to_string(lr_linenum) + ":" + line + "|";
  r += "end " + std::to_string(lr_linenum);
  EXPECT_EQ(lr_lineread(f), nullptr) << "end of file stays the end";
  fclose(f);
  lr_close();
  return r;
}

}  // namespace

TEST(LineReader, LineEndsBlankAndCommentLinesAndNumbers) {
  const std::string a3999(3999, 'a');  // the file is read in blocks of 4000 bytes
  std::string l1200(1200, 'x');
  l1200.front() = 'A';
  l1200.back() = 'Z';
  const std::pair<std::string, std::string> cases[] = {
      {"first\nsecond line\n\nthird\n", "1:first|2:second line|4:third|end 5"},
      {"first\r\nsecond line\r\n\r\nthird\r\n", "1:first|2:second line|4:third|end 5"},
      {"first\rsecond line\r\rthird\r", "1:first|2:second line|4:third|end 5"},
      {"a\r\nb\rc\nd", "1:a|2:b|3:c|4:d|end 5"},
      {"only\r", "1:only|end 2"},
      {"", "end 1"},
      {"  \t \n# a comment\n   ; indented comment\n%percent comment\nvalue # not a comment\n"
       "\t  padded both sides \t \n\n",
       "5:value # not a comment|6:padded both sides|end 8"},
      {a3999 + "\r\nb\n", "1:" + a3999 + "|2:b|end 3"},  // CR LF split between blocks
      {a3999 + "\rc\n", "1:" + a3999 + "|2:c|end 3"},
      {std::string("ab\0cd\n", 6), "1:ab\x01" "cd|end 2"},  // NUL reads as code 1
      {"a\xff" "b\n", "1:a\xff" "b|end 2"},
      {l1200 + "\nnext\n", "1:" + l1200 + "|2:next|end 3"},
  };
  for (const auto &[content, expected] : cases) EXPECT_EQ(read_all(content), expected);

  std::string huge(6 * 1000 * 1000 + 7, 'q');
  for (size_t i = 0; i < huge.size(); i += 997) huge[i] = static_cast<char>('a' + i % 26);
  huge.front() = 'S';
  huge.back() = 'E';
  EXPECT_TRUE(read_all("short\n" + huge + "\r\nlast") == "1:short|2:" + huge + "|3:last|end 4");
}

TEST(LineReader, CloseStartsTheCountAgainAndKeepsTheFileName) {
  TempDir dir;
  std::string path = dir.write("in.txt", "one\ntwo\n");
  lr_reset();
  FILE *f = lr_fxopen(path.c_str(), "rb");
  EXPECT_STREQ(lr_lineread(f), "one");
  fclose(f);
  lr_close();
  EXPECT_EQ(lr_linenum, 0);
  EXPECT_STREQ(readfile, path.c_str());
  f = lr_fxopen(path.c_str(), "rb");
  EXPECT_STREQ(lr_lineread(f), "one");
  EXPECT_EQ(lr_linenum, 1);
  fclose(f);
  lr_close();
}

TEST(LineReader, ErrorReportsAndMissingFile) {
  TempDir dir;
  const std::string path = dir.file("design.txt");
  struct {
    std::string content;
    int reads;
    const char *message;
    std::string out;
  } cases[] = {
      {"# heading comment\nfirst\n\nsecond line\nthird\n", 2, "Bad value in the data",
       "\nBad value in the data!\n  second line\nLine #4 in " + path + "\n"},
      {"first\n", 1, nullptr, "  first\nLine #1 in " + path + "\n"},
      {"a\nb\n", 3, "SHORT FILE", "\nSHORT FILE!\n  NULL\nLine #3 in " + path + "\n"},
  };
  for (const auto &c : cases) {
    dir.write("design.txt", c.content);
    auto o = run_child([&] {
      lr_reset();
      FILE *f = lr_fxopen(path.c_str(), "rb");
      for (int i = 0; i < c.reads; i++) lrs_lineread(f);
      lr_fatal_errline(c.message);
    });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, c.out);
    EXPECT_EQ(o.err, "");
  }
  auto o = run_child([] {
    free(readfile);
    readfile = nullptr;
    lr_copy("the line");
    lr_linenum = 7;
    lr_fatal_errline("Oops");
  });
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "\nOops!\n  the line\nLine #7 in ???\n");
  o = run_child([&] { lr_fxopen(dir.file("absent.txt").c_str(), "rb"); });
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err.rfind("\nCANNOT OPEN the file  `" + dir.file("absent.txt") + "'\n", 0), 0u);
}

TEST(LineReader, Settings) {
  const std::tuple<std::function<void()>, std::string, std::string> cases[] = {
      {[] { lr_quotequotes = 1; }, "say \"hi\" \\ now\n", "1:say \\\"hi\\\" \\\\ now|end 2"},
      {[] { lr_commchars = nullptr; lr_keep_blanklines = 1; }, "# kept\n\n  x  \n",
       "1:# kept|2:|3:x|end 4"},
      {[] { lr_keep_endspace = lr_keep_initial_space = 1; }, "  x \t\r\n", "1:  x \t|end 2"},
      // A line of one blank is blank unless blanks are kept at both ends.
      {[] { lr_keep_initial_space = 1; }, "a\n \n  b\n", "1:a|3:  b|end 4"},
      {[] { lr_keep_endspace = 1; }, "a \n \nb\n", "1:a |3:b|end 4"},
      {[] { lr_keep_endspace = lr_keep_initial_space = 1; }, " \n", "1: |end 2"},
      {[] { lr_showlines = 1; }, "  a  \n\n# c\nb\n",
       "1. `a'\n2. `'\n3. `# c'\n4. `b'\n1:a|4:b|end 5"},
  };
  for (const auto &[setup, content, expected] : cases) {
    auto o = run_child([&] {
      setup();
      printf("%s", read_all(content).c_str());
    });
    EXPECT_EQ(o.out, expected);
  }
}
