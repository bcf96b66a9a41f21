// The rankings: the order compare_models gives, the tables rank_models
// forms, and the tables as the report prints them on the screen and in the
// log.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "engine/analysis.h"
#include "engine/modelspace.h"
#include "engine/rankmodels.h"
#include "engine/settings.h"
#include "report/report.h"
#include "design_fixture.h"
#include "support/logfile.h"
#include "testutil.h"

using namespace bayescreen;

namespace {

void set_criteria(ModelEntry &m, double value) {
  m.adjrsq = m.rmse = m.fstat = m.likelihood = m.rmsec = m.postprob = value;
}

// Models of every 1-, 2- and 3-factor set of `factors` factors (of a design
// x.txt of one run) with every statistic set to `value`.
struct Fixture {
  Design design;
  Results results;

  Fixture(int factors, double value) : design(testutil::make_design({std::vector<int>(factors, 1)}, {1.0}, factors)) {
    design.path = "x.txt";
    results.models = build_model_table(design, ModelSpace());
    for (ModelEntry &m : results.models) set_criteria(m, value);
  }

  ModelEntry &operator[](const char *name) {
    return const_cast<ModelEntry &>(testutil::model_named(results.models, name));
  }

  // The ranking tables under the settings, as the report prints them; with
  // a log name, the log file is open while they are printed.
  testutil::Outcome printed(const Settings &settings, const std::string &log = "") {
    results.rankings = rank_models(results.models, settings);
    return testutil::run_child([&] {
      if (!log.empty()) openlog_file(log.c_str(), 0);
      ReportPrinter(design, settings).models_ranked(results);
      closelog_file();
    });
  }
};

std::vector<std::string> names_of(const ModelTable &models, const std::vector<int32_t> &indices) {
  std::vector<std::string> names;
  for (int32_t i : indices) names.push_back(models[i].name);
  return names;
}

std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  size_t from = 0;
  for (size_t nlpos; (nlpos = text.find('\n', from)) != std::string::npos; from = nlpos + 1)
    lines.push_back(text.substr(from, nlpos - from));
  return lines;
}

int sign(int n) { return (n > 0) - (n < 0); }

}  // namespace

TEST(RankModels, CompareModelsOrdersValidityThenKeyThenNumber) {
  // Model a is enumerated before b; each criterion of a model holds its key.
  struct Case {
    const char *what;
    double a_key;
    int a_invalid;
    double b_key;
    int column;
    int keep_aliased;
    int a_vs_b;  // sign of compare_models(a, b); (b, a) gives the opposite
  } cases[] = {
      {"larger probability first", 1, 0, 2, RANK_POSTPROB, 0, 1},
      {"smaller Rmsec first", 1, 0, 2, RANK_RMSEC, 0, -1},
      {"larger F first", 3, 0, 2, RANK_FSTAT, 0, -1},
      {"ties by enumeration number", 1, 0, 1, RANK_POSTPROB, 0, -1},
      {"Rmsec ties by enumeration number", 1, 0, 1, RANK_RMSEC, 0, -1},
      {"invalid after valid whatever the key", 100, 1, 1, RANK_POSTPROB, 0, 1},
      {"invalid after valid by Rmsec too", 0, 1, 1, RANK_RMSEC, 0, 1},
      {"a kept singular model ranks by its key", 100, 1, 1, RANK_POSTPROB, 1, -1},
      {"a key that is not a number goes last", NAN, 0, 1, RANK_POSTPROB, 0, 1},
      {"not a number last by Rmsec too", NAN, 0, 1, RANK_RMSEC, 0, 1},
      {"equal infinities are a tie", INFINITY, 0, INFINITY, RANK_POSTPROB, 0, -1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ModelSpace space;
    space.keep_aliased = c.keep_aliased;
    ModelEntry a, b;
    a.num = 1;
    b.num = 2;
    set_criteria(a, c.a_key);
    set_criteria(b, c.b_key);
    a.invalid = c.a_invalid;
    EXPECT_EQ(sign(compare_models(space, a, b, c.column)), c.a_vs_b);
    EXPECT_EQ(sign(compare_models(space, b, a, c.column)), -c.a_vs_b);
    EXPECT_EQ(compare_models(space, a, a, c.column), 0);
  }
}

TEST(RankModels, TiesKeepEnumerationOrderAndInvalidModelsSortLast) {
  Fixture f(4, 1.0);
  // Invalid models carry zeros; the lowest Rmsec would otherwise win.
  for (const char *name : {"B", "AC", "BCD"}) {
    f[name].invalid = 1;
    set_criteria(f[name], 0);
  }
  f["D"].fstat = NAN;  // a saturated fit's F statistic
  const std::vector<std::string> ties = {"A", "C", "D", "AB", "AD", "BC", "BD", "CD", "ABC", "ABD", "ACD",
                                         "B", "AC", "BCD"};
  const std::vector<std::string> by_fstat = {"A", "C", "AB", "AD", "BC", "BD", "CD", "ABC", "ABD", "ACD",
                                             "D", "B", "AC", "BCD"};
  Settings settings;
  settings.more_ranks = 1;
  const std::vector<RankingTable> tables = rank_models(f.results.models, settings);
  ASSERT_EQ(tables.size(), 4u);
  const struct {
    const char *name;
    int column;
    const std::vector<std::string> &order;
  } expected[] = {{"AdjRsq", RANK_ADJRSQ, ties},
                  {"Fstat", RANK_FSTAT, by_fstat},
                  {"Rmsec", RANK_RMSEC, ties},
                  {"BayesPostProb", RANK_POSTPROB, ties}};
  for (size_t t = 0; t < tables.size(); t++) {
    SCOPED_TRACE(expected[t].name);
    EXPECT_STREQ(tables[t].name, expected[t].name);
    EXPECT_EQ(tables[t].column, expected[t].column);
    EXPECT_EQ(names_of(f.results.models, tables[t].overall), expected[t].order);
  }
  // The likelihood, which no table sorts by, orders the same way.
  std::vector<int32_t> order(14);
  for (int32_t i = 0; i < 14; i++) order[static_cast<size_t>(i)] = i;
  std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
    return compare_models(settings.model_space, f.results.models[a], f.results.models[b], RANK_LIKELIHOOD) < 0;
  });
  EXPECT_EQ(names_of(f.results.models, order), ties);
}

