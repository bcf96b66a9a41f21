#!/usr/bin/env python3
"""Checks the result files of whole runs against the text report of the same
run and against exact reference values.

    check_results.py BAYESCREEN SOURCE_DIR

For each case the program runs in a temporary directory with -R -D (every
model in the ranking table, every factor table) and --json --csv-files
--svg-file. Then:
  - every model of the JSON, printed with the report's formats, gives the
    report's line for that model; the CSV holds the same values as the JSON;
  - every factor table of the report (five weightings, and the line for no
    factor active) is the JSON's and the CSV's sums and shares so printed;
  - every model's criteria, log10 Box-Meyer weight and posterior
    probability, and the factor weights under every weighting, agree with
    the exact rational reference (modelspace_reference.fit) to 1e-9;
  - the SVG parses as XML, holds no script and no external reference, and
    shows every factor's label and value and the top models;
  - the prior grid and the follow-up runs, when asked for, are the report's
    in the JSON, their CSV files and the SVG.
Run by CTest; prints one line per case and "N passed, M failed".
"""
import csv
import itertools
import json
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from modelspace_reference import fit  # noqa: E402

SVG = "{http://www.w3.org/2000/svg}"
# The factor tables of the report: JSON weighting -> the table's title.
TABLE_TITLES = {"fstat": "Weighting models by Fstat:", "likelihood": "Weighting models by Likelihood:",
                "inv_rmse2": "Weighting models by 1/rmse^2:", "inv_rmsec2": "Weighting models by 1/rmsec^2",
                "postprob": "Weighting models by Bayesian post.prob."}
WEIGHTINGS = list(TABLE_TITLES)
# The report's columns: JSON field and printf format.
COLUMNS = [("adjrsq", "%9.5f"), ("rmse", "%7.4f"), ("fstat", "%8.4f"),
           ("likelihood", "%8.2g"), ("rmsec", "%7.4f"), ("postprob", "%.2g")]
MODEL_FIELDS = ["number", "name", "n_factors", "factors", "labels", "columns", "model_columns",
                "valid", "adjrsq", "rmse", "fstat", "loglik", "likelihood", "rmsec", "log10_bval",
                "postprob", "alias_group", "active"]

# Two designs on a 2^2 factorial run twice: C = AB with noise (every model
# with C and A or B is singular), and y = 8 or 12 by A alone (exact fits).
SQUARE_TWICE = [(-1, -1), (1, -1), (-1, 1), (1, 1)] * 2
HALF_TWICE = ("Half fraction twice: C = AB\nNrows=8 Ncols=3\nLabels A=Left B=Right C=Product\nData\n"
              + "".join("%d. %2d %2d %2d %d\n" % (r + 1, a, b, a * b, y) for r, ((a, b), y)
                        in enumerate(zip(SQUARE_TWICE, [10, 14, 19, 31, 11, 15, 18, 30]))))
# A 2^3 factorial whose only centre run (every factor at 0) is the first.
CENTRE_FIRST = ("Centre run first\nNrows=9 Ncols=3\nData\n1. 0 0 0 61\n"
                + "".join("%d. %2d %2d %2d %s\n" % (r + 2, (r & 1) * 2 - 1, (r >> 1 & 1) * 2 - 1, (r >> 2) * 2 - 1, y)
                          for r, y in enumerate([54, 57, 61, 70, 62.5, 52, 59, 63])))
EXACT_FIT = ("Exact fit: y = 8 at A low, 12 at A high\nNrows=8 Ncols=2\nData\n"
             + "".join("%d %d %d %d\n" % (r + 1, a, b, 10 + 2 * a) for r, (a, b) in enumerate(SQUARE_TWICE)))


def injection_aceh(source):
    """The 16 injection-moulding runs with factors A, C, E and H only,
    labelled with their letters in the full design."""
    rows, y, _ = read_design(os.path.join(source, "examples", "injection16.txt"))
    text = ("Injection moulding: factors A, C, E and H of the 2^(8-4) design\n"
            "Nrows=16 Ncols=4\nLabels A=A B=C C=E D=H\nData\n")
    for r, (row, v) in enumerate(zip(rows, y)):
        text += "%d. %d %d %d %d %s\n" % (r + 1, row[0], row[2], row[4], row[7], v)
    return text


