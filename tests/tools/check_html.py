#!/usr/bin/env python3
"""Checks the HTML page of --html on whole runs.

    check_html.py BAYESCREEN SOURCE_DIR

For each case the program runs in a temporary directory with --html. Then:
  - the page parses as HTML5 without a single parse error (html5lib, the
    parser of the HTML standard, when Debian's python3-html5lib is there)
    and, with Python's html.parser, has the structure asked for: every
    element closed in order, unique ids, aria-labelledby naming ids that
    exist, table headers with scope, figures with a title, a description
    and role=img, no external resource, one inline script;
  - the sections come in order: summary, figures, tables, settings, report;
  - the summary names exactly the factors whose probability in the report's
    posterior table is above 0.5, says "No factor active" when the report's
    most probable model is the null model, and warns when that model has as
    many factors as --max-factors allows or the grid value the report's
    Support row favours is at an end of the grid;
  - the factors table holds every factor and the report's probabilities;
  - labels with markup show as text: the parsed text holds them as typed;
  - the folded report is the log file, character for character, or its
    first megabyte up to a line end for a longer log;
  - the page of a run of 2^20 - 1 models stays under 2 MB;
  - with the page's run written as JSON too (EFFECT_CASES: the reactor
    example, and a table in natural units with markup in its names): the
    effects table holds every effect of the JSON with its name, posterior
    mean and sign, SD, P(effect > 0) and least-squares estimate; each
    summary sentence states the direction and size of the factor's main
    effect as the JSON has it, in the factor's own levels when the table
    codes them; the coding table holds the table's values; the half-normal
    figure's description gives Lenth's ME and SME.
Prints one line per case and "N passed, M failed".
"""
import html
import html.parser
import json
import os
import re
import subprocess
import sys
import tempfile

VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "source", "track", "wbr"}
SVG_LEAVES = {"rect", "line", "polyline", "path", "circle"}  # written self-closing inside <svg>


class Node:
    def __init__(self, tag, attrs, parent):
        self.tag, self.attrs, self.parent, self.items = tag, dict(attrs), parent, []  # text and nodes

    def all(self, tag=None):
        for child in self.items:
            if isinstance(child, Node):
                if tag is None or child.tag == tag:
                    yield child
                yield from child.all(tag)

    def content(self):
        return "".join(c if isinstance(c, str) else c.content() for c in self.items)


class TreeBuilder(html.parser.HTMLParser):
    """A tree of the page; strict about nesting (every non-void element
    closed, in order), so that a missing end tag is found."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.root = Node("#document", [], None)
        self.at = self.root
        self.errors = []
        self.doctype = None
        self.first = None

    def handle_decl(self, decl):
        self.doctype = decl
        self.first = self.first or "doctype"

    def handle_starttag(self, tag, attrs):
        self.first = self.first or tag
        node = Node(tag, attrs, self.at)
        self.at.items.append(node)
        if tag not in VOID:
            self.at = node

    def handle_startendtag(self, tag, attrs):
        self.first = self.first or tag
        if tag not in VOID and tag not in SVG_LEAVES:
            self.errors.append(f"<{tag}/> self-closed")
        self.at.items.append(Node(tag, attrs, self.at))

    def handle_endtag(self, tag):
        if tag in VOID:
            self.errors.append(f"end tag of void element {tag}")
        elif self.at.tag != tag:
            self.errors.append(f"</{tag}> closes <{self.at.tag}>")
        else:
            self.at = self.at.parent

    def handle_data(self, data):
        self.at.items.append(data)


def html5_errors(text):
    """The parse errors of the HTML5 parsing algorithm (html5lib), or None
    when no interpreter here has html5lib."""
    script = ("import sys, html5lib\n"
              "p = html5lib.HTMLParser(strict=False, namespaceHTMLElements=False)\n"
              "p.parse(sys.stdin.read())\n"
              "print('\\n'.join('%s %s' % (pos, code) for pos, code, _ in p.errors))\n")
    for python in (sys.executable, "/usr/bin/python3"):
        if not os.path.exists(python):
            continue
        run = subprocess.run([python, "-c", script], input=text, capture_output=True, text=True)
        if run.returncode == 0:
            return [line for line in run.stdout.split("\n") if line]
    return None


class Failures(list):
    def check(self, ok, message):
        if not ok:
            self.append(message)
        return ok


def report_posterior(log):
    """The report's posterior factor table: letter -> share, and the line for
    no factor active (None without it)."""
    start = log.index("Weighting models by Bayesian post.prob.")
    shares, none = {}, None
    for line in log[start:].split("\n")[1:]:
        words = line.split()
        if line.startswith("  No factor active:"):
            none = float(words[4])
            break
        if len(words) >= 3 and len(words[0]) == 2 and words[0][1] == ":":
            shares[words[0][0]] = float(words[2])
        elif shares:
            break
    return shares, none


def report_best_model(log):
    """The first model of the report's overall posterior ranking (-R)."""
    lines = log[log.index("All models sorted together by BayesPostProb ("):].split("\n")[3:]
    return lines[0].split()[0]


