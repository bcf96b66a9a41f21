// The native part of the bayescreen Python package (bayescreen._core): a
// design from a numpy array or from a table's text, the analysis run with
// the interpreter lock released, its results handed out as plain columns for
// the pandas layer (bayescreen/__init__.py), the JSON document of --json,
// the prior grids and the follow-up step.
//
// The options are checked here as the command line checks them, with the
// same message texts: "ILLEGAL VALUE in option `--max-factors=9': ... !"
// names the word the command line would have been given. Every engine
// Error becomes a ValueError (its text trimmed, and the input line it was
// found in after it, as the command line shows it), a refused allocation a
// MemoryError; after either, the thread's program-place stack is cut back
// to its depth on entry. Nothing here prints or ends the process.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/analysis.h"
#include "engine/effectspace.h"
#include "engine/priorgrid.h"
#include "engine/table.h"
#include "export/jsonexport.h"
#include "export/results.h"
#include "support/error.h"
#include "support/textbuf.h"
#include "support/linereader.h"
#include "support/showplaces.h"
#include "support/version.h"

namespace py = pybind11;

namespace bayescreen {
namespace {

// ---- Errors ------------------------------------------------------------------------

// A MemoryError with the text of the command line's refusal.
struct RefusedMemory {
  std::string text;
};

// Runs work(), turning the engine's exceptions into the Python ones: an
// AllocationError or std::bad_alloc into MemoryError, any other Error into
// ValueError. The place stack is cut back to its depth on entry, which an
// error leaves deeper.
template <class Work>
auto guarded(Work &&work) -> decltype(work()) {
  const unsigned depth = npg;
  try {
    return work();
  } catch (const AllocationError &refused) {
    truncate_program_places(depth);
    char text[200];
    snprintf(text, sizeof text, "CANNOT ALLOCATE %lu bytes (`%s') from the system.", refused.bytes(),
             refused.allocator());
    throw RefusedMemory{text};
  } catch (const Error &error) {
    truncate_program_places(depth);
    std::string text = error.what();
    if (error.line()) {
      const LineContext &line = *error.line();
      if (!line.text.empty()) text += "\n  " + line.text;
      text += "\nLine #" + std::to_string(line.number) + " in " + line.file;
    }
    throw py::value_error(text);
  } catch (const std::bad_alloc &) {
    truncate_program_places(depth);
    throw;  // pybind11 raises MemoryError
  }
}

// The command line's refusal of an option's value, for the word it would
// have been given.
[[noreturn]] void refuse_option(const std::string &word, const std::string &why) {
  throw Error("\nILLEGAL VALUE in option `" + word + "': " + why + " !\n");
}

// A number as the shortest text that reads back as it (2.0 as "2").
std::string number_text(double v) {
  std::string text;
  if (!append_number(text, v)) text = std::isnan(v) ? "nan" : (v > 0 ? "inf" : "-inf");
  return text;
}

std::string int_word(const char *name, long long v) { return std::string("--") + name + "=" + std::to_string(v); }

// The command line's range check of an integer option (the ranges of its
// option table).
int32_t in_range(const char *name, long long v, long long lo, long long hi) {
  if (v < lo || v > hi)
    refuse_option(int_word(name, v), "must lie between " + std::to_string(lo) + " and " + std::to_string(hi));
  return static_cast<int32_t>(v);
}

// ---- Options -----------------------------------------------------------------------

// The options of an analysis as the keywords of bayescreen.analyse give them.
struct Options {
  double pi = 0.25, gamma = 2.5, alpha = 2.0;
  bool null_model = false;
  long long max_factors = 3;
  std::optional<long long> order;  // None: 3, or 2 in the effects space
  std::optional<long long> threads;
  bool keep_aliased = false;
  long long blocks = 0;
  std::optional<double> gamma_int;
  long long max_models = 16777216;
  std::optional<std::string> gamma_grid, pi_grid;
  // The effects space: --model-space, --heredity, --heredity-probs,
  // --pi-prior, --gamma-prior and --recommended.
  std::optional<std::string> model_space, heredity, heredity_probs, pi_prior, gamma_prior;
  bool recommended = false;
  // The model search: --search, --chains, --iterations, --burn-in and
  // --random-seed.
  std::optional<std::string> search;
  std::optional<long long> chains, iterations, burn_in, random_seed;
};

// The settings of the options, checked as the command line and the design
// reader check them; the extension options that differ from their defaults
// go into run as the command line's words would.
Settings settings_of(const Options &o, RunDescription &run) {
  Settings s;
  if (!std::isfinite(o.pi))
    throw Error(string_printf("\nILLEGAL VALUE for PI: Pi=%g must be a finite number !\n", o.pi));
  if (!std::isfinite(o.gamma))
    throw Error(string_printf("\nILLEGAL VALUE for GAMMA: Gamma=%g must be a finite number !\n", o.gamma));
  if (!(o.pi > 0.0 && o.pi < 1.0))
    throw Error(string_printf("\nILLEGAL VALUE for PI: Pi=%g must lie strictly between 0 and 1 !\n", o.pi));
  if (!(o.gamma > 0.0))
    throw Error(string_printf("\nILLEGAL VALUE for GAMMA: Gamma=%g must be greater than 0 !\n", o.gamma));
  s.pi = o.pi;
  s.gamma = o.gamma;
  s.alpha = o.alpha;
  const char *letters = "PGANLRCDESV";
  for (const char *l = letters; *l != '\0'; l++) {
    OptionValue value = false;
    if (*l == 'P') value = s.pi;
    if (*l == 'G') value = s.gamma;
    if (*l == 'A') value = s.alpha;
    if (*l == 'N') value = int64_t{0};  // the columns analysed, once the design is known
    run.letter_options.push_back({std::string(1, *l), value});
  }

  ModelSpace &space = s.model_space;
  auto given = [&run](const char *name, OptionValue value, std::string word) {
    run.extension_options.push_back({name, std::move(value)});
    run.extension_words.push_back(std::move(word));
  };
  if (o.null_model) {
    space.with_null = 1;
    given("null", true, "--null");
  }
  if (o.max_factors != space.max_factors) {
    space.max_factors = in_range("max-factors", o.max_factors, 1, 61);
    given("max-factors", int64_t{space.max_factors}, int_word("max-factors", o.max_factors));
  }
  // order=3 counts as given in the effects space, whose own default is 2.
  const bool effects_wanted = o.recommended || (o.model_space && *o.model_space == "effects");
  if (o.order && (*o.order != space.order || effects_wanted)) {
    space.order = in_range("order", *o.order, 1, 61);
    given("order", int64_t{space.order}, int_word("order", *o.order));
  }
  if (o.keep_aliased) {
    space.keep_aliased = 1;
    given("keep-aliased", true, "--keep-aliased");
  }
  if (o.blocks != 0) {
    space.blocks = in_range("blocks", o.blocks, 1, 60);
    given("blocks", int64_t{space.blocks}, int_word("blocks", o.blocks));
  }
  if (o.gamma_int) {
    const double g = *o.gamma_int;
    const std::string word = "--gamma-int=" + number_text(g);
    if (!std::isfinite(g)) refuse_option(word, "the number must be finite");
    if (!(g > 0)) refuse_option(word, "the prior ratio must be greater than 0");
    space.gam_int = g;
    given("gamma-int", g, word);
  }
  if (o.max_models != space.max_models) {
    space.max_models = in_range("max-models", o.max_models, 1, INT32_MAX - 8);
    given("max-models", int64_t{space.max_models}, int_word("max-models", o.max_models));
  }
  // (In the order of the command line's table of options.)
  if (o.random_seed) {
    s.follow_up.seed = in_range("random-seed", *o.random_seed, 0, INT32_MAX);
    given("random-seed", int64_t{s.follow_up.seed}, int_word("random-seed", *o.random_seed));
  }
  if (o.threads) {
    s.threads = in_range("threads", *o.threads, 1, 1024);
    given("threads", int64_t{s.threads}, int_word("threads", *o.threads));
  }
  // A text option: refused as the command line refuses its word, else
  // read by parse.
  auto text_option = [&](const char *name, const std::optional<std::string> &text, auto parse) {
    if (!text) return;
    const std::string word = std::string("--") + name + "=" + *text;
    if (text->empty()) refuse_option(word, "a value must follow `='");
    if (const char *why = parse(text->c_str())) refuse_option(word, why);
    given(name, *text, word);
  };
  text_option("gamma-grid", o.gamma_grid, [&](const char *t) { return parse_gamma_grid(t, &s.gamma_grid); });
  text_option("pi-grid", o.pi_grid, [&](const char *t) { return parse_pi_grid(t, &s.pi_grid); });

  // The effects space as the command line reads it: --recommended first,
  // then each option given, which overrides what --recommended sets.
  EffectsPrior &prior = s.effects;
  if (o.recommended) {
    prior.kind = SpaceKind::Effects;
    prior.heredity = Heredity::Strong;
    prior.beta_a = prior.beta_b = 1;
    prior.gamma_prior = GridSpec{0.5, 5, 10};
    space.with_null = 1;
    s.search.mode = SearchMode::Auto;
    // Past a million models the search is the faster way to the answer.
    if (o.max_models == ModelSpace().max_models) space.max_models = kRecommendedMaxModels;
  }
  text_option("model-space", o.model_space, [&](const char *t) { return parse_model_space(t, &prior); });
  text_option("heredity", o.heredity, [&](const char *t) { return parse_heredity(t, &prior); });
  text_option("heredity-probs", o.heredity_probs, [&](const char *t) { return parse_heredity_probs(t, &prior); });
  text_option("pi-prior", o.pi_prior, [&](const char *t) { return parse_pi_prior(t, &prior); });
  text_option("gamma-prior", o.gamma_prior, [&](const char *t) { return parse_gamma_grid(t, &prior.gamma_prior); });
  if (o.recommended) given("recommended", true, "--recommended");
  text_option("search", o.search, [&](const char *t) { return parse_search_mode(t, &s.search); });
  if (o.chains) {
    s.search.chains = in_range("chains", *o.chains, 1, 256);
    given("chains", int64_t{s.search.chains}, int_word("chains", *o.chains));
  }
  if (o.iterations) {
    s.search.iterations = in_range("iterations", *o.iterations, 1, INT32_MAX);
    given("iterations", int64_t{s.search.iterations}, int_word("iterations", *o.iterations));
  }
  if (o.burn_in) {
    s.search.burn_in = in_range("burn-in", *o.burn_in, 0, INT32_MAX);
    given("burn-in", int64_t{s.search.burn_in}, int_word("burn-in", *o.burn_in));
  }
  const bool effects = prior.kind == SpaceKind::Effects;
  const bool searching = s.search.mode != SearchMode::Exact;
  const std::pair<const char *, const std::optional<long long> *> search_options[] = {
      {"chains", &o.chains}, {"iterations", &o.iterations}, {"burn-in", &o.burn_in}};
  for (const auto &[name, value] : search_options)
    if (*value && !searching)
      refuse_option(int_word(name, **value), "it shapes the search, so it needs --search=mcmc or --search=auto");
  if (o.random_seed && !searching)
    refuse_option(int_word("random-seed", *o.random_seed),
                  "it seeds the model search here, so it needs --search=mcmc|auto");
  const std::pair<const char *, const std::optional<std::string> *> prior_options[] = {
      {"heredity", &o.heredity}, {"heredity-probs", &o.heredity_probs}, {"pi-prior", &o.pi_prior},
      {"gamma-prior", &o.gamma_prior}};
  for (const auto &[name, text] : prior_options)
    if (*text && !effects)
      refuse_option(std::string("--") + name + "=" + **text,
                    "it shapes the prior of the effects space, so it needs --model-space=effects");
  if (!effects) return s;
  if (o.max_factors != ModelSpace().max_factors)
    refuse_option(int_word("max-factors", o.max_factors), "the effects space (--model-space=effects) does not offer it");
  if (o.gamma_grid) refuse_option("--gamma-grid=" + *o.gamma_grid, "the effects space (--model-space=effects) does not offer it");
  if (o.pi_grid) refuse_option("--pi-grid=" + *o.pi_grid, "the effects space (--model-space=effects) does not offer it");
  // Interactions of two factors unless order says otherwise.
  if (!o.order) space.order = 2;
  return s;
}

// The checks of the model-space options that need the design, as the
// command line makes them before any work.
void check_model_space(const Design &design, const Settings &settings) {
  const ModelSpace &space = settings.model_space;
  const int nv = design.analysed;
  if (space.blocks >= nv)
    refuse_option(int_word("blocks", space.blocks),
                  std::to_string(nv) + (nv == 1 ? " column is" : " columns are") +
                      " analysed, so no factor would be left to screen");
  const int k = screened_factors(design, space);
  if (space.max_factors != ModelSpace().max_factors && space.max_factors > k)
    refuse_option(int_word("max-factors", space.max_factors),
                  "only " + std::to_string(k) + (k == 1 ? " factor is left" : " factors are left") +
                      " to screen");
  if (model_space_searched(design, settings)) {
    if (space.keep_aliased) refuse_option("--keep-aliased", "the model search weighs only models whose X'X is regular");
    if (settings.effects.kind == SpaceKind::Factors && (settings.gamma_grid.n > 0 || settings.pi_grid.n > 0))
      refuse_option(settings.gamma_grid.n > 0 ? "--gamma-grid" : "--pi-grid",
                    "the factors space is searched, not enumerated, so there is no model table for it");
  }
  check_model_set_size(design, settings);
}

// ---- Designs -----------------------------------------------------------------------

// A design of the given entries (runs x columns, run by run) and responses,
// checked as the design reader checks a file's: the counts, and a response
// that is the same in every run.
Design make_design(std::string heading, int32_t runs, int32_t columns, std::vector<int32_t> x,
                   std::vector<double> y, std::vector<std::string> labels) {
  if (runs == 0 || columns == 0)
    throw Error("Nrows=" + std::to_string(runs) + "  Ncols=" + std::to_string(columns) +
                "  Nvars=" + std::to_string(columns) + ":  Too few!\n");
  if (columns > kMaxColumns)
    throw Error("\nTOO MANY COLUMNS: Ncols=" + std::to_string(columns) + ", at most " +
                std::to_string(kMaxColumns) + " are allowed !\n");
  for (int32_t r = 0; r < runs; r++)
    if (!std::isfinite(y[static_cast<size_t>(r)]))
      throw Error("\nMISSING RESPONSE: run " + std::to_string(r + 1) + " has no finite response !\n");
  bool constant = runs >= 2;
  for (int32_t r = 1; r < runs && constant; r++) constant = y[static_cast<size_t>(r)] == y[0];
  if (constant)
    throw Error(string_printf("\nCONSTANT RESPONSE: every run has the response %g !\n"
                       "Such a design holds no information about any factor.\n",
                       y[0]));
  Design d;
  d.path = "";
  d.heading = std::move(heading);
  d.runs = runs;
  d.columns = columns;
  d.analysed = columns;
  for (int32_t r = 0; r < runs; r++) d.run_numbers.push_back(r + 1);
  d.x = std::move(x);
  d.y = std::move(y);
  d.labels = std::move(labels);
  name_columns(d);
  return d;
}

// ---- The analysis ------------------------------------------------------------------

// One analysis: its design, settings and results, shared by the Python
// objects that read them and never changed after it is made.
struct AnalysisState {
  Design design;
  Settings settings;
  Results results;
  RunDescription run;
};

using State = std::shared_ptr<AnalysisState>;

// Checks the options on the design and analyses it. Runs without the
// interpreter lock.
State run_analysis(Design design, Settings settings, RunDescription run) {
  check_model_space(design, settings);
  auto state = std::make_shared<AnalysisState>();
  state->design = std::move(design);
  state->settings = settings;
  state->run = std::move(run);
  // -N as the command line's document gives it: the columns analysed.
  for (OptionSetting &option : state->run.letter_options)
    if (option.name == "N") option.value = static_cast<int64_t>(state->design.analysed);
  AnalysisRequest request;
  request.all_weightings = true;  // every factor table, as --json writes them
  request.effects = true;         // the effect estimates, as --json writes them
  state->results = analyse(state->design, state->settings, nullptr, request);
  return state;
}

// The design of an array of entries and a response vector.
State analyse_array(const py::array_t<double, py::array::c_style | py::array::forcecast> &x,
                    const py::array_t<double, py::array::c_style | py::array::forcecast> &y,
                    std::vector<std::string> labels, std::string heading, std::string source,
                    const Options &options) {
  return guarded([&] {
    if (x.ndim() != 2) throw Error("the design must be a 2-D array (runs x factors)");
    if (y.ndim() != 1) throw Error("the response must be a 1-D array, one value per run");
    const py::ssize_t runs = x.shape(0), columns = x.shape(1);
    if (y.shape(0) != runs)
      throw Error("the design has " + std::to_string(runs) + " runs but the response " +
                  std::to_string(y.shape(0)) + " values");
    if (runs > INT32_MAX) throw Error("the design has too many runs");
    std::vector<int32_t> entries(static_cast<size_t>(runs * columns));
    const double *xv = x.data();
    for (size_t i = 0; i < entries.size(); i++) {
      const double v = xv[i];
      if (!(v == std::trunc(v) && std::fabs(v) <= INT32_MAX))
        throw Error("design entry " + number_text(v) + " (run " + std::to_string(i / columns + 1) +
                    ", column " + std::to_string(i % columns + 1) + ") is not a whole number");
      entries[i] = static_cast<int32_t>(v);
    }
    std::vector<double> response(y.data(), y.data() + runs);
    RunDescription run;
    run.program_version = kProgramVersion;
    run.input = source;
    Settings settings = settings_of(options, run);
    py::gil_scoped_release unlocked;
    Design design = make_design(std::move(heading), static_cast<int32_t>(runs), static_cast<int32_t>(columns),
                                std::move(entries), std::move(response), std::move(labels));
    return run_analysis(std::move(design), settings, std::move(run));
  });
}

// The design of a table's text (a DataFrame written as CSV), coded by the
// table reader.
State analyse_table(const std::string &text, const std::string &source, const std::string &response,
                    const std::vector<std::string> &factors, std::string heading, const Options &options) {
  return guarded([&] {
    RunDescription run;
    run.program_version = kProgramVersion;
    run.input = source;
    Settings settings = settings_of(options, run);
    py::gil_scoped_release unlocked;
    TableOptions table_options;
    table_options.response = response;
    table_options.factors = factors;
    TableDesign table = read_table(text, source, table_options);
    const int32_t columns = static_cast<int32_t>(table.names.size());
    Design design = make_design(std::move(heading), table.runs, columns, std::move(table.levels),
                                std::move(table.response), std::move(table.names));
    // The coding table, as the program keeps it for a table file.
    design.response_name = std::move(table.response_name);
    design.coding = std::move(table.coding);
    return run_analysis(std::move(design), settings, std::move(run));
  });
}

// ---- Results as columns ------------------------------------------------------------

py::array_t<double> doubles(const std::vector<double> &v) { return py::array_t<double>(v.size(), v.data()); }

// The design's factor names and letters, and the number of runs, columns
// and factors screened.
py::dict design_info(const State &s) {
  const Design &d = s->design;
  std::vector<std::string> names, letters;
  for (int c = 0; c < d.columns; c++) {
    names.push_back(factor_name(d, c));
    letters.push_back(factor_code(c));
  }
  py::dict info;
  info["runs"] = d.runs;
  info["columns"] = d.columns;
  info["blocks"] = s->settings.model_space.blocks;
  info["factors"] = screened_factors(d, s->settings.model_space);
  info["models"] = s->results.models.size();
  info["invalid"] = s->results.models.invalid;
  info["names"] = names;
  info["letters"] = letters;
  info["heading"] = d.heading;
  info["no_factor_active"] = s->results.weights.none_active;
  return info;
}

// The factor table: one row per screened factor, its share of the weight
// under every weighting (NaN under one not computed).
py::dict factor_columns(const State &s) {
  const Design &d = s->design;
  const FactorWeightTables &tables = s->results.weights;
  std::vector<std::string> names, letters;
  std::vector<int> columns;
  std::vector<double> share[kWeightings];
  for (int c = s->settings.model_space.blocks; c < d.analysed; c++) {
    names.push_back(factor_name(d, c));
    letters.push_back(factor_code(c));
    columns.push_back(c + 1);
    // The effects space weighs the factors by posterior probability alone:
    // NaN under the weightings it has not computed.
    for (int w = 0; w < kWeightings; w++) {
      const std::vector<double> &shares = tables.by[w].shares;
      share[w].push_back(tables.by[w].computed && static_cast<size_t>(c) < shares.size()
                             ? shares[static_cast<size_t>(c)]
                             : std::nan(""));
    }
  }
  py::dict out;
  out["name"] = names;
  out["letter"] = letters;
  out["column"] = columns;
  out["probability"] = doubles(share[static_cast<int>(Weighting::PostProb)]);
  for (int w = 0; w < kWeightings; w++)
    if (w != static_cast<int>(Weighting::PostProb)) out[weighting_key(w)] = doubles(share[w]);
  return out;
}

// The model table, by posterior probability (best first, in the order of
// the report's ranking): the fit criteria, NaN where a model has none.
py::dict model_columns(const State &s) {
  const ModelTable &models = s->results.models;
  const ModelSpace &space = s->settings.model_space;
  const Design &d = s->design;
  std::vector<int32_t> order(static_cast<size_t>(models.size()));
  for (size_t i = 0; i < order.size(); i++) order[i] = static_cast<int32_t>(i);
  std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
    return compare_models(space, models[a], models[b], RANK_POSTPROB) < 0;
  });
  const size_t n = order.size();
  py::array_t<int32_t> number(n), size(n), alias(n);
  py::array_t<double> post(n), adjrsq(n), rmse(n), fstat(n), loglik(n), likelihood(n), rmsec(n), log10b(n);
  py::array_t<bool> valid(n);
  py::list names(n), factors(n), active(n);
  const double nan = std::nan("");
  for (size_t k = 0; k < n; k++) {
    const ModelEntry &m = models[order[k]];
    const bool fitted = !m.invalid, weighted = has_posterior(space, m);
    number.mutable_at(k) = m.num;
    size.mutable_at(k) = m.nf;
    alias.mutable_at(k) = m.alias;
    post.mutable_at(k) = m.postprob;
    adjrsq.mutable_at(k) = fitted ? m.adjrsq : nan;
    rmse.mutable_at(k) = fitted ? m.rmse : nan;
    fstat.mutable_at(k) = fitted ? m.fstat : nan;
    loglik.mutable_at(k) = fitted ? m.loglik : nan;
    likelihood.mutable_at(k) = fitted ? m.likelihood : nan;
    rmsec.mutable_at(k) = weighted ? m.rmsec : nan;
    log10b.mutable_at(k) = weighted ? m.logb / std::log(10.0) : nan;
    valid.mutable_at(k) = fitted;
    names[k] = py::str(m.name);
    std::string labels;
    uint64_t on = 0;  // the columns active in the model
    for (int c = 0; c < d.columns; c++) {
      if (has_column(m.fset, c)) labels += (labels.empty() ? "" : " ") + factor_name(d, c);
      if (has_column(m.ivals, c)) on |= uint64_t{1} << c;
    }
    factors[k] = py::str(labels);
    active[k] = py::str(effect_code(on));
  }
  py::dict out;
  out["number"] = number;
  out["name"] = names;
  out["factors"] = factors;
  out["size"] = size;
  out["posterior"] = post;
  out["adjrsq"] = adjrsq;
  out["rmse"] = rmse;
  out["fstat"] = fstat;
  out["loglik"] = loglik;
  out["likelihood"] = likelihood;
  out["rmsec"] = rmsec;
  out["log10_bval"] = log10b;
  out["valid"] = valid;
  out["active"] = active;
  out["alias_group"] = alias;
  return out;
}

