#!/usr/bin/env python3
"""Checks the effect estimates of whole runs against an independent numpy
reference, and tables (.csv) against the design files they transcribe.

    effects_reference.py BAYESCREEN SOURCE_DIR

For each case the program runs in a temporary directory with --json; then
the reference enumerates the model space itself, fits each model
separately with numpy and averages:
  - Box-Meyer weight of model M (flat intercept, Gamma = diag(0, 1/g_c^2)):
      log w = nf log(pi/(1-pi)) - sum log g_c - 1/2 log det(X'X + Gamma)
              - (n-1)/2 log Q,  Q = y'y - y'X (X'X + Gamma)^-1 X'y;
    models whose X has fewer independent columns than columns count 0;
  - b = (X'X + Gamma)^-1 X'y, var_j = Q/(n-3) [(X'X + Gamma)^-1]_jj,
    scale_j = sqrt(Q/(n-1) [..]_jj), P(beta_j > 0) = T_{n-1}(b_j/scale_j)
    with the t distribution function integrated by Simpson's rule;
  - the effect (2 beta) averaged: mean = sum p_M 2 b_Mj, var = sum p_M 4
    (var_Mj + b_Mj^2) - mean^2, P(>0) = sum over models holding j;
  - least squares: the effect columns in order, each kept when it raises
    the rank of the columns kept (intercept and blocks first), fitted by
    numpy's lstsq; Lenth's s0 and PSE by their definitions.
Posterior probabilities agree to 1e-9, the effects to 1e-8 of the
response's scale (variances to 1e-8 of its square). Then each bundled example written as a table in natural
units gives the same posterior probabilities and factor weights as the
design file. Prints one line per case and "N passed, M failed".
"""
import itertools
import json
import math
import os
import subprocess
import sys
import tempfile

import numpy as np


def simpson(f, a, b, n=4000):
    x = np.linspace(a, b, n + 1)
    w = np.ones(n + 1)
    w[1:-1:2], w[2:-1:2] = 4, 2
    return float((b - a) / (3 * n) * np.dot(w, f(x)))


def t_cdf(t, nu):
    """P(T <= t), T Student t with nu degrees of freedom, by Simpson's rule
    on the density in phi = atan(s / sqrt(nu)), where it is proportional to
    cos(phi)^(nu - 1): smooth on [0, pi/2], so the rule converges fast."""
    theta = math.atan(abs(t) / math.sqrt(nu))
    f = lambda phi: np.cos(phi) ** (nu - 1)
    a = simpson(f, 0, theta) / simpson(f, 0, math.pi / 2)
    return 0.5 + math.copysign(a, t) / 2 if t != 0 else 0.5


def read_design_file(text):
    """(labels, X rows, y) of a design file in the line format."""
    lines = [l.strip() for l in text.splitlines()]
    lines = [l for l in lines if l and l[0] not in "#;%"]
    ncols = int([w for w in lines[1].split() if w.lower().startswith("nc")][0].split("=")[1])
    labels, k = [], 2
    while not lines[k].lower().startswith("data"):
        for w in lines[k].split()[(1 if lines[k].lower().startswith("label") else 0):]:
            labels.append(w.split("=", 1)[1])
        k += 1
    rows, y = [], []
    for l in lines[k + 1:]:
        words = l.split()
        if not words[0][0].isdigit():
            continue
        rows.append([int(v) for v in words[1:1 + ncols]])
        y.append(float(words[1 + ncols]))
    return labels, np.array(rows, dtype=float), np.array(y)


def column(X, cols):
    v = np.ones(X.shape[0])
    for c in cols:
        v = v * X[:, c]
    return v


def model_columns(factors, blocks, order):
    cols = [()] + [(b,) for b in range(blocks)]
    for t in range(1, min(order, len(factors)) + 1):
        cols += list(itertools.combinations(factors, t))
    return cols


