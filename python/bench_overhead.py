"""The Python module's calling overhead (make bench): the reactor12 example
analysed from Python against the engine's own time for it, which the
engine_time program measures. Fails when the Python call costs more than
twice the engine's time.

    python3 python/bench_overhead.py <build dir> <source dir>
"""

import pathlib
import subprocess
import sys
import time

import numpy as np


def read_design(path):
    lines = [l.strip() for l in pathlib.Path(path).read_text().splitlines()]
    lines = [l for l in lines if l and l[0] not in "#;%"]
    labels = [w.split("=", 1)[1] for w in lines[2].split()[1:]] if lines[2].startswith("Label") else []
    start = lines.index(next(l for l in lines if l.startswith("Data"))) + 1
    rows = np.array([[float(w) for w in l.split()[1:]] for l in lines[start:]])
    return lines[0], labels, rows[:, :-1], rows[:, -1]


def median_seconds(call, reps, batch=20):
    times = []
    for _ in range(0, reps, batch):
        start = time.perf_counter()
        for _ in range(batch):
            call()
        times.append((time.perf_counter() - start) / batch)
    return sorted(times)[len(times) // 2]


def main():
    build, source = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    sys.path.insert(0, str(build / "python"))
    import bayescreen

    design = source / "examples" / "reactor12.txt"
    reps = 4000
    engine = float(subprocess.run([str(build / "engine_time"), str(design), str(reps)], check=True,
                                  capture_output=True, text=True).stdout)
    heading, labels, x, y = read_design(design)
    call = median_seconds(lambda: bayescreen.analyse(x, y, labels, heading=heading), reps)
    tables = median_seconds(lambda: bayescreen.analyse(x, y, labels, heading=heading).factors, reps // 4)
    ratio = call / engine
    print(f"reactor12 from Python: engine {engine * 1e6:.1f} us, bayescreen.analyse {call * 1e6:.1f} us "
          f"({ratio:.2f}x; at most 2x), with the .factors DataFrame {tables * 1e6:.1f} us")
    return 0 if ratio <= 2.0 else 1


if __name__ == "__main__":
    sys.exit(main())
