// Speed of the model search (make bench): for the spaces beyond enumeration
// that the search is for, the proposals weighed and the marginal
// likelihoods computed per second on one core, and the wall time of the
// default search (its rounds run until every standard error is 0.005 or
// less) on the cores given.
//
//   search_bench [threads]
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/analysis.h"
#include "engine/modelsearch.h"

namespace {

using namespace bayescreen;

// The 20-run Plackett-Burman design (19 factors) or the 64-run design of
// 60 columns of the Sylvester-Hadamard matrix; four active main effects
// and a fixed irregular remainder.
Design make(int runs) {
  Design d;
  d.path = "bench.txt";
  d.runs = runs;
  const int factors = runs == 20 ? 19 : 60;
  d.columns = factors;
  d.analysed = factors;
  const int g[19] = {1, 1, -1, -1, 1, 1, 1, 1, -1, 1, -1, 1, -1, -1, -1, -1, 1, 1, -1};
  for (int r = 0; r < runs; r++) {
    d.run_numbers.push_back(r + 1);
    std::vector<int> row;
    for (int j = 0; j < factors; j++) {
      int v;
      if (runs == 20)
        v = r == 19 ? -1 : g[(j - r + 19) % 19];
      else
        v = __builtin_popcount(static_cast<unsigned>(r & (j + 1))) % 2 ? -1 : 1;
      row.push_back(v);
      d.x.push_back(v);
    }
    const double noise = std::sin(12.9898 * (r + 1)) * 1.1;
    d.y.push_back(50 + 2 * row[0] - 1.7 * row[3] + 2.5 * row[7] + 1.2 * row[12] + noise);
  }
  name_columns(d);
  return d;
}

void run(const char *label, const Design &design, Settings s) {
  const auto t0 = std::chrono::steady_clock::now();
  const Results r = analyse(design, s);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const SearchSummary &x = *r.effects_space->search;
  printf("%-44s %8.2f s  %12.0f proposals/s  %10.0f likelihoods/s  %2d chains  %9llu iter/chain  se %.4f\n", label,
         seconds, static_cast<double>(x.proposals) / x.seconds, static_cast<double>(x.evaluations) / x.seconds,
         x.chains, static_cast<unsigned long long>(x.iterations), x.largest_se);
}

}  // namespace

int main(int argc, char **argv) {
  const int threads = argc > 1 ? atoi(argv[1]) : 2;
  const Design pb20 = make(20), h64 = make(64);
  Settings base;
  base.effects.kind = SpaceKind::Effects;
  base.model_space.with_null = 1;
  base.search.mode = SearchMode::Mcmc;

  // One core, one chain, a fixed number of iterations: models of up to 10
  // columns (pi = 0.5 of 19 main effects).
  Settings one = base;
  one.model_space.order = 1;
  one.pi = 0.5;
  one.threads = 1;
  one.search.chains = 1;
  one.search.iterations = 2000000;
  run("20 runs, 19 main effects, pi=0.5, 1 core", pb20, one);

  // The same with the cache of little use: every main effect and
  // interaction without heredity, so that most models proposed are new
  // (about 9 effects a model a priori).
  Settings fresh = one;
  fresh.model_space.order = 2;
  fresh.pi = 0.1;
  fresh.effects.heredity = Heredity::None;
  fresh.effects.p11 = 0.04;
  fresh.search.iterations = 500000;
  run("20 runs, 190 effects, no heredity, 1 core", pb20, fresh);

  // The recommended analysis of the 20-run design (19 factors and their
  // interactions under strong heredity), to the default target.
  Settings rec = base;
  rec.model_space.order = 2;
  rec.effects.beta_a = rec.effects.beta_b = 1;
  rec.effects.gamma_prior = GridSpec{0.5, 5, 10};
  rec.threads = threads;
  run(("20 runs, recommended, " + std::to_string(threads) + " threads").c_str(), pb20, rec);

  // 64 runs, 60 main effects, to the default target.
  Settings me = base;
  me.model_space.order = 1;
  me.threads = threads;
  run(("64 runs, 60 main effects, " + std::to_string(threads) + " threads").c_str(), h64, me);
  return 0;
}
