// The option engine: option words of every kind, string arguments, shared
// letters, submenus, configuration files, the refusal messages and the
// option listing, with the program's own table and with general tables.
//
// Parses that succeed run here with tables and targets of the test's own
// (the program's option values are restored afterwards); parses that end the
// run, and everything that prints, run in a child process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/driver.h"
#include "analysis/readdat.h"
#include "options/setflags.h"
#include "support/helpers.h"
#include "support/showplaces.h"
#include "testutil.h"

using namespace bayescreen;
using testutil::run_child;
using testutil::TempDir;

namespace {

// argv for setflags: "prog" followed by the words.
struct Argv {
  std::vector<std::string> words;
  std::vector<char *> ptrs;
  explicit Argv(const std::vector<std::string> &args) : words{"prog"} {
    words.insert(words.end(), args.begin(), args.end());
    for (auto &w : words) ptrs.push_back(w.data());
    ptrs.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(words.size()); }
  char **argv() { return ptrs.data(); }
};

char **raw_parse(FlagSpec *table, const std::vector<std::string> &args, int maxstrings = 2,
                 int showlist = 0) {
  Argv a(args);
  return setflags(a.argc(), a.argv(), table, maxstrings, showlist);
}

// Parses here, after a trial in a child: a parse that would end the run
// is reported as a failure of the test instead of ending the test program.
char **parse(FlagSpec *table, const std::vector<std::string> &args, int maxstrings = 2,
             int showlist = 0) {
  Argv a(args);
  auto trial = run_child([&] { setflags(a.argc(), a.argv(), table, maxstrings, showlist); });
  if (trial.status != 0) {
    ADD_FAILURE() << "the parse ended the run with status " << trial.status << ":" << trial.out;
    static char *none[4] = {};
    return none;
  }
  return setflags(a.argc(), a.argv(), table, maxstrings, showlist);
}

// Runs the parse in a child; the child exits 0 when the parse returns.
testutil::Outcome parse_in_child(FlagSpec *table, const std::vector<std::string> &args,
                                 int maxstrings = 2, int showlist = 0) {
  return run_child([&] { raw_parse(table, args, maxstrings, showlist); });
}

std::string improper(char letter, const char *app, const char *type, const char *text,
                     const char *reason) {
  return std::string("\nIMPROPER -") + letter + app + " FORMAT (Type=" + type + ", read " + text +
         ")!!  (" + reason + ".)\n";
}

std::string improper2(char letter, const char *app, const char *type, const char *text,
                      const char *reason) {
  return std::string("\nIMPROPER -") + letter + app + " FORMAT (Type=" + type + ", read " + text +
         ")!!\n  (" + reason + ")\n";
}

std::string unrecognized(char letter, const std::string &where = "") {
  return std::string("\n*** UNRECOGNIZED COMMAND-LINE FLAG `") + letter + "'" + where +
         "!!!\n\n\n";
}

#define EXPECT_FATAL(outcome, expected_out)   \
  do {                                        \
    auto o_ = (outcome);                      \
    EXPECT_EQ(o_.status, 1);                  \
    EXPECT_EQ(o_.out, expected_out);          \
    EXPECT_EQ(o_.err, "");                    \
  } while (0)

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

FlagSpec row(char flag, void *var, int32_t vartype, const char *descript = nullptr,
             int32_t showdefault = 0, int32_t flagval = 0, int32_t *setvar = nullptr,
             int32_t setval = 0, FlagSpec *submenu = nullptr, const char *subdescript = nullptr) {
  return FlagSpec{flag, var, vartype, descript, showdefault, flagval, setvar, setval, submenu,
                  subdescript, 0};
}
const FlagSpec kEnd{0, nullptr, 0, nullptr, 0, 0, nullptr, 0, nullptr, nullptr, 0};

// A table with one row of every kind.
struct AllKinds {
  int32_t f = 0, q = 0, n = 5, o = 0;
  char c = 0, y = 0;
  int32_t i = 0, j = 0, k = 0, l = 0;
  uint32_t u = 0, v = 0, h = 0, w = 0;
  double d = 0, e = 0;
  char *s = nullptr, *t = nullptr, *a = nullptr, *g = nullptr;
  int32_t j_set = 0, i_set = 0;
  int32_t sx = 0, sy = 0;
  char *ss_ = nullptr;
  FlagSpec sub[4];
  FlagSpec table[25];

  AllKinds() {
    sub[0] = row('x', &sx, VAR_INT, "Sub number");
    sub[1] = row('y', &sy, VAR_FLAG, "Sub flag");
    sub[2] = row('s', &ss_, VAR_STRING, "Sub text");
    sub[3] = kEnd;
    FlagSpec rows[] = {
        row('F', &f, VAR_FLAG, "Flag"),
        row('Q', &q, VAR_FLAG, "Flag storing 7", 0, 7),
        row('N', &n, VAR_NFLAG, "Nflag"),
        row('O', &o, VAR_NFLAG, "Nflag storing 3", 0, 3),
        row('C', &c, VAR_CHAR, "Char"),
        row('Y', &y, VAR_MCHAR, "Optional char"),
        row('I', &i, VAR_INT, "Int", 0, 0, &i_set, 5),
        row('J', &j, VAR_MINT, "Optional int", 0, 0, &j_set),
        row('K', &k, VAR_INTMK, "Int with K/M"),
        row('L', &l, VAR_MINTMK, "Optional int with K/M"),
        row('U', &u, VAR_ULONG, "Unsigned"),
        row('V', &v, VAR_MULONG, "Optional unsigned"),
        row('H', &h, VAR_UHEX, "Hex"),
        row('W', &w, VAR_MUHEX, "Optional hex"),
        row('D', &d, VAR_DOUBLE, "Real"),
        row('E', &e, VAR_MDOUBLE, "Optional real"),
        row('S', &s, VAR_STRING, "Text"),
        row('T', &t, VAR_MSTRING, "Optional text"),
        row('A', &a, VAR_STRING_APPEND, "Appended text"),
        row('R', nullptr, VAR_COMMENT, "Comment"),
        row('G', &g, VAR_CONFIG, "Configuration file"),
        row('B', nullptr, VAR_SUBMENU, "Submenu", 0, 0, nullptr, 0, sub, "Sub options:"),
        row('Z', nullptr, VAR_SUBMENU, "Empty submenu"),
        row('P', nullptr, VAR_INT, "Row without a target"),
        kEnd,
    };
    static_assert(sizeof rows == sizeof table);
    memcpy(table, rows, sizeof rows);
  }
  AllKinds(const AllKinds &) = delete;
};

// Saves the program's option values and restores them afterwards.
struct KeepProgramOptions {
  double pi_ = pi, gam_ = gam, alpha_ = alpha;
  int32_t nv_ = nv, flags_[7] = {allvars, rankall, moreranks, moreposts, all_by_size, showstep,
                                 verbose};
  int32_t cline_[6];
  KeepProgramOptions() {
    for (int r = 0; r < 6; r++) cline_[r] = parmvar[r].cline;
  }
  ~KeepProgramOptions() {
    pi = pi_;
    gam = gam_;
    alpha = alpha_;
    nv = nv_;
    int32_t *f[7] = {&allvars, &rankall, &moreranks, &moreposts, &all_by_size, &showstep,
                     &verbose};
    for (int r = 0; r < 7; r++) *f[r] = flags_[r];
    for (int r = 0; r < 6; r++) parmvar[r].cline = cline_[r];
    for (FlagSpec *r = ss; r->flag != 0; r++) r->given = 0;
  }
};

FlagSpec *ss_row(char letter) {
  for (FlagSpec *r = ss; r->flag != 0; r++)
    if (r->flag == letter) return r;
  return nullptr;
}

const char *const kProgramListing[] = {
    "   -P<dnum> - Prior proportion of active factors",
    "   -G<dnum> - Prior StdDev ratio Active factors/Model error",
    "   -A<dnum> - Effects active only if Pval less than this",
    "   -N<num> - Submodels of first N variables (Max: Number of columns)",
    "   -L - Submodels of ALL column variables",
    "   -R - List all models in best-fit lists",
    "   -C - More sorts in model lists (Default: Fstat BPostProb only)",
    "   -D - More post.prob. lists (Default: Fstat Likelihood BPostProb only)",
    "   -E - Within-size sorts for all model sorts (Default: First only)",
    "   -S - Step through model results",
    "   -V - Verbose output",
};

// The program's listing with the given replacements of whole lines.
std::string program_listing(const std::vector<std::pair<int, std::string>> &changes, bool note) {
  std::vector<std::string> lines(std::begin(kProgramListing), std::end(kProgramListing));
  lines[0] += " (default: 0.25)";
  lines[1] += " (default: 2.5)";
  lines[2] += " (default: 2)";
  for (const auto &c : changes) lines[c.first] = c.second;
  std::string text = "with command-line options:\n";
  for (const auto &l : lines) text += l + "\n";
  if (note) text += "* - This option was set or changed on the command line\n";
  return text;
}

}  // namespace

