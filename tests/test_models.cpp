#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/modelspace.h"
#include "report/echo.h"
#include "report/report.h"
#include "design_fixture.h"
#include "support/logfile.h"
#include "testutil.h"

using namespace bayescreen;

namespace {

std::vector<std::string> model_names(const ModelTable &models) {
  std::vector<std::string> names;
  for (const ModelEntry &m : models) names.push_back(m.name);
  return names;
}

// A design of one run of `columns` columns, the first nvars analysed.
Design design_with_columns(int columns, int nvars) {
  return testutil::make_design({std::vector<int>(static_cast<size_t>(columns), 1)}, {1.0}, nvars);
}

}  // namespace

TEST(Models, EnumerationOrderAndCounts) {
  const int expected_counts[] = {0, 1, 3, 7, 14, 25, 41, 63};
  for (int v = 1; v <= 7; v++) {
    const Design design = design_with_columns(7, v);
    EXPECT_EQ(count_models(design, ModelSpace()), static_cast<uint64_t>(expected_counts[v])) << "nv=" << v;
    EXPECT_EQ(build_model_table(design, ModelSpace()).size(), expected_counts[v]) << "nv=" << v;
  }
  const ModelTable models = build_model_table(design_with_columns(4, 4), ModelSpace());
  EXPECT_EQ(model_names(models),
            (std::vector<std::string>{"A", "B", "C", "D", "AB", "AC", "AD", "BC", "BD", "CD",
                                      "ABC", "ABD", "ACD", "BCD"}));
  for (int i = 0; i < models.size(); i++) {
    EXPECT_EQ(models[i].num, i + 1);
    EXPECT_EQ(models[i].neff, (1 << models[i].nf) - 1);
  }
  const ModelEntry &acd = models[12];
  EXPECT_EQ(acd.nf, 3);
  EXPECT_EQ(acd.fset, 0b1101u);  // columns 0, 2 and 3
  int32_t list[65];
  EXPECT_EQ(column_list(acd.fset, list), 3);
  EXPECT_EQ(std::vector<int32_t>(list, list + 4), (std::vector<int32_t>{0, 2, 3, -1}));
  EXPECT_EQ(column_list(models[4].fset, list), 2);  // AB
  EXPECT_EQ(list[2], -1);
  EXPECT_EQ(acd.ivals, 0u);
}

TEST(Models, NinthFactorIsJ) {
  const ModelTable models = build_model_table(design_with_columns(9, 9), ModelSpace());
  EXPECT_STREQ(models[8].name, "J");
  EXPECT_STREQ(models[9 + 7].name, "AJ");  // the pairs start with AB..AJ
}

// The step display names a model's columns by digits (moff) and its effect
// columns by letters (P-values), and numbers the rows of its matrices
// (the verbose display's X, 2 x 3, and its transpose); the null model has
// no columns to name.
TEST(Models, StepDisplayNamesColumnsAndNumbersMatrixRows) {
  const Design design = testutil::make_design({{1, 1, -1, 1}, {-1, 1, 1, -1}}, {1.0, 2.0}, 4);
  ModelSpace space;
  space.with_null = 1;
  const ModelTable models = build_model_table(design, space);
  ASSERT_STREQ(models[0].name, "(null)");
  ASSERT_STREQ(models[13].name, "ACD");
  Settings settings;
  settings.verbose = 1;
  settings.step = 1;
  settings.model_space = space;

  const double one[1] = {2};
  FitStep null_step;
  null_step.model = &models[0];
  null_step.nc = 1;
  const int32_t no_columns[1] = {-1};
  null_step.base = no_columns;
  const double null_rows[2] = {1, 1};
  const int32_t pattern[2] = {0, 1};
  null_step.rows = null_rows;
  null_step.pattern = pattern;
  null_step.xtx = one;
  null_step.singular = null_step.dropped = true;

  FitStep acd;
  acd.index = 13;
  acd.model = &models[13];
  acd.nc = 3;
  const int32_t base[4] = {0, 2, 3, -1};
  acd.base = base;
  acd.nbase = 3;
  const uint64_t masks[3] = {0, 0b0101, 0b1101};  // intercept, AC, ACD
  acd.masks = masks;
  const double rows[6] = {1, -1, 0.5, 12, 1234.5, -3};
  acd.rows = rows;
  acd.pattern = pattern;
  const double xtx[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  const double beta[3] = {1, 2, 3};
  const double pvalues[3] = {0, 0.25, 0.125};
  acd.xtx = xtx;
  acd.beta = beta;
  acd.pvalues = pvalues;
  acd.xtxg = xtx;
  acd.mode = beta;

  auto r = testutil::run_child([&] {
    ReportPrinter printer(design, settings);
    printer.model_fitted(null_step);
    printer.model_fitted(acd);
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.substr(0, r.out.find("14. Model")),
            "1. Model (null) (nf=0, nc=1, moff=`')\n"
            "Base columns of XIMAT (nn=2, nf=0, moff=)\n\n\n"
            "The design matrix X:\n  1.    1\n  2.    1\n"
            "The matrix XT:\n  1.    1   1\n"
            "The 1x1 matrix XTX for (null):\n  1.    2\n"
            "CROUTP: All potential pivot elements are zero!\n"
            "THE DESIGN MATRIX for model (null) is NOT INVERTIBLE.\n");
  for (const char *line : {"14. Model ACD (nf=3, nc=3, moff=`023')\n"
                           "Base columns of XIMAT (nn=2, nf=3, moff=023)\n"
                           "   1  -1   1\n"
                           "  -1   1  -1\n"
                           "The design matrix X:\n"
                           "  1.    1  -1 0.5\n"
                           "  2.   12 1234.5  -3\n"
                           "The matrix XT:\n"
                           "  1.    1  12\n"
                           "  2.   -1 1234.5\n"
                           "  3.  0.5  -3\n",
                           "Pvalues:   0.25(AC)  0.125(ACD)\n"}) {
    EXPECT_TRUE(testutil::contains(r.out, line)) << r.out;
  }
}

TEST(Models, NameListingWrapsAndGoesToScreenAndLog) {
  testutil::TempDir dir;
  std::string log = dir.file("names.log");
  const Design design = design_with_columns(6, 6);
  auto r = testutil::run_child([&] {
    const ModelTable models = build_model_table(design, ModelSpace());
    openlog_file(log.c_str(), 0);
    show_model_names(design, ModelSpace(), models);
    closelog_file();
  });
  const std::string listing =
      "Models and submodels (n=41):\n"
      "  A  B  C  D  E  F  AB  AC  AD  AE  AF  BC  BD  BE  BF  CD  CE  CF  DE  DF\n"
      "  EF  ABC  ABD  ABE  ABF  ACD  ACE  ACF  ADE  ADF  AEF  BCD  BCE  BCF  BDE\n"
      "  BDF  BEF  CDE  CDF  CEF  DEF\n";
  EXPECT_EQ(r.out, "OPENING the log file `" + log + "'\n" + listing);
  EXPECT_EQ(testutil::read_file(log), listing);
}
