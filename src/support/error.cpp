#include "support/error.h"

namespace bayescreen {

const char *Error::what() const noexcept {
  try {
    const size_t first = message_.find_first_not_of('\n');
    const size_t last = message_.find_last_not_of('\n');
    trimmed_ = first == std::string::npos ? std::string() : message_.substr(first, last - first + 1);
    return trimmed_.c_str();
  } catch (...) {
    return "error (no memory to describe it)";
  }
}

}  // namespace bayescreen
