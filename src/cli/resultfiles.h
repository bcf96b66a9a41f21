// The result files besides the log (--json, --csv-files, --svg-file, --html): their
// names, the checks that they replace nothing they should not, and writing
// each whole or not at all.
#pragma once
#include "export/results.h"

namespace bayescreen {

// The result files asked for on the command line: each null unless asked
// for; a null name with the option given means the default name.
struct ResultFileOptions {
  const char *json = nullptr;        // --json: the results as one JSON document
  const char *csv_prefix = nullptr;  // --csv-files: PREFIX of PREFIX.models.csv, PREFIX.factors.csv
  const char *svg = nullptr;         // --svg-file: the figure of the factor probabilities
  const char *html = nullptr;        // --html: the page of the results
  bool json_given = false, csv_given = false, svg_given = false, html_given = false;
};

// Names the result files asked for, into run (json, csv_*, svg): the names
// given, else the defaults from the log's name NAME.out.txt: NAME.json,
// NAME.models.csv and NAME.factors.csv (and NAME.grid.csv with a prior
// grid, NAME.followup.csv with a follow-up), NAME.effects.csv (and
// NAME.coding.csv when the input is a table), NAME.svg, NAME.html. Ends the run (status
// 1, nothing changed) when a result file would replace the input, the log,
// another result file or a directory. Runs before the log is opened.
void prepare_result_files(const ResultFileOptions &options, const Settings &settings, RunDescription &run,
                          bool table_input = false);

// True when any result file is to be written.
bool result_files_wanted(const RunDescription &run);

// Writes every result file named in run, each whole or not at all; after
// the report, with the log closed: the HTML page holds the log's text, read
// back from the file. A failure ends the run with a message and status 1.
void write_result_files(const ExportInput &in);

}  // namespace bayescreen
