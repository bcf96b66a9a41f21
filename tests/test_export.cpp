// The result files: the text helpers (CSV fields, XML text, UTF-8), and
// whole runs with --json, --csv-files and --svg-file: the screen and log as
// without them, the names of the files, names refused before any work,
// failures that leave no half file, and labels mapped to design columns
// beyond the eighth. The figures in the files are checked against the
// report and the exact reference by tests/tools/check_results.py.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "analysis/models.h"
#include "analysis/settings.h"
#include "design_fixture.h"
#include "export/csvexport.h"
#include "export/results.h"
#include "export/svgexport.h"
#include "testutil.h"

using testutil::file_exists;
using testutil::read_file;
using testutil::run_program;
using testutil::TempDir;

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

const std::vector<std::string> kAllResults = {"--json", "--csv-files", "--svg-file"};

std::set<std::string> names_in(const std::string &dir) {
  std::set<std::string> names;
  for (const auto &entry : fs::directory_iterator(dir)) names.insert(entry.path().filename());
  return names;
}

// The screen less the line(s) that echo the command line, which name every
// word as typed.
std::string without_command_line(const std::string &screen) {
  const size_t from = screen.find("Command line:");
  const size_t to = screen.find("Syntax:", from);
  if (from == std::string::npos || to == std::string::npos) return screen;
  return screen.substr(0, from) + screen.substr(to);
}

void copy_example(const TempDir &dir, const std::string &example) {
  dir.write(example + ".txt", read_file(testutil::source_path("examples/" + example + ".txt")));
}