// ======================= The program's own table =======================

TEST(ProgramOptions, RealOptionWordsAndCase) {
  KeepProgramOptions keep;
  for (const char *word : {"-p0.3", "-P0.3", "-P=0.3", "-P==0.3", "--P0.3"}) {
    pi = 0.25;
    parmvar[PARM_PI].cline = 0;
    parse(ss, {word});
    EXPECT_DOUBLE_EQ(pi, 0.3) << word;
    EXPECT_EQ(parmvar[PARM_PI].cline, 1) << word;
    EXPECT_EQ(ss_row('P')->given, 1) << word;
    EXPECT_EQ(ss_row('G')->given, 0) << word;
  }
}

TEST(ProgramOptions, SeveralOptionsShareOneWord) {
  KeepProgramOptions keep;
  parse(ss, {"-P0.3G2"});
  EXPECT_DOUBLE_EQ(pi, 0.3);
  EXPECT_DOUBLE_EQ(gam, 2.0);
  EXPECT_EQ(parmvar[PARM_GAMMA].cline, 1);

  parse(ss, {"-P3.G2"});
  EXPECT_DOUBLE_EQ(pi, 3.0);
  EXPECT_DOUBLE_EQ(gam, 2.0);

  parse(ss, {"-P5..A1"});
  EXPECT_DOUBLE_EQ(pi, 5.0);
  EXPECT_DOUBLE_EQ(alpha, 1.0);

  parse(ss, {"-LRS"});
  EXPECT_EQ(allvars, 1);
  EXPECT_EQ(rankall, 1);
  EXPECT_EQ(showstep, 1);
  EXPECT_EQ(parmvar[PARM_NVARS].cline, 1) << "-L marks Nvars as given";
  EXPECT_EQ(moreranks, 0);
}

TEST(ProgramOptions, DoubleDashAndLoneDash) {
  KeepProgramOptions keep;
  parse(ss, {"--L"});
  EXPECT_EQ(allvars, 1);

  allvars = 0;
  char **args = parse(ss, {"-"});
  EXPECT_EQ(args[0], nullptr);
  EXPECT_EQ(allvars, 0);
  for (FlagSpec *r = ss; r->flag != 0; r++) EXPECT_EQ(r->given, 0) << r->flag;
}

TEST(ProgramOptions, RealNumberFormats) {
  KeepProgramOptions keep;
  struct Case {
    const char *word;
    double value;
  };
  for (const Case &c : {Case{"-P1e-2", 0.01}, Case{"-P-.5", -0.5}, Case{"-P1E2", 100.0},
                        Case{"-P2.5.", 2.5}, Case{"-P7", 7.0}, Case{"-P-3", -3.0},
                        Case{"-P1.5e3", 1500.0}}) {
    parse(ss, {c.word});
    EXPECT_DOUBLE_EQ(pi, c.value) << c.word;
  }
}

TEST(ProgramOptions, BadRealNumbersEndTheRun) {
  const std::string bad = "Bad double format";
  for (const char *text : {"P.3", "P1e+2", "P+1", "P", "P1e", "Px"}) {
    EXPECT_FATAL(parse_in_child(ss, {std::string("-") + text}),
                 improper('P', "<dnum>", "VAR_DOUBLE", text, bad.c_str()));
  }
  EXPECT_FATAL(parse_in_child(ss, {"-P-x"}),
               "\nFAILURE in sscanf at `-x' !\n" +
                   improper('P', "<dnum>", "VAR_DOUBLE", "P-x", bad.c_str()));
  EXPECT_FATAL(parse_in_child(ss, {"-G2", "-p-"}),
               "\nFAILURE in sscanf at `-' !\n" +
                   improper('P', "<dnum>", "VAR_DOUBLE", "p-", bad.c_str()));
}

TEST(ProgramOptions, IntegerOption) {
  KeepProgramOptions keep;
  parse(ss, {"-N1,000"});
  EXPECT_EQ(nv, 1000);
  EXPECT_EQ(parmvar[PARM_NVARS].cline, 1);
  parse(ss, {"-N=7"});
  EXPECT_EQ(nv, 7);
  parse(ss, {"-N2147483647"});
  EXPECT_EQ(nv, 2147483647);
  parse(ss, {"-N3L"});
  EXPECT_EQ(nv, 3);
  EXPECT_EQ(allvars, 1);
}

TEST(ProgramOptions, BadIntegersEndTheRun) {
  struct Case {
    const char *text, *reason;
  };
  for (const Case &c : {Case{"N", "Expecting a digit"}, Case{"N-3", "Expecting a digit"},
                        Case{"N=", "Expecting a digit"},
                        Case{"N3000000000", "Int too large"},
                        Case{"N4294967295", "Int too large"},
                        Case{"N4294967296", "Unsigned long overflow"},
                        Case{"N5000000000", "Unsigned long overflow"},
                        Case{"N99999999999999999999", "Unsigned long overflow"}}) {
    EXPECT_FATAL(parse_in_child(ss, {std::string("-") + c.text}),
                 improper('N', "<num>", "VAR_INT", c.text, c.reason));
  }
  EXPECT_FATAL(parse_in_child(ss, {"-N3x"}), unrecognized('X'));
}

TEST(ProgramOptions, UnknownLetterEndsTheRun) {
  EXPECT_FATAL(parse_in_child(ss, {"design", "-Z"}), unrecognized('Z'));
  EXPECT_FATAL(parse_in_child(ss, {"-Lq"}), unrecognized('Q'));
  EXPECT_FATAL(parse_in_child(ss, {"-1"}), unrecognized('1'));
}

