#include "engine/candidates.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/modelspace.h"
#include "support/error.h"
#include "support/helpers.h"
#include "support/textbuf.h"

namespace bayescreen {

namespace {

constexpr const char *kBlanks = " \t";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool begins_with_word(const char *line, const char *word) {
  return line != nullptr && strmatch(line, word) == 0;
}

// An error found in the last line read: message as printed, and the line.
// The candidates are read after the log is opened, so both go to the log
// too.
[[noreturn]] void line_error(const LineReader &lines, const std::string &message) {
  Error e(message, Channel::ScreenAndLog);
  LineContext context = lines.context();
  context.to_log = true;
  e.at_line(context);
  throw e;
}

// The same with a short message, printed as "\n<message>!\n".
[[noreturn]] void line_error(const LineReader &lines, const char *message) {
  line_error(lines, std::string("\n") + message + "!\n");
}


// The integer after "=" in a parameter word, or the end of the run.
int32_t parameter_value(const LineReader &lines, const char *word) {
  const char *value = strchr(word, '=');
  if (value == nullptr) line_error(lines, string_printf("\nMissing = In parameter option  %s\n", word));
  value++;
  char *end = nullptr;
  errno = 0;
  const long v = strtol(value, &end, 10);
  if (end == value || *end != '\0' || errno == ERANGE || v < 0 || v > INT32_MAX)
    line_error(lines, string_printf("\nILLEGAL VALUE In parameter option  %s\n", word));
  return static_cast<int32_t>(v);
}

// Nrows= and Ncols= of the parameter line (keywords by prefix, as in a
// design file); every other keyword is left alone.
void read_counts(const LineReader &lines, char *line, int32_t *rows, int32_t *cols) {
  *rows = *cols = -1;
  char *rest = nullptr;
  for (char *word = strtok_r(line, kBlanks, &rest); word != nullptr;
       word = strtok_r(nullptr, kBlanks, &rest)) {
    if (word[0] == '#' || word[0] == '%' || word[0] == ';') break;
    if (strmatch(word, "NR") == 0 || strmatch(word, "NN") == 0)
      *rows = parameter_value(lines, word);
    else if (strmatch(word, "NC") == 0)
      *cols = parameter_value(lines, word);
  }
}

// One run: the run number, then a level for each column; the rest of the
// line (a response, a comment) is not read.
void read_run(const LineReader &lines, const char *line, int32_t run, CandidateRuns &c) {
  const char *s = line;
  while (is_digit(*s)) s++;
  while (*s == '.') s++;
  int32_t *levels = &c.levels[static_cast<size_t>(run) * static_cast<size_t>(c.columns)];
  for (int j = 0; j < c.columns; j++) {
    while (isspace(static_cast<unsigned char>(*s))) s++;
    if (*s == '\0')
      line_error(lines, string_printf("\nSHORT LINE for candidate run #%d: read %d level%s, need %d\n", run + 1,
                               j, plural(j), c.columns));
    const char *start = s;
    if (*s == '-') s++;
    if (!is_digit(*s))
      line_error(lines, string_printf("\nILLEGAL CHARACTER in candidate run #%d, column %d: levels are whole numbers\n",
                               run + 1, j + 1));
    char *end = nullptr;
    errno = 0;
    const long v = strtol(start, &end, 10);
    if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX)
      line_error(lines, string_printf("\nNUMBER TOO LARGE in candidate run #%d, column %d\n", run + 1, j + 1));
    if (*end != '\0' && !isspace(static_cast<unsigned char>(*end)))
      line_error(lines, string_printf("\nILLEGAL CHARACTER in candidate run #%d, column %d: levels are whole numbers\n",
                               run + 1, j + 1));
    levels[j] = static_cast<int32_t>(v);
    s = end;
  }
}

// The follow-up runs form a block of their own: the design's block
// columns do not apply to them.
void clear_block_columns(CandidateRuns &c, int blocks) {
  for (int32_t run = 0; run < c.count; run++)
    for (int b = 0; b < blocks; b++)
      c.levels[static_cast<size_t>(run) * static_cast<size_t>(c.columns) + static_cast<size_t>(b)] = 0;
}

}  // namespace

CandidateRuns full_factorial_candidates(const Design &design, uint64_t factors) {
  const int mm = design.columns;
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

CandidateRuns read_candidate_file(LineReader &lines, const Design &design, const Settings &settings) {
  const int mm = design.columns;
  char *line = lines.next_kept();
  if (line == nullptr) line_error(lines, "Can't read the heading line of the candidate runs");
  line = lines.next_kept();
  if (line == nullptr) line_error(lines, "Can't read the parameter line of the candidate runs");
  int32_t rows = 0, cols = 0;
  read_counts(lines, line, &rows, &cols);
  if (rows < 0 || cols < 0)
    line_error(lines, "The parameter line of the candidate runs needs Nrows= and Ncols=");
  if (rows == 0) line_error(lines, "The candidate file holds no runs (Nrows=0)");
  if (rows > kMaxCandidateRuns)
    line_error(lines, string_printf("\nTOO MANY CANDIDATE RUNS: Nrows=%d, at most %d are allowed !\n", rows,
                             kMaxCandidateRuns));
  if (cols != mm)
    line_error(lines, string_printf("\nCANDIDATE RUNS DO NOT MATCH THE DESIGN: Ncols=%d, the design has %d column%s !\n",
                             cols, mm, plural(mm)));

  line = lines.next_kept();
  if (line == nullptr || !(begins_with_word(line, "Label") || begins_with_word(line, "Data")))
    line_error(lines, "NEXT LINE should begin Label or Data");
  // A Labels block runs up to the Data line; the design's labels stand.
  while (line != nullptr && !begins_with_word(line, "Data")) line = lines.next_kept();
  if (line == nullptr) line_error(lines, "NEXT LINE should begin with `Data'");

  CandidateRuns c;
  c.columns = mm;
  c.count = rows;
  c.source = lines.name();
  c.levels.assign(static_cast<size_t>(rows) * static_cast<size_t>(mm), 0);
  int32_t run = 0;
  bool text_seen = false;
  while (run < rows && (line = lines.next_kept()) != nullptr) {
    if (!is_digit(line[0])) {
      if (text_seen) line_error(lines, "TWO TEXT LINES among the candidate runs");
      text_seen = true;
      continue;
    }
    read_run(lines, line, run, c);
    run++;
  }
  if (run < rows)
    line_error(lines, string_printf("\nSHORT FILE: CANNOT READ %d candidate run%s !\nRead only %d.\n", rows,
                             plural(rows), run));
  clear_block_columns(c, settings.model_space.blocks);
  for (int col = settings.model_space.blocks; col < design.analysed; col++) c.shown.push_back(col);
  return c;
}

}  // namespace bayescreen
