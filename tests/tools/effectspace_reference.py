#!/usr/bin/env python3
"""Independent reference for the effects space (--model-space=effects).

    effectspace_reference.py BAYESCREEN SOURCE_DIR

Every set of candidate effects of tests/data/pb12_effects5.txt (the 5 main
effects and 10 two-factor interactions of a 12-run Plackett-Burman design)
is weighed on its own with numpy: the model matrix X (intercept and the
effects' columns), its rank (a model with X'X singular takes no part), and
the Box-Meyer marginal likelihood

    L(M, g) = g^-t_main gi^-t_int det(X'X + Gamma)^-1/2 Q^-(n-1)/2,
    Q = y'y - (X'y)' (X'X + Gamma)^-1 (X'y)

(raw y; Gamma holds 0 for the intercept, 1/g^2 for main effects and 1/gi^2
for interactions), averaged over the gamma values. Its prior is the product
over the effects of the prior as the README states it: pi^k (1-pi)^(p-k) or
B(a+k, b+p-k)/B(a, b) for the main effects, and q or 1-q for each
interaction with q = p11 / p10 / p00 by how many of its factors' main
effects are in. The posterior probabilities of every effect, every factor,
no effect and the best models are then compared with the program's JSON
(effects_space and factor_weights) to 1e-9, for each heredity, fixed and
Beta pi, fixed and averaged gamma. The last case also writes the CSV files
and the SVG: the effects table and the best models must be the JSON's, and
the SVG must parse and name the best model.

Under strong heredity the model-averaged effect estimates of the JSON's
effects section are checked too: over the best 5,000 models (all of them
here), each model's share under each gamma value in proportion to its
marginal likelihood, the posterior of each coefficient a Student t with
n - 1 degrees of freedom, location b = (X'X + Gamma)^-1 X'y and squared
scale Q/(n - 1) [(X'X + Gamma)^-1]_jj (variance Q/(n - 3) [..]_jj); the
effect is 2 b.

Run by CTest; prints one line per case and "N passed, M failed".
"""
import csv
import itertools
import json
import math
import os
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

import numpy as np


def betainc(a, b, x):
    """The regularized incomplete beta function I_x(a, b) by its continued
    fraction (modified Lentz; Press et al., Numerical Recipes, 6.4)."""
    if x <= 0 or x >= 1:
        return 0.0 if x <= 0 else 1.0
    if x > (a + 1) / (a + b + 2):
        return 1.0 - betainc(b, a, 1 - x)
    front = math.exp(math.lgamma(a + b) - math.lgamma(a) - math.lgamma(b) + a * math.log(x) + b * math.log1p(-x)) / a
    tiny = 1e-300
    f, c, d = 1.0, 1.0, 0.0
    for i in range(0, 400):
        m = i // 2
        if i == 0:
            num = 1.0
        elif i % 2 == 0:
            num = m * (b - m) * x / ((a + 2 * m - 1) * (a + 2 * m))
        else:
            num = -(a + m) * (a + b + m) * x / ((a + 2 * m) * (a + 2 * m + 1))
        d = 1 + num * d
        d = 1 / (d if abs(d) > tiny else tiny)
        c = 1 + num / c
        c = c if abs(c) > tiny else tiny
        f *= c * d
        if abs(c * d - 1) < 1e-16:
            break
    return front * (f - 1)


def t_cdf(t, nu):
    """P(T <= t), T Student t with nu degrees of freedom:
    1 - I_{nu/(nu+t^2)}(nu/2, 1/2) / 2 for t >= 0."""
    tail = 0.5 * betainc(nu / 2, 0.5, nu / (nu + t * t))
    return 1 - tail if t >= 0 else tail

TOLERANCE = 1e-9
DESIGN = "pb12_effects5.txt"


def read_design(path):
    """The design matrix and the response of a design file with a Data block."""
    rows, ys, data = [], [], False
    with open(path) as f:
        for line in f:
            line = line.split("#")[0].strip()
            if not line:
                continue
            if data:
                values = line.split()[1:]
                rows.append([float(v) for v in values[:-1]])
                ys.append(float(values[-1]))
            elif line.startswith("Data"):
                data = True
    return np.array(rows), np.array(ys)


