#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/models.h"
#include "engine/readdat.h"
#include "design_fixture.h"
#include "support/logfile.h"
#include "testutil.h"

using namespace bayescreen;

namespace {

std::vector<std::string> model_names() {
  std::vector<std::string> names;
  for (int i = 0; i < nmod; i++) names.push_back(model[i].name);
  return names;
}

void design_with_columns(int columns, int nvars) {
  testutil::set_design({std::vector<int>(columns, 1)}, {1.0}, nvars);
}

}  // namespace

TEST(Models, EnumerationOrderAndCounts) {
  const int expected_counts[] = {0, 1, 3, 7, 14, 25, 41, 63};
  for (int v = 1; v <= 7; v++) {
    design_with_columns(7, v);
    init_models();
    EXPECT_EQ(nmod, expected_counts[v]) << "nv=" << v;
    EXPECT_EQ(nxmod, static_cast<unsigned>(expected_counts[v] + 3));
  }
  design_with_columns(4, 4);
  init_models();
  EXPECT_EQ(model_names(),
            (std::vector<std::string>{"A", "B", "C", "D", "AB", "AC", "AD", "BC", "BD", "CD",
                                      "ABC", "ABD", "ACD", "BCD"}));
  for (int i = 0; i < nmod; i++) {
    EXPECT_EQ(model[i].num, i + 1);
    EXPECT_EQ(model[i].neff, (1 << model[i].nf) - 1);
  }
  const ModelEntry &acd = model[12];
  EXPECT_EQ(acd.nf, 3);
  EXPECT_EQ(acd.fset, 0b1101u);  // columns 0, 2 and 3
  int32_t list[65];
  EXPECT_EQ(column_list(acd.fset, list), 3);
  EXPECT_EQ(std::vector<int32_t>(list, list + 4), (std::vector<int32_t>{0, 2, 3, -1}));
  EXPECT_EQ(column_list(model[4].fset, list), 2);  // AB
  EXPECT_EQ(list[2], -1);
  EXPECT_EQ(acd.ivals, 0u);
  // The spare entries beyond the models are zero-filled.
  EXPECT_EQ(model[nmod].num, 0);
  EXPECT_EQ(model[nmod].name, nullptr);
}

TEST(Models, NinthFactorIsJ) {
  testutil::set_design({std::vector<int>(9, 1)}, {1.0}, 9);
  init_models();
  EXPECT_STREQ(model[8].name, "J");
  EXPECT_STREQ(model[9 + 7].name, "AJ");  // the pairs start with AB..AJ
}

TEST(Models, ColumnListsAsLettersAndDigits) {
  design_with_columns(4, 4);
  const int32_t list[5] = {0, 2, 3, -1, 0};
  EXPECT_STREQ(show_int_moff(list), "023");
  EXPECT_STREQ(show_char_moff(list), "ACD");
  // Each keeps its own buffer, so both can feed one print call.
  const char *digits = show_int_moff(list);
  const char *letters = show_char_moff(list);
  EXPECT_STREQ(digits, "023");
  EXPECT_STREQ(letters, "ACD");
  const int32_t empty[5] = {-1, 0, 0, 0, 0};
  EXPECT_STREQ(show_char_moff(empty), "");
  init_one_mod(nullptr, 0, 1, 2);  // a missing entry is ignored
  // An entry filled after the model set was built gets its own name, past
  // the names of the set, which stay as they were.
  init_models();
  ModelEntry extra{};
  init_one_mod(&extra, 0, 2, 3);
  EXPECT_STREQ(extra.name, "ACD");
  EXPECT_EQ(extra.fset, 0b1101u);
  EXPECT_STREQ(model[nmod - 1].name, "BCD");
}

TEST(Models, NameListingWrapsAndGoesToScreenAndLog) {
  testutil::TempDir dir;
  std::string log = dir.file("names.log");
  auto r = testutil::run_child([&] {
    design_with_columns(6, 6);
    init_models();
    openlog_file(log.c_str(), 0);
    show_model_names();
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

TEST(Models, ShowmatPrintsNumberedRows) {
  auto r = testutil::run_child([] {
    const double m[6] = {1, -1, 0.5, 12, 1234.5, -3};
    showmat(m, 2, 3);
  });
  EXPECT_EQ(r.out, "  1.    1  -1 0.5\n  2.   12 1234.5  -3\n");
}