TEST(ProgramOptions, StringArgumentsKeepTheirOrder) {
  KeepProgramOptions keep;
  unsigned depth = npg;
  char **args = parse(ss, {"design", "-P0.1", "out"});
  ASSERT_NE(args, nullptr);
  EXPECT_STREQ(args[0], "design");
  EXPECT_STREQ(args[1], "out");
  EXPECT_EQ(args[2], nullptr);
  EXPECT_EQ(nsn, 2);
  EXPECT_DOUBLE_EQ(pi, 0.1);

  args = parse(ss, {"design"});
  EXPECT_STREQ(args[0], "design");
  EXPECT_EQ(args[1], nullptr);

  args = parse(ss, {});
  EXPECT_EQ(args[0], nullptr);
  EXPECT_EQ(nsn, 0);

  args = parse(ss, {""});  // an empty word is a string argument
  ASSERT_NE(args[0], nullptr);
  EXPECT_STREQ(args[0], "");
  EXPECT_EQ(npg, depth) << "every program place pushed was popped";
}

TEST(ProgramOptions, TooManyStringArguments) {
  EXPECT_FATAL(parse_in_child(ss, {"a", "-L", "b", "c"}),
               "\nTOO MANY STRING ARGUMENTS ON THE COMMAND-LINE !!\n  a  b  c\n");
  EXPECT_FATAL(parse_in_child(ss, {"design", "out", "extra", "more"}),
               "\nTOO MANY STRING ARGUMENTS ON THE COMMAND-LINE !!\n  design  out  extra\n");
}

TEST(ProgramOptions, ListingWithoutOptions) {
  auto o = parse_in_child(ss, {}, 2, 1);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, program_listing({}, false));
  EXPECT_EQ(o.err, "");
}

TEST(ProgramOptions, ListingMarksTheOptionsThatWereGiven) {
  auto o = parse_in_child(ss, {"design", "-P0.1"}, 2, 1);
  EXPECT_EQ(o.out,
            program_listing({{0, "  *-P<dnum> - Prior proportion of active factors (value: 0.1)"}},
                            true));

  o = parse_in_child(ss, {"-L"}, 2, 1);
  EXPECT_EQ(o.out, program_listing({{4, "  *-L - Submodels of ALL column variables"}}, true));

  o = parse_in_child(ss, {"-N3"}, 2, 1);
  EXPECT_EQ(o.out, program_listing({{3, "  *-N<num> - Submodels of first N variables (Max: Number "
                                        "of columns) (value: 3)"}},
                                   true));

  o = parse_in_child(ss, {"-N10,000", "-G3"}, 2, 1);
  EXPECT_EQ(o.out,
            program_listing(
                {{1, "  *-G<dnum> - Prior StdDev ratio Active factors/Model error (value: 3)"},
                 {3, "  *-N<num> - Submodels of first N variables (Max: Number of columns) "
                     "(value: 10,000)"}},
                true));
}

// The listing shows an int through commnum, which leaves numbers of at most
// four digits without a separator (1000 prints as 1000); yet the listing is
// also expected to show -N1,000 as 1,000. The two rules disagree for values
// from 1,000 to 9,999; the code follows commnum until that is settled.
TEST(ProgramOptions, DISABLED_ListingShowsAFourDigitIntWithASeparator) {
  auto o = parse_in_child(ss, {"-N1,000"}, 2, 1);
  EXPECT_EQ(o.out, program_listing({{3, "  *-N<num> - Submodels of first N variables (Max: "
                                        "Number of columns) (value: 1,000)"}},
                                   true));
}

// ======================= Every option kind, general table =======================

TEST(OptionKinds, FlagsStoreTheirValue) {
  AllKinds t;
  parse(t.table, {"-F", "-QNO"});
  EXPECT_EQ(t.f, 1);
  EXPECT_EQ(t.q, 7);
  EXPECT_EQ(t.n, 0);
  EXPECT_EQ(t.o, 3);
}

TEST(OptionKinds, Characters) {
  AllKinds t;
  parse(t.table, {"-CxF"});
  EXPECT_EQ(t.c, 'x');
  EXPECT_EQ(t.f, 1);
  parse(t.table, {"-C="});
  EXPECT_EQ(t.c, '=');
  parse(t.table, {"-Y", "-Q"});
  EXPECT_EQ(t.y, 0);
  EXPECT_EQ(t.q, 7);
  parse(t.table, {"-YF"});
  EXPECT_EQ(t.y, 'F');
  EXPECT_FATAL(parse_in_child(t.table, {"-C"}),
               improper('C', "<char>", "VAR_CHAR", "C", "Expecting a character"));
  EXPECT_FATAL(parse_in_child(t.table, {"-Fc"}),
               improper('C', "<char>", "VAR_CHAR", "c", "Expecting a character"));
}

TEST(OptionKinds, OptionalNumbersWithoutValueLeaveTheRestToOtherLetters) {
  AllKinds t;
  t.j = 11;
  parse(t.table, {"-JF"});
  EXPECT_EQ(t.j, 11);
  EXPECT_EQ(t.f, 1);
  EXPECT_EQ(t.j_set, 1) << "the set-indicator is written before the value is read";

  t.q = 0;
  parse(t.table, {"-J==Q"});
  EXPECT_EQ(t.j, 11);
  EXPECT_EQ(t.q, 7);

  t.f = 0;
  parse(t.table, {"-LVWF"});
  EXPECT_EQ(t.l, 0);
  EXPECT_EQ(t.v, 0u);
  EXPECT_EQ(t.w, 15u) << "F is a hex digit";
  EXPECT_EQ(t.f, 0);

  parse(t.table, {"-L", "-V", "-W", "-J"});
  parse(t.table, {"-J5", "-L6", "-V7", "-W8"});
  EXPECT_EQ(t.j, 5);
  EXPECT_EQ(t.l, 6);
  EXPECT_EQ(t.v, 7u);
  EXPECT_EQ(t.w, 8u);
}

TEST(OptionKinds, IntegersWithThousandsSeparatorsAndMultipliers) {
  AllKinds t;
  parse(t.table, {"-I1,234,567", "-K3k", "-L2M"});
  EXPECT_EQ(t.i, 1234567);
  EXPECT_EQ(t.i_set, 5) << "set-indicator with its own value";
  EXPECT_EQ(t.k, 3000);
  EXPECT_EQ(t.l, 2000000);
  parse(t.table, {"-K1,5KF"});
  EXPECT_EQ(t.k, 15000);
  EXPECT_EQ(t.f, 1);
  parse(t.table, {"-K2147483k"});
  EXPECT_EQ(t.k, 2147483000);

  EXPECT_FATAL(parse_in_child(t.table, {"-K5000000k"}),
               improper('K', "<num>", "VAR_INTMK", "K5000000k", "Int too large after using MK"));
  EXPECT_FATAL(parse_in_child(t.table, {"-K3000000k"}),
               improper('K', "<num>", "VAR_INTMK", "K3000000k", "Int too large"));
  EXPECT_FATAL(parse_in_child(t.table, {"-L5000m"}),
               improper('L', "<num>", "VAR_MINTMK", "L5000m", "Int too large after using MK"));
  // A plain int takes no multiplier: the k is the next option letter.
  EXPECT_FATAL(parse_in_child(t.table, {"-I3k"}),
               improper('K', "<num>", "VAR_INTMK", "k", "Expecting a digit"));
  EXPECT_FATAL(parse_in_child(t.table, {"-J2147483648"}),
               improper('J', "<num>", "VAR_MINT", "J2147483648", "Int too large"));
}

TEST(OptionKinds, UnsignedNumbers) {
  AllKinds t;
  parse(t.table, {"-U4294967295", "-V3,000,000,000"});
  EXPECT_EQ(t.u, 4294967295u);
  EXPECT_EQ(t.v, 3000000000u);
  EXPECT_FATAL(parse_in_child(t.table, {"-U4294967296"}),
               improper('U', "<ulnum>", "VAR_ULONG", "U4294967296", "Unsigned long overflow"));
  EXPECT_FATAL(parse_in_child(t.table, {"-U"}),
               improper('U', "<ulnum>", "VAR_ULONG", "U", "Expecting a digit"));
}