// The prior grid's points as columns: gamma, pi, each factor's probability
// of being active, the probability that none is, and the data's support.
py::dict grid_columns(const Design &design, const PriorGridResults &g) {
  const size_t points = static_cast<size_t>(g.points()), ngam = g.gammas.size();
  std::vector<double> gamma, pi;
  for (size_t p = 0; p < points; p++) {
    gamma.push_back(g.gammas[p % ngam]);
    pi.push_back(g.pis[p / ngam]);
  }
  py::dict out;
  out["gamma"] = doubles(gamma);
  out["pi"] = doubles(pi);
  py::list factors;
  for (int f = 0; f < g.nfactors; f++) {
    std::vector<double> active;
    for (size_t p = 0; p < points; p++)
      active.push_back(g.active[p * static_cast<size_t>(g.nfactors) + static_cast<size_t>(f)]);
    const std::string name = factor_name(design, g.first_factor + f);
    factors.append(name);
    out[py::str(name)] = doubles(active);
  }
  if (g.with_null) out["no_factor_active"] = doubles(g.none);
  out["support"] = doubles(g.support);
  out["log_support"] = doubles(g.log_support);
  py::dict result;
  result["columns"] = out;
  result["factors"] = factors;
  result["best"] = g.best;
  return result;
}

// The prior grid of the analysis (None when none was asked), or that of the
// given grids computed from its fits.
py::object prior_grid(const State &s, const std::optional<std::string> &gamma_grid,
                      const std::optional<std::string> &pi_grid) {
  if (!gamma_grid && !pi_grid) {
    if (!s->results.prior_grid) return py::none();
    return grid_columns(s->design, *s->results.prior_grid);
  }
  return guarded([&]() -> py::object {
    Options o;
    o.gamma_grid = gamma_grid;
    o.pi_grid = pi_grid;
    RunDescription unused;
    Settings settings = s->settings;
    const Settings grids = settings_of(o, unused);
    settings.gamma_grid = grids.gamma_grid;
    settings.pi_grid = grids.pi_grid;
    PriorGridResults g;
    {
      py::gil_scoped_release unlocked;
      g = compute_prior_grid(s->design, settings, s->results.models);
    }
    return grid_columns(s->design, g);
  });
}

