#include "numeric/lngam.h"

#include <cmath>
#include <cstdlib>

#include "numeric/pfstat.h"

namespace bayescreen {

const double lncof[6] = {76.18009173,  -86.50532033,   24.01409822,
                         -1.231739516, 0.00120858003, -5.36382e-06};

// Lanczos approximation (gamma = 5, six terms):
//   ln Gamma(z) = ln(sqrt(2 pi) * (1 + sum_j c_j / (z + j)))
//                 - (z + 4.5) + (z - 0.5) ln(z + 4.5),   j = 0..5,
// applied for z >= 1; below 1 through ln Gamma(z) = ln Gamma(z + 1) - ln z.
double lngam(double z) {
  if (z <= 0) {
    if (pverrfun != nullptr) pverrfun("%s log(Gamma(z)): z=%g\n", pv_errbleep, z);
    exit(1);
  }
  if (z < 1) return lngam(z + 1) - log(z);
  double tmp = (z + 4.5) - (z - 0.5) * log(z + 4.5);
  double ser = 1.0;
  double y = z - 1;
  for (int j = 0; j < 6; j++) {
    y = y + 1;
    ser = ser + lncof[j] / y;
  }
  return log(2.50662827465 * ser) - tmp;
}

}  // namespace bayescreen
