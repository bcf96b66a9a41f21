// Whole runs of the program on tables (.csv, .tsv): the coding table before
// the analysis, the refusals (status 1, nothing written), the table options
// refused for design files, a design file named .csv keeping its meaning,
// and the effect table of --effects.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "testutil.h"

using testutil::contains;
using testutil::run_program;
using testutil::TempDir;

namespace {

// A 2^3 factorial in natural units, written as a spreadsheet writes it: a
// byte-order mark, a quoted name with a comma, CR LF line ends. y = 60 +
// 10 (Temp high) + 4 (Catalyst new) + noise.
const char *const kTable =
    "\xEF\xBB\xBF\"Temp, C\",Catalyst,Time,Yield\r\n"
    "150,old,10,51.0\r\n"
    "180,old,10,70.5\r\n"
    "150,new,10,58.5\r\n"
    "180,new,10,79.0\r\n"
    "150,old,20,50.5\r\n"
    "180,old,20,71.0\r\n"
    "150,new,20,59.5\r\n"
    "180,new,20,78.5\r\n";

// The same design as a design file with labels (Temp low = -1, Catalyst
// old = -1, Time 10 = -1).
const char *const kDesignFile =
    "The same runs\nNrows=8 Ncols=3\nLabels A=Temp B=Catalyst C=Time\nData\n"
    "1 -1 -1 -1 51.0\n2 1 -1 -1 70.5\n3 -1 1 -1 58.5\n4 1 1 -1 79.0\n"
    "5 -1 -1 1 50.5\n6 1 -1 1 71.0\n7 -1 1 1 59.5\n8 1 1 1 78.5\n";

// The lines of the report from the first line holding `from` up to (not
// including) the first line after it holding `to`.
std::string section(const std::string &text, const std::string &from, const std::string &to) {
  const size_t begin = text.find(from);
  if (begin == std::string::npos) return "";
  const size_t end = text.find(to, begin + from.size());
  return text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

TEST(TableRuns, CodingTableAndTheSameAnalysisAsTheDesignFile) {
  TempDir dir;
  dir.write("t.csv", kTable);
  dir.write("d.txt", kDesignFile);
  const testutil::Outcome table = run_program({"t.csv"}, dir.path());
  const testutil::Outcome design = run_program({"d.txt"}, dir.path());
  ASSERT_EQ(table.status, 0) << table.out;
  ASSERT_EQ(design.status, 0) << design.out;
  EXPECT_TRUE(contains(table.out, "TABLE in t.csv: 8 runs, 3 factor columns, response Yield\n"));
  EXPECT_TRUE(contains(table.out,
                       "  Letter  Factor    -1   +1   0 (centre)\n"
                       "  A       Temp, C   150  180  \n"
                       "  B       Catalyst  old  new  \n"
                       "  C       Time      10   20   \n"))
      << table.out;
  // From the model list on, the two reports are the same.
  const std::string from = "All models sorted together by Fstat";
  EXPECT_EQ(section(table.out, from, "Closing the log"), section(design.out, from, "Closing the log"));
  EXPECT_TRUE(contains(testutil::read_file(dir.file("t.csv.out.txt")), "  A       Temp, C   150  180"));
}

TEST(TableRuns, RefusalsWriteNothing) {
  struct Case {
    const char *name, *text;
    std::vector<std::string> options;
    const char *message;
  } cases[] = {
      {"one level", "A,B,y\n1,5,3\n1,6,4\n1,5,5\n1,6,7\n", {}, "line 2, column `A'"},
      {"bad response", "A,y\n1,3\n2,x\n", {}, "line 3, column `y': `x' is not a finite number"},
      {"short row", "A,B,y\n1,2,3\n1,2\n", {}, "line 3"},
      {"unknown response", "A,y\n1,3\n2,4\n", {"--response=z"}, "no column is named `z'"},
      {"response also a factor", "A,y\n1,3\n2,4\n", {"--factors=y"}, "as the response and as a factor"},
      {"bad coding", "A,y\n1,3\n2,4\n", {"--coding=A"}, "BAD CODING `A'"},
      {"coding of no level", "A,y\nlo,3\nhi,4\n", {"--coding=A:lo/mid"}, "no row holds"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("t.csv", c.text);
    std::vector<std::string> args{"t.csv", "--json", "--csv-files"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const testutil::Outcome run = run_program(args, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(contains(run.out, c.message)) << run.out;
    if (!contains(c.message, "CODING")) {
      EXPECT_TRUE(contains(run.out, "BAD TABLE `t.csv'")) << run.out;
    }
    size_t files = 0;
    for (const auto &entry : std::filesystem::directory_iterator(dir.path())) files += entry.exists();
    EXPECT_EQ(files, 1u) << "only the table itself";
  }
}

TEST(TableRuns, TableOptionsNeedATableAndOldDesignFilesKeepTheirMeaning) {
  TempDir dir;
  dir.write("d.txt", kDesignFile);
  const testutil::Outcome refused = run_program({"d.txt", "--response=y"}, dir.path());
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(contains(refused.out, "only a table")) << refused.out;
  // A missing table is reported as a missing file, not as a table option
  // without a table.
  const testutil::Outcome missing = run_program({"missing.csv", "--response=y"}, dir.path());
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(contains(missing.out + missing.err, "CANNOT OPEN the file  `missing.csv'")) << missing.out;
  // A design file named .csv (its second line holds Nrows=) is read as one.
  dir.write("old.CSV", kDesignFile);
  const testutil::Outcome old = run_program({"old.CSV"}, dir.path());
  EXPECT_EQ(old.status, 0) << old.out;
  EXPECT_TRUE(contains(old.out, "HEADING LINE in old.CSV:\n  The same runs\n")) << old.out;
}

TEST(TableRuns, EffectTableNamesTheFactors) {
  TempDir dir;
  dir.write("t.tsv",
            "Temp\tCatalyst\tTime\tYield\n150\told\t10\t51.0\n180\told\t10\t70.5\n150\tnew\t10\t58.5\n"
            "180\tnew\t10\t79.0\n150\told\t20\t50.5\n180\told\t20\t71.0\n150\tnew\t20\t59.5\n"
            "180\tnew\t20\t78.5\n");
  const testutil::Outcome run = run_program({"t.tsv", "--effects", "--coding=Catalyst:new/old"}, dir.path());
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(contains(run.out, "  B       Catalyst  new  old")) << run.out;
  // Least squares by hand: Temp (180 - 150) raises the yield by
  // (70.5+79+71+78.5)/4 - (51+58.5+50.5+59.5)/4 = 19.875; Catalyst coded
  // new = -1 gives (51+70.5+50.5+71)/4 - (58.5+79+59.5+78.5)/4 = -8.125.
  const std::string table = section(run.out, "Effect estimates", "Closing the log");
  EXPECT_TRUE(contains(table, "19.875\n")) << table;
  EXPECT_TRUE(contains(table, "-8.125\n")) << table;
  EXPECT_TRUE(contains(table, "  Temp*Catalyst (AB) ")) << table;
  EXPECT_TRUE(contains(table, "Lenth (7 contrasts)")) << table;
}

}  // namespace

namespace {

TEST(TableRuns, QuotedLabelsWithBlanksInDesignFiles) {
  struct Case {
    const char *labels;
    int status;
    const char *expected;
  } cases[] = {
      {"Labels A=\"Feed rate\" B=Temp C=\"x\"", 0, "  Feed rate (A) "},
      {"Labels A=\"Feed rate\" B=Temp C=\"x\"", 0, "  \"x\" (C) "},  // closed in the word: as always
      {"Labels A=\"Feed  rate (l/min)\"\n B=Temp", 0, "  Feed  rate (l/min) (A) "},
      {"Labels A=\"Feed rate B=Temp", 1, "Label #1: the quote after A= is not closed"},
      {"Labels A=\"Feed rate\"B=Temp", 1, "a blank must follow the closing quote"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.labels);
    TempDir dir;
    std::string text = kDesignFile;
    text.replace(text.find("Labels"), text.find("\nData") - text.find("Labels"), c.labels);
    dir.write("d.txt", text);
    const testutil::Outcome run = run_program({"d.txt", "--effects"}, dir.path());
    EXPECT_EQ(run.status, c.status);
    EXPECT_TRUE(contains(run.out, c.expected)) << run.out;
  }
}

}  // namespace

namespace {

// Past the 25th column the report keeps its single characters ([ \ ] ...),
// the result files and the effect table name the columns AA, AB, ...
TEST(TableRuns, ColumnsPastZGetTwoLetterCodes) {
  std::string text = "Twenty-eight columns\nNrows=32 Ncols=28\nData\n";
  for (int r = 0; r < 32; r++) {
    text += std::to_string(r + 1);
    for (int c = 0; c < 28; c++) text += ((r * 7 + c * 13 + (r * c) % 5) % 2 != 0) ? " 1" : " -1";
    text += " " + std::to_string(50 + (r % 2 != 0 ? 4 : 0) + (r * r) % 7) + "\n";
  }
  TempDir dir;
  dir.write("wide.txt", text);
  const testutil::Outcome run =
      run_program({"wide", "--max-factors=1", "--order=1", "--json", "--effects"}, dir.path());
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(contains(run.out, "Factor labels: ABCDEFGHJKLMNOPQRSTUVWXYZ[\\]")) << run.out;
  EXPECT_TRUE(contains(run.out, "\n  AC  ")) << run.out;
  const auto doc = nlohmann::json::parse(testutil::read_file(dir.file("wide.json")));
  const auto &columns = doc["design"]["design_columns"];
  EXPECT_EQ(columns[24]["letter"], "Z");
  EXPECT_EQ(columns[25]["letter"], "AA");
  EXPECT_EQ(doc["factor_weights"]["factors"][27]["label"], "AC");
  for (const auto &m : doc["models"]) EXPECT_EQ(m["name"].get<std::string>().find_first_of("[\\]^_"), std::string::npos);
  EXPECT_EQ(doc["effects"]["effects"][26]["code"], "AB");

  // The effects space (searched), its figure and its page name them so too.
  const testutil::Outcome space = run_program({"wide", "--model-space=effects", "--order=1", "--search=mcmc",
                                               "--iterations=2000", "--svg-file=w.svg", "--html"},
                                              dir.path());
  ASSERT_EQ(space.status, 0) << space.out;
  const std::string extension = space.out.substr(space.out.find("\nEffects space:"));
  EXPECT_TRUE(contains(extension, "\n  AC      AC  ")) << extension;
  EXPECT_TRUE(contains(extension, "\n  AC:  ")) << extension;
  for (const std::string &file : {std::string("w.svg"), std::string("wide.html")}) {
    const std::string text = testutil::read_file(dir.file(file));
    for (const char *bad : {">[<", ">\\<", ">]<", ">^<", ">_<", "[ (", "(["})
      EXPECT_FALSE(contains(text, bad)) << file << " holds " << bad;
    EXPECT_TRUE(contains(text, ">AC<")) << file;
  }
  for (const char *bad : {"\n  [", "\n  \\", "\n  ]", "\n  ^", "\n  _"})
    EXPECT_FALSE(contains(extension, bad)) << bad;
}

}  // namespace
