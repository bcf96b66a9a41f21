// The option engine: every option kind, string arguments, shared letters,
// submenus, configuration files, the refusal messages and the option listing,
// with the program's own table and with general tables.
//
// Parses run in a child process, which prints the values the parse changed
// ("name=value"), then the string arguments in brackets.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "cli/driver.h"
#include "cli/setflags.h"
#include "support/helpers.h"
#include "support/showplaces.h"
#include "testutil.h"

using namespace bayescreen;
using testutil::capture;
using testutil::option_row;
using testutil::printed;
using testutil::run_child;
using testutil::TempDir;

namespace {

using Words = std::vector<std::string>;
using Dump = std::function<Words()>;

const char *const kNames[] = {
    "VAR_FLAG",   "VAR_NFLAG",  "VAR_CHAR",    "VAR_MCHAR",   "VAR_INT",           "VAR_MINT",
    "VAR_INTMK",  "VAR_MINTMK", "VAR_ULONG",   "VAR_MULONG",  "VAR_UHEX",          "VAR_MUHEX",
    "VAR_DOUBLE", "VAR_MDOUBLE", "VAR_STRING", "VAR_MSTRING", "VAR_STRING_APPEND", "VAR_COMMENT",
    "VAR_CONFIG", "VAR_SUBMENU"};
const char *const kApps[] = {"",       "",       "<char>",   "<char>",   "<num>",  "<num>",
                             "<num>",  "<num>",  "<ulnum>",  "<ulnum>",  "<hexnum>", "<hexnum>",
                             "<dnum>", "<dnum>", "=<str>",   "=<str>",   "=<str>", "",
                             "=<Cfgfilename>", "<options>"};

const std::string kUnallowed = "\nUNALLOWED COMMAND-LINE STRING ARGUMENT !!\n  word\n";
const std::string kBadReal = "Bad double format";
const std::string kNextDash = "String with next word beginning with -";

// The refusal of a value; `two` selects the layout with the reason on its own line.
std::string bad(char letter, int kind, const std::string &text, const std::string &reason,
                bool two = false) {
  return std::string("\nIMPROPER -") + letter + kApps[kind - 1] + " FORMAT (Type=" +
         kNames[kind - 1] + ", read " + text +
         (two ? ")!!\n  (" + reason + ")\n" : ")!!  (" + reason + ".)\n");
}
std::string sscanf_bad(char letter, int kind, const std::string &text, const std::string &at) {
  return "\nFAILURE in sscanf at `" + at + "' !\n" + bad(letter, kind, text, kBadReal);
}
std::string unrecognized(char letter, const std::string &where = "") {
  return std::string("\n*** UNRECOGNIZED COMMAND-LINE FLAG `") + letter + "'" + where + "!!!\n\n\n";
}
std::string too_many(const std::string &words) {
  return "\nTOO MANY STRING ARGUMENTS ON THE COMMAND-LINE !!\n" + words + "\n";
}

template <typename T>
std::string kv(const char *name, const T &value) {
  std::ostringstream o;
  o << name << '=' << value;
  return o.str();
}

// Parses args against table in a child (inside dir when given) and prints
// what the parse changed in dump(), the string arguments, and the depth of
// the program-place stack when the parse left it changed.
testutil::Outcome run_parse(FlagSpec *table, const Dump &dump, const Words &args,
                            int maxstrings = 2, int showlist = 0, const std::string &dir = "") {
  return run_child([&] {
    if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(99);
    Words before = dump(), words = args;
    words.insert(words.begin(), "prog");
    std::vector<char *> argv;
    for (auto &w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    unsigned depth = npg;
    int argc = static_cast<int>(words.size());
    char **strs = setflags(argc, argv.data(), table, maxstrings, showlist);
    Words after = dump();
    std::string s;
    for (size_t i = 0; i < after.size(); i++)
      if (after[i] != before[i]) s += after[i] + " ";
    for (; *strs != nullptr; strs++) s += std::string("[") + *strs + "] ";
    if (npg != depth) s += kv("npg", npg) + " ";
    if (!s.empty()) s.pop_back();
    fputs(s.c_str(), stdout);
  });
}

struct Case {
  Words args;
  std::string out;
  int status = 0;
  int maxstrings = 2;
};

void check(FlagSpec *table, const Dump &dump, const std::vector<Case> &cases,
           const std::string &dir = "") {
  for (const Case &c : cases) {
    std::string trace = "args:";
    for (const auto &a : c.args) trace += " `" + a + "'";
    SCOPED_TRACE(trace);
    auto o = run_parse(table, dump, c.args, c.maxstrings, 0, dir);
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.out, c.out);
    EXPECT_EQ(o.err, "");
  }
}

const Dump kNothing = [] { return Words{}; };

const FlagSpec kEnd{0, nullptr, 0, nullptr, 0, 0, nullptr, 0, nullptr, nullptr, 0};

// A table with one row of every kind. Optional kinds start with a value, so
// that a letter given without one visibly leaves it alone.
struct AllKinds {
  int32_t f = 0, q = 0, n = 5, o = 0, i = 0, j = 11, k = 0, l = 12, i_set = 0, j_set = 0;
  char c = 'c', y = 'y', abc[4] = "abc";
  uint32_t u = 0, v = 13, h = 0, w = 14;
  double d = 0, e = 9.5;
  char *s = nullptr, *t = nullptr, *a = abc, *g = nullptr, *sub_s = nullptr;
  int32_t sx = 0, sy = 0;
  FlagSpec sub[4] = {option_row('x', &sx, VAR_INT), option_row('y', &sy, VAR_FLAG), option_row('s', &sub_s, VAR_STRING),
                     kEnd};
  FlagSpec table[25] = {
      option_row('F', &f, VAR_FLAG),          option_row('Q', &q, VAR_FLAG, nullptr, 0, 7),
      option_row('N', &n, VAR_NFLAG),         option_row('O', &o, VAR_NFLAG, nullptr, 0, 3),
      option_row('C', &c, VAR_CHAR),          option_row('Y', &y, VAR_MCHAR),
      option_row('I', &i, VAR_INT, nullptr, 0, 0, &i_set, 5),
      option_row('J', &j, VAR_MINT, nullptr, 0, 0, &j_set),
      option_row('K', &k, VAR_INTMK),         option_row('L', &l, VAR_MINTMK),
      option_row('U', &u, VAR_ULONG),         option_row('V', &v, VAR_MULONG),
      option_row('H', &h, VAR_UHEX),          option_row('W', &w, VAR_MUHEX),
      option_row('D', &d, VAR_DOUBLE),        option_row('E', &e, VAR_MDOUBLE),
      option_row('S', &s, VAR_STRING),        option_row('T', &t, VAR_MSTRING),
      option_row('A', &a, VAR_STRING_APPEND), option_row('R', nullptr, VAR_COMMENT),
      option_row('G', &g, VAR_CONFIG),
      option_row('B', nullptr, VAR_SUBMENU, nullptr, 0, 0, nullptr, 0, sub),
      option_row('Z', nullptr, VAR_SUBMENU),  option_row('P', nullptr, VAR_INT),  // no submenu / no target
      kEnd};
  Words dump() const {
    return {kv("f", f), kv("q", q), kv("n", n), kv("o", o), kv("c", c), kv("y", y), kv("i", i),
            kv("j", j), kv("k", k), kv("l", l), kv("u", u), kv("v", v), kv("h", h), kv("w", w),
            kv("d", d), kv("e", e), kv("s", shownull(s)), kv("t", shownull(t)), kv("a", a),
            kv("iset", i_set), kv("jset", j_set), kv("sx", sx), kv("sy", sy),
            kv("subs", shownull(sub_s))};
  }
};

Words program_dump() {
  const Settings &s = settings;
  return {kv("P", s.pi), kv("G", s.gamma), kv("A", s.alpha), kv("N", s.nvars), kv("L", s.all_columns),
          kv("R", s.rank_all), kv("C", s.more_ranks), kv("D", s.more_posts), kv("E", s.all_by_size),
          kv("S", s.step), kv("V", s.verbose), kv("cP", s.on_command_line[PARM_PI]),
          kv("cG", s.on_command_line[PARM_GAMMA]), kv("cA", s.on_command_line[PARM_ALPHA]),
          kv("cN", s.on_command_line[PARM_NVARS])};
}

}  // namespace

