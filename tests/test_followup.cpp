// Follow-up runs: the MD criterion against the exact pairwise reference
// (tests/tools/followup_reference.py), the exhaustive and the exchange
// searches, and whole runs: the published injection-moulding design,
// candidate files, repeatable heuristic searches and refused requests.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/calcmodels.h"
#include "engine/candidates.h"
#include "engine/followup.h"
#include "engine/modelspace.h"
#include "engine/settings.h"
#include "design_fixture.h"
#include "testutil.h"

using namespace bayescreen;
using testutil::contains;
using testutil::read_file;
using testutil::run_example;
using testutil::run_program;
using testutil::TempDir;

using testutil::full_factorial;
using testutil::kReactor12Rows;
using testutil::kReactor12Y;
using testutil::model_space;

namespace {

struct KnownDesign { std::vector<int32_t> runs; double md; };
struct ModelVariance { const char *name; double s2; };

struct CriterionCase {
  const char *title;
  std::vector<std::vector<int>> rows;
  std::vector<double> y;
  ModelSpace space;
  double gamma;
  int md_models;
  std::vector<std::vector<int>> candidates;  // empty: the full factorial of the leading factors
  std::vector<ModelVariance> models;         // the leading models (any order among ties) and s^2
  std::vector<KnownDesign> designs;
};

// Candidates with a centre run and a run outside the cube.
const std::vector<std::vector<int>> kReactorCandidates = {
    {0, 0, 0, 0, 0}, {1, 1, 1, 1, 1}, {-1, 1, -1, 1, -1}, {1, -1, -1, 1, 1}, {2, -1, 1, 0, -1},
    {-1, -1, 1, 1, -1}};

// Factors A, C, E and H of the injection-moulding runs (examples/injection16.txt).
void injection_design(std::vector<std::vector<int>> *rows, std::vector<double> *y) {
  const std::string text = read_file(testutil::source_path("examples/injection16.txt"));
  const char *line = text.c_str() + text.find("\nData\n") + 6;
  for (int r = 0; r < 16; r++, line = strchr(line, '\n') + 1) {
    int a, c, e, h;
    double response;
    ASSERT_EQ(sscanf(line, "%*d. %d %*d %d %*d %d %*d %*d %d %lf", &a, &c, &e, &h, &response), 5) << line;
    rows->push_back({a, c, e, h});
    y->push_back(response);
  }
}

// From tests/tools/followup_reference.py.
std::vector<CriterionCase> criterion_cases() {
  std::vector<std::vector<int>> inj;
  std::vector<double> yinj;
  injection_design(&inj, &yinj);
  return {
      {"2^4, --blocks=1 --gamma-int=1.5 --md-models=4", full_factorial(4),
       {20, 23, 19, 24, 22, 21, 20, 25, 21, 24, 20, 22, 23, 22, 19, 26}, model_space(1, 3, 3, 0, 0, 1.5),
       2.5, 4, {},
       {{"C", 2.1770214521452145}, {"D", 2.2430280528052804}, {"B", 2.2760313531353136}, {"BC", 2.071544688252609}},
       {{{0, 1, 2}, 0.028737379749110347},
        {{5, 5, 7}, 0.02925289620109344},
        {{0, 0, 0}, 0.00040379792469474884},
        {{3, 6, 7}, 0.013006555397665206},
        {{1, 2, 4}, 0.043975999727929864}}},
      {"reactor12, --null --max-factors=5 --order=1 --md-models=6, candidates", kReactor12Rows,
       kReactor12Y, model_space(0, 5, 1, 1, 0, 0), 2.5, 6, kReactorCandidates,
       {{"B", 119.86533094098884}, {"(null)", 240.4469696969697}, {"BE", 90.19278309409889}, {"BD", 106.0420653907496}, {"AB", 110.70713716108453}, {"E", 210.77442185007973}},
       {{{0, 1}, 0.07634037051566095},
        {{2, 3}, 0.29976709448522804},
        {{4, 4}, 0.005311382905315063},
        {{0, 1, 2, 3, 5}, 0.5676082451959968},
        {{1, 1, 4, 5, 5}, 0.6047105543457597}}},
      {"injection A C E H, --null --max-factors=4 --keep-aliased -G2 --md-models=5", inj, yinj,
       model_space(0, 4, 3, 1, 1, 0), 2.0, 5, {},
       {{"ABC", 0.5815384615384612}, {"ABD", 0.5815384615384612}, {"ACD", 0.5815384615384612}, {"BCD", 0.5815384615384612}, {"ABCD", 0.4411989664082684}},
       {{{8, 8, 11, 14}, 85.72626373665061},
        {{8, 11, 13, 14}, 84.89337154805334}}},
  };
}

CandidateRuns candidates_of(const bayescreen::Design &design, const std::vector<std::vector<int>> &rows) {
  CandidateRuns c;
  c.columns = design.columns;
  c.count = static_cast<int32_t>(rows.size());
  for (const auto &row : rows) c.levels.insert(c.levels.end(), row.begin(), row.end());
  for (int col = 0; col < design.analysed; col++) c.shown.push_back(col);
  return c;
}

class FollowUpTest : public ::testing::Test {
 protected:
  // Fits the case's model set by the given path; returns its leading
  // models, and sets cands_ to the case's candidates.
  std::vector<int32_t> fit(const CriterionCase &c, FitPath path = FitPath::Auto) {
    design_ = testutil::make_design(c.rows, c.y, static_cast<int>(c.rows[0].size()));
    settings_ = Settings();
    settings_.model_space = c.space;
    settings_.gamma = c.gamma;
    models_ = build_model_table(design_, settings_.model_space);
    calc_model_fields(design_, settings_, models_, nullptr, path);
    std::vector<int32_t> lead = leading_models(settings_.model_space, models_, c.md_models);
    uint64_t factors = 0;
    for (int32_t i : lead) factors |= models_[i].fset;
    cands_ = c.candidates.empty() ? full_factorial_candidates(design_, factors)
                                  : candidates_of(design_, c.candidates);
    return lead;
  }
  // The criterion of the leading models of the last fit over its candidates.
  MdCriterion criterion(const std::vector<int32_t> &lead, int max_runs) const {
    return MdCriterion(design_, settings_, models_, lead, cands_, max_runs);
  }

