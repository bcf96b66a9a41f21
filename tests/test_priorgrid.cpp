// The prior grids: reading LO:HI:N, the factor probabilities and the support
// at every grid point against exact rational reference values
// (tests/tools/grid_reference.py), the best-supported gamma on designs
// where it is known, and the report section end to end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/calcmodels.h"
#include "engine/gramfit.h"
#include "engine/modelspace.h"
#include "engine/priorgrid.h"
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

GridSpec grid(double lo, double hi, int n) { return GridSpec{lo, hi, n}; }

// A fitted model set and the grids computed from it.
struct GridRun {
  bayescreen::Design design;
  Settings settings;
  ModelTable models;
  PriorGridResults r;
};

// Fits the model set of space on the design under settings (pi, gamma,
// alpha) by the given path, then computes the grids.
GridRun run_grid(const std::vector<std::vector<int>> &rows, const std::vector<double> &y, const ModelSpace &s,
                 GridSpec gammas, GridSpec pis, Settings settings = Settings(), FitPath path = FitPath::Auto) {
  GridRun run{testutil::make_design(rows, y, static_cast<int>(rows[0].size())), settings, ModelTable(), {}};
  run.settings.model_space = s;
  run.settings.gamma_grid = gammas;
  run.settings.pi_grid = pis;
  run.models = build_model_table(run.design, s);
  calc_model_fields(run.design, run.settings, run.models, nullptr, path);
  run.r = compute_prior_grid(run.design, run.settings, run.models);
  return run;
}

// Refits the model set of run at grid point p of its results (the
// interaction ratio scaled with gamma when the space gives one), checks
// that the grid's factor probabilities, and that of no factor, are those of
// the refitted set, and returns that set.
ModelTable expect_point_agrees(const GridRun &run, int p) {
  SCOPED_TRACE("point " + std::to_string(p));
  const PriorGridResults &r = run.r;
  Settings at = run.settings;
  at.gamma = r.gammas[static_cast<size_t>(p) % r.gammas.size()];
  at.pi = r.pis[static_cast<size_t>(p) / r.gammas.size()];
  const double gam_int = run.settings.model_space.gam_int;
  at.model_space.gam_int = gam_int > 0 ? gam_int * (at.gamma / run.settings.gamma) : 0;
  ModelTable models = build_model_table(run.design, at.model_space);
  calc_model_fields(run.design, at, models);
  for (int f = 0; f < r.nfactors; f++) {
    double sum = 0;
    for (const ModelEntry &m : models)
      if (has_column(m.ivals, r.first_factor + f)) sum += m.postprob;
    EXPECT_NEAR(r.active[static_cast<size_t>(p * r.nfactors + f)], sum, 1e-10) << "factor " << f;
  }
  if (r.with_null) { EXPECT_NEAR(r.none[static_cast<size_t>(p)], models[0].postprob, 1e-10); }
  return models;
}

}  // namespace

TEST(PriorGridText, ReadsLoHiNAndSaysWhatIsWrong) {
  struct Accepted {
    const char *text;
    double lo, hi;
    int n;
  };
  const Accepted accepted[] = {{"0.5:5:10", 0.5, 5, 10}, {"1e-1:2.5E0:2", 0.1, 2.5, 2}, {"-3:-1:100", -3, -1, 100}};
  for (const Accepted &a : accepted) {
    SCOPED_TRACE(a.text);
    GridSpec spec;
    const char *why = parse_grid(a.text, &spec);
    EXPECT_EQ(why, nullptr) << why;
    EXPECT_EQ(spec.lo, a.lo);
    EXPECT_EQ(spec.hi, a.hi);
    EXPECT_EQ(spec.n, a.n);
  }
  struct Refused {
    const char *why;
    std::vector<const char *> texts;  // each refused with that reason
  };
  const Refused refused[] = {
      {"the value must have the form LO:HI:N", {"0.5:5", "0.5:5:10:2", ":5:10", "0.5::10", "0.5:5:"}},
      {"LO is not a finite number", {"x:5:10", "0.5x:5:10", "inf:5:10"}},
      {"HI is not a finite number", {"0.5:nan:10", "0.5:1e999:10"}},
      {"N must be a whole number from 2 to 100", {"0.5:5:1", "0.5:5:101", "0.5:5:2.5", "0.5:5:99999999999999999999"}},
      {"LO must be less than HI", {"5:0.5:10", "2:2:10"}},
  };
  for (const Refused &r : refused)
    for (const char *text : r.texts) {
      GridSpec spec;
      EXPECT_STREQ(parse_grid(text, &spec), r.why) << text;
    }
}

