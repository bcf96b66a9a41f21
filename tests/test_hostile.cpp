// Hostile input through the built program: damaged, huge and nonsensical
// design files and option words. Every case must end with its exact message
// and exit status 1, or with a complete run and status 0: never a crash, a
// hang, or the loss of the log an earlier run left.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "testutil.h"

using testutil::Outcome;
using testutil::read_file;
using testutil::run_program;
using testutil::TempDir;

namespace {

const std::string kOldLog = "log of an earlier run\n";
const std::string kComplete = "\n\nClosing the log file `d.out.txt'\n";
const std::string kListingEnd = "   -V - Verbose output\n";

// The refusal of a prior ratio whose prior precision 1/Gamma^2 overflows.
std::string too_small_gamma(const std::string &shown) {
  return "\nILLEGAL VALUE for GAMMA: Gamma=" + shown +
         " is too small: its prior precision 1/Gamma^2 overflows !\n";
}

// A design of -1/+1 entries with `rows` runs and the response after them.
std::string design(int cols, int rows = 8, const std::string &params = "") {
  std::string d = "H\nNrows=" + std::to_string(rows) + " Ncols=" + std::to_string(cols) +
                  params + "\nData\n";
  for (int r = 0; r < rows; r++) {
    d += std::to_string(r + 1);
    for (int c = 0; c < cols; c++) d += ((r >> (c % 3)) + c / 3) % 2 ? " 1" : " -1";
    d += ' ';
    d += std::to_string(10 + r * r % 7);
    d += '\n';
  }
  return d;
}

// Runs the program on `content` saved as d.txt in a folder that holds the
// log of an earlier run, and checks that this log survives, as the log
// itself or as its backup. With address_space, the program gets at most that
// many bytes of address space.
Outcome run_design(const std::string &content, const std::vector<std::string> &args = {"d"},
                   size_t address_space = 0) {
  TempDir dir;
  dir.write("d.txt", content);
  dir.write("d.out.txt", kOldLog);
  Outcome r = run_program(args, dir.path(), "", address_space);
  if (read_file(dir.file("d.out.txt")) != kOldLog) {
    EXPECT_EQ(read_file(dir.file("d.out.txt.bak")), kOldLog);
  }
  return r;
}

// The exact status, nothing on standard error, and the screen output ending
// with `tail` (kComplete for a complete run).
void expect_outcome(const Outcome &r, int status, const std::string &tail) {
  EXPECT_EQ(r.status, status);
  EXPECT_EQ(r.err.substr(0, 300), "");
  const size_t listing = r.out.find(kListingEnd);
  const std::string out =
      listing == std::string::npos ? r.out : r.out.substr(listing + kListingEnd.size());
  const bool ends = out.size() >= tail.size() && out.compare(out.size() - tail.size(),
                                                             tail.size(), tail) == 0;
  EXPECT_TRUE(ends) << "the screen ends with:\n"
                    << out.substr(out.size() - std::min(out.size(), tail.size() + 300));
}

std::string at_end(const std::string &what, int line) {
  return "\n" + what + "!\n  NULL\nLine #" + std::to_string(line) + " in d.txt\n";
}

// Deterministic pseudo-random bytes (xorshift32).
std::string noise(uint32_t seed, size_t n, const std::string &alphabet = "") {
  std::string s;
  for (size_t i = 0; i < n; i++) {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    s += alphabet.empty() ? static_cast<char>(seed >> 24) : alphabet[(seed >> 8) % alphabet.size()];
  }
  return s;
}

// The first line of `text` as the line reader hands it out: a NUL byte
// reads as code 1 and blanks at both ends are removed.
std::string first_line(std::string text) {
  text = text.substr(0, text.find_first_of("\r\n"));
  for (char &c : text)
    if (c == '\0') c = '\x01';
  const char *const blanks = " \t\v\f";
  text.erase(0, text.find_first_not_of(blanks));
  return text.substr(0, text.find_last_not_of(blanks) + 1);
}

struct Case {
  const char *name;
  std::string content;
  int status;
  std::string tail;
  std::vector<std::string> args = {"d"};
  size_t address_space = 0;
};

void run_cases(const std::vector<Case> &cases) {
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    expect_outcome(run_design(c.content, c.args, c.address_space), c.status, c.tail);
  }
}

}  // namespace

