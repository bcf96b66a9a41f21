// End-to-end runs on design files: what is accepted, how it is echoed to
// the screen and the log, and every way a design file is refused.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "testutil.h"

using testutil::Outcome;
using testutil::read_file;
using testutil::contains;
using testutil::run_program;
using testutil::TempDir;

namespace {

// The part of the screen output that the design reader writes: from the
// log-file announcement through the factor line.
std::string reader_output(const std::string &out) {
  size_t from = out.find("OPENING the log file");
  if (from == std::string::npos) from = out.find("Verbose output\n") + 15;
  size_t to = out.find("Factors analyzed:", from);
  if (to == std::string::npos) return out.substr(from);
  return out.substr(from, out.find('\n', to) + 1 - from);
}

// Everything after the option listing: what the run printed once the
// options were parsed.
std::string after_listing(const std::string &out) {
  return out.substr(out.find("   -V - Verbose output\n") + 23);
}

Outcome run_design(const TempDir &dir, const std::string &content,
                   std::vector<std::string> extra = {}) {
  dir.write("d.txt", content);
  std::vector<std::string> args = {"d"};
  args.insert(args.end(), extra.begin(), extra.end());
  return run_program(args, dir.path());
}

const char *const kHead = "Heading\nNrows=2 Ncols=2\nData\n";

}  // namespace

// ---- Accepted designs and their echo ------------------------------------------

TEST(ReadDat, EchoOfTheTwelveRunExampleOnScreenAndLog) {
  TempDir dir;
  dir.write("reactor12.txt", read_file(testutil::source_path("examples/reactor12.txt")));
  auto r = run_program({"reactor12"}, dir.path());
  const std::string echo =
      "\nHEADING LINE in reactor12.txt:\n"
      "  Reactor experiment: 12-run Plackett-Burman subset of the 2^5 factorial\n"
      "Values of variables:\n"
      "  Nrows=12  Ncols=5  Nvars=5  Pi=0.25  Gamma=2.5  Alpha=2\n"
      "\nLabels in reactor12.txt:\n"
      "  A=FeedRate  B=Catalyst  C=Agitation  D=Temperature  E=Concentration\n"
      "\nData in reactor12.txt: Rownum, Design matrix, Response variable\n"
      "    1.   1  -1   1  -1  -1   56\n"
      "    2.   1   1  -1   1  -1   93\n"
      "    3.  -1   1   1  -1   1   67\n"
      "    4.   1  -1   1   1  -1   60\n"
      "    5.   1   1  -1   1   1   77\n"
      "    6.   1   1   1  -1   1   65\n"
      "    7.  -1   1   1   1  -1   95\n"
      "    8.  -1  -1   1   1   1   49\n"
      "    9.  -1  -1  -1   1   1   44\n"
      "   10.   1  -1  -1  -1   1   63\n"
      "   11.  -1   1  -1  -1  -1   63\n"
      "   12.  -1  -1  -1  -1  -1   61\n";
  const std::string factors = "\nFactor labels: ABCDE   Factors analyzed: ABCDE\n";
  EXPECT_EQ(reader_output(r.out), "OPENING the log file `reactor12.out.txt'\n" + echo +
                                      "Closing the file reactor12.txt\n" + factors);
  std::string log = read_file(dir.file("reactor12.out.txt"));
  EXPECT_EQ(log.substr(0, log.find("Factors analyzed:")) + "Factors analyzed: ABCDE\n",
            "\nOutput of BAYESCREEN from input file reactor12.txt\n" + echo + factors);
}

TEST(ReadDat, EchoOfTheFullFactorialExample) {
  TempDir dir;
  dir.write("reactor.txt", read_file(testutil::source_path("examples/reactor.txt")));
  auto r = run_program({"reactor.txt"}, dir.path());
  std::string expected = read_file(testutil::source_path("tests/data/reactor.echo.txt"));
  EXPECT_EQ(reader_output(r.out), expected);
  std::string log = read_file(dir.file("reactor.txt.out.txt"));
  std::string screen_lines = expected;
  // The log holds the same echo without the screen-only lines and with the
  // line that names the program and the input.
  for (const char *screen_only :
       {"OPENING the log file `reactor.txt.out.txt'\n", "Closing the file reactor.txt\n"})
    screen_lines.erase(screen_lines.find(screen_only), strlen(screen_only));
  const std::string expected_log =
      "\nOutput of BAYESCREEN from input file reactor.txt\n" + screen_lines;
  EXPECT_EQ(log.substr(0, expected_log.size()), expected_log);
}

