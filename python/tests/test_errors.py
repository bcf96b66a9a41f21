"""Every refusal raises the right exception with the program's message:
the module's text is checked against the program's own output for the same
input, so that the two cannot drift apart. Refusals the program has no
counterpart of (array shapes, DataFrame columns) are checked by their text."""

import os
import subprocess
import sys
import textwrap

import numpy as np
import pandas as pd
import pytest

import bayescreen
from conftest import SOURCE_DIR, child_env, read_example, run_program

REACTOR12 = SOURCE_DIR / "examples" / "reactor12.txt"

# (the program's words, the module's keywords, follow-up keywords or None)
OPTION_CASES = [
    (["--max-factors=0"], dict(max_factors=0), None),
    (["--max-factors=9"], dict(max_factors=9), None),
    (["--order=62"], dict(order=62), None),
    (["--blocks=5"], dict(blocks=5), None),
    (["--blocks=61"], dict(blocks=61), None),
    (["--gamma-int=0"], dict(gamma_int=0), None),
    (["--gamma-int=-1.5"], dict(gamma_int=-1.5), None),
    (["--max-models=0"], dict(max_models=0), None),
    (["--max-models=24"], dict(max_models=24), None),  # TOO MANY MODELS, from the engine
    (["--gamma-grid=5:1:3"], dict(gamma_grid="5:1:3"), None),
    (["--gamma-grid=0:1:3"], dict(gamma_grid=(0, 1, 3)), None),
    (["--pi-grid=0.1:0.5:101"], dict(pi_grid="0.1:0.5:101"), None),
    (["--pi-grid=0.1:1:3"], dict(pi_grid="0.1:1:3"), None),
    (["-P1.5"], dict(pi=1.5), None),
    (["-P0"], dict(pi=0.0), None),
    (["-G-2"], dict(gamma=-2.0), None),
    (["--follow-up=65"], {}, dict(n=65)),
    (["--follow-up=2", "--md-models=1"], {}, dict(n=2, md_models=1)),
    (["--follow-up=2", "--starts=0"], {}, dict(n=2, starts=0)),
    (["--follow-up=2", "--top=101"], {}, dict(n=2, top=101)),
    (["--follow-up=2", "--random-seed=-1"], {}, dict(n=2, random_seed=-1)),
]


def reactor12(**keywords):
    heading, labels, x, y = read_example(REACTOR12)
    return bayescreen.analyse(x, y, labels, heading=heading, **keywords)


@pytest.mark.parametrize("words,keywords,follow", OPTION_CASES)
def test_option_refusals_carry_the_programs_message(program, tmp_path, words, keywords, follow):
    status, stdout, _ = run_program(program, words, tmp_path, REACTOR12)
    assert status == 1
    with pytest.raises(ValueError) as raised:
        result = reactor12(**keywords)
        if follow is not None:
            n = follow.pop("n")
            result.follow_up(n, **follow)
    message = str(raised.value)
    assert message and message == message.strip()
    assert message in stdout


def write_design(path, rows, y, labels=""):
    lines = ["heading", f"Nrows={len(rows)} Ncols={len(rows[0])}"]
    if labels:
        lines.append("Labels " + labels)
    lines.append("Data")
    lines += [f"{k + 1}. " + " ".join(map(str, row)) + f" {v}" for k, (row, v) in enumerate(zip(rows, y))]
    path.write_text("\n".join(lines) + "\n")
    return path


# Designs the program refuses: (rows, y, the module's keywords, follow-up runs or None)
DESIGN_CASES = [
    ([[1, -1], [-1, 1], [1, 1]], [5, 5, 5], {}, None),                      # constant response
    ([[-1, 1], [1, 1], [1, 1], [-1, 1]], [1, 2, 4, 3], {}, 1),              # one model with a posterior
    ([[-1], [1], [1]], [1, 2, 4], {}, 1),                                   # one model in the set
    ([[-1, 1]], [3.0], {}, 1),                                              # one run
    ([[1] * 62, [-1] * 62], [1, 2], {}, None),                              # too many columns
]