# (name, design: a file under the source tree or the text itself, options,
# whether to compare with the exact reference). The designs at the numeric
# edges (weights below the normal doubles, infinite weights) are compared
# with the report alone: tests/test_edges.cpp checks that report against
# the exact reference.
CASES = [
    ("reactor12", "examples/reactor12.txt", [], True),
    ("reactor12", "examples/reactor12.txt", ["--null", "--max-factors=5", "--order=1"], True),
    ("injection16", "examples/injection16.txt", [], True),
    ("injection16", "examples/injection16.txt", ["--null", "--max-factors=4", "-G2"], True),
    # Singular models out of the posterior (with the null model or without),
    # or kept in it.
    ("half", HALF_TWICE, [], True),
    ("half", HALF_TWICE, ["--null"], True),
    ("half", HALF_TWICE, ["--keep-aliased"], True),
    ("centre", CENTRE_FIRST, [], True),
    ("scale96", "tests/data/scale96.txt", [], True),
    ("exact", EXACT_FIT, [], False),
    # Prior grids: the factor probabilities and the support over gamma and
    # pi, and over one of them.
    ("reactor12", "examples/reactor12.txt", ["--null", "--gamma-grid=0.5:5:10", "--pi-grid=0.1:0.4:3"], True),
    ("reactor12", "examples/reactor12.txt", ["--pi-grid=0.1:0.4:4"], False),
    # The published follow-up example: the best 4 runs to tell the leading
    # models apart.
    ("inj", injection_aceh, ["--null", "--max-factors=4", "--keep-aliased", "-G2", "--md-models=5",
                             "--follow-up=4"], True),
]


class Failures(list):
    """The differences found: check() keeps the message when ok is false."""

    def check(self, ok, message):
        if not ok:
            self.append(message)
        return ok


def read_design(path):
    """Runs (lists of column entries), responses and labels (by column: the
    k-th word of the Labels block, whose letter counts I) of a design file."""
    lines = [ln.strip() for ln in open(path, encoding="latin-1")]
    lines = [ln for ln in lines if ln and ln[0] not in "#;%"]
    at = next(i for i, ln in enumerate(lines) if ln.split()[0].startswith("Data"))
    labels = [w[2:] for w in " ".join(ln for ln in lines[2:at]).split()[1:]]
    runs = [ln.split() for ln in lines[at + 1:]]
    runs = [words for words in runs if words[0].rstrip(".").isdigit()]
    rows, y = [[int(w) for w in words[1:-1]] for words in runs], [float(words[-1]) for words in runs]
    return rows, y, labels


def report_models(log):
    """The overall BayesPostProb table: name -> the six printed fields."""
    lines = log[log.index("All models sorted together by BayesPostProb (n="):].split("\n")[3:]
    rows = [line.split() for line in itertools.takewhile(str.strip, lines)]  # up to the blank line
    return {words[0]: words[1:7] for words in rows}


def report_alias_groups(log):
    """The report's alias groups: model name -> group number, 1 for the first listed."""
    heading = "\nAlias groups among the models listed (identical fits):\n"
    groups = {}
    if heading in log:
        lines = log[log.index(heading) + len(heading):].split("\n")
        for number, line in enumerate(itertools.takewhile(lambda text: " = " in text, lines), 1):
            groups.update((model_code(name), number) for name in line.split(" = "))
    return groups


def model_code(printed):
    """A model as the extension sections print it, "Temp*Time (BD)" or "BD",
    by its letters."""
    printed = printed.strip()
    if printed.endswith(")") and " (" in printed:
        return printed[printed.rindex(" (") + 2:-1]
    return printed


def report_factor_tables(log):
    """Every factor table: weighting -> {letter: (sum, share)}, and the line
    for no factor active, if any."""
    start = log.index("Posterior weights that factors are active:")
    ends = [log.find(title, start) for title in ("Prior sensitivity:", "\nFollow-up runs:")]
    end = min([e for e in ends if e >= 0], default=len(log))
    tables, current, none_active = {}, None, None
    for line in log[start:end].split("\n"):
        for key, title in TABLE_TITLES.items():
            if line.startswith(title):
                current = tables.setdefault(key, {})
        words = line.split()
        if line.startswith("  No factor active:"):
            none_active = (words[3], words[4])
        elif current is not None and len(words) >= 3 and len(words[0]) == 2 and words[0][1] == ":":
            current[words[0][0]] = (words[1], words[2])
    return tables, none_active


