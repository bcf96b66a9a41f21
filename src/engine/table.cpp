#include "engine/table.h"

#include <csv.h>

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <new>
#include <optional>

#include "support/error.h"

namespace bayescreen {

// ---- File names and legacy design files ------------------------------------------

static bool ends_with_no_case(std::string_view text, std::string_view tail) {
  if (text.size() < tail.size()) return false;
  std::string_view end = text.substr(text.size() - tail.size());
  for (size_t i = 0; i < tail.size(); i++)
    if (std::tolower(static_cast<unsigned char>(end[i])) != tail[i]) return false;
  return true;
}

bool is_table_file_name(std::string_view file_name) {
  return ends_with_no_case(file_name, ".csv") || ends_with_no_case(file_name, ".tsv");
}

char table_separator(std::string_view file_name) {
  return ends_with_no_case(file_name, ".tsv") ? '\t' : ',';
}

static bool begins_with_no_case(std::string_view text, std::string_view head) {
  if (text.size() < head.size()) return false;
  for (size_t i = 0; i < head.size(); i++)
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(head[i])))
      return false;
  return true;
}

static bool is_blank_char(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// The next physical line of text from at, without its end (LF, CR LF or a
// lone CR); moves at past that end.
static std::string_view next_line(std::string_view text, size_t &at) {
  size_t end = text.find_first_of("\r\n", at);
  if (end == std::string_view::npos) end = text.size();
  std::string_view line = text.substr(at, end - at);
  at = end;
  if (at < text.size()) at += text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n' ? 2 : 1;
  return line;
}

// The line-reader's rules: lines end at LF, CR LF or a lone CR; white space
// at both ends is dropped; blank lines and lines that begin with # ; or %
// are skipped.
bool is_design_file_text(std::string_view text) {
  int lines_seen = 0;
  size_t at = 0;
  while (at < text.size()) {
    std::string_view line = next_line(text, at);
    while (!line.empty() && is_blank_char(line.front())) line.remove_prefix(1);
    while (!line.empty() && is_blank_char(line.back())) line.remove_suffix(1);
    if (line.empty() || line.front() == '#' || line.front() == ';' || line.front() == '%')
      continue;
    if (++lines_seen < 2) continue;
    // The parameter line: words split at blanks, up to a comment word.
    size_t w = 0;
    while (w < line.size()) {
      while (w < line.size() && (line[w] == ' ' || line[w] == '\t')) w++;
      size_t w_end = line.find_first_of(" \t", w);
      if (w_end == std::string_view::npos) w_end = line.size();
      std::string_view word = line.substr(w, w_end - w);
      w = w_end;
      if (word.empty()) continue;
      if (word.front() == '#' || word.front() == ';' || word.front() == '%') break;
      if ((begins_with_no_case(word, "NR") || begins_with_no_case(word, "NN")) &&
          word.find('=') != std::string_view::npos)
        return true;
    }
    return false;
  }
  return false;
}

// ---- Messages --------------------------------------------------------------------

static std::string quoted(std::string_view text) { return "`" + std::string(text) + "'"; }

// "\nBAD TABLE `file', line L, column `C': what !\n"; line 0 and an empty
// column leave those parts out.
[[noreturn]] static void refuse(const std::string &file, int line, const std::string &column,
                                const std::string &what) {
  std::string message = "\nBAD TABLE " + quoted(file);
  if (line > 0) message += ", line " + std::to_string(line);
  if (!column.empty()) message += ", column " + column;
  message += ": " + what + " !\n";
  throw Error(message);
}

Coding parse_coding(std::string_view text) {
  const std::string form =
      "\nBAD CODING " + quoted(text) + ": it should read NAME:LOW/HIGH, as Temp:150/180 !\n";
  size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) throw Error(form);
  std::string_view levels = text.substr(colon + 1);
  size_t slash = levels.find('/');
  if (slash == std::string_view::npos || levels.find('/', slash + 1) != std::string_view::npos)
    throw Error(form);
  Coding coding{std::string(text.substr(0, colon)), std::string(levels.substr(0, slash)),
                std::string(levels.substr(slash + 1))};
  if (coding.name.empty() || coding.low.empty() || coding.high.empty()) throw Error(form);
  return coding;
}

