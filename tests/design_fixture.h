// Designs made directly, as the design reader would leave them, so that the
// model steps can be tested on small hand-made designs.
#pragma once
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/design.h"
#include "engine/settings.h"

namespace testutil {

// A design of the given runs (one vector of entries each) and responses,
// its first nvars columns analysed, as the design reader leaves it.
inline bayescreen::Design make_design(const std::vector<std::vector<int>> &rows, const std::vector<double> &y,
                                      int nvars) {
  bayescreen::Design d;
  d.path = "test.txt";
  d.runs = static_cast<int32_t>(rows.size());
  d.columns = static_cast<int32_t>(rows[0].size());
  d.analysed = nvars;
  for (size_t r = 0; r < rows.size(); r++) {
    d.run_numbers.push_back(static_cast<int32_t>(r + 1));
    for (int v : rows[r]) d.x.push_back(v);
  }
  d.y = y;
  bayescreen::name_columns(d);
  return d;
}

// Runs of a full 2^k factorial in standard order (first factor fastest).
inline std::vector<std::vector<int>> full_factorial(int k) {
  std::vector<std::vector<int>> rows;
  for (int r = 0; r < (1 << k); r++) {
    std::vector<int> row;
    for (int j = 0; j < k; j++) row.push_back((r >> j) & 1 ? 1 : -1);
    rows.push_back(row);
  }
  return rows;
}

// The twelve runs of the reactor experiment (a Plackett-Burman subset of
// the 2^5 factorial, examples/reactor12.txt) and their responses.
inline const std::vector<std::vector<int>> kReactor12Rows = {
    {1, -1, 1, -1, -1}, {1, 1, -1, 1, -1},   {-1, 1, 1, -1, 1}, {1, -1, 1, 1, -1},
    {1, 1, -1, 1, 1},   {1, 1, 1, -1, 1},    {-1, 1, 1, 1, -1}, {-1, -1, 1, 1, 1},
    {-1, -1, -1, 1, 1}, {1, -1, -1, -1, 1},  {-1, 1, -1, -1, -1}, {-1, -1, -1, -1, -1}};
inline const std::vector<double> kReactor12Y = {56, 93, 67, 60, 77, 65, 95, 49, 44, 63, 63, 61};

// A model space: blocks, K, R, the null model, kept singular models and the
// interaction ratio (0: that of -G).
inline bayescreen::ModelSpace model_space(int blocks, int kmax, int order, int with_null, int keep,
                                          double gint) {
  bayescreen::ModelSpace s;
  s.blocks = blocks;
  s.max_factors = kmax;
  s.order = order;
  s.with_null = with_null;
  s.keep_aliased = keep;
  s.gam_int = gint;
  return s;
}

}  // namespace testutil