def reference(rows, y, doc):
    """Each model's reference values by name, and the factor weights of every
    weighting by letter."""
    settings = doc["settings"]
    space = settings["model_space"]
    letters = {c["column"] - 1: c["letter"] for c in doc["design"]["design_columns"]}
    models = {}
    for m in doc["models"]:
        factors = [c - 1 for c in m["columns"]]
        r = fit(rows, y, space["blocks"], factors, space["order"], settings["gamma"],
                space["gamma_interactions"], settings["pi"])
        r["live"] = space["keep_aliased"] or not r["singular"]
        models[m["name"]] = (r, factors)
    top = max(r["logb"] for r, _ in models.values() if r["live"])
    total = sum(math.exp(r["logb"] - top) for r, _ in models.values() if r["live"])
    for r, _ in models.values():
        r["postprob"] = math.exp(r["logb"] - top) / total if r["live"] else 0.0
        r["likelihood"] = math.exp(r["loglik"]) if "loglik" in r else math.nan

    def log_weight(r, key):
        """The natural log of a model's weight, or None when it counts 0."""
        if not r["live"]:
            return None
        if key == "postprob":
            return r["logb"] - top - math.log(total)
        if key == "inv_rmsec2":
            return -2 * math.log(r["rmsec"]) if "rmsec" in r else None
        if r["singular"]:
            return None  # no least-squares fit
        if key == "likelihood":
            return r.get("loglik")
        if key == "inv_rmse2":
            return -2 * math.log(r["rmse"]) if "rmse" in r else None
        fstat = r.get("fstat", math.nan)
        return None if math.isnan(fstat) else (math.log(fstat) if fstat > 0 else -math.inf)

    # Shares from the log weights, relative to the largest (models of
    # infinite weight, if any, share equally); sums of the plain weights.
    weights = {}
    for key in WEIGHTINGS:
        logs = [(log_weight(r, key), factors) for r, factors in models.values()]
        logs = [(lw, factors) for lw, factors in logs if lw is not None]
        top_log = max((lw for lw, _ in logs), default=-math.inf)
        if top_log == math.inf:
            rel = [1.0 if lw == math.inf else 0.0 for lw, _ in logs]
        else:
            rel = [math.exp(lw - top_log) for lw, _ in logs]
        total_rel = math.fsum(rel)
        table = {}
        for letter_column, letter in letters.items():
            members = [(lw, w) for (lw, factors), w in zip(logs, rel) if letter_column in factors]
            plain = math.fsum(math.exp(lw) if lw < 709 else math.inf for lw, _ in members)
            share = math.fsum(w for _, w in members) / total_rel if total_rel > 0 else 0.0
            table[letter] = (plain, share)
        weights[key] = table
    return models, weights


def close(a, b, rel=1e-9, absolute=1e-300):
    return math.isclose(a, b, rel_tol=rel, abs_tol=absolute)


def csv_text(value):
    """The CSV text of a JSON value other than a number; None for a number."""
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, list):
        return " ".join(str(v) for v in value)
    return "" if value is None else value if isinstance(value, str) else None


