#!/usr/bin/env python3
"""Independent reference values for the model-fitting tests.

Fits every 1-, 2- and 3-factor full-factorial submodel of a design with
exact rational linear algebra (Gauss-Jordan on fractions), so that a model
whose X'X is singular in exact arithmetic is recognised as such; then takes
square roots, logarithms and powers in floating point. Logarithms of the
rational sums of squares and determinants are taken from their numerator
and denominator, which never overflow. Not used by the build.

    fit_reference.py              each model's criteria and Box-Meyer weight
                                  for the small designs of test_calcmodels.cpp
    fit_reference.py scale96      the factor tables of tests/data/scale96.txt
                                  and the posterior of every model
    fit_reference.py pb11         the singular triples and the factor tables
                                  of tests/data/pb11.txt
    fit_reference.py exact        the factor tables of an exact fit
    fit_reference.py reactor512   the factor tables of examples/reactor.txt
                                  with every run repeated 16 times

The factor tables are printed as the program prints them. Every share is
computed from the log weights relative to the largest (the log-sum-exp
normalisation); when some weights are infinite, the models with infinite
weight share equally and the others get nothing; invalid (singular) models
and weights that are not numbers count 0.
"""
from fractions import Fraction as F
from itertools import combinations
import math
import os
import sys

PI, GAM = 0.25, 2.5
LETTERS = "ABCDEFGHJKLMNOPQRSTUVWXYZ"
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


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


def qlog(q):
    """Natural log of a non-negative rational: -inf for 0."""
    if q == 0:
        return -math.inf
    q = F(q)
    return math.log(q.numerator) - math.log(q.denominator)


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
           "cc": [float(c) for c in cc], "qqc": float(qqc), "det": float(det),
           "sse_q": sse, "ssm_q": ssm, "qqc_q": qqc, "dfe": dfe}
    res["loglik"] = -(nn / 2) * (qlog(2 * F(math.pi) * sse / nn) + 1) if sse else math.inf
    if dfe > 0:
        mse = sse / dfe
        rsq = ssm / (ssm + sse)
        res.update(mse=float(mse), rmse=math.sqrt(mse), adjrsq=float(1 - (1 - rsq) * (nn - 1) / dfe),
                   fstat=float((ssm / (nc - 1)) / mse) if mse else math.inf,
                   rmsec=math.sqrt(float(qqc) / dfe))
    res["logb"] = (nf * math.log(pi / (1 - pi)) - (nc - 1) * math.log(gam)
                   - 0.5 * qlog(det) - (nn - 1) / 2 * qlog(qqc))
    res["bval"] = math.exp(res["logb"]) if res["logb"] < 700 else math.inf
    return res


def fit_all(xrows, y, nv):
    """Every model in enumeration order: (name, factors, fit or None when singular)."""
    out = []
    for nf in (1, 2, 3):
        for fs in combinations(range(nv), nf):
            out.append(("".join(LETTERS[f] for f in fs), fs, fit(xrows, y, list(fs))))
    return out


def posteriors(out):
    """Posterior probability of every model from the log weights."""
    logs = [r["logb"] for _, _, r in out if r]
    top = max(logs)
    total = math.fsum(math.exp(v - top) for v in logs)
    return {name: math.exp(r["logb"] - top) / total if r else 0.0 for name, _, r in out}


def report(name, xrows, y, nv):
    print("==", name)
    out = fit_all(xrows, y, nv)
    post = posteriors(out)
    for name, _, r in out:
        if r is None:
            print(name, "singular")
            continue
        keys = ["sse", "ssm", "mse", "rmse", "adjrsq", "fstat", "loglik", "det", "qqc", "rmsec", "bval"]
        print(name, " ".join(f"{k}={r[k]!r}" for k in keys if k in r),
              f"post={post[name]!r}", "beta=", r["beta"], "cc=", r["cc"])


# ---- Factor weights ---------------------------------------------------------

def ratio_log(num, den):
    """log(num/den) for non-negative rationals, with x/0 = inf and 0/0 = nan."""
    if den == 0:
        return math.nan if num == 0 else math.inf
    return qlog(F(num) / F(den))


def weightings(nn, r, post):
    """The (plain, log) weight of a valid model under each weighting, as the
    program forms the plain value in floating point."""
    dfe, nc = r["dfe"], r["nc"]
    sse, ssm, qqc = r["sse_q"], r["ssm_q"], r["qqc_q"]
    mse = F(sse) / dfe if dfe else None          # None: sse / 0
    log_mse = ratio_log(sse, dfe)
    log_f = ratio_log(F(ssm) / (nc - 1), mse) if mse is not None else (
        math.nan if sse == 0 else -math.inf)
    lik = r["loglik"]
    log_inv_mse = -log_mse
    log_inv_mc = ratio_log(dfe, qqc)

    def plain(log):
        if math.isnan(log):
            return math.nan
        return math.inf if log > 709 else math.exp(log)
    return {
        "Fstat": (plain(log_f), log_f),
        "Likelihood": (plain(lik), lik),
        "1/rmse^2": (plain(log_inv_mse), log_inv_mse),
        "1/rmsec^2": (plain(log_inv_mc), log_inv_mc),
        "Bayes": (post, math.log(post) if post > 0 else -math.inf),
    }


def shares(weights):
    """Share of each model in the total weight, from (plain, log) pairs;
    None marks an invalid model."""
    logs = [w[1] if w is not None and not math.isnan(w[1]) else -math.inf for w in weights]
    top = max(logs)
    if top == -math.inf:
        return [0.0] * len(weights)
    if top == math.inf:
        rel = [1.0 if v == math.inf else 0.0 for v in logs]
    else:
        rel = [math.exp(v - top) for v in logs]
    total = math.fsum(rel)
    return [v / total for v in rel]