def reference(X, y, opts):
    """Posterior probabilities by model factor tuple and the effects."""
    n = len(y)
    blocks, kmax, order = opts.get("blocks", 0), opts.get("max_factors", 3), opts.get("order", 3)
    pi, gam = opts.get("pi", 0.25), opts.get("gamma", 2.5)
    gint = opts.get("gamma_int", gam)
    screened = list(range(blocks, X.shape[1]))
    sets = [()] if opts.get("null") else []
    for t in range(1, min(kmax, len(screened)) + 1):
        sets += list(itertools.combinations(screened, t))
    fits = {}
    for fs in sets:
        cols = model_columns(fs, blocks, order)
        M = np.column_stack([column(X, c) for c in cols])
        if np.linalg.matrix_rank(M) < len(cols) and not opts.get("keep_aliased"):
            continue
        g = np.array([0.0] + [gam if (len(c) == 1 or c[0] < blocks) else gint for c in cols[1:]])
        G = np.diag([0.0] + [1 / v ** 2 for v in g[1:]])
        A = M.T @ M + G
        Ainv = np.linalg.inv(A)
        b = Ainv @ (M.T @ y)
        Q = float(y @ y - y @ M @ b)
        logw = (len(fs) * math.log(pi / (1 - pi)) - sum(math.log(v) for v in g[1:])
                - 0.5 * np.linalg.slogdet(A)[1] - (n - 1) / 2 * math.log(Q))
        fits[fs] = (logw, cols, b, Ainv, Q)
    top = max(f[0] for f in fits.values())
    total = sum(math.exp(f[0] - top) for f in fits.values())
    post = {fs: math.exp(f[0] - top) / total for fs, f in fits.items()}
    effects = {}
    for fs, (logw, cols, b, Ainv, Q) in fits.items():
        p = post[fs]
        for j, c in enumerate(cols):
            if j == 0 or (len(c) == 1 and c[0] < blocks):
                continue
            e = effects.setdefault(c, [0.0, 0.0, 0.0])
            var = Q / (n - 3) * Ainv[j, j]
            scale = math.sqrt(Q / (n - 1) * Ainv[j, j])
            e[0] += p * 2 * b[j]
            e[1] += p * 4 * (var + b[j] ** 2)
            e[2] += p * t_cdf(b[j] / scale, n - 1)
    result = {}
    for c, (m, second, pos) in effects.items():
        result[c] = (m, math.sqrt(max(second - m * m, 0.0)), pos)
    # Least squares: greedy on rank.
    cand = [()] + [(b,) for b in range(blocks)]
    efforder = []
    for t in range(1, min(order, kmax, len(screened)) + 1):
        efforder += list(itertools.combinations(screened, t))
    kept = []
    for c in cand + efforder:
        trial = kept + [c]
        M = np.column_stack([column(X, d) for d in trial])
        if np.linalg.matrix_rank(M) == len(trial):
            kept = trial
    M = np.column_stack([column(X, d) for d in kept])
    beta = np.linalg.lstsq(M, y, rcond=None)[0]
    ls = {c: 2 * beta[i] for i, c in enumerate(kept) if c in efforder}
    return post, result, ls


def lenth_s0_pse(contrasts):
    a = sorted(abs(c) for c in contrasts)
    s0 = 1.5 * float(np.median(a))
    return s0, 1.5 * float(np.median([v for v in a if v < 2.5 * s0]))


def run(prog, directory, name, text, args):
    path = os.path.join(directory, name)
    with open(path, "w") as f:
        f.write(text)
    out = subprocess.run([prog, path, "--json=" + path + ".json"] + args, cwd=directory,
                         capture_output=True, text=True)
    if out.returncode != 0:
        raise AssertionError("exit %d: %s" % (out.returncode, out.stdout[-400:]))
    with open(path + ".json") as f:
        return json.load(f)


def close(a, b, tol):
    return a is not None and abs(a - b) <= tol