// ---- Parsing the cells -----------------------------------------------------------

namespace {

// The cells of a table: the header and the data rows, each row as wide as
// the header.
struct Cells {
  std::vector<std::string> header;
  int header_line = 0;
  std::vector<std::string> data;  // rows x width, row by row
  std::vector<int> row_lines;
  size_t width() const { return header.size(); }
};

// What the libcsv callbacks fill. They must not throw through the C
// library, so the first problem is kept here and thrown after the call.
struct Collector {
  Cells cells;
  std::vector<std::string> row;
  int line = 0;        // the physical line being fed
  int row_line = 0;    // the line the row in progress began on
  bool in_row = false;
  std::optional<std::pair<int, std::string>> problem;  // line, message part
  bool no_memory = false;  // a callback could not store what it was given
};

bool is_cell_space(char c, char separator) { return (c == ' ' || c == '\t') && c != separator; }

std::string trimmed(const char *text, size_t len) {
  if (text == nullptr) return std::string();  // an empty first field
  size_t from = 0;
  while (from < len && (text[from] == ' ' || text[from] == '\t')) from++;
  while (len > from && (text[len - 1] == ' ' || text[len - 1] == '\t')) len--;
  return std::string(text + from, len - from);
}

void out_of_memory(Collector *c) {
  c->no_memory = true;
  c->problem.reset();  // its text may be what could not be stored
}

void on_field(void *text, size_t len, void *data) {
  auto *c = static_cast<Collector *>(data);
  try {
    c->row.push_back(trimmed(static_cast<const char *>(text), len));
  } catch (const std::bad_alloc &) {
    out_of_memory(c);
  }
}

// A row's cells against the header's width: too few and too many cells are
// both refused, naming the first missing column or the first extra value.
void take_row(Collector *c) {
  Cells &cells = c->cells;
  if (cells.header_line == 0) {
    cells.header = std::move(c->row);
    cells.header_line = c->row_line;
  } else if (c->row.size() != cells.width()) {
    std::string what = std::to_string(c->row.size()) + " cell" +
                       (c->row.size() == 1 ? "" : "s") + " where the header has " +
                       std::to_string(cells.width());
    if (c->row.size() < cells.width())
      what += " (no value for the column " + quoted(cells.header[c->row.size()]) + ")";
    else
      what += " (" + quoted(c->row[cells.width()]) + " stands past the last column, " +
              quoted(cells.header.back()) + ")";
    c->problem.emplace(c->row_line, what);
  } else {
    for (std::string &cell : c->row) cells.data.push_back(std::move(cell));
    cells.row_lines.push_back(c->row_line);
  }
  c->row.clear();
}

void on_row(int, void *data) {
  auto *c = static_cast<Collector *>(data);
  c->in_row = false;
  if (c->problem || c->no_memory) return;
  try {
    take_row(c);
  } catch (const std::bad_alloc &) {
    out_of_memory(c);
  }
}

// Feeds the text to libcsv one physical line at a time (a line ends at LF,
// CR LF or a lone CR), so that each row is known by the line it began on.
Cells parse_cells(std::string_view text, const std::string &file, char separator) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  csv_parser parser;
  if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI) != 0)
    throw Error("\nBAD TABLE " + quoted(file) + ": no memory for the parser !\n");
  csv_set_delim(&parser, static_cast<unsigned char>(separator));
  Collector c;
  size_t at = 0;
  while (at < text.size() && !c.problem && !c.no_memory) {
    const size_t begin = at;
    next_line(text, at);
    std::string_view line = text.substr(begin, at - begin);
    c.line++;
    if (!c.in_row) {
      bool blank = true;
      for (char ch : line)
        if (ch != '\r' && ch != '\n' && !is_cell_space(ch, separator)) blank = false;
      if (!blank) {
        c.in_row = true;
        c.row_line = c.line;
      }
    }
    if (csv_parse(&parser, line.data(), line.size(), on_field, on_row, &c) == line.size() ||
        c.problem)
      continue;
    if (csv_error(&parser) != CSV_EPARSE)
      c.no_memory = true;  // the parser's own buffer could not grow
    else
      c.problem.emplace(c.line,
                        "a quote inside a field that does not begin with one, or text after a "
                        "closing quote; a quote inside a quoted field is written twice (\"\")");
  }
  if (!c.problem && !c.no_memory && csv_fini(&parser, on_field, on_row, &c) != 0 && !c.problem)
    c.problem.emplace(c.row_line, "a quoted field is not closed before the end of the file");
  csv_free(&parser);
  if (c.no_memory) throw std::bad_alloc();
  if (c.problem) refuse(file, c.problem->first, "", c.problem->second);
  return std::move(c.cells);
}

