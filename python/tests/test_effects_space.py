"""The effects space from the module is the program's: for the same design
and options, to_json() equals what `bayescreen FILE ... --json` writes, the
effects_space accessor holds that document's section, and a refused option
carries the program's message."""

import json

import numpy as np
import pytest

import bayescreen
from conftest import SOURCE_DIR, assert_same_document, read_example, run_program

CASTFATIGUE12 = SOURCE_DIR / "examples" / "castfatigue12.txt"

# A 2^(4-1) design, D = ABC: its two-factor interactions are aliased in pairs.
SMALL_ROWS = [[a, b, c, a * b * c] for c in (-1, 1) for b in (-1, 1) for a in (-1, 1)]
SMALL_Y = [14.1, 16.8, 13.2, 19.9, 14.6, 17.0, 12.9, 21.3]


def write_small(directory):
    lines = ["small half fraction", f"Nrows={len(SMALL_ROWS)} Ncols=4", "Data"]
    lines += [f"{k + 1}. " + " ".join(map(str, row)) + f" {y}" for k, (row, y) in enumerate(zip(SMALL_ROWS, SMALL_Y))]
    path = directory / "small8.txt"
    path.write_text("\n".join(lines) + "\n")
    return path


def castfatigue12(_directory, **keywords):
    heading, labels, x, y = read_example(CASTFATIGUE12)
    return CASTFATIGUE12, bayescreen.analyse(x, y, labels, heading=heading, **keywords)


def small(directory, **keywords):
    return write_small(directory), bayescreen.analyse(np.array(SMALL_ROWS), np.array(SMALL_Y),
                                                      heading="small half fraction", **keywords)


# (design, the program's words, the module's keywords)
CASES = [
    (castfatigue12, ["--recommended"], dict(recommended=True)),
    (castfatigue12, ["--recommended", "--threads=1"], dict(recommended=True, threads=1)),
    (small, ["--model-space=effects", "--heredity=weak", "--order=2"],
     dict(model_space="effects", heredity="weak", order=2)),
    (small, ["--model-space=effects", "--heredity-probs=0.5,0.2,0.05", "--pi-prior=beta:2:3",
             "--gamma-prior=1:4:4"],
     dict(model_space="effects", heredity_probs=(0.5, 0.2, 0.05), pi_prior=(2, 3), gamma_prior=(1, 4, 4))),
    (castfatigue12, ["--model-space=effects", "--search=mcmc", "--iterations=3000", "--random-seed=5", "--chains=3"],
     dict(model_space="effects", search="mcmc", iterations=3000, random_seed=5, chains=3)),
]


@pytest.mark.parametrize("design,words,keywords", CASES)
def test_effects_space_equals_the_programs(program, tmp_path, design, words, keywords):
    source = tmp_path / "source"
    source.mkdir()
    path, result = design(source, **keywords)
    status, _, want = run_program(program, words + ["--json"], tmp_path, path)
    assert status == 0 and want is not None
    got = json.loads(result.to_json())
    # The module writes no files: the program's --json is no option of its analysis.
    del got["files"], want["files"]
    del want["settings"]["extension_options"]["json"]
    want["settings"]["extension_words"].remove("--json")
    # A search repeats exactly for its seed, but not its time.
    if want["effects_space"]["search"] is not None:
        del got["effects_space"]["search"]["seconds"], want["effects_space"]["search"]["seconds"]
    assert_same_document(got, want)

    section = want["effects_space"]
    space = result.effects_space
    effects = space["effects"]
    for key in ("name", "label", "order", "probability"):
        assert_same_document(list(effects[key]), [e[key] for e in section["effects"]], f"effects.{key}")
    for key in ("name", "probability"):
        assert_same_document(list(space["top_models"][key]), [m[key] for m in section["top_models"]],
                             f"top_models.{key}")
    assert_same_document(space["no_effect_active"], section["no_effect_active"])
    if section["search"] is not None:
        for key in ("se", "frequency", "frequency_se", "renormalised"):
            assert_same_document(list(effects[key]), [e[key] for e in section["effects"]], f"effects.{key}")
        assert space["search"]["iterations"] == section["search"]["iterations"]
    assert space["alias_groups"] == section["alias_groups"]
    # The factors' probabilities: posterior probability alone.
    rows = want["factor_weights"]["factors"]
    assert list(result.factors["letter"]) == [r["letter"] for r in rows]
    assert_same_document(list(result.factors["probability"]), [r["postprob"]["share"] for r in rows])


# (the program's words, the module's keywords)
REFUSALS = [
    (["--heredity=weak"], dict(heredity="weak")),
    (["--model-space=effects", "--max-factors=2"], dict(model_space="effects", max_factors=2)),
    (["--model-space=both"], dict(model_space="both")),
    (["--recommended", "--pi-prior=beta:0:1"], dict(recommended=True, pi_prior="beta:0:1")),
    (["--model-space=effects", "--chains=2"], dict(model_space="effects", chains=2)),
    (["--search=mcmc"], dict(search="mcmc")),
    (["--model-space=effects", "--search=mcmc", "--keep-aliased"],
     dict(model_space="effects", search="mcmc", keep_aliased=True)),
]


@pytest.mark.parametrize("words,keywords", REFUSALS)
def test_refusals_carry_the_programs_message(program, tmp_path, words, keywords):
    status, stdout, _ = run_program(program, words, tmp_path, CASTFATIGUE12)
    assert status == 1
    with pytest.raises(ValueError) as raised:
        castfatigue12(tmp_path, **keywords)
    message = str(raised.value)
    assert message and message == message.strip()
    assert message in stdout


def test_factors_space_has_no_effects_space():
    _, result = castfatigue12(None)
    assert result.effects_space is None
