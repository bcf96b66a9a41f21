#!/usr/bin/env python3
"""Independent reference values for general model sets.

Builds the model set of the model-space options (the null model, models of
up to K factors with interactions up to order R, leading block columns, a
separate prior ratio for interactions, singular models kept with their
Box-Meyer posterior) for small designs, fits each model with exact rational
linear algebra (fit_reference.inverse_and_det), and prints each model's
criteria, its log Box-Meyer weight and its posterior probability as C++
table rows for tests/test_modelspace.cpp. Not used by the build.

The Box-Meyer weight of a model with f screened factors and effect columns
c (blocks, main effects, interactions) with prior ratios g_c is
  bval = (pi/(1-pi))^f prod_c g_c^-1 det(X'X + Gamma)^-1/2 Qqc^-(n-1)/2,
  Qqc = |y - X b|^2 + sum_c (b_c/g_c)^2,  b = (X'X + Gamma)^-1 X'y,
Gamma = diag(0, 1/g_c^2, ...).
"""
from fractions import Fraction as F
from itertools import combinations
import math

from fit_reference import inverse_and_det

LETTERS = "ABCDEFGHJKLMNOPQRSTUVWXYZ"


def model_columns(blocks, factors, order):
    cols = [()] + [(b,) for b in range(blocks)]
    for t in range(1, min(order, len(factors)) + 1):
        cols += list(combinations(factors, t))
    return cols


def fit(xrows, y, blocks, factors, order, gam, gint, pi):
    n = len(y)
    cols = model_columns(blocks, factors, order)
    nc = len(cols)
    X = [[F(math.prod(r[f] for f in c)) for c in cols] for r in xrows]
    Y = [F(v) for v in y]
    xtx = [[sum(X[r][i] * X[r][j] for r in range(n)) for j in range(nc)] for i in range(nc)]
    xty = [sum(X[r][i] * Y[r] for r in range(n)) for i in range(nc)]
    inv, _ = inverse_and_det(xtx)
    res = {"singular": inv is None}
    if inv is not None:
        beta = [sum(inv[i][j] * xty[j] for j in range(nc)) for i in range(nc)]
        fitv = [sum(X[r][i] * beta[i] for i in range(nc)) for r in range(n)]
        ybar = sum(Y) / n
        sse = sum((Y[r] - fitv[r]) ** 2 for r in range(n))
        ssm = sum((fitv[r] - ybar) ** 2 for r in range(n))
        dfe = n - nc
        res["loglik"] = -(n / 2) * (math.log(2 * math.pi * float(sse) / n) + 1) if sse else math.inf
        if dfe > 0 and sse > 0:
            mse = sse / dfe
            res["rmse"] = math.sqrt(mse)
            res["adjrsq"] = float(1 - (1 - ssm / (ssm + sse)) * (n - 1) / dfe)
            res["fstat"] = float((ssm / (nc - 1)) / mse) if nc > 1 else math.nan
    ratio = [None] + [F(gint) if len(c) > 1 else F(gam) for c in cols[1:]]
    xtxg = [[xtx[i][j] + (1 / ratio[i] ** 2 if i == j and i > 0 else 0) for j in range(nc)]
            for i in range(nc)]
    ginv, det = inverse_and_det(xtxg)
    cc = [sum(ginv[i][j] * xty[j] for j in range(nc)) for i in range(nc)]
    fitc = [sum(X[r][i] * cc[i] for i in range(nc)) for r in range(n)]
    qqc = sum((Y[r] - fitc[r]) ** 2 for r in range(n)) + sum((cc[k] / ratio[k]) ** 2 for k in range(1, nc))
    if n - nc > 0:
        res["rmsec"] = math.sqrt(float(qqc) / (n - nc))
    res["logb"] = (len(factors) * math.log(pi / (1 - pi))
                   - sum(math.log(float(g)) for g in ratio[1:])
                   - 0.5 * math.log(float(det)) - (n - 1) / 2 * math.log(float(qqc)))
    return res


def model_set(blocks, nv, kmax, with_null):
    screened = list(range(blocks, nv))
    sets = [()] if with_null else []
    for f in range(1, min(kmax, len(screened)) + 1):
        sets += list(combinations(screened, f))
    return sets


def report(title, xrows, y, blocks=0, kmax=3, order=3, null=False, keep=False,
           gam=2.5, gint=None, pi=0.25):
    nv = len(xrows[0])
    gint = gam if gint is None else gint
    rows = []
    for fs in model_set(blocks, nv, kmax, null):
        r = fit(xrows, y, blocks, list(fs), order, gam, gint, pi)
        name = "".join(LETTERS[f] for f in fs) or "(null)"
        rows.append((name, r))
    live = [r["logb"] for _, r in rows if keep or not r["singular"]]
    top = max(live)
    total = sum(math.exp(v - top) for v in live)
    print("//", title)
    for name, r in rows:
        post = math.exp(r["logb"] - top) / total if keep or not r["singular"] else 0.0
        vals = [r.get(k, math.nan) for k in ("rmse", "adjrsq", "fstat", "loglik", "rmsec")]
        logb = r["logb"] if keep or not r["singular"] else -math.inf
        text = ", ".join("NAN" if math.isnan(v) else ("INFINITY" if v == math.inf else repr(v))
                         for v in vals + [logb, post])
        print(f'    {{"{name}", {int(r["singular"])}, {text}}},')


def full_factorial(k):
    return [{j: (1 if (r >> j) & 1 else -1) for j in range(k)} for r in range(1 << k)]


if __name__ == "__main__":
    f4 = full_factorial(4)
    y16 = [61, 53, 63, 61, 53, 56, 54, 61, 69, 61, 94, 93, 66, 60, 95, 98]
    report("2^4, --null --max-factors=4", f4, y16, kmax=4, null=True)
    report("2^4, --order=2", f4, y16, order=2)
    report("2^4, --blocks=1 --gamma-int=1.5", f4, y16, blocks=1, gint=1.5)
    # Plackett-Burman 12 runs (the reactor subset), main effects of up to 5 factors.
    pb = [(1, -1, 1, -1, -1), (1, 1, -1, 1, -1), (-1, 1, 1, -1, 1), (1, -1, 1, 1, -1),
          (1, 1, -1, 1, 1), (1, 1, 1, -1, 1), (-1, 1, 1, 1, -1), (-1, -1, 1, 1, 1),
          (-1, -1, -1, 1, 1), (1, -1, -1, -1, 1), (-1, 1, -1, -1, -1), (-1, -1, -1, -1, -1)]
    ypb = [56, 93, 67, 60, 77, 65, 95, 49, 44, 63, 63, 61]
    report("reactor12, --null --max-factors=5 --order=1",
           [dict(enumerate(r)) for r in pb], ypb, kmax=5, order=1, null=True)
    # A half fraction run twice: C = AB, so the pairs are aliases and ABC is singular.
    half = [{0: a, 1: b, 2: a * b} for a, b in [(-1, -1), (1, -1), (-1, 1), (1, 1)]] * 2
    yhalf = [10, 14, 19, 31, 11, 15, 18, 30]
    report("half fraction twice, --keep-aliased", half, yhalf, keep=True)
