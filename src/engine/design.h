// The design: the runs of a screening experiment as a value, and the reader
// that makes one from a design file (heading, parameter line, labels and
// data rows).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/settings.h"
#include "support/linereader.h"

namespace bayescreen {

// The largest number of design columns: beyond 61 the factor letters would
// run past the printable characters.
constexpr int32_t kMaxColumns = 61;

// The coding of one factor column of a table, for the coding table: the
// values as written at their first appearance in the file.
struct FactorCoding {
  std::string name;    // the column name
  std::string low;     // the value coded -1
  std::string high;    // the value coded +1
  std::string centre;  // the value coded 0; empty when the column has none
};

struct Design {
  std::string path;                  // the design file as opened
  std::string heading;               // the heading line as read
  int32_t runs = 0;                  // Nrows ("nn" in the listings)
  int32_t columns = 0;               // Ncols: design columns, one per factor ("mm")
  int32_t analysed = 0;              // Nvars: leading columns whose submodels are built ("nv")
  std::vector<int32_t> run_numbers;  // the run numbers as written
  std::vector<int32_t> x;            // runs x columns design entries, run by run
  std::vector<double> y;             // the responses
  std::vector<std::string> labels;   // the labels read; label k names design column k
  std::string text_line;             // the one text line among the data rows, if any
  std::string letters;               // factor letters A..H, J, K, ... (no I), one per column
  std::string digits;                // '0' + column index, one per column
  // A design read from a table (.csv, .tsv): the response column's name and
  // the coding of each design column; both empty for a design file.
  std::string response_name;
  std::vector<FactorCoding> coding;

  int32_t entry(int run, int column) const {
    return x[static_cast<size_t>(run) * static_cast<size_t>(columns) + static_cast<size_t>(column)];
  }
  // Whether every analysed entry is -1 or 1.
  bool two_level() const;
};

// The letters A..H, J, K, ... (I left out) of n columns, and the digits
// '0' + k: the names of the design columns in the report.
std::string factor_letters(int n);
std::string column_digits(int n);
// Fills letters and digits from columns.
void name_columns(Design &design);

// The code of design column c in the extension outputs: its factor letter
// for the first 25 columns (A..Z without I, as in the report), then two
// letters from the same alphabet, AA, AB, ... (never the characters past
// Z that the report's single letters run into).
std::string factor_code(int c);
// The name of design column c: its label when it has one, else its code.
std::string factor_label(const Design &design, int c);
// The code of the effect column formed by the design columns of mask: the
// codes side by side ("BD"), separated by '.' when a code has two letters.
std::string effect_code(uint64_t mask);
// The name of that effect column: the names of its columns joined by '*'
// ("Temp*Time").
std::string effect_label(const Design &design, uint64_t mask);
// The name with the code beside, "Temp*Time (BD)", or the code alone when
// the name is the code (no labels): "BD".
std::string effect_display(const Design &design, uint64_t mask);

// One keyword of the parameter line: prefixes matched without regard to
// case, the upper-case name of the messages and the mixed-case name of the
// echo; a real value (Pi, Gamma, Alpha) or an integer.
struct ParameterKeyword {
  char match1[6], match2[4];  // match2 empty: one prefix only
  char keyname[6];
  char showname[6];
  bool isreal;
};
// The keywords, by ParmRow.
inline constexpr ParameterKeyword kParameterKeywords[kParmRows] = {
    {"NR", "NN", "NROWS", "Nrows", false}, {"NC", "", "NCOLS", "Ncols", false},
    {"NV", "", "NVARS", "Nvars", false},   {"PI", "", "PI", "Pi", true},
    {"GAM", "", "GAMMA", "Gamma", true},    {"ALPHA", "ALF", "ALPHA", "Alpha", true},
};

// The values of the parameters after the parameter line, and where each
// was given (the command line's value stands).
struct ParameterValues {
  int32_t nrows = 0, ncols = 0, nvars = 0;
  double pi = 0, gamma = 0, alpha = 0;
  bool in_file[kParmRows] = {};          // given in the parameter line ("PLINE")
  bool on_command_line[kParmRows] = {};  // given on the command line ("CLINE")
  // The value of row k as a double (integers converted).
  double value(int k) const;
};

// What the reader has read so far, in the order it reads it: the front end
// echoes it as it comes (and opens the log after the heading). Each does
// nothing unless overridden.
class DesignReadObserver {
 public:
  virtual ~DesignReadObserver() = default;
  virtual void heading_read(const Design &) {}
  // A word of the parameter line that names no parameter, on line `line`.
  virtual void unknown_parameter(unsigned /*line*/, const char * /*word*/) {}
  virtual void parameters_read(const ParameterValues &) {}
  // The Labels block (labels empty when it held none).
  virtual void labels_read(const Design &) {}
  // A line among the data rows that is not a run.
  virtual void text_line_read(const char * /*line*/) {}
  virtual void data_read(const Design &) {}
};

// Reads, checks and returns the design of the file that `reader` reads
// (named design.path = reader.name()). settings gives the values the
// command line set and receives those the parameter line sets (Pi, Gamma,
// Alpha); the design's `analysed` is settled from -N, -L and Nvars=. Every
// problem throws an Error naming the offending line.
Design read_design(LineReader &reader, Settings &settings, DesignReadObserver *observer = nullptr);

}  // namespace bayescreen