def check_models(doc, log, rows_csv, ref, labels, fail):
    printed = report_models(log)
    fail.check(len(printed) == len(doc["models"]) == doc["model_set"]["count"],
               "the report, the JSON and the count list different numbers of models")
    fail.check(len(rows_csv) == len(doc["models"]), "the CSV has one row per model")
    sizes = [m["n_factors"] for m in doc["models"]]
    tally = [sizes.count(k) for k in range(max(sizes) + 1)]
    fail.check(doc["model_set"]["count_by_factors"] == tally,
               f"count_by_factors {doc['model_set']['count_by_factors']}, the models' tally {tally}")
    aliases = report_alias_groups(log)
    for m, row in zip(doc["models"], rows_csv):
        name = m["name"]
        fail.check(m["alias_group"] == aliases.get(name), f"{name}: alias_group {m['alias_group']}")
        # The report's line, printed from the JSON.
        words = printed.get(name)
        if not fail.check(words is not None, f"{name}: not in the report"):
            continue
        for (key, fmt), word in zip(COLUMNS, words):
            value = m[key]
            if value is None:
                fail.check(word in ("-", "nan", "-nan", "inf") or (not m["valid"] and float(word) == 0),
                           f"{name} {key}: null in the JSON, {word} in the report")
            else:
                fail.check((fmt % value).strip() == word,
                           f"{name} {key}: JSON {value!r} prints {(fmt % value).strip()}, report {word}")
        # The CSV row holds the same values.
        for key in MODEL_FIELDS:
            value, text, expected = m[key], row[key], csv_text(m[key])
            fail.check(text == expected if expected is not None else text != "" and float(text) == value,
                       f"{name} {key}: CSV {text!r}, JSON {value!r}")
        if ref is None:
            continue
        # The exact reference.
        r, factors = ref[name]
        fail.check(m["valid"] == (not r["singular"]), f"{name}: valid")
        letters = "ABCDEFGHJKLMNOPQRSTUVWXYZ"
        names = [labels[f] if f < len(labels) and labels[f] else letters[f] for f in factors]
        fail.check(m["labels"] == names, f"{name}: labels {m['labels']}, design {names}")
        expect = {"rmse": r.get("rmse"), "adjrsq": r.get("adjrsq"), "fstat": r.get("fstat"),
                  "loglik": r.get("loglik"), "likelihood": r["likelihood"],
                  "rmsec": r.get("rmsec") if r["live"] else None,
                  "log10_bval": r["logb"] / math.log(10) if r["live"] else None,
                  "postprob": r["postprob"]}
        if r["singular"]:
            for key in ("rmse", "adjrsq", "fstat", "loglik", "likelihood"):
                expect[key] = None
        for key, want in expect.items():
            if want is not None and not math.isfinite(want):
                want = None
            got = m[key]
            if want is None:
                fail.check(got is None, f"{name} {key}: {got!r}, the reference has none")
            else:
                fail.check(got is not None and close(got, want, absolute=1e-12 if key == "adjrsq" else 1e-300),
                           f"{name} {key}: {got!r}, reference {want!r}")


def check_factors(doc, log, rows_csv, weights, fail):
    tables, none_active = report_factor_tables(log)
    fail.check(set(tables) == set(WEIGHTINGS), f"the report's factor tables: {sorted(tables)}")
    csv_by_letter = {row["letter"]: row for row in rows_csv}
    for f in doc["factor_weights"]["factors"]:
        letter = f["letter"]
        row = csv_by_letter.get(letter, {})
        for key in WEIGHTINGS:
            s, share = f[key]["sum"], f[key]["share"]
            word_sum, word_share = tables.get(key, {}).get(letter, ("?", "?"))
            sum_ok = word_sum in ("inf", "nan", "-nan") if s is None else "%g" % s == word_sum
            fail.check(sum_ok and ("%7.5f" % share).strip() == word_share,
                       f"{letter} {key}: JSON {s!r} {share!r}, report {word_sum} {word_share}")
            csv_sum = row.get(key + "_sum")
            fail.check((csv_sum == "" if s is None else csv_sum and float(csv_sum) == s)
                       and float(row[key + "_share"]) == share, f"{letter} {key}: CSV row")
            if weights is not None:
                want_sum, want_share = weights[key][letter]
                sum_ok = (s is None) if not math.isfinite(want_sum) else (
                    s is not None and close(s, want_sum, absolute=1e-300))
                fail.check(sum_ok and close(share, want_share, absolute=1e-15),
                           f"{letter} {key}: JSON {s!r} {share!r}, reference {want_sum!r} {want_share!r}")
        fail.check(row.get("label") == f["label"], f"{letter}: CSV label")
    p = doc["factor_weights"]["no_factor_active"]
    if none_active is None:
        fail.check(p is None and "(null)" not in csv_by_letter, "no null line, no null value")
    else:
        fail.check(p is not None and "%g" % p == none_active[0], f"no factor active: {p!r}, {none_active}")
        fail.check(float(csv_by_letter["(null)"]["postprob_share"]) == p, "no factor active: CSV")


