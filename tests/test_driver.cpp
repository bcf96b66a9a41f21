// End-to-end runs of the program: start-up text, option handling and the
// rules that derive the input and output file names.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "testutil.h"

using testutil::contains;
using testutil::run_program;
using testutil::TempDir;

namespace {

const char *const kDescription =
    "Carry out procedures to find the factors in an experimental design\n"
    "  that are Active as opposed to Inert, including a Bayesian regression\n"
    "  procedure due to Box and Meyer used find both\n"
    "    (a) posterior model probabilities and\n"
    "    (b) posterior probabilities that individual factors are Active.\n"
    "Procedures carried out:\n"
    "  (1) Find best 2^1, 2^2, and 2^3 submodels via several criteria\n"
    "    including Bayesian posterior model probability,\n"
    "  (2) Find posterior probabilities that individual factors\n"
    "    are active (perhaps in an interaction) by various criteria\n"
    "See Statistics for Experimenters (2nd ed.), App. 7A-7B, pp. 306-310, and Ch. 7, pp. "
    "289-293,\n"
    "  for a description of the Bayesian regression procedure.\n"
    "Options -P -G below are used only in the Bayesian procedure.\n"
    "Syntax of  infile[.txt]:\n"
    "  Line1: Heading line (text description)\n"
    "  Line2: Parameter settings (tagged list, must have Nrows= Ncols=)\n"
    "  Line3: Must start with word Data, perhaps after a Labels block\n"
    "  Lines4++:  Row number, Design matrix, Response variable\n"
    "Blank lines and lines beginning with one of #;% are ignored.\n"
    "Program version April 9, 2008\n";

const char *const kDefaultListing =
    "with command-line options:\n"
    "   -P<dnum> - Prior proportion of active factors (default: 0.25)\n"
    "   -G<dnum> - Prior StdDev ratio Active factors/Model error (default: 2.5)\n"
    "   -A<dnum> - Effects active only if Pval less than this (default: 2)\n"
    "   -N<num> - Submodels of first N variables (Max: Number of columns)\n"
    "   -L - Submodels of ALL column variables\n"
    "   -R - List all models in best-fit lists\n"
    "   -C - More sorts in model lists (Default: Fstat BPostProb only)\n"
    "   -D - More post.prob. lists (Default: Fstat Likelihood BPostProb only)\n"
    "   -E - Within-size sorts for all model sorts (Default: First only)\n"
    "   -S - Step through model results\n"
    "   -V - Verbose output\n";

const char *const kSmallDesign =
    "Two factors\n"
    "Nrows=4 Ncols=2\n"
    "Data\n"
    "1 -1 -1 10\n"
    "2  1 -1 12\n"
    "3 -1  1 20\n"
    "4  1  1 23\n";

}  // namespace

TEST(Driver, NoArgumentsPrintsEverythingThenNeedsAFileName) {
  TempDir dir;
  auto r = run_program({}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, std::string(kDescription) + "Command line: BAYESCREEN  \n" +
                       "Syntax:  BAYESCREEN  <infile[.txt]>  -options\n" + kDefaultListing +
                       "Need a file name.\n");
  EXPECT_EQ(r.err, "");
}

TEST(Driver, ListingMarksTheOptionsGiven) {
  TempDir dir;
  auto r = run_program({"-P0.1", "-L", "-N12,345"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.out, "Command line: BAYESCREEN  -P0.1  -L  -N12,345\n"));
  EXPECT_TRUE(contains(
      r.out,
      "with command-line options:\n"
      "  *-P<dnum> - Prior proportion of active factors (value: 0.1)\n"
      "   -G<dnum> - Prior StdDev ratio Active factors/Model error (default: 2.5)\n"
      "   -A<dnum> - Effects active only if Pval less than this (default: 2)\n"
      "  *-N<num> - Submodels of first N variables (Max: Number of columns) (value: 12,345)\n"
      "  *-L - Submodels of ALL column variables\n"
      "   -R - List all models in best-fit lists\n"));
  EXPECT_TRUE(contains(r.out, "   -V - Verbose output\n"
                              "* - This option was set or changed on the command line\n"
                              "Need a file name.\n"));

  // Counts of four digits or fewer show without a separator.
  r = run_program({"-N1,000"}, dir.path());
  EXPECT_TRUE(contains(r.out, "(Max: Number of columns) (value: 1000)\n"));
}

