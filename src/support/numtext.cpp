#include "support/numtext.h"

#include <strings.h>

#include <cctype>
#include <cstdlib>

namespace bayescreen {

bool scan_double(const char *text, double *value) {
  const char *start = text;
  while (isspace(static_cast<unsigned char>(*start))) start++;
  const char *body = start;
  if (*body == '+' || *body == '-') body++;
  const bool hex_prefix = body[0] == '0' && (body[1] == 'x' || body[1] == 'X');
  if (hex_prefix && !isxdigit(static_cast<unsigned char>(body[2])) && body[2] != '.') return false;
  if (strncasecmp(body, "infi", 4) == 0 && strncasecmp(body, "infinity", 8) != 0) return false;
  char *end = nullptr;
  const double read = strtod(start, &end);
  if (end == start) return false;
  *value = read;
  return true;
}

std::string grouped_count(uint64_t n) {
  const std::string digits = std::to_string(n);
  std::string out;
  for (size_t i = 0; i < digits.size(); i++) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

}  // namespace bayescreen
