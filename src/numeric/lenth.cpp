#include "numeric/lenth.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "numeric/tquantile.h"
#include "support/error.h"

namespace bayescreen {

// The median of values (not empty), which it reorders.
static double median(std::vector<double> &values) {
  const size_t n = values.size(), mid = n / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid),
                   values.end());
  const double upper = values[mid];
  if (n % 2 == 1) return upper;
  const double lower =
      *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid));
  return (lower + upper) / 2;
}

LenthResult lenth(std::span<const double> contrasts) {
  if (contrasts.empty()) throw Error("\nINTERNAL ERROR: Lenth's method needs contrasts !\n");
  std::vector<double> sizes;
  sizes.reserve(contrasts.size());
  for (double c : contrasts) {
    if (!std::isfinite(c))
      throw Error("\nINTERNAL ERROR: a contrast for Lenth's method is not a finite number (" +
                  std::to_string(c) + ") !\n");
    sizes.push_back(std::fabs(c));
  }

  LenthResult r;
  r.contrasts = static_cast<int>(contrasts.size());
  r.df = r.contrasts / 3.0;
  r.t_me = t_quantile(0.975, r.df);
  r.t_sme = t_quantile((1 + std::pow(0.95, 1.0 / r.contrasts)) / 2, r.df);

  std::vector<double> work = sizes;
  r.s0 = 1.5 * median(work);
  std::vector<double> trimmed;
  for (double a : sizes)
    if (a < 2.5 * r.s0) trimmed.push_back(a);
  if (trimmed.empty()) return r;  // s0 = 0: no scale
  r.pse = 1.5 * median(trimmed);
  r.me = r.t_me * r.pse;
  r.sme = r.t_sme * r.pse;
  return r;
}

}  // namespace bayescreen