  bayescreen::Design design_;
  Settings settings_;
  ModelTable models_;
  CandidateRuns cands_;
};

}  // namespace

TEST_F(FollowUpTest, CriterionMatchesTheExactPairwiseReference) {
  for (FitPath path : {FitPath::ByRows, FitPath::ByCrossProducts}) {
    for (const CriterionCase &c : criterion_cases()) {
      SCOPED_TRACE(std::string(c.title) + (path == FitPath::ByRows ? " by rows" : " by cross products"));
      MdCriterion crit = criterion(fit(c, path), 5);
      ASSERT_EQ(crit.models().size(), c.models.size());
      double previous = 1;
      for (const FollowUpModel &m : crit.models()) {
        SCOPED_TRACE(models_[m.index].name);
        EXPECT_LE(m.postprob, previous);
        EXPECT_EQ(m.postprob, models_[m.index].postprob);
        previous = m.postprob;
        auto ref = std::find_if(c.models.begin(), c.models.end(), [&](const ModelVariance &v) {
          return std::string(v.name) == models_[m.index].name;
        });
        ASSERT_NE(ref, c.models.end());
        EXPECT_NEAR(m.s2, ref->s2, 1e-10 * ref->s2);
      }
      for (const KnownDesign &d : c.designs) {
        SCOPED_TRACE(::testing::PrintToString(d.runs));
        EXPECT_NEAR(crit.evaluate(d.runs.data(), static_cast<int>(d.runs.size())), d.md, 1e-9 * d.md);
        // The order of the runs does not matter.
        std::vector<int32_t> reversed(d.runs.rbegin(), d.runs.rend());
        EXPECT_NEAR(crit.evaluate(reversed.data(), static_cast<int>(reversed.size())), d.md, 1e-9 * d.md);
      }
    }
  }
}

TEST(FollowUp, MultisetCountsAndTheirCap) {
  struct Count { int64_t candidates; int runs; uint64_t cap, expected; };
  const Count counts[] = {
      {16, 4, kMaxExhaustiveDesigns, 3876},           // the injection-moulding search
      {1, 5, kMaxExhaustiveDesigns, 1},               // one candidate, taken five times
      {6, 2, kMaxExhaustiveDesigns, 21},
      {0, 3, kMaxExhaustiveDesigns, 0},
      {1999, 2, kMaxExhaustiveDesigns, 1999000},      // just under the cap
      {2000, 2, kMaxExhaustiveDesigns, UINT64_MAX},   // 2,001,000: over it
      {64, 8, kMaxExhaustiveDesigns, UINT64_MAX},
      {4096, 64, kMaxExhaustiveDesigns, UINT64_MAX},
      {64, 8, UINT64_MAX - 1, 10639125640ULL},        // under a higher cap
  };
  for (const Count &c : counts) {
    SCOPED_TRACE(std::to_string(c.candidates) + " choose " + std::to_string(c.runs));
    EXPECT_EQ(multiset_count(c.candidates, c.runs, c.cap), c.expected);
  }
}

