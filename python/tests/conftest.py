"""Shared helpers of the module's tests: the built program, the bundled
examples read as arrays, and a comparison of JSON documents."""

import json
import math
import os
import pathlib
import shutil
import subprocess

import numpy as np
import pytest

SOURCE_DIR = pathlib.Path(os.environ.get("BAYESCREEN_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
# The example designs (not the logs that make demo leaves beside them).
EXAMPLES = sorted(p for p in (SOURCE_DIR / "examples").glob("*.txt") if not p.name.endswith(".out.txt"))


@pytest.fixture(scope="session")
def program():
    """The built bayescreen program (BAYESCREEN_BIN), whose --json the module must match."""
    path = os.environ.get("BAYESCREEN_BIN")
    if not path or not os.access(path, os.X_OK):
        pytest.skip("BAYESCREEN_BIN does not name the built program")
    return path


def read_example(path):
    """A design file read independently of the engine: heading, labels,
    levels and responses (the examples keep Pi and Gamma at their defaults)."""
    lines = [l.strip() for l in pathlib.Path(path).read_text().splitlines()]
    lines = [l for l in lines if l and l[0] not in "#;%"]
    heading, labels, rows = lines[0], [], []
    rest = lines[2:]
    if rest[0].startswith("Label"):
        labels = [w.split("=", 1)[1] for w in rest[0].split()[1:]]
        rest = rest[1:]
    assert rest[0].startswith("Data")
    for line in rest[1:]:
        words = line.split()
        rows.append([int(w) for w in words[1:-1]] + [float(words[-1])])
    data = np.array(rows)
    return heading, labels, data[:, :-1].astype(int), data[:, -1]


def run_program(program, args, tmp_path, design=None):
    """Runs the program in tmp_path on a copy of design with args; returns
    (exit status, standard output, the --json document or None)."""
    argv = [program]
    if design is not None:
        shutil.copy(design, tmp_path / pathlib.Path(design).name)
        argv.append(pathlib.Path(design).stem)
    argv += list(args)
    done = subprocess.run(argv, cwd=tmp_path, capture_output=True, text=True, timeout=120)
    document = None
    if design is not None:
        out = tmp_path / (pathlib.Path(design).stem + ".json")
        if out.exists():
            document = json.loads(out.read_text())
    return done.returncode, done.stdout, document


def assert_same_document(got, want, where="$", tol=1e-12):
    """Two JSON values are the same: equal structure and texts, numbers
    within tol (relative to the larger, absolute below 1)."""
    if isinstance(want, dict):
        assert isinstance(got, dict) and list(got) == list(want), f"{where}: keys {list(got)} != {list(want)}"
        for key in want:
            assert_same_document(got[key], want[key], f"{where}.{key}", tol)
    elif isinstance(want, list):
        assert isinstance(got, list) and len(got) == len(want), f"{where}: lengths differ"
        for k, (g, w) in enumerate(zip(got, want)):
            assert_same_document(g, w, f"{where}[{k}]", tol)
    elif isinstance(want, bool) or want is None or isinstance(want, str):
        assert got == want, f"{where}: {got!r} != {want!r}"
    else:
        assert isinstance(got, (int, float)) and not isinstance(got, bool), f"{where}: {got!r} is not a number"
        assert math.isclose(got, want, rel_tol=tol, abs_tol=tol), f"{where}: {got!r} != {want!r}"


def child_env():
    """The environment of a child interpreter that imports this bayescreen."""
    import bayescreen
    env = dict(os.environ)
    here = str(pathlib.Path(bayescreen.__file__).resolve().parents[1])
    env["PYTHONPATH"] = os.pathsep.join([here] + [p for p in env.get("PYTHONPATH", "").split(os.pathsep) if p])
    return env