TEST(OptionKinds, HexNumbers) {
  AllKinds t;
  parse(t.table, {"-Hff"});
  EXPECT_EQ(t.h, 255u);
  parse(t.table, {"-H=1,F"});
  EXPECT_EQ(t.h, 0x1Fu);
  parse(t.table, {"-HFFFFFFFF"});
  EXPECT_EQ(t.h, 0xFFFFFFFFu);
  parse(t.table, {"-H10Q"});
  EXPECT_EQ(t.h, 16u);
  EXPECT_EQ(t.q, 7);
  EXPECT_FATAL(parse_in_child(t.table, {"-H100000000"}),
               improper('H', "<hexnum>", "VAR_UHEX", "H100000000", "Unsigned long hex overflow"));
  EXPECT_FATAL(parse_in_child(t.table, {"-Hg"}),
               improper('H', "<hexnum>", "VAR_UHEX", "Hg", "Expecting a hex digit"));
  // No 0x prefix: the x is read as the next option letter.
  EXPECT_FATAL(parse_in_child(t.table, {"-H0x1F"}), unrecognized('X'));
}

TEST(OptionKinds, RealNumbers) {
  AllKinds t;
  parse(t.table, {"-D2.5", "-E=-1e-3"});
  EXPECT_DOUBLE_EQ(t.d, 2.5);
  EXPECT_DOUBLE_EQ(t.e, -0.001);
  t.e = 9;
  parse(t.table, {"-EF"});
  EXPECT_DOUBLE_EQ(t.e, 9);
  EXPECT_EQ(t.f, 1);
  // Optional real without a value: skipped "=" characters are option letters.
  EXPECT_FATAL(parse_in_child(t.table, {"-E=F"}), unrecognized('='));
  EXPECT_FATAL(parse_in_child(t.table, {"-E.5"}), unrecognized('.'));
  EXPECT_FATAL(parse_in_child(t.table, {"-E-"}),
               "\nFAILURE in sscanf at `-' !\n" +
                   improper('E', "<dnum>", "VAR_MDOUBLE", "E-", "Bad double format"));
  EXPECT_FATAL(parse_in_child(t.table, {"-E-.e"}),
               "\nFAILURE in sscanf at `-.e' !\n" +
                   improper('E', "<dnum>", "VAR_MDOUBLE", "E-.e", "Bad double format"));
  EXPECT_FATAL(parse_in_child(t.table, {"-D"}),
               improper('D', "<dnum>", "VAR_DOUBLE", "D", "Bad double format"));
}

TEST(OptionKinds, StringTakesEqualsTextOrTheNextWord) {
  AllKinds t;
  char **args = parse(t.table, {"-S", "value", "design"});
  EXPECT_STREQ(t.s, "value");
  EXPECT_STREQ(args[0], "design");
  EXPECT_EQ(args[1], nullptr);

  parse(t.table, {"-S=", "-FS==abc=F"});
  EXPECT_STREQ(t.s, "abc=F") << "the rest of the word is the value";
  parse(t.table, {"-S="});
  ASSERT_NE(t.s, nullptr);
  EXPECT_STREQ(t.s, "");
  parse(t.table, {"-S", "=x"});
  EXPECT_STREQ(t.s, "=x") << "a next word is taken as it is";

  EXPECT_FATAL(parse_in_child(t.table, {"-S", "-F"}),
               improper2('S', "=<str>", "VAR_STRING", "S",
                         "String with next word beginning with -"));
  EXPECT_FATAL(parse_in_child(t.table, {"-SF"}),
               improper('S', "=<str>", "VAR_STRING", "SF", "Missing ="));
  EXPECT_FATAL(parse_in_child(t.table, {"design", "-S"}),
               improper('S', "=<str>", "VAR_STRING", "S", "Missing ="));
}

TEST(OptionKinds, OptionalStringWithoutValueLeavesTheRestToOtherLetters) {
  AllKinds t;
  parse(t.table, {"-TF"});
  EXPECT_EQ(t.t, nullptr);
  EXPECT_EQ(t.f, 1);
  parse(t.table, {"-T"});
  EXPECT_EQ(t.t, nullptr);
  parse(t.table, {"-T", "word"});
  EXPECT_STREQ(t.t, "word");
  parse(t.table, {"-T=x y"});
  EXPECT_STREQ(t.t, "x y");
  EXPECT_FATAL(parse_in_child(t.table, {"-T", "-F"}),
               improper2('T', "=<str>", "VAR_MSTRING", "T",
                         "String with next word beginning with -"));
}

TEST(OptionKinds, AppendedString) {
  AllKinds t;
  char initial[] = "abc";
  t.a = initial;
  parse(t.table, {"-A=def", "-A", "gh"});
  EXPECT_STREQ(t.a, "abcdefgh");
  EXPECT_STREQ(initial, "abc");
  t.a = nullptr;
  parse(t.table, {"-A=x"});
  EXPECT_STREQ(t.a, "x");
  EXPECT_FATAL(parse_in_child(t.table, {"-AF"}),
               improper('A', "=<str>", "VAR_STRING_APPEND", "AF", "Missing ="));
}

TEST(OptionKinds, CommentAndRowWithoutTargetConsumeOnlyTheLetter) {
  AllKinds t;
  parse(t.table, {"-RF"});
  EXPECT_EQ(t.f, 1);
  parse(t.table, {"-PQ"});
  EXPECT_EQ(t.q, 7);
  EXPECT_EQ(t.table[23].given, 1);
  EXPECT_FATAL(parse_in_child(t.table, {"-P5"}), unrecognized('5'));
}

TEST(OptionKinds, Submenus) {
  AllKinds t;
  parse(t.table, {"-Bx5y"});
  EXPECT_EQ(t.sx, 5);
  EXPECT_EQ(t.sy, 1);
  EXPECT_EQ(t.f, 0);

  char **args = parse(t.table, {"-bs", "word", "design"});
  EXPECT_STREQ(t.ss_, "word") << "a string in a submenu may take the next word";
  EXPECT_STREQ(args[0], "design");

  parse(t.table, {"-Zanything-at-all"});  // no submenu table: the word is consumed
  EXPECT_EQ(t.table[22].given, 1);

  EXPECT_FATAL(parse_in_child(t.table, {"-B"}),
               improper2('B', "<options>", "VAR_SUBMENU", "B",
                         "Expecting at least one submenu option"));
  EXPECT_FATAL(parse_in_child(t.table, {"-FbY"}),
               "\nIMPROPER -B<options> FORMAT (Type=VAR_SUBMENU, read -FbY)!!\n"
               "  SUBMENU OPTIONS must be first in an argument string\n");
  EXPECT_FATAL(parse_in_child(t.table, {"-byF"}), unrecognized('F', " IN SUBMENU `B' "));
  EXPECT_FATAL(parse_in_child(t.table, {"-Bxq"}),
               improper('X', "<num>", "VAR_INT", "xq", "Expecting a digit"));
}