// The JSON document of the analysis, as --json writes it.
std::string to_json(const State &s) {
  return guarded([&] {
    py::gil_scoped_release unlocked;
    StringSink sink;
    write_json(ExportInput{s->design, s->settings, s->results, s->run}, sink);
    return sink.text();
  });
}

// The effect estimates as columns, one row per effect column (main effects,
// then interactions by order): the texts of the JSON document's effects,
// NaN where it has null.
py::dict effect_columns(const State &s) {
  std::vector<std::string> codes, names;
  std::vector<int> order;
  std::vector<double> mean, sd, positive, in_model, least_squares;
  if (s->results.effects)
    for (const EffectEstimate &e : s->results.effects->effects) {
      codes.push_back(effect_code(e.mask));
      names.push_back(valid_utf8(effect_label(s->design, e.mask)));
      order.push_back(e.order());
      mean.push_back(e.mean);
      sd.push_back(e.sd);
      positive.push_back(e.prob_positive);
      in_model.push_back(e.prob_in_model);
      least_squares.push_back(e.least_squares);
    }
  py::dict out;
  out["code"] = codes;
  out["name"] = names;
  out["order"] = order;
  out["mean"] = doubles(mean);
  out["sd"] = doubles(sd);
  out["prob_positive"] = doubles(positive);
  out["prob_in_model"] = doubles(in_model);
  out["least_squares"] = doubles(least_squares);
  return out;
}