// Every prefix of the twelve-run example, cut after each line and in the
// middle of each line.
TEST(Hostile, TheExampleCutAfterEveryLineAndInTheMiddleOfEach) {
  const std::string example = read_file(testutil::source_path("examples/reactor12.txt"));
  std::vector<std::string> lines;
  for (size_t from = 0, to; (to = example.find('\n', from)) != std::string::npos; from = to + 1)
    lines.push_back(example.substr(from, to - from));
  ASSERT_EQ(lines.size(), 18u);
  std::string kept;
  for (int k = 0; k <= 18; k++) {
    SCOPED_TRACE("the first " + std::to_string(k) + " lines");
    std::string tail = k < 3    ? at_end("Can't read heading line", k + 1)
                       : k == 3 ? at_end("Can't read parameter line", 4)
                       : k == 4 ? at_end("NEXT LINE should begin Label or Data !", 5)
                       : k == 5 ? at_end("NEXT LINE should begin with `Data'", 6)
                       : k < 18 ? "SHORT FILE: CANNOT READ 12 data rows !\nRead only " +
                                      std::to_string(k - 6) + " data rows.\n"
                                : kComplete;
    expect_outcome(run_design(kept), k < 18 ? 1 : 0, tail);
    if (k == 18) break;

    // Half of line k + 1 after the first k lines, without a line end.
    const std::string half = lines[k].substr(0, lines[k].size() / 2);
    std::string shown = half.substr(half.find_first_not_of(' '));
    shown = shown.substr(0, shown.find_last_not_of(' ') + 1);
    const std::string where = "  " + shown + "\nLine #" + std::to_string(k + 1) + " in d.txt\n";
    tail = k < 2    ? at_end("Can't read heading line", k + 2)
           : k == 2 ? at_end("Can't read parameter line", 4)
           : k == 3 ? at_end("NEXT LINE should begin Label or Data !", 5)
           : k == 4 ? at_end("NEXT LINE should begin with `Data'", 6)
           : k == 5 ? "SYNTAX ERROR IN LABEL DESIGNATION!\nLabel #6 must begin with F=\n" + where
           : half.back() == '-'
               ? "\nILLEGAL CHARACTER in design matrix!\nj=3  word=-\n"
                 "Should be only digits and signs !\n" + where
               : "\nSHORT LINE for design matrix entries:\nRow #" + std::to_string(k - 5) +
                     ":  Read 2 values, need 5\n" + where;
    SCOPED_TRACE("and half of the next: " + half);
    expect_outcome(run_design(kept + half), 1, tail);
    kept += lines[k] + "\n";
  }
}