TEST_F(FollowUpTest, ExhaustiveSearchFindsTheBestOfEveryDesign) {
  // The three best of all 21 designs of 2 runs from the reactor candidates,
  // by brute force in the reference.
  MdCriterion crit = criterion(fit(criterion_cases()[1]), 2);
  uint64_t evaluated = 0;
  std::vector<FollowUpDesign> best = search_exhaustive(crit, 2, 3, &evaluated);
  EXPECT_EQ(evaluated, 21u);
  const KnownDesign expected[] = {{{2, 3}, 0.29976709448522804}, {{1, 5}, 0.2677677040531563}, {{1, 4}, 0.26222150328925464}};
  ASSERT_EQ(best.size(), 3u);
  for (size_t d = 0; d < 3; d++) {
    EXPECT_EQ(best[d].runs, expected[d].runs);
    EXPECT_NEAR(best[d].md, expected[d].md, 1e-9 * expected[d].md);
  }
}

TEST_F(FollowUpTest, ExhaustiveAndExchangeSearchesAgree) {
  // The reactor's leading main-effect models hold A, B, D and E: 16
  // candidates, 816 designs of 3 runs, few enough for both searches.
  CriterionCase c = criterion_cases()[1];
  c.candidates.clear();
  MdCriterion crit = criterion(fit(c), 3);
  ASSERT_EQ(cands_.count, 16);
  uint64_t exhaustive_count = 0, exchange_count = 0;
  int32_t reached = 0;
  std::vector<FollowUpDesign> exact = search_exhaustive(crit, 3, 5, &exhaustive_count);
  std::vector<FollowUpDesign> found = search_exchange(crit, 3, 5, 20, 7, &exchange_count, &reached);
  EXPECT_EQ(exhaustive_count, 816u);
  ASSERT_EQ(exact.size(), 5u);
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(found[0].runs, exact[0].runs);
  EXPECT_NEAR(found[0].md, exact[0].md, 1e-12 * exact[0].md);
  EXPECT_GE(reached, 1);
  for (size_t d = 0; d < exact.size(); d++) {
    // Best first, distinct, each a sorted multiset whose value is its MD.
    if (d > 0) { EXPECT_GE(exact[d - 1].md, exact[d].md); }
    EXPECT_TRUE(std::is_sorted(exact[d].runs.begin(), exact[d].runs.end()));
    for (size_t e = 0; e < d; e++) EXPECT_NE(exact[d].runs, exact[e].runs);
    EXPECT_NEAR(crit.evaluate(exact[d].runs.data(), 3), exact[d].md, 1e-12 * exact[d].md);
  }
  // No design the exchange met beats the exhaustive best.
  for (const FollowUpDesign &d : found) EXPECT_LE(d.md, exact[0].md * (1 + 1e-12));
}

TEST_F(FollowUpTest, ExchangeForOneRunMeetsEveryCandidate) {
  // One run from the six reactor candidates: a single start meets its
  // random candidate and then every other one, so all six designs come
  // back, in the exhaustive search's order, whichever candidate it starts
  // from (the seeds 1 to 19 start from each of them).
  MdCriterion crit = criterion(fit(criterion_cases()[1]), 1);
  uint64_t exhaustive_count = 0, exchange_count = 0;
  std::vector<FollowUpDesign> exact = search_exhaustive(crit, 1, 10, &exhaustive_count);
  ASSERT_EQ(exact.size(), 6u);
  for (uint64_t seed = 1; seed <= 19; seed++) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    int32_t reached = 0;
    std::vector<FollowUpDesign> found = search_exchange(crit, 1, 10, 1, seed, &exchange_count, &reached);
    ASSERT_EQ(found.size(), 6u);
    for (size_t d = 0; d < 6; d++) {
      EXPECT_EQ(found[d].runs, exact[d].runs);
      EXPECT_EQ(found[d].md, exact[d].md);
    }
    EXPECT_EQ(reached, 1);
  }
}

TEST_F(FollowUpTest, TheSameSeedGivesTheSameDesigns) {
  MdCriterion crit = criterion(fit(criterion_cases()[0]), 6);
  uint64_t counts[2] = {0, 0};
  std::vector<FollowUpDesign> designs[2];
  for (int again = 0; again < 2; again++) {
    int32_t reached = 0;
    designs[again] = search_exchange(crit, 6, 4, 5, 12345, &counts[again], &reached);
  }
  EXPECT_EQ(counts[0], counts[1]);
  ASSERT_EQ(designs[0].size(), designs[1].size());
  for (size_t d = 0; d < designs[0].size(); d++) {
    EXPECT_EQ(designs[0][d].runs, designs[1][d].runs);
    EXPECT_EQ(designs[0][d].md, designs[1][d].md);
  }
}

