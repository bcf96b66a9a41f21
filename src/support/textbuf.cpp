#include "support/textbuf.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/error.h"
#include "support/helpers.h"

namespace bayescreen {

TextBuffer::~TextBuffer() { free(text_); }

// The block at least doubles, so appending n characters one piece at a time
// costs O(n) copying. Its size in elements must fit the allocator's unsigned
// counts; a text beyond that is refused as memory the system cannot give.
void TextBuffer::reserve(size_t more) {
  if (more <= capacity_ - size_) return;
  constexpr size_t kLimit = UINT_MAX - 8;
  if (more > kLimit - size_) throw AllocationError(ULONG_MAX, "rexxalloc");
  size_t wanted = size_ + more;
  size_t grown = capacity_ < 64 ? 64 : 2 * capacity_;
  if (grown > kLimit) grown = kLimit;
  if (grown < wanted) grown = wanted;
  // rexxalloc keeps 3 spare zeroed bytes, one of which holds the null.
  text_ = static_cast<char *>(rexxalloc(text_, 1, static_cast<unsigned>(capacity_),
                                        static_cast<unsigned>(grown)));
  capacity_ = grown;
}

void TextBuffer::append(const char *text, size_t n) {
  if (n == 0) return;
  reserve(n);
  memcpy(text_ + size_, text, n);
  size_ += n;
  text_[size_] = '\0';
}

void TextBuffer::append(const char *text) {
  if (text != nullptr) append(text, strlen(text));
}

void TextBuffer::append_repeated(char c, size_t count) {
  if (count == 0) return;
  reserve(count);
  memset(text_ + size_, c, count);
  size_ += count;
  text_[size_] = '\0';
}

void TextBuffer::appendf(const char *fmt, ...) {
  char local[128];
  va_list ap, again;
  va_start(ap, fmt);
  va_copy(again, ap);
  const int n = vsnprintf(local, sizeof local, fmt, ap);
  va_end(ap);
  if (n >= 0 && static_cast<size_t>(n) < sizeof local) {
    append(local, static_cast<size_t>(n));
  } else if (n > 0) {  // too long for the local buffer: formatted in place
    reserve(static_cast<size_t>(n));
    vsnprintf(text_ + size_, static_cast<size_t>(n) + 1, fmt, again);
    size_ += static_cast<size_t>(n);
  }
  va_end(again);
}

void TextBuffer::clear() {
  size_ = 0;
  if (text_ != nullptr) text_[0] = '\0';
}

std::string string_printf(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list again;
  va_copy(again, ap);
  const int n = vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  vsnprintf(text.data(), text.size() + 1, fmt, again);
  va_end(again);
  return text;
}

}  // namespace bayescreen