TEST(OptionKinds, GivenMarksAreClearedInTheMainTableOnly) {
  AllKinds t;
  parse(t.table, {"-F", "-Bx1"});
  EXPECT_EQ(t.table[0].given, 1);
  EXPECT_EQ(t.table[21].given, 1);
  EXPECT_EQ(t.sub[0].given, 1);
  parse(t.table, {});
  EXPECT_EQ(t.table[0].given, 0);
  EXPECT_EQ(t.table[21].given, 0);
  EXPECT_EQ(t.sub[0].given, 1);
}

TEST(OptionKinds, UnknownKindCode) {
  int32_t x = 0;
  FlagSpec table[] = {row('K', &x, 42, "Odd"), row('M', nullptr, 42, "Odd without target"),
                      kEnd};
  EXPECT_FATAL(parse_in_child(table, {"-k"}),
               "*** INTERNAL ERROR (SETFLAGS)\n   Unknown var type `42' (flag `K') !\n");
  auto o = parse_in_child(table, {"-M"});
  EXPECT_EQ(o.status, 0) << "a row without a target consumes only its letter";
}

TEST(OptionKinds, NamesAndPlaceholders) {
  const char *names[] = {"VAR_FLAG",    "VAR_NFLAG",   "VAR_CHAR",          "VAR_MCHAR",
                         "VAR_INT",     "VAR_MINT",    "VAR_INTMK",         "VAR_MINTMK",
                         "VAR_ULONG",   "VAR_MULONG",  "VAR_UHEX",          "VAR_MUHEX",
                         "VAR_DOUBLE",  "VAR_MDOUBLE", "VAR_STRING",        "VAR_MSTRING",
                         "VAR_STRING_APPEND", "VAR_COMMENT", "VAR_CONFIG", "VAR_SUBMENU"};
  const char *apps[] = {"",        "",         "<char>",   "<char>",   "<num>",
                        "<num>",   "<num>",    "<num>",    "<ulnum>",  "<ulnum>",
                        "<hexnum>", "<hexnum>", "<dnum>",  "<dnum>",   "=<str>",
                        "=<str>",  "=<str>",   "",         "=<Cfgfilename>", "<options>"};
  for (int code = 1; code <= 20; code++) {
    EXPECT_STREQ(Vartype_Name(code), names[code - 1]) << code;
    EXPECT_STREQ(getapp(code), apps[code - 1]) << code;
  }
  for (int code : {0, 21, -1}) {
    EXPECT_STREQ(Vartype_Name(code), "?????");
    EXPECT_STREQ(getapp(code), "");
  }
}

// ======================= Words, positions and the next word =======================

TEST(ParseWord, UsedNextTellsWhetherTheFollowingWordWasTaken) {
  AllKinds t;
  int used = 7;
  parse_word(t.table, "-S", 0, 0, "value", &used);
  EXPECT_EQ(used, 1);
  EXPECT_STREQ(t.s, "value");
  parse_word(t.table, "-F", 0, 0, "value", &used);
  EXPECT_EQ(used, 0);
  parse_word(t.table, "-T", 0, 0, nullptr, &used);
  EXPECT_EQ(used, 0);
  parse_word(t.table, "-S=x", 0, 0, "value", nullptr);
  EXPECT_STREQ(t.s, "x");
}

TEST(ParseWord, DovarReturnsTheLastPositionConsumed) {
  AllKinds t;
  const char *word = "-I12F";
  EXPECT_EQ(dovar('I', word + 1, &t.table[6], t.table, nullptr, nullptr), word + 3);
  const char *optional = "-J==F";
  EXPECT_EQ(dovar('J', optional + 1, &t.table[7], t.table, nullptr, nullptr), optional + 3);
  const char *real = "-E=F";
  EXPECT_EQ(dovar('E', real + 1, &t.table[15], t.table, nullptr, nullptr), real + 1);
  const char *ch = "-Cz";
  EXPECT_EQ(dovar('C', ch + 1, &t.table[4], t.table, nullptr, nullptr), ch + 2);
  const char *flag = "-F";
  EXPECT_EQ(dovar('F', flag + 1, &t.table[0], t.table, nullptr, nullptr), flag + 1);
  const char *str = "-S=abc";
  EXPECT_EQ(dovar('S', str + 1, &t.table[16], t.table, nullptr, nullptr), nullptr);
  EXPECT_STREQ(t.s, "abc");
}

TEST(ParseWord, TableWithoutRowsOrNoTable) {
  char **args = parse(nullptr, {"design"});
  EXPECT_STREQ(args[0], "design");
  EXPECT_FATAL(parse_in_child(nullptr, {"-F"}), unrecognized('F'));
  auto o = parse_in_child(nullptr, {"design"}, 2, 1);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "") << "no listing without a table";
  FlagSpec empty[] = {kEnd};
  o = parse_in_child(empty, {}, 2, 1);
  EXPECT_EQ(o.out, "with command-line options:\nNo options listed.\n");
}

TEST(ParseWord, StringArgumentsNotAllowed) {
  AllKinds t;
  EXPECT_FATAL(parse_in_child(t.table, {"-F", "word"}, 0),
               "\nUNALLOWED COMMAND-LINE STRING ARGUMENT !!\n  word\n");
  EXPECT_FATAL(parse_in_child(t.table, {"word"}, -1),
               "\nUNALLOWED COMMAND-LINE STRING ARGUMENT !!\n  word\n");
  EXPECT_FATAL(parse_in_child(t.table, {"a", "-F", "b"}, 1),
               "\nTOO MANY STRING ARGUMENTS ON THE COMMAND-LINE !!\n  a  b\n");
}

TEST(ParseWord, TraceLines) {
  AllKinds t;
  auto o = run_child([&] {
    set_stflags_verbose(1);
    raw_parse(t.table, {"-FQ", "word"});
  });
  EXPECT_EQ(o.out,
            "QQQ: Setflags: Main Entry\n"
            "QQQ: ParseWord=-FQ\n"
            "QQQ: Do_var: FQ  Vartype=VAR_FLAG\n"
            "QQQ: Parseword now: Q\n"
            "QQQ: Do_var: Q  Vartype=VAR_FLAG\n"
            "QQQ: END of parseword\n"
            "QQQ: ParseWord=word\n"
            "QQQ: Parse_word: Arg #1: INSTRING STORED `word'\n"
            "QQQ: SETFLAGS: END OF main setflags() loop.\n");
}

// ======================= Shared letters and duplicate letters =======================

TEST(SharedLetters, AdjacentRowsAreBothApplied) {
  int32_t xi = 0, xf = 0, yf = 0, set1 = 0, set2 = 0;
  double yd = 0;
  FlagSpec table[] = {row('X', &xi, VAR_INT, "Int X", 0, 0, &set1),
                      row('x', &xf, VAR_FLAG, "Flag x", 0, 0, &set2, 4),
                      row('Y', &yf, VAR_FLAG, "Flag Y"),
                      row('Y', &yd, VAR_DOUBLE, "Real Y"),
                      kEnd};
  parse(table, {"-x12Y2.5"});
  EXPECT_EQ(xi, 12);
  EXPECT_EQ(xf, 1);
  EXPECT_EQ(yf, 1);
  EXPECT_DOUBLE_EQ(yd, 2.5);
  EXPECT_EQ(set1, 1);
  EXPECT_EQ(set2, 4);
  for (int r = 0; r < 4; r++) EXPECT_EQ(table[r].given, 1) << r;
}