def check_effects(prog, directory, name, text, args, opts):
    labels, X, y = read_design_file(text)
    doc = run(prog, directory, name, text, args)
    post, effects, ls = reference(X, y, opts)
    scale = float(np.std(y)) + 1
    for m in doc["models"]:
        fs = tuple(c - 1 for c in m["columns"])
        want = post.get(fs, 0.0)
        if not abs(m["postprob"] - want) <= 1e-9:
            raise AssertionError("model %s: postprob %r, reference %r" % (m["name"], m["postprob"], want))
    got = {tuple(c - 1 for c in e["columns"]): e for e in doc["effects"]["effects"]}
    if set(got) != set(effects):
        raise AssertionError("effect columns differ: %s" % sorted(set(got) ^ set(effects)))
    for c, (mean, sd, pos) in effects.items():
        e = got[c]
        # The program leaves out models holding less than 1e-12 of the
        # posterior together: the variances (not the SDs, their square
        # roots) of effects held only by such models stay within that.
        if not (close(e["mean"], mean, 1e-8 * scale) and close(e["sd"] ** 2, sd ** 2, 1e-8 * scale ** 2)
                and close(e["prob_positive"], pos, 1e-8)):
            raise AssertionError("effect %s: %r against %r" % (e["code"], (e["mean"], e["sd"], e["prob_positive"]),
                                                              (mean, sd, pos)))
        want_ls = ls.get(c)
        if want_ls is None:
            if e["least_squares"] is not None:
                raise AssertionError("effect %s: least squares %r, reference none" % (e["code"], e["least_squares"]))
        elif not close(e["least_squares"], want_ls, 1e-8 * scale):
            raise AssertionError("effect %s: least squares %r, reference %r" % (e["code"], e["least_squares"], want_ls))
    lenth = doc["lenth"]
    if opts.get("lenth"):
        s0, pse = lenth_s0_pse(ls.values())
        if not (lenth["applies"] and close(lenth["s0"], s0, 1e-9) and close(lenth["pse"], pse, 1e-9)):
            raise AssertionError("Lenth: %r against s0=%r PSE=%r" % (lenth, s0, pse))
    elif lenth["applies"]:
        raise AssertionError("Lenth figures for a design they do not suit: %r" % lenth)


def as_table(text, natural):
    """The design file as a CSV table in natural units: column c's -1 and +1
    become natural[c] (two values), the labels the column names."""
    labels, X, y = read_design_file(text)
    names = [labels[c] if c < len(labels) else "F%d" % (c + 1) for c in range(X.shape[1])]
    lines = [",".join('"%s"' % n for n in names + ["Response, measured"])]
    for row, v in zip(X, y):
        cells = [natural[c][0] if x < 0 else natural[c][1] for c, x in enumerate(row)]
        lines.append(",".join(cells + [repr(float(v))]))
    return "\r\n".join(lines) + "\r\n"


def check_table(prog, directory, source, args):
    with open(source) as f:
        text = f.read()
    stem = os.path.basename(source).replace(".txt", "")
    ncols = read_design_file(text)[1].shape[1]
    natural = [("low", "high") if c % 3 == 1 else (str(100 + 10 * c), str(150 + 10 * c)) for c in range(ncols)]
    design = run(prog, directory, stem + ".txt", text, args)
    table = run(prog, directory, stem + ".csv", as_table(text, natural), args)
    a = [m["postprob"] for m in design["models"]]
    b = [m["postprob"] for m in table["models"]]
    if len(a) != len(b) or any(abs(x - z) > 1e-12 for x, z in zip(a, b)):
        raise AssertionError("posterior probabilities differ")
    for fa, fb in zip(design["factor_weights"]["factors"], table["factor_weights"]["factors"]):
        if abs(fa["postprob"]["share"] - fb["postprob"]["share"]) > 1e-12:
            raise AssertionError("factor %s: %r against %r" % (fa["letter"], fa, fb))
    # Texts are coded -1 and +1 in order of first appearance.
    first = read_design_file(text)[1][0][1]
    if table["coding"]["factors"][1]["low"] != (natural[1][0] if first < 0 else natural[1][1]):
        raise AssertionError("coding: %r" % table["coding"])


def centred_blocks_table():
    """A 2^3 factorial in two blocks of ABC with two centre runs, as a
    design file: block column first."""
    rows = []
    rng = np.random.default_rng(7)
    for r in range(8):
        a, b, c = (r & 1) * 2 - 1, (r >> 1 & 1) * 2 - 1, (r >> 2) * 2 - 1
        rows.append((a * b * c, a, b, c))
    rows += [(1, 0, 0, 0), (-1, 0, 0, 0)]
    text = "Blocks and centre runs\nNrows=10 Ncols=4\nLabels A=Day B=Temp C=Time D=Stir\nData\n"
    for k, (bl, a, b, c) in enumerate(rows):
        y = 50 + 3 * bl + 6 * a - 4 * b * c + rng.normal()
        text += "%d. %d %d %d %d %.4f\n" % (k + 1, bl, a, b, c, y)
    return text


