// The table reader: files as spreadsheets write them, the coding of factor
// columns, every refusal with its message, the equivalence with a design
// file, and the time a large table takes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "engine/table.h"
#include "support/error.h"
#include "testutil.h"

using namespace bayescreen;

namespace {

TableOptions csv() { return TableOptions{}; }

TableOptions tsv() {
  TableOptions o;
  o.separator = '\t';
  return o;
}

// The message read_table throws, or "" when it reads the table.
std::string refusal(const std::string &text, const TableOptions &options,
                    const std::string &file = "t.csv") {
  try {
    read_table(text, file, options);
  } catch (const Error &e) {
    return e.message();
  }
  return "";
}

}  // namespace

// ---- File names and legacy design files -------------------------------------------

TEST(TableNames, TablesAreKnownByTheirEndingInAnyCase) {
  struct Case {
    const char *name;
    bool table;
    char separator;
  };
  const Case cases[] = {
      {"temp.csv", true, ','},      {"TEMP.CSV", true, ','},   {"a/b.Tsv", true, '\t'},
      {"x.tsv", true, '\t'},        {"reactor.txt", false, ','}, {"csv", false, ','},
      {"data.csv.txt", false, ','}, {"datacsv", false, ','},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(is_table_file_name(c.name), c.table) << c.name;
    EXPECT_EQ(table_separator(c.name), c.separator) << c.name;
  }
}

TEST(TableNames, ADesignFileWithATableEndingKeepsItsMeaning) {
  struct Case {
    const char *text;
    bool design;
  };
  const Case cases[] = {
      {"Heading\nNrows=2 Ncols=2\nData\n", true},
      {"# comment\n\n  Heading\r\n; more\r\n% and more\r\n nrows=4 ncols=2\r\n", true},
      {"Heading\rNcols=2 NR=2\r", true},
      {"Heading\nNcols=2 nnn=2 # rest\n", true},
      {"Heading\nNcols=2 # Nrows=2\n", false},  // only in the comment
      {"Heading\nNrows 2\n", false},             // no '='
      {"A,B,Y\n1,2,3\n", false},
      {"A,B,Nrows=\n1,2,3\n", false},  // the header is the first line, not the second
      {"Heading only\n", false},
      {"", false},
  };
  for (const Case &c : cases) EXPECT_EQ(is_design_file_text(c.text), c.design) << c.text;
}

TEST(TableNames, CodingOptionValues) {
  struct Case {
    const char *text;
    Coding coding;  // empty name: refused
  };
  const Case cases[] = {
      {"Temp:150/180", {"Temp", "150", "180"}},
      {"Feed: rate:low/high", {"Feed: rate", "low", "high"}},
      {"Catalyst:old type/new type", {"Catalyst", "old type", "new type"}},
      {"Temp:150-180", {}}, {"Temp150/180", {}}, {":1/2", {}},
      {"T:1/", {}},         {"T:/2", {}},         {"T:1/2/3", {}},
  };
  for (const Case &c : cases) {
    if (c.coding.name.empty()) {
      try {
        parse_coding(c.text);
        ADD_FAILURE() << c.text << " was read";
      } catch (const Error &e) {
        EXPECT_EQ(e.message(), std::string("\nBAD CODING `") + c.text +
                                   "': it should read NAME:LOW/HIGH, as Temp:150/180 !\n");
      }
      continue;
    }
    const Coding got = parse_coding(c.text);
    EXPECT_EQ(got.name, c.coding.name) << c.text;
    EXPECT_EQ(got.low, c.coding.low) << c.text;
    EXPECT_EQ(got.high, c.coding.high) << c.text;
  }
}

// ---- Files as spreadsheets write them ---------------------------------------------

