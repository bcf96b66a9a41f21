#!/usr/bin/env python3
"""Independent reference values for the distribution-function tests.

Prints, with 17 significant digits, for pasting into tests/test_pfstat.cpp:
  lngam    ln Gamma(z): exact logarithms of factorials for integer z and of
           (2n)! sqrt(pi) / (4^n n!) for z = n + 1/2; math.lgamma elsewhere;
  betainc  I_x(a, b) for integer a, b and rational x, exactly, as the binomial
           sum I_x(a, b) = sum_{j=a}^{a+b-1} C(a+b-1, j) x^j (1-x)^(a+b-1-j)
           (Abramowitz and Stegun 26.5.7), in fractions;
  fdist    P(F <= f) for an even second degree of freedom, from the finite
           series I_x(a, b) = x^a sum_{j<b} (a)_j / j! (1-x)^j for integer b;
  pvttest  P(|T| >= t) for integer degrees of freedom, from the closed forms
           of Abramowitz and Stegun 26.7.3 (odd) and 26.7.4 (even).
Not used by the build.
"""
from fractions import Fraction
import math


def lngam(z):
    z = Fraction(z)
    if z.denominator == 1:
        return math.log(math.factorial(int(z) - 1))
    if z.denominator == 2:
        n = int(z - Fraction(1, 2))
        return (math.log(math.factorial(2 * n)) - math.log(4 ** n * math.factorial(n))
                + 0.5 * math.log(math.pi))
    return math.lgamma(float(z))


def betainc(a, b, x):
    x = Fraction(x)
    n = a + b - 1
    return float(sum(math.comb(n, j) * x ** j * (1 - x) ** (n - j) for j in range(a, n + 1)))


def fdist(df1, df2, f):
    assert df2 % 2 == 0
    x = Fraction(df1) * Fraction(f) / (df2 + Fraction(df1) * Fraction(f))
    a, b = Fraction(df1, 2), df2 // 2
    total, term = Fraction(0), Fraction(1)
    for j in range(b):
        if j > 0:
            term *= (a + j - 1) / j * (1 - x)
        total += term
    # x^a with a half-integer: the square root is the one inexact step.
    return float(total) * math.sqrt(float(x)) ** df1


def pvttest(df, t):
    theta = math.atan(abs(t) / math.sqrt(df))
    c2 = math.cos(theta) ** 2
    if df % 2 == 1:
        total, term = 0.0, math.cos(theta)
        for k in range(1, (df - 1) // 2 + 1):
            total += term
            term *= c2 * (2 * k) / (2 * k + 1)
        a = 2 / math.pi * (theta + math.sin(theta) * total)
    else:
        total, term = 0.0, 1.0
        for k in range(1, df // 2 + 1):
            total += term
            term *= c2 * (2 * k - 1) / (2 * k)
        a = math.sin(theta) * total
    return 1 - a


def show(name, args, value):
    print("{%s, %.17g},  // %s" % (", ".join(str(a) for a in args), value, name))


for z in ["1/10", "1/2", "1", "3/2", "2", "5/2", "7/2", "10", "15", "201/10", "100", "1000"]:
    fz = Fraction(z)
    show("lngam", [float(fz)], lngam(fz))
for a, b, x in [(2, 3, "2/5"), (1, 1, "3/10"), (5, 5, "1/2"), (12, 12, "1/2"), (3, 9, "1/10"),
                (9, 3, "9/10"), (7, 20, "1/4"), (30, 40, "2/5"), (100, 3, "97/100"), (1, 30, "212128/10000000")]:
    show("betainc", [a, b, float(Fraction(x))], betainc(a, b, Fraction(x)))
for df1, df2, f in [(1, 2, "3"), (2, 2, "3"), (3, 10, "3708/1000"), (5, 4, "26/10"),
                    (1, 54, "29/10"), (7, 20, "1/2"), (20, 60, "15/10"), (1, 30, "212128/10000000")]:
    show("fdist", [df1, df2, float(Fraction(f))], fdist(df1, df2, Fraction(f)))
for df, t in [(1, 3.5), (2, 4.303), (3, 1.25), (5, 2.571), (10, 2.228), (13, 0.5), (30, 2.042),
              (60, 3.45), (121, 1.98)]:
    show("pvttest", [df, t], pvttest(df, t))