def candidate_effects(p, order):
    """The main effects, then the interactions of each order in lexicographic order."""
    effects = []
    for r in range(1, order + 1):
        effects.extend(itertools.combinations(range(p), r))
    return effects


def effect_name(effect):
    return "".join("ABCDEFGHJKLMNOPQRSTUVWXYZ"[f] for f in effect)


def log_marginals(x, y, effects, pairs):
    """Every model (a tuple of effect indices) with a regular X'X and its log
    marginal likelihood at each (gamma, interaction gamma) pair."""
    n = len(y)
    columns = [np.prod(x[:, list(e)], axis=1) for e in effects]
    out = {}
    for size in range(0, n):
        for model in itertools.combinations(range(len(effects)), size):
            xm = np.column_stack([np.ones(n)] + [columns[e] for e in model])
            if np.linalg.matrix_rank(xm) < xm.shape[1]:
                continue
            xtx, xty = xm.T @ xm, xm.T @ y
            n_main = sum(1 for e in model if len(effects[e]) == 1)
            n_int = len(model) - n_main
            values = []
            for g, gi in pairs:
                precision = [0.0] + [1 / g**2 if len(effects[e]) == 1 else 1 / gi**2 for e in model]
                m = xtx + np.diag(precision)
                sign, logdet = np.linalg.slogdet(m)
                assert sign > 0
                q = y @ y - xty @ np.linalg.solve(m, xty)
                values.append(-n_main * math.log(g) - n_int * math.log(gi) - 0.5 * logdet - (n - 1) / 2 * math.log(q))
            out[model] = values
    return out


def log_prior(model, effects, p, case):
    """log p(M) from the product over the effects, or None when it is 0."""
    mains = {effects[e][0] for e in model if len(effects[e]) == 1}
    k = len(mains)
    if case["beta"]:
        a, b = case["beta"]
        total = (math.lgamma(a + k) + math.lgamma(b + p - k) - math.lgamma(a + b + p)
                 - (math.lgamma(a) + math.lgamma(b) - math.lgamma(a + b)))
    else:
        total = k * math.log(case["pi"]) + (p - k) * math.log(1 - case["pi"])
    p11, p10, p00 = case["probs"]
    for i, effect in enumerate(effects):
        if len(effect) == 1:
            continue
        parents_in = sum(1 for f in effect if f in mains)
        if case["heredity"] == "none":
            q = p11
        elif parents_in == len(effect):
            q = p11
        elif case["heredity"] == "strong":
            q = 0.0
        else:
            q = p10 if parents_in > 0 else p00
        if i in model:
            if q == 0:
                return None
            total += math.log(q)
        else:
            total += math.log(1 - q)
    return total


def reference(marginals, effects, p, case):
    """Posterior probabilities of effects, factors, no effect and the models."""
    weights = {}
    for model, values in marginals.items():
        lp = log_prior(model, effects, p, case)
        if lp is None:
            continue
        v = np.array([values[i] for i in case["gamma_index"]])
        top = v.max()
        weights[model] = lp + top + math.log(np.mean(np.exp(v - top)))
    top = max(weights.values())
    total = sum(math.exp(w - top) for w in weights.values())
    post = {m: math.exp(w - top) / total for m, w in weights.items()}
    eff = [sum(pr for m, pr in post.items() if e in m) for e in range(len(effects))]
    fac = [sum(pr for m, pr in post.items() if any(f in effects[e] for e in m)) for f in range(p)]
    return eff, fac, post.get((), 0.0), post


