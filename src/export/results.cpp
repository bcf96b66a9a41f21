#include "export/results.h"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace bayescreen {

void ResultSink::printf(const char *fmt, ...) {
  char local[1024];
  va_list ap;
  va_start(ap, fmt);
  va_list again;
  va_copy(again, ap);
  const int n = vsnprintf(local, sizeof local, fmt, ap);
  va_end(ap);
  if (n < 0) {
    va_end(again);
    return;
  }
  if (static_cast<size_t>(n) < sizeof local) {
    va_end(again);
    write(local, static_cast<size_t>(n));
    return;
  }
  std::string text(static_cast<size_t>(n), '\0');
  vsnprintf(text.data(), text.size() + 1, fmt, again);
  va_end(again);
  put(text);
}

std::string valid_utf8(const std::string &text) {
  // The library's serializer replaces invalid bytes by U+FFFD; reading its
  // output back gives the text itself.
  const std::string quoted =
      nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  return nlohmann::json::parse(quoted).get<std::string>();
}

const char *column_label(const Design &design, int c) {
  if (c < 0 || c >= static_cast<int>(design.labels.size()) || design.labels[static_cast<size_t>(c)].empty())
    return nullptr;
  return design.labels[static_cast<size_t>(c)].c_str();
}

std::string factor_name(const Design &design, int c) {
  const char *text = column_label(design, c);
  if (text != nullptr) return valid_utf8(text);
  return factor_code(c);
}

bool append_number(std::string &out, double v) {
  if (!std::isfinite(v)) return false;
  char buf[32];
  const auto result = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, result.ptr);
  return true;
}

std::string effect_model_name(const EffectsResults &r, const EffectModel &m) {
  if (m.effects.empty()) return "(null)";
  std::string name;
  for (int32_t e : m.effects) {
    if (!name.empty()) name += ' ';
    name += r.effects[static_cast<size_t>(e)].name;
  }
  return name;
}

}  // namespace bayescreen
