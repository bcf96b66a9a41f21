"""The engine as a library inside one interpreter: threads at once, many
analyses in a loop, errors that leave the interpreter going."""

import os
import subprocess
import sys
import textwrap
import threading

import numpy as np

import bayescreen
from conftest import SOURCE_DIR, child_env, read_example

_, LABELS, X12, Y12 = read_example(SOURCE_DIR / "examples" / "injection16.txt")


def designs():
    """Two different analyses of some weight: the injection design under a
    large model space, and a random 24-run design."""
    rng = np.random.default_rng(7)
    x = rng.choice([-1, 1], size=(24, 10))
    y = x[:, 0] * 2 + x[:, 3] - x[:, 0] * x[:, 3] + rng.normal(size=24)
    return [(X12, Y12, dict(null=True, max_factors=4, keep_aliased=True)), (x, y, dict(max_factors=4))]


def test_two_threads_at_once_give_the_results_of_each_alone():
    cases = designs()
    alone = [bayescreen.analyse(x, y, **k).to_json() for x, y, k in cases]
    results = [[] for _ in cases]
    barrier = threading.Barrier(len(cases))

    def work(i):
        x, y, k = cases[i]
        barrier.wait()
        for _ in range(5):
            results[i].append(bayescreen.analyse(x, y, **k).to_json())

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(cases))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for i, got in enumerate(results):
        assert got == [alone[i]] * 5


def test_the_analysis_releases_the_interpreter():
    """While one thread analyses, another runs Python code."""
    x, y, k = designs()[0]
    ticks = []
    done = threading.Event()

    def ticker():
        while not done.is_set():
            ticks.append(1)

    t = threading.Thread(target=ticker)
    t.start()
    try:
        for _ in range(3):
            bayescreen.analyse(x, y, **k)
    finally:
        done.set()
        t.join()
    assert len(ticks) > 1000


def rss_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def test_a_thousand_analyses_do_not_grow_the_process():
    rng = np.random.default_rng(3)
    x = rng.choice([-1, 1], size=(12, 6))

    def run(n):
        for k in range(n):
            y = rng.normal(size=12)
            result = bayescreen.analyse(x, y, null=k % 2 == 0)
            result.factors, result.models  # the tables too
            try:
                bayescreen.analyse(x, np.full(12, 1.0))
            except ValueError:
                pass

    run(100)  # the interpreter's and the allocator's own caches
    before = rss_bytes()
    run(1000)
    growth = rss_bytes() - before
    assert growth < 4 << 20, f"the process grew by {growth >> 10} KiB"


def test_errors_inside_the_engine_leave_no_places_behind():
    """An error thrown inside the engine's places is cut back: a run ends
    when the place stack passes 100 entries, so 300 errors in a row would end
    the interpreter if any were left."""
    script = textwrap.dedent("""
        import numpy as np, bayescreen
        x, y = np.array([[-1, 1], [1, 1], [1, 1], [-1, 1]]), [1.0, 2.0, 4.0, 3.0]
        result = bayescreen.analyse(x, y)
        for _ in range(300):
            try:
                result.follow_up(1)
            except ValueError as e:
                message = str(e)
        print(message.split(":")[0], len(bayescreen.analyse(x, y).models))
    """)
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120,
                          env=child_env())
    assert done.returncode == 0, done.stdout + done.stderr
    assert done.stdout == "NO FOLLOW-UP RUNS 3\n"