// The effects space's results under the JSON document's names: "effects"
// (name, label, order, probability) and "top_models" (name, probability) as
// columns, "no_effect_active" and "alias_groups" (lists of effect names);
// None outside the effects space.
py::object effects_space_columns(const State &s) {
  if (!s->results.effects_space) return py::none();
  const EffectsResults &r = *s->results.effects_space;
  std::vector<std::string> names, labels;
  std::vector<int> order;
  for (const CandidateEffect &e : r.effects) {
    names.push_back(e.name);
    labels.push_back(valid_utf8(effect_label(s->design, e)));
    order.push_back(e.order);
  }
  py::dict effects;
  effects["name"] = names;
  effects["label"] = labels;
  effects["order"] = order;
  effects["probability"] = doubles(r.effect_probability);
  std::vector<std::string> model_names;
  std::vector<double> model_probability;
  for (const EffectModel &m : r.top) {
    model_names.push_back(effect_model_name(r, m));
    model_probability.push_back(m.probability);
  }
  py::dict top;
  top["name"] = model_names;
  top["probability"] = doubles(model_probability);
  py::list aliases;
  for (const std::vector<int32_t> &group : r.aliases) {
    py::list members;
    for (int32_t e : group) members.append(r.effects[static_cast<size_t>(e)].name);
    aliases.append(members);
  }
  py::dict out;
  out["effects"] = effects;
  out["top_models"] = top;
  out["no_effect_active"] = r.none_active;
  out["alias_groups"] = aliases;
  // A search: each probability's standard error, visit frequency and
  // renormalised estimate, and the search's figures.
  if (r.search) {
    const SearchSummary &x = *r.search;
    effects["se"] = doubles(x.effect_se);
    effects["frequency"] = doubles(x.effect_frequency);
    effects["frequency_se"] = doubles(x.effect_frequency_se);
    effects["renormalised"] = doubles(x.effect_renormalised);
    std::vector<double> se, renormalised;
    for (const EffectModel &m : r.top) {
      se.push_back(m.se);
      renormalised.push_back(m.renormalised);
    }
    top["se"] = doubles(se);
    top["renormalised"] = doubles(renormalised);
    py::dict search;
    search["automatic"] = x.automatic;
    search["chains"] = x.chains;
    search["burn_in"] = x.burn_in;
    search["iterations"] = x.iterations;
    search["evaluations"] = x.evaluations;
    search["distinct_models"] = x.distinct;
    search["seconds"] = x.seconds;
    search["reached_target"] = x.reached_target;
    search["largest_se"] = x.largest_se;
    search["chain_difference"] = x.chain_difference;
    search["no_effect_active_se"] = x.none_se;
    search["factor_se"] = doubles(x.factor_se);
    out["search"] = search;
  } else {
    out["search"] = py::none();
  }
  return out;
}

