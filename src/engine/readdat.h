// The design file: heading, parameter line, labels and data rows; and the
// design it leaves for the model steps.
#pragma once
#include <cstdint>

namespace bayescreen {

// One keyword of the parameter line. The command-line options that set the
// same variable mark `cline`, so that their value wins over the file's.
struct ParmEntry {
  const char *match1 = nullptr;    // match prefixes, compared without case;
  const char *match2 = nullptr;    //   a null match1 ends the table
  const char *match3 = nullptr;
  const char *keyname = nullptr;   // upper-case name used in messages
  const char *showname = nullptr;  // mixed-case name used in the echo
  int32_t rowindex = 0;            // the row's own index in the table
  void *varptr = nullptr;          // the variable the row sets
  int32_t isreal = 0;              // 1: double ("%lf"), 0: int ("%d")
  int32_t pline = 0;               // given in the parameter line
  int32_t cline = 0;               // given on the command line
};

// The rows of parmvar.
enum ParmRow : int { PARM_NROWS = 0, PARM_NCOLS, PARM_NVARS, PARM_PI, PARM_GAMMA, PARM_ALPHA };

extern ParmEntry parmvar[];  // the parameter keywords, ended by a row with a null match1

// The design.
extern char *design_heading;  // the heading line as read
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

// Reads, checks and echoes the design file; opens the log file right after
// the heading line. Returns only on success: every problem ends the run
// with status 1 and a message that names the offending line.
void readdat(const char *path);
// Reads the keyword=value words of the parameter line into the parmvar
// variables (a value the command line set stands); splits line in place.
void parse_parmline(char *line);
// Ends the run when parmvar row k was given nowhere or is zero.
void check_novar(int k);
// The message for a parameter word whose value cannot be read; ends the run.
[[noreturn]] void fatal_errparse(int k, const char *word);
// "Values of variables:" and every parameter's value, screen and log.
void show_var_values();
// Every parameter with its PLINE and CLINE marks and value (-S), screen.
void show_parsed_vars();
// The labels read, screen and log; a warning when the Labels line had none.
void show_labels();

// The largest number of design columns: beyond 61 the factor letters would
// run past the printable characters.
constexpr int32_t kMaxColumns = 61;

}  // namespace bayescreen
