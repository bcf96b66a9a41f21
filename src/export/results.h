// What the result files share: the description of the run they come from,
// the sink they are written to, the names of the factors and numbers as
// text. The result files read the analysis results and leave them alone.
#pragma once
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "engine/analysis.h"

namespace bayescreen {

// An option's value as the result files give it: a flag, an integer, a
// number, a text, or nothing.
using OptionValue = std::variant<std::monostate, bool, int64_t, double, std::string>;

// One option by name and value.
struct OptionSetting {
  std::string name;
  OptionValue value;
};

// The run as the front end describes it: the program, the files, and the
// options in force as names and values (never the option tables).
struct RunDescription {
  std::string program_name = "bayescreen";
  std::string program_version;
  std::string input;          // the design file
  std::string log;            // the log file
  // The result files written (empty: not written).
  std::string json, csv_models, csv_factors, csv_prior_grid, csv_follow_up, csv_effects, csv_coding, svg,
      html;
  std::string csv_prefix;     // the prefix of the CSV files (empty: none written)
  std::string csv_effects_space;  // the effects space's table of effects
  std::vector<OptionSetting> letter_options;     // every single-letter option, by letter
  std::vector<OptionSetting> extension_options;  // the extension options given, by name
  std::vector<std::string> extension_words;      // those words as typed
  std::vector<std::string> command_line;         // every word of the command line, the program first
  std::string report;  // the text report as written to the log (for the HTML page; empty: none)
};

// What a result file is made from.
struct ExportInput {
  const Design &design;
  const Settings &settings;
  const Results &results;
  const RunDescription &run;
};

// Where a result file's text goes; the front end writes it whole or not
// at all.
class ResultSink {
 public:
  virtual ~ResultSink() = default;
  virtual void write(const char *text, size_t n) = 0;
  void put(const std::string &text) { write(text.data(), text.size()); }
  // Appends the text printf would print.
  void printf(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
};

// A sink that keeps the text in memory (tests, bindings).
class StringSink : public ResultSink {
 public:
  void write(const char *text, size_t n) override { text_.append(text, n); }
  const std::string &text() const { return text_; }

 private:
  std::string text_;
};

// Text as valid UTF-8: every byte that is not part of a valid sequence
// becomes U+FFFD, so that the files stay readable whatever the design file
// held.
std::string valid_utf8(const std::string &text);
// The label of design column c as given in the Labels block (label k names
// column k, with the letter I counted), or null when there is none or it is
// empty.
const char *column_label(const Design &design, int c);
// The name of the factor of design column c for display: its label, or its
// code (factor_code: the letter, two letters past Z) when it has none.
std::string factor_name(const Design &design, int c);

// The shortest text that reads back as the same double (std::to_chars),
// appended to out; false (nothing appended) when v is not a finite number.
bool append_number(std::string &out, double v);

// A model of the effects space by its effects' names, "AB C" ("(null)" for
// the model of no effect).
std::string effect_model_name(const EffectsResults &r, const EffectModel &m);

}  // namespace bayescreen