TEST(SharedLetters, NonAdjacentRowsAreRefusedBeforeAnyWord) {
  int32_t a = 0, b = 0, c = 0;
  FlagSpec table[] = {row('X', &a, VAR_FLAG, "First X"), row('Y', &b, VAR_FLAG, "Why"),
                      row('x', &c, VAR_FLAG, "Second x"), kEnd};
  EXPECT_FATAL(parse_in_child(table, {}),
               "\n*** ERROR !!! Two non-adjacent command-line options\n"
               "  with the same option tag !\n"
               "  -X. (Opt #1) First X\n"
               "  -X. (Opt #3) Second x\n");
  EXPECT_FATAL(parse_in_child(table, {"-Y", "design"}),
               "\n*** ERROR !!! Two non-adjacent command-line options\n"
               "  with the same option tag !\n"
               "  -X. (Opt #1) First X\n"
               "  -X. (Opt #3) Second x\n");

  FlagSpec three[] = {row('T', &a, VAR_FLAG, "one"), row('T', &b, VAR_FLAG, "two"),
                      row('T', &c, VAR_FLAG, "three"), kEnd};
  EXPECT_FATAL(parse_in_child(three, {}),
               "\n*** ERROR !!! Two non-adjacent command-line options\n"
               "  with the same option tag !\n"
               "  -T. (Opt #1) one\n"
               "  -T. (Opt #3) three\n");
}

TEST(SharedLetters, RowNumbersArePaddedToTheWidthOfTheSecond) {
  int32_t v[10] = {};
  FlagSpec table[11];
  const char letters[] = "QaBCDEFGHA";
  for (int r = 0; r < 10; r++) table[r] = row(letters[r], &v[r], VAR_FLAG, "desc");
  table[9].descript = nullptr;
  table[10] = kEnd;
  EXPECT_FATAL(parse_in_child(table, {}),
               "\n*** ERROR !!! Two non-adjacent command-line options\n"
               "  with the same option tag !\n"
               "  -a. (Opt # 2) desc\n"
               "  -a. (Opt #10) NULL\n");
}

TEST(SharedLetters, DuplicatesInsideSubmenusNameThePrefix) {
  int32_t a = 0, b = 0, c = 0, d = 0;
  FlagSpec nested[] = {row('z', &a, VAR_FLAG, "z one"), row('w', &b, VAR_FLAG, "w"),
                       row('Z', &c, VAR_FLAG, "z two"), kEnd};
  FlagSpec sub[] = {row('q', &d, VAR_FLAG, "q"),
                    row('n', nullptr, VAR_SUBMENU, "Nested", 0, 0, nullptr, 0, nested), kEnd};
  FlagSpec table[] = {row('F', &d, VAR_FLAG, "F"),
                      row('b', nullptr, VAR_SUBMENU, "Sub", 0, 0, nullptr, 0, sub), kEnd};
  EXPECT_FATAL(parse_in_child(table, {}),
               "\n*** ERROR !!! Two non-adjacent command-line options in a submenu\n"
               "  with the same option tag !\n"
               "  -BNz. (Opt #1) z one\n"
               "  -BNz. (Opt #3) z two\n");

  // The check follows a submenu table in any row that has one.
  FlagSpec dup[] = {row('r', &a, VAR_FLAG, "r one"), row('s', &b, VAR_FLAG, "s"),
                    row('R', &c, VAR_FLAG, nullptr), kEnd};
  FlagSpec host[] = {row('K', &d, VAR_INT, "Int with a table", 0, 0, nullptr, 0, dup), kEnd};
  EXPECT_FATAL(parse_in_child(host, {}),
               "\n*** ERROR !!! Two non-adjacent command-line options in a submenu\n"
               "  with the same option tag !\n"
               "  -Kr. (Opt #1) r one\n"
               "  -Kr. (Opt #3) NULL\n");
}

TEST(SharedLetters, SelfReferringSubmenuIsARecursionError) {
  FlagSpec loop[2];
  loop[0] = row('m', nullptr, VAR_SUBMENU, "Loop", 0, 0, nullptr, 0, loop);
  loop[1] = kEnd;
  EXPECT_FATAL(parse_in_child(loop, {}),
               "\n*** RECURSION ERROR IN Check_Dupflags!\n  More than 20 deep:  Prefix: " +
                   std::string(21, 'M') + "\n");
}

TEST(SharedLetters, SubmenusNestTwentyOneLevels) {
  auto chain = [](int levels, int32_t *flag) {
    static std::vector<std::vector<FlagSpec>> tables;
    tables.assign(static_cast<size_t>(levels) + 1, {});
    tables[static_cast<size_t>(levels)] = {row('z', flag, VAR_FLAG, "Deepest"), kEnd};
    for (int i = levels - 1; i >= 0; i--)
      tables[static_cast<size_t>(i)] = {row('m', nullptr, VAR_SUBMENU, "Level", 0, 0, nullptr, 0,
                                            tables[static_cast<size_t>(i) + 1].data()),
                                        kEnd};
    return tables[0].data();
  };
  int32_t flag = 0;
  FlagSpec *ok = chain(21, &flag);
  parse(ok, {"-" + std::string(21, 'm') + "z"});
  EXPECT_EQ(flag, 1);
  FlagSpec *too_deep = chain(22, &flag);
  EXPECT_FATAL(parse_in_child(too_deep, {}),
               "\n*** RECURSION ERROR IN Check_Dupflags!\n  More than 20 deep:  Prefix: " +
                   std::string(21, 'M') + "\n");
}

// ======================= The listing of a general table =======================