TEST(ReadDat, CommentsBlankLinesAndLineEndsDoNotChangeTheDesign) {
  const std::string plain =
      "Heading text\nNrows=3 Ncols=2\nLabels A=x\nB=y\nData\n"
      "1 -1 -1 10\n2 1 -1 12.5\n3 -1 1 20\n";
  const std::string commented =
      "# first comment\n\n   ; another\nHeading text\n% percent comment\n  \t \n"
      "Nrows=3 Ncols=2\n#\nLabels A=x\n\n# inside labels\nB=y\n;\nData\n"
      "# before the rows\n1 -1 -1 10\n\n  # between rows\n2 1 -1 12.5\n\t\n3 -1 1 20\n"
      "# after the rows\n";
  TempDir a, b, c, d;
  std::string reference = reader_output(run_design(a, plain).out);
  EXPECT_TRUE(contains(reference, "    2.   1  -1   12.5\n"));
  EXPECT_EQ(reader_output(run_design(b, commented).out), reference);

  std::string crlf, cr;
  for (char ch : plain) {
    crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    cr += ch == '\n' ? '\r' : ch;
  }
  EXPECT_EQ(reader_output(run_design(c, crlf).out), reference);
  EXPECT_EQ(reader_output(run_design(d, cr).out), reference);
}

TEST(ReadDat, ParameterLineRules) {
  TempDir dir;
  // A comment word ends the line: Nvars is ignored and nv becomes Ncols.
  auto r = run_design(dir, "H\nNrows=2 Ncols=4 # Nvars=2\nData\n1 1 1 1 1 5\n2 1 1 1 1 6\n");
  EXPECT_TRUE(contains(r.out, "  Nrows=2  Ncols=4  Nvars=4  Pi=0.25  Gamma=2.5  Alpha=2\n"));
  // Later words win, prefixes and several '=' are accepted, ints read as %d.
  r = run_design(dir, "H\nnrows=8 NN=2 Nc==2 Nv=1 Gam=3 ALF=0.1 Pi=.5\nData\n1 1 1 5\n2 1 1 6\n");
  EXPECT_TRUE(contains(r.out, "  Nrows=2  Ncols=2  Nvars=1  Pi=0.5  Gamma=3  Alpha=0.1\n"));
  r = run_design(dir, "H\nNrows=2.7 Ncols=2 Nvars=9\nData\n1 1 1 5\n2 1 1 6\n");
  EXPECT_TRUE(contains(r.out, "  Nrows=2  Ncols=2  Nvars=2  Pi=0.25"));
  // A value is read as %d reads it, past any white space after `=': here a
  // vertical tab, which does not separate the words of the line.
  r = run_design(dir, "H\nNrows=\v8 Ncols=3\nData\n1 -1 -1 -1 5\n2 1 -1 -1 7\n3 -1 1 -1 6\n"
                      "4 1 1 -1 9\n5 -1 -1 1 4\n6 1 -1 1 8\n7 -1 1 1 5\n8 1 1 1 11\n");
  EXPECT_TRUE(contains(r.out, "  Nrows=8  Ncols=3  Nvars=3  Pi=0.25")) << r.out;
  // Unknown words are warned about and skipped.
  r = run_design(dir, "H\n\nNrows=2 Frobs=3 Ncols=2\nData\n1 1 1 5\n2 1 1 6\n");
  EXPECT_TRUE(contains(r.out, "L#3: WARNING: Unrecognized option `Frobs=3' in Parameter Line\n"));
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(contains(read_file(dir.file("d.out.txt")), "WARNING"));
}

