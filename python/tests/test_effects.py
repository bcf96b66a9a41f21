"""The effect estimates, Lenth's figures and a table's coding of an analysis
are the program's: for the bundled examples and for tables in natural units
they equal the effects, lenth and coding sections of `bayescreen FILE
--json`."""

import math
import shutil

import pandas as pd
import pytest

import bayescreen
from conftest import EXAMPLES, SOURCE_DIR, assert_same_document, read_example, run_program

EFFECT_KEYS = ["code", "name", "order", "mean", "sd", "prob_positive", "prob_in_model", "least_squares"]

_, _, REACTOR_X, REACTOR_Y = read_example(SOURCE_DIR / "examples" / "reactor.txt")
# Natural units (value coded -1, value coded +1) of the reactor's factors;
# Catalyst is a text column, so it is coded in order of first appearance.
REACTOR_UNITS = [("Feed rate (l/min)", 10, 15), ("Catalyst", "old", "new"), ("Agitation (rpm)", 100, 120),
                 ("Temperature (C)", 140, 180), ("Concentration (%)", 3, 6)]


def reactor_csv():
    """The reactor experiment as a table in natural units (header row quoted
    where it holds a comma-free name with spaces, as a spreadsheet writes it)."""
    rows = [",".join(f'"{name}"' for name, _, _ in REACTOR_UNITS) + ',"Reacted (%)"']
    for levels, y in zip(REACTOR_X, REACTOR_Y):
        cells = [str(low if v < 0 else high) for (_, low, high), v in zip(REACTOR_UNITS, levels)]
        rows.append(",".join(cells + [f"{y:g}"]))
    return "\n".join(rows) + "\n"


def centred_csv():
    """Eight runs of a 2^3 factorial in natural units and two centre runs
    (temp written as pandas writes a float column, so that the DataFrame's
    text of its values is the file's)."""
    rows = ["time,temp,speed,yield"]
    for k in range(8):
        rows.append(f"{[10, 20][k & 1]},{[1.5, 2.5][k >> 1 & 1]},{[200, 300][k >> 2]},{[51, 58, 49, 63, 52, 60, 47, 66][k]}")
    rows += ["15,2.0,250,55.5", "15,2.0,250,57.0"]
    return "\n".join(rows) + "\n"


def by_array(name):
    """A bundled example given to the module as arrays of its coded levels."""
    heading, labels, x, y = read_example(SOURCE_DIR / "examples" / name)
    return bayescreen.analyse(x, y, labels or None, heading=heading)


# (the program's input file, its text or None for a bundled example, the module's analysis)
CASES = [(path.name, None, lambda name: by_array(name)) for path in EXAMPLES] + [
    ("reactor.csv", reactor_csv(), lambda path: bayescreen.analyse(pd.read_csv(path))),
    ("centred.csv", centred_csv(), lambda path: bayescreen.analyse(pd.read_csv(path), "yield")),
]


def rows_of(frame):
    """A DataFrame's rows as dictionaries in the JSON's terms: NaN as null."""
    def value(v):
        if isinstance(v, float) and math.isnan(v):
            return None
        return v.item() if hasattr(v, "item") else v
    return [{key: value(v) for key, v in row.items()} for row in frame.to_dict("records")]


@pytest.mark.parametrize("name,text,analyse", CASES)
def test_effects_lenth_and_coding_equal_the_programs(program, tmp_path, name, text, analyse):
    path = tmp_path / name
    if text is None:
        shutil.copy(SOURCE_DIR / "examples" / name, path)
    else:
        path.write_text(text)
    status, _, _ = run_program(program, [name, "--json=doc.json"], tmp_path)
    assert status == 0
    want = __import__("json").loads((tmp_path / "doc.json").read_text())
    result = analyse(name if text is None else path)

    assert list(result.effects.columns) == EFFECT_KEYS
    assert_same_document(rows_of(result.effects),
                         [{key: e[key] for key in EFFECT_KEYS} for e in want["effects"]["effects"]])

    if want["lenth"]["applies"]:
        assert_same_document(result.lenth, want["lenth"])
    else:
        assert result.lenth is None

    if want["coding"] is None:
        assert result.coding is None
    else:
        keys = ["name", "low", "high", "centre"]
        assert list(result.coding.columns) == keys
        assert_same_document(rows_of(result.coding), [{k: f[k] for k in keys} for f in want["coding"]["factors"]])
