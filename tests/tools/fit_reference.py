#!/usr/bin/env python3
"""Independent reference values for the model-fitting tests.

Fits every 1-, 2- and 3-factor full-factorial submodel of a small design
with exact rational linear algebra (Gauss-Jordan on fractions), then takes
square roots, logarithms and powers in floating point. Prints each model's
criteria and Box-Meyer weight with 17 significant digits, for pasting into
tests/test_calcmodels.cpp. Not used by the build.
"""
from fractions import Fraction as F
from itertools import combinations
import math

PI, GAM = 0.25, 2.5


def inverse_and_det(a):
    n = len(a)
    m = [row[:] + [F(int(i == j)) for j in range(n)] for i, row in enumerate(a)]
    det = F(1)
    for c in range(n):
        p = next((r for r in range(c, n) if m[r][c] != 0), None)
        if p is None:
            return None, F(0)
        if p != c:
            m[c], m[p] = m[p], m[c]
            det = -det
        det *= m[c][c]
        piv = m[c][c]
        m[c] = [v / piv for v in m[c]]
        for r in range(n):
            if r != c and m[r][c] != 0:
                f = m[r][c]
                m[r] = [vr - f * vc for vr, vc in zip(m[r], m[c])]
    return [row[n:] for row in m], det


def columns(factors, nf):
    cols = [()] + [(f,) for f in factors]
    cols += list(combinations(factors, 2)) if nf >= 2 else []
    cols += [tuple(factors)] if nf == 3 else []
    return cols


def fit(xrows, y, factors, gam=GAM, pi=PI):
    nn, nf = len(y), len(factors)
    cols = columns(factors, nf)
    nc = len(cols)
    X = [[F(math.prod(r[f] for f in c)) for c in cols] for r in xrows]
    Y = [F(v) for v in y]
    xtx = [[sum(X[r][i] * X[r][j] for r in range(nn)) for j in range(nc)] for i in range(nc)]
    inv, _ = inverse_and_det(xtx)
    if inv is None:
        return None
    xty = [sum(X[r][i] * Y[r] for r in range(nn)) for i in range(nc)]
    beta = [sum(inv[i][j] * xty[j] for j in range(nc)) for i in range(nc)]
    fitv = [sum(X[r][i] * beta[i] for i in range(nc)) for r in range(nn)]
    ybar = sum(Y) / nn
    sse = sum((Y[r] - fitv[r]) ** 2 for r in range(nn))
    ssm = sum((fitv[r] - ybar) ** 2 for r in range(nn))
    g = F(1) / (F(gam) ** 2)
    xtxg = [[xtx[i][j] + (g if i == j and i > 0 else 0) for j in range(nc)] for i in range(nc)]
    ginv, det = inverse_and_det(xtxg)
    cc = [sum(ginv[i][j] * xty[j] for j in range(nc)) for i in range(nc)]
    fitc = [sum(X[r][i] * cc[i] for i in range(nc)) for r in range(nn)]
    qqc = sum((Y[r] - fitc[r]) ** 2 for r in range(nn)) + sum((cc[k] / F(gam)) ** 2 for k in range(1, nc))
    dfe = nn - nc
    res = {"nc": nc, "beta": [float(b) for b in beta], "sse": float(sse), "ssm": float(ssm),
           "cc": [float(c) for c in cc], "qqc": float(qqc), "det": float(det)}
    res["loglik"] = -(nn / 2) * (math.log(2 * math.pi * float(sse) / nn) + 1) if sse else math.inf
    if dfe > 0:
        mse = sse / dfe
        rsq = ssm / (ssm + sse)
        res.update(mse=float(mse), rmse=math.sqrt(mse), adjrsq=float(1 - (1 - rsq) * (nn - 1) / dfe),
                   fstat=float((ssm / (nc - 1)) / mse) if mse else math.inf,
                   rmsec=math.sqrt(float(qqc) / dfe))
    res["logb"] = (nf * math.log(pi / (1 - pi)) - (nc - 1) * math.log(gam)
                   - 0.5 * math.log(float(det)) - (nn - 1) / 2 * math.log(float(qqc)))
    res["bval"] = math.exp(res["logb"])
    return res


def report(name, xrows, y, nv):
    print("==", name)
    letters = "ABCDEFGH"
    out = []
    for nf in (1, 2, 3):
        for fs in combinations(range(nv), nf):
            r = fit(xrows, y, list(fs))
            out.append(("".join(letters[f] for f in fs), r))
    total = sum(r["bval"] for _, r in out if r)
    for name, r in out:
        if r is None:
            print(name, "singular")
            continue
        keys = ["sse", "ssm", "mse", "rmse", "adjrsq", "fstat", "loglik", "det", "qqc", "rmsec", "bval"]
        print(name, " ".join(f"{k}={r[k]!r}" for k in keys if k in r),
              f"post={r['bval'] / total!r}", "beta=", r["beta"], "cc=", r["cc"])


if __name__ == "__main__":
    two2 = [{0: a, 1: b} for b in (-1, 1) for a in (-1, 1)]
    report("2^2", two2, [10, 12, 20, 23], 2)
    two3 = [{0: a, 1: b, 2: c} for c in (-1, 1) for b in (-1, 1) for a in (-1, 1)]
    report("2^3", two3, [54, 57, 61, 70, 52, 59, 63, 78], 3)
    # Six runs, unbalanced: the inverse is not a multiple of the identity.
    six = [{0: a, 1: b, 2: c} for a, b, c in
           [(-1, -1, 1), (1, -1, -1), (-1, 1, -1), (1, 1, 1), (1, 1, -1), (-1, -1, -1)]]
    report("six runs", six, [3.1, 4.7, 5.2, 9.8, 8.9, 2.5], 3)