// ---- Values ----------------------------------------------------------------------

// A finite number written in decimal or exponent form, with an optional
// leading + or -.
bool parse_number(const std::string &text, double &value) {
  const char *first = text.data();
  const char *last = first + text.size();
  if (first != last && *first == '+') {
    first++;
    if (first != last && (*first == '+' || *first == '-')) return false;
  }
  if (first == last) return false;
  auto [end, ec] = std::from_chars(first, last, value, std::chars_format::general);
  return ec == std::errc() && end == last && std::isfinite(value);
}

// Numbers of a column with a centre: halfway between low and high up to the
// rounding of decimal values (1.1, 1.2 and 1.3 hold a centre).
bool is_halfway(double value, double low, double high) {
  return std::fabs(2 * value - (low + high)) <=
         4 * DBL_EPSILON * (std::fabs(low) + std::fabs(high));
}

std::string column_label(const std::string &name) { return quoted(name); }

// The coding of one factor column: fills levels (column j of the runs x
// factors matrix) and returns the column's coding-table entry.
class ColumnCoder {
 public:
  ColumnCoder(const Cells &cells, size_t column, const std::string &file)
      : cells_(cells), column_(column), file_(file), name_(cells.header[column]) {}

  FactorCoding code(const Coding *coding, std::vector<int32_t> &levels, size_t factor,
                    size_t factors) {
    runs_ = cells_.row_lines.size();
    for (size_t r = 0; r < runs_; r++)
      if (cell(r).empty()) refuse_at(r, "the value is missing");
    numbers_.resize(runs_);
    bool numeric = true;
    for (size_t r = 0; r < runs_ && numeric; r++) numeric = parse_number(cell(r), numbers_[r]);

    std::vector<int32_t> coded(runs_);
    FactorCoding entry{name_, "", "", ""};
    if (coding != nullptr) {
      double low = 0, high = 0;
      if (numeric && parse_number(coding->low, low) && parse_number(coding->high, high))
        code_numbers(low, high, true, coded, entry);
      else
        code_texts_as_named(*coding, coded, entry);
    } else if (numeric) {
      auto [low, high] = std::minmax_element(numbers_.begin(), numbers_.end());
      if (*low == *high)
        refuse_at(0, quoted(cell(0)) + " is the only value of the factor (it needs two)");
      code_numbers(*low, *high, false, coded, entry);
    } else {
      code_texts_in_order(coded, entry);
    }
    for (size_t r = 0; r < runs_; r++) levels[r * factors + factor] = coded[r];
    return entry;
  }

 private:
  const std::string &cell(size_t row) const { return cells_.data[row * cells_.width() + column_]; }

  [[noreturn]] void refuse_at(size_t row, const std::string &what) const {
    refuse(file_, cells_.row_lines[row], column_label(name_), what);
  }

  // The first row whose number is value, or runs_.
  size_t first_row_of(double value) const {
    for (size_t r = 0; r < runs_; r++)
      if (numbers_[r] == value) return r;
    return runs_;
  }

