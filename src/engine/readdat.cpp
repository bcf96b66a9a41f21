#include "engine/readdat.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "engine/calcmodels.h"
#include "engine/settings.h"
#include "support/strlist.h"
#include "support/helpers.h"
#include "support/lineread.h"
#include "support/logfile.h"
#include "support/numtext.h"
#include "support/showplaces.h"
#include "support/textbuf.h"

namespace bayescreen {

int32_t nn = 0;
int32_t mm = 0;
int32_t nv = 0;
int32_t *rownum = nullptr;
int32_t *ximat = nullptr;
double *yy = nullptr;
char *design_heading = nullptr;
char **label = nullptr;
int nlab = 0;
char *factorstr = nullptr;
char *digitstr = nullptr;

ParmEntry parmvar[] = {
    {.match1 = "NR", .match2 = "NN", .keyname = "NROWS", .showname = "Nrows",
     .rowindex = PARM_NROWS, .varptr = &nn},
    {.match1 = "NC", .keyname = "NCOLS", .showname = "Ncols", .rowindex = PARM_NCOLS,
     .varptr = &mm},
    {.match1 = "NV", .keyname = "NVARS", .showname = "Nvars", .rowindex = PARM_NVARS,
     .varptr = &nv},
    {.match1 = "PI", .keyname = "PI", .showname = "Pi", .rowindex = PARM_PI, .varptr = &pi,
     .isreal = 1},
    {.match1 = "GAM", .keyname = "GAMMA", .showname = "Gamma", .rowindex = PARM_GAMMA,
     .varptr = &gam, .isreal = 1},
    {.match1 = "ALPHA", .match2 = "ALF", .keyname = "ALPHA", .showname = "Alpha",
     .rowindex = PARM_ALPHA, .varptr = &alpha, .isreal = 1},
    {.rowindex = PARM_ALPHA + 1},
};

static constexpr int kMaxLabels = 26;
static constexpr const char *kBlanks = " \t";

// ---- Small parsing helpers ------------------------------------------------------

static bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads an int the way "%d" does (white space, optional sign, digits,
// stopping at anything else). Returns 0 when there are no digits, -1 when
// the value is outside the 32-bit range, 1 on success.
static int read_int32(const char *s, int32_t *value) {
  while (isspace(static_cast<unsigned char>(*s))) s++;
  bool negative = false;
  if (*s == '+' || *s == '-') negative = (*s++ == '-');
  if (!is_digit(*s)) return 0;
  long long v = 0;
  for (; is_digit(*s); s++) {
    v = v * 10 + (*s - '0');
    if (v > 2147483648LL) return -1;
  }
  if (negative) v = -v;
  if (v > INT_MAX || v < INT_MIN) return -1;
  *value = static_cast<int32_t>(v);
  return 1;
}

// The value of a run of decimal digits, or -1 when it exceeds `limit`
// (INT_MAX unless given).
static long long digits_value(const char *s, const char **end, long long limit = INT_MAX) {
  long long v = 0;
  bool too_large = false;
  for (; is_digit(*s); s++) {
    if (!too_large) v = v * 10 + (*s - '0');
    if (v > limit) too_large = true;
  }
  *end = s;
  return too_large ? -1 : v;
}

static bool begins_with_word(const char *line, const char *word) {
  return line != nullptr && strmatch(line, word) == 0;
}

// ---- Parameter line ---------------------------------------------------------------

void fatal_errparse(int k, const char *word) {
  PlaceGuard place("Fatal_ErrParse");
  printf("\nINTERNAL ERROR parsing parameter line!\n");
  printf("varptr=NULL in PARMVAR array entry #%u (Word=%s)\n", static_cast<unsigned>(k + 1),
         shownull(word));
  lr_fatal_errline(nullptr);
}

static int find_parm_row(const char *word) {
  for (int k = 0; parmvar[k].match1 != nullptr; k++) {
    const ParmEntry &row = parmvar[k];
    for (const char *prefix : {row.match1, row.match2, row.match3})
      if (prefix != nullptr && strmatch(word, prefix) == 0) return k;
  }
  return -1;
}

void parse_parmline(char *line) {
  PlaceGuard place("Parse_ParmLine");
  char *rest = nullptr;
  char *word = strtok_r(line, kBlanks, &rest);
  if (word == nullptr) lr_fatal_errline("Can't read parameter line");
  for (; word != nullptr; word = strtok_r(nullptr, kBlanks, &rest)) {
    if (word[0] == '#' || word[0] == '%' || word[0] == ';') break;
    int k = find_parm_row(word);
    if (k < 0) {
      printf("L#%u: WARNING: Unrecognized option `%s' in Parameter Line\n",
             static_cast<unsigned>(lr_linenum), word);
      continue;
    }
    ParmEntry &row = parmvar[k];
    if (row.varptr == nullptr) fatal_errparse(k, word);
    const char *value = strchr(word, '=');
    if (value == nullptr) {
      printf("\nMissing = In parameter option  %s\n", word);
      lr_fatal_errline(nullptr);
    }
    while (*value == '=') value++;
    if (*value == '\0') {
      printf("\nMISSING VALUE In parameter option  %s\n", word);
      lr_fatal_errline(nullptr);
    }
    row.pline = 1;
    if (row.cline) continue;  // the command line's value stands
    if (row.isreal) {
      if (!scan_double(value, static_cast<double *>(row.varptr))) fatal_errparse(k, word);
    } else {
      int got = read_int32(value, static_cast<int32_t *>(row.varptr));
      if (got == 0) fatal_errparse(k, word);
      if (got < 0) {
        printf("\nVALUE OUT OF RANGE In parameter option  %s\n", word);
        lr_fatal_errline(nullptr);
      }
    }
  }
  if (!parmvar[PARM_NVARS].pline && !parmvar[PARM_NVARS].cline) nv = mm;
}

void check_novar(int k) {
  PlaceGuard place("Check_Novar");
  const ParmEntry &row = parmvar[k];
  if (!row.pline && !row.cline) {
    printf("\nENTER value for %s in Infile or Command Line!\n", row.keyname);
    exit(1);
  }
  bool zero = row.isreal ? *static_cast<double *>(row.varptr) == 0.0
                         : *static_cast<int32_t *>(row.varptr) == 0;
  if (zero) {
    printf("\nILLEGAL ZERO VALUE for %s !\n", row.keyname);
    exit(1);
  }
}

// Counts read with a sign are refused when negative, and Ncols is limited to
// the columns whose factor letters are printable.
static void check_counts() {
  for (int k : {PARM_NROWS, PARM_NCOLS, PARM_NVARS}) {
    int32_t value = *static_cast<int32_t *>(parmvar[k].varptr);
    if (value < 0) {
      printf("\nILLEGAL NEGATIVE VALUE for %s !\n", parmvar[k].keyname);
      exit(1);
    }
  }
  if (nn == 0 || mm == 0 || nv == 0) {
    bprintf("Nrows=%d  Ncols=%d  Nvars=%d:  Too few!\n", nn, mm, nv);
    exit(1);
  }
  if (mm > kMaxColumns) {
    printf("\nTOO MANY COLUMNS: Ncols=%d, at most %d are allowed !\n", mm, kMaxColumns);
    exit(1);
  }
}

// Pi is a prior probability and Gamma a ratio of standard deviations: any
// other value would make every posterior probability meaningless. A value
// that is not a finite number (an overflowing 1e400, inf, nan) is named as
// such first.
static void check_priors() {
  if (!std::isfinite(pi)) {
    printf("\nILLEGAL VALUE for PI: Pi=%g must be a finite number !\n", pi);
    exit(1);
  }
  if (!std::isfinite(gam)) {
    printf("\nILLEGAL VALUE for GAMMA: Gamma=%g must be a finite number !\n", gam);
    exit(1);
  }
  if (!(pi > 0.0 && pi < 1.0)) {
    printf("\nILLEGAL VALUE for PI: Pi=%g must lie strictly between 0 and 1 !\n", pi);
    exit(1);
  }
  if (!(gam > 0.0)) {
    printf("\nILLEGAL VALUE for GAMMA: Gamma=%g must be greater than 0 !\n", gam);
    exit(1);
  }
  if (!prior_precision_finite(gam)) {
    printf("\nILLEGAL VALUE for GAMMA: Gamma=%g is too small: its prior precision 1/Gamma^2 "
           "overflows !\n",
           gam);
    exit(1);
  }
}

void show_var_values() {
  PlaceGuard place("Show_Var_Values");
  bprintf("Values of variables:\n");
  StringList *list = new_strlist();
  char buf[128];
  for (int k = 0; parmvar[k].match1 != nullptr; k++) {
    const ParmEntry &row = parmvar[k];
    if (row.isreal)
      add_strprintf(list, buf, sizeof buf, "%s=%g", row.showname,
                    *static_cast<double *>(row.varptr));
    else
      add_strprintf(list, buf, sizeof buf, "%s=%d", row.showname,
                    *static_cast<int32_t *>(row.varptr));
  }
  prqtok_strlist("  ", list, bprintf);
  kill_strlist(&list);
}

void show_parsed_vars() {
  PlaceGuard place("Show_Parsed_Vars");
  printf("Parsed values from the parameter and command line:\n");
  int width = 0;
  for (int k = 0; parmvar[k].match1 != nullptr; k++)
    width = std::max(width, static_cast<int>(strlen(parmvar[k].keyname)));
  for (int k = 0; parmvar[k].match1 != nullptr; k++) {
    const ParmEntry &row = parmvar[k];
    printf(" %2d. %-*s: PLINE=%3s  CLINE=%3s", k + 1, width, row.keyname, boolyn(row.pline),
           boolyn(row.cline));
    if (row.isreal)
      printf("  Value=%g\n", *static_cast<double *>(row.varptr));
    else
      printf("  Value=%d\n", *static_cast<int32_t *>(row.varptr));
  }
}

// ---- Labels -------------------------------------------------------------------------

void show_labels() {
  PlaceGuard place("Show_Labels");
  if (nlab == 0) {
    printf("WARNING: Labels line, but no labels found.\n");
  } else {
    bprintf("\nLabels in %s:\n", infile);
    StringList *list = new_strlist();
    for (int k = 0; k < nlab; k++) {
      // Labels have no length limit, so each item is built whole.
      const char prefix[3] = {static_cast<char>('A' + k), '=', '\0'};
      char *item = strxdup_app(prefix, label[k]);
      add_strlist(list, item);
      free(item);
    }
    prqtok_strlist("  ", list, bprintf);
    kill_strlist(&list);
  }
}

// Takes each blank-separated word of `words` as the next label.
static void add_labels(char *words) {
  char *rest = nullptr;
  for (char *word = strtok_r(words, kBlanks, &rest); word != nullptr;
       word = strtok_r(nullptr, kBlanks, &rest)) {
    if (nlab >= kMaxLabels) lr_fatal_errline("MAXIMUM NUMBER of labels: 26");
    const char expected = static_cast<char>('A' + nlab);
    if (toupper(static_cast<unsigned char>(word[0])) != expected || word[1] != '=') {
      printf("SYNTAX ERROR IN LABEL DESIGNATION!\n");
      printf("Label #%u must begin with %c=\n", static_cast<unsigned>(nlab + 1), expected);
      lr_fatal_errline(nullptr);
    }
    if (label == nullptr) label = static_cast<char **>(cxalloc(30, sizeof(char *)));
    label[nlab++] = strxdup(word + 2);
  }
}

// The label block: the rest of the Label line and every line up to Data.
// Returns the Data line, or null at end of file.
static char *read_labels(FILE *file, char *line) {
  char *rest = line;
  while (*rest != '\0' && !isspace(static_cast<unsigned char>(*rest))) rest++;
  add_labels(rest);
  for (line = lrs_lineread(file); line != nullptr && !begins_with_word(line, "Data");
       line = lrs_lineread(file))
    add_labels(line);
  show_labels();
  return line;
}

// ---- Data rows -------------------------------------------------------------------------

[[noreturn]] static void illegal_character(int j, bool minus, const char *rest) {
  bprintf("\nILLEGAL CHARACTER in design matrix!\n");
  bprintf("j=%d  word=%s%s\n", j + 1, minus ? "-" : "", rest);
  bprintf("Should be only digits and signs !\n");
  lr_fatal_errline(nullptr);
}

[[noreturn]] static void entry_too_large(int j, bool minus, const char *digits) {
  bprintf("\nNUMBER TOO LARGE in design matrix!\n");
  bprintf("j=%d  word=%s%s\n", j + 1, minus ? "-" : "", digits);
  bprintf("Should be at most %d digits long, from %d to %d !\n", 10, INT_MIN, INT_MAX);
  lr_fatal_errline(nullptr);
}

// One data row: run number, mm design entries, response.
static void read_data_row(const char *line, int32_t i) {
  const char *s = line;
  long long run = digits_value(s, &s);
  if (run < 0) {
    bprintf("\nRUN NUMBER TOO LARGE in data row!\n");
    bprintf("Row #%u:  word=%.*s\n", static_cast<unsigned>(i + 1), static_cast<int>(s - line),
            line);
    bprintf("Run numbers must be at most %d !\n", INT_MAX);
    lr_fatal_errline(nullptr);
  }
  rownum[i] = static_cast<int32_t>(run);
  while (*s == '.') s++;

  int32_t j = 0;
  for (; j < mm; j++) {
    while (isspace(static_cast<unsigned char>(*s))) s++;
    if (*s == '\0') break;
    bool minus = false;
    while (*s == '-') {
      minus = true;
      s++;
    }
    if (!is_digit(*s)) illegal_character(j, minus, s);
    // A negative entry may reach -2^31, one beyond the largest positive int.
    const char *digits = s;
    long long v = digits_value(s, &s, minus ? -static_cast<long long>(INT_MIN) : INT_MAX);
    if (v < 0) entry_too_large(j, minus, digits);
    ximat[static_cast<size_t>(i) * static_cast<size_t>(mm) + static_cast<size_t>(j)] =
        static_cast<int32_t>(minus ? -v : v);
  }
  if (j < mm) {
    bprintf("\nSHORT LINE for design matrix entries:\n");
    bprintf("Row #%u:  Read %u value%s, need %u\n", static_cast<unsigned>(i + 1),
            static_cast<unsigned>(j), plural(j), static_cast<unsigned>(mm));
    lr_fatal_errline(nullptr);
  }
  // A response that is not a finite number ("nan", "inf") counts as missing.
  double y = 0;
  if (!scan_double(s, &y) || !std::isfinite(y)) {
    bprintf("\nSHORT LINE for response variable:\n");
    bprintf("Row #%u: Read %u design matrix value%s, need response value\n",
            static_cast<unsigned>(i + 1), static_cast<unsigned>(mm), plural(mm));
    lr_fatal_errline(nullptr);
  }
  yy[i] = y;
}

// The row arrays grow with the rows actually read, doubling up to nn, so
// that a parameter line promising far more rows than the file holds costs
// no memory; once all nn rows are in, each array holds nn elements and 3
// spare zero-filled ones, as if obtained at once.
static size_t row_capacity = 0;

template <typename T>
static T *grow_rows(T *old, size_t old_count, size_t new_count) {
  T *fresh = static_cast<T *>(cxalloc(new_count + 3, sizeof(T)));
  if (old != nullptr) memcpy(fresh, old, old_count * sizeof(T));
  free(old);
  return fresh;
}

static void make_room_for_row(int32_t i) {
  if (static_cast<size_t>(i) < row_capacity) return;
  const size_t rows = static_cast<size_t>(nn), cols = static_cast<size_t>(mm);
  size_t capacity = row_capacity == 0 ? 1024 : 2 * row_capacity;
  if (capacity > rows) capacity = rows;
  rownum = grow_rows(rownum, row_capacity, capacity);
  ximat = grow_rows(ximat, row_capacity * cols, capacity * cols);
  yy = grow_rows(yy, row_capacity, capacity);
  row_capacity = capacity;
}

// Each row is formatted whole, then printed with one call.
static void echo_data(const char *path, const char *textline) {
  bprintf("\nData in %s: Rownum, Design matrix, Response variable\n", path);
  if (textline != nullptr) bprintf("%s\n", textline);
  TextBuffer row;
  for (int32_t i = 0; i < nn; i++) {
    row.clear();
    row.appendf("%5u.", static_cast<unsigned>(rownum[i]));
    for (int32_t j = 0; j < mm; j++)
      row.appendf("  %2d",
                  ximat[static_cast<size_t>(i) * static_cast<size_t>(mm) + static_cast<size_t>(j)]);
    row.appendf("   %g\n", yy[i]);
    bprintf("%s", row.c_str());
  }
}

// A response that is the same in every run holds no information about any
// factor: every fit would be decided by rounding residue. A single run is
// left to the fits, where no model has enough runs.
static void refuse_constant_response() {
  if (nn < 2) return;
  for (int32_t i = 1; i < nn; i++)
    if (yy[i] != yy[0]) return;
  bprintf("\nCONSTANT RESPONSE: every run has the response %g !\n", yy[0]);
  bprintf("Such a design holds no information about any factor.\n");
  exit(1);
}

// Factor letters A, B, ..., H, J, K, ... (I is left out) and column digits.
static void build_factor_strings() {
  constexpr int kSkippedLetter = 'I' - 'A';
  factorstr = static_cast<char *>(cxalloc(static_cast<size_t>(mm) + 3, 1));
  for (int32_t k = 0, stored = 0; stored < mm; k++)
    if (k != kSkippedLetter) factorstr[stored++] = static_cast<char>('A' + k);
  bprintf("\nFactor labels: %s   Factors analyzed: %-*.*s\n", factorstr, nv, nv, factorstr);
  digitstr = static_cast<char *>(cxalloc(static_cast<size_t>(mm) + 3, 1));
  for (int32_t k = 0; k < mm; k++) digitstr[k] = static_cast<char>('0' + k);
}

void readdat(const char *path) {
  PlaceGuard place("ReadDat");
  FILE *file = lr_fxopen(path, "rb");

  char *line = lrs_lineread(file);
  if (line == nullptr) lr_fatal_errline("Can't read heading line");
  design_heading = strxdup(line);
  openlog_file(outfile, 0);
  logprintf("\nOutput of %s from input file %s\n", pgname, path);
  bprintf("\nHEADING LINE in %s:\n  %s\n", path, design_heading);

  line = lrs_lineread(file);
  if (line == nullptr) lr_fatal_errline("Can't read parameter line");
  parse_parmline(line);
  if (allvars || nv > mm) nv = mm;

  show_var_values();
  if (showstep) show_parsed_vars();
  check_novar(PARM_NROWS);
  check_novar(PARM_NCOLS);
  check_counts();
  check_priors();

  line = lrs_lineread(file);
  if (line == nullptr || !(begins_with_word(line, "Label") || begins_with_word(line, "Data")))
    lr_fatal_errline("NEXT LINE should begin Label or Data !");
  if (begins_with_word(line, "Label")) {
    line = read_labels(file, line);
    if (line == nullptr) lr_fatal_errline("NEXT LINE should begin with `Data'");
  }

  rownum = ximat = nullptr;
  yy = nullptr;
  row_capacity = 0;
  int32_t i = 0;
  char *textline = nullptr;
  while (i < nn && (line = lrs_lineread(file)) != nullptr) {
    if (!is_digit(line[0])) {
      printf("Text line in Data block:\n  %s\n", line);
      if (textline != nullptr) {
        bprintf("TWO TEXT LINES in data block!\n  %s\n  %s\n", textline, line);
        exit(1);
      }
      textline = strxdup(line);
      continue;
    }
    make_room_for_row(i);
    read_data_row(line, i);
    i++;
  }
  if (i < nn) {
    bprintf("SHORT FILE: CANNOT READ %u data row%s !\n", static_cast<unsigned>(nn), plural(nn));
    bprintf("Read only %u data rows.\n", static_cast<unsigned>(i));
    exit(1);
  }

  echo_data(path, textline);
  refuse_constant_response();
  printf("Closing the file %s\n", path);
  fxclose(file, path);
  build_factor_strings();
}

}  // namespace bayescreen