def report_support_edge(log):
    """With a gamma grid: whether the largest value of the report's Support
    row is the first or the last of the grid (None without a grid)."""
    if "Prior sensitivity:" not in log:
        return None
    lines = log[log.index("Prior sensitivity:"):].split("\n")
    values = [float(w) for line in lines if re.match(r"\s+Support:", line) for w in line.split()[1:]]
    best = values.index(max(values))
    return best in (0, len(values) - 1)


def labelled_design():
    """Four factors, two labels with markup; the response follows the
    factor labelled <script>..."""
    rows = [(a, b, c, a * b * c) for a in (-1, 1) for b in (-1, 1) for c in (-1, 1)]
    text = ("Labels <b>test</b> & more\nNrows=8 Ncols=4\n"
            "Labels A=<script>alert(1)</script> B=Salt&amp;Pepper C=\"quoted\" D=Plain\nData\n")
    noise = [0.3, -0.2, 0.1, 0.4, -0.3, 0.2, -0.1, -0.4]
    for r, (a, b, c, d) in enumerate(rows):
        text += "%d. %2d %2d %2d %2d %.2f\n" % (r + 1, a, b, c, d, 50 + 6 * a + noise[r])
    return text


def noise_design():
    """Eight runs of a 2^3 factorial with a response no factor explains."""
    y = [10.2, 9.1, 10.9, 9.6, 10.4, 9.9, 10.0, 10.5]
    text = "Pure noise\nNrows=8 Ncols=3\nData\n"
    for r in range(8):
        text += "%d. %2d %2d %2d %.1f\n" % (r + 1, (r & 1) * 2 - 1, (r >> 1 & 1) * 2 - 1, (r >> 2) * 2 - 1, y[r])
    return text


def plackett_burman(k, title):
    """24 runs of a Plackett-Burman design in its first k columns (of 23),
    the response made of two of them: with --max-factors=k --order=1,
    2^k - 1 models."""
    gen = [1, 1, 1, 1, 1, -1, 1, -1, 1, 1, -1, -1, 1, 1, -1, -1, 1, -1, 1, -1, -1, -1, -1]
    text = "%s\nNrows=24 Ncols=%d\nData\n" % (title, k)
    for r in range(24):
        row = [gen[(j - r) % 23] if r < 23 else -1 for j in range(k)]
        y = 30 + 5 * row[2] - 4 * row[11] + 0.1 * ((r * 7) % 5)
        text += "%d. %s %.2f\n" % (r + 1, " ".join("%2d" % v for v in row), y)
    return text


def example(name):
    return lambda source: open(os.path.join(source, "examples", name + ".txt"), encoding="latin-1").read()


# name, design text (or a function of the source directory), options.
CASES = [
    ("reactor12", example("reactor12"), []),
    ("reactor12", example("reactor12"), ["--max-factors=2"]),
    ("reactor12", example("reactor12"), ["--null", "--gamma-grid=0.5:5:10", "--follow-up=2"]),
    ("reactor12", example("reactor12"), ["--gamma-grid=0.2:1:5", "--pi-grid=0.1:0.3:3"]),
    ("injection16", example("injection16"), ["--null", "--max-factors=4", "--keep-aliased"]),
    ("labels", lambda source: labelled_design(), ["--null"]),
    ("noise", lambda source: noise_design(), ["--null"]),
    ("twenty", lambda source: plackett_burman(20, "Twenty factors"), ["--max-factors=20", "--order=1"]),
    # Every one of 16,383 models in the log (-R): a log of megabytes, cut on the page.
    ("fourteen", lambda source: plackett_burman(14, "Fourteen factors"), ["-R", "--max-factors=14", "--order=1"]),
]


