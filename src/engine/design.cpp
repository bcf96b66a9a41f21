#include "engine/design.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "engine/calcmodels.h"
#include "support/error.h"
#include "support/helpers.h"
#include "support/numtext.h"
#include "support/showplaces.h"
#include "support/textbuf.h"

namespace bayescreen {

double ParameterValues::value(int k) const {
  switch (k) {
    case PARM_NROWS: return nrows;
    case PARM_NCOLS: return ncols;
    case PARM_NVARS: return nvars;
    case PARM_PI: return pi;
    case PARM_GAMMA: return gamma;
    default: return alpha;
  }
}

bool Design::two_level() const {
  for (int r = 0; r < runs; r++)
    for (int f = 0; f < analysed; f++)
      if (entry(r, f) != 1 && entry(r, f) != -1) return false;
  return true;
}

std::string factor_letters(int n) {
  constexpr int kSkippedLetter = 'I' - 'A';
  std::string letters;
  for (int k = 0; static_cast<int>(letters.size()) < n; k++)
    if (k != kSkippedLetter) letters += static_cast<char>('A' + k);
  return letters;
}

std::string column_digits(int n) {
  std::string digits;
  for (int k = 0; k < n; k++) digits += static_cast<char>('0' + k);
  return digits;
}

void name_columns(Design &design) {
  design.letters = factor_letters(design.columns);
  design.digits = column_digits(design.columns);
}

std::string factor_code(int c) {
  constexpr char alphabet[] = "ABCDEFGHJKLMNOPQRSTUVWXYZ";  // the factor letters: no I
  if (c < 25) return std::string(1, alphabet[static_cast<size_t>(c)]);
  const int k = c - 25;
  return std::string{alphabet[static_cast<size_t>(k / 25 % 25)], alphabet[static_cast<size_t>(k % 25)]};
}

std::string factor_label(const Design &design, int c) {
  if (c < static_cast<int>(design.labels.size()) && !design.labels[static_cast<size_t>(c)].empty())
    return design.labels[static_cast<size_t>(c)];
  return factor_code(c);
}

std::string effect_code(uint64_t mask) {
  const bool wide = mask >> 25 != 0;
  std::string code;
  for (uint64_t bits = mask; bits != 0; bits &= bits - 1) {
    if (wide && !code.empty()) code += '.';
    code += factor_code(__builtin_ctzll(bits));
  }
  return code;
}

std::string effect_label(const Design &design, uint64_t mask) {
  std::string name;
  for (uint64_t bits = mask; bits != 0; bits &= bits - 1) {
    if (!name.empty()) name += '*';
    name += factor_label(design, __builtin_ctzll(bits));
  }
  return name;
}

std::string effect_display(const Design &design, uint64_t mask) {
  std::string plain;  // the name the effect has without labels
  for (uint64_t bits = mask; bits != 0; bits &= bits - 1)
    plain += (plain.empty() ? "" : "*") + factor_code(__builtin_ctzll(bits));
  const std::string code = effect_code(mask), name = effect_label(design, mask);
  return name == plain ? code : name + " (" + code + ")";
}

namespace {

constexpr int kMaxLabels = 26;
constexpr const char *kBlanks = " \t";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads an int the way "%d" does (white space, optional sign, digits,
// stopping at anything else). Returns 0 when there are no digits, -1 when
// the value is outside the 32-bit range, 1 on success.
int read_int32(const char *s, int32_t *value) {
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
long long digits_value(const char *s, const char **end, long long limit = INT_MAX) {
  long long v = 0;
  bool too_large = false;
  for (; is_digit(*s); s++) {
    if (!too_large) v = v * 10 + (*s - '0');
    if (v > limit) too_large = true;
  }
  *end = s;
  return too_large ? -1 : v;
}

bool begins_with_word(const char *line, const char *word) {
  return line != nullptr && strmatch(line, word) == 0;
}

// The reader of one design file: the reader of its lines, the values read
// and the design filled as it goes.
class DesignFileReader {
 public:
  DesignFileReader(LineReader &lines, Settings &settings, DesignReadObserver *observer)
      : lines_(lines), settings_(settings), observer_(observer != nullptr ? observer : &silent_) {}

  Design read();

 private:
  // An error found in the last line read: message (as printed, on channel)
  // and the line.
  [[noreturn]] void line_error(const std::string &message, Channel channel = Channel::Screen) {
    Error e(message, channel);
    e.at_line(lines_.context());
    throw e;
  }
  [[noreturn]] void line_error(const char *short_message) {
    throw lines_.error_at_line(short_message);
  }

  int find_parameter(const char *word) const;
  void store_parameter(int k, const char *word, const char *value);
  void parse_parameter_line(char *line);
  void check_given(int k) const;
  void check_counts() const;
  void check_priors() const;
  void add_labels(char *words);
  char *read_labels(char *line);
  [[noreturn]] void illegal_character(int j, bool minus, const char *rest);
  [[noreturn]] void entry_too_large(int j, bool minus, const char *digits);
  void read_data_row(const char *line, int32_t i);
  void refuse_constant_response() const;

  LineReader &lines_;
  Settings &settings_;
  DesignReadObserver silent_;
  DesignReadObserver *observer_;
  ParameterValues values_;
  Design design_;
};

int DesignFileReader::find_parameter(const char *word) const {
  for (int k = 0; k < kParmRows; k++) {
    const ParameterKeyword &row = kParameterKeywords[k];
    for (const char *prefix : {row.match1, row.match2})
      if (*prefix != '\0' && strmatch(word, prefix) == 0) return k;
  }
  return -1;
}

void DesignFileReader::store_parameter(int k, const char *word, const char *value) {
  auto unreadable = [&] {
    line_error(string_printf("\nINTERNAL ERROR parsing parameter line!\n"
                      "varptr=NULL in PARMVAR array entry #%u (Word=%s)\n",
                      static_cast<unsigned>(k + 1), shownull(word)));
  };
  if (kParameterKeywords[k].isreal) {
    double *target = k == PARM_PI ? &values_.pi : k == PARM_GAMMA ? &values_.gamma : &values_.alpha;
    if (!scan_double(value, target)) unreadable();
    return;
  }
  int32_t *target = k == PARM_NROWS ? &values_.nrows : k == PARM_NCOLS ? &values_.ncols : &values_.nvars;
  const int got = read_int32(value, target);
  if (got == 0) unreadable();
  if (got < 0) line_error(string_printf("\nVALUE OUT OF RANGE In parameter option  %s\n", word));
}

void DesignFileReader::parse_parameter_line(char *line) {
  PlaceGuard place("Parse_ParmLine");
  char *rest = nullptr;
  char *word = strtok_r(line, kBlanks, &rest);
  if (word == nullptr) line_error("Can't read parameter line");
  for (; word != nullptr; word = strtok_r(nullptr, kBlanks, &rest)) {
    if (word[0] == '#' || word[0] == '%' || word[0] == ';') break;
    const int k = find_parameter(word);
    if (k < 0) {
      observer_->unknown_parameter(lines_.line_number(), word);
      continue;
    }
    const char *value = strchr(word, '=');
    if (value == nullptr) line_error(string_printf("\nMissing = In parameter option  %s\n", word));
    while (*value == '=') value++;
    if (*value == '\0') line_error(string_printf("\nMISSING VALUE In parameter option  %s\n", word));
    values_.in_file[k] = true;
    if (values_.on_command_line[k]) continue;  // the command line's value stands
    store_parameter(k, word, value);
  }
  if (!values_.in_file[PARM_NVARS] && !values_.on_command_line[PARM_NVARS])
    values_.nvars = values_.ncols;
}

void DesignFileReader::check_given(int k) const {
  PlaceGuard place("Check_Novar");
  const char *name = kParameterKeywords[k].keyname;
  if (!values_.in_file[k] && !values_.on_command_line[k])
    throw Error(string_printf("\nENTER value for %s in Infile or Command Line!\n", name));
  if (values_.value(k) == 0.0) throw Error(string_printf("\nILLEGAL ZERO VALUE for %s !\n", name));
}

// Counts read with a sign are refused when negative, and Ncols is limited to
// the columns whose factor letters are printable.
void DesignFileReader::check_counts() const {
  for (int k : {PARM_NROWS, PARM_NCOLS, PARM_NVARS})
    if (values_.value(k) < 0)
      throw Error(string_printf("\nILLEGAL NEGATIVE VALUE for %s !\n", kParameterKeywords[k].keyname));
  if (values_.nrows == 0 || values_.ncols == 0 || values_.nvars == 0)
    throw Error(string_printf("Nrows=%d  Ncols=%d  Nvars=%d:  Too few!\n", values_.nrows, values_.ncols,
                       values_.nvars),
                Channel::ScreenAndLog);
  if (values_.ncols > kMaxColumns)
    throw Error(string_printf("\nTOO MANY COLUMNS: Ncols=%d, at most %d are allowed !\n", values_.ncols,
                       kMaxColumns));
}

// Pi is a prior probability and Gamma a ratio of standard deviations: any
// other value would make every posterior probability meaningless. A value
// that is not a finite number (an overflowing 1e400, inf, nan) is named as
// such first.
void DesignFileReader::check_priors() const {
  const double pi = values_.pi, gamma = values_.gamma;
  if (!std::isfinite(pi))
    throw Error(string_printf("\nILLEGAL VALUE for PI: Pi=%g must be a finite number !\n", pi));
  if (!std::isfinite(gamma))
    throw Error(string_printf("\nILLEGAL VALUE for GAMMA: Gamma=%g must be a finite number !\n", gamma));
  if (!(pi > 0.0 && pi < 1.0))
    throw Error(string_printf("\nILLEGAL VALUE for PI: Pi=%g must lie strictly between 0 and 1 !\n", pi));
  if (!(gamma > 0.0))
    throw Error(string_printf("\nILLEGAL VALUE for GAMMA: Gamma=%g must be greater than 0 !\n", gamma));
  if (!prior_precision_finite(gamma))
    throw Error(string_printf("\nILLEGAL VALUE for GAMMA: Gamma=%g is too small: its prior precision 1/Gamma^2 "
                       "overflows !\n",
                       gamma));
}

// Takes each blank-separated word of `words` as the next label. A label
// whose value opens a double quote that the word does not close, as
// A="Feed rate", runs on over the blanks to the closing quote and is read
// without its quotes (an extension: such a line was refused before). A
// quoted value without blanks (A="x") keeps its quotes, as it always has.
void DesignFileReader::add_labels(char *words) {
  char *at = words;
  for (;;) {
    while (*at == ' ' || *at == '\t') at++;
    if (*at == '\0') break;
    char *word = at;
    while (*at != '\0' && *at != ' ' && *at != '\t') at++;
    std::string value(word, static_cast<size_t>(at - word));
    const bool opens_quote = value.size() >= 3 && value[1] == '=' && value[2] == '"' &&
                             value.find('"', 3) == std::string::npos;
    if (opens_quote) {
      char *close = strchr(at, '"');
      if (close == nullptr)
        line_error(string_printf("SYNTAX ERROR IN LABEL DESIGNATION!\nLabel #%u: the quote after %c= is not closed\n",
                          static_cast<unsigned>(design_.labels.size() + 1), word[0]));
      value = value.substr(0, 2) + std::string(word + 3, static_cast<size_t>(close - word - 3));
      at = close + 1;
      if (*at != '\0' && *at != ' ' && *at != '\t')
        line_error(string_printf("SYNTAX ERROR IN LABEL DESIGNATION!\nLabel #%u: a blank must follow the closing quote\n",
                          static_cast<unsigned>(design_.labels.size() + 1)));
    }
    const int nlab = static_cast<int>(design_.labels.size());
    if (nlab >= kMaxLabels) line_error("MAXIMUM NUMBER of labels: 26");
    const char expected = static_cast<char>('A' + nlab);
    if (toupper(static_cast<unsigned char>(value[0])) != expected || value.size() < 2 || value[1] != '=')
      line_error(string_printf("SYNTAX ERROR IN LABEL DESIGNATION!\nLabel #%u must begin with %c=\n",
                        static_cast<unsigned>(nlab + 1), expected));
    design_.labels.emplace_back(value.substr(2));
  }
}

// The label block: the rest of the Label line and every line up to Data.
// Returns the Data line, or null at end of file.
char *DesignFileReader::read_labels(char *line) {
  char *rest = line;
  while (*rest != '\0' && !isspace(static_cast<unsigned char>(*rest))) rest++;
  add_labels(rest);
  for (line = lines_.next_kept(); line != nullptr && !begins_with_word(line, "Data");
       line = lines_.next_kept())
    add_labels(line);
  observer_->labels_read(design_);
  return line;
}

void DesignFileReader::illegal_character(int j, bool minus, const char *rest) {
  line_error(string_printf("\nILLEGAL CHARACTER in design matrix!\nj=%d  word=%s%s\n"
                    "Should be only digits and signs !\n",
                    j + 1, minus ? "-" : "", rest),
             Channel::ScreenAndLog);
}

void DesignFileReader::entry_too_large(int j, bool minus, const char *digits) {
  line_error(string_printf("\nNUMBER TOO LARGE in design matrix!\nj=%d  word=%s%s\n"
                    "Should be at most %d digits long, from %d to %d !\n",
                    j + 1, minus ? "-" : "", digits, 10, INT_MIN, INT_MAX),
             Channel::ScreenAndLog);
}

// One data row: run number, the design entries, response.
void DesignFileReader::read_data_row(const char *line, int32_t i) {
  const int32_t mm = design_.columns;
  const char *s = line;
  long long run = digits_value(s, &s);
  if (run < 0)
    line_error(string_printf("\nRUN NUMBER TOO LARGE in data row!\nRow #%u:  word=%.*s\n"
                      "Run numbers must be at most %d !\n",
                      static_cast<unsigned>(i + 1), static_cast<int>(s - line), line, INT_MAX),
               Channel::ScreenAndLog);
  design_.run_numbers.push_back(static_cast<int32_t>(run));
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
    design_.x.push_back(static_cast<int32_t>(minus ? -v : v));
  }
  if (j < mm)
    line_error(string_printf("\nSHORT LINE for design matrix entries:\nRow #%u:  Read %u value%s, need %u\n",
                      static_cast<unsigned>(i + 1), static_cast<unsigned>(j), plural(j),
                      static_cast<unsigned>(mm)),
               Channel::ScreenAndLog);
  // A response that is not a finite number ("nan", "inf") counts as missing.
  double y = 0;
  if (!scan_double(s, &y) || !std::isfinite(y))
    line_error(string_printf("\nSHORT LINE for response variable:\n"
                      "Row #%u: Read %u design matrix value%s, need response value\n",
                      static_cast<unsigned>(i + 1), static_cast<unsigned>(mm), plural(mm)),
               Channel::ScreenAndLog);
  design_.y.push_back(y);
}

// A response that is the same in every run holds no information about any
// factor: every fit would be decided by rounding residue. A single run is
// left to the fits, where no model has enough runs.
void DesignFileReader::refuse_constant_response() const {
  const std::vector<double> &y = design_.y;
  if (y.size() < 2) return;
  for (size_t i = 1; i < y.size(); i++)
    if (y[i] != y[0]) return;
  throw Error(string_printf("\nCONSTANT RESPONSE: every run has the response %g !\n"
                     "Such a design holds no information about any factor.\n",
                     y[0]),
              Channel::ScreenAndLog);
}

Design DesignFileReader::read() {
  PlaceGuard place("ReadDat");
  design_.path = lines_.name();
  char *line = lines_.next_kept();
  if (line == nullptr) line_error("Can't read heading line");
  design_.heading = line;
  observer_->heading_read(design_);

  line = lines_.next_kept();
  if (line == nullptr) line_error("Can't read parameter line");
  values_.nvars = settings_.nvars;
  values_.pi = settings_.pi;
  values_.gamma = settings_.gamma;
  values_.alpha = settings_.alpha;
  for (int k = 0; k < kParmRows; k++) values_.on_command_line[k] = settings_.on_command_line[k] != 0;
  parse_parameter_line(line);
  if (settings_.all_columns || values_.nvars > values_.ncols) values_.nvars = values_.ncols;
  observer_->parameters_read(values_);
  check_given(PARM_NROWS);
  check_given(PARM_NCOLS);
  check_counts();
  check_priors();
  settings_.pi = values_.pi;
  settings_.gamma = values_.gamma;
  settings_.alpha = values_.alpha;
  design_.runs = values_.nrows;
  design_.columns = values_.ncols;
  design_.analysed = values_.nvars;

  line = lines_.next_kept();
  if (line == nullptr || !(begins_with_word(line, "Label") || begins_with_word(line, "Data")))
    line_error("NEXT LINE should begin Label or Data !");
  if (begins_with_word(line, "Label")) {
    line = read_labels(line);
    if (line == nullptr) line_error("NEXT LINE should begin with `Data'");
  }

  // The rows grow with the rows actually read, so that a parameter line
  // promising far more rows than the file holds costs no memory.
  const int32_t nn = design_.runs;
  int32_t i = 0;
  bool text_seen = false;
  while (i < nn && (line = lines_.next_kept()) != nullptr) {
    if (!is_digit(line[0])) {
      observer_->text_line_read(line);
      if (text_seen)
        throw Error(string_printf("TWO TEXT LINES in data block!\n  %s\n  %s\n", design_.text_line.c_str(), line),
                    Channel::ScreenAndLog);
      design_.text_line = line;
      text_seen = true;
      continue;
    }
    read_data_row(line, i);
    i++;
  }
  if (i < nn)
    throw Error(string_printf("SHORT FILE: CANNOT READ %u data row%s !\nRead only %u data rows.\n",
                       static_cast<unsigned>(nn), plural(nn), static_cast<unsigned>(i)),
                Channel::ScreenAndLog);
  observer_->data_read(design_);
  refuse_constant_response();
  name_columns(design_);
  return std::move(design_);
}

}  // namespace

Design read_design(LineReader &reader, Settings &settings, DesignReadObserver *observer) {
  DesignFileReader file(reader, settings, observer);
  return file.read();
}

}  // namespace bayescreen
