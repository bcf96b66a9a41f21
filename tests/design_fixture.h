// Sets the design globals directly, as the design reader would leave them,
// so that the model steps can be tested on small hand-made designs.
#pragma once
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/readdat.h"
#include "engine/settings.h"
#include "support/helpers.h"

namespace testutil {

// rows: one vector of design entries per run; y: responses.
inline void set_design(const std::vector<std::vector<int>> &rows, const std::vector<double> &y,
                       int nvars) {
  using namespace bayescreen;
  nn = static_cast<int32_t>(rows.size());
  mm = static_cast<int32_t>(rows[0].size());
  nv = nvars;
  ximat = static_cast<int32_t *>(cxalloc(static_cast<size_t>(nn * mm) + 3, sizeof(int32_t)));
  yy = static_cast<double *>(cxalloc(static_cast<size_t>(nn) + 3, sizeof(double)));
  for (int r = 0; r < nn; r++) {
    for (int j = 0; j < mm; j++) ximat[r * mm + j] = rows[r][j];
    yy[r] = y[r];
  }
  const std::string letters = "ABCDEFGHJKLMNOPQRSTUVWXYZ";
  factorstr = strxdup(letters.substr(0, mm).c_str());
  std::string digits;
  for (int k = 0; k < mm; k++) digits += static_cast<char>('0' + k);
  digitstr = strxdup(digits.c_str());
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
