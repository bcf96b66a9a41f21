// A reader of a text file one logical line at a time, as an object: block
// reads, LF, CR LF and lone CR line ends, leading and trailing white space
// removed, blank and comment lines skipped, physical line numbers kept for
// error reports. Each reader keeps its own state, so readers on different
// files (or threads) do not meet. A failed read throws an Error.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "support/error.h"

namespace bayescreen {

// How a reader treats its lines; the defaults are those of the design files.
struct LineReaderSettings {
  const char *comment_chars = "#;%";  // a line beginning with one is skipped; null: none
  bool keep_end_space = false;        // keep white space at the end of a line
  bool keep_initial_space = false;    // keep white space at the start of a line
  bool keep_blank_lines = false;      // hand out blank lines too
  bool quote_quotes = false;          // put a backslash before every " and \ of a line
};

class LineReader {
 public:
  // Reads the open file `file` (not closed here); name names it in errors.
  LineReader(FILE *file, std::string name, LineReaderSettings settings = {});

  // The next logical line, or null at the end of the file; valid until the
  // next call. A failed read throws "CANNOT READ the file" (standard error).
  char *next();
  // next(), keeping a copy of the line ("NULL" at the end of the file) for
  // the error reports.
  char *next_kept();
  // The physical lines read so far, skipped ones included.
  unsigned line_number() const { return line_number_; }
  const std::string &name() const { return name_; }
  // The last line kept and its number, for an error found in it.
  LineContext context() const;
  // An error found in the last line kept: "\n<message>!\n" (nothing when
  // message is null) with the line as its context.
  Error error_at_line(const char *message) const;
  // Starts again at line 0 (the file position is the caller's business).
  void reset();

 private:
  int raw_char();
  int char_folded();
  void store(size_t &n, int c);

  FILE *file_;
  std::string name_;
  LineReaderSettings settings_;
  std::vector<unsigned char> block_;
  size_t block_pos_ = 0, block_len_ = 0;
  int pushed_back_ = -1;
  std::vector<char> line_;
  std::string kept_;
  bool any_kept_ = false;
  unsigned line_number_ = 0;
};

// The error of a failed file operation, as the program reports it on
// standard error: "\nCANNOT <verb> the file  `<path>'\n<system's text>\n"
// ("Cannot" when verb is in lower case).
Error file_error(const char *verb, const std::string &path, int err);

}  // namespace bayescreen