def estimates(x, y, effects, post, pairs, gamma_index, keep=5000):
    """Model-averaged effects over the best `keep` models: mean, sd,
    P(effect > 0) and P(in model), each effect twice its coefficient."""
    n = len(y)
    columns = [np.prod(x[:, list(e)], axis=1) for e in effects]
    best = sorted(post.items(), key=lambda item: -item[1])[:keep]
    mass = sum(pr for _, pr in best)
    sums = [[0.0, 0.0, 0.0, 0.0] for _ in effects]  # mean, second moment, positive, in
    for model, pr in best:
        xm = np.column_stack([np.ones(n)] + [columns[e] for e in model])
        xtx, xty = xm.T @ xm, xm.T @ y
        fits = []
        for i in gamma_index:
            g, gi = pairs[i]
            precision = [0.0] + [1 / g**2 if len(effects[e]) == 1 else 1 / gi**2 for e in model]
            m = xtx + np.diag(precision)
            inv = np.linalg.inv(m)
            b = inv @ xty
            q = y @ y - xty @ b
            n_main = sum(1 for e in model if len(effects[e]) == 1)
            logml = (-n_main * math.log(g) - (len(model) - n_main) * math.log(gi)
                     - 0.5 * np.linalg.slogdet(m)[1] - (n - 1) / 2 * math.log(q))
            fits.append((logml, b, np.diag(inv), q))
        top = max(f[0] for f in fits)
        shares = [math.exp(f[0] - top) for f in fits]
        total = sum(shares)
        for share, (_, b, diag, q) in zip(shares, fits):
            w = pr * share / total
            for j, e in enumerate(model, 1):
                var = q / (n - 3) * diag[j]
                scale = math.sqrt(q / (n - 1) * diag[j])
                sums[e][0] += w * b[j]
                sums[e][1] += w * (var + b[j] ** 2)
                sums[e][2] += w * t_cdf(b[j] / scale, n - 1)
                sums[e][3] += w
    out = []
    for mean, second, positive, inside in sums:
        mean, second, positive, inside = (v / mass for v in (mean, second, positive, inside))
        out.append((2 * mean, 2 * math.sqrt(max(second - mean * mean, 0.0)), positive, inside))
    return out


CASES = []
for heredity in ("strong", "weak", "none"):
    for beta in (None, (1.0, 1.0)):
        for averaged in (False, True):
            words = ["--model-space=effects", "--heredity=" + heredity]
            if beta:
                words.append("--pi-prior=beta:%g:%g" % beta)
            if averaged:
                words.append("--gamma-prior=0.5:5:10")
            CASES.append({"words": words, "heredity": heredity, "beta": beta, "pi": 0.25,
                          "probs": (0.25, 0.10, 0.01), "averaged": averaged, "gamma": 2.5, "ratio": 1.0})
# Other prior values: -P, -G, the heredity probabilities and --gamma-int.
CASES.append({"words": ["--model-space=effects", "--heredity=weak", "--heredity-probs=0.4,0.2,0.05", "-P0.3",
                        "-G1.5", "--gamma-int=0.75"],
              "heredity": "weak", "beta": None, "pi": 0.3, "probs": (0.4, 0.2, 0.05), "averaged": False,
              "gamma": 1.5, "ratio": 0.5})
CASES.append({"words": ["--recommended", "--pi-prior=beta:2:5"], "heredity": "strong", "beta": (2.0, 5.0),
              "pi": 0.25, "probs": (0.25, 0.10, 0.01), "averaged": True, "gamma": 2.5, "ratio": 1.0})


def check_files(work, space):
    """The CSV tables and the SVG of the effects space against its JSON."""
    problems = []
    with open(os.path.join(work, "case.effects-space.csv"), newline="") as f:
        rows = list(csv.DictReader(f))
    if [r["name"] for r in rows] != [e["name"] for e in space["effects"]]:
        problems.append("effects-space.csv names differ from the JSON")
    for r, e in zip(rows, space["effects"]):
        if float(r["postprob"]) != e["probability"] or r["label"] != e["label"]:
            problems.append("effects-space.csv row %s differs from the JSON" % r["name"])
    with open(os.path.join(work, "case.models.csv"), newline="") as f:
        models = list(csv.DictReader(f))
    if [(m["effects"], float(m["postprob"])) for m in models] != \
            [(m["name"], m["probability"]) for m in space["top_models"]]:
        problems.append("models.csv differs from the JSON's best models")
    svg = ET.parse(os.path.join(work, "case.svg")).getroot()
    texts = [t.text for t in svg.iter("{http://www.w3.org/2000/svg}text")]
    if space["top_models"][0]["name"] not in texts:
        problems.append("the SVG does not name the best model")
    return problems