@pytest.mark.parametrize("rows,y,keywords,follow", DESIGN_CASES)
def test_design_refusals_carry_the_programs_message(program, tmp_path, rows, y, keywords, follow):
    (tmp_path / "in").mkdir()
    path = write_design(tmp_path / "in" / "d.txt", rows, y)
    words = [f"--follow-up={follow}"] if follow else []
    status, stdout, _ = run_program(program, words, tmp_path, path)
    assert status == 1
    with pytest.raises(ValueError) as raised:
        result = bayescreen.analyse(np.array(rows), y, **keywords)
        if follow:
            result.follow_up(follow)
    assert str(raised.value) in stdout


def test_candidate_file_errors_name_the_line(program, tmp_path):
    bad = tmp_path / "cand.txt"
    bad.write_text("candidates\nNrows=2 Ncols=4\nData\n1. 1 1 1 1\n2. 1 1 1 1\n")
    status, stdout, _ = run_program(program, ["--follow-up=2", f"--candidates={bad}"], tmp_path, REACTOR12)
    assert status == 1
    with pytest.raises(ValueError) as raised:
        reactor12().follow_up(2, bad)
    first = str(raised.value).splitlines()[0]
    assert first in stdout
    with pytest.raises(ValueError, match="CANNOT OPEN the file  `/no/such/file'"):
        reactor12().follow_up(2, "/no/such/file")


# Inputs only the module takes: (data, response, factors, the message's text)
frame = pd.DataFrame({"A": [1, -1, 1, -1], "B": [1, 1, -1, -1], "y": [1.0, 2.0, 3.0, 5.0]})
MODULE_CASES = [
    (np.ones(4), [1, 2, 3, 4], None, "the design must be a 2-D array (runs x factors)"),
    (np.ones((4, 2)), np.ones((4, 1)), None, "the response must be a 1-D array, one value per run"),
    (np.ones((4, 2)), [1, 2, 3], None, "the design has 4 runs but the response 3 values"),
    (np.array([[1, 0.5], [1, -1]]), [1, 2], None, "design entry 0.5 (run 1, column 2) is not a whole number"),
    (np.array([[1, np.nan], [1, -1]]), [1, 2], None, "design entry nan (run 1, column 2) is not a whole number"),
    (np.array([[1, 1], [1, -1]]), [1, np.inf], None, "MISSING RESPONSE: run 2 has no finite response !"),
    (np.ones((4, 2)), None, None, "an array design needs the response vector as its second argument"),
    (np.ones((4, 2)), [1, 2, 3, 4], ["A"], "1 factor names for 2 design columns"),
    (np.ones((0, 2)), [], None, "Nrows=0  Ncols=2  Nvars=2:  Too few!"),
    (frame, "z", None, "BAD TABLE `(DataFrame)': no column is named `z' (the response); the columns are "
                       "`A', `B', `y' !"),
    (frame, "y", ["A", "C"], "no column named 'C' in the DataFrame"),
]


@pytest.mark.parametrize("data,response,factors,message", MODULE_CASES)
def test_module_refusals(data, response, factors, message):
    with pytest.raises(ValueError) as raised:
        bayescreen.analyse(data, response, factors)
    assert str(raised.value) == message


def test_table_reader_refusals_reach_python():
    bad = pd.DataFrame({"A": ["lo", "hi", "mid", "lo"], "y": [1.0, 2.0, 3.0, 4.0]})
    with pytest.raises(ValueError, match="A"):
        bayescreen.analyse(bad)


def test_refused_memory_is_a_memory_error():
    """A model set larger than the address space allows: the engine's
    refusal becomes MemoryError, and the interpreter goes on."""
    script = textwrap.dedent("""
        import resource, numpy as np, bayescreen
        resource.setrlimit(resource.RLIMIT_AS, (700 << 20, 700 << 20))
        rng = np.random.default_rng(1)
        x = rng.choice([-1, 1], size=(64, 61))
        try:
            bayescreen.analyse(x, rng.normal(size=64), max_factors=6, max_models=2**31 - 9)
        except MemoryError as e:
            print("MemoryError:", e)
        r = bayescreen.analyse(x[:, :4], rng.normal(size=64))
        print("after:", len(r.models))
    """)
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=300,
                          env=child_env())
    assert done.returncode == 0, done.stderr
    assert "MemoryError:" in done.stdout and "after: 14" in done.stdout
    assert done.stderr == ""
