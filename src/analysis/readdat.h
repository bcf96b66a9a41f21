// The design file: heading, parameter line, labels and data rows; and the
// design it leaves for the model steps.
#pragma once
#include <cstdint>

namespace bayescreen {

// One keyword of the parameter line. The command-line options that set the
// same variable mark `cline`, so that their value wins over the file's.
struct ParmEntry {
  const char *match1, *match2, *match3;  // match prefixes, compared without case
  const char *keyname;                   // upper-case name used in messages
  const char *showname;                  // mixed-case name used in the echo
  int32_t rowindex;
  void *varptr;                          // the variable the row sets
  int32_t isreal;                        // 1: double ("%lf"), 0: int ("%d")
  int32_t pline;                         // given in the parameter line
  int32_t cline;                         // given on the command line
};

enum ParmRow : int { PARM_NROWS = 0, PARM_NCOLS, PARM_NVARS, PARM_PI, PARM_GAMMA, PARM_ALPHA };

extern ParmEntry parmvar[];

// The design.
extern int32_t nn;          // runs (Nrows)
extern int32_t mm;          // design columns, one per factor (Ncols)
extern int32_t nv;          // leading factors whose submodels are built (Nvars)
extern int32_t *rownum;     // run numbers as written
extern int32_t *ximat;      // nn x mm design entries, row by row
extern double *yy;          // responses
extern char **label;        // factor labels A, B, C, ...
extern int nlab;            // labels read
extern char *factorstr;     // factor letters A..H, J, K, ... (no I)
extern char *digitstr;      // '0' + column index

}  // namespace bayescreen
