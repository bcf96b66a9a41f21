"""A DataFrame in natural units and the array of its coded levels give the
same analysis; the factor and response columns are taken by name."""

import json

import numpy as np
import pandas as pd
import pytest

import bayescreen
from conftest import SOURCE_DIR, read_example

HEADING, LABELS, X, Y = read_example(SOURCE_DIR / "examples" / "reactor12.txt")

# Natural units of each factor: the value coded -1, the one coded +1.
UNITS = {"FeedRate": (10, 15), "Catalyst": (1.0, 2.0), "Agitation": ("slow", "fast"),
         "Temperature": (140, 180), "Concentration": ("3%", "6%")}


def natural_frame():
    frame = pd.DataFrame({"reacted": Y})
    for k, (name, (low, high)) in enumerate(UNITS.items()):
        frame.insert(k, name, [low if v < 0 else high for v in X[:, k]])
    return frame


def without_input(result):
    """The JSON document without what tells a DataFrame from an array: the
    files, and the coding table that only a DataFrame's design has."""
    document = json.loads(result.to_json())
    del document["files"], document["coding"]
    return document


def test_natural_units_agree_with_the_coded_array():
    """Numbers compare as numbers (the lower -1); texts are coded in order of
    first appearance, so the text columns start at their +1 or -1 value
    according to the first run."""
    frame = natural_frame()
    coded = X.copy()
    for k, name in enumerate(UNITS):
        if isinstance(UNITS[name][0], str) and X[0, k] > 0:
            coded[:, k] = -coded[:, k]  # the first value seen is coded -1
    from_frame = bayescreen.analyse(frame, "reacted", heading=HEADING)
    from_array = bayescreen.analyse(coded, Y, list(UNITS), heading=HEADING)
    assert without_input(from_frame) == without_input(from_array)
    pd.testing.assert_frame_equal(from_frame.factors, from_array.factors)
    pd.testing.assert_frame_equal(from_frame.models, from_array.models)


def test_coded_frame_equals_the_array_and_the_program():
    frame = pd.DataFrame(X, columns=LABELS)
    frame["y"] = Y
    from_frame = bayescreen.analyse(frame, heading=HEADING)  # the last column is the response
    from_array = bayescreen.analyse(X, Y, LABELS, heading=HEADING)
    assert without_input(from_frame) == without_input(from_array)


@pytest.mark.parametrize("order", [[4, 1, 3], [0, 2]])
def test_factors_by_name_choose_and_order_the_columns(order):
    frame = natural_frame()
    names = [list(UNITS)[k] for k in order]
    chosen = bayescreen.analyse(frame, "reacted", names)
    assert list(chosen.factors["name"]) == names
    numeric = frame[names].apply(lambda c: c.map({v: i for i, v in enumerate(dict.fromkeys(c))})
                                 if c.dtype == object else c)
    coded = np.where(numeric.to_numpy() == numeric.to_numpy().max(axis=0), 1, -1)
    alone = bayescreen.analyse(coded, Y, names)
    assert list(chosen.factors["probability"]) == pytest.approx(list(alone.factors["probability"]), rel=1e-14)


def test_factors_without_a_response_take_the_last_column():
    frame = natural_frame()
    named = bayescreen.analyse(frame, "reacted", ["Catalyst", "Temperature"])
    by_default = bayescreen.analyse(frame, factors=["Catalyst", "Temperature"])
    pd.testing.assert_frame_equal(named.models, by_default.models)


def test_centre_points_are_coded_zero():
    frame = natural_frame().iloc[:, [0, 1, 3, 5]]
    centre = pd.DataFrame({"FeedRate": [12.5, 12.5], "Catalyst": [1.5, 1.5], "Temperature": [160, 160],
                           "reacted": [70.0, 72.0]})
    with_centre = pd.concat([frame, centre], ignore_index=True)
    coded = np.vstack([X[:, [0, 1, 3]], np.zeros((2, 3), dtype=int)])
    got = bayescreen.analyse(with_centre, "reacted")
    want = bayescreen.analyse(coded, with_centre["reacted"], ["FeedRate", "Catalyst", "Temperature"])
    pd.testing.assert_frame_equal(got.models, want.models)


def test_lists_and_integer_arrays_are_accepted():
    a = bayescreen.analyse(X.tolist(), list(Y))
    b = bayescreen.analyse(X.astype(np.int8), Y.astype(np.float32).astype(float))
    pd.testing.assert_frame_equal(a.models, b.models)
    assert list(a.factors["name"]) == ["A", "B", "C", "D", "E"]


def test_repr_names_the_most_probable_factors():
    text = repr(bayescreen.analyse(X, Y, LABELS))
    lines = text.splitlines()
    assert lines[0] == "<bayescreen.Analysis: 12 runs, 5 factors screened, 25 models>"
    assert lines[2].split()[:2] == ["Catalyst", "B"]  # the most probable factor first
    assert "best models: BDE" in lines[-1]


def test_columns_past_z_get_two_letter_codes():
    rng = np.random.default_rng(3)
    x = rng.choice([-1, 1], size=(32, 28))
    y = 50 + 4 * x[:, 0] + 3 * x[:, 26] + rng.normal(size=32)
    result = bayescreen.analyse(x, y, max_factors=2, order=1)
    assert list(result.factors["letter"][24:]) == ["Z", "AA", "AB", "AC"]
    assert "A.AB" in set(result.models["active"])
    assert not any(set(code) & set("[\\]^_`") for code in result.models["active"])
