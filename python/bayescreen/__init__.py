"""Box-Meyer screening analysis of two-level designs, from pandas and numpy.

    import bayescreen
    result = bayescreen.analyse(X, y)          # X: runs x factors of -1/+1
    result.factors                             # each factor's probability of being active
    result.models                              # every model, most probable first

The analysis is the bayescreen program's engine, run in-process: the
posterior probability of every model of up to three factors (each with its
interactions) under the Box-Meyer prior, and from them each factor's
probability of being active. The keywords are the program's options:
``pi`` (-P), ``gamma`` (-G), ``alpha`` (-A) and the extension options
``--null``, ``--max-factors=K`` ... as ``null=True``, ``max_factors=K`` ...
Bad input raises ValueError with the program's message; a refused
allocation raises MemoryError.
"""

import math
import sys

import numpy as np

from . import _core

__all__ = ["analyse", "Analysis", "FollowUp"]

_DEFAULT_HEADING = "bayescreen analysis from Python"


def _grid_text(grid, name):
    """A grid keyword as the command line's LO:HI:N text (a text passes as it is)."""
    if grid is None or isinstance(grid, str):
        return grid
    try:
        lo, hi, n = grid
    except (TypeError, ValueError):
        raise ValueError(f"{name} must be the text LO:HI:N or a tuple (lo, hi, n)") from None
    return f"{_number_text(lo)}:{_number_text(hi)}:{int(n)}"


def _number_text(v):
    v = float(v)
    return str(int(v)) if v.is_integer() and abs(v) < 1e15 else repr(v)


def _joined_text(value, name, form, prefix=""):
    """A keyword given as a text or a tuple of numbers: the tuple as the
    command line's text (prefix, then the numbers joined by the separator)."""
    if value is None or isinstance(value, str):
        return value
    sep, count = form
    try:
        numbers = [_number_text(v) for v in value]
    except (TypeError, ValueError):
        numbers = []
    if len(numbers) != count:
        raise ValueError(f"{name} must be a text or a tuple of {count} numbers")
    return prefix + sep.join(numbers)


def _options(pi, gamma, alpha, null, max_factors, order, keep_aliased, blocks, gamma_int, max_models,
             gamma_grid, pi_grid, model_space=None, heredity=None, heredity_probs=None, pi_prior=None,
             gamma_prior=None, recommended=False, threads=None, search=None, chains=None, iterations=None,
             burn_in=None, random_seed=None):
    o = _core.Options()
    o.pi = float(pi)
    o.gamma = float(gamma)
    o.alpha = float(alpha)
    o.null = bool(null)
    o.max_factors = int(max_factors)
    o.order = None if order is None else int(order)
    o.keep_aliased = bool(keep_aliased)
    o.blocks = int(blocks)
    o.gamma_int = None if gamma_int is None else float(gamma_int)
    o.max_models = int(max_models)
    o.gamma_grid = _grid_text(gamma_grid, "gamma_grid")
    o.pi_grid = _grid_text(pi_grid, "pi_grid")
    o.threads = None if threads is None else int(threads)
    o.model_space = None if model_space is None else str(model_space)
    o.heredity = None if heredity is None else str(heredity)
    o.heredity_probs = _joined_text(heredity_probs, "heredity_probs", (",", 3))
    o.pi_prior = _joined_text(pi_prior, "pi_prior", (":", 2), "beta:")
    o.gamma_prior = _grid_text(gamma_prior, "gamma_prior")
    o.recommended = bool(recommended)
    o.search = None if search is None else str(search)
    o.chains = None if chains is None else int(chains)
    o.iterations = None if iterations is None else int(iterations)
    o.burn_in = None if burn_in is None else int(burn_in)
    o.random_seed = None if random_seed is None else int(random_seed)
    return o


