#include "support/linereader.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>

namespace bayescreen {

namespace {

constexpr size_t kBlockSize = 4000;
constexpr int kLineFeed = '\n';
constexpr int kCarriageReturn = '\r';
constexpr int kEndOfFile = -1;
constexpr int kNulStandIn = 1;  // what a NUL byte reads as
constexpr size_t kLineGrowth = 500;
// The longest line, as for the unsigned capacities of the plain reader; a
// longer one is refused as memory that cannot be had.
constexpr size_t kMaxLine = UINT_MAX - 1024;

}  // namespace

Error file_error(const char *verb, const std::string &path, int err) {
  const bool loud = verb != nullptr && isupper(static_cast<unsigned char>(verb[0]));
  std::string text = std::string("\n") + (loud ? "CANNOT" : "Cannot") + " " + verb + " the file  `" +
                     path + "'\n" + strerror(err) + "\n";
  return Error(text, Channel::StdErr);
}

LineReader::LineReader(FILE *file, std::string name, LineReaderSettings settings)
    : file_(file), name_(std::move(name)), settings_(settings), block_(kBlockSize) {}

void LineReader::reset() {
  line_number_ = 0;
  block_pos_ = block_len_ = 0;
  pushed_back_ = -1;
}

int LineReader::raw_char() {
  if (pushed_back_ >= 0) {
    const int c = pushed_back_;
    pushed_back_ = -1;
    return c;
  }
  if (block_pos_ >= block_len_) {
    block_pos_ = 0;
    block_len_ = fread(block_.data(), 1, kBlockSize, file_);
    if (block_len_ == 0) {
      // A read that fails (the name of a directory, a device error) must
      // not pass for the end of the file.
      if (ferror(file_)) throw file_error("READ", name_, errno);
      return kEndOfFile;
    }
  }
  return block_[block_pos_++];
}

// One character with CR LF and lone CR folded to LF; a NUL byte reads as 1
// so that it never ends the text of a line.
int LineReader::char_folded() {
  const int c = raw_char();
  if (c == kCarriageReturn) {
    const int d = raw_char();
    if (d != kLineFeed) pushed_back_ = d;
    return kLineFeed;
  }
  if (c < 0) return kEndOfFile;
  if (c == 0) return kNulStandIn;
  return c;
}

// The buffer grows by 500 bytes, or by half its size once lines get long,
// so that a line of many megabytes does not cost a copy every 500 bytes.
void LineReader::store(size_t &n, int c) {
  if (n >= line_.size()) {
    if (line_.size() >= kMaxLine) throw AllocationError(line_.size() + kLineGrowth + 3, "rexxalloc");
    const size_t grow = line_.size() / 2 > kLineGrowth ? line_.size() / 2 : kLineGrowth;
    line_.resize(line_.size() + (grow < kMaxLine - line_.size() ? grow : kMaxLine - line_.size()));
  }
  line_[n++] = static_cast<char>(c);
}

char *LineReader::next() {
  for (;;) {
    line_number_++;
    int c = char_folded();
    if (c == kEndOfFile) return nullptr;
    size_t n = 0;
    while (c != kLineFeed && c != kEndOfFile) {
      if (settings_.quote_quotes && (c == '"' || c == '\\')) store(n, '\\');
      store(n, c);
      c = char_folded();
    }
    store(n, '\0');
    n--;

    char *text = line_.data();
    if (!settings_.keep_end_space)
      while (n > 0 && isspace(static_cast<unsigned char>(text[n - 1]))) text[--n] = '\0';
    if (!settings_.keep_initial_space)
      while (*text != '\0' && isspace(static_cast<unsigned char>(*text))) text++;
    if (!settings_.keep_blank_lines && *text == '\0') continue;
    if (settings_.comment_chars != nullptr && *text != '\0' &&
        strchr(settings_.comment_chars, *text) != nullptr)
      continue;
    return text;
  }
}

char *LineReader::next_kept() {
  char *line = next();
  kept_ = line != nullptr ? line : "NULL";
  any_kept_ = true;
  return line;
}

LineContext LineReader::context() const {
  LineContext c;
  c.text = any_kept_ ? kept_ : std::string();
  c.number = line_number_;
  c.file = name_;
  return c;
}

Error LineReader::error_at_line(const char *message) const {
  Error e(message != nullptr ? std::string("\n") + message + "!\n" : std::string());
  e.at_line(context());
  return e;
}

}  // namespace bayescreen
