// The engine's own time for one analysis of a design file, the reference of
// the Python module's calling overhead (make bench): reads the design once,
// then times analyse() as the module calls it (every factor table) and
// prints the median seconds per analysis.
//
//   engine_time <design file> [repetitions]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "engine/analysis.h"
#include "support/linereader.h"

int main(int argc, char **argv) {
  using namespace bayescreen;
  if (argc < 2) {
    fprintf(stderr, "usage: engine_time <design file> [repetitions]\n");
    return 2;
  }
  const int reps = argc > 2 ? atoi(argv[2]) : 2000;
  FILE *file = fopen(argv[1], "rb");
  if (file == nullptr || reps < 1) {
    fprintf(stderr, "engine_time: cannot read %s\n", argv[1]);
    return 2;
  }
  Settings settings;
  LineReader lines(file, argv[1]);
  const Design design = read_design(lines, settings);
  fclose(file);
  AnalysisRequest request;
  request.all_weightings = true;
  // Times batches of analyses, so that the clock's resolution does not count.
  constexpr int kBatch = 20;
  std::vector<double> times;
  for (int r = 0; r < reps; r += kBatch) {
    const auto start = std::chrono::steady_clock::now();
    for (int k = 0; k < kBatch; k++) {
      const Results results = analyse(design, settings, nullptr, request);
      if (results.models.size() == 0) return 1;
    }
    times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / kBatch);
  }
  std::sort(times.begin(), times.end());
  printf("%.9f\n", times[times.size() / 2]);
  return 0;
}