def natural_table():
    """A 2^3 factorial in the factors' own units, names and a level with
    markup; the response rises 8 with temperature and falls 5 with the
    <script> catalyst."""
    noise = [0.3, -0.2, 0.1, 0.4, -0.3, 0.2, -0.1, -0.4]
    text = 'Temp <C>,<script>x</script>,"Time, min",Yield & co\n'
    for r in range(8):
        t, c, m = (r & 1) * 2 - 1, (r >> 1 & 1) * 2 - 1, (r >> 2) * 2 - 1
        text += "%s,%s,%s,%.2f\n" % (150 + 15 * (t + 1), "old<b>" if c < 0 else "new&", 10 + 5 * (m + 1),
                                     60 + 4 * t - 2.5 * c + noise[r])
    return text


# name, file name, design text (or a function of the source directory),
# options, the expected coding: name -> (low, high, centre); None for a
# design file.
EFFECT_CASES = [
    ("reactor12", "reactor12.txt", example("reactor12"), [], None),
    ("natural", "natural.csv", lambda source: natural_table(), [],
     {"Temp <C>": ("150", "180", ""), "<script>x</script>": ("old<b>", "new&", ""), "Time, min": ("10", "20", "")}),
]


def number(text):
    """A number as the page writes it: a minus sign U+2212, a dash for none."""
    text = text.strip().replace("\u2212", "-")
    return None if text in ("\u2014", "") else float(text)


def close(a, b, digits):
    """Whether a rounded to `digits` significant digits reads as b."""
    if a is None or b is None:
        return a is None and b is None
    return abs(a - b) <= 0.51 * 10 ** -(digits - 1) * max(abs(b), 1e-300) + 1e-12


def check_effects_case(program, source, name, file_name, text, options, coding):
    fail = Failures()
    with tempfile.TemporaryDirectory(prefix="bsc-html-") as tmp:
        with open(os.path.join(tmp, file_name), "w", encoding="utf-8") as f:
            f.write(text(source))
        run = subprocess.run([program, file_name, "--html=page.html", "--json=run.json"] + options, cwd=tmp,
                             stdin=subprocess.DEVNULL, capture_output=True)
        if not fail.check(run.returncode == 0, f"status {run.returncode}: {run.stdout[-300:]!r}"):
            return fail
        page = open(os.path.join(tmp, "page.html"), encoding="utf-8").read()
        doc = json.load(open(os.path.join(tmp, "run.json"), encoding="utf-8"))
    builder = TreeBuilder()
    builder.feed(page)
    builder.close()
    root = builder.root
    check_structure(page, root, builder, fail)
    effects = doc["effects"]["effects"]
    tables = {t.attrs.get("aria-labelledby"): t for t in root.all("table")}
    if fail.check("effects-h" in tables, "an effects table"):
        rows = {}
        for tr in next(tables["effects-h"].all("tbody")).all("tr"):
            rows[next(tr.all("th")).content()] = [td.content() for td in tr.all("td")]
        fail.check(sorted(rows) == sorted(e["code"] for e in effects), f"the effects {sorted(rows)} are the JSON's")
        for e in effects:
            row = rows.get(e["code"])
            if row is None:
                continue
            fail.check(row[0] == e["name"], f"{e['code']}: name {row[0]!r} vs {e['name']!r}")
            fail.check(close(number(row[1]), e["mean"], 4), f"{e['code']}: mean {row[1]} vs {e['mean']}")
            fail.check(e["mean"] <= 0 or row[1].startswith("+"), f"{e['code']}: a positive mean has its sign")
            fail.check(close(number(row[2]), e["sd"], 6), f"{e['code']}: SD {row[2]} vs {e['sd']}")
            fail.check(abs(number(row[3]) - e["prob_positive"]) <= 5.1e-5, f"{e['code']}: P {row[3]}")
            fail.check(close(number(row[4]), e["least_squares"], 4), f"{e['code']}: LS {row[4]} vs {e['least_squares']}")
    # Each active factor's sentence: direction, size, P(effect > 0), levels.
    summary = next(s for s in root.all("section") if s.attrs.get("id") == "summary")
    sentences = [li.content() for li in summary.all("li")]
    fail.check(sentences, "the summary names active factors")
    for sentence in sentences:
        letter = sentence.split()[0]
        main = next((e for e in effects if e["code"] == letter), None)
        if not fail.check(main is not None, f"{letter} has a main effect in the JSON"):
            continue
        word = "raises" if main["mean"] > 0 else "lowers"
        size = re.search(r"the response by about (\d+(?:\.\d+)?(?:e[+-]?\d+)?) \(P\(effect > 0\) = ([\d.]+)\)", sentence)
        fail.check(f"{word} the response" in sentence and size is not None, f"{letter}: {word}, in {sentence!r}")
        if size:
            fail.check(close(float(size.group(1)), abs(main["mean"]), 3), f"{letter}: size {size.group(1)} vs {main['mean']}")
            fail.check(abs(float(size.group(2)) - main["prob_positive"]) <= 0.0051, f"{letter}: P {size.group(2)}")
        if coding:
            low, high, _ = coding[main["name"]]
            fail.check(f"from {low} to {high}" in sentence, f"{letter}: the levels {low}, {high} in {sentence!r}")
        else:
            fail.check("from its low to its high level" in sentence, f"{letter}: coded levels in {sentence!r}")
    if coding:
        if fail.check("coding-h" in tables, "a coding table"):
            got = {}
            for tr in next(tables["coding-h"].all("tbody")).all("tr"):
                cells = [td.content() for td in tr.all("td")]
                got[cells[0]] = (cells[1], cells[2], "" if cells[3] == "\u2014" else cells[3])
            fail.check(got == coding, f"the coding {got}")
        for name_text in coding:
            fail.check(name_text in root.content(), f"the name {name_text!r} shows as text")
        fail.check("<script>x" not in page and "old<b>" not in page, "names and levels escaped")
    else:
        fail.check("coding-h" not in tables, "no coding table for a design file")
    figure = next((s for s in root.all("svg") if s.attrs.get("aria-labelledby", "").startswith("fig-effects")), None)
    if fail.check(figure is not None, "a half-normal figure"):
        desc = next(figure.all("desc")).content()
        lenth = doc["lenth"]
        if lenth["applies"]:
            me = re.search(r"ME = (\d+(?:\.\d+)?(?:e[+-]?\d+)?) and simultaneous margin SME = (\d+(?:\.\d+)?(?:e[+-]?\d+)?)", desc)
            fail.check(me is not None and close(float(me.group(1)), lenth["me"], 3) and
                       close(float(me.group(2)), lenth["sme"], 3), f"ME and SME in {desc[:200]!r}")
        fail.check(len(list(figure.all("circle"))) == sum(e["least_squares"] is not None for e in effects),
                   "a point for every least-squares effect")
    return fail