def factor_table(out, nv, kind, nn, post, show_sums=True):
    weights = [weightings(nn, r, post[name])[kind] if r else None for name, _, r in out]
    share = shares(weights)
    lines = []
    pact, fshare = [], []
    for f in range(nv):
        members = [i for i, (_, fs, _) in enumerate(out) if f in fs]
        plain = [weights[i][0] for i in members
                 if weights[i] is not None and not math.isnan(weights[i][1])]
        pact.append(math.fsum(plain) if not any(map(math.isinf, plain)) else math.inf)
        fshare.append(math.fsum(share[i] for i in members))
    width = max(len("%g" % v) for v in pact)
    for f in range(nv):
        stars = "*" * min(30, int(math.floor(fshare[f] * 30 + 0.5)))
        if show_sums:
            lines.append("  %s:  %*g    %7.5f  %s" % (LETTERS[f], width, pact[f], fshare[f], stars))
        else:
            lines.append("  %s:  %7.5f  %s" % (LETTERS[f], fshare[f], stars))
    return lines


def print_tables(out, nv, nn, kinds, sums=("Fstat", "Bayes")):
    post = posteriors(out)
    for kind in kinds:
        print("--", kind)
        for line in factor_table(out, nv, kind, nn, post, kind in sums):
            print(repr(line + "\n"))


# ---- Designs --------------------------------------------------------------------

def read_design(path):
    """The -1/+1 rows and responses of a design file (comment lines skipped)."""
    lines = [l.strip() for l in open(path)]
    lines = [l for l in lines if l and l[0] not in "#;%"]
    data = next(i for i, l in enumerate(lines) if l.lower().startswith("data"))
    rows, y = [], []
    for line in lines[data + 1:]:
        words = line.split()
        rows.append({j: int(v) for j, v in enumerate(words[1:-1])})
        y.append(F(words[-1]))
    return rows, y


ALL_KINDS = ["Fstat", "Likelihood", "1/rmse^2", "1/rmsec^2", "Bayes"]


def scale96():
    rows, y = read_design(os.path.join(ROOT, "tests", "data", "scale96.txt"))
    out = fit_all(rows, y, 5)
    post = posteriors(out)
    print("-- posterior of every model (%.2g)")
    print(" ".join(f"{name}={post[name]:.2g}" for name, _, _ in out))
    print_tables(out, 5, len(y), ALL_KINDS)


def pb11():
    rows, y = read_design(os.path.join(ROOT, "tests", "data", "pb11.txt"))
    out = fit_all(rows, y, 11)
    singular = [name for name, _, r in out if r is None]
    print("-- %d singular models:" % len(singular), " ".join(singular))
    post = posteriors(out)
    best = sorted(((post[n], n) for n, _, r in out if r), reverse=True)[:3]
    print("-- best:", " ".join(f"{n}={p:.2g}" for p, n in best))
    print_tables(out, 11, len(y), ["Fstat", "Bayes"])


def exact():
    rows = [{0: a, 1: b} for _ in range(2) for b in (-1, 1) for a in (-1, 1)]
    y = [8 if r[0] < 0 else 12 for r in rows]
    out = fit_all(rows, y, 2)
    print_tables(out, 2, len(y), ALL_KINDS, sums=ALL_KINDS)


def reactor512():
    rows, y = read_design(os.path.join(ROOT, "examples", "reactor.txt"))
    out = fit_all(rows * 16, y * 16, 5)
    print_tables(out, 5, 16 * len(y), ["Likelihood"], sums=["Likelihood"])


if __name__ == "__main__":
    which = sys.argv[1] if len(sys.argv) > 1 else "small"
    if which == "small":
        two2 = [{0: a, 1: b} for b in (-1, 1) for a in (-1, 1)]
        report("2^2", two2, [10, 12, 20, 23], 2)
        two3 = [{0: a, 1: b, 2: c} for c in (-1, 1) for b in (-1, 1) for a in (-1, 1)]
        report("2^3", two3, [54, 57, 61, 70, 52, 59, 63, 78], 3)
        # Six runs, unbalanced: the inverse is not a multiple of the identity.
        six = [{0: a, 1: b, 2: c} for a, b, c in
               [(-1, -1, 1), (1, -1, -1), (-1, 1, -1), (1, 1, 1), (1, 1, -1), (-1, -1, -1)]]
        report("six runs", six, [3.1, 4.7, 5.2, 9.8, 8.9, 2.5], 3)
        # Entries other than -1 and 1, C = 3A - B: the model ABC is singular.
        a, b = [-1, 1, 3, 1, -2, 1, 1, -1, -2, 0], [1, -1, 0, 0, 2, -1, -1, 0, 0, 2]
        y = [F(v) for v in ("12.2", "12.7", "10.2", "11.0", "8.3", "11.2", "10.6", "9.8", "9.7", "8.1")]
        report("C = 3A - B", [{0: a[r], 1: b[r], 2: 3 * a[r] - b[r]} for r in range(10)], y, 3)
        # A 2^3 factorial with centre points (all factors at 0): one run first
        # and one among the runs, so the design is not two-level.
        centre = [{0: 0, 1: 0, 2: 0}] + two3[:4] + [{0: 0, 1: 0, 2: 0}] + two3[4:]
        report("centre points", centre, [60, 54, 57, 61, 70, 62.5, 52, 59, 63, 78], 3)
    else:
        {"scale96": scale96, "pb11": pb11, "exact": exact, "reactor512": reactor512}[which]()
