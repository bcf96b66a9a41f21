// The result files: the text helpers (CSV fields, XML text, UTF-8), and
// whole runs with --json, --csv-files and --svg-file: the screen and log as
// without them, the names of the files, names refused before any work,
// failures that leave no half file, and labels mapped to design columns
// beyond the eighth. The figures in the files, and null for values that do
// not exist, are checked against the report and the exact reference by
// tests/tools/check_results.py.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <new>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "cli/resultfiles.h"
#include "engine/analysis.h"
#include "engine/settings.h"
#include "design_fixture.h"
#include "export/csvexport.h"
#include "export/results.h"
#include "export/svgexport.h"
#include "support/helpers.h"
#include "testutil.h"

using testutil::read_file;
using testutil::run_program;
using testutil::TempDir;

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

// Every file and directory under dir, by its path relative to dir.
std::set<std::string> entries_in(const std::string &dir) {
  std::set<std::string> names;
  for (const auto &entry : fs::recursive_directory_iterator(dir))
    names.insert(fs::relative(entry.path(), dir));
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

// The message of a result file that could not be written.
std::string refusal(const std::string &verb, const std::string &name, int err) {
  return "\nCANNOT " + verb + " the file  `" + name + "'\n" + strerror(err) + "\nNothing was written to `" +
         name + "'; what stood at that name is left as it was.\n";
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
  const std::vector<std::pair<std::string, std::string>> csv = {  // text, field
      {"Catalyst", "Catalyst"}, {"", ""}, {"a,b", "\"a,b\""}, {"say \"x\"", "\"say \"\"x\"\"\""},
      {"two\nlines", "\"two\nlines\""}, {"cr\r", "\"cr\r\""}};
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
  EXPECT_FALSE(bayescreen::append_number(none, NAN) || bayescreen::append_number(none, INFINITY));
  EXPECT_EQ(none, "");
}

TEST(Export, ScreenAndLogAreTheSameWithResultFiles) {
  struct Case {
    const char *example;
    std::vector<std::string> options;
    std::set<std::string> more;  // result files besides the JSON, two CSV files, the SVG and the HTML
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
    std::vector<std::string> with_results = c.options;
    with_results.insert(with_results.end(), {"--json", "--csv-files", "--svg-file", "--html"});
    TempDir plain, with;
    auto a = testutil::run_example(c.example, c.options, plain);
    auto b = testutil::run_example(c.example, with_results, with);
    EXPECT_EQ(a.status, 0);
    EXPECT_EQ(b.status, 0);
    EXPECT_EQ(without_command_line(a.out), without_command_line(b.out));
    EXPECT_EQ(a.err, b.err);
    const std::string stem = c.example, log = stem + ".out.txt";
    EXPECT_EQ(read_file(plain.file(log)), read_file(with.file(log)));
    std::set<std::string> written = {stem + ".txt", log, stem + ".json", stem + ".models.csv",
                                     stem + ".factors.csv", stem + ".effects.csv", stem + ".svg", stem + ".html"};
    written.insert(c.more.begin(), c.more.end());
    EXPECT_EQ(entries_in(with.path()), written);
    // The JSON names the files written beside it.
    const Json doc = Json::parse(read_file(with.file(stem + ".json")));
    EXPECT_EQ(doc["files"]["svg"], stem + ".svg");
    EXPECT_EQ(doc["files"]["html"], stem + ".html");
  }
}

// Where the result files go, by default and as given. Names that would
// replace the input, the log, its backup, the candidates file, another
// result file, a directory or a special file are refused before anything
// is read or written, however the name is spelt.
TEST(Export, ResultFileNamesGivenDefaultOrRefused) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;            // the end of the screen; "" for a run that succeeds
    std::set<std::string> written;  // besides the input reactor12.txt and the directory sub
    std::function<void(const TempDir &)> setup = nullptr;  // files made before the run
  };
  const auto fifo = [](const TempDir &d) { ASSERT_EQ(mkfifo(d.file("ff").c_str(), 0644), 0); };
  // A copy of /dev/null, when the system lets the tests make one.
  bool devices = true;
  const auto device = [&devices](const TempDir &d) {
    devices = mknod(d.file("fakenull").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
  };
  const auto earlier_log = [](const TempDir &d) { d.write("reactor12.out.txt", "an earlier log\n"); };
  const auto candidates = [](const TempDir &d) {
    d.write("c.txt", "Candidates\nNrows=2 Ncols=3\nData\n1 -1 -1 -1\n2 1 1 1\n");
  };
  const auto would_replace = [](const std::string &name, const std::string &option, const char *what) {
    return "\nRESULT FILE `" + name + "' (" + option + ") WOULD REPLACE the " + what + " file `" + name +
           "' !\nChoose another name; nothing has been changed.\n";
  };
  const std::vector<Case> cases = {
      {{"reactor12", "-L", "--json", "--svg-file", "--html"}, 0, "",
       {"reactor12l.out.txt", "reactor12l.json", "reactor12l.svg", "reactor12l.html"}},
      {{"reactor12", "myout", "--html=sub/page.html"}, 0, "", {"myout.out.txt", "sub/page.html"}},
      {{"reactor12", "--html=reactor12.txt"}, 1, would_replace("reactor12.txt", "--html", "input"), {}},
      {{"reactor12", "--html=reactor12.out.txt"}, 1, would_replace("reactor12.out.txt", "--html", "log"), {}},
      {{"reactor12", "--svg-file=same", "--html=same"}, 1, would_replace("same", "--html", "result"), {}},
      {{"reactor12", "--html=sub"}, 1,
       "\nRESULT FILE `sub' (--html) IS A DIRECTORY !\nChoose another name; nothing has been changed.\n", {}},
      {{"reactor12", "myout", "--csv-files"}, 0, "",
       {"myout.out.txt", "myout.models.csv", "myout.factors.csv", "myout.effects.csv"}},
      {{"reactor12.txt", "--json"}, 0, "", {"reactor12.txt.out.txt", "reactor12.txt.json"}},
      {{"reactor12", "--json=sub/r.json", "--csv-files=sub/t", "--svg-file=figure.svg"}, 0, "",
       {"reactor12.out.txt", "sub/r.json", "sub/t.models.csv", "sub/t.factors.csv", "sub/t.effects.csv", "figure.svg"}},
      {{"reactor12", "--json=reactor12.txt"}, 1, would_replace("reactor12.txt", "--json", "input"), {}},
      {{"reactor12", "--svg-file=reactor12.out.txt"}, 1,
       would_replace("reactor12.out.txt", "--svg-file", "log"), {}},
      {{"reactor12", "--json=same", "--svg-file=same"}, 1, would_replace("same", "--svg-file", "result"), {}},
      {{"reactor12", "--csv-files=x", "--json=x.factors.csv"}, 1,
       would_replace("x.factors.csv", "--csv-files", "result"), {}},
      {{"reactor12", "--json=sub"}, 1,
       "\nRESULT FILE `sub' (--json) IS A DIRECTORY !\nChoose another name; nothing has been changed.\n", {}},
      {{"reactor12", "--json="}, 1, "\nILLEGAL VALUE in option `--json=': a value must follow `=' !\n",
       {}},
      // Two spellings of one name, before the file exists.
      {{"reactor12", "--json=./reactor12.out.txt"}, 1,
       "\nRESULT FILE `./reactor12.out.txt' (--json) WOULD REPLACE the log file `reactor12.out.txt' !\n"
       "Choose another name; nothing has been changed.\n", {}},
      {{"reactor12", "--json=x.json", "--svg-file=./x.json"}, 1,
       "\nRESULT FILE `./x.json' (--svg-file) WOULD REPLACE the result file `x.json' !\n"
       "Choose another name; nothing has been changed.\n", {}},
      {{"reactor12", "--json=x.json", "--svg-file=sub/../x.json"}, 1,
       "\nRESULT FILE `sub/../x.json' (--svg-file) WOULD REPLACE the result file `x.json' !\n"
       "Choose another name; nothing has been changed.\n", {}},
      {{"reactor12", "--json=reactor12.out.txt.bak"}, 1,
       "\nRESULT FILE `reactor12.out.txt.bak' (--json) WOULD REPLACE the backup of the log file "
       "`reactor12.out.txt.bak' !\nChoose another name; nothing has been changed.\n",
       {"reactor12.out.txt"}, earlier_log},
      {{"reactor12", "--follow-up=2", "--candidates=c.txt", "--json=c.txt"}, 1,
       would_replace("c.txt", "--json", "candidates"), {"c.txt"}, candidates},
      {{"reactor12", "--svg-file=ff"}, 1,
       "\nRESULT FILE `ff' (--svg-file) IS NOT A REGULAR FILE: it is a named pipe (FIFO) !\n"
       "Choose another name; nothing has been changed.\n", {"ff"}, fifo},
      {{"reactor12", "--json=fakenull"}, 1,
       "\nRESULT FILE `fakenull' (--json) IS NOT A REGULAR FILE: it is a character device !\n"
       "Choose another name; nothing has been changed.\n", {"fakenull"}, device},
      // A legal name of 250 bytes: its temporary name is cut to fit.
      {{"reactor12", "--json=" + std::string(245, 'n') + ".json"}, 0, "",
       {"reactor12.out.txt", std::string(245, 'n') + ".json"}},
      // A directory as the CSV prefix: the files are named after the input inside it.
      {{"reactor12", "--csv-files=sub/"}, 0, "",
       {"reactor12.out.txt", "sub/reactor12.models.csv", "sub/reactor12.factors.csv",
        "sub/reactor12.effects.csv"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    TempDir dir;
    dir.write("reactor12.txt", read_file(testutil::source_path("examples/reactor12.txt")));
    fs::create_directory(dir.file("sub"));
    if (c.setup) c.setup(dir);
    if (!devices) {
      devices = true;
      continue;
    }
    auto r = run_program(c.args, dir.path());
    EXPECT_EQ(r.status, c.status);
    EXPECT_TRUE(r.out.ends_with(c.message)) << r.out.substr(r.out.size() > 300 ? r.out.size() - 300 : 0);
    std::set<std::string> on_disk = c.written;
    on_disk.insert({"reactor12.txt", "sub"});
    EXPECT_EQ(entries_in(dir.path()), on_disk);
  }
}

// A result file that cannot be written ends the run with status 1 and a
// message after the complete report; no half file and no temporary file is
// left, and an earlier file of that name stays as it was.
TEST(Export, AFailedResultFileLeavesNoHalfFile) {
  TempDir plain;
  ASSERT_EQ(testutil::run_example("reactor12", {"--null"}, plain).status, 0);
  const std::string complete_log = read_file(plain.file("reactor12.out.txt"));
  ASSERT_LT(complete_log.size(), 8000u);
  // The run of reactor12 --null and the option, writing files of file_size bytes at most.
  const auto fails = [&](std::string option, rlim_t file_size, const std::string &message) {
    SCOPED_TRACE(option);
    TempDir dir;
    dir.write("reactor12.txt", read_file(plain.file("reactor12.txt")));
    dir.write("reactor12.json", "the results of an earlier run\n");
    auto r = testutil::run_child([&] {
      if (chdir(dir.path().c_str()) != 0) _exit(120);
      rlimit limit = {file_size, file_size};
      setrlimit(RLIMIT_FSIZE, &limit);
      std::string bin = BAYESCREEN_BIN, design = "reactor12", null = "--null";
      char *argv[] = {bin.data(), design.data(), null.data(), option.data(), nullptr};
      execv(bin.c_str(), argv);
      _exit(121);
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, message);
    EXPECT_EQ(read_file(dir.file("reactor12.out.txt")), complete_log);
    EXPECT_EQ(read_file(dir.file("reactor12.json")), "the results of an earlier run\n");
    EXPECT_EQ(entries_in(dir.path()),
              (std::set<std::string>{"reactor12.txt", "reactor12.out.txt", "reactor12.json"}));
  };
  // A directory that does not exist; a file-size limit that the log stays below and the JSON reaches.
  fails("--json=gone/r.json", RLIM_INFINITY, refusal("CREATE", "gone/r.json", ENOENT));
  fails("--json", 8000, refusal("WRITE", "reactor12.json", EFBIG));
  // The page holds the whole log, so it stops past the log's size.
  fails("--html", 12000, refusal("WRITE", "reactor12.html", EFBIG));
}

// The Labels block names the letters A to Z with I among them, while the
// factors skip I: label k names design column k, so the label given as I=
// belongs to the ninth column, factor J.
TEST(Export, LabelsFollowTheDesignColumnsPastTheEighth) {
  TempDir dir;
  std::string design = ten_columns();
  design.replace(design.find("Ncols=10\n"), 9, "Ncols=10 Pi=0.3\n");
  dir.write("ten.txt", design);
  auto r = run_program({"ten", "--json", "--csv-files", "--svg-file"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.out;
  const Json doc = Json::parse(read_file(dir.file("ten.json")));
  // The options as the run used them: Pi from the parameter line, -N as
  // settled from the columns, the result files by the names written.
  const Json &settings = doc["settings"];
  EXPECT_EQ(settings["pi"], 0.3);
  EXPECT_EQ(settings["options"]["P"], 0.3);
  EXPECT_EQ(settings["options"]["N"], 10);
  EXPECT_EQ(settings["extension_options"],
            Json::parse(R"({"json": "ten.json", "csv-files": "ten", "svg-file": "ten.svg"})"));
  const Json &columns = doc["design"]["design_columns"];
  const Json &factors = doc["factor_weights"]["factors"];
  ASSERT_EQ(columns.size(), 10u);
  ASSERT_EQ(factors.size(), 10u);
  const std::vector<std::pair<std::string, std::string>> named = {  // columns 8, 9 and 10
      {"H", "Heta"}, {"J", "Ninth"}, {"K", "Tenth,\"quoted\""}};
  for (size_t k = 0; k < named.size(); k++) {
    EXPECT_EQ(columns[7 + k]["letter"], named[k].first);
    EXPECT_EQ(columns[7 + k]["label"], named[k].second);
    EXPECT_EQ(factors[7 + k]["letter"], named[k].first);
    EXPECT_EQ(factors[7 + k]["label"], named[k].second);
  }
  for (const Json &m : doc["models"])
    if (m["name"] == "HJK") {
      EXPECT_EQ(m["labels"], Json({"Heta", "Ninth", "Tenth,\"quoted\""}));
      EXPECT_EQ(m["columns"], Json({8, 9, 10}));
    }
  // J, the active ninth column, has the largest probability.
  for (size_t f = 0; f < factors.size(); f++)
    if (f != 8) { EXPECT_LT(factors[f]["postprob"]["share"], factors[8]["postprob"]["share"]); }
  // The CSV quotes the label with a comma and quotes; the SVG escapes it.
  const std::string csv = read_file(dir.file("ten.factors.csv")), svg = read_file(dir.file("ten.svg"));
  EXPECT_TRUE(testutil::contains(csv, "\r\nJ,9,Ninth,"));
  EXPECT_TRUE(testutil::contains(csv, "\r\nK,10,\"Tenth,\"\"quoted\"\"\","));
  EXPECT_TRUE(testutil::contains(svg, ">J</text>\n<text class=\"name\" x=\"50\" y=\"349\">Ninth</text>"));
  EXPECT_TRUE(testutil::contains(svg, ">Tenth,&quot;quoted&quot;</text>"));
}

// The figure of the reactor example, without and with a gamma grid, byte for
// byte. The files were checked by hand and with an XML parser when taken:
// the XML declaration, bars 300 p and 200 p long in the report's order, the
// axis ticks, curves at x0 + w (g - lo)/(hi - lo), the support relative to
// its largest value, the marker at gamma = 1.5 (support 0.202), and curve
// names moved 14 apart but kept above the bottom of the plot.
TEST(Export, FiguresOfTheReactorExampleAsChecked) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--svg-file"}, "reactor12.svg"},
      {{"--gamma-grid=0.5:5:10", "--svg-file"}, "reactor12.gamma-grid.svg"}};
  for (const auto &[options, golden] : cases) {
    SCOPED_TRACE(golden);
    TempDir dir;
    auto r = testutil::run_example("reactor12", options, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir.file("reactor12.svg")), read_file(testutil::source_path("tests/data/" + golden)));
  }
}

// Labels of up to 24 bytes are drawn whole; a longer one is cut to 24 bytes
// and an ellipsis.
TEST(Export, FigureCutsLabelsLongerThanTwentyFourBytes) {
  TempDir dir;
  std::string design = read_file(testutil::source_path("examples/reactor12.txt"));
  const size_t at = design.find("Labels"), end = design.find('\n', at);
  const std::string whole(24, 'w'), longer(25, 'y');
  design.replace(at, end - at, "Labels A=" + whole + " B=" + longer);
  dir.write("long.txt", design);
  auto r = run_program({"long", "--svg-file"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string svg = read_file(dir.file("long.svg"));
  EXPECT_TRUE(testutil::contains(svg, ">" + whole + "</text>"));
  EXPECT_TRUE(testutil::contains(svg, ">" + longer.substr(0, 24) + "\u2026</text>"));
}

#if !defined(__SANITIZE_ADDRESS__)  // the address sanitizer never lets the system refuse
// Memory the system refuses while a result file is formed ends the run, in
// the program's new_handler, with the CANNOT ALLOCATE report and status 1,
// as the counting allocators do, and no file is left.
TEST(Export, RefusedMemoryEndsTheRunWithTheAllocationReport) {
  TempDir dir;
  const std::string path = dir.file("d.json");
  auto r = testutil::run_child([&] {
    using namespace bayescreen;
    // The 131,071 main-effect models of 17 factors: their JSON takes far
    // more than the limit leaves.
    std::vector<std::vector<int>> rows(24, std::vector<int>(17));
    std::vector<double> y(24);
    for (size_t r2 = 0; r2 < rows.size(); r2++) {
      for (size_t j = 0; j < 17; j++) rows[r2][j] = (r2 * 7 + j * 3) % 5 < 2 ? 1 : -1;
      y[r2] = static_cast<double>(r2 % 4);
    }
    const Design design = testutil::make_design(rows, y, 17);
    Settings settings;
    settings.model_space.max_factors = 17;
    settings.model_space.order = 1;
    settings.threads = 1;  // no thread's arena in the address space the limit is set from
    const Results results = analyse(design, settings);
    RunDescription run;
    run.input = "d.txt";
    run.log = "d.out.txt";
    run.json = path;
    std::set_new_handler(no_new_memory);
    testutil::limit_address_space(64 << 10);
    write_result_files(ExportInput{design, settings, results, run});
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("\nCANNOT ALLOCATE ", 0), 0u) << r.err;
  EXPECT_TRUE(entries_in(dir.path()).empty());
}
#endif

namespace {

// The figure's effect panel and its prior-grid fixes, by the marks that
// show them: Lenth's lines for the orthogonal 32-run reactor design
// (ME 3.01 and SME 5.79 by the hand calculation of the README), round
// gamma ticks, a "most support" label kept inside the plot at the grid's
// edge, and the pi the grid panel holds named.
TEST(Export, FigureEffectPanelAndGridMarks) {
  struct Case {
    std::string example;
    std::vector<std::string> options;
    std::vector<std::string> present, absent;
  } cases[] = {
      {"reactor", {"--svg-file"}, {"class=\"half-normal\"", "class=\"pareto\"", ">ME 3.01<", ">SME 5.79<"}, {}},
      {"reactor12",
       {"--gamma-grid=0.5:5:10", "--svg-file"},
       {">1</text>", ">2</text>", ">5</text>", "no Lenth margins: the design is not orthogonal"},
       {">1.5</text>", ">4.5</text>"}},
      {"reactor12",
       {"--gamma-grid=0.1:1:4", "--pi-grid=0.1:0.4:4", "--svg-file"},
       {"text-anchor=\"end\" fill=\"#57606a\" font-size=\"11\">most support: gamma = 1<",
        "the pi the data support most)", "active (pi = 0.25, gamma = 2.5)"},
       {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.options.front());
    TempDir dir;
    auto r = testutil::run_example(c.example, c.options, dir);
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string svg = read_file(dir.file(c.example + ".svg"));
    for (const std::string &part : c.present) EXPECT_TRUE(testutil::contains(svg, part)) << part;
    for (const std::string &part : c.absent) EXPECT_FALSE(testutil::contains(svg, part)) << part;
  }
}

}  // namespace