// Lenth's figures of the least-squares effects, under the JSON document's
// keys; None when they do not apply.
py::object lenth_figures(const State &s) {
  if (!s->results.effects || !s->results.effects->lenth) return py::none();
  const LenthResult &l = *s->results.effects->lenth;
  py::dict out;
  out["applies"] = true;
  out["contrasts"] = l.contrasts;
  out["s0"] = l.s0;
  out["pse"] = l.pse;
  out["df"] = l.df;
  out["t_me"] = l.t_me;
  out["t_sme"] = l.t_sme;
  out["me"] = l.me;
  out["sme"] = l.sme;
  return out;
}

// The coding of a table's factors as columns (name, low, high, centre: None
// without one); None for a design given as an array.
py::object coding_columns(const State &s) {
  const Design &d = s->design;
  if (d.coding.empty()) return py::none();
  py::list name, low, high, centre;
  for (const FactorCoding &c : d.coding) {
    name.append(valid_utf8(c.name));
    low.append(valid_utf8(c.low));
    high.append(valid_utf8(c.high));
    centre.append(c.centre.empty() ? py::object(py::none()) : py::object(py::str(valid_utf8(c.centre))));
  }
  py::dict out;
  out["name"] = name;
  out["low"] = low;
  out["high"] = high;
  out["centre"] = centre;
  return out;
}