// ======================= The program's own table =======================

TEST(ProgramOptions, Words) {
  std::vector<Case> cases;
  for (const char *w : {"-p0.3", "-P0.3", "-P=0.3", "-P==0.3", "--P0.3"})
    cases.push_back({{w}, "P=0.3 cP=1"});
  using SP = std::pair<const char *, const char *>;
  for (auto [w, v] : {SP{"-P1e-2", "0.01"}, {"-P-.5", "-0.5"}, {"-P1E2", "100"}, {"-P2.5.", "2.5"},
                      {"-P7", "7"}, {"-P-3", "-3"}, {"-P1.5e3", "1500"}})
    cases.push_back({{w}, std::string("P=") + v + " cP=1"});
  for (const char *text : {"P.3", "P1e+2", "P+1", "P", "P1e", "Px"})
    cases.push_back({{std::string("-") + text}, bad('P', VAR_DOUBLE, text, kBadReal), 1});
  for (auto [text, reason] :
       {SP{"N", "Expecting a digit"}, {"N-3", "Expecting a digit"}, {"N=", "Expecting a digit"},
        {"N3000000000", "Int too large"}, {"N4294967295", "Int too large"},
        {"N4294967296", "Unsigned long overflow"}, {"N5000000000", "Unsigned long overflow"},
        {"N99999999999999999999", "Unsigned long overflow"}})
    cases.push_back({{std::string("-") + text}, bad('N', VAR_INT, text, reason), 1});
  cases.insert(cases.end(), {
      {{"-P0.3G2"}, "P=0.3 G=2 cP=1 cG=1"}, {{"-P3.G2"}, "P=3 G=2 cP=1 cG=1"},
      {{"-P5..A1"}, "P=5 A=1 cP=1 cA=1"}, {{"-LRS"}, "L=1 R=1 S=1 cN=1"}, {{"--L"}, "L=1 cN=1"},
      {{"-"}, ""}, {{"-N1,000"}, "N=1000 cN=1"}, {{"-N=7"}, "N=7 cN=1"},
      {{"-N2147483647"}, "N=2147483647 cN=1"}, {{"-N3L"}, "N=3 L=1 cN=1"},
      {{"design", "-P0.1", "out"}, "P=0.1 cP=1 [design] [out]"}, {{"design"}, "[design]"}, {{}, ""},
      {{""}, "[]"},  // an empty word is a string argument
      {{"-P-x"}, sscanf_bad('P', VAR_DOUBLE, "P-x", "-x"), 1},
      {{"-G2", "-p-"}, sscanf_bad('P', VAR_DOUBLE, "p-", "-"), 1}, {{"-N3x"}, unrecognized('X'), 1},
      {{"design", "-Z"}, unrecognized('Z'), 1}, {{"-Lq"}, unrecognized('Q'), 1},
      {{"-1"}, unrecognized('1'), 1}, {{"a", "-L", "b", "c"}, too_many("  a  b  c"), 1},
      {{"design", "out", "extra", "more"}, too_many("  design  out  extra"), 1},
  });
  check(ss, program_dump, cases);
}

