#include "cli/longopts.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace bayescreen {

void bad_long_value(const char *word, const char *why) {
  bprintf("\nILLEGAL VALUE in option `%s': %s !\n", word, why);
  exit(1);
}

namespace {

// The row whose name is the text of word between "--" and "=" (or the end).
LongOption *match(LongOption *table, const char *word, const char **value) {
  if (strncmp(word, "--", 2) != 0) return nullptr;
  const char *name = word + 2;
  const char *eq = strchr(name, '=');
  const size_t len = eq != nullptr ? static_cast<size_t>(eq - name) : strlen(name);
  for (LongOption *row = table; row->name != nullptr; row++)
    if (strlen(row->name) == len && strncmp(row->name, name, len) == 0) {
      *value = eq != nullptr ? eq + 1 : nullptr;
      return row;
    }
  return nullptr;
}

void read_value(LongOption *row, const char *word, const char *value) {
  char why[160];
  switch (row->kind) {
    case LongKind::Flag:
      if (value != nullptr) bad_long_value(word, "this option takes no value");
      if (row->target != nullptr) *static_cast<int32_t *>(row->target) = 1;
      return;
    case LongKind::Int: {
      if (value == nullptr || *value == '\0') bad_long_value(word, "a whole number must follow `='");
      char *end = nullptr;
      errno = 0;
      const long long v = strtoll(value, &end, 10);
      if (*end != '\0') bad_long_value(word, "not a whole number");
      if (errno == ERANGE || v < row->min || v > row->max) {
        snprintf(why, sizeof why, "must lie between %lld and %lld",
                 static_cast<long long>(row->min), static_cast<long long>(row->max));
        bad_long_value(word, why);
      }
      if (row->target != nullptr) *static_cast<int32_t *>(row->target) = static_cast<int32_t>(v);
      return;
    }
    case LongKind::Double: {
      if (value == nullptr || *value == '\0') bad_long_value(word, "a number must follow `='");
      char *end = nullptr;
      const double v = strtod(value, &end);
      if (*end != '\0') bad_long_value(word, "not a number");
      if (!std::isfinite(v)) bad_long_value(word, "the number must be finite");
      if (row->target != nullptr) *static_cast<double *>(row->target) = v;
      return;
    }
    case LongKind::Text:
      if (value == nullptr || *value == '\0') bad_long_value(word, "a value must follow `='");
      if (row->target != nullptr) *static_cast<const char **>(row->target) = value;
      return;
    case LongKind::OptionalText:
      if (value != nullptr && *value == '\0') bad_long_value(word, "a value must follow `='");
      if (row->target != nullptr) *static_cast<const char **>(row->target) = value;
      return;
  }
}

}  // namespace

void take_long_options(int *argc, char **argv, LongOption *table) {
  int kept = 1;
  for (int i = 1; i < *argc; i++) {
    const char *value = nullptr;
    LongOption *row = match(table, argv[i], &value);
    if (row == nullptr) {
      argv[kept++] = argv[i];
      continue;
    }
    read_value(row, argv[i], value);
    row->given = 1;
    row->word = argv[i];
  }
  if (kept < *argc) argv[kept] = nullptr;
  *argc = kept;
}

void show_long_options(const LongOption *table, Printer printer) {
  if (printer == nullptr) printer = printf;
  for (const LongOption *row = table; row->name != nullptr; row++) {
    std::string form = std::string("--") + row->name;
    if (row->kind == LongKind::OptionalText)
      form += std::string("[=") + row->value_name + "]";
    else if (row->kind != LongKind::Flag)
      form += std::string("=") + row->value_name;
    printer("  %-24s %s\n", form.c_str(), row->help);
  }
}

const char *given_long_options(const LongOption *table) {
  static std::string text;
  text.clear();
  for (const LongOption *row = table; row->name != nullptr; row++)
    if (row->given && row->in_report) text += std::string(" ") + row->word;
  return text.c_str();
}

LongOption *find_long_option(LongOption *table, const char *name) {
  for (LongOption *row = table; row->name != nullptr; row++)
    if (strcmp(row->name, name) == 0) return row;
  return nullptr;
}

}  // namespace bayescreen
