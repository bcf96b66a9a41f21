// Micro-benchmarks of the fitting step: one model, and all models of
// designs of 80 runs x 20 factors and 256 runs x 40 factors.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/calcmodels.h"
#include "engine/models.h"
#include "engine/readdat.h"
#include "support/helpers.h"

using namespace bayescreen;

namespace {

// A random two-level design with a few active effects, from a fixed seed.
void make_design(int runs, int factors, int analysed) {
  uint64_t state = 0x2545F4914F6CDD1DULL + static_cast<uint64_t>(runs);
  auto next = [&] {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 2685821657736338717ULL;
  };
  nn = runs;
  mm = factors;
  nv = analysed;
  ximat = static_cast<int32_t *>(cxalloc(static_cast<size_t>(runs * factors) + 3, sizeof(int32_t)));
  yy = static_cast<double *>(cxalloc(static_cast<size_t>(runs) + 3, sizeof(double)));
  for (int r = 0; r < runs; r++) {
    int32_t *row = &ximat[r * factors];
    for (int j = 0; j < factors; j++) row[j] = (next() >> 63) ? 1 : -1;
    double noise = static_cast<double>(next() >> 11) / 9007199254740992.0 - 0.5;
    yy[r] = 50 + 4 * row[0] - 3 * row[1] * row[2] + 2 * row[3] + noise;
  }
  std::string letters;
  for (int k = 0; static_cast<int>(letters.size()) < factors; k++)
    if (k != 8) letters += static_cast<char>('A' + k);
  factorstr = strxdup(letters.c_str());
  std::string digits;
  for (int k = 0; k < factors; k++) digits += static_cast<char>('0' + k);
  digitstr = strxdup(digits.c_str());
  init_models();
}

void fit_all(benchmark::State &state, int runs, int factors, int analysed) {
  make_design(runs, factors, analysed);
  for (auto _ : state) {
    ninvalid = 0;
    calc_model_fields();
    benchmark::DoNotOptimize(model[0].postprob);
  }
  state.counters["models"] = nmod;
  state.SetItemsProcessed(state.iterations() * nmod);
}

void BM_FitOneModel(benchmark::State &state) { fit_all(state, 80, 20, 1); }
void BM_FitAllModels80x20(benchmark::State &state) { fit_all(state, 80, 20, 20); }
void BM_FitAllModels256x40(benchmark::State &state) { fit_all(state, 256, 40, 40); }

}  // namespace

BENCHMARK(BM_FitOneModel);
BENCHMARK(BM_FitAllModels80x20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FitAllModels256x40)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