TEST_F(FollowUpTest, LeadingModelsAreThoseWithAPosterior) {
  // A half fraction run twice: ABC is singular and takes no part unless
  // kept; the leading models come by posterior probability.
  const std::vector<std::vector<int>> half = {{-1, -1, 1}, {1, -1, -1}, {-1, 1, -1}, {1, 1, 1},
                                              {-1, -1, 1}, {1, -1, -1}, {-1, 1, -1}, {1, 1, 1}};
  for (int keep : {0, 1}) {
    CriterionCase c{"half", half, {10, 14, 19, 31, 11, 15, 18, 30}, model_space(0, 3, 3, 0, keep, 0), 2.5, 100, {}, {}, {}};
    std::vector<int32_t> lead = fit(c);
    EXPECT_EQ(lead.size(), keep ? 7u : 6u);
    for (size_t i = 1; i < lead.size(); i++) EXPECT_GE(models_[lead[i - 1]].postprob, models_[lead[i]].postprob);
    EXPECT_EQ(leading_models(settings_.model_space, models_, 2).size(), 2u);
  }
}

// ---- Whole runs -------------------------------------------------------------------

namespace {

// The 16 runs of the injection-moulding design with factors A, C, E and H
// only, labelled with their letters in the full design.
std::string injection_file() {
  std::vector<std::vector<int>> rows;
  std::vector<double> y;
  injection_design(&rows, &y);
  std::string text = "Injection moulding: factors A, C, E and H of the 2^(8-4) design\n"
                     "Nrows=16 Ncols=4\nLabels A=A B=C C=E D=H\nData\n";
  char buf[80];
  for (size_t r = 0; r < rows.size(); r++) {
    snprintf(buf, sizeof buf, "%zu. %d %d %d %d %.1f\n", r + 1, rows[r][0], rows[r][1], rows[r][2],
             rows[r][3], y[r]);
    text += buf;
  }
  return text;
}

double children_cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

std::string follow_up_section(const std::string &out) {
  size_t from = out.find("\nFollow-up runs:");
  size_t to = out.find("\nClosing the log file");
  if (from == std::string::npos) return "";
  return out.substr(from, to == std::string::npos ? std::string::npos : to - from);
}

// The follow-up section of a run on reactor12 that must succeed.
std::string reactor12_follow_up(const std::vector<std::string> &options, const TempDir &dir) {
  auto r = run_example("reactor12", options, dir);
  EXPECT_EQ(r.status, 0) << r.out;
  return follow_up_section(r.out);
}

// The last characters of a long output, for failure messages.
std::string tail(const std::string &out, size_t n) { return out.substr(out.size() > n ? out.size() - n : 0); }

}  // namespace

TEST(FollowUpRun, PublishedInjectionMouldingDesign) {
  // Meyer, Steinberg and Box (1996): the best 4 follow-up runs are
  // (-1,-1,-1,+1) twice, (-1,+1,+1,+1) and (+1,+1,-1,+1) in (A, C, E, H),
  // MD 85.73; the next replaces one repeated run by (+1,-1,+1,+1), MD
  // 84.89. H = ACE in these runs, so the four-factor model is singular and
  // takes part with its Box-Meyer posterior, as in the published analysis.
  TempDir dir;
  dir.write("inj.txt", injection_file());
  const double before = children_cpu_seconds();
  auto r = run_program({"inj", "--null", "--max-factors=4", "--keep-aliased", "-G2", "--md-models=5", "--follow-up=4"},
                       dir.path());
  const double cpu = children_cpu_seconds() - before;
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_LT(cpu, 0.2);
  const std::string section = follow_up_section(r.out);
  EXPECT_TRUE(contains(section,
      "  Search: exhaustive, every one of the 3,876 designs (a candidate may be chosen\n"
      "  more than once); the best design is certain.\n"
      "  The 5 best designs (MD, larger is better; the runs as candidate numbers):\n"
      "     1.  MD = 85.7263      9 9 12 15\n"
      "     2.  MD = 84.8934      9 12 14 15\n")) << section;
  EXPECT_TRUE(contains(section,
      "  The best design, one run a line:\n"
      "     Run  Candidate  A=A  B=C  C=E  D=H\n"
      "       1          9   -1   -1   -1    1\n"
      "       2          9   -1   -1   -1    1\n"
      "       3         12    1    1   -1    1\n"
      "       4         15   -1    1    1    1\n")) << section;
  EXPECT_TRUE(contains(section, "    A*C*E*H (ABCD)     0.05661    0.441199\n")) << section;
  // The log holds the same section.
  EXPECT_EQ(follow_up_section(read_file(dir.file("inj.out.txt")) + "\nClosing the log file"), section);
  // Without the singular model the four three-factor models share the
  // probability; the best design stays the same.
  r = run_program({"inj", "--null", "--max-factors=4", "-G2", "--md-models=5", "--follow-up=4"}, dir.path());
  ASSERT_EQ(r.status, 0);
  EXPECT_TRUE(contains(r.out, "     1.  MD = 89.7318      9 9 12 15\n")) << follow_up_section(r.out);
}