// Values at and beyond the ends of the 32-bit range, in every place a number
// is read, and counts that are zero, negative or absurd.
TEST(Hostile, NumbersBeyondTheIntRangeAndImpossibleCounts) {
  auto out_of_range = [](const std::string &word, const std::string &line) {
    return "\nVALUE OUT OF RANGE In parameter option  " + word + "\n  " + line +
           "\nLine #2 in d.txt\n";
  };
  auto too_large = [&](int j, const std::string &word, const std::string &row) {
    const std::string m = "\nNUMBER TOO LARGE in design matrix!\nj=" + std::to_string(j) +
                          "  word=" + word +
                          "\nShould be at most 10 digits long, from -2147483648 to 2147483647 !\n";
    return m + "  " + row + "\nLine #4 in d.txt\n";
  };
  const std::string rows = "2 1 -1 6\n3 -1 1 7\n4 -1 -1 8\n5 1 1 9\n6 1 -1 5\n7 -1 1 4\n";
  std::string big_runs = design(2);
  big_runs.replace(big_runs.find("\n1 ") + 1, 1, "2147483647.");
  big_runs.replace(big_runs.find("\n2 ") + 1, 1, "00000000000000000002");
  std::string huge_entry = design(3);
  huge_entry.replace(huge_entry.find("\n1 -1") + 3, 2, "2147483647");
  huge_entry.replace(huge_entry.find("\n2 1") + 3, 1, "-2147483647");
  huge_entry.replace(huge_entry.find("\n3 -1") + 3, 2, "00000000001");
  std::string least_entry = design(2);
  least_entry.replace(least_entry.find("\n1 -1") + 3, 2, "-2147483648");

  run_cases({
      {"Nrows one past the int range", "H\nNrows=2147483648 Ncols=2\n", 1,
       out_of_range("Nrows=2147483648", "Nrows=2147483648 Ncols=2")},
      {"Nrows one below the int range", "H\nNrows=-2147483649 Ncols=2\n", 1,
       out_of_range("Nrows=-2147483649", "Nrows=-2147483649 Ncols=2")},
      {"Ncols that would wrap to 1", "H\nNrows=2 Ncols=4294967297\n", 1,
       out_of_range("Ncols=4294967297", "Nrows=2 Ncols=4294967297")},
      {"Nvars of thirty digits", "H\nNrows=2 Ncols=2 Nvars=999999999999999999999999999999\n", 1,
       out_of_range("Nvars=999999999999999999999999999999",
                    "Nrows=2 Ncols=2 Nvars=999999999999999999999999999999")},
      {"the least int as Nrows", "H\nNrows=-2147483648 Ncols=2\n", 1,
       "\nILLEGAL NEGATIVE VALUE for NROWS !\n"},
      {"negative Ncols", "H\nNrows=2 Ncols=-1\n", 1, "\nILLEGAL NEGATIVE VALUE for NCOLS !\n"},
      {"the least int as Nvars", "H\nNrows=2 Ncols=2 Nvars=-2147483648\n", 1,
       "\nILLEGAL NEGATIVE VALUE for NVARS !\n"},
      {"zero Nrows", "H\nNrows=0 Ncols=2\n", 1, "\nILLEGAL ZERO VALUE for NROWS !\n"},
      {"minus zero Ncols", "H\nNrows=2 Ncols=-0\n", 1, "\nILLEGAL ZERO VALUE for NCOLS !\n"},
      {"the largest int as Ncols", "H\nNrows=2 Ncols=2147483647\n", 1,
       "\nTOO MANY COLUMNS: Ncols=2147483647, at most 61 are allowed !\n"},
      {"the largest int as Nrows and as many columns as allowed, no rows",
       "H\nNrows=2147483647 Ncols=61\nData\n", 1,
       "SHORT FILE: CANNOT READ 2147483647 data rows !\nRead only 0 data rows.\n"},
      {"the largest int as Nvars", design(2, 8, " Nvars=2147483647"), 0, kComplete},
      {"counts with leading zeros and signs", design(2, 8, " NN=+08 Nc=000000000000002"), 0,
       kComplete},
      {"infinite Pi", design(2, 8, " Pi=1e400"), 1,
       "\nILLEGAL VALUE for PI: Pi=inf must be a finite number !\n"},
      {"infinite Gamma", design(2, 8, " Gamma=1e400"), 1,
       "\nILLEGAL VALUE for GAMMA: Gamma=inf must be a finite number !\n"},
      {"minus infinite Gamma", design(2, 8, " Gamma=-1e400"), 1,
       "\nILLEGAL VALUE for GAMMA: Gamma=-inf must be a finite number !\n"},
      {"Gamma below the least double", design(2, 8, " Gamma=1e-400"), 1,
       "\nILLEGAL VALUE for GAMMA: Gamma=0 must be greater than 0 !\n"},
      {"Gamma whose 1/Gamma^2 overflows", design(2, 8, " Gamma=1e-155"), 1,
       too_small_gamma("1e-155")},
      {"infinite Alpha", design(2, 8, " Alpha=1e400"), 0, kComplete},
      {"entries at the int limits and 11 digits with leading zeros", huge_entry, 0, kComplete},
      {"an entry one past the int range", "H\nNrows=8 Ncols=2\nData\n1 2147483648 1 5\n", 1,
       too_large(1, "2147483648 1 5", "1 2147483648 1 5")},
      {"the least int as an entry", least_entry, 0, kComplete},
      {"an entry one below the int range", "H\nNrows=8 Ncols=2\nData\n1 1 -2147483649 5\n", 1,
       too_large(2, "-2147483649 5", "1 1 -2147483649 5")},
      {"an entry that would wrap to 1", "H\nNrows=8 Ncols=2\nData\n1 1 4294967297 5\n", 1,
       too_large(2, "4294967297 5", "1 1 4294967297 5")},
      {"an entry of a hundred digits",
       "H\nNrows=8 Ncols=2\nData\n1 1 --" + std::string(100, '9') + " 5\n", 1,
       too_large(2, "-" + std::string(100, '9') + " 5", "1 1 --" + std::string(100, '9') + " 5")},
      {"run numbers at the int limit and with leading zeros", big_runs, 0, kComplete},
      {"a run number one past the int range", "H\nNrows=8 Ncols=2\nData\n2147483648. 1 1 5\n", 1,
       "\nRUN NUMBER TOO LARGE in data row!\nRow #1:  word=2147483648\n"
       "Run numbers must be at most 2147483647 !\n  2147483648. 1 1 5\nLine #4 in d.txt\n"},
      {"a run number that would wrap to 7", "H\nNrows=8 Ncols=2\nData\n1 1 1 5\n4294967303 1 1 5\n",
       1,
       "\nRUN NUMBER TOO LARGE in data row!\nRow #2:  word=4294967303\n"
       "Run numbers must be at most 2147483647 !\n  4294967303 1 1 5\nLine #5 in d.txt\n"},
      {"a response beyond the doubles", "H\nNrows=8 Ncols=2\nData\n1 1 1 1e999\n", 1,
       "\nSHORT LINE for response variable:\n"
       "Row #1: Read 2 design matrix values, need response value\n  1 1 1 1e999\n"
       "Line #4 in d.txt\n"},
      {"more rows than promised are never read", design(2, 8) + rows + "garbage\x01\n", 0,
       kComplete},
  });
}