TEST(PriorGridText, ValuesAreEvenlySpacedAndEndExactlyAtBothEnds) {
  const std::vector<double> v = grid_values(grid(0.5, 5, 10));
  ASSERT_EQ(v.size(), 10u);
  for (int i = 0; i < 10; i++) EXPECT_DOUBLE_EQ(v[static_cast<size_t>(i)], 0.5 * (i + 1));
  // Thirds do not add up exactly; the last value is still HI itself.
  const std::vector<double> t = grid_values(grid(0.1, 0.7, 100));
  EXPECT_EQ(t.front(), 0.1);
  EXPECT_EQ(t.back(), 0.7);
  for (size_t i = 1; i < t.size(); i++) EXPECT_NEAR(t[i] - t[i - 1], 0.6 / 99, 1e-15);
}

// Every factor probability (and that of no factor, with --null) at three
// points of each grid, and the whole support row, against the exact
// reference; whichever path fitted the run's own report.
TEST(PriorGrid, FactorProbabilitiesAndSupportMatchTheExactReference) {
  struct Checked { int point; std::vector<double> active; double none; };
  struct Case {
    const char *title;
    std::vector<std::vector<int>> rows;
    std::vector<double> y;
    ModelSpace space;
    GridSpec gammas, pis;
    std::vector<Checked> checked;
    std::vector<double> support;
  };
  std::vector<std::vector<int>> centre = full_factorial(3);
  centre.insert(centre.end(), 2, {0, 0, 0});
  const std::vector<std::vector<int>> half_twice = {{-1, -1, 1}, {1, -1, -1}, {-1, 1, -1}, {1, 1, 1},
                                                    {-1, -1, 1}, {1, -1, -1}, {-1, 1, -1}, {1, 1, 1}};
  const std::vector<Case> cases = {
      {"reactor12 --null --gamma-grid=0.5:5:10", kReactor12Rows, kReactor12Y, model_space(0, 3, 3, 1, 0, 0), grid(0.5, 5, 10), {},
       {{0, {0.08881748610414056, 0.8064974976112973, 0.06413118594767864, 0.5550783058159738, 0.22438306326186827}, 0.08411501413577209}, {4, {0.002888641707523606, 0.9556284807393747, 0.0021141362441995295, 0.891744852639756, 0.6754638341209875}, 0.03615222582661245}, {9, {0.0053096408486910515, 0.7750819451025495, 0.004245527867055616, 0.5896419267616229, 0.37937618099925513}, 0.20244237076646934}},
       {0.05962207929003231, 0.15697068125366098, 0.19671227094988145, 0.18051766876670167, 0.1387220821848668, 0.0973638122877659, 0.06644905037664203, 0.04593317026458208, 0.03293614910322685, 0.024773035522639875}},
      {"reactor12 --pi-grid=0.05:0.5:10", kReactor12Rows, kReactor12Y, model_space(0, 3, 3, 0, 0, 0), {}, grid(0.05, 0.5, 10),
       {{0, {0.014758679591678448, 0.9355996047634292, 0.011922079942509552, 0.43162455697148033, 0.16141750547378664}, 0.0}, {4, {0.0029969895505552787, 0.991472415401839, 0.0021934337567077427, 0.9251926253650705, 0.7007992882488908}, 0.0}, {9, {0.0013123186999760355, 0.9986367246812153, 0.0008340029583456399, 0.9885600765613657, 0.8918622675204751}, 0.0}},
       {0.0050787838229446195, 0.014604961141111242, 0.029878799155807916, 0.051036099277485016, 0.07725543085294626, 0.10696536489255472, 0.13805170779744846, 0.16806473508674602, 0.19442642512475683, 0.21463769284819886}},
      {"2^4 --blocks=1 --order=2 --gamma-int=1.5 --gamma-grid=1:4:4 --pi-grid=0.1:0.4:4", full_factorial(4),
       {61, 53, 63, 61, 53, 56, 54, 61, 69, 61, 94, 93, 66, 60, 95, 98}, model_space(1, 3, 2, 0, 0, 1.5), grid(1, 4, 4), grid(0.1, 0.4, 4),
       {{0, {0.9994631186790395, 0.006044881403099693, 0.9999121114877159}, 0.0}, {6, {0.9999960954410292, 0.0012817552999710438, 0.9999994651649055}, 0.0}, {15, {0.999998626024264, 0.0016531105002025484, 0.9999998138336073}, 0.0}},
       {0.0016454010488309756, 0.016726957819396947, 0.01639813049640677, 0.010068906382751774, 0.005892436592573619, 0.059580362141325345, 0.0583456892767907, 0.035812718235267244, 0.011711082807118614, 0.11757027974482337, 0.11497302794489916, 0.07053742000172876, 0.018071315868356776, 0.179706777408932, 0.17541049810447926, 0.10754899612631874}},
      {"half fraction twice --keep-aliased --gamma-grid=1:3:3", half_twice, {10, 14, 19, 31, 11, 15, 18, 30}, model_space(0, 3, 3, 0, 1, 0), grid(1, 3, 3), {},
       {{0, {0.7070189500954207, 0.7587515479660691, 0.702185228331557}, 0.0}, {1, {0.7364132871226957, 0.7416513785165414, 0.736057314416922}, 0.0}, {2, {0.7222462817857433, 0.7236727042112038, 0.7221560931327802}, 0.0}},
       {0.030547087422266514, 0.2584890058042735, 0.7109639067734601}},
      {"2^3 and two centre runs --gamma-grid=1:4:4", centre, {20, 31, 22, 35, 19, 33, 24, 36, 27, 28}, model_space(0, 3, 3, 0, 0, 0), grid(1, 4, 4), {},
       {{0, {0.998953081490653, 0.1849827262818463, 0.035536731507290684}, 0.0}, {2, {0.9999636481274656, 0.5244161548011683, 0.003697821257763054}, 0.0}, {3, {0.9999742355822322, 0.5680396215186079, 0.0024027350568203904}, 0.0}},
       {0.035567578963103065, 0.2218296334740246, 0.36023055844352725, 0.3823722291193451}},
      {"reactor12 --null --max-factors=5 --order=1 --gamma-grid=0.5:5:4", kReactor12Rows, kReactor12Y, model_space(0, 5, 1, 1, 0, 0), grid(0.5, 5, 4), {},
       {{0, {0.1766311180560211, 0.7299338530149995, 0.1448768500518842, 0.19657256927693356, 0.2771201505288761}, 0.12360510380896271}, {1, {0.06624584031574512, 0.7100424347910199, 0.0465586919391561, 0.08100045273195809, 0.1583352591811502}, 0.22318035801848832}, {3, {0.02649267242423465, 0.5006619312693089, 0.01925932463691003, 0.03194368825329459, 0.06340262332709927}, 0.4480095198246134}},
       {0.4584087296900482, 0.2538828198114968, 0.16123422146319874, 0.1264742290352562}},
  };
  auto close = [](double actual, double expected, const std::string &what) {
    EXPECT_NEAR(actual, expected, 1e-9 * std::fabs(expected) + 1e-12) << what;
  };
  for (FitPath path : {FitPath::ByRows, FitPath::ByCrossProducts}) {
    for (const Case &c : cases) {
      SCOPED_TRACE(std::string(c.title) + (path == FitPath::ByRows ? ", run by rows" : ", run by cross products"));
      const GridRun run = run_grid(c.rows, c.y, c.space, c.gammas, c.pis, Settings(), path);
      const PriorGridResults &r = run.r;
      ASSERT_EQ(r.points(), static_cast<int>(c.support.size()));
      const int nfac = r.nfactors;
      for (const Checked &k : c.checked) {
        ASSERT_EQ(nfac, static_cast<int>(k.active.size()));
        for (int f = 0; f < nfac; f++)
          close(r.active[static_cast<size_t>(k.point * nfac + f)], k.active[static_cast<size_t>(f)],
                "point " + std::to_string(k.point) + " factor " + std::to_string(f));
        close(r.none[static_cast<size_t>(k.point)], k.none, "none at point " + std::to_string(k.point));
      }
      for (size_t p = 0; p < c.support.size(); p++) close(r.support[p], c.support[p], "support " + std::to_string(p));
      EXPECT_EQ(r.best, std::max_element(c.support.begin(), c.support.end()) - c.support.begin());
    }
  }
}

