#include "analysis/driver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "analysis/calcmodels.h"
#include "analysis/models.h"
#include "analysis/postactive.h"
#include "analysis/rankmodels.h"
#include "analysis/readdat.h"
#include "options/toklist.h"
#include "support/errsignals.h"
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

static constexpr const char *kVersion = "April 9, 2008";

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

int bayescreen_main(int argc, char **argv) {
  attach_closed_std_descriptors();
  seterr_signals();
  set_run_signals();
  PlaceGuard place("Main");
  show_description();
  printf("Program version %s\n", kVersion);
  program_path = argc > 0 ? argv[0] : nullptr;
  pgname = progname();
  show_command_line(pgname, argc, argv);
  printf("Syntax:  %s  <infile[.txt]>  -options\n", pgname);

  char **args = setflags(argc, argv, ss, 2, 1);
  if (verbose) showstep = 1;
  infile = args[0];
  outfile = args[1];
  if (infile == nullptr) {
    printf("Need a file name.\n");
    exit(1);
  }
  derive_file_names();
  refuse_log_over_input(outfile, infile);
  readdat(infile);
  init_models();
  show_model_names();
  calc_model_fields();
  rank_models();
  show_post_active();
  nl();
  closelog_file_name();
  return log_failed ? 1 : 0;
}

}  // namespace bayescreen