TEST(ProgramOptions, Listing) {
  const char *const lines[] = {
      "   -P<dnum> - Prior proportion of active factors (default: 0.25)",
      "   -G<dnum> - Prior StdDev ratio Active factors/Model error (default: 2.5)",
      "   -A<dnum> - Effects active only if Pval less than this (default: 2)",
      "   -N<num> - Submodels of first N variables (Max: Number of columns)",
      "   -L - Submodels of ALL column variables",
      "   -R - List all models in best-fit lists",
      "   -C - More sorts in model lists (Default: Fstat BPostProb only)",
      "   -D - More post.prob. lists (Default: Fstat Likelihood BPostProb only)",
      "   -E - Within-size sorts for all model sorts (Default: First only)",
      "   -S - Step through model results",
      "   -V - Verbose output",
  };
  const std::string n_line = "  *-N<num> - Submodels of first N variables (Max: Number of columns)";
  const std::pair<Words, std::vector<std::pair<int, std::string>>> cases[] = {
      {{}, {}},
      {{"-P0.1"}, {{0, "  *-P<dnum> - Prior proportion of active factors (value: 0.1)"}}},
      {{"-L"}, {{4, "  *-L - Submodels of ALL column variables"}}},
      {{"-N3"}, {{3, n_line + " (value: 3)"}}},
      {{"-N1,000"}, {{3, n_line + " (value: 1000)"}}},
      {{"-N10,000", "-G3"},
       {{1, "  *-G<dnum> - Prior StdDev ratio Active factors/Model error (value: 3)"},
        {3, n_line + " (value: 10,000)"}}},
  };
  for (const auto &[args, changes] : cases) {
    SCOPED_TRACE(args.empty() ? "" : args.back());
    std::vector<std::string> expected(std::begin(lines), std::end(lines));
    for (const auto &[at, text] : changes) expected[static_cast<size_t>(at)] = text;
    std::string text = "with command-line options:\n";
    for (const auto &l : expected) text += l + "\n";
    if (!changes.empty()) text += "* - This option was set or changed on the command line\n";
    auto o = run_parse(ss, kNothing, args, 2, 1);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, text);
    EXPECT_EQ(o.err, "");
  }
}

// ======================= Every option kind, general tables =======================