TEST(Driver, BadOptionsEndTheRunBeforeTheFileIsRead) {
  struct Bad {
    std::vector<std::string> args;
    std::string message;
  };
  const std::string improper = "Syntax:  BAYESCREEN  <infile[.txt]>  -options\n\nIMPROPER -P<dnum> FORMAT "
                               "(Type=VAR_DOUBLE, read ";
  const Bad bad[] = {
      {{"design", "-P.3"}, improper + "P.3)!!  (Bad double format.)\n"},
      // Words that strtod would take for numbers are not numbers here.
      {{"design", "-P-inf"}, improper + "P-inf)!!  (Bad double format.)\n"},
      {{"a", "b", "c"}, "\nTOO MANY STRING ARGUMENTS ON THE COMMAND-LINE !!\n  a  b  c\n"},
      {{"design", "-N3x"}, "\n*** UNRECOGNIZED COMMAND-LINE FLAG `X'!!!\n\n\n"},
      // Only a word beginning with two dashes can be an extension option:
      // -xnull is the letter X, not --null.
      {{"design", "-xnull"}, "\n*** UNRECOGNIZED COMMAND-LINE FLAG `X'!!!\n\n\n"},
      {{"design", "--max-factors=0"}, "\nILLEGAL VALUE in option `--max-factors=0': must lie between 1 and 61 !\n"},
  };
  for (const Bad &b : bad) {
    SCOPED_TRACE(b.message);
    TempDir dir;
    auto r = run_program(b.args, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.ends_with(b.message)) << r.out;
    EXPECT_FALSE(contains(r.out, "with command-line options:"));
  }
}

TEST(Driver, LongCommandLinesWrapAtSeventyFiveColumns) {
  TempDir dir;
  std::vector<std::string> args;
  for (int i = 0; i < 12; i++) args.push_back("-R" + std::string(i % 3 + 1, 'S'));
  auto r = run_program(args, dir.path());
  size_t from = r.out.find("Command line: ");
  size_t to = r.out.find("Syntax:");
  ASSERT_NE(from, std::string::npos);
  std::string echo = r.out.substr(from, to - from);
  EXPECT_EQ(echo,
            "Command line: BAYESCREEN  -RS  -RSS  -RSSS  -RS  -RSS  -RSSS  -RS  -RSS\n"
            "  -RSSS  -RS  -RSS  -RSSS\n");
}

// The output name and the input name, seen through the log file the run
// opens and the design file it reads.
struct NameCase {
  std::vector<std::string> args;
  std::string log;
};

TEST(Driver, OutputAndInputNamesFollowTheArguments) {
  const NameCase cases[] = {
      {{"design"}, "design.out.txt"},
      {{"design.txt"}, "design.txt.out.txt"},
      {{"design", "myout"}, "myout.out.txt"},
      {{"design", "my.out"}, "design.out.txt"},
      {{"design", "-L"}, "designl.out.txt"},
      {{"design", "myout", "-L"}, "myoutl.out.txt"},
      {{"-L", "design", "myout"}, "myoutl.out.txt"},
  };
  for (const auto &c : cases) {
    TempDir dir;
    dir.write("design.txt", kSmallDesign);
    auto r = run_program(c.args, dir.path());
    SCOPED_TRACE(c.args[0] + " -> " + c.log);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(contains(r.out, "OPENING the log file `" + c.log + "'\n"));
    EXPECT_TRUE(contains(r.out, "\nHEADING LINE in design.txt:\n  Two factors\n"));
    EXPECT_TRUE(testutil::file_exists(dir.file(c.log)));
  }
}

TEST(Driver, DirectoryWithADotKeepsTheNameAsTyped) {
  TempDir dir;
  std::filesystem::create_directory(dir.file("v1.2"));
  dir.write("v1.2/design", kSmallDesign);
  auto r = run_program({"v1.2/design"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(contains(r.out, "OPENING the log file `v1.2/design.out.txt'\n"));
  EXPECT_TRUE(contains(r.out, "\nHEADING LINE in v1.2/design:\n"));

  // Without the file as typed the run stops at the open, naming that file.
  TempDir other;
  std::filesystem::create_directory(other.file("v1.2"));
  other.write("v1.2/design.txt", kSmallDesign);
  r = run_program({"v1.2/design"}, other.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "\nCANNOT OPEN the file  `v1.2/design'\n"
                              "No such file or directory\n"));
}

TEST(Driver, MissingInputFileIsReportedOnStandardError) {
  TempDir dir;
  auto r = run_program({"nosuch"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "\nCANNOT OPEN the file  `nosuch.txt'\nNo such file or directory\n");
  EXPECT_FALSE(testutil::file_exists(dir.file("nosuch.out.txt")));
}

TEST(Driver, VerboseImpliesStepThrough) {
  TempDir dir;
  dir.write("design.txt", kSmallDesign);
  auto r = run_program({"design", "-V"}, dir.path());
  EXPECT_TRUE(contains(r.out, "Parsed values from the parameter and command line:\n"));
}
