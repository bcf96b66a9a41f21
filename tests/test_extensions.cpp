// End-to-end runs with the extension options: plain command lines give the
// same bytes as ever, every extension word is one the single-letter options
// refuse, bad values end the run, and the model-space options give the
// published results and the reports they promise.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cli/driver.h"
#include "testutil.h"

using testutil::contains;
using testutil::read_file;
using testutil::run_example;
using testutil::run_program;
using testutil::TempDir;

namespace {

// FNV-1a, 64 bits: a compact fingerprint of a run's bytes.
uint64_t fingerprint(const std::string &bytes) {
  uint64_t h = 0xcbf29ce484222325ULL;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 0x100000001b3ULL;
  }
  return h;
}

std::vector<std::string> words_of(const std::string &text) {
  std::vector<std::string> words;
  size_t from = 0;
  while (from < text.size()) {
    size_t to = text.find(' ', from);
    if (to == std::string::npos) to = text.size();
    if (to > from) words.push_back(text.substr(from, to - from));
    from = to + 1;
  }
  return words;
}

// A design file of the given rows (run number first, response last).
std::string design_file(const std::string &heading, const std::vector<std::vector<int>> &rows,
                        const std::vector<double> &y) {
  std::string text = heading + "\nNrows=" + std::to_string(rows.size()) +
                     " Ncols=" + std::to_string(rows[0].size()) + "\nData\n";
  char buf[64];
  for (size_t r = 0; r < rows.size(); r++) {
    text += std::to_string(r + 1) + ".";
    for (int v : rows[r]) text += " " + std::to_string(v);
    snprintf(buf, sizeof buf, " %.6g\n", y[r]);
    text += buf;
  }
  return text;
}

}  // namespace

