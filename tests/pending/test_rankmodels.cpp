#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "cli/driver.h"
#include "engine/models.h"
#include "engine/rankmodels.h"
#include "design_fixture.h"
#include "support/logfile.h"
#include "testutil.h"

using namespace bayescreen;
using testutil::model_named;

namespace {

// Models of `factors` factors with every statistic set to `value`.
void uniform_models(int factors, double value) {
  testutil::set_design({std::vector<int>(factors, 1)}, {1.0}, factors);
  init_models();
  for (int i = 0; i < nmod; i++) {
    ModelEntry &m = model[i];
    m.adjrsq = m.rmse = m.fstat = m.likelihood = m.rmsec = m.postprob = value;
  }
}

std::vector<std::string> order() {
  std::vector<std::string> names;
  for (int i = 0; i < nmod; i++) names.push_back(model[i].name);
  return names;
}

std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  size_t from = 0;
  for (size_t nlpos; (nlpos = text.find('\n', from)) != std::string::npos; from = nlpos + 1)
    lines.push_back(text.substr(from, nlpos - from));
  return lines;
}

}  // namespace

TEST(RankModels, ComparatorsOrderValidityThenKeyThenNumber) {
  ModelEntry a{}, b{};
  a.num = 1;
  b.num = 2;
  a.wt = 1;
  b.wt = 2;
  EXPECT_EQ(sortmodwtd(&a, &b), 1);
  EXPECT_EQ(sortmodwtd(&b, &a), -1);
  EXPECT_EQ(sortmodwta(&a, &b), -1);
  EXPECT_EQ(sortmodwta(&b, &a), 1);
  b.wt = 1;
  EXPECT_EQ(sortmodwtd(&a, &b), -1);  // ties by enumeration number
  EXPECT_EQ(sortmodwta(&b, &a), 1);
  EXPECT_EQ(sortmodwtd(&a, &a), 0);
  a.invalid = 1;
  a.wt = 100;
  EXPECT_EQ(sortmodwtd(&a, &b), 1);  // invalid after valid whatever the key
  EXPECT_EQ(sortmodwta(&b, &a), -1);
  a.invalid = 0;
  a.wt = NAN;
  EXPECT_EQ(sortmodwtd(&a, &b), 1);  // a key that is not a number goes last
  EXPECT_EQ(sortmodwtd(&b, &a), -1);
  EXPECT_EQ(sortmodwta(&a, &b), 1);
  EXPECT_EQ(sortmodwta(&b, &a), -1);
  a.wt = b.wt = INFINITY;
  EXPECT_EQ(sortmodwtd(&a, &b), -1);  // equal infinities are a tie
}

TEST(RankModels, TiesKeepEnumerationOrderAndInvalidModelsSortLast) {
  uniform_models(4, 1.0);
  // Invalid models carry zeros; the lowest Rmsec would otherwise win.
  for (const char *name : {"B", "AC", "BCD"}) {
    ModelEntry &m = model_named(name);
    m.invalid = 1;
    m.adjrsq = m.rmse = m.fstat = m.likelihood = m.rmsec = m.postprob = 0;
  }
  model_named("D").fstat = NAN;  // a saturated fit's F statistic
  auto r = testutil::run_child([] {
    moreranks = 1;
    rank_models();
    for (int i = 0; i < rank_count; i++) printf("%s ", model[rank_order[i]].name);
  });
  // The ranking ends in BayesPostProb order.
  EXPECT_NE(r.out.find("A C D AB AD BC BD CD ABC ABD ACD B AC BCD "), std::string::npos);

  const char *expected[] = {"A", "C", "D", "AB", "AD", "BC", "BD", "CD", "ABC", "ABD", "ACD",
                            "B", "AC", "BCD"};
  for (int column = 0; column < 3; column++) {
    ModelEntry *copy = model;
    for (int i = 0; i < nmod; i++) copy[i].wt = column == 0 ? copy[i].rmsec : copy[i].postprob;
    qsort(model, static_cast<size_t>(nmod), sizeof(ModelEntry),
          column == 0 ? sortmodwta : sortmodwtd);
    EXPECT_EQ(order(), std::vector<std::string>(expected, expected + 14));
  }
  for (int i = 0; i < nmod; i++) model[i].wt = model[i].fstat;
  qsort(model, static_cast<size_t>(nmod), sizeof(ModelEntry), sortmodwtd);
  EXPECT_EQ(order(), (std::vector<std::string>{"A", "C", "AB", "AD", "BC", "BD", "CD", "ABC",
                                               "ABD", "ACD", "D", "B", "AC", "BCD"}));
}

TEST(RankModels, TablesRulesAndChannels) {
  testutil::TempDir dir;
  std::string log = dir.file("rank.log");
  uniform_models(2, 0.5);
  model_named("B").fstat = 9;
  model_named("B").postprob = 0.7;
  model_named("AB").postprob = 0.2;
  model_named("A").postprob = 0.1;
  auto r = testutil::run_child([&] {
    infile = const_cast<char *>("x.txt");
    openlog_file(log.c_str(), 0);
    rank_models();
    closelog_file();
  });
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
  uniform_models(3, 0.25);
  auto r = testutil::run_child([&] {
    infile = const_cast<char *>("x.txt");
    moreranks = 1;
    openlog_file(log.c_str(), 0);
    rank_models();
    closelog_file();
  });
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
  uniform_models(7, 0.5);  // 7 singles, 21 pairs, 35 triples
  auto r = testutil::run_child([] {
    all_by_size = 1;
    rank_models();
  });
  auto lines = lines_of(r.out);
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

  r = testutil::run_child([] {
    rankall = 1;
    rank_models();
  });
  EXPECT_NE(r.out.find("\nAll models for each model size:\n"), std::string::npos);
  EXPECT_NE(r.out.find("\nAll models sorted together by Fstat (n=63):\n"), std::string::npos);
  EXPECT_NE(r.out.find(" EFG "), std::string::npos);
}

TEST(RankModels, SizesWithoutModelsPrintNoRule) {
  uniform_models(1, 0.5);
  auto r = testutil::run_child([] { rank_models(); });
  const std::string header = " Model  AdjRsq      Rmse     Fstat*     Likelihood  Rmsec   BPostProb \n";
  const std::string line_a =
      " A       0.50000    0.5000    0.5000         0.5    0.5000  0.5\n";
  EXPECT_NE(r.out.find("\nBest 5 for each model size:\n" + header + " " +
                       std::string(71, '-') + "\n" + line_a + "\n\n"),
            std::string::npos);
}

TEST(RankModels, DashRuleIsCappedAt280) {
  auto r = testutil::run_child([] {
    dlen = 1000;
    showdash();
    dlen = 3;
    showdash();
  });
  EXPECT_EQ(r.out, " " + std::string(280, '-') + "\n ---\n");
}
