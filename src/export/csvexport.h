// The model table and the factor table as CSV files (RFC 4180: fields
// separated by commas, records ended by CR LF, a field holding a comma, a
// double quote or a line break enclosed in double quotes with its quotes
// doubled), one row per model and per factor, with the figures of the JSON
// document. A value that is not available is an empty field.
#pragma once
#include <string>

#include "export/results.h"

namespace bayescreen {

// Writes the model table: one row per model in enumeration order, the last
// column, label, naming the model by its factors' names (Temp*Time); in the
// effects space, one row per best model (rank, effects, their labels,
// number of effects, posterior probability).
void write_csv_models(const ExportInput &in, ResultSink &out);
// Writes the factor table: one row per factor screened with the sum and
// share under every weighting, and with the null model a last row for "no
// factor active".
void write_csv_factors(const ExportInput &in, ResultSink &out);
// Writes the effects of the effects space: one row per candidate effect
// with its name, label, order, posterior probability of inclusion and
// alias group (empty when it has none).
void write_csv_effects_space(const ExportInput &in, ResultSink &out);
// Writes the best follow-up design of --follow-up: one row per run with its
// candidate number and the levels of the factors shown.
void write_csv_follow_up(const ExportInput &in, ResultSink &out);
// Writes the prior grid of --gamma-grid and --pi-grid: one row per grid
// point with gamma, pi, the probability of each factor (and with the null
// model of none) being active, the support and its natural log.
void write_csv_prior_grid(const ExportInput &in, ResultSink &out);

// Writes the effect estimates: one row per effect column with its code,
// name, order, posterior mean, SD, P(>0), P(in model) and least-squares
// estimate; Lenth's figures follow the table as rows named "Lenth PSE",
// "Lenth ME" and "Lenth SME" with the value in the mean column.
void write_csv_effects(const ExportInput &in, ResultSink &out);
// Writes the coding table of a table input: one row per factor with its
// code, name and the values coded -1, +1 and 0.
void write_csv_coding(const ExportInput &in, ResultSink &out);

// The field as RFC 4180 writes it: as it is, or in double quotes with every
// double quote doubled when it holds a comma, a quote, CR or LF.
std::string csv_field(const std::string &text);

}  // namespace bayescreen