def main():
    program, source = sys.argv[1], sys.argv[2]
    x, y = read_design(os.path.join(source, "tests", "data", DESIGN))
    p = x.shape[1]
    effects = candidate_effects(p, 2)
    grid = list(np.linspace(0.5, 5, 10))
    # Every (gamma, interaction gamma) pair of the cases, weighed in one pass.
    pairs = []
    for case in CASES:
        gammas = grid if case["averaged"] else [case["gamma"]]
        case["pairs"] = [(g, g * case["ratio"]) for g in gammas]
        pairs.extend(pair for pair in case["pairs"] if pair not in pairs)
    marginals = log_marginals(x, y, effects, pairs)
    passed = failed = 0
    work = tempfile.mkdtemp(prefix="effects_reference.")
    try:
        shutil.copy(os.path.join(source, "tests", "data", DESIGN), work)
        for number, case in enumerate(CASES, 1):
            case["gamma_index"] = [pairs.index(pair) for pair in case["pairs"]]
            eff, fac, none, post = reference(marginals, effects, p, case)
            out = os.path.join(work, "case%d.json" % number)
            files = number == len(CASES)
            extra = ["--csv-files=" + os.path.join(work, "case"), "--svg-file=" + os.path.join(work, "case.svg")] if files else []
            run = subprocess.run([program, DESIGN, "case%d" % number, "--json=" + out] + case["words"] + extra,
                                 cwd=work, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            problems = []
            if run.returncode != 0:
                problems.append("exit status %d: %s" % (run.returncode, run.stdout[-400:]))
            else:
                with open(out) as f:
                    doc = json.load(f)
                space = doc["effects_space"]
                for e, entry in enumerate(space["effects"]):
                    if entry["name"] != effect_name(effects[e]):
                        problems.append("effect %d is %s" % (e, entry["name"]))
                    elif abs(entry["probability"] - eff[e]) > TOLERANCE:
                        problems.append("%s: %.12g, reference %.12g" % (entry["name"], entry["probability"], eff[e]))
                for f, entry in enumerate(doc["factor_weights"]["factors"]):
                    share = entry["postprob"]["share"]
                    if abs(share - fac[f]) > TOLERANCE:
                        problems.append("factor %s: %.12g, reference %.12g" % (entry["letter"], share, fac[f]))
                if abs(space["no_effect_active"] - none) > TOLERANCE:
                    problems.append("no effect: %.12g, reference %.12g" % (space["no_effect_active"], none))
                for m in space["top_models"]:
                    model = tuple(sorted(effects.index(tuple("ABCDE".index(c) for c in name))
                                         for name in m["effects"]))
                    if abs(m["probability"] - post.get(model, -1)) > TOLERANCE:
                        problems.append("model %s: %.12g, reference %.12g" % (m["name"], m["probability"],
                                                                               post.get(model, -1)))
                best = sorted(post.values(), reverse=True)[:len(space["top_models"])]
                shown = [m["probability"] for m in space["top_models"]]
                if any(abs(a - b) > TOLERANCE for a, b in zip(best, shown)):
                    problems.append("the best models are not the reference's best")
                if case["heredity"] == "strong":
                    want = estimates(x, y, effects, post, pairs, case["gamma_index"])
                    for e, (entry, ref) in enumerate(zip(doc["effects"]["effects"], want)):
                        got = (entry["mean"], entry["sd"], entry["prob_positive"], entry["prob_in_model"])
                        if any(abs(a - r) > TOLERANCE * max(1.0, abs(r)) for a, r in zip(got, ref)):
                            problems.append("estimates of %s: %s, reference %s" % (entry["code"], got, ref))
                if files:
                    problems.extend(check_files(work, space))
            label = " ".join(case["words"])
            if problems:
                failed += 1
                print("FAIL %s\n  %s" % (label, "\n  ".join(problems[:8])))
            else:
                passed += 1
                print("ok   %s" % label)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
