// The line reader: line ends, white space, blank and comment lines, long
// lines, line numbers and the report of an error in the input.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/helpers.h"
#include "support/lineread.h"
#include "testutil.h"

using namespace bayescreen;
using testutil::run_child;
using testutil::TempDir;

namespace {

struct Line {
  std::string text;
  int number;  // lr_linenum when the line was returned
  bool operator==(const Line &o) const { return text == o.text && number == o.number; }
};

std::ostream &operator<<(std::ostream &os, const Line &l) {
  return os << l.number << ":`" << l.text << "'";
}

struct ReadResult {
  std::vector<Line> lines;
  int linenum_at_end = 0;
};

// Reads every line of a file with the given content.
ReadResult read_all(const std::string &content) {
  TempDir dir;
  std::string path = dir.write("in.txt", content);
  lr_reset();
  FILE *f = lr_fxopen(path.c_str(), "rb");
  ReadResult r;
  for (char *line = lrs_lineread(f); line != nullptr; line = lrs_lineread(f))
    r.lines.push_back({line, lr_linenum});
  r.linenum_at_end = lr_linenum;
  EXPECT_EQ(lr_lineread(f), nullptr) << "end of file stays the end";
  fclose(f);
  lr_close();
  return r;
}

std::vector<std::string> texts(const ReadResult &r) {
  std::vector<std::string> v;
  for (const Line &l : r.lines) v.push_back(l.text);
  return v;
}

// Sets a reader setting for the life of the object.
template <typename T>
struct Setting {
  T &ref;
  T saved;
  Setting(T &r, T value) : ref(r), saved(r) { ref = value; }
  ~Setting() { ref = saved; }
};

}  // namespace

TEST(LineReader, LfCrLfAndCrLineEndsGiveTheSameLines) {
  std::vector<std::string> expected = {"first", "second line", "third"};
  auto lf = read_all("first\nsecond line\n\nthird\n");
  auto crlf = read_all("first\r\nsecond line\r\n\r\nthird\r\n");
  auto cr = read_all("first\rsecond line\r\rthird\r");
  EXPECT_EQ(texts(lf), expected);
  EXPECT_EQ(texts(crlf), expected);
  EXPECT_EQ(texts(cr), expected);
  std::vector<Line> numbered = {{"first", 1}, {"second line", 2}, {"third", 4}};
  EXPECT_EQ(lf.lines, numbered);
  EXPECT_EQ(crlf.lines, numbered);
  EXPECT_EQ(cr.lines, numbered);
  EXPECT_EQ(lf.linenum_at_end, 5);
  EXPECT_EQ(crlf.linenum_at_end, 5);
  EXPECT_EQ(cr.linenum_at_end, 5);
}

TEST(LineReader, MixedLineEndsAndALastLineWithoutAnEnd) {
  auto r = read_all("a\r\nb\rc\nd");
  EXPECT_EQ(texts(r), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(r.linenum_at_end, 5);
}

TEST(LineReader, CrAtTheVeryEndEndsTheLastLine) {
  auto r = read_all("only\r");
  EXPECT_EQ(r.lines, (std::vector<Line>{{"only", 1}}));
  EXPECT_EQ(r.linenum_at_end, 2);
}

TEST(LineReader, EmptyFileGivesNoLine) {
  auto r = read_all("");
  EXPECT_TRUE(r.lines.empty());
  EXPECT_EQ(r.linenum_at_end, 1);
}

TEST(LineReader, BlankAndCommentLinesAreSkippedButCounted) {
  auto r = read_all(
      "  \t \n"
      "# a comment\n"
      "   ; indented comment\n"
      "%percent comment\n"
      "value # not a comment\n"
      "\t  padded both sides \t \n"
      "\n");
  EXPECT_EQ(r.lines, (std::vector<Line>{{"value # not a comment", 5}, {"padded both sides", 6}}));
  EXPECT_EQ(r.linenum_at_end, 8);
}

TEST(LineReader, LongLinesAreReturnedWhole) {
  std::string line1200(1200, 'x');
  line1200[0] = 'A';
  line1200[1199] = 'Z';
  auto r = read_all(line1200 + "\nnext\n");
  ASSERT_EQ(r.lines.size(), 2u);
  EXPECT_EQ(r.lines[0].text, line1200);
  EXPECT_EQ(r.lines[1].text, "next");
}

TEST(LineReader, MultiMegabyteLineIsReturnedWhole) {
  std::string huge(6 * 1000 * 1000 + 7, 'q');
  for (size_t i = 0; i < huge.size(); i += 997) huge[i] = static_cast<char>('a' + i % 26);
  huge.front() = 'S';
  huge.back() = 'E';
  auto r = read_all("short\n" + huge + "\r\nlast");
  ASSERT_EQ(r.lines.size(), 3u);
  EXPECT_EQ(r.lines[0].text, "short");
  EXPECT_TRUE(r.lines[1].text == huge) << "length " << r.lines[1].text.size();
  EXPECT_EQ(r.lines[2].text, "last");
}

TEST(LineReader, LineEndsSplitAcrossBlockReads) {
  // The file is read in blocks of 4000 bytes: put CR as the last byte of the
  // first block, once followed by LF and once by an ordinary character.
  std::string a(3999, 'a');
  auto r1 = read_all(a + "\r\nb\n");
  EXPECT_EQ(texts(r1), (std::vector<std::string>{a, "b"}));
  EXPECT_EQ(r1.linenum_at_end, 3);
  auto r2 = read_all(a + "\rc\n");
  EXPECT_EQ(texts(r2), (std::vector<std::string>{a, "c"}));
}

TEST(LineReader, NulByteReadsAsCodeOne) {
  auto r = read_all(std::string("ab\0cd\n", 6));
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0].text, "ab\x01" "cd");
}