TEST(ReadDat, CommandLineValuesWinOverTheParameterLine) {
  TempDir dir;
  const std::string design = "H\nNrows=2 Ncols=3 Pi=0.3 Nvars=2\nData\n1 1 1 1 5\n2 1 1 1 6\n";
  auto r = run_design(dir, design, {"-P0.2", "-S"});
  EXPECT_TRUE(contains(r.out, "  Nrows=2  Ncols=3  Nvars=2  Pi=0.2  Gamma=2.5  Alpha=2\n"
                              "Parsed values from the parameter and command line:\n"
                              "  1. NROWS: PLINE=YES  CLINE= NO  Value=2\n"
                              "  2. NCOLS: PLINE=YES  CLINE= NO  Value=3\n"
                              "  3. NVARS: PLINE=YES  CLINE= NO  Value=2\n"
                              "  4. PI   : PLINE=YES  CLINE=YES  Value=0.2\n"
                              "  5. GAMMA: PLINE= NO  CLINE= NO  Value=2.5\n"
                              "  6. ALPHA: PLINE= NO  CLINE= NO  Value=2\n"));
  r = run_design(dir, design, {"-N1"});
  EXPECT_TRUE(contains(r.out, "  Nrows=2  Ncols=3  Nvars=1  Pi=0.3"));
  r = run_design(dir, design, {"-L"});
  EXPECT_TRUE(contains(r.out, "  Nrows=2  Ncols=3  Nvars=3  Pi=0.3"));
  EXPECT_TRUE(contains(r.out, "Factors analyzed: ABC\n"));
}