TEST(OptionKinds, EveryKindAndItsRefusals) {
  AllKinds t;
  const std::string digit = "Expecting a digit", big = "Int too large";
  check(t.table, [&] { return t.dump(); }, {
      {{"-F", "-QNO"}, "f=1 q=7 n=0 o=3"}, {{"-CxF"}, "f=1 c=x"}, {{"-C="}, "c=="},
      {{"-Y", "-Q"}, "q=7"}, {{"-YF"}, "y=F"},
      {{"-C"}, bad('C', VAR_CHAR, "C", "Expecting a character"), 1},
      {{"-Fc"}, bad('C', VAR_CHAR, "c", "Expecting a character"), 1},
      // Optional numbers without a value leave the rest of the word to other
      // letters; the set-indicator is written all the same.
      {{"-JF"}, "f=1 jset=1"}, {{"-J==Q"}, "q=7 jset=1"},
      {{"-LVWF"}, "w=15"},  // F is a hex digit
      {{"-L", "-V", "-W", "-J"}, "jset=1"},
      {{"-J5", "-L6", "-V7", "-W8"}, "j=5 l=6 v=7 w=8 jset=1"},
      {{"-I1,234,567", "-K3k", "-L2M"}, "i=1234567 k=3000 l=2000000 iset=5"},
      {{"-K1,5KF"}, "f=1 k=15000"}, {{"-K2147483k"}, "k=2147483000"},
      {{"-K5000000k"}, bad('K', VAR_INTMK, "K5000000k", "Int too large after using MK"), 1},
      {{"-K3000000k"}, bad('K', VAR_INTMK, "K3000000k", big), 1},
      {{"-L5000m"}, bad('L', VAR_MINTMK, "L5000m", "Int too large after using MK"), 1},
      {{"-I3k"}, bad('K', VAR_INTMK, "k", digit), 1},  // a plain int takes no multiplier
      {{"-J2147483648"}, bad('J', VAR_MINT, "J2147483648", big), 1},
      {{"-U4294967295", "-V3,000,000,000"}, "u=4294967295 v=3000000000"},
      {{"-U4294967296"}, bad('U', VAR_ULONG, "U4294967296", "Unsigned long overflow"), 1},
      {{"-U"}, bad('U', VAR_ULONG, "U", digit), 1}, {{"-Hff"}, "h=255"}, {{"-H=1,F"}, "h=31"},
      {{"-HFFFFFFFF"}, "h=4294967295"}, {{"-H10Q"}, "q=7 h=16"},
      {{"-H100000000"}, bad('H', VAR_UHEX, "H100000000", "Unsigned long hex overflow"), 1},
      {{"-Hg"}, bad('H', VAR_UHEX, "Hg", "Expecting a hex digit"), 1},
      {{"-H0x1F"}, unrecognized('X'), 1},  // no 0x prefix
      {{"-D2.5", "-E=-1e-3"}, "d=2.5 e=-0.001"}, {{"-EF"}, "f=1"},
      {{"-E=F"}, unrecognized('='), 1},  // skipped "=" are option letters again
      {{"-E.5"}, unrecognized('.'), 1}, {{"-E-"}, sscanf_bad('E', VAR_MDOUBLE, "E-", "-"), 1},
      {{"-E-.e"}, sscanf_bad('E', VAR_MDOUBLE, "E-.e", "-.e"), 1},
      {{"-D"}, bad('D', VAR_DOUBLE, "D", kBadReal), 1},
      {{"-S", "value", "design"}, "s=value [design]"},
      {{"-S=", "-FS==abc=F"}, "f=1 s=abc=F"},  // the rest of the word is the value
      {{"-S="}, "s="},
      {{"-S", "=x"}, "s==x"},  // a next word is taken as it is
      {{"-F", "value"}, "f=1 [value]"},
      {{"-S", "-F"}, bad('S', VAR_STRING, "S", kNextDash, true), 1},
      {{"-SF"}, bad('S', VAR_STRING, "SF", "Missing ="), 1},
      {{"design", "-S"}, bad('S', VAR_STRING, "S", "Missing ="), 1}, {{"-TF"}, "f=1"}, {{"-T"}, ""},
      {{"-T", "word"}, "t=word"}, {{"-T=x y"}, "t=x y"},
      {{"-T", "-F"}, bad('T', VAR_MSTRING, "T", kNextDash, true), 1},
      {{"-A=def", "-A", "gh"}, "a=abcdefgh"},
      {{"-AF"}, bad('A', VAR_STRING_APPEND, "AF", "Missing ="), 1},
      {{"-RF"}, "f=1"},  // a comment and a row without target take only the letter
      {{"-PQ"}, "q=7"}, {{"-P5"}, unrecognized('5'), 1}, {{"-Bx5y"}, "sx=5 sy=1"},
      {{"-bs", "word", "design"}, "subs=word [design]"},
      {{"-Zanything-at-all"}, ""},  // no submenu table: the word is consumed
      {{"-B"}, bad('B', VAR_SUBMENU, "B", "Expecting at least one submenu option", true), 1},
      {{"-FbY"}, "\nIMPROPER -B<options> FORMAT (Type=VAR_SUBMENU, read -FbY)!!\n"
                 "  SUBMENU OPTIONS must be first in an argument string\n", 1},
      {{"-byF"}, unrecognized('F', " IN SUBMENU `B' "), 1},
      {{"-Bxq"}, bad('X', VAR_INT, "xq", digit), 1}, {{"-F", "word"}, kUnallowed, 1, 0},
      {{"word"}, kUnallowed, 1, -1}, {{"a", "-F", "b"}, too_many("  a  b"), 1, 1},
  });
  int32_t x = 0;
  FlagSpec odd[] = {option_row('K', &x, 42), option_row('M', nullptr, 42), kEnd};
  check(odd, kNothing,
        {{{"-k"}, "*** INTERNAL ERROR (SETFLAGS)\n   Unknown var type `42' (flag `K') !\n", 1},
         {{"-M"}, ""}});
  check(nullptr, kNothing, {{{"design"}, "[design]"}, {{"-F"}, unrecognized('F'), 1}});
  for (int code = 1; code <= 20; code++) {
    EXPECT_STREQ(Vartype_Name(code), kNames[code - 1]) << code;
    EXPECT_STREQ(getapp(code), kApps[code - 1]) << code;
  }
  for (int code : {0, 21, -1}) {
    EXPECT_STREQ(Vartype_Name(code), "?????");
    EXPECT_STREQ(getapp(code), "");
  }
  // Marks of letters given are cleared in the main table only.
  char *words[] = {const_cast<char *>("prog"), const_cast<char *>("-F"),
                   const_cast<char *>("-Bx1"), nullptr};
  setflags(3, words, t.table, 2, 0);
  EXPECT_EQ(t.table[0].given + t.table[21].given + t.sub[0].given, 3);
  setflags(1, words, t.table, 2, 0);
  EXPECT_EQ(t.table[0].given + t.table[21].given, 0);
  EXPECT_EQ(t.sub[0].given, 1);
}

// ======================= Shared letters and duplicate letters =======================