// Fingerprints of the screen, the error stream and the log of each example
// under single-letter options, taken from the program before the extension
// options existed.
TEST(Extensions, PlainCommandLinesGiveTheSameBytesAsBefore) {
  struct Golden {
    const char *example, *options;
    int status;
    uint64_t fingerprint;
  };
  const Golden golden[] = {
    {"reactor", "", 0, 0xc51a6784ac344096ULL},
    {"reactor", "-C", 0, 0x6c15f612ae8177b5ULL},
    {"reactor", "-D", 0, 0xb4a5d2ad17985a8eULL},
    {"reactor", "-C -D", 0, 0x0504b43f5bfe09f0ULL},
    {"reactor", "-E", 0, 0x151fa313cb54dd55ULL},
    {"reactor", "-C -E", 0, 0x0290fd3c7771ae39ULL},
    {"reactor", "-D -E", 0, 0xf2ef8793a11c065eULL},
    {"reactor", "-C -D -E", 0, 0x4477722f10d15708ULL},
    {"reactor", "-R", 0, 0x434691d20542ba96ULL},
    {"reactor", "-C -R", 0, 0xc16a4d0449a32032ULL},
    {"reactor", "-D -R", 0, 0x665715bdc2877ca9ULL},
    {"reactor", "-C -D -R", 0, 0x84db1388b46acf7bULL},
    {"reactor", "-E -R", 0, 0x698c936f7865a4baULL},
    {"reactor", "-C -E -R", 0, 0x42723c2e5b37989cULL},
    {"reactor", "-D -E -R", 0, 0xe5928f23872c87d5ULL},
    {"reactor", "-C -D -E -R", 0, 0xfbd87ffdeb2ed2f5ULL},
    {"reactor", "-S", 0, 0x5e1ae9b328f6daf3ULL},
    {"reactor", "-V", 0, 0x8f3c7816b6746c86ULL},
    {"reactor", "-A0.05", 0, 0xfd8043f29cc01709ULL},
    {"reactor", "-P0.1", 0, 0x5c49b4b492c7876dULL},
    {"reactor", "-G1.5", 0, 0x7002019fd92055bfULL},
    {"reactor", "-N3", 0, 0x5f591a829a415caeULL},
    {"reactor", "-L", 0, 0x71b49336d17a2380ULL},
    {"reactor", "-S -A0.05", 0, 0x94e14476e68fb30cULL},
    {"reactor12", "", 0, 0xb0c66b3d65530462ULL},
    {"reactor12", "-C", 0, 0x80eb3ff7443af44aULL},
    {"reactor12", "-D", 0, 0xb0a48edcebacf7d0ULL},
    {"reactor12", "-C -D", 0, 0x91baaa9ddea9dbd1ULL},
    {"reactor12", "-E", 0, 0x5a3d83ca94ed9831ULL},
    {"reactor12", "-C -E", 0, 0xf3dbbe1a5f97bcb8ULL},
    {"reactor12", "-D -E", 0, 0xb071502c83566538ULL},
    {"reactor12", "-C -D -E", 0, 0x021132b124935b7fULL},
    {"reactor12", "-R", 0, 0x4dbd81fbadfecab4ULL},
    {"reactor12", "-C -R", 0, 0x3c44edface23a407ULL},
    {"reactor12", "-D -R", 0, 0xc2a72d936748851bULL},
    {"reactor12", "-C -D -R", 0, 0xab60a071eec7fcd4ULL},
    {"reactor12", "-E -R", 0, 0xeb43a98486afde0eULL},
    {"reactor12", "-C -E -R", 0, 0xfe1826b1f87da5c9ULL},
    {"reactor12", "-D -E -R", 0, 0x7dfc65a06f52fbdbULL},
    {"reactor12", "-C -D -E -R", 0, 0xdb1cb48f56398feeULL},
    {"reactor12", "-S", 0, 0x791410b1e3c025a3ULL},
    {"reactor12", "-V", 0, 0x35f00e6a6e84552eULL},
    {"reactor12", "-A0.05", 0, 0x11d6e62787804e81ULL},
    {"reactor12", "-P0.1", 0, 0xbe02b32c32793539ULL},
    {"reactor12", "-G1.5", 0, 0x3e96d6c21538bc71ULL},
    {"reactor12", "-N3", 0, 0x129d491668e6f57cULL},
    {"reactor12", "-L", 0, 0x1439a54ea4639634ULL},
    {"reactor12", "-S -A0.05", 0, 0x7253b2ca95b7cdf2ULL},
    {"injection16", "", 0, 0x6a923e88cc7ee37aULL},
    {"injection16", "-C", 0, 0x9fe492f0ff9d8085ULL},
    {"injection16", "-D", 0, 0x04809d1a1e402794ULL},
    {"injection16", "-C -D", 0, 0x95025a02070a87a8ULL},
    {"injection16", "-E", 0, 0x4ae251c79b291eb1ULL},
    {"injection16", "-C -E", 0, 0xf20ed2a28daf729dULL},
    {"injection16", "-D -E", 0, 0xdc4c3d1fd35e6518ULL},
    {"injection16", "-C -D -E", 0, 0x58ee6ccd54fc1f4cULL},
    {"injection16", "-R", 0, 0x6eedb57ceaa39506ULL},
    {"injection16", "-C -R", 0, 0x62f39ab57ae1a6b4ULL},
    {"injection16", "-D -R", 0, 0xe33c6e4df0395b11ULL},
    {"injection16", "-C -D -R", 0, 0xa25ec275b5cfdcd3ULL},
    {"injection16", "-E -R", 0, 0x0c51ffde900e252eULL},
    {"injection16", "-C -E -R", 0, 0xa55b9f73833f8304ULL},
    {"injection16", "-D -E -R", 0, 0x33576e04c6a511cdULL},
    {"injection16", "-C -D -E -R", 0, 0x82bd6d97bea9a1cfULL},
    {"injection16", "-S", 0, 0x3e2c20a37f1b2f4fULL},
    {"injection16", "-V", 0, 0x58cb3c8f2bb888c6ULL},
    {"injection16", "-A0.05", 0, 0xa2f83f28556423d1ULL},
    {"injection16", "-P0.1", 0, 0xd0008742589c28e3ULL},
    {"injection16", "-G1.5", 0, 0xf2ad85a3973d115dULL},
    {"injection16", "-N3", 0, 0x908d52553f2363e0ULL},
    {"injection16", "-L", 0, 0xa961f5c89aa02860ULL},
    {"injection16", "-S -A0.05", 0, 0x30fe6afeaa901a70ULL},
  };
  for (const Golden &g : golden) {
    SCOPED_TRACE(std::string(g.example) + " " + g.options);
    TempDir dir;
    auto options = words_of(g.options);
    auto r = run_example(g.example, options, dir);
    const bool all = std::string(g.options).find("-L") != std::string::npos;
    const std::string log = read_file(dir.file(std::string(g.example) + (all ? "l" : "") + ".out.txt"));
    EXPECT_EQ(r.status, g.status);
    EXPECT_EQ(fingerprint(r.out + '\0' + r.err + '\0' + log), g.fingerprint);
  }
}