// Factor letters and labels past Z.
TEST(Hostile, LabelsAndFactorLettersPastZ) {
  std::string labels = "Labels";
  for (char c = 'A'; c <= 'Z'; c++) labels += {' ', c, '=', c};
  const std::string wide = design(61, 8, " Nvars=3");
  run_cases({
      {"a 27th label on the Labels line", "H\nNrows=8 Ncols=2\n" + labels + " [=x\nData\n", 1,
       "\nMAXIMUM NUMBER of labels: 26!\n  " + labels + " [=x\nLine #3 in d.txt\n"},
      {"a 27th label that is empty", "H\nNrows=8 Ncols=2\n" + labels + "\n[=\nData\n", 1,
       "\nMAXIMUM NUMBER of labels: 26!\n  [=\nLine #4 in d.txt\n"},
  });
  auto r = run_design(wide);
  expect_outcome(r, 0, kComplete);
  EXPECT_NE(r.out.find("\nFactor labels: ABCDEFGHJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz"
                       "{|}~   Factors analyzed: ABC\n"),
            std::string::npos);
  r = run_design(design(30, 8));
  expect_outcome(r, 0, kComplete);
  EXPECT_NE(r.out.find("Factors analyzed: ABCDEFGHJKLMNOPQRSTUVWXYZ[\\]^_\n"), std::string::npos);
}