std::vector<std::string> plus(std::vector<std::string> a, const std::vector<std::string> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A design of ten columns with a label for each, I= among them (the label
// of the ninth column, whose factor letter is J).
std::string ten_columns() {
  std::string text =
      "Ten columns\nNrows=12 Ncols=10\n"
      "Labels A=Alpha B=Beta C=Gamma D=Delta E=Epsilon\n"
      "F=Phi G=Gimel H=Heta I=Ninth J=Tenth,\"quoted\"\nData\n";
  const int generator[11] = {1, 1, -1, 1, 1, 1, -1, -1, -1, 1, -1};
  for (int r = 0; r < 12; r++) {
    text += std::to_string(r + 1) + ".";
    double y = 20;
    for (int j = 0; j < 10; j++) {
      const int v = r < 11 ? generator[(j + 11 - r) % 11] : -1;
      text += v > 0 ? "  1" : " -1";
      if (j == 8) y += 4 * v;  // the ninth column (J) is active
    }
    y += 0.1 * ((r * 7) % 5);
    text += "  " + std::to_string(y) + "\n";
  }
  return text;
}

}  // namespace

TEST(Export, TextHelpers) {
  using bayescreen::csv_field;
  using bayescreen::xml_text;
  const std::vector<std::pair<std::string, std::string>> csv = {
      {"Catalyst", "Catalyst"},
      {"", ""},
      {"a,b", "\"a,b\""},
      {"say \"x\"", "\"say \"\"x\"\"\""},
      {"two\nlines", "\"two\nlines\""},
      {"cr\r", "\"cr\r\""},
  };
  for (const auto &[text, field] : csv) EXPECT_EQ(csv_field(text), field) << text;
  EXPECT_EQ(xml_text("a<b & c>d \"e\" 'f'"), "a&lt;b &amp; c&gt;d &quot;e&quot; &apos;f&apos;");
  EXPECT_EQ(xml_text(std::string("bell\a\ttab")), "bell\ttab");
  // Bytes that are not UTF-8 become U+FFFD; valid text stays as it is.
  EXPECT_EQ(bayescreen::valid_utf8("Temp\xb0"), "Temp\xef\xbf\xbd");
  EXPECT_EQ(bayescreen::valid_utf8("Temp\xc2\xb0"), "Temp\xc2\xb0");
  // Numbers: the shortest text that reads back the same; nothing for
  // values that are not finite.
  for (double v : {0.1, 1.0 / 3, 2.5e-300, -7.0, 123456789.125}) {
    std::string text;
    ASSERT_TRUE(bayescreen::append_number(text, v));
    EXPECT_EQ(std::stod(text), v) << text;
  }
  std::string none;
  EXPECT_FALSE(bayescreen::append_number(none, NAN));
  EXPECT_FALSE(bayescreen::append_number(none, INFINITY));
  EXPECT_EQ(none, "");
}

TEST(Export, ScreenAndLogAreTheSameWithResultFiles) {
  struct Case {
    const char *example;
    std::vector<std::string> options;
    std::set<std::string> more;  // result files besides the JSON, two CSV files and the SVG
  };
  const Case cases[] = {
      {"reactor12", {}, {}},
      {"reactor12", {"--null", "-D"}, {}},
      {"injection16", {"-R", "-C"}, {}},
      {"reactor", {"--max-factors=5", "--order=1"}, {}},
      {"reactor12", {"--null", "--gamma-grid=1:3:5", "--follow-up=2"},
       {"reactor12.grid.csv", "reactor12.followup.csv"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.example);
    TempDir plain, with;
    copy_example(plain, c.example);
    copy_example(with, c.example);
    auto a = run_program(plus({c.example}, c.options), plain.path());
    auto b = run_program(plus(plus({c.example}, c.options), kAllResults), with.path());
    EXPECT_EQ(a.status, 0);
    EXPECT_EQ(b.status, 0);
    EXPECT_EQ(without_command_line(a.out), without_command_line(b.out));
    EXPECT_EQ(a.err, b.err);
    const std::string log = std::string(c.example) + ".out.txt";
    EXPECT_EQ(read_file(plain.file(log)), read_file(with.file(log)));
    const std::string stem = c.example;
    std::set<std::string> written = {stem + ".txt", log, stem + ".json", stem + ".models.csv",
                                     stem + ".factors.csv", stem + ".svg"};
    written.insert(c.more.begin(), c.more.end());
    EXPECT_EQ(names_in(with.path()), written);
  }
}

TEST(Export, DefaultAndGivenNames) {
  struct Case {
    std::vector<std::string> args;
    std::set<std::string> written;  // besides the input and the log
  };
  const std::vector<Case> cases = {
      {{"reactor12", "-L", "--json", "--svg-file"}, {"reactor12l.json", "reactor12l.svg"}},
      {{"reactor12", "myout", "--csv-files"}, {"myout.models.csv", "myout.factors.csv"}},
      {{"reactor12.txt", "--json"}, {"reactor12.txt.json"}},
      {{"reactor12", "--json=sub/r.json", "--csv-files=sub/t", "--svg-file=figure.svg"},
       {"sub/r.json", "sub/t.models.csv", "sub/t.factors.csv", "figure.svg"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.args[1]);
    TempDir dir;
    copy_example(dir, "reactor12");
    fs::create_directory(dir.file("sub"));
    auto r = run_program(c.args, dir.path());
    EXPECT_EQ(r.status, 0);
    std::set<std::string> found;
    for (const auto &entry : fs::recursive_directory_iterator(dir.path()))
      if (entry.is_regular_file()) found.insert(fs::relative(entry.path(), dir.path()));
    for (const std::string &name : c.written) EXPECT_TRUE(found.count(name)) << name;
    EXPECT_EQ(found.size(), c.written.size() + 2);  // the input and the log
  }
}

// Names that would replace the input, the log, another result file or a
// directory are refused before anything is read or written.
TEST(Export, NamesRefusedBeforeAnyWork) {
  struct Case {
    std::vector<std::string> options;
    std::string message;
  };
  const std::string again = " !\nChoose another name; nothing has been changed.\n";
  const std::vector<Case> cases = {
      {{"--json=reactor12.txt"},
       "\nRESULT FILE `reactor12.txt' (--json) WOULD REPLACE the input file `reactor12.txt'" + again},
      {{"--svg-file=reactor12.out.txt"},
       "\nRESULT FILE `reactor12.out.txt' (--svg-file) WOULD REPLACE the log file "
       "`reactor12.out.txt'" + again},
      {{"--json=same", "--svg-file=same"},
       "\nRESULT FILE `same' (--svg-file) WOULD REPLACE the result file `same'" + again},
      {{"--csv-files=x", "--json=x.factors.csv"},
       "\nRESULT FILE `x.factors.csv' (--csv-files) WOULD REPLACE the result file "
       "`x.factors.csv'" + again},
      {{"--json=sub"}, "\nRESULT FILE `sub' (--json) IS A DIRECTORY" + again},
      {{"--json="}, "\nILLEGAL VALUE in option `--json=': a value must follow `=' !\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.options[0]);
    TempDir dir;
    copy_example(dir, "reactor12");
    fs::create_directory(dir.file("sub"));
    auto r = run_program(plus({"reactor12"}, c.options), dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.ends_with(c.message)) << r.out.substr(r.out.size() > 300 ? r.out.size() - 300 : 0);
    EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"reactor12.txt", "sub"}));
  }
}

// A result file that cannot be written ends the run with status 1 and a
// message after the complete report; no half file and no temporary file is
// left, and an earlier file of that name stays as it was.
TEST(Export, AFailedResultFileLeavesNoHalfFile) {
  TempDir plain;
  copy_example(plain, "reactor12");
  ASSERT_EQ(run_program({"reactor12", "--null"}, plain.path()).status, 0);
  const std::string complete_log = read_file(plain.file("reactor12.out.txt"));

  // A directory that does not exist.
  {
    TempDir dir;
    copy_example(dir, "reactor12");
    auto r = run_program({"reactor12", "--null", "--json=gone/r.json"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "\nCANNOT CREATE the file  `gone/r.json'\n" + std::string(strerror(ENOENT)) +
                         "\nNothing was written to `gone/r.json'; what stood at that name is "
                         "left as it was.\n");
    EXPECT_EQ(read_file(dir.file("reactor12.out.txt")), complete_log);
    EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"reactor12.txt", "reactor12.out.txt"}));
  }
  // A file-size limit that the log stays below and the JSON reaches.
  {
    TempDir dir;
    copy_example(dir, "reactor12");
    dir.write("reactor12.json", "the results of an earlier run\n");
    ASSERT_LT(complete_log.size(), 8000u);
    auto r = testutil::run_child([&] {
      if (chdir(dir.path().c_str()) != 0) _exit(120);
      rlimit limit = {8000, 8000};
      setrlimit(RLIMIT_FSIZE, &limit);
      std::string bin = BAYESCREEN_BIN, design = "reactor12", null = "--null", json = "--json";
      char *argv[] = {bin.data(), design.data(), null.data(), json.data(), nullptr};
      execv(bin.c_str(), argv);
      _exit(121);
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "\nCANNOT WRITE the file  `reactor12.json'\n" + std::string(strerror(EFBIG)) +
                         "\nNothing was written to `reactor12.json'; what stood at that name is "
                         "left as it was.\n");
    EXPECT_EQ(read_file(dir.file("reactor12.out.txt")), complete_log);
    EXPECT_EQ(read_file(dir.file("reactor12.json")), "the results of an earlier run\n");
    EXPECT_EQ(names_in(dir.path()),
              (std::set<std::string>{"reactor12.txt", "reactor12.out.txt", "reactor12.json"}));
  }
}

