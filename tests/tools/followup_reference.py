#!/usr/bin/env python3
"""Independent reference values for the follow-up (model-discrimination) tests.

For small designs: takes the model set of the model-space options and the
posterior probability of every model (modelspace_reference.fit), picks the
M leading models, refits each with exact rational arithmetic with one more
block column (-1 on the design's runs, +1 on the follow-up runs, prior ratio
gamma), and evaluates the MD criterion of Meyer, Steinberg and Box (1996)
term by term, pair by pair, exactly as it is written:

  G_i = (X_i'X_i + Gamma_i)^-1,  b_i = G_i X_i'y,  s_i^2 = Qqc_i / (n - 1),
  yhat_i = Z_i b_i,  V_i = I_N + Z_i G_i Z_i',  d = yhat_i - yhat_j,
  MD = sum_{i<j} p_i p_j [ tr(V_i^-1 V_j)/2 + tr(V_j^-1 V_i)/2
                           + d'V_i^-1 d / (2 s_j^2) + d'V_j^-1 d / (2 s_i^2) - N ].

Each bracket is an exact fraction; only the posterior probabilities p_i
(square roots and powers) are floating point. Prints C++ table rows for
tests/test_followup.cpp. Not used by the build.
"""
from fractions import Fraction as F
from itertools import combinations, combinations_with_replacement
import math
import os

from fit_reference import inverse_and_det
from grid_reference import PB12, Y12
from modelspace_reference import LETTERS, fit, full_factorial, model_columns, model_set

NEW_BLOCK = "new block"


def leading(xrows, y, blocks, kmax, order, null, keep, gam, gint, pi, m):
    """The m models of highest posterior probability (ties by model order) and that probability."""
    sets = model_set(blocks, len(xrows[0]), kmax, null)
    fits = [fit(xrows, y, blocks, list(fs), order, gam, gint, pi) for fs in sets]
    live = [keep or not r["singular"] for r in fits]
    top = max(r["logb"] for r, ok in zip(fits, live) if ok)
    total = sum(math.exp(r["logb"] - top) for r, ok in zip(fits, live) if ok)
    probs = [math.exp(r["logb"] - top) / total if ok else 0.0 for r, ok in zip(fits, live)]
    ranked = sorted((i for i in range(len(sets)) if probs[i] > 0), key=lambda i: (-probs[i], i))
    return [(sets[i], probs[i]) for i in ranked[:m]]


def column_value(row, col, blocks):
    if col == NEW_BLOCK:
        return F(1)
    if any(f < blocks for f in col):
        return F(0)  # the design's blocks do not apply to the new runs
    return F(math.prod(row[f] for f in col))


def refit_with_new_block(xrows, y, blocks, factors, order, gam, gint):
    n = len(y)
    cols = model_columns(blocks, list(factors), order) + [NEW_BLOCK]
    nc = len(cols)
    X = [[F(-1) if c == NEW_BLOCK else F(math.prod(r[f] for f in c)) for c in cols] for r in xrows]
    Y = [F(v) for v in y]
    ratio = [None] + [F(gam) if c == NEW_BLOCK or len(c) == 1 else F(gint) for c in cols[1:]]
    a = [[sum(X[r][i] * X[r][j] for r in range(n)) + (1 / ratio[i] ** 2 if i == j and i > 0 else 0)
          for j in range(nc)] for i in range(nc)]
    g, _ = inverse_and_det(a)
    xty = [sum(X[r][i] * Y[r] for r in range(n)) for i in range(nc)]
    b = [sum(g[i][j] * xty[j] for j in range(nc)) for i in range(nc)]
    resid = [Y[r] - sum(X[r][i] * b[i] for i in range(nc)) for r in range(n)]
    qqc = sum(e * e for e in resid) + sum((b[k] / ratio[k]) ** 2 for k in range(1, nc))
    return cols, g, b, qqc / (n - 1)


def md(models, design, candidates, blocks):
    """models: list of (p, cols, G, b, s2); design: candidate indices."""
    N = len(design)
    parts = []
    for p, cols, g, b, s2 in models:
        Z = [[column_value(candidates[k], c, blocks) for c in cols] for k in design]
        nc = len(cols)
        V = [[(1 if a == c else 0) + sum(Z[a][i] * g[i][j] * Z[c][j] for i in range(nc) for j in range(nc))
              for c in range(N)] for a in range(N)]
        Vi, _ = inverse_and_det(V)
        yhat = [sum(Z[a][i] * b[i] for i in range(nc)) for a in range(N)]
        parts.append((p, V, Vi, yhat, s2))
    total = 0.0
    for (pi_, Vi_, Ai, yi, si), (pj, Vj, Aj, yj, sj) in combinations(parts, 2):
        d = [yi[a] - yj[a] for a in range(N)]
        tr_ij = sum(Ai[a][c] * Vj[c][a] for a in range(N) for c in range(N))
        tr_ji = sum(Aj[a][c] * Vi_[c][a] for a in range(N) for c in range(N))
        q_i = sum(d[a] * Ai[a][c] * d[c] for a in range(N) for c in range(N))
        q_j = sum(d[a] * Aj[a][c] * d[c] for a in range(N) for c in range(N))
        bracket = tr_ij / 2 + tr_ji / 2 + q_i / (2 * sj) + q_j / (2 * si) - N
        total += pi_ * pj * float(bracket)
    return total


