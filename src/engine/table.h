// Tables as designs: a CSV or TSV file with a header row, as a spreadsheet
// writes it, read into the runs, the -1/0/+1 factor columns and the
// response that the model steps take, together with the coding table that
// says which value of each column became which level. Parsing is libcsv's
// (RFC 4180: quoted fields with separators, quotes and line breaks inside,
// LF or CR LF line ends); a UTF-8 byte-order mark and blank lines are
// skipped.
//
// Every problem is thrown as a bayescreen::Error whose message names the
// file, and where there is one, the line, the column and the value. Nothing
// here prints, exits or keeps state between calls.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/design.h"
#include "engine/settings.h"

namespace bayescreen {

// The levels of one factor column as the user names them
// (--coding=NAME:LOW/HIGH): the value that is coded -1 and the one coded +1.
struct Coding {
  std::string name;  // the factor column
  std::string low;   // the value coded -1
  std::string high;  // the value coded +1
};

// What to take from a table.
struct TableOptions {
  char separator = ',';                // ',' for .csv, '\t' for .tsv
  std::string response;                // the response column; empty: the last column
  std::vector<std::string> factors;    // the factor columns in this order; empty:
                                       //   every other column, in file order
  std::vector<Coding> codings;         // levels named by the user, per factor
};

// A table read as a design.
struct TableDesign {
  std::vector<std::string> names;     // factor column names, in the chosen order
  std::string response_name;          // the response column's name
  int runs = 0;                       // data rows
  std::vector<int32_t> levels;        // runs x factors, row by row: -1, 0 or +1
  std::vector<double> response;       // one per run
  std::vector<FactorCoding> coding;   // one per factor, in the order of names
  std::vector<int> row_lines;         // the physical line (from 1) each run starts on
};

// True when the file name ends in .csv or .tsv, in any case.
bool is_table_file_name(std::string_view file_name);

// The separator a table file name implies: a tab for .tsv (any case), a
// comma otherwise.
char table_separator(std::string_view file_name);

// True when text is a design file in the line format although its name may
// end in .csv or .tsv: its second line that is neither blank nor a comment
// (first character # ; or %) is a parameter line holding the number of
// runs, a word that begins with NR or NN in any case and holds '=' (as
// "Nrows=12"), which is how the design-file reader recognizes that keyword.
// Such a file keeps its old meaning.
bool is_design_file_text(std::string_view text);

// Reads the value of --coding, NAME:LOW/HIGH: the name is everything before
// the last ':', LOW and HIGH are split at the one '/' after it. Throws an
// Error for any other form, or for an empty part.
Coding parse_coding(std::string_view text);

// Reads a table (the whole file's text) as a design, as described above:
//   - the first row names the columns; no name may be empty or repeated;
//   - every data row has one cell per column;
//   - the response cells are finite numbers;
//   - each factor column is coded: two distinct numbers, the lower -1 and
//     the higher +1, and a third number halfway between them 0 (a centre
//     point); numbers compare as numbers (150 and 150.0 are one level);
//     a column that holds any value that is not a number has two distinct
//     texts, -1 and +1 in order of first appearance; a Coding of the
//     column names the -1 and +1 values instead (compared as numbers when
//     the column and both values are numbers, a centre still taken).
// file_name is used in the messages only. Throws an Error for every
// refusal.
TableDesign read_table(std::string_view text, const std::string &file_name,
                       const TableOptions &options);

// The design of a table: the factor columns become design columns in the
// chosen order, labelled by their names, every column analysed unless
// settings.nvars (-N) limits them; the runs are numbered 1, 2, ... The
// heading names the table. Throws an Error when there are more factor
// columns than a design holds (kMaxColumns), or when the response is the
// same in every run.
Design design_from_table(TableDesign table, const std::string &file_name, const Settings &settings);

}  // namespace bayescreen
