#!/usr/bin/env python3
"""Independent reference values for the Student t quantile and Lenth's method.

Prints, for pasting into tests/test_lenth.cpp:
  t_quantile  t with P(T <= t) = p for T a Student t with df degrees of
              freedom, df not an integer among them: the root of
              I_x(df/2, 1/2) / 2 = 1 - p, x = df / (df + t^2) (Abramowitz
              and Stegun 26.7.1 with 26.5.27), solved by bisection with mpmath at 40 digits;
  reactor     the 31 effects of the full 2^5 reactor experiment in
              examples/reactor.txt (the reactor example of Box, Hunter and
              Hunter, Statistics for Experimenters, 2nd ed., 2005), each the
              mean response at the contrast's + sign less the mean at its -
              sign, in exact fractions; then Lenth's s0, PSE, ME and SME
              (Lenth 1989, Technometrics 31:469-473) by the definitions, the
              medians exact, the t quantiles from the solver above.
Needs python3-mpmath. Not used by the build.
"""
from fractions import Fraction
from itertools import combinations
from pathlib import Path
import mpmath as mp

mp.mp.dps = 40


def t_quantile(p, df):
    p, df = mp.mpf(p), mp.mpf(df)
    if p == mp.mpf(1) / 2:
        return mp.mpf(0)
    q = 1 - p if p > 0.5 else p

    def tail(t):
        return mp.betainc(df / 2, mp.mpf(1) / 2, 0, df / (df + t * t), regularized=True) / 2 - q

    # Bracket the root by doubling, then bisect it (geometrically while the
    # bracket spans more than a factor 4) far past 17 digits.
    lo, hi = mp.mpf(0), mp.mpf(1)
    while tail(hi) > 0:
        lo, hi = hi, hi * 2
    for _ in range(300):
        mid = (lo + hi) / 2 if lo == 0 or hi < 4 * lo else mp.sqrt(lo * hi)
        if tail(mid) > 0:
            lo = mid
        else:
            hi = mid
    t = (lo + hi) / 2
    return t if p > 0.5 else -t


def median(values):
    v = sorted(values)
    n = len(v)
    return v[n // 2] if n % 2 else (v[n // 2 - 1] + v[n // 2]) / 2


def lenth(contrasts):
    m = len(contrasts)
    a = [abs(c) for c in contrasts]
    s0 = Fraction(3, 2) * median(a)
    pse = Fraction(3, 2) * median([x for x in a if x < Fraction(5, 2) * s0])
    df = mp.mpf(m) / 3
    me = t_quantile(mp.mpf('0.975'), df) * mp.mpf(pse.numerator) / pse.denominator
    p_sme = (1 + mp.mpf('0.95') ** (mp.mpf(1) / m)) / 2
    sme = t_quantile(p_sme, df) * mp.mpf(pse.numerator) / pse.denominator
    return s0, pse, me, sme


def reactor_effects():
    text = (Path(__file__).resolve().parents[2] / 'examples' / 'reactor.txt').read_text()
    lines = text.splitlines()
    rows = lines[[k for k, line in enumerate(lines) if line.startswith('Data')][0] + 1:]
    x, y = [], []
    for line in rows:
        words = line.split()
        if words:
            x.append([int(w) for w in words[1:6]])
            y.append(Fraction(words[6]))
    effects = []
    for size in range(1, 6):
        for cols in combinations(range(5), size):
            name = ''.join('ABCDE'[j] for j in cols)
            total = Fraction(0)
            for xi, yi in zip(x, y):
                sign = 1
                for j in cols:
                    sign *= xi[j]
                total += sign * yi
            effects.append((name, total / (len(y) // 2)))
    return effects


print('// t_quantile: {p, df, t}')
for p, df in [('0.975', '1/3'), ('0.975', '2/3'), ('0.975', '5'), ('0.975', '31/3'),
              ('0.6', '0.5'), ('0.999', '2.5'), ('0.025', '3.7'), ('0.9999', '7/3'),
              ('0.75', '25.5'), ('0.995', '100.25'), ('0.1', '1000'), ('0.999999', '1.5'),
              ('0.5000001', '4.2'), ('1e-12', '0.8'), ('1e-12', '100'),
              ('0.999999999999', '1000')]:
    dfv = mp.mpf(float(Fraction(df)))  # as the test passes it, a double
    # The test passes p as a double: the reference takes that double's exact
    # value, whose 1 - p may differ from the decimal's far in the tail.
    print('{%s, %r, %s},' % (p, float(Fraction(df)), mp.nstr(t_quantile(mp.mpf(float(p)), dfv), 17)))

effects = reactor_effects()
print('// reactor effects')
print(', '.join('%s' % float(e) for _, e in effects))
print('// ' + ' '.join('%s=%s' % (n, float(e)) for n, e in effects))
s0, pse, me, sme = lenth([e for _, e in effects])
print('// reactor: s0, PSE, ME, SME')
print('{%s, %s, %s, %s}' % (float(s0), float(pse), mp.nstr(me, 17), mp.nstr(sme, 17)))