TEST(FollowUpRun, CandidateFileRunsAreSearched) {
  // The six reactor candidates of the criterion test, with a Labels block,
  // a comment, a text line and responses on some lines only; the best of
  // the 21 designs of two runs is candidates 3 and 4 (the reference).
  TempDir dir;
  dir.write("cand.txt",
            "Candidate runs for the reactor\nNrows=6 Ncols=5 Pi=0.5\nLabels A=a B=b\nC=c\nData\n"
            "# centre run first\n1. 0 0 0 0 0\n2. 1 1 1 1 1 77.5\nouter runs\n3. -1 1 -1 1 -1\n"
            "4. 1 -1 -1 1 1 60\n5. 2 -1 1 0 -1\n6. -1 -1 1 1 -1\n");
  const std::string section = reactor12_follow_up(
      {"--null", "--max-factors=5", "--order=1", "--md-models=6", "--follow-up=2", "--candidates=cand.txt", "--top=3"},
      dir);
  EXPECT_TRUE(contains(section, "  Candidate runs: the 6 runs of cand.txt, numbered in file order.\n"));
  EXPECT_TRUE(contains(section,
      "     1.  MD = 0.299767     3 4\n"
      "     2.  MD = 0.267768     2 6\n"
      "     3.  MD = 0.262222     2 5\n")) << section;
  EXPECT_TRUE(contains(section,
      "     Run  Candidate  A=FeedRate  B=Catalyst  C=Agitation  D=Temperature  E=Concentration\n"
      "       1          3          -1           1           -1              1               -1\n"
      "       2          4           1          -1           -1              1                1\n")) << section;
}

TEST(FollowUpRun, RepeatedCandidatesGiveTheSameCriterionAndTiesInSearchOrder) {
  // The six reactor candidates alone, and repeated 200 times: 1,200
  // candidates for 6 models hold too many pairs for the pair tables, so
  // their terms are formed as the search needs them. The best MD is the
  // same; its copies tie exactly and come in the order the search meets
  // them (the first run's number, then the second's).
  const char *six[] = {"0 0 0 0 0", "1 1 1 1 1", "-1 1 -1 1 -1", "1 -1 -1 1 1", "2 -1 1 0 -1", "-1 -1 1 1 -1"};
  std::string alone = "Six\nNrows=6 Ncols=5\nData\n", repeated = "Repeated\nNrows=1200 Ncols=5\nData\n";
  for (int k = 0; k < 1200; k++) {
    if (k < 6) alone += std::to_string(k + 1) + ". " + six[k] + "\n";
    repeated += std::to_string(k + 1) + ". " + six[k % 6] + "\n";
  }
  TempDir dir;
  dir.write("alone.txt", alone);
  dir.write("repeated.txt", repeated);
  nlohmann::json designs[2];
  for (int r = 0; r < 2; r++) {
    reactor12_follow_up({"--null", "--max-factors=5", "--order=1", "--md-models=6", "--follow-up=2", "--json",
                         r == 0 ? "--candidates=alone.txt" : "--candidates=repeated.txt"}, dir);
    designs[r] = nlohmann::json::parse(read_file(dir.file("reactor12.json")))["follow_up"]["designs"];
  }
  const double md = designs[0][0]["md"];
  EXPECT_EQ(designs[0][0]["candidates"], nlohmann::json({3, 4}));
  const std::vector<std::vector<int>> ties = {{3, 4}, {3, 10}, {3, 16}, {3, 22}, {3, 28}};
  ASSERT_EQ(designs[1].size(), ties.size());
  for (size_t d = 0; d < ties.size(); d++) {
    EXPECT_EQ(designs[1][d]["candidates"], nlohmann::json(ties[d]));
    EXPECT_NEAR(designs[1][d]["md"].get<double>(), md, 1e-12 * md);
  }
}

TEST(FollowUpRun, FullFactorialCandidatesInStandardOrder) {
  // The two leading models BDE and BD: the 8 level combinations of B, D
  // and E, B changing fastest, so candidate k has B, D and E at the bits
  // 0, 1 and 2 of k - 1.
  TempDir dir;
  const std::string section = reactor12_follow_up({"--md-models=2", "--follow-up=3", "--json"}, dir);
  // The factors by name where the design names them, the lines wrapped.
  EXPECT_TRUE(contains(section, "  Candidate runs: the 8 level combinations of Catalyst (B), Temperature (D),\n"
                                "  Concentration (E), numbered in standard order (B changes fastest).\n"))
      << section;
  const auto best = nlohmann::json::parse(read_file(dir.file("reactor12.json")))["follow_up"]["best_design"];
  ASSERT_EQ(best.size(), 3u);
  for (const auto &run : best) {
    const int k = run["candidate"].get<int>() - 1;
    EXPECT_EQ(run["levels"], nlohmann::json({k & 1 ? 1 : -1, k & 2 ? 1 : -1, k & 4 ? 1 : -1})) << run;
  }
}