TEST(SharedLetters, AdjacentRowsAreBothAppliedNonAdjacentOnesRefused) {
  int32_t xi = 0, xf = 0, yf = 0, set1 = 0, set2 = 0;
  double yd = 0;
  FlagSpec table[] = {option_row('X', &xi, VAR_INT, nullptr, 0, 0, &set1),
                      option_row('x', &xf, VAR_FLAG, nullptr, 0, 0, &set2, 4), option_row('Y', &yf, VAR_FLAG),
                      option_row('Y', &yd, VAR_DOUBLE), kEnd};
  auto dump = [&] {
    std::string given;
    for (int r = 0; r < 4; r++) given += std::to_string(table[r].given);
    return Words{kv("xi", xi), kv("xf", xf), kv("yf", yf), kv("yd", yd), kv("set1", set1),
                 kv("set2", set2), kv("given", given)};
  };
  check(table, dump, {{{"-x12Y2.5"}, "xi=12 xf=1 yf=1 yd=2.5 set1=1 set2=4 given=1111"}});

  // Flag rows with the given letters and descriptions; the last row holds `sub`.
  auto flags = [](const char *letters, std::vector<const char *> descs, FlagSpec *sub = nullptr) {
    std::vector<FlagSpec> rows;
    for (size_t r = 0; letters[r] != 0; r++)
      rows.push_back(option_row(letters[r], nullptr, VAR_FLAG, descs[r]));
    rows.back().submenu = sub;
    rows.push_back(kEnd);
    return rows;
  };
  auto dup = [](const char *where, const std::string &tag, const std::string &first,
                const std::string &second) {
    return std::string("\n*** ERROR !!! Two non-adjacent command-line options") + where +
           "\n  with the same option tag !\n  -" + tag + ". (Opt #" + first + "\n  -" + tag +
           ". (Opt #" + second + "\n";
  };
  std::vector<const char *> descs(9, "desc");
  descs.push_back(nullptr);
  auto xyx = flags("XYx", {"First X", "Why", "Second x"});
  auto ttt = flags("TTT", {"one", "two", "three"}), ten = flags("QaBCDEFGHA", descs);
  auto nested = flags("zwZ", {"z one", "w", "z two"}), sub = flags("qn", {"q", "N"}, nested.data());
  auto outer = flags("Fb", {"F", "Sub"}, sub.data());
  // The check follows a submenu table in any row that has one.
  auto rsr = flags("rsR", {"r one", "s", nullptr}), host = flags("K", {"Int"}, rsr.data());
  auto loop = flags("m", {"Loop"});
  loop[0].submenu = loop.data();
  // Chains of submenus: 21 levels are accepted, 22 are not.
  int32_t deep = 0;
  std::vector<std::vector<FlagSpec>> chain(23);
  chain[22] = {option_row('z', &deep, VAR_FLAG), kEnd};
  for (size_t i = 22; i-- > 0;)
    chain[i] = {option_row('m', nullptr, VAR_SUBMENU, "", 0, 0, nullptr, 0, chain[i + 1].data()), kEnd};
  const std::string recursion =
      "\n*** RECURSION ERROR IN Check_Dupflags!\n  More than 20 deep:  Prefix: " +
      std::string(21, 'M') + "\n";
  const std::tuple<FlagSpec *, Words, std::string> cases[] = {
      {xyx.data(), {}, dup("", "X", "1) First X", "3) Second x")},
      {xyx.data(), {"-Y", "design"}, dup("", "X", "1) First X", "3) Second x")},
      {ttt.data(), {}, dup("", "T", "1) one", "3) three")},
      {ten.data(), {}, dup("", "a", " 2) desc", "10) NULL")},
      {outer.data(), {}, dup(" in a submenu", "BNz", "1) z one", "3) z two")},
      {host.data(), {}, dup(" in a submenu", "Kr", "1) r one", "3) NULL")},
      {loop.data(), {}, recursion},
      {chain[0].data(), {}, recursion},
  };
  for (const auto &[flag_table, args, out] : cases) {
    SCOPED_TRACE(out);
    auto o = run_parse(flag_table, kNothing, args);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, out);
  }
  check(chain[1].data(), [&] { return Words{kv("deep", deep)}; },
        {{{"-" + std::string(21, 'm') + "z"}, "deep=1"}});
}

// ======================= The listing of a general table =======================