def analyse(data, response=None, factors=None, *, pi=0.25, gamma=2.5, alpha=2.0, null=False, max_factors=3,
            order=None, keep_aliased=False, blocks=0, gamma_int=None, max_models=16777216, gamma_grid=None,
            pi_grid=None, model_space=None, heredity=None, heredity_probs=None, pi_prior=None, gamma_prior=None,
            recommended=False, threads=None, search=None, chains=None, iterations=None, burn_in=None,
            random_seed=None, heading=None):
    """Analyses a screening design; returns an Analysis.

    data      a pandas DataFrame, its factor columns in natural units or as
              texts (each coded -1/+1, a centre value 0, as the program's
              table reader codes a CSV file), or a 2-D array of coded levels
              (runs x factors, whole numbers: -1, +1, 0).
    response  DataFrame: the response column's name (default: the last
              column). Array: the response vector, one value per run.
    factors   DataFrame: the factor columns in order (default: every other
              column). Array: names for the columns (default: the letters
              A, B, ... without I).
    pi, gamma, alpha     the program's -P, -G and -A.
    null, max_factors, order, keep_aliased, blocks, gamma_int, max_models,
    gamma_grid, pi_grid  the extension options --null, --max-factors ...;
              a grid is the text "LO:HI:N" or a tuple (lo, hi, n). A keyword
              at its default counts as not given: max_factors=3 on a design
              of two factors is the program without --max-factors. order:
              None is 3 (2 in the effects space).
    model_space, heredity, heredity_probs, pi_prior, gamma_prior,
    recommended, threads  --model-space=factors|effects, --heredity=...,
              --heredity-probs ("P11,P10,P00" or a tuple), --pi-prior
              ("beta:A:B" or a tuple (a, b)), --gamma-prior ("LO:HI:N" or a
              tuple), --recommended and --threads=N.
    search, chains, iterations, burn_in, random_seed
              the model search of the effects space: --search=exact|mcmc|auto,
              --chains=C, --iterations=N, --burn-in=N, --random-seed=N.
    heading   the design's heading, as a design file's first line.
    """
    options = _options(pi, gamma, alpha, null, max_factors, order, keep_aliased, blocks, gamma_int, max_models,
                       gamma_grid, pi_grid, model_space, heredity, heredity_probs, pi_prior, gamma_prior,
                       recommended, threads, search, chains, iterations, burn_in, random_seed)
    heading = _DEFAULT_HEADING if heading is None else str(heading)
    if _is_dataframe(data):
        return Analysis(_analyse_frame(data, response, factors, heading, options))
    if response is None:
        raise ValueError("an array design needs the response vector as its second argument")
    x = np.asarray(data, dtype=float)
    y = np.asarray(response, dtype=float)
    if x.ndim == 2 and factors is not None:
        names = [str(f) for f in factors]
        if len(names) != x.shape[1]:
            raise ValueError(f"{len(names)} factor names for {x.shape[1]} design columns")
    else:
        names = []
    return Analysis(_core.analyse_array(x, y, names, heading, "(array)", options))


def _is_dataframe(data):
    # Without pandas imported there is no DataFrame, and an array's call
    # does not pay for the import.
    pandas = sys.modules.get("pandas")
    return pandas is not None and isinstance(data, pandas.DataFrame)


def _analyse_frame(frame, response, factors, heading, options):
    """The design of a DataFrame: its columns written as CSV text, which the
    table reader codes as it codes a file."""
    columns = [str(c) for c in frame.columns]
    if len(set(columns)) != len(columns):
        raise ValueError("the DataFrame's column names must be distinct")
    if response is None:  # the last column, as in a table file
        response = columns[-1] if columns else ""
    response = str(response)
    factors = [] if factors is None else [str(f) for f in factors]
    if factors:
        wanted = factors + [response]
        missing = [c for c in wanted if c not in columns]
        if missing:
            raise ValueError(f"no column named {missing[0]!r} in the DataFrame")
        frame = frame[[frame.columns[columns.index(c)] for c in wanted]]
    text = frame.to_csv(index=False, lineterminator="\n", float_format=None)
    return _core.analyse_table(text, "(DataFrame)", response, factors, heading, options)