TEST(LineReader, CharacterLevelReads) {
  TempDir dir;
  std::string path = dir.write("raw.bin", std::string("\r\n\rA\0\xff", 6));
  lr_reset();
  FILE *f = fopen(path.c_str(), "rb");
  EXPECT_EQ(fbuffc(f), 10);
  EXPECT_EQ(fbuffc(f), 10);
  EXPECT_EQ(fbuffc(f), 'A');
  EXPECT_EQ(lr_unfbufc('Z'), 'Z');
  EXPECT_EQ(rawfgc(f), 'Z');
  EXPECT_EQ(fbuffc(f), 1);
  EXPECT_EQ(rawfgc(f), 255);
  EXPECT_EQ(rawfgc(f), -1);
  EXPECT_EQ(fbuffc(f), -1);
  fclose(f);
  lr_reset();
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

TEST(LineReader, CopyReturnsItsArgument) {
  const char *text = "some text";
  EXPECT_EQ(lr_copy(text), text);
  EXPECT_EQ(lr_copy(nullptr), nullptr);
}

TEST(LineReader, OpeningAMissingFileIsFatal) {
  TempDir dir;
  std::string path = dir.file("absent.txt");
  auto o = run_child([&] {
    lr_fxopen(path.c_str(), "rb");
    printf("not reached");
  });
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err.rfind("\nCANNOT OPEN the file  `" + path + "'\n", 0), 0u) << o.err;
}

TEST(LineReaderErrors, ReportShowsMessageLastLineNumberAndFile) {
  TempDir dir;
  std::string path = dir.write("design.txt", "# heading comment\nfirst\n\nsecond line\nthird\n");
  auto o = run_child([&] {
    lr_reset();
    FILE *f = lr_fxopen(path.c_str(), "rb");
    lrs_lineread(f);
    lrs_lineread(f);
    lr_fatal_errline("Bad value in the data");
  });
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "\nBad value in the data!\n  second line\nLine #4 in " + path + "\n");
  EXPECT_EQ(o.err, "");
}

TEST(LineReaderErrors, WithoutMessageOnlyTheLineAndPlaceArePrinted) {
  TempDir dir;
  std::string path = dir.write("design.txt", "first\n");
  auto o = run_child([&] {
    lr_reset();
    FILE *f = lr_fxopen(path.c_str(), "rb");
    lrs_lineread(f);
    lr_fatal_errline(nullptr);
  });
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "  first\nLine #1 in " + path + "\n");
}

TEST(LineReaderErrors, AfterEndOfFileTheLastLineShowsNULL) {
  TempDir dir;
  std::string path = dir.write("design.txt", "a\nb\n");
  auto o = run_child([&] {
    lr_reset();
    FILE *f = lr_fxopen(path.c_str(), "rb");
    while (lrs_lineread(f) != nullptr) {
    }
    lr_fatal_errline("SHORT FILE");
  });
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "\nSHORT FILE!\n  NULL\nLine #3 in " + path + "\n");
}

TEST(LineReaderErrors, NoFileNameShowsQuestionMarks) {
  auto o = run_child([] {
    free(readfile);
    readfile = nullptr;
    lr_copy("the line");
    lr_linenum = 7;
    lr_fatal_errline("Oops");
  });
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "\nOops!\n  the line\nLine #7 in ???\n");
}

TEST(LineReaderSettings, ShowLinesPrintsEveryPhysicalLine) {
  TempDir dir;
  std::string path = dir.write("in.txt", "  a  \n\n# c\nb\n");
  auto o = run_child([&] {
    lr_showlines = 1;
    lr_reset();
    FILE *f = lr_fxopen(path.c_str(), "rb");
    while (char *line = lr_lineread(f)) printf("-> %s\n", line);
  });
  EXPECT_EQ(o.out, "1. `a'\n-> a\n2. `'\n3. `# c'\n4. `b'\n-> b\n");
}

TEST(LineReaderSettings, OptionalBehaviours) {
  {
    Setting<int> q(lr_quotequotes, 1);
    auto r = read_all("say \"hi\" \\ now\n");
    EXPECT_EQ(texts(r), (std::vector<std::string>{"say \\\"hi\\\" \\\\ now"}));
  }
  {
    Setting<const char *> c(lr_commchars, nullptr);
    Setting<int> b(lr_keep_blanklines, 1);
    auto r = read_all("# kept\n\n  x  \n");
    EXPECT_EQ(texts(r), (std::vector<std::string>{"# kept", "", "x"}));
  }
  {
    Setting<int> e(lr_keep_endspace, 1);
    Setting<int> i(lr_keep_initial_space, 1);
    auto r = read_all("  x \t\r\n");
    EXPECT_EQ(texts(r), (std::vector<std::string>{"  x \t"}));
  }
}