// Empty files, NUL bytes and pseudo-random bytes.
TEST(Hostile, EmptyFilesNulBytesAndNoise) {
  const std::string nul(1, '\0');
  const std::string after_parameters = noise(2, 65536);
  ASSERT_NE(first_line(after_parameters), "");
  const std::string head = "H\nNrows=8 Ncols=3\nData\n";
  run_cases({
      {"an empty file", "", 1, at_end("Can't read heading line", 1)},
      {"only line ends", "\n\r\n\r\r\n", 1, at_end("Can't read heading line", 5)},
      {"only NUL bytes", std::string(4, '\0'), 1, at_end("Can't read parameter line", 2)},
      {"a NUL byte in the heading and after a count",
       "H" + nul + "x\nNrows=8" + nul + " Ncols=2" + design(2).substr(design(2).find("\nData")),
       0, kComplete},
      {"a NUL byte inside the word Data", "H\nNrows=1 Ncols=1\nDa" + nul + "ta\n1 1 2\n", 1,
       "\nNEXT LINE should begin Label or Data !!\n  Da\x01ta\nLine #3 in d.txt\n"},
      {"a NUL byte between an entry and the response",
       "H\nNrows=1 Ncols=1\nData\n1 1" + nul + " 2\n", 1,
       "\nSHORT LINE for response variable:\n"
       "Row #1: Read 1 design matrix value, need response value\n  1 1\x01 2\nLine #4 in d.txt\n"},
      {"64 KiB of noise", noise(1, 65536), 1,
       "\nENTER value for NROWS in Infile or Command Line!\n"},
      {"noise after a good heading and parameter line",
       "H\nNrows=8 Ncols=3\n" + after_parameters, 1,
       "\nNEXT LINE should begin Label or Data !!\n  " + first_line(after_parameters) +
           "\nLine #3 in d.txt\n"},
      {"noise of the format's own characters as data rows",
       head + noise(7, 4096, " -.0123456789=#;%\nANDLabelsNrowNcoltaPiGm\r\t"), 1,
       "TWO TEXT LINES in data block!\n  Gl92Lc\n  L\n"},
      {"noise of digits, signs and dots as data rows",
       head + noise(9, 400, " -1-1-1 1 1 1 0123456789.\n\n"), 1,
       "\nILLEGAL CHARACTER in design matrix!\nj=3  word=.174581 1  2711\n"
       "Should be only digits and signs !\n  1.111-12711.174581 1  2711\nLine #5 in d.txt\n"},
  });
}

// 10 MB lines (a heading, blanks inside a data row, one design entry) and
// 100,000 data rows, within 128 MB of address space when it can be limited:
// a line costs a few times its length, never gigabytes.
TEST(Hostile, HugeLinesAndManyRows) {
  const size_t limit = testutil::kAddressSpaceLimits ? 128u << 20 : 0;
  const std::string mb10(10'000'000, '7');
  const std::string blanks(10'000'000, ' ');
  std::string wide_row = design(2);
  wide_row.replace(wide_row.find("\n1 ") + 2, 1, blanks);
  std::string long_text = design(2);
  long_text.insert(long_text.find("Data\n") + 5, "T" + std::string(1500, 't') + "\n");
  run_cases({
      {"a 10 MB heading", std::string(10'000'000, 'H') + design(2).substr(1), 0, kComplete,
       {"d"}, limit},
      {"10 MB of blanks inside a data row", wide_row, 0, kComplete, {"d"}, limit},
      {"a 10 MB design entry", "H\nNrows=8 Ncols=2\nData\n1 1 " + mb10 + " 5\n", 1,
       "\nNUMBER TOO LARGE in design matrix!\nj=2  word=" + mb10 +
           " 5\nShould be at most 10 digits long, from -2147483648 to 2147483647 !\n  1 1 " + mb10 +
           " 5\nLine #4 in d.txt\n",
       {"d"}, limit},
      {"a text line of 1,501 characters among the rows", long_text, 0, kComplete, {"d"}, limit},
  });

  std::string many = "Many rows\nNrows=100000 Ncols=3\nData\n";
  for (int r = 1; r <= 100000; r++) {
    const int a = r % 2 ? 1 : -1, b = r % 3 ? 1 : -1, c = r % 7 < 3 ? 1 : -1;
    many += std::to_string(r) + " " + std::to_string(a) + " " + std::to_string(b) + " " +
            std::to_string(c) + " " + std::to_string(10 + 3 * a - 2 * b * c + r % 5) + "\n";
  }
  const Outcome r = run_design(many, {"d"}, limit);
  expect_outcome(r, 0, kComplete);
  EXPECT_NE(r.out.find("\n    1.   1   1   1   12\n"), std::string::npos);
  EXPECT_NE(r.out.find("\n100000.  -1   1  -1   9\n"), std::string::npos);
}

