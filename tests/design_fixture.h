// Sets the design globals directly, as the design reader would leave them,
// so that the model steps can be tested on small hand-made designs.
#pragma once
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/readdat.h"
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

}  // namespace testutil