TEST(FollowUpRun, BlockColumnsOfTheCandidatesDoNotMatter) {
  // The follow-up runs form a new block: whatever a candidate file gives
  // in the design's block column, the designs and their MD are the same.
  TempDir dir;
  std::string section[2];
  for (int level : {-1, 1}) {
    std::string file = "Candidates\nNrows=4 Ncols=5\nData\n";
    const char *runs[] = {"1 1 1 -1", "-1 1 -1 1", "1 -1 1 1", "-1 -1 -1 -1"};
    for (int k = 0; k < 4; k++) file += std::to_string(k + 1) + ". " + std::to_string(level) + " " + runs[k] + "\n";
    dir.write("cand.txt", file);
    section[level > 0] = reactor12_follow_up({"--blocks=1", "--follow-up=3", "--candidates=cand.txt"}, dir);
  }
  EXPECT_EQ(section[0], section[1]);
  EXPECT_TRUE(contains(section[0], "     Run  Candidate  B=Catalyst  C=Agitation  D=Temperature  E=Concentration\n"));
}

TEST(FollowUpRun, HeuristicSearchRepeatsWithTheSameSeed) {
  // 7 runs from the 32 level combinations of the reactor's five factors:
  // too many designs for the exhaustive search.
  TempDir dir;
  std::vector<std::string> options = {"--null", "--max-factors=5", "--order=1", "--md-models=8",
                                      "--follow-up=7", "--starts=4"};
  const std::string section[2] = {reactor12_follow_up(options, dir), reactor12_follow_up(options, dir)};
  EXPECT_TRUE(contains(section[0],
      "  Search: coordinate exchange from 4 random starts (--random-seed=1) among\n"
      "  about 1.26e+07 designs: HEURISTIC, a better design may exist.")) << section[0];
  EXPECT_EQ(section[1], section[0]);
  options.push_back("--random-seed=99");
  EXPECT_TRUE(contains(reactor12_follow_up(options, dir), "(--random-seed=99)"));
  EXPECT_TRUE(contains(read_file(dir.file("reactor12.out.txt")),
                       "\nExtension options in force: --null --max-factors=5 --order=1 --follow-up=7 "
                       "--md-models=8 --starts=4 --random-seed=99\n"));
}