TEST(PriorGrid, BestSupportedGammaOfAFineGridIsTheReferencesBest) {
  // The exact reference's support over 100 values of gamma from 0.2 to 6
  // peaks at point 23 (gamma 1.5495), 0.0223871 against 0.0223142 and
  // 0.0223747 at its neighbours.
  const PriorGridResults r = run_grid(kReactor12Rows, kReactor12Y, model_space(0, 3, 3, 1, 0, 0), grid(0.2, 6, 100), {}).r;
  EXPECT_EQ(r.best, 23);
  EXPECT_NEAR(r.support[23], 0.02238709514257101, 1e-11);
}

TEST(PriorGrid, BestSupportedGammaFindsTheRatioEffectsWereDrawnWith) {
  // A 2^6 factorial whose six main effects are drawn from N(0, (g0 sigma)^2)
  // with sigma = 1: the Box-Meyer prior itself, with every factor active.
  // Over 41 drawn data sets the median best-supported gamma of the main-
  // effect models lies near g0 (each data set holds six effects only, so a
  // single one scatters widely: the quartiles lie about 20% either side).
  uint64_t state = 20240601;
  auto uniform = [&state] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return (static_cast<double>(state >> 11) + 0.5) / 9007199254740992.0;
  };
  auto normal = [&] { return std::sqrt(-2 * std::log(uniform())) * std::cos(6.283185307179586 * uniform()); };
  const std::vector<std::vector<int>> rows = full_factorial(6);
  Settings settings;
  settings.pi = 0.9;
  for (double g0 : {0.5, 1.0, 3.0}) {
    SCOPED_TRACE(g0);
    std::vector<double> best;
    for (int set = 0; set < 41; set++) {
      double beta[6];
      for (double &b : beta) b = g0 * normal();
      std::vector<double> y;
      for (const std::vector<int> &row : rows) {
        double v = 20 + normal();
        for (int c = 0; c < 6; c++) v += beta[c] * row[static_cast<size_t>(c)];
        y.push_back(v);
      }
      const PriorGridResults r = run_grid(rows, y, model_space(0, 6, 1, 1, 0, 0), grid(0.1, 8, 80), {}, settings).r;
      best.push_back(r.gammas[static_cast<size_t>(r.best)]);
    }
    std::sort(best.begin(), best.end());
    const double median = best[best.size() / 2];
    EXPECT_GE(median, 0.85 * g0);
    EXPECT_LE(median, 1.15 * g0);
  }
}

