// What the result files share: their names, the names of the factors, the
// factor weights under every weighting and numbers as text. The result
// files read the analysis results after the report is complete and leave
// the report itself alone.
#pragma once
#include <string>
#include <vector>

#include "engine/postactive.h"

namespace bayescreen {

// Gives the result files asked for without a name their default names, from
// the log's name NAME.out.txt: NAME.json, NAME.models.csv and
// NAME.factors.csv (and NAME.grid.csv with a prior grid, NAME.followup.csv
// with --follow-up), NAME.svg. Ends the run (status 1, nothing changed) when
// a result file would replace the input, the log, another result file or a
// directory. Runs before the log is opened.
void prepare_result_files();
// Writes every result file asked for, each whole or not at all; after the
// report. A failure ends the run with a message and status 1.
void write_result_files();

// The names of the CSV files of --csv-files, or null without it (the grid
// file also without a prior grid, the follow-up file without --follow-up).
const char *csv_models_name();
const char *csv_factors_name();
const char *csv_prior_grid_name();
const char *csv_follow_up_name();

// Text as valid UTF-8: every byte that is not part of a valid sequence
// becomes U+FFFD, so that the files stay readable whatever the design file
// held.
std::string valid_utf8(const char *text);
// The label of design column c as given in the Labels block (label k names
// column k, with the letter I counted), or null when there is none or it is
// empty.
const char *column_label(int c);
// The name of the factor of design column c for display: its label, or its
// letter when it has none.
std::string factor_name(int c);

// The shortest text that reads back as the same double (std::to_chars),
// appended to out; false (nothing appended) when v is not a finite number.
bool append_number(std::string &out, double v);

// The factor weights of every weighting, as the factor tables compute them,
// for every analysed column (blocks included, their entries 0), and the
// posterior probability that no factor is active (NaN without the null
// model).
struct FactorWeightTables {
  double total[kWeightings] = {};
  std::vector<double> sums[kWeightings];
  std::vector<double> shares[kWeightings];
  double none_active = 0;
};
// Computed at the first call, after the report.
const FactorWeightTables &factor_weight_tables();
// The name of a weighting in the result files: fstat, likelihood, inv_rmse2,
// inv_rmsec2, postprob.
const char *weighting_key(int w);

}  // namespace bayescreen