TEST(RankModels, TablesRulesAndChannels) {
  testutil::TempDir dir;
  std::string log = dir.file("rank.log");
  Fixture f(2, 0.5);
  f["B"].fstat = 9;
  f["B"].postprob = 0.7;
  f["AB"].postprob = 0.2;
  f["A"].postprob = 0.1;
  auto r = f.printed(Settings(), log);
  const std::string header = " Model  AdjRsq      Rmse     Fstat*     Likelihood  Rmsec   BPostProb \n";
  ASSERT_EQ(header.size(), 71u);
  const std::string rule71 = " " + std::string(71, '-') + "\n";
  const std::string line_b =
      " B       0.50000    0.5000    9.0000         0.5    0.5000  0.7\n";
  const std::string line_a =
      " A       0.50000    0.5000    0.5000         0.5    0.5000  0.1\n";
  const std::string line_ab =
      " AB      0.50000    0.5000    0.5000         0.5    0.5000  0.2\n";
  const std::string fstat_tables =
      "\nBest 5 for each model size:\n" + header + rule71 + line_b + line_a +
      // the rule between sizes is one dash longer than the line above it
      " " + std::string(line_a.size(), '-') + "\n" + line_ab + "\n" +
      "\nAll models sorted together by Fstat (best 15 out of 3):\n" + header + rule71 + line_b +
      line_a + line_ab;
  std::string post_header = header;
  post_header.replace(post_header.find("Fstat*"), 6, "Fstat ");
  post_header.replace(post_header.find("BPostProb "), 10, "BPostProb*");
  const std::string post_table =
      "\nAll models sorted together by BayesPostProb (best 15 out of 3):\n" + post_header + rule71 +
      line_b + line_ab + line_a;
  EXPECT_EQ(r.out, "OPENING the log file `" + log + "'\n" +
                       "\nSorting 3 models by Fstat (data from x.txt):\n" + fstat_tables +
                       "\nSorting 3 models by BayesPostProb (pi=0.25, gam=2.5):\n" + post_table +
                       "\n(*) - Models sorted by this column.\n");
  EXPECT_EQ(testutil::read_file(log), fstat_tables + post_table);
}