// A grid point at the run's own prior gives the run's own factor table,
// under every fitting path and model set, with t-tests and kept aliases.
TEST(PriorGrid, EveryPointAgreesWithARunAtThatPrior) {
  struct Setting { ModelSpace space; double alpha; };
  const Setting settings[] = {{model_space(0, 3, 3, 0, 0, 0), 2.0}, {model_space(0, 3, 3, 1, 0, 0), 0.1},
                              {model_space(1, 3, 2, 1, 1, 1.5), 2.0}};
  for (const Setting &s : settings) {
    Settings settings;
    settings.alpha = s.alpha;
    const GridRun run = run_grid(kReactor12Rows, kReactor12Y, s.space, grid(0.5, 4.5, 5), grid(0.1, 0.5, 3), settings);
    const PriorGridResults &r = run.r;
    ASSERT_EQ(r.with_null, s.space.with_null != 0);
    for (int p = 0; p < r.points(); p++) expect_point_agrees(run, p);
  }
}

TEST(PriorGrid, WeightsThousandsOfLogUnitsApartKeepTheirPrecision) {
  // 512 runs of a 2^9 factorial with one strong effect in the last factor:
  // the models that hold it come last and weigh about e^1500 times more
  // than the ones before them, far beyond the range of a double.
  std::vector<double> y;
  uint64_t state = 7;
  const std::vector<std::vector<int>> rows = full_factorial(9);
  for (const std::vector<int> &row : rows) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    y.push_back(100 + 5.0 * row[8] + static_cast<double>(state >> 40) / 16777216.0);
  }
  const GridRun run = run_grid(rows, y, model_space(0, 2, 1, 1, 0, 0), grid(1, 3, 3), {});
  const PriorGridResults &r = run.r;
  for (int g = 0; g < 3; g++) {
    const ModelTable models = expect_point_agrees(run, g);
    const ModelEntry &last = models[models.size() - 1];
    ASSERT_FALSE(std::isfinite(last.bval) && last.bval > 0);  // no plain weights
    EXPECT_NEAR(r.active[static_cast<size_t>(g * r.nfactors + 8)], 1, 1e-12);
  }
}