// ---- Follow-up ---------------------------------------------------------------------

// The candidate runs of a design file.
CandidateRuns read_candidates(const std::string &path, const Design &design, const Settings &settings) {
  FILE *file = fopen(path.c_str(), "rb");
  if (file == nullptr) throw Error("\nCANNOT OPEN the file  `" + path + "'\n");
  std::unique_ptr<FILE, int (*)(FILE *)> closer(file, fclose);
  LineReader lines(file, path);
  return read_candidate_file(lines, design, settings);
}

// The follow-up step of --follow-up=n on the analysis's fits, checked as the
// command line checks it; the results as plain values.
py::dict follow_up_step(const State &s, long long n, const std::optional<std::string> &candidates, long long md_models,
                   long long starts, long long top, long long seed) {
  return guarded([&] {
    const Design &design = s->design;
    Settings settings = s->settings;
    FollowUpSettings &f = settings.follow_up;
    f.runs = in_range("follow-up", n, 1, 64);
    if (settings.effects.kind == SpaceKind::Effects)
      refuse_option(int_word("follow-up", n), "the effects space (--model-space=effects) does not offer it");
    f.md_models = in_range("md-models", md_models, 2, 1024);
    f.starts = in_range("starts", starts, 1, 1000000);
    f.top = in_range("top", top, 1, 100);
    f.seed = in_range("random-seed", seed, 0, INT32_MAX);
    if (design.runs < 2)
      refuse_option(int_word("follow-up", n), "the design has one run, so no model has an error variance");
    if (count_models(design, settings.model_space) < 2)
      refuse_option(int_word("follow-up", n), "the model set holds one model, so there is nothing to discriminate");
    FollowUpResult r;
    {
      py::gil_scoped_release unlocked;
      CandidateRuns cands = candidates ? read_candidates(*candidates, design, settings) : CandidateRuns();
      r = bayescreen::follow_up(design, settings, s->results.models, std::move(cands));
    }
    const ModelTable &models = s->results.models;
    py::dict leading;
    std::vector<int> number;
    std::vector<std::string> name;
    std::vector<double> post, s2;
    for (const FollowUpModel &m : r.models) {
      number.push_back(models[m.index].num);
      name.emplace_back(models[m.index].name);
      post.push_back(m.postprob);
      s2.push_back(m.s2);
    }
    leading["number"] = number;
    leading["name"] = name;
    leading["posterior"] = doubles(post);
    leading["s2"] = doubles(s2);
    std::vector<std::string> shown;
    for (int32_t col : r.candidates.shown) shown.push_back(factor_name(design, col));
    py::list designs;
    for (const FollowUpDesign &fd : r.best) {
      std::vector<int32_t> runs;
      for (int32_t k : fd.runs) runs.push_back(k + 1);
      designs.append(py::make_tuple(fd.md, runs));
    }
    py::list best;
    if (!r.best.empty())
      for (int32_t k : r.best[0].runs) {
        std::vector<int32_t> levels;
        for (int32_t col : r.candidates.shown) levels.push_back(r.candidates.level(k, col));
        best.append(py::make_tuple(k + 1, levels));
      }
    py::dict out;
    out["runs"] = r.runs;
    out["models"] = leading;
    out["candidates"] = r.candidates.count;
    out["candidate_source"] = r.candidates.source;
    out["shown"] = shown;
    out["exhaustive"] = r.exhaustive;
    out["evaluated"] = r.evaluated;
    out["starts"] = r.starts;
    out["best_reached"] = r.best_reached;
    out["designs"] = designs;
    out["best_design"] = best;
    return out;
  });
}

}  // namespace
}  // namespace bayescreen

