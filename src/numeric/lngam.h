// Natural logarithm of the gamma function.
#pragma once

namespace bayescreen {

// Coefficients of the six-term Lanczos series used by lngam.
extern const double lncof[6];

// ln(Gamma(z)) for z > 0, to an absolute 2.1e-10 up to z = 1000 (lngam.cpp);
// a z of 0 or less throws an Error (see pfstat.h).
double lngam(double z);

}  // namespace bayescreen