TEST(OptionListing, EveryKindShowsItsValue) {
  int32_t on = 1, off = 0, big = 1234567, neg = -5, subx = 0, deep = 0, hidden = 3;
  char ch = 'x', none = 0, rubout = 127, sp = ' ', brace = '}', tilde = '~', c31 = 31;
  char cneg = static_cast<char>(-1), cfgname[] = "settings";
  uint32_t ul = 4294967295u, hx = 255;
  double real = 1e-10, suby = 0.5;
  std::string long_text(700, 'L');
  char *str = long_text.data(), *nostr = nullptr, *cfg = cfgname;
  FlagSpec nested[] = {option_row('z', &deep, VAR_FLAG, "Deep flag", 1), kEnd};
  FlagSpec sub[] = {option_row('x', &subx, VAR_INT, "Sub x", 1),
                    option_row('n', nullptr, VAR_SUBMENU, "Nested", 0, 0, nullptr, 0, nested,
                        "Nested heading"),
                    kEnd};
  FlagSpec sub2[] = {option_row('y', &suby, VAR_DOUBLE, "Sub y"), kEnd};
  sub2[0].given = 1;
  FlagSpec table[] = {
      option_row('F', &on, VAR_FLAG, "Flag shown", 1),       option_row('G', &off, VAR_NFLAG, "Nflag shown", 1),
      option_row('H', &on, VAR_FLAG, "Flag given"),          option_row('h', &on, VAR_FLAG, "Given, shown", 1),
      option_row('C', &ch, VAR_CHAR, "Char", 1),             option_row('D', &none, VAR_MCHAR, "No char", 1),
      option_row('E', &rubout, VAR_CHAR, "Rubout", 1),       option_row('1', &sp, VAR_CHAR, "Space", 1),
      option_row('2', &brace, VAR_MCHAR, "Brace", 1),        option_row('3', &tilde, VAR_CHAR, "Tilde", 1),
      option_row('4', &c31, VAR_CHAR, "Code 31"),            option_row('5', &cneg, VAR_CHAR, "Code -1"),
      option_row('I', &big, VAR_INTMK, "Big", 1),            option_row('J', &neg, VAR_MINT, "Neg"),
      option_row('U', &ul, VAR_ULONG, "Unsigned", 1),        option_row('X', &hx, VAR_MUHEX, "Hex", 1),
      option_row('R', &real, VAR_MDOUBLE, "Real", 1),        option_row('S', &str, VAR_STRING, "Text"),
      option_row('T', &nostr, VAR_MSTRING, "No text", 1),    option_row('t', &nostr, VAR_STRING_APPEND, "None"),
      option_row('A', nullptr, VAR_STRING_APPEND, "No target", 1),
      option_row('K', &cfg, VAR_CONFIG, "Config"),           option_row('k', &cfg, VAR_CONFIG, "Default", 1),
      option_row('L', &nostr, VAR_CONFIG, "No name"),        option_row('M', nullptr, VAR_COMMENT, "Comment", 1),
      option_row('N', &hidden, VAR_INT, nullptr, 1),         option_row('Q', nullptr, 99, "Odd kind", 1),
      option_row('B', nullptr, VAR_SUBMENU, "Sub options", 0, 0, nullptr, 0, sub, "Submenu B heading:"),
      option_row('W', nullptr, VAR_SUBMENU, "Second submenu", 0, 0, nullptr, 0, sub2),
      kEnd,
  };
  for (FlagSpec *r = table; r->flag != 0; r++) r->given = strchr("Hh45JStKLW", r->flag) != nullptr;
  printed.clear();
  EXPECT_EQ(prsetflags_gen_options(table, capture, 0), 28);
  EXPECT_EQ(printed,
            "   -F - Flag shown (default: ON)\n"
            "   -G - Nflag shown (default: OFF)\n"
            "  *-H - Flag given\n"
            "  *-h - Given, shown (value: ON)\n"
            "   -C<char> - Char (default: x)\n"
            "   -D<char> - No char (default: None)\n"
            "   -E<char> - Rubout (default: 7FH)\n"
            "   -1<char> - Space (default:  )\n"
            "   -2<char> - Brace (default: })\n"
            "   -3<char> - Tilde (default: 7EH)\n"
            "  *-4<char> - Code 31 (value: 1FH)\n"
            "  *-5<char> - Code -1 (value: FFFFFFFFH)\n"
            "   -I<num> - Big (default: 1,234,567)\n"
            "  *-J<num> - Neg (value: -5)\n"
            "   -U<ulnum> - Unsigned (default: 4294967295)\n"
            "   -X<hexnum> - Hex (default: FFH)\n"
            "   -R<dnum> - Real (default: 1e-10)\n"
            "  *-S=<str> - Text (value: " + long_text + ")\n"
            "   -T=<str> - No text (default: NULL)\n"
            "  *-t=<str> - None (value: NULL)\n"
            "   -A=<str> - No target (default: NULL)\n"
            "  *-K=<Cfgfilename> - Config (name: settings)\n"
            "   -k=<Cfgfilename> - Default (default: settings)\n"
            "  *-L=<Cfgfilename> - No name (name: NULL)\n"
            "   -M - Comment (default: )\n"
            "   -Q - Odd kind (default: ?\?\?)\n"
            "   -B<options> - Sub options\n"
            "  *-W<options> - Second submenu (value: )\n"
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
  EXPECT_EQ(prsetflags_gen_options(sub, capture, 'B'), 2);
  printed.clear();
  EXPECT_EQ(prsetflags_gen_options(nullptr, capture, 0), 0);
  EXPECT_EQ(printed, "No options listed.\n");
  FlagSpec empty[] = {kEnd};
  EXPECT_EQ(run_parse(empty, kNothing, {}, 2, 1).out,
            "with command-line options:\nNo options listed.\n");
  EXPECT_EQ(run_parse(nullptr, kNothing, {"design"}, 2, 1).out, "[design]") << "no listing";
  EXPECT_EQ(getvalue(&real, VAR_DOUBLE, 0, 0), std::string()) << "neither given nor shown";
}

// ======================= Configuration files =======================

namespace {

struct CfgTable {
  int32_t f = 0, sx = 0;
  double d = 0;
  char *s = nullptr, *g = nullptr, *subg = nullptr;
  FlagSpec sub[3] = {option_row('x', &sx, VAR_INT, "Sub number"),
                     option_row('g', &subg, VAR_CONFIG, "Sub configuration"), kEnd};
  FlagSpec table[6] = {option_row('G', &g, VAR_CONFIG, "Configuration file"),
                       option_row('F', &f, VAR_FLAG, "Flag"), option_row('D', &d, VAR_DOUBLE, "Real", 1),
                       option_row('S', &s, VAR_STRING, "Text"),
                       option_row('B', nullptr, VAR_SUBMENU, "Submenu", 0, 0, nullptr, 0, sub), kEnd};
  Words dump() const {
    return {kv("f", f), kv("d", d), kv("s", shownull(s)), kv("g", shownull(g)), kv("x", sx)};
  }
};

std::string reading(const std::string &name) {
  return "Reading the configuration file `" + name + "'\n";
}

std::string previous_call(const std::string &names) {
  return "\nPREVIOUS CALL OF CONFIGURATION FILE !\n"
         "CANNOT CALL THE SAME CONFIGURATION FILE MORE THAN ONCE.\n"
         "PREVIOUS CONFIGURATION FILES:  " + names + "\nIGNORING THIS CALL.\n";
}

}  // namespace

TEST(ConfigFiles, WordsOfAFileAreParsedLikeTheCommandLine) {
  TempDir dir;
  dir.write("settings.cfg", "# options for the test\n-F -D2.5\n\n   first.txt\n");
  dir.write("opts.CFG", "-F\n");
  dir.write("run.txt.cfg", "-D3\n");
  dir.write("two.cfg", "-S\nvalue   -F\tsecond\n");  // line ends do not matter
  dir.write("many.cfg", "b c\n");
  dir.write("bad.cfg", "-F -Q\n");
  dir.write("badval.cfg", "; comment\n-Dx\n");
  dir.write("self.cfg", "-G=self\n-F\n");
  dir.write("inner.cfg", "-x5\n");
  std::string chain;  // c1 .. c22, each naming the next, the last naming c1
  for (int i = 1; i <= 22; i++) {
    dir.write("c" + std::to_string(i) + ".cfg", "-G=c" + std::to_string(i == 22 ? 1 : i + 1));
    chain += reading("c" + std::to_string(i) + ".cfg");
  }
  const std::string names =
      "c1.cfg  c2.cfg  c3.cfg  c4.cfg  c5.cfg\n"
      "  c6.cfg  c7.cfg  c8.cfg  c9.cfg  c10.cfg  c11.cfg  c12.cfg  c13.cfg\n"
      "  c14.cfg  c15.cfg  c16.cfg  c17.cfg  c18.cfg  c19.cfg  c20.cfg  c21.cfg\n"
      "  c22.cfg";
  const std::string settings = reading("settings.cfg") + "f=1 d=2.5 g=settings [first.txt]";
  CfgTable t;
  check(t.table, [&] { return t.dump(); }, {
      {{"-G", "settings"}, settings},
      {{"-G=settings"}, settings},
      {{"-g==settings"}, settings},
      {{"-G=opts.CFG", "-G=run.txt"},
       reading("opts.CFG") + reading("run.txt.cfg") + "f=1 d=3 g=run.txt"},
      {{"first", "-G=two"}, reading("two.cfg") + "f=1 s=value g=two [first] [second]"},
      {{"a", "-Gmany"}, bad('G', VAR_CONFIG, "Gmany", "Missing ="), 1},
      {{"a", "-G=many"}, reading("many.cfg") + too_many("  a  b  c"), 1},
      {{"-G=bad"}, reading("bad.cfg") + unrecognized('Q', " IN A CONFIG FILE"), 1},
      {{"-G=badval"}, reading("badval.cfg") + bad('D', VAR_DOUBLE, "Dx", kBadReal), 1},
      {{"-G"}, bad('G', VAR_CONFIG, "G", "Missing ="), 1},
      {{"-G", "-F"}, bad('G', VAR_CONFIG, "G", kNextDash, true), 1},
      // The same file twice is ignored, and so is a file that names itself.
      {{"-G=settings", "-G=SETTINGS.cfg", "-F"},
       reading("settings.cfg") + reading("SETTINGS.cfg") + previous_call("settings.cfg") +
           "f=1 d=2.5 g=SETTINGS.cfg [first.txt]"},
      {{"-G", "self"},
       reading("self.cfg") + reading("self.cfg") + previous_call("self.cfg") + "f=1 g=self"},
      {{"-G=c1", "-F"}, chain + reading("c1.cfg") + previous_call(names) + "f=1 g=c1"},
      // A file named in a submenu is read against the submenu.
      {{"-Bg=inner"}, reading("inner.cfg") + "x=5"},
      {{"-Bg=bad"}, reading("bad.cfg") + unrecognized('F', " IN A CONFIG FILE"), 1},
  }, dir.path());

  auto o = run_parse(t.table, kNothing, {"-G=nothere"}, 2, 0, dir.path());
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, reading("nothere.cfg"));
  EXPECT_EQ(o.err, "\nCANNOT OPEN the file  `nothere.cfg'\n" + std::string(strerror(ENOENT)) +
                       "\n");

  o = run_parse(t.table, kNothing, {"-G=settings"}, 2, 1, dir.path());
  EXPECT_EQ(o.out, reading("settings.cfg") +
                       "with command-line options:\n"
                       "  *-G=<Cfgfilename> - Configuration file (name: settings)\n"
                       "  *-F - Flag\n"
                       "  *-D<dnum> - Real (value: 2.5)\n"
                       "   -S=<str> - Text\n"
                       "   -B<options> - Submenu\n"
                       "* - This option was set or changed on the command line\n"
                       "Submenus:\n"
                       "   -Bx<num> - Sub number\n"
                       "   -Bg=<Cfgfilename> - Sub configuration\n"
                       "[first.txt]");

  // Each parse starts with no file read.
  o = run_child([&] {
    if (chdir(dir.path().c_str()) != 0) _exit(99);
    char *words[] = {const_cast<char *>("prog"), const_cast<char *>("-G=run.txt"), nullptr};
    setflags(2, words, t.table, 2, 0);
    setflags(2, words, t.table, 2, 0);
  });
  EXPECT_EQ(o.out, reading("run.txt.cfg") + reading("run.txt.cfg"));
}