TEST(OptionListing, EveryKindShowsItsValue) {
  int32_t on = 1, off = 0, given_flag = 1, big = 1234567, neg = -5, subx = 0, deep = 0;
  char ch = 'x', none = 0, rubout = 127;
  uint32_t ul = 4294967295u, hx = 255;
  double real = 1e-10, suby = 0.5;
  char text[] = "abc";
  char cfgname[] = "settings";
  char *str = text, *nostr = nullptr, *cfg = cfgname;
  int32_t hidden = 3;

  FlagSpec nested[] = {row('z', &deep, VAR_FLAG, "Deep flag", 1), kEnd};
  FlagSpec sub[] = {row('x', &subx, VAR_INT, "Sub x", 1),
                    row('n', nullptr, VAR_SUBMENU, "Nested", 0, 0, nullptr, 0, nested,
                        "Nested heading"),
                    kEnd};
  FlagSpec sub2[] = {row('y', &suby, VAR_DOUBLE, "Sub y"), kEnd};
  sub2[0].given = 1;
  FlagSpec table[] = {
      row('F', &on, VAR_FLAG, "Flag shown", 1),
      row('G', &off, VAR_NFLAG, "Nflag shown", 1),
      row('H', &given_flag, VAR_FLAG, "Flag given"),
      row('C', &ch, VAR_CHAR, "Char", 1),
      row('D', &none, VAR_MCHAR, "No char", 1),
      row('E', &rubout, VAR_CHAR, "Rubout", 1),
      row('I', &big, VAR_INTMK, "Big", 1),
      row('J', &neg, VAR_MINT, "Neg"),
      row('U', &ul, VAR_ULONG, "Unsigned", 1),
      row('X', &hx, VAR_MUHEX, "Hex", 1),
      row('R', &real, VAR_MDOUBLE, "Real", 1),
      row('S', &str, VAR_STRING, "Text"),
      row('T', &nostr, VAR_MSTRING, "No text", 1),
      row('A', nullptr, VAR_STRING_APPEND, "No target", 1),
      row('K', &cfg, VAR_CONFIG, "Config"),
      row('M', nullptr, VAR_COMMENT, "Comment", 1),
      row('N', &hidden, VAR_INT, nullptr, 1),
      row('Q', nullptr, 99, "Odd kind", 1),
      row('B', nullptr, VAR_SUBMENU, "Sub options", 0, 0, nullptr, 0, sub, "Submenu B heading:"),
      row('W', nullptr, VAR_SUBMENU, "Second submenu", 0, 0, nullptr, 0, sub2),
      kEnd,
  };
  for (char given : {'H', 'J', 'S', 'K'})
    for (FlagSpec *r = table; r->flag != 0; r++)
      if (r->flag == given) r->given = 1;

  captured.clear();
  EXPECT_EQ(prsetflags_gen_options(table, capture, 0), 19);
  EXPECT_EQ(captured,
            "   -F - Flag shown (default: ON)\n"
            "   -G - Nflag shown (default: OFF)\n"
            "  *-H - Flag given\n"
            "   -C<char> - Char (default: x)\n"
            "   -D<char> - No char (default: None)\n"
            "   -E<char> - Rubout (default: 7FH)\n"
            "   -I<num> - Big (default: 1,234,567)\n"
            "  *-J<num> - Neg (value: -5)\n"
            "   -U<ulnum> - Unsigned (default: 4294967295)\n"
            "   -X<hexnum> - Hex (default: FFH)\n"
            "   -R<dnum> - Real (default: 1e-10)\n"
            "  *-S=<str> - Text (value: abc)\n"
            "   -T=<str> - No text (default: NULL)\n"
            "   -A=<str> - No target (default: NULL)\n"
            "  *-K=<Cfgfilename> - Config (name: settings)\n"
            "   -M - Comment (default: )\n"
            "   -Q - Odd kind (default: ?\?\?)\n"
            "   -B<options> - Sub options\n"
            "   -W<options> - Second submenu\n"
            "* - This option was set or changed on the command line\n"
            "Submenus:\n"
            "Submenu B heading:\n"
            "   -Bx<num> - Sub x (default: 0)\n"
            "   -Bn<options> - Nested\n"
            "Submenus:\n"
            "Nested heading\n"
            "   -nz - Deep flag (default: OFF)\n"
            "  *-Wy<dnum> - Sub y (value: 0.5)\n"
            "* - This option was set or changed on the command line\n");

  captured.clear();
  EXPECT_EQ(prsetflags_gen_options(sub, capture, 'B'), 2);
  captured.clear();
  EXPECT_EQ(prsetflags_gen_options(nullptr, capture, 0), 0);
  EXPECT_EQ(captured, "No options listed.\n");
}

TEST(OptionListing, ValueTextOfCharacters) {
  char c = ' ';
  EXPECT_STREQ(getvalue(&c, VAR_CHAR, 1, 0), " (default:  )");
  c = '}';
  EXPECT_STREQ(getvalue(&c, VAR_MCHAR, 1, 0), " (default: })");
  c = '~';
  EXPECT_STREQ(getvalue(&c, VAR_CHAR, 1, 0), " (default: 7EH)");
  c = 31;
  EXPECT_STREQ(getvalue(&c, VAR_CHAR, 0, 1), " (value: 1FH)");
  c = static_cast<char>(-1);
  EXPECT_STREQ(getvalue(&c, VAR_CHAR, 0, 1), " (value: FFFFFFFFH)");
}

TEST(OptionListing, ValueTextRules) {
  int32_t one = 1;
  double half = 0.5;
  char *nothing = nullptr;
  char name[] = "opts";
  char *cfg = name;
  EXPECT_STREQ(getvalue(&half, VAR_DOUBLE, 0, 0), "");
  EXPECT_STREQ(getvalue(&one, VAR_FLAG, 0, 1), "");
  EXPECT_STREQ(getvalue(&one, VAR_FLAG, 1, 1), " (value: ON)");
  EXPECT_STREQ(getvalue(&half, VAR_DOUBLE, 0, 1), " (value: 0.5)");
  EXPECT_STREQ(getvalue(&cfg, VAR_CONFIG, 1, 0), " (default: opts)");
  EXPECT_STREQ(getvalue(&nothing, VAR_CONFIG, 0, 1), " (name: NULL)");
  EXPECT_STREQ(getvalue(&nothing, VAR_STRING_APPEND, 0, 1), " (value: NULL)");
  EXPECT_STREQ(getvalue(nullptr, VAR_SUBMENU, 0, 1), " (value: )");
  std::string long_text(700, 'L');
  char *lp = long_text.data();
  EXPECT_EQ(std::string(getvalue(&lp, VAR_STRING, 0, 1)), " (value: " + long_text + ")");
}

// ======================= Configuration files =======================

namespace {

struct CfgTable {
  int32_t f = 0, sx = 0;
  double d = 0;
  char *s = nullptr, *g = nullptr, *subg = nullptr;
  FlagSpec sub[3];
  FlagSpec table[6];
  CfgTable() {
    sub[0] = row('x', &sx, VAR_INT, "Sub number");
    sub[1] = row('g', &subg, VAR_CONFIG, "Sub configuration");
    sub[2] = kEnd;
    table[0] = row('G', &g, VAR_CONFIG, "Configuration file");
    table[1] = row('F', &f, VAR_FLAG, "Flag");
    table[2] = row('D', &d, VAR_DOUBLE, "Real", 1);
    table[3] = row('S', &s, VAR_STRING, "Text");
    table[4] = row('B', nullptr, VAR_SUBMENU, "Submenu", 0, 0, nullptr, 0, sub);
    table[5] = kEnd;
  }
  CfgTable(const CfgTable &) = delete;
};

// Parses in a child inside dir and prints what the options and string
// arguments became.
testutil::Outcome config_run(const TempDir &dir, const std::vector<std::string> &args,
                             int showlist = 0) {
  return run_child([&] {
    if (chdir(dir.path().c_str()) != 0) _exit(99);
    CfgTable t;
    char **strs = raw_parse(t.table, args, 2, showlist);
    printf("F=%d D=%g S=%s G=%s X=%d A0=%s A1=%s\n", t.f, t.d, shownull(t.s), shownull(t.g), t.sx,
           shownull(strs[0]), shownull(strs[1]));
  });
}

std::string reading(const std::string &name) {
  return "Reading the configuration file `" + name + "'\n";
}

std::string previous_call(const std::string &names) {
  return "\nPREVIOUS CALL OF CONFIGURATION FILE !\n"
         "CANNOT CALL THE SAME CONFIGURATION FILE MORE THAN ONCE.\n"
         "PREVIOUS CONFIGURATION FILES:  " +
         names + "\nIGNORING THIS CALL.\n";
}

}  // namespace

TEST(ConfigFiles, WordsOfTheFileAreParsedLikeTheCommandLine) {
  TempDir dir;
  dir.write("settings.cfg", "# options for the test\n-F -D2.5\n\n   first.txt\n");
  for (auto args : std::vector<std::vector<std::string>>{
           {"-G", "settings"}, {"-G=settings"}, {"-g==settings"}}) {
    auto o = config_run(dir, args);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, reading("settings.cfg") +
                         "F=1 D=2.5 S=NULL G=settings X=0 A0=first.txt A1=NULL\n")
        << args[0];
    EXPECT_EQ(o.err, "");
  }
}

TEST(ConfigFiles, ExtensionRule) {
  TempDir dir;
  dir.write("opts.CFG", "-F\n");
  dir.write("run.txt.cfg", "-D3\n");
  auto o = config_run(dir, {"-G=opts.CFG", "-G=run.txt"});
  EXPECT_EQ(o.out, reading("opts.CFG") + reading("run.txt.cfg") +
                       "F=1 D=3 S=NULL G=run.txt X=0 A0=NULL A1=NULL\n");
}