TEST(TableRead, FilesAsSpreadsheetsWriteThem) {
  struct Case {
    const char *what;
    std::string text;
    TableOptions options;
    std::vector<std::string> names;
    std::string response_name;
    std::vector<int32_t> levels;
    std::vector<double> response;
    std::vector<int> row_lines;
  };
  const Case cases[] = {
      {"plain LF", "A,B,Y\n-1,-1,10\n1,-1,12\n-1,1,9.5\n1,1,14\n", csv(), {"A", "B"}, "Y",
       {-1, -1, 1, -1, -1, 1, 1, 1}, {10, 12, 9.5, 14}, {2, 3, 4, 5}},
      {"BOM, CR LF, quoted names with commas, quotes and a line break, blank end",
       "\xEF\xBB\xBF\"Feed rate, l/min\",\"Temp \"\"C\"\"\",\"Yield\r\n(%)\"\r\n"
       "10,150,56\r\n15,180,60.5\r\n\r\n",
       csv(), {"Feed rate, l/min", "Temp \"C\""}, "Yield\r\n(%)", {-1, -1, 1, 1}, {56, 60.5},
       {3, 4}},
      {"TSV with spaces in names, no line end at the end",
       "Feed rate\tCatalyst type\tYield\nslow\tA\t1e1\nfast\tB\t-2.5\nslow\tB\t+3",
       tsv(), {"Feed rate", "Catalyst type"}, "Yield", {-1, -1, 1, 1, -1, 1}, {10, -2.5, 3},
       {2, 3, 4}},
      {"a quoted level spanning lines, blank lines between rows, spaces around cells",
       "\n A , B ,Y\n\"x\ny\",1, 3\n\n  z ,2,4 \n\"x\ny\", 1 ,5\n", csv(), {"A", "B"}, "Y",
       {-1, -1, 1, 1, -1, -1}, {3, 4, 5}, {3, 6, 7}},
      {"a comma in a TSV cell is text", "A\tY\n1,5\t2\n2,5\t3\n", tsv(), {"A"}, "Y", {-1, 1},
       {2, 3}, {2, 3}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const TableDesign d = read_table(c.text, "t.csv", c.options);
    EXPECT_EQ(d.names, c.names);
    EXPECT_EQ(d.response_name, c.response_name);
    EXPECT_EQ(d.runs, static_cast<int>(c.response.size()));
    EXPECT_EQ(d.levels, c.levels);
    EXPECT_EQ(d.response, c.response);
    EXPECT_EQ(d.row_lines, c.row_lines);
  }
}

TEST(TableRead, ResponseAndFactorColumnsByName) {
  const std::string text = "Run,Temp,Yield,Time,Conc\n1,150,56,10,A\n2,180,60,20,B\n";
  struct Case {
    std::string response;
    std::vector<std::string> factors;
    std::vector<std::string> names;
    std::vector<int32_t> levels;
    std::vector<double> response_values;
  };
  const Case cases[] = {
      {"Yield", {}, {"Run", "Temp", "Time", "Conc"}, {-1, -1, -1, -1, 1, 1, 1, 1}, {56, 60}},
      {"Yield", {"Conc", "Temp"}, {"Conc", "Temp"}, {-1, -1, 1, 1}, {56, 60}},
      {"Time", {"Yield"}, {"Yield"}, {-1, 1}, {10, 20}},
      {"", {"Time", "Run"}, {"Time", "Run"}, {-1, -1, 1, 1}, {0, 0}},  // Conc: not a number
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.response);
    TableOptions o;
    o.response = c.response;
    o.factors = c.factors;
    if (c.response.empty()) {
      EXPECT_EQ(refusal(text, o),
                "\nBAD TABLE `t.csv', line 2, column `Conc': `A' is not a finite number, which "
                "a response must be !\n");
      continue;
    }
    const TableDesign d = read_table(text, "t.csv", o);
    EXPECT_EQ(d.response_name, c.response);
    EXPECT_EQ(d.names, c.names);
    EXPECT_EQ(d.levels, c.levels);
    EXPECT_EQ(d.response, c.response_values);
  }
}

// ---- Coding -----------------------------------------------------------------------

