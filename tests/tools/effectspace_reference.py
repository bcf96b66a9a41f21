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
