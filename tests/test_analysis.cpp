// The engine as a library: one call from a design to the results, the same
// however many analyses run at once, and errors as values.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "design_fixture.h"
#include "engine/analysis.h"
#include "export/jsonexport.h"
#include "support/showplaces.h"
#include "testutil.h"

using namespace bayescreen;

namespace {

// Every number of the results as the JSON document gives it, so that two
// results compare whole, bit for bit.
std::string document(const Design &design, const Settings &settings, const Results &results) {
  RunDescription run;
  run.input = design.path;
  StringSink sink;
  write_json(ExportInput{design, settings, results, run}, sink);
  return sink.text();
}

// A 32-run two-level design of 8 factors with three active effects, from a
// fixed seed, and its settings: each design its own model space, grids and
// follow-up, so that the two threads share nothing but the code.
struct Job {
  Design design;
  Settings settings;
};

Job job(uint64_t seed, int kind) {
  std::vector<std::vector<int>> rows(32, std::vector<int>(8));
  std::vector<double> y(32);
  uint64_t state = seed;
  auto next = [&] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return state >> 33;
  };
  for (size_t r = 0; r < rows.size(); r++) {
    for (int &v : rows[r]) v = next() % 2 ? 1 : -1;
    y[r] = 50 + 3 * rows[r][1] + 2 * rows[r][3] * rows[r][4] + static_cast<double>(next() % 1000) / 500.0;
  }
  Job j{testutil::make_design(rows, y, 8), Settings()};
  ModelSpace &space = j.settings.model_space;
  if (kind == 0) {  // the plain set, fitted run by run, with a follow-up
    j.settings.follow_up.runs = 2;
    j.settings.follow_up.md_models = 6;
  } else {  // a wider set from cross products, with prior grids
    space.with_null = 1;
    space.max_factors = 5;
    space.order = 2;
    j.settings.gamma_grid = {0.5, 4, 8};
    j.settings.pi_grid = {0.1, 0.4, 4};
  }
  return j;
}

}  // namespace

// Two analyses of different designs on two threads at once give exactly the
// results each gives alone (run under ThreadSanitizer by make test-tsan).
TEST(Analysis, TwoThreadsGiveWhatEachGivesAlone) {
  const Job jobs[2] = {job(11, 0), job(29, 1)};
  std::string alone[2], together[2];
  for (int k = 0; k < 2; k++) {
    AnalysisRequest request;
    request.all_weightings = true;
    alone[k] = document(jobs[k].design, jobs[k].settings, analyse(jobs[k].design, jobs[k].settings, nullptr, request));
  }
  for (int round = 0; round < 3; round++) {
    std::vector<std::thread> threads;
    for (int k = 0; k < 2; k++)
      threads.emplace_back([&, k] {
        AnalysisRequest request;
        request.all_weightings = true;
        together[k] = document(jobs[k].design, jobs[k].settings,
                               analyse(jobs[k].design, jobs[k].settings, nullptr, request));
      });
    for (std::thread &t : threads) t.join();
    for (int k = 0; k < 2; k++) EXPECT_EQ(together[k], alone[k]) << "analysis " << k << " round " << round;
  }
  EXPECT_NE(alone[0], alone[1]);
}

// An impossible request is an error the caller holds, not the end of the
// process; the caller cuts the place stack back and goes on.
TEST(Analysis, ErrorsAreValuesAndTheNextAnalysisRuns) {
  Job j = job(5, 1);
  const unsigned depth = npg;
  j.settings.model_space.max_models = 10;
  try {
    analyse(j.design, j.settings);
    ADD_FAILURE() << "no error";
  } catch (const Error &e) {
    EXPECT_TRUE(testutil::contains(e.message(), "TOO MANY MODELS: the model set holds 219 models"));
    EXPECT_STREQ(e.what(), "TOO MANY MODELS: the model set holds 219 models, more than the limit of 10 !\n"
                           "(Narrow it with --max-factors or --order, or raise the limit with --max-models=N.)");
  }
  truncate_program_places(depth);
  j.settings.model_space.max_models = 1000;
  EXPECT_EQ(analyse(j.design, j.settings).models.size(), 219);
  EXPECT_EQ(npg, depth);
}

// The fits shared among threads give the same results to the last bit as
// on one thread, on both paths (run by run for the plain set, from cross
// products for a wider one).
TEST(Analysis, ThreadsGiveTheResultsOfOneThread) {
  std::vector<std::vector<int>> rows(40, std::vector<int>(20));
  std::vector<double> y(40);
  uint64_t state = 7;
  for (size_t r = 0; r < rows.size(); r++) {
    for (int &v : rows[r]) {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      v = (state >> 40) % 3 == 0 ? -1 : 1;
    }
    y[r] = 10 + 2 * rows[r][0] - rows[r][5] * rows[r][6] + static_cast<double>(r % 7) / 3;
  }
  const Design design = testutil::make_design(rows, y, 20);
  // The grids: none; gamma and pi (the threads share out the gammas as well
  // as the walks); pi alone (one gamma: only the walks are shared out).
  const struct {
    GridSpec gamma, pi;
    const char *label;
  } grids[] = {
      {{}, {}, "no grid"},
      {{0.5, 10, 20}, {0.05, 0.6, 4}, "gamma and pi grids"},
      {{}, {0.05, 0.6, 7}, "pi grid"},
  };
  for (int wide = 0; wide < 2; wide++)
    for (const auto &grid : grids) {
      Settings settings;
      if (wide) {
        settings.model_space.with_null = 1;
        settings.model_space.max_factors = 4;
        settings.model_space.order = 2;
      }
      settings.gamma_grid = grid.gamma;
      settings.pi_grid = grid.pi;
      std::string documents[2];
      for (int k = 0; k < 2; k++) {
        settings.threads = k == 0 ? 1 : 3;
        AnalysisRequest request;
        request.all_weightings = true;
        const Results results = analyse(design, settings, nullptr, request);
        ASSERT_GE(results.models.size(), kParallelModels);
        ASSERT_EQ(results.prior_grid.has_value(), grid.gamma.n > 0 || grid.pi.n > 0);
        documents[k] = document(design, settings, results);
      }
      // Compared whole, but not printed whole when they differ: a document runs to megabytes.
      EXPECT_TRUE(documents[1] == documents[0])
          << (wide ? "from cross products, " : "run by run, ") << grid.label;
    }
}