PYBIND11_MODULE(_core, m) {
  using namespace bayescreen;
  m.doc() = "The bayescreen engine: Box-Meyer posterior probabilities of two-level screening designs.";
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const RefusedMemory &refused) {
      PyErr_SetString(PyExc_MemoryError, refused.text.c_str());
    }
  });

  py::class_<Options>(m, "Options", "The options of an analysis, as bayescreen.analyse takes them.")
      .def(py::init<>())
      .def_readwrite("pi", &Options::pi)
      .def_readwrite("gamma", &Options::gamma)
      .def_readwrite("alpha", &Options::alpha)
      .def_readwrite("null", &Options::null_model)
      .def_readwrite("max_factors", &Options::max_factors)
      .def_readwrite("order", &Options::order)
      .def_readwrite("keep_aliased", &Options::keep_aliased)
      .def_readwrite("blocks", &Options::blocks)
      .def_readwrite("gamma_int", &Options::gamma_int)
      .def_readwrite("max_models", &Options::max_models)
      .def_readwrite("gamma_grid", &Options::gamma_grid)
      .def_readwrite("pi_grid", &Options::pi_grid)
      .def_readwrite("threads", &Options::threads)
      .def_readwrite("model_space", &Options::model_space)
      .def_readwrite("heredity", &Options::heredity)
      .def_readwrite("heredity_probs", &Options::heredity_probs)
      .def_readwrite("pi_prior", &Options::pi_prior)
      .def_readwrite("gamma_prior", &Options::gamma_prior)
      .def_readwrite("recommended", &Options::recommended)
      .def_readwrite("search", &Options::search)
      .def_readwrite("chains", &Options::chains)
      .def_readwrite("iterations", &Options::iterations)
      .def_readwrite("burn_in", &Options::burn_in)
      .def_readwrite("random_seed", &Options::random_seed);

  py::class_<AnalysisState, std::shared_ptr<AnalysisState>>(m, "State", "The results of one analysis.")
      .def("design_info", [](const State &s) { return design_info(s); })
      .def("factor_columns", [](const State &s) { return factor_columns(s); })
      .def("model_columns", [](const State &s) { return model_columns(s); })
      .def("prior_grid", &prior_grid, py::arg("gamma_grid") = py::none(), py::arg("pi_grid") = py::none())
      .def("effect_columns", [](const State &s) { return effect_columns(s); })
      .def("lenth", [](const State &s) { return lenth_figures(s); })
      .def("effects_space", [](const State &s) { return effects_space_columns(s); })
      .def("coding_columns", [](const State &s) { return coding_columns(s); })
      .def("to_json", &to_json)
      .def("follow_up", &follow_up_step, py::arg("n"), py::arg("candidates") = py::none(), py::arg("md_models") = 32,
           py::arg("starts") = 50, py::arg("top") = 5, py::arg("random_seed") = 1);

  m.def("analyse_array", &analyse_array, py::arg("x"), py::arg("y"), py::arg("labels"), py::arg("heading"),
        py::arg("source"), py::arg("options"),
        "Analyses the design of a 2-D array of coded levels and a response vector.");
  m.def("analyse_table", &analyse_table, py::arg("text"), py::arg("source"), py::arg("response"),
        py::arg("factors"), py::arg("heading"), py::arg("options"),
        "Analyses a table's CSV text, its factor columns coded by the table reader.");
}
