// A text built piece by piece in memory from the counting allocator, so that
// a refused block ends the run with the CANNOT ALLOCATE report and status 1
// like every other allocation of the program.
#pragma once
#include <cstddef>
#include <string>

namespace bayescreen {

class TextBuffer {
 public:
  TextBuffer() = default;
  ~TextBuffer();
  TextBuffer(const TextBuffer &) = delete;
  TextBuffer &operator=(const TextBuffer &) = delete;

  // Appends n characters of text / the whole of a null-terminated text (a
  // null text appends nothing) / count copies of c.
  void append(const char *text, size_t n);
  void append(const char *text);
  void append_repeated(char c, size_t count);
  // Appends the text printf would print.
  void appendf(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
  // Empties the text, keeping the memory.
  void clear();
  // The text so far, null-terminated; "" before the first append. Valid until
  // the next change.
  const char *c_str() const { return text_ != nullptr ? text_ : ""; }
  size_t size() const { return size_; }

 private:
  void reserve(size_t more);

  char *text_ = nullptr;
  size_t size_ = 0;      // characters, without the terminating null
  size_t capacity_ = 0;  // characters the block holds besides the null
};

// The text printf would print, as a string of any length: the messages of
// errors, built where they are found.
std::string string_printf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace bayescreen