def full_factorial_candidates(factors):
    """Standard order: the factor of the lowest column changes fastest."""
    return [{f: (1 if (q >> p) & 1 else -1) for p, f in enumerate(factors)} for q in range(1 << len(factors))]


def print_designs(designs):
    for value, design in designs:
        print(f"    {{{{{', '.join(str(k) for k in design)}}}, {value!r}}},")


def report(title, xrows, y, designs, m, blocks=0, kmax=3, order=3, null=False, keep=False,
           gam=2.5, gint=None, pi=0.25, candidates=None, best_of=None):
    """Prints the s^2 of the leading models, the MD of each design and, with
    best_of = (N, T), the T best of all designs of N runs, by brute force."""
    gint = gam if gint is None else gint
    lead = leading(xrows, y, blocks, kmax, order, null, keep, gam, gint, pi, m)
    models = [(p, *refit_with_new_block(xrows, y, blocks, fs, order, gam, gint)) for fs, p in lead]
    if candidates is None:
        candidates = full_factorial_candidates(sorted(set(f for fs, _ in lead for f in fs)))
    print("//", title)
    names = ["".join(LETTERS[f] for f in fs) or "(null)" for fs, _ in lead]
    print("    {" + ", ".join(f'{{"{name}", {float(m[4])!r}}}' for name, m in zip(names, models)) + "},")
    print_designs((md(models, design, candidates, blocks), design) for design in designs)
    if best_of is not None:
        n, top = best_of
        every = [(md(models, list(d), candidates, blocks), list(d))
                 for d in combinations_with_replacement(range(len(candidates)), n)]
        every.sort(key=lambda t: -t[0])
        print(f"//   the {top} best of all {len(every)} designs of {n} runs:")
        print_designs(every[:top])


def rows_of(table):
    return [dict(enumerate(r)) for r in table]


if __name__ == "__main__":
    # 2^4 full factorial, the first column a block.
    report("2^4, --blocks=1 --gamma-int=1.5 --md-models=4", full_factorial(4),
           [20, 23, 19, 24, 22, 21, 20, 25, 21, 24, 20, 22, 23, 22, 19, 26],
           [[0, 1, 2], [5, 5, 7], [0, 0, 0], [3, 6, 7], [1, 2, 4]], 4, blocks=1, gint=1.5)
    # The Plackett-Burman reactor runs, main-effect models, with candidates
    # that include a centre run and a run outside the cube.
    cands = rows_of([(0, 0, 0, 0, 0), (1, 1, 1, 1, 1), (-1, 1, -1, 1, -1), (1, -1, -1, 1, 1),
                     (2, -1, 1, 0, -1), (-1, -1, 1, 1, -1)])
    report("reactor12, --null --max-factors=5 --order=1 --md-models=6, candidates", rows_of(PB12), Y12,
           [[0, 1], [2, 3], [4, 4], [0, 1, 2, 3, 5], [1, 1, 4, 5, 5]], 6, kmax=5, order=1,
           null=True, candidates=cands, best_of=(2, 3))
    # The injection-moulding example of Meyer, Steinberg and Box: factors
    # A, C, E, H of the 16 runs, models of up to four factors with the
    # null model, gamma 2; H = ACE in these runs, so the four-factor model is
    # singular and takes part with its Box-Meyer posterior (--keep-aliased).
    inj, yinj = [], []
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples",
                           "injection16.txt")) as design:
        for words in (line.split() for line in design):
            if len(words) == 10 and words[0].rstrip(".").isdigit():
                inj.append((int(words[1]), int(words[3]), int(words[5]), int(words[8])))
                yinj.append(float(words[9]))
    report("injection A C E H, --null --max-factors=4 --keep-aliased -G2 --md-models=5",
           rows_of(inj), yinj, [[8, 8, 11, 14], [8, 11, 13, 14]], 5, kmax=4, null=True,
           keep=True, gam=2.0)