// One factor column X of a table with the response Y = 1, 2, 3, ...
TEST(TableCoding, NumbersCentresTextsAndNamedLevels) {
  struct Case {
    std::vector<std::string> column;
    std::vector<Coding> codings;
    std::vector<int32_t> levels;
    FactorCoding coding;
  };
  const Case cases[] = {
      {{"150", "180", "150.0", "1.8e2"}, {}, {-1, 1, -1, 1}, {"X", "150", "180", ""}},
      {{"180", "150"}, {}, {1, -1}, {"X", "150", "180", ""}},
      {{"150", "165", "180", "165.0"}, {}, {-1, 0, 1, 0}, {"X", "150", "180", "165"}},
      {{"1.3", "1.1", "1.2"}, {}, {1, -1, 0}, {"X", "1.1", "1.3", "1.2"}},
      {{"+1", "-1", "0"}, {}, {1, -1, 0}, {"X", "-1", "+1", "0"}},
      {{"0.1", "0.2", "0.3"}, {}, {-1, 0, 1}, {"X", "0.1", "0.3", "0.2"}},
      {{"new", "old", "new"}, {}, {-1, 1, -1}, {"X", "new", "old", ""}},
      {{"1", "one"}, {}, {-1, 1}, {"X", "1", "one", ""}},  // a text makes the column texts
      {{"new", "old", "new"}, {{"X", "old", "new"}}, {1, -1, 1}, {"X", "old", "new", ""}},
      {{"150", "180", "165"}, {{"X", "180", "150"}}, {1, -1, 0}, {"X", "180", "150", "165"}},
      {{"150", "180"}, {{"X", "150.0", "180"}}, {-1, 1}, {"X", "150", "180", ""}},
      {{"150", "180"}, {{"X", "high", "150"}}, {}, {}},  // a named level no row holds
  };
  for (const Case &c : cases) {
    std::string text = "X,Y\n";
    for (size_t r = 0; r < c.column.size(); r++)
      text += c.column[r] + "," + std::to_string(r + 1) + "\n";
    SCOPED_TRACE(text);
    TableOptions o;
    o.codings = c.codings;
    if (c.levels.empty()) {
      EXPECT_EQ(refusal(text, o),
                "\nBAD TABLE `t.csv', column `X': the coding names a -1 level that no row "
                "holds !\n");
      continue;
    }
    const TableDesign d = read_table(text, "t.csv", o);
    EXPECT_EQ(d.levels, c.levels);
    ASSERT_EQ(d.coding.size(), 1u);
    EXPECT_EQ(d.coding[0].name, c.coding.name);
    EXPECT_EQ(d.coding[0].low, c.coding.low);
    EXPECT_EQ(d.coding[0].high, c.coding.high);
    EXPECT_EQ(d.coding[0].centre, c.coding.centre);
  }
}

// ---- Refusals ---------------------------------------------------------------------