TEST(FollowUpRun, RefusedRequestsEndTheRun) {
  // message: the end of the screen output, and of the log when the refusal
  // comes after the log is opened (logged)
  struct Bad { std::vector<std::string> options; std::string message; bool logged = true; };
  const std::string needs = "it shapes the follow-up runs, so it needs --follow-up=N !\n";
  std::vector<Bad> bad = {
      {{"--candidates=c.txt"}, "\nILLEGAL VALUE in option `--candidates=c.txt': " + needs},
      {{"--top=3"}, "\nILLEGAL VALUE in option `--top=3': " + needs},
      {{"--random-seed=4"},
       "\nILLEGAL VALUE in option `--random-seed=4': it seeds the follow-up runs' exchange or the model "
       "search, so it needs --follow-up=N or --search=mcmc|auto !\n"},
      {{"--follow-up=0"}, "\nILLEGAL VALUE in option `--follow-up=0': must lie between 1 and 64 !\n", false},
      {{"--follow-up=65"}, "\nILLEGAL VALUE in option `--follow-up=65': must lie between 1 and 64 !\n", false},
      {{"--follow-up=2", "--md-models=1"}, "\nILLEGAL VALUE in option `--md-models=1': must lie between 2 and 1024 !\n",
       false},
      {{"--follow-up=2", "--starts=0"}, "\nILLEGAL VALUE in option `--starts=0': must lie between 1 and 1000000 !\n",
       false},
  };
  // Faulty candidate files, each given to --follow-up=2 --candidates=NAME.
  struct BadFile { const char *name, *text; std::string message; };
  const BadFile bad_files[] = {
      {"wide.txt", "Wide\nNrows=2 Ncols=6\nData\n1. 1 1 1 1 1 1\n2. 1 1 1 1 1 1\n",
       "\nCANDIDATE RUNS DO NOT MATCH THE DESIGN: Ncols=6, the design has 5 columns !\n"
       "  Nrows=2 Ncols=6\nLine #2 in wide.txt\n"},
      {"short.txt", "Short\nNrows=3 Ncols=5\nData\n1. 1 1 1 1 1\n2. 1 1 1 1 -1\n",
       "\nSHORT FILE: CANNOT READ 3 candidate runs !\nRead only 2.\n  NULL\nLine #6 in short.txt\n"},
      {"real.txt", "Real\nNrows=1 Ncols=5\nData\n1. 1 0.5 1 1 1\n",
       "\nILLEGAL CHARACTER in candidate run #1, column 2: levels are whole numbers\n"
       "  1. 1 0.5 1 1 1\nLine #4 in real.txt\n"},
      {"count.txt", "No count\nRuns=2 Ncols=5\nData\n1. 1 1 1 1 1\n",
       "\nThe parameter line of the candidate runs needs Nrows= and Ncols=!\n  Runs=2 Ncols=5\n"
       "Line #2 in count.txt\n"},
      {"zero.txt", "Zero\nNrows=0 Ncols=5\nData\n",
       "\nThe candidate file holds no runs (Nrows=0)!\n  Nrows=0 Ncols=5\nLine #2 in zero.txt\n"},
      {"cut.txt", "Cut\nNrows=2 Ncols=5\nData\n1. 1 1 1 1 1\n2. 1 -1 1\n",
       "\nSHORT LINE for candidate run #2: read 3 levels, need 5\n  2. 1 -1 1\nLine #5 in cut.txt\n"},
  };
  for (const BadFile &f : bad_files) bad.push_back({{"--follow-up=2", std::string("--candidates=") + f.name}, f.message});
  for (const Bad &b : bad) {
    SCOPED_TRACE(b.message);
    TempDir dir;
    for (const BadFile &f : bad_files) dir.write(f.name, f.text);
    auto r = run_example("reactor12", b.options, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.ends_with(b.message)) << tail(r.out, 300);
    if (b.logged) {
      EXPECT_TRUE(read_file(dir.file("reactor12.out.txt")).ends_with(b.message));
    } else {
      EXPECT_FALSE(testutil::file_exists(dir.file("reactor12.out.txt")));
    }
  }
  TempDir dir;
  auto r = run_example("reactor12", {"--follow-up=2", "--candidates=missing.txt"}, dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "CANNOT OPEN the file  `missing.txt'")) << r.err;
}

