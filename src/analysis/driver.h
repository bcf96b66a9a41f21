// The program's entry: option table, option settings and the run sequence.
#pragma once
#include <cstdint>

#include "options/setflags.h"

namespace bayescreen {

extern double pi;           // prior proportion of active factors
extern double gam;          // prior ratio of active-effect to error standard deviation
extern double alpha;        // effects count as active only when their P-value is below this
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

extern FlagSpec ss[];       // the program's option table

// The whole run; returns the exit status.
int bayescreen_main(int argc, char **argv);
// Prints the description text that opens every run.
void show_description();

}  // namespace bayescreen
