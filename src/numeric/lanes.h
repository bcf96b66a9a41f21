// Two doubles side by side in one vector register. Each lane is plain IEEE
// double arithmetic, so sums kept in lanes are the same, to the last bit, as
// the same sums kept one by one.
#pragma once
#include <cstring>

namespace bayescreen {

typedef double v2d __attribute__((vector_size(16)));

// The two doubles at p (no alignment needed).
inline v2d load2(const double *p) {
  v2d v;
  memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace bayescreen