  void code_numbers(double low, double high, bool named, std::vector<int32_t> &coded,
                    FactorCoding &entry) {
    if (named) check_named_levels(low == high, first_row_of(low), first_row_of(high));
    const std::string low_text = cell(first_row_of(low)), high_text = cell(first_row_of(high));
    for (size_t r = 0; r < runs_; r++) {
      const double v = numbers_[r];
      if (v == low) {
        coded[r] = -1;
      } else if (v == high) {
        coded[r] = 1;
      } else if (is_halfway(v, low, high)) {
        coded[r] = 0;
        if (entry.centre.empty()) entry.centre = cell(r);
      } else if (named) {
        refuse_at(r, quoted(cell(r)) + " is neither level the coding names (" + low_text +
                         " and " + high_text + ") nor halfway between them");
      } else {
        refuse_at(r, quoted(cell(r)) + " is a third level (the factor has " + low_text +
                         " and " + high_text +
                         "; only a value halfway between them is taken, as a centre point)");
      }
    }
    entry.low = low_text;
    entry.high = high_text;
  }

  size_t first_row_of(const std::string &text) const {
    for (size_t r = 0; r < runs_; r++)
      if (cell(r) == text) return r;
    return runs_;
  }

  void check_named_levels(bool same, size_t low_row, size_t high_row) const {
    if (same) refuse(file_, 0, column_label(name_), "the coding names one value for both levels");
    for (auto [row, text] : {std::pair{low_row, "-1"}, std::pair{high_row, "+1"}})
      if (row == runs_)
        refuse(file_, 0, column_label(name_),
               std::string("the coding names a ") + text + " level that no row holds");
  }

  void code_texts_as_named(const Coding &coding, std::vector<int32_t> &coded,
                           FactorCoding &entry) {
    check_named_levels(coding.low == coding.high, first_row_of(coding.low),
                       first_row_of(coding.high));
    for (size_t r = 0; r < runs_; r++) {
      if (cell(r) == coding.low)
        coded[r] = -1;
      else if (cell(r) == coding.high)
        coded[r] = 1;
      else
        refuse_at(r, quoted(cell(r)) + " is neither level the coding names (" +
                         quoted(coding.low) + " and " + quoted(coding.high) + ")");
    }
    entry.low = coding.low;
    entry.high = coding.high;
  }

  void code_texts_in_order(std::vector<int32_t> &coded, FactorCoding &entry) {
    for (size_t r = 0; r < runs_; r++) {
      const std::string &v = cell(r);
      if (entry.low.empty() || v == entry.low) {
        entry.low = v;
        coded[r] = -1;
      } else if (entry.high.empty() || v == entry.high) {
        entry.high = v;
        coded[r] = 1;
      } else {
        refuse_at(r, quoted(v) + " is a third level (the factor has " + quoted(entry.low) +
                         " and " + quoted(entry.high) +
                         "; a column of texts has no centre point)");
      }
    }
    if (entry.high.empty())
      refuse_at(0, quoted(cell(0)) + " is the only value of the factor (it needs two)");
  }

  const Cells &cells_;
  size_t column_;
  const std::string &file_;
  const std::string &name_;
  size_t runs_ = 0;
  std::vector<double> numbers_;
};

// The index of the column called name; refuses an unknown name, saying
// what it was meant as and which names the table has.
size_t find_column(const Cells &cells, const std::string &name, const std::string &file,
                   const char *meant_as) {
  for (size_t k = 0; k < cells.width(); k++)
    if (cells.header[k] == name) return k;
  std::string names;
  for (const std::string &h : cells.header) names += (names.empty() ? "" : ", ") + quoted(h);
  refuse(file, 0, "",
         "no column is named " + quoted(name) + " (" + meant_as + "); the columns are " + names);
}

}  // namespace

// ---- The table as a design -------------------------------------------------------