class Analysis:
    """The results of one analysis.

    factors     DataFrame, one row per screened factor: name, letter, column
                (1-based), probability (posterior probability of being
                active) and the other weightings' shares (fstat, likelihood,
                inv_rmse2, inv_rmsec2).
    models      DataFrame, every model, most probable first: number, name
                (letters), factors (names), size, posterior, the classical
                criteria (adjrsq, rmse, fstat, loglik, likelihood), rmsec,
                log10_bval, valid, active, alias_group (0: none).
    effects     DataFrame, one row per effect column (main effects, then
                interactions by order): code (letters), name, order, and
                in units of the response (low to high level) the
                model-averaged posterior mean and sd, prob_positive,
                prob_in_model and the least_squares estimate (NaN where
                the program's JSON has null).
    lenth       dict of Lenth's figures of the least-squares effects
                (contrasts, s0, pse, df, t_me, t_sme, me, sme), or None when
                they do not apply (a design not orthogonal or replicated).
    effects_space  the effects space's results (model_space="effects" or
                recommended=True), else None: a dict of "effects" (DataFrame:
                name, label, order, probability of inclusion), "top_models"
                (DataFrame: name, probability; best first),
                "no_effect_active" and "alias_groups" (lists of effect
                names). The factors' probabilities stay in .factors. After
                a search, "effects" and "top_models" add se, frequency,
                frequency_se and renormalised columns (top_models: se and
                renormalised), and "search" holds its figures (else None).
    coding      DataFrame of a DataFrame design's coding: name and the
                values coded low (-1), high (+1) and centre (0; None without
                one); None for an array design.
    prior_grid(gamma_grid=None, pi_grid=None)
                the prior grid asked for in analyse (None when none was), or
                that of the given grids, from the same fits.
    follow_up(n, ...)  the n follow-up runs that best tell the leading models apart.
    to_json()   the document the program's --json writes.
    """

    def __init__(self, state):
        self._state = state
        self._design = None
        self._factors = None
        self._models = None
        self._effects = None

    @property
    def _info(self):
        if self._design is None:
            self._design = self._state.design_info()
        return self._design

    @property
    def runs(self):
        return self._info["runs"]

    @property
    def no_factor_active(self):
        """The posterior probability that no factor is active (NaN without null=True)."""
        return self._info["no_factor_active"]

    @property
    def factors(self):
        if self._factors is None:
            import pandas
            self._factors = pandas.DataFrame(self._state.factor_columns())
        return self._factors

    @property
    def models(self):
        if self._models is None:
            import pandas
            self._models = pandas.DataFrame(self._state.model_columns())
        return self._models

    @property
    def effects(self):
        if self._effects is None:
            import pandas
            self._effects = pandas.DataFrame(self._state.effect_columns())
        return self._effects

    @property
    def effects_space(self):
        space = self._state.effects_space()
        if space is None:
            return None
        import pandas
        space["effects"] = pandas.DataFrame(space["effects"])
        space["top_models"] = pandas.DataFrame(space["top_models"])
        return space

    @property
    def lenth(self):
        return self._state.lenth()

    @property
    def coding(self):
        columns = self._state.coding_columns()
        if columns is None:
            return None
        import pandas
        return pandas.DataFrame(columns)

    def prior_grid(self, gamma_grid=None, pi_grid=None):
        grid = self._state.prior_grid(_grid_text(gamma_grid, "gamma_grid"), _grid_text(pi_grid, "pi_grid"))
        if grid is None:
            return None
        import pandas
        return pandas.DataFrame(grid["columns"])

    def follow_up(self, n, candidates=None, *, md_models=32, starts=50, top=5, random_seed=1):
        """The n follow-up runs (--follow-up=n) that best discriminate the
        leading md_models models; candidates: a design file of candidate runs
        (default: the full factorial of the leading models' factors)."""
        if candidates is not None:
            candidates = str(candidates)
        return FollowUp(self._state.follow_up(int(n), candidates, int(md_models), int(starts), int(top),
                                              int(random_seed)))

    def to_json(self):
        return self._state.to_json()

    def __repr__(self):
        i = self._info
        lines = [f"<bayescreen.Analysis: {i['runs']} runs, {i['factors']} factors screened, "
                 f"{i['models']} models>"]
        table = self.factors.sort_values("probability", ascending=False, kind="stable")
        width = max([len("factor")] + [len(n) for n in table["name"]])
        lines.append(f"  {'factor':<{width}}  letter  probability")
        for name, letter, p in zip(table["name"], table["letter"], table["probability"]):
            lines.append(f"  {name:<{width}}  {letter:<6}  {p:11.4f}")
        if not math.isnan(i["no_factor_active"]):
            lines.append(f"  {'(none)':<{width}}  {'':<6}  {i['no_factor_active']:11.4f}")
        best = self.models.head(3)
        lines.append("  best models: " + ", ".join(f"{n} {p:.4f}" for n, p in zip(best["name"], best["posterior"])))
        return "\n".join(lines)


class FollowUp:
    """The follow-up runs of Analysis.follow_up.

    runs        DataFrame of the best design: candidate (1-based) and the
                level of each factor shown.
    designs     DataFrame of the best designs: md and their candidates.
    models      DataFrame of the leading models compared: number, name,
                posterior, s2.
    exhaustive  whether every design was evaluated (else: exchange search).
    """

    def __init__(self, result):
        import pandas
        self._result = result
        self.exhaustive = result["exhaustive"]
        self.evaluated = result["evaluated"]
        self.candidates = result["candidates"]
        self.models = pandas.DataFrame(result["models"])
        self.designs = pandas.DataFrame({"md": [d[0] for d in result["designs"]],
                                         "candidates": [tuple(d[1]) for d in result["designs"]]})
        rows = {"candidate": [c for c, _ in result["best_design"]]}
        for k, name in enumerate(result["shown"]):
            rows[name] = [levels[k] for _, levels in result["best_design"]]
        self.runs = pandas.DataFrame(rows)

    @property
    def md(self):
        """The MD criterion of the best design."""
        return self.designs["md"].iloc[0] if len(self.designs) else float("nan")

    def __repr__(self):
        search = "exhaustive" if self.exhaustive else "exchange"
        return (f"<bayescreen.FollowUp: {len(self.runs)} runs from {self.candidates} candidates "
                f"({search} search), MD {self.md:.6g}>\n{self.runs.to_string(index=False)}")