TEST(ConfigFiles, LineEndsDoNotMatterAndStringArgumentsJoinTheCommandLine) {
  TempDir dir;
  dir.write("two.cfg", "-S\nvalue   -F\tsecond\n");
  auto o = config_run(dir, {"first", "-G=two"});
  EXPECT_EQ(o.out, reading("two.cfg") + "F=1 D=0 S=value G=two X=0 A0=first A1=second\n");

  dir.write("many.cfg", "b c\n");
  EXPECT_FATAL(config_run(dir, {"a", "-Gmany"}),
               improper('G', "=<Cfgfilename>", "VAR_CONFIG", "Gmany", "Missing ="));
  EXPECT_FATAL(config_run(dir, {"a", "-G=many"}),
               reading("many.cfg") +
                   "\nTOO MANY STRING ARGUMENTS ON THE COMMAND-LINE !!\n  a  b  c\n");
}

TEST(ConfigFiles, ErrorsInsideAFile) {
  TempDir dir;
  dir.write("bad.cfg", "-F -Q\n");
  EXPECT_FATAL(config_run(dir, {"-G=bad"}), reading("bad.cfg") + unrecognized('Q', " IN A CONFIG FILE"));
  dir.write("badval.cfg", "; comment\n-Dx\n");
  EXPECT_FATAL(config_run(dir, {"-G=badval"}),
               reading("badval.cfg") +
                   improper('D', "<dnum>", "VAR_DOUBLE", "Dx", "Bad double format"));
}

TEST(ConfigFiles, NameMissingOrBeginningWithDash) {
  TempDir dir;
  EXPECT_FATAL(config_run(dir, {"-G"}),
               improper('G', "=<Cfgfilename>", "VAR_CONFIG", "G", "Missing ="));
  EXPECT_FATAL(config_run(dir, {"-G", "-F"}),
               improper2('G', "=<Cfgfilename>", "VAR_CONFIG", "G",
                         "String with next word beginning with -"));
}

TEST(ConfigFiles, MissingFileEndsTheRun) {
  TempDir dir;
  auto o = config_run(dir, {"-G=nothere"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, reading("nothere.cfg"));
  EXPECT_EQ(o.err, "\nCANNOT OPEN the file  `nothere.cfg'\n" + std::string(strerror(ENOENT)) +
                       "\n");
}

TEST(ConfigFiles, SameFileTwiceIsIgnoredAndTheParseGoesOn) {
  TempDir dir;
  dir.write("settings.cfg", "-D1\n");
  auto o = config_run(dir, {"-G=settings", "-G=SETTINGS.cfg", "-F"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, reading("settings.cfg") + reading("SETTINGS.cfg") +
                       previous_call("settings.cfg") +
                       "F=1 D=1 S=NULL G=SETTINGS.cfg X=0 A0=NULL A1=NULL\n");
}

TEST(ConfigFiles, FileThatNamesItselfIsReadOnce) {
  TempDir dir;
  dir.write("self.cfg", "-G=self\n-F\n");
  auto o = config_run(dir, {"-G", "self"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, reading("self.cfg") + reading("self.cfg") + previous_call("self.cfg") +
                       "F=1 D=0 S=NULL G=self X=0 A0=NULL A1=NULL\n");
}

TEST(ConfigFiles, EachParseStartsWithNoFileRead) {
  TempDir dir;
  dir.write("settings.cfg", "-F\n");
  auto o = run_child([&] {
    if (chdir(dir.path().c_str()) != 0) _exit(99);
    CfgTable t;
    raw_parse(t.table, {"-G=settings"});
    raw_parse(t.table, {"-G=settings"});
  });
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, reading("settings.cfg") + reading("settings.cfg"));
}

TEST(ConfigFiles, FileNamedInASubmenuIsReadAgainstTheSubmenu) {
  TempDir dir;
  dir.write("inner.cfg", "-x5\n");
  auto o = config_run(dir, {"-Bg=inner"});
  EXPECT_EQ(o.out, reading("inner.cfg") + "F=0 D=0 S=NULL G=NULL X=5 A0=NULL A1=NULL\n");
  dir.write("wrong.cfg", "-F\n");
  EXPECT_FATAL(config_run(dir, {"-Bg=wrong"}),
               reading("wrong.cfg") + unrecognized('F', " IN A CONFIG FILE"));
}

TEST(ConfigFiles, ListingMarksOptionsSetInAFile) {
  TempDir dir;
  dir.write("settings.cfg", "-F\n");
  auto o = config_run(dir, {"-G=settings"}, 1);
  EXPECT_EQ(o.out, reading("settings.cfg") +
                       "with command-line options:\n"
                       "  *-G=<Cfgfilename> - Configuration file (name: settings)\n"
                       "  *-F - Flag\n"
                       "   -D<dnum> - Real (default: 0)\n"
                       "   -S=<str> - Text\n"
                       "   -B<options> - Submenu\n"
                       "* - This option was set or changed on the command line\n"
                       "Submenus:\n"
                       "   -Bx<num> - Sub number\n"
                       "   -Bg=<Cfgfilename> - Sub configuration\n"
                       "F=1 D=0 S=NULL G=settings X=0 A0=NULL A1=NULL\n");
}

TEST(ConfigFiles, LongChainOfFilesAndTheWrappedListOfNames) {
  TempDir dir;
  const int n = 22;
  for (int i = 1; i <= n; i++)
    dir.write("c" + std::to_string(i) + ".cfg",
              "-G=c" + std::to_string(i == n ? 1 : i + 1) + "\n");
  auto o = config_run(dir, {"-G=c1", "-F"});
  EXPECT_EQ(o.status, 0);
  std::string expected_reads;
  for (int i = 1; i <= n; i++) expected_reads += reading("c" + std::to_string(i) + ".cfg");
  expected_reads += reading("c1.cfg");
  ASSERT_EQ(o.out.compare(0, expected_reads.size(), expected_reads), 0) << o.out;

  std::string rest = o.out.substr(expected_reads.size());
  const std::string head =
      "\nPREVIOUS CALL OF CONFIGURATION FILE !\n"
      "CANNOT CALL THE SAME CONFIGURATION FILE MORE THAN ONCE.\n"
      "PREVIOUS CONFIGURATION FILES:  ";
  ASSERT_EQ(rest.compare(0, head.size(), head), 0) << rest;
  size_t end = rest.find("IGNORING THIS CALL.\n");
  ASSERT_NE(end, std::string::npos);
  size_t title = rest.find("PREVIOUS CONFIGURATION FILES:  ");
  std::istringstream lines(rest.substr(title, end - title));
  std::string line, words;
  int count = 0;
  while (std::getline(lines, line)) {
    EXPECT_LE(line.size(), 75u) << line;
    if (count++ > 0) {
      EXPECT_EQ(line.rfind("  ", 0), 0u) << line;
    }
    words += line + " ";
  }
  EXPECT_GT(count, 1) << "the list is wrapped";
  std::istringstream ws(words.substr(31));
  std::vector<std::string> names, expected;
  for (std::string w; ws >> w;) names.push_back(w);
  for (int i = 1; i <= n; i++) expected.push_back("c" + std::to_string(i) + ".cfg");
  EXPECT_EQ(names, expected);
  EXPECT_EQ(rest.substr(end), "IGNORING THIS CALL.\nF=1 D=0 S=NULL G=c1 X=0 A0=NULL A1=NULL\n");
}