TEST(Extensions, EveryExtensionWordIsOneTheLetterOptionsRefuse) {
  for (const bayescreen::LongOption *row = bayescreen::xopts; row->name != nullptr; row++) {
    for (const std::string &word : {std::string("--") + row->name, std::string("--") + row->name + "=1"}) {
      SCOPED_TRACE(word);
      auto r = testutil::run_child([&] {
        std::string prog = "bayescreen", w = word;
        char *argv[] = {prog.data(), w.data(), nullptr};
        bayescreen::setflags(2, argv, bayescreen::ss, 2, 0);
      });
      EXPECT_EQ(r.status, 1);
    }
  }
}

TEST(Extensions, BadValuesAndImpossibleModelSetsEndTheRun) {
  struct Bad {
    std::vector<std::string> options;
    std::string message;
    bool logged = true;  // found after the log is opened: the log ends with the message too
  };
  const Bad bad[] = {
      {{"--max-factors=6"}, "\nILLEGAL VALUE in option `--max-factors=6': only 5 factors are left to screen !\n"},
      {{"--blocks=5"}, "\nILLEGAL VALUE in option `--blocks=5': 5 columns are analysed, so no factor "
                       "would be left to screen !\n"},
      {{"--blocks=4", "--max-factors=2"}, "\nILLEGAL VALUE in option `--max-factors=2': only 1 factor is left to screen !\n"},
      {{"--gamma-int=0"}, "\nILLEGAL VALUE in option `--gamma-int=0': the prior ratio must be greater than 0 !\n"},
      {{"--gamma-int=-2"}, "\nILLEGAL VALUE in option `--gamma-int=-2': the prior ratio must be greater than 0 !\n"},
      {{"--gamma-int=1e-155"}, "\nILLEGAL VALUE in option `--gamma-int=1e-155': the prior ratio is too small: "
                               "its prior precision 1/G^2 overflows !\n"},
      {{"--gamma-int=1e-150", "--gamma-grid=1e-6:1:3"},
       "\nILLEGAL VALUE in option `--gamma-int=1e-150': at the grid's least gamma its prior precision 1/G^2 "
       "overflows !\n"},
      {{"--gamma-grid=1e-155:1:3"}, "\nILLEGAL VALUE in option `--gamma-grid=1e-155:1:3': LO is too small: its "
                                    "prior precision 1/gamma^2 overflows !\n", false},
      {{"--order=0"}, "\nILLEGAL VALUE in option `--order=0': must lie between 1 and 61 !\n", false},
      {{"--null=yes"}, "\nILLEGAL VALUE in option `--null=yes': this option takes no value !\n", false},
      {{"--max-factors=5", "--order=1", "--null", "--max-models=31"},
       "\nTOO MANY MODELS: the model set holds 32 models, more than the limit of 31 !\n"
       "(Narrow it with --max-factors or --order, or raise the limit with --max-models=N.)\n"},
  };
  for (const Bad &b : bad) {
    SCOPED_TRACE(b.message);
    TempDir dir;
    auto r = run_example("reactor12", b.options, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.ends_with(b.message)) << r.out.substr(r.out.size() > 300 ? r.out.size() - 300 : 0);
    if (b.logged) {
      EXPECT_TRUE(read_file(dir.file("reactor12.out.txt")).ends_with(b.message));
    } else {
      EXPECT_FALSE(testutil::file_exists(dir.file("reactor12.out.txt")));
    }
  }
  // Exactly at the limit the run goes through.
  TempDir dir;
  auto r = run_example("reactor12", {"--max-factors=5", "--order=1", "--null", "--max-models=32"}, dir);
  EXPECT_EQ(r.status, 0);
  // A model matrix of more than 1024 columns is refused before any fit.
  std::vector<std::vector<int>> rows(12, std::vector<int>(12, 1));
  for (int r2 = 0; r2 < 12; r2++) rows[static_cast<size_t>(r2)][static_cast<size_t>(r2)] = -1;
  std::vector<double> y(12);
  for (int r2 = 0; r2 < 12; r2++) y[static_cast<size_t>(r2)] = r2 + 1;  // a constant one is refused
  dir.write("wide.txt", design_file("Wide", rows, y));
  r = run_program({"wide", "--max-factors=11", "--order=11", "--max-models=5000"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.out, "\nTOO MANY COLUMNS: the largest model matrix would have 2048 columns, "
                              "at most 1024 are allowed !\n(Lower --max-factors or --order.)\n"));
  EXPECT_TRUE(read_file(dir.file("wide.out.txt")).ends_with("\nTOO MANY COLUMNS: the largest model matrix would have "
                                                           "2048 columns, at most 1024 are allowed !\n(Lower "
                                                           "--max-factors or --order.)\n"));
}