TEST(PriorGrid, NoModelWithAWeightLeavesEveryPointWithoutSupport) {
  // Three runs: every model of two or three factors is singular, and so
  // are the 1-factor models of the constant column B.
  const PriorGridResults r = run_grid({{1, 1}, {-1, 1}, {1, 1}}, {1, 2, 4}, model_space(0, 2, 2, 0, 0, 0), {}, grid(0.1, 0.5, 2)).r;
  EXPECT_GE(r.best, 0);  // model A still has a weight
  const PriorGridResults none = run_grid({{1, 1}, {1, 1}}, {1, 2}, model_space(0, 2, 2, 0, 0, 0), grid(1, 2, 2), {}).r;
  EXPECT_EQ(none.best, -1);
  for (double s : none.support) EXPECT_EQ(s, 0);
  for (double a : none.active) EXPECT_EQ(a, 0);
}

// End to end: the report section, its layout and the refused values.
TEST(PriorGridRun, GammaGridSectionFollowsTheFactorTablesOnScreenAndInTheLog) {
  TempDir dir;
  auto r = run_example("reactor12", {"--gamma-grid=0.5:5:10"}, dir);
  ASSERT_EQ(r.status, 0);
  const std::string section =
      "  E:    0.700799    0.70080  *********************\n"
      "\n"
      "Prior sensitivity: posterior probabilities that factors are active\n"
      "at 10 values of gamma (pi=0.25):\n"
      "Support: p(y | gamma, pi) up to a constant, normalised over the grid.\n"
      "\n"
      "             gamma:      0.5        1      1.5        2      2.5        3\n"
      "      FeedRate (A):  0.09697  0.02116  0.00755  0.00393  0.00300  0.00300\n"
      "      Catalyst (B):  0.88057  0.97832  0.98940  0.99170  0.99147  0.98982\n"
      "     Agitation (C):  0.07002  0.01360  0.00495  0.00272  0.00219  0.00228\n"
      "   Temperature (D):  0.60606  0.86660  0.91891  0.93031  0.92519  0.90865\n"
      " Concentration (E):  0.24499  0.36964  0.56110  0.66643  0.70080  0.69394\n"
      "           Support:  0.05749  0.15998  0.20182  0.18477  0.14077  0.09722\n"
      "\n"
      "             gamma:      3.5        4      4.5        5\n"
      "      FeedRate (A):  0.00347  0.00428  0.00537  0.00666\n"
      "      Catalyst (B):  0.98696  0.98293  0.97781  0.97182\n"
      "     Agitation (C):  0.00270  0.00338  0.00427  0.00532\n"
      "   Temperature (D):  0.88145  0.84352  0.79550  0.73931\n"
      " Concentration (E):  0.66094  0.60966  0.54596  0.47567\n"
      "           Support:  0.06468  0.04308  0.02940  0.02080\n"
      "\n"
      "The data support gamma=1.5 most (support 0.202).\n";
  EXPECT_TRUE(contains(r.out, section + "\nClosing the log file `reactor12.out.txt'\n")) << r.out;
  EXPECT_TRUE(read_file(dir.file("reactor12.out.txt")).ends_with(section));
  // The rest of the report stays at -P and -G: it is the plain run's, up to
  // the extension options named after the option listing and in the log.
  TempDir plain;
  auto p = run_example("reactor12", {}, plain);
  const std::string before = r.out.substr(0, r.out.find("\nPrior sensitivity"));
  std::string expected = p.out.substr(0, p.out.find("\nClosing the log file"));
  expected.insert(expected.find("OPENING the log file"), "with extension options: --gamma-grid=0.5:5:10\n");
  std::string command = expected.substr(0, expected.find("\nSyntax:"));
  expected.replace(0, command.size(), command + "  --gamma-grid=0.5:5:10");
  EXPECT_EQ(before, expected);
  // Follow-up runs come after the grids.
  auto f = run_example("reactor12", {"--gamma-grid=1:3:3", "--follow-up=2"}, dir);
  ASSERT_EQ(f.status, 0);
  const size_t follow_up = f.out.find("\nFollow-up runs: ");
  EXPECT_NE(follow_up, std::string::npos);
  EXPECT_LT(f.out.find("\nPrior sensitivity"), follow_up);
}

