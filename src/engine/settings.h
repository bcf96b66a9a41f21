// The run's settings: the values the options and the design file's
// parameter line set, read by every analysis step. They are defined with the
// driver, whose option table writes them.
#pragma once
#include <cstdint>

namespace bayescreen {

extern double pi;           // -P, Pi=: prior proportion of active factors
extern double gam;          // -G, Gamma=: prior ratio of active-effect to error standard deviation
extern double alpha;        // -A, Alpha=: effects count as active only when their P-value is below this
extern int32_t allvars;     // -L: submodels of all columns
extern int32_t rankall;     // -R: list all models in the rankings
extern int32_t moreranks;   // -C: more sorts
extern int32_t moreposts;   // -D: more factor-weight tables
extern int32_t all_by_size; // -E: within-size tables for every sort
extern int32_t showstep;    // -S: step through the model fits
extern int32_t verbose;     // -V: verbose step output (implies -S)
extern char *pgname;        // upper-case program name
extern char *infile;        // input (design) file name
extern char *outfile;       // output (log) file name

// The model set in force, from the extension options; the defaults give
// every 1-, 2- and 3-factor full factorial of the factors analysed.
struct ModelSpace {
  int32_t blocks = 0;             // --blocks: leading design columns that are blocking variables
  int32_t max_factors = 3;        // --max-factors: models of 1 to K factors
  int32_t order = 3;              // --order: interactions up to this order
  int32_t with_null = 0;          // --null: the null model (intercept and blocks) joins the set
  int32_t keep_aliased = 0;       // --keep-aliased: singular models keep their Box-Meyer posterior
  double gam_int = 0;             // --gamma-int: prior ratio of interaction columns; 0: gam
  int32_t max_models = 16777216;  // --max-models: larger model sets are refused before any work
};
extern ModelSpace modelspace;

// Follow-up runs chosen to discriminate among the leading models, from the
// extension options; runs 0 means no follow-up.
struct FollowUpSettings {
  int32_t runs = 0;                  // --follow-up: runs to add (1 to 64)
  const char *candidates = nullptr;  // --candidates: file of candidate runs; null: the full factorial
  int32_t md_models = 32;            // --md-models: leading models that the criterion compares
  int32_t starts = 50;               // --starts: random starts of the exchange search
  int32_t top = 5;                   // --top: best designs reported
  int32_t seed = 1;                  // --random-seed: seed of the exchange search's generator
  double max_seconds = 0;            // --max-seconds: time bound of the exchange search (0: none)
};
extern FollowUpSettings followup;

// A grid of prior values: n values evenly spaced from lo to hi (n = 0: none).
struct GridSpec {
  double lo = 0, hi = 0;
  int32_t n = 0;
};
// The prior grids of the sensitivity report, from the extension options.
struct PriorGrids {
  const char *gamma_text = nullptr;  // --gamma-grid=LO:HI:N as given
  const char *pi_text = nullptr;     // --pi-grid=LO:HI:N as given
  GridSpec gamma;                    // the gamma grid read from gamma_text
  GridSpec pi;                       // the pi grid read from pi_text
};
extern PriorGrids priorgrids;

// The result files besides the log, from the extension options: each null
// unless asked for; the driver gives those asked for without a name their
// default names.
struct ResultFiles {
  const char *json = nullptr;        // --json: the results as one JSON document
  const char *csv_prefix = nullptr;  // --csv-files: PREFIX of PREFIX.models.csv, PREFIX.factors.csv
  const char *svg = nullptr;         // --svg-file: the figure of the factor probabilities
};
extern ResultFiles result_files;

}  // namespace bayescreen
