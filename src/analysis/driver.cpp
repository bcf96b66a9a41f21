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
    {'P', &pi, VAR_DOUBLE, "Prior proportion of active factors", 1, 0,
     &parmvar[PARM_PI].cline, 0, nullptr, nullptr, 0},
    {'G', &gam, VAR_DOUBLE, "Prior StdDev ratio Active factors/Model error", 1, 0,
     &parmvar[PARM_GAMMA].cline, 0, nullptr, nullptr, 0},
    {'A', &alpha, VAR_DOUBLE, "Effects active only if Pval less than this", 1, 0,
     &parmvar[PARM_ALPHA].cline, 0, nullptr, nullptr, 0},
    {'N', &nv, VAR_INT, "Submodels of first N variables (Max: Number of columns)", 0, 0,
     &parmvar[PARM_NVARS].cline, 0, nullptr, nullptr, 0},
    {'L', &allvars, VAR_FLAG, "Submodels of ALL column variables", 0, 0,
     &parmvar[PARM_NVARS].cline, 0, nullptr, nullptr, 0},
    {'R', &rankall, VAR_FLAG, "List all models in best-fit lists", 0, 0, nullptr, 0, nullptr,
     nullptr, 0},
    {'C', &moreranks, VAR_FLAG, "More sorts in model lists (Default: Fstat BPostProb only)", 0, 0,
     nullptr, 0, nullptr, nullptr, 0},
    {'D', &moreposts, VAR_FLAG, "More post.prob. lists (Default: Fstat Likelihood BPostProb only)",
     0, 0, nullptr, 0, nullptr, nullptr, 0},
    {'E', &all_by_size, VAR_FLAG, "Within-size sorts for all model sorts (Default: First only)", 0,
     0, nullptr, 0, nullptr, nullptr, 0},
    {'S', &showstep, VAR_FLAG, "Step through model results", 0, 0, nullptr, 0, nullptr, nullptr,
     0},
    {'V', &verbose, VAR_FLAG, "Verbose output", 0, 0, nullptr, 0, nullptr, nullptr, 0},
    {0, nullptr, 0, nullptr, 0, 0, nullptr, 0, nullptr, nullptr, 0},
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
  seterr_signals();
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
  readdat(infile);
  init_models();
  show_model_names();
  calc_model_fields();
  rank_models();
  show_post_active();
  nl();
  closelog_file_name();
  return 0;
}

}  // namespace bayescreen