TEST(TableRefusals, EachNamesTheFileLineColumnAndValue) {
  auto with = [](std::string response, std::vector<std::string> factors,
                 std::vector<Coding> codings = {}) {
    TableOptions o;
    o.response = std::move(response);
    o.factors = std::move(factors);
    o.codings = std::move(codings);
    return o;
  };
  const std::string good = "Temp,Time,Yield\n150,10,56\n180,20,60\n";
  struct Case {
    std::string text;
    TableOptions options;
    std::string message;  // after "\nBAD TABLE `temp.csv'", before " !\n"
  };
  const Case cases[] = {
      {"Temp,Yield\n150,56\n180,60\n165,58\n155,57\n", csv(),
       ", line 5, column `Temp': `155' is a third level (the factor has 150 and 180; only a "
       "value halfway between them is taken, as a centre point)"},
      {"Temp,Yield\n150,56\n180,60\n200,57\n", csv(),
       ", line 3, column `Temp': `180' is a third level (the factor has 150 and 200; only a "
       "value halfway between them is taken, as a centre point)"},
      {"Cat,Yield\nA,56\nB,60\nC,57\n", csv(),
       ", line 4, column `Cat': `C' is a third level (the factor has `A' and `B'; a column of "
       "texts has no centre point)"},
      {"Temp,Yield\n150,56\n150.0,60\n", csv(),
       ", line 2, column `Temp': `150' is the only value of the factor (it needs two)"},
      {"Cat,Yield\nA,56\nA,60\n", csv(),
       ", line 2, column `Cat': `A' is the only value of the factor (it needs two)"},
      {"Temp,Yield\n150,56\n,60\n", csv(), ", line 3, column `Temp': the value is missing"},
      {"Temp,Yield\n150,56\n180,\n", csv(), ", line 3, column `Yield': the response is missing"},
      {"Temp,Yield\n150,56\n180,high\n", csv(),
       ", line 3, column `Yield': `high' is not a finite number, which a response must be"},
      {"Temp,Yield\n150,56\n180,inf\n", csv(),
       ", line 3, column `Yield': `inf' is not a finite number, which a response must be"},
      {"Temp,Yield\n150,nan\n180,1\n", csv(),
       ", line 2, column `Yield': `nan' is not a finite number, which a response must be"},
      {"Temp,Yield\n150,1e999\n180,1\n", csv(),
       ", line 2, column `Yield': `1e999' is not a finite number, which a response must be"},
      {"Temp,Yield\n150,56\n180,0x10\n", csv(),
       ", line 3, column `Yield': `0x10' is not a finite number, which a response must be"},
      {"Temp,Time,Yield\n150,10,56\n180,60\n", csv(),
       ", line 3: 2 cells where the header has 3 (no value for the column `Yield')"},
      {"Temp,Time,Yield\n150,10,56\n180,20,60,99\n", csv(),
       ", line 3: 4 cells where the header has 3 (`99' stands past the last column, `Yield')"},
      {"Temp,Yield\n\n150\n", csv(),
       ", line 3: 1 cell where the header has 2 (no value for the column `Yield')"},
      {"Temp,Time,Temp\n1,2,3\n", csv(),
       ", line 1, column 3: the name `Temp' is also the name of column 1"},
      {"Temp,,Yield\n1,2,3\n", csv(), ", line 1, column 2: the column has no name"},
      {"Temp,\" \",Yield\n1,2,3\n", csv(), ", line 1, column 2: the column has no name"},
      {"Temp,Yield\n", csv(), ", line 1: no data rows below the header"},
      {"\r\n\r\n", csv(), ": the file holds no header row"},
      {"", csv(), ": the file holds no header row"},
      {"Yield\n1\n2\n", csv(), ": the table has no column besides the response"},
      {"Temp,Yield\n1\"5,2\n", csv(),
       ", line 2: a quote inside a field that does not begin with one, or text after a "
       "closing quote; a quote inside a quoted field is written twice (\"\")"},
      {"Temp,Yield\n\"15\"0,2\n", csv(),
       ", line 2: a quote inside a field that does not begin with one, or text after a "
       "closing quote; a quote inside a quoted field is written twice (\"\")"},
      {"Temp,Yield\n150,1\n\"180,2\n", csv(),
       ", line 3: a quoted field is not closed before the end of the file"},
      {good, with("Yeild", {}),
       ": no column is named `Yeild' (the response); the columns are `Temp', `Time', `Yield'"},
      {good, with("", {"Temp", "Tme"}),
       ": no column is named `Tme' (a factor); the columns are `Temp', `Time', `Yield'"},
      {good, with("", {"Temp", "Yield"}),
       ": the column `Yield' is named as the response and as a factor"},
      {good, with("Time", {"Time"}), ": the column `Time' is named as the response and as a factor"},
      {good, with("", {"Temp", "Time", "Temp"}), ": the column `Temp' is named twice as a factor"},
      {good, with("", {}, {{"Tmp", "150", "180"}}),
       ": no column is named `Tmp' (a coding); the columns are `Temp', `Time', `Yield'"},
      {good, with("", {"Temp"}, {{"Time", "10", "20"}}),
       ": the coding names `Time', which is not a factor"},
      {good, with("", {}, {{"Temp", "150", "180"}, {"Temp", "180", "150"}}),
       ": two codings name `Temp'"},
      {good, with("", {}, {{"Temp", "150", "150.0"}}),
       ", column `Temp': the coding names one value for both levels"},
      {good, with("", {}, {{"Temp", "150", "190"}}),
       ", column `Temp': the coding names a +1 level that no row holds"},
      {"Temp,Yield\n150,56\n180,60\n170,58\n", with("", {}, {{"Temp", "180", "150"}}),
       ", line 4, column `Temp': `170' is neither level the coding names (180 and 150) nor "
       "halfway between them"},
      {"Cat,Yield\nA,56\nB,60\nb,58\n", with("", {}, {{"Cat", "B", "A"}}),
       ", line 4, column `Cat': `b' is neither level the coding names (`B' and `A')"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(refusal(c.text, c.options, "temp.csv"),
              "\nBAD TABLE `temp.csv'" + c.message + " !\n");
  }
}

// ---- A bundled example as a table -------------------------------------------------

// examples/reactor12.txt written as a spreadsheet would hold it, in natural
// units (and one factor in words, with its levels named), must give the
// design file's +-1 matrix and responses. The design file's data rows are
// read here on their own: run number, five levels, response.
TEST(TableRead, TheTwelveRunReactorAsATable) {
  std::istringstream in(testutil::read_file(testutil::source_path("examples/reactor12.txt")));
  std::string line;
  while (std::getline(in, line) && line.rfind("Data", 0) != 0) {
  }
  std::vector<int32_t> matrix;
  std::vector<double> yields;
  const char *units[5][2] = {{"10", "15"}, {"old", "new"}, {"100", "120.0"},
                             {"140", "180"}, {"3", "6"}};
  std::string table = "Feed rate (l/min),Catalyst,Agitation (rpm),Temperature (C),"
                      "Concentration (%),Reacted (%)\r\n";
  while (std::getline(in, line)) {
    std::istringstream row(line);
    std::string run;
    int32_t x[5];
    double y;
    row >> run >> x[0] >> x[1] >> x[2] >> x[3] >> x[4] >> y;
    ASSERT_FALSE(row.fail()) << line;
    for (int j = 0; j < 5; j++) {
      matrix.push_back(x[j]);
      table += std::string(units[j][x[j] > 0]) + ",";
    }
    yields.push_back(y);
    table += "\"" + std::to_string(y) + "\"\r\n";
  }
  ASSERT_EQ(yields.size(), 12u);
  TableOptions o;
  o.codings = {{"Catalyst", "old", "new"}};
  const TableDesign d = read_table(table, "reactor12.csv", o);
  EXPECT_EQ(d.runs, 12);
  EXPECT_EQ(d.levels, matrix);
  EXPECT_EQ(d.response, yields);
  EXPECT_EQ(d.names[3], "Temperature (C)");
  EXPECT_EQ(d.response_name, "Reacted (%)");
  EXPECT_EQ(d.coding[2].high, "120.0");
}

// ---- Speed ------------------------------------------------------------------------

// A 100,000-row table with 8 factors (numbers, texts, centre points) is
// read in well under a second in an optimized build; the bound here leaves
// room for Debug and sanitizer builds on a busy machine.
TEST(TableRead, AHundredThousandRowsInGoodTime) {
  const int rows = 100000;
  std::string text = "A,B,C,D,E,F,G,H,Yield\n";
  text.reserve(static_cast<size_t>(rows) * 48);
  char buffer[128];
  for (int r = 0; r < rows; r++) {
    const int bits = r * 37 % 256;
    auto bit = [&](int j) { return (bits >> j) & 1; };
    std::snprintf(buffer, sizeof buffer, "%s,%s,%s,%s,\"%s\",%s,%s,%s,%.3f\n",
                  bit(0) ? "180" : "150", bit(1) ? "20" : "10", r % 50 == 0 ? "2.5" : bit(2) ? "5" : "0",
                  bit(3) ? "1" : "-1", bit(4) ? "new type" : "old type", bit(5) ? "+1" : "-1",
                  bit(6) ? "high" : "low", bit(7) ? "0.75" : "0.25", 50 + r % 1000 * 0.01);
    text += buffer;
  }
  const auto start = std::chrono::steady_clock::now();
  const TableDesign d = read_table(text, "big.csv", csv());
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("[ timing   ] %d rows x 9 columns read in %.3f s\n", rows, seconds);
  EXPECT_EQ(d.runs, rows);
  EXPECT_EQ(d.levels.size(), static_cast<size_t>(rows) * 8);
  EXPECT_EQ(d.coding[2].centre, "2.5");
  EXPECT_LT(seconds, 10.0);
}
