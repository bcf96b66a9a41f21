#include "engine/candidates.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/models.h"
#include "engine/readdat.h"
#include "engine/settings.h"
#include "support/helpers.h"
#include "support/lineread.h"
#include "support/logfile.h"

namespace bayescreen {

namespace {

constexpr const char *kBlanks = " \t";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool begins_with_word(const char *line, const char *word) {
  return line != nullptr && strmatch(line, word) == 0;
}

// The integer after "=" in a parameter word, or the end of the run.
int32_t parameter_value(const char *word) {
  const char *value = strchr(word, '=');
  if (value == nullptr) {
    bprintf("\nMissing = In parameter option  %s\n", word);
    lr_fatal_errline(nullptr);
  }
  value++;
  char *end = nullptr;
  errno = 0;
  const long v = strtol(value, &end, 10);
  if (end == value || *end != '\0' || errno == ERANGE || v < 0 || v > INT32_MAX) {
    bprintf("\nILLEGAL VALUE In parameter option  %s\n", word);
    lr_fatal_errline(nullptr);
  }
  return static_cast<int32_t>(v);
}

// Nrows= and Ncols= of the parameter line (keywords by prefix, as in a
// design file); every other keyword is left alone.
void read_counts(char *line, int32_t *rows, int32_t *cols) {
  *rows = *cols = -1;
  char *rest = nullptr;
  for (char *word = strtok_r(line, kBlanks, &rest); word != nullptr;
       word = strtok_r(nullptr, kBlanks, &rest)) {
    if (word[0] == '#' || word[0] == '%' || word[0] == ';') break;
    if (strmatch(word, "NR") == 0 || strmatch(word, "NN") == 0)
      *rows = parameter_value(word);
    else if (strmatch(word, "NC") == 0)
      *cols = parameter_value(word);
  }
}

// One run: the run number, then a level for each column; the rest of the
// line (a response, a comment) is not read.
void read_run(const char *line, int32_t run, CandidateRuns &c) {
  const char *s = line;
  while (is_digit(*s)) s++;
  while (*s == '.') s++;
  int32_t *levels = &c.levels[static_cast<size_t>(run) * static_cast<size_t>(c.columns)];
  for (int j = 0; j < c.columns; j++) {
    while (isspace(static_cast<unsigned char>(*s))) s++;
    if (*s == '\0') {
      bprintf("\nSHORT LINE for candidate run #%d: read %d level%s, need %d\n", run + 1, j,
              plural(j), c.columns);
      lr_fatal_errline(nullptr);
    }
    const char *start = s;
    if (*s == '-') s++;
    if (!is_digit(*s)) {
      bprintf("\nILLEGAL CHARACTER in candidate run #%d, column %d: levels are whole numbers\n",
              run + 1, j + 1);
      lr_fatal_errline(nullptr);
    }
    char *end = nullptr;
    errno = 0;
    const long v = strtol(start, &end, 10);
    if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) {
      bprintf("\nNUMBER TOO LARGE in candidate run #%d, column %d\n", run + 1, j + 1);
      lr_fatal_errline(nullptr);
    }
    if (*end != '\0' && !isspace(static_cast<unsigned char>(*end))) {
      bprintf("\nILLEGAL CHARACTER in candidate run #%d, column %d: levels are whole numbers\n",
              run + 1, j + 1);
      lr_fatal_errline(nullptr);
    }
    levels[j] = static_cast<int32_t>(v);
    s = end;
  }
}

// The follow-up runs form a block of their own: the design's block
// columns do not apply to them.
void clear_block_columns(CandidateRuns &c) {
  for (int32_t run = 0; run < c.count; run++)
    for (int b = 0; b < modelspace.blocks; b++)
      c.levels[static_cast<size_t>(run) * static_cast<size_t>(c.columns) + static_cast<size_t>(b)] = 0;
}

}  // namespace

CandidateRuns full_factorial_candidates(uint64_t factors) {
  CandidateRuns c;
  c.columns = mm;
  for (int col = 0; col < mm; col++)
    if (has_column(factors, col)) c.shown.push_back(col);
  const int k = static_cast<int>(c.shown.size());
  c.count = int32_t{1} << k;
  c.levels.assign(static_cast<size_t>(c.count) * static_cast<size_t>(mm), 0);
  for (int32_t q = 0; q < c.count; q++)
    for (int p = 0; p < k; p++)
      c.levels[static_cast<size_t>(q) * static_cast<size_t>(mm) + static_cast<size_t>(c.shown[p])] =
          (q >> p) & 1 ? 1 : -1;
  return c;
}

CandidateRuns read_candidate_file(const char *path) {
  lr_reset();
  FILE *file = lr_fxopen(path, "rb");
  char *line = lrs_lineread(file);
  if (line == nullptr) lr_fatal_errline("Can't read the heading line of the candidate runs");
  line = lrs_lineread(file);
  if (line == nullptr) lr_fatal_errline("Can't read the parameter line of the candidate runs");
  int32_t rows = 0, cols = 0;
  read_counts(line, &rows, &cols);
  if (rows < 0 || cols < 0)
    lr_fatal_errline("The parameter line of the candidate runs needs Nrows= and Ncols=");
  if (rows == 0) lr_fatal_errline("The candidate file holds no runs (Nrows=0)");
  if (rows > kMaxCandidateRuns) {
    bprintf("\nTOO MANY CANDIDATE RUNS: Nrows=%d, at most %d are allowed !\n", rows,
            kMaxCandidateRuns);
    lr_fatal_errline(nullptr);
  }
  if (cols != mm) {
    bprintf("\nCANDIDATE RUNS DO NOT MATCH THE DESIGN: Ncols=%d, the design has %d column%s !\n",
            cols, mm, plural(mm));
    lr_fatal_errline(nullptr);
  }

  line = lrs_lineread(file);
  if (line == nullptr || !(begins_with_word(line, "Label") || begins_with_word(line, "Data")))
    lr_fatal_errline("NEXT LINE should begin Label or Data");
  // A Labels block runs up to the Data line; the design's labels stand.
  while (line != nullptr && !begins_with_word(line, "Data")) line = lrs_lineread(file);
  if (line == nullptr) lr_fatal_errline("NEXT LINE should begin with `Data'");

  CandidateRuns c;
  c.columns = mm;
  c.count = rows;
  c.source = path;
  c.levels.assign(static_cast<size_t>(rows) * static_cast<size_t>(mm), 0);
  int32_t run = 0;
  bool text_seen = false;
  while (run < rows && (line = lrs_lineread(file)) != nullptr) {
    if (!is_digit(line[0])) {
      if (text_seen) lr_fatal_errline("TWO TEXT LINES among the candidate runs");
      text_seen = true;
      continue;
    }
    read_run(line, run, c);
    run++;
  }
  if (run < rows) {
    bprintf("\nSHORT FILE: CANNOT READ %d candidate run%s !\nRead only %d.\n", rows, plural(rows),
            run);
    lr_fatal_errline(nullptr);
  }
  fxclose(file, path);
  lr_reset();
  clear_block_columns(c);
  for (int col = modelspace.blocks; col < nv; col++) c.shown.push_back(col);
  return c;
}

}  // namespace bayescreen
