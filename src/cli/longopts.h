// Long options: words "--name" and "--name=value" beside the single-letter
// option engine. The words whose name is in a table are taken out of the
// argument list before that engine sees it; every other word, "--L" and
// "--csv" included, stays where it is and means what it always meant.
#pragma once
#include <cstdint>

#include "support/logfile.h"

namespace bayescreen {

enum class LongKind : int32_t {
  Flag,          // "--name" only; target int32_t set to 1
  Int,           // "--name=N", N an integer in [min, max]; target int32_t
  Double,        // "--name=X", X a finite number; target double
  Text,          // "--name=TEXT", TEXT not empty; target const char *
  OptionalText,  // "--name" or "--name=TEXT"; target const char * (null without TEXT)
};

// One row of a long-option table; a table ends with a row whose name is null.
struct LongOption {
  const char *name = nullptr;        // the word after "--", matched exactly
  LongKind kind = LongKind::Flag;
  void *target = nullptr;            // typed by kind (see LongKind); may be null
  const char *value_name = nullptr;  // placeholder of the value in the listing, e.g. "K"
  const char *help = nullptr;        // one line of the listing
  int64_t min = 0, max = 0;          // Int: the accepted range, inclusive
  int32_t in_report = 1;             // 0: never named among the options in force (an option
                                     //   that only asks for a result file changes no report)
  int32_t given = 0;                 // set when the word was used
  const char *word = nullptr;        // the word as typed (the last one, when repeated)
};

// Takes every word of argv[1 .. *argc-1] whose name is in the table out of
// argv, reads its value into the row's target, and closes the gap, so that
// *argc counts only the words left. A value that is missing, malformed or
// out of range ends the run with status 1 and a message naming the word.
void take_long_options(int *argc, char **argv, LongOption *table);

// Ends the run with status 1 after "ILLEGAL VALUE in option `word': why !"
// on the screen, and in the log when it is open.
[[noreturn]] void bad_long_value(const char *word, const char *why);

// One line per row: "  --name=VALUE" padded to a column, then the help.
void show_long_options(const LongOption *table, Printer printer);

// The words of the rows that were given and are named in the report, in
// table order, each after a blank ("" when there are none); the text lives
// until the next call.
const char *given_long_options(const LongOption *table);

// The row of the table with this name, or null.
LongOption *find_long_option(LongOption *table, const char *name);

}  // namespace bayescreen