// The Labels block names the letters A to Z with I among them, while the
// factors skip I: label k names design column k, so the label given as I=
// belongs to the ninth column, factor J.
TEST(Export, LabelsFollowTheDesignColumnsPastTheEighth) {
  TempDir dir;
  dir.write("ten.txt", ten_columns());
  auto r = run_program({"ten", "--json", "--csv-files", "--svg-file"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.out;
  const Json doc = Json::parse(read_file(dir.file("ten.json")));
  const Json &columns = doc["design"]["design_columns"];
  ASSERT_EQ(columns.size(), 10u);
  EXPECT_EQ(columns[7]["letter"], "H");
  EXPECT_EQ(columns[7]["label"], "Heta");
  EXPECT_EQ(columns[8]["letter"], "J");
  EXPECT_EQ(columns[8]["label"], "Ninth");
  EXPECT_EQ(columns[9]["letter"], "K");
  EXPECT_EQ(columns[9]["label"], "Tenth,\"quoted\"");
  for (const Json &m : doc["models"])
    if (m["name"] == "HJK") {
      EXPECT_EQ(m["labels"], Json({"Heta", "Ninth", "Tenth,\"quoted\""}));
      EXPECT_EQ(m["columns"], Json({8, 9, 10}));
    }
  // J, the active ninth column, has the largest probability, under its label.
  const Json &factors = doc["factor_weights"]["factors"];
  ASSERT_EQ(factors.size(), 10u);
  EXPECT_EQ(factors[8]["letter"], "J");
  EXPECT_EQ(factors[8]["label"], "Ninth");
  for (size_t f = 0; f < factors.size(); f++)
    if (f != 8) {
      EXPECT_LT(factors[f]["postprob"]["share"], factors[8]["postprob"]["share"]);
    }
  // The CSV quotes the label with a comma and quotes; the SVG escapes it.
  EXPECT_NE(read_file(dir.file("ten.factors.csv")).find("\r\nJ,9,Ninth,"), std::string::npos);
  EXPECT_NE(read_file(dir.file("ten.factors.csv")).find("\r\nK,10,\"Tenth,\"\"quoted\"\"\","),
            std::string::npos);
  const std::string svg = read_file(dir.file("ten.svg"));
  EXPECT_NE(svg.find(">J</text>\n<text class=\"name\" x=\"50\" y=\"349\">Ninth</text>"),
            std::string::npos);
  EXPECT_NE(svg.find(">Tenth,&quot;quoted&quot;</text>"), std::string::npos);
}

// Values that do not exist are null: the criteria of a singular model, the
// F statistic of the null model.
TEST(Export, ValuesThatDoNotExistAreNull) {
  // A half fraction (C = AB) run twice: ABC is singular.
  const std::string design =
      "Half fraction twice\nNrows=8 Ncols=3\nData\n"
      "1. -1 -1  1 10\n2.  1 -1 -1 14\n3. -1  1 -1 19\n4.  1  1  1 31\n"
      "5. -1 -1  1 11\n6.  1 -1 -1 15\n7. -1  1 -1 18\n8.  1  1  1 30\n";
  for (const std::string &keep : {std::string("--null"), std::string("--keep-aliased")}) {
    SCOPED_TRACE(keep);
    TempDir dir;
    dir.write("half.txt", design);
    auto r = run_program({"half", keep, "--json"}, dir.path());
    ASSERT_EQ(r.status, 0);
    const Json doc = Json::parse(read_file(dir.file("half.json")));
    for (const Json &m : doc["models"]) {
      SCOPED_TRACE(m["name"].get<std::string>());
      if (m["name"] == "ABC") {
        EXPECT_EQ(m["valid"], false);
        for (const char *key : {"adjrsq", "rmse", "fstat", "loglik", "likelihood"})
          EXPECT_TRUE(m[key].is_null()) << key;
        // Kept with its posterior, or out of the posterior altogether.
        EXPECT_EQ(m["log10_bval"].is_null(), keep == "--null");
        // No posterior, or no error degrees of freedom (8 runs, 8 columns).
        EXPECT_TRUE(m["rmsec"].is_null());
        EXPECT_EQ(m["postprob"].get<double>() > 0, keep == "--keep-aliased");
      } else if (m["name"] == "(null)") {
        EXPECT_TRUE(m["fstat"].is_null());
        EXPECT_TRUE(m["rmse"].is_number());
      } else {
        EXPECT_EQ(m["valid"], true);
      }
    }
    // No NaN or infinity anywhere: the strict parse above accepted the
    // document, and the text holds none of their spellings.
    const std::string text = read_file(dir.file("half.json"));
    for (const char *word : {"nan", "NaN", "inf", "Infinity"}) EXPECT_EQ(text.find(word), std::string::npos) << word;
  }
}

#if !defined(__SANITIZE_ADDRESS__)  // the address sanitizer never lets the system refuse
// Memory the system refuses while a result file is formed ends the run with
// the CANNOT ALLOCATE report and status 1, as the counting allocators do,
// and no file is left.
TEST(Export, RefusedMemoryEndsTheRunWithTheAllocationReport) {
  TempDir dir;
  const std::string path = dir.file("d.svg");
  auto r = testutil::run_child([&] {
    using namespace bayescreen;
    // The 131,071 main-effect models of 17 factors: the likelihood weights
    // of the figure's factor probabilities take 1 MB, more than the limit
    // leaves.
    std::vector<std::vector<int>> rows(24, std::vector<int>(17));
    std::vector<double> y(24);
    for (size_t r2 = 0; r2 < rows.size(); r2++) {
      for (size_t j = 0; j < 17; j++) rows[r2][j] = (r2 * 7 + j * 3) % 5 < 2 ? 1 : -1;
      y[r2] = static_cast<double>(r2 % 4);
    }
    testutil::set_design(rows, y, 17);
    modelspace.max_factors = 17;
    modelspace.order = 1;
    init_models();
    infile = strxdup("d.txt");
    outfile = strxdup("d.out.txt");
    result_files.svg = path.c_str();
    testutil::limit_address_space(256 << 10);
    write_result_files();
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("\nCANNOT ALLOCATE the memory of the result files from the system.\n", 0), 0u)
      << r.err;
  EXPECT_TRUE(names_in(dir.path()).empty());
}
#endif