TEST(RankModels, MoreSortsAndTheirChannels) {
  testutil::TempDir dir;
  std::string log = dir.file("rank.log");
  Fixture f(3, 0.25);
  Settings settings;
  settings.more_ranks = 1;
  auto r = f.printed(settings, log);
  std::string text = testutil::read_file(log);
  // The AdjRsq heading reaches the log, the later headings only the screen.
  EXPECT_EQ(text.find("\nSorting 7 models by AdjRsq (data from x.txt):\n"), 0u);
  EXPECT_NE(r.out.find("\nSorting 7 models by Fstat:\n"), std::string::npos);
  EXPECT_NE(r.out.find("\nSorting 7 models by Rmsec (pi=0.25, gam=2.5):\n"), std::string::npos);
  EXPECT_EQ(text.find("Sorting 7 models by Fstat"), std::string::npos);
  EXPECT_EQ(text.find("Sorting 7 models by Rmsec"), std::string::npos);
  EXPECT_EQ(text.find("(*)"), std::string::npos);
  // With -C and without -E no ranking prints a within-size table.
  EXPECT_EQ(r.out.find("Best 5 for each model size"), std::string::npos);
  for (const char *name : {"AdjRsq", "Fstat", "Rmsec", "BayesPostProb"})
    EXPECT_NE(text.find(std::string("\nAll models sorted together by ") + name +
                        " (best 15 out of 7):\n"),
              std::string::npos);
  // Each criterion marks its own column.
  EXPECT_NE(text.find(" Model  AdjRsq*     Rmse     Fstat "), std::string::npos);
  EXPECT_NE(text.find("Likelihood  Rmsec*  BPostProb \n"), std::string::npos);
}

TEST(RankModels, WithinSizeLimitsAndAllModels) {
  Fixture f(7, 0.5);  // 7 singles, 21 pairs, 35 triples
  Settings settings;
  settings.all_by_size = 1;
  auto r = f.printed(settings);
  int singles = 0, pairs = 0, triples = 0;
  size_t start = r.out.find("Best 5 for each model size:");
  size_t end = r.out.find("All models sorted together by Fstat");
  for (const auto &l : lines_of(r.out.substr(start, end - start))) {
    if (l.size() < 6 || l[0] != ' ' || l[1] == '-' || l.find("Model") != std::string::npos)
      continue;
    size_t len = l.find(' ', 1) - 1;
    (len == 1 ? singles : len == 2 ? pairs : triples)++;
  }
  EXPECT_EQ(singles, 5);
  EXPECT_EQ(pairs, 5);
  EXPECT_EQ(triples, 5);
  // -E gives the Bayesian ranking a within-size table too.
  EXPECT_NE(r.out.find("BayesPostProb (pi=0.25, gam=2.5):\n\nBest 5 for each model size:"),
            std::string::npos);

  settings = Settings();
  settings.rank_all = 1;
  r = f.printed(settings);
  EXPECT_NE(r.out.find("\nAll models for each model size:\n"), std::string::npos);
  EXPECT_NE(r.out.find("\nAll models sorted together by Fstat (n=63):\n"), std::string::npos);
  EXPECT_NE(r.out.find(" EFG "), std::string::npos);
}

TEST(RankModels, SizesWithoutModelsPrintNoRule) {
  Fixture f(1, 0.5);
  auto r = f.printed(Settings());
  const std::string header = " Model  AdjRsq      Rmse     Fstat*     Likelihood  Rmsec   BPostProb \n";
  const std::string line_a =
      " A       0.50000    0.5000    0.5000         0.5    0.5000  0.5\n";
  EXPECT_NE(r.out.find("\nBest 5 for each model size:\n" + header + " " +
                       std::string(71, '-') + "\n" + line_a + "\n\n"),
            std::string::npos);
}

TEST(RankModels, DashRuleIsCappedAt280) {
  // A model name of 300 letters makes every line of the tables longer than
  // 280 characters: the rules, which take the length of the line above
  // them, stop at 280 under the heading and between the sizes.
  Fixture f(2, 0.5);
  const std::string long_name(300, 'Z');
  f["AB"].name = long_name.c_str();
  auto r = f.printed(Settings());
  const std::string rule = " " + std::string(280, '-') + "\n";
  EXPECT_EQ(r.out.find(std::string(281, '-')), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("BPostProb \n" + rule + " A "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n" + rule + " " + long_name + "  "), std::string::npos) << r.out;
}