def check_svg(doc, text, root, labels, fail):
    fail.check(root.tag == SVG + "svg" and root.get("width") and root.get("height"), "an svg root of fixed size")
    for element in root.iter():
        fail.check(element.tag not in (SVG + "script", SVG + "foreignObject", SVG + "image", SVG + "style"),
                   f"no {element.tag}")
        for attribute in element.attrib:
            fail.check("href" not in attribute and not attribute.startswith("on"), f"no {attribute} attribute")
    fail.check("url(" not in text and "@import" not in text, "no external reference")

    def rows(kind):
        return [{t.get("class"): t.text for t in g.iter(SVG + "text")}
                for g in root.iter(SVG + "g") if g.get("class") == kind]

    shown = {r.get("letter"): r for r in rows("factor") if r.get("letter")}
    for f in doc["factor_weights"]["factors"]:
        r = shown.get(f["letter"])
        if not fail.check(r is not None, f"SVG: no row for factor {f['letter']}"):
            continue
        c = f["column"] - 1
        want = labels[c] if c < len(labels) else ""
        if want == f["letter"]:
            want = ""  # a label that is the letter itself is not shown twice
        fail.check((r.get("name") or "") == want, f"SVG {f['letter']}: label {r.get('name')!r}, design {want!r}")
        fail.check(r.get("value") == "%.3f" % f["postprob"]["share"], f"SVG {f['letter']}: value {r.get('value')}")
    none = [r for r in rows("factor") if r.get("name") == "No factor active"]
    p = doc["factor_weights"]["no_factor_active"]
    fail.check(len(none) == (p is not None), "SVG: the null line with the null model")
    if none and p is not None:
        fail.check(none[0]["value"] == "%.3f" % p, "SVG: no factor active value")
    # The models with a posterior (those with a Box-Meyer weight), best first.
    # The models of an alias group are drawn once, named by the group, the
    # model drawn first and the others in enumeration order.
    live = [m for m in doc["models"] if m["log10_bval"] is not None]
    best, names, groups_drawn = [], [], set()
    for m in sorted(live, key=lambda m: (-m["postprob"], m["number"])):
        if len(best) == 10:
            break
        group = m["alias_group"]
        if group is not None:
            if group in groups_drawn:
                continue
            groups_drawn.add(group)
            others = [o["name"] for o in doc["models"] if o["alias_group"] == group and o is not m]
            names.append(" = ".join([m["name"]] + others))
        else:
            names.append(m["name"])
        best.append(m)
    models = rows("model")
    fail.check([r["name"] for r in models] == names, f"SVG: top models {[r['name'] for r in models]}")
    for r, m in zip(models, best):
        fail.check(r["value"] == "%.3f" % m["postprob"], f"SVG model {m['name']}: value")


def report_grid(log, doc):
    """The report's prior-grid tables: (gamma, pi) as printed by %g ->
    {row name: printed value}, and the line naming the best grid point."""
    grid = doc["prior_grid"]
    held_pi, held_gamma = "%g" % grid["pis"][0], "%g" % grid["gammas"][0]
    points, header, best = {}, None, None
    for line in log[log.index("Prior sensitivity:"):].split("\n"):
        words = line.split()
        if line.startswith("pi=") and line.endswith(":"):
            held_pi = line[3:-1]
        elif line.startswith("The data support "):
            best = line
        elif words and words[0] in ("gamma:", "pi:"):
            header = (words[0][:-1], words[1:])
        elif line.startswith("Follow-up runs:"):
            break
        elif header and ":" in line and not line.startswith(("Support: p(y", "(")):
            name, values = line.rsplit(":", 1)
            for column, value in zip(header[1], values.split()):
                key = (column, held_pi) if header[0] == "gamma" else (held_gamma, column)
                points.setdefault(key, {})[model_code(name)] = value
    return points, best