TEST(Extensions, NullModelGivesThePublishedReactorProbabilities) {
  // Twelve runs of the reactor experiment with the null model in the set:
  // B 0.956, D 0.892, E 0.675, and no factor active 0.036.
  TempDir dir;
  auto r = run_example("reactor12", {"--null"}, dir);
  ASSERT_EQ(r.status, 0);
  const std::string bayes = r.out.substr(r.out.find("Weighting models by Bayesian post.prob."));
  for (const char *line : {"  B:    0.955628    0.95563  *****************************\n",
                           "  D:    0.891745    0.89174  ***************************\n",
                           "  E:    0.675464    0.67546  ********************\n",
                           "  No factor active:  0.0361522    0.03615  *\n"})
    EXPECT_TRUE(contains(bayes, line)) << line;
  // The report names the extensions: on the screen after the option listing,
  // and in the log.
  EXPECT_TRUE(contains(r.out, "   -V - Verbose output\nwith extension options: --null\n"));
  EXPECT_TRUE(contains(read_file(dir.file("reactor12.out.txt")), "\nExtension options in force: --null\n"));
  // The null model has no F statistic: a dash, never nan.
  EXPECT_TRUE(contains(r.out, "\n (null)    0.00000   15.5064         -     3.5e-22   15.5064  0.036\n"));
  EXPECT_FALSE(contains(r.out, "nan"));
}

TEST(Extensions, MainEffectModelsOfManyFactorsFindFiveActiveFactors) {
  // A 12-run Plackett-Burman design in 11 factors with five active ones,
  // y = 50 + 3 (A + B + C + D + E) + noise. Models of up to three factors
  // cannot hold five; main-effect models of up to eleven factors find them.
  const int generator[11] = {1, 1, -1, 1, 1, 1, -1, -1, -1, 1, -1};
  const double noise[12] = {0.3, -1.2, 0.8, 0.1, -0.5, 1.4, -0.9, 0.2, 0.6, -0.3, -1.1, 0.7};
  std::vector<std::vector<int>> rows;
  std::vector<double> y;
  for (int r = 0; r < 12; r++) {
    std::vector<int> row(11, -1);
    if (r < 11)
      for (int j = 0; j < 11; j++) row[static_cast<size_t>(j)] = generator[(j + 11 - r) % 11];
    double sum = 50 + noise[r];
    for (int j = 0; j < 5; j++) sum += 3 * row[static_cast<size_t>(j)];
    rows.push_back(row);
    y.push_back(sum);
  }
  TempDir dir;
  dir.write("pb.txt", design_file("Plackett-Burman 12 runs, five active factors", rows, y));
  auto r = run_program({"pb", "--max-factors=11", "--order=1"}, dir.path());
  ASSERT_EQ(r.status, 0);
  const std::string bayes = r.out.substr(r.out.find("Weighting models by Bayesian post.prob."));
  for (char factor : std::string("ABCDEFGHJKL")) {
    const size_t at = bayes.find(std::string("  ") + factor + ":");
    ASSERT_NE(at, std::string::npos);
    const double share = std::stod(bayes.substr(bayes.find_first_not_of(' ', bayes.find(' ', bayes.find_first_not_of(' ', at + 5)))));
    if (factor <= 'E')
      EXPECT_GT(share, 0.95) << factor;
    else
      EXPECT_LT(share, 0.2) << factor;
  }
}

