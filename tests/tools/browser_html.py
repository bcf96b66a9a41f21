#!/usr/bin/env python3
"""Opens the HTML pages of --html in a real browser: headless Chromium
(Debian package chromium, when installed; otherwise the test says so and
exits 77, which CTest counts as skipped).

    browser_html.py BAYESCREEN SOURCE_DIR

For each page: a screenshot at a desktop and at a phone width, each of
which must not be blank (more than one colour, and ink on a good part of
it); no console message while the page loads and its script runs (the
logging of Chromium on stderr; a page with a deliberate error shows that
such a message is caught); and the page's DOM after the script (--dump-dom)
holds the summary, every factor's name as text, and the sorting buttons
that the script adds, with no script element but the page's own.
Prints one line per page and "N passed, M failed".
"""
import html.parser
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

CHROMIUM = "/usr/bin/chromium"
SKIP = 77
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--hide-scrollbars", "--enable-logging=stderr", "--v=0"]


def chromium(args, url, tmp):
    """Runs Chromium on url with a fresh profile; (stdout, stderr)."""
    profile = tempfile.mkdtemp(prefix="profile-", dir=tmp)
    run = subprocess.run([CHROMIUM] + FLAGS + ["--user-data-dir=" + profile] + args + [url],
                         stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
    shutil.rmtree(profile, ignore_errors=True)
    return run.stdout, run.stderr


def console_messages(stderr):
    """The console messages and uncaught errors in Chromium's log."""
    return [line for line in stderr.split("\n") if ":CONSOLE" in line or "Uncaught" in line]


def png_pixels(path):
    """Width, height and the rows of RGB(A) tuples of an 8-bit,
    non-interlaced PNG (what Chromium writes), the PNG format's row filters
    undone."""
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    at, idat, header = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    width, height, depth, colour, _, _, interlace = header
    assert depth == 8 and colour in (2, 6) and interlace == 0, f"unexpected PNG format {header}"
    bpp = 3 if colour == 2 else 4
    raw, stride = zlib.decompress(idat), width * bpp
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = previous[i]
            c = previous[i - bpp] if i >= bpp else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        rows.append([tuple(line[i:i + 3]) for i in range(0, stride, bpp)])
        previous = line
    return width, height, rows


class Text(html.parser.HTMLParser):
    """The text of a document, the attributes of its elements by tag."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.text, self.tags = [], []

    def handle_starttag(self, tag, attrs):
        self.tags.append((tag, dict(attrs)))

    def handle_data(self, data):
        self.text.append(data)


class Failures(list):
    def check(self, ok, message):
        if not ok:
            self.append(message)
        return ok


def check_screenshot(path, fail, what):
    if not fail.check(os.path.exists(path), f"{what}: a screenshot"):
        return
    width, height, rows = png_pixels(path)
    colours, ink = set(), 0
    for row in rows[::4]:
        for pixel in row[::4]:
            colours.add(pixel)
            ink += pixel != (255, 255, 255)
    sampled = len(rows[::4]) * len(rows[0][::4])
    fail.check(len(colours) > 16, f"{what}: {len(colours)} colours, a blank page has one")
    fail.check(ink > sampled // 50, f"{what}: ink on {ink} of {sampled} sampled pixels")


def check_page(page, names, tmp, fail):
    url = "file://" + page
    for what, size in (("desktop", "1000,1600"), ("phone", "390,844")):
        shot = os.path.join(tmp, what + ".png")
        _, err = chromium(["--window-size=" + size, "--screenshot=" + shot], url, tmp)
        fail.check(not console_messages(err), f"{what}: console messages {console_messages(err)[:3]}")
        check_screenshot(shot, fail, what)
    dom, err = chromium(["--dump-dom"], url, tmp)
    fail.check(not console_messages(err), f"dump: console messages {console_messages(err)[:3]}")
    parser = Text()
    parser.feed(dom)
    text = "".join(parser.text)
    attrs = {tag: a for tag, a in parser.tags}
    fail.check(attrs.get("html", {}).get("data-sortable") == "ready", "the sorting script ran")
    fail.check(sum(tag == "button" for tag, _ in parser.tags) >= 5, "sorting buttons in the table headers")
    fail.check(sum(tag == "script" for tag, _ in parser.tags) == 1, "no script but the page's own")
    fail.check("Summary" in text and ("is active, with posterior probability" in text or "No factor active" in text),
               "the summary")
    for name in names:
        fail.check(name in text, f"the factor {name!r} as text")


def self_check(tmp):
    """A page with an error must show in the console log: else the check
    of the pages proves nothing."""
    page = os.path.join(tmp, "broken.html")
    with open(page, "w") as f:
        f.write('<!DOCTYPE html><html lang="en"><head><meta charset="utf-8"><title>t</title></head>'
                "<body><p>x</p><script>missingFunction();</script></body></html>")
    _, err = chromium(["--dump-dom"], "file://" + page, tmp)
    return bool(console_messages(err))


def main():
    if not os.path.exists(CHROMIUM):
        print(f"SKIPPED: {CHROMIUM} is not installed (Debian package chromium); the pages are not opened in a browser")
        return SKIP
    program, source = os.path.abspath(sys.argv[1]), sys.argv[2]
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    from check_html import labelled_design  # noqa: E402
    reactor = open(os.path.join(source, "examples", "reactor12.txt"), encoding="latin-1").read()
    cases = [
        ("reactor12", reactor, ["--null", "--gamma-grid=0.5:5:10", "--follow-up=2"],
         ["FeedRate", "Catalyst", "Agitation", "Temperature", "Concentration"]),
        ("labels", labelled_design(), ["--null"],
         ["<script>alert(1)</script>", "Salt&amp;Pepper", '"quoted"', "Plain"]),
    ]
    passed = failed = 0
    with tempfile.TemporaryDirectory(prefix="bsc-browser-") as tmp:
        if not self_check(tmp):
            print("FAILED: a page with an uncaught error left no console message in the log")
            print("0 passed, 1 failed")
            return 1
        for name, design, options, names in cases:
            fail = Failures()
            with open(os.path.join(tmp, name + ".txt"), "w", encoding="utf-8") as f:
                f.write(design)
            run = subprocess.run([program, name, "--html"] + options, cwd=tmp, stdin=subprocess.DEVNULL,
                                 capture_output=True)
            if fail.check(run.returncode == 0, f"status {run.returncode}"):
                check_page(os.path.join(tmp, name + ".html"), names, tmp, fail)
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