def check_structure(text, root, builder, fail):
    fail.check(text.startswith("<!DOCTYPE html>\n"), "the page starts with <!DOCTYPE html>")
    fail.check(not builder.errors, f"nesting: {builder.errors[:5]}")
    fail.check(builder.at is root, "every element closed")
    errors = html5_errors(text)
    if errors is not None:
        fail.check(errors == [], f"HTML5 parse errors: {errors[:5]}")
    page = next(root.all("html"), None)
    if not fail.check(page is not None and page.attrs.get("lang") == "en", "<html lang=en>"):
        return
    ids = [n.attrs["id"] for n in root.all() if "id" in n.attrs]
    fail.check(len(ids) == len(set(ids)), "ids are unique")
    for node in root.all():
        for ref in node.attrs.get("aria-labelledby", "").split():
            fail.check(ref in ids, f"aria-labelledby names {ref}, which exists")
        for attr in ("src", "href", "xlink:href"):
            fail.check(attr not in node.attrs, f"no external resource ({node.tag} {attr})")
    fail.check(not re.search(r"url\(|@import|https?://(?!www\.w3\.org/2000/svg)", text), "no URL in the page")
    scripts = list(root.all("script"))
    fail.check(len(scripts) == 1 and not scripts[0].attrs, "one inline script")
    fail.check(any(m.attrs.get("name") == "viewport" for m in root.all("meta")), "a viewport for phones")
    style = "".join(s.content() for s in root.all("style"))
    fail.check("@media print" in style and "size:A4" in style, "a print style for A4")
    for table in root.all("table"):
        heads = list(table.all("th"))
        fail.check(heads and all(th.attrs.get("scope") in ("col", "row") for th in heads),
                   "every table header has a scope")
        fail.check(next(table.all("thead"), None) is not None, "every table has a thead")
    for svg in root.all("svg"):
        titles, descs = list(svg.all("title")), list(svg.all("desc"))
        fail.check(svg.attrs.get("role") == "img" and titles and descs and
                   svg.attrs.get("aria-labelledby") == f"{titles[0].attrs.get('id')} {descs[0].attrs.get('id')}",
                   "every figure has role=img, a title and a description")
        fail.check(svg.parent.tag == "figure" and next(svg.parent.all("figcaption"), None) is not None,
                   "every figure has a caption")
    sections = [s.attrs.get("id") for s in root.all("section")]
    fail.check(sections == ["summary", "figures", "tables", "settings", "report"], f"sections in order: {sections}")


