#!/usr/bin/env python3
"""Independent reference values for the prior grids (--gamma-grid, --pi-grid).

For every point of a grid of prior ratios gamma and prior proportions pi,
fits every model of the model set afresh with exact rational linear algebra
(modelspace_reference.fit, which takes gamma, the interaction ratio and pi
as given) and forms from the log Box-Meyer weights

  - the posterior probability of each model, exp(logb - max) / sum,
  - the probability that each factor is active: the summed probability of
    the models holding it (with --keep-aliased the singular ones too),
  - the probability that none is: that of the null model,
  - the log support of the data for the point,
      log p(y | gamma, pi) = k log(1 - pi) + log sum_models bval,
    k the factors screened, normalised over the grid.

Nothing is shared with the program's way of computing them (one pass of
cross products, weights summed per model size, pi added afterwards). With
--gamma-int the interaction ratio at grid value g is gamma_int * (g / G), G
the value of -G. Prints C++ table rows for tests/test_priorgrid.cpp. Not used
by the build.
"""
import math

from modelspace_reference import fit, full_factorial, model_set

PB12 = [(1, -1, 1, -1, -1), (1, 1, -1, 1, -1), (-1, 1, 1, -1, 1), (1, -1, 1, 1, -1),
        (1, 1, -1, 1, 1), (1, 1, 1, -1, 1), (-1, 1, 1, 1, -1), (-1, -1, 1, 1, 1),
        (-1, -1, -1, 1, 1), (1, -1, -1, -1, 1), (-1, 1, -1, -1, -1), (-1, -1, -1, -1, -1)]
Y12 = [56, 93, 67, 60, 77, 65, 95, 49, 44, 63, 63, 61]


def grid_values(lo, hi, n):
    return [min(lo + (hi - lo) * i / (n - 1), hi) for i in range(n - 1)] + [hi]


def point(xrows, y, g, p, blocks, kmax, order, null, keep, gam, gint):
    nv = len(xrows[0])
    gi = gint * (g / gam) if gint else g
    logbs = []
    for fs in model_set(blocks, nv, kmax, null):
        r = fit(xrows, y, blocks, list(fs), order, g, gi, p)
        if keep or not r["singular"]:
            logbs.append((fs, r["logb"]))
    top = max(v for _, v in logbs)
    total = sum(math.exp(v - top) for _, v in logbs)
    active = [sum(math.exp(v - top) for fs, v in logbs if f in fs) / total for f in range(blocks, nv)]
    none = sum(math.exp(v - top) for fs, v in logbs if not fs) / total
    return active, none, (nv - blocks) * math.log(1 - p) + top + math.log(total)


def grid(xrows, y, gammas, pis, blocks=0, kmax=3, order=3, null=False, keep=False, gam=2.5, gint=None):
    """Every point, pi outermost: index = i * len(gammas) + j; and the support of each."""
    points = [point(xrows, y, g, p, blocks, kmax, order, null, keep, gam, gint) for p in pis for g in gammas]
    top = max(ls for _, _, ls in points)
    weights = [math.exp(ls - top) for _, _, ls in points]
    return points, [w / sum(weights) for w in weights]


def report(title, xrows, y, gammas, pis, checked, **space):
    points, support = grid(xrows, y, gammas, pis, **space)
    print("//", title)
    print("    {%s}," % ", ".join(f"{{{i}, {{{', '.join(repr(v) for v in points[i][0])}}}, "
                                  f"{points[i][1]!r}}}" for i in checked))
    print("    {%s}," % ", ".join(repr(v) for v in support))


def best(title, xrows, y, gammas, pis, **space):
    _, support = grid(xrows, y, gammas, pis, **space)
    i = max(range(len(support)), key=lambda j: support[j])
    print(f"// {title}: best point {i}, support {support[i]!r}, "
          f"neighbours {support[max(i - 1, 0)]!r} {support[min(i + 1, len(support) - 1)]!r}")


if __name__ == "__main__":
    pb = [dict(enumerate(r)) for r in PB12]
    report("reactor12 --null --gamma-grid=0.5:5:10", pb, Y12, grid_values(0.5, 5, 10), [0.25],
           [0, 4, 9], null=True)
    report("reactor12 --pi-grid=0.05:0.5:10", pb, Y12, [2.5], grid_values(0.05, 0.5, 10), [0, 4, 9])
    report("2^4 --blocks=1 --order=2 --gamma-int=1.5 --gamma-grid=1:4:4 --pi-grid=0.1:0.4:4",
           full_factorial(4), [61, 53, 63, 61, 53, 56, 54, 61, 69, 61, 94, 93, 66, 60, 95, 98],
           grid_values(1, 4, 4), grid_values(0.1, 0.4, 4), [0, 6, 15], blocks=1, order=2, gint=1.5)
    half = [{0: a, 1: b, 2: a * b} for a, b in [(-1, -1), (1, -1), (-1, 1), (1, 1)]] * 2
    report("half fraction twice --keep-aliased --gamma-grid=1:3:3", half,
           [10, 14, 19, 31, 11, 15, 18, 30], grid_values(1, 3, 3), [0.25], [0, 1, 2], keep=True)
    report("2^3 and two centre runs --gamma-grid=1:4:4", full_factorial(3) + [{0: 0, 1: 0, 2: 0}] * 2,
           [20, 31, 22, 35, 19, 33, 24, 36, 27, 28], grid_values(1, 4, 4), [0.25], [0, 2, 3])
    report("reactor12 --null --max-factors=5 --order=1 --gamma-grid=0.5:5:4", pb, Y12,
           grid_values(0.5, 5, 4), [0.25], [0, 1, 3], null=True, kmax=5, order=1)
    best("reactor12 --null --gamma-grid=0.2:6:100", pb, Y12, grid_values(0.2, 6, 100), [0.25], null=True)