TEST(ReadDat, DataRowsAndTextLine) {
  TempDir dir;
  auto r = run_design(dir,
                      "H\nNrows=2 Ncols=4\nData\n"
                      "3. -1 1 --1 1 12.5\n"
                      "Some text among the rows\n"
                      "17... 0 7\t-12 1 -3e1 trailing words\n"
                      "9 1 1 1 1 99 (never read)\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(contains(r.out, "Text line in Data block:\n  Some text among the rows\n"));
  const std::string data =
      "\nData in d.txt: Rownum, Design matrix, Response variable\n"
      "Some text among the rows\n"
      "    3.  -1   1  -1   1   12.5\n"
      "   17.   0   7  -12   1   -30\n";
  EXPECT_TRUE(contains(r.out, data));
  std::string log = read_file(dir.file("d.out.txt"));
  EXPECT_TRUE(contains(log, data));
  EXPECT_FALSE(contains(log, "Text line in Data block"));
}

TEST(ReadDat, EntriesSpanTheWhole32BitRange) {
  TempDir dir;
  auto r = run_design(dir, "H\nNrows=2 Ncols=2\nData\n1 -2147483648 2147483647 5\n2 1 -1 6\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(contains(r.out, "    1.  -2147483648  2147483647   5\n    2.   1  -1   6\n"));
}

TEST(ReadDat, ARunNumberedZeroIsARow) {
  TempDir dir;
  auto r = run_design(dir, "H\nNrows=2 Ncols=1\nData\n0 1 5\n0. -1 7\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(contains(r.out, "Response variable\n    0.   1   5\n    0.  -1   7\n"));
}

TEST(ReadDat, FactorLettersSkipI) {
  TempDir dir;
  std::string design = "H\nNrows=1 Ncols=10 Nvars=3\nData\n1";
  for (int j = 0; j < 10; j++) design += " 1";
  design += " 4\n";
  auto r = run_design(dir, design);
  EXPECT_TRUE(contains(r.out, "\nFactor labels: ABCDEFGHJK   Factors analyzed: ABC\n"));
}

TEST(ReadDat, LabelsAcrossLinesAndAnEmptyLabelBlock) {
  TempDir dir;
  auto r = run_design(dir, "H\nNrows=1 Ncols=3\nLabels A=Temp B=Time\nC=Conc\nData\n1 1 1 1 2\n");
  EXPECT_TRUE(contains(r.out, "\nLabels in d.txt:\n  A=Temp  B=Time  C=Conc\n"));
  r = run_design(dir, "H\nNrows=1 Ncols=1\nLabels\nData\n1 1 2\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(contains(r.out, "WARNING: Labels line, but no labels found.\n"));
  // Twenty-six labels, I included, are allowed.
  std::string labels = "Labels";
  for (char c = 'a'; c <= 'z'; c++) labels += std::string(" ") + c + "=" + c;
  r = run_design(dir, "H\nNrows=1 Ncols=1\n" + labels + "\nData\n1 1 2\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(contains(r.out, "  I=i  J=j"));
}

// ---- Refused designs ---------------------------------------------------------------

struct Refusal {
  const char *name;
  std::string design;
  std::string screen;  // the end of the screen output
  std::string log;     // what the log holds after its heading echo ("" = nothing more)
  bool log_exists = true;
};

TEST(ReadDat, EveryRefusalHasItsMessageChannelAndStatus) {
  // A constant response is refused once the data have been echoed.
  const std::string kConstantEcho =
      "\nData in d.txt: Rownum, Design matrix, Response variable\n"
      "    1.  -1  -1  -1   5\n    2.   1  -1  -1   5\n    3.  -1   1  -1   5\n"
      "    4.   1   1  -1   5\n    5.  -1  -1   1   5\n    6.   1  -1   1   5\n"
      "    7.  -1   1   1   5\n    8.   1   1   1   5\n";
  const std::string kConstant =
      "\nCONSTANT RESPONSE: every run has the response 5 !\n"
      "Such a design holds no information about any factor.\n";
  const std::string values = "Values of variables:\n  Nrows=2  Ncols=2  Nvars=2  Pi=0.25  "
                             "Gamma=2.5  Alpha=2\n";
  const Refusal cases[] = {
      {"empty file", "", "\nCan't read heading line!\n  NULL\nLine #1 in d.txt\n", "", false},
      {"only comments", "# a\n\n; b\n", "\nCan't read heading line!\n  NULL\nLine #4 in d.txt\n",
       "", false},
      {"no parameter line", "Heading\n",
       "\nCan't read parameter line!\n  NULL\nLine #2 in d.txt\n", ""},
      {"blanks around =", "H\nNrows = 8 Ncols=2\n",
       "\nMissing = In parameter option  Nrows\n  Nrows = 8 Ncols=2\nLine #2 in d.txt\n", ""},
      {"blank after =", "H\nNrows= 8 Ncols=2\n",
       "\nMISSING VALUE In parameter option  Nrows=\n  Nrows= 8 Ncols=2\nLine #2 in d.txt\n", ""},
      {"value not a number", "H\nNcols=2 Nrows=abc\n",
       "\nINTERNAL ERROR parsing parameter line!\n"
       "varptr=NULL in PARMVAR array entry #1 (Word=Nrows=abc)\n"
       "  Ncols=2 Nrows=abc\nLine #2 in d.txt\n",
       ""},
      {"value beyond an int", "H\nNrows=3000000000 Ncols=2\n",
       "\nVALUE OUT OF RANGE In parameter option  Nrows=3000000000\n"
       "  Nrows=3000000000 Ncols=2\nLine #2 in d.txt\n",
       ""},
      {"missing Ncols", "H\nNrows=2\n",
       "  Nrows=2  Ncols=0  Nvars=0  Pi=0.25  Gamma=2.5  Alpha=2\n"
       "\nENTER value for NCOLS in Infile or Command Line!\n",
       "Values of variables:\n  Nrows=2  Ncols=0  Nvars=0  Pi=0.25  Gamma=2.5  Alpha=2\n"},
      {"zero Ncols", "H\nNrows=2 Ncols=0\n", "\nILLEGAL ZERO VALUE for NCOLS !\n",
       "Values of variables:\n  Nrows=2  Ncols=0  Nvars=0  Pi=0.25  Gamma=2.5  Alpha=2\n"},
      {"negative Nrows", "H\nNrows=-4 Ncols=2\n", "\nILLEGAL NEGATIVE VALUE for NROWS !\n",
       "Values of variables:\n  Nrows=-4  Ncols=2  Nvars=2  Pi=0.25  Gamma=2.5  Alpha=2\n"},
      {"negative Nvars", "H\nNrows=4 Ncols=2 Nvars=-1\n",
       "\nILLEGAL NEGATIVE VALUE for NVARS !\n",
       "Values of variables:\n  Nrows=4  Ncols=2  Nvars=-1  Pi=0.25  Gamma=2.5  Alpha=2\n"},
      {"zero Nvars", "H\nNrows=2 Ncols=2 Nvars=0\n",
       "Nrows=2  Ncols=2  Nvars=0:  Too few!\n",
       "Values of variables:\n  Nrows=2  Ncols=2  Nvars=0  Pi=0.25  Gamma=2.5  Alpha=2\n"
       "Nrows=2  Ncols=2  Nvars=0:  Too few!\n"},
      {"too many columns", "H\nNrows=2 Ncols=62\n",
       "\nTOO MANY COLUMNS: Ncols=62, at most 61 are allowed !\n",
       "Values of variables:\n  Nrows=2  Ncols=62  Nvars=62  Pi=0.25  Gamma=2.5  Alpha=2\n"},
      {"Pi of 1", "H\nNrows=2 Ncols=2 Pi=1\n",
       "\nILLEGAL VALUE for PI: Pi=1 must lie strictly between 0 and 1 !\n",
       "Values of variables:\n  Nrows=2  Ncols=2  Nvars=2  Pi=1  Gamma=2.5  Alpha=2\n"},
      {"negative Pi", "H\nNrows=2 Ncols=2 Pi=-0.1\n",
       "\nILLEGAL VALUE for PI: Pi=-0.1 must lie strictly between 0 and 1 !\n",
       "Values of variables:\n  Nrows=2  Ncols=2  Nvars=2  Pi=-0.1  Gamma=2.5  Alpha=2\n"},
      {"Pi not a number", "H\nNrows=2 Ncols=2 Pi=nan\n",
       "\nILLEGAL VALUE for PI: Pi=nan must be a finite number !\n",
       "Values of variables:\n  Nrows=2  Ncols=2  Nvars=2  Pi=nan  Gamma=2.5  Alpha=2\n"},
      {"Gamma of 0", "H\nNrows=2 Ncols=2 Gamma=0\n",
       "\nILLEGAL VALUE for GAMMA: Gamma=0 must be greater than 0 !\n",
       "Values of variables:\n  Nrows=2  Ncols=2  Nvars=2  Pi=0.25  Gamma=0  Alpha=2\n"},
      {"infinite Gamma", "H\nNrows=2 Ncols=2 Gamma=inf\n",
       "\nILLEGAL VALUE for GAMMA: Gamma=inf must be a finite number !\n",
       "Values of variables:\n  Nrows=2  Ncols=2  Nvars=2  Pi=0.25  Gamma=inf  Alpha=2\n"},
      {"Gamma not a number", "H\nNrows=2 Ncols=2 Gamma=nan\n",
       "\nILLEGAL VALUE for GAMMA: Gamma=nan must be a finite number !\n",
       "Values of variables:\n  Nrows=2  Ncols=2  Nvars=2  Pi=0.25  Gamma=nan  Alpha=2\n"},
      {"no Data line", "H\nNrows=2 Ncols=2\nRows follow\n",
       "\nNEXT LINE should begin Label or Data !!\n  Rows follow\nLine #3 in d.txt\n", values},
      {"end after parameters", "H\nNrows=2 Ncols=2\n",
       "\nNEXT LINE should begin Label or Data !!\n  NULL\nLine #3 in d.txt\n", values},
      {"labels out of order", "H\nNrows=2 Ncols=2\nLabels A=Temp C=Conc\n",
       "SYNTAX ERROR IN LABEL DESIGNATION!\nLabel #2 must begin with B=\n"
       "  Labels A=Temp C=Conc\nLine #3 in d.txt\n",
       values},
      {"label without =", "H\nNrows=2 Ncols=2\nLabels\nATemp\n",
       "SYNTAX ERROR IN LABEL DESIGNATION!\nLabel #1 must begin with A=\n"
       "  ATemp\nLine #4 in d.txt\n",
       values},
      {"labels then end of file", "H\nNrows=2 Ncols=2\nLabels A=x\n",
       "\nLabels in d.txt:\n  A=x\n\nNEXT LINE should begin with `Data'!\n  NULL\n"
       "Line #4 in d.txt\n",
       values + "\nLabels in d.txt:\n  A=x\n"},
      {"plus sign", std::string(kHead) + "1 +1 1 5\n",
       "\nILLEGAL CHARACTER in design matrix!\nj=1  word=+1 1 5\n"
       "Should be only digits and signs !\n  1 +1 1 5\nLine #4 in d.txt\n",
       values + "\nILLEGAL CHARACTER in design matrix!\nj=1  word=+1 1 5\n"
                "Should be only digits and signs !\n"},
      {"decimal point", std::string(kHead) + "1 1 -.5 5\n",
       "\nILLEGAL CHARACTER in design matrix!\nj=2  word=-.5 5\n"
       "Should be only digits and signs !\n  1 1 -.5 5\nLine #4 in d.txt\n",
       values + "\nILLEGAL CHARACTER in design matrix!\nj=2  word=-.5 5\n"
                "Should be only digits and signs !\n"},
      {"entry beyond an int", std::string(kHead) + "1 1 -12345678901 5\n",
       "\nNUMBER TOO LARGE in design matrix!\nj=2  word=-12345678901 5\n"
       "Should be at most 10 digits long, from -2147483648 to 2147483647 !\n"
       "  1 1 -12345678901 5\nLine #4 in d.txt\n",
       values + "\nNUMBER TOO LARGE in design matrix!\nj=2  word=-12345678901 5\n"
                "Should be at most 10 digits long, from -2147483648 to 2147483647 !\n"},
      {"run number beyond an int", std::string(kHead) + "99999999999. 1 1 5\n",
       "\nRUN NUMBER TOO LARGE in data row!\nRow #1:  word=99999999999\n"
       "Run numbers must be at most 2147483647 !\n  99999999999. 1 1 5\nLine #4 in d.txt\n",
       values + "\nRUN NUMBER TOO LARGE in data row!\nRow #1:  word=99999999999\n"
                "Run numbers must be at most 2147483647 !\n"},
      {"short design line", std::string(kHead) + "1 1\n",
       "\nSHORT LINE for design matrix entries:\nRow #1:  Read 1 value, need 2\n"
       "  1 1\nLine #4 in d.txt\n",
       values + "\nSHORT LINE for design matrix entries:\nRow #1:  Read 1 value, need 2\n"},
      {"no response", std::string(kHead) + "1 1 1\n",
       "\nSHORT LINE for response variable:\n"
       "Row #1: Read 2 design matrix values, need response value\n  1 1 1\nLine #4 in d.txt\n",
       values + "\nSHORT LINE for response variable:\n"
                "Row #1: Read 2 design matrix values, need response value\n"},
      {"response not a number", std::string(kHead) + "1 1 -1 5\n2 1 1 nan\n",
       "\nSHORT LINE for response variable:\n"
       "Row #2: Read 2 design matrix values, need response value\n  2 1 1 nan\n"
       "Line #5 in d.txt\n",
       values + "\nSHORT LINE for response variable:\n"
                "Row #2: Read 2 design matrix values, need response value\n"},
      {"infinite response", std::string(kHead) + "1 1 -1 inf\n",
       "\nSHORT LINE for response variable:\n"
       "Row #1: Read 2 design matrix values, need response value\n  1 1 -1 inf\n"
       "Line #4 in d.txt\n",
       values + "\nSHORT LINE for response variable:\n"
                "Row #1: Read 2 design matrix values, need response value\n"},
      {"two text lines", std::string(kHead) + "first text\n1 1 1 5\nsecond text\n",
       "Text line in Data block:\n  second text\n"
       "TWO TEXT LINES in data block!\n  first text\n  second text\n",
       values + "TWO TEXT LINES in data block!\n  first text\n  second text\n"},
      {"constant response",
       "H\nNrows=8 Ncols=3\nData\n1 -1 -1 -1 5\n2 1 -1 -1 5\n3 -1 1 -1 5\n4 1 1 -1 5\n"
       "5 -1 -1 1 5\n6 1 -1 1 5\n7 -1 1 1 5\n8 1 1 1 5.0\n",
       kConstantEcho + kConstant,
       "Values of variables:\n  Nrows=8  Ncols=3  Nvars=3  Pi=0.25  Gamma=2.5  Alpha=2\n" +
           kConstantEcho + kConstant},
      {"short file", std::string(kHead) + "1 1 1 5\n",
       "SHORT FILE: CANNOT READ 2 data rows !\nRead only 1 data rows.\n",
       values + "SHORT FILE: CANNOT READ 2 data rows !\nRead only 1 data rows.\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    auto r = run_design(dir, c.design);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    std::string out = after_listing(r.out);
    ASSERT_GE(out.size(), c.screen.size()) << out;
    EXPECT_EQ(out.substr(out.size() - c.screen.size()), c.screen) << out;
    EXPECT_EQ(testutil::file_exists(dir.file("d.out.txt")), c.log_exists);
    if (c.log_exists) {
      std::string log = read_file(dir.file("d.out.txt"));
      std::string head = "\nOutput of BAYESCREEN from input file d.txt\n";
      size_t heading_end = log.find('\n', log.find("HEADING LINE")) + 1;
      heading_end = log.find('\n', heading_end) + 1;
      EXPECT_EQ(log.substr(heading_end), c.log);
    }
  }
}

TEST(ReadDat, TooFewRunsUsesTheSingularWording) {
  TempDir dir;
  auto r = run_design(dir, "H\nNrows=1 Ncols=1\nData\n");
  EXPECT_TRUE(contains(r.out, "SHORT FILE: CANNOT READ 1 data row !\nRead only 0 data rows.\n"));
  r = run_design(dir, "H\nNrows=2 Ncols=1\nData\n1 1\n");
  EXPECT_TRUE(contains(r.out, "Row #1: Read 1 design matrix value, need response value\n"));
}

TEST(ReadDat, TwentySevenLabelsAreTooMany) {
  TempDir dir;
  std::string labels = "Labels";
  for (char c = 'a'; c <= 'z'; c++) labels += std::string(" ") + c + "=" + c;
  auto r = run_design(dir, "H\nNrows=1 Ncols=1\n" + labels + "\n[=extra\nData\n1 1 2\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.out, "\nMAXIMUM NUMBER of labels: 26!\n  [=extra\nLine #4 in d.txt\n"));
}

TEST(ReadDat, AnExistingLogIsKeptAsBackup) {
  TempDir dir;
  dir.write("d.out.txt", "older log\n");
  dir.write("d.out.txt.bak", "oldest log\n");
  auto r = run_design(dir, "H\nNrows=1 Ncols=1\nData\n1 1 2\n");
  EXPECT_TRUE(contains(r.out, "OPENING the log file `d.out.txt'\n"
                              "Backing up the existing file `d.out.txt' as `d.out.txt.bak'\n"));
  EXPECT_EQ(read_file(dir.file("d.out.txt.bak")), "older log\n");

  // A refused design still leaves the previous log as the backup.
  dir.write("d.out.txt", "good log\n");
  r = run_design(dir, "H\nNrows=2 Ncols=1\nData\n1 +1 2\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(read_file(dir.file("d.out.txt.bak")), "good log\n");
}

TEST(ReadDat, ALogThatCannotBeBackedUpIsNeverTruncated) {
  TempDir dir;
  dir.write("d.out.txt", "precious log\n");
  // A non-empty directory in the way of the backup cannot be deleted.
  std::filesystem::create_directory(dir.file("d.out.txt.bak"));
  dir.write("d.out.txt.bak/keep", "x");
  auto r = run_design(dir, "H\nNrows=1 Ncols=1\nData\n1 1 2\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "\nCANNOT DELETE the file  `d.out.txt.bak'\n"));
  EXPECT_EQ(read_file(dir.file("d.out.txt")), "precious log\n");
}