TEST(PriorGridRun, ProductGridHasATablePerPiAndNamesTheBestPair) {
  TempDir dir;
  auto r = run_example("reactor12", {"--null", "--gamma-grid=1:2.5:4", "--pi-grid=0.1:0.4:4", "--gamma-int=1.25"}, dir);
  ASSERT_EQ(r.status, 0);
  const std::string columns = ":\n\n             gamma:        1      1.5        2      2.5\n";
  const std::vector<std::string> parts = {
      "at 4 values of gamma and 4 of pi (16 pairs):\n"
      "(interaction columns take gamma x 0.5, the ratio of --gamma-int to -G)\n",
      "\npi=0.1" + columns, "\npi=0.2" + columns, "\npi=0.3" + columns, "\npi=0.4" + columns,
      "\n  No factor active:  ", "\nThe data support gamma=", ", pi=0.4 most (support 0.",
      ").\n(At the edge of the grid: values beyond it may have more support.)\n"};
  for (const std::string &part : parts) EXPECT_TRUE(contains(r.out, part)) << part;
  // The pi grid alone labels its columns with pi.
  r = run_example("reactor12", {"--pi-grid=0.1:0.2:2"}, dir);
  for (const char *part : {"at 2 values of pi (gam=2.5):\n", "\n                pi:      0.1      0.2\n",
                           "\nThe data support pi=0.2 most (support ", "(At the edge of the grid"})
    EXPECT_TRUE(contains(r.out, part)) << part;
}

TEST(PriorGridRun, TheBestPointIsNamedAndAtAnEdgeOfTheGridSaysSo) {
  // The reactor's support peaks at gamma 1.5 (the grid 0.5:5:10 above).
  struct Case { const char *grid; double best; bool edge; };
  const Case cases[] = {{"--gamma-grid=3:6:4", 3, true}, {"--gamma-grid=1:2:3", 1.5, false},
                        {"--gamma-grid=0.2:1:3", 1, true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.grid);
    TempDir dir;
    auto r = run_example("reactor12", {c.grid, "--json"}, dir);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(contains(r.out, "(At the edge of the grid: values beyond it may have more support.)\n"), c.edge);
    const auto best = nlohmann::json::parse(read_file(dir.file("reactor12.json")))["prior_grid"]["best"];
    ASSERT_TRUE(best.is_object()) << best;
    EXPECT_EQ(best["gamma"], c.best);
    EXPECT_TRUE(best["support"].is_number());
  }
}

