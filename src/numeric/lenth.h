// Lenth's method for the effects of an unreplicated two-level design: a
// scale for the effect estimates taken from the estimates themselves, and
// the margins an effect must pass to stand out (Lenth, R. V. (1989), Quick
// and easy analysis of unreplicated factorials, Technometrics 31:469-473).
#pragma once
#include <span>

namespace bayescreen {

// Lenth's figures for m contrasts c_1..c_m.
struct LenthResult {
  int contrasts = 0;   // m
  double s0 = 0;       // 1.5 median |c|
  double pse = 0;      // pseudo standard error: 1.5 median of the |c| < 2.5 s0
  double df = 0;       // degrees of freedom of the margins, m / 3
  double t_me = 0;     // t(0.975; m/3)
  double t_sme = 0;    // t((1 + 0.95^(1/m)) / 2; m/3)
  double me = 0;       // margin of error, t_me PSE
  double sme = 0;      // simultaneous margin of error, t_sme PSE
};

// Lenth's s0, PSE, ME and SME of the contrasts (the effect estimates, in
// any order and sign). A median of an even number of values is the mean of
// the two middle ones. When more than half the contrasts are 0, s0 is 0, no
// |c| is below 2.5 s0, and PSE, ME and SME are 0: the contrasts give no
// scale. Throws an Error for no contrasts or one that is not finite.
LenthResult lenth(std::span<const double> contrasts);

}  // namespace bayescreen
