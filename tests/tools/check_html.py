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
  - the page of a run of 2^20 - 1 models stays under 2 MB.
Prints one line per case and "N passed, M failed".
"""
import html
import html.parser
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
    fail.check(len(figures) == (3 if any("grid" in o for o in options) else 2), "the figures")

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
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