def random_table(title, rows, seed):
    """A design file of the given level rows and a random response."""
    rng = np.random.default_rng(seed)
    text = "%s\nNrows=%d Ncols=%d\nData\n" % (title, len(rows), len(rows[0]))
    for k, row in enumerate(rows):
        text += "%d. %s %.4f\n" % (k + 1, " ".join("%d" % v for v in row), 20 + 5 * rng.normal())
    return text


def random_two_level(runs, factors, seed):
    """Random -1/+1 columns: the least-squares model of a non-orthogonal
    design, its columns kept or dropped by their rank, and no Lenth
    figures."""
    rng = np.random.default_rng(seed)
    rows = [[int(v) for v in rng.choice([-1, 1], factors)] for _ in range(runs)]
    return random_table("Random two-level design", rows, seed + 1)


def replicated_with_centres():
    """Random -1/+1 runs of four factors, some of them repeated, and centre
    runs: cross products weighted by the repeats, entries other than -1
    and 1."""
    rng = np.random.default_rng(11)
    rows = [[int(v) for v in rng.choice([-1, 1], 4)] for _ in range(10)]
    rows += [rows[0], rows[3], rows[3], [0, 0, 0, 0], [0, 0, 0, 0]]
    return random_table("Replicated runs and centre runs", rows, 12)


def replicated_two_level():
    """A 2^3 factorial whose k-th run is repeated 5 (k + 1) times: -1/+1
    entries only, but runs so many against their 8 settings that the
    program sums the cross products over the settings, not over the runs'
    bits, and unequal repeats that make the columns non-orthogonal."""
    rows = [[(r >> b & 1) * 2 - 1 for b in range(3)] for r in range(8) for _ in range(5 * (r + 1))]
    return random_table("Replicated two-level runs", rows, 21)


def main():
    prog, src = sys.argv[1], sys.argv[2]
    ex = os.path.join(src, "examples")
    read = lambda name: open(os.path.join(ex, name)).read()
    cases = [
        ("reactor12", lambda d: check_effects(prog, d, "r12.txt", read("reactor12.txt"), [], {})),
        ("reactor32 saturated, Lenth", lambda d: check_effects(
            prog, d, "r32.txt", read("reactor.txt"), ["--max-factors=5", "--order=5"],
            {"max_factors": 5, "order": 5, "lenth": True})),
        ("injection16 null, order 2, gamma-int", lambda d: check_effects(
            prog, d, "inj.txt", read("injection16.txt"),
            ["--null", "--max-factors=4", "--order=2", "--gamma-int=1.5", "-G2", "-P0.3"],
            {"null": True, "max_factors": 4, "order": 2, "gamma_int": 1.5, "gamma": 2.0, "pi": 0.3,
             "lenth": True})),
        ("blocks and centre runs", lambda d: check_effects(
            prog, d, "bc.txt", centred_blocks_table(), ["--blocks=1"], {"blocks": 1})),
        ("random two-level 16x7, saturated", lambda d: check_effects(
            prog, d, "r16.txt", random_two_level(16, 7, 1), ["--max-factors=2", "--order=2"],
            {"max_factors": 2, "order": 2})),
        ("random two-level 24x6, residual df", lambda d: check_effects(
            prog, d, "r24.txt", random_two_level(24, 6, 9), ["--order=2"], {"order": 2})),
        ("replicated two-level runs, order 3", lambda d: check_effects(
            prog, d, "r2.txt", replicated_two_level(), ["--null"], {"null": True})),
        ("replicated and centre runs", lambda d: check_effects(
            prog, d, "rc.txt", replicated_with_centres(), ["--max-factors=2", "--order=1"],
            {"max_factors": 2, "order": 1})),
    ]
    for name in sorted(os.listdir(ex)):
        if name.endswith(".txt") and not name.endswith(".out.txt"):  # not a log of make demo
            cases.append(("table " + name, lambda d, n=name: check_table(prog, d, os.path.join(ex, n), [])))
    passed = failed = 0
    for name, case in cases:
        with tempfile.TemporaryDirectory() as d:
            try:
                case(d)
                print("PASS", name)
                passed += 1
            except Exception as e:  # noqa: BLE001 - every failure is reported
                print("FAIL", name, "-", e)
                failed += 1
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