TEST(FollowUpRun, RequestsThatNeedTheFitsEndTheRunWithAMessageInTheLog) {
  TempDir dir;
  // Thirteen factors (the columns of a 2^4 design and of its interactions
  // but one), each model one factor: the thirteen leading models hold more
  // factors than a full factorial of candidates is built for.
  std::string wide = "Thirteen factors\nNrows=16 Ncols=13\nData\n";
  for (int r = 0; r < 16; r++) {
    wide += std::to_string(r + 1) + ".";
    for (int set = 1; set < 14; set++) {
      int level = 1;
      for (int f = 0; f < 4; f++)
        if ((set >> f) & 1) level *= (r >> f) & 1 ? 1 : -1;
      wide += level > 0 ? " 1" : " -1";
    }
    wide += " " + std::to_string(10 + (r * 7) % 11) + "\n";
  }
  dir.write("wide.txt", wide);
  auto r = run_program({"wide", "--max-factors=1", "--md-models=13", "--follow-up=2"}, dir.path());
  EXPECT_EQ(r.status, 1);
  const std::string message =
      "\nNO FOLLOW-UP RUNS: the 13 leading models hold 13 factors, and a full factorial of candidate\n"
      "runs is built for at most 12. Give the candidate runs in a file with\n"
      "--candidates=FILE, or compare fewer models with --md-models=M.\n";
  EXPECT_TRUE(r.out.ends_with(message)) << tail(r.out, 400);
  EXPECT_TRUE(read_file(dir.file("wide.out.txt")).ends_with(message));
  // A model set of one model leaves nothing to discriminate.
  dir.write("one.txt", "One factor\nNrows=4 Ncols=1\nData\n1. -1 3\n2. 1 5\n3. -1 4\n4. 1 7\n");
  r = run_program({"one", "--follow-up=2"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.ends_with("\nILLEGAL VALUE in option `--follow-up=2': the model set holds one "
                              "model, so there is nothing to discriminate !\n"))
      << r.out;
}

// Designs whose MD cannot be computed are counted and named as such, not
// dropped in silence: the report's designs are those evaluated less those.
// Two equal runs at levels 1e5 make V_i = I + Z G Z' a 2x2 matrix
// [[1+a, a], [a, 1+a]] with a about 1e10 times the models' G or more, whose
// second pivot (1+a) - a^2/(1+a) is lost to rounding; one such run alone,
// or beside a run at +-1, keeps its pivots.
TEST(FollowUpRun, DesignsWithoutAnMDAreCountedAndReported) {
  struct Case {
    const char *candidates;  // the runs of the candidate file
    int status;
    std::vector<std::string> parts;  // in the follow-up section, in this order
  };
  const std::vector<Case> cases = {
      {"1 1 1 1 1\n2. 100000 100000 100000 100000 100000", 0,
       {"every one of the 3 designs",
        "  1 of the 3 designs evaluated has no MD: rounding left a matrix of the\n"
        "  criterion, which must be positive definite, without a positive pivot\n"
        "  (candidate levels far from -1 and +1 do this); it is left out.\n"
        "  The 2 best designs (MD, larger is better; the runs as candidate numbers):\n",
        "  1 2\n", "  1 1\n"}},
      {"100000 100000 100000 100000 100000", 1,
       {"every one of the 1 designs", "  1 of the 1 designs evaluated has no MD:",
        "\nNO FOLLOW-UP RUNS: no design evaluated has an MD.\n"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.candidates);
    TempDir dir;
    const std::string runs = std::string("1. ") + c.candidates + "\n";
    const int count = static_cast<int>(std::count(runs.begin(), runs.end(), '\n'));
    dir.write("cand.txt", "Candidates\nNrows=" + std::to_string(count) + " Ncols=5\nData\n" + runs);
    auto r = run_example("reactor12", {"--null", "--follow-up=2", "--candidates=cand.txt"}, dir);
    EXPECT_EQ(r.status, c.status);
    size_t at = r.out.find("\nFollow-up runs:");
    for (const std::string &part : c.parts) {
      at = r.out.find(part, at);
      ASSERT_NE(at, std::string::npos) << part << "\n" << tail(r.out, 1200);
    }
    // The log holds the same section.
    EXPECT_TRUE(contains(read_file(dir.file("reactor12.out.txt")), c.parts.back()));
  }
}

// --max-seconds bounds the exchange search: a million starts stop after the
// time given, the report and the JSON say so and how many starts were
// begun; without the bound every start runs. The bound needs --follow-up
// and a positive number.
TEST(FollowUpRun, MaxSecondsStopsTheExchangeSearchAndSaysSo) {
  TempDir dir;
  const std::vector<std::string> options = {"--null", "--max-factors=5", "--order=1", "--md-models=8",
                                            "--follow-up=7", "--starts=1000000", "--max-seconds=0.3", "--json"};
  const auto began = std::chrono::steady_clock::now();
  auto r = run_example("reactor12", options, dir);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  ASSERT_EQ(r.status, 0) << tail(r.out, 400);
  EXPECT_LT(seconds, 20.0);  // a million starts take hours
  const std::string section = follow_up_section(r.out);
  const size_t at = section.find("  STOPPED EARLY by --max-seconds=0.3: ");
  ASSERT_NE(at, std::string::npos) << section;
  const int begun = std::atoi(section.c_str() + at + strlen("  STOPPED EARLY by --max-seconds=0.3: "));
  EXPECT_GT(begun, 0);
  EXPECT_LT(begun, 1000000);
  EXPECT_TRUE(contains(section, " of the 1000000 starts asked for were begun.\n"));
  EXPECT_TRUE(contains(section, "  Search: coordinate exchange from " + std::to_string(begun) + " random starts"));
  const nlohmann::json search = nlohmann::json::parse(read_file(dir.file("reactor12.json")))["follow_up"]["search"];
  EXPECT_EQ(search["starts_run"], begun);
  EXPECT_EQ(search["starts"], 1000000);
  EXPECT_EQ(search["stopped_early"], true);

  const std::string unbounded = reactor12_follow_up(
      {"--null", "--max-factors=5", "--order=1", "--md-models=8", "--follow-up=7", "--starts=3", "--max-seconds=1000"}, dir);
  EXPECT_FALSE(contains(unbounded, "STOPPED EARLY"));
  EXPECT_TRUE(contains(unbounded, "from 3 random starts"));

  struct Bad { std::vector<std::string> options; std::string message; };
  const Bad bad[] = {
      {{"--max-seconds=5"}, "\nILLEGAL VALUE in option `--max-seconds=5': it shapes the follow-up runs, so it "
                            "needs --follow-up=N !\n"},
      {{"--follow-up=2", "--max-seconds=0"}, "\nILLEGAL VALUE in option `--max-seconds=0': the time bound must be "
                                             "greater than 0 !\n"},
  };
  for (const Bad &b : bad) {
    auto refused = run_example("reactor12", b.options, dir);
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.out.ends_with(b.message)) << tail(refused.out, 300);
  }
}
