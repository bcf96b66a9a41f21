#include "cli/driver.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "cli/errsignals.h"
#include "cli/progress.h"
#include "cli/resultfiles.h"
#include "support/toklist.h"
#include "engine/analysis.h"
#include "engine/table.h"
#include "report/echo.h"
#include "report/report.h"
#include "support/error.h"
#include "support/helpers.h"
#include "support/lineread.h"
#include "support/linereader.h"
#include "support/logfile.h"
#include "support/showplaces.h"

namespace bayescreen {

// The command line's state. The option tables below write into these, so
// they live as long as the program: the settings of the run, the texts of
// the options that the driver reads further, and the file names.
Settings settings;                     // every option, specified and extension
static ResultFileOptions result_files;  // --json, --csv-files, --svg-file, --html
static const char *gamma_grid_text = nullptr;  // --gamma-grid=LO:HI:N as given
static const char *pi_grid_text = nullptr;     // --pi-grid=LO:HI:N as given
static const char *response_text = nullptr;    // --response=NAME as given
static const char *factors_text = nullptr;     // --factors=NAME,NAME,... as given
static const char *coding_text = nullptr;      // --coding=NAME:LOW/HIGH,... as given
static int32_t want_effects = 0;               // --effects
// The options of the effects space, as given.
static const char *model_space_text = nullptr;     // --model-space=factors|effects
static const char *heredity_text = nullptr;        // --heredity=strong|weak|none
static const char *heredity_probs_text = nullptr;  // --heredity-probs=P11,P10,P00
static const char *pi_prior_text = nullptr;        // --pi-prior=beta:A:B
static const char *gamma_prior_text = nullptr;     // --gamma-prior=LO:HI:N
static int32_t recommended = 0;                    // --recommended
// The options of the stochastic search, as given.
static const char *search_text = nullptr;          // --search=auto|mcmc|exact
static int32_t search_iterations = 0;              // --iterations=N
static int32_t search_burn_in = 0;                 // --burn-in=N
static int32_t quiet = 0;                          // --quiet: no progress line
char *pgname = nullptr;                // upper-case program name
char *infile = nullptr;                // input (design) file name
char *outfile = nullptr;               // output (log) file name

FlagSpec ss[] = {
    {.flag = 'P', .var = &settings.pi, .vartype = VAR_DOUBLE,
     .descript = "Prior proportion of active factors", .showdefault = 1,
     .setvar = &settings.on_command_line[PARM_PI]},
    {.flag = 'G', .var = &settings.gamma, .vartype = VAR_DOUBLE,
     .descript = "Prior StdDev ratio Active factors/Model error", .showdefault = 1,
     .setvar = &settings.on_command_line[PARM_GAMMA]},
    {.flag = 'A', .var = &settings.alpha, .vartype = VAR_DOUBLE,
     .descript = "Effects active only if Pval less than this", .showdefault = 1,
     .setvar = &settings.on_command_line[PARM_ALPHA]},
    {.flag = 'N', .var = &settings.nvars, .vartype = VAR_INT,
     .descript = "Submodels of first N variables (Max: Number of columns)",
     .setvar = &settings.on_command_line[PARM_NVARS]},
    {.flag = 'L', .var = &settings.all_columns, .vartype = VAR_FLAG,
     .descript = "Submodels of ALL column variables", .setvar = &settings.on_command_line[PARM_NVARS]},
    {.flag = 'R', .var = &settings.rank_all, .vartype = VAR_FLAG,
     .descript = "List all models in best-fit lists"},
    {.flag = 'C', .var = &settings.more_ranks, .vartype = VAR_FLAG,
     .descript = "More sorts in model lists (Default: Fstat BPostProb only)"},
    {.flag = 'D', .var = &settings.more_posts, .vartype = VAR_FLAG,
     .descript = "More post.prob. lists (Default: Fstat Likelihood BPostProb only)"},
    {.flag = 'E', .var = &settings.all_by_size, .vartype = VAR_FLAG,
     .descript = "Within-size sorts for all model sorts (Default: First only)"},
    {.flag = 'S', .var = &settings.step, .vartype = VAR_FLAG,
     .descript = "Step through model results"},
    {.flag = 'V', .var = &settings.verbose, .vartype = VAR_FLAG, .descript = "Verbose output"},
    {},
};

// The extension options: opt-in long words, taken out of the argument list
// before the single-letter options are parsed.
static int32_t want_help = 0;
LongOption xopts[] = {
    {.name = "help", .kind = LongKind::Flag, .target = &want_help,
     .help = "list the options, then stop"},
    {.name = "null", .kind = LongKind::Flag, .target = &settings.model_space.with_null,
     .help = "the null model (no factor active) joins the model set"},
    {.name = "max-factors", .kind = LongKind::Int, .target = &settings.model_space.max_factors,
     .value_name = "K", .help = "models of 1 to K factors (default 3)", .min = 1, .max = 61},
    {.name = "order", .kind = LongKind::Int, .target = &settings.model_space.order, .value_name = "R",
     .help = "interactions up to order R in each model (1: main effects only; default 3)",
     .min = 1, .max = 61},
    {.name = "keep-aliased", .kind = LongKind::Flag, .target = &settings.model_space.keep_aliased,
     .help = "models with a singular X'X keep their Box-Meyer posterior"},
    {.name = "blocks", .kind = LongKind::Int, .target = &settings.model_space.blocks, .value_name = "B",
     .help = "the first B columns are blocking variables, in every model", .min = 1, .max = 60},
    {.name = "gamma-int", .kind = LongKind::Double, .target = &settings.model_space.gam_int,
     .value_name = "G", .help = "prior ratio of interaction effects (default: that of -G)"},
    {.name = "max-models", .kind = LongKind::Int, .target = &settings.model_space.max_models,
     .value_name = "N", .help = "refuse model sets of more than N models (default 16,777,216)",
     .min = 1, .max = INT32_MAX - 8},
    {.name = "follow-up", .kind = LongKind::Int, .target = &settings.follow_up.runs, .value_name = "N",
     .help = "choose N more runs (1 to 64) that best tell the leading models apart",
     .min = 1, .max = 64},
    {.name = "candidates", .kind = LongKind::Text, .target = &settings.follow_up.candidates,
     .value_name = "FILE",
     .help = "candidate follow-up runs, a design file (default: full factorial)"},
    {.name = "md-models", .kind = LongKind::Int, .target = &settings.follow_up.md_models,
     .value_name = "M", .help = "leading models the follow-up runs discriminate (default 32)",
     .min = 2, .max = 1024},
    {.name = "starts", .kind = LongKind::Int, .target = &settings.follow_up.starts, .value_name = "S",
     .help = "random starts of the follow-up exchange search (default 50)", .min = 1,
     .max = 1000000},
    {.name = "top", .kind = LongKind::Int, .target = &settings.follow_up.top, .value_name = "T",
     .help = "best follow-up designs reported (default 5)", .min = 1, .max = 100},
    {.name = "random-seed", .kind = LongKind::Int, .target = &settings.follow_up.seed, .value_name = "N",
     .help = "seed of the follow-up exchange search and of the model search (default 1)", .min = 0,
     .max = INT32_MAX},
    {.name = "max-seconds", .kind = LongKind::Double, .target = &settings.follow_up.max_seconds,
     .value_name = "S", .help = "stop the follow-up exchange search after S seconds (default: none)"},
    {.name = "threads", .kind = LongKind::Int, .target = &settings.threads, .value_name = "N",
     .help = "threads of the fits (default: the cores available); the results are the same",
     .min = 1, .max = 1024, .in_report = 0},
    {.name = "gamma-grid", .kind = LongKind::Text, .target = &gamma_grid_text,
     .value_name = "LO:HI:N", .help = "factor probabilities and the data's support at N gammas from LO to HI"},
    {.name = "pi-grid", .kind = LongKind::Text, .target = &pi_grid_text,
     .value_name = "LO:HI:N", .help = "the same at N values of pi (with --gamma-grid: every pair)"},
    {.name = "effects", .kind = LongKind::Flag, .target = &want_effects,
     .help = "a table of the effects after the factor tables (sizes, signs, Lenth's margins)"},
    {.name = "response", .kind = LongKind::Text, .target = &response_text, .value_name = "NAME",
     .help = "a table's response column (default: the last column)"},
    {.name = "factors", .kind = LongKind::Text, .target = &factors_text, .value_name = "NAME,NAME,...",
     .help = "a table's factor columns, in this order (default: every other column)"},
    {.name = "coding", .kind = LongKind::Text, .target = &coding_text, .value_name = "N:LO/HI,...",
     .help = "a table's factor levels coded -1 and +1 (default: numbers low/high, texts as they come)"},
    {.name = "model-space", .kind = LongKind::Text, .target = &model_space_text,
     .value_name = "S", .help = "factors: full factorials of sets of factors (default); effects: any set of "
     "main effects and interactions"},
    {.name = "heredity", .kind = LongKind::Text, .target = &heredity_text, .value_name = "H",
     .help = "effects space: interactions need all (strong, default), some (weak) or none of their parents"},
    {.name = "heredity-probs", .kind = LongKind::Text, .target = &heredity_probs_text,
     .value_name = "P11,P10,P00",
     .help = "effects space: an interaction's probability with all/some/none of its parents in "
     "(default 0.25,0.1,0.01)"},
    {.name = "pi-prior", .kind = LongKind::Text, .target = &pi_prior_text, .value_name = "beta:A:B",
     .help = "effects space: pi ~ Beta(A, B), integrated out, in place of -P"},
    {.name = "gamma-prior", .kind = LongKind::Text, .target = &gamma_prior_text, .value_name = "LO:HI:N",
     .help = "effects space: average over N gammas from LO to HI, in place of -G"},
    {.name = "recommended", .kind = LongKind::Flag, .target = &recommended,
     .help = "the recommended analysis (see below): --null --model-space=effects --order=2 "
     "--heredity=strong --pi-prior=beta:1:1 --gamma-prior=0.5:5:10 --search=auto --max-models=1000000"},
    {.name = "search", .kind = LongKind::Text, .target = &search_text, .value_name = "MODE",
     .help = "exact (enumerate; default), mcmc (Markov chain search of the model space) or auto (search "
     "past --max-models; the default of --recommended)"},
    {.name = "chains", .kind = LongKind::Int, .target = &settings.search.chains, .value_name = "C",
     .help = "search: chains from different random starts (default 4)", .min = 1, .max = 256},
    {.name = "iterations", .kind = LongKind::Int, .target = &search_iterations, .value_name = "N",
     .help = "search: N kept iterations per chain (default: until every standard error is 0.005 or less)",
     .min = 1, .max = INT32_MAX},
    {.name = "burn-in", .kind = LongKind::Int, .target = &search_burn_in, .value_name = "N",
     .help = "search: iterations per chain before any is kept (default 5,000)", .min = 0, .max = INT32_MAX},
    {.name = "quiet", .kind = LongKind::Flag, .target = &quiet,
     .help = "no progress line on standard error during a long search", .in_report = 0},
    // Result files: they leave the screen and the log as they are, so they
    // are not named among the options in force. (Not --svg: the letter
    // options read --svg=1 as -S -V -G=1.)
    {.name = "json", .kind = LongKind::OptionalText, .target = &result_files.json,
     .value_name = "FILE", .help = "the results as JSON (default: the log's name with .json)",
     .in_report = 0},
    {.name = "csv-files", .kind = LongKind::OptionalText, .target = &result_files.csv_prefix,
     .value_name = "PREFIX", .help = "the tables as CSV files PREFIX.models.csv, PREFIX.factors.csv ...",
     .in_report = 0},
    {.name = "svg-file", .kind = LongKind::OptionalText, .target = &result_files.svg,
     .value_name = "FILE", .help = "an SVG figure of the probabilities (default: the log's name with .svg)",
     .in_report = 0},
    {.name = "html", .kind = LongKind::OptionalText, .target = &result_files.html, .value_name = "FILE",
     .help = "the results as one self-contained HTML page (default: the log's name with .html)",
     .in_report = 0},
    {},
};

[[noreturn]] static void bad_extension(const char *name, const char *why) {
  bad_long_value(find_long_option(xopts, name)->word, why);
}

// Checks of the extension values that need the design: the factors left to
// screen, and the size of the model set, before any work is done. The log
// is open by now: these refusals go to the screen and the log alike, while
// the design file's own errors keep the screen alone, as without extension
// options.
static void check_model_space(const Design &design) {
  const ModelSpace &space = settings.model_space;
  const int nv = design.analysed;
  char why[200];
  if (find_long_option(xopts, "gamma-int")->given) {
    if (!(space.gam_int > 0)) bad_extension("gamma-int", "the prior ratio must be greater than 0");
    if (!prior_precision_finite(space.gam_int))
      bad_extension("gamma-int", "the prior ratio is too small: its prior precision 1/G^2 overflows");
    // A gamma grid scales the interaction ratio with gamma.
    if (settings.gamma_grid.n > 0 &&
        !prior_precision_finite(space.gam_int * (settings.gamma_grid.lo / settings.gamma)))
      bad_extension("gamma-int", "at the grid's least gamma its prior precision 1/G^2 overflows");
  }
  if (space.blocks >= nv) {
    snprintf(why, sizeof why, "%d column%s analysed, so no factor would be left to screen", nv,
             nv == 1 ? " is" : "s are");
    bad_extension("blocks", why);
  }
  const int k = screened_factors(design, space);
  if (find_long_option(xopts, "max-factors")->given && space.max_factors > k) {
    snprintf(why, sizeof why, "only %d factor%s to screen", k, k == 1 ? " is left" : "s are left");
    bad_extension("max-factors", why);
  }
  if (model_space_searched(design, settings)) {
    if (space.keep_aliased) bad_extension("keep-aliased", "the model search weighs only models whose X'X is regular");
    if (settings.step) bad_extension("search", "a search has no fits to step through (-S, -V)");
    // The factors space searched has no model table: what is made from
    // every model's fit is not offered.
    if (settings.effects.kind == SpaceKind::Factors)
      for (const char *name : {"follow-up", "gamma-grid", "pi-grid", "effects"})
        if (find_long_option(xopts, name)->given)
          bad_extension(name, "the factors space is searched, not enumerated, so there is no model table for it");
  }
  check_model_set_size(design, settings);
}

// Checks of the follow-up options before the fits: the options that only
// shape a follow-up need --follow-up, the criterion needs an error variance
// (two runs at least) and two models; the candidate file is read here, so
// that a bad one ends the run before any work.
static CandidateRuns check_follow_up(const Design &design) {
  const bool wanted = find_long_option(xopts, "follow-up")->given;
  for (const char *name : {"candidates", "md-models", "starts", "top", "max-seconds"})
    if (find_long_option(xopts, name)->given && !wanted)
      bad_extension(name, "it shapes the follow-up runs, so it needs --follow-up=N");
  if (find_long_option(xopts, "random-seed")->given && !wanted && settings.search.mode == SearchMode::Exact)
    bad_extension("random-seed", "it seeds the follow-up runs' exchange or the model search, so it needs "
                  "--follow-up=N or --search=mcmc|auto");
  if (!wanted) return {};
  if (find_long_option(xopts, "max-seconds")->given && !(settings.follow_up.max_seconds > 0))
    bad_extension("max-seconds", "the time bound must be greater than 0");
  if (design.runs < 2) bad_extension("follow-up", "the design has one run, so no model has an error variance");
  if (count_models(design, settings.model_space) < 2)
    bad_extension("follow-up", "the model set holds one model, so there is nothing to discriminate");
  if (settings.follow_up.candidates == nullptr) return {};
  const char *path = settings.follow_up.candidates;
  FILE *file = fxopen(path, "rb");
  LineReader lines(file, path);
  CandidateRuns candidates = read_candidate_file(lines, design, settings);
  fxclose(file, path);
  return candidates;
}

// The grids of --gamma-grid and --pi-grid; a bad one ends the run with a
// message naming the word as typed.
static void read_prior_grids() {
  if (gamma_grid_text != nullptr) {
    const char *why = parse_gamma_grid(gamma_grid_text, &settings.gamma_grid);
    if (why != nullptr) bad_extension("gamma-grid", why);
  }
  if (pi_grid_text != nullptr) {
    const char *why = parse_pi_grid(pi_grid_text, &settings.pi_grid);
    if (why != nullptr) bad_extension("pi-grid", why);
  }
}

// The effects-space options: --recommended first, then each option given,
// which overrides what --recommended sets. The options of the effects
// space's prior need that space; the options that only the factors space
// knows are refused in it.
static void read_effects_options() {
  EffectsPrior &prior = settings.effects;
  if (recommended) {
    prior.kind = SpaceKind::Effects;
    prior.heredity = Heredity::Strong;
    prior.beta_a = prior.beta_b = 1;
    prior.gamma_prior = GridSpec{0.5, 5, 10};
    settings.model_space.with_null = 1;
    settings.search.mode = SearchMode::Auto;
    // Past a million models the search is the faster way to the answer.
    if (!find_long_option(xopts, "max-models")->given) settings.model_space.max_models = kRecommendedMaxModels;
  }
  const char *why = nullptr;
  if (model_space_text != nullptr && (why = parse_model_space(model_space_text, &prior)) != nullptr)
    bad_extension("model-space", why);
  if (heredity_text != nullptr && (why = parse_heredity(heredity_text, &prior)) != nullptr)
    bad_extension("heredity", why);
  if (heredity_probs_text != nullptr && (why = parse_heredity_probs(heredity_probs_text, &prior)) != nullptr)
    bad_extension("heredity-probs", why);
  if (pi_prior_text != nullptr && (why = parse_pi_prior(pi_prior_text, &prior)) != nullptr)
    bad_extension("pi-prior", why);
  if (gamma_prior_text != nullptr && (why = parse_gamma_grid(gamma_prior_text, &prior.gamma_prior)) != nullptr)
    bad_extension("gamma-prior", why);
  if (search_text != nullptr && (why = parse_search_mode(search_text, &settings.search)) != nullptr)
    bad_extension("search", why);
  if (find_long_option(xopts, "iterations")->given) settings.search.iterations = search_iterations;
  if (find_long_option(xopts, "burn-in")->given) settings.search.burn_in = search_burn_in;
  const bool effects = prior.kind == SpaceKind::Effects;
  if (settings.search.mode == SearchMode::Exact)
    for (const char *name : {"chains", "iterations", "burn-in"})
      if (find_long_option(xopts, name)->given)
        bad_extension(name, "it shapes the search, so it needs --search=mcmc or --search=auto");
  for (const char *name : {"heredity", "heredity-probs", "pi-prior", "gamma-prior"})
    if (find_long_option(xopts, name)->given && !effects)
      bad_extension(name, "it shapes the prior of the effects space, so it needs --model-space=effects");
  if (!effects) return;
  for (const char *name : {"max-factors", "gamma-grid", "pi-grid", "follow-up"})
    if (find_long_option(xopts, name)->given)
      bad_extension(name, "the effects space (--model-space=effects) does not offer it");
  // Interactions of two factors unless --order says otherwise.
  if (!find_long_option(xopts, "order")->given) settings.model_space.order = 2;
}

// The options in force as the result files describe them, every one by its
// name and value: the single-letter options with the values the run uses
// (after the design file's parameter line), and the extension options as
// given, a result file's name as it will be written.
static void describe_options(RunDescription &run, const Design &design) {
  run.letter_options.clear();
  for (const FlagSpec *row = ss; row->flag != 0; row++) {
    if (row->var == nullptr) continue;
    OptionValue value;
    switch (row->vartype) {
      case VAR_FLAG: value = *static_cast<const int32_t *>(row->var) != 0; break;
      case VAR_INT: value = static_cast<int64_t>(*static_cast<const int32_t *>(row->var)); break;
      case VAR_DOUBLE: value = *static_cast<const double *>(row->var); break;
      default: break;
    }
    // -N: the factors the run analyses, as settled from -N, -L and Nvars=.
    if (row->flag == 'N') value = static_cast<int64_t>(design.analysed);
    run.letter_options.push_back({std::string(1, row->flag), value});
  }
  run.extension_options.clear();
  run.extension_words.clear();
  for (const LongOption *row = xopts; row->name != nullptr; row++) {
    if (!row->given || row->target == nullptr) continue;
    OptionValue value;
    switch (row->kind) {
      case LongKind::Flag: value = true; break;
      case LongKind::Int: value = static_cast<int64_t>(*static_cast<const int32_t *>(row->target)); break;
      case LongKind::Double: value = *static_cast<const double *>(row->target); break;
      case LongKind::Text:
      case LongKind::OptionalText: {
        const char *text = *static_cast<const char *const *>(row->target);
        if (row->target == &result_files.json) text = run.json.c_str();
        if (row->target == &result_files.csv_prefix) text = run.csv_prefix.c_str();
        if (row->target == &result_files.svg) text = run.svg.c_str();
        if (row->target == &result_files.html) text = run.html.c_str();
        if (text != nullptr) value = std::string(text);
        break;
      }
    }
    run.extension_options.push_back({row->name, value});
    run.extension_words.push_back(row->word);
  }
}

void show_description() {
  printf("Carry out procedures to find the factors in an experimental design\n");
  printf("  that are Active as opposed to Inert, including a Bayesian regression\n");
  printf("  procedure due to Box and Meyer used find both\n");
  printf("    (a) posterior model probabilities and\n");
  printf("    (b) posterior probabilities that individual factors are Active.\n");
  printf("Procedures carried out:\n");
  printf("  (1) Find best 2^1, 2^2, and 2^3 submodels via several criteria\n");
  printf("    including Bayesian posterior model probability,\n");
  printf("  (2) Find posterior probabilities that individual factors\n");
  printf("    are active (perhaps in an interaction) by various criteria\n");
  printf("See Statistics for Experimenters (2nd ed.), App. 7A-7B, pp. 306-310, "
         "and Ch. 7, pp. 289-293,\n");
  printf("  for a description of the Bayesian regression procedure.\n");
  printf("Options -P -G below are used only in the Bayesian procedure.\n");
  printf("Syntax of  infile[.txt]:\n");
  printf("  Line1: Heading line (text description)\n");
  printf("  Line2: Parameter settings (tagged list, must have Nrows= Ncols=)\n");
  printf("  Line3: Must start with word Data, perhaps after a Labels block\n");
  printf("  Lines4++:  Row number, Design matrix, Response variable\n");
  printf("Blank lines and lines beginning with one of %s are ignored.\n", lr_commchars);
}

// The log takes the input name as typed plus ".out.txt" ("l.out.txt" with
// -L), or the second argument plus that extension when it has no dot.
static void derive_file_names() {
  const char *ext = settings.all_columns ? "l.out.txt" : ".out.txt";
  if (outfile != nullptr && strchr(outfile, '.') == nullptr)
    outfile = add_extent(outfile, ext);
  else
    outfile = add_extent(infile, ext);
  if (strchr(infile, '.') == nullptr) infile = add_extent(infile, ".txt");
}

static int run_program(int argc, char **argv);

// The words of a comma list, each as typed (empty words kept, so that the
// table reader names them).
static std::vector<std::string> comma_list(const char *text) {
  std::vector<std::string> words;
  if (text == nullptr) return words;
  std::string word;
  for (const char *c = text;; c++) {
    if (*c == ',' || *c == '\0') {
      words.push_back(word);
      word.clear();
      if (*c == '\0') break;
    } else {
      word += *c;
    }
  }
  return words;
}

// The whole text of an open file.
static std::string file_text(FILE *file) {
  std::string text;
  char buffer[1 << 16];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  return text;
}

// True when the input is a table: named .csv or .tsv, and not a design file
// in the line format. A table file that cannot be opened counts as a
// table, so that the opening reports it as always (rather than a table
// option being refused).
static bool is_table_input(const char *path) {
  if (!is_table_file_name(path)) return false;
  FILE *file = fopen(path, "rb");
  if (file == nullptr) return true;
  const std::string text = file_text(file);
  fclose(file);
  return !is_design_file_text(text);
}

// A table's prior values come from the command line alone: the checks the
// design reader makes of a parameter line's.
static void check_table_priors() {
  char text[200];
  const double pi = settings.pi, gamma = settings.gamma;
  if (!std::isfinite(pi) || !(pi > 0.0 && pi < 1.0)) {
    snprintf(text, sizeof text, "\nILLEGAL VALUE for PI: Pi=%g must lie strictly between 0 and 1 !\n", pi);
    throw Error(text);
  }
  if (!std::isfinite(gamma) || !(gamma > 0.0)) {
    snprintf(text, sizeof text, "\nILLEGAL VALUE for GAMMA: Gamma=%g must be greater than 0 !\n", gamma);
    throw Error(text);
  }
}

// Reads a table file (text already read) as the design: refusals end the
// run before the log is opened, so that nothing is written. Then opens the
// log and prints what was read and the coding table.
static Design read_table_design(const std::string &text) {
  TableOptions options;
  options.separator = table_separator(infile);
  if (response_text != nullptr) options.response = response_text;
  options.factors = comma_list(factors_text);
  for (const std::string &word : comma_list(coding_text)) options.codings.push_back(parse_coding(word));
  check_table_priors();
  Design design = design_from_table(read_table(text, infile, options), infile, settings);
  openlog_file(outfile, 0);
  logprintf("\nOutput of %s from input file %s\n", pgname, infile);
  bprintf("\nTABLE in %s: %d run%s, %d factor column%s, response %s\n", infile, design.runs,
          plural(design.runs), design.columns, plural(design.columns), design.response_name.c_str());
  bprintf("Values of variables:\n  Pi=%g  Gamma=%g  Alpha=%g\n", settings.pi, settings.gamma, settings.alpha);
  show_coding_table(design);
  return design;
}

void print_error(const Error &error) {
  if (const auto *refused = dynamic_cast<const AllocationError *>(&error))
    no_alloc(refused->bytes(), refused->allocator());
  switch (error.channel()) {
    case Channel::Screen: printf("%s", error.message().c_str()); break;
    case Channel::ScreenAndLog: bprintf("%s", error.message().c_str()); break;
    case Channel::StdErr: fprintf(stderr, "%s", error.message().c_str()); break;
  }
  if (error.line()) {
    const LineContext &line = *error.line();
    Printer print = line.to_log ? bprintf : printf;
    if (!line.text.empty()) print("  %s\n", line.text.c_str());
    print("Line #%u in %s\n", line.number, line.file.c_str());
  }
  if (error.shows_places()) {
    fflush(stdout);  // the message comes before the places on a shared console
    show_program_places();
  }
}

int bayescreen_main(int argc, char **argv) {
  attach_closed_std_descriptors();
  // Every block refused to operator new ends the run with the allocation
  // report, wherever it was asked for: the handler never returns, so no
  // std::bad_alloc meets a noexcept frame and ends the process by abort().
  std::set_new_handler(no_new_memory);
  try {
    return run_program(argc, argv);
  } catch (const Error &error) {
    print_error(error);
    exit(1);
  } catch (const std::bad_alloc &) {
    // Not reached through operator new; a library that throws the error
    // itself (an allocator of its own) ends the run the same way.
    no_new_memory();
  }
}

static int run_program(int argc, char **argv) {
  seterr_signals();
  set_run_signals();
  PlaceGuard place("Main");
  show_description();
  printf("Program version %s\n", kProgramVersion);
  program_path = argc > 0 ? argv[0] : nullptr;
  const std::vector<std::string> command_line(argv, argv + argc);  // before the options are taken out
  pgname = progname();
  show_command_line(pgname, argc, argv);
  printf("Syntax:  %s  <infile[.txt]>  -options\n", pgname);
  take_long_options(&argc, argv, xopts);
  if (want_help) {
    printf("Options:\n");
    setflags_options(ss);
    printf("Extension options (opt-in; each a word of its own):\n");
    show_long_options(xopts, printf);
    printf("Example: the 4 runs that best tell apart the 5 leading models of the\n"
           "  injection-moulding factors A C E H (the design in a file inj.txt):\n"
           "    bayescreen inj --null --max-factors=4 --keep-aliased -G2 --md-models=5 "
           "--follow-up=4\n");
    printf("Effects space: --model-space=effects weighs every set of main effects and\n"
           "  interactions (to --order, default 2) by its Box-Meyer marginal likelihood\n"
           "  times a prior that is a product over the effects: main effects with\n"
           "  probability pi (-P, or Beta-distributed with --pi-prior), interactions by\n"
           "  heredity (--heredity, --heredity-probs), gamma fixed (-G) or averaged\n"
           "  (--gamma-prior). Every model of nonzero prior is enumerated, or with\n"
           "  --search=mcmc searched by Markov chain Monte Carlo (--chains, --iterations,\n"
           "  --burn-in, --random-seed): each probability then has its standard error.\n");
    printf("Recommended analysis: --recommended sets the null model, the effects space\n"
           "  with interactions to order 2 under strong heredity (an interaction only with\n"
           "  both of its main effects: Chipman, Hamada & Wu 1997), pi ~ Beta(1,1) (the\n"
           "  prior corrects for the number of factors: Scott & Berger 2010) and gamma\n"
           "  averaged over 0.5 to 5 (no single effect size assumed). It finds main\n"
           "  effects and interactions with few false alarms when nothing is active.\n"
           "  Spaces past --max-models are searched (--search=auto).\n");
    printf("Prior grids: --gamma-grid=0.5:5:10 adds, after the factor tables, each factor's\n"
           "  posterior probability at gamma = 0.5, 1, 1.5, ... 5, and a Support row:\n"
           "  p(y | gamma, pi) normalised over the grid, largest at the value the data\n"
           "  favour most. The rest of the report stays at -P and -G.\n");
    printf("Tables: a design file named .csv or .tsv (a spreadsheet's export: a header row,\n"
           "  one row per run) is read by its column names, each factor coded -1/+1 (a\n"
           "  middle number 0); the coding table comes before the analysis:\n"
           "    bayescreen trial.csv --response=Yield --coding=Catalyst:old/new --effects\n");
    exit(0);
  }
  read_prior_grids();
  read_effects_options();

  char **args = setflags(argc, argv, ss, 2, 1);
  const char *extensions = given_long_options(xopts);
  if (*extensions != '\0') printf("with extension options:%s\n", extensions);
  if (settings.verbose) settings.step = 1;
  infile = args[0];
  outfile = args[1];
  if (infile == nullptr) {
    printf("Need a file name.\n");
    exit(1);
  }
  derive_file_names();
  refuse_log_over_input(outfile, infile);
  result_files.json_given = find_long_option(xopts, "json")->given;
  result_files.csv_given = find_long_option(xopts, "csv-files")->given;
  result_files.svg_given = find_long_option(xopts, "svg-file")->given;
  const bool table_input = is_table_input(infile);
  if (!table_input)
    for (const char *name : {"response", "factors", "coding"})
      if (find_long_option(xopts, name)->given)
        bad_extension(name, "only a table (a file named .csv or .tsv) has named columns");
  result_files.html_given = find_long_option(xopts, "html")->given;
  RunDescription run;
  run.command_line = command_line;
  run.program_version = kProgramVersion;
  run.input = infile;
  run.log = outfile;
  prepare_result_files(result_files, settings, run, table_input);

  FILE *file = fxopen(infile, "rb");
  std::string table_text;
  if (table_input) {
    table_text = file_text(file);
    fxclose(file, infile);
  }
  const Design design = table_input ? read_table_design(table_text) : [file] {
    LineReader lines(file, infile);
    DesignEcho echo(settings, [](const Design &) {
      openlog_file(outfile, 0);
      logprintf("\nOutput of %s from input file %s\n", pgname, infile);
    });
    Design read = read_design(lines, settings, &echo);
    return read;
  }();
  printf("Closing the file %s\n", infile);
  if (!table_input) fxclose(file, infile);
  show_factor_letters(design);
  describe_options(run, design);
  if (*extensions != '\0') logprintf("\nExtension options in force:%s\n", extensions);
  check_model_space(design);
  AnalysisRequest request;
  request.candidates = check_follow_up(design);
  request.all_weightings = result_files_wanted(run);
  request.effects = want_effects || result_files_wanted(run);
  SearchProgressLine report(design, settings, want_effects != 0, !quiet && isatty(fileno(stderr)));
  const Results results = analyse(design, settings, &report, request);
  nl();
  closelog_file_name();
  write_result_files(ExportInput{design, settings, results, run});
  return log_failed ? 1 : 0;
}

}  // namespace bayescreen
