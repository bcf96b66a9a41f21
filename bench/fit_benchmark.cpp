// Micro-benchmarks of the fitting step: one model, and all models of
// designs of 80 runs x 20 factors and 256 runs x 40 factors.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/calcmodels.h"
#include "engine/design.h"
#include "engine/modelspace.h"

using namespace bayescreen;

namespace {

// A random two-level design with a few active effects, from a fixed seed.
Design make_design(int runs, int factors, int analysed) {
  uint64_t state = 0x2545F4914F6CDD1DULL + static_cast<uint64_t>(runs);
  auto next = [&] {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 2685821657736338717ULL;
  };
  Design d;
  d.runs = runs;
  d.columns = factors;
  d.analysed = analysed;
  d.x.resize(static_cast<size_t>(runs * factors));
  d.y.resize(static_cast<size_t>(runs));
  for (int r = 0; r < runs; r++) {
    int32_t *row = &d.x[static_cast<size_t>(r * factors)];
    for (int j = 0; j < factors; j++) row[j] = (next() >> 63) ? 1 : -1;
    double noise = static_cast<double>(next() >> 11) / 9007199254740992.0 - 0.5;
    d.y[static_cast<size_t>(r)] = 50 + 4 * row[0] - 3 * row[1] * row[2] + 2 * row[3] + noise;
  }
  name_columns(d);
  return d;
}

void fit_all(benchmark::State &state, int runs, int factors, int analysed) {
  const Design design = make_design(runs, factors, analysed);
  const Settings settings;
  ModelTable models = build_model_table(design, settings.model_space);
  for (auto _ : state) {
    calc_model_fields(design, settings, models);
    benchmark::DoNotOptimize(models[0].postprob);
  }
  state.counters["models"] = models.size();
  state.SetItemsProcessed(state.iterations() * models.size());
}

void BM_FitOneModel(benchmark::State &state) { fit_all(state, 80, 20, 1); }
void BM_FitAllModels80x20(benchmark::State &state) { fit_all(state, 80, 20, 20); }
void BM_FitAllModels256x40(benchmark::State &state) { fit_all(state, 256, 40, 40); }

}  // namespace

BENCHMARK(BM_FitOneModel);
BENCHMARK(BM_FitAllModels80x20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FitAllModels256x40)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