TEST(PriorGridRun, InfiniteWeightsAreSharedAsInTheFactorTables) {
  // y is A's level in a 2^3 design run twice. At gamma 1e300 the prior
  // precision 1/gamma^2 is 0 in doubles and sixteen runs keep the sums
  // exact: A, AB, AC and ABC fit exactly, with infinite weight, and share
  // the probability equally, in the grid as in the factor table: A 1, B
  // and C 2/4 each.
  std::string design = "Exact fit in sixteen runs\nNrows=16 Ncols=3\nData\n";
  for (int r = 0; r < 16; r++) {
    const int a = r & 1 ? 1 : -1, b = r & 2 ? 1 : -1, c = r & 4 ? 1 : -1;
    design += std::to_string(r + 1) + " " + std::to_string(a) + " " + std::to_string(b) + " " +
              std::to_string(c) + " " + std::to_string(a) + "\n";
  }
  TempDir dir;
  dir.write("exact.txt", design);
  auto r = run_program({"exact", "-G1e300", "--gamma-grid=1e300:2e300:2", "--json"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.out;
  const auto doc = nlohmann::json::parse(read_file(dir.file("exact.json")));
  const nlohmann::json shares = {{"A", 1.0}, {"B", 0.5}, {"C", 0.5}};
  for (const auto &f : doc["factor_weights"]["factors"])
    EXPECT_EQ(f["postprob"]["share"], shares[f["letter"].get<std::string>()]) << f;
  for (const auto &point : doc["prior_grid"]["points"]) {
    EXPECT_EQ(point["active"], shares) << point;
    EXPECT_EQ(point["support"], 0.5);
  }
  EXPECT_EQ(doc["prior_grid"]["best"]["gamma"], 1e300);
}

TEST(PriorGridRun, HundredValuesWrapIntoBlocksOfSixWithDistinctLabels) {
  TempDir dir;
  auto r = run_example("reactor12", {"--gamma-grid=1:1.099:100"}, dir);
  ASSERT_EQ(r.status, 0);
  size_t blocks = 0;
  for (size_t at = 0; (at = r.out.find("             gamma:", at)) != std::string::npos; at++) blocks++;
  EXPECT_EQ(blocks, 17u);
  // Steps of 0.001 need four digits to tell the values apart.
  EXPECT_TRUE(contains(r.out, "\n             gamma:        1    1.001    1.002    1.003    1.004    1.005\n"));
  EXPECT_TRUE(contains(r.out, "\n             gamma:    1.096    1.097    1.098    1.099\n"));
}

TEST(PriorGridRun, BadGridsEndTheRunWithAMessage) {
  struct Bad { std::string word, why; };
  const Bad bad[] = {
      {"--gamma-grid=0:5:10", "every gamma must be greater than 0"},
      {"--gamma-grid=-1:5:10", "every gamma must be greater than 0"},
      {"--pi-grid=0:0.5:10", "every pi must lie strictly between 0 and 1"},
      {"--pi-grid=0.1:1:10", "every pi must lie strictly between 0 and 1"},
      {"--pi-grid=0.1:0.5:1", "N must be a whole number from 2 to 100"},
      {"--gamma-grid=1:5", "the value must have the form LO:HI:N"},
      {"--gamma-grid=5:1:3", "LO must be less than HI"},
      {"--gamma-grid=", "a value must follow `='"},
      {"--pi-grid", "a value must follow `='"},
  };
  for (const Bad &b : bad) {
    SCOPED_TRACE(b.word);
    TempDir dir;
    auto r = run_example("reactor12", {b.word}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.ends_with("\nILLEGAL VALUE in option `" + b.word + "': " + b.why + " !\n")) << r.out;
    EXPECT_FALSE(testutil::file_exists(dir.file("reactor12.out.txt")));
  }
}

TEST(PriorGridRun, HelpDescribesTheGrids) {
  TempDir dir;
  auto r = run_program({"--help"}, dir.path());
  EXPECT_EQ(r.status, 0);
  for (const char *part : {"\n  --gamma-grid=LO:HI:N     ", "\n  --pi-grid=LO:HI:N        ", "Prior grids: --gamma-grid=0.5:5:10"})
    EXPECT_TRUE(contains(r.out, part)) << part;
}

// The walks of the first factors one by one visit the models of the whole
// walk in its order, with the same weights to the last bit: the prior grids
// on several threads rest on it. With --null the null model comes in the
// walk of the first factor.
TEST(PriorGrid, WalksOfEachFirstFactorMakeUpTheWholeWalk) {
  const std::vector<std::vector<int>> rows = full_factorial(5);
  std::vector<double> y;
  for (size_t r = 0; r < rows.size(); r++)
    y.push_back(3 + rows[r][0] - 0.5 * rows[r][1] * rows[r][2] + static_cast<double>(r % 5) / 4);
  const bayescreen::Design design = testutil::make_design(rows, y, 5);
  for (const ModelSpace &space : {model_space(0, 5, 1, 1, 0, 0), model_space(0, 3, 2, 1, 0, 0), model_space(0, 3, 3, 0, 0, 1.5)}) {
    Settings settings;
    settings.model_space = space;
    ModelTable models = build_model_table(design, space);
    calc_model_fields(design, settings, models, nullptr);
    BoxMeyerPrior priors[3];
    for (int g = 0; g < 3; g++) {
      priors[g].pi = 0.5;
      priors[g].gam = 0.5 + g;
      priors[g].gam_int = 0;
    }
    struct Visit {
      int num;
      double logb[3];
    };
    auto walk = [&](int first_factor) {
      std::vector<Visit> visits;
      gram_prior_weights(
          design, settings, models, priors, 3,
          [&](const ModelEntry &m, int first, int count, const double *logb) {
            ASSERT_EQ(first, 0);
            ASSERT_EQ(count, 3);
            visits.push_back(Visit{m.num, {logb[0], logb[1], logb[2]}});
          },
          first_factor);
      return visits;
    };
    const std::vector<Visit> whole = walk(-1);
    std::vector<Visit> parts;
    for (int f = 0; f < 5; f++)
      for (const Visit &v : walk(f)) parts.push_back(v);
    ASSERT_EQ(parts.size(), whole.size());
    for (size_t i = 0; i < whole.size(); i++) {
      EXPECT_EQ(parts[i].num, whole[i].num) << i;
      for (int g = 0; g < 3; g++) EXPECT_EQ(std::memcmp(&parts[i].logb[g], &whole[i].logb[g], sizeof(double)), 0) << i;
    }
  }
}
