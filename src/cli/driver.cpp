#include "cli/driver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

#include "engine/calcmodels.h"
#include "engine/candidates.h"
#include "engine/followup.h"
#include "engine/models.h"
#include "engine/postactive.h"
#include "engine/priorgrid.h"
#include "engine/rankmodels.h"
#include "engine/readdat.h"
#include "export/results.h"
#include "cli/longopts.h"
#include "cli/toklist.h"
#include "cli/errsignals.h"
#include "support/helpers.h"
#include "support/lineread.h"
#include "support/logfile.h"
#include "support/showplaces.h"

namespace bayescreen {

double pi = 0.25;
double gam = 2.5;
double alpha = 2.0;
int32_t allvars = 0;
int32_t rankall = 0;
int32_t moreranks = 0;
int32_t moreposts = 0;
int32_t all_by_size = 0;
int32_t showstep = 0;
int32_t verbose = 0;
char *pgname = nullptr;
char *infile = nullptr;
char *outfile = nullptr;
ModelSpace modelspace;
FollowUpSettings followup;
PriorGrids priorgrids;
ResultFiles result_files;

const char kProgramVersion[] = "April 9, 2008";

FlagSpec ss[] = {
    {.flag = 'P', .var = &pi, .vartype = VAR_DOUBLE,
     .descript = "Prior proportion of active factors", .showdefault = 1,
     .setvar = &parmvar[PARM_PI].cline},
    {.flag = 'G', .var = &gam, .vartype = VAR_DOUBLE,
     .descript = "Prior StdDev ratio Active factors/Model error", .showdefault = 1,
     .setvar = &parmvar[PARM_GAMMA].cline},
    {.flag = 'A', .var = &alpha, .vartype = VAR_DOUBLE,
     .descript = "Effects active only if Pval less than this", .showdefault = 1,
     .setvar = &parmvar[PARM_ALPHA].cline},
    {.flag = 'N', .var = &nv, .vartype = VAR_INT,
     .descript = "Submodels of first N variables (Max: Number of columns)",
     .setvar = &parmvar[PARM_NVARS].cline},
    {.flag = 'L', .var = &allvars, .vartype = VAR_FLAG,
     .descript = "Submodels of ALL column variables", .setvar = &parmvar[PARM_NVARS].cline},
    {.flag = 'R', .var = &rankall, .vartype = VAR_FLAG,
     .descript = "List all models in best-fit lists"},
    {.flag = 'C', .var = &moreranks, .vartype = VAR_FLAG,
     .descript = "More sorts in model lists (Default: Fstat BPostProb only)"},
    {.flag = 'D', .var = &moreposts, .vartype = VAR_FLAG,
     .descript = "More post.prob. lists (Default: Fstat Likelihood BPostProb only)"},
    {.flag = 'E', .var = &all_by_size, .vartype = VAR_FLAG,
     .descript = "Within-size sorts for all model sorts (Default: First only)"},
    {.flag = 'S', .var = &showstep, .vartype = VAR_FLAG,
     .descript = "Step through model results"},
    {.flag = 'V', .var = &verbose, .vartype = VAR_FLAG, .descript = "Verbose output"},
    {},
};

// The extension options: opt-in long words, taken out of the argument list
// before the single-letter options are parsed.
static int32_t want_help = 0;
LongOption xopts[] = {
    {.name = "help", .kind = LongKind::Flag, .target = &want_help,
     .help = "list the options, then stop"},
    {.name = "null", .kind = LongKind::Flag, .target = &modelspace.with_null,
     .help = "the null model (no factor active) joins the model set"},
    {.name = "max-factors", .kind = LongKind::Int, .target = &modelspace.max_factors,
     .value_name = "K", .help = "models of 1 to K factors (default 3)", .min = 1, .max = 61},
    {.name = "order", .kind = LongKind::Int, .target = &modelspace.order, .value_name = "R",
     .help = "interactions up to order R in each model (1: main effects only; default 3)",
     .min = 1, .max = 61},
    {.name = "keep-aliased", .kind = LongKind::Flag, .target = &modelspace.keep_aliased,
     .help = "models with a singular X'X keep their Box-Meyer posterior"},
    {.name = "blocks", .kind = LongKind::Int, .target = &modelspace.blocks, .value_name = "B",
     .help = "the first B columns are blocking variables, in every model", .min = 1, .max = 60},
    {.name = "gamma-int", .kind = LongKind::Double, .target = &modelspace.gam_int,
     .value_name = "G", .help = "prior ratio of interaction effects (default: that of -G)"},
    {.name = "max-models", .kind = LongKind::Int, .target = &modelspace.max_models,
     .value_name = "N", .help = "refuse model sets of more than N models (default 16,777,216)",
     .min = 1, .max = INT32_MAX - 8},
    {.name = "follow-up", .kind = LongKind::Int, .target = &followup.runs, .value_name = "N",
     .help = "choose N more runs (1 to 64) that best tell the leading models apart",
     .min = 1, .max = 64},
    {.name = "candidates", .kind = LongKind::Text, .target = &followup.candidates,
     .value_name = "FILE",
     .help = "candidate follow-up runs, a design file (default: full factorial)"},
    {.name = "md-models", .kind = LongKind::Int, .target = &followup.md_models,
     .value_name = "M", .help = "leading models the follow-up runs discriminate (default 32)",
     .min = 2, .max = 1024},
    {.name = "starts", .kind = LongKind::Int, .target = &followup.starts, .value_name = "S",
     .help = "random starts of the follow-up exchange search (default 50)", .min = 1,
     .max = 1000000},
    {.name = "top", .kind = LongKind::Int, .target = &followup.top, .value_name = "T",
     .help = "best follow-up designs reported (default 5)", .min = 1, .max = 100},
    {.name = "random-seed", .kind = LongKind::Int, .target = &followup.seed, .value_name = "N",
     .help = "seed of the follow-up exchange search (default 1)", .min = 0,
     .max = INT32_MAX},
    {.name = "max-seconds", .kind = LongKind::Double, .target = &followup.max_seconds,
     .value_name = "S", .help = "stop the follow-up exchange search after S seconds (default: none)"},
    {.name = "gamma-grid", .kind = LongKind::Text, .target = &priorgrids.gamma_text,
     .value_name = "LO:HI:N", .help = "factor probabilities and the data's support at N gammas from LO to HI"},
    {.name = "pi-grid", .kind = LongKind::Text, .target = &priorgrids.pi_text,
     .value_name = "LO:HI:N", .help = "the same at N values of pi (with --gamma-grid: every pair)"},
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
    {},
};

// The most columns a model matrix may have: beyond this the fits would take
// minutes per model and most models would be singular in any real design.
static constexpr int kMaxModelColumns = 1024;

[[noreturn]] static void bad_extension(const char *name, const char *why) {
  bad_long_value(find_long_option(xopts, name)->word, why);
}

// Checks of the extension values that need the design: the factors left to
// screen, and the size of the model set, before any work is done. The log
// is open by now: these refusals go to the screen and the log alike, while
// the design file's own errors keep the screen alone, as without extension
// options.
static void check_model_space() {
  char why[200];
  if (find_long_option(xopts, "gamma-int")->given) {
    if (!(modelspace.gam_int > 0)) bad_extension("gamma-int", "the prior ratio must be greater than 0");
    if (!prior_precision_finite(modelspace.gam_int))
      bad_extension("gamma-int", "the prior ratio is too small: its prior precision 1/G^2 overflows");
    // A gamma grid scales the interaction ratio with gamma.
    if (priorgrids.gamma.n > 0 && !prior_precision_finite(modelspace.gam_int * (priorgrids.gamma.lo / gam)))
      bad_extension("gamma-int", "at the grid's least gamma its prior precision 1/G^2 overflows");
  }
  if (modelspace.blocks >= nv) {
    snprintf(why, sizeof why, "%d column%s analysed, so no factor would be left to screen", nv,
             nv == 1 ? " is" : "s are");
    bad_extension("blocks", why);
  }
  const int k = screened_factors();
  if (find_long_option(xopts, "max-factors")->given && modelspace.max_factors > k) {
    snprintf(why, sizeof why, "only %d factor%s to screen", k, k == 1 ? " is left" : "s are left");
    bad_extension("max-factors", why);
  }
  const uint64_t count = count_models();
  if (count > static_cast<uint64_t>(modelspace.max_models)) {
    bprintf("\nTOO MANY MODELS: the model set holds %llu models, more than the limit of %d !\n"
            "(Narrow it with --max-factors or --order, or raise the limit with --max-models=N.)\n",
            static_cast<unsigned long long>(count), modelspace.max_models);
    exit(1);
  }
  const int largest = model_columns(modelspace.max_factors < k ? modelspace.max_factors : k);
  if (largest > kMaxModelColumns) {
    bprintf("\nTOO MANY COLUMNS: the largest model matrix would have %d columns, at most %d are "
            "allowed !\n(Lower --max-factors or --order.)\n",
            largest, kMaxModelColumns);
    exit(1);
  }
}

// Checks of the follow-up options before the fits: the options that only
// shape a follow-up need --follow-up, the criterion needs an error variance
// (two runs at least) and two models; the candidate file is read here, so
// that a bad one ends the run before any work.
static void check_follow_up() {
  const bool wanted = find_long_option(xopts, "follow-up")->given;
  for (const char *name : {"candidates", "md-models", "starts", "top", "random-seed", "max-seconds"})
    if (find_long_option(xopts, name)->given && !wanted)
      bad_extension(name, "it shapes the follow-up runs, so it needs --follow-up=N");
  if (!wanted) return;
  if (find_long_option(xopts, "max-seconds")->given && !(followup.max_seconds > 0))
    bad_extension("max-seconds", "the time bound must be greater than 0");
  if (nn < 2) bad_extension("follow-up", "the design has one run, so no model has an error variance");
  if (count_models() < 2)
    bad_extension("follow-up", "the model set holds one model, so there is nothing to discriminate");
  if (followup.candidates != nullptr) {
    lr_errors_to_log = 1;
    followup_result.candidates = read_candidate_file(followup.candidates);
    lr_errors_to_log = 0;
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
  const char *ext = allvars ? "l.out.txt" : ".out.txt";
  if (outfile != nullptr && strchr(outfile, '.') == nullptr)
    outfile = add_extent(outfile, ext);
  else
    outfile = add_extent(infile, ext);
  if (strchr(infile, '.') == nullptr) infile = add_extent(infile, ".txt");
}

// The run itself, after the handlers are in place.
static int run(int argc, char **argv) {
  seterr_signals();
  set_run_signals();
  PlaceGuard place("Main");
  show_description();
  printf("Program version %s\n", kProgramVersion);
  program_path = argc > 0 ? argv[0] : nullptr;
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
    printf("Prior grids: --gamma-grid=0.5:5:10 adds, after the factor tables, each factor's\n"
           "  posterior probability at gamma = 0.5, 1, 1.5, ... 5, and a Support row:\n"
           "  p(y | gamma, pi) normalised over the grid, largest at the value the data\n"
           "  favour most. The rest of the report stays at -P and -G.\n");
    exit(0);
  }
  read_prior_grids(find_long_option(xopts, "gamma-grid")->word, find_long_option(xopts, "pi-grid")->word);

  char **args = setflags(argc, argv, ss, 2, 1);
  const char *extensions = given_long_options(xopts);
  if (*extensions != '\0') printf("with extension options:%s\n", extensions);
  if (verbose) showstep = 1;
  infile = args[0];
  outfile = args[1];
  if (infile == nullptr) {
    printf("Need a file name.\n");
    exit(1);
  }
  derive_file_names();
  refuse_log_over_input(outfile, infile);
  prepare_result_files();
  readdat(infile);
  if (*extensions != '\0') logprintf("\nExtension options in force:%s\n", extensions);
  check_model_space();
  check_follow_up();
  init_models();
  show_model_names();
  calc_model_fields();
  rank_models();
  show_post_active();
  if (prior_grids_given()) {
    compute_prior_grid();
    show_prior_grid();
  }
  if (followup.runs > 0) run_follow_up();
  nl();
  closelog_file_name();
  write_result_files();
  return log_failed ? 1 : 0;
}

int bayescreen_main(int argc, char **argv) {
  attach_closed_std_descriptors();
  // Every block refused to operator new ends the run with the allocation
  // report, wherever it was asked for: the handler never returns, so no
  // std::bad_alloc meets a noexcept frame and ends the process by abort().
  std::set_new_handler(no_new_memory);
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc &) {
    // Not reached through operator new; a library that throws the error
    // itself (an allocator of its own) ends the run the same way.
    no_new_memory();
  }
}

}  // namespace bayescreen