def check_case(program, source, name, text, options):
    fail = Failures()
    with tempfile.TemporaryDirectory(prefix="bsc-html-") as tmp:
        design = text(source)
        with open(os.path.join(tmp, name + ".txt"), "w", encoding="utf-8") as f:
            f.write(design)
        run = subprocess.run([program, name, "--html"] + options, cwd=tmp, stdin=subprocess.DEVNULL,
                             capture_output=True)
        if not fail.check(run.returncode == 0, f"status {run.returncode}: {run.stdout[-300:]!r}"):
            return fail
        raw = open(os.path.join(tmp, name + ".html"), "rb").read()
        log = open(os.path.join(tmp, name + ".out.txt"), encoding="utf-8", errors="replace").read()
    fail.check(len(raw) < 2 * 1024 * 1024, f"the page is under 2 MB ({len(raw)} bytes)")
    text = raw.decode("utf-8")
    builder = TreeBuilder()
    builder.feed(text)
    builder.close()
    root = builder.root
    check_structure(text, root, builder, fail)

    sections = {s.attrs.get("id"): s for s in root.all("section")}
    if "summary" not in sections:
        return fail
    summary = sections["summary"].content()
    shares, _ = report_posterior(log)
    letters = [l for l, p in sorted(shares.items(), key=lambda kv: -kv[1]) if p > 0.5]
    named = [li.content() for li in sections["summary"].all("li")]
    fail.check([n.split()[0] for n in named] == letters, f"active factors {named} are the report's {letters}")
    best = report_best_model(log)
    fail.check(("No factor active" in summary) == (best == "(null)" or not letters),
               f"'No factor active' exactly when the null model ({best}) is best or no factor is above 0.5")
    limit = next((int(o.split("=")[1]) for o in options if o.startswith("--max-factors=")), 3)
    at_edge = best != "(null)" and len(best) == limit and limit < len(shares)
    fail.check(("--max-factors=%d" % (limit + 1) in summary) == at_edge,
               f"a warning exactly when the best model {best} has --max-factors={limit} factors")
    grids = [o.split("=")[0] for o in options if o.endswith("-grid") or "-grid=" in o]
    grid_edge = report_support_edge(log) if grids == ["--gamma-grid"] else None
    if grid_edge is not None:
        fail.check(("Widen the grid" in summary) == grid_edge, "a warning exactly when the gamma grid's best is at an end")

    # The factors table: every factor, the report's probabilities.
    factors = next((t for t in sections["tables"].all("table") if t.attrs.get("aria-labelledby") == "factors-h"), None)
    if fail.check(factors is not None, "a factors table"):
        rows = {}
        for tr in factors.all("tr"):
            head = next(tr.all("th"), None)
            cells = [td.content() for td in tr.all("td")]
            if head is not None and cells:
                rows[head.content()] = cells
        fail.check(sorted(rows) == sorted(shares), f"the factors {sorted(rows)} are the report's")
        for letter, share in shares.items():
            if letter in rows:
                fail.check(abs(float(rows[letter][2]) - share) <= 6e-5, f"{letter}: {rows[letter][2]} vs {share}")
    labels = re.search(r"^Labels (.*)$", design, re.M | re.I)
    page_text = root.content()
    if labels and "=" in labels.group(1):
        for word in labels.group(1).split():
            fail.check(word.split("=", 1)[1] in page_text, f"the label {word} shows as text")
    heading = next(line for line in design.split("\n") if line and line[0] not in "#;%")
    fail.check(heading in page_text, "the heading shows as text")

    models = next((t for t in sections["tables"].all("table") if t.attrs.get("aria-labelledby") == "models-h"), None)
    if fail.check(models is not None, "a models table"):
        body = list(next(models.all("tbody")).all("tr"))
        heading = log[log.index("All models sorted together by BayesPostProb"):].split("\n")[0]
        counts = re.search(r"\(best (\d+) out of ([\d,]+)\)", heading)  # with -R: (n=16,383)
        listed, total = counts.groups() if counts else (re.search(r"\(n=([\d,]+)\)", heading).group(1).replace(",", ""),
                                                        re.search(r"\(n=([\d,]+)\)", heading).group(1))
        fail.check(len(body) == min(40, int(listed), int(total.replace(",", ""))), f"{len(body)} model rows of {listed} listed")
        fail.check(f"of the {total} models" in sections["tables"].content(), f"the count of models, {total}, is stated")
    if "--follow-up=2" in options:
        follow = next((t for t in sections["tables"].all("table") if t.attrs.get("aria-labelledby") == "follow-up-h"), None)
        if fail.check(follow is not None, "a follow-up table"):
            fail.check(len(list(next(follow.all("tbody")).all("tr"))) == 2, "two follow-up runs")
    figures = list(sections["figures"].all("svg"))
    fail.check(len(figures) == (3 if any("grid" in o for o in options) else 2) + ("fig-effects" in text),
               "the figures")

    details = next(sections["report"].all("details"), None)
    if fail.check(details is not None, "the report folded in <details>"):
        held = next(details.all("pre")).content()
        if len(log) <= 1000000:
            fail.check(held == log, "the folded report is the log")
        else:
            fail.check(log.startswith(held) and held.endswith("\n") and 900000 < len(held) <= 1000000,
                       f"a long log is held cut at a line end ({len(held)} of {len(log)} characters)")
            fail.check(f"the whole report is in {name}.out.txt" in details.content(), "the page names the whole log")
    return fail


