"""The module's results are the program's: for the bundled examples under
several option sets, the JSON document and the factor and model tables
equal what `bayescreen FILE --json` writes."""

import math
import pathlib

import pytest

import bayescreen
from conftest import EXAMPLES, SOURCE_DIR, assert_same_document, read_example, run_program

# (example, the program's words, the module's keywords)
CASES = [(path.name, [], {}) for path in EXAMPLES] + [
    ("injection16.txt", ["--null", "--max-factors=4", "--keep-aliased", "-G2"],
     dict(null=True, max_factors=4, keep_aliased=True, gamma=2)),
    ("reactor12.txt", ["--gamma-grid=0.5:5:10", "--pi-grid=0.1:0.5:5"],
     dict(gamma_grid="0.5:5:10", pi_grid=(0.1, 0.5, 5))),
    ("reactor.txt", ["--order=1", "--max-factors=4", "-P0.4"], dict(order=1, max_factors=4, pi=0.4)),
    ("reactor12.txt", ["--blocks=1", "--gamma-int=1.5", "--null"], dict(blocks=1, gamma_int=1.5, null=True)),
    ("injection16.txt", ["-A0.05", "--max-models=100"], dict(alpha=0.05, max_models=100)),
]


def analyse_example(name, keywords):
    heading, labels, x, y = read_example(SOURCE_DIR / "examples" / name)
    names = labels + [chr(c) for c in range(ord("A"), ord("Z") + 1) if c != ord("I")][len(labels):x.shape[1]]
    return bayescreen.analyse(x, y, names[:x.shape[1]] if labels else None, heading=heading, **keywords)


@pytest.mark.parametrize("name,words,keywords", CASES)
def test_json_document_equals_the_programs(program, tmp_path, name, words, keywords):
    status, _, want = run_program(program, words + ["--json"], tmp_path, SOURCE_DIR / "examples" / name)
    assert status == 0 and want is not None
    got = __import__("json").loads(analyse_example(name, keywords).to_json())
    # The module writes no files: the program's --json is no option of its analysis.
    del got["files"], want["files"]
    del want["settings"]["extension_options"]["json"]
    want["settings"]["extension_words"].remove("--json")
    assert_same_document(got, want)


@pytest.mark.parametrize("name,words,keywords", CASES)
def test_tables_equal_the_programs_document(program, tmp_path, name, words, keywords):
    status, _, want = run_program(program, words + ["--json"], tmp_path, SOURCE_DIR / "examples" / name)
    assert status == 0
    result = analyse_example(name, keywords)

    factors = result.factors
    rows = want["factor_weights"]["factors"]
    assert list(factors["letter"]) == [r["letter"] for r in rows]
    assert list(factors["name"]) == [r["label"] for r in rows]
    for column, key in [("probability", "postprob"), ("fstat", "fstat"), ("likelihood", "likelihood"),
                        ("inv_rmse2", "inv_rmse2"), ("inv_rmsec2", "inv_rmsec2")]:
        for got, row in zip(factors[column], rows):
            w = row[key]["share"]
            assert (math.isnan(got) if w is None else math.isclose(got, w, rel_tol=1e-12, abs_tol=1e-12))

    models = result.models.set_index("number")
    assert len(models) == want["model_set"]["count"]
    for m in want["models"]:
        row = models.loc[m["number"]]
        assert row["name"] == m["name"] and row["size"] == m["n_factors"] and row["valid"] == m["valid"]
        assert row["active"] == "".join(m["active"])
        assert row["alias_group"] == (m["alias_group"] or 0)
        for column, key in [("posterior", "postprob"), ("adjrsq", "adjrsq"), ("rmse", "rmse"), ("fstat", "fstat"),
                            ("loglik", "loglik"), ("likelihood", "likelihood"), ("rmsec", "rmsec"),
                            ("log10_bval", "log10_bval")]:
            w = m[key]
            assert (math.isnan(row[column]) if w is None
                    else math.isclose(row[column], w, rel_tol=1e-12, abs_tol=1e-12)), (m["name"], column)
    # Most probable first.
    posts = list(result.models["posterior"])
    assert posts == sorted(posts, reverse=True)

    grid = result.prior_grid()
    if want["prior_grid"] is None:
        assert grid is None
    else:
        points = want["prior_grid"]["points"]
        assert len(grid) == len(points)
        for (_, row), point in zip(grid.iterrows(), points):
            assert math.isclose(row["gamma"], point["gamma"]) and math.isclose(row["pi"], point["pi"])
            assert math.isclose(row["support"], point["support"], rel_tol=1e-12, abs_tol=1e-12)
            for letter, p in point["active"].items():
                name = factors.loc[factors["letter"] == letter, "name"].iloc[0]
                assert math.isclose(row[name], p, rel_tol=1e-12, abs_tol=1e-12)


def test_prior_grid_after_the_analysis_equals_the_programs(program, tmp_path):
    """A grid asked of a finished analysis comes from the same fits as one
    asked on the command line."""
    status, _, want = run_program(program, ["--gamma-grid=1:4:4", "--json"], tmp_path,
                                  SOURCE_DIR / "examples" / "reactor12.txt")
    assert status == 0
    grid = analyse_example("reactor12.txt", {}).prior_grid(gamma_grid=(1, 4, 4))
    assert [p["support"] for p in want["prior_grid"]["points"]] == pytest.approx(list(grid["support"]), rel=1e-12)


@pytest.mark.parametrize("words,keywords", [
    (["--follow-up=4", "--md-models=5"], dict(n=4, md_models=5)),
    (["--follow-up=2", "--starts=3", "--top=2", "--random-seed=7", "--md-models=20"],
     dict(n=2, starts=3, top=2, random_seed=7, md_models=20)),
])
def test_follow_up_equals_the_programs(program, tmp_path, words, keywords):
    status, _, want = run_program(program, ["--null", "--max-factors=4", "--keep-aliased", "-G2"] + words + ["--json"],
                                  tmp_path, SOURCE_DIR / "examples" / "injection16.txt")
    assert status == 0
    result = analyse_example("injection16.txt", dict(null=True, max_factors=4, keep_aliased=True, gamma=2))
    n = keywords.pop("n")
    got = result.follow_up(n, **keywords)
    w = want["follow_up"]
    assert got.exhaustive == w["search"]["exhaustive"] and got.evaluated == w["search"]["evaluated"]
    assert list(got.models["number"]) == [m["number"] for m in w["models"]]
    assert list(got.models["s2"]) == pytest.approx([m["s2"] for m in w["models"]], rel=1e-12)
    assert list(got.designs["md"]) == pytest.approx([d["md"] for d in w["designs"]], rel=1e-12)
    assert [list(c) for c in got.designs["candidates"]] == [d["candidates"] for d in w["designs"]]
    assert list(got.runs["candidate"]) == [r["candidate"] for r in w["best_design"]]
    for k, shown in enumerate(w["candidates"]["columns"]):
        assert list(got.runs[shown["label"]]) == [r["levels"][k] for r in w["best_design"]]