TableDesign read_table(std::string_view text, const std::string &file_name,
                       const TableOptions &options) {
  const std::string &file = file_name;
  Cells cells = parse_cells(text, file, options.separator);
  if (cells.header.empty()) refuse(file, 0, "", "the file holds no header row");
  for (size_t k = 0; k < cells.width(); k++) {
    const std::string &name = cells.header[k];
    if (name.empty())
      refuse(file, cells.header_line, std::to_string(k + 1), "the column has no name");
    for (size_t e = 0; e < k; e++)
      if (cells.header[e] == name)
        refuse(file, cells.header_line, std::to_string(k + 1),
               "the name " + quoted(name) + " is also the name of column " +
                   std::to_string(e + 1));
  }
  if (cells.row_lines.empty())
    refuse(file, cells.header_line, "", "no data rows below the header");

  // The response and factor columns.
  const size_t response = options.response.empty()
                              ? cells.width() - 1
                              : find_column(cells, options.response, file, "the response");
  std::vector<size_t> factors;
  if (options.factors.empty()) {
    for (size_t k = 0; k < cells.width(); k++)
      if (k != response) factors.push_back(k);
  } else {
    for (const std::string &name : options.factors) {
      const size_t k = find_column(cells, name, file, "a factor");
      if (k == response)
        refuse(file, 0, "",
               "the column " + quoted(name) + " is named as the response and as a factor");
      if (std::find(factors.begin(), factors.end(), k) != factors.end())
        refuse(file, 0, "", "the column " + quoted(name) + " is named twice as a factor");
      factors.push_back(k);
    }
  }
  if (factors.empty()) refuse(file, 0, "", "the table has no column besides the response");

  // The named codings, one per factor at most.
  std::vector<const Coding *> named(factors.size(), nullptr);
  for (const Coding &coding : options.codings) {
    const size_t k = find_column(cells, coding.name, file, "a coding");
    auto at = std::find(factors.begin(), factors.end(), k);
    if (at == factors.end())
      refuse(file, 0, "", "the coding names " + quoted(coding.name) + ", which is not a factor");
    const Coding *&slot = named[static_cast<size_t>(at - factors.begin())];
    if (slot != nullptr) refuse(file, 0, "", "two codings name " + quoted(coding.name));
    slot = &coding;
  }

  TableDesign design;
  design.runs = static_cast<int>(cells.row_lines.size());
  design.response_name = cells.header[response];
  design.row_lines = cells.row_lines;
  const size_t runs = cells.row_lines.size();
  design.response.resize(runs);
  for (size_t r = 0; r < runs; r++) {
    const std::string &value = cells.data[r * cells.width() + response];
    if (value.empty())
      refuse(file, cells.row_lines[r], column_label(design.response_name),
             "the response is missing");
    if (!parse_number(value, design.response[r]))
      refuse(file, cells.row_lines[r], column_label(design.response_name),
             quoted(value) + " is not a finite number, which a response must be");
  }
  design.levels.resize(runs * factors.size());
  for (size_t j = 0; j < factors.size(); j++) {
    design.names.push_back(cells.header[factors[j]]);
    ColumnCoder coder(cells, factors[j], file);
    design.coding.push_back(coder.code(named[j], design.levels, j, factors.size()));
  }
  return design;
}

}  // namespace bayescreen

namespace bayescreen {

Design design_from_table(TableDesign table, const std::string &file_name, const Settings &settings) {
  const int columns = static_cast<int>(table.names.size());
  if (columns > kMaxColumns)
    throw Error("\nBAD TABLE " + quoted(file_name) + ": " + std::to_string(columns) +
                " factor columns, at most " + std::to_string(kMaxColumns) +
                " are allowed (choose them with --factors) !\n");
  for (size_t r = 1; r < table.response.size(); r++) {
    if (table.response[r] != table.response[0]) break;
    if (r + 1 == table.response.size())
      refuse(file_name, 0, column_label(table.response_name),
             "every run has the same response, which holds no information about any factor");
  }
  Design design;
  design.path = file_name;
  design.heading = "Table " + file_name + ": response " + table.response_name;
  design.runs = table.runs;
  design.columns = columns;
  const bool limited = settings.nvars > 0 && !settings.all_columns;
  design.analysed = limited ? std::min(settings.nvars, columns) : columns;
  design.x = std::move(table.levels);
  design.y = std::move(table.response);
  for (int r = 0; r < design.runs; r++) design.run_numbers.push_back(r + 1);
  design.labels = std::move(table.names);
  design.response_name = std::move(table.response_name);
  design.coding = std::move(table.coding);
  name_columns(design);
  return design;
}

}  // namespace bayescreen