// Two-level designs with fewer runs than a model has distinct rows (2 to the
// number of its factors): the fitting must not overrun its work arrays.
TEST(Hostile, FewRunsOfATwoLevelDesign) {
  run_cases({
      {"one run, three factors", "H\nNrows=1 Ncols=3\nData\n1 1 -1 1 20\n", 0, kComplete},
      {"two runs, two factors", "H\nNrows=2 Ncols=2\nData\n1 1 1 20\n2 -1 1 3\n", 0, kComplete},
      {"five runs, three factors", design(3, 5), 0, kComplete},
      {"seven runs, 30 factors", design(30, 7), 0, kComplete},
      {"the first such input the fuzzer found",
       "Two ^H\nNrYws=1 Nc\x8a" "ls=3\nLabels A=Temp B=TimeLabelsc\nData\n1 1-1 1 20\n"
       "5 -1 -1 1 -11",
       0, kComplete},
  });
}

// Option words of every malformed shape, through the program's own table.
TEST(Hostile, MalformedOptionWords) {
  const std::string d = design(2);
  auto improper = [](const std::string &letter, const std::string &app, const std::string &kind,
                     const std::string &read, const std::string &reason) {
    return "\nIMPROPER -" + letter + app + " FORMAT (Type=" + kind + ", read " + read +
           ")!!  (" + reason + ".)\n";
  };
  auto bad_p = [&](const std::string &read) {
    return improper("P", "<dnum>", "VAR_DOUBLE", read, "Bad double format");
  };
  auto bad_n = [&](const std::string &read, const std::string &reason) {
    return improper("N", "<num>", "VAR_INT", read, reason);
  };
  auto unknown = [](const std::string &letter) {
    return "\n*** UNRECOGNIZED COMMAND-LINE FLAG `" + letter + "'!!!\n\n\n";
  };
  const std::string infinite_pi = "\nILLEGAL VALUE for PI: Pi=inf must be a finite number !\n";
  auto illegal_pi = [](const std::string &v) {
    return "\nILLEGAL VALUE for PI: Pi=" + v + " must lie strictly between 0 and 1 !\n";
  };
  run_cases({
      {"-P alone", d, 1, bad_p("P"), {"d", "-P"}},
      {"-P=", d, 1, bad_p("P="), {"d", "-P="}},
      {"-P== at the end of a word of flags", d, 1, bad_p("P=="), {"d", "-LRP=="}},
      {"-P+1", d, 1, bad_p("P+1"), {"d", "-P+1"}},
      {"-Pabc", d, 1, bad_p("Pabc"), {"d", "-Pabc"}},
      {"-P1e", d, 1, bad_p("P1e"), {"d", "-P1e"}},
      {"-P-", d, 1, "\nFAILURE in sscanf at `-' !\n" + bad_p("P-"), {"d", "-P-"}},
      {"-P--1", d, 1, "\nFAILURE in sscanf at `--1' !\n" + bad_p("P--1"), {"d", "-P--1"}},
      {"-P with a control character", d, 1, bad_p("P\x01"), {"d", "-P\x01"}},
      {"-P1e999", d, 1, infinite_pi, {"d", "-P1e999"}},
      {"-P of 400 digits", d, 1, infinite_pi, {"d", "-P" + std::string(400, '9')}},
      {"-P-0", d, 1, illegal_pi("-0"), {"d", "-P-0"}},
      {"-P1.. reads 1", d, 1, illegal_pi("1"), {"d", "-P1.."}},
      {"-P1.2.3", d, 1, unknown("3"), {"d", "-P1.2.3"}},
      {"-G1e-400", d, 1, "\nILLEGAL VALUE for GAMMA: Gamma=0 must be greater than 0 !\n",
       {"d", "-G1e-400"}},
      {"-G1e400", d, 1, "\nILLEGAL VALUE for GAMMA: Gamma=inf must be a finite number !\n",
       {"d", "-G1e400"}},
      // 1/g^2 is the largest double below 1.797e308 for g = 7.46e-155:
      // (7.5e-155)^2 = 5.625e-309 has a finite reciprocal, (7.4e-155)^2 =
      // 5.476e-309 does not.
      {"-G1e-155", d, 1, too_small_gamma("1e-155"), {"d", "-G1e-155", "--null"}},
      {"-G7.4e-155", d, 1, too_small_gamma("7.4e-155"), {"d", "-G7.4e-155"}},
      {"-G7.5e-155", d, 0, kComplete, {"d", "-G7.5e-155"}},
      {"-N=", d, 1, bad_n("N=", "Expecting a digit"), {"d", "-N="}},
      {"-N,", d, 1, bad_n("N,", "Expecting a digit"), {"d", "-N,"}},
      {"-N-3", d, 1, bad_n("N-3", "Expecting a digit"), {"d", "-N-3"}},
      {"-N2147483648", d, 1, bad_n("N2147483648", "Int too large"), {"d", "-N2147483648"}},
      {"-N4294967295", d, 1, bad_n("N4294967295", "Int too large"), {"d", "-N4294967295"}},
      {"-N4294967296", d, 1, bad_n("N4294967296", "Unsigned long overflow"),
       {"d", "-N4294967296"}},
      {"-N of forty digits", d, 1,
       bad_n("N" + std::string(40, '9'), "Unsigned long overflow"),
       {"d", "-N" + std::string(40, '9')}},
      {"-N2147483647", d, 0, kComplete, {"d", "-N2147483647"}},
      {"-N with leading zeros and commas", d, 0, kComplete, {"d", "-N0000000000,0,,1"}},
      {"-N0", d, 1, "Nrows=8  Ncols=2  Nvars=0:  Too few!\n", {"d", "-N0"}},
      {"-N0x10", d, 1, unknown("X"), {"d", "-N0x10"}},
      {"-L=", d, 1, unknown("="), {"d", "-L="}},
      {"a digit as the letter", d, 1, unknown("1"), {"d", "-1"}},
      {"-G with no value after -P0.3", d, 1,
       improper("G", "<dnum>", "VAR_DOUBLE", "G", "Bad double format"), {"d", "-P0.3G"}},
      {"-A minus infinity", d, 0, kComplete, {"d", "-A-1e999"}},
      {"a letter outside ASCII", d, 1, unknown("\xe9"), {"d", "-\xe9"}},
      {"lone dashes", d, 0, kComplete, {"-", "--", "d", "---"}},
      {"every option in one word", design(2, 12), 0, kComplete, {"d", "--p0.3g2a0.05n1cde"}},
      {"a word of 100,000 flags", d, 0, kComplete, {"d", "-" + std::string(100000, 'R')}},
      {"only options", d, 1, "Need a file name.\n", {"-L", "-"}},
      {"four string arguments", d, 1,
       "\nTOO MANY STRING ARGUMENTS ON THE COMMAND-LINE !!\n  d  e  f\n", {"d", "e", "f", "g"}},
  });
  // The empty name reads as .txt, which cannot be opened.
  auto r = run_design(d, {""});
  EXPECT_EQ(r.err, "\nCANNOT OPEN the file  `.txt'\nNo such file or directory\n");
}