// The string arguments fill an array sized for the limit, whatever the
// limit; one word past it is still stored for the refusal message.
TEST(StringArguments, AnyLimitHoldsItsWordsAndOneMore) {
  const Words words = {"a", "b", "c", "d", "e", "f", "g", "h", "i"};
  for (int limit : {3, 5, 8}) {
    SCOPED_TRACE("limit " + std::to_string(limit));
    const Words fitting(words.begin(), words.begin() + limit);
    std::string stored, listed;
    for (const auto &w : fitting) stored += "[" + w + "] ";
    stored.pop_back();
    for (int k = 0; k <= limit; k++) listed += "  " + words[static_cast<size_t>(k)];
    check(nullptr, kNothing,
          {{fitting, stored, 0, limit},
           {Words(words.begin(), words.begin() + limit + 1), too_many(listed), 1, limit}});
  }
}

// The trace of the engine: a line for every word, every letter and what it
// consumed, the string arguments, submenus, configuration files and the
// listing. Addresses vary from run to run and are shown as <address>.
TEST(OptionTrace, EveryStepOfAParse) {
  AllKinds t;
  TempDir dir;
  dir.write("tr.cfg", "-F\n");
  FlagSpec table[] = {t.table[0], t.table[14], t.table[16], t.table[17], t.table[20],
                      t.table[21], kEnd};
  table[3].descript = "Optional text";
  table[5].descript = "Submenu";
  auto o = run_child([&] {
    if (chdir(dir.path().c_str()) != 0) _exit(99);
    set_stflags_verbose(1);
    char *words[] = {const_cast<char *>("prog"),  const_cast<char *>("design"),
                     const_cast<char *>("-FD2.5"), const_cast<char *>("-S=abc"),
                     const_cast<char *>("-TF"),    const_cast<char *>("-Bx5y"),
                     const_cast<char *>("-G=tr"),  nullptr};
    setflags(7, words, table, 2, 1);
  });
  const std::string out = std::regex_replace(o.out, std::regex("(0x)?[0-9a-fA-F]{6,}H"),
                                             "<address>H");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(out,
            "QQQ: Setflags: Main Entry\n"
            "QQQ: ParseWord=design\n"
            "QQQ: Parse_word: Arg #1: INSTRING STORED `design'\n"
            "QQQ: ParseWord=-FD2.5\n"
            "QQQ: Do_var: FD2.5  Vartype=VAR_FLAG\n"
            "QQQ: Parseword now: D2.5\n"
            "QQQ: Do_var: D2.5  Vartype=VAR_DOUBLE\n"
            "QQQ: END of parseword\n"
            "QQQ: ParseWord=-S=abc\n"
            "QQQ: Do_var: S=abc  Vartype=VAR_STRING\n"
            "QQQ: New String: `abc' at <address>H\n"
            "QQQ: Parseword now: NULL\n"
            "QQQ: ParseWord=-TF\n"
            "QQQ: Do_var: TF  Vartype=VAR_MSTRING\n"
            "QQQ: VAR_MSTRING with no string\n"
            "QQQ: Parseword now: F\n"
            "QQQ: Do_var: F  Vartype=VAR_FLAG\n"
            "QQQ: END of parseword\n"
            "QQQ: ParseWord=-Bx5y\n"
            "QQQ: Do_var: Bx5y  Vartype=VAR_SUBMENU\n"
            "SETFLAGS VAR_SUBMENU: Submenu=<address>H  Descript=`NULL'\n"
            "QQQ: Setflags_Specmenu: (-B)`x5y' Menu=<address>H\n"
            "QQQ: ParseWord=-x5y\n"
            "QQQ: Do_var: x5y  Vartype=VAR_INT\n"
            "QQQ: Parseword now: y\n"
            "QQQ: Do_var: y  Vartype=VAR_FLAG\n"
            "QQQ: END of parseword\n"
            "QQQ: Parseword now: NULL\n"
            "QQQ: ParseWord=-G=tr\n"
            "QQQ: Do_var: G=tr  Vartype=VAR_CONFIG\n"
            "Reading the configuration file `tr.cfg'\n"
            "QQQ: ParseWord=-F\n"
            "QQQ: Do_var: F  Vartype=VAR_FLAG\n"
            "QQQ: END of parseword\n"
            "Closing the configuration file `tr.cfg'\n"
            "QQQ: VAR_CONFIG: Done with config file, returning NULL in dovar()\n"
            "QQQ: Parseword now: NULL\n"
            "QQQ: SETFLAGS: END OF main setflags() loop.\n"
            "with command-line options:\n"
            "QQQ: Setflags_Options for main menu\n"
            "  *-T=<str> - Optional text (value: NULL)\n"
            "  *-B<options> - Submenu (value: )\n"
            "* - This option was set or changed on the command line\n"
            "Submenus:\n"
            "QQQ: Setflags_Options for submenu `B'=42H\n");
}