TEST(Extensions, ModelsWithIdenticalFitsAreListedAsAliases) {
  // A half fraction (C = AB) run twice: AB, AC and BC are built on the same
  // four vectors, and ABC is singular but keeps its posterior.
  const std::vector<std::vector<int>> rows = {{-1, -1, 1}, {1, -1, -1}, {-1, 1, -1}, {1, 1, 1},
                                              {-1, -1, 1}, {1, -1, -1}, {-1, 1, -1}, {1, 1, 1}};
  TempDir dir;
  dir.write("half.txt", design_file("Half fraction twice", rows, {10, 14, 19, 31, 11, 15, 18, 30}));
  auto r = run_program({"half", "--keep-aliased"}, dir.path());
  ASSERT_EQ(r.status, 0);
  EXPECT_TRUE(contains(r.out, "THE DESIGN MATRIX for model ABC is NOT INVERTIBLE.\n"));
  EXPECT_TRUE(contains(r.out, "\nAlias groups among the models listed (identical fits):\n  AB = AC = BC\n"));
  EXPECT_TRUE(contains(read_file(dir.file("half.out.txt")), "\n  AB = AC = BC\n"));
  // The singular model ranks by its posterior, its classical criteria dashes.
  EXPECT_TRUE(contains(r.out, "\n ABC           -         -         -           -         -  0.19\n"));
  // The same groups with the response negated, every value below zero.
  dir.write("neg.txt", design_file("Negated", rows, {-10, -14, -19, -31, -11, -15, -18, -30}));
  r = run_program({"neg", "--keep-aliased"}, dir.path());
  EXPECT_TRUE(contains(r.out, "\nAlias groups among the models listed (identical fits):\n  AB = AC = BC\n"));
  // Without any extension option no alias groups are reported.
  r = run_program({"half"}, dir.path());
  EXPECT_FALSE(contains(r.out, "Alias groups"));
}

TEST(Extensions, StepThroughShowsEveryModelOfTheSet) {
  TempDir dir;
  auto r = run_example("reactor12", {"--null", "--max-factors=4", "--order=2", "-S"}, dir);
  ASSERT_EQ(r.status, 0);
  EXPECT_TRUE(contains(r.out, "1. Model (null) (nf=0, nc=1, moff=`')\n"));
  EXPECT_TRUE(contains(r.out, ". Model BCDE (nf=4, nc=11, moff=`1234')\n"));
  EXPECT_FALSE(contains(r.out + r.err, "MISMATCH"));
  // One pause per model.
  size_t pauses = 0;
  for (size_t at = 0; (at = r.err.find("Press any key", at)) != std::string::npos; at++) pauses++;
  EXPECT_EQ(pauses, 31u);
}

TEST(Extensions, HelpListsEveryExtensionOptionAndStops) {
  TempDir dir;
  auto r = run_program({"--help"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(contains(r.out, "Extension options (opt-in; each a word of its own):\n"));
  for (const bayescreen::LongOption *row = bayescreen::xopts; row->name != nullptr; row++)
    EXPECT_TRUE(contains(r.out, std::string("\n  --") + row->name)) << row->name;
  EXPECT_FALSE(contains(r.out, "Need a file name"));
}

TEST(Extensions, LargeModelSetsListTheirSizesInsteadOfEveryName) {
  // 32 runs of 14 random two-level factors: 16,384 main-effect models.
  std::vector<std::vector<int>> rows;
  std::vector<double> y;
  uint64_t state = 12345;
  for (int r = 0; r < 32; r++) {
    std::vector<int> row;
    for (int j = 0; j < 14; j++) {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      row.push_back(state >> 63 ? 1 : -1);
    }
    y.push_back(20 + 2 * row[0] - row[3] + static_cast<double>(state >> 54) / 1024.0);
    rows.push_back(row);
  }
  TempDir dir;
  dir.write("wide.txt", design_file("Fourteen factors", rows, y));
  auto r = run_program({"wide", "--null", "--max-factors=14", "--order=1"}, dir.path());
  ASSERT_EQ(r.status, 0);
  EXPECT_TRUE(contains(r.out, "Models and submodels (n=16384):\n  the null model\n"
                              "  14 models of 1 factor\n  91 models of 2 factors\n"));
  EXPECT_TRUE(contains(r.out, "  1 model of 14 factors\n"));
  EXPECT_TRUE(contains(r.out, "All models sorted together by BayesPostProb (best 15 out of 16,384):"));
}