def check_grid(doc, log, rows_csv, svg_root, fail):
    """The prior-grid section of the JSON, the grid CSV and the SVG panel
    against the report's grid tables."""
    grid = doc["prior_grid"]
    printed, best_line = report_grid(log, doc)
    fail.check(len(grid["points"]) == len(grid["gammas"]) * len(grid["pis"]) == len(printed),
               f"grid points: {len(grid['points'])}, printed {len(printed)}")
    letters = [f["letter"] for f in grid["factors"]]
    with_null = doc["settings"]["model_space"]["null_model"]
    fail.check(rows_csv[0] == ["gamma", "pi"] + letters + (["no_factor_active"] if with_null else [])
               + ["support", "log_support"], f"grid CSV header {rows_csv[0]}")
    for point, row in zip(grid["points"], rows_csv[1:]):
        key = ("%g" % point["gamma"], "%g" % point["pi"])
        table = printed.get(key, {})
        null = [] if point["no_factor_active"] is None else [point["no_factor_active"]]
        want = {letter: point["active"][letter] for letter in letters}
        want["Support"] = point["support"]
        if null:
            want["No factor active"] = null[0]
        fail.check(set(table) == set(want), f"grid {key}: rows {sorted(table)}")
        for name, value in want.items():
            fail.check(table.get(name) == "%7.5f" % value, f"grid {key} {name}: JSON {value!r}, report {table.get(name)}")
        values = ([point["gamma"], point["pi"]] + [point["active"][letter] for letter in letters] + null
                  + [point["support"], point["log_support"]])
        fail.check([float(v) for v in row] == values, f"grid CSV row {row}")
    best = grid["best"]
    words = ["%s=%g" % (prior, best[prior]) for prior in ("gamma", "pi") if grid[prior + "_grid"]]
    fail.check(best_line == "The data support %s most (support %.3g)." % (", ".join(words), best["support"]),
               f"the best grid point: {best_line}")
    # The SVG panel: one curve per factor over the grid values, drawn at the
    # other prior's value of the best point.
    area = next((r for r in svg_root.iter(SVG + "rect") if r.get("class") == "plot-area"), None)
    if not fail.check(area is not None, "SVG: the grid panel"):
        return
    x0, y0, w, h = (float(area.get(k)) for k in ("x", "y", "width", "height"))
    axis = grid["gammas"] if grid["gamma_grid"] else grid["pis"]
    held = "pi" if grid["gamma_grid"] else "gamma"
    along = [p for p in grid["points"] if p[held] == best[held]]
    curves = {}
    for g in svg_root.iter(SVG + "g"):
        if g.get("class") == "grid-line":
            name = next(t.text for t in g.iter(SVG + "text") if t.get("class") == "name")
            points = next(p.get("points") for p in g.iter(SVG + "polyline"))
            curves[name] = [tuple(map(float, xy.split(","))) for xy in points.split()]
    labels = {c["letter"]: c["label"] for c in doc["design"]["design_columns"]}
    for f in grid["factors"]:
        name = f["letter"] + (" " + labels[f["letter"]] if labels[f["letter"]] else "")
        drawn = curves.get(name)
        if not fail.check(drawn is not None and len(drawn) == len(axis), f"SVG grid curve {name}"):
            continue
        for (x, y), v, p in zip(drawn, axis, along):
            want_x = x0 + w * (v - axis[0]) / (axis[-1] - axis[0])
            want_y = y0 + h * (1 - p["active"][f["letter"]])
            fail.check(abs(x - want_x) <= 0.051 and abs(y - want_y) <= 0.051,
                       f"SVG grid curve {name}: ({x}, {y}), expected ({want_x:.2f}, {want_y:.2f})")


def check_follow_up(doc, log, rows_csv, fail):
    """The follow-up section of the JSON and the follow-up CSV against the
    report's follow-up section."""
    section = log[log.index("\nFollow-up runs:"):].split("\n")
    fu = doc["follow_up"]
    by_number = {m["number"]: m for m in doc["models"]}
    names = {m["name"] for m in doc["models"]}
    rows = (re.match(r"^    (.+?)\s+(\S+)\s+(\S+)$", line) for line in section)
    printed = {model_code(r.group(1)): [r.group(2), r.group(3)] for r in rows
               if r and model_code(r.group(1)) in names}
    for m in fu["models"]:
        fail.check(by_number[m["number"]]["name"] == m["name"], f"follow-up model {m['name']}")
        fail.check(printed.get(m["name"]) == [("%10.4g" % m["postprob"]).strip(), ("%10.6g" % m["s2"]).strip()],
                   f"follow-up model {m['name']}: {printed.get(m['name'])}")
    designs = [line.split() for line in section if ".  MD = " in line]
    fail.check(len(designs) == len(fu["designs"]), "the number of follow-up designs")
    for words, d in zip(designs, fu["designs"]):
        fail.check(words[3] == ("%-11.6g" % d["md"]).strip() and words[4:] == [str(k) for k in d["candidates"]],
                   f"follow-up design {words}: {d}")
    at = next(i for i, line in enumerate(section) if line.startswith("  The best design, one run a line:"))
    runs = [line.split() for line in section[at + 2:at + 2 + fu["runs"]]]
    expected = [[str(r + 1), str(run["candidate"])] + [str(v) for v in run["levels"]]
                for r, run in enumerate(fu["best_design"])]
    fail.check(runs == expected, f"the best follow-up design: {runs} {expected}")
    fail.check(rows_csv[0] == ["run", "candidate"] + [c["letter"] for c in fu["candidates"]["columns"]],
               f"follow-up CSV header {rows_csv[0]}")
    fail.check(rows_csv[1:] == expected, f"follow-up CSV rows {rows_csv[1:]}")


