#include "support/strlist.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "support/toklist.h"
#include "support/helpers.h"

namespace bayescreen {

StringList *new_strlist() {
  auto *list = static_cast<StringList *>(mxalloc(sizeof(StringList)));
  list->batsize = 100;
  return list;
}

char *add_strlist(StringList *list, const char *text) {
  if (list == nullptr) return nullptr;
  if (static_cast<uint32_t>(list->nstr) >= static_cast<uint32_t>(list->nmax)) {
    list->nmax = list->nstr + list->batsize;
    list->strs = static_cast<char **>(rexxalloc(list->strs, sizeof(char *),
                                                static_cast<unsigned>(list->nstr),
                                                static_cast<unsigned>(list->nmax)));
  }
  char *copy = strxdup(text);
  list->strs[list->nstr++] = copy;
  return copy;
}

char *add_strprintf(StringList *list, char *buf, unsigned bufsize, const char *format, ...) {
  if (list == nullptr) return nullptr;
  va_list ap;
  va_start(ap, format);
  vsnprintf(buf, bufsize, format, ap);
  va_end(ap);
  return add_strlist(list, buf);
}

int num_strlist(const StringList *list) { return list == nullptr ? 0 : list->nstr; }

char *itm_strlist(const StringList *list, int32_t index) {
  if (list == nullptr || index < 0 || index >= list->nstr || list->strs == nullptr) return nullptr;
  return list->strs[index];
}

void free_strlist(StringList **handle) {
  if (handle == nullptr || *handle == nullptr) return;
  StringList *list = *handle;
  for (int32_t i = list->nstr - 1; i >= 0; i--) free(list->strs[i]);
  free(list->strs);
  free(list);
  *handle = nullptr;
}

void kill_strlist(StringList **handle) { free_strlist(handle); }

int prqtok_strlist(const char *title, const StringList *list, Printer printer) {
  if (list == nullptr) return 0;
  return prqtoklist(title, list->strs, list->nstr, printer);
}

}  // namespace bayescreen