def check_effects_space_case(program, source):
    """The effects space (--recommended on the cast-fatigue example): the page
    is valid and its table of models is the JSON's top models, in order."""
    fail = Failures()
    with tempfile.TemporaryDirectory(prefix="bsc-html-") as tmp:
        with open(os.path.join(tmp, "cf.txt"), "w", encoding="utf-8") as f:
            f.write(example("castfatigue12")(source))
        run = subprocess.run([program, "cf.txt", "--recommended", "--html=page.html", "--json=run.json"], cwd=tmp,
                             stdin=subprocess.DEVNULL, capture_output=True)
        if not fail.check(run.returncode == 0, f"status {run.returncode}: {run.stdout[-300:]!r}"):
            return fail
        page = open(os.path.join(tmp, "page.html"), encoding="utf-8").read()
        doc = json.load(open(os.path.join(tmp, "run.json"), encoding="utf-8"))
    builder = TreeBuilder()
    builder.feed(page)
    builder.close()
    root = builder.root
    check_structure(page, root, builder, fail)
    tables = {t.attrs.get("aria-labelledby"): t for t in root.all("table")}
    top = doc["effects_space"]["top_models"]
    if fail.check("models-h" in tables, "a models table"):
        rows = [(next(tr.all("th")).content(), [td.content() for td in tr.all("td")])
                for tr in next(tables["models-h"].all("tbody")).all("tr")]
        fail.check([r[0] for r in rows] == [m["name"] for m in top], f"models {[r[0] for r in rows]}")
        for (name, cells), m in zip(rows, top):
            # Four decimals.
            fail.check(abs(number(cells[-1]) - m["probability"]) <= 0.51e-4, f"{name}: {cells[-1]} vs {m['probability']}")
    return fail


def main():
    program, source = os.path.abspath(sys.argv[1]), sys.argv[2]
    passed = failed = 0
    if html5_errors("<!DOCTYPE html><html lang=en><title>t</title></html>") is None:
        print("note: no html5lib here, the pages are checked by html.parser alone")
    for name, text, options in CASES:
        fail = check_case(program, source, name, text, options)
        title = " ".join([name] + options)
        if fail:
            failed += 1
            print(f"FAILED {title}: {len(fail)} differences")
            for message in fail[:20]:
                print("   ", message)
        else:
            passed += 1
            print(f"ok     {title}")
    for name, file_name, text, options, coding in EFFECT_CASES:
        fail = check_effects_case(program, source, name, file_name, text, options, coding)
        title = " ".join([file_name, "--json"] + options)
        if fail:
            failed += 1
            print(f"FAILED {title}: {len(fail)} differences")
            for message in fail[:20]:
                print("   ", message)
        else:
            passed += 1
            print(f"ok     {title}")
    fail = check_effects_space_case(program, source)
    if fail:
        failed += 1
        print(f"FAILED castfatigue12 --recommended: {len(fail)} differences")
        for message in fail[:20]:
            print("   ", message)
    else:
        passed += 1
        print("ok     castfatigue12 --recommended")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