def read_csv(path, by_header=False):
    """The records of a CSV file: lists of fields, or dicts by the header."""
    with open(path, newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f) if by_header else csv.reader(f))


def run_case(program, source, example, text, options, with_reference):
    fail = Failures()
    with tempfile.TemporaryDirectory(prefix="bsc-results-") as tmp:
        def path(suffix):
            return os.path.join(tmp, example + suffix)

        text = text(source) if callable(text) else text
        if "\n" not in text:
            shutil.copy(os.path.join(source, text), path(".txt"))
        else:
            with open(path(".txt"), "w") as f:
                f.write(text)
        args = [program, example, "-R", "-D", "--json", "--csv-files", "--svg-file"] + options
        run = subprocess.run(args, cwd=tmp, stdin=subprocess.DEVNULL, capture_output=True)
        if not fail.check(run.returncode == 0, f"status {run.returncode}: {run.stderr[-400:]!r}"):
            return fail
        log = open(path(".out.txt"), encoding="latin-1").read()
        doc = json.load(open(path(".json"), encoding="utf-8"),
                        parse_constant=lambda word: fail.check(False, f"JSON holds {word}"))
        fail.check(doc["schema_version"] == 1 and doc["schema"] == "bayescreen-results", "schema")
        fail.check(doc["files"]["input"] == example + ".txt", "input file")
        words = ["--json", "--csv-files", "--svg-file"] + [o for o in options if o.startswith("--")]
        fail.check(sorted(doc["settings"]["extension_words"]) == sorted(words), "the extension words as given")
        for name in ("models", "factors"):
            raw = open(path(f".{name}.csv"), "rb").read()
            fail.check(raw.endswith(b"\r\n") and raw.count(b"\r\n") == raw.count(b"\n"),
                       f"{name}.csv: every record ends with CR LF")
        rows, y, labels = read_design(path(".txt"))
        ref, weights = reference(rows, y, doc) if with_reference else (None, None)
        check_models(doc, log, read_csv(path(".models.csv"), True), ref, labels, fail)
        check_factors(doc, log, read_csv(path(".factors.csv"), True), weights, fail)
        svg_text = open(path(".svg"), encoding="utf-8").read()
        svg_root = ET.fromstring(svg_text)
        check_svg(doc, svg_text, svg_root, labels, fail)
        # The grid and follow-up CSV files come with their sections only.
        for suffix, section in ((".grid.csv", "prior_grid"), (".followup.csv", "follow_up")):
            fail.check(os.path.exists(path(suffix)) == (doc[section] is not None),
                       f"a {suffix} file with the {section} section only")
        if doc["prior_grid"] is not None:
            check_grid(doc, log, read_csv(path(".grid.csv")), svg_root, fail)
        if doc["follow_up"] is not None:
            check_follow_up(doc, log, read_csv(path(".followup.csv")), fail)
    return fail


def main():
    program, source = os.path.abspath(sys.argv[1]), sys.argv[2]
    passed = failed = 0
    for example, text, options, with_reference in CASES:
        fail = run_case(program, source, example, text, options, with_reference)
        title = " ".join([example] + options)
        if fail:
            failed += 1
            print(f"FAILED {title}: {len(fail)} differences")
            for message in fail[:20]:
                print("   ", message)
        else:
            passed += 1
            print(f"ok     {title}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
